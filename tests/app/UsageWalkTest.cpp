// A new user's walk through the browse, search and print commands of the main window: each
// test repeats steps that once showed a wrong result or failed without a word, and checks what
// the user sees.
#include <QButtonGroup>
#include <QMenu>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include <fstream>

#include <QMimeDatabase>
#include <QPrintPreviewDialog>

#include "app/print/BandReport.h"
#include "app/print/report.h"
#include "app/print/selunit.h"
#include "app/scan/newcd.h"
#include "support/TempDir.h"
#include "ui_PrintPrepareForm.h"
#include "util/BaseDateTime.h"
#include "widgets/ToolEdit.h"

#include "app/MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

Names Sorted(Names v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class UsageWalkTest : public MainFormTablesTest {
protected:
    void Add(const std::string &disc, const std::string &path, const std::string &name, int type,
             const std::string &size = "0", const std::string &note = "", TDateTime created = 0)
    {
        const std::string number = disc[0] == 't' ? "1" : "2";
        if (created == 0)
            created = EncodeDate(2003, 2, 1);
        AppendRecord(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", number},
                             {"Size", size}, {"Attrib", type == 0 ? 0x10 : 0x20}, {"Type", type}, {"Note", note},
                             {"CreateDate", DateTimeToStrFit(created + EncodeTime(12, 0, 0, 0), 20)}});
    }
    // Disc t: with folders, an archive and a 3 GiB file (its size as a scan reads it from a
    // sparse file); disc u: with one folder.
    void MakeCatalog()
    {
        files.EmptyTable();
        discs.EmptyTable();
        AppendRecord(discs, {{"CdName", "t: [FIRST]"}, {"Number", "1"}, {"CdSize", "3 gb"}, {"CType", 1}});
        AppendRecord(discs, {{"CdName", "u: [SECOND]"}, {"Number", "2"}, {"CdSize", "4 mb"}, {"CType", 1}});
        const std::string sparse = dir.file("big.iso");
        {
            std::ofstream(sparse).put('x');
        }
        fs::resize_file(sparse, 3ull << 30);
        Add("t: [FIRST]", "t:\\", "archives", 0);
        Add("t: [FIRST]", "t:\\", "proj1", 0);
        Add("t: [FIRST]", "t:\\", "readme.txt", 1, "2048", "Readme note");
        Add("t: [FIRST]", "t:\\", "big.iso", 1, std::to_string(fs::file_size(sparse)), "", EncodeDate(2020, 3, 15));
        Add("t: [FIRST]", "t:\\archives\\", "stored.rar", 1, "5000", "Archive note");
        Add("t: [FIRST]", "t:\\archives\\stored.rar\\", "member.txt", 1, "10");
        Add("t: [FIRST]", "t:\\proj1\\", "mod1", 0);
        Add("t: [FIRST]", "t:\\proj1\\mod1\\", "code.c", 1, "100", "Code note");
        Add("u: [SECOND]", "u:\\", "music", 0);
        Add("u: [SECOND]", "u:\\music\\", "song.mp3", 1, "4000000", "", EncodeDate(2019, 5, 1));
        Add("u: [SECOND]", "u:\\", "notes.txt", 1, "10");
        Add("u: [SECOND]", "u:\\", "data.qq7", 1, "10");
        Add("u: [SECOND]", "u:\\", "LICENCE", 1, "10");
        SaveCat("Setup12=0\nSetup16=1\n");
    }
    std::unique_ptr<TMainForm> OpenWalk()
    {
        MakeCatalog();
        auto form = Open();
        form->resize(1000, 700);
        return form;
    }
    static void Click(TMainForm &form, const std::string &name)
    {
        ASSERT_GE(ListRowOf(form, name), 0) << name;
        form.ui->LinksListView->SelectRow(ListRowOf(form, name));
        form.LinksListViewClick();
    }
    static void Enter(TMainForm &form, const std::string &name)
    {
        ASSERT_GE(ListRowOf(form, name), 0) << name;
        form.ui->LinksListView->SelectRow(ListRowOf(form, name));
        form.LinksListViewDblClick();
    }
    // Types `text` into the path box, key by key, and presses Enter. The keys go to the box,
    // which has the focus and hands them to its line edit, as on a desktop.
    static void Type(TMainForm &form, const QString &text, bool enter = true)
    {
        form.ui->ComboBox1->lineEdit()->clear();
        QTest::keyClicks(form.ui->ComboBox1, text);
        if (enter)
            QTest::keyClick(form.ui->ComboBox1, Qt::Key_Return);
    }
    static std::string NodePathOfCurrent(TMainForm &form)
    {
        const QTreeWidgetItem *node = form.ui->TreeView1->currentItem();
        return node ? TMainForm::NodePath(node) : std::string("<none>");
    }
    static Names Found(TMainForm &form)
    {
        Names out;
        for (const TSearchRow &r : form.ui->SearchView->Model()->Rows())
            out.push_back(r.Name);
        return Sorted(out);
    }
    // A search with empty name and note texts and the criteria `choose` set.
    static Names SearchWith(TMainForm &form, const std::function<void()> &choose)
    {
        if (!form.ui->FindButton->isChecked())
            form.ui->FindButton->click();
        form.ui->Edit1->clear();
        form.ui->Edit3->clear();
        form.ui->RadioButton1->setChecked(true);
        form.ui->RadioButton6->setChecked(true);
        form.ui->ComboBox2->setCurrentIndex(0);
        choose();
        form.ui->FilterButton->click();
        return Found(form);
    }
    // The day, month and year numbers of a date text, in the order written.
    static std::vector<int> DateNumbers(const QString &text)
    {
        std::vector<int> out;
        static const QRegularExpression number(QStringLiteral("\\d+"));
        for (auto it = number.globalMatch(text); it.hasNext() && out.size() < 3;)
            out.push_back(it.next().captured().toInt());
        return out;
    }
};

} // namespace

// Back to a disc's top folder showed an empty list: the top was recorded as "t:" and "t:\",
// and going back to "t:\" listed "t:\\". The status bar kept the entry of the folder left.
TEST_F(UsageWalkTest, BackToTheDiscTopListsItAndTheHistoryHoldsEachPlaceOnce)
{
    auto form = OpenWalk();
    OpenDisc(*form, "t: [FIRST]");
    form->TreeView1Click(); // the open disc's node clicked again: its top folder
    Click(*form, "archives");
    EXPECT_EQ(StatusText(*form, 3), QStringLiteral(" t:\\archives"));
    Enter(*form, "archives");
    Click(*form, "stored.rar");
    EXPECT_EQ(StatusText(*form, 3), QStringLiteral(" t:\\archives\\stored.rar"));
    form->ui->BackMenu->trigger();
    EXPECT_EQ(form->Browse.CurrentPath, "t:\\");
    EXPECT_EQ(form->ui->ComboBox1->currentText(), QStringLiteral("t:"));
    EXPECT_EQ(Sorted(ListNamesOf(*form)), (Names{"archives", "big.iso", "proj1", "readme.txt"}));
    EXPECT_TRUE(StatusText(*form, 3).isEmpty()) << StatusText(*form, 3).toStdString();
    EXPECT_EQ(form->Browse.ForwardList, (Names{"t:\\archives", "t:"}));
    // The forward menu offers the place to go to, not the place shown.
    ASSERT_EQ(form->PopupMenu2->actions().size(), 1);
    EXPECT_EQ(form->PopupMenu2->actions()[0]->toolTip(), QStringLiteral("t:\\archives"));
    form->ui->ForwardMenu->trigger();
    EXPECT_EQ(ListNamesOf(*form), Names{"stored.rar"});
    // Moving on by a typed path clears the entry panel too.
    Click(*form, "stored.rar");
    Type(*form, QStringLiteral("t:\\proj1\\mod1"));
    EXPECT_TRUE(StatusText(*form, 3).isEmpty()) << StatusText(*form, 3).toStdString();
}

// A typed path selected an ancestor's tree node, another disc's path listed nothing while tree and
// status bar stayed, and a path that does not exist emptied the list without a word.
TEST_F(UsageWalkTest, TypedPathsGoWhereTheySayOnAnyDiscOrSayTheyDoNotExist)
{
    auto form = OpenWalk();
    OpenDisc(*form, "t: [FIRST]");
    Type(*form, QStringLiteral("t:\\proj1\\mod1"));
    EXPECT_EQ(ListNamesOf(*form), Names{"code.c"});
    EXPECT_EQ(NodePathOfCurrent(*form), "t: [FIRST]\\proj1\\mod1");
    // An archive is a place too.
    Type(*form, QStringLiteral("t:\\archives\\stored.rar\\"));
    EXPECT_EQ(ListNamesOf(*form), Names{"member.txt"});
    EXPECT_EQ(form->ui->ComboBox1->currentText(), QStringLiteral("t:\\archives\\stored.rar"));
    // Another disc of the catalogue: it opens, and tree, list and status bar show the place.
    Type(*form, QStringLiteral("u:\\music"));
    EXPECT_EQ(form->Browse.LoadedDisc, "u: [SECOND]");
    EXPECT_EQ(ListNamesOf(*form), Names{"song.mp3"});
    EXPECT_EQ(NodePathOfCurrent(*form), "u: [SECOND]\\music");
    EXPECT_EQ(StatusText(*form, 0), QStringLiteral(" u: [SECOND] "));
    EXPECT_EQ(form->ui->ComboBox1->currentText(), QStringLiteral("u:\\music"));
    EXPECT_TRUE(prompt.Asked().empty());
    // Half typed, nothing moves and nothing is said; Enter on a place that is not there says so.
    Type(*form, QStringLiteral("t:\\proj"), false);
    EXPECT_EQ(ListNamesOf(*form), Names{"song.mp3"});
    EXPECT_TRUE(prompt.Asked().empty());
    for (const QString &missing :
         {QStringLiteral("t:\\proj"), QStringLiteral("t:\\readme.txt"), QStringLiteral("x:")}) {
        Type(*form, missing);
        ASSERT_FALSE(prompt.Asked().empty()) << missing.toStdString();
        EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("does not exist"))) << missing.toStdString();
        EXPECT_EQ(form->Browse.CurrentPath, "u:\\music\\");
        EXPECT_EQ(ListNamesOf(*form), Names{"song.mp3"});
        EXPECT_EQ(form->ui->ComboBox1->currentText(), QStringLiteral("u:\\music")) << missing.toStdString();
    }
    // Typing goes along to each place of the open disc as it is complete ("u:"); names are
    // compared exactly, so "Music" is not "music".
    const size_t asked = prompt.Asked().size();
    Type(*form, QStringLiteral("u:\\Music"));
    ASSERT_EQ(prompt.Asked().size(), asked + 1);
    EXPECT_EQ(prompt.Asked().back().text, QStringLiteral("The folder \"u:\\Music\" does not exist in this archive."));
    EXPECT_EQ(form->Browse.CurrentPath, "u:\\");
    // The box then names the place the list shows, and Up and Enter start from there.
    EXPECT_EQ(form->ui->ComboBox1->currentText(), QStringLiteral("u:"));
    EXPECT_EQ(NodePathOfCurrent(*form), "u: [SECOND]");
    QTest::keyClick(form->ui->ComboBox1, Qt::Key_Return);
    EXPECT_EQ(prompt.Asked().size(), asked + 1);
    EXPECT_EQ(Sorted(ListNamesOf(*form)), (Names{"LICENCE", "data.qq7", "music", "notes.txt"}));
}

// After "Search off" the information panel named the list's entry with a found file's note.
TEST_F(UsageWalkTest, InformationPanelShowsTheNoteOfTheEntryItNamesAfterSearchOff)
{
    auto form = OpenWalk();
    form->ui->ShowInfoButton->setChecked(true);
    OpenDisc(*form, "t: [FIRST]");
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("readme"));
    form->ui->FilterButton->click();
    ASSERT_EQ(Found(*form), Names{"readme.txt"});
    form->ui->FindButton->click(); // search off
    ASSERT_TRUE(form->ui->LinksListView->SelectedRow());
    EXPECT_EQ(form->ui->StaticText5->text(), QStringLiteral(" archives"));
    EXPECT_TRUE(form->ui->StaticText6->text().isEmpty()) << form->ui->StaticText6->text().toStdString();
    Click(*form, "readme.txt");
    EXPECT_EQ(form->ui->StaticText6->text(), QStringLiteral("  Readme note"));
    // A narrow window: the type name takes room from the file name's rather than be cut.
    form->resize(640, 500);
    form->show();
    QCoreApplication::processEvents();
    form->ui->ShowInfoButton->setChecked(true);
    Click(*form, "readme.txt");
    QLabel *type = form->ui->StaticText7;
    ASSERT_FALSE(type->text().isEmpty());
    EXPECT_GE(type->width(), type->fontMetrics().horizontalAdvance(type->text())) << type->text().toStdString();
    EXPECT_LE(type->geometry().right(), form->ui->CDImage->x() - form->ui->InfoTexts->x());
}

// The date, size and disc criteria were not applied without a name or note text, and "more than"
// stopped at 900,000,000 bytes, a 32-bit relic: a 3 GiB file was never found.
TEST_F(UsageWalkTest, DateSizeAndDiscCriteriaFindWhatTheySayOnTheirOwn)
{
    auto form = OpenWalk();
    EXPECT_EQ(SearchWith(*form, [&] { form->ui->RadioButton9->setChecked(true); }),
              (Names{"big.iso", "song.mp3"}));
    EXPECT_EQ(SearchWith(*form,
                         [&] {
                             form->ui->RadioButton10->setChecked(true);
                             form->ui->ComboBox4->setCurrentIndex(0); // more than
                             form->ui->Edit4->setText(QStringLiteral("1000000"));
                         }),
              Names{"big.iso"});
    EXPECT_EQ(SearchWith(*form,
                         [&] {
                             form->ui->RadioButton5->setChecked(true);
                             form->ui->ComboBox3->setCurrentIndex(0);
                             form->ui->DateEdit1->SetDate(EncodeDate(2020, 3, 1));
                             form->ui->DateEdit2->SetDate(EncodeDate(2020, 3, 31));
                         }),
              Names{"big.iso"});
    EXPECT_EQ(SearchWith(*form, [&] { form->ui->ComboBox2->setCurrentText(QStringLiteral("u: [SECOND]")); }),
              (Names{"LICENCE", "data.qq7", "music", "notes.txt", "song.mp3"}));
    // Criteria together, and a text with them, still narrow each other.
    EXPECT_EQ(SearchWith(*form,
                         [&] {
                             form->ui->RadioButton9->setChecked(true);
                             form->ui->ComboBox2->setCurrentText(QStringLiteral("u: [SECOND]"));
                         }),
              Names{"song.mp3"});
    EXPECT_EQ(SearchWith(*form,
                         [&] {
                             form->ui->RadioButton9->setChecked(true);
                             form->ui->Edit1->setText(QStringLiteral("big"));
                         }),
              Names{"big.iso"});
}

// "Current CD" and "Only directories" printed the last search's result instead of the disc shown.
TEST_F(UsageWalkTest, PrintOfTheCurrentDiscAfterASearchPrintsTheDiscShown)
{
    auto form = OpenWalk();
    OpenDisc(*form, "t: [FIRST]");
    SearchWith(*form, [&] { form->ui->ComboBox2->setCurrentText(QStringLiteral("u: [SECOND]")); });
    ASSERT_EQ(Found(*form).size(), 5u);
    form->ui->FindButton->click(); // search off: t: is shown
    for (const auto &[source, expected] :
         std::vector<std::pair<int, Names>>{{0, {"archives", "big.iso", "code.c", "member.txt", "mod1", "proj1",
                                                 "readme.txt", "stored.rar"}},
                                            {3, {"archives", "mod1", "proj1"}}}) {
        form->ui->PrintButton->click();
        TPrintPrepareForm *w = form->PrintPrepareForm.data();
        ASSERT_TRUE(w);
        w->RadioGroup1Items->button(source)->click();
        w->ui->Button1->click();
        w->ui->Button1->click();
        Names printed;
        for (w->ReportTable->First(); !w->ReportTable->Eof(); w->ReportTable->Next())
            printed.push_back(w->ReportTable->FieldByName("Name").AsString());
        EXPECT_EQ(Sorted(printed), expected) << source;
        delete w;
    }
}

// After Properties and Escape, "Notes" in the list's pop-up menu stayed greyed.
TEST_F(UsageWalkTest, NotesStayAvailableAfterThePropertiesDialogIsClosed)
{
    MakeCatalog();
    auto form = OpenActive();
    TFileListView *list = form->ui->LinksListView;
    list->ActiveView()->setFocus();
    QCoreApplication::processEvents();
    if (!list->ActiveView()->hasFocus())
        GTEST_SKIP() << "the platform gives no keyboard focus";
    Click(*form, "readme.txt");
    TMainForm::RunModal = [](QDialog &d) {
        d.show();
        QApplication::setActiveWindow(&d);
        d.setFocus();
        QCoreApplication::processEvents();
        QTest::keyClick(&d, Qt::Key_Escape);
        QCoreApplication::processEvents();
        return int(QDialog::Rejected);
    };
    form->ui->PropertiesPopup->trigger();
    form->CatPopupMenuPopup();
    EXPECT_TRUE(form->ui->NotePopup->isEnabled());
}

// In Slovak and Czech the file types stayed English ("File folder", "File", "XXX File"), and so
// did the print preview's title and the "No.-" header: the desktop's MIME type names in the
// chosen language where it has them, the program's own texts elsewhere.
TEST_F(UsageWalkTest, FileTypesAndThePrintPreviewSpeakTheChosenLanguage)
{
    auto form = OpenWalk();
    form->show(); // the preview steps the shown window aside
    OpenDisc(*form, "u: [SECOND]");
    QString previewTitle;
    const auto oldRun = TBandReport::RunPreview;
    TBandReport::RunPreview = [&](QPrintPreviewDialog &dialog) { return previewTitle = dialog.windowTitle(), 0; };
    struct Case {
        int language;
        const char *folder, *file, *unknown, *text, *preview;
    };
    for (const Case &c : {Case{langunit::LangSlovak, "Priečinok súborov", "Súbor", "Súbor QQ7",
                               "Obyčajný textový dokument", "Náhľad tlače"},
                          Case{langunit::LangCzech, "Složka souborů", "Soubor", "Soubor QQ7",
                               "Prostý textový dokument", "Náhled tisku"},
                          Case{langunit::LangEnglish, "File folder", "File", "QQ7 File", "Plain text document",
                               "Print preview"}}) {
        SCOPED_TRACE(c.language);
        langunit::SetCurrentLanguage(c.language);
        form->RelabelInLanguage();
        const auto typeOf = [&](const char *name) {
            const int row = ListRowOf(*form, name);
            return row < 0 ? QStringLiteral("<none>") : form->ui->LinksListView->Model()->Rows()[size_t(row)].TypeName;
        };
        EXPECT_EQ(typeOf("music"), QString::fromUtf8(c.folder));
        EXPECT_EQ(typeOf("LICENCE"), QString::fromUtf8(c.file));
        EXPECT_EQ(typeOf("data.qq7"), QString::fromUtf8(c.unknown));
        if (QMimeDatabase().mimeTypeForName(QStringLiteral("text/plain")).comment() == QStringLiteral("Plain text document")) {
            EXPECT_EQ(typeOf("notes.txt"), QString::fromUtf8(c.text));
        }
        form->ui->PrintButton->click();
        TPrintPrepareForm *w = form->PrintPrepareForm.data();
        ASSERT_TRUE(w);
        w->RadioGroup1Items->button(1)->click(); // the disc shown
        for (int i = 0; i < 3; ++i)
            w->ui->Button1->click();
        EXPECT_EQ(previewTitle, QString::fromUtf8(c.preview));
        EXPECT_EQ(NumberHeaderText(), QString::fromUtf8(c.language == langunit::LangEnglish ? "No.-" : "Č.-"));
        delete w;
    }
    TBandReport::RunPreview = oldRun;
}

// One date order, the locale's, in the list and in the search date boxes, in English, Slovak and
// Czech; and the search reads what the boxes show.
TEST_F(UsageWalkTest, DatesAreListedAndTypedInTheLocalesOrder)
{
    const QLocale saved;
    struct Case {
        QLocale locale;
        std::vector<int> order; // 15 March 2020 as shown
    };
    for (const Case &c : {Case{QLocale(QLocale::English, QLocale::UnitedStates), {3, 15, 2020}},
                          Case{QLocale(QLocale::Slovak, QLocale::Slovakia), {15, 3, 2020}},
                          Case{QLocale(QLocale::Czech, QLocale::CzechRepublic), {15, 3, 2020}}}) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        TMainForm::FollowLocaleDateOrder(); // as the window does when it is made, before a scan writes dates
        auto form = OpenWalk();
        OpenDisc(*form, "t: [FIRST]");
        const int row = ListRowOf(*form, "big.iso");
        ASSERT_GE(row, 0);
        const TFileRow &big = form->ui->LinksListView->Model()->Rows()[size_t(row)];
        EXPECT_EQ(DateNumbers(ToQString(big.CreateDate)), c.order) << big.CreateDate;
        form->ui->DateEdit1->SetDate(EncodeDate(2020, 3, 15));
        EXPECT_EQ(DateNumbers(form->ui->DateEdit1->Text()), c.order) << form->ui->DateEdit1->Text().toStdString();
        EXPECT_EQ(SearchWith(*form,
                             [&] {
                                 form->ui->RadioButton5->setChecked(true);
                                 form->ui->DateEdit1->SetDate(EncodeDate(2020, 3, 14));
                                 form->ui->DateEdit2->SetDate(EncodeDate(2020, 3, 16));
                             }),
                  Names{"big.iso"});
    }
    QLocale::setDefault(saved);
    TMainForm::FollowLocaleDateOrder();
}

// The audio-CD question named one fixed server whatever server the settings gave.
TEST(CddbQuestion, NamesTheDomainOfTheServerSet)
{
    EXPECT_EQ(CddbServerDomain("gnudb.gnudb.org"), "gnudb.org");
    EXPECT_EQ(CddbServerDomain("freedb.example.net:8880"), "example.net");
    EXPECT_EQ(CddbServerDomain("cddb.local."), "cddb.local");
    EXPECT_EQ(CddbServerDomain("localhost:8880"), "localhost");
    EXPECT_EQ(CddbServerDomain("127.0.0.1:8880"), "127.0.0.1");
    for (int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech})
        EXPECT_NE(langunit::LangStringOf(language, 149).find("%1"), std::string::npos) << language;
}
