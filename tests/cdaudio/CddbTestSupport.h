#pragma once
// What the CDDB client's tests share: a database holding the example disc,
// a CDDB server over HTTP on loopback, and the client on a simulated drive.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "cdaudio/Cddb.h"
#include "net/NetTestUtil.h"
#include "platform/CdDevice.h"
#include "platform/VolumeService.h"

namespace cddbtest {

using namespace nettest;

inline const std::string kOk = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

inline std::string UrlDecode(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+')
            out += ' ';
        else if (s[i] == '%' && i + 2 < s.size())
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += s[i];
    }
    return out;
}

inline std::vector<std::string> Words(const std::string &s)
{
    std::vector<std::string> w;
    std::istringstream in(s);
    for (std::string x; in >> x;)
        w.push_back(x);
    return w;
}

inline const std::string kEntry = "# xmcd\r\n#\r\n# Revision: 4\r\nDISCID=0c016602\r\nDTITLE=Some Artist / Some \\\\Album\r\n"
                           "DYEAR=1999\r\nDGENRE=Rock\r\nTTITLE0=Intro\r\nTTITLE1=Long title, first part\r\n"
                           "TTITLE1= and the rest\\n\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\nPLAYORDER=\r\n";

// The CDDB server's side of the two commands the client sends, for a
// database holding the example disc.
inline std::string Database(const std::string &cmd)
{
    const auto w = Words(cmd);
    if (w.size() >= 4 && w[0] == "cddb" && w[1] == "query") {
        if (w[2] == "0c016602")
            return "200 rock 0c016602 Some Artist / Some Album\r\n";
        return "202 No match for disc ID " + w[2] + ".\r\n";
    }
    if (w.size() == 4 && w[0] == "cddb" && w[1] == "read") {
        if (w[2] == "rock" && (w[3] == "0c016602" || w[3] == "0C016602"))
            return "210 rock 0c016602 CD database entry follows (until terminating `.')\r\n" + kEntry + ".\r\n";
        return "401 " + w[2] + " " + w[3] + " No such CD entry in database.\r\n";
    }
    return "500 Command syntax error.\r\n";
}

// A CDDB server over HTTP on loopback. `Answer` turns the decoded command
// into the whole HTTP reply; the request paths are recorded. A slow one
// sends the reply in small pieces, pausing between them; with DelayMs it
// waits that long before each answer.
struct HttpPeer {
    using Answerer = std::function<std::string(const std::string &cmd)>;
    Answerer Answer;
    bool Slow;
    std::atomic<int> DelayMs{0};
    std::vector<std::string> Paths;
    std::mutex M;
    std::unique_ptr<ScriptedPeer> Peer;

    explicit HttpPeer(Answerer answer, bool slow = false) : Answer(std::move(answer)), Slow(slow)
    {
        Peer = std::make_unique<ScriptedPeer>(
            [this](int fd, int) {
                const std::string req = ReadUntil(fd, "\r\n\r\n");
                const size_t sp1 = req.find(' '), sp2 = req.find(' ', sp1 + 1);
                const std::string path = sp1 == std::string::npos ? std::string() : req.substr(sp1 + 1, sp2 - sp1 - 1);
                const size_t c = path.find("cmd=");
                const std::string cmd =
                    c == std::string::npos ? std::string() : UrlDecode(path.substr(c + 4, path.find('&', c) - c - 4));
                {
                    std::lock_guard<std::mutex> lock(M);
                    Paths.push_back(path);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
                const std::string reply = Answer(cmd);
                for (size_t i = 0; i < reply.size(); i += Slow ? 7 : reply.size()) {
                    SendAll(fd, reply.substr(i, Slow ? 7 : reply.size()));
                    if (Slow)
                        std::this_thread::sleep_for(std::chrono::milliseconds(3));
                }
                if (reply.find("RESET") == std::string::npos)
                    return false;
                ResetClose(fd);
                return true;
            },
            16);
    }
    size_t Requests()
    {
        std::lock_guard<std::mutex> lock(M);
        return Paths.size();
    }
    std::string Path(size_t i)
    {
        std::lock_guard<std::mutex> lock(M);
        return i < Paths.size() ? Paths[i] : std::string();
    }
};

inline std::string FromDatabase(const std::string &cmd) { return kOk + Database(cmd); }

class CddbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VolumeInfo cd;
        cd.letter = 'e';
        cd.type = DRIVE_CDROM;
        cd.ready = true;
        cd.label = "Audio CD";
        cd.device = "/dev/sr0";
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{cd}));
        std::string error;
        CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(
            std::vector<SimulatedCdDrive>{*SimulatedAudioCd("0:02:00 3:10:00 6:00:00", error)}));
        cddb = std::make_unique<TCddb>();
        cddb->ServerType = HTTP;
        cddb->ServerAddr = "127.0.0.1";
        cddb->EmailUser = "user@example.org";
        cddb->ClientName = "TestClient";
        cddb->ClientVersion = "1.0";
        cddb->OnStatusMessage = [this](TCddb *, const std::string &s) { statuses.push_back(s); };
        cddb->OnDataExchange = [this](TCddb *, const std::string &l) { lines.push_back(l); };
        cddb->OnMatch = [this](TCddb *, const TMatchArray &m, int &right) {
            ++matchCalls;
            seen = m;
            right = choose;
        };
        ASSERT_TRUE(cddb->SelectDriveByLetter('e'));
    }
    void TearDown() override
    {
        cddb.reset();
        CdDeviceLayer::SetCurrent(nullptr);
        VolumeService::SetCurrent(nullptr);
    }
    // Starts an HTTP peer the client then asks.
    HttpPeer &Serve(HttpPeer::Answerer answer = FromDatabase, bool slow = false)
    {
        peer = std::make_unique<HttpPeer>(std::move(answer), slow);
        cddb->ServerPort = peer->Peer->PortStr();
        return *peer;
    }
    // Runs a query (or read) to its end; the state it ended in.
    int Run(bool read = false)
    {
        const int start = read ? 11 : 6;
        if ((read ? cddb->Read() : cddb->Query()) != 0)
            return cddb->State;
        EXPECT_TRUE(PumpUntil([&] { return cddb->State != start; }));
        PumpBriefly();
        return cddb->State;
    }
    bool Said(const std::string &text) const
    {
        return std::any_of(statuses.begin(), statuses.end(),
                           [&](const std::string &s) { return s.find(text) != std::string::npos; });
    }
    // Points the CDDBP socket at `port` and connects.
    void Connect(const std::string &port)
    {
        cddb->Socket().SetAddr("127.0.0.1");
        cddb->Socket().SetPort(port);
        cddb->Socket().Connect();
    }

    std::unique_ptr<HttpPeer> peer;
    std::unique_ptr<TCddb> cddb;
    std::vector<std::string> statuses, lines;
    TMatchArray seen;
    int matchCalls = 0;
    int choose = 0;
};

} // namespace cddbtest
