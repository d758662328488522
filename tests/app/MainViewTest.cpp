// What the main window shows stays whole and in one place: status panels wide
// enough for their texts in each language, a bound folder's disc size, the
// language change that keeps window and place, saved sizes fitting the
// screen, the report's columns, and tree, list, path box and status bar
// following every navigation.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>

#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/MainScan.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

namespace fs = std::filesystem;

namespace {

class MainViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
        files.Name = "files";
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        discs.Name = "discs";
        AddFieldDefs(discs, DiscTableLayout());
        discs.Open();
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    void AddDisc(const std::string &name, const std::string &number, const std::string &size)
    {
        discs.Append();
        discs.FieldByName("CdName").SetAsString(name);
        discs.FieldByName("Number").SetAsString(number);
        discs.FieldByName("CdSize").SetAsString(size);
        discs.FieldByName("CType").SetAsInteger(1);
        discs.Post();
    }
    void Add(const std::string &disc, const std::string &number, const std::string &path, const std::string &name,
             int type)
    {
        files.Append();
        files.FieldByName("Path").SetAsString(path);
        files.FieldByName("Name").SetAsString(name);
        files.FieldByName("Namecd").SetAsString(disc);
        files.FieldByName("Number").SetAsString(number);
        files.FieldByName("Size").SetAsString(type == 0 ? "0" : "1536");
        files.FieldByName("Attrib").SetAsInteger(type == 0 ? 0x10 : 0x20);
        files.FieldByName("Type").SetAsInteger(type);
        files.Post();
    }
    // "t: [Žluťoučký kůň a dlhé meno]" with a/b/c/d nested and 3092 files at
    // its root (the status text of a large disc), and a second disc.
    void MakeCatalog(const std::string &ini = "")
    {
        AddDisc(kDisc, "1234", "258019.61 mb");
        AddDisc("u: [OTHER]", "2", "1 kb");
        for (int i = 0; i < 3087; ++i)
            Add(kDisc, "1234", "t:\\", "file" + std::to_string(i) + ".txt", 1);
        Add(kDisc, "1234", "t:\\a\\b\\c\\", "deep.txt", 1);
        Add(kDisc, "1234", "t:\\a\\b\\c\\", "d", 0);
        Add(kDisc, "1234", "t:\\a\\b\\", "c", 0);
        Add(kDisc, "1234", "t:\\a\\", "b", 0);
        Add(kDisc, "1234", "t:\\", "a", 0);
        Add("u: [OTHER]", "2", "u:\\", "other.txt", 1);
        // A second disc read from the same drive letter, with a folder of the same name.
        AddDisc("t: [SECOND]", "3", "2 kb");
        Add("t: [SECOND]", "3", "t:\\a\\", "second.txt", 1);
        Add("t: [SECOND]", "3", "t:\\", "a", 0);
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=0\nSetup16=0\nSetup20=1\n"
                                       "Setup_Text4=Cat\n" + ini);
    }
    std::unique_ptr<TMainForm> Open()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->resize(1000, 600);
        form->FormShow();
        return form;
    }
    static QTreeWidgetItem *Node(TMainForm &form, const QString &text)
    {
        const auto found = form.ui->TreeView1->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    static void Enter(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                form.ui->LinksListView->SelectRow(static_cast<int>(i));
        form.LinksListViewDblClick();
    }
    // Tree, list, path box and status bar show the same place.
    static void ExpectOnePlace(TMainForm &form, const std::string &path, const QString &node)
    {
        EXPECT_EQ(form.Browse.CurrentPath, path);
        std::string box = path.substr(0, path.size() - 1);
        EXPECT_EQ(form.ui->ComboBox1->currentText().toStdString(), box);
        ASSERT_TRUE(form.ui->TreeView1->currentItem());
        EXPECT_EQ(form.ui->TreeView1->currentItem()->text(0), node);
        for (const TFileRow &r : form.ui->LinksListView->Model()->Rows())
            EXPECT_EQ(r.Path, path);
    }

    static constexpr const char *kDisc = "t: [Žluťoučký kůň a dlhé meno]";
    orbtest::TempDir dir;
    std::string data;
    TFlatTable files, discs;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

TEST_F(MainViewTest, StatusPanelsAreAsWideAsTheirTextsInEachLanguage)
{
    MakeCatalog();
    auto form = Open();
    TStatusBarCont *bar = form->ui->StatusBar1;
    for (int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech}) {
        langunit::SetCurrentLanguage(language);
        form->RelabelInLanguage();
        const std::string files = bar->Panel(2).Text.toStdString();
        EXPECT_EQ(files, " 3092 " + langunit::LangString(54) + " - 258019.61 mb") << language;
        for (int panel = 0; panel < 3; ++panel) {
            const QString text = bar->Panel(panel).Text;
            ASSERT_FALSE(text.isEmpty()) << panel;
            // The painted text: 2 pixels in, in the panel's font (bold for 0 and 1).
            const int needed = QFontMetrics(form->StatusPanelFont(panel)).horizontalAdvance(text) + 2;
            EXPECT_GE(bar->PanelRect(panel).width(), needed) << "language " << language << " panel " << panel;
        }
        // Panels do not overlap, and the progress bar starts after the third.
        EXPECT_GT(bar->PanelRect(1).left(), bar->PanelRect(0).right());
        EXPECT_GT(bar->PanelRect(2).left(), bar->PanelRect(1).right());
        EXPECT_GE(form->ProgressBar1->x(), bar->PanelRect(3).left());
    }
    // A short text keeps the panel's own width.
    bar->SetPanelText(1, QStringLiteral(" [1]"));
    EXPECT_EQ(bar->Panel(1).Width, 50);
}

TEST_F(MainViewTest, BoundFolderIsCataloguedWithTheBytesOfItsFiles)
{
    TScanVolume volume;
    volume.totalBytes = 258019ull * 1024 * 1024; // the file system that holds the folder
    volume.boundFolder = true;
    EXPECT_EQ(ScanDiscBytes(volume, 3221225472ull), 3221225472ull);
    EXPECT_EQ(ScanSizeText(ScanDiscBytes(volume, 3221225472ull)), "3072 mb");
    EXPECT_EQ(ScanDiscBytes(volume, 0), 0u);
    volume.boundFolder = false; // a volume of its own: its size
    EXPECT_EQ(ScanDiscBytes(volume, 3221225472ull), volume.totalBytes);
}

TEST_F(MainViewTest, SavedWindowSizeFitsTheScreen)
{
    const QSize screen(1400, 900);
    EXPECT_EQ(TMainForm::ClampWindowSize(742, 999999, screen), QSize(742, 900));
    EXPECT_EQ(TMainForm::ClampWindowSize(99999, 525, screen), QSize(1400, 525));
    EXPECT_EQ(TMainForm::ClampWindowSize(0, -5, screen), QSize(320, 240));
    EXPECT_EQ(TMainForm::ClampWindowSize(742, 525, screen), QSize(742, 525));
    // A screen smaller than the least usable size still gives a usable window.
    EXPECT_EQ(TMainForm::ClampWindowSize(742, 525, QSize(200, 100)), QSize(320, 240));

    MakeCatalog("Setup8=742\nSetup9=999999\n");
    auto form = Open();
    const QSize available = form->screen()->availableGeometry().size();
    EXPECT_LE(form->height(), available.height());
    EXPECT_LE(form->width(), available.width());
}

TEST_F(MainViewTest, ChoosingALanguageKeepsTheWindowTheTreeAndThePlace)
{
    MakeCatalog();
    auto form = Open();
    Enter(*form, "a");
    Enter(*form, "b");
    form->resize(900, 650);
    QTreeWidgetItem *b = Node(*form, QStringLiteral("b"));
    ASSERT_TRUE(b);
    ASSERT_TRUE(b->parent()->isExpanded());
    form->ui->ComboBox3->setCurrentIndex(1);

    langunit::SetCurrentLanguage(langunit::LangCzech);
    form->RelabelInLanguage();
    EXPECT_EQ(form->size(), QSize(900, 650));
    EXPECT_EQ(Node(*form, QStringLiteral("b")), b); // the tree was not rebuilt
    EXPECT_TRUE(b->parent()->isExpanded());
    ExpectOnePlace(*form, "t:\\a\\b\\", QStringLiteral("b"));
    EXPECT_EQ(form->ui->ComboBox3->currentIndex(), 1);
    EXPECT_EQ(form->ui->Label4->text().toStdString(), langunit::LangString(42));
    EXPECT_EQ(form->ui->StatusBar1->Panel(2).Text.toStdString(), " 3092 " + langunit::LangString(54) + " - 258019.61 mb");
    EXPECT_EQ(form->ui->LinksListView->Model()->Rows().front().SizeText, "0 " + langunit::LangString(83) + " ");
}

TEST_F(MainViewTest, ReportShowsItsFiveColumnsTranslated)
{
    MakeCatalog();
    auto form = Open();
    QTreeView *report = form->ui->LinksListView->ReportView();
    for (int c = 0; c < TFileListModel::ColumnCount; ++c)
        EXPECT_EQ(report->isColumnHidden(c), c >= 5) << c;
    for (int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech}) {
        langunit::SetCurrentLanguage(language);
        form->RelabelInLanguage();
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(report->model()->headerData(c, Qt::Horizontal).toString().toStdString(),
                      langunit::LangString(46 + c));
    }
}

TEST_F(MainViewTest, TreeFollowsUpBackForwardAndTypedPaths)
{
    MakeCatalog();
    auto form = Open();
    Enter(*form, "a");
    Enter(*form, "b");
    Enter(*form, "c");
    ExpectOnePlace(*form, "t:\\a\\b\\c\\", QStringLiteral("c"));
    form->UpButtonClick();
    ExpectOnePlace(*form, "t:\\a\\b\\", QStringLiteral("b"));
    form->ui->ComboBox1->setEditText(QStringLiteral("t:\\a\\b\\c"));
    form->ComboBox1Change();
    ExpectOnePlace(*form, "t:\\a\\b\\c\\", QStringLiteral("c"));

    // Two Backs, then Forward goes one step at a time.
    form->BackButtonClick();
    ExpectOnePlace(*form, "t:\\a\\b\\", QStringLiteral("b"));
    form->BackButtonClick();
    ExpectOnePlace(*form, "t:\\a\\", QStringLiteral("a"));
    form->ForwardButtonClick();
    ExpectOnePlace(*form, "t:\\a\\b\\", QStringLiteral("b"));
    EXPECT_TRUE(form->ui->ForwardButton->isEnabled());
    form->ForwardButtonClick();
    ExpectOnePlace(*form, "t:\\a\\b\\c\\", QStringLiteral("c"));
    EXPECT_FALSE(form->ui->ForwardButton->isEnabled());
    // Back to the home path and forward again: one step each.
    form->BackButtonClick();
    form->BackButtonClick();
    form->BackButtonClick();
    ExpectOnePlace(*form, "t:\\", QString::fromUtf8(kDisc));
    form->ForwardButtonClick();
    ExpectOnePlace(*form, "t:\\a\\", QStringLiteral("a"));
}

TEST_F(MainViewTest, KeysThatMoveTheTreeSelectionRefillTheList)
{
    MakeCatalog();
    auto form = Open();
    form->ui->LinksListView->SelectRow(0);
    form->LinksListViewClick();
    EXPECT_FALSE(form->ui->StatusBar1->Panel(3).Text.isEmpty());
    QTreeWidget *tree = form->ui->TreeView1;
    tree->setFocus();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(tree, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(tree, &release);
    ASSERT_TRUE(tree->currentItem());
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("t: [SECOND]"));
    EXPECT_EQ(form->Browse.LoadedDisc, "t: [SECOND]");
    ExpectOnePlace(*form, "t:\\", QStringLiteral("t: [SECOND]"));
    // The status bar speaks of the disc shown, not of the entry clicked on the other.
    EXPECT_EQ(form->ui->StatusBar1->Panel(0).Text, QStringLiteral(" t: [SECOND] "));
    EXPECT_TRUE(form->ui->StatusBar1->Panel(3).Text.isEmpty());

    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(tree, &home);
    QKeyEvent homeUp(QEvent::KeyRelease, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(tree, &homeUp);
    EXPECT_EQ(form->Browse.LoadedDisc, kDisc);
    ExpectOnePlace(*form, "t:\\", QString::fromUtf8(kDisc));
}

TEST_F(MainViewTest, DiscsAndFoldersShowAnArrowAndOpenWhenExpanded)
{
    MakeCatalog();
    auto form = Open();
    QTreeWidgetItem *other = Node(*form, QStringLiteral("u: [OTHER]"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QTreeWidgetItem *a = Node(*form, QStringLiteral("a"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(a->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    // Expanding it (its arrow) reads its level and shows it.
    a->setExpanded(true);
    ASSERT_EQ(a->childCount(), 1);
    ExpectOnePlace(*form, "t:\\a\\", QStringLiteral("a"));
    // A folder without sub-folders loses its arrow once opened.
    QTreeWidgetItem *b = a->child(0);
    b->setExpanded(true);
    QTreeWidgetItem *c = b->child(0);
    ASSERT_TRUE(c);
    c->setExpanded(true);
    QTreeWidgetItem *d = c->child(0);
    ASSERT_TRUE(d);
    d->setExpanded(true);
    EXPECT_EQ(d->childCount(), 0);
    EXPECT_EQ(d->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    ExpectOnePlace(*form, "t:\\a\\b\\c\\d\\", QStringLiteral("d"));
    // Expanding another disc opens it.
    other->setExpanded(true);
    EXPECT_EQ(form->Browse.LoadedDisc, "u: [OTHER]");
}

TEST_F(MainViewTest, FolderNodeOfADiscNotOpenOpensItsDiscFirst)
{
    MakeCatalog();
    auto form = Open();
    QTreeWidgetItem *a = Node(*form, QStringLiteral("a"));
    ASSERT_TRUE(a);
    a->setExpanded(true); // reads the level under a of the first disc
    ASSERT_GE(form->SelectTreeNodeByText("t: [SECOND]"), 0);
    form->TreeView1Click();
    ASSERT_EQ(form->Browse.LoadedDisc, "t: [SECOND]");
    // Its "a" holds second.txt; the node under the first disc must list that disc's "a".
    form->ui->TreeView1->setCurrentItem(a);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.LoadedDisc, kDisc);
    ExpectOnePlace(*form, "t:\\a\\", QStringLiteral("a"));
    ASSERT_EQ(form->ui->LinksListView->Count(), 1);
    EXPECT_EQ(form->ui->LinksListView->Model()->Rows().front().Name, "b");
    EXPECT_EQ(form->ui->StatusBar1->Panel(0).Text, QString::fromUtf8(" t: [Žluťoučký kůň a dlhé meno] "));
}

TEST_F(MainViewTest, LevelsGoUnderTheirOwnNodeOnly)
{
    MakeCatalog();
    auto form = Open();
    // Typed deep: the tree has only the first level, so "a" is the nearest node.
    form->ui->ComboBox1->setEditText(QStringLiteral("t:\\a\\b"));
    form->ComboBox1Change();
    QTreeWidgetItem *a = Node(*form, QStringLiteral("a"));
    ASSERT_TRUE(a);
    EXPECT_EQ(form->ui->TreeView1->currentItem(), a);
    Enter(*form, "c"); // lists c, whose folder d must not become a child of a
    EXPECT_EQ(form->Browse.CurrentPath, "t:\\a\\b\\c\\");
    for (int i = 0; i < a->childCount(); ++i)
        EXPECT_NE(a->child(i)->text(0), QStringLiteral("d"));
}
