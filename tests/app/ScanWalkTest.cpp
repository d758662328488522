// The disc reader: attribute rules, record order, icons, archives hook, real
// trees with dot names, "\" in names, links and unreadable folders; and the
// text rules of a scan.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/CatalogTables.h"
#include "app/MainScan.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"
#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A drive made up of folders given by their stored paths.
class FakeLister : public TScanLister {
public:
    std::map<std::string, std::vector<TScanEntry>> folders;
    std::vector<std::string> listed;
    bool List(const std::string &storedFolder, const std::string &, std::vector<TScanEntry> &entries) override
    {
        listed.push_back(storedFolder);
        auto it = folders.find(storedFolder);
        if (it == folders.end())
            return false;
        entries = it->second;
        return true;
    }
};

TScanEntry Entry(const std::string &name, uint32_t attributes, uint64_t size = 0)
{
    TScanEntry e;
    e.name = name;
    e.attributes = attributes;
    e.size = size;
    return e;
}

struct Row {
    std::string path, name, size;
    int type, attrib;
    bool icon;
    std::string namecd, number, serial;
};

std::vector<Row> Rows(TExMemoryData &t)
{
    std::vector<Row> rows;
    for (t.First(); !t.Eof(); t.Next())
        rows.push_back({t.FieldByName("Path").AsString(), t.FieldByName("Name").AsString(),
                        t.FieldByName("Size").AsString(), t.FieldByName("Type").AsInteger(),
                        t.FieldByName("Attrib").AsInteger(), !t.FieldByName("Icon").IsNull(),
                        t.FieldByName("Namecd").AsString(), t.FieldByName("Number").AsString(),
                        t.FieldByName("CdIdCode").AsString()});
    return rows;
}

std::vector<std::string> Names(const std::vector<Row> &rows)
{
    std::vector<std::string> out;
    for (const Row &r : rows)
        out.push_back(r.path + r.name);
    return out;
}

class ScanWalkTest : public ::testing::Test {
protected:
    void SetUp() override { table->Open(); }
    std::unique_ptr<TExMemoryData> table = MakeScanTable();
};

TEST_F(ScanWalkTest, AttributeRulesDecideWalkAndRecord)
{
    FakeLister fake;
    fake.folders["e:\\"] = {
        Entry("plain", 16),          Entry("ro", 17),      Entry("hid", 18),          Entry("rohid", 19),
        Entry("sys", 20),            Entry("arch", 48),    Entry("hidsys", 22),       Entry("packed", 16 | 0x800),
        Entry("link", 16 | 0x400),   Entry("a.txt", 32, 7),
    };
    for (const char *f : {"plain", "ro", "hid", "rohid", "sys", "arch", "hidsys", "packed", "link"})
        fake.folders[std::string("e:\\") + f + "\\"] = {Entry("in.txt", 32, 1)};
    TDiskReader reader(*table, fake);
    reader.DiscName = "e: [X]";
    reader.DiscNumber = "4";
    reader.Serial = "1234";
    reader.Read("e:", std::string());

    const auto rows = Rows(*table);
    const std::vector<std::string> expected = {
        "e:\\plain\\in.txt",  "e:\\plain",  "e:\\ro\\in.txt",     "e:\\ro",   "e:\\hid\\in.txt",
        "e:\\hid",            "e:\\rohid\\in.txt", "e:\\rohid", "e:\\sys\\in.txt", "e:\\sys",
        "e:\\arch\\in.txt",   "e:\\arch",   "e:\\hidsys\\in.txt", // 22: walked, no record of its own
        "e:\\packed",         "e:\\link",   "e:\\a.txt",
    };
    EXPECT_EQ(Names(rows), expected);
    // A compressed folder and a link are recorded but never opened.
    for (const std::string &f : fake.listed) {
        EXPECT_NE(f, "e:\\packed\\");
        EXPECT_NE(f, "e:\\link\\");
    }
    for (const Row &r : rows) {
        EXPECT_EQ(r.namecd, "e: [X]");
        EXPECT_EQ(r.number, "4");
        EXPECT_EQ(r.serial, "1234");
    }
    EXPECT_EQ(rows[1].type, 0);
    EXPECT_EQ(rows[1].size, "0");
    EXPECT_EQ(rows[7].attrib, 19);
    EXPECT_EQ(rows.back().type, 1);
    EXPECT_EQ(rows.back().size, "7");
}

TEST_F(ScanWalkTest, RootFolderProgressAndExeIcons)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("a.exe", 32), Entry("b.EXE", 32), Entry("c.Exe", 32), Entry("d", 16),
                             Entry("e", 16)};
    fake.folders["e:\\d\\"] = {Entry("sub", 16), Entry("x.exe", 32)};
    fake.folders["e:\\d\\sub\\"] = {};
    fake.folders["e:\\e\\"] = {};
    TDiskReader reader(*table, fake);
    int steps = 0;
    reader.OnRootFolder = [&] { ++steps; };
    std::vector<std::string> asked;
    reader.IconOf = [&](const std::string &local) {
        asked.push_back(local);
        return std::string("ICON");
    };
    reader.Read("e:\\", std::string());
    EXPECT_EQ(steps, 2) << "only the root's folders step the progress";
    EXPECT_TRUE(asked.empty()) << "icons are off";

    table->EmptyTable();
    TDiskReader second(*table, fake);
    second.ExeIcons = true;
    second.IconOf = reader.IconOf;
    second.Read("e:\\", std::string());
    std::map<std::string, bool> icons;
    for (const Row &r : Rows(*table))
        icons[r.name] = r.icon;
    EXPECT_TRUE(icons["a.exe"]);
    EXPECT_TRUE(icons["b.EXE"]);
    EXPECT_FALSE(icons["c.Exe"]);
    EXPECT_TRUE(icons["x.exe"]);
}

TEST_F(ScanWalkTest, ArchiveHookFollowsTheArchiveRecordAndItsSetting)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("a.zip", 32), Entry("B.ZIP", 32), Entry("c.rar", 32), Entry("d.cab", 32),
                             Entry("zip", 16), Entry("e.zip.txt", 32)};
    fake.folders["e:\\zip\\"] = {};
    TDiskReader reader(*table, fake);
    std::vector<std::string> seen;
    reader.OnArchive = [&](char kind, const std::string &folder, const std::string &, const TScanEntry &e) {
        // The archive's own record is already there.
        table->Last();
        EXPECT_EQ(table->FieldByName("Name").AsString(), e.name);
        seen.push_back(std::string(1, kind) + folder + e.name);
    };
    reader.ListZip = true;
    reader.ListCab = true;
    reader.Read("e:\\", std::string());
    EXPECT_EQ(seen, (std::vector<std::string>{"ze:\\a.zip", "ze:\\B.ZIP", "ce:\\d.cab"}));
}

TEST_F(ScanWalkTest, RootOfFilesOnlyAndUnreadableFolder)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("one", 32, 1), Entry("locked", 16), Entry("two", 32, 2)};
    TDiskReader reader(*table, fake);
    int steps = 0;
    reader.OnRootFolder = [&] { ++steps; };
    reader.Read("e:\\", std::string());
    // The unreadable folder keeps its record; the walk goes on after it.
    EXPECT_EQ(Names(Rows(*table)), (std::vector<std::string>{"e:\\one", "e:\\locked", "e:\\two"}));
    EXPECT_EQ(steps, 1);

    table->EmptyTable();
    FakeLister files;
    files.folders["e:\\"] = {Entry("one", 32, 1)};
    TDiskReader filesOnly(*table, files);
    steps = 0;
    filesOnly.OnRootFolder = [&] { ++steps; };
    filesOnly.Read("e:\\", std::string());
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(table->RecordCount(), 1);
}

TEST_F(ScanWalkTest, FoldersDeeperThanThePathFieldAreRecordedNotOpened)
{
    FakeLister fake;
    std::string folder = "e:\\";
    const std::string part(60, 'd');
    std::vector<std::string> chain;
    for (int i = 0; i < 5; ++i) {
        fake.folders[folder] = {Entry(part, 16), Entry("f.txt", 32)};
        chain.push_back(folder);
        folder += part + "\\";
    }
    fake.folders[folder] = {Entry("deep.txt", 32)};
    TDiskReader reader(*table, fake);
    EXPECT_EQ(reader.PathWidth, 1024u) << "the scan table's Path width";
    reader.PathWidth = 250; // scanning into a catalogue of the older layout
    reader.Read("e:\\", std::string());
    EXPECT_EQ(reader.Tally.tooDeepPaths, 1);
    for (const Row &r : Rows(*table)) {
        EXPECT_LE(r.path.size(), 250u);
        EXPECT_EQ(r.path.back(), '\\');
        EXPECT_TRUE(fake.folders.count(r.path)) << "every record lies in a folder that exists: " << r.path;
    }
    // e:\ + 4 x 61 = 247 bytes fit; the fifth level does not.
    EXPECT_EQ(fake.listed.size(), 5u);
    EXPECT_EQ(table->RecordCount(), 10);
}

TEST_F(ScanWalkTest, AFolderWhosePathJustFitsThePathFieldIsOpened)
{
    FakeLister fake;
    const std::string fits(16, 'a'), over(17, 'b'); // "e:\" + name + "\": 20 and 21 characters
    fake.folders["e:\\"] = {Entry(fits, 16), Entry(over, 16)};
    fake.folders["e:\\" + fits + "\\"] = {Entry("in.txt", 32)};
    fake.folders["e:\\" + over + "\\"] = {Entry("lost.txt", 32)};
    TDiskReader reader(*table, fake);
    reader.PathWidth = 20;
    reader.Read("e:\\", std::string());
    EXPECT_EQ(fake.listed, (std::vector<std::string>{"e:\\", "e:\\" + fits + "\\"}));
    EXPECT_EQ(reader.Tally.tooDeepPaths, 1);
}

// A lister whose folders carry identities, as bind mounts give them: the same
// folder can be met under two names, or inside itself.
class IdentityLister : public FakeLister {
public:
    bool Identity(const std::string &, uint64_t &device, uint64_t &inode) override
    {
        device = 1;
        inode = 100; // the root
        return true;
    }
};

TScanEntry Folder(const std::string &name, uint64_t inode)
{
    TScanEntry e = Entry(name, 16);
    e.device = 1;
    e.inode = inode;
    return e;
}

TEST_F(ScanWalkTest, AFolderReachedTwiceIsWalkedOnce)
{
    IdentityLister fake;
    fake.folders["e:\\"] = {Folder("a", 5), Folder("b", 5), Folder("c", 6)};
    fake.folders["e:\\a\\"] = {Entry("x.txt", 32)};
    fake.folders["e:\\b\\"] = {Entry("x.txt", 32)};
    // "c" holds a folder bound to the root itself and one bound to "c".
    fake.folders["e:\\c\\"] = {Folder("root", 100), Folder("self", 6)};
    TDiskReader reader(*table, fake);
    reader.Read("e:\\", std::string());
    EXPECT_EQ(fake.listed, (std::vector<std::string>{"e:\\", "e:\\a\\", "e:\\c\\"}));
    // Every name is still recorded; only the walk below the second one is skipped.
    EXPECT_EQ(table->RecordCount(), 6);
}

// Real folders on this machine, read through the lister the program uses.
class ScanRealTreeTest : public ScanWalkTest {
protected:
    std::vector<Row> Scan(const std::string &local)
    {
        TDiskLister lister;
        TDiskReader reader(*table, lister);
        reader.Read("e:\\", local);
        return Rows(*table);
    }
    orbtest::TempDir dir;
};

TEST_F(ScanRealTreeTest, PostOrderAttributesAndSizes)
{
    dir.write("docs/a.txt", "hello");
    dir.write("docs/deep/b.bin", std::string(3000, 'x'));
    dir.write(".hidden/c", "c");
    dir.write("top.txt", "1");
    chmod(dir.file("top.txt").c_str(), 0444);
    const auto rows = Scan(dir.str());
    std::map<std::string, Row> byName;
    std::map<std::string, size_t> at;
    for (size_t i = 0; i < rows.size(); ++i) {
        byName[rows[i].path + rows[i].name] = rows[i];
        at[rows[i].path + rows[i].name] = i;
    }
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_LT(at["e:\\docs\\deep\\b.bin"], at["e:\\docs\\deep"]);
    EXPECT_LT(at["e:\\docs\\deep"], at["e:\\docs"]);
    EXPECT_LT(at["e:\\docs\\a.txt"], at["e:\\docs"]);
    EXPECT_EQ(byName["e:\\docs\\deep\\b.bin"].size, "3000");
    EXPECT_EQ(byName["e:\\docs"].attrib, 16);
    EXPECT_EQ(byName["e:\\.hidden"].attrib, 16 | 2);
    EXPECT_EQ(byName["e:\\.hidden\\c"].attrib, 32);
    EXPECT_EQ(byName["e:\\top.txt"].attrib, 32 | 1);
    EXPECT_EQ(byName["e:\\docs\\a.txt"].type, 1);
    EXPECT_EQ(byName["e:\\docs"].type, 0);
}

TEST_F(ScanRealTreeTest, BackslashNamesLinksAndLoopsNeverStopTheScan)
{
    dir.write("odd\\name/inner.txt", "x");
    dir.write("real/f.txt", "f");
    fs::create_directory_symlink(dir.file("real"), dir.file("real/loop"));
    fs::create_directory_symlink(dir.path(), dir.file("up"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling"));
    const auto rows = Scan(dir.str());
    std::map<std::string, Row> byName;
    for (const Row &r : rows)
        byName[r.path + r.name] = r;
    // The "\" of a name is kept as "/" so the stored path stays one folder deep.
    ASSERT_TRUE(byName.count("e:\\odd/name\\inner.txt"));
    ASSERT_TRUE(byName.count("e:\\odd/name"));
    // Links are recorded, never followed.
    EXPECT_EQ(byName["e:\\real\\loop"].attrib, 16 | 0x400);
    EXPECT_EQ(byName["e:\\up"].attrib, 16 | 0x400);
    EXPECT_EQ(byName["e:\\dangling"].attrib, 32 | 0x400);
    EXPECT_EQ(rows.size(), 7u);
}

TEST_F(ScanRealTreeTest, FoldersCarryTheIdentityThatStopsASecondWalk)
{
    dir.write("sub/f.txt", "f");
    struct stat sub, root;
    ASSERT_EQ(::stat(dir.file("sub").c_str(), &sub), 0);
    ASSERT_EQ(::stat(dir.str().c_str(), &root), 0);
    TDiskLister lister;
    std::vector<TScanEntry> entries;
    ASSERT_TRUE(lister.List("e:\\", dir.str() + "/", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].device, uint64_t(sub.st_dev));
    EXPECT_EQ(entries[0].inode, uint64_t(sub.st_ino));
    uint64_t device = 0, inode = 0;
    ASSERT_TRUE(lister.Identity(dir.str() + "/", device, inode));
    EXPECT_EQ(device, uint64_t(root.st_dev));
    EXPECT_EQ(inode, uint64_t(root.st_ino));
}

TEST_F(ScanRealTreeTest, UnreadableFolderIsRecordedAndSkipped)
{
    orbtest::TObeyPermissions obey;
    if (!obey.Active())
        GTEST_SKIP() << "this root may not lower its own capabilities";
    dir.write("closed/secret.txt", "s");
    dir.write("after.txt", "a");
    chmod(dir.file("closed").c_str(), 0);
    const auto rows = Scan(dir.str());
    chmod(dir.file("closed").c_str(), 0755);
    EXPECT_EQ(rows.size(), 2u);
}

TEST(ScanTextTest, UniqueDiscNames)
{
    EXPECT_EQ(MakeUniqueCdName("e: [DATA]", {}), "e: [DATA]");
    EXPECT_EQ(MakeUniqueCdName("e: [DATA]", {"e: [DATA]"}), "e: [DATA]1");
    EXPECT_EQ(MakeUniqueCdName("e: [DATA]", {"e: [DATA]1", "e: [DATA]"}), "e: [DATA]2");
    // Case does not make a name different.
    EXPECT_EQ(MakeUniqueCdName("e: [data]", {"E: [DATA]"}), "e: [data]1");
    EXPECT_EQ(MakeUniqueCdName("e: [čaj]", {"e: [ČAJ]"}), "e: [čaj]1");
    // A name longer than the field is compared as it will be stored.
    // It keeps its closing bracket: the text inside gives way.
    const std::string longBase = "e: [" + std::string(60, 'A') + "]";
    const std::string stored = MakeUniqueCdName(longBase, {});
    EXPECT_EQ(stored, "e: [" + std::string(45, 'A') + "]");
    const std::string next = MakeUniqueCdName(longBase, {stored});
    EXPECT_EQ(next, "e: [" + std::string(44, 'A') + "]1");
    // Widths count characters: 44 typed Czech letters and the brackets fit whole.
    std::string czech;
    for (int i = 0; i < 44; ++i)
        czech += "\xC5\xBD"; // Ž
    EXPECT_EQ(MakeUniqueCdName("e: [" + czech + "]", {}), "e: [" + czech + "]");
    // An audio title scanned twice.
    EXPECT_EQ(MakeUniqueCdName("Album", {"Album"}), "Album1");
}

TEST(ScanTextTest, NextDiscNumber)
{
    EXPECT_EQ(NextFreeCdNumber({}), "1");
    EXPECT_EQ(NextFreeCdNumber({"1", "2", "5"}), "3");
    EXPECT_EQ(NextFreeCdNumber({"5", "1", "6"}), "7");
    // Numbers that are not numbers are passed over.
    EXPECT_EQ(NextFreeCdNumber({"abc", "1", "x2", ""}), "2");
    EXPECT_EQ(NextFreeCdNumber({"abc"}), "1");
    EXPECT_EQ(NextFreeCdNumber({"99999999999999999999999"}), "1");
}

TEST(ScanTextTest, SizeText)
{
    EXPECT_EQ(ScanSizeText(0), "0 b");
    EXPECT_EQ(ScanSizeText(1999), "1999 b");
    EXPECT_EQ(ScanSizeText(2000), "2000 b");
    EXPECT_EQ(ScanSizeText(2048), "2 kb");
    EXPECT_EQ(ScanSizeText(3000), "2.93 kb");
    EXPECT_EQ(ScanSizeText(200000), "195.31 kb");
    EXPECT_EQ(ScanSizeText(1572864), "1.5 mb");
    EXPECT_EQ(ScanSizeText(700ull * 1024 * 1024), "700 mb");
}

TEST(ScanTextTest, NameFromDriveText)
{
    std::string drive;
    EXPECT_EQ(NameFromDriveText("e: [mydisc]", &drive), "mydisc");
    EXPECT_EQ(drive, "e:");
    EXPECT_EQ(NameFromDriveText("e: []", &drive), "Bez názvu");
    EXPECT_EQ(NameFromDriveText("", &drive), "Bez názvu");
    EXPECT_EQ(drive, "");
}

TEST(ScanTextTest, DiscKindAndSerial)
{
    std::string serial = "stale";
    EXPECT_EQ(DiscKindOf(DRIVE_CDROM, "Audio CD", 77, serial), 2);
    EXPECT_EQ(serial, "77");
    EXPECT_EQ(DiscKindOf(DRIVE_CDROM, "audio cd", 4294967295u, serial), 0);
    EXPECT_EQ(serial, "4294967295");
    // A hard disk never carries the serial of a CD read before.
    EXPECT_EQ(DiscKindOf(DRIVE_FIXED, "", 5, serial), 1);
    EXPECT_EQ(serial, "");
    EXPECT_EQ(DiscKindOf(DRIVE_REMOVABLE, "", 5, serial), 3);
    EXPECT_EQ(DiscKindOf(DRIVE_REMOTE, "", 5, serial), 0);
    EXPECT_EQ(serial, "");
}

} // namespace
