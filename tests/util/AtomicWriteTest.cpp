#include "util/BaseFileUtils.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

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
