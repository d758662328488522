#include "platform/VolumeService.h"

#include "platform/VolumeSystem.h"
#include "util/BaseDateTime.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

std::unique_ptr<VolumeService> &CurrentSlot()
{
    static std::unique_ptr<VolumeService> current;
    return current;
}

// The service's watchers belong to the event loop: let it go while the
// application object still exists.
void ReleaseAtExit()
{
    static bool registered = false;
    if (!registered && QCoreApplication::instance()) {
        qAddPostRoutine([] { CurrentSlot().reset(); });
        registered = true;
    }
}

char LowerLetter(char c)
{
    if (c >= 'A' && c <= 'Z')
        return char(c - 'A' + 'a');
    return c;
}

bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }

// Components of a stored path after "e:"; false for a path that would leave
// the drive or is not rooted at it.
bool StoredComponents(std::string_view rest, std::vector<std::string> &parts, bool &trailing)
{
    parts.clear();
    trailing = false;
    if (rest.empty())
        return true;
    if (rest[0] != '\\')
        return false; // "e:docs" names no fixed place
    size_t i = 0;
    while (i < rest.size()) {
        size_t j = rest.find('\\', i);
        if (j == std::string_view::npos)
            j = rest.size();
        std::string_view part = rest.substr(i, j - i);
        i = j + 1;
        if (part.empty())
            continue;
        if (part == "." || part == ".." || part.find('\0') != std::string_view::npos)
            return false;
        std::string local(part);
        std::replace(local.begin(), local.end(), '/', '\\');
        parts.push_back(std::move(local));
    }
    trailing = rest.back() == '\\' && !parts.empty();
    return true;
}

bool LocalComponents(std::string_view path, std::vector<std::string> &parts, bool &trailing)
{
    parts.clear();
    trailing = false;
    if (path.empty() || path[0] != '/')
        return false;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view part = path.substr(i, j - i);
        i = j + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        parts.emplace_back(part);
    }
    trailing = path.back() == '/' && !parts.empty();
    return true;
}

std::string ToStoredName(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

uint32_t Attributes(const std::string &name, const struct stat &st, bool readOnlyMount, const std::string &path,
                    bool &isDirectory)
{
    uint32_t a = 0;
    isDirectory = false;
    if (S_ISLNK(st.st_mode)) {
        a |= FILE_ATTR_REPARSE_POINT;
        struct stat target;
        if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            a |= FILE_ATTR_DIRECTORY;
            isDirectory = true;
        } else {
            a |= FILE_ATTR_ARCHIVE;
        }
    } else if (S_ISDIR(st.st_mode)) {
        a |= FILE_ATTR_DIRECTORY;
        isDirectory = true;
    } else if (S_ISREG(st.st_mode)) {
        a |= FILE_ATTR_ARCHIVE;
    } else {
        a |= FILE_ATTR_SYSTEM; // devices, pipes and sockets
    }
    if (readOnlyMount || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        a |= FILE_ATTR_READONLY;
    if (!name.empty() && name[0] == '.')
        a |= FILE_ATTR_HIDDEN;
    return a;
}

} // namespace

VolumeService::VolumeService(QObject *parent) : QObject(parent) {}
VolumeService::~VolumeService() = default;

VolumeService &VolumeService::Current()
{
    auto &slot = CurrentSlot();
    if (!slot) {
        slot = std::make_unique<SystemVolumeService>(SystemVolumeOptions{});
        ReleaseAtExit();
    }
    return *slot;
}

void VolumeService::SetCurrent(std::unique_ptr<VolumeService> service)
{
    CurrentSlot() = std::move(service);
    ReleaseAtExit();
}

std::optional<VolumeInfo> VolumeService::Drive(char letter) const
{
    auto d = Find(letter);
    if (d)
        FreshSizes(*d);
    return d;
}

std::optional<VolumeInfo> VolumeService::Find(char letter) const
{
    letter = LowerLetter(letter);
    if (!IsLetter(letter))
        return std::nullopt;
    for (auto &d : Drives())
        if (d.letter == letter)
            return d;
    return std::nullopt;
}

int VolumeService::GetDriveType(char letter) const
{
    auto d = Find(letter);
    return d ? d->type : DRIVE_NO_ROOT_DIR;
}

int VolumeService::GetDriveType(std::string_view root) const
{
    return root.empty() ? DRIVE_NO_ROOT_DIR : GetDriveType(root[0]);
}

bool VolumeService::GetVolumeInformation(char letter, std::string &label, uint32_t &serial,
                                         std::string *fileSystem) const
{
    auto d = Find(letter);
    if (!d || !d->ready)
        return false;
    label = d->label;
    serial = d->serial;
    if (fileSystem)
        *fileSystem = d->fileSystem;
    return true;
}

bool VolumeService::GetDiskFreeSpaceEx(char letter, uint64_t &freeToCaller, uint64_t &totalBytes,
                                       uint64_t &totalFreeBytes) const
{
    auto d = Find(letter);
    if (!d || !d->ready)
        return false;
    FreshSizes(*d);
    freeToCaller = d->freeBytes;
    totalBytes = d->totalBytes;
    totalFreeBytes = d->totalFreeBytes;
    return true;
}

uint32_t VolumeService::GetLogicalDrives() const
{
    uint32_t mask = 0;
    for (auto &d : Drives())
        if (IsLetter(d.letter) && d.type != DRIVE_NO_ROOT_DIR)
            mask |= 1u << (d.letter - 'a');
    return mask;
}

std::vector<std::string> VolumeService::GetLogicalDriveStrings() const
{
    std::vector<std::string> out;
    uint32_t mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (mask & (1u << i))
            out.push_back(std::string(1, char('a' + i)) + ":\\");
    return out;
}

std::optional<std::string> VolumeService::LocalPath(std::string_view stored) const
{
    if (stored.size() < 2 || stored[1] != ':')
        return std::nullopt;
    auto d = Find(stored[0]);
    if (!d || !d->ready || d->mountPoint.empty())
        return std::nullopt;
    std::vector<std::string> parts;
    bool trailing;
    if (!StoredComponents(stored.substr(2), parts, trailing))
        return std::nullopt;
    std::string out = d->mountPoint;
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    for (auto &p : parts) {
        if (out.back() != '/')
            out += '/';
        out += p;
    }
    if (trailing)
        out += '/';
    return out;
}

std::optional<std::string> VolumeService::StoredPath(std::string_view local) const
{
    std::vector<std::string> parts;
    bool trailing;
    if (!LocalComponents(local, parts, trailing))
        return std::nullopt;
    const VolumeInfo *best = nullptr;
    size_t bestDepth = 0;
    auto drives = Drives();
    for (auto &d : drives) {
        if (!d.ready || d.mountPoint.empty())
            continue;
        std::vector<std::string> mp;
        bool t;
        if (!LocalComponents(d.mountPoint, mp, t) || mp.size() > parts.size())
            continue;
        if (!std::equal(mp.begin(), mp.end(), parts.begin()))
            continue;
        if (!best || mp.size() > bestDepth) {
            best = &d;
            bestDepth = mp.size();
        }
    }
    if (!best)
        return std::nullopt;
    std::string out = std::string(1, best->letter) + ":\\";
    for (size_t i = bestDepth; i < parts.size(); ++i) {
        if (i > bestDepth)
            out += '\\';
        out += ToStoredName(parts[i]);
    }
    if (trailing && parts.size() > bestDepth)
        out += '\\';
    return out;
}

bool VolumeService::ListFolder(std::string_view storedFolder, std::vector<VolumeEntry> &entries,
                               std::string &error) const
{
    entries.clear();
    if (storedFolder.size() < 2 || storedFolder[1] != ':') {
        error = "not a drive path: " + std::string(storedFolder);
        return false;
    }
    auto d = Find(storedFolder[0]);
    if (!d) {
        error = "drive " + std::string(storedFolder.substr(0, 2)) + " does not exist";
        return false;
    }
    if (d->audioCd()) {
        std::vector<std::string> parts;
        bool trailing;
        if (!StoredComponents(storedFolder.substr(2), parts, trailing) || !parts.empty()) {
            error = "no such folder on the audio CD: " + std::string(storedFolder);
            return false;
        }
        entries = d->virtualRoot;
        return true;
    }
    auto local = LocalPath(storedFolder);
    if (!local) {
        error = "drive " + std::string(storedFolder.substr(0, 2)) + " is not ready";
        return false;
    }
    DIR *dir = ::opendir(local->c_str());
    if (!dir) {
        error = "cannot read " + *local + ": " + std::strerror(errno);
        return false;
    }
    struct statvfs vfs;
    bool readOnlyMount = ::statvfs(local->c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
    std::string base = *local;
    if (base.back() != '/')
        base += '/';
    struct stat self;
    bool haveSelf = ::stat(local->c_str(), &self) == 0;
    while (struct dirent *de = ::readdir(dir)) {
        std::string name = de->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = base + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue; // vanished meanwhile
        VolumeEntry e;
        e.attributes = Attributes(name, st, readOnlyMount, path, e.isDirectory);
        // Another file system mounted here is a drive of its own: recorded,
        // not walked as part of this one.
        if (S_ISDIR(st.st_mode) && haveSelf && st.st_dev != self.st_dev)
            e.attributes |= FILE_ATTR_REPARSE_POINT;
        e.size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
        FileTime created = 0, written = 0;
        if (GetFileTimes(path, created, written)) {
            e.creationTime = created;
            e.lastWriteTime = written;
        } else {
            e.lastWriteTime = UnixTimeToFileTime(st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec));
            e.creationTime = e.lastWriteTime;
        }
        e.name = ToStoredName(std::move(name));
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    return true;
}

FixedVolumeService::FixedVolumeService(std::vector<VolumeInfo> drives, QObject *parent) : VolumeService(parent)
{
    SetDrives(std::move(drives));
}

void FixedVolumeService::SetDrives(std::vector<VolumeInfo> drives)
{
    std::vector<VolumeInfo> clean;
    for (auto &d : drives) {
        d.letter = LowerLetter(d.letter);
        if (!IsLetter(d.letter))
            continue;
        if (std::any_of(clean.begin(), clean.end(), [&](const VolumeInfo &c) { return c.letter == d.letter; }))
            continue;
        clean.push_back(std::move(d));
    }
    std::stable_sort(clean.begin(), clean.end(),
                     [](const VolumeInfo &a, const VolumeInfo &b) { return a.letter < b.letter; });
    if (clean == drives_)
        return;
    drives_ = std::move(clean);
    emit DeviceChange();
}

uint32_t StableVolumeHash(std::string_view text)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

bool operator==(const VolumeEntry &a, const VolumeEntry &b)
{
    return a.name == b.name && a.isDirectory == b.isDirectory && a.size == b.size && a.attributes == b.attributes
           && a.creationTime == b.creationTime && a.lastWriteTime == b.lastWriteTime;
}

bool operator==(const VolumeInfo &a, const VolumeInfo &b)
{
    return a.letter == b.letter && a.type == b.type && a.ready == b.ready && a.label == b.label
           && a.serial == b.serial && a.fileSystem == b.fileSystem && a.mountPoint == b.mountPoint
           && a.device == b.device && a.remoteName == b.remoteName && a.totalBytes == b.totalBytes
           && a.freeBytes == b.freeBytes && a.totalFreeBytes == b.totalFreeBytes
           && a.virtualRoot == b.virtualRoot;
}
