#include "platform/VolumeProbe.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace {

// A FAT16 boot sector of a 10 MiB volume with the serial 1A2B-3C4D and a label.
std::string Fat16Image(const char *label)
{
    std::string img(10 * 1024 * 1024, '\0');
    auto *b = reinterpret_cast<unsigned char *>(img.data());
    const unsigned char head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0'};
    std::memcpy(b, head, sizeof head);
    b[11] = 0x00, b[12] = 0x02; // 512 bytes a sector
    b[13] = 4;                  // sectors a cluster
    b[14] = 1, b[15] = 0;       // reserved sectors
    b[16] = 2;                  // FATs
    b[17] = 0x00, b[18] = 0x02; // 512 root entries
    b[19] = 0x00, b[20] = 0x50; // 20480 sectors
    b[21] = 0xF8;               // media
    b[22] = 20, b[23] = 0;      // sectors a FAT
    b[24] = 32, b[26] = 2;      // geometry
    b[36] = 0x80;
    b[38] = 0x29;                                 // extended boot signature
    b[39] = 0x4D, b[40] = 0x3C, b[41] = 0x2B, b[42] = 0x1A; // serial, little-endian
    char lab[11];
    std::memset(lab, ' ', 11);
    std::memcpy(lab, label, std::min<size_t>(11, std::strlen(label)));
    std::memcpy(b + 43, lab, 11);
    std::memcpy(b + 54, "FAT16   ", 8);
    b[510] = 0x55, b[511] = 0xAA;
    // The label also stands as the first root folder entry, with the volume attribute.
    std::memcpy(b + 512 * 41, lab, 11);
    b[512 * 41 + 11] = 0x08;
    // FAT starts with the media byte.
    for (int fat = 0; fat < 2; ++fat) {
        size_t at = 512 * (1 + fat * 20);
        b[at] = 0xF8, b[at + 1] = 0xFF, b[at + 2] = 0xFF, b[at + 3] = 0xFF;
    }
    return img;
}

std::vector<uint8_t> PrimaryDescriptor(const char *volumeId)
{
    std::vector<uint8_t> d(2048, 0);
    std::memcpy(d.data(), "\1CD001\1", 7);
    std::memset(d.data() + 8, ' ', 64);
    std::memcpy(d.data() + 40, volumeId, std::strlen(volumeId));
    return d;
}

} // namespace

// FAT and exFAT ids are the serial, NTFS shows the low 32 bits, other file systems have no serial of this kind.
TEST(VolumeSerial, FromFileSystemIds)
{
    const struct { const char *type, *id; std::optional<uint32_t> want; } cases[] = {
        {"vfat", "1A2B-3C4D", 0x1A2B3C4Du}, {"exfat", "ffff-0001", 0xFFFF0001u}, {"vfat", "1A2B3C4D", {}},
        {"vfat", "1A2B-3C4", {}}, {"vfat", "1G2B-3C4D", {}}, {"ntfs", "0123456789ABCDEF", 0x89ABCDEFu},
        {"ntfs", "0123456789ABCDE", {}}, {"ntfs", "0123456789ABCDEX", {}},
        {"ext4", "3e6be9de-8139-11d1-9106-a43f08d823a6", {}}};
    for (const auto &c : cases)
        EXPECT_EQ(SerialFromFileSystemId(c.type, c.id), c.want) << c.type << " " << c.id;
}

TEST(VolumeSerial, IsoSerialNeedsAPrimaryDescriptor)
{
    auto d = PrimaryDescriptor("X");
    EXPECT_FALSE(IsoSerialFromDescriptor(d.data(), 2047));
    EXPECT_FALSE(IsoSerialFromDescriptor(nullptr, 2048));
    d[0] = 2; // supplementary descriptor
    EXPECT_FALSE(IsoSerialFromDescriptor(d.data(), d.size()));
    d[0] = 1;
    d[3] = 'X';
    EXPECT_FALSE(IsoSerialFromDescriptor(d.data(), d.size()));
}

TEST(VolumeProbe, ReadsTheIsoDescriptorFromAnImage)
{
    orbtest::TempDir dir;
    std::string img(16 * 2048, '\0');
    auto boot = PrimaryDescriptor("SUPPLEMENT");
    boot[0] = 2; // a supplementary descriptor first, then the primary one, then the terminator
    auto pvd = PrimaryDescriptor("MYDISC");
    std::vector<uint8_t> end(2048, 0);
    std::memcpy(end.data(), "\xff" "CD001", 6);
    img.append(boot.begin(), boot.end());
    img.append(pvd.begin(), pvd.end());
    img.append(end.begin(), end.end());
    auto path = dir.write("disc.iso", img);
    auto got = ReadIsoPrimaryDescriptor(path);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, pvd);
    // Cut inside the primary descriptor: nothing.
    auto cut = dir.write("cut.iso", img.substr(0, 17 * 2048 + 100));
    EXPECT_FALSE(ReadIsoPrimaryDescriptor(cut));
    EXPECT_FALSE(ReadIsoPrimaryDescriptor(dir.file("missing.iso")));
}

TEST(VolumeProbe, ProbesAFatImage)
{
    orbtest::TempDir dir;
    auto path = dir.write("sdb1", Fat16Image("MYSTICK"));
    auto ids = ProbeBlockDevice(path);
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->type, "vfat");
    EXPECT_EQ(ids->label, "MYSTICK");
    EXPECT_EQ(ids->uuid, "1A2B-3C4D");
    EXPECT_EQ(SerialFromFileSystemId(ids->type, ids->uuid), 0x1A2B3C4Du);
    EXPECT_FALSE(ProbeBlockDevice(dir.write("empty", std::string(4096, '\0'))));
    EXPECT_FALSE(ProbeBlockDevice(dir.file("missing")));
}

// The label and id links are read by the system volume cases; here only the escapes of their names.
TEST(VolumeProbe, DiskLinkNamesUndoOnlyWholeEscapes)
{
    EXPECT_EQ(UnescapeDiskLinkName("a\\x2fb\\x2"), "a/b\\x2");
}
