// The formats read once (TDateTimeFormat) and the file-time texts of the scan
// (TFileTimeTexts) against the formatter as it read the format for every time.
#include "util/BaseDateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

std::string Number(long long v, int minDigits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", minDigits, v);
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

// The formatter as it was before formats were read once.
void ReferenceFormat(std::string &out, const std::string &fmt, TDateTime t, const FormatSettings &fs, int depth)
{
    if (depth > 2)
        return;
    t = std::isfinite(t) ? std::clamp(t, -7.0e11, 7.0e11) : 0;
    int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
    DecodeDate(t, year, month, day);
    DecodeTime(t, hour, min, sec, msec);
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
                out += fmt.substr(i + 1);
                i = fmt.size();
            } else {
                out += fmt.substr(i + 1, close - i - 1);
                i = close + 1;
            }
            continue;
        }
        case 'c':
            ReferenceFormat(out, fs.ShortDateFormat, t, fs, depth + 1);
            if (hour || min || sec || msec) {
                out += ' ';
                ReferenceFormat(out, fs.LongTimeFormat, t, fs, depth + 1);
            }
            i += 1;
            lastLetter = 'c';
            continue;
        case 'd': {
            const size_t n = std::min<size_t>(run, 6);
            const int dow = DayOfWeek(t) - 1;
            if (n == 1) out += Number(day, 1);
            else if (n == 2) out += Number(day, 2);
            else if (n == 3) out += fs.ShortDayNames[dow];
            else if (n == 4) out += fs.LongDayNames[dow];
            else if (n == 5) ReferenceFormat(out, fs.ShortDateFormat, t, fs, depth + 1);
            else ReferenceFormat(out, fs.LongDateFormat, t, fs, depth + 1);
            i += n;
            lastLetter = 'd';
            continue;
        }
        case 'm': {
            if (lastLetter == 'h') {
                const size_t n = std::min<size_t>(run, 2);
                out += Number(min, static_cast<int>(n));
                i += n;
            } else {
                const size_t n = std::min<size_t>(run, 4);
                if (n <= 2) out += Number(month, static_cast<int>(n));
                else if (n == 3) out += fs.ShortMonthNames[month - 1];
                else out += fs.LongMonthNames[month - 1];
                i += n;
            }
            lastLetter = 'm';
            continue;
        }
        case 'y':
            if (run <= 2) out += Number(((year % 100) + 100) % 100, 2);
            else out += Number(year, 4);
            i += run;
            lastLetter = 'y';
            continue;
        case 'h': {
            const size_t n = std::min<size_t>(run, 2);
            int h = hour;
            if (ampmFollows(i + n)) {
                h %= 12;
                if (h == 0) h = 12;
            }
            out += Number(h, static_cast<int>(n));
            i += n;
            lastLetter = 'h';
            continue;
        }
        case 'n': {
            const size_t n = std::min<size_t>(run, 2);
            out += Number(min, static_cast<int>(n));
            i += n;
            lastLetter = 'n';
            continue;
        }
        case 's': {
            const size_t n = std::min<size_t>(run, 2);
            out += Number(sec, static_cast<int>(n));
            i += n;
            lastLetter = 's';
            continue;
        }
        case 'z': {
            const size_t n = run >= 3 ? 3 : 1;
            out += Number(msec, n == 3 ? 3 : 1);
            i += n;
            lastLetter = 'z';
            continue;
        }
        case 't':
            if (run >= 2) {
                ReferenceFormat(out, fs.LongTimeFormat, t, fs, depth + 1);
                i += 2;
            } else {
                ReferenceFormat(out, fs.ShortTimeFormat, t, fs, depth + 1);
                i += 1;
            }
            lastLetter = 't';
            continue;
        case 'a':
            if (StartsWithNoCase(fmt, i, "am/pm")) {
                // The case of the specifier is kept in the output.
                out += hour < 12 ? fmt.substr(i, 2) : fmt.substr(i + 3, 2);
                i += 5;
            } else if (StartsWithNoCase(fmt, i, "a/p")) {
                out += hour < 12 ? fmt.substr(i, 1) : fmt.substr(i + 2, 1);
                i += 3;
            } else if (StartsWithNoCase(fmt, i, "ampm")) {
                out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
                i += 4;
            } else {
                out += c;
                i += 1;
            }
            lastLetter = 'a';
            continue;
        case '/':
            out += fs.DateSeparator;
            i += 1;
            continue;
        case ':':
            out += fs.TimeSeparator;
            i += 1;
            continue;
        default:
            if (std::isalpha(static_cast<unsigned char>(c)))
                lastLetter = lc;
            out += c;
            i += 1;
            continue;
        }
    }
}

std::string Reference(const std::string &format, TDateTime t, const FormatSettings &fs)
{
    std::string out;
    ReferenceFormat(out, format.empty() ? std::string("c") : format, t, fs, 0);
    return out;
}

std::string ReferenceFit(TDateTime t, size_t width, const FormatSettings &fs)
{
    std::string text = Reference("c", t, fs);
    if (text.size() <= width)
        return text;
    FormatSettings h24 = fs;
    h24.LongTimeFormat = "hh:nn:ss";
    text = Reference("c", t, h24);
    if (text.size() <= width)
        return text;
    h24.LongTimeFormat = "hh:nn";
    return Reference("c", t, h24);
}

std::vector<FormatSettings> Settings()
{
    std::vector<FormatSettings> all(4);
    all[1].ShortDateFormat = "mm/dd/yyyy";
    all[1].LongTimeFormat = "hh:nn:ss ampm";
    all[1].TimePMString = "odpoludnia";
    all[2].ShortDateFormat = "d. mmmm yyyy 'r.'";
    all[2].LongTimeFormat = "h:mm:ss.zzz";
    all[2].DateSeparator = '.';
    all[3].ShortDateFormat = "yyyy-mm-dd ddd";
    all[3].LongTimeFormat = "hh:nn a/p";
    return all;
}

TEST(DateTimeFormat, ReadOnceWritesWhatTheFormatterWrote)
{
    const std::vector<std::string> formats = {
        "", "c", "c' at noon'", "ddddd dddddd", "d dd ddd dddd m mm mmm mmmm yy yyyy", "hh:mm:ss h:m:s",
        "h am/pm hh AM/PM h a/p hh ampm", "\"quoted c\" 'unclosed", "t tt", "z zzz ss", "hhmm nn mm yyyymmdd",
        "c c", "x/y:z", "am", "dddddd"};
    std::mt19937_64 rng(43);
    std::uniform_real_distribution<double> span(-800000.0, 3000000.0);
    std::vector<TDateTime> times = {0.0, 0.5, -0.25, 1e-9, 43831.999999, 2958465.99999999, -693593.0, std::nan(""),
                                    1e15, -1e15};
    for (int k = 0; k < 300; ++k)
        times.push_back(span(rng));
    for (const FormatSettings &fs : Settings())
        for (const std::string &format : formats) {
            const TDateTimeFormat once(format, fs);
            for (const TDateTime t : times)
                ASSERT_EQ(once.Format(t), Reference(format, t, fs)) << format << " at " << t;
        }
}

TEST(DateTimeFormat, FileTimeTextsMatchTheFitTextOfEveryTime)
{
    constexpr uint64_t Second = 10000000;
    const uint64_t day1899 = uint64_t(109205) * 86400 * Second;
    const uint64_t recent = uint64_t(13300000000) / 86400 * 86400 * Second; // a midnight in the 2020s
    std::mt19937_64 rng(7);
    std::vector<FileTime> times;
    // The edges of a second, of a day and of the date zero, then times spread like a
    // disc's, many sharing their second.
    for (const uint64_t base : {day1899, day1899 - Second, recent, recent + 86399 * Second, uint64_t(Second)})
        for (const uint64_t part : {0ull, 1ull, 4999ull, 5000ull, 9999ull, 10000ull, 5000000ull, 9989999ull, 9990000ull,
                                    9994999ull, 9995000ull, 9999999ull})
            times.push_back(base + part);
    for (int k = 0; k < 500; ++k) {
        const uint64_t second = recent + rng() % (uint64_t(400) * 86400);
        times.push_back(second * Second + rng() % Second);
        times.push_back((second - rng() % 50) * Second + rng() % Second);
    }
    for (const FormatSettings &fs : Settings())
        for (const size_t width : {size_t(10), size_t(16), size_t(19), size_t(30)}) {
            TFileTimeTexts texts(width, fs);
            for (int pass = 0; pass < 2; ++pass) // the second pass is answered from memory
                for (const FileTime t : times) {
                    const std::string want = ReferenceFit(FileTimeToDateTime(t), width, fs);
                    ASSERT_EQ(texts.Text(t), want) << t << " width " << width;
                    ASSERT_EQ(DateTimeToStrFit(FileTimeToDateTime(t), width, fs), want);
                }
        }
}

} // namespace
