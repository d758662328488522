// Searching in the main window: the search panel, the search in the open
// catalogue and in every catalogue of the data folder, the result list's rows
// and clicks. Every catalogue is a real table file written by the engine.
#include <QCheckBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>

#include "app/browse/BrowseText.h"
#include "platform/QtText.h"
#include "util/DateUtil.h"
#include "widgets/ToolEdit.h"

#include "app/MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

struct TRec {
    std::string name{}, disc = "e: [DATA]", path = "e:\\", size = "10", note{}, number = "7";
    std::string created = DateTimeToStr(EncodeDate(2003, 2, 1)), changed{}, loadName{}, serial{};
    int type = 1, ftype = 0;
};

class SearchFormTest : public MainFormTablesTest {
protected:
    void Add(const TRec &r) { Add(files, discs, r); }
    static void Add(TFlatTable &files, TFlatTable &discs, const TRec &r)
    {
        AppendRecord(files, {{"Path", r.path}, {"Name", r.name}, {"Namecd", r.disc}, {"Number", r.number},
                             {"Size", r.size}, {"Attrib", r.type == 0 ? 0x10 : 0x20}, {"Type", r.type},
                             {"Note", r.note}, {"FType", r.ftype}, {"LoadName", r.loadName},
                             {"CreateDate", r.created}, {"LastChange", r.changed}, {"CdIdCode", r.serial}});
        if (!discs.Locate("CdName", TVariant(r.disc), TLocateOptions{}))
            AppendRecord(discs, {{"CdName", r.disc}, {"Number", r.number}, {"CdSize", "3 mb"}});
    }
    // Catalogue `name` of the records added so far (they are taken), or else
    // of `hits` records "hit_N.txt" on `disc` and one other.
    void SaveCatalog(const std::string &name, int hits = 0, const std::string &disc = "e: [DATA]")
    {
        for (int i = 0; i < hits; ++i)
            Add({.name = "hit_" + std::to_string(i) + ".txt", .disc = disc});
        if (hits)
            Add({.name = "other.txt", .disc = disc});
        files.SaveToFile(data + "/" + name + ".d");
        discs.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
        files.EmptyTable();
        discs.EmptyTable();
    }
    std::unique_ptr<TMainForm> Open(const std::string &catalog = "Cat", const std::string &ini = "", bool active = false)
    {
        dir.write("DiVovData/cat.ini",
                  "[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=" + catalog + "\n" + ini);
        return active ? OpenActive() : DataFolderTest::Open();
    }
    static void Search(TMainForm &f, const std::string &name, const std::string &note = "")
    {
        if (!f.ui->FindButton->isChecked() && !f.ui->FindAllButton->isChecked())
            f.ui->FindButton->click();
        f.ui->Edit1->setText(QString::fromStdString(name));
        f.ui->Edit3->setText(QString::fromStdString(note));
        f.ui->FilterButton->click();
    }
    static Names Found(TMainForm &f)
    {
        Names out;
        for (const TSearchRow &r : f.ui->SearchView->Model()->Rows())
            out.push_back(r.Name);
        return out;
    }
    static const TSearchRow *Row(TMainForm &f, const std::string &name)
    {
        const auto &rows = f.ui->SearchView->Model()->Rows();
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const TSearchRow &r) { return r.Name == name; });
        return it == rows.end() ? nullptr : &*it;
    }
    static void ClickRow(TMainForm &f, const std::string &name)
    {
        f.ui->SearchView->SelectRow(int(Row(f, name) - f.ui->SearchView->Model()->Rows().data()));
        f.SearchViewClick();
    }
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
    static void ExpectDiscInStatusBar(TMainForm &f)
    {
        EXPECT_EQ(StatusText(f, 0) + "|" + StatusText(f, 1), QStringLiteral(" e: [DATA]| [7]"));
    }
};

} // namespace

TEST_F(SearchFormTest, PanelOpensClosesAndItsControlsWork)
{
    SaveCatalog("Cat", 2);
    auto f = Open();
    f->ui->Edit1->setText("left over");
    f->ui->FindButton->click();
    EXPECT_TRUE(f->ui->Panel2->isVisibleTo(f.get()));
    EXPECT_TRUE(f->ui->FindMenu->isChecked());
    EXPECT_TRUE(f->ui->Edit1->text().isEmpty());
    // The radio groups enable the entered values; the spin buttons step the size.
    EXPECT_FALSE(f->ui->ComboBox3->isEnabled());
    f->ui->RadioButton5->setChecked(true);
    EXPECT_TRUE(f->ui->ComboBox3->isEnabled());
    f->ui->RadioButton3->setChecked(true);
    EXPECT_FALSE(f->ui->DateEdit2->isEnabled());
    f->ui->RadioButton1->setChecked(true);
    f->ui->UpDown2->setValue(300);
    EXPECT_EQ(f->ui->Edit4->text(), QStringLiteral("300"));
    // Opening the date and size panels moves what lies below them.
    const int comboTop = f->ui->ComboBox2->y();
    f->ui->SpeedButton1->click();
    EXPECT_EQ(std::make_pair(f->ui->Panel_S1->height(), f->ui->ComboBox2->y()), std::make_pair(180, comboTop + 150));
    f->ui->SpeedButton2->click();
    EXPECT_EQ(std::make_pair(f->ui->Panel_S2->height(), f->ui->ComboBox2->y()), std::make_pair(138, comboTop + 265));
    // The entered size's row lies inside its panel, not cut by its bottom edge.
    EXPECT_LE(f->ui->Edit4->geometry().bottom(), f->ui->Panel_S2->height() - 2);
    f->ui->SpeedButton1->click();
    f->ui->SpeedButton2->click();
    EXPECT_EQ(std::make_pair(f->ui->Panel_S1->height(), f->ui->ComboBox2->y()), std::make_pair(23, comboTop));
    // The disc choice shows the disc in the status bar.
    f->ui->ComboBox2->setCurrentIndex(1);
    f->ComboBox2Change();
    ExpectDiscInStatusBar(*f);
    // Enter in the name box searches; the notice's links start anew and end.
    f->ui->Edit1->setText("hit");
    SendKey(f->ui->Edit1, Qt::Key_Return, true, false);
    EXPECT_EQ(f->ui->SearchView->Count(), 2);
    EXPECT_TRUE(f->ui->Panel5->isVisibleTo(f.get()));
    f->ui->SpeedButton3->click();
    EXPECT_FALSE(f->ui->Panel5->isVisibleTo(f.get()));
    EXPECT_TRUE(f->ui->Edit1->text().isEmpty());
    // Backspace in the name box edits it while no notice is shown.
    f->ui->Edit1->setText("ab");
    f->ui->Edit1->setCursorPosition(2);
    SendKey(f->ui->Edit1, Qt::Key_Backspace, true, false);
    EXPECT_EQ(f->ui->Edit1->text(), QStringLiteral("a"));
    // Escape closes the panel as the button and the menu do, and empties the list.
    for (int how = 0; how < 2; ++how) {
        if (how == 0)
            SendKey(f->ui->Edit1, Qt::Key_Escape, true, false);
        else
            Search(*f, "hit"), f->ui->FindMenu->trigger();
        EXPECT_FALSE(f->ui->FindButton->isChecked() || f->ui->FindMenu->isChecked());
        EXPECT_FALSE(f->ui->Panel2->isVisibleTo(f.get()));
        EXPECT_EQ(f->ui->SearchView->Count(), 0);
    }
    ExpectDiscInStatusBar(*f);
    EXPECT_EQ(StatusText(*f, 2).toStdString(), " 3 " + langunit::LangString(54) + " - 3 mb");
}

TEST_F(SearchFormTest, NameAndNoteSearchWithStarsCaseAndDiscChoice)
{
    for (const char *n : {"report.txt", "Annual REPORT.doc", "reporter", "rep.txt", "Ďateľ ľúbi čučoriedky.txt",
                          "ČUČORIEDKY.TXT"})
        Add({.name = n});
    Add({.name = "a.jpg", .note = "Holiday in Tatra"});
    Add({.name = "b.jpg"});
    Add({.name = "c.jpg", .disc = "e: [DATA]2", .note = "holiday again", .number = "8"});
    Add({.name = "d.jpg", .disc = "e: [DATA]2", .number = "8"});
    SaveCatalog("Cat");
    auto f = Open();
    struct Step {
        bool caseExact;
        int disc; // -1 none chosen, 0 all, 1 "e: [DATA]" by its whole name
        const char *name, *note;
        Names found;
    };
    const Step steps[] = {{false, 0, "*report*", "", {"Annual REPORT.doc", "report.txt", "reporter"}},
                          {true, 0, "*report*", "", {"report.txt", "reporter"}},
                          {true, 0, "Čučoriedky", "", {}},
                          {false, 0, "Čučoriedky", "", {"ČUČORIEDKY.TXT", "Ďateľ ľúbi čučoriedky.txt"}},
                          {false, 0, "", "holiday", {"a.jpg", "c.jpg"}},
                          {false, 0, "c.", "HOLIDAY", {"c.jpg"}},
                          {false, 1, ".jpg", "", {"a.jpg", "b.jpg"}},
                          {false, -1, "c.", "", {"c.jpg"}}};
    f->ui->FindButton->click();
    for (const Step &s : steps) {
        f->ui->CheckBox1->setChecked(s.caseExact);
        if (s.disc != 0)
            f->ui->ComboBox2->setCurrentIndex(s.disc == 1 ? f->ui->ComboBox2->findText(QStringLiteral("e: [DATA]")) : -1);
        Search(*f, s.name, s.note);
        EXPECT_EQ(Found(*f), s.found) << s.name << "/" << s.note;
    }
    // A lone star is an empty text: nothing is found.
    Search(*f, "*");
    EXPECT_TRUE(Found(*f).empty());
    EXPECT_EQ(f->ui->Label3->text().toStdString(), langunit::LangString(60));
    EXPECT_TRUE(f->ui->Panel5->isVisibleTo(f.get()));
    EXPECT_TRUE(StatusText(*f, 2).endsWith(QStringLiteral(" : 0")));
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(SearchFormTest, DateAndSizeCriteria)
{
    const TDateTime now = NowDateTime();
    Add({.name = "new small", .size = "99999", .created = DateTimeToStr(now - 3)});
    Add({.name = "new big", .size = "3221225472", .created = DateTimeToStr(now - 2)});
    Add({.name = "old small", .size = "5", .created = DateTimeToStr(now - 10)});
    Add({.name = "bad date small", .size = "5", .created = "not a date"});
    Add({.name = "changed small", .size = "7", .created = DateTimeToStr(now - 400), .changed = DateTimeToStr(now - 20)});
    SaveCatalog("Cat");
    auto f = Open();
    f->ui->RadioButton2->setChecked(true);
    Search(*f, "small");
    // A record whose date does not convert fails the date test; the search goes on.
    EXPECT_EQ(Found(*f), Names{"new small"});
    EXPECT_TRUE(prompt.Asked().empty());
    f->ui->RadioButton1->setChecked(true);
    f->ui->RadioButton7->setChecked(true);
    Search(*f, "new");
    EXPECT_EQ(Found(*f), Names{"new small"});
    // Entered size, "most" 2 GiB and more: the 3 GiB file is not below it.
    f->ui->RadioButton10->setChecked(true);
    EXPECT_TRUE(f->ui->Edit4->isEnabled());
    f->ui->ComboBox4->setCurrentIndex(1);
    f->ui->Edit4->setText("3000000");
    Search(*f, "new");
    EXPECT_EQ(Found(*f), Names{"new small"});
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
    EXPECT_EQ(Found(*f), Names{"changed small"});
}

TEST_F(SearchFormTest, ABoxThatHoldsNoDateOrSizeStopsTheSearchAndChangesNothing)
{
    SaveCatalog("Cat", 3);
    auto f = Open();
    const QString caption = f->windowTitle();
    Search(*f, "hit");
    ASSERT_EQ(f->ui->SearchView->Count(), 3);
    const int filteredBefore = f->FlatTable1->RecordCount();
    // The middle part deleted as the user would: the box holds an unfinished text.
    f->ui->RadioButton5->setChecked(true);
    f->ui->DateEdit1->setFocus();
    f->ui->DateEdit1->setCursorPosition(5);
    for (int i = 0; i < 2; ++i)
        SendKey(f->ui->DateEdit1, Qt::Key_Backspace, true, false);
    ASSERT_EQ(f->SearchDateText(1), FromQString(f->ui->DateEdit1->Text()));
    ASSERT_EQ(f->ui->DateEdit1->Date(), NullDate);
    Search(*f, "other");
    // Then the entered size the same way, in this catalogue and in all of them.
    f->ui->RadioButton1->setChecked(true);
    f->ui->RadioButton10->setChecked(true);
    f->ui->Edit4->setText("lots");
    Search(*f, "other");
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_TRUE(prompt.Asked()[0].text.contains(QStringLiteral("is not a valid date")));
    EXPECT_TRUE(prompt.Asked()[1].text.contains(QStringLiteral("'lots' is not a valid integer value")));
    EXPECT_EQ(f->ui->SearchView->Count(), 3); // the last result stays
    EXPECT_TRUE(f->FlatTable1->Filtered());
    EXPECT_EQ(f->FlatTable1->RecordCount(), filteredBefore);
    ExpectSearchClosed(*f, caption);
    f->ui->FindAllButton->click();
    f->ui->RadioButton10->setChecked(true);
    f->ui->Edit4->setText("x");
    Search(*f, "hit");
    ASSERT_EQ(prompt.Asked().size(), 3u);
    ExpectSearchClosed(*f, caption);
    EXPECT_EQ(f->ui->SearchView->Count(), 3);
}

TEST_F(SearchFormTest, ResultCountsAroundTheLimit)
{
    for (const auto &[disc, hits] : std::vector<std::pair<std::string, int>>{{"e: [A]", 999}, {"e: [B]", 1000}, {"e: [C]", 1001}})
        for (int i = 0; i < hits; ++i)
            Add({.name = "hit_" + std::to_string(i), .disc = disc});
    SaveCatalog("Cat");
    auto f = Open();
    ASSERT_EQ(f->SearchLimit, 1000);
    f->ui->FindButton->click();
    for (const auto &[disc, listed] : std::vector<std::pair<const char *, int>>{{"e: [A]", 999}, {"e: [B]", 1000}, {"e: [C]", 0}}) {
        f->ui->ComboBox2->setCurrentIndex(f->ui->ComboBox2->findText(QString::fromUtf8(disc)));
        Search(*f, "hit");
        EXPECT_EQ(f->ui->SearchView->Count(), listed) << disc;
    }
    ASSERT_EQ(prompt.Asked().size(), 1u); // only above the limit
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(61));
    EXPECT_EQ(StatusText(*f, 2).toStdString(), langunit::LangString(62) + " : 1001");
}

TEST_F(SearchFormTest, ResultColumnsCarryTheRecordsAndClicksRunThem)
{
    Add({.name = "big.iso", .path = "e:\\docs\\", .size = "3221225472", .note = "image", .number = "7",
         .created = "01/02/2003", .changed = "04/05/2006", .serial = "1234"});
    Add({.name = "member.iso", .path = "e:\\a.zip\\", .size = "1536"});
    Add({.name = "Song iso", .disc = "f: [MUSIC]", .path = "f:\\", .size = "100", .number = "3",
         .loadName = "Track01.cda", .ftype = 2});
    Add({.name = "iso", .size = "0", .type = 0});
    SaveCatalog("Cat");
    auto f = Open("Cat", "", true);
    Search(*f, "iso");
    ASSERT_EQ(Found(*f), (Names{"big.iso", "iso", "member.iso", "Song iso"}));
    const TSearchRow *big = Row(*f, "big.iso");
    const Names expected = {"7", "e: [DATA]", FormatSize(3221225472LL), "", "04/05/2006", "01/02/2003", "1",
                            "e:\\docs\\big.iso", "32", "image", "Cat", "3221225472", "0", "0", "1234"};
    for (int i = 0; i < TSearchRow::SubItemCount; ++i) // sub-item 3, the type name, depends on the system
        EXPECT_EQ(i == 3 ? "" : big->SubItem(i).toStdString(), expected[size_t(i)]) << "sub-item " << i;
    EXPECT_EQ(big->SizeText, "3072 mb");
    EXPECT_FALSE(big->TypeName.isEmpty());
    EXPECT_EQ(Row(*f, "iso")->SubItem(6), QStringLiteral("0"));
    EXPECT_EQ(Row(*f, "Song iso")->FullPath + "|" + Row(*f, "Song iso")->LoadName, "f:\\Track01.cda|Track01.cda");
    // The first row is selected and clicked.
    EXPECT_EQ(StatusText(*f, 3), QStringLiteral(" e:\\docs\\big.iso"));
    EXPECT_EQ(f->RunTarget.Path + "|" + f->Browse.SelectedSerial, "e:\\docs\\big.iso|1234");
    EXPECT_TRUE(f->ui->NotePanel2->isVisibleTo(f.get()));
    EXPECT_EQ(f->ui->SearchNoteLabel->text(), QStringLiteral("  image"));
    EXPECT_TRUE(f->ui->SearchView->toolTip().contains(QStringLiteral("Cat")));
    // An archive member runs through its archive; a track shows its title.
    ClickRow(*f, "member.iso");
    EXPECT_EQ(f->RunTarget.Path, "e:\\a.zip");
    EXPECT_FALSE(f->ui->NotePanel2->isVisibleTo(f.get()));
    ClickRow(*f, "Song iso");
    EXPECT_EQ(StatusText(*f, 3), QStringLiteral(" Song iso"));
    EXPECT_EQ(f->RunTarget.DiscName + "|" + f->RunTarget.Number, "f: [MUSIC]|3");
    // A double-click runs the row's file, here through its archive; with the
    // disc not in a drive the user is asked for it, by the row's catalogue.
    ClickRow(*f, "member.iso");
    f->SearchViewDblClick();
    EXPECT_EQ(f->RunTarget.Path, "e:\\a.zip");
    EXPECT_EQ(f->RunTarget.FType, 0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(prompt.Asked()[0].text.startsWith(ToQString(langunit::LangString(56) + " [7] ")));
    EXPECT_TRUE(prompt.Asked()[0].text.endsWith(QStringLiteral(" - Cat")));
    // Enter in the list does the same; the arrow keys show the row's note.
    f->ui->SearchView->SelectRow(int(Row(*f, "Song iso") - f->ui->SearchView->Model()->Rows().data()));
    SendKey(f->ui->SearchView->ReportView(), Qt::Key_Return, true, false);
    EXPECT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(f->RunTarget.FType, 2);
    f->ui->SearchView->SelectRow(0);
    SendKey(f->ui->SearchView->ReportView(), Qt::Key_Up, false, true);
    EXPECT_EQ(f->ui->SearchNoteLabel->text(), QStringLiteral("  image"));
}

TEST_F(SearchFormTest, AfterASearchOtherViewsKeepTheRowsAndTheFiltersAdmitTheCurrentDisc)
{
    for (const char *name : {"hit_a", "x2", "x3"})
        Add({.name = name});
    Add({.name = "hit_b", .disc = "e: [OTHER]"});
    Add({.name = "miss", .disc = "e: [OTHER]"});
    SaveCatalog("Cat");
    auto f = Open();
    Search(*f, "hit");
    ASSERT_EQ(Found(*f), (Names{"hit_a", "hit_b"}));
    // Opening another disc filters the file table to that disc; the rows found
    // stay what the search found.
    OpenDisc(*f, "e: [OTHER]");
    f->ui->SmallIconViewMenu->trigger();
    EXPECT_EQ(f->ui->SearchView->ViewStyle(), vsSmallIcon);
    EXPECT_EQ(Found(*f), (Names{"hit_a", "hit_b"}));
    // The method the search installed stays; outside a search it admits
    // exactly the current disc's records, as the work table needs.
    f->ui->CheckBox1->setChecked(true);
    f->ui->RadioButton4->setChecked(true);
    f->ui->RadioButton7->setChecked(true);
    Search(*f, "x3");
    f->FlatTable1->SetFiltered(false);
    f->FlatTable1->SetFiltered(true);
    EXPECT_EQ(f->FlatTable1->RecordCount(), 2);
}

TEST_F(SearchFormTest, FindAllStopsAtTheLimitAndCountsEverything)
{
    SaveCatalog("A", 400);
    SaveCatalog("B", 500);
    SaveCatalog("C", 300);
    SaveCatalog("D", 600);
    auto f = Open("A");
    const QString caption = f->windowTitle();
    f->ui->FindAllButton->click();
    EXPECT_FALSE(f->ui->ComboBox2->isEnabled());
    EXPECT_TRUE(f->ui->FindAllMenu->isChecked());
    // A total exactly at the limit lists everything without a question.
    fs::rename(fs::path(data) / "C.d", fs::path(data) / "C.x");
    fs::rename(fs::path(data) / "B.d", fs::path(data) / "B.x");
    Search(*f, "hit_");
    EXPECT_EQ(f->ui->SearchView->Count(), 1000);
    EXPECT_TRUE(prompt.Asked().empty());
    fs::rename(fs::path(data) / "C.x", fs::path(data) / "C.d");
    fs::rename(fs::path(data) / "B.x", fs::path(data) / "B.d");
    fs::rename(fs::path(data) / "D.d", fs::path(data) / "D.x");
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 900);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(f->ui->Label3->text().contains(QStringLiteral(" 1200. ")));
    EXPECT_EQ(StatusText(*f, 2).toStdString(), " " + langunit::LangString(62) + " : 1200");
    EXPECT_EQ(f->FindAllResultTable->RecordCount(), 900);
    ExpectSearchClosed(*f, caption);
    // Each row names its catalogue, also when the rows are refilled.
    f->ui->IconViewMenu->trigger();
    std::map<std::string, int> from;
    for (const TSearchRow &r : f->ui->SearchView->Model()->Rows())
        ++from[r.Archive];
    EXPECT_EQ(from, (std::map<std::string, int>{{"A", 400}, {"B", 500}}));
    ClickRow(*f, "hit_450.txt");
    EXPECT_EQ(StatusText(*f, 0), QStringLiteral(" B"));
    EXPECT_TRUE(f->ui->SearchView->toolTip().endsWith(QStringLiteral(" B")));
    // Closing the button frees the result table and restores browsing.
    f->ui->FindAllButton->click();
    EXPECT_FALSE(f->FindAllResultTable);
    EXPECT_TRUE(f->ui->ComboBox2->isEnabled());
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
}

// Once the running total passes the limit the search of all catalogues ends there: the catalogue
// that passed it and every one after it add no rows, the message is shown once, and the total
// counts up to that catalogue.
TEST_F(SearchFormTest, FindAllEndsAtTheCatalogueThatPassesTheLimit)
{
    SaveCatalog("A", 400);
    SaveCatalog("B", 500);
    SaveCatalog("C", 300);
    SaveCatalog("D", 600);
    SaveCatalog("E", 50);
    auto f = Open("A");
    f->ui->FindAllButton->click();
    Search(*f, "hit");
    EXPECT_EQ(prompt.Asked().size(), 1u);
    std::map<std::string, int> from;
    for (const TSearchRow &r : f->ui->SearchView->Model()->Rows())
        ++from[r.Archive];
    EXPECT_EQ(from, (std::map<std::string, int>{{"A", 400}, {"B", 500}}));
    EXPECT_EQ(f->FindAllResultTable->RecordCount(), 900);
    EXPECT_EQ(StatusText(*f, 2).toStdString(), " " + langunit::LangString(62) + " : 1200");
}

TEST_F(SearchFormTest, FindAllSkipsWhatIsNoCatalogue)
{
    SaveCatalog("A", 2);
    SaveCatalog("C", 3);
    dir.write("DiVovData/B.d", std::string(300, '\x7f')); // damaged
    fs::create_directories(fs::path(data) / "Folder.d");
    SaveCatalog("D", 5);
    fs::rename(fs::path(data) / "D.d", fs::path(data) / "D.~d"); // a backup
    SaveCatalog("E", 7);
    fs::rename(fs::path(data) / "E.d", fs::path(data) / "E.D"); // not in small letters
    auto f = Open("A");
    const QString caption = f->windowTitle();
    EXPECT_EQ(TMainForm::CatalogFilesOf(data).size(), 4u);
    f->ui->FindAllButton->click();
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 5);
    EXPECT_TRUE(prompt.Asked().empty());
    EXPECT_TRUE(StatusText(*f, 3).contains(QStringLiteral("B, Folder")));
    ExpectSearchClosed(*f, caption);
    EXPECT_EQ(f->FlatTable1->RecordCount(), 3); // the open catalogue is untouched
    // No catalogue at all: the notice says so.
    for (const char *n : {"A.d", "B.d", "C.d"})
        fs::remove(fs::path(data) / n);
    Search(*f, "hit");
    EXPECT_EQ(f->ui->SearchView->Count(), 0);
    EXPECT_EQ(f->ui->Label3->text().toStdString(), langunit::LangString(60));
}

TEST_F(SearchFormTest, AFailureDuringTheSearchRestoresTheBrowseState)
{
    for (int i = 0; i < 150; ++i)
        Add({.name = "hit_" + std::to_string(i)});
    Add({.name = "hit_x", .disc = "e: [OTHER]"});
    SaveCatalog("Cat");
    auto f = Open("Cat", "Setup7=100\n");
    ASSERT_EQ(f->SearchLimit, 100);
    const QString caption = f->windowTitle();
    // The box above the limit fails (an answer it does not offer): the search
    // stops half-way, with its flag, cursor and progress bar set; the same in
    // a search of all catalogues.
    for (bool all : {false, true}) {
        if (all)
            f->ui->FindAllButton->click();
        prompt.Answer(PromptResult::Yes);
        Search(*f, "hit");
        ASSERT_GE(prompt.Asked().size(), 1u);
        ExpectSearchClosed(*f, caption);
        EXPECT_TRUE(f->FlatTable1->Filtered());
        EXPECT_EQ(f->FlatTable1->RecordCount(), 150); // the current disc again
    }
}
