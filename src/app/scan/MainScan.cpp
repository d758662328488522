// The scan and update commands of the main window, the drive questions of a
// scan, the disc reader's entry point and the writer of a scan into the
// catalogue.
#include "app/Main.h"

#include <QAction>
#include <QFile>
#include <QFont>
#include <QPainter>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <stdexcept>

#include "app/LangUnit.h"
#include "app/discs/DiscCommands.h"
#include "app/scan/newcd.h"
#include "app/Texts3.h"
#include "platform/ExeIcon.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/VolumeService.h"
#include "storage/FlatTbl.h"
#include "ui_MainForm.h"
#include "widgets/PictDriveBox.h"
#include "widgets/StatusBarCont.h"

namespace {

// Runs `fn` over the file table with its record filter off (a search filter
// must not decide which records a scan sees), then puts the filter back.
template <typename Fn>
void Unfiltered(TFlatTable &table, Fn fn)
{
    const bool filtered = table.Filtered();
    if (filtered)
        table.SetFiltered(false);
    try {
        fn();
    } catch (...) {
        if (filtered)
            table.SetFiltered(true);
        throw;
    }
    if (filtered)
        table.SetFiltered(true);
}

// The disc node named `text`, wherever it lies: a disc may sit in a group.
QTreeWidgetItem *DiscNodeNamed(QTreeWidget *tree, const QString &text)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (TreeNodeKind(*it) == NodeKindDisc && (*it)->text(0) == text)
            return *it;
    return nullptr;
}

} // namespace

void TMainForm::ConnectScanHandlers()
{
    connect(ui->ScanButton, &QToolButton::clicked, this, Guarded(&TMainForm::ScanButtonClick));
    connect(ui->ScanDriveMenu, &QAction::triggered, this, Guarded(&TMainForm::ScanButtonClick));
    connect(ui->UpdateToolButton, &QToolButton::clicked, this, Guarded(&TMainForm::UpdateToolButtonClick));
    connect(ui->UpdateMenu, &QAction::triggered, this, Guarded(&TMainForm::UpdateToolButtonClick));
    ui->StatusBar1->OnDrawPanel = [this](TStatusBarCont *bar, int panel, const QRect &rect, QPainter &canvas) {
        StatusBar1DrawPanel(bar, panel, rect, canvas);
    };
    BindArchiveReaderHooks();
}

void TMainForm::ScanButtonClick()
{
    RunScanWizard(0);
}

void TMainForm::UpdateToolButtonClick()
{
    if (!OpenDiscChosen())
        return;
    RunScanWizard(1);
}

void TMainForm::ClearScan()
{
    if (ExMemoryData1 && ExMemoryData1->Active())
        ExMemoryData1->EmptyTable();
    Scan.Clear();
    ScanSession.Clear();
}

void TMainForm::RunScanWizard(int mode)
{
    if (!HasCatalog() || !CatalogWritable())
        return;
    ClearScan();
    char letter = ui->DriveComboBox1->Drive();
    std::string driveText = FromQString(ui->DriveComboBox1->currentText());
    if (mode == 1) {
        const std::string disc = Browse.CurrentDisc;
        if (disc.empty())
            return;
        ScanSession.SelectedDisc = disc;
        // The drive is the one the disc's records were read from: an audio
        // disc named after its title does not begin with its drive letter.
        letter = disc[0];
        Unfiltered(*FlatTable1, [&] {
            TField &namecd = FlatTable1->FieldByName("Namecd");
            TField &path = FlatTable1->FieldByName("Path");
            for (FlatTable1->First(); !FlatTable1->Eof(); FlatTable1->Next()) {
                if (namecd.AsString() == disc) {
                    const std::string p = path.AsString();
                    if (p.size() >= 2 && p[1] == ':')
                        letter = p[0];
                    break;
                }
            }
        });
        driveText.clear();
    }
    ScanSession.Mode = mode;
    ScanSession.WaitAfterRead = Settings[6];
    // One look at the drive for the whole wizard: a device change while it is
    // open must not swap the drive under the scan.
    ScanSession.Volume = TakeScanVolume(letter, driveText);
    Scan.VolumeSerial = ScanSession.Volume.serialText;
    Scan.RootFolder = std::string(1, ScanSession.Volume.letter) + ":\\";
    {
        TNewRecordForm wizard(*this, mode);
        wizard.OnReadMusicCD = [this](TNewRecordForm *w) { RunGuarded([this, w] { ReadMusicCD(w); }); };
        CddbWizard = &wizard;
        ExecModal(wizard);
        CddbWizard = nullptr;
        if (!wizard.Written())
            ClearScan();
    }
    repaint();
    Scan.TrackTitles.clear();
    Scan.End = false;
    Scan.NoMatch = false;
}

int TMainForm::GetDriveKind(char letter)
{
    VolumeService &volumes = VolumeService::Current();
    std::string label;
    uint32_t serial = 0;
    const int type = volumes.GetDriveType(letter);
    if (type == DRIVE_CDROM)
        volumes.GetVolumeInformation(letter, label, serial);
    return DiscKindOf(type, label, serial, Scan.VolumeSerial);
}

namespace {

std::unique_ptr<TDiskLister> ListerOf(const TScanVolume &v)
{
    if (!v.audioRoot.empty())
        return std::make_unique<TDiskLister>(v.audioRoot);
    return std::make_unique<TDiskLister>();
}

std::string LocalFolderOf(const TScanVolume &v, const std::string &storedFolder)
{
    if (!v.audioRoot.empty())
        return {};
    std::string root = std::string(1, v.letter) + ":\\";
    if (storedFolder == root || storedFolder + "\\" == root)
        return v.localRoot;
    return VolumeService::Current().LocalPath(storedFolder).value_or(std::string());
}

} // namespace

void TMainForm::SpocitajSubory(const std::string &root)
{
    std::string folder = root;
    if (folder.empty() || folder.back() != '\\')
        folder += '\\';
    ScanSession.TopFolders.clear();
    std::vector<TScanEntry> entries;
    auto lister = ListerOf(ScanSession.Volume);
    if (lister->List(folder, LocalFolderOf(ScanSession.Volume, folder), entries))
        for (const TScanEntry &e : entries)
            if (e.attributes & FILE_ATTR_DIRECTORY)
                ScanSession.TopFolders.push_back(folder + e.name);
    if (!ScanSession.TopFolders.empty())
        ScanSession.ProgressStep = 400 / static_cast<int>(ScanSession.TopFolders.size());
}

bool TMainForm::NacitajDisk(const std::string &folder)
{
    if (!ExMemoryData1->Active())
        ExMemoryData1->Open();
    auto lister = ListerOf(ScanSession.Volume);
    TDiskReader reader(*ExMemoryData1, *lister);
    reader.DiscName = Scan.DiscName;
    reader.DiscNumber = Scan.DiscNumber;
    reader.Serial = Scan.VolumeSerial;
    reader.ExeIcons = Settings[2] == 1;
    reader.ListZip = Settings[3] == 1;
    reader.ListRar = Settings[4] == 1;
    reader.ListCab = Settings[5] == 1;
    reader.OnRootFolder = ScanSession.OnRootFolder;
    // A catalogue of an older layout has a narrower Path field than the scan table.
    if (FlatTable1 && FlatTable1->Active())
        if (TField *target = FlatTable1->FindField("Path"); target && target->Size() > 0)
            reader.PathWidth = std::min(reader.PathWidth, size_t(target->Size()));
    reader.IconOf = [](const std::string &local) {
        const QByteArray icon = ReadExeIconStream(QFile::decodeName(QByteArray::fromStdString(local)));
        return icon.toStdString();
    };
    reader.OnArchive = [this](char kind, const std::string &storedFolder, const std::string &localFolder,
                              const TScanEntry &e) {
        const std::string local =
            localFolder.empty() ? std::string() : localFolder + (e.localName.empty() ? e.name : e.localName);
        if (kind == 'z')
            WriteZipFile(e.name, storedFolder, local);
        else if (kind == 'r')
            WriteRarFile(e.name, storedFolder, local);
        else
            WriteCabFile(e.name, storedFolder, local);
    };
    reader.Read(folder, LocalFolderOf(ScanSession.Volume, folder));
    ScanSession.Tally.Add(reader.Tally);
    ScanSession.FileBytes += reader.FileBytes;
    // Never passed off as a full reading: what could not be read is told.
    const std::string notice = ScanTallyNotice(ScanSession.Tally);
    if (!notice.empty())
        Prompt::Current().Show(ToQString(notice), L(34), PromptButtons::Ok, PromptIcon::Warning);
    if (ExMemoryData1->RecordCount() > 0)
        return true;
    Prompt::Current().Show(L(66), L(67), PromptButtons::Ok, PromptIcon::Warning);
    ScanSession.WaitAfterRead = 1;
    return false;
}

std::string TMainForm::UniqueTitle(const std::string &title)
{
    return MakeUniqueCdName(title, DiscNames());
}

void TMainForm::SaveToDatabase(const std::string &sizeText, int mode)
{
    if (ReadOnlyCatalog)
        throw std::runtime_error("The archive " + CatalogName + " is open read-only; the scan is not stored.");
    const int kind = ScanSession.Volume.kind;
    const std::string oldDisc = ScanSession.SelectedDisc;
    TExMemoryData &scan = *ExMemoryData1;
    if (!scan.Active())
        scan.Open();
    std::string written;   // disc name of the records written
    // The tables hold what their files hold: the point a failed store goes back to.
    for (TFlatTable *t : {FlatTable1.get(), CdNameTable.get()})
        t->CommitChanges();
    try {
        // Both tables, and the tree file that gets the new disc's node, are saved as one change.
        TTableCommit commit({CdNameTable.get(), FlatTable1.get()});
        if (mode == 1) {
            // Exactly the updated disc's records go, whatever filter is on.
            Unfiltered(*FlatTable1, [&] {
                TField &namecd = FlatTable1->FieldByName("Namecd");
                FlatTable1->First();
                while (!FlatTable1->Eof()) {
                    if (namecd.AsString() == oldDisc)
                        FlatTable1->Delete();
                    else
                        FlatTable1->Next();
                }
            });
        }
        if (scan.RecordCount() > 0) {
            if (Scan.Audio && !Scan.CddbTitle.empty()) {
                // In an update the records keep the disc's own name, so they
                // stay joined to its disc record and tree node.
                const std::string title = mode == 1 ? oldDisc : UniqueTitle(Scan.CddbTitle);
                TField &namecd = scan.FieldByName("Namecd");
                TField &name = scan.FieldByName("Name");
                int i = 0;
                for (scan.First(); !scan.Eof(); scan.Next(), ++i) {
                    scan.Edit();
                    namecd.SetAsString(title);
                    scan.FieldByName("FType").SetAsInteger(2);
                    scan.FieldByName("LoadName").SetAsString(name.AsString());
                    // Tracks past the end of a short title list, or without a title, keep their file names.
                    if (static_cast<size_t>(i) < Scan.TrackTitles.size() && !Scan.TrackTitles[static_cast<size_t>(i)].empty())
                        name.SetAsString(Scan.TrackTitles[static_cast<size_t>(i)]);
                    scan.FieldByName("MusicOrder").SetAsInteger(i);
                    scan.Post();
                }
                Scan.CddbTitle.clear();
            }
            scan.First();
            written = scan.FieldByName("Namecd").AsString();
            const std::string number = scan.FieldByName("Number").AsString();
            // Moved, not copied: the scan's records give way as the file table
            // takes them, so memory never holds the disc twice.
            scan.MoveToDataSet(*FlatTable1);
            if (mode == 0) {
                CdNameTable->Append();
                CdNameTable->FieldByName("CdName").SetAsString(written);
                CdNameTable->FieldByName("Number").SetAsString(number);
                CdNameTable->FieldByName("CdSize").SetAsString(sizeText);
                CdNameTable->FieldByName("CdIdCode").SetAsString(Scan.VolumeSerial);
                CdNameTable->FieldByName("CType").SetAsInteger(kind);
                if (!Scan.CddbNote.empty())
                    CdNameTable->FieldByName("CdNote").SetAsString(Scan.CddbNote);
                CdNameTable->Post();
            } else {
                // The disc record follows what the drive holds now.
                TField &cdName = CdNameTable->FieldByName("CdName");
                for (CdNameTable->First(); !CdNameTable->Eof(); CdNameTable->Next()) {
                    if (cdName.AsString() == oldDisc) {
                        CdNameTable->Edit();
                        CdNameTable->FieldByName("CdSize").SetAsString(sizeText);
                        CdNameTable->FieldByName("CdIdCode").SetAsString(Scan.VolumeSerial);
                        CdNameTable->FieldByName("CType").SetAsInteger(kind);
                        CdNameTable->Post();
                        break;
                    }
                }
            }
            CdNameTable->Save();
        }
        FlatTable1->Save();
        std::vector<TTreeRecord> nodes;
        std::error_code exists;
        if (mode == 0 && !written.empty() && std::filesystem::exists(TreeFilePath, exists) &&
            ReadTreeFile(TreeFilePath, nodes)) {
            nodes.push_back(TTreeRecord{0, written, 0, 1, NodeKindDisc});
            commit.AddTree(TreeFilePath, nodes);
        }
        commit.Commit();
    } catch (const ECommitUnfinished &) {
        throw; // the change stands and is completed at the next open
    } catch (...) {
        // Nothing half-written: the commit changed no file, and the tables in
        // memory go back to what the files hold (an updated disc keeps its old
        // records and values), so no later save writes a disc record without its
        // files, files without their disc or half an update.
        try {
            for (TDataSet *t : {static_cast<TDataSet *>(FlatTable1.get()), static_cast<TDataSet *>(CdNameTable.get())})
                if (t->State() == dsEdit || t->State() == dsInsert)
                    t->Cancel();
            // The records the file table took come back to the scan, as stored
            // there, so a retry stores the same: they are the last ones of the
            // disc's name (appended at the end).
            if (scan.MovedCount() > 0)
                Unfiltered(*FlatTable1, [&] {
                    TField &namecd = FlatTable1->FieldByName("Namecd");
                    int left = scan.MovedCount();
                    for (FlatTable1->Last(); !FlatTable1->IsEmpty();) {
                        if (namecd.AsString() == written && --left == 0)
                            break;
                        FlatTable1->Prior();
                        if (FlatTable1->Bof())
                            break;
                    }
                    scan.TakeBack(*FlatTable1, [&] { return namecd.AsString() == written; });
                });
            for (TFlatTable *t : {FlatTable1.get(), CdNameTable.get()})
                t->CancelChanges();
        } catch (...) {
        }
        throw;
    }

    if (!written.empty()) {
        LoadTree();
        Scan.CddbNote.clear();
        QTreeWidget *tree = ui->TreeView1;
        scan.EmptyTable();
        QTreeWidgetItem *target = DiscNodeNamed(tree, ToQString(mode == 0 ? written : oldDisc));
        if (!target && tree->topLevelItemCount() > 0)
            target = tree->topLevelItem(tree->topLevelItemCount() - 1);
        if (target) {
            if (mode == 1)
                Browse.LoadedDisc.clear(); // the work table of this disc is stale
            tree->setCurrentItem(target);
            tree->setFocus();
            emit tree->itemClicked(target, 0);
        }
    }
    Scan.Clear();
    ScanSession.Clear(); // keeps the progress step
    Browse.SelectedSerial.assign(1, '0');
}

void TMainForm::StatusBar1DrawPanel(TStatusBarCont *bar, int panel, const QRect &rect, QPainter &canvas)
{
    const QFont font = StatusPanelFont(panel);
    canvas.setFont(font);
    canvas.save();
    canvas.setClipRect(rect);
    const QRect textRect = rect.adjusted(2, 2, 0, 0);
    canvas.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, bar->Panel(panel).Text);
    canvas.restore();
}
