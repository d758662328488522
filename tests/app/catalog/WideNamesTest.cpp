// Whole names: widths count characters (Czech, Slovak and Japanese names at and past
// each limit), new catalogues hold 255-character names and 1024-character paths, and
// catalogues of the older layout open as they are.
#include <gtest/gtest.h>

#include "app/catalog/CatalogTables.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "util/TextCodec.h"

namespace {

std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

const std::string kZ = "\xC5\xBD", kL = "\xC4\xBE", kJa = "\xE6\x97\xA5"; // Ž, ľ, 日 (three bytes)

class WideNames : public ::testing::Test {
protected:
    // Writes one record into a file table of `layout`, reopens the file and
    // answers what the named field reads.
    std::string Stored(const std::string &field, const std::string &value,
                       const std::vector<TFieldLayout> &layout = FileTableLayout())
    {
        {
            TFlatTable t;
            AddFieldDefs(t, layout);
            t.Open();
            t.Append();
            t.FieldByName(field).SetAsString(value);
            t.Post();
            t.SaveToFile(file);
        }
        TFlatTable t;
        t.SetTableName(file);
        t.Open();
        return t.FieldByName(field).AsString();
    }
    orbtest::TempDir dir;
    const std::string file = dir.file("w.d");
};

} // namespace

TEST_F(WideNames, NamesAndPathsAtAndPastTheirLimitsInCharacters)
{
    // The name that lost its extension before: 24 Ž and ".txt".
    EXPECT_EQ(Stored("Name", Repeat(kZ, 24) + ".txt"), Repeat(kZ, 24) + ".txt");
    for (const std::string &ch : {kZ, kL, kJa}) {
        const std::string name255 = Repeat(ch, 255), path1024 = "e:\\" + Repeat(ch, 1020) + "\\";
        EXPECT_EQ(Stored("Name", name255), name255);
        EXPECT_EQ(Stored("Name", name255 + ch), name255) << "cut after 255 characters";
        ASSERT_EQ(StoredTextLength(path1024), 1024u);
        EXPECT_EQ(Stored("Path", path1024), path1024);
        EXPECT_EQ(Stored("Path", path1024 + "x"), path1024);
        EXPECT_TRUE(IsValidUtf8(Stored("Path", "e:\\" + Repeat(ch, 1030))));
    }
    // The disc name and a note keep 50 characters, whatever their bytes.
    EXPECT_EQ(Stored("Note", Repeat(kJa, 50)), Repeat(kJa, 50));
    EXPECT_EQ(Stored("Namecd", Repeat(kL, 51)), Repeat(kL, 50));
    // The scan table too.
    auto scan = MakeScanTable();
    scan->Open();
    scan->Append();
    scan->FieldByName("Name").SetAsString(Repeat(kJa, 300));
    scan->FieldByName("Path").SetAsString("e:\\" + Repeat(kZ, 1100));
    scan->Post();
    EXPECT_EQ(StoredTextLength(scan->FieldByName("Name").AsString()), 255u);
    EXPECT_EQ(StoredTextLength(scan->FieldByName("Path").AsString()), 1024u);
}

TEST_F(WideNames, OlderLayoutOpensAsItIs)
{
    std::vector<TFieldLayout> older = FileTableLayout();
    older[0].size = 255;
    older[1].size = 50;
    EXPECT_EQ(Stored("Name", Repeat(kZ, 50) + "x", older), Repeat(kZ, 50));
    const std::string before = orbtest::readFile(file);
    TOpenTableOptions options;
    options.requiredFields = {"MusicOrder", "CdIdCode"};
    auto opened = OpenCatalogTable(file, FileTableLayout(), options);
    EXPECT_FALSE(opened.converted);
    EXPECT_EQ(opened.table->FieldByName("Path").Size(), 255);
    EXPECT_EQ(opened.table->FieldByName("Name").Size(), 50);
    opened.table.reset();
    EXPECT_EQ(orbtest::readFile(file), before);
}
