#include "util/BaseFileUtils.h"

#include "support/TempDir.h"
#include "util/PeTestImage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(BaseFileUtils, NameSplitting)
{
    using Fn = std::string (*)(std::string_view);
    struct Case { Fn fn; const char *in, *out; };
    const Case cases[] = {
        {PathAddSeparator, "", "\\"}, {PathAddSeparator, "c:\\", "c:\\"}, {PathAddSeparator, "e:\\Photos", "e:\\Photos\\"},
        {PathAddSeparator, "/home/me", "/home/me/"}, {PathAddSeparator, "/", "/"},
        {PathAddSeparator, "data/CdNames", "data/CdNames/"}, {PathAddSeparator, "Photos", "Photos\\"},
        {PathAddSeparator, "c:", "c:\\"},
        {PathExtractFileDirWithDelimiter, "c:\\a\\b.txt", "c:\\a\\"}, {PathExtractFileDirWithDelimiter, "c:\\b.txt", "c:\\"},
        {PathExtractFileDirWithDelimiter, "/home/me/list.d", "/home/me/"}, {PathExtractFileDirWithDelimiter, "/list.d", "/"},
        {PathExtractFileDirWithDelimiter, "list.d", "\\"}, {PathExtractFileDirWithDelimiter, "c:\\a\\", "c:\\a\\"},
        {PathExtractFileNameWithoutExtension, "c:\\data\\Movies.d", "Movies"},
        {PathExtractFileNameWithoutExtension, "/home/me/Orbalist/Music.d", "Music"},
        {PathExtractFileNameWithoutExtension, "a.b.c", "a.b"},
        // Only a dot in the last name starts an extension; a final dot goes alone.
        {PathRemoveExtension, "c:\\my.dir\\readme", "c:\\my.dir\\readme"}, {PathRemoveExtension, "/my.dir/readme", "/my.dir/readme"},
        {PathRemoveExtension, "name.", "name"}, {PathRemoveExtension, "archive.tar.gz", "archive.tar"},
        {PathRemoveExtension, "c:name.txt", "c:name"},
        // The extension is the dot and at most three characters, or the whole name.
        {PathExtractExtension, "index.html", ".htm"}, {PathExtractExtension, "setup.exe", ".exe"},
        {PathExtractExtension, "a.b.zip", ".zip"}, {PathExtractExtension, "e:\\doc.old\\README", "e:\\doc.old\\README"},
        {PathExtractExtension, "Makefile", "Makefile"}, {PathExtractExtension, "x.Z", ".Z"}};
    for (const Case &c : cases)
        EXPECT_EQ(c.fn(c.in), c.out) << c.in;
}

TEST(BaseFileUtils, ExistenceAndSizes)
{
    orbtest::TempDir dir;
    const std::string file = dir.write("data.bin", std::string(1234, 'x'));
    dir.write("sub/inner.txt", "abc");
    dir.write("hidden/.profile", "x"); // a hidden name matches like any other
    fs::create_directories(dir.file("empty"));
    EXPECT_TRUE(IsDirectory(dir.file("sub")));
    EXPECT_FALSE(IsDirectory(file));
    EXPECT_FALSE(IsDirectory(dir.file("missing")));
    EXPECT_FALSE(FileExists(""));
    // Wildcards count in the last component; a folder exists with size 0.
    struct Case { std::string path; bool exists; int64_t size; };
    const Case cases[] = {{file, true, 1234}, {dir.str(), true, 0}, {dir.file("sub"), true, 0},
                          {dir.file("missing"), false, -1}, {dir.file("*.bin"), true, 1234},
                          {dir.file("d?ta.bin"), true, 1234}, {dir.file("*.*"), true, -2},
                          {dir.file("sub") + "/*.*", true, -2}, {dir.file("*.zip"), false, -2},
                          {dir.file("empty") + "/*.*", false, -2}, {dir.file("hidden") + "/*.*", true, -2}};
    for (const Case &c : cases) {
        EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
        if (c.size != -2) {
            EXPECT_EQ(GetSizeOfFile(c.path), c.size) << c.path;
        }
    }
}

// A size with all 32 low bits set (and sizes of 2 GiB and more) is a real
// size, not the "missing" answer: sizes are 64-bit.
TEST(BaseFileUtils, LargeSparseFilesAreNotMissing)
{
    orbtest::TempDir dir;
    const std::string path = dir.file("big.img");
    for (uint64_t size : {uint64_t(0xFFFFFFFFu), uint64_t(0x80000000u), uint64_t(0x1FFFFFFFFull)}) {
        std::error_code ec;
        { std::ofstream(path, std::ios::binary); }
        fs::resize_file(path, size, ec); // sparse: costs no disk space
        if (ec)
            GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
        EXPECT_EQ(GetSizeOfFile(path), static_cast<int64_t>(size));
        EXPECT_TRUE(FileExists(path));
    }
}

TEST(BaseFileUtils, SpecialFoldersFromXdgUserDirs)
{
    orbtest::TempDir dir;
    const std::string home = dir.file("home");
    fs::create_directories(home);
    const char *oldHome = std::getenv("HOME"), *oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedHome = oldHome ? oldHome : "", savedConfig = oldConfig ? oldConfig : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    // Nothing configured and no Documents folder: the home folder.
    EXPECT_EQ(GetPersonalFolder(), home);
    EXPECT_EQ(GetDesktopFolder(), home);
    fs::create_directories(home + "/Documents");
    EXPECT_EQ(GetPersonalFolder(), home + "/Documents");
    dir.write("home/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Plocha\"\n"
                                             "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\nXDG_MUSIC_DIR=\"$HOME/Hudba\"\n");
    EXPECT_EQ(GetDesktopFolder(), home + "/Plocha");
    EXPECT_EQ(GetPersonalFolder(), "/srv/docs");
    EXPECT_EQ(GetSpecialFolderPath(2), "");
    // XDG_CONFIG_HOME wins over ~/.config; a relative value is ignored.
    dir.write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"relative/x\"\nXDG_DESKTOP_DIR=\"$HOME\"\n");
    setenv("XDG_CONFIG_HOME", dir.file("cfg").c_str(), 1);
    EXPECT_EQ(GetPersonalFolder(), home + "/Documents");
    EXPECT_EQ(GetDesktopFolder(), home);
    setenv("HOME", savedHome.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(BaseFileUtils, ModulePathAndVersionRecord)
{
    const std::string self = GetModulePath();
    EXPECT_TRUE(FileExists(self));
    EXPECT_EQ(GetModulePath(0x1234), "");
    orbtest::TempDir dir;
    const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, 0x40005, 0x5A0000, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::string path = dir.write("kernel32.dll", orbtest::BuildPe({{16, 1, orbtest::VersionResource(fixed)}}).bytes);
    FixedFileVersionInfo info{};
    ASSERT_TRUE(GetFileVersionFixedInfo(path, info));
    EXPECT_EQ(info[0], 0xFEEF04BDu);
    EXPECT_EQ(info[2], 0x40005u);
    EXPECT_FALSE(GetFileVersionFixedInfo(self, info)); // not a Windows program
    EXPECT_FALSE(GetFileVersionFixedInfo(dir.file("missing.dll"), info));
    const std::string fifo = dir.file("pipe.dll");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(GetFileVersionFixedInfo(fifo, info)); // returns at once
}
