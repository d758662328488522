// Commit journals as the program meets them: a move between two catalogues cut
// off after its journal is finished by whichever of them opens next; a start
// sweeps the stale temporary files of every catalogue of the data folder; a
// journal that is put aside or left alone is told to the user once.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"
#include "support/TestCrc32.h"
#include "util/FileCommit.h"

using namespace disctest;

namespace {

std::string Journal(const std::string &lines, size_t count)
{
    const std::string body = "orbalist-commit 1\n" + lines;
    char end[64];
    std::snprintf(end, sizeof end, "end %zu %08x\n", count, TestCrc32(body));
    return body + end;
}

// The prompts' texts from the `from`th on that hold `part`.
int Told(const ScriptedPrompt &prompt, const std::string &part, size_t from = 0)
{
    int n = 0;
    for (size_t i = from; i < prompt.Asked().size(); ++i)
        n += prompt.Asked()[i].text.toStdString().find(part) != std::string::npos;
    return n;
}

class CommitJournalTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        TCatalogBuilder a;
        a.Disc({"e: [DATA]", "7", "", "", 0, "", 30});
        a.withTree = true;
        a.tree = {{0, "e: [DATA]", 0, 1, NodeKindDisc}};
        a.Write(data, "Cat");
        TCatalogBuilder b;
        b.Disc({"g: [X]", "6", "", "", 0, "", 2});
        b.withTree = true;
        b.tree = {{0, "g: [X]", 0, 1, NodeKindDisc}};
        b.Write(data, "Other");
        Ini("Cat");
        journal = data + "/" + std::string(CommitJournalName);
    }
    // Files of the data folder that hold `mark` in their names.
    std::vector<std::string> Marked(const std::string &mark = "orbalist-") const
    {
        std::vector<std::string> found;
        for (const auto &e : fs::recursive_directory_iterator(data))
            if (e.path().filename().string().find(mark) != std::string::npos)
                found.push_back(fs::relative(e.path(), data).string());
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string journal;
};

TEST_F(CommitJournalTest, MoveStoppedAfterItsJournalIsFinishedWhenTheOtherCatalogueOpens)
{
    static std::string journalPath;
    journalPath = journal;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Stopped at the first step after the journal is on the disk.
        SetCommitStepHook([](int) {
            if (fs::exists(journalPath))
                ::raise(SIGKILL);
        });
        auto open = [&](const std::string &file, bool discs) {
            return OpenCatalogTable(file, discs ? DiscTableLayout() : FileTableLayout(),
                                    discs ? DiscTableOpenOptions(true) : FileTableOpenOptions(true))
                .table;
        };
        auto cf = open(data + "/Cat.d", false), cd = open(data + "/CdNames/Cat_cdname.d", true);
        auto of = open(data + "/Other.d", false), od = open(data + "/CdNames/Other_cdname.d", true);
        MoveDiscBetween(TDiscCatalog{cf.get(), cd.get(), data + "/CdNames/Cat_cdname.dat", true},
                        TDiscCatalog{of.get(), od.get(), data + "/CdNames/Other_cdname.dat", true}, "e: [DATA]");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the move ran to its end";
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_EQ(TCatalogOnDisk::Read(data, "Other").discNames, (Names{"g: [X]"}));
    // The other catalogue's disc table is opened: the whole move is finished, the source's files too.
    {
        const TLaterStart later;
        const TOpenTableResult discs =
            OpenCatalogTable(data + "/CdNames/Other_cdname.d", DiscTableLayout(), DiscTableOpenOptions(true));
        ASSERT_TRUE(discs.table);
        EXPECT_EQ(discs.table->RecordCount(), 2);
    }
    const TCatalogOnDisk cat = TCatalogOnDisk::Read(data, "Cat"), other = TCatalogOnDisk::Read(data, "Other");
    EXPECT_TRUE(cat.discNames.empty());
    EXPECT_EQ(cat.filesPerDisc.count("e: [DATA]"), 0u);
    EXPECT_EQ(other.discNames, (Names{"g: [X]", "e: [DATA]"}));
    EXPECT_EQ(other.filesPerDisc.at("e: [DATA]"), 30);
    EXPECT_EQ(Marked(), std::vector<std::string>{});
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(CommitJournalTest, StartRemovesStaleTemporariesOfEveryCatalogueButWhatAJournalNames)
{
    const std::vector<std::string> stale = {"Other.d.orbalist-tmp-aaaaaa", "Other.~d.orbalist-tmp-bbbbbb",
                                            "CdNames/Other_cdname.d.orbalist-tmp-cccccc",
                                            "CdNames/Other_cdname.dat.orbalist-tmp-dddddd"};
    // Not the program's: another file's name, no catalogue file, or no temporary name.
    const std::vector<std::string> others = {"notes.txt.orbalist-tmp-eeeeee", "CdNames/Other.d.orbalist-tmp-ffffff",
                                             "Other.d.orbalist-tmp-toolong1", "Other.d.orbalist-tmp-gg"};
    for (const std::string &f : stale)
        dir.write("DiVovData/" + f, "left by a stop");
    for (const std::string &f : others)
        dir.write("DiVovData/" + f, "someone's");
    {
        const TLaterStart later;
        auto form = Open();
    }
    std::vector<std::string> expected = others;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Marked(), expected);
    EXPECT_TRUE(prompt.Asked().empty());

    // A journal that still names a temporary file keeps it; one that does not
    // read keeps every one of its folder.
    for (const std::string &f : stale)
        dir.write("DiVovData/" + f, "left by a stop");
    dir.write("DiVovData/" + std::string(CommitJournalName),
              Journal("CdNames/Other_cdname.d.orbalist-tmp-cccccc\tCdNames/Other_cdname.d\n", 1));
    {
        const TLaterStart later;
        EXPECT_EQ(RemoveStaleCommitTemporaries(data), 3);
        EXPECT_TRUE(fs::exists(data + "/" + stale[2]));
        dir.write("DiVovData/" + stale[0], "left by a stop");
        dir.write("DiVovData/" + std::string(CommitJournalName), "orbalist-commit 1\ncut sh");
        EXPECT_EQ(RemoveStaleCommitTemporaries(data), 0);
    }
}

TEST_F(CommitJournalTest, DamagedAndForeignJournalsAtStartAreToldOnce)
{
    // Cut short: put aside, and said where.
    dir.write("DiVovData/" + std::string(CommitJournalName), "orbalist-commit 1\nCat.d.orb");
    Open().reset();
    EXPECT_EQ(Told(prompt, journal + ".damaged"), 1);
    EXPECT_TRUE(fs::exists(journal + ".damaged"));
    EXPECT_FALSE(fs::exists(journal));

    // Whole, but naming a file of the user's by its full name: left alone with
    // it, and told once although the start meets it at each table it opens.
    const std::string home = dir.file("home");
    dir.write("home/notes.txt", "my notes");
    dir.write("home/notes.txt.orbalist-tmp-zzzzzz", "someone else's");
    const std::string foreign =
        Journal(home + "/notes.txt.orbalist-tmp-zzzzzz\t" + home + "/notes.txt\n", 1);
    dir.write("DiVovData/" + std::string(CommitJournalName), foreign);
    const size_t before = prompt.Asked().size();
    {
        const TLaterStart later;
        Open().reset();
    }
    EXPECT_EQ(prompt.Asked().size(), before + 1);
    EXPECT_EQ(Told(prompt, journal + " ", before), 1);
    EXPECT_EQ(Told(prompt, home + "/notes.txt", before), 1);
    EXPECT_EQ(orbtest::readFile(home + "/notes.txt"), "my notes");
    EXPECT_EQ(orbtest::readFile(home + "/notes.txt.orbalist-tmp-zzzzzz"), "someone else's");
    EXPECT_EQ(orbtest::readFile(journal), foreign);
    EXPECT_EQ(TCatalogOnDisk::Read(data, "Cat").discNames, (Names{"e: [DATA]"}));
}

} // namespace
