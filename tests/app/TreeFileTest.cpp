#include <gtest/gtest.h>

#include "app/TreeFile.h"
#include "support/TempDir.h"

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
    return {
        {0, "Music", 2, 2, NodeKindGroup},
        {1, "e: [A]", 0, 1, NodeKindDisc},
        {1, "e: [B]", 0, 1, NodeKindDisc},
    };
}

} // namespace

TEST(TreeFile, GroupWithTwoDiscsHasTheseBytes)
{
    const std::string expected = Bytes({1}) +
        Bytes({2, 0, 6, 5}) + "Music" + Bytes({2, 2, 2, 2, 2, 1}) +
        Bytes({2, 1, 6, 6}) + "e: [A]" + Bytes({2, 0, 2, 1, 2, 0}) +
        Bytes({2, 1, 6, 6}) + "e: [B]" + Bytes({2, 0, 2, 1, 2, 0}) + Bytes({0});
    EXPECT_EQ(EncodeTreeStream(GroupWithTwoDiscs()), expected);

    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(expected, back));
    EXPECT_EQ(back, GroupWithTwoDiscs());
    // One root with two children; the root is the group.
    EXPECT_EQ(TreeParents(back), (std::vector<int>{-1, 0, 0}));
    EXPECT_EQ(back[0].kind, NodeKindGroup);
}

TEST(TreeFile, IntegersTakeTheirSmallestForm)
{
    std::vector<TTreeRecord> n = {{0, "x", 127, 128, NodeKindDisc}, {0, "y", -32768, 32768, NodeKindDisc}};
    const std::string s = EncodeTreeStream(n);
    EXPECT_EQ(s, Bytes({1, 2, 0, 6, 1, 'x', 2, 127, 3, 128, 0, 2, 0,
                        2, 0, 6, 1, 'y', 3, 0x00, 0x80, 4, 0x00, 0x80, 0, 0, 2, 0, 0}));
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(s, back));
    EXPECT_EQ(back, n);
}

TEST(TreeFile, LongTextsAndNonAsciiRoundTrip)
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
}

TEST(TreeFile, OldCodePageTextIsDecoded)
{
    // "Hudba č" in Windows-1250, as a tree file written on Windows holds it.
    const std::string s = Bytes({1, 2, 0, 6, 7}) + "Hudba \xE8" + Bytes({2, 0, 2, 1, 2, 0, 0});
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(s, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].text, "Hudba č");
}

TEST(TreeFile, FolderNodesAreWrittenWithoutKind)
{
    // A folder under a disc must not come back as a disc (nor as the group
    // before it).
    std::vector<TTreeRecord> n = {{0, "Group", 2, 2, NodeKindGroup},
                                  {1, "e: [A]", 0, 1, NodeKindDisc},
                                  {2, "Photos", 0, 1, NodeKindNone},
                                  {0, "Loose", 0, 1, NodeKindNone}};
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(EncodeTreeStream(n), back));
    EXPECT_EQ(back, n);
}

TEST(TreeFile, UnknownKindReadsAsNoKind)
{
    const std::string s = Bytes({1, 2, 0, 6, 1, 'a', 2, 0, 2, 1, 2, 7, 0});
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(s, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].kind, NodeKindNone);
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
    std::vector<std::string> bad = {
        Bytes({1, 2, 0, 6, 200, 'a', 2, 0, 2, 0, 2, 0, 0}),
        Bytes({1, 2, 0, 12, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}),
        Bytes({7, 0}),
        Bytes({1, 6, 1, 'a', 0}),
        Bytes({1, 2, 0xFF, 6, 1, 'a', 2, 0, 2, 0, 2, 0, 0}),
    };
    for (const std::string &b : bad) {
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

TEST(TreeFile, FileRoundTripAndNoLeftovers)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Music_cdname.dat");
    ASSERT_TRUE(WriteTreeFile(f, GroupWithTwoDiscs()));
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(ReadTreeFile(f, back));
    EXPECT_EQ(back, GroupWithTwoDiscs());
    EXPECT_FALSE(std::filesystem::exists(f + ".tmp"));
    EXPECT_FALSE(ReadTreeFile(dir.file("missing.dat"), back));
    // A folder that cannot be written leaves no file behind.
    EXPECT_FALSE(WriteTreeFile(dir.file("no/such/folder/x.dat"), GroupWithTwoDiscs()));
}
