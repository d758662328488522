#include "util/BaseResources.h"

const std::array<std::string_view, 14> kCacheDescriptions = {
    "8KB instruction cache, 4-way set associative, 32 byte line size",
    "16KB instruction cache, 4-way set associative, 32 byte line size",
    "8KB data cache 2-way set associative, 32 byte line size",
    "16KB data cache, 4-way set associative, 32 byte line size",
    "No L2 cache",
    "Unified cache, 32 byte cache line, 4-way set associative, 128Kb",
    "Unified cache, 32 byte cache line, 4-way set associative, 256Kb",
    "Unified cache, 32 byte cache line, 4-way set associative, 512Kb",
    "Unified cache, 32 byte cache line, 4-way set associative, 1Mb",
    "Unified cache, 32 byte cache line, 4-way set associative, 2Mb",
    "Instruction TLB, 4Kb pages, 4-way set associative, 32 entries",
    "Instruction TLB, 4Mb pages, fully associative, 2 entries",
    "Data TLB, 4Kb pages, 4-way set associative, 64 entries",
    "Data TLB, 4Mb pages, 4-way set associative, 8 entries",
};
