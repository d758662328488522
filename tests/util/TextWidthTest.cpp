// Widths in characters: UTF-8 counts code points, Windows-1250 bytes count one each,
// and a cut never splits a character.
#include <gtest/gtest.h>

#include "util/TextCodec.h"

TEST(TextWidth, CountsAndCutsCharacters)
{
    const std::string z = "\xC5\xBD";      // Ž
    const std::string ja = "\xE6\x97\xA5"; // 日
    const std::string emoji = "\xF0\x9F\x98\x80";
    EXPECT_EQ(StoredTextLength(""), 0u);
    EXPECT_EQ(StoredTextLength(z + z + "a"), 3u);
    EXPECT_EQ(StoredTextLength(ja + emoji), 2u);
    EXPECT_EQ(StoredTextLength("\x8E\x9A\xE8"), 3u) << "Windows-1250: one byte each";
    EXPECT_EQ(CutToCharWidth(z + z + z, 2), z + z);
    EXPECT_EQ(CutToCharWidth(ja + "b" + emoji, 3), ja + "b" + emoji);
    EXPECT_EQ(CutToCharWidth(ja + "b" + emoji, 2), ja + "b");
    EXPECT_EQ(CutToCharWidth(z, 0), "");
    EXPECT_EQ(CutToCharWidth("\x8E\x9A\xE8", 2), "\x8E\x9A");
    // Every cut of a long mixed name is valid UTF-8 of exactly the width.
    std::string mixed;
    for (int i = 0; i < 100; ++i)
        mixed += (i % 3 == 0) ? z : (i % 3 == 1) ? ja : std::string("x");
    for (size_t w = 0; w <= 100; ++w) {
        const std::string_view cut = CutToCharWidth(mixed, w);
        EXPECT_TRUE(IsValidUtf8(cut));
        EXPECT_EQ(StoredTextLength(cut), w);
    }
}
