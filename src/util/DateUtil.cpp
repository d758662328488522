#include "util/DateUtil.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <optional>

namespace {

DateLocale &LocaleCell()
{
    static DateLocale locale{FormatSettings::FromLocale()};
    return locale;
}

std::optional<bool> &FourDigitCell()
{
    static std::optional<bool> cell;
    return cell;
}

char UpCase(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string UpperAscii(std::string s)
{
    for (char &c : s)
        c = UpCase(c);
    return s;
}

bool EqualNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpCase(a[i]) != UpCase(b[i]))
            return false;
    return true;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

void ScanBlanks(const std::string &s, size_t &pos)
{
    while (pos < s.size() && s[pos] == ' ')
        ++pos;
}

void ScanToNumber(const std::string &s, size_t &pos)
{
    while (pos < s.size() && !IsDigit(s[pos]))
        ++pos;
}

// Up to four digits after blanks; the value can never overflow.
bool ScanNumber(const std::string &s, size_t &pos, int &number)
{
    ScanBlanks(s, pos);
    const size_t start = pos;
    int n = 0;
    while (pos < s.size() && pos - start < 4 && IsDigit(s[pos])) {
        n = n * 10 + (s[pos] - '0');
        ++pos;
    }
    if (pos == start)
        return false;
    number = n;
    return true;
}

bool ScanChar(const std::string &s, size_t &pos, char c)
{
    ScanBlanks(s, pos);
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// The value laid out at the positions of `letter` repeated `count` times in
// the format: `blank` when those positions hold only blanks, `def` when the
// format has no such mask or the text is longer than the format.
int ExtractMask(const std::string &format, const std::string &text, char letter, int count, int blank,
                int def, const DateLocale &locale, bool exactLength)
{
    if (text.size() > format.size() || (exactLength && text.size() != format.size()))
        return def;
    const size_t limit = text.size();
    const std::string upper = UpperAscii(format);
    size_t j = upper.find(std::string(static_cast<size_t>(count), letter));
    if (j == std::string::npos)
        return def;
    std::string gathered;
    for (; j < upper.size() && upper[j] == letter && j < limit; ++j) {
        if (text[j] != ' ')
            gathered += text[j];
    }
    if (gathered.empty())
        return blank;
    if (count > 1) {
        const int m = MonthFromName(gathered, gathered.size(), locale);
        return m == 0 ? -1 : m;
    }
    if (gathered.size() > 4)
        return -1;
    int n = 0;
    for (char c : gathered) {
        if (!IsDigit(c))
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

int DateLocale::CurrentYear() const
{
    return ThisYear > 0 ? ThisYear : ::CurrentYear();
}

const DateLocale &CurrentDateLocale()
{
    return LocaleCell();
}

void SetCurrentDateLocale(const DateLocale &locale)
{
    LocaleCell() = locale;
}

bool HasFourDigitYear(const std::string &shortDateFormat)
{
    return UpperAscii(shortDateFormat).find("YYYY") != std::string::npos;
}

void InitFourDigitYear(const std::string &shortDateFormat)
{
    if (!FourDigitCell())
        FourDigitCell() = HasFourDigitYear(shortDateFormat);
}

bool FourDigitYear()
{
    if (!FourDigitCell())
        FourDigitCell() = HasFourDigitYear(CurrentDateLocale().Fmt.ShortDateFormat);
    return *FourDigitCell();
}

bool ValidDate(int year, int month, int day)
{
    return IsValidDate(year, month, day);
}

bool ValidDate(TDateTime date)
{
    // 1 January 0001 .. the end of 31 December 9999.
    if (!std::isfinite(date) || date < -693593.0 || date >= 2958466.0)
        return false;
    int y = 0, m = 0, d = 0;
    DecodeDate(date, y, m, d);
    return ValidDate(y, m, d);
}

TDateTime DateToday()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TDateOrder GetDateOrder(const std::string &format)
{
    for (char c : format) {
        switch (UpCase(c)) {
        case 'D': return doDMY;
        case 'M': return doMDY;
        case 'E':
        case 'Y': return doYMD;
        default: break;
        }
    }
    return doDMY;
}

int MonthFromName(const std::string &text, size_t length, const DateLocale &locale)
{
    if (text.empty())
        return 0;
    const std::string s = text.substr(0, length);
    for (int m = 1; m <= 12; ++m) {
        const std::string &name = locale.Fmt.ShortMonthNames[static_cast<size_t>(m - 1)];
        if (!name.empty() && EqualNoCase(s, name.substr(0, length)))
            return m;
    }
    return 0;
}

bool ScanDate(const std::string &text, const std::string &format, size_t &pos, int &year, int &month,
              int &day, const DateLocale &locale)
{
    year = month = day = 0;
    const TDateOrder order = GetDateOrder(format);
    const FormatSettings &fs = locale.Fmt;
    if (!fs.ShortDateFormat.empty() && fs.ShortDateFormat[0] == 'g')
        ScanToNumber(text, pos);
    int n1 = 0, n2 = 0, n3 = 0;
    if (!(ScanNumber(text, pos, n1) && ScanChar(text, pos, fs.DateSeparator) && ScanNumber(text, pos, n2)))
        return false;
    if (ScanChar(text, pos, fs.DateSeparator)) {
        if (!ScanNumber(text, pos, n3))
            return false;
        switch (order) {
        case doMDY: year = n3; month = n1; day = n2; break;
        case doDMY: year = n3; month = n2; day = n1; break;
        case doYMD: year = n1; month = n2; day = n3; break;
        }
        year = ExpandYear(year, locale.CurrentYear());
    } else {
        year = locale.CurrentYear();
        if (order == doDMY) {
            day = n1;
            month = n2;
        } else {
            month = n1;
            day = n2;
        }
    }
    ScanChar(text, pos, fs.DateSeparator);
    ScanBlanks(text, pos);
    if (locale.FarEast && fs.ShortDateFormat.find("ddd") != std::string::npos) {
        if (!fs.ShortTimeFormat.empty() && IsDigit(fs.ShortTimeFormat[0])) {
            ScanToNumber(text, pos);
        } else {
            auto designatorAt = [&](const std::string &word) {
                return !word.empty() && EqualNoCase(word, text.substr(pos, word.size()));
            };
            do {
                while (pos < text.size() && text[pos] != ' ')
                    ++pos;
                ScanBlanks(text, pos);
            } while (pos < text.size() && !designatorAt(fs.TimeAMString) && !designatorAt(fs.TimePMString));
        }
    }
    return ValidDate(year, month, day) && pos >= text.size();
}

bool ScanDateStr(const std::string &format, const std::string &text, int &day, int &month, int &year,
                 const DateLocale &locale)
{
    const int thisYear = locale.CurrentYear();
    month = ExtractMask(format, text, 'M', 3, -1, 0, locale, true);
    if (month == 0)
        month = ExtractMask(format, text, 'M', 1, -1, 0, locale, false);
    day = ExtractMask(format, text, 'D', 1, -1, 1, locale, false);
    year = ExtractMask(format, text, 'Y', 1, -1, thisYear, locale, false);
    year = ExpandYear(year, thisYear);
    if (ValidDate(year, month, day))
        return true;
    size_t pos = 0;
    return ScanDate(text, format, pos, year, month, day, locale);
}

TDateTime StrToDateFmt(const std::string &format, const std::string &text, const DateLocale &locale)
{
    if (text.empty())
        return NullDate;
    int d = 0, m = 0, y = 0;
    if (!ScanDateStr(format, text, d, m, y, locale))
        throw EConvertError("'" + text + "' is not a valid date");
    return EncodeDate(y, m, d);
}

TDateTime StrToDateFmtDef(const std::string &format, const std::string &text, TDateTime def,
                          const DateLocale &locale)
{
    int d = 0, m = 0, y = 0;
    if (!text.empty() && ScanDateStr(format, text, d, m, y, locale))
        return EncodeDate(y, m, d);
    return std::trunc(def);
}

std::string DefDateFormat(bool fourDigitYear, const DateLocale &locale)
{
    switch (GetDateOrder(locale.Fmt.ShortDateFormat)) {
    case doMDY: return fourDigitYear ? "MM/DD/YYYY" : "MM/DD/YY";
    case doDMY: return fourDigitYear ? "DD/MM/YYYY" : "DD/MM/YY";
    case doYMD: return fourDigitYear ? "YYYY/MM/DD" : "YY/MM/DD";
    }
    return "DD/MM/YYYY";
}

std::string DefDateMask(char blanksChar, bool fourDigitYear, const DateLocale &locale)
{
    std::string mask;
    if (!fourDigitYear)
        mask = "!99/99/99;1;";
    else if (GetDateOrder(locale.Fmt.ShortDateFormat) == doYMD)
        mask = "!9999/99/99;1;";
    else
        mask = "!99/99/9999;1;";
    return mask + blanksChar;
}
