// Deleting, renaming and moving discs against real catalogue files: after each
// command both tables and the tree file are read back from disk.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "app/discs/MoveForm.h"
#include "app/discs/RenameCD.h"
#include "ui_MainForm.h"
#include "ui_RenameCDForm.h"

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

const Names kStandard{"e: [DATA]", "e: [DATA]1", "f: [MUSIC]"};

class DiscCommandsTest : public DataFolderTest<> {
protected:
    // "Cat": e: [DATA] (with note and picture) and e: [DATA]1 in a group, f: [MUSIC] at the top.
    void StandardCatalog()
    {
        TCatalogBuilder b;
        b.Disc({"e: [DATA]", "7", "Backup disc", "1234", 3, "PICTURE\x01\x02", 4});
        b.Disc({"e: [DATA]1", "12", "", "", 0, "", 2});
        b.Disc({"f: [MUSIC]", "3", "", "", 2, "", 2});
        b.withTree = true;
        b.tree = {{0, "Backups", 0, 1, NodeKindGroup},
                  {1, "e: [DATA]", 0, 1, NodeKindDisc},
                  {1, "e: [DATA]1", 0, 1, NodeKindDisc},
                  {0, "f: [MUSIC]", 0, 1, NodeKindDisc}};
        b.Write(data, "Cat");
        Ini("Cat");
    }
    TCatalogOnDisk Disk(const std::string &name = "Cat") const { return TCatalogOnDisk::Read(data, name); }
    void ExpectStandardOnDisk()
    {
        const TCatalogOnDisk disk = Disk();
        EXPECT_EQ(disk.discNames, kStandard);
        EXPECT_EQ(disk.filesPerDisc.at("e: [DATA]"), 4);
        EXPECT_EQ(TreeTexts(disk.tree), (Names{"Backups", "  e: [DATA]", "  e: [DATA]1", "f: [MUSIC]"}));
    }
    // Opens the rename dialog for `disc` as the pop-up command does.
    TRenameCDForm *OpenRename(TMainForm &form, const std::string &disc)
    {
        EXPECT_GE(form.SelectTreeNodeByText(disc), 0);
        form.TreeView1Click();
        form.RenameCDMenuClick();
        auto *dialog = form.findChild<TRenameCDForm *>();
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    // Types `text` as the new name and presses OK; true when the dialog closed.
    static bool Rename(TRenameCDForm *dialog, const QString &text)
    {
        QPointer<TRenameCDForm> alive(dialog);
        dialog->ui->Edit2->setText(text);
        dialog->OkButtonClick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return alive.isNull();
    }
};

TEST(DiscNameTexts, SplitJoinAndCatalogNames)
{
    std::string prefix;
    EXPECT_EQ(SplitDiscName("e: [DATA]12", prefix), "DATA");
    EXPECT_EQ(prefix, "e: [");
    EXPECT_EQ(JoinDiscName(prefix, "NEW"), "e: [NEW]");
    // A name without brackets comes back whole and keeps the last prefix.
    EXPECT_EQ(SplitDiscName("Abbey Road", prefix), "Abbey Road");
    EXPECT_EQ(prefix, "e: [");
    EXPECT_EQ(SplitDiscName("d: [Žluťoučký kůň]", prefix), "Žluťoučký kůň");
    EXPECT_EQ(prefix, "d: [");
    EXPECT_EQ(CatalogNameFromFile("Cat_cdname.d"), "Cat");
    EXPECT_EQ(CatalogNameFromFile("a_cdname.d_cdname.d"), "a");
}

TEST(DiscTreeRecords, DiscNodesAreFoundBeforeGroupsAndRemovedWithTheirSubtree)
{
    std::vector<TTreeRecord> tree = {{0, "e: [DATA]", 0, 1, NodeKindGroup}, // a group that looks like a disc
                                     {1, "e: [data]", 0, 1, NodeKindDisc},
                                     {3, "folder", 0, 1, NodeKindNone}, // level jump: a child all the same
                                     {0, "e: [DATA]", 0, 1, NodeKindDisc},
                                     {1, "sub", 0, 1, NodeKindNone},
                                     {0, "last", 0, 1, NodeKindGroup}};
    EXPECT_EQ(FindDiscNode(tree, "e: [DATA]"), 3);
    EXPECT_EQ(FindDiscNode(tree, "E: [Data]"), 1);
    EXPECT_EQ(FindDiscNode(tree, "none"), -1);
    RemoveTreeNode(tree, 1);
    EXPECT_EQ(TreeTexts(tree), (Names{"e: [DATA]", "e: [DATA]", "  sub", "last"}));
    RemoveTreeNode(tree, 1);
    EXPECT_EQ(TreeTexts(tree), (Names{"e: [DATA]", "last"}));
}

TEST_F(DiscCommandsTest, DeleteAsksAndRemovesExactlyTheDiscsRecordsWhateverFilterIsOn)
{
    StandardCatalog();
    auto form = Open();
    ASSERT_GE(form->SelectTreeNodeByText("Backups"), 0);
    form->DeleteButtonClick(); // a group: no question, nothing deleted, the user told to choose a CD
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), ChooseDiscText());
    ASSERT_GE(form->SelectTreeNodeByText("e: [DATA]"), 0);
    prompt.Answer(PromptResult::Yes);
    {
        TObeyPermissions obey;
        TReadOnlyFolder locked(data + "/CdNames");
        form->ui->DeleteButton->click(); // through the handler boundary: the error is shown
    }
    ASSERT_EQ(prompt.Asked().size(), 3u);
    EXPECT_NE(prompt.Asked()[2].text.toStdString().find("Cat_cdname.d"), std::string::npos);
    ExpectStandardOnDisk();
    // The tables in memory were put back too: a later save writes the disc again.
    form->FlatTable1->SetFiltered(false);
    EXPECT_EQ(form->FlatTable1->RecordCount(), 8);
    EXPECT_TRUE(form->LocateDiscRecord("e: [DATA]"));
    prompt.Answer(PromptResult::No);
    form->DeleteButtonClick();
    EXPECT_EQ(prompt.Asked().size(), 4u);
    ExpectStandardOnDisk();
    // A search-like filter that shows only one record of the disc.
    form->FlatTable1->SetOnFilterRecord(
        [](TDataSet *d, bool &accept) { accept = d->FieldByName("Name").AsString() == "file1.txt"; });
    form->FlatTable1->SetFiltered(true);
    prompt.Answer(PromptResult::Yes);
    form->DeleteButtonClick();
    ASSERT_EQ(prompt.Asked().size(), 5u);
    EXPECT_EQ(prompt.Asked()[4].text.toStdString(), langunit::LangString(55) + "  : e: [DATA]");
    EXPECT_EQ(prompt.Asked()[4].defaultButton, PromptResult::No);
    const TCatalogOnDisk disk = Disk();
    EXPECT_EQ(disk.discNames, (Names{"e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_EQ(disk.filesPerDisc, (std::map<std::string, int>{{"e: [DATA]1", 2}, {"f: [MUSIC]", 2}}));
    EXPECT_EQ(TreeTexts(disk.tree), (Names{"Backups", "  e: [DATA]1", "f: [MUSIC]"}));
    // The window shows the rest, from the first node on: a group, which opens no disc.
    EXPECT_EQ(form->ui->TreeView1->topLevelItemCount(), 2);
    ASSERT_TRUE(form->ui->TreeView1->currentItem());
    EXPECT_EQ(form->ui->TreeView1->currentItem()->text(0).toStdString(), "Backups");
    EXPECT_EQ(form->Browse.CurrentDisc, "");
    EXPECT_EQ(form->FileRecordCount(), 4);
}

TEST_F(DiscCommandsTest, DeletingTheLastDiscLeavesAnEmptyTreeAndList)
{
    TCatalogBuilder b;
    b.Disc({"e: [ONLY]", "1", "", "", 0, "", 3});
    b.Write(data, "Cat");
    Ini("Cat");
    auto form = Open();
    ASSERT_GE(form->SelectTreeNodeByText("e: [ONLY]"), 0);
    prompt.Answer(PromptResult::Yes);
    form->DeleteButtonClick();
    const TCatalogOnDisk disk = Disk();
    EXPECT_TRUE(disk.discNames.empty());
    EXPECT_TRUE(disk.filesPerDisc.empty());
    EXPECT_FALSE(disk.treeExists); // a catalogue without a tree file gets none
    EXPECT_EQ(form->ui->TreeView1->topLevelItemCount(), 0);
    EXPECT_EQ(form->ui->LinksListView->Count(), 0);
    EXPECT_TRUE(form->ui->ComboBox1->currentText().isEmpty());
    EXPECT_TRUE(form->ui->StaticText2->text().isEmpty());
}

// A tree file older than the tables (after a restore from the backups) can name a
// disc whose record is gone: its files and its node still go, by the node's name.
TEST_F(DiscCommandsTest, DeleteOfADiscWithoutItsRecordRemovesItsFilesAndNode)
{
    StandardCatalog();
    {
        TFlatTable discs;
        discs.SetTableName(data + "/CdNames/Cat_cdname.d");
        discs.Open();
        ASSERT_TRUE(discs.Locate("CdName", TVariant(std::string("e: [DATA]1")), {}));
        discs.Delete();
        discs.SaveToFile(discs.FullFileName());
    }
    // A node with neither a record nor files.
    std::vector<TTreeRecord> tree = Disk().tree;
    tree.push_back({0, "g: [GHOST]", 0, 1, NodeKindDisc});
    ASSERT_TRUE(WriteTreeFile(data + "/CdNames/Cat_cdname.dat", tree));
    auto form = Open();
    for (const char *name : {"e: [DATA]1", "g: [GHOST]"}) {
        SCOPED_TRACE(name);
        ASSERT_GE(form->SelectTreeNodeByText(name), 0);
        const size_t asked = prompt.Asked().size();
        prompt.Answer(PromptResult::Yes);
        form->DeleteButtonClick();
        ASSERT_EQ(prompt.Asked().size(), asked + 1) << "the question only, no refusal";
        EXPECT_EQ(form->SelectTreeNodeByText(name), -1);
    }
    const TCatalogOnDisk disk = Disk();
    EXPECT_EQ(disk.discNames, (Names{"e: [DATA]", "f: [MUSIC]"}));
    EXPECT_EQ(disk.filesPerDisc, (std::map<std::string, int>{{"e: [DATA]", 4}, {"f: [MUSIC]", 2}}));
    EXPECT_EQ(TreeTexts(disk.tree), (Names{"Backups", "  e: [DATA]", "f: [MUSIC]"}));
    // A name found nowhere (no record, no file, no node) changes nothing and says so.
    const auto before = Snapshot(data);
    EXPECT_FALSE(DeleteDiscEverywhere(form->OpenDiscCatalog(), "z: [NONE]"));
    EXPECT_EQ(Snapshot(data), before);
    EXPECT_EQ(form->FlatTable1->ChangeCount(), 0);
    EXPECT_EQ(form->CdNameTable->ChangeCount(), 0);
}

TEST_F(DiscCommandsTest, RenameChangesRecordFilesNodeNoteAndPictureTogether)
{
    StandardCatalog();
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ui->Edit1->text(), QStringLiteral("DATA"));
    EXPECT_EQ(dialog->ui->Edit2->text(), QStringLiteral("DATA"));
    EXPECT_TRUE(dialog->ui->Edit1->isReadOnly());
    // Exactly 50 bytes with the drive and brackets, many of them two-byte letters.
    const std::string text = "Žluťoučký kůň úpěl ďábelské ódy 1", renamed = "e: [" + text + "]";
    ASSERT_EQ(renamed.size(), 50u);
    EXPECT_TRUE(Rename(dialog, QString::fromStdString(text)));
    EXPECT_TRUE(prompt.Asked().empty());
    const TCatalogOnDisk disk = Disk();
    EXPECT_EQ(disk.discNames, (Names{renamed, "e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_EQ(disk.disc.at(renamed), (TDiscSpec{renamed, "7", "Backup disc", "1234", 3, "PICTURE\x01\x02", 4}));
    EXPECT_EQ(disk.filesPerDisc.count("e: [DATA]"), 0u);
    EXPECT_EQ(disk.filesPerDisc.at("e: [DATA]1"), 2);
    EXPECT_EQ(TreeTexts(disk.tree), (Names{"Backups", "  " + renamed, "  e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_GE(form->SelectTreeNodeByText(renamed), 0);

    // The disc open when the dialog opened is renamed, though another is opened meanwhile;
    // its name splits to "DATA", which would join to the other disc's name.
    dialog = OpenRename(*form, "e: [DATA]1");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ui->Edit1->text(), QStringLiteral("DATA"));
    ASSERT_GE(form->SelectTreeNodeByText("f: [MUSIC]"), 0);
    form->TreeView1Click();
    EXPECT_TRUE(Rename(dialog, QStringLiteral("OTHER")));
    EXPECT_EQ(Disk().discNames, (Names{renamed, "e: [OTHER]", "f: [MUSIC]"}));
    EXPECT_EQ(Disk().filesPerDisc.at("e: [OTHER]"), 2);
}

// A rename of the disc table that fails after the commit is made: the command
// stands, in memory and in the window, and the next open completes its files.
TEST_F(DiscCommandsTest, RenameAndDeleteWhoseCommitIsUnfinishedShowTheirChange)
{
    StandardCatalog();
    auto form = Open();
    auto failDiscTable = [] {
        SetRenameFaultHook([](const std::string &, const std::string &to) {
            return fs::path(to).filename() == "Cat_cdname.d" ? EIO : 0;
        });
    };
    TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]1");
    ASSERT_NE(dialog, nullptr);
    failDiscTable();
    EXPECT_TRUE(Rename(dialog, QStringLiteral("NEW")));
    SetRenameFaultHook(nullptr);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("opened next"), std::string::npos);
    EXPECT_GE(form->SelectTreeNodeByText("e: [NEW]"), 0);
    EXPECT_EQ(form->SelectTreeNodeByText("e: [DATA]1"), -1);
    form.reset();
    form = Open();
    EXPECT_EQ(Disk().discNames, (Names{"e: [DATA]", "e: [NEW]", "f: [MUSIC]"}));

    ASSERT_GE(form->SelectTreeNodeByText("f: [MUSIC]"), 0);
    prompt.Answer(PromptResult::Yes);
    failDiscTable();
    form->ui->DeleteButton->click();
    SetRenameFaultHook(nullptr);
    ASSERT_EQ(prompt.Asked().size(), 3u);
    EXPECT_NE(prompt.Asked()[2].text.toStdString().find("opened next"), std::string::npos)
        << prompt.Asked()[2].text.toStdString();
    EXPECT_EQ(form->SelectTreeNodeByText("f: [MUSIC]"), -1);
    form.reset();
    auto again = Open();
    const TCatalogOnDisk disk = Disk();
    EXPECT_EQ(disk.discNames, (Names{"e: [DATA]", "e: [NEW]"}));
    EXPECT_EQ(disk.filesPerDisc.at("e: [NEW]"), 2);
    EXPECT_EQ(disk.filesPerDisc.count("f: [MUSIC]"), 0u);
}

TEST_F(DiscCommandsTest, RenameRefusesEmptyAndTooLongNamesCountsTakenOnesOnAndIgnoresAnUnchangedOne)
{
    StandardCatalog();
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Rename(dialog, QString()));
    EXPECT_EQ(prompt.Asked().back().text.toStdString(), langunit::LangString(98));
    ASSERT_TRUE(Rename(dialog, QStringLiteral("music"))); // free: f: [MUSIC] has another drive
    EXPECT_EQ(Disk().discNames, (Names{"e: [music]", "e: [DATA]1", "f: [MUSIC]"}));
    dialog = OpenRename(*form, "e: [music]");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(Rename(dialog, QStringLiteral("DATA"))); // free again
    EXPECT_EQ(prompt.Asked().size(), 1u);

    dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_NE(dialog, nullptr);
    AddRecord(*form->CdNameTable, {{"CdName", "e: [TAKEN]"}});
    const struct {
        QString text;
        std::string told;
    } refused[] = {{QStringLiteral("   "), langunit::LangString(98)},                              // blanks only
                   {QString::fromStdString(std::string(45, 'x') + "y"), DiscNameTooLongText()}}; // one over
    for (const auto &r : refused) {
        SCOPED_TRACE(r.told);
        ASSERT_FALSE(Rename(dialog, r.text));
        EXPECT_EQ(prompt.Asked().back().text.toStdString(), r.told);
    }
    EXPECT_EQ(Disk().discNames, kStandard);
    // Unchanged: the dialog closes and the name stays (no counter appended).
    EXPECT_TRUE(Rename(dialog, QStringLiteral("DATA")));
    EXPECT_EQ(Disk().discNames, kStandard);

    // Another disc's name (in other letter case too) gets the counter, shown in the edit first;
    // the counter keeps rising past a name that holds it already.
    AddRecord(*form->CdNameTable, {{"CdName", "e: [TAKEN]1"}});
    dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_NE(dialog, nullptr);
    QString shown;
    QObject::connect(dialog->ui->Edit2, &QLineEdit::textChanged, [&](const QString &t) { shown = t; });
    EXPECT_TRUE(Rename(dialog, QStringLiteral("taken")));
    EXPECT_EQ(shown, QStringLiteral("e: [taken]2"));
    EXPECT_EQ(Disk().discNames, (Names{"e: [taken]2", "e: [DATA]1", "f: [MUSIC]", "e: [TAKEN]", "e: [TAKEN]1"}));
    EXPECT_EQ(Disk().filesPerDisc.at("e: [taken]2"), 4);
}

// The disc's own name in another letter case is no other disc's name: it is taken as typed,
// without a counter, on the disc's records and node.
TEST_F(DiscCommandsTest, RenameToItsOwnNameInAnotherLetterCaseTakesNoCounter)
{
    StandardCatalog();
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Rename(dialog, QStringLiteral("data")));
    EXPECT_TRUE(prompt.Asked().empty());
    const TCatalogOnDisk disk = Disk();
    EXPECT_EQ(disk.discNames, (Names{"e: [data]", "e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_EQ(disk.filesPerDisc.at("e: [data]"), 4);
    EXPECT_EQ(disk.filesPerDisc.count("e: [DATA]"), 0u);
    EXPECT_EQ(TreeTexts(disk.tree), (Names{"Backups", "  e: [data]", "  e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_GE(form->SelectTreeNodeByText("e: [data]"), 0);
}

TEST_F(DiscCommandsTest, RenameKeepsABracketInTheNameCountsCharactersAndLeavesGroupsAlone)
{
    TCatalogBuilder b;
    b.Disc({"w: [ab ]x[ cd]", "1", "", "", 0, "", 2});
    b.Disc({"e: [DATA]", "2", "", "", 0, "", 1});
    b.withTree = true;
    b.tree = {{0, "Group", 0, 1, NodeKindGroup}, {1, "e: [DATA]", 0, 1, NodeKindDisc},
              {0, "w: [ab ]x[ cd]", 0, 1, NodeKindDisc}};
    b.Write(data, "Cat");
    Ini("Cat");
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, "w: [ab ]x[ cd]");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ui->Edit2->text(), QStringLiteral("ab ]x[ cd"));
    EXPECT_TRUE(Rename(dialog, dialog->ui->Edit2->text())); // unchanged: nothing cut, nothing stored
    EXPECT_EQ(Disk().discNames, (Names{"w: [ab ]x[ cd]", "e: [DATA]"}));
    // 40 Czech letters: 45 characters with drive and brackets, far more than 50 bytes.
    const QString czech = QString::fromUtf8("ěščřžýáíéůěščřžýáíéůěščřžýáíéůěščřžýáíéů");
    ASSERT_EQ(czech.size(), 40);
    dialog = OpenRename(*form, "w: [ab ]x[ cd]");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Rename(dialog, czech));
    const std::string renamed = "w: [" + czech.toStdString() + "]";
    EXPECT_EQ(Disk().discNames, (Names{renamed, "e: [DATA]"}));
    EXPECT_TRUE(prompt.Asked().empty());

    // The group node selected after browsing e: [DATA]: nothing opens, the user is told.
    ASSERT_GE(form->SelectTreeNodeByText("e: [DATA]"), 0);
    form->TreeView1Click();
    ASSERT_GE(form->SelectTreeNodeByText("Group"), 0);
    form->RenameCDMenuClick();
    EXPECT_EQ(form->findChild<TRenameCDForm *>(), nullptr);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked().back().text.toStdString(), ChooseDiscText());
    EXPECT_EQ(Disk().discNames, (Names{renamed, "e: [DATA]"}));
}

TEST_F(DiscCommandsTest, ADiscNamedByItsAudioTitleIsRenamedWhole)
{
    TCatalogBuilder b;
    b.Disc({"e: [DATA]", "1", "", "", 0, "", 2});
    b.Disc({"Abbey Road", "2", "", "", 2, "", 3});
    b.Write(data, "Cat");
    Ini("Cat");
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]"); // leaves the prefix "e: [" behind
    ASSERT_NE(dialog, nullptr);
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    dialog = OpenRename(*form, "Abbey Road");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ui->Edit1->text(), QStringLiteral("Abbey Road"));
    EXPECT_TRUE(Rename(dialog, QStringLiteral("Let It Be")));
    EXPECT_EQ(Disk().discNames, (Names{"e: [DATA]", "Let It Be"}));
    EXPECT_EQ(Disk().filesPerDisc.at("Let It Be"), 3);
}

// The dialog is modeless: a catalogue opened while it waits (one with a disc of the same name)
// must not have its disc renamed by OK, and the catalogue it was opened on keeps its name too.
TEST_F(DiscCommandsTest, RenameDialogClosesWhenAnotherCatalogueIsOpened)
{
    StandardCatalog();
    TCatalogBuilder other;
    other.Disc({"e: [DATA]", "1", "", "", 0, "", 2});
    other.Write(data, "Other");
    const auto before = Snapshot(data);
    auto form = Open();
    QPointer<TRenameCDForm> dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_FALSE(dialog.isNull());
    ASSERT_TRUE(form->OpenCatalogFile(data + "/Other.d"));
    ASSERT_EQ(form->CatalogName, "Other");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
    if (dialog) // the OK the user would press on it
        Rename(dialog, QStringLiteral("NEW"));
    EXPECT_EQ(Snapshot(data), before);
    EXPECT_TRUE(prompt.Asked().empty());
    // On the catalogue it was opened on, it still renames.
    ASSERT_TRUE(form->OpenCatalogFile(data + "/Cat.d"));
    dialog = OpenRename(*form, "e: [DATA]");
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(Rename(dialog, QStringLiteral("NEW")));
    EXPECT_EQ(Disk().discNames, (Names{"e: [NEW]", "e: [DATA]1", "f: [MUSIC]"}));
    EXPECT_EQ(Disk("Other").discNames, Names{"e: [DATA]"});
}

// Update and Delete act on the disc of the node selected; with a group selected after a disc was
// shown, they say to choose a CD as Rename does, and neither opens nor deletes anything.
TEST_F(DiscCommandsTest, UpdateAndDeleteWithAGroupSelectedSayToChooseACd)
{
    StandardCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [DATA]");
    ASSERT_GE(form->SelectTreeNodeByText("Backups"), 0);
    std::vector<std::string> opened;
    TMainForm::RunModal = [&](QDialog &d) {
        opened.push_back(d.metaObject()->className());
        return int(QDialog::Rejected);
    };
    const std::vector<std::function<void()>> commands = {[&] { form->UpdateToolButtonClick(); },
                                                         [&] { form->DeleteButtonClick(); },
                                                         [&] { form->RenameCDMenuClick(); }};
    for (size_t i = 0; i < commands.size(); ++i) {
        SCOPED_TRACE(i);
        commands[i]();
        ASSERT_EQ(prompt.Asked().size(), i + 1);
        EXPECT_EQ(prompt.Asked().back().text.toStdString(), ChooseDiscText());
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(form->findChild<TRenameCDForm *>(), nullptr);
    ExpectStandardOnDisk();
    // The disc's own node (or a folder of it) selected again: Update opens the wizard for it.
    ASSERT_GE(form->SelectTreeNodeByText("e: [DATA]"), 0);
    form->UpdateToolButtonClick();
    EXPECT_EQ(opened, std::vector<std::string>{"TNewRecordForm"});
    EXPECT_EQ(prompt.Asked().size(), commands.size());
}

TEST_F(DiscCommandsTest, RenameThatCannotBeSavedLeavesEverythingAsItWas)
{
    for (const char *locked : {"CdNames", ""}) {
        SCOPED_TRACE(locked);
        StandardCatalog();
        auto form = Open();
        TRenameCDForm *dialog = OpenRename(*form, "e: [DATA]");
        ASSERT_NE(dialog, nullptr);
        {
            TObeyPermissions obey;
            TReadOnlyFolder folder(data + "/" + locked);
            Rename(dialog, QStringLiteral("NEW"));
        }
        ASSERT_FALSE(prompt.Asked().empty());
        EXPECT_EQ(prompt.Asked().back().icon, PromptIcon::Error);
        ExpectStandardOnDisk();
        EXPECT_TRUE(form->LocateDiscRecord("e: [DATA]"));
        EXPECT_FALSE(form->LocateDiscRecord("e: [NEW]"));
        // Saved again later, the tables still carry the old name everywhere.
        form->FlatTable1->SetFiltered(false);
        form->FlatTable1->SaveToFile(data + "/Cat.d");
        EXPECT_EQ(Disk().filesPerDisc.at("e: [DATA]"), 4);
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

class MoveTest : public DiscCommandsTest {
protected:
    // "Cat" (open) holds e: [DATA] with `records` files, its note and picture, and a tree
    // file; "Other" already holds a disc of that name, and a tree file.
    void TwoCatalogs(int records)
    {
        TCatalogBuilder a;
        a.Disc({"e: [DATA]", "7", "Backup disc", "1234", 3, "PICTURE\x01\x02", records});
        a.Disc({"e: [KEEP]", "8", "", "", 0, "", 2});
        a.withTree = true;
        a.tree = {{0, "Group", 0, 1, NodeKindGroup}, {1, "e: [DATA]", 0, 1, NodeKindDisc},
                  {0, "e: [KEEP]", 0, 1, NodeKindDisc}};
        a.Write(data, "Cat");
        TCatalogBuilder b;
        b.Disc({"e: [DATA]", "5", "", "", 0, "", 1});
        b.Disc({"g: [X]", "6", "", "", 0, "", 0}); // a disc without file records still holds its number
        b.withTree = true;
        b.tree = {{0, "e: [DATA]", 0, 1, NodeKindDisc}, {0, "g: [X]", 0, 1, NodeKindDisc}};
        b.Write(data, "Other");
        Ini("Cat");
        form = Open();
        move = std::make_unique<TMoveForm>(form.get());
        source = Column("Cat");
        source->setCurrentItem(Item(source, "e: [DATA]"));
    }
    QTreeWidget *Column(const std::string &catalog)
    {
        const int at = move->ColumnOf(catalog);
        EXPECT_GE(at, 0) << catalog;
        return at < 0 ? nullptr : move->Columns()[static_cast<size_t>(at)].tree;
    }
    static QTreeWidgetItem *Item(QTreeWidget *tree, const std::string &text)
    {
        const auto found = tree->findItems(QString::fromStdString(text), Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.front();
    }
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TMoveForm> move;
    QTreeWidget *source = nullptr;
};

TEST_F(MoveTest, MoveCarriesFilesNoteAndPictureAndTreeNodes)
{
    TCatalogBuilder().Write(data, "Empty");
    TwoCatalogs(10000);
    ASSERT_EQ(move->Columns().size(), 3u);
    QTreeWidget *target = Column("Other");
    ASSERT_TRUE(source && target);
    EXPECT_EQ(source->objectName(), QStringLiteral("MoveTreeView%1").arg(move->ColumnOf("Cat")));
    move->TreeDragDrop(source, source); // dropped on its own column: nothing moves
    EXPECT_EQ(Disk().filesPerDisc.at("e: [DATA]"), 10000);

    move->TreeDragDrop(target, source);
    EXPECT_TRUE(prompt.Asked().empty());
    const TCatalogOnDisk a = Disk("Cat"), b = Disk("Other");
    EXPECT_EQ(a.discNames, (Names{"e: [KEEP]"}));
    EXPECT_EQ(a.filesPerDisc.count("e: [DATA]"), 0u);
    EXPECT_EQ(TreeTexts(a.tree), (Names{"Group", "e: [KEEP]"}));
    EXPECT_EQ(b.discNames, (Names{"e: [DATA]", "g: [X]", "e: [DATA]1"}));
    // Numbered past 5 of the files and 6 of the file-less disc.
    EXPECT_EQ(b.disc.at("e: [DATA]1"),
              (TDiscSpec{"e: [DATA]1", "7", "Backup disc", "1234", 3, "PICTURE\x01\x02", 10000}));
    EXPECT_EQ(b.fileNumberOf.at("e: [DATA]1"), "7");
    EXPECT_EQ(b.filesPerDisc.at("e: [DATA]"), 1);
    EXPECT_EQ(TreeTexts(b.tree), (Names{"e: [DATA]", "g: [X]", "e: [DATA]1"}));
    // The columns show the tables as they are now.
    EXPECT_EQ(Item(source, "e: [DATA]"), nullptr);
    EXPECT_NE(Item(target, "e: [DATA]1"), nullptr);
    // A file record keeps every other field.
    TFlatTable files;
    files.SetTableName(data + "/Other.d");
    files.Open();
    ASSERT_TRUE(files.Locate("Name", TVariant(std::string("file1.txt")), {}));
    files.Last();
    EXPECT_EQ(files.FieldByName("Namecd").AsString(), "e: [DATA]1");
    EXPECT_EQ(files.FieldByName("Path").AsString(), "e:\\dir\\");
    EXPECT_EQ(files.FieldByName("CdIdCode").AsString(), "1234");
    EXPECT_EQ(files.FieldByName("Size").AsString(), std::to_string(100 + 9999));
    // Into an empty catalogue: number 1, and no tree file made.
    source->setCurrentItem(Item(source, "e: [KEEP]"));
    move->TreeDragDrop(Column("Empty"), source);
    const TCatalogOnDisk c = Disk("Empty");
    EXPECT_EQ(c.discNames, (Names{"e: [KEEP]"}));
    EXPECT_EQ(c.disc.at("e: [KEEP]").number, "1");
    EXPECT_FALSE(c.treeExists);
    // Cancel still shows the main window the catalogue as it is on disk.
    move->reject();
    EXPECT_EQ(TopTexts(form->ui->TreeView1), (Names{"Group"}));
    EXPECT_EQ(form->SelectTreeNodeByText("e: [DATA]"), -1);
    EXPECT_EQ(form->FileRecordCount(), 0);
}

// With the sorted tree set, the organise window's columns list the discs as the main tree does:
// by name without regard to case, not capitals first.
TEST_F(MoveTest, SortedColumnsOrderNamesAsTheMainTreeWithoutRegardToCase)
{
    TCatalogBuilder a;
    for (const char *name : {"u: [zeta]", "Nový titul", "e: [Beta]", "Umelec - Album", "E: [alfa]", "e: [beta]"})
        a.Disc({name, "1", "", "", 0, "", 0});
    a.Write(data, "Cat");
    Ini("Cat"); // the sorted tree is set
    form = Open();
    const Names sorted = {"E: [alfa]", "e: [Beta]", "e: [beta]", "Nový titul", "u: [zeta]", "Umelec - Album"};
    EXPECT_EQ(TopTexts(form->ui->TreeView1), sorted);
    move = std::make_unique<TMoveForm>(form.get());
    EXPECT_EQ(TopTexts(Column("Cat")), sorted);
    // Without the setting the table's order stays.
    form->Settings[12] = 0;
    move = std::make_unique<TMoveForm>(form.get());
    EXPECT_EQ(TopTexts(Column("Cat")),
              (Names{"u: [zeta]", "Nový titul", "e: [Beta]", "Umelec - Album", "E: [alfa]", "e: [beta]"}));
}

TEST_F(MoveTest, MoveWhoseTargetCannotBeSavedLeavesBothAsTheyWere)
{
    TwoCatalogs(50);
    {
        TObeyPermissions obey;
        TReadOnlyFolder locked(data + "/CdNames"); // the target's file table saves, its disc table cannot
        move->TreeDragDrop(Column("Other"), source);
    }
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Error);
    const TCatalogOnDisk a = Disk("Cat"), b = Disk("Other");
    EXPECT_EQ(a.discNames, (Names{"e: [DATA]", "e: [KEEP]"}));
    EXPECT_EQ(a.filesPerDisc.at("e: [DATA]"), 50);
    EXPECT_EQ(b.discNames, (Names{"e: [DATA]", "g: [X]"}));
    EXPECT_EQ(b.filesPerDisc.size(), 1u);
    EXPECT_EQ(b.tree.size(), 2u);
    EXPECT_FALSE(move->MainCatalogChanged());
}

// A drop that cannot be made because a table does not open is told and makes
// nothing: no file table for a catalogue known only by its disc table. Such a
// catalogue with a sound disc table still takes the disc.
TEST_F(MoveTest, DropThatCannotOpenATableLeavesNoFileMade)
{
    dir.write("DiVovData/CdNames/Broken_cdname.d", "this is no table file");
    TCatalogBuilder lone, bad;
    lone.Disc({"z: [LONE]", "2", "", "", 0, "", 0});
    lone.Write(data, "Lone");
    fs::remove(data + "/Lone.d");
    bad.Disc({"y: [BAD]", "4", "", "", 0, "", 1});
    bad.Write(data, "Bad");
    dir.write("DiVovData/Bad.d", "this is no table file either");
    TwoCatalogs(5);
    const auto before = Snapshot(data);

    // The target's disc table is damaged.
    move->TreeDragDrop(Column("Broken"), source);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Error);
    // The source's file table is damaged, the target has none yet.
    QTreeWidget *badColumn = Column("Bad");
    ASSERT_TRUE(badColumn);
    badColumn->setCurrentItem(Item(badColumn, "y: [BAD]"));
    move->TreeDragDrop(Column("Lone"), badColumn);
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].icon, PromptIcon::Error);
    EXPECT_TRUE(Snapshot(data) == before);
    EXPECT_FALSE(fs::exists(data + "/Broken.d"));
    EXPECT_FALSE(fs::exists(data + "/Lone.d"));
    // Every table opens but the move cannot be saved.
    {
        TObeyPermissions obey;
        TReadOnlyFolder locked(data + "/CdNames");
        move->TreeDragDrop(Column("Lone"), source);
    }
    ASSERT_EQ(prompt.Asked().size(), 3u);
    EXPECT_TRUE(Snapshot(data) == before);

    move->TreeDragDrop(Column("Lone"), source);
    EXPECT_EQ(prompt.Asked().size(), 3u);
    const TCatalogOnDisk made = Disk("Lone");
    EXPECT_EQ(made.discNames, (Names{"z: [LONE]", "e: [DATA]"}));
    EXPECT_EQ(made.filesPerDisc.at("e: [DATA]"), 5);
}

// The source is saved last; when it fails, the target already written must be
// taken back. The two catalogues lie in a folder of their own here.
TEST_F(MoveTest, MoveWhoseSourceCannotBeSavedTakesTheTargetBack)
{
    const std::string src = dir.file("cats"), dst = src;
    TCatalogBuilder a, b;
    a.Disc({"e: [DATA]", "7", "note", "1", 0, "", 20});
    a.withTree = b.withTree = true;
    a.tree = {{0, "e: [DATA]", 0, 1, NodeKindDisc}};
    a.Write(src, "A");
    b.Disc({"f: [B]", "2", "", "", 0, "", 2});
    b.tree = {{0, "f: [B]", 0, 1, NodeKindDisc}};
    b.Write(dst, "B");
    auto open = [](const std::string &file) {
        auto t = std::make_unique<TFlatTable>();
        t->SetTableName(file);
        t->Open();
        return t;
    };
    auto af = open(src + "/A.d"), ad = open(src + "/CdNames/A_cdname.d");
    auto bf = open(dst + "/B.d"), bd = open(dst + "/CdNames/B_cdname.d");
    const TDiscCatalog source{af.get(), ad.get(), src + "/CdNames/A_cdname.dat"};
    const TDiscCatalog target{bf.get(), bd.get(), dst + "/CdNames/B_cdname.dat"};
    const auto before = Snapshot(dst);
    // The source's files cannot be written (a full disc, say).
    SetFileWriteFaultHook([](const std::string &file) {
        const std::string name = fs::path(file).filename().string();
        return name.rfind("A.", 0) == 0 || name.rfind("A_", 0) == 0 ? ENOSPC : 0;
    });
    EXPECT_THROW(MoveDiscBetween(source, target, "e: [DATA]"), std::exception);
    SetFileWriteFaultHook(nullptr);
    EXPECT_EQ(TCatalogOnDisk::Read(src, "A").filesPerDisc, (std::map<std::string, int>{{"e: [DATA]", 20}}));
    EXPECT_EQ(Snapshot(dst), before);
    EXPECT_EQ(bf->RecordCount(), 2);
    EXPECT_EQ(af->RecordCount(), 20);
    // With the files writable again the same tables move the disc.
    const TMoveOutcome moved = MoveDiscBetween(source, target, "e: [DATA]");
    EXPECT_TRUE(moved.moved);
    EXPECT_EQ(moved.newNumber, "3");
    EXPECT_EQ(TCatalogOnDisk::Read(dst, "B").filesPerDisc.at("e: [DATA]"), 20);
    EXPECT_TRUE(TCatalogOnDisk::Read(src, "A").discNames.empty());
}

} // namespace

namespace {

// A rename that fails once the journal is written: the move is made, the main
// window is told to read the catalogue again, and that open completes it.
TEST_F(MoveTest, MoveWhoseRenameFailsAfterTheCommitIsCompletedByTheReload)
{
    TwoCatalogs(20);
    SetRenameFaultHook([](const std::string &, const std::string &to) {
        return fs::path(to).filename() == "Cat_cdname.d" ? EIO : 0;
    });
    move->TreeDragDrop(Column("Other"), source);
    SetRenameFaultHook(nullptr);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("opened next"), std::string::npos);
    EXPECT_TRUE(move->MainCatalogChanged());
    move->reject();
    const TCatalogOnDisk a = Disk("Cat"), b = Disk("Other");
    EXPECT_EQ(a.discNames, (Names{"e: [KEEP]"}));
    EXPECT_EQ(a.filesPerDisc.count("e: [DATA]"), 0u);
    EXPECT_EQ(b.discNames, (Names{"e: [DATA]", "g: [X]", "e: [DATA]1"}));
    EXPECT_EQ(b.filesPerDisc.at("e: [DATA]1"), 20);
    EXPECT_EQ(form->SelectTreeNodeByText("e: [DATA]"), -1);
    EXPECT_FALSE(fs::exists(data + "/" + std::string(CommitJournalName)));
}

} // namespace
