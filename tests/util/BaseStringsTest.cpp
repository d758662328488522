#include "util/BaseStrings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>

TEST(BaseStrings, Lengths)
{
    EXPECT_EQ(StrLength(nullptr), 0u);
    // Every start alignment and every length up to a few words.
    const char text[] = "abcdefghijklmnopqrstuvwxyz";
    for (size_t start = 0; start < 4; ++start)
        for (size_t len = 0; len + start < sizeof text - 1; ++len)
            EXPECT_EQ(StrLength(std::string(text + start, len).c_str()), len);
    // Bytes with the top bit set are not mistaken for the terminator.
    EXPECT_EQ(StrLength("\x80\x81\xff\x01\x7f"), 5u);
    // A 260-byte path buffer filled with zeros after the path.
    std::string buffer(260, '\0'), empty(10, '\0');
    std::memcpy(buffer.data(), "/home/me/Documents", 18);
    StrResetLength(buffer);
    EXPECT_EQ(buffer, "/home/me/Documents");
    StrResetLength(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(BaseStrings, CharacterTables)
{
    const CharTables t = BuildCharTables();
    EXPECT_TRUE(t.CharType['A'] & kCharTypeUpper);
    EXPECT_TRUE(t.CharType['z'] & kCharTypeLower);
    EXPECT_EQ(t.CharType['5'], 0);
    EXPECT_EQ(t.Lower['Q'], 'q');
    EXPECT_EQ(t.Upper['q'], 'Q');
    EXPECT_EQ(t.Reflect['Q'], 'q');
    EXPECT_EQ(t.Reflect['q'], 'Q');
    EXPECT_EQ(t.Reflect['#'], '#');
    for (int i = 0; i < 256; ++i) {
        if (t.CharType[i] & kCharTypeUpper) {
            EXPECT_EQ(t.Upper[t.Lower[i]], i) << i;
        }
    }
    // With a locale that knows the letters, Windows-1250 0x8A "Š" and 0x9A "š" get their cases.
    if (std::iswupper(L'\u0160')) {
        EXPECT_TRUE(t.CharType[0x8A] & kCharTypeUpper);
        EXPECT_EQ(t.Lower[0x8A], 0x9A);
        EXPECT_EQ(t.Reflect[0x9A], 0x8A);
    }
    EXPECT_TRUE(CharIsUpper('B'));
    EXPECT_FALSE(CharIsUpper('b'));
    EXPECT_TRUE(CharIsLower('b'));
}
