#include "RarCrypt.h"
#include "RarFormat.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <vector>

namespace rarlib {

namespace {

uint32_t Rol(uint32_t v, int n) { return v << n | v >> (32 - n); }

// SHA-1 as the format 1.5-4.x key derivation runs it. That archiver's SHA-1
// wrote its expanded message words back over every 64-byte block it hashed
// straight from the caller's buffer, and the derivation hashes the same
// buffer again each round, so long passwords (over 28 characters) only give
// the archiver's key when that write-back is repeated here.
class Sha1 {
public:
    void Update(uint8_t *data, size_t size, bool writeBack)
    {
        size_t used = size_t(count_ & 63), i = 0;
        count_ += size;
        if (used + size > 63) {
            i = 64 - used;
            std::memcpy(buffer_ + used, data, i);
            uint32_t w[16];
            Transform(buffer_, w);
            for (; i + 63 < size; i += 64) {
                Transform(data + i, w);
                if (writeBack)
                    for (int k = 0; k < 16; ++k)
                        for (int b = 0; b < 4; ++b)
                            data[i + size_t(k) * 4 + size_t(b)] = uint8_t(w[k] >> (8 * b));
            }
            used = 0;
        }
        std::memcpy(buffer_ + used, data + i, size - i);
    }

    // The five digest words of what was hashed so far; the state stays.
    void Digest(uint32_t out[5]) const
    {
        Sha1 c = *this;
        const uint64_t bits = count_ * 8;
        uint8_t pad[72] = {0x80};
        const size_t padSize = (count_ & 63) < 56 ? 56 - (count_ & 63) : 120 - (count_ & 63);
        for (int k = 0; k < 8; ++k)
            pad[padSize + size_t(k)] = uint8_t(bits >> (56 - 8 * k));
        c.Update(pad, padSize + 8, false);
        std::memcpy(out, c.state_, sizeof c.state_);
    }

private:
    void Transform(const uint8_t *block, uint32_t w[16])
    {
        for (int k = 0; k < 16; ++k)
            w[k] = uint32_t(block[4 * k]) << 24 | uint32_t(block[4 * k + 1]) << 16 |
                   uint32_t(block[4 * k + 2]) << 8 | block[4 * k + 3];
        uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
        for (int t = 0; t < 80; ++t) {
            if (t >= 16)
                w[t & 15] = Rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
            uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t tmp = Rol(a, 5) + f + e + k + w[t & 15];
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = tmp;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
        state_[4] += e;
    }

    uint32_t state_[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    uint64_t count_ = 0;
    uint8_t buffer_[64] = {};
};

// UTF-16LE of a UTF-8 text (Latin-1 when it is not UTF-8).
std::vector<uint8_t> Utf16Le(const std::string &text)
{
    std::vector<uint8_t> out;
    auto put = [&out](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (const char32_t c : Utf8ToUtf32(text)) {
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

} // namespace

Key4 DeriveKey4(const std::string &password, const uint8_t salt[kSalt4Size])
{
    std::vector<uint8_t> raw = Utf16Le(password);
    raw.insert(raw.end(), salt, salt + kSalt4Size);
    constexpr uint32_t kRounds = 0x40000;
    Key4 k{};
    Sha1 c;
    uint32_t d[5];
    for (uint32_t i = 0; i < kRounds; ++i) {
        c.Update(raw.data(), raw.size(), true);
        uint8_t number[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
        c.Update(number, 3, false);
        // Sixteen times along the way the digest so far gives a byte of the IV.
        if (i % (kRounds / 16) == 0) {
            c.Digest(d);
            k.iv[i / (kRounds / 16)] = uint8_t(d[4]);
        }
    }
    c.Digest(d);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            k.key[i * 4 + j] = uint8_t(d[i] >> (8 * j));
    return k;
}

bool DeriveKey5(const std::string &password, const uint8_t salt[kSalt5Size], unsigned lg2Count, Key5 &out)
{
    if (lg2Count > kMaxKdfLg2)
        return false;
    // PBKDF2 with HMAC-SHA256 for one 32-byte block: the key is the XOR of
    // the first 2^lg2Count links of the HMAC chain; the check value comes
    // from the same chain run 32 links further, so one run gives both.
    const unsigned count = 1u << lg2Count;
    constexpr unsigned kFurther = 32;
    std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr), EVP_MAC_free);
    if (!mac)
        return false;
    std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> ctx(EVP_MAC_CTX_new(mac.get()), EVP_MAC_CTX_free);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    static const uint8_t kBlockIndex[4] = {0, 0, 0, 1};
    uint8_t link[32], sum[32];
    size_t size = 0;
    if (!ctx ||
        EVP_MAC_init(ctx.get(), reinterpret_cast<const uint8_t *>(password.data()), password.size(), params) != 1 ||
        EVP_MAC_update(ctx.get(), salt, kSalt5Size) != 1 ||
        EVP_MAC_update(ctx.get(), kBlockIndex, sizeof kBlockIndex) != 1 ||
        EVP_MAC_final(ctx.get(), link, &size, sizeof link) != 1 || size != sizeof link)
        return false;
    std::memcpy(sum, link, sizeof sum);
    for (unsigned i = 1; i < count + kFurther; ++i) {
        if (i == count)
            std::memcpy(out.key, sum, sizeof out.key);
        // A null key keeps the password's key schedule: only the link is hashed anew.
        if (EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) != 1 || EVP_MAC_update(ctx.get(), link, sizeof link) != 1 ||
            EVP_MAC_final(ctx.get(), link, &size, sizeof link) != 1)
            return false;
        for (size_t k = 0; k < sizeof sum; ++k)
            sum[k] ^= link[k];
    }
    std::memset(out.check, 0, sizeof out.check);
    for (size_t i = 0; i < sizeof sum; ++i)
        out.check[i % kPswCheckSize] ^= sum[i];
    return true;
}

bool PswCheckIsSound(const uint8_t stored[kPswCheckSize + 4])
{
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(stored, kPswCheckSize, digest);
    return std::memcmp(digest, stored + kPswCheckSize, 4) == 0;
}

bool AesCbcDecrypt(const uint8_t *key, size_t keySize, const uint8_t iv[16], uint8_t *data, size_t size)
{
    if (size % 16 != 0 || (keySize != 16 && keySize != 32))
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx)
        return false;
    int outSize = 0;
    return EVP_DecryptInit_ex(ctx.get(), keySize == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr, key, iv) ==
               1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_DecryptUpdate(ctx.get(), data, &outSize, data, int(size)) == 1 && size_t(outSize) == size;
}

} // namespace rarlib
