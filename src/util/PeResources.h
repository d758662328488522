#pragma once
// Reading the resources of a Windows program file (PE format) from its bytes:
// the icon of a program for the catalogue, and its fixed version record.
// Every offset and length in the file is checked against the bytes present; a
// malformed file gives no result, never a read outside the buffer.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// One-image icon stream (.ico layout: 6-byte header, one 16-byte directory
// entry, the image) holding the program's 16 x 16 icon image from its first
// icon group; when the group has no 16 x 16 image, the smallest larger one
// (else the largest). Empty when the file has no usable icon.
std::string ExtractSmallIconStream(std::string_view peBytes);

// The 52-byte fixed version record (13 double words) of the first version
// resource, when its value is exactly 52 bytes.
bool ReadPeFixedVersion(std::string_view peBytes, std::array<uint32_t, 13> &info);
