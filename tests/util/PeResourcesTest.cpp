#include "util/PeResources.h"

#include "util/PeTestImage.h"

#include <gtest/gtest.h>

using namespace orbtest;

namespace {

uint32_t Rd32(const std::string &s, size_t off)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(s[off + i]);
    return v;
}

// A well-formed one-image icon stream: header, entry, image where it says.
void ExpectOneImageIcon(const std::string &ico)
{
    ASSERT_GE(ico.size(), 22u + 40u);
    EXPECT_EQ(ico.substr(0, 6), std::string("\0\0\1\0\1\0", 6));
    EXPECT_EQ(Rd32(ico, 14), ico.size() - 22); // image size
    EXPECT_EQ(Rd32(ico, 18), 22u);             // image offset
}

} // namespace

TEST(PeResources, ImageChoice)
{
    const PeTestImage pe = ProgramWithIcons(0xFF123456u);
    const std::string ico = ExtractSmallIconStream(pe.bytes);
    ExpectOneImageIcon(ico);
    EXPECT_EQ(static_cast<uint8_t>(ico[6]), 16);
    EXPECT_EQ(static_cast<uint8_t>(ico[7]), 16);
    // The 16 x 16 image of the first group, byte for byte; PE32+ is read too.
    EXPECT_EQ(ico.substr(22), IconImage(16, 0xFF123456u));
    const std::string i24 = IconImage(24, 1), i32 = IconImage(32, 2), i8 = IconImage(8, 3), low = IconImage(16, 4);
    const std::string hi = IconImage(16, 5), i7 = IconImage(16, 7);
    const struct { PeTestImage pe; const std::string &want; } cases[] = {
        // No 16 x 16: the smallest larger image; only smaller ones: the largest; two: the one with more colours.
        {BuildPe({{3, 1, i32}, {3, 2, i24}, {14, 1, IconGroup({{32, 32, 1, 0}, {24, 32, 2, 0}})}}), i24},
        {BuildPe({{3, 1, i8}, {14, 1, IconGroup({{8, 32, 1, 0}})}}), i8},
        {BuildPe({{3, 1, low}, {3, 2, hi}, {14, 1, IconGroup({{16, 4, 1, 0}, {16, 32, 2, 0}})}}), hi},
        {BuildPe({{3, 1, i7}, {14, 1, IconGroup({{16, 32, 1, 0}})}}, true), i7}};
    for (const auto &c : cases) {
        const std::string got = ExtractSmallIconStream(c.pe.bytes);
        ExpectOneImageIcon(got);
        EXPECT_EQ(got.substr(22), c.want);
    }
}

TEST(PeResources, FilesWithoutIcons)
{
    // A group that claims more entries than it holds.
    std::string group = IconGroup({{16, 32, 1, 0}});
    Put16(group, 4, 500);
    // No resources at all; a group naming an image that is missing; an image neither a bitmap nor a PNG.
    for (const std::string &bytes : {std::string(), std::string("MZ"), std::string(4096, '\0'), BuildPe({{16, 1, "x"}}).bytes,
                                     BuildPe({{3, 1, IconImage(16, 1)}, {14, 1, IconGroup({{16, 32, 7, 0}})}}).bytes,
                                     BuildPe({{3, 1, std::string(64, 'x')}, {14, 1, IconGroup({{16, 32, 1, 0}})}}).bytes,
                                     BuildPe({{3, 1, IconImage(16, 1)}, {14, 1, group}}).bytes})
        EXPECT_EQ(ExtractSmallIconStream(bytes), "") << bytes.size();
}

// Every truncation and every double word overwritten with hostile values must
// give either no icon or a well-formed stream, and never read out of bounds
// (run under the address sanitizer).
TEST(PeResources, TruncationAndCorruptionSweep)
{
    const PeTestImage pe = ProgramWithIcons();
    for (size_t n = 0; n < pe.bytes.size(); n += (n < 1024 ? 1 : 7)) {
        const std::string cut = pe.bytes.substr(0, n);
        const std::string ico = ExtractSmallIconStream(cut);
        if (!ico.empty())
            ExpectOneImageIcon(ico);
    }
    const uint32_t hostile[] = {0, 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x80000010u, 0x1000u};
    // The headers and the whole resource tree, one double word at a time.
    const size_t treeEnd = pe.resourceFileOffset + 0x200;
    for (size_t off = 0; off + 4 <= treeEnd && off + 4 <= pe.bytes.size(); off += 2) {
        for (uint32_t v : hostile) {
            std::string bad = pe.bytes;
            Put32(bad, off, v);
            const std::string ico = ExtractSmallIconStream(bad);
            if (!ico.empty())
                ExpectOneImageIcon(ico);
            std::array<uint32_t, 13> info{};
            ReadPeFixedVersion(bad, info);
        }
    }
}

TEST(PeResources, FixedVersionRecord)
{
    const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, 0x40005, 0x5A0000, 0x40005, 0x5A0000, 0x3F, 0, 0x4, 1, 0, 0, 0};
    std::array<uint32_t, 13> info{};
    ASSERT_TRUE(ReadPeFixedVersion(BuildPe({{16, 1, VersionResource(fixed)}}).bytes, info));
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(info[i], fixed[i]) << i;
    // A value of another length is not the fixed record.
    EXPECT_FALSE(ReadPeFixedVersion(BuildPe({{16, 1, VersionResource(fixed, 48)}}).bytes, info));
    // No version resource; a truncated one.
    EXPECT_FALSE(ReadPeFixedVersion(ProgramWithIcons().bytes, info));
    EXPECT_FALSE(ReadPeFixedVersion(BuildPe({{16, 1, VersionResource(fixed).substr(0, 60)}}).bytes, info));
}
