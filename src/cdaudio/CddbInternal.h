// Reply codes, quoting and text helpers the CDDB component's own files share and nothing outside them uses.
#pragma once

#include <cstdint>
#include <string>

namespace cddbtext {
inline constexpr const char *kLineTerm = "\r\n";

std::string Upper(std::string s);
bool StartsWith(const std::string &s, const char *prefix);
// The reply code of a line that begins with three digits; -1 otherwise.
int CodeOf(const std::string &line);
// A server line quoted in a status text: short and on one line.
std::string Quoted(const std::string &line);
std::string Hex8(uint32_t v, bool upper);
// No line break may reach a header line.
std::string OneLine(std::string s);
} // namespace cddbtext
