#pragma once
// Cabinet fixtures: the listing of cabextract -l as an independent check, and
// cabinets built byte by byte.
#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

struct CabEntry {
    std::string Name;   // with '\' between folders, as stored
    uint64_t Size = 0;
    double DateTime = 0; // days since 30 December 1899
};

// Lists a cabinet with `cabextract -l` (throws when the tool is missing or fails).
std::vector<CabEntry> CabextractListing(const std::string &cabPath);

struct HandFile {
    std::string Name;
    uint32_t Size = 0;
    uint16_t Date = 0x5A21;
    uint16_t Time = 0x6000;
    uint16_t Attribs = 0x20;
    uint16_t Folder = 0;
};
// A cabinet with one stored folder (no data blocks) and these file records;
// `folders` may be 0 for a cabinet with no files at all.
std::string BuildCab(const std::vector<HandFile> &files, uint16_t folders = 1);

} // namespace cabtest
