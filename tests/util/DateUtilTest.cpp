#include "util/DateUtil.h"

#include <gtest/gtest.h>

#include "util/MaxMin.h"
#include "util/StrUtils.h"

namespace {

// d.M.yyyy, as a Slovak desktop shows dates.
DateLocale DayMonthYear(int thisYear = 2026)
{
    DateLocale l;
    l.Fmt.ShortDateFormat = "d/m/yyyy";
    l.Fmt.DateSeparator = '.';
    l.ThisYear = thisYear;
    return l;
}

DateLocale MonthDayYear()
{
    DateLocale l = DayMonthYear();
    l.Fmt.ShortDateFormat = "m/d/yy";
    l.Fmt.DateSeparator = '/';
    return l;
}

DateLocale YearMonthDay()
{
    DateLocale l = DayMonthYear();
    l.Fmt.ShortDateFormat = "yyyy/mm/dd";
    l.Fmt.DateSeparator = '-';
    return l;
}

TDateTime Parse(const std::string &format, const std::string &text, const DateLocale &l)
{
    return StrToDateFmtDef(format, text, -1.0, l);
}

} // namespace

TEST(DateUtil, MonthLengthsAndValidity)
{
    const int days[][3] = {{2004, 2, 29}, {2100, 2, 28}, {2000, 2, 29}, {2003, 2, 28}, {2003, 12, 31}, {2003, 0, 0}, {2003, 13, 0}};
    for (const auto &d : days)
        EXPECT_EQ(DaysPerMonth(d[0], d[1]), d[2]) << d[0] << "-" << d[1];
    const int valid[][4] = {{2000, 2, 29, 1}, {2100, 2, 29, 0}, {2004, 2, 31, 0}, {0, 1, 1, 0}, {10000, 1, 1, 0},
                            {9999, 12, 31, 1}, {2004, 4, 31, 0}, {2004, 1, 0, 0}};
    for (const auto &v : valid)
        EXPECT_EQ(ValidDate(v[0], v[1], v[2]), v[3] != 0) << v[0] << "-" << v[1] << "-" << v[2];
    EXPECT_TRUE(ValidDate(EncodeDate(2004, 3, 5)));
    EXPECT_FALSE(ValidDate(1e12));
    EXPECT_FALSE(ValidDate(-1e12));
    // The date-time range ends: 1 January 0001 and the last moment of 31 December 9999.
    const TDateTime first = EncodeDate(1, 1, 1), after9999 = EncodeDate(9999, 12, 31) + 1;
    EXPECT_TRUE(ValidDate(first));
    EXPECT_FALSE(ValidDate(first - 1e-6));
    EXPECT_TRUE(ValidDate(after9999 - 1e-6));
    EXPECT_FALSE(ValidDate(after9999));
}

TEST(DateUtil, TwoDigitYearsFallIntoTheWindow)
{
    // In 2026 the window starts at 1966.
    const int cases[][2] = {{65, 2065}, {66, 1966}, {0, 2000}, {99, 1999}, {100, 100}, {2004, 2004}};
    for (const auto &c : cases)
        EXPECT_EQ(ExpandYear(c[0], 2026), c[1]) << c[0];
    // 04 is 2004 for every current year from 1965 to 2064.
    for (int year = 1965; year <= 2064; ++year)
        EXPECT_EQ(ExpandYear(4, year), 2004) << year;
    EXPECT_EQ(ExpandYear(4, 2065), 2104);
    EXPECT_EQ(ExpandYear(4, 1964), 1904);
}

TEST(DateUtil, OrderFormatsAndMasks)
{
    const std::pair<const char *, TDateOrder> orders[] = {{"d.M.yyyy", doDMY}, {"MM/dd/yy", doMDY}, {"yyyy-MM-dd", doYMD},
                                                          {"ee/mm/dd", doYMD}, {"/-.", doDMY}, {"", doDMY}};
    for (const auto &[format, order] : orders)
        EXPECT_EQ(GetDateOrder(format), order) << format;
    const struct { DateLocale l; const char *four, *two, *mask; } locales[] = {
        {DayMonthYear(), "DD/MM/YYYY", "DD/MM/YY", "!99/99/9999;1; "},
        {MonthDayYear(), "MM/DD/YYYY", "MM/DD/YY", "!99/99/9999;1; "},
        {YearMonthDay(), "YYYY/MM/DD", "YY/MM/DD", "!9999/99/99;1; "}};
    for (const auto &c : locales) {
        EXPECT_EQ(DefDateFormat(true, c.l), c.four);
        EXPECT_EQ(DefDateFormat(false, c.l), c.two);
        EXPECT_EQ(DefDateMask(' ', true, c.l), c.mask);
    }
    EXPECT_EQ(DefDateMask('_', true, MonthDayYear()), "!99/99/9999;1;_");
    EXPECT_EQ(DefDateMask(' ', false, YearMonthDay()), "!99/99/99;1; ");
    EXPECT_TRUE(HasFourDigitYear("d.M.yyyy"));
    EXPECT_FALSE(HasFourDigitYear("M/d/yy"));
    // The display format writes the locale's separator.
    EXPECT_EQ(FormatDateTime("DD/MM/YYYY", EncodeDate(2004, 3, 5), DayMonthYear().Fmt), "05.03.2004");
}

TEST(DateUtil, ParsingAndRefusal)
{
    const DateLocale dmy = DayMonthYear(), mdy = MonthDayYear(), ymd = YearMonthDay();
    const double no = -1.0;
    const struct { const char *format, *text; const DateLocale &l; double want; } cases[] = {
        // Laid out as the format, with a short month name.
        {"DD/MM/YYYY", "05.03.2004", dmy, EncodeDate(2004, 3, 5)}, {"DD/MM/YYYY", " 5. 3.2004", dmy, EncodeDate(2004, 3, 5)},
        {"DD/MM/YY", "05.03.66", dmy, EncodeDate(1966, 3, 5)}, {"MM/DD/YYYY", "12/31/1999", mdy, EncodeDate(1999, 12, 31)},
        {"YYYY/MM/DD", "2004-02-29", ymd, EncodeDate(2004, 2, 29)}, {"DD/MMM/YYYY", "05.mar.2004", dmy, EncodeDate(2004, 3, 5)},
        {"DD/MMM/YYYY", "05.xyz.2004", dmy, no},
        // Free text in the locale's order; a trailing separator promises a year.
        {"DD/MM/YYYY", "5.3.04", dmy, EncodeDate(2004, 3, 5)}, {"DD/MM/YYYY", "5.3", dmy, EncodeDate(2026, 3, 5)},
        {"DD/MM/YYYY", "5.3.", dmy, no}, {"DD/MM/YYYY", " 5 . 3 . 2004 ", dmy, EncodeDate(2004, 3, 5)},
        {"MM/DD/YYYY", "3/5", mdy, EncodeDate(2026, 3, 5)}, {"YYYY/MM/DD", "04-3-5", ymd, EncodeDate(2004, 3, 5)},
        // Impossible days never become a day of the next month.
        {"DD/MM/YYYY", "31.02.2004", dmy, no}, {"DD/MM/YYYY", "31.2.2004", dmy, no}, {"DD/MM/YYYY", "29.2.2100", dmy, no},
        {"DD/MM/YYYY", "29.2.2000", dmy, EncodeDate(2000, 2, 29)}, {"DD/MM/YYYY", "00.01.2004", dmy, no},
        {"DD/MM/YYYY", "01.13.2004", dmy, no}, {"DD/MM/YYYY", "32.01.2004", dmy, no},
        // Trailing text, too many digits, letters, an empty text.
        {"DD/MM/YYYY", "5.3.2004x", dmy, no}, {"DD/MM/YYYY", "5.3.20045", dmy, no},
        {"DD/MM/YYYY", "99999999999.3.2004", dmy, no}, {"DD/MM/YYYY", "a.b.c", dmy, no}, {"DD/MM/YYYY", "", dmy, no},
        {"DD/MM/YYYY", "  .  .    ", dmy, no}, {"DD/MM/YYYY", "05.03.2004 and more text", dmy, no}};
    for (const auto &c : cases)
        EXPECT_EQ(Parse(c.format, c.text, c.l), c.want) << c.format << " '" << c.text << "'";
    for (int year : {1965, 2000, 2064})
        EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.04", DayMonthYear(year)), EncodeDate(2004, 3, 5)) << year;
    // The default loses its time of day.
    EXPECT_EQ(StrToDateFmtDef("DD/MM/YYYY", "x", 100.75, dmy), 100.0);
    // The strict form names the text.
    EXPECT_EQ(StrToDateFmt("DD/MM/YYYY", "", dmy), NullDate);
    EXPECT_EQ(StrToDateFmt("DD/MM/YYYY", "05.03.2004", dmy), EncodeDate(2004, 3, 5));
    try {
        StrToDateFmt("DD/MM/YYYY", "31.02.2004", dmy);
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_STREQ(e.what(), "'31.02.2004' is not a valid date");
    }
}

TEST(DateUtil, FarEastTrailingTextIsSkipped)
{
    DateLocale l = YearMonthDay();
    l.FarEast = true;
    l.Fmt.ShortDateFormat = "yyyy/mm/dd ddd";
    l.Fmt.ShortTimeFormat = "AMPM h:nn";
    l.Fmt.TimeAMString = "AM";
    // Words after the date are skipped up to a time designator, which is not part of a date.
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri AM", l), -1.0);
    l.Fmt.ShortTimeFormat = "h:nn";
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), EncodeDate(2004, 3, 5));
    l.FarEast = false;
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), -1.0);
}

TEST(DateUtil, MonthNamesAndSmallRoutines)
{
    const DateLocale l = DayMonthYear();
    EXPECT_EQ(MonthFromName("MAR", 3, l), 3);
    EXPECT_EQ(MonthFromName("de", 2, l), 12);
    EXPECT_EQ(MonthFromName("xx", 2, l), 0);
    EXPECT_EQ(MonthFromName("", 3, l), 0);
    EXPECT_EQ(Min(-1, 0), -1);
    EXPECT_EQ(Max(-1, 0), 0);
    EXPECT_EQ(Max(INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(MakeStr('x', 0), "");
    EXPECT_EQ(MakeStr('x', -5), "");
    EXPECT_EQ(MakeStr('x', 3), "xxx");
    EXPECT_TRUE(IsEmptyStr("  ..  .", " ."));
    EXPECT_TRUE(IsEmptyStr("", " ."));
    EXPECT_FALSE(IsEmptyStr(" 1.", " ."));
    // A replacement holding the search text does not loop.
    const char *replace[][4] = {{"aXbX", "X", "XX", "aXXbXX"}, {"aaaa", "aa", "b", "bb"}, {"aaa", "aa", "b", "ba"},
                                {"abc", "", "x", "abc"}, {"abc", "z", "x", "abc"}};
    for (const auto &r : replace)
        EXPECT_EQ(ReplaceStr(r[0], r[1], r[2]), r[3]) << r[0];
}
