// The print command: it opens the print wizard, which reads the main
// window's tables and lists.
#include "app/Main.h"

#include <QAction>
#include <QToolButton>

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

// The search result list is not part of this window yet: until it is, the
// search result source gives no rows and no list view is it.
std::vector<TPrintRow> TMainForm::PrintSearchRows() const
{
    return {};
}

std::optional<TPrintRow> TMainForm::PrintSearchSelectedRow() const
{
    return std::nullopt;
}

bool TMainForm::IsSearchListView(const QObject *) const
{
    return false;
}
