// A change to several files made as one commit: stopped at any step and
// finished as the next open finishes it, the files are all old or all new.
#include "util/FileCommit.h"
#include "util/BaseFileUtils.h"

#include "support/TempDir.h"
#include "support/TestCrc32.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The journal's checksum as the table-file documentation gives it (CRC-32, IEEE).
uint32_t Crc32(const std::string &bytes)
{
    return TestCrc32(bytes);
}

std::string Journal(const std::string &lines, size_t count)
{
    const std::string body = "orbalist-commit 1\n" + lines;
    char end[64];
    std::snprintf(end, sizeof end, "end %zu %08x\n", count, Crc32(body));
    return body + end;
}

// Everything in the folder and its sub-folders that the program left of its own.
std::vector<std::string> Leftovers(const std::string &folder)
{
    std::vector<std::string> found;
    for (const auto &e : fs::recursive_directory_iterator(folder))
        if (e.path().filename().string().find("orbalist-") != std::string::npos)
            found.push_back(e.path().string());
    return found;
}

// Files as a start later than this process sees them.
struct LaterStart {
    LaterStart() { SetProcessStartForTests(std::chrono::system_clock::now() + std::chrono::seconds(5)); }
    ~LaterStart() { SetProcessStartForTests(real); }
    static inline const std::chrono::system_clock::time_point real = std::chrono::system_clock::now();
};

// Runs `change` in a child process stopped by SIGKILL before step `step` of
// its commit; true when it was stopped there, false when it ran to its end.
bool StoppedAt(int step, const std::function<bool()> &change)
{
    static int killAt;
    killAt = step;
    const pid_t child = ::fork();
    EXPECT_GE(child, 0);
    if (child == 0) {
        SetCommitStepHook([](int s) {
            if (s == killAt)
                ::raise(SIGKILL);
        });
        ::_exit(change() ? 0 : 1);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    return killed;
}

class FileCommitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        targets = {dir.write("A.d", "old A"), dir.write("CdNames/B_cdname.d", "old B"), dir.file("CdNames/B_cdname.dat")};
    }
    // The change: new contents for all three (the last one did not exist).
    bool Change(TFileCommit &commit, std::string &error)
    {
        for (size_t i = 0; i < targets.size(); ++i)
            if (!commit.AddBytes(targets[i], "new " + std::to_string(i), error))
                return false;
        return commit.Commit(error);
    }
    std::string State()
    {
        std::string s;
        for (const std::string &t : targets)
            s += (fs::exists(t) ? orbtest::readFile(t) : std::string("-")) + ";";
        return s;
    }
    // What the next open does before reading: finish the journals, drop stale files.
    void Reopen()
    {
        const LaterStart later;
        std::string error;
        for (const std::string &folder : {dir.str(), dir.file("CdNames")})
            EXPECT_TRUE(FinishFileCommits(folder, error)) << error;
        for (const std::string &t : targets)
            RemoveStaleTempFiles(t);
    }
    // Stops `change` by SIGKILL (in a child process) at each step of its commit
    // in turn until it runs to its end; after each stop the next open finds the
    // files all old or all as `changed`, and nothing of the commit's own left.
    // Answers how many stops there were and how many the open finished.
    std::pair<int, int> StopAtEveryStep(const std::function<bool(std::string &)> &change, const std::string &changed)
    {
        int kills = 0, finished = 0;
        for (int step = 0;; ++step) {
            SCOPED_TRACE("stopped at step " + std::to_string(step));
            SetUp();
            const bool killed = StoppedAt(step, [&] {
                std::string error;
                return change(error);
            });
            Reopen();
            const std::string state = State();
            EXPECT_TRUE(state == oldState || state == changed) << state;
            EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
            if (!killed) {
                EXPECT_EQ(state, changed);
                return {kills, finished};
            }
            ++kills;
            finished += state == changed;
            fs::remove_all(dir.path() / "CdNames");
            fs::remove(targets[0]);
        }
    }
    static inline const std::string oldState = "old A;old B;-;";
    static inline const std::string newState = "new 0;new 1;new 2;";
    orbtest::TempDir dir;
    std::vector<std::string> targets;
};

} // namespace

TEST_F(FileCommitTest, PutsEveryFileInPlaceAndLeavesNothingBehind)
{
    TFileCommit commit;
    std::string error;
    // A target added twice takes its last content; the first temporary file goes.
    ASSERT_TRUE(commit.AddBytes(targets[0], "first try", error)) << error;
    ASSERT_TRUE(Change(commit, error)) << error;
    EXPECT_TRUE(commit.Committed());
    EXPECT_EQ(State(), newState);
    EXPECT_TRUE(Leftovers(dir.str()).empty());
    // Nothing to commit is no failure and writes nothing.
    TFileCommit none;
    EXPECT_TRUE(none.Commit(error));
    EXPECT_FALSE(fs::exists(dir.file(std::string(CommitJournalName))));
}

TEST_F(FileCommitTest, KilledAtEveryStepLeavesEveryFileOldOrEveryFileNew)
{
    const auto [kills, newAfterKill] = StopAtEveryStep(
        [&](std::string &error) {
            TFileCommit commit;
            return Change(commit, error);
        },
        newState);
    // Three files written, the journal, three renames and the journal's removal.
    EXPECT_EQ(kills, 8);
    // Stopped while the journal itself is put in place: no change, and its file goes too.
    fs::remove_all(dir.path() / "CdNames");
    SetUp();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetRenameFaultHook([](const std::string &, const std::string &to) {
            if (fs::path(to).filename() == std::string(CommitJournalName))
                ::raise(SIGKILL);
            return 0;
        });
        TFileCommit commit;
        std::string error;
        ::_exit(Change(commit, error) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(Leftovers(dir.str()).empty());
    Reopen();
    EXPECT_EQ(State(), oldState);
    EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
    EXPECT_EQ(newAfterKill, 4) << "a stop after the journal is written is finished at the next open";
}

// A removal is one more step of the commit, in its place among the renames.
TEST_F(FileCommitTest, RemovalKilledAtEveryStepIsOldOrNewAndFinishedByTheNextOpen)
{
    // The first table written, the second removed (a temporary file given for
    // it first is dropped), the tree file written; a file already gone is no failure.
    static const auto change = [](const std::vector<std::string> &t, std::string &error) {
        TFileCommit commit;
        if (!commit.AddBytes(t[0], "new 0", error) || !commit.AddBytes(t[1], "dropped", error) ||
            !commit.AddBytes(t[2], "new 2", error))
            return false;
        commit.Remove(t[1]);
        commit.Remove(FolderOfPath(t[0]) + "/Gone.d");
        return commit.Commit(error);
    };
    const std::string removedState = "new 0;-;new 2;";
    const auto [kills, newAfterKill] = StopAtEveryStep([&](std::string &error) { return change(targets, error); },
                                                       removedState);
    // Three files written, the journal, two renames and two removals, the journal's removal.
    EXPECT_EQ(kills, 9);
    EXPECT_EQ(newAfterKill, 5);
    // The journal names a removal by an empty first name; finishing it twice is no failure.
    dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
    const std::string journal = Journal("A.d.orbalist-tmp-Ab12Cd\tA.d\n\tCdNames/B_cdname.d\n", 2);
    dir.write(std::string(CommitJournalName), journal);
    std::string error;
    ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
    EXPECT_EQ(State(), "new A;-;new 2;");
    dir.write(std::string(CommitJournalName), journal);
    ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
    EXPECT_EQ(State(), "new A;-;new 2;");
    EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
}

TEST_F(FileCommitTest, FailureBeforeTheCommitPointChangesNothing)
{
    std::string error;
    {
        // The second file cannot be written (a full disk).
        static int writes;
        writes = 0;
        SetFileWriteFaultHook([](const std::string &) { return ++writes == 2 ? ENOSPC : 0; });
        TFileCommit commit;
        EXPECT_FALSE(Change(commit, error));
        SetFileWriteFaultHook(nullptr);
        EXPECT_FALSE(commit.Committed());
    }
    EXPECT_EQ(State(), oldState);
    EXPECT_TRUE(Leftovers(dir.str()).empty());
    {
        // A folder stands where a file is to go: refused before anything is renamed.
        fs::create_directories(targets[2] + "/inside");
        TFileCommit commit;
        EXPECT_FALSE(Change(commit, error));
        EXPECT_FALSE(commit.Committed());
        EXPECT_NE(error.find(targets[2]), std::string::npos) << error;
        EXPECT_EQ(orbtest::readFile(targets[0]), "old A");
        EXPECT_TRUE(Leftovers(dir.str()).empty());
        fs::remove_all(targets[2]);
    }
}

TEST_F(FileCommitTest, RenameFailingAfterTheCommitPointIsFinishedLater)
{
    SetRenameFaultHook([](const std::string &, const std::string &to) {
        return fs::path(to).filename() == "B_cdname.d" ? EIO : 0;
    });
    std::string error;
    {
        TFileCommit commit;
        EXPECT_FALSE(Change(commit, error));
        EXPECT_TRUE(commit.Committed());
        // Used again while the rename still fails: the new change is refused,
        // and the files of the one made stay for its journal.
        std::string again;
        ASSERT_TRUE(commit.AddBytes(targets[0], "refused A", again)) << again;
        EXPECT_FALSE(commit.Commit(again));
        EXPECT_FALSE(commit.Committed());
    }
    EXPECT_NE(error.find(targets[1]), std::string::npos) << error;
    // The renames after the failed one are still made.
    EXPECT_EQ(State(), "new 0;old B;new 2;");
    // While the rename still fails, the journal and its files stay, even for a later start.
    std::string reason;
    EXPECT_FALSE(FinishFileCommits(dir.str(), reason));
    {
        const LaterStart later;
        EXPECT_EQ(RemoveStaleTempFiles(targets[1]), 0);
    }
    // The next commit in the folder finishes it first.
    SetRenameFaultHook(nullptr);
    TFileCommit next;
    ASSERT_TRUE(next.AddBytes(targets[0], "newer A", error)) << error;
    ASSERT_TRUE(next.Commit(error)) << error;
    EXPECT_EQ(State(), "newer A;new 1;new 2;");
    EXPECT_TRUE(Leftovers(dir.str()).empty());
}

TEST_F(FileCommitTest, JournalInItsDocumentedFormatIsFinishedAndADamagedOneIsPutAside)
{
    ASSERT_EQ(Crc32("123456789"), 0xCBF43926u);
    const std::string journal = dir.file(std::string(CommitJournalName));
    auto prepare = [&] {
        dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
        dir.write("CdNames/B_cdname.d.orbalist-tmp-Zz9900", "new B");
    };
    // Names relative to the journal's folder, a tab between, "%" escapes.
    const std::string lines = "A.d.orbalist-tmp-Ab12Cd\tA.d\nCdNames/B_cdname.d.orbalist-tmp-Zz9900\tCdNames/B_cdname.d\n";
    prepare();
    dir.write(std::string(CommitJournalName), Journal(lines, 2));
    std::string error;
    ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
    EXPECT_EQ(State(), "new A;new B;-;");
    EXPECT_TRUE(Leftovers(dir.str()).empty());

    // Not whole: never written by a commit. Each is put aside under a name of
    // its own, never over one put aside before nor over what else has that name.
    const std::vector<std::string> damaged = {
        Journal(lines, 2).substr(0, 40),
        Journal(lines, 3),
        [&] {
            std::string j = Journal(lines, 2);
            j[20] ^= 1; // the checksum no longer holds
            return j;
        }(),
        std::string(),
        Journal("A.d.orbalist-tmp-Ab12Cd\tA.d%2\n", 1),
    };
    dir.write(std::string(CommitJournalName) + ".damaged-3/user.txt", "mine");
    const std::vector<std::string> keptAs = {".damaged", ".damaged-2", ".damaged-4", ".damaged-5", ".damaged-6"};
    for (size_t i = 0; i < damaged.size(); ++i) {
        const std::string &bad = damaged[i];
        SCOPED_TRACE(bad);
        dir.write("A.d", "old A");
        dir.write("CdNames/B_cdname.d", "old B");
        prepare();
        dir.write(std::string(CommitJournalName), bad);
        std::vector<TCommitNotice> notices;
        ASSERT_TRUE(FinishFileCommits(dir.str(), error, &notices)) << error;
        EXPECT_EQ(State(), "old A;old B;-;");
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(orbtest::readFile(journal + keptAs[i]), bad);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].kind, TCommitNotice::TKind::PutAside);
        EXPECT_EQ(notices[0].journal, journal);
        EXPECT_EQ(notices[0].detail, journal + keptAs[i]);
    }
    EXPECT_EQ(orbtest::readFile(journal + ".damaged"), damaged[0]);
    EXPECT_EQ(orbtest::readFile(journal + ".damaged-3/user.txt"), "mine");
    // Their temporary files were never the program's to rename: stale now.
    {
        const LaterStart later;
        EXPECT_EQ(RemoveStaleTempFiles(targets[0]), 1);
    }
}

// A checksum proves only that a journal is whole, not who wrote it. One that
// names anything but the catalogue files of its folder, by names relative to
// it, is not acted on: it and every file it names stay, the user is told, and
// no commit of the folder writes over it.
TEST_F(FileCommitTest, JournalNamingAnythingButItsFoldersCatalogueFilesIsLeftAloneAndTold)
{
    const std::string journal = dir.file(std::string(CommitJournalName));
    const std::string elsewhere = dir.file("elsewhere");
    dir.write("elsewhere/x.d", "not the program's");
    dir.write("elsewhere/x.d.orbalist-tmp-abc123", "replacement");
    dir.write("notes.txt", "my notes");
    dir.write("notes.txt.orbalist-tmp-zzzzzz", "replacement");
    dir.write("sub/A.d", "old sub");
    dir.write("sub/A.d.orbalist-tmp-Ab12Cd", "replacement");
    dir.write("A.d.backup", "a copy of mine");
    dir.write("real/B_cdname.d", "old real");
    dir.write("real/B_cdname.d.orbalist-tmp-Zz9900", "replacement");
    dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
    const std::vector<std::string> foreign = {
        Journal(elsewhere + "/x.d.orbalist-tmp-abc123\t" + elsewhere + "/x.d\n", 1),
        Journal("A.d.orbalist-tmp-Ab12Cd\tA.d\n../x.d.orbalist-tmp-abc123\t../x.d\n", 2),
        Journal("elsewhere/../A.d.orbalist-tmp-Ab12Cd\tA.d\n", 1),
        Journal("./A.d.orbalist-tmp-Ab12Cd\t./A.d\n", 1),
        Journal("sub/A.d.orbalist-tmp-Ab12Cd\tsub/A.d\n", 1),
        Journal("A.d.orbalist-tmp-Ab12Cd\tCdNames/A.d\n", 1),
        Journal("notes.txt.orbalist-tmp-zzzzzz\tnotes.txt\n", 1),
        Journal("A.d.backup\tA.d\n", 1),
        Journal("A.d.orbalist-tmp-Ab12Cd\tA.d.backup\n", 1),
        Journal("\tnotes.txt\n", 1),
        Journal("CdNames/B_cdname.d.orbalist-tmp-Zz9900\tCdNames/B_cdname.d\n", 1), // CdNames is a link below
    };
    const auto files = [&] {
        std::string s;
        for (const char *f : {"elsewhere/x.d", "elsewhere/x.d.orbalist-tmp-abc123", "notes.txt",
                              "notes.txt.orbalist-tmp-zzzzzz", "sub/A.d", "sub/A.d.orbalist-tmp-Ab12Cd", "A.d.backup",
                              "real/B_cdname.d", "real/B_cdname.d.orbalist-tmp-Zz9900", "A.d.orbalist-tmp-Ab12Cd"})
            s += orbtest::readFile(dir.file(f)) + ";";
        return s + State();
    };
    for (size_t i = 0; i < foreign.size(); ++i) {
        SCOPED_TRACE(foreign[i]);
        fs::remove_all(dir.file("CdNames"));
        if (i + 1 == foreign.size())
            fs::create_directory_symlink(dir.file("real"), dir.file("CdNames"));
        else
            dir.write("CdNames/B_cdname.d", "old B");
        dir.write(std::string(CommitJournalName), foreign[i]);
        const std::string before = files();
        std::string error;
        std::vector<TCommitNotice> notices;
        ASSERT_TRUE(FinishFileCommits(dir.str(), error, &notices)) << error;
        ASSERT_TRUE(FinishFileCommitsFor(targets[0], error, &notices)) << error;
        EXPECT_EQ(files(), before);
        EXPECT_EQ(orbtest::readFile(journal), foreign[i]);
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_EQ(notices[0].kind, TCommitNotice::TKind::Foreign);
        EXPECT_EQ(notices[0].journal, journal);
        EXPECT_FALSE(notices[0].detail.empty());
        // Nothing of the folder is taken for stale while it is there.
        bool unreadable = false;
        JournalTemporaries(dir.str(), unreadable);
        EXPECT_TRUE(unreadable);
        {
            const LaterStart later;
            EXPECT_EQ(RemoveStaleTempFiles(targets[0]), 0);
        }
        // A commit in the folder would write its journal over it: refused, changing nothing.
        TFileCommit commit;
        ASSERT_TRUE(commit.AddBytes(targets[0], "refused", error)) << error;
        EXPECT_FALSE(commit.Commit(error));
        EXPECT_FALSE(commit.Committed());
        EXPECT_NE(error.find(journal), std::string::npos) << error;
        EXPECT_EQ(commit.Notices().size(), 1u);
        EXPECT_EQ(files(), before);
        EXPECT_EQ(orbtest::readFile(journal), foreign[i]);
        EXPECT_EQ(Leftovers(dir.str()).size(), 6u);
    }
}

// The open looks for a journal only where a commit of the catalogue puts it:
// never in the folders above (with the data folder in ~/Documents, the home folder).
TEST_F(FileCommitTest, JournalAboveTheCatalogueFolderIsNeverLookedAt)
{
    const std::string home = dir.file("home"), data = home + "/Documents/DiVovData";
    dir.write("home/notes.txt", "my notes");
    dir.write("home/notes.txt.orbalist-tmp-zzzzzz", "someone else's");
    const std::string journal = Journal("notes.txt.orbalist-tmp-zzzzzz\tnotes.txt\n", 1);
    dir.write("home/" + std::string(CommitJournalName), journal);
    dir.write("home/Documents/" + std::string(CommitJournalName), Journal("../notes.txt.orbalist-tmp-zzzzzz\t../notes.txt\n", 1));
    dir.write("home/Documents/DiVovData/Cat.d", "old");
    dir.write("home/Documents/DiVovData/CdNames/Cat_cdname.d", "old");
    std::string error;
    std::vector<TCommitNotice> notices;
    for (const std::string &f : {data + "/Cat.d", data + "/CdNames/Cat_cdname.d"})
        ASSERT_TRUE(FinishFileCommitsFor(f, error, &notices)) << error;
    EXPECT_TRUE(notices.empty());
    bool unreadable = true;
    EXPECT_TRUE(JournalTemporaries(data + "/CdNames", unreadable).empty());
    EXPECT_FALSE(unreadable);
    // A commit of the catalogue neither finishes nor minds them.
    TFileCommit commit;
    ASSERT_TRUE(commit.AddBytes(data + "/CdNames/Cat_cdname.d", "new", error)) << error;
    ASSERT_TRUE(commit.Commit(error)) << error;
    EXPECT_TRUE(commit.Notices().empty());
    EXPECT_EQ(orbtest::readFile(home + "/notes.txt"), "my notes");
    EXPECT_EQ(orbtest::readFile(home + "/notes.txt.orbalist-tmp-zzzzzz"), "someone else's");
    EXPECT_EQ(orbtest::readFile(home + "/" + std::string(CommitJournalName)), journal);
    EXPECT_TRUE(fs::exists(home + "/Documents/" + std::string(CommitJournalName)));
}

// A change of the disc folder's files alone still keeps its journal in the
// catalogue's folder, where the open looks.
TEST_F(FileCommitTest, ChangeOfCdNamesFilesOnlyKeepsItsJournalInTheCatalogueFolder)
{
    // Two files written, the journal; stopped before the first rename.
    ASSERT_TRUE(StoppedAt(3, [&] {
        TFileCommit commit;
        std::string error;
        const std::string disc = targets[1];
        return commit.AddBytes(disc, "new B", error) &&
               commit.AddBytes(disc.substr(0, disc.size() - 1) + "~d", "backup B", error) && commit.Commit(error);
    }));
    EXPECT_TRUE(fs::exists(dir.file(std::string(CommitJournalName))));
    EXPECT_FALSE(fs::exists(dir.file("CdNames/" + std::string(CommitJournalName))));
    std::string error;
    ASSERT_TRUE(FinishFileCommitsFor(targets[1], error)) << error;
    EXPECT_EQ(State(), "old A;new B;-;");
    EXPECT_EQ(orbtest::readFile(dir.file("CdNames/B_cdname.~d")), "backup B");
    EXPECT_TRUE(Leftovers(dir.str()).empty());
}

// Earlier versions kept the journal of a change of CdNames files only in
// CdNames, naming them without a folder: such a change is finished by the
// open of its catalogue (and its files are never taken for stale); one naming
// anything but that folder's catalogue files is left alone and told.
TEST_F(FileCommitTest, JournalAnEarlierVersionLeftInCdNamesIsFinishedWhenItNamesOnlyThatFoldersFiles)
{
    const std::string journal = dir.file("CdNames/" + std::string(CommitJournalName));
    dir.write("CdNames/B_cdname.d.orbalist-tmp-Ab12Cd", "new B");
    dir.write("CdNames/B_cdname.~d.orbalist-tmp-Zz9900", "backup B");
    dir.write("CdNames/commit.orbalist-journal",
              Journal("B_cdname.d.orbalist-tmp-Ab12Cd\tB_cdname.d\nB_cdname.~d.orbalist-tmp-Zz9900\tB_cdname.~d\n", 2));
    {
        const LaterStart later;
        bool unreadable = true;
        EXPECT_EQ(JournalTemporaries(dir.file("CdNames"), unreadable).size(), 2u);
        EXPECT_FALSE(unreadable);
        EXPECT_EQ(RemoveStaleCommitTemporaries(dir.str()), 0);
    }
    std::string error;
    std::vector<TCommitNotice> notices;
    ASSERT_TRUE(FinishFileCommitsFor(targets[0], error, &notices)) << error;
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(State(), "old A;new B;-;");
    EXPECT_EQ(orbtest::readFile(dir.file("CdNames/B_cdname.~d")), "backup B");
    EXPECT_TRUE(Leftovers(dir.str()).empty());

    for (const std::string &lines : {std::string("notes.txt.orbalist-tmp-zzzzzz\tnotes.txt\n"),
                                     std::string("../A.d.orbalist-tmp-Ab12Cd\t../A.d\n"),
                                     std::string("CdNames/B_cdname.d.orbalist-tmp-Ab12Cd\tCdNames/B_cdname.d\n")}) {
        SCOPED_TRACE(lines);
        const std::string bytes = Journal(lines, 1);
        dir.write("CdNames/commit.orbalist-journal", bytes);
        dir.write("CdNames/notes.txt", "mine");
        dir.write("CdNames/notes.txt.orbalist-tmp-zzzzzz", "not mine");
        dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
        notices.clear();
        // Not the folder's own journal: a commit of the catalogue goes on.
        TFileCommit commit;
        ASSERT_TRUE(commit.AddBytes(targets[0], "new 0", error)) << error;
        ASSERT_TRUE(commit.Commit(error)) << error;
        ASSERT_EQ(commit.Notices().size(), 1u);
        EXPECT_EQ(commit.Notices()[0].kind, TCommitNotice::TKind::Foreign);
        EXPECT_EQ(orbtest::readFile(journal), bytes);
        EXPECT_EQ(orbtest::readFile(dir.file("CdNames/notes.txt")), "mine");
        EXPECT_EQ(orbtest::readFile(dir.file("A.d.orbalist-tmp-Ab12Cd")), "new A");
        fs::remove(dir.file("A.d.orbalist-tmp-Ab12Cd"));
        fs::remove(dir.file("CdNames/notes.txt.orbalist-tmp-zzzzzz"));
        targets[0] = dir.write("A.d", "old A");
    }
}

// Something other than a regular file under the journal's name (a folder
// holding a user's file, a pipe, a link even to a whole journal) is left alone
// and told, and a commit in the folder is refused, changing nothing.
TEST_F(FileCommitTest, WhatIsNotAFileUnderTheJournalsNameIsLeftAloneAndBlocksACommit)
{
    const std::string journal = dir.file(std::string(CommitJournalName));
    dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
    dir.write("kept/journal", Journal("A.d.orbalist-tmp-Ab12Cd\tA.d\n", 1));
    const std::vector<std::function<void()>> makers = {
        [&] { dir.write(std::string(CommitJournalName) + "/user.txt", "mine"); },
        [&] { ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0); },
        [&] { fs::create_symlink(dir.file("kept/journal"), journal); },
    };
    for (const auto &make : makers) {
        make();
        std::string error;
        std::vector<TCommitNotice> notices;
        ASSERT_TRUE(FinishFileCommitsFor(targets[1], error, &notices)) << error;
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].kind, TCommitNotice::TKind::NotAFile);
        EXPECT_EQ(notices[0].journal, journal);
        EXPECT_FALSE(fs::exists(journal + ".damaged"));
        TFileCommit commit;
        EXPECT_FALSE(Change(commit, error));
        EXPECT_FALSE(commit.Committed());
        EXPECT_NE(error.find(journal), std::string::npos) << error;
        EXPECT_EQ(State(), oldState);
        EXPECT_EQ(orbtest::readFile(dir.file("A.d.orbalist-tmp-Ab12Cd")), "new A");
        EXPECT_EQ(Leftovers(dir.str()).size(), 2u);
        fs::remove_all(journal);
    }
}

// A commit writes only what its journal may name: the catalogue files of one
// folder, the disc folder a real one. Anything else is refused before a file changes.
TEST_F(FileCommitTest, CommitOfFilesAJournalMayNotNameIsRefused)
{
    dir.write("other/C.d", "old C");
    dir.write("notes.txt", "my notes");
    dir.write("real/D_cdname.d", "old D");
    fs::create_directories(dir.file("cat"));
    fs::create_directory_symlink(dir.file("real"), dir.file("cat/CdNames"));
    const std::vector<std::vector<std::string>> refused = {
        {targets[0], dir.file("notes.txt")},
        {targets[0], dir.file("other/C.d")},
        {targets[0], dir.file("CdNames/C.d")},
        {dir.file("cat/CdNames/D_cdname.d")},
    };
    for (const auto &files : refused) {
        SCOPED_TRACE(files.back());
        TFileCommit commit;
        std::string error;
        for (const std::string &f : files)
            ASSERT_TRUE(commit.AddBytes(f, "new", error)) << error;
        EXPECT_FALSE(commit.Commit(error));
        EXPECT_FALSE(commit.Committed());
        const std::string named = files.back().find("/cat/") == std::string::npos ? files.back() : dir.file("cat/CdNames");
        EXPECT_NE(error.find(named), std::string::npos) << error;
        EXPECT_EQ(State(), oldState);
        EXPECT_EQ(orbtest::readFile(dir.file("notes.txt")), "my notes");
        EXPECT_EQ(orbtest::readFile(dir.file("other/C.d")), "old C");
        EXPECT_EQ(orbtest::readFile(dir.file("real/D_cdname.d")), "old D");
        EXPECT_TRUE(Leftovers(dir.str()).empty());
    }
}

TEST_F(FileCommitTest, JournalThatCannotBeReadIsNeitherPutAsideNorRobbedOfItsFiles)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a second user to be refused the journal";
    // A whole journal of another user of a shared folder, readable by its owner only.
    dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
    const std::string journal = dir.file(std::string(CommitJournalName));
    dir.write(std::string(CommitJournalName), Journal("A.d.orbalist-tmp-Ab12Cd\tA.d\n", 1));
    ASSERT_EQ(::chmod(journal.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.str().c_str(), 0777), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const LaterStart later;
        std::string error;
        const bool finished = FinishFileCommits(dir.str(), error);
        const bool named = error.find(journal) != std::string::npos;
        RemoveStaleTempFiles(targets[0]);
        ::_exit(finished ? 1 : named ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: taken as finished, 2: the message does not name the journal";
    EXPECT_TRUE(fs::exists(journal));
    EXPECT_FALSE(fs::exists(journal + ".damaged"));
    EXPECT_EQ(orbtest::readFile(dir.file("A.d.orbalist-tmp-Ab12Cd")), "new A");
    // Its owner finishes it.
    std::string error;
    ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
    EXPECT_EQ(orbtest::readFile(targets[0]), "new A");
}

TEST_F(FileCommitTest, NamesWithTabsLineFeedsPercentsAndNonUtf8BytesAreFinishedAsWritten)
{
    const std::string odd = dir.file("we%25ird\tna\nme\xE9");
    fs::create_directories(odd + "/CdNames");
    const std::vector<std::string> files = {odd + "/A\x01.d", odd + "/CdNames/B%_cdname.d"};
    // Stopped right after the journal is on the disk (two files written, then the journal step).
    ASSERT_TRUE(StoppedAt(3, [&] {
        TFileCommit commit;
        std::string error;
        for (const std::string &f : files)
            if (!commit.AddBytes(f, "new " + FileNameOfPath(f), error))
                return false;
        return commit.Commit(error);
    }));
    bool unreadable = true;
    EXPECT_EQ(JournalTemporaries(odd, unreadable).size(), 2u);
    EXPECT_FALSE(unreadable);
    std::string error;
    ASSERT_TRUE(FinishFileCommitsFor(files[1], error)) << error;
    for (const std::string &f : files)
        EXPECT_EQ(orbtest::readFile(f), "new " + FileNameOfPath(f));
    EXPECT_EQ(Leftovers(odd), std::vector<std::string>{});
}
