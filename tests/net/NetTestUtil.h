#pragma once
// Loopback peers and event-loop helpers for the internet component tests.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>

#include "net/NetSocket.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace nettest {

// Runs the event loop until Pred holds or the (generous) deadline passes.
inline bool PumpUntil(const std::function<bool()> &Pred, int Ms = 15000)
{
    QDeadlineTimer deadline(Ms);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(10); // wakes the wait so predicates fed by peer threads are seen
    while (!Pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets queued events run for a few turns of the loop.
inline void PumpBriefly(int Turns = 20)
{
    for (int i = 0; i < Turns; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

inline sockaddr_in Loopback(int Port = 0)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(Port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

// A listening socket on a free loopback port (0 when it could not be set up).
inline int ListenLoopback(int &Port, int Backlog = 8)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = Loopback();
    socklen_t len = sizeof sa;
    Port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 && ::listen(fd, Backlog) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        Port = ntohs(sa.sin_port);
    return fd;
}

// Points S at the loopback port and connects.
inline void ConnectTo(TNetSocket &S, int Port)
{
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(Port));
    S.SetProto("tcp");
    S.Connect();
}

// A port nobody listens on (bound, then released).
inline int FreePort()
{
    int port = 0;
    int fd = ListenLoopback(port);
    ::close(fd);
    return port;
}

inline bool WaitReadable(int Fd, int Ms)
{
    pollfd p{Fd, POLLIN, 0};
    return ::poll(&p, 1, Ms) > 0;
}

inline std::string ReadExactly(int Fd, size_t N, int Ms = 10000)
{
    std::string out;
    while (out.size() < N) {
        if (!WaitReadable(Fd, Ms))
            break;
        char buf[65536];
        ssize_t n = ::recv(Fd, buf, std::min(sizeof buf, N - out.size()), 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

inline std::string ReadUntil(int Fd, const std::string &Delim, int Ms = 10000)
{
    std::string out;
    while (out.find(Delim) == std::string::npos) {
        if (!WaitReadable(Fd, Ms))
            break;
        char c;
        if (::recv(Fd, &c, 1, 0) <= 0)
            break;
        out += c;
    }
    return out;
}

// Reads until the other side closes (or resets).
inline std::string ReadAll(int Fd, int Ms = 10000)
{
    std::string out;
    for (;;) {
        if (!WaitReadable(Fd, Ms))
            break;
        char buf[65536];
        ssize_t n = ::recv(Fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

inline void SendAll(int Fd, const std::string &S)
{
    size_t off = 0;
    while (off < S.size()) {
        ssize_t n = ::send(Fd, S.data() + off, S.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<size_t>(n);
    }
}

inline void ResetClose(int Fd)
{
    linger l{1, 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(Fd);
}

// A TCP peer on a free loopback port that accepts Count connections and runs
// the script on each in its own thread; the connection is closed afterwards
// unless the script returns true (it closed or reset it itself).
class ScriptedPeer {
public:
    using Script = std::function<bool(int Fd, int Index)>;
    explicit ScriptedPeer(Script S, int Count = 1) : FScript(std::move(S))
    {
        FListen = ListenLoopback(FPort);
        FThread = std::thread([this, Count] {
            for (int i = 0; i < Count && !FStop; ++i) {
                if (!WaitReadable(FListen, 15000))
                    break;
                int fd = ::accept(FListen, nullptr, nullptr);
                if (fd < 0)
                    break;
                bool closed = FScript(fd, i);
                if (!closed)
                    ::close(fd);
                ++FServed;
            }
        });
    }
    ~ScriptedPeer()
    {
        FStop = true;
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    int Port() const { return FPort; }
    std::string PortStr() const { return std::to_string(FPort); }
    int Served() const { return FServed; }

private:
    Script FScript;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FServed{0};
    std::thread FThread;
};

// A peer script that sends Bytes, then waits for the client to close.
inline ScriptedPeer::Script SendThenWait(std::string Bytes)
{
    return [Bytes](int Fd, int) {
        SendAll(Fd, Bytes);
        ReadAll(Fd, 5000);
        return false;
    };
}

// A scripted SMTP server: banner, then canned replies keyed by command prefix.
// Everything the client sent is kept in Received.
struct ScriptedSmtp {
    std::string Received;
    std::mutex M;
    std::unique_ptr<ScriptedPeer> Peer;
    ScriptedSmtp(std::string Banner, std::function<std::string(const std::string &)> Reply)
    {
        Peer = std::make_unique<ScriptedPeer>([this, Banner, Reply](int fd, int) {
            SendAll(fd, Banner);
            bool inData = false;
            for (std::string line; !(line = ReadUntil(fd, "\r\n")).empty();) {
                {
                    std::lock_guard<std::mutex> lock(M);
                    Received += line;
                }
                if (inData) {
                    if (line == ".\r\n") {
                        inData = false;
                        SendAll(fd, "250 queued\r\n");
                    }
                    continue;
                }
                const std::string r = Reply(line.substr(0, line.size() - 2));
                if (r == "<close>")
                    return false;
                SendAll(fd, r);
                inData = line.rfind("DATA", 0) == 0 && r.rfind("354", 0) == 0;
                if (line.rfind("QUIT", 0) == 0) {
                    ::shutdown(fd, SHUT_WR);
                    ReadAll(fd, 2000);
                    return false;
                }
            }
            return false;
        });
    }
    std::string Got()
    {
        std::lock_guard<std::mutex> lock(M);
        return Received;
    }
};

inline std::string Ok(const std::string &cmd)
{
    if (cmd.rfind("DATA", 0) == 0)
        return "354 go ahead\r\n";
    if (cmd.rfind("QUIT", 0) == 0)
        return "221 bye\r\n";
    if (cmd.rfind("RCPT", 0) == 0)
        return "251 will forward\r\n";
    return "250 ok\r\n";
}

// Ok, except that commands starting with Prefix get Reply.
inline std::function<std::string(const std::string &)> OkBut(std::string Prefix, std::string Reply)
{
    return [Prefix, Reply](const std::string &cmd) { return cmd.rfind(Prefix, 0) == 0 ? Reply : Ok(cmd); };
}

// The text of the exception E that Fn raises, or "(nothing raised)".
template <class E, class F> std::string Raised(F &&Fn)
{
    try {
        Fn();
    } catch (const E &e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Waits until something accepts connections on the loopback port.
inline bool WaitForListener(int Port, int Ms = 10000)
{
    QDeadlineTimer deadline(Ms);
    while (!deadline.hasExpired()) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa = Loopback(Port);
        int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        ::close(fd);
        if (rc == 0)
            return true;
        ::usleep(20000);
    }
    return false;
}

// A helper program run for one test and stopped with it.
class PeerProcess {
public:
    bool Start(const QString &Program, const QStringList &Args, int Port)
    {
        FProc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProc.start(Program, Args);
        if (!FProc.waitForStarted(10000))
            return false;
        return WaitForListener(Port);
    }
    ~PeerProcess()
    {
        if (FProc.state() != QProcess::NotRunning) {
            FProc.terminate();
            if (!FProc.waitForFinished(5000)) {
                FProc.kill();
                FProc.waitForFinished(5000);
            }
        }
    }
    QProcess &Proc() { return FProc; }

private:
    QProcess FProc;
};

// The SMTP receiver tests/net/smtp_server.py (python3-aiosmtpd) on a free
// port; message N is kept as N.eml behind a few envelope lines.
struct AioSmtpd {
    orbtest::TempDir Out;
    PeerProcess Proc;
    int Port = FreePort();
    bool Start()
    {
        return Proc.Start("/usr/bin/python3",
                          {QString(ORB_SOURCE_DIR) + "/tests/net/smtp_server.py", QString::number(Port),
                           QString::fromStdString(Out.str())},
                          Port);
    }
    std::string Message(int n) const { return Out.file(std::to_string(n) + ".eml"); }
};

// The header values of a stored message (envelope lines, a blank line, the
// message) as Python's email package decodes them: one line per name, an
// address header as "display name|address" per address, joined by "; ".
inline std::vector<std::string> DecodedHeaders(const std::string &Eml, const std::vector<std::string> &Names)
{
    QStringList args{QString(ORB_SOURCE_DIR) + "/tests/net/decode_headers.py", QString::fromStdString(Eml)};
    for (const std::string &n : Names)
        args << QString::fromStdString(n);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start("/usr/bin/python3", args);
    std::vector<std::string> out;
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return out;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (out.size() < Names.size())
            out.push_back(line.toStdString());
    return out;
}

// A loopback listener whose queue is full: its one place is taken by a
// connection that is never accepted, so a further attempt is dropped.
class FullListener {
public:
    FullListener() : FListener(ListenLoopback(FPort, 0))
    {
        sockaddr_in sa = Loopback(FPort);
        FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FPort && ::connect(FFiller, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0)
            FPort = 0;
    }
    ~FullListener()
    {
        ::close(FFiller);
        ::close(FListener);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;
    bool Ready() const { return FPort != 0; } // false when it could not be set up
    int Port() const { return FPort; }

private:
    int FPort = 0, FListener, FFiller;
};

} // namespace nettest
