#include "app/print/report.h"

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "platform/QtText.h"

namespace {

// A column header over its column, reaching to where the next one starts.
TReportLabel HeaderOver(int left, int nextLeft)
{
    return TReportLabel{QString(), left, nextLeft - left - TBandReport::ColumnGap};
}

} // namespace

QString NumberHeaderText()
{
    return ByLanguage("No.-", "Č.-", "Č.-");
}

QString PreviewTitleText()
{
    return ByLanguage("Print preview", "Náhľad tlače", "Náhled tisku");
}

TReportForm::TReportForm()
{
    QuickRep1.Fields = {
        {"Name", 7, 139},
        {"Path", 157, 404},
        {"Namecd", 568, 109},
        {"Number", 684, 23},
    };
    QuickRep1.ColumnHeaders = {HeaderOver(7, 157), HeaderOver(157, 568), HeaderOver(568, 684),
                               HeaderOver(684, TBandReport::BandWidth + TBandReport::ColumnGap)};
    QuickRep1.PreviewTitle = PreviewTitleText();
    QuickRep1.OnStartPage = [this](TBandReport &sender) { QuickRepStartPage(sender); };
}

void TReportForm::SetDataSet(TDataSet *dataSet)
{
    QuickRep1.DataSet = dataSet;
}

void TReportForm::QuickRepStartPage(TBandReport &Sender)
{
    Sender.Title = ToQString(langunit::LangString(90));
    Sender.ColumnHeaders[QRLabel2].Text = ToQString(langunit::LangString(46) + ":");
    Sender.ColumnHeaders[QRLabel3].Text = ToQString(langunit::LangString(3));
    Sender.ColumnHeaders[QRLabel4].Text = ToQString(langunit::LangString(5));
    Sender.ColumnHeaders[QRLabel6].Text = NumberHeaderText();
    Sender.PageNumberLabel = ToQString(langunit::LangString(85));
}
