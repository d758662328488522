#include "archive/RarWriter.h"

#include <initializer_list>
#include <utility>

namespace rartest {

namespace {

// Appends each value in the given number of bytes, little-endian.
void Le(std::string &o, std::initializer_list<std::pair<uint64_t, int>> fields)
{
    for (const auto &[v, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            o += char((v >> (8 * i)) & 0xFF);
}

// A format 1.5-4.x header: CRC16 (low half of the CRC32 of the rest), then
// type, flags, size and the fields.
std::string Block4(uint8_t type, uint16_t flags, const std::string &fields)
{
    std::string body, out;
    Le(body, {{type, 1}, {flags, 2}, {fields.size() + 7, 2}});
    body += fields;
    Le(out, {{TestCrc32(body) & 0xFFFF, 2}});
    return out + body;
}

std::string Rar4FileFields(uint32_t packLow, uint32_t unpLow, uint8_t host, uint32_t crc, uint32_t time,
                           uint8_t ver, uint8_t method, uint16_t nameSize, uint32_t attr)
{
    std::string f;
    Le(f, {{packLow, 4}, {unpLow, 4}, {host, 1}, {crc, 4}, {time, 4}, {ver, 1}, {method, 1}, {nameSize, 2},
           {attr, 4}});
    return f;
}

// A format 5.0 header: CRC32 of size and body, the body's size, the body.
std::string Block5(const std::string &body)
{
    std::string sized;
    PutVInt(sized, body.size());
    sized += body;
    std::string out;
    Le(out, {{TestCrc32(sized), 4}});
    return out + sized;
}

std::string Rar5Header(uint64_t type, uint64_t flags, const std::string &extra, std::optional<uint64_t> dataSize,
                       const std::string &fields)
{
    std::string body;
    PutVInt(body, type);
    PutVInt(body, flags | (extra.empty() ? 0 : 0x0001) | (dataSize ? 0x0002 : 0));
    if (!extra.empty())
        PutVInt(body, extra.size());
    if (dataSize)
        PutVInt(body, *dataSize);
    return Block5(body + fields + extra);
}

// Bits written from the most significant end of each byte, as both packed
// formats read them.
class BitWriter {
public:
    void Put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0)
                out_ += '\0';
            if ((value >> i) & 1)
                out_.back() = char(uint8_t(out_.back()) | (0x80 >> used_));
            used_ = (used_ + 1) & 7;
        }
        total_ += uint64_t(bits);
    }
    const std::string &Bytes() const { return out_; }
    uint64_t Bits() const { return total_; }

private:
    std::string out_;
    int used_ = 0;
    uint64_t total_ = 0;
};

} // namespace

std::string PackLiterals29(const std::string &data)
{
    // The decoder wants complete codes: bytes 0..254 get 8 bits, byte 255 and
    // the end code 256 get 9 (255/256 + 2/512 = 1). Canonical codes keep
    // symbol order within a length: byte b < 255 is coded as b, 255 as 510,
    // the end as 511.
    BitWriter w;
    w.Put(0, 1); // an LZ block, not PPM
    w.Put(0, 1); // a new table
    // Lengths of the code-length code: symbols 8 and 9 (lengths of 8 and 9),
    // 18 and 19 (runs of zeros) get 2 bits: codes 00, 01, 10, 11.
    for (int i = 0; i < 20; ++i)
        w.Put(i == 8 || i == 9 || i == 18 || i == 19 ? 2 : 0, 4);
    // 299 + 60 + 17 + 28 code lengths; the 147 after the end code are zero.
    for (int i = 0; i < 255; ++i)
        w.Put(0, 2);
    w.Put(1, 2);
    w.Put(1, 2);
    w.Put(3, 2); // 19: 11 + 127 zeros
    w.Put(127, 7);
    w.Put(2, 2); // 18: 3 + 6 zeros
    w.Put(6, 3);
    for (unsigned char ch : data) {
        if (ch < 255)
            w.Put(ch, 8);
        else
            w.Put(510, 9);
    }
    w.Put(511, 9); // end of block
    w.Put(0, 1);   // ... and of the file
    w.Put(0, 1);   // no new table follows
    return w.Bytes();
}

std::string PackLiterals50(const std::string &data)
{
    BitWriter w;
    // Code-length code: symbol 8 (a length of 8) gets code 0, symbol 19 (a
    // run of zeros) code 1.
    for (int i = 0; i < 20; ++i)
        w.Put(i == 8 || i == 19 ? 1 : 0, 4);
    // 306 + 64 + 16 + 44 code lengths: the 256 literals get 8 bits.
    for (int i = 0; i < 256; ++i)
        w.Put(0, 1);
    w.Put(1, 1); // 19: 11 + 127 zeros
    w.Put(127, 7);
    w.Put(1, 1); // 19: 11 + 25 zeros
    w.Put(25, 7);
    for (unsigned char ch : data)
        w.Put(ch, 8);
    const std::string &body = w.Bytes();
    const uint32_t size = uint32_t(body.size());
    const int lastBits = int(w.Bits() - (w.Bits() - 1) / 8 * 8); // 1..8 bits used in the last byte
    const int sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
    const uint8_t flags = uint8_t(0x80 | 0x40 | (sizeBytes - 1) << 3 | (lastBits - 1)); // tables, last block
    std::string out;
    out += char(flags);
    out += char(uint8_t(0x5A ^ flags ^ size ^ (size >> 8) ^ (size >> 16)));
    for (int i = 0; i < sizeBytes; ++i)
        out += char((size >> (8 * i)) & 0xFF);
    return out + body;
}

uint32_t TestCrc32(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : data) {
        crc ^= ch;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

void PutVInt(std::string &out, uint64_t value)
{
    do {
        uint8_t b = value & 0x7F;
        value >>= 7;
        if (value)
            b |= 0x80;
        out += char(b);
    } while (value);
}

std::string WriteRar4(const std::vector<Rar4Member> &members, const Rar4Options &o)
{
    std::string out("Rar!\x1A\x07\x00", 7);
    uint16_t mainFlags = (o.volume ? 0x0001 : 0) | (o.solid ? 0x0008 : 0) | (o.newNumbering ? 0x0010 : 0) |
                         (o.firstVolume ? 0x0100 : 0);
    out += Block4(0x73, mainFlags, std::string(6, '\0'));
    if (o.comment) {
        std::string f = Rar4FileFields(uint32_t(o.comment->size()), uint32_t(o.comment->size()), 2,
                                       TestCrc32(*o.comment), 0, 29, o.commentMethod, 3, 0);
        f += "CMT";
        out += Block4(0x7A, 0x8000, f) + *o.comment;
    }
    for (const Rar4Member &m : members) {
        std::string name = m.name;
        if (!m.unicodeName.empty()) {
            std::string enc(1, '\0'); // high byte
            for (size_t i = 0; i < m.unicodeName.size(); ++i) {
                if (i % 4 == 0)
                    enc += char(0xAA); // four two-byte characters follow
                Le(enc, {{m.unicodeName[i], 2}});
            }
            name += '\0' + enc;
        }
        const uint64_t pack = m.data.size();
        const uint64_t unp = m.unpSize.value_or(m.data.size());
        uint16_t flags = 0x8000 | (m.splitBefore ? 0x01 : 0) | (m.splitAfter ? 0x02 : 0) |
                         (m.encrypted ? 0x04 : 0) | (m.large ? 0x0100 : 0) | (m.unicodeName.empty() ? 0 : 0x0200);
        flags |= m.directory ? 0x00E0 : uint16_t((m.window & 7) << 5);
        std::string f = Rar4FileFields(uint32_t(pack), uint32_t(unp), m.host, m.crc.value_or(TestCrc32(m.data)),
                                       m.dosTime, m.unpVer, m.method,
                                       m.nameSizeField.value_or(uint16_t(name.size())), m.attr);
        if (m.large)
            Le(f, {{pack >> 32, 4}, {unp >> 32, 4}});
        f += name;
        out += Block4(0x74, flags, f) + m.data;
    }
    if (o.endBlock)
        out += Block4(0x7B, 0x4000 | (o.nextVolume ? 0x0001 : 0), std::string());
    return out;
}

std::string WriteRar5(const std::vector<Rar5Member> &members, const Rar5Options &o)
{
    std::string out("Rar!\x1A\x07\x01\x00", 8);
    if (o.encryptedHeaders) {
        std::string f;
        PutVInt(f, 0);  // version
        PutVInt(f, 0);  // flags
        f += char(15); // KDF count
        f += std::string(16, 'S');
        out += Rar5Header(4, 0, std::string(), std::nullopt, f);
        out += std::string(48, '\x5A'); // what would be the encrypted main header
        return out;
    }
    std::string main;
    PutVInt(main, (o.volume ? 0x0001 : 0) | (o.volumeNumber ? 0x0002 : 0));
    if (o.volumeNumber)
        PutVInt(main, *o.volumeNumber);
    out += Rar5Header(1, 0, std::string(), std::nullopt, main);
    if (o.comment) {
        std::string f;
        PutVInt(f, 0x0004); // a CRC follows
        PutVInt(f, o.comment->size());
        PutVInt(f, 0);
        Le(f, {{TestCrc32(*o.comment), 4}});
        for (uint64_t v : {0, 0, 3}) // method, host, name length
            PutVInt(f, v);
        f += "CMT";
        out += Rar5Header(3, 0, std::string(), o.comment->size(), f) + *o.comment;
    }
    for (const Rar5Member &m : members) {
        std::string f;
        const bool hasCrc = !m.directory;
        PutVInt(f, (m.directory ? 0x0001 : 0) | (m.mtime ? 0x0002 : 0) | (hasCrc ? 0x0004 : 0));
        PutVInt(f, m.unpSize.value_or(m.data.size()));
        PutVInt(f, m.attr);
        if (m.mtime)
            Le(f, {{*m.mtime, 4}});
        if (hasCrc)
            Le(f, {{m.crc.value_or(TestCrc32(m.data)), 4}});
        PutVInt(f, uint64_t(m.solid ? 0x40 : 0) | uint64_t(m.method & 7) << 7 | uint64_t(m.dictCode & 0x0F) << 10);
        PutVInt(f, m.host);
        PutVInt(f, m.nameLengthField.value_or(m.name.size()));
        f += m.name;
        std::string extra;
        if (m.encrypted) {
            std::string rec;
            for (uint64_t v : {1, 0, 0}) // type: encryption, version, flags
                PutVInt(rec, v);
            rec += char(15);
            rec += std::string(32, 'K'); // salt and IV
            PutVInt(extra, rec.size());
            extra += rec;
        }
        const uint64_t flags = (m.splitBefore ? 0x0008 : 0) | (m.splitAfter ? 0x0010 : 0);
        // Directories carry an empty data area too, as archivers write them.
        out += Rar5Header(m.service ? 3 : 2, flags, extra, uint64_t(m.data.size()), f) + m.data;
    }
    if (o.endBlock) {
        std::string f;
        PutVInt(f, o.nextVolume ? 0x0001 : 0);
        out += Rar5Header(5, 0, std::string(), std::nullopt, f);
    }
    return out;
}

} // namespace rartest
