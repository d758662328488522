// The SMTP client against hostile peers on loopback: silent, trickling and
// unreachable servers, continuation floods, replies that only look like 250.
#include "NetTestUtil.h"
#include "net/SmtpClient.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

struct Session {
    explicit Session(int Port)
    {
        c.Host = "127.0.0.1";
        c.Port = std::to_string(Port);
        c.SignOn = "client.test";
        c.OnRequestDone = [this](TCustomSmtpClient *, TSmtpRequest, uint16_t e) { Done.push_back(e); };
    }
    // Runs one request and gives its error code (-1: it never ended).
    int Run(void (TCustomSmtpClient::*Request)())
    {
        const size_t n = Done.size() + 1;
        (c.*Request)();
        return PumpUntil([&] { return Done.size() >= n; }) ? Done.back() : -1;
    }
    TSmtpCli c;
    std::vector<int> Done;
};

// Banner, then Reply to the first command; then waits for the client to go.
ScriptedPeer::Script AnswerFirst(std::string Reply)
{
    return [Reply](int Fd, int) {
        SendAll(Fd, "220 ready\r\n");
        ReadUntil(Fd, "\r\n");
        SendAll(Fd, Reply);
        ReadAll(Fd, 15000);
        return false;
    };
}

// Banner, then Unit again and again after the first command, until the client goes.
ScriptedPeer::Script FloodAfterFirst(std::string Unit, int PauseUs = 0)
{
    return [Unit, PauseUs](int Fd, int) {
        SendAll(Fd, "220 ready\r\n");
        ReadUntil(Fd, "\r\n");
        for (int i = 0; i < 5000000; ++i) {
            if (::send(Fd, Unit.data(), Unit.size(), MSG_NOSIGNAL) <= 0)
                break;
            if (PauseUs)
                ::usleep(static_cast<useconds_t>(PauseUs));
        }
        return false;
    };
}

} // namespace

TEST(SmtpLimits, SilentTricklingAndUnreachableServersTimeOut)
{
    // No banner at all.
    {
        ScriptedPeer peer([](int Fd, int) {
            ReadAll(Fd, 15000);
            return false;
        });
        Session s(peer.Port());
        s.c.IdleTimeout = 300;
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Connect), WSAETIMEDOUT);
        EXPECT_EQ(s.c.LastResponse(), "500 No reply from the server within 300 ms (Winsock error #10060)");
        EXPECT_EQ(s.c.State(), smtpReady);
    }
    // A banner, then silence after HELO.
    {
        ScriptedPeer peer([](int Fd, int) {
            SendAll(Fd, "220 ready\r\n");
            ReadAll(Fd, 15000);
            return false;
        });
        Session s(peer.Port());
        s.c.IdleTimeout = 300;
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), WSAETIMEDOUT);
        EXPECT_EQ(s.c.ErrorMessage(), "500 No reply from the server within 300 ms (Winsock error #10060)");
    }
    // A reply trickled a byte at a time: it must be whole within the limit.
    {
        ScriptedPeer peer(FloodAfterFirst("2", 20000));
        Session s(peer.Port());
        s.c.IdleTimeout = 300;
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), WSAETIMEDOUT);
    }
    // A listener whose queue is full drops the connection attempt.
    {
        FullListener full;
        ASSERT_TRUE(full.Ready());
        Session s(full.Port());
        s.c.ConnectTimeout = 300;
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Connect), WSAETIMEDOUT);
        EXPECT_EQ(s.c.LastResponse(), "500 No connection within 300 ms (Winsock error #10060)");
    }
    TSmtpCli d;
    EXPECT_EQ(d.ConnectTimeout, 30000);
    EXPECT_EQ(d.IdleTimeout, 60000);
}

TEST(SmtpLimits, ContinuationFloodsAreBoundedAndYieldToTheLoop)
{
    std::string burst;
    for (int i = 0; i < 5000; ++i)
        burst += "250-line " + std::to_string(i) + " of a long reply\r\n";
    // Past the bound: the request fails and the connection goes.
    {
        ScriptedPeer peer(AnswerFirst(burst + "250 ok\r\n"));
        Session s(peer.Port());
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), 500);
        EXPECT_EQ(s.c.ErrorMessage(), "500 Reply has too many lines");
        ASSERT_TRUE(PumpUntil([&] { return s.c.CtrlSocket().State() == wsClosed; }));
    }
    // An endless stream is cut at the bound as well.
    {
        ScriptedPeer peer(FloodAfterFirst("250-more\r\n"));
        Session s(peer.Port());
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), 500);
    }
    // Within a raised bound the reply is read whole, a block per turn of the
    // event loop: something posted at its first line runs before its last.
    {
        ScriptedPeer peer(AnswerFirst(burst + "250 ok\r\n"));
        Session s(peer.Port());
        s.c.MaxReplyLines = 10000;
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        bool posted = false, ran = false, ranBeforeLast = false;
        s.c.OnResponse = [&](TCustomSmtpClient *, const std::string &Line) {
            if (!posted) {
                posted = true;
                QTimer::singleShot(0, [&] { ran = true; });
            }
            if (Line == "250 ok")
                ranBeforeLast = ran;
        };
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), 0);
        EXPECT_TRUE(ranBeforeLast);
        EXPECT_EQ(s.c.LastResponse(), "250 ok");
    }
}

TEST(SmtpLimits, OnlyAWellFormedCodeIsTheReply)
{
    struct Case {
        std::string reply;
        int error;
    };
    const std::vector<Case> cases = {
        {"2500 what\r\n", 500},           {"250x\r\n", 500},           {"250\r\n", 0},
        {"250-a\r\n2500 b\r\n", 500},     {"250-a\r\n250 b\r\n", 0},   {"25 ok\r\n", 500},
        {"550 no\r\n", 550},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.reply);
        ScriptedPeer peer(AnswerFirst(k.reply));
        Session s(peer.Port());
        ASSERT_EQ(s.Run(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), k.error);
    }
    // The banner too.
    ScriptedPeer peer([](int Fd, int) {
        SendAll(Fd, "2200 hello\r\n");
        ReadAll(Fd, 15000);
        return false;
    });
    Session s(peer.Port());
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Connect), 500);
}
