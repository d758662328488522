// Copying between tables of one layout takes whole records; the result must be exactly
// what the field-by-field copy gives (the copy runs field by field while the target's
// controls are enabled), including the records that copy alters: texts longer than
// their width, texts with a NUL, wide characters in short texts, zero numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/DataSet.h"

#include "storage/FlatTbl.h"
#include "storage/FlatTblStore.h"
#include "support/ScopedValue.h"
#include "support/TempDir.h"

namespace {

void Layout(TFieldDefs &d)
{
    const std::pair<const char *, TFieldType> fields[] = {{"Small", ftSmallint}, {"Count", ftInteger},
                                                          {"Big", ftLargeint}, {"Icon", ftBlob}, {"Text", ftMemo}};
    d.Add("Path", ftString, 30);
    d.Add("Code", ftString, 6);
    for (const auto &[name, type] : fields)
        d.Add(name, type);
}

std::string Image(TFlatTable &t)
{
    std::string image, error;
    t.Cursor()->Password.clear();
    EXPECT_TRUE(t.Cursor()->WriteImage(image, error)) << error;
    return image;
}

struct TCopyCase {
    orbtest::TempDir dir;
    std::string file = dir.file("copy.d");
    TCopyCase()
    {
        TFlatTable t;
        Layout(t.FieldDefs());
        t.Open();
        for (int i = 0; i < 400; ++i) {
            t.Append();
            if (i % 5 != 0)
                t.FieldByName("Path").SetAsString("c:\\dir" + std::to_string(i) + (i % 3 ? "\\ä\\" : "\\"));
            t.FieldByName("Code").SetAsString(i % 4 == 0 ? "" : i % 4 == 1 ? "ab" : i % 4 == 2 ? "éé" : "abcdef");
            t.FieldByName("Small").SetAsInteger(i % 7 - 3);
            if (i % 2)
                t.FieldByName("Count").SetAsInteger(i * 1000);
            t.FieldByName("Big").SetAsLargeInt(i % 3 == 0 ? 0 : int64_t(i) << 40);
            if (i % 6 == 0)
                t.FieldByName("Icon").SetAsBytes(std::string("\0\x01icon\0", 7));
            if (i % 4 == 1)
                t.FieldByName("Text").SetAsString(std::string(size_t(i), 'm'));
            t.Post();
        }
        t.SaveToFile(file);
        // Values no setter makes but a file may hold: longer than the width, a NUL
        // inside a short text, a short text cut inside a character.
        TFlatCursor &c = *t.Cursor();
        const TFlatField &path = *c.FindField("Path"), &code = *c.FindField("Code");
        TFlatRecord r = c.Entry(10)->Data;
        r.SetVar(c.Fields, c.RecordSize, path, std::string(45, 'L'));
        std::string error;
        EXPECT_TRUE(c.PutRecord(r, c.Entry(10), error)) << error;
        r = c.Entry(11)->Data;
        r.SetVar(c.Fields, c.RecordSize, code, std::string("a\0bc", 4));
        EXPECT_TRUE(c.PutRecord(r, c.Entry(11), error)) << error;
        r = c.Entry(12)->Data;
        r.SetVar(c.Fields, c.RecordSize, code,
                 code.TypeCode == fftSmallStr ? "abcd\xC3" : "abcd\xC3\xA9\xC3\xA9");
        EXPECT_TRUE(c.PutRecord(r, c.Entry(12), error)) << error;
        c.CommitAll();
        std::string image;
        EXPECT_TRUE(c.WriteImage(image, error)) << error;
        dir.write("copy.d", image);
    }

    std::string Copy(bool disabled, int &copied)
    {
        TFlatTable src;
        src.SetTableName(file);
        src.Open();
        TFlatTable dst;
        Layout(dst.FieldDefs());
        dst.Open();
        if (disabled)
            dst.DisableControls();
        copied = dst.CopyFromDataSet(&src, 0);
        if (disabled)
            dst.EnableControls();
        EXPECT_EQ(dst.RecordCount(), 400);
        dst.First();
        return Image(dst);
    }
};

TEST(FlatCopy, WholeRecordCopyGivesTheFieldByFieldResult)
{
    TCopyCase c;
    int fast = 0, slow = 0;
    const std::string whole = c.Copy(true, fast);
    const std::string byField = c.Copy(false, slow);
    EXPECT_EQ(fast, 400);
    EXPECT_EQ(slow, 400);
    EXPECT_EQ(whole, byField);
}

TEST(FlatCopy, TargetsWithDefaultsOrHandlersStillGetThem)
{
    TCopyCase c;
    TFlatTable src;
    src.SetTableName(c.file);
    src.Open();
    TFlatTable dst;
    Layout(dst.FieldDefs());
    dst.Open();
    int changes = 0;
    dst.FieldByName("Count").OnChange = [&](TField *) { ++changes; };
    int news = 0;
    dst.OnNewRecord = [&](TDataSet *ds) { ++news, ds->FieldByName("Big").SetAsLargeInt(99); };
    dst.DisableControls();
    EXPECT_EQ(dst.CopyFromDataSet(&src, 0), 400);
    dst.EnableControls();
    EXPECT_EQ(news, 400);
    EXPECT_EQ(changes, 400 / 2 + 400 / 2); // set Counts, and zeros (an Integer is never empty)
    dst.First();
    // A zero in the source is empty: the default stays.
    EXPECT_EQ(dst.FieldByName("Big").AsLargeInt(), 99);
}

// The records a copy takes straight into the store (no insert or post of them would
// reach anyone) leave the table as taking them one insert and post at a time does: the
// same store, view and cursor, and the same held-back events once controls are back.
TEST(FlatCopy, BulkCopyLeavesWhatRecordByRecordLeaves)
{
    TCopyCase c;
    struct TSeen {
        std::string image, first, statuses;
        int copied = 0, count = 0, recNo = 0, stateChanges = 0, dataChanges = 0, needSave = 0;
        TDataSetState state = dsInactive;
        bool operator==(const TSeen &) const = default;
    };
    // A source of plain texts only: every record goes over in bulk.
    const std::string plain = c.dir.file("plain.d");
    {
        TFlatTable t;
        Layout(t.FieldDefs());
        t.Open();
        for (int i = 0; i < 300; ++i) {
            t.Append();
            t.FieldByName("Path").SetAsString("c:\\d" + std::to_string(i % 17));
            t.FieldByName("Code").SetAsString(i % 3 ? "ab" : "");
            t.FieldByName("Count").SetAsInteger(i);
            t.Post();
        }
        t.SaveToFile(plain);
    }
    const auto copy = [&](const std::string &file, bool bulk, bool indexed) {
        const orbtest::ScopedValue<bool> way(FlatCopyInBulk, bulk);
        TSeen seen;
        TFlatTable src;
        src.SetTableName(file);
        src.Open();
        TFlatTable dst;
        Layout(dst.FieldDefs());
        dst.Open();
        if (indexed)
            dst.SetIndexFieldNames("Code;Path");
        TDataSource watch(&dst);
        watch.OnStateChange = [&](TDataSource *) { ++seen.stateChanges; };
        watch.OnDataChange = [&](TDataSource *, TField *) { ++seen.dataChanges; };
        dst.OnNeedToSaveChange = [&](TFlatDataset *) { ++seen.needSave; };
        dst.DisableControls();
        seen.copied = dst.CopyFromDataSet(&src, 0);
        dst.EnableControls();
        seen.count = dst.RecordCount();
        seen.recNo = dst.RecNo();
        seen.state = dst.State();
        seen.first = dst.FieldByName("Path").AsString() + "|" + dst.FieldByName("Code").AsString();
        // The records taken in live on like any other: edited, deleted.
        dst.Edit();
        dst.FieldByName("Count").SetAsInteger(7);
        dst.Post();
        dst.Next();
        dst.Delete();
        for (int i = 0; i < dst.Cursor()->RecordCount(); ++i)
            seen.statuses += std::to_string(dst.Cursor()->Entry(i)->Status) + "/" +
                             std::to_string(dst.Cursor()->Entry(i)->StoredSize) + " ";
        seen.image = Image(dst);
        return seen;
    };
    for (const std::string &file : {c.file, plain})
    for (const bool indexed : {false, true}) {
        const TSeen bulk = copy(file, true, indexed), single = copy(file, false, indexed);
        EXPECT_EQ(bulk.copied, file == plain ? 300 : 400);
        EXPECT_GT(bulk.stateChanges, 0);
        EXPECT_GT(bulk.dataChanges, 0);
        EXPECT_EQ(bulk.needSave, 1);
        EXPECT_TRUE(bulk == single) << indexed << ": " << bulk.recNo << "/" << single.recNo << " "
                                    << bulk.stateChanges << "/" << single.stateChanges << " " << bulk.dataChanges
                                    << "/" << single.dataChanges << " " << bulk.first << "/" << single.first;
    }
}

} // namespace
