#pragma once
// Reading the picture files a disc picture is made from: JPEG (libjpeg),
// bitmaps and icons (Qt's readers), Windows metafiles (libwmf) and enhanced
// metafiles (records read with libuemf, played onto a QPainter). Plain
// functions on bytes, so that every reader can be fed damaged input in tests.
#include <QImage>

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
// Windows metafile (placeable or not).
TPictureResult DecodeMetafile(std::string_view bytes);
TPictureResult DecodeWmf(std::string_view bytes);
TPictureResult DecodeEmf(std::string_view bytes);

// Reads the file and decodes it as `kind`; files over 256 MiB are refused.
TPictureResult LoadPictureFile(TPictureKind kind, const std::string &fileName);

// The picture drawn stretched onto a width x height bitmap, aspect ratio not
// kept, on white.
QImage StretchPicture(const QImage &picture, int width, int height);

// The bytes stored in a disc record's picture field: a BMP file.
std::string PictureFieldBytes(const QImage &image);
