#include "platform/ExeIcon.h"

#include "util/BaseFileUtils.h"
#include "util/PeResources.h"

#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

namespace {

uint32_t Rd16(const QByteArray &b, qsizetype off)
{
    return static_cast<uint8_t>(b[off]) | static_cast<uint32_t>(static_cast<uint8_t>(b[off + 1])) << 8;
}

uint32_t Rd32(const QByteArray &b, qsizetype off)
{
    return Rd16(b, off) | Rd16(b, off + 2) << 16;
}

// Largest icon stream we decode: a few 256 x 256 images at most.
constexpr qsizetype kMaxIconStream = 4 << 20;

} // namespace

QByteArray ReadExeIconStream(const QString &path)
{
    // Opened so that it never waits: a named pipe called "x.exe" would wait
    // for a writer forever and stall the scan.
    const int fd = OpenRegularFile(QFile::encodeName(path).toStdString());
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const qint64 size = file.size();
    if (size < 64)
        return {};
    // Map rather than read: the resources of a large installer lie far into
    // the file, and only a few small pieces of it are looked at.
    if (uchar *mapped = file.map(0, size)) {
        const std::string ico = ExtractSmallIconStream(
            std::string_view(reinterpret_cast<const char *>(mapped), static_cast<size_t>(size)));
        file.unmap(mapped);
        return QByteArray(ico.data(), static_cast<qsizetype>(ico.size()));
    }
    if (size > (256 << 20))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() != size)
        return {};
    const std::string ico = ExtractSmallIconStream(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    return QByteArray(ico.data(), static_cast<qsizetype>(ico.size()));
}

bool IsIconStream(const QByteArray &stream)
{
    if (stream.size() < 6 || stream.size() > kMaxIconStream)
        return false;
    if (Rd16(stream, 0) != 0 || Rd16(stream, 2) != 1)
        return false;
    const uint32_t count = Rd16(stream, 4);
    if (count == 0 || 6 + qsizetype(count) * 16 > stream.size())
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype e = 6 + qsizetype(i) * 16;
        const uint32_t bytes = Rd32(stream, e + 8);
        const uint32_t offset = Rd32(stream, e + 12);
        if (bytes < 40 || offset < 6 + count * 16 || offset > uint32_t(stream.size())
            || bytes > uint32_t(stream.size()) - offset)
            return false;
        // The image must be a bitmap with a sane header or a PNG.
        const bool png = stream.mid(offset, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8);
        if (!png) {
            if (Rd32(stream, offset) != 40)
                return false;
            const int32_t width = static_cast<int32_t>(Rd32(stream, offset + 4));
            const int32_t height = static_cast<int32_t>(Rd32(stream, offset + 8));
            const uint32_t bits = Rd16(stream, offset + 14);
            if (width <= 0 || width > 256 || height <= 0 || height > 512)
                return false;
            if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
                return false;
            // Colour rows, mask rows and any palette must fit in the image.
            const uint64_t colourRow = ((uint64_t(width) * bits + 31) / 32) * 4;
            const uint64_t maskRow = ((uint64_t(width) + 31) / 32) * 4;
            const uint64_t rows = uint64_t(height) / 2;
            // The palette holds the colours used (offset 32), all of them when 0.
            const uint32_t used = Rd32(stream, offset + 32);
            const uint64_t full = bits <= 8 ? (uint64_t(1) << bits) : 0;
            const uint64_t palette = (used != 0 && used < full ? used : full) * 4;
            if (40 + palette + rows * (colourRow + maskRow) > bytes)
                return false;
        }
    }
    return true;
}

QPixmap PixmapFromIconStream(const QByteArray &stream)
{
    if (!IsIconStream(stream))
        return {};
    QBuffer buffer;
    buffer.setData(stream);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return QPixmap::fromImage(image);
}

QIcon IconFromIconStream(const QByteArray &stream)
{
    const QPixmap pm = PixmapFromIconStream(stream);
    if (pm.isNull())
        return {};
    return QIcon(pm);
}
