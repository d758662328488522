#include "platform/VolumeSystem.h"

#include "platform/CdDevice.h"
#include "platform/CdToc.h"
#include "platform/MountInfo.h"
#include "platform/VolumeLetters.h"
#include "platform/VolumeProbe.h"
#include "util/BaseDateTime.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char *kAudioCdLabel = "Audio CD";

std::string ReadWholeFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return {};
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string TrimText(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r'))
        s.pop_back();
    return s;
}

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

// An identity is one line of the letter map: a line break in a folder name
// is written as "\n".
std::string LineSafe(const std::string &identity)
{
    std::string out;
    for (char ch : identity) {
        if (ch == '\n')
            out += "\\n";
        else if (ch == '\r')
            out += "\\r";
        else
            out += ch;
    }
    return out;
}

// The path under the (possibly injected) device folder of a "/dev/..." source.
std::string DevicePath(const std::string &devRoot, const std::string &source)
{
    if (!StartsWith(source, "/dev/"))
        return {};
    return devRoot + source.substr(4);
}

bool IsOpticalSource(const MountEntry &m)
{
    return m.major == 11 || StartsWith(m.source, "/dev/sr");
}

bool IsRemovable(const std::string &sysRoot, unsigned major, unsigned minor)
{
    std::string node = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    std::string flag = TrimText(ReadWholeFile(node + "/removable"));
    if (flag.empty()) // a partition: the flag is its disk's
        flag = TrimText(ReadWholeFile(node + "/../removable"));
    return flag == "1";
}

uint64_t NowFileTime()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto s = std::chrono::duration_cast<std::chrono::seconds>(now);
    return UnixTimeToFileTime(s.count(), 0);
}

void FillSizes(VolumeInfo &v)
{
    struct statvfs st;
    if (v.mountPoint.empty() || ::statvfs(v.mountPoint.c_str(), &st) != 0)
        return;
    uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    v.totalBytes = uint64_t(st.f_blocks) * unit;
    v.freeBytes = uint64_t(st.f_bavail) * unit;
    v.totalFreeBytes = uint64_t(st.f_bfree) * unit;
}

// The optical drives, from the drive layer (sysfs unless a made-up layer is installed).
std::vector<std::string> OpticalDevices(const std::string &sysRoot)
{
    return CdDeviceLayer::Current().OpticalDrives(sysRoot);
}

struct Candidate {
    std::string identity; // empty for the root file system
    VolumeInfo info;
    std::string probePath;
};

// Label, serial and file-system name of a mounted block device.
void DescribeBlockVolume(const SystemVolumeOptions &o, const MountEntry &m, const std::string &identity,
                         VolumeInfo &v, std::string &uuid)
{
    std::string path = DevicePath(o.devRoot, m.source);
    BlockDeviceIds ids;
    if (!path.empty()) {
        if (auto probed = ProbeBlockDevice(path))
            ids = *probed;
        else
            ids = IdsFromDiskLinks(o.devRoot, path);
    }
    uuid = ids.uuid;
    v.label = ids.label;
    std::string type = ids.type.empty() ? m.fsType : ids.type;
    if (auto s = SerialFromFileSystemId(type, ids.uuid))
        v.serial = *s;
    else if (type == "iso9660" && !path.empty()) {
        auto pvd = ReadIsoPrimaryDescriptor(path);
        auto s = pvd ? IsoSerialFromDescriptor(pvd->data(), pvd->size()) : std::nullopt;
        v.serial = s ? *s : StableVolumeHash(ids.uuid.empty() ? identity : ids.uuid);
    } else {
        v.serial = StableVolumeHash(ids.uuid.empty() ? identity : ids.uuid);
    }
}

} // namespace

// Problem lines ("line N (...): ...") in the order of their line numbers;
// other lines keep their place after them.
static std::string SortedByLine(const std::string &text)
{
    std::vector<std::pair<long, std::string>> lines;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) {
        long n = LONG_MAX;
        if (l.rfind("line ", 0) == 0)
            n = std::strtol(l.c_str() + 5, nullptr, 10);
        lines.emplace_back(n, l);
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string out;
    for (const auto &[n, line] : lines)
        out += (out.empty() ? "" : "\n") + line;
    return out;
}

std::string DefaultLetterMapPath(const std::string &dataFolder)
{
    std::string out = dataFolder;
    if (!out.empty() && out.back() != '/')
        out += '/';
    return out + kLetterMapFileName;
}

SystemVolumeService::SystemVolumeService(SystemVolumeOptions options, QObject *parent)
    : VolumeService(parent), options_(std::move(options))
{
    Rebuild();
    if (options_.pollIntervalMs > 0) {
        mountFd_ = ::open(options_.mountInfoPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (mountFd_ >= 0) {
            // The kernel flags the mount table with an exceptional condition
            // whenever a mount comes or goes.
            mountWatch_ = new QSocketNotifier(mountFd_, QSocketNotifier::Exception, this);
            connect(mountWatch_, &QSocketNotifier::activated, this, [this] {
                char buf[4096];
                ::lseek(mountFd_, 0, SEEK_SET);
                while (::read(mountFd_, buf, sizeof buf) > 0) {
                }
                Refresh();
            });
        }
        poll_.setInterval(options_.pollIntervalMs);
        connect(&poll_, &QTimer::timeout, this, &SystemVolumeService::Refresh);
        poll_.start();
    }
}

SystemVolumeService::~SystemVolumeService()
{
    delete mountWatch_;
    if (mountFd_ >= 0)
        ::close(mountFd_);
}

OpticalDriveState SystemVolumeService::Probe(const std::string &name) const
{
    std::string device = options_.devRoot + "/" + name;
    return options_.probeOptical ? options_.probeOptical(device) : CdDeviceLayer::Current().Probe(device);
}

std::string SystemVolumeService::OpticalFingerprint() const
{
    std::string fp;
    for (const auto &name : OpticalDevices(options_.sysRoot)) {
        auto state = Probe(name);
        fp += name + (state.opened ? "+" : "-") + (state.discPresent ? "d" : "e") + ":";
        for (uint8_t b : state.toc)
            fp += char('a' + (b >> 4)), fp += char('a' + (b & 15));
        fp += ';';
    }
    return fp;
}

std::string SystemVolumeService::StateFingerprint() const
{
    // Asking the drives is slower than reading the mount table, and the
    // chooser asks about every letter in a row: ask them at most twice a second.
    auto now = std::chrono::steady_clock::now();
    if (opticalCheckedAt_ == std::chrono::steady_clock::time_point{} || now - opticalCheckedAt_ > std::chrono::milliseconds(500)) {
        opticalCache_ = OpticalFingerprint();
        opticalCheckedAt_ = now;
    }
    std::string fp = ReadWholeFile(options_.mountInfoPath);
    fp += '\0' + opticalCache_ + '\0';
    if (!options_.letterMapPath.empty())
        fp += ReadWholeFile(options_.letterMapPath);
    fp += '\0';
    for (const auto &folder : boundFolders_) {
        std::error_code ec;
        fp += folder + (fs::is_directory(folder, ec) ? "+" : "-");
    }
    return fp;
}

void SystemVolumeService::RefreshIfStale() const
{
    if (StateFingerprint() == state_)
        return;
    auto *self = const_cast<SystemVolumeService *>(this);
    self->Rebuild();
    // Tell the listeners after the question that noticed the change is answered.
    QMetaObject::invokeMethod(self, &VolumeService::DeviceChange, Qt::QueuedConnection);
}

void SystemVolumeService::Refresh()
{
    opticalCheckedAt_ = {}; // an explicit refresh asks the drives again
    if (StateFingerprint() == state_)
        return;
    Rebuild();
    emit DeviceChange();
}

void SystemVolumeService::SetLetterMapPath(const std::string &path)
{
    const bool readAlready = path == options_.letterMapPath;
    options_.letterMapPath = path;
    options_.letterMapWritable = true;
    // Started on this map already: the drives know its letters, and only a
    // write held back until now is left to do (the drives are not asked again).
    if (readAlready && !mapWriteHeld_)
        return;
    Rebuild();
    // On the first start the map is taken up once the window exists; the
    // drive lists already shown must then learn the folders it binds.
    emit DeviceChange();
}

std::vector<VolumeInfo> SystemVolumeService::Drives() const
{
    RefreshIfStale();
    return drives_;
}

void SystemVolumeService::FreshSizes(VolumeInfo &drive) const
{
    if (drive.ready && !drive.audioCd())
        FillSizes(drive);
}

void SystemVolumeService::Rebuild()
{
    const SystemVolumeOptions &o = options_;
    mountInfoText_ = ReadWholeFile(o.mountInfoPath);
    auto mounts = CatalogueMounts(ParseMountInfo(mountInfoText_));

    std::vector<Candidate> candidates;
    std::vector<std::string> opticalNames = OpticalDevices(o.sysRoot);
    std::map<std::string, size_t> opticalMount; // "/dev/sr0" -> index in candidates

    for (const auto &m : mounts) {
        Candidate c;
        VolumeInfo &v = c.info;
        v.ready = true;
        v.mountPoint = m.mountPoint;
        v.fileSystem = m.fsType;
        std::string rootSuffix = m.root == "/" ? std::string() : m.root;
        MountClass kind = ClassifyMount(m);
        if (kind == MountClass::Network) {
            v.type = DRIVE_REMOTE;
            v.remoteName = m.source;
            c.identity = "net:" + m.source + rootSuffix;
            v.serial = StableVolumeHash(c.identity);
        } else if (kind == MountClass::Ram) {
            v.type = DRIVE_RAMDISK;
            c.identity = "ram:" + m.mountPoint;
            v.serial = StableVolumeHash(c.identity);
        } else {
            bool optical = IsOpticalSource(m);
            v.type = optical ? DRIVE_CDROM : IsRemovable(o.sysRoot, m.major, m.minor) ? DRIVE_REMOVABLE : DRIVE_FIXED;
            if (StartsWith(m.source, "/dev/"))
                v.device = m.source;
            std::string provisional = "dev:" + m.source + rootSuffix;
            std::string uuid;
            DescribeBlockVolume(o, m, provisional, v, uuid);
            if (optical)
                c.identity = "optical:" + m.source;
            else if (!uuid.empty())
                c.identity = "uuid:" + uuid + rootSuffix;
            else
                c.identity = provisional;
        }
        if (m.mountPoint == "/") {
            c.identity.clear();
            v.letter = 'c';
        }
        if (StartsWith(c.identity, "optical:")) {
            if (opticalMount.count(v.device))
                continue; // one drive, one volume
            opticalMount[v.device] = candidates.size();
        }
        // Two sticks cloned from one image share their file-system id; the
        // second is told apart by where it sits.
        auto taken = [&](const std::string &id) {
            return std::any_of(candidates.begin(), candidates.end(),
                               [&](const Candidate &o) { return o.identity == id; });
        };
        if (!c.identity.empty() && taken(c.identity)) {
            std::string base = c.identity;
            c.identity = base + "@" + (v.device.empty() ? m.mountPoint : v.device);
            if (taken(c.identity))
                c.identity = base + "@" + m.mountPoint;
        }
        c.identity = LineSafe(c.identity);
        candidates.push_back(std::move(c));
    }

    // Optical drives without a mounted data disc: empty, or an audio CD.
    std::map<std::string, uint64_t> seen;
    for (const auto &name : opticalNames) {
        std::string device = "/dev/" + name;
        if (opticalMount.count(device))
            continue;
        Candidate c;
        c.identity = "optical:" + device;
        VolumeInfo &v = c.info;
        v.type = DRIVE_CDROM;
        v.device = device;
        auto state = Probe(name);
        std::string error;
        auto toc = state.toc.empty() ? std::nullopt : ParseCdToc(state.toc, false, error);
        if (toc && toc->hasAudio()) {
            std::string key = device + ":" + std::string(state.toc.begin(), state.toc.end());
            auto it = discSeen_.find(key);
            uint64_t when = it != discSeen_.end() ? it->second : NowFileTime();
            seen[key] = when;
            v.ready = true;
            v.label = kAudioCdLabel;
            v.fileSystem = "CDFS";
            v.serial = AudioCdSerial(*toc);
            v.totalBytes = AudioCdTotalBytes(*toc);
            v.virtualRoot = AudioCdRootEntries(*toc, when);
        }
        candidates.push_back(std::move(c));
    }
    discSeen_ = std::move(seen);

    // Letters.
    VolumeLetterMap map;
    std::string problem;
    std::error_code existsError;
    bool haveFile = !o.letterMapPath.empty() && fs::exists(o.letterMapPath, existsError);
    // A map that exists but cannot be read is never written over: it may hold
    // the user's folder bindings. This session goes on with its own letters.
    bool readable = true;
    if (haveFile && !map.Load(o.letterMapPath, problem)) {
        readable = false;
        std::string ignored;
        map.Parse(memoryMap_, ignored);
    } else if (!haveFile) {
        map.Parse(memoryMap_, problem); // no file (yet): keep this session's letters
    }
    std::vector<std::string> present;
    for (const auto &c : candidates)
        if (!c.identity.empty())
            present.push_back(c.identity);
    bool changed = false;
    auto letters = map.Assign(present, changed);
    const std::string folderProblems = map.FolderProblems();
    if (!folderProblems.empty())
        problem = SortedByLine(problem + (problem.empty() ? "" : "\n") + folderProblems);
    // A map file made now says how to bind a folder.
    if (!haveFile && !o.letterMapPath.empty())
        map.AddHeaderComment();
    const bool mapToWrite = readable && (changed || !haveFile) && !o.letterMapPath.empty() &&
                            !(map.Text().empty() && !haveFile);
    mapWriteHeld_ = mapToWrite && !o.letterMapWritable;
    if (mapToWrite && o.letterMapWritable) {
        std::string saveProblem;
        if (!map.Save(o.letterMapPath, saveProblem))
            problem += (problem.empty() ? "" : "\n") + saveProblem;
    }
    memoryMap_ = map.Text();
    letterMapProblem_ = problem;

    std::vector<VolumeInfo> drives;
    for (auto &c : candidates) {
        if (!c.identity.empty()) {
            auto it = letters.find(c.identity);
            if (it == letters.end())
                continue; // every letter is taken
            c.info.letter = it->second;
        }
        drives.push_back(std::move(c.info));
    }

    // Folders bound to letters: the facts of the volume that holds them.
    auto hold = [&](const std::string &folder) -> const VolumeInfo * {
        const VolumeInfo *best = nullptr;
        size_t bestLen = 0;
        for (const auto &d : drives) {
            const std::string &mp = d.mountPoint;
            if (mp.empty())
                continue;
            bool inside = mp == "/" || folder == mp || StartsWith(folder, (mp + "/").c_str());
            if (inside && (!best || mp.size() > bestLen)) {
                best = &d;
                bestLen = mp.size();
            }
        }
        return best;
    };
    std::vector<VolumeInfo> bound;
    boundFolders_.clear();
    for (const auto &[letter, folder] : map.FolderBindings()) {
        boundFolders_.push_back(folder);
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            continue; // nothing behind the letter now
        VolumeInfo v;
        v.letter = letter;
        v.type = DRIVE_FIXED;
        v.ready = true;
        v.mountPoint = folder;
        v.boundFolder = true;
        if (const VolumeInfo *holder = hold(folder)) {
            v.label = holder->label;
            v.serial = holder->serial;
            v.fileSystem = holder->fileSystem;
        } else {
            v.serial = StableVolumeHash("folder:" + folder);
        }
        bound.push_back(std::move(v));
    }
    drives.insert(drives.end(), bound.begin(), bound.end());
    std::sort(drives.begin(), drives.end(), [](const VolumeInfo &a, const VolumeInfo &b) { return a.letter < b.letter; });
    drives_ = std::move(drives);
    opticalCheckedAt_ = {};
    state_ = StateFingerprint();
}
