// The in-memory table's own rules: record IDs, the AutoInc counter, insert
// and append placement, delete with a filter, structure copying and record
// copying between tables.
#include "storage/ExMemDS.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>
#include "support/FieldTexts.h"

namespace {

void openNameNum(TExMemoryData &t) {
    t.FieldDefs().Add("Name", ftString, 20);
    t.FieldDefs().Add("Num", ftInteger);
    t.Open();
}

void add(TExMemoryData &t, const std::string &name, int num, bool append = true) {
    if (append) t.Append(); else t.Insert();
    t.FieldByName("Name").SetAsString(name);
    t.FieldByName("Num").SetAsInteger(num);
    t.Post();
}

std::vector<std::string> names(TDataSet &t) { return orbtest::FieldTexts(t); }

} // namespace

TEST(ExMemIds, FirstIdRestartAndBookmarks) {
    TExMemoryData t;
    t.EmptyTable();  // closed: nothing happens
    EXPECT_FALSE(t.Active());
    openNameNum(t);
    add(t, "a", 1);
    EXPECT_EQ(t.CurrentID(), INT_MIN + 1);
    const TBookmark a = t.GetBookmark();
    EXPECT_TRUE(t.BookmarkValid(a));
    TBookmark ahead = a;
    ahead[0] = static_cast<std::uint8_t>(ahead[0] + 2);  // an ID never handed out
    add(t, "b", 2);
    EXPECT_EQ(t.CurrentID(), INT_MIN + 2);
    EXPECT_FALSE(t.BookmarkValid(ahead));
    // Going to a record the filter rejects keeps the position.
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Num").AsInteger() != 1; });
    t.SetFiltered(true);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    t.GotoBookmark(a);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    t.SetFiltered(false);
    t.EmptyTable();
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_TRUE(t.IsEmpty());
    add(t, "c", 3);
    EXPECT_EQ(t.CurrentID(), INT_MIN + 1);
    t.Close();
    EXPECT_FALSE(t.BookmarkValid(a));
}

TEST(ExMemAutoInc, TwoAutoIncFieldsShareOneValuePerPost) {
    TExMemoryData t;
    t.FieldDefs().Add("A", ftAutoInc);
    t.FieldDefs().Add("B", ftAutoInc);
    t.FieldDefs().Add("Name", ftString, 10);
    t.Open();
    for (int i = 1; i <= 2; ++i) {
        t.Append();
        t.FieldByName("Name").SetAsString("x");
        t.Post();
        EXPECT_EQ(t.FieldByName("A").AsString() + "/" + t.FieldByName("B").AsString(), std::to_string(i) + "/" + std::to_string(i));
    }
    EXPECT_EQ(t.AutoIncValue(), 3);
    // An edit keeps the value; a reopen starts the counter again.
    t.Edit();
    t.FieldByName("Name").SetAsString("y");
    t.Post();
    EXPECT_EQ(t.FieldByName("A").AsInteger(), 2);
    t.Close();
    t.Open();
    EXPECT_EQ(t.AutoIncValue(), 1);
}

TEST(ExMemPlacement, InsertGoesBeforeCurrentAppendAtEnd) {
    TExMemoryData t;
    openNameNum(t);
    add(t, "a", 1, false);  // insert into an empty table
    add(t, "c", 3);
    t.Last();
    add(t, "b", 2, false);  // before "c"
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b") << "the posted record is current";
    t.First();
    add(t, "0", 0, false);  // before "a"
    add(t, "z", 9);
    EXPECT_EQ(names(t), (std::vector<std::string>{"0", "a", "b", "c", "z"}));
}

TEST(ExMemDelete, MovesToPreviousAcceptedRecord) {
    TExMemoryData t;
    openNameNum(t);
    for (int i = 1; i <= 5; ++i) add(t, std::string(1, static_cast<char>('a' + i - 1)), i);
    // Without a filter the next record takes the deleted one's place.
    t.First();
    t.Next();  // b
    t.Delete();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
    // With a filter that rejects "c" and "e", deleting "d" shows "a": the
    // record that takes its place is rejected, and so is the one before.
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) {
        const std::string n = ds->FieldByName("Name").AsString();
        accept = n != "c" && n != "e";
    });
    t.SetFiltered(true);
    ASSERT_TRUE(t.Locate("Name", std::string("d"), {}));
    t.Delete();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "a");
    EXPECT_EQ(t.RecordCount(), 3);
    // Deleting the last record leaves the one before it.
    t.SetFiltered(false);
    t.Last();
    t.Delete();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
    t.Delete();
    t.Delete();
    EXPECT_TRUE(t.IsEmpty());
    // When every record before the deleted one is rejected, down to the first,
    // none is shown: never a rejected one.
    for (const char *n : {"a", "b", "c"}) add(t, n, 0);
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Name").AsString() == "c"; });
    t.SetFiltered(true);
    ASSERT_EQ(t.FieldByName("Name").AsString(), "c");
    t.Delete();
    EXPECT_TRUE(t.Eof() && t.Bof());
    EXPECT_EQ(t.FieldByName("Name").AsString(), "");
    t.SetFiltered(false);
    EXPECT_EQ(names(t), (std::vector<std::string>{"a", "b"}));
}

TEST(ExMemStructure, UnknownFieldTypeRefusesToOpen) {
    TExMemoryData t;
    t.FieldDefs().Add("Good", ftInteger);
    t.FieldDefs().Add("Odd", ftUnknown);
    try { t.Open(); FAIL() << "opened"; } catch (const EDatabaseError &e) {
        EXPECT_STREQ(e.what(), "Field 'Odd' is of an unknown type");
    }
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.FieldCount(), 0);
}

TEST(ExMemStructure, CopyStructureDropsUnsupportedTypesAndNeedsClosedTable) {
    TExMemoryData src, dst;
    src.FieldDefs().Add("A", ftString, 30);
    src.FieldDefs().Add("B", ftUnknown);
    src.FieldDefs().Add("C", ftDateTime);
    dst.FieldDefs().Add("X", ftInteger);
    dst.Open();
    EXPECT_THROW(dst.CopyStructure(&src), EDatabaseError);
    dst.Close();
    dst.CopyStructure(&src);
    ASSERT_EQ(dst.FieldDefs().Count(), 2);
    EXPECT_EQ(dst.FieldDefs()[1].Name, "C");
    dst.Open();
    EXPECT_EQ(dst.FieldCount(), 2);
    EXPECT_EQ(dst.FieldByName("A").Size(), 30);
    dst.Close();
    EXPECT_EQ(dst.FieldCount(), 2) << "copied fields are persistent";
}

TEST(ExMemCopy, LoadFromDataSetReplacesOrAppends) {
    TExMemoryData src, dst;
    openNameNum(src);
    for (const char *n : {"a", "b", "c"}) add(src, n, 1);
    dst.FieldDefs().Add("Other", ftInteger);
    dst.Open();
    EXPECT_EQ(dst.LoadFromDataSet(src, 0, false), 3);
    EXPECT_EQ(dst.FieldCount(), 2) << "took the source's structure";
    EXPECT_EQ(dst.FieldByName("Name").AsString(), "a") << "ends on the first record";
    EXPECT_EQ(dst.LoadFromDataSet(src, 0, true), 3);
    EXPECT_EQ(names(dst), (std::vector<std::string>{"a", "b", "c", "a", "b", "c"}));
    EXPECT_EQ(dst.LoadFromDataSet(dst, 0, true), 0) << "not from itself";
}

TEST(ExMemCopy, LoadFromClosedSourceClosesItAgainAndSwitchesFilterOff) {
    TExMemoryData src, dst;
    src.CreateField("N", ftInteger);
    src.Open();
    src.Append();
    src.FieldByName("N").SetAsInteger(4);
    src.Post();
    // The source keeps persistent fields, so its structure survives a close
    // but its records do not: a closed in-memory table is empty.
    src.Close();
    openNameNum(dst);
    dst.SetOnFilterRecord([](TDataSet *, bool &accept) { accept = false; });
    dst.SetFiltered(true);
    EXPECT_EQ(dst.LoadFromDataSet(src, 0, false), 0);
    EXPECT_FALSE(src.Active());
    EXPECT_FALSE(dst.Filtered());
}

TEST(ExMemCopy, SaveToDataSetCountsFromFirstOrCurrent) {
    TExMemoryData src, dst;
    openNameNum(src);
    for (int i = 1; i <= 8; ++i) add(src, std::to_string(i), i);
    dst.FieldDefs().Add("Num", ftInteger);
    dst.FieldDefs().Add("Name", ftString, 5);
    // All records from the first, whatever the current one.
    src.Last();
    EXPECT_EQ(src.SaveToDataSet(dst, 0), 8);
    EXPECT_TRUE(dst.Active()) << "opened by the copy";
    EXPECT_EQ(dst.FieldByName("Num").AsInteger(), 1) << "dest ends on its first record";
    dst.EmptyTable();
    // At most five from the current record.
    src.First();
    src.MoveBy(2);
    EXPECT_EQ(src.SaveToDataSet(dst, 5), 5);
    EXPECT_EQ(names(dst), (std::vector<std::string>{"3", "4", "5", "6", "7"}));
    dst.EmptyTable();
    src.First();
    src.MoveBy(7);  // on the last record, not past it
    EXPECT_EQ(src.SaveToDataSet(dst, 5), 1);
    src.Last();     // Last sets Eof, so the copy loop ends at once
    EXPECT_EQ(src.SaveToDataSet(dst, 5), 0);
}

TEST(ExMemCopy, FailedCopyLeavesNoPendingInsert) {
    TExMemoryData src, dst;
    openNameNum(src);
    add(src, "12", 1);
    add(src, "not a number", 2);
    dst.FieldDefs().Add("Name", ftInteger);
    EXPECT_THROW(src.SaveToDataSet(dst, 0), EDatabaseError);
    EXPECT_EQ(dst.State(), dsBrowse);
    EXPECT_EQ(dst.RecordCount(), 1);
}

TEST(ExMemRecNo, SetRecNoIgnoresOutOfRange) {
    TExMemoryData t;
    openNameNum(t);
    EXPECT_EQ(t.RecNo(), 0);
    for (int i = 1; i <= 3; ++i) add(t, std::to_string(i), i);
    t.SetRecNo(2);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "2");
    t.SetRecNo(0);
    t.SetRecNo(4);
    EXPECT_EQ(t.RecNo(), 2);
}
