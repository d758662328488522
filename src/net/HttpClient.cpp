#include "net/HttpClient.h"

#include "util/TextCodec.h"

#include <QCoreApplication>
#include <QDate>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <thread>

// ---------------------------------------------------------------- Base64

static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The uuencode alphabet: the value plus 32, with "`" for 0 instead of a blank.
static const char kUu[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

// Three bytes to four characters of Alphabet; a short last group is filled
// with zero bits, and when Pad is not NUL the characters that carry no data
// become Pad.
static std::string EncodeSextets(std::string_view S, const char *Alphabet, char Pad)
{
    std::string out;
    out.reserve((S.size() + 2) / 3 * 4);
    for (size_t i = 0; i < S.size(); i += 3) {
        const size_t n = std::min<size_t>(3, S.size() - i);
        unsigned v = static_cast<unsigned char>(S[i]) << 16;
        if (n > 1)
            v |= static_cast<unsigned char>(S[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<unsigned char>(S[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += Pad && k > n ? Pad : Alphabet[(v >> (18 - 6 * k)) & 63];
    }
    return out;
}

std::string Base64Encode(const std::string &S)
{
    return EncodeSextets(S, kB64, '=');
}

std::string UuEncode(const std::string &S)
{
    std::string out;
    size_t i = 0;
    do {
        const size_t n = std::min<size_t>(45, S.size() - i);
        out += kUu[n];
        out += EncodeSextets(std::string_view(S).substr(i, n), kUu, 0);
        out += '\n';
        i += n;
    } while (i < S.size());
    return out;
}

// ---------------------------------------------------------------- header texts

std::string EncodeHeaderText(const std::string &Text)
{
    if (std::all_of(Text.begin(), Text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return Text;
    const std::string utf8 = DecodeStoredText(Text);
    // Each word at most 75 characters: 12 of frame, 60 of Base64 for 45
    // bytes, and never a character split between two words.
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        size_t end = i;
        while (end < utf8.size()) {
            char32_t cp;
            const size_t len = std::max<size_t>(1, DecodeUtf8Char(utf8, end, cp));
            if (end + len - i > 45)
                break;
            end += len;
        }
        if (!out.empty())
            out += ' ';
        out += "=?UTF-8?B?" + Base64Encode(utf8.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string EncodeHeaderAddresses(const std::string &Text)
{
    std::string out, part;
    bool quoted = false;
    int angle = 0;
    auto flush = [&] {
        const size_t lt = part.find('<');
        if (lt != std::string::npos) {
            std::string name = NetTrim(part.substr(0, lt));
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
                name = name.substr(1, name.size() - 2);
            const std::string encoded = EncodeHeaderText(name);
            if (encoded != name) {
                const size_t lead = part.find_first_not_of(' ');
                part = part.substr(0, lead == std::string::npos ? 0 : lead) + encoded + " " + part.substr(lt);
            }
        }
        out += part;
        part.clear();
    };
    for (char c : Text) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '<')
            ++angle;
        else if (!quoted && c == '>' && angle > 0)
            --angle;
        if (c == ',' && !quoted && angle == 0) {
            flush();
            out += ',';
            continue;
        }
        part += c;
    }
    flush();
    return out;
}

std::string Base64Decode(const std::string &S)
{
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : S) {
        if (c == '=')
            break;
        const char *p = c ? std::strchr(kB64, c) : nullptr;
        if (!p)
            continue;
        acc = (acc << 6) | static_cast<unsigned>(p - kB64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xff);
        }
    }
    return out;
}

// ---------------------------------------------------------------- URL splitting

namespace {
std::string LowerAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string UpperAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool HasLineBreak(const std::string &s)
{
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool AllDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
} // namespace

void ParseURL(const std::string &URL, std::string &Proto, std::string &User, std::string &Pass, std::string &Host,
              std::string &Port, std::string &Path)
{
    const std::string base = Path;
    Proto.clear();
    User.clear();
    Pass.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    if (URL.empty())
        return;
    if (URL.compare(0, 2, "./") == 0) {
        size_t p = base.rfind('/');
        Path = (p == std::string::npos ? std::string("/") : base.substr(0, p + 1)) + URL.substr(2);
        return;
    }
    if (URL.compare(0, 3, "../") == 0) {
        size_t p = base.rfind('/');
        std::string b = p == std::string::npos ? std::string("/") : base.substr(0, p + 1);
        std::string rest = URL;
        while (rest.compare(0, 3, "../") == 0) {
            rest.erase(0, 3);
            std::string t = b.substr(0, b.size() - 1); // without the trailing "/"
            size_t q = t.rfind('/');
            b = q == std::string::npos ? std::string("/") : t.substr(0, q + 1);
        }
        Path = b + rest;
        return;
    }
    size_t start = 0;
    const size_t sep = URL.find("://");
    if (sep != std::string::npos) {
        bool scheme = sep > 0;
        for (size_t i = 0; i < sep && scheme; ++i) {
            const char c = URL[i];
            scheme = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        }
        if (scheme) {
            Proto = URL.substr(0, sep);
            start = sep + 3;
        } else {
            Proto = "http";
        }
    } else if (URL[0] == '/') {
        Proto = "http";
        if (URL.size() < 2 || URL[1] != '/') {
            Path = URL;
            return;
        }
        start = 2;
    } else if (LowerAscii(URL.substr(0, 5)) == "http:") {
        Proto = "http";
        if (URL.size() >= 7 && URL[6] != '/') {
            Path = URL.substr(5);
            return;
        }
        start = 5;
    } else if (LowerAscii(URL.substr(0, 7)) == "mailto:") {
        Proto = "mailto";
        start = URL.find(':') + 1;
    }
    const std::string rest = URL.substr(start);
    const size_t pathStart = rest.find_first_of("/?");
    const std::string authority = rest.substr(0, pathStart);
    if (pathStart != std::string::npos)
        Path = rest.substr(pathStart);
    const size_t colon = authority.rfind(':');
    const size_t at = authority.rfind('@');
    if (colon == std::string::npos && at == std::string::npos) {
        Host = authority;
    } else if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        Port = authority.substr(colon + 1);
        const size_t h = at == std::string::npos ? 0 : at + 1;
        Host = authority.substr(h, colon - h);
    } else {
        Host = authority.substr(at + 1);
    }
    if (at != std::string::npos) {
        const std::string ui = authority.substr(0, at);
        const size_t c = ui.find(':');
        User = ui.substr(0, c);
        if (c != std::string::npos)
            Pass = ui.substr(c + 1);
    }
}

// ---------------------------------------------------------------- references

namespace {

// The parts of a URL reference (RFC 3986 appendix B); the flags tell an
// absent part from an empty one.
struct UrlParts {
    std::string Scheme, Authority, Path, Query;
    bool HasScheme = false, HasAuthority = false, HasQuery = false;
};

UrlParts SplitReference(const std::string &U)
{
    UrlParts p;
    std::string s = U.substr(0, U.find('#'));
    const size_t colon = s.find(':');
    const size_t delim = s.find_first_of("/?");
    if (colon != std::string::npos && colon > 0 && (delim == std::string::npos || colon < delim)) {
        const std::string scheme = s.substr(0, colon);
        const bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                           std::all_of(scheme.begin(), scheme.end(), [](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
                           });
        if (valid) {
            p.HasScheme = true;
            p.Scheme = LowerAscii(scheme);
            s.erase(0, colon + 1);
        }
    }
    if (s.compare(0, 2, "//") == 0) {
        p.HasAuthority = true;
        const size_t end = s.find_first_of("/?", 2);
        p.Authority = s.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        s.erase(0, end == std::string::npos ? s.size() : end);
    }
    const size_t q = s.find('?');
    if (q != std::string::npos) {
        p.HasQuery = true;
        p.Query = s.substr(q + 1);
        s.erase(q);
    }
    p.Path = s;
    return p;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string In)
{
    std::string out;
    while (!In.empty()) {
        if (In.compare(0, 3, "../") == 0) {
            In.erase(0, 3);
        } else if (In.compare(0, 2, "./") == 0) {
            In.erase(0, 2);
        } else if (In.compare(0, 3, "/./") == 0) {
            In.erase(0, 2);
        } else if (In == "/.") {
            In = "/";
        } else if (In.compare(0, 4, "/../") == 0 || In == "/..") {
            In = In.size() == 3 ? std::string("/") : In.substr(3);
            const size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (In == "." || In == "..") {
            In.clear();
        } else {
            const size_t next = In.find('/', 1);
            out += In.substr(0, next);
            In.erase(0, next == std::string::npos ? In.size() : next);
        }
    }
    return out;
}

} // namespace

std::string ResolveURL(const std::string &Base, const std::string &Ref)
{
    const UrlParts b = SplitReference(Base);
    const UrlParts r = SplitReference(Ref);
    UrlParts t;
    if (r.HasScheme) {
        t = r;
        t.Path = RemoveDotSegments(r.Path);
    } else {
        if (r.HasAuthority) {
            t.HasAuthority = true;
            t.Authority = r.Authority;
            t.Path = RemoveDotSegments(r.Path);
            t.HasQuery = r.HasQuery;
            t.Query = r.Query;
        } else {
            if (r.Path.empty()) {
                t.Path = b.Path;
                t.HasQuery = r.HasQuery || b.HasQuery;
                t.Query = r.HasQuery ? r.Query : b.Query;
            } else {
                if (r.Path[0] == '/') {
                    t.Path = RemoveDotSegments(r.Path);
                } else {
                    // Merge with the base path's folder.
                    const size_t slash = b.Path.rfind('/');
                    const std::string merged = b.HasAuthority && b.Path.empty()
                                                   ? "/" + r.Path
                                                   : (slash == std::string::npos ? std::string()
                                                                                 : b.Path.substr(0, slash + 1)) +
                                                         r.Path;
                    t.Path = RemoveDotSegments(merged);
                }
                t.HasQuery = r.HasQuery;
                t.Query = r.Query;
            }
            t.HasAuthority = b.HasAuthority;
            t.Authority = b.Authority;
        }
        t.HasScheme = b.HasScheme;
        t.Scheme = b.Scheme;
    }
    std::string out;
    if (t.HasScheme)
        out += t.Scheme + ":";
    if (t.HasAuthority)
        out += "//" + t.Authority;
    out += t.Path;
    if (t.HasQuery)
        out += "?" + t.Query;
    return out;
}

// ---------------------------------------------------------------- component

THttpClient::THttpClient()
{
    FWindow = new TMsgWindow([this](unsigned m, uint64_t w, int64_t l) { WndProc(m, w, l); });
    FCtrlSocket = std::make_unique<TNetSocket>();
    TNetSocket &s = *FCtrlSocket;
    s.OnSessionClosed = [this](TCustomNetSocket *, uint16_t e) { SocketSessionClosed(e); };
    s.OnDataAvailable = [this](TCustomNetSocket *, uint16_t e) { SocketDataAvailable(e); };
    s.OnSessionConnected = [this](TCustomNetSocket *, uint16_t e) { SocketSessionConnected(e); };
    s.OnDataSent = [this](TCustomNetSocket *, uint16_t e) { SocketDataSent(e); };
    s.OnDnsLookupDone = [this](TCustomNetSocket *, uint16_t e) { DnsLookupDone(e); };
    s.OnSocksConnected = [this](TCustomNetSocket *so, uint16_t e) {
        if (OnSocksConnected)
            OnSocksConnected(so, e);
    };
    s.OnSocksError = [this](TCustomNetSocket *so, int e, const std::string &m) {
        if (OnSocksError)
            OnSocksError(so, e, m);
    };
    s.OnSocksAuthState = [this](TCustomNetSocket *so, TSocksAuthState a) {
        if (OnSocksAuthState)
            OnSocksAuthState(so, a);
    };
    s.OnError = [this](TCustomNetSocket *) { SocketError(); };
    // The socket aborts the connection after an exception in one of our
    // handlers; the request must not then look successful.
    s.OnBgException = [this](TCustomNetSocket *, const std::exception &e, bool &) {
        if (FState != httpStReady && !FReadyPosted)
            Fail(httperrHandlerFailed, e.what());
    };
    FTimer = std::make_unique<QTimer>();
    FTimer->setSingleShot(true);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerExpired(); });
    FTotalTimer = std::make_unique<QTimer>();
    FTotalTimer->setSingleShot(true);
    QObject::connect(FTotalTimer.get(), &QTimer::timeout, [this] {
        if (FState != httpStReady && !FReadyPosted)
            FailNow(WSAETIMEDOUT, "no complete reply within " + NetDurationText(RequestTimeout) + " (Error #" +
                                      std::to_string(WSAETIMEDOUT) + ")");
    });
}

THttpClient::~THttpClient()
{
    FCtrlSocket->OnSessionClosed = nullptr;
    FCtrlSocket->OnDnsLookupDone = nullptr;
    FCtrlSocket.reset();
    FWindow->Detach();
    FWindow->deleteLater();
}

void THttpClient::SetMultiThreaded(bool V)
{
    FMultiThreaded = V;
    FCtrlSocket->MultiThreaded = V;
}

void THttpClient::SetSocksLevel(const std::string &V)
{
    if (V != "4" && V != "5" && V != "4A" && V != "4a")
        throw ESocketException("Invalid socks level. Must be 4, 4A or 5.");
    FSocksLevel = V == "4a" ? "4A" : V;
}

void THttpClient::WndProc(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    switch (Msg) {
    case WM_USER + 1:
        if (OnRequestDone)
            OnRequestDone(this, static_cast<THttpRequest>(WParam), static_cast<uint16_t>(LParam));
        break;
    case WM_USER + 2:
        if (WParam == FRequestSerial)
            StateChange(httpStReady);
        break;
    case WM_USER + 3:
        if (WParam == FRequestSerial && FState != httpStReady)
            Login();
        break;
    default:
        break;
    }
}

void THttpClient::StateChange(THttpState NewState)
{
    if (NewState == FState)
        return;
    FState = NewState;
    Call(OnStateChange);
    if (NewState == httpStReady)
        TriggerRequestDone();
}

void THttpClient::TriggerRequestDone()
{
    FWindow->PostMessage(WM_USER + 1, FRequestType, FRequestDoneError);
}

void THttpClient::SetReady()
{
    if (FReadyPosted)
        return; // a request ends once, whichever failure or close comes first
    FReadyPosted = true;
    FTimer->stop();
    FTotalTimer->stop();
    FWindow->PostMessage(WM_USER + 2, FRequestSerial);
}

void THttpClient::TriggerHeaderBegin()
{
    FHeaderInProgress = true;
    Call(OnHeaderBegin);
}

void THttpClient::TriggerHeaderEnd()
{
    FHeaderInProgress = false;
    Call(OnHeaderEnd);
}

// ---------------------------------------------------------------- starting

void THttpClient::InternalClear()
{
    RcvdHeader.clear();
    FRequestDoneError = 0;
    DocName.clear();
    StatusCode = 0;
    RcvdCount = 0;
    SentCount = 0;
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    FAllowedToSend = false;
    ContentType.clear();
    ContentLength = -1;
    FHeaderBytes = 0;
    Location = URL;
}

void THttpClient::DoRequestAsync(THttpRequest Rq)
{
    if (FState != httpStReady)
        throw EHttpException("HTTP component is busy", httperrBusy);
    if (Rq == httpRqPost && !SendStream)
        throw EHttpException("HTTP component has nothing to post", httperrNothingToPost);
    // Every value below ends up inside a header line.
    for (const std::string *v : {&URL, &Proxy, &ProxyPort, &Sender, &Agent, &Accept, &AcceptLanguage, &Reference,
                                 &Username, &Password, &ProxyUsername, &ProxyPassword, &Cookie, &ContentTypePost,
                                 &ContentRangeBegin, &ContentRangeEnd}) {
        if (HasLineBreak(*v))
            throw EHttpException("HTTP request value holds a line break", httperrBadValue);
    }
    if (FCtrlSocket->State() != wsClosed) {
        // Left over from an earlier request: it must not end this one.
        FLocationClose = false;
        FReadyPosted = true;
        FCtrlSocket->Abort();
    }
    ++FRequestSerial;
    FReadyPosted = false;
    if (RequestTimeout > 0)
        FTotalTimer->start(RequestTimeout);
    else
        FTotalTimer->stop();
    FLocationClose = false;
    FLocationSeen = false;
    FHeaderInProgress = false;
    FRcvFill = 0;
    FRedirects = 0;
    StateChange(httpStNotConnected);
    FRequestType = Rq;
    InternalClear();

    std::string proto, user, pass, host, port, path;
    ParseURL(URL, proto, user, pass, host, port, path);
    if (!user.empty())
        Username = user;
    if (!pass.empty())
        Password = pass;
    FHostPort = port;
    if (Proxy.empty()) {
        FPath = path;
        DocName = path;
        if (port.empty())
            port = "80";
    } else {
        FPath = (proto.empty() ? std::string("http") : proto) + "://" + host + (port.empty() ? "" : ":" + port) + path;
        DocName = path;
    }
    FHostName = host;
    if (!Proxy.empty()) {
        std::string pp, pu, pw, ph, ppt, ppath;
        ParseURL(Proxy, pp, pu, pw, ph, ppt, ppath);
        host = ph.empty() ? Proxy : ph;
        port = ppt.empty() ? ProxyPort : ppt;
    }
    if (FPath.empty())
        FPath = "/";
    AdjustDocName();
    FTargetHost = host;
    FTargetPort = port;
    Login();
}

void THttpClient::DoRequestSync(THttpRequest Rq)
{
    DoRequestAsync(Rq);
    while (FState != httpStReady) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::this_thread::yield();
    }
    if (StatusCode >= 400)
        throw EHttpException(ReasonPhrase, static_cast<uint16_t>(StatusCode));
}

void THttpClient::AdjustDocName()
{
    size_t q = DocName.find('?');
    if (q != std::string::npos)
        DocName.erase(q);
    if (DocName.empty() || DocName.back() == '/') {
        DocName = "document.htm";
        return;
    }
    size_t s = DocName.rfind('/');
    if (s != std::string::npos)
        DocName = DocName.substr(s + 1);
    q = DocName.find('?');
    if (q != std::string::npos)
        DocName.erase(q);
}

// ---------------------------------------------------------------- lookup and connect

void THttpClient::Fail(uint16_t Error, const std::string &Reason)
{
    if (FRequestDoneError == 0)
        FRequestDoneError = Error;
    if (!Reason.empty())
        ReasonPhrase = Reason;
}

// ---------------------------------------------------------------- time limits

void THttpClient::ArmTimer(int Ms, bool Connecting)
{
    FTimerConnecting = Connecting;
    FProgress = 0;
    if (Ms > 0 && !FReadyPosted)
        FTimer->start(Ms);
    else
        FTimer->stop();
}

void THttpClient::TimerExpired()
{
    if (FState == httpStReady || FReadyPosted)
        return;
    if (FTimerConnecting) {
        StatusCode = 404;
        FailNow(WSAETIMEDOUT, "can't connect: no connection within " + NetDurationText(ConnectTimeout) + " (Error #" +
                                  std::to_string(WSAETIMEDOUT) + ")");
    } else {
        FailNow(WSAETIMEDOUT, "no data from the server for " + NetDurationText(IdleTimeout) + " (Error #" +
                                  std::to_string(WSAETIMEDOUT) + ")");
    }
}

void THttpClient::FailNow(uint16_t Error, const std::string &Reason)
{
    Fail(Error, Reason);
    FLocationClose = false;
    FConnected = false;
    SetReady();
    FCtrlSocket->Abort();
}

void THttpClient::Login()
{
    FDnsResult.clear();
    ArmTimer(ConnectTimeout, true);
    StateChange(httpStDnsLookup);
    try {
        FCtrlSocket->SetLocalAddr(LocalAddr);
        FCtrlSocket->DnsLookup(FTargetHost);
    } catch (const std::exception &e) {
        StatusCode = 404;
        ReasonPhrase = e.what();
        FConnected = false;
        Fail(FCtrlSocket->LastError() ? static_cast<uint16_t>(FCtrlSocket->LastError()) : uint16_t(WSAEINVAL), "");
        SetReady();
    }
}

void THttpClient::SocketError()
{
    if (OnSocketError)
        OnSocketError(FCtrlSocket.get());
    // A failure reported while the lookup or the connection is being started
    // would otherwise leave the request waiting for ever.
    if (FState == httpStDnsLookup || FState == httpStDnsLookupDone || FState == httpStNotConnected) {
        const int code = FCtrlSocket->LastError() ? FCtrlSocket->LastError() : WSAEINVAL;
        StatusCode = 404;
        Fail(static_cast<uint16_t>(code), FState == httpStDnsLookup
                                              ? std::string("can't resolve hostname to IP address")
                                              : "can't connect: " + NetSocketErrorDesc(code) + " (Error #" +
                                                    std::to_string(code) + ")");
        FConnected = false;
        SetReady();
    }
}

void THttpClient::DnsLookupDone(uint16_t Error)
{
    if (FState != httpStDnsLookup || FReadyPosted)
        return;
    if (Error) {
        StatusCode = 404;
        Fail(Error, "can't resolve hostname to IP address");
        SocketSessionClosed(Error);
        return;
    }
    FDnsResult = FCtrlSocket->DnsResult();
    StateChange(httpStDnsLookupDone);
    TNetSocket &s = *FCtrlSocket;
    try {
        s.SetSocksServer(FSocksServer);
        s.SetSocksPort(FSocksPort);
        s.SetSocksLevel(FSocksLevel);
        s.SocksUsercode = SocksUsercode;
        s.SocksPassword = SocksPassword;
        s.SocksAuthentication = SocksAuthentication;
        s.SetAddr(FDnsResult);
        s.SetLocalAddr(LocalAddr);
        s.SetPort(FTargetPort);
        s.SetProto("tcp");
        s.Connect();
    } catch (const std::exception &) {
        const int code = s.LastError() ? s.LastError() : WSAEINVAL;
        StatusCode = 404;
        Fail(static_cast<uint16_t>(code),
             "can't connect: " + NetSocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")");
        s.Close();
        SocketSessionClosed(static_cast<uint16_t>(code));
    }
}

void THttpClient::SocketSessionConnected(uint16_t Error)
{
    if (FReadyPosted)
        return;
    if (Error) {
        StatusCode = 404;
        Fail(Error, NetSocketErrorDesc(Error) + " (Error #" + std::to_string(Error) + ")");
        SocketSessionClosed(Error);
        return;
    }
    FConnected = true;
    ArmTimer(IdleTimeout, false);
    StateChange(httpStConnected);
    Call(OnSessionConnected);
    StateChange(httpStWaitingHeader);
    switch (FRequestType) {
    case httpRqGet:
        SendRequest("GET");
        break;
    case httpRqPost:
        SendRequest("POST");
        Call(OnSendBegin);
        FAllowedToSend = true;
        SocketDataSent(0);
        break;
    case httpRqHead:
        SendRequest("HEAD");
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- request header

void THttpClient::SendCommand(const std::string &Cmd)
{
    std::string s = Cmd;
    if (OnCommand)
        OnCommand(this, s);
    if (!s.empty())
        FHeaderStream += s;
    FHeaderStream += "\r\n";
}

static std::string HttpDate(double D)
{
    static const char *days = "MonTueWedThuFriSatSun";
    static const char *months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const long whole = static_cast<long>(std::floor(D));
    const long di = ((whole - 2) % 7 + 7) % 7;
    QDate date = QDate(1899, 12, 30).addDays(whole);
    long secs = std::lround((D - static_cast<double>(whole)) * 86400.0);
    if (secs >= 86400)
        secs = 86399;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2ld:%2.2ld:%2.2ld", days + di * 3, date.day(),
                  months + (date.month() - 1) * 3, date.year(), secs / 3600, secs / 60 % 60, secs % 60);
    return buf;
}

void THttpClient::SendRequest(const std::string &Method)
{
    FHeaderStream.clear();
    Call(OnRequestHeaderBegin);
    std::vector<std::string> lines;
    lines.push_back(Method + " " + FPath + " HTTP/1.0");
    if (!Sender.empty())
        lines.push_back("From: " + Sender);
    if (!Accept.empty())
        lines.push_back("Accept: " + Accept);
    if (!Reference.empty())
        lines.push_back("Referer: " + Reference);
    if (!AcceptLanguage.empty())
        lines.push_back("Accept-Language: " + AcceptLanguage);
    if (Method == "POST" && !ContentTypePost.empty())
        lines.push_back("Content-Type: " + ContentTypePost);
    if (!Agent.empty())
        lines.push_back("User-Agent: " + Agent);
    // The port goes with the host whenever it is not the default one.
    lines.push_back("Host: " + FHostName + (FHostPort.empty() || FHostPort == "80" ? "" : ":" + FHostPort));
    if (NoCache)
        lines.push_back("Pragma: no-cache");
    if (Method == "POST")
        lines.push_back("Content-Length: " + std::to_string(SendStream ? SendStream->size() : 0));
    if (ModifiedSince != 0)
        lines.push_back("If-Modified-Since: " + HttpDate(ModifiedSince) + " GMT");
    if (!Username.empty())
        lines.push_back("Authorization: Basic " + Base64Encode(Username + ":" + Password));
    if (!Proxy.empty() && !ProxyUsername.empty())
        lines.push_back("Proxy-Authorization: Basic " + Base64Encode(ProxyUsername + ":" + ProxyPassword));
    if (!Cookie.empty())
        lines.push_back("Cookie: " + Cookie);
    if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
        lines.push_back("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
        ContentRangeBegin.clear();
        ContentRangeEnd.clear();
    }
    FAcceptRanges.clear();
    if (OnBeforeHeaderSend)
        OnBeforeHeaderSend(this, Method, lines);
    for (const std::string &l : lines)
        SendCommand(l);
    Call(OnRequestHeaderEnd);
    SendCommand("");
    std::string out;
    out.swap(FHeaderStream);
    FCtrlSocket->SendStr(out);
}

void THttpClient::SocketDataSent(uint16_t)
{
    if (!FAllowedToSend || !SendStream)
        return;
    char buf[8193];
    const qint64 n = SendStream->read(buf, sizeof buf);
    if (n < 1) {
        FAllowedToSend = false;
        Call(OnSendEnd);
        return;
    }
    SentCount += n;
    if (!FTimerConnecting)
        ArmTimer(IdleTimeout, false);
    if (OnSendData)
        OnSendData(this, buf, static_cast<int>(n));
    FCtrlSocket->Send(buf, static_cast<int>(n));
}

// ---------------------------------------------------------------- reply

void THttpClient::SocketDataAvailable(uint16_t Error)
{
    const int room = 8192 - FRcvFill;
    if (room <= 0) {
        // Unreachable while lines are taken out as they complete; kept as a guard.
        Fail(httperrLineTooLong, "HTTP line too long");
        FCtrlSocket->Close();
        return;
    }
    const int n = FCtrlSocket->Receive(FRcvBuf + FRcvFill, room);
    if (FRequestType == httpRqNone || n <= 0)
        return;
    // The whole header must come within one idle period after the request,
    // and each idle period of the body must bring MinBodyProgress bytes, so a
    // server trickling bytes cannot hold the request for as long as it likes.
    if (!FTimerConnecting && FState == httpStWaitingBody) {
        FProgress += static_cast<size_t>(n);
        if (FProgress >= MinBodyProgress) {
            FProgress = 0;
            ArmTimer(IdleTimeout, false);
        }
    }
    FRcvFill += n;
    FRcvBuf[FRcvFill] = 0;
    if (FState == httpStWaitingBody) {
        DeliverBufferedBody();
        return;
    }
    if (FState != httpStWaitingHeader) {
        // Lines outside a reply go to OnDataAvailable.
        ProcessBufferedLines();
        (void)Error;
        return;
    }
    ProcessBufferedLines();
}

void THttpClient::DeliverBufferedBody()
{
    if (FRcvFill <= 0)
        return;
    const int n = FRcvFill;
    FRcvFill = 0;
    GetBodyLineNext(FRcvBuf, n);
}

void THttpClient::ProcessBufferedLines()
{
    const uint64_t serial = FRequestSerial;
    while (FRcvFill > 0 && serial == FRequestSerial && !FReadyPosted) {
        if (FState == httpStWaitingBody) {
            // Body bytes are handed over exactly as received.
            DeliverBufferedBody();
            return;
        }
        char *lf = static_cast<char *>(std::memchr(FRcvBuf, '\n', static_cast<size_t>(FRcvFill)));
        if (!lf) {
            if (FRcvFill >= 8192) {
                // 8192 bytes without an end of line: the request cannot go on.
                Fail(httperrLineTooLong, "HTTP line too long");
                FRcvFill = 0;
                FCtrlSocket->Close();
                SocketSessionClosed(0);
            }
            return;
        }
        const int rawLen = static_cast<int>(lf - FRcvBuf) + 1;
        std::string raw(FRcvBuf, static_cast<size_t>(rawLen));
        std::string line = raw.substr(0, raw.size() - 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::memmove(FRcvBuf, FRcvBuf + rawLen, static_cast<size_t>(FRcvFill - rawLen) + 1);
        FRcvFill -= rawLen;
        if (FState == httpStWaitingHeader)
            GetHeaderLineNext(line, raw);
        else if (OnDataAvailable)
            OnDataAvailable(this, static_cast<uint16_t>(FCtrlSocket->LastError()));
    }
}

void THttpClient::GetHeaderLineNext(const std::string &Line, const std::string &Raw)
{
    if (FHeaderLineCount == 0)
        TriggerHeaderBegin();
    ++FHeaderLineCount;
    FHeaderBytes += Raw.size();
    if (FHeaderLineCount > MaxHeaderLines || FHeaderBytes > MaxHeaderSize) {
        FailNow(httperrHeaderTooLarge, "HTTP header too large");
        return;
    }
    const bool statusLine = Line.compare(0, 8, "HTTP/1.0") == 0 || Line.compare(0, 8, "HTTP/1.1") == 0;
    if (FHeaderLineCount == 1 && !statusLine && UpperAscii(Line.substr(0, 6)) != "<HTML>") {
        FailNow(httperrBadReply, "reply without a status line");
        return;
    }

    if (UpperAscii(Line.substr(0, 6)) == "<HTML>") {
        // A server that sends no header: everything is body, byte for byte.
        if (ContentType.empty())
            ContentType = "text/html";
        StateChange(httpStWaitingBody);
        TriggerHeaderEnd();
        GetBodyLineNext(Raw.data(), static_cast<int>(Raw.size()));
        return;
    }

    if (!Line.empty()) {
        RcvdHeader.push_back(Line);
        if (statusLine) {
            const std::string code = Line.size() >= 12 ? Line.substr(9, 3) : std::string();
            if (!AllDigits(code) || (Line.size() > 12 && Line[12] != ' ')) {
                Fail(httperrBadReply, "invalid status line");
                FCtrlSocket->Close();
                SetReady();
                return;
            }
            StatusCode = std::stoi(code);
            ReasonPhrase = Line.size() > 13 ? Line.substr(13) : std::string();
        } else if (size_t colon = Line.find(':'); colon != std::string::npos) {
            const std::string field = LowerAscii(Line.substr(0, colon));
            size_t v = colon + 1;
            while (v + 1 < Line.size() && Line[v] == ' ')
                ++v;
            const std::string value = v < Line.size() ? Line.substr(v) : std::string();
            if (field == "location") {
                if (!NetTrim(value).empty()) {
                    if (HasLineBreak(value)) {
                        Fail(httperrBadReply, "invalid location");
                        FCtrlSocket->Close();
                        SetReady();
                        return;
                    }
                    FLocationSeen = true;
                    WorkOutRedirect(NetTrim(value));
                    if (FReadyPosted)
                        return;
                }
            } else if (field == "content-length") {
                const std::string t = NetTrim(value);
                if (!AllDigits(t) || t.size() > 18) {
                    Fail(httperrBadReply, "invalid content-length");
                    FCtrlSocket->Close();
                    SetReady();
                    return;
                }
                ContentLength = std::stoll(t);
            } else if (field == "content-range") {
                const size_t dash = value.find('-');
                const size_t slash = value.find('/');
                if (value.size() > 6 && dash != std::string::npos && dash >= 6) {
                    ContentRangeBegin = value.substr(6, dash - 6);
                    ContentRangeEnd = slash != std::string::npos && slash > dash
                                          ? value.substr(dash + 1, slash - dash - 1)
                                          : value.substr(dash + 1);
                }
            } else if (field == "accept-ranges") {
                FAcceptRanges = value;
            } else if (field == "content-type") {
                ContentType = LowerAscii(value);
            } else if (field == "www-authenticate") {
                FWWWAuthenticate.push_back(value);
            } else if (field == "set-cookie") {
                bool accept = true;
                if (OnCookie)
                    OnCookie(this, value, accept);
            }
        }
        Call(OnHeaderData);
        return;
    }

    // The blank line ends the header.
    if (FLocationSeen) {
        TriggerHeaderEnd();
        FRcvFill = 0;
        FHeaderLineCount = 0;
        FBodyLineCount = 0;
        FLocationClose = true;
        FCtrlSocket->Close();
        return;
    }
    if (ContentLength != 0) {
        const size_t dot = DocName.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : LowerAscii(DocName.substr(dot));
        if ((ext == ".exe" || ext.empty()) && ContentType == "text/html")
            DocName = (dot == std::string::npos ? DocName + "." : DocName.substr(0, dot + 1)) + "htm";
        StateChange(httpStWaitingBody);
        ArmTimer(IdleTimeout, false); // the body's first period
        TriggerHeaderEnd();
        DeliverBufferedBody();
        if (StatusCode >= 400)
            FCtrlSocket->Close();
        return;
    }
    TriggerHeaderEnd();
    SetReady();
    // Nothing more comes for this request; a later one needs a fresh connection.
    FCtrlSocket->Close();
}

void THttpClient::GetBodyLineNext(const char *Data, int Len)
{
    if (FBodyLineCount == 0)
        Call(OnDocBegin);
    if (ContentLength >= 0) {
        // Bytes past the announced length are no part of this reply.
        const int64_t left = ContentLength - RcvdCount;
        if (left <= 0)
            return;
        if (Len > left)
            Len = static_cast<int>(left);
    }
    ++FBodyLineCount;
    RcvdCount += Len;
    if (RcvdStream && RcvdStream->write(Data, Len) != Len) {
        // What the stream did not take would be lost: the request ends here.
        Fail(httperrBodyRefused, "the receiving stream took no more of the reply");
        SetReady();
        FCtrlSocket->Close();
        return;
    }
    if (OnDocData)
        OnDocData(this, Data, Len);
    if (ContentLength >= 0 && RcvdCount >= ContentLength && !FReadyPosted) {
        // The whole body is here: the request ends without waiting for the close.
        Call(OnDocEnd);
        SetReady();
        FCtrlSocket->Close();
    }
}

// ---------------------------------------------------------------- close and redirects

void THttpClient::SocketSessionClosed(uint16_t Error)
{
    if (FLocationClose) {
        FLocationClose = false;
        LocationSessionClosed();
        return;
    }
    if (Error)
        Fail(Error, "");
    FConnected = false;
    if (FReadyPosted || FState == httpStReady)
        return;
    if (FHeaderInProgress) {
        TriggerHeaderEnd();
        if (FLocationSeen) {
            LocationSessionClosed();
            return;
        }
        Fail(httperrIncompleteHeader, "connection closed before the header ended");
        SetReady();
        return;
    }
    if (FState == httpStWaitingHeader && FHeaderLineCount == 0)
        Fail(httperrIncompleteHeader, "connection closed without a reply");
    // A body cut short is no success; an error reply is cut off on purpose,
    // and HEAD, 204 and 304 replies carry no body whatever their length says.
    if (FState == httpStWaitingBody && ContentLength >= 0 && RcvdCount < ContentLength && StatusCode < 400 &&
        FRequestType != httpRqHead && StatusCode != 204 && StatusCode != 304)
        Fail(httperrShortBody, "connection closed before the body ended");
    if (FBodyLineCount > 0)
        Call(OnDocEnd);
    SetReady();
}

std::string THttpClient::RequestURL() const
{
    if (!Proxy.empty())
        return FPath; // the absolute URL
    return "http://" + FHostName + (FHostPort.empty() || FHostPort == "80" ? "" : ":" + FHostPort) + FPath;
}

void THttpClient::WorkOutRedirect(const std::string &S)
{
    std::string target = ResolveURL(RequestURL(), S);
    const size_t colon = target.find(':');
    if (colon == std::string::npos || LowerAscii(target.substr(0, colon)) != "http" ||
        target.compare(colon, 3, "://") != 0) {
        FailNow(httperrBadReply, "redirect to a location that cannot be followed: " + S);
        return;
    }
    target = "http" + target.substr(colon);
    std::string proto, user, pass, host, port, path;
    ParseURL(target, proto, user, pass, host, port, path);
    if (host.empty())
        host = FHostName;
    if (!user.empty() && !pass.empty()) {
        Username = user;
        Password = pass;
    } else if (LowerAscii(host) != LowerAscii(FHostName)) {
        // Credentials meant for one host are not sent to another.
        Username.clear();
        Password.clear();
    }
    FHostName = host;
    FHostPort = port;
    if (path.empty())
        path = "/";
    Location = "http://" + host + (port.empty() ? "" : ":" + port) + path;
    if (Proxy.empty()) {
        FTargetHost = host;
        FTargetPort = port.empty() ? "80" : port;
        FPath = path;
    } else {
        FPath = Location;
    }
}

void THttpClient::LocationSessionClosed()
{
    std::string loc = Location;
    const size_t hash = loc.find('#');
    if (hash != std::string::npos)
        loc.erase(hash);
    std::string proto, user, pass, host, port, path;
    ParseURL(loc, proto, user, pass, host, port, path);
    DocName = path;
    AdjustDocName();
    FConnected = false;
    FLocationSeen = false;
    FLocationClose = false;
    if (FRequestType == httpRqPost)
        FRequestType = httpRqGet;
    Call(OnLocationChange);
    RcvdHeader.clear();
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    ContentType.clear();
    StatusCode = 0;
    ContentLength = -1;
    FHeaderBytes = 0;
    FRcvFill = 0;
    if (!Proxy.empty()) {
        std::string pp, pu, pw, ph, ppt, ppath;
        ParseURL(Proxy, pp, pu, pw, ph, ppt, ppath);
        FTargetPort = ppt.empty() ? ProxyPort : ppt;
    }
    if (++FRedirects > MaxRedirects) {
        Fail(httperrTooManyRedirects, "too many redirects");
        SetReady();
        return;
    }
    FWindow->PostMessage(WM_USER + 3, FRequestSerial);
}
