#pragma once
// Date rules of the date edits: leap years and month lengths, the window for
// two-digit years, parsing a date typed in a display format such as
// "DD/MM/YYYY" (the slash standing for the locale's date separator), and the
// display formats and edit masks for the locale's date order.
#include <string>

#include "util/BaseDateTime.h"

enum TDateOrder { doMDY, doDMY, doYMD };

// The value that stands for no date.
inline constexpr TDateTime NullDate = 0.0;
// Two-digit years fall into the hundred years that begin this many years
// before the current year.
inline constexpr int CenturyOffset = 60;

// What the parser needs of the locale.
struct DateLocale {
    FormatSettings Fmt;
    // Chinese, Japanese or Korean: text after the date may be skipped.
    bool FarEast = false;
    // The current year for the rules that need one; 0 reads the clock.
    int ThisYear = 0;

    int CurrentYear() const;
};

// The locale the date edits last set (the C locale's settings until then).
const DateLocale &CurrentDateLocale();
void SetCurrentDateLocale(const DateLocale &locale);

// Whether the locale's short date format (upper-cased) holds "YYYY". Fixed by
// the first call of InitFourDigitYear (normally at program start) and never
// refreshed; without one it is taken from the current date locale when
// first asked for.
bool FourDigitYear();
void InitFourDigitYear(const std::string &shortDateFormat);
bool HasFourDigitYear(const std::string &shortDateFormat);

bool ValidDate(int year, int month, int day);
bool ValidDate(TDateTime date); // False when the value is no date of years 1..9999

// ExpandTwoDigitYear with the window of CenturyOffset years.
inline int ExpandYear(int year, int currentYear)
{
    static_assert(CenturyOffset == 60, "ExpandTwoDigitYear's window");
    return ExpandTwoDigitYear(year, currentYear);
}
inline int ExpandYear(int year)
{
    return ExpandYear(year, CurrentYear());
}
TDateOrder GetDateOrder(const std::string &format);
// 1..12 when the first `length` bytes of `text` begin one of the locale's
// short month names (ignoring case), else 0.
int MonthFromName(const std::string &text, size_t length, const DateLocale &locale = CurrentDateLocale());

// The free parse: "n sep n [sep n]" in the order of `format`. `pos` is the
// byte to start at and ends after what was read. True for a valid date that
// takes the whole text.
bool ScanDate(const std::string &text, const std::string &format, size_t &pos, int &year, int &month,
              int &day, const DateLocale &locale = CurrentDateLocale());
// The text laid out as `format`, else the free parse. True for a valid date.
bool ScanDateStr(const std::string &format, const std::string &text, int &day, int &month, int &year,
                 const DateLocale &locale = CurrentDateLocale());

// NullDate for an empty text; throws EConvertError "'text' is not a valid date".
TDateTime StrToDateFmt(const std::string &format, const std::string &text,
                       const DateLocale &locale = CurrentDateLocale());
// The date, or the whole-day part of `def`.
TDateTime StrToDateFmtDef(const std::string &format, const std::string &text, TDateTime def,
                          const DateLocale &locale = CurrentDateLocale());

// "DD/MM/YYYY", "MM/DD/YY", ... for the date order of the locale.
std::string DefDateFormat(bool fourDigitYear, const DateLocale &locale = CurrentDateLocale());
// "!99/99/9999;1;" and the like, followed by the blanks character.
std::string DefDateMask(char blanksChar, bool fourDigitYear, const DateLocale &locale = CurrentDateLocale());

// Today's date without the time of day.
TDateTime DateToday();
