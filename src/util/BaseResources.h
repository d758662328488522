#pragma once
// Texts describing processor caches and translation buffers.
#include <array>
#include <string_view>

extern const std::array<std::string_view, 14> kCacheDescriptions;
