// The socket component's core: the hidden window, its events, state, errors, closing and names.
#include "net/NetSocket.h"
#include "net/NetSocketInternal.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
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
} // namespace

namespace netsocket {
int SetLastFromErrno()
{
    int code = NetSocketErrorFromErrno(errno);
    WSASetLastError(code);
    return code;
}
} // namespace netsocket

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
