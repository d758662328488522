// Scans of an audio CD in a made-up drive under the volume service, with the
// lookup answered by a local CDDB peer over HTTP: the disc and its tracks get
// the entry's titles; a lookup that fails leaves the disc as scanned.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

#include <filesystem>
#include <mutex>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/newcd.h"
#include "cdaudio/Cddb.h"
#include "net/NetTestUtil.h"
#include "platform/CdDevice.h"
#include "platform/Prompt.h"
#include "platform/VolumeSystem.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "ui_newcd.h"
#include "widgets/PictDriveBox.h"

namespace fs = std::filesystem;

namespace {

const std::string kEntry = "210 rock 0c016602 CD database entry follows\r\n"
                           "# xmcd\r\nDISCID=0c016602\r\nDTITLE=The Band / The Album\r\nDYEAR=1987\r\n"
                           "DGENRE=Rock\r\nTTITLE0=Opening, part one\r\nTTITLE0= and two\r\nTTITLE1=Finale\r\n"
                           "EXTD=\r\nPLAYORDER=\r\n.\r\n";

struct Rec {
    std::string name, namecd, loadName;
    int ftype, order;
};

std::vector<Rec> Files(const std::string &file)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::vector<Rec> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back({t.FieldByName("Name").AsString(), t.FieldByName("Namecd").AsString(),
                       t.FieldByName("LoadName").AsString(), t.FieldByName("FType").AsInteger(),
                       t.FieldByName("MusicOrder").IsNull() ? -1 : t.FieldByName("MusicOrder").AsInteger()});
    return out;
}

std::vector<std::pair<std::string, std::string>> Discs(const std::string &file)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::vector<std::pair<std::string, std::string>> out;
    for (t.First(); !t.Eof(); t.Next())
        out.emplace_back(t.FieldByName("CdName").AsString(), t.FieldByName("CdNote").AsString());
    return out;
}

void WaitWhile(const std::function<bool()> &busy, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (busy() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class AudioCdScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
        std::string error;
        CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(
            std::vector<SimulatedCdDrive>{*SimulatedAudioCd("0:02:00 3:10:00 6:00:00", error)}));
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
    void Start(const std::string &server, int cdInterface = 0)
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup6=1\nSetup17=1\nSetup20=1\n"
                                       "Setup_Text4=Music\nSetup_Text2=" + server + "\nSetup19="
                                           + std::to_string(cdInterface) + "\n");
        // The catalogue the settings name exists (empty).
        fs::create_directories(fs::path(data) / "CdNames");
        OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
        OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
        form = std::make_unique<TMainForm>(nullptr, data);
        form->ui->DriveComboBox1->SetDrive(letter);
    }
    void TearDown() override
    {
        form.reset();
        TMainForm::RunModal = nullptr;
        VolumeService::SetCurrent(nullptr);
        CdDeviceLayer::SetCurrent(nullptr);
        langunit::SetCurrentLanguage(langunit::LangSlovak);
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
            w.CddbYesClick();
            WaitWhile([&] { return !w.ui->SpeedButton6->isEnabled(); });
            label9 = w.ui->Label9->text().toStdString();
            memo = w.ui->Memo1->toPlainText().toStdString();
            w.CddbNextClick();
            w.Button1Click();
            return 0;
        };
        form->ScanButtonClick();
    }
    // The name a scan without a title gives: the drive and the chooser's name.
    std::string ScannedName() const
    {
        return std::string(1, letter) + ": ["
               + NameFromDriveText(form->ui->DriveComboBox1->currentText().toStdString(), nullptr) + "]";
    }
    std::string FilesPath() const { return data + "/Music.d"; }
    std::string DiscsPath() const { return data + "/CdNames/Music_cdname.d"; }

    orbtest::TempDir dir;
    std::string data;
    char letter = 0;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
    std::unique_ptr<TMainForm> form;
    std::string label9, memo;
};

// A CDDB server over HTTP that knows the example disc.
std::unique_ptr<nettest::ScriptedPeer> CddbPeer(std::vector<std::string> *paths, std::mutex *m,
                                                const std::string &entry = kEntry)
{
    return std::make_unique<nettest::ScriptedPeer>(
        [paths, m, entry](int fd, int) {
            const std::string req = nettest::ReadUntil(fd, "\r\n\r\n");
            {
                std::lock_guard<std::mutex> lock(*m);
                paths->push_back(req.substr(0, req.find("\r\n")));
            }
            std::string body;
            if (req.find("cmd=cddb+query+0c016602+2+150+14250+360&") != std::string::npos)
                body = "200 rock 0c016602 The Band / The Album\r\n";
            else if (req.find("cmd=cddb+read+rock+0C016602&") != std::string::npos)
                body = entry;
            else
                body = "500 Command syntax error.\r\n";
            nettest::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
            return false;
        },
        4);
}

} // namespace

TEST_F(AudioCdScanTest, LookupNamesTheDiscAndItsTracks)
{
    std::vector<std::string> paths;
    std::mutex m;
    auto peer = CddbPeer(&paths, &m);
    Start("127.0.0.1:" + peer->PortStr());
    EXPECT_EQ(form->Cddb->ServerAddr, "127.0.0.1");
    EXPECT_EQ(form->Cddb->ServerPort, peer->PortStr());
    ScanWithLookup();
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(paths.size(), 2u);
        EXPECT_NE(paths[0].find("hello=orbalist+localhost%2Elocaldomain+TestProgram+0%2E001"), std::string::npos);
    }
    EXPECT_NE(label9.find(" Hotovo."), std::string::npos);
    EXPECT_NE(memo.find("1987"), std::string::npos);
    const auto discs = Discs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].first, "The Band / The Album");
    EXPECT_EQ(discs[0].second, "\xC2\xA9" "1987/Rock");
    const auto files = Files(FilesPath());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "Opening, part one and two"); // continuation joined, at its track
    EXPECT_EQ(files[0].loadName, "Track01.cda");
    EXPECT_EQ(files[1].name, "Finale");
    EXPECT_EQ(files[1].loadName, "Track02.cda");
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].namecd, "The Band / The Album");
        EXPECT_EQ(files[i].ftype, 2);
        EXPECT_EQ(files[i].order, static_cast<int>(i));
    }
    EXPECT_FALSE(form->Scan.Audio);

    // The same disc again: the title made unique.
    ScanWithLookup();
    const auto again = Discs(DiscsPath());
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].first, "The Band / The Album1");
}

TEST_F(AudioCdScanTest, StoppedPeerLeavesTheDiscAsScanned)
{
    Start("127.0.0.1:" + std::to_string(nettest::FreePort()));
    ScanWithLookup();
    EXPECT_EQ(label9, langunit::LangString(145));
    EXPECT_NE(memo.find("CDDB Component Internal Error: THttpCli.GetAsync failed because of error"),
              std::string::npos);
    const auto discs = Discs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].first, ScannedName());
    EXPECT_EQ(discs[0].second, "");
    const auto files = Files(FilesPath());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "Track01.cda");
    EXPECT_EQ(files[1].name, "Track02.cda");
    EXPECT_EQ(files[0].ftype, 0);
}

TEST_F(AudioCdScanTest, InterfaceThatIsNotThereIsTold)
{
    // Setting 19 asks for the SCSI generic driver, which this machine lacks.
    std::string error;
    CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(
        std::vector<SimulatedCdDrive>{*SimulatedAudioCd("0:02:00 3:10:00 6:00:00", error)}, -1));
    Start("127.0.0.1:1", 1);
    ScanWithLookup();
    EXPECT_EQ(label9, langunit::LangString(145));
    EXPECT_NE(memo.find("No usable interface available or selected interface not available"), std::string::npos);
    const auto discs = Discs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].first, ScannedName());
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(AudioCdScanTest, EntryThatEndsEarlyNamesNothing)
{
    std::vector<std::string> paths;
    std::mutex m;
    // The entry's lines arrive, but its end never does.
    auto peer = CddbPeer(&paths, &m, kEntry.substr(0, kEntry.size() - 3));
    Start("127.0.0.1:" + peer->PortStr());
    ScanWithLookup();
    EXPECT_NE(memo.find("CDDB entry ended early"), std::string::npos);
    const auto discs = Discs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].first, ScannedName());
    EXPECT_EQ(Files(FilesPath())[0].name, "Track01.cda");
}

TEST_F(AudioCdScanTest, LineRulesAndTheMatchAnswer)
{
    Start("127.0.0.1:1");
    TCddb &cddb = *form->Cddb;
    form->Scan.Audio = true;
    for (const char *line : {"DGENRE=Jazz", "TTITLE0=One", "TTITLE1=Two", "DTITLE=First", "DTITLE=Second"})
        form->Cddb1DataExchange(&cddb, line);
    EXPECT_EQ(form->Scan.CddbNote, "/Jazz");
    EXPECT_EQ(form->Scan.TrackTitles, (std::vector<std::string>{"One", "Two"}));
    EXPECT_EQ(form->Scan.CddbTitle, "Second");
    EXPECT_FALSE(form->Scan.End);
    form->Cddb1DataExchange(&cddb, "PLAYORDER=");
    EXPECT_TRUE(form->Scan.End);
    form->Cddb1DataExchange(&cddb, "202 No match for disc ID 0c016602.");
    EXPECT_TRUE(form->Scan.NoMatch);

    // A cancelled choice clears the pending flag and reads nothing.
    form->Scan.Pending = true;
    cddb.State = 5;
    int right = -1;
    form->Cddb1Match(&cddb, cddb.Matches, right);
    EXPECT_FALSE(form->Scan.Pending);
    QCoreApplication::processEvents();
    EXPECT_EQ(cddb.State, 5);
}

TEST_F(AudioCdScanTest, SettingsIntoTheComponent)
{
    Start("cddb.example.org");
    TCddb &cddb = *form->Cddb;
    EXPECT_EQ(cddb.ServerAddr, "cddb.example.org");
    EXPECT_EQ(cddb.ServerPort, "");
    EXPECT_EQ(cddb.ProxyPort(), "80");
    EXPECT_EQ(cddb.CDInterface, cdiAutoDetect);
    form->ApplyCddbSettings(2, "8080", "host:81");
    EXPECT_EQ(cddb.CDInterface, cdiNTSCSI);
    EXPECT_EQ(cddb.ProxyPort(), "8080");
    EXPECT_EQ(cddb.ServerAddr, "host");
    EXPECT_EQ(cddb.ServerPort, "81");
    form->ApplyCddbSettings(7, "80", "host:");
    EXPECT_EQ(cddb.CDInterface, cdiNTSCSI) << "an unknown interface leaves it";
    EXPECT_EQ(cddb.ServerAddr, "host:");
    EXPECT_EQ(cddb.ServerType, HTTP);
    // The drive chooser's change selects the component's drive by its letter.
    ASSERT_TRUE(form->ui->DriveComboBox1->OnChange);
    form->ui->DriveComboBox1->OnChange(form->ui->DriveComboBox1);
    EXPECT_EQ(cddb.Entry.DiscId, "0c016602");
}
