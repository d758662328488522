#pragma once
// HTTP/1.0 client component: one request at a time over an owned TNetSocket,
// everything driven by socket events and messages posted to its own window.
// The body goes to the caller's stream; OnRequestDone reports the end.
#include "net/NetSocket.h"

#include <QIODevice>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

enum THttpRequest { httpRqNone = 0, httpRqGet = 1, httpRqPost = 2, httpRqHead = 3 };
enum THttpState {
    httpStReady, httpStNotConnected, httpStConnected, httpStDnsLookup, httpStDnsLookupDone,
    httpStWaitingHeader, httpStWaitingBody, httpStAborting
};

// Codes of EHttpException, and error codes of OnRequestDone for replies that
// cannot be read (lookup, connect and connection failures use WinSock codes).
enum : uint16_t {
    httperrBusy = 1,
    httperrNothingToPost = 2,
    httperrBadValue = 3,          // CR, LF or NUL in a value that goes into a header line
    httperrLineTooLong = 4,
    httperrBadReply = 5,          // status line, length or location that cannot be read
    httperrTooManyRedirects = 6,
    httperrIncompleteHeader = 7,  // the server closed before the header ended
    httperrHandlerFailed = 8,     // an event handler raised while the reply was read
    httperrHeaderTooLarge = 9,    // more header lines or bytes than a reply may have
    httperrShortBody = 10,        // the server closed before Content-Length bytes arrived
    httperrBodyRefused = 11,      // RcvdStream took less than it was given
};
// A connect, idle or total time limit ends a request with WSAETIMEDOUT (10060).

class EHttpException : public std::runtime_error {
public:
    EHttpException(const std::string &Msg, uint16_t Code) : std::runtime_error(Msg), ErrorCode(Code) {}
    uint16_t ErrorCode;
};

// RFC 2045 Base64 without line breaks.
std::string Base64Encode(const std::string &S);
// Decodes Base64, ignoring characters outside the alphabet; stops at "=".
std::string Base64Decode(const std::string &S);
// The uuencode form of the same encoder: lines of at most 45 bytes, each a
// length character (length + 32) and the data in the alphabet from "`"
// (for 0) to "_", ended by LF; a short last group is filled with zero bits.
std::string UuEncode(const std::string &S);

// A header text with bytes outside ASCII as RFC 2047 encoded words (UTF-8,
// Base64, at most 75 characters each, separated by blanks); an ASCII text
// comes back unchanged. Text that is no UTF-8 is read as a stored text is.
std::string EncodeHeaderText(const std::string &Text);
// An address header ("Name <a@b>, c@d"): each display name outside ASCII
// as encoded words, a quoted one by its text (what the quotes hold may
// include "<" and ","); the addresses stay as they are. Text that is no
// UTF-8 is read as a stored text is, as a whole.
std::string EncodeHeaderAddresses(const std::string &Text);

// Resolves a reference (a redirect's location) against the absolute URL it
// was found under, as RFC 3986 section 5.2 does: "./x", "../x", "?q", "//host/x"
// and absolute URLs; dot segments are removed and the fragment is dropped.
std::string ResolveURL(const std::string &Base, const std::string &Ref);

// Splits a URL into its parts; Path is also the base for "./" and "../" forms.
void ParseURL(const std::string &URL, std::string &Proto, std::string &User, std::string &Pass,
              std::string &Host, std::string &Port, std::string &Path);

class THttpClient;
using THttpNotify = std::function<void(THttpClient *Sender)>;
using TOnCommand = std::function<void(THttpClient *Sender, std::string &S)>;
using THttpRequestDone = std::function<void(THttpClient *Sender, THttpRequest RqType, uint16_t Error)>;
using TDocDataEvent = std::function<void(THttpClient *Sender, const char *Buffer, int Len)>;
using TCookieRcvdEvent = std::function<void(THttpClient *Sender, const std::string &Data, bool &Accept)>;
using TBeforeHeaderSendEvent =
    std::function<void(THttpClient *Sender, const std::string &Method, std::vector<std::string> &Headers)>;
using THttpDataAvailable = std::function<void(THttpClient *Sender, uint16_t Error)>;

class THttpClient {
public:
    THttpClient();
    virtual ~THttpClient();
    THttpClient(const THttpClient &) = delete;
    THttpClient &operator=(const THttpClient &) = delete;

    void GetAsync() { DoRequestAsync(httpRqGet); }
    virtual void DoRequestAsync(THttpRequest Rq);
    virtual void DoRequestSync(THttpRequest Rq);
    // Ends the request under way at once, its lookup given up and its
    // connection dropped: the component is ready for the next request when
    // this returns, and the request aborted reports nothing more (no
    // OnRequestDone, also none already on its way). Without a request, it
    // only drops such a report of the one that ended last.
    void Abort();

    // Published properties
    std::string URL;
    std::string LocalAddr = "0.0.0.0";
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Sender;
    std::string Agent = "Mozilla/3.0 (compatible)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string AcceptLanguage;
    std::string Reference;
    std::string Username, Password;
    std::string ProxyUsername, ProxyPassword;
    bool NoCache = false;
    double ModifiedSince = 0; // days since 1899-12-30, 0 = none
    std::string Cookie;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    std::string ContentRangeBegin, ContentRangeEnd;
    const std::string &AcceptRanges() const { return FAcceptRanges; }
    bool MultiThreaded() const { return FMultiThreaded; }
    virtual void SetMultiThreaded(bool V);

    // SOCKS settings for the owned socket; kept here, so every request uses them.
    const std::string &SocksServer() const { return FSocksServer; }
    void SetSocksServer(const std::string &V) { FSocksServer = V; }
    const std::string &SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string &V) { FSocksPort = V; }
    const std::string &SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string &V);
    std::string SocksUsercode, SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;

    // Run-time properties
    QIODevice *RcvdStream = nullptr;
    QIODevice *SendStream = nullptr;
    int StatusCode = 0;
    std::string ReasonPhrase;
    int64_t ContentLength = -1;
    std::string ContentType;
    std::vector<std::string> RcvdHeader;
    int64_t RcvdCount = 0;
    int64_t SentCount = 0;
    std::string DocName;
    std::string Location;
    THttpState State() const { return FState; }
    TNetSocket &CtrlSocket() { return *FCtrlSocket; }

    // Events
    THttpNotify OnTrace, OnSessionConnected, OnHeaderData, OnHeaderBegin, OnHeaderEnd, OnRequestHeaderBegin,
        OnRequestHeaderEnd, OnDocBegin, OnDocEnd, OnSendBegin, OnSendEnd, OnStateChange, OnLocationChange;
    TOnCommand OnCommand;
    TDocDataEvent OnDocData, OnSendData;
    THttpRequestDone OnRequestDone;
    TCookieRcvdEvent OnCookie;
    TSocketEvent OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;
    TNotifyEvent OnSocketError;
    TBeforeHeaderSendEvent OnBeforeHeaderSend;
    THttpDataAvailable OnDataAvailable;

    // Most redirects followed by one request.
    static constexpr int MaxRedirects = 20;
    // Bounds of a reply's header: lines (the status line included) and bytes.
    static constexpr int MaxHeaderLines = 256;
    static constexpr size_t MaxHeaderSize = 64 * 1024;
    // Time limits of a request, in milliseconds (0: none). ConnectTimeout runs
    // from the start of the name lookup until the connection is up.
    // IdleTimeout then bounds the wait for the whole reply header after the
    // request was sent, and each period of the body that brings fewer than
    // MinBodyProgress bytes (or of a POST body that does not go out). Either
    // ends the request with WSAETIMEDOUT and says in ReasonPhrase which limit
    // passed: no data at all, or data that came too slowly.
    int ConnectTimeout = 30000;
    int IdleTimeout = 60000;
    // The whole request, redirects included, from DoRequestAsync to its end.
    int RequestTimeout = 0;
    static constexpr size_t MinBodyProgress = 1024;

protected:
    virtual void GetHeaderLineNext(const std::string &Line, const std::string &Raw);
    virtual void GetBodyLineNext(const char *Data, int Len);
    virtual void SendCommand(const std::string &Cmd);
    virtual void Login();
    virtual void InternalClear();
    virtual void DnsLookupDone(uint16_t Error);
    virtual void SocketSessionClosed(uint16_t Error);
    virtual void SocketSessionConnected(uint16_t Error);
    virtual void SocketDataSent(uint16_t Error);
    virtual void SocketDataAvailable(uint16_t Error);
    virtual void LocationSessionClosed();
    virtual void StateChange(THttpState NewState);
    virtual void WndProc(unsigned Msg, uint64_t WParam, int64_t LParam);
    virtual void SetReady();
    virtual void AdjustDocName();
    void TriggerHeaderBegin();
    void TriggerHeaderEnd();
    void TriggerRequestDone();

private:
    void SendRequest(const std::string &Method);
    void SocketError();
    void Fail(uint16_t Error, const std::string &Reason);
    void ProcessBufferedLines();
    void DeliverBufferedBody();
    void WorkOutRedirect(const std::string &S);
    // The URL the current request went to, for resolving a redirect.
    std::string RequestURL() const;
    // Ends the running request at once with Error and Reason.
    void FailNow(uint16_t Error, const std::string &Reason);
    void ArmTimer(int Ms, bool Connecting);
    void TimerExpired();
    void Call(const THttpNotify &E) { if (E) E(this); }

    std::unique_ptr<TNetSocket> FCtrlSocket;
    TMsgWindow *FWindow = nullptr;
    THttpRequest FRequestType = httpRqNone;
    THttpState FState = httpStReady;
    uint16_t FRequestDoneError = 0;
    std::string FTargetHost, FTargetPort, FHostName, FPath, FDnsResult;
    std::string FHostPort;       // the origin server's port as the URL gave it ("" for the default)
    std::unique_ptr<QTimer> FTimer;
    std::unique_ptr<QTimer> FTotalTimer;
    bool FTimerConnecting = false;
    size_t FProgress = 0;        // bytes received since the idle limit was last set
    size_t FHeaderBytes = 0;
    char FRcvBuf[8193];
    int FRcvFill = 0;
    int FHeaderLineCount = 0;
    int FBodyLineCount = 0;
    bool FConnected = false;
    bool FLocationSeen = false;
    bool FHeaderInProgress = false;
    bool FAllowedToSend = false;
    bool FLocationClose = false; // the next socket close continues a redirect
    bool FReadyPosted = false;   // the end of this request is already on its way
    uint64_t FRequestSerial = 0;
    uint64_t FAbortedSerial = 0; // the request whose reports Abort dropped
    int FRedirects = 0;
    std::vector<std::string> FWWWAuthenticate;
    std::string FHeaderStream;
    std::string FAcceptRanges;
    bool FMultiThreaded = false;
    std::string FSocksServer, FSocksPort, FSocksLevel = "5";
};
