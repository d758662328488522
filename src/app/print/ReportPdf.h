#pragma once
// What the banded report's layout draws on, and the PDF writer it draws on
// when the report goes to a PDF file.
//
// The layout (TBandReport) decides the pages: where each band and cell
// stands, which texts it holds, where a page breaks. A sink turns that into
// paint: the painter sink paints it onto a QPrinter (preview, printers), the
// PDF sink writes the PDF file itself. Both break and cut a too wide text with
// the same rule and place the same glyphs (those QTextLayout picks for the
// font, fallback fonts included), so the preview and the file show the same
// pages.
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTextLayout>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QPaintDevice;
class QPrinter;

class TReportSink {
public:
    virtual ~TReportSink() = default;
    // Ends the page and starts the next one (not called for the first page).
    virtual void NewPage() = 0;
    virtual void SetFont(const QFont &font) = 0;
    // One line of text in a box, cut with an ellipsis when it is wider,
    // vertically centred at its baseline. `column` >= 0 marks a detail cell:
    // texts repeat within a column, so a sink may lay each out once.
    virtual void Cell(const QRectF &box, const QString &text, Qt::Alignment align, int column) = 0;
    // The lines a detail text of `column` takes in the current font when its
    // box is `width` wide: none when it fits on one line as it stands (a sink
    // may keep that line laid out for the Cell() that paints it), else the
    // text broken between words, inside a word too long for a line, into at
    // most `maxLines` lines, the last holding the rest.
    virtual QStringList DetailLines(const QString &text, qreal width, int column, int maxLines) = 0;
    virtual void Line(const QPointF &from, const QPointF &to) = 0;
    // Called once after the last page.
    virtual void Finish() = 0;
};

// A cell laid out once: its glyphs per font, placed from its left edge at the
// baseline, and the text they show (the ellipsis cut included).
struct TLaidRun {
    QRawFont font;
    QList<quint32> glyphs;
    QList<QPointF> positions;
};
struct TLaidCell {
    QString shown;
    bool cut = false; // the text was wider than its box
    qreal advance = 0;
    std::vector<TLaidRun> runs;
};

// The report's font: a sans serif of `pixels` pixels, drawn without shaping.
QFont ReportFont(int pixels, bool bold);

// Whether a line of simple letters is placed from the steps between its
// letters, each pair laid out once, instead of laying out the whole line
// (a tuning knob; the tests compare both ways).
extern bool CellLayoutFromPairs;

// A cell's text as its one line shows it: line breaks become spaces.
QString CellLineText(QString text);

// The one rule for a cell's text: line breaks become spaces; a text wider
// than `width` is cut with an ellipsis as QFontMetricsF::elidedText cuts it.
class TCellLayouter {
public:
    TCellLayouter(const QFont &font, QPaintDevice *device, Qt::LayoutDirection direction);
    TLaidCell Lay(qreal width, const QString &text);
    // The text broken into lines of at most `width`: between words where it
    // can, inside a word too long for a line; at most `maxLines` lines, the
    // last holding the rest of the text. Blanks that end a line are dropped.
    QStringList Wrap(qreal width, const QString &text, int maxLines);
    const QFontMetricsF &Metrics() const { return metrics_; }

private:
    // A letter laid out alone: its glyph, its height against the baseline
    // and its advance; `ok` when the line's own font drew it as one glyph.
    struct TLetter {
        bool ok = false;
        quint32 glyph = 0;
        qreal y = 0;
        qreal advance = 0;
    };
    // Two letters laid out together: where the second starts from the
    // first (the first's advance with the pair's kerning).
    struct TStep {
        bool ok = false;
        qreal x = 0;
    };
    bool LayOut(const QString &text, qreal &ascent);
    bool LayFromPairs(qreal width, const QString &text, TLaidCell &cell);
    const TLetter &Letter(char16_t c);
    const TStep &Step(char16_t a, char16_t b);
    QTextLayout layout_;
    QPaintDevice *device_;
    QFontMetricsF metrics_;
    bool leftToRight_;
    bool hasFont_ = false;
    QRawFont font_; // the font the simple letters are drawn in
    QHash<char16_t, TLetter> letters_;
    QHash<quint32, TStep> steps_;
};

// Why the PDF writer cannot draw a document itself (a glyph without its
// letter, a font that is not TrueType); the caller then writes the document
// through Qt's PDF engine instead.
class TPdfUnsupported : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A sink that writes the pages as a PDF document into memory: text as one
// string of glyph ids per cell in embedded TrueType fonts (only the glyphs
// used are kept) with a ToUnicode map, so the text reads back as written.
// Throws TPdfUnsupported from Cell() when the document needs what it cannot
// write. `printer` is prepared as the report prepares it: its page layout
// gives the page and its margins, and it is the device the text is measured
// on, as when painting.
class TPdfSink : public TReportSink {
public:
    explicit TPdfSink(QPrinter &printer);
    ~TPdfSink() override;
    void NewPage() override;
    void SetFont(const QFont &font) override;
    void Cell(const QRectF &box, const QString &text, Qt::Alignment align, int column) override;
    QStringList DetailLines(const QString &text, qreal width, int column, int maxLines) override;
    void Line(const QPointF &from, const QPointF &to) override;
    void Finish() override;
    // The finished file's bytes (after Finish()).
    const std::string &Bytes() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
};
