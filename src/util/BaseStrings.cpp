#include "util/BaseStrings.h"

#include "util/TextCodec.h"

#include <cstring>
#include <cwctype>

namespace {

// The code point of a single Windows-1250 byte.
char32_t CodePointOf(unsigned char b)
{
    if (b < 0x80)
        return b;
    const std::string utf8 = DecodeStoredText(std::string(1, static_cast<char>(b)));
    const auto *u = reinterpret_cast<const unsigned char *>(utf8.data());
    if (utf8.size() == 2)
        return char32_t((u[0] & 0x1F) << 6 | (u[1] & 0x3F));
    return char32_t((u[0] & 0x0F) << 12 | (u[1] & 0x3F) << 6 | (u[2] & 0x3F));
}

// The Windows-1250 byte of a code point, or `fallback` when it has none.
unsigned char ByteOf(char32_t cp, unsigned char fallback)
{
    if (cp < 0x80)
        return static_cast<unsigned char>(cp);
    std::string utf8;
    if (cp < 0x800) {
        utf8 += static_cast<char>(0xC0 | (cp >> 6));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (cp >> 12));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        return fallback;
    }
    const std::string b = Utf8ToCp1250(utf8, '\0');
    return b.size() == 1 && b[0] != '\0' ? static_cast<unsigned char>(b[0]) : fallback;
}

} // namespace

CharTables BuildCharTables()
{
    CharTables t;
    for (int i = 0; i < 256; ++i) {
        const auto b = static_cast<unsigned char>(i);
        const auto cp = static_cast<wint_t>(CodePointOf(b));
        uint16_t type = 0;
        if (std::iswupper(cp))
            type |= kCharTypeUpper;
        if (std::iswlower(cp))
            type |= kCharTypeLower;
        t.CharType[i] = type;
        t.Lower[i] = ByteOf(static_cast<char32_t>(std::towlower(cp)), b);
        t.Upper[i] = ByteOf(static_cast<char32_t>(std::towupper(cp)), b);
        if (type & kCharTypeUpper)
            t.Reflect[i] = t.Lower[i];
        else if (type & kCharTypeLower)
            t.Reflect[i] = t.Upper[i];
        else
            t.Reflect[i] = b;
    }
    return t;
}

const CharTables &GetCharTables()
{
    static const CharTables tables = BuildCharTables();
    return tables;
}

bool CharIsUpper(unsigned char c)
{
    return (GetCharTables().CharType[c] & kCharTypeUpper) != 0;
}

bool CharIsLower(unsigned char c)
{
    return (GetCharTables().CharType[c] & kCharTypeLower) != 0;
}

// Reads whole aligned words, which may hold bytes past the terminator but
// never cross a page boundary; the address checker is told so.
__attribute__((no_sanitize("address"))) size_t StrLength(const char *text)
{
    if (!text)
        return 0;
    const char *p = text;
    // Byte by byte up to a four-byte boundary, so the word reads below never
    // cross into a page the text does not reach.
    while (reinterpret_cast<uintptr_t>(p) % 4 != 0) {
        if (*p == 0)
            return static_cast<size_t>(p - text);
        ++p;
    }
    for (;;) {
        uint32_t x;
        std::memcpy(&x, p, 4);
        if ((x - 0x01010101u) & ~x & 0x80808080u)
            break;
        p += 4;
    }
    while (*p)
        ++p;
    return static_cast<size_t>(p - text);
}

void StrResetLength(std::string &s)
{
    s.resize(StrLength(s.c_str()));
}
