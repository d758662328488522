// Backup and restore: the automatic ".~d" backup switch, restoring a
// catalogue's two tables from their backups, and dropping the tree file.
#include "app/Main.h"

#include <QAction>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <cstring>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/catalog/CatalogRescue.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"

namespace fs = std::filesystem;

namespace {

bool ReadWholeFile(const std::string &fileName, std::string &bytes, std::string &error)
{
    std::ifstream in(fileName, std::ios::binary);
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        error = fileName + Text3(": cannot be read", ": nedá sa prečítať", ": nelze přečíst");
        return false;
    }
    return true;
}

void RemoveQuietly(const std::string &fileName)
{
    std::error_code ec;
    fs::remove(fileName, ec);
}

bool SameFolder(const std::string &a, const std::string &b)
{
    std::error_code ec;
    return a == b || fs::equivalent(a, b, ec);
}

} // namespace

void TMainForm::BackupCreateMenuClick()
{
    // The action has already switched its check mark; the setting follows it
    // and applies to the tables opened from now on.
    Settings[13] = ui->BackupCreateMenu->isChecked() ? 1 : 0;
}

bool TMainForm::RestoreCatalog(const std::string &name, std::string *error, std::vector<std::string> *keptDamaged)
{
    std::string reason;
    auto fail = [&](const std::string &text) {
        if (error)
            *error = text;
        return false;
    };
    if (!CheckCatalogName(name).empty())
        return fail(CheckCatalogName(name));
    const std::string tables[2] = {FileTablePath(DataFolder, name), DiscTablePath(DataFolder, name)};
    const std::string backups[2] = {BackupPathOf(tables[0]), BackupPathOf(tables[1])};
    std::error_code ec;
    if (!fs::exists(backups[0], ec))
        return fail(std::string()); // no backup of the file table at all
    if (!fs::exists(backups[1], ec))
        return fail(langunit::LangString(134) + backups[1]);

    // Both backups must be readable tables of their kind before anything is touched.
    const TOpenTableOptions kinds[2] = {FileTableOpenOptions(false), DiscTableOpenOptions(false)};
    std::string bytes[2];
    for (int i = 0; i < 2; ++i) {
        const TTableCheck check = CheckTableFile(backups[i], &kinds[i]);
        if (!check.readable)
            return fail(backups[i] + ": " + check.reason);
        if (!ReadWholeFile(backups[i], bytes[i], reason))
            return fail(reason);
    }

    // A table that cannot be read is kept under a name of its own: it may hold
    // records the backup has not. (Opening a table clears stale temporary files
    // beside it, so every check comes before the copies are made.)
    std::vector<std::string> kept;
    auto undoKept = [&] {
        for (const std::string &k : kept)
            RemoveQuietly(k);
    };
    for (int i = 0; i < 2; ++i) {
        const TTableCheck check = CheckTableFile(tables[i], &kinds[i]);
        if (!check.exists || check.readable)
            continue;
        const std::string keep = DamagedKeepName(tables[i]);
        fs::create_hard_link(tables[i], keep, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(tables[i], keep, ec);
        }
        if (ec) {
            undoKept();
            return fail(tables[i] + Text3(": cannot be kept as ", ": nedá sa uschovať ako ", ": nelze uschovat jako ") +
                        keep + ": " + ec.message());
        }
        kept.push_back(keep);
    }
    // Both backups are written beside the tables (flushed, with the tables'
    // permissions) and put in place as one commit: a stop at any point leaves
    // both tables as they were or both restored.
    TFileCommit commit;
    for (int i = 0; i < 2; ++i) {
        if (!commit.AddBytes(tables[i], bytes[i], reason)) {
            commit.Discard();
            undoKept();
            return fail(tables[i] + ": " + reason);
        }
    }
    const bool isOpen = name == CatalogName && SameFolder(CatalogFolder, DataFolder);
    if (!CommitAndReport(commit, reason)) {
        if (commit.Committed()) {
            // Made, and the tables are in place at the next open: the open
            // catalogue is read again now (which finishes it), so the window
            // never keeps, and later saves, the tables as they were before.
            if (isOpen) {
                std::string openError;
                if (OpenCatalog(DataFolder, name, &openError)) {
                    ForgetCatalogViews();
                    FormShow();
                } else {
                    reason += "\n" + openError;
                }
            }
            return fail(reason);
        }
        undoKept();
        return fail(reason + Text3(" Both tables are as they were.", " Obe tabuľky sú také, aké boli.",
                                   " Obě tabulky jsou takové, jaké byly."));
    }
    if (keptDamaged)
        *keptDamaged = kept;

    // The open catalogue is read again from the restored files.
    if (isOpen) {
        std::string openError;
        if (!OpenCatalog(DataFolder, name, &openError))
            return fail(openError);
    }
    return true;
}

void TMainForm::RecoverDatabaseMenuClick()
{
    if (Prompt::Current().Show(L(136), L(34), PromptButtons::YesNo, PromptIcon::Question, PromptResult::No) !=
        PromptResult::Yes)
        return;
    const std::string chosen = ChooseCatalogFile();
    if (chosen.empty())
        return;
    // Whatever folder the file came from, the catalogue of that name in the
    // data folder is restored.
    const std::string name = fs::path(chosen).stem().string();
    std::string error;
    std::vector<std::string> kept;
    if (RestoreCatalog(name, &error, &kept)) {
        if (!kept.empty()) {
            std::string text = Text3("Restored from the backup. The damaged files are kept:",
                                     "Obnovené zo zálohy. Poškodené súbory sú uschované:",
                                     "Obnoveno ze zálohy. Poškozené soubory jsou uschovány:");
            for (const std::string &k : kept)
                text += "\n" + k;
            Prompt::Current().Show(ToQString(text), QString(), PromptButtons::Ok, PromptIcon::Information);
        }
        // The views are built anew; a restored catalogue may have no discs at
        // all, and the show handler leaves the views of an empty one alone.
        ForgetCatalogViews();
        FormShow();
        return;
    }
    if (error.empty())
        Prompt::Current().Show(L(134));
    else
        ShowError(error);
}

void TMainForm::RecoverTreeSetupMenuClick()
{
    // A catalogue open read-only keeps its tree file too.
    if (!CatalogWritable())
        return;
    if (Prompt::Current().Show(L(135), L(34), PromptButtons::YesNo, PromptIcon::Question, PromptResult::No) !=
        PromptResult::Yes)
        return;
    std::error_code ec;
    if (!TreeFilePath.empty() && fs::remove(TreeFilePath, ec) == false && ec) {
        ShowError(TreeFilePath + ": " + ec.message());
        return;
    }
    FormShow();
}
