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

TEST(LangUnit, KnownStringsInEachLanguage)
{
    LanguageGuard guard;
    SetCurrentLanguage(LangEnglish);
    EXPECT_EQ(LangString(53), "All drives");
    EXPECT_EQ(LangString(1), "properties");
    EXPECT_EQ(LangString(45), "active archive");
    EXPECT_EQ(LangString(105), "The file with your user\u00b4s settings is probably defective. Orbalist software will now "
                               "load the standard tree-distribution.");
    EXPECT_EQ(LangString(18), "Setting archive name (e.g . DuzuvozER), and click to \"OK\"");
    EXPECT_EQ(LangString(137), " Orbalist converts your data files into new format now.");
    EXPECT_EQ(LangString(145), "No data available for this CD ");
    EXPECT_EQ(LangString(153), "File:");
    SetCurrentLanguage(LangSlovak);
    EXPECT_EQ(LangString(53), "Všetky médiá");
    EXPECT_EQ(LangString(14), "Nový archív");
    EXPECT_EQ(LangString(20), "Načítať");
    EXPECT_EQ(LangString(45), "aktívny archív");
    EXPECT_EQ(LangString(66), "Nenašiel som nijaké súbory.");
    EXPECT_EQ(LangString(67), "Chyba!");
    EXPECT_EQ(LangString(145), "K tomuto CD nie sú k dispozícii nijaké dáta");
    SetCurrentLanguage(LangCzech);
    EXPECT_EQ(LangString(53), "Všechny media");
    EXPECT_EQ(LangString(14), "Nový archiv");
    EXPECT_EQ(LangString(20), "Načíst");
    EXPECT_EQ(LangString(45), "aktivní archiv");
    EXPECT_EQ(LangString(66), "Nenašel jsem žádné soubory.");
    EXPECT_EQ(LangString(67), "Chyba!");
    EXPECT_EQ(LangString(145), "K tomuto CD nejsou k dispozici žádná data");
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
