// Browsing a catalogue in the main window: tree clicks, the work table, the
// file list, the path box, Up and the history, notes and the information
// panel. The catalogue is written as a scan writes it, from a real temporary
// folder tree.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QScrollArea>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <map>

#include "app/BrowseText.h"
#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/ExeIcon.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "util/PeTestImage.h"
#include "widgets/StatusBarCont.h"

#include "MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TDisc {
    std::string name, number, note, size, serial;
    int kind = 0;
};

class BrowseFormTest : public MainFormTablesTest {
protected:
    void AddRecord(const std::string &disc, const std::string &path, const std::string &name, int type,
                   const std::string &size = "0", const std::string &note = "", int ftype = 0,
                   const std::string &loadName = "")
    {
        files.Append();
        files.FieldByName("Path").SetAsString(path);
        files.FieldByName("Name").SetAsString(name);
        files.FieldByName("Namecd").SetAsString(disc);
        files.FieldByName("Number").SetAsString(numbers[disc]);
        files.FieldByName("Size").SetAsString(size);
        files.FieldByName("Attrib").SetAsInteger(type == 0 ? 0x10 : 0x20);
        files.FieldByName("Type").SetAsInteger(type);
        files.FieldByName("Note").SetAsString(note);
        files.FieldByName("FType").SetAsInteger(ftype);
        files.FieldByName("LoadName").SetAsString(loadName);
        files.FieldByName("CreateDate").SetAsString("01.02.2003");
        files.Post();
    }

    void AddDisc(const TDisc &d)
    {
        numbers[d.name] = d.number;
        discs.Append();
        discs.FieldByName("CdName").SetAsString(d.name);
        discs.FieldByName("Number").SetAsString(d.number);
        discs.FieldByName("CdNote").SetAsString(d.note);
        discs.FieldByName("CdSize").SetAsString(d.size);
        discs.FieldByName("CdIdCode").SetAsString(d.serial);
        discs.FieldByName("CType").SetAsInteger(d.kind);
        discs.Post();
    }

    // Records of a real folder tree under the drive letter, as a scan writes
    // them: one per folder and file, paths drive-based with a trailing "\".
    void ScanTree(const std::string &disc, const fs::path &root, const std::string &drive)
    {
        WalkScannedTree(root, drive, [&](const std::string &folder, const fs::path &p) {
            const bool isDir = fs::is_directory(p);
            AddRecord(disc, folder, p.filename().string(), isDir ? 0 : 1,
                      isDir ? "0" : std::to_string(fs::file_size(p)), notes[p.filename().string()]);
        });
    }

    void Save(const std::string &ini = "")
    {
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        // The information panel is hidden unless `ini` says otherwise.
        const std::string panel = ini.find("Setup16=") == std::string::npos ? "Setup16=0\n" : "";
        dir.write("DiVovData/cat.ini",
                  "[CatalogSettings]\nSetup1=0\nSetup12=1\n" + panel + "Setup20=1\nSetup_Text4=Cat\n" + ini);
    }

    // The standard catalogue: a scanned tree on "e: [DATA]", a disc whose name
    // begins with the same text, and an audio disc.
    void MakeStandardCatalog(const std::string &ini = "")
    {
        // "e: [DATA]1" stands first, so a prefix match would find it.
        AddDisc({"e: [DATA]1", "12", "Other disc", "1 mb", "4321", 0});
        AddDisc({"e: [DATA]", "7", "Backup disc", "3 mb", "", 3});
        AddDisc({"f: [MUSIC]", "3", "", "40 mb", "", 2});
        const fs::path root = dir.path() / "drive";
        fs::create_directories(root / "docs" / "old");
        dir.write("drive/readme.txt", std::string(1536, 'r'));
        dir.write("drive/Zebra.txt", "z");
        dir.write("drive/docs/report.txt", "report");
        dir.write("drive/docs/old/x.txt", "x");
        dir.write("drive/a.zip", "PK");
        notes["readme.txt"] = "Top readme";
        ScanTree("e: [DATA]", root, "e:");
        AddRecord("e: [DATA]", "e:\\a.zip\\", "member.txt", 1, "10");
        AddRecord("e: [DATA]1", "e:\\", "other.txt", 1, "5", "Note of the other disc");
        AddRecord("f: [MUSIC]", "f:\\", "Second", 1, "100", "", 2, "Track10.cda");
        AddRecord("f: [MUSIC]", "f:\\", "First", 1, "100", "", 2, "Track09.cda");
        Save(ini);
    }

    static std::vector<std::string> ListNames(TMainForm &form)
    {
        std::vector<std::string> out;
        for (const TFileRow &r : form.ui->LinksListView->Model()->Rows())
            out.push_back(r.Name);
        return out;
    }
    static int RowNamed(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return static_cast<int>(i);
        return -1;
    }
    static void Click(TMainForm &form, const std::string &name)
    {
        form.ui->LinksListView->SelectRow(RowNamed(form, name));
        form.LinksListViewClick();
    }
    static void Enter(TMainForm &form, const std::string &name)
    {
        form.ui->LinksListView->SelectRow(RowNamed(form, name));
        form.LinksListViewDblClick();
    }
    static void OpenDisc(TMainForm &form, const std::string &disc)
    {
        ASSERT_GE(form.SelectTreeNodeByText(disc), 0);
        form.TreeView1Click();
    }
    // Opens the disc anew, with a fresh history, even when it is open already.
    static void Reopen(TMainForm &form, const std::string &disc)
    {
        form.Browse.LoadedDisc.clear();
        OpenDisc(form, disc);
    }
    static std::string Box(TMainForm &form) { return form.ui->ComboBox1->currentText().toStdString(); }

    std::map<std::string, std::string> numbers, notes;
};

using Paths = std::vector<std::string>;

} // namespace

TEST_F(BrowseFormTest, StartUpOpensTheFirstDiscOfTheTree)
{
    MakeStandardCatalog();
    auto form = Open();
    // Sorted tree: "e: [DATA]" comes first and is open.
    EXPECT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"docs", "a.zip", "readme.txt", "Zebra.txt"}));
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(BrowseFormTest, OpeningADiscBuildsWorkTableStatusAndPanel)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "f: [MUSIC]");
    OpenDisc(*form, "e: [DATA]");
    ASSERT_TRUE(form->WorkTable);
    EXPECT_EQ(form->WorkTable->Filtered(), true);
    EXPECT_EQ(form->Browse.FileCountText, "8"); // 7 scanned entries and one archive member
    TStatusBarCont *bar = form->ui->StatusBar1;
    EXPECT_EQ(bar->Panel(0).Text, QStringLiteral(" e: [DATA] "));
    EXPECT_EQ(bar->Panel(1).Text, QStringLiteral(" [7]"));
    EXPECT_EQ(bar->Panel(2).Text.toStdString(), " 8 " + langunit::LangString(54) + " - 3 mb");
    EXPECT_EQ(form->ui->StaticText2->text(), QStringLiteral("  7"));
    EXPECT_EQ(form->ui->StaticText1->text(), QStringLiteral("  Backup disc"));
    EXPECT_FALSE(form->ui->StaticText1->isHidden()); // the panel is hidden, so the strip shows
    EXPECT_EQ(form->Browse.BackList, Paths{"e:"});
    EXPECT_TRUE(form->Browse.ForwardList.empty());
    EXPECT_FALSE(form->ui->BackButton->isEnabled());
    EXPECT_FALSE(form->ui->ForwardButton->isEnabled());
    EXPECT_EQ(form->Browse.HomePath, "e:");
    // Sizes as the list shows them.
    const TFileRow *readme = form->ui->LinksListView->Model()->Row(RowNamed(*form, "readme.txt"));
    ASSERT_NE(readme, nullptr);
    EXPECT_EQ(readme->SizeText, "1.5 kb");
    EXPECT_EQ(readme->FullName, "e:\\readme.txt");
    const TFileRow *docs = form->ui->LinksListView->Model()->Row(RowNamed(*form, "docs"));
    EXPECT_EQ(docs->SizeText, "0 " + langunit::LangString(83) + " ");
    EXPECT_FALSE(docs->TypeName.isEmpty());
}

TEST_F(BrowseFormTest, DiscRecordIsFoundByItsWholeName)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    // Not the record of "e: [DATA]1", which stands first and begins alike.
    EXPECT_EQ(form->Browse.DiscSizeText, "3 mb");
    EXPECT_EQ(form->Browse.SelectedSerial, "0");
    EXPECT_EQ(form->ui->StaticText1->text(), QStringLiteral("  Backup disc"));
    EXPECT_EQ(form->CdNameTable->FieldByName("CdName").AsString(), "e: [DATA]");
    OpenDisc(*form, "e: [DATA]1");
    EXPECT_EQ(form->Browse.SelectedSerial, "4321");
    EXPECT_EQ(form->Browse.DiscSizeText, "1 mb");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"other.txt"}));
    // Only the whole name, though letter case does not matter.
    EXPECT_TRUE(form->LocateDiscRecord("E: [data]"));
    EXPECT_FALSE(form->LocateDiscRecord("e: [DAT"));
}

TEST_F(BrowseFormTest, SelectTreeNodeByTextTellsNotFoundFromTheFirstNode)
{
    MakeStandardCatalog();
    auto form = Open();
    EXPECT_EQ(form->SelectTreeNodeByText("e: [DATA]"), 0);
    // Nodes count in tree order, the open disc's folder node included.
    EXPECT_EQ(form->SelectTreeNodeByText("F: [music]"), 3);
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0), QStringLiteral("f: [MUSIC]"));
    EXPECT_EQ(form->SelectTreeNodeByText("x: [NONE]"), -1);
    // A miss leaves the selection alone.
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0), QStringLiteral("f: [MUSIC]"));
}

TEST_F(BrowseFormTest, EnteringFoldersAndGoingUp)
{
    MakeStandardCatalog();
    auto form = Open();
    Reopen(*form, "e: [DATA]");
    Enter(*form, "docs");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"old", "report.txt"}));
    EXPECT_EQ(form->ui->LinksListView->CurrentRow(), 0);
    // The tree followed: the folder node under the disc is selected.
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0), QStringLiteral("docs"));
    Enter(*form, "old");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"x.txt"}));
    EXPECT_EQ(form->Browse.BackList, (Paths{"e:", "e:\\docs", "e:\\docs\\old"}));
    EXPECT_TRUE(form->ui->BackButton->isEnabled());

    form->UpButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    form->UpButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");
    EXPECT_EQ(form->Browse.BackList.size(), 3u); // Up makes no history entry
    // From "e:" there is nowhere up to go.
    form->UpButtonClick();
    EXPECT_FALSE(form->ui->UpButton->isEnabled());
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");

    // A typed path lists that folder without a history entry.
    form->ui->ComboBox1->setEditText(QStringLiteral("e:\\docs\\old"));
    form->ComboBox1Change();
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"x.txt"}));
    EXPECT_EQ(form->Browse.BackList.size(), 3u);
    EXPECT_EQ(form->Browse.BrowseFlag, 0);
}

TEST_F(BrowseFormTest, BackAndForwardFollowTheHistoryAndKeepThePathBoxCurrent)
{
    MakeStandardCatalog();
    auto form = Open();
    Reopen(*form, "e: [DATA]");
    Enter(*form, "docs");
    Enter(*form, "old");

    form->BackButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    EXPECT_EQ(form->Browse.BackList, (Paths{"e:", "e:\\docs"}));
    EXPECT_EQ(form->Browse.ForwardList, (Paths{"e:\\docs\\old"}));
    EXPECT_TRUE(form->ui->ForwardButton->isEnabled());
    // Up now starts from where the list is.
    form->UpButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");

    // Two entries: back home, the back list empty, the forward list holding
    // the two in reverse order.
    form->BackButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");
    EXPECT_TRUE(form->Browse.BackList.empty());
    EXPECT_EQ(form->Browse.ForwardList, (Paths{"e:\\docs\\old", "e:\\docs", "e:"}));
    EXPECT_FALSE(form->ui->BackButton->isEnabled());
    EXPECT_FALSE(form->ui->BackMenu->isEnabled());
    EXPECT_TRUE(form->ui->ForwardButton->isEnabled());

    form->ForwardButtonClick(); // three entries: to the one before the last
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    EXPECT_EQ(form->Browse.BackList, Paths{"e:"});
    EXPECT_EQ(form->Browse.ForwardList, (Paths{"e:\\docs\\old", "e:\\docs"}));
    form->ForwardButtonClick(); // two entries
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\old\\");
    EXPECT_EQ(Box(*form), "e:\\docs\\old");
    EXPECT_EQ(form->Browse.BackList, (Paths{"e:", "e:\\docs", "e:\\docs\\old"}));
    EXPECT_TRUE(form->Browse.ForwardList.empty());
    EXPECT_FALSE(form->ui->ForwardButton->isEnabled());
    // Back with nothing left changes nothing.
    form->ForwardButtonClick();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\old\\");
}

TEST_F(BrowseFormTest, HistoryMenusJumpToAnEntry)
{
    MakeStandardCatalog();
    auto form = Open();
    Reopen(*form, "e: [DATA]");
    Enter(*form, "docs");
    Enter(*form, "old");
    ASSERT_EQ(form->PopupMenu1->actions().size(), 3);
    EXPECT_EQ(form->PopupMenu1->actions()[1]->toolTip(), QStringLiteral("e:\\docs"));
    form->PopupMenu1->actions()[0]->trigger();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");
    EXPECT_TRUE(form->Browse.BackList.empty());
    EXPECT_FALSE(form->ui->BackButton->isEnabled());
    EXPECT_EQ(form->Browse.ForwardList, (Paths{"e:\\docs\\old", "e:\\docs", "e:"}));
    ASSERT_EQ(form->PopupMenu2->actions().size(), 3);
    form->Popup2Click(1);
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(form->Browse.ForwardList, Paths{"e:\\docs\\old"});
    EXPECT_EQ(form->Browse.BackList, (Paths{"e:", "e:\\docs"}));
    EXPECT_TRUE(form->ui->BackButton->isEnabled());
    // An index outside the list is refused.
    form->Popup1Click(5);
    form->Popup2Click(-1);
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
}

TEST_F(BrowseFormTest, TreeNodesOfTheOpenDiscGroupsAndFolders)
{
    MakeStandardCatalog();
    auto form = Open();
    QTreeWidget *tree = form->ui->TreeView1;
    OpenDisc(*form, "e: [DATA]");
    // The disc's folder level was added under its node when it was listed.
    QTreeWidgetItem *disc = tree->currentItem();
    ASSERT_EQ(disc->childCount(), 1); // "docs"; an archive is no folder node
    // Clicking the open disc's node again lists its root and records it.
    Enter(*form, "docs");
    form->UpButtonClick();
    ASSERT_EQ(Box(*form), "e:");
    const size_t before = form->Browse.BackList.size();
    tree->setCurrentItem(disc);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(form->Browse.BackList.size(), before + 1);
    EXPECT_EQ(form->Browse.BackList.back(), "e:\\");
    // A folder node of a numbered disc name.
    QTreeWidgetItem *docs = disc->child(0);
    ASSERT_EQ(docs->text(0), QStringLiteral("docs"));
    tree->setCurrentItem(docs);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    // A group node changes nothing.
    QTreeWidgetItem *group = form->AddTreeNode(nullptr, QStringLiteral("Group"), 2, 2, NodeKindGroup);
    tree->setCurrentItem(group);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
    // No node selected: nothing happens.
    tree->setCurrentItem(nullptr);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
}

TEST_F(BrowseFormTest, ArchivesAreEnteredAndTheirMembersRunThroughThem)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    Enter(*form, "a.zip");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\a.zip\\");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"member.txt"}));
    Click(*form, "member.txt");
    EXPECT_EQ(form->RunTarget.Path, "e:\\a.zip");
    EXPECT_EQ(form->RunTarget.DiscName, "e: [DATA]");
    EXPECT_EQ(form->RunTarget.Number, "7");
    EXPECT_EQ(form->ui->StatusBar1->Panel(3).Text, QStringLiteral(" e:\\a.zip\\member.txt"));
    // A plain file is its own run target; double-clicking it does not navigate.
    form->UpButtonClick();
    Enter(*form, "readme.txt");
    EXPECT_EQ(form->RunTarget.Path, "e:\\readme.txt");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
}

TEST_F(BrowseFormTest, NotesOfTheClickedEntryAndTheInformationPanel)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    Click(*form, "readme.txt");
    EXPECT_EQ(form->ui->ListNoteLabel->text(), QStringLiteral("  Top readme"));
    EXPECT_FALSE(form->ui->NotePanel1->isHidden());
    // Without a note the text goes but the strip stays as it was.
    Click(*form, "Zebra.txt");
    EXPECT_TRUE(form->ui->ListNoteLabel->text().isEmpty());
    EXPECT_FALSE(form->ui->NotePanel1->isHidden());

    form->ui->ShowInfoButton->setChecked(true);
    EXPECT_FALSE(form->ui->InfoPanel->isHidden());
    EXPECT_TRUE(form->ui->StaticText1->isHidden());
    EXPECT_EQ(form->Settings[16], 1);
    EXPECT_TRUE(form->ui->ShowInfoPanelMenu->isChecked());
    EXPECT_EQ(form->ui->StaticText3->text(), QStringLiteral(" e: [DATA]"));
    EXPECT_EQ(form->ui->StaticText4->text(), QStringLiteral("  Backup disc"));
    Click(*form, "readme.txt");
    EXPECT_TRUE(form->ui->NotePanel1->isHidden());
    EXPECT_EQ(form->ui->StaticText5->text(), QStringLiteral(" readme.txt"));
    EXPECT_EQ(form->ui->StaticText6->text(), QStringLiteral("  Top readme"));
    EXPECT_EQ(form->ui->StaticText8->text(), QStringLiteral("1.5 kb"));

    // The menu item toggles the panel through the button.
    form->ui->ShowInfoPanelMenu->trigger();
    EXPECT_TRUE(form->ui->InfoPanel->isHidden());
    EXPECT_FALSE(form->ui->ShowInfoButton->isChecked());
    EXPECT_EQ(form->InfoPanelFlag, 0);
    EXPECT_FALSE(form->ui->StaticText1->isHidden()); // the disc note shows in the strip again
    // A disc without a note: hiding the panel leaves the strip hidden.
    OpenDisc(*form, "f: [MUSIC]");
    form->ui->ShowInfoButton->setChecked(true);
    form->ui->ShowInfoButton->setChecked(false);
    EXPECT_TRUE(form->ui->StaticText1->isHidden());
}

TEST_F(BrowseFormTest, DefaultPictureFollowsTheDiscKind)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]"); // kind 3
    EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->DisketteBmp.toImage());
    OpenDisc(*form, "f: [MUSIC]"); // kind 2
    EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->MusicCdBmp.toImage());
}

TEST_F(BrowseFormTest, AudioTracksAreListedByTheirFileNames)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "f: [MUSIC]");
    EXPECT_EQ(ListNames(*form), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(form->ui->LinksListView->Model()->Row(0)->FullName, "f:\\Track09.cda");
    Click(*form, "Second");
    // An audio track shows its caption in the status bar.
    EXPECT_EQ(form->ui->StatusBar1->Panel(3).Text, QStringLiteral(" Second"));
}

TEST_F(BrowseFormTest, ViewStylesSwitchOnOneModel)
{
    MakeStandardCatalog();
    auto form = Open();
    TFileListView *list = form->ui->LinksListView;
    EXPECT_EQ(list->ViewStyle(), vsReport);
    EXPECT_EQ(list->ActiveView(), list->ReportView());
    const int rows = list->Count();
    ASSERT_GT(rows, 0);
    list->SelectRow(2);
    form->ui->IconViewMenu->trigger();
    EXPECT_EQ(form->Settings[18], vsIcon);
    EXPECT_EQ(list->ViewStyle(), vsIcon);
    EXPECT_EQ(list->ActiveView(), list->IconView());
    EXPECT_EQ(list->IconView()->viewMode(), QListView::IconMode);
    EXPECT_EQ(list->IconView()->model(), list->ReportView()->model());
    EXPECT_EQ(list->Count(), rows);
    form->ui->ListViewMenu->trigger();
    EXPECT_EQ(list->IconView()->viewMode(), QListView::ListMode);
    EXPECT_EQ(list->IconView()->flow(), QListView::TopToBottom);
    form->ui->SmallIconViewMenu->trigger();
    EXPECT_EQ(list->IconView()->flow(), QListView::LeftToRight);
    EXPECT_EQ(form->Settings[18], vsSmallIcon);
    // One selection for all styles.
    list->SelectRow(1);
    form->ui->ReportViewMenu->trigger();
    EXPECT_EQ(list->ActiveView(), list->ReportView());
    EXPECT_EQ(form->Settings[18], vsReport);
    list->SelectRow(1);
    EXPECT_EQ(list->ReportView()->currentIndex().row(), 1);
    EXPECT_EQ(list->IconView()->currentIndex().row(), 1);
}

TEST_F(BrowseFormTest, DiscWithoutRecordsKeepsThePathAndListsNothing)
{
    MakeStandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    Enter(*form, "docs");
    // A disc node whose disc has no File records.
    form->AddTreeNode(nullptr, QStringLiteral("g: [EMPTY]"), 0, 1, NodeKindDisc);
    OpenDisc(*form, "g: [EMPTY]");
    EXPECT_EQ(form->Browse.LoadedDisc, "g: [EMPTY]");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    EXPECT_EQ(Box(*form), "e:\\docs");
    EXPECT_EQ(form->ui->ComboBox1->count(), 0); // a fresh history of drop-down items
    EXPECT_EQ(form->ui->LinksListView->Count(), 0);
    EXPECT_EQ(form->Browse.FileCountText, "0");
}

TEST_F(BrowseFormTest, InformationPanelFollowsTheListAfterNavigation)
{
    MakeStandardCatalog("Setup16=1\n");
    auto form = Open();
    ASSERT_FALSE(form->ui->InfoPanel->isHidden());
    Reopen(*form, "e: [DATA]");
    Click(*form, "docs");
    EXPECT_EQ(form->ui->StaticText5->text(), QStringLiteral(" docs"));
    // Entering the folder selects its first entry, and the panel shows that one.
    Enter(*form, "docs");
    EXPECT_EQ(form->ui->StaticText5->text(), QStringLiteral(" old"));
    // Back: nothing is selected, so the panel describes no entry.
    form->BackButtonClick();
    EXPECT_TRUE(form->ui->StaticText5->text().isEmpty());
    EXPECT_TRUE(form->ui->StaticText8->text().isEmpty());
}

TEST_F(BrowseFormTest, ProgramsShowTheirStoredIconInBothSizes)
{
    const std::string exe = dir.write("prog.exe", orbtest::ProgramWithIcons(0xFF2040C0u).bytes);
    const QByteArray stream = ReadExeIconStream(QString::fromStdString(exe));
    ASSERT_FALSE(stream.isEmpty());
    AddDisc({"e: [APPS]", "1", "", "1 mb", "", 0});
    AddRecord("e: [APPS]", "e:\\", "a.exe", 1, "100");
    files.Last();
    files.Edit();
    files.FieldByName("Icon").SetAsBytes(stream.toStdString());
    files.Post();
    AddRecord("e: [APPS]", "e:\\", "b.exe", 1, "100");
    // A damaged stream falls back to the shell's icon instead of failing the fill.
    AddRecord("e: [APPS]", "e:\\", "c.exe", 1, "100");
    files.Last();
    files.Edit();
    files.FieldByName("Icon").SetAsBytes(std::string("\0\0\1\0\xff\xff", 6));
    files.Post();
    Save();
    auto form = Open();
    for (QAction *style : {form->ui->ReportViewMenu, form->ui->IconViewMenu}) {
        style->trigger();
        const TFileListModel *model = form->ui->LinksListView->Model();
        ASSERT_EQ(model->Count(), 3);
        for (int size : {16, 32}) {
            const QImage stored = model->Row(0)->Icon.pixmap(size, size).toImage();
            ASSERT_FALSE(stored.isNull());
            EXPECT_EQ(stored.pixel(stored.width() * 3 / 16, stored.height() * 5 / 16), 0xFF2040C0u) << size;
        }
        EXPECT_FALSE(model->Row(1)->Icon.isNull());
        EXPECT_FALSE(model->Row(2)->Icon.isNull());
        EXPECT_FALSE(model->Row(0)->TypeName.isEmpty());
    }
}

TEST_F(BrowseFormTest, KeysOfTheListAndTheTree)
{
    MakeStandardCatalog();
    auto form = Open();
    Reopen(*form, "e: [DATA]");
    auto press = [](QWidget *w, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(w, &up);
    };
    TFileListView *list = form->ui->LinksListView;
    list->SelectRow(RowNamed(*form, "docs"));
    press(list->ActiveView(), Qt::Key_Return); // opens the folder
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    press(list->ActiveView(), Qt::Key_Backspace); // goes up
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(Box(*form), "e:");
    // An arrow released in the list shows the note of the row it reached.
    list->SelectRow(RowNamed(*form, "a.zip"));
    press(list->ActiveView(), Qt::Key_Down);
    ASSERT_EQ(list->SelectedRow()->Name, "readme.txt");
    EXPECT_EQ(form->ui->ListNoteLabel->text(), QStringLiteral("  Top readme"));

    // An arrow released in the tree opens the node it reached.
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_GE(form->SelectTreeNodeByText("f: [MUSIC]"), 0);
    press(tree, Qt::Key_Down);
    EXPECT_EQ(form->Browse.LoadedDisc, tree->currentItem()->text(0).toStdString());
}

TEST_F(BrowseFormTest, OpenDiscLeavesTheFileTableFilteredToIt)
{
    MakeStandardCatalog();
    auto form = Open();
    Reopen(*form, "f: [MUSIC]");
    ASSERT_TRUE(form->FlatTable1->Filtered());
    EXPECT_EQ(form->FlatTable1->RecordCount(), 2);
    // The work table admits exactly the current folder's records.
    form->Browse.CurrentPath = "e:\\docs\\";
    bool accept = true;
    Reopen(*form, "e: [DATA]");
    EXPECT_EQ(form->FlatTable1->RecordCount(), 8);
    form->WorkTable->First();
    form->Browse.CurrentPath = "nowhere\\";
    form->FinalExmemoryDataFilterRecord(form->WorkTable.get(), accept);
    EXPECT_FALSE(accept);
    form->Browse.CurrentPath = form->WorkTable->FieldByName("Path").AsString();
    form->FinalExmemoryDataFilterRecord(form->WorkTable.get(), accept);
    EXPECT_TRUE(accept);
    // The disc filter compares exactly: another letter case is another disc.
    form->Browse.CurrentDisc = "E: [data]";
    form->FlatTable1FilterRecord(form->WorkTable.get(), accept);
    EXPECT_FALSE(accept);
}

TEST_F(BrowseFormTest, SearchPanelPartsAreSizedAndCentred)
{
    MakeStandardCatalog();
    auto form = Open();
    form->resize(900, 700);
    form->ui->Panel2->show();
    form->show();
    form->ui->Panel3->resize(300, 320);
    form->LayoutSearchPanel();
    EXPECT_EQ(form->ui->Edit1->width(), 249);
    EXPECT_EQ(form->ui->ComboBox2->width(), 249);
    EXPECT_EQ(form->ui->ScrollBox1->width(), 272);
    EXPECT_EQ(form->ui->Shape1->width(), 283);
    // Centred, the divisions truncating.
    EXPECT_EQ(form->ui->ScrollBox1->x(), (300 - 1 - 272) / 2);
    EXPECT_EQ(form->ui->Shape1->x(), (300 - 1 - 283) / 2);
    EXPECT_EQ(form->ui->Shape1->y(), (320 - form->ui->Shape1->height()) / 2);
    EXPECT_EQ(form->ui->Panel5->x(), form->ui->ScrollBox1->x());
    // The criteria fit the scroll box's width.
    EXPECT_LE(form->ui->Panel6->width(), 272);
    if (const char *shot = std::getenv("ORB_BROWSE_SHOT"))
        form->grab().save(QString::fromLocal8Bit(shot));
    form->close();
}
