#pragma once
// Small text helpers of browsing: sizes, the drive path of a tree node and
// back, archive members' archives, the record order of the file list and the
// two line helpers of the CDDB reply parsing. All work on byte strings; a
// search is case-sensitive unless said.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Size text of a byte count: above 1048575 bytes in "mb", above 1023 in "kb"
// (two decimals at most, rounded half to even, trailing zeros dropped, written
// with `decimalPoint`), below that the count, a blank, `bytesWord` and a blank.
// Exactly 1024 gives "1 kb" and exactly 1048576 "1 mb".
std::string FormatSize(std::int64_t bytes, char decimalPoint, const std::string &bytesWord);
// The locale's decimal separator when it is one ASCII character, else '.'.
char LocaleDecimalPoint();
// The same with the locale's decimal separator and language string 83.
std::string FormatSize(std::int64_t bytes);

// The whole-number value of a stored size text; 0 for a text that is not a
// number (blanks around it are allowed). 64 bits wide, so files of 2 GiB and
// more keep their size.
std::int64_t SizeValue(std::string_view text);

// A tree node path ("Music\e: [MYDISC]2\docs") as a drive path ("e:\docs").
// Text without "[" comes back unchanged.
std::string DiscPathToDrivePath(const std::string &text);
// The disc name followed by the path from its first "\" on; empty when the
// path holds no "\".
std::string DrivePathToDiscPath(const std::string &disc, const std::string &path);
// The node path from the disc name's drive on: drops a group prefix.
std::string DiscPartOf(const std::string &text);

// True for ".rar", ".zip" and ".cab" exactly.
bool IsArchiveExtension(std::string_view ext);
// The name cut after the first occurrence of the extension (in lower or
// upper case); nullopt when the name holds neither.
std::optional<std::string> ArchivePathOf(const std::string &name, std::string_view lowerExt);
// The archive that holds an archive member: ".zip", ".rar" and ".cab" tried
// in this order, a later match replacing an earlier one; the name itself when
// none matches.
std::string ArchivePathOf(const std::string &name);

// "DTITLE=Abc" with the key "DTITLE" gives "Abc"; a line without the key is
// returned unchanged.
std::string StripKeyPrefix(const std::string &key, const std::string &line);
// The text without the first occurrence of `part`.
std::string RemoveFirst(const std::string &text, const std::string &part);

// Compares two names ignoring the case of the letters a to z only; every other
// byte compares by its code. Negative, zero or positive.
int CompareNamesFoldAZ(std::string_view a, std::string_view b);

// The disc number as the information panel shows it: right-aligned in three
// characters; nullopt for a longer number (the label keeps its text).
std::optional<std::string> DiscNumberLabel(const std::string &number);

// Lower-cases the letters A to Z.
std::string LowerAZ(std::string_view text);

// Widths and places of the information panel's texts for the picture's left
// edge `pictureLeft` and the left edges of StaticText3 and StaticText5.
struct TInfoPanelLayout {
    int text3Width;  // StaticText3 and StaticText4
    int text5Width;  // StaticText5 and StaticText6
    int text7Left;   // StaticText7 and StaticText8
    int text7Width;
};
TInfoPanelLayout InfoPanelLayoutFor(int pictureLeft, int text3Left, int text5Left);
