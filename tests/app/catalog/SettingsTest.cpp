// The settings file: defaults, values out of range, other sections and lines
// kept, and a file read back as it was written, whatever marks it begins with.
#include <gtest/gtest.h>

#include <map>

#include "app/catalog/IniFile.h"
#include "app/catalog/Settings.h"
#include "support/TempDir.h"

TEST(Settings, MissingFileOrEmptySetup1GivesTheDefaults)
{
    orbtest::TempDir dir;
    TSettings defaults;
    ApplyDefaultSettings(defaults);
    for (const char *text : {"", "[CatalogSettings]\r\nSetup1=\r\nSetup7=300\r\nSetup_Text3=Music\r\n"}) {
        SCOPED_TRACE(text);
        const std::string f = *text ? dir.write("cat.ini", text) : dir.file("cat.ini");
        TSettings s;
        EXPECT_TRUE(ReadSettingsFile(f, s).defaultsOnly);
        EXPECT_EQ(s.Setup, defaults.Setup);
        EXPECT_EQ(s.SetupText, defaults.SetupText);
    }
}

TEST(Settings, MissingKeysKeepTheirDefaultsAndOldCodePageValuesAreDecoded)
{
    orbtest::TempDir dir;
    // No Setup7: the search limit must not become 0, nor the next section's value.
    const std::string f = dir.write("cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup_Text4=Hudba \xE8\n"
                                               "[Other]\nSetup7=300\n");
    TSettings s;
    EXPECT_FALSE(ReadSettingsFile(f, s).defaultsOnly);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[7], 1000);
    EXPECT_EQ(s[12], 1);
    // A missing text is empty, but for the CDDB server, without which no lookup could run.
    EXPECT_EQ(s.SetupText[1], "");
    EXPECT_EQ(s.SetupText[2], DefaultCddbServer);
    EXPECT_EQ(s.SetupText[4], "Hudba č");
}

TEST(Settings, NonNumericValuesAreIgnoredAndRangesClamped)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini", "[CatalogSettings]\nSetup1=2\nSetup6=abc\nSetup7=99999999999\n"
                                               "Setup8= 900 \nSetup11=9\nSetup18=0\nSetup25=-5\nSetup9=12x\n");
    TSettings s;
    auto r = ReadSettingsFile(f, s);
    // 6: not a number, 7: beyond 32 bits, 11 and 18 clamped, 25 unused and so without a range.
    const std::map<int, int> expected = {{1, 2}, {6, 1000}, {7, 1000}, {8, 900}, {9, 525}, {11, 3}, {18, 1}, {25, -5}};
    for (const auto &[key, value] : expected)
        EXPECT_EQ(s[key], value) << "Setup" << key;
    EXPECT_EQ(r.ignoredKeys, (std::vector<std::string>{"Setup6", "Setup7", "Setup9"}));
    EXPECT_EQ(r.clampedKeys, (std::vector<std::string>{"Setup11", "Setup18"}));
    // Each with its stored text and the value used instead, in key order.
    std::vector<std::string> bad;
    for (const TBadSetting &b : r.badValues)
        bad.push_back(b.key + "=" + b.stored + ">" + std::to_string(b.used));
    EXPECT_EQ(bad, (std::vector<std::string>{"Setup6=abc>1000", "Setup7=99999999999>1000", "Setup9=12x>525",
                                             "Setup11=9>3", "Setup18=0>1"}));
    // The pause and the search limit take any number, as the setup dialog does.
    const std::string f2 = dir.write("cat2.ini", "[CatalogSettings]\nSetup1=0\nSetup6=5\nSetup7=20000\n");
    EXPECT_TRUE(ReadSettingsFile(f2, s).badValues.empty());
    EXPECT_EQ(std::pair(s[6], s[7]), std::pair(5, 20000));
}

TEST(Settings, SaveKeepsOtherSectionsAndLines)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini", "; kept comment\r\n[Other]\r\nA=1\r\n\r\n[catalogsettings]\r\n"
                                               "SETUP1=2\r\nUnknown=x\r\n\r\n[Tail]\r\nB=2\r\nSetup7=5\r\n");
    TSettings s;
    ReadSettingsFile(f, s);
    s[7] = 2500;
    s.SetupText[4] = "Hudba č";
    ASSERT_TRUE(WriteSettingsFile(f, s));
    const std::string text = orbtest::readFile(f);
    EXPECT_EQ(text.find("; kept comment\r\n[Other]\r\nA=1\r\n"), 0u);
    EXPECT_NE(text.find("SETUP1=2\r\nUnknown=x\r\nSetup2=0\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Tail]\r\nB=2\r\nSetup7=5\r\n"), std::string::npos) << "another section's key is not ours";
    EXPECT_FALSE(std::filesystem::exists(f + ".tmp"));
    TIniFile ini(f);
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("Other", "a", ""), "1");
    EXPECT_EQ(ini.ReadSection("CatalogSettings").size(), 35u); // 34 keys and the unknown one
    TSettings again;
    ReadSettingsFile(f, again);
    EXPECT_EQ(again.Setup, s.Setup);
    EXPECT_EQ(again.SetupText, s.SetupText);
}

TEST(Settings, ColourPairs)
{
    TColourPair p{};
    ASSERT_TRUE(ColourPairOf(2, &p));
    EXPECT_EQ(p.frame, 0xD2C6C2u);
    EXPECT_EQ(p.background, 0xF5F1F0u);
    ASSERT_TRUE(ColourPairOf(0, &p));
    EXPECT_EQ(p.frame, clInactiveCaption);
    EXPECT_FALSE(ColourPairOf(4, &p));
    EXPECT_FALSE(ColourPairOf(-1, &p));
}

TEST(SettingsRoundTrip, FileBeginningWithByteOrderMarksIsReadAndWrittenBackUnchanged)
{
    orbtest::TempDir dir;
    for (int marks = 1; marks <= 3; ++marks) {
        SCOPED_TRACE(marks);
        std::string text;
        for (int i = 0; i < marks; ++i)
            text += "\xEF\xBB\xBF";
        text += "[CatalogSettings]\r\n";
        // Every value within its range, so none is brought into it.
        const std::map<int, std::string> values = {{1, "0"}, {6, "1000"}, {7, "300"}, {8, "742"}, {9, "525"}, {18, "4"}};
        for (int i = 1; i <= 30; ++i)
            text += "Setup" + std::to_string(i) + "=" + (values.count(i) ? values.at(i) : "1") + "\r\n";
        text += "Setup_Text1=8080\r\nSetup_Text2=cddb.example\r\nSetup_Text3=Music\r\nSetup_Text4=Films\r\n";
        const std::string file = dir.write("cat.ini", text);
        TSettings s;
        EXPECT_FALSE(ReadSettingsFile(file, s).defaultsOnly);
        EXPECT_EQ(s[7], 300);
        EXPECT_EQ(s.SetupText[4], "Films");
        ASSERT_TRUE(WriteSettingsFile(file, s));
        // No second section: what was read is written back as it stood.
        EXPECT_EQ(orbtest::readFile(file), text);
        TIniFile ini(file);
        ASSERT_TRUE(ini.Load());
        EXPECT_EQ(ini.ReadString("CatalogSettings", "Setup_Text3", ""), "Music");
    }
}
