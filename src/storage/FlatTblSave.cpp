// Saving a store to its file: a temporary file written as the image is produced, then put in place.
#include "storage/FlatTblStore.h"

#include <cstring>
#include <memory>
#include <filesystem>
#include <thread>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "storage/FlatTblInternal.h"
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// Saving

namespace {

// Writes the image to a temporary file as it is produced, on the calling thread (the
// encoding runs ahead on the helpers meanwhile, for a large table). The pieces are
// gathered in a buffer of the thread's own, kept from save to save: a small table takes
// one write and one flush, and no save pays for fresh memory to gather into.
class TFileSink : public TFlatImageSink {
public:
    static constexpr size_t Gather = size_t(1) << 20;
    TTempFileWriter File;
    bool Failed = false;
    TFileSink()
    {
        thread_local std::unique_ptr<uint8_t[]> kept;
        thread_local bool busy = false;
        if (busy) { // a save started from within another on this thread
            own_.reset(new uint8_t[Gather]);
            buffer_ = own_.get();
            return;
        }
        if (!kept)
            kept.reset(new uint8_t[Gather]);
        buffer_ = kept.get();
        busy_ = &busy;
        busy = true;
    }
    ~TFileSink()
    {
        if (busy_)
            *busy_ = false;
    }
    TFileSink(const TFileSink &) = delete;
    TFileSink &operator=(const TFileSink &) = delete;
    bool Append(const uint8_t *data, size_t size) override
    {
        if (Failed)
            return false;
        if (used_ + size > Gather && !Flush())
            return false;
        if (size >= Gather) {
            Failed = !File.Append(data, size, Reason);
            flushed_ += size;
            return !Failed;
        }
        std::memcpy(Buffer() + used_, data, size);
        used_ += size;
        return true;
    }
    bool Patch(uint64_t offset, const uint8_t *data, size_t size) override
    {
        if (Failed)
            return false;
        if (offset >= flushed_ && offset + size <= flushed_ + used_) {
            std::memcpy(Buffer() + (offset - flushed_), data, size);
            return true;
        }
        Failed = !File.Patch(offset, data, size, Reason);
        return !Failed;
    }
    bool Settle() override { return !Failed; }
    // Writes what is gathered; false (with the reason) when that or an earlier write failed.
    bool Flush()
    {
        if (!Failed && used_)
            Failed = !File.Append(Buffer(), used_, Reason);
        flushed_ += used_;
        used_ = 0;
        return !Failed;
    }

private:
    uint8_t *Buffer() const { return buffer_; }
    uint8_t *buffer_ = nullptr;
    std::unique_ptr<uint8_t[]> own_;
    bool *busy_ = nullptr;
    size_t used_ = 0;
    uint64_t flushed_ = 0; // bytes written before the buffer's first
};

// The file a rename replaces is freed by that rename when nothing else holds it, which
// for a large table is a good part of a save: it is held open across the rename and let
// go on a helper thread. Small files are left alone (freeing them is quick).
class TReplacedFile {
public:
    explicit TReplacedFile(const std::string &path)
    {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= (off_t(1) << 20))
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }
    ~TReplacedFile()
    {
        if (fd_ < 0)
            return;
        try {
            std::thread([fd = fd_] { ::close(fd); }).detach();
        } catch (const std::system_error &) {
            ::close(fd_);
        }
    }
    TReplacedFile(const TReplacedFile &) = delete;
    TReplacedFile &operator=(const TReplacedFile &) = delete;

private:
    int fd_ = -1;
};

} // namespace

std::string FlatBackupName(const std::string &fileName)
{
    std::filesystem::path backup(fileName);
    backup.replace_extension(".~d");
    return backup.string();
}

bool TFlatCursor::SaveToFile(const std::string &fileName, TFlatSaveOptions options, bool caseInsensitive,
                             std::string_view indexFieldNames, std::string &error, TFileCommit *commit)
{
    if (options & savSortOnIndex)
        SortRecords(indexFieldNames, caseInsensitive);
    // The new table goes to a flushed temporary file first, written as it is produced. With the backup option the
    // file being replaced is kept under a second temporary name (a link, or a flushed
    // copy) before anything is renamed, so that neither the table nor its backup is
    // ever seen half written: the table is renamed into place, and only then the
    // backup. When a step fails, what was renamed is put back.
    std::string reason, tmpNew;
    {
        TFileSink sink;
        if (!sink.File.Begin(fileName, reason)) {
            error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str());
            return false;
        }
        const bool written = WriteImage(sink, error);
        if (!sink.Settle() || !written || !sink.Flush()) {
            // A refused value keeps its own message; a failed write names the file.
            if (sink.Failed)
                error = Fmt(SCannotCreateFile, fileName.c_str(), sink.Reason.c_str());
            return false;
        }
        if (!sink.File.Finish(tmpNew, reason)) {
            error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str());
            return false;
        }
    }
    std::string tmpOld;
    const std::string backup = FlatBackupName(fileName);
    struct stat st;
    const bool keepBackup = (options & savAutoBackup) && backup != fileName && ::stat(fileName.c_str(), &st) == 0;
    if (keepBackup && !LinkOrCopyToTempBeside(fileName, tmpOld, reason)) {
        error = Fmt(SCannotCreateBackup, fileName.c_str(), backup.c_str(), reason.c_str()) +
                DiscardTempFile(tmpNew);
        return false;
    }
    if (commit) {
        // Put in place by the commit, table before backup, with the change's other files.
        commit->Add(tmpNew, fileName);
        if (!tmpOld.empty())
            commit->Add(tmpOld, backup);
        return true;
    }
    const TReplacedFile replacedTable(fileName);
    if (const int err = RenameFile(tmpNew, fileName)) {
        reason = std::strerror(err);
        // The table and its backup are untouched; what could not be removed is said.
        error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str()) + DiscardTempFile(tmpNew) +
                DiscardTempFile(tmpOld);
        return false;
    }
    const TReplacedFile replacedBackup(tmpOld.empty() ? std::string() : backup);
    if (int err = tmpOld.empty() ? 0 : RenameFile(tmpOld, backup)) {
        reason = std::strerror(err);
        // Put the old table back, so the failed save changed nothing.
        if ((err = RenameFile(tmpOld, fileName)) != 0) {
            // The new table is in place and the old one is only under its temporary
            // name: it is kept there (never removed here), and the message says so.
            const std::string putBack = std::strerror(err);
            SyncFolderOf(fileName);
            error = Fmt(SBackupAndPutBackFailed, fileName.c_str(), backup.c_str(), reason.c_str(), putBack.c_str(),
                        tmpOld.c_str());
            return false;
        }
        SyncFolderOf(fileName);
        error = Fmt(SCannotCreateBackup, fileName.c_str(), backup.c_str(), reason.c_str());
        return false;
    }
    SyncFolderOf(fileName);
    return true;
}
