#include "util/PeResources.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kRtVersion = 16;
// Deeper nesting or more entries than this is not a real resource tree.
constexpr uint32_t kMaxDirectoryEntries = 4096;

uint16_t Rd16(std::string_view b, size_t off)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b[off]) | (static_cast<uint8_t>(b[off + 1]) << 8));
}

uint32_t Rd32(std::string_view b, size_t off)
{
    return static_cast<uint32_t>(Rd16(b, off)) | (static_cast<uint32_t>(Rd16(b, off + 2)) << 16);
}

bool Fits(std::string_view b, uint64_t off, uint64_t len)
{
    return off <= b.size() && len <= b.size() - off;
}

struct Section {
    uint32_t va, vsize, rawPtr, rawSize;
};

class PeImage {
public:
    explicit PeImage(std::string_view bytes) : b_(bytes) { ok_ = Parse(); }
    bool ok() const { return ok_; }

    // File offset of `size` bytes at the relative virtual address, when they
    // lie wholly inside one section's data in the file.
    std::optional<size_t> Map(uint32_t rva, uint32_t size) const
    {
        for (const Section &s : sections_) {
            const uint64_t span = std::min(s.vsize ? s.vsize : s.rawSize, s.rawSize);
            if (rva >= s.va && uint64_t(rva) - s.va + size <= span) {
                const uint64_t off = uint64_t(s.rawPtr) + (rva - s.va);
                if (Fits(b_, off, size))
                    return static_cast<size_t>(off);
            }
        }
        return std::nullopt;
    }

    // Data of the first resource leaf under type/name(/any language). `name`
    // 0 means the first entry at that level.
    std::optional<std::string_view> Resource(uint32_t type, uint32_t name) const
    {
        const auto typeDir = Find(0, type, false);
        if (!typeDir)
            return std::nullopt;
        const auto nameDir = Find(*typeDir, name, name == 0);
        if (!nameDir)
            return std::nullopt;
        const auto leaf = Find(*nameDir, 0, true, true);
        if (!leaf)
            return std::nullopt;
        if (!Fits(b_, resOff_, resSize_) || *leaf > resSize_ - 16)
            return std::nullopt;
        const uint32_t dataRva = Rd32(b_, resOff_ + *leaf);
        const uint32_t dataSize = Rd32(b_, resOff_ + *leaf + 4);
        const auto off = Map(dataRva, dataSize);
        if (!off)
            return std::nullopt;
        return b_.substr(*off, dataSize);
    }

private:
    bool Parse()
    {
        if (!Fits(b_, 0, 64) || b_[0] != 'M' || b_[1] != 'Z')
            return false;
        const uint32_t pe = Rd32(b_, 0x3C);
        if (!Fits(b_, pe, 24) || b_.substr(pe, 4) != std::string_view("PE\0\0", 4))
            return false;
        const uint16_t nSections = Rd16(b_, pe + 6);
        const uint16_t optSize = Rd16(b_, pe + 20);
        const size_t opt = pe + 24;
        if (!Fits(b_, opt, optSize) || optSize < 2)
            return false;
        const uint16_t magic = Rd16(b_, opt);
        size_t countAt, dirsAt;
        if (magic == 0x10B) {
            countAt = 92; dirsAt = 96;
        } else if (magic == 0x20B) {
            countAt = 108; dirsAt = 112;
        } else {
            return false;
        }
        if (optSize < dirsAt + 3 * 8 || Rd32(b_, opt + countAt) < 3)
            return false;
        const uint32_t resRva = Rd32(b_, opt + dirsAt + 2 * 8);
        const uint32_t resSize = Rd32(b_, opt + dirsAt + 2 * 8 + 4);
        const size_t secTable = opt + optSize;
        if (!Fits(b_, secTable, uint64_t(nSections) * 40))
            return false;
        for (uint16_t i = 0; i < nSections; ++i) {
            const size_t s = secTable + size_t(i) * 40;
            sections_.push_back({Rd32(b_, s + 12), Rd32(b_, s + 8), Rd32(b_, s + 20), Rd32(b_, s + 16)});
        }
        if (resRva == 0 || resSize < 16)
            return false;
        // The resource tree's own offsets are relative to its start; map the
        // whole directory area once (limited to what the section holds).
        for (const Section &s : sections_) {
            if (resRva >= s.va && resRva - s.va < s.rawSize) {
                const uint64_t off = uint64_t(s.rawPtr) + (resRva - s.va);
                uint64_t avail = s.rawSize - (resRva - s.va);
                if (off >= b_.size())
                    return false;
                avail = std::min<uint64_t>(avail, b_.size() - off);
                resOff_ = static_cast<size_t>(off);
                resSize_ = static_cast<size_t>(std::min<uint64_t>(avail, resSize));
                return resSize_ >= 16;
            }
        }
        return false;
    }

    // Looks up `id` in the directory at `dirOffset` (relative to the resource
    // area); with `first` the first entry is taken. Returns the offset of the
    // subdirectory (or, with `wantLeaf`, the data entry).
    std::optional<size_t> Find(size_t dirOffset, uint32_t id, bool first, bool wantLeaf = false) const
    {
        if (dirOffset > resSize_ || resSize_ - dirOffset < 16)
            return std::nullopt;
        const size_t dir = resOff_ + dirOffset;
        const uint32_t named = Rd16(b_, dir + 12);
        const uint32_t ids = Rd16(b_, dir + 14);
        const uint32_t count = named + ids;
        if (count == 0 || count > kMaxDirectoryEntries)
            return std::nullopt;
        if (uint64_t(count) * 8 > resSize_ - dirOffset - 16)
            return std::nullopt;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t e = dir + 16 + size_t(i) * 8;
            const uint32_t nameField = Rd32(b_, e);
            const uint32_t target = Rd32(b_, e + 4);
            const bool isId = (nameField & 0x80000000u) == 0;
            if (!first && !(isId && nameField == id))
                continue;
            const bool isDir = (target & 0x80000000u) != 0;
            const size_t off = target & 0x7FFFFFFFu;
            // The lookup goes exactly three levels deep, so a pointer back
            // into the tree cannot make it loop.
            if (isDir == wantLeaf)
                return std::nullopt;
            return off;
        }
        return std::nullopt;
    }

    std::string_view b_;
    bool ok_ = false;
    std::vector<Section> sections_;
    size_t resOff_ = 0;
    size_t resSize_ = 0;
};

void Put16(std::string &s, uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void Put32(std::string &s, uint32_t v)
{
    Put16(s, static_cast<uint16_t>(v & 0xFFFF));
    Put16(s, static_cast<uint16_t>(v >> 16));
}

int Dimension(uint8_t v)
{
    return v == 0 ? 256 : v;
}

} // namespace

std::string ExtractSmallIconStream(std::string_view peBytes)
{
    const PeImage pe(peBytes);
    if (!pe.ok())
        return {};
    const auto group = pe.Resource(kRtGroupIcon, 0);
    if (!group || group->size() < 6 || Rd16(*group, 2) != 1)
        return {};
    const uint16_t count = Rd16(*group, 4);
    if (count == 0 || uint64_t(count) * 14 > group->size() - 6)
        return {};
    // Choose the image: 16 x 16 with the most colours; else the smallest
    // larger square; else the largest.
    int best = -1;
    auto rank = [&](int i) {
        const size_t e = 6 + size_t(i) * 14;
        const int w = Dimension(static_cast<uint8_t>((*group)[e]));
        const int h = Dimension(static_cast<uint8_t>((*group)[e + 1]));
        const int bits = Rd16(*group, e + 6);
        const int size = std::max(w, h);
        // Lower is better: exact size first, then larger sizes nearest first,
        // then smaller sizes largest first; colour depth breaks ties.
        long key = size == 16 ? 0 : size > 16 ? 1000L * size : 1000000L * (300 - size);
        return key - std::min(bits, 64);
    };
    for (int i = 0; i < count; ++i)
        if (best < 0 || rank(i) < rank(best))
            best = i;
    const size_t e = 6 + size_t(best) * 14;
    const uint16_t iconId = Rd16(*group, e + 12);
    const auto image = pe.Resource(kRtIcon, iconId);
    if (!image || image->size() < 40 || image->size() > 0x100000)
        return {};
    // The image must be a bitmap (its header size 40) or a PNG.
    const bool png = image->substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8);
    if (!png && Rd32(*image, 0) != 40)
        return {};

    std::string out;
    out.reserve(22 + image->size());
    Put16(out, 0);
    Put16(out, 1); // icon
    Put16(out, 1); // one image
    out.append(group->substr(e, 4)); // width, height, colour count, reserved
    Put16(out, Rd16(*group, e + 4)); // planes
    Put16(out, Rd16(*group, e + 6)); // bits per pixel
    Put32(out, static_cast<uint32_t>(image->size()));
    Put32(out, 22);
    out.append(*image);
    return out;
}

bool ReadPeFixedVersion(std::string_view peBytes, std::array<uint32_t, 13> &info)
{
    const PeImage pe(peBytes);
    if (!pe.ok())
        return false;
    const auto res = pe.Resource(kRtVersion, 0);
    if (!res || res->size() < 6)
        return false;
    const std::string_view v = *res;
    const uint16_t length = Rd16(v, 0);
    const uint16_t valueLength = Rd16(v, 2);
    if (length > v.size() || length < 6)
        return false;
    // Skip the UTF-16 key "VS_VERSION_INFO" and its terminating zero, then
    // align to a double word.
    size_t p = 6;
    while (true) {
        if (p + 2 > length)
            return false;
        const uint16_t ch = Rd16(v, p);
        p += 2;
        if (ch == 0)
            break;
    }
    p = (p + 3) & ~size_t(3);
    if (valueLength != 52 || p > length || length - p < 52)
        return false;
    for (size_t i = 0; i < 13; ++i)
        info[i] = Rd32(v, p + i * 4);
    return true;
}
