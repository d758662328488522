// The print command: it opens the print wizard, which reads the main
// window's tables and lists.
#include "app/Main.h"

#include <QAction>
#include <QToolButton>

#include "app/print/selunit.h"
#include "app/search/SearchListView.h"
#include "ui_MainForm.h"

void TMainForm::ConnectPrintHandlers()
{
    connect(ui->PrintButton, &QToolButton::clicked, this, Guarded(&TMainForm::PrintButtonClick));
    connect(ui->PrintMenu, &QAction::triggered, this, Guarded(&TMainForm::PrintButtonClick));
}

void TMainForm::PrintButtonClick()
{
    auto *wizard = new TPrintPrepareForm(this);
    PrintPrepareForm = wizard;
    wizard->show();
    wizard->raise();
    wizard->activateWindow();
}

TFlatTable *TMainForm::CurrentDiscFileTable()
{
    if (!FlatTable1 || !FlatTable1->Active())
        return nullptr;
    if (!Search.Flag) {
        FlatTable1->SetOnFilterRecord([this](TDataSet *d, bool &accept) { FlatTable1FilterRecord(d, accept); });
        TFilterTextHintScope hint(*FlatTable1, "Namecd", Browse.CurrentDisc);
        FlatTable1->SetFiltered(true);
    }
    return FlatTable1.get();
}

void TMainForm::PrintExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *path = DataSet ? DataSet->FindField("Path") : nullptr;
    Accept = path && !Browse.CurrentPath.empty() && path->AsString().find(Browse.CurrentPath) != std::string::npos;
}

namespace {

// A row of the search result list as the report table takes it.
TPrintRow PrintRowOfSearchRow(const TSearchRow &row)
{
    return PrintRowOfListRow(row, row.FullPath);
}

} // namespace

std::vector<TPrintRow> TMainForm::PrintSearchRows() const
{
    std::vector<TPrintRow> rows;
    for (const TSearchRow &row : ui->SearchView->Model()->Rows())
        rows.push_back(PrintRowOfSearchRow(row));
    return rows;
}

std::optional<TPrintRow> TMainForm::PrintSearchSelectedRow() const
{
    if (const TSearchRow *row = ui->SearchView->SelectedRow())
        return PrintRowOfSearchRow(*row);
    return std::nullopt;
}

bool TMainForm::IsSearchListView(const QObject *source) const
{
    const auto *widget = qobject_cast<const QWidget *>(source);
    return widget && (widget == ui->SearchView || ui->SearchView->isAncestorOf(widget));
}
