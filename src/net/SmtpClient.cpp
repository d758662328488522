#include "net/SmtpClient.h"
#include "net/HttpClient.h" // Base64

#include <QDateTime>

#include <algorithm>
#include <filesystem>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace {
bool HasLineBreak(const std::string &s)
{
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

void CheckValue(const std::string &s)
{
    if (HasLineBreak(s))
        throw SmtpException("SMTP value holds a line break");
}

std::string UpperAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Splits text at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string &s)
{
    std::vector<std::string> out;
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            out.push_back(cur);
            cur.clear();
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
        } else {
            cur += s[i];
        }
    }
    out.push_back(cur);
    return out;
}

std::string Bracketed(const std::string &name)
{
    std::string t = NetTrim(name);
    if (t.find('<') != std::string::npos && t.find('>') != std::string::npos)
        return t;
    return "<" + t + ">";
}
} // namespace

std::string HmacMd5Hex(const std::string &Key, const std::string &Data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_md5(), Key.data(), static_cast<int>(Key.size()), reinterpret_cast<const unsigned char *>(Data.data()),
         Data.size(), out, &len);
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (unsigned int i = 0; i < len; ++i) {
        s += hex[out[i] >> 4];
        s += hex[out[i] & 15];
    }
    return s;
}

// ---------------------------------------------------------------- component

TCustomSmtpClient::TCustomSmtpClient()
{
    FWindow = new TMsgWindow([this](unsigned m, uint64_t w, int64_t l) { WndProc(m, w, l); });
    FWSocket = std::make_unique<TNetSocket>();
    TNetSocket &s = *FWSocket;
    s.OnDataAvailable = [this](TCustomNetSocket *, uint16_t) { SocketDataAvailable(); };
    s.OnDnsLookupDone = [this](TCustomNetSocket *, uint16_t e) { SocketDnsLookupDone(e); };
    s.OnSessionConnected = [this](TCustomNetSocket *, uint16_t e) { SocketSessionConnected(e); };
    s.OnSessionClosed = [this](TCustomNetSocket *, uint16_t e) { SocketSessionClosed(e); };
    s.OnDataSent = [this](TCustomNetSocket *, uint16_t) { SocketDataSent(); };
    s.OnError = [this](TCustomNetSocket *) { SocketError(); };
    // One block per read event: a flood of reply lines leaves the event loop
    // running between blocks.
    s.ComponentOptions |= wsoNoReceiveLoop;
    FTimer = std::make_unique<QTimer>();
    FTimer->setSingleShot(true);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerExpired(); });
}

TCustomSmtpClient::~TCustomSmtpClient()
{
    FWSocket->OnSessionClosed = nullptr;
    FWSocket->OnDnsLookupDone = nullptr;
    FWSocket.reset();
    FWindow->Detach();
    FWindow->deleteLater();
}

void TCustomSmtpClient::WndProc(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    if (Msg == WM_USER + 1 && OnRequestDone)
        OnRequestDone(this, static_cast<TSmtpRequest>(WParam), static_cast<uint16_t>(LParam));
}

void TCustomSmtpClient::StateChange(TSmtpState NewState)
{
    if (FState == NewState)
        return;
    FState = NewState;
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomSmtpClient::TriggerDisplay(const std::string &Msg)
{
    if (OnDisplay)
        OnDisplay(this, Msg);
}

void TCustomSmtpClient::CheckReady() const
{
    if (FState != smtpReady && FState != smtpInternalReady)
        throw SmtpException("SMTP component not ready");
}

void TCustomSmtpClient::CheckConnected() const
{
    if (!FConnected)
        throw SmtpException("SMTP component not connected");
}

// The end of one request (or of one step inside Open and Mail).
void TCustomSmtpClient::TriggerRequestDone(uint16_t Error)
{
    if (FRequestDoneFlag)
        return;
    FRequestDoneFlag = true;
    FWaitingReply = false;
    FDoneAsync = nullptr;
    FDataPhase = 0;
    FTimer->stop(); // the next step of an operation sets its own limit
    if (FHighLevelFlag) {
        StepDone(Error);
        return;
    }
    StateChange(smtpReady);
    FWindow->PostMessage(WM_USER + 1, FRequestType, Error);
}

void TCustomSmtpClient::LocalFailure(uint16_t Code, const std::string &Reply)
{
    FLastResponse = Reply;
    FStatusCode = 500;
    FRequestResult = Code;
    if (FErrorMessage.empty())
        FErrorMessage = Reply;
    TriggerDisplay(Reply);
}

void TCustomSmtpClient::FailRequest(uint16_t Code, const std::string &Reply)
{
    LocalFailure(Code, Reply);
    TriggerRequestDone(Code);
}

void TCustomSmtpClient::ArmTimer(int Ms, bool Connecting)
{
    FTimerConnecting = Connecting;
    if (Ms > 0)
        FTimer->start(Ms);
    else
        FTimer->stop();
}

void TCustomSmtpClient::TimerExpired()
{
    if (FRequestDoneFlag)
        return;
    const std::string code = " (Winsock error #" + std::to_string(WSAETIMEDOUT) + ")";
    if (FTimerConnecting)
        LocalFailure(WSAETIMEDOUT, "500 No connection within " + NetDurationText(ConnectTimeout) + code);
    else
        LocalFailure(WSAETIMEDOUT, "500 No reply from the server within " + NetDurationText(IdleTimeout) + code);
    TriggerRequestDone(WSAETIMEDOUT);
    FWSocket->Abort();
}

void TCustomSmtpClient::ReplyTooLarge(const std::string &Reply)
{
    FRcvBuf.clear();
    FReplyLines = 0;
    if (!FRequestDoneFlag)
        FailRequest(500, Reply);
    FWSocket->Abort();
}

void TCustomSmtpClient::SendCommand(const std::string &Cmd)
{
    if (OnCommand)
        OnCommand(this, Cmd);
    TriggerDisplay("> " + Cmd);
    if (FWSocket->State() == wsConnected)
        FWSocket->SendStr(Cmd + "\r\n");
}

void TCustomSmtpClient::ExecAsync(TSmtpRequest Rq, const std::string &Cmd, std::vector<int> Ok,
                                  std::function<void()> Done)
{
    CheckReady();
    CheckConnected();
    CheckValue(Cmd);
    if (!FHighLevelFlag)
        FRequestType = Rq;
    FCurrentCmd = Rq;
    FRequestDoneFlag = false;
    ExecInternal(Cmd, std::move(Ok), std::move(Done));
}

void TCustomSmtpClient::ExecInternal(const std::string &Cmd, std::vector<int> Ok, std::function<void()> Done)
{
    FOkResponses = std::move(Ok);
    FDoneAsync = std::move(Done);
    FWaitingReply = true;
    ArmTimer(IdleTimeout, false);
    StateChange(smtpWaitingResponse);
    SendCommand(Cmd);
}

// ---------------------------------------------------------------- socket side

void TCustomSmtpClient::Connect()
{
    CheckReady();
    if (FConnected)
        throw SmtpException("SMTP component already connected");
    if (!FHighLevelFlag)
        FRequestType = smtpRqConnect;
    FCurrentCmd = smtpRqConnect;
    FRequestDoneFlag = false;
    FESmtpSupported = false;
    FRcvBuf.clear();
    FReplyLines = 0;
    ArmTimer(ConnectTimeout, true);
    StateChange(smtpDnsLookup);
    FWSocket->DnsLookup(Host);
}

void TCustomSmtpClient::SocketError()
{
    if (FState == smtpDnsLookup || FState == smtpConnecting) {
        const int code = FWSocket->LastError() ? FWSocket->LastError() : WSAEINVAL;
        LocalFailure(static_cast<uint16_t>(code), "500 " + NetSocketErrorDesc(code) + " (Winsock error #" +
                                                      std::to_string(code) + ")");
        TriggerRequestDone(static_cast<uint16_t>(code));
    }
}

void TCustomSmtpClient::SocketDnsLookupDone(uint16_t Error)
{
    if (FState != smtpDnsLookup || FRequestDoneFlag)
        return;
    if (Error) {
        FailRequest(Error, "500 " + NetSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")");
        return;
    }
    TNetSocket &s = *FWSocket;
    StateChange(smtpConnecting);
    try {
        s.SetAddr(s.DnsResult());
        s.SetLocalAddr(LocalAddr);
        s.SetProto("tcp");
        s.SetPort(Port);
        s.Connect();
    } catch (const std::exception &e) {
        FailRequest(500, std::string("500 ") + e.what());
        s.Close();
        StateChange(smtpReady);
    }
}

void TCustomSmtpClient::SocketSessionConnected(uint16_t Error)
{
    if (FRequestDoneFlag)
        return;
    if (Error) {
        LocalFailure(500, "500 " + NetSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")");
        TriggerRequestDone(500);
        FWSocket->Close();
        return;
    }
    FConnected = true;
    ArmTimer(IdleTimeout, false); // for the banner
    StateChange(smtpWaitingBanner);
}

void TCustomSmtpClient::SocketSessionClosed(uint16_t Error)
{
    FConnected = false;
    FRcvBuf.clear();
    FTimer->stop();
    if (OnSessionClosed)
        OnSessionClosed(this, Error);
    if (!FRequestDoneFlag)
        TriggerRequestDone(FCurrentCmd == smtpRqQuit ? 0 : WSAEINTR);
}

void TCustomSmtpClient::SocketDataAvailable()
{
    // One block per event: a flood is taken in steps with the event loop
    // running between them, and every byte is looked at once.
    char block[16384];
    const int n = FWSocket->Receive(block, sizeof block);
    if (n <= 0)
        return;
    std::string data;
    data.swap(FRcvBuf);
    data.append(block, static_cast<size_t>(n));
    size_t pos = 0;
    for (;;) {
        const size_t lf = data.find('\n', pos);
        if (lf == std::string::npos)
            break;
        if (lf + 1 - pos >= MaxReplyLine) {
            // A reply line this long is not cut into pieces: the request fails.
            ReplyTooLarge("500 Reply line too long");
            return;
        }
        std::string line = data.substr(pos, lf - pos);
        pos = lf + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (++FReplyLines > MaxReplyLines) {
            ReplyTooLarge("500 Reply has too many lines");
            return;
        }
        HandleLine(line);
        if (!FConnected)
            return;
    }
    if (data.size() - pos >= MaxReplyLine - 1) {
        ReplyTooLarge("500 Reply line too long");
        return;
    }
    FRcvBuf.assign(data, pos, std::string::npos);
}

void TCustomSmtpClient::HandleLine(const std::string &Line)
{
    FLastResponse = Line;
    if (OnResponse)
        OnResponse(this, Line);
    // A reply line is three digits, then a blank, a "-" or nothing: "2500 x"
    // is no reply 250, and a code that cannot be read counts as 0 (a failure).
    const bool wellFormed =
        Line.size() >= 3 && std::all_of(Line.begin(), Line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
        (Line.size() == 3 || Line[3] == ' ' || Line[3] == '-');
    const bool continuation = wellFormed && Line.size() > 3 && Line[3] == '-';
    const int code = wellFormed ? std::stoi(Line.substr(0, 3)) : 0;
    if (FState == smtpWaitingBanner) {
        TriggerDisplay("< " + Line);
        if (continuation)
            return;
        FReplyLines = 0;
        FTimer->stop();
        FStatusCode = code;
        if (code != 220) {
            if (FErrorMessage.empty())
                FErrorMessage = Line;
            FRequestResult = static_cast<uint16_t>(code ? code : 500);
            TriggerRequestDone(FRequestResult);
            FWSocket->Close();
            return;
        }
        StateChange(smtpConnected);
        if (OnSessionConnected)
            OnSessionConnected(this, 0);
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    if (FState != smtpWaitingResponse || !FWaitingReply) {
        TriggerDisplay(Line);
        return;
    }
    TriggerDisplay("< " + Line);
    if (continuation)
        return;
    FReplyLines = 0;
    FTimer->stop();
    FStatusCode = code;
    if (!FOkResponses.empty())
        FRequestResult = std::find(FOkResponses.begin(), FOkResponses.end(), code) != FOkResponses.end()
                             ? 0
                             : static_cast<uint16_t>(code ? code : 500);
    else
        FRequestResult = (code >= 500 || code == 0) ? static_cast<uint16_t>(code ? code : 500) : 0;
    if (FRequestResult && FErrorMessage.empty())
        FErrorMessage = Line;
    FWaitingReply = false;
    if (FDoneAsync) {
        std::function<void()> d = std::move(FDoneAsync);
        FDoneAsync = nullptr;
        StateChange(smtpInternalReady);
        d();
        return;
    }
    if (FCurrentCmd == smtpRqQuit && FConnected && FRequestResult == 0) {
        ArmTimer(IdleTimeout, false); // ends when the server closes
        return;
    }
    TriggerRequestDone(FRequestResult);
}

// ---------------------------------------------------------------- commands

static std::string SignOnName(const std::string &SignOn)
{
    if (!SignOn.empty())
        return SignOn;
    try {
        return LocalHostName();
    } catch (const std::exception &) {
        return "localhost";
    }
}

void TCustomSmtpClient::Helo()
{
    ExecAsync(smtpRqHelo, "HELO " + SignOnName(SignOn), {250}, nullptr);
}

void TCustomSmtpClient::Ehlo()
{
    ExecAsync(smtpRqEhlo, "EHLO " + SignOnName(SignOn), {250}, [this] {
        if (FRequestResult == 0)
            FESmtpSupported = true;
        TriggerRequestDone(FRequestResult);
    });
}

void TCustomSmtpClient::Auth()
{
    CheckReady();
    CheckConnected();
    if (!FHighLevelFlag)
        FRequestType = smtpRqAuth;
    FCurrentCmd = smtpRqAuth;
    if (!FESmtpSupported) {
        FRequestDoneFlag = false;
        FailRequest(500, "500 ESMTP not supported.");
        return;
    }
    switch (AuthType) {
    case smtpAuthNone:
        FRequestDoneFlag = false;
        FailRequest(500, "500 No Authorization Type Selected.");
        return;
    case smtpAuthPlain:
        // authorisation identity, authentication identity, password
        ExecAsync(smtpRqAuth, "AUTH PLAIN " + Base64Encode(Username + std::string(1, '\0') + Username +
                                                           std::string(1, '\0') + Password),
                  {235}, nullptr);
        return;
    case smtpAuthLogin:
        ExecAsync(smtpRqAuth, "AUTH LOGIN", {334}, [this] {
            if (FRequestResult) {
                TriggerRequestDone(FRequestResult);
                return;
            }
            ExecInternal(Base64Encode(Username), {334}, [this] {
                if (FRequestResult) {
                    TriggerRequestDone(FRequestResult);
                    return;
                }
                ExecInternal(Base64Encode(Password), {235}, nullptr);
            });
        });
        return;
    case smtpAuthCramMD5:
        ExecAsync(smtpRqAuth, "AUTH CRAM-MD5", {334}, [this] {
            if (FRequestResult) {
                TriggerRequestDone(FRequestResult);
                return;
            }
            const std::string reply = FLastResponse;
            if (reply.size() < 5) {
                FailRequest(500, "500 Malformed MD5 Challege: " + reply);
                return;
            }
            const std::string challenge = Base64Decode(reply.substr(4));
            ExecInternal(Base64Encode(Username + " " + HmacMd5Hex(Password, challenge)), {235}, nullptr);
        });
        return;
    }
}

void TCustomSmtpClient::Vrfy()
{
    ExecAsync(smtpRqVrfy, "VRFY " + HdrTo, {250}, nullptr);
}

void TCustomSmtpClient::MailFrom()
{
    ExecAsync(smtpRqMailFrom, "MAIL FROM:" + Bracketed(FromName), {250}, nullptr);
}

void TCustomSmtpClient::RcptTo()
{
    if (RcptName.empty())
        throw SmtpException("RcptName list is empty");
    for (const std::string &r : RcptName)
        CheckValue(r);
    FRcptIdx = 0;
    ExecAsync(smtpRqRcptTo, "RCPT TO:" + Bracketed(RcptName[0]), {250, 251}, [this] { RcptToNext(); });
}

void TCustomSmtpClient::RcptToNext()
{
    if (FRequestResult != 0 || ++FRcptIdx >= RcptName.size()) {
        TriggerRequestDone(FRequestResult);
        return;
    }
    ExecInternal("RCPT TO:" + Bracketed(RcptName[FRcptIdx]), {250, 251}, [this] { RcptToNext(); });
}

void TCustomSmtpClient::BuildHeader(std::vector<std::string> &Lines)
{
    if (OwnHeaders)
        return;
    // A header is ASCII: names and the subject outside it travel as encoded
    // words; the addresses themselves are never changed.
    if (!NetTrim(HdrReplyTo).empty())
        Lines.push_back("Reply-To: " + EncodeHeaderAddresses(HdrReplyTo));
    if (!NetTrim(HdrReturnPath).empty())
        Lines.push_back("Return-Path: " + HdrReturnPath);
    if (!HdrFrom.empty())
        Lines.push_back("From: " + EncodeHeaderAddresses(HdrFrom));
    if (!HdrTo.empty())
        Lines.push_back("To: " + EncodeHeaderAddresses(HdrTo));
    if (!HdrCc.empty())
        Lines.push_back("Cc: " + EncodeHeaderAddresses(HdrCc));
    Lines.push_back("Subject: " + EncodeHeaderText(HdrSubject));
    if (!NetTrim(HdrSender).empty())
        Lines.push_back("Sender: " + EncodeHeaderAddresses(HdrSender));
    else if (!NetTrim(HdrFrom).empty())
        Lines.push_back("Sender: " + EncodeHeaderAddresses(HdrFrom));
    Lines.push_back("Mime-Version: 1.0");
    Lines.push_back("Content-Type: " + ContentTypeText() + "; charset=\"" + CharSet + "\"");
    static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    char date[80];
    std::snprintf(date, sizeof date, "%s, %d %s %4d %02d:%02d:%02d GMT", days[now.date().dayOfWeek() % 7],
                  now.date().day(), months[now.date().month() - 1], now.date().year(), now.time().hour(),
                  now.time().minute(), now.time().second());
    Lines.push_back(std::string("Date: ") + date);
    Lines.push_back("X-Mailer: Norvik SMTP Component V2.32");
}

void TCustomSmtpClient::Data()
{
    for (const std::string *v : {&HdrFrom, &HdrTo, &HdrCc, &HdrReplyTo, &HdrReturnPath, &HdrSubject, &HdrSender,
                                 &CharSet})
        CheckValue(*v);
    CheckReady();
    CheckConnected();
    std::vector<std::string> lines;
    BuildHeader(lines);
    if (OnProcessHeader)
        OnProcessHeader(this, lines);
    if (!OwnHeaders)
        lines.push_back("");
    FHdrLines = std::move(lines);
    FHdrIdx = 0;
    FLineNum = 1;
    ExecAsync(smtpRqData, "DATA", {354}, [this] {
        if (FRequestResult) {
            TriggerRequestDone(FRequestResult);
            return;
        }
        StateChange(smtpWaitingResponse);
        FDataPhase = 1;
        ArmTimer(IdleTimeout, false); // a server that takes nothing in is a silent one
        SendDataLines();
    });
}

void TCustomSmtpClient::TriggerHeaderLine(std::string &Line)
{
    if (OnHeaderLine)
        OnHeaderLine(this, Line, 1024);
}

void TCustomSmtpClient::TriggerGetData(int LineNum, std::string &MsgLine, bool &More)
{
    if (OnGetData)
        OnGetData(this, LineNum, MsgLine, 1023, More);
    else
        More = false;
}

void TCustomSmtpClient::SendDataLine(const std::string &Line)
{
    // A line that starts with "." would otherwise end the message early.
    const std::string out = (!Line.empty() && Line[0] == '.') ? "." + Line : Line;
    FWSocket->SendStr(out + "\r\n");
}

void TCustomSmtpClient::SendDataLines()
{
    // Several lines per data-sent event keep large messages quick; the queue
    // never holds much more than this.
    size_t budget = 16384;
    try {
        while (FDataPhase != 0 && FConnected && budget > 0) {
            if (FDataPhase == 1) {
                if (FHdrIdx >= FHdrLines.size()) {
                    FDataPhase = 2;
                    continue;
                }
                std::string line = FHdrLines[FHdrIdx++];
                TriggerHeaderLine(line);
                TriggerDisplay("> " + line);
                FWSocket->SendStr(line + "\r\n");
                budget -= std::min(budget, line.size() + 2);
                continue;
            }
            std::string line;
            bool more = true;
            TriggerGetData(FLineNum++, line, more);
            if (!more) {
                FDataPhase = 0;
                ExecInternal(".", {250}, nullptr);
                return;
            }
            for (const std::string &l : SplitLines(line)) {
                SendDataLine(l);
                budget -= std::min(budget, l.size() + 2);
            }
        }
    } catch (const std::exception &e) {
        // The message cannot be completed; ending DATA would deliver it cut short.
        FDataPhase = 0;
        FailRequest(500, std::string("500 ") + e.what());
        FWSocket->Abort();
    }
}

void TCustomSmtpClient::SocketDataSent()
{
    if (FDataPhase != 0) {
        ArmTimer(IdleTimeout, false); // the server takes the message in
        SendDataLines();
    }
}

void TCustomSmtpClient::Quit()
{
    CheckReady();
    if (!FConnected) {
        if (!FHighLevelFlag)
            FRequestType = smtpRqQuit;
        FCurrentCmd = smtpRqQuit;
        FRequestDoneFlag = false;
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    ExecAsync(smtpRqQuit, "QUIT", {221}, nullptr);
}

void TCustomSmtpClient::Rset()
{
    ExecAsync(smtpRqRset, "RSET", {250}, nullptr);
}

void TCustomSmtpClient::Abort()
{
    StateChange(smtpAbort);
    FWSocket->CancelDnsLookup();
    FWSocket->Abort();
    FDataPhase = 0;
    FWaitingReply = false;
    StateChange(smtpReady);
}

// ---------------------------------------------------------------- high-level operations

void TCustomSmtpClient::Open()
{
    std::set<int> steps{smtpFctConnect};
    if (AuthType == smtpAuthNone) {
        steps.insert(smtpFctHelo);
    } else {
        steps.insert(smtpFctEhlo);
        steps.insert(smtpFctAuth);
    }
    StartHighLevel(smtpRqOpen, steps);
}

void TCustomSmtpClient::Mail()
{
    StartHighLevel(smtpRqMail, {smtpFctMailFrom, smtpFctRcptTo, smtpFctData});
}

void TCustomSmtpClient::StartHighLevel(TSmtpRequest Kind, std::set<int> Steps)
{
    CheckReady();
    if (Steps.count(smtpFctConnect) && FConnected)
        throw SmtpException("SMTP component already connected");
    FErrorMessage.clear();
    FHighLevelFlag = true;
    FHighLevelKind = Kind;
    FRequestType = Kind;
    FHighLevelResult = 0;
    FFctSet = std::move(Steps);
    NextStep();
}

void TCustomSmtpClient::NextStep()
{
    static const int order[] = {smtpFctConnect, smtpFctHelo,     smtpFctEhlo, smtpFctAuth, smtpFctVrfy,
                                smtpFctMailFrom, smtpFctRcptTo, smtpFctData, smtpFctQuit};
    if (FState == smtpAbort) {
        FFctSet.clear();
        FHighLevelResult = 426;
        FLastResponse = "426 Operation aborted.";
    }
    for (int step : order) {
        if (!FFctSet.count(step))
            continue;
        FFctSet.erase(step);
        FFctPrv = step;
        try {
            switch (step) {
            case smtpFctConnect: Connect(); break;
            case smtpFctHelo: Helo(); break;
            case smtpFctEhlo: Ehlo(); break;
            case smtpFctAuth: Auth(); break;
            case smtpFctVrfy: Vrfy(); break;
            case smtpFctMailFrom: MailFrom(); break;
            case smtpFctRcptTo: RcptTo(); break;
            case smtpFctData: Data(); break;
            case smtpFctQuit: Quit(); break;
            default: break;
            }
        } catch (const std::exception &e) {
            // A refused step ends the operation like a failing reply.
            FRequestDoneFlag = false;
            FailRequest(500, std::string("500 ") + e.what());
        }
        return;
    }
    FHighLevelFlag = false;
    StateChange(smtpReady);
    FWindow->PostMessage(WM_USER + 1, FHighLevelKind, FHighLevelResult);
}

void TCustomSmtpClient::StepDone(uint16_t Error)
{
    if (Error) {
        if (FHighLevelResult == 0)
            FHighLevelResult = Error;
        if (FFctPrv == smtpFctEhlo) {
            // The server may still speak plain SMTP: say HELO, but the operation
            // that asked for authentication has failed.
            FFctSet = {smtpFctHelo};
        } else {
            const bool quit = FFctSet.count(smtpFctQuit) && FFctPrv != smtpFctQuit;
            FFctSet.clear();
            if (quit)
                FFctSet.insert(smtpFctQuit);
        }
    }
    if (FState != smtpAbort)
        StateChange(smtpInternalReady);
    NextStep();
}

// ---------------------------------------------------------------- attachments

void TSmtpClient::SetEmailFiles(const std::vector<std::string> &Files)
{
    std::vector<std::string> kept;
    for (const std::string &f : Files) {
        std::string t = NetTrim(f);
        if (t.empty())
            continue;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(t, ec))
            throw SmtpException("File not found '" + t + "'");
        kept.push_back(t);
    }
    FEmailFiles = std::move(kept);
}

void TSmtpClient::BuildHeader(std::vector<std::string> &Lines)
{
    TCustomSmtpClient::BuildHeader(Lines);
    if (FEmailFiles.empty())
        return;
    for (std::string &l : Lines) {
        if (UpperAscii(l.substr(0, 13)) == "CONTENT-TYPE:") {
            l = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + FBoundary + "\"";
            break;
        }
    }
}

void TSmtpClient::Data()
{
    FText.clear();
    FTextIdx = 0;
    FPhase = 0;
    FFileIdx = 0;
    FPending.clear();
    FPendingIdx = 0;
    FInFile = false;
    if (FFile.is_open())
        FFile.close();
    if (!FEmailFiles.empty()) {
        const QDateTime now = QDateTime::currentDateTime();
        FBoundary = "= Multipart Boundary " + now.toString("MMddyyhhmm").toStdString();
        FText.push_back("This is a multipart MIME message.");
        FText.push_back("");
        FText.push_back("--" + FBoundary);
        FText.push_back("Content-Type: " + ContentTypeText() + "; charset=\"" + CharSet + "\"");
        FText.push_back("Content-Transfer-Encoding: 7bit");
        FText.push_back("");
    }
    for (const std::string &m : MailMessage)
        for (const std::string &l : SplitLines(m))
            FText.push_back(l);
    TCustomSmtpClient::Data();
}

bool TSmtpClient::NextAttachmentLine(std::string &Line)
{
    for (;;) {
        if (FPendingIdx < FPending.size()) {
            Line = FPending[FPendingIdx++];
            return true;
        }
        if (FInFile) {
            char buf[45];
            FFile.read(buf, sizeof buf);
            const std::streamsize n = FFile.gcount();
            if (n > 0) {
                Line = Base64Encode(std::string(buf, static_cast<size_t>(n)));
                return true;
            }
            if (FFile.bad())
                throw SmtpException("Cannot read attachment '" + FEmailFiles[FFileIdx - 1] + "'");
            FFile.close();
            FInFile = false;
            continue;
        }
        if (FFileIdx < FEmailFiles.size()) {
            const std::string path = FEmailFiles[FFileIdx];
            const int number = static_cast<int>(FFileIdx);
            ++FFileIdx;
            std::string name = std::filesystem::path(path).filename().string();
            std::string type = "application/octet-stream";
            std::string shownName = name;
            if (OnAttachContentType)
                OnAttachContentType(this, number, shownName, type);
            FFile.clear();
            FFile.open(path, std::ios::binary);
            if (!FFile)
                throw SmtpException("Cannot open attachment '" + path + "'");
            FPending = {"--" + FBoundary,
                        "Content-Type: " + type + ";",
                        "\tname=\"" + shownName + "\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        "\tfilename=\"" + name + "\""};
            if (OnAttachHeader) {
                std::vector<std::string> extra;
                OnAttachHeader(this, number, path, extra);
                FPending.insert(FPending.end(), extra.begin(), extra.end());
            }
            FPending.push_back("");
            FPendingIdx = 0;
            FInFile = true;
            continue;
        }
        return false;
    }
}

void TSmtpClient::TriggerGetData(int LineNum, std::string &MsgLine, bool &More)
{
    More = true;
    if (FPhase == 0) {
        if (FTextIdx < FText.size()) {
            MsgLine = FText[FTextIdx++];
            return;
        }
        FPhase = 1;
    }
    if (FPhase == 1) {
        if (OnGetData) {
            bool more = true;
            MsgLine.clear();
            OnGetData(this, LineNum, MsgLine, 1023, more);
            if (more)
                return;
        }
        FPhase = FEmailFiles.empty() ? 3 : 2;
    }
    if (FPhase == 2) {
        if (NextAttachmentLine(MsgLine))
            return;
        FPending = {"", "--" + FBoundary + "--"};
        FPendingIdx = 0;
        FPhase = 4;
    }
    if (FPhase == 4) {
        if (FPendingIdx < FPending.size()) {
            MsgLine = FPending[FPendingIdx++];
            return;
        }
        FPhase = 3;
    }
    More = false;
}
