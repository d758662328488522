// Report cells of simple letters are placed from the steps between letter
// pairs instead of a layout of the whole line: the same glyphs at the same
// places, the same width and cut as the whole layout gives, and the same PDF.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QPrinter>

#include <algorithm>

#include "app/print/PrintTestSupport.h"
#include "app/print/BandReport.h"
#include "app/LangUnit.h"
#include "app/print/ReportPdf.h"
#include "app/print/report.h"
#include "app/print/selunit.h"
#include "platform/Prompt.h"
#include "storage/ExMemDS.h"
#include "support/ScopedValue.h"
#include "support/TempDir.h"

using namespace printtest;

namespace {

// Kerned pairs, Slovak and Czech letters, blanks inside and at the ends,
// punctuation, a soft hyphen, marks, letters from a fallback font and texts
// too wide for their cell.
const QStringList kTexts = {
    QStringLiteral("AVATAR To Ta Wa Yo LT P. F, r."), QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy.txt"),
    QStringLiteral("ľúbo ôsmy ĺŕä ŁÓDŹ ß ÿ"),           QStringLiteral("e:\\Fotky\\2024 leto\\IMG_0042.JPG"),
    QStringLiteral("a  b   c"),                          QStringLiteral(" leading"),
    QStringLiteral("trailing "),                         QStringLiteral("soft\u00ADhyphen"),
    QStringLiteral("mark e\u0301 here"),                 QStringLiteral("日本 and Latin"),
    QStringLiteral("x"),                                 QStringLiteral("!\"#$%&'()*+,-./:;<=>?@[]^_`{|}~"),
    QString(200, QLatin1Char('W')),                      QStringLiteral("final office waffle fjord"),
};

} // namespace

TEST(CellLayout, PairStepsGiveTheWholeLayoutsGlyphsPlacesAndWidth)
{
    QPrinter printer(QPrinter::HighResolution);
    TBandReport::PreparePrinter(printer);
    for (const QFont &font : {ReportFont(11, false), ReportFont(12, true), ReportFont(19, true)}) {
        TCellLayouter whole(font, &printer, Qt::LeftToRight), pairs(font, &printer, Qt::LeftToRight);
        for (const qreal width : {2000.0, 150.0}) {
            for (const QString &text : kTexts) {
                SCOPED_TRACE(text.toStdString() + " in " + std::to_string(width));
                TLaidCell a, b;
                {
                    orbtest::ScopedValue<bool> off(CellLayoutFromPairs, false);
                    a = whole.Lay(width, text);
                }
                b = pairs.Lay(width, text);
                EXPECT_EQ(b.shown, a.shown);
                EXPECT_EQ(b.advance, a.advance);
                ASSERT_EQ(b.runs.size(), a.runs.size());
                for (size_t r = 0; r < a.runs.size(); ++r) {
                    EXPECT_TRUE(b.runs[r].font == a.runs[r].font);
                    EXPECT_EQ(b.runs[r].glyphs, a.runs[r].glyphs);
                    EXPECT_EQ(b.runs[r].positions, a.runs[r].positions);
                }
            }
        }
    }
}

TEST(CellLayout, ReportPdfIsTheSameEitherWay)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    orbtest::TempDir dir;
    auto table = MakeReportTable();
    table->Open();
    // The texts our writer draws itself (no letter from another script, no
    // mark or soft hyphen), so that the file is not handed to Qt's engine.
    QStringList texts = kTexts;
    texts.removeIf([](const QString &t) {
        return std::any_of(t.begin(), t.end(), [](QChar c) { return c.unicode() >= 0x300 || c.unicode() == 0xAD; });
    });
    for (int i = 0; i < 300; ++i) {
        TPrintRow r;
        const QString &text = texts[i % texts.size()];
        r.Name = text.toStdString() + " " + std::to_string(i);
        r.Path = "e:\\" + texts[(i / 3) % texts.size()].toStdString() + "\\";
        r.Namecd = i % 2 ? "e: [DATA]" : "f: [AVATAR Wa]";
        r.Number = std::to_string(i % 7);
        AppendPrintRow(*table, r);
    }
    TReportForm report;
    report.SetDataSet(table.get());
    std::string error;
    {
        orbtest::ScopedValue<bool> off(CellLayoutFromPairs, false);
        ASSERT_TRUE(report.QuickRep1.WritePdf(dir.file("whole.pdf"), error)) << error;
    }
    ASSERT_TRUE(report.QuickRep1.WritePdf(dir.file("pairs.pdf"), error)) << error;
    QFile whole(QString::fromStdString(dir.file("whole.pdf"))), pairs(QString::fromStdString(dir.file("pairs.pdf")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly) && pairs.open(QIODevice::ReadOnly));
    const QByteArray bytes = pairs.readAll();
    EXPECT_TRUE(whole.readAll() == bytes);
    EXPECT_FALSE(bytes.contains("/Producer")) << "written by our writer, not Qt's engine";
    const std::vector<std::string> text = PdfPages(dir.file("pairs.pdf"));
    EXPECT_EQ(text, PdfPages(dir.file("whole.pdf")));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text[0].find("e:\\AVATAR To Ta Wa Yo LT P. F, r.\\"), std::string::npos) << text[0];
    langunit::SetCurrentLanguage(langunit::LangSlovak);
}

// A text too wide for its cell broken into lines: each no wider than the cell, between words where it
// can, inside a word too long for a line, no letter lost; the lines capped with the rest on the last.
TEST(CellLayout, WrapBreaksBetweenWordsThenInsideThemAndKeepsEveryLetter)
{
    QPrinter printer(QPrinter::HighResolution);
    TBandReport::PreparePrinter(printer);
    TCellLayouter layouter(ReportFont(12, false), &printer, Qt::LeftToRight);
    const QFontMetricsF &metrics = layouter.Metrics();
    auto letters = [](QString s) { return s.remove(QLatin1Char(' ')); };
    for (const QString &text : {QStringLiteral("t: [Renamed long disc name of forty-five ch.]"),
                                QStringLiteral("Příliš žluťoučký kůň\núpěl ďábelské ódy.txt"),
                                QStringLiteral("e:\\") + QString(120, QLatin1Char('w')) + QStringLiteral("\\")}) {
        SCOPED_TRACE(text.toStdString());
        const QStringList lines = layouter.Wrap(110, text, 100);
        ASSERT_GE(lines.size(), 2);
        QString joined;
        for (const QString &line : lines) {
            EXPECT_LE(metrics.horizontalAdvance(line), 110.0) << line.toStdString();
            EXPECT_FALSE(line.endsWith(QLatin1Char(' '))) << line.toStdString();
            EXPECT_FALSE(layouter.Lay(110, line).cut) << line.toStdString();
            joined += line;
        }
        EXPECT_EQ(letters(joined), letters(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    }
    // Words that fit on a line stay whole.
    const QStringList words = layouter.Wrap(110, QStringLiteral("t: [Renamed long disc name of forty-five ch.]"), 100);
    EXPECT_TRUE(words.join(QLatin1Char(' ')).contains(QStringLiteral("[Renamed long")));
    // At most `maxLines`, the last holding the rest.
    const QString many = QString(400, QLatin1Char('m'));
    const QStringList capped = layouter.Wrap(40, many, 3);
    ASSERT_EQ(capped.size(), 3);
    EXPECT_EQ(capped.join(QString()), many);
    EXPECT_TRUE(layouter.Lay(40, capped.back()).cut);
}
