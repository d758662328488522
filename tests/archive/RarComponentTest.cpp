// TRarLister against a scripted library (error and callback paths) and against
// our real library (end to end).
#include "archive/RarLister.h"
#include "archive/RarWriter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

// Designated initializers leave the fields not named at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace rartest;
using Strings = std::vector<std::string>;

namespace {

struct FakeHeader {
    int result = 0;
    std::string name;
    unsigned flags = 0;
    uint64_t pack = 0, unp = 0;
};

// The scripted library: what it answers, and what it was asked.
struct FakeLib {
    bool openNull = false;
    unsigned openResult = 0, cmtState = 0;
    std::string comment;
    std::vector<FakeHeader> headers;
    size_t next = 0, nextProcess = 0;
    std::vector<int> processResults;
    int closeResult = 0;
    std::function<void()> onRead; // runs inside each header read
    Strings calls, destPaths;
    std::vector<unsigned> openModes;
    std::vector<int> operations;
    UNRARCALLBACK cb = nullptr;
    LPARAM user = 0;
    bool allReadsZeroed = true;
    std::string password;
};

FakeLib *g_fake = nullptr;
int g_handle;

template <typename H> int FakeRead(H *d, bool ex)
{
    g_fake->calls.push_back(ex ? "readEx" : "read");
    static const H zero{};
    if (std::memcmp(d, &zero, sizeof *d) != 0)
        g_fake->allReadsZeroed = false;
    if (g_fake->onRead)
        g_fake->onRead();
    if (g_fake->next >= g_fake->headers.size())
        return ERAR_END_ARCHIVE;
    const FakeHeader &f = g_fake->headers[g_fake->next++];
    // Like a careless library, fill the record even when failing.
    std::strcpy(d->FileName, f.result == 0 ? f.name.c_str() : "GARBAGE");
    std::strcpy(d->ArcName, "fake.rar");
    d->Flags = f.flags;
    d->PackSize = unsigned(f.pack);
    d->UnpSize = unsigned(f.unp);
    d->HostOS = 2;
    d->UnpVer = 29;
    d->Method = 0x33;
    d->FileAttr = 0x20;
    if constexpr (std::is_same_v<H, RARHeaderDataEx>) {
        d->PackSizeHigh = unsigned(f.pack >> 32);
        d->UnpSizeHigh = unsigned(f.unp >> 32);
    }
    return f.result;
}

TUnRarEntries FakeEntries(bool extended = true)
{
    TUnRarEntries e;
    e.RAROpenArchive = [](RAROpenArchiveData *d) -> HANDLE {
        g_fake->calls.push_back("open");
        g_fake->openModes.push_back(d->OpenMode);
        g_fake->next = 0;
        d->OpenResult = g_fake->openResult;
        d->CmtState = g_fake->cmtState;
        if (d->CmtBuf && !g_fake->comment.empty()) {
            std::memcpy(d->CmtBuf, g_fake->comment.c_str(), g_fake->comment.size() + 1);
            d->CmtSize = unsigned(g_fake->comment.size() + 1);
        }
        return g_fake->openNull ? nullptr : &g_handle;
    };
    e.RARCloseArchive = [](HANDLE) {
        g_fake->calls.push_back("close");
        return g_fake->closeResult;
    };
    e.RARReadHeader = [](HANDLE, RARHeaderData *d) { return FakeRead(d, false); };
    e.RARReadHeaderEx = extended ? +[](HANDLE, RARHeaderDataEx *d) { return FakeRead(d, true); } : nullptr;
    e.RARProcessFile = [](HANDLE, int op, char *destPath, char *) {
        g_fake->calls.push_back("process");
        g_fake->operations.push_back(op);
        g_fake->destPaths.push_back(destPath ? destPath : "");
        return g_fake->nextProcess < g_fake->processResults.size() ? g_fake->processResults[g_fake->nextProcess++]
                                                                   : 0;
    };
    e.RARSetCallback = [](HANDLE, UNRARCALLBACK cb, LPARAM user) {
        g_fake->calls.push_back("setCallback");
        g_fake->cb = cb;
        g_fake->user = user;
    };
    e.RARSetPassword = [](HANDLE, char *p) {
        g_fake->calls.push_back("setPassword");
        g_fake->password = p;
    };
    e.RARGetDllVersion = [] { return 7; };
    return e;
}

FakeHeader Member(const std::string &name, uint64_t unp, unsigned flags = 0x40)
{
    return {0, name, flags, unp / 2, unp};
}

class RarComponent : public ::testing::Test {
protected:
    void SetUp() override { g_fake = &fake; }
    void TearDown() override { g_fake = nullptr; }
    // Every event, in order, as one line each.
    void Record(TRarLister &rar)
    {
        rar.OnRarStatus = [this](TRarLister *, const std::string &m, int s) {
            events.push_back("status " + std::to_string(s) + (s == 3 ? " " + m : ""));
        };
        rar.OnError = [this](TRarLister *, const std::string &m, int c) {
            events.push_back("error " + std::to_string(c) + " " + m);
        };
        rar.OnComment = [this](TRarLister *, const std::string &c) { events.push_back("comment " + c); };
        rar.OnFileProcessing = [this](TRarLister *, const TDFRARHeaderData &h, int s) {
            events.push_back("file " + h.FileName + " " + std::to_string(s));
            records.push_back(h);
        };
        rar.OnProgress = [this](TRarLister *, uint64_t f, uint64_t fc, uint64_t s, uint64_t sc) {
            events.push_back("progress " + std::to_string(f) + "/" + std::to_string(fc) + " " + std::to_string(s) +
                             "/" + std::to_string(sc));
        };
    }
    // A fresh library script and a recorded component run once over it.
    Strings Run(FakeLib script)
    {
        fake = std::move(script);
        events.clear();
        TRarLister rar(&entries);
        Record(rar);
        rar.Extract();
        return events;
    }

    FakeLib fake;
    TUnRarEntries entries = FakeEntries();
    Strings events;
    std::vector<TDFRARHeaderData> records;
};

} // namespace

TEST_F(RarComponent, WithoutTheLibraryReportsNotLoadedAndListsNothing)
{
    TRarLister rar(nullptr);
    Record(rar);
    EXPECT_FALSE(rar.Loaded());
    EXPECT_EQ(rar.DllVersion, 0);
    rar.Extract();
    EXPECT_EQ(events, (Strings{"error 0 UnRar.Dll nicht geladen"}));
    // A table lacking an entry the listing calls counts as no library.
    TUnRarEntries partial = FakeEntries();
    partial.RARProcessFile = nullptr;
    EXPECT_FALSE(TRarLister(&partial).Loaded());
}

TEST_F(RarComponent, EventsComeInOrderWithCountsAndComment)
{
    fake.cmtState = 1;
    fake.comment = "My disc";
    fake.headers = {Member("a.txt", 100), Member("b.txt", 50)};
    TRarLister rar(&entries);
    EXPECT_EQ(rar.DllVersion, 7);
    Record(rar);
    rar.Password = "pw";
    rar.Extract();
    EXPECT_EQ(events, (Strings{"status 1", "status 0", "comment My disc", "file a.txt 0", "progress 1/0 100/0",
                               "file b.txt 0", "progress 2/0 150/0", "status 2"}));
    EXPECT_EQ(rar.ArchivComment, "My disc");
    EXPECT_EQ(rar.CommentSize, 7);
    EXPECT_EQ(fake.calls, (Strings{"open", "setCallback", "setPassword", "readEx", "process", "readEx", "process",
                                   "readEx", "close"}));
    EXPECT_EQ(fake.password, "pw");
    EXPECT_EQ(fake.user, LPARAM(&rar));
    EXPECT_TRUE(fake.allReadsZeroed);
}

TEST_F(RarComponent, PreCountSkipsContinuedMembers)
{
    fake.headers = {Member("a", 10), Member("big", 1000, 0x02), Member("big", 1000, 0x01), Member("c", 5)};
    TRarLister rar(&entries);
    Record(rar);
    rar.CanProgress = true;
    rar.SetMode(DFRAR_LIST);
    rar.Extract();
    // The count runs first in extract mode, skipping every member.
    EXPECT_EQ(fake.openModes, (std::vector<unsigned>{RAR_OM_EXTRACT, RAR_OM_LIST}));
    EXPECT_EQ(fake.operations, (std::vector<int>{RAR_SKIP, RAR_SKIP, RAR_SKIP, RAR_SKIP, RAR_TEST, RAR_TEST,
                                                 RAR_TEST, RAR_TEST}));
    Strings progress;
    std::copy_if(events.begin(), events.end(), std::back_inserter(progress),
                 [](const std::string &e) { return e.rfind("progress", 0) == 0; });
    EXPECT_EQ(progress, (Strings{"progress 1/3 10/1015", "progress 2/3 1010/1015", "progress 3/3 1010/1015",
                                 "progress 4/3 1015/1015"}));
}

// Every failure ends the pass as an error with its text, never as a pass.
TEST_F(RarComponent, FailuresEndThePassWithTheirTexts)
{
    const Strings head{"status 1", "status 0"}, tail{"status 2"};
    auto with = [&](Strings middle) {
        Strings all = head;
        all.insert(all.end(), middle.begin(), middle.end());
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    EXPECT_EQ(Run({.openNull = true, .openResult = ERAR_BAD_ARCHIVE}), with({"error 13 Fehlerhaftes Archiv"}));
    EXPECT_EQ(fake.calls, (Strings{"open"}));
    // A handle with a failed result is closed, not read.
    EXPECT_EQ(Run({.openResult = ERAR_EOPEN}), with({"error 15 Volumn-Fehler"}));
    EXPECT_EQ(fake.calls, (Strings{"open", "close"}));
    EXPECT_EQ(Run({.openNull = true}), with({"error 15 Volumn-Fehler"}));
    EXPECT_EQ(Run({.closeResult = ERAR_ECLOSE}), with({"error 17 Fehler beim Schließen"}));
    // Only a successful header read is a member.
    EXPECT_EQ(Run({.headers = {Member("a", 1), {ERAR_BAD_DATA}, Member("never", 1)}}),
              with({"file a 0", "progress 1/0 1/0", "error 12 Datei-Header defekt"}));
    records.clear();
    EXPECT_EQ(Run({.headers = {{ERAR_MISSING_PASSWORD}, Member("never", 1)}}),
              with({"error 22 Kein Passwort angegeben!"}));
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(fake.allReadsZeroed);
    const std::pair<int, std::string> process[] = {
        {12, "Fehlerhafte Daten"},          {13, "Fehlerhaftes Archiv"},
        {14, "Unbekanntes Datenformat"},    {15, "Volumn-Fehler"},
        {16, "Fehler beim Erstellen der Datei"}, {17, "Fehler beim Schließen der Datei"},
        {18, "Lesefehler"},                 {19, "Schreibfehler"}};
    for (const auto &[code, text] : process) {
        EXPECT_EQ(Run({.headers = {Member("a", 1), Member("b", 1)}, .processResults = {code}}),
                  with({"file a 0", "progress 1/0 1/0", "error " + std::to_string(code) + " " + text}));
        EXPECT_EQ(fake.operations.size(), 1u);
    }
}

TEST_F(RarComponent, CommentStatesOtherThanReadAreErrors)
{
    const std::pair<unsigned, std::string> cases[] = {{ERAR_NO_MEMORY, "error 11 Kein Speicher"},
                                                      {ERAR_BAD_DATA, "error 12 Fehlerhafte Daten"},
                                                      {ERAR_UNKNOWN_FORMAT, "error 14 Unbekanntes Datenformat"},
                                                      {ERAR_SMALL_BUF, "error 20 Buffer zu klein"}};
    for (const auto &[state, text] : cases) {
        fake = FakeLib{.cmtState = state, .headers = {Member("a", 1)}};
        events.clear();
        TRarLister rar(&entries);
        Record(rar);
        rar.ArchivComment = "stale";
        rar.Extract();
        EXPECT_EQ(events[2], text);
        EXPECT_EQ(events[3], "file a 0"); // the listing goes on
        EXPECT_TRUE(rar.ArchivComment.empty());
    }
}

TEST_F(RarComponent, StopProcessingEndsThePassAndIsResetByTheNext)
{
    fake.headers = {Member("a", 1), Member("b", 1)};
    TRarLister rar(&entries);
    int files = 0;
    rar.OnFileProcessing = [&](TRarLister *s, const TDFRARHeaderData &, int) {
        ++files;
        s->StopProcessing = true;
    };
    rar.Extract();
    EXPECT_EQ(files, 1);
    EXPECT_TRUE(fake.operations.empty());
    EXPECT_EQ(fake.calls.back(), "close");
    rar.OnFileProcessing = [&](TRarLister *, const TDFRARHeaderData &, int) { ++files; };
    rar.Extract();
    EXPECT_EQ(files, 3);
}

TEST_F(RarComponent, ModesAndOverridePolicy)
{
    orbtest::TempDir dir;
    dir.write("exists.txt", "old");
    fake.headers = {Member("exists.txt", 1), Member("new.txt", 1), Member("sub", 0, 0xE0)};
    TRarLister rar(&entries);
    rar.Directory = dir.str();
    auto ops = [&] {
        fake.operations.clear();
        rar.Extract();
        return fake.operations;
    };
    const int X = RAR_EXTRACT, S = RAR_SKIP, T = RAR_TEST;
    EXPECT_EQ(ops(), (std::vector<int>{X, X, X})); // extract mode, OR_ALWAYS
    EXPECT_EQ(fake.openModes.back(), unsigned(RAR_OM_EXTRACT));
    EXPECT_EQ(fake.destPaths[0], dir.str());
    rar.SetMode(DFRAR_LIST);
    EXPECT_EQ(ops(), (std::vector<int>{T, T, T}));
    EXPECT_EQ(fake.openModes.back(), unsigned(RAR_OM_LIST));
    rar.SetMode(DFRAR_EXTRACT);
    rar.OverrideEvent = OR_NEVER;
    EXPECT_EQ(ops(), (std::vector<int>{S, X, X}));
    rar.OverrideEvent = OR_EVENT;
    Strings asked;
    rar.OnOverride = [&](TRarLister *, const std::string &target, bool &can) {
        asked.push_back(target);
        can = true;
    };
    EXPECT_EQ(ops(), (std::vector<int>{X, X, X}));
    EXPECT_EQ(asked, (Strings{dir.file("exists.txt")}));
    rar.OnOverride = nullptr; // without a handler nothing is overwritten
    EXPECT_EQ(ops()[0], S);
    rar.FileList = {dir.file("new.txt")}; // a file list picks members by their target
    EXPECT_EQ(ops(), (std::vector<int>{S, X, S}));
}

TEST_F(RarComponent, PasswordCallbackFillsTheBufferWithinItsSize)
{
    TRarLister rar(&entries);
    Record(rar);
    char area[16];
    int answer = 0;
    fake.onRead = [&] {
        std::memset(area, '#', sizeof area);
        answer = fake.cb(UCM_NEEDPASSWORD, fake.user, LPARAM(area), 8);
    };
    rar.OnPassword = [](TRarLister *, std::string &p) { p = "longpassword"; };
    rar.Extract();
    EXPECT_EQ(answer, 1);
    EXPECT_STREQ(area, "longpas");
    EXPECT_EQ(area[8], '#');
    EXPECT_EQ(rar.Password, "longpassword");
    EXPECT_NE(std::find(events.begin(), events.end(), "status 3 Verwendetes Passwort: longpassword"), events.end());
    // No handler and no prompt: an error, and the library is told no.
    rar.OnPassword = nullptr;
    rar.Password.clear();
    events.clear();
    rar.Extract();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(area[0], '#');
    EXPECT_NE(std::find(events.begin(), events.end(), "error 0 Kein Passwort angegeben!"), events.end());
    // The built-in dialog, when the application installed one.
    rar.PromptForPass = true;
    std::string caption;
    TRarLister::InputDialog = [&](const std::string &c, bool secret, std::string &text) {
        caption = c;
        EXPECT_TRUE(secret);
        text = "typed";
        return true;
    };
    rar.Extract();
    TRarLister::InputDialog = nullptr;
    EXPECT_EQ(caption, "Passwort: ...");
    EXPECT_EQ(answer, 1);
    EXPECT_STREQ(area, "typed");
}

TEST_F(RarComponent, VolumeCallbackAnswers)
{
    TRarLister rar(&entries);
    char name[1024];
    std::vector<int> answers;
    auto ask = [&](int mode) {
        std::strcpy(name, "/media/cd/set.part2.rar");
        answers.push_back(fake.cb(UCM_CHANGEVOLUME, fake.user, LPARAM(name), mode));
    };
    fake.onRead = [&] {
        ask(RAR_VOL_NOTIFY);
        ask(RAR_VOL_ASK);
    };
    auto run = [&] {
        answers.clear();
        rar.Extract();
        return answers;
    };
    EXPECT_EQ(run(), (std::vector<int>{0, -1})); // nobody to ask: declined
    std::vector<std::pair<std::string, int>> seen;
    rar.OnVolChange = [&](TRarLister *, std::string &arc, int mode) {
        seen.emplace_back(arc, mode);
        arc = "/media/cd2/set.part2.rar";
    };
    EXPECT_EQ(run(), (std::vector<int>{0, 0}));
    EXPECT_EQ(seen, (decltype(seen){{"/media/cd/set.part2.rar", RAR_VOL_ASK}}));
    EXPECT_STREQ(name, "/media/cd2/set.part2.rar");
    rar.OnVolChange = [](TRarLister *, std::string &arc, int) { arc.clear(); };
    EXPECT_EQ(run(), (std::vector<int>{0, -1}));
    // The built-in dialog, when the application installed one.
    rar.OnVolChange = nullptr;
    rar.PromptForVolumn = true;
    std::string caption;
    TRarLister::InputDialog = [&](const std::string &c, bool secret, std::string &text) {
        caption = c;
        EXPECT_FALSE(secret);
        EXPECT_EQ(text, "/media/cd/set.part2.rar");
        text = "/other/set.part2.rar";
        return true;
    };
    EXPECT_EQ(run(), (std::vector<int>{0, 0}));
    TRarLister::InputDialog = nullptr;
    EXPECT_EQ(caption, "Nächstes Archiv: ...");
    EXPECT_STREQ(name, "/other/set.part2.rar");
    // While stopping, every message is refused.
    fake.onRead = [&] {
        rar.StopProcessing = true;
        ask(RAR_VOL_NOTIFY);
        answers.push_back(fake.cb(UCM_PROCESSDATA, fake.user, 0, 0));
    };
    EXPECT_EQ(run(), (std::vector<int>{-1, -1}));
}

TEST(RarRecord, FieldsFromTheLibraryHeader)
{
    RARHeaderDataEx h{};
    std::strcpy(h.FileName, "dir/file.txt");
    h.Flags = 0x01 | 0x04 | (3 << 5);
    h.PackSize = 0x10;
    h.PackSizeHigh = 1;
    h.UnpSize = 0x20;
    h.UnpSizeHigh = 2;
    h.HostOS = 2;
    h.FileCRC = 0x00AB12CD;
    h.FileTime = (45u << 25) | (3u << 21) | (14u << 16) | (15u << 11) | (9u << 5) | 13u;
    h.UnpVer = 29;
    h.Method = 48;
    h.FileAttr = 0x1FBF;
    TDFRARHeaderData r = MakeRarHeaderRecord(h, true);
    EXPECT_EQ(r.FileName, "dir/file.txt");
    EXPECT_TRUE(r.ContinuedFromPrev && r.Encrypted);
    EXPECT_FALSE(r.ContinuedOnNext || r.Directory);
    EXPECT_EQ(std::tuple(r.DictionarySize, r.PackedSize, r.UnpackedSize, r.UnpackVersionMajor,
                         r.UnpackVersionMinor),
              std::tuple(512u * 1024, (uint64_t(1) << 32) | 0x10, (uint64_t(2) << 32) | 0x20, 2, 9));
    EXPECT_EQ(std::tuple(r.HostOS, r.CRC, r.Method), std::tuple("Windows", "ab12cd", "speichern"));
    EXPECT_EQ(r.FileTime, QDateTime(QDate(2025, 3, 14), QTime(15, 9, 26)));
    EXPECT_TRUE(r.AttrReadOnly && r.AttrHidden && r.AttrSystem && r.AttrDirectory && r.AttrArchive && r.AttrNormal &&
                r.AttrTemporary && r.AttrCompressed && r.AttrOffline);
    // Without the extended entry only the low halves are known.
    EXPECT_EQ(MakeRarHeaderRecord(h, false).UnpackedSize, 0x20u);
    h.Flags = 0xE0;
    h.FileAttr = 0x01;
    r = MakeRarHeaderRecord(h, true);
    EXPECT_TRUE(r.Directory && r.AttrReadOnly);
    EXPECT_EQ(r.DictionarySize, 0u);
    EXPECT_FALSE(r.AttrDirectory || r.AttrHidden);
    h.Flags = 0x40;
    h.DictSize = 256 * 1024; // 256 MB from the extended header
    EXPECT_EQ(MakeRarHeaderRecord(h, true).DictionarySize, uint64_t(256) << 20);
    EXPECT_EQ(MakeRarHeaderRecord(h, false).DictionarySize, 256u * 1024);
    // The ends of the host and method tables and just past them.
    EXPECT_EQ(std::tuple(RarHostText(0), RarHostText(3), RarHostText(5)), std::tuple("DOS", "Unix", ""));
    EXPECT_EQ(std::tuple(RarMethodText(49), RarMethodText(53), RarMethodText(47), RarMethodText(54)),
              std::tuple("sehr schnell", "sehr gut", "", ""));
    // Impossible DOS dates (month 0, 30 February, 60 seconds) are no date at all.
    for (unsigned bad : {0u, (2u << 21) | (30u << 16), (1u << 21) | (1u << 16) | 30u})
        EXPECT_FALSE(RarDosTime(bad).isValid()) << bad;
    EXPECT_EQ(RarDosTime((1u << 21) | (1u << 16)), QDateTime(QDate(1980, 1, 1), QTime(0, 0)));
}

// A library that hands over a name's stored bytes: from DOS, OS/2 and
// Windows they are the DOS code page, from Unix they stay as they are.
TEST(RarRecord, StoredNamesFromDosFamilyHostsAreReadInTheDosCodePage)
{
    RARHeaderDataEx h{};
    std::strcpy(h.FileName, "dir/\xA6lt\xEC k\x93\xE5.txt");
    for (unsigned host : {0u, 1u, 2u}) {
        h.HostOS = host;
        EXPECT_EQ(MakeRarHeaderRecord(h, true).FileName, "dir/Žltý kôň.txt") << host;
    }
    h.HostOS = 3;
    EXPECT_EQ(MakeRarHeaderRecord(h, true).FileName, "dir/\xA6lt\xEC k\x93\xE5.txt");
    // A name the library has made UTF-8 already stays as it is.
    std::strcpy(h.FileName, "Ďábel.txt");
    h.HostOS = 0;
    EXPECT_EQ(MakeRarHeaderRecord(h, true).FileName, "Ďábel.txt");
}

TEST_F(RarComponent, FallsBackToThePlainHeaderEntry)
{
    TUnRarEntries plain = FakeEntries(false);
    fake.headers = {Member("a", (uint64_t(1) << 32) + 5)};
    TRarLister rar(&plain);
    Record(rar);
    rar.Extract();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].UnpackedSize, 5u);
    EXPECT_EQ(fake.calls[2], "read");
}

TEST(RarComponentReal, ListsAndExtractsThroughOurLibrary)
{
    orbtest::TempDir dir;
    const std::string p4 = dir.write("a.rar", WriteRar4({{.name = "docs\\a.txt", .data = "alpha"}}, {.comment = "old"}));
    const std::string p5 = dir.write("b.rar", WriteRar5({{.name = "b/beta.txt", .data = "beta", .host = 1}}));
    auto first = std::make_unique<TRarLister>();
    ASSERT_TRUE(first->Loaded());
    TRarLister rar;
    EXPECT_EQ(rar.DllVersion, RAR_DLL_VERSION);
    first.reset(); // destroying one component leaves the library to the other
    EXPECT_TRUE(UnRarLoaded());
    std::vector<TDFRARHeaderData> seen;
    Strings errors;
    rar.OnFileProcessing = [&](TRarLister *, const TDFRARHeaderData &h, int) { seen.push_back(h); };
    rar.OnError = [&](TRarLister *, const std::string &m, int) { errors.push_back(m); };
    rar.SetMode(DFRAR_LIST);
    for (const std::string &p : {p4, p5}) {
        rar.FileName = p;
        rar.Extract();
    }
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].FileName, "docs/a.txt");
    EXPECT_EQ(seen[0].HostOS, "Windows");
    EXPECT_EQ(seen[0].Method, "speichern");
    char crc[16];
    std::snprintf(crc, sizeof crc, "%x", TestCrc32("alpha"));
    EXPECT_EQ(seen[0].CRC, crc);
    EXPECT_EQ(seen[1].FileName, "b/beta.txt");
    EXPECT_EQ(seen[1].HostOS, "Unix");
    EXPECT_EQ(seen[1].UnpackVersionMajor, 5);
    EXPECT_EQ(rar.ArchivComment.size(), 0u); // the second archive has none
    rar.SetMode(DFRAR_EXTRACT);
    rar.Directory = dir.file("out");
    rar.FileName = p4;
    rar.Extract();
    EXPECT_EQ(orbtest::readFile(dir.file("out/docs/a.txt")), "alpha");
    EXPECT_EQ(rar.ArchivComment, "old");
    rar.FileName = dir.file("missing.rar");
    rar.Extract();
    EXPECT_EQ(errors, (Strings{"Volumn-Fehler"}));
}

// The component's comment buffer is 64 KiB, its terminating zero included.
TEST(RarComponentReal, CommentThatExactlyFillsTheBufferIsNoError)
{
    orbtest::TempDir dir;
    TRarLister rar;
    Strings errors;
    rar.OnError = [&](TRarLister *, const std::string &m, int) { errors.push_back(m); };
    rar.SetMode(DFRAR_LIST);
    const std::string fits(64 * 1024 - 1, 'c');
    rar.FileName = dir.write("fits.rar", WriteRar5({{.name = "x", .data = "x"}}, {.comment = fits}));
    rar.Extract();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(rar.ArchivComment, fits);
    EXPECT_EQ(rar.CommentSize, int(fits.size()));
    rar.FileName = dir.write("over.rar", WriteRar5({{.name = "x", .data = "x"}}, {.comment = fits + "c"}));
    rar.Extract();
    EXPECT_EQ(errors, Strings{"Buffer zu klein"});
}

TEST(RarComponentReal, NamesFromDosListAndExtractInUtf8)
{
    orbtest::TempDir dir;
    // "Žltý kôň.txt" and "Ďábel.txt" as DOS wrote them (code page 852), and a
    // Unix name in UTF-8.
    const std::string path = dir.write(
        "dos.rar", WriteRar4({{.name = "k\xA3s\\\xA6lt\xEC k\x93\xE5.txt", .data = "dos", .host = 0},
                              {.name = "\xD2\xA0" "bel.txt", .data = "os2", .host = 1},
                              {.name = "Žltý.txt", .data = "unix", .host = 3}}));
    TRarLister rar;
    Strings names;
    rar.OnFileProcessing = [&](TRarLister *, const TDFRARHeaderData &h, int) { names.push_back(h.FileName); };
    rar.SetMode(DFRAR_LIST);
    rar.FileName = path;
    rar.Extract();
    EXPECT_EQ(names, (Strings{"kús/Žltý kôň.txt", "Ďábel.txt", "Žltý.txt"}));
    rar.SetMode(DFRAR_EXTRACT);
    rar.Directory = dir.file("out");
    rar.Extract();
    EXPECT_EQ(std::tuple(orbtest::readFile(dir.file("out/kús/Žltý kôň.txt")),
                         orbtest::readFile(dir.file("out/Ďábel.txt")),
                         orbtest::readFile(dir.file("out/Žltý.txt"))),
              std::tuple("dos", "os2", "unix"));
}

TEST(RarComponentReal, EncryptedHeadersAndPackedComments)
{
    orbtest::TempDir dir;
    const std::string comment = "Zálohy z roku 2003, disk 2";
    const std::string path = dir.write(
        "e.rar", WriteRar5({{.name = "a.txt", .data = "alpha"}, {.name = "b.txt", .data = "beta"}},
                           {.encryptedHeaders = true, .headerPassword = "heslo"}));
    TRarLister rar;
    Strings names, errors;
    std::vector<int> codes;
    rar.OnFileProcessing = [&](TRarLister *, const TDFRARHeaderData &h, int) { names.push_back(h.FileName); };
    rar.OnError = [&](TRarLister *, const std::string &m, int code) {
        errors.push_back(m);
        codes.push_back(code);
    };
    rar.SetMode(DFRAR_LIST);
    rar.FileName = path;
    std::string typed = "heslo";
    rar.OnPassword = [&](TRarLister *, std::string &p) { p = typed; };
    rar.Extract();
    EXPECT_EQ(names, (Strings{"a.txt", "b.txt"}));
    EXPECT_TRUE(errors.empty());
    // A wrong password: the header error, and nothing listed.
    names.clear();
    typed = "Heslo";
    rar.Password.clear();
    rar.Extract();
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(errors, Strings{"Datei-Header defekt"});
    EXPECT_EQ(codes, std::vector<int>{ERAR_BAD_DATA});
    // A packed comment reaches the component as text.
    std::string shown;
    rar.OnComment = [&](TRarLister *, const std::string &c) { shown = c; };
    rar.FileName =
        dir.write("c.rar", WriteRar4({{.name = "x", .data = "x"}}, {.comment = comment, .commentMethod = 0x35}));
    rar.Extract();
    EXPECT_EQ(shown, comment);
    EXPECT_EQ(rar.ArchivComment, comment);
    EXPECT_EQ(rar.CommentSize, int(comment.size()));
}
