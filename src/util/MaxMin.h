#pragma once
// Signed 32-bit minimum and maximum, as the interface components and the
// data-set routines compare them.
#include <cstdint>

inline int32_t Max(int32_t a, int32_t b)
{
    return b < a ? a : b;
}

inline int32_t Min(int32_t a, int32_t b)
{
    return a < b ? a : b;
}
