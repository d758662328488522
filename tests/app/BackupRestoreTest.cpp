// Restoring a catalogue from its ".~d" backups against real files: the open
// catalogue, another one, missing and damaged backups, a failure midway.
#include <QAction>
#include <QTreeWidget>

#include "app/FileListView.h"

#include "app/CatalogTestSupport.h"
#include "ui_MainForm.h"

using namespace cattest;

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
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW1]", "e: [NEW2]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(TreeTexts(form).size(), 2u);
    const auto before = FilesOf(data);
    fs::permissions(data + "/Music.d", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    prompt.Answer(PromptResult::Yes);
    ChooseForRestore(data + "/Music.d");
    form.ui->RecoverDatabaseMenu->trigger();
    // The restored table keeps the permissions the table had.
    EXPECT_EQ(fs::status(data + "/Music.d").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    ASSERT_EQ(prompt.Asked().size(), 1u) << prompt.Asked().back().text.toStdString();
    EXPECT_EQ(prompt.Asked()[0].defaultButton, PromptResult::No);
    EXPECT_EQ(DiscsOnDisk("Music"), (std::vector<std::string>{"e: [OLD]"}));
    // The window shows the restored catalogue.
    EXPECT_EQ(form.FileRecordCount(), 1);
    EXPECT_EQ(TreeTexts(form), (std::vector<std::string>{"e: [OLD]"}));
    // The backups stay for another restore; no temporary file is left.
    EXPECT_EQ(FilesOf(data), before);
    EXPECT_EQ(FilesOf(data + "/CdNames"),
              (std::vector<std::string>{"Music_cdname.d", "Music_cdname.~d"}));
}

TEST_F(BackupRestoreTest, NoAnswerOrCancelledDialogRestoresNothing)
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
}

TEST_F(BackupRestoreTest, RightAfterCreationThereIsNoBackup)
{
    MakeCatalog("Music", {"e: [MINE]"});
    TMainForm form(nullptr, data);
    std::string error;
    ASSERT_TRUE(form.OpenCatalog(data, "Brand", &error)) << error;
    prompt.Answer(PromptResult::Yes);
    ChooseForRestore(data + "/Brand.d");
    form.ui->RecoverDatabaseMenu->trigger();
    ASSERT_EQ(prompt.Asked().size(), 2u) << prompt.Asked().front().text.toStdString();
    EXPECT_EQ(prompt.Asked()[1].text, QStringLiteral("I am don't find backup file "));
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

TEST_F(BackupRestoreTest, RestoreWorksWhenTheTablesAreGone)
{
    MakeWithBackups("Music", {"e: [OLD]"}, {"e: [NEW]"});
    MakeCatalog("Other", {"e: [X]"});
    fs::copy_file(data + "/Music.~d", data + "/Lost.~d");
    fs::copy_file(data + "/CdNames/Music_cdname.~d", data + "/CdNames/Lost_cdname.~d");
    TMainForm form(nullptr, data);
    std::string error;
    EXPECT_TRUE(form.RestoreCatalog("Lost", &error)) << error;
    EXPECT_EQ(DiscsOnDisk("Lost"), (std::vector<std::string>{"e: [OLD]"}));
}

TEST_F(BackupRestoreTest, RestoringToAnEmptyCatalogueEmptiesTheViews)
{
    MakeWithBackups("Music", {}, {"e: [NEW]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(TreeTexts(form).size(), 1u);
    ASSERT_GT(form.ui->LinksListView->Count(), 0);
    prompt.Answer(PromptResult::Yes);
    ChooseForRestore(data + "/Music.d");
    form.ui->RecoverDatabaseMenu->trigger();
    EXPECT_EQ(form.FileRecordCount(), 0);
    EXPECT_TRUE(TreeTexts(form).empty());
    EXPECT_EQ(form.ui->LinksListView->Count(), 0);
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
