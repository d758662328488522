// Archive members in the scan: real zip, cabinet and RAR archives on a folder
// bound to a drive letter, each listing switched on and off, and damaged
// archives among good files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/CatalogTables.h"
#include "app/Main.h"
#include "app/MainScan.h"
#include "archive/RarWriter.h"
#include "platform/Prompt.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"
#include "support/TempDir.h"
#include "util/BaseDateTime.h"

// The RAR fixture writer of the archive tests, built into this program too.
#include "archive/RarWriter.cpp"

#include "ArchiveTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct Rec {
    std::string path, name, size, created;
    int type;
    bool attribNull;
};

class ArchiveScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup6=1\nSetup20=1\nSetup_Text4=Music\n");
        // The catalogue the settings name exists (empty).
        OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
        OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
        disc = dir.file("disc");
        dir.write("src/docs/readme.txt", "read me please");
        dir.write("src/b.bin", std::string(1000, 'b'));
        fs::create_directories(disc + "/sub");
        Run("cd '" + dir.file("src") + "' && zip -qr '" + disc + "/sub/a.zip' docs b.bin");
        fs::copy_file(disc + "/sub/a.zip", disc + "/UP.ZIP");
        Run("cd '" + dir.file("src") + "' && gcab -c '" + disc + "/c.cab' docs/readme.txt b.bin >/dev/null 2>&1");
        rartest::Rar4Member m1;
        m1.name = "dir\\m.txt";
        m1.data = "rar member";
        rartest::Rar4Member m2;
        m2.name = "dir";
        m2.directory = true;
        m2.attr = 0x10;
        dir.write("disc/r.rar", rartest::WriteRar4({m1, m2}));
        dir.write("disc/plain.txt", "plain");
        form = OpenArchiveScanForm(data, disc);
        form->ScanSession.Volume = TakeScanVolume('e');
    }
    void TearDown() override
    {
        form.reset();
        VolumeService::SetCurrent(nullptr);
    }
    static void Run(const std::string &command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    std::vector<Rec> Read(bool zip, bool rar, bool cab)
    {
        form->ExMemoryData1->EmptyTable();
        form->Settings[3] = zip;
        form->Settings[4] = rar;
        form->Settings[5] = cab;
        EXPECT_TRUE(form->NacitajDisk("e:\\"));
        std::vector<Rec> rows;
        TExMemoryData &t = *form->ExMemoryData1;
        for (t.First(); !t.Eof(); t.Next())
            rows.push_back({t.FieldByName("Path").AsString(), t.FieldByName("Name").AsString(),
                            t.FieldByName("Size").AsString(), t.FieldByName("CreateDate").AsString(),
                            t.FieldByName("Type").AsInteger(), t.FieldByName("Attrib").IsNull()});
        return rows;
    }
    // The records right after the archive's own record that lie inside it.
    static std::vector<Rec> MembersOf(const std::vector<Rec> &rows, const std::string &folder, const std::string &name)
    {
        std::vector<Rec> out;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].path != folder || rows[i].name != name)
                continue;
            for (size_t j = i + 1; j < rows.size() && rows[j].path == folder + name + "\\"; ++j)
                out.push_back(rows[j]);
        }
        return out;
    }

    orbtest::TempDir dir;
    std::string data, disc;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
    std::unique_ptr<TMainForm> form;
};

TEST_F(ArchiveScanTest, EachListingFollowsItsSetting)
{
    const auto off = Read(false, false, false);
    EXPECT_TRUE(MembersOf(off, "e:\\sub\\", "a.zip").empty());
    EXPECT_TRUE(MembersOf(off, "e:\\", "c.cab").empty());
    EXPECT_TRUE(MembersOf(off, "e:\\", "r.rar").empty());

    const auto zipOnly = Read(true, false, false);
    const auto zip = MembersOf(zipOnly, "e:\\sub\\", "a.zip");
    ASSERT_EQ(zip.size(), 2u) << "the folder entry of the zip is not a member record";
    std::map<std::string, Rec> byName;
    for (const Rec &r : zip)
        byName[r.name] = r;
    ASSERT_TRUE(byName.count("docs\\readme.txt"));
    EXPECT_EQ(byName["docs\\readme.txt"].size, "14");
    EXPECT_EQ(byName["docs\\readme.txt"].type, 1);
    EXPECT_TRUE(byName["docs\\readme.txt"].attribNull);
    EXPECT_FALSE(byName["docs\\readme.txt"].created.empty());
    EXPECT_EQ(byName["b.bin"].size, "1000");
    EXPECT_EQ(MembersOf(zipOnly, "e:\\", "UP.ZIP").size(), 2u) << "an upper-case extension is listed too";
    EXPECT_TRUE(MembersOf(zipOnly, "e:\\", "c.cab").empty());

    const auto cabOnly = Read(false, false, true);
    const auto cab = MembersOf(cabOnly, "e:\\", "c.cab");
    ASSERT_EQ(cab.size(), 2u);
    for (const Rec &r : cab)
        EXPECT_EQ(r.type, 1);
    EXPECT_TRUE(MembersOf(cabOnly, "e:\\sub\\", "a.zip").empty());

    const auto rarOnly = Read(false, true, false);
    const auto rar = MembersOf(rarOnly, "e:\\", "r.rar");
    ASSERT_EQ(rar.size(), 2u) << "directory members of a RAR archive are recorded like files";
    EXPECT_EQ(rar[0].name, "dir\\m.txt");
    EXPECT_EQ(rar[0].size, "10");
    EXPECT_EQ(rar[1].name, "dir");
    EXPECT_EQ(rar[1].type, 1);
    EXPECT_TRUE(MembersOf(rarOnly, "e:\\", "c.cab").empty());
}

TEST_F(ArchiveScanTest, DamagedArchivesKeepTheirOwnRecordAndTheScanGoesOn)
{
    const std::string zip = orbtest::readFile(disc + "/sub/a.zip");
    dir.write("disc/bad.zip", zip.substr(0, zip.size() / 2) + std::string(40, '\xff'));
    dir.write("disc/junk.zip", "this is no archive");
    dir.write("disc/bad.cab", "MSCF" + std::string(60, '\x7f'));
    const std::string rar = orbtest::readFile(disc + "/r.rar");
    dir.write("disc/bad.rar", rar.substr(0, rar.size() - 30));
    fs::create_directories(disc + "/folder.zip");
    dir.write("disc/zz_after.txt", "after");
    const auto rows = Read(true, true, true);
    for (const char *bad : {"bad.zip", "junk.zip", "bad.cab", "folder.zip"})
        EXPECT_TRUE(MembersOf(rows, "e:\\", bad).empty()) << bad;
    std::map<std::string, int> seen;
    for (const Rec &r : rows)
        ++seen[r.path + r.name];
    for (const char *name : {"e:\\bad.zip", "e:\\junk.zip", "e:\\bad.cab", "e:\\bad.rar", "e:\\zz_after.txt",
                             "e:\\folder.zip"})
        EXPECT_EQ(seen[name], 1) << name;
    // The good archives still have their members.
    EXPECT_EQ(MembersOf(rows, "e:\\sub\\", "a.zip").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\", "c.cab").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\", "r.rar").size(), 2u);
    // One notice at the end of the reading, counting and naming them.
    ASSERT_EQ(prompt.Asked().size(), 1u);
    const std::string notice = prompt.Asked()[0].text.toStdString();
    // The RAR cut short at its tail still lists the members before the cut:
    // its header was read, so it is not among the unreadable ones.
    EXPECT_EQ(form->ScanSession.Tally.unreadableArchives, 3) << notice;
    for (const char *bad : {"e:\\bad.zip", "e:\\junk.zip", "e:\\bad.cab"})
        EXPECT_NE(notice.find(bad), std::string::npos) << bad << "\n" << notice;
    EXPECT_EQ(notice.find("e:\\bad.rar"), std::string::npos) << notice;
    EXPECT_NE(notice.find("3 archive(s) could not be read"), std::string::npos) << notice;
}

TEST(ArchiveDateTextTest, NoDateGivesNoText)
{
    EXPECT_EQ(ZipMemberDateText(0.0), "");
    EXPECT_EQ(ShortDateLongTimeText(0.0), "");
    const double t = EncodeDate(2020, 5, 17) + EncodeTime(13, 45, 10, 0);
    EXPECT_EQ(ShortDateLongTimeText(t), DateTimeToStr(t));
    EXPECT_NE(ZipMemberDateText(t).find("  "), std::string::npos);
}

} // namespace
