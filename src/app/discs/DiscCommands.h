#pragma once
// The disc commands at table level: delete, rename and move a disc in the
// three places that share its name (disc record, file records, tree node).
// Each command is all or nothing: the changed tables and tree files are saved
// as one commit (see util/FileCommit.h), so that even a crash leaves every
// file old or every file new; when the commit cannot be made, the tables in
// memory are put back as they were and no file has changed.
#include <string>
#include <vector>

#include "app/catalog/TreeFile.h"
#include "app/scan/MainScan.h"
#include "storage/DataSet.h"
#include "util/FileCommit.h"

class TFlatTable;

// A change whose commit was made (its journal is on the disk) but whose files
// could not all be put in place yet: the change stands, in memory too, and is
// completed when the catalogue is opened next. The text says so.
class ECommitUnfinished : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Saves the given tables (and tree files) of one change as one commit. While it
// lives, a save of one of the tables writes that table's file for the commit
// instead of putting it in place; Commit puts every file in place together.
class TTableCommit {
public:
    explicit TTableCommit(std::vector<TFlatTable *> tables);
    ~TTableCommit(); // a change not committed leaves no file behind
    TTableCommit(const TTableCommit &) = delete;
    TTableCommit &operator=(const TTableCommit &) = delete;

    // The tree file's new content, written now for the commit. Raises
    // EDatabaseError naming the file when it cannot be written.
    void AddTree(const std::string &file, const std::vector<TTreeRecord> &records);
    // Raises EDatabaseError when nothing could be committed (every file is as
    // it was), ECommitUnfinished when the change was committed but a file is
    // not in place yet. A change committed becomes the tables' point to go back
    // to (CommitChanges).
    void Commit();

private:
    std::vector<TFlatTable *> tables_;
    TFileCommit commit_;
};

// One catalogue's open tables and its tree file (which may not exist).
struct TDiscCatalog {
    TFlatTable *files = nullptr; // file table
    TFlatTable *discs = nullptr; // disc table
    std::string treeFile;
    // Keep a ".~d" copy when saving the opened tables (organise window only).
    bool autoBackup = false;
};

// ---- disc name texts
// The name without the drive prefix and the closing bracket ("e: [DATA]2"
// gives "DATA"); `prefix` becomes the first four characters ("e: ["). The
// brackets close at the last "]", so a "]" inside the name stays.
// A name without "[" comes back whole and leaves `prefix` alone.
std::string SplitDiscName(const std::string &name, std::string &prefix);
// prefix + text + "]".
std::string JoinDiscName(const std::string &prefix, const std::string &text);
// A disc-table file name cut at its first "_cdname.d".
std::string CatalogNameFromFile(const std::string &fileName);
// Longest disc name the tables hold, in characters.
inline constexpr size_t DiscNameWidth = 50;

// ---- tree records
// Sets every record's level to the depth the reader really gives it, so that
// removing or adding whole subtrees keeps every other node where it was.
void NormaliseTreeLevels(std::vector<TTreeRecord> &records);
// The disc node named `name`: an exact match among disc nodes, else one that
// differs in letter case only; -1 when none. Group nodes never match, so a
// group that happens to carry a disc's name is left alone.
int FindDiscNode(const std::vector<TTreeRecord> &records, const std::string &name);
// Removes the node at `index` with everything below it (levels normalised).
void RemoveTreeNode(std::vector<TTreeRecord> &records, int index);

// ---- commands
// Names are compared as texts: a disc stored in Windows-1250 is found by its
// name in UTF-8, and its records are changed whatever encoding each holds.
//
// Deletes the disc record named `name` (whole name, letter case ignored),
// every file record whose Namecd is `name` or the record's own name whatever
// filter the file table has, and the disc's node in the tree file when the
// file exists. A disc whose record is missing still loses its file records
// and its node. False, with nothing changed, when none of the three is found.
bool DeleteDiscEverywhere(const TDiscCatalog &catalog, const std::string &name);

// Renames disc `oldName` to `newName` in the disc record (which carries its
// note and picture), in every file record and in the tree file. False, with
// nothing changed, when there is no disc record of that name.
bool RenameDiscEverywhere(const TDiscCatalog &catalog, const std::string &oldName, const std::string &newName);

// The names of the disc table in table order.
std::vector<std::string> DiscTableNames(TFlatTable &discs);
// The disc number a disc moved into `catalog` gets: past every number of its
// file records and disc records.
std::string NextFreeNumberIn(const TDiscCatalog &catalog);

struct TMoveOutcome {
    bool moved = false;
    bool missing = false; // the source holds no disc record of that name
    std::string newName;
    std::string newNumber;
};
// Moves disc `name` from `source` to `target`: a disc record with every field
// but the name and number copied, every file record likewise, a root node in
// the target's tree file when it has one; then the disc goes from the source.
// The target is written completely before anything leaves the source. Nothing
// moves (moved = false) when the disc record is missing (missing = true) or
// both catalogues are the same files.
TMoveOutcome MoveDiscBetween(const TDiscCatalog &source, const TDiscCatalog &target, const std::string &name);

// ---- the commands' own messages, in the current language
std::string ChooseDiscText();
std::string DiscNameTooLongText();
// A copy found `fileName` there already and left it as it was.
std::string FileKeptText(const std::string &fileName);
// A track of an audio CD in the drive is not a file to copy.
std::string AudioTrackCopyText();
std::string CopyFailedText(const std::string &reason);
std::string CopyingText(const std::string &fileName);
// A command found nothing named `name` to change, and changed nothing.
std::string NotFoundText(const std::string &name);
