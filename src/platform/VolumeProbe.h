#pragma once
// Labels, file-system ids and serial numbers of block devices.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct BlockDeviceIds {
    std::string type;  // file-system type as the probe names it ("vfat", "ntfs", "iso9660")
    std::string label; // UTF-8
    std::string uuid;  // file-system id ("4A3B-1C2D" for FAT)
};

// Probes a device (or an image file) with libblkid; nullopt when it cannot be
// read or holds no file system the library knows.
std::optional<BlockDeviceIds> ProbeBlockDevice(const std::string &path);

// Label and id from the /dev/disk/by-label and by-uuid links of `devRoot`
// that point at `device`, for a device this user may not read. Fields stay
// empty when no link points at it.
BlockDeviceIds IdsFromDiskLinks(const std::string &devRoot, const std::string &device);

// Undoes the \xHH escapes of a link name under /dev/disk.
std::string UnescapeDiskLinkName(std::string_view name);

// The serial number the system shows for a FAT, exFAT or NTFS volume, from its
// file-system id: "ABCD-1234" (FAT, exFAT) or 16 hex digits (NTFS, whose low 32
// bits are shown). nullopt for other kinds or a malformed id.
std::optional<uint32_t> SerialFromFileSystemId(std::string_view fsType, std::string_view uuid);

// The serial number of an ISO 9660 disc: each of the four bytes is the sum
// (modulo 256) of every fourth byte of the 2048-byte primary volume
// descriptor. nullopt when the bytes are not a primary volume descriptor.
std::optional<uint32_t> IsoSerialFromDescriptor(const uint8_t *data, size_t size);

// Reads the primary volume descriptor of an ISO 9660 file system (sectors 16
// onward, 2048 bytes each, up to the set terminator).
std::optional<std::vector<uint8_t>> ReadIsoPrimaryDescriptor(const std::string &path);
