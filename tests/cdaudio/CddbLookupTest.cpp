// The CDDB client over a whole lookup: one time limit for query, choice and
// read, connections that end in a reset, the protocol level of a new
// connection, and letters a server cut between two lines of an entry.
#include "cdaudio/CddbTestSupport.h"

#include "util/TextCodec.h"

using namespace cddbtest;

namespace {

// KEY=value as a server sends it when it cuts the value after the given
// byte counts: one line per piece, each cut wherever it falls.
std::string CutLines(const std::string &key, const std::string &value, std::vector<size_t> cuts)
{
    std::string out;
    size_t at = 0;
    cuts.push_back(value.size());
    for (size_t cut : cuts) {
        out += key + "=" + value.substr(at, cut - at) + "\r\n";
        at = cut;
    }
    return out;
}

// The byte just inside the first `letter` of `value`.
size_t Inside(const std::string &value, const std::string &letter, size_t bytesIn = 1)
{
    return value.find(letter) + bytesIn;
}

// A CDDBP server: greets, then answers each command line with Answer after
// DelayMs, until the client goes.
ScriptedPeer::Script Cddbp(std::function<std::string(const std::string &)> answer, int delayMs = 0)
{
    return [answer, delayMs](int fd, int) {
        SendAll(fd, "201 localhost CDDBP server ready\r\n");
        for (std::string line; !(line = ReadUntil(fd, "\n")).empty();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            SendAll(fd, answer(line.substr(0, line.find_last_not_of("\r\n") + 1)));
        }
        return false;
    };
}

// An entry whose values the server cut inside letters, and what they are.
const std::string kArtist = "Skupina \u2013 \u013dubo", kTitle = "\u010cierne \u017elt\u00e9",
                  kTrack = "Skladba 3 \u2013 piesne", kNote = "Pozn\u00e1mka: \u017eiadna",
                  kFourBytes = "Hudba \U0001F3B5 a \u0161um";

std::string SplitEntry()
{
    const std::string dtitle = kArtist + " / " + kTitle;
    return "# xmcd\r\n" + CutLines("DTITLE", dtitle, {Inside(dtitle, "\u2013", 2), Inside(dtitle, "\u010c")})
           // A four-byte letter over three lines.
           + CutLines("TTITLE1", kFourBytes, {Inside(kFourBytes, "\U0001F3B5"), Inside(kFourBytes, "\U0001F3B5", 3)})
           + CutLines("TTITLE2", kTrack, {Inside(kTrack, "\u2013")})
           // Cut after a blank: the blank is part of the title.
           + CutLines("TTITLE3", kTrack, {Inside(kTrack, "\u2013", 0)})
           + CutLines("EXTD", kNote, {Inside(kNote, "\u017e")})
           + "PLAYORDER=\r\n";
}

} // namespace

TEST(CddbText, AValueCutInsideALetterIsDecodedWhole)
{
    using V = std::vector<std::string>;
    // Each line keeps its part, cut back to where the letter starts.
    EXPECT_EQ(CddbEntryTextToUtf8({"TTITLE2=Skladba 3 \xE2\x80", "TTITLE2=\x93 piesne"}, 6),
              (V{"TTITLE2=Skladba 3 ", "TTITLE2=\u2013 piesne"}));
    EXPECT_EQ(CddbEntryTextToUtf8({"EXTD=\xF0\x9F", "EXTD=\x8E", "EXTD=\xB5 x"}, 6),
              (V{"EXTD=", "EXTD=", "EXTD=\U0001F3B5 x"}));
    // Lines of other keys between them, and lines without a key.
    EXPECT_EQ(CddbEntryTextToUtf8({"210 rock 0c016602 \xC5", "DTITLE=A \xC5", "DYEAR=1999", "dtitle=\xBD / B", "."}, 6),
              (V{"210 rock 0c016602 \u00c5", "DTITLE=A ", "DYEAR=1999", "dtitle=\u017d / B", "."}));
    // A value that is no UTF-8 as a whole is ISO-8859-1 on every line, also
    // on a line that would pass for UTF-8 alone; so is every value below level 6.
    EXPECT_EQ(CddbEntryTextToUtf8({"DTITLE=\xE9t\xE9 / ", "DTITLE=\xC3\xA1"}, 6),
              (V{"DTITLE=\u00e9t\u00e9 / ", "DTITLE=\u00c3\u00a1"}));
    EXPECT_EQ(CddbEntryTextToUtf8({"TTITLE0=\xC3", "TTITLE0=\xA1"}, 5), (V{"TTITLE0=\u00c3", "TTITLE0=\u00a1"}));
    // A letter cut short at the end of the value stays as it came, read as ISO-8859-1.
    EXPECT_EQ(CddbEntryTextToUtf8({"TTITLE0=a", "TTITLE0=b\xE2\x80"}, 6), (V{"TTITLE0=a", "TTITLE0=b\u00e2\u0080"}));
    EXPECT_EQ(CddbEntryTextToUtf8({}, 6), V{});
}

TEST_F(CddbTest, LettersCutBetweenLinesStayWhole)
{
    const auto values = [&] {
        const CddbEntry &e = cddb->Entry;
        return std::tuple(e.Artist, e.Title, e.TrackTitles[1], e.TrackTitles[2], e.TrackTitles[3], e.ExtData);
    };
    const auto want = std::tuple(kArtist, kTitle, kFourBytes, kTrack, kTrack, kNote);
    const auto allText = [](auto begin, auto end) {
        return std::all_of(begin, end, [](const std::string &l) { return IsValidUtf8(l); });
    };
    {
        SCOPED_TRACE("HTTP");
        Serve([](const std::string &cmd) {
            return Words(cmd)[1] == "query" ? FromDatabase(cmd)
                                            : kOk + "210 rock 0c016602 entry\r\n" + SplitEntry() + ".\r\n";
        });
        ASSERT_EQ(Run(), 3);
        lines.clear();
        ASSERT_EQ(Run(true), 12);
        EXPECT_EQ(values(), want);
        // The lines handed on are whole letters too.
        EXPECT_TRUE(allText(lines.begin(), lines.end()));
        EXPECT_NE(std::find(lines.begin(), lines.end(), "TTITLE2=Skladba 3 "), lines.end());
    }
    SCOPED_TRACE("CDDBP");
    cddb->Entry = CddbEntry();
    ScriptedPeer tcp(Cddbp([](const std::string &cmd) {
        return Words(cmd)[0] == "proto" ? "201 OK, CDDB protocol level now: 6\r\n"
                                        : "210 rock 0c016602 entry\r\n" + SplitEntry() + ".\r\n";
    }));
    Connect(tcp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    for (const auto &[state, cmd, until] :
         {std::tuple(9, "proto 6", 10), std::tuple(11, "cddb read rock 0c016602", 12)}) {
        cddb->State = state;
        cddb->Socket().SendStr(std::string(cmd) + "\r\n");
        ASSERT_TRUE(PumpUntil([&] { return cddb->State == until; }));
    }
    EXPECT_TRUE(allText(cddb->EntryLines.begin(), cddb->EntryLines.end()));
    cddb->Entry.Category = "rock";
    cddb->ParseEntry();
    EXPECT_EQ(values(), want);
    cddb->Socket().Close();
}

TEST_F(CddbTest, OneTimeLimitForQueryChoiceAndRead)
{
    // Each answer takes 400 ms: a query fits in 700 ms, a query and a read do not.
    HttpPeer &p = Serve();
    p.DelayMs = 400;
    cddb->SetTimeLimit(700);
    ASSERT_EQ(Run(), 3);
    statuses.clear();
    EXPECT_EQ(Run(true), 16);
    EXPECT_TRUE(Said("The CDDB lookup took too long: no complete reply within 700 ms"))
        << (statuses.empty() ? "" : statuses.back());
    EXPECT_TRUE(PumpUntil([&] { return cddb->Http().State() == httpStReady; }));
    // A request of a caller's own (a submission) has the whole limit again.
    EXPECT_EQ(cddb->Http().RequestTimeout, 700);

    // The owner's choice counts: a read asked for after the limit is refused.
    p.DelayMs = 0;
    cddb->OnMatch = [](TCddb *, const TMatchArray &, int &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
    };
    ASSERT_EQ(Run(), 3);
    const size_t asked = p.Requests();
    statuses.clear();
    EXPECT_EQ(cddb->Read(), -1);
    EXPECT_EQ(cddb->State, 13);
    EXPECT_TRUE(Said("The CDDB lookup took too long: no complete reply within 700 ms"));
    PumpBriefly();
    EXPECT_EQ(p.Requests(), asked);

    // A new query starts a lookup of its own; without a limit a slow server
    // takes as long as it takes.
    cddb->OnMatch = nullptr;
    ASSERT_EQ(Run(), 3);
    ASSERT_EQ(Run(true), 12);
    p.DelayMs = 400;
    cddb->SetTimeLimit(0);
    ASSERT_EQ(Run(), 3);
    EXPECT_EQ(Run(true), 12);

    // Over CDDBP the connection is the lookup.
    ScriptedPeer tcp(Cddbp(Database, 400));
    cddb->SetTimeLimit(700);
    Connect(tcp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    cddb->State = 6;
    cddb->Socket().SendStr(BuildQueryCommand(cddb->Entry.Toc) + "\r\n");
    ASSERT_TRUE(PumpUntil([&] { return cddb->State != 6; }));
    ASSERT_EQ(cddb->State, 3);
    statuses.clear();
    cddb->State = 11;
    cddb->Socket().SendStr("cddb read rock 0c016602\r\n");
    ASSERT_TRUE(PumpUntil([&] { return cddb->State != 11; }));
    EXPECT_EQ(cddb->State, 13);
    EXPECT_TRUE(Said("No complete CDDB reply within 700 ms"));
    EXPECT_TRUE(PumpUntil([&] { return cddb->Socket().State() == wsClosed; }));
}

// A limit of 0 leaves the connection to the server; each connection starts
// at level 1, whatever the one before it reached.
TEST_F(CddbTest, EachConnectionStartsAtLevelOneAndZeroIsNoLimit)
{
    ScriptedPeer tcp(Cddbp([](const std::string &cmd) {
                         // The same bytes at every level: UTF-8 for "á", or two letters of ISO-8859-1.
                         return Words(cmd)[0] == "proto" ? "201 OK, CDDB protocol level now: 6\r\n"
                                                         : "210 rock 0c016602 entry\r\nDTITLE=\xC3\xA1 / B\r\n.\r\n";
                     }),
                     2);
    cddb->SetTimeLimit(0);
    const auto send = [&](int state, const std::string &cmd, int until) {
        cddb->State = state;
        cddb->Socket().SendStr(cmd + "\r\n");
        return PumpUntil([&] { return cddb->State == until; });
    };
    for (const auto &[toLevel6, title] :
         {std::pair(true, "DTITLE=\u00e1 / B"), std::pair(false, "DTITLE=\u00c3\u00a1 / B")}) {
        SCOPED_TRACE(title);
        Connect(tcp.PortStr());
        ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
        EXPECT_EQ(cddb->SocketProtocolLevel(), 1);
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(cddb->Socket().State(), wsConnected);
        if (toLevel6) {
            ASSERT_TRUE(send(9, "proto 6", 10));
            EXPECT_EQ(cddb->SocketProtocolLevel(), 6);
        }
        ASSERT_TRUE(send(11, "cddb read rock 0c016602", 12));
        EXPECT_EQ(cddb->EntryLines[0], title);
        cddb->Socket().Close();
        ASSERT_TRUE(PumpUntil([&] { return cddb->Socket().State() == wsClosed; }));
    }
}

TEST_F(CddbTest, AResetMidReplyIsNamed)
{
    const std::string cut = "210 exact\r\nrock 0c016602 A / B\r\nRESET";
    for (const std::string &reply :
         {"HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n" + cut, "HTTP/1.0 200 OK\r\n\r\n" + cut,
          std::string("HTTP/1.0 200 OK\r\nX-Cut: RESET")}) {
        SCOPED_TRACE(reply);
        Serve([&reply](const std::string &) { return reply; });
        statuses.clear();
        EXPECT_EQ(Run(), 16);
        EXPECT_TRUE(Said("failed because of error \"Connection reset by peer (Error #10054)\""))
            << (statuses.empty() ? "" : statuses.back());
        EXPECT_EQ(matchCalls, 0);
    }
    ScriptedPeer tcp([](int fd, int) {
        SendAll(fd, "201 localhost CDDBP server ready\r\n");
        ReadUntil(fd, "\n");
        SendAll(fd, "210 rock 0c016602 entry\r\nDTITLE=A / B\r\n");
        ResetClose(fd);
        return true;
    });
    Connect(tcp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    statuses.clear();
    cddb->State = 11;
    cddb->Socket().SendStr("cddb read rock 0c016602\r\n");
    ASSERT_TRUE(PumpUntil([&] { return cddb->State != 11; }));
    EXPECT_EQ(cddb->State, 13);
    EXPECT_TRUE(Said("The CDDB connection closed before the reply ended: Connection reset by peer (Error #10054)"))
        << (statuses.empty() ? "" : statuses.back());
}

// Cancel gives up the lookup under way: its request ends with its
// connection, nothing of it is reported later, and the next lookup starts
// at once rather than finding the component busy.
TEST_F(CddbTest, CancelEndsTheLookupAndItsConnection)
{
    std::atomic<int> closes{0};
    ScriptedPeer hangs(
        [&](int fd, int) {
            ReadUntil(fd, "\r\n\r\n");
            SendAll(fd, kOk); // the header, then nothing
            ReadAll(fd, 15000);
            ++closes;
            return false;
        },
        2);
    cddb->ServerPort = hangs.PortStr();
    for (const char *step : {"query", "read"}) {
        SCOPED_TRACE(step);
        if (std::string(step) == "query") {
            ASSERT_EQ(cddb->Query(), 0);
        } else {
            cddb->Entry.Category = "rock";
            ASSERT_EQ(cddb->Read(), 0);
        }
        ASSERT_TRUE(PumpUntil([&] { return cddb->Http().State() == httpStWaitingBody; }));
        const size_t said = statuses.size();
        cddb->Cancel();
        EXPECT_EQ(cddb->State, -1);
        EXPECT_EQ(cddb->Http().State(), httpStReady);
        EXPECT_TRUE(PumpUntil([&] { return closes.load() == (std::string(step) == "query" ? 1 : 2); }, 5000))
            << "the server still holds the connection";
        PumpBriefly();
        EXPECT_EQ(statuses.size(), said) << statuses.back();
        EXPECT_EQ(cddb->State, -1);
        // The next lookup, at once.
        Serve();
        EXPECT_EQ(Run(), 3) << (statuses.empty() ? "" : statuses.back());
        EXPECT_EQ(Run(true), 12) << (statuses.empty() ? "" : statuses.back());
        cddb->ServerPort = hangs.PortStr();
    }

    // Over CDDBP the connection is closed, and no awaited reply is said to be cut short.
    ScriptedPeer tcp(Cddbp(Database, 3000));
    Connect(tcp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    cddb->State = 6;
    cddb->Socket().SendStr(BuildQueryCommand(cddb->Entry.Toc) + "\r\n");
    PumpBriefly();
    statuses.clear();
    cddb->Cancel();
    EXPECT_EQ(cddb->Socket().State(), wsClosed);
    PumpBriefly();
    EXPECT_EQ(cddb->State, -1);
    EXPECT_TRUE(statuses.empty()) << statuses.front();
    EXPECT_FALSE(cddb->HandshakeDone);
}
