// SOCKS 4, 4A and 5 negotiation, run inside the socket's connect and data events.
#include "net/NetSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {
std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const char *Socks5Text(int code)
{
    switch (code) {
    case 1: return "general SOCKS server failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "time to live expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return nullptr;
    }
}
} // namespace

TCustomSocksNetSocket::TCustomSocksNetSocket() = default;

void TCustomSocksNetSocket::AssignDefaultValue()
{
    TCustomNetSocket::AssignDefaultValue();
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = "5";
    FSocksState = 0;
    FRcvCnt = 0;
    FLeftover.clear();
    FLeftoverPos = 0;
}

void TCustomSocksNetSocket::SetSocksServer(const std::string &V)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    FSocksServer = NetTrim(V);
}

void TCustomSocksNetSocket::SetSocksPort(const std::string &V)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    FSocksPort = NetTrim(V);
}

void TCustomSocksNetSocket::SetSocksLevel(const std::string &V)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    if (V == "4" || V == "5" || V == "4A" || V == "4a")
        FSocksLevel = V == "4a" ? "4A" : V;
    else
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
}

void TCustomSocksNetSocket::Connect()
{
    if (FSocksServer.empty()) {
        TCustomNetSocket::Connect();
        return;
    }
    if (Lower(FProtoStr) != "tcp") {
        RaiseException("tcp is the only protocol supported thru socks server");
        return;
    }
    if (!ReadyToConnect())
        return;
    // The requests carry these in one-byte length fields.
    if (FAddrStr.size() > 255 || SocksUsercode.size() > 255 || SocksPassword.size() > 255) {
        RaiseException("Socks host name, user code or password longer than 255 bytes");
        return;
    }
    try {
        FSocksDestPort = NetSocketResolvePort(FPortStr, "tcp");
    } catch (const std::exception &e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    FSocksDestAddr = FAddrStr;
    // The connection itself goes to the proxy.
    FPortStr = FSocksPort;
    FPortAssigned = !FSocksPort.empty();
    FPortResolved = false;
    FAddrStr = FSocksServer;
    FAddrResolved = false;
    FSocksState = 1;
    FProxyUp = false;
    FRcvCnt = 0;
    FLeftover.clear();
    FLeftoverPos = 0;
    try {
        TCustomNetSocket::Connect();
    } catch (...) {
        FSocksState = 0;
        throw;
    }
    if (FHSocket == -1)
        FSocksState = 0;
}

void TCustomSocksNetSocket::Listen()
{
    if (!FSocksServer.empty()) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomNetSocket::Listen();
}

int TCustomSocksNetSocket::GetRcvdCount()
{
    if (FLeftoverPos < FLeftover.size())
        return static_cast<int>(FLeftover.size() - FLeftoverPos);
    return TCustomNetSocket::GetRcvdCount();
}

int TCustomSocksNetSocket::DoRecv(void *Buffer, int Len)
{
    if (FLeftoverPos < FLeftover.size()) {
        int n = std::min<int>(Len, static_cast<int>(FLeftover.size() - FLeftoverPos));
        if (n <= 0)
            return 0;
        std::memcpy(Buffer, FLeftover.data() + FLeftoverPos, n);
        FLeftoverPos += static_cast<size_t>(n);
        if (FLeftoverPos >= FLeftover.size()) {
            FLeftover.clear();
            FLeftoverPos = 0;
        }
        return n;
    }
    return TCustomNetSocket::DoRecv(Buffer, Len);
}

void TCustomSocksNetSocket::TriggerSocksConnected(uint16_t Error)
{
    if (OnSocksConnected)
        OnSocksConnected(this, Error);
}

void TCustomSocksNetSocket::TriggerSocksError(int Error, const std::string &Msg)
{
    if (OnSocksError)
        OnSocksError(this, Error, Msg);
}

void TCustomSocksNetSocket::TriggerAuthState(TSocksAuthState S)
{
    if (OnSocksAuthState)
        OnSocksAuthState(this, S);
}

bool TCustomSocksNetSocket::SocksSend(const std::string &Bytes)
{
    return Send(Bytes.data(), static_cast<int>(Bytes.size())) >= 0;
}

void TCustomSocksNetSocket::TriggerSessionConnected(uint16_t Error)
{
    if (FSocksState != 1 || FProxyUp) {
        TCustomNetSocket::TriggerSessionConnected(Error);
        return;
    }
    // The connection to the proxy is up (or failed).
    const uint64_t tag = Tag();
    TriggerSocksConnected(Error);
    if (tag != Tag())
        return;
    if (Error != 0) {
        FSocksState = 0;
        TCustomNetSocket::TriggerSessionConnected(Error);
        return;
    }
    FProxyUp = true;
    if (FSocksLevel == "5") {
        FSocksMethod = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
        SocksSend(std::string{char(5), char(1), char(FSocksMethod)});
    } else {
        SocksDoConnect();
    }
}

void TCustomSocksNetSocket::SocksDoAuthenticate()
{
    FSocksState = 2;
    TriggerAuthState(socksAuthStart);
    std::string req;
    req += char(1);
    req += char(SocksUsercode.size());
    req += SocksUsercode;
    req += char(SocksPassword.size());
    req += SocksPassword;
    SocksSend(req);
}

void TCustomSocksNetSocket::SocksDoConnect()
{
    FSocksState = 3;
    FRcvCnt = 0;
    std::string req;
    const char portHi = char(FSocksDestPort >> 8), portLo = char(FSocksDestPort & 0xff);
    if (FSocksLevel == "5") {
        req = {char(5), char(1), char(0), char(3), char(FSocksDestAddr.size())};
        req += FSocksDestAddr;
        req += portHi;
        req += portLo;
    } else {
        req = {char(4), char(1), portHi, portLo};
        uint32_t a = htonl(1); // 0.0.0.1 asks a 4A proxy to resolve the name itself
        if (FSocksLevel == "4") {
            try {
                a = NetSocketResolveHost(FSocksDestAddr);
            } catch (const std::exception &) {
                SocksDoError(20013, "internal error");
                return;
            }
        }
        req.append(reinterpret_cast<const char *>(&a), 4);
        req += SocksUsercode;
        req += char(0);
        if (FSocksLevel == "4A") {
            req += FSocksDestAddr;
            req += char(0);
        }
    }
    SocksSend(req);
}

void TCustomSocksNetSocket::SocksDoError(int Code, const std::string &Msg)
{
    const uint64_t tag = Tag();
    if (FSocksState == 2)
        TriggerAuthState(socksAuthFailure);
    TriggerSocksError(Code, Msg);
    FSocksState = 0;
    FRcvCnt = 0;
    if (tag != Tag())
        return;
    TCustomNetSocket::TriggerSessionConnected(static_cast<uint16_t>(Code));
    if (tag == Tag() && FState != wsClosed)
        InternalClose(false, static_cast<uint16_t>(Code));
}

void TCustomSocksNetSocket::TriggerSessionClosed(uint16_t Error)
{
    if (FSocksState == 2)
        TriggerAuthState(socksAuthFailure);
    FSocksState = 0;
    TCustomNetSocket::TriggerSessionClosed(Error);
}

bool TCustomSocksNetSocket::TriggerDataAvailable(uint16_t Error)
{
    if (FSocksState == 0)
        return TCustomNetSocket::TriggerDataAvailable(Error);
    if (Error != 0) {
        SocksDoError(Error, "data receive error");
        return true;
    }
    const int room = ReplyBufSize - FRcvCnt;
    if (room <= 0) {
        SocksDoError(20013, "internal error");
        return true;
    }
    int n = TCustomNetSocket::DoRecv(FRcvBuf + FRcvCnt, room);
    if (n < 0) {
        int e = WSAGetLastError();
        if (e != WSAEWOULDBLOCK)
            SocksDoError(e, "data receive error");
        return true;
    }
    if (n == 0)
        return true;
    FRcvCnt += n;

    const bool v5 = FSocksLevel == "5";
    int used = 0;
    switch (FSocksState) {
    case 1: // method selection
        if (!v5) {
            SocksDoError(20001, "TNetSocket logic error");
            return true;
        }
        if (FRcvCnt < 2)
            return true;
        FRcvCnt = 0;
        if (FRcvBuf[0] != 5) {
            SocksDoError(20002, "socks version error");
        } else if (FRcvBuf[1] == 0) {
            if (FSocksMethod == 2)
                TriggerAuthState(socksAuthNotRequired);
            SocksDoConnect();
        } else if (FRcvBuf[1] == 2) {
            SocksDoAuthenticate();
        } else {
            SocksDoError(20003, "authentification method not acceptable");
        }
        return true;
    case 2: // user/password
        if (FRcvBuf[0] != 1) {
            SocksDoError(20002, "socks version error");
        } else if (FRcvCnt > 2) {
            SocksDoError(20001, "too much data availaible");
        } else if (FRcvCnt == 2) {
            if (FRcvBuf[1] != 0) {
                SocksDoError(20015, "socks authentication failed");
            } else {
                FRcvCnt = 0;
                TriggerAuthState(socksAuthSuccess);
                SocksDoConnect();
            }
        }
        return true;
    case 3: // connect reply
        if (v5) {
            if (FRcvBuf[0] != 5) {
                SocksDoError(20002, "socks version error");
                return true;
            }
            if (FRcvCnt >= 2 && FRcvBuf[1] != 0) {
                int code = FRcvBuf[1];
                if (const char *t = Socks5Text(code))
                    SocksDoError(20003 + code, t);
                else
                    SocksDoError(20012, "unassigned error #" + std::to_string(code));
                return true;
            }
            if (FRcvCnt < 5)
                return true;
            const int type = FRcvBuf[3];
            const int need = type == 1 ? 10 : type == 3 ? 7 + FRcvBuf[4] : 5;
            if (FRcvCnt < need)
                return true;
            if (type == 1) {
                uint32_t a;
                std::memcpy(&a, FRcvBuf + 4, 4);
                FBoundAddr = NetInetNtoa(a);
                FBoundPort = std::to_string((FRcvBuf[8] << 8) | FRcvBuf[9]);
            } else if (type == 3) {
                const int len = FRcvBuf[4];
                FBoundAddr.assign(reinterpret_cast<const char *>(FRcvBuf + 5), len);
                FBoundPort = std::to_string((FRcvBuf[5 + len] << 8) | FRcvBuf[6 + len]);
            } else {
                SocksDoError(20011, "address type not supported");
                return true;
            }
            used = need;
        } else {
            if (FRcvCnt < 8)
                return true;
            if (FRcvBuf[0] != 0) {
                SocksDoError(20002, "socks version error");
                return true;
            }
            const int code = FRcvBuf[1];
            if (code == 91) {
                SocksDoError(20016, "request rejected or failed");
                return true;
            }
            if (code == 92) {
                SocksDoError(20008, "connection refused");
                return true;
            }
            if (code == 93) {
                SocksDoError(20015, "authentification failed");
                return true;
            }
            if (code != 90) {
                SocksDoError(20012, "unassigned error #" + std::to_string(code));
                return true;
            }
            used = 8;
        }
        break;
    default:
        return true;
    }

    // Granted: server bytes that came with the reply are delivered right away.
    FLeftover.assign(reinterpret_cast<const char *>(FRcvBuf + used), FRcvCnt - used);
    FLeftoverPos = 0;
    FRcvCnt = 0;
    FSocksState = 0;
    FSocksMethod = 0;
    const uint64_t tag = Tag();
    TCustomNetSocket::TriggerSessionConnected(0);
    while (tag == Tag() && FLeftoverPos < FLeftover.size()) {
        const size_t before = FLeftoverPos;
        const size_t sizeBefore = FLeftover.size();
        TriggerDataAvailable(0);
        if (FLeftover.size() == sizeBefore && FLeftoverPos == before)
            break;
    }
    return true;
}
