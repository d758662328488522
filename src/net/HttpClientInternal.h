// Text tests and case changes the HTTP client's own files share and nothing outside them uses.
#pragma once

#include <string>

namespace httpclient {
std::string LowerAscii(std::string s);
std::string UpperAscii(std::string s);
// A CR, LF or NUL, none of which may reach a header line.
bool HasLineBreak(const std::string &s);
bool AllDigits(const std::string &s);
} // namespace httpclient
