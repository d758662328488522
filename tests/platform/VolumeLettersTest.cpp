// The letter map reads back what it wrote, names every line it cannot use, and a map file
// made by the program says how to bind a folder.
#include "platform/VolumeLetters.h"
#include "platform/VolumeSystem.h"
#include "support/RootOnlyVolumes.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

TEST(VolumeLetters, NewVolumesTakeTheNextFreeLetterFromD)
{
    VolumeLetterMap map;
    std::string problem;
    map.Parse("# my drives\ne=optical:/dev/sr0\nt=folder:/srv/photos\n", problem);
    EXPECT_TRUE(problem.empty()) << problem;
    bool changed = false;
    auto got = map.Assign({"uuid:AAAA-0001", "optical:/dev/sr0", "uuid:BBBB-0002"}, changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(got["uuid:AAAA-0001"], 'd');
    EXPECT_EQ(got["optical:/dev/sr0"], 'e');
    EXPECT_EQ(got["uuid:BBBB-0002"], 'f');
    // Comments and the folder binding stay, new bindings follow.
    EXPECT_EQ(map.Text(), "# my drives\ne=optical:/dev/sr0\nt=folder:/srv/photos\nd=uuid:AAAA-0001\n"
                          "f=uuid:BBBB-0002\n");
    // Asking again changes nothing.
    got = map.Assign({"uuid:BBBB-0002", "uuid:AAAA-0001"}, changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(got["uuid:BBBB-0002"], 'f');
    EXPECT_EQ(map.FolderBindings(), (std::map<char, std::string>{{'t', "/srv/photos"}}));
}

TEST(VolumeLetters, UnusableLinesAreReportedKeptAndIgnored)
{
    VolumeLetterMap map;
    std::string problem;
    map.Parse("c=uuid:ROOT\n"         // c: is the root
              "1=uuid:X\n"            // no letter
              "d=something\n"         // unknown kind of volume
              "e=folder:relative\n"   // a folder must be absolute
              "F=uuid:ONE\n"          // upper case letter is fine
              "f=uuid:TWO\n"          // letter bound twice
              "g=uuid:ONE\n"          // volume bound twice
              "garbage\n"
              "h=uuid:\n",            // a kind without a volume
              problem);
    // Each refused line is reported once, with its reason.
    std::map<int, std::string> reasons;
    std::istringstream lines(problem);
    for (std::string l; std::getline(lines, l);)
        reasons[std::stoi(l.substr(5))] = l.substr(l.find("): ") + 3);
    EXPECT_EQ(reasons, (std::map<int, std::string>{{1, "c: is the root file system"},
                                                   {2, "no drive letter"},
                                                   {3, "unknown volume"},
                                                   {4, "a bound folder must be an absolute path (beginning with /)"},
                                                   {6, "letter bound twice"},
                                                   {7, "volume bound twice"},
                                                   {8, "no drive letter"},
                                                   {9, "unknown volume"}}))
        << problem;
    EXPECT_EQ(map.LetterOf("uuid:ONE"), 'f');
    EXPECT_FALSE(map.LetterOf("uuid:TWO"));
    bool changed;
    auto got = map.Assign({"uuid:TWO", "uuid:ROOT"}, changed);
    EXPECT_EQ(got["uuid:TWO"], 'd'); // d: was only held by an unusable line
    EXPECT_EQ(got["uuid:ROOT"], 'e');
    std::string text = map.Text();
    EXPECT_NE(text.find("garbage\n"), std::string::npos);
    EXPECT_NE(text.find("c=uuid:ROOT\n"), std::string::npos);
}

TEST(VolumeLetters, WhenLettersRunOutAnAbsentVolumeGivesUpItsLetter)
{
    VolumeLetterMap map;
    std::string problem, text;
    for (char c = 'd'; c <= 'z'; ++c)
        text += std::string(1, c) + "=uuid:OLD-" + c + "\n";
    text += "a=folder:/srv/a\n";
    map.Parse(text, problem);
    ASSERT_TRUE(problem.empty()) << problem;
    bool changed;
    // d: and e: are present; f: is the lowest absent volume.
    auto got = map.Assign({"uuid:OLD-d", "uuid:OLD-e", "uuid:NEW"}, changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(got["uuid:NEW"], 'f');
    EXPECT_FALSE(map.LetterOf("uuid:OLD-f"));
    EXPECT_EQ(map.FolderBindings().at('a'), "/srv/a"); // folders keep their letter
    // Every letter held by a present volume: the newcomer gets none.
    std::vector<std::string> all;
    for (char c = 'd'; c <= 'z'; ++c)
        all.push_back(c == 'f' ? "uuid:NEW" : std::string("uuid:OLD-") + c);
    all.push_back("uuid:ANOTHER");
    got = map.Assign(all, changed);
    EXPECT_FALSE(got.count("uuid:ANOTHER"));
}

TEST(VolumeLetters, HandWrittenLinesAndOddFolderNames)
{
    VolumeLetterMap map;
    std::string problem;
    // Blanks around "=" and Windows line ends are fine; a folder name keeps
    // its trailing blank.
    map.Parse("  t = folder:/srv/my photos \r\nu=ram:/mnt/a\\nb\n", problem);
    EXPECT_TRUE(problem.empty()) << problem;
    EXPECT_EQ(map.FolderBindings().at('t'), "/srv/my photos ");
    EXPECT_EQ(map.LetterOf("ram:/mnt/a\\nb"), 'u');
    VolumeLetterMap again;
    again.Parse(map.Text(), problem);
    EXPECT_EQ(again.FolderBindings().at('t'), "/srv/my photos ");
}

TEST(VolumeLetters, SavesWholeFilesOnly)
{
    orbtest::TempDir dir;
    VolumeLetterMap map;
    std::string problem;
    map.Parse("d=uuid:AAAA-0001\n", problem);
    auto path = dir.file("driveletters.map");
    ASSERT_TRUE(map.Save(path, problem)) << problem;
    EXPECT_EQ(orbtest::readFile(path), "d=uuid:AAAA-0001\n");
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    VolumeLetterMap again;
    ASSERT_TRUE(again.Load(path, problem));
    EXPECT_EQ(again.LetterOf("uuid:AAAA-0001"), 'd');
    // A missing file is an empty map; a folder that cannot take the file fails
    // and leaves nothing behind.
    VolumeLetterMap none;
    EXPECT_TRUE(none.Load(dir.file("nothing.map"), problem));
    EXPECT_TRUE(none.Text().empty());
    EXPECT_FALSE(map.Save(dir.file("no/such/folder/map"), problem));
    EXPECT_NE(problem.find("cannot be written"), std::string::npos);
}

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
    // First kept in memory (a first start), then given its file.
    SystemVolumeService svc(orbtest::RootOnlyVolumeOptions(dir));
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
