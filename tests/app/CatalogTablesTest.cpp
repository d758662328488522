#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/CatalogTables.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> FieldNames(TFlatTable &t)
{
    std::vector<std::string> names;
    for (int i = 0; i < t.FieldCount(); ++i)
        names.push_back(t.Fields(i).FieldName());
    return names;
}

std::vector<std::string> LayoutNames(const std::vector<TFieldLayout> &layout)
{
    std::vector<std::string> names;
    for (const TFieldLayout &f : layout)
        names.push_back(f.name);
    return names;
}

// A file table of the older layout (no MusicOrder, no CdIdCode) with two records.
void WriteOldFileTable(const std::string &fileName)
{
    std::vector<TFieldLayout> old(FileTableLayout().begin(), FileTableLayout().end() - 2);
    TFlatTable t;
    t.SetLoadMode(lmClear);
    AddFieldDefs(t, old);
    t.Open();
    for (const char *name : {"readme.txt", "Fotky"}) {
        t.Append();
        t.FieldByName("Path").SetAsString("e:\\");
        t.FieldByName("Name").SetAsString(name);
        t.FieldByName("Namecd").SetAsString("e: [DISK1]");
        t.FieldByName("Size").SetAsString("1234");
        t.FieldByName("Type").SetAsInteger(name[0] == 'r' ? 1 : 0);
        t.Post();
    }
    t.SaveToFile(fileName);
    t.Close();
}

} // namespace

TEST(CatalogTables, NewTablesAreByteForByteTheStoredFormat)
{
    // A new catalogue's empty tables, compared with files kept beside the
    // tests: the field names, order, types and widths are what other copies
    // of the program read, so any change of layout shows here.
    orbtest::TempDir dir;
    const std::pair<const char *, const std::vector<TFieldLayout> *> tables[] = {{"FileTable.d", &FileTableLayout()},
                                                                               {"DiscTable.d", &DiscTableLayout()}};
    for (const auto &[name, layout] : tables) {
        ASSERT_TRUE(OpenCatalogTable(dir.file(name), *layout, {}).created);
        const std::string golden = orbtest::readFile(std::string(ORB_SOURCE_DIR) + "/tests/app/golden/" + name);
        ASSERT_FALSE(golden.empty()) << name;
        EXPECT_EQ(orbtest::readFile(dir.file(name)), golden) << name;
    }
}

TEST(CatalogTables, ScanFieldsAreNoNarrowerThanTheFileTables)
{
    // Scan records are copied into the file table by name: the same names, and
    // no value the file table can hold is cut on the way.
    std::vector<std::string> scanNames = LayoutNames(ScanTableLayout()), fileNames = LayoutNames(FileTableLayout());
    std::sort(scanNames.begin(), scanNames.end());
    std::sort(fileNames.begin(), fileNames.end());
    EXPECT_EQ(scanNames, fileNames);
    for (const TFieldLayout &s : ScanTableLayout())
        for (const TFieldLayout &f : FileTableLayout())
            if (std::string(s.name) == f.name) {
                EXPECT_EQ(s.type, f.type) << s.name;
                EXPECT_GE(s.size, f.size) << s.name;
            }
}

TEST(CatalogTables, MissingTableIsCreatedAtOnce)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Music.d");
    TOpenTableOptions o;
    o.requiredFields = {"MusicOrder", "CdIdCode"};
    auto r = OpenCatalogTable(f, FileTableLayout(), o);
    EXPECT_TRUE(r.created);
    EXPECT_FALSE(r.converted);
    ASSERT_TRUE(r.table && r.table->Active());
    EXPECT_TRUE(std::filesystem::exists(f));
    r.table.reset();
    // The file on disk already holds the 15 fields.
    TFlatTable again;
    again.SetTableName(f);
    again.Open();
    EXPECT_EQ(FieldNames(again), LayoutNames(FileTableLayout()));
    EXPECT_EQ(again.RecordCount(), 0);
}

TEST(CatalogTables, OlderFileTableIsConvertedWithItsRecords)
{
    orbtest::TempDir dir;
    // Not in any data folder: the file opened is the file converted.
    const std::string f = dir.file("elsewhere/Old.d");
    std::filesystem::create_directories(dir.path() / "elsewhere");
    WriteOldFileTable(f);
    int before = 0, after = 0;
    TOpenTableOptions o;
    o.requiredFields = {"MusicOrder", "CdIdCode"};
    o.beforeConversion = [&] { ++before; };
    o.afterConversion = [&] { ++after; };
    auto r = OpenCatalogTable(f, FileTableLayout(), o);
    EXPECT_TRUE(r.converted);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    ASSERT_TRUE(r.table);
    EXPECT_EQ(FieldNames(*r.table), LayoutNames(FileTableLayout()));
    ASSERT_EQ(r.table->RecordCount(), 2);
    r.table->First();
    EXPECT_EQ(r.table->FieldByName("Name").AsString(), "readme.txt");
    EXPECT_EQ(r.table->FieldByName("Size").AsString(), "1234");
    EXPECT_EQ(r.table->FieldByName("Type").AsInteger(), 1);
    EXPECT_TRUE(r.table->FieldByName("CdIdCode").IsNull() || r.table->FieldByName("CdIdCode").AsString().empty());
    r.table->Next();
    EXPECT_EQ(r.table->FieldByName("Name").AsString(), "Fotky");
    EXPECT_FALSE(std::filesystem::exists(f + ".conv~"));
    // Only the opened file was written.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "elsewhere"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(CatalogTables, FileTableWithMusicOrderButNoSerialIsConverted)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Half.d");
    std::vector<TFieldLayout> half(FileTableLayout().begin(), FileTableLayout().end() - 1);
    {
        TFlatTable t;
        AddFieldDefs(t, half);
        t.Open();
        t.SaveToFile(f);
    }
    TOpenTableOptions o;
    o.requiredFields = {"MusicOrder", "CdIdCode"};
    auto r = OpenCatalogTable(f, FileTableLayout(), o);
    EXPECT_TRUE(r.converted);
    EXPECT_NE(r.table->FindField("CdIdCode"), nullptr);
}

TEST(CatalogTables, CompleteDiscTableIsNotRewritten)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Music_cdname.d");
    {
        TFlatTable t;
        AddFieldDefs(t, DiscTableLayout());
        t.Open();
        t.Append();
        t.FieldByName("CdName").SetAsString("e: [DISK1]");
        t.FieldByName("CType").SetAsInteger(2);
        t.Post();
        t.SaveToFile(f);
    }
    const std::string bytes = orbtest::readFile(f);
    const auto stamp = std::filesystem::last_write_time(f);
    TOpenTableOptions o;
    o.requiredFields = {"CdPicture", "CType"};
    auto r = OpenCatalogTable(f, DiscTableLayout(), o);
    EXPECT_FALSE(r.converted);
    EXPECT_FALSE(r.created);
    EXPECT_EQ(r.table->RecordCount(), 1);
    r.table.reset();
    EXPECT_EQ(orbtest::readFile(f), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(f), stamp);
}

TEST(CatalogTables, DamagedTableIsRefusedAndLeftAlone)
{
    orbtest::TempDir dir;
    const std::string f = dir.write("Bad.d", "this is not a table");
    TOpenTableOptions o;
    o.requiredFields = {"MusicOrder", "CdIdCode"};
    EXPECT_ANY_THROW(OpenCatalogTable(f, FileTableLayout(), o));
    EXPECT_EQ(orbtest::readFile(f), "this is not a table");
}

TEST(CatalogTables, ScanRecordsMoveIntoTheFileTableByName)
{
    // The scan table keeps its fields in another order; a copy must land each
    // value in the field of the same name.
    auto scan = MakeScanTable();
    EXPECT_EQ(scan->Capacity(), 250);
    scan->Open();
    scan->Append();
    scan->FieldByName("Path").SetAsString("e:\\Foto\\");
    scan->FieldByName("Name").SetAsString("leto.jpg");
    scan->FieldByName("Namecd").SetAsString("e: [FOTO]");
    scan->FieldByName("Number").SetAsString("7");
    scan->FieldByName("Type").SetAsInteger(1);
    scan->FieldByName("Icon").SetAsBytes(std::string("\0\1\2", 3));
    scan->FieldByName("CdIdCode").SetAsString("4022250974");
    scan->Post();

    TFlatTable files;
    AddFieldDefs(files, FileTableLayout());
    files.Open();
    EXPECT_EQ(scan->SaveToDataSet(files, 0), 1);
    files.First();
    EXPECT_EQ(files.FieldByName("Path").AsString(), "e:\\Foto\\");
    EXPECT_EQ(files.FieldByName("Name").AsString(), "leto.jpg");
    EXPECT_EQ(files.FieldByName("Namecd").AsString(), "e: [FOTO]");
    EXPECT_EQ(files.FieldByName("Number").AsString(), "7");
    EXPECT_EQ(files.FieldByName("Type").AsInteger(), 1);
    EXPECT_EQ(files.FieldByName("Icon").AsBytes(), std::string("\0\1\2", 3));
    EXPECT_EQ(files.FieldByName("CdIdCode").AsString(), "4022250974");
}
