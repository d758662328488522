#include <gtest/gtest.h>

#include <set>

#include "app/LangUnit.h"
#include "util/TextCodec.h"

using namespace langunit;

namespace {
struct LanguageGuard {
    int saved = CurrentLanguage();
    ~LanguageGuard() { SetCurrentLanguage(saved); }
};
} // namespace

TEST(LangUnit, TheCurrentLanguageChoosesTheTable)
{
    // One text a user sees in each language: the tables are not mixed up.
    LanguageGuard guard;
    const std::pair<int, const char *> allDrives[] = {
        {LangEnglish, "All drives"}, {LangSlovak, "Všetky médiá"}, {LangCzech, "Všechny media"}};
    for (const auto &[lang, text] : allDrives) {
        SetCurrentLanguage(lang);
        EXPECT_EQ(LangString(53), text) << lang;
    }
}

TEST(LangUnit, EveryStringIsPresentAndValid)
{
    const std::set<int> unused = {30, 31, 32, 33, 65};
    for (int lang : {LangEnglish, LangSlovak, LangCzech})
        for (int n = 1; n <= LangStringCount; ++n) {
            const std::string s = LangStringOf(lang, n);
            EXPECT_TRUE(IsValidUtf8(s)) << lang << " " << n;
            EXPECT_EQ(s.empty(), unused.count(n) == 1) << lang << " " << n;
        }
}

TEST(LangUnit, OutOfRangeLeavesTextAlone)
{
    LanguageGuard guard;
    std::string text = "kept";
    SetCurrentLanguage(5);
    GetLangString(53, text);
    EXPECT_EQ(text, "kept");
    SetCurrentLanguage(LangEnglish);
    GetLangString(0, text);
    GetLangString(154, text);
    EXPECT_EQ(text, "kept");
    GetLangString(74, text);
    EXPECT_EQ(text, "Find");
}
