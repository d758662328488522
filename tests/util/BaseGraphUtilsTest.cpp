#include "util/BaseGraphUtils.h"

#include "util/BaseGraphics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<const BlendRoutines *> AllForms()
{
    std::vector<const BlendRoutines *> forms{&PortableBlendRoutines()};
    if (VectorBlendRoutines())
        forms.push_back(VectorBlendRoutines());
    return forms;
}

int Channel(TColor32 c, int shift)
{
    return static_cast<int>((c >> shift) & 0xFF);
}

} // namespace

TEST(BaseGraphUtils, WeightsZeroAndFullAreExact)
{
    std::mt19937 rng(7);
    for (const BlendRoutines *r : AllForms()) {
        for (int k = 0; k < 200; ++k) {
            const TColor32 f = rng(), b = rng();
            EXPECT_EQ(r->Reg(f, b, 0), b);
            EXPECT_EQ(r->Reg(f, b, 255), f);
            TColor32 m = b;
            r->Mem(f, m, 255);
            EXPECT_EQ(m, f);
            EXPECT_EQ(r->RegAlpha(f & 0x00FFFFFF, b), b);
            EXPECT_EQ(r->RegAlpha(f | 0xFF000000, b), f | 0xFF000000);
        }
    }
}

// The portable form rounds each part, the vector form B + (F - B) x W / 256 with the bias 128 rounding down;
// weights 0 and 255 are exact in both, and the two differ only in the last bits.
TEST(BaseGraphUtils, ChannelFormulas)
{
    const BlendRoutines &p = PortableBlendRoutines();
    const BlendRoutines *v = VectorBlendRoutines();
    auto check = [&](TColor32 f, TColor32 b, TColor32 w) {
        const TColor32 a = p.Reg(f, b, w), c = v ? v->Reg(f, b, w) : 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const int fc = Channel(f, shift), bc = Channel(b, shift), iw = int(w);
            const int port = w == 0 ? bc : w == 255 ? fc : (fc * iw + 128) / 256 + (bc * (255 - iw) + 128) / 256;
            ASSERT_EQ(Channel(a, shift), port) << std::hex << f << " " << b << " " << w;
            if (!v)
                continue;
            const int vec = w == 0 ? bc : w == 255 ? fc : bc + int(std::floor(((fc - bc) * iw + 128) / 256.0));
            ASSERT_EQ(Channel(c, shift), vec) << std::hex << f << " " << b << " " << w;
            ASSERT_LE(std::abs(Channel(a, shift) - Channel(c, shift)), 2);
        }
    };
    std::mt19937 rng(13);
    for (int k = 0; k < 5000; ++k)
        check(rng(), rng(), rng() % 256);
    // Full-range differences in both directions at every weight.
    for (TColor32 w = 0; w < 256; ++w) {
        check(0xFFFFFFFF, 0, w);
        check(0, 0xFFFFFFFF, w);
    }
}

TEST(BaseGraphUtils, Lines)
{
    for (const BlendRoutines *r : AllForms()) {
        const std::vector<TColor32> src = {0x00FFFFFF, 0xFF112233, 0x80FF0000, 0x80FF0000, 0x00000000};
        std::vector<TColor32> dst = {0xFF000000, 0xFF000000, 0xFF0000FF, 0xFF0000FF, 0x12345678};
        r->Line(src.data(), dst.data(), static_cast<int>(src.size()));
        EXPECT_EQ(dst[0], 0xFF000000u); // alpha 0 leaves the destination alone
        EXPECT_EQ(dst[1], 0xFF112233u); // alpha 255 copies
        EXPECT_EQ(dst[2], r->Reg(0x80FF0000, 0xFF0000FF, 0x80));
        EXPECT_EQ(dst[3], dst[2]);
        EXPECT_EQ(dst[4], 0x12345678u);

        std::vector<TColor32> same = dst;
        r->Line(src.data(), same.data(), 0);
        r->Line(src.data(), same.data(), -5);
        EXPECT_EQ(same, dst);

        // Master 256 keeps the alpha weight; master 0 makes every weight 0.
        std::vector<TColor32> m = {0xFF0000FF};
        const std::vector<TColor32> s = {0xFFFF0000};
        r->LineMaster(s.data(), m.data(), 1, 0);
        EXPECT_EQ(m[0], 0xFF0000FFu);
        EXPECT_EQ(r->RegMaster(0xFFFF0000, 0xFF0000FF, 128), r->Reg(0xFFFF0000, 0xFF0000FF, 127));
    }
    // The start-up choice is one of the two sets.
    EXPECT_TRUE(BlendReg == PortableBlendRoutines().Reg || (VectorBlendRoutines() && BlendReg == VectorBlendRoutines()->Reg));
}

TEST(BaseGraphics, GammaAndIdentity)
{
    const auto &g = GammaTable();
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[255], 255);
    EXPECT_EQ(g[128], 157); // 255 x (128/255)^0.7 = 157.4
    for (int i = 1; i < 256; ++i)
        EXPECT_GE(g[i], g[i - 1]);
    const TFloatMatrix &m = IdentityMatrix();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(m[i][j], i == j ? 1.0L : 0.0L);
}
