// What the main window shows stays whole and in one place: status panels wide
// enough for their texts in each language, the language change that keeps
// window and place, saved sizes fitting the screen, the report's columns, and
// tree, list, path box and status bar following every navigation.
#include <QHeaderView>
#include <QProgressBar>
#include <QScreen>
#include <QTreeView>

#include "app/MainFormTestSupport.h"

namespace {

constexpr const char *kDisc = "t: [Žluťoučký kůň a dlhé meno]";

class MainViewTest : public MainFormTablesTest {
protected:
    void Add(const std::string &disc, const std::string &number, const std::string &path, const std::string &name,
             int type = 1)
    {
        AppendRecord(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", number},
                             {"Size", type == 0 ? "0" : "1536"}, {"Attrib", type == 0 ? 0x10 : 0x20}, {"Type", type}});
    }
    // kDisc with a/b/c/d nested and 3092 files at its root (the status text of
    // a large disc), a second disc, and a third read from the same drive
    // letter, with a folder of the same name.
    void MakeCatalog(const std::string &ini = "")
    {
        for (const auto &[name, number, size] : std::vector<std::tuple<std::string, const char *, const char *>>{
                 {kDisc, "1234", "258019.61 mb"}, {"u: [OTHER]", "2", "1 kb"}, {"t: [SECOND]", "3", "2 kb"}})
            AppendRecord(discs, {{"CdName", name}, {"Number", number}, {"CdSize", size}, {"CType", 1}});
        for (int i = 0; i < 3087; ++i)
            Add(kDisc, "1234", "t:\\", "file" + std::to_string(i) + ".txt");
        Add(kDisc, "1234", "t:\\a\\b\\c\\", "deep.txt");
        for (const auto &[path, name] : std::vector<std::pair<const char *, const char *>>{
                 {"t:\\a\\b\\c\\", "d"}, {"t:\\a\\b\\", "c"}, {"t:\\a\\", "b"}, {"t:\\", "a"}})
            Add(kDisc, "1234", path, name, 0);
        Add("u: [OTHER]", "2", "u:\\", "other.txt");
        Add("t: [SECOND]", "3", "t:\\a\\", "second.txt");
        Add("t: [SECOND]", "3", "t:\\", "a", 0);
        SaveCat("Setup12=0\nSetup16=0\n" + ini);
    }
    std::unique_ptr<TMainForm> Open(const std::string &ini = "")
    {
        MakeCatalog(ini);
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->resize(1000, 600);
        form->FormShow();
        return form;
    }
    static QTreeWidgetItem *Node(TMainForm &form, const char *text)
    {
        const auto found = form.ui->TreeView1->findItems(QString::fromUtf8(text), Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    static void Enter(TMainForm &form, std::initializer_list<const char *> names)
    {
        for (const char *name : names) {
            form.ui->LinksListView->SelectRow(ListRowOf(form, name));
            form.LinksListViewDblClick();
        }
    }
    // Tree, list, path box and status bar show the same place.
    static void ExpectOnePlace(TMainForm &form, const std::string &path, const char *node)
    {
        EXPECT_EQ(form.Browse.CurrentPath, path);
        EXPECT_EQ(form.ui->ComboBox1->currentText().toStdString(), path.substr(0, path.size() - 1));
        ASSERT_TRUE(form.ui->TreeView1->currentItem());
        EXPECT_EQ(form.ui->TreeView1->currentItem()->text(0), QString::fromUtf8(node));
        for (const TFileRow &r : form.ui->LinksListView->Model()->Rows())
            EXPECT_EQ(r.Path, path);
    }
    static std::string FilesText() { return " 3092 " + langunit::LangString(54) + " - 258019.61 mb"; }
};

} // namespace

TEST_F(MainViewTest, StatusPanelsAndReportColumnsFollowEachLanguage)
{
    auto form = Open();
    TStatusBarCont *bar = form->ui->StatusBar1;
    QTreeView *report = form->ui->LinksListView->ReportView();
    for (int c = 0; c < TFileListModel::ColumnCount; ++c)
        EXPECT_EQ(report->isColumnHidden(c), c >= 5) << c;
    for (int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech}) {
        SCOPED_TRACE(language);
        langunit::SetCurrentLanguage(language);
        form->RelabelInLanguage();
        EXPECT_EQ(bar->Panel(2).Text.toStdString(), FilesText());
        for (int panel = 0; panel < 3; ++panel) {
            const QString text = bar->Panel(panel).Text;
            ASSERT_FALSE(text.isEmpty()) << panel;
            // The painted text: 2 pixels in, in the panel's font (bold for 0 and 1).
            const int needed = QFontMetrics(form->StatusPanelFont(panel)).horizontalAdvance(text) + 2;
            EXPECT_GE(bar->PanelRect(panel).width(), needed) << panel;
        }
        // Panels do not overlap, and the progress bar starts after the third.
        EXPECT_GT(bar->PanelRect(1).left(), bar->PanelRect(0).right());
        EXPECT_GT(bar->PanelRect(2).left(), bar->PanelRect(1).right());
        EXPECT_GE(form->ProgressBar1->x(), bar->PanelRect(3).left());
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(report->model()->headerData(c, Qt::Horizontal).toString().toStdString(),
                      langunit::LangString(46 + c));
    }
    // A short text keeps the panel's own width.
    bar->SetPanelText(1, QStringLiteral(" [1]"));
    EXPECT_EQ(bar->Panel(1).Width, 50);
}

TEST_F(MainViewTest, SavedWindowSizeFitsTheScreen)
{
    // A screen smaller than the least usable size still gives a usable window.
    const QSize screen(1400, 900);
    for (const auto &[w, h, available, fitted] : std::vector<std::tuple<int, int, QSize, QSize>>{
             {742, 999999, screen, {742, 900}}, {99999, 525, screen, {1400, 525}}, {0, -5, screen, {320, 240}},
             {742, 525, screen, {742, 525}}, {742, 525, {200, 100}, {320, 240}}})
        EXPECT_EQ(TMainForm::ClampWindowSize(w, h, available), fitted) << w << "x" << h;
    auto form = Open("Setup8=742\nSetup9=999999\n");
    const QSize space = form->screen()->availableGeometry().size();
    EXPECT_LE(form->height(), space.height());
    EXPECT_LE(form->width(), space.width());
}

TEST_F(MainViewTest, ChoosingALanguageKeepsTheWindowTheTreeAndThePlace)
{
    auto form = Open();
    Enter(*form, {"a", "b"});
    form->resize(900, 650);
    QTreeWidgetItem *b = Node(*form, "b");
    ASSERT_TRUE(b);
    ASSERT_TRUE(b->parent()->isExpanded());
    form->ui->ComboBox3->setCurrentIndex(1);
    langunit::SetCurrentLanguage(langunit::LangCzech);
    form->RelabelInLanguage();
    EXPECT_EQ(form->size(), QSize(900, 650));
    EXPECT_EQ(Node(*form, "b"), b); // the tree was not rebuilt
    EXPECT_TRUE(b->parent()->isExpanded());
    ExpectOnePlace(*form, "t:\\a\\b\\", "b");
    EXPECT_EQ(form->ui->ComboBox3->currentIndex(), 1);
    EXPECT_EQ(form->ui->Label4->text().toStdString(), langunit::LangString(42));
    EXPECT_EQ(StatusText(*form, 2).toStdString(), FilesText());
    EXPECT_EQ(form->ui->LinksListView->Model()->Rows().front().SizeText, "0 " + langunit::LangString(83) + " ");
}

TEST_F(MainViewTest, TreeFollowsUpBackForwardAndTypedPaths)
{
    auto form = Open();
    Enter(*form, {"a", "b", "c"});
    ExpectOnePlace(*form, "t:\\a\\b\\c\\", "c");
    form->UpButtonClick();
    ExpectOnePlace(*form, "t:\\a\\b\\", "b");
    form->ui->ComboBox1->setEditText(QStringLiteral("t:\\a\\b\\c"));
    form->ComboBox1Change();
    ExpectOnePlace(*form, "t:\\a\\b\\c\\", "c");
    // Two Backs, then Forward goes one step at a time; back to the home path
    // and forward again: one step each.
    using Step = std::tuple<void (TMainForm::*)(), const char *, const char *>;
    const auto back = &TMainForm::BackButtonClick, forward = &TMainForm::ForwardButtonClick;
    for (const auto &[click, path, node] : std::vector<Step>{
             {back, "t:\\a\\b\\", "b"}, {back, "t:\\a\\", "a"}, {forward, "t:\\a\\b\\", "b"},
             {forward, "t:\\a\\b\\c\\", "c"}, {back, "t:\\a\\b\\", "b"}, {back, "t:\\a\\", "a"}, {back, "t:\\", kDisc},
             {forward, "t:\\a\\", "a"}}) {
        (form.get()->*click)();
        ExpectOnePlace(*form, path, node);
        EXPECT_EQ(form->ui->ForwardButton->isEnabled(), std::string(path) != "t:\\a\\b\\c\\") << path;
    }
}

TEST_F(MainViewTest, KeysThatMoveTheTreeSelectionRefillTheList)
{
    auto form = Open();
    form->ui->LinksListView->SelectRow(0);
    form->LinksListViewClick();
    EXPECT_FALSE(StatusText(*form, 3).isEmpty());
    QTreeWidget *tree = form->ui->TreeView1;
    tree->setFocus();
    SendKey(tree, Qt::Key_End);
    ASSERT_TRUE(tree->currentItem());
    EXPECT_EQ(form->Browse.LoadedDisc, "t: [SECOND]");
    ExpectOnePlace(*form, "t:\\", "t: [SECOND]");
    // The status bar speaks of the disc shown, not of the entry clicked on the other.
    EXPECT_EQ(StatusText(*form, 0), QStringLiteral(" t: [SECOND] "));
    EXPECT_TRUE(StatusText(*form, 3).isEmpty());
    SendKey(tree, Qt::Key_Home);
    EXPECT_EQ(form->Browse.LoadedDisc, kDisc);
    ExpectOnePlace(*form, "t:\\", kDisc);
}

TEST_F(MainViewTest, DiscsAndFoldersShowAnArrowAndOpenWhenExpanded)
{
    auto form = Open();
    QTreeWidgetItem *other = Node(*form, "u: [OTHER]"), *a = Node(*form, "a");
    ASSERT_TRUE(other && a);
    EXPECT_EQ(other->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(a->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    // Expanding it (its arrow) reads its level and shows it.
    a->setExpanded(true);
    ASSERT_EQ(a->childCount(), 1);
    ExpectOnePlace(*form, "t:\\a\\", "a");
    // A folder without sub-folders loses its arrow once opened.
    QTreeWidgetItem *d = a;
    for (int level = 0; level < 3; ++level) {
        d = d->child(0);
        ASSERT_TRUE(d) << level;
        d->setExpanded(true);
    }
    EXPECT_EQ(d->childCount(), 0);
    EXPECT_EQ(d->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    ExpectOnePlace(*form, "t:\\a\\b\\c\\d\\", "d");
    // Expanding another disc opens it.
    other->setExpanded(true);
    EXPECT_EQ(form->Browse.LoadedDisc, "u: [OTHER]");
}

TEST_F(MainViewTest, FolderNodeOfADiscNotOpenOpensItsDiscFirst)
{
    auto form = Open();
    QTreeWidgetItem *a = Node(*form, "a");
    ASSERT_TRUE(a);
    a->setExpanded(true); // reads the level under a of the first disc
    OpenDisc(*form, "t: [SECOND]");
    ASSERT_EQ(form->Browse.LoadedDisc, "t: [SECOND]");
    // Its "a" holds second.txt; the node under the first disc must list that disc's "a".
    form->ui->TreeView1->setCurrentItem(a);
    form->TreeView1Click();
    EXPECT_EQ(form->Browse.LoadedDisc, kDisc);
    ExpectOnePlace(*form, "t:\\a\\", "a");
    EXPECT_EQ(ListNamesOf(*form), std::vector<std::string>{"b"});
    EXPECT_EQ(StatusText(*form, 0), QString::fromUtf8(" t: [Žluťoučký kůň a dlhé meno] "));
}

TEST_F(MainViewTest, LevelsGoUnderTheirOwnNodeOnly)
{
    auto form = Open();
    // Typed deep: the levels on the way are read, so the folder's own node is selected.
    form->ui->ComboBox1->setEditText(QStringLiteral("t:\\a\\b"));
    form->ComboBox1Change();
    QTreeWidgetItem *a = Node(*form, "a");
    ASSERT_TRUE(a);
    ASSERT_EQ(a->childCount(), 1);
    EXPECT_EQ(form->ui->TreeView1->currentItem(), a->child(0));
    ExpectOnePlace(*form, "t:\\a\\b\\", "b");
    Enter(*form, {"c"}); // lists c, whose folder d must not become a child of a
    EXPECT_EQ(form->Browse.CurrentPath, "t:\\a\\b\\c\\");
    for (int i = 0; i < a->childCount(); ++i)
        EXPECT_NE(a->child(i)->text(0), QStringLiteral("d"));
}

// A disc opened again shows the levels read before open; a folder whose level
// was never read is closed with its arrow, and opening it reads the level.
TEST_F(MainViewTest, ReopenedDiscShowsItsUnreadFoldersClosedWithAnArrow)
{
    auto form = Open();
    QTreeWidgetItem *a = Node(*form, "a");
    ASSERT_TRUE(a);
    a->setExpanded(true); // reads b
    OpenDisc(*form, "u: [OTHER]");
    OpenDisc(*form, kDisc);
    EXPECT_TRUE(a->parent()->isExpanded());
    EXPECT_TRUE(a->isExpanded());
    ASSERT_EQ(a->childCount(), 1);
    QTreeWidgetItem *b = a->child(0);
    EXPECT_EQ(b->childCount(), 0);
    EXPECT_FALSE(b->isExpanded());
    EXPECT_EQ(b->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    b->setExpanded(true);
    EXPECT_TRUE(b->isExpanded());
    ASSERT_EQ(b->childCount(), 1);
    ExpectOnePlace(*form, "t:\\a\\b\\", "b");
    // The disc opened first by its node, the one listed at start: the same.
    OpenDisc(*form, "t: [SECOND]");
    QTreeWidgetItem *second = Node(*form, "t: [SECOND]");
    ASSERT_TRUE(second && second->childCount() == 1);
    OpenDisc(*form, "u: [OTHER]");
    OpenDisc(*form, "t: [SECOND]");
    EXPECT_FALSE(second->child(0)->isExpanded());
    EXPECT_EQ(second->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
}
