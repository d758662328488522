#pragma once
// What the picture readers share: the largest side a metafile is drawn at and the little-endian reads of
// their headers, whose bounds each caller checks.
#include <cstdint>

namespace picturefiles {

// Metafiles are drawn at most this many pixels wide or high before the stretch.
inline constexpr int kMaxMetafileSide = 1024;

inline uint32_t LeU32(const unsigned char *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
inline int32_t LeI32(const unsigned char *p) { return static_cast<int32_t>(LeU32(p)); }
inline int16_t LeI16(const unsigned char *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

} // namespace picturefiles
