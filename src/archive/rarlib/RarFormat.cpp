#include "RarFormat.h"

#include "util/TextCodec.h"

#include <cstring>
#include <ctime>

namespace rarlib {

namespace {

// Largest header a format 5.0 archive may hold.
constexpr uint64_t kMaxHeader5 = 2 * 1024 * 1024;

} // namespace

uint8_t ByteCursor::U8()
{
    const uint8_t *p = Bytes(1);
    return p ? p[0] : 0;
}

uint16_t ByteCursor::U16()
{
    const uint8_t *p = Bytes(2);
    return p ? uint16_t(p[0] | p[1] << 8) : 0;
}

uint32_t ByteCursor::U32()
{
    const uint8_t *p = Bytes(4);
    return p ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24 : 0;
}

uint64_t ByteCursor::U64()
{
    uint64_t lo = U32();
    uint64_t hi = U32();
    return ok_ ? lo | hi << 32 : 0;
}

uint64_t ByteCursor::VInt()
{
    uint64_t value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
        const uint8_t *p = Bytes(1);
        if (!p)
            return 0;
        value |= uint64_t(p[0] & 0x7F) << shift;
        if (!(p[0] & 0x80))
            return value;
    }
    ok_ = false; // more than ten bytes: not a number
    return 0;
}

const uint8_t *ByteCursor::Bytes(uint64_t count)
{
    if (!ok_ || count > size_ - pos_) {
        ok_ = false;
        return nullptr;
    }
    const uint8_t *p = data_ + pos_;
    pos_ += size_t(count);
    return p;
}

int DetectFormat(const uint8_t *data, size_t size, size_t &sigSize)
{
    static const uint8_t sig4[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    static const uint8_t sig5[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
    if (size >= 8 && std::memcmp(data, sig5, 8) == 0) {
        sigSize = 8;
        return 5;
    }
    if (size >= 7 && std::memcmp(data, sig4, 7) == 0) {
        sigSize = 7;
        return 4;
    }
    sigSize = 0;
    return 0;
}

std::u32string DecodeRar4UnicodeName(const uint8_t *plain, size_t plainSize, const uint8_t *enc,
                                     size_t encSize)
{
    std::u32string out;
    if (encSize == 0)
        return out;
    // The name can never be longer than its plain form; bound it anyway.
    const size_t maxSize = 2048;
    size_t pos = 0;
    const uint32_t high = enc[pos++];
    unsigned flags = 0;
    int flagBits = 0;
    while (pos < encSize && out.size() < maxSize) {
        if (flagBits == 0) {
            flags = enc[pos++];
            flagBits = 8;
        }
        switch (flags >> 6) {
        case 0:
            if (pos >= encSize)
                return out;
            out.push_back(enc[pos++]);
            break;
        case 1:
            if (pos >= encSize)
                return out;
            out.push_back(enc[pos++] + (high << 8));
            break;
        case 2:
            if (pos + 1 >= encSize)
                return out;
            out.push_back(enc[pos] | uint32_t(enc[pos + 1]) << 8);
            pos += 2;
            break;
        default: {
            if (pos >= encSize)
                return out;
            unsigned length = enc[pos++];
            if (length & 0x80) {
                if (pos >= encSize)
                    return out;
                const uint8_t correction = enc[pos++];
                for (length = (length & 0x7F) + 2; length > 0 && out.size() < maxSize; --length) {
                    const size_t at = out.size();
                    const uint8_t base = at < plainSize ? plain[at] : 0;
                    out.push_back(uint32_t(uint8_t(base + correction)) + (high << 8));
                }
            } else {
                for (length += 2; length > 0 && out.size() < maxSize; --length) {
                    const size_t at = out.size();
                    out.push_back(at < plainSize ? plain[at] : 0);
                }
            }
            break;
        }
        }
        flags = (flags << 2) & 0xFF;
        flagBits -= 2;
    }
    return out;
}

std::string MemberName(const Block &b)
{
    const bool dosFamily = b.hostOS == 0 || b.hostOS == 1 || b.hostOS == 2;
    return b.nameIsUnicode || !dosFamily ? b.name : OemToUtf8(b.name);
}

std::string Utf32ToUtf8(const std::u32string &text)
{
    std::string out;
    for (char32_t c : text) {
        if (c == 0)
            break;
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

std::u32string Utf8ToUtf32(const std::string &text)
{
    std::u32string out;
    if (!IsValidUtf8(text)) {
        const auto *s = reinterpret_cast<const unsigned char *>(text.data());
        out.assign(s, s + text.size());
        return out;
    }
    for (size_t i = 0; i < text.size();) {
        char32_t c;
        i += DecodeUtf8Char(text, i, c);
        out.push_back(c);
    }
    return out;
}

uint32_t UnixToDosTime(int64_t unixTime)
{
    const time_t t = time_t(unixTime);
    struct tm tmv {};
    if (!localtime_r(&t, &tmv) || tmv.tm_year < 80)
        return (0u << 25) | (1u << 21) | (1u << 16);
    if (tmv.tm_year > 80 + 127)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return uint32_t(tmv.tm_year - 80) << 25 | uint32_t(tmv.tm_mon + 1) << 21 | uint32_t(tmv.tm_mday) << 16 |
           uint32_t(tmv.tm_hour) << 11 | uint32_t(tmv.tm_min) << 5 | uint32_t(tmv.tm_sec / 2);
}

bool DosTimeToUnix(uint32_t dosTime, int64_t &unixTime)
{
    struct tm tmv {};
    tmv.tm_year = int(dosTime >> 25) + 80;
    tmv.tm_mon = int((dosTime >> 21) & 0x0F) - 1;
    tmv.tm_mday = int((dosTime >> 16) & 0x1F);
    tmv.tm_hour = int((dosTime >> 11) & 0x1F);
    tmv.tm_min = int((dosTime >> 5) & 0x3F);
    tmv.tm_sec = int(dosTime & 0x1F) * 2;
    if (tmv.tm_mon < 0 || tmv.tm_mon > 11 || tmv.tm_mday < 1 || tmv.tm_hour > 23 || tmv.tm_min > 59 ||
        tmv.tm_sec > 59)
        return false;
    tmv.tm_isdst = -1;
    const time_t t = mktime(&tmv);
    if (t == time_t(-1))
        return false;
    unixTime = int64_t(t);
    return true;
}

ParseResult ParseBlock4(const uint8_t *data, size_t size, Block &out, size_t &needed)
{
    out = Block();
    needed = 7;
    if (size < 7)
        return ParseResult::NeedMore;
    ByteCursor fixed(data, 7);
    const uint16_t headCrc = fixed.U16();
    const uint8_t type = fixed.U8();
    const uint16_t flags = fixed.U16();
    const uint16_t headSize = fixed.U16();
    if (headSize < 7)
        return ParseResult::Bad;
    needed = headSize;
    if (size < headSize)
        return ParseResult::NeedMore;
    out.headerSize = headSize;

    const bool crcOk = (Crc32(0, data + 2, headSize - 2) & 0xFFFF) == headCrc;
    ByteCursor c(data + 7, headSize - 7u);
    switch (type) {
    case 0x72: // marker
        out.kind = BlockKind::Other;
        return ParseResult::Ok;
    case 0x73: { // main header
        // Archives of format 1.5 to 2.x keep their comment inside the main
        // header, outside the range the CRC covers.
        const bool oldComment = flags & 0x0002;
        const bool shortCrcOk =
            oldComment && headSize >= 13 && (Crc32(0, data + 2, 11) & 0xFFFF) == headCrc;
        if (!crcOk && !shortCrcOk)
            return ParseResult::Bad;
        out.kind = BlockKind::Main;
        out.volume = flags & 0x0001;
        out.oldComment = oldComment;
        out.locked = flags & 0x0004;
        out.solid = flags & 0x0008;
        out.newNumbering = flags & 0x0010;
        out.recovery = flags & 0x0040;
        out.encryptedHeaders = flags & 0x0080;
        out.firstVolume = flags & 0x0100;
        return ParseResult::Ok;
    }
    case 0x74:   // file
    case 0x7A: { // service (comment, recovery record, ...)
        const uint32_t packLow = c.U32();
        const uint32_t unpLow = c.U32();
        out.hostOS = c.U8();
        out.crc = c.U32();
        out.dosTime = c.U32();
        out.unpVer = c.U8();
        out.method = c.U8();
        const uint16_t nameSize = c.U16();
        out.attr = c.U32();
        uint64_t packHigh = 0, unpHigh = 0;
        if (flags & 0x0100) {
            packHigh = c.U32();
            unpHigh = c.U32();
        }
        const uint8_t *name = c.Bytes(nameSize);
        if (!c.ok())
            return ParseResult::Bad;
        if (!crcOk) {
            // A file comment of format 1.5-2.x lies after the name, outside the CRC.
            if (!(flags & 0x0008) || (Crc32(0, data + 2, 7 + c.pos() - 2) & 0xFFFF) != headCrc)
                return ParseResult::Bad;
        }
        out.kind = type == 0x74 ? BlockKind::File : BlockKind::Service;
        out.dataSize = packLow | packHigh << 32;
        out.unpSize = unpLow | unpHigh << 32;
        out.splitBefore = flags & 0x0001;
        out.splitAfter = flags & 0x0002;
        out.encrypted = flags & 0x0004;
        out.fileSolid = flags & 0x0010;
        out.directory = (flags & 0x00E0) == 0x00E0;
        out.windowCode = out.directory ? 0 : (flags >> 5) & 7;
        out.dictKB = out.directory ? 0 : uint64_t(64) << out.windowCode;
        out.hasCrc = !out.directory;
        int64_t t = 0;
        if (DosTimeToUnix(out.dosTime, t)) {
            out.unixTime = t;
            out.hasUnixTime = true;
        }
        const uint8_t *nameEnd = static_cast<const uint8_t *>(std::memchr(name, 0, nameSize));
        if (flags & 0x0200) {
            out.nameIsUnicode = true;
            if (nameEnd) {
                const size_t plain = size_t(nameEnd - name);
                out.name = Utf32ToUtf8(DecodeRar4UnicodeName(name, plain, nameEnd + 1, nameSize - plain - 1));
            } else {
                out.name.assign(reinterpret_cast<const char *>(name), nameSize);
            }
        } else {
            out.name.assign(reinterpret_cast<const char *>(name), nameEnd ? size_t(nameEnd - name) : nameSize);
        }
        // Archivers of this format store a backslash between folders whatever system
        // made the archive, Unix included.
        for (char &ch : out.name)
            if (ch == '\\')
                ch = '/';
        return ParseResult::Ok;
    }
    case 0x7B: // end of archive
        if (!crcOk)
            return ParseResult::Bad;
        out.kind = BlockKind::End;
        out.nextVolume = flags & 0x0001;
        return ParseResult::Ok;
    default:
        if (!crcOk)
            return ParseResult::Bad;
        out.kind = BlockKind::Other;
        if (flags & 0x8000) {
            out.dataSize = c.U32();
            if (!c.ok())
                return ParseResult::Bad;
        }
        return ParseResult::Ok;
    }
}

namespace {

// The extra area of a format 5.0 file or service header.
bool ParseExtra5(const uint8_t *data, size_t size, Block &out)
{
    ByteCursor c(data, size);
    while (c.left() > 0) {
        const uint64_t recSize = c.VInt();
        if (!c.ok() || recSize == 0 || recSize > c.left())
            return false;
        ByteCursor r(c.Bytes(recSize), size_t(recSize));
        const uint64_t type = r.VInt();
        if (!r.ok())
            return false;
        if (type == 1) {
            out.encrypted = true;
        } else if (type == 2) {
            const uint64_t hashType = r.VInt();
            if (hashType == 0) {
                const uint8_t *h = r.Bytes(32);
                if (!h)
                    return false;
                std::memcpy(out.blake2, h, 32);
                out.hasBlake2 = true;
            }
        } else if (type == 3) {
            const uint64_t tflags = r.VInt();
            if (!r.ok())
                return false;
            if (tflags & 0x2) {
                int64_t t;
                if (tflags & 0x1) {
                    t = int64_t(r.U32());
                } else {
                    const uint64_t ft = r.U64();
                    t = int64_t(ft / 10000000u) - int64_t(11644473600);
                }
                if (!r.ok())
                    return false;
                if (!out.hasUnixTime) {
                    out.unixTime = t;
                    out.hasUnixTime = true;
                }
            }
        }
    }
    return c.ok();
}

} // namespace

ParseResult ParseBlock5(const uint8_t *data, size_t size, Block &out, size_t &needed)
{
    out = Block();
    ByteCursor head(data, size);
    const uint32_t crc = head.U32();
    const uint64_t headSize = head.VInt();
    if (!head.ok()) {
        needed = size + 1;
        return size >= 4 + 10 ? ParseResult::Bad : ParseResult::NeedMore;
    }
    if (headSize == 0 || headSize > kMaxHeader5)
        return ParseResult::Bad;
    const size_t sizeFieldEnd = head.pos();
    const uint64_t total = sizeFieldEnd + headSize;
    needed = size_t(total);
    if (size < total)
        return ParseResult::NeedMore;
    if (Crc32(0, data + 4, size_t(total) - 4) != crc)
        return ParseResult::Bad;
    out.headerSize = total;

    ByteCursor c(data + sizeFieldEnd, size_t(headSize));
    const uint64_t type = c.VInt();
    const uint64_t flags = c.VInt();
    uint64_t extraSize = 0;
    if (flags & 0x0001)
        extraSize = c.VInt();
    if (flags & 0x0002)
        out.dataSize = c.VInt();
    if (!c.ok() || extraSize > headSize)
        return ParseResult::Bad;
    const size_t extraStart = size_t(headSize - extraSize);
    if (c.pos() > extraStart)
        return ParseResult::Bad;
    // Fields of the header proper stop where the extra area begins.
    ByteCursor f(data + sizeFieldEnd + c.pos(), extraStart - c.pos());

    switch (type) {
    case 1: {
        out.kind = BlockKind::Main;
        const uint64_t aflags = f.VInt();
        if (aflags & 0x0002)
            f.VInt();
        if (!f.ok())
            return ParseResult::Bad;
        out.volume = aflags & 0x0001;
        out.firstVolume = out.volume && !(aflags & 0x0002);
        out.solid = aflags & 0x0004;
        out.recovery = aflags & 0x0008;
        out.locked = aflags & 0x0010;
        out.newNumbering = true;
        return ParseResult::Ok;
    }
    case 2:
    case 3: {
        out.kind = type == 2 ? BlockKind::File : BlockKind::Service;
        const uint64_t fflags = f.VInt();
        out.unpSize = f.VInt();
        out.attr = uint32_t(f.VInt());
        if (fflags & 0x0002) {
            out.unixTime = int64_t(f.U32());
            out.hasUnixTime = true;
        }
        if (fflags & 0x0004) {
            out.crc = f.U32();
            out.hasCrc = true;
        }
        const uint64_t compInfo = f.VInt();
        const uint64_t host = f.VInt();
        const uint64_t nameLen = f.VInt();
        const uint8_t *name = f.Bytes(nameLen);
        if (!f.ok())
            return ParseResult::Bad;
        if (!ParseExtra5(data + sizeFieldEnd + extraStart, size_t(extraSize), out))
            return ParseResult::Bad;
        out.directory = fflags & 0x0001;
        out.splitBefore = flags & 0x0008;
        out.splitAfter = flags & 0x0010;
        const unsigned version = unsigned(compInfo & 0x3F);
        out.fileSolid = compInfo & 0x40;
        out.method = 0x30 + unsigned((compInfo >> 7) & 7);
        out.unpVer = version == 0 ? 50 : 70;
        const unsigned dictCode = unsigned((compInfo >> 10) & (version == 0 ? 0x0F : 0x1F));
        out.dictKB = out.directory ? 0 : uint64_t(128) << dictCode;
        unsigned code = 0;
        while (code < 6 && (uint64_t(64) << code) < out.dictKB)
            ++code;
        out.windowCode = code;
        out.hostOS = host == 0 ? 2 : host == 1 ? 3 : 255;
        const uint8_t *nameEnd = static_cast<const uint8_t *>(std::memchr(name, 0, size_t(nameLen)));
        out.name.assign(reinterpret_cast<const char *>(name), nameEnd ? size_t(nameEnd - name) : size_t(nameLen));
        out.nameIsUnicode = true;
        if (out.hasUnixTime)
            out.dosTime = UnixToDosTime(out.unixTime);
        return ParseResult::Ok;
    }
    case 4: {
        out.kind = BlockKind::Encryption;
        const uint64_t version = f.VInt();
        const uint64_t cflags = f.VInt();
        out.kdfLg2 = f.U8();
        const uint8_t *salt = f.Bytes(sizeof out.salt);
        const uint8_t *check = (cflags & 0x0001) ? f.Bytes(sizeof out.pswCheck) : nullptr;
        // Version 0 is AES-256, the only cipher of the format.
        if (!f.ok() || version != 0)
            return ParseResult::Bad;
        std::memcpy(out.salt, salt, sizeof out.salt);
        if (check) {
            std::memcpy(out.pswCheck, check, sizeof out.pswCheck);
            out.hasPswCheck = true;
        }
        return ParseResult::Ok;
    }
    case 5: {
        out.kind = BlockKind::End;
        const uint64_t eflags = f.VInt();
        if (!f.ok())
            return ParseResult::Bad;
        out.nextVolume = eflags & 0x0001;
        return ParseResult::Ok;
    }
    default:
        out.kind = BlockKind::Other;
        return ParseResult::Ok;
    }
}

std::string NextVolumeName(const std::string &name, bool newNumbering)
{
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string out = name;
    if (newNumbering) {
        // The last run of digits before the extension counts the volumes.
        size_t end = hasExt ? dot : name.size();
        size_t digitEnd = end;
        while (digitEnd > 0 && !(name[digitEnd - 1] >= '0' && name[digitEnd - 1] <= '9')) {
            if (name[digitEnd - 1] == '/')
                return std::string();
            --digitEnd;
        }
        if (digitEnd == 0)
            return std::string();
        size_t i = digitEnd;
        while (i > 0) {
            --i;
            if (out[i] < '0' || out[i] > '9') {
                out.insert(out.begin() + std::ptrdiff_t(i) + 1, '1');
                return out;
            }
            if (out[i] != '9') {
                ++out[i];
                return out;
            }
            out[i] = '0';
        }
        out.insert(out.begin(), '1');
        return out;
    }
    if (!hasExt || name.size() - dot != 4)
        return std::string();
    char *ext = &out[dot + 1];
    const bool upper = ext[0] >= 'A' && ext[0] <= 'Z';
    if ((ext[1] | 0x20) == 'a' && (ext[2] | 0x20) == 'r' && (ext[0] | 0x20) == 'r') {
        ext[0] = upper ? 'R' : 'r';
        ext[1] = '0';
        ext[2] = '0';
        return out;
    }
    if (ext[1] < '0' || ext[1] > '9' || ext[2] < '0' || ext[2] > '9')
        return std::string();
    if (ext[2] != '9') {
        ++ext[2];
    } else if (ext[1] != '9') {
        ++ext[1];
        ext[2] = '0';
    } else {
        ++ext[0];
        ext[1] = ext[2] = '0';
    }
    return out;
}

} // namespace rarlib
