#include "app/catalog/IniFile.h"

#include "util/BaseFileUtils.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "util/TextCodec.h"

namespace {

std::string Trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

bool SameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

TIniFile::Line TIniFile::Parse(const std::string &raw)
{
    Line line;
    line.raw = raw;
    std::string t = Trim(raw);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return line;
    if (t[0] == '[') {
        size_t close = t.find(']');
        if (close != std::string::npos) {
            line.kind = Line::Section;
            line.section = Trim(t.substr(1, close - 1));
        }
        return line;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return line;
    line.kind = Line::Pair;
    line.key = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    // A value in matching quotes is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    line.value = DecodeStoredText(value);
    return line;
}

bool TIniFile::Load()
{
    lines_.clear();
    bom_.clear();
    std::error_code ec;
    if (!std::filesystem::exists(fileName_, ec))
        return true;
    auto size = std::filesystem::file_size(fileName_, ec);
    if (ec || size > MaxFileSize)
        return false;
    std::ifstream in(fileName_, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // UTF-8 byte-order marks are not part of the first line; editors have been
    // seen to put more than one. They are written back as they were read.
    bom_.clear();
    while (text.size() >= bom_.size() + 3 && text.compare(bom_.size(), 3, "\xEF\xBB\xBF") == 0)
        bom_ += "\xEF\xBB\xBF";
    text.erase(0, bom_.size());
    std::string raw;
    std::istringstream ss(text);
    while (std::getline(ss, raw)) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        lines_.push_back(Parse(raw));
    }
    return true;
}

int TIniFile::FindSection(const std::string &section) const
{
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && SameText(lines_[i].section, section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::FindKey(const std::string &section, const std::string &key) const
{
    int s = FindSection(section);
    if (s < 0)
        return -1;
    for (size_t i = static_cast<size_t>(s) + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Section)
            break;
        if (lines_[i].kind == Line::Pair && SameText(lines_[i].key, key))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &defaultValue, bool *found) const
{
    int i = FindKey(section, key);
    if (found)
        *found = i >= 0;
    return i >= 0 ? lines_[static_cast<size_t>(i)].value : defaultValue;
}

bool TIniFile::KeyExists(const std::string &section, const std::string &key) const
{
    return FindKey(section, key) >= 0;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(const std::string &section) const
{
    std::vector<std::pair<std::string, std::string>> out;
    int s = FindSection(section);
    if (s < 0)
        return out;
    for (size_t i = static_cast<size_t>(s) + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (lines_[i].kind == Line::Pair)
            out.emplace_back(lines_[i].key, lines_[i].value);
    return out;
}

void TIniFile::WriteString(const std::string &section, const std::string &key, const std::string &value)
{
    // Line breaks would split the value into lines of their own.
    std::string clean;
    for (char c : value)
        clean += (c == '\n' || c == '\r') ? ' ' : c;
    Line pair;
    pair.kind = Line::Pair;
    pair.key = key;
    pair.value = clean;
    pair.raw = key + "=" + clean;

    int k = FindKey(section, key);
    if (k >= 0) {
        pair.key = lines_[static_cast<size_t>(k)].key;
        pair.raw = pair.key + "=" + clean;
        lines_[static_cast<size_t>(k)] = pair;
        return;
    }
    int s = FindSection(section);
    if (s < 0) {
        if (!lines_.empty() && !Trim(lines_.back().raw).empty())
            lines_.push_back(Parse(""));
        Line header;
        header.kind = Line::Section;
        header.section = section;
        header.raw = "[" + section + "]";
        lines_.push_back(header);
        lines_.push_back(pair);
        return;
    }
    // After the section's last pair, so blank lines before the next section stay there.
    size_t insertAt = static_cast<size_t>(s) + 1;
    for (size_t i = insertAt; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (lines_[i].kind == Line::Pair)
            insertAt = i + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), pair);
}

std::string TIniFile::Text() const
{
    std::string out = bom_;
    for (const Line &l : lines_) {
        out += l.raw;
        out += "\r\n";
    }
    return out;
}

bool TIniFile::Save(std::string *error) const
{
    std::string reason;
    if (!WriteFileAtomically(fileName_, Text(), reason)) {
        if (error)
            *error = "Cannot write " + fileName_ + ": " + reason;
        return false;
    }
    return true;
}
