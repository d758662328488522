// The HTTP client and the socket against hostile peers on loopback: counts
// past 2^31, silent and trickling servers, header floods, short and long
// bodies, replies without a status line, relative redirects.
#include "NetTestUtil.h"
#include "net/HttpClient.h"

#include <gtest/gtest.h>

#include <QBuffer>

#include <climits>
#include <mutex>

using namespace nettest;

namespace {

struct Client {
    Client()
    {
        h.OnRequestDone = [this](THttpCli *, THttpRequest, uint16_t e) {
            ++Count;
            Error = e;
        };
        body.open(QIODevice::ReadWrite);
        h.RcvdStream = &body;
    }
    bool Get(const std::string &Url, THttpRequest Rq = httpRqGet)
    {
        const int before = Count;
        h.URL = Url;
        h.DoRequestAsync(Rq);
        return PumpUntil([&] { return Count > before; });
    }
    std::string Body() const { return body.data().toStdString(); }
    THttpCli h;
    QBuffer body;
    int Count = 0;
    int Error = -1;
};

std::string Url(const ScriptedPeer &P, const std::string &Path = "/")
{
    return "http://127.0.0.1:" + P.PortStr() + Path;
}

// Answers every request with Reply, then keeps the connection open until
// the client closes it.
ScriptedPeer::Script AnswerAndWait(std::string Reply)
{
    return [Reply](int Fd, int) {
        ReadUntil(Fd, "\r\n\r\n");
        SendAll(Fd, Reply);
        ReadAll(Fd, 15000);
        return false;
    };
}

// Sends Head, then Unit again and again until the client goes away.
ScriptedPeer::Script Flood(std::string Head, std::string Unit, int PauseUs = 0)
{
    return [Head, Unit, PauseUs](int Fd, int) {
        ReadUntil(Fd, "\r\n\r\n");
        SendAll(Fd, Head);
        for (int i = 0; i < 2000000; ++i) {
            if (::send(Fd, Unit.data(), Unit.size(), MSG_NOSIGNAL) <= 0)
                break;
            if (PauseUs)
                ::usleep(static_cast<useconds_t>(PauseUs));
        }
        return false;
    };
}

class TestSocket : public TNetSocket {
public:
    void StartCountAt(int64_t N) { FReadCount = N; }
};

} // namespace

TEST(HttpLimits, CountsPassTwoGiBInSixtyFourBits)
{
    const int64_t nearLimit = int64_t(INT_MAX) - 1000;
    const std::string chunk(100000, 'd');
    // No length: the body runs to the close; the count starts near 2^31.
    {
        ScriptedPeer peer([&](int Fd, int) {
            ReadUntil(Fd, "\r\n\r\n");
            SendAll(Fd, "HTTP/1.0 200 OK\r\n\r\n" + chunk);
            return false;
        });
        Client c;
        c.h.OnDocBegin = [&](THttpCli *h) { h->RcvdCount = nearLimit; };
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, 0);
        EXPECT_EQ(c.h.RcvdCount, nearLimit + 100000);
        EXPECT_EQ(c.Body(), chunk);
    }
    // A length beyond 2^31: read as it stands, and the body ends there.
    {
        const int64_t length = (int64_t(1) << 31) + 50;
        ScriptedPeer peer(AnswerAndWait("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) +
                                        "\r\n\r\n" + chunk + "past the end"));
        Client c;
        c.h.OnDocBegin = [&](THttpCli *h) { h->RcvdCount = length - int64_t(chunk.size()); };
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, 0);
        EXPECT_EQ(c.h.ContentLength, length);
        EXPECT_EQ(c.h.RcvdCount, length);
        EXPECT_EQ(c.Body(), chunk) << "bytes past Content-Length are dropped";
    }
    // The socket's own count.
    {
        ScriptedPeer peer([&](int Fd, int) {
            SendAll(Fd, chunk);
            return false;
        });
        TestSocket s;
        std::string got;
        bool closed = false;
        s.OnSessionConnected = [&](TCustomNetSocket *, uint16_t) { s.StartCountAt(nearLimit); };
        s.OnDataAvailable = [&](TCustomNetSocket *so, uint16_t) { got += so->ReceiveStr(); };
        s.OnSessionClosed = [&](TCustomNetSocket *so, uint16_t) {
            closed = true;
            EXPECT_EQ(so->ReadCount(), nearLimit + 100000);
        };
        s.SetAddr("127.0.0.1");
        s.SetPort(peer.PortStr());
        s.SetProto("tcp");
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return closed; }));
        EXPECT_EQ(got, chunk);
    }
}

TEST(HttpLimits, SilentTricklingAndUnreachableServersTimeOut)
{
    // Accepts the request and says nothing.
    {
        ScriptedPeer peer([](int Fd, int) {
            ReadUntil(Fd, "\r\n\r\n");
            ReadAll(Fd, 15000);
            return false;
        });
        Client c;
        c.h.IdleTimeout = 300;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, WSAETIMEDOUT);
        EXPECT_EQ(c.h.ReasonPhrase, "no data from the server for 300 ms (Error #10060)");
        EXPECT_EQ(c.h.State(), httpStReady);
    }
    // Sends its header a byte at a time, never finishing it.
    {
        ScriptedPeer peer(Flood("HTTP/1.0 200 OK\r\n", "x", 20000));
        Client c;
        c.h.IdleTimeout = 300;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, WSAETIMEDOUT);
    }
    // A body trickled a byte at a time.
    {
        ScriptedPeer peer(Flood("HTTP/1.0 200 OK\r\n\r\n", "b", 20000));
        Client c;
        c.h.IdleTimeout = 300;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, WSAETIMEDOUT);
    }
    // A body that stops flowing.
    {
        ScriptedPeer peer(AnswerAndWait("HTTP/1.0 200 OK\r\n\r\nsome of the body"));
        Client c;
        c.h.IdleTimeout = 300;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, WSAETIMEDOUT);
        EXPECT_EQ(c.Body(), "some of the body");
    }
    // A listener whose queue is full drops the connection attempt.
    {
        int port = 0;
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        ASSERT_EQ(::listen(listener, 0), 0);
        socklen_t len = sizeof sa;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        Client c;
        c.h.ConnectTimeout = 300;
        ASSERT_TRUE(c.Get("http://127.0.0.1:" + std::to_string(port) + "/"));
        EXPECT_EQ(c.Error, WSAETIMEDOUT);
        EXPECT_EQ(c.h.StatusCode, 404);
        EXPECT_EQ(c.h.ReasonPhrase, "can't connect: no connection within 300 ms (Error #10060)");
        ::close(filler);
        ::close(listener);
    }
    // The defaults a user would accept.
    THttpCli d;
    EXPECT_EQ(d.ConnectTimeout, 30000);
    EXPECT_EQ(d.IdleTimeout, 60000);
}

TEST(HttpLimits, HeaderFloodsStopAtTheBounds)
{
    {
        ScriptedPeer peer(Flood("HTTP/1.0 200 OK\r\n", "X-Flood: 1\r\n"));
        Client c;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, httperrHeaderTooLarge);
        EXPECT_LE(c.h.RcvdHeader.size(), size_t(THttpCli::MaxHeaderLines));
    }
    {
        ScriptedPeer peer(Flood("HTTP/1.0 200 OK\r\n", "X-Long: " + std::string(8000, 'l') + "\r\n"));
        Client c;
        ASSERT_TRUE(c.Get(Url(peer)));
        EXPECT_EQ(c.Error, httperrHeaderTooLarge);
        EXPECT_LE(c.h.RcvdHeader.size(), THttpCli::MaxHeaderSize / 8000 + 1);
    }
    // A header just within both bounds is read.
    std::string head = "HTTP/1.0 200 OK\r\n";
    for (int i = 3; i < THttpCli::MaxHeaderLines; ++i) // with the status, length and blank lines: the bound
        head += "X-Line: " + std::to_string(i) + "\r\n";
    ScriptedPeer peer(AnswerAndWait(head + "Content-Length: 2\r\n\r\nok"));
    Client c;
    ASSERT_TRUE(c.Get(Url(peer)));
    EXPECT_EQ(c.Error, 0);
    EXPECT_EQ(c.Body(), "ok");
}

TEST(HttpLimits, BodyLengthAndStatusLineAreHeldToTheReply)
{
    struct Case {
        std::string reply;
        THttpRequest rq;
        int error;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcd", httpRqGet, httperrShortBody, "abcd"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n", httpRqGet, httperrShortBody, ""},
        {"HTTP/1.0 200 OK\r\nContent-Length: 999999999999999999\r\n\r\nab", httpRqGet, httperrShortBody, "ab"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nabcd", httpRqGet, 0, "abcd"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", httpRqHead, 0, ""},
        {"HTTP/1.0 404 Not Found\r\nContent-Length: 100\r\n\r\nsorry", httpRqGet, 0, "sorry"},
        {"Server: nothing else\r\n\r\nbody", httpRqGet, httperrBadReply, ""},
        {"\r\nbody", httpRqGet, httperrBadReply, ""},
        {"HTTP/2 200\r\n\r\nbody", httpRqGet, httperrBadReply, ""},
        {"<HTML>no header</HTML>\n", httpRqGet, 0, "<HTML>no header</HTML>\n"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.reply);
        ScriptedPeer peer([&](int Fd, int) {
            ReadUntil(Fd, "\r\n\r\n");
            SendAll(Fd, k.reply);
            return false;
        });
        Client c;
        ASSERT_TRUE(c.Get(Url(peer), k.rq));
        EXPECT_EQ(c.Error, k.error);
        EXPECT_EQ(c.Body(), k.body);
        PumpBriefly();
        EXPECT_EQ(c.Count, 1);
    }
    // Bytes past the announced length are dropped, and the request ends at
    // the length without waiting for the server to close.
    ScriptedPeer peer(AnswerAndWait("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"));
    Client c;
    ASSERT_TRUE(c.Get(Url(peer)));
    EXPECT_EQ(c.Error, 0);
    EXPECT_EQ(c.Body(), "abc");
    EXPECT_EQ(c.h.RcvdCount, 3);
}

TEST(HttpLimits, ReferencesResolveAsRfc3986Says)
{
    // The normal and abnormal examples of RFC 3986 section 5.4.
    const std::string base = "http://a/b/c/d;p?q";
    const std::vector<std::pair<std::string, std::string>> examples = {
        {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"}, {"g#s", "http://a/b/c/g"}, {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"}, {".", "http://a/b/c/"}, {"./", "http://a/b/c/"}, {"..", "http://a/b/"},
        {"../", "http://a/b/"}, {"../g", "http://a/b/g"}, {"../..", "http://a/"}, {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"}, {"../../../../g", "http://a/g"}, {"/./g", "http://a/g"},
        {"/../g", "http://a/g"}, {"g.", "http://a/b/c/g."}, {".g", "http://a/b/c/.g"}, {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"}, {"./../g", "http://a/b/g"}, {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"}, {"g/../h", "http://a/b/c/h"}, {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"}, {"g?y/./x", "http://a/b/c/g?y/./x"}, {"http:g", "http:g"},
        {"HTTP://A:8080/x/../y", "http://A:8080/y"},
    };
    for (const auto &[ref, want] : examples)
        EXPECT_EQ(ResolveURL(base, ref), want) << ref;
}

TEST(HttpLimits, RelativeRedirectsFollowTheRequestUrl)
{
    std::mutex m;
    std::vector<std::string> paths, hosts;
    auto record = [&](const std::string &req) {
        std::lock_guard<std::mutex> lock(m);
        const size_t sp = req.find(' ');
        paths.push_back(req.substr(sp + 1, req.find(' ', sp + 1) - sp - 1));
        const size_t h = req.find("Host: ");
        hosts.push_back(req.substr(h + 6, req.find("\r\n", h) - h - 6));
    };
    ScriptedPeer other([&](int Fd, int) {
        record(ReadUntil(Fd, "\r\n\r\n"));
        SendAll(Fd, "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone");
        return false;
    });
    const std::vector<std::string> locations = {"./next", "../up", "?q=1", "//127.0.0.1:" + other.PortStr() + "/x"};
    ScriptedPeer first(
        [&](int Fd, int i) {
            record(ReadUntil(Fd, "\r\n\r\n"));
            SendAll(Fd, "HTTP/1.0 302 Found\r\nLocation: " + locations[size_t(i)] + "\r\n\r\n");
            return false;
        },
        int(locations.size()));
    Client c;
    ASSERT_TRUE(c.Get(Url(first, "/a/b/c?x=1")));
    EXPECT_EQ(c.Error, 0);
    EXPECT_EQ(c.Body(), "done");
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(paths, (std::vector<std::string>{"/a/b/c?x=1", "/a/b/next", "/a/up", "/a/up?q=1", "/x"}));
    const std::string h1 = "127.0.0.1:" + first.PortStr(), h2 = "127.0.0.1:" + other.PortStr();
    EXPECT_EQ(hosts, (std::vector<std::string>{h1, h1, h1, h1, h2}));
    EXPECT_EQ(c.h.Location, "http://" + h2 + "/x");

    // A location this client cannot follow ends the request with an error.
    ScriptedPeer tls(AnswerAndWait("HTTP/1.0 301 Moved\r\nLocation: https://127.0.0.1/\r\n\r\n"));
    Client k;
    ASSERT_TRUE(k.Get(Url(tls)));
    EXPECT_EQ(k.Error, httperrBadReply);
}
