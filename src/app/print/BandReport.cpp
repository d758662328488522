#include "app/print/BandReport.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPageLayout>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QToolBar>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/print/ReportPdf.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/TextWrap.h"
#include "storage/DataSet.h"
#include "util/BaseDateTime.h"
#include "util/BaseFileUtils.h"

std::function<int(QPrintPreviewDialog &)> TBandReport::RunPreview = [](QPrintPreviewDialog &dialog) {
    return dialog.exec();
};

QString TBandReport::PdfStartFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

std::function<std::string(QWidget *parent)> TBandReport::AskPdfFileName = [](QWidget *parent) {
    const QString folder = PdfStartFolder();
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("PDF"), folder, QStringLiteral("PDF (*.pdf)"),
                                                nullptr, QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".pdf");
    return FromQString(name);
};

QString ReportDateText()
{
    // The locale's short date, always with a four-digit year.
    const std::string format = WithFourDigitYear(DefaultFormatSettings().ShortDateFormat);
    const QDate today = QDate::currentDate();
    return ToQString(FormatDateTime(format, EncodeDate(today.year(), today.month(), today.day())));
}

namespace {

// Keeps the data set's controls quiet and its current record while the
// report walks it.
class TWalkGuard {
public:
    explicit TWalkGuard(TDataSet *dataSet) : dataSet_(dataSet)
    {
        if (!dataSet_)
            return;
        dataSet_->DisableControls();
        bookmark_ = dataSet_->GetBookmark();
    }
    ~TWalkGuard()
    {
        if (!dataSet_)
            return;
        try {
            if (!bookmark_.empty() && dataSet_->BookmarkValid(bookmark_))
                dataSet_->GotoBookmark(bookmark_);
        } catch (...) {
            // The position is a courtesy; the report is painted already.
        }
        dataSet_->EnableControls();
    }
    TWalkGuard(const TWalkGuard &) = delete;
    TWalkGuard &operator=(const TWalkGuard &) = delete;

private:
    TDataSet *dataSet_;
    TBookmark bookmark_;
};

// One line of text in a box, cut with an ellipsis when it is wider. Drawn at
// its baseline: laying the text out in a rectangle costs several times more
// and gives the same picture for one line.
void PaintCell(QPainter &painter, const QFontMetricsF &metrics, const QRectF &box, const QString &text,
               Qt::Alignment align = Qt::AlignLeft)
{
    if (text.isEmpty())
        return;
    QString shown = CellLineText(text);
    qreal width = metrics.horizontalAdvance(shown);
    if (width > box.width()) {
        shown = metrics.elidedText(shown, Qt::ElideRight, box.width());
        width = metrics.horizontalAdvance(shown);
    }
    qreal x = box.left();
    if (align & Qt::AlignRight)
        x = box.right() - width;
    else if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - width) / 2;
    const qreal baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
    painter.drawText(QPointF(x, baseline), shown);
}

// The detail rows of a page, gathered as positioned glyphs and painted in one
// go per font when the page is done. The PDF engine wraps every text it is
// given in its own state save, colour, font and text matrix, and a painted
// string is itemized and shaped again although the cell was laid out already
// to decide its ellipsis; a page of glyphs per font pays that once. Each cell
// is laid out alone, so its glyphs, positions and ellipsis are those of
// painting its text at its baseline, and the glyphs keep the order of the
// rows, so the page reads the same.
class TDetailGlyphs {
public:
    TDetailGlyphs(const QFont &font, const QPainter &painter)
        : layouter_(font, painter.device(), painter.layoutDirection())
    {
    }

    // The text of a cell laid out in a box `width` wide, cut with an
    // ellipsis when wider. `column` tells the cells apart whose boxes have
    // one width: the same text in it is laid out once (disc names, numbers
    // and paths repeat row after row).
    const TLaidCell &Laid(size_t column, qreal width, const QString &text)
    {
        if (column >= cells_.size())
            cells_.resize(column + 1);
        QHash<QString, TLaidCell> &cache = cells_[column];
        auto found = cache.constFind(text);
        if (found == cache.constEnd()) {
            if (cache.size() >= MaxCachedCells)
                cache.clear();
            found = cache.insert(text, layouter_.Lay(width, text));
        }
        return *found;
    }

    TCellLayouter &Layouter() { return layouter_; }

    // The text of one cell, cut with an ellipsis when wider than its box.
    void AddCell(size_t column, const QRectF &box, const QString &text)
    {
        if (text.isEmpty())
            return;
        const TLaidCell *found = &Laid(column, box.width(), text);
        const QFontMetricsF &metrics = layouter_.Metrics();
        const qreal baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
        const QPointF origin(box.left(), baseline);
        for (const TLaidRun &run : found->runs) {
            TRun &target = runs_[FontIndex(run.font)];
            target.glyphs.append(run.glyphs);
            for (const QPointF &p : run.positions)
                target.positions.push_back(p + origin);
        }
    }

    void Paint(QPainter &painter)
    {
        for (TRun &r : runs_) {
            if (r.glyphs.isEmpty())
                continue;
            QGlyphRun run;
            run.setRawFont(r.font);
            run.setGlyphIndexes(r.glyphs);
            run.setPositions(r.positions);
            painter.drawGlyphRun(QPointF(0, 0), run);
            r.glyphs.clear();
            r.positions.clear();
        }
    }

private:
    struct TRun {
        QRawFont font;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    static constexpr qsizetype MaxCachedCells = 4096;

    size_t FontIndex(const QRawFont &font)
    {
        for (size_t i = 0; i < runs_.size(); ++i)
            if (runs_[i].font == font)
                return i;
        runs_.push_back(TRun{font, {}, {}});
        return runs_.size() - 1;
    }

    TCellLayouter layouter_;
    std::vector<TRun> runs_;
    std::vector<QHash<QString, TLaidCell>> cells_;
};

// The layout painted onto a printer (the preview's, a real one, or Qt's PDF
// engine when the PDF writer cannot draw a document).
class TPainterSink : public TReportSink {
public:
    TPainterSink(QPainter &painter, QPrinter &printer)
        : painter_(painter), printer_(printer),
          // Gathered glyphs suit the PDF engine (files and printers) only:
          // the preview records its pages as pictures, which keep painted
          // strings as text but turn glyphs without their letters into
          // outlines.
          asGlyphs_(painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Pdf)
    {
    }
    void NewPage() override
    {
        Flush();
        if (!printer_.newPage())
            throw std::runtime_error("The printer could not start a new page.");
    }
    void SetFont(const QFont &font) override
    {
        if (metrics_ && font == font_)
            return;
        font_ = font;
        painter_.setFont(font);
        metrics_.emplace(font, painter_.device());
    }
    void Cell(const QRectF &box, const QString &text, Qt::Alignment align, int column) override
    {
        if (column >= 0 && asGlyphs_) {
            Rows().AddCell(size_t(column), box, text);
            return;
        }
        PaintCell(painter_, *metrics_, box, text, align);
    }
    QStringList DetailLines(const QString &text, qreal width, int column, int maxLines) override
    {
        if (text.isEmpty())
            return {};
        if (asGlyphs_) {
            TDetailGlyphs &rows = Rows();
            if (!rows.Laid(size_t(std::max(column, 0)), width, text).cut)
                return {};
            return rows.Layouter().Wrap(width, text, maxLines);
        }
        if (metrics_->horizontalAdvance(CellLineText(text)) <= width)
            return {};
        return WrapTextLines(text, font_, width, painter_.device(), painter_.layoutDirection(), maxLines);
    }
    void Line(const QPointF &from, const QPointF &to) override { painter_.drawLine(from, to); }
    void Finish() override { Flush(); }

private:
    // The detail glyphs gathered in the current font.
    TDetailGlyphs &Rows()
    {
        if (!rows_ || rowsFont_ != font_) {
            Flush();
            rows_.emplace(font_, painter_);
            rowsFont_ = font_;
        }
        return *rows_;
    }
    void Flush()
    {
        if (rows_)
            rows_->Paint(painter_);
    }
    QPainter &painter_;
    QPrinter &printer_;
    const bool asGlyphs_;
    QFont font_, rowsFont_;
    std::optional<QFontMetricsF> metrics_;
    std::optional<TDetailGlyphs> rows_;
};

} // namespace

void TBandReport::PreparePrinter(QPrinter &printer)
{
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter));
    printer.setFullPage(false);
}

int TBandReport::DetailRoom(const TReportField &field) const
{
    // A text may use the free room after its field up to the gap before the
    // next column (as the column headers do), the last column up to the
    // band's edge: a disc name a few units wider than its field is not cut
    // while the row has room for it.
    int next = BandWidth + ColumnGap;
    for (const TReportField &f : Fields)
        if (f.Left > field.Left && f.Left < next)
            next = f.Left;
    return std::max(field.Width, next - ColumnGap - field.Left);
}

void TBandReport::StartPage(TReportSink &sink, double &y)
{
    if (page_ > 0)
        sink.NewPage();
    ++page_;
    if (OnStartPage)
        OnStartPage(*this);
    y = 0;
    if (page_ == 1) {
        sink.SetFont(ReportFont(19, true));
        sink.Cell(QRectF(0, y, BandWidth, TitleHeight), Title, Qt::AlignHCenter, -1);
        y += TitleHeight;
    }
    sink.SetFont(ReportFont(11, false));
    const double half = BandWidth / 2.0;
    sink.Cell(QRectF(0, y, half, PageHeaderHeight), DateText, Qt::AlignLeft, -1);
    sink.Cell(QRectF(half, y, half, PageHeaderHeight), PageNumberLabel + QLatin1Char(' ') + QString::number(page_),
              Qt::AlignRight, -1);
    y += PageHeaderHeight;
    sink.SetFont(ReportFont(12, true));
    for (const TReportLabel &label : ColumnHeaders)
        sink.Cell(QRectF(label.Left, y, label.Width, ColumnHeaderHeight), label.Text, Qt::AlignLeft, -1);
    sink.Line(QPointF(0, y + ColumnHeaderHeight - 2), QPointF(BandWidth, y + ColumnHeaderHeight - 2));
    y += ColumnHeaderHeight;
}

void TBandReport::PaintFooter(TReportSink &sink, double y)
{
    sink.SetFont(ReportFont(11, false));
    sink.Line(QPointF(0, y + 2), QPointF(BandWidth, y + 2));
    sink.Cell(QRectF(0, y + 4, BandWidth, FooterHeight - 4), FooterText, Qt::AlignLeft, -1);
}

int TBandReport::Lay(TReportSink &sink)
{
    if (DateText.isEmpty())
        DateText = ReportDateText();
    page_ = 0;
    double y = 0;
    StartPage(sink, y);
    TDataSet *data = DataSet && DataSet->Active() ? DataSet : nullptr;
    if (data) {
        TWalkGuard guard(data);
        struct TBound {
            TField *field;
            QRectF box;
        };
        std::vector<TBound> bound;
        for (const TReportField &f : Fields)
            bound.push_back({data->FindField(f.FieldName), QRectF(f.Left, 0, DetailRoom(f), DetailHeight)});
        const QFont font = ReportFont(12, false);
        sink.SetFont(font);
        // A row never splits across pages, so its texts get no more lines
        // than a page after the first holds; the last of them is cut.
        const int maxLines = (PageHeight - PageHeaderHeight - ColumnHeaderHeight) / DetailHeight;
        std::vector<QString> texts(bound.size());
        std::vector<QStringList> lines(bound.size());
        for (data->First(); !data->Eof(); data->Next()) {
            qsizetype rowLines = 1;
            for (size_t i = 0; i < bound.size(); ++i) {
                if (!bound[i].field)
                    continue;
                texts[i] = ToQString(bound[i].field->AsString());
                lines[i] = sink.DetailLines(texts[i], bound[i].box.width(), int(i), maxLines);
                rowLines = std::max(rowLines, lines[i].size());
            }
            const double height = double(rowLines * DetailHeight);
            if (y + height > PageHeight) {
                StartPage(sink, y);
                sink.SetFont(font);
            }
            for (size_t i = 0; i < bound.size(); ++i) {
                if (!bound[i].field)
                    continue;
                const QRectF box = bound[i].box.translated(0, y);
                if (lines[i].isEmpty())
                    sink.Cell(box, texts[i], Qt::AlignLeft, int(i));
                for (qsizetype k = 0; k < lines[i].size(); ++k)
                    sink.Cell(box.translated(0, double(k * DetailHeight)), lines[i][k], Qt::AlignLeft, int(i));
            }
            y += height;
        }
    }
    if (!FooterText.isEmpty()) {
        if (y + FooterHeight > PageHeight)
            StartPage(sink, y);
        PaintFooter(sink, PageHeight - FooterHeight);
    }
    sink.Finish();
    return page_;
}

int TBandReport::Print(QPrinter &printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error("The printer could not be opened.");
    struct TEnd {
        QPainter &p;
        ~TEnd() { p.end(); }
    } end{painter};
    painter.scale(printer.logicalDpiX() / UnitsPerInch, printer.logicalDpiY() / UnitsPerInch);
    painter.setPen(Qt::black);
    TPainterSink sink(painter, printer);
    return Lay(sink);
}

std::string TBandReport::PdfBytes()
{
    // Our own writer first: it writes a page of rows as a few strings where
    // Qt's engine writes each glyph on its own. A document it cannot draw
    // exactly (a font that is not TrueType, a letter no font has) goes
    // through Qt's engine, which draws such text as outlines or boxes as the
    // preview does.
    try {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        PreparePrinter(printer);
        TPdfSink sink(printer);
        Lay(sink);
        return sink.Bytes();
    } catch (const TPdfUnsupported &) {
    }
    QTemporaryDir work;
    if (!work.isValid())
        throw std::runtime_error("No temporary folder for the PDF file: " + FromQString(work.errorString()));
    const QString scratch = work.filePath(QStringLiteral("report.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(scratch);
        PreparePrinter(printer);
        Print(printer);
    }
    QFile file(scratch);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The PDF file could not be made: " + FromQString(file.errorString()));
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

bool TBandReport::WritePdf(const std::string &fileName, std::string &error)
{
    try {
        return WriteFileAtomically(fileName, PdfBytes(), error);
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
}

void TBandReport::SavePdfFromPreview(QWidget *parent)
{
    const std::string name = AskPdfFileName(parent);
    if (name.empty())
        return;
    std::string error;
    if (!WritePdf(name, error))
        Prompt::Current().Show(ToQString(name + ": " + error), QString(), PromptButtons::Ok, PromptIcon::Error);
}

int TBandReport::Preview(QWidget *parent)
{
    QPrinter printer(QPrinter::HighResolution);
    PreparePrinter(printer);
    QPrintPreviewDialog dialog(&printer, parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [this](QPrinter *target) {
        try {
            Print(*target);
        } catch (const std::exception &e) {
            Prompt::Current().Show(ToQString(e.what()), QString(), PromptButtons::Ok, PromptIcon::Error);
        }
    });
    if (QToolBar *bar = dialog.findChild<QToolBar *>()) {
        bar->addSeparator();
        QAction *pdf = bar->addAction(QIcon::fromTheme(QStringLiteral("application-pdf")), QStringLiteral("PDF"));
        pdf->setObjectName(QStringLiteral("SavePdfAction"));
        pdf->setToolTip(QStringLiteral("PDF"));
        QObject::connect(pdf, &QAction::triggered, &dialog, [this, &dialog] { SavePdfFromPreview(&dialog); });
    }
    dialog.resize(900, 700);
    if (!PreviewTitle.isEmpty())
        dialog.setWindowTitle(PreviewTitle);
    return RunPreview(dialog);
}
