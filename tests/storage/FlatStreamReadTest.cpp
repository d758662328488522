// Tables are read as their bytes arrive, through one reused buffer: whatever the size of
// the pieces a source gives, the records, the notes and every error must be those of a
// read of the whole image at once.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "support/TempDir.h"

namespace {

// Gives the image in pieces of 1 to 13 bytes; optionally fails after `failAt` bytes.
class TTrickleSource : public TFlatImageSource {
public:
    explicit TTrickleSource(std::string_view bytes, size_t failAt = SIZE_MAX) : bytes_(bytes), failAt_(failAt) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint8_t *dst, size_t n, size_t &got, std::string &reason) override
    {
        if (pos_ >= failAt_) {
            reason = "device gone";
            return false;
        }
        step_ = step_ % 13 + 1;
        got = std::min({n, step_, bytes_.size() - pos_, failAt_ - pos_});
        std::memcpy(dst, bytes_.data() + pos_, got);
        pos_ += got;
        return true;
    }

private:
    std::string_view bytes_;
    size_t failAt_;
    size_t pos_ = 0, step_ = 0;
};

std::string Describe()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Code", fftSmallStr, 10) +
           FlatDescribeField("Text", fftString, 40) + FlatDescribeField("Data", fftBlob, 0) + '\x14';
}

// An image of `count` records with notes; record `bigAt` holds a BLOB of `bigSize` bytes.
std::string MakeImage(int count, const std::string &password = "", int bigAt = -1, size_t bigSize = 0)
{
    TFlatCursor c;
    std::string err;
    EXPECT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 4), err)) << err;
    c.Password = password;
    c.NotesText = "the notes";
    for (int i = 0; i < count; ++i) {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        std::memcpy(r.Fixed() + c.Fields[0].Offset, &i, 4);
        const std::string code = "C" + std::to_string(i % 1000);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[1], code);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(size_t(i % 37), char('a' + i % 26)));
        r.SetVar(c.Fields, c.RecordSize, c.Fields[3],
                 i == bigAt ? std::string(bigSize, 'B') : std::string(size_t(i % 5), char(i)));
        EXPECT_TRUE(c.PutRecord(r, nullptr, err)) << err;
    }
    std::string img;
    EXPECT_TRUE(c.WriteImage(img, err)) << err;
    return img;
}

// Everything a read leaves: the outcome, the notes and each record's bytes.
std::string Outcome(TFlatCursor &c, bool ok, const std::string &err)
{
    std::string s = ok ? "ok" : "error:" + err;
    s += "|partial:" + c.PartialError + "|notes:" + c.NotesText + "|";
    for (int i = 0; i < c.RecordCount(); ++i) {
        const TFlatRecEntry *e = c.Entry(i);
        s += std::to_string(e->StoredSize) + ":";
        const TFlatRecord packed = e->Data; // the same bytes in whichever form the record is held
        s.append(reinterpret_cast<const char *>(packed.Fixed()) - 4, packed.BlockSize());
    }
    return s;
}

std::string Read(const std::string &img, bool partial, bool trickled)
{
    TFlatCursor c;
    c.PartialOpen = partial;
    TTrickleSource source(img);
    std::string err;
    const bool ok = trickled ? c.ReadImage(source, err) : c.ReadImage(img, err);
    EXPECT_TRUE(c.ReadFailure.empty());
    return Outcome(c, ok, err);
}
std::string ReadWhole(const std::string &img, bool partial) { return Read(img, partial, false); }
std::string ReadTrickled(const std::string &img, bool partial) { return Read(img, partial, true); }

TEST(FlatStreamRead, PiecesGiveTheSameRecordsAsTheWholeImage)
{
    // Enough records to cross the reader's buffer several times, and a BLOB larger than it.
    const std::string img = MakeImage(60000, "", 30000, (size_t(3) << 20) + 7);
    ASSERT_GT(img.size(), size_t(4) << 20);
    const std::string whole = ReadWhole(img, false);
    ASSERT_EQ(whole.rfind("ok|", 0), 0u);
    EXPECT_EQ(ReadTrickled(img, false), whole);

    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    EXPECT_EQ(c.RecordCount(), 60000);
    EXPECT_EQ(c.NotesText, "the notes");
    EXPECT_EQ(c.Entry(30000)->Data.Var(c.Fields[3]).size(), (size_t(3) << 20) + 7);
    EXPECT_EQ(c.Entry(59999)->Data.Var(c.Fields[2]), std::string(59999 % 37, char('a' + 59999 % 26)));
}

TEST(FlatStreamRead, EveryCutAndDamageIsReportedAsForTheWholeImage)
{
    const std::string img = MakeImage(40);
    for (size_t n = 0; n < img.size(); ++n) {
        const std::string cut = img.substr(0, n);
        ASSERT_EQ(ReadTrickled(cut, false), ReadWhole(cut, false)) << "cut at " << n;
        ASSERT_EQ(ReadTrickled(cut, true), ReadWhole(cut, true)) << "cut at " << n;
        EXPECT_NE(ReadWhole(cut, false).rfind("ok", 0), 0u) << "cut at " << n;
    }
    for (size_t i = 0; i < img.size(); ++i) {
        std::string bad = img;
        bad[i] = char(bad[i] ^ 0x5A);
        ASSERT_EQ(ReadTrickled(bad, true), ReadWhole(bad, true)) << "damaged at " << i;
    }
}

TEST(FlatStreamRead, ProtectedTablesAreDecipheredPieceByPiece)
{
    const std::string img = MakeImage(800, "stream-pw");
    ASSERT_EQ(img[4], 'P');
    FlatSession().AddPassword("stream-pw");
    const std::string whole = ReadWhole(img, false);
    EXPECT_EQ(whole.rfind("ok|", 0), 0u);
    EXPECT_EQ(ReadTrickled(img, false), whole);
    for (size_t n = img.size() - 60; n < img.size(); ++n)
        ASSERT_EQ(ReadTrickled(img.substr(0, n), true), ReadWhole(img.substr(0, n), true)) << "cut at " << n;
    FlatSession().RemovePassword("stream-pw");
}

TEST(FlatStreamRead, AFailedReadIsReportedAndKeepsNothingEvenWhenPartialOpen)
{
    const std::string img = MakeImage(500);
    for (const bool partial : {false, true}) {
        TFlatCursor c;
        c.PartialOpen = partial;
        TTrickleSource source(img, img.size() / 2);
        std::string err;
        EXPECT_FALSE(c.ReadImage(source, err));
        EXPECT_EQ(c.ReadFailure, "device gone");
        EXPECT_EQ(c.RecordCount(), 0);
        EXPECT_TRUE(c.PartialError.empty());
    }
}

TEST(FlatStreamWrite, ASavedFileHoldsTheImageBytesAcrossManyBuffers)
{
    // More than the writer's buffer several times over, with a BLOB larger than it.
    const std::string img = MakeImage(90000, "", 45000, (size_t(5) << 20) + 3);
    ASSERT_GT(img.size(), size_t(8) << 20);
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    std::string again;
    ASSERT_TRUE(c.WriteImage(again, err)) << err;
    EXPECT_EQ(again, img);
    orbtest::TempDir dir;
    ASSERT_TRUE(c.SaveToFile(dir.file("t.d"), 0, false, "", err)) << err;
    EXPECT_EQ(orbtest::readFile(dir.file("t.d")), img);
}

TEST(FlatStreamWrite, AProtectedImageAcrossManyBuffersReadsBack)
{
    const std::string img = MakeImage(200000, "write-pw");
    ASSERT_GT(img.size(), size_t(6) << 20);
    FlatSession().AddPassword("write-pw");
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    FlatSession().RemovePassword("write-pw");
    ASSERT_EQ(c.RecordCount(), 200000);
    EXPECT_EQ(c.Entry(199999)->Data.Var(c.Fields[2]), std::string(199999 % 37, char('a' + 199999 % 26)));
    EXPECT_EQ(c.NotesText, "the notes");
}

TEST(FlatStreamWrite, AValueTheReaderWouldRefuseLeavesNoFile)
{
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(MakeImage(10), err)) << err;
    TFlatRecord r = c.Entry(5)->Data;
    r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(FlatMaxStringLength + 1, 'x'));
    ASSERT_TRUE(c.PutRecord(r, c.Entry(5), err)) << err;
    orbtest::TempDir dir;
    EXPECT_FALSE(c.SaveToFile(dir.file("t.d"), 0, false, "", err));
    EXPECT_NE(err.find("Text"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    std::string image = "left over";
    EXPECT_FALSE(c.WriteImage(image, err));
    EXPECT_TRUE(image.empty());
}

} // namespace
