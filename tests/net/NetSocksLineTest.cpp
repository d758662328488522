// SOCKS negotiation (microsocks and scripted proxies), line mode (bursts of
// lines that arrive in few reads among them) and waits.
#include "net/NetSocket.h"
#include "net/NetTestUtil.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {
struct SocksLog {
    std::vector<std::string> Events;
    std::string Data;
    int Closed = 0;
    void Attach(TNetSocket &S)
    {
        S.OnSocksConnected = [this](TCustomNetSocket *, uint16_t e) { Events.push_back("proxy " + std::to_string(e)); };
        S.OnSocksError = [this](TCustomNetSocket *, int e, const std::string &m) {
            Events.push_back("socks error " + std::to_string(e) + " " + m);
        };
        S.OnSocksAuthState = [this](TCustomNetSocket *, TSocksAuthState a) {
            Events.push_back("auth " + std::to_string(static_cast<int>(a)));
        };
        S.OnSessionConnected = [this](TCustomNetSocket *, uint16_t e) {
            Events.push_back("connected " + std::to_string(e));
        };
        S.OnSessionClosed = [this](TCustomNetSocket *, uint16_t e) {
            ++Closed;
            Events.push_back("closed " + std::to_string(e));
        };
        S.OnDataAvailable = [this](TCustomNetSocket *s, uint16_t) {
            std::string got = s->ReceiveStr();
            if (!got.empty() && (Events.empty() || Events.back() != "data"))
                Events.push_back("data");
            Data += got;
        };
    }
};

// A target server that greets, then echoes one line back.
ScriptedPeer::Script Greeter()
{
    return [](int fd, int) {
        SendAll(fd, "welcome\r\n");
        std::string line = ReadUntil(fd, "\n");
        SendAll(fd, "echo:" + line);
        return false;
    };
}

// A version 5 proxy that takes the method offer and the request for
// 127.0.0.1:80, then answers with Reply (and Trailing after it) and closes
// when the client does, or at once.
ScriptedPeer::Script Socks5Proxy(std::string Reply, bool WaitForClient = true)
{
    return [Reply, WaitForClient](int fd, int) {
        ReadExactly(fd, 3);
        SendAll(fd, std::string("\x05\x00", 2));
        ReadExactly(fd, 5 + 9 + 2);
        SendAll(fd, Reply);
        if (WaitForClient)
            ReadAll(fd, 5000);
        return false;
    };
}

void SetSocks(TNetSocket &S, int ProxyPort, const std::string &Level, int TargetPort, const std::string &Host)
{
    S.SetSocksServer("127.0.0.1");
    S.SetSocksPort(std::to_string(ProxyPort));
    S.SetSocksLevel(Level);
    S.SetAddr(Host);
    S.SetPort(std::to_string(TargetPort));
}
} // namespace

TEST(NetSocks, Version5ThroughMicrosocks)
{
    const int open = FreePort(), locked = FreePort();
    PeerProcess proxy, lockedProxy;
    ASSERT_TRUE(proxy.Start("microsocks", {"-i", "127.0.0.1", "-p", QString::number(open)}, open));
    ASSERT_TRUE(lockedProxy.Start(
        "microsocks", {"-i", "127.0.0.1", "-p", QString::number(locked), "-u", "alice", "-P", "s3cret"}, locked));
    const struct {
        int port;
        const char *password; // nullptr: no authentication offered
        std::vector<std::string> events;
        std::string data;
    } cases[] = {
        {open, nullptr, {"proxy 0", "connected 0", "data"}, "welcome\r\necho:hi there\n"},
        {locked, "s3cret", {"proxy 0", "auth 0", "auth 1", "connected 0", "data"}, "welcome\r\necho:hi there\n"},
        // No method offered that the proxy accepts; a wrong password.
        {locked, nullptr,
         {"proxy 0", "socks error 20003 authentification method not acceptable", "connected 20003", "closed 20003"},
         ""},
        {locked, "wrong",
         {"proxy 0", "auth 0", "auth 2", "socks error 20015 socks authentication failed", "connected 20015",
          "closed 20015"},
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.port) + " " + (c.password ? c.password : "-"));
        ScriptedPeer target(Greeter());
        TNetSocket s;
        SocksLog log;
        log.Attach(s);
        SetSocks(s, c.port, "5", target.Port(), "localhost");
        if (c.password) {
            s.SocksAuthentication = socksAuthenticateUsercode;
            s.SocksUsercode = "alice";
            s.SocksPassword = c.password;
        }
        s.OnSessionConnected = [&](TCustomNetSocket *so, uint16_t e) {
            log.Events.push_back("connected " + std::to_string(e));
            if (e == 0)
                so->SendStr("hi there\n");
        };
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Closed > 0; }));
        EXPECT_EQ(log.Data, c.data);
        // A refusal is the whole story; a session goes on past the data.
        ASSERT_GE(log.Events.size(), c.events.size());
        if (c.data.empty()) {
            EXPECT_EQ(log.Events, c.events);
        } else {
            EXPECT_EQ(std::vector<std::string>(log.Events.begin(), log.Events.begin() + long(c.events.size())),
                      c.events);
        }
        // A close resets the SOCKS settings.
        EXPECT_TRUE(s.SocksServer().empty());
        EXPECT_EQ(s.SocksLevel(), "5");
    }
}

TEST(NetSocks, Version4And4ARequestsAndEarlyServerData)
{
    for (std::string level : {"4", "4A"}) {
        SCOPED_TRACE(level);
        std::string request;
        ScriptedPeer proxy([&](int fd, int) {
            request = ReadExactly(fd, 8);
            request += ReadUntil(fd, std::string(1, '\0'));
            if (level == "4A")
                request += ReadUntil(fd, std::string(1, '\0'));
            // Grant, with the server's first bytes in the same packet.
            SendAll(fd, std::string("\0\x5a\0\0\0\0\0\0", 8) + "early\r\n");
            ReadAll(fd, 5000);
            return false;
        });
        TNetSocket s;
        SocksLog log;
        log.Attach(s);
        SetSocks(s, proxy.Port(), level == "4A" ? "4a" : "4", 8080, level == "4A" ? "far.example" : "127.0.0.1");
        s.SocksUsercode = "bob";
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Data == "early\r\n"; }));
        EXPECT_EQ(log.Events, (std::vector<std::string>{"proxy 0", "connected 0", "data"}));
        std::string expect("\x04\x01\x1f\x90", 4);
        expect += level == "4A" ? std::string("\0\0\0\x01", 4) : std::string("\x7f\0\0\x01", 4);
        expect += std::string("bob\0", 4);
        if (level == "4A")
            expect += std::string("far.example\0", 12);
        EXPECT_EQ(request, expect);
        s.Close();
    }
}

TEST(NetSocks, ErrorRepliesMapToTheirCodes)
{
    struct Case {
        std::string level;
        std::string reply;
        int code;
        std::string text;
    };
    const std::vector<Case> cases{
        {"4", std::string("\0\x5b\0\0\0\0\0\0", 8), 20016, "request rejected or failed"},
        {"4", std::string("\0\x5c\0\0\0\0\0\0", 8), 20008, "connection refused"},
        {"4", std::string("\0\x5d\0\0\0\0\0\0", 8), 20015, "authentification failed"},
        {"4", std::string("\0\x63\0\0\0\0\0\0", 8), 20012, "unassigned error #99"},
        {"4", std::string("\x05\x5a\0\0\0\0\0\0", 8), 20002, "socks version error"},
        {"5", std::string("\x05\x05\0\x01", 4), 20008, "connection refused"},
        {"5", std::string("\x05\x01\0\x01", 4), 20004, "general SOCKS server failure"},
        {"5", std::string("\x05\x09\0\x01", 4), 20012, "unassigned error #9"},
        {"5", std::string("\x05\x00\0\x07\0", 5), 20011, "address type not supported"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedPeer proxy(c.level == "5" ? Socks5Proxy(c.reply) : [&](int fd, int) {
            ReadExactly(fd, 8);
            ReadUntil(fd, std::string(1, '\0'));
            SendAll(fd, c.reply);
            ReadAll(fd, 5000);
            return false;
        });
        TNetSocket s;
        SocksLog log;
        log.Attach(s);
        SetSocks(s, proxy.Port(), c.level, 80, "127.0.0.1");
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Closed > 0; }));
        const std::string code = std::to_string(c.code);
        EXPECT_EQ(log.Events, (std::vector<std::string>{"proxy 0", "socks error " + code + " " + c.text,
                                                         "connected " + code, "closed " + code}));
    }
}

TEST(NetSocks, LongestVersion5ReplyWithTrailingDataFitsTheBuffer)
{
    // Server data right behind the reply.
    ScriptedPeer proxy(Socks5Proxy(std::string("\x05\x00\x00\x03\xff", 5) + std::string(255, 'b') +
                                   std::string("\x01\xbb", 2) + std::string(600, 'D')));
    TNetSocket s;
    SocksLog log;
    log.Attach(s);
    SetSocks(s, proxy.Port(), "5", 80, "127.0.0.1");
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Data.size() == 600; }));
    EXPECT_EQ(log.Data, std::string(600, 'D'));
    EXPECT_EQ(s.BoundAddr(), std::string(255, 'b'));
    EXPECT_EQ(s.BoundPort(), "443");
    s.Close();
}

TEST(NetSocks, RefusedSettings)
{
    TNetSocket s;
    std::vector<std::string> errors;
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort("1080");
    EXPECT_THROW(s.SetSocksLevel("6"), ESocketException);
    s.SetProto("udp");
    s.SetAddr("127.0.0.1");
    s.SetPort("53");
    EXPECT_EQ(Raised<ESocketException>([&] { s.Connect(); }), "tcp is the only protocol supported thru socks server");
    // One-byte length fields cannot carry more than 255 bytes.
    s.SetProto("tcp");
    s.SetAddr(std::string(256, 'h'));
    EXPECT_THROW(s.Connect(), ESocketException);
    EXPECT_EQ(s.State(), wsClosed);
    s.SetAddr("127.0.0.1");
    s.SocksPassword = std::string(300, 'p');
    EXPECT_THROW(s.Connect(), ESocketException);
    EXPECT_EQ(s.HSocket(), -1);
}

// ---------------------------------------------------------------- line mode

namespace {
struct LineCollector {
    std::vector<std::string> Lines;
    int Closed = 0;
    void Attach(TNetSocket &S)
    {
        S.SetLineMode(true);
        S.OnDataAvailable = [this](TCustomNetSocket *s, uint16_t) { Lines.push_back(s->ReceiveStr()); };
        S.OnSessionClosed = [this](TCustomNetSocket *, uint16_t) { ++Closed; };
    }
};
} // namespace

TEST(NetLineMode, OtherTerminatorsAndLineLimit)
{
    ScriptedPeer peer([](int fd, int) {
        SendAll(fd, "one||two|");
        ::usleep(50000);
        SendAll(fd, "|" + std::string(40, 'x'));
        ReadAll(fd, 5000);
        return false;
    });
    TNetSocket s;
    LineCollector c;
    c.Attach(s);
    s.LineEnd = "||";
    s.LineLimit = 30;
    std::vector<int> limits;
    s.OnLineLimitExceeded = [&](TCustomNetSocket *, int cnt, bool &) { limits.push_back(cnt); };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return !limits.empty(); }));
    EXPECT_EQ(c.Lines, (std::vector<std::string>{"one||", "two||"}));
    EXPECT_GT(limits[0], 30);
    EXPECT_EQ(s.HeldCount(), 0); // ClearData left true drops the bytes
    s.Close();
}

TEST(NetLineMode, UnreadLineIsOfferedAgainFromTheMessageLoop)
{
    ScriptedPeer peer(SendThenWait("first\r\nsecond\r\n"));
    TNetSocket s;
    s.SetLineMode(true);
    int calls = 0;
    bool inHandler = false, reentered = false;
    std::vector<std::string> lines;
    s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
        reentered = reentered || inHandler;
        inHandler = true;
        if (++calls >= 3)
            lines.push_back(so->ReceiveStr()); // the first two offers are left unread
        inHandler = false;
    };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return lines.size() == 2; }));
    EXPECT_EQ(lines, (std::vector<std::string>{"first\r\n", "second\r\n"}));
    EXPECT_FALSE(reentered);
    s.Close();
}

TEST(NetLineMode, SwitchingLineModeDeliversHeldBytesWithoutNewData)
{
    ScriptedPeer peer(SendThenWait("alpha\r\nbeta\r\ngamma"));
    TNetSocket s;
    s.SetLineMode(true);
    std::vector<std::string> got;
    s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
        got.push_back(so->ReceiveStr());
        if (got.size() == 1)
            s.SetLineMode(false); // the rest comes as raw bytes
    };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return got.size() >= 2; }));
    PumpBriefly();
    std::string rest;
    for (size_t i = 1; i < got.size(); ++i)
        rest += got[i];
    EXPECT_EQ(got[0], "alpha\r\n");
    EXPECT_EQ(rest, "beta\r\ngamma");
    s.Close();
}

TEST(NetLineMode, EditingAndEcho)
{
    std::string echoed;
    ScriptedPeer peer([&](int fd, int) {
        SendAll(fd, "ab\bc\td\r\n");
        echoed = ReadExactly(fd, 3 + 3 + 1 + 5 + 1 + 2);
        return false;
    });
    TNetSocket s;
    LineCollector c;
    c.Attach(s);
    s.LineEdit = true;
    s.LineEcho = true;
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return c.Closed > 0; }));
    ASSERT_FALSE(c.Lines.empty());
    EXPECT_EQ(c.Lines[0], "ac      d\r\n");
    EXPECT_EQ(echoed, "ab\b \bc      d\r\n");
}

TEST(NetLineBurst, EveryLineOfABurstArrivesWholeAndInOrder)
{
    std::string burst;
    std::vector<std::string> want;
    for (int i = 0; i < 20000; ++i) {
        want.push_back("line " + std::to_string(i) + std::string(size_t(i % 37), '.') + "\r\n");
        burst += want.back();
    }
    for (bool pieces : {false, true}) {
        SCOPED_TRACE(pieces);
        ScriptedPeer peer([&](int Fd, int) {
            SendAll(Fd, burst + "tail without end");
            return false;
        });
        TNetSocket s;
        s.SetLineMode(true);
        std::vector<std::string> got;
        std::string partial;
        bool closed = false;
        s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
            if (!pieces) {
                got.push_back(so->ReceiveStr());
                return;
            }
            // Three bytes at a time: the rest of the line stays offered.
            char buf[3];
            const int n = so->Receive(buf, sizeof buf);
            if (n > 0)
                partial.append(buf, size_t(n));
            if (static_cast<TNetSocket *>(so)->HeldCount() == 0 || (!partial.empty() && partial.back() == '\n') ||
                partial == "tail without end") {
                got.push_back(partial);
                partial.clear();
            }
        };
        s.OnSessionClosed = [&](TCustomNetSocket *, uint16_t) { closed = true; };
        ConnectTo(s, peer.Port());
        ASSERT_TRUE(PumpUntil([&] { return closed; }, 60000));
        std::vector<std::string> all = want;
        all.push_back("tail without end");
        ASSERT_EQ(got.size(), all.size());
        EXPECT_TRUE(got == all);
    }
}

// ---------------------------------------------------------------- waits

TEST(NetSyncWait, TimeOutAndCompletion)
{
    TNetSocket s;
    bool done = false;
    s.Timeout = 100;
    EXPECT_EQ(s.WaitUntilReady(done), 12001);

    s.Timeout = 0; // no limit: returns once the flag is set
    QTimer::singleShot(20, [&] { done = true; });
    EXPECT_EQ(s.WaitUntilReady(done), 0);

    s.Timeout = 10000;
    ScriptedPeer peer(SendThenWait("ready\r\n"));
    s.SetLineMode(true);
    std::string line;
    s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) {
        line = so->ReceiveStr();
        done = true;
    };
    EXPECT_EQ(s.Synchronize([&] { ConnectTo(s, peer.Port()); }, done), 0);
    EXPECT_EQ(line, "ready\r\n");
    s.Close();
}

TEST(NetSocks, EveryTruncationOfAVersion5ReplyClosesCleanly)
{
    std::string reply("\x05\x00\x00\x03\x09", 5);
    reply += "host.test";
    reply += std::string("\x00\x50", 2);
    for (size_t n = 0; n < reply.size(); ++n) {
        SCOPED_TRACE(n);
        ScriptedPeer proxy(Socks5Proxy(reply.substr(0, n), false)); // closes with the reply cut short
        TNetSocket s;
        SocksLog log;
        log.Attach(s);
        SetSocks(s, proxy.Port(), "5", 80, "127.0.0.1");
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Closed > 0; }));
        PumpBriefly();
        EXPECT_EQ(log.Closed, 1);
        EXPECT_EQ(std::count(log.Events.begin(), log.Events.end(), "connected 0"), 0);
    }
}
