#pragma once
// The data-disc report: name, path, disc name and disc number of each row.
#include <QWidget>

#include "app/print/BandReport.h"

class TDataSet;

// The header of the disc-number column and the preview's title, in the
// current language.
QString NumberHeaderText();
QString PreviewTitleText();

class TReportForm {
public:
    TReportForm();
    TReportForm(const TReportForm &) = delete;
    TReportForm &operator=(const TReportForm &) = delete;

    // The report's data set; its four detail fields read its current record.
    void SetDataSet(TDataSet *dataSet);
    // Page start: the title, the column headers and the page-number label in
    // the current language.
    void QuickRepStartPage(TBandReport &Sender);
    int Preview(QWidget *parent) { return QuickRep1.Preview(parent); }

    TBandReport QuickRep1;
    // Indexes into QuickRep1.ColumnHeaders.
    enum { QRLabel2, QRLabel3, QRLabel4, QRLabel6 };
};
