// The print wizard on a real catalogue: each source and file-type filter, rows
// dragged in by hand, the grid, the report it previews, and the wizard's life
// when the main window's catalogue changes under it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <map>

#include "PrintTestSupport.h"
#include "app/BandReport.h"
#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/SearchListView.h"
#include "app/selunit.h"
#include "platform/Prompt.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "ui_PrintPrepareForm.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

class PrintWizardTest : public ::testing::Test {
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
        oldRun = TBandReport::RunPreview;
        oldAsk = TBandReport::AskPdfFileName;
    }
    void TearDown() override
    {
        TBandReport::RunPreview = oldRun;
        TBandReport::AskPdfFileName = oldAsk;
        langunit::SetCurrentLanguage(langunit::LangSlovak);
    }

    void AddRecord(const std::string &disc, const std::string &path, const std::string &name, int type,
                   int ftype = 0)
    {
        files.Append();
        files.FieldByName("Path").SetAsString(path);
        files.FieldByName("Name").SetAsString(name);
        files.FieldByName("Namecd").SetAsString(disc);
        files.FieldByName("Number").SetAsString(numbers[disc]);
        files.FieldByName("Size").SetAsString("10");
        files.FieldByName("Attrib").SetAsInteger(type == 0 ? 0x10 : 0x20);
        files.FieldByName("Type").SetAsInteger(type);
        files.FieldByName("FType").SetAsInteger(ftype);
        files.FieldByName("LoadName").SetAsString(ftype == 2 ? "Track01.cda" : "");
        files.FieldByName("CreateDate").SetAsString("01.02.2003");
        files.Post();
    }
    void AddDisc(const std::string &name, const std::string &number, int kind)
    {
        numbers[name] = number;
        discs.Append();
        discs.FieldByName("CdName").SetAsString(name);
        discs.FieldByName("Number").SetAsString(number);
        discs.FieldByName("CdSize").SetAsString("1 mb");
        discs.FieldByName("CType").SetAsInteger(kind);
        discs.Post();
    }
    // Records of a real folder tree, as a scan writes them.
    void ScanTree(const std::string &disc, const fs::path &root, const std::string &drive)
    {
        std::vector<fs::path> entries;
        for (const auto &e : fs::recursive_directory_iterator(root))
            entries.push_back(e.path());
        std::sort(entries.begin(), entries.end());
        for (const fs::path &p : entries) {
            std::string folder = drive + "\\";
            for (const auto &part : fs::relative(p.parent_path(), root))
                if (part != ".")
                    folder += part.string() + "\\";
            AddRecord(disc, folder, p.filename().string(), fs::is_directory(p) ? 0 : 1);
        }
    }

    void MakeCatalog(const std::string &name = "Cat")
    {
        AddDisc("e: [DATA]", "7", 0);
        AddDisc("f: [MUSIC]", "3", 2);
        AddDisc("g: [MIX]", "9", 0);
        const fs::path root = dir.path() / "drive";
        fs::create_directories(root / "docs" / "old");
        for (const char *f : {"drive/setup.exe", "drive/Photo.JPEG", "drive/index.html", "drive/song.wav",
                              "drive/readme.txt", "drive/docs/report.doc", "drive/docs/old/x.document.txt",
                              "drive/docs/old/tool.com", "drive/docs/page.htm"})
            dir.write(f, "x");
        ScanTree("e: [DATA]", root, "e:");
        AddRecord("f: [MUSIC]", "f:\\", "Intro", 1, 2);
        AddRecord("f: [MUSIC]", "f:\\", "Outro", 1, 2);
        AddRecord("g: [MIX]", "g:\\", "Hidden track", 1, 2);
        AddRecord("g: [MIX]", "g:\\", "notes.doc", 1);
        Save(name);
    }
    void Save(const std::string &name)
    {
        files.SaveToFile(data + "/" + name + ".d");
        discs.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=0\nSetup20=1\nSetup_Text4=" +
                                           name + "\n");
    }

    std::unique_ptr<TMainForm> Open()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
        return form;
    }
    static void OpenDisc(TMainForm &form, const std::string &disc)
    {
        ASSERT_GE(form.SelectTreeNodeByText(disc), 0);
        form.TreeView1Click();
    }
    static void EnterFolder(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name) {
                form.ui->LinksListView->SelectRow(static_cast<int>(i));
                form.LinksListViewDblClick();
                return;
            }
        ADD_FAILURE() << "no row " << name;
    }
    static void SelectListRow(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name) {
                form.ui->LinksListView->SelectRow(static_cast<int>(i));
                return;
            }
        ADD_FAILURE() << "no row " << name;
    }

    // The wizard as the print button opens it.
    static TPrintPrepareForm *Wizard(TMainForm &form)
    {
        form.ui->PrintButton->click();
        EXPECT_TRUE(form.PrintPrepareForm);
        return form.PrintPrepareForm.data();
    }
    static void ChooseSource(TPrintPrepareForm &w, int index) { w.RadioGroup1Items->button(index)->click(); }
    static void ChooseType(TPrintPrepareForm &w, int index) { w.RadioGroup2Items->button(index)->click(); }
    static void Next(TPrintPrepareForm &w) { w.ui->Button1->click(); }
    // Source step and file-type step.
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
    // The names the report would print, in order.
    static Names Rows(TPrintPrepareForm &w)
    {
        Names out;
        TExMemoryData &t = *w.ReportTable;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.FieldByName("Name").AsString());
        return out;
    }
    static Names Sorted(Names n)
    {
        std::sort(n.begin(), n.end());
        return n;
    }
    // What the grid shows in its first column.
    static Names GridNames(TPrintPrepareForm &w)
    {
        Names out;
        for (int r = 0; r < w.GridModel->rowCount(); ++r)
            out.push_back(w.GridModel->index(r, 0).data().toString().toStdString());
        return out;
    }

    orbtest::TempDir dir;
    std::string data;
    TFlatTable files, discs;
    std::map<std::string, std::string> numbers;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
    std::function<int(QPrintPreviewDialog &)> oldRun;
    std::function<std::string(QWidget *)> oldAsk;
};

// Sorted by bytes.
const Names kDataDisc = {"Photo.JPEG", "docs",      "index.html", "old",      "page.htm",      "readme.txt",
                         "report.doc", "setup.exe", "song.wav",   "tool.com", "x.document.txt"};

} // namespace

TEST_F(PrintWizardTest, PrintButtonAndMenuOpenTheWizardOnItsFirstPage)
{
    MakeCatalog();
    auto form = Open();
    TPrintPrepareForm *w = Wizard(*form);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_EQ(w->SourceIndex(), -1);
    EXPECT_EQ(w->FileTypeIndex(), 0);
    EXPECT_EQ(w->ReportTypeIndex(), 0);
    EXPECT_FALSE(w->ui->Button2->isEnabled());
    EXPECT_FALSE(w->ui->Edit1->isEnabled());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Print report wizard"));
    EXPECT_EQ(w->ui->Button1->text(), QStringLiteral("&Next >"));
    EXPECT_EQ(w->ui->Button2->text(), QStringLiteral("< &Back"));
    EXPECT_EQ(w->RadioGroup1Items->button(6)->text(), QStringLiteral("All music CD"));
    EXPECT_EQ(w->GridModel->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Drive"));
    // Next with no source chosen does nothing.
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 0);
    // Closing frees it.
    w->ui->BitBtn1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form->PrintPrepareForm);
    form->ui->PrintMenu->trigger();
    ASSERT_TRUE(form->PrintPrepareForm);
    form->PrintPrepareForm->close();
}

TEST_F(PrintWizardTest, TextsInSlovakAndCzech)
{
    MakeCatalog();
    auto form = Open();
    langunit::SetCurrentLanguage(langunit::LangCzech);
    TPrintPrepareForm *w = Wizard(*form);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Průvodce tiskem"));
    EXPECT_EQ(w->RadioGroup2Items->button(6)->text(), QStringLiteral("Uživatelem definovaný filtr"));
    EXPECT_EQ(w->ui->Label3->text(), QStringLiteral("Počet souború pro tisk :"));
    w->close();
    langunit::SetCurrentLanguage(langunit::LangSlovak);
    w = Wizard(*form);
    EXPECT_EQ(w->RadioGroup1Items->button(2)->text(), QStringLiteral("Aktuálny adresár+podadres."));
    EXPECT_EQ(w->RadioGroup3Items->button(1)->text(), QStringLiteral("Hudobné CD"));
    EXPECT_EQ(w->ui->RadioGroup1->title().toStdString(), " " + langunit::LangString(89) + " : ");
    w->close();
}

TEST_F(PrintWizardTest, CurrentDiscFolderAndSubFolders)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    Pick(*w, 0, 0);
    EXPECT_EQ(Sorted(Rows(*w)), kDataDisc);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("11"));
    EXPECT_EQ(w->ui->Button1->text().toStdString(), langunit::LangString(89));
    EXPECT_EQ(Sorted(GridNames(*w)), kDataDisc);

    // Back to the first page: the caption is "next" again.
    w->ui->Button2->click();
    EXPECT_EQ(w->ui->Button1->text(), QStringLiteral("&Next >"));
    w->ui->Button2->click();
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_FALSE(w->ui->Button2->isEnabled());

    EnterFolder(*form, "docs");
    ASSERT_EQ(form->Browse.CurrentPath, "e:\\docs\\");
    Pick(*w, 1, 0);
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"old", "page.htm", "report.doc"}));
    w->ui->Button2->click();
    w->ui->Button2->click();
    Pick(*w, 2, 0);
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"old", "page.htm", "report.doc", "tool.com", "x.document.txt"}));
    // The work table has its folder filter back: the list is unchanged.
    ASSERT_TRUE(form->WorkTable->Filtered());
    form->LoadList();
    EXPECT_EQ(form->ui->LinksListView->Count(), 3);
    w->close();
}

TEST_F(PrintWizardTest, OnlyFoldersWithAndWithoutAFileType)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    Pick(*w, 3, 0);
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"docs", "old"}));
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("2"));
    w->ui->Button2->click();
    ChooseType(*w, 1);
    Next(*w);
    // The program filter replaces the folder filter.
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"setup.exe", "tool.com"}));
    w->close();
}

TEST_F(PrintWizardTest, FileTypeFiltersLookAnywhereInTheNameIgnoringCase)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    const std::pair<int, Names> cases[] = {
        {1, {"setup.exe", "tool.com"}},
        {2, {"Photo.JPEG"}},
        {3, {"song.wav"}},
        {4, {"report.doc", "x.document.txt"}},
        {5, {"index.html", "page.htm"}},
    };
    for (const auto &[type, expected] : cases) {
        Pick(*w, 0, type);
        EXPECT_EQ(Sorted(Rows(*w)), expected) << type;
        EXPECT_EQ(w->ui->Label5->text(), QString::number(static_cast<int>(expected.size())));
        w->ui->Button2->click();
        w->ui->Button2->click();
    }
    // The user's filter, stars at both ends removed, upper-cased like the names.
    ChooseType(*w, 6);
    EXPECT_TRUE(w->ui->Edit1->isEnabled());
    Pick(*w, 0, 6, QStringLiteral("*doc*"));
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"docs", "report.doc", "x.document.txt"}));
    w->ui->Button2->click();
    w->ui->Button2->click();
    Pick(*w, 0, 6, QStringLiteral("ReAd"));
    EXPECT_EQ(Rows(*w), Names{"readme.txt"});
    w->ui->Button2->click();
    w->ui->Button2->click();
    // An empty filter text matches nothing.
    Pick(*w, 0, 6, QString(""));
    EXPECT_TRUE(Rows(*w).empty());
    w->ui->Button2->click();
    ChooseType(*w, 0);
    EXPECT_FALSE(w->ui->Edit1->isEnabled());
    w->close();
}

TEST_F(PrintWizardTest, EveryAudioTrackOfTheCatalogueWhateverDiscIsOpen)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    Pick(*w, 6, 0);
    EXPECT_EQ(Sorted(Rows(*w)), (Names{"Hidden track", "Intro", "Outro"}));
    // The file table shows the open disc again.
    ASSERT_TRUE(form->FlatTable1->Filtered());
    EXPECT_EQ(form->FlatTable1->RecordCount(), 11);
    w->close();
}

TEST_F(PrintWizardTest, ManualSelectionTakesRowsDraggedFromTheFileList)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    // A filter left from an earlier pass does not hide dragged rows.
    Pick(*w, 0, 1);
    w->ui->Button2->click();
    w->ui->Button2->click();
    ChooseSource(*w, 5);
    EXPECT_TRUE(Rows(*w).empty());
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_EQ(w->ui->Button1->text().toStdString(), langunit::LangString(89));
    EXPECT_TRUE(w->ui->Button2->isEnabled());

    QTreeView *list = form->ui->LinksListView->ReportView();
    EXPECT_TRUE(w->DBGrid1DragOver(list));
    EXPECT_FALSE(w->DBGrid1DragOver(w->ui->DBGrid1));
    EXPECT_FALSE(w->DBGrid1DragOver(form->ui->TreeView1->viewport()));
    SelectListRow(*form, "readme.txt");
    w->DBGrid1DragDrop(list);
    w->DBGrid1DragDrop(list); // the same file twice gives two rows
    SelectListRow(*form, "docs");
    w->DBGrid1DragDrop(list);
    EXPECT_EQ(Rows(*w), (Names{"readme.txt", "readme.txt", "docs"}));
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("3"));
    EXPECT_EQ(GridNames(*w), (Names{"readme.txt", "readme.txt", "docs"}));
    TExMemoryData &t = *w->ReportTable;
    t.First();
    EXPECT_EQ(t.FieldByName("Path").AsString(), "e:\\");
    EXPECT_EQ(t.FieldByName("Namecd").AsString(), "e: [DATA]");
    EXPECT_EQ(t.FieldByName("Number").AsString(), "7");
    EXPECT_EQ(t.FieldByName("Type").AsInteger(), 1);
    t.Last();
    EXPECT_EQ(t.FieldByName("Path").AsString(), "e:\\");
    EXPECT_EQ(t.FieldByName("Type").AsInteger(), 0);

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
    w->close();
}

TEST_F(PrintWizardTest, PrintStepPreviewsTheChosenLayoutAndWritesItsPdf)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    TPrintPrepareForm *w = Wizard(*form);
    Pick(*w, 0, 4);
    const std::string pdf = dir.file("out.pdf");
    TBandReport::AskPdfFileName = [&](QWidget *) { return pdf; };
    int previews = 0;
    TBandReport::RunPreview = [&](QPrintPreviewDialog &dialog) {
        ++previews;
        dialog.findChild<QAction *>(QStringLiteral("SavePdfAction"))->trigger();
        return 0;
    };
    Next(*w);
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(w->PageIndex(), 2);
    auto pages = printtest::PdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(printtest::InOrderOnOneLine(pages[0], {"report.doc", "e:\\docs\\", "e: [DATA]", "7"})) << pages[0];
    EXPECT_TRUE(printtest::InOrderOnOneLine(pages[0], {"x.document.txt", "e:\\docs\\old\\", "e: [DATA]", "7"}));
    EXPECT_EQ(pages[0].find("readme.txt"), std::string::npos);

    // The music layout: every track of the catalogue.
    w->ui->Button2->click();
    w->ui->Button2->click();
    Pick(*w, 6, 0);
    w->RadioGroup3Items->button(1)->click();
    Next(*w);
    pages = printtest::PdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(printtest::InOrderOnOneLine(pages[0], {"Intro", "f: [MUSIC]", "3"})) << pages[0];
    EXPECT_TRUE(printtest::InOrderOnOneLine(pages[0], {"Hidden track", "g: [MIX]", "9"}));
    EXPECT_EQ(pages[0].find("Path:"), std::string::npos);
    // The main window is back as it was.
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
    w->close();
}

TEST_F(PrintWizardTest, EmptySourceGivesAnEmptyReport)
{
    // A catalogue without records.
    Save("Cat");
    auto form = Open();
    TPrintPrepareForm *w = Wizard(*form);
    const std::string pdf = dir.file("empty.pdf");
    TBandReport::AskPdfFileName = [&](QWidget *) { return pdf; };
    TBandReport::RunPreview = [&](QPrintPreviewDialog &dialog) {
        dialog.findChild<QAction *>(QStringLiteral("SavePdfAction"))->trigger();
        return 0;
    };
    for (int source : {0, 1, 2, 3, 6}) {
        Pick(*w, source, 0);
        EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("0")) << source;
        Next(*w);
        const auto pages = printtest::PdfPages(pdf);
        ASSERT_EQ(pages.size(), 1u) << source;
        EXPECT_TRUE(printtest::InOrderOnOneLine(pages[0], {"Name:", "Path:", "Drive name:", "No.-"}));
        std::filesystem::remove(pdf);
        w->ui->Button2->click();
        w->ui->Button2->click();
    }
    // The search result source with no search gives no rows either.
    ChooseSource(*w, 4);
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("0"));
    EXPECT_TRUE(prompt.Asked().empty());
    w->close();
}

TEST_F(PrintWizardTest, CatalogueSwitchedStartsOverAndClosedClosesTheWizard)
{
    MakeCatalog();
    // A second catalogue with one disc.
    files.Close();
    files.Open();
    discs.Close();
    discs.Open();
    AddDisc("h: [OTHER]", "1", 0);
    AddRecord("h: [OTHER]", "h:\\", "other.txt", 1);
    files.SaveToFile(data + "/Second.d");
    discs.SaveToFile(data + "/CdNames/Second_cdname.d");

    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    QPointer<TPrintPrepareForm> w = Wizard(*form);
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
    // It works on the new catalogue.
    form->ShowCatalogView();
    Pick(*w, 0, 0);
    EXPECT_EQ(Rows(*w), Names{"other.txt"});

    form->CloseTables();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(w);
    EXPECT_FALSE(form->PrintPrepareForm);
}

TEST_F(PrintWizardTest, WizardGoesWithTheMainWindow)
{
    MakeCatalog();
    auto form = Open();
    QPointer<TPrintPrepareForm> w = Wizard(*form);
    ASSERT_TRUE(w);
    form.reset();
    EXPECT_FALSE(w);
}

TEST_F(PrintWizardTest, SearchResultRowsAreCopiedInListOrder)
{
    MakeCatalog();
    auto form = Open();
    OpenDisc(*form, "e: [DATA]");
    form->ui->FindButton->click();
    form->ui->Edit1->setText(QStringLiteral("doc"));
    form->ui->FilterButton->click();
    const auto &found = form->ui->SearchView->Model()->Rows();
    ASSERT_EQ(found.size(), 4u); // docs, report.doc, x.document.txt and notes.doc of another disc
    Names listed;
    for (const TSearchRow &r : found)
        listed.push_back(r.Name);

    TPrintPrepareForm *w = Wizard(*form);
    ChooseSource(*w, 4);
    Next(*w);
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_EQ(w->ui->Button1->text().toStdString(), langunit::LangString(89));
    EXPECT_EQ(Rows(*w), listed);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("4"));
    TExMemoryData &t = *w->ReportTable;
    ASSERT_TRUE(t.Locate("Name", TVariant(std::string("x.document.txt")), TLocateOptions{}));
    EXPECT_EQ(t.FieldByName("Path").AsString(), "e:\\docs\\old\\");
    EXPECT_EQ(t.FieldByName("Namecd").AsString(), "e: [DATA]");
    EXPECT_EQ(t.FieldByName("Number").AsString(), "7");
    EXPECT_EQ(t.FieldByName("Type").AsInteger(), 1);
    ASSERT_TRUE(t.Locate("Name", TVariant(std::string("docs")), TLocateOptions{}));
    EXPECT_EQ(t.FieldByName("Path").AsString(), "e:\\");
    EXPECT_EQ(t.FieldByName("Type").AsInteger(), 0);

    // A row dragged from the result list is added as well.
    QAbstractItemView *results = form->ui->SearchView->ActiveView();
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(w->DBGrid1DragOver(results));
    form->ui->SearchView->SelectRow(1);
    w->DBGrid1DragDrop(results);
    ASSERT_EQ(Rows(*w).size(), 5u);
    EXPECT_EQ(Rows(*w).back(), listed[1]);
    EXPECT_EQ(w->ui->Label5->text(), QStringLiteral("5"));
    w->close();
}
