#include "app/catalog/StartGuard.h"

#include <QLockFile>

#include <filesystem>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/Texts3.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/VolumeSystem.h"

namespace fs = std::filesystem;

void TakeUpLetterMap(SystemVolumeService &volumes, const std::string &mapPath, bool catalogReadOnly)
{
    if (!catalogReadOnly)
        volumes.SetLetterMapPath(mapPath);
}

TDataFolderLock::TDataFolderLock(std::string dataFolder) : folder_(std::move(dataFolder)) {}

TDataFolderLock::~TDataFolderLock()
{
    Release(false);
}

bool TDataFolderLock::Acquire()
{
    Error.clear();
    failure_ = Failure::None;
    HolderPid = 0;
    HolderHost.clear();
    std::error_code ec;
    if (!fs::is_directory(folder_, ec)) {
        // Made one level at a time, so a start that writes nothing can take
        // exactly these away again.
        std::vector<fs::path> missing;
        for (fs::path p = fs::path(folder_); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
            missing.push_back(p);
            if (p == p.parent_path())
                break;
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (!fs::create_directory(*it, ec) && ec) {
                failure_ = Failure::Folder;
                failedPath_ = it->string();
                failedReason_ = ec.message();
                Error = "Cannot create the data folder " + failedPath_ + ": " + failedReason_;
                return false;
            }
            made_.push_back(it->string());
        }
    }
    lock_ = std::make_unique<QLockFile>(QString::fromStdString((fs::path(folder_) / LockFileName).string()));
    // Only a lock whose process is gone is stale, however old it is: a copy
    // may run for days.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return true;
    if (lock_->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, app;
        if (lock_->getLockInfo(&pid, &host, &app)) {
            HolderPid = pid;
            HolderHost = FromQString(host);
        }
    } else {
        failure_ = Failure::LockFile;
        failedPath_ = (fs::path(folder_) / LockFileName).string();
        // QLockFile tells no reason of its own beyond "permission"; the folder says more.
        if (lock_->error() == QLockFile::PermissionError)
            failedReason_ = std::strerror(EACCES);
        else if (!fs::is_directory(folder_, ec))
            failedReason_ = std::strerror(ENOTDIR);
        else
            failedReason_ = ::access(folder_.c_str(), W_OK) != 0 ? std::strerror(errno) : std::string();
        Error = "Cannot make the lock file " + failedPath_ + (failedReason_.empty() ? "" : ": " + failedReason_);
    }
    lock_.reset();
    return false;
}

void TDataFolderLock::Release(bool tidy)
{
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
    if (tidy) {
        std::error_code ec;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            fs::remove(fs::path(*it) / "CdNames", ec); // removes only an empty folder
            if (!fs::remove(*it, ec))
                break; // not empty: something was written there after all
        }
    }
    made_.clear();
}

std::string TDataFolderLock::Message() const
{
    const std::string why = failedReason_.empty() ? std::string(".") : " (" + failedReason_ + ").";
    const std::string ends = Text3(" The program ends without changing anything.",
                                   " Program končí bez akejkoľvek zmeny.", " Program končí bez jakékoli změny.");
    if (failure_ == Failure::Folder)
        return Text3("Cannot create the data folder " + failedPath_ + why,
                     "Priečinok údajov " + failedPath_ + " sa nedá vytvoriť" + why,
                     "Složku dat " + failedPath_ + " nelze vytvořit" + why) +
               ends;
    if (failure_ == Failure::LockFile)
        return Text3("Cannot make the lock file " + failedPath_ + why +
                         " It keeps a second copy of the program off the same data folder; check that the folder "
                         "can be written.",
                     "Súbor zámku " + failedPath_ + " sa nedá vytvoriť" + why +
                         " Bráni tomu, aby nad tým istým priečinkom údajov bežala druhá kópia programu; overte, či "
                         "sa do priečinka dá zapisovať.",
                     "Soubor zámku " + failedPath_ + " nelze vytvořit" + why +
                         " Brání tomu, aby nad touž složkou dat běžela druhá kopie programu; ověřte, zda lze do "
                         "složky zapisovat.") +
               ends;
    const std::string pid = std::to_string(HolderPid);
    const std::string host = HolderHost.empty() ? std::string() : " (" + HolderHost + ")";
    return Text3("Another copy of the program (process " + pid + host + ") is already running on the data folder " +
                     folder_ + ". Use that copy, or end it before starting another one; this one ends without "
                     "changing anything.",
                 "Nad priečinkom údajov " + folder_ + " už beží iná kópia programu (proces " + pid + host +
                     "). Použite tú, alebo ju ukončite pred spustením ďalšej; táto kópia končí bez akejkoľvek zmeny.",
                 "Nad složkou dat " + folder_ + " již běží jiná kopie programu (proces " + pid + host +
                     "). Použijte tu, nebo ji ukončete před spuštěním další; tato kopie končí bez jakékoli změny.");
}

std::string LetterMapMessage(const std::string &mapPath, const std::string &problems)
{
    return Text3("Some lines of the drive-letter map " + mapPath + " are not used as they stand:\n\n" + problems +
                     "\n\nThe other lines apply. Correct the file; a change is read at once.",
                 "Niektoré riadky mapy písmen jednotiek " + mapPath + " sa nepoužijú tak, ako sú:\n\n" + problems +
                     "\n\nOstatné riadky platia. Opravte súbor; zmena sa prečíta hneď.",
                 "Některé řádky mapy písmen jednotek " + mapPath + " se nepoužijí tak, jak jsou:\n\n" + problems +
                     "\n\nOstatní řádky platí. Opravte soubor; změna se přečte hned.");
}

TLetterMapNotice::TLetterMapNotice(std::string mapPath, std::function<std::string()> problems, QObject *parent)
    : QObject(parent), mapPath_(std::move(mapPath)), problems_(std::move(problems))
{
}

void TLetterMapNotice::Check()
{
    const std::string now = problems_ ? problems_() : std::string();
    if (now == last_)
        return;
    last_ = now;
    if (now.empty())
        return;
    ++shown_;
    Prompt::Current().Show(ToQString(LetterMapMessage(mapPath_, now)), QString(), PromptButtons::Ok,
                           PromptIcon::Warning);
}
