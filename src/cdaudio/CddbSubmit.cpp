// Submitting an entry: the HTTP post's extra header lines, the server's answer, the mail route's steps.
#include "cdaudio/Cddb.h"
#include "cdaudio/CddbInternal.h"

using cddbtext::CodeOf;
using cddbtext::kLineTerm;
using cddbtext::OneLine;
using cddbtext::StartsWith;
using cddbtext::Upper;

// ---------------------------------------------------------------- submissions

void TCddb::HttpCommand(THttpClient *, std::string &S)
{
    if (State != 14 || !StartsWith(S, "Content-Length:"))
        return;
    S += std::string(kLineTerm) + "Category: " + OneLine(NetTrim(Entry.Category)) + kLineTerm + "Discid: "
         + OneLine(Entry.DiscId) + kLineTerm + "User-Email: " + OneLine(EmailUser) + kLineTerm
         + "Submit-Mode: " + (SubmissionType == TEST ? "test" : "submit") + kLineTerm
         + "X-Cddbd-Note: " + EncodeHeaderText(FNoteToUser);
}

void TCddb::SubmitReply(const std::string &Line)
{
    switch (CodeOf(Line)) {
    case 200: State = 22; Status("OK, submission has been sent."); return;
    case 500: State = 23; Status("Missing required header information."); return;
    case 501: State = 23; Status("Invalid header information."); return;
    default: GeneralReply(Line); return;
    }
}

void TCddb::SmtpRequestDone(TCustomSmtpClient *, TSmtpRequest RqType, uint16_t Error)
{
    const char *name = RqType == smtpRqConnect ? "Connect"
                       : RqType == smtpRqHelo  ? "Helo"
                       : RqType == smtpRqMail  ? "Mail"
                       : RqType == smtpRqQuit  ? "Quit"
                                               : nullptr;
    if (!name)
        return;
    if (Error != 0) {
        State = 21;
        Status(std::string("CDDB Component Internal Error: TSmtpClient.") + name + " failed because of error \""
               + FSmtp->ErrorMessage() + "\"");
        return;
    }
    try {
        switch (RqType) {
        case smtpRqConnect: FSmtp->Helo(); break;
        case smtpRqHelo: FSmtp->Mail(); break;
        case smtpRqMail: FSmtp->Quit(); break;
        case smtpRqQuit: Status("OK, submission has been sent."); break;
        default: break;
        }
    } catch (const std::exception &e) {
        State = 21;
        Status(std::string("CDDB Component Internal Error: TSmtpClient.") + name + " failed because of error \""
               + e.what() + "\"");
    }
}

void TCddb::SmtpDisplay(TCustomSmtpClient *, const std::string &Msg)
{
    Exchange(Msg);
}

void TCddb::SmtpHeaderLine(TCustomSmtpClient *, std::string &Msg, int)
{
    if (Msg.size() >= 5 && Upper(Msg.substr(0, 5)) == "FROM:")
        Msg += "\r\nX-Cddbd-Note: " + EncodeHeaderText(FNoteToUser);
}
