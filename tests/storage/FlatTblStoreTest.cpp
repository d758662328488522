// The table file image and the record store: byte layout, reading errors, damaged input,
// the protected form, the session's password lookup and saving to disk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "storage/Sapphire.h"
#include "support/TempDir.h"

namespace {

std::string Hex(const uint8_t *p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += std::string(1, "0123456789abcdef"[p[i] >> 4]) + "0123456789abcdef"[p[i] & 15];
    return s;
}

struct Def { const char *name; uint8_t code; uint32_t size; };

std::string Describe(std::initializer_list<Def> defs)
{
    std::string d;
    for (const Def &f : defs)
        d += FlatDescribeField(f.name, f.code, f.size);
    return d + '\x14';
}

std::string FileTableDescription()
{
    return Describe({{"Path", fftString, 255},      {"Name", fftString, 50},         {"Namecd", fftString, 50},
                     {"Number", fftSmallStr, 8},     {"Size", fftSmallStr, 20},       {"Attrib", fftInteger, 0},
                     {"Icon", fftBlob, 0},           {"CreateDate", fftSmallStr, 20}, {"LastChange", fftSmallStr, 20},
                     {"Type", fftInteger, 0},        {"Note", fftString, 50},         {"FType", fftInteger, 0},
                     {"LoadName", fftSmallStr, 30},  {"MusicOrder", fftInteger, 0},   {"CdIdCode", fftSmallStr, 20}});
}

// A store opened on an empty image of the description.
void OpenEmpty(TFlatCursor &c, const std::string &desc, uint32_t fields)
{
    std::string err;
    ASSERT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(desc, fields), err)) << err;
}

void SetInt(TFlatRecord &r, const TFlatField &f, int64_t v) { std::memcpy(r.Fixed() + f.Offset, &v, f.Size); }
void SetDouble(TFlatRecord &r, const TFlatField &f, double v) { std::memcpy(r.Fixed() + f.Offset, &v, 8); }
void SetSmall(const TFlatCursor &c, TFlatRecord &r, const TFlatField &f, const std::string &s)
{
    r.SetVar(c.Fields, c.RecordSize, f, std::string_view(s).substr(0, f.MaxLength));
}

// Appends and commits one record of the small mixed table below.
struct Mixed {
    TFlatCursor c;
    Mixed()
    {
        OpenEmpty(c, Describe({{"Id", fftInteger, 0}, {"Big", fftInt64, 0}, {"Val", fftDouble, 0}, {"Code", fftSmallStr, 10},
                               {"Text", fftString, 40}, {"Data", fftBlob, 0}}), 6);
    }
    const TFlatField &F(const char *n) { return *c.FindField(n); }
    void Add(int id, int64_t big, double val, const std::string &code, const std::string &text, const std::string &data)
    {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        SetInt(r, F("Id"), id);
        SetInt(r, F("Big"), big);
        SetDouble(r, F("Val"), val);
        SetSmall(c, r, F("Code"), code);
        r.SetVar(c.Fields, c.RecordSize, F("Text"), text);
        r.SetVar(c.Fields, c.RecordSize, F("Data"), data);
        std::string err;
        ASSERT_TRUE(c.PutRecord(r, nullptr, err)) << err;
    }
    std::string Image()
    {
        std::string img, err;
        EXPECT_TRUE(c.WriteImage(img, err)) << err;
        return img;
    }
};

// A copy of the image with a 32-bit value written at `at`.
std::string Patched(std::string image, size_t at, uint32_t v)
{
    std::memcpy(image.data() + at, &v, 4);
    return image;
}

std::string WithByte(std::string image, size_t at, char v)
{
    image[at] = v;
    return image;
}

std::string ReadError(const std::string &image, bool partial = false, int *records = nullptr)
{
    TFlatCursor c;
    c.PartialOpen = partial;
    std::string err;
    const bool ok = c.ReadImage(image, err);
    if (records)
        *records = c.RecordCount();
    if (ok && !partial)
        return "";
    return ok ? "partial:" + c.PartialError : err;
}

} // namespace

TEST(SapphireTest, KnownAnswersAndCrc)
{
    TSapphire s;
    std::string text = "The quick brown fox jumps over the lazy dog";
    s.Initialize("password");
    s.EncryptBuffer(reinterpret_cast<uint8_t *>(text.data()), text.size());
    EXPECT_EQ(Hex(reinterpret_cast<uint8_t *>(text.data()), text.size()),
              "b182204222cef2554ae9e08693f75f006c5bdb39ed111f094415bcd1fe3bcfaddbcb4fcb076c7b5b748e4b");
    s.Initialize("password");
    s.DecryptBuffer(reinterpret_cast<uint8_t *>(text.data()), text.size());
    EXPECT_EQ(text, "The quick brown fox jumps over the lazy dog");

    uint8_t a[32], b[32];
    for (int i = 0; i < 32; ++i)
        a[i] = b[i] = uint8_t(0xA5 ^ i);
    s.Initialize("secret");
    s.EncryptBuffer(a, 32);
    EXPECT_EQ(Hex(a, 32), "a76b49ecbce3c477731113ea1079d66b12643837ea0585b42ec998c54104edce");
    s.Initialize("secret");
    s.DecryptBuffer(b, 32);
    EXPECT_EQ(Hex(b, 32), "a716b111429af502a1005e3c3e93b3fefb8725dd76d3a37ca15bd0a62b461dad");
    uint8_t buf[11] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const uint16_t crc = Crc16(buf, 9);
    EXPECT_EQ(crc, 0x4B37);
    buf[9] = uint8_t(crc & 0xFF), buf[10] = uint8_t(crc >> 8);
    EXPECT_EQ(Crc16(buf, 11), 0);
}

TEST(FlatImageTest, GoldenEmptyCatalogueTables)
{
    const std::string files = FileTableDescription();
    const std::string img = TFlatCursor::BuildEmptyImage(files, 15);
    EXPECT_EQ(img.size(), 225u);
    // Written back by the store, byte for byte the same image.
    TFlatCursor c;
    OpenEmpty(c, files, 15);
    std::string out, err;
    ASSERT_TRUE(c.WriteImage(out, err));
    EXPECT_EQ(out, img);
    EXPECT_EQ(c.Fields[0].MaxLength, 255);
    EXPECT_EQ(c.Fields[3].TypeCode, fftSmallStr);
    EXPECT_EQ(c.Fields[3].MaxLength, 8);
}

TEST(FlatImageTest, RecordEncodingAndRoundTrip)
{
    Mixed m;
    m.Add(0, 0, 0.0, "", "", "");
    m.Add(7, 1234567890123LL, -0.0, "ABC", "hello", std::string("a\0b", 3));
    m.Add(-1, 0, std::nan(""), "0123456789", std::string(300, 'x'), "");
    const std::string img = m.Image();
    const size_t body = 17 + m.c.Description.size();
    // First record: all six length bytes 0, no values.
    EXPECT_EQ(img.substr(body, 6), std::string(6, '\0'));
    // Second: Id 4, Big 8, Val 0 (minus zero), Code 3, Text 4, Data 4.
    EXPECT_EQ(img.substr(body + 6, 6), std::string("\x04\x08\x00\x03\x04\x04", 6));
    EXPECT_EQ(uint32_t(img.size()), *reinterpret_cast<const uint32_t *>(img.data()));

    TFlatCursor r;
    std::string err;
    ASSERT_TRUE(r.ReadImage(img, err)) << err;
    ASSERT_EQ(r.RecordCount(), 3);
    const TFlatRecord &rec = r.Entry(1)->Data;
    EXPECT_EQ(FlatGetInt(rec, *r.FindField("Big")), 1234567890123LL);
    EXPECT_EQ(FlatGetSmallStr(rec, *r.FindField("Code")), "ABC");
    EXPECT_EQ(rec.Var(*r.FindField("Data")), std::string("a\0b", 3));
    EXPECT_EQ(r.Entry(2)->Data.Var(*r.FindField("Text")).size(), 300u); // longer than declared 40
    EXPECT_EQ(FlatGetFloat(r.Entry(2)->Data, *r.FindField("Val")), 0.0); // NaN stored as zero
    EXPECT_EQ(r.Entry(1)->StoredSize, 6u + 4 + 8 + 3 + 9 + 7);
    // A save of the loaded store gives the same bytes.
    std::string again;
    ASSERT_TRUE(r.WriteImage(again, err));
    EXPECT_EQ(again, img);
}

TEST(FlatImageTest, DescriptionParsing)
{
    // Blank in a name becomes "_"; 's' without a size is 100; 'A' is SmallStr of 10;
    // an unknown letter gives a SmallStr sized by its code.
    std::string d = FlatDescribeField("My Name", fftString, 0);
    EXPECT_EQ(d, std::string("XXX.My_Name s0\x12"));
    d = std::string("P1.First s\x12") + "Q.Second A\x12" + "NoDot x\x12" + "\x14";
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(d, 3), err)) << err;
    EXPECT_EQ(c.Fields[0].Prefix, "P1");
    EXPECT_EQ(c.Fields[0].TypeCode, fftString);
    EXPECT_EQ(c.Fields[0].MaxLength, 100);
    EXPECT_EQ(c.Fields[1].TypeCode, fftSmallStr);
    EXPECT_EQ(c.Fields[1].MaxLength, 10);
    EXPECT_EQ(c.Fields[2].Name, "NoDot");
    EXPECT_EQ(c.Fields[2].MaxLength, 'x' - 55);

    EXPECT_EQ(ReadError(TFlatCursor::BuildEmptyImage("XXX.A i\x12XXX.B i", 2)), SDescriptionError);
    for (const char *bad : {"XXX.A s12x\x12", "XXX.A \x12", "XXX.A !\x12", "XXX.A s99999\x12"})
        EXPECT_EQ(ReadError(TFlatCursor::BuildEmptyImage(bad, 1)), SBufferCorruption) << bad;
}

TEST(FlatImageTest, ReadErrorTextsNameFieldAndRecord)
{
    Mixed m;
    m.Add(1, 0, 0, "A", "first", "");
    m.Add(2, 0, 0, "B", "second", "x");
    std::string img = m.Image();
    const size_t rec1 = 17 + m.c.Description.size();
    const size_t rec2 = rec1 + m.c.Entry(0)->StoredSize;

    // Code holds at most 10 characters, a String length byte is 0 or 4, an Integer is 4 bytes wide; the
    // String count of record 2 sits after its 6 length bytes, Id (4) and Code (1).
    const std::pair<std::string, const char *> cases[] = {
        {WithByte(img, rec2 + 3, 11), "Field 'Code' has wrong length 11 in record 2"},
        {WithByte(img, rec2 + 4, 2), "Field 'Text' has wrong length 2 in record 2"},
        {WithByte(img, rec1, 5), "Field 'Id' has wrong length 5 in record 1"},
        {Patched(img, rec2 + 6 + 4 + 1, 8192), "String field 'Text' has wrong length 8192 in record 2"},
        {Patched(img, rec2 + 6 + 4 + 1 + 4 + 6, 1u << 30), "BLOB field 'Data' has wrong length 1073741824 in record 2"},
        {Patched(img, 5, 3), "Number of records read (2) does not match declared record count (3)"}};
    for (const auto &[image, error] : cases)
        EXPECT_EQ(ReadError(image), error);
    const std::string bad = Patched(img, 5, 3);
    int kept = -1;
    EXPECT_EQ(ReadError(bad, true, &kept),
              "partial:Number of records read (2) does not match declared record count (3)");
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(ReadError(bad, false, &kept), "Number of records read (2) does not match declared record count (3)");
    EXPECT_EQ(kept, 0);

    EXPECT_EQ(ReadError(img.substr(0, img.size() - 1)), SUnexpectedEnd);

    std::string e = std::string(4, '\0') + "Eboom\0tail";
    e.resize(15);
    EXPECT_EQ(ReadError(e), "boom");
    EXPECT_EQ(ReadError(""), SBufferCorruption);
}

TEST(FlatImageTest, LengthFieldsAreCheckedBeforeUse)
{
    Mixed m;
    m.Add(1, 2, 3.5, "A", "t", "b");
    const std::string img = m.Image();
    // F = 0 with records declared; D larger than the file; F larger than the description holds, or beyond any
    // real table.
    EXPECT_EQ(ReadError(Patched(img, 9, 0)), SBufferCorruption);
    EXPECT_EQ(ReadError(Patched(img, 13, 0xFFFFFFF0u)), SBufferCorruption);
    EXPECT_EQ(ReadError(Patched(img, 9, 6000)), SDescriptionError);
    EXPECT_EQ(ReadError(Patched(img, 9, 0xFFFFFFF0u)), SBufferCorruption);
    // A huge declared count with one record present does not reserve for it.
    EXPECT_NE(ReadError(Patched(img, 5, 0xFFFFFFF0u)).find("does not match declared record count"), std::string::npos);
    // PartialOpen never rescues a broken description.
    EXPECT_EQ(ReadError(Patched(img, 9, 6000), true), SDescriptionError);
}

TEST(FlatImageTest, EveryTruncationAndCorruptionIsRefusedCleanly)
{
    Mixed m;
    m.c.NotesText = "notes";
    for (int i = 0; i < 5; ++i)
        m.Add(i + 1, i * 1000, i * 0.5, "C" + std::to_string(i), std::string(size_t(i * 7), 't'),
              std::string(size_t(i * 3), '\0'));
    const std::string img = m.Image();
    for (size_t n = 0; n < img.size(); ++n) {
        const std::string err = ReadError(img.substr(0, n));
        EXPECT_FALSE(err.empty()) << "truncated at " << n;
        ReadError(img.substr(0, n), true);
    }
    // The protected form, with its password known.
    Mixed pm;
    pm.c.Password = "sweep-pw";
    for (int i = 0; i < 3; ++i)
        pm.Add(i + 1, i, i, "P", std::string(size_t(i * 5), 'p'), "b");
    const std::string pimg = pm.Image();
    FlatSession().AddPassword("sweep-pw");
    for (size_t n = 0; n < pimg.size(); ++n)
        EXPECT_FALSE(ReadError(pimg.substr(0, n)).empty()) << "protected, truncated at " << n;
    for (size_t i = 0; i < pimg.size(); ++i)
        ReadError(WithByte(pimg, i, char(pimg[i] ^ 0x5A)), true);
    FlatSession().RemovePassword("sweep-pw");
    // Every byte position set to a set of nasty values.
    const uint8_t values[] = {0x00, 0x04, 0x2A, 0x7F, 0x80, 0xFF};
    for (size_t i = 0; i < img.size(); ++i) {
        for (uint8_t v : values) {
            ReadError(WithByte(img, i, char(v)));
            ReadError(WithByte(img, i, char(v)), true);
        }
    }
}

TEST(FlatImageTest, NotesBlockIsCarried)
{
    Mixed m;
    m.c.NotesText = "free text";
    const std::string img = m.Image();
    EXPECT_EQ(img.size(), 17 + m.c.Description.size() + 3 + 9);
    TFlatCursor r;
    std::string err;
    ASSERT_TRUE(r.ReadImage(img, err));
    EXPECT_EQ(r.NotesText, "free text");
}

TEST(FlatImageTest, WriterRefusesWhatTheReaderRefuses)
{
    Mixed m;
    m.Add(1, 0, 0, "", std::string(8192, 's'), "");
    std::string img, err;
    EXPECT_FALSE(m.c.WriteImage(img, err));
    EXPECT_EQ(err, "String field 'Text' has wrong length 8192 in record 1");
    EXPECT_TRUE(img.empty());

    Mixed n;
    n.c.NotesText.assign(65536, 'n');
    EXPECT_FALSE(n.c.WriteImage(img, err));
    n.c.NotesText.assign(65535, 'n');
    EXPECT_TRUE(n.c.WriteImage(img, err)) << err;

    // A refused save leaves the file as it was.
    orbtest::TempDir dir;
    const std::string file = dir.write("t.d", "old bytes");
    EXPECT_FALSE(m.c.SaveToFile(file, savAutoBackup, false, "", err));
    EXPECT_EQ(orbtest::readFile(file), "old bytes");
    EXPECT_FALSE(std::filesystem::exists(dir.file("t.~d")));
}

TEST(FlatImageTest, WriterNeverTrustsTheStoredSizeEstimate)
{
    Mixed m;
    m.Add(1, 0, 0, "", "short", "");
    // A record changed behind the store's back: its noted size is far too small.
    m.c.Entry(0)->Data.SetVar(m.c.Fields, m.c.RecordSize, m.F("Data"), std::string(100000, 'x'));
    m.c.Entry(0)->StoredSize = 1;
    TFlatCursor r;
    std::string err;
    ASSERT_TRUE(r.ReadImage(m.Image(), err)) << err;
    EXPECT_EQ(r.Entry(0)->Data.Var(*r.FindField("Data")).size(), 100000u);
}

TEST(FlatImageTest, ProgressFiresOncePerPercent)
{
    Mixed m;
    for (int i = 0; i < 300; ++i)
        m.Add(i + 1, 0, 0, "", "", "");
    std::vector<int> seen;
    m.c.OnProgress = [&](int p) { seen.push_back(p); };
    const std::string img = m.Image();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GT(seen[i], seen[i - 1]);
    seen.clear();
    TFlatCursor r;
    r.OnProgress = [&](int p) { seen.push_back(p); };
    std::string err;
    ASSERT_TRUE(r.ReadImage(img, err));
    EXPECT_EQ(seen.size(), 100u);
    // 1 of 8 records is 12.5 %, rounded to even: 12.
    Mixed e;
    for (int i = 0; i < 8; ++i)
        e.Add(i + 1, 0, 0, "", "", "");
    seen.clear();
    e.c.OnProgress = [&](int p) { seen.push_back(p); };
    e.Image();
    EXPECT_EQ(seen.front(), 12);
    EXPECT_EQ(seen[2], 38); // 37.5 -> 38
}

TEST(FlatStoreTest, EntryStatesCommitAndRevert)
{
    Mixed m;
    m.Add(1, 0, 0, "a", "one", "");
    m.Add(2, 0, 0, "b", "two", "");
    m.c.CommitAll();
    TFlatRecEntry *first = m.c.Entry(0), *second = m.c.Entry(1);
    std::string err;

    // Two edits keep the first prior data; a revert goes back before both.
    m.c.BeginEdit(first);
    TFlatRecord r = first->Data;
    r.SetVar(m.c.Fields, m.c.RecordSize, m.F("Text"), "edited");
    ASSERT_TRUE(m.c.PutRecord(r, first, err));
    EXPECT_EQ(first->Status, rsModified);
    m.c.BeginEdit(first);
    r.SetVar(m.c.Fields, m.c.RecordSize, m.F("Text"), "edited twice");
    ASSERT_TRUE(m.c.PutRecord(r, first, err));
    m.c.RevertRecord(first);
    EXPECT_EQ(first->Data.Var(m.F("Text")), "one");
    EXPECT_EQ(first->Status, rsClean);

    // Delete then revert brings it back; delete then commit makes it dead.
    ASSERT_TRUE(m.c.DeleteRecord(second, err));
    EXPECT_FALSE(m.c.DeleteRecord(second, err));
    EXPECT_EQ(err, SRecordDeleted);
    EXPECT_FALSE(m.c.PutRecord(r, second, err));
    EXPECT_EQ(err, SRecordDeleted);
    m.c.RevertAll();
    EXPECT_EQ(second->Status, rsClean);
    ASSERT_TRUE(m.c.DeleteRecord(second, err));
    m.c.CommitAll();
    EXPECT_EQ(second->Status, rsDead);
    EXPECT_FALSE(second->Data);

    // An inserted record deleted before a commit is dead at once and not saved.
    m.Add(3, 0, 0, "c", "three", "");
    TFlatRecEntry *third = m.c.Entry(2);
    int released = 0;
    m.c.OnReleaseRecord = [&](void **) { ++released; };
    ASSERT_TRUE(m.c.DeleteRecord(third, err));
    EXPECT_EQ(third->Status, rsDead);
    EXPECT_EQ(released, 1);
    m.c.RevertAll();
    EXPECT_EQ(third->Status, rsDead);
    TFlatCursor r2;
    ASSERT_TRUE(r2.ReadImage(m.Image(), err));
    EXPECT_EQ(r2.RecordCount(), 1);

    TFlatRecEntry stranger;
    EXPECT_FALSE(m.c.PutRecord(r, &stranger, err));
    EXPECT_EQ(err, SRecordNotFound);
}

TEST(FlatStoreTest, CounterFieldTakesOverAndIsRecoveredOnLoad)
{
    TFlatCursor c;
    OpenEmpty(c, Describe({{"Name", fftSmallStr, 10}, {"Id", fftAutoInc, 0}}), 2);
    ASSERT_EQ(c.CounterField, 1);
    std::string err;
    TFlatRecord r = TFlatRecord::Make(c.RecordSize);
    SetInt(r, c.Fields[1], 99);
    ASSERT_TRUE(c.PutRecord(r, nullptr, err));
    ASSERT_TRUE(c.PutRecord(r, nullptr, err));
    EXPECT_EQ(FlatGetInt(c.Entry(0)->Data, c.Fields[1]), 1);
    EXPECT_EQ(FlatGetInt(c.Entry(1)->Data, c.Fields[1]), 2);
    // Out of counter order on disk: the load sorts and continues from the highest value.
    std::swap(c.Records[0], c.Records[1]);
    std::string img;
    ASSERT_TRUE(c.WriteImage(img, err));
    TFlatCursor l;
    ASSERT_TRUE(l.ReadImage(img, err));
    EXPECT_EQ(FlatGetInt(l.Entry(0)->Data, l.Fields[1]), 1);
    EXPECT_EQ(l.Counter, 2);
    ASSERT_TRUE(l.PutRecord(r, nullptr, err));
    EXPECT_EQ(FlatGetInt(l.Entry(2)->Data, l.Fields[1]), 3);
}

// A Windows-1250 text meets its UTF-8 form as the same text, also after a shared ASCII
// start that is compared without decoding.
TEST(FlatStoreTest, ComparisonAcrossEncodings)
{
    EXPECT_EQ(FlatCompareText("Dis\xE8", "Dis\xC4\x8D", false), 0);   // č in 1250 / UTF-8
    EXPECT_EQ(FlatCompareText("dis\xE8", "DIS\xC4\x8C", true), 0);    // č / Č
    EXPECT_GT(FlatCompareText("ab\xE8", "abd", false), 0);              // č after d
    EXPECT_GT(FlatCompareText("abc", "abD", false), 0);                // bytes, not letters
    EXPECT_EQ(FlatCompareText("abc", "abC", true), 0);
    EXPECT_LT(FlatCompareText("a", "a\xE8", true), 0);
    EXPECT_GT(FlatCompareText("a\xC4\x8D", "a", false), 0);
}

TEST(FlatStoreTest, ComparisonRules)
{
    EXPECT_LT(FlatCompareText("ab", "abc", false), 0);
    EXPECT_LT(FlatCompareText("", "a", false), 0);
    EXPECT_EQ(FlatCompareText("ABC", "abc", true), 0);
    EXPECT_EQ(FlatCompareText("\xC4\x8D" "ast", "\xC4\x8C" "AST", true), 0); // č / Č
    EXPECT_NE(FlatCompareText("ABC", "abc", false), 0);
    EXPECT_EQ(FlatUpperCase("\xC5\xBEluv\xC3\xA1"), "\xC5\xBDLUV\xC3\x81");

    TFlatCursor c;
    OpenEmpty(c, Describe({{"B", fftBoolean, 0}, {"S", fftString, 10}, {"K", fftSmallStr, 5}, {"X", fftBlob, 0}}),
              4);
    TFlatRecord a = TFlatRecord::Make(c.RecordSize), b = TFlatRecord::Make(c.RecordSize);
    SetInt(a, c.Fields[0], 1);
    EXPECT_LT(TFlatCursor::CompareValues(a, b, c.Fields[0], false), 0); // true before false
    b.SetVar(c.Fields, c.RecordSize, c.Fields[1], "x");
    EXPECT_LT(TFlatCursor::CompareValues(a, b, c.Fields[1], false), 0); // empty first
    SetSmall(c, a, c.Fields[2], "9");
    SetSmall(c, b, c.Fields[2], "10");
    EXPECT_GT(TFlatCursor::CompareValues(a, b, c.Fields[2], false), 0);
    c.Fields[2].Numeric = 1; // right-justified key: shorter first
    EXPECT_LT(TFlatCursor::CompareValues(a, b, c.Fields[2], false), 0);
    a.SetVar(c.Fields, c.RecordSize, c.Fields[3], "zzz");
    EXPECT_EQ(TFlatCursor::CompareValues(a, b, c.Fields[3], false), 0);
    // Key fields that are all BLOBs compare on nothing: every live record is a violation.
    std::string err;
    ASSERT_TRUE(c.PutRecord(b, nullptr, err));
    EXPECT_TRUE(c.KeyViolation(a, nullptr, "X;Unknown"));
    EXPECT_FALSE(c.KeyViolation(a, nullptr, "S"));
    EXPECT_FALSE(c.KeyViolation(b, c.Entry(0), "S"));
}

TEST(FlatStoreTest, SortIsStableAndOrdersNaN)
{
    Mixed m;
    const double nan = std::numeric_limits<double>::quiet_NaN(), vals[] = {2.0, nan, 1.0, 2.0, nan};
    for (int i = 0; i < 5; ++i)
        m.Add(i + 1, 0, vals[i], "", "", "");
    m.c.SortRecords("Val", false);
    std::vector<int64_t> ids;
    for (auto *e : m.c.Records)
        ids.push_back(FlatGetInt(e->Data, m.F("Id")));
    EXPECT_EQ(ids, (std::vector<int64_t>{2, 5, 3, 1, 4}));
}

TEST(FlatSessionTest, ProtectedRoundTripAndPasswordLookup)
{
    TFlatSession &s = FlatSession();
    const auto savedPrompt = s.OnPassword;
    const auto savedNotice = s.OnNotice;
    Mixed m;
    m.c.Password = "Geheim-1";
    m.Add(1, 5, 1.5, "p", "protected text", "blob");
    const std::string one = m.Image(), two = m.Image();
    EXPECT_NE(one, two); // a new key per save
    EXPECT_EQ(one[4], 'P');
    EXPECT_EQ(one.size(), two.size());
    EXPECT_EQ(one.find("protected text"), std::string::npos);

    // The table's own password opens it.
    TFlatCursor r;
    r.Password = "Geheim-1";
    std::string err;
    ASSERT_TRUE(r.ReadImage(one, err)) << err;
    EXPECT_EQ(r.Entry(0)->Data.Var(*r.FindField("Text")), "protected text");

    // Three wrong answers: two notices, then the open fails.
    s.RemovePassword("Geheim-1");
    int asked = 0, notices = 0;
    s.OnPassword = [&](std::string &p) { return ++asked, p = "wrong", true; };
    s.OnNotice = [&](const std::string &t) { ++notices; EXPECT_EQ(t, SPasswordTryAgain); };
    s.RetryCount = 3;
    TFlatCursor w;
    EXPECT_FALSE(w.ReadImage(two, err));
    EXPECT_EQ(err, SInvalidPassword);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(notices, 2);

    // The right answer at the prompt is remembered, so the next table does not ask.
    asked = 0;
    s.OnPassword = [&](std::string &p) { return ++asked, p = "Geheim-1", true; };
    TFlatCursor ok;
    ASSERT_TRUE(ok.ReadImage(two, err)) << err;
    EXPECT_EQ(asked, 1);
    TFlatCursor again;
    ASSERT_TRUE(again.ReadImage(one, err));
    EXPECT_EQ(asked, 1);

    // Passwords differing in case are known once; the key check uses the exact text.
    s.AddPassword("GEHEIM-1");
    EXPECT_EQ(std::count_if(s.Passwords().begin(), s.Passwords().end(),
                            [](const std::string &p) { return FlatCompareText(p, "geheim-1", true) == 0; }),
              1);
    s.RemovePassword("Geheim-1");
    s.OnPassword = [&](std::string &p) { return p = "GEHEIM-1", true; };
    s.RetryCount = 1;
    TFlatCursor caseWrong;
    EXPECT_FALSE(caseWrong.ReadImage(one, err));
    // Cancelling stops at once.
    asked = 0;
    s.RetryCount = 0; // taken as 3
    s.OnPassword = [&](std::string &) { return ++asked, false; };
    EXPECT_FALSE(caseWrong.ReadImage(one, err));
    EXPECT_EQ(asked, 1);
    s.OnPassword = savedPrompt;
    s.OnNotice = savedNotice;
    s.RetryCount = 3;
}

TEST(FlatSaveTest, SaveReplacesFileAndKeepsBackup)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("cat.d");
    Mixed m;
    m.Add(2, 0, 0, "b", "second", "");
    m.Add(1, 0, 0, "a", "first", "");
    std::string err;
    // No file yet: the save writes it and no backup.
    ASSERT_TRUE(m.c.SaveToFile(file, savAutoBackup, false, "", err)) << err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("cat.~d")));
    const std::string first = orbtest::readFile(file);
    EXPECT_EQ(first, m.Image());

    m.Add(3, 0, 0, "c", "third", "");
    ASSERT_TRUE(m.c.SaveToFile(file, savAutoBackup | savSortOnIndex, false, "Id", err)) << err;
    EXPECT_EQ(orbtest::readFile(dir.file("cat.~d")), first);
    EXPECT_EQ(FlatGetInt(m.c.Entry(0)->Data, m.F("Id")), 1); // store order is sorted now
    // Nothing but the file and its backup is left in the folder.
    int count = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator(dir.path()))
        ++count;
    EXPECT_EQ(count, 2);

    // A folder that cannot take the file reports the error and creates nothing.
    EXPECT_FALSE(m.c.SaveToFile(dir.file("missing/cat.d"), 0, false, "", err));
    EXPECT_NE(err.find("Cannot create file"), std::string::npos);
}
