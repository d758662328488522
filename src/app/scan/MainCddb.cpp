// The audio-CD lookup of the main window: the scan wizard's "yes" asks the
// CDDB component for the disc's entry; its lines give the disc title, year,
// genre and track titles that the scan write names the disc and its tracks with.
#include "app/Main.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

#include <exception>
#include <tuple>
#include <utility>

#include "app/LangUnit.h"
#include "app/scan/newcd.h"
#include "app/Texts3.h"
#include "cdaudio/Cddb.h"
#include "platform/QtText.h"
#include "platform/VolumeService.h"
#include "ui_MainForm.h"
#include "ui_newcd.h"
#include "widgets/PictDriveBox.h"

namespace {

// `line` without the first occurrence of `key`.
std::string Without(const std::string &line, const std::string &key)
{
    std::string s = line;
    const size_t at = s.find(key);
    if (at != std::string::npos)
        s.erase(at, key.size());
    return s;
}

// States in which a lookup has ended without an entry.
bool LookupFailed(int state)
{
    return state == 5 || state == 13 || state == 16 || state == -1;
}

void EnableNext(TNewRecordForm *wizard, bool on)
{
    if (!wizard)
        return;
    wizard->ui->SpeedButton6->setEnabled(on);
    wizard->ui->Label11->setEnabled(on);
}

// The lookup ended without an entry: nothing of it names the disc, which is
// written as scanned; the wizard says why.
void FailLookup(TMainForm &main, const std::string &status)
{
    TScanState &scan = main.Scan;
    if (!scan.Audio)
        return; // already ended
    scan.Audio = false;
    scan.Pending = false;
    scan.CddbTitle.clear();
    scan.CddbNote.clear();
    scan.TrackTitles.clear();
    if (TNewRecordForm *wizard = main.CddbWizard) {
        wizard->ui->Label9->setText(L(145));
        wizard->ui->Memo1->appendPlainText(ToQString(status));
        EnableNext(wizard, true);
    }
}

} // namespace

void TMainForm::ConnectCddbHandlers()
{
    if (Cddb)
        return;
    Cddb = std::make_unique<TCddb>();
    // What the window's own component is set to before the settings apply.
    Cddb->InternalTOCRetrieve = true;
    Cddb->ServerType = HTTP;
    Cddb->ServerAddr = CddbDefaultServer;
    Cddb->SetProxyPort("80");
    Cddb->ClientName = "TestProgram";
    Cddb->ClientVersion = "0.001";
    Cddb->EmailUser = "orbalist@localhost.localdomain";
    Cddb->EmailSubmit = Cddb->EmailTestSubmit;
    Cddb->SetMailServerPort("smtp");
    Cddb->ClientComments = "Disc catalogue";
    Cddb->SetNoteToUser("Looked up by a disc catalogue.");
    Cddb->OnStatusMessage = [this](TCddb *s, const std::string &t) { CddbStatusMessage(s, t); };
    Cddb->OnDataExchange = [this](TCddb *s, const std::string &l) { Cddb1DataExchange(s, l); };
    Cddb->OnMatch = [this](TCddb *s, const TMatchArray &m, int &r) { Cddb1Match(s, m, r); };
    ui->DriveComboBox1->OnChange = [this](TPictDriveBox *) { RunGuarded([this] { DriveComboBox1Change(); }); };
}

namespace {

// "host:port" names a server on a port of its own; a bare host keeps the
// HTTP client's default port (an empty port).
std::pair<std::string, std::string> CddbHostAndPort(const std::string &serverAddress)
{
    std::string host = serverAddress, port;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && colon + 1 < host.size()
        && host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        port = host.substr(colon + 1);
        host.erase(colon);
    }
    return {host, port};
}

} // namespace

std::string CddbServerDomain(const std::string &serverAddress)
{
    std::string host = CddbHostAndPort(serverAddress).first;
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    // A name's last two labels ("gnudb.org" of "gnudb.gnudb.org"); an address
    // of numbers stays whole.
    if (host.find_first_not_of("0123456789.") == std::string::npos)
        return host;
    const size_t last = host.rfind('.');
    if (last == std::string::npos || last == 0)
        return host;
    const size_t before = host.rfind('.', last - 1);
    return before == std::string::npos ? host : host.substr(before + 1);
}

void TMainForm::ApplyCddbSettings(int cdInterface, const std::string &proxyPort, const std::string &serverAddress)
{
    if (!Cddb)
        return;
    if (cdInterface >= cdiAutoDetect && cdInterface <= cdiNTSCSI)
        Cddb->CDInterface = static_cast<TCDInterface>(cdInterface);
    Cddb->SetProxyPort(proxyPort);
    std::tie(Cddb->ServerAddr, Cddb->ServerPort) = CddbHostAndPort(serverAddress);
}

void TMainForm::DriveComboBox1Change()
{
    if (!Cddb)
        return;
    // The chooser lists every drive; only its CD drives are the component's,
    // so the drive is found by its letter, not by its row.
    const char letter = ui->DriveComboBox1->Drive();
    if (!letter || VolumeService::Current().GetDriveType(letter) != DRIVE_CDROM)
        return;
    try {
        Cddb->SelectDriveByLetter(letter);
    } catch (const std::exception &) {
        // No access path to the drive now: the lookup tells when it is asked.
    }
}

void TMainForm::ReadMusicCD(TNewRecordForm *wizard)
{
    CddbWizard = wizard;
    CddbLastStatus.clear();
    const char letter = ScanSession.Volume.letter ? ScanSession.Volume.letter : ui->DriveComboBox1->Drive();
    if (GetDriveKind(letter) != 2) {
        Scan.Audio = false;
        return;
    }
    // The setup dialog may have changed the server since the start.
    ApplyCddbSettings(Settings[19], Settings.SetupText[1], Settings.SetupText[2]);
    EnableNext(wizard, false);
    Scan.Audio = true; // from here on the component's answers belong to this scan
    Scan.End = Scan.NoMatch = false;
    bool selected = false;
    try {
        DriveComboBox1Change();
        selected = Cddb->SelectDriveByLetter(letter);
    } catch (const std::exception &e) {
        CddbLastStatus = e.what();
    }
    if (!selected) {
        // No table of contents: asking the server with it would find nothing.
        FailLookup(*this, CddbLastStatus.empty() ? std::string("No CD in CD/DVD drive!") : CddbLastStatus);
        return;
    }
    Scan.Pending = true;
    if (Cddb->Query() != 0)
        FailLookup(*this, CddbLastStatus);
}

void TMainForm::Cddb1Match(TCddb *Sender, const std::array<std::string, 100> &, int &RightOne)
{
    if (!Scan.Pending || Sender->ServerType != HTTP)
        return;
    if (RightOne != -1) {
        // Read once the component has finished with this reply.
        QMetaObject::invokeMethod(
            this, [this, Sender] { RunGuarded([this, Sender] { CddbReadMessage(Sender); }); }, Qt::QueuedConnection);
    }
    Scan.Pending = false;
}

void TMainForm::CddbReadMessage(TCddb *Sender)
{
    if (!Sender || Sender != Cddb.get() || !Scan.Audio)
        return;
    if (Sender->State == 3 || Sender->State == 4)
        Sender->Read();
}

void TMainForm::Cddb1DataExchange(TCddb *, const std::string &Line)
{
    if (!Scan.Audio)
        return; // not part of a lookup of this scan
    QPlainTextEdit *memo = CddbWizard ? CddbWizard->ui->Memo1 : nullptr;
    auto show = [memo](const std::string &text) {
        if (memo)
            memo->appendPlainText(ToQString(text));
    };
    if (Line.find("DYEAR") != std::string::npos) {
        const std::string v = Without(Line, "DYEAR=");
        Scan.CddbNote += "\xC2\xA9" + v;
        show(v);
    }
    if (Line.find("DGENRE") != std::string::npos) {
        const std::string v = Without(Line, "DGENRE=");
        Scan.CddbNote += "/" + v;
        show(v);
    }
    const size_t tt = Line.find("TTITLE");
    if (tt != std::string::npos) {
        const size_t eq = Line.find('=', tt);
        std::string v = Line;
        v.erase(tt, eq == std::string::npos ? std::string::npos : eq - tt + 1);
        Scan.TrackTitles.push_back(v);
        show(v);
    }
    if (Line.find("PLAYORDER") != std::string::npos)
        Scan.End = true;
    if (Line.find("DTITLE") != std::string::npos)
        Scan.CddbTitle = Without(Line, "DTITLE=");
    if (Line.find("202 No match for disc ID") != std::string::npos)
        Scan.NoMatch = true;
    // Next waits for the entry to be taken apart (the "Entry read" status):
    // the lines seen so far are raw, with continuation lines still split.
    if (Scan.NoMatch && CddbWizard)
        CddbWizard->ui->Label9->setText(L(145));
}

void TMainForm::CddbStatusMessage(TCddb *Sender, const std::string &Status)
{
    CddbLastStatus = Status;
    if (!Scan.Audio || !Sender)
        return;
    if (Sender->State == 12 && Status == "Entry read") {
        // The entry is taken apart after its last line: take its values then,
        // with continuation lines joined, escapes decoded and each title at
        // its track's place.
        QMetaObject::invokeMethod(
            this,
            [this, Sender] {
                if (!Scan.Audio || Sender != Cddb.get() || Sender->State != 12)
                    return;
                const CddbEntry &e = Sender->Entry;
                Scan.CddbTitle = e.Title.empty() ? e.Artist : e.Artist + " / " + e.Title;
                Scan.CddbNote = (e.Year.empty() ? std::string() : "\xC2\xA9" + e.Year)
                                + (e.Genre.empty() ? std::string() : "/" + e.Genre);
                size_t count = 0;
                for (size_t i = 0; i < e.TrackTitles.size(); ++i)
                    if (!e.TrackTitles[i].empty())
                        count = i + 1;
                Scan.TrackTitles.assign(e.TrackTitles.begin(), e.TrackTitles.begin() + static_cast<long>(count));
                Scan.End = true;
                Scan.Pending = false;
                EnableNext(CddbWizard, true);
                if (CddbWizard)
                    CddbWizard->ui->Label9->setText(CddbWizard->ui->Label9->text() + QStringLiteral(" Hotovo."));
            },
            Qt::QueuedConnection);
        return;
    }
    if (LookupFailed(Sender->State))
        FailLookup(*this, Status);
}
