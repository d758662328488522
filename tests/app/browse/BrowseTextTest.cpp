#include <gtest/gtest.h>

#include <QIcon>

#include <algorithm>
#include <random>

#include "app/LangUnit.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListModel.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TFileRow Row(const std::string &name, int type, const std::string &loadName = "0", const std::string &path = "")
{
    TFileRow r;
    r.Name = name, r.Type = type, r.LoadName = loadName, r.Path = path;
    return r;
}

std::string Joined(const std::vector<TFileRow> &rows, std::string TFileRow::*field)
{
    std::string out;
    for (const TFileRow &r : rows)
        out += r.*field + "|";
    return out;
}

} // namespace

TEST(BrowsePaths, DiscAndDrivePathsConvertBothWays)
{
    // The group and the unique number go; a disc node keeps its number after
    // the drive; a "[" too near the start does not read before the text.
    for (const auto &[in, out] : Pairs{{"e: [MYDISC]2\\docs\\", "e:\\docs\\"}, {"Music\\e: [MYDISC]\\", "e:\\"},
                                       {"e: [MYDISC]2\\docs", "e:\\docs"}, {"Music\\Old\\f: [A B]17\\x\\y\\", "f:\\x\\y\\"},
                                       {"e: [MYDISC]", "e:"}, {"Music\\Pop", "Music\\Pop"}, {"[X]\\a", "\\a"}, {"a[X", "a"}})
        EXPECT_EQ(DiscPathToDrivePath(in), out) << in;
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]", "e:\\docs"), "e: [MYDISC]\\docs");
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]2", "e:\\docs\\old"), "e: [MYDISC]2\\docs\\old");
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]", "e:"), "");
    EXPECT_EQ(DiscPathToDrivePath(DrivePathToDiscPath("e: [MYDISC]2", "e:\\a\\b")), "e:\\a\\b");
    EXPECT_EQ(DiscPartOf("Music\\e: [MYDISC]\\docs"), "e: [MYDISC]\\docs");
    EXPECT_EQ(DiscPartOf("Music"), "Music");
}

TEST(BrowseSizes, FormatSizeRangesRoundingAndWords)
{
    // Both borders fall in the larger unit; halves go to the even hundredth;
    // just below a whole number rounds up without ".0"; 2 GiB and more keep their size.
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, "0 bytes "}, {1023, "1023 bytes "}, {1024, "1 kb"}, {1536, "1.5 kb"}, {1152, "1.12 kb"},
        {1408, "1.38 kb"}, {1048575, "1024 kb"}, {1048576, "1 mb"}, {1048577, "1 mb"},
        {1048576 + 1048576 / 8, "1.12 mb"}, {2 * 1048576 + 1048576 / 20, "2.05 mb"},
        {std::int64_t{3} * 1024 * 1048576, "3072 mb"}, {INT64_MAX, "8796093022208 mb"}};
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(FormatSize(bytes, '.', "bytes"), text) << bytes;
    EXPECT_EQ(FormatSize(1536, ',', "bytes"), "1,5 kb");
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    EXPECT_EQ(FormatSize(0), "0 " + langunit::LangString(83) + " ");
    langunit::SetCurrentLanguage(langunit::LangSlovak);
    for (const auto &[text, value] : std::vector<std::pair<std::string, std::int64_t>>{
             {"1536", 1536}, {" 42 ", 42}, {"4294967296", 4294967296LL}, {"", 0}, {"12kb", 0},
             {"99999999999999999999999", 0}})
        EXPECT_EQ(SizeValue(text), value) << text;
}

TEST(BrowseArchives, ArchivePathAndExtensions)
{
    for (const char *ext : {".zip", ".rar", ".cab"})
        EXPECT_TRUE(IsArchiveExtension(ext)) << ext;
    EXPECT_FALSE(IsArchiveExtension(".ZIP"));
    EXPECT_FALSE(IsArchiveExtension("zip"));
    // A later kind replaces an earlier one.
    for (const auto &[in, out] : Pairs{{"e:\\a\\b.zip\\x\\y.txt", "e:\\a\\b.zip"}, {"e:\\A.ZIP\\y.txt", "e:\\A.ZIP"},
                                       {"e:\\a.cab\\y.txt", "e:\\a.cab"}, {"e:\\a.zip\\b.rar\\c.txt", "e:\\a.zip\\b.rar"},
                                       {"e:\\plain\\file.txt", "e:\\plain\\file.txt"}})
        EXPECT_EQ(ArchivePathOf(in), out) << in;
}

TEST(BrowseText, KeyPrefixesNumbersAndPanelWidths)
{
    EXPECT_EQ(StripKeyPrefix("DTITLE", "DTITLE=Abc"), "Abc");
    EXPECT_EQ(StripKeyPrefix("TTITLE0", "TTITLE0=Intro"), "Intro");
    EXPECT_EQ(StripKeyPrefix("DYEAR", "DTITLE=Abc"), "DTITLE=Abc");
    EXPECT_EQ(StripKeyPrefix("DTITLE", "DTITLE"), "DTITLE");
    EXPECT_EQ(RemoveFirst("a / b / c", " / "), "ab / c");
    EXPECT_EQ(RemoveFirst("abc", "x"), "abc");
    EXPECT_EQ(RemoveFirst("abc", ""), "abc");
    EXPECT_EQ(DiscNumberLabel("7"), "  7");
    EXPECT_EQ(DiscNumberLabel("42"), " 42");
    EXPECT_EQ(DiscNumberLabel("123"), "123");
    EXPECT_EQ(DiscNumberLabel("1234"), std::nullopt);
    // StaticText3 at 44 and a picture at 409: 360 pixels, so the file's name gets 225.
    const TInfoPanelLayout l = InfoPanelLayoutFor(409, 44, 78);
    EXPECT_EQ(std::vector<int>({l.text3Width, l.text5Width, l.text7Left, l.text7Width}),
              std::vector<int>({360, 225, 78 + 225 + 5, 409 - (78 + 225 + 5) - 5}));
    // 364 / 1.6 = 227.5 rounds to the even 228.
    EXPECT_EQ(InfoPanelLayoutFor(413, 44, 78).text5Width, 228);
}

TEST(FileListOrder, FoldersFirstNamesFoldingOnlyAToZTracksByFileAndStable)
{
    // Only a to z fold (to 0x61 ..): "_" (0x5F) stays before them and the
    // UTF-8 lead byte 0xC3 after them.
    std::vector<TFileRow> rows = {Row("b.txt", 1), Row("Zeta", 0), Row("A.txt", 1), Row("alpha", 0), Row("_x", 1),
                                  Row("\xc3\x81no", 1)};
    SortFileRows(rows, false);
    EXPECT_EQ(Joined(rows, &TFileRow::Name), "alpha|Zeta|_x|A.txt|b.txt|\xc3\x81no|");
    std::vector<TFileRow> tracks = {Row("Second", 1, "Track10.cda"), Row("First", 1, "Track09.cda"),
                                    Row("Third", 1, "track11.cda")};
    SortFileRows(tracks, true);
    EXPECT_EQ(Joined(tracks, &TFileRow::Name), "First|Second|Third|");
    // Names equal but for the case of a to z keep their order.
    std::vector<TFileRow> same = {Row("README", 1, "0", "1"), Row("readme", 1, "0", "2"), Row("ReadMe", 1, "0", "3")};
    SortFileRows(same, false);
    EXPECT_EQ(Joined(same, &TFileRow::Path), "1|2|3|");
}

TEST(FileListOrder, IsAStrictWeakOrdering)
{
    // Irreflexive and asymmetric over a mix that the old comparers got wrong
    // (they answered "equal" for a folder against a file).
    std::vector<TFileRow> rows;
    for (const char *n : {"a", "B", "b", "c", "A"})
        for (int type : {0, 1})
            rows.push_back(Row(n, type));
    for (const TFileRow &a : rows) {
        EXPECT_FALSE(FileRowLess(a, a, false));
        for (const TFileRow &b : rows)
            EXPECT_FALSE(FileRowLess(a, b, false) && FileRowLess(b, a, false));
    }
    std::mt19937 rng(7);
    std::shuffle(rows.begin(), rows.end(), rng);
    SortFileRows(rows, false);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].IsFolder(), i < 5) << i;
}

TEST(FileListModelTest, ColumnsCarryTheRecord)
{
    TFileListModel model;
    TFileRow r = Row("song.mp3", 1, "Track01.cda");
    r.SizeText = "1.5 kb", r.FullName = "e:\\song.mp3", r.Namecd = "e: [A]", r.CdIdCode = "0";
    model.SetRows({r});
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.columnCount(), 15);
    for (const auto &[column, text] : std::vector<std::pair<int, const char *>>{
             {0, "song.mp3"}, {1, "1.5 kb"}, {5, "e:\\song.mp3"}, {6, "1"}, {12, "Track01.cda"}})
        EXPECT_EQ(model.data(model.index(0, column), Qt::DisplayRole).toString(), QString::fromUtf8(text)) << column;
    EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_EQ(model.Row(1), nullptr);
    EXPECT_EQ(model.Row(-1), nullptr);
    model.SetColumnCaption(0, QStringLiteral("Názov"));
    model.SetColumnCaption(99, QStringLiteral("x"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Názov"));
}
