#pragma once
// Dates as day counts (days since 30 December 1899, the fraction the time of
// day), file times (100-ns intervals since 1601), and a date-time formatter
// with the ISO week letters on top of the usual format letters.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using TDateTime = double;
using FileTime = uint64_t;

// Days from 1 January of year 1 (counted as day 1) to 30 December 1899.
inline constexpr int32_t DateDelta = 693594;
// Days from 30 December 1899 to 1 January 1970.
inline constexpr int32_t UnixDateDelta = 25569;
inline constexpr int64_t MSecsPerDay = 86400000;

// Days of a proleptic Gregorian date since 1 January 1970, and back. No range
// checks: callers validate the date first.
int64_t DaysFromCivil(int64_t year, int month, int day);
void CivilFromDays(int64_t days, int64_t &year, int &month, int &day);

// An impossible date or time given to an encoding routine.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The texts and formats of the user's locale that the formatter uses.
struct FormatSettings {
    std::string ShortDateFormat = "dd/mm/yyyy";
    std::string LongDateFormat = "dddd d mmmm yyyy";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    char DateSeparator = '/';
    char TimeSeparator = ':';
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March", "April", "May", "June",
                                               "July", "August", "September", "October", "November",
                                               "December"};
    // Sunday first.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday", "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};

    // Read from the current C locale (LC_TIME), as the program set it at start.
    // The short date always has a four-digit year.
    static FormatSettings FromLocale();
};

// The settings read from the locale when first asked for.
const FormatSettings &DefaultFormatSettings();
// Gives the default settings the date order of `shortDateFormat` (day, month
// and year letters, "/" for the separator) with `separator`, so that dates are
// written and read in the order the user's locale shows them everywhere.
// An order the locale's settings have already (or an empty format) keeps
// their format as it is; another becomes two-digit day and month and a
// four-digit year.
void SetDefaultDateOrder(const std::string &shortDateFormat, char separator);

// Years 1 to 9999. EncodeDate throws EConvertError for an impossible date.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeDate(TDateTime t, int &year, int &month, int &day);
void DecodeTime(TDateTime t, int &hour, int &min, int &sec, int &msec);
bool IsValidDate(int year, int month, int day);
bool IsLeapYear(int year);
int DaysPerMonth(int year, int month); // 0 for a month outside 1..12
int CurrentYear(); // of the local time
int DayOfWeek(TDateTime t); // Sunday = 1 .. Saturday = 7

// The usual format letters (c, d..dddddd, m..mmmm, yy, yyyy, h, hh, n, nn,
// s, ss, z, zzz, t, tt, am/pm, a/p, ampm, "/", ":" and quoted text).
std::string FormatDateTime(const std::string &format, TDateTime t,
                           const FormatSettings &fs = DefaultFormatSettings());
// A format read once, for formatting many times: Format(t) is FormatDateTime(format, t, fs).
class TDateTimeFormat {
public:
    TDateTimeFormat(const std::string &format, const FormatSettings &fs = DefaultFormatSettings());
    std::string Format(TDateTime t) const;
    void AppendTo(std::string &out, TDateTime t) const;
    // Whether the text shows parts of a second (the "z" letters).
    bool ShowsFraction() const { return showsFraction_; }

private:
    enum TKind : uint8_t;
    struct TStep {
        TKind Kind;
        uint8_t Digits;
        uint32_t Skip; // a time-of-day condition: the steps it covers
        std::string Text, Alt;
    };
    void Compile(const std::string &fmt, int depth);
    void Add(TKind kind, int digits, std::string text = {}, std::string alt = {});
    FormatSettings fs_;
    std::vector<TStep> steps_;
    size_t sealed_ = 0; // steps before this one take no more text
    bool showsFraction_ = false;
};

// Short date, then the long time when the time of day is not zero.
std::string DateTimeToStr(TDateTime t, const FormatSettings &fs = DefaultFormatSettings());

// DateTimeToStr, but at most `width` bytes: a 12-hour time that would not fit is
// written on the 24-hour clock (without seconds when still too long).
std::string DateTimeToStrFit(TDateTime t, size_t width, const FormatSettings &fs = DefaultFormatSettings());

// DateTimeToStrFit of file times for one width, for many times in a row (a disc scan):
// the formats are read once and recent texts kept. Times within the same whole second
// share their text whenever the text cannot tell them apart.
class TFileTimeTexts {
public:
    explicit TFileTimeTexts(size_t width, const FormatSettings &fs = DefaultFormatSettings());
    // DateTimeToStrFit(FileTimeToDateTime(t), width, fs).
    const std::string &Text(FileTime t);

private:
    struct TMemo {
        uint64_t Key = 0;
        bool Used = false, BySecond = false;
        std::string Text;
    };
    size_t width_;
    TDateTimeFormat full_, h24_, h24Short_;
    std::vector<TMemo> memo_;
};

// A date format with every year written with four digits ("dd/mm/yy" gives
// "dd/mm/yyyy"); quoted text is kept.
std::string WithFourDigitYear(const std::string &format);

// Reads a date text in the order of fs's short date format, with a four- or a
// two-digit year (two digits fall into the hundred years that begin 60 years
// before `currentYear`), then an optional time (h:mm, h:mm:ss, h:mm:ss.zzz, with
// AM/PM or the locale's words for them). False for anything else.
// ExpandTwoDigitYear leaves negative years and years from 100 on as they are.
int ExpandTwoDigitYear(int year, int currentYear);
bool TryStrToDateTime(const std::string &text, TDateTime &value, const FormatSettings &fs = DefaultFormatSettings());
// As TryStrToDateTime; EConvertError for a text that is not a date.
TDateTime StrToDateTime(const std::string &text, const FormatSettings &fs = DefaultFormatSettings());

TDateTime FileTimeToDateTime(FileTime t);
std::string FileTimeToStr(FileTime t, const FormatSettings &fs = DefaultFormatSettings());

// Years outside 1 .. 9999 by the approximate calendar of the extended routines.
TDateTime EncodeDateExt(int32_t year, int month, int day);
void DecodeDateExt(TDateTime t, int32_t &year, int &month, int &day);
int DayOfTheYear(TDateTime t);
int DayOfTheYear(TDateTime t, int32_t &year);
// ISO week number; `year` receives the ISO week-numbering year and `weekDay`
// the ISO weekday (1 Monday .. 7 Sunday).
int ISOWeekNumber(TDateTime t, int32_t &year, int &weekDay);

// FormatDateTime with the extra letters E (ISO weekday), F/FF/FFF (day of the
// year), I/II/III/IIII (ISO year; II two digits) and W/WW (ISO week).
std::string FormatDateTimeExt(const std::string &format, TDateTime t,
                              const FormatSettings &fs = DefaultFormatSettings());

// Seconds and nanoseconds since 1970 as a file time (times before 1601 give 0).
FileTime UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds);

// The creation time (the file system's birth time where it keeps one, else the
// last modification time) and the last modification time of a file or folder,
// in UTC. False when the entry cannot be read.
bool GetFileTimes(const std::string &path, FileTime &creation, FileTime &lastWrite);
