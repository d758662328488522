#include "util/TextCodec.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

// Windows-1250, bytes 0x80..0xFF. The five bytes the code page leaves unassigned
// (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 control of the same value, as
// the Windows conversion does, so no byte is ever lost.
constexpr std::array<char16_t, 128> kCp1250 = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// DOS code page 852 (the OEM code page of the Central European DOS and
// Windows systems whose archives this program meets), bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kCp852 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x016F, 0x0107, 0x00E7,
    0x0142, 0x00EB, 0x0150, 0x0151, 0x00EE, 0x0179, 0x00C4, 0x0106,
    0x00C9, 0x0139, 0x013A, 0x00F4, 0x00F6, 0x013D, 0x013E, 0x015A,
    0x015B, 0x00D6, 0x00DC, 0x0164, 0x0165, 0x0141, 0x00D7, 0x010D,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0104, 0x0105, 0x017D, 0x017E,
    0x0118, 0x0119, 0x00AC, 0x017A, 0x010C, 0x015F, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x011A,
    0x015E, 0x2563, 0x2551, 0x2557, 0x255D, 0x017B, 0x017C, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x0102, 0x0103,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x0111, 0x0110, 0x010E, 0x00CB, 0x010F, 0x0147, 0x00CD, 0x00CE,
    0x011B, 0x2518, 0x250C, 0x2588, 0x2584, 0x0162, 0x016E, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x0143, 0x0144, 0x0148, 0x0160, 0x0161,
    0x0154, 0x00DA, 0x0155, 0x0170, 0x00FD, 0x00DD, 0x0163, 0x00B4,
    0x00AD, 0x02DD, 0x02DB, 0x02C7, 0x02D8, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x02D9, 0x0171, 0x0158, 0x0159, 0x25A0, 0x00A0,
};

} // namespace

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

size_t DecodeUtf8Char(std::string_view s, size_t i, char32_t &cp)
{
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2; min = 0x80; cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3; min = 0x800; cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4; min = 0x10000; cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < len)
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes at `p` as one word, to test their high bits at once.
uint64_t Word8(const char *p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

} // namespace

bool IsAscii(std::string_view bytes)
{
    uint64_t bits = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
        bits |= Word8(bytes.data() + i);
    for (; i < bytes.size(); ++i)
        bits |= static_cast<uint8_t>(bytes[i]);
    return (bits & kHighBits) == 0;
}

bool IsValidUtf8(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        // Plain ASCII runs are the common case: skipped eight bytes at a time.
        while (i + 8 <= bytes.size() && (Word8(bytes.data() + i) & kHighBits) == 0)
            i += 8;
        if (i >= bytes.size())
            break;
        if (static_cast<uint8_t>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        const size_t n = DecodeUtf8Char(bytes, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

namespace {

// `bytes` read in a single-byte code page whose upper half is `upper`, in UTF-8.
std::string SingleByteToUtf8(std::string_view bytes, const std::array<char16_t, 128> &upper, size_t reserve)
{
    std::string out;
    out.reserve(reserve);
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x80)
            out += c;
        else
            AppendUtf8(out, upper[b - 0x80]);
    }
    return out;
}

// `bytes` read as Windows-1250, in UTF-8 (the caller has found they are not UTF-8).
std::string Cp1250ToUtf8(std::string_view bytes)
{
    return SingleByteToUtf8(bytes, kCp1250, bytes.size() + bytes.size() / 2);
}

} // namespace

std::string OemToUtf8(std::string_view bytes)
{
    return SingleByteToUtf8(bytes, kCp852, bytes.size() * 2);
}

std::string DecodeStoredText(std::string_view bytes)
{
    return IsValidUtf8(bytes) ? std::string(bytes) : Cp1250ToUtf8(bytes);
}

std::string_view StoredTextView(std::string_view bytes, std::string &scratch)
{
    if (IsValidUtf8(bytes))
        return bytes;
    // Decoded apart first: `bytes` may lie in `scratch`.
    scratch = Cp1250ToUtf8(bytes);
    return scratch;
}

bool SameStoredText(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    std::string sa, sb;
    return StoredTextView(a, sa) == StoredTextView(b, sb);
}

std::string Utf8ToCp1250(std::string_view utf8, char replacement)
{
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        size_t n = DecodeUtf8Char(utf8, i, cp);
        if (n == 0) {
            out += replacement;
            ++i;
            continue;
        }
        i += n;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = replacement;
        for (size_t k = 0; k < kCp1250.size(); ++k) {
            if (kCp1250[k] == cp) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

std::string CutToByteWidth(std::string_view utf8, size_t width)
{
    if (utf8.size() <= width)
        return std::string(utf8);
    // Look back (at most three bytes) for the lead byte of the character that
    // the cut would split; cut before it when its sequence runs past the width.
    // Bytes that are not UTF-8 are never taken for a sequence, so Windows-1250
    // text (catalogues written on Windows) is cut at the width itself.
    size_t cut = width;
    for (size_t back = 1; back <= 3 && back <= width; ++back) {
        const size_t p = width - back;
        const auto b = static_cast<uint8_t>(utf8[p]);
        if ((b & 0xC0) == 0x80)
            continue; // continuation byte: keep looking for the lead
        char32_t cp;
        const size_t n = DecodeUtf8Char(utf8, p, cp);
        if (n > back)
            cut = p;
        break;
    }
    return std::string(utf8.substr(0, cut));
}

size_t StoredTextLength(std::string_view bytes)
{
    if (!IsValidUtf8(bytes))
        return bytes.size();
    size_t n = 0;
    for (const char c : bytes)
        n += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
    return n;
}

std::string_view CutToCharWidth(std::string_view bytes, size_t width)
{
    // Every character takes at least one byte: a text no longer than the width in
    // bytes fits, whatever its encoding.
    if (bytes.size() <= width)
        return bytes;
    if (!IsValidUtf8(bytes))
        return bytes.substr(0, width);
    size_t chars = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if ((static_cast<uint8_t>(bytes[i]) & 0xC0) == 0x80)
            continue;
        if (chars == width)
            return bytes.substr(0, i);
        ++chars;
    }
    return bytes;
}
