// Two discs scanned from one folder, the second named with a number
// ("e: [data]1"), one of them put into a group: their nodes list and read
// their own folders, an update shows the updated disc's node, wherever it
// lies, with what the drive holds now, and Run and Copy act on the entry the
// lists show selected.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QThread>
#include <QTreeWidget>

#include "platform/ShellOpen.h"

#include "app/scan/newcd.h"
#include "ui_MainForm.h"
#include "widgets/PictDriveBox.h"

#include "app/ArchiveTestSupport.h"

namespace fs = std::filesystem;
using namespace scantest;

namespace {

class TwinDiscsTest : public FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        EmptyMusicCatalog();
        dir.write("disc/old_file.txt", "old");
        dir.write("disc/docs/readme.txt", "read me");
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(
            std::vector<VolumeInfo>{Folder('e', dir.file("disc"), "DATA", DRIVE_CDROM)}));
        form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
        form->ui->DriveComboBox1->SetDrive('e');
        // The same folder scanned twice: two discs, "e: [data]" and "e: [data]1".
        Scan(0);
        Scan(0);
    }
    void TearDown() override
    {
        SetShellOpenProgram(QString());
        FormTest::TearDown();
    }
    // Runs the wizard to its end: mode 0 scans a new disc, 1 updates the selected one.
    void Scan(int mode)
    {
        RunScanWizard(*form, mode);
    }
    QTreeWidgetItem *Node(const char *text) const
    {
        const auto found =
            form->ui->TreeView1->findItems(QString::fromUtf8(text), Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    void Enter(const std::string &name)
    {
        form->ui->LinksListView->SelectRow(ListRowOf(*form, name));
        form->LinksListViewDblClick();
    }
    void Click(const std::string &name)
    {
        ASSERT_GE(ListRowOf(*form, name), 0) << name;
        form->ui->LinksListView->SelectRow(ListRowOf(*form, name));
        form->LinksListViewClick();
    }
    void ClickNode(QTreeWidgetItem *node)
    {
        ASSERT_TRUE(node);
        form->ui->TreeView1->setCurrentItem(node);
        form->TreeView1Click();
    }
    // Run, and what it opened ("" when nothing) or said.
    std::string Run()
    {
        const std::string out = opener + ".out";
        fs::remove(out);
        const size_t asked = prompt.Asked().size();
        form->ui->RunButton->click();
        if (prompt.Asked().size() > asked)
            return "said: " + prompt.Asked().back().text.toStdString();
        for (int waited = 0; waited < 10000; waited += 20, QThread::msleep(20))
            if (const std::string opened = orbtest::readFile(out); !opened.empty())
                return fs::path(opened.substr(0, opened.size() - 1)).filename().string();
        return {};
    }
    // Copy, and the file name its save dialog offered (cancelled there) or what it said.
    std::string Copy()
    {
        std::string offered;
        TMainForm::RunModal = [&](QDialog &d) {
            if (auto *dialog = qobject_cast<QFileDialog *>(&d))
                offered = fs::path(dialog->selectedFiles().value(0).toStdString()).filename().string();
            return int(QDialog::Rejected);
        };
        const size_t asked = prompt.Asked().size();
        form->ui->CopyButton->click();
        TMainForm::RunModal = nullptr;
        return prompt.Asked().size() > asked ? "said: " + prompt.Asked().back().text.toStdString() : offered;
    }
    void RecordOpened()
    {
        opener = dir.write("opener.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.out\"\n");
        fs::permissions(opener, fs::perms::owner_all);
        SetShellOpenProgram(QString::fromStdString(opener));
    }
    // Puts the disc `disc` into a new group and keeps the tree.
    void Group(const char *disc)
    {
        QTreeWidget *tree = form->ui->TreeView1;
        QTreeWidgetItem *node = Node(disc);
        EXPECT_TRUE(node && !node->parent());
        QTreeWidgetItem *group = form->AddTreeNode(nullptr, QStringLiteral("Backups [2019]"), 0, 1, NodeKindGroup);
        group->addChild(tree->takeTopLevelItem(tree->indexOfTopLevelItem(node)));
        EXPECT_TRUE(form->SaveTree());
    }

    std::string opener;
};

} // namespace

TEST_F(TwinDiscsTest, NumberedDiscAndDiscInAGroupListAndReadTheirOwnFolders)
{
    // Open after its scan: its level was read like any disc's.
    QTreeWidgetItem *numbered = Node("e: [data]1");
    ASSERT_TRUE(numbered);
    ASSERT_EQ(numbered->childCount(), 1);
    EXPECT_EQ(numbered->child(0)->text(0).toStdString(), "docs");
    // Its node clicked again lists its top, as the drive alone.
    Enter("docs");
    OpenDisc(*form, "e: [data]1");
    EXPECT_EQ(form->Browse.CurrentPath + "|" + form->ui->ComboBox1->currentText().toStdString(), "e:\\|e:");
    EXPECT_EQ(ListNamesOf(*form), (std::vector<std::string>{"docs", "old_file.txt"}));
    // In a group whose name has brackets of its own, folder nodes still name their folder.
    Group("e: [data]1");
    OpenDisc(*form, "e: [data]");
    OpenDisc(*form, "e: [data]1");
    QTreeWidgetItem *docs = Node("e: [data]1")->child(0);
    form->ui->TreeView1->setCurrentItem(docs);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(ListNamesOf(*form), (std::vector<std::string>{"readme.txt"}));
    // A folder entered from the list selects its own node there.
    OpenDisc(*form, "e: [data]1");
    EXPECT_EQ(form->ui->TreeView1->currentItem(), Node("e: [data]1"));
    Enter("docs");
    EXPECT_EQ(form->ui->TreeView1->currentItem(), docs);
}

TEST_F(TwinDiscsTest, UpdateOfADiscInAGroupShowsThatDiscAsTheDriveHoldsItNow)
{
    Group("e: [data]1");
    OpenDisc(*form, "e: [data]1");
    ASSERT_EQ(ListNamesOf(*form), (std::vector<std::string>{"docs", "old_file.txt"}));
    fs::remove(dir.file("disc/old_file.txt"));
    dir.write("disc/new_file.txt", "new");
    Scan(1);
    QTreeWidgetItem *node = form->ui->TreeView1->currentItem();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->text(0).toStdString(), "e: [data]1");
    ASSERT_TRUE(node->parent());
    EXPECT_EQ(node->parent()->text(0).toStdString(), "Backups [2019]");
    EXPECT_TRUE(node->parent()->isExpanded()) << "the node is shown";
    EXPECT_EQ(form->Browse.LoadedDisc, "e: [data]1");
    EXPECT_EQ(ListNamesOf(*form), (std::vector<std::string>{"docs", "new_file.txt"}));
    EXPECT_EQ(StatusText(*form, 0), QStringLiteral(" e: [data]1 "));
    EXPECT_EQ(StatusText(*form, 2).toStdString(), " 3 " + langunit::LangString(54) + " - 3 mb");
    // The other disc keeps what it had.
    OpenDisc(*form, "e: [data]");
    EXPECT_EQ(ListNamesOf(*form), (std::vector<std::string>{"docs", "old_file.txt"}));
}

TEST_F(TwinDiscsTest, UpdateOfATopLevelDiscBesideAGroupShowsThatDisc)
{
    Group("e: [data]1");
    OpenDisc(*form, "e: [data]");
    dir.write("disc/added.txt", "added");
    Scan(1);
    QTreeWidgetItem *node = form->ui->TreeView1->currentItem();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->text(0).toStdString(), "e: [data]");
    EXPECT_FALSE(node->parent());
    EXPECT_EQ(ListNamesOf(*form), (std::vector<std::string>{"docs", "added.txt", "old_file.txt"}));
}

// Run and Copy act on what the lists show selected: a list that changed
// (another folder, another disc, the search closed) leaves the entry clicked
// before behind.
TEST_F(TwinDiscsTest, RunAndCopyActOnTheEntrySelectedInTheListShown)
{
    RecordOpened();
    const std::string none = "said: No file chosen";
    Click("old_file.txt");
    EXPECT_EQ(Run(), "old_file.txt");
    // A folder of the tree: the list shows other files, none selected.
    ClickNode(Node("e: [data]1")->child(0));
    ASSERT_EQ(ListNamesOf(*form), (std::vector<std::string>{"readme.txt"}));
    EXPECT_EQ(Run(), none);
    EXPECT_EQ(Copy(), none);
    // Selected without a click (keys, a refill that selects): that entry.
    form->ui->LinksListView->SelectRow(0);
    EXPECT_EQ(Run(), "readme.txt");
    // Another disc opened by its node.
    Click("readme.txt");
    OpenDisc(*form, "e: [data]");
    EXPECT_EQ(Run(), none);
    // A search result chosen, then the search closed: the file list's entry
    // selected on return, not the result that left with the search.
    Enter("docs");
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("old_file.txt"));
    form->ui->FilterButton->click();
    ASSERT_EQ(form->ui->SearchView->Model()->Rows().size(), 2u);
    EXPECT_EQ(Copy(), "old_file.txt");
    // While the search is shown, the entry clicked last of either list.
    Click("readme.txt");
    EXPECT_EQ(Copy(), "readme.txt");
    form->ui->SearchView->SelectRow(1);
    form->SearchViewClick();
    EXPECT_EQ(Copy(), "old_file.txt");
    form->ui->FindButton->click();
    ASSERT_TRUE(form->ui->LinksListView->SelectedRow());
    EXPECT_EQ(Copy(), "readme.txt");
    EXPECT_EQ(Run(), "readme.txt");
}
