// The print command: it opens the print wizard, which reads the main
// window's tables and lists.
#include "app/Main.h"

#include <QAction>
#include <QToolButton>

#include "app/SearchListView.h"
#include "app/selunit.h"
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

void TMainForm::PrintExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *path = DataSet ? DataSet->FindField("Path") : nullptr;
    Accept = path && !Browse.CurrentPath.empty() && path->AsString().find(Browse.CurrentPath) != std::string::npos;
}

namespace {

// A row of the search result list as the report table takes it.
TPrintRow PrintRowOfSearchRow(const TSearchRow &row)
{
    TPrintRow r;
    r.Path = PrintFolderOf(row.FullPath);
    r.Namecd = row.Namecd;
    r.Number = row.Number;
    r.Size = row.SizeText;
    r.Attrib = row.Attrib;
    r.CreateDate = row.CreateDate;
    r.LastChange = row.LastChange;
    r.Type = row.Type;
    r.Name = row.Name;
    return r;
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
