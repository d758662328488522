// Walking an archive's blocks: the signature, plain and encrypted headers, and the way on across volumes.
#include "RarLibInternal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

using namespace rarlib;

namespace {

constexpr size_t kVolumeNameSize = 2048;
// A header is read with one small read (most are well under this), then once
// more when it claims more; listing from a slow drive reads little beyond the headers.
constexpr size_t kFirstRead = 512;
// A self-extracting archive's program stub: the archive's signature is looked
// for this far into the file.
constexpr uint64_t kMaxSfxSize = 4 * 1024 * 1024;
// An encrypted header is a whole number of cipher blocks.
constexpr size_t kCipherBlock = 16;

} // namespace

int Session::OpenVolume(const std::string &name, bool first)
{
    CloseVolume();
    // Non-blocking, so that a named pipe carrying the name cannot hold the
    // open; the type check below turns it away (reads of a regular file are
    // not affected by the flag).
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
