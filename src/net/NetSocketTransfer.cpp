// Sending and receiving: the send buffers, the writes to the socket and the reads from it.
#include "net/NetSocket.h"
#include "net/NetSocketInternal.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

using netsocket::SetLastFromErrno;

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
