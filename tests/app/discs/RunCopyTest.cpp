// Opening and copying catalogued files from a folder bound to a drive letter:
// the serial check, the insert-disc retry, the save dialog and the overwrite
// question.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QThread>
#include <QToolButton>

#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "platform/ShellOpen.h"
#include "ui_MainForm.h"

#include "app/ArchiveTestSupport.h"
#include "app/DiscTestSupport.h"

using namespace disctest;

namespace {

const char kInsert[] = "Insert please  disk number [7] with name  e: [DATA]";

class RunCopyTest : public scantest::FormTest<ActingPrompt> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        drive = dir.file("drive");
        dir.write("drive/dir/file1.txt", "first file");
        dir.write("drive/dir/file2.txt", std::string(300000, 'x'));
        TCatalogBuilder b;
        b.Disc({"e: [DATA]", "7", "", "1234", 0, "", 3});
        b.Write(data, "Cat");
        Ini("Cat");
        Insert(1234);
        opener = dir.write("opener.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.out\"\n");
        fs::permissions(opener, fs::perms::owner_all);
        SetShellOpenProgram(QString::fromStdString(opener));
        form = Open();
    }
    void TearDown() override
    {
        FormTest::TearDown();
        TMainForm::CopyProgressThreshold = 8 * 1024 * 1024;
        SetShellOpenProgram(QString());
    }
    // A CD with this serial in drive e:, holding the folder `drive`; 0: no disc.
    void Insert(uint32_t serial)
    {
        VolumeInfo v = scantest::Folder('e', serial != 0 ? drive : std::string(), "DATA", DRIVE_CDROM);
        v.ready = serial != 0;
        v.serial = serial;
        v.fileSystem = "iso9660";
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{v}));
    }
    // Opens "dir" of the disc and clicks the file, as a user would.
    void ClickFile(const std::string &name)
    {
        TFileListView *list = form->ui->LinksListView;
        auto row = [&](const std::string &n) {
            const auto &rows = list->Model()->Rows();
            for (size_t i = 0; i < rows.size(); ++i)
                if (rows[i].Name == n)
                    return static_cast<int>(i);
            return -1;
        };
        if (row(name) < 0) {
            ASSERT_GE(row("dir"), 0);
            list->SelectRow(row("dir"));
            form->LinksListViewDblClick();
        }
        ASSERT_GE(row(name), 0);
        list->SelectRow(row(name));
        form->LinksListViewClick();
    }
    // What the opener was given, once it has run (empty if it never did);
    // its record is taken away for the next run.
    std::string Opened(int waitMs = 10000) const
    {
        for (int waited = 0; waited <= waitMs; waited += 20, QThread::msleep(20))
            if (const std::string out = orbtest::readFile(opener + ".out"); !out.empty()) {
                fs::remove(opener + ".out");
                return out;
            }
        return {};
    }
    // The save dialog answers with `target` (empty: Cancel).
    void SaveAs(const std::string &target)
    {
        TMainForm::RunModal = [this, target](QDialog &d) {
            auto *dialog = qobject_cast<QFileDialog *>(&d);
            EXPECT_NE(dialog, nullptr);
            if (!dialog || target.empty())
                return int(QDialog::Rejected);
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite)) << "the dialog offers no replacing";
            offered = dialog->selectedFiles().value(0).toStdString();
            dialog->selectFile(QString::fromStdString(target));
            return int(QDialog::Accepted);
        };
    }

    std::string drive, opener, offered;
};

TEST_F(RunCopyTest, RunAndDoubleClickOpenTheFileOfTheCatalogueDisc)
{
    ClickFile("file1.txt");
    EXPECT_EQ(form->RunTarget.Path, "e:\\dir\\file1.txt");
    form->ui->RunButton->click();
    EXPECT_EQ(Opened(), drive + "/dir/file1.txt\n");
    ClickFile("file2.txt");
    form->LinksListViewDblClick();
    EXPECT_EQ(Opened(), drive + "/dir/file2.txt\n");
    // A stored serial of 0 runs on any disc.
    ClickFile("file1.txt");
    form->Browse.SelectedSerial = "0";
    Insert(9999);
    form->ui->RunButton->click();
    EXPECT_EQ(Opened(), drive + "/dir/file1.txt\n");
    EXPECT_TRUE(prompt.Asked.empty());
}

TEST_F(RunCopyTest, AnotherDiscIsRefusedUntilTheRightOneIsInAndCancelRunsNothing)
{
    ClickFile("file1.txt");
    Insert(9999);
    // The wrong disc taken out, nothing in the drive yet; then the right one.
    prompt.Actions = {[this] { return Insert(0), PromptResult::Ok; }, [this] { return Insert(1234), PromptResult::Ok; }};
    form->ui->RunButton->click();
    ASSERT_EQ(prompt.Asked.size(), 2u);
    EXPECT_EQ(prompt.Asked[0].text.toStdString(), std::string(kInsert) + "  from the archive - Cat");
    EXPECT_EQ(prompt.Asked[0].buttons, PromptButtons::OkCancel);
    EXPECT_EQ(Opened(), drive + "/dir/file1.txt\n");
    Insert(0);
    prompt.Actions = {[] { return PromptResult::Cancel; }};
    prompt.Asked.clear();
    form->ui->RunMenu->trigger();
    EXPECT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(Opened(300), "");
}

TEST_F(RunCopyTest, CopyWritesTheChosenFileAndNeverReplacesOne)
{
    ClickFile("file1.txt");
    Insert(9999); // copying checks only that the file is there
    const std::string target = dir.file("desk/copy.txt");
    fs::create_directories(dir.file("desk"));
    SaveAs(target);
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(fs::path(offered).filename(), "file1.txt");
    EXPECT_EQ(orbtest::readFile(target), "first file");
    // The target exists now: it is left as it was, and the user is told so.
    ClickFile("file2.txt");
    TMainForm::CopyProgressThreshold = 1; // under the progress dialog this time
    for (QAction *command : {form->ui->CopyFyleMenu, form->ui->CopyFilePopupMenu}) {
        prompt.Asked.clear();
        command->trigger();
        ASSERT_EQ(prompt.Asked.size(), 1u);
        EXPECT_EQ(prompt.Asked[0].text.toStdString(), FileKeptText(target));
        EXPECT_EQ(prompt.Asked[0].buttons, PromptButtons::Ok);
        EXPECT_EQ(orbtest::readFile(target), "first file");
    }
    // A new name under the progress dialog copies the whole file.
    prompt.Asked.clear();
    SaveAs(dir.file("desk/big.txt"));
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(orbtest::readFile(dir.file("desk/big.txt")), std::string(300000, 'x'));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("desk")), fs::directory_iterator()), 2)
        << "nothing but the copies is left in the folder";
}

TEST_F(RunCopyTest, CancelledOrFailedCopiesLeaveNothing)
{
    ClickFile("file1.txt");
    fs::create_directories(dir.file("desk"));
    SaveAs("");
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    SaveAs(dir.file("desk/copy.txt"));
    {
        TObeyPermissions obey;
        TReadOnlyFolder locked(dir.file("desk"));
        form->ui->CopyButton->click();
    }
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0].icon, PromptIcon::Error);
    EXPECT_EQ(fs::directory_iterator(dir.file("desk")), fs::directory_iterator());
    // No disc: the insert-disc message, and no save dialog after Cancel.
    Insert(0);
    bool dialogShown = false;
    TMainForm::RunModal = [&](QDialog &) { return dialogShown = true, int(QDialog::Rejected); };
    prompt.Actions = {[] { return PromptResult::Ok; }, [] { return PromptResult::Cancel; }};
    form->ui->CopyButton->click();
    ASSERT_EQ(prompt.Asked.size(), 2u);
    EXPECT_EQ(prompt.Asked[1].text.toStdString(), kInsert);
    EXPECT_FALSE(dialogShown);
}

} // namespace

// No program on the desktop opens the file: the opener fails at once, and Run says so and why
// instead of doing nothing; so does the double-click on a search result.
TEST_F(RunCopyTest, AFileNoProgramOpensIsReportedWithItsReason)
{
    const std::string failing =
        dir.write("noprogram.sh", "#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
    fs::permissions(failing, fs::perms::owner_all);
    SetShellOpenProgram(QString::fromStdString(failing));
    ClickFile("file1.txt");
    form->ui->RunButton->click();
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_TRUE(prompt.Asked[0].text.startsWith(QStringLiteral("The file could not be opened.\n")))
        << prompt.Asked[0].text.toStdString();
    EXPECT_TRUE(prompt.Asked[0].text.contains(QStringLiteral("no method available for opening")));
    EXPECT_EQ(prompt.Asked[0].icon, PromptIcon::Error);
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("file2"));
    form->ui->FilterButton->click();
    ASSERT_EQ(form->ui->SearchView->Count(), 1);
    form->ui->SearchView->SelectRow(0);
    form->SearchViewDblClick();
    ASSERT_EQ(prompt.Asked.size(), 2u);
    EXPECT_TRUE(prompt.Asked[1].text.startsWith(QStringLiteral("The file could not be opened.")));
}

// A catalogue without discs: copy, run and properties work on nothing and say so, instead of
// offering the file last clicked in the catalogue open before.
TEST_F(RunCopyTest, CommandsOnTheSelectedFileInACatalogueWithoutDiscsSayNothingIsSelected)
{
    ClickFile("file1.txt");
    ASSERT_FALSE(form->RunTarget.Path.empty());
    TCatalogBuilder empty;
    empty.Write(data, "Empty");
    TMainForm::RunOpenDialog = [this](TMainForm &) { return data + "/Empty.d"; };
    form->ui->OpenButton->click();
    TMainForm::RunOpenDialog = nullptr;
    ASSERT_EQ(form->CatalogName, "Empty");
    bool dialogShown = false;
    TMainForm::RunModal = [&](QDialog &) { return dialogShown = true, int(QDialog::Rejected); };
    form->ui->CopyButton->click();
    form->ui->RunButton->click();
    form->ui->OpenPopup->trigger();
    form->ActiveControl = form->ui->LinksListView;
    form->ui->PropertiesButton->click();
    form->ActiveControl = form->ui->TreeView1;
    form->ui->PropertiesButton->click();
    EXPECT_FALSE(dialogShown);
    EXPECT_TRUE(Opened(300).empty());
    ASSERT_EQ(prompt.Asked.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(prompt.Asked[i].text, QStringLiteral("No file chosen")) << i;
    EXPECT_EQ(prompt.Asked[4].text, QStringLiteral("No disc is selected."));
}
