#include <gtest/gtest.h>

#include <QIcon>

#include <algorithm>
#include <random>

#include "app/BrowseText.h"
#include "app/FileListModel.h"
#include "app/LangUnit.h"

TEST(BrowsePaths, DiscPathToDrivePathDropsGroupAndUniqueNumber)
{
    EXPECT_EQ(DiscPathToDrivePath("e: [MYDISC]2\\docs\\"), "e:\\docs\\");
    EXPECT_EQ(DiscPathToDrivePath("Music\\e: [MYDISC]\\"), "e:\\");
    EXPECT_EQ(DiscPathToDrivePath("e: [MYDISC]2\\docs"), "e:\\docs");
    EXPECT_EQ(DiscPathToDrivePath("Music\\Old\\f: [A B]17\\x\\y\\"), "f:\\x\\y\\");
    // The disc node itself: no folder, so the number stays after the drive.
    EXPECT_EQ(DiscPathToDrivePath("e: [MYDISC]"), "e:");
    // No "[": unchanged; a "[" too near the start does not read before the text.
    EXPECT_EQ(DiscPathToDrivePath("Music\\Pop"), "Music\\Pop");
    EXPECT_EQ(DiscPathToDrivePath("[X]\\a"), "\\a");
    EXPECT_EQ(DiscPathToDrivePath("a[X"), "a");
}

TEST(BrowsePaths, DrivePathToDiscPathAndBack)
{
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]", "e:\\docs"), "e: [MYDISC]\\docs");
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]2", "e:\\docs\\old"), "e: [MYDISC]2\\docs\\old");
    EXPECT_EQ(DrivePathToDiscPath("e: [MYDISC]", "e:"), "");
    // The two are inverse for folder paths of a numbered disc.
    EXPECT_EQ(DiscPathToDrivePath(DrivePathToDiscPath("e: [MYDISC]2", "e:\\a\\b")), "e:\\a\\b");
    EXPECT_EQ(DiscPartOf("Music\\e: [MYDISC]\\docs"), "e: [MYDISC]\\docs");
    EXPECT_EQ(DiscPartOf("Music"), "Music");
}

TEST(BrowseSizes, FormatSizeRangesAndRounding)
{
    const std::string bytes = "bytes";
    EXPECT_EQ(FormatSize(0, '.', bytes), "0 bytes ");
    EXPECT_EQ(FormatSize(1023, '.', bytes), "1023 bytes ");
    EXPECT_EQ(FormatSize(1536, '.', bytes), "1.5 kb");
    EXPECT_EQ(FormatSize(1536, ',', bytes), "1,5 kb");
    EXPECT_EQ(FormatSize(1048577, '.', bytes), "1 mb");
    // The two values the ranges leave open.
    EXPECT_EQ(FormatSize(1024, '.', bytes), "1 kb");
    EXPECT_EQ(FormatSize(1048576, '.', bytes), "1 mb");
    // Halves go to the even hundredth: 1.125 -> 1.12, 1.375 -> 1.38.
    EXPECT_EQ(FormatSize(1152, '.', bytes), "1.12 kb");
    EXPECT_EQ(FormatSize(1408, '.', bytes), "1.38 kb");
    EXPECT_EQ(FormatSize(1048576 + 1048576 / 8, '.', bytes), "1.12 mb");
    // Just below a whole number rounds up to it without a trailing ".0".
    EXPECT_EQ(FormatSize(1048575, '.', bytes), "1024 kb");
    EXPECT_EQ(FormatSize(2 * 1048576 + 1048576 / 20, '.', bytes), "2.05 mb");
    // Files of 2 GiB and more keep their size.
    EXPECT_EQ(FormatSize(std::int64_t{3} * 1024 * 1048576, '.', bytes), "3072 mb");
    EXPECT_EQ(FormatSize(INT64_MAX, '.', bytes), "8796093022208 mb");
}

TEST(BrowseSizes, FormatSizeUsesLanguageWordAndSizeValueParses)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    EXPECT_EQ(FormatSize(0), "0 " + langunit::LangString(83) + " ");
    langunit::SetCurrentLanguage(langunit::LangSlovak);
    EXPECT_EQ(SizeValue("1536"), 1536);
    EXPECT_EQ(SizeValue(" 42 "), 42);
    EXPECT_EQ(SizeValue("4294967296"), 4294967296LL);
    EXPECT_EQ(SizeValue(""), 0);
    EXPECT_EQ(SizeValue("12kb"), 0);
    EXPECT_EQ(SizeValue("99999999999999999999999"), 0);
}

TEST(BrowseArchives, ArchivePathAndExtensions)
{
    EXPECT_TRUE(IsArchiveExtension(".zip"));
    EXPECT_TRUE(IsArchiveExtension(".rar"));
    EXPECT_TRUE(IsArchiveExtension(".cab"));
    EXPECT_FALSE(IsArchiveExtension(".ZIP"));
    EXPECT_FALSE(IsArchiveExtension("zip"));
    EXPECT_EQ(ArchivePathOf("e:\\a\\b.zip\\x\\y.txt"), "e:\\a\\b.zip");
    EXPECT_EQ(ArchivePathOf("e:\\A.ZIP\\y.txt"), "e:\\A.ZIP");
    EXPECT_EQ(ArchivePathOf("e:\\a.cab\\y.txt"), "e:\\a.cab");
    // A later kind replaces an earlier one.
    EXPECT_EQ(ArchivePathOf("e:\\a.zip\\b.rar\\c.txt"), "e:\\a.zip\\b.rar");
    EXPECT_EQ(ArchivePathOf("e:\\plain\\file.txt"), "e:\\plain\\file.txt");
}

TEST(BrowseText, StripKeyPrefixAndRemoveFirst)
{
    EXPECT_EQ(StripKeyPrefix("DTITLE", "DTITLE=Abc"), "Abc");
    EXPECT_EQ(StripKeyPrefix("TTITLE0", "TTITLE0=Intro"), "Intro");
    EXPECT_EQ(StripKeyPrefix("DYEAR", "DTITLE=Abc"), "DTITLE=Abc");
    EXPECT_EQ(StripKeyPrefix("DTITLE", "DTITLE"), "DTITLE");
    EXPECT_EQ(RemoveFirst("a / b / c", " / "), "ab / c");
    EXPECT_EQ(RemoveFirst("abc", "x"), "abc");
    EXPECT_EQ(RemoveFirst("abc", ""), "abc");
}

TEST(BrowseText, DiscNumberLabelRightAlignsInThree)
{
    EXPECT_EQ(DiscNumberLabel("7"), "  7");
    EXPECT_EQ(DiscNumberLabel("42"), " 42");
    EXPECT_EQ(DiscNumberLabel("123"), "123");
    EXPECT_EQ(DiscNumberLabel("1234"), std::nullopt);
}

TEST(BrowseText, InfoPanelWidthRule)
{
    // StaticText3 at 44 and a picture at 409: 360 pixels, so the file's name gets 225.
    const TInfoPanelLayout l = InfoPanelLayoutFor(409, 44, 78);
    EXPECT_EQ(l.text3Width, 360);
    EXPECT_EQ(l.text5Width, 225);
    EXPECT_EQ(l.text7Left, 78 + 225 + 5);
    EXPECT_EQ(l.text7Width, 409 - l.text7Left - 5);
    // 364 / 1.6 = 227.5 rounds to the even 228.
    EXPECT_EQ(InfoPanelLayoutFor(413, 44, 78).text5Width, 228);
}

namespace {

TFileRow Row(const std::string &name, int type, const std::string &loadName = "0")
{
    TFileRow r;
    r.Name = name;
    r.Type = type;
    r.LoadName = loadName;
    return r;
}

std::vector<std::string> Names(const std::vector<TFileRow> &rows)
{
    std::vector<std::string> out;
    for (const TFileRow &r : rows)
        out.push_back(r.Name);
    return out;
}

} // namespace

TEST(FileListOrder, FoldersFirstThenNamesFoldingOnlyAToZ)
{
    std::vector<TFileRow> rows = {Row("b.txt", 1), Row("Zeta", 0), Row("A.txt", 1), Row("alpha", 0),
                                  Row("_x", 1),    Row("\xc3\x81no", 1)};
    SortFileRows(rows, false);
    // Only a to z fold (to 0x61 ..): "_" (0x5F) stays before them and the
    // UTF-8 lead byte 0xC3 after them.
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"alpha", "Zeta", "_x", "A.txt", "b.txt", "\xc3\x81no"}));
}

TEST(FileListOrder, TracksByLoadNameAndStableForEqualNames)
{
    std::vector<TFileRow> rows = {Row("Second", 1, "Track10.cda"), Row("First", 1, "Track09.cda"),
                                  Row("Third", 1, "track11.cda")};
    SortFileRows(rows, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"First", "Second", "Third"}));

    // Names equal but for the case of a to z keep their order.
    std::vector<TFileRow> same = {Row("README", 1), Row("readme", 1), Row("ReadMe", 1)};
    same[0].Path = "1";
    same[1].Path = "2";
    same[2].Path = "3";
    SortFileRows(same, false);
    EXPECT_EQ(same[0].Path + same[1].Path + same[2].Path, "123");
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
    r.SizeText = "1.5 kb";
    r.FullName = "e:\\song.mp3";
    r.Namecd = "e: [A]";
    r.CdIdCode = "0";
    model.SetRows({r});
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.columnCount(), 15);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("song.mp3"));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("1.5 kb"));
    EXPECT_EQ(model.data(model.index(0, 5), Qt::DisplayRole).toString(), QStringLiteral("e:\\song.mp3"));
    EXPECT_EQ(model.data(model.index(0, 6), Qt::DisplayRole).toString(), QStringLiteral("1"));
    EXPECT_EQ(model.data(model.index(0, 12), Qt::DisplayRole).toString(), QStringLiteral("Track01.cda"));
    EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_EQ(model.Row(1), nullptr);
    EXPECT_EQ(model.Row(-1), nullptr);
    model.SetColumnCaption(0, QStringLiteral("Názov"));
    model.SetColumnCaption(99, QStringLiteral("x"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Názov"));
}
