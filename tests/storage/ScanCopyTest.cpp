// In-memory records packed whole into a table file leave exactly what setting the fields one
// at a time leaves (values, saved bytes, errors); any watcher of single fields gets the latter.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

namespace {

struct TCol { const char *name; TFieldType type; int size; };
// The source is wider than the file in places (Number, Tiny, Small), as a scan is.
const std::vector<TCol> kSource = {{"Path", ftString, 64}, {"Number", ftString, 20}, {"Attrib", ftInteger, 0},
                                   {"Icon", ftBlob, 0},    {"Tiny", ftString, 6},    {"Big", ftLargeint, 0},
                                   {"Small", ftInteger, 0},  {"Day", ftDate, 0},     {"Amount", ftFloat, 0},
                                   {"Flag", ftBoolean, 0},  {"Extra", ftString, 10}};
const std::vector<TCol> kFile = {{"Number", ftString, 8}, {"Path", ftString, 64}, {"Attrib", ftInteger, 0},
                                 {"Icon", ftBlob, 0},     {"Tiny", ftString, 3},  {"Big", ftLargeint, 0},
                                 {"Small", ftSmallint, 0}, {"Day", ftDate, 0},    {"Amount", ftFloat, 0},
                                 {"Flag", ftBoolean, 0},  {"Kept", ftInteger, 0}};

using TRow = std::vector<TVariant>; // per source column; monostate leaves it NULL
const TVariant N;
const std::vector<TRow> kRows = {
    {"c:\\a\\", "12345678", 16, std::string("\0\1ic\0", 5), "abc", std::int64_t(1) << 40, 7, 45000.0, 1.25, true,
     "x"},
    {N, N, N, N, N, N, N, N, N, N, N},
    {"", "123456789", -1, "", "abcd", -5, -32768, 1.0, -0.5, false, ""},            // over the width: cut
    {"žluť\\ä", "ééééé", 2147483647, "b", "éé", 0, 32767, 73050.0, 1e300, true, N}, // cut between characters
    {std::string("n\0ul", 4), "7", 0, N, "é", N, 0, N, 0.0, N, "y"},               // a NUL ends a text
};

void Open(TDataSet &t, const std::vector<TCol> &cols)
{
    for (const TCol &c : cols)
        t.FieldDefs().Add(c.name, c.type, c.size);
    t.Open();
}

struct TCopy { std::string bytes, error; std::vector<std::vector<TVariant>> values; int watched = 0; };

// Copies `rows` into a fresh file table, `watch` first set on it, and saves it. `all`:
// the source lacks the one field the file has not, so every field goes over.
TCopy Copy(const std::vector<TRow> &rows, const std::function<void(TFlatTable &, int &)> &watch = {},
          bool all = false)
{
    TExMemoryData scan;
    Open(scan, std::vector<TCol>(kSource.begin(), kSource.end() - (all ? 1 : 0)));
    for (const TRow &r : rows) {
        scan.Append();
        for (int i = 0; i < scan.FieldCount(); ++i)
            if (!VarIsNull(r[size_t(i)]))
                scan.Fields(i).SetValue(r[size_t(i)]);
        scan.Post();
    }
    TFlatTable files;
    Open(files, kFile);
    TCopy out;
    if (watch)
        watch(files, out.watched);
    try {
        scan.SaveToDataSet(files, 0);
    } catch (const EDatabaseError &e) {
        out.error = e.what();
    }
    orbtest::TempDir dir;
    files.SaveToFile(dir.file("f.d"));
    out.bytes = orbtest::readFile(dir.file("f.d"));
    for (files.First(); !files.Eof(); files.Next()) {
        out.values.emplace_back();
        for (int i = 0; i < files.FieldCount(); ++i)
            out.values.back().push_back(files.Fields(i).Value());
    }
    return out;
}

// Watching one field with OnChange forces the one-at-a-time copy.
const auto WatchNumber = [](TFlatTable &t, int &calls) {
    t.FieldByName("Number").OnChange = [&calls](TField *) { ++calls; };
};

} // namespace

TEST(ScanCopy, PackedRecordsEqualFieldByFieldOnes)
{
    for (const bool all : {false, true}) {
        const TCopy fast = Copy(kRows, {}, all), slow = Copy(kRows, WatchNumber, all);
        EXPECT_EQ(slow.watched, int(kRows.size())); // the reference really went field by field
        EXPECT_EQ(fast.error, "");
        EXPECT_EQ(fast.values, slow.values);
        EXPECT_EQ(fast.bytes, slow.bytes);
    }
    const TCopy fast = Copy(kRows);
    ASSERT_EQ(fast.values.size(), kRows.size());
    EXPECT_EQ(fast.values[0][0], TVariant("12345678")); // at the width: whole
    EXPECT_EQ(fast.values[2][0], TVariant("12345678")); // over it: cut
    EXPECT_EQ(fast.values[4][1], TVariant("n"));
    EXPECT_EQ(fast.values[0][3], TVariant(std::string("\0\1ic\0", 5)));
}

TEST(ScanCopy, ValueThatDoesNotFitFailsAlikeAndKeepsEarlierRecords)
{
    // A number too big for the file's Small field, in the first, a middle and the last record.
    for (const size_t row : {size_t(0), size_t(2), kRows.size() - 1}) {
        std::vector<TRow> rows = kRows;
        rows[row][6] = 40000;
        const TCopy fast = Copy(rows, {}, row == 2), slow = Copy(rows, WatchNumber, row == 2);
        EXPECT_NE(fast.error, "");
        EXPECT_EQ(fast.error, slow.error);
        EXPECT_EQ(fast.values.size(), row);
        EXPECT_EQ(fast.values, slow.values);
        EXPECT_EQ(fast.bytes, slow.bytes);
    }
}

TEST(ScanCopy, AnyWatcherOfSingleFieldsGetsTheFieldByFieldCopy)
{
    const TCopy byValidate = Copy(kRows, [](TFlatTable &t, int &calls) {
        t.FieldByName("Attrib").OnValidate = [&calls](TField *) { ++calls; };
    });
    EXPECT_EQ(byValidate.watched, int(kRows.size()));
    EXPECT_EQ(byValidate.values, Copy(kRows).values);
    TFlatTable t;
    Open(t, kFile);
    const std::vector<TField *> fields = {&t.FieldByName("Path")};
    EXPECT_FALSE(t.CanSetFieldValues(fields)); // controls enabled: a grid would see each field
    t.DisableControls();
    EXPECT_TRUE(t.CanSetFieldValues(fields));
    t.FieldByName("Path").ReadOnly = true; // must keep raising its own error
    EXPECT_FALSE(t.CanSetFieldValues(fields));
    t.EnableControls();
}

TEST(ScanCopy, SetFieldValuesFailingMidwayKeepsTheFieldsBefore)
{
    TFlatTable a, b;
    const std::vector<TVariant> values = {"kept", "not a number", "lost"};
    std::string error[2];
    for (TFlatTable *t : {&a, &b}) {
        Open(*t, kFile);
        t->DisableControls();
        t->Append();
        std::vector<TField *> fields = {&t->FieldByName("Path"), &t->FieldByName("Attrib"), &t->FieldByName("Tiny")};
        try {
            if (t == &a)
                a.SetFieldValues(fields, values);
            for (size_t i = 0; t == &b && i < fields.size(); ++i)
                fields[i]->SetValue(values[i]);
        } catch (const EDatabaseError &e) {
            error[t == &b] = e.what();
        }
    }
    EXPECT_NE(error[0], "");
    EXPECT_EQ(error[0], error[1]);
    EXPECT_EQ(a.FieldByName("Path").AsString(), "kept");
    EXPECT_TRUE(a.FieldByName("Tiny").IsNull());
    EXPECT_TRUE(a.Modified());
}

TEST(ScanCopy, StraightAppendsLeaveWhatPostsLeaveAndStepAsideForDefaultsAndHandlers)
{
    TFlatTable a, b;
    Open(a, kFile);
    Open(b, kFile);
    const std::vector<std::vector<TVariant>> rows = {{"c:\\x\\", std::int64_t(3)}, {"c:\\y\\", "17"}};
    std::vector<TField *> fields = {&b.FieldByName("Path"), &b.FieldByName("Attrib")};
    b.DisableControls();
    for (const auto &r : rows) {
        a.Append();
        a.FieldByName("Path").SetValue(r[0]);
        a.FieldByName("Attrib").SetValue(r[1]);
        a.Post();
        ASSERT_TRUE(b.AppendValues(fields, r));
    }
    b.EndAppends();
    EXPECT_EQ(b.RecNo(), a.RecNo());
    EXPECT_EQ(b.FieldByName("Attrib").AsInteger(), 17);
    EXPECT_EQ(b.ChangeCount(), a.ChangeCount());
    EXPECT_FALSE(b.AppendValues(fields, {"c:\\z\\", "not a number"}));
    int posts = 0;
    b.AfterPost = [&posts](TDataSet *) { ++posts; };
    EXPECT_FALSE(b.AppendValues(fields, rows[0]));
    b.AfterPost = nullptr;
    b.FieldByName("Tiny").DefaultExpression = "ab";
    EXPECT_FALSE(b.AppendValues(fields, rows[0]));
    b.EnableControls();
    EXPECT_EQ(b.RecordCount(), 2);
    EXPECT_EQ(posts, 0);
}
