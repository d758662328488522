#include "platform/CdDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "util/BaseFileUtils.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<CdDeviceLayer> &CurrentSlot()
{
    static std::unique_ptr<CdDeviceLayer> current;
    return current;
}

std::string ReadLineOf(const fs::path &path)
{
    std::ifstream f(path);
    std::string line;
    std::getline(f, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// "2:0:1:0" -> host, channel, target, lun.
bool ParseScsiAddress(const std::string &text, CdScsiDevice &d)
{
    int h, c, t, l;
    char tail;
    if (std::sscanf(text.c_str(), "%d:%d:%d:%d%c", &h, &c, &t, &l, &tail) != 4)
        return false;
    d.host = h;
    d.channel = c;
    d.target = t;
    d.lun = l;
    return true;
}

// Opens a drive without waiting for a disc; read and write where allowed
// (the generic driver wants it), else read only.
int OpenDevice(const std::string &device)
{
    int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd;
}

bool SameDevice(const std::string &a, const std::string &b)
{
    return !a.empty() && (a == b || FileNameOfPath(a) == FileNameOfPath(b));
}

constexpr uint8_t kLeadOut = 0xAA;

} // namespace

CdDeviceLayer &CdDeviceLayer::Current()
{
    auto &slot = CurrentSlot();
    if (!slot)
        slot = std::make_unique<SystemCdDeviceLayer>();
    return *slot;
}

void CdDeviceLayer::SetCurrent(std::unique_ptr<CdDeviceLayer> layer)
{
    CurrentSlot() = std::move(layer);
}

// ---------------------------------------------------------------- system

std::vector<std::string> SystemCdDeviceLayer::OpticalDrives(const std::string &sysRoot) const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysRoot + "/block", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind("sr", 0) == 0 && name.size() > 2
            && std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

std::vector<CdScsiDevice> SystemCdDeviceLayer::GenericDevices() const
{
    std::vector<CdScsiDevice> out;
    std::error_code ec;
    for (fs::directory_iterator it("/sys/class/scsi_generic", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        CdScsiDevice d;
        const fs::path dev = it->path() / "device";
        std::error_code lec;
        const fs::path target = fs::read_symlink(dev, lec);
        if (lec || !ParseScsiAddress(target.filename().string(), d))
            continue;
        d.node = "/dev/" + it->path().filename().string();
        const std::string type = ReadLineOf(dev / "type");
        d.type = type.empty() ? -1 : std::atoi(type.c_str());
        std::error_code bec;
        for (fs::directory_iterator b(dev / "block", bec); !bec && b != fs::directory_iterator(); b.increment(bec)) {
            d.block = "/dev/" + b->path().filename().string();
            break;
        }
        out.push_back(std::move(d));
    }
    std::sort(out.begin(), out.end(), [](const CdScsiDevice &a, const CdScsiDevice &b) {
        return std::tie(a.host, a.channel, a.target, a.lun) < std::tie(b.host, b.channel, b.target, b.lun);
    });
    return out;
}

int SystemCdDeviceLayer::ScsiHostCount() const
{
    std::error_code ec;
    if (!fs::is_directory("/sys/class/scsi_generic", ec))
        return -1;
    int n = 0;
    for (fs::directory_iterator it("/sys/class/scsi_host", ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

bool SystemCdDeviceLayer::ScsiAddress(const std::string &device, CdScsiDevice &address) const
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(fs::path("/sys/block") / FileNameOfPath(device) / "device", ec);
    return !ec && ParseScsiAddress(target.filename().string(), address);
}

CdScsiResult SystemCdDeviceLayer::Scsi(const std::string &device, const std::vector<uint8_t> &cdb, size_t length,
                                       unsigned timeoutMs) const
{
    CdScsiResult r;
    if (cdb.empty() || cdb.size() > 16 || length > 65535) {
        r.error = EINVAL;
        return r;
    }
    int fd = OpenDevice(device);
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    std::vector<uint8_t> command(cdb);
    r.data.assign(length, 0);
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(command.size());
    io.cmdp = command.data();
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.dxfer_len = static_cast<unsigned>(length);
    io.dxferp = r.data.data();
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = timeoutMs;
    if (::ioctl(fd, SG_IO, &io) != 0) {
        r.error = errno;
        r.data.clear();
    } else {
        r.checkCondition = (io.info & SG_INFO_OK_MASK) != SG_INFO_OK;
        const size_t resid = io.resid > 0 ? std::min(static_cast<size_t>(io.resid), length) : 0;
        r.data.resize(length - resid);
    }
    ::close(fd);
    return r;
}

bool SystemCdDeviceLayer::TocHeader(const std::string &device, uint8_t &first, uint8_t &last, int &error) const
{
    int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    cdrom_tochdr hdr{};
    bool ok = ::ioctl(fd, CDROMREADTOCHDR, &hdr) == 0;
    error = ok ? 0 : errno;
    ::close(fd);
    first = hdr.cdth_trk0;
    last = hdr.cdth_trk1;
    return ok;
}

bool SystemCdDeviceLayer::TocEntry(const std::string &device, uint8_t track, uint8_t &adrControl, uint32_t &lba,
                                   int &error) const
{
    int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    cdrom_tocentry e{};
    e.cdte_track = track;
    e.cdte_format = CDROM_LBA;
    bool ok = ::ioctl(fd, CDROMREADTOCENTRY, &e) == 0;
    error = ok ? 0 : errno;
    ::close(fd);
    adrControl = static_cast<uint8_t>((e.cdte_adr << 4) | (e.cdte_ctrl & 0x0F));
    lba = static_cast<uint32_t>(e.cdte_addr.lba);
    return ok;
}

OpticalDriveState SystemCdDeviceLayer::Probe(const std::string &device) const
{
    return ProbeOpticalDrive(device);
}

// ---------------------------------------------------------------- simulated

const SimulatedCdDrive *SimulatedCdDeviceLayer::Find(const std::string &device, bool *generic) const
{
    for (const auto &d : drives_) {
        if (SameDevice(d.block, device)) {
            if (generic)
                *generic = false;
            return &d;
        }
        if (SameDevice(d.generic, device)) {
            if (generic)
                *generic = true;
            return &d;
        }
    }
    return nullptr;
}

std::vector<std::string> SimulatedCdDeviceLayer::OpticalDrives(const std::string &) const
{
    std::vector<std::string> names;
    for (const auto &d : drives_)
        if (!d.block.empty())
            names.push_back(FileNameOfPath(d.block));
    return names;
}

std::vector<CdScsiDevice> SimulatedCdDeviceLayer::GenericDevices() const
{
    std::vector<CdScsiDevice> out;
    if (hosts_ < 0)
        return out;
    for (const auto &d : drives_) {
        if (d.generic.empty())
            continue;
        CdScsiDevice s;
        s.node = d.generic;
        s.host = d.host;
        s.channel = d.channel;
        s.target = d.target;
        s.lun = d.lun;
        s.type = 5;
        s.block = d.block;
        out.push_back(std::move(s));
    }
    return out;
}

bool SimulatedCdDeviceLayer::ScsiAddress(const std::string &device, CdScsiDevice &address) const
{
    const SimulatedCdDrive *d = Find(device);
    if (!d)
        return false;
    address.host = d->host;
    address.channel = d->channel;
    address.target = d->target;
    address.lun = d->lun;
    return true;
}

CdScsiResult SimulatedCdDeviceLayer::Scsi(const std::string &device, const std::vector<uint8_t> &cdb, size_t length,
                                          unsigned) const
{
    CdScsiResult r;
    bool generic = false;
    const SimulatedCdDrive *d = Find(device, &generic);
    char entry[64];
    std::snprintf(entry, sizeof entry, " %02x", cdb.empty() ? 0u : unsigned(cdb[0]));
    Log.push_back(device + entry);
    if (!d) {
        r.error = ENOENT;
        return r;
    }
    const int error = generic ? d->genericError : d->blockError;
    if (error) {
        r.error = error;
        return r;
    }
    const std::vector<uint8_t> *answer = nullptr;
    if (!cdb.empty() && cdb[0] == 0x12)
        answer = &d->inquiry;
    else if (!cdb.empty() && cdb[0] == 0x43)
        answer = &d->toc;
    if (!answer || answer->empty()) { // unknown command, or no disc
        r.checkCondition = true;
        return r;
    }
    r.data.assign(answer->begin(), answer->begin() + static_cast<std::ptrdiff_t>(std::min(length, answer->size())));
    return r;
}

bool SimulatedCdDeviceLayer::TocHeader(const std::string &device, uint8_t &first, uint8_t &last, int &error) const
{
    const SimulatedCdDrive *d = Find(device);
    if (!d || !d->ioctls) {
        error = d ? ENOTTY : ENOENT;
        return false;
    }
    if (d->toc.size() < 4) {
        error = ENOMEDIUM;
        return false;
    }
    first = d->toc[2];
    last = d->toc[3];
    error = 0;
    return true;
}

bool SimulatedCdDeviceLayer::TocEntry(const std::string &device, uint8_t track, uint8_t &adrControl, uint32_t &lba,
                                      int &error) const
{
    const SimulatedCdDrive *d = Find(device);
    if (!d || !d->ioctls) {
        error = d ? ENOTTY : ENOENT;
        return false;
    }
    std::string parseError;
    auto toc = ParseCdToc(d->toc, true, parseError);
    if (!toc) {
        error = EIO;
        return false;
    }
    if (track == kLeadOut) {
        adrControl = 0x10;
        lba = toc->leadOutLba;
        error = 0;
        return true;
    }
    for (const auto &t : toc->tracks)
        if (t.number == track) {
            adrControl = static_cast<uint8_t>(0x10 | t.control);
            lba = t.lba;
            error = 0;
            return true;
        }
    error = EINVAL;
    return false;
}

OpticalDriveState SimulatedCdDeviceLayer::Probe(const std::string &device) const
{
    OpticalDriveState state;
    const SimulatedCdDrive *d = Find(device);
    if (!d)
        return state;
    state.opened = true;
    state.discPresent = !d->toc.empty();
    if (state.discPresent) {
        std::string error;
        if (auto reply = ReadCdTocReply(*this, device, error))
            state.toc = std::move(*reply);
    }
    return state;
}

// ---------------------------------------------------------------- helpers

std::optional<std::vector<uint8_t>> ReadCdTocReply(const CdDeviceLayer &layer, const std::string &device,
                                                   std::string &error)
{
    uint8_t first = 0, last = 0;
    int err = 0;
    if (!layer.TocHeader(device, first, last, err)) {
        error = "no table of contents";
        return std::nullopt;
    }
    return MakeLbaTocReply(
        first, last,
        [&](uint8_t track, uint8_t &adrControl, uint32_t &lba) {
            return layer.TocEntry(device, track, adrControl, lba, err);
        },
        error);
}

std::vector<uint8_t> MakeInquiryReply(const std::string &vendor, const std::string &product,
                                      const std::string &revision)
{
    std::vector<uint8_t> r(36, ' ');
    r[0] = 5; // CD/DVD drive
    r[1] = 0x80;
    r[2] = 0;
    r[3] = 2;
    r[4] = 31; // additional length
    r[5] = r[6] = r[7] = 0;
    auto put = [&](size_t at, size_t width, const std::string &s) {
        for (size_t i = 0; i < width && i < s.size(); ++i)
            r[at + i] = static_cast<uint8_t>(s[i]);
    };
    put(8, 8, vendor);
    put(16, 16, product);
    put(32, 4, revision);
    return r;
}

std::vector<uint8_t> MakeMsfTocReply(uint8_t firstTrack, const std::vector<CdMsf> &starts, CdMsf leadOut,
                                     const std::vector<size_t> &dataTracks)
{
    std::vector<uint8_t> r(4);
    const size_t n = starts.size();
    r[2] = firstTrack;
    r[3] = static_cast<uint8_t>(firstTrack + (n ? n - 1 : 0));
    auto add = [&](uint8_t control, uint8_t number, CdMsf a) {
        const uint8_t d[8] = {0, static_cast<uint8_t>(0x10 | control), number, 0, 0, a.minute, a.second, a.frame};
        r.insert(r.end(), d, d + 8);
    };
    for (size_t i = 0; i < n; ++i) {
        const bool data = std::find(dataTracks.begin(), dataTracks.end(), i) != dataTracks.end();
        add(data ? 0x04 : 0x00, static_cast<uint8_t>(firstTrack + i), starts[i]);
    }
    add(0, kLeadOut, leadOut);
    const size_t length = r.size() - 2;
    r[0] = uint8_t(length >> 8);
    r[1] = uint8_t(length);
    return r;
}

std::optional<SimulatedCdDrive> SimulatedAudioCd(const std::string &description, std::string &error)
{
    std::istringstream in(description);
    std::vector<CdMsf> times;
    std::string word;
    while (in >> word) {
        unsigned m, s, f;
        char tail;
        if (std::sscanf(word.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3 || m > 99 || s > 59 || f > 74) {
            error = "not a time m:ss:ff: " + word;
            return std::nullopt;
        }
        if (m == 0 && s < 2) {
            error = "a track cannot start in the lead-in: " + word;
            return std::nullopt;
        }
        if (times.size() >= 100) {
            error = "more than 99 tracks";
            return std::nullopt;
        }
        times.push_back({uint8_t(m), uint8_t(s), uint8_t(f)});
    }
    if (times.size() < 2) {
        error = "at least one track start and the lead-out are needed";
        return std::nullopt;
    }
    for (size_t i = 1; i < times.size(); ++i) {
        auto frames = [](CdMsf t) { return (t.minute * 60 + t.second) * 75 + t.frame; };
        if (frames(times[i]) <= frames(times[i - 1])) {
            error = "the times must rise";
            return std::nullopt;
        }
    }
    SimulatedCdDrive d;
    d.inquiry = MakeInquiryReply("ORBALIST", "Simulated CD", "1.0");
    const CdMsf leadOut = times.back();
    times.pop_back();
    d.toc = MakeMsfTocReply(1, times, leadOut);
    return d;
}
