// Notes of files and discs: the pop-up command that opens the note dialog,
// the filter that narrows the file table to the file's folder, and storing the
// note the dialog returns.
#include "app/Main.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include "app/discs/AddNote.h"
#include "app/discs/DiscCommands.h"
#include "app/Texts3.h"
#include "app/browse/FileListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"

namespace {

// The record whose `field` is exactly `name`; failing that, the first whose
// field equals it ignoring case. Names differing only in case are distinct
// files on Linux, so the exact one always wins.
bool LocateByName(TDataSet &table, const std::string &field, const std::string &name)
{
    if (table.Locate(field, TVariant(name), TLocateOptions{}))
        return true;
    return table.Locate(field, TVariant(name), TLocateOptions{loCaseInsensitive});
}

// Stores the note in the located record and writes the table (with its backup,
// as one commit). When the write fails the change is taken back in memory too,
// so nothing shows a note that the next start would not.
void SaveNoteField(TFlatTable &table, const char *field, const std::string &note)
{
    table.Edit();
    table.FieldByName(field).SetAsString(note);
    table.Post();
    try {
        TTableCommit commit({&table});
        table.Save();
        commit.Commit();
    } catch (const ECommitUnfinished &) {
        throw; // made, and completed at the next open
    } catch (...) {
        table.CancelChanges();
        throw;
    }
}

// The record the note belongs to is gone: said, and nothing is stored.
void ReportNothingFound(const std::string &name)
{
    Prompt::Current().Show(ToQString(NotFoundText(name)), L(34), PromptButtons::Ok, PromptIcon::Warning);
}

bool HasFocusIn(const QWidget *w, const QWidget *lastActive)
{
    // Focus outside the window (a dialog just closed, the window not yet
    // active again) leaves the control that had it last as the one in use.
    const QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != w->window())
        focus = lastActive;
    return focus && (focus == w || w->isAncestorOf(focus));
}

} // namespace

void TMainForm::NoteTableFilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *path = DataSet ? DataSet->FindField("Path") : nullptr;
    TField *disc = DataSet ? DataSet->FindField("Namecd") : nullptr;
    Accept = path && disc && path->AsString() == NoteFolder && disc->AsString() == NoteDisc;
}

void TMainForm::CatPopupMenuPopup()
{
    ui->NotePopup->setEnabled(HasFocusIn(ui->LinksListView, ActiveControl) ||
                              HasFocusIn(ui->TreeView1, ActiveControl));
}

int TMainForm::NoteFieldWidth() const
{
    const TDataSet *table = NoteMode == 1 ? static_cast<const TDataSet *>(FlatTable1.get())
                                          : static_cast<const TDataSet *>(CdNameTable.get());
    TField *field = table ? const_cast<TDataSet *>(table)->FindField(NoteMode == 1 ? "Note" : "CdNote") : nullptr;
    return field && field->Size() > 0 ? field->Size() : 50;
}

void TMainForm::NotePopupClick()
{
    if (!HasCatalog() || !CatalogWritable())
        return;
    std::string current;
    if (HasFocusIn(ui->LinksListView, ActiveControl)) {
        const TFileRow *row = ui->LinksListView->SelectedRow();
        if (!row)
            return;
        NoteMode = 1;
        NoteTarget = row->Name;
        // The entry's folder as its record holds it: a Linux file name may
        // itself contain a backslash, so it is not cut from the full name.
        NoteFolder = row->Path;
        NoteDisc = row->Namecd;
        if (WorkTable && WorkTable->Active() && LocateByName(*WorkTable, "Name", NoteTarget))
            current = WorkTable->FieldByName("Note").AsString();
    } else if (HasFocusIn(ui->TreeView1, ActiveControl)) {
        if (Browse.CurrentDisc.empty())
            return;
        NoteMode = 0;
        NoteTarget = Browse.CurrentDisc;
        NoteDisc = Browse.CurrentDisc;
        if (LocateByName(*CdNameTable, "CdName", NoteTarget))
            current = CdNameTable->FieldByName("CdNote").AsString();
    } else {
        return;
    }
    TAddNoteForm dialog(this);
    dialog.SetNote(current);
    ExecModal(dialog);
}

bool TMainForm::StoreNote(const std::string &note)
{
    if (!HasCatalog() || ReadOnlyCatalog)
        return false;
    if (NoteMode == 1) {
        // The file table is narrowed to the file's folder and disc while the
        // note is stored; whatever filter it had (the search's, or the
        // current disc's) is put back afterwards, also on failure.
        const TDataSet::TFilterRecordEvent previous = FlatTable1->OnFilterRecord();
        const bool wasFiltered = FlatTable1->Filtered();
        auto restore = [&] {
            FlatTable1->SetOnFilterRecord(previous);
            FlatTable1->SetFiltered(false);
            FlatTable1->SetFiltered(wasFiltered || previous != nullptr);
        };
        bool stored = false;
        FlatTable1->SetOnFilterRecord([this](TDataSet *d, bool &accept) { NoteTableFilterRecord(d, accept); });
        FlatTable1->SetFiltered(false);
        FlatTable1->SetFiltered(true);
        try {
            if (LocateByName(*FlatTable1, "Name", NoteTarget)) {
                SaveNoteField(*FlatTable1, "Note", note);
                stored = true;
            }
        } catch (...) {
            restore();
            throw;
        }
        restore();
        if (!stored) {
            ReportNothingFound(NoteTarget);
            return false;
        }
        // The view's copy follows what was saved; it is not saved itself.
        if (WorkTable && WorkTable->Active() && LocateByName(*WorkTable, "Name", NoteTarget)) {
            WorkTable->Edit();
            WorkTable->FieldByName("Note").SetAsString(note);
            WorkTable->Post();
        }
        const std::string fullName = NoteFolder + NoteTarget;
        LoadList();
        // The entry stays selected, showing its new note.
        const TFileRows rows = ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].Path + rows[i].Name == fullName) {
                ui->LinksListView->SelectRow(static_cast<int>(i));
                ShowNote(&rows[i]);
                break;
            }
        }
        return true;
    }
    if (!LocateByName(*CdNameTable, "CdName", NoteTarget)) {
        ReportNothingFound(NoteTarget);
        return false;
    }
    SaveNoteField(*CdNameTable, "CdNote", note);
    const std::string stored = CdNameTable->FieldByName("CdNote").AsString();
    LoadTree();
    SelectTreeNodeByText(Browse.CurrentDisc);
    LocateDiscRecord(Browse.CurrentDisc);
    // The note strip and the panel show the disc's new note.
    if (NoteTarget == Browse.CurrentDisc) {
        if (!stored.empty()) {
            ui->StaticText1->setText(ToQString("  " + stored));
            if (!ui->InfoPanel->isVisibleTo(this))
                ui->StaticText1->show();
        } else {
            ui->StaticText1->clear();
            ui->StaticText1->hide();
        }
        ShowInfoPanel();
    }
    ShowDiscPicture();
    return true;
}
