#pragma once
// Character-type table and case map for single-byte text, and two string
// length routines. Single bytes above 127 are Windows-1250 characters, the
// form of catalogues written on Windows; their types and cases come from the
// user's locale.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint16_t kCharTypeUpper = 0x0001;
constexpr uint16_t kCharTypeLower = 0x0002;

struct CharTables {
    std::array<uint16_t, 256> CharType{};
    std::array<uint8_t, 256> Lower{};
    std::array<uint8_t, 256> Upper{};
    std::array<uint8_t, 256> Reflect{}; // the other case of a letter, else itself
};

// Built once, for the locale in force at the first call.
const CharTables &GetCharTables();
// Builds the tables for the current locale (what the first call caches).
CharTables BuildCharTables();

bool CharIsUpper(unsigned char c);
bool CharIsLower(unsigned char c);

// Bytes before the first zero (0 for no text).
size_t StrLength(const char *text);
// Cuts the string at its first zero byte.
void StrResetLength(std::string &s);
