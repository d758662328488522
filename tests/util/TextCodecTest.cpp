#include "util/TextCodec.h"

#include <gtest/gtest.h>

namespace {

std::string AssignedCp1250Bytes()
{
    std::string s;
    for (int b = 0x80; b <= 0xFF; ++b)
        if (b != 0x81 && b != 0x83 && b != 0x88 && b != 0x90 && b != 0x98)
            s += static_cast<char>(b);
    return s;
}

// The 123 assigned upper bytes of Windows-1250 in order, as produced by
// Python's cp1250 codec and encoded as UTF-8.
const std::string kCp1250Reference =
        "\xe2\x82\xac\xe2\x80\x9a\xe2\x80\x9e\xe2\x80\xa6\xe2\x80\xa0\xe2\x80\xa1\xe2\x80\xb0\xc5\xa0\xe2"
        "\x80\xb9\xc5\x9a\xc5\xa4\xc5\xbd\xc5\xb9\xe2\x80\x98\xe2\x80\x99\xe2\x80\x9c\xe2\x80\x9d\xe2\x80"
        "\xa2\xe2\x80\x93\xe2\x80\x94\xe2\x84\xa2\xc5\xa1\xe2\x80\xba\xc5\x9b\xc5\xa5\xc5\xbe\xc5\xba\xc2"
        "\xa0\xcb\x87\xcb\x98\xc5\x81\xc2\xa4\xc4\x84\xc2\xa6\xc2\xa7\xc2\xa8\xc2\xa9\xc5\x9e\xc2\xab\xc2"
        "\xac\xc2\xad\xc2\xae\xc5\xbb\xc2\xb0\xc2\xb1\xcb\x9b\xc5\x82\xc2\xb4\xc2\xb5\xc2\xb6\xc2\xb7\xc2"
        "\xb8\xc4\x85\xc5\x9f\xc2\xbb\xc4\xbd\xcb\x9d\xc4\xbe\xc5\xbc\xc5\x94\xc3\x81\xc3\x82\xc4\x82\xc3"
        "\x84\xc4\xb9\xc4\x86\xc3\x87\xc4\x8c\xc3\x89\xc4\x98\xc3\x8b\xc4\x9a\xc3\x8d\xc3\x8e\xc4\x8e\xc4"
        "\x90\xc5\x83\xc5\x87\xc3\x93\xc3\x94\xc5\x90\xc3\x96\xc3\x97\xc5\x98\xc5\xae\xc3\x9a\xc5\xb0\xc3"
        "\x9c\xc3\x9d\xc5\xa2\xc3\x9f\xc5\x95\xc3\xa1\xc3\xa2\xc4\x83\xc3\xa4\xc4\xba\xc4\x87\xc3\xa7\xc4"
        "\x8d\xc3\xa9\xc4\x99\xc3\xab\xc4\x9b\xc3\xad\xc3\xae\xc4\x8f\xc4\x91\xc5\x84\xc5\x88\xc3\xb3\xc3"
        "\xb4\xc5\x91\xc3\xb6\xc3\xb7\xc5\x99\xc5\xaf\xc3\xba\xc5\xb1\xc3\xbc\xc3\xbd\xc5\xa3\xcb\x99";

// "Žluťoučký kůň úpěl ďábelské ódy" in Windows-1250.
const std::string kCzechCp1250 =
    "\x8e\x6c\x75\x9d\x6f\x75\xe8\x6b\xfd\x20\x6b\xf9\xf2\x20\xfa\x70\xec\x6c\x20\xef\xe1\x62\x65\x6c\x73\x6b\xe9\x20\xf3\x64\x79";
const std::string kCzechUtf8 = "Žluťoučký kůň úpěl ďábelské ódy";

// The 128 upper bytes of DOS code page 852 in order, as produced by Python's
// cp852 codec and encoded as UTF-8.
const std::string kCp852Reference =
    "\xc3\x87\xc3\xbc\xc3\xa9\xc3\xa2\xc3\xa4\xc5\xaf\xc4\x87\xc3\xa7\xc5\x82\xc3\xab\xc5\x90\xc5\x91"
    "\xc3\xae\xc5\xb9\xc3\x84\xc4\x86\xc3\x89\xc4\xb9\xc4\xba\xc3\xb4\xc3\xb6\xc4\xbd\xc4\xbe\xc5\x9a"
    "\xc5\x9b\xc3\x96\xc3\x9c\xc5\xa4\xc5\xa5\xc5\x81\xc3\x97\xc4\x8d\xc3\xa1\xc3\xad\xc3\xb3\xc3\xba"
    "\xc4\x84\xc4\x85\xc5\xbd\xc5\xbe\xc4\x98\xc4\x99\xc2\xac\xc5\xba\xc4\x8c\xc5\x9f\xc2\xab\xc2\xbb"
    "\xe2\x96\x91\xe2\x96\x92\xe2\x96\x93\xe2\x94\x82\xe2\x94\xa4\xc3\x81\xc3\x82\xc4\x9a\xc5\x9e\xe2"
    "\x95\xa3\xe2\x95\x91\xe2\x95\x97\xe2\x95\x9d\xc5\xbb\xc5\xbc\xe2\x94\x90\xe2\x94\x94\xe2\x94\xb4"
    "\xe2\x94\xac\xe2\x94\x9c\xe2\x94\x80\xe2\x94\xbc\xc4\x82\xc4\x83\xe2\x95\x9a\xe2\x95\x94\xe2\x95"
    "\xa9\xe2\x95\xa6\xe2\x95\xa0\xe2\x95\x90\xe2\x95\xac\xc2\xa4\xc4\x91\xc4\x90\xc4\x8e\xc3\x8b\xc4"
    "\x8f\xc5\x87\xc3\x8d\xc3\x8e\xc4\x9b\xe2\x94\x98\xe2\x94\x8c\xe2\x96\x88\xe2\x96\x84\xc5\xa2\xc5"
    "\xae\xe2\x96\x80\xc3\x93\xc3\x9f\xc3\x94\xc5\x83\xc5\x84\xc5\x88\xc5\xa0\xc5\xa1\xc5\x94\xc3\x9a"
    "\xc5\x95\xc5\xb0\xc3\xbd\xc3\x9d\xc5\xa3\xc2\xb4\xc2\xad\xcb\x9d\xcb\x9b\xcb\x87\xcb\x98\xc2\xa7"
    "\xc3\xb7\xc2\xb8\xc2\xb0\xc2\xa8\xcb\x99\xc5\xb1\xc5\x98\xc5\x99\xe2\x96\xa0\xc2\xa0";

// The same Czech sentence in code page 852.
const std::string kCzechCp852 =
    "\xa6\x6c\x75\x9c\x6f\x75\x9f\x6b\xec\x20\x6b\x85\xe5\x20\xa3\x70\xd8\x6c\x20\xd4\xa0\x62\x65\x6c\x73\x6b\x82\x20\xa2\x64\x79";

} // namespace

TEST(TextCodec, Validation)
{
    for (const std::string &good : {std::string(), std::string("plain ascii"), kCzechUtf8,
                                    std::string("\xf0\x9f\x98\x80") /* four bytes */, std::string("\xf4\x8f\xbf\xbf") /* U+10FFFF */})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    // Truncated at the end, overlong, a surrogate, above U+10FFFF, a lone continuation, a lead before ASCII.
    for (const std::string &bad : {kCzechCp1250, std::string("\xc3"), std::string("ab\xe2\x82"), std::string("\xc0\xaf"),
                                   std::string("\xe0\x80\xaf"), std::string("\xed\xa0\x80"), std::string("\xf4\x90\x80\x80"),
                                   std::string("\x80"), std::string("\xc3\x28")})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(TextCodec, DecodeStoredText)
{
    // Valid UTF-8 is returned byte for byte, including embedded NULs.
    EXPECT_EQ(DecodeStoredText(kCzechUtf8), kCzechUtf8);
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(DecodeStoredText(withNul), withNul);
    // The whole code page agrees with the reference codec.
    EXPECT_EQ(DecodeStoredText(AssignedCp1250Bytes()), kCp1250Reference);
    EXPECT_EQ(DecodeStoredText(kCzechCp1250), kCzechUtf8);
    // Unassigned bytes survive as the C1 control of the same value.
    EXPECT_EQ(DecodeStoredText("\x81"), "\xc2\x81");
    EXPECT_EQ(DecodeStoredText("x\x98y"), "x\xc2\x98y");
    // One invalid byte makes the whole text Windows-1250, a UTF-8 sequence in it included.
    EXPECT_EQ(DecodeStoredText("\xc3\xa1 \xe1"), "\xc4\x82\xcb\x87 \xc3\xa1");
    // Truncated UTF-8 (a field cut mid-character by an old writer).
    EXPECT_EQ(DecodeStoredText("ko\xc5"), "ko\xc4\xb9");
    EXPECT_TRUE(IsValidUtf8(DecodeStoredText("\xe2\x82")));
}

// Names in archives written on DOS and older Windows systems are in code page 852,
// which differs from Windows-1250 in almost every upper byte.
TEST(TextCodec, OemToUtf8ReadsCodePage852)
{
    std::string upper;
    for (int b = 0x80; b <= 0xFF; ++b)
        upper += static_cast<char>(b);
    EXPECT_EQ(OemToUtf8(upper), kCp852Reference);
    EXPECT_EQ(OemToUtf8(kCzechCp852), kCzechUtf8);
    EXPECT_NE(OemToUtf8(kCzechCp1250), kCzechUtf8);
    // The lower half and NULs pass as they are; valid UTF-8 is not taken for UTF-8.
    const std::string ascii("a\0~ z", 5);
    EXPECT_EQ(OemToUtf8(ascii), ascii);
    EXPECT_EQ(OemToUtf8("\xc3\xa1"), "\xe2\x94\x9c\xc3\xad");
    EXPECT_EQ(OemToUtf8(""), "");
}

TEST(TextCodec, Utf8ToCp1250)
{
    EXPECT_EQ(Utf8ToCp1250(kCzechUtf8), kCzechCp1250);
    EXPECT_EQ(Utf8ToCp1250(kCp1250Reference), AssignedCp1250Bytes());
    // Round trip through the decoder for every byte, unassigned ones included.
    std::string all;
    for (int b = 1; b <= 0xFF; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1250(DecodeStoredText(all)), all);
    // Characters outside the code page (CJK, an emoji) and broken input get one replacement each.
    EXPECT_EQ(Utf8ToCp1250("\xe6\x97\xa5x"), "?x");
    EXPECT_EQ(Utf8ToCp1250("\xf0\x9f\x98\x80", '_'), "_");
    EXPECT_EQ(Utf8ToCp1250("a\xff" "b"), "a?b");
}

TEST(TextCodec, CutToByteWidth)
{
    // A two-byte "ť" and a four-byte character may not be split at any width.
    const std::string t = "\xc5\xa5" "a", emoji = "x\xf0\x9f\x98\x80y";
    const struct { std::string in; size_t w; std::string out; } cases[] = {
        {"abc", 5, "abc"}, {"abc", 3, "abc"}, {"abc", 0, ""}, {"", 0, ""}, {t, 1, ""}, {t, 2, "\xc5\xa5"},
        {emoji, 1, "x"}, {emoji, 2, "x"}, {emoji, 4, "x"}, {emoji, 5, "x\xf0\x9f\x98\x80"}};
    for (const auto &c : cases)
        EXPECT_EQ(CutToByteWidth(c.in, c.w), c.out) << c.in << " " << c.w;
    // Every cut of a valid text stays valid and as long as possible.
    for (size_t w = 0; w <= kCzechUtf8.size(); ++w) {
        const std::string cut = CutToByteWidth(kCzechUtf8, w);
        EXPECT_TRUE(IsValidUtf8(cut)) << w;
        EXPECT_LE(cut.size(), w);
        EXPECT_GE(cut.size() + 1, w < kCzechUtf8.size() ? w : 0u) << w;
        EXPECT_EQ(kCzechUtf8.compare(0, cut.size(), cut), 0);
    }
    // Old-code-page bytes are not UTF-8 sequences: cut exactly at the width.
    EXPECT_EQ(CutToByteWidth(kCzechCp1250, 4).size(), 4u);
}
