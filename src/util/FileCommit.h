#pragma once
// A change to several files made as one commit: after a crash at any point the
// files hold either all of their old contents or all of their new ones.
//
// Each new file is written to a flushed temporary file beside its target (as
// WriteTempFileBeside does) and handed to the commit, which renames nothing
// yet. Commit then writes a small journal naming every rename in order, as a
// whole file (temporary file, flush, rename, folder flush) with a checksum:
// once the journal is on the disk the change is made. The renames follow, the
// folders are flushed and the journal is removed. FinishFileCommits, run when
// a catalogue opens, completes a journal that a crash left behind; temporary
// files without a journal belong to a change that was never made and are
// removed as stale (RemoveStaleTempFiles never removes one a journal names).
#include <string>
#include <string_view>
#include <vector>

// The journal's name in the folder that holds it: one per folder, so the
// commits of a folder are finished in the order they were made. It lies in the
// folder that holds every file of the change, at most two folders above each.
inline constexpr std::string_view CommitJournalName = "commit.orbalist-journal";

class TFileCommit {
public:
    TFileCommit() = default;
    // A commit dropped before Commit removes the temporary files it was given.
    ~TFileCommit();
    TFileCommit(const TFileCommit &) = delete;
    TFileCommit &operator=(const TFileCommit &) = delete;

    // Takes the flushed temporary file `tmpName` (named as WriteTempFileBeside
    // names them, in the folder of `target`) to be renamed over `target` by
    // Commit, after the ones added before. A target added again replaces its
    // earlier temporary file, which is removed.
    void Add(const std::string &tmpName, const std::string &target);
    // Writes `bytes` to a temporary file beside `target` and adds it. False
    // with the system's reason when the file cannot be written (nothing is
    // then left behind).
    bool AddBytes(const std::string &target, std::string_view bytes, std::string &error);
    // Has Commit remove `target`, in order with the renames: a file that is
    // gone already is no failure. A temporary file added for `target` before
    // is dropped; one added after replaces the removal.
    void Remove(const std::string &target);

    bool Empty() const { return renames_.empty(); }

    // Makes the change. True when every file is in place. False with a
    // message naming the file otherwise: when Committed() is false, nothing
    // was changed on the disk and the temporary files are gone; when it is
    // true, the journal was written but a rename failed, and the journal is
    // left for FinishFileCommits (the next open, or the next commit in that
    // folder) to complete.
    bool Commit(std::string &error);
    bool Committed() const { return committed_; }

    // Removes the temporary files of a commit that is not going to be made.
    void Discard();

private:
    struct TRename {
        std::string from, to; // `from` empty: `to` is removed
    };
    std::vector<TRename> renames_;
    bool committed_ = false;
    int step_ = 0;
};

// Completes the commit whose journal lies in `folder`, if there is one: the
// temporary files it names that still exist are renamed over their targets in
// the journal's order (the targets it removes are removed if they are still
// there), the folders are flushed and the journal is removed.
// A journal that does not read whole (its checksum or layout is wrong) was
// never a commit of the program; it is put aside as `<journal>.damaged` and
// its temporary files are left to the stale-file removal. False, with the
// reason in `error`, when a rename fails or the journal cannot be read at all
// (no access, a disc error): the journal and its files then stay as they are.
bool FinishFileCommits(const std::string &folder, std::string &error);

// FinishFileCommits for the folder of `file` and the two folders above it:
// the places a journal naming `file` can lie.
bool FinishFileCommitsFor(const std::string &file, std::string &error);

// The temporary files (full paths) named by the journals that may name a file
// of `folder`: those in it and in the two folders above it. When one of them is
// there but does not read, `unreadable` is set: nothing in the folder may then
// be taken for stale.
std::vector<std::string> JournalTemporaries(const std::string &folder, bool &unreadable);

// Tests only: called before each step of a commit with the step's number
// (from 0): each file added, the journal written, each rename or removal,
// the journal removed. A test stops the process there to see what a crash leaves.
void SetCommitStepHook(void (*hook)(int step));
