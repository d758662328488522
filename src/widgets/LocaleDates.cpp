#include "widgets/LocaleDates.h"

namespace {

// Qt's pattern letters mapped to the rules' letters; quoted text kept quoted.
std::string ConvertPattern(const QString &pattern, char separator, bool time)
{
    std::string out;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            const qsizetype close = pattern.indexOf(u'\'', i + 1);
            const QString quoted = pattern.mid(i + 1, close < 0 ? -1 : close - i - 1);
            out += '"' + quoted.toStdString() + '"';
            if (close < 0)
                break;
            i = close;
            continue;
        }
        switch (c.unicode()) {
        case 'd': out += 'd'; break;
        case 'M':
        case 'L': out += 'm'; break;
        case 'y': out += 'y'; break;
        case 'h':
        case 'H': out += 'h'; break;
        case 'm': out += time ? 'n' : 'm'; break;
        case 's': out += 's'; break;
        case 'a':
        case 'A':
            out += "ampm";
            if (i + 1 < pattern.size() && (pattern[i + 1] == u'p' || pattern[i + 1] == u'P'))
                ++i; // "AP": one designator
            break;
        case 't': break; // time zone: not shown
        default:
            if (!time && separator != 0 && c.toLatin1() == separator)
                out += '/';
            else if (c.unicode() < 0x80)
                out += c.toLatin1();
            else
                out += QString(c).toStdString();
            break;
        }
    }
    return out;
}

} // namespace

std::string ConvertQtDateFormat(const QString &pattern, char &separator)
{
    // The separator is the first character after the first field that is
    // neither a letter, a blank nor quoted.
    separator = '/';
    bool seenField = false;
    bool quoted = false;
    for (QChar c : pattern) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            seenField = true;
        } else if (seenField && !c.isSpace() && c.unicode() < 0x80) {
            separator = c.toLatin1();
            break;
        }
    }
    return ConvertPattern(pattern, separator, false);
}

DateLocale DateLocaleFromQLocale(const QLocale &locale)
{
    DateLocale out;
    FormatSettings &fs = out.Fmt;
    char sep = '/';
    fs.ShortDateFormat = ConvertQtDateFormat(locale.dateFormat(QLocale::ShortFormat), sep);
    fs.DateSeparator = sep;
    fs.LongDateFormat = ConvertPattern(locale.dateFormat(QLocale::LongFormat), 0, false);
    const QString shortTime = locale.timeFormat(QLocale::ShortFormat);
    fs.ShortTimeFormat = ConvertPattern(shortTime, 0, true);
    fs.LongTimeFormat = ConvertPattern(locale.timeFormat(QLocale::LongFormat), 0, true);
    for (QChar c : shortTime) {
        if (!c.isLetter() && !c.isSpace() && c != u'\'') {
            if (c.unicode() < 0x80)
                fs.TimeSeparator = c.toLatin1();
            break;
        }
    }
    fs.TimeAMString = locale.amText().toStdString();
    fs.TimePMString = locale.pmText().toStdString();
    for (int m = 1; m <= 12; ++m) {
        fs.ShortMonthNames[static_cast<size_t>(m - 1)] = locale.standaloneMonthName(m, QLocale::ShortFormat).toStdString();
        fs.LongMonthNames[static_cast<size_t>(m - 1)] = locale.standaloneMonthName(m, QLocale::LongFormat).toStdString();
    }
    // Qt counts Monday as 1 and Sunday as 7; the rules start at Sunday.
    for (int d = 0; d < 7; ++d) {
        const int qtDay = d == 0 ? 7 : d;
        fs.ShortDayNames[static_cast<size_t>(d)] = locale.dayName(qtDay, QLocale::ShortFormat).toStdString();
        fs.LongDayNames[static_cast<size_t>(d)] = locale.dayName(qtDay, QLocale::LongFormat).toStdString();
    }
    const QLocale::Language lang = locale.language();
    out.FarEast = lang == QLocale::Chinese || lang == QLocale::Japanese || lang == QLocale::Korean;
    return out;
}
