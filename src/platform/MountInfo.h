#pragma once
// Reading /proc/self/mountinfo and telling which mounts a user would catalogue.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // folder of the file system mounted here ("/" for the whole)
    std::string mountPoint; // escapes undone
    std::string options;
    std::string fsType;     // "ext4", "fuse.sshfs" ...
    std::string source;     // "/dev/sdb1", "//server/share", "tmpfs" ...
};

// How a catalogued mount is reached.
enum class MountClass {
    Skip,    // pseudo or system mount: no drive
    Local,   // block device or other local file system
    Network, // network share
    Ram,     // RAM disk
};

// Undoes the octal escapes (\040 for a blank, \011, \012, \134) of a field.
std::string UnescapeMountField(std::string_view field);

// Parses the whole text; malformed lines are skipped and counted in `badLines`
// when given.
std::vector<MountEntry> ParseMountInfo(std::string_view text, int *badLines = nullptr);

// Parses one line; nullopt when it is malformed.
std::optional<MountEntry> ParseMountInfoLine(std::string_view line);

// Decides whether a mount gets a drive, and of which kind.
MountClass ClassifyMount(const MountEntry &entry);

// The mounts to catalogue, in mountinfo order: classified, with a mount point
// hidden by a later mount on the same folder dropped, and a file system seen
// again at a second folder (same device and root) kept only once.
std::vector<MountEntry> CatalogueMounts(const std::vector<MountEntry> &all);
