#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

Names FieldNames(TFlatTable &t)
{
    Names names;
    for (int i = 0; i < t.FieldCount(); ++i)
        names.push_back(t.Fields(i).FieldName());
    return names;
}

Names LayoutNames(const std::vector<TFieldLayout> &layout)
{
    Names names;
    for (const TFieldLayout &f : layout)
        names.push_back(f.name);
    return names;
}

TOpenTableOptions Required(std::vector<std::string> fields)
{
    TOpenTableOptions o;
    o.requiredFields = std::move(fields);
    return o;
}

} // namespace

TEST(CatalogTables, NewTablesAreCreatedAtOnceByteForByteInTheStoredFormat)
{
    // The field names, order, types and widths are what other copies of the
    // program read, so any change of layout shows against the files kept here.
    orbtest::TempDir dir;
    const std::tuple<const char *, const std::vector<TFieldLayout> *, TOpenTableOptions> tables[] = {
        {"FileTable.d", &FileTableLayout(), Required({"MusicOrder", "CdIdCode"})},
        {"DiscTable.d", &DiscTableLayout(), Required({"CdPicture", "CType"})}};
    for (const auto &[name, layout, options] : tables) {
        SCOPED_TRACE(name);
        auto r = OpenCatalogTable(dir.file(name), *layout, options);
        EXPECT_TRUE(r.created);
        EXPECT_FALSE(r.converted);
        ASSERT_TRUE(r.table && r.table->Active());
        EXPECT_EQ(r.table->RecordCount(), 0);
        const std::string golden = orbtest::readFile(std::string(ORB_SOURCE_DIR) + "/tests/app/catalog/golden/" + name);
        ASSERT_FALSE(golden.empty());
        EXPECT_EQ(orbtest::readFile(dir.file(name)), golden);
    }
}

TEST(CatalogTables, ScanFieldsAreNoNarrowerThanTheFileTables)
{
    // Scan records are copied into the file table by name: the same names, and
    // no value the file table can hold is cut on the way.
    Names scanNames = LayoutNames(ScanTableLayout()), fileNames = LayoutNames(FileTableLayout());
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

TEST(CatalogTables, OlderFileTablesAreConvertedWithTheirRecords)
{
    // Without MusicOrder and CdIdCode, or without CdIdCode alone; not in any
    // data folder: the file opened is the file converted, and nothing else.
    for (const int missing : {2, 1}) {
        SCOPED_TRACE(missing);
        orbtest::TempDir dir;
        const std::string f = dir.file("elsewhere/Old.d");
        fs::create_directories(dir.path() / "elsewhere");
        {
            TFlatTable t;
            t.SetLoadMode(lmClear);
            AddFieldDefs(t, std::vector<TFieldLayout>(FileTableLayout().begin(), FileTableLayout().end() - missing));
            t.Open();
            for (const char *name : {"readme.txt", "Fotky"})
                AddRecord(t, {{"Path", "e:\\"}, {"Name", name}, {"Namecd", "e: [DISK1]"}, {"Size", "1234"},
                              {"Type", name[0] == 'r' ? 1 : 0}});
            t.SaveToFile(f);
        }
        const std::string original = orbtest::readFile(f);
        int before = 0, after = 0;
        TOpenTableOptions o = FileTableOpenOptions(false);
        o.beforeConversion = [&] { ++before; };
        o.afterConversion = [&] { ++after; };
        auto r = OpenCatalogTable(f, FileTableLayout(), o);
        EXPECT_TRUE(r.converted);
        EXPECT_EQ(std::make_pair(before, after), std::make_pair(1, 1));
        ASSERT_TRUE(r.table);
        EXPECT_EQ(FieldNames(*r.table), LayoutNames(FileTableLayout()));
        ASSERT_EQ(r.table->RecordCount(), 2);
        r.table->First();
        EXPECT_EQ(r.table->FieldByName("Name").AsString(), "readme.txt");
        EXPECT_EQ(r.table->FieldByName("Size").AsString(), "1234");
        EXPECT_EQ(r.table->FieldByName("Type").AsInteger(), 1);
        EXPECT_EQ(r.table->FieldByName("CdIdCode").AsString(), "");
        r.table->Next();
        EXPECT_EQ(r.table->FieldByName("Name").AsString(), "Fotky");
        // The file as it was is kept beside it, byte for byte; no temporary file stays.
        EXPECT_EQ(r.keptAs, f + ".old-layout");
        EXPECT_EQ(orbtest::readFile(f + ".old-layout"), original);
        EXPECT_EQ(Snapshot(dir.str()).size(), 3u) << "the folder, the table and the kept original";
    }
}

TEST(CatalogTables, CompleteTableIsNotRewrittenAndADamagedOneIsLeftAlone)
{
    orbtest::TempDir dir;
    const std::string f = dir.file("Music_cdname.d");
    {
        TFlatTable t;
        AddFieldDefs(t, DiscTableLayout());
        t.Open();
        AddRecord(t, {{"CdName", "e: [DISK1]"}, {"CType", 2}});
        t.SaveToFile(f);
    }
    const std::string bytes = orbtest::readFile(f);
    const auto stamp = fs::last_write_time(f);
    auto r = OpenCatalogTable(f, DiscTableLayout(), Required({"CdPicture", "CType"}));
    EXPECT_FALSE(r.converted || r.created);
    EXPECT_EQ(r.table->RecordCount(), 1);
    r.table.reset();
    EXPECT_EQ(orbtest::readFile(f), bytes);
    EXPECT_EQ(fs::last_write_time(f), stamp);

    const std::string bad = dir.write("Bad.d", "this is not a table");
    EXPECT_ANY_THROW(OpenCatalogTable(bad, FileTableLayout(), Required({"MusicOrder", "CdIdCode"})));
    EXPECT_EQ(orbtest::readFile(bad), "this is not a table");
}

TEST(CatalogTables, ScanRecordsMoveIntoTheFileTableByName)
{
    // The scan table keeps its fields in another order; a copy must land each
    // value in the field of the same name.
    auto scan = MakeScanTable();
    EXPECT_EQ(scan->Capacity(), 250);
    scan->Open();
    const std::vector<std::pair<const char *, TVariant>> values = {
        {"Path", "e:\\Foto\\"}, {"Name", "leto.jpg"}, {"Namecd", "e: [FOTO]"}, {"Number", "7"},
        {"Type", 1},           {"Icon", std::string("\0\1\2", 3)},            {"CdIdCode", "4022250974"}};
    scan->Append();
    for (const auto &[name, value] : values)
        scan->FieldByName(name).SetValue(value);
    scan->Post();
    TFlatTable files;
    AddFieldDefs(files, FileTableLayout());
    files.Open();
    EXPECT_EQ(scan->SaveToDataSet(files, 0), 1);
    files.First();
    for (const auto &[name, value] : values)
        EXPECT_EQ(files.FieldByName(name).Value(), value) << name;
}

TEST(CatalogTables, OnlyTablesHoldingTheOlderFieldsAreConverted)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    orbtest::TempDir dir;
    // A disc table of the older layout (no picture, no kind) is converted, its original kept.
    const std::string old = dir.file("Old_cdname.d");
    {
        TFlatTable t;
        t.SetLoadMode(lmClear);
        AddFieldDefs(t, std::vector<TFieldLayout>(DiscTableLayout().begin(), DiscTableLayout().begin() + 4));
        t.Open();
        AddRecord(t, {{"CdName", "e: [DISK1]"}, {"CdSize", "650.3 mb"}});
        t.SaveToFile(old);
    }
    const std::string oldBytes = orbtest::readFile(old);
    auto r = OpenCatalogTable(old, DiscTableLayout(), DiscTableOpenOptions(false));
    EXPECT_TRUE(r.converted);
    EXPECT_EQ(FieldNames(*r.table), LayoutNames(DiscTableLayout()));
    EXPECT_EQ(r.table->RecordCount(), 1);
    EXPECT_EQ(orbtest::readFile(r.keptAs), oldBytes);

    // One that reads as no fields at all (a zeroed header) names the file and stays as it is.
    const std::string zero = dir.write("Zero.d", std::string(64, '\0'));
    TOpenTableOptions o = FileTableOpenOptions(false);
    o.beforeConversion = [] { ADD_FAILURE() << "conversion announced"; };
    try {
        OpenCatalogTable(zero, FileTableLayout(), o);
        ADD_FAILURE() << "opened";
    } catch (const std::exception &e) {
        EXPECT_NE(std::string(e.what()).find(zero + ": "), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("0 fields"), std::string::npos) << e.what();
    }
    EXPECT_EQ(orbtest::readFile(zero), std::string(64, '\0'));
    EXPECT_EQ(Snapshot(dir.str()).size(), 3u) << "the converted table, its kept original, the zeroed one";
    langunit::SetCurrentLanguage(langunit::LangSlovak);
}

// A disc table of the older layout (no CType, or neither CdPicture nor CType,
// its fields in an order and widths of its own) opened with its catalogue
// becomes a disc table of the program's own layout, whatever the old one had.
namespace {
using CatalogConversion = DataFolderTest<>;
} // namespace

TEST_F(CatalogConversion, OlderDiscTableIsConvertedToTheProgramsOwnFieldList)
{
    Ini("Old");
    for (const bool withPicture : {true, false}) {
        SCOPED_TRACE(withPicture);
        fs::remove(data + "/Old.d");
        OpenCatalogTable(data + "/Old.d", FileTableLayout(), {});
        const std::string discPath = data + "/CdNames/Old_cdname.d";
        for (const int records : {0, 2}) {
            SCOPED_TRACE(records);
            {
                TFlatTable t;
                t.SetLoadMode(lmClear);
                std::vector<TFieldLayout> old = {{"CdSize", ftString, 20}, {"CdName", ftString, 40},
                                                 {"Number", ftString, 8}, {"CdNote", ftString, 50}};
                if (withPicture)
                    old.push_back({"CdPicture", ftGraphic, 0});
                AddFieldDefs(t, old);
                t.Open();
                for (int i = 0; i < records; ++i)
                    AddRecord(t, {{"CdName", "e: [D" + std::to_string(i) + "]"}, {"Number", std::to_string(i + 1)},
                                  {"CdSize", "1 mb"}});
                t.SaveToFile(discPath);
                fs::remove(discPath + ".old-layout");
            }
            // Opened at start, as the settings name it.
            TMainForm form(nullptr, data);
            ASSERT_TRUE(form.HasCatalog());
            TFlatTable &discs = *form.CdNameTable;
            ASSERT_EQ(discs.FieldCount(), int(DiscTableLayout().size()));
            for (size_t i = 0; i < DiscTableLayout().size(); ++i) {
                const TFieldLayout &want = DiscTableLayout()[i];
                TField &f = discs.Fields(int(i));
                EXPECT_EQ(f.FieldName(), want.name) << i;
                EXPECT_EQ(f.DataType(), want.type) << want.name;
                if (want.size > 0) {
                    EXPECT_EQ(f.Size(), want.size) << want.name;
                }
            }
            ASSERT_EQ(discs.RecordCount(), records);
            if (records == 0) {
                // Field for field the table a new catalogue gets.
                const std::string golden =
                    orbtest::readFile(std::string(ORB_SOURCE_DIR) + "/tests/app/catalog/golden/DiscTable.d");
                EXPECT_EQ(orbtest::readFile(discPath), golden);
            } else {
                discs.Last();
                EXPECT_EQ(discs.FieldByName("CdName").AsString(), "e: [D1]");
                EXPECT_EQ(discs.FieldByName("CdSize").AsString(), "1 mb");
                EXPECT_EQ(discs.FieldByName("CType").AsInteger(), 0);
            }
        }
    }
}
