#pragma once
// What a search looks for, without the window: the wildcard stars of a search
// text, the text tests (exact or upper-cased by the user's locale), the date
// and size bounds chosen in the search panel and the conversions of the texts
// they come from. The main window's filters, its print preparation and the
// tests share these.
#include <QLocale>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "util/BaseDateTime.h"

// A search text without its wildcard stars: one leading "*" and then one
// trailing "*" are removed; stars elsewhere stay and match themselves.
std::string TrimMaskText(std::string_view text);

// Upper-cases stored text by the user's locale. Text that is not UTF-8 is
// read as Windows-1250 first (as every stored text is), so the answer is
// always whole UTF-8 characters.
class TLocaleUpper {
public:
    TLocaleUpper();
    explicit TLocaleUpper(const QLocale &locale);
    std::string operator()(std::string_view stored) const;
    // The same into `out` (reused between calls to spare allocations).
    void Into(std::string_view stored, std::string &out) const;
    // Whether ASCII text upper-cases a..z to A..Z and is left as it is otherwise.
    bool AsciiSimple() const { return asciiSimple_; }

private:
    QLocale locale_;
    bool asciiSimple_ = true; // the locale upper-cases a..z to A..Z and nothing else
};

// One text test of the filter: does the search text occur in a field? An
// empty search text occurs in no field and no text occurs in an empty field.
// Exact tests compare the characters as stored; the others compare both sides
// upper-cased by the locale.
class TTextMatch {
public:
    TTextMatch() = default;
    TTextMatch(std::string needle, const TLocaleUpper &upper);
    bool Empty() const { return needle_.empty(); }
    bool Exact(std::string_view field) const;
    bool Folded(std::string_view field) const;

private:
    std::string needle_;      // UTF-8
    std::string upperNeedle_; // upper-cased by the locale
    TLocaleUpper upper_;
    mutable std::string buffer_;
};

// A conversion that cannot be made (a date or a number typed by the user).
// The message names the text.
class ESearchConvertError : public EConvertError {
public:
    using EConvertError::EConvertError;
};

// Parses a date, optionally followed by a time, in the order of the short
// date format of `fs` (day, month and year numbers; a month may also be
// given by its name). Two-digit years fall into the hundred years that begin
// 60 years before `currentYear`; a missing year is `currentYear`. The time is
// hours, minutes and optional seconds and milliseconds, with an optional
// AM/PM designator. False when the text is not such a date.
bool ParseDateTimeText(std::string_view text, const FormatSettings &fs, int currentYear, TDateTime &value);
// A date as a catalogue stores it, read in the order its text was written
// in: day.month.year when the first number is followed by a dot (catalogues
// written on Windows), year first when the text starts with three or four
// digits, else the order of fs's short date format (the order this program
// writes). Otherwise as ParseDateTimeText.
bool ParseStoredDateTime(std::string_view stored, const FormatSettings &fs, int currentYear, TDateTime &value);
// The same for the program's locale settings; raises ESearchConvertError
// "'text' is not a valid date" when it fails.
TDateTime StrToDateTimeText(const std::string &text);
// A whole number, blanks around it allowed; raises ESearchConvertError
// "'text' is not a valid integer value" otherwise (also outside 32 bits).
std::int32_t StrToIntText(const std::string &text);

// The present moment as a date-time of the local time zone.
TDateTime NowDateTime();
// The year `value` falls in.
int YearOf(TDateTime value);

// The date and size criteria of a search.
struct TSearchCriteria {
    // Date criterion: 0 none, 1 last week, 2 last month, 3 last year, 4 the
    // entered range; size criterion: 0 none, 1 below 100 kB, 2 below 1 MB,
    // 3 above 1 MB, 4 the entered size.
    int DateChoice = 0;
    int SizeChoice = 0;
    TDateTime DateLower = 0, DateUpper = 0;
    // The field the entered range compares ("CreateDate" or "LastChange").
    std::string ChosenDateField = "CreateDate";
    std::int64_t SizeLower = 0, SizeUpper = 0;
    // The upper bound of "more than": none.
    static constexpr std::int64_t NoUpperSize = std::numeric_limits<std::int64_t>::max();

    // The field the date test reads: the preset ranges read the creation date.
    const std::string &DateField() const;

    // Sets the date bounds for `choice` at the moment `now`. The entered range
    // converts `fromText` and `toText` (raising ESearchConvertError) and adds
    // the time of day of `now` to each; `fieldIndex` 0 chooses the creation
    // date, anything else the date of the last change.
    void SetDate(int choice, TDateTime now, const std::string &fromText, const std::string &toText,
                 int fieldIndex);
    // Sets the size bounds for `choice`. The entered size converts `kbText`
    // (raising ESearchConvertError); `direction` 0 is "more", 1 "most", any
    // other value leaves the bounds as they were. "More" has no upper bound.
    void SetSize(int choice, const std::string &kbText, int direction);

    // lower < date < upper for the stored date text (read as
    // ParseStoredDateTime reads it); a text that is not a date fails.
    bool DateWithin(std::string_view stored, const FormatSettings &fs, int currentYear) const;
    // lower < size < upper for the stored size text, compared as 64-bit
    // numbers; a text that is not a number fails.
    bool SizeWithin(std::string_view stored) const;
};
