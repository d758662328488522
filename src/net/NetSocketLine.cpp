// Line mode of the socket component and its synchronous waits.
#include "net/NetSocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <cstring>

TCustomLineNetSocket::TCustomLineNetSocket() = default;

TCustomLineNetSocket::~TCustomLineNetSocket() = default;

void TCustomLineNetSocket::Compact()
{
    if (FRcvOff == 0)
        return;
    FRcvBuf.erase(0, FRcvOff);
    FRcvOff = 0;
}

void TCustomLineNetSocket::Consume(size_t N)
{
    FRcvOff += std::min(N, Held());
    if (FRcvOff == FRcvBuf.size()) {
        FRcvBuf.clear();
        FRcvOff = 0;
    } else if (FRcvOff > FRcvBuf.size() / 2) {
        Compact(); // amortised: each byte moves at most once per halving
    }
}

void TCustomLineNetSocket::SetLineMode(bool Value)
{
    if (Value == FLineMode)
        return;
    FLineMode = Value;
    if (!Value)
        FRcvdLen = 0;
    if (Held() > 0)
        PostReoffer();
}

void TCustomLineNetSocket::PostReoffer()
{
    if (FReofferPosted)
        return;
    FReofferPosted = true;
    PostMessage(WM_LINE_REOFFER);
}

void TCustomLineNetSocket::WndProc(unsigned Msg, uint64_t WParam, int64_t LParam)
{
    if (Msg != WM_LINE_REOFFER) {
        TCustomSocksNetSocket::WndProc(Msg, WParam, LParam);
        return;
    }
    FReofferPosted = false;
    if (Held() == 0)
        return;
    if (FLineMode && !LineEnd.empty()) {
        ProcessLines(0);
        return;
    }
    // Out of line mode the held bytes are read through DoRecv before the network.
    while (Held() > 0) {
        const size_t before = Held();
        if (!TCustomSocksNetSocket::TriggerDataAvailable(0) || Held() == before)
            break;
    }
}

int TCustomLineNetSocket::GetRcvdCount()
{
    if (FLineMode)
        return FRcvdLen;
    if (Held() > 0)
        return static_cast<int>(std::min<size_t>(Held(), 0x7FFFFFFF));
    return TCustomSocksNetSocket::GetRcvdCount();
}

int TCustomLineNetSocket::DoRecv(void *Buffer, int Len)
{
    if (Len <= 0)
        return 0;
    if (FLineMode && FRcvdLen > 0) {
        int n = std::min(Len, FRcvdLen);
        std::memcpy(Buffer, FRcvBuf.data() + FRcvOff, static_cast<size_t>(n));
        Consume(static_cast<size_t>(n));
        FRcvdLen -= n;
        return n;
    }
    if (!FLineMode && Held() > 0) {
        int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(Len), Held()));
        std::memcpy(Buffer, FRcvBuf.data() + FRcvOff, static_cast<size_t>(n));
        Consume(static_cast<size_t>(n));
        return n;
    }
    return TCustomSocksNetSocket::DoRecv(Buffer, Len);
}

void TCustomLineNetSocket::TriggerLineLimitExceeded(int Cnt, bool &ClearData)
{
    if (OnLineLimitExceeded)
        OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineNetSocket::EditLine(size_t From)
{
    std::string out = FRcvBuf.substr(0, From);
    std::string echo;
    for (size_t i = From; i < FRcvBuf.size(); ++i) {
        const char c = FRcvBuf[i];
        if (c == 8) {
            if (!out.empty()) {
                out.pop_back();
                echo += "\b \b";
            }
        } else if (c == 9) {
            size_t spaces = 8 - out.size() % 8;
            out.append(spaces, ' ');
            echo.append(spaces, ' ');
        } else {
            out += c;
            echo += c;
        }
    }
    FRcvBuf = std::move(out);
    if (LineEcho && !echo.empty() && FState == wsConnected)
        SendStr(echo);
}

bool TCustomLineNetSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!FLineMode || LineEnd.empty() || SocksNegotiating())
        return TCustomSocksNetSocket::TriggerDataAvailable(Error);
    int cnt = TCustomSocksNetSocket::GetRcvdCount();
    if (cnt < 0)
        return true;
    if (cnt == 0)
        cnt = 255;
    Compact();
    const size_t old = FRcvBuf.size();
    FRcvBuf.resize(old + static_cast<size_t>(cnt));
    int n = TCustomSocksNetSocket::DoRecv(FRcvBuf.data() + old, cnt);
    FRcvBuf.resize(old + static_cast<size_t>(n > 0 ? n : 0));
    if (n <= 0)
        return true;
    FReadCount += n;
    if (LineEdit)
        EditLine(old);
    else if (LineEcho && FState == wsConnected)
        Send(FRcvBuf.data() + old, n);
    // A terminator may have been split between two reads.
    ProcessLines(old >= LineEnd.size() ? old - LineEnd.size() : 0);
    return true;
}

void TCustomLineNetSocket::ProcessLines(size_t SearchFrom)
{
    // SearchFrom counts from the first held byte.
    const uint64_t tag = Tag();
    while (FLineMode && !LineEnd.empty()) {
        if (FRcvdLen == 0) {
            const size_t pos = FRcvBuf.find(LineEnd, FRcvOff + std::min(SearchFrom, Held()));
            if (pos == std::string::npos)
                break;
            const size_t len = pos - FRcvOff + LineEnd.size();
            if (len > 0x7FFFFFFF) {
                // A line no reader can take in one piece: dropped whole.
                Consume(len);
                SearchFrom = 0;
                continue;
            }
            FRcvdLen = static_cast<int>(len);
            FLineReceived = true;
        }
        while (FLineMode && FRcvdLen > 0) {
            const int before = FRcvdLen;
            const size_t heldBefore = Held();
            const bool had = TCustomSocksNetSocket::TriggerDataAvailable(0);
            if (tag != Tag() && Held() == 0)
                return; // closed from the handler
            if (!had) {
                // Nobody wants lines: drop this one.
                Consume(static_cast<size_t>(FRcvdLen));
                FRcvdLen = 0;
                break;
            }
            if (FRcvdLen == before && Held() == heldBefore) {
                // The handler took nothing: offer the line again later from the
                // message loop instead of spinning here.
                PostReoffer();
                return;
            }
        }
        SearchFrom = 0;
    }
    if (FLineMode && FRcvdLen == 0 && LineLimit > 0 && Held() > static_cast<size_t>(LineLimit)) {
        bool clear = true;
        TriggerLineLimitExceeded(static_cast<int>(std::min<size_t>(Held(), 0x7FFFFFFF)), clear);
        if (clear) {
            FRcvBuf.clear();
            FRcvOff = 0;
        }
    }
}

void TCustomLineNetSocket::TriggerSessionClosed(uint16_t Error)
{
    FLineReceived = true;
    if (FLineMode && Held() > 0) {
        // What is left without a terminator is the last line.
        FRcvdLen = static_cast<int>(std::min<size_t>(Held(), 0x7FFFFFFF));
        while (FLineMode && FRcvdLen > 0) {
            const int before = FRcvdLen;
            if (!TCustomSocksNetSocket::TriggerDataAvailable(0) || FRcvdLen == before)
                break;
        }
    }
    FRcvBuf.clear();
    FRcvBuf.shrink_to_fit();
    FRcvOff = 0;
    FRcvdLen = 0;
    TCustomSocksNetSocket::TriggerSessionClosed(Error);
}

// ---------------------------------------------------------------- waits

int TCustomSyncNetSocket::WaitUntilReady(bool &Done)
{
    std::shared_ptr<bool> alive = FAlive;
    QDeadlineTimer deadline(Timeout > 0 ? QDeadlineTimer(Timeout) : QDeadlineTimer(QDeadlineTimer::Forever));
    // Wakes the blocking event wait when the time is up.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!Done) {
        if (Timeout > 0 && deadline.hasExpired())
            return 12001;
        if (!*alive || QCoreApplication::closingDown())
            return 12001;
        if (Timeout > 0 && !wake.isActive())
            wake.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return 0;
}

int TCustomSyncNetSocket::Synchronize(const std::function<void()> &Proc, bool &Done)
{
    Done = false;
    if (Proc)
        Proc();
    return WaitUntilReady(Done);
}
