// The file list: filling it from the work table for the current folder, its
// click and double-click, the view styles and its keys.
#include "app/Main.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>

#include "app/LangUnit.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "platform/QtText.h"
#include "platform/ShellInfo.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "widgets/StatusBarCont.h"

TRunTarget RunTargetOf(const TFileRow &row)
{
    TRunTarget target;
    target.Path = row.FullName;
    if (!row.IsFolder() && !IsArchiveExtension(LowerAZ(PathExtractExtension(row.FullName))))
        target.Path = ArchivePathOf(row.FullName);
    target.DiscName = row.Namecd;
    target.Number = row.Number;
    target.FType = row.FType;
    return target;
}

void TMainForm::ConnectFileListHandlers()
{
    TFileListView *list = ui->LinksListView;
    connect(list, &TFileListView::Clicked, this, Guarded(&TMainForm::LinksListViewClick));
    connect(list, &TFileListView::DoubleClicked, this, Guarded(&TMainForm::LinksListViewDblClick));
    connect(list, &TFileListView::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            ui->LinksListView->DoubleClicked();
        else if (key == Qt::Key_Backspace)
            ui->UpButton->click();
    });
    connect(list, &TFileListView::KeyReleased, this, [this](int key) {
        if (key == Qt::Key_Up || key == Qt::Key_Down)
            ShowNote(ui->LinksListView->SelectedRow());
    });
    connect(ui->ListViewMenu, &QAction::triggered, this, Guarded(&TMainForm::ListViewMenuClick));
    connect(ui->IconViewMenu, &QAction::triggered, this, Guarded(&TMainForm::IconViewMenuClick));
    connect(ui->SmallIconViewMenu, &QAction::triggered, this, Guarded(&TMainForm::SmallIconViewMenuClick));
    connect(ui->ReportViewMenu, &QAction::triggered, this, Guarded(&TMainForm::ReportViewMenuClick));
    FollowViewStyleMenu(ui->LinksListView);
}

void TMainForm::FollowViewStyleMenu(TRowListView *list)
{
    const std::pair<QAction *, int> styles[] = {
        {ui->ListViewMenu, vsList}, {ui->IconViewMenu, vsIcon}, {ui->SmallIconViewMenu, vsSmallIcon},
        {ui->ReportViewMenu, vsReport}};
    for (const auto &[action, style] : styles) {
        const int s = style;
        connect(action, &QAction::toggled, this, [list, s](bool on) {
            if (on)
                list->SetViewStyle(s);
        });
        if (action->isChecked())
            list->SetViewStyle(s);
    }
}

void TMainForm::FilterWorkTable()
{
    // The folder filter admits the records of the current path alone: the
    // view is built from those, found through the store's lookup of paths,
    // and sorted by type, once (no unfiltered view of the whole disc is
    // built and sorted in between).
    // The work table's filter admits exactly the records of that path, which the lookup
    // finds: it is not asked again for each of them.
    TFilterTextHintScope hint(*WorkTable, "Path", Browse.CurrentPath, true);
    if (WorkTable->IndexFieldNames() == "Type") {
        WorkTable->SetFiltered(true); // rebuilds the view for the current path
    } else {
        // The filter is switched on without a rebuild of its own: setting
        // the index rebuilds the view with both.
        WorkTable->TDataSet::SetFiltered(true);
        WorkTable->SetIndexFieldNames("Type");
    }
}

std::vector<std::string> TMainForm::WorkFolderEntries(const std::string &folder, bool foldersOnly)
{
    std::vector<std::string> names;
    if (!WorkTable || !WorkTable->Active())
        return names;
    const std::string shown = Browse.CurrentPath;
    Browse.CurrentPath = folder;
    FilterWorkTable();
    TField &nameField = WorkTable->FieldByName("Name");
    TField &typeField = WorkTable->FieldByName("Type");
    for (WorkTable->First(); !WorkTable->Eof(); WorkTable->Next()) {
        const std::string name = nameField.AsString();
        const bool isFolder = typeField.AsInteger() == 0;
        if (isFolder || (!foldersOnly && IsArchiveExtension(LowerAZ(PathExtractExtension(name)))))
            names.push_back(name);
    }
    Browse.CurrentPath = shown;
    FilterWorkTable();
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string &a, const std::string &b) { return CompareNamesFoldAZ(a, b) < 0; });
    return names;
}

void TMainForm::LoadList()
{
    TFileListModel *model = ui->LinksListView->Model();
    if (WorkTable && WorkTable->Active()) {
        FilterWorkTable();
        WorkTable->First();
        const ShellIconSize iconSize = ui->IconViewMenu->isChecked() ? ShellIconSize::Large : ShellIconSize::Small;
        model->Fill(*WorkTable, iconSize);
    } else {
        model->Clear();
    }
    // The panel must not go on describing an entry that left the list.
    if (ui->InfoPanel->isVisibleTo(this))
        ShowInfoPanel();
    // Another folder: the status bar's entry panel no longer names an entry
    // of the folder left.
    if (Browse.CurrentPath != Browse.ListedPath) {
        Browse.ListedPath = Browse.CurrentPath;
        ui->StatusBar1->SetPanelText(3, QString());
    }

    // The folders listed become the selected node's level only when that node
    // is the folder listed (a node the tree does not have yet is not).
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    if (Settings[10] == 1 && node && node->childCount() == 0 && Browse.BrowseFlag == 1 &&
        NodeDrivePath(node) + "\\" == Browse.CurrentPath)
        LoadSubTree();
}

void TMainForm::LinksListViewClick()
{
    Browse.BrowseFlag = 1;
    const TFileRow *row = ui->LinksListView->SelectedRow();
    if (!row)
        return;
    ui->StatusBar1->SetPanelText(3, ToQString(" " + (row->IsTrack() ? row->Name : row->FullName)));
    RunTarget = RunTargetOf(*row);
    ui->LinksListView->setToolTip(ToQString(langunit::LangString(102) + "  -" + row->Number + "-\n" +
                                            langunit::LangString(103) + " " + row->Namecd + "\n" +
                                            langunit::LangString(104) + " " + CatalogName));
    Browse.SelectedSerial = row->CdIdCode;
    ShowNote(row);
}

void TMainForm::LinksListViewDblClick()
{
    Browse.BrowseFlag = 1;
    TFileListView *list = ui->LinksListView;
    const TFileRow *selected = list->SelectedRow();
    if (!selected || list->Count() == 0)
        return;
    const TFileRow row = *selected; // the list is refilled below
    const bool archive = IsArchiveExtension(LowerAZ(PathExtractExtension(row.FullName)));
    if (!row.IsFolder() && !archive) {
        // A file: it becomes the run target and is opened from its disc.
        RunTarget = RunTargetOf(row);
        RunFile(RunTarget.Path);
        return;
    }
    Browse.TargetPath = row.FullName;
    Browse.PreviousPath = FromQString(ui->ComboBox1->currentText());
    Browse.CurrentPath = row.FullName + "\\";
    SelectTreeNodeByPath(DrivePathToDiscPath(row.Namecd, row.FullName));
    LoadList();
    SetPath();
    if (list->Count() > 0) {
        list->SelectRow(0);
        if (ui->InfoPanel->isVisibleTo(this))
            ShowInfoPanel();
    }
}

void TMainForm::ListViewMenuClick()
{
    if (!ui->ListViewMenu->isChecked())
        return;
    Settings[18] = vsList;
    ui->LinksListView->SetViewStyle(vsList);
    LoadList();
}

void TMainForm::IconViewMenuClick()
{
    if (!ui->IconViewMenu->isChecked())
        return;
    Settings[18] = vsIcon;
    ui->LinksListView->SetViewStyle(vsIcon);
    LoadList();
}

void TMainForm::SmallIconViewMenuClick()
{
    if (!ui->SmallIconViewMenu->isChecked())
        return;
    Settings[18] = vsSmallIcon;
    ui->LinksListView->SetViewStyle(vsSmallIcon);
    LoadList();
}

void TMainForm::ReportViewMenuClick()
{
    if (!ui->ReportViewMenu->isChecked())
        return;
    Settings[18] = vsReport;
    ui->LinksListView->SetViewStyle(vsReport);
    LoadList();
}
