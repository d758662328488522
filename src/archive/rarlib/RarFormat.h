#pragma once
// Header parsers of the RAR listing library: archives of format 1.5 to 4.x and
// of format 5.0, one volume at a time. Everything here works on bytes already
// read, so every length a header claims is checked against what is present.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/Crc32.h"

namespace rarlib {

// Reads bounded little-endian fields; any read past the end clears ok() and
// yields zeros, so a parser checks ok() once after a group of fields.
class ByteCursor {
public:
    ByteCursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    // RAR 5 variable-length integer: 7 bits a byte, lowest first, at most 10 bytes.
    uint64_t VInt();
    // `count` bytes, or nullptr (and not ok) when fewer are left.
    const uint8_t *Bytes(uint64_t count);
    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t left() const { return ok_ ? size_ - pos_ : 0; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

enum class BlockKind { Main, File, Service, End, Encryption, Other };

// One header as the parsers understand it. File and service headers fill the
// member fields; main and end headers fill the archive fields.
struct Block {
    BlockKind kind = BlockKind::Other;
    uint64_t headerSize = 0; // bytes of the header itself, CRC included
    uint64_t dataSize = 0;   // bytes of data that follow the header

    // Main header.
    bool volume = false, solid = false, locked = false, newNumbering = false;
    bool firstVolume = false, recovery = false, encryptedHeaders = false, oldComment = false;
    // End header: another volume follows.
    bool nextVolume = false;

    // File and service headers.
    std::string name; // UTF-8 when the archive says so, else the stored bytes (see MemberName)
    bool nameIsUnicode = false;
    bool directory = false, encrypted = false, splitBefore = false, splitAfter = false;
    bool fileSolid = false, hasCrc = false, hasBlake2 = false;
    uint64_t unpSize = 0;
    uint32_t hostOS = 0;   // RAR 1.5-4.x host codes (0 DOS, 1 OS/2, 2 Windows, 3 Unix, ...)
    uint32_t crc = 0;
    uint32_t dosTime = 0;  // MS-DOS date and time, local time
    int64_t unixTime = 0;  // seconds since 1970, when known
    bool hasUnixTime = false;
    uint32_t unpVer = 0;   // 15 .. 50
    uint32_t method = 0;   // 0x30 stored .. 0x35 best
    uint32_t attr = 0;
    uint32_t windowCode = 0; // dictionary = 64 KB << code (0..6)
    uint64_t dictKB = 0;
    uint8_t blake2[32] = {};

    // Format 5.0 encryption header: what derives the key of the headers that follow.
    uint8_t salt[16] = {};
    uint32_t kdfLg2 = 0;
    bool hasPswCheck = false;
    uint8_t pswCheck[12] = {}; // 8 bytes of check value, 4 of its checksum
};

enum class ParseResult { Ok, NeedMore, Bad };

// Signature at the start of `data`: 4 for format 1.5-4.x, 5 for format 5.0,
// 0 for none. `sigSize` receives the signature's length.
int DetectFormat(const uint8_t *data, size_t size, size_t &sigSize);

// Parses the header at the start of `data` (`size` bytes available there).
// NeedMore: the header claims more bytes than were given (`needed` says how
// many); Bad: the header is malformed or its CRC does not match.
ParseResult ParseBlock4(const uint8_t *data, size_t size, Block &out, size_t &needed);
ParseResult ParseBlock5(const uint8_t *data, size_t size, Block &out, size_t &needed);

// The 1.5-4.x compressed Unicode name that follows the plain name and a zero.
std::u32string DecodeRar4UnicodeName(const uint8_t *plain, size_t plainSize, const uint8_t *enc,
                                     size_t encSize);

// The member's name in UTF-8. A name without a Unicode form was stored in the
// DOS code page when DOS, OS/2 or Windows made the archive; one from another
// system is kept as it was stored.
std::string MemberName(const Block &b);

std::string Utf32ToUtf8(const std::u32string &text);
// The characters of a UTF-8 text; a text that is not UTF-8 is taken byte by
// byte (Latin-1).
std::u32string Utf8ToUtf32(const std::string &text);

// MS-DOS date and time (local time) for a time in seconds since 1970; times
// before 1980 become 1980-01-01 00:00.
uint32_t UnixToDosTime(int64_t unixTime);
// Seconds since 1970 for an MS-DOS date and time read as local time; false for
// an impossible date.
bool DosTimeToUnix(uint32_t dosTime, int64_t &unixTime);

// Name of the volume after `name`: "x.part01.rar" -> "x.part02.rar" when
// `newNumbering`, else "x.rar" -> "x.r00" -> "x.r01" ... "x.r99" -> "x.s00".
std::string NextVolumeName(const std::string &name, bool newNumbering);

} // namespace rarlib
