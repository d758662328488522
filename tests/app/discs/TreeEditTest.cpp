// The tree-editing mode of the main window: groups, drag and drop inside the
// tree, the up/down control, and the tree file written or thrown away when
// the mode ends.
#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

#include "app/browse/FileListView.h"
#include "ui_MainForm.h"

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

class TreeEditTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        TCatalogBuilder b;
        int number = 0;
        for (const char *disc : {"e: [DATA]", "e: [DATA]1", "f: [MUSIC]"})
            b.Disc({disc, std::to_string(++number), "", "", 0, "", 2});
        b.Disc({"Abbey Road", "4", "", "", 2, "", 2}); // an audio CD named by its title
        b.Write(data, "Cat");
        Ini("Cat");
        form = Open();
        treeFile = data + "/CdNames/Cat_cdname.dat";
    }
    void TearDown() override
    {
        form.reset();
        DataFolderTest::TearDown();
    }
    QTreeWidgetItem *Node(const std::string &text) const
    {
        const auto found = form->ui->TreeView1->findItems(QString::fromStdString(text),
                                                          Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    void Select(const std::string &text)
    {
        ASSERT_NE(Node(text), nullptr) << text;
        form->ui->TreeView1->setCurrentItem(Node(text));
    }
    void Add(const std::string &text, bool child)
    {
        form->ui->RadioGroup1->findChild<QRadioButton *>(child ? "RadioGroup1Item1" : "RadioGroup1Item0")
            ->setChecked(true);
        form->ui->Edit2->setText(QString::fromStdString(text));
        form->ui->Button3->click();
    }
    // Drops each [dragged, target] pair in turn.
    void Drop(std::initializer_list<std::pair<const char *, const char *>> moves)
    {
        for (const auto &[dragged, target] : moves) {
            Select(dragged);
            form->TreeView1DragDrop(Node(target));
        }
    }
    Names Shown() const { return TreeTexts(form->TreeRecords(form->ui->TreeView1)); }
    Names OnDisk() const
    {
        std::vector<TTreeRecord> records;
        return ReadTreeFile(treeFile, records) ? TreeTexts(records) : Names{"<unreadable>"};
    }

    std::string treeFile;
    std::unique_ptr<TMainForm> form;
};

TEST_F(TreeEditTest, TheModeLocksOtherCommandsAndGivesThemBack)
{
    EXPECT_TRUE(form->ui->DeleteButton->isEnabled());
    form->ui->EditTreeButton->click();
    ASSERT_TRUE(form->TreeEditing);
    EXPECT_FALSE(form->ui->EditTreePanel->isHidden());
    EXPECT_TRUE(form->ui->EditTreeMenu->isChecked());
    for (QWidget *w : std::initializer_list<QWidget *>{form->ui->DeleteButton, form->ui->ScanButton, form->ui->RunButton,
                                                      form->ui->CopyButton, form->ui->OrganizeButton,
                                                      form->ui->OpenButton, form->ui->LinksListView})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (QAction *a : form->ui->FileMenu->actions())
        EXPECT_TRUE(a->isSeparator() || !a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(form->ui->EditTreeMenu->isEnabled());
    // The menu item leaves the mode as the button does.
    form->ui->EditTreeMenu->trigger();
    EXPECT_FALSE(form->TreeEditing);
    EXPECT_FALSE(form->ui->EditTreeButton->isChecked());
    EXPECT_TRUE(form->ui->EditTreePanel->isHidden());
    for (QWidget *w : std::initializer_list<QWidget *>{form->ui->DeleteButton, form->ui->ScanButton,
                                                      form->ui->OpenButton, form->ui->LinksListView})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    for (QAction *a : form->ui->FileMenu->actions())
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    // Leaving the mode wrote the tree file, which the tree is read from now.
    EXPECT_EQ(OnDisk(), (Names{"Abbey Road", "e: [DATA]", "e: [DATA]1", "f: [MUSIC]"}));
}

TEST_F(TreeEditTest, GroupsDragAndDropAndOrderAreWrittenToTheTreeFile)
{
    form->ui->EditTreeButton->click();
    Add("Music", false);
    Add("Backups", false);
    Select("Music");
    Add("Rock", true);
    Select("f: [MUSIC]");
    Add("Under a disc", true); // refused: a disc takes no child
    EXPECT_EQ(Node("Under a disc"), nullptr);
    EXPECT_EQ(form->ui->Edit2->text(), QStringLiteral("Under a disc")); // the text stays

    // A top-level disc dropped on a group becomes its last child.
    Drop({{"f: [MUSIC]", "Music"}, {"Abbey Road", "Music"}, {"e: [DATA]", "Backups"}});
    EXPECT_EQ(Shown(), (Names{"e: [DATA]1", "Music", "  Rock", "  f: [MUSIC]", "  Abbey Road", "Backups",
                              "  e: [DATA]"}));

    // Refused: a group into itself or below itself, anything onto a disc.
    Drop({{"Music", "Rock"}, {"Music", "Music"}, {"e: [DATA]1", "e: [DATA]"}, {"Backups", "e: [DATA]1"}});
    EXPECT_FALSE(form->TreeDropAllowed(Node("Music"), Node("Rock")));
    EXPECT_FALSE(form->TreeDropAllowed(Node("e: [DATA]1"), Node("f: [MUSIC]")));
    EXPECT_EQ(Shown(), (Names{"e: [DATA]1", "Music", "  Rock", "  f: [MUSIC]", "  Abbey Road", "Backups",
                              "  e: [DATA]"}));

    // A nested node dropped on another node goes before it, as its sibling.
    Drop({{"Abbey Road", "Rock"}, {"e: [DATA]", "Music"}});
    EXPECT_EQ(Shown(), (Names{"e: [DATA]1", "e: [DATA]", "Music", "  Abbey Road", "  Rock", "  f: [MUSIC]",
                              "Backups"}));

    // Up and down among siblings; nothing moves past the ends.
    Select("f: [MUSIC]");
    form->ui->UpDown1->stepUp();
    form->ui->UpDown1->stepUp();
    form->ui->UpDown1->stepUp(); // already first
    EXPECT_EQ(form->ui->UpDown1->value(), 0);
    Select("Backups");
    form->ui->UpDown1->stepDown(); // already last
    Select("e: [DATA]1");
    form->ui->UpDown1->stepDown();
    EXPECT_EQ(Shown(), (Names{"e: [DATA]", "e: [DATA]1", "Music", "  f: [MUSIC]", "  Abbey Road", "  Rock",
                              "Backups"}));
    // The down arrow moves the next sibling before the node, children and all.
    Select("Music");
    form->ui->UpDown1->stepDown();
    EXPECT_EQ(Shown(), (Names{"e: [DATA]", "e: [DATA]1", "Backups", "Music", "  f: [MUSIC]", "  Abbey Road",
                              "  Rock"}));

    // OK in the panel writes the file.
    form->Button5Click();
    EXPECT_FALSE(form->TreeEditing);
    EXPECT_EQ(OnDisk(), Shown());
    std::vector<TTreeRecord> records;
    ASSERT_TRUE(ReadTreeFile(treeFile, records));
    EXPECT_EQ(records[3].kind, NodeKindGroup);
    EXPECT_EQ(records[4].kind, NodeKindDisc);
    // A fresh window reads the arrangement back.
    form.reset();
    form = Open();
    // (The first disc is open, with its folder below it.)
    EXPECT_EQ(Shown(), (Names{"e: [DATA]", "  dir", "e: [DATA]1", "Backups", "Music", "  f: [MUSIC]",
                              "  Abbey Road", "  Rock"}));
}

TEST_F(TreeEditTest, OnlyEmptyGroupsAreDeletedAndOnlyGroupLabelsEdited)
{
    form->ui->EditTreeButton->click();
    Add("Music", false);
    Select("Music");
    Add("Rock", true);
    Add("[old]", false);
    Select("Music");
    form->Button4Click();
    Select("[old]");
    form->Button4Click();
    Select("Abbey Road"); // a disc, though its name has no brackets
    form->Button4Click();
    ASSERT_EQ(prompt.Asked().size(), 3u);
    for (const PromptRequest &r : prompt.Asked())
        EXPECT_EQ(r.text.toStdString(), langunit::LangString(133));
    EXPECT_NE(Node("Abbey Road"), nullptr);
    Select("Rock");
    form->ui->SpeedButton6->click();
    EXPECT_EQ(Node("Rock"), nullptr);
    EXPECT_EQ(prompt.Asked().size(), 3u);

    auto editable = [&](const std::string &text) {
        Select(text);
        form->EditTreeClick();
        return (Node(text)->flags() & Qt::ItemIsEditable) != 0;
    };
    EXPECT_TRUE(editable("Music"));
    EXPECT_FALSE(editable("[old]"));
    EXPECT_FALSE(editable("e: [DATA]"));
    EXPECT_FALSE(editable("Abbey Road"));
}

TEST_F(TreeEditTest, CancelWithoutATreeFileCreatesNoneAndThePanelsLabelsAreClickable)
{
    form->ui->EditTreeButton->click();
    Add("Music", false);
    form->ui->SpeedButton7->click();
    EXPECT_FALSE(fs::exists(treeFile));
    EXPECT_EQ(Node("Music"), nullptr);
    auto click = [](QWidget *label) {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &release);
    };
    form->ui->EditTreeButton->click();
    Add("Music", false);
    Select("Music");
    click(form->ui->Label12); // delete the empty group
    EXPECT_EQ(Node("Music"), nullptr);
    Add("Music", false);
    click(form->ui->Label13); // cancel
    EXPECT_FALSE(form->TreeEditing);
    EXPECT_FALSE(fs::exists(treeFile));
    form->ui->EditTreeButton->click();
    Add("Music", false);
    click(form->ui->Label14); // OK
    EXPECT_FALSE(form->TreeEditing);
    EXPECT_EQ(OnDisk().back(), "Music");
}

TEST_F(TreeEditTest, ATreeFileThatCannotBeWrittenKeepsTheMode)
{
    form->ui->EditTreeButton->click();
    Add("Music", false);
    {
        TObeyPermissions obey;
        TReadOnlyFolder locked(data + "/CdNames");
        form->ui->SpeedButton8->click();
    }
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Error);
    EXPECT_TRUE(form->TreeEditing);
    EXPECT_TRUE(form->ui->EditTreeButton->isChecked());
    EXPECT_NE(Node("Music"), nullptr);
    form->ui->SpeedButton8->click();
    EXPECT_FALSE(form->TreeEditing);
    EXPECT_EQ(OnDisk().back(), "Music");
}

} // namespace
