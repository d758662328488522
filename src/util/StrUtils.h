#pragma once
// Small string routines shared across the tree.
#include <string>
#include <string_view>

// True when every character of the text is one of `chars` (True for "").
bool IsEmptyStr(std::string_view text, std::string_view chars);
// Every occurrence of `search`, left to right and not overlapping, replaced.
// The text after each replacement is searched, never the replacement itself.
std::string ReplaceStr(std::string_view text, std::string_view search, std::string_view replacement);
// `count` copies of `c`; "" for a count below 1.
std::string MakeStr(char c, int count);
// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);
