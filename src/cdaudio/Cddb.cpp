#include "cdaudio/Cddb.h"

#include "net/NetSockBuf.h"
#include "util/TextCodec.h"

#include <QBuffer>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

namespace {

const char *const kInternalGet = "CDDB Component Internal Error: THttpClient.GetAsync failed because of error";
const char *const kInternalPost = "CDDB Component Internal Error: THttpClient.PostAsync failed because of error";
const char *const kLineTerm = "\r\n";

std::string Upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// The reply code of a line that begins with three digits; -1 otherwise.
int CodeOf(const std::string &line)
{
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0]))
        || !std::isdigit(static_cast<unsigned char>(line[1])) || !std::isdigit(static_cast<unsigned char>(line[2])))
        return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool CodeIs(const std::string &line, std::initializer_list<int> codes)
{
    const int code = CodeOf(line);
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// A server line quoted in a status text: short and on one line.
std::string Quoted(const std::string &line)
{
    std::string s = line.substr(0, 60);
    for (char &c : s)
        if (static_cast<unsigned char>(c) < ' ')
            c = ' ';
    return "\"" + s + (line.size() > 60 ? "...\"" : "\"");
}

std::string Hex8(uint32_t v, bool upper)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, upper ? "%8.8X" : "%8.8x", v);
    return buf;
}

// No line break may reach a header line.
std::string OneLine(std::string s)
{
    for (char &c : s)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return s;
}

// Track number of a "TTITLEn=" (prefix 6) or "EXTTn=" (prefix 4) line; -1
// when it is not a number below 100.
int TrackNumberOf(const std::string &line, size_t prefix, size_t &valueAt)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq <= prefix || eq > prefix + 2)
        return -1;
    int n = 0;
    for (size_t i = prefix; i < eq; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return -1;
        n = n * 10 + (line[i] - '0');
    }
    valueAt = eq + 1;
    return n;
}

std::string ValueAfterEquals(const std::string &line)
{
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

} // namespace

qint64 TCddbReplyBuffer::writeData(const char *data, qint64 len)
{
    if (len <= 0)
        return len < 0 ? -1 : 0;
    const qint64 room = MaxCddbReplyBytes - static_cast<qint64>(data_.size());
    if (len > room)
        overflow_ = true;
    if (room <= 0)
        return -1;
    const qint64 taken = std::min(room, len);
    data_.append(data, static_cast<size_t>(taken));
    return taken;
}

// ---------------------------------------------------------------- helpers

int DigitSum(int N)
{
    int s = 0;
    while (N > 0) {
        s += N % 10;
        N /= 10;
    }
    return s;
}

uint32_t CddbDiscId(const CdToc &Toc)
{
    const int count = std::clamp<int32_t>(Toc.TrackCount, 0, MaxTocTracks);
    uint32_t n = 0;
    for (int i = 0; i < count; ++i)
        n += static_cast<uint32_t>(DigitSum(Toc.Tracks[i].Minute * 60 + Toc.Tracks[i].Second));
    const int first = Toc.Tracks[0].Minute * 60 + Toc.Tracks[0].Second;
    const int t = Toc.LeadOut.Minute * 60 + Toc.LeadOut.Second - first;
    return ((n % 255) << 24) | (static_cast<uint32_t>(t) << 8) | (static_cast<uint32_t>(Toc.TrackCount) & 0xFF);
}

std::string BuildQueryCommand(const CdToc &Toc)
{
    const int count = std::clamp<int32_t>(Toc.TrackCount, 0, MaxTocTracks);
    std::string s = "cddb query " + Hex8(CddbDiscId(Toc), false) + " " + std::to_string(Toc.TrackCount);
    for (int i = 0; i < count; ++i) {
        const TocEntry &e = Toc.Tracks[i];
        s += " " + std::to_string(e.Minute * 4500 + e.Second * 75 + e.Frame);
    }
    s += " " + std::to_string(Toc.LeadOut.Minute * 60 + Toc.LeadOut.Second);
    return s;
}

std::string UrlEncode(const std::string &S)
{
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : S) {
        if (c == ' ')
            out += '+';
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string HelloUserHost(const std::string &Email)
{
    const size_t at = Email.rfind('@');
    if (at == std::string::npos)
        return {};
    return Email.substr(0, at) + " " + Email.substr(at + 1);
}

std::vector<std::string> SplitReplyLines(const std::string &Document)
{
    std::vector<std::string> lines;
    std::string line;
    bool cut = false; // a NUL ended this line's text
    size_t i = 0;
    const size_t n = Document.size();
    bool pending = false;
    while (i < n) {
        const char c = Document[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            cut = false;
            pending = false;
            i += (c == '\r' && i + 1 < n && Document[i + 1] == '\n') ? 2 : 1;
            continue;
        }
        if (c == '\0')
            cut = true;
        else if (!cut)
            line += c;
        pending = true;
        ++i;
    }
    if (pending)
        lines.push_back(line);
    return lines;
}

size_t FirstSpacePos(const std::string &S)
{
    const size_t p = S.find(' ');
    return p == std::string::npos ? S.size() : p + 1;
}

std::string UnescapeEntryText(const std::string &S)
{
    std::string out;
    for (size_t i = 0; i < S.size(); ++i) {
        if (S[i] == '\\' && i + 1 < S.size()) {
            const char n = S[i + 1];
            if (n == 'n') {
                out += "\r\n";
                ++i;
                continue;
            }
            if (n == 't') {
                out += '\t';
                ++i;
                continue;
            }
            if (n == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += S[i];
    }
    return out;
}

std::string CddbTextToUtf8(const std::string &Line, int Level)
{
    if (Level >= 6 && IsValidUtf8(Line))
        return Line;
    std::string out;
    out.reserve(Line.size());
    for (unsigned char c : Line)
        AppendUtf8(out, c); // ISO-8859-1 is the first 256 code points
    return out;
}

bool IsCddbCategory(const std::string &Word)
{
    static const char *const kCategories[] = {"blues", "classical", "country", "data",   "folk",      "jazz",
                                              "misc",  "newage",    "reggae",  "rock",   "soundtrack"};
    for (const char *c : kCategories)
        if (Word == c)
            return true;
    return false;
}

bool IsCddbDiscId(const std::string &Text)
{
    return Text.size() == 8
           && std::all_of(Text.begin(), Text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// ---------------------------------------------------------------- component

TCddb::TCddb()
{
    State = -1;
    HandshakeDone = false;
    Sites.fill(CddbSite());

    FSocket = std::make_unique<TNetSocket>();
    FSocket->OnDataAvailable = [this](TCustomNetSocket *s, uint16_t e) { SocketDataAvailable(s, e); };
    FSocket->OnSessionConnected = [this](TCustomNetSocket *s, uint16_t e) { SocketSessionConnected(s, e); };
    FSocket->OnSessionClosed = [this](TCustomNetSocket *s, uint16_t e) { SocketSessionClosed(s, e); };
    FSocket->OnLineLimitExceeded = [this](TCustomNetSocket *s, int n, bool &clear) {
        SocketLineLimitExceeded(s, n, clear);
    };
    FSocket->OnChangeState = [this](TCustomNetSocket *s, TSocketState o, TSocketState n) {
        SocketChangeState(s, o, n);
    };
    FSocket->SetLineMode(true);
    FSocketTimer = std::make_unique<QTimer>();
    FSocketTimer->setSingleShot(true);
    QObject::connect(FSocketTimer.get(), &QTimer::timeout, [this] { SocketLimitExpired(); });
    FSocket->SetProto("tcp");
    FSocket->SetPort("8880");
    FSocket->SetAddr(CddbDefaultServer);

    SetNoteToUser("Entry sent by a disc catalogue.");
    ClientName = "TCddb";
    ClientVersion = "v0.1.75 Release";
    ServerAdditionalAddr = "/~cddb/cddb.cgi";

    if (CdInterfaceAvailable()) {
        InternalTOCRetrieve = true;
        try {
            GetCDList(DriveList, CDInterface);
            if (DriveList.Count >= 1) {
                ReadTOC(DriveList, 0, Entry.Toc, CDInterface);
                DriveList.CurrentDrive = 0;
            }
        } catch (const std::exception &) {
            // No path to the drives now; the next selection asks again.
        }
    } else {
        InternalTOCRetrieve = false;
    }
    LocalCDDBDLLPath = ".\\LocalCDDB.dll";
    LocalCDDBPath = ".\\";

    FRcvdStream = std::make_unique<TCddbReplyBuffer>();
    auto send = std::make_unique<QBuffer>();
    send->open(QIODevice::ReadWrite);
    FSendStream = std::move(send);

    FHttp = std::make_unique<THttpClient>();
    FHttp->OnCommand = [this](THttpClient *s, std::string &line) { HttpCommand(s, line); };
    FHttp->OnRequestDone = [this](THttpClient *s, THttpRequest rq, uint16_t e) { HttpRequestDone(s, rq, e); };
    FHttp->SendStream = FSendStream.get();
    FHttp->RcvdStream = FRcvdStream.get();
    FHttp->RequestTimeout = FTimeLimit;

    SubmissionType = TEST;
    EmailSubmit = "cddb-submit@gnudb.gnudb.org";
    EmailTestSubmit = "cddb-test-submit@gnudb.gnudb.org";

    FSmtp = std::make_unique<TSmtpClient>();
    FSmtp->OnRequestDone = [this](TCustomSmtpClient *s, TSmtpRequest rq, uint16_t e) { SmtpRequestDone(s, rq, e); };
    FSmtp->OnDisplay = [this](TCustomSmtpClient *s, const std::string &m) { SmtpDisplay(s, m); };
    FSmtp->OnHeaderLine = [this](TCustomSmtpClient *s, std::string &m, int size) { SmtpHeaderLine(s, m, size); };
}

TCddb::~TCddb()
{
    FSocket.reset(); // may still report its close, which stops the timer
    FSocketTimer.reset();
    FSmtp.reset();
    FHttp.reset();
    FSendStream.reset();
    FRcvdStream.reset();
}

void TCddb::SetNoteToUser(const std::string &Note)
{
    FNoteToUser = OneLine(std::string(CutToCharWidth(Note, 70)));
}

void TCddb::SetTimeLimit(int Ms)
{
    FTimeLimit = std::max(0, Ms);
    FHttp->RequestTimeout = FTimeLimit;
}

void TCddb::Status(const std::string &Text)
{
    if (OnStatusMessage)
        OnStatusMessage(this, Text);
}

void TCddb::Exchange(const std::string &Line)
{
    if (OnDataExchange)
        OnDataExchange(this, Line);
}

bool TCddb::SelectDrive(uint8_t Index)
{
    if (!InternalTOCRetrieve) {
        Status("No CD-ROM interface detected!");
        return false;
    }
    GetCDList(DriveList, CDInterface);
    if (static_cast<int>(Index) > static_cast<int>(DriveList.Count) - 1)
        return false;
    const bool noDisc = ReadTOC(DriveList, Index, Entry.Toc, CDInterface);
    if (noDisc)
        Status("No CD in CD/DVD drive!");
    Entry.DiscId = Hex8(CddbDiscId(Entry.Toc), false);
    DriveList.CurrentDrive = Index;
    return !noDisc;
}

bool TCddb::SelectDriveByLetter(char Letter)
{
    if (!InternalTOCRetrieve) {
        Status("No CD-ROM interface detected!");
        return false;
    }
    GetCDList(DriveList, CDInterface);
    const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(Letter)));
    for (int i = 0; i < DriveList.Count; ++i)
        if (std::toupper(static_cast<unsigned char>(DriveList.Drives[i].DriveLetter)) == wanted)
            return SelectDrive(static_cast<uint8_t>(i));
    Status("No CD/DVD drive found assigned with drive letter " + std::string(1, Letter) + ":");
    return false;
}

std::string TCddb::HelloPart() const
{
    return UrlEncode(HelloUserHost(EmailUser)) + "+" + UrlEncode(ClientName) + "+" + UrlEncode(ClientVersion);
}

void TCddb::StartReceiving()
{
    FReceivingMatches = false;
    FExactMatches = false;
    FReceivingEntry = false;
    FDropNoted = false;
    FNextMatch = FNextEntryLine = FNextSite = 0;
}

int TCddb::StartGet(const std::string &Url, const char *StatusText, int NewState)
{
    FRcvdStream->Clear();
    FHttp->RcvdStream = FRcvdStream.get();
    FHttp->URL = Url;
    // The state is that of the request from its first status on.
    State = NewState;
    StartReceiving();
    Status(StatusText);
    Exchange(Url + kLineTerm);
    try {
        FHttp->GetAsync();
        return 0;
    } catch (const std::exception &e) {
        State = 16;
        const auto *h = dynamic_cast<const EHttpException *>(&e);
        Status(std::string(kInternalGet) + " \"" + (h ? std::string(e.what()) : FHttp->ReasonPhrase) + "\"");
        return -1;
    }
}

int TCddb::Query()
{
    if (ServerType != HTTP) {
        Status("Selected server not an HTTP server");
        return -1;
    }
    const std::string url = "http://" + ServerAddr + ":" + ServerPort + ServerAdditionalAddr
                            + "?cmd=" + UrlEncode(BuildQueryCommand(Entry.Toc)) + "&hello=" + HelloPart()
                            + "&proto=" + std::to_string(CddbHttpProtocolLevel);
    return StartGet(url, "Querying CD", 6);
}

int TCddb::Read()
{
    if (State == 5) {
        Status("Can't perform a CDDB READ without a successful CDDB QUERY!");
        return -1;
    }
    if (ServerType != HTTP) {
        Status("Selected server not an HTTP server");
        return -1;
    }
    const std::string category = NetTrim(Entry.Category);
    const std::string discId = NetTrim(Entry.DiscId);
    if (!IsCddbCategory(category) || !IsCddbDiscId(discId)) {
        Status("No valid category and disc id to read: " + Quoted(category + " " + discId));
        return -1;
    }
    const std::string url = "http://" + ServerAddr + ":" + ServerPort + ServerAdditionalAddr + "?cmd=cddb+read+"
                            + UrlEncode(category) + "+" + UrlEncode(discId) + "&hello=" + HelloPart()
                            + "&proto=" + std::to_string(CddbHttpProtocolLevel);
    return StartGet(url, "Reading CD info", 11);
}

void TCddb::HttpRequestDone(THttpClient *, THttpRequest, uint16_t Error)
{
    // Taken out at once: the next request, a POST by a caller too, starts
    // with an empty buffer.
    const bool overflowed = FRcvdStream->Overflowed();
    const std::string document = FRcvdStream->Data();
    FRcvdStream->Clear();
    // A reply past the cap ends the request with an error of its own: say
    // which limit it was.
    if (overflowed) {
        State = State == 11 ? 13 : 16;
        Status("CDDB reply too long: more than " + std::to_string(MaxCddbReplyBytes) + " bytes");
        return;
    }
    if (Error != 0) {
        const bool post = State == 14;
        State = 16;
        Status(std::string(post ? kInternalPost : kInternalGet) + " \"" + FHttp->ReasonPhrase + "\"");
        return;
    }
    if (FHttp->StatusCode >= 400) {
        State = 16;
        Status("CDDB server error: HTTP " + std::to_string(FHttp->StatusCode) + " " + Quoted(FHttp->ReasonPhrase));
        return;
    }
    // The reply is the program's text from here on: nothing stores or hands
    // on the server's bytes.
    std::vector<std::string> lines = SplitReplyLines(document);
    for (std::string &line : lines)
        line = CddbTextToUtf8(line, CddbHttpProtocolLevel);
    const int start = State;
    // Each line is logged, then handed to the reply handler of the request;
    // query and read stop at the line that settles them.
    auto feed = [&](void (TCddb::*reply)(const std::string &), bool untilSettled) {
        for (const std::string &line : lines) {
            Exchange(line);
            (this->*reply)(line);
            if (untilSettled && State != start)
                break;
        }
    };
    switch (start) {
    case 6:
        feed(&TCddb::QueryReply, true);
        if (State == 6) {
            State = 5;
            Status("CDDB query reply ended early");
        }
        break;
    case 11:
        feed(&TCddb::ReadReply, true);
        if (State == 11) {
            State = 13;
            Status("CDDB entry ended early");
        }
        // Only a whole entry is taken apart: a failed read leaves no half data.
        if (State == 12)
            ParseEntry();
        break;
    case 14:
        feed(&TCddb::SubmitReply, false);
        break;
    case 7:
        feed(&TCddb::SitesReply, false);
        break;
    default:
        break;
    }
}

void TCddb::ChooseMatch(bool Exact)
{
    int count = 0;
    while (count < MaxCddbMatches && !Matches[static_cast<size_t>(count)].empty())
        ++count;
    if (count == 0) {
        State = 5;
        Status("The server sent an empty match list");
        return;
    }
    State = 4;
    Status("Received matches");
    int rightOne = 0;
    if (OnMatch)
        OnMatch(this, Matches, rightOne);
    else if (!Exact) {
        // Nobody to choose among inexact matches: none is taken.
        rightOne = -1;
        Status("Match choice cancelled");
    }
    if (rightOne == -1) {
        State = 5;
        return;
    }
    if (rightOne < 0 || rightOne >= count) {
        State = 5;
        Status("The chosen match is not in the list");
        return;
    }
    const std::string &m = Matches[static_cast<size_t>(rightOne)];
    const size_t space = m.find(' ');
    const std::string category = m.substr(0, space == std::string::npos ? m.size() : space);
    const std::string discId = space == std::string::npos ? std::string() : m.substr(space + 1, 8);
    if (!IsCddbCategory(NetTrim(category)) || !IsCddbDiscId(discId)
        || (m.size() > space + 9 && m[space + 9] != ' ')) {
        State = 5;
        Status("The chosen match has no valid category and disc id: " + Quoted(m));
        return;
    }
    Entry.Category = category + " ";
    Entry.DiscId = discId;
    State = 3;
}

void TCddb::QueryReply(const std::string &Line)
{
    if (CodeIs(Line, {200, 210, 211, 202, 403, 409})) {
        switch (CodeOf(Line)) {
        case 200: {
            State = 3;
            Status("Found exact match");
            Matches.fill(std::string());
            FNextMatch = 0;
            Matches[0] = NetTrim(Line.size() > 4 ? Line.substr(4) : std::string());
            const std::string category = NetTrim(Matches[0].substr(0, Matches[0].find(' ')));
            if (!IsCddbCategory(category)) {
                State = 5;
                Status("The match has no valid category: " + Quoted(Matches[0]));
                return;
            }
            int rightOne = 0;
            if (OnMatch)
                OnMatch(this, Matches, rightOne);
            if (rightOne == -1) {
                State = 5;
                return;
            }
            if (rightOne != 0) {
                State = 5;
                Status("The chosen match is not in the list");
                return;
            }
            Entry.Category = category;
            Entry.DiscId = Hex8(CddbDiscId(Entry.Toc), true);
            return;
        }
        case 210:
        case 211:
            Status(CodeOf(Line) == 210 ? "Found exact matches" : "Found inexact matches");
            Matches.fill(std::string());
            FNextMatch = 0;
            Status("OK, receiving matches");
            FReceivingMatches = true;
            FExactMatches = CodeOf(Line) == 210;
            return;
        case 202:
            State = 5;
            Status("No match found");
            return;
        case 403:
            State = 5;
            Status("Database entry is corrupt");
            return;
        case 409:
            State = 5;
            HandshakeDone = false;
            Status("No handshake");
            return;
        }
    }
    if (!Line.empty() && std::isdigit(static_cast<unsigned char>(Line[0]))) {
        const int code = CodeOf(Line);
        if (code >= 400 || code < 0) // a refusal or a garbled code ends the query
            State = 5;
        GeneralReply(Line);
        return;
    }
    if (Line == ".") {
        if (!FReceivingMatches) {
            State = 5;
            Status("Unexpected end of the CDDB reply");
            return;
        }
        FReceivingMatches = false;
        ChooseMatch(FExactMatches);
        return;
    }
    if (!FReceivingMatches) {
        State = 5;
        Status("Unrecognised CDDB reply line: " + Quoted(Line));
        return;
    }
    if (NetTrim(Line).empty())
        return; // a blank line is no match
    while (FNextMatch < Matches.size() && !Matches[FNextMatch].empty())
        ++FNextMatch;
    if (FNextMatch < Matches.size()) {
        Matches[FNextMatch] = NetTrim(Line);
        return;
    }
    if (!FDropNoted) {
        FDropNoted = true;
        Status("More than 100 matches: the further ones are dropped");
    }
}

void TCddb::ReadReply(const std::string &Raw)
{
    // An entry line keeps its blanks at the end: a value continued on the
    // next line may end in one ("Skladba 3 " + "- piesne").
    const std::string Line = NetTrim(Raw);
    if (CodeIs(Line, {210, 401, 402, 403, 409})) {
        switch (CodeOf(Line)) {
        case 210:
            Status("OK, CDDB database entry follows");
            EntryLines.fill(std::string());
            FNextEntryLine = 0;
            FReceivingEntry = true;
            return;
        case 401:
            State = 13;
            Status("Specified CDDB entry not found");
            return;
        case 403:
            State = 13;
            Status("Database entry is corrupt");
            return;
        case 409:
            State = 13;
            HandshakeDone = false;
            Status("No handshake");
            return;
        default: // 402: recognised, nothing to do
            return;
        }
    }
    if (Line == ".") {
        if (!FReceivingEntry || EntryLines[0].empty()) {
            State = 13;
            Status("The server sent an empty CDDB entry");
            return;
        }
        FReceivingEntry = false;
        State = 12;
        Status("Entry read");
        return;
    }
    if (!Line.empty() && (Line[0] == '#' || Line[0] == 'T' || Line[0] == 'D' || Line[0] == 'E' || Line[0] == 'P')) {
        while (FNextEntryLine < EntryLines.size() && !EntryLines[FNextEntryLine].empty())
            ++FNextEntryLine;
        if (FNextEntryLine < EntryLines.size()) {
            EntryLines[FNextEntryLine] = Raw.substr(Raw.find(Line[0]));
            return;
        }
        if (!FDropNoted) {
            FDropNoted = true;
            Status("The CDDB entry has more than 512 lines: the further ones are dropped");
        }
        return;
    }
    State = 13;
    GeneralReply(Line);
}

void TCddb::GeneralReply(const std::string &Line)
{
    const int code = CodeOf(Line);
    if (code < 0) {
        Status("Unrecognised CDDB reply line: " + Quoted(Line));
        return;
    }
    switch (code) {
    case 402: Status("Server error"); return;
    case 408: Status("CGI environment error"); return;
    case 500: Status("Command syntax error, command unknown, command unimplemented"); return;
    case 530:
        State = -1;
        HandshakeDone = false;
        Status("Server error, server timeout");
        return;
    default: break;
    }
    static const char *const kFirst[] = {"", "Informative message", "Command OK", "Command OK so far",
                                         "Command OK, but cannot be performed",
                                         "Command unimplemented, incorrect, or program error"};
    static const char *const kSecond[] = {", ready for further commands", ", more server-to-client output follows",
                                          ", more client-to-server input follows", ", connection will close"};
    const int first = code / 100, second = code / 10 % 10;
    std::string text = first >= 1 && first <= 5 ? kFirst[first] : "";
    if (second <= 3)
        text += kSecond[second];
    if (second == 3) {
        State = -1;
        HandshakeDone = false;
    }
    if (text.empty())
        text = "Unrecognised CDDB reply code " + std::to_string(code);
    Status(text);
}

void TCddb::ParseEntry()
{
    const std::string category = Entry.Category;
    Entry = CddbEntry();
    try {
        SelectDrive(DriveList.CurrentDrive);
    } catch (const std::exception &e) {
        Status(e.what());
    }
    Entry.Category = category;

    // Continuation lines are joined first; escapes are decoded once, after.
    std::vector<std::string> titles;
    std::array<std::string, MaxCddbTracks> tracks, extTracks;
    std::string extData;
    for (const std::string &line : EntryLines) {
        if (line.empty())
            break;
        const std::string key = Upper(line);
        if (StartsWith(key, "# REVISION: ")) {
            const std::string v = NetTrim(line.substr(12));
            int n = 0;
            bool ok = !v.empty() && v.size() <= 9;
            for (char c : v)
                ok = ok && std::isdigit(static_cast<unsigned char>(c));
            if (ok) {
                for (char c : v)
                    n = n * 10 + (c - '0');
                Entry.Revision = n;
            }
        } else if (StartsWith(key, "#") || StartsWith(key, "DISCID")) {
            continue;
        } else if (StartsWith(key, "DTITLE")) {
            titles.push_back(ValueAfterEquals(line));
        } else if (StartsWith(key, "DYEAR")) {
            Entry.Year = UnescapeEntryText(NetTrim(ValueAfterEquals(line)));
        } else if (StartsWith(key, "DGENRE")) {
            Entry.Genre = UnescapeEntryText(NetTrim(ValueAfterEquals(line)));
        } else if (StartsWith(key, "TTITLE")) {
            size_t at = 0;
            const int n = TrackNumberOf(line, 6, at);
            if (n >= 0 && n < MaxCddbTracks)
                tracks[static_cast<size_t>(n)] += line.substr(at);
        } else if (StartsWith(key, "EXTD")) {
            extData += ValueAfterEquals(line);
        } else if (StartsWith(key, "EXTT")) {
            size_t at = 0;
            const int n = TrackNumberOf(line, 4, at);
            if (n >= 0 && n < MaxCddbTracks)
                extTracks[static_cast<size_t>(n)] += line.substr(at);
        }
    }
    // A value continued over several lines is joined as its fragments stand
    // (a blank at the end of one is part of the text) and trimmed once
    // joined; escapes are decoded last, so an escaped line break stays.
    auto value = [](const std::string &joinedText) { return UnescapeEntryText(NetTrim(joinedText)); };
    std::string joined;
    for (const std::string &t : titles)
        joined += t;
    const size_t slash = joined.find(" / ");
    if (slash != std::string::npos) {
        Entry.Artist = value(joined.substr(0, slash));
        Entry.Title = value(joined.substr(slash + 3));
    } else if (!titles.empty()) {
        // Without " / " the first line names the artist and later ones the title.
        Entry.Artist = value(titles.front());
        std::string rest;
        for (size_t i = 1; i < titles.size(); ++i)
            rest += titles[i];
        Entry.Title = value(rest);
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        Entry.TrackTitles[i] = value(tracks[i]);
        Entry.ExtTracks[i] = value(extTracks[i]);
    }
    Entry.ExtData = value(extData);
}

// ---------------------------------------------------------------- protocol over TCP

bool TCddb::WaitsOnSocket(int State)
{
    return State == 0 || State == 1 || State == 6 || State == 7 || State == 9 || State == 11;
}

void TCddb::FailSocketWait(const std::string &Text)
{
    State = State == 6 ? 5 : State == 11 ? 13 : -1;
    if (State == -1)
        HandshakeDone = false;
    FReceivingMatches = FReceivingEntry = false;
    FSocketReplyBytes = 0;
    Status(Text);
}

void TCddb::SocketChangeState(TCustomNetSocket *, TSocketState, TSocketState NewState)
{
    // The limit runs from the start of the connection to its end.
    if (NewState == wsOpened) {
        FSocketLevel = 1; // where every CDDBP connection starts
        FSocketReplyBytes = 0;
        if (FTimeLimit > 0)
            FSocketTimer->start(FTimeLimit);
    } else if (NewState == wsClosed) {
        FSocketTimer->stop();
    }
}

void TCddb::SocketLimitExpired()
{
    if (FSocket->State() == wsClosed)
        return;
    const std::string limit = NetDurationText(FTimeLimit);
    if (FSocket->State() != wsConnected) {
        State = -1;
        Status("No connection to the CDDB server within " + limit);
    } else if (WaitsOnSocket(State)) {
        FailSocketWait("No complete CDDB reply within " + limit + ": the connection is closed");
    } else {
        Status("The CDDB connection is closed: it was open for " + limit);
    }
    FSocket->Abort();
}

void TCddb::SocketLineLimitExceeded(TCustomNetSocket *, int RcvdLength, bool &ClearData)
{
    ClearData = true;
    if (!WaitsOnSocket(State))
        return;
    FailSocketWait("CDDB reply line too long: " + std::to_string(RcvdLength) + " bytes without a line end");
    FSocket->Abort();
}

void TCddb::SocketSessionConnected(TCustomNetSocket *, uint16_t)
{
    State = 0;
}

void TCddb::SocketSessionClosed(TCustomNetSocket *, uint16_t)
{
    FSocketTimer->stop();
    // A close while a reply is awaited cuts it short: that is a failure, not
    // the end of a lookup. A failed query or read keeps its state.
    if (WaitsOnSocket(State))
        FailSocketWait("The CDDB connection closed before the reply ended");
    else if (State != 5 && State != 13)
        State = -1;
}

void TCddb::SocketDataAvailable(TCustomNetSocket *, uint16_t)
{
    std::string raw = FSocket->ReceiveStr();
    FSocketReplyBytes += static_cast<qint64>(raw.size());
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
        raw.pop_back();
    raw = CddbTextToUtf8(raw, FSocketLevel);
    const std::string line = NetTrim(raw);
    Exchange(line);
    const int before = State;
    if (WaitsOnSocket(State) && FSocketReplyBytes > MaxCddbReplyBytes) {
        FailSocketWait("CDDB reply too long: more than " + std::to_string(MaxCddbReplyBytes) + " bytes");
        FSocket->Abort();
        return;
    }
    switch (State) {
    case 0: BannerReply(line); break;
    case 1: HandshakeReply(line); break;
    case 7: SitesReply(line); break;
    case 9: ProtoReply(line); break;
    case 6: QueryReply(line); break;
    case 11: ReadReply(raw); break;
    case 15:
        Status("Connection closed");
        State = -1;
        break;
    default: break;
    }
    if (State != before)
        FSocketReplyBytes = 0; // the next reply counts from its own start
}

void TCddb::BannerReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 18; HandshakeDone = false; Status("OK, read/write allowed"); return;
    case 201: State = 17; HandshakeDone = false; Status("OK, read only"); return;
    case 432: State = -1; HandshakeDone = false; Status("No connections allowed: permission denied"); return;
    case 433:
        State = -1;
        HandshakeDone = false;
        Status("No connections allowed: X users allowed, Y currently active");
        return;
    case 434: State = -1; HandshakeDone = false; Status("No connections allowed: system load too high"); return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::HandshakeReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 2; HandshakeDone = true; Status("Handshake successful"); return;
    case 402: State = 2; HandshakeDone = true; Status("Already shook hands"); return;
    case 431:
        State = -1;
        HandshakeDone = false;
        Status("Handshake not successful, closing connection");
        return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::SitesReply(const std::string &Line)
{
    if (Line == ".") {
        State = 8;
        Status("Got sites");
        return;
    }
    const int code = Line.size() == 3 || (Line.size() > 3 && Line[3] == ' ') ? CodeOf(Line) : -1;
    if (code == 210) {
        Status("OK, receiving sites");
        Sites.fill(CddbSite());
        FNextSite = 0;
        return;
    }
    if (code == 401) {
        Status("No site information available");
        State = 19;
        return;
    }
    if (code >= 0) {
        GeneralReply(Line);
        return;
    }
    while (FNextSite < Sites.size() && !Sites[FNextSite].Site.empty())
        ++FNextSite;
    if (FNextSite < Sites.size()) { // further sites are dropped
        CddbSite &site = Sites[FNextSite];
        // Cut at single blanks: two blanks in a row make an empty field.
        std::string fields[6];
        size_t at = 0;
        for (int f = 0; f < 6; ++f) {
            const size_t sp = Line.find(' ', at);
            fields[f] = Line.substr(at, sp == std::string::npos ? std::string::npos : sp - at);
            at = sp == std::string::npos ? Line.size() : sp + 1;
        }
        site.Site = fields[0];
        std::string proto = fields[1];
        for (char &c : proto)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        site.IsHttp = proto == "http";
        site.Port = 0;
        if (!fields[2].empty() && fields[2].size() <= 5
            && std::all_of(fields[2].begin(), fields[2].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            site.Port = std::stoi(fields[2]);
        site.Address = fields[3];
        site.Latitude = fields[4];
        site.Longitude = fields[5];
        site.Description = at < Line.size() ? Line.substr(at) : std::string();
        if (site.Site.empty())
            site.Site = " "; // a filled slot keeps a non-empty name
        return;
    }
}

void TCddb::ProtoReply(const std::string &Line)
{
    // The level the server confirms ends the line ("... now: 6",
    // "... already 6"); the replies that follow are decoded by it.
    auto confirmed = [&] {
        size_t end = Line.find_last_of("0123456789");
        size_t begin = end;
        while (begin != std::string::npos && begin > 3 && std::isdigit(static_cast<unsigned char>(Line[begin - 1])))
            --begin;
        if (end != std::string::npos && end > 3 && end - begin < 2)
            FSocketLevel = std::stoi(Line.substr(begin, end - begin + 1));
        return std::to_string(FSocketLevel);
    };
    switch (CodeOf(Line)) {
    case 201: State = 10; Status("OK, protocol level now: " + confirmed()); return;
    case 501: State = 0; Status("Illegal protocol level"); return;
    case 502: State = 10; Status("Protocol level already " + confirmed()); return;
    default: GeneralReply(Line); return;
    }
}

// ---------------------------------------------------------------- submissions

void TCddb::HttpCommand(THttpClient *, std::string &S)
{
    if (State != 14 || !StartsWith(S, "Content-Length:"))
        return;
    S += std::string(kLineTerm) + "Category: " + OneLine(NetTrim(Entry.Category)) + kLineTerm + "Discid: "
         + OneLine(Entry.DiscId) + kLineTerm + "User-Email: " + OneLine(EmailUser) + kLineTerm
         + "Submit-Mode: " + (SubmissionType == TEST ? "test" : "submit") + kLineTerm
         + "X-Cddbd-Note: " + EncodeHeaderText(FNoteToUser);
}

void TCddb::SubmitReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 22; Status("OK, submission has been sent."); return;
    case 500: State = 23; Status("Missing required header information."); return;
    case 501: State = 23; Status("Invalid header information."); return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::SmtpRequestDone(TCustomSmtpClient *, TSmtpRequest RqType, uint16_t Error)
{
    const char *name = RqType == smtpRqConnect ? "Connect"
                       : RqType == smtpRqHelo  ? "Helo"
                       : RqType == smtpRqMail  ? "Mail"
                       : RqType == smtpRqQuit  ? "Quit"
                                               : nullptr;
    if (!name)
        return;
    if (Error != 0) {
        State = 21;
        Status(std::string("CDDB Component Internal Error: TSmtpClient.") + name + " failed because of error \""
               + FSmtp->ErrorMessage() + "\"");
        return;
    }
    try {
        switch (RqType) {
        case smtpRqConnect: FSmtp->Helo(); break;
        case smtpRqHelo: FSmtp->Mail(); break;
        case smtpRqMail: FSmtp->Quit(); break;
        case smtpRqQuit: Status("OK, submission has been sent."); break;
        default: break;
        }
    } catch (const std::exception &e) {
        State = 21;
        Status(std::string("CDDB Component Internal Error: TSmtpClient.") + name + " failed because of error \""
               + e.what() + "\"");
    }
}

void TCddb::SmtpDisplay(TCustomSmtpClient *, const std::string &Msg)
{
    Exchange(Msg);
}

void TCddb::SmtpHeaderLine(TCustomSmtpClient *, std::string &Msg, int)
{
    if (Msg.size() >= 5 && Upper(Msg.substr(0, 5)) == "FROM:")
        Msg += "\r\nX-Cddbd-Note: " + EncodeHeaderText(FNoteToUser);
}
