// Archive comments: stored ones read as they stand, packed ones decoded through libarchive.
#include "RarLibInternal.h"

#include <archive_entry.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

using namespace rarlib;

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

int Session::ReadComment(const Block &b, uint64_t headerPos, char *buf, unsigned bufSize, unsigned &size)
{
    const uint64_t dataPos = headerPos + b.headerSize;
    if (b.encrypted)
        return ERAR_UNKNOWN_FORMAT;
    if (b.dataSize > fileSize_ || dataPos > fileSize_ - b.dataSize)
        return ERAR_BAD_DATA;
    const size_t room = bufSize - 1;
    std::string text;
    if (b.method != 0x30) {
        const int r = UnpackComment(b, headerPos, text, room + 1);
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

int Session::UnpackComment(const Block &b, uint64_t headerPos, std::string &text, size_t limit)
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
    if (!data.empty() && pread(fd_, data.data(), data.size(), off_t(headerPos + headerSize)) != ssize_t(data.size()))
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
