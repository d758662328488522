#include "platform/VolumeProbe.h"

#include <blkid/blkid.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "util/StrUtils.h"

namespace fs = std::filesystem;

namespace {

std::optional<uint64_t> ParseHex(std::string_view s)
{
    if (s.empty() || s.size() > 16)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        int d = HexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | uint64_t(d);
    }
    return v;
}

constexpr size_t kSector = 2048;

} // namespace

std::optional<BlockDeviceIds> ProbeBlockDevice(const std::string &path)
{
    blkid_probe pr = blkid_new_probe_from_filename(path.c_str());
    if (!pr)
        return std::nullopt;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    std::optional<BlockDeviceIds> out;
    if (blkid_do_safeprobe(pr) == 0) {
        BlockDeviceIds ids;
        const char *v = nullptr;
        size_t len = 0;
        if (blkid_probe_lookup_value(pr, "TYPE", &v, &len) == 0 && v)
            ids.type = v;
        if (blkid_probe_lookup_value(pr, "LABEL", &v, &len) == 0 && v)
            ids.label = v;
        if (blkid_probe_lookup_value(pr, "UUID", &v, &len) == 0 && v)
            ids.uuid = v;
        out = std::move(ids);
    }
    blkid_free_probe(pr);
    return out;
}

std::string UnescapeDiskLinkName(std::string_view name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            int hi = HexDigitValue(name[i + 2]), lo = HexDigitValue(name[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 3;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

BlockDeviceIds IdsFromDiskLinks(const std::string &devRoot, const std::string &device)
{
    BlockDeviceIds ids;
    std::error_code ec;
    fs::path target = fs::weakly_canonical(device, ec);
    if (ec)
        return ids;
    auto find = [&](const char *folder) -> std::string {
        std::error_code iec;
        fs::directory_iterator it(fs::path(devRoot) / "disk" / folder, iec);
        for (; !iec && it != fs::directory_iterator(); it.increment(iec)) {
            std::error_code lec;
            if (!it->is_symlink(lec))
                continue;
            fs::path link = fs::read_symlink(it->path(), lec);
            if (lec)
                continue;
            fs::path resolved = link.is_absolute() ? link : it->path().parent_path() / link;
            if (fs::weakly_canonical(resolved, lec) == target && !lec)
                return UnescapeDiskLinkName(it->path().filename().string());
        }
        return {};
    };
    ids.label = find("by-label");
    ids.uuid = find("by-uuid");
    return ids;
}

std::optional<uint32_t> SerialFromFileSystemId(std::string_view fsType, std::string_view uuid)
{
    if (fsType == "vfat" || fsType == "msdos" || fsType == "fat" || fsType == "exfat") {
        if (uuid.size() != 9 || uuid[4] != '-')
            return std::nullopt;
        auto hi = ParseHex(uuid.substr(0, 4)), lo = ParseHex(uuid.substr(5, 4));
        if (!hi || !lo)
            return std::nullopt;
        return uint32_t((*hi << 16) | *lo);
    }
    if (fsType == "ntfs" || fsType == "ntfs3") {
        if (uuid.size() != 16)
            return std::nullopt;
        auto v = ParseHex(uuid);
        if (!v)
            return std::nullopt;
        return uint32_t(*v & 0xFFFFFFFFu);
    }
    return std::nullopt;
}

std::optional<uint32_t> IsoSerialFromDescriptor(const uint8_t *data, size_t size)
{
    if (!data || size != kSector || data[0] != 1 || std::memcmp(data + 1, "CD001", 5) != 0)
        return std::nullopt;
    uint8_t sum[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < kSector; i += 4)
        for (size_t k = 0; k < 4; ++k)
            sum[k] = uint8_t(sum[k] + data[i + k]);
    return (uint32_t(sum[0]) << 24) | (uint32_t(sum[1]) << 16) | (uint32_t(sum[2]) << 8) | sum[3];
}

std::optional<std::vector<uint8_t>> ReadIsoPrimaryDescriptor(const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> out;
    std::vector<uint8_t> sector(kSector);
    for (int n = 16; n < 16 + 64; ++n) {
        ssize_t got = ::pread(fd, sector.data(), kSector, off_t(n) * off_t(kSector));
        if (got != ssize_t(kSector) || std::memcmp(sector.data() + 1, "CD001", 5) != 0)
            break;
        if (sector[0] == 1) {
            out = sector;
            break;
        }
        if (sector[0] == 255) // set terminator
            break;
    }
    ::close(fd);
    return out;
}
