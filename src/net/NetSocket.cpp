// Core of the socket component: the hidden window, sockets and notifiers,
// sending, receiving, closing and name lookups.
#include "net/NetSocket.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// ---------------------------------------------------------------- hidden window

namespace {
class TMsgEvent : public QEvent {
public:
    TMsgEvent(unsigned m, uint64_t w, int64_t l)
        : QEvent(static_cast<QEvent::Type>(TMsgWindow::EventType())), Msg(m), WParam(w), LParam(l) {}
    unsigned Msg;
    uint64_t WParam;
    int64_t LParam;
};

int SetLastFromErrno()
{
    int code = NetSocketErrorFromErrno(errno);
    WSASetLastError(code);
    return code;
}
} // namespace

int TMsgWindow::EventType()
{
    static const int type = QEvent::registerEventType();
    return type;
}

TMsgWindow::TMsgWindow(THandler Handler) : FHandler(std::move(Handler)) {}

TMsgWindow::~TMsgWindow() = default;

void TMsgWindow::PostMessage(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    QCoreApplication::postEvent(this, new TMsgEvent(Msg, WParam, LParam));
}

void TMsgWindow::Detach()
{
    FHandler = nullptr;
    QCoreApplication::removePostedEvents(this);
}

void TMsgWindow::customEvent(QEvent *Ev)
{
    if (Ev->type() != EventType() || !FHandler)
        return;
    auto *m = static_cast<TMsgEvent *>(Ev);
    // The owners catch their own exceptions; this is the last guard so that
    // nothing ever unwinds through Qt's event loop.
    try {
        THandler h = FHandler;
        h(m->Msg, m->WParam, m->LParam);
    } catch (const std::exception &e) {
        qWarning("Unhandled exception in a component message: %s", e.what());
    } catch (...) {
        qWarning("Unhandled exception in a component message");
    }
}

// ---------------------------------------------------------------- lookups

struct TLookupJob {
    std::mutex M;
    TMsgWindow *Target = nullptr; // cleared under M when the reply is no longer wanted
    uint64_t Id = 0;
    int Error = 0;
    std::vector<std::string> Results;
};

static std::atomic<uint64_t> gLookupId{0};

void TCustomNetSocket::StartLookup(const std::string &Name, bool Reverse, unsigned Msg)
{
    auto job = std::make_shared<TLookupJob>();
    job->Target = FWindow;
    job->Id = ++gLookupId;
    FLookup = job;
    std::thread([job, Name, Reverse, Msg]() {
        int err = 0;
        std::vector<std::string> results;
        if (!Reverse) {
            std::vector<uint32_t> addrs;
            err = NetSocketResolveName(Name, addrs);
            for (uint32_t a : addrs)
                results.push_back(NetInetNtoa(a));
            if (err == 0 && results.empty())
                err = WSANO_DATA;
        } else {
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = NetInetAddr(Name);
            char host[1025];
            int rc = getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
            if (rc != 0)
                err = NetSocketErrorFromResolver(rc);
            else
                results.emplace_back(host);
        }
        std::lock_guard<std::mutex> lock(job->M);
        job->Error = err;
        job->Results = std::move(results);
        if (job->Target)
            job->Target->PostMessage(Msg, job->Id, err);
    }).detach();
}

// ---------------------------------------------------------------- construction

TCustomNetSocket::TCustomNetSocket()
{
    FAlive = std::make_shared<bool>(true);
    FWindow = new TMsgWindow([this](unsigned m, uint64_t w, int64_t l) {
        Guarded([&] { WndProc(m, w, l); });
    });
    AssignDefaultValue();
    ++NetSocketGCount;
}

TCustomNetSocket::~TCustomNetSocket()
{
    FDestroying = true;
    if (FLookup) {
        std::lock_guard<std::mutex> lock(FLookup->M);
        FLookup->Target = nullptr;
    }
    FLookup.reset();
    try {
        if (FState != wsClosed || FHSocket != -1)
            InternalClose(false, 0);
    } catch (...) {
    }
    if (FHSocket != -1) {
        ::close(FHSocket);
        FHSocket = -1;
    }
    DropNotifiers();
    --NetSocketGCount;
    *FAlive = false;
    // The window may be the object whose message is being handled right now.
    FWindow->Detach();
    FWindow->deleteLater();
}

void TCustomNetSocket::HandleBackGroundException(const std::exception &E)
{
    bool canClose = true;
    try {
        if (OnBgException)
            OnBgException(this, E, canClose);
    } catch (...) {
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomNetSocket::PostMessage(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    FWindow->PostMessage(Msg, WParam, LParam);
}

uint64_t TCustomNetSocket::Tag() const
{
    return (static_cast<uint64_t>(FSerial) << 32) | static_cast<uint32_t>(FHSocket);
}

// ---------------------------------------------------------------- notifiers

void TCustomNetSocket::WatchRead(bool On)
{
    if (On && FHSocket != -1 && !FReadNotifier) {
        FReadNotifier = new QSocketNotifier(FHSocket, QSocketNotifier::Read, FWindow);
        QObject::connect(FReadNotifier, &QSocketNotifier::activated, FWindow,
                         [this] { Guarded([&] { OnReadReady(); }); });
    }
    FReadArmed = On;
    if (FReadNotifier)
        FReadNotifier->setEnabled(On && !FPaused);
}

void TCustomNetSocket::WatchWrite(bool On)
{
    if (On && FHSocket != -1 && !FWriteNotifier) {
        FWriteNotifier = new QSocketNotifier(FHSocket, QSocketNotifier::Write, FWindow);
        QObject::connect(FWriteNotifier, &QSocketNotifier::activated, FWindow,
                         [this] { Guarded([&] { OnWriteReady(); }); });
    }
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(On && !FPaused);
}

void TCustomNetSocket::DropNotifiers()
{
    for (QSocketNotifier **n : {&FReadNotifier, &FWriteNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->disconnect();
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    FReadArmed = false;
}

void TCustomNetSocket::OnReadReady()
{
    if (FHSocket == -1)
        return;
    // One read event until the handler reads again.
    WatchRead(false);
    uint64_t tag = Tag();
    if (FState == wsListening && FType != 2) {
        HandleNetEvent(tag, FD_ACCEPT, 0);
        return;
    }
    if (FType == 2) {
        HandleNetEvent(tag, FD_READ, 0);
        return;
    }
    char c;
    ssize_t n = ::recv(FHSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        HandleNetEvent(tag, FD_READ, 0);
    else if (n == 0)
        HandleNetEvent(tag, FD_CLOSE, 0);
    else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        WatchRead(true);
    else
        HandleNetEvent(tag, FD_CLOSE, NetSocketErrorFromErrno(errno));
}

void TCustomNetSocket::OnWriteReady()
{
    if (FHSocket == -1)
        return;
    WatchWrite(false);
    uint64_t tag = Tag();
    if (FState == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        HandleNetEvent(tag, FD_CONNECT, NetSocketErrorFromErrno(err));
        return;
    }
    HandleNetEvent(tag, FD_WRITE, 0);
}

// ---------------------------------------------------------------- messages

void TCustomNetSocket::WndProc(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    switch (Msg) {
    case WM_USER + 1:
        HandleNetEvent(WParam, static_cast<int>(LParam & 0xffff), static_cast<int>((LParam >> 16) & 0xffff));
        break;
    case WM_USER + 2:
    case WM_USER + 3: {
        if (!FLookup || FLookup->Id != WParam)
            return; // cancelled or superseded
        std::shared_ptr<TLookupJob> job = std::move(FLookup);
        int err;
        std::vector<std::string> results;
        {
            std::lock_guard<std::mutex> lock(job->M);
            err = job->Error;
            results = job->Results;
        }
        if (err == 0 && !results.empty()) {
            FDnsResultList = results;
            FDnsResult = results.front();
        }
        TriggerDNSLookupDone(static_cast<uint16_t>(err));
        break;
    }
    case WM_USER + 4:
        Close();
        break;
    case WM_USER + 5:
        delete this;
        break;
    case WM_USER + 6:
        throw ESocketException("Test exception in NetSocket");
    default:
        break;
    }
}

void TCustomNetSocket::HandleNetEvent(uint64_t EvTag, int Events, int Error)
{
    if (EvTag != Tag() || FHSocket == -1 || FPaused)
        return; // meant for a connection that is gone
    const uint16_t err = static_cast<uint16_t>(Error);
    if (Events & FD_CONNECT) {
        if (FState != wsConnected) {
            if (Error == 0) {
                WatchWrite(false);
                WatchRead(true);
            }
            ChangeState(wsConnected);
            TriggerSessionConnected(err);
            if (EvTag != Tag())
                return;
            if (Error != 0 && FState != wsClosed)
                Close();
        }
        if (EvTag != Tag())
            return;
    }
    if (Events & FD_READ) {
        if (FState != wsConnected) {
            ChangeState(wsConnected);
            TriggerSessionConnected(err);
            if (EvTag != Tag())
                return;
        }
        ReceiveLoop(err, ComponentOptions);
        if (EvTag != Tag())
            return;
    }
    if (Events & FD_WRITE) {
        TryToSend();
        if (EvTag != Tag())
            return;
        if (FAllSent)
            TriggerDataSent(err);
        if (EvTag != Tag())
            return;
    }
    if (Events & FD_ACCEPT) {
        TriggerSessionAvailable(err);
        if (EvTag != Tag())
            return;
    }
    if ((Events & FD_CLOSE) && FState != wsConnecting) {
        ReceiveLoop(err, ComponentOptions & ~static_cast<unsigned>(wsoNoReceiveLoop));
        if (EvTag != Tag())
            return;
        if (!FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(err);
        }
        if (EvTag == Tag() && FState != wsClosed)
            Close();
    }
}

void TCustomNetSocket::ReceiveLoop(uint16_t Error, TNetSocketOptions Options)
{
    const uint64_t tag = Tag();
    for (;;) {
        FLastError = 0;
        const uint64_t before = FNetConsumed;
        bool handled;
        try {
            handled = TriggerDataAvailable(Error);
        } catch (const std::exception &e) {
            HandleBackGroundException(e);
            return;
        }
        if (tag != Tag() || FHSocket == -1)
            return;
        if (!handled) {
            char scratch[1024];
            int n = DoRecv(scratch, sizeof scratch);
            if (n <= 0)
                break;
        }
        if (Options & wsoNoReceiveLoop)
            break;
        // A pass that took nothing from the network would find the same bytes
        // again: end here; the next read by the handler re-arms the event.
        if (FNetConsumed == before)
            break;
        if (GetRcvdCount() <= 0)
            break;
    }
}

// ---------------------------------------------------------------- state

void TCustomNetSocket::ChangeState(TSocketState NewState)
{
    TSocketState old = FState;
    FState = NewState;
    if (old != NewState)
        TriggerChangeState(old, NewState);
}

void TCustomNetSocket::AssignDefaultValue()
{
    FSinAddr = 0;
    FSinPort = 0;
    FAddrAssigned = FPortAssigned = FLocalPortAssigned = false;
    FAddrResolved = FPortResolved = FProtoResolved = FLocalPortResolved = false;
    FProtoAssigned = true;
    FProtoStr = "tcp";
    FType = 1;
    FProtocol = 6;
    FLocalPortStr = "0";
    FLocalAddr = "0.0.0.0";
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    FHSocket = -1;
    FState = wsClosed;
    FSelectEvent = 0;
    FAllSent = true;
    FReadCount = 0;
    FPaused = false;
    FCloseInvoked = false;
    FlushTimeout = 60;
}

void TCustomNetSocket::SocketError(const std::string &Func)
{
    int code = WSAGetLastError();
    std::string text = "Error " + std::to_string(code) + " in function " + Func + "\r\n" + NetSocketErrorDesc(code);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (FHSocket != -1) {
            DropNotifiers();
            ::close(FHSocket);
            FHSocket = -1;
        }
        if (FState != wsClosed)
            TriggerSessionClosed(static_cast<uint16_t>(code));
        ChangeState(wsClosed);
    }
    FLastError = code;
    RaiseException(text);
}

void TCustomNetSocket::RaiseException(const std::string &Msg)
{
    if (OnError)
        TriggerError();
    else
        throw ESocketException(Msg);
}

void TCustomNetSocket::TriggerError()
{
    if (OnError)
        OnError(this);
}

// ---------------------------------------------------------------- setters

void TCustomNetSocket::SetEndpointPart(const char *Name, const std::string &V, std::string &Str,
                                       bool &Assigned, bool &Resolved)
{
    if (FState != wsClosed) {
        RaiseException(std::string("Cannot change ") + Name + " if not closed");
        return;
    }
    std::string t = NetTrim(V);
    if (Assigned && t == Str)
        return;
    Str = t;
    Assigned = !t.empty();
    Resolved = false;
}

void TCustomNetSocket::SetAddr(const std::string &V)
{
    SetEndpointPart("Addr", V, FAddrStr, FAddrAssigned, FAddrResolved);
}

void TCustomNetSocket::SetPort(const std::string &V)
{
    SetEndpointPart("Port", V, FPortStr, FPortAssigned, FPortResolved);
}

void TCustomNetSocket::SetProto(const std::string &V)
{
    SetEndpointPart("Proto", V, FProtoStr, FProtoAssigned, FProtoResolved);
}

void TCustomNetSocket::SetLocalAddr(const std::string &V)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    std::string t = NetTrim(V);
    FLocalAddr = t.empty() ? "0.0.0.0" : t;
}

void TCustomNetSocket::SetLocalPort(const std::string &V)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    std::string t = NetTrim(V);
    if (FLocalPortAssigned && t == FLocalPortStr)
        return;
    FLocalPortStr = t;
    FLocalPortAssigned = !t.empty();
    FLocalPortResolved = false;
}

void TCustomNetSocket::SetSendFlags(int Flags)
{
    if (Flags != wsSendNormal && Flags != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    FSendFlags = static_cast<TSocketSendFlags>(Flags);
}

// ---------------------------------------------------------------- connect

void TCustomNetSocket::ApplyLinger()
{
    if (LingerOnOff == wsLingerNoSet)
        return;
    if (FHSocket == -1) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger l{};
    l.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
    l.l_linger = LingerTimeout;
    if (::setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
        SetLastFromErrno();
        SocketError("setsockopt(SO_LINGER)");
    }
}

void TCustomNetSocket::BindSocket()
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(FLocalPortNum);
    sa.sin_addr.s_addr = NetSocketResolveHost(FLocalAddr);
    if (::bind(FHSocket, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        int code = SetLastFromErrno();
        throw ESocketException("winsock.bind failed, error #" + std::to_string(code));
    }
    socklen_t len = sizeof sa;
    if (::getsockname(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        int code = SetLastFromErrno();
        throw ESocketException("winsock.getsockname failed, error #" + std::to_string(code));
    }
    FLocalPortStr = std::to_string(ntohs(sa.sin_port));
    FLocalPortNum = ntohs(sa.sin_port);
}

bool TCustomNetSocket::ReadyToConnect()
{
    if (FHSocket != -1 && FState != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return false;
    }
    if (!FPortAssigned) {
        RaiseException("Connect: No Port Specified");
        return false;
    }
    if (!FAddrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return false;
    }
    return true;
}

void TCustomNetSocket::Connect()
{
    if (!ReadyToConnect())
        return;
    if (!FProtoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    try {
        if (!FProtoResolved) {
            FProtocol = NetSocketResolveProto(FProtoStr);
            FType = FProtocol == 6 ? 1 : FProtocol == 17 ? 2 : 3;
            FProtoResolved = true;
        }
        if (!FPortResolved) {
            FSinPort = htons(NetSocketResolvePort(FPortStr, FProtoStr));
            FPortResolved = true;
        }
        if (!FLocalPortResolved) {
            FLocalPortNum = NetSocketResolvePort(FLocalPortStr.empty() ? "0" : FLocalPortStr, FProtoStr);
            FLocalPortResolved = true;
        }
        if (!FAddrResolved) {
            FSinAddr = NetSocketResolveHost(FAddrStr);
            FAddrResolved = true;
        }
    } catch (const std::exception &e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    DeleteBufferedData();
    const int type = FType == 1 ? SOCK_STREAM : FType == 2 ? SOCK_DGRAM : SOCK_RAW;
    FHSocket = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, FProtocol);
    if (FHSocket == -1) {
        SetLastFromErrno();
        SocketError("Connect (socket)");
        return;
    }
    ++FSerial;
    ChangeState(wsOpened);
    if (FState != wsOpened) {
        WSASetLastError(WSAEINVAL);
        SocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }
    int on = 1;
    if (FType != 2) {
        if (::setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            SetLastFromErrno();
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
        if ((ComponentOptions & wsoTcpNoDelay) &&
            ::setsockopt(FHSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
            SetLastFromErrno();
            SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
            return;
        }
        ApplyLinger();
        if (::setsockopt(FHSocket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
            SetLastFromErrno();
            SocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0")
            BindSocket();
    } else {
        BindSocket();
        if (MultiCast) {
            if (MultiCastIpTTL != 1) {
                unsigned char ttl = static_cast<unsigned char>(MultiCastIpTTL);
                if (::setsockopt(FHSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
                    SetLastFromErrno();
                    SocketError("setsockopt(IP_MULTICAST_TTL)");
                    return;
                }
            }
            if (FLocalAddr != "0.0.0.0") {
                in_addr ia{};
                ia.s_addr = NetInetAddr(FLocalAddr);
                if (::setsockopt(FHSocket, IPPROTO_IP, IP_MULTICAST_IF, &ia, sizeof ia) != 0) {
                    SetLastFromErrno();
                    SocketError("setsockopt(IP_MULTICAST_IF)");
                    return;
                }
            }
        }
        if (FSinAddr == 0xffffffffu && ::setsockopt(FHSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            SetLastFromErrno();
            SocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    }
    FSelectEvent = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if (FType == 1) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = FSinPort;
        sa.sin_addr.s_addr = FSinAddr;
        int rc = ::connect(FHSocket, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        int e = rc == 0 ? 0 : errno;
        ChangeState(wsConnecting);
        if (rc == 0) {
            PostMessage(WM_USER + 1, Tag(), FD_CONNECT);
        } else if (e == EINPROGRESS || e == EAGAIN) {
            WatchWrite(true);
        } else {
            // Reported like a failure found later, through the connect event.
            int code = NetSocketErrorFromErrno(e);
            FLastError = code;
            PostMessage(WM_USER + 1, Tag(), FD_CONNECT | (static_cast<int64_t>(code) << 16));
        }
    } else {
        WatchRead(true);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
    }
}

// ---------------------------------------------------------------- listen / accept

void TCustomNetSocket::Listen()
{
    if (!FPortAssigned) {
        WSASetLastError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!FProtoAssigned) {
        WSASetLastError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!FAddrAssigned) {
        WSASetLastError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }
    try {
        if (!FProtoResolved) {
            FProtocol = NetSocketResolveProto(FProtoStr);
            FType = FProtocol == 17 ? 2 : 1;
            FProtoResolved = true;
        }
        if (!FPortResolved) {
            FSinPort = htons(NetSocketResolvePort(FPortStr, FProtoStr));
            FPortResolved = true;
        }
        if (!FAddrResolved) {
            FSinAddr = NetSocketResolveHost(FAddrStr);
            FAddrResolved = true;
        }
    } catch (const std::exception &e) {
        RaiseException(std::string("listen: ") + e.what());
        return;
    }
    FHSocket = ::socket(AF_INET, (FType == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, FProtocol);
    if (FHSocket == -1) {
        SetLastFromErrno();
        SocketError("socket");
        return;
    }
    ++FSerial;
    ChangeState(wsOpened);
    int on = 1;
    if (FType == 2 && ReuseAddr)
        ::setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = FSinPort;
    sa.sin_addr.s_addr = FSinAddr;
    if (::bind(FHSocket, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        SetLastFromErrno();
        std::string text = "Error " + std::to_string(WSAGetLastError()) + " in function Bind\r\n" +
                           NetSocketErrorDesc(WSAGetLastError());
        FLastError = WSAGetLastError();
        Close();
        RaiseException(text);
        return;
    }
    ChangeState(wsBound);
    if (FType == 2 && MultiCast) {
        ip_mreq mreq{};
        mreq.imr_multiaddr.s_addr = NetInetAddr(MultiCastAddrStr);
        mreq.imr_interface.s_addr = FSinAddr;
        if (::setsockopt(FHSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
            SetLastFromErrno();
            SocketError("setsockopt(IP MULTICAST)");
            return;
        }
    }
    FSelectEvent = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
    if (FType == 2) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        WatchRead(true);
        TriggerSessionConnected(0);
    } else {
        if (::listen(FHSocket, 5) != 0) {
            SetLastFromErrno();
            SocketError("Listen");
            return;
        }
        ChangeState(wsListening);
        WatchRead(true);
    }
}

int TCustomNetSocket::Accept()
{
    if (FState != wsListening) {
        WSASetLastError(WSAEINVAL);
        SocketError("not a listening socket");
        return -1;
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int h = ::accept4(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    WatchRead(true);
    if (h == -1) {
        SetLastFromErrno();
        SocketError("Accept");
        return -1;
    }
    FSinAddr = sa.sin_addr.s_addr;
    FSinPort = sa.sin_port;
    return h;
}

void TCustomNetSocket::Dup(int Handle)
{
    if (FHSocket != -1)
        InternalClose(false, 0);
    FHSocket = Handle;
    ++FSerial;
    ::fcntl(FHSocket, F_SETFL, ::fcntl(FHSocket, F_GETFL) | O_NONBLOCK);
    ApplyLinger();
    FSelectEvent = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
    ChangeState(wsConnected);
    WatchRead(true);
}

// ---------------------------------------------------------------- close

void TCustomNetSocket::Close()
{
    InternalClose(true, 0);
}

void TCustomNetSocket::CloseDelayed()
{
    PostMessage(WM_USER + 4);
}

void TCustomNetSocket::Release()
{
    PostMessage(WM_USER + 5);
}

void TCustomNetSocket::InternalClose(bool bShut, uint16_t Error)
{
    if (FHSocket == -1) {
        if (FState != wsClosed)
            ChangeState(wsClosed);
        AssignDefaultValue();
        return;
    }
    if (FState == wsClosed)
        return;
    if (bShut)
        ::shutdown(FHSocket, SHUT_WR);
    DropNotifiers();
    int rc = ::close(FHSocket);
    int e = errno;
    FHSocket = -1;
    ++FSerial;
    if (rc != 0 && e != EINTR) {
        int code = NetSocketErrorFromErrno(e);
        if (code != WSANOTINITIALISED) {
            WSASetLastError(code);
            ChangeState(wsClosed);
            SocketError("Disconnect (closesocket)");
        }
    }
    ChangeState(wsClosed);
    if (!FDestroying && !FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(Error);
    }
    // A handler may already have opened the next connection.
    if (FHSocket == -1)
        AssignDefaultValue();
}

void TCustomNetSocket::Abort()
{
    if (FLookup)
        CancelDnsLookup();
    DeleteBufferedData();
    if (FState == wsConnected && FType == 1 && FHSocket != -1) {
        LingerOnOff = wsLingerOff;
        try {
            ApplyLinger();
        } catch (...) {
        }
    }
    InternalClose(false, 0);
}

void TCustomNetSocket::Shutdown(int How)
{
    if (FHSocket != -1)
        ::shutdown(FHSocket, How == 0 ? SHUT_RD : How == 1 ? SHUT_WR : SHUT_RDWR);
}

void TCustomNetSocket::Pause()
{
    FPaused = true;
    if (FReadNotifier)
        FReadNotifier->setEnabled(false);
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(false);
}

void TCustomNetSocket::Resume()
{
    FPaused = false;
    if (FReadNotifier)
        FReadNotifier->setEnabled(FReadArmed);
    if (FState == wsConnecting && FWriteNotifier)
        FWriteNotifier->setEnabled(true);
    else if (!FAllSent && FWriteNotifier)
        FWriteNotifier->setEnabled(true);
}

// ---------------------------------------------------------------- sending

void TCustomNetSocket::DeleteBufferedData()
{
    FBufList.clear();
}

int TCustomNetSocket::RealSend(const char *Data, int Len)
{
    ssize_t n;
    if (FType == 2) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = FSinPort;
        sa.sin_addr.s_addr = FSinAddr;
        n = ::sendto(FHSocket, Data, Len, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    } else {
        n = ::send(FHSocket, Data, Len, MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0));
    }
    if (n < 0) {
        SetLastFromErrno();
        return -1;
    }
    if (n > 0 && OnSendData)
        OnSendData(this, static_cast<int>(n));
    return static_cast<int>(n);
}

bool TCustomNetSocket::TryToSend()
{
    if (FHSocket == -1)
        return false;
    while (!FBufList.empty()) {
        TBuffer &b = *FBufList.front();
        int len = 0;
        const char *p = b.Peek(len);
        if (len <= 0) {
            if (FBufList.size() > 1) {
                FBufList.pop_front();
                continue;
            }
            break;
        }
        const uint64_t tag = Tag();
        int n = RealSend(p, len);
        if (tag != Tag())
            return false;
        if (n == 0)
            return false;
        if (n < 0) {
            int err = WSAGetLastError();
            if (err == WSAEWOULDBLOCK) {
                WatchWrite(true);
                return false;
            }
            if (err == WSAECONNRESET || err == WSAENOTSOCK || err == WSAENOTCONN || err == WSAEINVAL ||
                err == WSAECONNABORTED) {
                FCloseInvoked = true;
                InternalClose(false, static_cast<uint16_t>(err));
                TriggerSessionClosed(static_cast<uint16_t>(err));
                return false;
            }
            SocketError("TryToSend failed");
            return false;
        }
        b.Remove(n);
        if (n < len) {
            WatchWrite(true);
            return false;
        }
    }
    FAllSent = true;
    return true;
}

int TCustomNetSocket::Send(const void *Data, int Len)
{
    if (FState != wsConnected) {
        WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    if (Len <= 0)
        return 0;
    FAllSent = false;
    const char *p = static_cast<const char *>(Data);
    int left = Len;
    while (left > 0) {
        if (FBufList.empty() || FBufList.back()->WrCount() >= FBufList.back()->BufSize())
            FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
        int n = FBufList.back()->Write(p, left);
        p += n;
        left -= n;
    }
    if (TryToSend() && FHSocket != -1)
        PostMessage(WM_USER + 1, Tag(), FD_WRITE); // OnDataSent always comes from the message loop
    return Len;
}

int TCustomNetSocket::SendStr(const std::string &S)
{
    return Send(S.data(), static_cast<int>(S.size()));
}

int TCustomNetSocket::SendTo(uint32_t AddrNetOrder, uint16_t PortHostOrder, const void *Data, int Len)
{
    if (FHSocket == -1) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(PortHostOrder);
    sa.sin_addr.s_addr = AddrNetOrder;
    ssize_t n = ::sendto(FHSocket, Data, Len, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    if (n < 0) {
        FLastError = SetLastFromErrno();
        if (FLastError == WSAEWOULDBLOCK)
            WatchWrite(true);
        return -1;
    }
    if (n > 0 && OnSendData)
        OnSendData(this, static_cast<int>(n));
    return static_cast<int>(n);
}

// ---------------------------------------------------------------- receiving

int TCustomNetSocket::GetRcvdCount()
{
    if (FHSocket == -1)
        return -1;
    int n = 0;
    if (::ioctl(FHSocket, FIONREAD, &n) != 0)
        return -1;
    return n;
}

int TCustomNetSocket::DoRecv(void *Buffer, int Len)
{
    if (FHSocket == -1) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    ssize_t n = ::recv(FHSocket, Buffer, Len, MSG_DONTWAIT);
    if (n < 0)
        SetLastFromErrno();
    if (n > 0)
        FNetConsumed += static_cast<uint64_t>(n);
    // The next read event comes only after the handler has read.
    if (FState == wsConnected || FState == wsListening)
        WatchRead(true);
    return static_cast<int>(n);
}

int TCustomNetSocket::DoRecvFrom(void *Buffer, int Len, uint32_t &FromAddr, uint16_t &FromPort)
{
    if (FHSocket == -1) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    sockaddr_in sa{};
    socklen_t sl = sizeof sa;
    ssize_t n = ::recvfrom(FHSocket, Buffer, Len, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&sa), &sl);
    if (n < 0)
        SetLastFromErrno();
    else
        FNetConsumed += static_cast<uint64_t>(n) + 1;
    FromAddr = sa.sin_addr.s_addr;
    FromPort = ntohs(sa.sin_port);
    if (FState == wsConnected)
        WatchRead(true);
    return static_cast<int>(n);
}

int TCustomNetSocket::Receive(void *Buffer, int Len)
{
    if (Len < 0)
        Len = 0;
    int n = DoRecv(Buffer, Len);
    if (n < 0)
        FLastError = WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

std::string TCustomNetSocket::ReceiveStr()
{
    int cnt = GetRcvdCount();
    if (cnt < 0)
        return {};
    if (cnt == 0)
        cnt = 255;
    std::string s(static_cast<size_t>(cnt), '\0');
    int n = Receive(s.data(), cnt);
    if (n <= 0)
        return {};
    s.resize(static_cast<size_t>(n));
    return s;
}

int TCustomNetSocket::ReceiveFrom(void *Buffer, int Len, uint32_t &FromAddr, uint16_t &FromPort)
{
    int n = DoRecvFrom(Buffer, Len, FromAddr, FromPort);
    if (n < 0)
        FLastError = WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

// ---------------------------------------------------------------- waits

void TCustomNetSocket::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TCustomNetSocket::Flush()
{
    std::shared_ptr<bool> alive = FAlive;
    while (*alive && FHSocket != -1 && !FAllSent) {
        if (!TryToSend())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void TCustomNetSocket::WaitForClose()
{
    std::shared_ptr<bool> alive = FAlive;
    while (*alive && FHSocket != -1 && FState != wsClosed) {
        if (!FReadArmed && FState == wsConnected) {
            // Nobody read the waiting data: take it so the close can be seen.
            char scratch[1024];
            int n = DoRecv(scratch, sizeof scratch);
            if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)
                break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// ---------------------------------------------------------------- lookups

void TCustomNetSocket::DnsLookup(const std::string &HostName)
{
    if (HostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookup)
        CancelDnsLookup();
    FDnsResult.clear();
    FDnsResultList.clear();
    if (NetSocketIsDottedIP(HostName)) {
        uint32_t a = NetInetAddr(HostName);
        if (a != 0xffffffffu || NetTrim(HostName) == "255.255.255.255") {
            FDnsResult = NetTrim(HostName);
            FDnsResultList.push_back(FDnsResult);
            TriggerDNSLookupDone(0);
            return;
        }
    }
    if (HostName.size() >= 256) {
        WSASetLastError(WSAEINVAL);
        RaiseException(HostName + ": can't start DNS lookup, error #" + std::to_string(WSAEINVAL));
        return;
    }
    StartLookup(HostName, false, WM_USER + 2);
}

void TCustomNetSocket::ReverseDnsLookup(const std::string &HostAddr)
{
    if (HostAddr.empty() || HostAddr.size() >= 257) {
        RaiseException("ReverseDnsLookup: Invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookup)
        CancelDnsLookup();
    FDnsResult.clear();
    FDnsResultList.clear();
    if (NetInetAddr(HostAddr) == 0xffffffffu && NetTrim(HostAddr) != "255.255.255.255") {
        WSASetLastError(WSAEINVAL);
        RaiseException(HostAddr + ": can't start DNS lookup, error #" + std::to_string(WSAEINVAL));
        return;
    }
    StartLookup(NetTrim(HostAddr), true, WM_USER + 3);
}

void TCustomNetSocket::CancelDnsLookup()
{
    if (!FLookup)
        return;
    {
        std::lock_guard<std::mutex> lock(FLookup->M);
        FLookup->Target = nullptr;
    }
    FLookup.reset();
    if (!FDestroying)
        TriggerDNSLookupDone(WSAEINTR);
}

// ---------------------------------------------------------------- names

std::string TCustomNetSocket::PeerAddr() const
{
    if (FState != wsConnected || FHSocket == -1)
        return "error";
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return "error";
    return NetInetNtoa(sa.sin_addr.s_addr);
}

std::string TCustomNetSocket::PeerPort() const
{
    if (FState != wsConnected || FHSocket == -1)
        return "error";
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return "error";
    return std::to_string(ntohs(sa.sin_port));
}

std::string TCustomNetSocket::GetXAddr() const
{
    if ((FState != wsBound && FState != wsConnected && FState != wsListening) || FHSocket == -1)
        return "error";
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return "error";
    return NetInetNtoa(sa.sin_addr.s_addr);
}

std::string TCustomNetSocket::GetXPort() const
{
    if ((FState != wsBound && FState != wsConnected && FState != wsListening) || FHSocket == -1)
        return "error";
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(FHSocket, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return "error";
    return std::to_string(ntohs(sa.sin_port));
}

// ---------------------------------------------------------------- triggers

bool TCustomNetSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomNetSocket::TriggerSessionAvailable(uint16_t Error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, Error);
}

void TCustomNetSocket::TriggerSessionConnected(uint16_t Error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, Error);
}

void TCustomNetSocket::TriggerSessionClosed(uint16_t Error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, Error);
}

void TCustomNetSocket::TriggerDataSent(uint16_t Error)
{
    if (OnDataSent)
        OnDataSent(this, Error);
}

void TCustomNetSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    if (OnChangeState)
        OnChangeState(this, OldState, NewState);
}

void TCustomNetSocket::TriggerDNSLookupDone(uint16_t Error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, Error);
}
