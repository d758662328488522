// Scans driven through the main window and the wizard, as the user runs
// them: real folders bound to drive letters, the catalogue files reopened
// from disk afterwards.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

#include "app/discs/RenameCD.h"
#include "app/scan/newcd.h"
#include "ui_MainForm.h"
#include "ui_RenameCDForm.h"
#include "ui_newcd.h"
#include "util/TextCodec.h"
#include "widgets/PictDriveBox.h"

#include "app/ArchiveTestSupport.h"

namespace fs = std::filesystem;
using namespace scantest;
using Strings = std::vector<std::string>;

namespace {

const std::string kSer = std::to_string(kSerial);

class ScanWizardTest : public FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
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
    Strings Discs(std::initializer_list<const char *> f = {"CdName", "Number", "CdSize", "CdIdCode", "CType"}) const
    {
        return FormTest::Discs(f);
    }
    size_t CountOf(const std::string &disc) const
    {
        const Strings names = Files({"Namecd"});
        return std::count(names.begin(), names.end(), disc);
    }
    // Runs the wizard: `beforeLoad`, load, the pause, `beforeWrite`, and the
    // write unless the wizard was closed meanwhile. Mode 0 scans, 1 updates.
    void Scan(int mode, const std::function<void(TNewRecordForm &)> &beforeWrite = {},
              const std::function<void(TNewRecordForm &)> &beforeLoad = {})
    {
        RunScanWizard(*form, mode, beforeWrite, beforeLoad);
    }

    FixedVolumeService *volumes = nullptr;
};

TEST_F(ScanWizardTest, NewScanWritesFilesAndDiscAndShowsTheDisc)
{
    ASSERT_TRUE(form->HasCatalog());
    // A device change while the wizard is open gives e: to another volume:
    // the drive was taken once, when the wizard opened.
    Scan(0, [&](TNewRecordForm &) {
        volumes->SetDrives({Folder('e', dir.file("other"), "SWAPPED", DRIVE_CDROM)});
    });
    const Strings files = Files({"Path", "Name", "Namecd", "Number", "CdIdCode"});
    const auto at = [&](const std::string &row) { return std::find(files.begin(), files.end(), row) - files.begin(); };
    // Post order: the folder's contents before the folder. A hard disk has
    // no serial in its records.
    EXPECT_LT(at("e:\\docs\\|readme.txt|e: [data]|1|"), at("e:\\|docs|e: [data]|1|"));
    Strings sorted = files;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (Strings{"e:\\docs\\|readme.txt|e: [data]|1|", "e:\\|docs|e: [data]|1|",
                               "e:\\|top.txt|e: [data]|1|"}));
    EXPECT_EQ(Discs(), (Strings{"e: [data]|1|3 mb||1"}));
    ASSERT_EQ(form->ui->TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(std::tuple(form->ui->TreeView1->topLevelItem(0)->text(0), form->ExMemoryData1->RecordCount(),
                         form->Scan.DiscName),
              std::tuple(QStringLiteral("e: [data]"), 0, ""));
}

TEST_F(ScanWizardTest, RepeatedScansGetUniqueNamesAndNumbersPassingOverOddNumbers)
{
    form->CdNameTable->Append();
    form->CdNameTable->FieldByName("CdName").SetAsString("x: [OLD]");
    form->CdNameTable->FieldByName("Number").SetAsString("A-7");
    form->CdNameTable->Post();
    for (int i = 0; i < 3; ++i)
        Scan(0);
    EXPECT_EQ(Discs({"CdName", "Number"}), (Strings{"x: [OLD]|A-7", "e: [data]|1", "e: [data]1|2", "e: [data]2|3"}));
    EXPECT_EQ(std::tuple(CountOf("e: [data]"), CountOf("e: [data]2")), std::tuple(3u, 3u));
}

TEST_F(ScanWizardTest, CancelAndWindowCloseLeaveNoStaleScan)
{
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "window closed");
        Scan(0, [&](TNewRecordForm &w) {
            EXPECT_GT(form->ExMemoryData1->RecordCount(), 0);
            cancel ? w.Button2Click() : (void)w.close();
        });
        EXPECT_EQ(std::tuple(form->ExMemoryData1->RecordCount(), form->Scan.DiscName), std::tuple(0, ""));
    }
    // The next scan writes its own records only.
    form->ui->DriveComboBox1->SetDrive('f');
    Scan(0);
    EXPECT_EQ(std::tuple(Files({"Namecd"}), Discs().size()), std::tuple(Strings{"f: [other]"}, 1u));
}

TEST_F(ScanWizardTest, EmptyDriveWarnsAndWritesNothing)
{
    fs::create_directories(dir.file("empty"));
    volumes->SetDrives({Folder('g', dir.file("empty"), "NIC")});
    form->ui->DriveComboBox1->SetDrive('g');
    Scan(0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QString::fromStdString(langunit::LangString(66)));
    EXPECT_EQ(std::tuple(Files({"Name"}).size(), Discs().size()), std::tuple(0u, 0u));
}

TEST_F(ScanWizardTest, SerialOfAnEarlierCdNeverReachesAHardDisk)
{
    volumes->SetDrives({Folder('d', dir.file("other"), "CDLABEL", DRIVE_CDROM), Folder('e', dir.file("disc"), "DATA")});
    EXPECT_EQ(form->GetDriveKind('d'), 0);
    EXPECT_EQ(form->Scan.VolumeSerial, kSer);
    EXPECT_EQ(form->GetDriveKind('e'), 1);
    EXPECT_EQ(form->Scan.VolumeSerial, "");
    for (char letter : {'d', 'e'}) {
        form->ui->DriveComboBox1->SetDrive(letter);
        Scan(0);
    }
    for (const std::string &f : Files({"Namecd", "CdIdCode"}))
        EXPECT_EQ(f, f[0] == 'd' ? "d: [cdlabel]|" + kSer : "e: [data]|");
    EXPECT_EQ(Discs({"CdName", "CdIdCode", "CType"}), (Strings{"d: [cdlabel]|" + kSer + "|0", "e: [data]||1"}));
}

TEST_F(ScanWizardTest, UpdateReplacesExactlyTheDiscsRecordsWhateverTheFilter)
{
    Scan(0);
    form->ui->DriveComboBox1->SetDrive('f');
    Scan(0);
    ASSERT_EQ(Files({"Name"}).size(), 4u);
    dir.write("disc/new.txt", "new");
    fs::remove(dir.file("disc/top.txt"));
    // A search filter that shows the other disc's records only.
    form->FlatTable1->SetOnFilterRecord(
        [](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Namecd").AsString() == "f: [other]"; });
    form->FlatTable1->SetFiltered(true);
    form->Browse.CurrentDisc = "e: [data]";
    ASSERT_GE(form->SelectTreeNodeByText("e: [data]"), 0); // Update acts on the disc chosen in the tree
    volumes->SetDrives({Folder('e', dir.file("disc"), "DATA", DRIVE_CDROM), Folder('f', dir.file("other"), "OTHER")});
    Scan(1);
    Strings files = Files({"Namecd", "Name"});
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (Strings{"e: [data]|docs", "e: [data]|new.txt", "e: [data]|readme.txt", "f: [other]|o.txt"}));
    EXPECT_TRUE(form->FlatTable1->Filtered()) << "the search filter is left as it was";
    // The disc record follows the drive: kind, serial and size.
    EXPECT_EQ(Discs(), (Strings{"e: [data]|1|3 mb|" + kSer + "|0", "f: [other]|2|3 mb||1"}));
    // A stored serial of 0 matches any disc; another one warns, and the update goes on.
    EXPECT_TRUE(prompt.Asked().empty());
    form->Browse.SelectedSerial = "0";
    Scan(1);
    EXPECT_TRUE(prompt.Asked().empty());
    form->Browse.SelectedSerial = "777";
    Scan(1);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Warning);
    EXPECT_EQ(CountOf("e: [data]"), 3u);
}

TEST_F(ScanWizardTest, WriteThatFailsLeavesTheCatalogueAsItWas)
{
    Scan(0);
    const std::string files = data + "/Music.d";
    // The file table cannot be replaced: a folder holds its name.
    Scan(0, [&](TNewRecordForm &) {
        fs::rename(files, files + ".aside");
        fs::create_directories(files + "/blocker");
    });
    fs::remove_all(files);
    fs::rename(files + ".aside", files); // the next scan writes normally
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Error);
    // The disc record written before the failure was taken back.
    EXPECT_EQ(Discs({"CdName"}), (Strings{"e: [data]"}));
    EXPECT_EQ(std::tuple(Files({"Name"}).size(), form->CdNameTable->RecordCount(), form->FlatTable1->RecordCount(),
                         form->ExMemoryData1->RecordCount()),
              std::tuple(3u, 1, 3, 0));
    Scan(0);
    EXPECT_EQ(std::tuple(Discs().size(), Files({"Name"}).size()), std::tuple(2u, 6u));
}

// The wizard waiting to write `disc`: its "Write" link holds the whole name,
// in lines no wider than the link, above the cancel link, inside the window.
void ExpectWriteTextWhole(TNewRecordForm &w, const std::string &disc)
{
    const QLabel *link = w.ui->Label1;
    const auto squeezed = [](QString t) { return t.remove(QRegularExpression(QStringLiteral("\\s"))); };
    const QString expected = QString::fromStdString(langunit::LangString(28) + " " + disc + " " + langunit::LangString(29));
    EXPECT_EQ(squeezed(link->text()), squeezed(expected)) << link->text().toStdString();
    for (const QString &line : link->text().split(QLatin1Char('\n')))
        EXPECT_LE(link->fontMetrics().horizontalAdvance(line), link->width()) << line.toStdString();
    EXPECT_LE(link->sizeHint().height(), link->height());
    EXPECT_LT(link->geometry().bottom(), w.ui->SpeedButton2->y());
    EXPECT_LE(w.ui->Panel1->geometry().bottom(), w.height());
}

// Every record of `disc` in both tables given the name `stored` (the bytes a
// catalogue from elsewhere holds), and saved; the name as the tables keep it.
std::string RenameInTables(TMainForm &form, const std::string &disc, const std::string &stored)
{
    for (auto [table, field] : {std::pair{form.FlatTable1.get(), "Namecd"}, std::pair{form.CdNameTable.get(), "CdName"}}) {
        TField &name = table->FieldByName(field);
        for (table->First(); !table->Eof(); table->Next())
            if (name.AsString() == disc) {
                table->Edit();
                name.SetAsString(stored);
                table->Post();
            }
        table->Save();
    }
    form.CdNameTable->First();
    return form.CdNameTable->FieldByName("CdName").AsString();
}

TEST_F(ScanWizardTest, UpdateKeepsTheStoredNameOfALongNamedDiscWhereverItCameFrom)
{
    const std::string typed = "Zaloha fotografii z dovolenky 2026 leto A";
    ASSERT_EQ(typed.size(), 41u);
    Scan(0, {}, [&](TNewRecordForm &w) { w.ui->Edit1->setText(QString::fromStdString(typed)); });
    const std::string scanned = "e: [" + typed + "]";
    ASSERT_EQ(std::tuple(Discs({"CdName"}), CountOf(scanned)), std::tuple(Strings{scanned}, 3u));
    // As scanned; renamed to 48 characters with the rename command; given
    // 60 characters (the tables keep 50 of them); in Windows-1250, as a
    // catalogue written on Windows holds it.
    const std::string renamed = "e: [Zaloha fotografii z dovolenky 2026 leto A-B]";
    const std::string sixty = "e: [" + std::string(55, 'x') + "]";
    const std::string windows = "e: [Záloha fotografií z dovolenky 2026 léto Ž]";
    ASSERT_EQ(std::tuple(StoredTextLength(renamed), StoredTextLength(sixty), StoredTextLength(windows)),
              std::tuple(48u, 60u, 46u));
    std::string current = scanned;
    size_t added = 0;
    for (const std::string &wanted : {scanned, renamed, sixty, windows}) {
        SCOPED_TRACE(wanted);
        std::string name = wanted;
        if (wanted == renamed) {
            OpenDisc(*form, current);
            form->RenameCDMenuClick();
            auto *rename = form->findChild<TRenameCDForm *>();
            ASSERT_NE(rename, nullptr);
            rename->ui->Edit2->setText(QStringLiteral("Zaloha fotografii z dovolenky 2026 leto A-B"));
            rename->OkButtonClick();
        } else if (wanted != current) {
            name = RenameInTables(*form, current, wanted == windows ? Utf8ToCp1250(windows) : wanted);
            EXPECT_EQ(name, wanted == sixty ? sixty.substr(0, 50) : wanted);
        }
        ASSERT_EQ(std::tuple(Discs({"CdName"}), CountOf(name)), std::tuple(Strings{name}, 3 + added));
        current = name;
        dir.write("disc/new" + std::to_string(added++) + ".txt", "new");
        // Shown as the tables now name it, and chosen in the tree: Update acts on that disc.
        form->RebuildCatalogView();
        OpenDisc(*form, name);
        ASSERT_EQ(form->Browse.CurrentDisc, name);
        bool shown = false;
        Scan(1, [&](TNewRecordForm &w) {
            ExpectWriteTextWhole(w, name);
            // The disabled name edit shows the name whole too.
            EXPECT_EQ(w.ui->Edit1->text().toStdString(), name);
            shown = true;
        });
        EXPECT_TRUE(shown);
        // The disc record keeps its name; every file record, the new one
        // among them, carries that name, so the disc lists them.
        EXPECT_EQ(Discs({"CdName"}), Strings{name});
        EXPECT_EQ(Files({"Namecd"}), Strings(3 + added, name));
        OpenDisc(*form, name);
        EXPECT_EQ(ListNamesOf(*form).size(), 2 + added);
    }
    // The Windows disc record keeps its bytes as they were stored.
    TFlatTable discs;
    discs.SetTableName(data + "/CdNames/Music_cdname.d");
    discs.Open();
    EXPECT_EQ(discs.FieldByName("CdName").AsBytes(), Utf8ToCp1250(windows));
}

class AudioScanTest : public ScanWizardTest {
protected:
    void SetUp() override
    {
        ScanWizardTest::SetUp();
        VolumeInfo cd = Folder('h', std::string(), "Audio CD", DRIVE_CDROM);
        cd.serial = 42;
        cd.fileSystem = "CDFS";
        cd.totalBytes = 1000;
        for (int i = 1; i <= 3; ++i)
            cd.virtualRoot.push_back({"Track0" + std::to_string(i) + ".cda", false, 44, FILE_ATTR_READONLY});
        auto drives = volumes->Drives();
        drives.push_back(cd);
        volumes->SetDrives(drives);
        form->ui->DriveComboBox1->RefreshDrives();
        form->ui->DriveComboBox1->SetDrive('h');
    }
    // What a finished lookup leaves behind: one title short.
    void ScanWithTitles(const std::string &title = "Album")
    {
        Scan(0, [&](TNewRecordForm &) {
            form->Scan.Audio = true;
            form->Scan.CddbTitle = title;
            form->Scan.TrackTitles = {"First", "Second"};
        });
    }
};

TEST_F(AudioScanTest, ShortTitleListKeepsFileNamesTitlesAreUniqueAndUpdateFindsTheDrive)
{
    ScanWithTitles();
    ScanWithTitles();
    const Strings files = Files({"Namecd", "Name", "LoadName", "FType", "MusicOrder"});
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[0], "Album|First|Track01.cda|2|0");
    EXPECT_EQ(files[2], "Album|Track03.cda|Track03.cda|2|2");
    EXPECT_EQ(files[3], "Album1|First|Track01.cda|2|0");
    EXPECT_EQ(Discs({"CdName", "CdIdCode", "CType"}), (Strings{"Album|42|2", "Album1|42|2"}));
    // "Album" begins with no drive letter: the records say h:.
    form->Browse.CurrentDisc = "Album";
    Scan(1);
    const Strings after = Files({"Path", "Namecd"});
    EXPECT_EQ(std::count(after.begin(), after.end(), "h:\\|Album"), 3);
    EXPECT_EQ(after.size(), 6u);
}

TEST_F(AudioScanTest, UpdateOfADiscNamedByALongTitleKeepsItsName)
{
    // 60 characters of title; the disc takes the 50 its name may have.
    const std::string title = "The Complete Recordings of the Orchestra Volume Twelve: Live";
    ASSERT_EQ(title.size(), 60u);
    ScanWithTitles(title);
    const std::string disc = title.substr(0, 50);
    ASSERT_EQ(Discs({"CdName"}), Strings{disc});
    form->Browse.CurrentDisc = disc;
    Scan(1, [&](TNewRecordForm &w) { ExpectWriteTextWhole(w, disc); });
    EXPECT_EQ(Discs({"CdName"}), Strings{disc});
    EXPECT_EQ(Files({"Namecd"}), Strings(3, disc));
}

} // namespace
