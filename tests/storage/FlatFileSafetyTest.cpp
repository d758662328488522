// Table files under failure: saves that cannot finish (a read-only folder, a full disk,
// the program killed half way) leave the table and its ".~d" backup as they were, and
// files written byte by byte by the tests read back as the format says.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"
#include "util/TextCodec.h"

namespace fs = std::filesystem;

namespace {

void AddFields(TFieldDefs &d)
{
    d.Clear(), d.Add("Path", ftString, 255), d.Add("Name", ftString, 50), d.Add("Attrib", ftInteger);
}

// A table file of `count` records whose names start with `tag`.
void MakeTable(const std::string &file, const std::string &tag, int count, bool backup = false)
{
    TFlatTable t;
    AddFields(t.FieldDefs());
    t.Open();
    for (int i = 0; i < count; ++i) {
        t.Append();
        t.FieldByName("Path").SetAsString("e:\\" + tag + "\\folder\\");
        t.FieldByName("Name").SetAsString(tag + std::to_string(i));
        t.FieldByName("Attrib").SetAsInteger(i + 1);
        t.Post();
    }
    if (backup)
        t.SaveOptions |= savAutoBackup;
    t.SaveToFile(file);
}

// Opens a table file and answers its record count and the tag of its first name
// ("" for an empty table); raises when the file does not read.
std::pair<int, std::string> ReadTable(const std::string &file)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::string first;
    t.First();
    if (!t.Eof()) {
        first = t.FieldByName("Name").AsString();
        while (!first.empty() && std::isdigit(static_cast<unsigned char>(first.back())))
            first.pop_back();
    }
    return {t.RecordCount(), first};
}

// This process's start as the file helpers took it, put back after a test has moved it.
const auto started = std::chrono::system_clock::now();

// The leftovers of interrupted saves beside a file.
std::vector<std::string> TempFiles(const fs::path &dir)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.find(".orbalist-tmp-") != std::string::npos)
            out.push_back(n);
    }
    return out;
}

// A small file system of its own, where the machine lets the test mount one.
class SmallFs {
public:
    explicit SmallFs(const std::string &dir, const char *size)
        : dir_(dir), mounted_(::mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + size + ",mode=0777").c_str()) == 0)
    {
    }
    ~SmallFs() { mounted_ && ::umount2(dir_.c_str(), MNT_DETACH); }
    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() const { return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    std::string dir_;
    bool mounted_ = false;
};

// The errno the hook answers, and which temporary file fails: 1 the new table, 2 the backup's.
int g_failWith = 0, g_failAtCall = 0, g_calls = 0;
int FaultHook(const std::string &) { return ++g_calls == g_failAtCall ? g_failWith : 0; }

struct FaultScope {
    FaultScope(int err, int atCall) { g_failWith = err, g_failAtCall = atCall, g_calls = 0, SetFileWriteFaultHook(&FaultHook); }
    ~FaultScope() { SetFileWriteFaultHook(nullptr); }
};

// A table saved twice (so it has a backup) whose two files must survive a failed save as they are.
struct TwoSaves {
    std::string file, backup, table, kept;
    TwoSaves(const std::string &folder, int count) : file(folder + "/cat.d"), backup(folder + "/cat.~d")
    {
        MakeTable(file, "old", count, true);
        MakeTable(file, "good", count, true);
        table = orbtest::readFile(file), kept = orbtest::readFile(backup);
    }
    void ExpectUnchanged() const
    {
        EXPECT_EQ(orbtest::readFile(file), table);
        EXPECT_EQ(orbtest::readFile(backup), kept);
    }
};

std::string SaveError(const std::string &file, const std::string &tag, int count)
{
    try { MakeTable(file, tag, count, true); } catch (const EDatabaseError &e) { return e.what(); }
    return {};
}

} // namespace

TEST(FlatBackup, FailedWritesLeaveTableAndBackupAsTheyWere)
{
    orbtest::TempDir dir;
    const TwoSaves s(dir.str(), 200);
    {
        // The new table cannot be written whole (a full disk half way).
        FaultScope fault(ENOSPC, 1);
        const std::string err = SaveError(s.file, "new", 300);
        EXPECT_NE(err.find(s.file), std::string::npos) << err;
        EXPECT_NE(err.find(std::strerror(ENOSPC)), std::string::npos) << err;
    }
    s.ExpectUnchanged();
    {
        // The backup cannot be made: the save stops before the table is touched, and its message names the backup.
        FaultScope fault(EIO, 2);
        const std::string err = SaveError(s.file, "new", 300);
        EXPECT_NE(err.find(s.backup), std::string::npos) << err;
    }
    s.ExpectUnchanged();
    EXPECT_TRUE(TempFiles(dir.path()).empty());
    EXPECT_EQ(ReadTable(s.backup), (std::pair<int, std::string>{200, "old"}));
}

TEST(FlatBackup, DoubleFailuresSayWhatIsOnTheDiskNow)
{
    orbtest::TempDir dir;
    const TwoSaves s(dir.str(), 50);
    // Every rename of the old table's temporary name fails: over the backup, and back over the table.
    g_calls = 0;
    SetRenameFaultHook([](const std::string &, const std::string &to) {
        if (fs::path(to).filename() == "cat.~d")
            return EIO;
        return fs::path(to).filename() == "cat.d" && g_calls++ > 0 ? EROFS : 0; // the new table goes in
    });
    const std::string err = SaveError(s.file, "new", 60);
    SetRenameFaultHook(nullptr);
    // The new table is in place, the backup as it was, and the old table only under its temporary name.
    EXPECT_EQ(ReadTable(s.file), (std::pair<int, std::string>{60, "new"}));
    EXPECT_EQ(orbtest::readFile(s.backup), s.kept);
    const std::vector<std::string> temps = TempFiles(dir.path());
    ASSERT_EQ(temps.size(), 1u);
    EXPECT_EQ(orbtest::readFile(dir.file(temps[0])), s.table) << "the previous table is kept";
    for (const std::string &part : {std::string("now holds the new table"), s.backup, dir.file(temps[0]),
                                    std::string(std::strerror(EIO)), std::string(std::strerror(EROFS))})
        EXPECT_NE(err.find(part), std::string::npos) << part << " in: " << err;
    EXPECT_EQ(err.find("as they were"), std::string::npos) << err;
}

TEST(FlatBackup, ReadOnlyFolderChangesNothing)
{
    orbtest::TempDir dir;
    const std::string mnt = dir.file("ro");
    fs::create_directory(mnt);
    SmallFs small(mnt, "4m");
    const TwoSaves s(mnt, 20);
    bool readOnly = false;
    if (small.Mounted())
        readOnly = small.MakeReadOnly();
    else if (::geteuid() != 0)
        readOnly = ::chmod(mnt.c_str(), 0555) == 0;
    if (!readOnly)
        GTEST_SKIP() << "no way to make a read-only folder here";
    const std::string err = SaveError(s.file, "new", 30);
    EXPECT_NE(err.find(s.file), std::string::npos) << err;
    s.ExpectUnchanged();
    EXPECT_EQ(ReadTable(s.file), (std::pair<int, std::string>{20, "good"}));
    if (!small.Mounted())
        ::chmod(mnt.c_str(), 0755);
}

TEST(FlatBackup, FullFileSystemKeepsAGoodBackup)
{
    orbtest::TempDir dir;
    const std::string mnt = dir.file("small");
    fs::create_directory(mnt);
    SmallFs small(mnt, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a small file system here (the injected failures cover it)";
    const TwoSaves s(mnt, 200);
    // Fill the disk to the last block.
    {
        std::ofstream fill(mnt + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), std::streamsize(block.size())) && fill.flush()) {
        }
    }
    EXPECT_FALSE(SaveError(s.file, "bigger", 2000).empty());
    s.ExpectUnchanged();
    EXPECT_EQ(ReadTable(s.backup), (std::pair<int, std::string>{200, "old"}));
    EXPECT_TRUE(TempFiles(mnt).empty());
    fs::remove(mnt + "/filler");
    EXPECT_EQ(SaveError(s.file, "bigger", 2000), "");
    EXPECT_EQ(orbtest::readFile(s.backup), s.table);
}

TEST(FlatBackup, KilledDuringSavesLeavesReadableFilesAndOpenClearsTheLeftovers)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("cat.d"), backup = dir.file("cat.~d");
    MakeTable(file, "a", 2000, true);
    MakeTable(file, "b", 2000, true);
    std::mt19937 random(12345);
    for (int trial = 0; trial < 12; ++trial) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                try {
                    MakeTable(file, i % 2 ? "a" : "b", 2000, true);
                } catch (...) {
                    ::_exit(3);
                }
            }
        }
        // Any moment will do: whatever the child was doing, both files must read whole.
        ::usleep(useconds_t(2000 + random() % 40000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed on its own";
        const auto table = ReadTable(file);
        EXPECT_EQ(table.first, 2000);
        EXPECT_TRUE(table.second == "a" || table.second == "b");
        const auto kept = ReadTable(backup);
        EXPECT_EQ(kept.first, 2000);
        // What the kill left was written after this process started: a later start removes it.
        SetProcessStartForTests(std::chrono::system_clock::now() + std::chrono::seconds(5));
        ReadTable(file);
        SetProcessStartForTests(started);
        EXPECT_TRUE(TempFiles(dir.path()).empty()) << "opening the table removed what the kill left";
    }
}

TEST(FlatBackup, OpenRemovesOnlyItsOwnStaleTemporaryFiles)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("cat.d");
    MakeTable(file, "x", 2);
    // The temporary files of this table and its backup go; the user's names (also ones
    // like the temporary names of older versions) and another table's stay.
    const std::pair<const char *, bool> leftovers[] = {
        {"cat.d.orbalist-tmp-Ab3xYz", false}, {"cat.~d.orbalist-tmp-QQ12zz", false},
        {"cat.d.Ab3xYz", true},               {"cat.~d.QQ12zz", true},
        {"cat.d.keep", true},                 {"cat.d.backup", true},
        {"cat.d.2026v1", true},               {"other.d.orbalist-tmp-Ab3xYz", true}};
    for (const auto &[name, stays] : leftovers)
        dir.write(name, "cut short");
    ReadTable(file);
    for (const auto &[name, stays] : leftovers)
        EXPECT_TRUE(fs::exists(dir.file(name))) << name << ": written after this process started";
    SetProcessStartForTests(std::chrono::system_clock::now() + std::chrono::seconds(5));
    {
        // Opened read-only, a table changes nothing beside it.
        TFlatTable t;
        t.SetTableName(file);
        t.ReadOnly = true;
        t.Open();
    }
    for (const auto &[name, stays] : leftovers)
        EXPECT_TRUE(fs::exists(dir.file(name))) << name << ": removed by a read-only open";
    ReadTable(file);
    SetProcessStartForTests(started);
    for (const auto &[name, stays] : leftovers)
        EXPECT_EQ(fs::exists(dir.file(name)), stays) << name;
}

// A table saved when nothing changed would rotate its backup away and touch a file
// other copies of the program watch: Flush and Save leave it alone, byte and time.
TEST(FlatBackup, FlushAndSaveWithoutChangesWriteNothing)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("t.d");
    MakeTable(file, "a", 5, true);
    MakeTable(file, "b", 5, true); // a backup to keep
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    for (const std::string &f : {file, dir.file("t.~d")})
        ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), past, 0), 0);
    auto look = [&] {
        std::vector<std::string> seen;
        for (const auto &e : fs::directory_iterator(dir.path())) {
            struct stat st {};
            ::stat(e.path().c_str(), &st);
            seen.push_back(e.path().filename().string() + " " + std::to_string(st.st_ino) + " " +
                           std::to_string(st.st_mtim.tv_sec) + " " + orbtest::readFile(e.path().string()));
        }
        std::sort(seen.begin(), seen.end());
        return seen;
    };
    const auto before = look();
    TFlatTable t;
    t.SetTableName(file);
    t.SaveOptions |= savAutoBackup;
    t.Open();
    t.Save();
    t.Flush();
    // Looked at and edited without a change.
    t.Last();
    t.Edit();
    t.Cancel();
    t.Flush();
    t.Save();
    EXPECT_EQ(look(), before);
    // A change is written, the backup turning over with it.
    t.Edit();
    t.FieldByName("Attrib").SetAsInteger(99);
    t.Flush();
    EXPECT_NE(look(), before);
    EXPECT_EQ(ReadTable(dir.file("t.~d")).second, "b");
}

// A save given a commit writes the new table and the backup of the old one beside them and
// changes nothing until the commit: then the table and its backup turn over together.
TEST(FlatBackup, SaveInsideACommitChangesNothingUntilTheCommit)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("cat.d"), backup = dir.file("cat.~d");
    MakeTable(file, "old", 3, true);
    MakeTable(file, "good", 4, true);
    const std::string table = orbtest::readFile(file), kept = orbtest::readFile(backup);
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "committed" : "dropped");
        {
            TFileCommit change;
            TFlatTable t;
            t.SetTableName(file);
            t.SaveOptions |= savAutoBackup;
            t.Commit = &change;
            t.Open();
            t.Append();
            t.FieldByName("Name").SetAsString("new");
            t.Post();
            t.Save();
            EXPECT_EQ(orbtest::readFile(file), table);
            EXPECT_EQ(orbtest::readFile(backup), kept);
            EXPECT_EQ(TempFiles(dir.path()).size(), 2u) << "the new table and the old one's backup";
            if (commit) {
                std::string error;
                ASSERT_TRUE(change.Commit(error)) << error;
            }
        }
        EXPECT_TRUE(TempFiles(dir.path()).empty());
        if (commit) {
            EXPECT_EQ(ReadTable(file), std::pair(5, std::string("good")));
            EXPECT_EQ(orbtest::readFile(backup), table);
        } else {
            EXPECT_EQ(orbtest::readFile(file), table);
            EXPECT_EQ(orbtest::readFile(backup), kept);
        }
    }
}

TEST(FlatDamage, OpenErrorNamesTheFileAndTheReason)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("cat.d");
    MakeTable(file, "x", 3);
    const std::string bytes = orbtest::readFile(file);
    const std::string cut = dir.write("cut.d", bytes.substr(0, bytes.size() - 2));
    const std::string empty = dir.write("empty.d", "");
    for (const std::string &name : {cut, empty, dir.file("missing.d")}) {
        TFlatTable t;
        t.SetTableName(name);
        try {
            t.Open();
            ADD_FAILURE() << name << " opened";
        } catch (const EFlatFileError &e) {
            EXPECT_EQ(e.FileName, name);
            EXPECT_FALSE(e.Reason.empty());
            EXPECT_NE(e.Detail().find(name), std::string::npos);
            EXPECT_NE(e.Detail().find(e.Reason), std::string::npos);
        }
        EXPECT_FALSE(t.Active());
    }
    EXPECT_EQ(orbtest::readFile(cut), bytes.substr(0, bytes.size() - 2)) << "a damaged file stays as it was";
}

// ---------------------------------------------------------------------------------------
// Files written byte by byte.

namespace {

void Put32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
}

// A plain image: the description entries (without the 0x14 end) and the records, each
// record given as its already-encoded bytes.
std::string Image(const std::vector<std::string> &entries, const std::vector<std::string> &records)
{
    std::string desc;
    for (const std::string &e : entries)
        desc += e + '\x12';
    desc += '\x14';
    std::string img;
    Put32(img, 0);
    img += 'S';
    Put32(img, uint32_t(records.size()));
    Put32(img, uint32_t(entries.size()));
    Put32(img, uint32_t(desc.size()));
    img += desc;
    for (const std::string &r : records)
        img += r;
    const uint32_t total = uint32_t(img.size());
    std::memcpy(img.data(), &total, 4);
    return img;
}

std::string StringValue(const std::string &bytes)
{
    std::string v;
    Put32(v, uint32_t(bytes.size()));
    return v + bytes;
}

} // namespace

TEST(FlatBytes, StringWithNulReadsToTheNulAndSavesWhatItReads)
{
    orbtest::TempDir dir;
    const std::string file = dir.write(
        "nul.d", Image({"XXX.Name s50", "XXX.Attrib i"},
                       {std::string("\x04\x04", 2) + StringValue(std::string("ab\0cd", 5)) + std::string("\x07\0\0\0", 4)}));
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "ab");
    t.SaveToFile(file);
    const std::string once = orbtest::readFile(file);
    EXPECT_NE(once.find(StringValue("ab")), std::string::npos);
    EXPECT_EQ(once.find("cd"), std::string::npos);
    t.Close();
    t.Open();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "ab");
    t.SaveToFile(file);
    EXPECT_EQ(orbtest::readFile(file), once) << "a load and a save give the same bytes";
    // A text given with a NUL is stored up to it, so it reads back as written.
    t.Edit();
    t.FieldByName("Name").SetAsString(std::string("xy\0z", 4));
    t.Post();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "xy");
}

TEST(FlatBytes, ValueReadIsNeverLongerThanItsWidthInCharacters)
{
    orbtest::TempDir dir;
    std::string z8;
    for (int i = 0; i < 8; ++i) z8 += "\xC5\xBD"; // Ž
    const std::string cp1250 = "\x8E\x8E\x8E\x8E\x8E\x8E\x8E\x8E"; // Ž x 8 in Windows-1250
    const std::string file = dir.write(
        "wide.d", Image({"XXX.Name s5"}, {std::string("\x04", 1) + StringValue(z8),
                                           std::string("\x04", 1) + StringValue(cp1250),
                                           std::string("\x04", 1) + StringValue("abc")}));
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    t.First();
    EXPECT_EQ(t.FieldByName("Name").AsString(), z8.substr(0, 10)) << "five whole characters";
    t.Next();
    // Five characters of the Windows-1250 value: read as the program's text, kept as stored.
    EXPECT_EQ(t.FieldByName("Name").AsString(), z8.substr(0, 10));
    EXPECT_EQ(std::get<std::string>(t.FieldByName("Name").Value()), cp1250.substr(0, 5));
    t.Next();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "abc");
    // The file itself is not cut by a load and a save.
    t.SaveToFile(dir.file("copy.d"));
    EXPECT_EQ(orbtest::readFile(dir.file("copy.d")), orbtest::readFile(file));
}

TEST(FlatBytes, FieldsDifferingOnlyInCaseAreAllKept)
{
    orbtest::TempDir dir;
    const std::string file = dir.write(
        "twins.d", Image({"XXX.Name s10", "XXX.NAME i", "XXX.name s10"},
                         {std::string("\x04\x04\x04", 3) + StringValue("first") + std::string("\x07\0\0\0", 4) +
                          StringValue("third")}));
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    ASSERT_EQ(t.FieldCount(), 3);
    EXPECT_EQ(t.Fields(0).AsString(), "first");
    EXPECT_EQ(t.Fields(1).AsInteger(), 7);
    EXPECT_EQ(t.Fields(2).AsString(), "third");
    EXPECT_EQ(&t.FieldByName("NAME"), &t.Fields(0)) << "lookups by name find the first";
    t.Edit();
    t.Fields(2).SetAsString("changed");
    t.Post();
    EXPECT_EQ(t.Fields(0).AsString(), "first");
    t.SaveToFile(file);
    t.Close();
    t.Open();
    EXPECT_EQ(t.Fields(1).AsInteger(), 7);
    EXPECT_EQ(t.Fields(2).AsString(), "changed");
}

TEST(FlatBytes, WindowsPasswordOpensWithTheSameTextTypedHere)
{
    orbtest::TempDir dir;
    const std::string typed = "\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD"; // "žluťoučký" in UTF-8
    const std::string windows = Utf8ToCp1250(typed);
    ASSERT_NE(windows, typed);
    // A protected table keyed with the Windows-1250 bytes, as a Windows catalogue is.
    {
        TFlatCursor c;
        std::string err;
        ASSERT_TRUE(c.ReadImage(Image({"XXX.Name s20"}, {}), err)) << err;
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[0], "secret");
        ASSERT_TRUE(c.PutRecord(r, nullptr, err)) << err;
        c.Password = windows;
        ASSERT_TRUE(c.SaveToFile(dir.file("p.d"), 0, false, "", err)) << err;
    }
    FlatSession().RemovePassword(windows);
    const auto savedPrompt = FlatSession().OnPassword;
    int asked = 0;
    FlatSession().OnPassword = [&](std::string &answer) { return ++asked, answer = typed, true; };
    {
        TFlatTable t;
        t.SetTableName(dir.file("p.d"));
        t.Open();
        EXPECT_EQ(t.FieldByName("Name").AsString(), "secret");
        EXPECT_EQ(asked, 1);
        // The next save keeps the form that opened it.
        t.Edit();
        t.FieldByName("Name").SetAsString("still secret");
        t.Post();
        t.Save();
    }
    FlatSession().OnPassword = savedPrompt;
    FlatSession().RemovePassword(typed);
    FlatSession().RemovePassword(windows);
    TFlatCursor again;
    again.Password = windows;
    std::string err;
    EXPECT_TRUE(again.ReadImage(orbtest::readFile(dir.file("p.d")), err)) << err;
}

TEST(FlatBytes, TableOfTheMostFieldsOpensAndFindsEachByName)
{
    // The widest table the format allows; every field is found by name.
    constexpr int count = 65535;
    std::vector<std::string> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i)
        entries.push_back("XXX.F" + std::to_string(i) + " i");
    std::string record(size_t(count), '\0');
    record[size_t(count - 1)] = 4;
    Put32(record, 99);
    orbtest::TempDir dir;
    const std::string file = dir.write("wide.d", Image(entries, {record}));
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    ASSERT_EQ(t.FieldCount(), count);
    EXPECT_EQ(t.FieldByName("f65534").AsInteger(), 99);
    EXPECT_EQ(t.FieldByName("F0").AsInteger(), 0);
    EXPECT_EQ(t.FindField("F65535"), nullptr);
}
