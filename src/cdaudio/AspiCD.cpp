// The drive inventory, the choice of access path and the SCSI generic path.
#include "cdaudio/AspiCD.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "platform/CdDevice.h"
#include "platform/CdToc.h"
#include "platform/Prompt.h"
#include "platform/VolumeService.h"

bool AspiAvailable = false;
bool UseSpti = false;

std::function<void(const std::string &, const std::string &)> CdUserMessage =
    [](const std::string &text, const std::string &caption) {
        Prompt::Current().Show(QString::fromStdString(text), QString::fromStdString(caption), PromptButtons::Ok,
                               PromptIcon::Error);
    };

namespace {

constexpr unsigned kInquiryTimeoutMs = 2000;
constexpr unsigned kReadTocTimeoutMs = 5000;
constexpr size_t kInquiryLength = 100;

enum class Path { Generic, PassThrough };

// The access path for an interface, or an exception naming none.
Path ChoosePath(TCDInterface iface, const char *failure)
{
    if (AspiAdapterCount() > 0 && (iface == cdiASPI || (iface == cdiAutoDetect && !UseSpti)))
        return Path::Generic;
    if (CdInterfaceAvailable() && UseSpti && (iface == cdiNTSCSI || iface == cdiAutoDetect))
        return Path::PassThrough;
    throw std::runtime_error(failure);
}

const char *const kNoInterface = "No usable interface available or selected interface not available";

// The generic node of a listed drive, by its SCSI address.
std::string GenericNodeOf(const CdDriveInfo &d)
{
    for (const CdScsiDevice &g : CdDeviceLayer::Current().GenericDevices())
        if (g.host == d.HaId && g.target == d.Target && g.lun == d.Lun)
            return g.node;
    return {};
}

std::string FieldText(const std::vector<uint8_t> &r, size_t from, size_t to)
{
    std::string s;
    for (size_t i = from; i <= to && i < r.size() && r[i] != 0; ++i)
        s += static_cast<char>(r[i]);
    return s;
}

} // namespace

void LoadAspiLibrary()
{
    AspiAvailable = CdDeviceLayer::Current().ScsiHostCount() >= 0;
}

void FreeAspiLibrary()
{
    AspiAvailable = false;
}

int AspiAdapterCount()
{
    // The driver may come and go: asked again at every choice of path.
    LoadAspiLibrary();
    if (!AspiAvailable)
        return -1;
    return CdDeviceLayer::Current().ScsiHostCount() & 0xFF;
}

int GetOsClass()
{
    return 5;
}

bool CdInterfaceAvailable()
{
    const int os = GetOsClass();
    if (os < 2)
        return AspiAdapterCount() != -1;
    if (os <= 5) {
        UseSpti = true;
        return true;
    }
    return false;
}

std::vector<uint8_t> InquiryCommand()
{
    return {0x12, 0, 0, 0, static_cast<uint8_t>(kInquiryLength), 0};
}

std::vector<uint8_t> ReadTocCommand()
{
    return {0x43, 0x02, 0, 0, 0, 0, 0, static_cast<uint8_t>(RawTocSize >> 8), static_cast<uint8_t>(RawTocSize & 0xFF), 0};
}

void TakeInquiry(const std::vector<uint8_t> &reply, CdDriveInfo &info)
{
    std::vector<uint8_t> r(reply);
    r.resize(kInquiryLength, 0); // a short reply leaves the rest zero
    info.Vendor = FieldText(r, 8, 15);
    info.ProductId = FieldText(r, 16, 31);
    info.Revision = FieldText(r, 32, 35);
    info.VendorSpec = FieldText(r, 36, 55);
    info.Description = info.Vendor + info.ProductId + info.Revision;
}

char DriveLetterOfDevice(const std::string &blockDevice)
{
    if (blockDevice.empty())
        return 0;
    for (const VolumeInfo &v : VolumeService::Current().Drives())
        if (v.type == DRIVE_CDROM && v.device == blockDevice)
            return static_cast<char>(std::toupper(static_cast<unsigned char>(v.letter)));
    return 0;
}

bool GetCDList(CdDriveList &list, TCDInterface iface)
{
    if (ChoosePath(iface, kNoInterface) == Path::Generic) {
        bool result = true;
        list.Count = 0;
        for (const CdScsiDevice &g : CdDeviceLayer::Current().GenericDevices()) {
            if (g.type != 5)
                continue;
            if (list.Count >= MaxCdDrives)
                break; // the list has room for 26 drives
            CdDriveInfo &d = list.Drives[list.Count];
            d = CdDriveInfo();
            d.HaId = static_cast<uint8_t>(g.host);
            d.Target = static_cast<uint8_t>(g.target);
            d.Lun = static_cast<uint8_t>(g.lun);
            if (result)
                result = GetDriveInfo(list.Count, list, iface);
            d.DriveLetter = DriveLetterOfDevice(g.block);
            ++list.Count;
        }
        return result;
    }
    if (ListCdDrivesByType(list) == 0)
        return false;
    for (int i = 0; i < list.Count; ++i) {
        InquirySpti(i, list);
        GetDriveInfo(i, list, iface);
    }
    return true;
}

bool GetDriveInfo(int index, CdDriveList &list, TCDInterface iface)
{
    if (index < 0 || index >= MaxCdDrives)
        return false;
    if (ChoosePath(iface, "No usable interface available") == Path::Generic) {
        CdDriveInfo &d = list.Drives[index];
        const std::string node = GenericNodeOf(d);
        CdScsiResult r = CdDeviceLayer::Current().Scsi(node, InquiryCommand(), kInquiryLength, kInquiryTimeoutMs);
        TakeInquiry(r.ok() ? r.data : std::vector<uint8_t>(), d);
        return r.ok();
    }
    if (ListCdDrivesByType(list) == 0)
        return false;
    if (index < list.Count && !InquirySpti(index, list)) {
        // Still listed, known by its root.
        CdDriveInfo &d = list.Drives[index];
        d.Description = std::string(1, d.DriveLetter) + ":\\";
    }
    return true;
}

int ListCdDrivesByType(CdDriveList &list)
{
    list.Count = 0;
    VolumeService &volumes = VolumeService::Current();
    for (const std::string &root : volumes.GetLogicalDriveStrings()) {
        if (list.Count >= MaxCdDrives)
            break;
        if (volumes.GetDriveType(root) == DRIVE_CDROM) {
            list.Drives[list.Count].DriveLetter = root[0];
            ++list.Count;
        }
    }
    return list.Count;
}

bool InquirySpti(int index, CdDriveList &list)
{
    if (index < 0 || index >= list.Count)
        return false;
    CdDriveInfo &d = list.Drives[index];
    auto volume = VolumeService::Current().Drive(d.DriveLetter);
    if (!volume || volume->device.empty())
        return false;
    CdDeviceLayer &layer = CdDeviceLayer::Current();
    CdScsiResult r = layer.Scsi(volume->device, InquiryCommand(), kInquiryLength, kInquiryTimeoutMs);
    if (!r.ok())
        return false;
    TakeInquiry(r.data, d);
    CdScsiDevice address;
    if (!layer.ScsiAddress(volume->device, address))
        return false;
    d.HaId = static_cast<uint8_t>(address.host);
    d.Target = static_cast<uint8_t>(address.target);
    d.Lun = static_cast<uint8_t>(address.lun);
    return true;
}

bool IsBufferZero(const uint8_t *buffer, size_t length)
{
    return std::all_of(buffer, buffer + length, [](uint8_t b) { return b == 0; });
}

namespace {

void PutMsf(uint32_t lba, TocEntry &e)
{
    const uint32_t f = lba + 150;
    e.Minute = static_cast<uint8_t>(std::min<uint32_t>(f / (60 * 75), 255));
    e.Second = static_cast<uint8_t>((f / 75) % 60);
    e.Frame = static_cast<uint8_t>(f % 75);
}

} // namespace

bool RawTocToCdToc(const std::vector<uint8_t> &raw, CdToc &toc)
{
    toc = CdToc();
    if (raw.size() >= 4 && IsBufferZero(raw.data(), 4)) {
        // Nothing read (an empty drive): one track, every time zero.
        toc.TrackCount = 1;
        return false;
    }
    std::string error;
    auto parsed = ParseCdToc(raw, true, error);
    if (!parsed || parsed->tracks.size() > static_cast<size_t>(MaxTocTracks))
        return false;
    toc.TrackCount = static_cast<int32_t>(parsed->tracks.size());
    for (size_t i = 0; i < parsed->tracks.size(); ++i) {
        PutMsf(parsed->tracks[i].lba, toc.Tracks[i]);
        toc.Tracks[i].IsAudio = parsed->tracks[i].audio() ? -1 : 0;
    }
    PutMsf(parsed->leadOutLba, toc.LeadOut);
    return true;
}

bool ReadTOC(CdDriveList list, int index, CdToc &toc, TCDInterface iface)
{
    if (ChoosePath(iface, kNoInterface) == Path::Generic) {
        toc = CdToc();
        if (index < 0 || index >= list.Count)
            return true;
        const std::string node = GenericNodeOf(list.Drives[index]);
        CdScsiResult r = CdDeviceLayer::Current().Scsi(node, ReadTocCommand(), RawTocSize, kReadTocTimeoutMs);
        if (!r.ok())
            return true;
        // Only what the reply holds counts: the track count is that of the
        // descriptors present, whatever the first track number.
        return !RawTocToCdToc(r.data, toc) || toc.TrackCount == 0;
    }
    std::vector<uint8_t> raw;
    if (ReadTocSpti(list, index, raw) == -1)
        ReadTocIoctl(list, index, raw);
    return !RawTocToCdToc(raw, toc);
}
