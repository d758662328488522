#include "util/StrUtils.h"

bool IsEmptyStr(std::string_view text, std::string_view chars)
{
    return text.find_first_not_of(chars) == std::string_view::npos;
}

std::string ReplaceStr(std::string_view text, std::string_view search, std::string_view replacement)
{
    if (search.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at = text.find(search); at != std::string_view::npos; at = text.find(search, from)) {
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + search.size();
    }
    out.append(text.substr(from));
    return out;
}

std::string MakeStr(char c, int count)
{
    return count < 1 ? std::string() : std::string(static_cast<size_t>(count), c);
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
