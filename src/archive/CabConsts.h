#pragma once
// The fixed English texts of the cabinet reader.
#include <string>

// Text of a decompression (FDI) or compression (FCI) error code of the
// error record; an unknown code gives "FDI error" or "FCI error".
std::string FdiErrorText(int erfOper);
std::string FciErrorText(int erfOper);

inline constexpr const char *SCabWrongFormat = "Cabinet file does not have the correct format";
inline constexpr const char *SCabStreamPosition = "Failure setting file stream position";
inline constexpr const char *SFdiError = "FDI error";
inline constexpr const char *SFciError = "FCI error";
