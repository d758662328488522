// The disc reader: attribute rules, record order, icons, archives hook, real
// trees with dot names, "\" in names and links; what a scan could not read,
// counted and named; and the text rules of a scan.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "app/LangUnit.h"
#include "app/catalog/CatalogTables.h"
#include "app/scan/MainScan.h"
#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

#include "app/ArchiveTestSupport.h"

namespace fs = std::filesystem;
using scantest::Records;
using Strings = std::vector<std::string>;

namespace {

// A drive made up of folders given by their stored paths.
class FakeLister : public TScanLister {
public:
    std::map<std::string, std::vector<TScanEntry>> folders;
    Strings listed;
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
    return {name, {}, attributes, size};
}

// English notices while a test runs.
class ScanWalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table->Open();
        langunit::SetCurrentLanguage(langunit::LangEnglish);
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }
    Strings Names() { return Records(*table, {"Path", "Name"}); }
    // Reads `fake` from e:\ with `setUp` applied to the reader first.
    TScanTally Read(TScanLister &lister, const std::string &local = {},
                    const std::function<void(TDiskReader &)> &setUp = {})
    {
        table->EmptyTable();
        TDiskReader reader(*table, lister);
        if (setUp)
            setUp(reader);
        reader.Read("e:\\", local);
        return reader.Tally;
    }
    std::unique_ptr<TExMemoryData> table = MakeScanTable();
};

TEST_F(ScanWalkTest, AttributeRulesDecideWalkAndRecord)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("plain", 16), Entry("ro", 17),     Entry("hid", 18),          Entry("rohid", 19),
                            Entry("sys", 20),   Entry("arch", 48),   Entry("hidsys", 22),       Entry("packed", 16 | 0x800),
                            Entry("link", 16 | 0x400), Entry("a.txt", 32, 7)};
    for (const char *f : {"plain", "ro", "hid", "rohid", "sys", "arch", "hidsys", "packed", "link"})
        fake.folders[std::string("e:\\") + f + "\\"] = {Entry("in.txt", 32, 1)};
    TDiskReader reader(*table, fake);
    reader.DiscName = "e: [X]";
    reader.DiscNumber = "4";
    reader.Serial = "1234";
    reader.Read("e:", std::string());
    // A hidden system folder is walked but has no record of its own; a
    // compressed folder and a link are recorded but never opened.
    EXPECT_EQ(Names(), (Strings{"e:\\plain\\|in.txt", "e:\\|plain", "e:\\ro\\|in.txt", "e:\\|ro", "e:\\hid\\|in.txt",
                                "e:\\|hid", "e:\\rohid\\|in.txt", "e:\\|rohid", "e:\\sys\\|in.txt", "e:\\|sys",
                                "e:\\arch\\|in.txt", "e:\\|arch", "e:\\hidsys\\|in.txt", "e:\\|packed",
                                "e:\\|link", "e:\\|a.txt"}));
    for (const char *closed : {"e:\\packed\\", "e:\\link\\"})
        EXPECT_EQ(std::count(fake.listed.begin(), fake.listed.end(), closed), 0) << closed;
    EXPECT_EQ(Records(*table, {"Namecd", "Number", "CdIdCode"}), Strings(16, "e: [X]|4|1234"));
    const Strings typed = Records(*table, {"Type", "Size", "Attrib"});
    EXPECT_EQ(typed[1], "0|0|16");
    EXPECT_EQ(typed[7], "0|0|19");
    EXPECT_EQ(typed.back(), "1|7|32");
}

TEST_F(ScanWalkTest, RootFolderProgressExeIconsAndArchiveHook)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("a.exe", 32), Entry("b.EXE", 32), Entry("c.Exe", 32), Entry("d", 16),
                            Entry("e", 16),     Entry("a.zip", 32), Entry("B.ZIP", 32), Entry("c.rar", 32),
                            Entry("d.cab", 32), Entry("e.zip.txt", 32)};
    fake.folders["e:\\d\\"] = {Entry("sub", 16), Entry("x.exe", 32), Entry("zip", 16)};
    fake.folders["e:\\d\\sub\\"] = fake.folders["e:\\e\\"] = fake.folders["e:\\d\\zip\\"] = {};
    int steps = 0;
    Strings asked, archives;
    const auto icon = [&](const std::string &local) {
        asked.push_back(local);
        return std::string("ICON");
    };
    Read(fake, {}, [&](TDiskReader &r) {
        r.OnRootFolder = [&] { ++steps; };
        r.IconOf = icon;
    });
    EXPECT_EQ(steps, 2) << "only the root's folders step the progress";
    EXPECT_TRUE(asked.empty()) << "icons are off";
    Read(fake, {}, [&](TDiskReader &r) {
        r.ExeIcons = r.ListZip = r.ListCab = true;
        r.IconOf = icon;
        r.OnArchive = [&](char kind, const std::string &folder, const std::string &, const TScanEntry &e) {
            table->Last();
            EXPECT_EQ(table->FieldByName("Name").AsString(), e.name) << "the archive's own record comes first";
            archives.push_back(std::string(1, kind) + folder + e.name);
        };
    });
    Strings icons = Records(*table, {"Name", "Icon"});
    std::erase_if(icons, [](const std::string &r) { return r.back() == '|'; });
    std::sort(icons.begin(), icons.end());
    EXPECT_EQ(icons, (Strings{"a.exe|ICON", "b.EXE|ICON", "x.exe|ICON"}));
    EXPECT_EQ(archives, (Strings{"ze:\\a.zip", "ze:\\B.ZIP", "ce:\\d.cab"}));
}

TEST_F(ScanWalkTest, FieldsSetInOneGoEqualThoseSetOneAtATime)
{
    FakeLister fake;
    TScanEntry big = Entry("big.bin", 32, 18446744073709551615ull);
    big.creationTime = 116444736000000000ull + 10000000ull * 86400 * 365 * 30; // 2000
    big.lastWriteTime = big.creationTime + 10000000ull * 3661;
    TScanEntry wide = Entry(std::string(300, 'w') + ".exe", 33, 5);
    wide.lastWriteTime = big.lastWriteTime;
    fake.folders["e:\\"] = {big, wide, Entry("\xc5\xbelu\xc5\xa5", 16), Entry("empty", 32)};
    fake.folders["e:\\\xc5\xbelu\xc5\xa5\\"] = {Entry("in.txt", 32, 1)};
    const auto setUp = [](TDiskReader &r) {
        r.DiscName = "e: [" + std::string(60, 'n') + "]";
        r.DiscNumber = std::string(25, '9');
        r.Serial = "42";
        r.ExeIcons = true;
        r.IconOf = [](const std::string &) { return std::string("I\0CON", 5); };
    };
    const std::initializer_list<const char *> all = {"Path", "Namecd", "Number", "Size", "Attrib", "Icon",
                                                     "CreateDate", "LastChange", "Type", "Name", "Note",
                                                     "FType", "LoadName", "MusicOrder", "CdIdCode"};
    Read(fake, {}, setUp);
    EXPECT_FALSE(table->ControlsDisabled());
    const Strings oneGo = Records(*table, all);
    // A watcher of one field makes the reader set the fields one at a time.
    int changes = 0;
    table->FieldByName("Size").OnChange = [&](TField *) { ++changes; };
    Read(fake, {}, setUp);
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(Records(*table, all), oneGo);
    ASSERT_EQ(oneGo.size(), 5u);
    EXPECT_EQ(Records(*table, {"Size", "Icon", "Number"})[1], "5|I" + std::string(1, '\0') + "CON|" + std::string(20, '9'));
    // A failing hook leaves the table's controls as they were.
    table->FieldByName("Size").OnChange = nullptr;
    EXPECT_ANY_THROW(Read(fake, {}, [&](TDiskReader &r) {
        setUp(r);
        r.IconOf = [](const std::string &) -> std::string { throw std::runtime_error("no icon"); };
    }));
    EXPECT_FALSE(table->ControlsDisabled());
}

TEST_F(ScanWalkTest, RootOfFilesOnlyAndUnreadableFolder)
{
    FakeLister fake;
    fake.folders["e:\\"] = {Entry("one", 32, 1), Entry("locked", 16), Entry("two", 32, 2)};
    int steps = 0;
    const auto count = [&](TDiskReader &r) { r.OnRootFolder = [&] { ++steps; }; };
    const TScanTally tally = Read(fake, {}, count);
    // The unreadable folder keeps its record; the walk goes on after it.
    EXPECT_EQ(Names(), (Strings{"e:\\|one", "e:\\|locked", "e:\\|two"}));
    EXPECT_EQ(std::tuple(steps, tally.unreadableFolders, tally.named), std::tuple(1, 1, Strings{"e:\\locked\\"}));
    fake.folders["e:\\"] = {Entry("one", 32, 1)};
    steps = 0;
    Read(fake, {}, count);
    EXPECT_EQ(std::tuple(steps, table->RecordCount()), std::tuple(0, 1));
}

TEST_F(ScanWalkTest, FoldersDeeperThanThePathFieldAreRecordedNotOpened)
{
    FakeLister fake;
    std::string folder = "e:\\";
    const std::string part(60, 'd');
    for (int i = 0; i < 5; ++i, folder += part + "\\")
        fake.folders[folder] = {Entry(part, 16), Entry("f.txt", 32)};
    fake.folders[folder] = {Entry("deep.txt", 32)};
    EXPECT_EQ(TDiskReader(*table, fake).PathWidth, 1024u) << "the scan table's Path width";
    // Into a catalogue of the older layout: e:\ + 4 x 61 = 247 bytes fit; the fifth level does not.
    EXPECT_EQ(Read(fake, {}, [](TDiskReader &r) { r.PathWidth = 250; }).tooDeepPaths, 1);
    for (const std::string &path : Records(*table, {"Path"})) {
        EXPECT_LE(path.size(), 250u);
        EXPECT_TRUE(fake.folders.count(path)) << "every record lies in a folder that exists: " << path;
    }
    EXPECT_EQ(std::tuple(fake.listed.size(), table->RecordCount()), std::tuple(5u, 10));
    // A path that just fits is opened: "e:\" + name + "\" of 20 and 21 characters.
    const std::string fits(16, 'a'), over(17, 'b');
    fake.folders = {{"e:\\", {Entry(fits, 16), Entry(over, 16)}},
                    {"e:\\" + fits + "\\", {Entry("in.txt", 32)}},
                    {"e:\\" + over + "\\", {Entry("lost.txt", 32)}}};
    fake.listed.clear();
    EXPECT_EQ(Read(fake, {}, [](TDiskReader &r) { r.PathWidth = 20; }).tooDeepPaths, 1);
    EXPECT_EQ(fake.listed, (Strings{"e:\\", "e:\\" + fits + "\\"}));
}

// Folders with identities, as bind mounts give them: the same folder met
// under two names, or inside itself.
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
    return {name, {}, 16, 0, 0, 0, 1, inode};
}

TEST_F(ScanWalkTest, AFolderReachedTwiceIsWalkedOnce)
{
    IdentityLister fake;
    fake.folders["e:\\"] = {Folder("a", 5), Folder("b", 5), Folder("c", 6)};
    fake.folders["e:\\a\\"] = fake.folders["e:\\b\\"] = {Entry("x.txt", 32)};
    // "c" holds a folder bound to the root itself and one bound to "c".
    fake.folders["e:\\c\\"] = {Folder("root", 100), Folder("self", 6)};
    Read(fake);
    EXPECT_EQ(fake.listed, (Strings{"e:\\", "e:\\a\\", "e:\\c\\"}));
    EXPECT_EQ(table->RecordCount(), 6) << "every name is still recorded";
}

// Real folders on this machine, read through the lister the program uses.
class ScanRealTreeTest : public ScanWalkTest {
protected:
    std::map<std::string, std::string> Scan(const std::string &local)
    {
        TDiskLister lister;
        Read(lister, local);
        std::map<std::string, std::string> byName;
        for (const std::string &r : Records(*table, {"Path", "Name", "Attrib", "Type", "Size"}))
            byName[r.substr(0, r.find('|', r.find('|') + 1))] = r.substr(r.find('|', r.find('|') + 1) + 1);
        return byName;
    }
    orbtest::TempDir dir;
};

TEST_F(ScanRealTreeTest, AttributesAndSizes)
{
    dir.write("docs/a.txt", "hello");
    dir.write("docs/deep/b.bin", std::string(3000, 'x'));
    dir.write(".hidden/c", "c");
    dir.write("top.txt", "1");
    chmod(dir.file("top.txt").c_str(), 0444);
    const auto byName = Scan(dir.str());
    EXPECT_EQ(byName, (std::map<std::string, std::string>{
                          {"e:\\docs\\deep\\|b.bin", "32|1|3000"}, {"e:\\docs\\|deep", "16|0|0"},
                          {"e:\\docs\\|a.txt", "32|1|5"},         {"e:\\|docs", "16|0|0"},
                          {"e:\\|.hidden", "18|0|0"},             {"e:\\.hidden\\|c", "32|1|1"},
                          {"e:\\|top.txt", "33|1|1"}}));
}

TEST_F(ScanRealTreeTest, BackslashNamesLinksAndLoopsNeverStopTheScan)
{
    dir.write("odd\\name/inner.txt", "x");
    dir.write("real/f.txt", "f");
    fs::create_directory_symlink(dir.file("real"), dir.file("real/loop"));
    fs::create_directory_symlink(dir.path(), dir.file("up"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling"));
    const auto byName = Scan(dir.str());
    // The "\" of a name is kept as "/" so the stored path stays one folder
    // deep; links are recorded, never followed.
    EXPECT_EQ(byName, (std::map<std::string, std::string>{
                          {"e:\\odd/name\\|inner.txt", "32|1|1"}, {"e:\\|odd/name", "16|0|0"},
                          {"e:\\real\\|f.txt", "32|1|1"},         {"e:\\|real", "16|0|0"},
                          {"e:\\real\\|loop", "1040|0|0"},        {"e:\\|up", "1040|0|0"},
                          {"e:\\|dangling", "1056|1|0"}}));
}

TEST_F(ScanRealTreeTest, HooksGetTheFileSystemsOwnNames)
{
    dir.write("odd\\prog.exe", "MZ");
    dir.write("sub/plain.exe", "MZ");
    dir.write("sub/a\\b.zip", "PK");
    Strings icons, archives;
    TDiskLister lister;
    Read(lister, dir.str(), [&](TDiskReader &r) {
        r.ExeIcons = r.ListZip = true;
        r.IconOf = [&](const std::string &local) {
            icons.push_back(local);
            return std::string();
        };
        r.OnArchive = [&](char, const std::string &folder, const std::string &local, const TScanEntry &e) {
            archives.push_back(folder + e.name + "|" + local + (e.localName.empty() ? e.name : e.localName));
        };
    });
    std::sort(icons.begin(), icons.end());
    EXPECT_EQ(icons, (Strings{dir.file("odd\\prog.exe"), dir.file("sub/plain.exe")}));
    for (const std::string &local : icons)
        EXPECT_TRUE(fs::exists(local)) << local;
    EXPECT_EQ(archives, (Strings{"e:\\sub\\a/b.zip|" + dir.file("sub/a\\b.zip")}));
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
    EXPECT_EQ(std::tuple(entries[0].device, entries[0].inode), std::tuple(sub.st_dev, sub.st_ino));
    uint64_t device = 0, inode = 0;
    ASSERT_TRUE(lister.Identity(dir.str() + "/", device, inode));
    EXPECT_EQ(std::tuple(device, inode), std::tuple(root.st_dev, root.st_ino));
}

// The program's own lister over real folders; the folders named in `vanish`
// are removed just before they are listed (a disc taken away, a folder
// deleted during the scan), so their listing really fails.
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

class ScanTallyTest : public ScanRealTreeTest {};

TEST_F(ScanTallyTest, FoldersThatCannotBeReadAreCountedAndNamedAndKeepTheirRecords)
{
    VanishingLister lister;
    for (const char *f : {"a", "b", "c", "d", "e", "f", "g", "ok"}) {
        dir.write(std::string("disc/") + f + "/x.txt", "x");
        if (std::string(f) != "ok")
            lister.vanish.insert(std::string("e:\\") + f + "\\");
    }
    const TScanTally tally = Read(lister, dir.file("disc"));
    EXPECT_EQ(std::tuple(tally.unreadableFolders, tally.unreadableArchives, tally.named.size()),
              std::tuple(7, 0, TScanTally::NamedMax));
    EXPECT_EQ(table->RecordCount(), 9) << "every folder keeps its record; the good one has its file";
    const std::string notice = ScanTallyNotice(tally);
    EXPECT_NE(notice.find("7 folder(s) could not be read"), std::string::npos) << notice;
    EXPECT_NE(notice.find("... and 2"), std::string::npos) << notice;
    for (const std::string &p : tally.named)
        EXPECT_NE(notice.find("\n  " + p), std::string::npos) << p;
}

TEST_F(ScanTallyTest, FoldersThatCanBeListedButNotEnteredAreCountedLikeUnlistableOnes)
{
    dir.write("disc/listed/a.txt", "a");
    dir.write("disc/listed/inner/b.txt", "b");
    dir.write("disc/closed/c.txt", "c");
    dir.write("disc/open/d.txt", "d");
    ASSERT_EQ(::chmod(dir.file("disc/listed").c_str(), 0444), 0); // r--: names only
    ASSERT_EQ(::chmod(dir.file("disc/closed").c_str(), 0111), 0); // --x: not even names
    TScanTally tally;
    {
        orbtest::TObeyPermissions obey;
        if (!obey.Active())
            GTEST_SKIP() << "permissions cannot be made to apply here";
        TDiskLister lister;
        tally = Read(lister, dir.file("disc"));
    }
    for (const char *f : {"listed", "closed"})
        ::chmod(dir.file(std::string("disc/") + f).c_str(), 0755);
    // Both keep their own record and nothing below them is made up.
    Strings names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings{"e:\\open\\|d.txt", "e:\\|closed", "e:\\|listed", "e:\\|open"}));
    Strings named = tally.named;
    std::sort(named.begin(), named.end());
    EXPECT_EQ(std::tuple(tally.unreadableFolders, named), std::tuple(2, Strings{"e:\\closed\\", "e:\\listed\\"}));
    EXPECT_NE(ScanTallyNotice(tally).find("2 folder(s) could not be read"), std::string::npos);
}

TEST_F(ScanTallyTest, PathsTooDeepAreCountedAndLongNamesAndPathsReopenWhole)
{
    // A 255-character name under a path of 912 characters, and one level too
    // deep for the 1024-character Path field: recorded, not opened, counted.
    std::string rel, storedDir = "e:\\";
    for (int i = 0; i < 9; ++i) {
        rel += std::string(99, 'a') + "\xC5\xBD/";
        storedDir += std::string(99, 'a') + "\xC5\xBD\\";
    }
    const std::string longName = std::string(251, 'n') + ".txt", tooDeep(200, 'b');
    dir.write("disc/" + rel + longName, "x");
    fs::create_directories(dir.path() / "disc" / rel / tooDeep / "inner");
    TDiskLister lister;
    const TScanTally tally = Read(lister, dir.file("disc"));
    EXPECT_EQ(std::tuple(tally.tooDeepPaths, tally.unreadableFolders, tally.named.size()), std::tuple(1, 0, 1u));
    EXPECT_GT(tally.named.at(0).size(), 1024u);
    EXPECT_NE(ScanTallyNotice(tally).find("1 folder(s) lie too deep"), std::string::npos);
    // Into a new file table, saved and read again.
    const std::string file = dir.file("Deep.d");
    {
        auto files = OpenCatalogTable(file, FileTableLayout(), TOpenTableOptions());
        for (table->First(); !table->Eof(); table->Next()) {
            files.table->Append();
            for (const char *f : {"Path", "Name"})
                files.table->FieldByName(f).SetAsString(table->FieldByName(f).AsString());
            files.table->Post();
        }
        files.table->Save();
    }
    const Strings rows = Records(file, {"Path", "Name"});
    EXPECT_EQ(std::count(rows.begin(), rows.end(), storedDir + "|" + longName), 1);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), storedDir + "|" + tooDeep), 1);
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](const std::string &r) { return r.ends_with("|inner"); }))
        << "nothing is stored under a cut path";
}

TEST_F(ScanTallyTest, EverythingReadGivesNoNoticeAndTalliesAdd)
{
    dir.write("disc/a/b.txt", "b");
    TDiskLister lister;
    const TScanTally read = Read(lister, dir.file("disc"));
    EXPECT_EQ(std::tuple(read.Total(), ScanTallyNotice(read)), std::tuple(0, std::string()));
    TScanTally sum, part;
    part.unreadableArchives = 3;
    for (int i = 0; i < 3; ++i)
        part.Name("e:\\z" + std::to_string(i) + ".zip");
    sum.Add(part);
    sum.Add(part);
    EXPECT_EQ(std::tuple(sum.unreadableArchives, sum.named.size()), std::tuple(6, TScanTally::NamedMax));
}

TEST(ScanTextTest, UniqueDiscNamesAndNumbers)
{
    const std::string a60(60, 'A'), a45(45, 'A'), a44(44, 'A');
    std::string czech;
    for (int i = 0; i < 44; ++i)
        czech += "\xC5\xBD"; // Ž
    // Case does not make a name different. A name longer than the field is
    // compared as it will be stored, keeping its closing bracket; widths
    // count characters.
    const std::tuple<std::string, Strings, std::string> names[] = {{"e: [DATA]", {}, "e: [DATA]"},
                 {"e: [DATA]", {"e: [DATA]"}, "e: [DATA]1"},
                 {"e: [DATA]", {"e: [DATA]1", "e: [DATA]"}, "e: [DATA]2"},
                 {"e: [data]", {"E: [DATA]"}, "e: [data]1"},
                 {"e: [čaj]", {"e: [ČAJ]"}, "e: [čaj]1"},
                 {"e: [" + a60 + "]", {}, "e: [" + a45 + "]"},
                 {"e: [" + a60 + "]", {"e: [" + a45 + "]"}, "e: [" + a44 + "]1"},
                 {"e: [" + czech + "]", {}, "e: [" + czech + "]"},
                 {"Album", {"Album"}, "Album1"}};
    for (const auto &[base, taken, expected] : names)
        EXPECT_EQ(MakeUniqueCdName(base, taken), expected) << base;
    // Numbers that are not numbers are passed over.
    const std::pair<Strings, std::string> numbers[] = {
        {{}, "1"}, {{"1", "2", "5"}, "3"}, {{"5", "1", "6"}, "7"}, {{"abc", "1", "x2", ""}, "2"},
        {{"abc"}, "1"}, {{"99999999999999999999999"}, "1"},
        // The largest number is not stepped past (no overflow into a negative number).
        {{"9223372036854775807"}, "9223372036854775807"}};
    for (const auto &[taken, expected] : numbers)
        EXPECT_EQ(NextFreeCdNumber(taken), expected) << taken.size();
}

TEST(ScanTextTest, SizeDriveNameKindAndSerial)
{
    const std::pair<uint64_t, const char *> sizes[] = {
        {0, "0 b"},           {1999, "1999 b"},          {2000, "2000 b"},    {2048, "2 kb"},
        {3000, "2.93 kb"},    {200000, "195.31 kb"},     {1572864, "1.5 mb"}, {700ull << 20, "700 mb"}};
    for (const auto &[size, text] : sizes)
        EXPECT_EQ(ScanSizeText(size), text);
    std::string drive;
    for (const auto &[text, name, letter] : {std::tuple("e: [mydisc]", "mydisc", "e:"),
                                             {"e: []", "Bez názvu", "e:"}, {"", "Bez názvu", ""}})
        EXPECT_EQ(std::tuple(NameFromDriveText(text, &drive), drive), std::tuple(std::string(name), std::string(letter)));
    // A hard disk never carries the serial of a CD read before.
    const std::tuple<int, const char *, uint32_t, int, const char *> kinds[] = {{DRIVE_CDROM, "Audio CD", 77, 2, "77"},          {DRIVE_CDROM, "audio cd", 4294967295u, 0, "4294967295"},
                 {DRIVE_FIXED, "", 5, 1, ""},                     {DRIVE_REMOVABLE, "", 5, 3, ""},
                 {DRIVE_REMOTE, "", 5, 0, ""}};
    std::string serial = "stale";
    for (const auto &[type, label, number, kind, text] : kinds)
        EXPECT_EQ(std::tuple(DiscKindOf(type, label, number, serial), serial), std::tuple(kind, std::string(text)));
}

} // namespace
