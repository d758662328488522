// The RAR listing library through its C entries, bound the way the component
// binds it: fixtures from RarWriter, cross-checked with bsdtar.
#include "archive/RarLibTestSupport.h"
#include "support/BsdtarNames.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <tuple>

using namespace rarlibtest;
namespace fs = std::filesystem;

TEST(RarLibBinding, BindsFromBesideTheExecutableAndCountsReferences)
{
    ASSERT_EQ(UnRarReferences(), 0);
    {
        Api first;
        ASSERT_TRUE(first) << "libunrar.so was not built beside the tests";
        EXPECT_EQ(UnRarLoadedPath(), std::string(ORB_BINARY_DIR) + "/libunrar.so");
        EXPECT_EQ(first->RARGetDllVersion(), RAR_DLL_VERSION);
        EXPECT_TRUE(first->RAROpenArchiveEx && first->RARReadHeaderEx && first->RARSetChangeVolProc &&
                    first->RARSetProcessDataProc);
        {
            Api second;
            EXPECT_EQ(UnRarReferences(), 2);
        }
        // The second user let go; the first still works through the library.
        orbtest::TempDir dir;
        EXPECT_EQ(List(first, dir.write("a.rar", WriteRar4(Sample4()))).names.size(), 3u);
    }
    EXPECT_FALSE(UnRarLoaded());
    EXPECT_EQ(UnRarReferences(), 0);
    EXPECT_TRUE(UnRarLoadedPath().empty());
}

TEST_F(RarLib, ListsFormat4MembersWithTheirFields)
{
    Rar4Member u{.name = "Zlty kon.txt", .unicodeName = U"Žltý kôň.txt", .data = "u"};
    // Packed: the declared size is not the data's.
    Rar4Member big{.name = "disc.iso", .data = std::string(100, 'z'), .method = 0x33,
                   .unpSize = (uint64_t(5) << 30) + 7, .large = true};
    auto members = Sample4();
    members.insert(members.end(), {u, big});
    const std::string path = dir.write("old.rar", WriteRar4(members));
    const Listing l = List(api, path);
    ASSERT_EQ(l.openResult, 0u);
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    ASSERT_EQ(l.names, (Strings{"docs", "docs/readme.txt", "empty.bin", "Žltý kôň.txt", "disc.iso"}));
    EXPECT_EQ(l.names, orbtest::BsdtarNames(path));
    EXPECT_EQ(l.h[0].Flags & RHDF_WINDOWMASK, unsigned(RHDF_WINDOWMASK));
    EXPECT_EQ(l.h[0].FileAttr, 0x10u);
    const RARHeaderDataEx &a = l.h[1], &b = l.h[2];
    EXPECT_EQ(std::string(a.ArcName), path);
    EXPECT_EQ(std::wstring(a.FileNameW), L"docs/readme.txt");
    // Window code, dictionary, sizes, host, CRC and its kind, time, version, method, attributes.
    EXPECT_EQ(std::tuple((a.Flags & RHDF_WINDOWMASK) >> 5, a.DictSize, Size(a.UnpSize, a.UnpSizeHigh),
                         Size(a.PackSize, a.PackSizeHigh), a.HostOS, a.FileCRC, a.HashType, a.FileTime, a.UnpVer,
                         a.Method, a.FileAttr),
              std::tuple(3u, 512u, uint64_t(17), uint64_t(17), 2u, TestCrc32("hello, catalogue\n"),
                         unsigned(RAR_HASH_CRC32), 0x5A8C6B2Fu, 29u, 0x30u, 0x21u));
    EXPECT_EQ(std::tuple(b.HostOS, b.UnpVer, Size(b.UnpSize, b.UnpSizeHigh)), std::tuple(3u, 20u, uint64_t(0)));
    EXPECT_EQ(std::wstring(l.h[3].FileNameW), L"Žltý kôň.txt");
    EXPECT_EQ(
        std::tuple(Size(l.h[4].UnpSize, l.h[4].UnpSizeHigh), Size(l.h[4].PackSize, l.h[4].PackSizeHigh)),
        std::tuple((uint64_t(5) << 30) + 7, uint64_t(100)));
    // The plain header has only 32 bits: the low half, as the API defines it.
    Plain p(api, path);
    RARHeaderData hd{};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(api->RARReadHeader(p.h, &hd), 0);
    EXPECT_EQ(hd.UnpSize, (1u << 30) + 7);
    EXPECT_EQ(std::string(hd.FileName), "disc.iso");
}

TEST_F(RarLib, ListsFormat5MembersWithTheirFields)
{
    auto members = Sample5();
    // 64 MB: beyond what the three flag bits hold.
    members.push_back({.name = "huge.vob", .data = "abc", .method = 3, .dictCode = 9, .unpSize = uint64_t(6) << 30});
    const std::string path = dir.write("new.rar", WriteRar5(members));
    const Listing l = List(api, path);
    ASSERT_EQ(l.openResult, 0u);
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    ASSERT_EQ(l.names, (Strings{"pics", "pics/Žltý kôň.jpg", "notes.txt", "huge.vob"}));
    EXPECT_EQ(l.names, orbtest::BsdtarNames(path));
    EXPECT_EQ(l.h[0].Flags & RHDF_WINDOWMASK, unsigned(RHDF_WINDOWMASK));
    const RARHeaderDataEx &a = l.h[1];
    // Unix host, 4 MB dictionary as window code 6, CRC, version 5.0, stored, attributes.
    EXPECT_EQ(std::tuple(a.HostOS, a.DictSize, (a.Flags & RHDF_WINDOWMASK) >> 5, a.FileCRC, a.UnpVer, a.Method,
                         a.FileAttr),
              std::tuple(3u, 4096u, 6u, TestCrc32(std::string(3000, 'x')), 50u, 0x30u, 0644u));
    const time_t t = 1700000000;
    struct tm tmv {};
    localtime_r(&t, &tmv);
    EXPECT_EQ(a.FileTime, unsigned(tmv.tm_year - 80) << 25 | unsigned(tmv.tm_mon + 1) << 21 |
                              unsigned(tmv.tm_mday) << 16 | unsigned(tmv.tm_hour) << 11 |
                              unsigned(tmv.tm_min) << 5 | unsigned(tmv.tm_sec / 2));
    EXPECT_EQ(Size(a.MtimeLow, a.MtimeHigh), (uint64_t(1700000000) + 11644473600ull) * 10000000ull);
    EXPECT_EQ(std::tuple(l.h[2].HostOS, l.h[2].FileTime), std::tuple(2u, 0u)); // Windows, no time
    EXPECT_EQ(std::tuple(Size(l.h[3].UnpSize, l.h[3].UnpSizeHigh), l.h[3].Method, l.h[3].DictSize),
              std::tuple(uint64_t(6) << 30, 0x33u, 64u * 1024));
}

TEST_F(RarLib, ArchiveComments)
{
    Rar4Options o4{.comment = "Disc of 1999"};
    Listing l = List(api, dir.write("c4.rar", WriteRar4(Sample4(), o4)));
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, "Disc of 1999");
    EXPECT_TRUE(l.arcFlags & ROADF_COMMENT);
    EXPECT_EQ(l.names.size(), 3u); // the comment block is no member
    l = List(api, dir.write("c5.rar", WriteRar5(Sample5(), {.comment = "Photos"})));
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, "Photos");
    EXPECT_EQ(l.names.size(), 3u);
    // Too small a buffer: what fits, terminated, and the state says so.
    l = List(api, dir.file("c4.rar"), RAR_OM_LIST, nullptr, 0, 5);
    EXPECT_EQ(l.cmtState, unsigned(ERAR_SMALL_BUF));
    EXPECT_EQ(l.comment, "Disc");
    // Packed comments are decoded, in both formats; a wrong CRC is bad data.
    const std::string text = Sample(3000);
    o4 = {.comment = text, .commentMethod = 0x33};
    l = List(api, dir.write("p4.rar", WriteRar4(Sample4(), o4)), RAR_OM_LIST, nullptr, 0, 4096);
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, text);
    EXPECT_EQ(l.names, orbtest::BsdtarNames(dir.file("p4.rar")));
    l = List(api, dir.file("p4.rar"), RAR_OM_LIST, nullptr, 0, 100);
    EXPECT_EQ(l.cmtState, unsigned(ERAR_SMALL_BUF));
    EXPECT_EQ(l.comment, text.substr(0, 99));
    l = List(api, dir.write("p5.rar", WriteRar5(Sample5(), {.comment = text, .commentMethod = 3})), RAR_OM_LIST,
             nullptr, 0, 4096);
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, text);
    EXPECT_EQ(l.names, orbtest::BsdtarNames(dir.file("p5.rar")));
    o4.commentCrc = TestCrc32(text) ^ 1;
    l = List(api, dir.write("c4.rar", WriteRar4(Sample4(), o4)), RAR_OM_LIST, nullptr, 0, 4096);
    EXPECT_EQ(l.cmtState, unsigned(ERAR_BAD_DATA));
    EXPECT_EQ(l.names.size(), 3u);
    // Format 1.5-2.x: a stored comment inside the main header.
    l = List(api, dir.write("o4.rar", WriteRar4(Sample4(), {.oldComment = "From 1996"})));
    EXPECT_EQ(l.cmtState, 1u);
    EXPECT_EQ(l.comment, "From 1996");
    EXPECT_EQ(l.names.size(), 3u); // bsdtar wants a CRC over the comment too: not compared
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
    std::string a4 = WriteRar4(Sample4()), a5 = WriteRar5(Sample5()), m4 = a4;
    a4[7 + 13 + 32] ^= 0x01; // the first member's name
    m4[7 + 7] ^= 0x01;       // a reserved byte of the main header
    {
        const Listing l = List(api, dir.write("main.rar", m4));
        EXPECT_EQ(l.openResult, unsigned(ERAR_BAD_DATA));
        EXPECT_TRUE(l.names.empty());
    }
    a5[a5.size() - 20] ^= 0x40;
    std::string c5 = WriteRar5({{.name = "cut.bin", .data = std::string(500, 'c')}}, {.endBlock = false});
    c5.resize(c5.size() - 100);
    // Name lengths beyond the header carry a header CRC that matches them.
    const struct {
        std::string bytes;
        size_t members;
    } cases[] = {{a4, 0},
                 {a5, 2},
                 {WriteRar4({{.name = "abc", .nameSizeField = 400}}), 0},
                 {WriteRar5({{.name = "abc", .nameLengthField = uint64_t(1) << 40}}), 0},
                 {c5, 1}}; // a data size past the end: listed, then the cut is reported
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        const Listing l = List(api, dir.write("bad.rar", c.bytes));
        EXPECT_EQ(l.openResult, 0u);
        EXPECT_EQ(l.names.size(), c.members);
        EXPECT_EQ(l.last, ERAR_BAD_DATA);
    }
}

// A field that runs exactly one byte past its header, under a header CRC that
// matches: the byte after the header is there in the reader's buffer (member
// data follows), so only the reader's own bound check can refuse it.
TEST_F(RarLib, FieldOneBytePastTheHeaderIsBadData)
{
    const std::string data(64, 'd');
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"format 4 name", WriteRar4({{.name = "abc", .data = data, .nameSizeField = 4}})},
        {"format 5 name", WriteRar5({{.name = "abc", .data = data, .nameLengthField = 4}})},
        {"format 5 name into the extra area",
         WriteRar5({{.name = "abc", .data = data, .encrypted = true, .nameLengthField = 4}})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Listing l = List(api, dir.write("over.rar", c.bytes));
        EXPECT_EQ(l.openResult, 0u);
        EXPECT_TRUE(l.names.empty()) << l.names.front();
        EXPECT_EQ(l.last, ERAR_BAD_DATA);
    }
    // The same headers with the true lengths list.
    EXPECT_EQ(List(api, dir.write("ok4.rar", WriteRar4({{.name = "abc", .data = data, .nameSizeField = 3}}))).names,
              Strings{"abc"});
    EXPECT_EQ(List(api, dir.write("ok5.rar", WriteRar5({{.name = "abc", .data = data, .encrypted = true}}))).names,
              Strings{"abc"});
}

// A header bounds check that reads one byte too far passes here in a plain
// build; the sanitizer build, which CI runs, reports it.
TEST_F(RarLib, EveryTruncationEndsCleanly)
{
    auto m4 = Sample4();
    m4[1].unicodeName = U"docs\\čítaj.txt";
    m4[2].large = true;
    auto m5 = Sample5();
    m5[2].encrypted = true;
    for (const std::string &full : {WriteRar4(m4, {.comment = "comment"}), WriteRar5(m5, {.comment = "comment"})}) {
        ASSERT_EQ(List(api, dir.write("full.rar", full)).names.size(), 3u);
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(n);
            const Listing l = List(api, dir.write("t.rar", full.substr(0, n)), RAR_OM_EXTRACT);
            if (l.openResult != 0) {
                EXPECT_TRUE(l.openResult == ERAR_BAD_ARCHIVE || l.openResult == ERAR_BAD_DATA) << l.openResult;
                continue;
            }
            EXPECT_LE(l.names.size(), 3u);
            EXPECT_TRUE(l.last == ERAR_END_ARCHIVE || l.last == ERAR_BAD_DATA) << l.last;
            for (const std::string &name : l.names)
                EXPECT_LT(name.size(), 64u);
        }
    }
}

TEST_F(RarLib, EveryCorruptedByteEndsCleanly)
{
    auto m4 = Sample4();
    m4[1].unicodeName = U"docs\\čítaj.txt";
    m4[2].large = true;
    const std::string out = dir.file("out");
    for (const std::string &full : {WriteRar4(m4, {.comment = "c"}), WriteRar5(Sample5())}) {
        for (size_t i = 0; i < full.size(); ++i) {
            SCOPED_TRACE(i);
            std::string bad = full;
            bad[i] = char(bad[i] ^ 0x5A);
            EXPECT_LE(ProcessAll(api, dir.write("m.rar", bad), RAR_TEST, out).size(), 3u);
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

// The buffer holds the comment and its terminating zero: a comment one byte
// shorter than the buffer fits whole; one as long as the buffer does not.
TEST_F(RarLib, CommentThatExactlyFillsTheBufferIsReadWhole)
{
    const std::string text = "Disc of 1999";
    const size_t fits = text.size() + 1;
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"stored, format 4", WriteRar4(Sample4(), {.comment = text})},
        {"packed, format 4", WriteRar4(Sample4(), {.comment = text, .commentMethod = 0x33})},
        {"stored, format 5", WriteRar5(Sample5(), {.comment = text})},
        {"packed, format 5", WriteRar5(Sample5(), {.comment = text, .commentMethod = 3})},
        {"in the main header", WriteRar4(Sample4(), {.oldComment = text})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("c.rar", c.bytes);
        Listing l = List(api, path, RAR_OM_LIST, nullptr, 0, unsigned(fits));
        EXPECT_EQ(l.cmtState, 1u);
        EXPECT_EQ(l.comment, text);
        EXPECT_EQ(l.names.size(), 3u);
        l = List(api, path, RAR_OM_LIST, nullptr, 0, unsigned(fits - 1));
        EXPECT_EQ(l.cmtState, unsigned(ERAR_SMALL_BUF));
        EXPECT_EQ(l.comment, text.substr(0, text.size() - 1));
    }
}

TEST_F(RarLib, VolumesFollowOnAndAskWhenMissing)
{
    WriteVolumes4(dir, "set.part1.rar", "set.part2.rar");
    const std::string first = dir.file("set.part1.rar");
    VolumeLog log;
    Listing l = List(api, first, RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(l.names, (Strings{"a.txt", "movie.avi", "b.txt"}));
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    EXPECT_EQ(log.calls, (decltype(log.calls){{dir.file("set.part2.rar"), RAR_VOL_NOTIFY}}));
    EXPECT_TRUE(l.h[1].Flags & RHDF_SPLITAFTER);
    EXPECT_EQ(std::string(l.h[2].ArcName), dir.file("set.part2.rar"));
    // Every part, when asked for.
    l = List(api, first, RAR_OM_LIST_INCSPLIT, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(l.names, (Strings{"a.txt", "movie.avi", "movie.avi", "b.txt"}));
    EXPECT_TRUE(l.h[2].Flags & RHDF_SPLITBEFORE);
    // The second volume missing: asked for; declining ends with a volume error.
    fs::rename(dir.file("set.part2.rar"), dir.file("moved.rar"));
    log = VolumeLog();
    l = List(api, first, RAR_OM_LIST, VolumeCallback, LPARAM(&log));
    EXPECT_EQ(l.names, (Strings{"a.txt", "movie.avi"}));
    EXPECT_EQ(l.last, ERAR_EOPEN);
    EXPECT_EQ(log.calls, (decltype(log.calls){{dir.file("set.part2.rar"), RAR_VOL_ASK}}));
    // Naming the moved file goes on.
    log = VolumeLog{{}, dir.file("moved.rar")};
    EXPECT_EQ(List(api, first, RAR_OM_LIST, VolumeCallback, LPARAM(&log)).names,
              (Strings{"a.txt", "movie.avi", "b.txt"}));

    // Old numbering: .rar, then .r00; volumes of format 2.x have no end block,
    // and a member split at the end of the file leads on all the same.
    orbtest::TempDir old;
    WriteVolumes4(old, "set.rar", "set.r00");
    for (bool endBlock : {true, false}) {
        Rar4Options o1{.volume = true, .firstVolume = true, .endBlock = endBlock, .nextVolume = true};
        old.write("set.rar", WriteRar4({kSplit1}, o1));
        log = VolumeLog();
        l = List(api, old.file("set.rar"), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
        EXPECT_EQ(l.names, (Strings{"movie.avi", "b.txt"}));
        ASSERT_EQ(log.calls.size(), 1u);
        EXPECT_EQ(log.calls[0].first, old.file("set.r00"));
    }
    // Old numbering needs a three-character extension: any other has no next
    // volume, and the listing ends without asking for a made-up name.
    for (const char *name : {"set.rarx", "set.r001", "set.r0"}) {
        SCOPED_TRACE(name);
        old.write(name, WriteRar4({kSplit1}, {.volume = true, .firstVolume = true, .nextVolume = true}));
        log = VolumeLog();
        l = List(api, old.file(name), RAR_OM_LIST, VolumeCallback, LPARAM(&log));
        EXPECT_EQ(l.names, (Strings{"movie.avi"}));
        EXPECT_EQ(l.last, ERAR_EOPEN);
        EXPECT_TRUE(log.calls.empty());
    }
}

TEST_F(RarLib, TestsAndExtractsStoredMembers)
{
    const std::string p4 = dir.write("s4.rar", WriteRar4(Sample4())), out = dir.file("out");
    DataLog log;
    EXPECT_EQ(ProcessAll(api, p4, RAR_TEST, "", &log), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(log.data, "hello, catalogue\n");
    EXPECT_FALSE(fs::exists(dir.file("docs")));
    EXPECT_EQ(ProcessAll(api, p4, RAR_EXTRACT, out), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/docs/readme.txt"), "hello, catalogue\n");
    EXPECT_TRUE(fs::is_directory(out + "/docs"));
    EXPECT_TRUE(fs::exists(out + "/empty.bin"));
    EXPECT_EQ(ProcessAll(api, dir.write("s5.rar", WriteRar5(Sample5())), RAR_EXTRACT, out),
              (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/pics/Žltý kôň.jpg"), std::string(3000, 'x'));
    // A member split over two volumes is read across them.
    WriteVolumes4(dir, "v.part1.rar", "v.part2.rar");
    EXPECT_EQ(ProcessAll(api, dir.file("v.part1.rar"), RAR_EXTRACT, out), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(orbtest::readFile(out + "/movie.avi"), "0123456789ABCDEFGHIJ");
    EXPECT_EQ(orbtest::readFile(out + "/b.txt"), "second");
    // In list mode nothing is decoded or written, whatever is asked.
    {
        Plain a(api, p4, RAR_OM_LIST);
        RARHeaderData hd{};
        std::vector<char> lo = CStr(dir.file("list"));
        while (api->RARReadHeader(a.h, &hd) == 0)
            EXPECT_EQ(api->RARProcessFile(a.h, RAR_EXTRACT, lo.data(), nullptr), 0);
    }
    EXPECT_FALSE(fs::exists(dir.file("list")));
}

TEST_F(RarLib, BadDataAndUnsafeNamesLeaveNothingBehind)
{
    const std::string out = dir.file("out");
    const std::string p = dir.write("bad.rar", WriteRar4({{.name = "bad.txt", .data = "payload", .crc = 0x12345678}}));
    EXPECT_EQ(ProcessAll(api, p, RAR_TEST, ""), (std::vector<int>{ERAR_BAD_DATA}));
    EXPECT_EQ(ProcessAll(api, p, RAR_EXTRACT, out), (std::vector<int>{ERAR_BAD_DATA}));
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
    for (const char *name : {"../evil.txt", "/tmp/abs.txt"}) {
        EXPECT_EQ(ProcessAll(api, dir.write("evil.rar", WriteRar5({{.name = name, .data = "x"}})), RAR_EXTRACT, out),
                  (std::vector<int>{ERAR_ECREATE}));
    }
    EXPECT_FALSE(fs::exists(dir.file("evil.txt")));
    // Declared as packed, but the bytes are no packed stream: the decoder fails.
    for (const std::string &junk :
         {WriteRar5({{.name = "j5", .data = std::string(64, '\x11'), .method = 3, .unpSize = 4096}}),
          WriteRar4({{.name = "j4", .data = std::string(64, '\x22'), .method = 0x33, .unpSize = 4096}})}) {
        const std::vector<int> r = ProcessAll(api, dir.write("j.rar", junk), RAR_EXTRACT, out);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0] == ERAR_BAD_DATA || r[0] == ERAR_UNKNOWN_FORMAT) << r[0];
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
    }
    // The data callback stopping the operation leaves no file either.
    DataLog stop{{}, true};
    const std::string out2 = dir.file("out2");
    const std::vector<int> r = ProcessAll(api, dir.write("s.rar", WriteRar4(Sample4())), RAR_EXTRACT, out2, &stop);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1], ERAR_UNKNOWN);
    EXPECT_FALSE(fs::exists(out2 + "/docs/readme.txt"));
    for (const auto &e : fs::recursive_directory_iterator(out2))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(RarLib, LongNamesAreCutOnCharacterBoundaries)
{
    // 700 two-byte characters: a header well beyond one small read.
    std::string longName;
    for (int i = 0; i < 700; ++i)
        longName += "č";
    for (const std::string &p : {dir.write("l5.rar", WriteRar5({{.name = longName, .data = "x"}})),
                                 // A UTF-8 name without a Unicode form comes from Unix.
                                 dir.write("l4.rar", WriteRar4({{.name = longName, .data = "x", .host = 3}}))}) {
        SCOPED_TRACE(p);
        const Listing l = List(api, p);
        ASSERT_EQ(l.names.size(), 1u);
        EXPECT_EQ(l.names[0], longName.substr(0, 1022)); // 511 whole characters
        EXPECT_EQ(std::wstring(l.h[0].FileNameW).size(), 700u);
        Plain a(api, p);
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(std::string(hd.FileName), longName.substr(0, 258));
    }
}

TEST_F(RarLib, Format4NamesUseBackslashesFromEveryHost)
{
    // Archived on Unix: the names still carry "\" between folders.
    const std::string text = Sample(3000);
    Rar4Member packed = Packed4("docs\\packed.txt", text);
    packed.host = 3;
    const std::string p = dir.write(
        "unix.rar", WriteRar4({packed, {.name = "docs\\old\\stored.txt", .data = "kept as it is", .host = 3},
                               {.name = "os2\\x.txt", .data = "kept as it is", .host = 1}}));
    const Strings want{"docs/packed.txt", "docs/old/stored.txt", "os2/x.txt"};
    EXPECT_EQ(List(api, p).names, want);
    EXPECT_EQ(orbtest::BsdtarNames(p), want);
    EXPECT_EQ(BsdtarExtract(p, "docs/packed.txt"), text) << "the packed stream of the fixture is real";
    DataLog log;
    EXPECT_EQ(ProcessAll(api, p, RAR_TEST, "", &log), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(log.data, text + "kept as it is" + "kept as it is");
    const std::string out = dir.file("out");
    EXPECT_EQ(ProcessAll(api, p, RAR_EXTRACT, out), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(std::tuple(orbtest::readFile(out + "/docs/packed.txt"),
                         orbtest::readFile(out + "/docs/old/stored.txt"),
                         orbtest::readFile(out + "/os2/x.txt")),
              std::tuple(text, "kept as it is", "kept as it is"));
    for (const auto &e : fs::recursive_directory_iterator(out))
        EXPECT_EQ(e.path().string().find('\\'), std::string::npos) << e.path();
}

// Names stored without a Unicode form are in the DOS code page when DOS, OS/2
// or Windows made the archive ("Žltý kôň.txt" as code page 852 bytes).
TEST_F(RarLib, NamesWithoutAUnicodeFormFromDosFamilyHostsAreInTheDosCodePage)
{
    const std::string zlty = "\xA6lt\xEC k\x93\xE5.txt";
    // "Ďábel" in code page 852 happens to be well-formed UTF-8 too: the host
    // decides, not the look of the bytes.
    const std::string dabel = "\xD2\xA0" "bel.txt";
    const std::string text = Sample(2000);
    Rar4Member packed = Packed4("packed\\" + dabel, text);
    packed.host = 1;
    const std::vector<Rar4Member> members = {
        {.name = zlty, .data = "dos", .host = 0},
        packed,
        {.name = "dir\\" + zlty, .data = "windows", .host = 2},
        // From Unix: kept as stored, UTF-8 or not.
        {.name = "Žltý.txt", .data = "unix", .host = 3},
        {.name = "\x8A" "a.txt", .data = "unix bytes", .host = 3},
        // A Unicode form wins over the plain name, whatever the host.
        {.name = "Zlty.txt", .unicodeName = U"Žltý.txt", .data = "unicode", .host = 0},
    };
    const Strings want = {"Žltý kôň.txt", "packed/Ďábel.txt", "dir/Žltý kôň.txt", "Žltý.txt", "\x8A" "a.txt",
                          "Žltý.txt"};
    const std::string p = dir.write("dos.rar", WriteRar4(members));
    const Listing l = List(api, p);
    EXPECT_EQ(l.names, want);
    ASSERT_EQ(l.h.size(), want.size());
    EXPECT_EQ(std::wstring(l.h[0].FileNameW), L"Žltý kôň.txt");
    EXPECT_EQ(std::wstring(l.h[1].FileNameW), L"packed/Ďábel.txt");
    {
        Plain a(api, p);
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(std::string(hd.FileName), "Žltý kôň.txt");
    }
    // Written under the names listed; the packed member is still found in the decoder's stream.
    const std::string out = dir.file("out");
    EXPECT_EQ(ProcessAll(api, p, RAR_EXTRACT, out), (std::vector<int>(want.size(), 0)));
    EXPECT_EQ(std::tuple(orbtest::readFile(out + "/Žltý kôň.txt"), orbtest::readFile(out + "/packed/Ďábel.txt"),
                         orbtest::readFile(out + "/dir/Žltý kôň.txt"), orbtest::readFile(out + "/\x8A" "a.txt")),
              std::tuple("dos", text, "windows", "unix bytes"));
    // Format 5.0 names are always UTF-8, from Windows as from Unix.
    const Listing l5 = List(api, dir.write("w5.rar", WriteRar5({{.name = "Ďábel.txt", .data = "w", .host = 0},
                                                                {.name = "Ďábel 2.txt", .data = "u", .host = 1}})));
    EXPECT_EQ(l5.names, (Strings{"Ďábel.txt", "Ďábel 2.txt"}));
}

// Each part but the last carries the CRC of its packed bytes; the last, the whole member's.
TEST_F(RarLib, PackedMemberSplitOverVolumesIsCheckedAgainstTheLastPart)
{
    const std::string text = Sample(5000);
    auto halves = [](auto whole, size_t cut) {
        auto s1 = whole, s2 = whole;
        s1.data = whole.data.substr(0, cut);
        s1.crc = TestCrc32(s1.data);
        s1.splitAfter = true;
        s2.data = whole.data.substr(cut);
        s2.splitBefore = true;
        return std::make_pair(s1, s2);
    };
    const Rar4Member w4 = Packed4("big.txt", text);
    ASSERT_EQ(BsdtarExtract(dir.write("one4.rar", WriteRar4({w4})), "big.txt"), text);
    const auto [a4, b4] = halves(w4, w4.data.size() / 2 + 7); // anywhere in the stream
    dir.write("p4.part1.rar", WriteRar4({a4}, kFirst4));
    dir.write("p4.part2.rar", WriteRar4({b4, {.name = "after.txt", .data = "after"}}, kNext4));
    const Rar5Member w5 = Packed5("big.txt", text);
    ASSERT_EQ(BsdtarExtract(dir.write("one5.rar", WriteRar5({w5})), "big.txt"), text);
    const auto [a5, b5] = halves(w5, w5.data.size() / 2 + 5);
    dir.write("p5.part1.rar", WriteRar5({a5}, {.volume = true, .nextVolume = true}));
    dir.write("p5.part2.rar",
              WriteRar5({b5, {.name = "after.txt", .data = "after"}}, {.volume = true, .volumeNumber = 1}));
    for (const char *first : {"p4.part1.rar", "p5.part1.rar"}) {
        SCOPED_TRACE(first);
        DataLog log;
        EXPECT_EQ(ProcessAll(api, dir.file(first), RAR_TEST, "", &log), (std::vector<int>{0, 0}));
        EXPECT_EQ(log.data, text + "after");
        const std::string out = dir.file(std::string("out-") + first);
        EXPECT_EQ(ProcessAll(api, dir.file(first), RAR_EXTRACT, out), (std::vector<int>{0, 0}));
        EXPECT_EQ(orbtest::readFile(out + "/big.txt"), text);
        EXPECT_EQ(orbtest::readFile(out + "/after.txt"), "after");
    }
    // A last part whose CRC does not match the decoded member is still bad data.
    Rar4Member bad = b4;
    bad.crc = TestCrc32(text) ^ 1;
    dir.write("p4.part2.rar", WriteRar4({bad}, kNext4));
    EXPECT_EQ(ProcessAll(api, dir.file("p4.part1.rar"), RAR_TEST, ""), (std::vector<int>{ERAR_BAD_DATA}));
}
