#pragma once
// Writes small RAR archives for the tests, with members stored uncompressed:
// format 1.5-4.x (marker, main header, file headers with their header CRC,
// optional comment block, end block) and format 5.0 (variable-length integers,
// a CRC32 per header). Fields can be forced to wrong values to build broken
// archives. Fixtures in clear are also listed by bsdtar in the tests, which
// shows that what we write is real RAR; bsdtar reads no encrypted headers.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/TestCrc32.h"

namespace rartest {

struct Rar4Member {
    std::string name;          // stored as it stands (bytes)
    std::u32string unicodeName; // when set: plain name, zero, then the packed Unicode form
    std::string data;
    bool directory = false;
    unsigned window = 0;       // dictionary code 0..6 (64 KB << code)
    uint8_t host = 2;          // 0 DOS, 1 OS/2, 2 Windows, 3 Unix
    uint32_t dosTime = 0x5A8C6B2F;
    uint32_t attr = 0x20;
    uint8_t unpVer = 29;
    uint8_t method = 0x30;     // 0x30 stored
    bool splitBefore = false, splitAfter = false, encrypted = false;
    std::optional<uint64_t> unpSize; // declared unpacked size (default: data size)
    bool large = false;              // write the high 32 bits of both sizes
    std::optional<uint32_t> crc;     // declared data CRC (default: computed)
    std::optional<uint16_t> nameSizeField; // forced NAME_SIZE
};

struct Rar4Options {
    bool volume = false, newNumbering = false, firstVolume = false, solid = false;
    std::optional<std::string> comment; // CMT block after the main header
    uint8_t commentMethod = 0x30;       // other than 0x30: packed with PackLiterals29
    std::optional<uint32_t> commentCrc; // declared CRC (default: computed)
    // A format 1.5-2.x comment inside the main header instead, stored.
    std::optional<std::string> oldComment;
    bool endBlock = true;
    bool nextVolume = false; // end block says another volume follows
    // Headers after the main header encrypted with this password (AES-128,
    // each after the 8-byte salt), as the main header's flag 0x0080 says.
    std::optional<std::string> headerPassword;
    std::string salt = "SaltSalt";
};

std::string WriteRar4(const std::vector<Rar4Member> &members, const Rar4Options &options = {});

struct Rar5Member {
    std::string name; // UTF-8
    std::string data;
    bool directory = false;
    uint64_t host = 0; // 0 Windows, 1 Unix
    std::optional<uint32_t> mtime = 1700000000u;
    uint64_t attr = 0x20;
    unsigned method = 0;   // 0 stored
    unsigned dictCode = 0; // 128 KB << code
    bool solid = false;
    bool splitBefore = false, splitAfter = false, encrypted = false;
    std::optional<uint64_t> unpSize;
    std::optional<uint32_t> crc;
    std::optional<uint64_t> nameLengthField; // forced name length
    bool service = false; // write a service header (type 3) instead
};

struct Rar5Options {
    bool volume = false;
    std::optional<uint64_t> volumeNumber;
    std::optional<std::string> comment;
    unsigned commentMethod = 0; // other than 0: packed with PackLiterals50
    bool nextVolume = false;
    bool endBlock = true;
    bool encryptedHeaders = false; // an encryption header before the main header
    // With encryptedHeaders: every header after the encryption header is
    // encrypted with this password (AES-256, each after its own IV); without
    // one, random bytes stand where the encrypted main header would be.
    std::optional<std::string> headerPassword;
    unsigned kdfLg2 = 15;
    bool pswCheck = true; // write the password check value
    // Change one byte of the check value after its checksum was taken, as
    // damage would.
    bool pswCheckDamaged = false;
};

std::string WriteRar5(const std::vector<Rar5Member> &members, const Rar5Options &options = {});

// Packed streams made of literals only, which the decoders of each format read
// back as `data`: the format 2.9 scheme (unpVer 29, method 0x33; Huffman
// tables, an 8- or 9-bit code per byte, then the end code) and the format
// 5.0 scheme (one last block with its tables, one 8-bit code per byte).
std::string PackLiterals29(const std::string &data);
std::string PackLiterals50(const std::string &data);

// Appends a RAR 5 variable-length integer.
void PutVInt(std::string &out, uint64_t value);

} // namespace rartest
