// The letter map reads back what it wrote, names every line it cannot use,
// and a map file made by the program says how to bind a folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/VolumeLetters.h"
#include "platform/VolumeSystem.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(LetterMapSafety, LineRefusedAsVolumeBoundTwiceStaysRefusedAfterATakeOver)
{
    // Every letter is held; "e" names uuid:OLD-d a second time and is refused.
    std::string text = "d=uuid:OLD-d\ne=uuid:OLD-d\n";
    for (char c = 'f'; c <= 'z'; ++c)
        text += std::string(1, c) + "=uuid:OLD-" + c + "\n";
    text += "e=uuid:KEEP\n"; // the refused line holds no letter: e is free for this one
    VolumeLetterMap map;
    std::string problem;
    map.Parse(text, problem);
    EXPECT_NE(problem.find("line 2 (e=uuid:OLD-d): volume bound twice"), std::string::npos) << problem;
    EXPECT_EQ(map.LetterOf("uuid:KEEP"), 'e');
    // A new volume comes while uuid:KEEP is present and every other volume
    // away: it must not take d (which the refused line also names, and which
    // would then steal e from uuid:KEEP at the next load), but f.
    bool changed = false;
    auto got = map.Assign({"uuid:KEEP", "uuid:NEW"}, changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(got["uuid:KEEP"], 'e');
    EXPECT_EQ(got["uuid:NEW"], 'f');
    // What was written reads back the same: the refused line stays refused,
    // and uuid:KEEP keeps its letter.
    VolumeLetterMap again;
    std::string problemAgain;
    again.Parse(map.Text(), problemAgain);
    EXPECT_NE(problemAgain.find("line 2 (e=uuid:OLD-d): volume bound twice"), std::string::npos) << problemAgain;
    EXPECT_EQ(again.LetterOf("uuid:OLD-d"), 'd');
    EXPECT_EQ(again.LetterOf("uuid:KEEP"), 'e');
    EXPECT_EQ(again.LetterOf("uuid:NEW"), 'f');
    EXPECT_EQ(again.Text(), map.Text());
}

TEST(LetterMapSafety, EveryMistakeIsNamedWithItsLine)
{
    orbtest::TempDir dir;
    dir.write("photos/p.jpg", "x");
    dir.write("afile", "x");
    const std::string text = "d=folder:" + dir.file("photos") + "\n" // good
                             "d=folder:" + dir.file("photos") + "2\n" // letter twice
                             "c=folder:/srv\n"
                             "e=folder:relative/path\n"
                             "f=folder:" + dir.file("missing") + "\n"
                             "g=folder:" + dir.file("afile") + "\n"
                             "this is garbage\n";
    VolumeLetterMap map;
    std::string problem;
    map.Parse(text, problem);
    const std::string all = problem + "\n" + map.FolderProblems();
    EXPECT_EQ(all.find("line 1 "), std::string::npos) << all;
    for (const char *want : {"line 2 (d=folder:", "letter bound twice", "line 3 (c=folder:/srv): c: is the root",
                             "line 4 (e=folder:relative/path): a bound folder must be an absolute path",
                             "line 5 (f=folder:", "does not exist", "line 6 (g=folder:", "a file, not a folder",
                             "line 7 (this is garbage): no drive letter"})
        EXPECT_NE(all.find(want), std::string::npos) << want << "\n" << all;
    // The good line applies; the missing folder keeps its letter for when it comes.
    EXPECT_EQ(map.FolderBindings().at('d'), dir.file("photos"));
    EXPECT_EQ(map.LetterOf("folder:" + dir.file("missing")), 'f');
}

TEST(LetterMapSafety, MapFileMadeByTheProgramSaysHowToBindAFolder)
{
    orbtest::TempDir dir;
    fs::create_directories(dir.path() / "data");
    SystemVolumeOptions o;
    o.mountInfoPath = dir.write("mountinfo", "1 0 254:0 / / rw - ext4 /dev/vda rw\n");
    o.sysRoot = dir.file("sys");
    o.devRoot = dir.file("dev");
    o.pollIntervalMs = 0;
    // First kept in memory (a first start), then given its file.
    SystemVolumeService svc(o);
    EXPECT_FALSE(fs::exists(dir.file("data/driveletters.map")));
    svc.SetLetterMapPath(dir.file("data/driveletters.map"));
    const std::string text = orbtest::readFile(dir.file("data/driveletters.map"));
    EXPECT_EQ(text.rfind("# ", 0), 0u) << text;
    EXPECT_NE(text.find("t=folder:/"), std::string::npos) << text;
    EXPECT_TRUE(svc.LetterMapProblem().empty()) << svc.LetterMapProblem();
    // A folder bound by the user, and a mistake: the good line applies, the
    // mistake is reported, and the user's lines are kept as they stand.
    dir.write("photos/a.jpg", "x");
    dir.write("data/driveletters.map", text + "t=folder:" + dir.file("photos") + "\nt=folder:/tmp\n");
    svc.Refresh();
    EXPECT_TRUE(svc.Drive('t').has_value());
    EXPECT_NE(svc.LetterMapProblem().find("letter bound twice"), std::string::npos) << svc.LetterMapProblem();
    EXPECT_EQ(orbtest::readFile(dir.file("data/driveletters.map")),
              text + "t=folder:" + dir.file("photos") + "\nt=folder:/tmp\n");
}
