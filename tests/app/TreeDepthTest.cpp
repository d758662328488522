// Deep trees: a tree file is bounded in depth (deeper is damage), and loading, saving
// and closing the window walk the tree without recursion.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <filesystem>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/TreeFile.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"

namespace fs = std::filesystem;

namespace {

// A chain of folder nodes under one disc: node k at level k.
std::vector<TTreeRecord> Chain(int depth)
{
    std::vector<TTreeRecord> n;
    n.reserve(size_t(depth) + 1);
    n.push_back({0, "e: [DEEP]", 0, 1, NodeKindDisc});
    for (int k = 1; k <= depth; ++k)
        n.push_back({k, "f" + std::to_string(k), 0, 1, NodeKindNone});
    return n;
}

class TreeDepthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Deep\n");
        TFlatTable f;
        AddFieldDefs(f, FileTableLayout());
        f.Open();
        f.Append();
        f.FieldByName("Path").SetAsString("e:\\");
        f.FieldByName("Name").SetAsString("f1");
        f.FieldByName("Namecd").SetAsString("e: [DEEP]");
        f.FieldByName("Type").SetAsInteger(0);
        f.Post();
        f.SaveToFile(data + "/Deep.d");
        TFlatTable d;
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        d.Append();
        d.FieldByName("CdName").SetAsString("e: [DEEP]");
        d.Post();
        d.SaveToFile(data + "/CdNames/Deep_cdname.d");
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }
    std::string TreeFile() const { return data + "/CdNames/Deep_cdname.dat"; }

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

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

TEST_F(TreeDepthTest, DeepTreeLoadsSavesTheSameBytesAndClosesTheWindow)
{
    const std::string bytes = EncodeTreeStream(Chain(MaxTreeDepth));
    dir.write("DiVovData/CdNames/Deep_cdname.dat", bytes);
    {
        TMainForm form(nullptr, data);
        form.FormShow();
        QTreeWidget *tree = form.ui->TreeView1;
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        QTreeWidgetItem *n = tree->topLevelItem(0);
        int depth = 0;
        while (n->childCount() == 1) {
            n = n->child(0);
            ++depth;
        }
        EXPECT_EQ(depth, MaxTreeDepth);
        fs::remove(TreeFile());
        ASSERT_TRUE(form.SaveTree());
        EXPECT_EQ(orbtest::readFile(TreeFile()), bytes);
        EXPECT_TRUE(prompt.Asked().empty());
    } // the window closes with the whole tree in it
}

TEST_F(TreeDepthTest, TooDeepTreeFileIsTreatedAsDamaged)
{
    dir.write("DiVovData/CdNames/Deep_cdname.dat", EncodeTreeStream(Chain(50000)));
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(105));
    EXPECT_EQ(form.ui->TreeView1->topLevelItemCount(), 1) << "the tree comes from the disc table";
    // At most the disc's one folder, shown from the file list: nothing of the file.
    QTreeWidgetItem *disc = form.ui->TreeView1->topLevelItem(0);
    EXPECT_LE(disc->childCount(), 1);
    if (disc->childCount() == 1) {
        EXPECT_EQ(disc->child(0)->childCount(), 0);
    }
    EXPECT_TRUE(fs::exists(TreeFile() + ".bad")) << "the file is put aside, not lost";
}

TEST(TreeFileDepth, ReadingRemovesWhatAnInterruptedSaveLeft)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("t_cdname.dat");
    ASSERT_TRUE(WriteTreeFile(file, Chain(3)));
    dir.write("t_cdname.dat.a1B2c3", "cut short");
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(ReadTreeFile(file, back));
    EXPECT_EQ(back, Chain(3));
    EXPECT_FALSE(fs::exists(dir.file("t_cdname.dat.a1B2c3")));
}

TEST(TreeViewClear, VeryDeepTreeIsFreedWithoutRecursion)
{
    // Far deeper than any file may give: a tree grown in the window is freed all the same.
    QTreeWidget tree;
    auto *root = new QTreeWidgetItem(&tree);
    root->setText(0, QStringLiteral("root"));
    QTreeWidgetItem *n = root;
    for (int k = 0; k < 200000; ++k)
        n = new QTreeWidgetItem(n);
    TMainForm::ClearTreeView(&tree);
    EXPECT_EQ(tree.topLevelItemCount(), 0);
}
