#pragma once
// The music-disc report: track name, disc name and disc number of each row.
#include <QWidget>

#include "app/print/BandReport.h"

class TDataSet;

class TReportCdForm {
public:
    TReportCdForm();
    TReportCdForm(const TReportCdForm &) = delete;
    TReportCdForm &operator=(const TReportCdForm &) = delete;

    // The report's data set; its three detail fields read its current record.
    void SetDataSet(TDataSet *dataSet);
    // Page start: the title, the column headers and the page-number label in
    // the current language.
    void QuickRepStartPage(TBandReport &Sender);
    int Preview(QWidget *parent) { return QuickRep1.Preview(parent); }

    TBandReport QuickRep1;
    // Indexes into QuickRep1.ColumnHeaders.
    enum { QRLabel2, QRLabel4, QRLabel6 };
};
