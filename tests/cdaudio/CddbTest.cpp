// The CDDB client: its text rules, and whole lookups against local CDDB peers
// written from the protocol (HTTP on loopback and the protocol over TCP), the
// submissions by HTTP POST and by mail, and every kind of bad answer.
#include "cdaudio/CddbTestSupport.h"

#include <filesystem>

using namespace cddbtest;

namespace {

CdToc TocOf(std::initializer_list<std::pair<int, int>> startsMs, std::pair<int, int> leadOut)
{
    CdToc toc;
    for (auto [m, s] : startsMs) {
        toc.Tracks[toc.TrackCount].Minute = static_cast<uint8_t>(m);
        toc.Tracks[toc.TrackCount].Second = static_cast<uint8_t>(s);
        ++toc.TrackCount;
    }
    toc.LeadOut.Minute = static_cast<uint8_t>(leadOut.first);
    toc.LeadOut.Second = static_cast<uint8_t>(leadOut.second);
    return toc;
}

} // namespace

TEST(CddbText, DiscIdQueryAndEncoding)
{
    const CdToc toc = TocOf({{0, 2}, {3, 10}}, {6, 0});
    EXPECT_EQ(CddbDiscId(toc), 0x0c016602u);
    EXPECT_EQ(BuildQueryCommand(toc), "cddb query 0c016602 2 150 14250 360");
    EXPECT_EQ(UrlEncode(BuildQueryCommand(toc)), "cddb+query+0c016602+2+150+14250+360");
    EXPECT_EQ(UrlEncode("a b.c-d_e~/?&=%"), "a+b%2Ec%2Dd%5Fe%7E%2F%3F%26%3D%25");
    EXPECT_EQ(UrlEncode("\xC3\xA9"), "%C3%A9");
    EXPECT_EQ(HelloUserHost("user@example.org"), "user example.org");
    EXPECT_EQ(HelloUserHost("nobody"), "");
    EXPECT_EQ(HelloUserHost("a@b@c.org"), "a@b c.org");
    EXPECT_EQ(FirstSpacePos("rock 0c016602"), 5u);
    EXPECT_EQ(FirstSpacePos("rock"), 4u);
    // The digit sum of the start seconds wraps at 255 in the top byte.
    EXPECT_EQ(DigitSum(0), 0);
    EXPECT_EQ(DigitSum(-5), 0);
    EXPECT_EQ(DigitSum(99), 18);
    CdToc many;
    for (int i = 0; i < 14; ++i) // 14 tracks at 99 s: 14 x 18 = 252
        many.Tracks[i] = TocEntry{1, 39, 0, -1};
    many.Tracks[14] = TocEntry{0, 3, 0, -1}; // + 3 = 255
    many.TrackCount = 15;
    many.LeadOut = TocEntry{10, 0, 0, 0};
    EXPECT_EQ(CddbDiscId(many) >> 24, 0u);
    many.Tracks[14].Second = 4; // 256
    EXPECT_EQ(CddbDiscId(many) >> 24, 1u);
}

TEST(CddbText, ReplyLinesAndEscapes)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitReplyLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitReplyLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitReplyLines("a\n\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitReplyLines(""), V{});
    EXPECT_EQ(SplitReplyLines("\r\n"), (V{""}));
    EXPECT_EQ(SplitReplyLines(std::string("ab\0cd\r\nef", 10)), (V{"ab", "ef"}));
    EXPECT_EQ(SplitReplyLines("last."), (V{"last."}));
    EXPECT_EQ(UnescapeEntryText("a\\nb\\tc"), "a\r\nb\tc");
    EXPECT_EQ(UnescapeEntryText("\\\\n"), "\\n");     // an escaped backslash, then the letter n
    EXPECT_EQ(UnescapeEntryText("\\\\\\\\"), "\\\\"); // two escaped backslashes
    EXPECT_EQ(UnescapeEntryText("\\x\\"), "\\x\\");   // nothing else is an escape
}

TEST_F(CddbTest, NoteToUserIsOneLineOf70)
{
    cddb->SetNoteToUser(std::string(80, 'n'));
    EXPECT_EQ(cddb->NoteToUser(), std::string(70, 'n'));
    cddb->SetNoteToUser("a\r\nX-Injected: 1");
    EXPECT_EQ(cddb->NoteToUser(), "a  X-Injected: 1");
}

TEST_F(CddbTest, EntryLineRules)
{
    auto parse = [&](std::vector<std::string> entry) {
        cddb->EntryLines.fill(std::string());
        std::copy(entry.begin(), entry.end(), cddb->EntryLines.begin());
        cddb->Entry.Category = "rock";
        cddb->ParseEntry();
        return cddb->Entry;
    };
    CddbEntry e = parse({"DTITLE=Just One Name"});
    EXPECT_EQ(e.Artist, "Just One Name");
    EXPECT_EQ(e.Title, "");
    EXPECT_EQ(e.Category, "rock");
    EXPECT_EQ(e.DiscId, "0c016602"); // the drive is read again
    e = parse({"DTITLE=Just One Name", "DTITLE=More"});
    EXPECT_EQ(e.Artist, "Just One Name");
    EXPECT_EQ(e.Title, "More");
    // Continuation lines are joined before " / " is looked for.
    e = parse({"DTITLE=Art", "DTITLE=ist /", "DTITLE= Title"});
    EXPECT_EQ(e.Artist, "Artist");
    EXPECT_EQ(e.Title, "Title");
    // Escapes are decoded once, after the lines are joined.
    e = parse({"DTITLE=A\\\\n", "DTITLE= / T", "TTITLE1=x\\", "TTITLE1=n"});
    EXPECT_EQ(e.Artist, "A\\n");
    EXPECT_EQ(e.TrackTitles[1], "x\r\n");
    e = parse({"TTITLE12=Twelve", "TTITLE3=Thr", "TTITLE3=ee", "TTITLE100=no", "TTITLEx=no", "TTITLE=no",
               "# Revision: 7", "DYEAR=2001", "DGENRE=Jazz\\tFusion", "EXTD=a", "EXTD=b", "EXTT2=x",
               "PLAYORDER=1,2"});
    EXPECT_EQ(std::tuple(e.TrackTitles[12], e.TrackTitles[3], e.TrackTitles[10], e.Year, e.Genre, e.ExtData,
                         e.ExtTracks[2], e.Revision),
              std::tuple("Twelve", "Three", "", "2001", "Jazz\tFusion", "ab", "x", 7));
    e = parse({"# Revision: x"});
    EXPECT_EQ(e.Revision, 0);
    // Fragments are joined as they stand, blanks at a join included, and the
    // joined value is trimmed.
    e = parse({"DTITLE=  Skupina ", "DTITLE=Dva / Album ", "DTITLE=\u2013 \u010das\u0165 2  ", "TTITLE3=Skladba 3 ",
               "TTITLE3=\u2013 piesne", "TTITLE4=  Sama  ", "EXTD=Pozn\u00e1mka ", "EXTD= \u017eiadna",
               "EXTT3=prv\u00e1 ", "EXTT3=a druh\u00e1 ", "DYEAR= 1999 "});
    EXPECT_EQ(std::tuple(e.Artist, e.Title, e.TrackTitles[3], e.TrackTitles[4], e.ExtData, e.ExtTracks[3], e.Year),
              std::tuple("Skupina Dva", "Album \u2013 \u010das\u0165 2", "Skladba 3 \u2013 piesne", "Sama",
                         "Pozn\u00e1mka  \u017eiadna", "prv\u00e1 a druh\u00e1", "1999"));
}

// ---------------------------------------------------------------- HTTP lookups

TEST_F(CddbTest, ExactMatchThenRead)
{
    for (bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "slow peer" : "peer");
        HttpPeer &p = Serve(FromDatabase, slow);
        lines.clear();
        ASSERT_EQ(Run(), 3);
        EXPECT_EQ(p.Path(0), "/~cddb/cddb.cgi?cmd=cddb+query+0c016602+2+150+14250+360"
                             "&hello=user+example%2Eorg+TestClient+1%2E0&proto=6");
        EXPECT_EQ(seen[0], "rock 0c016602 Some Artist / Some Album");
        EXPECT_EQ(cddb->Entry.Category, "rock");
        EXPECT_EQ(cddb->Entry.DiscId, "0C016602");
        EXPECT_TRUE(Said("Found exact match"));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].substr(0, 7), "http://");
        EXPECT_EQ(lines[0].substr(lines[0].size() - 2), "\r\n");
        ASSERT_EQ(Run(true), 12);
        EXPECT_EQ(p.Path(1).substr(0, 50), "/~cddb/cddb.cgi?cmd=cddb+read+rock+0C016602&hello=");
        EXPECT_TRUE(Said("Entry read"));
        const CddbEntry &e = cddb->Entry;
        EXPECT_EQ(std::tuple(e.Artist, e.Title, e.Year, e.TrackTitles[0], e.TrackTitles[1], e.Revision),
                  std::tuple(std::string("Some Artist"), std::string("Some \\Album"), std::string("1999"),
                             std::string("Intro"), std::string("Long title, first part and the rest\r\n"), 4));
        EXPECT_NE(std::find(lines.begin(), lines.end(), "PLAYORDER="), lines.end());
    }
    EXPECT_EQ(matchCalls, 2);
}

// An empty port leaves the colon before the path, as the server URL always had it.
TEST_F(CddbTest, EmptyPortKeepsTheColon)
{
    cddb->ServerPort.clear();
    cddb->Query();
    EXPECT_EQ(cddb->Http().URL.substr(0, 34), "http://127.0.0.1:/~cddb/cddb.cgi?c");
}

TEST_F(CddbTest, MatchListsAndTheChoice)
{
    std::string code = "210";
    HttpPeer &p = Serve([&code](const std::string &cmd) {
        if (code == "200")
            return FromDatabase(cmd);
        if (Words(cmd)[1] == "read")
            return kOk + "210 jazz 0c016603 entry\r\nDTITLE=Second / Disc\r\n.\r\n";
        return kOk + code + " Found exact matches, list follows (until terminating `.')\r\n"
                            "rock 0c016602 First / Disc\r\njazz 0c016603 Second / Disc\r\n.\r\n";
    });
    choose = 1;
    ASSERT_EQ(Run(), 3);
    EXPECT_TRUE(Said("Found exact matches"));
    EXPECT_TRUE(Said("OK, receiving matches"));
    EXPECT_TRUE(Said("Received matches"));
    EXPECT_EQ(seen[1], "jazz 0c016603 Second / Disc");
    EXPECT_EQ(seen[2], "");
    EXPECT_EQ(cddb->Entry.DiscId, "0c016603"); // as the server sent it
    ASSERT_EQ(Run(true), 12);
    EXPECT_NE(p.Path(1).find("cmd=cddb+read+jazz+0c016603&"), std::string::npos);
    EXPECT_EQ(cddb->Entry.Title, "Disc");
    // Cancelled, and a choice not in the list, of a list and of a single match.
    for (const char *c : {"210", "200"}) {
        code = c;
        for (int bad : {-1, 5}) {
            SCOPED_TRACE(code + " " + std::to_string(bad));
            choose = bad;
            statuses.clear();
            ASSERT_EQ(Run(), 5);
            EXPECT_EQ(Said("The chosen match is not in the list"), bad == 5);
            EXPECT_EQ(cddb->Read(), -1);
            EXPECT_TRUE(Said("Can't perform a CDDB READ without a successful CDDB QUERY!"));
        }
    }
    code = "210";
    // With nobody to choose, an exact match is the first; inexact ones are cancelled.
    cddb->OnMatch = nullptr;
    ASSERT_EQ(Run(), 3);
    EXPECT_EQ(cddb->Entry.DiscId, "0c016602");
    code = "211";
    statuses.clear();
    ASSERT_EQ(Run(), 5);
    EXPECT_TRUE(Said("Match choice cancelled"));
}

TEST_F(CddbTest, QueryAnswersThatFindNothing)
{
    struct Case {
        std::string reply;
        int state;
        std::string status;
    };
    const std::vector<Case> cases = {
        {kOk + "202 No match for disc ID 0c016602.\r\n", 5, "No match found"},
        {kOk + "403 Database entry is corrupt.\r\n", 5, "Database entry is corrupt"},
        {kOk + "409 No handshake.\r\n", 5, "No handshake"},
        {kOk + "500 Command syntax error.\r\n", 5, "Command syntax error, command unknown, command unimplemented"},
        {kOk + "530 Server error, server timeout.\r\n", -1, "Server error, server timeout"},
        {kOk + "hello there\r\n", 5, "Unrecognised CDDB reply line"},
        {kOk + "\x01\x02garbage", 5, "Unrecognised CDDB reply line"},
        {kOk + "211 inexact\r\n.\r\n", 5, "The server sent an empty match list"},
        {kOk + "211 inexact\r\nrock 0c016602 A / B\r\n", 5, "CDDB query reply ended early"},
        {kOk, 5, "CDDB query reply ended early"},
        {kOk + "200 rock; 0c016602 A / B\r\n", 5, "The match has no valid category"},
        {kOk + "210 exact\r\nrock 0c01660Z A / B\r\n.\r\n", 5, "no valid category and disc id"},
        {kOk + "210 exact\r\nrock+x 0c016602 A / B\r\n.\r\n", 5, "no valid category and disc id"},
        // A ninth digit makes another id, never one cut to eight.
        {kOk + "210 exact\r\nrock 0c0166021 A / B\r\n.\r\n", 5, "no valid category and disc id"},
        {kOk + "211 inexact\r\nrock 0c0166021\r\n.\r\n", 5, "no valid category and disc id"},
        {"HTTP/1.0 404 Not Found\r\n\r\n200 rock 0c016602 A / B\r\n", 16, "CDDB server error: HTTP 404"},
        {"HTTP/1.0 500 Internal Server Error\r\n\r\n", 16, "CDDB server error: HTTP 500"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n210 exact\r\nrock 0c016602 A / B\r\nRESET", -100, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        Serve([&c](const std::string &) { return c.reply; });
        statuses.clear();
        matchCalls = 0;
        const int state = Run();
        if (c.state == -100) { // the peer closes midway: an error, never a match
            EXPECT_TRUE(state == 5 || state == 16) << state;
            EXPECT_FALSE(statuses.empty());
        } else {
            EXPECT_EQ(state, c.state);
            EXPECT_TRUE(Said(c.status)) << (statuses.empty() ? "" : statuses.back());
        }
        // Only a list reaches the choice; a bad chosen line is refused after it.
        if (c.status != "no valid category and disc id") {
            EXPECT_EQ(matchCalls, 0);
        }
        if (c.status == "No handshake") {
            EXPECT_FALSE(cddb->HandshakeDone);
        }
    }
}

// The reply's letters reach the entry and every handed-on line as UTF-8:
// over HTTP at level 6, over CDDBP at the level the server confirmed.
TEST_F(CddbTest, RepliesBecomeTheProgramsText)
{
    const std::string title = "DTITLE=Skupina \u2013 \u013dubo / \u010cierne \u017elt\u00e9 \u0165avy";
    // The track continued, its first part ending in a blank.
    const std::string track = "TTITLE0=\u010c \u017e \u013e \u0165 \r\nTTITLE0=\u2013 koniec";
    std::string entry = title + "\r\n" + track + "\r\n";
    HttpPeer &p = Serve([&entry](const std::string &cmd) {
        return Words(cmd)[1] == "query" ? FromDatabase(cmd) : kOk + "210 rock 0c016602 entry\r\n" + entry + ".\r\n";
    });
    auto lookup = [&] {
        lines.clear();
        EXPECT_EQ(Run(), 3);
        EXPECT_EQ(Run(true), 12);
        return std::tuple(cddb->Entry.Artist, cddb->Entry.Title, cddb->Entry.TrackTitles[0]);
    };
    EXPECT_EQ(lookup(), std::tuple("Skupina \u2013 \u013dubo", "\u010cierne \u017elt\u00e9 \u0165avy",
                                   "\u010c \u017e \u013e \u0165 \u2013 koniec"));
    EXPECT_NE(p.Path(1).find("&proto=6"), std::string::npos);
    EXPECT_NE(std::find(lines.begin(), lines.end(), title), lines.end());
    // Bytes that are no UTF-8 at level 6 are read as ISO-8859-1, not stored raw.
    entry = "DTITLE=Kapela / Pie\xF1" "a \xE1\r\n";
    EXPECT_EQ(std::get<1>(lookup()), "Pie\u00f1a \u00e1");

    // Over CDDBP a connection starts at level 1; the level the server
    // confirms decodes what follows.
    ScriptedPeer cddbp(
        [](int fd, int) {
            SendAll(fd, "201 localhost CDDBP server v1.5 ready\r\n");
            std::string level = "1";
            for (std::string line; !(line = ReadUntil(fd, "\n")).empty();) {
                const auto w = Words(line);
                if (w.size() == 2 && w[0] == "proto") {
                    level = w[1];
                    SendAll(fd, "201 OK, CDDB protocol level now: " + level + "\r\n");
                } else if (level == "6") {
                    SendAll(fd, "210 rock 0c016602 entry\r\nDTITLE=\u0164ava / \u010cierne \u2013 \u017elt\u00e9\r\n.\r\n");
                } else { // ISO-8859-1, with "?" for each letter it lacks
                    SendAll(fd, "210 rock 0c016602 entry\r\nDTITLE=?ava / ?ierne ? \xBEl\xFAt\xE9\r\n.\r\n");
                }
            }
            return false;
        },
        1);
    Connect(cddbp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    auto send = [&](int state, const std::string &cmd, int until) {
        cddb->State = state;
        cddb->Socket().SendStr(cmd + "\r\n");
        EXPECT_TRUE(PumpUntil([&] { return cddb->State == until; }));
    };
    for (const char *level : {"5", "6"}) {
        SCOPED_TRACE(level);
        send(9, std::string("proto ") + level, 10);
        EXPECT_EQ(cddb->SocketProtocolLevel(), std::stoi(level));
        EXPECT_TRUE(Said(std::string("OK, protocol level now: ") + level));
        send(11, "cddb read rock 0c016602", 12);
        EXPECT_EQ(cddb->EntryLines[0], level[0] == '5' ? "DTITLE=?ava / ?ierne ? \u00bel\u00fat\u00e9"
                                                       : "DTITLE=\u0164ava / \u010cierne \u2013 \u017elt\u00e9");
    }    cddb->Socket().Close(); // lets the server go
}

// Lines in valid UTF-8 keep their letters as they came: a letter whole at
// the end of a line that goes on stays on that line, and lines that are no
// entry value (the match lines, the "210" header) are no ISO-8859-1 at level 6.
TEST(CddbText, ValidUtf8LinesStayAsTheyCame)
{
    using V = std::vector<std::string>;
    for (const V &lines : {V{"TTITLE0=Hudba \U0001F3B5", "TTITLE0= a \u0161um"},
                           V{"DTITLE=\u010c", "DTITLE=\u2013", "DTITLE=\U0001F3B5", "DTITLE=x"},
                           V{"210 rock 0c016602 \u0164ava / \u010cierne \U0001F3B5", "DTITLE=a", "."}}) {
        SCOPED_TRACE(lines[0]);
        EXPECT_EQ(CddbEntryTextToUtf8(lines, 6), lines);
    }
    const std::string match = "200 rock 0c016602 \u0164ava \u2013 \u013dubo / \U0001F3B5";
    EXPECT_EQ(CddbTextToUtf8(match, 6), match);
}

TEST_F(CddbTest, QueryMatchesAndHeadersInUtf8KeepTheirLetters)
{
    const std::string title = "\u0164ava \u2013 \u013dubo / \u010cierne \U0001F3B5";
    std::string queryReply;
    Serve([&](const std::string &cmd) {
        return kOk + (Words(cmd)[1] == "query" ? queryReply
                                               : "210 rock 0c016602 " + title + "\r\nDTITLE=" + title + "\r\n.\r\n");
    });
    const auto said = [&](const std::string &line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    // An exact match, and a list of them under its "210" header.
    for (const std::string &reply : {"200 rock 0c016602 " + title + "\r\n",
                                     "210 Found exact matches \u2013 " + title + "\r\nrock 0c016602 " + title + "\r\n.\r\n"}) {
        SCOPED_TRACE(reply);
        queryReply = reply;
        lines.clear();
        ASSERT_EQ(Run(), 3);
        EXPECT_EQ(cddb->Matches[0], "rock 0c016602 " + title);
        EXPECT_TRUE(said(reply.substr(0, reply.find("\r\n")))) << lines[0];
    }
    lines.clear();
    ASSERT_EQ(Run(true), 12);
    EXPECT_TRUE(said("210 rock 0c016602 " + title)) << lines[0];
    EXPECT_EQ(cddb->Entry.Title, "\u010cierne \U0001F3B5");

    // Over CDDBP at level 6, a match line is read as UTF-8 as it comes.
    ScriptedPeer tcp([&](int fd, int) {
        SendAll(fd, "201 localhost CDDBP server ready\r\n");
        for (std::string line; !(line = ReadUntil(fd, "\n")).empty();)
            SendAll(fd, Words(line)[0] == "proto" ? "201 OK, CDDB protocol level now: 6\r\n"
                                                  : "200 rock 0c016602 " + title + "\r\n");
        return false;
    });
    Connect(tcp.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    for (const auto &[state, cmd, until] :
         {std::tuple(9, std::string("proto 6"), 10), std::tuple(6, BuildQueryCommand(cddb->Entry.Toc), 3)}) {
        lines.clear();
        cddb->State = state;
        cddb->Socket().SendStr(cmd + "\r\n");
        ASSERT_TRUE(PumpUntil([&] { return cddb->State == until; }));
    }
    EXPECT_EQ(cddb->Matches[0], "rock 0c016602 " + title);
    EXPECT_TRUE(said("200 rock 0c016602 " + title));
    cddb->Socket().Close();
}

TEST_F(CddbTest, AtMost100Matches)
{
    Serve([](const std::string &) {
        std::string r = kOk + "211 inexact\r\n";
        for (int i = 0; i < 150; ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "0c0166%02x", i);
            r += std::string("misc ") + id + " Disc " + std::to_string(i) + "\r\n";
        }
        return r + ".\r\n";
    });
    choose = 99;
    ASSERT_EQ(Run(), 3);
    EXPECT_TRUE(Said("More than 100 matches"));
    EXPECT_EQ(seen[99].substr(0, 13), "misc 0c016663");
    EXPECT_EQ(cddb->Entry.DiscId, "0c016663");
}

TEST_F(CddbTest, ReadAnswers)
{
    const std::string head = "210 rock 0c016602 entry follows\r\n";
    std::string huge = head;
    for (int i = 0; i < 600; ++i)
        huge += "TTITLE" + std::to_string(i % 100) + "=t\r\n";
    huge += ".\r\n";
    const struct {
        std::string body;
        int state;
        std::string status;
    } cases[] = {
        {head + "DTITLE=A / B\r\n.", 12, "Entry read"}, // the last line without a line break
        {huge, 12, "more than 512 lines"},
        {"401 rock 0c016602 No such CD entry in database.\r\n", 13, "Specified CDDB entry not found"},
        {"403 Database entry is corrupt.\r\n", 13, "Database entry is corrupt"},
        {"409 No handshake.\r\n", 13, "No handshake"},
        {"402 Server error.\r\n", 13, "CDDB entry ended early"},
        {head + "DTITLE=A / B\r\n", 13, "CDDB entry ended early"},
        {head + ".\r\n", 13, "The server sent an empty CDDB entry"},
        {head + "DTITLE=A / B\r\nnonsense\r\n.\r\n", 13, "Unrecognised CDDB reply line"},
        {"500 Command syntax error.\r\n", 13, "Command syntax error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.substr(0, 60));
        Serve([&c](const std::string &cmd) { return Words(cmd)[1] == "query" ? FromDatabase(cmd) : kOk + c.body; });
        ASSERT_EQ(Run(), 3);
        statuses.clear();
        EXPECT_EQ(Run(true), c.state);
        EXPECT_TRUE(Said(c.status)) << (statuses.empty() ? "" : statuses.back());
        if (c.state == 12) {
            EXPECT_FALSE(cddb->EntryLines[c.body == huge ? 511 : 0].empty());
        }
    }
}

TEST_F(CddbTest, StoppedPeerOverlongReplyWrongTransportAndBadValues)
{
    cddb->ServerPort = std::to_string(FreePort());
    EXPECT_EQ(Run(), 16);
    EXPECT_TRUE(Said("CDDB Component Internal Error: THttpClient.GetAsync failed because of error \""));
    Serve([](const std::string &) { return kOk + "211 x\r\n" + std::string(MaxCddbReplyBytes + 10, 'a'); });
    statuses.clear();
    EXPECT_EQ(Run(), 16);
    EXPECT_TRUE(Said("CDDB reply too long"));
    cddb->ServerType = CDDBP;
    EXPECT_EQ(cddb->Query(), -1);
    EXPECT_EQ(cddb->Read(), -1);
    EXPECT_TRUE(Said("Selected server not an HTTP server"));
    cddb->ServerType = HTTP;
    cddb->State = 3;
    cddb->Entry.Category = "rock&cmd=x";
    cddb->Entry.DiscId = "0c016602";
    statuses.clear();
    EXPECT_EQ(cddb->Read(), -1);
    EXPECT_TRUE(Said("No valid category and disc id"));
    cddb->ServerAddr = "bad\r\nhost";
    statuses.clear();
    EXPECT_EQ(cddb->Query(), -1);
    EXPECT_EQ(cddb->State, 16);
    EXPECT_TRUE(Said("CDDB Component Internal Error: THttpClient.GetAsync failed because of error"));
}

// A peer that answers the first request (after its greeting, over CDDBP)
// with Reply; then it sends Unit again and again until the client goes
// (Unit empty: it says nothing more), or closes at once.
ScriptedPeer::Script Hostile(bool Http, std::string Reply, std::string Unit, bool Close)
{
    return [=](int fd, int) {
        if (!Http)
            SendAll(fd, "201 localhost CDDBP server ready\r\n");
        ReadUntil(fd, Http ? "\r\n\r\n" : "\n");
        SendAll(fd, (Http ? kOk : std::string()) + Reply);
        if (Close)
            return false;
        while (!Unit.empty() && ::send(fd, Unit.data(), Unit.size(), MSG_NOSIGNAL) > 0)
            ::usleep(Unit.size() > 1000 ? 20000 : 0);
        ReadAll(fd, 30000);
        return false;
    };
}

TEST_F(CddbTest, HostileServersEndWithinTheLimit)
{
    EXPECT_EQ(cddb->TimeLimit(), 120000);
    EXPECT_EQ(cddb->Http().RequestTimeout, 120000);
    const std::string head = "210 rock 0c016602 entry follows\r\n";
    const std::string line = "TTITLE0=" + std::string(100, 'x') + "\r\n";
    const struct {
        const char *what;
        bool http;
        int waiting; // 6 query, 11 read
        std::string reply, unit;
        bool close;
        int limit, state;
        std::string status;
    } cases[] = {
        {"entry left open", true, 11, head + "DTITLE=A / B\r\n", "", false, 1000, 16, "no complete reply within 1 s"},
        {"lines that never end", true, 11, head, line, false, 60000, 13, "CDDB reply too long"},
        {"a trickle above the idle rate", true, 11, head, std::string(2048, 'T'), false, 1000, 16,
         "no complete reply within 1 s"},
        {"entry left open", false, 11, head + "DTITLE=A / B\r\n", "", false, 1000, 13, "No complete CDDB reply within 1 s"},
        {"match list left open", false, 6, "211 inexact\r\nrock 0c016602 A / B\r\n", "", false, 1000, 5,
         "No complete CDDB reply within 1 s"},
        {"CR-only line ends", false, 11, "210 rock 0c016602 entry\rDTITLE=A / B\r.\r", "", false, 1000, 13,
         "No complete CDDB reply within 1 s"},
        {"closed in the middle of an entry", false, 11, head + "DTITLE=A / B\r\n", "", true, 60000, 13,
         "The CDDB connection closed before the reply ended"},
        {"lines that never end", false, 11, head, line, false, 60000, 13, "CDDB reply too long"},
        {"CR-only lines that never end", false, 11, head, "TTITLE0=x\r", false, 60000, 13, "CDDB reply line too long"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.http ? "HTTP: " : "CDDBP: ") + c.what);
        ScriptedPeer peer(Hostile(c.http, c.reply, c.unit, c.close));
        cddb->SetTimeLimit(c.limit);
        statuses.clear();
        if (c.http) {
            cddb->ServerPort = peer.PortStr();
            cddb->State = 3;
            cddb->Entry.Category = "rock";
            cddb->Entry.DiscId = "0c016602";
            ASSERT_EQ(cddb->Read(), 0);
        } else {
            Connect(peer.PortStr());
            ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
            cddb->State = c.waiting;
            cddb->Socket().SendStr(c.waiting == 6 ? BuildQueryCommand(cddb->Entry.Toc) + "\r\n"
                                                  : "cddb read rock 0c016602\r\n");
        }
        ASSERT_TRUE(PumpUntil([&] { return cddb->State != c.waiting; }, 90000));
        PumpBriefly();
        EXPECT_EQ(cddb->State, c.state);
        EXPECT_TRUE(Said(c.status)) << (statuses.empty() ? "" : statuses.back());
        EXPECT_TRUE(PumpUntil([&] { return cddb->Socket().State() == wsClosed && cddb->Http().State() == httpStReady; }));
    }
}

TEST_F(CddbTest, DriveSelection)
{
    statuses.clear();
    EXPECT_FALSE(cddb->SelectDriveByLetter('x'));
    EXPECT_TRUE(Said("No CD/DVD drive found assigned with drive letter x:"));
    EXPECT_FALSE(cddb->SelectDrive(3));
    EXPECT_TRUE(cddb->SelectDrive(0));
    EXPECT_EQ(cddb->Entry.DiscId, "0c016602");
    static_cast<SimulatedCdDeviceLayer &>(CdDeviceLayer::Current()).Drives()[0].toc.clear();
    EXPECT_FALSE(cddb->SelectDriveByLetter('E'));
    EXPECT_TRUE(Said("No CD in CD/DVD drive!"));
    cddb->InternalTOCRetrieve = false;
    statuses.clear();
    EXPECT_FALSE(cddb->SelectDrive(0));
    EXPECT_TRUE(Said("No CD-ROM interface detected!"));
}

// ---------------------------------------------------------------- protocol over TCP

TEST_F(CddbTest, ProtocolOverTcp)
{
    ScriptedPeer peer([](int fd, int) {
        SendAll(fd, "201 localhost CDDBP server v1.5 ready at Mon Jan 1 00:00:00 2024\r\n");
        for (;;) {
            const std::string line = ReadUntil(fd, "\n");
            if (line.empty())
                return false;
            const auto w = Words(line);
            if (w.empty())
                continue;
            if (w[0] == "cddb" && w.size() > 1 && w[1] == "hello")
                SendAll(fd, "200 Hello and welcome user@example.org running TestClient 1.0.\r\n");
            else if (w[0] == "proto")
                SendAll(fd, "201 OK, CDDB protocol level now: 5\r\n");
            else if (w[0] == "sites")
                SendAll(fd, "210 OK, site information follows (until terminating `.')\r\n"
                            "cddb.example.org http 80 /~cddb/cddb.cgi N000.00 W000.00 A  place with  blanks\r\n"
                            "two.example.org  8880 - N001.00 W001.00 Second\r\n.\r\n");
            else if (w[0] == "cddb")
                SendAll(fd, Database(line.substr(0, line.find_last_not_of("\r\n") + 1)));
            else if (w[0] == "quit") {
                SendAll(fd, "230 localhost Closing connection.  Goodbye.\r\n");
                return false;
            }
        }
    });
    TNetSocket &s = cddb->Socket();
    Connect(peer.PortStr());
    ASSERT_TRUE(PumpUntil([&] { return cddb->State == 17; }));
    EXPECT_TRUE(Said("OK, read only"));
    auto send = [&](int state, const std::string &cmd, int until) {
        cddb->State = state;
        s.SendStr(cmd + "\r\n");
        return PumpUntil([&] { return cddb->State == until; });
    };
    ASSERT_TRUE(send(1, "cddb hello user example.org TestClient 1.0", 2));
    EXPECT_TRUE(cddb->HandshakeDone);
    ASSERT_TRUE(send(9, "proto 5", 10));
    EXPECT_TRUE(Said("OK, protocol level now: 5"));
    ASSERT_TRUE(send(7, "sites", 8));
    EXPECT_TRUE(Said("Got sites"));
    const auto site = [&](int i) {
        const CddbSite &s = cddb->Sites[static_cast<size_t>(i)];
        return std::tuple(s.Site, s.IsHttp, s.Port, s.Address, s.Longitude, s.Description);
    };
    EXPECT_EQ(site(0), std::tuple(std::string("cddb.example.org"), true, 80, std::string("/~cddb/cddb.cgi"),
                                  std::string("W000.00"), std::string("A  place with  blanks")));
    // The extra blank gives an empty protocol field.
    EXPECT_EQ(
        std::tuple(std::get<0>(site(1)), std::get<1>(site(1)), std::get<2>(site(1)), std::get<0>(site(2))),
        std::tuple("two.example.org", false, 8880, ""));
    ASSERT_TRUE(send(6, BuildQueryCommand(cddb->Entry.Toc), 3));
    EXPECT_EQ(cddb->Entry.Category, "rock");
    ASSERT_TRUE(send(11, "cddb read rock 0c016602", 12));
    EXPECT_EQ(cddb->EntryLines[4], "DTITLE=Some Artist / Some \\\\Album");
    ASSERT_TRUE(send(15, "quit", -1));
    EXPECT_TRUE(Said("Connection closed"));
}

TEST_F(CddbTest, BannerRefusalsAndUnknownCodes)
{
    for (const auto &[banner, state, status] :
         std::vector<std::tuple<std::string, int, std::string>>{
             {"432 No connections allowed: permission denied.", -1, "No connections allowed: permission denied"},
             {"200 ready", 18, "OK, read/write allowed"},
             {"500 what", 0, "Command syntax error, command unknown, command unimplemented"},
             {"221 fine", 0, "Command OK, more client-to-server input follows"}}) {
        SCOPED_TRACE(banner);
        ScriptedPeer peer(SendThenWait(banner + "\r\n"));
        statuses.clear();
        cddb->State = -1;
        Connect(peer.PortStr());
        ASSERT_TRUE(PumpUntil([&] { return !statuses.empty(); }));
        EXPECT_EQ(cddb->State, state);
        EXPECT_EQ(statuses.back(), status);
        cddb->Socket().Close();
        PumpUntil([&] { return cddb->Socket().State() == wsClosed; });
    }
}

// ---------------------------------------------------------------- submissions

TEST_F(CddbTest, SubmissionByHttpPost)
{
    std::string request, answer = "200 OK, submission has been received.\r\n";
    std::mutex m;
    ScriptedPeer peer(
        [&](int fd, int) {
            std::string req = ReadUntil(fd, "\r\n\r\n");
            req += ReadExactly(fd, std::stoul(req.substr(req.find("Content-Length: ") + 16)));
            std::lock_guard<std::mutex> lock(m);
            request = req;
            SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n" + answer);
            return false;
        },
        3);
    auto post = [&](const std::string &url) {
        cddb->Http().URL = url;
        cddb->SendStream().seek(0);
        cddb->State = 14;
        cddb->Http().DoRequestAsync(httpRqPost);
        EXPECT_TRUE(PumpUntil([&] { return cddb->State != 14; }));
        std::lock_guard<std::mutex> lock(m);
        return request;
    };
    const std::string url = "http://127.0.0.1:" + peer.PortStr() + "/~cddb/submit.cgi";
    cddb->Entry.Category = "rock ";
    cddb->SetNoteToUser("note\r\nX-Evil: 1");
    cddb->SendStream().write("# xmcd\r\nDTITLE=A / B\r\n");
    std::string sent = post(url);
    EXPECT_EQ(cddb->State, 22);
    EXPECT_TRUE(Said("OK, submission has been sent."));
    EXPECT_NE(sent.find("Content-Length: 22\r\nCategory: rock\r\nDiscid: 0c016602\r\n"
                        "User-Email: user@example.org\r\nSubmit-Mode: test\r\nX-Cddbd-Note: note  X-Evil: 1\r\n"),
              std::string::npos)
        << sent;
    EXPECT_EQ(sent.find("\r\nX-Evil"), std::string::npos);
    EXPECT_NE(sent.find("DTITLE=A / B"), std::string::npos);
    answer = "501 Invalid header.\r\n";
    cddb->SubmissionType = SUBMIT;
    sent = post(url);
    EXPECT_EQ(cddb->State, 23);
    EXPECT_TRUE(Said("Invalid header information."));
    EXPECT_NE(sent.find("Submit-Mode: submit\r\n"), std::string::npos);
    // A note outside ASCII goes as encoded words; the entry itself as it is.
    const std::string note = "Pozn\u00e1mka: \u010d \u017e \u013e \u0165 \u2013 v\u0161etko s\u00fahlas\u00ed";
    cddb->SetNoteToUser(note);
    answer = "200 OK\r\n";
    sent = post(url);
    orbtest::TempDir dir;
    const std::string head = sent.substr(sent.find("\r\n") + 2, sent.find("\r\n\r\n") - sent.find("\r\n"));
    EXPECT_EQ(DecodedHeaders(dir.write("post.eml", "POST\n\n" + head + "\r\n"), {"X-Cddbd-Note", "Category"}),
              (std::vector<std::string>{note, "rock"}));
    EXPECT_NE(sent.find("DTITLE=A / B"), std::string::npos);
    post("http://127.0.0.1:" + std::to_string(FreePort()) + "/");
    EXPECT_EQ(cddb->State, 16);
    EXPECT_TRUE(Said("CDDB Component Internal Error: THttpClient.PostAsync failed because of error \""));
}

TEST_F(CddbTest, SubmissionByMail)
{
    for (const std::string mailFrom : {"250 OK", "550 not you"}) {
        SCOPED_TRACE(mailFrom);
        ScriptedSmtp srv("220 localhost ESMTP\r\n", OkBut("MAIL", mailFrom + "\r\n"));
        TSmtpClient &smtp = cddb->Smtp();
        smtp.Host = "127.0.0.1";
        smtp.Port = srv.Peer->PortStr();
        smtp.SignOn = mailFrom[0] == '5' ? "" : "client.example.org"; // empty: this machine's name
        smtp.FromName = smtp.HdrFrom = "user@example.org";
        smtp.RcptName = {cddb->EmailTestSubmit};
        smtp.HdrTo = cddb->EmailTestSubmit;
        smtp.HdrSubject = "cddb rock 0c016602";
        smtp.MailMessage = {"# xmcd", "DTITLE=A / B"};
        cddb->SetNoteToUser("a note");
        statuses.clear();
        smtp.Connect();
        ASSERT_TRUE(PumpUntil([&] { return Said("OK, submission has been sent.") || cddb->State == 21; }));
        if (mailFrom[0] == '5') {
            EXPECT_EQ(cddb->State, 21);
            EXPECT_TRUE(Said("CDDB Component Internal Error: TSmtpClient.Mail failed because of error \""));
            smtp.Abort(); // lets the server go
            continue;
        }
        const std::string data = srv.Got();
        EXPECT_NE(data.find("From: user@example.org\r\nX-Cddbd-Note: a note\r\n"), std::string::npos) << data;
        EXPECT_NE(data.find("DTITLE=A / B"), std::string::npos);
    }
    // A note outside ASCII, through a real receiver, decoded back.
    AioSmtpd server;
    ASSERT_TRUE(server.Start());
    TSmtpClient &smtp = cddb->Smtp();
    smtp.Host = "127.0.0.1";
    smtp.Port = std::to_string(server.Port);
    smtp.FromName = smtp.HdrFrom = "user@example.org";
    smtp.RcptName = {cddb->EmailTestSubmit};
    smtp.HdrTo = cddb->EmailTestSubmit;
    smtp.HdrSubject = "cddb rock 0c016602";
    const std::string entry = "DTITLE=\u0164ava / \u010cierne \u2013 \u017elt\u00e9";
    smtp.MailMessage = {"# xmcd", entry};
    const std::string note = std::string(60, '-') + "\u010d\u017e\u013e\u0165\u2013\u00e1\u00e4\u00f4\u00fa\u00fdnot";
    cddb->SetNoteToUser(note); // 70 letters, never a letter cut in two
    EXPECT_EQ(cddb->NoteToUser(), note.substr(0, note.size() - 3));
    statuses.clear();
    cddb->State = -1;
    smtp.Connect();
    ASSERT_TRUE(PumpUntil([&] { return Said("OK, submission has been sent.") || cddb->State == 21; }));
    ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(server.Message(1)); }));
    EXPECT_EQ(DecodedHeaders(server.Message(1), {"X-Cddbd-Note", "Subject"}),
              (std::vector<std::string>{cddb->NoteToUser(), "cddb rock 0c016602"}));
    EXPECT_NE(orbtest::readFile(server.Message(1)).find(entry), std::string::npos);
    // A lower-case From line gets the note too.
    std::string line = "from: x@y";
    cddb->SmtpHeaderLine(&cddb->Smtp(), line, 1024);
    cddb->SetNoteToUser("a note");
    EXPECT_EQ(line.substr(0, 25), "from: x@y\r\nX-Cddbd-Note: ");
    line = "from: x@y";
    cddb->SmtpHeaderLine(&cddb->Smtp(), line, 1024);
    EXPECT_EQ(line, "from: x@y\r\nX-Cddbd-Note: a note");
}
