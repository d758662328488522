#include "util/BaseGraphics.h"

#include <cmath>

namespace {

TFloatMatrix MakeIdentity()
{
    TFloatMatrix m{};
    for (int i = 0; i < 3; ++i)
        m[i][i] = 1.0L;
    return m;
}

const std::array<uint8_t, 256> g_gamma = BuildGammaTable(0.7);
const TFloatMatrix g_identity = MakeIdentity();

} // namespace

std::array<uint8_t, 256> BuildGammaTable(double gamma)
{
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 255.0, gamma)));
    return t;
}

const std::array<uint8_t, 256> &GammaTable()
{
    return g_gamma;
}

const TFloatMatrix &IdentityMatrix()
{
    return g_identity;
}
