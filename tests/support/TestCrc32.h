#pragma once
// The tests' own CRC-32 (the zip/PNG polynomial, bit by bit): what they write
// and expect is checked against a second reading of the rule, not the
// program's table.
#include <cstdint>
#include <string>

inline uint32_t TestCrc32(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : data) {
        crc ^= ch;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}
