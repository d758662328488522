// The report written to PDF and read back: rows, columns, headers, pages, texts
// in any script, the file's structure, the same pictures as the painted pages.
#include <gtest/gtest.h>

#include <QPrinter>

#include <algorithm>
#include <filesystem>

#include "app/print/PrintTestSupport.h"
#include "app/print/BandReport.h"
#include "app/LangUnit.h"
#include "app/print/report.h"
#include "app/print/report_cd.h"
#include "app/print/ReportPdf.h"
#include "app/print/selunit.h"
#include "platform/Prompt.h"
#include "storage/ExMemDS.h"
#include "support/TempDir.h"

using namespace printtest;

namespace {

const std::vector<std::string> kHeaders = {"Name:", "Path:", "Drive name:", "No.-"};

class PrintReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        table->Open();
        report.SetDataSet(table.get());
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }
    void Add(const std::string &name, const std::string &path = "e:\\", const std::string &disc = "e: [DATA]",
             const std::string &number = "7")
    {
        TPrintRow r;
        std::tie(r.Name, r.Path, r.Namecd, r.Number) = std::tie(name, path, disc, number);
        AppendPrintRow(*table, r);
    }
    std::vector<std::string> Render(TBandReport &band, const std::string &name = "r.pdf")
    {
        std::string error;
        EXPECT_TRUE(band.WritePdf(dir.file(name), error)) << error;
        return PdfPages(dir.file(name));
    }

    orbtest::TempDir dir;
    std::unique_ptr<TExMemoryData> table = MakeReportTable();
    TReportForm report;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

TEST_F(PrintReportTest, TwoThousandRowsArePaginatedWithoutALostOrRepeatedRowInAWellFormedFile)
{
    for (int i = 1; i <= 2000; ++i)
        Add(QString::asprintf("row%04d.dat", i).toStdString(), "e:\\many\\");
    const auto pages = Render(report.QuickRep1);
    ASSERT_GT(pages.size(), 30u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {ReportDateText().toStdString(), "Page number : 1"})) << pages[0];
    std::vector<int> seen;
    std::vector<size_t> perPage;
    for (size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(p + 1);
        const size_t before = seen.size();
        // Its own number once, the column header, the title on the first only.
        const size_t at = pages[p].find("Page number : " + std::to_string(p + 1));
        ASSERT_NE(at, std::string::npos);
        EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(pages[p][at + 14 + std::to_string(p + 1).size()])));
        EXPECT_TRUE(InOrderOnOneLine(pages[p], kHeaders));
        EXPECT_EQ(pages[p].find("Summary files into archive") < pages[p].find("Name:"), p == 0);
        for (const std::string &line : Lines(pages[p])) {
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
    EXPECT_EQ(PdfInfoPages(dir.file("r.pdf")), report.QuickRep1.PageNumber());
    EXPECT_EQ(PdfInfoPages(dir.file("r.pdf")), static_cast<int>(pages.size()));
    EXPECT_EQ(PdfStructureProblem(dir.file("r.pdf")), "");
    // Every page after the first (which holds the title) is full but the last.
    for (size_t p = 2; p + 1 < perPage.size(); ++p)
        EXPECT_EQ(perPage[p], perPage[1]) << "page " << p + 1;
    EXPECT_GE(perPage[0], perPage[1] - 3);
    EXPECT_LE(perPage.back(), perPage[1]);
    EXPECT_GT(perPage.back(), 0u);
}

TEST_F(PrintReportTest, HeadersFollowTheChosenLanguage)
{
    Add("a.txt");
    for (int language : {langunit::LangSlovak, langunit::LangCzech, langunit::LangEnglish}) {
        SCOPED_TRACE(language);
        langunit::SetCurrentLanguage(language);
        const auto pages = Render(report.QuickRep1, "lang" + std::to_string(language) + ".pdf");
        ASSERT_EQ(pages.size(), 1u);
        auto s = [language](int n) { return langunit::LangStringOf(language, n); };
        EXPECT_NE(pages[0].find(s(90)), std::string::npos) << pages[0];
        const char *number = language == langunit::LangEnglish ? "No.-" : "Č.-";
        EXPECT_TRUE(InOrderOnOneLine(pages[0], {s(46) + ":", s(3), s(5), number})) << pages[0];
        EXPECT_NE(pages[0].find(s(85) + " 1"), std::string::npos);
    }
}

TEST_F(PrintReportTest, RowsReadBackExactlyInTheirColumnsAndTooLongTextsEndInAnEllipsis)
{
    // Czech and Slovak letters, letter pairs a font may join, letters only a
    // fallback font has, repeated texts, too long names and paths.
    const std::string q = "e:\\" + std::string(150, 'q') + "\\", n(20, 'N'); // a third too wide
    const std::vector<std::vector<std::string>> rows = {
        {"Příliš žluťoučký kůň.txt", q, ""}, {"ľúbo ôsmy ĺŕä.doc", q, ""}, {"ČŘŽĚŮ ďťň.txt", q, ""},
        {"final office.txt", q, ""},         {"waffle fjord.doc", q, ""},  {"𝐀𝐁𝐂 𝐱𝐲.txt", q, ""},
        {"final office.txt", q, ""},         {n, "e:\\" + std::string(150, 'p') + "\\", ""},
        {"song.wav", "f:\\", "", "f: [OTHER]", "12"}};
    for (const auto &r : rows)
        Add(r[0], r[1], r.size() > 3 ? r[3] : "e: [DATA]", r.size() > 3 ? r[4] : "7");
    table->First();
    table->Next();
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    size_t from = pages[0].find("No.-");
    for (const auto &r : rows) {
        SCOPED_TRACE(r[0]);
        // Too wide texts go on over further lines: the row's first line
        // holds the start of each (the reader may set a name that stands
        // higher than the rest on a line of its own) and no ellipsis.
        const bool cut = r[0] == n;
        const std::string disc = r.size() > 3 ? r[3] : "e: [DATA]", number = r.size() > 3 ? r[4] : "7";
        const size_t at = pages[0].find(cut ? "NNNNNNNNNN" : r[0], from);
        ASSERT_NE(at, std::string::npos) << pages[0];
        const size_t discAt = pages[0].find(disc, at);
        ASSERT_NE(discAt, std::string::npos) << pages[0];
        const size_t start = pages[0].rfind('\n', discAt) + 1, end = pages[0].find('\n', discAt);
        const std::string line = pages[0].substr(start, end - start);
        EXPECT_LE(std::count(pages[0].begin() + std::ptrdiff_t(std::min(at, start)),
                             pages[0].begin() + std::ptrdiff_t(std::max(at, start)), '\n'),
                  1);
        EXPECT_EQ(pages[0].substr(at, end - at).find(n), std::string::npos);
        EXPECT_EQ(pages[0].substr(at, end - at).find("…"), std::string::npos);
        EXPECT_TRUE(InOrderOnOneLine(line, {r[1].substr(0, 2), disc, number})) << line;
        from = end;
    }
    // No letter of the wrapped paths is lost.
    EXPECT_EQ(std::count(pages[0].begin(), pages[0].end(), 'q'), 7 * 150) << pages[0];
    EXPECT_EQ(table->FieldByName("Name").AsString(), "ľúbo ôsmy ĺŕä.doc"); // the current record is kept
    // Our writer's fonts: embedded subsets with their letters (emb sub uni).
    const QString fonts = QString::fromUtf8(Tool("pdffonts", {QString::fromStdString(dir.file("r.pdf"))}));
    const QStringList lines = fonts.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    EXPECT_GE(lines.size(), 3) << fonts.toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.contains(QLatin1String(" yes yes yes "))) << line.toStdString();
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PrintReportTest, PagesLookAsThePainterPaintsThem)
{
    for (int i = 0; i < 80; ++i)
        Add("Súbor č. " + std::to_string(i) + (i % 3 ? ".txt" : " with a name far too long for its column.txt"),
            "e:\\folder " + std::to_string(i / 10) + "\\", "e: [DATA]", std::to_string(i));
    report.QuickRep1.FooterText = QStringLiteral("End of the list");
    report.QuickRep1.DateText = QStringLiteral("01.02.2003");
    // The long names take two lines each.
    ASSERT_EQ(Render(report.QuickRep1, "ours.pdf").size(), 3u);
    QPrinter printer(QPrinter::HighResolution); // the painter on Qt's PDF engine, as on a printer
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.file("qt.pdf")));
    TBandReport::PreparePrinter(printer);
    ASSERT_EQ(report.QuickRep1.Print(printer), 3);
    for (const QString page : {"1", "2", "3"}) {
        SCOPED_TRACE(page.toStdString());
        auto picture = [&](const std::string &pdf) {
            return Tool("pdftoppm", {"-gray", "-r", "50", "-f", page, "-l", page, QString::fromStdString(pdf)});
        };
        const QByteArray ours = picture(dir.file("ours.pdf")), painted = picture(dir.file("qt.pdf"));
        ASSERT_EQ(ours.size(), painted.size());
        // Edges may differ by a shade; a misplaced glyph, cut or rule by more.
        int differ = 0, ink = 0;
        for (qsizetype i = 20; i < ours.size(); ++i) {
            differ += std::abs(int(uchar(ours[i])) - int(uchar(painted[i]))) > 64;
            ink += uchar(painted[i]) < 128;
        }
        EXPECT_GT(ink, 1000);
        EXPECT_LT(differ, 20) << ink;
    }
}

TEST_F(PrintReportTest, EmptyOrClosedSourceGivesOnePageWithHeadersOnly)
{
    const auto pages = Render(report.QuickRep1, "empty.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], kHeaders) && InOrderOnOneLine(pages[0], {"Page number : 1"}));
    table->Close();
    EXPECT_EQ(Render(report.QuickRep1, "closed.pdf").size(), 1u);
    report.SetDataSet(nullptr);
    EXPECT_EQ(Render(report.QuickRep1, "none.pdf").size(), 1u);
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PrintReportTest, FooterStandsOnTheLastPageOnly)
{
    for (int i = 0; i < 150; ++i)
        Add("f" + std::to_string(i));
    TBandReport plain;
    plain.DataSet = table.get();
    plain.Fields = {{"Name", 7, 200}};
    plain.FooterText = QStringLiteral("End of the list");
    const auto pages = Render(plain);
    ASSERT_GE(pages.size(), 3u);
    for (size_t p = 0; p < pages.size(); ++p)
        EXPECT_EQ(pages[p].find("End of the list") != std::string::npos, p + 1 == pages.size()) << p;
    EXPECT_NE(pages.back().find("f149"), std::string::npos);
}

TEST_F(PrintReportTest, ATextNoFontCanDrawGoesThroughQtsEngine)
{
    for (const char *name : {"before.txt", "x\U0010FFFD.txt", "after.txt"})
        Add(name);
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"before.txt", "e:\\", "e: [DATA]", "7"})) << pages[0];
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"after.txt", "e:\\", "e: [DATA]", "7"})) << pages[0];
}

TEST_F(PrintReportTest, PdfThatCannotBeWrittenIsReportedAndLeavesNoFile)
{
    Add("a");
    const std::string file = dir.file("missing/folder/r.pdf");
    std::string error;
    EXPECT_FALSE(report.QuickRep1.WritePdf(file, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(file));
}

// A text a little wider than its field is printed whole where the row has room for it, up to the
// next column (or the band's edge); only a text wider than that room is cut.
TEST_F(PrintReportTest, TextsLittleWiderThanTheirFieldArePrintedWholeWhereTheRowHasRoom)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    TBandReport::PreparePrinter(printer);
    const QFontMetricsF metrics(ReportFont(12, false), &printer);
    // A text of `head`, some x and i letters and `tail` whose width lies in (from, to].
    auto widthWithin = [&](const std::string &head, const std::string &tail, qreal from, qreal to) {
        for (int x = 0; x < 40; ++x)
            for (int i = 0; i < 12; ++i) {
                const std::string text = head + std::string(size_t(x), 'x') + std::string(size_t(i), 'i') + tail;
                const qreal width = metrics.horizontalAdvance(QString::fromStdString(text));
                if (width > from && width <= to)
                    return text;
            }
        ADD_FAILURE() << "no text of a width in (" << from << ", " << to << "]";
        return std::string();
    };
    // Disc name (109 units, the next column 7 further) and number (23, the band's edge 34 further).
    const std::string disc = widthWithin("e: [", "]", 109, 111), number = widthWithin("", "", 23, 33);
    const std::string wide = widthWithin("e: [", "]", 125, 400);
    Add("a.txt", "e:\\", disc, "7");
    Add("b.txt", "e:\\", "e: [DATA]", number);
    Add("c.txt", "e:\\", wide, "8");
    const auto pages = Render(report.QuickRep1);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"a.txt", disc, "7"})) << pages[0];
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"b.txt", "e: [DATA]", number})) << pages[0];
    // A wider one goes on over a second line (a word too long for a line is
    // broken inside it), not cut.
    EXPECT_FALSE(InOrderOnOneLine(pages[0], {"c.txt", wide})) << pages[0];
    EXPECT_TRUE(InOrderOnOneLine(pages[0], {"c.txt", "e:\\", "8"})) << pages[0];
    EXPECT_NE(pages[0].find(wide.substr(4, 10)), std::string::npos) << pages[0];
    EXPECT_EQ(pages[0].find("…"), std::string::npos) << pages[0];

    // The music-disc layout: a title of 274 units, 6 units before the number.
    TReportCdForm music;
    music.SetDataSet(table.get());
    const std::string title = widthWithin("Artist / ", "", 274, 279);
    Add("Track01.cda", "f:\\", title, "12");
    const auto musicPages = Render(music.QuickRep1, "music.pdf");
    ASSERT_EQ(musicPages.size(), 1u);
    EXPECT_TRUE(InOrderOnOneLine(musicPages[0], {"Track01.cda", title, "12"})) << musicPages[0];
}

namespace {

// Points from the page's top edge, and the step from one detail line to the next.
constexpr double kMarginPt = 10.0 / 25.4 * 72.0, kLinePt = TBandReport::DetailHeight * 0.75;
// The first page's first detail line.
constexpr double kFirstRowPt =
    kMarginPt + (TBandReport::TitleHeight + TBandReport::PageHeaderHeight + TBandReport::ColumnHeaderHeight) * 0.75;

// The words of a page that start within [left, right) points from the band's left edge (give or take
// the margin's rounding to the device's pixels), in reading order.
std::string ColumnText(const std::vector<TWord> &page, double left, double right)
{
    std::string text;
    for (const TWord &w : page)
        if (w.top > kFirstRowPt - kLinePt && w.left - kMarginPt >= left - 2 && w.left - kMarginPt < right - 2)
            text += w.text;
    return text;
}

const TWord *FindWord(const std::vector<TWord> &page, const std::string &text)
{
    for (const TWord &w : page)
        if (w.text == text)
            return &w;
    return nullptr;
}

std::string WithoutBlanks(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

} // namespace

// A detail text wider than its room goes on over further lines within its own column and the row
// grows to its tallest cell; rows whose texts fit stay one line high.
TEST_F(PrintReportTest, TooWideTextsGoOnOverLinesInTheirOwnColumnAndTheRowGrowsToTheTallest)
{
    const std::string disc = "t: [Renamed long disc name of forty-five ch.]";
    const std::string name = "Holiday photos from the summer at the lake with the whole family and friends.jpg";
    const std::string word = "e:\\" + std::string(70, 'w') + "\\"; // no blank to break at
    ASSERT_EQ(disc.size(), 45u);
    ASSERT_EQ(name.size(), 80u);
    Add("above.txt", "e:\\", "e: [DATA]", "3");
    Add(name, "t:\\photos\\", disc, "4");
    Add("below.txt", word, "e: [DATA]", "5");
    Add("last.txt", "e:\\", "e: [DATA]", "6");
    std::string error;
    ASSERT_TRUE(report.QuickRep1.WritePdf(dir.file("wrap.pdf"), error)) << error;
    const auto pages = PdfWords(dir.file("wrap.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    const std::vector<TWord> &page = pages[0];
    // Each column holds its own texts whole, in order, and nothing of another column.
    EXPECT_EQ(ColumnText(page, 0, 157 * 0.75), "above.txt" + WithoutBlanks(name) + "below.txtlast.txt");
    EXPECT_EQ(ColumnText(page, 568 * 0.75, 684 * 0.75),
              "e:[DATA]" + WithoutBlanks(disc) + "e:[DATA]e:[DATA]");
    EXPECT_EQ(ColumnText(page, 157 * 0.75, 568 * 0.75), "e:\\t:\\photos\\" + word + "e:\\");
    EXPECT_EQ(std::count_if(page.begin(), page.end(), [](const TWord &w) { return w.text.find("…") != std::string::npos; }),
              0);
    // Broken between words: "Renamed" and "forty-five" stay whole.
    EXPECT_TRUE(FindWord(page, "[Renamed") && FindWord(page, "forty-five"));
    const TWord *above = FindWord(page, "above.txt"), *first = FindWord(page, "Holiday"),
                *tail = FindWord(page, "family"), *discTail = FindWord(page, "ch.]"),
                *below = FindWord(page, "below.txt"), *last = FindWord(page, "last.txt");
    ASSERT_TRUE(above && first && tail && discTail && below && last);
    EXPECT_NEAR(first->top - above->top, kLinePt, 0.5); // the rows that fit are one line high
    EXPECT_GT(tail->top, first->top + kLinePt);          // the name takes three lines or more
    EXPECT_GT(discTail->top, first->top + kLinePt / 2);  // the disc name two or more
    // The row below starts a line below the tallest cell's last line.
    const double lowest = std::max_element(page.begin(), page.end(), [&](const TWord &a, const TWord &b) {
                              return (a.top < below->top - 1 ? a.top : 0) < (b.top < below->top - 1 ? b.top : 0);
                          })->top;
    EXPECT_NEAR(below->top - lowest, kLinePt, 0.5);
    // The path too long for a line, broken inside its long word, makes that row taller.
    EXPECT_GE(last->top - below->top, 2 * kLinePt - 0.5);
}

// Page breaks count a row's lines: a row never splits across pages and never runs into the footer
// or past the page; a text longer than a page holds is cut on the page's last line.
TEST_F(PrintReportTest, ARowThatWouldRunPastThePageStartsTheNextOneWhole)
{
    TBandReport plain;
    plain.DataSet = table.get();
    plain.Fields = {{"Name", 7, 60}, {"Number", 100, 30}};
    plain.FooterText = QStringLiteral("End of the list");
    // The first page holds 60 one-line rows: the 60th row, three lines high, does not fit after 59.
    // Past it every tenth row is three lines high.
    for (int i = 0; i < 150; ++i) {
        const std::string id = "r" + std::to_string(i);
        const bool tall = i == 59 || (i > 59 && i % 10 == 0);
        Add(tall ? id + "_alpha " + id + "_bravo " + id + "_charlie" : id, "e:\\", "e: [DATA]",
            "n" + std::to_string(i));
    }
    std::string error;
    ASSERT_TRUE(plain.WritePdf(dir.file("breaks.pdf"), error)) << error;
    const auto pages = PdfWords(dir.file("breaks.pdf"));
    ASSERT_GE(pages.size(), 3u);
    const double pageBottom = kMarginPt + TBandReport::PageHeight * 0.75;
    const double footerTop = kMarginPt + (TBandReport::PageHeight - TBandReport::FooterHeight) * 0.75;
    std::vector<size_t> pageOf(150, 99);
    for (size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(p + 1);
        for (const TWord &w : pages[p]) {
            if (w.text == "End" || w.text == "of" || w.text == "the" || w.text == "list")
                continue;
            EXPECT_LE(w.bottom, p + 1 == pages.size() ? footerTop : pageBottom) << w.text;
            if (w.text[0] != 'n')
                continue;
            const int i = std::stoi(w.text.substr(1));
            pageOf[size_t(i)] = p;
            // All of a tall row's lines stand on its number's page, one under another.
            if (w.text == "n59" || (i > 59 && i % 10 == 0)) {
                const TWord *a = FindWord(pages[p], "r" + std::to_string(i) + "_alpha"),
                            *c = FindWord(pages[p], "r" + std::to_string(i) + "_charlie");
                ASSERT_TRUE(a && c) << i;
                EXPECT_NEAR(c->top - a->top, 2 * kLinePt, 0.5) << i;
            }
        }
    }
    for (int i = 0; i < 150; ++i)
        ASSERT_LT(pageOf[size_t(i)], pages.size()) << "row " << i << " lost";
    EXPECT_TRUE(std::is_sorted(pageOf.begin(), pageOf.end()));
    // The first page ends after row 58 with a line's room left; row 59 opens the second.
    EXPECT_EQ(pageOf[58], 0u);
    EXPECT_EQ(pageOf[59], 1u);
    EXPECT_LT(FindWord(pages[0], "n58")->bottom, pageBottom - kLinePt);
    EXPECT_TRUE(FindWord(pages.back(), "End"));

    // A text longer than a page holds: its own page, 62 lines cut on the last, the row after it printed.
    auto narrowTable = MakeReportTable();
    narrowTable->Open();
    for (const std::string &name : std::vector<std::string>{"b", std::string(250, 'y'), "z"}) {
        TPrintRow r;
        r.Name = name;
        r.Number = name.size() > 10 ? "huge" : "x";
        AppendPrintRow(*narrowTable, r);
    }
    TBandReport narrow;
    narrow.DataSet = narrowTable.get();
    narrow.Fields = {{"Name", 7, 14}, {"Number", 25, 30}};
    ASSERT_TRUE(narrow.WritePdf(dir.file("narrow.pdf"), error)) << error;
    const auto narrowPages = PdfWords(dir.file("narrow.pdf"));
    ASSERT_EQ(narrowPages.size(), 3u);
    EXPECT_TRUE(FindWord(narrowPages[0], "b") && FindWord(narrowPages[2], "z"));
    ASSERT_TRUE(FindWord(narrowPages[1], "huge"));
    const auto lines = std::count_if(narrowPages[1].begin(), narrowPages[1].end(), [](const TWord &w) {
        return w.text.find('y') != std::string::npos || w.text.find("…") != std::string::npos;
    });
    EXPECT_EQ(lines, (TBandReport::PageHeight - TBandReport::PageHeaderHeight - TBandReport::ColumnHeaderHeight) /
                         TBandReport::DetailHeight);
    EXPECT_TRUE(std::any_of(narrowPages[1].begin(), narrowPages[1].end(),
                            [](const TWord &w) { return w.text.find("…") != std::string::npos; }));
}
