#include <gtest/gtest.h>

#include <set>

#include "app/LangUnit.h"
#include "util/TextCodec.h"

using namespace langunit;

TEST(LangUnit, TheCurrentLanguageChoosesTheTableAndOutOfRangeLeavesTextAlone)
{
    const int saved = CurrentLanguage();
    // One text a user sees in each language: the tables are not mixed up.
    for (const auto &[lang, text] : std::vector<std::pair<int, const char *>>{
             {LangEnglish, "All drives"}, {LangSlovak, "Všetky médiá"}, {LangCzech, "Všechny media"}}) {
        SetCurrentLanguage(lang);
        EXPECT_EQ(LangString(53), text) << lang;
    }
    std::string text = "kept";
    SetCurrentLanguage(5);
    GetLangString(53, text);
    SetCurrentLanguage(LangEnglish);
    GetLangString(0, text);
    GetLangString(LangStringCount + 1, text);
    EXPECT_EQ(text, "kept");
    GetLangString(74, text);
    EXPECT_EQ(text, "Find");
    SetCurrentLanguage(saved);
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
