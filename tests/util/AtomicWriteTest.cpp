#include "util/BaseFileUtils.h"

#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Names of everything in a folder, to show no temporary file stays behind.
std::vector<std::string> Entries(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

} // namespace

TEST(WriteFileAtomically, ReplacesContentAndKeepsPermissions)
{
    orbtest::TempDir dir;
    const std::string path = dir.write("list.txt", "old contents that are longer than the new ones");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // Short, binary and empty contents pass through as they are; the mode stays.
    std::string error;
    for (const std::string &text : {std::string("new"), std::string("\0\r\n\xff", 4), std::string()}) {
        ASSERT_TRUE(WriteFileAtomically(path, text, error)) << error;
        EXPECT_EQ(orbtest::readFile(path), text);
        EXPECT_EQ(fs::file_size(path), text.size());
        EXPECT_EQ(ModeOf(path), mode_t(0640));
    }
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"list.txt"});
    // A new file gets the usual permissions under the umask.
    const std::string fresh = dir.file("fresh.ini");
    const mode_t mask = ::umask(027);
    const bool ok = WriteFileAtomically(fresh, "[Main]\r\n", error);
    ::umask(mask);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(orbtest::readFile(fresh), "[Main]\r\n");
    EXPECT_EQ(ModeOf(fresh), mode_t(0640));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"fresh.ini", "list.txt"}));
}

TEST(WriteFileAtomically, FailuresLeaveTheOldFileAndNoTemporaryFile)
{
    orbtest::TempDir dir;
    std::string error;
    // A folder that does not exist: nothing is created.
    EXPECT_FALSE(WriteFileAtomically(dir.file("missing/list.txt"), "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Entries(dir.path()).empty());
    // A folder in the way of the rename: it stays, the temporary file goes.
    dir.write("taken/inside", "kept");
    error.clear();
    EXPECT_FALSE(WriteFileAtomically(dir.file("taken"), "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(orbtest::readFile(dir.file("taken/inside")), "kept");
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"taken"});
}

TEST(WriteFileAtomically, WriteErrorHalfwayLeavesTheOldFile)
{
    orbtest::TempDir dir;
    const std::string path = dir.write("tree.dat", "old tree");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    // A file size limit makes the write fail after the first kilobyte (the
    // signal the limit raises is ignored so the write reports EFBIG instead).
    struct rlimit saved {}, limited {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    limited = saved;
    limited.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    const bool ok = WriteFileAtomically(path, std::string(64 * 1024, 'n'), error);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(orbtest::readFile(path), "old tree");
    EXPECT_EQ(ModeOf(path), mode_t(0600));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"tree.dat"});
}

namespace {

// Runs with a process start of its own and puts the real one back afterwards.
struct StartedAt {
    explicit StartedAt(std::chrono::system_clock::time_point t) { SetProcessStartForTests(t); }
    ~StartedAt() { SetProcessStartForTests(real); }
    static inline const std::chrono::system_clock::time_point real = std::chrono::system_clock::now();
};

} // namespace

TEST(TemporaryFiles, OnlyTheProgramsOwnOldUnheldFilesAreRemoved)
{
    orbtest::TempDir dir;
    const std::string table = dir.write("MyDiscs.d", "table");
    // The program's own names carry the mark; made with O_EXCL, they never reuse a name.
    std::string made, reason;
    ASSERT_TRUE(WriteTempFileBeside(table, "new", made, reason)) << reason;
    EXPECT_EQ(fs::path(made).filename().string().rfind("MyDiscs.d.orbalist-tmp-", 0), 0u) << made;
    EXPECT_EQ(fs::path(made).filename().string().size(), std::string("MyDiscs.d.orbalist-tmp-").size() + 6);
    // Near misses of the mark are not the program's (the user's names are in the table tests).
    const std::vector<std::string> users = {"MyDiscs.d.orbalist-tmp-", "MyDiscs.d.orbalist-tmp-Ab3xYz.keep",
                                            "MyDiscs.d.orbalist-tmp-Ab3x!z"};
    for (const std::string &u : users)
        dir.write(u, "mine");
    const std::string held = dir.write("MyDiscs.d.orbalist-tmp-HeLd01", "a running copy writes this");
    const std::string stale = dir.write("MyDiscs.d.orbalist-tmp-St4le0", "cut short");
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // Another program that matches the mark by chance and holds a POSIX record lock
    // (fcntl) on part of its file: a lock of another process, so a child holds it.
    const std::string heldByRecord = dir.write("MyDiscs.d.orbalist-tmp-P0sixL", "another program's file");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(heldByRecord.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 2;
        lock.l_len = 3;
        const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    // Written after this process started: a copy that is running now may still need them.
    EXPECT_EQ(RemoveStaleTempFiles(table), 0);
    EXPECT_TRUE(fs::exists(made) && fs::exists(stale));
    {
        // As seen by a later start: the old unheld ones go, the held one and the user's stay.
        StartedAt later(std::chrono::system_clock::now() + std::chrono::seconds(5));
        EXPECT_EQ(RemoveStaleTempFiles(table), 2);
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(heldByRecord));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    {
        // Let go, it is as stale as the others were.
        StartedAt later(std::chrono::system_clock::now() + std::chrono::seconds(5));
        EXPECT_EQ(RemoveStaleTempFiles(table), 1);
    }
    EXPECT_FALSE(fs::exists(heldByRecord));
    for (const std::string &u : users)
        EXPECT_EQ(orbtest::readFile(dir.file(u)), "mine") << u;
    EXPECT_EQ(orbtest::readFile(table), "table");
    ::close(holder);
}

TEST(TemporaryFiles, FailedRenameSaysWhichTemporaryFileStays)
{
    orbtest::TempDir dir;
    const std::string target = dir.write("data/cat.ini", "old");
    static std::string folder;
    folder = dir.file("data");
    // The rename fails, and the folder turns read-only first, so the temporary file cannot go.
    SetRenameFaultHook([](const std::string &, const std::string &) {
        ::chmod(folder.c_str(), 0555);
        return EIO;
    });
    std::string error;
    {
        orbtest::TObeyPermissions obey;
        if (!obey.Active()) {
            SetRenameFaultHook(nullptr);
            ::chmod(folder.c_str(), 0755);
            GTEST_SKIP() << "permissions do not apply here";
        }
        EXPECT_FALSE(WriteFileAtomically(target, "new", error));
    }
    SetRenameFaultHook(nullptr);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(orbtest::readFile(target), "old");
    const std::vector<std::string> now = Entries(folder);
    ASSERT_EQ(now.size(), 2u);
    EXPECT_NE(error.find(folder + "/" + now[1]), std::string::npos) << error;
    EXPECT_NE(error.find("still there"), std::string::npos) << error;
}
