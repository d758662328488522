// Testing and extracting members: stored ones are read here, compressed ones decoded through libarchive.
#include "RarLibInternal.h"

#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

using namespace rarlib;

namespace {

// A name that could leave the destination folder is refused.
bool SafeMemberPath(const std::string &name)
{
    if (name.empty() || name[0] == '/')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

void Session::CloseLibarchive()
{
    if (la_)
        archive_read_free(la_);
    la_ = nullptr;
    tail_.reset();
}

int Session::OpenTail(struct archive *a)
{
    tail_ = std::make_unique<Tail>();
    tail_->fd = ::open(firstVolume_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (tail_->fd < 0 || fstat(tail_->fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        uint64_t(st.st_size) < firstArchiveStart_)
        return ARCHIVE_FATAL;
    tail_->start = firstArchiveStart_;
    tail_->size = uint64_t(st.st_size) - firstArchiveStart_;
    tail_->buf.resize(kChunk);
    archive_read_set_callback_data(a, tail_.get());
    archive_read_set_read_callback(a, [](struct archive *, void *data, const void **out) -> la_ssize_t {
        auto *t = static_cast<Tail *>(data);
        const size_t want = size_t(std::min<uint64_t>(t->buf.size(), t->size - t->pos));
        const ssize_t got = want ? pread(t->fd, t->buf.data(), want, off_t(t->start + t->pos)) : 0;
        if (got < 0)
            return ARCHIVE_FATAL;
        t->pos += uint64_t(got);
        *out = t->buf.data();
        return got;
    });
    archive_read_set_skip_callback(a, [](struct archive *, void *data, la_int64_t request) -> la_int64_t {
        auto *t = static_cast<Tail *>(data);
        const uint64_t n = request > 0 ? std::min<uint64_t>(uint64_t(request), t->size - t->pos) : 0;
        t->pos += n;
        return la_int64_t(n);
    });
    archive_read_set_seek_callback(a, [](struct archive *, void *data, la_int64_t offset, int whence) -> la_int64_t {
        auto *t = static_cast<Tail *>(data);
        const la_int64_t base =
            whence == SEEK_SET ? 0 : whence == SEEK_CUR ? la_int64_t(t->pos) : la_int64_t(t->size);
        const la_int64_t to = base + offset;
        if (to < 0 || uint64_t(to) > t->size)
            return ARCHIVE_FATAL;
        t->pos = uint64_t(to);
        return to;
    });
    return archive_read_open1(a);
}

int Session::Emit(const uint8_t *data, size_t size, int fd, uint32_t &crc)
{
    crc = Crc32(crc, data, size);
    for (size_t done = 0; done < size;) {
        const size_t n = std::min(size - done, size_t(0x7FFFFFFF));
        int answer = 1;
        if (callback)
            answer = callback(UCM_PROCESSDATA, userData, LPARAM(data + done), LPARAM(n));
        else if (processDataProc)
            answer = processDataProc(const_cast<uint8_t *>(data + done), int(n));
        if (answer < 0)
            return ERAR_UNKNOWN;
        done += n;
    }
    for (size_t done = 0; fd >= 0 && done < size;) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w <= 0)
            return ERAR_EWRITE;
        done += size_t(w);
    }
    return ERAR_SUCCESS;
}

int Session::ReadStored(int fd, uint32_t &crc)
{
    Block part = current_;
    uint64_t dataPos = currentDataPos_;
    std::vector<uint8_t> buf(kChunk);
    for (;;) {
        if (part.dataSize > fileSize_ || dataPos > fileSize_ - part.dataSize)
            return ERAR_BAD_DATA;
        for (uint64_t done = 0; done < part.dataSize;) {
            const size_t n = size_t(std::min<uint64_t>(part.dataSize - done, buf.size()));
            if (pread(fd_, buf.data(), n, off_t(dataPos + done)) != ssize_t(n))
                return ERAR_EREAD;
            const int r = Emit(buf.data(), n, fd, crc);
            if (r != ERAR_SUCCESS)
                return r;
            done += n;
        }
        if (!part.splitAfter)
            break;
        // The member goes on in the next volume, under the same name.
        Block next;
        if (const int r = NextPart(next); r != ERAR_SUCCESS)
            return r;
        part = next;
        dataPos = currentDataPos_;
    }
    // Each part carries a CRC; the last one's covers the whole member.
    if (part.hasCrc && crc != part.crc)
        return ERAR_BAD_DATA;
    return ERAR_SUCCESS;
}

int Session::NextPart(Block &next)
{
    const int r = NextBlock(next);
    if (r == ERAR_END_ARCHIVE)
        return ERAR_EOPEN;
    if (r != ERAR_SUCCESS)
        return r;
    if (!next.splitBefore || next.name != current_.name)
        return ERAR_BAD_DATA;
    return ERAR_SUCCESS;
}

int Session::LastPart(Block &last)
{
    last = current_;
    while (last.splitAfter) {
        Block next;
        if (const int r = NextPart(next); r != ERAR_SUCCESS)
            return r;
        last = next;
    }
    return ERAR_SUCCESS;
}

int Session::ReadCompressed(int fd, uint32_t &crc)
{
    // libarchive reads the volumes as one stream; hand it every volume there is.
    std::vector<std::string> names{firstVolume_};
    if (volumeArchive_) {
        bool numbering = newNumbering_;
        for (int i = 0; i < 9999; ++i) {
            const std::string next = NextVolumeName(names.back(), numbering);
            // libarchive opens what it is given as it stands: a named pipe
            // among the volumes would hold it, so the volumes end before one.
            struct stat vs {};
            if (next.empty() || ::access(next.c_str(), R_OK) != 0 || ::stat(next.c_str(), &vs) != 0 ||
                !S_ISREG(vs.st_mode))
                break;
            names.push_back(next);
        }
    }
    std::vector<const char *> list;
    for (const auto &n : names)
        list.push_back(n.c_str());
    list.push_back(nullptr);

    for (int pass = 0; pass < 2; ++pass) {
        if (!la_) {
            la_ = archive_read_new();
            if (!la_)
                return ERAR_NO_MEMORY;
            archive_read_support_format_rar(la_);
            archive_read_support_format_rar5(la_);
            // A single self-extracting volume is handed over from its signature on.
            const bool tail = names.size() == 1 && firstArchiveStart_ > 0;
            if ((tail ? OpenTail(la_) : archive_read_open_filenames(la_, list.data(), 10240)) != ARCHIVE_OK) {
                CloseLibarchive();
                return ERAR_UNKNOWN_FORMAT;
            }
            seenByLibarchive_.clear();
        }
        struct archive_entry *entry = nullptr;
        int r;
        while ((r = archive_read_next_header(la_, &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
            const char *path = archive_entry_pathname_utf8(entry);
            if (!path)
                path = archive_entry_pathname(entry);
            const std::string name = path ? path : "";
            const size_t occurrence = seenByLibarchive_[name]++;
            if (name != current_.name || occurrence != currentOccurrence_)
                continue;
            std::vector<uint8_t> buf(kChunk);
            for (;;) {
                const la_ssize_t n = archive_read_data(la_, buf.data(), buf.size());
                if (n < 0) {
                    CloseLibarchive();
                    return ERAR_BAD_DATA;
                }
                if (n == 0)
                    break;
                const int e = Emit(buf.data(), size_t(n), fd, crc);
                if (e != ERAR_SUCCESS) {
                    CloseLibarchive();
                    return e;
                }
            }
            // A member split over volumes carries the CRC of the part's
            // packed bytes in every part but the last, whose CRC is the whole
            // member's; walking to it also leaves the position after the member.
            Block last;
            const int w = LastPart(last);
            if (w != ERAR_SUCCESS)
                return w;
            if (last.hasCrc && crc != last.crc)
                return ERAR_BAD_DATA;
            return ERAR_SUCCESS;
        }
        // Not found from where the stream stood: start again from the top once.
        CloseLibarchive();
    }
    return ERAR_UNKNOWN_FORMAT;
}

int Session::Process(int operation, const char *destPath, const char *destName)
{
    if (!haveCurrent_)
        return ERAR_UNKNOWN;
    haveCurrent_ = false;
    if (operation != RAR_SKIP && operation != RAR_TEST && operation != RAR_EXTRACT)
        return ERAR_UNKNOWN;
    if (mode_ != RAR_OM_EXTRACT || operation == RAR_SKIP)
        return ERAR_SUCCESS; // the position already stands after the member

    std::string target;
    if (operation == RAR_EXTRACT) {
        if (destName && *destName) {
            target = destName;
        } else {
            // The name as listed; the stored one only finds the member in libarchive's stream.
            const std::string name = MemberName(current_);
            if (!SafeMemberPath(name))
                return ERAR_ECREATE;
            const std::string base = destPath && *destPath ? destPath : ".";
            target = base + "/" + name;
        }
    }
    std::error_code ec;
    if (current_.directory) {
        if (operation == RAR_EXTRACT)
            std::filesystem::create_directories(target, ec);
        return ec ? ERAR_ECREATE : ERAR_SUCCESS;
    }
    if (current_.encrypted) {
        const int r = AskPassword();
        // Encrypted data is not decoded here, even with the password.
        return r != ERAR_SUCCESS ? r : ERAR_UNKNOWN_FORMAT;
    }

    int fd = -1;
    std::string temp;
    if (operation == RAR_EXTRACT) {
        const std::filesystem::path parent = std::filesystem::path(target).parent_path();
        if (!parent.empty())
            std::filesystem::create_directories(parent, ec);
        if (ec)
            return ERAR_ECREATE;
        // Written beside the target and renamed over it once complete, so a
        // failure never leaves a half-written file under the member's name.
        temp = target + ".partXXXXXX";
        std::vector<char> tmpl(temp.begin(), temp.end());
        tmpl.push_back(0);
        fd = mkstemp(tmpl.data());
        if (fd < 0)
            return ERAR_ECREATE;
        temp = tmpl.data();
    }
    uint32_t crc = 0;
    int r = current_.method == 0x30 ? ReadStored(fd, crc) : ReadCompressed(fd, crc);
    if (fd >= 0) {
        if (::close(fd) != 0 && r == ERAR_SUCCESS)
            r = ERAR_ECLOSE;
        if (r == ERAR_SUCCESS && std::rename(temp.c_str(), target.c_str()) != 0)
            r = ERAR_ECREATE;
        if (r != ERAR_SUCCESS)
            ::unlink(temp.c_str());
    }
    return r;
}
