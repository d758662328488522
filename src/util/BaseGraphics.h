#pragma once
// The gamma table (exponent 0.7) and the 3 x 3 identity matrix, built at start-up.
#include <array>
#include <cstdint>

using TFloatMatrix = std::array<std::array<long double, 3>, 3>;

const std::array<uint8_t, 256> &GammaTable();
const TFloatMatrix &IdentityMatrix();
// Builds a gamma table: entry i = 255 x (i / 255) ^ gamma, rounded.
std::array<uint8_t, 256> BuildGammaTable(double gamma);
