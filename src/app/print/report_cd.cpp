#include "app/print/report_cd.h"

#include "app/print/report.h"

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "platform/QtText.h"

TReportCdForm::TReportCdForm()
{
    QuickRep1.Fields = {
        {"Name", 7, 376},
        {"Namecd", 400, 274},
        {"Number", 684, 23},
    };
    QuickRep1.ColumnHeaders = {TReportLabel{QString(), 7, 389}, TReportLabel{QString(), 400, 280},
                               TReportLabel{QString(), 684, TBandReport::BandWidth - 684}};
    QuickRep1.PreviewTitle = PreviewTitleText();
    QuickRep1.OnStartPage = [this](TBandReport &sender) { QuickRepStartPage(sender); };
}

void TReportCdForm::SetDataSet(TDataSet *dataSet)
{
    QuickRep1.DataSet = dataSet;
}

void TReportCdForm::QuickRepStartPage(TBandReport &Sender)
{
    Sender.Title = ToQString(langunit::LangString(90));
    Sender.ColumnHeaders[QRLabel2].Text = ToQString(langunit::LangString(46) + ":");
    Sender.ColumnHeaders[QRLabel4].Text = ToQString(langunit::LangString(5));
    Sender.ColumnHeaders[QRLabel6].Text = NumberHeaderText();
    Sender.PageNumberLabel = ToQString(langunit::LangString(85));
}
