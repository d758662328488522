// Searching in the main window: the search panel, the search in the open
// catalogue and in every catalogue of the data folder, the result list's rows
// and clicks. Every catalogue is a real table file written by the engine.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeView>
#include <QPushButton>
#include <QSpinBox>

#include <filesystem>
#include <map>

#include "app/BrowseText.h"
#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/SearchListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "app/SearchCriteria.h"
#include "storage/FlatTbl.h"
#include "util/DateUtil.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"
#include "widgets/ToolEdit.h"

namespace fs = std::filesystem;

namespace {

struct TRec {
    std::string disc = "e: [DATA]", path = "e:\\", name, size = "10", note;
    int type = 1, ftype = 0;
    std::string loadName, created, changed, number = "7", serial;
    TRec &Disc(std::string v) { disc = std::move(v); return *this; }
    TRec &Path(std::string v) { path = std::move(v); return *this; }
    TRec &Size(std::string v) { size = std::move(v); return *this; }
    TRec &Note(std::string v) { note = std::move(v); return *this; }
    TRec &Type(int v) { type = v; return *this; }
    TRec &FType(int v) { ftype = v; return *this; }
    TRec &LoadName(std::string v) { loadName = std::move(v); return *this; }
    TRec &Created(std::string v) { created = std::move(v); return *this; }
    TRec &Changed(std::string v) { changed = std::move(v); return *this; }
    TRec &Number(std::string v) { number = std::move(v); return *this; }
    TRec &Serial(std::string v) { serial = std::move(v); return *this; }
};

TRec R(std::string name)
{
    TRec r;
    r.name = std::move(name);
    return r;
}

// A catalogue file of the current layout, with its disc table.
class TCatalog {
public:
    TCatalog()
    {
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        AddFieldDefs(discs, DiscTableLayout());
        discs.Open();
    }
    void Add(const TRec &r)
    {
        files.Append();
        files.FieldByName("Path").SetAsString(r.path);
        files.FieldByName("Name").SetAsString(r.name);
        files.FieldByName("Namecd").SetAsString(r.disc);
        files.FieldByName("Number").SetAsString(r.number);
        files.FieldByName("Size").SetAsString(r.size);
        files.FieldByName("Attrib").SetAsInteger(r.type == 0 ? 0x10 : 0x20);
        files.FieldByName("Type").SetAsInteger(r.type);
        files.FieldByName("Note").SetAsString(r.note);
        files.FieldByName("FType").SetAsInteger(r.ftype);
        files.FieldByName("LoadName").SetAsString(r.loadName);
        files.FieldByName("CreateDate").SetAsString(r.created.empty() ? DateTimeToStr(EncodeDate(2003, 2, 1)) : r.created);
        files.FieldByName("LastChange").SetAsString(r.changed);
        files.FieldByName("CdIdCode").SetAsString(r.serial);
        files.Post();
        if (!discs.Locate("CdName", TVariant(r.disc), TLocateOptions{})) {
            discs.Append();
            discs.FieldByName("CdName").SetAsString(r.disc);
            discs.FieldByName("Number").SetAsString(r.number);
            discs.FieldByName("CdSize").SetAsString("3 mb");
            discs.Post();
        }
    }
    void Save(const std::string &folder, const std::string &name)
    {
        files.SaveToFile(folder + "/" + name + ".d");
        discs.SaveToFile(folder + "/CdNames/" + name + "_cdname.d");
    }
    TFlatTable files, discs;
};

class SearchFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    std::unique_ptr<TMainForm> Open(const std::string &catalog = "Cat", const std::string &ini = "")
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=" + catalog +
                                           "\n" + ini);
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
        return form;
    }
    // The same shown as the active window, so that its lists take the focus.
    std::unique_ptr<TMainForm> OpenShown(const std::string &catalog = "Cat")
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=" + catalog + "\n");
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->show();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
        return form;
    }
    // A catalogue with `hits` records named "hit_N.txt" on `disc`, and a few others.
    void HitCatalog(const std::string &name, int hits, const std::string &disc = "e: [DATA]")
    {
        TCatalog c;
        for (int i = 0; i < hits; ++i)
            c.Add(R("hit_" + std::to_string(i) + ".txt").Disc(disc));
        c.Add(R("other.txt").Disc(disc));
        c.Save(data, name);
    }
    static void Search(TMainForm &f, const std::string &name, const std::string &note = "")
    {
        if (!f.ui->FindButton->isChecked() && !f.ui->FindAllButton->isChecked())
            f.ui->FindButton->click();
        f.ui->Edit1->setText(QString::fromStdString(name));
        f.ui->Edit3->setText(QString::fromStdString(note));
        f.ui->FilterButton->click();
    }
    static std::vector<std::string> Names(TMainForm &f)
    {
        std::vector<std::string> out;
        for (const TSearchRow &r : f.ui->SearchView->Model()->Rows())
            out.push_back(r.Name);
        return out;
    }
    static const TSearchRow *Row(TMainForm &f, const std::string &name)
    {
        for (const TSearchRow &r : f.ui->SearchView->Model()->Rows())
            if (r.Name == name)
                return &r;
        return nullptr;
    }
    static int RowIndex(TMainForm &f, const std::string &name)
    {
        const auto &rows = f.ui->SearchView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return static_cast<int>(i);
        return -1;
    }
    static QString Panel(TMainForm &f, int i) { return f.ui->StatusBar1->Panel(i).Text; }
    // The search is over and left nothing of itself behind.
    static void ExpectSearchClosed(TMainForm &f, const QString &caption)
    {
        EXPECT_FALSE(f.Search.Flag);
        EXPECT_EQ(f.Search.Table, nullptr); // the file table
        EXPECT_FALSE(f.ProgressBar1->isVisibleTo(&f));
        EXPECT_EQ(f.windowTitle(), caption);
        EXPECT_FALSE(f.FindAllTable);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

TEST_F(SearchFormTest, FindButtonOpensAndClosesThePanel)
{
    HitCatalog("Cat", 2);
    auto f = Open();
    f->ui->Edit1->setText("left over");
    f->ui->FindButton->click();
    EXPECT_TRUE(f->ui->Panel2->isVisibleTo(f.get()));
    EXPECT_TRUE(f->ui->FindMenu->isChecked());
    EXPECT_TRUE(f->ui->Edit1->text().isEmpty());
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 2);
    f->ui->FindMenu->trigger(); // the menu closes it as the button does
    EXPECT_FALSE(f->ui->FindButton->isChecked());
    EXPECT_FALSE(f->ui->Panel2->isVisibleTo(f.get()));
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
    EXPECT_EQ(Panel(*f, 0), QStringLiteral(" e: [DATA]"));
    EXPECT_EQ(Panel(*f, 1), QStringLiteral(" [7]"));
    EXPECT_EQ(Panel(*f, 2).toStdString(), " 3 " + langunit::LangString(54) + " - 3 mb");
}

TEST_F(SearchFormTest, NameSearchWithStarsAndTheCaseOption)
{
    TCatalog c;
    for (const char *n : {"report.txt", "Annual REPORT.doc", "reporter", "rep.txt", "Ďateľ ľúbi čučoriedky.txt",
                          "ČUČORIEDKY.TXT"})
        c.Add(R(n));
    c.Save(data, "Cat");
    auto f = Open();
    Search(*f, "*report*");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"Annual REPORT.doc", "report.txt", "reporter"}));
    f->ui->CheckBox1->setChecked(true);
    Search(*f, "*report*");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"report.txt", "reporter"}));
    Search(*f, "Čučoriedky");
    EXPECT_TRUE(Names(*f).empty());
    f->ui->CheckBox1->setChecked(false);
    Search(*f, "Čučoriedky");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"ČUČORIEDKY.TXT", "Ďateľ ľúbi čučoriedky.txt"}));
    // A lone star is an empty text: nothing is found.
    Search(*f, "*");
    EXPECT_TRUE(Names(*f).empty());
    EXPECT_EQ(f->ui->Label3->text().toStdString(), langunit::LangString(60));
    EXPECT_TRUE(f->ui->Panel5->isVisibleTo(f.get()));
    EXPECT_TRUE(Panel(*f, 2).endsWith(QStringLiteral(" : 0")));
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(SearchFormTest, NoteSearchAndDiscChoice)
{
    TCatalog c;
    c.Add(R("a.jpg").Note("Holiday in Tatra"));
    c.Add(R("b.jpg"));
    c.Add(R("c.jpg").Disc("e: [DATA]2").Note("holiday again").Number("8"));
    c.Add(R("d.jpg").Disc("e: [DATA]2").Number("8"));
    c.Save(data, "Cat");
    auto f = Open();
    Search(*f, "", "holiday");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    // Name and note together.
    Search(*f, "c.", "HOLIDAY");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"c.jpg"}));
    // One disc only, compared by its whole name.
    f->ui->ComboBox2->setCurrentIndex(f->ui->ComboBox2->findText(QStringLiteral("e: [DATA]")));
    Search(*f, ".jpg");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    // No disc chosen at all: every disc, and still only what matches.
    f->ui->ComboBox2->setCurrentIndex(-1);
    Search(*f, "c.");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"c.jpg"}));
}

TEST_F(SearchFormTest, DateAndSizeCriteria)
{
    const TDateTime now = NowDateTime();
    TCatalog c;
    c.Add(R("new small").Size("99999").Created(DateTimeToStr(now - 3)));
    c.Add(R("new big").Size("3221225472").Created(DateTimeToStr(now - 2)));
    c.Add(R("old small").Size("5").Created(DateTimeToStr(now - 10)));
    c.Add(R("bad date small").Size("5").Created("not a date"));
    c.Add(R("changed small").Size("7").Created(DateTimeToStr(now - 400)).Changed(DateTimeToStr(now - 20)));
    c.Save(data, "Cat");
    auto f = Open();
    f->ui->RadioButton2->setChecked(true);
    Search(*f, "small");
    // A record whose date does not convert fails the date test; the search goes on.
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"new small"}));
    EXPECT_TRUE(prompt.Asked().empty());
    f->ui->RadioButton1->setChecked(true);
    f->ui->RadioButton7->setChecked(true);
    Search(*f, "new");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"new small"}));
    // Entered size, "most" 2 GiB and more: the 3 GiB file is not below it.
    f->ui->RadioButton10->setChecked(true);
    EXPECT_TRUE(f->ui->Edit4->isEnabled());
    f->ui->ComboBox4->setCurrentIndex(1);
    f->ui->Edit4->setText("3000000");
    Search(*f, "new");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"new small"}));
    // The date of the last change, over an entered range.
    f->ui->RadioButton6->setChecked(true);
    f->ui->RadioButton5->setChecked(true);
    EXPECT_TRUE(f->ui->DateEdit1->isEnabled());
    f->ui->ComboBox3->setCurrentIndex(1);
    f->ui->DateEdit1->SetDate(DateToday() - 30);
    f->ui->DateEdit2->SetDate(DateToday() - 1);
    // Whatever order the boxes show, the search reads the same dates.
    f->ui->DateEdit2->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(StrToDateTimeText(f->SearchDateText(1)), DateToday() - 30);
    EXPECT_EQ(StrToDateTimeText(f->SearchDateText(2)), DateToday() - 1);
    Search(*f, "small");
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"changed small"}));
}

TEST_F(SearchFormTest, ABoxThatHoldsNoDateStopsTheSearchAndChangesNothing)
{
    HitCatalog("Cat", 3);
    auto f = Open();
    const QString caption = f->windowTitle();
    Search(*f, "hit");
    ASSERT_EQ(f->ui->SearchView->Count(), 3);
    const int filteredBefore = f->FlatTable1->RecordCount();
    f->ui->RadioButton5->setChecked(true);
    // The middle part deleted as the user would: the box holds an unfinished text.
    f->ui->DateEdit1->setFocus();
    f->ui->DateEdit1->setCursorPosition(5);
    for (int i = 0; i < 2; ++i) {
        QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(f->ui->DateEdit1, &back);
    }
    ASSERT_EQ(f->SearchDateText(1), FromQString(f->ui->DateEdit1->Text()));
    ASSERT_EQ(f->ui->DateEdit1->Date(), NullDate);
    Search(*f, "other");
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(prompt.Asked()[0].text.contains(QStringLiteral("is not a valid date")));
    EXPECT_EQ(f->ui->SearchView->Count(), 3); // the last result stays
    EXPECT_TRUE(f->FlatTable1->Filtered());
    EXPECT_EQ(f->FlatTable1->RecordCount(), filteredBefore);
    ExpectSearchClosed(*f, caption);
    // The entered size the same way.
    f->ui->RadioButton1->setChecked(true);
    f->ui->RadioButton10->setChecked(true);
    f->ui->Edit4->setText("lots");
    Search(*f, "other");
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_TRUE(prompt.Asked()[1].text.contains(QStringLiteral("'lots' is not a valid integer value")));
    ExpectSearchClosed(*f, caption);
}

TEST_F(SearchFormTest, ResultCountsAroundTheLimit)
{
    TCatalog c;
    for (const auto &[disc, hits] : std::vector<std::pair<std::string, int>>{
             {"e: [A]", 999}, {"e: [B]", 1000}, {"e: [C]", 1001}})
        for (int i = 0; i < hits; ++i)
            c.Add(R("hit_" + std::to_string(i)).Disc(disc));
    c.Save(data, "Cat");
    auto f = Open();
    ASSERT_EQ(f->SearchLimit, 1000);
    f->ui->FindButton->click();
    for (const auto &[disc, listed] : std::vector<std::pair<const char *, int>>{
             {"e: [A]", 999}, {"e: [B]", 1000}, {"e: [C]", 0}}) {
        f->ui->ComboBox2->setCurrentIndex(f->ui->ComboBox2->findText(QString::fromUtf8(disc)));
        Search(*f, "hit");
        EXPECT_EQ(f->ui->SearchView->Count(), listed) << disc;
    }
    ASSERT_EQ(prompt.Asked().size(), 1u); // only above the limit
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(61));
    EXPECT_EQ(Panel(*f, 2).toStdString(), langunit::LangString(62) + " : 1001");
}

TEST_F(SearchFormTest, ResultColumnsCarryTheRecords)
{
    TCatalog c;
    c.Add(R("big.iso").Path("e:\\docs\\").Size("3221225472").Note("image").Created("01/02/2003").Changed("04/05/2006")
              .Number("7").Serial("1234"));
    c.Add(R("member.iso").Path("e:\\a.zip\\").Size("1536"));
    c.Add(R("Song iso").Disc("f: [MUSIC]").Path("f:\\").Size("100").FType(2).LoadName("Track01.cda")
              .Number("3"));
    c.Add(R("iso").Path("e:\\").Size("0").Type(0));
    c.Save(data, "Cat");
    auto f = OpenShown();
    Search(*f, "iso");
    ASSERT_EQ(Names(*f), (std::vector<std::string>{"big.iso", "iso", "member.iso", "Song iso"}));
    const TSearchRow *big = Row(*f, "big.iso");
    const std::vector<std::string> expected = {"7", "e: [DATA]", FormatSize(3221225472LL), "", "04/05/2006",
                                               "01/02/2003", "1", "e:\\docs\\big.iso", "32", "image", "Cat",
                                               "3221225472", "0", "0", "1234"};
    for (int i = 0; i < TSearchRow::SubItemCount; ++i)
        if (i != 3) {
            EXPECT_EQ(big->SubItem(i).toStdString(), expected[static_cast<size_t>(i)]) << "sub-item " << i;
        }
    EXPECT_EQ(big->SizeText, "3072 mb");
    EXPECT_FALSE(big->TypeName.isEmpty());
    EXPECT_EQ(Row(*f, "iso")->SubItem(6), QStringLiteral("0"));
    EXPECT_EQ(Row(*f, "Song iso")->FullPath, "f:\\Track01.cda");
    EXPECT_EQ(Row(*f, "Song iso")->LoadName, "Track01.cda");
    // The first row is selected and clicked.
    EXPECT_EQ(Panel(*f, 3), QStringLiteral(" e:\\docs\\big.iso"));
    EXPECT_EQ(f->RunTarget.Path, "e:\\docs\\big.iso");
    EXPECT_EQ(f->Browse.SelectedSerial, "1234");
    EXPECT_TRUE(f->ui->NotePanel2->isVisibleTo(f.get()));
    EXPECT_EQ(f->ui->SearchNoteLabel->text(), QStringLiteral("  image"));
    EXPECT_TRUE(f->ui->SearchView->toolTip().contains(QStringLiteral("Cat")));

    // An archive member runs through its archive; a track shows its title.
    f->ui->SearchView->SelectRow(RowIndex(*f, "member.iso"));
    f->SearchViewClick();
    EXPECT_EQ(f->RunTarget.Path, "e:\\a.zip");
    EXPECT_FALSE(f->ui->NotePanel2->isVisibleTo(f.get()));
    f->ui->SearchView->SelectRow(RowIndex(*f, "Song iso"));
    f->SearchViewClick();
    EXPECT_EQ(Panel(*f, 3), QStringLiteral(" Song iso"));
    EXPECT_EQ(f->RunTarget.DiscName, "f: [MUSIC]");
    EXPECT_EQ(f->RunTarget.Number, "3");
    // A double-click runs the row's file, here through its archive; with the
    // disc not in a drive the user is asked for it, by the row's catalogue.
    f->ui->SearchView->SelectRow(RowIndex(*f, "member.iso"));
    f->SearchViewDblClick();
    EXPECT_EQ(f->RunTarget.Path, "e:\\a.zip");
    EXPECT_EQ(f->RunTarget.FType, 0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(prompt.Asked()[0].text.startsWith(ToQString(langunit::LangString(56) + " [7] ")));
    EXPECT_TRUE(prompt.Asked()[0].text.endsWith(QStringLiteral(" - Cat")));
    // Enter in the list does the same; the arrow keys show the row's note.
    f->ui->SearchView->SelectRow(RowIndex(*f, "Song iso"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(f->ui->SearchView->ReportView(), &enter);
    EXPECT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(f->RunTarget.FType, 2);
    f->ui->SearchView->SelectRow(RowIndex(*f, "big.iso"));
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(f->ui->SearchView->ReportView(), &up);
    EXPECT_EQ(f->ui->SearchNoteLabel->text(), QStringLiteral("  image"));
}

TEST_F(SearchFormTest, AfterASearchTheFiltersAdmitTheCurrentDisc)
{
    TCatalog c;
    c.Add(R("x1"));
    c.Add(R("x2"));
    c.Add(R("x3").Disc("e: [OTHER]"));
    c.Save(data, "Cat");
    auto f = Open();
    f->ui->CheckBox1->setChecked(true);
    f->ui->RadioButton4->setChecked(true);
    f->ui->RadioButton7->setChecked(true);
    Search(*f, "x3");
    // The method the search installed stays; outside a search it admits
    // exactly the current disc's records, as the work table needs.
    f->FlatTable1->SetFiltered(false);
    f->FlatTable1->SetFiltered(true);
    EXPECT_EQ(f->FlatTable1->RecordCount(), 2);
}

TEST_F(SearchFormTest, FindAllStopsAtTheLimitAndCountsEverything)
{
    HitCatalog("A", 400);
    HitCatalog("B", 500);
    HitCatalog("C", 300);
    auto f = Open("A");
    const QString caption = f->windowTitle();
    f->ui->FindAllButton->click();
    EXPECT_FALSE(f->ui->ComboBox2->isEnabled());
    EXPECT_TRUE(f->ui->FindAllMenu->isChecked());
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 900);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(f->ui->Label3->text().contains(QStringLiteral(" 1200. ")));
    EXPECT_EQ(Panel(*f, 2).toStdString(), " " + langunit::LangString(62) + " : 1200");
    EXPECT_EQ(f->FindAllResultTable->RecordCount(), 900);
    ExpectSearchClosed(*f, caption);
    // Each row names its catalogue, also when the rows are refilled.
    f->ui->IconViewMenu->trigger();
    int fromA = 0, fromB = 0;
    for (const TSearchRow &r : f->ui->SearchView->Model()->Rows()) {
        fromA += r.Archive == "A";
        fromB += r.Archive == "B";
    }
    EXPECT_EQ(fromA, 400);
    EXPECT_EQ(fromB, 500);
    f->ui->SearchView->SelectRow(RowIndex(*f, "hit_450.txt"));
    f->SearchViewClick();
    EXPECT_EQ(Panel(*f, 0), QStringLiteral(" B"));
    EXPECT_TRUE(f->ui->SearchView->toolTip().endsWith(QStringLiteral(" B")));
    // Closing the button frees the result table and restores browsing.
    f->ui->FindAllButton->click();
    EXPECT_FALSE(f->FindAllResultTable);
    EXPECT_TRUE(f->ui->ComboBox2->isEnabled());
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
}

TEST_F(SearchFormTest, FindAllListsATotalAtTheLimit)
{
    HitCatalog("A", 600);
    HitCatalog("B", 400);
    auto f = Open("A");
    f->ui->FindAllButton->click();
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 1000);
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(SearchFormTest, FindAllSkipsWhatIsNoCatalogue)
{
    HitCatalog("A", 2);
    HitCatalog("C", 3);
    dir.write("DiVovData/B.d", std::string(300, '\x7f')); // damaged
    fs::create_directories(fs::path(data) / "Folder.d");
    HitCatalog("D", 5);
    fs::rename(fs::path(data) / "D.d", fs::path(data) / "D.~d"); // a backup
    HitCatalog("E", 7);
    fs::rename(fs::path(data) / "E.d", fs::path(data) / "E.D"); // not in small letters
    auto f = Open("A");
    const QString caption = f->windowTitle();
    EXPECT_EQ(TMainForm::CatalogFilesOf(data).size(), 4u);
    f->ui->FindAllButton->click();
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 5);
    EXPECT_TRUE(prompt.Asked().empty());
    EXPECT_TRUE(Panel(*f, 3).contains(QStringLiteral("B, Folder")));
    ExpectSearchClosed(*f, caption);
    EXPECT_EQ(f->FlatTable1->RecordCount(), 3); // the open catalogue is untouched

    // No catalogue at all: the notice says so.
    for (const char *n : {"A.d", "B.d", "C.d"})
        fs::remove(fs::path(data) / n);
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
    EXPECT_EQ(f->ui->Label3->text().toStdString(), langunit::LangString(60));
}

TEST_F(SearchFormTest, FindAllWithABadSizeRestoresEverything)
{
    HitCatalog("A", 2);
    auto f = Open("A");
    const QString caption = f->windowTitle();
    f->ui->FindAllButton->click();
    f->ui->RadioButton10->setChecked(true);
    f->ui->Edit4->setText("x");
    Search(*f, "hit");
    ASSERT_EQ(prompt.Asked().size(), 1u);
    ExpectSearchClosed(*f, caption);
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
}

TEST_F(SearchFormTest, PanelControlsAndLinks)
{
    HitCatalog("Cat", 2);
    auto f = Open();
    f->ui->FindButton->click();
    // The radio groups enable the entered values.
    EXPECT_FALSE(f->ui->ComboBox3->isEnabled());
    f->ui->RadioButton5->setChecked(true);
    EXPECT_TRUE(f->ui->ComboBox3->isEnabled());
    f->ui->RadioButton3->setChecked(true);
    EXPECT_FALSE(f->ui->DateEdit2->isEnabled());
    f->ui->RadioButton1->setChecked(true);
    // The spin buttons step the entered size.
    f->ui->UpDown2->setValue(300);
    EXPECT_EQ(f->ui->Edit4->text(), QStringLiteral("300"));
    // Opening the date panel moves what lies below it.
    const int comboTop = f->ui->ComboBox2->y();
    f->ui->SpeedButton1->click();
    EXPECT_EQ(f->ui->Panel_S1->height(), 180);
    EXPECT_EQ(f->ui->ComboBox2->y(), comboTop + 150);
    f->ui->SpeedButton2->click();
    EXPECT_EQ(f->ui->Panel_S2->height(), 130);
    EXPECT_EQ(f->ui->ComboBox2->y(), comboTop + 257);
    f->ui->SpeedButton1->click();
    f->ui->SpeedButton2->click();
    EXPECT_EQ(f->ui->Panel_S1->height(), 23);
    EXPECT_EQ(f->ui->ComboBox2->y(), comboTop);
    // The disc choice shows the disc in the status bar.
    f->ui->ComboBox2->setCurrentIndex(1);
    f->ComboBox2Change();
    EXPECT_EQ(Panel(*f, 0), QStringLiteral(" e: [DATA]"));
    EXPECT_EQ(Panel(*f, 1), QStringLiteral(" [7]"));
    // Enter in the name box searches; the notice's links start anew and end.
    f->ui->Edit1->setText("hit");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(f->ui->Edit1, &enter);
    EXPECT_EQ(f->ui->SearchView->Count(), 2);
    EXPECT_TRUE(f->ui->Panel5->isVisibleTo(f.get()));
    f->ui->SpeedButton3->click();
    EXPECT_FALSE(f->ui->Panel5->isVisibleTo(f.get()));
    EXPECT_TRUE(f->ui->Edit1->text().isEmpty());
    // Backspace in the name box edits it while no notice is shown.
    f->ui->Edit1->setText("ab");
    f->ui->Edit1->setCursorPosition(2);
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(f->ui->Edit1, &back);
    EXPECT_EQ(f->ui->Edit1->text(), QStringLiteral("a"));
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(f->ui->Edit1, &esc);
    EXPECT_FALSE(f->ui->FindButton->isChecked());
    EXPECT_FALSE(f->ui->Panel2->isVisibleTo(f.get()));
    EXPECT_FALSE(f->ui->FindMenu->isChecked());
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
}

TEST_F(SearchFormTest, AFailureDuringTheSearchRestoresTheBrowseState)
{
    TCatalog c;
    for (int i = 0; i < 150; ++i)
        c.Add(R("hit_" + std::to_string(i)));
    c.Add(R("hit_x").Disc("e: [OTHER]"));
    c.Save(data, "Cat");
    auto f = Open("Cat", "Setup7=100\n");
    ASSERT_EQ(f->SearchLimit, 100);
    const QString caption = f->windowTitle();
    // The box above the limit fails (an answer it does not offer): the search
    // stops half-way, with its flag, cursor and progress bar set.
    prompt.Answer(PromptResult::Yes);
    Search(*f, "hit");
    ASSERT_GE(prompt.Asked().size(), 1u);
    ExpectSearchClosed(*f, caption);
    EXPECT_TRUE(f->FlatTable1->Filtered());
    EXPECT_EQ(f->FlatTable1->RecordCount(), 150); // the current disc again

    // The same in a search of all catalogues.
    f->ui->FindAllButton->click();
    prompt.Answer(PromptResult::Yes);
    Search(*f, "hit");
    ExpectSearchClosed(*f, caption);
}

TEST_F(SearchFormTest, AnotherViewStyleKeepsTheRowsFound)
{
    TCatalog c;
    c.Add(R("hit_a"));
    c.Add(R("hit_b").Disc("e: [OTHER]"));
    c.Add(R("miss").Disc("e: [OTHER]"));
    c.Save(data, "Cat");
    auto f = Open();
    Search(*f, "hit");
    ASSERT_EQ(Names(*f), (std::vector<std::string>{"hit_a", "hit_b"}));
    // Opening another disc filters the file table to that disc; the rows found
    // stay what the search found.
    ASSERT_GE(f->SelectTreeNodeByText("e: [OTHER]"), 0);
    f->TreeView1Click();
    f->ui->SmallIconViewMenu->trigger();
    EXPECT_EQ(f->ui->SearchView->ViewStyle(), vsSmallIcon);
    EXPECT_EQ(Names(*f), (std::vector<std::string>{"hit_a", "hit_b"}));
}
