#include "platform/ExeIcon.h"

#include "support/TempDir.h"
#include "util/PeResources.h"
#include "util/PeTestImage.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace orbtest;

namespace {

QByteArray Bytes(const std::string &s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

TEST(ExeIcon, ProgramIconToStreamAndBack)
{
    TempDir dir;
    const std::string path = dir.write("setup.exe", ProgramWithIcons(0xFF2040C0u).bytes);
    const QByteArray stream = ReadExeIconStream(QString::fromStdString(path));
    ASSERT_FALSE(stream.isEmpty());
    EXPECT_TRUE(IsIconStream(stream));
    const QPixmap pm = PixmapFromIconStream(stream);
    ASSERT_FALSE(pm.isNull());
    EXPECT_EQ(pm.width(), 16);
    EXPECT_EQ(pm.height(), 16);
    EXPECT_EQ(pm.toImage().pixel(3, 5), 0xFF2040C0u);
    EXPECT_FALSE(IconFromIconStream(stream).isNull());
    // A program reached through a symbolic link gives the icon of the program it names.
    const std::string link = dir.file("link.exe");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_EQ(ReadExeIconStream(QString::fromStdString(link)), stream);
}

// Catalogues written on Windows store 16-colour icons with a palette.
TEST(ExeIcon, PaletteIconStreamsDecode)
{
    for (uint32_t used : {0u, 2u}) {
        // A 16 x 16 bitmap of 4 bits a pixel; palette index 0 black, 1 red (stored blue, green, red, 0).
        std::string img;
        for (uint32_t v : {40u, 16u, 32u, 0x40001u, 0u, 0u, 0u, 0u, used /* colours used */, 0u, 0u, 0x00FF0000u})
            Append32(img, v);
        for (uint32_t i = 2; i < (used ? used : 16); ++i)
            Append32(img, 0x00FFFFFF);
        img.append(16 * 8, '\x11'); // every pixel index 1
        img.append(16 * 4, '\0');   // mask: all opaque
        std::string ico("\0\0\1\0\1\0\x10\x10\x10\0\1\0\4\0", 14);
        Append32(ico, static_cast<uint32_t>(img.size()));
        Append32(ico, 22);
        ico += img;
        ASSERT_TRUE(IsIconStream(Bytes(ico))) << used;
        const QPixmap pm = PixmapFromIconStream(Bytes(ico));
        ASSERT_FALSE(pm.isNull()) << used;
        EXPECT_EQ(pm.toImage().pixel(7, 7), 0xFFFF0000u) << used;
        // An image whose stated size leaves its rows short is refused before
        // decoding, even though the stream is consistent with itself.
        std::string shortImage = ico.substr(0, ico.size() - 65);
        Put32(shortImage, 14, static_cast<uint32_t>(img.size() - 65));
        EXPECT_FALSE(IsIconStream(Bytes(shortImage))) << used;
    }
}

TEST(ExeIcon, FilesWithoutAnIcon)
{
    TempDir dir;
    // A named pipe is not read (opening it would wait for a writer).
    const std::string fifo = dir.file("pipe.exe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Nor is one reached through a symbolic link.
    const std::string fifoLink = dir.file("pipe-link.exe");
    ASSERT_EQ(::symlink(fifo.c_str(), fifoLink.c_str()), 0);
    for (const std::string &path : {dir.file("missing.exe"), dir.write("empty.exe", ""),
                                    dir.write("text.exe", std::string(500, 'a')), dir.str(), fifo, fifoLink})
        EXPECT_TRUE(ReadExeIconStream(QString::fromStdString(path)).isEmpty()) << path;
    EXPECT_TRUE(PixmapFromIconStream(QByteArray()).isNull());
    EXPECT_TRUE(IconFromIconStream("not an icon").isNull());
}

// A stored stream comes from a catalogue file: every truncation and every
// corrupted length or offset gives no image or a sane one, never a crash.
TEST(ExeIcon, MalformedStreamsSweep)
{
    const std::string good = ExtractSmallIconStream(ProgramWithIcons().bytes);
    ASSERT_FALSE(good.empty());
    for (size_t n = 0; n < good.size(); ++n) {
        const QPixmap pm = PixmapFromIconStream(Bytes(good.substr(0, n)));
        EXPECT_TRUE(pm.isNull()) << n; // every cut leaves the image short
    }
    const uint32_t hostile[] = {0, 1, 21, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x10000u, 40};
    for (size_t off = 0; off + 4 <= 22 + 40; ++off) {
        for (uint32_t v : hostile) {
            std::string bad = good;
            Put32(bad, off, v);
            const QPixmap pm = PixmapFromIconStream(Bytes(bad));
            if (!pm.isNull()) {
                EXPECT_LE(pm.width(), 256);
                EXPECT_LE(pm.height(), 256);
            }
        }
    }
    // Two directory entries, the second pointing past the end.
    std::string two = good.substr(0, 6) + good.substr(6, 16) + good.substr(6, 16) + good.substr(22);
    Put16(two, 4, 2);
    Put32(two, 18, 38);
    Put32(two, 34, 0x7FFFFFF0u);
    EXPECT_FALSE(IsIconStream(Bytes(two)));
    EXPECT_TRUE(PixmapFromIconStream(Bytes(two)).isNull());
}
