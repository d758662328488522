#include <gtest/gtest.h>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "support/TempDir.h"

TEST(Settings, MissingFileGivesDefaults)
{
    orbtest::TempDir dir;
    TSettings s;
    auto r = ReadSettingsFile(dir.file("cat.ini"), s);
    EXPECT_TRUE(r.defaultsOnly);
    EXPECT_EQ(s[1], 1);
    EXPECT_EQ(s[6], 1000);
    EXPECT_EQ(s[7], 1000);
    EXPECT_EQ(s[8], 742);
    EXPECT_EQ(s[9], 525);
    EXPECT_EQ(s[13], 1);
    EXPECT_EQ(s[18], 4);
    EXPECT_EQ(s[20], 1);
    EXPECT_EQ(s.SetupText[1], "80");
    EXPECT_EQ(s.SetupText[2], DefaultCddbServer);
}

TEST(Settings, EmptySetup1GivesDefaultsEvenWithOtherKeys)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini", "[CatalogSettings]\r\nSetup1=\r\nSetup7=300\r\nSetup_Text3=Music\r\n");
    TSettings s;
    auto r = ReadSettingsFile(f, s);
    EXPECT_TRUE(r.defaultsOnly);
    EXPECT_EQ(s[7], 1000);
    EXPECT_EQ(s.SetupText[3], "");
}

TEST(Settings, MissingKeysKeepTheirDefaults)
{
    orbtest::TempDir dir;
    // No Setup7: the search limit must not become 0, nor the next section's value.
    const std::string f = dir.write("cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup_Text4=Music\n"
                                               "[Other]\nSetup7=300\n");
    TSettings s;
    auto r = ReadSettingsFile(f, s);
    EXPECT_FALSE(r.defaultsOnly);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[7], 1000);
    EXPECT_EQ(s[12], 1);
    EXPECT_EQ(s.SetupText[1], "80");
    EXPECT_EQ(s.SetupText[4], "Music");
}

TEST(Settings, NonNumericValuesAreIgnoredAndRangesClamped)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini",
        "[CatalogSettings]\nSetup1=2\nSetup6=abc\nSetup7=99999999999\nSetup8= 900 \nSetup11=9\n"
        "Setup18=0\nSetup25=-5\nSetup9=12x\n");
    TSettings s;
    auto r = ReadSettingsFile(f, s);
    EXPECT_EQ(s[1], 2);
    EXPECT_EQ(s[6], 1000);  // not a number
    EXPECT_EQ(s[7], 1000);  // beyond 32 bits
    EXPECT_EQ(s[8], 900);
    EXPECT_EQ(s[9], 525);
    EXPECT_EQ(s[11], 3);    // clamped
    EXPECT_EQ(s[18], 1);    // clamped
    EXPECT_EQ(s[25], -5);   // unused settings have no range
    EXPECT_EQ(r.ignoredKeys, (std::vector<std::string>{"Setup6", "Setup7", "Setup9"}));
    EXPECT_EQ(r.clampedKeys, (std::vector<std::string>{"Setup11", "Setup18"}));
}

TEST(Settings, SaveKeepsOtherSectionsAndLines)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini",
        "; kept comment\r\n[Other]\r\nA=1\r\n\r\n[catalogsettings]\r\nSETUP1=2\r\nUnknown=x\r\n\r\n[Tail]\r\nB=2\r\n"
        "Setup7=5\r\n");
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

TEST(Settings, NewFileHasTheKeysInOrder)
{
    orbtest::TempDir dir;
    TSettings s;
    ApplyDefaultSettings(s);
    ASSERT_TRUE(WriteSettingsFile(dir.file("cat.ini"), s));
    const std::string text = orbtest::readFile(dir.file("cat.ini"));
    EXPECT_EQ(text.rfind("[CatalogSettings]\r\nSetup1=1\r\nSetup2=0\r\n", 0), 0u);
    EXPECT_LT(text.find("Setup30=0"), text.find("Setup_Text1=80"));
    EXPECT_NE(text.find("Setup_Text4=\r\n"), std::string::npos);
}

TEST(Settings, OldCodePageValuesAreDecoded)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("cat.ini", "[CatalogSettings]\nSetup1=1\nSetup_Text4=Hudba \xE8\n");
    TSettings s;
    ReadSettingsFile(f, s);
    EXPECT_EQ(s.SetupText[4], "Hudba č");
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
