// The catalogue commands against real catalogue files: listing, open from any
// folder, delete, backup switch, restore and the tree reset.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "app/DelArch.h"
#include "app/FileListView.h"
#include "app/NewD.h"
#include "app/CatalogTestSupport.h"
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
