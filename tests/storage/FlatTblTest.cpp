// The table data sets: NULL rules, searching, views, the change counter, clones, load
// modes, copying and the database component.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "support/FieldTexts.h"

namespace {

// The catalogue's file table layout.
void AddFileFields(TFieldDefs &d)
{
    const struct { const char *name; TFieldType type; int size; } fields[] = {
        {"Path", ftString, 255},      {"Name", ftString, 50},         {"Namecd", ftString, 50},
        {"Number", ftString, 8},      {"Size", ftString, 20},         {"Attrib", ftInteger, 0},
        {"Icon", ftBlob, 0},          {"CreateDate", ftString, 20},   {"LastChange", ftString, 20},
        {"Type", ftInteger, 0},       {"Note", ftString, 50},         {"FType", ftInteger, 0},
        {"LoadName", ftString, 30},   {"MusicOrder", ftInteger, 0},   {"CdIdCode", ftString, 20}};
    d.Clear();
    for (const auto &f : fields)
        d.Add(f.name, f.type, f.size);
}

void AddName(TFlatTable &t, const std::string &name, int attrib = 1)
{
    t.Append();
    t.FieldByName("Name").SetAsString(name);
    t.FieldByName("Attrib").SetAsInteger(attrib);
    t.Post();
}

std::vector<std::string> Names(TFlatTable &t) { return orbtest::FieldTexts(t); }

std::string Raises(const std::function<void()> &f)
{
    try { f(); } catch (const EDatabaseError &e) { return e.what(); }
    return "";
}

struct Catalogue {
    orbtest::TempDir dir;
    std::string file = dir.file("cat.d");
    // Creates the file table and opens it by name with some records.
    void Create(TFlatTable &t, std::initializer_list<const char *> names)
    {
        AddFileFields(t.FieldDefs());
        t.Open();
        for (const char *n : names)
            AddName(t, n);
        t.SaveToFile(file);
        t.Close();
        t.OpenTable(file);
    }
};

} // namespace

TEST(FlatTableTest, NewCatalogueTableIsTheEmptyImage)
{
    Catalogue c;
    TFlatTable t;
    AddFileFields(t.FieldDefs());
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0);
    t.SaveToFile(c.file);
    EXPECT_EQ(std::filesystem::file_size(c.file), 225u);
    t.Close();
    EXPECT_EQ(Raises([&] { TFlatTable().Open(); }), SNoFieldDescriptions);
    t.OpenTable(c.file);
    EXPECT_EQ(t.LoadMode(), lmFile);
    EXPECT_EQ(t.FieldCount(), 15);
    EXPECT_EQ(t.FieldByName("Path").Size(), 255);
    EXPECT_EQ(t.Version(), "FlatDB Engine v5.4");
    t.SetTableName("");
    EXPECT_EQ(t.LoadMode(), lmClear);
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(Raises([&] { t.OpenTable(c.dir.file("none.d")); }),
              "Error opening file " + c.dir.file("none.d"));
}

TEST(FlatTableTest, NullRulesPerType)
{
    TFlatTable t;
    // Zero integers, booleans, floats and times are values; zero dates, Int64 and empty texts are NULL.
    const struct { const char *name; TFieldType type; int size; bool null; } fields[] = {
        {"I", ftInteger, 0, false}, {"L", ftLargeint, 0, true}, {"B", ftBoolean, 0, false}, {"F", ftFloat, 0, false},
        {"D", ftDate, 0, true},     {"T", ftTime, 0, false},    {"DT", ftDateTime, 0, true}, {"S", ftString, 10, true},
        {"LS", ftString, 100, true}, {"M", ftMemo, 0, true}};
    for (const auto &f : fields)
        t.FieldDefs().Add(f.name, f.type, f.size);
    t.Open();
    t.Append();
    t.Post();
    for (const auto &f : fields)
        EXPECT_EQ(t.FieldByName(f.name).IsNull(), f.null) << f.name;
    // Values survive a save and a load, dates to the millisecond.
    t.Edit();
    const TDateTime when = 45000.5 + 123.0 / 86400000.0;
    t.FieldByName("DT").SetAsDateTime(when);
    t.FieldByName("D").SetAsDateTime(45000.75);
    t.FieldByName("L").SetAsLargeInt(-5);
    t.FieldByName("S").SetAsString("abcdefghijKLM");
    t.Post();
    std::string img, err;
    ASSERT_TRUE(t.Cursor()->WriteImage(img, err));
    std::stringstream image(img);
    TFlatTable s;
    s.SetLoadMode(lmStream);
    s.LoadingStream = &image;
    s.Open();
    EXPECT_DOUBLE_EQ(s.FieldByName("DT").AsDateTime(), when);
    EXPECT_EQ(s.FieldByName("D").AsDateTime(), 45000.0);
    EXPECT_EQ(s.FieldByName("L").AsLargeInt(), -5);
    EXPECT_EQ(s.FieldByName("S").AsString(), "abcdefghij");
}

TEST(FlatTableTest, LocateAndLookup)
{
    Catalogue c;
    TFlatTable t;
    c.Create(t, {"ABCdef", "abc", "Zeta", "beta"});
    // Without loPartialKey the whole text must match; without options the match is exact and case-sensitive;
    // a partial key exactly as long as the text matches it. A miss keeps the position.
    const TLocateOptions ci{loCaseInsensitive}, ciPart{loCaseInsensitive, loPartialKey};
    const struct { const char *key; TLocateOptions options; bool found; int recNo; } cases[] = {
        {"abc", ciPart, true, 1}, {"ZET", ciPart, true, 3}, {"ZET", ci, false, 3}, {"BETA", ci, true, 4},
        {"ABC", {}, false, 4},    {"abc", {}, true, 2},     {"BETA", ciPart, true, 4}};
    for (const auto &c : cases) {
        EXPECT_EQ(t.Locate("Name", std::string(c.key), c.options), c.found) << c.key;
        EXPECT_EQ(t.RecNo(), c.recNo) << c.key;
    }
    // NULL on either side never matches.
    EXPECT_FALSE(t.Locate("Name", TVariant{}, ci));
    EXPECT_FALSE(t.Locate("Note", std::string(""), {loPartialKey}));
    // Lookup answers NULL and does not move.
    t.First();
    auto v = t.Lookup("Name", {std::string("nothing")}, "Attrib");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(VarIsNull(v[0]));
    v = t.Lookup("Name", {std::string("Zeta")}, "Attrib;Name");
    EXPECT_EQ(VarToStr(v[1]), "Zeta");
    EXPECT_EQ(t.RecNo(), 1);
}

TEST(FlatTableTest, KeySearchFindsTheFirstEqualEntry)
{
    TFlatTable t;
    AddFileFields(t.FieldDefs());
    t.Open();
    for (int i = 0; i < 50; ++i)
        AddName(t, i % 5 == 0 ? "same" : "n" + std::to_string(i), i);
    t.SetIndexFieldNames("Name");
    // Sorted view, binary search: the first of the equal names in view order.
    ASSERT_TRUE(t.FindKey("Name", "same"));
    EXPECT_EQ(t.FieldByName("Attrib").AsInteger(), 0);
    t.Prior();
    EXPECT_TRUE(t.Bof() || t.FieldByName("Name").AsString() != "same");
    EXPECT_FALSE(t.FindKey("Name", "sam"));
    // Descending order, binary search as well.
    t.SetSortOptions({vsoDescendSort});
    ASSERT_TRUE(t.FindKey("Name", "n1"));
    EXPECT_EQ(t.FieldByName("Name").AsString(), "n1");
    ASSERT_TRUE(t.Locate("Name", std::string("same"), {}));
    EXPECT_EQ(t.FieldByName("Attrib").AsInteger(), 0);
    // An append stays at the end of an indexed view, searched linearly since it is no longer sorted.
    TFlatTable u;
    AddFileFields(u.FieldDefs());
    u.Open();
    AddName(u, "b");
    AddName(u, "c");
    u.SetIndexFieldNames("Name");
    AddName(u, "a");
    EXPECT_EQ(Names(u), (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_TRUE(u.FindKey("Name", "a"));
    u.RefreshView();
    EXPECT_EQ(Names(u), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(FlatTableTest, ChangeCounterAndItsEvent)
{
    Catalogue c;
    TFlatTable t;
    c.Create(t, {"one", "two"});
    std::vector<int> fired;
    t.OnNeedToSaveChange = [&](TFlatDataset *ds) { fired.push_back(ds->ChangeCount()); };
    EXPECT_EQ(t.ChangeCount(), 0);
    t.Flush(); // no changes: nothing saved
    t.Edit();
    EXPECT_EQ(fired, (std::vector<int>{1}));
    t.Cancel();
    EXPECT_EQ(fired, (std::vector<int>{1, 0}));
    t.Delete();
    EXPECT_EQ(t.ChangeCount(), 1);
    t.Save();
    t.CommitChanges();
    EXPECT_EQ(t.ChangeCount(), 0);
    t.Close();
    t.Open();
    EXPECT_EQ(Names(t), (std::vector<std::string>{"two"}));

    // Emptying is a change, so the emptied table is saved.
    t.EmptyTable();
    EXPECT_EQ(t.ChangeCount(), 1);
    EXPECT_EQ(t.RecordCount(), 0);
    t.Save();
    t.Close();
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0);

    // Save in lmClear or lmStream writes nothing, whatever the changes.
    const auto before = std::distance(std::filesystem::directory_iterator(c.dir.path()), {});
    TFlatTable clear;
    AddFileFields(clear.FieldDefs());
    clear.Open();
    AddName(clear, "x");
    EXPECT_EQ(clear.ChangeCount(), 1);
    clear.Save();
    std::stringstream image(orbtest::readFile(c.file));
    TFlatTable stream;
    stream.SetLoadMode(lmStream);
    stream.LoadingStream = &image;
    stream.Open();
    AddName(stream, "y");
    stream.Save();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c.dir.path()), {}), before);
    t.Close();
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0);
}

TEST(FlatTableTest, CancelAndRevertFollowTheLastCommit)
{
    TFlatTable t;
    AddFileFields(t.FieldDefs());
    t.Open();
    AddName(t, "orig");
    t.CommitChanges();
    t.Edit();
    t.FieldByName("Name").SetAsString("first edit");
    t.Post();
    t.Edit();
    t.FieldByName("Name").SetAsString("second edit");
    t.Cancel();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "orig");
    AddName(t, "new");
    t.CancelChanges();
    EXPECT_EQ(Names(t), (std::vector<std::string>{"orig"}));

    // A record added since the commit stays added through a cancelled edit of it, so a
    // revert of all changes still drops it, and a commit still keeps it.
    for (const bool commit : {false, true}) {
        AddName(t, "added");
        t.Edit();
        t.FieldByName("Name").SetAsString("edit of added");
        t.Cancel();
        EXPECT_EQ(t.FieldByName("Name").AsString(), "added");
        if (commit)
            t.CommitChanges();
        t.CancelChanges();
        EXPECT_EQ(Names(t), (commit ? std::vector<std::string>{"orig", "added"} : std::vector<std::string>{"orig"}))
            << commit;
    }
}

TEST(FlatTableTest, ReadOnlyKeyViolationAndCounter)
{
    TFlatTable t;
    t.FieldDefs().Add("Id", ftAutoInc);
    t.FieldDefs().Add("Code", ftString, 10);
    t.Open();
    t.Append();
    t.FieldByName("Code").SetAsString("A");
    t.FieldByName("Id").SetAsInteger(77); // the counter decides
    t.Post();
    EXPECT_EQ(t.FieldByName("Id").AsInteger(), 1);
    t.UniqueFieldNames = "Code";
    t.CheckKeyViolation = true;
    t.Append();
    t.FieldByName("Code").SetAsString("A");
    EXPECT_EQ(Raises([&] { t.Post(); }), "Error saving new record: Key violation");
    t.Cancel();
    t.ReadOnly = true;
    EXPECT_NE(Raises([&] { t.Delete(); }), "");
    EXPECT_EQ(t.RecordCount(), 1);
}

TEST(FlatTableTest, ClonesShareTheStoreSafely)
{
    Catalogue c;
    auto source = std::make_unique<TFlatTable>();
    c.Create(*source, {"a", "b"});
    TFlatTable clone;
    clone.SetCloneDS(source.get());
    EXPECT_EQ(clone.LoadMode(), lmClone);
    clone.Open();
    EXPECT_EQ(Names(clone), (std::vector<std::string>{"a", "b"}));
    AddName(clone, "c");
    EXPECT_EQ(source->RecordCount(), 2);
    source->RefreshView();
    EXPECT_EQ(source->RecordCount(), 3);
    EXPECT_EQ(Raises([&] { source->Close(); }), SClonesOpen);
    EXPECT_TRUE(source->Active());

    // Emptying through the source rebuilds the clone's view too.
    source->EmptyTable();
    EXPECT_EQ(clone.RecordCount(), 0);
    clone.First();
    EXPECT_TRUE(clone.Eof());
    AddName(clone, "d");

    // Saving a clone writes the source's file.
    clone.Save();
    // Destroying the source closes the clone first and throws nothing.
    source.reset();
    EXPECT_FALSE(clone.Active());
    EXPECT_EQ(clone.CloneDS(), nullptr);
    TFlatTable check;
    check.OpenTable(c.file);
    EXPECT_EQ(Names(check), (std::vector<std::string>{"d"}));

    TFlatTable closed, orphan;
    AddFileFields(closed.FieldDefs());
    orphan.SetCloneDS(&closed);
    EXPECT_EQ(Raises([&] { orphan.Open(); }), SCloneNotActive);
}

TEST(FlatTableTest, FilterRangeAndMasterDetail)
{
    TFlatTable discs, files;
    discs.FieldDefs().Add("CdName", ftString, 50);
    discs.Open();
    for (const char *n : {"d1", "d2"}) {
        discs.Append();
        discs.FieldByName("CdName").SetAsString(n);
        discs.Post();
    }
    AddFileFields(files.FieldDefs());
    files.Open();
    for (int i = 0; i < 6; ++i) {
        files.Append();
        files.FieldByName("Name").SetAsString("f" + std::to_string(i));
        files.FieldByName("Namecd").SetAsString(i % 2 ? "d2" : "d1");
        files.FieldByName("Attrib").SetAsInteger(i);
        files.Post();
    }
    files.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Attrib").AsInteger() > 2; });
    files.SetFiltered(true);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f3", "f4", "f5"}));
    // Filter text conditions come before the handler.
    files.SetFilter("Name <> 'f4'");
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f3", "f5"}));
    files.SetOnFilterRecord(nullptr);
    files.SetFilter("Attrib >= 2 AND Namecd = 'd1'");
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f2", "f4"}));
    EXPECT_NE(Raises([&] { files.SetFilter("Attrib >= "); }), "");
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f2", "f4"})); // a bad text changes nothing
    files.SetFilter("");
    files.SetFiltered(false);

    files.RangeFieldNames = "Attrib";
    files.SetRange("1", "3", false, true);
    files.ApplyRange();
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f1", "f2"}));
    files.CancelRange();
    EXPECT_EQ(files.RecordCount(), 6);

    TDataSource master(&discs);
    files.RangeFieldNames = "Namecd";
    files.SetMasterFields("CdName");
    files.SetMasterSource(&master);
    discs.First();
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f0", "f2", "f4"}));
    discs.Next();
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f1", "f3", "f5"}));
    files.Append();
    EXPECT_EQ(files.FieldByName("Namecd").AsString(), "d2");
    files.Cancel();
    TDataSource self(&files);
    TDataSource back(&discs);
    EXPECT_EQ(Raises([&] { discs.SetMasterSource(&self); }), SCircularDataLink);
    TExMemoryData mem;
    TDataSource memSource(&mem);
    EXPECT_EQ(Raises([&] { files.SetMasterSource(&memSource); }), SMasterNotFlat);
}

TEST(FlatTableTest, CopyFromDataSetKeepsTypesBytesAndBlankNames)
{
    TExMemoryData src;
    for (const auto &[name, type] : {std::pair<const char *, TFieldType>{"My Name", ftString}, {"Value", ftFloat},
                                     {"When", ftDateTime}, {"Icon", ftBlob}})
        src.FieldDefs().Add(name, type, type == ftString ? 40 : 0);
    src.Open();
    const std::string bytes("\0\x01\0icon\0", 8);
    const TDateTime when = 45123.25 + 7.0 / 86400000.0;
    for (int i = 0; i < 3; ++i) {
        src.Append();
        src.FieldByName("My Name").SetAsString("rec " + std::to_string(i));
        src.FieldByName("Value").SetAsFloat(0.1 + 0.2 + i);
        src.FieldByName("When").SetAsDateTime(when);
        src.FieldByName("Icon").SetAsBytes(bytes);
        src.Post();
    }
    TFlatTable t;
    EXPECT_EQ(t.CopyFromDataSet(&src, 2), 3);
    ASSERT_NE(t.FindField("My_Name"), nullptr);
    t.First();
    EXPECT_EQ(t.FieldByName("My_Name").AsString(), "rec 0");
    EXPECT_EQ(t.FieldByName("Value").AsFloat(), 0.1 + 0.2);
    EXPECT_DOUBLE_EQ(t.FieldByName("When").AsDateTime(), when);
    EXPECT_EQ(t.FieldByName("Icon").AsBytes(), bytes);

    // Update by key: existing keys are edited, new ones appended.
    t.UniqueFieldNames = "My_Name";
    src.First();
    src.Edit();
    src.FieldByName("Value").SetAsFloat(9);
    src.Post();
    EXPECT_EQ(t.CopyFromDataSet(&src, 1), 3);
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_TRUE(t.Locate("My_Name", std::string("rec 0"), {}));
    EXPECT_EQ(t.FieldByName("Value").AsFloat(), 9.0);

    EXPECT_EQ(Raises([&] { t.CopyFromDataSet(&t, 0); }), SCopySourceInvalid);
    EXPECT_EQ(Raises([&] { t.CopyFromDataSet(nullptr, 0); }), SCopySourceInvalid);
}

TEST(FlatTableTest, ProtectedTableAndPartialOpen)
{
    Catalogue c;
    {
        TFlatTable t;
        AddFileFields(t.FieldDefs());
        t.Open();
        AddName(t, "secret record");
        t.SetPassword("pw-table");
        t.SaveToFile(c.file);
    }
    FlatSession().RemovePassword("pw-table");
    const auto savedPrompt = FlatSession().OnPassword;
    FlatSession().OnPassword = [](std::string &) { return false; };
    TFlatTable t;
    EXPECT_EQ(Raises([&] { t.OpenTable(c.file); }), "Error opening table: Invalid password. Table cannot be open");
    EXPECT_FALSE(t.Active());
    t.SetPassword("pw-table");
    t.Open();
    EXPECT_EQ(Names(t), (std::vector<std::string>{"secret record"}));
    FlatSession().OnPassword = savedPrompt;
    t.Close();

    // A short file opens with PartialOpen and shows its message; without, it fails.
    std::string img = orbtest::readFile(c.file);
    TFlatTable plain;
    AddFileFields(plain.FieldDefs());
    plain.Open();
    AddName(plain, "one");
    AddName(plain, "two");
    plain.SaveToFile(c.file);
    img = orbtest::readFile(c.file);
    const std::string cut = c.dir.write("cut.d", img.substr(0, img.size() - 3));
    TFlatTable broken;
    EXPECT_EQ(Raises([&] { broken.OpenTable(cut); }), "Error opening table: Unexpected end of buffer");
    std::string shown;
    const auto savedNotice = FlatSession().OnNotice;
    FlatSession().OnNotice = [&](const std::string &text) { shown = text; };
    broken.PartialOpen = true;
    broken.Open();
    EXPECT_EQ(shown, "Unexpected end of buffer");
    EXPECT_EQ(Names(broken), (std::vector<std::string>{"one"}));
    FlatSession().OnNotice = savedNotice;
}

TEST(FlatTableTest, DatabaseGivesFolderAndClosesItsTables)
{
    Catalogue c;
    {
        TFlatTable t;
        c.Create(t, {"x"});
    }
    auto db = std::make_unique<TFlatDatabase>();
    db->SetDatabasePath(c.dir.str());
    EXPECT_EQ(db->DatabasePath().back(), '/');
    TFlatTable a, b;
    a.SetDatabase(db.get());
    b.SetDatabase(db.get());
    a.OpenTable("cat.d");
    b.OpenTable("cat.d");
    EXPECT_EQ(db->OpenDataSets().size(), 2u);
    a.Edit();
    EXPECT_EQ(db->ChangedDataSets().size(), 1u);
    a.Cancel();
    EXPECT_EQ(db->ChangedDataSets().size(), 0u);
    db.reset();
    EXPECT_FALSE(a.Active());
    EXPECT_FALSE(b.Active());
    EXPECT_EQ(a.Database(), nullptr);
}

TEST(FlatTableTest, DefaultExpressionsAndUniqueCode)
{
    const std::string a = FlatUniqueCode(), b = FlatUniqueCode();
    EXPECT_EQ(a.size(), 8u);
    EXPECT_NE(a, b);
    for (char ch : a)
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)));
    TFlatTable t;
    const std::pair<const char *, TFieldType> fields[] = {{"Code", ftString}, {"Day", ftDate}, {"Text", ftString}};
    for (const auto &[name, type] : fields)
        t.FieldDefs().Add(name, type, type == ftString ? 10 : 0);
    t.Open();
    t.FieldByName("Code").DefaultExpression = "UNICOD";
    t.FieldByName("Day").DefaultExpression = "TODAY";
    t.FieldByName("Text").DefaultExpression = "fixed";
    t.Append();
    EXPECT_EQ(t.FieldByName("Code").AsString().size(), 8u);
    EXPECT_GT(t.FieldByName("Day").AsDateTime(), 45000.0);
    EXPECT_EQ(t.FieldByName("Text").AsString(), "fixed");
    t.Post();
}

TEST(FlatTableTest, RefreshSavesReloadsAndFindsTheRecordAgain)
{
    Catalogue c;
    TFlatTable t;
    c.Create(t, {"a", "b", "c"});
    t.UniqueFieldNames = "Name";
    ASSERT_TRUE(t.Locate("Name", std::string("b"), {}));
    t.Edit();
    t.FieldByName("Note").SetAsString("noted");
    t.Refresh(); // posts, saves, reads the file again
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    EXPECT_EQ(t.FieldByName("Note").AsString(), "noted");
    TFlatTable other;
    other.OpenTable(c.file);
    ASSERT_TRUE(other.Locate("Name", std::string("b"), {}));
    EXPECT_EQ(other.FieldByName("Note").AsString(), "noted");
}
