// The store's answer to "is this entry one of mine", which guards every edit and delete:
// it must hold for every record put or read, across entry blocks, and for nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"

namespace {

void DescribeTwoFields(TFlatCursor &c)
{
    const std::string d =
        FlatDescribeField("Name", fftString, 50) + FlatDescribeField("Size", fftInteger, 0) + '\x14';
    std::string error;
    ASSERT_TRUE(c.ParseDescription(d, 2, error)) << error;
}

TFlatRecEntry *Put(TFlatCursor &c, int value)
{
    TFlatRecord r = TFlatRecord::Make(c.RecordSize);
    std::memcpy(r.Fixed() + c.Fields[1].Offset, &value, 4);
    std::string error;
    TFlatRecEntry *added = nullptr;
    EXPECT_TRUE(c.PutRecord(r, nullptr, error, &added)) << error;
    return added;
}

TEST(FlatEntryIndex, EveryPutEntryIsFoundAcrossBlocksAndNothingElse)
{
    TFlatCursor a, b;
    DescribeTwoFields(a);
    DescribeTwoFields(b);
    std::vector<TFlatRecEntry *> mine;
    for (int i = 0; i < 2500; ++i) // several entry blocks
        mine.push_back(Put(a, i));
    TFlatRecEntry *theirs = Put(b, 1);
    for (TFlatRecEntry *e : mine)
        ASSERT_TRUE(a.ContainsEntry(e));
    EXPECT_FALSE(a.ContainsEntry(theirs));
    EXPECT_FALSE(b.ContainsEntry(mine.front()));
    EXPECT_FALSE(a.ContainsEntry(nullptr));
    TFlatRecEntry loose;
    EXPECT_FALSE(a.ContainsEntry(&loose));
    // The slot after the last entry lies in a block of the store but was never handed out.
    EXPECT_FALSE(a.ContainsEntry(mine.back() + 1));

    // Edits and deletes through a foreign entry are refused and change nothing.
    std::string error;
    EXPECT_FALSE(a.PutRecord(TFlatRecord::Make(a.RecordSize), theirs, error));
    EXPECT_EQ(error, SRecordNotFound);
    EXPECT_FALSE(a.DeleteRecord(theirs, error));
    EXPECT_EQ(theirs->Status, rsInserted);
    EXPECT_TRUE(a.DeleteRecord(mine[1234], error)) << error;
    EXPECT_FALSE(a.DeleteRecord(mine[1234], error));
    EXPECT_EQ(error, SRecordDeleted);
    a.CommitAll();
    EXPECT_TRUE(a.ContainsEntry(mine[1234])); // still listed, as a dead entry
    EXPECT_EQ(a.RecordCount(), 2500);
}

TEST(FlatEntryIndex, ReadRecordsAreFoundAndClearForgetsThem)
{
    TFlatCursor a;
    DescribeTwoFields(a);
    for (int i = 0; i < 700; ++i)
        Put(a, i);
    a.CommitAll();
    std::string image, error;
    ASSERT_TRUE(a.WriteImage(image, error)) << error;

    TFlatCursor b;
    ASSERT_TRUE(b.ReadImage(image, error)) << error;
    ASSERT_EQ(b.RecordCount(), 700);
    for (int i = 0; i < b.RecordCount(); ++i)
        ASSERT_TRUE(b.ContainsEntry(b.Entry(i)));
    EXPECT_FALSE(b.ContainsEntry(a.Entry(0)));
    TFlatRecEntry *last = b.Entry(699);
    EXPECT_FALSE(b.ContainsEntry(last + 1));
    b.Clear(false);
    EXPECT_EQ(b.RecordCount(), 0);
    EXPECT_FALSE(b.ContainsEntry(last));
    // New entries after a clear are found again.
    TFlatRecEntry *fresh = Put(b, 5);
    EXPECT_TRUE(b.ContainsEntry(fresh));
    EXPECT_EQ(b.RecordCount(), 1);
}

} // namespace
