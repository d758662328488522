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
    try { TFlatParser::Tokenize(text); } catch (const EFlatParseError &e) { return {e.what(), e.Position}; }
    return {"no error", 0};
}

} // namespace

TEST(FlatLexTokens, KindsTextsAndPositions) {
    const auto tokens = TFlatParser::Tokenize("  t.Name = 'it''s' and Size >= 12.5 or x <> \"a\"  ");
    ASSERT_EQ(tokens.size(), 13u);
    // Identifiers keep their case, a doubled quote stands for one, reserved words are upper-cased.
    const struct { size_t i; int kind; const char *text; } want[] = {
        {0, tkIdentifier, "t"}, {1, tkDot, nullptr},     {2, tkIdentifier, "Name"}, {3, tkComparison, nullptr},
        {4, tkQuoted, "it's"},  {5, tkLogical, "AND"},   {7, tkComparison, ">="},   {8, tkNumber, "12.5"},
        {9, tkLogical, nullptr}, {11, tkComparison, "<>"}, {12, tkQuoted, "a"}};
    for (const auto &w : want) {
        EXPECT_EQ(tokens[w.i].Kind, w.kind) << w.i;
        EXPECT_TRUE(!w.text || tokens[w.i].Text == w.text) << w.i << ": " << tokens[w.i].Text;
    }
    EXPECT_EQ(tokens[0].Pos, 3);
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
    // The closing quote must match the opening one.
    const struct { const char *text, *error; int pos; } cases[] = {
        {"a = 'abc", "Unmatched quote", 5}, {"a = 'abc\"", "Unmatched quote", 5},
        {"a = 12ab", "Token 12a is invalid number", 5},
        {"a = @b", "Invalid symbol in parameter/identificator/reserved word", 5},
        {"$abc = 1", "Parameter $abc is not valid identifier", 1}, {"WHERE(a)", "Unsupported function WHERE in query", 1},
        {"x = SUM(a+b)", "Symbol + is not supported in aggregate function argument", 10},
        {"(a = 1", "Unmatched parentheses", 1}, {"a = 1)", "Unmatched parentheses", 6}, {"COUNT(a", "Unmatched parentheses", 6}};
    for (const auto &c : cases)
        EXPECT_EQ(errorOf(c.text), std::make_pair(std::string(c.error), c.pos)) << c.text;
    EXPECT_EQ(errorOf("(a) = (1)").first, "no error");
}
