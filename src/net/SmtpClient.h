#pragma once
// SMTP client component: an asynchronous dialogue over an owned TNetSocket.
// Each request ends with one OnRequestDone posted to the component's window;
// Open and Mail chain several commands. TSmtpClient adds MIME attachments.
#include "net/NetSocket.h"

#include <QTimer>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

enum TSmtpState {
    smtpReady, smtpDnsLookup, smtpConnecting, smtpConnected, smtpInternalReady, smtpWaitingBanner,
    smtpWaitingResponse, smtpAbort
};
enum TSmtpAuthType { smtpAuthNone, smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5 };
enum TSmtpContentType { smtpHTML, smtpPlainText };
enum TSmtpRequest {
    smtpRqConnect = 0, smtpRqHelo = 1, smtpRqMailFrom = 2, smtpRqVrfy = 3, smtpRqRcptTo = 4, smtpRqData = 5,
    smtpRqQuit = 6, smtpRqRset = 7, smtpRqOpen = 8, smtpRqMail = 9, smtpRqEhlo = 10, smtpRqAuth = 11
};
// Steps of the high-level operations.
enum TSmtpFct {
    smtpFctHelo = 1, smtpFctConnect = 2, smtpFctMailFrom = 3, smtpFctRcptTo = 4, smtpFctData = 5, smtpFctVrfy = 6,
    smtpFctQuit = 7, smtpFctRset = 8, smtpFctEhlo = 9, smtpFctAuth = 10
};

class SmtpException : public std::runtime_error {
public:
    explicit SmtpException(const std::string &Msg) : std::runtime_error(Msg) {}
};

// HMAC-MD5 of Data keyed with Key, as 32 lower-case hexadecimal digits.
std::string HmacMd5Hex(const std::string &Key, const std::string &Data);

class TCustomSmtpClient;
using TSmtpDisplay = std::function<void(TCustomSmtpClient *Sender, const std::string &Msg)>;
// MsgLine may hold several lines (CR LF, LF or CR); each is sent as a line of its own.
using TSmtpGetDataEvent =
    std::function<void(TCustomSmtpClient *Sender, int LineNum, std::string &MsgLine, int MaxLen, bool &More)>;
using TSmtpHeaderLineEvent = std::function<void(TCustomSmtpClient *Sender, std::string &Msg, int Size)>;
using TSmtpProcessHeaderEvent = std::function<void(TCustomSmtpClient *Sender, std::vector<std::string> &HdrLines)>;
using TSmtpRequestDone = std::function<void(TCustomSmtpClient *Sender, TSmtpRequest RqType, uint16_t ErrorCode)>;
using TSmtpSessionEvent = std::function<void(TCustomSmtpClient *Sender, uint16_t Error)>;
using TSmtpNotify = std::function<void(TCustomSmtpClient *Sender)>;
using TSmtpAttachmentContentType =
    std::function<void(TCustomSmtpClient *Sender, int FileNumber, std::string &FileName, std::string &ContentType)>;
using TSmtpAttachHeader = std::function<void(TCustomSmtpClient *Sender, int FileNumber, const std::string &FileName,
                                             std::vector<std::string> &HdrLines)>;

class TCustomSmtpClient {
public:
    TCustomSmtpClient();
    virtual ~TCustomSmtpClient();
    TCustomSmtpClient(const TCustomSmtpClient &) = delete;
    TCustomSmtpClient &operator=(const TCustomSmtpClient &) = delete;

    virtual void Connect();
    virtual void Helo();
    virtual void Ehlo();
    virtual void Auth();
    virtual void Vrfy();
    virtual void MailFrom();
    virtual void RcptTo();
    virtual void Data();
    virtual void Quit();
    virtual void Rset();
    virtual void Abort();
    virtual void Open();
    virtual void Mail();

    std::string Host;
    std::string LocalAddr = "0.0.0.0";
    std::string Port = "smtp";
    std::string SignOn;
    std::string Username, Password;
    TSmtpAuthType AuthType = smtpAuthNone;
    std::string FromName;
    std::vector<std::string> RcptName;
    std::vector<std::string> MailMessage;
    std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
    std::string CharSet = "iso-8859-1";
    TSmtpContentType ContentType = smtpPlainText;
    int Tag = 0;
    bool OwnHeaders = false;
    TSmtpState State() const { return FState; }
    const std::string &ErrorMessage() const { return FErrorMessage; }
    const std::string &LastResponse() const { return FLastResponse; }
    TNetSocket &CtrlSocket() { return *FWSocket; }

    TSmtpDisplay OnDisplay, OnCommand, OnResponse;
    TSmtpGetDataEvent OnGetData;
    TSmtpHeaderLineEvent OnHeaderLine;
    TSmtpProcessHeaderEvent OnProcessHeader;
    TSmtpRequestDone OnRequestDone;
    TSmtpSessionEvent OnSessionConnected, OnSessionClosed;
    TSmtpNotify OnStateChange;

    // A reply line, with its CR LF, must be shorter than this.
    static constexpr size_t MaxReplyLine = 4096;
    // Most lines one reply may have (continuation lines included); a longer
    // reply, or as many lines nobody waits for, fails the request and drops
    // the connection.
    size_t MaxReplyLines = 1000;
    // Time limits in milliseconds (0: none). ConnectTimeout runs from the
    // name lookup until the connection is up; IdleTimeout bounds the wait for
    // each whole reply after its command, and each stall while the message
    // goes out. Either ends the request with WSAETIMEDOUT (10060) and a
    // reply text that says which limit passed.
    int ConnectTimeout = 30000;
    int IdleTimeout = 60000;

protected:
    virtual void TriggerDisplay(const std::string &Msg);
    virtual void TriggerRequestDone(uint16_t Error);
    virtual void TriggerGetData(int LineNum, std::string &MsgLine, bool &More);
    virtual void TriggerHeaderLine(std::string &Line);
    virtual void SendCommand(const std::string &Cmd);
    virtual void WndProc(unsigned Msg, uint64_t WParam, int64_t LParam);
    // Fails the running request with a local reply text and code.
    void FailRequest(uint16_t Code, const std::string &Reply);
    void StateChange(TSmtpState NewState);
    void CheckReady() const;
    void CheckConnected() const;
    std::string ContentTypeText() const { return ContentType == smtpHTML ? "text/html" : "text/plain"; }
    // Builds the header lines of the message (unless OwnHeaders).
    virtual void BuildHeader(std::vector<std::string> &Lines);

private:
    void ExecAsync(TSmtpRequest Rq, const std::string &Cmd, std::vector<int> Ok, std::function<void()> Done);
    void ExecInternal(const std::string &Cmd, std::vector<int> Ok, std::function<void()> Done);
    void HandleLine(const std::string &Line);
    void SocketDataAvailable();
    void SocketDnsLookupDone(uint16_t Error);
    void SocketSessionConnected(uint16_t Error);
    void SocketSessionClosed(uint16_t Error);
    void SocketDataSent();
    void SocketError();
    void SendDataLines();
    void SendDataLine(const std::string &Line);
    void StartHighLevel(TSmtpRequest Kind, std::set<int> Steps);
    void NextStep();
    void StepDone(uint16_t Error);
    void RcptToNext();
    void LocalFailure(uint16_t Code, const std::string &Reply);
    void ArmTimer(int Ms, bool Connecting);
    void TimerExpired();
    // A reply line that breaks a bound: the request fails and the connection goes.
    void ReplyTooLarge(const std::string &Reply);

    std::unique_ptr<TNetSocket> FWSocket;
    std::unique_ptr<QTimer> FTimer;
    bool FTimerConnecting = false;
    size_t FReplyLines = 0; // lines since the last awaited reply ended
    TMsgWindow *FWindow = nullptr;
    TSmtpState FState = smtpReady;
    bool FConnected = false;
    bool FESmtpSupported = false;
    TSmtpRequest FRequestType = smtpRqConnect;
    TSmtpRequest FCurrentCmd = smtpRqConnect;
    bool FRequestDoneFlag = true;
    std::string FRcvBuf;
    int FStatusCode = 0;
    uint16_t FRequestResult = 0;
    std::vector<int> FOkResponses;
    std::function<void()> FDoneAsync;
    bool FWaitingReply = false;
    std::set<int> FFctSet;
    int FFctPrv = 0;
    bool FHighLevelFlag = false;
    TSmtpRequest FHighLevelKind = smtpRqOpen;
    uint16_t FHighLevelResult = 0;
    std::string FErrorMessage;
    std::string FLastResponse;
    std::vector<std::string> FHdrLines;
    size_t FHdrIdx = 0;
    int FDataPhase = 0; // 0 none, 1 header, 2 message lines
    int FLineNum = 0;
    size_t FRcptIdx = 0;
};

class TSmtpClient : public TCustomSmtpClient {
public:
    // Keeps trimmed, non-empty names; refuses (and changes nothing) when a file is missing.
    void SetEmailFiles(const std::vector<std::string> &Files);
    const std::vector<std::string> &EmailFiles() const { return FEmailFiles; }
    void Data() override;

    TSmtpAttachmentContentType OnAttachContentType;
    TSmtpAttachHeader OnAttachHeader;

protected:
    void TriggerGetData(int LineNum, std::string &MsgLine, bool &More) override;
    void BuildHeader(std::vector<std::string> &Lines) override;

private:
    bool NextAttachmentLine(std::string &Line);

    std::vector<std::string> FEmailFiles;
    std::vector<std::string> FText;
    size_t FTextIdx = 0;
    std::string FBoundary;
    int FPhase = 0; // 0 prepared text, 1 caller's lines, 2 attachments, 3 done
    size_t FFileIdx = 0;
    std::vector<std::string> FPending; // lines of the current attachment header
    size_t FPendingIdx = 0;
    std::ifstream FFile;
    bool FInFile = false;
    bool FFileFailed = false;
};
