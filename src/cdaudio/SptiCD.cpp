// The pass-through path (SCSI commands on the drive's block device) and its
// fallback, the CD-ROM ioctls.
#include "cdaudio/AspiCD.h"

#include <cerrno>
#include <cstdio>

#include "platform/CdDevice.h"
#include "platform/VolumeService.h"

namespace {

constexpr unsigned kReadTocTimeoutMs = 5000;

std::string DeviceOf(const CdDriveList &list, int index)
{
    if (index < 0 || index >= list.Count)
        return {};
    auto volume = VolumeService::Current().Drive(list.Drives[index].DriveLetter);
    return volume ? volume->device : std::string();
}

} // namespace

int ReadTocSpti(const CdDriveList &list, int index, std::vector<uint8_t> &raw)
{
    raw.assign(RawTocSize, 0);
    const std::string device = DeviceOf(list, index);
    if (device.empty())
        return -1;
    CdScsiResult r = CdDeviceLayer::Current().Scsi(device, ReadTocCommand(), RawTocSize, kReadTocTimeoutMs);
    if (r.ok()) {
        raw = r.data;
        return 0;
    }
    raw.assign(RawTocSize, 0);
    if (r.checkCondition || r.error == EIO || r.error == ENOMEDIUM)
        return -1; // no disc, or the drive could not read it
    if (r.error == ENOENT || r.error == ENXIO)
        return -1; // the drive has gone meanwhile
    if (r.error == EACCES || r.error == EPERM) {
        // Told once a session: every selection of the drive would ask again.
        static bool told = false;
        if (!told) {
            told = true;
            CdUserMessage("You must have Administor privileges to use SPTI under Win2000/XP; falling back to IOCTL. "
                          "This may cause erroneous results if a Mixed-Mode CD is in the drive.",
                          "Error");
        }
        return ReadTocIoctl(list, index, raw);
    }
    if (r.error == ENOMEM || r.error == EAGAIN || r.error == EBUSY)
        return -1; // out of resources for the moment: nothing to tell
    char text[64];
    std::snprintf(text, sizeof text, "IO Error: %d\n\r", r.error);
    CdUserMessage(text, "Error");
    return -1;
}

int ReadTocIoctl(const CdDriveList &list, int index, std::vector<uint8_t> &raw)
{
    raw.assign(RawTocSize, 0);
    const std::string device = DeviceOf(list, index);
    if (device.empty())
        return -1;
    std::string error;
    auto reply = ReadCdTocReply(CdDeviceLayer::Current(), device, error);
    if (!reply || reply->size() < 4 || (reply->size() - 4) % 8 != 0)
        return -1;
    // The ioctls give sector numbers; the buffer holds what READ TOC gives in
    // MSF form, so every path leaves the same layout.
    for (size_t at = 4; at + 8 <= reply->size(); at += 8) {
        uint8_t *d = reply->data() + at;
        const uint32_t lba = (uint32_t(d[4]) << 24) | (uint32_t(d[5]) << 16) | (uint32_t(d[6]) << 8) | d[7];
        const uint32_t frames = lba + 150;
        if (lba > 0x00FFFFFF || frames / (60 * 75) > 255)
            return -1;
        d[4] = 0;
        d[5] = static_cast<uint8_t>(frames / (60 * 75));
        d[6] = static_cast<uint8_t>((frames / 75) % 60);
        d[7] = static_cast<uint8_t>(frames % 75);
    }
    raw = *reply;
    return 0;
}
