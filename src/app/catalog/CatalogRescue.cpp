#include "app/catalog/CatalogRescue.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <cstring>

#include "app/Texts3.h"
#include "storage/FlatTbl.h"
#include "util/BaseFileUtils.h"

namespace fs = std::filesystem;

TTableCheck CheckTableFile(const std::string &file, const TOpenTableOptions *kind)
{
    TTableCheck check;
    check.file = file;
    std::error_code ec;
    check.exists = fs::exists(file, ec);
    if (!check.exists) {
        check.reason = Text3("the file does not exist", "súbor neexistuje", "soubor neexistuje");
        return check;
    }
    if (!fs::is_regular_file(file, ec)) {
        check.reason = Text3("it is not a file", "nie je to súbor", "není to soubor");
        return check;
    }
    try {
        TFlatTable t;
        t.SetTableName(file);
        t.ReadOnly = true;
        t.Open();
        check.records = t.RecordCount();
        check.reason = kind ? CatalogLayoutProblem(t, *kind) : std::string();
        t.Close();
        check.readable = check.reason.empty();
    } catch (const EFlatFileError &e) {
        // The engine's message, with the reason when it does not hold it already.
        check.reason = e.what();
        if (check.reason.find(e.Reason) == std::string::npos)
            check.reason += ": " + e.Reason;
    } catch (const std::exception &e) {
        check.reason = e.what();
    }
    if (!check.readable && fs::file_size(file, ec) == 0 && !ec)
        check.reason = Text3("the file is empty (0 bytes); ", "súbor je prázdny (0 bajtov); ",
                             "soubor je prázdný (0 bajtů); ") +
                       check.reason;
    return check;
}

std::string BackupPathOf(const std::string &file)
{
    fs::path p(file);
    p.replace_extension(".~d");
    return p.string();
}

bool BackupReadable(const std::string &file, std::string *reason, const TOpenTableOptions *kind)
{
    const TTableCheck check = CheckTableFile(BackupPathOf(file), kind);
    if (reason)
        *reason = check.reason;
    return check.readable;
}

std::string DamagedKeepName(const std::string &file)
{
    return FreeNameBeside(file, ".damaged");
}

bool RestoreTableFromBackup(const std::string &file, std::string *keptAs, std::string *error,
                            const TOpenTableOptions *kind)
{
    auto fail = [error](const std::string &text) {
        if (error)
            *error = text;
        return false;
    };
    const std::string backup = BackupPathOf(file);
    std::string why;
    if (!BackupReadable(file, &why, kind))
        return fail(Text3("The backup " + backup + " cannot be used: ", "Zálohu " + backup + " nemožno použiť: ",
                          "Zálohu " + backup + " nelze použít: ") +
                    why);
    std::ifstream in(backup, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return fail(Text3("The backup " + backup + " cannot be read.", "Zálohu " + backup + " nemožno prečítať.",
                          "Zálohu " + backup + " nelze přečíst."));
    std::error_code ec;
    std::string kept;
    if (fs::exists(fs::symlink_status(file, ec))) {
        kept = DamagedKeepName(file);
        const std::string cannotKeep = Text3("Cannot keep the damaged file " + file + " as " + kept + ": ",
                                             "Poškodený súbor " + file + " sa nedá uschovať ako " + kept + ": ",
                                             "Poškozený soubor " + file + " nelze uschovat jako " + kept + ": ");
        // A hard link first, so the damaged file is never replaced, then the old name goes.
        fs::create_hard_link(file, kept, ec);
        if (ec) {
            ec.clear();
            if (fs::exists(fs::symlink_status(kept, ec)))
                return fail(cannotKeep + Text3("the name is taken.", "názov je obsadený.", "název je obsazen."));
            if (const int err = RenameFile(file, kept))
                return fail(cannotKeep + std::strerror(err));
        } else {
            fs::remove(file, ec);
            if (ec) {
                const std::string reason = ec.message();
                std::error_code ignore;
                fs::remove(kept, ignore);
                return fail(Text3("Cannot move the damaged file " + file + " aside: ",
                                  "Poškodený súbor " + file + " sa nedá odsunúť: ",
                                  "Poškozený soubor " + file + " nelze odsunout: ") +
                            reason + (ignore ? Text3(". It is also " + kept + ".", ". Je aj ako " + kept + ".",
                                                     ". Je také jako " + kept + ".")
                                             : std::string()));
            }
        }
    }
    std::string reason;
    if (!WriteFileAtomically(file, bytes, reason)) {
        std::string now = Text3(" The files are as they were.", " Súbory sú také, aké boli.",
                                " Soubory jsou takové, jaké byly.");
        if (!kept.empty()) {
            if (const int err = RenameFile(kept, file))
                // The damaged file is only under the name it was to be kept as.
                now = Text3(" The damaged file could not be put back (" + std::string(std::strerror(err)) +
                                "): it is now " + kept + ", and " + file + " does not exist.",
                            " Poškodený súbor sa nedal vrátiť (" + std::string(std::strerror(err)) + "): teraz je to " +
                                kept + " a " + file + " neexistuje.",
                            " Poškozený soubor nešlo vrátit (" + std::string(std::strerror(err)) + "): nyní je to " +
                                kept + " a " + file + " neexistuje.");
        }
        return fail(Text3("Cannot write " + file + " from its backup: ", "Súbor " + file + " sa nedá zapísať zo zálohy: ",
                          "Soubor " + file + " nelze zapsat ze zálohy: ") +
                    reason + now);
    }
    if (keptAs)
        *keptAs = kept;
    return true;
}

std::unique_ptr<TFlatTable> OpenTableReadOnly(const std::string &file, const std::vector<TFieldLayout> &layout,
                                              std::string *partialError, std::string *error,
                                              const TOpenTableOptions *kind)
{
    auto t = std::make_unique<TFlatTable>();
    std::error_code ec;
    try {
        if (!fs::exists(file, ec)) {
            // Nothing to read: an empty table that lives in memory only.
            t->SetLoadMode(lmClear);
            AddFieldDefs(*t, layout);
        } else {
            t->SetTableName(file);
            t->PartialOpen = true;
            // The caller tells what was lost, naming the file, in the user's language.
            t->PartialNotice = false;
        }
        t->ReadOnly = true;
        t->Open();
        if (kind) {
            const std::string problem = CatalogLayoutProblem(*t, *kind);
            if (!problem.empty())
                throw EDatabaseError(problem);
        }
    } catch (const std::exception &e) {
        // Not even the field list reads (an empty or cut header), or it is not
        // this table's: nothing of it can be shown, so it is looked at as an
        // empty table of its layout.
        const auto *fileError = dynamic_cast<const EFlatFileError *>(&e);
        const std::string reason = fileError && !fileError->Reason.empty() ? fileError->Reason : e.what();
        auto empty = std::make_unique<TFlatTable>();
        try {
            empty->SetLoadMode(lmClear);
            AddFieldDefs(*empty, layout);
            empty->ReadOnly = true;
            empty->Open();
        } catch (const std::exception &) {
            if (error)
                *error = file + ": " + reason;
            return nullptr;
        }
        if (partialError)
            *partialError = reason;
        return empty;
    }
    if (partialError && t->Cursor())
        *partialError = t->Cursor()->PartialError;
    return t;
}
