// Setting one variable-length value builds the record Pack would build from all values,
// whatever was set before, including a value taken from the record itself.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "storage/FlatTblStore.h"

namespace {

TEST(FlatRecordPack, SetVarGivesWhatPackGives)
{
    TFlatCursor c;
    const std::string d = FlatDescribeField("A", fftString, 50) + FlatDescribeField("N", fftInteger, 0) +
                          FlatDescribeField("B", fftBlob, 0) + FlatDescribeField("C", fftString, 20) +
                          FlatDescribeField("S", fftSmallStr, 5) + '\x14';
    std::string err;
    ASSERT_TRUE(c.ParseDescription(d, 5, err)) << err;
    const std::vector<const TFlatField *> vars{&c.Fields[0], &c.Fields[2], &c.Fields[3]};
    std::mt19937 rng(3);
    TFlatRecord r = TFlatRecord::Make(c.RecordSize);
    std::vector<std::string> values(3);
    const int32_t n = 77;
    std::memcpy(r.Fixed() + c.Fields[1].Offset, &n, 4);
    r.SetVar(c.Fields, c.RecordSize, c.Fields[4], "ab");
    for (int step = 0; step < 300; ++step) {
        const size_t which = rng() % 3;
        std::string v(rng() % 4 == 0 ? 0 : rng() % 60, char('a' + step % 26));
        if (step % 7 == 0 && !values[(which + 1) % 3].empty()) {
            // From another value of the same record.
            const std::string_view own = r.Var(*vars[(which + 1) % 3]);
            values[which] = std::string(own);
            r.SetVar(c.Fields, c.RecordSize, *vars[which], own);
        } else {
            values[which] = v;
            r.SetVar(c.Fields, c.RecordSize, *vars[which], v);
        }
        std::vector<std::string_view> views(values.begin(), values.end());
        views.push_back("ab"); // the short text, last of the variable fields
        const TFlatRecord packed = TFlatRecord::Pack(c.Fields, c.RecordSize, r.Fixed(), views);
        ASSERT_EQ(r.BlockSize(), packed.BlockSize()) << step;
        ASSERT_EQ(std::memcmp(r.Fixed() - 4, packed.Fixed() - 4, r.BlockSize()), 0) << step;
        for (size_t i = 0; i < 3; ++i)
            ASSERT_EQ(r.Var(*vars[i]), values[i]) << step;
    }
    // A value set on an empty handle starts from a zero-filled record.
    TFlatRecord empty;
    empty.SetVar(c.Fields, c.RecordSize, c.Fields[3], "xyz");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty.Var(c.Fields[3]), "xyz");
    EXPECT_EQ(FlatGetInt(empty.Fixed(), c.Fields[1]), 0);
}

} // namespace
