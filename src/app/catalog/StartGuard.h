#pragma once
// What the program makes sure of around its start: one running copy per data
// folder, and the mistakes of the drive-letter map told to the user once.
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLockFile;
class SystemVolumeService;

// The lock beside cat.ini. A second copy of the program on the same data
// folder would save over the first one's catalogue; a lock left by a copy
// that is no longer running is taken over.
class TDataFolderLock {
public:
    static constexpr const char *LockFileName = "cat.ini.lock";

    explicit TDataFolderLock(std::string dataFolder);
    ~TDataFolderLock();
    TDataFolderLock(const TDataFolderLock &) = delete;
    TDataFolderLock &operator=(const TDataFolderLock &) = delete;

    // Takes the lock, making the data folder when it is missing. False when
    // another running copy holds it (HolderPid and HolderHost tell which) or
    // the lock cannot be made (Error tells why).
    bool Acquire();
    // Lets the lock go. With `tidy`, the folders Acquire made are removed
    // again when they are still empty (a start that wrote nothing).
    void Release(bool tidy);

    // The message of a failed Acquire, in the current language.
    std::string Message() const;

    long long HolderPid = 0;
    std::string HolderHost;
    std::string Error; // why the lock could not be made (empty when another copy holds it)

private:
    enum class Failure { None, Folder, LockFile };
    Failure failure_ = Failure::None;
    std::string failedPath_, failedReason_; // told in the language current at Message()
    std::string folder_;
    std::vector<std::string> made_; // folders Acquire created, outermost first
    std::unique_ptr<QLockFile> lock_;
};

// Lets the volume service keep the letter map in `mapPath` once the start has
// its catalogue. A damaged catalogue opened read-only changes nothing, the map
// included: its letters stay in memory for the session.
void TakeUpLetterMap(SystemVolumeService &volumes, const std::string &mapPath, bool catalogReadOnly);

// The first line of every letter-map message, in the current language.
std::string LetterMapMessage(const std::string &mapPath, const std::string &problems);

// Shows the letter map's problems once: at start, and again only when they
// change (the map edited, a bound folder gone). `problems` answers the
// current list; empty means none.
class TLetterMapNotice : public QObject {
    Q_OBJECT
public:
    TLetterMapNotice(std::string mapPath, std::function<std::string()> problems, QObject *parent = nullptr);
    // Shows the problems when they differ from the ones shown last.
    void Check();
    int Shown() const { return shown_; }

private:
    std::string mapPath_;
    std::function<std::string()> problems_;
    std::string last_;
    int shown_ = 0;
};
