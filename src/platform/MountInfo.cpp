#include "platform/MountInfo.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <set>
#include <tuple>

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size())
            break;
        size_t j = line.find(' ', i);
        if (j == std::string_view::npos)
            j = line.size();
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

template <typename T> bool ParseNumber(std::string_view s, T &value)
{
    if (s.empty())
        return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && p == s.data() + s.size();
}

bool StartsWithFolder(std::string_view path, std::string_view folder)
{
    if (path.substr(0, folder.size()) != folder)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Folders whose mounts belong to the system, not to the user's data.
constexpr std::array kSystemFolders{
    std::string_view("/proc"), std::string_view("/sys"),  std::string_view("/dev"),
    std::string_view("/run"),  std::string_view("/boot"), std::string_view("/efi"),
    std::string_view("/snap"), std::string_view("/etc"),  std::string_view("/usr"),
    std::string_view("/bin"),  std::string_view("/sbin"), std::string_view("/lib"),
    std::string_view("/lib32"), std::string_view("/lib64"), std::string_view("/tmp"),
    std::string_view("/var/lib/docker"), std::string_view("/var/lib/containers"),
    std::string_view("/var/snap"), std::string_view("/var/tmp")};

// User folders where removable media and hand-made mounts appear.
constexpr std::array kMediaFolders{std::string_view("/media"), std::string_view("/run/media"),
                                   std::string_view("/mnt")};

const std::set<std::string_view> kPseudoTypes{
    "proc",       "sysfs",     "devtmpfs",   "devpts",     "securityfs", "cgroup",
    "cgroup2",    "pstore",    "efivarfs",   "bpf",        "debugfs",    "tracefs",
    "configfs",   "fusectl",   "hugetlbfs",  "mqueue",     "autofs",     "binfmt_misc",
    "rpc_pipefs", "nsfs",      "selinuxfs",  "overlay",    "squashfs",   "nfsd",
    "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs", "fuse.snapfuse", "none"};

const std::set<std::string_view> kNetworkTypes{
    "nfs",       "nfs4",        "cifs",       "smb3",       "smbfs",         "ncpfs",
    "afs",       "ceph",        "glusterfs",  "9p",         "davfs",         "fuse.sshfs",
    "fuse.rclone", "fuse.s3fs", "fuse.curlftpfs", "fuse.glusterfs", "fuse.davfs2",
    "fuse.smbnetfs"};

} // namespace

std::string UnescapeMountField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2])
            && IsOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (v <= 255) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::optional<MountEntry> ParseMountInfoLine(std::string_view line)
{
    // id parent major:minor root mountpoint options [optional fields...] - fstype source superoptions
    auto fields = SplitFields(line);
    auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (dash == fields.end() || dash - fields.begin() < 6 || fields.end() - dash < 3)
        return std::nullopt;
    MountEntry e;
    if (!ParseNumber(fields[0], e.mountId) || !ParseNumber(fields[1], e.parentId))
        return std::nullopt;
    std::string_view dev = fields[2];
    size_t colon = dev.find(':');
    if (colon == std::string_view::npos || !ParseNumber(dev.substr(0, colon), e.major)
        || !ParseNumber(dev.substr(colon + 1), e.minor))
        return std::nullopt;
    e.root = UnescapeMountField(fields[3]);
    e.mountPoint = UnescapeMountField(fields[4]);
    if (e.mountPoint.empty() || e.mountPoint[0] != '/')
        return std::nullopt;
    e.options = std::string(fields[5]);
    e.fsType = UnescapeMountField(*(dash + 1));
    e.source = UnescapeMountField(*(dash + 2));
    return e;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text, int *badLines)
{
    std::vector<MountEntry> out;
    int bad = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find('\n', i);
        if (j == std::string_view::npos)
            j = text.size();
        std::string_view line = text.substr(i, j - i);
        i = j + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        if (auto e = ParseMountInfoLine(line))
            out.push_back(std::move(*e));
        else
            ++bad;
    }
    if (badLines)
        *badLines = bad;
    return out;
}

MountClass ClassifyMount(const MountEntry &e)
{
    if (e.mountPoint == "/")
        return MountClass::Local; // the root file system is always drive c:
    bool inMedia = std::any_of(kMediaFolders.begin(), kMediaFolders.end(),
                               [&](std::string_view f) { return StartsWithFolder(e.mountPoint, f); });
    bool inSystem = std::any_of(kSystemFolders.begin(), kSystemFolders.end(),
                                [&](std::string_view f) { return StartsWithFolder(e.mountPoint, f); });
    if (inSystem && !inMedia)
        return MountClass::Skip;
    if (e.fsType == "tmpfs" || e.fsType == "ramfs")
        return inMedia ? MountClass::Ram : MountClass::Skip; // a RAM disk the user made
    if (kPseudoTypes.count(e.fsType))
        return MountClass::Skip;
    if (kNetworkTypes.count(e.fsType))
        return MountClass::Network;
    if (StartsWith(e.source, "/dev/ram") || StartsWith(e.source, "/dev/zram"))
        return MountClass::Ram;
    return MountClass::Local;
}

std::vector<MountEntry> CatalogueMounts(const std::vector<MountEntry> &all)
{
    // A later mount on the same folder hides the earlier one.
    std::map<std::string, size_t> topByFolder;
    for (size_t i = 0; i < all.size(); ++i)
        topByFolder[all[i].mountPoint] = i;

    std::vector<size_t> order;
    auto rootIt = topByFolder.find("/");
    if (rootIt != topByFolder.end())
        order.push_back(rootIt->second); // the root wins over a second view of its file system
    for (size_t i = 0; i < all.size(); ++i)
        if (topByFolder[all[i].mountPoint] == i && all[i].mountPoint != "/")
            order.push_back(i);

    // The same file system and folder seen again is a bind mount of the same
    // data; device numbers tell file systems apart (anonymous ones too).
    std::set<std::tuple<unsigned, unsigned, std::string>> seen;
    std::vector<MountEntry> out;
    for (size_t i : order) {
        const MountEntry &e = all[i];
        if (ClassifyMount(e) == MountClass::Skip)
            continue;
        if (!seen.insert(std::make_tuple(e.major, e.minor, e.root)).second)
            continue;
        out.push_back(e);
    }
    return out;
}
