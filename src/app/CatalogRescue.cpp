#include "app/CatalogRescue.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "storage/FlatTbl.h"
#include "util/BaseFileUtils.h"

namespace fs = std::filesystem;

TTableCheck CheckTableFile(const std::string &file)
{
    TTableCheck check;
    check.file = file;
    std::error_code ec;
    check.exists = fs::exists(file, ec);
    if (!check.exists) {
        check.reason = "the file does not exist";
        return check;
    }
    if (!fs::is_regular_file(file, ec)) {
        check.reason = "it is not a file";
        return check;
    }
    try {
        TFlatTable t;
        t.SetTableName(file);
        t.ReadOnly = true;
        t.Open();
        check.records = t.RecordCount();
        t.Close();
        check.readable = true;
    } catch (const std::exception &e) {
        check.reason = e.what();
        if (fs::file_size(file, ec) == 0 && !ec)
            check.reason = "the file is empty (0 bytes); " + check.reason;
    }
    return check;
}

std::string BackupPathOf(const std::string &file)
{
    fs::path p(file);
    p.replace_extension(".~d");
    return p.string();
}

bool BackupReadable(const std::string &file, std::string *reason)
{
    const TTableCheck check = CheckTableFile(BackupPathOf(file));
    if (reason)
        *reason = check.reason;
    return check.readable;
}

std::string DamagedKeepName(const std::string &file)
{
    std::error_code ec;
    for (int i = 1;; ++i) {
        const std::string name = file + ".damaged" + (i == 1 ? std::string() : std::to_string(i));
        if (!fs::exists(fs::symlink_status(name, ec)))
            return name;
    }
}

bool RestoreTableFromBackup(const std::string &file, std::string *keptAs, std::string *error)
{
    auto fail = [error](const std::string &text) {
        if (error)
            *error = text;
        return false;
    };
    const std::string backup = BackupPathOf(file);
    std::string why;
    if (!BackupReadable(file, &why))
        return fail("The backup " + backup + " cannot be used: " + why);
    std::ifstream in(backup, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return fail("The backup " + backup + " cannot be read.");
    std::error_code ec;
    std::string kept;
    if (fs::exists(fs::symlink_status(file, ec))) {
        kept = DamagedKeepName(file);
        // A hard link first, so the damaged file is never replaced, then the old name goes.
        fs::create_hard_link(file, kept, ec);
        if (ec) {
            ec.clear();
            if (fs::exists(fs::symlink_status(kept, ec)))
                return fail("Cannot keep the damaged file " + file + " as " + kept + ": the name is taken.");
            fs::rename(file, kept, ec);
            if (ec)
                return fail("Cannot keep the damaged file " + file + " as " + kept + ": " + ec.message());
        } else {
            fs::remove(file, ec);
            if (ec) {
                std::error_code ignore;
                fs::remove(kept, ignore);
                return fail("Cannot move the damaged file " + file + " aside: " + ec.message());
            }
        }
    }
    std::string reason;
    if (!WriteFileAtomically(file, bytes, reason)) {
        if (!kept.empty()) {
            std::error_code ignore;
            fs::rename(kept, file, ignore);
        }
        return fail("Cannot write " + file + " from its backup: " + reason);
    }
    if (keptAs)
        *keptAs = kept;
    return true;
}

std::unique_ptr<TFlatTable> OpenTableReadOnly(const std::string &file, const std::vector<TFieldLayout> &layout,
                                              std::string *partialError, std::string *error)
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
        }
        t->ReadOnly = true;
        t->Open();
    } catch (const std::exception &e) {
        // Not even the field list reads (an empty or cut header): nothing of
        // it can be shown, so it is looked at as an empty table of its layout.
        auto empty = std::make_unique<TFlatTable>();
        try {
            empty->SetLoadMode(lmClear);
            AddFieldDefs(*empty, layout);
            empty->ReadOnly = true;
            empty->Open();
        } catch (const std::exception &) {
            if (error)
                *error = file + ": " + e.what();
            return nullptr;
        }
        if (partialError)
            *partialError = e.what();
        return empty;
    }
    if (partialError && t->Cursor())
        *partialError = t->Cursor()->PartialError;
    return t;
}
