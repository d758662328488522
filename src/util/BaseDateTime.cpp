#include "util/BaseDateTime.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr double kDaysPerYear = 365.2422454;
constexpr double kDaysPerMonth = 30.436853783333333;
constexpr double kYearOffset = 1.7882454;
constexpr double kDayOfYearOne = -693593;     // 1 January of year 1
constexpr double kFirstDayAfter9999 = 2958466;
constexpr double kFileTimeTicksPerDay = 864000000000.0;
constexpr double kDaysFrom1601To1899 = 109205;

constexpr int64_t kUnixDayOfDateZero = -int64_t(UnixDateDelta); // 30 December 1899

// Day counts come from stored text and arithmetic; a value that is not a
// number or lies beyond the reach of the 32-bit years is pinned, so no
// conversion below ever overflows.
constexpr double kLargestDayCount = 7.0e11;

double Pinned(double t)
{
    if (!std::isfinite(t))
        return 0;
    return std::clamp(t, -kLargestDayCount, kLargestDayCount);
}

std::string Number(long long v, int minDigits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", std::min(minDigits, 24), v); // callers ask for 4 at most
    return buf;
}

bool StartsWithNoCase(const std::string &s, size_t pos, const char *word)
{
    for (size_t k = 0; word[k]; ++k) {
        if (pos + k >= s.size() || std::tolower(static_cast<unsigned char>(s[pos + k])) != word[k])
            return false;
    }
    return true;
}

// Appends `v` with at least `minDigits` digits, as "%0*lld" writes it.
void AppendNumber(std::string &out, long long v, int minDigits)
{
    if (v < 0) {
        out += Number(v, minDigits);
        return;
    }
    char buf[24];
    char *end = buf + sizeof buf, *p = end;
    do {
        *--p = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (int n = int(end - p); n < minDigits; ++n)
        out += '0';
    out.append(p, size_t(end - p));
}

} // namespace

// The format is read once into steps; what each letter means depends on the format alone
// (the letter before it, an am/pm behind it), so only the values are left for each time.
enum TDateTimeFormat::TKind : uint8_t {
    kText, kDay, kDayShort, kDayLong, kMonth, kMonthShort, kMonthLong, kMinute, kYear2, kYear4,
    kHour, kHour12, kSecond, kMSec, kAmPm, kIfTime
};

TDateTimeFormat::TDateTimeFormat(const std::string &format, const FormatSettings &fs)
    : fs_(fs)
{
    Compile(format.empty() ? std::string("c") : format, 0);
}

void TDateTimeFormat::Add(TKind kind, int digits, std::string text, std::string alt)
{
    if (kind == kText && steps_.size() > sealed_ && steps_.back().Kind == kText) {
        steps_.back().Text += text;
        return;
    }
    if (kind == kMSec)
        showsFraction_ = true;
    steps_.push_back({kind, uint8_t(digits), 0, std::move(text), std::move(alt)});
}

void TDateTimeFormat::Compile(const std::string &fmt, int depth)
{
    if (depth > 2)
        return;
    const FormatSettings &fs = fs_;
    // An am/pm specifier anywhere after an hour makes the hour 12-hour based.
    auto ampmFollows = [&](size_t from) {
        for (size_t k = from; k < fmt.size(); ++k) {
            if (StartsWithNoCase(fmt, k, "am/pm") || StartsWithNoCase(fmt, k, "a/p")
                || StartsWithNoCase(fmt, k, "ampm"))
                return true;
        }
        return false;
    };
    char lastLetter = 0;
    size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i];
        const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t run = 1;
        while (i + run < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + run])) == lc)
            ++run;
        switch (lc) {
        case '"':
        case '\'': {
            const size_t close = fmt.find(c, i + 1);
            if (close == std::string::npos) {
                Add(kText, 0, fmt.substr(i + 1));
                i = fmt.size();
            } else {
                Add(kText, 0, fmt.substr(i + 1, close - i - 1));
                i = close + 1;
            }
            continue;
        }
        case 'c': {
            Compile(fs.ShortDateFormat, depth + 1);
            // The time follows only when the time of day is not zero.
            const size_t cond = steps_.size();
            steps_.push_back({kIfTime, 0, 0, {}, {}});
            steps_.push_back({kText, 0, 0, " ", {}});
            Compile(fs.LongTimeFormat, depth + 1);
            steps_[cond].Skip = uint32_t(steps_.size() - cond - 1);
            sealed_ = steps_.size(); // text behind the time is no part of it
            i += 1;
            lastLetter = 'c';
            continue;
        }
        case 'd': {
            const size_t n = std::min<size_t>(run, 6);
            if (n <= 2) Add(kDay, int(n));
            else if (n == 3) Add(kDayShort, 0);
            else if (n == 4) Add(kDayLong, 0);
            else if (n == 5) Compile(fs.ShortDateFormat, depth + 1);
            else Compile(fs.LongDateFormat, depth + 1);
            i += n;
            lastLetter = 'd';
            continue;
        }
        case 'm': {
            if (lastLetter == 'h') {
                const size_t n = std::min<size_t>(run, 2);
                Add(kMinute, int(n));
                i += n;
            } else {
                const size_t n = std::min<size_t>(run, 4);
                if (n <= 2) Add(kMonth, int(n));
                else if (n == 3) Add(kMonthShort, 0);
                else Add(kMonthLong, 0);
                i += n;
            }
            lastLetter = 'm';
            continue;
        }
        case 'y':
            Add(run <= 2 ? kYear2 : kYear4, run <= 2 ? 2 : 4);
            i += run;
            lastLetter = 'y';
            continue;
        case 'h': {
            const size_t n = std::min<size_t>(run, 2);
            Add(ampmFollows(i + n) ? kHour12 : kHour, int(n));
            i += n;
            lastLetter = 'h';
            continue;
        }
        case 'n': {
            const size_t n = std::min<size_t>(run, 2);
            Add(kMinute, int(n));
            i += n;
            lastLetter = 'n';
            continue;
        }
        case 's': {
            const size_t n = std::min<size_t>(run, 2);
            Add(kSecond, int(n));
            i += n;
            lastLetter = 's';
            continue;
        }
        case 'z': {
            const size_t n = run >= 3 ? 3 : 1;
            Add(kMSec, n == 3 ? 3 : 1);
            i += n;
            lastLetter = 'z';
            continue;
        }
        case 't':
            if (run >= 2) {
                Compile(fs.LongTimeFormat, depth + 1);
                i += 2;
            } else {
                Compile(fs.ShortTimeFormat, depth + 1);
                i += 1;
            }
            lastLetter = 't';
            continue;
        case 'a':
            if (StartsWithNoCase(fmt, i, "am/pm")) {
                // The case of the specifier is kept in the output.
                Add(kAmPm, 0, fmt.substr(i, 2), fmt.substr(i + 3, 2));
                i += 5;
            } else if (StartsWithNoCase(fmt, i, "a/p")) {
                Add(kAmPm, 0, fmt.substr(i, 1), fmt.substr(i + 2, 1));
                i += 3;
            } else if (StartsWithNoCase(fmt, i, "ampm")) {
                Add(kAmPm, 0, fs.TimeAMString, fs.TimePMString);
                i += 4;
            } else {
                Add(kText, 0, std::string(1, c));
                i += 1;
            }
            lastLetter = 'a';
            continue;
        case '/':
            Add(kText, 0, std::string(1, fs.DateSeparator));
            i += 1;
            continue;
        case ':':
            Add(kText, 0, std::string(1, fs.TimeSeparator));
            i += 1;
            continue;
        default:
            if (std::isalpha(static_cast<unsigned char>(c)))
                lastLetter = lc;
            Add(kText, 0, std::string(1, c));
            i += 1;
            continue;
        }
    }
}

void TDateTimeFormat::AppendTo(std::string &out, TDateTime t) const
{
    t = Pinned(t);
    int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
    DecodeDate(t, year, month, day);
    DecodeTime(t, hour, min, sec, msec);
    int dow = -1;
    for (size_t k = 0; k < steps_.size(); ++k) {
        const TStep &s = steps_[k];
        switch (s.Kind) {
        case kText: out += s.Text; break;
        case kDay: AppendNumber(out, day, s.Digits); break;
        case kDayShort:
        case kDayLong:
            if (dow < 0)
                dow = DayOfWeek(t) - 1;
            out += s.Kind == kDayShort ? fs_.ShortDayNames[size_t(dow)] : fs_.LongDayNames[size_t(dow)];
            break;
        case kMonth: AppendNumber(out, month, s.Digits); break;
        case kMonthShort: out += fs_.ShortMonthNames[size_t(month - 1)]; break;
        case kMonthLong: out += fs_.LongMonthNames[size_t(month - 1)]; break;
        case kMinute: AppendNumber(out, min, s.Digits); break;
        case kYear2: AppendNumber(out, ((year % 100) + 100) % 100, 2); break;
        case kYear4: AppendNumber(out, year, 4); break;
        case kHour: AppendNumber(out, hour, s.Digits); break;
        case kHour12: AppendNumber(out, hour % 12 == 0 ? 12 : hour % 12, s.Digits); break;
        case kSecond: AppendNumber(out, sec, s.Digits); break;
        case kMSec: AppendNumber(out, msec, s.Digits); break;
        case kAmPm: out += hour < 12 ? s.Text : s.Alt; break;
        case kIfTime:
            if (!(hour || min || sec || msec))
                k += s.Skip;
            break;
        }
    }
}

std::string TDateTimeFormat::Format(TDateTime t) const
{
    std::string out;
    AppendTo(out, t);
    return out;
}

namespace {

// strftime-style locale format to our format letters.
std::string ConvertLocaleFormat(const char *f, char &separator, bool isDate)
{
    std::string out;
    bool sepFound = false;
    for (size_t i = 0; f && f[i]; ++i) {
        if (f[i] != '%') {
            const char ch = f[i];
            if (std::isalpha(static_cast<unsigned char>(ch))) {
                out += '"';
                out += ch;
                out += '"';
            } else if (isDate && !sepFound && ch != ' ' && ch != ',') {
                separator = ch;
                sepFound = true;
                out += '/';
            } else if (isDate && sepFound && ch == separator) {
                out += '/';
            } else {
                out += ch;
            }
            continue;
        }
        ++i;
        while (f[i] == 'E' || f[i] == 'O' || f[i] == '-' || f[i] == '_' || f[i] == '0' || f[i] == '^'
               || f[i] == '#')
            ++i;
        switch (f[i]) {
        case 'd': out += "dd"; break;
        case 'e': out += "d"; break;
        case 'm': out += "mm"; break;
        case 'y': out += "yy"; break;
        case 'Y': case 'G': out += "yyyy"; break;
        case 'b': case 'h': out += "mmm"; break;
        case 'B': out += "mmmm"; break;
        case 'a': out += "ddd"; break;
        case 'A': out += "dddd"; break;
        case 'H': case 'k': case 'I': case 'l': out += "hh"; break;
        case 'M': out += "nn"; break;
        case 'S': out += "ss"; break;
        case 'p': case 'P': out += "ampm"; break;
        case 'T': out += "hh:nn:ss"; break;
        case 'R': out += "hh:nn"; break;
        case 'r': out += "hh:nn:ss ampm"; break;
        case 'D': out += "mm/dd/yy"; if (!sepFound) { separator = '/'; sepFound = true; } break;
        case 'F': out += "yyyy-mm-dd"; break;
        case 'n': case 't': out += ' '; break;
        case '%': out += '%'; break;
        case '\0': return out;
        default: break;
        }
    }
    return out;
}

} // namespace

int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t &y, int &m, int &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

std::string WithFourDigitYear(const std::string &format)
{
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < format.size();) {
        const char c = format[i];
        if (quote) {
            out += c;
            quote = c == quote ? 0 : quote;
            ++i;
        } else if (c == '"' || c == '\'') {
            quote = c;
            out += c;
            ++i;
        } else if (c == 'y' || c == 'Y') {
            size_t j = i;
            while (j < format.size() && (format[j] == 'y' || format[j] == 'Y'))
                ++j;
            out += "yyyy";
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

FormatSettings FormatSettings::FromLocale()
{
    FormatSettings fs;
    char dateSep = '/';
    // Dates are written with four-digit years whatever the locale's short form says:
    // a two-digit year cannot be read back for sure.
    const std::string shortDate = WithFourDigitYear(ConvertLocaleFormat(nl_langinfo(D_FMT), dateSep, true));
    if (!shortDate.empty()) {
        fs.ShortDateFormat = shortDate;
        fs.DateSeparator = dateSep;
    }
    char unused = ':';
    std::string longTime = ConvertLocaleFormat(nl_langinfo(T_FMT), unused, false);
    if (!longTime.empty()) {
        fs.LongTimeFormat = longTime;
        // The short time is the long one without its seconds.
        std::string shortTime = longTime;
        const size_t s = shortTime.find(":ss");
        if (s != std::string::npos)
            shortTime.erase(s, 3);
        fs.ShortTimeFormat = shortTime;
    }
    if (const char *am = nl_langinfo(AM_STR); am && *am)
        fs.TimeAMString = am;
    if (const char *pm = nl_langinfo(PM_STR); pm && *pm)
        fs.TimePMString = pm;
    for (int k = 0; k < 12; ++k) {
        if (const char *s = nl_langinfo(static_cast<nl_item>(ABMON_1 + k)); s && *s)
            fs.ShortMonthNames[k] = s;
        if (const char *s = nl_langinfo(static_cast<nl_item>(MON_1 + k)); s && *s)
            fs.LongMonthNames[k] = s;
    }
    for (int k = 0; k < 7; ++k) {
        if (const char *s = nl_langinfo(static_cast<nl_item>(ABDAY_1 + k)); s && *s)
            fs.ShortDayNames[k] = s;
        if (const char *s = nl_langinfo(static_cast<nl_item>(DAY_1 + k)); s && *s)
            fs.LongDayNames[k] = s;
    }
    return fs;
}

namespace {

const FormatSettings &LocaleFormatSettings()
{
    static const FormatSettings fs = FormatSettings::FromLocale();
    return fs;
}

FormatSettings &ProgramFormatSettings()
{
    static FormatSettings fs = LocaleFormatSettings();
    return fs;
}

std::string DateOrder(const std::string &format);

} // namespace

const FormatSettings &DefaultFormatSettings()
{
    return ProgramFormatSettings();
}

void SetDefaultDateOrder(const std::string &shortDateFormat, char separator)
{
    const FormatSettings &locale = LocaleFormatSettings();
    FormatSettings &fs = ProgramFormatSettings();
    const std::string order = DateOrder(shortDateFormat);
    if (shortDateFormat.empty() || order == DateOrder(locale.ShortDateFormat)) {
        fs.ShortDateFormat = locale.ShortDateFormat;
        fs.DateSeparator = locale.DateSeparator;
        return;
    }
    std::string format;
    for (const char c : order) {
        if (!format.empty())
            format += '/';
        format += c == 'd' ? "dd" : c == 'm' ? "mm" : "yyyy";
    }
    fs.ShortDateFormat = format;
    fs.DateSeparator = separator;
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysPerMonth(int year, int month)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && day >= 1 && day <= DaysPerMonth(year, month);
}

TDateTime EncodeDate(int year, int month, int day)
{
    if (!IsValidDate(year, month, day))
        throw EConvertError("Invalid argument to date encode");
    return static_cast<double>(DaysFromCivil(year, month, day) - kUnixDayOfDateZero);
}

TDateTime EncodeTime(int hour, int min, int sec, int msec)
{
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
        throw EConvertError("Invalid argument to time encode");
    return (((hour * 60 + min) * 60 + sec) * 1000.0 + msec) / MSecsPerDay;
}

void DecodeDate(TDateTime t, int &year, int &month, int &day)
{
    t = Pinned(t);
    int64_t y;
    CivilFromDays(static_cast<int64_t>(std::trunc(t)) + kUnixDayOfDateZero, y, month, day);
    year = static_cast<int>(y);
}

void DecodeTime(TDateTime t, int &hour, int &min, int &sec, int &msec)
{
    t = Pinned(t);
    double whole;
    int64_t ms = static_cast<int64_t>(std::llround(std::fabs(std::modf(t, &whole)) * MSecsPerDay));
    if (ms >= MSecsPerDay)
        ms = MSecsPerDay - 1;
    hour = static_cast<int>(ms / 3600000);
    min = static_cast<int>(ms / 60000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime t)
{
    t = Pinned(t);
    const int64_t days = static_cast<int64_t>(std::trunc(t)) + DateDelta;
    return static_cast<int>(((days % 7) + 7) % 7) + 1;
}

std::string FormatDateTime(const std::string &format, TDateTime t, const FormatSettings &fs)
{
    return TDateTimeFormat(format, fs).Format(t);
}

std::string DateTimeToStr(TDateTime t, const FormatSettings &fs)
{
    return FormatDateTime("c", t, fs);
}

TDateTime FileTimeToDateTime(FileTime t)
{
    return static_cast<double>(static_cast<int64_t>(t)) / kFileTimeTicksPerDay - kDaysFrom1601To1899;
}

std::string FileTimeToStr(FileTime t, const FormatSettings &fs)
{
    return DateTimeToStr(FileTimeToDateTime(t), fs);
}

TDateTime EncodeDateExt(int32_t year, int month, int day)
{
    if (year >= 1 && year <= 9999)
        return EncodeDate(year, month, day);
    double base;
    if (year >= 10000)
        base = std::trunc((year - 1.0) * kDaysPerYear + kDayOfYearOne + kYearOffset);
    else
        base = year * kDaysPerYear + kDayOfYearOne;
    return std::nearbyint(base + (month - 1) * kDaysPerMonth) + (day - 1);
}

void DecodeDateExt(TDateTime t, int32_t &year, int &month, int &day)
{
    t = Pinned(t);
    if (t >= kDayOfYearOne && t < kFirstDayAfter9999) {
        int y;
        DecodeDate(t, y, month, day);
        year = y;
        return;
    }
    double y = std::trunc((t - kDayOfYearOne) / kDaysPerYear);
    if (y > 0)
        t -= kYearOffset;
    else
        y -= 1;
    const double x = t - kDayOfYearOne;
    double f = x / kDaysPerMonth - 12 * y;
    if (f < 0) {
        f = 11;
        y -= 1;
    }
    month = static_cast<int>(std::trunc(f)) + 1;
    day = static_cast<int>(std::trunc(x - y * kDaysPerYear - kDaysPerMonth * std::trunc(f))) + 1;
    if (y > 0)
        y += 1;
    year = static_cast<int32_t>(y);
}

int DayOfTheYear(TDateTime t, int32_t &year)
{
    t = Pinned(t);
    int month, day;
    DecodeDateExt(t, year, month, day);
    return static_cast<int>(std::trunc(t) - std::trunc(EncodeDateExt(year, 1, 1))) + 1;
}

int DayOfTheYear(TDateTime t)
{
    int32_t year;
    return DayOfTheYear(t, year);
}

int ISOWeekNumber(TDateTime t, int32_t &year, int &weekDay)
{
    t = Pinned(t);
    weekDay = (DayOfWeek(t) + 5) % 7 + 1;
    const TDateTime thursday = t - weekDay + 4;
    int month, day;
    DecodeDateExt(thursday, year, month, day);
    return static_cast<int>(std::trunc(thursday - EncodeDateExt(year, 1, 1))) / 7 + 1;
}

std::string FormatDateTimeExt(const std::string &format, TDateTime t, const FormatSettings &fs)
{
    bool isoDone = false, dayDone = false;
    int32_t isoYear = 0;
    int isoWeek = 0, isoWeekDay = 0, dayOfYear = 0;
    auto needIso = [&]() {
        if (!isoDone) {
            isoWeek = ISOWeekNumber(t, isoYear, isoWeekDay);
            isoDone = true;
        }
    };
    auto needDay = [&]() {
        if (!dayDone) {
            dayOfYear = DayOfTheYear(t);
            dayDone = true;
        }
    };
    auto quoted = [](const std::string &s) { return "\"" + s + "\""; };

    std::string out;
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const char uc = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (c == '"' || c == '\'') {
            const size_t close = format.find(c, i + 1);
            const size_t end = close == std::string::npos ? format.size() : close + 1;
            out += format.substr(i, end - i);
            i = end;
            continue;
        }
        size_t run = 1;
        while (i + run < format.size()
               && std::toupper(static_cast<unsigned char>(format[i + run])) == uc)
            ++run;
        switch (uc) {
        case 'E':
            needIso();
            out += quoted(Number(isoWeekDay, 1));
            i += 1;
            break;
        case 'F': {
            const size_t n = std::min<size_t>(run, 3);
            needDay();
            out += quoted(Number(dayOfYear, static_cast<int>(n)));
            i += n;
            break;
        }
        case 'I': {
            const size_t n = std::min<size_t>(run, 4);
            needIso();
            out += quoted(n == 2 ? Number(((isoYear % 100) + 100) % 100, 2) : std::to_string(isoYear));
            i += n;
            break;
        }
        case 'W': {
            const size_t n = std::min<size_t>(run, 2);
            needIso();
            out += quoted(Number(isoWeek, static_cast<int>(n)));
            i += n;
            break;
        }
        default:
            out += c;
            i += 1;
            break;
        }
    }
    return FormatDateTime(out, t, fs);
}

FileTime UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds)
{
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
    if (seconds < -kSecondsFrom1601To1970)
        return 0;
    const uint64_t s = static_cast<uint64_t>(seconds + kSecondsFrom1601To1970);
    return s * 10000000ULL + nanoseconds / 100;
}

bool GetFileTimes(const std::string &path, FileTime &creation, FileTime &lastWrite)
{
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME, &stx) != 0)
        return false;
    lastWrite = UnixTimeToFileTime(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
    if (stx.stx_mask & STATX_BTIME)
        creation = UnixTimeToFileTime(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec);
    else
        creation = lastWrite;
    return true;
}

int ExpandTwoDigitYear(int year, int currentYear)
{
    if (year >= 100 || year < 0)
        return year;
    const int n = currentYear - 60;
    // Floor division, so the rule also holds for a window that starts
    // before the year 100.
    const int century = (n >= 0 ? n / 100 : (n - 99) / 100) * 100;
    year += century;
    if (year < n)
        year += 100;
    return year;
}

int CurrentYear()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_year + 1900;
}

namespace {

// Reads digits at `pos`; false when there are none (or too many for a number).
bool ReadNumber(const std::string &s, size_t &pos, int &value, int &digits)
{
    value = 0;
    digits = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        if (digits == 9)
            return false;
        value = value * 10 + (s[pos] - '0');
        ++digits;
        ++pos;
    }
    return digits > 0;
}

void SkipBlanks(const std::string &s, size_t &pos)
{
    while (pos < s.size() && s[pos] == ' ')
        ++pos;
}

// The order of day, month and year in a date format: "dmy", "mdy", "ymd" ...
std::string DateOrder(const std::string &format)
{
    std::string order;
    char quote = 0;
    for (const char ch : format) {
        if (quote) {
            quote = ch == quote ? 0 : quote;
            continue;
        }
        if (ch == '"' || ch == '\'') {
            quote = ch;
            continue;
        }
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if ((c == 'd' || c == 'm' || c == 'y') && order.find(c) == std::string::npos)
            order += c;
    }
    return order.size() == 3 ? order : std::string("mdy");
}

} // namespace

bool TryStrToDateTime(const std::string &text, TDateTime &value, const FormatSettings &fs)
{
    size_t pos = 0;
    SkipBlanks(text, pos);
    int parts[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            // One separator (the locale's, or any of the usual ones), blanks around it.
            SkipBlanks(text, pos);
            if (pos >= text.size())
                return false;
            const char c = text[pos];
            if (c != fs.DateSeparator && c != '/' && c != '.' && c != '-')
                return false;
            ++pos;
            SkipBlanks(text, pos);
        }
        if (!ReadNumber(text, pos, parts[k], digits[k]))
            return false;
    }
    // A trailing separator ("31.12.1999.") belongs to the date.
    if (pos < text.size() && text[pos] == '.')
        ++pos;
    const std::string order = DateOrder(fs.ShortDateFormat);
    int year = 0, month = 0, day = 0, yearDigits = 0;
    for (int k = 0; k < 3; ++k) {
        if (order[size_t(k)] == 'y') {
            year = parts[k];
            yearDigits = digits[k];
        } else if (order[size_t(k)] == 'm') {
            month = parts[k];
        } else {
            day = parts[k];
        }
    }
    if (yearDigits <= 2)
        year = ExpandTwoDigitYear(year, CurrentYear());
    if (!IsValidDate(year, month, day))
        return false;
    int hour = 0, min = 0, sec = 0, msec = 0;
    SkipBlanks(text, pos);
    if (pos < text.size()) {
        int d = 0;
        if (!ReadNumber(text, pos, hour, d))
            return false;
        if (pos < text.size() && (text[pos] == fs.TimeSeparator || text[pos] == ':')) {
            ++pos;
            if (!ReadNumber(text, pos, min, d))
                return false;
            if (pos < text.size() && (text[pos] == fs.TimeSeparator || text[pos] == ':')) {
                ++pos;
                if (!ReadNumber(text, pos, sec, d))
                    return false;
                if (pos < text.size() && text[pos] == '.') {
                    ++pos;
                    if (!ReadNumber(text, pos, msec, d) || d > 3)
                        return false;
                    for (; d < 3; ++d)
                        msec *= 10;
                }
            }
        }
        SkipBlanks(text, pos);
        if (pos < text.size()) {
            const std::string rest = text.substr(pos);
            auto same = [&](const std::string &word) {
                if (word.empty() || rest.size() < word.size())
                    return false;
                for (size_t i = 0; i < word.size(); ++i)
                    if (std::tolower(static_cast<unsigned char>(rest[i])) !=
                        std::tolower(static_cast<unsigned char>(word[i])))
                        return false;
                size_t end = word.size();
                while (end < rest.size() && rest[end] == ' ')
                    ++end;
                return end == rest.size();
            };
            const bool pm = same(fs.TimePMString) || same("PM");
            const bool am = !pm && (same(fs.TimeAMString) || same("AM"));
            if ((!pm && !am) || hour < 1 || hour > 12)
                return false;
            hour = hour % 12 + (pm ? 12 : 0);
        }
        if (hour > 23 || min > 59 || sec > 59)
            return false;
    }
    value = EncodeDate(year, month, day) + EncodeTime(hour, min, sec, msec);
    return true;
}

TDateTime StrToDateTime(const std::string &text, const FormatSettings &fs)
{
    TDateTime value = 0;
    if (!TryStrToDateTime(text, value, fs))
        throw EConvertError("'" + text + "' is not a valid date and time");
    return value;
}

namespace {

// The text of `format(0)` (the full form) when it fits `width`, else the 24-hour forms:
// `format(1)` with seconds, `format(2)` without.
template <class TFormat>
std::string FitText(size_t width, TFormat &&format)
{
    std::string text = format(0);
    if (text.size() <= width)
        return text;
    // A 12-hour time whose "PM" would be cut away: the same moment on a 24-hour clock.
    text = format(1);
    if (text.size() <= width)
        return text;
    return format(2);
}

FormatSettings With24HourTime(const FormatSettings &fs, bool seconds)
{
    FormatSettings h24 = fs;
    h24.LongTimeFormat = seconds ? "hh:nn:ss" : "hh:nn";
    return h24;
}

} // namespace

std::string DateTimeToStrFit(TDateTime t, size_t width, const FormatSettings &fs)
{
    return FitText(width, [&](int form) {
        return form == 0 ? DateTimeToStr(t, fs) : DateTimeToStr(t, With24HourTime(fs, form == 1));
    });
}

TFileTimeTexts::TFileTimeTexts(size_t width, const FormatSettings &fs)
    : width_(width), full_("c", fs), h24_("c", With24HourTime(fs, true)), h24Short_("c", With24HourTime(fs, false)),
      memo_(1024)
{
}

const std::string &TFileTimeTexts::Text(FileTime t)
{
    constexpr uint64_t TicksPerSecond = 10000000, TicksPerMs = 10000;
    constexpr uint64_t DateZero = uint64_t(kDaysFrom1601To1899) * 86400 * TicksPerSecond;
    // From the date zero on, the formatter rounds a time to the millisecond within its
    // day, so any time between 1 and 999 ms into a second shows that second with a time
    // of day that is not zero: unless milliseconds are shown, the whole second decides.
    const uint64_t part = t % TicksPerSecond;
    const bool bySecond = t >= DateZero && part >= TicksPerMs && part < TicksPerSecond - TicksPerMs &&
                          !full_.ShowsFraction() && !h24_.ShowsFraction() && !h24Short_.ShowsFraction();
    const uint64_t key = bySecond ? t / TicksPerSecond : t;
    TMemo &m = memo_[size_t((key ^ (key >> 10) ^ (key >> 24)) & (memo_.size() - 1))];
    if (!m.Used || m.Key != key || m.BySecond != bySecond) {
        const TDateTime d = FileTimeToDateTime(t);
        m.Text = FitText(width_, [&](int form) { return (form == 0 ? full_ : form == 1 ? h24_ : h24Short_).Format(d); });
        m.Key = key;
        m.BySecond = bySecond;
        m.Used = true;
    }
    return m.Text;
}
