// The open catalogue's tables: opening, creating, switching and closing.
#include "app/Main.h"

#include <QComboBox>
#include <QTreeWidget>

#include <filesystem>

#include "app/LangUnit.h"
#include "app/catalog/CatalogTables.h"
#include "cdaudio/Cddb.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "storage/FlatTbl.h"
#include "util/FileCommit.h"
#include "ui_MainForm.h"

TMainForm::~TMainForm()
{
    CloseTables();
    ClearTreeView(ui->TreeView1);
    delete ui;
}

std::string TMainForm::FileTablePath(const std::string &folder, const std::string &name) const
{
    return folder + "/" + name + ".d";
}

std::string TMainForm::DiscTablePath(const std::string &folder, const std::string &name) const
{
    return folder + "/CdNames/" + name + "_cdname.d";
}

std::string TMainForm::TreePathFor(const std::string &folder, const std::string &name) const
{
    return folder + "/CdNames/" + name + "_cdname" + ".dat";
}

std::string TMainForm::CheckCatalogName(const std::string &name)
{
    bool bad = name.empty() || name == "." || name == ".." || name.size() > 200 || name.front() == ' ' ||
               name.back() == ' ';
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            bad = true;
    if (!bad)
        return {};
    switch (langunit::CurrentLanguage()) {
    case langunit::LangEnglish:
        return "Enter an archive name that can be a file name: not empty, at most 200 characters, without "
               "/ \\ : * ? \" < > | or control characters, not \".\" or \"..\", and without blanks at its start "
               "or end.";
    case langunit::LangCzech:
        return "Zadejte název archivu, který může být názvem souboru: ne prázdný, nejvýše 200 znaků, bez znaků "
               "/ \\ : * ? \" < > | a řídicích znaků, ne \".\" ani \"..\", a bez mezer na začátku a na konci.";
    default:
        return "Zadajte názov archívu, ktorý môže byť názvom súboru: nie prázdny, najviac 200 znakov, bez "
               "znakov / \\ : * ? \" < > | a riadiacich znakov, nie \".\" ani \"..\", a bez medzier na začiatku "
               "a na konci.";
    }
}

bool TMainForm::HasCatalog() const
{
    return FlatTable1 && FlatTable1->Active() && CdNameTable && CdNameTable->Active();
}

void TMainForm::CloseTables()
{
    const bool wasOpen = FlatTable1 || CdNameTable;
    CurrentTable = nullptr;
    DataSource1.reset();
    DataSource2.reset();
    FlatTable1.reset();
    CdNameTable.reset();
    if (wasOpen)
        emit CatalogChanged();
}

namespace {

// A catalogue neither of whose tables exists is made whole: both empty tables
// are written and put in place by one commit, so that a stop at any point
// leaves both of them or neither. True when they were made; false when either
// table exists already (or a change left unfinished beside them cannot be
// finished: the open that follows says why). Raises EDatabaseError when the
// tables cannot be written; nothing is then made.
bool CreateCatalogTables(const std::string &filePath, const std::string &discPath)
{
    // A change cut off between its files may be the one that makes (or
    // removes) a table: it is finished before the tables are looked for. (Both
    // tables' changes lie in the journal of the catalogue's one folder.)
    std::string unfinished;
    if (!FinishFileCommitsAndReport(filePath, unfinished))
        return false;
    // Made only where nothing of either name is (a symlink, even a dangling
    // one, is something), and not when the folder cannot be looked at.
    const auto missing = [](const std::string &f) {
        std::error_code ec;
        return std::filesystem::symlink_status(f, ec).type() == std::filesystem::file_type::not_found;
    };
    if (!missing(filePath) || !missing(discPath))
        return false;
    TFileCommit commit;
    CreateEmptyTable(filePath, FileTableLayout(), &commit);
    CreateEmptyTable(discPath, DiscTableLayout(), &commit);
    std::string error;
    if (CommitAndReport(commit, error))
        return true;
    // Once its journal is written the change stands and is completed at the
    // next open; until then nothing was made.
    throw EDatabaseError(error);
}

} // namespace

bool TMainForm::OpenCatalog(const std::string &folder, const std::string &name, std::string *error)
{
    const std::string problem = CheckCatalogName(name);
    if (!problem.empty()) {
        if (error)
            *error = problem;
        return false;
    }
    const std::string filePath = FileTablePath(folder, name);
    const std::string discPath = DiscTablePath(folder, name);
    std::vector<std::string> made; // files this attempt created, removed again on failure
    TOpenTableResult files, discs;
    const std::string *opening = &filePath; // the file named in a failure
    try {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(folder) / "CdNames", ec);
        if (CreateCatalogTables(filePath, discPath)) {
            made.push_back(filePath);
            made.push_back(discPath);
        }
        TOpenTableOptions fileOptions = FileTableOpenOptions(Settings[13] == 1);
        fileOptions.beforeConversion = [] {
            Prompt::Current().Show(ToQString(langunit::LangString(137)), QString(), PromptButtons::Ok);
        };
        fileOptions.afterConversion = [] {
            Prompt::Current().Show(QStringLiteral("Konverzia ukončená"), QString(), PromptButtons::Ok);
        };
        // Nothing is changed (a conversion, stale temporary files) until both tables
        // are known to open: a damaged one must leave the other untouched too.
        fileOptions.deferConversion = true;
        files = OpenCatalogTable(filePath, FileTableLayout(), fileOptions);
        if (files.created)
            made.push_back(filePath);
        TOpenTableOptions discOptions = DiscTableOpenOptions(Settings[13] == 1);
        discOptions.deferConversion = true;
        opening = &discPath;
        discs = OpenCatalogTable(discPath, DiscTableLayout(), discOptions);
        if (discs.created)
            made.push_back(discPath);
        opening = &filePath;
        FinishCatalogTable(filePath, FileTableLayout(), fileOptions, files);
        opening = &discPath;
        FinishCatalogTable(discPath, DiscTableLayout(), discOptions, discs);
    } catch (const std::exception &e) {
        files.table.reset();
        discs.table.reset();
        // What this attempt made goes again, as one change like its making.
        TFileCommit undo;
        for (const std::string &f : made)
            undo.Remove(f);
        std::string ignored;
        undo.Commit(ignored);
        // The file is named once: some errors name it already.
        const std::string text = e.what();
        if (error)
            *error = text.find(*opening) == std::string::npos ? *opening + ": " + text : text;
        return false;
    }
    InstallTables(std::move(files.table), std::move(discs.table), folder, name, false);
    return true;
}

void TMainForm::InstallTables(std::unique_ptr<TFlatTable> files, std::unique_ptr<TFlatTable> discs,
                              const std::string &folder, const std::string &name, bool readOnly)
{
    // Both tables of the new catalogue are open: now the old ones can go.
    CloseTables();
    FlatTable1 = std::move(files);
    CdNameTable = std::move(discs);
    DataSource1 = std::make_unique<TDataSource>(FlatTable1.get());
    DataSource2 = std::make_unique<TDataSource>(CdNameTable.get());
    CurrentTable = FlatTable1.get();
    CatalogFolder = folder;
    CatalogName = name;
    TreeFilePath = TreePathFor(folder, name);
    ReadOnlyCatalog = readOnly;
}

std::vector<std::string> TMainForm::DiscNames() const
{
    std::vector<std::string> names;
    if (!CdNameTable || !CdNameTable->Active())
        return names;
    TField &field = CdNameTable->FieldByName("CdName");
    for (CdNameTable->First(); !CdNameTable->Eof(); CdNameTable->Next())
        names.push_back(field.AsString());
    CdNameTable->First();
    return names;
}

std::string TMainForm::FirstDiscSize() const
{
    if (!CdNameTable || !CdNameTable->Active())
        return {};
    CdNameTable->First();
    return CdNameTable->Eof() ? std::string() : CdNameTable->FieldByName("CdSize").AsString();
}

int TMainForm::FileRecordCount() const
{
    return FlatTable1 && FlatTable1->Active() ? FlatTable1->RecordCount() : 0;
}

void TMainForm::ShowCatalogView()
{
    if (FileRecordCount() < 1) {
        // A catalogue without files (one just made, or opened) shows no
        // disc: nothing of the catalogue shown before may stay in the status
        // bar, the information panel or the path box.
        ShowEmptyCatalogView();
        return;
    }
    LoadTree();
    QTreeWidget *tree = ui->TreeView1;
    QTreeWidgetItem *first = tree->topLevelItemCount() > 0 ? tree->topLevelItem(0) : nullptr;
    if (first) {
        tree->setCurrentItem(first);
        tree->setFocus();
    }
    if (!first || TreeNodeKind(first) != NodeKindDisc) {
        // A group first: it opens no disc, so neither the disc shown before
        // (of the catalogue left, or of this one before a restore) nor the
        // drive of some record may stay in the list, the panels or the path box.
        ShowNoDiscOpen();
        ui->CDImage->clear();
        return;
    }
    Browse.CurrentDisc = FromQString(first->text(0));
    // The drive of the current record's path is where browsing starts.
    const std::string path = FlatTable1->FieldByName("Path").AsString();
    Browse.CurrentPath = path.substr(0, std::min<size_t>(2, path.size())) + "\\";
    const QString drive = ToQString(Browse.CurrentPath);
    if (ui->ComboBox1->findText(drive) < 0)
        ui->ComboBox1->addItem(drive);
    ui->ComboBox1->setCurrentIndex(ui->ComboBox1->findText(drive));
    // The first disc is opened as a click on its node would: work table, list
    // and panel. A catalogue just opened has no loaded disc yet.
    Browse.LoadedDisc.clear();
    TreeView1Click();
}
