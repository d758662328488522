// Scans of an audio CD in a made-up drive under the volume service, with the
// lookup answered by a local CDDB peer over HTTP: the disc and its tracks get
// the entry's titles; a lookup that fails leaves the disc as scanned.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

#include <QThread>

#include <atomic>
#include <mutex>

#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "app/scan/newcd.h"
#include "cdaudio/Cddb.h"
#include "net/NetTestUtil.h"
#include "platform/CdDevice.h"
#include "platform/ShellOpen.h"
#include "platform/VolumeSystem.h"
#include "ui_MainForm.h"
#include "ui_newcd.h"
#include "widgets/PictDriveBox.h"

#include "app/ArchiveTestSupport.h"

using namespace scantest;
using Strings = std::vector<std::string>;

namespace {

const std::string kEntry = "210 rock 0c016602 CD database entry follows\r\n"
                           "# xmcd\r\nDISCID=0c016602\r\nDTITLE=The Band / The Album\r\nDYEAR=1987\r\n"
                           "DGENRE=Rock\r\nTTITLE0=Opening, part one\r\nTTITLE0= and two\r\nTTITLE1=Finale\r\n"
                           "EXTD=\r\nPLAYORDER=\r\n.\r\n";

class AudioCdScanTest : public FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        Insert();
        SystemVolumeOptions o;
        o.letterMapPath = DefaultLetterMapPath(data);
        o.mountInfoPath = dir.write("mountinfo", "");
        o.sysRoot = dir.file("sys");
        o.pollIntervalMs = 0;
        VolumeService::SetCurrent(std::make_unique<SystemVolumeService>(o));
        for (const VolumeInfo &v : VolumeService::Current().Drives())
            if (v.audioCd())
                letter = v.letter;
        ASSERT_NE(letter, 0);
    }
    // The example disc in a simulated drive whose interfaces answer `interfaces`.
    static void Insert(int interfaces = 1)
    {
        std::string error;
        CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(
            std::vector<SimulatedCdDrive>{*SimulatedAudioCd("0:02:00 3:10:00 6:00:00", error)}, interfaces));
    }
    void Start(const std::string &server, int cdInterface = 0)
    {
        form.reset();
        std::filesystem::remove(data + "/Music.d");
        std::filesystem::remove(data + "/CdNames/Music_cdname.d");
        EmptyMusicCatalog();
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup6=1\nSetup17=1\nSetup20=1\n"
                                       "Setup_Text4=Music\nSetup_Text2=" +
                                           server + "\nSetup19=" + std::to_string(cdInterface) + "\n");
        form = std::make_unique<TMainForm>(nullptr, data);
        form->ui->DriveComboBox1->SetDrive(letter);
    }
    void TearDown() override
    {
        FormTest::TearDown();
        CdDeviceLayer::SetCurrent(nullptr);
    }
    // Reads the disc, says yes to the lookup, waits for its end and writes.
    void ScanWithLookup()
    {
        TMainForm::RunModal = [this](QDialog &d) {
            auto &w = dynamic_cast<TNewRecordForm &>(d);
            w.show();
            w.Button1Click();
            WaitWhile([&] { return w.Waiting(); });
            EXPECT_TRUE(w.ui->Panel3->isVisible()) << "the lookup is offered for an audio CD";
            question = w.ui->Label8->text().toStdString();
            // Every line of the question within its label, the first one too.
            EXPECT_LE(w.ui->Label8->heightForWidth(w.ui->Label8->width()), w.ui->Label8->height());
            EXPECT_TRUE(w.ui->Label8->alignment() & Qt::AlignTop);
            w.CddbYesClick();
            // Next comes on only when the entry is taken apart or the lookup failed.
            WaitWhile([&] { return !w.ui->SpeedButton6->isEnabled(); });
            const QString said = w.ui->Label9->text();
            EXPECT_TRUE(said.contains(QStringLiteral(" Hotovo.")) || said == langunit::LangString(145).c_str()) << said.toStdString();
            label9 = w.ui->Label9->text().toStdString();
            memo = w.ui->Memo1->toPlainText().toStdString();
            w.CddbNextClick();
            w.Button1Click();
            return 0;
        };
        form->ScanButtonClick();
    }
    Strings Files() const { return FormTest::Files({"Namecd", "Name", "LoadName", "FType", "MusicOrder"}); }
    Strings Discs() const { return FormTest::Discs({"CdName", "CdNote"}); }
    // A failed lookup: the disc as scanned, named by the drive and the
    // chooser's text, and the tracks by their files.
    void ExpectScannedAsIs(const std::string &said)
    {
        EXPECT_NE(memo.find(said), std::string::npos) << memo;
        const std::string name = std::string(1, letter) + ": [" +
            NameFromDriveText(form->ui->DriveComboBox1->currentText().toStdString(), nullptr) + "]";
        EXPECT_EQ(Discs(), (Strings{name + "|"}));
        EXPECT_EQ(FormTest::Files({"Namecd", "Name", "FType"}),
                  (Strings{name + "|Track01.cda|0", name + "|Track02.cda|0"}));
    }

    // Starts with a server that knows the example disc and scans it with the lookup.
    void ScanExampleDisc();

    char letter = 0;
    std::string label9, memo, question;
    Strings peerPaths;
    std::mutex peerMutex;
    std::unique_ptr<nettest::ScriptedPeer> examplePeer;
};

// A CDDB server over HTTP that knows the example disc; the request lines
// it was sent go to `paths`.
std::unique_ptr<nettest::ScriptedPeer> CddbPeer(Strings *paths, std::mutex *m, const std::string &entry = kEntry)
{
    return std::make_unique<nettest::ScriptedPeer>(
        [paths, m, entry](int fd, int) {
            const std::string req = nettest::ReadUntil(fd, "\r\n\r\n");
            {
                std::lock_guard<std::mutex> lock(*m);
                paths->push_back(req.substr(0, req.find("\r\n")));
            }
            std::string body = "500 Command syntax error.\r\n";
            if (req.find("cmd=cddb+query+0c016602+2+150+14250+360&") != std::string::npos)
                body = "200 rock 0c016602 The Band / The Album\r\n";
            else if (req.find("cmd=cddb+read+rock+0C016602&") != std::string::npos)
                body = entry;
            nettest::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
            return false;
        },
        4);
}

void AudioCdScanTest::ScanExampleDisc()
{
    examplePeer = CddbPeer(&peerPaths, &peerMutex);
    Start("127.0.0.1:" + examplePeer->PortStr());
    ScanWithLookup();
}

} // namespace

TEST_F(AudioCdScanTest, LookupNamesTheDiscAndItsTracks)
{
    Strings paths;
    std::mutex m;
    auto peer = CddbPeer(&paths, &m);
    Start("127.0.0.1:" + peer->PortStr());
    EXPECT_EQ(form->Cddb->ServerAddr, "127.0.0.1");
    EXPECT_EQ(form->Cddb->ServerPort, peer->PortStr());
    ScanWithLookup();
    // The question names the server the settings give, not a fixed one.
    EXPECT_NE(question.find("127.0.0.1"), std::string::npos) << question;
    EXPECT_EQ(question.find("gnudb"), std::string::npos) << question;
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(paths.size(), 2u);
        EXPECT_NE(paths[0].find("hello=orbalist+localhost%2Elocaldomain+TestProgram+0%2E001"), std::string::npos);
    }
    EXPECT_NE(label9.find(" Hotovo."), std::string::npos);
    EXPECT_NE(memo.find("1987"), std::string::npos);
    // The continuation line is joined, at its track.
    EXPECT_EQ(Discs(), (Strings{"The Band / The Album|\xC2\xA9" "1987/Rock"}));
    EXPECT_EQ(Files(), (Strings{"The Band / The Album|Opening, part one and two|Track01.cda|2|0",
                                "The Band / The Album|Finale|Track02.cda|2|1"}));
    EXPECT_FALSE(form->Scan.Audio);
    // The same disc again: the title made unique.
    ScanWithLookup();
    ASSERT_EQ(Discs().size(), 2u);
    EXPECT_EQ(Discs()[1], "The Band / The Album1|\xC2\xA9" "1987/Rock");
}

// A disc named by its title has no drive in its name: clicking its node again
// (folders browsed in the tree) lists its tracks from the top of its drive.
TEST_F(AudioCdScanTest, DiscNamedByItsTitleBrowsesFromItsDrive)
{
    ScanExampleDisc();
    form->Settings[10] = 1;
    OpenDisc(*form, "The Band / The Album");
    const std::string top = std::string(1, letter) + ":\\";
    EXPECT_EQ(form->Browse.CurrentPath, top);
    EXPECT_EQ(ListNamesOf(*form), (Strings{"Opening, part one and two", "Finale"}));
    // The open disc's node once more: still its top, still its tracks.
    OpenDisc(*form, "The Band / The Album");
    EXPECT_EQ(form->Browse.CurrentPath, top);
    EXPECT_EQ(ListNamesOf(*form), (Strings{"Opening, part one and two", "Finale"}));
}

// The disc just catalogued from the drive is the one in it: its track runs at
// once (played through the desktop's address of the track), and copying says
// that a track is no file instead of asking for the disc again and again.
TEST_F(AudioCdScanTest, ATrackOfTheCataloguedDiscInTheDriveRunsWithoutAskingForTheDisc)
{
    ScanExampleDisc();
    ASSERT_EQ(Discs().size(), 1u);
    const std::string opener = dir.write("opener.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$0.out\"\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    SetShellOpenProgram(QString::fromStdString(opener));
    form->FormShow(); // opens the first (and only) disc
    TFileListView *list = form->ui->LinksListView;
    int row = -1;
    for (size_t i = 0; i < list->Model()->Rows().size(); ++i)
        if (list->Model()->Rows()[i].Name == "Finale")
            row = static_cast<int>(i);
    ASSERT_GE(row, 0);
    list->SelectRow(row);
    form->LinksListViewClick();
    EXPECT_EQ(form->RunTarget.Path, std::string(1, letter) + ":\\Track02.cda");
    const auto drive = VolumeService::Current().Drive(letter);
    ASSERT_TRUE(drive && drive->audioCd());
    EXPECT_EQ(form->Browse.SelectedSerial, std::to_string(drive->serial));
    form->RunButtonClick();
    EXPECT_TRUE(prompt.Asked().empty());
    std::string opened;
    for (int waited = 0; waited < 10000 && opened.empty(); waited += 20, QThread::msleep(20))
        opened = orbtest::readFile(opener + ".out");
    const std::string device = QFileInfo(QString::fromStdString(drive->device)).fileName().toStdString();
    EXPECT_EQ(opened, "cdda://" + device + "/Track%202.wav\n");
    form->CopyButtonClick();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), AudioTrackCopyText());
    SetShellOpenProgram(QString());
}

// The lookup asks at protocol level 6: Slovak and Czech letters and the dash
// reach the tables and the wizard as they were entered.
TEST_F(AudioCdScanTest, TitlesKeepEveryLetter)
{
    Strings paths;
    std::mutex m;
    const std::string title = "\u010cierne \u017elt\u00e9 / \u013dalie \u2013 \u0165ava";
    auto peer = CddbPeer(&paths, &m, "210 rock 0c016602 entry\r\nDTITLE=" + title + "\r\nTTITLE0=P\u0159\u00edb\u011bh \r\n"
                                     "TTITLE0=\u2013 \u010d\u00e1st 1\r\nTTITLE1=D\u016fm\r\n.\r\n");
    Start("127.0.0.1:" + peer->PortStr());
    ScanWithLookup();
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(paths.size(), 2u);
        EXPECT_NE(paths[1].find("&proto=6 "), std::string::npos);
    }
    EXPECT_NE(memo.find("P\u0159\u00edb\u011bh"), std::string::npos) << memo;
    EXPECT_EQ(Discs(), (Strings{title + "|"}));
    EXPECT_EQ(Files(), (Strings{title + "|P\u0159\u00edb\u011bh \u2013 \u010d\u00e1st 1|Track01.cda|2|0",
                                title + "|D\u016fm|Track02.cda|2|1"}));
}

TEST_F(AudioCdScanTest, FailedLookupsLeaveTheDiscAsScanned)
{
    {
        SCOPED_TRACE("stopped peer");
        Start("127.0.0.1:" + std::to_string(nettest::FreePort()));
        ScanWithLookup();
        EXPECT_EQ(label9, langunit::LangString(145));
        ExpectScannedAsIs("CDDB Component Internal Error: THttpClient.GetAsync failed because of error");
    }
    {
        SCOPED_TRACE("the entry's lines arrive, but its end never does");
        Strings paths;
        std::mutex m;
        auto peer = CddbPeer(&paths, &m, kEntry.substr(0, kEntry.size() - 3));
        Start("127.0.0.1:" + peer->PortStr());
        ScanWithLookup();
        ExpectScannedAsIs("CDDB entry ended early");
    }
    {
        SCOPED_TRACE("a server that never ends its reply, within the time limit");
        nettest::ScriptedPeer peer([](int fd, int) {
            nettest::ReadUntil(fd, "\r\n\r\n");
            nettest::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n200 rock 0c016602 A / B\r\n");
            nettest::ReadAll(fd, 30000);
            return false;
        });
        Start("127.0.0.1:" + peer.PortStr());
        form->Cddb->SetTimeLimit(1000);
        ScanWithLookup();
        ExpectScannedAsIs("no complete reply within 1 s");
    }
}

// A lookup given up - its own Cancel, then Cancel action, or Cancel action
// alone - ends its request and closes its connection: the next scan's lookup
// starts at once and names the disc.
TEST_F(AudioCdScanTest, CancelledLookupLeavesTheNextOneFree)
{
    std::atomic<int> closes{0};
    nettest::ScriptedPeer hangs(
        [&](int fd, int) {
            nettest::ReadUntil(fd, "\r\n\r\n");
            nettest::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
            nettest::ReadAll(fd, 30000); // until the client closes
            ++closes;
            return false;
        },
        2);
    Strings paths;
    std::mutex m;
    auto works = CddbPeer(&paths, &m);
    Start("127.0.0.1:" + hangs.PortStr());
    for (const bool lookupCancelFirst : {true, false}) {
        SCOPED_TRACE(lookupCancelFirst ? "Cancel, then Cancel action" : "Cancel action alone");
        form->Settings.SetupText[2] = "127.0.0.1:" + hangs.PortStr();
        TMainForm::RunModal = [&](QDialog &d) {
            auto &w = dynamic_cast<TNewRecordForm &>(d);
            w.show();
            w.Button1Click();
            WaitWhile([&] { return w.Waiting(); });
            w.CddbYesClick();
            // The server has sent its header and says no more.
            WaitWhile([&] { return form->Cddb->Http().State() != httpStWaitingBody; });
            EXPECT_EQ(form->Cddb->Http().State(), httpStWaitingBody);
            if (lookupCancelFirst) {
                w.CddbCancelClick();
                // The connection goes with the lookup, the wizard still open.
                WaitWhile([&] { return closes.load() < 1; }, 5000);
                EXPECT_EQ(closes.load(), 1) << "the lookup's Cancel leaves the connection open";
            }
            w.Button2Click();
            return 0;
        };
        const size_t discsBefore = Discs().size();
        form->ScanButtonClick();
        const int closed = lookupCancelFirst ? 1 : 2;
        WaitWhile([&] { return closes.load() < closed; }, 5000);
        EXPECT_EQ(closes.load(), closed) << "the connection stays open";
        EXPECT_EQ(Discs().size(), discsBefore) << "a cancelled scan writes nothing";
        // Read again with a server that answers.
        form->Settings.SetupText[2] = "127.0.0.1:" + works->PortStr();
        ScanWithLookup();
        EXPECT_EQ(memo.find("busy"), std::string::npos) << memo;
        EXPECT_NE(label9.find(" Hotovo."), std::string::npos) << memo;
        ASSERT_FALSE(Discs().empty());
        EXPECT_EQ(Discs().back(), (lookupCancelFirst ? "The Band / The Album|\xC2\xA9" "1987/Rock"
                                                     : "The Band / The Album1|\xC2\xA9" "1987/Rock"));
    }
}

TEST_F(AudioCdScanTest, InterfaceThatIsNotThereIsTold)
{
    // Setting 19 asks for the SCSI generic driver, which this machine lacks.
    Insert(-1);
    Start("127.0.0.1:1", 1);
    ScanWithLookup();
    EXPECT_EQ(label9, langunit::LangString(145));
    ExpectScannedAsIs("No usable interface available or selected interface not available");
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(AudioCdScanTest, LineRulesAndTheMatchAnswer)
{
    Start("127.0.0.1:1");
    TCddb &cddb = *form->Cddb;
    form->Scan.Audio = true;
    for (const char *line : {"DGENRE=Jazz", "TTITLE0=One", "TTITLE1=Two", "DTITLE=First", "DTITLE=Second"})
        form->Cddb1DataExchange(&cddb, line);
    EXPECT_EQ(form->Scan.CddbNote, "/Jazz");
    EXPECT_EQ(form->Scan.TrackTitles, (Strings{"One", "Two"}));
    EXPECT_EQ(form->Scan.CddbTitle, "Second");
    EXPECT_FALSE(form->Scan.End);
    form->Cddb1DataExchange(&cddb, "PLAYORDER=");
    EXPECT_TRUE(form->Scan.End);
    form->Cddb1DataExchange(&cddb, "202 No match for disc ID 0c016602.");
    EXPECT_TRUE(form->Scan.NoMatch);
    // A cancelled choice clears the pending flag and reads nothing, also
    // where a read would go ahead (the choice pending after a list).
    form->Scan.Pending = true;
    cddb.State = 4;
    cddb.Entry.Category = "rock";
    cddb.Entry.DiscId = "0c016602";
    int right = -1;
    form->Cddb1Match(&cddb, cddb.Matches, right);
    EXPECT_FALSE(form->Scan.Pending);
    QCoreApplication::processEvents();
    EXPECT_EQ(cddb.State, 4);
}

TEST_F(AudioCdScanTest, SettingsIntoTheComponent)
{
    Start("cddb.example.org");
    TCddb &cddb = *form->Cddb;
    const auto state = [&] {
        return std::to_string(cddb.CDInterface) + "|" + cddb.ProxyPort() + "|" + cddb.ServerAddr + "|" +
               cddb.ServerPort;
    };
    // No proxy port in the file: an empty one (no proxy is used, so nothing needs it).
    EXPECT_EQ(state(), std::to_string(cdiAutoDetect) + "||cddb.example.org|");
    form->ApplyCddbSettings(2, "8080", "host:81");
    EXPECT_EQ(state(), std::to_string(cdiNTSCSI) + "|8080|host|81");
    form->ApplyCddbSettings(7, "80", "host:");
    EXPECT_EQ(cddb.CDInterface, cdiNTSCSI) << "an unknown interface leaves it";
    EXPECT_EQ(cddb.ServerAddr, "host:");
    EXPECT_EQ(cddb.ServerType, HTTP);
    // The drive chooser's change selects the component's drive by its letter.
    ASSERT_TRUE(form->ui->DriveComboBox1->OnChange);
    form->ui->DriveComboBox1->OnChange(form->ui->DriveComboBox1);
    EXPECT_EQ(cddb.Entry.DiscId, "0c016602");
}
