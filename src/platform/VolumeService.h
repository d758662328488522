#pragma once
// Drive letters on Linux.
//
// The catalogue keys every disc and every stored path on a drive letter
// ("e: [MYDISC]", "e:\Photos\"). The volume service gives the mounted file
// systems and the optical drives of this machine stable letters, answers the
// drive questions the catalogue asks (kind, label, serial, size) and maps a
// stored path to the local file of the mounted volume and back.
//
// One process-wide instance (VolumeService::Current) serves the whole program;
// the application installs the system service with the letter map of its data
// folder at start-up, before it creates the main window:
//     SystemVolumeOptions options;
//     options.letterMapPath = DefaultLetterMapPath(dataFolder);
//     VolumeService::SetCurrent(std::make_unique<SystemVolumeService>(options));
// and connects DeviceChange to its device-change handler. Tests install a
// FixedVolumeService with a made-up list.
#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Drive kinds with the numbers the catalogue has always stored and compared.
enum DriveType : int {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1, // nothing behind the letter
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

// File attribute bits of a listed entry, as the scan tests them.
enum : uint32_t {
    FILE_ATTR_READONLY = 0x01,
    FILE_ATTR_HIDDEN = 0x02,
    FILE_ATTR_SYSTEM = 0x04,
    FILE_ATTR_DIRECTORY = 0x10,
    FILE_ATTR_ARCHIVE = 0x20,
    FILE_ATTR_REPARSE_POINT = 0x400, // a symbolic link: recorded, never walked
};

// One entry of a drive folder: a real file or folder, or a virtual track file
// of an audio CD.
struct VolumeEntry {
    std::string name;       // as stored: a "\" of the Linux name appears as "/"
    bool isDirectory = false;
    uint64_t size = 0;
    uint32_t attributes = 0; // FILE_ATTR_* bits
    // File times (100-ns intervals since 1601, UTC, as util/BaseDateTime.h
    // formats them): birth time where the file system keeps one, else the
    // last write; and the last write.
    uint64_t creationTime = 0;
    uint64_t lastWriteTime = 0;
};

// The facts of one lettered drive.
struct VolumeInfo {
    char letter = 0;            // 'a'..'z', lower case
    int type = DRIVE_NO_ROOT_DIR;
    bool ready = false;         // false: an optical drive without a disc, a missing bound folder
    std::string label;          // volume label, UTF-8 ("Audio CD" for an audio CD)
    uint32_t serial = 0;        // volume serial number
    std::string fileSystem;     // "ext4", "vfat", "iso9660", "CDFS" for an audio CD ...
    std::string mountPoint;     // local folder of the drive's root; empty for an audio CD
    std::string device;         // block device ("/dev/sr0"), empty for folders and network shares
    std::string remoteName;     // connection name of a network drive ("//server/share")
    uint64_t totalBytes = 0;    // of the file system (for a bound folder: the one that holds it)
    uint64_t freeBytes = 0;     // free to this user
    bool boundFolder = false;   // a folder bound to the letter in the letter map
    uint64_t totalFreeBytes = 0;
    // An audio CD's root: Track01.cda .. TrackNN.cda from the table of contents.
    std::vector<VolumeEntry> virtualRoot;
    bool audioCd() const { return !virtualRoot.empty(); }
};

class VolumeService : public QObject {
    Q_OBJECT
public:
    explicit VolumeService(QObject *parent = nullptr);
    ~VolumeService() override;

    // The process-wide service. Without an installed one, a system service with
    // a letter map kept in memory only is created on first use.
    static VolumeService &Current();
    // Installs a service as the process-wide one (takes ownership); nullptr
    // drops it, so the next Current() creates the default again.
    static void SetCurrent(std::unique_ptr<VolumeService> service);

    // Every lettered drive, in letter order.
    virtual std::vector<VolumeInfo> Drives() const = 0;
    // One drive, with its sizes brought up to date; nullopt when nothing has
    // that letter. `letter` in either case.
    std::optional<VolumeInfo> Drive(char letter) const;

    // The questions the catalogue asks. A root may be given as "e", "e:",
    // "E:\" or "e:/"; only its first character counts.
    int GetDriveType(char letter) const;
    int GetDriveType(std::string_view root) const;
    // False (and nothing written) for a drive that is missing or not ready.
    bool GetVolumeInformation(char letter, std::string &label, uint32_t &serial,
                              std::string *fileSystem = nullptr) const;
    bool GetDiskFreeSpaceEx(char letter, uint64_t &freeToCaller, uint64_t &totalBytes,
                            uint64_t &totalFreeBytes) const;
    // Bit 0 for a:, bit 25 for z:, like the system's logical drive mask.
    uint32_t GetLogicalDrives() const;
    // Roots "c:\", "d:\" ... in letter order.
    std::vector<std::string> GetLogicalDriveStrings() const;

    // Stored path ("e:\docs\a.txt", "e:", "e:\") -> local path of the mounted
    // volume. A "/" inside a stored name stands for a "\" of the Linux name.
    // nullopt for a drive without a local root (missing, not ready, audio CD)
    // and for paths that would leave the drive ("..").
    std::optional<std::string> LocalPath(std::string_view storedPath) const;
    // Local path -> stored path on the drive whose root holds it most closely
    // ("/media/u/STICK/a\b.txt" -> "f:\a/b.txt"). nullopt when no drive holds it.
    std::optional<std::string> StoredPath(std::string_view localPath) const;

    // Lists one folder of a drive, given as a stored path ("e:\", "e:\docs\"):
    // the folder's entries without "." and "..", in the order the file system
    // gives them. An audio CD's root lists its track files. False with a
    // message in `error` when the folder cannot be read.
    bool ListFolder(std::string_view storedFolder, std::vector<VolumeEntry> &entries,
                    std::string &error) const;

    // Re-reads the machine's volumes; emits DeviceChange when anything changed.
    virtual void Refresh() {}

protected:
    // The drive as listed, sizes as they were last taken.
    std::optional<VolumeInfo> Find(char letter) const;
    // Brings a drive's sizes up to date just before Drive or
    // GetDiskFreeSpaceEx answers (only then: asking a network share may take
    // its time, and the other questions must not wait for it).
    virtual void FreshSizes(VolumeInfo &) const {}

signals:
    // A volume was mounted or unmounted, or a disc was put in or taken out.
    void DeviceChange();
};

// A service over a fixed list of drives, for tests and tools.
class FixedVolumeService : public VolumeService {
    Q_OBJECT
public:
    explicit FixedVolumeService(std::vector<VolumeInfo> drives = {}, QObject *parent = nullptr);
    std::vector<VolumeInfo> Drives() const override { return drives_; }
    // Replaces the list (letters are lower-cased, sorted; a later duplicate
    // letter is dropped) and emits DeviceChange when it differs.
    void SetDrives(std::vector<VolumeInfo> drives);

private:
    std::vector<VolumeInfo> drives_;
};

// Stable 32-bit value of a text (FNV-1a), for volumes whose file system has no
// serial number of the kind the catalogue knows.
uint32_t StableVolumeHash(std::string_view text);

bool operator==(const VolumeEntry &a, const VolumeEntry &b);
bool operator==(const VolumeInfo &a, const VolumeInfo &b);
