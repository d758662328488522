#pragma once
// Builds small Windows program files (PE32) byte by byte for the tests of the
// resource readers: a resource section with the given resources, each one
// language, laid out as a linker would.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orbtest {

inline void Put16(std::string &s, size_t off, uint16_t v) { s[off] = char(v & 0xFF), s[off + 1] = char(v >> 8); }
inline void Put32(std::string &s, size_t off, uint32_t v) { Put16(s, off, uint16_t(v & 0xFFFF)), Put16(s, off + 2, uint16_t(v >> 16)); }
inline void Append16(std::string &s, uint16_t v) { s.append(2, '\0'), Put16(s, s.size() - 2, v); }
inline void Append32(std::string &s, uint32_t v) { s.append(4, '\0'), Put32(s, s.size() - 4, v); }

struct PeResource { uint32_t type, id; std::string data; };

struct PeTestImage {
    std::string bytes;
    size_t resourceFileOffset = 0; // where the resource tree starts in the file
};

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;

inline PeTestImage BuildPe(const std::vector<PeResource> &resources, bool pe32Plus = false)
{
    // Group by type, then id (the tree keeps both in ascending order).
    std::map<uint32_t, std::map<uint32_t, const std::string *>> tree;
    for (const PeResource &r : resources)
        tree[r.type][r.id] = &r.data;

    // Sizes of the tree's parts: root, one directory per type, one per name,
    // then the data entries, then the data.
    size_t dirBytes = 16 + 8 * tree.size();
    size_t leaves = 0;
    for (const auto &[type, names] : tree) {
        dirBytes += 16 + 8 * names.size();
        dirBytes += (16 + 8) * names.size(); // language directories
        leaves += names.size();
    }
    const size_t entriesAt = dirBytes;
    size_t dataAt = entriesAt + 16 * leaves;
    std::string rsrc(dataAt, '\0');

    size_t nextDir = 16 + 8 * tree.size(), nextEntry = entriesAt, typeIndex = 0;
    Put16(rsrc, 14, static_cast<uint16_t>(tree.size()));
    for (const auto &[type, names] : tree) {
        const size_t typeDir = nextDir;
        nextDir += 16 + 8 * names.size();
        Put32(rsrc, 16 + 8 * typeIndex, type);
        Put32(rsrc, 16 + 8 * typeIndex + 4, 0x80000000u | static_cast<uint32_t>(typeDir));
        Put16(rsrc, typeDir + 14, static_cast<uint16_t>(names.size()));
        size_t nameIndex = 0;
        for (const auto &[id, data] : names) {
            const size_t langDir = nextDir;
            nextDir += 16 + 8;
            Put32(rsrc, typeDir + 16 + 8 * nameIndex, id);
            Put32(rsrc, typeDir + 16 + 8 * nameIndex + 4, 0x80000000u | static_cast<uint32_t>(langDir));
            Put16(rsrc, langDir + 14, 1);
            Put32(rsrc, langDir + 16, 0x409);
            Put32(rsrc, langDir + 20, static_cast<uint32_t>(nextEntry));
            // Data entry: RVA, size, code page, reserved.
            while (rsrc.size() % 4)
                rsrc += '\0';
            const size_t at = rsrc.size();
            rsrc += *data;
            Put32(rsrc, nextEntry, kSectionRva + static_cast<uint32_t>(at));
            Put32(rsrc, nextEntry + 4, static_cast<uint32_t>(data->size()));
            nextEntry += 16;
            ++nameIndex;
        }
        ++typeIndex;
    }
    const uint32_t rsrcSize = static_cast<uint32_t>(rsrc.size());
    while (rsrc.size() % 0x200)
        rsrc += '\0';

    const uint16_t optSize = pe32Plus ? 240 : 224;
    std::string f(kSectionFileOffset, '\0');
    f.replace(0, 2, "MZ");
    Put32(f, 0x3C, 0x40);
    f.replace(0x40, 4, std::string("PE\0\0", 4));
    Put16(f, 0x44, pe32Plus ? 0x8664 : 0x14C);   // machine
    Put16(f, 0x46, 1);                            // one section
    Put16(f, 0x54, optSize);
    Put16(f, 0x56, 0x0102);                       // executable
    const size_t opt = 0x58;
    Put16(f, opt, pe32Plus ? 0x20B : 0x10B);
    const size_t countAt = pe32Plus ? 108 : 92, dirsAt = pe32Plus ? 112 : 96;
    Put32(f, opt + countAt, 16);
    Put32(f, opt + dirsAt + 2 * 8, kSectionRva);
    Put32(f, opt + dirsAt + 2 * 8 + 4, rsrcSize);
    const size_t sec = opt + optSize;
    f.replace(sec, 5, ".rsrc");
    Put32(f, sec + 8, rsrcSize);                  // virtual size
    Put32(f, sec + 12, kSectionRva);
    Put32(f, sec + 16, static_cast<uint32_t>(rsrc.size()));
    Put32(f, sec + 20, kSectionFileOffset);
    return PeTestImage{f + rsrc, kSectionFileOffset};
}

// A 32-bit icon image (bitmap header, colour rows bottom-up, mask rows) of
// size n x n, every pixel `argb`.
inline std::string IconImage(int n, uint32_t argb)
{
    std::string s;
    Append32(s, 40);
    Append32(s, static_cast<uint32_t>(n));
    Append32(s, static_cast<uint32_t>(2 * n)); // colour and mask heights together
    Append16(s, 1);
    Append16(s, 32);
    s.append(24, '\0');
    for (int i = 0; i < n * n; ++i)
        Append32(s, argb);
    const int maskRow = ((n + 31) / 32) * 4;
    s.append(static_cast<size_t>(maskRow * n), '\0');
    return s;
}

struct GroupEntry { int size; /* width and height; 256 is written as 0 */ uint16_t bits, iconId; uint32_t bytes; };

inline std::string IconGroup(const std::vector<GroupEntry> &entries)
{
    std::string s;
    Append16(s, 0);
    Append16(s, 1);
    Append16(s, static_cast<uint16_t>(entries.size()));
    for (const GroupEntry &e : entries) {
        s.append(2, static_cast<char>(e.size == 256 ? 0 : e.size));
        s.append(2, '\0');
        Append16(s, 1);
        Append16(s, e.bits);
        Append32(s, e.bytes);
        Append16(s, e.iconId);
    }
    return s;
}

// A version resource whose root value is the 52-byte fixed record given.
inline std::string VersionResource(const uint32_t (&fixed)[13], uint16_t valueLength = 52)
{
    std::string s;
    Append16(s, 0); // length, set below
    Append16(s, valueLength);
    Append16(s, 0);
    for (char c : std::string("VS_VERSION_INFO"))
        Append16(s, static_cast<uint16_t>(c));
    Append16(s, 0);
    while (s.size() % 4)
        s += '\0';
    for (uint32_t v : fixed)
        Append32(s, v);
    Put16(s, 0, static_cast<uint16_t>(s.size()));
    return s;
}

// A program with a 16, 32 and 48 pixel image in one group (ids 1, 2, 3) and a
// second group that must not be chosen.
inline PeTestImage ProgramWithIcons(uint32_t colour16 = 0xFF2040C0u)
{
    const std::string img16 = IconImage(16, colour16), img32 = IconImage(32, 0xFF00FF00u), img48 = IconImage(48, 0xFFFF0000u);
    return BuildPe({{3, 1, img32}, {3, 2, img16}, {3, 3, img48}, {3, 9, IconImage(16, 0xFF000000u)},
                    {14, 100, IconGroup({{32, 32, 1, uint32_t(img32.size())}, {16, 32, 2, uint32_t(img16.size())},
                                         {48, 32, 3, uint32_t(img48.size())}})},
                    {14, 200, IconGroup({{16, 32, 9, 0}})}});
}

} // namespace orbtest
