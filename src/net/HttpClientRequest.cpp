// The request: its header lines, the date they carry, and the posted body sent behind them.
#include "net/HttpClient.h"

#include <QDate>

#include <cmath>
#include <cstdio>

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
