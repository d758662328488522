#include "app/BandReport.h"

#include <QAction>
#include <QDate>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStandardPaths>
#include <QTemporaryDir>
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

std::function<std::string(QWidget *parent)> TBandReport::AskPdfFileName = [](QWidget *parent) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
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
        for (const TReportField &f : Fields) {
            TDataSet *source = f.DataSet ? f.DataSet : data;
            bound.push_back({source->Active() ? source->FindField(f.FieldName) : nullptr,
                             QRectF(f.Left, 0, f.Width, DetailHeight)});
        }
        const QFont font = ReportFont(12, false);
        QFontMetricsF metrics(font, painter.device());
        painter.setFont(font);
        for (data->First(); !data->Eof(); data->Next()) {
            if (y + DetailHeight > PageHeight) {
                StartPage(painter, printer, y);
                painter.setFont(font);
            }
            for (const TBound &b : bound)
                if (b.field)
                    PaintCell(painter, metrics, b.box.translated(0, y), ToQString(b.field->AsString()));
            y += DetailHeight;
        }
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
