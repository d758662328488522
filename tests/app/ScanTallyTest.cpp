// What a scan could not read is counted and named, on real folders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "app/MainScan.h"
#include "storage/ExMemDS.h"
#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// The program's own lister over real folders; the folders named in `vanish`
// are removed from the disc just before they are listed (a disc taken away,
// a folder deleted during the scan), so their listing really fails.
class VanishingLister : public TDiskLister {
public:
    std::set<std::string> vanish;
    bool List(const std::string &storedFolder, const std::string &localFolder,
              std::vector<TScanEntry> &entries) override
    {
        if (vanish.count(storedFolder)) {
            std::error_code ec;
            fs::remove_all(localFolder, ec);
        }
        return TDiskLister::List(storedFolder, localFolder, entries);
    }
};

class ScanTallyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table->Open();
        langunit::SetCurrentLanguage(langunit::LangEnglish);
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }
    std::unique_ptr<TExMemoryData> table = MakeScanTable();
    orbtest::TempDir dir;
};

} // namespace

TEST_F(ScanTallyTest, FoldersThatCannotBeReadAreCountedAndNamedAndKeepTheirRecords)
{
    for (const char *f : {"a/x.txt", "b/y.txt", "c/z.txt", "d/w.txt", "e/v.txt", "f/u.txt", "g/t.txt", "ok/s.txt"})
        dir.write(std::string("disc/") + f, "x");
    VanishingLister lister;
    for (const char *f : {"a", "b", "c", "d", "e", "f", "g"})
        lister.vanish.insert(std::string("e:\\") + f + "\\");
    TDiskReader reader(*table, lister);
    reader.Read("e:\\", dir.file("disc"));
    EXPECT_EQ(reader.Tally.unreadableFolders, 7);
    EXPECT_EQ(reader.Tally.unreadableArchives, 0);
    EXPECT_EQ(reader.Tally.named.size(), TScanTally::NamedMax);
    // Every folder keeps its record, as an empty folder; the good one has its file.
    EXPECT_EQ(table->RecordCount(), 9);
    const std::string notice = ScanTallyNotice(reader.Tally);
    EXPECT_NE(notice.find("7 folder(s) could not be read"), std::string::npos) << notice;
    EXPECT_NE(notice.find("... and 2"), std::string::npos) << notice;
    for (const std::string &p : reader.Tally.named)
        EXPECT_NE(notice.find("\n  " + p), std::string::npos) << p;
}

TEST_F(ScanTallyTest, FolderWithoutReadPermission)
{
    orbtest::TObeyPermissions obey;
    if (!obey.Active())
        GTEST_SKIP() << "this root may not lower its own capabilities";
    dir.write("disc/closed/secret.txt", "s");
    dir.write("disc/after.txt", "a");
    chmod(dir.file("disc/closed").c_str(), 0);
    TDiskLister lister;
    TDiskReader reader(*table, lister);
    reader.Read("e:\\", dir.file("disc"));
    chmod(dir.file("disc/closed").c_str(), 0755);
    EXPECT_EQ(reader.Tally.unreadableFolders, 1);
    EXPECT_EQ(reader.Tally.named, (std::vector<std::string>{"e:\\closed\\"}));
}

TEST_F(ScanTallyTest, PathsTooDeepForThePathFieldAreCounted)
{
    std::string local = dir.file("disc");
    const std::string part(60, 'p');
    for (int i = 0; i < 18; ++i)
        local += "/" + part;
    fs::create_directories(local);
    dir.write("disc/top.txt", "t");
    TDiskLister lister;
    TDiskReader reader(*table, lister);
    reader.Read("e:\\", dir.file("disc"));
    // e:\ + 16 levels fit in 1024 characters; the 17th is recorded but not opened.
    EXPECT_EQ(reader.Tally.tooDeepPaths, 1);
    EXPECT_EQ(reader.Tally.unreadableFolders, 0);
    ASSERT_EQ(reader.Tally.named.size(), 1u);
    EXPECT_GT(reader.Tally.named[0].size(), 1024u);
    EXPECT_NE(ScanTallyNotice(reader.Tally).find("1 folder(s) lie too deep"), std::string::npos);
}

TEST_F(ScanTallyTest, EverythingReadGivesNoNotice)
{
    dir.write("disc/a/b.txt", "b");
    TDiskLister lister;
    TDiskReader reader(*table, lister);
    reader.Read("e:\\", dir.file("disc"));
    EXPECT_EQ(reader.Tally.Total(), 0);
    EXPECT_EQ(ScanTallyNotice(reader.Tally), "");
    TScanTally sum;
    TScanTally part;
    part.unreadableArchives = 3;
    for (int i = 0; i < 3; ++i)
        part.Name("e:\\z" + std::to_string(i) + ".zip");
    sum.Add(part);
    sum.Add(part);
    EXPECT_EQ(sum.unreadableArchives, 6);
    EXPECT_EQ(sum.named.size(), TScanTally::NamedMax);
}
