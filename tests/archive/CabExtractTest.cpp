// The cabinet reader's extraction against cabinets made by gcab (checked
// against what cabextract writes) and a hand-built cabinet set.
#include "archive/CabComps.h"
#include "archive/ZipFixtures.h"
#include "platform/ShellOpen.h"
#include "support/TempDir.h"

#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {


// Changes the attribute word of the member whose stored name is `name`.
void SetAttrs(const std::string &path, const std::string &name, uint16_t attrs)
{
    std::string bytes = orbtest::readFile(path);
    const size_t at = bytes.find(name + '\0');
    ASSERT_NE(at, std::string::npos);
    bytes[at - 2] = char(attrs & 0xFF);
    bytes[at - 1] = char(attrs >> 8);
    std::ofstream(path, std::ios::binary) << bytes;
}

// Records every event of an extraction.
struct Events {
    explicit Events(TSTCabReader &r)
    {
        r.OnCabinetInfo = [this](TSTCabReader *, const std::string &cab, const std::string &next,
                                 const std::string &disk, uint16_t, uint16_t number) {
            log.push_back("info " + fs::path(cab).filename().string() + " next=" + next + " disk=" + disk + " #" +
                          std::to_string(number));
        };
        r.OnCopyFile = [this](TSTCabReader *, const std::string &name, uint64_t size, uint16_t, uint16_t, uint16_t,
                              std::string &target, bool &skip) {
            log.push_back("copy " + name + " " + std::to_string(size));
            if (name == skipName)
                skip = true;
            if (name == redirectName)
                target = redirectTo;
        };
        r.OnCopyPartialFile = [this](TSTCabReader *, const std::string &name, const std::string &first,
                                     const std::string &disk) {
            log.push_back("partial " + name + " from " + first + " on " + disk);
        };
        r.OnCloseFile = [this](TSTCabReader *, const std::string &name, const std::string &, bool execute) {
            log.push_back("close " + name + (execute ? " execute" : ""));
        };
        r.OnNextCabinet = [this](TSTCabReader *, const std::string &next, const std::string &disk, std::string &path,
                                 bool &abort) {
            log.push_back("next " + next + " disk=" + disk);
            if (!nextPath.empty())
                path = nextPath;
            abort = abortNext;
        };
        r.OnUnrecognizedNotify = [this](TSTCabReader *, int code) { log.push_back("notify " + std::to_string(code)); };
    }
    Strings log;
    std::string skipName, redirectName, redirectTo, nextPath;
    bool abortNext = false;
};

std::string Tree(const std::string &dir)
{
    std::string out;
    std::vector<fs::path> files;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto &f : files)
        out += fs::relative(f, dir).string() + "=" + std::to_string(fs::file_size(f)) + ";";
    return out;
}

} // namespace

TEST(CabExtract, GcabCabinetsExtractLikeCabextract)
{
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "stored");
        orbtest::TempDir t;
        const std::string cab = ziptest::MakeGcab(t, "x.cab", compress);
        ziptest::RunTool("cabextract", {"-q", "-d", t.file("want"), cab}, t.str());
        TSTCabReader r;
        Events ev(r);
        ASSERT_TRUE(r.ExtractFiles(cab, t.file("got")));
        EXPECT_EQ(Tree(t.file("got")), Tree(t.file("want")));
        EXPECT_EQ(orbtest::readFile(t.file("got/in/sub/data.bin")), orbtest::readFile(t.file("want/in/sub/data.bin")));
        // The members' times, as cabextract sets them too.
        EXPECT_EQ(fs::last_write_time(t.file("got/in/readme.txt")), fs::last_write_time(t.file("want/in/readme.txt")));
        // And their permissions: a new file's, not those of the private temporary file.
        struct stat got {}, want {};
        ASSERT_EQ(::stat(t.file("got/in/sub/data.bin").c_str(), &got), 0);
        ASSERT_EQ(::stat(t.file("want/in/sub/data.bin").c_str(), &want), 0);
        EXPECT_EQ(got.st_mode & 0777, want.st_mode & 0777);
        EXPECT_EQ(ev.log, (Strings{"info x.cab next= disk= #0", "copy in\\readme.txt 8", "close in\\readme.txt",
                                   "copy in\\sub\\data.bin 40000", "close in\\sub\\data.bin",
                                   "copy in\\sub\\deeper\\empty.txt 0",
                                   "close in\\sub\\deeper\\empty.txt", "notify 5"}));
        EXPECT_EQ(r.ExtractedFiles, (Strings{t.file("got/in/readme.txt"), t.file("got/in/sub/data.bin"),
                                             t.file("got/in/sub/deeper/empty.txt")}));
        // A cabinet reached through a symbolic link extracts as the cabinet it names.
        fs::create_symlink(cab, t.file("link.cab"));
        ASSERT_TRUE(r.ExtractFiles(t.file("link.cab"), t.file("linked")));
        EXPECT_EQ(Tree(t.file("linked")), Tree(t.file("want")));
    }
}

TEST(CabExtract, ChoosingSkippingAndRedirectingMembers)
{
    orbtest::TempDir t;
    const std::string cab = ziptest::MakeGcab(t, "x.cab", true);
    TSTCabReader r;
    Events ev(r);
    ev.skipName = "in\\readme.txt";
    ev.redirectName = "in\\sub\\data.bin";
    ev.redirectTo = t.file("elsewhere/renamed.bin");
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("out")));
    EXPECT_EQ(Tree(t.file("out")), "in/sub/deeper/empty.txt=0;");
    EXPECT_EQ(fs::file_size(t.file("elsewhere/renamed.bin")), 40000u);
    EXPECT_EQ(r.ExtractedFiles, (Strings{t.file("elsewhere/renamed.bin"), t.file("out/in/sub/deeper/empty.txt")}));
    // Only the members named.
    r.FilesToExtract = {"in\\sub\\deeper\\empty.txt"};
    ev.log.clear();
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("only")));
    EXPECT_EQ(Tree(t.file("only")), "in/sub/deeper/empty.txt=0;");
    EXPECT_EQ(ev.log, (Strings{"info x.cab next= disk= #0", "copy in\\sub\\deeper\\empty.txt 0",
                               "close in\\sub\\deeper\\empty.txt",
                               "notify 5"}));
    // Not a cabinet: false, nothing written.
    EXPECT_FALSE(r.ExtractFiles(t.write("no.cab", "not a cabinet"), t.file("none")));
    EXPECT_FALSE(fs::exists(t.file("none")));
}

TEST(CabExtract, ReadOnlyTargetsAndReadOnlyMembers)
{
    orbtest::TempDir t;
    const std::string cab = ziptest::MakeGcab(t, "x.cab", false);
    SetAttrs(cab, "in\\readme.txt", 0x21); // read-only
    const std::string target = t.write("out/in/sub/data.bin", "keep me");
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
    TSTCabReader r;
    r.Options = {croDontOverwriteReadOnlyFiles};
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("out")));
    EXPECT_EQ(orbtest::readFile(target), "keep me");
    EXPECT_EQ(r.ExtractedFiles.size(), 2u);
    // A read-only member is written read-only, and the option keeps it on a second run.
    struct stat st {};
    ASSERT_EQ(::stat(t.file("out/in/readme.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("out")));
    EXPECT_EQ(r.ExtractedFiles, Strings{t.file("out/in/sub/deeper/empty.txt")});
    // Without the option read-only targets are replaced.
    r.Options.clear();
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("out")));
    EXPECT_EQ(fs::file_size(target), 40000u);
    EXPECT_EQ(r.ExtractedFiles.size(), 3u);
}

TEST(CabExtract, ExecuteOnExtractOpensMarkedMembersWithTheDesktopOpener)
{
    orbtest::TempDir t;
    const std::string cab = ziptest::MakeGcab(t, "x.cab", true);
    SetAttrs(cab, "in\\readme.txt", 0x60); // run after extraction
    // A stand-in opener that records its arguments.
    const std::string opener = t.write("opener.sh", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$0.out\"\n");
    fs::permissions(opener, fs::perms::owner_all);
    SetShellOpenProgram(QString::fromStdString(opener));
    TSTCabReader r;
    Events ev(r);
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("plain")));
    EXPECT_EQ(ev.log[2], "close in\\readme.txt");
    r.Options = {croExecuteOnExtract};
    ev.log.clear();
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("run")));
    EXPECT_EQ(ev.log[2], "close in\\readme.txt execute");
    EXPECT_EQ(ev.log[4], "close in\\sub\\data.bin");
    std::string opened;
    for (int i = 0; i < 300 && opened.empty(); ++i) {
        QThread::msleep(10);
        opened = orbtest::readFile(opener + ".out");
    }
    SetShellOpenProgram(QString());
    EXPECT_EQ(opened, t.file("run/in/readme.txt") + "\n");
}

TEST(CabExtract, UnsafeNamesAndDamageLeaveNothingBehind)
{
    orbtest::TempDir t;
    const std::string cab = ziptest::MakeGcab(t, "x.cab", true);
    std::string bytes = orbtest::readFile(cab);
    const size_t name = bytes.find("in\\sub\\data.bin");
    ASSERT_NE(name, std::string::npos);
    std::string unsafe = bytes;
    unsafe.replace(name, 2, ".."); // "..\sub\data.bin"
    TSTCabReader r;
    try {
        r.ExtractFiles(t.write("unsafe.cab", unsafe), t.file("out/dest"));
        ADD_FAILURE() << "no error";
    } catch (const ECabinetError &e) {
        EXPECT_EQ(e.ErrorRecord().erfOper, FDIERROR_TARGET_FILE);
    }
    EXPECT_FALSE(fs::exists(t.file("out/sub")));
    // Damaged compressed data: an error, and neither the member nor a temporary file.
    std::string damaged = bytes;
    for (size_t i = damaged.size() - 200; i < damaged.size() - 100; ++i)
        damaged[i] = char(~damaged[i]);
    EXPECT_THROW(r.ExtractFiles(t.write("damaged.cab", damaged), t.file("d")), ECabinetError);
    EXPECT_FALSE(fs::exists(t.file("d/in/sub/data.bin")));
    if (fs::exists(t.file("d/in/sub"))) {
        EXPECT_TRUE(fs::is_empty(t.file("d/in/sub")));
    }
}

namespace {

// One cabinet of a hand-built set: stored folders, each with its data blocks
// (an uncompressed size of 0 marks a block that goes on in the next cabinet).
struct SetFile {
    std::string name;
    uint32_t size, offset;
    uint16_t folder;
};
std::string SetCabinet(uint16_t number, const std::string &prev, const std::string &next,
                       const std::vector<std::vector<std::pair<std::string, uint16_t>>> &folders,
                       const std::vector<SetFile> &files)
{
    using ziptest::Le;
    std::string names;
    if (!prev.empty())
        names += prev + '\0' + "Disk " + std::to_string(number) + '\0';
    if (!next.empty())
        names += next + '\0' + "Disk " + std::to_string(number + 2) + '\0';
    std::string records;
    for (const auto &f : files) {
        Le(records, {{f.size, 4}, {f.offset, 4}, {f.folder, 2}, {0x5A21, 2}, {0x6000, 2}, {0x20, 2}});
        records += f.name + '\0';
    }
    const uint32_t firstFile = uint32_t(36 + names.size() + 8 * folders.size());
    const uint32_t dataStart = firstFile + uint32_t(records.size());
    std::string folderRecords, data;
    for (const auto &blocks : folders) {
        Le(folderRecords, {{dataStart + data.size(), 4}, {blocks.size(), 2}, {0, 2}}); // stored
        for (const auto &[bytes, unp] : blocks) {
            Le(data, {{0, 4}, {bytes.size(), 2}, {unp, 2}}); // no checksum
            data += bytes;
        }
    }
    std::string out = "MSCF";
    Le(out, {{0, 4}, {dataStart + data.size(), 4}, {0, 4}, {firstFile, 4}, {0, 4}, {3, 1}, {1, 1},
             {folders.size(), 2}, {files.size(), 2}, {(prev.empty() ? 0 : 1) | (next.empty() ? 0 : 2), 2},
             {0x4242, 2}, {number, 2}});
    return out + names + folderRecords + records + data;
}

} // namespace

TEST(CabExtract, MembersGoOnIntoTheNextCabinetOfTheSet)
{
    orbtest::TempDir t;
    // The first folder holds "hello" + "0123456789": big.bin runs from a.cab
    // into b.cab, whose second folder holds c.txt.
    const std::string a = t.write("a.cab", SetCabinet(0, "", "b.cab", {{{"hello0123", 0}}},
                                                      {{"a.txt", 5, 0, 0}, {"big.bin", 10, 5, 0xFFFE}}));
    const std::string b = t.write("b.cab", SetCabinet(1, "a.cab", "", {{{"456789", 15}}, {{"xyz", 3}}},
                                                      {{"big.bin", 10, 5, 0xFFFD}, {"c.txt", 3, 0, 1}}));
    ziptest::RunTool("cabextract", {"-q", "-d", t.file("want"), a}, t.str());
    TSTCabReader r;
    Events ev(r);
    ASSERT_TRUE(r.ExtractFiles(a, t.file("out")));
    EXPECT_EQ(orbtest::readFile(t.file("out/big.bin")), "0123456789");
    EXPECT_EQ(orbtest::readFile(t.file("out/big.bin")), orbtest::readFile(t.file("want/big.bin")));
    EXPECT_EQ(orbtest::readFile(t.file("out/c.txt")), "xyz");
    EXPECT_EQ(Tree(t.file("out")), "a.txt=5;big.bin=10;c.txt=3;");
    EXPECT_EQ(ev.log, (Strings{"info a.cab next=b.cab disk=Disk 2 #0", "next b.cab disk=Disk 2",
                               "info b.cab next= disk= #1", "copy a.txt 5", "close a.txt", "copy big.bin 10",
                               "close big.bin", "notify 5", "copy c.txt 3", "close c.txt", "notify 5"}));
    // From the second cabinet: the member that began in the first is only reported.
    ev.log.clear();
    ASSERT_TRUE(r.ExtractFiles(b, t.file("out2")));
    EXPECT_EQ(Tree(t.file("out2")), "c.txt=3;");
    EXPECT_EQ(ev.log, (Strings{"info b.cab next= disk= #1", "partial big.bin from a.cab on Disk 1", "notify 5",
                               "copy c.txt 3", "close c.txt", "notify 5"}));
    // The next cabinet elsewhere, or refused.
    fs::create_directories(t.file("moved"));
    fs::rename(b, t.file("moved/b.cab"));
    ev.nextPath = t.file("moved/b.cab");
    ASSERT_TRUE(r.ExtractFiles(a, t.file("out3")));
    EXPECT_EQ(orbtest::readFile(t.file("out3/big.bin")), "0123456789");
    ev.abortNext = true;
    try {
        r.ExtractFiles(a, t.file("out4"));
        ADD_FAILURE() << "no error";
    } catch (const ECabinetError &e) {
        EXPECT_EQ(e.ErrorRecord().erfOper, FDIERROR_USER_ABORT);
    }
    EXPECT_FALSE(fs::exists(t.file("out4")));
}

TEST(CabExtract, DotStepsAreFollowedAndOnlyLeavingTheDestinationEndsTheExtraction)
{
    orbtest::TempDir t;
    // One stored folder "ABCDEFGHIJKL"; the members after the odd names are written too.
    const std::vector<std::pair<std::string, std::string>> members = {
        {"dot\\.\\x.txt", "ABC"}, {"sub\\..\\inside.txt", "DEF"}, {"a\\\\b.txt", "GH"}, {"last.txt", "IJKL"}};
    std::vector<SetFile> files;
    uint32_t offset = 0;
    for (const auto &[name, data] : members) {
        files.push_back({name, uint32_t(data.size()), offset, 0});
        offset += uint32_t(data.size());
    }
    const std::string cab = t.write("dots.cab", SetCabinet(0, "", "", {{{"ABCDEFGHIJKL", 12}}}, files));
    TSTCabReader r;
    ASSERT_TRUE(r.ExtractFiles(cab, t.file("got")));
    EXPECT_EQ(Tree(t.file("got")), "a/b.txt=2;dot/x.txt=3;inside.txt=3;last.txt=4;");
    EXPECT_EQ(r.ExtractedFiles, (Strings{t.file("got/dot/x.txt"), t.file("got/inside.txt"),
                                         t.file("got/a/b.txt"), t.file("got/last.txt")}));
    // cabextract writes the same bytes inside its destination; it renames a
    // ".." step rather than following it.
    ziptest::RunTool("cabextract", {"-q", "-d", t.file("want"), cab}, t.str());
    EXPECT_EQ(orbtest::readFile(t.file("got/dot/x.txt")), orbtest::readFile(t.file("want/dot/x.txt")));
    EXPECT_EQ(orbtest::readFile(t.file("got/a/b.txt")), orbtest::readFile(t.file("want/a/b.txt")));
    EXPECT_EQ(orbtest::readFile(t.file("got/last.txt")), orbtest::readFile(t.file("want/last.txt")));
    EXPECT_EQ(orbtest::readFile(t.file("got/inside.txt")), "DEF");
    EXPECT_TRUE(fs::exists(t.file("want/sub/xx/inside.txt")));

    // Names that climb above the destination, are absolute or name no file
    // end the extraction before anything of theirs is written.
    for (const std::string bad : {"sub\\..\\..\\out.txt", "\\abs.txt", "dir\\", "z\\..", "a\\b\\..", "."}) {
        SCOPED_TRACE(bad);
        fs::remove_all(t.file("bad"));
        const std::string badCab = t.write("bad.cab", SetCabinet(0, "", "", {{{"ABCDEFGHIJKL", 12}}},
                                                                 {{"first.txt", 3, 0, 0}, {bad, 9, 3, 0}}));
        try {
            r.ExtractFiles(badCab, t.file("bad/dest"));
            ADD_FAILURE() << "no error";
        } catch (const ECabinetError &e) {
            EXPECT_EQ(e.ErrorRecord().erfOper, FDIERROR_TARGET_FILE);
        }
        EXPECT_EQ(Tree(t.file("bad")), "dest/first.txt=3;");
    }
}
