#include "platform/VolumeLetters.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include "util/BaseFileUtils.h"

namespace {

constexpr const char *kPrefixes[] = {"uuid:", "optical:", "dev:", "net:", "ram:", "folder:"};
constexpr char kFirstFreeLetter = 'd';
constexpr char kRootLetter = 'c';
constexpr const char *kHeaderComment =
    "# Drive letters of this program. Bind a folder to a letter with a line such as: t=folder:/home/me/Photos";

bool IsFolderIdentity(const std::string &id) { return id.rfind("folder:", 0) == 0; }

// A line as a message shows it: trimmed, and cut when very long.
std::string Shown(const std::string &raw)
{
    const size_t b = raw.find_first_not_of(" \t");
    std::string t = b == std::string::npos ? std::string() : raw.substr(b);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    if (t.size() > 80)
        t = t.substr(0, 77) + "...";
    for (char &c : t)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return t;
}

} // namespace

bool VolumeLetterMap::IsValidIdentity(const std::string &identity)
{
    for (const char *p : kPrefixes) {
        size_t n = std::strlen(p);
        if (identity.size() > n && identity.compare(0, n, p) == 0) {
            if (IsFolderIdentity(identity) && identity[n] != '/')
                return false; // a bound folder must be an absolute path
            return identity.find('\n') == std::string::npos;
        }
    }
    return false;
}

void VolumeLetterMap::Parse(const std::string &text, std::string &problem)
{
    lines_.clear();
    problem.clear();
    std::set<char> letters;
    std::set<std::string> identities;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        Line line;
        line.text = raw;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        // "letter = identity"; blanks around "=" are allowed, the identity is
        // taken to the end of the line as it stands (folder names may end in a blank).
        size_t at = raw.find_first_not_of(" \t");
        if (at != std::string::npos && raw[at] != '#') {
            char letter = char(raw[at] | 0x20);
            size_t eq = raw.find_first_not_of(" \t", at + 1);
            std::string identity;
            if (eq == std::string::npos || raw[eq] != '=')
                letter = 0;
            else {
                size_t idAt = raw.find_first_not_of(" \t", eq + 1);
                identity = idAt == std::string::npos ? std::string() : raw.substr(idAt);
            }
            const char *why = nullptr;
            if (letter < 'a' || letter > 'z')
                why = "no drive letter";
            else if (letter == kRootLetter)
                why = "c: is the root file system";
            else if (IsFolderIdentity(identity) && identity.size() > 7 && identity[7] != '/')
                why = "a bound folder must be an absolute path (beginning with /)";
            else if (!IsValidIdentity(identity))
                why = "unknown volume";
            else if (letters.count(letter))
                why = "letter bound twice";
            else if (identities.count(identity)) {
                why = "volume bound twice";
                // Remembered, so the line stays refused when the first binding
                // later goes to another volume.
                line.shadowed = identity;
            }
            if (why) {
                problem += "line " + std::to_string(number) + " (" + Shown(raw) + "): " + why + "\n";
            } else {
                line.letter = letter;
                line.identity = identity;
                letters.insert(letter);
                identities.insert(identity);
            }
        }
        lines_.push_back(std::move(line));
    }
    if (!problem.empty())
        problem.pop_back();
}

bool VolumeLetterMap::Load(const std::string &path, std::string &problem)
{
    lines_.clear();
    problem.clear();
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (errno == ENOENT)
            return true;
        problem = "letter map " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    if (f.bad()) {
        problem = "letter map " + path + " cannot be read";
        return false;
    }
    Parse(ss.str(), problem);
    return true;
}

std::map<std::string, char> VolumeLetterMap::Assign(const std::vector<std::string> &present, bool &changed)
{
    changed = false;
    std::map<std::string, char> result;
    std::set<std::string> presentSet(present.begin(), present.end());
    std::set<char> held = {kRootLetter};
    // A volume that a refused line also names is never taken over: taking
    // its letter would turn the refused line into a valid one at the next
    // load. Only Parse marks lines refused, so this is known before the loop.
    std::set<std::string> shadowed;
    for (const auto &l : lines_) {
        if (l.letter)
            held.insert(l.letter);
        if (!l.shadowed.empty())
            shadowed.insert(l.shadowed);
    }
    for (const auto &id : present) {
        if (result.count(id) || !IsValidIdentity(id) || IsFolderIdentity(id))
            continue;
        if (auto have = LetterOf(id)) {
            result[id] = *have;
            continue;
        }
        char letter = 0;
        for (char c = kFirstFreeLetter; c <= 'z' && !letter; ++c)
            if (!held.count(c))
                letter = c;
        if (letter) {
            held.insert(letter);
            lines_.push_back({std::string(1, letter) + "=" + id, letter, id, {}});
            result[id] = letter;
            changed = true;
            continue;
        }
        // Every letter is held: take over the letter of a volume that is away,
        // the lowest one, unless a present volume already took it.
        Line *victim = nullptr;
        for (auto &l : lines_)
            if (l.letter && !IsFolderIdentity(l.identity) && !presentSet.count(l.identity) &&
                !shadowed.count(l.identity) && (!victim || l.letter < victim->letter))
                victim = &l;
        if (!victim)
            continue; // no letter left for this volume
        victim->identity = id;
        victim->text = std::string(1, victim->letter) + "=" + id;
        result[id] = victim->letter;
        changed = true;
    }
    return result;
}

std::map<char, std::string> VolumeLetterMap::FolderBindings() const
{
    std::map<char, std::string> out;
    for (const auto &l : lines_)
        if (l.letter && IsFolderIdentity(l.identity))
            out[l.letter] = l.identity.substr(std::strlen("folder:"));
    return out;
}

void VolumeLetterMap::AddHeaderComment()
{
    if (!lines_.empty() && lines_.front().text.rfind(kHeaderComment, 0) == 0)
        return;
    lines_.insert(lines_.begin(), Line{kHeaderComment, 0, {}, {}});
}

std::string VolumeLetterMap::FolderProblems() const
{
    std::string out;
    int number = 0;
    for (const auto &l : lines_) {
        ++number;
        if (!l.letter || !IsFolderIdentity(l.identity))
            continue;
        const std::string folder = l.identity.substr(std::strlen("folder:"));
        struct stat st;
        const char *why = nullptr;
        if (::stat(folder.c_str(), &st) != 0)
            why = "the folder does not exist (the letter is kept for it)";
        else if (!S_ISDIR(st.st_mode))
            why = "a file, not a folder";
        if (why)
            out += std::string(out.empty() ? "" : "\n") + "line " + std::to_string(number) + " (" + Shown(l.text) +
                   "): " + why;
    }
    return out;
}

std::optional<char> VolumeLetterMap::LetterOf(const std::string &identity) const
{
    for (const auto &l : lines_)
        if (l.letter && l.identity == identity)
            return l.letter;
    return std::nullopt;
}

std::string VolumeLetterMap::Text() const
{
    std::string out;
    for (const auto &l : lines_)
        out += l.text + "\n";
    return out;
}

bool VolumeLetterMap::Save(const std::string &path, std::string &problem) const
{
    std::string reason;
    if (!WriteFileAtomically(path, Text(), reason)) {
        problem = "letter map " + path + " cannot be written: " + reason;
        return false;
    }
    return true;
}
