#pragma once
// What the program does with a catalogue table that cannot be opened: tell
// which file and why, find out whether its ".~d" backup reads, put the backup
// in its place without losing the damaged file, and open what can be read for
// looking only. Plain table code, usable without a window.
#include <memory>
#include <string>
#include <vector>

#include "app/catalog/CatalogTables.h"

class TFlatTable;

struct TTableCheck {
    std::string file;
    bool exists = false;
    bool readable = false; // opens whole
    int records = 0;       // when readable
    std::string reason;    // why it does not (empty when readable)
};

// Reads the table file whole, changing nothing on disc. With `kind`, a table
// that reads but is not a table of that kind (CatalogLayoutProblem: a zeroed or
// garbled header) counts as unreadable too. Reasons are in the current language.
TTableCheck CheckTableFile(const std::string &file, const TOpenTableOptions *kind = nullptr);

// The backup the engine keeps of `file` (its extension replaced by ".~d").
std::string BackupPathOf(const std::string &file);
// True when the backup of `file` exists and opens whole (as a table of `kind`,
// when given); else the reason.
bool BackupReadable(const std::string &file, std::string *reason = nullptr, const TOpenTableOptions *kind = nullptr);

// A name beside `file` that nothing has yet: file + ".damaged", then
// ".damaged2", ... It never ends in ".d", so it is not taken for a catalogue.
std::string DamagedKeepName(const std::string &file);

// Puts the readable backup of `file` in its place. The damaged file (when
// there is one) is renamed to DamagedKeepName, byte for byte as it was, never
// written over; the backup is copied through a temporary file that is flushed
// and renamed, and stays where it is. On failure everything is put back as it
// was, and when even that fails, `error` says where each file is now.
bool RestoreTableFromBackup(const std::string &file, std::string *keptAs, std::string *error,
                            const TOpenTableOptions *kind = nullptr);

// Opens what can be read of `file` for looking only: the records before the
// damage, in a table that refuses every change. A missing file gives an empty
// table of `layout`, and so does one of which not even the field list reads.
// `partialError` gets the reading error when records were lost (nothing is
// shown to the user here). A table that reads but is not of `kind` (when
// given) is looked at as an empty table of `layout` too. Null (with the reason
// in `error`) only when no table can be made at all.
std::unique_ptr<TFlatTable> OpenTableReadOnly(const std::string &file, const std::vector<TFieldLayout> &layout,
                                              std::string *partialError, std::string *error,
                                              const TOpenTableOptions *kind = nullptr);
