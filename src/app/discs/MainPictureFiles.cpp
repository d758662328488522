// Reading the picture files a disc picture is made from: JPEG through libjpeg, bitmaps and icons through Qt's
// readers and Windows metafiles through libwmf, each on bytes and each refusing sizes it cannot afford.
#include "app/discs/MainPictureFiles.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <csetjmp>
#include <fstream>
#include <memory>
#include <vector>

#include "app/discs/PictureFileBytes.h"
#include "util/BaseFileUtils.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/ipa.h>
#include <uemf.h>
}

using picturefiles::LeI16;
using picturefiles::LeU32;
using picturefiles::kMaxMetafileSide;

namespace {

// Pictures larger than this are refused rather than decoded: a disc picture
// becomes 100 x 100 pixels, and a forged size must not exhaust memory.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;
// A JPEG's full size (a quarter gigapixel: any camera's) and the memory its
// decoder may take.
constexpr uint64_t kMaxJpegPixels = 256ull * 1024 * 1024;
constexpr long kMaxJpegMemory = 768l * 1024 * 1024;

// ---------------------------------------------------------------------------
// JPEG

struct TJpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<TJpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

// Warnings pass, but for a file that ends early: the library would fill the
// rest with grey and call it a picture.
void JpegMessage(j_common_ptr cinfo, int level)
{
    const int code = cinfo->err->msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
        JpegErrorExit(cinfo);
}

// A progressive file may hold any number of scans, each a pass over the whole
// picture; real ones have about ten.
constexpr int kMaxJpegScans = 500;

void JpegProgress(j_common_ptr cinfo)
{
    auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        auto *err = reinterpret_cast<TJpegError *>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "too many scans in the picture");
        longjmp(err->jump, 1);
    }
}

struct TJpegOut {
    std::vector<unsigned char> pixels; // RGB rows, or CMYK rows when components is 4
    unsigned width = 0, height = 0;
    unsigned components = 3;
    bool adobe = false; // CMYK stored inverted, as Adobe's programs write it
};

// The libjpeg work alone in its own frame, with plain locals only, so that the
// library's long jump on an error leaves nothing unwound behind it.
bool DecodeJpegInto(const unsigned char *data, unsigned long size, TJpegOut *out, char *message)
{
    jpeg_decompress_struct cinfo;
    TJpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.emit_message = JpegMessage;
    err.message[0] = 0;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = JpegProgress;
    if (setjmp(err.jump)) {
        if (err.mgr.msg_code == JERR_NO_BACKING_STORE || err.mgr.msg_code == JERR_OUT_OF_MEMORY)
            std::snprintf(err.message, sizeof err.message, "picture too large to decode");
        std::strncpy(message, err.message, JMSG_LENGTH_MAX - 1);
        message[JMSG_LENGTH_MAX - 1] = 0;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    // A progressive picture is held whole, coefficients of every pixel, before
    // the first row comes out; past this the library refuses it.
    cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    // The full size, before any reduction: what a progressive file costs.
    if (uint64_t(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
        std::snprintf(message, JMSG_LENGTH_MAX, "picture too large (%u x %u)", cinfo.image_width,
                      cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Print-ready pictures come in CMYK, which the library gives only as is.
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    // Only a thumbnail is wanted: let the decoder scale down by up to 8 while
    // both sides stay at 200 pixels or more.
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    for (unsigned d : {8u, 4u, 2u}) {
        if (cinfo.image_width / d >= 200 && cinfo.image_height / d >= 200) {
            cinfo.scale_denom = d;
            break;
        }
    }
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width == 0 || cinfo.output_height == 0 ||
        uint64_t(cinfo.output_width) * cinfo.output_height > kMaxPixels) {
        std::snprintf(message, JMSG_LENGTH_MAX, "picture too large (%u x %u)", cinfo.image_width,
                      cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    out->components = cmyk ? 4 : 3;
    out->adobe = cinfo.saw_Adobe_marker;
    out->pixels.resize(size_t(out->width) * out->height * out->components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->pixels.data() + size_t(cinfo.output_scanline) * out->width * out->components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// ---------------------------------------------------------------------------
// Windows metafiles through libwmf, drawn into its own bitmap.

struct TWmfApi {
    wmfAPI *api = nullptr;
    ~TWmfApi()
    {
        if (api) {
            wmf_mem_close(api);
            wmf_api_destroy(api);
        }
    }
};

// The frame of a placeable Windows metafile (its header's bounding box) in
// the library's drawing units: logical units less the window origin, at 72
// to the inch. False for a metafile without one.
bool WmfPlaceableFrame(std::string_view bytes, wmfD_Rect &frame)
{
    const auto *d = reinterpret_cast<const unsigned char *>(bytes.data());
    if (bytes.size() < 22 + 18 || LeU32(d) != 0x9AC6CDD7u)
        return false;
    const int left = LeI16(d + 6), top = LeI16(d + 8), right = LeI16(d + 10), bottom = LeI16(d + 12);
    const int inch = LeI16(d + 14);
    if (right <= left || bottom <= top || inch <= 0)
        return false;
    // The window origin the drawing sets, if it sets one: records of a size
    // in 16-bit words and a function, after the header.
    int originX = 0, originY = 0;
    const size_t headerWords = uint16_t(LeI16(d + 22 + 2));
    for (size_t at = 22 + headerWords * 2; at + 6 <= bytes.size();) {
        const uint64_t words = LeU32(d + at);
        const unsigned function = uint16_t(LeI16(d + at + 4));
        if (words < 3 || words > (bytes.size() - at) / 2 || function == 0)
            break;
        if (function == 0x020B && words >= 5) { // window origin: y, then x
            originY = LeI16(d + at + 6);
            originX = LeI16(d + at + 8);
            break;
        }
        at += size_t(words) * 2;
    }
    const double scale = 72.0 / inch;
    frame.TL.x = float((left - originX) * scale);
    frame.TL.y = float((top - originY) * scale);
    frame.BR.x = float((right - originX) * scale);
    frame.BR.y = float((bottom - originY) * scale);
    return true;
}

// The points of an arc of the ellipse within `arc`'s box, `sweep` radians
// from the angle `from` on it (as EllipseAngle measures them).
std::vector<wmfD_Coord> EllipsePoints(const wmfDrawArc_t &arc, double from, double sweep)
{
    const double cx = (double(arc.TL.x) + arc.BR.x) / 2, cy = (double(arc.TL.y) + arc.BR.y) / 2;
    const double rx = std::abs(double(arc.BR.x) - arc.TL.x) / 2;
    const double ry = std::abs(double(arc.BR.y) - arc.TL.y) / 2;
    if (!std::isfinite(cx + cy + rx + ry))
        return {};
    // Enough corners that none shows at the largest size a metafile is drawn.
    const int steps = std::max(8, int(std::ceil(256 * sweep / (2 * M_PI))));
    std::vector<wmfD_Coord> points(size_t(steps) + 1);
    for (int i = 0; i <= steps; ++i) {
        const double t = from + sweep * i / steps;
        points[size_t(i)].x = float(cx + rx * std::cos(t));
        points[size_t(i)].y = float(cy + ry * std::sin(t));
    }
    return points;
}

// The angle on the ellipse of `arc`'s box of a point given, as the library
// gives an arc's ends, relative to the box's centre. The metafile's arcs turn
// anticlockwise on the page, which is the way of growing angles here.
double EllipseAngle(const wmfDrawArc_t &arc, const wmfD_Coord &at)
{
    const double rx = std::max(1e-9, std::abs(double(arc.BR.x) - arc.TL.x) / 2);
    const double ry = std::max(1e-9, std::abs(double(arc.BR.y) - arc.TL.y) / 2);
    return std::atan2(at.y / ry, at.x / rx);
}

void DrawWmfPolygon(wmfAPI *api, wmfDC *dc, std::vector<wmfD_Coord> &points)
{
    if (points.size() < 3)
        return;
    auto *device = static_cast<wmfFunctionReference *>(api->function_reference);
    wmfPolyLine_t polygon{dc, points.data(), static_cast<U16>(points.size())};
    device->draw_polygon(api, &polygon);
}

// The bitmap device leaves an ellipse unfilled and fills a chord's triangle
// instead of its segment: both are drawn as the polygons it fills and
// outlines correctly, in the brush and pen of the moment.
void DrawWmfEllipse(wmfAPI *api, wmfDrawArc_t *arc)
{
    std::vector<wmfD_Coord> points = EllipsePoints(*arc, 0, 2 * M_PI);
    if (!points.empty())
        points.pop_back(); // the polygon closes itself
    DrawWmfPolygon(api, arc->dc, points);
}

void DrawWmfChord(wmfAPI *api, wmfDrawArc_t *arc)
{
    const double from = EllipseAngle(*arc, arc->start), to = EllipseAngle(*arc, arc->end);
    double sweep = std::fmod(to - from, 2 * M_PI);
    if (sweep <= 0)
        sweep += 2 * M_PI; // ends at one point: the whole ellipse
    std::vector<wmfD_Coord> points = EllipsePoints(*arc, from, sweep);
    DrawWmfPolygon(api, arc->dc, points); // closing it draws the chord
}

// libwmf's bitmap device with the mends above.
void WmfDevice(wmfAPI *api)
{
    wmf_gd_function(api);
    auto *device = static_cast<wmfFunctionReference *>(api->function_reference);
    if (!device || !device->draw_polygon)
        return;
    device->draw_ellipse = DrawWmfEllipse;
    device->draw_chord = DrawWmfChord;
}

// The library draws a placeable metafile in points, 72 to its inch, and its
// thinnest pen (one pixel on a screen) a point wide: with many units to the
// inch and a small frame, a point covers many pixels of a thumbnail and the
// outlines swamp the drawing. The header is given the most units to the inch
// that keep every point of the frame within a pixel of the `w` x `h` bitmap;
// all that the metafile measures in its own units keeps its size.
void FitPlaceableUnits(std::vector<unsigned char> &wmf, int w, int h)
{
    unsigned char *d = wmf.data();
    if (wmf.size() < 22 || LeU32(d) != 0x9AC6CDD7u || w <= 0 || h <= 0)
        return;
    const int width = LeI16(d + 10) - LeI16(d + 6), height = LeI16(d + 12) - LeI16(d + 8);
    if (width <= 0 || height <= 0 || LeI16(d + 14) <= 0)
        return;
    const double fitting = 72.0 * std::min(double(width) / w, double(height) / h);
    const int inch = int(std::clamp(std::floor(fitting), 1.0, 32767.0));
    d[14] = uint8_t(inch & 0xFF);
    d[15] = uint8_t(inch >> 8);
    // The header's checksum: its first ten words XORed.
    uint16_t sum = 0;
    for (size_t i = 0; i < 20; i += 2)
        sum ^= uint16_t(d[i] | (d[i + 1] << 8));
    d[20] = uint8_t(sum & 0xFF);
    d[21] = uint8_t(sum >> 8);
}

} // namespace

bool IsEnhancedMetafile(std::string_view b)
{
    const auto *d = reinterpret_cast<const unsigned char *>(b.data());
    return b.size() >= 44 && LeU32(d) == U_EMR_HEADER && LeU32(d + 40) == U_ENHMETA_SIGNATURE;
}


TPictureKind PictureKindOfExtension(std::string_view e)
{
    if (e == ".JPG" || e == ".JPEG")
        return TPictureKind::Jpeg;
    if (e == ".BMP")
        return TPictureKind::Bitmap;
    if (e == ".ICO")
        return TPictureKind::Icon;
    if (e == ".WMF" || e == ".EMF")
        return TPictureKind::Metafile;
    return TPictureKind::None;
}

std::string UpperExtensionOf(const std::string &fileName)
{
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string e = fileName.substr(dot);
    for (char &c : e)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return e;
}

TPictureResult DecodeJpeg(std::string_view bytes)
{
    TPictureResult r;
    if (bytes.empty()) {
        r.error = "empty file";
        return r;
    }
    TJpegOut out;
    char message[JMSG_LENGTH_MAX] = {};
    if (!DecodeJpegInto(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &out, message)) {
        r.error = message[0] ? message : "not a JPEG picture";
        return r;
    }
    QImage image(int(out.width), int(out.height), QImage::Format_RGB888);
    for (unsigned y = 0; y < out.height; ++y) {
        const unsigned char *in = out.pixels.data() + size_t(y) * out.width * out.components;
        unsigned char *line = image.scanLine(int(y));
        if (out.components == 3) {
            std::memcpy(line, in, size_t(out.width) * 3);
            continue;
        }
        for (unsigned x = 0; x < out.width; ++x, in += 4, line += 3) {
            // Ink to light: inverted values already are the light left over.
            const int c = out.adobe ? in[0] : 255 - in[0], m = out.adobe ? in[1] : 255 - in[1];
            const int yl = out.adobe ? in[2] : 255 - in[2], k = out.adobe ? in[3] : 255 - in[3];
            line[0] = static_cast<unsigned char>(c * k / 255);
            line[1] = static_cast<unsigned char>(m * k / 255);
            line[2] = static_cast<unsigned char>(yl * k / 255);
        }
    }
    r.image = image;
    return r;
}

namespace {

TPictureResult DecodeWithQt(std::string_view bytes, const char *format, const char *what)
{
    TPictureResult r;
    QByteArray data(bytes.data(), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (size.isValid() && uint64_t(size.width()) * uint64_t(size.height()) > kMaxPixels) {
        r.error = "picture too large";
        return r;
    }
    if (!reader.read(&r.image) || r.image.isNull()) {
        r.image = QImage();
        r.error = std::string("not a readable ") + what + " (" + reader.errorString().toStdString() + ")";
    }
    return r;
}

} // namespace

TPictureResult DecodeBitmap(std::string_view bytes) { return DecodeWithQt(bytes, "BMP", "bitmap"); }
TPictureResult DecodeIcon(std::string_view bytes) { return DecodeWithQt(bytes, "ICO", "icon"); }

TPictureResult DecodeWmf(std::string_view bytes, QSize fill)
{
    TPictureResult r;
    if (bytes.size() < 18 || bytes.size() > 0x7FFFFFFF) {
        r.error = "not a Windows metafile";
        return r;
    }
    TWmfApi wmf;
    wmfAPI_Options options{};
    options.function = WmfDevice;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&wmf.api, flags, &options) != wmf_E_None) {
        if (wmf.api) {
            wmf_api_destroy(wmf.api);
            wmf.api = nullptr;
        }
        r.error = "the metafile library could not start";
        return r;
    }
    // The library reads its own copy and never writes to it.
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    if (!fill.isEmpty())
        FitPlaceableUnits(copy, std::min(fill.width(), kMaxMetafileSide),
                          std::min(fill.height(), kMaxMetafileSide));
    bytes = std::string_view(reinterpret_cast<const char *>(copy.data()), copy.size());
    if (wmf_mem_open(wmf.api, copy.data(), long(copy.size())) != wmf_E_None) {
        wmf_api_destroy(wmf.api);
        wmf.api = nullptr;
        r.error = "not a Windows metafile";
        return r;
    }
    wmfD_Rect bbox;
    if (wmf_scan(wmf.api, 0, &bbox) != wmf_E_None) {
        r.error = "damaged Windows metafile";
        return r;
    }
    unsigned int w = 0, h = 0;
    if (wmf_display_size(wmf.api, &w, &h, 72, 72) != wmf_E_None || w == 0 || h == 0) {
        r.error = "empty Windows metafile";
        return r;
    }
    if (!fill.isEmpty()) {
        w = unsigned(std::min(fill.width(), kMaxMetafileSide));
        h = unsigned(std::min(fill.height(), kMaxMetafileSide));
    } else {
        const double scale = std::min(1.0, double(kMaxMetafileSide) / double(std::max(w, h)));
        w = std::max(1u, unsigned(w * scale));
        h = std::max(1u, unsigned(h * scale));
    }
    wmf_gd_t *gd = WMF_GD_GetData(wmf.api);
    gd->type = wmf_gd_image;
    gd->width = w;
    gd->height = h;
    // A placeable metafile is drawn within its frame, margins and all, as an
    // enhanced one is; another fills the picture with what it draws.
    wmfD_Rect frame;
    gd->bbox = WmfPlaceableFrame(bytes, frame) ? frame : bbox;
    if (wmf_play(wmf.api, 0, &bbox) != wmf_E_None || !gd->gd_image) {
        r.error = "damaged Windows metafile";
        return r;
    }
    const int *pixels = wmf_gd_image_pixels(gd->gd_image);
    if (!pixels) {
        r.error = "damaged Windows metafile";
        return r;
    }
    QImage image(int(w), int(h), QImage::Format_RGB32);
    for (unsigned y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (unsigned x = 0; x < w; ++x) {
            // The bitmap's true colour: 7 bits of transparency over RGB.
            const uint32_t c = uint32_t(pixels[size_t(y) * w + x]);
            const int alpha = 255 - int(((c >> 24) & 0x7F) * 255 / 127);
            const int red = (c >> 16) & 0xFF, green = (c >> 8) & 0xFF, blue = c & 0xFF;
            line[x] = qRgb((red * alpha + 255 * (255 - alpha)) / 255, (green * alpha + 255 * (255 - alpha)) / 255,
                           (blue * alpha + 255 * (255 - alpha)) / 255);
        }
    }
    r.image = image;
    return r;
}

TPictureResult DecodeMetafile(std::string_view bytes, QSize fill)
{
    return IsEnhancedMetafile(bytes) ? DecodeEmf(bytes, fill) : DecodeWmf(bytes, fill);
}

std::string ReadPictureFile(const std::string &fileName, std::string &bytes)
{
    // Only a regular file is read: a named pipe given as a picture is turned
    // away at once instead of holding the reader until something writes to it.
    return ReadRegularFile(fileName, bytes, uint64_t(256) << 20);
}

TPictureResult DecodePicture(TPictureKind kind, std::string_view bytes, QSize fill)
{
    switch (kind) {
    case TPictureKind::Jpeg: return DecodeJpeg(bytes);
    case TPictureKind::Bitmap: return DecodeBitmap(bytes);
    case TPictureKind::Icon: return DecodeIcon(bytes);
    case TPictureKind::Metafile: return DecodeMetafile(bytes, fill);
    case TPictureKind::None: break;
    }
    TPictureResult r;
    r.error = "not a picture file";
    return r;
}

QImage StretchPicture(const QImage &picture, int width, int height)
{
    QImage bitmap(width, height, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    QPainter p(&bitmap);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(0, 0, width, height), picture);
    p.end();
    return bitmap;
}

std::string PictureFieldBytes(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP");
    return data.toStdString();
}
