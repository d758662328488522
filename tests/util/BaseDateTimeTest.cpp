#include "util/BaseDateTime.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <sys/stat.h>
#include <utime.h>

namespace {

FormatSettings Fixed()
{
    FormatSettings fs;
    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    fs.ShortTimeFormat = "hh:nn";
    fs.DateSeparator = '.';
    return fs;
}

int Ymd(TDateTime t)
{
    int y, m, d;
    DecodeDate(t, y, m, d);
    return y * 10000 + m * 100 + d;
}

} // namespace

TEST(BaseDateTime, CalendarBasics)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDate(9999, 12, 31) + 1, 2958466.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_EQ(Ymd(36585.75), 20000229);
    EXPECT_EQ(Ymd(-1.5), 18991229); // a negative day count with a time keeps its day
    int h, n, s, ms;
    DecodeTime(-1.5, h, n, s, ms);
    EXPECT_EQ(h, 12);
    DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, ms);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
    EXPECT_EQ(DayOfWeek(0), 7);                       // 30 Dec 1899 was a Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2005, 1, 10)), 2); // Monday
    EXPECT_EQ(DayOfTheYear(EncodeDate(2004, 12, 31)), 366);
    EXPECT_EQ(DayOfTheYear(EncodeDate(2005, 2, 1) + 0.9), 32);
}

TEST(BaseDateTime, FileTimes)
{
    EXPECT_EQ(FileTimeToDateTime(0), -109205.0);
    EXPECT_EQ(Ymd(FileTimeToDateTime(0)), 16010101);
    const FileTime t = UnixTimeToFileTime(1105358400, 0); // 2005-01-10 12:00 UTC
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(t), EncodeDate(2005, 1, 10) + 0.5);
    EXPECT_EQ(FileTimeToStr(t, Fixed()), "10.01.2005 12:00:00");
    EXPECT_EQ(FileTimeToStr(UnixTimeToFileTime(1105315200, 0), Fixed()), "10.01.2005"); // midnight: no time
    EXPECT_EQ(UnixTimeToFileTime(-11644473600LL, 0), 0u);
    EXPECT_EQ(UnixTimeToFileTime(-11644473601LL, 0), 0u);
    orbtest::TempDir dir;
    const std::string path = dir.write("f.txt", "x");
    utimbuf times{1105358400, 1105358400};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    FileTime creation = 0, lastWrite = 0;
    ASSERT_TRUE(GetFileTimes(path, creation, lastWrite));
    EXPECT_EQ(lastWrite, t);
    EXPECT_NE(creation, 0u); // birth time or, where none is kept, the change time
    EXPECT_FALSE(GetFileTimes(dir.file("missing"), creation, lastWrite));
}

// Inside 1 .. 9999 the calendar is exact; outside it years are 365.2422454 days and months a twelfth of
// that, so mid-month dates come back in the same year and month, within a day.
TEST(BaseDateTime, ExtendedYears)
{
    int32_t y;
    int m, d;
    DecodeDateExt(EncodeDateExt(2005, 3, 7), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20050307);
    for (int32_t year : {10000, 12345, 20000, -1, -2, -500}) {
        for (int month : {1, 6, 12}) {
            DecodeDateExt(EncodeDateExt(year, month, 15), y, m, d);
            EXPECT_EQ(y, year) << year << "-" << month;
            EXPECT_EQ(m, month) << year << "-" << month;
            EXPECT_NEAR(d, 15, 1) << year << "-" << month;
        }
    }
    // Year 0 starts where year 1 of the exact calendar does.
    EXPECT_EQ(EncodeDateExt(0, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDateExt(10000, 1, 1), 2958466.0);
}

TEST(BaseDateTime, IsoWeeksAndFormatLetters)
{
    const struct { TDateTime t; int week; int32_t year; int weekDay; } weeks[] = {
        {EncodeDate(2005, 1, 1), 53, 2004, 6}, {EncodeDate(2008, 12, 29), 1, 2009, 1} /* Monday in next ISO year */,
        {EncodeDate(2005, 1, 10), 2, 2005, 1}, {EncodeDate(2010, 1, 3), 53, 2009, 7}};
    for (const auto &w : weeks) {
        int32_t year;
        int weekDay;
        EXPECT_EQ(ISOWeekNumber(w.t, year, weekDay), w.week) << w.t;
        EXPECT_EQ(year, w.year) << w.t;
        EXPECT_EQ(weekDay, w.weekDay) << w.t;
    }
    const FormatSettings fs = Fixed();
    const TDateTime t = EncodeDate(2005, 1, 10) + EncodeTime(14, 5, 9, 7);
    const struct { bool ext; const char *format; TDateTime t; const char *want; } cases[] = {
        {false, "yyyy-mm-dd hh:nn:ss.zzz", t, "2005-01-10 14:05:09.007"}, {false, "d/m/yy h:n:s", t, "10.1.05 14:5:9"},
        {false, "ddd dddd mmm mmmm", t, "Mon Monday Jan January"}, {false, "hh:mm", t, "14:05"} /* m after h: minutes */,
        {false, "h:nn am/pm", t, "2:05 pm"}, {false, "hh AMPM", EncodeTime(0, 30, 0, 0), "12 AM"},
        {false, "ddddd  t", t, "10.01.2005  14:05"}, {false, "c", t, "10.01.2005 14:05:09"},
        {false, "\"day\" d 'of' mmmm", t, "day 10 of January"}, {false, "'unclosed d", t, "unclosed d"},
        {true, "WW", t, "02"}, {true, "FFF", EncodeDate(2005, 2, 1), "032"}, {true, "FFF", EncodeDate(2004, 2, 1), "032"},
        {true, "F FF", EncodeDate(2005, 1, 5), "5 05"}, {true, "IIII-WW-E", EncodeDate(2005, 1, 1), "2004-53-6"},
        {true, "II/w", EncodeDate(2005, 1, 1), "04.53"}, {true, "EE", t, "11"} /* E is taken one at a time */,
        // Letters inside quotes are copied, not replaced.
        {true, "\"Week\" W", t, "Week 2"}, {true, "'FIW' yyyy", t, "FIW 2005"}, {true, "ddddd  t", t, "10.01.2005  14:05"}};
    for (const auto &c : cases)
        EXPECT_EQ(c.ext ? FormatDateTimeExt(c.format, c.t, fs) : FormatDateTime(c.format, c.t, fs), c.want) << c.format;
}

// Day counts that are not numbers or lie far outside any calendar are pinned,
// never converted with overflow (the sanitizer build checks the conversions).
TEST(BaseDateTime, HostileDayCounts)
{
    const FormatSettings fs = Fixed();
    for (double t : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, 9.9e11, -9.9e11}) {
        const std::string text = FormatDateTimeExt("c dddd mmmm yyyy WW FFF IIII E", t, fs);
        EXPECT_FALSE(text.empty());
        int32_t y;
        int m, d;
        DecodeDateExt(t, y, m, d);
        EXPECT_GE(m, 1);
        EXPECT_LE(m, 12);
        EXPECT_GE(DayOfWeek(t), 1);
        EXPECT_LE(DayOfWeek(t), 7);
    }
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", std::nan(""), fs), "1899-12-30");
}

TEST(BaseDateTime, LocaleSettingsAreUsable)
{
    // The C locale's "%m/%d/%y" and "%H:%M:%S" become our format letters, the year
    // with four digits.
    const std::string saved = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    const FormatSettings c = FormatSettings::FromLocale();
    std::setlocale(LC_TIME, saved.c_str());
    EXPECT_EQ(c.ShortDateFormat, "mm/dd/yyyy");
    EXPECT_EQ(c.DateSeparator, '/');
    EXPECT_EQ(c.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(c.ShortTimeFormat, "hh:nn");
    EXPECT_EQ(c.LongMonthNames[0], "January");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2005, 1, 10) + EncodeTime(9, 5, 0, 0), c), "01/10/2005 09:05:00");

    // Whatever the locale, the default settings format a date that holds the year.
    const std::string s = DateTimeToStr(EncodeDate(2005, 1, 10) + 0.5);
    EXPECT_NE(s.find("05"), std::string::npos) << s;
    EXPECT_FALSE(DefaultFormatSettings().LongTimeFormat.empty());
}
