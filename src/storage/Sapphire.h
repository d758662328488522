#pragma once
// Sapphire II stream cipher and the CRC-16 used as the key check sum of protected tables.
#include <cstddef>
#include <cstdint>
#include <string_view>


// One stream object enciphers or deciphers the bytes of one message in order; call
// Initialize before each message.
class TSapphire {
public:
    TSapphire();
    // Key set-up; an empty key gives the unkeyed state.
    void Initialize(std::string_view key);
    uint8_t Encrypt(uint8_t plain);
    uint8_t Decrypt(uint8_t cipher);
    void EncryptBuffer(uint8_t *data, size_t size);
    void DecryptBuffer(uint8_t *data, size_t size);

private:
    uint8_t KeyByte();
    uint8_t cards_[256];
    uint8_t rotor_ = 0, ratchet_ = 0, avalanche_ = 0, lastPlain_ = 0, lastCipher_ = 0;
};

// CRC-16 with initial value 0xFFFF, reflected polynomial 0xA001, no final exclusive-or.
uint16_t Crc16Update(uint16_t crc, uint8_t byte);
uint16_t Crc16(const uint8_t *data, size_t size, uint16_t crc = 0xFFFF);

