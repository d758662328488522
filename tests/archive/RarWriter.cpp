#include "archive/RarWriter.h"

#include <QString>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <initializer_list>
#include <memory>
#include <stdexcept>
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

// AES-CBC over `plain` padded with zeros to whole blocks.
std::string AesCbc(const std::string &plain, const uint8_t *key, size_t keySize, const uint8_t *iv)
{
    std::string padded = plain + std::string((16 - plain.size() % 16) % 16, '\0');
    std::string out(padded.size(), '\0');
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int n = 0;
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), keySize == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr, key, iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_EncryptUpdate(ctx.get(), reinterpret_cast<uint8_t *>(out.data()), &n,
                          reinterpret_cast<const uint8_t *>(padded.data()), int(padded.size())) != 1)
        throw std::runtime_error("AES failed");
    return out;
}

// Format 1.5-4.x: 0x40000 rounds of SHA-1 over the UTF-16LE password, the
// salt and the round number; the key is the digest's first four words, each
// byte-reversed, and the IV collects one byte of the digest every 0x4000 rounds.
void Rar4Key(const std::string &password, const std::string &salt, uint8_t key[16], uint8_t iv[16])
{
    const std::u16string wide = QString::fromUtf8(password).toStdU16String();
    std::string raw;
    for (char16_t c : wide)
        Le(raw, {{c, 2}});
    raw += salt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> c(EVP_MD_CTX_new(), EVP_MD_CTX_free),
        t(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(c.get(), EVP_sha1(), nullptr);
    uint8_t d[20];
    unsigned n = 0;
    for (uint32_t i = 0; i < 0x40000; ++i) {
        const uint8_t num[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
        EVP_DigestUpdate(c.get(), raw.data(), raw.size());
        EVP_DigestUpdate(c.get(), num, 3);
        if (i % 0x4000 == 0) {
            EVP_MD_CTX_copy_ex(t.get(), c.get());
            EVP_DigestFinal_ex(t.get(), d, &n);
            iv[i / 0x4000] = d[19];
        }
    }
    EVP_DigestFinal_ex(c.get(), d, &n);
    for (int w = 0; w < 4; ++w)
        for (int j = 0; j < 4; ++j)
            key[w * 4 + j] = d[w * 4 + 3 - j];
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
                         (o.headerPassword ? 0x0080 : 0) | (o.firstVolume ? 0x0100 : 0);
    if (o.oldComment) {
        // The comment block inside the main header; the header's CRC covers
        // only its first 13 bytes, as archivers of that time wrote it.
        const std::string &c = *o.oldComment;
        std::string sub;
        Le(sub, {{0x75, 1}, {0, 2}, {13 + c.size(), 2}, {c.size(), 2}, {15, 1}, {0x30, 1},
                 {TestCrc32(c) & 0xFFFF, 2}});
        sub = std::string(2, '\0') + sub + c;
        std::string main = Block4(0x73, mainFlags | 0x0002, std::string(6, '\0') + sub);
        const uint32_t crc = TestCrc32(main.substr(2, 11));
        main[0] = char(crc & 0xFF);
        main[1] = char((crc >> 8) & 0xFF);
        out += main;
    } else {
        out += Block4(0x73, mainFlags, std::string(6, '\0'));
    }
    uint8_t key[16], iv[16];
    if (o.headerPassword)
        Rar4Key(*o.headerPassword, o.salt, key, iv);
    // A header in clear, or its salt and its encrypted form.
    auto seal = [&](const std::string &header) {
        return o.headerPassword ? o.salt + AesCbc(header, key, 16, iv) : header;
    };
    if (o.comment) {
        const std::string data = o.commentMethod == 0x30 ? *o.comment : PackLiterals29(*o.comment);
        std::string f = Rar4FileFields(uint32_t(data.size()), uint32_t(o.comment->size()), 2,
                                       o.commentCrc.value_or(TestCrc32(*o.comment)), 0, 29, o.commentMethod, 3, 0);
        f += "CMT";
        out += seal(Block4(0x7A, 0x8000, f)) + data;
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
        out += seal(Block4(0x74, flags, f)) + m.data;
    }
    if (o.endBlock)
        out += seal(Block4(0x7B, 0x4000 | (o.nextVolume ? 0x0001 : 0), std::string()));
    return out;
}

std::string WriteRar5(const std::vector<Rar5Member> &members, const Rar5Options &o)
{
    std::string out("Rar!\x1A\x07\x01\x00", 8);
    uint8_t key[32];
    int ivCount = 0;
    // A header in clear, or an IV (a different one each time) and the header encrypted.
    auto seal = [&](const std::string &header) {
        if (!o.headerPassword)
            return header;
        uint8_t iv[16];
        for (int i = 0; i < 16; ++i)
            iv[i] = uint8_t(0x30 + i + ivCount);
        ++ivCount;
        return std::string(reinterpret_cast<const char *>(iv), 16) + AesCbc(header, key, 32, iv);
    };
    if (o.encryptedHeaders) {
        const std::string salt(16, 'S');
        std::string f;
        PutVInt(f, 0); // version
        PutVInt(f, o.headerPassword && o.pswCheck ? 0x0001 : 0);
        f += char(o.kdfLg2);
        f += salt;
        if (!o.headerPassword) {
            out += Rar5Header(4, 0, std::string(), std::nullopt, f);
            out += std::string(48, '\x5A'); // what would be the encrypted main header
            return out;
        }
        // PBKDF2-HMAC-SHA256 gives the key; 32 rounds more give the check
        // value, folded to 8 bytes and followed by 4 bytes of its SHA-256.
        const std::string &pw = *o.headerPassword;
        const auto *s = reinterpret_cast<const uint8_t *>(salt.data());
        uint8_t further[32], check[8] = {}, sum[32];
        const int rounds = 1 << o.kdfLg2;
        PKCS5_PBKDF2_HMAC(pw.data(), int(pw.size()), s, 16, rounds, EVP_sha256(), 32, key);
        PKCS5_PBKDF2_HMAC(pw.data(), int(pw.size()), s, 16, rounds + 32, EVP_sha256(), 32, further);
        for (int i = 0; i < 32; ++i)
            check[i % 8] ^= further[i];
        SHA256(check, 8, sum);
        if (o.pswCheckDamaged)
            check[3] ^= 0x40;
        if (o.pswCheck)
            f += std::string(reinterpret_cast<const char *>(check), 8) +
                 std::string(reinterpret_cast<const char *>(sum), 4);
        out += Rar5Header(4, 0, std::string(), std::nullopt, f);
    }
    std::string main;
    PutVInt(main, (o.volume ? 0x0001 : 0) | (o.volumeNumber ? 0x0002 : 0));
    if (o.volumeNumber)
        PutVInt(main, *o.volumeNumber);
    out += seal(Rar5Header(1, 0, std::string(), std::nullopt, main));
    if (o.comment) {
        const std::string data = o.commentMethod == 0 ? *o.comment : PackLiterals50(*o.comment);
        std::string f;
        PutVInt(f, 0x0004); // a CRC follows
        PutVInt(f, o.comment->size());
        PutVInt(f, 0);
        Le(f, {{TestCrc32(*o.comment), 4}});
        for (uint64_t v : {uint64_t(o.commentMethod & 7) << 7, uint64_t(0), uint64_t(3)}) // method, host, name length
            PutVInt(f, v);
        f += "CMT";
        out += seal(Rar5Header(3, 0, std::string(), data.size(), f)) + data;
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
        out += seal(Rar5Header(m.service ? 3 : 2, flags, extra, uint64_t(m.data.size()), f)) + m.data;
    }
    if (o.endBlock) {
        std::string f;
        PutVInt(f, o.nextVolume ? 0x0001 : 0);
        out += seal(Rar5Header(5, 0, std::string(), std::nullopt, f));
    }
    return out;
}

} // namespace rartest
