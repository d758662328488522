// SMTP client against python3-aiosmtpd (PLAIN, LOGIN, CRAM-MD5, attachments)
// and scripted peers for the dialogue rules, the failure paths and hostile
// servers (silent, trickling, unreachable, continuation floods, replies that
// only look like 250).
#include "net/HttpClient.h"
#include "net/NetTestUtil.h"
#include "net/SmtpClient.h"
#include "support/TempDir.h"
#include "util/TextCodec.h"

#include <gtest/gtest.h>

using namespace nettest;
using Result = std::pair<int, int>; // request kind, error

namespace {

// Banner, then Unit again and again after the first command (Unit empty:
// silence), until the client goes.
ScriptedPeer::Script AfterFirst(std::string Banner, std::string Unit, int PauseUs = 0)
{
    return [Banner, Unit, PauseUs](int Fd, int) {
        SendAll(Fd, Banner);
        ReadUntil(Fd, "\r\n");
        for (int i = 0; i < 5000000 && !Unit.empty(); ++i) {
            if (::send(Fd, Unit.data(), Unit.size(), MSG_NOSIGNAL) <= 0)
                return false;
            if (PauseUs)
                ::usleep(static_cast<useconds_t>(PauseUs));
        }
        ReadAll(Fd, 15000);
        return false;
    };
}

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

// A client pointed at a loopback port, with its completions recorded.
struct Session {
    TSmtpClient c;
    std::vector<Result> Done;
    explicit Session(int Port = 0)
    {
        c.OnRequestDone = [this](TCustomSmtpClient *, TSmtpRequest k, uint16_t e) {
            Done.emplace_back(static_cast<int>(k), e);
        };
        if (Port != 0) {
            c.Host = "127.0.0.1";
            c.Port = std::to_string(Port);
            c.SignOn = "client.test";
        }
    }
    bool Wait(size_t n = 1) { return PumpUntil([&] { return Done.size() >= n; }); }
    // Starts one request, waits for its completion and gives {kind, error}.
    Result Run(void (TCustomSmtpClient::*Request)())
    {
        const size_t n = Done.size() + 1;
        (c.*Request)();
        return Wait(n) ? Done.back() : Result(-1, -1);
    }
    // The error code of one request (-1: it never ended).
    int Error(void (TCustomSmtpClient::*Request)()) { return Run(Request).second; }
};

} // namespace

TEST(SmtpClient, BannerContinuationRecipientsAndDotStuffing)
{
    ScriptedSmtp srv("220-first banner line\r\n220-second\r\n220 ready\r\n", Ok);
    Session s(srv.Peer->Port());
    TSmtpClient &c = s.c;
    std::vector<std::string> shown;
    c.OnDisplay = [&](TCustomSmtpClient *, const std::string &m) { shown.push_back(m); };
    c.Connect();
    EXPECT_THROW(c.Helo(), SmtpException); // busy
    ASSERT_TRUE(s.Wait());
    EXPECT_EQ(s.Done.back(), std::make_pair(0, 0));
    EXPECT_EQ(c.LastResponse(), "220 ready");
    EXPECT_EQ(c.State(), smtpReady);

    EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), std::make_pair(1, 0));
    c.FromName = "Sender Name <from@example.org>";
    ASSERT_NE(s.Run(&TCustomSmtpClient::MailFrom).first, -1);
    c.RcptName = {"one@example.org", " <two@example.org> "};
    EXPECT_EQ(s.Run(&TCustomSmtpClient::RcptTo), std::make_pair(4, 0)); // 251 is accepted

    c.HdrSubject = "Test";
    c.HdrFrom = "from@example.org";
    c.MailMessage = {"first", ".leading dot", ".", "two\r\nlines\n.dot after break"};
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Data), std::make_pair(5, 0));
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Quit), std::make_pair(6, 0));

    const std::string got = srv.Got();
    EXPECT_NE(got.find("HELO client.test\r\nMAIL FROM:Sender Name <from@example.org>\r\n"
                       "RCPT TO:<one@example.org>\r\nRCPT TO:<two@example.org>\r\nDATA\r\n"),
              std::string::npos);
    EXPECT_NE(got.find("\r\n\r\nfirst\r\n..leading dot\r\n..\r\ntwo\r\nlines\r\n..dot after break\r\n.\r\nQUIT"),
              std::string::npos);
    EXPECT_NE(got.find("Subject: Test\r\n"), std::string::npos);
    EXPECT_NE(got.find("Sender: from@example.org\r\nMime-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=\"iso-8859-1\"\r\nDate: "),
              std::string::npos);
    EXPECT_NE(std::find(shown.begin(), shown.end(), "> HELO client.test"), shown.end());
}

TEST(SmtpClient, OpenWithLoginFailsWhenEhloIsRefused)
{
    ScriptedSmtp srv("220 old server\r\n", OkBut("EHLO", "500 what is EHLO\r\n"));
    Session s(srv.Peer->Port());
    s.c.AuthType = smtpAuthLogin;
    s.c.Username = "u";
    s.c.Password = "p";
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 500));
    EXPECT_EQ(s.Done.size(), 1u);
    EXPECT_EQ(s.c.ErrorMessage(), "500 what is EHLO");
    const std::string got = srv.Got();
    EXPECT_NE(got.find("EHLO client.test\r\nHELO client.test\r\n"), std::string::npos);
    EXPECT_EQ(got.find("AUTH"), std::string::npos);
}

TEST(SmtpClient, FailurePaths)
{
    {
        // A refused command inside Mail drops the later steps.
        ScriptedSmtp srv("220 hi\r\n", OkBut("RCPT", "550 no such user\r\n"));
        Session s(srv.Peer->Port());
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 0));
        s.c.FromName = "a@b";
        s.c.RcptName = {"x@y"};
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 550));
        EXPECT_EQ(s.c.ErrorMessage(), "550 no such user");
        EXPECT_EQ(srv.Got().find("DATA"), std::string::npos);
    }
    {
        // An over-long reply line fails the request instead of being cut.
        ScriptedSmtp srv("220 hi\r\n", OkBut("HELO", "250 " + std::string(5000, 'x') + "\r\n"));
        Session s(srv.Peer->Port());
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 500));
        EXPECT_EQ(s.c.LastResponse(), "500 Reply line too long");
    }
    {
        // The server goes away in the middle of a request.
        ScriptedSmtp srv("220 hi\r\n", OkBut("HELO", "<close>"));
        Session s(srv.Peer->Port());
        ASSERT_NE(s.Run(&TCustomSmtpClient::Connect).first, -1);
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Helo), std::make_pair(1, 10004));
    }
    for (const char *greeting : {"554 go away\r\n", "220-welcome, but\r\n220-read on\r\n554 go away\r\n"}) {
        // The last line of a greeting decides, whatever the lines before it said.
        SCOPED_TRACE(greeting);
        ScriptedSmtp srv(greeting, Ok);
        Session s(srv.Peer->Port());
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Connect), std::make_pair(0, 554));
        EXPECT_EQ(s.c.ErrorMessage(), "554 go away");
        PumpBriefly();
        EXPECT_EQ(s.Done.size(), 1u);
        EXPECT_NE(s.c.State(), smtpConnected);
    }
    {
        Session s(FreePort());
        EXPECT_EQ(s.Run(&TCustomSmtpClient::Connect), std::make_pair(0, 500));
        EXPECT_EQ(s.c.LastResponse(), "500 Connection refused (Winsock error #10061)");
    }
}

TEST(SmtpClient, MisuseAndInjectionAreRefused)
{
    Session s;
    TSmtpClient &c = s.c;
    EXPECT_THROW(c.Helo(), SmtpException);
    EXPECT_THROW(c.Data(), SmtpException);
    // Without a connection: done at once with no error.
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Quit), std::make_pair(6, 0));
    EXPECT_THROW(c.RcptTo(), SmtpException); // empty list
    orbtest::TempDir dir;
    EXPECT_EQ(Raised<SmtpException>([&] { c.SetEmailFiles({dir.write("a.txt", "x"), dir.file("missing.bin")}); }),
              "File not found '" + dir.file("missing.bin") + "'");
    EXPECT_TRUE(c.EmailFiles().empty());

    ScriptedSmtp srv("220 hi\r\n", Ok);
    c.Host = "127.0.0.1";
    c.Port = srv.Peer->PortStr();
    c.SignOn = "client.test";
    ASSERT_NE(s.Run(&TCustomSmtpClient::Open).first, -1);
    c.HdrSubject = "Hi\r\nBcc: victim@example.org";
    EXPECT_THROW(c.Data(), SmtpException);
    EXPECT_EQ(c.State(), smtpReady);
    c.HdrSubject = "Hi";
    c.FromName = "a@b>\r\nRCPT TO:<c@d";
    EXPECT_THROW(c.MailFrom(), SmtpException);
    c.RcptName = {"x@y\nDATA"};
    EXPECT_THROW(c.RcptTo(), SmtpException);
    EXPECT_EQ(c.State(), smtpReady);
    ASSERT_NE(s.Run(&TCustomSmtpClient::Quit).first, -1);
    EXPECT_EQ(srv.Got().find("victim"), std::string::npos);
    EXPECT_EQ(srv.Got().find("RCPT"), std::string::npos);
}

TEST(SmtpClient, AttachmentOf46BytesGivesTwoBase64Lines)
{
    orbtest::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 46; ++i)
        bytes += static_cast<char>(i * 5);
    const std::string file = dir.write("blob.bin", bytes);
    ScriptedSmtp srv("220 hi\r\n", Ok);
    Session s(srv.Peer->Port());
    ASSERT_NE(s.Run(&TCustomSmtpClient::Open).first, -1);
    s.c.FromName = "a@b";
    s.c.RcptName = {"c@d"};
    s.c.SetEmailFiles({"  " + file + "  ", ""});
    s.c.MailMessage = {"text"};
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 0));
    const std::string got = srv.Got();
    const std::string l1 = Base64Encode(bytes.substr(0, 45));
    const std::string l2 = Base64Encode(bytes.substr(45));
    EXPECT_EQ(l1.size(), 60u);
    EXPECT_EQ(l2.size(), 4u);
    EXPECT_NE(got.find("filename=\"blob.bin\"\r\n\r\n" + l1 + "\r\n" + l2 + "\r\n\r\n--= Multipart Boundary "),
              std::string::npos);
    EXPECT_NE(got.find("Content-Type: multipart/mixed;\r\n\tboundary=\"= Multipart Boundary "), std::string::npos);
    ASSERT_NE(s.Run(&TCustomSmtpClient::Quit).first, -1);
}

// ---------------------------------------------------------------- real server

TEST(SmtpAiosmtpd, EveryAuthenticationKind)
{
    AioSmtpd server;
    ASSERT_TRUE(server.Start());
    int n = 0;
    for (TSmtpAuthType type : {smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5}) {
        SCOPED_TRACE(static_cast<int>(type));
        for (const std::string password : {"wrong", "tanstaaftanstaaf"}) {
            Session s(server.Port);
            TSmtpClient &c = s.c;
            c.AuthType = type;
            c.Username = "tim";
            c.Password = password;
            c.FromName = "tim@example.org";
            if (password == "wrong") {
                EXPECT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 535));
                c.Abort();
                continue;
            }
            ASSERT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 0)) << c.ErrorMessage();
            c.RcptName = {"tom@example.org"};
            c.HdrFrom = "tim@example.org";
            c.HdrTo = "tom@example.org";
            c.HdrSubject = "auth " + std::to_string(static_cast<int>(type));
            c.MailMessage = {"Hello Tom."};
            ASSERT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 0)) << c.ErrorMessage();
            EXPECT_EQ(s.Run(&TCustomSmtpClient::Quit), std::make_pair(6, 0));
            ++n;
            const std::string eml = orbtest::readFile(server.Message(n));
            EXPECT_NE(eml.find("AUTH True"), std::string::npos);
            EXPECT_NE(eml.find("RCPTTO tom@example.org"), std::string::npos);
            EXPECT_NE(eml.find("Hello Tom."), std::string::npos);
        }
    }
}

TEST(SmtpAiosmtpd, AttachmentsDecodeBackWithPythonsEmailPackage)
{
    AioSmtpd server;
    ASSERT_TRUE(server.Start());
    orbtest::TempDir dir;
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7919) >> 5);
    const std::string f1 = dir.write("picture.bin", binary);
    const std::string f2 = dir.write("empty.dat", "");
    const std::string f3 = dir.write("notes.txt", ".starts with a dot\r\n.\r\nend\r\n");
    const std::string text = "Dear reader,\n.\n..two dots\nlast line";
    const std::string textFile = dir.write("text.txt", text);

    Session s(server.Port);
    TSmtpClient &c = s.c;
    ASSERT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 0));
    c.FromName = "tim@example.org";
    c.RcptName = {"tom@example.org"};
    c.HdrSubject = "files";
    c.MailMessage = {"Dear reader,", ".", "..two dots", "last line"};
    c.SetEmailFiles({f1, f2, f3});
    ASSERT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 0)) << c.ErrorMessage();
    ASSERT_NE(s.Run(&TCustomSmtpClient::Quit).first, -1);

    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start("/usr/bin/python3", {QString(ORB_SOURCE_DIR) + "/tests/net/check_mail.py",
                                     QString::fromStdString(server.Message(1)), QString::fromStdString(textFile),
                                     QString::fromStdString(f1), QString::fromStdString(f2),
                                     QString::fromStdString(f3)});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();
}

TEST(SmtpAiosmtpd, HeaderTextsOutsideAsciiTravelAsEncodedWords)
{
    AioSmtpd server;
    ASSERT_TRUE(server.Start());
    Session s(server.Port);
    TSmtpClient &c = s.c;
    ASSERT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 0));
    c.FromName = "jozo@example.org";
    c.RcptName = {"lubo@example.org", "plain@example.org"};
    c.HdrFrom = "Jo\u017eo Kov\u00e1\u010d <jozo@example.org>";
    c.HdrTo = "\"\u0164ava, \u013dubo\" <lubo@example.org>, plain@example.org";
    c.HdrReplyTo = "plain@example.org";
    // Longer than one encoded word holds, with two-byte letters at every cut.
    const std::string subject = "Skladby \u2013 \u010dierne \u017elt\u00e9 \u013ealie, \u0165ava a "
                                "\u010f\u010f\u010f\u010f\u010f\u010f\u010f\u010f\u010f\u010f\u010f\u010f "
                                "\u2013 \u010das\u0165 2";
    c.HdrSubject = subject;
    c.MailMessage = {"Body as it is."};
    ASSERT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 0)) << c.ErrorMessage();
    ASSERT_NE(s.Run(&TCustomSmtpClient::Quit).first, -1);
    EXPECT_EQ(DecodedHeaders(server.Message(1), {"Subject", "From", "To", "Reply-To", "Sender"}),
              (std::vector<std::string>{subject, "Jo\u017eo Kov\u00e1\u010d|jozo@example.org",
                                        "\u0164ava, \u013dubo|lubo@example.org; |plain@example.org",
                                        "|plain@example.org", "Jo\u017eo Kov\u00e1\u010d|jozo@example.org"}));
    // Texts that are ASCII stay as they were.
    EXPECT_EQ(EncodeHeaderText("cddb rock 0c016602"), "cddb rock 0c016602");
    EXPECT_EQ(EncodeHeaderAddresses("A B <a@b>, c@d"), "A B <a@b>, c@d");
}

// Header texts and names as a mail reader decodes them: Python's email
// package reads a header made of them.
TEST(SmtpHeaders, EncodedNamesAndTextsReadBackAsTheyWere)
{
    const std::string longName(40, 'x');
    std::string letters;
    for (int i = 0; i < 60; ++i)
        letters += "\u013d\u2013";
    const struct {
        std::string header, expected;
    } cases[] = {
        // What the quotes hold is the name, "<" and "," and escaped quotes included.
        {"\"\u017d <x>\" <a@b.org>", "\u017d <x>|a@b.org"},
        {"\"Jo \\\"\u017d\\\" K, st.\" <a@b.org>, c@d.org", "Jo \"\u017d\" K, st.|a@b.org; |c@d.org"},
        {"\"a <x>\" <a@b.org>", "a <x>|a@b.org"},
        // An escaped quote right before "<" and ",": both stay inside the name.
        {"\"\u017d \\\"<b>, c\\\"\" <x@y.org>", "\u017d \"<b>, c\"|x@y.org"},
        {"Jo\u017eo <a@b.org>, <c@d.org>", "Jo\u017eo|a@b.org; |c@d.org"},
        // Windows-1250, read as a whole: the first name alone would pass for UTF-8.
        {"\xC3\xA1 <a@b.org>, \x8Eo \x9A" "a <c@d.org>", "\u0102\u02c7|a@b.org; \u017do \u0161a|c@d.org"},
        // Longer than one word holds. Python keeps the blank between two
        // encoded words of a name, which RFC 2047 has a reader drop; this
        // name has no blank of its own, so the blanks are dropped here.
        {"\"" + letters + longName + "\" <a@b.org>", letters + longName + "|a@b.org"},
    };
    orbtest::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.header);
        const std::string to = EncodeHeaderAddresses(c.header), subject = EncodeHeaderText(c.header);
        // Every encoded word within 75 characters.
        for (const std::string &field : {to, subject})
            for (size_t at = field.find("=?"); at != std::string::npos; at = field.find("=?", at + 1)) {
                const size_t end = field.find("?=", at + 10);
                ASSERT_NE(end, std::string::npos);
                EXPECT_LE(end + 2 - at, 75u);
                at = end;
            }
        const std::string eml =
            dir.write("m.eml", "envelope\n\nTo: " + to + "\r\nSubject: " + subject + "\r\n\r\nbody\r\n");
        std::vector<std::string> decoded = DecodedHeaders(eml, {"To", "Subject"});
        if (!decoded.empty() && c.header.find(longName) != std::string::npos)
            std::erase(decoded[0], ' ');
        EXPECT_EQ(decoded, (std::vector<std::string>{c.expected, DecodeStoredText(c.header)}));
    }
    // ASCII stays as it is, quotes and all.
    EXPECT_EQ(EncodeHeaderAddresses("\"A, B\" <a@b>, c@d"), "\"A, B\" <a@b>, c@d");
}

TEST(SmtpClient, CallerLinesVrfyRsetAndMalformedChallenge)
{
    ScriptedSmtp srv("220 hi\r\n", [](const std::string &cmd) -> std::string {
        if (cmd.rfind("EHLO", 0) == 0)
            return "250-hello\r\n250 AUTH CRAM-MD5\r\n";
        if (cmd.rfind("AUTH", 0) == 0)
            return "334\r\n";
        if (cmd.rfind("VRFY", 0) == 0)
            return "252 cannot verify\r\n";
        return Ok(cmd);
    });
    Session s(srv.Peer->Port());
    TSmtpClient &c = s.c;
    c.AuthType = smtpAuthCramMD5;
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Open), std::make_pair(8, 500));
    EXPECT_EQ(c.LastResponse(), "500 Malformed MD5 Challege: 334");

    c.HdrTo = "who@example.org";
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Vrfy), std::make_pair(3, 252));
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Rset), std::make_pair(7, 0));

    c.FromName = "a@b";
    c.RcptName = {"c@d"};
    c.MailMessage = {"from the list"};
    std::vector<int> asked;
    c.OnGetData = [&](TCustomSmtpClient *, int n, std::string &line, int, bool &more) {
        asked.push_back(n);
        if (asked.size() <= 2)
            line = "caller line " + std::to_string(asked.size());
        else
            more = false;
    };
    EXPECT_EQ(s.Run(&TCustomSmtpClient::Mail), std::make_pair(9, 0));
    EXPECT_NE(srv.Got().find("\r\n\r\nfrom the list\r\ncaller line 1\r\ncaller line 2\r\n.\r\n"), std::string::npos);
    ASSERT_NE(s.Run(&TCustomSmtpClient::Quit).first, -1);
}

TEST(SmtpLimits, SilentTricklingAndUnreachableServersTimeOut)
{
    const std::string noReply = "500 No reply from the server within 300 ms (Winsock error #10060)";
    {
        ScriptedPeer peer(SendThenWait("")); // no banner at all
        Session s(peer.Port());
        s.c.IdleTimeout = 300;
        EXPECT_EQ(s.Error(&TCustomSmtpClient::Connect), WSAETIMEDOUT);
        EXPECT_EQ(s.c.LastResponse(), noReply);
        EXPECT_EQ(s.c.State(), smtpReady);
    }
    // A banner, then silence after HELO, or a reply trickled a byte at a
    // time: it must be whole within the limit.
    for (const std::string unit : {"", "2"}) {
        ScriptedPeer peer(AfterFirst("220 ready\r\n", unit, 20000));
        Session s(peer.Port());
        s.c.IdleTimeout = 300;
        ASSERT_EQ(s.Error(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Error(&TCustomSmtpClient::Helo), WSAETIMEDOUT);
        EXPECT_EQ(s.c.ErrorMessage(), noReply);
    }
    // A listener whose queue is full drops the connection attempt.
    FullListener full;
    ASSERT_TRUE(full.Ready());
    Session s(full.Port());
    s.c.ConnectTimeout = 300;
    EXPECT_EQ(s.Error(&TCustomSmtpClient::Connect), WSAETIMEDOUT);
    EXPECT_EQ(s.c.LastResponse(), "500 No connection within 300 ms (Winsock error #10060)");
    TSmtpClient d;
    EXPECT_EQ(d.ConnectTimeout, 30000);
    EXPECT_EQ(d.IdleTimeout, 60000);
}

TEST(SmtpLimits, ContinuationFloodsAreBoundedAndYieldToTheLoop)
{
    std::string burst;
    for (int i = 0; i < 5000; ++i)
        burst += "250-line " + std::to_string(i) + " of a long reply\r\n";
    // Past the bound, or endless: the request fails and the connection goes.
    for (bool endless : {false, true}) {
        ScriptedPeer peer(endless ? AfterFirst("220 ready\r\n", "250-more\r\n") : AnswerFirst(burst + "250 ok\r\n"));
        Session s(peer.Port());
        ASSERT_EQ(s.Error(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Error(&TCustomSmtpClient::Helo), 500);
        EXPECT_EQ(s.c.ErrorMessage(), "500 Reply has too many lines");
        ASSERT_TRUE(PumpUntil([&] { return s.c.CtrlSocket().State() == wsClosed; }));
    }
    // Within a raised bound the reply is read whole, a block per turn of the
    // event loop: something posted at its first line runs before its last.
    ScriptedPeer peer(AnswerFirst(burst + "250 ok\r\n"));
    Session s(peer.Port());
    s.c.MaxReplyLines = 10000;
    ASSERT_EQ(s.Error(&TCustomSmtpClient::Connect), 0);
    bool posted = false, ran = false, ranBeforeLast = false;
    s.c.OnResponse = [&](TCustomSmtpClient *, const std::string &Line) {
        if (!posted) {
            posted = true;
            QTimer::singleShot(0, [&] { ran = true; });
        }
        if (Line == "250 ok")
            ranBeforeLast = ran;
    };
    EXPECT_EQ(s.Error(&TCustomSmtpClient::Helo), 0);
    EXPECT_TRUE(ranBeforeLast);
    EXPECT_EQ(s.c.LastResponse(), "250 ok");
}

TEST(SmtpLimits, OnlyAWellFormedCodeIsTheReply)
{
    const std::pair<std::string, int> cases[] = {
        {"2500 what\r\n", 500},       {"250x\r\n", 500},         {"250\r\n", 0}, {"250-a\r\n2500 b\r\n", 500},
        {"250-a\r\n250 b\r\n", 0},    {"25 ok\r\n", 500},        {"550 no\r\n", 550},
    };
    for (const auto &[reply, error] : cases) {
        SCOPED_TRACE(reply);
        ScriptedPeer peer(AnswerFirst(reply));
        Session s(peer.Port());
        ASSERT_EQ(s.Error(&TCustomSmtpClient::Connect), 0);
        EXPECT_EQ(s.Error(&TCustomSmtpClient::Helo), error);
    }
    // The banner too.
    ScriptedPeer peer(SendThenWait("2200 hello\r\n"));
    Session s(peer.Port());
    EXPECT_EQ(s.Error(&TCustomSmtpClient::Connect), 500);
}
