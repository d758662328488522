// The RAR listing library through its C entries, bound the way the component
// binds it: fixtures from RarWriter, cross-checked with bsdtar.
#include "archive/RarWriter.h"
#include "archive/untUnRar.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

using namespace rartest;

namespace {

class Api {
public:
    Api() : e_(UnRarAcquire()) {}
    ~Api()
    {
        if (e_)
            UnRarRelease();
    }
    const TUnRarEntries *operator->() const { return e_; }
    explicit operator bool() const { return e_ != nullptr; }

private:
    const TUnRarEntries *e_;
};

std::vector<char> CStr(const std::string &S)
{
    std::vector<char> v(S.begin(), S.end());
    v.push_back(0);
    return v;
}

struct Member {
    std::string name;
    RARHeaderDataEx h;
};

struct Listing {
    unsigned openResult = 0;
    unsigned cmtState = 0;
    std::string comment;
    unsigned arcFlags = 0;
    std::vector<Member> members;
    int last = 0; // the result that ended the loop
};

Listing List(const Api &api, const std::string &path, unsigned mode = RAR_OM_LIST, UNRARCALLBACK cb = nullptr,
             LPARAM user = 0, unsigned cmtBufSize = 1024)
{
    Listing out;
    std::vector<char> name = CStr(path);
    std::vector<char> cmt(cmtBufSize + 1, 0);
    RAROpenArchiveDataEx d{};
    d.ArcName = name.data();
    d.OpenMode = mode;
    d.CmtBuf = cmtBufSize ? cmt.data() : nullptr;
    d.CmtBufSize = cmtBufSize;
    d.Callback = cb;
    d.UserData = user;
    HANDLE h = api->RAROpenArchiveEx(&d);
    out.openResult = d.OpenResult;
    out.cmtState = d.CmtState;
    out.arcFlags = d.Flags;
    if (d.CmtState == 1 || d.CmtState == ERAR_SMALL_BUF)
        out.comment = std::string(cmt.data(), strnlen(cmt.data(), cmtBufSize));
    if (!h)
        return out;
    auto hd = std::make_unique<RARHeaderDataEx>();
    for (;;) {
        std::memset(hd.get(), 0, sizeof *hd);
        out.last = api->RARReadHeaderEx(h, hd.get());
        if (out.last != ERAR_SUCCESS)
            break;
        out.members.push_back({hd->FileName, *hd});
        const int p = api->RARProcessFile(h, RAR_SKIP, nullptr, nullptr);
        if (p != ERAR_SUCCESS) {
            out.last = p;
            break;
        }
    }
    api->RARCloseArchive(h);
    return out;
}

std::vector<std::string> Names(const Listing &l)
{
    std::vector<std::string> v;
    for (const auto &m : l.members)
        v.push_back(m.name);
    return v;
}

// Names as bsdtar lists them (libarchive's own RAR readers).
std::vector<std::string> BsdtarNames(const std::string &path)
{
    std::vector<std::string> names;
    const std::string cmd = "LC_ALL=C.UTF-8 bsdtar -tf '" + path + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return names;
    char line[4096];
    while (fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '/'))
            s.pop_back();
        names.push_back(s);
    }
    pclose(p);
    return names;
}

std::vector<std::string> Stripped(std::vector<std::string> v)
{
    for (auto &s : v)
        while (!s.empty() && s.back() == '/')
            s.pop_back();
    return v;
}

uint64_t Size(uint32_t low, uint32_t high)
{
    return uint64_t(low) | uint64_t(high) << 32;
}

std::vector<Rar4Member> Sample4()
{
    Rar4Member a;
    a.name = "docs\\readme.txt";
    a.data = "hello, catalogue\n";
    a.window = 3;
    a.host = 2;
    a.attr = 0x21; // archive, read-only
    Rar4Member d;
    d.name = "docs";
    d.directory = true;
    d.attr = 0x10;
    Rar4Member b;
    b.name = "empty.bin";
    b.host = 3;
    b.unpVer = 20;
    b.attr = 0x81A4;
    return {d, a, b};
}

std::vector<Rar5Member> Sample5()
{
    Rar5Member d;
    d.name = "pics";
    d.directory = true;
    d.attr = 0x10;
    Rar5Member a;
    a.name = "pics/Žltý kôň.jpg";
    a.data = std::string(3000, 'x');
    a.dictCode = 5; // 4 MB
    a.host = 1;
    a.attr = 0644;
    Rar5Member b;
    b.name = "notes.txt";
    b.data = "note";
    b.mtime = std::nullopt;
    return {d, a, b};
}

// An archive opened through the plain entry, closed with the object.
struct Plain {
    Plain(const Api &A, const std::string &Path, unsigned Mode = RAR_OM_LIST) : api(A), name(CStr(Path))
    {
        d.ArcName = name.data();
        d.OpenMode = Mode;
        h = api->RAROpenArchive(&d);
    }
    ~Plain()
    {
        if (h)
            api->RARCloseArchive(h);
    }
    const Api &api;
    std::vector<char> name;
    RAROpenArchiveData d{};
    HANDLE h = nullptr;
};

// The bound library and a temporary folder for the archives.
class RarLib : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(api); }
    Api api;
    orbtest::TempDir dir;
};

} // namespace

TEST(RarLibBinding, BindsFromBesideTheExecutableAndCountsReferences)
{
    ASSERT_EQ(UnRarReferences(), 0);
    {
        Api first;
        ASSERT_TRUE(first) << "libunrar.so was not built beside the tests";
        EXPECT_EQ(UnRarLoadedPath(), std::string(ORB_BINARY_DIR) + "/libunrar.so");
        EXPECT_EQ(first->RARGetDllVersion(), RAR_DLL_VERSION);
        EXPECT_NE(first->RAROpenArchiveEx, nullptr);
        EXPECT_NE(first->RARReadHeaderEx, nullptr);
        EXPECT_NE(first->RARSetChangeVolProc, nullptr);
        EXPECT_NE(first->RARSetProcessDataProc, nullptr);
        {
            Api second;
            EXPECT_EQ(UnRarReferences(), 2);
        }
        // The second user let go; the first still works through the library.
        EXPECT_TRUE(UnRarLoaded());
        orbtest::TempDir dir;
        const std::string path = dir.write("a.rar", WriteRar4(Sample4()));
        EXPECT_EQ(List(first, path).members.size(), 3u);
    }
    EXPECT_FALSE(UnRarLoaded());
    EXPECT_EQ(UnRarReferences(), 0);
    EXPECT_TRUE(UnRarLoadedPath().empty());
}

TEST_F(RarLib, ListsFormat4MembersWithTheirFields)
{
    const std::string path = dir.write("old.rar", WriteRar4(Sample4()));
    const Listing l = List(api, path);
    ASSERT_EQ(l.openResult, 0u);
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"docs", "docs/readme.txt", "empty.bin"}));
    EXPECT_EQ(Names(l), Stripped(BsdtarNames(path)));

    const RARHeaderDataEx &d = l.members[0].h;
    EXPECT_EQ(d.Flags & RHDF_WINDOWMASK, unsigned(RHDF_WINDOWMASK));
    EXPECT_EQ(d.FileAttr, 0x10u);

    const RARHeaderDataEx &a = l.members[1].h;
    EXPECT_EQ(std::string(a.ArcName), path);
    EXPECT_EQ((a.Flags & RHDF_WINDOWMASK) >> 5, 3u);
    EXPECT_EQ(a.DictSize, 512u);
    EXPECT_EQ(Size(a.UnpSize, a.UnpSizeHigh), 17u);
    EXPECT_EQ(Size(a.PackSize, a.PackSizeHigh), 17u);
    EXPECT_EQ(a.HostOS, 2u);
    EXPECT_EQ(a.FileCRC, TestCrc32("hello, catalogue\n"));
    EXPECT_EQ(a.HashType, unsigned(RAR_HASH_CRC32));
    EXPECT_EQ(a.FileTime, 0x5A8C6B2Fu);
    EXPECT_EQ(a.UnpVer, 29u);
    EXPECT_EQ(a.Method, 0x30u);
    EXPECT_EQ(a.FileAttr, 0x21u);
    EXPECT_EQ(std::wstring(a.FileNameW), L"docs/readme.txt");

    const RARHeaderDataEx &b = l.members[2].h;
    EXPECT_EQ(b.HostOS, 3u);
    EXPECT_EQ(b.UnpVer, 20u);
    EXPECT_EQ(Size(b.UnpSize, b.UnpSizeHigh), 0u);
}

TEST_F(RarLib, Format4UnicodeNamesAndLargeSizes)
{
    Rar4Member u;
    u.name = "Zlty kon.txt";
    u.unicodeName = U"Žltý kôň.txt";
    u.data = "u";
    Rar4Member big;
    big.name = "disc.iso";
    big.data = std::string(100, 'z');
    big.method = 0x33; // packed: the declared size is not the data's
    big.large = true;
    big.unpSize = (uint64_t(5) << 30) + 7;
    const std::string path = dir.write("u.rar", WriteRar4({u, big}));
    const Listing l = List(api, path);
    ASSERT_EQ(l.members.size(), 2u);
    EXPECT_EQ(l.members[0].name, "Žltý kôň.txt");
    EXPECT_EQ(std::wstring(l.members[0].h.FileNameW), L"Žltý kôň.txt");
    EXPECT_EQ(Size(l.members[1].h.UnpSize, l.members[1].h.UnpSizeHigh), (uint64_t(5) << 30) + 7);
    EXPECT_EQ(Size(l.members[1].h.PackSize, l.members[1].h.PackSizeHigh), 100u);
    EXPECT_EQ(Names(l), Stripped(BsdtarNames(path)));

    // The plain header has only 32 bits: the low half, as the API defines it.
    Plain a(api, path);
    ASSERT_NE(a.h, nullptr);
    RARHeaderData hd{};
    ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
    ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
    EXPECT_EQ(hd.UnpSize, (1u << 30) + 7);
    EXPECT_EQ(std::string(hd.FileName), "disc.iso");
}

TEST_F(RarLib, ListsFormat5MembersWithTheirFields)
{
    auto members = Sample5();
    Rar5Member big;
    big.name = "huge.vob";
    big.data = "abc";
    big.method = 3;
    big.unpSize = uint64_t(6) << 30;
    big.dictCode = 9; // 64 MB: beyond what the three flag bits hold
    members.push_back(big);
    const std::string path = dir.write("new.rar", WriteRar5(members));
    const Listing l = List(api, path);
    ASSERT_EQ(l.openResult, 0u);
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"pics", "pics/Žltý kôň.jpg", "notes.txt", "huge.vob"}));
    EXPECT_EQ(Names(l), Stripped(BsdtarNames(path)));

    EXPECT_EQ(l.members[0].h.Flags & RHDF_WINDOWMASK, unsigned(RHDF_WINDOWMASK));
    const RARHeaderDataEx &a = l.members[1].h;
    EXPECT_EQ(a.HostOS, 3u); // Unix
    EXPECT_EQ(a.DictSize, 4096u);
    EXPECT_EQ((a.Flags & RHDF_WINDOWMASK) >> 5, 6u);
    EXPECT_EQ(a.FileCRC, TestCrc32(std::string(3000, 'x')));
    EXPECT_EQ(a.UnpVer, 50u);
    EXPECT_EQ(a.Method, 0x30u);
    EXPECT_EQ(a.FileAttr, 0644u);
    const time_t t = 1700000000;
    struct tm tmv {};
    localtime_r(&t, &tmv);
    const unsigned dos = unsigned(tmv.tm_year - 80) << 25 | unsigned(tmv.tm_mon + 1) << 21 |
                         unsigned(tmv.tm_mday) << 16 | unsigned(tmv.tm_hour) << 11 | unsigned(tmv.tm_min) << 5 |
                         unsigned(tmv.tm_sec / 2);
    EXPECT_EQ(a.FileTime, dos);
    const uint64_t ft = (uint64_t(1700000000) + 11644473600ull) * 10000000ull;
    EXPECT_EQ(Size(a.MtimeLow, a.MtimeHigh), ft);

    EXPECT_EQ(l.members[2].h.HostOS, 2u); // Windows
    EXPECT_EQ(l.members[2].h.FileTime, 0u);
    const RARHeaderDataEx &h = l.members[3].h;
    EXPECT_EQ(Size(h.UnpSize, h.UnpSizeHigh), uint64_t(6) << 30);
    EXPECT_EQ(h.Method, 0x33u);
    EXPECT_EQ(h.DictSize, 64u * 1024);
}

TEST_F(RarLib, ArchiveComments)
{
    Rar4Options o4;
    o4.comment = "Disc of 1999";
    Listing l = List(api, dir.write("c4.rar", WriteRar4(Sample4(), o4)));
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, "Disc of 1999");
    EXPECT_TRUE(l.arcFlags & ROADF_COMMENT);
    EXPECT_EQ(l.members.size(), 3u); // the comment block is no member

    Rar5Options o5;
    o5.comment = "Photos";
    l = List(api, dir.write("c5.rar", WriteRar5(Sample5(), o5)));
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, "Photos");
    EXPECT_EQ(l.members.size(), 3u);

    // Too small a buffer: what fits, terminated, and the state says so.
    l = List(api, dir.file("c4.rar"), RAR_OM_LIST, nullptr, 0, 5);
    EXPECT_EQ(l.cmtState, unsigned(ERAR_SMALL_BUF));
    EXPECT_EQ(l.comment, "Disc");

    // Packed comments are not decoded here: said so, not shown as garbage.
    o4.commentMethod = 0x33;
    l = List(api, dir.write("p4.rar", WriteRar4(Sample4(), o4)));
    EXPECT_EQ(l.cmtState, unsigned(ERAR_UNKNOWN_FORMAT));
    EXPECT_TRUE(l.comment.empty());

    l = List(api, dir.file("old.rar"));
    EXPECT_EQ(l.openResult, unsigned(ERAR_EOPEN));
}

TEST_F(RarLib, RejectsWhatIsNotARarArchive)
{
    EXPECT_EQ(List(api, dir.write("x.rar", "PK\x03\x04 not rar")).openResult, unsigned(ERAR_BAD_ARCHIVE));
    EXPECT_EQ(List(api, dir.write("e.rar", "")).openResult, unsigned(ERAR_BAD_ARCHIVE));
    EXPECT_EQ(List(api, dir.write("o.rar", "RE~^ old format")).openResult, unsigned(ERAR_UNKNOWN_FORMAT));
    EXPECT_EQ(List(api, dir.file("missing.rar")).openResult, unsigned(ERAR_EOPEN));
    EXPECT_EQ(List(api, dir.str()).openResult, unsigned(ERAR_EOPEN)); // a folder
    EXPECT_EQ(api->RARCloseArchive(nullptr), ERAR_ECLOSE);
    RARHeaderData hd{};
    EXPECT_NE(api->RARReadHeader(nullptr, &hd), 0);
}

TEST_F(RarLib, BadHeaderCrcAndForgedLengthsAreBadData)
{

    // A flipped byte in the first member's name.
    std::string a4 = WriteRar4(Sample4());
    a4[7 + 13 + 32] ^= 0x01;
    Listing l = List(api, dir.write("crc4.rar", a4));
    EXPECT_EQ(l.openResult, 0u);
    EXPECT_TRUE(l.members.empty());
    EXPECT_EQ(l.last, ERAR_BAD_DATA);

    std::string a5 = WriteRar5(Sample5());
    a5[a5.size() - 20] ^= 0x40;
    l = List(api, dir.write("crc5.rar", a5));
    EXPECT_EQ(l.last, ERAR_BAD_DATA);

    // Name lengths beyond the header, with a header CRC that matches them.
    Rar4Member m4;
    m4.name = "abc";
    m4.nameSizeField = 400;
    l = List(api, dir.write("len4.rar", WriteRar4({m4})));
    EXPECT_TRUE(l.members.empty());
    EXPECT_EQ(l.last, ERAR_BAD_DATA);

    Rar5Member m5;
    m5.name = "abc";
    m5.nameLengthField = uint64_t(1) << 40;
    l = List(api, dir.write("len5.rar", WriteRar5({m5})));
    EXPECT_TRUE(l.members.empty());
    EXPECT_EQ(l.last, ERAR_BAD_DATA);

    // A data size that runs past the end: the member is listed, then the cut is reported.
    Rar5Member cut;
    cut.name = "cut.bin";
    cut.data = std::string(500, 'c');
    Rar5Options noEnd;
    noEnd.endBlock = false;
    std::string c5 = WriteRar5({cut}, noEnd);
    c5.resize(c5.size() - 100);
    l = List(api, dir.write("cut5.rar", c5));
    EXPECT_EQ(l.members.size(), 1u);
    EXPECT_EQ(l.last, ERAR_BAD_DATA);
}

// A header bounds check that reads one byte too far passes here in a plain
// build; the sanitizer build, which CI runs, reports it.
TEST_F(RarLib, EveryTruncationEndsCleanly)
{
    Rar4Options o4;
    o4.comment = "comment";
    Rar5Options o5;
    o5.comment = "comment";
    auto m4 = Sample4();
    m4[1].unicodeName = U"docs\\čítaj.txt";
    m4[2].large = true;
    auto m5 = Sample5();
    m5[2].encrypted = true;
    const std::string whole[2] = {WriteRar4(m4, o4), WriteRar5(m5, o5)};
    const std::set<int> allowed{ERAR_END_ARCHIVE, ERAR_BAD_DATA};
    for (const std::string &full : whole) {
        const size_t total = List(api, dir.write("full.rar", full)).members.size();
        ASSERT_EQ(total, 3u);
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(n);
            const Listing l = List(api, dir.write("t.rar", full.substr(0, n)), RAR_OM_EXTRACT);
            if (l.openResult != 0) {
                EXPECT_TRUE(l.openResult == ERAR_BAD_ARCHIVE || l.openResult == ERAR_BAD_DATA) << l.openResult;
                continue;
            }
            EXPECT_LE(l.members.size(), total);
            EXPECT_TRUE(allowed.count(l.last)) << l.last;
            for (const Member &m : l.members)
                EXPECT_LT(m.name.size(), 64u);
        }
    }
}

TEST_F(RarLib, EncryptedMembersAndHeadersAskForThePassword)
{
    struct Asked {
        int count = 0;
        unsigned size = 0;
    } asked;
    auto cb = [](UINT msg, LPARAM user, LPARAM, LPARAM p2) -> int {
        if (msg == UCM_NEEDPASSWORD) {
            auto *a = reinterpret_cast<Asked *>(user);
            ++a->count;
            a->size = unsigned(p2);
        }
        return -1;
    };
    Rar5Member m;
    m.name = "secret.txt";
    m.data = "xxxxxxxx";
    m.encrypted = true;
    const std::string path = dir.write("enc.rar", WriteRar5({m}));
    Listing l = List(api, path, RAR_OM_LIST, cb, LPARAM(&asked));
    ASSERT_EQ(l.members.size(), 1u);
    EXPECT_TRUE(l.members[0].h.Flags & RHDF_ENCRYPTED);
    EXPECT_EQ(asked.count, 0); // listing needs no password

    // Testing it does; with none given the answer says so.
    {
        Plain a(api, path, RAR_OM_EXTRACT);
        ASSERT_NE(a.h, nullptr);
        api->RARSetCallback(a.h, cb, LPARAM(&asked));
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(api->RARProcessFile(a.h, RAR_TEST, nullptr, nullptr), ERAR_MISSING_PASSWORD);
        EXPECT_EQ(asked.count, 1);
        EXPECT_GT(asked.size, 1u);
    }

    Rar5Options eh;
    eh.encryptedHeaders = true;
    asked = Asked();
    l = List(api, dir.write("eh.rar", WriteRar5({}, eh)), RAR_OM_LIST, cb, LPARAM(&asked));
    EXPECT_EQ(l.openResult, 0u);
    EXPECT_TRUE(l.arcFlags & ROADF_ENCHEADERS);
    EXPECT_TRUE(l.members.empty());
    EXPECT_EQ(l.last, ERAR_MISSING_PASSWORD);
    EXPECT_EQ(asked.count, 1);
}

namespace {

struct VolumeLog {
    std::vector<std::pair<std::string, int>> calls;
    std::string replacement; // named when asked; empty declines
};

int VolumeCallback(UINT msg, LPARAM user, LPARAM p1, LPARAM p2)
{
    auto *log = reinterpret_cast<VolumeLog *>(user);
    if (msg != UCM_CHANGEVOLUME)
        return 0;
    log->calls.emplace_back(reinterpret_cast<char *>(p1), int(p2));
    if (p2 == RAR_VOL_ASK) {
        if (log->replacement.empty())
            return -1;
        std::strcpy(reinterpret_cast<char *>(p1), log->replacement.c_str());
    }
    return 1;
}

// Two volumes, new numbering; "movie.avi" runs from the first into the second.
void WriteVolumes4(const orbtest::TempDir &dir, const std::string &first, const std::string &second)
{
    Rar4Options o1;
    o1.volume = o1.newNumbering = o1.firstVolume = true;
    o1.nextVolume = true;
    Rar4Member a;
    a.name = "a.txt";
    a.data = "first";
    Rar4Member s1;
    s1.name = "movie.avi";
    s1.data = "0123456789";
    s1.splitAfter = true;
    s1.crc = TestCrc32(s1.data);
    dir.write(first, WriteRar4({a, s1}, o1));
    Rar4Options o2;
    o2.volume = o2.newNumbering = true;
    Rar4Member s2;
    s2.name = "movie.avi";
    s2.data = "ABCDEFGHIJ";
    s2.splitBefore = true;
    s2.crc = TestCrc32("0123456789ABCDEFGHIJ");
    Rar4Member b;
    b.name = "b.txt";
    b.data = "second";
    dir.write(second, WriteRar4({s2, b}, o2));
}

} // namespace

TEST_F(RarLib, VolumesFollowOnAndAskWhenMissing)
{
    WriteVolumes4(dir, "set.part1.rar", "set.part2.rar");

    VolumeLog log;
    Listing l = List(api, dir.file("set.part1.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.txt", "movie.avi", "b.txt"}));
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0], std::make_pair(dir.file("set.part2.rar"), int(RAR_VOL_NOTIFY)));
    EXPECT_TRUE(l.members[1].h.Flags & RHDF_SPLITAFTER);
    EXPECT_EQ(std::string(l.members[2].h.ArcName), dir.file("set.part2.rar"));

    // Every part, when asked for.
    l = List(api, dir.file("set.part1.rar"), RAR_OM_LIST_INCSPLIT, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.txt", "movie.avi", "movie.avi", "b.txt"}));
    EXPECT_TRUE(l.members[2].h.Flags & RHDF_SPLITBEFORE);

    // The second volume missing: asked for; declining ends with a volume error.
    std::filesystem::rename(dir.file("set.part2.rar"), dir.file("moved.rar"));
    log = VolumeLog();
    l = List(api, dir.file("set.part1.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.txt", "movie.avi"}));
    EXPECT_EQ(l.last, ERAR_EOPEN);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].second, RAR_VOL_ASK);

    // Naming the moved file goes on.
    log = VolumeLog();
    log.replacement = dir.file("moved.rar");
    l = List(api, dir.file("set.part1.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.txt", "movie.avi", "b.txt"}));

    // Old numbering: .rar, then .r00.
    orbtest::TempDir old;
    WriteVolumes4(old, "set.rar", "set.r00");
    log = VolumeLog();
    // Rewrite the first volume without the new-numbering flag.
    Rar4Options o1;
    o1.volume = o1.firstVolume = o1.nextVolume = true;
    Rar4Member s1;
    s1.name = "movie.avi";
    s1.data = "0123456789";
    s1.splitAfter = true;
    old.write("set.rar", WriteRar4({s1}, o1));
    l = List(api, old.file("set.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"movie.avi", "b.txt"}));
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].first, old.file("set.r00"));

    // Volumes of format 2.x have no end block: a member split at the end of
    // the file leads on to the next volume all the same.
    o1.endBlock = false;
    old.write("set.rar", WriteRar4({s1}, o1));
    log = VolumeLog();
    l = List(api, old.file("set.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"movie.avi", "b.txt"}));
    EXPECT_EQ(log.calls.size(), 1u);

    // Old numbering needs a three-character extension: any other has no next
    // volume, and the listing ends without asking for a made-up name.
    o1.endBlock = true;
    for (const char *name : {"set.rarx", "set.r001", "set.r0"}) {
        old.write(name, WriteRar4({s1}, o1));
        log = VolumeLog();
        l = List(api, old.file(name), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
        EXPECT_EQ(Names(l), (std::vector<std::string>{"movie.avi"})) << name;
        EXPECT_EQ(l.last, ERAR_EOPEN) << name;
        EXPECT_TRUE(log.calls.empty()) << name << " asked for " << (log.calls.empty() ? "" : log.calls[0].first);
    }
}

namespace {

struct DataLog {
    std::string data;
    bool stop = false;
};

int DataCallback(UINT msg, LPARAM user, LPARAM p1, LPARAM p2)
{
    auto *log = reinterpret_cast<DataLog *>(user);
    if (msg == UCM_PROCESSDATA) {
        log->data.append(reinterpret_cast<const char *>(p1), size_t(p2));
        return log->stop ? -1 : 1;
    }
    return msg == UCM_CHANGEVOLUME ? 1 : 0;
}

// Opens `path` for extraction and runs `operation` on every member, returning
// the results in order.
std::vector<int> ProcessAll(const Api &api, const std::string &path, int operation, const std::string &dest,
                            DataLog *log)
{
    std::vector<int> results;
    std::vector<char> destPath = CStr(dest);
    Plain a(api, path, RAR_OM_EXTRACT);
    if (!a.h)
        return {int(a.d.OpenResult)};
    if (log)
        api->RARSetCallback(a.h, DataCallback, LPARAM(log));
    RARHeaderData hd{};
    while (api->RARReadHeader(a.h, &hd) == 0)
        results.push_back(api->RARProcessFile(a.h, operation, destPath.data(), nullptr));
    return results;
}

} // namespace

TEST_F(RarLib, TestsAndExtractsStoredMembers)
{
    const std::string p4 = dir.write("s4.rar", WriteRar4(Sample4()));
    DataLog log;
    EXPECT_EQ(ProcessAll(api, p4, RAR_TEST, "", &log), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(log.data, "hello, catalogue\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("docs")));

    const std::string out = dir.file("out");
    EXPECT_EQ(ProcessAll(api, p4, RAR_EXTRACT, out, nullptr), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/docs/readme.txt"), "hello, catalogue\n");
    EXPECT_TRUE(std::filesystem::is_directory(out + "/docs"));
    EXPECT_TRUE(std::filesystem::exists(out + "/empty.bin"));

    const std::string p5 = dir.write("s5.rar", WriteRar5(Sample5()));
    EXPECT_EQ(ProcessAll(api, p5, RAR_EXTRACT, out, nullptr), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/pics/Žltý kôň.jpg"), std::string(3000, 'x'));

    // A member split over two volumes is read across them.
    WriteVolumes4(dir, "v.part1.rar", "v.part2.rar");
    EXPECT_EQ(ProcessAll(api, dir.file("v.part1.rar"), RAR_EXTRACT, out, nullptr), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/movie.avi"), "0123456789ABCDEFGHIJ");
    EXPECT_EQ(orbtest::readFile(out + "/b.txt"), "second");

    // In list mode nothing is decoded or written, whatever is asked.
    {
        Plain a(api, p4, RAR_OM_LIST);
        ASSERT_NE(a.h, nullptr);
        RARHeaderData hd{};
        std::vector<char> lo = CStr(dir.file("list"));
        while (api->RARReadHeader(a.h, &hd) == 0)
            EXPECT_EQ(api->RARProcessFile(a.h, RAR_EXTRACT, lo.data(), nullptr), 0);
    }
    const std::string listOut = dir.file("list");
    EXPECT_FALSE(std::filesystem::exists(listOut));
}

TEST_F(RarLib, BadDataAndUnsafeNamesLeaveNothingBehind)
{
    Rar4Member bad;
    bad.name = "bad.txt";
    bad.data = "payload";
    bad.crc = 0x12345678;
    const std::string out = dir.file("out");
    const std::string p = dir.write("bad.rar", WriteRar4({bad}));
    EXPECT_EQ(ProcessAll(api, p, RAR_TEST, "", nullptr), (std::vector<int>{ERAR_BAD_DATA}));
    EXPECT_EQ(ProcessAll(api, p, RAR_EXTRACT, out, nullptr), (std::vector<int>{ERAR_BAD_DATA}));
    EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::is_empty(out));

    Rar5Member evil;
    evil.name = "../evil.txt";
    evil.data = "x";
    Rar5Member abs;
    abs.name = "/tmp/abs.txt";
    abs.data = "x";
    const std::string pe = dir.write("evil.rar", WriteRar5({evil}));
    EXPECT_EQ(ProcessAll(api, pe, RAR_EXTRACT, out, nullptr), (std::vector<int>{ERAR_ECREATE}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("evil.txt")));
    const std::string pa = dir.write("abs.rar", WriteRar5({abs}));
    EXPECT_EQ(ProcessAll(api, pa, RAR_EXTRACT, out, nullptr), (std::vector<int>{ERAR_ECREATE}));

    // The data callback stopping the operation leaves no file either.
    DataLog stop;
    stop.stop = true;
    const std::string ps = dir.write("s.rar", WriteRar4(Sample4()));
    const std::string out2 = dir.file("out2");
    const std::vector<int> r = ProcessAll(api, ps, RAR_EXTRACT, out2, &stop);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1], ERAR_UNKNOWN);
    EXPECT_FALSE(std::filesystem::exists(out2 + "/docs/readme.txt"));
    for (const auto &e : std::filesystem::recursive_directory_iterator(out2))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(RarLib, PackedMembersThatDoNotDecodeAreBadDataAndLeaveNoFile)
{
    // Declared as packed, but the bytes are no packed stream: the decoder fails.
    Rar5Member m5;
    m5.name = "junk5.bin";
    m5.data = std::string(64, '\x11');
    m5.method = 3;
    m5.unpSize = 4096;
    Rar4Member m4;
    m4.name = "junk4.bin";
    m4.data = std::string(64, '\x22');
    m4.method = 0x33;
    m4.unpSize = 4096;
    const std::string out = dir.file("out");
    for (const std::string &p : {dir.write("j5.rar", WriteRar5({m5})), dir.write("j4.rar", WriteRar4({m4}))}) {
        SCOPED_TRACE(p);
        const std::vector<int> r = ProcessAll(api, p, RAR_EXTRACT, out, nullptr);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0] == ERAR_BAD_DATA || r[0] == ERAR_UNKNOWN_FORMAT) << r[0];
        EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::is_empty(out));
    }
}

TEST_F(RarLib, EveryCorruptedByteEndsCleanly)
{
    Rar4Options o4;
    o4.comment = "c";
    auto m4 = Sample4();
    m4[1].unicodeName = U"docs\\čítaj.txt";
    m4[2].large = true;
    const std::string whole[2] = {WriteRar4(m4, o4), WriteRar5(Sample5())};
    const std::string out = dir.file("out");
    for (const std::string &full : whole) {
        for (size_t i = 0; i < full.size(); ++i) {
            SCOPED_TRACE(i);
            std::string bad = full;
            bad[i] = char(bad[i] ^ 0x5A);
            const std::string p = dir.write("m.rar", bad);
            const std::vector<int> r = ProcessAll(api, p, RAR_TEST, out, nullptr);
            EXPECT_LE(r.size(), 3u);
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}

TEST_F(RarLib, LongNamesAreCutOnCharacterBoundaries)
{
    // 700 two-byte characters: a header well beyond one small read.
    std::string longName;
    for (int i = 0; i < 700; ++i)
        longName += "č";
    Rar5Member m5;
    m5.name = longName;
    m5.data = "x";
    Rar4Member m4;
    m4.name = longName;
    m4.data = "x";
    for (const std::string &p : {dir.write("l5.rar", WriteRar5({m5})), dir.write("l4.rar", WriteRar4({m4}))}) {
        SCOPED_TRACE(p);
        const Listing l = List(api, p);
        ASSERT_EQ(l.members.size(), 1u);
        EXPECT_EQ(l.members[0].name, longName.substr(0, 1022)); // 511 whole characters
        EXPECT_EQ(std::wstring(l.members[0].h.FileNameW).size(), 700u);

        Plain a(api, p);
        ASSERT_NE(a.h, nullptr);
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(std::string(hd.FileName), longName.substr(0, 258));
    }
}

namespace {

// Text that shows whether every byte came back in place.
std::string Sample(size_t size)
{
    std::string s;
    for (size_t i = 0; s.size() < size; ++i)
        s += "line " + std::to_string(i) + " of the packed member\n";
    s.resize(size);
    return s;
}

// What bsdtar extracts of `member` from `path` (its own RAR decoders).
std::string BsdtarExtract(const std::string &path, const std::string &member)
{
    std::string out;
    const std::string cmd = "LC_ALL=C.UTF-8 bsdtar -xOf '" + path + "' '" + member + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

Rar4Member Packed4(const std::string &name, const std::string &text)
{
    Rar4Member m;
    m.name = name;
    m.data = PackLiterals29(text);
    m.unpSize = text.size();
    m.crc = TestCrc32(text);
    m.method = 0x33;
    m.unpVer = 29;
    return m;
}

Rar5Member Packed5(const std::string &name, const std::string &text)
{
    Rar5Member m;
    m.name = name;
    m.data = PackLiterals50(text);
    m.unpSize = text.size();
    m.crc = TestCrc32(text);
    m.method = 3;
    return m;
}

} // namespace

TEST_F(RarLib, Format4NamesUseBackslashesFromEveryHost)
{
    // Archived on Unix: the names still carry "\" between folders.
    const std::string text = Sample(3000);
    Rar4Member packed = Packed4("docs\\packed.txt", text);
    packed.host = 3;
    Rar4Member stored;
    stored.name = "docs\\old\\stored.txt";
    stored.data = "kept as it is";
    stored.host = 3;
    Rar4Member os2 = stored;
    os2.name = "os2\\x.txt";
    os2.host = 1;
    const std::string p = dir.write("unix.rar", WriteRar4({packed, stored, os2}));

    const std::vector<std::string> want{"docs/packed.txt", "docs/old/stored.txt", "os2/x.txt"};
    EXPECT_EQ(Names(List(api, p)), want);
    EXPECT_EQ(Stripped(BsdtarNames(p)), want);
    EXPECT_EQ(BsdtarExtract(p, "docs/packed.txt"), text) << "the packed stream of the fixture is real";

    DataLog log;
    EXPECT_EQ(ProcessAll(api, p, RAR_TEST, "", &log), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(log.data, text + "kept as it is" + "kept as it is");

    const std::string out = dir.file("out");
    EXPECT_EQ(ProcessAll(api, p, RAR_EXTRACT, out, nullptr), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/docs/packed.txt"), text);
    EXPECT_EQ(orbtest::readFile(out + "/docs/old/stored.txt"), "kept as it is");
    EXPECT_EQ(orbtest::readFile(out + "/os2/x.txt"), "kept as it is");
    for (const auto &e : std::filesystem::recursive_directory_iterator(out))
        EXPECT_EQ(e.path().string().find('\\'), std::string::npos) << e.path();
}

TEST_F(RarLib, PackedMemberSplitOverVolumesIsCheckedAgainstTheLastPart)
{
    const std::string text = Sample(5000);
    // Format 4: each part but the last carries the CRC of its packed bytes.
    {
        const Rar4Member whole = Packed4("big.txt", text);
        const std::string p = dir.write("one4.rar", WriteRar4({whole}));
        ASSERT_EQ(BsdtarExtract(p, "big.txt"), text);

        const size_t cut = whole.data.size() / 2 + 7; // anywhere in the stream
        Rar4Options o1;
        o1.volume = o1.newNumbering = o1.firstVolume = o1.nextVolume = true;
        Rar4Member s1 = whole;
        s1.data = whole.data.substr(0, cut);
        s1.crc = TestCrc32(s1.data);
        s1.splitAfter = true;
        dir.write("p4.part1.rar", WriteRar4({s1}, o1));
        Rar4Options o2;
        o2.volume = o2.newNumbering = true;
        Rar4Member s2 = whole;
        s2.data = whole.data.substr(cut);
        s2.splitBefore = true; // its CRC is the whole member's
        Rar4Member after;
        after.name = "after.txt";
        after.data = "after";
        dir.write("p4.part2.rar", WriteRar4({s2, after}, o2));
    }
    // Format 5 alike.
    {
        const Rar5Member whole = Packed5("big.txt", text);
        const std::string p = dir.write("one5.rar", WriteRar5({whole}));
        ASSERT_EQ(BsdtarExtract(p, "big.txt"), text);

        const size_t cut = whole.data.size() / 2 + 5;
        Rar5Options o1;
        o1.volume = o1.nextVolume = true;
        Rar5Member s1 = whole;
        s1.data = whole.data.substr(0, cut);
        s1.crc = TestCrc32(s1.data);
        s1.splitAfter = true;
        dir.write("p5.part1.rar", WriteRar5({s1}, o1));
        Rar5Options o2;
        o2.volume = true;
        o2.volumeNumber = 1;
        Rar5Member s2 = whole;
        s2.data = whole.data.substr(cut);
        s2.splitBefore = true;
        Rar5Member after;
        after.name = "after.txt";
        after.data = "after";
        dir.write("p5.part2.rar", WriteRar5({s2, after}, o2));
    }
    for (const char *first : {"p4.part1.rar", "p5.part1.rar"}) {
        SCOPED_TRACE(first);
        DataLog log;
        EXPECT_EQ(ProcessAll(api, dir.file(first), RAR_TEST, "", &log), (std::vector<int>{0, 0}));
        EXPECT_EQ(log.data, text + "after");
        const std::string out = dir.file(std::string("out-") + first);
        EXPECT_EQ(ProcessAll(api, dir.file(first), RAR_EXTRACT, out, nullptr), (std::vector<int>{0, 0}));
        EXPECT_EQ(orbtest::readFile(out + "/big.txt"), text);
        EXPECT_EQ(orbtest::readFile(out + "/after.txt"), "after");
    }

    // A last part whose CRC does not match the decoded member is still bad data.
    Rar4Options o2;
    o2.volume = o2.newNumbering = true;
    Rar4Member s2 = Packed4("big.txt", text);
    s2.data = s2.data.substr(s2.data.size() / 2 + 7);
    s2.splitBefore = true;
    s2.crc = TestCrc32(text) ^ 1;
    dir.write("p4.part2.rar", WriteRar4({s2}, o2));
    EXPECT_EQ(ProcessAll(api, dir.file("p4.part1.rar"), RAR_TEST, "", nullptr), (std::vector<int>{ERAR_BAD_DATA}));
}
