#pragma once
// The volume service of this machine: mounted file systems from
// /proc/self/mountinfo, optical drives from sysfs, letters from the letter map
// in the data folder. Mount changes are watched; optical drives are polled for
// disc changes.
#include "platform/CdToc.h"
#include "platform/VolumeService.h"

#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <string>

struct SystemVolumeOptions {
    // Letter map file; empty keeps the letters in memory only.
    std::string letterMapPath;
    // False: the map is read but not written (letters it lacks are kept in
    // memory) until SetLetterMapPath is called; a start that may still end
    // without changing anything writes nothing.
    bool letterMapWritable = true;
    std::string mountInfoPath = "/proc/self/mountinfo";
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    // Asks an optical drive (its device path under devRoot) for its disc;
    // empty: the CD-ROM ioctls. Tests put a made-up drive here.
    std::function<OpticalDriveState(const std::string &device)> probeOptical;
    // Interval of the optical-drive poll in milliseconds; 0 switches off the
    // poll and the mount watch (tests call Refresh themselves).
    int pollIntervalMs = 2000;
};

// Name of the letter map file inside the data folder.
inline constexpr const char *kLetterMapFileName = "driveletters.map";
// dataFolder + "/" + kLetterMapFileName.
std::string DefaultLetterMapPath(const std::string &dataFolder);

class SystemVolumeService : public VolumeService {
    Q_OBJECT
public:
    explicit SystemVolumeService(SystemVolumeOptions options, QObject *parent = nullptr);
    ~SystemVolumeService() override;

    std::vector<VolumeInfo> Drives() const override;
    void Refresh() override;

    // Keeps the letters in `path` from now on, writing it when needed (the
    // letters of this session are written there when it does not exist yet).
    void SetLetterMapPath(const std::string &path);

    // The last problems met with the letter map (unusable lines, folders that
    // are missing or are files, a failed write), one a line; empty when none.
    const std::string &LetterMapProblem() const { return letterMapProblem_; }

protected:
    void FreshSizes(VolumeInfo &drive) const override;

private:
    void RefreshIfStale() const;
    std::string OpticalFingerprint() const;
    OpticalDriveState Probe(const std::string &name) const;
    // Everything whose change gives other drives: mount table, letter map,
    // bound folders, discs.
    std::string StateFingerprint() const;
    void Rebuild();

    SystemVolumeOptions options_;
    std::vector<VolumeInfo> drives_;
    std::string mountInfoText_;
    std::string state_;
    mutable std::string opticalCache_;
    mutable std::chrono::steady_clock::time_point opticalCheckedAt_{};
    std::vector<std::string> boundFolders_;
    std::string letterMapProblem_;
    std::string memoryMap_; // the map's text when no file keeps it
    bool mapWriteHeld_ = false; // the map needs writing, but may not be written yet
    std::map<std::string, uint64_t> discSeen_; // optical device -> file time its disc was first seen
    QSocketNotifier *mountWatch_ = nullptr;
    int mountFd_ = -1;
    QTimer poll_;
};
