// Scans driven through the main window and the wizard, as the user runs
// them: real folders bound to drive letters, the catalogue files reopened
// from disk afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeWidget>

#include <filesystem>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/newcd.h"
#include "platform/Prompt.h"
#include "platform/VolumeService.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "ui_newcd.h"
#include "widgets/PictDriveBox.h"

#include "MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct FileRec {
    std::string path, name, namecd, number, serial, loadName;
    int ftype, order;
};

std::vector<FileRec> ReadFiles(const std::string &file)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::vector<FileRec> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back({t.FieldByName("Path").AsString(), t.FieldByName("Name").AsString(),
                       t.FieldByName("Namecd").AsString(), t.FieldByName("Number").AsString(),
                       t.FieldByName("CdIdCode").AsString(), t.FieldByName("LoadName").AsString(),
                       t.FieldByName("FType").IsNull() ? -1 : t.FieldByName("FType").AsInteger(),
                       t.FieldByName("MusicOrder").IsNull() ? -1 : t.FieldByName("MusicOrder").AsInteger()});
    return out;
}

struct DiscRec {
    std::string name, number, size, serial, note;
    int kind;
};

std::vector<DiscRec> ReadDiscs(const std::string &file)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::vector<DiscRec> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back({t.FieldByName("CdName").AsString(), t.FieldByName("Number").AsString(),
                       t.FieldByName("CdSize").AsString(), t.FieldByName("CdIdCode").AsString(),
                       t.FieldByName("CdNote").AsString(), t.FieldByName("CType").AsInteger()});
    return out;
}

size_t CountOf(const std::vector<FileRec> &files, const std::string &disc)
{
    return std::count_if(files.begin(), files.end(), [&](const FileRec &f) { return f.namecd == disc; });
}

void WaitWhile(const std::function<bool()> &busy)
{
    QElapsedTimer t;
    t.start();
    while (busy() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

VolumeInfo Folder(char letter, const std::string &path, const std::string &label, int type = DRIVE_FIXED)
{
    VolumeInfo v;
    v.letter = letter;
    v.type = type;
    v.ready = true;
    v.label = label;
    v.serial = 0xABCD1234u;
    v.mountPoint = path;
    v.fileSystem = "ext4";
    v.totalBytes = 3 * 1024 * 1024;
    return v;
}

class ScanWizardTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        EmptyMusicCatalog();
        dir.write("disc/docs/readme.txt", "read me");
        dir.write("disc/top.txt", "top");
        dir.write("other/o.txt", "o");
        auto service = std::make_unique<FixedVolumeService>(
            std::vector<VolumeInfo>{Folder('e', dir.file("disc"), "DATA"), Folder('f', dir.file("other"), "OTHER")});
        volumes = service.get();
        VolumeService::SetCurrent(std::move(service));
        form = std::make_unique<TMainForm>(nullptr, data);
        form->ui->DriveComboBox1->SetDrive('e');
    }
    void TearDown() override
    {
        form.reset();
        TMainForm::RunModal = nullptr;
        VolumeService::SetCurrent(nullptr);
        DataFolderTest::TearDown();
    }
    std::string FilesPath() const { return data + "/Music.d"; }
    std::string DiscsPath() const { return data + "/CdNames/Music_cdname.d"; }

    // Runs the wizard to the end: load, the pause, write.
    static void LoadAndWrite(QDialog &d, const std::function<void(TNewRecordForm &)> &beforeWrite = {})
    {
        auto &w = dynamic_cast<TNewRecordForm &>(d);
        w.show();
        WaitWhile([&] { return !w.Ready(); });
        w.Button1Click();
        WaitWhile([&] { return w.Waiting(); });
        if (beforeWrite)
            beforeWrite(w);
        if (w.isVisible())
            w.Button1Click();
    }
    void Scan(int mode, const std::function<void(TNewRecordForm &)> &beforeWrite = {})
    {
        TMainForm::RunModal = [&](QDialog &d) {
            LoadAndWrite(d, beforeWrite);
            return 0;
        };
        if (mode == 0)
            form->ScanButtonClick();
        else
            form->UpdateToolButtonClick();
    }

    FixedVolumeService *volumes = nullptr;
    std::unique_ptr<TMainForm> form;
};

TEST_F(ScanWizardTest, NewScanWritesFilesAndDiscAndShowsTheDisc)
{
    ASSERT_TRUE(form->HasCatalog());
    Scan(0);
    const auto files = ReadFiles(FilesPath());
    ASSERT_EQ(files.size(), 3u);
    // Post order: the folder's contents before the folder.
    auto at = [&](const std::string &full) {
        for (size_t i = 0; i < files.size(); ++i)
            if (files[i].path + files[i].name == full)
                return int(i);
        return -1;
    };
    ASSERT_GE(at("e:\\docs\\readme.txt"), 0);
    EXPECT_LT(at("e:\\docs\\readme.txt"), at("e:\\docs"));
    for (const FileRec &f : files) {
        EXPECT_EQ(f.namecd, "e: [data]");
        EXPECT_EQ(f.number, "1");
        EXPECT_EQ(f.serial, "") << "a hard disk has no serial in its records";
    }
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].name, "e: [data]");
    EXPECT_EQ(discs[0].number, "1");
    EXPECT_EQ(discs[0].size, "3 mb");
    EXPECT_EQ(discs[0].kind, 1);
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("e: [data]"));
    EXPECT_EQ(form->ExMemoryData1->RecordCount(), 0);
    EXPECT_TRUE(form->Scan.DiscName.empty());
}

TEST_F(ScanWizardTest, RepeatedScansGetUniqueNamesAndNumbers)
{
    Scan(0);
    Scan(0);
    Scan(0);
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 3u);
    EXPECT_EQ(discs[1].name, "e: [data]1");
    EXPECT_EQ(discs[2].name, "e: [data]2");
    EXPECT_EQ(discs[1].number, "2");
    EXPECT_EQ(discs[2].number, "3");
    const auto files = ReadFiles(FilesPath());
    EXPECT_EQ(CountOf(files, "e: [data]"), 3u);
    EXPECT_EQ(CountOf(files, "e: [data]2"), 3u);
}

TEST_F(ScanWizardTest, NumberThatIsNotANumberDoesNotStopTheScan)
{
    form->CdNameTable->Append();
    form->CdNameTable->FieldByName("CdName").SetAsString("x: [OLD]");
    form->CdNameTable->FieldByName("Number").SetAsString("A-7");
    form->CdNameTable->Post();
    Scan(0);
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 2u);
    EXPECT_EQ(discs[1].number, "1");
}

TEST_F(ScanWizardTest, CancelAndWindowCloseLeaveNoStaleScan)
{
    // Read, then close by the window's button instead of writing.
    TMainForm::RunModal = [&](QDialog &d) {
        auto &w = dynamic_cast<TNewRecordForm &>(d);
        w.show();
        w.Button1Click();
        WaitWhile([&] { return w.Waiting(); });
        EXPECT_GT(form->ExMemoryData1->RecordCount(), 0);
        w.close();
        return 0;
    };
    form->ScanButtonClick();
    EXPECT_EQ(form->ExMemoryData1->RecordCount(), 0);
    EXPECT_TRUE(form->Scan.DiscName.empty());
    // Read, then cancel.
    TMainForm::RunModal = [&](QDialog &d) {
        auto &w = dynamic_cast<TNewRecordForm &>(d);
        w.show();
        w.Button1Click();
        WaitWhile([&] { return w.Waiting(); });
        w.Button2Click();
        return 0;
    };
    form->ScanButtonClick();
    EXPECT_EQ(form->ExMemoryData1->RecordCount(), 0);
    // The next scan writes its own records only.
    form->ui->DriveComboBox1->SetDrive('f');
    Scan(0);
    const auto files = ReadFiles(FilesPath());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].namecd, "f: [other]");
    EXPECT_TRUE(ReadDiscs(DiscsPath()).size() == 1);
}

TEST_F(ScanWizardTest, EmptyDriveWarnsAndWritesNothing)
{
    fs::create_directories(dir.file("empty"));
    volumes->SetDrives({Folder('g', dir.file("empty"), "NIC")});
    form->ui->DriveComboBox1->SetDrive('g');
    Scan(0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QString::fromStdString(langunit::LangString(66)));
    EXPECT_TRUE(ReadFiles(FilesPath()).empty());
    EXPECT_TRUE(ReadDiscs(DiscsPath()).empty());
}

TEST_F(ScanWizardTest, DriveIsTakenOnceWhenTheWizardOpens)
{
    Scan(0, [&](TNewRecordForm &) {
        // A device change while the wizard is open gives e: to another volume.
        volumes->SetDrives({Folder('e', dir.file("other"), "SWAPPED", DRIVE_CDROM)});
    });
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].kind, 1);
    EXPECT_EQ(discs[0].serial, "");
    EXPECT_EQ(discs[0].size, "3 mb");
    EXPECT_EQ(ReadFiles(FilesPath()).size(), 3u);
}

TEST_F(ScanWizardTest, SerialOfAnEarlierCdNeverReachesAHardDisk)
{
    volumes->SetDrives({Folder('d', dir.file("other"), "CDLABEL", DRIVE_CDROM), Folder('e', dir.file("disc"), "DATA")});
    EXPECT_EQ(form->GetDriveKind('d'), 0);
    EXPECT_EQ(form->Scan.VolumeSerial, std::to_string(0xABCD1234u));
    EXPECT_EQ(form->GetDriveKind('e'), 1);
    EXPECT_EQ(form->Scan.VolumeSerial, "");

    form->ui->DriveComboBox1->SetDrive('d');
    Scan(0);
    form->ui->DriveComboBox1->SetDrive('e');
    Scan(0);
    const auto files = ReadFiles(FilesPath());
    for (const FileRec &f : files)
        EXPECT_EQ(f.serial, f.namecd.rfind("d:", 0) == 0 ? std::to_string(0xABCD1234u) : "") << f.namecd;
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 2u);
    EXPECT_EQ(discs[0].kind, 0);
    EXPECT_EQ(discs[1].serial, "");
}

TEST_F(ScanWizardTest, UpdateReplacesExactlyTheDiscsRecordsWhateverTheFilter)
{
    Scan(0);                                   // e: [data]
    form->ui->DriveComboBox1->SetDrive('f');
    Scan(0);                                   // f: [other]
    ASSERT_EQ(ReadFiles(FilesPath()).size(), 4u);
    dir.write("disc/new.txt", "new");
    fs::remove(dir.file("disc/top.txt"));
    // A search filter that shows the other disc's records only.
    form->FlatTable1->SetOnFilterRecord([](TDataSet *ds, bool &accept) {
        accept = ds->FieldByName("Namecd").AsString() == "f: [other]";
    });
    form->FlatTable1->SetFiltered(true);
    form->Browse.CurrentDisc = "e: [data]";
    volumes->SetDrives({Folder('e', dir.file("disc"), "DATA", DRIVE_CDROM), Folder('f', dir.file("other"), "OTHER")});
    Scan(1);
    const auto files = ReadFiles(FilesPath());
    ASSERT_EQ(CountOf(files, "f: [other]"), 1u);
    ASSERT_EQ(CountOf(files, "e: [data]"), 3u);
    bool sawNew = false, sawTop = false;
    for (const FileRec &f : files) {
        sawNew = sawNew || f.name == "new.txt";
        sawTop = sawTop || f.name == "top.txt";
    }
    EXPECT_TRUE(sawNew);
    EXPECT_FALSE(sawTop);
    EXPECT_TRUE(form->FlatTable1->Filtered()) << "the search filter is left as it was";
    // The disc record follows the drive: kind, serial and size.
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 2u);
    EXPECT_EQ(discs[0].name, "e: [data]");
    EXPECT_EQ(discs[0].kind, 0);
    EXPECT_EQ(discs[0].serial, std::to_string(0xABCD1234u));
}

TEST_F(ScanWizardTest, UpdateWarnsOnlyWhenTheStoredSerialDiffers)
{
    Scan(0);
    form->Browse.CurrentDisc = "e: [data]";
    form->Browse.SelectedSerial = "0";
    Scan(1);
    EXPECT_TRUE(prompt.Asked().empty());
    form->Browse.SelectedSerial = "777";
    Scan(1);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Warning);
    // The update went on.
    EXPECT_EQ(CountOf(ReadFiles(FilesPath()), "e: [data]"), 3u);
}

TEST_F(ScanWizardTest, WriteThatFailsLeavesTheCatalogueAsItWas)
{
    Scan(0);
    const std::string files = FilesPath();
    // The file table cannot be replaced: a folder holds its name.
    Scan(0, [&](TNewRecordForm &) {
        fs::rename(files, files + ".aside");
        fs::create_directories(files + "/blocker");
    });
    fs::remove_all(files);
    fs::rename(files + ".aside", files);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Error);
    // The disc record written before the failure was taken back.
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 1u);
    EXPECT_EQ(discs[0].name, "e: [data]");
    EXPECT_EQ(ReadFiles(files).size(), 3u);
    EXPECT_EQ(form->CdNameTable->RecordCount(), 1);
    EXPECT_EQ(form->FlatTable1->RecordCount(), 3);
    EXPECT_EQ(form->ExMemoryData1->RecordCount(), 0);
    // The next scan writes normally.
    Scan(0);
    EXPECT_EQ(ReadDiscs(DiscsPath()).size(), 2u);
    EXPECT_EQ(ReadFiles(files).size(), 6u);
}

class AudioScanTest : public ScanWizardTest {
protected:
    void AddAudioDrive(char letter)
    {
        VolumeInfo cd;
        cd.letter = letter;
        cd.type = DRIVE_CDROM;
        cd.ready = true;
        cd.label = "Audio CD";
        cd.serial = 42;
        cd.fileSystem = "CDFS";
        cd.totalBytes = 1000;
        for (int i = 1; i <= 3; ++i) {
            VolumeEntry t;
            t.name = "Track0" + std::to_string(i) + ".cda";
            t.size = 44;
            t.attributes = FILE_ATTR_READONLY;
            cd.virtualRoot.push_back(t);
        }
        auto drives = volumes->Drives();
        drives.push_back(cd);
        volumes->SetDrives(drives);
        form->ui->DriveComboBox1->RefreshDrives();
        form->ui->DriveComboBox1->SetDrive(letter);
    }
    void WithTitles(TNewRecordForm &)
    {
        // What a finished lookup leaves behind.
        form->Scan.Audio = true;
        form->Scan.CddbTitle = "Album";
        form->Scan.TrackTitles = {"First", "Second"}; // one title short
    }
};

TEST_F(AudioScanTest, ShortTitleListKeepsFileNamesAndTitlesAreUnique)
{
    AddAudioDrive('h');
    Scan(0, [&](TNewRecordForm &w) { WithTitles(w); });
    Scan(0, [&](TNewRecordForm &w) { WithTitles(w); });
    const auto files = ReadFiles(FilesPath());
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[0].namecd, "Album");
    EXPECT_EQ(files[0].name, "First");
    EXPECT_EQ(files[0].loadName, "Track01.cda");
    EXPECT_EQ(files[0].ftype, 2);
    EXPECT_EQ(files[2].name, "Track03.cda");
    EXPECT_EQ(files[2].order, 2);
    EXPECT_EQ(files[3].namecd, "Album1");
    const auto discs = ReadDiscs(DiscsPath());
    ASSERT_EQ(discs.size(), 2u);
    EXPECT_EQ(discs[0].kind, 2);
    EXPECT_EQ(discs[0].serial, "42");
    EXPECT_EQ(discs[1].name, "Album1");
}

TEST_F(AudioScanTest, UpdateOfATitledDiscReadsTheDriveOfItsRecords)
{
    AddAudioDrive('h');
    Scan(0, [&](TNewRecordForm &w) { WithTitles(w); });
    // "Album" begins with no drive letter: the records say h:.
    form->Browse.CurrentDisc = "Album";
    Scan(1);
    const auto files = ReadFiles(FilesPath());
    ASSERT_EQ(files.size(), 3u);
    for (const FileRec &f : files) {
        EXPECT_EQ(f.path, "h:\\");
        EXPECT_EQ(f.namecd, "Album");
    }
}

} // namespace
