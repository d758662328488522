// Socket buffer, helpers and the asynchronous socket against scripted loopback peers.
#include "net/NetSocket.h"
#include "net/NetTestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace nettest;

// ---------------------------------------------------------------- TBuffer

TEST(NetSockBuf, SizesWritesReuseAndShrink)
{
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
    TBuffer b(1460);
    std::string big(2000, 'x');
    EXPECT_EQ(b.Write(big.data(), 2000), 1460);
    EXPECT_EQ(b.Write("y", 1), 0);
    int len = 0;
    ASSERT_NE(b.Peek(len), nullptr);
    EXPECT_EQ(len, 1460);
    EXPECT_EQ(b.Remove(5000), 1460);
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    // Reading everything rewinds the chunk.
    EXPECT_EQ(b.Write("abc", 3), 3);
    EXPECT_EQ(b.WrCount(), 3);
    EXPECT_EQ(b.RdCount(), 0);
    EXPECT_EQ(b.Remove(1), 1);
    const char *p = b.Peek(len);
    EXPECT_EQ(std::string(p, len), "bc");
    // A shrink below the held data is refused and changes nothing.
    TBuffer s(100);
    const std::string data(80, 'q');
    s.Write(data.data(), 80);
    EXPECT_THROW(s.SetBufSize(50), ESocketException);
    EXPECT_EQ(s.BufSize(), 100);
    p = s.Peek(len);
    EXPECT_EQ(std::string(p, len), data);
    // Growing keeps the bytes; shrinking to exactly the data is fine.
    s.SetBufSize(200);
    s.SetBufSize(80);
    p = s.Peek(len);
    EXPECT_EQ(std::string(p, len), data);
}

// ---------------------------------------------------------------- helpers

TEST(NetHelpers, DottedQuadRecognition)
{
    EXPECT_TRUE(NetSocketIsDottedIP("127.0.0.1"));
    EXPECT_TRUE(NetSocketIsDottedIP("  10.1.2.3  "));
    for (const char *bad : {"10.1.2", "10.1.2.256", ".10.1.2.3", "10.1.2.3.", "10.1.2.3  x", "10.1.2.3.4", ""})
        EXPECT_FALSE(NetSocketIsDottedIP(bad)) << bad;
}

TEST(NetHelpers, ResolversAndErrorTexts)
{
    EXPECT_EQ(NetSocketResolveHost("255.255.255.255"), 0xffffffffu);
    EXPECT_EQ(NetSocketResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_THROW(NetSocketResolveHost(""), ESocketException);
    EXPECT_THROW(NetSocketResolveHost(std::string(257, 'a')), ESocketException);
    EXPECT_EQ(NetSocketResolvePort("80", "tcp"), 80);
    EXPECT_EQ(NetSocketResolvePort("smtp", "tcp"), 25);
    EXPECT_EQ(NetSocketResolvePort("65535", "tcp"), 65535);
    for (const char *bad : {"65536", "70000", "99999999"}) {
        try {
            NetSocketResolvePort(bad, "tcp");
            ADD_FAILURE() << bad;
        } catch (const ESocketException &e) {
            EXPECT_STREQ(e.what(), "NetSocketResolvePort: Invalid Port.");
        }
    }
    EXPECT_THROW(NetSocketResolvePort("", "tcp"), ESocketException);
    EXPECT_THROW(NetSocketResolvePort("nosuchservicename", "tcp"), ESocketException);
    EXPECT_EQ(NetSocketResolveProto("tcp"), 6);
    EXPECT_EQ(NetSocketResolveProto("17"), 17);
    EXPECT_EQ(NetSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(NetSocketErrorDesc(12345), "Not a WinSock error");
    EXPECT_EQ(NetSocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(NetSocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(NetSocketErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(NetAtoi("  42abc"), 42);
    EXPECT_EQ(NetAtoi("x"), 0);
}

// ---------------------------------------------------------------- socket

namespace {
// Records the events of one socket in order.
struct Recorder {
    std::vector<std::string> Log;
    std::string Data;
    int Closed = 0;
    int ClosedError = -1;
    int Connected = 0;
    int ConnectedError = -1;
    int DataSent = 0;
    int Errors = 0;
    bool InSend = false;
    bool SentInsideSend = false;

    void Attach(TNetSocket &S, bool Read = true)
    {
        S.OnSessionConnected = [this](TCustomNetSocket *, uint16_t e) {
            ++Connected;
            ConnectedError = e;
            Log.push_back("connected " + std::to_string(e));
        };
        S.OnSessionClosed = [this](TCustomNetSocket *, uint16_t e) {
            ++Closed;
            ClosedError = e;
            Log.push_back("closed " + std::to_string(e));
        };
        if (Read)
            S.OnDataAvailable = [this](TCustomNetSocket *s, uint16_t) {
                std::string got = s->ReceiveStr();
                Data += got;
                if (!got.empty())
                    Log.push_back("data");
            };
        S.OnDataSent = [this](TCustomNetSocket *, uint16_t) {
            ++DataSent;
            if (InSend)
                SentInsideSend = true;
        };
        S.OnError = [this](TCustomNetSocket *) { ++Errors; };
    }
};
} // namespace

// Data in chunks then a plain close, a reset by the peer, a refused connect:
// the connect event comes from the loop, never inside Connect, then one close
// with its code.
TEST(NetSocket, EverySessionEndsWithOneCloseAndItsCode)
{
    const struct {
        const char *what;
        ScriptedPeer::Script script; // none: nobody listens
        std::string data;
        int connected, closed; // closed -1: not asked
    } cases[] = {
        {"chunks then close",
         [](int fd, int) {
             for (const std::string part : {"hello ", "world", ""}) {
                 SendAll(fd, part.empty() ? std::string(10000, 'z') : part);
                 ::usleep(20000);
             }
             return false;
         },
         "hello world" + std::string(10000, 'z'), 0, 0},
        {"reset by the peer",
         [](int fd, int) {
             SendAll(fd, "x");
             ReadExactly(fd, 4); // the client's answer
             ResetClose(fd);
             return true;
         },
         "x", 0, 10054},
        {"refused", nullptr, "", 10061, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ScriptedPeer> peer(c.script ? new ScriptedPeer(c.script) : nullptr);
        TNetSocket s;
        Recorder r;
        r.Attach(s);
        s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
            r.Data += so->ReceiveStr();
            if (r.Data == "x")
                so->SendStr("ping");
        };
        ConnectTo(s, peer ? peer->Port() : FreePort());
        EXPECT_EQ(s.State(), wsConnecting);
        EXPECT_EQ(r.Connected, 0);
        ASSERT_TRUE(PumpUntil([&] { return r.Closed > 0; }));
        PumpBriefly();
        EXPECT_EQ(r.Data, c.data);
        EXPECT_EQ(r.Log.front(), "connected " + std::to_string(c.connected));
        EXPECT_EQ(r.Log.back().substr(0, 7), "closed ");
        if (c.closed >= 0) {
            EXPECT_EQ(r.ClosedError, c.closed);
        }
        EXPECT_EQ(r.Connected, 1);
        EXPECT_EQ(r.Closed, 1);
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_EQ(s.ReadCount(), 0); // reset by the close
    }
}

TEST(NetSocket, BackPressureSendsEveryByteAndReportsDataSentFromTheLoop)
{
    // More than the kernel buffers on both ends can hold, so Send must queue.
    const size_t total = 24 * 1024 * 1024;
    std::string payload(total, '\0');
    for (size_t i = 0; i < total; ++i)
        payload[i] = static_cast<char>((i * 131) >> 3);
    std::string received;
    std::atomic<bool> sendReturned{false};
    ScriptedPeer peer([&](int fd, int) {
        while (!sendReturned) // read nothing until the client's queue has filled up
            ::usleep(1000);
        received = ReadExactly(fd, total, 20000);
        SendAll(fd, "done");
        ReadAll(fd, 5000);
        return false;
    });
    TNetSocket s;
    Recorder r;
    r.Attach(s);
    s.OnSessionConnected = [&](TCustomNetSocket *so, uint16_t e) {
        ++r.Connected;
        if (e == 0) {
            r.InSend = true;
            EXPECT_EQ(so->Send(payload.data(), static_cast<int>(payload.size())), static_cast<int>(total));
            r.InSend = false;
            EXPECT_FALSE(so->AllSent());
            sendReturned = true;
        }
    };
    ConnectTo(s, peer.Port());
    const bool finished = PumpUntil([&] { return r.Data == "done"; }, 60000);
    sendReturned = true;
    ASSERT_TRUE(finished);
    EXPECT_GE(r.DataSent, 1);
    EXPECT_FALSE(r.SentInsideSend);
    EXPECT_TRUE(s.AllSent());
    s.Close();
    EXPECT_EQ(received.size(), total);
    EXPECT_TRUE(received == payload);
}

TEST(NetSocket, MisuseIsReportedThroughOnErrorOrRaised)
{
    TNetSocket s;
    // Without OnError: exceptions with the texts.
    EXPECT_THROW(s.SendStr("x"), ESocketException);
    EXPECT_EQ(Raised<ESocketException>([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("70000");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised<ESocketException>([&] { s.Connect(); }), "connect: NetSocketResolvePort: Invalid Port.");
    EXPECT_EQ(s.State(), wsClosed);

    Recorder r;
    r.Attach(s);
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(r.Errors, 1);
    s.SetSendFlags(7);
    EXPECT_EQ(r.Errors, 2);
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
}

TEST(NetSocket, CloseReportsBeforeReturningAndResetsSettings)
{
    ScriptedPeer peer([](int fd, int) {
        ReadAll(fd, 5000);
        return false;
    });
    TNetSocket s;
    Recorder r;
    r.Attach(s);
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return r.Connected > 0; }));
    r.Errors = 0;
    s.SetPort("1"); // not allowed while connected
    EXPECT_EQ(r.Errors, 1);
    s.Close();
    EXPECT_EQ(r.Closed, 1);
    EXPECT_EQ(s.State(), wsClosed);
    s.Close();
    EXPECT_EQ(r.Closed, 1);
    // Port must be assigned again after a close.
    s.OnError = nullptr;
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised<ESocketException>([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST(NetSocket, EventsOfAClosedConnectionNeverReachTheNextOne)
{
    // Each old peer keeps its end open until the test ends, so no descriptor is
    // freed behind the socket's back and a new connection usually gets the old
    // number again: that is when a stale event could be taken for the new one.
    std::atomic<bool> done{false};
    auto holdUntilDone = [&](int, int) {
        for (int i = 0; i < 5000 && !done; ++i)
            ::usleep(2000);
        return false;
    };
    struct Release {
        std::atomic<bool> &Done;
        ~Release() { Done = true; }
    };
    ScriptedPeer peers[] = {ScriptedPeer(holdUntilDone), ScriptedPeer(holdUntilDone), ScriptedPeer(holdUntilDone),
                            ScriptedPeer(holdUntilDone)};
    Release release{done};
    TNetSocket s;
    Recorder r;
    r.Attach(s);
    ConnectTo(s, peers[0].Port());
    ASSERT_TRUE(PumpUntil([&] { return r.Connected > 0; }));
    for (int round = 1; round < 4; ++round) {
        s.SendStr("x"); // queues a posted write event for this connection
        s.Close();
        ConnectTo(s, peers[round].Port());
        ASSERT_TRUE(PumpUntil([&] { return r.Connected > round; }));
        PumpBriefly();
        EXPECT_EQ(r.DataSent, 0) << "round " << round;
    }
    s.Close();
}

TEST(NetSocket, HandlerThatReadsNothingDoesNotSpin)
{
    ScriptedPeer peer(SendThenWait("pending"));
    TNetSocket s;
    int calls = 0;
    s.OnDataAvailable = [&](TCustomNetSocket *, uint16_t) { ++calls; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
    PumpBriefly(50);
    EXPECT_EQ(calls, 1);
    // Reading re-arms the read event.
    EXPECT_EQ(s.ReceiveStr(), "pending");
    s.Close();
}

TEST(NetSocket, HandlerExceptionsGoToTheBackgroundPath)
{
    ScriptedPeer peer(SendThenWait("boom"));
    TNetSocket s;
    std::vector<std::string> seen;
    int closed = 0;
    s.OnBgException = [&](TCustomNetSocket *, const std::exception &e, bool &) { seen.push_back(e.what()); };
    s.OnSessionClosed = [&](TCustomNetSocket *, uint16_t) { ++closed; };
    s.OnDataAvailable = [&](TCustomNetSocket *, uint16_t) { throw std::runtime_error("handler failed"); };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.front(), "handler failed");
    EXPECT_EQ(s.State(), wsClosed); // CanClose left true: aborted
    EXPECT_EQ(closed, 1);

    // The test message raises inside the message handler; CanClose false keeps going.
    seen.clear();
    s.OnBgException = [&](TCustomNetSocket *, const std::exception &e, bool &CanClose) {
        seen.push_back(e.what());
        CanClose = false;
    };
    s.PostMessage(WM_USER + 6);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.front(), "Test exception in NetSocket");
}

TEST(NetSocket, MessagesToADestroyedSocketAreDropped)
{
    auto *s = new TNetSocket;
    bool called = false;
    s->OnDnsLookupDone = [&](TCustomNetSocket *, uint16_t) { called = true; };
    s->PostMessage(WM_USER + 6);
    s->DnsLookup("localhost");
    delete s;
    PumpBriefly(50);
    EXPECT_FALSE(called);
}

// ---------------------------------------------------------------- lookups

namespace {
struct FakeResolver {
    explicit FakeResolver(TNetResolver R) { NetSocketSetResolver(std::move(R)); }
    ~FakeResolver() { NetSocketSetResolver(nullptr); }
};
} // namespace

TEST(NetSocketLookup, DottedEmptyAndAsynchronousNames)
{
    TNetSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomNetSocket *, uint16_t e) { done.push_back(e); };
    s.DnsLookup("127.0.0.1");
    ASSERT_EQ(done.size(), 1u); // at once, without a message
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    int errors = 0;
    s.OnError = [&](TCustomNetSocket *) { ++errors; };
    s.DnsLookup("");
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[1], 10022);
    EXPECT_EQ(errors, 1);

    s.DnsLookup("localhost");
    EXPECT_EQ(done.size(), 2u); // the reply comes later
    ASSERT_TRUE(PumpUntil([&] { return done.size() == 3; }));
    EXPECT_EQ(done[2], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(NetSocketLookup, FailingAndCancelledLookups)
{
    static std::atomic<bool> release; // outlives the test: the lookup thread may still read it
    release = false;
    FakeResolver fake([&](const std::string &name, std::vector<uint32_t> &addrs) {
        if (name == "slow.invalid") {
            while (!release)
                ::usleep(1000);
            addrs.push_back(htonl(0x7f000001));
            return 0;
        }
        return static_cast<int>(WSAHOST_NOT_FOUND);
    });
    TNetSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomNetSocket *, uint16_t e) { done.push_back(e); };
    s.DnsLookup("nohost.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done[0], 11001);

    done.clear();
    s.DnsLookup("slow.invalid");
    s.CancelDnsLookup();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], 10004);
    release = true;
    ::usleep(50000);
    PumpBriefly(50);
    EXPECT_EQ(done.size(), 1u); // the late answer is dropped
    EXPECT_TRUE(s.DnsResult().empty());
}

TEST(NetSocket, ListenAcceptDupAndFlush)
{
    TNetSocket server;
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsListening);
    const std::string port = server.GetXPort();
    ASSERT_NE(port, "error");

    TNetSocket served;
    std::string atServer;
    served.OnDataAvailable = [&](TCustomNetSocket *s, uint16_t) { atServer += s->ReceiveStr(); };
    server.OnSessionAvailable = [&](TCustomNetSocket *s, uint16_t e) {
        ASSERT_EQ(e, 0);
        served.Dup(s->Accept());
    };

    TNetSocket client;
    Recorder r;
    r.Attach(client);
    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return r.Connected > 0 && served.State() == wsConnected; }));
    EXPECT_EQ(client.PeerPort(), port);
    EXPECT_EQ(client.PeerAddr(), "127.0.0.1");
    const std::string big(300000, 'f');
    client.SendStr(big);
    client.Flush(); // returns once everything has gone to the network
    EXPECT_TRUE(client.AllSent());
    ASSERT_TRUE(PumpUntil([&] { return atServer.size() == big.size(); }));
    served.SendStr("bye");
    served.Close();
    client.WaitForClose();
    EXPECT_EQ(r.Data, "bye");
    EXPECT_EQ(r.Closed, 1);
    server.Close();
}

TEST(NetSocket, DatagramsBothWays)
{
    TNetSocket receiver;
    receiver.SetProto("udp");
    receiver.SetAddr("127.0.0.1");
    receiver.SetPort("0");
    receiver.Listen();
    ASSERT_EQ(receiver.State(), wsConnected);
    std::string got;
    uint16_t fromPort = 0;
    receiver.OnDataAvailable = [&](TCustomNetSocket *s, uint16_t) {
        char buf[100];
        uint32_t from = 0;
        int n = s->ReceiveFrom(buf, sizeof buf, from, fromPort);
        if (n > 0)
            got.assign(buf, static_cast<size_t>(n));
    };
    TNetSocket sender;
    sender.SetProto("udp");
    sender.SetAddr("127.0.0.1");
    sender.SetPort(receiver.GetXPort());
    int connected = 0;
    sender.OnSessionConnected = [&](TCustomNetSocket *, uint16_t) { ++connected; };
    sender.Connect();
    EXPECT_EQ(connected, 1); // at once for datagram sockets
    sender.SendStr("datagram");
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got, "datagram");
    EXPECT_EQ(std::to_string(fromPort), sender.GetXPort());
}

TEST(NetSocketLookup, ReverseLookupOfLoopback)
{
    TNetSocket s;
    int done = -1;
    s.OnDnsLookupDone = [&](TCustomNetSocket *, uint16_t e) { done = e; };
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return done >= 0; }));
    EXPECT_EQ(done, 0);
    EXPECT_FALSE(s.DnsResult().empty());
}
