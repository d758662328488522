#pragma once
// A small banded report: a title on the first page, a page header on every
// page (the date on the left, the page-number label and the number on the
// right), a column header on every page, one detail row per visible record of
// a data set, and a footer at the bottom of the last page. Pages are A4
// portrait; the layout is given in units of 1/96 inch measured from the left
// page margin, as report layouts are drawn on screen, and is scaled to the
// device. A detail text too wide for its column goes on over further lines
// within it and the row grows to its tallest cell; other texts too wide end in
// an ellipsis. No text reaches the next column. One layout gives the pages: painted through QPainter onto
// a QPrinter for the preview and printers, and written by our own PDF writer
// (ReportPdf.h) for a PDF file.
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QPainter;
class QPrinter;
class QPrintPreviewDialog;
class QWidget;
class TDataSet;
class TReportSink;

// A data-bound text of the detail band: a field of the report's data set.
struct TReportField {
    std::string FieldName;
    int Left = 0;  // units from the band's left edge
    int Width = 0; // units
};

// A fixed text of the column header band.
struct TReportLabel {
    QString Text;
    int Left = 0;
    int Width = 0;
};

class TBandReport {
public:
    // Units per inch of the layout and the band width that fits an A4 page
    // between its 10 mm margins.
    static constexpr double UnitsPerInch = 96.0;
    static constexpr double MarginMm = 10.0;
    static constexpr int BandWidth = 718;
    static constexpr int PageHeight = 1047; // between the top and bottom margins

    // Band heights (units).
    static constexpr int TitleHeight = 40;
    static constexpr int PageHeaderHeight = 24;
    static constexpr int ColumnHeaderHeight = 22;
    static constexpr int DetailHeight = 16;
    static constexpr int FooterHeight = 22;
    // The room kept free between one column's text and the next column.
    static constexpr int ColumnGap = 4;

    TDataSet *DataSet = nullptr; // its visible records are the detail rows; none when null or closed
    QString Title;
    QString PreviewTitle;        // the preview window's title; empty: Qt's own
    QString PageNumberLabel;     // shown before the page number
    QString FooterText;          // empty: no footer
    std::vector<TReportLabel> ColumnHeaders;
    std::vector<TReportField> Fields;
    // Fired before each page's bands are painted (the report's page-start
    // event); it may change the texts above.
    std::function<void(TBandReport &Sender)> OnStartPage;

    // The page being painted (1 on the first).
    int PageNumber() const { return page_; }
    // The date text of the page header (today, the locale's short date with a
    // four-digit year) unless a caller sets another.
    QString DateText;

    // Sets up a printer for the layout: A4 portrait, the report's margins.
    static void PreparePrinter(QPrinter &printer);
    // Paints every page on `printer` (which must be prepared); answers the
    // number of pages. The data set's current record is kept.
    int Print(QPrinter &printer);
    // Writes the pages to a PDF file. The file appears whole or not at all;
    // false with the reason in `error`, leaving an existing file as it was.
    bool WritePdf(const std::string &fileName, std::string &error);
    // Shows the pages in the print preview (printing from it, and a tool bar
    // button that writes them to a PDF file); answers the dialog's result.
    int Preview(QWidget *parent);

    // How the preview dialog runs: exec() unless a test installs another.
    static std::function<int(QPrintPreviewDialog &)> RunPreview;
    // Asks for the name of the PDF file to write (empty: cancelled); tests
    // replace it.
    static std::function<std::string(QWidget *parent)> AskPdfFileName;
    // Where that question starts: the documents folder, or the home folder
    // when there is no documents folder (the file dialog would otherwise offer
    // the missing folder's name as the file name).
    static QString PdfStartFolder();
    // The preview's "write PDF" action, as the tool bar button triggers it.
    void SavePdfFromPreview(QWidget *parent);

    // The width a detail field's text may take: its own width, or more where
    // the row is free up to the next column.
    int DetailRoom(const TReportField &field) const;

private:
    // The layout: every page's bands and cells, told to `sink`.
    int Lay(TReportSink &sink);
    void StartPage(TReportSink &sink, double &y);
    void PaintFooter(TReportSink &sink, double y);
    // The PDF file's bytes; throws with the reason when they cannot be made.
    std::string PdfBytes();
    int page_ = 0;
};

// Today as the page header shows it.
QString ReportDateText();
