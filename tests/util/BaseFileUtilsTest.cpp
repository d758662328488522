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
    EXPECT_EQ(PathAddSeparator(""), "\\");
    EXPECT_EQ(PathAddSeparator("c:\\"), "c:\\");
    EXPECT_EQ(PathAddSeparator("e:\\Photos"), "e:\\Photos\\");
    EXPECT_EQ(PathAddSeparator("/home/me"), "/home/me/");
    EXPECT_EQ(PathAddSeparator("/"), "/");
    EXPECT_EQ(PathAddSeparator("data/CdNames"), "data/CdNames/");
    EXPECT_EQ(PathAddSeparator("Photos"), "Photos\\");
    EXPECT_EQ(PathAddSeparator("c:"), "c:\\");

    EXPECT_EQ(PathExtractFileDirWithDelimiter("c:\\a\\b.txt"), "c:\\a\\");
    EXPECT_EQ(PathExtractFileDirWithDelimiter("c:\\b.txt"), "c:\\");
    EXPECT_EQ(PathExtractFileDirWithDelimiter("/home/me/list.d"), "/home/me/");
    EXPECT_EQ(PathExtractFileDirWithDelimiter("/list.d"), "/");
    EXPECT_EQ(PathExtractFileDirWithDelimiter("list.d"), "\\");
    EXPECT_EQ(PathExtractFileDirWithDelimiter("c:\\a\\"), "c:\\a\\");

    EXPECT_EQ(PathExtractFileNameWithoutExtension("c:\\data\\Movies.d"), "Movies");
    EXPECT_EQ(PathExtractFileNameWithoutExtension("/home/me/Orbalist/Music.d"), "Music");
    EXPECT_EQ(PathExtractFileNameWithoutExtension("a.b.c"), "a.b");

    // Only a dot in the last name starts an extension; a final dot goes alone.
    EXPECT_EQ(PathRemoveExtension("c:\\my.dir\\readme"), "c:\\my.dir\\readme");
    EXPECT_EQ(PathRemoveExtension("/my.dir/readme"), "/my.dir/readme");
    EXPECT_EQ(PathRemoveExtension("name."), "name");
    EXPECT_EQ(PathRemoveExtension("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(PathRemoveExtension("c:name.txt"), "c:name");

    // The extension is the dot and at most three characters, or the whole name.
    EXPECT_EQ(PathExtractExtension("index.html"), ".htm");
    EXPECT_EQ(PathExtractExtension("setup.exe"), ".exe");
    EXPECT_EQ(PathExtractExtension("a.b.zip"), ".zip");
    EXPECT_EQ(PathExtractExtension("e:\\doc.old\\README"), "e:\\doc.old\\README");
    EXPECT_EQ(PathExtractExtension("Makefile"), "Makefile");
    EXPECT_EQ(PathExtractExtension("x.Z"), ".Z");
}

TEST(BaseFileUtils, ExistenceAndSizes)
{
    orbtest::TempDir dir;
    const std::string file = dir.write("data.bin", std::string(1234, 'x'));
    dir.write("sub/inner.txt", "abc");
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(GetSizeOfFile(file), 1234);
    EXPECT_TRUE(FileExists(dir.str()));          // a folder exists
    EXPECT_EQ(GetSizeOfFile(dir.file("sub")), 0);
    EXPECT_TRUE(IsDirectory(dir.file("sub")));
    EXPECT_FALSE(IsDirectory(file));
    EXPECT_FALSE(IsDirectory(dir.file("missing")));
    EXPECT_FALSE(FileExists(dir.file("missing")));
    EXPECT_EQ(GetSizeOfFile(dir.file("missing")), -1);
    EXPECT_FALSE(FileExists(""));

    // Wildcards in the last component.
    EXPECT_TRUE(FileExists(dir.file("*.*")));
    EXPECT_TRUE(FileExists(dir.file("sub") + "/*.*"));
    EXPECT_TRUE(FileExists(dir.file("d?ta.bin")));
    EXPECT_EQ(GetSizeOfFile(dir.file("*.bin")), 1234);
    EXPECT_FALSE(FileExists(dir.file("*.zip")));
    fs::create_directories(dir.file("empty"));
    EXPECT_FALSE(FileExists(dir.file("empty") + "/*.*"));
    dir.write("hidden/.profile", "x"); // a hidden name matches like any other
    EXPECT_TRUE(FileExists(dir.file("hidden") + "/*.*"));
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
    const char *oldHome = std::getenv("HOME");
    const char *oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const std::string savedConfig = oldConfig ? oldConfig : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");

    // Nothing configured and no Documents folder: the home folder.
    EXPECT_EQ(GetPersonalFolder(), home);
    EXPECT_EQ(GetDesktopFolder(), home);
    fs::create_directories(home + "/Documents");
    EXPECT_EQ(GetPersonalFolder(), home + "/Documents");

    dir.write("home/.config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\n"
              "XDG_DESKTOP_DIR=\"$HOME/Plocha\"\n"
              "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n"
              "XDG_MUSIC_DIR=\"$HOME/Hudba\"\n");
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
