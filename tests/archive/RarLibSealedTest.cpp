// The RAR listing library on archives that hide their start or their
// headers: self-extracting archives after a program stub, encrypted members
// and encrypted headers opened with the password.
#include "archive/RarLibTestSupport.h"
#include "support/BsdtarNames.h"

#include <string>

using namespace rarlibtest;

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
    const std::string path =
        dir.write("enc.rar", WriteRar5({{.name = "secret.txt", .data = "xxxxxxxx", .encrypted = true}}));
    Listing l = List(api, path, RAR_OM_LIST, cb, LPARAM(&asked));
    ASSERT_EQ(l.names.size(), 1u);
    EXPECT_TRUE(l.h[0].Flags & RHDF_ENCRYPTED);
    EXPECT_EQ(asked.count, 0); // listing needs no password
    {
        Plain a(api, path, RAR_OM_EXTRACT);
        api->RARSetCallback(a.h, cb, LPARAM(&asked));
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(api->RARProcessFile(a.h, RAR_TEST, nullptr, nullptr), ERAR_MISSING_PASSWORD);
        EXPECT_EQ(asked.count, 1);
        EXPECT_GT(asked.size, 1u);
    }
    asked = Asked();
    l = List(api, dir.write("eh.rar", WriteRar5({}, {.encryptedHeaders = true})), RAR_OM_LIST, cb, LPARAM(&asked));
    EXPECT_EQ(l.openResult, 0u);
    EXPECT_TRUE(l.arcFlags & ROADF_ENCHEADERS);
    EXPECT_TRUE(l.names.empty());
    EXPECT_EQ(l.last, ERAR_MISSING_PASSWORD);
    EXPECT_EQ(asked.count, 1);
}

TEST_F(RarLib, SelfExtractingArchivesAreFoundAfterTheStub)
{
    // A program stub that holds the signature itself (followed by no sound
    // header), placed where bsdtar does not look: it tries every 16th byte
    // from 64 KiB on.
    std::string stub = "MZ" + std::string(0x10010 - 2, '\x90');
    stub.replace(1001, 8, std::string("Rar!\x1A\x07\x01\x00", 8));
    stub.replace(0x10001, 7, std::string("Rar!\x1A\x07\x00", 7));
    const struct {
        std::string archive;
        Strings names;
    } cases[] = {{WriteRar4(Sample4()), Names(Sample4())}, {WriteRar5(Sample5()), Names(Sample5())}};
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        const std::string path = dir.write("sfx.exe", stub + c.archive);
        const Listing l = List(api, path);
        EXPECT_EQ(l.openResult, 0u);
        EXPECT_EQ(l.names, c.names);
        EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
        EXPECT_EQ(l.names, orbtest::BsdtarNames(path));
        DataLog log;
        EXPECT_EQ(ProcessAll(api, path, RAR_TEST, "", &log), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(log.data.size(), c.archive == cases[0].archive ? 17u : 3004u);
    }
    // Packed members are decoded wherever the stub ends.
    const std::string text = Sample(5000);
    for (const std::string &archive : {WriteRar4({Packed4("p.txt", text)}), WriteRar5({Packed5("p.txt", text)})}) {
        DataLog log;
        EXPECT_EQ(ProcessAll(api, dir.write("packed.exe", std::string(3001, 'S') + archive), RAR_TEST, "", &log),
                  std::vector<int>{0});
        EXPECT_EQ(log.data, text);
    }
    // A stub alone, or an archive beyond the part of the file searched, is no archive.
    EXPECT_EQ(List(api, dir.write("stub.exe", stub)).openResult, unsigned(ERAR_BAD_ARCHIVE));
    EXPECT_EQ(List(api, dir.write("far.exe", stub + std::string(4 << 20, '\0') + cases[0].archive)).openResult,
              unsigned(ERAR_BAD_ARCHIVE));
}

TEST_F(RarLib, SelfExtractingArchivesWithEncryptedHeadersListWithThePassword)
{
    const std::string pw = "heslo";
    // A stub holding the signature of either format, with nothing sound after it.
    std::string stub = "MZ" + std::string(5000, '\x90');
    stub.replace(1001, 8, std::string("Rar!\x1A\x07\x01\x00", 8));
    stub.replace(3001, 7, std::string("Rar!\x1A\x07\x00", 7));
    const struct {
        const char *what;
        std::string archive;
        Strings names;
    } cases[] = {
        {"format 4", WriteRar4(Sample4(), {.headerPassword = pw}), Names(Sample4())},
        {"format 5", WriteRar5(Sample5(), {.encryptedHeaders = true, .headerPassword = pw, .kdfLg2 = 10}),
         Names(Sample5())},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("sfx.exe", stub + c.archive);
        PasswordLog right{.given = pw};
        const Listing l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&right));
        EXPECT_EQ(l.openResult, 0u);
        EXPECT_TRUE(l.arcFlags & ROADF_ENCHEADERS);
        EXPECT_EQ(l.names, c.names);
        EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
        EXPECT_EQ(right.asked, 1);
        PasswordLog wrong{.given = "Heslo"};
        EXPECT_TRUE(List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&wrong)).names.empty());
    }
}

// The signature is looked for in chunks of 64 KiB; one that begins near the
// first chunk's end, or at the next one's start, is found all the same.
TEST_F(RarLib, SignatureAtTheEndOfTheFirstSearchChunkIsFound)
{
    for (size_t stubSize : {size_t(65531), size_t(65533), size_t(65536)}) {
        for (const std::string &archive : {WriteRar4(Sample4()), WriteRar5(Sample5())}) {
            SCOPED_TRACE(std::to_string(stubSize) + (archive[6] == 1 ? " format 5" : " format 4"));
            const std::string path = dir.write("sfx.exe", "MZ" + std::string(stubSize - 2, '\x90') + archive);
            const Listing l = List(api, path);
            EXPECT_EQ(l.openResult, 0u);
            EXPECT_EQ(l.names.size(), 3u);
            EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
        }
    }
}

// A check value whose own checksum fails says nothing about the password:
// the right one still opens the headers, and a wrong one is still refused by
// the headers' CRCs.
TEST_F(RarLib, DamagedPasswordCheckValueDoesNotDecide)
{
    const std::string pw = "tajné heslo";
    const std::string path = dir.write(
        "damaged.rar",
        WriteRar5(Sample5(), {.encryptedHeaders = true, .headerPassword = pw, .kdfLg2 = 10, .pswCheckDamaged = true}));
    PasswordLog right{.given = pw};
    Listing l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&right));
    EXPECT_EQ(l.openResult, 0u);
    EXPECT_EQ(l.names, Names(Sample5()));
    EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
    PasswordLog wrong{.given = "tajne heslo"};
    l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&wrong));
    EXPECT_TRUE(l.names.empty());
    EXPECT_EQ(l.last, ERAR_BAD_DATA);
}

TEST_F(RarLib, EncryptedHeadersListWithTheRightPasswordOnly)
{
    const std::string pw = "tajné heslo";
    const struct {
        const char *what;
        std::string bytes;
        Strings names;
    } cases[] = {
        {"format 4", WriteRar4(Sample4(), {.comment = "c", .headerPassword = pw}), Names(Sample4())},
        {"format 5", WriteRar5(Sample5(), {.comment = "c", .encryptedHeaders = true, .headerPassword = pw}),
         Names(Sample5())},
        {"format 5 without a check value",
         WriteRar5(Sample5(), {.encryptedHeaders = true, .headerPassword = pw, .kdfLg2 = 10, .pswCheck = false}),
         Names(Sample5())},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("eh.rar", c.bytes);
        PasswordLog right{.given = pw};
        Listing l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&right));
        EXPECT_EQ(l.openResult, 0u);
        EXPECT_TRUE(l.arcFlags & ROADF_ENCHEADERS);
        EXPECT_EQ(l.names, c.names);
        EXPECT_EQ(l.last, ERAR_END_ARCHIVE);
        EXPECT_EQ(right.asked, 1);
        ASSERT_EQ(l.h.size(), c.names.size());
        EXPECT_EQ(Size(l.h[1].UnpSize, l.h[1].UnpSizeHigh), c.names.size() == 3 && c.what[7] == '4' ? 17u : 3000u);
        // A wrong password ends the listing as bad data before any member;
        // so does one that differs only in case.
        for (const std::string &wrong : {std::string("tajne heslo"), std::string("TAJNÉ HESLO")}) {
            PasswordLog bad{.given = wrong};
            l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&bad));
            EXPECT_TRUE(l.names.empty());
            EXPECT_EQ(l.last, ERAR_BAD_DATA);
        }
        PasswordLog none;
        l = List(api, path, RAR_OM_LIST, PasswordCallback, LPARAM(&none));
        EXPECT_TRUE(l.names.empty());
        EXPECT_EQ(l.last, ERAR_MISSING_PASSWORD);
        // The password set beforehand serves without a question.
        Plain a(api, path);
        std::vector<char> given = CStr(pw);
        api->RARSetPassword(a.h, given.data());
        RARHeaderData hd{};
        ASSERT_EQ(api->RARReadHeader(a.h, &hd), 0);
        EXPECT_EQ(std::string(hd.FileName), c.names[0]);
    }
    // Every cut and every changed byte of an archive with encrypted headers ends cleanly.
    const std::string full = WriteRar5(Sample5(), {.comment = "c", .encryptedHeaders = true, .headerPassword = pw,
                                                   .kdfLg2 = 1});
    for (size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        std::string changed = full;
        changed[n] = char(changed[n] ^ 0x21);
        for (const std::string &bytes : {full.substr(0, n), changed}) {
            PasswordLog log{.given = pw};
            const Listing l = List(api, dir.write("cut.rar", bytes), RAR_OM_LIST, PasswordCallback, LPARAM(&log));
            if (l.openResult != 0) {
                EXPECT_TRUE(l.openResult == ERAR_BAD_ARCHIVE || l.openResult == ERAR_BAD_DATA) << l.openResult;
                continue;
            }
            EXPECT_LE(l.names.size(), 3u);
            EXPECT_TRUE(l.last == ERAR_END_ARCHIVE || l.last == ERAR_BAD_DATA) << l.last;
        }
    }
    // Volumes: each volume's headers are opened with the same password.
    dir.write("v.part1.rar", WriteRar4({{.name = "a.txt", .data = "first"}, kSplit1},
                                       {.volume = true, .newNumbering = true, .firstVolume = true,
                                        .nextVolume = true, .headerPassword = pw}));
    dir.write("v.part2.rar", WriteRar4({{.name = "movie.avi", .data = "ABCDEFGHIJ", .splitBefore = true},
                                        {.name = "b.txt", .data = "second"}},
                                       {.volume = true, .newNumbering = true, .headerPassword = pw,
                                        .salt = "NewSalt!"}));
    PasswordLog right{.given = pw};
    const Listing l = List(api, dir.file("v.part1.rar"), RAR_OM_LIST, PasswordCallback, LPARAM(&right));
    EXPECT_EQ(l.names, (Strings{"a.txt", "movie.avi", "b.txt"}));
    EXPECT_EQ(right.asked, 1);
}
