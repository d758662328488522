// Short texts are held by their length in memory while the file keeps them as it always
// has (a length byte, then the bytes): tables load and save byte for byte, a text ends at
// its first NUL, and a record costs the text's bytes, not the declared width.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/FlatTbl.h"
#include "storage/FlatTblStore.h"
#include "support/TempDir.h"

namespace {

// Id, a short text of 10, a String, a short text of 1 and one of 0 characters.
std::string Describe()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Code", fftSmallStr, 10) +
           FlatDescribeField("Name", fftString, 20) + FlatDescribeField("Tag", fftSmallStr, 1) +
           FlatDescribeField("None", fftSmallStr, 0) + '\x14';
}

const std::vector<std::string> kCodes = {
    "",                       // empty: no bytes in the file
    "x",                      // one byte
    "0123456789",             // the full width
    "\xC3\xA9t\xC3\xA9",      // UTF-8
    "\xE9t\xE9 \x9A\xFF\x80", // Windows-1250 bytes
};

// The image of one record per code; the Tag is set on every other one.
std::string MakeImage(const std::vector<std::string> &codes)
{
    TFlatCursor c;
    std::string err;
    EXPECT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 5), err)) << err;
    for (size_t i = 0; i < codes.size(); ++i) {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        const int32_t id = int32_t(i) + 1;
        std::memcpy(r.Fixed() + c.Fields[0].Offset, &id, 4);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[1], codes[i]);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[2], "name" + std::to_string(i));
        if (i % 2)
            r.SetVar(c.Fields, c.RecordSize, c.Fields[3], "Z");
        EXPECT_TRUE(c.PutRecord(r, nullptr, err)) << err;
    }
    std::string img;
    EXPECT_TRUE(c.WriteImage(img, err)) << err;
    return img;
}

size_t FirstRecord() { return 17 + Describe().size(); }

TEST(FlatShortText, TablesLoadAndSaveByteForByte)
{
    const std::string img = MakeImage(kCodes);
    // The file keeps a short text as its length byte and its bytes: the third record's
    // Code is 10 bytes long and its empty Tag and zero-width None take none.
    size_t at = FirstRecord();
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    ASSERT_EQ(c.RecordCount(), int(kCodes.size()));
    for (int i = 0; i < 2; ++i)
        at += c.Entry(i)->StoredSize;
    EXPECT_EQ(img.substr(at, 5), std::string("\x04\x0A\x04\x00\x00", 5));
    EXPECT_EQ(img.substr(at + 5 + 4, 10), "0123456789");

    for (size_t i = 0; i < kCodes.size(); ++i) {
        const TFlatRecord &r = c.Entry(int(i))->Data;
        EXPECT_EQ(FlatGetSmallStr(r, c.Fields[1]), kCodes[i]) << i;
        EXPECT_EQ(FlatGetSmallStr(r, c.Fields[3]), i % 2 ? "Z" : "") << i;
        EXPECT_EQ(FlatGetSmallStr(r, c.Fields[4]), "") << i;
        // The record holds the texts' bytes and no more.
        EXPECT_EQ(r.BlockSize(), 4 + c.RecordSize + kCodes[i].size() + 5 + i % 2) << i;
    }
    std::string again;
    ASSERT_TRUE(c.WriteImage(again, err)) << err;
    EXPECT_EQ(again, img);

    // The same through a table and its file.
    orbtest::TempDir dir;
    const std::string file = dir.write("short.d", img);
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    std::vector<std::string> seen;
    for (t.First(); !t.Eof(); t.Next())
        seen.push_back(t.FieldByName("Code").AsString());
    EXPECT_EQ(seen.size(), kCodes.size());
    EXPECT_EQ(seen[2], "0123456789");
    EXPECT_EQ(seen[3], kCodes[3]);
    t.SaveToFile(dir.file("again.d"));
    EXPECT_EQ(orbtest::readFile(dir.file("again.d")), img);
}

TEST(FlatShortText, ATextEndsAtItsFirstNulInTheFile)
{
    // A file whose full-width Code holds a NUL after two bytes: the value is the two
    // bytes; the rest was never read by anyone, and the next save leaves it out.
    std::string img = MakeImage({"0123456789", "tail"});
    const size_t code = FirstRecord() + 5 + 4;
    ASSERT_EQ(img.substr(code, 10), "0123456789");
    img[code + 2] = '\0';
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    EXPECT_EQ(FlatGetSmallStr(c.Entry(0)->Data, c.Fields[1]), "01");
    EXPECT_EQ(FlatGetSmallStr(c.Entry(1)->Data, c.Fields[1]), "tail");
    std::string saved;
    ASSERT_TRUE(c.WriteImage(saved, err)) << err;
    EXPECT_EQ(saved, MakeImage({"01", "tail"}));

    // A text that starts with a NUL is empty; a lookup by text and a sort see the same values.
    img[code] = '\0';
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    EXPECT_EQ(FlatGetSmallStr(c.Entry(0)->Data, c.Fields[1]), "");
    const auto *found = c.RecordsWithText(1, "tail");
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front(), c.Entry(1));
    EXPECT_LT(TFlatCursor::CompareValues(c.Entry(0)->Data, c.Entry(1)->Data, c.Fields[1], false), 0);
}

TEST(FlatShortText, SettersKeepTheTextUpToItsFirstNulAndItsWidth)
{
    // What a setter keeps: the text up to its first NUL, at most its width in characters
    // and in bytes, cut between characters.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abcdefgh", "abcdef"},
        {std::string("ab\0cd", 5), "ab"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9\xC3\xA9"}, // 4 characters, 8 bytes: 3 fit
        {"abcde\xC3\xA9", "abcde"},                                         // the 6th character would split
        {"", ""},
    };
    const auto fill = [&](TFlatTable &t, bool whole) {
        t.FieldDefs().Add("Code", ftString, 6);
        t.FieldDefs().Add("Id", ftInteger);
        t.Open();
        if (whole)
            t.DisableControls();
        std::vector<TField *> fields{&t.FieldByName("Code"), &t.FieldByName("Id")};
        for (size_t i = 0; i < cases.size(); ++i) {
            t.Append();
            if (whole) {
                ASSERT_TRUE(t.CanSetFieldValues(fields));
                t.SetFieldValues(fields, {cases[i].first, int64_t(i)});
            } else {
                t.FieldByName("Code").SetAsString(cases[i].first);
                t.FieldByName("Id").SetAsInteger(int(i));
            }
            t.Post();
        }
        if (whole)
            t.EnableControls();
    };
    TFlatTable one, all;
    fill(one, false);
    fill(all, true);
    ASSERT_EQ(one.Cursor()->Fields[0].TypeCode, fftSmallStr);
    std::string a, b, err;
    ASSERT_TRUE(one.Cursor()->WriteImage(a, err)) << err;
    ASSERT_TRUE(all.Cursor()->WriteImage(b, err)) << err;
    EXPECT_EQ(a, b);
    size_t i = 0;
    for (one.First(); !one.Eof(); one.Next(), ++i) {
        EXPECT_EQ(one.FieldByName("Code").AsString(), cases[i].second) << i;
        EXPECT_EQ(one.FieldByName("Code").IsNull(), cases[i].second.empty()) << i;
    }
    // Setting a shorter text gives the record back the bytes.
    one.First();
    const uint32_t before = one.Cursor()->Entry(0)->Data.BlockSize();
    one.Edit();
    one.FieldByName("Code").SetAsString("a");
    one.Post();
    EXPECT_EQ(one.Cursor()->Entry(0)->Data.BlockSize(), before - 5);
}

} // namespace
