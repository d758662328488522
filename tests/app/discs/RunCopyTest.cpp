// Opening and copying catalogued files from a folder bound to a drive letter:
// the serial check, the insert-disc retry, the save dialog and the overwrite
// question.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <fcntl.h>
#include <sys/stat.h>

#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "platform/ShellOpen.h"
#include "ui_MainForm.h"
#include "util/TextCodec.h"

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

// Names that are not UTF-8 are shown decoded (as Windows-1250); copy and run reach the file by the
// bytes the disc holds, in a file name and in a folder name.
TEST_F(RunCopyTest, NamesThatAreNotUtf8AreCopiedAndRunFromTheirOwnBytes)
{
    const std::string bad = "bad\xff\xfeutf8.txt", folder = "caf\xe9";
    dir.write("drive/dir/" + bad, "not utf-8");
    dir.write("drive/" + folder + "/menu.txt", "menu");
    TCatalogBuilder b;
    b.Disc({"e: [DATA]", "7", "", "1234", 0, "", 3});
    for (const auto &[path, name, type] : {std::tuple{std::string("e:\\dir\\"), bad, 1},
                                           std::tuple{std::string("e:\\"), folder, 0},
                                           std::tuple{"e:\\" + folder + "\\", std::string("menu.txt"), 1}})
        AddRecord(b.files, {{"Path", path}, {"Name", name}, {"Namecd", "e: [DATA]"}, {"Number", "7"}, {"Size", "9"},
                            {"Attrib", type ? 0x20 : 0x10}, {"Type", type}, {"CdIdCode", "1234"}});
    b.Write(data, "Cat");
    form = Open();
    const std::string shown = DecodeStoredText(bad);
    ASSERT_NE(shown, bad);
    ClickFile(shown);
    EXPECT_EQ(form->RunTarget.Path, "e:\\dir\\" + shown);
    fs::create_directories(dir.file("desk"));
    SaveAs(dir.file("desk/copy.txt"));
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty()) << prompt.Asked[0].text.toStdString();
    EXPECT_EQ(orbtest::readFile(dir.file("desk/copy.txt")), "not utf-8");
    EXPECT_EQ(fs::path(offered).filename(), shown);
    // The opener gets the file's address, its bytes escaped.
    form->ui->RunButton->click();
    const QByteArray opened = QByteArray::fromStdString(Opened());
    EXPECT_TRUE(opened.startsWith("file://")) << opened.toStdString();
    EXPECT_EQ(QByteArray::fromPercentEncoding(opened.mid(7)).toStdString(), drive + "/dir/" + bad + "\n");
    // A file in a folder whose name is not UTF-8.
    form->UpButtonClick();
    TFileListView *list = form->ui->LinksListView;
    const auto &rows = list->Model()->Rows();
    const auto at = std::find_if(rows.begin(), rows.end(), [&](const TFileRow &r) { return r.Name == DecodeStoredText(folder); });
    ASSERT_NE(at, rows.end());
    list->SelectRow(int(at - rows.begin()));
    form->LinksListViewDblClick();
    ClickFile("menu.txt");
    SaveAs(dir.file("desk/menu.txt"));
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(orbtest::readFile(dir.file("desk/menu.txt")), "menu");
}

// A copy keeps the file's modification time and permission bits under the umask, as cp does;
// not the temporary file's owner-only bits and the time of copying.
TEST_F(RunCopyTest, CopyKeepsTheModificationTimeAndPermissionBitsAsCpDoes)
{
    fs::create_directories(dir.file("desk"));
    const std::string source = drive + "/dir/file1.txt";
    const struct timespec times[2] = {{915148800, 250000000}, {915235200, 123456789}}; // January 1999
    struct TUmaskBack {
        mode_t saved = ::umask(022);
        ~TUmaskBack() { ::umask(saved); }
    } umaskBack;
    for (const auto &[mode, mask] : {std::pair{0644, 022}, std::pair{0755, 022}, std::pair{0664, 027}}) {
        SCOPED_TRACE(mode);
        ::umask(mode_t(mask));
        ASSERT_EQ(::chmod(source.c_str(), mode_t(mode)), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        const std::string ours = dir.file("desk/ours" + std::to_string(mode)), cp = dir.file("desk/cp" + std::to_string(mode));
        ClickFile("file1.txt");
        SaveAs(ours);
        form->ui->CopyButton->click();
        ASSERT_TRUE(prompt.Asked.empty());
        ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("--preserve=timestamps"),
                                                          QString::fromStdString(source), QString::fromStdString(cp)}),
                  0);
        struct stat a, c;
        ASSERT_EQ(::stat(ours.c_str(), &a), 0);
        ASSERT_EQ(::stat(cp.c_str(), &c), 0);
        EXPECT_EQ(a.st_mode & 07777, mode_t(mode & ~mask));
        EXPECT_EQ(a.st_mode & 07777, c.st_mode & 07777);
        EXPECT_EQ(a.st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(a.st_mtim.tv_sec, c.st_mtim.tv_sec);
        EXPECT_EQ(a.st_mtim.tv_nsec, c.st_mtim.tv_nsec);
        EXPECT_EQ(orbtest::readFile(ours), "first file");
    }
}

// A file that appears under the target's name while a copy of several chunks runs is kept: the
// finished copy never replaces it, the user is told, and nothing else is left behind.
TEST_F(RunCopyTest, ATargetThatAppearsWhileALargeCopyRunsIsKept)
{
    dir.write("drive/dir/file2.txt", std::string(4 * 1024 * 1024 + 5, 'b'));
    fs::create_directories(dir.file("desk"));
    const std::string target = dir.file("desk/big.txt");
    ClickFile("file2.txt");
    TMainForm::CopyProgressThreshold = 1;
    SaveAs(target);
    bool written = false;
    // Runs while the progress dialog lets events through, between the chunks of the copy.
    QTimer::singleShot(0, [&] { written = !dir.write("desk/big.txt", "the user's own").empty(); });
    form->ui->CopyButton->click();
    EXPECT_TRUE(written) << "the target appeared before the copy ended";
    EXPECT_EQ(orbtest::readFile(target), "the user's own");
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0].text.toStdString(), FileKeptText(target));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("desk")), fs::directory_iterator()), 1);
}

// Something at the file's path that is no file (a pipe) is not read: the copy fails at once
// instead of waiting for a writer, and leaves nothing.
TEST_F(RunCopyTest, APipeAtTheFilesPathIsNotReadAndLeavesNothing)
{
    ClickFile("file1.txt");
    const std::string file = drive + "/dir/file1.txt";
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    fs::create_directories(dir.file("desk"));
    SaveAs(dir.file("desk/copy.txt"));
    form->ui->CopyButton->click();
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0].icon, PromptIcon::Error);
    EXPECT_EQ(fs::directory_iterator(dir.file("desk")), fs::directory_iterator());
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

// A search row of another disc than the one browsed: Run checks the serial of the row's
// disc (not that of the file or disc chosen before), and Copy copies the row's file.
TEST_F(RunCopyTest, RunAndCopyOfASearchRowCheckTheRowsDisc)
{
    dir.write("drive/dir/other.txt", "other disc");
    TCatalogBuilder b;
    b.Disc({"e: [DATA]", "7", "", "1234", 0, "", 3});
    b.Disc({"e: [OTHER]", "8", "", "5678", 0, "", 0});
    AddRecord(b.files, {{"Path", "e:\\dir\\"}, {"Name", "other.txt"}, {"Namecd", "e: [OTHER]"}, {"Number", "8"},
                        {"Size", "10"}, {"Attrib", 0x20}, {"Type", 1}, {"CdIdCode", "5678"}});
    b.Write(data, "Cat");
    form = Open();
    ClickFile("file1.txt");
    ASSERT_EQ(form->Browse.SelectedSerial, "1234");
    Insert(5678);
    // The search selects and chooses its first row.
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("other"));
    form->ui->FilterButton->click();
    ASSERT_EQ(form->ui->SearchView->Count(), 1);
    form->ui->RunButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(Opened(), drive + "/dir/other.txt\n");
    // With the browsed disc in the drive the row's disc is asked for.
    Insert(1234);
    form->ui->RunButton->click();
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0].text.toStdString(), "Insert please  disk number [8] with name  e: [OTHER]  from the archive - Cat");
    EXPECT_EQ(Opened(300), "");
    // Another disc clicked in the tree leaves the row chosen, and it is the row's disc that
    // counts, and the row's catalogue that is named.
    ASSERT_GE(form->SelectTreeNodeByText("e: [DATA]"), 0);
    form->TreeView1Click();
    ASSERT_EQ(form->ui->SearchView->Count(), 1);
    prompt.Asked.clear();
    form->ui->RunButton->click();
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_EQ(prompt.Asked[0].text.toStdString(), "Insert please  disk number [8] with name  e: [OTHER]  from the archive - Cat");
    Insert(5678);
    prompt.Asked.clear();
    form->ui->RunButton->click();
    EXPECT_TRUE(prompt.Asked.empty()) << (prompt.Asked.empty() ? "" : prompt.Asked[0].text.toStdString());
    EXPECT_EQ(Opened(), drive + "/dir/other.txt\n");
    // Copy takes the row's file, and Run after it still checks the row's disc.
    fs::create_directories(dir.file("desk"));
    SaveAs(dir.file("desk/copy.txt"));
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(orbtest::readFile(dir.file("desk/copy.txt")), "other disc");
    form->ui->RunButton->click();
    EXPECT_TRUE(prompt.Asked.empty());
    EXPECT_EQ(Opened(), drive + "/dir/other.txt\n");
    // A row reached by the arrow keys (which choose nothing) and run by Enter is run from its disc.
    form->ui->Edit1->setText(QStringLiteral("txt"));
    form->ui->FilterButton->click();
    const auto &rows = form->ui->SearchView->Model()->Rows();
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(rows[0].CdIdCode, "1234"); // chosen by the search
    ASSERT_EQ(rows[2].Name, "other.txt");
    form->ui->SearchView->SelectRow(2);
    form->ui->SearchView->ReportView()->setFocus();
    SendKey(form->ui->SearchView->ReportView(), Qt::Key_Return, true, false);
    EXPECT_TRUE(prompt.Asked.empty()) << (prompt.Asked.empty() ? "" : prompt.Asked[0].text.toStdString());
    EXPECT_EQ(Opened(), drive + "/dir/other.txt\n");
}

// A file reached through a symbolic link on the disc is copied as the file it names.
TEST_F(RunCopyTest, AFileThatIsASymbolicLinkIsCopied)
{
    ClickFile("file1.txt");
    const std::string file = drive + "/dir/file1.txt";
    fs::rename(file, drive + "/real.txt");
    fs::create_symlink("../real.txt", file);
    fs::create_directories(dir.file("desk"));
    SaveAs(dir.file("desk/copy.txt"));
    form->ui->CopyButton->click();
    EXPECT_TRUE(prompt.Asked.empty()) << (prompt.Asked.empty() ? "" : prompt.Asked[0].text.toStdString());
    EXPECT_EQ(orbtest::readFile(dir.file("desk/copy.txt")), "first file");
    EXPECT_FALSE(fs::is_symlink(dir.file("desk/copy.txt")));
}
