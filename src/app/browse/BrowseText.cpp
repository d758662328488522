// Text helpers of browsing; see BrowseText.h.
#include "app/browse/BrowseText.h"

#include <QLocale>

#include <charconv>
#include <cmath>

#include "app/LangUnit.h"

namespace {

// Hundredths of bytes / unit, rounded half to even, without overflow.
std::int64_t RoundedHundredths(std::int64_t bytes, std::int64_t unit)
{
    const std::int64_t whole = bytes / unit;
    const std::int64_t rest = bytes % unit; // below unit (2^20), so rest * 100 fits
    std::int64_t hundredths = whole * 100 + rest * 100 / unit;
    const std::int64_t remainder = rest * 100 % unit;
    if (remainder * 2 > unit || (remainder * 2 == unit && hundredths % 2 != 0))
        ++hundredths;
    return hundredths;
}

std::string TwoDecimals(std::int64_t hundredths, char decimalPoint)
{
    std::string text = std::to_string(hundredths / 100);
    const int cents = static_cast<int>(hundredths % 100);
    if (cents != 0) {
        text += decimalPoint;
        text += static_cast<char>('0' + cents / 10);
        if (cents % 10 != 0)
            text += static_cast<char>('0' + cents % 10);
    }
    return text;
}

char FoldAZ(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FormatSize(std::int64_t bytes, char decimalPoint, const std::string &bytesWord)
{
    constexpr std::int64_t kb = 1024;
    constexpr std::int64_t mb = 1024 * 1024;
    if (bytes >= mb)
        return TwoDecimals(RoundedHundredths(bytes, mb), decimalPoint) + " mb";
    if (bytes >= kb)
        return TwoDecimals(RoundedHundredths(bytes, kb), decimalPoint) + " kb";
    return std::to_string(bytes) + " " + bytesWord + " ";
}

char LocaleDecimalPoint()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 0x80 ? static_cast<char>(point.at(0).unicode()) : '.';
}

std::string FormatSize(std::int64_t bytes)
{
    return FormatSize(bytes, LocaleDecimalPoint(), langunit::LangString(83));
}

std::int64_t SizeValue(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return 0;
    return value;
}

std::string DiscPathToDrivePath(const std::string &text)
{
    const size_t open = text.find('[');
    if (open == std::string::npos)
        return text;
    const size_t driveStart = open >= 3 ? open - 3 : 0;
    const std::string drive = text.substr(driveStart, std::min<size_t>(2, open - driveStart));
    const size_t close = text.find(']');
    std::string rest = close == std::string::npos ? std::string() : text.substr(close + 1);
    // The number that makes a disc name unique stands between "]" and the
    // first folder.
    const size_t slash = rest.find('\\');
    if (slash != std::string::npos)
        rest.erase(0, slash);
    return drive + rest;
}

std::string DrivePathToDiscPath(const std::string &disc, const std::string &path)
{
    const size_t slash = path.find('\\');
    if (slash == std::string::npos)
        return {};
    return disc + path.substr(slash);
}

std::string DiscPartOf(const std::string &text)
{
    const size_t open = text.find('[');
    if (open == std::string::npos)
        return text;
    return text.substr(open >= 3 ? open - 3 : 0);
}

bool IsArchiveExtension(std::string_view ext)
{
    return ext == ".rar" || ext == ".zip" || ext == ".cab";
}

std::optional<std::string> ArchivePathOf(const std::string &name, std::string_view lowerExt)
{
    std::string upper(lowerExt);
    for (char &c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    const size_t lower = name.find(lowerExt);
    const size_t up = name.find(upper);
    const size_t at = std::min(lower, up);
    if (at == std::string::npos)
        return std::nullopt;
    return name.substr(0, at + lowerExt.size());
}

std::string ArchivePathOf(const std::string &name)
{
    std::string result = name;
    for (std::string_view ext : {".zip", ".rar", ".cab"})
        if (std::optional<std::string> cut = ArchivePathOf(name, ext))
            result = *cut;
    return result;
}

std::string StripKeyPrefix(const std::string &key, const std::string &line)
{
    const size_t at = line.find(key);
    if (key.empty() || at == std::string::npos)
        return line;
    // As many characters as the 1-based position of the first "=".
    const size_t eq = line.find('=');
    const size_t count = eq == std::string::npos ? 0 : eq + 1;
    std::string out = line;
    out.erase(at, count);
    return out;
}

std::string RemoveFirst(const std::string &text, const std::string &part)
{
    const size_t at = text.find(part);
    if (part.empty() || at == std::string::npos)
        return text;
    std::string out = text;
    out.erase(at, part.size());
    return out;
}

int CompareNamesFoldAZ(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldAZ(a[i]));
        const auto y = static_cast<unsigned char>(FoldAZ(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::optional<std::string> DiscNumberLabel(const std::string &number)
{
    if (number.size() > 3)
        return std::nullopt;
    return std::string(3 - number.size(), ' ') + number;
}

std::string LowerAZ(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = FoldAZ(c);
    return out;
}

TInfoPanelLayout InfoPanelLayoutFor(int pictureLeft, int text3Left, int text5Left)
{
    TInfoPanelLayout l{};
    l.text3Width = pictureLeft - text3Left - 5;
    // The file's name takes 1/1.6 of the line, the type name the rest;
    // halves round to even.
    l.text5Width = static_cast<int>(std::nearbyint(l.text3Width / 1.6));
    l.text7Left = text5Left + l.text5Width + 5;
    l.text7Width = pictureLeft - l.text7Left - 5;
    return l;
}
