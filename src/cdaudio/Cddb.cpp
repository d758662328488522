// The CDDB component: disc ids and query texts, its setup and drive choice, and the HTTP query and read.
#include "cdaudio/Cddb.h"
#include "cdaudio/CddbInternal.h"

#include "net/NetSockBuf.h"
#include "util/TextCodec.h"

#include <QBuffer>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <map>

namespace {

const char *const kInternalGet = "CDDB Component Internal Error: THttpClient.GetAsync failed because of error";
const char *const kInternalPost = "CDDB Component Internal Error: THttpClient.PostAsync failed because of error";

} // namespace

namespace cddbtext {

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

} // namespace cddbtext

using cddbtext::Hex8;
using cddbtext::kLineTerm;
using cddbtext::OneLine;
using cddbtext::Quoted;

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

std::vector<std::string> CddbEntryTextToUtf8(const std::vector<std::string> &Lines, int Level)
{
    std::vector<std::string> out(Lines.size());
    std::vector<size_t> eqs(Lines.size()); // where each line's "=" stands
    std::map<std::string, std::vector<size_t>> linesOfKey;
    for (size_t i = 0; i < Lines.size(); ++i) {
        eqs[i] = Lines[i].find('=');
        if (eqs[i] == std::string::npos)
            out[i] = CddbTextToUtf8(Lines[i], Level);
        else
            linesOfKey[cddbtext::Upper(NetTrim(Lines[i].substr(0, eqs[i])))].push_back(i);
    }
    for (const auto &[key, at] : linesOfKey) {
        std::string joined;
        for (size_t i : at)
            joined.append(Lines[i], eqs[i] + 1);
        const bool utf8 = Level >= 6 && IsValidUtf8(joined);
        std::string carried; // the start of a letter cut off the line before
        for (size_t k = 0; k < at.size(); ++k) {
            const std::string &line = Lines[at[k]];
            const size_t eq = eqs[at[k]];
            std::string value = line.substr(eq + 1);
            if (utf8) {
                value.insert(0, carried);
                carried.clear();
                // The last letter start; a letter cut short there goes on
                // with the next line (the joined value is whole, so only
                // the tail can be).
                size_t start = value.size();
                while (start > 0 && value.size() - start < 4
                       && (static_cast<unsigned char>(value[start - 1]) & 0xC0) == 0x80)
                    --start;
                char32_t cp;
                if (start > 0 && k + 1 < at.size() && DecodeUtf8Char(value, start - 1, cp) == 0) {
                    carried = value.substr(start - 1);
                    value.erase(start - 1);
                }
            } else {
                value = CddbTextToUtf8(value, 0);
            }
            out[at[k]] = CddbTextToUtf8(line.substr(0, eq + 1), Level) + value;
        }
    }
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

void TCddb::StartLookup()
{
    FLookupDeadline = FTimeLimit > 0 ? QDeadlineTimer(FTimeLimit, Qt::PreciseTimer) : QDeadlineTimer::Forever;
    FLookupRunning = true;
}

std::string TCddb::LookupOverText() const
{
    return "The CDDB lookup took too long: no complete reply within " + NetDurationText(FTimeLimit);
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
    FEntryBytes.clear();
    FNextMatch = FNextEntryLine = FNextSite = 0;
}

int TCddb::StartGet(const std::string &Url, const char *StatusText, int NewState)
{
    FRcvdStream->Clear();
    FHttp->RcvdStream = FRcvdStream.get();
    FHttp->URL = Url;
    // The request has what is left of the lookup's time.
    FHttp->RequestTimeout = FTimeLimit > 0 ? std::max<int>(1, static_cast<int>(FLookupDeadline.remainingTime())) : 0;
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
    StartLookup();
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
    // A read after the query that chose its match has what is left of the
    // lookup's time; any other read is a lookup of its own.
    if (!FLookupRunning || (State != 3 && State != 4))
        StartLookup();
    if (FTimeLimit > 0 && FLookupDeadline.hasExpired()) {
        FLookupRunning = false;
        State = 13;
        Status(LookupOverText());
        return -1;
    }
    return StartGet(url, "Reading CD info", 11);
}

void TCddb::Cancel()
{
    // Idle first: the close the abort brings then ends no awaited reply.
    State = -1;
    FLookupRunning = false;
    StartReceiving();
    FHttp->Abort();
    FRcvdStream->Clear();
    FHttp->RequestTimeout = FTimeLimit;
    if (FSocket->State() != wsClosed) {
        FSocket->Abort();
        HandshakeDone = false; // the next connection greets anew
    }
    FSocketReplyBytes = 0;
}

void TCddb::HttpRequestDone(THttpClient *, THttpRequest, uint16_t Error)
{
    const bool lookup = State == 6 || State == 11;
    const bool lookupOver = lookup && FLookupRunning && FTimeLimit > 0 && FLookupDeadline.hasExpired();
    // A caller's own request (a submission) has the whole limit again.
    FHttp->RequestTimeout = FTimeLimit;
    HttpReply(Error, lookupOver);
    // Only a query that chose a match leaves the lookup going.
    if (lookup)
        FLookupRunning = State == 3 || State == 4;
}

void TCddb::HttpReply(uint16_t Error, bool LookupOver)
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
        // The request had only what was left of the lookup's time: name the
        // lookup's limit, not that remainder.
        if (Error == WSAETIMEDOUT && LookupOver)
            Status(LookupOverText());
        else
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
    if (State == 11) {
        lines = CddbEntryTextToUtf8(lines, CddbHttpProtocolLevel);
    } else {
        for (std::string &line : lines)
            line = CddbTextToUtf8(line, CddbHttpProtocolLevel);
    }
    const int start = State;
    // Each line is logged, then handed to the reply handler of the request;
    // query and read stop at the line that settles them.
    auto feed = [&](auto reply, bool untilSettled) {
        for (const std::string &line : lines) {
            Exchange(line);
            reply(line);
            if (untilSettled && State != start)
                break;
        }
    };
    switch (start) {
    case 6:
        feed([this](const std::string &l) { QueryReply(l); }, true);
        if (State == 6) {
            State = 5;
            Status("CDDB query reply ended early");
        }
        break;
    case 11:
        feed([this](const std::string &l) { ReadReply(l); }, true);
        if (State == 11) {
            State = 13;
            Status("CDDB entry ended early");
        }
        // Only a whole entry is taken apart: a failed read leaves no half data.
        if (State == 12)
            ParseEntry();
        break;
    case 14:
        feed([this](const std::string &l) { SubmitReply(l); }, false);
        break;
    case 7:
        feed([this](const std::string &l) { SitesReply(l); }, false);
        break;
    default:
        break;
    }
}
