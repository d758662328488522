#pragma once
// The catalogue's table layouts and the openers that create a missing table or
// convert one of an older layout. Plain table code, usable without a window.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/DataSet.h"

class TFlatTable;
#include "storage/ExMemDS.h"

struct TFieldLayout {
    const char *name;
    TFieldType type;
    int size; // characters of a string field, else 0
};

// The file table: 15 fields in this order.
const std::vector<TFieldLayout> &FileTableLayout();
// The disc table: 7 fields in this order.
const std::vector<TFieldLayout> &DiscTableLayout();
// The in-memory scan table: the same 15 names in an order and sizes of its own.
const std::vector<TFieldLayout> &ScanTableLayout();

void AddFieldDefs(TDataSet &table, const std::vector<TFieldLayout> &layout);

class TFileCommit;
// TFileCommit::Commit of `commit`, and FinishFileCommitsFor of `file`, telling
// the user (each thing once in a session) what finishing a journal met: one put
// aside, or one left alone with its files.
bool CommitAndReport(TFileCommit &commit, std::string &error);
bool FinishFileCommitsAndReport(const std::string &file, std::string &error);

// Writes an empty table of `layout` as `fileName`: at once, or, with a
// commit, for the commit to put in place with the other files of its change.
// Raises EDatabaseError on failure.
void CreateEmptyTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                      TFileCommit *commit = nullptr);

// The main window's scan buffer: an in-memory table of the scan layout with
// room for 250 records before it grows; closed.
std::unique_ptr<TExMemoryData> MakeScanTable();

struct TOpenTableOptions {
    bool autoBackup = false;                  // keep a ".~d" copy when the table is saved
    std::vector<std::string> requiredFields;  // missing ones make the opener convert the file
    // The fields every table of this kind holds, the older layout's too. A table
    // without them (a zeroed or garbled header reads as a table of no or other
    // fields) is damaged: it is never converted.
    std::vector<std::string> olderLayoutFields;
    // Change nothing on the disk yet: a table of the older layout stays open as
    // it is (needsConversion set), and neither it is converted nor are stale
    // temporary files beside it removed until FinishCatalogTable is called. A
    // catalogue changes its tables only once all of them are known to open.
    bool deferConversion = false;
    // Called before a conversion starts and after it ends (messages to the user).
    std::function<void()> beforeConversion;
    std::function<void()> afterConversion;
};

// The options a catalogue's file table and disc table open with: the fields whose
// absence marks an older layout to convert, and the backup setting.
TOpenTableOptions FileTableOpenOptions(bool autoBackup);
TOpenTableOptions DiscTableOpenOptions(bool autoBackup);

struct TOpenTableResult {
    std::unique_ptr<TFlatTable> table;
    bool created = false;         // the file did not exist and was made
    bool converted = false;       // the file had an older layout and was rewritten
    bool needsConversion = false; // deferred: the table is open in its older layout
    std::string keptAs;           // where the file of the older layout was kept
};

// Empty when the open table `t` is a table of this kind (of the current or the
// older layout); otherwise why not, in the current language.
std::string CatalogLayoutProblem(const TFlatTable &t, const TOpenTableOptions &options);

// A name beside `file` that nothing has yet: file + suffix, then file + suffix
// + "2", ... With a suffix that does not end in ".d" it is never taken for a
// catalogue.
std::string FreeNameBeside(const std::string &file, const std::string &suffix);

// Opens the table file `fileName`, creating it (empty, with `layout`) when it
// is missing. When the opened table is of the older layout (it lacks one of
// the required fields but holds the older layout's), that very file is
// converted: the file is first kept as it is beside it (FreeNameBeside with
// ".old-layout"), then its records are copied into a table of `layout`,
// written to a temporary file beside it and renamed over it, and opened again.
// Any other table that lacks a required field is damaged and raises an error
// that names the file, leaving it untouched. Raises EDatabaseError (or
// std::exception) on failure; a failed conversion leaves the file as it was.
TOpenTableResult OpenCatalogTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                                  const TOpenTableOptions &options);

// What OpenCatalogTable deferred: the stale temporary files beside the table
// are removed, and a table left in its older layout is converted.
void FinishCatalogTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                         const TOpenTableOptions &options, TOpenTableResult &result);
