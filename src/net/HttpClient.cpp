// The HTTP client component's request cycle: starting a request, lookup and connection, time limits, the end.
#include "net/HttpClient.h"
#include "net/HttpClientInternal.h"

#include <QCoreApplication>

#include <algorithm>
#include <thread>

// ---------------------------------------------------------------- text helpers

namespace httpclient {
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
} // namespace httpclient

using httpclient::HasLineBreak;

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
    // Never early: a caller that gives a request what is left of a longer
    // limit tells by the clock that this limit has passed.
    FTotalTimer->setTimerType(Qt::PreciseTimer);
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
        if (WParam != FAbortedSerial && OnRequestDone)
            OnRequestDone(this, static_cast<THttpRequest>(LParam >> 16), static_cast<uint16_t>(LParam & 0xFFFF));
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
    FWindow->PostMessage(WM_USER + 1, FRequestSerial, (static_cast<int64_t>(FRequestType) << 16) | FRequestDoneError);
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

void THttpClient::Abort()
{
    FAbortedSerial = FRequestSerial;
    if (FState == httpStReady)
        return;
    // Whatever the socket still reports (the close this brings among it)
    // belongs to a request that has ended.
    FReadyPosted = true;
    FLocationClose = false;
    FConnected = false;
    FAllowedToSend = false;
    FRcvFill = 0;
    FTimer->stop();
    FTotalTimer->stop();
    FCtrlSocket->Abort();
    StateChange(httpStReady);
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
    // The first failure names the end of the request: what follows it (the
    // close a reset brings, a body then found short) must not put its own
    // reason beside the first one's code.
    if (FRequestDoneError != 0)
        return;
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
        // A server that sent something in the period is not silent: it was
        // too slow for the limit the period holds it to.
        const std::string period = NetDurationText(IdleTimeout);
        std::string why = "no data from the server for " + period;
        if (FProgress > 0 && FState == httpStWaitingBody)
            why = "the reply came too slowly: " + std::to_string(FProgress) + " bytes in " + period +
                  ", fewer than " + std::to_string(MinBodyProgress);
        else if (FProgress > 0 && FState == httpStWaitingHeader)
            why = "the reply came too slowly: its header did not end within " + period;
        FailNow(WSAETIMEDOUT, why + " (Error #" + std::to_string(WSAETIMEDOUT) + ")");
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
                                              : "can't connect: " + NetSocketErrorText(code));
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
             "can't connect: " + NetSocketErrorText(code));
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
        Fail(Error, NetSocketErrorText(Error));
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
