#include "platform/CdToc.h"

#include <cstdio>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr uint32_t kFramesPerSecond = 75;
constexpr uint32_t kLeadInFrames = 150; // two seconds before sector 0
constexpr uint8_t kLeadOutTrack = 0xAA;

uint32_t Be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Absolute frame number (including the lead-in) of a sector.
uint32_t AbsoluteFrames(uint32_t lba) { return lba + kLeadInFrames; }

// Packs the minute/second/frame of a sector as the drive reports it.
uint32_t PackedMsf(uint32_t lba)
{
    uint32_t f = AbsoluteFrames(lba);
    uint32_t m = f / (60 * kFramesPerSecond);
    uint32_t s = (f / kFramesPerSecond) % 60;
    uint32_t fr = f % kFramesPerSecond;
    return (m << 16) | (s << 8) | fr;
}

} // namespace

bool CdTocInfo::hasAudio() const
{
    for (const auto &t : tracks)
        if (t.audio())
            return true;
    return false;
}

std::optional<CdTocInfo> ParseCdToc(const std::vector<uint8_t> &reply, bool msf, std::string &error)
{
    if (reply.size() < 4) {
        error = "table of contents too short";
        return std::nullopt;
    }
    size_t dataLength = (size_t(reply[0]) << 8) | reply[1];
    if (dataLength < 2 || dataLength + 2 > reply.size()) {
        error = "table of contents length does not fit the reply";
        return std::nullopt;
    }
    if ((dataLength - 2) % 8 != 0 || dataLength - 2 < 16) {
        error = "table of contents has no whole track list";
        return std::nullopt;
    }
    CdTocInfo toc;
    toc.firstTrack = reply[2];
    toc.lastTrack = reply[3];
    if (toc.firstTrack < 1 || toc.lastTrack > 99 || toc.firstTrack > toc.lastTrack) {
        error = "table of contents has a bad track range";
        return std::nullopt;
    }
    size_t count = (dataLength - 2) / 8;
    bool leadOut = false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *d = reply.data() + 4 + i * 8;
        uint32_t lba;
        if (msf) {
            uint32_t m = d[5], s = d[6], f = d[7];
            if (s >= 60 || f >= kFramesPerSecond) {
                error = "table of contents has a bad address";
                return std::nullopt;
            }
            uint32_t frames = (m * 60 + s) * kFramesPerSecond + f;
            if (frames < kLeadInFrames) {
                error = "table of contents has a bad address";
                return std::nullopt;
            }
            lba = frames - kLeadInFrames;
        } else {
            lba = Be32(d + 4);
            if (lba > 0x00FFFFFF) { // beyond anything a disc holds (or negative)
                error = "table of contents has a bad address";
                return std::nullopt;
            }
        }
        uint8_t number = d[2];
        if (number == kLeadOutTrack) {
            if (i + 1 != count) {
                error = "table of contents lists tracks after the lead-out";
                return std::nullopt;
            }
            toc.leadOutLba = lba;
            leadOut = true;
            break;
        }
        if (number < toc.firstTrack || number > toc.lastTrack
            || (!toc.tracks.empty() && (number <= toc.tracks.back().number || lba < toc.tracks.back().lba))) {
            error = "table of contents lists tracks out of order";
            return std::nullopt;
        }
        toc.tracks.push_back({number, uint8_t(d[1] & 0x0F), lba});
    }
    if (!leadOut || toc.tracks.empty()) {
        error = "table of contents has no lead-out";
        return std::nullopt;
    }
    if (toc.leadOutLba < toc.tracks.back().lba) {
        error = "table of contents ends before its last track";
        return std::nullopt;
    }
    return toc;
}

std::vector<VolumeEntry> AudioCdRootEntries(const CdTocInfo &toc, uint64_t fileTime)
{
    std::vector<VolumeEntry> out;
    for (const auto &t : toc.tracks) {
        if (!t.audio())
            continue;
        char name[16];
        std::snprintf(name, sizeof name, "Track%02u.cda", unsigned(t.number));
        VolumeEntry e;
        e.name = name;
        e.size = 44;
        e.attributes = FILE_ATTR_READONLY;
        e.creationTime = fileTime;
        e.lastWriteTime = fileTime;
        out.push_back(std::move(e));
    }
    return out;
}

uint64_t AudioCdTotalBytes(const CdTocInfo &toc) { return uint64_t(toc.leadOutLba) * 2352; }

uint32_t AudioCdSerial(const CdTocInfo &toc)
{
    uint32_t serial = 0;
    for (const auto &t : toc.tracks)
        serial += PackedMsf(t.lba);
    if (toc.tracks.size() < 3 && !toc.tracks.empty())
        serial += AbsoluteFrames(toc.leadOutLba) - AbsoluteFrames(toc.tracks.front().lba);
    return serial;
}

std::optional<std::vector<uint8_t>> MakeLbaTocReply(uint8_t first, uint8_t last, const CdTocEntryReader &entry,
                                                    std::string &error)
{
    if (first < 1 || last > 99 || first > last) {
        error = "table of contents has a bad track range";
        return std::nullopt;
    }
    std::vector<uint8_t> reply(4);
    reply[2] = first;
    reply[3] = last;
    auto add = [&](uint8_t track) {
        uint8_t adrControl = 0;
        uint32_t lba = 0;
        if (!entry(track, adrControl, lba))
            return false;
        const uint8_t d[8] = {0, adrControl, track, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8),
                              uint8_t(lba)};
        reply.insert(reply.end(), d, d + 8);
        return true;
    };
    for (int t = first; t <= last; ++t)
        if (!add(static_cast<uint8_t>(t))) {
            error = "a track of the table of contents cannot be read";
            return std::nullopt;
        }
    if (!add(kLeadOutTrack)) {
        error = "the lead-out cannot be read";
        return std::nullopt;
    }
    const size_t length = reply.size() - 2;
    reply[0] = uint8_t(length >> 8);
    reply[1] = uint8_t(length);
    return reply;
}

std::optional<std::vector<uint8_t>> ReadCdTocReply(int fd, std::string &error)
{
    cdrom_tochdr hdr{};
    if (ioctl(fd, CDROMREADTOCHDR, &hdr) != 0) {
        error = "no table of contents";
        return std::nullopt;
    }
    return MakeLbaTocReply(
        hdr.cdth_trk0, hdr.cdth_trk1,
        [fd](uint8_t track, uint8_t &adrControl, uint32_t &lba) {
            cdrom_tocentry e{};
            e.cdte_track = track;
            e.cdte_format = CDROM_LBA;
            if (ioctl(fd, CDROMREADTOCENTRY, &e) != 0)
                return false;
            adrControl = uint8_t((e.cdte_adr << 4) | (e.cdte_ctrl & 0x0F));
            lba = static_cast<uint32_t>(e.cdte_addr.lba);
            return true;
        },
        error);
}

OpticalDriveState ProbeOpticalDrive(const std::string &device)
{
    OpticalDriveState state;
    int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return state;
    state.opened = true;
    int drive = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    if (drive == CDS_DISC_OK || drive == -1) { // -1: the drive cannot tell; ask the disc
        int disc = ioctl(fd, CDROM_DISC_STATUS, 0);
        state.discPresent = disc == CDS_AUDIO || disc == CDS_MIXED || disc == CDS_DATA_1
                            || disc == CDS_DATA_2 || disc == CDS_XA_2_1 || disc == CDS_XA_2_2;
        if (state.discPresent) {
            std::string error;
            if (auto toc = ReadCdTocReply(fd, error))
                state.toc = std::move(*toc);
        }
    }
    ::close(fd);
    return state;
}
