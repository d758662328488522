#pragma once
// Non-blocking TCP/UDP socket component on the GUI thread.
//
// Each socket owns a hidden "window": a QObject that receives the messages the
// socket posts to itself and that Qt drops when the object goes. Network
// readiness comes from QSocketNotifiers and is turned into the WinSock
// notification rules the layers above rely on:
//   - one read event until the handler reads (the read notifier is off between);
//   - the write notifier is on only during a connect and after a send would block;
//   - the close is reported once, after the data;
//   - an immediate connect failure still arrives as a connect event.
// Every posted network message carries the connection's serial, so nothing
// meant for a closed connection reaches a new one that got the same descriptor.
// No exception leaves a dispatch: it goes to HandleBackGroundException.
//
// Layers: TCustomNetSocket (sockets), TCustomSocksNetSocket (SOCKS 4/4A/5),
// TCustomLineNetSocket (line mode), TCustomSyncNetSocket (waits), TNetSocket.
#include "net/NetSockBuf.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

constexpr unsigned WM_USER = 0x400;

// A component's hidden window: posted messages reach the handler on the thread
// that owns the object; messages still queued when it is destroyed are dropped.
class TMsgWindow : public QObject {
public:
    using THandler = std::function<void(unsigned Msg, uint64_t WParam, int64_t LParam)>;
    explicit TMsgWindow(THandler Handler);
    ~TMsgWindow() override;
    void PostMessage(unsigned Msg, uint64_t WParam = 0, int64_t LParam = 0);
    // Forgets the handler and drops what is queued; later messages do nothing.
    void Detach();
    static int EventType();

protected:
    void customEvent(QEvent *Ev) override;

private:
    THandler FHandler;
};

enum TSocketState { wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TNetSocketOption { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2 };
using TNetSocketOptions = unsigned;

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart = 0, socksAuthSuccess = 1, socksAuthFailure = 2, socksAuthNotRequired = 3 };

// Network event bits and the error in the high word, as WinSock packs them.
enum : int { FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

class TCustomNetSocket;
using TSocketEvent = std::function<void(TCustomNetSocket *Sender, uint16_t Error)>;
using TSendData = std::function<void(TCustomNetSocket *Sender, int BytesSent)>;
using TChangeState = std::function<void(TCustomNetSocket *Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TCustomNetSocket *Sender)>;
using TBgExceptionEvent = std::function<void(TCustomNetSocket *Sender, const std::exception &E, bool &CanClose)>;
using TSocksErrorEvent = std::function<void(TCustomNetSocket *Sender, int Error, const std::string &Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomNetSocket *Sender, TSocksAuthState AuthState)>;
using TLineLimitEvent = std::function<void(TCustomNetSocket *Sender, int RcvdLength, bool &ClearData)>;

struct TLookupJob;

class TCustomNetSocket {
public:
    TCustomNetSocket();
    virtual ~TCustomNetSocket();
    TCustomNetSocket(const TCustomNetSocket &) = delete;
    TCustomNetSocket &operator=(const TCustomNetSocket &) = delete;

    // Operations
    virtual void Connect();
    virtual void Close();
    void CloseDelayed();
    // Destroys the component from its own message (it must have been made with new).
    void Release();
    virtual void Abort();
    void Flush();
    void WaitForClose();
    virtual void Listen();
    int Accept();
    void Dup(int Handle);
    void Shutdown(int How);
    void Pause();
    void Resume();
    int Send(const void *Data, int Len);
    int SendStr(const std::string &S);
    int SendTo(uint32_t AddrNetOrder, uint16_t PortHostOrder, const void *Data, int Len);
    int Receive(void *Buffer, int Len);
    std::string ReceiveStr();
    int ReceiveFrom(void *Buffer, int Len, uint32_t &FromAddr, uint16_t &FromPort);
    void DnsLookup(const std::string &HostName);
    void ReverseDnsLookup(const std::string &HostAddr);
    void CancelDnsLookup();
    void ProcessMessages();
    void PostMessage(unsigned Msg, uint64_t WParam = 0, int64_t LParam = 0);

    // Properties
    const std::string &Addr() const { return FAddrStr; }
    void SetAddr(const std::string &V);
    const std::string &Port() const { return FPortStr; }
    virtual void SetPort(const std::string &V);
    const std::string &Proto() const { return FProtoStr; }
    virtual void SetProto(const std::string &V);
    const std::string &LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string &V);
    const std::string &LocalPort() const { return FLocalPortStr; }
    void SetLocalPort(const std::string &V);
    std::string PeerAddr() const;
    std::string PeerPort() const;
    std::string GetXAddr() const;
    std::string GetXPort() const;
    const std::string &DnsResult() const { return FDnsResult; }
    const std::vector<std::string> &DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    // Bytes received since the socket was opened; 64-bit, as a peer decides how much.
    int64_t ReadCount() const { return FReadCount; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    int HSocket() const { return FHSocket; }
    bool AllSent() const { return FAllSent; }
    TSocketSendFlags SendFlags() const { return FSendFlags; }
    void SetSendFlags(int Flags);

    bool MultiThreaded = false;
    bool MultiCast = false;
    std::string MultiCastAddrStr;
    int MultiCastIpTTL = 1;
    bool ReuseAddr = false;
    TNetSocketOptions ComponentOptions = 0;
    int FlushTimeout = 60;
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;

    TSocketEvent OnDataAvailable, OnDataSent, OnSessionClosed, OnSessionAvailable, OnSessionConnected,
        OnDnsLookupDone;
    TSendData OnSendData;
    TChangeState OnChangeState;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

protected:
    virtual void WndProc(unsigned Msg, uint64_t WParam, int64_t LParam);
    virtual void AssignDefaultValue();
    virtual void InternalClose(bool bShut, uint16_t Error);
    virtual int GetRcvdCount();
    virtual void BindSocket();
    virtual int RealSend(const char *Data, int Len);
    virtual void RaiseException(const std::string &Msg);
    virtual void HandleBackGroundException(const std::exception &E);
    virtual bool TriggerDataAvailable(uint16_t Error);
    virtual void TriggerSessionAvailable(uint16_t Error);
    virtual void TriggerSessionConnected(uint16_t Error);
    virtual void TriggerSessionClosed(uint16_t Error);
    virtual void TriggerDataSent(uint16_t Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDNSLookupDone(uint16_t Error);
    virtual void TriggerError();
    virtual int DoRecv(void *Buffer, int Len);
    virtual int DoRecvFrom(void *Buffer, int Len, uint32_t &FromAddr, uint16_t &FromPort);

    // Runs a piece of event dispatch and routes any exception to the background path.
    template <class F> void Guarded(F &&f);
    void ChangeState(TSocketState NewState);
    // The checks every Connect starts with (socket free, port and address
    // given); false, after raising the error, when one fails.
    bool ReadyToConnect();
    void SocketError(const std::string &Func);
    bool TryToSend();
    void DeleteBufferedData();
    void ReceiveLoop(uint16_t Error, TNetSocketOptions Options);
    void HandleNetEvent(uint64_t Tag, int Events, int Error);
    uint64_t Tag() const;
    // Bytes taken from the network since the socket was created; a receive
    // pass that leaves it unchanged consumed nothing.
    uint64_t NetConsumed() const { return FNetConsumed; }
    bool Destroying() const { return FDestroying; }
    // False once the component is destroyed; kept by waits that run the event loop.
    std::shared_ptr<bool> FAlive;

    TMsgWindow *FWindow = nullptr;
    int FHSocket = -1;
    int FType = 1; // 1 stream, 2 datagram, 3 raw
    int FProtocol = 6;
    uint32_t FSinAddr = 0;   // remote address, network order
    uint16_t FSinPort = 0;   // remote port, network order
    uint16_t FLocalPortNum = 0;
    std::string FAddrStr, FPortStr, FProtoStr = "tcp", FLocalAddr = "0.0.0.0", FLocalPortStr = "0";
    bool FAddrAssigned = false, FPortAssigned = false, FProtoAssigned = true, FLocalPortAssigned = false;
    bool FAddrResolved = false, FPortResolved = false, FProtoResolved = false, FLocalPortResolved = false;
    std::deque<std::unique_ptr<TBuffer>> FBufList;
    int FBufSize = 1460;
    bool FAllSent = true;
    bool FCloseInvoked = false;
    bool FPaused = false;
    bool FReadArmed = false;
    int FSelectEvent = 0;
    TSocketState FState = wsClosed;
    int64_t FReadCount = 0;
    int FLastError = 0;
    TSocketSendFlags FSendFlags = wsSendNormal;
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;

private:
    // Setter of Addr, Port or Proto: only a closed socket takes a new value,
    // and a changed value must be resolved again.
    void SetEndpointPart(const char *Name, const std::string &V, std::string &Str, bool &Assigned,
                         bool &Resolved);
    void WatchRead(bool On);
    void WatchWrite(bool On);
    void DropNotifiers();
    void OnReadReady();
    void OnWriteReady();
    void ApplyLinger();
    void StartLookup(const std::string &Name, bool Reverse, unsigned Msg);

    QSocketNotifier *FReadNotifier = nullptr;
    QSocketNotifier *FWriteNotifier = nullptr;
    uint32_t FSerial = 0;
    uint64_t FNetConsumed = 0;
    std::shared_ptr<TLookupJob> FLookup;
    bool FDestroying = false;
};

template <class F> void TCustomNetSocket::Guarded(F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        HandleBackGroundException(e);
    } catch (...) {
        HandleBackGroundException(ESocketException("Unknown exception"));
    }
}

// SOCKS 4, 4A and 5 client negotiation inside the socket's own events.
class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    TCustomSocksNetSocket();
    void Connect() override;
    void Listen() override;

    const std::string &SocksServer() const { return FSocksServer; }
    void SetSocksServer(const std::string &V);
    const std::string &SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string &V);
    const std::string &SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string &V);
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    TSocksErrorEvent OnSocksError;
    TSocketEvent OnSocksConnected;
    TSocksAuthStateEvent OnSocksAuthState;

    const std::string &BoundAddr() const { return FBoundAddr; }
    const std::string &BoundPort() const { return FBoundPort; }
    // The SOCKS 5 connect reply can be 7 + 255 bytes long.
    static constexpr int ReplyBufSize = 262;

protected:
    void AssignDefaultValue() override;
    int GetRcvdCount() override;
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerSessionConnected(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t Error) override;
    int DoRecv(void *Buffer, int Len) override;
    virtual void TriggerSocksConnected(uint16_t Error);
    virtual void TriggerSocksError(int Error, const std::string &Msg);
    bool SocksNegotiating() const { return FSocksState != 0; }

private:
    void SocksDoConnect();
    void SocksDoAuthenticate();
    void SocksDoError(int Code, const std::string &Msg);
    bool SocksSend(const std::string &Bytes);
    void TriggerAuthState(TSocksAuthState S);

    std::string FSocksServer, FSocksPort, FSocksLevel = "5";
    int FSocksState = 0; // 0 data, 1 methods, 2 authenticate, 3 connect
    bool FProxyUp = false;
    int FSocksMethod = 0;
    unsigned char FRcvBuf[ReplyBufSize];
    int FRcvCnt = 0;
    uint16_t FSocksDestPort = 0;
    std::string FBoundAddr, FBoundPort;
    std::string FSocksDestAddr;
    std::string FLeftover;
    size_t FLeftoverPos = 0;
};

// Delivers received bytes as whole lines when LineMode is on.
class TCustomLineNetSocket : public TCustomSocksNetSocket {
public:
    TCustomLineNetSocket();
    ~TCustomLineNetSocket() override;

    bool LineMode() const { return FLineMode; }
    virtual void SetLineMode(bool Value);
    std::string LineEnd = "\r\n";
    int LineLimit = 65536;
    bool LineEcho = false;
    bool LineEdit = false;
    TLineLimitEvent OnLineLimitExceeded;

    // Bytes held in the line buffer (offered line included).
    int HeldCount() const { return static_cast<int>(Held()); }

protected:
    static constexpr unsigned WM_LINE_REOFFER = WM_USER + 20;
    void WndProc(unsigned Msg, uint64_t WParam, int64_t LParam) override;
    int GetRcvdCount() override;
    int DoRecv(void *Buffer, int Len) override;
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t Error) override;
    virtual void TriggerLineLimitExceeded(int Cnt, bool &ClearData);
    virtual void EditLine(size_t From);

private:
    void ProcessLines(size_t SearchFrom);
    void PostReoffer();
    // The held bytes are FRcvBuf from FRcvOff on: lines taken from the front
    // move the offset instead of the bytes, so a burst of lines is handled in
    // time linear in its size. Compact() drops the taken prefix.
    size_t Held() const { return FRcvBuf.size() - FRcvOff; }
    void Compact();
    void Consume(size_t N);

    bool FLineMode = false;
    std::string FRcvBuf;
    size_t FRcvOff = 0;
    int FRcvdLen = 0; // length of the line now offered, 0 = none
    bool FLineReceived = false;
    bool FReofferPosted = false;
};

// Adds waits that run the event loop until a flag is set or a time-out passes.
class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
    // Milliseconds; 0 waits without limit.
    int Timeout = 0;
    // 0 when Done was set, 12001 on time-out or when the application is closing.
    virtual int WaitUntilReady(bool &Done);
    virtual int Synchronize(const std::function<void()> &Proc, bool &Done);
};

class TNetSocket : public TCustomSyncNetSocket {
};
