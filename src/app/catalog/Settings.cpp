#include "app/catalog/Settings.h"

#include <charconv>

#include "app/catalog/IniFile.h"

namespace {

struct Default {
    int index;
    int32_t value;
    int32_t low, high; // low > high: no range
};

// Defaults and the ranges the setup dialog allows. The pause and the search
// limit take any number typed there (their arrows' range is the dialog's own).
constexpr Default kDefaults[] = {
    {1, 1, 0, 2},        {2, 0, 0, 1},      {3, 0, 0, 1},   {4, 0, 0, 1},  {5, 0, 0, 1},
    {6, 1000, 1, 0},     {7, 1000, 1, 0},
    {8, 742, 100, 32767}, {9, 525, 100, 32767},
    {10, 1, 0, 1},       {11, 0, 0, 3},     {12, 0, 0, 1},  {13, 1, 0, 1}, {14, 0, 0, 1},
    {15, 0, 0, 1},       {16, 1, 0, 1},     {17, 1, 0, 1},  {18, 4, 1, 4}, {19, 0, 0, 2},
    {20, 1, 0, 1},
};

std::string Trimmed(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

} // namespace

void ApplyDefaultSettings(TSettings &s)
{
    for (const Default &d : kDefaults)
        s[d.index] = d.value;
    s.SetupText[1] = "80";
    s.SetupText[2] = DefaultCddbServer;
    s.SetupText[3].clear();
    s.SetupText[4].clear();
}

bool SettingRange(int index, int32_t *low, int32_t *high)
{
    for (const Default &d : kDefaults)
        if (d.index == index && d.low <= d.high) {
            *low = d.low;
            *high = d.high;
            return true;
        }
    return false;
}

bool ParseSettingInt(const std::string &text, int32_t *value)
{
    std::string t = Trimmed(text);
    if (t.empty())
        return false;
    const char *b = t.data();
    const char *e = t.data() + t.size();
    if (*b == '+')
        ++b;
    if (b == e)
        return false;
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(b, e, v, 10);
    if (ec != std::errc() || ptr != e)
        return false;
    *value = v;
    return true;
}

TSettingsReadResult ReadSettingsFile(const std::string &fileName, TSettings &s)
{
    TSettingsReadResult result;
    ApplyDefaultSettings(s);
    TIniFile ini(fileName);
    if (!ini.Load()) {
        result.fileRead = false;
        result.defaultsOnly = true;
        return result;
    }
    if (ini.ReadString(SettingsSection, "Setup1", "").empty()) {
        result.defaultsOnly = true;
        return result;
    }
    for (int i = 1; i <= 30; ++i) {
        const std::string key = "Setup" + std::to_string(i);
        const std::string text = ini.ReadString(SettingsSection, key, "");
        if (text.empty())
            continue;
        int32_t v = 0;
        if (!ParseSettingInt(text, &v)) {
            result.ignoredKeys.push_back(key);
            result.badValues.push_back({key, text, s[i]});
            continue;
        }
        int32_t lo = 0, hi = 0;
        if (SettingRange(i, &lo, &hi) && (v < lo || v > hi)) {
            result.clampedKeys.push_back(key);
            v = v < lo ? lo : hi;
            result.badValues.push_back({key, text, v});
        }
        s[i] = v;
    }
    for (int i = 1; i <= 4; ++i) {
        bool found = false;
        std::string v = ini.ReadString(SettingsSection, "Setup_Text" + std::to_string(i), "", &found);
        if (found || i != 2)
            s.SetupText[static_cast<size_t>(i)] = v;
    }
    return result;
}

bool WriteSettingsFile(const std::string &fileName, const TSettings &s, std::string *error)
{
    TIniFile ini(fileName);
    // An unreadable old file is replaced rather than merged.
    ini.Load();
    for (int i = 1; i <= 30; ++i)
        ini.WriteString(SettingsSection, "Setup" + std::to_string(i), std::to_string(s[i]));
    for (int i = 1; i <= 4; ++i)
        ini.WriteString(SettingsSection, "Setup_Text" + std::to_string(i), s.SetupText[static_cast<size_t>(i)]);
    return ini.Save(error);
}

bool ColourPairOf(int pair, TColourPair *out)
{
    switch (pair) {
    case 0: *out = {clInactiveCaption, clInactiveCaptionText}; return true;
    case 1: *out = {0xE5A889u, 0xF7DFD6u}; return true;
    case 2: *out = {0xD2C6C2u, 0xF5F1F0u}; return true;
    case 3: *out = {0xA8D5A9u, 0xECF6F6u}; return true;
    default: return false;
    }
}
