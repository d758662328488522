// The search's text tests, date and number conversions and the date and size
// bounds, on their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/search/SearchCriteria.h"
#include "util/TextCodec.h"

namespace {

FormatSettings Settings(const std::string &shortDate, char separator, const std::string &longTime = "hh:nn:ss")
{
    FormatSettings fs;
    fs.ShortDateFormat = shortDate, fs.DateSeparator = separator, fs.LongTimeFormat = longTime;
    return fs;
}

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0) { return EncodeDate(y, m, d) + EncodeTime(h, n, s, 0); }

TDateTime Parse(const std::string &text, const FormatSettings &fs, int year = 2026)
{
    TDateTime v = -1;
    return ParseDateTimeText(text, fs, year, v) ? v : -1;
}

} // namespace

TEST(SearchText, StarsAreTrimmedOnceAtEachEndAndEmptyTextsMatchNothing)
{
    for (const auto &[in, out] : std::vector<std::pair<const char *, const char *>>{
             {"*report*", "report"}, {"*", ""}, {"**", ""}, {"***", "*"}, {"a*b", "a*b"}, {"*a*b*", "a*b"},
             {"report*", "report"}})
        EXPECT_EQ(TrimMaskText(in), out) << in;
    const TLocaleUpper upper(QLocale::c());
    // A star inside is matched as itself.
    const TTextMatch m("a*b", upper);
    EXPECT_TRUE(m.Exact("xa*by"));
    EXPECT_FALSE(m.Exact("axxb"));
    const TTextMatch none("", upper), word("x", upper);
    EXPECT_FALSE(none.Exact("anything") || none.Folded("anything") || word.Exact("") || word.Folded(""));
}

TEST(SearchText, CaseOptionWithSlovakAndCzechLettersKeepsWholeCharacters)
{
    const TLocaleUpper upper(QLocale(QLocale::Slovak, QLocale::Slovakia));
    const TTextMatch mixed("Čučoriedky", upper);
    EXPECT_TRUE(mixed.Folded("Ďateľ ľúbi ČUČORIEDKY.txt"));
    EXPECT_FALSE(mixed.Exact("Ďateľ ľúbi ČUČORIEDKY.txt"));
    EXPECT_TRUE(mixed.Exact("Čučoriedky.txt"));
    const TTextMatch czech("žluťoučký kůň", TLocaleUpper(QLocale(QLocale::Czech, QLocale::CzechRepublic)));
    EXPECT_TRUE(czech.Folded("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ"));
    EXPECT_FALSE(czech.Folded("zlutoucky kun")); // letters are not stripped of their marks
    // A Windows-1250 name ("Žluť" as 8E 6C 75 9D) is read as such, never byte by byte.
    const std::string cp1250("\x8E\x6C\x75\x9D.txt");
    EXPECT_EQ(upper(cp1250), "ŽLUŤ.TXT");
    EXPECT_TRUE(TTextMatch("žluť", upper).Folded(cp1250));
    EXPECT_TRUE(TTextMatch("Žluť", upper).Exact(cp1250));
    // A letter whose capital is longer stays whole; so does every other one.
    const std::string up = upper("straße ľ 日本 ÿ");
    EXPECT_TRUE(IsValidUtf8(up));
    EXPECT_NE(up.find("Ľ"), std::string::npos);
    EXPECT_NE(up.find("日本"), std::string::npos);
}

TEST(SearchDates, TextsOfTheLocaleFormatsParse)
{
    const FormatSettings sk = Settings("dd/mm/yyyy", '.'), us = Settings("mm/dd/yyyy", '/', "hh:nn:ss ampm"),
                         iso = Settings("yyyy/mm/dd", '-'), sk2 = Settings("dd/mm/yy", '.');
    const std::vector<std::tuple<const char *, const FormatSettings *, TDateTime>> cases = {
        {"01.03.2026", &sk, At(2026, 3, 1)}, {"1.3.2026 9:05", &sk, At(2026, 3, 1, 9, 5)},
        {"31.03.2026 14:00:01", &sk, At(2026, 3, 31, 14, 0, 1)}, {"03/01/2026 02:30:00 PM", &us, At(2026, 3, 1, 14, 30)},
        {"03/01/2026 12:00:00 AM", &us, At(2026, 3, 1)}, {"2026-03-01", &iso, At(2026, 3, 1)},
        // In 2026 the hundred years of two-digit years begin at 1966.
        {"01.01.65", &sk2, At(2065, 1, 1)}, {"01.01.66", &sk2, At(1966, 1, 1)}, {"5.6.", &sk2, At(2026, 6, 5)}};
    for (const auto &[text, fs, value] : cases)
        EXPECT_EQ(Parse(text, *fs), value) << text;
    // What the program writes reads back, in each format.
    for (const FormatSettings &fs : {sk, us, iso, sk2, Settings("mm/dd/yy", '/')}) {
        const TDateTime t = At(2024, 12, 5, 7, 8, 9);
        EXPECT_EQ(Parse(FormatDateTime("c", t, fs), fs), t) << fs.ShortDateFormat;
        EXPECT_EQ(Parse(FormatDateTime("ddddd  t", t, fs), fs), At(2024, 12, 5, 7, 8)) << fs.ShortDateFormat;
    }
    for (const char *bad : {"", "  ", "abc", "31.02.2026", "12.13.2026", "12", "12.05.2026 25:00", "12.05.2026 10:61",
                            "12.05.2026 x", "12.05.2026 10", "12.05.20261", "0.05.2026", "1.1.2026 13:00 PM"})
        EXPECT_EQ(Parse(bad, sk), -1) << bad;
}

// A stored date is read in the order its text was written in: dotted dates (catalogues written on
// Windows) are day.month.year whatever the program's own order; a year written first with all its
// digits comes first; other texts are in the order the program writes.
TEST(SearchDates, StoredDatesAreReadInTheOrderTheirTextWasWritten)
{
    const FormatSettings us = Settings("mm/dd/yyyy", '/'), gb = Settings("dd/mm/yyyy", '/'),
                         sk = Settings("dd/mm/yyyy", '.');
    auto stored = [](const std::string &text, const FormatSettings &fs) {
        TDateTime v = -1;
        return ParseStoredDateTime(text, fs, 2026, v) ? v : -1;
    };
    for (const FormatSettings *fs : {&us, &gb, &sk}) {
        SCOPED_TRACE(fs->ShortDateFormat + fs->DateSeparator);
        EXPECT_EQ(stored("13.05.1999", *fs), At(1999, 5, 13));
        EXPECT_EQ(stored("03.02.2001 14:05:06", *fs), At(2001, 2, 3, 14, 5, 6));
        EXPECT_EQ(stored(" 3 . 2 . 2001", *fs), At(2001, 2, 3));
        EXPECT_EQ(stored("1999-05-13 08:00", *fs), At(1999, 5, 13, 8, 0));
        EXPECT_EQ(stored("1999.05.13", *fs), At(1999, 5, 13));
        for (const char *bad : {"31.02.1999", "05.13.1999", "", "x.05.1999", "13.05.1999 x"})
            EXPECT_EQ(stored(bad, *fs), -1) << bad;
        // What the program writes reads back.
        const TDateTime t = At(2024, 12, 5, 7, 8, 9);
        EXPECT_EQ(stored(FormatDateTime("c", t, *fs), *fs), t);
    }
    EXPECT_EQ(stored("02/03/2001", us), At(2001, 2, 3));
    EXPECT_EQ(stored("02/03/2001", gb), At(2001, 3, 2));
    EXPECT_EQ(stored("13/05/1999", us), -1);
    // A range typed in the program's order finds the Windows dates within it, and only them.
    TSearchCriteria c;
    const FormatSettings &program = DefaultFormatSettings();
    c.SetDate(4, At(2026, 1, 1), FormatDateTime("ddddd", At(1999, 1, 1), program),
              FormatDateTime("ddddd", At(1999, 2, 15), program), 0);
    for (const auto &[text, inside] : std::vector<std::pair<const char *, bool>>{
             {"13.01.1999", true}, {"03.02.1999", true}, {"12.01.1999 23:59:59", true}, {"02.03.1999", false},
             {"16.02.1999", false}, {"13.01.2000", false}, {"01/13/1999", true}, {"03/02/1999", false}})
        EXPECT_EQ(c.DateWithin(text, us, 2026), inside) << text;
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
        ADD_FAILURE();
    } catch (const ESearchConvertError &e) {
        EXPECT_STREQ(e.what(), "'ten' is not a valid integer value");
    }
}

TEST(SearchBounds, DateRangesAreOpenAtBothEnds)
{
    const FormatSettings sk = Settings("dd/mm/yyyy", '.');
    TSearchCriteria c;
    const TDateTime now = At(2026, 3, 20, 14, 0, 0);
    // Per preset: the first instant inside and the last outside; never later than now.
    const std::vector<std::tuple<int, const char *, const char *>> presets = {
        {1, "13.03.2026 14:00:01", "13.03.2026 14:00:00"}, {2, "17.02.2026 14:00:01", "17.02.2026 14:00:00"},
        {3, "20.03.2025 14:00:01", "20.03.2025 13:59:59"}};
    for (const auto &[choice, in, out] : presets) {
        c.SetDate(choice, now, "", "", 0);
        EXPECT_EQ(c.DateField(), "CreateDate");
        EXPECT_TRUE(c.DateWithin(in, sk, 2026)) << choice;
        EXPECT_FALSE(c.DateWithin(out, sk, 2026)) << choice;
        for (const char *never : {"20.03.2026 14:00:01", "not a date", ""})
            EXPECT_FALSE(c.DateWithin(never, sk, 2026)) << choice << never;
    }
    // The entered range is read in the program's own format and takes the time of day.
    const FormatSettings &fs = DefaultFormatSettings();
    const TDateTime later = At(2026, 4, 10, 10, 0, 0);
    c.SetDate(4, later, FormatDateTime("ddddd", At(2026, 3, 1), fs), FormatDateTime("ddddd", At(2026, 3, 31), fs), 1);
    EXPECT_EQ(c.DateField(), "LastChange");
    EXPECT_FALSE(c.DateWithin(FormatDateTime("c", At(2026, 3, 1, 9, 0), fs), fs, 2026));
    EXPECT_TRUE(c.DateWithin(FormatDateTime("c", At(2026, 3, 31, 9, 0), fs), fs, 2026));
    EXPECT_FALSE(c.DateWithin(FormatDateTime("c", At(2026, 3, 31, 10, 0, 1), fs), fs, 2026));
    // A box that holds no date raises and leaves the bounds as they were.
    const TDateTime lower = c.DateLower;
    EXPECT_THROW(c.SetDate(4, later, "1.1.", "garbage", 0), ESearchConvertError);
    EXPECT_EQ(c.DateLower, lower);
    EXPECT_EQ(c.DateField(), "LastChange");
}

TEST(SearchBounds, SizeRangesAndTheirEdges)
{
    struct Case {
        int choice;
        const char *kb;
        int direction;
        std::vector<std::pair<const char *, bool>> sizes;
    };
    const Case cases[] = {
        {1, "", 0, {{"99999", true}, {"100000", false}, {"0", false}, {"4294967396", false}}},
        {2, "", 0, {{"1023999", true}, {"1024000", false}}},
        {3, "", 0, {{"1024000", false}, {"1024001", true}, {"900000000", true}, {"3221225472", true}}},
        {4, "100", 1, {{"102399", true}, {"102400", false}}},
        {4, "100", 0, {{"102400", false}, {"102401", true}}},
        // Sizes beyond 32 bits compare as they are; "more" has no upper bound.
        {4, "0", 0, {{"3221225472", true}, {"9223372036854775807", true}, {"99999999999999999999", false},
                     {"12 kb", false}}},
        // An entered size beyond 32 bits in bytes is taken whole.
        {4, "3000000", 1, {{"2147000000", true}, {"3071999999", true}, {"3221225472", false}}}};
    TSearchCriteria c;
    for (const Case &k : cases) {
        c.SetSize(k.choice, k.kb, k.direction);
        for (const auto &[size, within] : k.sizes)
            EXPECT_EQ(c.SizeWithin(size), within) << k.choice << " " << k.kb << " " << size;
    }
    EXPECT_EQ(c.SizeUpper, 3000000LL * 1024);
    c.SetSize(4, "-3000000", 0);
    EXPECT_EQ(c.SizeLower, -3000000LL * 1024);
    // Another direction leaves the bounds as they were.
    c.SetSize(4, "100", 0);
    c.SetSize(4, "5", 7);
    EXPECT_EQ(c.SizeLower, 102400);
    EXPECT_THROW(c.SetSize(4, "lots", 0), ESearchConvertError);
}

// Plain ASCII names are searched without the upper-cased copy; the answer is the
// copy's, for needles at either end, overlapping starts, other characters and a
// needle whose capital is longer than itself.
TEST(SearchText, AsciiNamesFoldAsTheirUpperCasedCopies)
{
    const TLocaleUpper upper(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::vector<std::string> needles = {"report", "REP", "t", "aab", "a_b-1", "ß", "x.TXT", "Report 2"};
    const std::vector<std::string> fields = {"Quarterly Report 12.txt", "report", "REPOR", "aaab", "AaAb", "ab",
                                             "A_B-1", "a_b_1", "STRASSE", "strasse", "x.txt", "t", "~`{[|]}",
                                             "Quarterly Report 2", "Quarterly Report 3"};
    for (const std::string &n : needles) {
        const TTextMatch m(n, upper);
        for (const std::string &f : fields)
            EXPECT_EQ(m.Folded(f), upper(f).find(upper(n)) != std::string::npos) << n << " in " << f;
    }
    // A locale that upper-cases "i" outside ASCII still takes its own way.
    const TLocaleUpper turkish(QLocale(QLocale::Turkish, QLocale::Turkey));
    EXPECT_EQ(TTextMatch("FILE", turkish).Folded("file"), turkish("file").find(turkish("FILE")) != std::string::npos);
}
