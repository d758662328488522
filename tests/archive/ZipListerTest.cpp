// The zip lister against archives made by zip and checked against Python's
// zipfile, and against hand-built and damaged archives.
#include "archive/ZipFixtures.h"
#include "archive/ZipLstr.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Designated initializers leave the fields not named at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace ziptest;
namespace fs = std::filesystem;

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
    fs::create_directories(t.path() / "src/empty");
}

// Python sets the archive comment (zip -z reads it from its standard input).
void SetComment(const orbtest::TempDir &t, const std::string &path, const std::string &pyBytes)
{
    RunTool("python3", {"-c", "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'a')\nz.comment=" + pyBytes +
                                  "\nz.close()", path}, t.str());
}

// A zip64 extra field with both sizes.
std::string Zip64Extra(uint64_t unp, uint64_t comp)
{
    std::string e;
    Put16(e, 1);
    Put16(e, 16);
    Put64(e, unp);
    Put64(e, comp);
    return e;
}

// A file of the test's folder listed by a quiet lister.
struct Listed : Quiet {
    Listed(const orbtest::TempDir &t, const std::string &name, const std::string &bytes)
    {
        z.SetZipFileName(t.write(name, bytes));
    }
};

std::string Zip(const orbtest::TempDir &t, const std::string &name, std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"-q", "-r", "-X"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(name);
    args.push_back("src");
    RunTool("zip", args, t.str());
    return t.file(name);
}

// Piece d of a split set: "<base>.zNN" and the last "<base>.zip" when `pieces`
// is its count; "<base>NNN.zip" when it is negative; never the last when 0.
std::string Piece(const std::string &base, int d, int pieces)
{
    char n[64];
    if (pieces < 0)
        std::snprintf(n, sizeof n, "%s%03d.zip", base.c_str(), d);
    else if (d == pieces)
        std::snprintf(n, sizeof n, "%s.zip", base.c_str());
    else
        std::snprintf(n, sizeof n, "%s.z%02d", base.c_str(), d);
    return n;
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
    // A comment is found by the backward search for the end record.
    SetComment(t, path, "b'C'*100");
    z.UseDirOnlyEntries = false;
    z.SetZipFileName(path);
    const PyListing withComment = PythonZipListing(path);
    EXPECT_EQ(withComment.Comment, std::string(100, 'C'));
    ExpectSameAsPython(z, withComment);
    EXPECT_EQ(z.ZipComment(), std::string(100, 'C'));
    EXPECT_TRUE(r.Messages.empty());
    // An archive reached through a symbolic link is the archive it names.
    fs::create_symlink(path, t.file("link.zip"));
    z.SetZipFileName(t.file("link.zip"));
    ExpectSameAsPython(z, withComment);
    EXPECT_TRUE(r.Messages.empty());
}

TEST(ZipLister, StubInFrontWithAndWithoutOffsetAdjustment)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string inner = Zip(t, "inner.zip"), sfx = std::string(3000, 'S') + orbtest::readFile(inner);
    t.write("adj.zip", sfx);
    RunTool("zip", {"-q", "-A", "adj.zip"}, t.str());
    for (bool adjusted : {false, true}) {
        const std::string path = adjusted ? t.file("adj.zip") : t.write("sfx.zip", sfx);
        Quiet q;
        q.z.SetZipFileName(path);
        ExpectSameAsPython(q.z, PythonZipListing(adjusted ? path : inner));
        EXPECT_EQ(q.z.SFXOffset(), 3000);
        // Data in front with the offsets not adjusted is a wrong structure.
        EXPECT_EQ(HasMessage(q.r, ZipMsg::LI_WrongZipStruct), !adjusted);
    }
}

TEST(ZipLister, TrailingBytes)
{
    orbtest::TempDir t;
    MakeTree(t);
    const std::string bytes = orbtest::readFile(Zip(t, "z.zip"));
    const PyListing py = PythonZipListing(t.file("z.zip"));
    const size_t toBlock = (512 - bytes.size() % 512) % 512;
    ASSERT_GT(toBlock, 0u);
    // The same archive ending exactly on a block: a comment fills it (its length is
    // the end record's last field).
    ASSERT_EQ(bytes.compare(bytes.size() - 22, 4, "PK\x05\x06"), 0);
    std::string aligned = bytes + std::string(toBlock, 'c');
    aligned[aligned.size() - toBlock - 2] = char(toBlock & 0xff);
    aligned[aligned.size() - toBlock - 1] = char(toBlock >> 8);
    const struct {
        const char *name;
        std::string tail;
        bool garbage;
    } cases[] = {
        {"garbage", "this is not part of the zip", true},
        {"zero padding to 512", std::string(toBlock, '\0'), false},
        {"zeros not ending on 512", std::string(toBlock == 1 ? 2 : toBlock - 1, '\0'), true},
        {"padding with a non-zero byte", std::string(toBlock - 1, '\0') + "x", true},
        {"a whole block of zeros", std::string(toBlock + 512, '\0'), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Listed l(t, "tail.zip", bytes + c.tail);
        ExpectSameAsPython(l.z, py);
        EXPECT_EQ(HasMessage(l.r, ZipMsg::LI_GarbageAtEOF), c.garbage);
        EXPECT_FALSE(HasMessage(l.r, ZipMsg::LI_WrongZipStruct));
    }
    // Padding never reaches a whole block: behind an archive that ends on one, a block
    // of zeros is not padding, while the archive alone is clean.
    for (const bool padded : {false, true}) {
        Listed l(t, "aligned.zip", aligned + std::string(padded ? 512 : 0, '\0'));
        ExpectSameAsPython(l.z, py);
        EXPECT_EQ(HasMessage(l.r, ZipMsg::LI_GarbageAtEOF), padded);
        EXPECT_FALSE(HasMessage(l.r, ZipMsg::LI_WrongZipStruct));
    }
}

TEST(ZipLister, NotAZip)
{
    orbtest::TempDir t;
    const std::string path = t.write("x.zip", std::string(3000, 'n'));
    Quiet q;
    auto &[z, r] = q;
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
    fs::create_directories(t.file("folder.zip"));
    for (const char *name : {"missing.zip", "pipe.zip", "folder.zip"}) {
        r = {};
        z.SetZipFileName(t.file(name));
        EXPECT_EQ(z.Count(), 0);
        EXPECT_TRUE(r.Messages.empty());
        EXPECT_EQ(r.DirUpdates, 1);
    }
}

namespace {

// A split set of 64 KB pieces whose central directory itself spreads over
// more than one piece, and Python's listing of the joined set; the number of pieces.
int MakeSplit(const orbtest::TempDir &t, PyListing &py)
{
    for (int i = 0; i < 1400; ++i)
        t.write("src/member-with-a-rather-long-name-number-" + std::to_string(i) + ".txt", std::to_string(i));
    t.write("src/big.bin", std::string(150000, 'b'));
    Zip(t, "split.zip", {"-s", "64k"});
    RunTool("zip", {"-q", "-s", "0", "split.zip", "--out", "joined.zip"}, t.str());
    py = PythonZipListing(t.file("joined.zip"));
    int pieces = 1;
    while (fs::exists(t.file(Piece("split", pieces, 0))))
        ++pieces;
    return pieces;
}

} // namespace

TEST(ZipLister, SplitSetInBothNamings)
{
    orbtest::TempDir t;
    PyListing py;
    const int pieces = MakeSplit(t, py);
    ASSERT_EQ(py.Entries.size(), 1402u);
    ASSERT_GE(pieces, 3);
    Quiet q;
    auto &[z, r] = q;
    z.SetZipFileName(t.file("split.zip"));
    EXPECT_TRUE(r.Messages.empty()) << (r.Messages.empty() ? "" : r.Messages[0].second);
    ExpectSameAsPython(z, py);
    EXPECT_TRUE(z.IsSpanned());
    EXPECT_EQ(z.TotalDisks(), pieces);
    // The same pieces named set001.zip, set002.zip ...: the last one is opened.
    for (int d = 1; d <= pieces; ++d)
        fs::copy_file(t.file(Piece("split", d, pieces)), t.file(Piece("set", d, -1)));
    const std::string last = t.file(Piece("set", pieces, -1));
    z.SetZipFileName(last);
    ExpectSameAsPython(z, py);
    // The pieces in front of the last missing: an error, nothing listed.
    for (int d = 1; d < pieces; ++d) {
        fs::remove(t.file(Piece("set", d, -1)));
        fs::remove(t.file(Piece("split", d, pieces)));
    }
    z.SetZipFileName(last);
    EXPECT_EQ(z.Count(), 0);
    EXPECT_TRUE(HasMessage(r, ZipMsg::DS_FileOpen));
}

// A named pipe where a piece before the last is looked for is not opened for reading
// (that would wait for a writer): the piece is reported as one that cannot be opened.
TEST(ZipLister, APipeInPlaceOfAnEarlierPieceIsReportedWithoutWaiting)
{
    orbtest::TempDir t;
    PyListing py;
    const int pieces = MakeSplit(t, py);
    // The central directory starts before the last piece, so the piece in front of it is read.
    const std::string piece = t.file(Piece("split", pieces - 1, pieces));
    fs::remove(piece);
    ASSERT_EQ(::mkfifo(piece.c_str(), 0600), 0);
    // Should the listing wait on the pipe, a writer comes after a few seconds and ends the
    // wait, so that the test fails instead of hanging.
    std::atomic<bool> done{false}, waited{false};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
                continue;
            if (const int fd = ::open(piece.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
                waited = true;
                ::close(fd);
            }
        }
    });
    Quiet q;
    auto &[z, r] = q;
    z.SetZipFileName(t.file("split.zip"));
    done = true;
    writer.join();
    EXPECT_FALSE(waited) << "the listing waited for a writer of the pipe";
    EXPECT_EQ(z.Count(), 0);
    ASSERT_TRUE(HasMessage(r, ZipMsg::DS_FileOpen));
    EXPECT_NE(r.Messages.back().second.find(Piece("split", pieces - 1, pieces)), std::string::npos)
        << r.Messages.back().second;
}

TEST(ZipLister, SpannedSetOnRemovableMediaAsksForDisks)
{
    orbtest::TempDir t;
    PyListing py;
    const int pieces = MakeSplit(t, py);
    // The "drive" holds one disk at a time: the file at `media` and its label.
    const std::string media = t.file("media.zip");
    std::string label;
    auto insert = [&](int disk) {
        fs::copy_file(t.file(Piece("split", disk, pieces)), media,
                                   fs::copy_options::overwrite_existing);
        char l[32];
        std::snprintf(l, sizeof l, "PKBACK# %03d", disk);
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
        insert(want);
    };
    auto list = [&] {
        insert(pieces);
        z.SetZipFileName(media);
        return z.ErrCode();
    };
    list();
    ExpectSameAsPython(z, py);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front().second, pieces);
    // Cancelled by the event, refused by the box, no box at all, unattended.
    z.OnGetNextDisk = [](TZipLister *, int, int, const std::string &, bool &abort) { abort = true; };
    EXPECT_EQ(list(), ZipMsg::DS_Canceled);
    EXPECT_EQ(z.Count(), 0);
    z.OnGetNextDisk = nullptr;
    std::string prompt;
    TZipLister::AskOkCancel = [&](const std::string &text) {
        prompt = text;
        return 0;
    };
    EXPECT_EQ(list(), ZipMsg::DS_Canceled);
    EXPECT_NE(prompt.find("Please insert disk volume"), std::string::npos) << prompt;
    EXPECT_NE(prompt.find("\r\nin drive: "), std::string::npos) << prompt;
    TZipLister::AskOkCancel = nullptr;
    EXPECT_EQ(list(), ZipMsg::DS_NoVolume);
    z.Unattended = true;
    EXPECT_EQ(list(), ZipMsg::DS_NoUnattSpan);
    EXPECT_EQ(z.Count(), 0);
}

TEST(ZipLister, NamesAndTheirCodePages)
{
    orbtest::TempDir t;
    const std::vector<HandMember> m = {
        {.RawName = "utf/\xC5\xA1\xC4\x8D.txt", .Flags = 0x0800, .Host = 0}, // "šč" in UTF-8, flagged
        {.RawName = "fat/\xE7\x9F.txt", .Host = 0},   // in DOS code page 852 from a FAT host
        {.RawName = "unix/\x9A\xE8.txt", .Host = 3},  // in Windows-1250 from a Unix host
        {.RawName = "ntfs/\xE7\x9F.txt", .MadeBy = 50, .Host = 11}}; // NTFS, made by 5.0: OEM too
    const std::string path = t.write("names.zip", BuildZip(m));
    ASSERT_EQ(PythonZipListing(path).Entries.size(), 4u); // a real zip
    TZipLister z;
    z.SetZipFileName(path);
    ASSERT_EQ(z.Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(z.ZipContents(i).FileName,
                  std::string(i == 0 ? "utf" : i == 1 ? "fat" : i == 2 ? "unix" : "ntfs") + "\\\xC5\xA1\xC4\x8D.txt");
    // cpNone keeps a FAT name as stored (then read as Windows-1250); cpOEM takes every name as OEM.
    z.CodePage = TZipCodePage::cpNone;
    z.List();
    EXPECT_EQ(z.ZipContents(1).FileName, "fat\\\xC3\xA7\xC5\xBA.txt"); // 0xE7 0x9F in Windows-1250
    z.CodePage = TZipCodePage::cpOEM;
    z.List();
    EXPECT_EQ(z.ZipContents(2).FileName, "unix\\\xC3\x9C\xC5\x94.txt"); // 0x9A 0xE8 in 852: "ÜŔ"
    // Every upper half byte of the OEM table as Python decodes it.
    std::string all;
    for (int c = 0x80; c <= 0xFF; ++c)
        all += static_cast<char>(c);
    z.SetZipFileName(t.write("oem.zip", BuildZip({{.RawName = all, .Host = 0}})));
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ZipContents(0).FileName,
              RunTool("python3",
                      {"-c", "import sys\nsys.stdout.buffer.write(bytes(range(128,256)).decode('cp852').encode())"},
                      t.str()));
}

TEST(ZipLister, Zip64SizesAndInvalidDates)
{
    orbtest::TempDir t;
    const std::string path = t.write(
        "z64.zip", BuildZip({{.RawName = "huge.iso", .Data = "x", .Extra = Zip64Extra(5ull << 30, 4ull << 30)},
                             {.RawName = "nodate.txt", .DosDate = 0, .DosTime = 0},
                             {.RawName = "month13.txt", .DosDate = uint16_t((45 << 9) | (13 << 5) | 1)}}));
    TZipLister z;
    z.ShowErrMsg = false;
    z.SetZipFileName(path);
    ExpectSameAsPython(z, PythonZipListing(path));
    ASSERT_EQ(z.Count(), 3);
    EXPECT_EQ(std::tuple(z.ZipContents(0).UncompressedSize, z.ZipContents(0).CompressedSize),
              std::tuple(5ull << 30, 4ull << 30));
    EXPECT_EQ(std::tuple(DosDateTimeToDateTime(z.ZipContents(1).DateTime),
                         DosDateTimeToDateTime(z.ZipContents(2).DateTime)),
              std::tuple(0.0, 0.0));
}

TEST(ZipLister, DosDates)
{
    auto date = [](int y, int mo, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d); };
    auto time = [](int h, int mi, int s) { return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)); };
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(2000, 1, 1), 0), 36526.0);
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(1980, 1, 1), time(12, 0, 0)), 29221.5);
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(date(2024, 2, 29), 0), 45351.0);
    EXPECT_GT(DosDateTimeToDateTime(date(2107, 12, 31), time(23, 59, 58)), 75000.0);
    // Impossible values are "no date": month 13, 29 February of 2023 and 2100,
    // 31 April, hour 24, minute 60, second 60.
    const std::pair<uint16_t, uint16_t> impossible[] = {
        {0, 0},        {date(2001, 13, 1), 0},          {date(2023, 2, 29), 0},
        {date(2100, 2, 29), 0}, {date(2001, 4, 31), 0}, {date(2001, 1, 1), time(24, 0, 0)},
        {date(2001, 1, 1), uint16_t(60 << 5)},          {date(2001, 1, 1), uint16_t(30)}};
    for (const auto &[d, tm] : impossible)
        EXPECT_EQ(DosDateTimeToDateTime(d, tm), 0.0) << d << " " << tm;
}

TEST(ZipLister, DamagedLengthsAndOffsets)
{
    orbtest::TempDir t;
    const std::string good = BuildZip({{.RawName = "a.txt", .Data = "aaaa"}, {.RawName = "b.txt", .Data = "bb"}},
                                      "hello");
    const size_t end = good.size() - 5 - 22;
    const struct {
        const char *what;
        std::vector<std::pair<size_t, char>> patch;
        int count;
        std::vector<int> messages; // one of them is reported
    } cases[] = {
        // A comment length longer than the file: the comment is what is there.
        {"long comment", {{20, '\xFF'}, {21, '\x7F'}}, 2, {}},
        // A directory size larger than everything in front of the end record.
        {"big directory", {{15, '\x10'}}, 0, {ZipMsg::DS_SeekError}},
        {"more entries than held", {{10, 3}}, 0, {ZipMsg::DS_CEHWrongSig, ZipMsg::DS_CEHBadRead}},
        // A spanned end record whose directory lies on a disk past its end.
        {"far disk", {{4, 1}, {16, '\xFF'}, {17, '\xFF'}}, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        for (const auto &[at, v] : c.patch)
            bytes[end + at] = v;
        Listed l(t, "damaged.zip", bytes);
        EXPECT_EQ(l.z.Count(), c.count);
        EXPECT_EQ(l.z.SFXOffset(), 0);
        if (c.count) {
            EXPECT_EQ(l.z.ZipComment(), "hello");
        } else {
            EXPECT_NE(l.z.ErrCode(), 0);
        }
        if (!c.messages.empty()) {
            EXPECT_TRUE(std::any_of(c.messages.begin(), c.messages.end(),
                                    [&](int m) { return HasMessage(l.r, m); }));
        }
    }
}

TEST(ZipLister, EveryTruncationAndCorruption)
{
    orbtest::TempDir t;
    MakeTree(t);
    std::map<std::string, std::string> fixtures;
    fixtures["plain"] = orbtest::readFile(Zip(t, "plain.zip"));
    SetComment(t, t.file("plain.zip"), "b'remark'");
    fixtures["comment"] = orbtest::readFile(t.file("plain.zip"));
    fixtures["sfx"] = std::string(700, 'S') + fixtures["plain"];
    t.write("adj.zip", fixtures["sfx"]);
    RunTool("zip", {"-q", "-A", "adj.zip"}, t.str());
    fixtures["sfx adjusted"] = orbtest::readFile(t.file("adj.zip"));
    fixtures["garbage"] = fixtures["plain"] + "trailing garbage";
    fixtures["zero padded"] = fixtures["plain"] + std::string((512 - fixtures["plain"].size() % 512) % 512, '\0');
    fixtures["zip64"] = BuildZip({{.RawName = "huge", .Extra = Zip64Extra(1ull << 40, 1ull << 40)}});
    for (const auto &[name, bytes] : fixtures) {
        SCOPED_TRACE(name);
        std::vector<std::string> names;
        TZipLister z;
        z.ShowErrMsg = false;
        z.SetZipFileName(t.write(name + ".full", bytes));
        ASSERT_GT(z.Count(), 0);
        for (int i = 0; i < z.Count(); ++i)
            names.push_back(z.ZipContents(i).FileName);
        z.ShowErrMsg = true; // every message path runs, without a box
        const std::string cut = t.file("cut.zip");
        for (size_t len = 0; len < bytes.size(); ++len) {
            t.write("cut.zip", bytes.substr(0, len));
            z.SetZipFileName(cut);
            // Whatever is listed from a cut archive is a member of the whole one.
            for (int i = 0; i < z.Count(); ++i)
                EXPECT_NE(std::find(names.begin(), names.end(), z.ZipContents(i).FileName), names.end())
                    << "length " << len;
        }
        // Every byte of the central directory and end record set to 0xFF in turn.
        for (size_t pos = bytes.size() > 600 ? bytes.size() - 600 : 0; pos < bytes.size(); ++pos) {
            std::string bad = bytes;
            bad[pos] = '\xFF';
            t.write("cut.zip", bad);
            z.SetZipFileName(cut);
            EXPECT_LE(z.Count(), static_cast<int>(names.size()) + 1);
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
    for (auto [show, unattended, want] : {std::tuple{true, false, 1}, {true, true, 1}, {false, false, 1}}) {
        z.ShowErrMsg = show;
        z.Unattended = unattended;
        z.SetZipFileName(path);
        EXPECT_EQ(boxes, want);
    }
    TZipLister::ShowMessageBox = nullptr;
}

TEST(ZipLister, BusyCursorShowsAtTheFirstBusyLevelOnly)
{
    orbtest::TempDir t;
    const std::string bad = t.write("n.zip", "not a zip at all, not at all, not at all");
    std::vector<std::string> seen;
    TZipLister z;
    TZipLister::BusyCursor = [&](bool busy) { seen.push_back(std::string(busy ? "on" : "off") + (z.Busy() ? "+" : "-")); };
    // The error box of a failed listing comes up while the cursor is busy.
    TZipLister::ShowMessageBox = [&](const std::string &) { seen.push_back("box"); };
    z.SetZipFileName(bad);
    EXPECT_EQ(seen, (std::vector<std::string>{"on+", "box", "off-"}));
    // A name that is no file lists nothing and never turns busy.
    seen.clear();
    z.SetZipFileName(t.file("missing.zip"));
    EXPECT_TRUE(seen.empty());
    TZipLister::BusyCursor = nullptr;
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
    std::string rec, loc;
    Put32(rec, 0x06064B50);
    Put64(rec, 44 + extensible);
    Put32(rec, 45 | 45 << 16); // made by, needed
    Put64(rec, 0);             // this disk, the directory's disk
    Put64(rec, u16(endPos + 8));
    Put64(rec, u16(endPos + 10));
    Put64(rec, u32(endPos + 12));
    Put64(rec, u32(endPos + 16));
    rec += std::string(extensible, 'x');
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
    const std::string zip =
        BuildZip({{.RawName = "dir/a.txt", .Data = "first member"}, {.RawName = "b.bin", .Data = std::string(300, 'b')}});
    for (size_t extensible : {size_t(0), size_t(24)}) {
        SCOPED_TRACE(extensible);
        Listed l(t, "h.zip", WithZip64End(zip, extensible, 0));
        // Python's zipfile takes the zip64 record from a fixed place only.
        if (extensible == 0)
            ExpectSameAsPython(l.z, PythonZipListing(t.file("h.zip")));
        ASSERT_EQ(l.z.Count(), 2);
        EXPECT_EQ(l.z.ZipContents(1).UncompressedSize, 300u);
        EXPECT_TRUE(l.r.Messages.empty());
        EXPECT_EQ(l.z.SFXOffset(), 0);
    }
    // A stub in front moves every stored offset: the zip64 record is then
    // found where it must lie, and the stub is the data in front.
    Listed l(t, "sfx.zip", WithZip64End(zip, 0, 100));
    ASSERT_EQ(l.z.Count(), 2);
    EXPECT_EQ(l.z.ZipContents(0).FileName, "dir\\a.txt");
    EXPECT_EQ(l.z.SFXOffset(), 100);
    EXPECT_TRUE(HasMessage(l.r, ZipMsg::LI_WrongZipStruct));
    EXPECT_FALSE(HasMessage(l.r, ZipMsg::DS_CEHWrongSig));
    // Every corrupted byte of the zip64 records and the end record ends cleanly.
    const std::string z64 = WithZip64End(zip, 8, 0);
    for (size_t i = z64.size() - 22 - 20 - 64; i < z64.size(); ++i) {
        for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            std::string bad = z64;
            bad[i] = char(uint8_t(bad[i]) ^ flip);
            Listed b(t, "bad.zip", bad);
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
    std::string bad = BuildZip({{.RawName = "a.txt", .Data = "a"}});
    bad[bad.size() - 22 - 46 - 5] = 'X'; // the central header's signature
    q.z.SetZipFileName(t.write("bad.zip", bad));
    EXPECT_FALSE(q.z.DirectoryRead());
    EXPECT_EQ(q.z.Count(), 0);
    q.z.SetZipFileName(t.file("a.zip-missing"));
    EXPECT_FALSE(q.z.DirectoryRead());
}

TEST(ZipLister, Zip64PlaceholdersWithoutAZip64RecordAreReportedUnsigned)
{
    orbtest::TempDir t;
    std::string zip = BuildZip({{.RawName = "a.txt", .Data = "first"}, {.RawName = "b.txt", .Data = "second"}});
    const size_t end = zip.size() - 22;
    const uint64_t found = uint8_t(zip[end + 16]) | uint32_t(uint8_t(zip[end + 17])) << 8;
    // Entry counts and the directory offset say "see the zip64 record", which is missing.
    for (size_t p : {end + 8, end + 10})
        zip[p] = zip[p + 1] = '\xFF';
    for (size_t p = end + 16; p < end + 20; ++p)
        zip[p] = '\xFF';
    Listed l(t, "placeholder.zip", zip);
    ASSERT_FALSE(l.r.Messages.empty());
    const auto &[code, text] = l.r.Messages.front();
    EXPECT_EQ(code, ZipMsg::LI_WrongZipStruct);
    EXPECT_NE(text.find("found at byte " + std::to_string(found) + ", recorded at byte 4294967295"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("-4"), std::string::npos) << text;
    EXPECT_EQ(text.find("in front"), std::string::npos) << text;
    // The two real headers are read; the third of 65535 is missing.
    EXPECT_EQ(l.z.Count(), 0);
    EXPECT_TRUE(HasMessage(l.r, ZipMsg::DS_CEHWrongSig) || HasMessage(l.r, ZipMsg::DS_CEHBadRead));
    // Real data in front is still counted in bytes.
    Listed s(t, "stub.zip", std::string(70, 'S') + BuildZip({{.RawName = "a.txt", .Data = "x"}}));
    ASSERT_EQ(s.r.Messages.size(), 1u);
    EXPECT_NE(s.r.Messages[0].second.find(": 70 bytes of data in front"), std::string::npos)
        << s.r.Messages[0].second;
}
