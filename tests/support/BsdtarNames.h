#pragma once
// The member names of an archive as bsdtar (libarchive's own readers) lists
// them, up to the first error, folders without their trailing slash.
#include <cstdio>
#include <string>
#include <vector>

namespace orbtest {

inline std::vector<std::string> BsdtarNames(const std::string &path)
{
    std::vector<std::string> names;
    FILE *p = popen(("LC_ALL=C.UTF-8 bsdtar -tf '" + path + "' 2>/dev/null").c_str(), "r");
    if (!p)
        return names;
    char line[4096];
    while (fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '/'))
            s.pop_back();
        names.push_back(s);
    }
    pclose(p);
    return names;
}

} // namespace orbtest
