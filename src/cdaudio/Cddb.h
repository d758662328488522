#pragma once
// The CDDB client component: turns the table of contents of an audio CD into
// a disc id, asks a CDDB server over HTTP which entries match, lets its owner
// choose one, reads that entry and splits it into disc title, artist, year,
// genre and track titles. It also handles the replies of the CDDB protocol
// over TCP and of an entry submission by HTTP POST or by mail, whose requests
// a caller drives through the owned socket, HTTP and SMTP clients.
//
// It talks to its owner through three events: status texts (English), every
// raw protocol line, and the choice among matches. Server answers never raise.
#include <QDeadlineTimer>
#include <QIODevice>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/AspiCD.h"
#include "net/HttpClient.h"
#include "net/NetSocket.h"
#include "net/SmtpClient.h"

enum TSubmissionType { TEST, SUBMIT };
enum TServerType { CDDBP, HTTP };

inline constexpr int MaxCddbMatches = 100;
inline constexpr int MaxCddbEntryLines = 512;
inline constexpr int MaxCddbSites = 100;
inline constexpr int MaxCddbTracks = 100;
// Most bytes of one server reply (far above any real entry): a longer reply
// ends the request as a failure.
inline constexpr qint64 MaxCddbReplyBytes = 1 << 20;
// The protocol level asked for over HTTP: level 6 replies are UTF-8, so
// titles keep every letter (at level 5 the server sends ISO-8859-1 and puts
// "?" for each letter outside it).
inline constexpr int CddbHttpProtocolLevel = 6;
// The time limit of one lookup, in ms: over HTTP the query, the choice
// among its matches and the read together; over CDDBP the connection.
inline constexpr int CddbDefaultTimeLimit = 2 * 60 * 1000;

inline constexpr const char *CddbDefaultServer = "gnudb.gnudb.org";

struct CddbEntry {
    std::string DiscId;
    std::string Artist, Title, Year, Genre, ExtData;
    std::array<std::string, MaxCddbTracks> TrackTitles;
    std::array<std::string, MaxCddbTracks> ExtTracks;
    std::string Category;
    int32_t Revision = 0;
    CdToc Toc;
};

struct CddbSite {
    std::string Site;
    std::string Address;
    bool IsHttp = false;
    int32_t Port = 0;
    std::string Latitude, Longitude, Description;
};

class TCddb;
using TMatchArray = std::array<std::string, MaxCddbMatches>;
using TStatusEvent = std::function<void(TCddb *Sender, const std::string &Status)>;
using TMatchEvent = std::function<void(TCddb *Sender, const TMatchArray &Matches, int &RightOne)>;

// The received document: kept up to MaxCddbReplyBytes; a write beyond it is
// refused (short), which ends the HTTP request.
class TCddbReplyBuffer : public QIODevice {
public:
    TCddbReplyBuffer() { open(QIODevice::ReadWrite); }
    const std::string &Data() const { return data_; }
    bool Overflowed() const { return overflow_; }
    void Clear()
    {
        data_.clear();
        overflow_ = false;
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return 0; }
    qint64 writeData(const char *data, qint64 len) override;

private:
    std::string data_;
    bool overflow_ = false;
};

class TCddb {
public:
    TCddb();
    ~TCddb();
    TCddb(const TCddb &) = delete;
    TCddb &operator=(const TCddb &) = delete;

    // Published properties.
    bool InternalTOCRetrieve = false;
    TCDInterface CDInterface = cdiAutoDetect;
    std::string LocalCDDBPath = ".\\";
    std::string LocalCDDBDLLPath = ".\\LocalCDDB.dll";
    const std::string &NoteToUser() const { return FNoteToUser; }
    // Keeps the first 70 characters; line breaks become blanks, as the note
    // travels in a header line.
    void SetNoteToUser(const std::string &Note);
    TStatusEvent OnStatusMessage;
    TStatusEvent OnDataExchange;
    TMatchEvent OnMatch;
    std::string EmailUser;
    std::string EmailSubmit;
    std::string EmailTestSubmit;
    std::string ServerAddr;
    std::string ServerAdditionalAddr = "/~cddb/cddb.cgi";
    std::string ServerPort;
    TServerType ServerType = CDDBP;
    std::string ServerLatitude, ServerLongitude, ServerDescription;
    const std::string &ProxyAddress() const { return FHttp->Proxy; }
    void SetProxyAddress(const std::string &V) { FHttp->Proxy = V; }
    const std::string &ProxyPort() const { return FHttp->ProxyPort; }
    void SetProxyPort(const std::string &V) { FHttp->ProxyPort = V; }
    const std::string &ProxyUsername() const { return FHttp->ProxyUsername; }
    void SetProxyUsername(const std::string &V) { FHttp->ProxyUsername = V; }
    const std::string &ProxyPassword() const { return FHttp->ProxyPassword; }
    void SetProxyPassword(const std::string &V) { FHttp->ProxyPassword = V; }
    TSubmissionType SubmissionType = TEST;
    std::string MailServerAddress;
    const std::string &MailServerPort() const { return FSmtp->Port; }
    void SetMailServerPort(const std::string &V) { FSmtp->Port = V; }
    std::string ClientName = "TCddb";
    std::string ClientVersion = "v0.1.75 Release";
    std::string ClientComments;
    // Every lookup ends within this many milliseconds (0: no limit): over
    // HTTP from the start of the query to the end of the read, the time
    // its owner takes to choose a match included (a read started later is
    // refused); over CDDBP from the connect to the close.
    int TimeLimit() const { return FTimeLimit; }
    void SetTimeLimit(int Ms);
    // The protocol level of the CDDBP connection (1 at its start, then as
    // the server confirmed it); replies up to level 5 are ISO-8859-1.
    int SocketProtocolLevel() const { return FSocketLevel; }

    // Run-time state.
    CdDriveList DriveList;
    CddbEntry Entry;
    TMatchArray Matches;
    std::array<std::string, MaxCddbEntryLines> EntryLines;
    std::array<CddbSite, MaxCddbSites> Sites;
    bool HandshakeDone = false;
    // The protocol state: -1 idle, 3 match chosen, 4 choice pending, 5 query
    // failed, 6 query sent, 11 read sent, 12 entry read, 13 read failed,
    // 16 HTTP request failed; the protocol over TCP and the submissions add
    // 0 .. 2, 7 .. 10, 14, 15, 17 .. 23. A caller that sends a request over
    // the owned socket or HTTP client sets the state it waits in.
    int State = -1;

    // Selects a CD drive by its place in the drive list, reads its table of
    // contents and computes the disc id; false when there is no disc.
    bool SelectDrive(uint8_t Index);
    bool SelectDriveByLetter(char Letter);
    // Starts the HTTP query of the selected disc / the read of the chosen
    // match: 0 started, -1 not.
    int Query();
    int Read();
    void ParseEntry();
    // Gives up the lookup under way, over HTTP or over the CDDBP connection:
    // its request is aborted and its connection closed, so the next query
    // starts at once; it reports nothing more. The component is left idle (-1).
    void Cancel();

    // The owned transport, for callers that drive the protocol over TCP or
    // a submission.
    TNetSocket &Socket() { return *FSocket; }
    THttpClient &Http() { return *FHttp; }
    TSmtpClient &Smtp() { return *FSmtp; }
    QIODevice &SendStream() { return *FSendStream; }

    // Handlers of the owned components.
    void HttpRequestDone(THttpClient *Sender, THttpRequest RqType, uint16_t Error);
    void HttpCommand(THttpClient *Sender, std::string &S);
    void SocketDataAvailable(TCustomNetSocket *Sender, uint16_t Error);
    void SocketSessionConnected(TCustomNetSocket *Sender, uint16_t Error);
    void SocketSessionClosed(TCustomNetSocket *Sender, uint16_t Error);
    void SmtpRequestDone(TCustomSmtpClient *Sender, TSmtpRequest RqType, uint16_t Error);
    void SmtpDisplay(TCustomSmtpClient *Sender, const std::string &Msg);
    void SmtpHeaderLine(TCustomSmtpClient *Sender, std::string &Msg, int Size);
    void SocketLineLimitExceeded(TCustomNetSocket *Sender, int RcvdLength, bool &ClearData);
    void SocketChangeState(TCustomNetSocket *Sender, TSocketState OldState, TSocketState NewState);

private:
    void Status(const std::string &Text);
    void Exchange(const std::string &Line);
    std::string HelloPart() const;
    int StartGet(const std::string &Url, const char *StatusText, int NewState);
    void StartLookup();
    // The reply of the request that ended; LookupOver: the lookup's time
    // ran out while it was under way.
    void HttpReply(uint16_t Error, bool LookupOver);
    std::string LookupOverText() const;
    void QueryReply(const std::string &Line);
    // `Bytes`: the line as it came over CDDBP, kept so that the entry's
    // values are decoded whole once it ended; none over HTTP, whose lines
    // come decoded with the rest of the document.
    void ReadReply(const std::string &Line, const std::string *Bytes = nullptr);
    void GeneralReply(const std::string &Line);
    void BannerReply(const std::string &Line);
    void HandshakeReply(const std::string &Line);
    void SitesReply(const std::string &Line);
    void ProtoReply(const std::string &Line);
    void SubmitReply(const std::string &Line);
    // Takes the chosen match (RightOne) after a list; false when refused.
    void ChooseMatch(bool Exact);
    void StartReceiving();
    // A CDDBP reply is awaited in this state (banner, handshake, sites,
    // protocol level, query, read).
    static bool WaitsOnSocket(int State);
    // Ends the awaited CDDBP reply as a failure: a query fails with 5, a
    // read with 13, anything else leaves the component idle (-1).
    void FailSocketWait(const std::string &Text);
    void SocketLimitExpired();

    std::unique_ptr<TNetSocket> FSocket;
    std::unique_ptr<TSmtpClient> FSmtp;
    std::unique_ptr<THttpClient> FHttp;
    std::unique_ptr<TCddbReplyBuffer> FRcvdStream;
    std::unique_ptr<QIODevice> FSendStream;
    std::string FNoteToUser;
    bool FReceivingMatches = false;
    bool FExactMatches = false;
    bool FReceivingEntry = false;
    bool FDropNoted = false;
    int FTimeLimit = CddbDefaultTimeLimit;
    std::unique_ptr<QTimer> FSocketTimer;
    // The end of the HTTP lookup under way: a read continues the lookup of
    // the query that chose its match.
    QDeadlineTimer FLookupDeadline;
    bool FLookupRunning = false;
    // The bytes of the entry lines read over CDDBP, by their slot.
    std::vector<std::pair<size_t, std::string>> FEntryBytes;
    int FSocketLevel = 1;
    qint64 FSocketReplyBytes = 0;
    // The first slots that may be free: filled slots come first.
    size_t FNextMatch = 0, FNextEntryLine = 0, FNextSite = 0;
};

// Helpers of the protocol.
uint32_t CddbDiscId(const CdToc &Toc);
int DigitSum(int N);
std::string BuildQueryCommand(const CdToc &Toc);
std::string UrlEncode(const std::string &S);
std::string HelloUserHost(const std::string &Email);
std::vector<std::string> SplitReplyLines(const std::string &Document);
size_t FirstSpacePos(const std::string &S);
std::string UnescapeEntryText(const std::string &S);
// The program's text (UTF-8) of a line sent at protocol level `Level`: up
// to level 5 ISO-8859-1; from level 6 UTF-8, and bytes that are no UTF-8
// there are read as ISO-8859-1 rather than stored as they came.
std::string CddbTextToUtf8(const std::string &Line, int Level);
// The program's text of an entry's lines, as CddbTextToUtf8 but with the
// value of each key ("TTITLE3") decoded once over all its lines: a server
// cuts long values by bytes, so a letter may start on one line and end on
// the next. Each line keeps its part, its cut moved back to where the letter
// starts.
std::vector<std::string> CddbEntryTextToUtf8(const std::vector<std::string> &Lines, int Level);
// A category word of the database ("rock", "misc" ...).
bool IsCddbCategory(const std::string &Word);
// Eight hexadecimal digits.
bool IsCddbDiscId(const std::string &Text);
