// The reply: its lines, the status line and header fields, the body, the close that ends it, and redirects.
#include "net/HttpClient.h"
#include "net/HttpClientInternal.h"

#include <cstring>

using httpclient::AllDigits;
using httpclient::HasLineBreak;
using httpclient::LowerAscii;
using httpclient::UpperAscii;

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
    if (!FTimerConnecting) {
        FProgress += static_cast<size_t>(n);
        if (FState == httpStWaitingBody && FProgress >= MinBodyProgress)
            ArmTimer(IdleTimeout, false);
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
    // A reset is the reason the request ended; the status line's phrase
    // ("OK") must not stand for it.
    if (Error)
        Fail(Error, NetSocketErrorText(Error));
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
