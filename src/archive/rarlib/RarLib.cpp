// The RAR listing library: the exported C entries over our own header parsers.
// Members stored without compression are tested and extracted here; compressed
// members are decoded through libarchive. Nothing here throws across the C
// boundary and no entry trusts a length it has not checked.
#include "RarApi.h"
#include "RarCrypt.h"
#include "RarFormat.h"

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

using namespace rarlib;

namespace {

constexpr size_t kVolumeNameSize = 2048;
constexpr size_t kPasswordSize = 128;
constexpr size_t kChunk = 64 * 1024;
// A header is read with one small read (most are well under this), then once
// more when it claims more; listing from a slow drive reads little beyond the headers.
constexpr size_t kFirstRead = 512;
// A self-extracting archive's program stub: the archive's signature is looked
// for this far into the file.
constexpr uint64_t kMaxSfxSize = 4 * 1024 * 1024;
// An encrypted header is a whole number of cipher blocks.
constexpr size_t kCipherBlock = 16;

// Copies `text` into a fixed buffer of `size` bytes, never cutting a UTF-8
// character, always terminated.
void CopyText(char *dst, size_t size, const std::string &text)
{
    size_t n = std::min(text.size(), size - 1);
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(dst, text.data(), n);
    dst[n] = 0;
}

std::wstring Widen(const std::string &text)
{
    const std::u32string chars = Utf8ToUtf32(text);
    return std::wstring(chars.begin(), chars.end());
}

void CopyWide(wchar_t *dst, size_t size, const std::wstring &text)
{
    const size_t n = std::min(text.size(), size - 1);
    std::wmemcpy(dst, text.data(), n);
    dst[n] = 0;
}

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

class Session {
public:
    ~Session()
    {
        CloseVolume();
        CloseLibarchive();
    }

    int Open(const char *name, unsigned mode, char *cmtBuf, unsigned cmtBufSize, unsigned &cmtSize,
             unsigned &cmtState, unsigned &arcFlags);
    int ReadHeader(Block &out, std::string &volumeName);
    int Process(int operation, const char *destPath, const char *destName);

    UNRARCALLBACK callback = nullptr;
    LPARAM userData = 0;
    CHANGEVOLPROC changeVolProc = nullptr;
    PROCESSDATAPROC processDataProc = nullptr;
    std::string password;

private:
    int OpenVolume(const std::string &name, bool first);
    // Where the archive begins in the open file: at its start, or after a
    // program stub. Sets format_ and returns the position after the signature.
    int FindSignature(uint64_t &afterSignature);
    // Takes the main header `b` read at pos_ as the volume's.
    int TakeMain(const Block &b, bool first);
    // Format 5.0 with encrypted headers: the key from the password, then the
    // main header, which is the first encrypted one.
    int ReadSealedMain(bool first);
    bool PrepareKey5();
    void CloseVolume();
    int ReadBlock(uint64_t pos, Block &b);
    int ReadSealedBlock(uint64_t pos, Block &b);
    int NextBlock(Block &b);
    int SwitchVolume();
    int AskPassword();
    int Emit(const uint8_t *data, size_t size, int fd, uint32_t &crc);
    int ReadStored(int fd, uint32_t &crc);
    int ReadCompressed(int fd, uint32_t &crc);
    // The current member's next part, in the next volume: a missing volume
    // fails the open, a block that does not go on with this member is bad data.
    int NextPart(Block &next);
    // Follows the current member through the volumes to its last part.
    int LastPart(Block &last);
    void CloseLibarchive();
    int ReadComment(const Block &b, uint64_t headerPos, uint64_t dataPos, char *buf, unsigned bufSize,
                    unsigned &size);
    int ReadOldComment(char *buf, unsigned bufSize, unsigned &size);
    // The comment packed in the block at `headerPos`, decoded by handing
    // libarchive a one-member archive made of that block.
    int UnpackComment(const Block &b, uint64_t headerPos, uint64_t dataPos, std::string &text, size_t limit);

    int fd_ = -1;
    uint64_t fileSize_ = 0;
    std::string volumeName_;
    std::string firstVolume_;
    int format_ = 0;
    unsigned mode_ = RAR_OM_LIST;
    bool volumeArchive_ = false;
    bool newNumbering_ = false;
    bool encryptedHeaders_ = false; // the archive's headers are encrypted
    bool sealed_ = false;           // the volume's headers from pos_ on are encrypted
    bool mainPending_ = false;      // format 5.0: the encrypted main header is not read yet
    bool headerKeyReady_ = false;   // the password for the headers is known
    uint64_t mainPos_ = 0;
    uint64_t archiveStart_ = 0;      // where the volume's signature stands (after any program stub)
    uint64_t firstArchiveStart_ = 0; // the same for the first volume
    Block crypt5_;                  // the volume's encryption header
    bool haveKey5_ = false, key5Ok_ = false;
    uint8_t key5Salt_[kSalt5Size] = {}; // what key5_ was derived for
    uint32_t key5Lg2_ = 0;
    Key5 key5_{};
    bool haveKey4_ = false;
    uint8_t key4Salt_[kSalt4Size] = {};
    Key4 key4_{};
    bool lastSplitAfter_ = false;
    uint64_t pos_ = 0;

    bool haveCurrent_ = false;
    Block current_;
    uint64_t currentDataPos_ = 0;
    // Which occurrence of its name the current member is, to find it again
    // when libarchive decodes it.
    size_t currentOccurrence_ = 0;
    // How often each name has come by so far, here and in libarchive's stream.
    std::unordered_map<std::string, size_t> seenNames_;
    std::unordered_map<std::string, size_t> seenByLibarchive_;
    Block main_;

    struct archive *la_ = nullptr;
    // libarchive's view of a self-extracting archive: the file from the
    // signature on, so that no program stub has to be found by libarchive.
    struct Tail {
        int fd = -1;
        uint64_t start = 0, size = 0, pos = 0;
        std::vector<uint8_t> buf;
        ~Tail()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    std::unique_ptr<Tail> tail_;
    int OpenTail(struct archive *a);
};

int Session::OpenVolume(const std::string &name, bool first)
{
    CloseVolume();
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return ERAR_EOPEN;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        CloseVolume();
        return ERAR_EOPEN;
    }
    fileSize_ = uint64_t(st.st_size);
    volumeName_ = name;
    sealed_ = false;
    const int previousFormat = format_;
    int r = FindSignature(pos_);
    if (first)
        firstArchiveStart_ = archiveStart_;
    if (r == ERAR_SUCCESS && !first && format_ != previousFormat)
        r = ERAR_BAD_ARCHIVE;
    Block b;
    if (r == ERAR_SUCCESS) {
        r = ReadBlock(pos_, b);
        if (r == ERAR_END_ARCHIVE)
            r = ERAR_BAD_ARCHIVE;
    }
    if (r == ERAR_SUCCESS) {
        if (b.kind == BlockKind::Encryption) {
            // Format 5.0 with encrypted headers: the main header and all that
            // follow are readable once the password is known.
            encryptedHeaders_ = true;
            crypt5_ = b;
            pos_ += b.headerSize;
            sealed_ = true;
            mainPending_ = true;
            if (first)
                return ERAR_SUCCESS;
            r = headerKeyReady_ ? ReadSealedMain(false) : ERAR_BAD_ARCHIVE;
        } else {
            r = TakeMain(b, first);
        }
    }
    if (r != ERAR_SUCCESS)
        CloseVolume();
    return r;
}

int Session::FindSignature(uint64_t &afterSignature)
{
    uint8_t head[8] = {};
    const ssize_t got = pread(fd_, head, sizeof head, 0);
    size_t sigSize = 0;
    format_ = got > 0 ? DetectFormat(head, size_t(got), sigSize) : 0;
    archiveStart_ = 0;
    if (format_ != 0) {
        afterSignature = sigSize;
        return ERAR_SUCCESS;
    }
    // Format 1.4 archives begin "RE~^": a RAR archive we do not read.
    if (got >= 4 && std::memcmp(head, "RE~^", 4) == 0)
        return ERAR_UNKNOWN_FORMAT;
    // A self-extracting archive: a program, then the archive. The signature
    // counts only where a sound main (or encryption) header follows it, so
    // the same bytes inside the program are passed over.
    const uint64_t limit = std::min(fileSize_, kMaxSfxSize);
    std::vector<uint8_t> buf;
    for (uint64_t at = 1; at + 7 <= limit;) {
        const size_t want = size_t(std::min<uint64_t>(kChunk + 7, fileSize_ - at));
        buf.resize(want);
        if (pread(fd_, buf.data(), want, off_t(at)) != ssize_t(want))
            return ERAR_EREAD;
        for (size_t i = 0; i + 7 <= want && at + i < limit; ++i) {
            if (buf[i] != 'R' || std::memcmp(buf.data() + i, "Rar!\x1A\x07", 6) != 0)
                continue;
            format_ = DetectFormat(buf.data() + i, want - i, sigSize);
            Block b;
            if (format_ != 0 && ReadBlock(at + i + sigSize, b) == ERAR_SUCCESS &&
                (b.kind == BlockKind::Main || b.kind == BlockKind::Encryption)) {
                archiveStart_ = at + i;
                afterSignature = at + i + sigSize;
                return ERAR_SUCCESS;
            }
        }
        at += kChunk;
    }
    format_ = 0;
    return ERAR_BAD_ARCHIVE;
}

int Session::TakeMain(const Block &b, bool first)
{
    if (b.kind != BlockKind::Main || (!first && !b.volume))
        return ERAR_BAD_ARCHIVE;
    main_ = b;
    volumeArchive_ = b.volume;
    newNumbering_ = b.newNumbering;
    mainPos_ = pos_;
    pos_ += b.headerSize + b.dataSize;
    lastSplitAfter_ = false;
    mainPending_ = false;
    if (format_ == 4 && b.encryptedHeaders) {
        // Format 1.5-4.x: the main header is in clear, every later one is encrypted.
        encryptedHeaders_ = true;
        sealed_ = true;
    }
    return ERAR_SUCCESS;
}

bool Session::PrepareKey5()
{
    if (haveKey5_ && key5Lg2_ == crypt5_.kdfLg2 && std::memcmp(key5Salt_, crypt5_.salt, kSalt5Size) == 0)
        return key5Ok_;
    haveKey5_ = true;
    std::memcpy(key5Salt_, crypt5_.salt, kSalt5Size);
    key5Lg2_ = crypt5_.kdfLg2;
    key5Ok_ = DeriveKey5(password, crypt5_.salt, crypt5_.kdfLg2, key5_);
    // A check value whose own checksum fails is damaged, not a verdict on the
    // password: the header CRCs decide then.
    if (key5Ok_ && crypt5_.hasPswCheck && PswCheckIsSound(crypt5_.pswCheck))
        key5Ok_ = std::memcmp(key5_.check, crypt5_.pswCheck, kPswCheckSize) == 0;
    return key5Ok_;
}

int Session::ReadSealedMain(bool first)
{
    if (!PrepareKey5())
        return ERAR_BAD_DATA; // a wrong password
    Block b;
    const int r = ReadBlock(pos_, b);
    if (r != ERAR_SUCCESS)
        return r == ERAR_END_ARCHIVE ? ERAR_BAD_DATA : r;
    return b.kind == BlockKind::Main ? TakeMain(b, first) : ERAR_BAD_DATA;
}

void Session::CloseVolume()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

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
    tail_->fd = ::open(firstVolume_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (tail_->fd < 0 || fstat(tail_->fd, &st) != 0 || uint64_t(st.st_size) < firstArchiveStart_)
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

int Session::ReadBlock(uint64_t pos, Block &b)
{
    if (sealed_)
        return ReadSealedBlock(pos, b);
    if (pos == fileSize_)
        return ERAR_END_ARCHIVE;
    if (pos > fileSize_)
        return ERAR_BAD_DATA; // the last member's data is cut short
    const uint64_t left = fileSize_ - pos;
    std::vector<uint8_t> buf(size_t(std::min<uint64_t>(left, kFirstRead)));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t got = pread(fd_, buf.data(), buf.size(), off_t(pos));
        if (got < 0 || size_t(got) != buf.size())
            return ERAR_EREAD;
        size_t needed = 0;
        const ParseResult r = format_ == 5 ? ParseBlock5(buf.data(), buf.size(), b, needed)
                                           : ParseBlock4(buf.data(), buf.size(), b, needed);
        if (r == ParseResult::Ok)
            return ERAR_SUCCESS;
        if (r == ParseResult::Bad || needed > left || needed <= buf.size())
            return ERAR_BAD_DATA;
        buf.resize(needed);
    }
    return ERAR_BAD_DATA;
}

int Session::ReadSealedBlock(uint64_t pos, Block &b)
{
    if (pos == fileSize_)
        return ERAR_END_ARCHIVE;
    if (pos > fileSize_)
        return ERAR_BAD_DATA;
    // Each header comes after its own IV (format 5.0) or salt (1.5-4.x).
    const size_t prefix = format_ == 5 ? size_t(16) : kSalt4Size;
    const uint64_t left = fileSize_ - pos;
    if (left < prefix + kCipherBlock)
        return ERAR_BAD_DATA;
    uint8_t head[16];
    if (pread(fd_, head, prefix, off_t(pos)) != ssize_t(prefix))
        return ERAR_EREAD;
    const uint8_t *key;
    size_t keySize;
    uint8_t iv[16];
    if (format_ == 5) {
        if (!haveKey5_ || !key5Ok_)
            return ERAR_BAD_DATA;
        key = key5_.key;
        keySize = sizeof key5_.key;
        std::memcpy(iv, head, sizeof iv);
    } else {
        if (password.empty())
            return ERAR_MISSING_PASSWORD;
        // Archivers use one salt for all headers: the slow derivation runs once.
        if (!haveKey4_ || std::memcmp(key4Salt_, head, kSalt4Size) != 0) {
            key4_ = DeriveKey4(password, head);
            std::memcpy(key4Salt_, head, kSalt4Size);
            haveKey4_ = true;
        }
        key = key4_.key;
        keySize = sizeof key4_.key;
        std::memcpy(iv, key4_.iv, sizeof iv);
    }
    // The first block tells the header's size; then the whole header is read.
    std::vector<uint8_t> buf(kCipherBlock);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pread(fd_, buf.data(), buf.size(), off_t(pos + prefix)) != ssize_t(buf.size()))
            return ERAR_EREAD;
        if (!AesCbcDecrypt(key, keySize, iv, buf.data(), buf.size()))
            return ERAR_UNKNOWN;
        size_t needed = 0;
        const ParseResult r = format_ == 5 ? ParseBlock5(buf.data(), buf.size(), b, needed)
                                           : ParseBlock4(buf.data(), buf.size(), b, needed);
        if (r == ParseResult::Ok) {
            b.headerSize = prefix + (b.headerSize + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
            return ERAR_SUCCESS;
        }
        const uint64_t sealedSize = (uint64_t(needed) + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
        if (r == ParseResult::Bad || attempt > 0 || sealedSize > left - prefix)
            return ERAR_BAD_DATA;
        buf.resize(size_t(sealedSize));
    }
    return ERAR_BAD_DATA;
}

int Session::SwitchVolume()
{
    const std::string next = NextVolumeName(volumeName_, newNumbering_);
    if (next.empty())
        return ERAR_EOPEN;
    char name[kVolumeNameSize] = {};
    CopyText(name, sizeof name, next);
    // The caller may name another file when the volume is missing; give up
    // when it declines or keeps naming files that are not there.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const bool exists = ::access(name, R_OK) == 0;
        const int mode = exists ? RAR_VOL_NOTIFY : RAR_VOL_ASK;
        int answer = exists ? 1 : -1;
        if (callback)
            answer = callback(UCM_CHANGEVOLUME, userData, LPARAM(name), LPARAM(mode));
        else if (changeVolProc)
            answer = changeVolProc(name, mode);
        name[sizeof name - 1] = 0;
        if (answer < 0)
            return ERAR_EOPEN;
        if (exists)
            return OpenVolume(name, false);
    }
    return ERAR_EOPEN;
}

int Session::NextBlock(Block &b)
{
    for (;;) {
        int r = ReadBlock(pos_, b);
        if (r == ERAR_END_ARCHIVE) {
            // Volumes of format 1.5-2.x end without an end block.
            if (volumeArchive_ && lastSplitAfter_) {
                r = SwitchVolume();
                if (r != ERAR_SUCCESS)
                    return r;
                continue;
            }
            return ERAR_END_ARCHIVE;
        }
        if (r != ERAR_SUCCESS)
            return r;
        const uint64_t start = pos_;
        if (b.dataSize > fileSize_ || b.headerSize + b.dataSize > fileSize_ - start) {
            pos_ = fileSize_ + 1; // data cut short: the next read reports it
        } else {
            pos_ = start + b.headerSize + b.dataSize;
        }
        if (b.kind == BlockKind::End) {
            if (b.nextVolume) {
                r = SwitchVolume();
                if (r != ERAR_SUCCESS)
                    return r;
                continue;
            }
            pos_ = fileSize_;
            return ERAR_END_ARCHIVE;
        }
        if (b.kind == BlockKind::File) {
            lastSplitAfter_ = b.splitAfter;
            currentDataPos_ = start + b.headerSize;
            return ERAR_SUCCESS;
        }
    }
}

namespace {

uint32_t TextCrc(const std::string &text)
{
    return Crc32(0, reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// Copies a comment into the caller's buffer, always terminated: 1 when it
// fits, ERAR_SMALL_BUF when only its start does.
int PutComment(const std::string &text, bool more, char *buf, unsigned bufSize, unsigned &size)
{
    const size_t room = bufSize - 1;
    const size_t take = std::min(text.size(), room);
    std::memcpy(buf, text.data(), take);
    buf[take] = 0;
    size = unsigned(take + 1);
    return more || text.size() > room ? ERAR_SMALL_BUF : 1;
}

} // namespace

int Session::ReadComment(const Block &b, uint64_t headerPos, uint64_t dataPos, char *buf, unsigned bufSize,
                         unsigned &size)
{
    if (b.encrypted)
        return ERAR_UNKNOWN_FORMAT;
    if (b.dataSize > fileSize_ || dataPos > fileSize_ - b.dataSize)
        return ERAR_BAD_DATA;
    const size_t room = bufSize - 1;
    std::string text;
    if (b.method != 0x30) {
        const int r = UnpackComment(b, headerPos, dataPos, text, room + 1);
        if (r != ERAR_SUCCESS)
            return r;
        // The CRC covers the whole comment; a cut one cannot be checked.
        if (text.size() <= room && b.hasCrc && TextCrc(text) != b.crc)
            return ERAR_BAD_DATA;
        return PutComment(text, false, buf, bufSize, size);
    }
    if (b.dataSize != b.unpSize)
        return ERAR_BAD_DATA;
    text.resize(size_t(std::min<uint64_t>(b.dataSize, room)));
    if (!text.empty() && pread(fd_, text.data(), text.size(), off_t(dataPos)) != ssize_t(text.size()))
        return ERAR_EREAD;
    if (b.dataSize <= room && b.hasCrc && TextCrc(text) != b.crc)
        return ERAR_BAD_DATA;
    return PutComment(text, b.dataSize > room, buf, bufSize, size);
}

int Session::ReadOldComment(char *buf, unsigned bufSize, unsigned &size)
{
    // Format 1.5-2.x: the comment block sits inside the main header, after its
    // 13 bytes: CRC16, type 0x75, flags, size, unpacked size, version, method,
    // the comment's CRC16, then the comment.
    constexpr size_t kMain = 13, kHead = 13;
    if (main_.headerSize < kMain + kHead)
        return ERAR_BAD_DATA;
    std::vector<uint8_t> h(size_t(main_.headerSize));
    if (pread(fd_, h.data(), h.size(), off_t(mainPos_)) != ssize_t(h.size()))
        return ERAR_EREAD;
    ByteCursor c(h.data() + kMain, h.size() - kMain);
    c.U16();
    const uint8_t type = c.U8();
    c.U16();
    const uint16_t blockSize = c.U16();
    const uint16_t unpSize = c.U16();
    c.U8();
    const uint8_t method = c.U8();
    const uint16_t crc = c.U16();
    if (type != 0x75 || blockSize < kHead || blockSize > h.size() - kMain)
        return ERAR_BAD_DATA;
    // Packed ones use the compression of format 1.5-2.x, which nothing here decodes.
    if (method != 0x30)
        return ERAR_UNKNOWN_FORMAT;
    if (unpSize != blockSize - kHead)
        return ERAR_BAD_DATA;
    const std::string text(reinterpret_cast<const char *>(h.data() + kMain + kHead), unpSize);
    if ((Crc32(0, h.data() + kMain + kHead, unpSize) & 0xFFFF) != crc)
        return ERAR_BAD_DATA;
    return PutComment(text, false, buf, bufSize, size);
}

int Session::UnpackComment(const Block &b, uint64_t headerPos, uint64_t dataPos, std::string &text, size_t limit)
{
    // A comment is a few kilobytes at most; a larger one is taken for damage
    // rather than read whole into memory.
    constexpr uint64_t kMaxPackedComment = 4 * 1024 * 1024;
    if (b.dataSize > kMaxPackedComment)
        return ERAR_BAD_DATA;
    const size_t headerSize = size_t(b.headerSize);
    std::string arc, main, end;
    std::string head(headerSize, '\0');
    if (pread(fd_, head.data(), headerSize, off_t(headerPos)) != ssize_t(headerSize))
        return ERAR_EREAD;
    auto putCrc = [](std::string &h, size_t from, int bytes) {
        const uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t *>(h.data()) + from, h.size() - from);
        for (int i = 0; i < bytes; ++i)
            h[size_t(i)] = char(crc >> (8 * i));
    };
    // The comment's header becomes a file header (same fields, another type),
    // between a plain main header and an end header.
    if (format_ == 5) {
        arc.assign("Rar!\x1A\x07\x01\x00", 8);
        main.assign("\0\0\0\0\x03\x01\x00\x00", 8);
        end.assign("\0\0\0\0\x03\x05\x00\x00", 8);
        putCrc(main, 4, 4);
        putCrc(end, 4, 4);
        ByteCursor c(reinterpret_cast<const uint8_t *>(head.data()) + 4, headerSize - 4);
        c.VInt();
        const size_t typePos = 4 + c.pos();
        if (!c.ok() || c.VInt() != 3)
            return ERAR_BAD_DATA;
        head[typePos] = 2;
        putCrc(head, 4, 4);
    } else {
        arc.assign("Rar!\x1A\x07\x00", 7);
        main.assign("\0\0\x73\0\0\x0D\0\0\0\0\0\0\0", 13);
        end.assign("\0\0\x7B\0\x40\x07\0", 7);
        putCrc(main, 2, 2);
        putCrc(end, 2, 2);
        head[2] = char(0x74);
        putCrc(head, 2, 2);
    }
    arc += main + head;
    std::string data(size_t(b.dataSize), '\0');
    if (!data.empty() && pread(fd_, data.data(), data.size(), off_t(dataPos)) != ssize_t(data.size()))
        return ERAR_EREAD;
    arc += data + end;
    struct archive *a = archive_read_new();
    if (!a)
        return ERAR_NO_MEMORY;
    std::unique_ptr<struct archive, decltype(&archive_read_free)> guard(a, archive_read_free);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    struct archive_entry *entry = nullptr;
    text.clear();
    if (archive_read_open_memory(a, arc.data(), arc.size()) != ARCHIVE_OK ||
        archive_read_next_header(a, &entry) != ARCHIVE_OK)
        return ERAR_BAD_DATA;
    char chunk[4096];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, chunk, sizeof chunk);
        if (n < 0)
            return ERAR_BAD_DATA;
        if (n == 0)
            return ERAR_SUCCESS;
        // The declared size may be anything: stop once the buffer is overfull.
        text.append(chunk, std::min(size_t(n), limit - text.size()));
        if (text.size() >= limit)
            return ERAR_SUCCESS;
    }
}

int Session::Open(const char *name, unsigned mode, char *cmtBuf, unsigned cmtBufSize, unsigned &cmtSize,
                  unsigned &cmtState, unsigned &arcFlags)
{
    cmtSize = 0;
    cmtState = 0;
    arcFlags = 0;
    if (!name || !*name)
        return ERAR_EOPEN;
    if (mode > RAR_OM_LIST_INCSPLIT)
        return ERAR_UNKNOWN;
    mode_ = mode;
    firstVolume_ = name;
    int r = OpenVolume(firstVolume_, true);
    if (r != ERAR_SUCCESS)
        return r;
    if (!mainPending_) {
        const Block &main = main_;
        arcFlags |= main.volume ? ROADF_VOLUME : 0;
        arcFlags |= main.locked ? ROADF_LOCK : 0;
        arcFlags |= main.solid ? ROADF_SOLID : 0;
        arcFlags |= main.newNumbering && format_ == 4 ? ROADF_NEWNUMBERING : 0;
        arcFlags |= main.recovery ? ROADF_RECOVERY : 0;
        arcFlags |= main.firstVolume ? ROADF_FIRSTVOLUME : 0;
        if (main.oldComment) {
            arcFlags |= ROADF_COMMENT;
            if (cmtBuf && cmtBufSize > 0)
                cmtState = unsigned(ReadOldComment(cmtBuf, cmtBufSize, cmtSize));
        }
    }
    if (encryptedHeaders_) {
        // The comment lies among the encrypted headers, which the password
        // opens only once the caller's callback is in place.
        arcFlags |= ROADF_ENCHEADERS;
        return ERAR_SUCCESS;
    }
    // The archive comment, when there is one, is the service block that
    // follows the main header.
    Block next;
    if (ReadBlock(pos_, next) == ERAR_SUCCESS && next.kind == BlockKind::Service && next.name == "CMT") {
        arcFlags |= ROADF_COMMENT;
        if (cmtBuf && cmtBufSize > 0) {
            const int c = ReadComment(next, pos_, pos_ + next.headerSize, cmtBuf, cmtBufSize, cmtSize);
            cmtState = unsigned(c);
        }
    }
    return ERAR_SUCCESS;
}

int Session::AskPassword()
{
    if (!password.empty())
        return ERAR_SUCCESS;
    char buf[kPasswordSize] = {};
    int answer = -1;
    if (callback)
        answer = callback(UCM_NEEDPASSWORD, userData, LPARAM(buf), LPARAM(sizeof buf));
    buf[sizeof buf - 1] = 0;
    if (answer < 0 || buf[0] == 0)
        return ERAR_MISSING_PASSWORD;
    password = buf;
    return ERAR_SUCCESS;
}

int Session::ReadHeader(Block &out, std::string &volumeName)
{
    haveCurrent_ = false;
    if (fd_ < 0)
        return ERAR_BAD_ARCHIVE;
    if (encryptedHeaders_ && !headerKeyReady_) {
        const int r = AskPassword();
        if (r != ERAR_SUCCESS)
            return r;
        headerKeyReady_ = true;
    }
    if (mainPending_) {
        const int r = ReadSealedMain(true);
        if (r != ERAR_SUCCESS)
            return r;
    }
    for (;;) {
        const int r = NextBlock(out);
        if (r != ERAR_SUCCESS)
            return r;
        if (out.splitBefore && mode_ != RAR_OM_LIST_INCSPLIT)
            continue; // continuation of a member reported in an earlier volume
        break;
    }
    current_ = out;
    haveCurrent_ = true;
    currentOccurrence_ = seenNames_[out.name]++;
    volumeName = volumeName_;
    return ERAR_SUCCESS;
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
            if (next.empty() || ::access(next.c_str(), R_OK) != 0)
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
            if (!SafeMemberPath(current_.name))
                return ERAR_ECREATE;
            const std::string base = destPath && *destPath ? destPath : ".";
            target = base + "/" + current_.name;
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

void FillCommon(const Block &b, unsigned &flags, unsigned &hostOS, unsigned &crc, unsigned &fileTime,
                unsigned &unpVer, unsigned &method, unsigned &attr)
{
    flags = (b.splitBefore ? RHDF_SPLITBEFORE : 0) | (b.splitAfter ? RHDF_SPLITAFTER : 0) |
            (b.encrypted ? RHDF_ENCRYPTED : 0) | (b.fileSolid ? RHDF_SOLID : 0);
    flags |= b.directory ? RHDF_WINDOWMASK : (b.windowCode & 7) << 5;
    hostOS = b.hostOS;
    crc = b.crc;
    fileTime = b.dosTime;
    unpVer = b.unpVer;
    method = b.method;
    attr = b.attr;
}

template <typename F> int Guard(F &&f)
{
    try {
        return f();
    } catch (const std::bad_alloc &) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

HANDLE OpenCommon(char *arcName, unsigned openMode, unsigned &openResult, char *cmtBuf, unsigned cmtBufSize,
                  unsigned &cmtSize, unsigned &cmtState, unsigned &flags)
{
    Session *s = nullptr;
    openResult = unsigned(Guard([&] {
        auto session = std::make_unique<Session>();
        const int r = session->Open(arcName, openMode, cmtBuf, cmtBufSize, cmtSize, cmtState, flags);
        if (r == ERAR_SUCCESS)
            s = session.release();
        return r;
    }));
    return s;
}

} // namespace

RAR_EXPORT HANDLE RAROpenArchive(struct RAROpenArchiveData *d)
{
    if (!d)
        return nullptr;
    unsigned flags = 0;
    return OpenCommon(d->ArcName, d->OpenMode, d->OpenResult, d->CmtBuf, d->CmtBufSize, d->CmtSize, d->CmtState,
                      flags);
}

RAR_EXPORT HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx *d)
{
    if (!d)
        return nullptr;
    d->Flags = 0;
    HANDLE h = OpenCommon(d->ArcName, d->OpenMode, d->OpenResult, d->CmtBuf, d->CmtBufSize, d->CmtSize,
                          d->CmtState, d->Flags);
    if (h && d->Callback) {
        static_cast<Session *>(h)->callback = d->Callback;
        static_cast<Session *>(h)->userData = d->UserData;
    }
    return h;
}

RAR_EXPORT int RARCloseArchive(HANDLE h)
{
    if (!h)
        return ERAR_ECLOSE;
    delete static_cast<Session *>(h);
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeader(HANDLE h, struct RARHeaderData *d)
{
    if (!h || !d)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] {
        Block b;
        std::string volume;
        const int r = static_cast<Session *>(h)->ReadHeader(b, volume);
        if (r != ERAR_SUCCESS)
            return r;
        CopyText(d->ArcName, sizeof d->ArcName, volume);
        CopyText(d->FileName, sizeof d->FileName, b.name);
        FillCommon(b, d->Flags, d->HostOS, d->FileCRC, d->FileTime, d->UnpVer, d->Method, d->FileAttr);
        d->PackSize = unsigned(b.dataSize);
        d->UnpSize = unsigned(b.unpSize);
        d->CmtSize = 0;
        d->CmtState = 0;
        return ERAR_SUCCESS;
    });
}

RAR_EXPORT int RARReadHeaderEx(HANDLE h, struct RARHeaderDataEx *d)
{
    if (!h || !d)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] {
        Block b;
        std::string volume;
        const int r = static_cast<Session *>(h)->ReadHeader(b, volume);
        if (r != ERAR_SUCCESS)
            return r;
        CopyText(d->ArcName, sizeof d->ArcName, volume);
        CopyWide(d->ArcNameW, sizeof d->ArcNameW / sizeof(wchar_t), Widen(volume));
        CopyText(d->FileName, sizeof d->FileName, b.name);
        CopyWide(d->FileNameW, sizeof d->FileNameW / sizeof(wchar_t), Widen(b.name));
        FillCommon(b, d->Flags, d->HostOS, d->FileCRC, d->FileTime, d->UnpVer, d->Method, d->FileAttr);
        d->PackSize = unsigned(b.dataSize);
        d->PackSizeHigh = unsigned(b.dataSize >> 32);
        d->UnpSize = unsigned(b.unpSize);
        d->UnpSizeHigh = unsigned(b.unpSize >> 32);
        d->CmtSize = 0;
        d->CmtState = 0;
        d->DictSize = unsigned(std::min<uint64_t>(b.dictKB, 0xFFFFFFFFu));
        d->HashType = b.hasBlake2 ? RAR_HASH_BLAKE2 : b.hasCrc ? RAR_HASH_CRC32 : RAR_HASH_NONE;
        std::memset(d->Hash, 0, sizeof d->Hash);
        if (b.hasBlake2)
            std::memcpy(d->Hash, b.blake2, sizeof d->Hash);
        d->RedirType = 0;
        d->DirTarget = 0;
        const uint64_t ft =
            b.hasUnixTime && b.unixTime > -11644473600 ? uint64_t(b.unixTime + 11644473600) * 10000000u : 0;
        d->MtimeLow = unsigned(ft);
        d->MtimeHigh = unsigned(ft >> 32);
        d->CtimeLow = d->CtimeHigh = d->AtimeLow = d->AtimeHigh = 0;
        return ERAR_SUCCESS;
    });
}

RAR_EXPORT int RARProcessFile(HANDLE h, int operation, char *destPath, char *destName)
{
    if (!h)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] { return static_cast<Session *>(h)->Process(operation, destPath, destName); });
}

RAR_EXPORT void RARSetCallback(HANDLE h, UNRARCALLBACK callback, LPARAM userData)
{
    if (!h)
        return;
    static_cast<Session *>(h)->callback = callback;
    static_cast<Session *>(h)->userData = userData;
}

RAR_EXPORT void RARSetChangeVolProc(HANDLE h, CHANGEVOLPROC proc)
{
    if (h)
        static_cast<Session *>(h)->changeVolProc = proc;
}

RAR_EXPORT void RARSetProcessDataProc(HANDLE h, PROCESSDATAPROC proc)
{
    if (h)
        static_cast<Session *>(h)->processDataProc = proc;
}

RAR_EXPORT void RARSetPassword(HANDLE h, char *password)
{
    if (!h)
        return;
    try {
        static_cast<Session *>(h)->password = password ? std::string(password, strnlen(password, kPasswordSize - 1)) : "";
    } catch (...) {
    }
}

RAR_EXPORT int RARGetDllVersion(void)
{
    return RAR_DLL_VERSION;
}
