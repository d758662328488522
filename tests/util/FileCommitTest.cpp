// A change to several files made as one commit: stopped at any step and
// finished as the next open finishes it, the files are all old or all new.
#include "util/FileCommit.h"
#include "util/BaseFileUtils.h"

#include "support/TempDir.h"
#include "support/TestCrc32.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
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

class FileCommitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        targets = {dir.write("A.d", "old A"), dir.write("sub/B.d", "old B"), dir.file("sub/T.dat")};
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
        for (const std::string &folder : {dir.str(), dir.file("sub")})
            EXPECT_TRUE(FinishFileCommits(folder, error)) << error;
        for (const std::string &t : targets)
            RemoveStaleTempFiles(t);
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
    static int killAt;
    int kills = 0, newAfterKill = 0;
    for (killAt = 0;; ++killAt) {
        SCOPED_TRACE("stopped at step " + std::to_string(killAt));
        SetUp();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SetCommitStepHook([](int step) {
                if (step == killAt)
                    ::raise(SIGKILL);
            });
            TFileCommit commit;
            std::string error;
            ::_exit(Change(commit, error) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        Reopen();
        const std::string state = State();
        EXPECT_TRUE(state == oldState || state == newState) << state;
        EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
        if (!killed) {
            EXPECT_EQ(state, newState);
            break;
        }
        ++kills;
        newAfterKill += state == newState;
        fs::remove_all(dir.path() / "sub");
        fs::remove(targets[0]);
    }
    // Three files written, the journal, three renames and the journal's removal.
    EXPECT_EQ(kills, 8);
    // Stopped while the journal itself is put in place: no change, and its file goes too.
    fs::remove_all(dir.path() / "sub");
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
        commit.Remove(t[0] + ".gone");
        return commit.Commit(error);
    };
    const std::string removedState = "new 0;-;new 2;";
    static int killAt;
    int kills = 0, newAfterKill = 0;
    for (killAt = 0;; ++killAt) {
        SCOPED_TRACE("stopped at step " + std::to_string(killAt));
        SetUp();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SetCommitStepHook([](int step) {
                if (step == killAt)
                    ::raise(SIGKILL);
            });
            std::string error;
            ::_exit(change(targets, error) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        Reopen();
        const std::string state = State();
        EXPECT_TRUE(state == oldState || state == removedState) << state;
        EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
        if (!killed) {
            EXPECT_EQ(state, removedState);
            break;
        }
        ++kills;
        newAfterKill += state == removedState;
        fs::remove_all(dir.path() / "sub");
        fs::remove(targets[0]);
    }
    // Three files written, the journal, two renames and two removals, the journal's removal.
    EXPECT_EQ(kills, 9);
    EXPECT_EQ(newAfterKill, 5);
    // The journal names a removal by an empty first name; finishing it twice is no failure.
    dir.write("A.d.orbalist-tmp-Ab12Cd", "new A");
    const std::string journal = Journal("A.d.orbalist-tmp-Ab12Cd\tA.d\n\tsub/B.d\n", 2);
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
        return fs::path(to).filename() == "B.d" ? EIO : 0;
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
        dir.write("sub/B.d.orbalist-tmp-Zz9900", "new B");
    };
    // Names relative to the journal's folder, a tab between, "%" escapes.
    const std::string lines = "A.d.orbalist-tmp-Ab12Cd\tA.d\nsub/B.d.orbalist-tmp-Zz9900\tsub/B.d\n";
    prepare();
    dir.write(std::string(CommitJournalName), Journal(lines, 2));
    std::string error;
    ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
    EXPECT_EQ(State(), "new A;new B;-;");
    EXPECT_TRUE(Leftovers(dir.str()).empty());

    // Not whole, or naming what a commit never renames: not a commit of the program.
    const std::vector<std::string> damaged = {
        Journal(lines, 2).substr(0, 40),
        Journal(lines, 3),
        [&] {
            std::string j = Journal(lines, 2);
            j[20] ^= 1; // the checksum no longer holds
            return j;
        }(),
        Journal("../A.d.orbalist-tmp-Ab12Cd\tA.d\n", 1),
        Journal("A.d.orbalist-tmp-Ab12Cd\tsub/A.d\n", 1),
        Journal("A.d.backup\tA.d\n", 1),
        Journal("A.d.orbalist-tmp-Ab12Cd\tA.d%2\n", 1),
    };
    for (const std::string &bad : damaged) {
        SCOPED_TRACE(bad);
        dir.write("A.d", "old A");
        dir.write("sub/B.d", "old B");
        prepare();
        dir.write(std::string(CommitJournalName), bad);
        ASSERT_TRUE(FinishFileCommits(dir.str(), error)) << error;
        EXPECT_EQ(State(), "old A;old B;-;");
        EXPECT_EQ(orbtest::readFile(journal + ".damaged"), bad);
        EXPECT_FALSE(fs::exists(journal));
        fs::remove(journal + ".damaged");
        fs::remove(dir.file("A.d.orbalist-tmp-Ab12Cd"));
        fs::remove(dir.file("sub/B.d.orbalist-tmp-Zz9900"));
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
    const std::vector<std::string> files = {odd + "/A\x01.d", odd + "/CdNames/B%.d"};
    // Stopped right after the journal is on the disk (two files written, then the journal step).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetCommitStepHook([](int step) {
            if (step == 3)
                ::raise(SIGKILL);
        });
        TFileCommit commit;
        std::string error;
        for (const std::string &f : files)
            if (!commit.AddBytes(f, "new " + FileNameOfPath(f), error))
                ::_exit(1);
        ::_exit(commit.Commit(error) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    bool unreadable = true;
    EXPECT_EQ(JournalTemporaries(odd, unreadable).size(), 2u);
    EXPECT_FALSE(unreadable);
    std::string error;
    ASSERT_TRUE(FinishFileCommitsFor(files[1], error)) << error;
    for (const std::string &f : files)
        EXPECT_EQ(orbtest::readFile(f), "new " + FileNameOfPath(f));
    EXPECT_EQ(Leftovers(odd), std::vector<std::string>{});
}
