// The catalogue commands against real catalogue files: listing, open from any
// folder, delete, backup switch, the tree reset, restoring from the ".~d"
// backups, and protected tables opened through the password prompt.
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>

#include "app/catalog/CatalogProblem.h"
#include "app/catalog/DelArch.h"
#include "app/browse/FileListView.h"
#include "app/catalog/NewD.h"
#include "app/CatalogTestSupport.h"
#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "ui_CatalogProblemForm.h"
#include "ui_DelArchForm.h"
#include "ui_MainForm.h"
#include "ui_NewDataForm.h"

using namespace cattest;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> TreeTexts(TMainForm &form)
{
    return Sorted(disctest::TopTexts(form.ui->TreeView1));
}

class CatalogCommandsTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
        MakeCatalog("Music", {"e: [ONE]", "e: [TWO]"});
    }
};

} // namespace

TEST_F(CatalogCommandsTest, ListsOnlyExactTableFilesOfTheDataFolder)
{
    MakeCatalog("Filmy", {"e: [F]"});
    dir.write("DiVovData/Music.~d", "backup");
    dir.write("DiVovData/Upper.D", "capital extension");
    dir.write("DiVovData/notes.txt", "x");
    dir.write("DiVovData/double.d.bak", "x");
    EXPECT_EQ(Sorted(TMainForm::CatalogNamesIn(data)), (std::vector<std::string>{"Filmy", "Music"}));

    TMainForm form(nullptr, data);
    QComboBox combo;
    combo.addItem(QStringLiteral("stale"));
    form.LoadArchivesToCombo(&combo);
    ASSERT_EQ(combo.count(), 2);
    EXPECT_NE(combo.findText(QStringLiteral("Filmy")), -1);
    EXPECT_EQ(combo.findText(QStringLiteral("stale")), -1);
}

TEST_F(CatalogCommandsTest, OpensACatalogueFromAnotherFolder)
{
    const std::string other = dir.file("elsewhere");
    MakeCatalogIn(other, "Photos", {"f: [PICS]", "f: [MORE]", "f: [LAST]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    form.ui->FindButton->setCheckable(true);
    form.ui->FindButton->setChecked(true);
    TFlatTable *before = form.FlatTable1.get();
    std::string chosen; // the dialog cancelled: nothing changes
    TMainForm::RunOpenDialog = [&](TMainForm &) { return chosen; };
    form.ui->OpenButton->click();
    EXPECT_EQ(form.FlatTable1.get(), before);
    chosen = other + "/Photos.d";
    form.ui->OpenMenu->trigger();
    EXPECT_EQ(form.CatalogName, "Photos");
    EXPECT_EQ(form.CatalogFolder, other);
    EXPECT_EQ(form.TreeFilePath, other + "/CdNames/Photos_cdname.dat");
    EXPECT_EQ(TreeTexts(form), (std::vector<std::string>{"f: [LAST]", "f: [MORE]", "f: [PICS]"}));
    EXPECT_FALSE(form.ui->FindButton->isChecked());
    EXPECT_TRUE(prompt.Asked().empty());
    // Nothing was made in the data folder; the bare name is remembered.
    EXPECT_FALSE(fs::exists(data + "/Photos.d"));
    form.close();
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[4], "Photos");
}

TEST_F(CatalogCommandsTest, DamagedCatalogueLeavesTheOpenOneAndNamesTheFile)
{
    const std::string other = dir.file("elsewhere");
    fs::create_directories(fs::path(other) / "CdNames");
    const std::string garbage = "this is no table file";
    dir.write("elsewhere/Broken.d", garbage);
    TMainForm form(nullptr, data);
    form.FormShow();
    TFlatTable *before = form.FlatTable1.get();
    const auto treeBefore = TreeTexts(form);

    EXPECT_FALSE(form.OpenCatalogFile(other + "/Broken.d"));
    ASSERT_EQ(prompt.Asked().size(), 1u);
    const PromptRequest &shown = prompt.Asked()[0];
    EXPECT_EQ(shown.caption, QStringLiteral("chyba"));
    EXPECT_TRUE(shown.text.contains(QString::fromStdString(other + "/Broken.d"))) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains(QStringLiteral("Error opening table"))) << shown.text.toStdString();
    // The old catalogue is open as it was; the damaged file is untouched and
    // no disc table was made beside it.
    EXPECT_EQ(form.FlatTable1.get(), before);
    EXPECT_EQ(form.CatalogName, "Music");
    EXPECT_EQ(TreeTexts(form), treeBefore);
    EXPECT_EQ(orbtest::readFile(other + "/Broken.d"), garbage);
    EXPECT_FALSE(fs::exists(other + "/CdNames/Broken_cdname.d"));
    // A folder without CdNames, and a file that is not a catalogue file by name.
    const std::string lonely = dir.file("lonely");
    MakeCatalogIn(lonely, "Solo", {"g: [S]"});
    fs::remove_all(fs::path(lonely) / "CdNames");
    EXPECT_FALSE(form.OpenCatalogFile(lonely + "/Solo.d"));
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_TRUE(prompt.Asked()[1].text.contains(QString::fromStdString(lonely + "/CdNames/Solo_cdname.d")));
    EXPECT_FALSE(fs::exists(fs::path(lonely) / "CdNames"));
    dir.write("DiVovData/readme.txt", "x");
    EXPECT_FALSE(form.OpenCatalogFile(data + "/readme.txt"));
    EXPECT_EQ(form.CatalogName, "Music");
}

TEST_F(CatalogCommandsTest, NewMenuCreatesAndOpensACatalogue)
{
    TMainForm form(nullptr, data);
    TMainForm::RunModal = [](QDialog &d) {
        auto *dialog = qobject_cast<TNewDataForm *>(&d);
        EXPECT_NE(dialog, nullptr);
        if (dialog) {
            dialog->ui->Edit1->setText(QStringLiteral("Fresh"));
            dialog->ui->OkButton->click();
        }
        return d.result();
    };
    form.ui->NewMenu->trigger();
    EXPECT_EQ(form.CatalogName, "Fresh");
    EXPECT_TRUE(fs::exists(data + "/Fresh.d"));
}

TEST_F(CatalogCommandsTest, DeleteDialogRefusesTheOpenCatalogueAndDeletesAnother)
{
    MakeCatalog("Old", {"e: [OLD]"});
    dir.write("DiVovData/Old.~d", "backup");
    dir.write("DiVovData/CdNames/Old_cdname.dat", "tree");
    TMainForm form(nullptr, data);
    form.ui->DelArchMenu->trigger();
    auto *dialog = form.findChild<TDelArchForm *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Delete archive"));
    QComboBox *combo = dialog->ui->ComboBox1;
    ASSERT_EQ(combo->count(), 2);

    // The open catalogue: only the message.
    combo->setCurrentIndex(combo->findText(QStringLiteral("Music")));
    EXPECT_EQ(dialog->ui->Label1->text(), QStringLiteral("Delete archive : Music"));
    dialog->ui->OkButton->click();
    EXPECT_EQ(TextsAsked(prompt), (std::vector<std::string>{"Archive: Music is just open now, it can't be deleted"}));
    EXPECT_TRUE(fs::exists(data + "/Music.d"));

    // Another one: asked, No keeps it, Yes deletes its two tables only.
    combo->setCurrentIndex(combo->findText(QStringLiteral("Old")));
    prompt.Answer(PromptResult::No);
    dialog->ui->OkButton->click();
    EXPECT_TRUE(fs::exists(data + "/Old.d"));
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].text, QStringLiteral("Want to remove archive  : Old"));
    EXPECT_EQ(prompt.Asked()[1].defaultButton, PromptResult::No);
    prompt.Answer(PromptResult::Yes);
    dialog->ui->OkButton->click();
    EXPECT_FALSE(fs::exists(data + "/Old.d"));
    EXPECT_FALSE(fs::exists(data + "/CdNames/Old_cdname.d"));
    EXPECT_TRUE(fs::exists(data + "/Old.~d"));
    EXPECT_TRUE(fs::exists(data + "/CdNames/Old_cdname.dat"));
    // The dialog stays open with the list refilled.
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("Music"));
    dialog->ui->CancelButton->click();
}

TEST_F(CatalogCommandsTest, DeleteRefusesNamesOutsideTheDataFolder)
{
    // A catalogue beside the data folder that a crafted name would reach.
    MakeCatalogIn(dir.str(), "victim", {"e: [V]"});
    TMainForm form(nullptr, data);
    for (const char *name : {"../victim", "..", ".", "", "sub/victim", "a\\b"}) {
        prompt.Answer(PromptResult::Ok);
        EXPECT_FALSE(form.DeleteCatalog(name)) << name;
    }
    EXPECT_TRUE(fs::exists(dir.file("victim.d")));
    // No question about deleting was ever asked.
    for (const PromptRequest &r : prompt.Asked())
        EXPECT_NE(r.buttons, PromptButtons::YesNo);
}

// Deleting removes both tables or neither: one that cannot be removed keeps
// the other too, and the user is told.
TEST_F(CatalogCommandsTest, DeleteThatCannotRemoveATableKeepsBoth)
{
    MakeCatalog("Old", {"e: [OLD]"});
    const auto before = disctest::Snapshot(data);
    TMainForm form(nullptr, data);
    {
        disctest::TObeyPermissions obey;
        disctest::TReadOnlyFolder locked(data); // the file table cannot go; the disc table could
        prompt.Answer(PromptResult::Yes);
        EXPECT_FALSE(form.DeleteCatalog("Old"));
    }
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].icon, PromptIcon::Error);
    EXPECT_TRUE(prompt.Asked()[1].text.startsWith(QStringLiteral("Could not delete:")))
        << prompt.Asked()[1].text.toStdString();
    EXPECT_EQ(disctest::Snapshot(data), before);
    // Writable again, both go; a table already gone is no failure.
    fs::remove(data + "/Old.d");
    prompt.Answer(PromptResult::Yes);
    EXPECT_TRUE(form.DeleteCatalog("Old"));
    EXPECT_FALSE(fs::exists(data + "/CdNames/Old_cdname.d"));
    EXPECT_EQ(prompt.Asked().size(), 3u);
}

TEST_F(CatalogCommandsTest, BackupSwitchFollowsTheCheckMarkAndIsSaved)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    EXPECT_TRUE(form.ui->BackupCreateMenu->isChecked());
    form.ui->BackupCreateMenu->trigger();
    EXPECT_FALSE(form.ui->BackupCreateMenu->isChecked());
    EXPECT_EQ(form.Settings[13], 0);
    // Tables opened from now on keep no backup.
    std::string error;
    ASSERT_TRUE(form.OpenCatalog(data, "NoBackups", &error)) << error;
    form.FlatTable1->Append();
    form.FlatTable1->FieldByName("Name").SetAsString("x");
    form.FlatTable1->Post();
    form.FlatTable1->SaveToFile(data + "/NoBackups.d");
    EXPECT_FALSE(fs::exists(data + "/NoBackups.~d"));
    form.close();
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s[13], 0);
}

TEST_F(CatalogCommandsTest, TreeResetDeletesTheTreeFileOnYesOnly)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_TRUE(form.SaveTree());
    ASSERT_TRUE(fs::exists(form.TreeFilePath));
    prompt.Answer(PromptResult::No);
    form.ui->RecoverTreeSetupMenu->trigger();
    EXPECT_TRUE(fs::exists(form.TreeFilePath));
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverTreeSetupMenu->trigger();
    EXPECT_FALSE(fs::exists(form.TreeFilePath));
    EXPECT_EQ(TreeTexts(form), (std::vector<std::string>{"e: [ONE]", "e: [TWO]"}));
    EXPECT_EQ(prompt.Asked().size(), 2u);
}

TEST_F(CatalogCommandsTest, OpeningAnEmptyCatalogueEmptiesTheViews)
{
    MakeCatalog("Empty", {});
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_GT(form.ui->LinksListView->Count(), 0);
    ASSERT_TRUE(form.WorkTable);
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Empty.d"));
    EXPECT_EQ(form.ui->LinksListView->Count(), 0);
    EXPECT_EQ(form.ui->TreeView1->topLevelItemCount(), 0);
    // Nothing of the old catalogue's disc is left to act on.
    EXPECT_FALSE(form.WorkTable);
    EXPECT_TRUE(form.Browse.LoadedDisc.empty());
}

// A tree that begins with a group opens no disc: whatever disc was shown before (of the catalogue
// left, or of the same one before its views are shown again, as Restore settings and a restore
// from the backups do) leaves nothing in the status bar, the panels, the path box or the history.
TEST_F(CatalogCommandsTest, ATreeBeginningWithAGroupShowsNoDiscUntilOneIsOpened)
{
    MakeCatalog("Grouped", {"f: [GAMMA]"});
    const std::vector<TTreeRecord> grouped = {{0, "Games", 2, 2, NodeKindGroup},
                                              {1, "f: [GAMMA]", 0, 1, NodeKindDisc}};
    ASSERT_TRUE(WriteTreeFile(data + "/CdNames/Grouped_cdname.dat", grouped));
    TMainForm form(nullptr, data);
    form.FormShow();
    auto status = [&form](int panel) { return form.ui->StatusBar1->Panel(panel).Text.trimmed(); };
    auto expectNoDisc = [&](const char *when) {
        SCOPED_TRACE(when);
        ASSERT_TRUE(form.ui->TreeView1->currentItem());
        EXPECT_EQ(form.ui->TreeView1->currentItem()->text(0), QStringLiteral("Games"));
        for (int panel = 0; panel < 3; ++panel)
            EXPECT_TRUE(status(panel).isEmpty()) << panel << ": " << status(panel).toStdString();
        EXPECT_TRUE(form.ui->StaticText2->text().trimmed().isEmpty());
        EXPECT_TRUE(form.ui->StaticText3->text().trimmed().isEmpty());
        EXPECT_TRUE(form.ui->ComboBox1->currentText().isEmpty());
        EXPECT_FALSE(form.ui->BackButton->isEnabled());
        EXPECT_EQ(form.ui->LinksListView->Count(), 0);
        EXPECT_FALSE(form.WorkTable);
        EXPECT_TRUE(form.Browse.LoadedDisc.empty());
    };
    ASSERT_NE(status(0).indexOf(QStringLiteral("e: [ONE]")), -1);
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Grouped.d"));
    expectNoDisc("another catalogue opened");

    // Its disc opens from its node as ever; showing the views again goes back to the group.
    ASSERT_GE(form.SelectTreeNodeByText("f: [GAMMA]"), 0);
    form.TreeView1Click();
    EXPECT_GT(form.ui->LinksListView->Count(), 0);
    EXPECT_NE(status(0).indexOf(QStringLiteral("f: [GAMMA]")), -1);
    form.FormShow();
    expectNoDisc("the views shown again");
}

namespace {

class BackupRestoreTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
    }
    // Catalogue `name` whose backups hold `old` discs and whose tables hold `now`.
    void MakeWithBackups(const std::string &name, const std::vector<std::string> &old,
                         const std::vector<std::string> &now)
    {
        MakeCatalog(name, old);
        fs::copy_file(data + "/" + name + ".d", data + "/" + name + ".~d");
        fs::copy_file(data + "/CdNames/" + name + "_cdname.d", data + "/CdNames/" + name + "_cdname.~d");
        MakeCatalog(name, now);
    }
    void ChooseForRestore(const std::string &file)
    {
        TMainForm::RunOpenDialog = [file](TMainForm &) { return file; };
    }
    std::vector<std::string> DiscsOnDisk(const std::string &name)
    {
        return disctest::TCatalogOnDisk::Read(data, name).discNames;
    }
    static std::vector<std::string> TreeTexts(TMainForm &form) { return disctest::TopTexts(form.ui->TreeView1); }
};

} // namespace

TEST_F(BackupRestoreTest, RestoresTheOpenCatalogueAndReopensIt)
{
    // The backups hold one disc, or none: the views are emptied then.
    for (const std::vector<std::string> &old : {std::vector<std::string>{"e: [OLD]"}, std::vector<std::string>{}}) {
        SCOPED_TRACE(old.size());
        MakeWithBackups("Music", old, {"e: [NEW1]", "e: [NEW2]"});
        TMainForm form(nullptr, data);
        form.FormShow();
        ASSERT_EQ(TreeTexts(form).size(), 2u);
        ASSERT_GT(form.ui->LinksListView->Count(), 0);
        const auto before = FilesOf(data);
        const size_t asked = prompt.Asked().size();
        const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
        fs::permissions(data + "/Music.d", perms);
        prompt.Answer(PromptResult::Yes);
        ChooseForRestore(data + "/Music.d");
        form.ui->RecoverDatabaseMenu->trigger();
        // The restored table keeps the permissions the table had.
        EXPECT_EQ(fs::status(data + "/Music.d").permissions(), perms);
        ASSERT_EQ(prompt.Asked().size(), asked + 1) << prompt.Asked().back().text.toStdString();
        EXPECT_EQ(prompt.Asked().back().defaultButton, PromptResult::No);
        EXPECT_EQ(DiscsOnDisk("Music"), old);
        // The window shows the restored catalogue.
        EXPECT_EQ(form.FileRecordCount(), int(old.size()));
        EXPECT_EQ(TreeTexts(form), old);
        EXPECT_EQ(form.ui->LinksListView->Count() > 0, !old.empty());
        // The backups stay for another restore; no temporary file is left.
        EXPECT_EQ(FilesOf(data), before);
        EXPECT_EQ(FilesOf(data + "/CdNames"), (std::vector<std::string>{"Music_cdname.d", "Music_cdname.~d"}));
        fs::remove(data + "/Music.~d");
        fs::remove(data + "/CdNames/Music_cdname.~d");
    }
}

TEST_F(BackupRestoreTest, NoAnswerCancelledDialogOrNoBackupRestoresNothing)
{
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW]"});
    TMainForm form(nullptr, data);
    bool asked = false;
    TMainForm::RunOpenDialog = [&](TMainForm &) {
        asked = true;
        return std::string();
    };
    prompt.Answer(PromptResult::No);
    form.ui->RecoverDatabaseMenu->trigger();
    EXPECT_FALSE(asked);
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverDatabaseMenu->trigger();
    EXPECT_TRUE(asked);
    EXPECT_EQ(DiscsOnDisk("Music"), (std::vector<std::string>{"e: [NEW]"}));
    // Right after creation there is no backup.
    std::string error;
    ASSERT_TRUE(form.OpenCatalog(data, "Brand", &error)) << error;
    prompt.Answer(PromptResult::Yes);
    ChooseForRestore(data + "/Brand.d");
    form.ui->RecoverDatabaseMenu->trigger();
    ASSERT_EQ(prompt.Asked().size(), 4u) << prompt.Asked().back().text.toStdString();
    EXPECT_EQ(prompt.Asked()[3].text, QStringLiteral("I am don't find backup file "));
    EXPECT_TRUE(fs::exists(data + "/Brand.d"));
    EXPECT_TRUE(form.HasCatalog());
}

TEST_F(BackupRestoreTest, AnotherCatalogueChangesOnlyItsFiles)
{
    MakeCatalog("Music", {"e: [MINE]"});
    MakeWithBackups("Other", {"e: [O-OLD]"}, {"e: [O-NEW]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    TFlatTable *open = form.FlatTable1.get();
    prompt.Answer(PromptResult::Yes);
    // Chosen from another folder: the data folder's catalogue of that name is restored.
    ChooseForRestore(dir.file("somewhere/Other.d"));
    form.ui->RecoverDatabaseMenu->trigger();
    EXPECT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(DiscsOnDisk("Other"), (std::vector<std::string>{"e: [O-OLD]"}));
    EXPECT_EQ(form.FlatTable1.get(), open);
    EXPECT_EQ(form.CatalogName, "Music");
    EXPECT_EQ(TreeTexts(form), (std::vector<std::string>{"e: [MINE]"}));
    // Backups whose tables are gone are restored as well.
    fs::copy_file(data + "/Other.~d", data + "/Lost.~d");
    fs::copy_file(data + "/CdNames/Other_cdname.~d", data + "/CdNames/Lost_cdname.~d");
    std::string error;
    EXPECT_TRUE(form.RestoreCatalog("Lost", &error)) << error;
    EXPECT_EQ(DiscsOnDisk("Lost"), (std::vector<std::string>{"e: [O-OLD]"}));
}

TEST_F(BackupRestoreTest, MissingOrDamagedDiscTableBackupIsReportedAndChangesNothing)
{
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "damaged");
        MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW]"});
        if (missing)
            fs::remove(data + "/CdNames/Music_cdname.~d");
        else
            dir.write("DiVovData/CdNames/Music_cdname.~d", "damaged backup");
        const auto before = disctest::Snapshot(data);
        TMainForm form(nullptr, data);
        TFlatTable *open = form.FlatTable1.get();
        std::string error;
        EXPECT_FALSE(form.RestoreCatalog("Music", &error));
        EXPECT_NE(error.find("Music_cdname.~d"), std::string::npos) << error;
        EXPECT_EQ(disctest::Snapshot(data), before);
        EXPECT_EQ(form.FlatTable1.get(), open);
        // Through the menu the user is told.
        prompt.Answer(PromptResult::Yes);
        ChooseForRestore(data + "/Music.d");
        form.ui->RecoverDatabaseMenu->trigger();
        ASSERT_GE(prompt.Asked().size(), 2u);
        EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("Music_cdname.~d")));
        fs::remove_all(data);
        fs::create_directories(fs::path(data) / "CdNames");
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
    }
}

TEST_F(BackupRestoreTest, FailureMidwayPutsTheFirstTableBack)
{
    MakeCatalog("Music", {"e: [MINE]"});
    MakeWithBackups("Other", {"e: [O-OLD]"}, {"e: [O-NEW]"});
    // The disc table cannot be replaced: a non-empty folder stands in its place.
    const std::string discTable = data + "/CdNames/Other_cdname.d";
    fs::remove(discTable);
    fs::create_directories(discTable + "/blocker");
    const std::string fileTable = orbtest::readFile(data + "/Other.d");
    TMainForm form(nullptr, data);
    std::string error;
    EXPECT_FALSE(form.RestoreCatalog("Other", &error));
    EXPECT_NE(error.find("Other_cdname.d"), std::string::npos) << error;
    EXPECT_EQ(orbtest::readFile(data + "/Other.d"), fileTable);
    EXPECT_TRUE(fs::is_directory(discTable + "/blocker"));
    // No temporary copy is left behind.
    EXPECT_EQ(FilesOf(data + "/CdNames"),
              (std::vector<std::string>{"Music_cdname.d", "Other_cdname.d", "Other_cdname.~d"}));
    for (const std::string &f : FilesOf(data))
        EXPECT_EQ(f.find(".d."), std::string::npos) << f;
}

// Once both restored tables are on the disk beside the old ones and the journal
// names them, the restore is made: a rename that fails after that point is not
// undone half way (which could leave one table restored and one not) but done
// when the catalogue opens next.
TEST_F(BackupRestoreTest, RenameFailingAfterTheCommitIsCompletedAtTheNextOpen)
{
    MakeCatalog("Music", {"e: [MINE]"});
    MakeWithBackups("Other", {"e: [O-OLD]"}, {"e: [O-NEW]"});
    const std::string fileTable = data + "/Other.d", discTable = data + "/CdNames/Other_cdname.d";
    const std::string damaged = orbtest::readFile(fileTable).substr(0, 40);
    dir.write("DiVovData/Other.d", damaged);
    // The file table's backup goes in, the disc table's rename fails.
    SetRenameFaultHook([](const std::string &, const std::string &to) {
        return fs::path(to).filename() == "Other_cdname.d" ? EIO : 0;
    });
    TMainForm form(nullptr, data);
    std::string error;
    EXPECT_FALSE(form.RestoreCatalog("Other", &error));
    SetRenameFaultHook(nullptr);
    EXPECT_NE(error.find(discTable), std::string::npos) << error;
    EXPECT_NE(error.find("opened next"), std::string::npos) << error;
    EXPECT_EQ(orbtest::readFile(fileTable + ".damaged"), damaged) << "the only copy of the damaged table stays";
    EXPECT_TRUE(fs::exists(data + "/" + std::string(CommitJournalName)));
    // The next open puts the disc table's restored copy in place before reading.
    ASSERT_TRUE(form.OpenCatalog(data, "Other", &error)) << error;
    EXPECT_EQ(orbtest::readFile(fileTable), orbtest::readFile(data + "/Other.~d"));
    EXPECT_EQ(orbtest::readFile(discTable), orbtest::readFile(data + "/CdNames/Other_cdname.~d"));
    EXPECT_EQ(DiscsOnDisk("Other"), (std::vector<std::string>{"e: [O-OLD]"}));
    for (const std::string &folder : {data, data + "/CdNames"})
        for (const std::string &f : FilesOf(folder))
            EXPECT_EQ(f.find("orbalist-"), std::string::npos) << f;
}

TEST_F(BackupRestoreTest, OpenCatalogueWhoseRestoreIsUnfinishedIsNotKeptInMemoryAsBefore)
{
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW1]", "e: [NEW2]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(TreeTexts(form).size(), 2u);
    // The disc table's rename fails once, after the commit is made.
    static int failures;
    failures = 0;
    SetRenameFaultHook([](const std::string &, const std::string &to) {
        return fs::path(to).filename() == "Music_cdname.d" && failures++ == 0 ? EIO : 0;
    });
    std::string error;
    EXPECT_FALSE(form.RestoreCatalog("Music", &error));
    SetRenameFaultHook(nullptr);
    EXPECT_NE(error.find("opened next"), std::string::npos) << error;
    // The window holds the restored catalogue, so no later save writes the one before it.
    EXPECT_EQ(form.FileRecordCount(), 1);
    EXPECT_EQ(TreeTexts(form), std::vector<std::string>{"e: [OLD]"});
    EXPECT_EQ(DiscsOnDisk("Music"), std::vector<std::string>{"e: [OLD]"});
}

TEST_F(BackupRestoreTest, DamagedOpenCatalogueIsKeptAsideAndReopenedWritable)
{
    MakeCatalog("Other", {"e: [X]"});
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW]"});
    const std::string good = orbtest::readFile(data + "/Music.d");
    const std::string damaged = good.substr(0, good.size() - 5);
    dir.write("DiVovData/Music.d", damaged);
    WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Other\n");
    TMainForm form(nullptr, data);
    std::string error;
    ASSERT_TRUE(form.OpenCatalogReadOnly(data, "Music", &error)) << error;
    ASSERT_TRUE(form.ReadOnlyCatalog);
    prompt.Answer(PromptResult::Ok);

    // The tree file of a read-only catalogue stays.
    dir.write("DiVovData/CdNames/Music_cdname.dat", "tree");
    const size_t asked = prompt.Asked().size();
    form.ui->RecoverTreeSetupMenu->trigger();
    EXPECT_TRUE(fs::exists(data + "/CdNames/Music_cdname.dat"));
    EXPECT_EQ(prompt.Asked().size(), asked + 1); // the read-only notice, no question

    std::vector<std::string> kept;
    ASSERT_TRUE(form.RestoreCatalog("Music", &error, &kept)) << error;
    EXPECT_EQ(kept, (std::vector<std::string>{data + "/Music.d.damaged"}));
    EXPECT_EQ(orbtest::readFile(data + "/Music.d.damaged"), damaged);
    EXPECT_EQ(DiscsOnDisk("Music"), (std::vector<std::string>{"e: [OLD]"}));
    EXPECT_FALSE(form.ReadOnlyCatalog);
    EXPECT_EQ(form.CatalogName, "Music");
    // A readable table is replaced without a copy kept.
    EXPECT_FALSE(fs::exists(data + "/CdNames/Music_cdname.d.damaged"));
}

namespace {

class TablePasswordTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
        MakeCatalog("Music", {"e: [PLAIN]"});
        MakeCatalogIn(data, "Secret", {"e: [HIDDEN]"}, kPassword);
        // The engine remembers passwords for the run: start without this one.
        FlatSession().RemovePassword(kPassword);
        secretBytes = orbtest::readFile(data + "/Secret.d");
    }
    void TearDown() override
    {
        FlatSession().RemovePassword(kPassword);
        CatalogTest::TearDown();
    }
    static constexpr const char *kPassword = "Tajne-Heslo";
    std::string secretBytes;
};

} // namespace

TEST_F(TablePasswordTest, RightAnswerOpensTheTable)
{
    TMainForm form(nullptr, data);
    prompt.AnswerPassword(QStringLiteral("wrong"));
    prompt.AnswerPassword(QString::fromLatin1(kPassword));
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Secret.d"));
    EXPECT_EQ(form.CatalogName, "Secret");
    EXPECT_EQ(form.FileRecordCount(), 1);
    ASSERT_EQ(prompt.PasswordsAsked().size(), 2u);
    EXPECT_EQ(prompt.PasswordsAsked()[0].caption, QStringLiteral("Login password"));
    EXPECT_EQ(prompt.PasswordsAsked()[0].label, QStringLiteral("Enter password:"));
    // One wrong try: the notice once, with the program's title.
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QStringLiteral("Password is invalid. Try again"));
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Warning);
    // Known from now on: a second opening asks nothing.
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Music.d"));
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Secret.d"));
    EXPECT_EQ(prompt.PasswordsAsked().size(), 2u);
}

TEST_F(TablePasswordTest, ThreeWrongAnswersOrACancelLeaveTheTableClosedAndUntouched)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    TFlatTable *open = form.FlatTable1.get();
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "three wrong");
        const size_t asked = prompt.Asked().size(), passwords = prompt.PasswordsAsked().size();
        if (cancel)
            prompt.AnswerPassword(std::nullopt);
        for (int i = 0; i < 3 && !cancel; ++i)
            prompt.AnswerPassword(QStringLiteral("wrong %1").arg(i));
        EXPECT_FALSE(form.OpenCatalogFile(data + "/Secret.d"));
        EXPECT_EQ(prompt.PasswordsAsked().size() - passwords, cancel ? 1u : 3u);
        // "Try again" after the first two tries only (none when cancelled), then the failure names the file.
        const auto texts = TextsAsked(prompt);
        ASSERT_EQ(texts.size() - asked, cancel ? 1u : 3u);
        for (size_t i = asked; i + 1 < texts.size(); ++i)
            EXPECT_EQ(texts[i], "Password is invalid. Try again");
        EXPECT_NE(texts.back().find(data + "/Secret.d"), std::string::npos) << texts.back();
        EXPECT_NE(texts.back().find(SInvalidPassword), std::string::npos) << texts.back();
        EXPECT_EQ(form.FlatTable1.get(), open);
        EXPECT_EQ(form.CatalogName, "Music");
        EXPECT_EQ(orbtest::readFile(data + "/Secret.d"), secretBytes);
    }
}

TEST_F(TablePasswordTest, ProtectedCatalogueAtStartIsNeverReplaced)
{
    WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Secret\n");
    std::string problem;
    TMainForm::RunModal = [&](QDialog &d) {
        if (auto *p = qobject_cast<TCatalogProblemForm *>(&d)) {
            problem = p->ui->Label1->text().toStdString();
            p->reject(); // leave the program
        }
        return d.result();
    };
    {
        // Nobody answers the password prompt: it counts as cancelled.
        TMainForm form(nullptr, data);
        EXPECT_GE(prompt.PasswordsAsked().size(), 1u);
        EXPECT_NE(problem.find(SInvalidPassword), std::string::npos) << problem;
        EXPECT_TRUE(form.StartCancelled);
    }
    EXPECT_EQ(orbtest::readFile(data + "/Secret.d"), secretBytes);
    EXPECT_TRUE(fs::exists(data + "/CdNames/Secret_cdname.d"));
}

// New, Open, Recover from backup and Restore tree settings put a window the user had resized
// back to the size stored in cat.ini. The stored size applies at start (and after Restore
// settings, which gives the default size).
TEST_F(BackupRestoreTest, CatalogueCommandsKeepTheSizeTheUserGaveTheWindow)
{
    WriteIni("[CatalogSettings]\nSetup1=0\nSetup8=700\nSetup9=500\nSetup14=0\nSetup20=1\nSetup_Text4=Music\n");
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW1]", "e: [NEW2]"});
    MakeCatalog("Other", {"e: [X]"});
    TMainForm form(nullptr, data);
    form.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(form.size(), QSize(700, 500)); // the stored size, at start
    const QSize user(1001, 677);
    form.resize(user);
    const auto expectUserSize = [&](const char *command) {
        QCoreApplication::processEvents();
        EXPECT_EQ(form.size(), user) << command;
    };
    TMainForm::RunModal = [](QDialog &d) {
        if (auto *dialog = qobject_cast<TNewDataForm *>(&d)) {
            dialog->ui->Edit1->setText(QStringLiteral("Fresh"));
            dialog->ui->OkButton->click();
        }
        return d.result();
    };
    form.ui->NewMenu->trigger();
    ASSERT_EQ(form.CatalogName, "Fresh");
    expectUserSize("New");
    ChooseForRestore(data + "/Other.d");
    form.ui->OpenMenu->trigger();
    ASSERT_EQ(form.CatalogName, "Other");
    expectUserSize("Open");
    ChooseForRestore(data + "/Music.d");
    form.ui->OpenMenu->trigger();
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverDatabaseMenu->trigger();
    ASSERT_EQ(DiscsOnDisk("Music"), std::vector<std::string>{"e: [OLD]"});
    expectUserSize("Recover from backup");
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverTreeSetupMenu->trigger();
    expectUserSize("Restore tree settings");
    // Restore settings restores the size too: the default one.
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverSetupMenu->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.size(), TMainForm::ClampWindowSize(742, 525, form.screen()->availableGeometry().size()));
    TMainForm::RunOpenDialog = nullptr;
}
