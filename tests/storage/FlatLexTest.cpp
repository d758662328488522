// The filter language's tokenizer: token kinds and the errors with their
// positions.
#include "storage/FlatLex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<int> kinds(const std::string &text) {
    std::vector<int> out;
    for (const auto &t : TFlatParser::Tokenize(text)) out.push_back(t.Kind);
    return out;
}

// The message and position of the tokenizing error of `text`.
std::pair<std::string, int> errorOf(const std::string &text) {
    try {
        TFlatParser::Tokenize(text);
    } catch (const EFlatParseError &e) {
        return {e.what(), e.Position};
    }
    return {"no error", 0};
}

} // namespace

TEST(FlatLexTokens, KindsTextsAndPositions) {
    const auto tokens = TFlatParser::Tokenize("  t.Name = 'it''s' and Size >= 12.5 or x <> \"a\"  ");
    ASSERT_EQ(tokens.size(), 13u);
    EXPECT_EQ(tokens[0].Text, "t");
    EXPECT_EQ(tokens[0].Kind, tkIdentifier);
    EXPECT_EQ(tokens[0].Pos, 3);
    EXPECT_EQ(tokens[1].Kind, tkDot);
    EXPECT_EQ(tokens[2].Text, "Name") << "identifiers keep their case";
    EXPECT_EQ(tokens[3].Kind, tkComparison);
    EXPECT_EQ(tokens[4].Text, "it's") << "a doubled quote stands for one";
    EXPECT_EQ(tokens[4].Kind, tkQuoted);
    EXPECT_EQ(tokens[5].Text, "AND") << "reserved words are upper-cased";
    EXPECT_EQ(tokens[5].Kind, tkLogical);
    EXPECT_EQ(tokens[7].Text, ">=");
    EXPECT_EQ(tokens[8].Text, "12.5");
    EXPECT_EQ(tokens[8].Kind, tkNumber);
    EXPECT_EQ(tokens[9].Kind, tkLogical);
    EXPECT_EQ(tokens[11].Text, "<>");
    EXPECT_EQ(tokens[12].Text, "a");
    EXPECT_EQ(tokens[12].Pos, 45);
}

TEST(FlatLexTokens, ReservedWordsSymbolsAndNumbers) {
    EXPECT_EQ(kinds("null True FALSE like Select"),
              (std::vector<int>{tkNull, tkTrue, tkFalse, tkReserved, tkReserved}));
    EXPECT_EQ(kinds("* *= + - / , ( )"),
              (std::vector<int>{tkStar, tkComparison, tkArithmetic, tkArithmetic, tkArithmetic, tkComma,
                                tkOpenParen, tkCloseParen}));
    const auto date = TFlatParser::Tokenize("2001-01-31");
    ASSERT_EQ(date.size(), 1u) << "a number may hold '-' and the decimal separator";
    EXPECT_EQ(date[0].Text, "2001-01-31");
    EXPECT_EQ(kinds("a=1"), (std::vector<int>{tkIdentifier, tkComparison, tkNumber}));
    EXPECT_EQ(kinds("_x z$1"), (std::vector<int>{tkIdentifier, tkIdentifier}));
    EXPECT_EQ(kinds("\xC4\x8D\x61j = 1").front(), tkIdentifier) << "letters beyond ASCII";
    EXPECT_TRUE(TFlatParser::Tokenize(" \t\r\n ").empty());
}

TEST(FlatLexTokens, AggregateFunctionsSwallowTheirParentheses) {
    const auto t = TFlatParser::Tokenize("count(t.x) = 3");
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0].Kind, tkCount);
    EXPECT_EQ(t[1].Kind, tkIdentifier);
    EXPECT_EQ(t[2].Kind, tkDot);
    EXPECT_EQ(t[4].Kind, tkComparison) << "the function's ')' is no token";
    EXPECT_EQ(kinds("SUM(a) MAX(a) MIN(a) AVG(a)"),
              (std::vector<int>{tkSum, tkIdentifier, tkMax, tkIdentifier, tkMin, tkIdentifier, tkAvg, tkIdentifier}));
    EXPECT_EQ(kinds("SUM (a)"), (std::vector<int>{tkReserved, tkOpenParen, tkIdentifier, tkCloseParen}))
        << "only a directly following '(' makes a function";
}

TEST(FlatLexErrors, MessagesAndPositions) {
    EXPECT_EQ(errorOf("a = 'abc"), std::make_pair(std::string("Unmatched quote"), 5));
    EXPECT_EQ(errorOf("a = 'abc\""), std::make_pair(std::string("Unmatched quote"), 5))
        << "the closing quote must match the opening one";
    EXPECT_EQ(errorOf("a = 12ab"), std::make_pair(std::string("Token 12a is invalid number"), 5));
    EXPECT_EQ(errorOf("a = @b"),
              std::make_pair(std::string("Invalid symbol in parameter/identificator/reserved word"), 5));
    EXPECT_EQ(errorOf("$abc = 1"), std::make_pair(std::string("Parameter $abc is not valid identifier"), 1));
    EXPECT_EQ(errorOf("WHERE(a)"), std::make_pair(std::string("Unsupported function WHERE in query"), 1));
    EXPECT_EQ(errorOf("x = SUM(a+b)"),
              std::make_pair(std::string("Symbol + is not supported in aggregate function argument"), 10));
    EXPECT_EQ(errorOf("(a = 1"), std::make_pair(std::string("Unmatched parentheses"), 1));
    EXPECT_EQ(errorOf("a = 1)"), std::make_pair(std::string("Unmatched parentheses"), 6));
    EXPECT_EQ(errorOf("COUNT(a"), std::make_pair(std::string("Unmatched parentheses"), 6));
    EXPECT_EQ(errorOf("(a) = (1)").first, "no error");
}
