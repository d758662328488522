// The dialogue over a direct TCP connection: its limits, and the banner, handshake and level replies.
#include "cdaudio/Cddb.h"
#include "cdaudio/CddbInternal.h"

#include <cctype>

using cddbtext::CodeOf;

// ---------------------------------------------------------------- protocol over TCP

bool TCddb::WaitsOnSocket(int State)
{
    return State == 0 || State == 1 || State == 6 || State == 7 || State == 9 || State == 11;
}

void TCddb::FailSocketWait(const std::string &Text)
{
    State = State == 6 ? 5 : State == 11 ? 13 : -1;
    if (State == -1)
        HandshakeDone = false;
    FReceivingMatches = FReceivingEntry = false;
    FSocketReplyBytes = 0;
    Status(Text);
}

void TCddb::SocketChangeState(TCustomNetSocket *, TSocketState, TSocketState NewState)
{
    // The limit runs from the start of the connection to its end.
    if (NewState == wsOpened) {
        FSocketLevel = 1; // where every CDDBP connection starts
        FSocketReplyBytes = 0;
        if (FTimeLimit > 0)
            FSocketTimer->start(FTimeLimit);
    } else if (NewState == wsClosed) {
        FSocketTimer->stop();
    }
}

void TCddb::SocketLimitExpired()
{
    if (FSocket->State() == wsClosed)
        return;
    const std::string limit = NetDurationText(FTimeLimit);
    if (FSocket->State() != wsConnected) {
        State = -1;
        Status("No connection to the CDDB server within " + limit);
    } else if (WaitsOnSocket(State)) {
        FailSocketWait("No complete CDDB reply within " + limit + ": the connection is closed");
    } else {
        Status("The CDDB connection is closed: it was open for " + limit);
    }
    FSocket->Abort();
}

void TCddb::SocketLineLimitExceeded(TCustomNetSocket *, int RcvdLength, bool &ClearData)
{
    ClearData = true;
    if (!WaitsOnSocket(State))
        return;
    FailSocketWait("CDDB reply line too long: " + std::to_string(RcvdLength) + " bytes without a line end");
    FSocket->Abort();
}

void TCddb::SocketSessionConnected(TCustomNetSocket *, uint16_t)
{
    State = 0;
}

void TCddb::SocketSessionClosed(TCustomNetSocket *, uint16_t Error)
{
    FSocketTimer->stop();
    // A close while a reply is awaited cuts it short: that is a failure, not
    // the end of a lookup. A failed query or read keeps its state.
    if (WaitsOnSocket(State))
        FailSocketWait("The CDDB connection closed before the reply ended"
                       + (Error ? ": " + NetSocketErrorText(Error) : std::string()));
    else if (State != 5 && State != 13)
        State = -1;
}

void TCddb::SocketDataAvailable(TCustomNetSocket *, uint16_t)
{
    std::string bytes = FSocket->ReceiveStr();
    FSocketReplyBytes += static_cast<qint64>(bytes.size());
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.pop_back();
    const std::string raw = CddbTextToUtf8(bytes, FSocketLevel);
    const std::string line = NetTrim(raw);
    Exchange(line);
    const int before = State;
    if (WaitsOnSocket(State) && FSocketReplyBytes > MaxCddbReplyBytes) {
        FailSocketWait("CDDB reply too long: more than " + std::to_string(MaxCddbReplyBytes) + " bytes");
        FSocket->Abort();
        return;
    }
    switch (State) {
    case 0: BannerReply(line); break;
    case 1: HandshakeReply(line); break;
    case 7: SitesReply(line); break;
    case 9: ProtoReply(line); break;
    case 6: QueryReply(line); break;
    case 11: ReadReply(raw, &bytes); break;
    case 15:
        Status("Connection closed");
        State = -1;
        break;
    default: break;
    }
    if (State != before)
        FSocketReplyBytes = 0; // the next reply counts from its own start
}

void TCddb::BannerReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 18; HandshakeDone = false; Status("OK, read/write allowed"); return;
    case 201: State = 17; HandshakeDone = false; Status("OK, read only"); return;
    case 432: State = -1; HandshakeDone = false; Status("No connections allowed: permission denied"); return;
    case 433:
        State = -1;
        HandshakeDone = false;
        Status("No connections allowed: X users allowed, Y currently active");
        return;
    case 434: State = -1; HandshakeDone = false; Status("No connections allowed: system load too high"); return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::HandshakeReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 2; HandshakeDone = true; Status("Handshake successful"); return;
    case 402: State = 2; HandshakeDone = true; Status("Already shook hands"); return;
    case 431:
        State = -1;
        HandshakeDone = false;
        Status("Handshake not successful, closing connection");
        return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::ProtoReply(const std::string &Line)
{
    // The level the server confirms ends the line ("... now: 6",
    // "... already 6"); the replies that follow are decoded by it.
    auto confirmed = [&] {
        size_t end = Line.find_last_of("0123456789");
        size_t begin = end;
        while (begin != std::string::npos && begin > 3 && std::isdigit(static_cast<unsigned char>(Line[begin - 1])))
            --begin;
        if (end != std::string::npos && end > 3 && end - begin < 2)
            FSocketLevel = std::stoi(Line.substr(begin, end - begin + 1));
        return std::to_string(FSocketLevel);
    };
    switch (CodeOf(Line)) {
    case 201: State = 10; Status("OK, protocol level now: " + confirmed()); return;
    case 501: State = 0; Status("Illegal protocol level"); return;
    case 502: State = 10; Status("Protocol level already " + confirmed()); return;
    default: GeneralReply(Line); return;
    }
}
