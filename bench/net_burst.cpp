// Growth of line handling with the size of a burst, at 1x, 2x, 4x and 8x
// (1x = 50,000 lines): the SMTP client answered to HELO with a burst of
// "250-" continuation lines (the bound on reply lines raised so that the whole
// burst is read), and a socket in line mode reading a burst of lines that
// its server sends and closes. The time per line must stay flat (linear
// growth).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/SmtpClient.h"

namespace {

constexpr int kLinesAt1x = 50000;

void SendAll(int Fd, const std::string &S)
{
    for (size_t off = 0; off < S.size();) {
        const ssize_t n = ::send(Fd, S.data() + off, S.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += size_t(n);
    }
}

std::string ReadLine(int Fd)
{
    std::string line;
    char c;
    while (::recv(Fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

// A listening socket on a free loopback port, served by `Serve` in a thread
// of its own until the socket is shut down; what it serves is the burst.
class BurstServer {
public:
    using ServeFn = void (*)(int Listen, const std::string &Burst);
    BurstServer(std::string Burst, int Backlog, ServeFn Serve) : FBurst(std::move(Burst))
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        ::listen(FListen, Backlog);
        socklen_t len = sizeof sa;
        ::getsockname(FListen, reinterpret_cast<sockaddr *>(&sa), &len);
        FPort = ntohs(sa.sin_port);
        FThread = std::thread([this, Serve] { Serve(FListen, FBurst); });
    }
    ~BurstServer()
    {
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    int Port() const { return FPort; }

private:
    std::string FBurst;
    int FListen = -1;
    int FPort = 0;
    std::thread FThread;
};

// Answers every command of one connection but QUIT with the burst.
void AnswerCommands(int Listen, const std::string &Burst)
{
    const int fd = ::accept(Listen, nullptr, nullptr);
    if (fd < 0)
        return;
    SendAll(fd, "220 bench\r\n");
    for (;;) {
        const std::string cmd = ReadLine(fd);
        if (cmd.empty() || cmd.rfind("QUIT", 0) == 0)
            break;
        SendAll(fd, Burst);
    }
    ::close(fd);
}

// Sends the burst to every connection and closes it.
void SendToEach(int Listen, const std::string &Burst)
{
    for (;;) {
        const int fd = ::accept(Listen, nullptr, nullptr);
        if (fd < 0)
            return;
        SendAll(fd, Burst);
        ::close(fd);
    }
}

bool Pump(const bool &Done)
{
    QDeadlineTimer deadline(120000);
    while (!Done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Done;
}

// Bytes a second and the time a line of the burst took.
void ReportPerLine(benchmark::State &state, int lines, const std::string &burst)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(burst.size()));
    state.counters["lines"] = lines;
    state.counters["ns_per_line"] =
        benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SmtpContinuationBurst(benchmark::State &state)
{
    const int lines = kLinesAt1x * int(state.range(0));
    std::string burst;
    for (int i = 0; i < lines; ++i)
        burst += "250-continuation line " + std::to_string(i) + "\r\n";
    burst += "250 ok\r\n";
    BurstServer server(burst, 1, AnswerCommands);
    TSmtpClient c;
    c.Host = "127.0.0.1";
    c.Port = std::to_string(server.Port());
    c.SignOn = "bench";
    c.MaxReplyLines = size_t(lines) + 10;
    bool done = false;
    int error = 0;
    c.OnRequestDone = [&](TCustomSmtpClient *, TSmtpRequest, uint16_t e) {
        done = true;
        error = e;
    };
    c.Connect();
    if (!Pump(done) || error != 0) {
        state.SkipWithError("no connection to the burst server");
        return;
    }
    for (auto _ : state) {
        done = false;
        c.Helo();
        if (!Pump(done) || error != 0) {
            state.SkipWithError("the burst was not read whole");
            return;
        }
    }
    ReportPerLine(state, lines, burst);
    c.Abort();
}
BENCHMARK(BM_SmtpContinuationBurst)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LineModeBurst(benchmark::State &state)
{
    const int lines = kLinesAt1x * int(state.range(0));
    std::string burst;
    for (int i = 0; i < lines; ++i)
        burst += "211-entry line " + std::to_string(i) + "\r\n";
    BurstServer server(burst, 4, SendToEach);
    for (auto _ : state) {
        TNetSocket s;
        s.SetLineMode(true);
        int got = 0;
        bool closed = false;
        s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
            if (!so->ReceiveStr().empty())
                ++got;
        };
        s.OnSessionClosed = [&](TCustomNetSocket *, uint16_t) { closed = true; };
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(server.Port()));
        s.SetProto("tcp");
        s.Connect();
        if (!Pump(closed) || got != lines) {
            state.SkipWithError("the burst was not read whole");
            return;
        }
    }
    ReportPerLine(state, lines, burst);
}
BENCHMARK(BM_LineModeBurst)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
