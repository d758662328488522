#include "app/BandReport.h"

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

#include <stdexcept>

#include "platform/Prompt.h"
#include "platform/QtText.h"
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
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("PDF"), folder,
                                                QStringLiteral("PDF (*.pdf)"));
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

QFont ReportFont(int pixels, bool bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    // No ligatures: a copied or searched "fi" stays two letters.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

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
    QString shown = text;
    if (shown.contains(QLatin1Char('\n')) || shown.contains(QLatin1Char('\r')))
        shown.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
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
        : layout_(QString(), font, painter.device()), metrics_(font, painter.device())
    {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        // The direction a painted string takes: a name that starts in a
        // right-to-left script runs right to left.
        option.setTextDirection(painter.layoutDirection());
        layout_.setTextOption(option);
    }

    // The text of one cell, cut with an ellipsis when wider than its box.
    // `column` tells the cells apart whose boxes have one width: the same text
    // in it is laid out once (disc names, numbers and paths repeat row after
    // row).
    void AddCell(size_t column, const QRectF &box, const QString &text)
    {
        if (text.isEmpty())
            return;
        if (column >= cells_.size())
            cells_.resize(column + 1);
        QHash<QString, TCell> &cache = cells_[column];
        auto found = cache.constFind(text);
        if (found == cache.constEnd()) {
            if (cache.size() >= MaxCachedCells)
                cache.clear();
            found = cache.insert(text, LayOutCell(box.width(), text));
        }
        const qreal baseline = box.top() + (box.height() - metrics_.height()) / 2 + metrics_.ascent();
        const QPointF origin(box.left(), baseline);
        for (const TCellRun &run : found->runs) {
            TRun &target = runs_[run.font];
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
    // A laid-out cell: its glyphs per font, placed from its left edge at the
    // baseline.
    struct TCellRun {
        size_t font; // index into runs_
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    struct TCell {
        std::vector<TCellRun> runs;
    };
    static constexpr qsizetype MaxCachedCells = 4096;

    TCell LayOutCell(qreal width, const QString &text)
    {
        TCell cell;
        QString shown = text;
        if (shown.contains(QLatin1Char('\n')) || shown.contains(QLatin1Char('\r')))
            shown.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        qreal ascent = 0;
        if (!LayOut(shown, ascent))
            return cell;
        if (layout_.lineAt(0).horizontalAdvance() > width) {
            shown = metrics_.elidedText(shown, Qt::ElideRight, width);
            if (!LayOut(shown, ascent))
                return cell;
        }
        for (const QGlyphRun &run : layout_.glyphRuns()) {
            TCellRun part{FontIndex(run.rawFont()), run.glyphIndexes(), run.positions()};
            for (QPointF &p : part.positions)
                p.ry() -= ascent;
            cell.runs.push_back(std::move(part));
        }
        return cell;
    }

    bool LayOut(const QString &text, qreal &ascent)
    {
        layout_.setText(text);
        layout_.beginLayout();
        QTextLine line = layout_.createLine();
        if (line.isValid())
            line.setPosition(QPointF(0, 0));
        layout_.endLayout();
        if (!line.isValid())
            return false;
        ascent = line.ascent();
        return true;
    }

    size_t FontIndex(const QRawFont &font)
    {
        for (size_t i = 0; i < runs_.size(); ++i)
            if (runs_[i].font == font)
                return i;
        runs_.push_back(TRun{font, {}, {}});
        return runs_.size() - 1;
    }

    QTextLayout layout_;
    QFontMetricsF metrics_;
    std::vector<TRun> runs_;
    std::vector<QHash<QString, TCell>> cells_;
};

} // namespace

void TBandReport::PreparePrinter(QPrinter &printer)
{
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter));
    printer.setFullPage(false);
}

void TBandReport::StartPage(QPainter &painter, QPrinter &printer, double &y)
{
    if (page_ > 0 && !printer.newPage())
        throw std::runtime_error("The printer could not start a new page.");
    ++page_;
    if (OnStartPage)
        OnStartPage(*this);
    y = 0;
    if (page_ == 1) {
        const QFont font = ReportFont(19, true);
        painter.setFont(font);
        PaintCell(painter, QFontMetricsF(font, painter.device()), QRectF(0, y, BandWidth, TitleHeight), Title,
                  Qt::AlignHCenter);
        y += TitleHeight;
    }
    {
        const QFont font = ReportFont(11, false);
        painter.setFont(font);
        const QFontMetricsF metrics(font, painter.device());
        const double half = BandWidth / 2.0;
        PaintCell(painter, metrics, QRectF(0, y, half, PageHeaderHeight), DateText);
        PaintCell(painter, metrics, QRectF(half, y, half, PageHeaderHeight),
                  PageNumberLabel + QLatin1Char(' ') + QString::number(page_), Qt::AlignRight);
        y += PageHeaderHeight;
    }
    {
        const QFont font = ReportFont(12, true);
        painter.setFont(font);
        const QFontMetricsF metrics(font, painter.device());
        for (const TReportLabel &label : ColumnHeaders)
            PaintCell(painter, metrics, QRectF(label.Left, y, label.Width, ColumnHeaderHeight), label.Text);
        painter.drawLine(QPointF(0, y + ColumnHeaderHeight - 2), QPointF(BandWidth, y + ColumnHeaderHeight - 2));
        y += ColumnHeaderHeight;
    }
}

void TBandReport::PaintFooter(QPainter &painter, double y)
{
    const QFont font = ReportFont(11, false);
    painter.setFont(font);
    painter.drawLine(QPointF(0, y + 2), QPointF(BandWidth, y + 2));
    PaintCell(painter, QFontMetricsF(font, painter.device()), QRectF(0, y + 4, BandWidth, FooterHeight - 4),
              FooterText);
}

int TBandReport::Print(QPrinter &printer)
{
    if (DateText.isEmpty())
        DateText = ReportDateText();
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error("The printer could not be opened.");
    struct TEnd {
        QPainter &p;
        ~TEnd() { p.end(); }
    } end{painter};
    painter.scale(printer.logicalDpiX() / UnitsPerInch, printer.logicalDpiY() / UnitsPerInch);
    painter.setPen(Qt::black);
    page_ = 0;
    double y = 0;
    StartPage(painter, printer, y);

    TDataSet *data = DataSet && DataSet->Active() ? DataSet : nullptr;
    if (data) {
        TWalkGuard guard(data);
        struct TBound {
            TField *field;
            QRectF box;
        };
        std::vector<TBound> bound;
        for (const TReportField &f : Fields)
            bound.push_back({data->FindField(f.FieldName), QRectF(f.Left, 0, f.Width, DetailHeight)});
        const QFont font = ReportFont(12, false);
        // Gathered glyphs suit the PDF engine (files and printers) only: the
        // preview records its pages as pictures, which keep painted strings
        // as text but turn glyphs without their letters into outlines.
        const bool asGlyphs = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Pdf;
        TDetailGlyphs rows(font, painter);
        const QFontMetricsF metrics(font, painter.device());
        if (!asGlyphs)
            painter.setFont(font);
        for (data->First(); !data->Eof(); data->Next()) {
            if (y + DetailHeight > PageHeight) {
                if (asGlyphs)
                    rows.Paint(painter);
                StartPage(painter, printer, y);
                if (!asGlyphs)
                    painter.setFont(font);
            }
            for (size_t i = 0; i < bound.size(); ++i) {
                if (!bound[i].field)
                    continue;
                const QRectF box = bound[i].box.translated(0, y);
                if (asGlyphs)
                    rows.AddCell(i, box, ToQString(bound[i].field->AsString()));
                else
                    PaintCell(painter, metrics, box, ToQString(bound[i].field->AsString()));
            }
            y += DetailHeight;
        }
        if (asGlyphs)
            rows.Paint(painter);
    }
    if (!FooterText.isEmpty()) {
        if (y + FooterHeight > PageHeight)
            StartPage(painter, printer, y);
        PaintFooter(painter, PageHeight - FooterHeight);
    }
    return page_;
}

bool TBandReport::WritePdf(const std::string &fileName, std::string &error)
{
    try {
        QTemporaryDir work;
        if (!work.isValid()) {
            error = "No temporary folder for the PDF file: " + FromQString(work.errorString());
            return false;
        }
        const QString scratch = work.filePath(QStringLiteral("report.pdf"));
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(scratch);
            PreparePrinter(printer);
            Print(printer);
        }
        QFile file(scratch);
        if (!file.open(QIODevice::ReadOnly)) {
            error = "The PDF file could not be made: " + FromQString(file.errorString());
            return false;
        }
        const QByteArray bytes = file.readAll();
        return WriteFileAtomically(fileName, std::string_view(bytes.constData(), size_t(bytes.size())), error);
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
    return RunPreview(dialog);
}
