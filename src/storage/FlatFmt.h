#pragma once
// printf-style formatting into a std::string, for the table engine's messages
// and stored texts.
#include <cstdio>
#include <string>

template <typename... Args> std::string Fmt(const char *format, Args... args)
{
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}
