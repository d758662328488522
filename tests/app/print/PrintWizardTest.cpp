// The print wizard on a real catalogue: sources, filters, rows dragged in, the
// report it prints, its life when the main window's catalogue changes.
#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QPrintPreviewDialog>
#include <QPushButton>

#include "app/MainFormTestSupport.h"
#include "app/print/PrintTestSupport.h"
#include "app/print/BandReport.h"
#include "app/search/SearchListView.h"
#include "app/print/selunit.h"
#include "ui_MainForm.h"
#include "ui_PrintPrepareForm.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using printtest::InOrderOnOneLine;

namespace {

class PrintWizardTest : public MainFormTablesTest {
protected:
    void TearDown() override
    {
        TBandReport::RunPreview = oldRun;
        TBandReport::AskPdfFileName = oldAsk;
        MainFormTablesTest::TearDown();
    }
    static void Append(TFlatTable &t, std::initializer_list<std::pair<const char *, TVariant>> values)
    {
        t.Append();
        for (const auto &[field, value] : values)
            t.FieldByName(field).SetValue(value);
        t.Post();
    }
    void AddRecord(const std::string &disc, const std::string &path, const std::string &name, int type, int ftype = 0)
    {
        Append(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", numbers[disc]}, {"Size", "10"},
                       {"Attrib", type == 0 ? 0x10 : 0x20}, {"Type", type}, {"FType", ftype},
                       {"LoadName", ftype == 2 ? "Track01.cda" : ""}, {"CreateDate", "01.02.2003"}});
    }
    void AddDisc(const std::string &name, const std::string &number, int kind)
    {
        numbers[name] = number;
        Append(discs, {{"CdName", name}, {"Number", number}, {"CdSize", "1 mb"}, {"CType", kind}});
    }
    // A data disc scanned from a folder tree, a music disc, a disc of both.
    void MakeCatalog()
    {
        AddDisc("e: [DATA]", "7", 0);
        AddDisc("f: [MUSIC]", "3", 2);
        AddDisc("g: [MIX]", "9", 0);
        const fs::path root = dir.path() / "drive";
        fs::create_directories(root / "docs" / "old");
        for (const char *f : {"setup.exe", "Photo.JPEG", "index.html", "song.wav", "readme.txt", "docs/report.doc",
                              "docs/old/x.document.txt", "docs/old/tool.com", "docs/page.htm"})
            dir.write(std::string("drive/") + f, "x");
        WalkScannedTree(root, "e:", [&](const std::string &folder, const fs::path &p) {
            AddRecord("e: [DATA]", folder, p.filename().string(), fs::is_directory(p) ? 0 : 1);
        });
        AddRecord("f: [MUSIC]", "f:\\", "Intro", 1, 2);
        AddRecord("f: [MUSIC]", "f:\\", "Outro", 1, 2);
        AddRecord("g: [MIX]", "g:\\", "Hidden track", 1, 2);
        AddRecord("g: [MIX]", "g:\\", "notes.doc", 1);
        Save("Cat");
    }
    void Save(const std::string &name)
    {
        files.SaveToFile(data + "/" + name + ".d");
        discs.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
        Ini(name);
    }
    // The main window (the data disc open), the wizard from its print button,
    // the preview's PDF button pressed whenever the wizard previews.
    TPrintPrepareForm *OpenWizard(bool openDisc = true)
    {
        form = Open();
        if (openDisc)
            OpenDisc(*form, "e: [DATA]");
        TBandReport::AskPdfFileName = [this](QWidget *) { return dir.file("out.pdf"); };
        TBandReport::RunPreview = [this](QPrintPreviewDialog &dialog) {
            ++previews;
            dialog.findChild<QAction *>(QStringLiteral("SavePdfAction"))->trigger();
            return 0;
        };
        return Wizard();
    }
    TPrintPrepareForm *Wizard() { return form->ui->PrintButton->click(), form->PrintPrepareForm.data(); }
    void SelectListRow(const std::string &name)
    {
        const auto &rows = form->ui->LinksListView->Model()->Rows();
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const auto &r) { return r.Name == name; });
        ASSERT_NE(found, rows.end()) << name;
        form->ui->LinksListView->SelectRow(static_cast<int>(found - rows.begin()));
    }
    static void ChooseSource(TPrintPrepareForm &w, int index) { w.RadioGroup1Items->button(index)->click(); }
    static void ChooseType(TPrintPrepareForm &w, int index) { w.RadioGroup2Items->button(index)->click(); }
    static void Next(TPrintPrepareForm &w) { w.ui->Button1->click(); }
    static void Back(TPrintPrepareForm &w) { w.ui->Button2->click(); }
    static void Pick(TPrintPrepareForm &w, int source, int type, const QString &filter = QString())
    {
        ChooseSource(w, source);
        Next(w);
        ASSERT_EQ(w.PageIndex(), 1);
        ChooseType(w, type);
        if (!filter.isNull())
            w.ui->Edit1->setText(filter);
        Next(w);
        ASSERT_EQ(w.PageIndex(), 2);
    }
    // The names the report would print (in order unless sorted), or the grid's.
    static Names Rows(TPrintPrepareForm &w, bool sorted = false, bool grid = false)
    {
        Names out;
        for (int r = 0; grid && r < w.GridModel->rowCount(); ++r)
            out.push_back(w.GridModel->index(r, 0).data().toString().toStdString());
        for (w.ReportTable->First(); !grid && !w.ReportTable->Eof(); w.ReportTable->Next())
            out.push_back(w.ReportTable->FieldByName("Name").AsString());
        if (sorted)
            std::sort(out.begin(), out.end());
        return out;
    }
    // The current or the named record of the report table.
    static std::string Record(TExMemoryData &t, const std::string &name = {})
    {
        if (!name.empty() && !t.Locate("Name", TVariant(name), TLocateOptions{}))
            return "no " + name;
        return t.FieldByName("Path").AsString() + "|" + t.FieldByName("Namecd").AsString() + "|" +
               t.FieldByName("Number").AsString() + "|" + std::to_string(t.FieldByName("Type").AsInteger());
    }

    std::unique_ptr<TMainForm> form;
    std::map<std::string, std::string> numbers;
    std::function<int(QPrintPreviewDialog &)> oldRun = TBandReport::RunPreview;
    std::function<std::string(QWidget *)> oldAsk = TBandReport::AskPdfFileName;
    int previews = 0;
};

// Sorted by bytes.
const Names kDataDisc = {"Photo.JPEG", "docs",      "index.html", "old",      "page.htm",      "readme.txt",
                         "report.doc", "setup.exe", "song.wav",   "tool.com", "x.document.txt"};

} // namespace

TEST_F(PrintWizardTest, PrintButtonAndMenuOpenTheWizardOnItsFirstPageInTheLanguageAndItGoesWithTheMainWindow)
{
    MakeCatalog();
    TPrintPrepareForm *w = OpenWizard(false);
    ASSERT_NE(w, nullptr); // the print button opens it
    EXPECT_TRUE(w->isVisible() && !w->isModal() && (w->windowFlags() & Qt::WindowStaysOnTopHint));
    EXPECT_EQ(std::vector<int>({w->PageIndex(), w->SourceIndex(), w->FileTypeIndex(), w->ReportTypeIndex()}),
              std::vector<int>({0, -1, 0, 0}));
    EXPECT_FALSE(w->ui->Button2->isEnabled() || w->ui->Edit1->isEnabled());
    Next(*w); // no source chosen: nothing happens
    EXPECT_EQ(w->PageIndex(), 0);
    // Closing frees it; opened again it speaks the language chosen meanwhile.
    w->ui->BitBtn1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form->PrintPrepareForm);
    langunit::SetCurrentLanguage(langunit::LangCzech);
    form->ui->PrintMenu->trigger();
    QPointer<TPrintPrepareForm> again = form->PrintPrepareForm.data();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->windowTitle(), QStringLiteral("Průvodce tiskem"));
    again->close();
    langunit::SetCurrentLanguage(langunit::LangSlovak);
    again = w = Wizard();
    EXPECT_EQ(w->ui->RadioGroup1->title().toStdString(), " " + langunit::LangString(89) + " : ");
    form.reset();
    EXPECT_FALSE(again);
}

TEST_F(PrintWizardTest, EachSourceAndFileTypeChoosesTheRowsThePrintStepWritesToPdf)
{
    MakeCatalog();
    TPrintPrepareForm *w = OpenWizard();
    struct Case {
        const char *folder; // the list's folder on the data disc ("" the root)
        int source, type;
        QString filter;
        Names expected;
    };
    const Case cases[] = {
        {"", 0, 0, {}, kDataDisc},
        {"", 3, 0, {}, {"docs", "old"}},
        {"", 0, 1, {}, {"setup.exe", "tool.com"}},           {"", 0, 2, {}, {"Photo.JPEG"}},
        {"", 0, 3, {}, {"song.wav"}},                        {"", 0, 4, {}, {"report.doc", "x.document.txt"}},
        {"", 0, 5, {}, {"index.html", "page.htm"}},
        // The user's filter: anywhere in the name, any case, no stars; empty: nothing.
        {"", 0, 6, "*doc*", {"docs", "report.doc", "x.document.txt"}},
        {"", 0, 6, "ReAd", {"readme.txt"}},                  {"", 0, 6, "", {}},
        // Every audio track of the catalogue, printed in the music layout.
        {"", 6, 0, {}, {"Hidden track", "Intro", "Outro"}},
        {"docs", 1, 0, {}, {"old", "page.htm", "report.doc"}},
        {"docs", 2, 0, {}, {"old", "page.htm", "report.doc", "tool.com", "x.document.txt"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.source) + "/" + std::to_string(c.type) + " " + c.folder);
        if (*c.folder && form->Browse.CurrentPath == "e:\\") {
            SelectListRow(c.folder);
            form->LinksListViewDblClick();
            ASSERT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
        }
        Pick(*w, c.source, c.type, c.filter);
        EXPECT_EQ(Rows(*w, true), c.expected);
        EXPECT_EQ(w->ui->Label5->text(), QString::number(static_cast<int>(c.expected.size())));
        EXPECT_EQ(w->ui->Button1->text().toStdString(), langunit::LangString(89));
        EXPECT_EQ(w->ui->Edit1->isEnabled(), c.type == 6);
        if (c.source == 0 && c.type == 0) {
            EXPECT_EQ(Rows(*w, true, true), kDataDisc);
        } else if (c.source == 6) { // the file table shows the open disc again
            EXPECT_EQ(form->FlatTable1->Filtered() ? form->FlatTable1->RecordCount() : -1, 11);
        }
        w->RadioGroup3Items->button(c.source == 6 ? 1 : 0)->click();
        if (c.source == 3) { // back to the type step: a type filter replaces the folder filter
            Back(*w);
            ChooseType(*w, 1);
            Next(*w);
            EXPECT_EQ(Rows(*w, true), (Names{"setup.exe", "tool.com"}));
        }
        // The print step previews the report; its PDF button writes the rows.
        const Names shown = Rows(*w);
        Next(*w);
        const auto pages = printtest::PdfPages(dir.file("out.pdf"));
        ASSERT_EQ(pages.size(), 1u);
        size_t rows = 0;
        for (const std::string &line : printtest::Lines(pages[0]))
            rows += line.find(": [") != std::string::npos;
        EXPECT_EQ(rows, shown.size()) << pages[0];
        EXPECT_EQ(pages[0].find("Path:") == std::string::npos, c.source == 6);
        for (const std::string &name : shown)
            EXPECT_TRUE(InOrderOnOneLine(pages[0], c.source == 6 ? Names{name, "]"} : Names{name, "e:\\", "]"}));
        Back(*w);
        EXPECT_EQ(w->ui->Button1->text(), QStringLiteral("&Next >"));
        Back(*w);
        EXPECT_TRUE(w->PageIndex() == 0 && !w->ui->Button2->isEnabled());
    }
    EXPECT_EQ(previews, static_cast<int>(std::size(cases)));
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized); // the main window is back as it was
    ChooseType(*w, 0);
    EXPECT_FALSE(w->ui->Edit1->isEnabled());
    // The work table has its folder filter back: the list is unchanged.
    ASSERT_TRUE(form->WorkTable->Filtered());
    form->LoadList();
    EXPECT_EQ(form->ui->LinksListView->Count(), 3);
}

TEST_F(PrintWizardTest, ManualSelectionTakesRowsDraggedFromTheFileList)
{
    MakeCatalog();
    TPrintPrepareForm *w = OpenWizard();
    Pick(*w, 0, 1); // a filter left from an earlier pass does not hide dragged rows
    Back(*w);
    Back(*w);
    ChooseSource(*w, 5);
    EXPECT_TRUE(Rows(*w).empty());
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_TRUE(w->ui->Button2->isEnabled());
    QTreeView *list = form->ui->LinksListView->ReportView();
    EXPECT_TRUE(w->DBGrid1DragOver(list));
    EXPECT_FALSE(w->DBGrid1DragOver(w->ui->DBGrid1));
    EXPECT_FALSE(w->DBGrid1DragOver(form->ui->TreeView1->viewport()));
    for (const char *name : {"readme.txt", "readme.txt", "docs"}) { // the same file twice gives two rows
        SelectListRow(name);
        w->DBGrid1DragDrop(list);
    }
    EXPECT_EQ(Rows(*w), (Names{"readme.txt", "readme.txt", "docs"}));
    EXPECT_EQ(Rows(*w, false, true), Rows(*w));
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("3"));
    w->ReportTable->First();
    EXPECT_EQ(Record(*w->ReportTable), "e:\\|e: [DATA]|7|1");
    w->ReportTable->Last();
    EXPECT_EQ(Record(*w->ReportTable), "e:\\|e: [DATA]|7|0");
    // Deleting a row asks first; No keeps it.
    w->ui->DBGrid1->setCurrentIndex(w->GridModel->index(1, 0));
    prompt.Answer(PromptResult::No);
    EXPECT_FALSE(w->ui->DBGrid1->DeleteCurrentRow());
    EXPECT_EQ(Rows(*w).size(), 3u);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].defaultButton, PromptResult::No);
    prompt.Answer(PromptResult::Yes);
    EXPECT_TRUE(w->ui->DBGrid1->DeleteCurrentRow());
    EXPECT_EQ(Rows(*w), (Names{"readme.txt", "docs"}));
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("2"));
    // Editing a cell writes the report table.
    EXPECT_TRUE(w->GridModel->setData(w->GridModel->index(1, 0), QStringLiteral("Documents"), Qt::EditRole));
    EXPECT_EQ(Rows(*w), (Names{"readme.txt", "Documents"}));
}

TEST_F(PrintWizardTest, EmptySourceGivesAnEmptyReport)
{
    Save("Cat"); // a catalogue without records
    TPrintPrepareForm *w = OpenWizard(false);
    for (int source : {0, 1, 2, 3, 4, 6}) {
        SCOPED_TRACE(source);
        ChooseSource(*w, source);
        Next(*w);
        if (source != 4) // the search results have no type step
            Next(*w);
        EXPECT_EQ(w->PageIndex(), 2);
        EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("0"));
        Next(*w);
        EXPECT_EQ(printtest::PdfPages(dir.file("out.pdf")).size(), 1u);
        Back(*w);
        Back(*w);
    }
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PrintWizardTest, CatalogueSwitchedStartsOverAndClosedClosesTheWizard)
{
    AddDisc("h: [OTHER]", "1", 0); // a second catalogue with one disc
    AddRecord("h: [OTHER]", "h:\\", "other.txt", 1);
    Save("Second");
    for (TFlatTable *t : {&files, &discs})
        t->Close(), t->Open();
    MakeCatalog();
    QPointer<TPrintPrepareForm> w = OpenWizard();
    Pick(*w, 0, 0);
    ASSERT_EQ(Rows(*w).size(), 11u);
    std::string error;
    ASSERT_TRUE(form->OpenCatalog(data, "Second", &error)) << error;
    QCoreApplication::processEvents();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_TRUE(Rows(*w).empty());
    EXPECT_EQ(w->GridModel->rowCount(), 0);
    EXPECT_EQ(w->ui->Button1->text(), QStringLiteral("&Next >"));
    form->ShowCatalogView(); // it works on the new catalogue
    Pick(*w, 0, 0);
    EXPECT_EQ(Rows(*w), Names{"other.txt"});
    form->CloseTables();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(w);
    EXPECT_FALSE(form->PrintPrepareForm);
}

TEST_F(PrintWizardTest, SearchResultRowsAreCopiedInListOrder)
{
    MakeCatalog();
    TPrintPrepareForm *w = OpenWizard();
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("doc"));
    form->ui->FilterButton->click();
    Names listed; // docs, report.doc, x.document.txt and notes.doc of another disc
    for (const TSearchRow &r : form->ui->SearchView->Model()->Rows())
        listed.push_back(r.Name);
    ASSERT_EQ(listed.size(), 4u);
    ChooseSource(*w, 4);
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_EQ(Rows(*w), listed);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("4"));
    EXPECT_EQ(Record(*w->ReportTable, "x.document.txt"), "e:\\docs\\old\\|e: [DATA]|7|1");
    EXPECT_EQ(Record(*w->ReportTable, "docs"), "e:\\|e: [DATA]|7|0");
    // A row dragged from the result list is added as well.
    QAbstractItemView *results = form->ui->SearchView->ActiveView();
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(w->DBGrid1DragOver(results));
    form->ui->SearchView->SelectRow(1);
    w->DBGrid1DragDrop(results);
    EXPECT_EQ(Rows(*w).size(), 5u);
    EXPECT_EQ(Rows(*w).back(), listed[1]);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("5"));
}
