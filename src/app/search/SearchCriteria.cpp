#include "app/search/SearchCriteria.h"

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>

#include "util/TextCodec.h"

std::string TrimMaskText(std::string_view text)
{
    if (!text.empty() && text.front() == '*')
        text.remove_prefix(1);
    if (!text.empty() && text.back() == '*')
        text.remove_suffix(1);
    return std::string(text);
}

// ---------------------------------------------------------------- upper-casing

namespace {

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

void UpperAsciiInto(std::string_view s, std::string &out)
{
    out.resize(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = UpperAscii(s[i]);
}

// Whether `upper` occurs in `text` upper-cased a..z to A..Z, found without
// making the upper-cased copy; nullopt when `text` is not plain ASCII, which
// the caller then upper-cases by the locale.
std::optional<bool> ContainsUpperAscii(std::string_view text, std::string_view upper)
{
    const size_t n = upper.size();
    const char first = n ? upper[0] : 0;
    const char firstLower = first >= 'A' && first <= 'Z' ? static_cast<char>(first + 32) : first;
    bool found = n == 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80)
            return std::nullopt;
        if (found || (c != first && c != firstLower) || text.size() - i < n)
            continue;
        size_t j = 1;
        while (j < n && UpperAscii(text[i + j]) == upper[j])
            ++j;
        found = j == n;
    }
    return found;
}

} // namespace

TLocaleUpper::TLocaleUpper() : TLocaleUpper(QLocale::system()) {}

TLocaleUpper::TLocaleUpper(const QLocale &locale) : locale_(locale)
{
    // A locale such as Turkish upper-cases "i" to a letter outside ASCII; then
    // even plain ASCII text takes the locale's way.
    const QString lower = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    asciiSimple_ = locale_.toUpper(lower) == lower.toUpper();
}

void TLocaleUpper::Into(std::string_view stored, std::string &out) const
{
    if (asciiSimple_ && IsAscii(stored)) {
        UpperAsciiInto(stored, out);
        return;
    }
    // Whole characters only: the text is decoded before it is upper-cased, so
    // no byte of a multi-byte character is ever changed on its own.
    QString text;
    if (IsValidUtf8(stored)) {
        text = QString::fromUtf8(stored.data(), static_cast<qsizetype>(stored.size()));
    } else {
        const std::string utf8 = DecodeStoredText(stored);
        text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    const QByteArray upper = locale_.toUpper(text).toUtf8();
    out.assign(upper.constData(), static_cast<size_t>(upper.size()));
}

std::string TLocaleUpper::operator()(std::string_view stored) const
{
    std::string out;
    Into(stored, out);
    return out;
}

// ---------------------------------------------------------------- text tests

TTextMatch::TTextMatch(std::string needle, const TLocaleUpper &upper)
    : needle_(DecodeStoredText(needle)), upper_(upper)
{
    upperNeedle_ = upper_(needle_);
}

bool TTextMatch::Exact(std::string_view field) const
{
    if (needle_.empty() || field.empty())
        return false;
    if (IsAscii(field))
        return field.find(needle_) != std::string_view::npos;
    // A catalogue written on Windows holds Windows-1250 bytes: compare characters.
    if (!IsValidUtf8(field)) {
        buffer_ = DecodeStoredText(field);
        return buffer_.find(needle_) != std::string::npos;
    }
    return field.find(needle_) != std::string_view::npos;
}

bool TTextMatch::Folded(std::string_view field) const
{
    if (needle_.empty() || field.empty())
        return false;
    // Plain ASCII names, the common case, are compared as they are read.
    if (upper_.AsciiSimple())
        if (const std::optional<bool> found = ContainsUpperAscii(field, upperNeedle_))
            return *found;
    upper_.Into(field, buffer_);
    return buffer_.find(upperNeedle_) != std::string::npos;
}

// ---------------------------------------------------------------- dates

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsNoCase(std::string_view text, size_t at, std::string_view word)
{
    if (word.empty() || text.size() - at < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

// The order of day, month and year in a short date format ("dmy", "mdy",
// "ymd", ...), quoted text skipped; "mdy" when the format names none.
std::string DateOrderOf(const std::string &format)
{
    std::string order;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
        if (c == '"' || c == '\'') {
            const size_t close = format.find(format[i], i + 1);
            if (close == std::string::npos)
                break;
            i = close;
            continue;
        }
        if ((c == 'd' || c == 'm' || c == 'y') && order.find(c) == std::string::npos)
            order += c;
    }
    for (const char c : std::string("mdy"))
        if (order.find(c) == std::string::npos)
            order += c;
    return order;
}

struct TScan {
    std::string_view text;
    size_t pos = 0;
    bool AtEnd() const { return pos >= text.size(); }
    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(text[pos]))
            ++pos;
    }
    // Up to `maxDigits` digits; the count read in *digits.
    std::optional<int> Number(int maxDigits, int *digits = nullptr)
    {
        int value = 0, n = 0;
        while (!AtEnd() && IsDigit(text[pos]) && n < maxDigits) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++n;
        }
        if (digits)
            *digits = n;
        if (n == 0 || (!AtEnd() && IsDigit(text[pos])))
            return std::nullopt;
        return value;
    }
};

// A month given by name (long names before short ones, so "June" is not
// read as "Jun" + "e").
std::optional<int> MonthName(TScan &s, const FormatSettings &fs)
{
    for (const auto *names : {&fs.LongMonthNames, &fs.ShortMonthNames})
        for (int m = 0; m < 12; ++m)
            if (StartsNoCase(s.text, s.pos, (*names)[static_cast<size_t>(m)])) {
                s.pos += (*names)[static_cast<size_t>(m)].size();
                return m + 1;
            }
    return std::nullopt;
}

bool IsDateSeparator(char c, const FormatSettings &fs)
{
    return c == fs.DateSeparator || c == '/' || c == '.' || c == '-';
}

// An AM or PM designator at the scan position: 0 none, 1 AM, 2 PM.
int Designator(TScan &s, const FormatSettings &fs)
{
    const std::pair<std::string_view, int> words[] = {
        {fs.TimeAMString, 1}, {fs.TimePMString, 2}, {"AM", 1}, {"PM", 2}, {"A", 1}, {"P", 2}};
    for (const auto &[word, kind] : words)
        if (StartsNoCase(s.text, s.pos, word)) {
            s.pos += word.size();
            return kind;
        }
    return 0;
}

} // namespace

namespace {

// ParseDateTimeText with the order of day, month and year given ("dmy", ...).
bool ParseInOrder(std::string_view text, const FormatSettings &fs, std::string_view order, int currentYear,
                  TDateTime &value)
{
    TScan s{text};
    int parts[3] = {0, 0, 0};
    int yearDigits[3] = {0, 0, 0};
    int count = 0;
    s.SkipBlanks();
    while (count < 3 && !s.AtEnd()) {
        const char kind = order[static_cast<size_t>(count)];
        std::optional<int> v;
        if (kind == 'm' && !IsDigit(s.text[s.pos]))
            v = MonthName(s, fs);
        else
            v = s.Number(kind == 'y' ? 4 : 2, &yearDigits[count]);
        if (!v)
            return false;
        parts[count++] = *v;
        // Parts are joined by one separator, blanks allowed around it; a part
        // without one ends the date.
        const size_t after = s.pos;
        s.SkipBlanks();
        if (s.AtEnd() || !IsDateSeparator(s.text[s.pos], fs)) {
            s.pos = after;
            break;
        }
        ++s.pos;
        s.SkipBlanks();
    }
    if (count < 2)
        return false;
    int day = 0, month = 0, year = currentYear, digitsOfYear = 4;
    for (int i = 0; i < count; ++i) {
        switch (order[static_cast<size_t>(i)]) {
        case 'd': day = parts[i]; break;
        case 'm': month = parts[i]; break;
        default:
            year = parts[i];
            digitsOfYear = yearDigits[i];
            break;
        }
    }
    // Only the year may be left out, and only when it comes last.
    if (count == 2 && order[2] != 'y')
        return false;
    if (digitsOfYear <= 2)
        year = ExpandTwoDigitYear(year, currentYear);
    if (!IsValidDate(year, month, day))
        return false;

    // The time of day.
    int hour = 0, minute = 0, second = 0, msec = 0;
    s.SkipBlanks();
    if (!s.AtEnd()) {
        int designator = Designator(s, fs);
        s.SkipBlanks();
        const std::optional<int> h = s.Number(2);
        if (!h || s.AtEnd() || (s.text[s.pos] != fs.TimeSeparator && s.text[s.pos] != ':'))
            return false;
        ++s.pos;
        const std::optional<int> n = s.Number(2);
        if (!n)
            return false;
        hour = *h;
        minute = *n;
        if (!s.AtEnd() && (s.text[s.pos] == fs.TimeSeparator || s.text[s.pos] == ':')) {
            ++s.pos;
            const std::optional<int> sec = s.Number(2);
            if (!sec)
                return false;
            second = *sec;
            if (!s.AtEnd() && (s.text[s.pos] == '.' || s.text[s.pos] == ',')) {
                ++s.pos;
                int digits = 0;
                const std::optional<int> ms = s.Number(3, &digits);
                if (!ms)
                    return false;
                msec = *ms * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
            }
        }
        s.SkipBlanks();
        if (designator == 0 && !s.AtEnd()) {
            designator = Designator(s, fs);
            if (designator == 0)
                return false;
            s.SkipBlanks();
        }
        if (!s.AtEnd())
            return false;
        if (designator != 0) {
            if (hour < 1 || hour > 12)
                return false;
            hour = hour % 12 + (designator == 2 ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59)
            return false;
    }
    value = EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
    return true;
}

} // namespace

bool ParseDateTimeText(std::string_view text, const FormatSettings &fs, int currentYear, TDateTime &value)
{
    return ParseInOrder(text, fs, DateOrderOf(fs.ShortDateFormat), currentYear, value);
}

bool ParseStoredDateTime(std::string_view stored, const FormatSettings &fs, int currentYear, TDateTime &value)
{
    // The text tells the order it was written in: a catalogue written on
    // Windows holds day.month.year whatever the locale here reads, a year
    // comes first only with all its digits, and anything else is in the
    // order this program writes.
    size_t at = 0;
    while (at < stored.size() && IsBlank(stored[at]))
        ++at;
    size_t digits = 0;
    while (at + digits < stored.size() && IsDigit(stored[at + digits]))
        ++digits;
    size_t next = at + digits;
    while (next < stored.size() && IsBlank(stored[next]))
        ++next;
    std::string_view order;
    if (digits >= 3)
        order = "ymd";
    else if (digits > 0 && next < stored.size() && stored[next] == '.')
        order = "dmy";
    if (order.empty())
        return ParseDateTimeText(stored, fs, currentYear, value);
    return ParseInOrder(stored, fs, order, currentYear, value);
}

TDateTime NowDateTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return EncodeDate(d.year(), d.month(), d.day()) + EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

int YearOf(TDateTime value)
{
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    return year;
}

TDateTime StrToDateTimeText(const std::string &text)
{
    TDateTime value = 0;
    if (!ParseDateTimeText(text, DefaultFormatSettings(), YearOf(NowDateTime()), value))
        throw ESearchConvertError("'" + text + "' is not a valid date");
    return value;
}

namespace {

// A whole number with blanks around it and an optional sign; nullopt when the
// text is not one or lies outside 64 bits.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t first = i;
    std::uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1 - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == first)
        return std::nullopt;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!negative && value > limit)
        return std::nullopt;
    if (negative)
        return value == limit + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(value);
    return static_cast<std::int64_t>(value);
}

} // namespace

std::int32_t StrToIntText(const std::string &text)
{
    const std::optional<std::int64_t> v = ParseWholeNumber(text);
    if (!v || *v < std::numeric_limits<std::int32_t>::min() || *v > std::numeric_limits<std::int32_t>::max())
        throw ESearchConvertError("'" + text + "' is not a valid integer value");
    return static_cast<std::int32_t>(*v);
}

// ---------------------------------------------------------------- criteria

const std::string &TSearchCriteria::DateField() const
{
    static const std::string created = "CreateDate";
    return DateChoice == 4 ? ChosenDateField : created;
}

void TSearchCriteria::SetDate(int choice, TDateTime now, const std::string &fromText, const std::string &toText,
                              int fieldIndex)
{
    const TDateTime timeOfDay = now - std::floor(now);
    switch (choice) {
    case 1: DateLower = now - 7; DateUpper = now; break;
    case 2: DateLower = now - 31; DateUpper = now; break;
    case 3: DateLower = now - 365; DateUpper = now; break;
    case 4: {
        // Both texts are converted before either bound changes.
        const TDateTime from = std::floor(StrToDateTimeText(fromText));
        const TDateTime to = std::floor(StrToDateTimeText(toText));
        DateLower = from + timeOfDay;
        DateUpper = to + timeOfDay;
        ChosenDateField = fieldIndex == 0 ? "CreateDate" : "LastChange";
        break;
    }
    default: choice = 0; break;
    }
    DateChoice = choice;
}

void TSearchCriteria::SetSize(int choice, const std::string &kbText, int direction)
{
    switch (choice) {
    case 1: SizeLower = 0; SizeUpper = 100000; break;
    case 2: SizeLower = 0; SizeUpper = 1024000; break;
    case 3: SizeLower = 1024000; SizeUpper = NoUpperSize; break;
    case 4: {
        // Sizes are 64-bit: any 32-bit number of kilobytes times 1024 fits,
        // and "more" has no upper bound.
        const std::int64_t kb = StrToIntText(kbText);
        if (direction == 0) {
            SizeLower = kb * 1024;
            SizeUpper = NoUpperSize;
        } else if (direction == 1) {
            SizeLower = 0;
            SizeUpper = kb * 1024;
        }
        break;
    }
    default: choice = 0; break;
    }
    SizeChoice = choice;
}

bool TSearchCriteria::DateWithin(std::string_view stored, const FormatSettings &fs, int currentYear) const
{
    TDateTime date = 0;
    if (!ParseStoredDateTime(stored, fs, currentYear, date))
        return false;
    return DateLower < date && date < DateUpper;
}

bool TSearchCriteria::SizeWithin(std::string_view stored) const
{
    const std::optional<std::int64_t> size = ParseWholeNumber(stored);
    return size && SizeLower < *size && (SizeUpper == NoUpperSize || *size < SizeUpper);
}
