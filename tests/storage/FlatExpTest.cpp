// The filter language's parser, name resolution, evaluation and LIKE masks.
#include "storage/FlatExp.h"
#include "storage/FlatTblStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A one-record table for the conditions: named fields of engine types with a
// value each. Comparisons follow the engine's order for the types used here.
struct Host : TFlatFilterHost {
    struct Col { std::string name; int type; TVariant value; };
    std::vector<Col> cols;

    int FieldIndex(const std::string &name) const override {
        for (size_t i = 0; i < cols.size(); ++i)
            if (cols[i].name == name) return static_cast<int>(i);
        return -1;
    }
    int FieldTypeCode(int i) const override { return cols[static_cast<size_t>(i)].type; }
    TVariant FieldValue(int i) override { return cols[static_cast<size_t>(i)].value; }
    static int cmp(const TVariant &a, const TVariant &b) {
        if (std::holds_alternative<std::string>(a)) {
            const auto &x = std::get<std::string>(a);
            const auto &y = std::get<std::string>(b);
            return x < y ? -1 : x > y;
        }
        const auto x = std::get<std::int64_t>(a), y = std::get<std::int64_t>(b);
        return x < y ? -1 : x > y;
    }
    int CompareFields(int a, int b, bool) override { return cmp(FieldValue(a), FieldValue(b)); }
    int CompareWithText(int i, const std::string &text, bool) override {
        const TVariant v = FieldValue(i);
        if (std::holds_alternative<std::string>(v)) return cmp(v, text);
        return cmp(v, static_cast<std::int64_t>(std::atoll(text.c_str())));
    }
};

bool keeps(const std::string &filter, Host &host) {
    auto conds = ParseFilterText(filter);
    ResolveConditions(conds, host);
    return MeetsConditions(conds, host, false);
}

std::pair<std::string, int> parseError(const std::string &filter) {
    try { ParseFilterText(filter); } catch (const EFlatParseError &e) { return {e.what(), e.Position}; }
    return {"no error", 0};
}

bool like(const std::string &text, const std::string &mask) { return TFlatMask(mask).Matches(text); }

} // namespace

TEST(FlatExpParse, ConditionsWithQualifiersAndNegativeNumbers) {
    const auto c = ParseFilterText("t.Size > -100 AND Name LIKE 'ab%' AND \"Other\" = u.Field GROUP BY Name");
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].FieldTable, "t");
    EXPECT_EQ(c[0].FieldName, "Size");
    EXPECT_EQ(c[0].Operator, TFlatOperator::opGreater);
    EXPECT_EQ(c[0].Value, "-100");
    EXPECT_EQ(c[0].ValueKind, tkNumber);
    EXPECT_EQ(c[1].Operator, TFlatOperator::opLike);
    EXPECT_EQ(c[1].Value, "ab%");
    EXPECT_EQ(c[2].FieldKind, tkQuoted);
    EXPECT_EQ(c[2].ValueTable, "u");
    EXPECT_EQ(c[2].Value, "Field");
    EXPECT_TRUE(ParseFilterText("   ").empty());

    const auto tokens = TFlatParser::Tokenize("a = 1 GROUP BY a");
    std::vector<TFlatCondition> out;
    EXPECT_EQ(ParseWhere(tokens, 0, out), 3u) << "GROUP BY ends the list";
}

TEST(FlatExpParse, ErrorsInComparisons) {
    // Only AND joins; an error at the end is just past the last token; '-' only before a number.
    const std::pair<const char *, int> cases[] = {{"a = 1 OR b = 2", 7}, {"a = ", 4}, {"a 5", 3}, {"= 5", 1},
                                                  {"a = 1 AND", 10}, {"a = + 1", 5}, {"a = - b", 5},
                                                  {"a SELECT 1", 3}, {"a = (1)", 5}};
    for (const auto &[text, pos] : cases)
        EXPECT_EQ(parseError(text), std::make_pair(std::string("Error in comparison expression"), pos)) << text;
}

TEST(FlatExpEval, RangeOnAnIntegerField) {
    Host h;
    h.cols = {{"Size", fftInteger, std::int64_t{0}}};
    std::vector<std::int64_t> kept;
    auto conds = ParseFilterText("Size > 100 AND Size <= 200");
    ResolveConditions(conds, h);
    for (std::int64_t v : {99, 100, 101, 150, 200, 201}) {
        h.cols[0].value = v;
        if (MeetsConditions(conds, h, false)) kept.push_back(v);
    }
    EXPECT_EQ(kept, (std::vector<std::int64_t>{101, 150, 200}));
}

TEST(FlatExpEval, OperatorsNegativesFieldsAndStarEqual) {
    Host h;
    h.cols = {{"A", fftInteger, std::int64_t{-5}}, {"B", fftInteger, std::int64_t{-5}},
              {"C", fftInteger, std::int64_t{7}}, {"S", fftSmallStr, std::string("x")}};
    EXPECT_TRUE(keeps("A = -5", h));
    EXPECT_FALSE(keeps("A = 5", h));
    EXPECT_TRUE(keeps("A = B AND A <> C AND C >= 7 AND A < C", h)) << "a field on both sides";
    EXPECT_TRUE(keeps("A = 'B'", h)) << "a quoted name of a field is that field";
    EXPECT_TRUE(keeps("S = 'x'", h)) << "otherwise a quoted text is a constant";
    EXPECT_TRUE(keeps("C *= 0", h)) << "every record meets *=";
    EXPECT_TRUE(keeps("S <= 'x' AND S > 'w'", h));
}

TEST(FlatExpResolve, NameAndTypeFailures) {
    Host h;
    h.cols = {{"A", fftInteger, std::int64_t{1}}, {"S", fftSmallStr, std::string("x")}};
    auto conds = ParseFilterText("A = 1 AND Missing = 2");
    try {
        ResolveConditions(conds, h);
        FAIL();
    } catch (const EFlatParseError &e) {
        EXPECT_STREQ(e.what(), "Field Missing is not found");
        EXPECT_EQ(e.Position, 11);
    }
    EXPECT_EQ(conds[0].FieldIndex, -1) << "a failed resolution changes nothing";
    conds = ParseFilterText("A = Nope");
    EXPECT_THROW(ResolveConditions(conds, h), EFlatParseError);
    conds = ParseFilterText("A = S");
    try {
        ResolveConditions(conds, h);
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_STREQ(e.what(), "Types of compared fields are not equal");
    }
}

TEST(FlatExpEval, LikeOnTextsAndOtherTypes) {
    Host h;
    h.cols = {{"Name", fftString, std::string("ABcdef")},
              {"Flag", fftBoolean, true},
              {"Pic", fftGraphic, std::string("\x89PNG")},
              {"Mask", fftSmallStr, std::string("ab%")}};
    EXPECT_TRUE(keeps("Name LIKE 'ab%'", h)) << "two letters and % keep any letter case";
    EXPECT_FALSE(keeps("Name LIKE 'bc%'", h));
    EXPECT_TRUE(keeps("Flag LIKE 'Y%'", h));
    EXPECT_TRUE(keeps("Pic LIKE 'Not Found'", h));
    EXPECT_TRUE(keeps("Name LIKE Mask", h)) << "another field's value is the mask";
}

TEST(FlatExpEval, ValueTexts) {
    // An empty date is empty text.
    const struct { TVariant v; int type; const char *text; } cases[] = {
        {std::int64_t{-42}, fftInt64, "-42"}, {false, fftBoolean, "No"}, {1.5, fftDouble, "1.5"}, {2.0, fftCurrency, "2"},
        {0.12345678, fftDouble, "0.123457"}, {-0.0000001, fftDouble, "0"}, {TVariant{}, fftDate, ""},
        {std::string("memo text"), fftMemo, "memo text"}, {std::string("bytes"), fftBlob, "Not Found"}};
    for (const auto &c : cases)
        EXPECT_EQ(FlatValueText(c.v, c.type), c.text) << c.text;
}

// LIKE as SQL engines answer it on ASCII (without escapes).
TEST(FlatMask, SqlLikeCases) {
    struct Case { const char *text, *mask; bool match; };
    const Case cases[] = {
        {"abc", "abc", true},       {"abc", "ABC", true},        {"abc", "ab", false},
        {"ab", "abc", false},       {"abc", "a%", true},         {"abc", "%c", true},
        {"abc", "%b%", true},       {"abc", "a_c", true},        {"abc", "a_", false},
        {"abc", "%", true},         {"", "%", true},             {"", "_", false},
        {"", "", true},             {"a", "", false},            {"a", "a%_", false},
        {"ab", "a%_", true},        {"abcabc", "%abc", true},    {"aXbXc", "a%b%c", true},
        {"ac", "a%b%c", false},     {"mississippi", "%iss%ipp%", true},
        {"mississippi", "m%ss%ss%i", true}, {"mississippi", "m%ss%ss%ss%", false}, {"%", "%", true},  {"abc", "a%%c", true},
        {"abc", "*B?", true},       {"abc", "a__", true},        {"abc", "____", false},
        {"aaa", "%a%a%a%", true},   {"aa", "%a%a%a%", false},    {"x.y", "%.%", true},
    };
    for (const Case &c : cases) EXPECT_EQ(like(c.text, c.mask), c.match) << c.text << " LIKE " << c.mask;
}

TEST(FlatMask, CharactersBeyondAscii) {
    EXPECT_TRUE(like("\xC4\x8C" "AJ", "\xC4\x8D_j"));  // "ČAJ" LIKE "č_j"
    EXPECT_TRUE(like("\xC3\xA9" "a", "_a")) << "'_' is one character, not one byte";
    EXPECT_FALSE(like("\xC3\xA9" "a", "__a"));
}

TEST(FlatMask, RunLimit) {
    std::string thirty, thirtyOne;
    for (int i = 0; i < 30; ++i) thirty += "%a";
    thirtyOne = thirty + "%a";
    EXPECT_NO_THROW(TFlatMask{thirty});
    try {
        TFlatMask m(thirtyOne);
        FAIL();
    } catch (const EFlatMaskError &e) {
        EXPECT_EQ(std::string(e.what()), "'" + thirtyOne + "' is an invalid mask at (61)");
    }
    EXPECT_THROW(TFlatMask{thirty + "%"}, EFlatMaskError) << "a trailing run counts too";
    EXPECT_NO_THROW(TFlatMask{"%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%x"}) << "adjacent %s are one run";
}

TEST(FlatMask, ManyRunsOnLongTextStillAnswer) {
    // A mask that sends a backtracking matcher through every combination.
    std::string mask;
    for (int i = 0; i < 29; ++i) mask += "%a";
    mask += "%b";
    const std::string text(20000, 'a');
    EXPECT_FALSE(like(text, mask));
    EXPECT_TRUE(like(text + "b", mask));
}
