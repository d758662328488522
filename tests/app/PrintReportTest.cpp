// The two report layouts on the banded renderer, written to PDF and read back
// as text: every row, the columns in order, the headers in the chosen
// language, page numbers, long reports broken into pages.
#include <gtest/gtest.h>

#include <QAction>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <filesystem>
#include <map>
#include <set>

#include "PrintTestSupport.h"
#include "app/BandReport.h"
#include "app/LangUnit.h"
#include "app/report.h"
#include "app/report_cd.h"
#include "app/selunit.h"
#include "platform/Prompt.h"
#include "storage/ExMemDS.h"
#include "support/TempDir.h"

using printtest::InOrderOnOneLine;
using printtest::LineWith;
using printtest::PdfPages;

namespace {

class PrintReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        table = MakeReportTable();
        table->Open();
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    void Add(const std::string &name, const std::string &path, const std::string &disc, const std::string &number,
             int type = 1)
    {
        TPrintRow r;
        r.Name = name;
        r.Path = path;
        r.Namecd = disc;
        r.Number = number;
        r.Type = type;
        AppendPrintRow(*table, r);
    }

    std::vector<std::string> Render(TBandReport &report, const std::string &name = "r.pdf")
    {
        std::string error;
        const std::string file = dir.file(name);
        EXPECT_TRUE(report.WritePdf(file, error)) << error;
        return PdfPages(file);
    }

    orbtest::TempDir dir;
    std::unique_ptr<TExMemoryData> table;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

TEST_F(PrintReportTest, DataDiscReportHasEveryRowWithItsColumnsInOrder)
{
    Add("readme.txt", "e:\\docs\\", "e: [DATA]", "7");
    Add("setup.exe", "e:\\tools\\bin\\", "e: [DATA]", "7");
    Add("song.wav", "f:\\", "f: [OTHER]", "12");
    TReportForm report;
    report.SetDataSet(table.get());
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    const std::string &page = pages[0];
    EXPECT_TRUE(InOrderOnOneLine(page, {"readme.txt", "e:\\docs\\", "e: [DATA]", "7"})) << page;
    EXPECT_TRUE(InOrderOnOneLine(page, {"setup.exe", "e:\\tools\\bin\\", "e: [DATA]", "7"})) << page;
    EXPECT_TRUE(InOrderOnOneLine(page, {"song.wav", "f:\\", "f: [OTHER]", "12"})) << page;
    // Rows in table order, below the title and the column header.
    EXPECT_LT(page.find("Summary files into archive"), page.find("Name:"));
    EXPECT_TRUE(InOrderOnOneLine(page, {"Name:", "Path:", "Drive name:", "No.-"})) << page;
    EXPECT_LT(page.find("Name:"), page.find("readme.txt"));
    EXPECT_LT(page.find("readme.txt"), page.find("setup.exe"));
    EXPECT_LT(page.find("setup.exe"), page.find("song.wav"));
    EXPECT_TRUE(InOrderOnOneLine(page, {ReportDateText().toStdString(), "Page number : 1"})) << page;
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PrintReportTest, MusicDiscReportHasNameDiscAndNumberOnly)
{
    Add("First track", "f:\\", "Best Of", "3");
    Add("Second track", "f:\\", "Best Of", "3");
    TReportCdForm report;
    report.SetDataSet(table.get());
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"First track", "Best Of", "3"})) << pages[0];
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"Second track", "Best Of", "3"}));
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"Name:", "Drive name:", "No.-"}));
    EXPECT_EQ(pages[0].find("Path:"), std::string::npos);
    EXPECT_EQ(pages[0].find("f:\\"), std::string::npos);
}

TEST_F(PrintReportTest, HeadersFollowTheChosenLanguage)
{
    Add("a.txt", "e:\\", "e: [DATA]", "1");
    for (int language : {langunit::LangSlovak, langunit::LangCzech, langunit::LangEnglish}) {
        langunit::SetCurrentLanguage(language);
        TReportForm report;
        report.SetDataSet(table.get());
        const auto pages = Render(report.QuickRep1, "lang" + std::to_string(language) + ".pdf");
        ASSERT_EQ(pages.size(), 1u);
        auto s = [language](int n) { return langunit::LangStringOf(language, n); };
        EXPECT_NE(pages[0].find(s(90)), std::string::npos) << language << pages[0];
        EXPECT_TRUE(InOrderOnOneLine(pages[0], {s(46) + ":", s(3), s(5), "No.-"})) << language << pages[0];
        EXPECT_NE(pages[0].find(s(85) + " 1"), std::string::npos) << language;
    }
    // The languages do differ, so the test above tells them apart.
    EXPECT_NE(langunit::LangStringOf(langunit::LangSlovak, 90), langunit::LangStringOf(langunit::LangEnglish, 90));
}

TEST_F(PrintReportTest, TwoThousandRowsArePaginatedWithoutALostOrRepeatedRow)
{
    char name[32];
    for (int i = 1; i <= 2000; ++i) {
        std::snprintf(name, sizeof name, "row%04d.dat", i);
        Add(name, "e:\\many\\", "e: [DATA]", "7");
    }
    TReportForm report;
    report.SetDataSet(table.get());
    const auto pages = Render(report.QuickRep1);
    ASSERT_GT(pages.size(), 30u);
    std::vector<int> seen;
    std::vector<size_t> perPage;
    for (size_t p = 0; p < pages.size(); ++p) {
        const size_t before = seen.size();
        // Each page says its own number once, and has the column header.
        const std::string label = "Page number : " + std::to_string(p + 1);
        const size_t at = pages[p].find(label);
        ASSERT_NE(at, std::string::npos) << "page " << p + 1;
        const char after = at + label.size() < pages[p].size() ? pages[p][at + label.size()] : '\n';
        EXPECT_FALSE(after >= '0' && after <= '9') << "page " << p + 1;
        EXPECT_TRUE(InOrderOnOneLine(pages[p], {"Name:", "Path:", "Drive name:", "No.-"})) << p + 1;
        // The title only on the first page.
        EXPECT_EQ(pages[p].find("Summary files into archive") != std::string::npos, p == 0);
        for (const std::string &line : printtest::Lines(pages[p])) {
            const size_t r = line.find("row");
            if (r == std::string::npos)
                continue;
            ASSERT_TRUE(InOrderOnOneLine(line, {"row", ".dat", "e:\\many\\", "e: [DATA]", "7"})) << line;
            seen.push_back(std::stoi(line.substr(r + 3, 4)));
        }
        perPage.push_back(seen.size() - before);
    }
    ASSERT_EQ(seen.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(seen[static_cast<size_t>(i)], i + 1);
    EXPECT_EQ(pages.size(), static_cast<size_t>(report.QuickRep1.PageNumber()));
    // Every page after the first (which holds the title) is full but the last.
    for (size_t p = 2; p + 1 < perPage.size(); ++p)
        EXPECT_EQ(perPage[p], perPage[1]) << "page " << p + 1;
    EXPECT_GE(perPage[0], perPage[1] - 3);
    EXPECT_LE(perPage.back(), perPage[1]);
    EXPECT_GT(perPage.back(), 0u);
}

TEST_F(PrintReportTest, TooLongTextEndsInAnEllipsisInsideItsColumn)
{
    const std::string longName(120, 'N');
    const std::string longPath = "e:\\" + std::string(150, 'p') + "\\";
    Add(longName, longPath, "e: [DATA]", "7");
    TReportForm report;
    report.SetDataSet(table.get());
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    const std::string line = LineWith(pages[0], "NNNN");
    ASSERT_FALSE(line.empty()) << pages[0];
    EXPECT_EQ(line.find(longName), std::string::npos);
    EXPECT_NE(line.find("N…"), std::string::npos) << line;
    EXPECT_NE(line.find("p…"), std::string::npos) << line;
    // The next columns are there, whole and in order.
    EXPECT_TRUE(InOrderOnOneLine(line, {"N…", "e:\\ppp", "p…", "e: [DATA]", "7"})) << line;
}

TEST_F(PrintReportTest, RepeatedTextsStandOnEveryRowAndLetterPairsStayLetters)
{
    // The same disc, number and too-long path on every row, names with
    // letter pairs a font may join into one sign.
    const std::string longPath = "e:\\" + std::string(150, 'q') + "\\";
    const std::vector<std::string> names = {"final office.txt", "waffle fjord.doc", "final office.txt", "efficient.txt"};
    for (const std::string &name : names)
        Add(name, longPath, "e: [DATA]", "7");
    TReportForm report;
    report.SetDataSet(table.get());
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    size_t from = 0;
    for (const std::string &name : names) {
        const size_t at = pages[0].find(name, from);
        ASSERT_NE(at, std::string::npos) << name << "\n" << pages[0];
        const size_t end = pages[0].find('\n', at);
        const std::string line = pages[0].substr(at, end - at);
        EXPECT_TRUE(InOrderOnOneLine(line, {name, "e:\\qqq", "q…", "e: [DATA]", "7"})) << line;
        from = end;
    }
}

TEST_F(PrintReportTest, EmptyOrClosedSourceGivesOnePageWithHeadersOnly)
{
    TReportForm report;
    report.SetDataSet(table.get());
    auto pages = Render(report.QuickRep1, "empty.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"Name:", "Path:", "Drive name:", "No.-"}));
    EXPECT_NE(pages[0].find("Page number : 1"), std::string::npos);
    table->Close();
    pages = Render(report.QuickRep1, "closed.pdf");
    EXPECT_EQ(pages.size(), 1u);
    report.SetDataSet(nullptr);
    pages = Render(report.QuickRep1, "none.pdf");
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PrintReportTest, FooterStandsOnTheLastPageOnly)
{
    for (int i = 0; i < 150; ++i)
        Add("f" + std::to_string(i), "e:\\", "e: [DATA]", "1");
    TBandReport report;
    report.DataSet = table.get();
    report.Fields = {{"Name", 7, 200}};
    report.FooterText = QStringLiteral("End of the list");
    report.PageNumberLabel = QStringLiteral("Page");
    const auto pages = Render(report);
    ASSERT_GE(pages.size(), 3u);
    for (size_t p = 0; p < pages.size(); ++p)
        EXPECT_EQ(pages[p].find("End of the list") != std::string::npos, p + 1 == pages.size()) << p;
    // Every row is there.
    std::set<std::string> names;
    for (const std::string &page : pages)
        for (const std::string &line : printtest::Lines(page))
            if (line.find(" f") != std::string::npos || line.rfind("f", 0) == 0) {
                const size_t at = line.find('f');
                names.insert(line.substr(at, line.find(' ', at) - at));
            }
    EXPECT_EQ(names.size(), 150u);
}

TEST_F(PrintReportTest, PrintingKeepsTheCurrentRecord)
{
    for (int i = 0; i < 5; ++i)
        Add("n" + std::to_string(i), "e:\\", "e: [DATA]", "1");
    table->First();
    table->Next();
    table->Next();
    TReportForm report;
    report.SetDataSet(table.get());
    Render(report.QuickRep1);
    EXPECT_EQ(table->FieldByName("Name").AsString(), "n2");
}

TEST_F(PrintReportTest, PreviewToolBarWritesThePdf)
{
    Add("from preview.txt", "e:\\", "e: [DATA]", "4");
    TReportForm report;
    report.SetDataSet(table.get());
    const std::string file = dir.file("preview.pdf");
    auto oldRun = TBandReport::RunPreview;
    auto oldAsk = TBandReport::AskPdfFileName;
    int previewed = 0;
    TBandReport::AskPdfFileName = [&](QWidget *) { return file; };
    TBandReport::RunPreview = [&](QPrintPreviewDialog &dialog) {
        ++previewed;
        auto *action = dialog.findChild<QAction *>(QStringLiteral("SavePdfAction"));
        EXPECT_NE(action, nullptr);
        if (action)
            action->trigger();
        return 0;
    };
    report.Preview(nullptr);
    TBandReport::RunPreview = oldRun;
    TBandReport::AskPdfFileName = oldAsk;
    EXPECT_EQ(previewed, 1);
    const auto pages = PdfPages(file);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"from preview.txt", "e:\\", "e: [DATA]", "4"}));
}

TEST_F(PrintReportTest, PdfThatCannotBeWrittenIsReportedAndLeavesNoFile)
{
    Add("a", "e:\\", "e: [DATA]", "1");
    TReportForm report;
    report.SetDataSet(table.get());
    const std::string file = dir.file("missing/folder/r.pdf");
    std::string error;
    EXPECT_FALSE(report.QuickRep1.WritePdf(file, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(file));
}
