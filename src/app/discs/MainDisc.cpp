// Disc commands of the main window: delete the selected disc, open the rename
// dialog and the organise window, and show the catalogue anew afterwards.
#include "app/Main.h"

#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "app/discs/MoveForm.h"
#include "app/discs/RenameCD.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

void TMainForm::ConnectDiscHandlers()
{
    connect(ui->DeleteButton, &QToolButton::clicked, this, Guarded(&TMainForm::DeleteButtonClick));
    ui->DelMenu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    connect(ui->DelMenu, &QAction::triggered, this, Guarded(&TMainForm::DeleteButtonClick));
    connect(ui->RenameCDMenu, &QAction::triggered, this, Guarded(&TMainForm::RenameCDMenuClick));
    connect(ui->RenameCDPopup, &QAction::triggered, this, Guarded(&TMainForm::RenameCDMenuClick));
    connect(ui->OrganizeButton, &QToolButton::clicked, this, Guarded(&TMainForm::OrganizeButtonClick));
    connect(ui->OrganizeMenu, &QAction::triggered, this, Guarded(&TMainForm::OrganizeButtonClick));
    ConnectTreeEditHandlers();
    ConnectRunHandlers();
}

TDiscCatalog TMainForm::OpenDiscCatalog() const
{
    return TDiscCatalog{FlatTable1.get(), CdNameTable.get(), TreeFilePath};
}

void TMainForm::DeleteButtonClick()
{
    if (!HasCatalog())
        return;
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    if (!node)
        return;
    // Only a disc node is deleted: a group (or a folder of a disc) is not
    // taken for a disc, but the user is told why nothing happens.
    if (TreeNodeKind(node) != NodeKindDisc) {
        Prompt::Current().Show(ToQString(ChooseDiscText()), L(34), PromptButtons::Ok, PromptIcon::Information);
        return;
    }
    if (!CatalogWritable())
        return;
    const PromptResult answer =
        Prompt::Current().Show(L(55) + QStringLiteral("  : ") + node->text(0), L(34), PromptButtons::YesNo,
                               PromptIcon::Question, PromptResult::No);
    if (answer != PromptResult::Yes)
        return;
    const std::string name = FromQString(node->text(0));
    Browse.CurrentDisc = name;
    bool deleted = false;
    std::string unfinished;
    {
        HourglassCursor busy;
        try {
            deleted = DeleteDiscEverywhere(OpenDiscCatalog(), name);
        } catch (const ECommitUnfinished &e) {
            // Made (the tables hold it) and completed at the next open: the
            // window shows the disc gone, then says why a file waits.
            deleted = true;
            unfinished = e.what();
        }
    }
    if (!deleted) {
        Prompt::Current().Show(ToQString(NotFoundText(name)), L(34), PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    RebuildCatalogView();
    if (!unfinished.empty())
        ShowError(unfinished);
}

bool TMainForm::OpenDiscChosen()
{
    if (!HasCatalog() || Browse.CurrentDisc.empty())
        return false;
    // The disc acted on is the one the selected node belongs to; a group node
    // (or a node outside any disc) names none, whatever disc was open last.
    const QTreeWidgetItem *node = DiscNodeOf(ui->TreeView1->currentItem());
    if (!node || !SameDiscName(FromQString(node->text(0)), Browse.CurrentDisc)) {
        Prompt::Current().Show(ToQString(ChooseDiscText()), L(34), PromptButtons::Ok, PromptIcon::Information);
        return false;
    }
    return true;
}

void TMainForm::RenameCDMenuClick()
{
    if (!OpenDiscChosen())
        return;
    if (!CatalogWritable())
        return;
    auto *form = new TRenameCDForm(this);
    form->show();
    form->raise();
    form->activateWindow();
}

void TMainForm::OrganizeButtonClick()
{
    if (!CatalogWritable())
        return;
    TMoveForm form(this);
    ExecModal(form);
}

void TMainForm::RebuildCatalogView()
{
    Browse.BackList.clear();
    Browse.ForwardList.clear();
    RefreshHistoryMenus();
    SetBackEnabled(false);
    SetForwardEnabled(false);
    ui->TreeView1->clear();
    ui->LinksListView->clear();
    WorkSource.reset();
    WorkTable.reset();
    Browse.LoadedDisc.clear();
    if (FlatTable1 && FlatTable1->Active())
        FlatTable1->SetFiltered(false);
    ui->StatusBar1->SetPanelText(3, QString()); // the entry clicked last may be gone
    if (FileRecordCount() > 0) {
        ShowCatalogView();
        return;
    }
    ShowEmptyCatalogView();
}

void TMainForm::ShowEmptyCatalogView()
{
    // No file left: the tree keeps the discs that remain, the rest is empty.
    if (HasCatalog())
        LoadTree();
    ShowNoDiscOpen();
    if (!CdNameTable || !CdNameTable->Active() || CdNameTable->IsEmpty())
        ui->CDImage->clear();
}

void TMainForm::ShowNoDiscOpen()
{
    Browse.CurrentDisc.clear();
    Browse.LoadedDisc.clear();
    RunTarget = {};
    WorkSource.reset();
    WorkTable.reset();
    ui->LinksListView->clear();
    // Closing the search panel writes these back into the status bar.
    Browse.WorkDiscName.clear();
    Browse.FileCountText.clear();
    Browse.DiscSizeText.clear();
    for (int i = 0; i < 4; ++i)
        ui->StatusBar1->SetPanelText(i, QString());
    Browse.ListedPath.clear();
    ui->StaticText1->clear();
    ui->StaticText1->hide();
    ui->StaticText2->clear();
    {
        const QSignalBlocker block(ui->ComboBox1);
        ui->ComboBox1->clear();
        ui->ComboBox1->setEditText(QString());
    }
    Browse.CurrentPath.clear();
    Browse.BackList.clear();
    Browse.ForwardList.clear();
    RefreshHistoryMenus();
    SetBackEnabled(false);
    SetForwardEnabled(false);
    ShowInfoPanel();
}

bool TMainForm::ReloadCatalog(std::string *error)
{
    const std::string folder = CatalogFolder;
    const std::string name = CatalogName;
    ui->StaticText1->hide();
    ui->StaticText1->clear();
    WorkSource.reset();
    WorkTable.reset();
    const bool ok = OpenCatalog(folder, name, error);
    ui->LinksListView->clear();
    ui->TreeView1->clear();
    ui->ComboBox2->clear();
    if (ok)
        RebuildCatalogView();
    for (QToolButton *b : {ui->FindButton, ui->FindAllButton})
        if (b->isChecked())
            b->click();
    return ok;
}
