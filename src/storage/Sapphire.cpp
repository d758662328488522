#include "storage/Sapphire.h"

#include <utility>


TSapphire::TSapphire() { Initialize({}); }

void TSapphire::Initialize(std::string_view key)
{
    if (key.empty()) {
        for (int i = 0; i < 256; ++i)
            cards_[i] = uint8_t(255 - i);
        rotor_ = 1;
        ratchet_ = 3;
        avalanche_ = 5;
        lastPlain_ = 7;
        lastCipher_ = 11;
        return;
    }
    const size_t len = key.size();
    for (int i = 0; i < 256; ++i)
        cards_[i] = uint8_t(i);
    uint8_t rsum = 0;
    size_t keypos = 0;
    for (int i = 255; i >= 0; --i) {
        unsigned j = 0;
        if (i != 0) {
            unsigned mask = 1;
            while (mask < unsigned(i))
                mask = (mask << 1) + 1;
            int retry = 0;
            unsigned u;
            do {
                rsum = uint8_t(cards_[rsum] + uint8_t(key[keypos]));
                if (++keypos == len) {
                    keypos = 0;
                    rsum = uint8_t(rsum + len);
                }
                u = mask & rsum;
                if (++retry > 11)
                    u %= unsigned(i);
            } while (u > unsigned(i));
            j = u;
        }
        std::swap(cards_[i], cards_[j]);
    }
    rotor_ = cards_[1];
    ratchet_ = cards_[3];
    avalanche_ = cards_[5];
    lastPlain_ = cards_[7];
    lastCipher_ = cards_[rsum];
}

uint8_t TSapphire::KeyByte()
{
    ratchet_ = uint8_t(ratchet_ + cards_[rotor_]);
    ++rotor_;
    const uint8_t t = cards_[lastCipher_];
    cards_[lastCipher_] = cards_[ratchet_];
    cards_[ratchet_] = cards_[lastPlain_];
    cards_[lastPlain_] = cards_[rotor_];
    cards_[rotor_] = t;
    avalanche_ = uint8_t(avalanche_ + cards_[t]);
    return uint8_t(cards_[uint8_t(cards_[ratchet_] + cards_[rotor_])] ^
                   cards_[cards_[uint8_t(cards_[lastPlain_] + cards_[lastCipher_] + cards_[avalanche_])]]);
}

uint8_t TSapphire::Encrypt(uint8_t plain)
{
    const uint8_t c = plain ^ KeyByte();
    lastCipher_ = c;
    lastPlain_ = plain;
    return c;
}

uint8_t TSapphire::Decrypt(uint8_t cipher)
{
    const uint8_t p = cipher ^ KeyByte();
    lastPlain_ = p;
    lastCipher_ = cipher;
    return p;
}

void TSapphire::EncryptBuffer(uint8_t *data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        data[i] = Encrypt(data[i]);
}

void TSapphire::DecryptBuffer(uint8_t *data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        data[i] = Decrypt(data[i]);
}

uint16_t Crc16Update(uint16_t crc, uint8_t byte)
{
    crc ^= byte;
    for (int k = 0; k < 8; ++k)
        crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    return crc;
}

uint16_t Crc16(const uint8_t *data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i)
        crc = Crc16Update(crc, data[i]);
    return crc;
}

