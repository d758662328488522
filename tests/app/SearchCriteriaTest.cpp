// The search's text tests, date and number conversions and the date and size
// bounds, on their own.
#include <gtest/gtest.h>

#include "app/SearchCriteria.h"
#include "util/TextCodec.h"

namespace {

FormatSettings Settings(const std::string &shortDate, char separator, const std::string &longTime = "hh:nn:ss")
{
    FormatSettings fs;
    fs.ShortDateFormat = shortDate;
    fs.DateSeparator = separator;
    fs.LongTimeFormat = longTime;
    return fs;
}

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0)
{
    return EncodeDate(y, m, d) + EncodeTime(h, n, s, 0);
}

TDateTime Parse(const std::string &text, const FormatSettings &fs, int year = 2026)
{
    TDateTime v = -1;
    if (!ParseDateTimeText(text, fs, year, v))
        return -1;
    return v;
}

} // namespace

TEST(SearchText, StarsAreTrimmedOnceAtEachEnd)
{
    EXPECT_EQ(TrimMaskText("*report*"), "report");
    EXPECT_EQ(TrimMaskText("*"), "");
    EXPECT_EQ(TrimMaskText("**"), "");
    EXPECT_EQ(TrimMaskText("***"), "*");
    EXPECT_EQ(TrimMaskText("a*b"), "a*b");
    EXPECT_EQ(TrimMaskText("*a*b*"), "a*b");
    EXPECT_EQ(TrimMaskText("report*"), "report");
    // A star inside is matched as itself.
    const TTextMatch m("a*b", TLocaleUpper(QLocale::c()));
    EXPECT_TRUE(m.Exact("xa*by"));
    EXPECT_FALSE(m.Exact("axxb"));
}

TEST(SearchText, EmptyTextsMatchNothing)
{
    const TLocaleUpper upper(QLocale::c());
    const TTextMatch none("", upper);
    EXPECT_FALSE(none.Exact("anything"));
    EXPECT_FALSE(none.Folded("anything"));
    const TTextMatch word("x", upper);
    EXPECT_FALSE(word.Exact(""));
    EXPECT_FALSE(word.Folded(""));
}

TEST(SearchText, CaseOptionWithSlovakAndCzechLetters)
{
    const TLocaleUpper upper(QLocale(QLocale::Slovak, QLocale::Slovakia));
    const TTextMatch mixed("Čučoriedky", upper);
    EXPECT_TRUE(mixed.Folded("Ďateľ ľúbi ČUČORIEDKY.txt"));
    EXPECT_FALSE(mixed.Exact("Ďateľ ľúbi ČUČORIEDKY.txt"));
    EXPECT_TRUE(mixed.Exact("Čučoriedky.txt"));
    const TTextMatch czech("žluťoučký kůň", TLocaleUpper(QLocale(QLocale::Czech, QLocale::CzechRepublic)));
    EXPECT_TRUE(czech.Folded("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ"));
    EXPECT_FALSE(czech.Folded("zlutoucky kun")); // letters are not stripped of their marks
}

TEST(SearchText, UpperCasingKeepsWholeCharacters)
{
    const TLocaleUpper upper(QLocale(QLocale::Slovak, QLocale::Slovakia));
    // A Windows-1250 name ("Žluť" as 8E 6C 75 9D) is read as such, never byte by byte.
    const std::string cp1250("\x8E\x6C\x75\x9D.txt");
    const std::string up = upper(cp1250);
    EXPECT_TRUE(IsValidUtf8(up));
    EXPECT_EQ(up, "ŽLUŤ.TXT");
    EXPECT_TRUE(TTextMatch("žluť", upper).Folded(cp1250));
    EXPECT_TRUE(TTextMatch("Žluť", upper).Exact(cp1250));
    // A letter whose capital is longer stays whole; so does every other one.
    const std::string mixed = upper("straße ľ 日本 ÿ");
    EXPECT_TRUE(IsValidUtf8(mixed));
    EXPECT_NE(mixed.find("Ľ"), std::string::npos);
    EXPECT_NE(mixed.find("日本"), std::string::npos);
}

TEST(SearchDates, TextsOfTheLocaleFormatsParse)
{
    const FormatSettings sk = Settings("dd/mm/yyyy", '.');
    EXPECT_EQ(Parse("01.03.2026", sk), At(2026, 3, 1));
    EXPECT_EQ(Parse("1.3.2026 9:05", sk), At(2026, 3, 1, 9, 5));
    EXPECT_EQ(Parse("31.03.2026 14:00:01", sk), At(2026, 3, 31, 14, 0, 1));
    const FormatSettings us = Settings("mm/dd/yyyy", '/', "hh:nn:ss ampm");
    EXPECT_EQ(Parse("03/01/2026 02:30:00 PM", us), At(2026, 3, 1, 14, 30));
    EXPECT_EQ(Parse("03/01/2026 12:00:00 AM", us), At(2026, 3, 1));
    const FormatSettings iso = Settings("yyyy/mm/dd", '-');
    EXPECT_EQ(Parse("2026-03-01", iso), At(2026, 3, 1));
    // What the program writes reads back, in each format.
    for (const FormatSettings &fs : {sk, us, iso, Settings("dd/mm/yy", '.'), Settings("mm/dd/yy", '/')}) {
        const TDateTime t = At(2024, 12, 5, 7, 8, 9);
        EXPECT_EQ(Parse(FormatDateTime("c", t, fs), fs), t) << fs.ShortDateFormat;
        EXPECT_EQ(Parse(FormatDateTime("ddddd  t", t, fs), fs), At(2024, 12, 5, 7, 8)) << fs.ShortDateFormat;
    }
}

TEST(SearchDates, TwoDigitAndMissingYears)
{
    const FormatSettings sk = Settings("dd/mm/yy", '.');
    // In 2026 the hundred years begin at 1966.
    EXPECT_EQ(Parse("01.01.65", sk, 2026), At(2065, 1, 1));
    EXPECT_EQ(Parse("01.01.66", sk, 2026), At(1966, 1, 1));
    EXPECT_EQ(Parse("5.6.", sk, 2026), At(2026, 6, 5));
}

TEST(SearchDates, TextsThatAreNoDates)
{
    const FormatSettings sk = Settings("dd/mm/yyyy", '.');
    for (const char *bad : {"", "  ", "abc", "31.02.2026", "12.13.2026", "12", "12.05.2026 25:00", "12.05.2026 10:61",
                            "12.05.2026 x", "12.05.2026 10", "12.05.20261", "0.05.2026", "1.1.2026 13:00 PM"})
        EXPECT_EQ(Parse(bad, sk), -1) << bad;
}

TEST(SearchNumbers, WholeNumbersConvertOrRaise)
{
    EXPECT_EQ(StrToIntText(" 12 "), 12);
    EXPECT_EQ(StrToIntText("-5"), -5);
    EXPECT_EQ(StrToIntText("2147483647"), 2147483647);
    for (const char *bad : {"", "x", "1.5", "2147483648", "12 kb"})
        EXPECT_THROW(StrToIntText(bad), ESearchConvertError) << bad;
    try {
        StrToIntText("ten");
    } catch (const ESearchConvertError &e) {
        EXPECT_STREQ(e.what(), "'ten' is not a valid integer value");
    }
}

TEST(SearchBounds, PresetDateRangesAreOpenAtBothEnds)
{
    const FormatSettings sk = Settings("dd/mm/yyyy", '.');
    TSearchCriteria c;
    const TDateTime now = At(2026, 3, 20, 14, 0, 0);
    c.SetDate(1, now, "", "", 0);
    EXPECT_EQ(c.DateField(), "CreateDate");
    EXPECT_TRUE(c.DateWithin("13.03.2026 14:00:01", sk, 2026));
    EXPECT_FALSE(c.DateWithin("13.03.2026 14:00:00", sk, 2026));
    EXPECT_FALSE(c.DateWithin("20.03.2026 14:00:01", sk, 2026)); // later than now
    EXPECT_FALSE(c.DateWithin("not a date", sk, 2026));
    EXPECT_FALSE(c.DateWithin("", sk, 2026));
    c.SetDate(2, now, "", "", 0);
    EXPECT_TRUE(c.DateWithin("17.02.2026 14:00:01", sk, 2026));
    EXPECT_FALSE(c.DateWithin("17.02.2026 14:00:00", sk, 2026));
    c.SetDate(3, now, "", "", 0);
    EXPECT_TRUE(c.DateWithin("20.03.2025 14:00:01", sk, 2026));
    EXPECT_FALSE(c.DateWithin("20.03.2025 13:59:59", sk, 2026));
}

TEST(SearchBounds, EnteredDateRangeTakesTheTimeOfDay)
{
    // The boxes' texts are read in the program's own format.
    const FormatSettings &fs = DefaultFormatSettings();
    TSearchCriteria c;
    const TDateTime now = At(2026, 4, 10, 10, 0, 0);
    c.SetDate(4, now, FormatDateTime("ddddd", At(2026, 3, 1), fs), FormatDateTime("ddddd", At(2026, 3, 31), fs), 1);
    EXPECT_EQ(c.DateField(), "LastChange");
    EXPECT_FALSE(c.DateWithin(FormatDateTime("c", At(2026, 3, 1, 9, 0), fs), fs, 2026));
    EXPECT_TRUE(c.DateWithin(FormatDateTime("c", At(2026, 3, 31, 9, 0), fs), fs, 2026));
    EXPECT_FALSE(c.DateWithin(FormatDateTime("c", At(2026, 3, 31, 10, 0, 1), fs), fs, 2026));
    // A box that holds no date raises and leaves the bounds as they were.
    const TDateTime lower = c.DateLower;
    EXPECT_THROW(c.SetDate(4, now, "1.1.", "garbage", 0), ESearchConvertError);
    EXPECT_EQ(c.DateLower, lower);
    EXPECT_EQ(c.DateField(), "LastChange");
}

TEST(SearchBounds, SizeRangesAndTheirEdges)
{
    TSearchCriteria c;
    c.SetSize(1, "", 0);
    EXPECT_TRUE(c.SizeWithin("99999"));
    EXPECT_FALSE(c.SizeWithin("100000"));
    EXPECT_FALSE(c.SizeWithin("0"));
    c.SetSize(2, "", 0);
    EXPECT_TRUE(c.SizeWithin("1023999"));
    EXPECT_FALSE(c.SizeWithin("1024000"));
    c.SetSize(3, "", 0);
    EXPECT_FALSE(c.SizeWithin("1024000"));
    EXPECT_TRUE(c.SizeWithin("1024001"));
    EXPECT_FALSE(c.SizeWithin("900000000"));
    c.SetSize(4, "100", 1);
    EXPECT_TRUE(c.SizeWithin("102399"));
    EXPECT_FALSE(c.SizeWithin("102400"));
    c.SetSize(4, "100", 0);
    EXPECT_FALSE(c.SizeWithin("102400"));
    EXPECT_TRUE(c.SizeWithin("102401"));
    // Another direction leaves the bounds as they were.
    c.SetSize(4, "5", 7);
    EXPECT_EQ(c.SizeLower, 102400);
    EXPECT_THROW(c.SetSize(4, "lots", 0), ESearchConvertError);
}

TEST(SearchBounds, SizesBeyond32BitsCompareAsTheyAre)
{
    TSearchCriteria c;
    // 4 GiB + 100 bytes is no small file, whatever its lowest 32 bits say.
    c.SetSize(1, "", 0);
    EXPECT_FALSE(c.SizeWithin("4294967396"));
    c.SetSize(4, "0", 0);
    EXPECT_FALSE(c.SizeWithin("3221225472")); // the upper bound stays 900000000
    EXPECT_FALSE(c.SizeWithin("99999999999999999999"));
    EXPECT_FALSE(c.SizeWithin("12 kb"));
    // An entered size too large for 32 bits is held at the largest that fits.
    c.SetSize(4, "3000000", 1);
    EXPECT_EQ(c.SizeUpper, 2097151 * 1024);
    EXPECT_TRUE(c.SizeWithin("2147000000"));
    EXPECT_FALSE(c.SizeWithin("3221225472"));
    c.SetSize(4, "-3000000", 0);
    EXPECT_EQ(c.SizeLower, -2097152 * 1024);
}
