// The tree file: its bytes, damaged and too deep streams, and deep trees
// loaded, saved and freed by the window without recursion.
#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"
#include "ui_MainForm.h"

using namespace disctest;

namespace {

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s += static_cast<char>(b);
    return s;
}

std::vector<TTreeRecord> GroupWithTwoDiscs()
{
    return {{0, "Music", 2, 2, NodeKindGroup}, {1, "e: [A]", 0, 1, NodeKindDisc}, {1, "e: [B]", 0, 1, NodeKindDisc}};
}

// A chain of folder nodes under one disc: node k at level k.
std::vector<TTreeRecord> Chain(int depth)
{
    std::vector<TTreeRecord> n = {{0, "e: [DEEP]", 0, 1, NodeKindDisc}};
    for (int k = 1; k <= depth; ++k)
        n.push_back({k, "f" + std::to_string(k), 0, 1, NodeKindNone});
    return n;
}

} // namespace

TEST(TreeFile, StreamsHaveTheseBytes)
{
    const struct {
        const char *name;
        std::string bytes;
        std::vector<TTreeRecord> records;
        bool written; // false: only read (written otherwise today)
    } cases[] = {
        {"group with two discs",
         Bytes({1}) + Bytes({2, 0, 6, 5}) + "Music" + Bytes({2, 2, 2, 2, 2, 1}) + Bytes({2, 1, 6, 6}) + "e: [A]" +
             Bytes({2, 0, 2, 1, 2, 0}) + Bytes({2, 1, 6, 6}) + "e: [B]" + Bytes({2, 0, 2, 1, 2, 0}) + Bytes({0}),
         GroupWithTwoDiscs(), true},
        {"integers in their smallest form",
         Bytes({1, 2, 0, 6, 1, 'x', 2, 127, 3, 128, 0, 2, 0, 2, 0, 6, 1, 'y', 3, 0x00, 0x80, 4, 0x00, 0x80, 0, 0, 2, 0,
                0}),
         {{0, "x", 127, 128, NodeKindDisc}, {0, "y", -32768, 32768, NodeKindDisc}}, true},
        // "Hudba č" in Windows-1250, as a tree file written on Windows holds it.
        {"old code page", Bytes({1, 2, 0, 6, 7}) + "Hudba \xE8" + Bytes({2, 0, 2, 1, 2, 0, 0}),
         {{0, "Hudba č", 0, 1, NodeKindDisc}}, false},
        {"unknown kind", Bytes({1, 2, 0, 6, 1, 'a', 2, 0, 2, 1, 2, 7, 0}), {{0, "a", 0, 1, NodeKindNone}}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.written) {
            EXPECT_EQ(EncodeTreeStream(c.records), c.bytes);
        }
        std::vector<TTreeRecord> back;
        ASSERT_TRUE(DecodeTreeStream(c.bytes, back));
        EXPECT_EQ(back, c.records);
    }
}

TEST(TreeFile, TextsFolderNodesAndLevelsRoundTrip)
{
    // Up to 255 bytes a text takes the short form with a one-byte length.
    for (size_t size : {255u, 256u}) {
        std::vector<TTreeRecord> n = {{0, std::string(size, 'a'), 0, 1, NodeKindDisc},
                                      {0, "d: [Hudba – Bez názvu]", 0, 1, NodeKindDisc}};
        const std::string s = EncodeTreeStream(n);
        EXPECT_EQ(static_cast<uint8_t>(s[3]), size <= 255 ? treestream::vaString : treestream::vaLString) << size;
        std::vector<TTreeRecord> back;
        ASSERT_TRUE(DecodeTreeStream(s, back));
        EXPECT_EQ(back, n);
    }
    // A folder under a disc must not come back as a disc (nor as the group before it).
    std::vector<TTreeRecord> n = {{0, "Group", 2, 2, NodeKindGroup}, {1, "e: [A]", 0, 1, NodeKindDisc},
                                  {2, "Photos", 0, 1, NodeKindNone}, {0, "Loose", 0, 1, NodeKindNone}};
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(EncodeTreeStream(n), back));
    EXPECT_EQ(back, n);
    EXPECT_EQ(TreeParents(back), (std::vector<int>{-1, 0, 1, -1}));
}

TEST(TreeFile, LevelRules)
{
    // 0, 1, 2, 3, then back to 0: the last node is a root.
    std::vector<TTreeRecord> n;
    for (int level : {0, 1, 2, 3, 0, 1, 1, 2, 1})
        n.push_back({level, "n", 0, 0, NodeKindNone});
    std::vector<int> depth;
    EXPECT_EQ(TreeParents(n, &depth), (std::vector<int>{-1, 0, 1, 2, -1, 4, 4, 6, 4}));
    // A jump of several levels down makes only a child of the current node.
    std::vector<TTreeRecord> jump = {{0, "a", 0, 0, 0}, {3, "b", 0, 0, 0}, {3, "c", 0, 0, 0}, {2, "d", 0, 0, 0}};
    EXPECT_EQ(TreeParents(jump, &depth), (std::vector<int>{-1, 0, 1, 1}));
    EXPECT_EQ(depth, (std::vector<int>{0, 1, 2, 2}));
}

TEST(TreeFile, DamagedStreamsAreRefusedWithoutReadingPastTheEnd)
{
    const std::string good = EncodeTreeStream(GroupWithTwoDiscs());
    // Every truncation fails cleanly.
    for (size_t len = 0; len < good.size(); ++len) {
        std::vector<TTreeRecord> back{{0, "old", 0, 0, 0}};
        std::string error;
        EXPECT_FALSE(DecodeTreeStream(std::string_view(good).substr(0, len), back, &error)) << len;
        EXPECT_TRUE(back.empty());
        EXPECT_FALSE(error.empty());
    }
    // A string length beyond the data, a long-string length of 4 GB, a wrong
    // list marker, a text where an integer belongs, a negative level.
    for (const std::string &b : {Bytes({1, 2, 0, 6, 200, 'a', 2, 0, 2, 0, 2, 0, 0}),
                                 Bytes({1, 2, 0, 12, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}), Bytes({7, 0}),
                                 Bytes({1, 6, 1, 'a', 0}), Bytes({1, 2, 0xFF, 6, 1, 'a', 2, 0, 2, 0, 2, 0, 0})}) {
        std::vector<TTreeRecord> back;
        EXPECT_FALSE(DecodeTreeStream(b, back));
    }
    // Every single-byte corruption either decodes or fails, never crashes.
    for (size_t i = 0; i < good.size(); ++i)
        for (int v : {0, 1, 2, 3, 4, 6, 12, 0x7F, 0xFF}) {
            std::string b = good;
            b[i] = static_cast<char>(v);
            std::vector<TTreeRecord> back;
            DecodeTreeStream(b, back);
        }
}

TEST(TreeFile, FileRoundTripWithoutLeftovers)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Music_cdname.dat");
    ASSERT_TRUE(WriteTreeFile(f, GroupWithTwoDiscs()));
    // Reading at a later start removes what an interrupted save left, and nothing of the user's.
    dir.write("Music_cdname.dat.orbalist-tmp-a1B2c3", "cut short");
    dir.write("Music_cdname.dat.a1B2c3", "the user's");
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(ReadTreeFile(f, back));
    EXPECT_EQ(Snapshot(dir.str()).size(), 3u) << "written after this process started";
    {
        const TLaterStart laterStart;
        ASSERT_TRUE(ReadTreeFile(f, back));
    }
    EXPECT_EQ(back, GroupWithTwoDiscs());
    const auto left = Snapshot(dir.str());
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(left.count("Music_cdname.dat.a1B2c3"), 1u);
    EXPECT_FALSE(ReadTreeFile(dir.file("missing.dat"), back));
    // A folder that cannot be written leaves no file behind.
    EXPECT_FALSE(WriteTreeFile(dir.file("no/such/folder/x.dat"), GroupWithTwoDiscs()));
}

TEST(TreeFileDepth, DeepestAllowedReadsAndOneLevelMoreIsDamage)
{
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(EncodeTreeStream(Chain(MaxTreeDepth)), back));
    EXPECT_EQ(back.size(), size_t(MaxTreeDepth) + 1);
    std::string error;
    EXPECT_FALSE(DecodeTreeStream(EncodeTreeStream(Chain(MaxTreeDepth + 1)), back, &error));
    EXPECT_TRUE(back.empty());
    EXPECT_NE(error.find("deeper"), std::string::npos) << error;
    // Levels that jump far ahead still add one child each: depth counts nodes, not numbers.
    std::vector<TTreeRecord> jumps = {{0, "a", 0, 1, NodeKindDisc}, {1000000, "b", 0, 1, NodeKindNone},
                                      {2000000, "c", 0, 1, NodeKindNone}};
    ASSERT_TRUE(DecodeTreeStream(EncodeTreeStream(jumps), back));
    std::vector<int> depths;
    TreeParents(back, &depths);
    EXPECT_EQ(depths, (std::vector<int>{0, 1, 2}));
}

class TreeDepthTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        Ini("Deep");
        TCatalogBuilder b;
        b.Disc({"e: [DEEP]", "1", "", "", 0, "", 1});
        b.Write(data, "Deep");
    }
    std::string TreeFile() const { return data + "/CdNames/Deep_cdname.dat"; }
};

TEST_F(TreeDepthTest, DeepTreeLoadsSavesTheSameBytesAndClosesTheWindow)
{
    const std::string bytes = EncodeTreeStream(Chain(MaxTreeDepth));
    dir.write("DiVovData/CdNames/Deep_cdname.dat", bytes);
    auto form = Open();
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *n = tree->topLevelItem(0);
    int depth = 0;
    for (; n->childCount() == 1; ++depth)
        n = n->child(0);
    EXPECT_EQ(depth, MaxTreeDepth);
    fs::remove(TreeFile());
    ASSERT_TRUE(form->SaveTree());
    EXPECT_EQ(orbtest::readFile(TreeFile()), bytes);
    EXPECT_TRUE(prompt.Asked().empty());
    form.reset(); // the window closes with the whole tree in it
}

TEST_F(TreeDepthTest, TooDeepTreeFileIsTreatedAsDamaged)
{
    dir.write("DiVovData/CdNames/Deep_cdname.dat", EncodeTreeStream(Chain(50000)));
    auto form = Open();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(105));
    ASSERT_EQ(form->ui->TreeView1->topLevelItemCount(), 1) << "the tree comes from the disc table";
    // At most the disc's one folder, shown from the file list: nothing of the file.
    QTreeWidgetItem *disc = form->ui->TreeView1->topLevelItem(0);
    EXPECT_LE(disc->childCount(), 1);
    EXPECT_EQ(disc->childCount() == 1 ? disc->child(0)->childCount() : 0, 0);
    EXPECT_TRUE(fs::exists(TreeFile() + ".bad")) << "the file is put aside, not lost";
}

TEST(TreeViewClear, VeryDeepTreeIsFreedWithoutRecursion)
{
    // Far deeper than any file may give: a tree grown in the window is freed all the same.
    QTreeWidget tree;
    QTreeWidgetItem *n = new QTreeWidgetItem(&tree);
    for (int k = 0; k < 200000; ++k)
        n = new QTreeWidgetItem(n);
    TMainForm::ClearTreeView(&tree);
    EXPECT_EQ(tree.topLevelItemCount(), 0);
}
