#pragma once
// Keys and ciphers for RAR archives whose headers are encrypted: format
// 1.5-4.x (AES-128-CBC, key and IV from the password and an 8-byte salt by
// 0x40000 rounds of SHA-1) and format 5.0 (AES-256-CBC, key from PBKDF2 with
// HMAC-SHA256, plus a check value that tells a wrong password at once).
#include <cstddef>
#include <cstdint>
#include <string>

namespace rarlib {

constexpr size_t kSalt4Size = 8;
constexpr size_t kSalt5Size = 16;
constexpr size_t kPswCheckSize = 8;
// Iterations above 2^24 are refused: no archiver writes them, and they would
// keep the reader busy for minutes.
constexpr unsigned kMaxKdfLg2 = 24;

struct Key4 {
    uint8_t key[16];
    uint8_t iv[16];
};

// The format 1.5-4.x key and IV for `password` (UTF-8; hashed as UTF-16LE).
Key4 DeriveKey4(const std::string &password, const uint8_t salt[kSalt4Size]);

struct Key5 {
    uint8_t key[32];
    uint8_t check[kPswCheckSize]; // what the archive's check value must hold
};

// False when `lg2Count` is beyond kMaxKdfLg2 or the library fails.
bool DeriveKey5(const std::string &password, const uint8_t salt[kSalt5Size], unsigned lg2Count, Key5 &out);

// True when the stored check value's own checksum (the first 4 bytes of the
// SHA-256 of its 8 bytes) matches, so the value can be trusted.
bool PswCheckIsSound(const uint8_t stored[kPswCheckSize + 4]);

// Decrypts `size` bytes (a multiple of 16) in place, AES-CBC with a key of
// `keySize` bytes (16 or 32).
bool AesCbcDecrypt(const uint8_t *key, size_t keySize, const uint8_t iv[16], uint8_t *data, size_t size);

} // namespace rarlib
