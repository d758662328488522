// Records read from a file live in the store's arena, and a save encodes stretches of
// records side by side while the earlier ones are written. Neither may show: a loaded
// store must behave under every change as one built record by record, and a saved file
// must be the bytes of the one-pass image, with the same progress and the same errors.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "storage/FlatTblStore.h"
#include "TableFileTest.h"

namespace {

namespace fs = std::filesystem;

std::string Describe()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Code", fftSmallStr, 10) +
           FlatDescribeField("Text", fftString, 40) + FlatDescribeField("Data", fftBlob, 0) + '\x14';
}

TFlatRecord MakeRecord(const TFlatCursor &c, int i, size_t blobSize)
{
    TFlatRecord r = TFlatRecord::Make(c.RecordSize);
    std::memcpy(r.Fixed() + c.Fields[0].Offset, &i, 4);
    const std::string code = "C" + std::to_string(i % 1000);
    r.SetVar(c.Fields, c.RecordSize, c.Fields[1], code);
    r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(size_t(i % 37), char('a' + i % 26)));
    r.SetVar(c.Fields, c.RecordSize, c.Fields[3], std::string(blobSize, char(i)));
    return r;
}

// A store built record by record (every block its own).
void Build(TFlatCursor &c, int count, size_t (*blobSize)(int))
{
    std::string err;
    ASSERT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 4), err)) << err;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(c.PutRecord(MakeRecord(c, i, blobSize(i)), nullptr, err)) << err;
    c.CommitAll();
}

size_t SmallBlob(int i) { return size_t(i % 5); }
// About 2 KB a record, so that a few thousand records make several stretches.
size_t WideBlob(int i) { return size_t(i * 7 % 4000); }

std::string Image(TFlatCursor &c)
{
    std::string img, err;
    EXPECT_TRUE(c.WriteImage(img, err)) << err;
    return img;
}

// Everything a caller can see of a store: each record's status, stored size and bytes.
std::string Outcome(const TFlatCursor &c)
{
    std::string s;
    for (int i = 0; i < c.RecordCount(); ++i) {
        const TFlatRecEntry *e = c.Entry(i);
        s += std::to_string(e->Status) + "/" + std::to_string(e->StoredSize) + ":";
        if (e->Data) {
            const TFlatRecord packed = e->Data; // the same bytes in whichever form the record is held
            s.append(reinterpret_cast<const char *>(packed.Fixed()) - 4, packed.BlockSize());
        }
        s += '|';
    }
    return s;
}

using TChange = std::function<void(TFlatCursor &)>;

TEST(FlatRecordArena, LoadedStoreFollowsEveryChangeAsABuiltOne)
{
    const auto edit = [](TFlatCursor &c, int i) {
        std::string err;
        TFlatRecEntry *e = c.Entry(i);
        c.BeginEdit(e);
        TFlatRecord r = e->Data;
        r.SetVar(c.Fields, c.RecordSize, c.Fields[2], "edited " + std::to_string(i));
        ASSERT_TRUE(c.PutRecord(r, e, err)) << err;
    };
    const auto erase = [](TFlatCursor &c, int i) {
        std::string err;
        ASSERT_TRUE(c.DeleteRecord(c.Entry(i), err)) << err;
    };
    const std::vector<std::pair<const char *, TChange>> cases = {
        {"nothing", [](TFlatCursor &) {}},
        {"edit", [&](TFlatCursor &c) { edit(c, 3); }},
        {"edit twice, commit", [&](TFlatCursor &c) { edit(c, 3); edit(c, 3); edit(c, 40); c.CommitAll(); }},
        {"edit, revert one", [&](TFlatCursor &c) { edit(c, 3); edit(c, 5); c.RevertRecord(c.Entry(3)); }},
        {"edit, revert all", [&](TFlatCursor &c) { edit(c, 0); edit(c, 99); c.RevertAll(); }},
        {"delete, commit", [&](TFlatCursor &c) { erase(c, 7); erase(c, 8); c.CommitAll(); }},
        {"delete, revert", [&](TFlatCursor &c) { erase(c, 7); c.RevertAll(); }},
        {"insert, delete, edit",
         [&](TFlatCursor &c) {
             std::string err;
             ASSERT_TRUE(c.PutRecord(MakeRecord(c, 500, 3), nullptr, err)) << err;
             erase(c, 1);
             edit(c, 100);
         }},
        {"insert, revert",
         [&](TFlatCursor &c) {
             std::string err;
             ASSERT_TRUE(c.PutRecord(MakeRecord(c, 501, 0), nullptr, err)) << err;
             c.RevertAll();
         }},
        {"sort", [](TFlatCursor &c) { c.SortRecords("Text;Id", true); }},
    };
    for (const auto &[name, change] : cases) {
        TFlatCursor built;
        Build(built, 120, SmallBlob);
        TFlatCursor loaded;
        std::string err;
        ASSERT_TRUE(loaded.ReadImage(Image(built), err)) << err;
        EXPECT_TRUE(loaded.Entry(0)->Data.InArena()) << name;
        EXPECT_FALSE(built.Entry(0)->Data.InArena()) << name;
        change(built);
        change(loaded);
        EXPECT_EQ(Outcome(loaded), Outcome(built)) << name;
        EXPECT_EQ(Image(loaded), Image(built)) << name;
        const auto *found = loaded.RecordsWithText(2, "edited 3");
        const auto *expected = built.RecordsWithText(2, "edited 3");
        ASSERT_TRUE(found && expected) << name;
        EXPECT_EQ(found->size(), expected->size()) << name;
    }
}

TEST(FlatRecordArena, CopiesOutliveTheStoreAndReadsStartAfresh)
{
    TFlatCursor built;
    Build(built, 50, SmallBlob);
    const std::string image = Image(built);
    TFlatRecord kept;
    {
        TFlatCursor c;
        std::string err;
        ASSERT_TRUE(c.ReadImage(image, err)) << err;
        kept = c.Entry(10)->Data; // a copy of its own
        TFlatRecord moved = std::move(kept);
        kept = std::move(moved);
        // Reading again drops the first read's records and their arena.
        ASSERT_TRUE(c.ReadImage(image, err)) << err;
        EXPECT_EQ(Outcome(c), Outcome(built));
        // A damaged image leaves nothing behind either.
        std::string cut = image.substr(0, image.size() - 9);
        EXPECT_FALSE(c.ReadImage(cut, err));
        EXPECT_EQ(c.RecordCount(), 0);
    }
    EXPECT_FALSE(kept.InArena());
    EXPECT_EQ(kept.Var(built.Fields[2]), built.Entry(10)->Data.Var(built.Fields[2]));
    EXPECT_EQ(std::memcmp(kept.Fixed(), built.Entry(10)->Data.Fixed(), built.RecordSize), 0);
}

// A large read gets its memory readied by a helper that faults pages in while the
// records are written into them: every byte written stays, and what the records did
// not take goes back.
TEST(FlatRecordArena, ReadiedRegionKeepsEveryByteAndGivesBackTheRest)
{
    TFlatRecordArena arena;
    const size_t region = size_t(96) << 20;
    arena.Reserve(region);
    EXPECT_GE(arena.Capacity(), region);
    std::vector<std::pair<uint8_t *, size_t>> blocks;
    size_t used = 0;
    for (size_t k = 0; used < (size_t(40) << 20); ++k) {
        const size_t n = 1 + k * 131 % 3000;
        uint8_t *p = arena.Allocate(n);
        std::memset(p, int(k & 255), n);
        blocks.push_back({p, n});
        used += (n + 3) & ~size_t(3);
    }
    arena.Settle();
    EXPECT_LT(arena.Capacity(), used + 4096);
    uint8_t *later = arena.Allocate(100); // allocations go on after the region
    std::memset(later, 7, 100);
    for (size_t k = 0; k < blocks.size(); ++k)
        for (size_t i = 0; i < blocks[k].second; i += 97)
            ASSERT_EQ(blocks[k].first[i], uint8_t(k & 255)) << k;
    arena.Reserve(region);
    arena.Clear(); // a helper still at work ends with the arena
    EXPECT_EQ(arena.Capacity(), 0u);
}

TEST(FlatRecordArena, LargeLoadIsTheBuiltStore)
{
    TFlatCursor built;
    Build(built, 40000, WideBlob); // about 80 MB
    TFlatCursor loaded;
    std::string err;
    ASSERT_TRUE(loaded.ReadImage(Image(built), err)) << err;
    EXPECT_TRUE(Outcome(loaded) == Outcome(built));
}

class FlatStretchSave : public TableFileTest {};

TEST_F(FlatStretchSave, FileIsTheOnePassImageWithItsProgress)
{
    // Deleted records between and at the edges of stretches, for tables of one to many stretches.
    for (const int count : {0, 1, 300, 12000}) {
        TFlatCursor c;
        Build(c, count, WideBlob);
        std::string err;
        for (int i = 0; i < count; i += 997)
            ASSERT_TRUE(c.DeleteRecord(c.Entry(i), err)) << err;
        std::vector<int> expected, got;
        c.OnProgress = [&](int p) { expected.push_back(p); };
        const std::string image = Image(c);
        c.OnProgress = [&](int p) { got.push_back(p); };
        ASSERT_TRUE(c.SaveToFile(file_, 0, false, "", err)) << err;
        EXPECT_EQ(ReadFile(), image) << count;
        EXPECT_EQ(got, expected) << count;
        if (count > 0) {
            EXPECT_EQ(got.back(), 100);
        }
        TFlatCursor back;
        ASSERT_TRUE(back.ReadImage(ReadFile(), err)) << err;
        EXPECT_EQ(back.RecordCount(), count - (count + 996) / 997) << count;
    }
}

TEST_F(FlatStretchSave, ProtectedBodyStaysOneStream)
{
    FlatSession().AddPassword("stretch secret");
    TFlatCursor c;
    Build(c, 9000, WideBlob);
    c.Password = "stretch secret";
    std::string err;
    ASSERT_TRUE(c.SaveToFile(file_, 0, false, "", err)) << err;
    TFlatCursor back;
    ASSERT_TRUE(back.ReadImage(ReadFile(), err)) << err;
    c.Password.clear();
    back.Password.clear();
    EXPECT_EQ(Outcome(back), Outcome(c));
    FlatSession().RemovePassword("stretch secret");
}

TEST_F(FlatStretchSave, RefusedValueInALateStretchNamesItsRecordAndWritesNothing)
{
    std::ofstream(file_) << "old table";
    TFlatCursor c;
    Build(c, 12000, WideBlob);
    std::string err;
    ASSERT_TRUE(c.DeleteRecord(c.Entry(5), err)) << err;
    TFlatRecEntry *bad = c.Entry(11000);
    TFlatRecord r = bad->Data;
    r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(FlatMaxStringLength + 1, 'x'));
    ASSERT_TRUE(c.PutRecord(r, bad, err)) << err;
    // One record before it is deleted, so it is the 11,000th written.
    const std::string expected = Fmt(SStringWrongLength, "Text", int(FlatMaxStringLength + 1), 11000);
    std::string image;
    EXPECT_FALSE(c.WriteImage(image, err));
    EXPECT_EQ(err, expected);
    EXPECT_TRUE(image.empty());
    err.clear();
    EXPECT_FALSE(c.SaveToFile(file_, 0, false, "", err));
    EXPECT_EQ(err, expected);
    EXPECT_EQ(ReadFile(), "old table");
    EXPECT_EQ(FilesInFolder(), 1u); // no temporary file left
}

} // namespace
