#pragma once
// CRC-32 with the zip/PNG polynomial, as archive headers and the commit journal check their bytes.
#include <cstddef>
#include <cstdint>

// The CRC-32 of `size` bytes at `data`, continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t *data, size_t size);
