#pragma once
// The text boundary of the engines: stored bytes are UTF-8 when we wrote them,
// Windows-1250 in catalogues written on Windows. Every layer
// that reads stored text decodes it here, so the rule lives in one place.
#include <cstddef>
#include <string>
#include <string_view>

// Appends the UTF-8 form of the code point `cp` to `out`.
void AppendUtf8(std::string &out, char32_t cp);

// Length of the well-formed UTF-8 character starting at byte `i` of `s`
// (i < s.size()), or 0 when the bytes there are not one. `cp` receives the
// code point.
size_t DecodeUtf8Char(std::string_view s, size_t i, char32_t &cp);

// True when every byte is below 0x80: such a text reads the same in every
// stored encoding.
bool IsAscii(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence).
bool IsValidUtf8(std::string_view bytes);

// Valid UTF-8 comes back unchanged; anything else is taken, as a whole, as
// Windows-1250 and returned as UTF-8. This is where a stored text becomes the
// program's text: every reader of a text field gets it through here.
std::string DecodeStoredText(std::string_view bytes);

// DecodeStoredText without a copy for the common case: a view of `bytes` when
// they are UTF-8, else of `scratch`, which then holds their decoded form.
std::string_view StoredTextView(std::string_view bytes, std::string &scratch);

// Whether two stored texts are the same text, whatever the encoding of each
// (a disc name in Windows-1250 against the same name in UTF-8).
bool SameStoredText(std::string_view a, std::string_view b);

// `bytes` read as DOS code page 852, in UTF-8: the names archivers on DOS,
// OS/2 and Windows store when they store no Unicode form.
std::string OemToUtf8(std::string_view bytes);

// Converts UTF-8 to Windows-1250; characters the code page lacks (and invalid
// input bytes) become `replacement`.
std::string Utf8ToCp1250(std::string_view utf8, char replacement = '?');

// At most `width` bytes of `utf8`, never ending inside a UTF-8 character.
std::string CutToByteWidth(std::string_view utf8, size_t width);

// The number of characters of a stored text: code points of valid UTF-8, else
// bytes (a text in Windows-1250 has one byte per character).
size_t StoredTextLength(std::string_view bytes);

// At most `width` characters of a stored text (counted as StoredTextLength
// counts them), never ending inside a character.
std::string_view CutToCharWidth(std::string_view bytes, size_t width);
