// Browsing a catalogue in the main window: tree clicks, the work table, the
// file list, the path box, Up and the history, notes and the information
// panel. The catalogue is written as a scan writes it, from a real folder tree.
#include <QListView>
#include <QMenu>

#include <map>

#include "platform/ExeIcon.h"
#include "util/PeTestImage.h"

#include "app/MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

std::string Join(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &p : parts)
        out += (out.empty() ? "" : ",") + p;
    return out;
}

class BrowseFormTest : public MainFormTablesTest {
protected:
    void AddRecord(const std::string &disc, const std::string &path, const std::string &name, int type,
                   const std::string &size = "0", const std::string &note = "", int ftype = 0,
                   const std::string &loadName = "")
    {
        AppendRecord(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", numbers[disc]},
                             {"Size", size}, {"Attrib", type == 0 ? 0x10 : 0x20}, {"Type", type}, {"Note", note},
                             {"FType", ftype}, {"LoadName", loadName}, {"CreateDate", "01.02.2003"}});
    }
    void AddDisc(const std::string &name, const std::string &number, const std::string &note,
                 const std::string &size, const std::string &serial, int kind)
    {
        numbers[name] = number;
        AppendRecord(discs, {{"CdName", name}, {"Number", number}, {"CdNote", note}, {"CdSize", size},
                             {"CdIdCode", serial}, {"CType", kind}});
    }
    // The information panel is hidden unless `ini` says otherwise.
    void Save(const std::string &ini = "")
    {
        SaveCat("Setup12=1\n" + std::string(ini.find("Setup16=") == std::string::npos ? "Setup16=0\n" : "") + ini);
    }
    // A tree scanned from real folders on "e: [DATA]", a disc whose name begins
    // with the same text (first, so a prefix match would find it), and an audio disc.
    void MakeStandardCatalog(const std::string &ini = "")
    {
        AddDisc("e: [DATA]1", "12", "Other disc", "1 mb", "4321", 0);
        AddDisc("e: [DATA]", "7", "Backup disc", "3 mb", "", 3);
        AddDisc("f: [MUSIC]", "3", "", "40 mb", "", 2);
        fs::create_directories(dir.path() / "drive" / "docs" / "old");
        dir.write("drive/readme.txt", std::string(1536, 'r'));
        for (const char *f : {"Zebra.txt", "docs/report.txt", "docs/old/x.txt", "a.zip"})
            dir.write(std::string("drive/") + f, "x");
        WalkScannedTree(dir.path() / "drive", "e:", [&](const std::string &folder, const fs::path &p) {
            const bool isDir = fs::is_directory(p);
            const std::string name = p.filename().string();
            AddRecord("e: [DATA]", folder, name, isDir ? 0 : 1, isDir ? "0" : std::to_string(fs::file_size(p)),
                      name == "readme.txt" && folder == "e:\\" ? "Top readme" : "");
        });
        AddRecord("e: [DATA]", "e:\\a.zip\\", "member.txt", 1, "10");
        AddRecord("e: [DATA]1", "e:\\", "other.txt", 1, "5", "Note of the other disc");
        AddRecord("f: [MUSIC]", "f:\\", "Second", 1, "100", "", 2, "Track10.cda");
        AddRecord("f: [MUSIC]", "f:\\", "First", 1, "100", "", 2, "Track09.cda");
        Save(ini);
    }
    std::unique_ptr<TMainForm> OpenStandard(const std::string &ini = "")
    {
        MakeStandardCatalog(ini);
        return Open();
    }
    static void Click(TMainForm &form, const std::string &name)
    {
        form.ui->LinksListView->SelectRow(ListRowOf(form, name));
        form.LinksListViewClick();
    }
    static void Enter(TMainForm &form, const std::string &name)
    {
        form.ui->LinksListView->SelectRow(ListRowOf(form, name));
        form.LinksListViewDblClick();
    }
    // Opens the disc anew, with a fresh history, even when it is open already.
    static void Reopen(TMainForm &form, const std::string &disc)
    {
        form.Browse.LoadedDisc.clear();
        OpenDisc(form, disc);
    }
    // Current path, path box, back list, forward list, back and forward enabled.
    static std::string Where(TMainForm &form)
    {
        return form.Browse.CurrentPath + " | " + form.ui->ComboBox1->currentText().toStdString() + " | " +
               Join(form.Browse.BackList) + " | " + Join(form.Browse.ForwardList) + " | " +
               (form.ui->BackButton->isEnabled() ? "B" : "-") + (form.ui->ForwardButton->isEnabled() ? "F" : "-");
    }

    std::map<std::string, std::string> numbers;
};

} // namespace

TEST_F(BrowseFormTest, StartUpAndOpeningADiscBuildWorkTableStatusAndPanel)
{
    auto form = OpenStandard();
    // Sorted tree: "e: [DATA]" comes first and is open.
    EXPECT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
    EXPECT_EQ(Where(*form), "e:\\ | e: | e: |  | --");
    EXPECT_EQ(ListNamesOf(*form), (Names{"docs", "a.zip", "readme.txt", "Zebra.txt"}));
    OpenDisc(*form, "f: [MUSIC]");
    OpenDisc(*form, "e: [DATA]");
    ASSERT_TRUE(form->WorkTable);
    EXPECT_TRUE(form->WorkTable->Filtered());
    EXPECT_EQ(form->Browse.FileCountText, "8"); // 7 scanned entries and one archive member
    EXPECT_EQ((StatusText(*form, 0) + "|" + StatusText(*form, 1) + "|" + StatusText(*form, 2)).toStdString(),
              " e: [DATA] | [7]| 8 " + langunit::LangString(54) + " - 3 mb");
    EXPECT_EQ(form->ui->StaticText2->text(), QStringLiteral("  7"));
    EXPECT_EQ(form->ui->StaticText1->text(), QStringLiteral("  Backup disc"));
    EXPECT_FALSE(form->ui->StaticText1->isHidden()); // the panel is hidden, so the strip shows
    EXPECT_EQ(Where(*form), "e:\\ | e: | e: |  | --");
    EXPECT_EQ(form->Browse.HomePath, "e:");
    const TFileRow *readme = form->ui->LinksListView->Model()->Row(ListRowOf(*form, "readme.txt"));
    ASSERT_NE(readme, nullptr);
    EXPECT_EQ(readme->SizeText + "|" + readme->FullName, "1.5 kb|e:\\readme.txt");
    const TFileRow *docs = form->ui->LinksListView->Model()->Row(ListRowOf(*form, "docs"));
    EXPECT_EQ(docs->SizeText, "0 " + langunit::LangString(83) + " ");
    EXPECT_FALSE(docs->TypeName.isEmpty());
    // Kind 3 shows the diskette, kind 2 the music disc.
    EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->DisketteBmp.toImage());
    OpenDisc(*form, "f: [MUSIC]");
    EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->MusicCdBmp.toImage());
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(BrowseFormTest, DiscRecordAndTreeNodeAreFoundByTheirWholeName)
{
    auto form = OpenStandard();
    OpenDisc(*form, "e: [DATA]");
    // Not the record of "e: [DATA]1", which stands first and begins alike.
    EXPECT_EQ(form->Browse.DiscSizeText + "|" + form->Browse.SelectedSerial, "3 mb|0");
    EXPECT_EQ(form->ui->StaticText1->text(), QStringLiteral("  Backup disc"));
    EXPECT_EQ(form->CdNameTable->FieldByName("CdName").AsString(), "e: [DATA]");
    OpenDisc(*form, "e: [DATA]1");
    EXPECT_EQ(form->Browse.DiscSizeText + "|" + form->Browse.SelectedSerial, "1 mb|4321");
    EXPECT_EQ(ListNamesOf(*form), Names{"other.txt"});
    // Only the whole name, though letter case does not matter.
    EXPECT_TRUE(form->LocateDiscRecord("E: [data]"));
    EXPECT_FALSE(form->LocateDiscRecord("e: [DAT"));
    // Nodes count in tree order, the open disc's folder node included; a miss
    // (-1, not the first node) leaves the selection alone.
    EXPECT_EQ(form->SelectTreeNodeByText("e: [DATA]"), 0);
    EXPECT_EQ(form->SelectTreeNodeByText("F: [music]"), 3);
    EXPECT_EQ(form->SelectTreeNodeByText("x: [NONE]"), -1);
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0), QStringLiteral("f: [MUSIC]"));
}

TEST_F(BrowseFormTest, EnteringFoldersGoingUpAndTypedPaths)
{
    auto form = OpenStandard();
    Reopen(*form, "e: [DATA]");
    Enter(*form, "docs");
    EXPECT_EQ(ListNamesOf(*form), (Names{"old", "report.txt"}));
    EXPECT_EQ(form->ui->LinksListView->CurrentRow(), 0);
    // The tree followed: the folder node under the disc is selected.
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0), QStringLiteral("docs"));
    Enter(*form, "old");
    EXPECT_EQ(ListNamesOf(*form), Names{"x.txt"});
    EXPECT_EQ(Where(*form), "e:\\docs\\old\\ | e:\\docs\\old | e:,e:\\docs,e:\\docs\\old |  | B-");
    // Up makes no history entry; from "e:" there is nowhere up to go.
    form->UpButtonClick();
    EXPECT_EQ(Where(*form), "e:\\docs\\ | e:\\docs | e:,e:\\docs,e:\\docs\\old |  | B-");
    form->UpButtonClick();
    form->UpButtonClick();
    EXPECT_EQ(Where(*form), "e:\\ | e: | e:,e:\\docs,e:\\docs\\old |  | B-");
    EXPECT_FALSE(form->ui->UpButton->isEnabled());
    // A typed path lists that folder without a history entry.
    form->ui->ComboBox1->setEditText(QStringLiteral("e:\\docs\\old"));
    form->ComboBox1Change();
    EXPECT_EQ(ListNamesOf(*form), Names{"x.txt"});
    EXPECT_EQ(form->Browse.BackList.size(), 3u);
    EXPECT_EQ(form->Browse.BrowseFlag, 0);
}

// Enter on a path of another disc opened that disc, whose first listing gives its tree node the
// focus; the key, let go there, was taken for a key of the tree and listed the disc's top folder.
TEST_F(BrowseFormTest, PathOfAnotherDiscTypedIsReachedWithOneEnter)
{
    AddDisc("e: [DATA]", "1", "", "1 mb", "", 0);
    AddDisc("u: [BAD]", "2", "", "1 mb", "", 0);
    AddRecord("e: [DATA]", "e:\\", "top.txt", 1, "5");
    AddRecord("u: [BAD]", "u:\\", "weird_members.zip", 1, "300");
    AddRecord("u: [BAD]", "u:\\weird_members.zip\\", "member.txt", 1, "1");
    AddRecord("u: [BAD]", "u:\\", "normal.txt", 1, "3");
    Save("Setup10=1\n");
    auto form = OpenActive();
    ASSERT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
    form->ui->ComboBox1->setFocus();
    form->ui->ComboBox1->setEditText(QStringLiteral("u:\\weird_members.zip"));
    SendKey(form->ui->ComboBox1, Qt::Key_Return, true, false);
    // The key is let go wherever the focus is by then, as on a desktop.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    SendKey(QApplication::focusWidget(), Qt::Key_Return, false, true);
    EXPECT_EQ(form->Browse.LoadedDisc, "u: [BAD]");
    EXPECT_EQ(form->Browse.CurrentPath + "|" + form->ui->ComboBox1->currentText().toStdString(),
              "u:\\weird_members.zip\\|u:\\weird_members.zip");
    EXPECT_EQ(ListNamesOf(*form), Names{"member.txt"});
    EXPECT_TRUE(prompt.Asked().empty());
    // A key pressed and let go in the tree still opens the node it reached.
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_GE(form->SelectTreeNodeByText("u: [BAD]"), 0);
    tree->setFocus();
    SendKey(tree, Qt::Key_Up);
    EXPECT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
}

TEST_F(BrowseFormTest, BackForwardAndTheHistoryMenusKeepThePathBoxCurrent)
{
    auto form = OpenStandard();
    for (bool menus : {false, true}) {
        SCOPED_TRACE(menus ? "menus" : "buttons");
        Reopen(*form, "e: [DATA]");
        Enter(*form, "docs");
        Enter(*form, "old");
        if (menus) {
            // The place shown is not offered as a place to go to.
            ASSERT_EQ(form->PopupMenu1->actions().size(), 2);
            EXPECT_EQ(form->PopupMenu1->actions()[1]->toolTip(), QStringLiteral("e:\\docs"));
            form->PopupMenu1->actions()[0]->trigger();
            EXPECT_EQ(Where(*form), "e:\\ | e: |  | e:\\docs\\old,e:\\docs,e: | -F");
            ASSERT_EQ(form->PopupMenu2->actions().size(), 2);
            form->Popup2Click(1);
            EXPECT_EQ(Where(*form), "e:\\docs\\ | e:\\docs | e:,e:\\docs | e:\\docs\\old | BF");
            // An index outside the list is refused.
            form->Popup1Click(5);
            form->Popup2Click(-1);
            EXPECT_EQ(Where(*form), "e:\\docs\\ | e:\\docs | e:,e:\\docs | e:\\docs\\old | BF");
            continue;
        }
        form->BackButtonClick();
        EXPECT_EQ(Where(*form), "e:\\docs\\ | e:\\docs | e:,e:\\docs | e:\\docs\\old | BF");
        // Up now starts from where the list is.
        form->UpButtonClick();
        EXPECT_EQ(Where(*form), "e:\\ | e: | e:,e:\\docs | e:\\docs\\old | BF");
        // Two entries: back home, the forward list holding the two in reverse order.
        form->BackButtonClick();
        EXPECT_EQ(Where(*form), "e:\\ | e: |  | e:\\docs\\old,e:\\docs,e: | -F");
        EXPECT_FALSE(form->ui->BackMenu->isEnabled());
        form->ForwardButtonClick(); // three entries: to the one before the last
        EXPECT_EQ(Where(*form), "e:\\docs\\ | e:\\docs | e: | e:\\docs\\old,e:\\docs | BF");
        form->ForwardButtonClick(); // two entries
        EXPECT_EQ(Where(*form), "e:\\docs\\old\\ | e:\\docs\\old | e:,e:\\docs,e:\\docs\\old |  | B-");
        // Forward with nothing left changes nothing.
        form->ForwardButtonClick();
        EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\old\\");
    }
}

TEST_F(BrowseFormTest, TreeNodesOfTheOpenDiscGroupsAndFolders)
{
    auto form = OpenStandard();
    QTreeWidget *tree = form->ui->TreeView1;
    OpenDisc(*form, "e: [DATA]");
    // The disc's folder level was added under its node when it was listed.
    QTreeWidgetItem *disc = tree->currentItem();
    ASSERT_EQ(disc->childCount(), 1); // "docs"; an archive is no folder node
    // Clicking the open disc's node again lists its root and records it as the
    // path box writes it; from the root itself it records nothing twice.
    Enter(*form, "docs");
    const size_t before = form->Browse.BackList.size();
    tree->setCurrentItem(disc);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    EXPECT_EQ(form->Browse.BackList.size(), before + 1);
    EXPECT_EQ(form->Browse.BackList.back(), "e:");
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.BackList.size(), before + 1);
    QTreeWidgetItem *docs = disc->child(0);
    ASSERT_EQ(docs->text(0), QStringLiteral("docs"));
    // A folder node, then a group node and no node at all, which change nothing.
    QTreeWidgetItem *group = form->AddTreeNode(nullptr, QStringLiteral("Group"), 2, 2, NodeKindGroup);
    for (QTreeWidgetItem *node : {docs, group, static_cast<QTreeWidgetItem *>(nullptr)}) {
        tree->setCurrentItem(node);
        form->TreeView1Click();
        EXPECT_EQ(form->Browse.CurrentPath + "|" + form->ui->ComboBox1->currentText().toStdString(),
                  "e:\\docs\\|e:\\docs");
        EXPECT_EQ(form->Browse.LoadedDisc, "e: [DATA]");
    }
    // A disc node whose disc has no File records keeps the path and lists nothing.
    form->AddTreeNode(nullptr, QStringLiteral("g: [EMPTY]"), 0, 1, NodeKindDisc);
    OpenDisc(*form, "g: [EMPTY]");
    EXPECT_EQ(form->Browse.LoadedDisc, "g: [EMPTY]");
    EXPECT_EQ(form->Browse.CurrentPath + "|" + form->ui->ComboBox1->currentText().toStdString(), "e:\\docs\\|e:\\docs");
    EXPECT_EQ(form->ui->ComboBox1->count(), 0); // a fresh history of drop-down items
    EXPECT_EQ(form->ui->LinksListView->Count(), 0);
    EXPECT_EQ(form->Browse.FileCountText, "0");
}

TEST_F(BrowseFormTest, ArchiveMembersAndTracksRunThroughTheirFiles)
{
    auto form = OpenStandard();
    OpenDisc(*form, "e: [DATA]");
    Enter(*form, "a.zip");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\a.zip\\");
    EXPECT_EQ(ListNamesOf(*form), Names{"member.txt"});
    Click(*form, "member.txt");
    EXPECT_EQ(form->RunTarget.Path + "|" + form->RunTarget.DiscName + "|" + form->RunTarget.Number,
              "e:\\a.zip|e: [DATA]|7");
    EXPECT_EQ(StatusText(*form, 3), QStringLiteral(" e:\\a.zip\\member.txt"));
    // A plain file is its own run target; double-clicking it does not navigate.
    form->UpButtonClick();
    Enter(*form, "readme.txt");
    EXPECT_EQ(form->RunTarget.Path, "e:\\readme.txt");
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\");
    // Tracks are listed by their file names and show their caption.
    OpenDisc(*form, "f: [MUSIC]");
    EXPECT_EQ(ListNamesOf(*form), (Names{"First", "Second"}));
    EXPECT_EQ(form->ui->LinksListView->Model()->Row(0)->FullName, "f:\\Track09.cda");
    Click(*form, "Second");
    EXPECT_EQ(StatusText(*form, 3), QStringLiteral(" Second"));
}

TEST_F(BrowseFormTest, NotesOfTheClickedEntryAndTheInformationPanel)
{
    auto form = OpenStandard();
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
    Click(*form, "readme.txt");
    EXPECT_TRUE(form->ui->NotePanel1->isHidden());
    EXPECT_EQ(QStringList({form->ui->StaticText3->text(), form->ui->StaticText4->text(), form->ui->StaticText5->text(),
                           form->ui->StaticText6->text(), form->ui->StaticText8->text()}),
              QStringList({" e: [DATA]", "  Backup disc", " readme.txt", "  Top readme", "1.5 kb"}));
    // Entering a folder selects its first entry, which the panel shows; after
    // Back nothing is selected, so the panel describes no entry.
    Enter(*form, "docs");
    EXPECT_EQ(form->ui->StaticText5->text(), QStringLiteral(" old"));
    form->BackButtonClick();
    EXPECT_TRUE(form->ui->StaticText5->text().isEmpty());
    EXPECT_TRUE(form->ui->StaticText8->text().isEmpty());
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

TEST_F(BrowseFormTest, ViewStylesSwitchOnOneModelAndSelection)
{
    auto form = OpenStandard();
    TFileListView *list = form->ui->LinksListView;
    EXPECT_EQ(list->ViewStyle(), vsReport);
    EXPECT_EQ(list->ActiveView(), list->ReportView());
    const int rows = list->Count();
    ASSERT_GT(rows, 0);
    list->SelectRow(2);
    const std::vector<std::tuple<QAction *, int, QListView::ViewMode, QListView::Flow>> styles = {
        {form->ui->IconViewMenu, vsIcon, QListView::IconMode, QListView::LeftToRight},
        {form->ui->ListViewMenu, vsList, QListView::ListMode, QListView::TopToBottom},
        {form->ui->SmallIconViewMenu, vsSmallIcon, QListView::ListMode, QListView::LeftToRight}};
    for (const auto &[action, style, mode, flow] : styles) {
        action->trigger();
        EXPECT_EQ(form->Settings[18], style);
        EXPECT_EQ(list->ViewStyle(), style);
        EXPECT_EQ(list->ActiveView(), list->IconView());
        EXPECT_EQ(list->IconView()->viewMode(), mode) << style;
        EXPECT_EQ(list->IconView()->flow(), flow) << style;
        EXPECT_EQ(list->IconView()->model(), list->ReportView()->model());
        EXPECT_EQ(list->Count(), rows);
    }
    list->SelectRow(1);
    form->ui->ReportViewMenu->trigger();
    EXPECT_EQ(list->ActiveView(), list->ReportView());
    EXPECT_EQ(form->Settings[18], vsReport);
    list->SelectRow(1);
    EXPECT_EQ(list->ReportView()->currentIndex().row(), 1);
    EXPECT_EQ(list->IconView()->currentIndex().row(), 1);
}

TEST_F(BrowseFormTest, ProgramsShowTheirStoredIconInBothSizes)
{
    const std::string exe = dir.write("prog.exe", orbtest::ProgramWithIcons(0xFF2040C0u).bytes);
    const QByteArray stream = ReadExeIconStream(QString::fromStdString(exe));
    ASSERT_FALSE(stream.isEmpty());
    AddDisc("e: [APPS]", "1", "", "1 mb", "", 0);
    // b.exe has no icon; c.exe's damaged stream falls back to the shell's icon
    // instead of failing the fill.
    for (const auto &[name, icon] : std::vector<std::pair<const char *, std::string>>{
             {"a.exe", stream.toStdString()}, {"b.exe", ""}, {"c.exe", std::string("\0\0\1\0\xff\xff", 6)}}) {
        AddRecord("e: [APPS]", "e:\\", name, 1, "100");
        files.Last();
        files.Edit();
        files.FieldByName("Icon").SetAsBytes(icon);
        files.Post();
    }
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
        EXPECT_FALSE(model->Row(1)->Icon.isNull() || model->Row(2)->Icon.isNull());
        EXPECT_FALSE(model->Row(0)->TypeName.isEmpty());
    }
}

TEST_F(BrowseFormTest, KeysOfTheListAndTheTree)
{
    auto form = OpenStandard();
    Reopen(*form, "e: [DATA]");
    TFileListView *list = form->ui->LinksListView;
    list->SelectRow(ListRowOf(*form, "docs"));
    SendKey(list->ActiveView(), Qt::Key_Return); // opens the folder
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    SendKey(list->ActiveView(), Qt::Key_Backspace); // goes up
    EXPECT_EQ(form->Browse.CurrentPath + "|" + form->ui->ComboBox1->currentText().toStdString(), "e:\\|e:");
    // An arrow released in the list shows the note of the row it reached.
    list->SelectRow(ListRowOf(*form, "a.zip"));
    SendKey(list->ActiveView(), Qt::Key_Down);
    ASSERT_EQ(list->SelectedRow()->Name, "readme.txt");
    EXPECT_EQ(form->ui->ListNoteLabel->text(), QStringLiteral("  Top readme"));
    // An arrow released in the tree opens the node it reached.
    ASSERT_GE(form->SelectTreeNodeByText("f: [MUSIC]"), 0);
    SendKey(form->ui->TreeView1, Qt::Key_Down);
    EXPECT_EQ(form->Browse.LoadedDisc, form->ui->TreeView1->currentItem()->text(0).toStdString());
}

TEST_F(BrowseFormTest, OpenDiscLeavesTheFileTableFilteredToIt)
{
    auto form = OpenStandard();
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
    auto form = OpenStandard();
    form->resize(900, 700);
    form->ui->Panel2->show();
    form->show();
    form->ui->Panel3->resize(300, 320);
    form->LayoutSearchPanel();
    EXPECT_EQ((std::vector<int>{form->ui->Edit1->width(), form->ui->ComboBox2->width(), form->ui->ScrollBox1->width(),
                                form->ui->Shape1->width()}),
              (std::vector<int>{249, 249, 272, 283}));
    // Centred, the divisions truncating.
    EXPECT_EQ(form->ui->ScrollBox1->x(), (300 - 1 - 272) / 2);
    EXPECT_EQ(form->ui->Shape1->x(), (300 - 1 - 283) / 2);
    EXPECT_EQ(form->ui->Shape1->y(), (320 - form->ui->Shape1->height()) / 2);
    EXPECT_EQ(form->ui->Panel5->x(), form->ui->ScrollBox1->x());
    // The criteria fit the scroll box's width.
    EXPECT_LE(form->ui->Panel6->width(), 272);
    // The scroll box was a small fixed box in a large panel: it takes the room the criteria
    // need, within the panel, and never less than its form height.
    form->ui->Panel3->resize(300, 700);
    form->LayoutSearchPanel();
    EXPECT_GE(form->ui->ScrollBox1->height(), form->ui->Panel6->height());
    EXPECT_LE(form->ui->Shape1->geometry().bottom(), 700);
    form->ui->SpeedButton1->click();
    form->ui->SpeedButton2->click();
    EXPECT_GE(form->ui->ScrollBox1->height(), form->ui->Panel6->height()) << "criteria opened";
    form->ui->Panel3->resize(300, 150);
    form->LayoutSearchPanel();
    EXPECT_EQ(form->ui->ScrollBox1->height(), 200);
    form->close();
}
