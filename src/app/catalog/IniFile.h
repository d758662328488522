#pragma once
// Our own reader/writer of the settings file's name=value format. Sections and
// keys are matched ignoring letter case, like the old settings files expect;
// every line we do not change (other sections, comments, unknown keys) is kept
// as it was when the file is written back.
#include <string>
#include <vector>

class TIniFile {
public:
    // Files larger than this are not read: a settings file is a few hundred bytes.
    static constexpr size_t MaxFileSize = 1 << 20;

    explicit TIniFile(std::string fileName);

    // Reads the file; a missing or unreadable file gives an empty document.
    // Returns false when the file exists but could not be read or is too large.
    bool Load();

    const std::string &FileName() const { return fileName_; }

    // The value of key in section; `found` tells whether the key was there.
    // Values are trimmed of blanks; stored bytes that are not UTF-8 are decoded
    // as Windows-1250.
    std::string ReadString(const std::string &section, const std::string &key,
                           const std::string &defaultValue, bool *found = nullptr) const;
    bool KeyExists(const std::string &section, const std::string &key) const;
    // Every name=value pair of a section, in file order.
    std::vector<std::pair<std::string, std::string>> ReadSection(const std::string &section) const;

    // Sets a value in memory: an existing key is changed where it stands, a new
    // key goes to the end of its section, a new section to the end of the file.
    void WriteString(const std::string &section, const std::string &key, const std::string &value);

    // Writes the document to a temporary file beside the target and renames it
    // into place, so a failed write never leaves a half-written file.
    bool Save(std::string *error = nullptr) const;

    // The document as it would be written.
    std::string Text() const;

private:
    struct Line {
        std::string raw;      // the line as read (without end of line)
        std::string section;  // for a section header: its name
        std::string key;      // for key=value lines: the trimmed key
        std::string value;    // for key=value lines: the trimmed value
        enum Kind { Other, Section, Pair } kind = Other;
    };
    int FindSection(const std::string &section) const;   // index of header line or -1
    int FindKey(const std::string &section, const std::string &key) const;
    static Line Parse(const std::string &raw);

    std::string fileName_;
    std::string bom_; // the byte-order marks the file began with
    std::vector<Line> lines_;
};
