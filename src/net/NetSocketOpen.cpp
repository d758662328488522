// Opening a socket: the options, binding and connecting, listening, accepting and taking over a handle.
#include "net/NetSocket.h"
#include "net/NetSocketInternal.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using netsocket::SetLastFromErrno;

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
