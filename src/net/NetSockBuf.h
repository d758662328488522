#pragma once
// Outgoing-data chunk of the socket component, the socket unit's exception
// class, the WinSock error codes with their texts, and the helpers that turn
// host, port and protocol texts into numbers.
//
// The error numbers are the WinSock ones so that every event and message of
// the internet components carries the same codes on every platform; errno and
// resolver failures are translated through one table (NetSocketErrorFromErrno,
// NetSocketErrorFromResolver).
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string &msg) : std::runtime_error(msg) {}
};

// One contiguous chunk of queued bytes. 0 <= RdCount <= WrCount <= BufSize.
class TBuffer {
public:
    explicit TBuffer(int Size);
    ~TBuffer();
    TBuffer(const TBuffer &) = delete;
    TBuffer &operator=(const TBuffer &) = delete;

    // Size <= 0 means 1514. Refuses (ESocketException) a size smaller than the
    // bytes already written, which could not be kept.
    void SetBufSize(int Size);
    int Write(const void *Data, int Len);
    // Address of the first unread byte, Len = unread count; nullptr and 0 when empty.
    const char *Peek(int &Len) const;
    int Remove(int Len);

    int BufSize() const { return FBufSize; }
    int WrCount() const { return FWrCount; }
    int RdCount() const { return FRdCount; }

private:
    char *FBuf = nullptr;
    int FBufSize = 0;
    int FWrCount = 0;
    int FRdCount = 0;
};

// WinSock error numbers used by the internet components.
enum : int {
    WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014, WSAEINVAL = 10022,
    WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035, WSAEINPROGRESS = 10036, WSAEALREADY = 10037,
    WSAENOTSOCK = 10038, WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045, WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049, WSAENETDOWN = 10050, WSAENETUNREACH = 10051, WSAENETRESET = 10052,
    WSAECONNABORTED = 10053, WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056,
    WSAENOTCONN = 10057, WSAESHUTDOWN = 10058, WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061, WSAELOOP = 10062, WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066, WSAEPROCLIM = 10067, WSAEUSERS = 10068,
    WSAEDQUOT = 10069, WSAESTALE = 10070, WSAEREMOTE = 10071, WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092, WSANOTINITIALISED = 10093, WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002, WSANO_RECOVERY = 11003, WSANO_DATA = 11004,
};

std::string NetSocketErrorDesc(int Code);
// The description with its code, as a failure reports it: "... (Error #10054)".
std::string NetSocketErrorText(int Code);
int NetSocketErrorFromErrno(int err);
int NetSocketErrorFromResolver(int gaiError);

// Per-thread last error, as the socket calls leave it.
void WSASetLastError(int Code);
int WSAGetLastError();

// Count of live socket objects.
extern std::atomic<int> NetSocketGCount;

// Name resolution used by the lookups and NetSocketResolveHost: fills the IPv4
// addresses (network order) and returns 0 or a WinSock error code. Called from
// lookup threads, so it must be thread-safe. Tests install a fake one.
using TNetResolver = std::function<int(const std::string &Name, std::vector<uint32_t> &Addrs)>;
void NetSocketSetResolver(TNetResolver Resolver); // empty restores the system resolver
int NetSocketResolveName(const std::string &Name, std::vector<uint32_t> &Addrs);

int NetAtoi(const std::string &S);
bool NetIsDigit(char C);
bool NetSocketIsDottedIP(const std::string &S);
std::string NetTrim(const std::string &S);
// A time limit for a failure text: "30 s", or "250 ms" when not whole seconds.
std::string NetDurationText(int Ms);
std::string NetInetNtoa(uint32_t AddrNetOrder);
// inet_addr: all ones for a malformed text.
uint32_t NetInetAddr(const std::string &S);
std::string LocalHostName();
uint32_t NetSocketResolveHost(const std::string &S);
uint16_t NetSocketResolvePort(const std::string &Port, const std::string &Proto);
int NetSocketResolveProto(const std::string &Proto);
