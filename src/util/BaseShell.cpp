#include "util/BaseShell.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string HomeFolder()
{
    const char *home = std::getenv("HOME");
    return home ? std::string(home) : std::string();
}

bool IsDir(const std::string &path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The value of `key` in user-dirs.dirs: a line KEY="$HOME/Folder" or
// KEY="/absolute/path"; other forms are ignored, as xdg-user-dirs does.
std::string XdgUserDir(const std::string &key, const std::string &home)
{
    std::string configHome;
    if (const char *x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        configHome = x;
    else if (!home.empty())
        configHome = home + "/.config";
    else
        return {};
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line[p] == '#')
            continue;
        if (line.compare(p, key.size(), key) != 0)
            continue;
        p += key.size();
        if (p >= line.size() || line[p] != '=')
            continue;
        ++p;
        if (p >= line.size() || line[p] != '"')
            continue;
        const size_t close = line.find('"', p + 1);
        if (close == std::string::npos)
            continue;
        std::string value;
        // Backslash escapes a following character inside the quotes.
        for (size_t i = p + 1; i < close; ++i) {
            if (line[i] == '\\' && i + 1 < close)
                ++i;
            value += line[i];
        }
        std::string result;
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
            result = home + value.substr(5);
        else if (!value.empty() && value[0] == '/')
            result = value;
        else
            continue;
        while (result.size() > 1 && result.back() == '/')
            result.pop_back();
        return result;
    }
    return {};
}

std::string UserFolder(const char *key, const char *fallbackName)
{
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    std::string dir = XdgUserDir(key, home);
    if (!dir.empty())
        return dir;
    const std::string fallback = home + "/" + fallbackName;
    return IsDir(fallback) ? fallback : home;
}

} // namespace

std::string GetSpecialFolderPath(int folderId)
{
    switch (folderId) {
    case kFolderDesktop: return UserFolder("XDG_DESKTOP_DIR", "Desktop");
    case kFolderPersonal: return UserFolder("XDG_DOCUMENTS_DIR", "Documents");
    default: return {};
    }
}

std::string GetDesktopFolder()
{
    return GetSpecialFolderPath(kFolderDesktop);
}

std::string GetPersonalFolder()
{
    return GetSpecialFolderPath(kFolderPersonal);
}

