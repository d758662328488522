// The zip lister against archives made by zip and checked against Python's
// zipfile, and against hand-built and damaged archives.
#include "archive/ZipFixtures.h"
#include "archive/ZipLstr.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <sys/stat.h>

using namespace ziptest;

namespace {

struct Recorded {
    std::vector<std::pair<int, std::string>> Messages;
    std::vector<int> SeqNos;
    int DirUpdates = 0;
};

void Record(TZipLister &z, Recorded &r)
{
    z.OnMessage = [&r](TZipLister *, int code, const std::string &text) { r.Messages.emplace_back(code, text); };
    z.OnNewName = [&r](TZipLister *, int seq, const ZipDirEntry &) { r.SeqNos.push_back(seq); };
    z.OnDirUpdate = [&r](TZipLister *) { ++r.DirUpdates; };
}

// A lister with its error boxes off and its events recorded.
struct Quiet {
    Quiet()
    {
        z.ShowErrMsg = false;
        Record(z, r);
    }
    TZipLister z;
    Recorded r;
};

bool HasMessage(const Recorded &r, int code)
{
    return std::any_of(r.Messages.begin(), r.Messages.end(), [code](const auto &m) { return m.first == code; });
}

// The lister's entries against Python's listing: same files in the same
// order, folders left out unless asked for.
void ExpectSameAsPython(const TZipLister &z, const PyListing &py, bool withDirs = false)
{
    std::vector<PyEntry> want;
    for (const auto &e : py.Entries)
        if (withDirs || !e.IsDir)
            want.push_back(e);
    ASSERT_EQ(z.Count(), static_cast<int>(want.size()));
    for (int i = 0; i < z.Count(); ++i) {
        const ZipDirEntry &e = z.ZipContents(i);
        SCOPED_TRACE(e.FileName);
        EXPECT_EQ(e.FileName, want[i].Name);
        EXPECT_EQ(e.UncompressedSize, want[i].Size);
        EXPECT_NEAR(DosDateTimeToDateTime(e.DateTime), want[i].DateTime, 1e-7);
        EXPECT_EQ(e.ExtFileAttrib, want[i].ExternalAttr);
        EXPECT_EQ(e.IsDirectory(), want[i].IsDir);
    }
}

// A folder with a few files, a sub-folder and an empty folder.
void MakeTree(const orbtest::TempDir &t)
{
    t.write("src/readme.txt", "read me\n");
    t.write("src/docs/guide.txt", std::string(5000, 'g'));
    t.write("src/docs/deep/x.bin", std::string(70000, '\x01'));
    std::filesystem::create_directories(t.path() / "src/empty");
}

std::string Zip(const orbtest::TempDir &t, const std::string &name, std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"-q", "-r", "-X"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(name);
    args.push_back("src");
    RunTool("zip", args, t.str());
    return t.file(name);
}

} // namespace

TEST(ZipLister, PlainArchiveListsLikePython)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string path = Zip(t, "plain.zip");
    Quiet q;
    auto &[z, r] = q;
    z.SetZipFileName(path);
    const PyListing py = PythonZipListing(path);
    ExpectSameAsPython(z, py);
    EXPECT_EQ(z.DirOnlyCount(), 4); // src/, src/docs/, src/docs/deep/, src/empty/
    EXPECT_EQ(z.SFXOffset(), 0);
    EXPECT_FALSE(z.IsSpanned());
    EXPECT_TRUE(r.Messages.empty());
    EXPECT_EQ(r.DirUpdates, 1);
    EXPECT_EQ(r.SeqNos, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(z.ZipFileName(), path);

    z.UseDirOnlyEntries = true;
    z.List();
    ExpectSameAsPython(z, py, true);
    EXPECT_EQ(z.DirOnlyCount(), 0);
    EXPECT_TRUE(z.ZipContents(0).IsDirectory());
}

TEST(ZipLister, FolderEntryAndFileInIt)
{
    orbtest::TempDir t;
    t.write("dir/a.txt", "a");
    RunTool("zip", {"-q", "-r", "f.zip", "dir"}, t.str());
    TZipLister z;
    z.SetZipFileName(t.file("f.zip"));
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ZipContents(0).FileName, "dir\\a.txt");
    EXPECT_EQ(z.DirOnlyCount(), 1);
}

TEST(ZipLister, CommentFoundByBackwardSearch)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string path = Zip(t, "c.zip");
    const std::string comment(100, 'C');
    // zip -z reads the comment from its standard input; Python writes it here.
    RunTool("python3", {"-c", "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'a')\nz.comment=b'C'*100\nz.close()", path},
            t.str());
    Quiet q;
    auto &[z, r] = q;
    z.SetZipFileName(path);
    const PyListing py = PythonZipListing(path);
    EXPECT_EQ(py.Comment, comment);
    ExpectSameAsPython(z, py);
    EXPECT_EQ(z.ZipComment(), comment);
    EXPECT_TRUE(r.Messages.empty());
}

TEST(ZipLister, StubInFrontWithAndWithoutOffsetAdjustment)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string inner = Zip(t, "inner.zip");
    const std::string stub(3000, 'S');
    const std::string sfx = t.write("sfx.zip", stub + orbtest::readFile(inner));
    {
        Quiet q;
        auto &[z, r] = q;
        z.SetZipFileName(sfx);
        ExpectSameAsPython(z, PythonZipListing(inner));
        EXPECT_EQ(z.SFXOffset(), 3000);
        EXPECT_TRUE(HasMessage(r, ZipMsg::LI_WrongZipStruct)); // data in front, offsets not adjusted
    }
    const std::string adjusted = t.write("adj.zip", stub + orbtest::readFile(inner));
    RunTool("zip", {"-q", "-A", "adj.zip"}, t.str());
    {
        Quiet q;
        auto &[z, r] = q;
        z.SetZipFileName(adjusted);
        ExpectSameAsPython(z, PythonZipListing(adjusted));
        EXPECT_EQ(z.SFXOffset(), 3000);
        EXPECT_FALSE(HasMessage(r, ZipMsg::LI_WrongZipStruct));
    }
}

TEST(ZipLister, TrailingBytes)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string bytes = orbtest::readFile(Zip(t, "z.zip"));
    const PyListing py = PythonZipListing(t.file("z.zip"));
    struct Case {
        const char *name;
        std::string tail;
        bool garbage;
    };
    const size_t toBlock = (512 - bytes.size() % 512) % 512;
    ASSERT_GT(toBlock, 0u);
    const std::vector<Case> cases = {
        {"garbage", "this is not part of the zip", true},
        {"zero padding to 512", std::string(toBlock, '\0'), false},
        {"zeros not ending on 512", std::string(toBlock == 1 ? 2 : toBlock - 1, '\0'), true},
        {"padding with a non-zero byte", std::string(toBlock - 1, '\0') + "x", true},
        {"a whole block of zeros", std::string(toBlock + 512, '\0'), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = t.write(std::string("tail-") + std::to_string(&c - cases.data()) + ".zip",
                                         bytes + c.tail);
        Quiet q;
        auto &[z, r] = q;
        z.SetZipFileName(path);
        ExpectSameAsPython(z, py);
        EXPECT_EQ(HasMessage(r, ZipMsg::LI_GarbageAtEOF), c.garbage);
        EXPECT_FALSE(HasMessage(r, ZipMsg::LI_WrongZipStruct));
    }
}

TEST(ZipLister, NotAZip)
{
    orbtest::TempDir t;
    const std::string path = t.write("x.zip", std::string(3000, 'n'));
    TZipLister z;
    Recorded r;
    Record(z, r);
    z.ShowErrMsg = false;
    z.SetZipFileName(path);
    EXPECT_EQ(z.Count(), 0);
    EXPECT_TRUE(r.Messages.empty());
    EXPECT_EQ(r.DirUpdates, 1);

    // With messages on the same file is reported, and nothing is listed.
    z.ShowErrMsg = true;
    z.SetZipFileName(path);
    EXPECT_EQ(z.Count(), 0);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].first, ZipMsg::DS_NoValidZip);
    EXPECT_EQ(z.ErrCode(), ZipMsg::DS_NoValidZip);
    EXPECT_TRUE(z.ZipFileName().empty());

    // A missing file, a folder or a pipe: no listing, no message, the update event only.
    ASSERT_EQ(::mkfifo(t.file("pipe.zip").c_str(), 0600), 0);
    std::filesystem::create_directories(t.file("folder.zip"));
    for (const char *name : {"missing.zip", "pipe.zip", "folder.zip"}) {
        r = {};
        z.SetZipFileName(t.file(name));
        EXPECT_EQ(z.Count(), 0);
        EXPECT_TRUE(r.Messages.empty());
        EXPECT_EQ(r.DirUpdates, 1);
    }
}

TEST(ZipLister, SplitSetInBothNamings)
{
    orbtest::TempDir t;
    // Enough members with long names that the central directory itself
    // spreads over more than one piece.
    for (int i = 0; i < 1400; ++i)
        t.write("src/member-with-a-rather-long-name-number-" + std::to_string(i) + ".txt", std::to_string(i));
    t.write("src/big.bin", std::string(150000, 'b'));
    Zip(t, "split.zip", {"-s", "64k"});
    RunTool("zip", {"-q", "-s", "0", "split.zip", "--out", "joined.zip"}, t.str());
    const PyListing py = PythonZipListing(t.file("joined.zip"));
    ASSERT_EQ(py.Entries.size(), 1402u);
    ASSERT_TRUE(std::filesystem::exists(t.file("split.z02")));

    Quiet q;
    auto &[z, r] = q;
    z.SetZipFileName(t.file("split.zip"));
    EXPECT_TRUE(r.Messages.empty()) << (r.Messages.empty() ? "" : r.Messages[0].second);
    ExpectSameAsPython(z, py);
    EXPECT_TRUE(z.IsSpanned());
    EXPECT_GE(z.TotalDisks(), 3);

    // The same pieces named set001.zip, set002.zip ...: the last one is opened.
    int pieces = z.TotalDisks();
    for (int d = 1; d <= pieces; ++d) {
        char from[32], to[32];
        std::snprintf(from, sizeof from, d == pieces ? "split.zip" : "split.z%02d", d);
        std::snprintf(to, sizeof to, "set%03d.zip", d);
        std::filesystem::copy_file(t.file(from), t.file(to));
    }
    char last[32];
    std::snprintf(last, sizeof last, "set%03d.zip", pieces);
    TZipLister n;
    n.ShowErrMsg = false;
    n.SetZipFileName(t.file(last));
    ExpectSameAsPython(n, py);

    // The pieces in front of the last missing: an error, nothing listed.
    for (int d = 1; d < pieces; ++d) {
        char a[32], b[32];
        std::snprintf(a, sizeof a, "set%03d.zip", d);
        std::snprintf(b, sizeof b, "split.z%02d", d);
        std::filesystem::remove(t.file(a));
        std::filesystem::remove(t.file(b));
    }
    Recorded r2;
    Record(n, r2);
    n.SetZipFileName(t.file(last));
    EXPECT_EQ(n.Count(), 0);
    EXPECT_TRUE(HasMessage(r2, ZipMsg::DS_FileOpen));
}

TEST(ZipLister, SpannedSetOnRemovableMediaAsksForDisks)
{
    orbtest::TempDir t;
    for (int i = 0; i < 1400; ++i)
        t.write("src/member-with-a-rather-long-name-number-" + std::to_string(i) + ".txt", std::to_string(i));
    Zip(t, "split.zip", {"-s", "64k"});
    RunTool("zip", {"-q", "-s", "0", "split.zip", "--out", "joined.zip"}, t.str());
    const PyListing py = PythonZipListing(t.file("joined.zip"));
    int pieces = 1;
    while (std::filesystem::exists(t.file("split.z" + std::string(pieces < 10 ? "0" : "") + std::to_string(pieces))))
        ++pieces;
    ASSERT_GE(pieces, 2);
    auto pieceFile = [&](int disk) {
        char n[32];
        std::snprintf(n, sizeof n, disk + 1 == pieces ? "split.zip" : "split.z%02d", disk + 1);
        return t.file(n);
    };
    // The "drive" holds one disk at a time: the file at `media` and its label.
    const std::string media = t.file("media.zip");
    std::string label;
    auto insert = [&](int disk) {
        std::filesystem::copy_file(pieceFile(disk), media, std::filesystem::copy_options::overwrite_existing);
        char l[32];
        std::snprintf(l, sizeof l, "PKBACK# %03d", disk + 1);
        label = l;
    };
    TZipLister::DriveQuery = [&](const std::string &) { return ZipDriveInfo{true, true, label}; };
    struct Restore {
        ~Restore()
        {
            TZipLister::DriveQuery = nullptr;
            TZipLister::AskOkCancel = nullptr;
        }
    } restore;

    std::vector<std::pair<int, int>> asked;
    TZipLister z;
    z.ShowErrMsg = false;
    z.OnGetNextDisk = [&](TZipLister *, int want, int total, const std::string &, bool &) {
        asked.emplace_back(want, total);
        insert(want - 1);
    };
    insert(pieces - 1);
    z.SetZipFileName(media);
    ExpectSameAsPython(z, py);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front().second, pieces);

    // Cancelled by the event, refused by the box, unattended, no box at all.
    Recorded r;
    Record(z, r);
    z.OnGetNextDisk = [](TZipLister *, int, int, const std::string &, bool &abort) { abort = true; };
    insert(pieces - 1);
    z.SetZipFileName(media);
    EXPECT_EQ(z.Count(), 0);
    EXPECT_EQ(z.ErrCode(), ZipMsg::DS_Canceled);

    z.OnGetNextDisk = nullptr;
    std::string prompt;
    TZipLister::AskOkCancel = [&](const std::string &text) {
        prompt = text;
        return 0;
    };
    insert(pieces - 1);
    z.SetZipFileName(media);
    EXPECT_EQ(z.ErrCode(), ZipMsg::DS_Canceled);
    EXPECT_NE(prompt.find("Please insert disk volume"), std::string::npos) << prompt;
    EXPECT_NE(prompt.find("\r\nin drive: "), std::string::npos) << prompt;

    TZipLister::AskOkCancel = nullptr;
    insert(pieces - 1);
    z.SetZipFileName(media);
    EXPECT_EQ(z.ErrCode(), ZipMsg::DS_NoVolume);

    z.Unattended = true;
    insert(pieces - 1);
    z.SetZipFileName(media);
    EXPECT_EQ(z.ErrCode(), ZipMsg::DS_NoUnattSpan);
    EXPECT_EQ(z.Count(), 0);
}

TEST(ZipLister, NamesAndTheirCodePages)
{
    orbtest::TempDir t;
    std::vector<HandMember> m(4);
    m[0].RawName = "utf/\xC5\xA1\xC4\x8D.txt"; // "šč" with the UTF-8 flag
    m[0].Flags = 0x0800;
    m[0].Host = 0;
    m[1].RawName = "fat/\xE7\x9F.txt";         // "šč" in DOS code page 852 from a FAT host
    m[1].Host = 0;
    m[2].RawName = "unix/\x9A\xE8.txt";        // "šč" in Windows-1250 from a Unix host
    m[2].Host = 3;
    m[3].RawName = "ntfs/\xE7\x9F.txt";        // NTFS host, made by version 5.0: OEM too
    m[3].Host = 11;
    m[3].MadeBy = 50;
    const std::string path = t.write("names.zip", BuildZip(m));
    ASSERT_EQ(PythonZipListing(path).Entries.size(), 4u); // a real zip
    TZipLister z;
    z.SetZipFileName(path);
    ASSERT_EQ(z.Count(), 4);
    EXPECT_EQ(z.ZipContents(0).FileName, "utf\\\xC5\xA1\xC4\x8D.txt");
    EXPECT_EQ(z.ZipContents(1).FileName, "fat\\\xC5\xA1\xC4\x8D.txt");
    EXPECT_EQ(z.ZipContents(2).FileName, "unix\\\xC5\xA1\xC4\x8D.txt");
    EXPECT_EQ(z.ZipContents(3).FileName, "ntfs\\\xC5\xA1\xC4\x8D.txt");

    // cpNone keeps a FAT name as stored (then read as Windows-1250); cpOEM
    // takes every name as OEM.
    z.CodePage = TZipCodePage::cpNone;
    z.List();
    EXPECT_EQ(z.ZipContents(1).FileName, "fat\\\xC3\xA7\xC5\xBA.txt"); // 0xE7 0x9F in Windows-1250
    z.CodePage = TZipCodePage::cpOEM;
    z.List();
    EXPECT_EQ(z.ZipContents(2).FileName, "unix\\\xC3\x9C\xC5\x94.txt"); // 0x9A 0xE8 in 852: "ÜŔ"
}

TEST(ZipLister, OemTableMatchesPython)
{
    orbtest::TempDir t;
    std::string all;
    for (int c = 0x80; c <= 0xFF; ++c)
        all += static_cast<char>(c);
    std::vector<HandMember> m(1);
    m[0].RawName = all;
    m[0].Host = 0;
    const std::string path = t.write("oem.zip", BuildZip(m));
    const std::string want = RunTool("python3", {"-c", "import sys\nsys.stdout.buffer.write(bytes(range(128,256)).decode('cp852').encode('utf-8'))"}, t.str());
    TZipLister z;
    z.SetZipFileName(path);
    ASSERT_EQ(z.Count(), 1);
    std::string got = z.ZipContents(0).FileName;
    EXPECT_EQ(got, want);
}

TEST(ZipLister, Zip64SizesAndInvalidDates)
{
    orbtest::TempDir t;
    std::vector<HandMember> m(3);
    m[0].RawName = "huge.iso";
    m[0].Data = "x";
    Put16(m[0].Extra, 1);
    Put16(m[0].Extra, 16);
    Put64(m[0].Extra, 5ull << 30); // uncompressed
    Put64(m[0].Extra, 4ull << 30); // compressed
    m[1].RawName = "nodate.txt";
    m[1].DosDate = 0;
    m[1].DosTime = 0;
    m[2].RawName = "month13.txt";
    m[2].DosDate = static_cast<uint16_t>((45 << 9) | (13 << 5) | 1);
    const std::string path = t.write("z64.zip", BuildZip(m));
    const PyListing py = PythonZipListing(path);
    TZipLister z;
    z.ShowErrMsg = false;
    z.SetZipFileName(path);
    ExpectSameAsPython(z, py);
    ASSERT_EQ(z.Count(), 3);
    EXPECT_EQ(z.ZipContents(0).UncompressedSize, 5ull << 30);
    EXPECT_EQ(z.ZipContents(0).CompressedSize, 4ull << 30);
    EXPECT_EQ(DosDateTimeToDateTime(z.ZipContents(1).DateTime), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(z.ZipContents(2).DateTime), 0.0);
}

TEST(ZipLister, DosDates)
{
    auto date = [](int y, int mo, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d); };
    auto time = [](int h, int mi, int s) { return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)); };
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(2000, 1, 1), 0), 36526.0);
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(1980, 1, 1), time(12, 0, 0)), 29221.5);
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(2024, 2, 29), 0), 45351.0);
    EXPECT_GT(DosDateTimeToDateTime(date(2107, 12, 31), time(23, 59, 58)), 75000.0);
    // Impossible values are "no date".
    EXPECT_EQ(DosDateTimeToDateTime(0, 0), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2001, 13, 1), 0), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2023, 2, 29), 0), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2100, 2, 29), 0), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2001, 4, 31), 0), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2001, 1, 1), time(24, 0, 0)), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2001, 1, 1), static_cast<uint16_t>(60 << 5)), 0.0);
    EXPECT_EQ(DosDateTimeToDateTime(date(2001, 1, 1), static_cast<uint16_t>(30)), 0.0); // second 60
}

TEST(ZipLister, DamagedLengthsAndOffsets)
{
    orbtest::TempDir t;
    std::vector<HandMember> m(2);
    m[0].RawName = "a.txt";
    m[0].Data = "aaaa";
    m[1].RawName = "b.txt";
    m[1].Data = "bb";
    const std::string good = BuildZip(m, "hello");
    const size_t end = good.size() - 5 - 22;

    // A comment length longer than the file: the comment is what is there.
    std::string longComment = good;
    longComment[end + 20] = '\xFF';
    longComment[end + 21] = '\x7F';
    {
        TZipLister z;
        z.ShowErrMsg = false;
        z.SetZipFileName(t.write("long.zip", longComment));
        EXPECT_EQ(z.Count(), 2);
        EXPECT_EQ(z.ZipComment(), "hello");
    }
    // A directory size larger than everything in front of the end record:
    // the offset would be negative.
    std::string bigDir = good;
    bigDir[end + 15] = '\x10';
    {
        Quiet q;
        auto &[z, r] = q;
        z.SetZipFileName(t.write("bigdir.zip", bigDir));
        EXPECT_EQ(z.Count(), 0);
        EXPECT_TRUE(HasMessage(r, ZipMsg::DS_SeekError));
        EXPECT_EQ(z.SFXOffset(), 0);
    }
    // More entries than the directory holds.
    std::string moreEntries = good;
    moreEntries[end + 10] = 3;
    {
        Quiet q;
        auto &[z, r] = q;
        z.SetZipFileName(t.write("more.zip", moreEntries));
        EXPECT_EQ(z.Count(), 0);
        EXPECT_TRUE(HasMessage(r, ZipMsg::DS_CEHWrongSig) || HasMessage(r, ZipMsg::DS_CEHBadRead));
    }
    // A spanned end record whose directory lies on a disk past its end.
    std::string farDisk = good;
    farDisk[end + 4] = 1;
    farDisk[end + 16] = '\xFF';
    farDisk[end + 17] = '\xFF';
    {
        TZipLister z;
        z.ShowErrMsg = false;
        z.SetZipFileName(t.write("far.zip", farDisk));
        EXPECT_EQ(z.Count(), 0);
        EXPECT_NE(z.ErrCode(), 0);
    }
}

TEST(ZipLister, EveryTruncationAndCorruption)
{
    orbtest::TempDir t;
    MakeTree(t);
    std::map<std::string, std::string> fixtures;
    fixtures["plain"] = orbtest::readFile(Zip(t, "plain.zip"));
    RunTool("python3", {"-c", "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'a')\nz.comment=b'remark'\nz.close()",
                        t.file("plain.zip")},
            t.str());
    fixtures["comment"] = orbtest::readFile(t.file("plain.zip"));
    fixtures["sfx"] = std::string(700, 'S') + fixtures["plain"];
    t.write("adj.zip", fixtures["sfx"]);
    RunTool("zip", {"-q", "-A", "adj.zip"}, t.str());
    fixtures["sfx adjusted"] = orbtest::readFile(t.file("adj.zip"));
    fixtures["garbage"] = fixtures["plain"] + "trailing garbage";
    fixtures["zero padded"] = fixtures["plain"] + std::string((512 - fixtures["plain"].size() % 512) % 512, '\0');
    std::vector<HandMember> m(1);
    m[0].RawName = "huge";
    Put16(m[0].Extra, 1);
    Put16(m[0].Extra, 16);
    Put64(m[0].Extra, 1ull << 40);
    Put64(m[0].Extra, 1ull << 40);
    fixtures["zip64"] = BuildZip(m);

    std::map<std::string, std::vector<std::string>> fullNames;
    for (const auto &[name, bytes] : fixtures) {
        TZipLister z;
        z.ShowErrMsg = false;
        z.SetZipFileName(t.write(name + ".full", bytes));
        ASSERT_GT(z.Count(), 0) << name;
        for (int i = 0; i < z.Count(); ++i)
            fullNames[name].push_back(z.ZipContents(i).FileName);
    }
    const std::string cut = t.file("cut.zip");
    for (const auto &[name, bytes] : fixtures) {
        SCOPED_TRACE(name);
        TZipLister z;
        z.ShowErrMsg = true; // every message path runs, without a box
        for (size_t len = 0; len < bytes.size(); ++len) {
            t.write("cut.zip", bytes.substr(0, len));
            z.SetZipFileName(cut);
            // Whatever is listed from a cut archive is a member of the whole one.
            for (int i = 0; i < z.Count(); ++i) {
                const auto &names = fullNames[name];
                EXPECT_NE(std::find(names.begin(), names.end(), z.ZipContents(i).FileName), names.end())
                    << "length " << len;
            }
        }
        // Every byte of the central directory and end record set to 0xFF in turn.
        const size_t from = bytes.size() > 600 ? bytes.size() - 600 : 0;
        for (size_t pos = from; pos < bytes.size(); ++pos) {
            std::string bad = bytes;
            bad[pos] = '\xFF';
            t.write("cut.zip", bad);
            z.SetZipFileName(cut);
            EXPECT_LE(z.Count(), static_cast<int>(fullNames[name].size()) + 1);
        }
    }
}

TEST(ZipLister, MessagesAndProperties)
{
    EXPECT_EQ(ZipMessageText(ZipMsg::SF_NoSFXSupport), "SFX not supported");
    EXPECT_EQ(ZipMessageText(12345), "ZipMsgs.res is probably not linked to the executable\nMissing String ID is: 12345");

    TZipLister z;
    EXPECT_EQ(z.Count(), 0);

    // An error box is shown only with ShowErrMsg on and Unattended off.
    orbtest::TempDir t;
    const std::string path = t.write("n.zip", "not a zip at all, not at all, not at all");
    int boxes = 0;
    TZipLister::ShowMessageBox = [&](const std::string &) { ++boxes; };
    z.SetZipFileName(path);
    EXPECT_EQ(boxes, 1);
    z.Unattended = true;
    z.SetZipFileName(path);
    EXPECT_EQ(boxes, 1);
    z.Unattended = false;
    z.ShowErrMsg = false;
    z.SetZipFileName(path);
    EXPECT_EQ(boxes, 1);
    TZipLister::ShowMessageBox = nullptr;
}

namespace {

// `zip` (made by BuildZip, no comment) with a zip64 end record and its
// locator put in front of the end record, whose values stay as they are.
// `extensible` bytes of extensible data lengthen the zip64 record; `stub`
// bytes go in front of the whole archive without moving any offset.
std::string WithZip64End(const std::string &zip, size_t extensible, size_t stub)
{
    const size_t endPos = zip.size() - 22;
    auto u16 = [&](size_t p) { return uint16_t(uint8_t(zip[p]) | uint8_t(zip[p + 1]) << 8); };
    auto u32 = [&](size_t p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; };
    std::string rec;
    Put32(rec, 0x06064B50);
    Put64(rec, 44 + extensible);
    Put16(rec, 45);
    Put16(rec, 45);
    Put32(rec, 0);
    Put32(rec, 0);
    Put64(rec, u16(endPos + 8));
    Put64(rec, u16(endPos + 10));
    Put64(rec, u32(endPos + 12));
    Put64(rec, u32(endPos + 16));
    rec += std::string(extensible, 'x');
    std::string loc;
    Put32(loc, 0x07064B50);
    Put32(loc, 0);
    Put64(loc, endPos);
    Put32(loc, 1);
    return std::string(stub, 'S') + zip.substr(0, endPos) + rec + loc + zip.substr(endPos);
}

} // namespace

TEST(ZipLister, Zip64EndRecordIsUsedWheneverItsLocatorStandsThere)
{
    orbtest::TempDir t;
    // Written from a pipe: zip adds the zip64 records but keeps true values
    // in the normal end record.
    RunTool("sh", {"-c", "printf 'streamed data' | zip -q s.zip -"}, t.str());
    {
        Quiet q;
        q.z.SetZipFileName(t.file("s.zip"));
        ExpectSameAsPython(q.z, PythonZipListing(t.file("s.zip")));
        ASSERT_EQ(q.z.Count(), 1);
        EXPECT_EQ(q.z.ZipContents(0).UncompressedSize, 13u);
        EXPECT_TRUE(q.z.DirectoryRead());
        EXPECT_TRUE(q.r.Messages.empty()) << q.r.Messages.front().first;
        EXPECT_EQ(q.z.SFXOffset(), 0);
    }

    std::vector<HandMember> m(2);
    m[0].RawName = "dir/a.txt";
    m[0].Data = "first member";
    m[1].RawName = "b.bin";
    m[1].Data = std::string(300, 'b');
    const std::string zip = BuildZip(m);
    for (size_t extensible : {size_t(0), size_t(24)}) {
        SCOPED_TRACE(extensible);
        const std::string path = t.write("h.zip", WithZip64End(zip, extensible, 0));
        Quiet q;
        q.z.SetZipFileName(path);
        // Python's zipfile takes the zip64 record from a fixed place only.
        if (extensible == 0)
            ExpectSameAsPython(q.z, PythonZipListing(path));
        ASSERT_EQ(q.z.Count(), 2);
        EXPECT_EQ(q.z.ZipContents(1).UncompressedSize, 300u);
        EXPECT_TRUE(q.r.Messages.empty());
        EXPECT_EQ(q.z.SFXOffset(), 0);
    }
    // A stub in front moves every stored offset: the zip64 record is then
    // found where it must lie, and the stub is the data in front.
    const std::string path = t.write("sfx.zip", WithZip64End(zip, 0, 100));
    Quiet q;
    q.z.SetZipFileName(path);
    ASSERT_EQ(q.z.Count(), 2);
    EXPECT_EQ(q.z.ZipContents(0).FileName, "dir\\a.txt");
    EXPECT_EQ(q.z.SFXOffset(), 100);
    EXPECT_TRUE(HasMessage(q.r, ZipMsg::LI_WrongZipStruct));
    EXPECT_FALSE(HasMessage(q.r, ZipMsg::DS_CEHWrongSig));

    // Every corrupted byte of the zip64 records and the end record ends cleanly.
    const std::string z64 = WithZip64End(zip, 8, 0);
    for (size_t i = z64.size() - 22 - 20 - 64; i < z64.size(); ++i) {
        for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            std::string bad = z64;
            bad[i] = char(uint8_t(bad[i]) ^ flip);
            Quiet b;
            b.z.SetZipFileName(t.write("bad.zip", bad));
            EXPECT_LE(b.z.Count(), 2) << i;
            EXPECT_EQ(b.r.DirUpdates, 1) << i;
        }
    }
}

TEST(ZipLister, DirectoryReadTellsAReadArchiveFromAnUnreadableOne)
{
    orbtest::TempDir t;
    Quiet q;
    q.z.SetZipFileName(t.write("empty.zip", BuildZip({})));
    EXPECT_TRUE(q.z.DirectoryRead()) << "an archive without members was read";
    EXPECT_EQ(q.z.Count(), 0);
    q.z.SetZipFileName(t.write("junk.zip", "no archive at all"));
    EXPECT_FALSE(q.z.DirectoryRead());
    std::vector<HandMember> m(1);
    m[0].RawName = "a.txt";
    m[0].Data = "a";
    std::string bad = BuildZip(m);
    bad[bad.size() - 22 - 46 - 5] = 'X'; // the central header's signature
    q.z.SetZipFileName(t.write("bad.zip", bad));
    EXPECT_FALSE(q.z.DirectoryRead());
    EXPECT_EQ(q.z.Count(), 0);
    q.z.SetZipFileName(t.file("a.zip-missing"));
    EXPECT_FALSE(q.z.DirectoryRead());
}
