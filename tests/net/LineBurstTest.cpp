// Line mode against a burst of lines that arrive in few reads: every line
// whole and in order, whether the handler takes a line at once or in pieces.
#include "NetTestUtil.h"
#include "net/NetSocket.h"

#include <gtest/gtest.h>

using namespace nettest;

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
        s.SetAddr("127.0.0.1");
        s.SetPort(peer.PortStr());
        s.SetProto("tcp");
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return closed; }, 60000));
        std::vector<std::string> all = want;
        all.push_back("tail without end");
        ASSERT_EQ(got.size(), all.size());
        EXPECT_TRUE(got == all);
    }
}
