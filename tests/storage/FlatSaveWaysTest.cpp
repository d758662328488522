// A save encodes the records on helper threads or, for a small table, on the calling
// thread. Either way the file must hold the same bytes, report the same progress and
// refuse the same value. The encoder copies a number by its width and keeps it by its
// value, so values whose low bytes are all zero, and the float values that are dropped
// or kept, are checked as well.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "storage/FlatTblStore.h"
#include "TableFileTest.h"
#include "support/ScopedValue.h"

namespace {

namespace fs = std::filesystem;

// Sets the size from which a save takes helpers, for one scope.
struct TThreadsFrom : orbtest::ScopedValue<uint64_t> {
    explicit TThreadsFrom(uint64_t bytes) : ScopedValue(FlatSaveThreadsFrom, bytes) {}
};

constexpr uint64_t AlwaysHelped = 0, NeverHelped = std::numeric_limits<uint64_t>::max();

std::string Describe()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Code", fftSmallStr, 10) +
           FlatDescribeField("Text", fftString, 40) + FlatDescribeField("Data", fftBlob, 0) + '\x14';
}

// About 2 KB a record on average, so that a few thousand make many stretches.
TFlatRecord MakeRecord(const TFlatCursor &c, int i)
{
    TFlatRecord r = TFlatRecord::Make(c.RecordSize);
    std::memcpy(r.Fixed() + c.Fields[0].Offset, &i, 4);
    r.SetVar(c.Fields, c.RecordSize, c.Fields[1], i % 3 ? "C" + std::to_string(i % 1000) : std::string());
    r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(size_t(i % 37), char('a' + i % 26)));
    r.SetVar(c.Fields, c.RecordSize, c.Fields[3], std::string(size_t(i * 7 % 4000), char(i)));
    return r;
}

void Build(TFlatCursor &c, int count)
{
    std::string err;
    ASSERT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 4), err)) << err;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(c.PutRecord(MakeRecord(c, i), nullptr, err)) << err;
    c.CommitAll();
}

// The percentages that asking after every record gives: nearest, ties to even.
std::vector<int> PercentsOfEveryRecord(uint64_t total)
{
    std::vector<int> seen;
    int last = 0;
    for (uint64_t done = 1; done <= total; ++done) {
        const int p = int(std::nearbyint(100.0 * double(done) / double(total)));
        if (p != last)
            seen.push_back(last = p);
    }
    return seen;
}

class FlatSaveWays : public TableFileTest {};

TEST_F(FlatSaveWays, CallingThreadAndHelpersWriteTheSameFileAndProgress)
{
    // Empty, single and tiny tables, one of a few stretches and one of many; deleted
    // records at the start and scattered, so stretches begin and end on them.
    for (const int count : {0, 1, 2, 7, 300, 4000}) {
        TFlatCursor c;
        Build(c, count);
        std::string err;
        for (int i = 0; i < count; i += 97)
            ASSERT_TRUE(c.DeleteRecord(c.Entry(i), err)) << err;
        const int live = count - (count + 96) / 97;
        std::string files[2];
        for (const uint64_t from : {AlwaysHelped, NeverHelped}) {
            TThreadsFrom threads(from);
            std::vector<int> seen;
            c.OnProgress = [&](int p) { seen.push_back(p); };
            ASSERT_TRUE(c.SaveToFile(file_, 0, false, "", err)) << err;
            EXPECT_EQ(seen, PercentsOfEveryRecord(uint64_t(c.RecordCount()))) << count;
            files[from == NeverHelped] = ReadFile();
        }
        EXPECT_EQ(files[0], files[1]) << count;
        TFlatCursor back;
        ASSERT_TRUE(back.ReadImage(files[0], err)) << err;
        ASSERT_EQ(back.RecordCount(), live) << count;
        // The live records in store order, each with its own bytes.
        for (int i = 0, k = 0; i < count; ++i) {
            if (i % 97 == 0)
                continue;
            const TFlatRecord want = MakeRecord(back, i);
            const TFlatRecord &got = back.Entry(k++)->Data;
            ASSERT_EQ(FlatGetInt(got, back.Fields[0]), i) << count;
            for (size_t k = 1; k < 4; ++k)
                ASSERT_EQ(got.Var(back.Fields[k]), want.Var(back.Fields[k])) << count << "/" << i << "/" << k;
        }
    }
}

// The first megabytes of a save are gathered and written at once, the rest as produced;
// the table and the backup it replaces (held open across their renames) come out whole.
TEST_F(FlatSaveWays, GatheredAndStreamedFilesAreTheImageAndTheBackupTheOldTable)
{
    const std::string backup = FlatBackupName(file_);
    std::string previous;
    for (const int count : {300, 1200, 4000}) { // about 0.6, 2.4 and 8 MB
        TFlatCursor c;
        Build(c, count);
        std::string image, err;
        ASSERT_TRUE(c.WriteImage(image, err)) << err;
        ASSERT_TRUE(c.SaveToFile(file_, savAutoBackup, false, "", err)) << err;
        EXPECT_TRUE(ReadFile() == image) << count;
        if (!previous.empty()) {
            EXPECT_TRUE(orbtest::readFile(backup) == previous) << count;
        }
        previous = image;
    }
    fs::remove(backup);
}

TEST_F(FlatSaveWays, RefusedValueIsNamedTheSameAndChangesNothing)
{
    TFlatCursor c;
    Build(c, 4000);
    std::string err;
    ASSERT_TRUE(c.DeleteRecord(c.Entry(5), err)) << err;
    // Values the reader would refuse in an early and a late stretch: the first one counts.
    for (const int at : {3500, 40}) {
        TFlatRecEntry *bad = c.Entry(at);
        TFlatRecord r = bad->Data;
        r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(FlatMaxStringLength + 1, 'x'));
        ASSERT_TRUE(c.PutRecord(r, bad, err)) << err;
    }
    // Record 40 is the 40th written: one record before it is deleted.
    const std::string expected = Fmt(SStringWrongLength, "Text", int(FlatMaxStringLength + 1), 40);
    for (const uint64_t from : {AlwaysHelped, NeverHelped}) {
        TThreadsFrom threads(from);
        std::ofstream(file_, std::ios::trunc) << "old table";
        err.clear();
        EXPECT_FALSE(c.SaveToFile(file_, savAutoBackup, false, "", err));
        EXPECT_EQ(err, expected);
        EXPECT_EQ(ReadFile(), "old table");
        EXPECT_EQ(FilesInFolder(), 1u); // neither a temporary file nor a backup
    }
}

// A table of every number type, each value put in by its bytes.
struct TNumbers {
    TFlatCursor c;
    std::vector<std::pair<const char *, uint8_t>> types = {
        {"Small", fftSmallInt}, {"Flag", fftBoolean}, {"Int", fftInteger}, {"Day", fftDate},
        {"Clock", fftTime},     {"Auto", fftAutoInc}, {"Big", fftInt64},   {"Real", fftDouble},
        {"Money", fftCurrency}, {"Stamp", fftDateTime}};
    TNumbers()
    {
        std::string desc;
        for (const auto &[name, code] : types)
            desc += FlatDescribeField(name, code, 0);
        std::string err;
        EXPECT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(desc + '\x14', uint32_t(types.size())), err)) << err;
    }
    // One record with `bytes` (its low bytes first) in every field of `width` bytes.
    void Add(size_t width, uint64_t bytes)
    {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        for (const TFlatField &f : c.Fields)
            if (f.Size == width)
                std::memcpy(r.Fixed() + f.Offset, &bytes, width);
        std::string err;
        EXPECT_TRUE(c.PutRecord(r, nullptr, err)) << err;
    }
};

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}

TEST(FlatSaveEncoding, NumbersAreKeptByValueWhateverTheirBytes)
{
    TNumbers t;
    // Only the highest byte set, or only the lowest: a value either way.
    t.Add(2, 0x0100);
    t.Add(2, 0x8000);
    t.Add(4, 0x01000000);
    t.Add(8, uint64_t(1) << 56);
    t.Add(8, 1);
    // The smallest subnormal, the infinities and the largest finite are kept...
    t.Add(8, Bits(std::numeric_limits<double>::denorm_min()));
    t.Add(8, Bits(std::numeric_limits<double>::infinity()));
    t.Add(8, Bits(-std::numeric_limits<double>::infinity()));
    t.Add(8, Bits(std::numeric_limits<double>::max()));
    // ...minus zero and every NaN are not (the reader gives zero for them).
    t.Add(8, Bits(-0.0));
    t.Add(8, Bits(std::numeric_limits<double>::quiet_NaN()));
    t.Add(8, Bits(-std::numeric_limits<double>::quiet_NaN()));
    t.Add(8, 0x7FF0000000000001); // a signalling NaN
    std::string image, err;
    ASSERT_TRUE(t.c.WriteImage(image, err)) << err;
    TFlatCursor back;
    ASSERT_TRUE(back.ReadImage(image, err)) << err;
    ASSERT_EQ(back.RecordCount(), t.c.RecordCount());
    for (int i = 0; i < back.RecordCount(); ++i) {
        const TFlatRecord packed = back.Entry(i)->Data; // a loaded record is read in place; its copy is packed
        const uint8_t *got = packed.Fixed(), *put = t.c.Entry(i)->Data.Fixed();
        for (const TFlatField &f : back.Fields) {
            uint64_t want = 0, have = 0;
            std::memcpy(&want, put + f.Offset, f.Size);
            std::memcpy(&have, got + f.Offset, f.Size);
            const bool isFloat = f.TypeCode == fftDouble || f.TypeCode == fftCurrency || f.TypeCode == fftDateTime;
            if (isFloat) {
                double v;
                std::memcpy(&v, &want, 8);
                if (v == 0.0 || std::isnan(v))
                    want = 0;
            }
            EXPECT_EQ(have, want) << f.Name << " in record " << i;
        }
    }
}

} // namespace
