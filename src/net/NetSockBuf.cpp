#include "net/NetSockBuf.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

std::atomic<int> NetSocketGCount{0};

// ---------------------------------------------------------------- TBuffer

TBuffer::TBuffer(int Size)
{
    SetBufSize(Size);
}

TBuffer::~TBuffer()
{
    delete[] FBuf;
}

void TBuffer::SetBufSize(int Size)
{
    if (Size <= 0)
        Size = 1514;
    if (Size == FBufSize)
        return;
    if (Size < FWrCount)
        throw ESocketException("TBuffer: cannot shrink below the data it holds");
    char *n = new char[Size];
    if (FWrCount > FRdCount)
        std::memcpy(n, FBuf, FWrCount);
    else
        FWrCount = FRdCount = 0;
    delete[] FBuf;
    FBuf = n;
    FBufSize = Size;
}

int TBuffer::Write(const void *Data, int Len)
{
    int room = FBufSize - FWrCount;
    if (room <= 0 || Len <= 0)
        return 0;
    int n = Len < room ? Len : room;
    std::memcpy(FBuf + FWrCount, Data, n);
    FWrCount += n;
    return n;
}

const char *TBuffer::Peek(int &Len) const
{
    Len = FWrCount - FRdCount;
    if (Len <= 0) {
        Len = 0;
        return nullptr;
    }
    return FBuf + FRdCount;
}

int TBuffer::Remove(int Len)
{
    int unread = FWrCount - FRdCount;
    if (unread <= 0 || Len <= 0)
        return 0;
    int n = Len < unread ? Len : unread;
    FRdCount += n;
    if (FRdCount >= FWrCount)
        FRdCount = FWrCount = 0;
    return n;
}

// ---------------------------------------------------------------- errors

std::string NetSocketErrorDesc(int Code)
{
    switch (Code) {
    case 0: return "No Error";
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on non-socket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Address not available";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Connection aborted";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references: can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disc quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network sub-system is unusable";
    case 10092: return "WinSock DLL cannot support this application";
    case 10093: return "WinSock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non-authoritative host not found";
    case 11003: return "Non-recoverable error";
    case 11004: return "No Data";
    default: return "Not a WinSock error";
    }
}

std::string NetSocketErrorText(int Code)
{
    return NetSocketErrorDesc(Code) + " (Error #" + std::to_string(Code) + ")";
}

int NetSocketErrorFromErrno(int err)
{
    struct Map { int e; int wsa; };
    static const Map table[] = {
        {0, 0}, {EINTR, WSAEINTR}, {EBADF, WSAEBADF}, {EACCES, WSAEACCES}, {EPERM, WSAEACCES},
        {EFAULT, WSAEFAULT}, {EINVAL, WSAEINVAL}, {EMFILE, WSAEMFILE}, {ENFILE, WSAEMFILE},
        {EAGAIN, WSAEWOULDBLOCK}, {EWOULDBLOCK, WSAEWOULDBLOCK}, {EINPROGRESS, WSAEINPROGRESS},
        {EALREADY, WSAEALREADY}, {ENOTSOCK, WSAENOTSOCK}, {EDESTADDRREQ, WSAEDESTADDRREQ},
        {EMSGSIZE, WSAEMSGSIZE}, {EPROTOTYPE, WSAEPROTOTYPE}, {ENOPROTOOPT, WSAENOPROTOOPT},
        {EPROTONOSUPPORT, WSAEPROTONOSUPPORT}, {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
        {EOPNOTSUPP, WSAEOPNOTSUPP}, {EPFNOSUPPORT, WSAEPFNOSUPPORT}, {EAFNOSUPPORT, WSAEAFNOSUPPORT},
        {EADDRINUSE, WSAEADDRINUSE}, {EADDRNOTAVAIL, WSAEADDRNOTAVAIL}, {ENETDOWN, WSAENETDOWN},
        {ENETUNREACH, WSAENETUNREACH}, {ENETRESET, WSAENETRESET}, {ECONNABORTED, WSAECONNABORTED},
        {ECONNRESET, WSAECONNRESET}, {EPIPE, WSAECONNRESET}, {ENOBUFS, WSAENOBUFS}, {ENOMEM, WSAENOBUFS},
        {EISCONN, WSAEISCONN}, {ENOTCONN, WSAENOTCONN}, {ESHUTDOWN, WSAESHUTDOWN},
        {ETOOMANYREFS, WSAETOOMANYREFS}, {ETIMEDOUT, WSAETIMEDOUT}, {ECONNREFUSED, WSAECONNREFUSED},
        {ELOOP, WSAELOOP}, {ENAMETOOLONG, WSAENAMETOOLONG}, {EHOSTDOWN, WSAEHOSTDOWN},
        {EHOSTUNREACH, WSAEHOSTUNREACH}, {ENOTEMPTY, WSAENOTEMPTY}, {EUSERS, WSAEUSERS},
        {EDQUOT, WSAEDQUOT}, {ESTALE, WSAESTALE}, {EREMOTE, WSAEREMOTE},
    };
    for (const Map &m : table)
        if (m.e == err)
            return m.wsa;
    return WSAEINVAL;
}

int NetSocketErrorFromResolver(int gaiError)
{
    switch (gaiError) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return NetSocketErrorFromErrno(errno);
    default: return WSANO_RECOVERY;
    }
}

static thread_local int tLastError = 0;

void WSASetLastError(int Code) { tLastError = Code; }
int WSAGetLastError() { return tLastError; }

// ---------------------------------------------------------------- resolver

static std::mutex gResolverMutex;
static TNetResolver gResolver;

void NetSocketSetResolver(TNetResolver Resolver)
{
    std::lock_guard<std::mutex> lock(gResolverMutex);
    gResolver = std::move(Resolver);
}

static int SystemResolve(const std::string &Name, std::vector<uint32_t> &Addrs)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    int rc = getaddrinfo(Name.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return NetSocketErrorFromResolver(rc);
    for (addrinfo *p = res; p; p = p->ai_next) {
        if (p->ai_family != AF_INET || !p->ai_addr)
            continue;
        uint32_t a = reinterpret_cast<sockaddr_in *>(p->ai_addr)->sin_addr.s_addr;
        bool dup = false;
        for (uint32_t x : Addrs)
            dup = dup || x == a;
        if (!dup)
            Addrs.push_back(a);
    }
    freeaddrinfo(res);
    return Addrs.empty() ? WSANO_DATA : 0;
}

int NetSocketResolveName(const std::string &Name, std::vector<uint32_t> &Addrs)
{
    Addrs.clear();
    TNetResolver r;
    {
        std::lock_guard<std::mutex> lock(gResolverMutex);
        r = gResolver;
    }
    return r ? r(Name, Addrs) : SystemResolve(Name, Addrs);
}

// ---------------------------------------------------------------- helpers

bool NetIsDigit(char C) { return C >= '0' && C <= '9'; }

int NetAtoi(const std::string &S)
{
    size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    long long v = 0;
    while (i < S.size() && NetIsDigit(S[i])) {
        if (v < 100000000000LL)
            v = v * 10 + (S[i] - '0');
        ++i;
    }
    return v > 0x7fffffff ? 0x7fffffff : static_cast<int>(v);
}

std::string NetTrim(const std::string &S)
{
    size_t b = 0, e = S.size();
    while (b < e && static_cast<unsigned char>(S[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ')
        --e;
    return S.substr(b, e - b);
}

std::string NetDurationText(int Ms)
{
    return Ms % 1000 == 0 ? std::to_string(Ms / 1000) + " s" : std::to_string(Ms) + " ms";
}

bool NetSocketIsDottedIP(const std::string &S)
{
    size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    if (i >= S.size() || S[i] == '.')
        return false;
    int dots = 0, num = 0;
    bool digits = false;
    for (; i < S.size(); ++i) {
        char c = S[i];
        if (c == '.') {
            if (!digits || ++dots > 3 || i + 1 >= S.size() || !NetIsDigit(S[i + 1]))
                return false;
            num = 0;
            digits = false;
        } else if (NetIsDigit(c)) {
            num = num * 10 + (c - '0');
            digits = true;
            if (num > 255)
                return false;
        } else if (c == ' ') {
            while (i < S.size() && S[i] == ' ')
                ++i;
            if (i < S.size())
                return false;
            break;
        } else {
            return false;
        }
    }
    return dots == 3 && digits;
}

std::string NetInetNtoa(uint32_t AddrNetOrder)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&AddrNetOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

uint32_t NetInetAddr(const std::string &S)
{
    in_addr a{};
    std::string t = NetTrim(S);
    if (!NetSocketIsDottedIP(t) || inet_pton(AF_INET, t.c_str(), &a) != 1)
        return 0xffffffffu;
    return a.s_addr;
}

std::string LocalHostName()
{
    char buf[64];
    if (gethostname(buf, sizeof buf) != 0)
        throw ESocketException("Winsock.GetHostName failed");
    buf[sizeof buf - 1] = 0;
    return buf;
}

uint32_t NetSocketResolveHost(const std::string &S)
{
    if (S.empty() || S.size() >= 257)
        throw ESocketException("NetSocketResolveHost: '" + S + "' Invalid Hostname.");
    std::string t = NetTrim(S);
    if (NetSocketIsDottedIP(t)) {
        uint32_t a = NetInetAddr(t);
        if (a == 0xffffffffu && t != "255.255.255.255")
            throw ESocketException("NetSocketResolveHost: '" + S + "' Invalid IP address.");
        return a;
    }
    std::vector<uint32_t> addrs;
    int err = NetSocketResolveName(t, addrs);
    if (err != 0 || addrs.empty()) {
        WSASetLastError(err ? err : WSANO_DATA);
        throw ESocketException("NetSocketResolveHost: Cannot convert host address '" + t + "', Error #" +
                               std::to_string(WSAGetLastError()));
    }
    return addrs.front();
}

uint16_t NetSocketResolvePort(const std::string &Port, const std::string &Proto)
{
    if (Port.empty() || Port.size() >= 32)
        throw ESocketException("NetSocketResolvePort: Invalid Port.");
    if (Proto.empty() || Proto.size() >= 32)
        throw ESocketException("NetSocketResolvePort: Invalid Proto.");
    if (NetIsDigit(Port[0])) {
        // A number must fit a port: 65536 and above would wrap to another port.
        size_t i = 0;
        while (i < Port.size() && NetIsDigit(Port[i]))
            ++i;
        if (i > 5 || NetAtoi(Port) > 65535)
            throw ESocketException("NetSocketResolvePort: Invalid Port.");
        return static_cast<uint16_t>(NetAtoi(Port));
    }
    std::string p = NetTrim(Port), pr = NetTrim(Proto);
    servent sbuf{}, *se = nullptr;
    char tmp[1024];
    if (getservbyname_r(p.c_str(), pr.c_str(), &sbuf, tmp, sizeof tmp, &se) != 0 || !se) {
        WSASetLastError(WSANO_DATA);
        throw ESocketException("NetSocketResolvePort: Cannot convert port '" + p + "', Error #" +
                               std::to_string(WSANO_DATA));
    }
    return ntohs(static_cast<uint16_t>(se->s_port));
}

int NetSocketResolveProto(const std::string &Proto)
{
    if (Proto.empty() || Proto.size() >= 32)
        throw ESocketException("NetSocketResolveProto: Invalid Protocol.");
    if (NetIsDigit(Proto[0]))
        return NetAtoi(Proto);
    std::string p = NetTrim(Proto);
    protoent pbuf{}, *pe = nullptr;
    char tmp[1024];
    if (getprotobyname_r(p.c_str(), &pbuf, tmp, sizeof tmp, &pe) != 0 || !pe) {
        // Minimal containers may lack /etc/protocols; the two protocols the
        // components use are known without it.
        if (p == "tcp" || p == "TCP")
            return 6;
        if (p == "udp" || p == "UDP")
            return 17;
        WSASetLastError(WSANO_DATA);
        throw ESocketException("NetSocketResolveProto: Cannot convert protocol '" + p + "', Error #" +
                               std::to_string(WSANO_DATA));
    }
    return pe->p_proto;
}
