// The settings file reads back what it wrote, whatever marks it begins with.
#include <gtest/gtest.h>

#include <map>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "support/TempDir.h"

TEST(SettingsRoundTrip, FileBeginningWithByteOrderMarksIsReadAndWrittenBackUnchanged)
{
    orbtest::TempDir dir;
    const std::string bom = "\xEF\xBB\xBF";
    for (int marks = 1; marks <= 3; ++marks) {
        SCOPED_TRACE(marks);
        std::string text;
        for (int i = 0; i < marks; ++i)
            text += bom;
        text += "[CatalogSettings]\r\n";
        // Every value within its range, so none is brought into it.
        const std::map<int, std::string> values = {{1, "0"}, {6, "1000"}, {7, "300"}, {8, "742"}, {9, "525"}, {18, "4"}};
        for (int i = 1; i <= 30; ++i)
            text += "Setup" + std::to_string(i) + "=" + (values.count(i) ? values.at(i) : "1") + "\r\n";
        text += "Setup_Text1=8080\r\nSetup_Text2=cddb.example\r\nSetup_Text3=Music\r\nSetup_Text4=Films\r\n";
        const std::string file = dir.write("cat.ini", text);
        TSettings s;
        const TSettingsReadResult r = ReadSettingsFile(file, s);
        EXPECT_FALSE(r.defaultsOnly);
        EXPECT_EQ(s[1], 0);
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
