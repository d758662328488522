// Archive members as their readers report them: a RAR archive that fails
// after some members keeps those members, and each writer tells the scan
// whether the archive could be read at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "app/CatalogTables.h"
#include "app/Main.h"
#include "app/MainScan.h"
#include "archive/RarWriter.h"
#include "platform/Prompt.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"
#include "support/BsdtarNames.h"
#include "support/TempDir.h"

#include "ArchiveTestSupport.h"

namespace fs = std::filesystem;

namespace {

using orbtest::BsdtarNames;

class ArchiveMembersKept : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\n");
        disc = dir.file("disc");
        fs::create_directories(disc);
        form = OpenArchiveScanForm(data, disc);
    }
    void TearDown() override
    {
        form.reset();
        VolumeService::SetCurrent(nullptr);
    }

    // The member names a writer adds for `file` of the disc, and its answer.
    std::vector<std::string> Members(char kind, const std::string &file, bool &read)
    {
        TExMemoryData &t = *form->ExMemoryData1;
        t.EmptyTable();
        const std::string local = disc + "/" + file;
        read = kind == 'z'   ? form->WriteZipFile(file, "e:\\", local)
               : kind == 'r' ? form->WriteRarFile(file, "e:\\", local)
                             : form->WriteCabFile(file, "e:\\", local);
        std::vector<std::string> names;
        for (t.First(); !t.Eof(); t.Next()) {
            EXPECT_EQ(t.FieldByName("Path").AsString(), "e:\\" + file + "\\");
            names.push_back(t.FieldByName("Name").AsString());
        }
        return names;
    }

    static std::vector<rartest::Rar4Member> Two()
    {
        rartest::Rar4Member a;
        a.name = "docs\\a.txt";
        a.data = "first member";
        rartest::Rar4Member b;
        b.name = "b.txt";
        b.data = "second member";
        return {a, b};
    }

    orbtest::TempDir dir;
    std::string data, disc;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
    std::unique_ptr<TMainForm> form;
};

} // namespace

TEST_F(ArchiveMembersKept, RarMembersReadBeforeALaterErrorAreKept)
{
    const std::vector<std::string> both{"docs\\a.txt", "b.txt"};
    bool read = false;

    // A packed archive comment the reader cannot decode.
    rartest::Rar4Options packedComment;
    packedComment.comment = "a comment";
    packedComment.commentMethod = 0x33;
    dir.write("disc/comment.rar", rartest::WriteRar4(Two(), packedComment));
    EXPECT_EQ(Members('r', "comment.rar", read), both);
    EXPECT_TRUE(read);

    // Cut short inside the third member's header: the third is lost, not the
    // first two.
    std::vector<rartest::Rar4Member> three = Two();
    rartest::Rar4Member c;
    c.name = "c.txt";
    c.data = std::string(500, 'c');
    three.push_back(c);
    const std::string whole = rartest::WriteRar4(three);
    const std::string cut = dir.write("disc/cut.rar", whole.substr(0, whole.size() - 7 - 500 - 10));
    EXPECT_EQ(Members('r', "cut.rar", read), both);
    EXPECT_TRUE(read);
    const std::vector<std::string> bsd = BsdtarNames(cut);
    ASSERT_GE(bsd.size(), 2u);
    EXPECT_EQ(bsd[0], "docs/a.txt");
    EXPECT_EQ(bsd[1], "b.txt");

    // Format 5 alike.
    rartest::Rar5Member a5;
    a5.name = "x/a5.txt";
    a5.data = "five";
    rartest::Rar5Member b5;
    b5.name = "b5.txt";
    b5.data = std::string(400, '5');
    const std::string w5 = rartest::WriteRar5({a5, b5});
    dir.write("disc/cut5.rar", w5.substr(0, w5.size() - 8 - 400 - 3));
    EXPECT_EQ(Members('r', "cut5.rar", read), (std::vector<std::string>{"x\\a5.txt"}));
    EXPECT_TRUE(read);
}

TEST_F(ArchiveMembersKept, UnreadableArchivesAddNothingAndSaySo)
{
    bool read = true;
    const std::string good = rartest::WriteRar4(Two());
    dir.write("disc/head.rar", good.substr(0, 7) + std::string(40, '\x33')); // main header broken
    EXPECT_TRUE(Members('r', "head.rar", read).empty());
    EXPECT_FALSE(read);
    dir.write("disc/junk.rar", "not an archive");
    EXPECT_TRUE(Members('r', "junk.rar", read).empty());
    EXPECT_FALSE(read);
    // The first member header broken: nothing of the archive could be read.
    std::string first = good;
    first[7 + 13 + 3] ^= 0x40;
    dir.write("disc/first.rar", first);
    EXPECT_TRUE(Members('r', "first.rar", read).empty());
    EXPECT_FALSE(read);
    dir.write("disc/junk.zip", "not an archive either");
    EXPECT_TRUE(Members('z', "junk.zip", read).empty());
    EXPECT_FALSE(read);
    dir.write("disc/junk.cab", "MSCF" + std::string(60, '\x7f'));
    EXPECT_TRUE(Members('c', "junk.cab", read).empty());
    EXPECT_FALSE(read);
    dir.write("disc/none.cab", "plain text");
    EXPECT_TRUE(Members('c', "none.cab", read).empty());
    EXPECT_FALSE(read);

    // Archives that were read, with or without members, say so.
    dir.write("disc/good.rar", good);
    EXPECT_EQ(Members('r', "good.rar", read).size(), 2u);
    EXPECT_TRUE(read);
    dir.write("disc/empty.rar", rartest::WriteRar4({}));
    EXPECT_TRUE(Members('r', "empty.rar", read).empty());
    EXPECT_TRUE(read);
    dir.write("src/t.txt", "t");
    ASSERT_EQ(std::system(("cd '" + dir.file("src") + "' && zip -q '" + disc + "/good.zip' t.txt").c_str()), 0);
    EXPECT_EQ(Members('z', "good.zip", read), (std::vector<std::string>{"t.txt"}));
    EXPECT_TRUE(read);
    EXPECT_TRUE(prompt.Asked().empty()) << "archive troubles show no message during a scan";
}
