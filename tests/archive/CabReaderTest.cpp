// The cabinet reader against cabinets made by gcab and checked against
// cabextract, and against hand-built and damaged cabinets.
#include "archive/CabComps.h"
#include "archive/CabConsts.h"
#include "archive/ZipFixtures.h"
#include "archive/ZipLstr.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <sys/stat.h>

namespace {

struct CabEntry {
    std::string Name;    // with '\' between folders, as stored
    uint64_t Size = 0;
    double DateTime = 0; // days since 30 December 1899
};

// Lists a cabinet with `cabextract -l`, an independent reader (throws when
// the tool is missing or fails).
std::vector<CabEntry> CabextractListing(const std::string &cabPath)
{
    // Rows look like "      1234 | 06.12.2026 17:00:44 | dir/name.txt".
    const std::string out = ziptest::RunTool("cabextract", {"-q", "-l", cabPath}, ".");
    std::vector<CabEntry> list;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t bar1 = line.find(" | ");
        const size_t bar2 = bar1 == std::string::npos ? bar1 : line.find(" | ", bar1 + 3);
        if (bar2 == std::string::npos)
            continue;
        const std::string size = line.substr(0, bar1);
        if (size.find_first_not_of(' ') == std::string::npos ||
            size.find_first_not_of(" 0123456789") != std::string::npos)
            continue;
        CabEntry e;
        e.Size = std::stoull(size);
        int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
        if (std::sscanf(line.c_str() + bar1 + 3, "%d.%d.%d %d:%d:%d", &d, &mo, &y, &h, &mi, &s) == 6) {
            // Days from the civil date, then to the 1899-12-30 epoch.
            const int yy = mo <= 2 ? y - 1 : y;
            const int era = yy / 400, yoe = yy - era * 400, mp = (mo + 9) % 12;
            const int doe = yoe * 365 + yoe / 4 - yoe / 100 + (153 * mp + 2) / 5 + d - 1;
            e.DateTime = era * 146097.0 + doe - 719468 + 25569 + (h * 3600 + mi * 60 + s) / 86400.0;
        }
        e.Name = line.substr(bar2 + 3);
        for (char &c : e.Name)
            if (c == '/')
                c = '\\';
        list.push_back(e);
    }
    return list;
}

struct HandFile {
    std::string Name;
    uint32_t Size = 0;
    uint16_t Date = 0x5A21, Time = 0x6000, Attribs = 0x20, Folder = 0;
};

// A cabinet with one stored folder (no data blocks) and these file records;
// `folders` may be 0 for a cabinet with no files at all.
std::string BuildCab(const std::vector<HandFile> &files, uint16_t folders = 1)
{
    const uint32_t firstFile = 36 + 8u * folders; // the header, then the folder records
    std::string records;
    for (const auto &f : files) {
        ziptest::Le(records, {{f.Size, 4}, {0, 4}, {f.Folder, 2}, {f.Date, 2}, {f.Time, 2}, {f.Attribs, 2}});
        records += f.Name + '\0';
    }
    const uint32_t dataStart = firstFile + static_cast<uint32_t>(records.size());
    std::string out = "MSCF";
    ziptest::Le(out, {{0, 4}, {dataStart, 4}, {0, 4}, {firstFile, 4}, {0, 4}, {3, 1}, {1, 1}, {folders, 2},
                      {files.size(), 2}, {0, 2}, {0x1234, 2}, {0, 2}});
    for (uint16_t i = 0; i < folders; ++i)
        ziptest::Le(out, {{dataStart, 4}, {0, 2}, {0, 2}}); // no data blocks, stored
    return out + records;
}


struct Listed {
    std::string Name;
    uint64_t Size;
    int Folder;
    uint16_t Date, Time, Attrs;
};

std::vector<Listed> ListCab(TSTCabReader &r, const std::string &path, bool *isCab = nullptr)
{
    std::vector<Listed> out;
    const bool cab = r.EnumFilesEntries(path, [&](TSTCabReader *sender, const std::string &name, uint64_t size,
                                                  int folder, uint16_t date, uint16_t time, uint16_t attrs, bool &) {
        EXPECT_EQ(sender, &r);
        out.push_back({name, size, folder, date, time, attrs});
    });
    if (isCab)
        *isCab = cab;
    return out;
}

void ExpectSameAsCabextract(const std::vector<Listed> &got, const std::string &path)
{
    const auto want = CabextractListing(path);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(want[i].Name);
        EXPECT_EQ(got[i].Name, want[i].Name);
        EXPECT_EQ(got[i].Size, want[i].Size);
        EXPECT_NEAR(DosDateTimeToDateTime(got[i].Date, got[i].Time), want[i].DateTime, 1e-7);
    }
}


} // namespace

TEST(CabReader, GcabCabinetsListLikeCabextract)
{
    orbtest::TempDir t;
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "stored");
        const std::string path = ziptest::MakeGcab(t, compress ? "z.cab" : "s.cab", compress);
        TSTCabReader r;
        bool isCab = false;
        const auto got = ListCab(r, path, &isCab);
        EXPECT_TRUE(isCab);
        ExpectSameAsCabextract(got, path);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[1].Name, "in\\sub\\data.bin");
        EXPECT_EQ(got[1].Size, 40000u);
        EXPECT_EQ(got[0].Folder, 0);
        // Reached through a symbolic link, the cabinet it names is listed.
        const std::string link = t.file(compress ? "z-link.cab" : "s-link.cab");
        std::filesystem::create_symlink(path, link);
        ExpectSameAsCabextract(ListCab(r, link, &isCab), path);
        EXPECT_TRUE(isCab);
    }
}

TEST(CabReader, MemberEventWhenNoHandlerIsGivenAndAbort)
{
    orbtest::TempDir t;
    const std::string path = ziptest::MakeGcab(t, "s.cab", true);
    TSTCabReader r;
    int calls = 0;
    r.OnReaderEnumFilesEntriesEvent = [&](TSTCabReader *, const std::string &, uint64_t, int, uint16_t, uint16_t,
                                          uint16_t, bool &) { ++calls; };
    EXPECT_TRUE(r.EnumFilesEntries(path));
    EXPECT_EQ(calls, 3);
    // Abort on the first entry stops the listing.
    EXPECT_TRUE(r.EnumFilesEntries(path, [&](TSTCabReader *, const std::string &, uint64_t, int, uint16_t, uint16_t,
                                             uint16_t, bool &abort) {
        ++calls;
        abort = true;
    }));
    EXPECT_EQ(calls, 4);
}

TEST(CabReader, CabinetWithoutFiles)
{
    orbtest::TempDir t;
    for (uint16_t folders : {0, 1}) {
        const std::string path = t.write("empty" + std::to_string(folders) + ".cab", BuildCab({}, folders));
        TSTCabReader r;
        bool isCab = false;
        EXPECT_TRUE(ListCab(r, path, &isCab).empty());
        EXPECT_TRUE(isCab);
    }
}

TEST(CabReader, HandBuiltRecords)
{
    orbtest::TempDir t;
    std::vector<HandFile> files(3);
    files[0] = {"a.txt", 10, 0x5A21, 0x6000, 0x21, 0};
    files[1] = {"dir\\\x9A\xE8.txt", 20, 0, 0, 0x20, 1}; // Windows-1250 name, no date
    files[2] = {"dir\\\xC5\xA1.txt", 30, 0x5A21, 0x6000, 0xA0, 1}; // UTF-8 name, flagged
    const std::string path = t.write("h.cab", BuildCab(files, 2));
    TSTCabReader r;
    const auto got = ListCab(r, path);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::tuple(got[0].Name, got[1].Name, got[2].Name),
              std::tuple("a.txt", "dir\\\xC5\xA1\xC4\x8D.txt", "dir\\\xC5\xA1.txt"));
    EXPECT_EQ(std::tuple(+got[0].Attrs, got[1].Folder, got[2].Size), std::tuple(0x21, 1, uint64_t(30)));
    EXPECT_EQ(DosDateTimeToDateTime(got[1].Date, got[1].Time), 0.0);
}

TEST(CabReader, NotACabinetListsNothingAndRaisesNothing)
{
    orbtest::TempDir t;
    TSTCabReader r;
    int calls = 0;
    auto count = [&](TSTCabReader *, const std::string &, uint64_t, int, uint16_t, uint16_t, uint16_t, bool &) {
        ++calls;
    };
    for (const std::string &bytes : {std::string("plain text, not a cabinet"), std::string(), std::string("MSC"),
                                     std::string("ISc(") + std::string(100, '\0')}) {
        const std::string path = t.write("x.cab", bytes);
        EXPECT_FALSE(r.EnumFilesEntries(path, count));
    }
    // An unknown major version is not a cabinet either.
    std::string v2 = BuildCab({{"a", 1}});
    v2[25] = 2;
    EXPECT_FALSE(r.EnumFilesEntries(t.write("v2.cab", v2), count));
    // A folder or a pipe with a cabinet's name is skipped, without waiting on the pipe.
    std::filesystem::create_directories(t.file("folder.cab"));
    EXPECT_FALSE(r.EnumFilesEntries(t.file("folder.cab"), count));
    ASSERT_EQ(::mkfifo(t.file("pipe.cab").c_str(), 0600), 0);
    EXPECT_FALSE(r.EnumFilesEntries(t.file("pipe.cab"), count));
    EXPECT_EQ(calls, 0);
}

TEST(CabReader, UnopenableAndDamagedCabinetsRaiseErrorsOfThatArchive)
{
    orbtest::TempDir t;
    try {
        TSTCabReader().EnumFilesEntries(t.file("missing.cab")); // a reader that never opened a cabinet
        ADD_FAILURE() << "no exception";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(std::string(e.what()).rfind("System Error. Code: 2.", 0), 0u) << e.what();
    }
    TSTCabReader r;
    const std::string good = BuildCab({{"first.txt", 5}, {"second.txt", 6}});
    std::string pastEnd = good, moreFiles = good;
    pastEnd.replace(16, 3, "\x00\x00\x10", 3); // the first file record past the end
    moreFiles[28] = 9;                           // more files announced than recorded
    const struct {
        std::string bytes;
        std::string text; // empty: any cabinet error
    } cases[] = {{pastEnd, SCabStreamPosition},
                 {good.substr(0, good.size() - 1), ""}, // the last name loses its zero byte
                 {BuildCab({{std::string(300, 'n'), 1}}), "Cabinet file is corrupt [0x0004]"},
                 {moreFiles, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        try {
            ListCab(r, t.write("bad.cab", c.bytes));
            ADD_FAILURE() << "no exception";
        } catch (const ECabinetError &e) {
            EXPECT_TRUE(c.text.empty() || c.text == e.what()) << e.what();
            EXPECT_EQ(e.ErrorRecord().erfOper, FDIERROR_CORRUPT_CABINET);
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(c.text, e.what());
        }
    }
    // 256 bytes is the longest name the format allows, and is listed.
    const auto got = ListCab(r, t.write("max.cab", BuildCab({{std::string(256, 'm'), 1}})));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Name.size(), 256u);
}

TEST(CabReader, EveryTruncationIsListedOrReported)
{
    orbtest::TempDir t;
    std::vector<std::string> fixtures = {orbtest::readFile(ziptest::MakeGcab(t, "s.cab", false, 2000)),
                                         orbtest::readFile(ziptest::MakeGcab(t, "z.cab", true, 2000)),
                                         BuildCab({{"a.txt", 1}, {"b\\c.txt", 2}}), BuildCab({}, 0)};
    TSTCabReader r;
    const std::string path = t.file("cut.cab");
    // A cut or damaged cabinet lists a leading part of its entries, is not a
    // cabinet, or is reported as an error of this archive; nothing else.
    auto check = [&](const std::string &what) {
        try {
            bool isCab = false;
            const auto listed = ListCab(r, path, &isCab);
            if (!isCab) {
                EXPECT_TRUE(listed.empty()) << what;
            }
        } catch (const std::runtime_error &) {
            // reported as an error of this archive
        }
    };
    for (size_t f = 0; f < fixtures.size(); ++f) {
        SCOPED_TRACE(f);
        const std::string &bytes = fixtures[f];
        const std::string full = t.write("full.cab", bytes);
        std::vector<std::string> fullNames;
        for (const auto &e : ListCab(r, full))
            fullNames.push_back(e.Name);
        // The records end where the first folder's data begins.
        const size_t recordsEnd =
            bytes.size() >= 40 ? (static_cast<uint8_t>(bytes[36]) | (static_cast<uint8_t>(bytes[37]) << 8)) : bytes.size();
        for (size_t len = 0; len <= bytes.size(); ++len) {
            t.write("cut.cab", bytes.substr(0, len));
            std::vector<std::string> names;
            bool isCab = false, raised = false;
            try {
                for (const auto &e : ListCab(r, path, &isCab))
                    names.push_back(e.Name);
            } catch (const std::runtime_error &) {
                raised = true;
            }
            if (len < 4) {
                EXPECT_FALSE(isCab || raised) << "length " << len;
            }
            if (len >= recordsEnd && !fullNames.empty()) {
                EXPECT_FALSE(raised) << "length " << len;
                EXPECT_EQ(names, fullNames) << "length " << len;
            } else {
                ASSERT_LE(names.size(), fullNames.size());
                EXPECT_TRUE(std::equal(names.begin(), names.end(), fullNames.begin())) << "length " << len;
            }
        }
        // Header and record bytes set to 0xFF one at a time.
        for (size_t pos = 0; pos < std::min<size_t>(bytes.size(), 200); ++pos) {
            std::string bad = bytes;
            bad[pos] = '\xFF';
            t.write("cut.cab", bad);
            check("byte " + std::to_string(pos));
        }
    }
}

TEST(CabReader, ExceptionMessages)
{
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{FDIERROR_CABINET_NOT_FOUND, ENOENT, true}, false),
              std::string("Cabinet not found [0x0001].\r\n") + std::strerror(ENOENT) + " [0x0002].");
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{FDIERROR_USER_ABORT, 0, true}, false), "FDI aborted [0x000B]");
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{42, 0, true}, false), "FDI error [0x002A]");
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{8, 0, true}, true), "Failure compressing data [0x0008]");
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{4, 0, false}, false), "FDI error");
    EXPECT_EQ(ECabinetError::BuildMessage(TERF{4, 0, false}, true), "FCI error");
    EXPECT_EQ(FdiErrorText(9), "Cabinets in a set do not have the same RESERVE sizes");
    EXPECT_EQ(FciErrorText(4), "Could not create a temporary file");
}
