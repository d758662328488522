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
    DateLocale l;
    l.Fmt.ShortDateFormat = "m/d/yy";
    l.Fmt.DateSeparator = '/';
    l.ThisYear = 2026;
    return l;
}

DateLocale YearMonthDay()
{
    DateLocale l;
    l.Fmt.ShortDateFormat = "yyyy/mm/dd";
    l.Fmt.DateSeparator = '-';
    l.ThisYear = 2026;
    return l;
}

TDateTime Parse(const std::string &format, const std::string &text, const DateLocale &l)
{
    return StrToDateFmtDef(format, text, -1.0, l);
}

} // namespace

TEST(DateUtil, MonthLengthsAndValidity)
{
    EXPECT_EQ(DaysPerMonth(2004, 2), 29);
    EXPECT_EQ(DaysPerMonth(2100, 2), 28);
    EXPECT_EQ(DaysPerMonth(2000, 2), 29);
    EXPECT_EQ(DaysPerMonth(2003, 2), 28);
    EXPECT_EQ(DaysPerMonth(2003, 12), 31);
    EXPECT_EQ(DaysPerMonth(2003, 0), 0);
    EXPECT_EQ(DaysPerMonth(2003, 13), 0);
    EXPECT_TRUE(ValidDate(2000, 2, 29));
    EXPECT_FALSE(ValidDate(2100, 2, 29));
    EXPECT_FALSE(ValidDate(2004, 2, 31));
    EXPECT_FALSE(ValidDate(0, 1, 1));
    EXPECT_FALSE(ValidDate(10000, 1, 1));
    EXPECT_TRUE(ValidDate(9999, 12, 31));
    EXPECT_FALSE(ValidDate(2004, 4, 31));
    EXPECT_FALSE(ValidDate(2004, 1, 0));
    EXPECT_TRUE(ValidDate(EncodeDate(2004, 3, 5)));
    EXPECT_FALSE(ValidDate(1e12));
    EXPECT_FALSE(ValidDate(-1e12));
}

TEST(DateUtil, TwoDigitYearsFallIntoTheWindow)
{
    // In 2026 the window starts at 1966.
    EXPECT_EQ(ExpandYear(65, 2026), 2065);
    EXPECT_EQ(ExpandYear(66, 2026), 1966);
    EXPECT_EQ(ExpandYear(0, 2026), 2000);
    EXPECT_EQ(ExpandYear(99, 2026), 1999);
    EXPECT_EQ(ExpandYear(100, 2026), 100);
    EXPECT_EQ(ExpandYear(2004, 2026), 2004);
    // 04 is 2004 for every current year from 1965 to 2064.
    for (int year = 1965; year <= 2064; ++year)
        EXPECT_EQ(ExpandYear(4, year), 2004) << year;
    EXPECT_EQ(ExpandYear(4, 2065), 2104);
    EXPECT_EQ(ExpandYear(4, 1964), 1904);
}

TEST(DateUtil, DateOrderFromTheFirstLetter)
{
    EXPECT_EQ(GetDateOrder("d.M.yyyy"), doDMY);
    EXPECT_EQ(GetDateOrder("MM/dd/yy"), doMDY);
    EXPECT_EQ(GetDateOrder("yyyy-MM-dd"), doYMD);
    EXPECT_EQ(GetDateOrder("ee/mm/dd"), doYMD);
    EXPECT_EQ(GetDateOrder("/-."), doDMY);
    EXPECT_EQ(GetDateOrder(""), doDMY);
}

TEST(DateUtil, FormatsAndMasksFollowTheOrder)
{
    EXPECT_EQ(DefDateFormat(true, DayMonthYear()), "DD/MM/YYYY");
    EXPECT_EQ(DefDateFormat(false, DayMonthYear()), "DD/MM/YY");
    EXPECT_EQ(DefDateFormat(true, MonthDayYear()), "MM/DD/YYYY");
    EXPECT_EQ(DefDateFormat(false, MonthDayYear()), "MM/DD/YY");
    EXPECT_EQ(DefDateFormat(true, YearMonthDay()), "YYYY/MM/DD");
    EXPECT_EQ(DefDateFormat(false, YearMonthDay()), "YY/MM/DD");
    EXPECT_EQ(DefDateMask(' ', true, DayMonthYear()), "!99/99/9999;1; ");
    EXPECT_EQ(DefDateMask('_', true, MonthDayYear()), "!99/99/9999;1;_");
    EXPECT_EQ(DefDateMask(' ', true, YearMonthDay()), "!9999/99/99;1; ");
    EXPECT_EQ(DefDateMask(' ', false, YearMonthDay()), "!99/99/99;1; ");
    EXPECT_TRUE(HasFourDigitYear("d.M.yyyy"));
    EXPECT_FALSE(HasFourDigitYear("M/d/yy"));
    // The display format writes the locale's separator.
    EXPECT_EQ(FormatDateTime("DD/MM/YYYY", EncodeDate(2004, 3, 5), DayMonthYear().Fmt), "05.03.2004");
}

TEST(DateUtil, ParsesTextLaidOutAsTheFormat)
{
    const DateLocale l = DayMonthYear();
    EXPECT_EQ(Parse("DD/MM/YYYY", "05.03.2004", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("DD/MM/YYYY", " 5. 3.2004", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("DD/MM/YY", "05.03.66", l), EncodeDate(1966, 3, 5));
    EXPECT_EQ(Parse("MM/DD/YYYY", "12/31/1999", MonthDayYear()), EncodeDate(1999, 12, 31));
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-02-29", YearMonthDay()), EncodeDate(2004, 2, 29));
    // A short month name in the format.
    EXPECT_EQ(Parse("DD/MMM/YYYY", "05.mar.2004", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("DD/MMM/YYYY", "05.xyz.2004", l), -1.0);
}

TEST(DateUtil, FreeParseInTheLocaleOrder)
{
    const DateLocale l = DayMonthYear();
    EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.04", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("DD/MM/YYYY", "5.3", l), EncodeDate(2026, 3, 5));
    EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.", l), -1.0); // a separator promises a year
    EXPECT_EQ(Parse("DD/MM/YYYY", " 5 . 3 . 2004 ", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("MM/DD/YYYY", "3/5", MonthDayYear()), EncodeDate(2026, 3, 5));
    EXPECT_EQ(Parse("YYYY/MM/DD", "04-3-5", YearMonthDay()), EncodeDate(2004, 3, 5));
    for (int year : {1965, 2000, 2064}) {
        const DateLocale y = DayMonthYear(year);
        EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.04", y), EncodeDate(2004, 3, 5)) << year;
    }
}

TEST(DateUtil, InvalidDatesAreRefusedNeverRolledOver)
{
    const DateLocale l = DayMonthYear();
    // Impossible days never become a day of the next month.
    EXPECT_EQ(Parse("DD/MM/YYYY", "31.02.2004", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "31.2.2004", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "29.2.2100", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "29.2.2000", l), EncodeDate(2000, 2, 29));
    EXPECT_EQ(Parse("DD/MM/YYYY", "00.01.2004", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "01.13.2004", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "32.01.2004", l), -1.0);
    // Trailing text, too many digits, letters, an empty text.
    EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.2004x", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "5.3.20045", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "99999999999.3.2004", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "a.b.c", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "  .  .    ", l), -1.0);
    EXPECT_EQ(Parse("DD/MM/YYYY", "05.03.2004 and more text", l), -1.0);
    // The default loses its time of day.
    EXPECT_EQ(StrToDateFmtDef("DD/MM/YYYY", "x", 100.75, l), 100.0);
}

TEST(DateUtil, StrictConversionNamesTheText)
{
    const DateLocale l = DayMonthYear();
    EXPECT_EQ(StrToDateFmt("DD/MM/YYYY", "", l), NullDate);
    EXPECT_EQ(StrToDateFmt("DD/MM/YYYY", "05.03.2004", l), EncodeDate(2004, 3, 5));
    try {
        StrToDateFmt("DD/MM/YYYY", "31.02.2004", l);
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
    // Words after the date are skipped up to a time designator, which is
    // not part of a date.
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), EncodeDate(2004, 3, 5));
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri AM", l), -1.0);
    l.Fmt.ShortTimeFormat = "h:nn";
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), EncodeDate(2004, 3, 5));
    l.FarEast = false;
    EXPECT_EQ(Parse("YYYY/MM/DD", "2004-3-5 Fri", l), -1.0);
}

TEST(DateUtil, MonthNamesMatchTheirBeginning)
{
    const DateLocale l = DayMonthYear();
    EXPECT_EQ(MonthFromName("MAR", 3, l), 3);
    EXPECT_EQ(MonthFromName("de", 2, l), 12);
    EXPECT_EQ(MonthFromName("xx", 2, l), 0);
    EXPECT_EQ(MonthFromName("", 3, l), 0);
}

TEST(StrUtils, SmallRoutines)
{
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
    EXPECT_EQ(ReplaceStr("aXbX", "X", "XX"), "aXXbXX");
    EXPECT_EQ(ReplaceStr("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceStr("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceStr("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceStr("abc", "z", "x"), "abc");
}
