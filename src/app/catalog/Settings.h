#pragma once
// The application's settings: thirty integers and four texts kept in "cat.ini",
// section "CatalogSettings", plus the colour pairs the windows paint with.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char *SettingsFileName = "cat.ini";
inline constexpr const char *SettingsSection = "CatalogSettings";
inline constexpr const char *DefaultCddbServer = "gnudb.gnudb.org";

struct TSettings {
    std::array<int32_t, 31> Setup{};      // index 1 .. 30
    std::array<std::string, 5> SetupText; // index 1 .. 4

    int32_t &operator[](int i) { return Setup.at(static_cast<size_t>(i)); }
    int32_t operator[](int i) const { return Setup.at(static_cast<size_t>(i)); }
};

// Sets every default of settings 1 .. 20 and the four texts; 21 .. 30 are left
// as they are.
void ApplyDefaultSettings(TSettings &s);

// The range a setting may take (the setup dialog's range); false for the
// settings without a range, which accept any value.
bool SettingRange(int index, int32_t *low, int32_t *high);

// Decimal integer with an optional sign, blanks around it allowed; false for
// anything else (including values outside 32 bits).
bool ParseSettingInt(const std::string &text, int32_t *value);

// A stored value that could not be used as it stands.
struct TBadSetting {
    std::string key;    // "Setup6"
    std::string stored; // the text in the file
    int32_t used = 0;   // the value taken instead
};

struct TSettingsReadResult {
    bool fileRead = true;                  // false when the file existed but could not be read
    bool defaultsOnly = false;             // "Setup1" missing or empty: the file's values were not used
    std::vector<std::string> ignoredKeys;  // keys whose value was not a number
    std::vector<std::string> clampedKeys;  // keys whose value was outside its range
    std::vector<TBadSetting> badValues;    // both of the above, in key order, with the value used
};

// Reads the settings file into s. The defaults are applied first, so a missing
// key keeps its default; when "Setup1" is missing or empty every setting takes
// its default. A value that is not a number is ignored, one outside its range
// is brought into it. A missing "Setup_Text" key gives an empty text, except
// the CDDB server's (an empty server would make every lookup fail).
TSettingsReadResult ReadSettingsFile(const std::string &fileName, TSettings &s);

// Writes the 34 keys into the file's "CatalogSettings" section, keeping every
// other section and line of the file.
bool WriteSettingsFile(const std::string &fileName, const TSettings &s, std::string *error = nullptr);

// Colour values in the stored 0x00BBGGRR order, or system colour constants.
struct TColourPair {
    uint32_t frame;
    uint32_t background;
};
inline constexpr uint32_t clInactiveCaption = 0x80000003u;
inline constexpr uint32_t clInactiveCaptionText = 0x80000013u;
inline constexpr TColourPair InitialColourPair{0xE5A889u, 0xF7DFD6u};
// Pair 0 .. 3; false for any other number.
bool ColourPairOf(int pair, TColourPair *out);
