#include "util/BaseFileUtils.h"

#include "util/FileCommit.h"
#include "util/PeResources.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace {

bool IsSep(char c)
{
    return c == '\\' || c == '/';
}

// Position just after the last separator or ":" (0 when there is none).
size_t NameStart(std::string_view path)
{
    for (size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
        if (IsSep(c) || c == ':')
            return i;
    }
    return 0;
}

// Index of the "." starting the extension, or npos.
size_t ExtensionDot(std::string_view name)
{
    for (size_t i = name.size(); i > 0; --i) {
        const char c = name[i - 1];
        if (c == '.')
            return i - 1;
        if (IsSep(c) || c == ':')
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

bool HasWildcard(std::string_view s)
{
    return s.find_first_of("*?") != std::string_view::npos;
}

} // namespace

std::string PathAddSeparator(std::string_view path)
{
    if (path.empty())
        return "\\";
    if (IsSep(path.back()))
        return std::string(path);
    // A local path (one with "/" and no backslash) gets "/"; stored and drive paths a backslash.
    const bool local = path.find('/') != std::string_view::npos && path.find('\\') == std::string_view::npos;
    return std::string(path) + (local ? '/' : '\\');
}

std::string PathExtractFileDirWithDelimiter(std::string_view fileName)
{
    size_t start = NameStart(fileName);
    std::string_view dir = fileName.substr(0, start);
    // Drop the trailing separator, except at a root ("c:\", "/") where it is
    // the folder itself.
    if (!dir.empty() && IsSep(dir.back()) && dir.size() > 1 && dir[dir.size() - 2] != ':')
        dir.remove_suffix(1);
    return PathAddSeparator(dir); // a bare name gives "\"

}

std::string PathExtractFileNameWithoutExtension(std::string_view path)
{
    return PathRemoveExtension(path.substr(NameStart(path)));
}

std::string PathRemoveExtension(std::string_view name)
{
    const size_t dot = ExtensionDot(name);
    if (dot == std::string_view::npos)
        return std::string(name);
    return std::string(name.substr(0, dot));
}

std::string PathExtractExtension(std::string_view name)
{
    const size_t dot = ExtensionDot(name);
    if (dot == std::string_view::npos)
        return std::string(name);
    return std::string(name.substr(dot, 4));
}

bool IsDirectory(const std::string &path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t GetSizeOfFile(const std::string &path)
{
    if (path.empty())
        return -1;
    const size_t start = NameStart(path);
    const std::string pattern = path.substr(start);
    if (!HasWildcard(pattern)) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return -1;
        return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    }
    std::string dir = path.substr(0, start);
    if (dir.empty())
        dir = ".";
    // "*.*" matches every name, with or without a dot.
    const std::string glob = pattern == "*.*" ? std::string("*") : pattern;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return -1;
    int64_t result = -1;
    while (dirent *e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        // Hidden names (a leading dot) match too: a pattern is matched against every name.
        if (::fnmatch(glob.c_str(), e->d_name, 0) != 0)
            continue;
        struct stat st;
        const std::string full = PathAddSeparator(dir) + e->d_name;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        result = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
        break;
    }
    ::closedir(d);
    return result;
}

bool FileExists(const std::string &path)
{
    return GetSizeOfFile(path) != -1;
}

std::string GetModulePath(uintptr_t module)
{
    if (module != 0)
        return {};
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

int OpenRegularFile(const std::string &path)
{
    // Looked at before the open, so that no device is ever opened (opening
    // one may act on it, as a tape rewinds); the open cannot block whatever
    // the entry has become meanwhile, and the descriptor's own type decides.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int err = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

std::string ReadRegularFile(const std::string &path, std::string &bytes, uint64_t maxBytes, int *systemError)
{
    bytes.clear();
    int ignored = 0;
    int &failure = systemError ? *systemError : ignored;
    failure = 0;
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        if (errno == EINVAL)
            return "not a regular file";
        failure = errno;
        return "cannot be opened";
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < 0) {
        failure = errno ? errno : EIO;
        ::close(fd);
        return "cannot be read";
    }
    if (uint64_t(st.st_size) > maxBytes) {
        ::close(fd);
        return "file too large";
    }
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::close(fd);
    // A file that shrank while it was read is not passed off as whole.
    if (done != bytes.size()) {
        bytes.clear();
        failure = EIO;
        return "cannot be read";
    }
    return {};
}

bool GetFileVersionFixedInfo(const std::string &fileName, FixedFileVersionInfo &info)
{
    // Program files worth asking about are small; anything huge is refused
    // rather than read whole.
    std::string bytes;
    if (!ReadRegularFile(fileName, bytes, uint64_t(256) << 20).empty() || bytes.empty())
        return false;
    return ReadPeFixedVersion(bytes, info);
}

unsigned NewFileMode()
{
    return ModeUnderUmask(0666);
}

unsigned ModeUnderUmask(unsigned mode)
{
    // The umask can only be read by setting it and putting it back.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & 0777 & ~mask;
}

namespace {

int (*g_writeFault)(const std::string &) = nullptr;
int (*g_renameFault)(const std::string &, const std::string &) = nullptr;

// The program's own temporary files are named after the file they replace, with
// this mark and six letters or digits added. Only the program writes names with the
// mark, so a user's copy beside a table ("Music.d.backup", "Music.d.2026v1") is never
// taken for one.
constexpr std::string_view TempMark = ".orbalist-tmp-";

// Files are candidates for removal only when they were last touched before the
// process started (with a margin for the coarse clock of file times): one a running
// copy is still writing or linking is newer.
std::chrono::system_clock::time_point g_processStart = std::chrono::system_clock::now();

bool IsTempSuffix(std::string_view s)
{
    if (s.size() != TempMark.size() + 6 || s.substr(0, TempMark.size()) != TempMark)
        return false;
    for (size_t i = TempMark.size(); i < s.size(); ++i) {
        const char c = s[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

std::string TempTemplate(const std::string &path)
{
    return path + std::string(TempMark) + "XXXXXX";
}

bool OlderThanProcessStart(const struct stat &st)
{
    using namespace std::chrono;
    const auto changed = system_clock::time_point(
        duration_cast<system_clock::duration>(seconds(st.st_ctim.tv_sec) + nanoseconds(st.st_ctim.tv_nsec)));
    return changed < g_processStart - seconds(1);
}

// Whether another process holds a POSIX record lock (fcntl) anywhere in the file.
// Another program may lock its files that way only; its name may still look like ours.
bool HeldByRecordLock(int fd)
{
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // the whole file
    if (::fcntl(fd, F_GETLK, &probe) != 0)
        return true; // cannot tell: taken as held
    return probe.l_type != F_UNLCK;
}

// Removes `full` when it is still the regular file `seen` and no process holds a
// lock on it, of either kind (a copy of the program keeps an flock on every
// temporary file it has open).
bool RemoveIfUnheld(const std::string &full, const struct stat &seen)
{
    const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat st;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && !HeldByRecordLock(fd) && ::fstat(fd, &st) == 0 &&
        st.st_dev == seen.st_dev && st.st_ino == seen.st_ino && S_ISREG(st.st_mode))
        removed = ::unlink(full.c_str()) == 0;
    ::close(fd);
    return removed;
}

mode_t ModeFor(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return st.st_mode & 07777;
    return NewFileMode();
}

bool WriteAll(int fd, const char *data, size_t left, int &err)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            err = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        left -= size_t(n);
    }
    return true;
}

} // namespace

std::string FolderOfPath(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string FileNameOfPath(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SetFileWriteFaultHook(int (*hook)(const std::string &finalPath))
{
    g_writeFault = hook;
}

int RenameFile(const std::string &from, const std::string &to)
{
    if (const int injected = g_renameFault ? g_renameFault(from, to) : 0)
        return injected;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void SetRenameFaultHook(int (*hook)(const std::string &from, const std::string &to))
{
    g_renameFault = hook;
}

void SetProcessStartForTests(std::chrono::system_clock::time_point start)
{
    g_processStart = start;
}

bool WriteTempFileBeside(const std::string &path, std::string_view bytes, std::string &tmpName, std::string &error)
{
    // The same steps as a file written in pieces, with a single piece.
    TTempFileWriter file;
    return file.Begin(path, error) && file.Append(bytes.data(), bytes.size(), error) && file.Finish(tmpName, error);
}

bool LinkOrCopyToTempBeside(const std::string &path, std::string &tmpName, std::string &error)
{
    if (const int injected = g_writeFault ? g_writeFault(path) : 0) {
        error = std::strerror(injected);
        return false;
    }
    // A link costs no room and cannot be cut short by a full disk. Pick a free
    // name of the temporary pattern by making (and dropping) a temporary file.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string tmp = TempTemplate(path);
        const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        ::close(fd);
        ::unlink(tmp.c_str());
        if (::link(path.c_str(), tmp.c_str()) == 0) {
            tmpName = std::move(tmp);
            return true;
        }
        if (errno == EEXIST)
            continue;
        break; // no links here: copy instead
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno ? errno : ENOENT);
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = std::strerror(EIO);
        return false;
    }
    return WriteTempFileBeside(path, bytes, tmpName, error);
}

void SyncFolderOf(const std::string &path)
{
    const std::string dir = FolderOfPath(path);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string_view TempFileTarget(std::string_view name)
{
    const size_t suffix = TempMark.size() + 6;
    if (name.size() <= suffix || !IsTempSuffix(name.substr(name.size() - suffix)))
        return {};
    return name.substr(0, name.size() - suffix);
}

int RemoveStaleTempFiles(const std::string &path)
{
    const std::string base = FileNameOfPath(path);
    if (base.empty())
        return 0;
    return RemoveStaleTempFilesIn(FolderOfPath(path), [&](std::string_view target) { return target == base; });
}

int RemoveStaleTempFilesIn(const std::string &dir, const std::function<bool(std::string_view target)> &wanted)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    std::vector<std::string> stale;
    while (dirent *e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        const std::string_view target = TempFileTarget(name);
        if (!target.empty() && wanted(target))
            stale.emplace_back(name);
    }
    ::closedir(d);
    if (stale.empty())
        return 0;
    // A temporary file that the journal of an unfinished commit names is part of
    // a change already made: it is renamed into place, never removed. A journal
    // that does not read keeps every one.
    bool unreadable = false;
    const std::vector<std::string> journaled = JournalTemporaries(dir, unreadable);
    if (unreadable)
        return 0;
    int removed = 0;
    for (const std::string &name : stale) {
        if (std::any_of(journaled.begin(), journaled.end(),
                        [&](const std::string &j) { return FileNameOfPath(j) == name; }))
            continue;
        const std::string full = dir + "/" + name;
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && OlderThanProcessStart(st) &&
            RemoveIfUnheld(full, st))
            ++removed;
    }
    return removed;
}

std::string DiscardTempFile(const std::string &tmpName)
{
    if (tmpName.empty() || ::unlink(tmpName.c_str()) == 0 || errno == ENOENT)
        return {};
    // Taken before the text is built: the allocations may run first and touch errno.
    const std::string reason = std::strerror(errno);
    return " The temporary file " + tmpName + " could not be removed (" + reason + ") and is still there.";
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error)
{
    std::string tmp;
    if (!WriteTempFileBeside(path, bytes, tmp, error))
        return false;
    if (const int err = RenameFile(tmp, path)) {
        error = std::strerror(err);
        error += DiscardTempFile(tmp);
        return false;
    }
    SyncFolderOf(path);
    return true;
}

TTempFileWriter::~TTempFileWriter()
{
    if (fd_ >= 0) {
        ::unlink(tmp_.c_str());
        ::close(fd_);
    }
}

bool TTempFileWriter::Fail(int err, std::string &error)
{
    error = std::strerror(err);
    if (fd_ >= 0) {
        // Removed while still locked, so no other copy sees it unheld in between.
        error += DiscardTempFile(tmp_);
        ::close(fd_);
        fd_ = -1;
    }
    return false;
}

bool TTempFileWriter::Begin(const std::string &path, std::string &error)
{
    tmp_ = TempTemplate(path);
    // mkostemp creates the file with O_EXCL: an existing name is never opened.
    fd_ = ::mkostemp(tmp_.data(), O_CLOEXEC);
    if (fd_ < 0)
        return Fail(errno, error);
    // Held while the file is open: another copy opening the same table leaves it alone.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    // Keep the old file's permissions; a new file gets the usual ones.
    ::fchmod(fd_, ModeFor(path));
    injected_ = g_writeFault ? g_writeFault(path) : 0;
    written_ = startedUpTo_ = 0;
    return true;
}

bool TTempFileWriter::Append(const void *data, size_t size, std::string &error)
{
    if (fd_ < 0)
        return Fail(EBADF, error);
    int err = 0;
    if (!WriteAll(fd_, static_cast<const char *>(data), size, err))
        return Fail(err, error);
    written_ += size;
    // Start the write-back of what is complete; Finish's flush then waits for little. Half
    // a megabyte already keeps the disk busy while the rest is produced, so even a small
    // file gains; much finer steps cost more in calls than they save.
    // A file of a few megabytes is left to the final flush: starting its write-back
    // early is one more call for nothing.
    constexpr uint64_t Step = uint64_t(512) << 10, First = uint64_t(4) << 20;
    if (written_ >= First && written_ - startedUpTo_ >= Step) {
        ::sync_file_range(fd_, off64_t(startedUpTo_), off64_t(written_ - startedUpTo_), SYNC_FILE_RANGE_WRITE);
        startedUpTo_ = written_;
    }
    return true;
}

bool TTempFileWriter::Patch(uint64_t offset, const void *data, size_t size, std::string &error)
{
    if (fd_ < 0)
        return Fail(EBADF, error);
    auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, off_t(offset));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return Fail(n < 0 ? errno : EIO, error);
        }
        p += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

bool TTempFileWriter::Finish(std::string &tmpName, std::string &error)
{
    if (fd_ < 0)
        return Fail(EBADF, error);
    if (injected_)
        return Fail(injected_, error);
    if (::fsync(fd_) != 0)
        return Fail(errno, error);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        error += DiscardTempFile(tmp_);
        return false;
    }
    tmpName = tmp_;
    return true;
}
