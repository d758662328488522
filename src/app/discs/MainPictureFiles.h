#pragma once
// Reading the picture files a disc picture is made from: JPEG (libjpeg),
// bitmaps and icons (Qt's readers), Windows metafiles (libwmf) and enhanced
// metafiles (records read with libuemf, played onto a QPainter). Plain
// functions on bytes, so that every reader can be fed damaged input in tests.
#include <QImage>

#include <cstdint>
#include <string>
#include <string_view>

enum class TPictureKind { None, Jpeg, Bitmap, Icon, Metafile };

// The kind a file of the upper-cased extension `extension` (dot included, as
// ".JPG") is read as; None for any other extension.
TPictureKind PictureKindOfExtension(std::string_view extension);

// The extension of a file name from its last dot (dot included), upper-cased
// (letters a to z); empty when the name has no dot after its last slash.
std::string UpperExtensionOf(const std::string &fileName);

struct TPictureResult {
    QImage image;      // null on failure
    std::string error; // why it could not be read, in English
};

TPictureResult DecodeJpeg(std::string_view bytes);
TPictureResult DecodeBitmap(std::string_view bytes);
TPictureResult DecodeIcon(std::string_view bytes);
// A metafile of either kind, told by its content: an enhanced metafile or a
// Windows metafile (placeable or not). Drawn at its own size (at most
// kMaxMetafileSide pixels a side), or, given `fill`, stretched over exactly
// that many pixels as a thumbnail is: a drawing has no pixels of its own, so
// it is drawn at the size it is shown at rather than stretched afterwards.
TPictureResult DecodeMetafile(std::string_view bytes, QSize fill = QSize());
TPictureResult DecodeWmf(std::string_view bytes, QSize fill = QSize());
TPictureResult DecodeEmf(std::string_view bytes, QSize fill = QSize());

// Whether the bytes are an enhanced metafile (which draws its text with Qt's
// fonts, so its reader needs a GUI application object).
bool IsEnhancedMetafile(std::string_view bytes);

// Reads the whole file into `bytes`; files over 256 MiB are refused. Empty on
// success, else why not.
std::string ReadPictureFile(const std::string &fileName, std::string &bytes);

// Decodes the bytes as `kind`; a metafile is drawn to `fill` when given.
TPictureResult DecodePicture(TPictureKind kind, std::string_view bytes, QSize fill = QSize());

// The limits of the process that decodes a picture the user adds: a hostile
// file may make a reader allocate without bound, loop, or leak.
struct TPictureDecoderLimits {
    uint64_t addressSpace = uint64_t(2) << 30; // bytes
    int cpuSeconds = 10;
    int wallMilliseconds = 20000;
};
// The limits the next decodes use (tests tighten them).
TPictureDecoderLimits &PictureDecoderLimits();

// The helper program that decodes one picture, installed beside the program.
inline constexpr const char *PictureDecoderName = "orbalist-picture";
// The program the next decodes start in its place: empty for that helper.
// Tests put a probe here that reports the limits it was started under.
std::string &PictureDecoderProgram();
// The descriptor the decoder writes its reply to: stdin and stdout are
// /dev/null and stderr is the program's, so nothing a library prints can be
// taken for the reply.
inline constexpr int PictureDecoderReplyFd = 3;

struct TThumbnailResult : TPictureResult {
    long decoderPeakKiB = 0; // the decoder process's largest resident size
};

// Reads and decodes the file as `kind` in a separate process held to
// PictureDecoderLimits(), and returns the picture stretched onto a width x
// height bitmap. A decoder that is killed, fails or answers out of form is
// reported like a damaged file. Called on the window thread, it keeps
// processing that thread's events, user input excepted, while it waits.
TThumbnailResult LoadPictureThumbnail(TPictureKind kind, const std::string &fileName, int width, int height);

// The decoder's side: decodes the file and writes the reply to descriptor
// `out`. The exit status of the helper program.
int RunPictureDecoder(TPictureKind kind, const std::string &fileName, int width, int height, int out);

// The picture drawn stretched onto a width x height bitmap, aspect ratio not
// kept, on white.
QImage StretchPicture(const QImage &picture, int width, int height);

// The bytes stored in a disc record's picture field: a BMP file.
std::string PictureFieldBytes(const QImage &image);
