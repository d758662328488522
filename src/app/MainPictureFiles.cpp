#include "app/MainPictureFiles.h"

#include <QBuffer>
#include <QFont>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <csetjmp>
#include <fstream>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <uemf.h>
#include <uemf_safe.h>
}

namespace {

// Pictures larger than this are refused rather than decoded: a disc picture
// becomes 100 x 100 pixels, and a forged size must not exhaust memory.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;
// Metafiles are drawn at most this many pixels wide or high before the stretch.
constexpr int kMaxMetafileSide = 1024;

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

void JpegSilence(j_common_ptr, int) {}

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
    err.mgr.emit_message = JpegSilence;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        std::strncpy(message, err.message, JMSG_LENGTH_MAX - 1);
        message[JMSG_LENGTH_MAX - 1] = 0;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
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
// Little-endian reads with their bounds checked by the caller.

uint32_t LeU32(const unsigned char *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
int32_t LeI32(const unsigned char *p) { return static_cast<int32_t>(LeU32(p)); }
int16_t LeI16(const unsigned char *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

// ---------------------------------------------------------------------------
// Enhanced metafile player

class TEmfPlayer {
public:
    TEmfPlayer(const unsigned char *data, size_t size) : data_(data), size_(size) {}

    TPictureResult Play()
    {
        TPictureResult r;
        if (size_ < sizeof(U_EMRHEADER) - sizeof(U_SIZEL) - 12 || LeU32(data_) != U_EMR_HEADER ||
            LeU32(data_ + 40) != U_ENHMETA_SIGNATURE) {
            r.error = "not an enhanced metafile";
            return r;
        }
        const uint32_t headerSize = LeU32(data_ + 4);
        if (headerSize < 88 || headerSize > size_) {
            r.error = "damaged metafile header";
            return r;
        }
        U_RECTL bounds;
        std::memcpy(&bounds, data_ + 8, sizeof bounds);
        const int64_t bw = int64_t(bounds.right) - bounds.left + 1;
        const int64_t bh = int64_t(bounds.bottom) - bounds.top + 1;
        if (bw <= 0 || bh <= 0) {
            r.error = "empty metafile picture";
            return r;
        }
        handles_.assign(std::max<size_t>(1, LeU32(data_ + 48) & 0xFFFF), Object{});
        const double scale = std::min(1.0, double(kMaxMetafileSide) / double(std::max(bw, bh)));
        const int w = std::max(1, int(double(bw) * scale)), h = std::max(1, int(double(bh) * scale));
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        p.translate(-double(bounds.left), -double(bounds.top));
        painter_ = &p;
        pen_ = QPen(Qt::black);
        brush_ = QBrush(Qt::white);
        size_t offset = 0;
        bool ended = false;
        while (offset + 8 <= size_ && !ended) {
            const unsigned char *rec = data_ + offset;
            const uint32_t type = LeU32(rec);
            const uint32_t n = LeU32(rec + 4);
            if (n < 8 || n % 4 != 0 || n > size_ - offset) {
                r.error = "damaged metafile record at byte " + std::to_string(offset);
                return r;
            }
            // The record lies wholly inside the file; for the records drawn the
            // library checks their own fields against the declared size.
            if (Handled(type) && !U_emf_record_safe(reinterpret_cast<const char *>(rec))) {
                r.error = "damaged metafile record at byte " + std::to_string(offset);
                return r;
            }
            ended = type == U_EMR_EOF;
            Record(type, rec, n);
            offset += n;
        }
        p.end();
        r.image = image;
        return r;
    }

private:
    struct Object {
        enum Kind { None, Pen, Brush, Font } kind = None;
        QPen pen;
        QBrush brush;
        QFont font;
    };

    QPointF Map(int64_t x, int64_t y) const
    {
        if (winExt_.width() == 0 || winExt_.height() == 0 || !scaled_)
            return {double(x - winOrg_.x() + vpOrg_.x()), double(y - winOrg_.y() + vpOrg_.y())};
        return {double(x - winOrg_.x()) * vpExt_.width() / winExt_.width() + vpOrg_.x(),
                double(y - winOrg_.y()) * vpExt_.height() / winExt_.height() + vpOrg_.y()};
    }
    double ScaleY(double v) const
    {
        if (!scaled_ || winExt_.height() == 0)
            return v;
        return v * std::abs(double(vpExt_.height()) / winExt_.height());
    }

    static bool Handled(uint32_t type)
    {
        switch (type) {
        case U_EMR_SETMAPMODE: case U_EMR_SETWINDOWEXTEX: case U_EMR_SETWINDOWORGEX: case U_EMR_SETVIEWPORTEXTEX:
        case U_EMR_SETVIEWPORTORGEX: case U_EMR_SETTEXTCOLOR: case U_EMR_CREATEPEN: case U_EMR_CREATEBRUSHINDIRECT:
        case U_EMR_EXTCREATEFONTINDIRECTW: case U_EMR_SELECTOBJECT: case U_EMR_DELETEOBJECT: case U_EMR_MOVETOEX:
        case U_EMR_LINETO: case U_EMR_RECTANGLE: case U_EMR_ELLIPSE: case U_EMR_ROUNDRECT: case U_EMR_POLYGON:
        case U_EMR_POLYLINE: case U_EMR_POLYLINETO: case U_EMR_POLYGON16: case U_EMR_POLYLINE16:
        case U_EMR_POLYLINETO16: case U_EMR_POLYPOLYGON: case U_EMR_POLYPOLYLINE: case U_EMR_POLYPOLYGON16:
        case U_EMR_POLYPOLYLINE16: case U_EMR_EXTTEXTOUTW: case U_EMR_STRETCHDIBITS: case U_EMR_EOF:
            return true;
        default:
            return false;
        }
    }

    static QColor Colour(const unsigned char *p) { return QColor(p[0], p[1], p[2]); }

    // Points of a record: `count` points of 16 or 32 bits each at `at`.
    bool Points(const unsigned char *rec, uint32_t n, size_t at, uint64_t count, bool small, QPolygonF &out) const
    {
        const uint64_t each = small ? 4 : 8;
        if (at > n || count > (n - at) / each)
            return false;
        out.reserve(int(count));
        for (uint64_t i = 0; i < count; ++i) {
            const unsigned char *q = rec + at + i * each;
            out << (small ? Map(LeI16(q), LeI16(q + 2)) : Map(LeI32(q), LeI32(q + 4)));
        }
        return true;
    }

    void Apply()
    {
        painter_->setPen(pen_);
        painter_->setBrush(brush_);
    }

    void Record(uint32_t type, const unsigned char *rec, uint32_t n)
    {
        switch (type) {
        case U_EMR_SETMAPMODE:
            if (n >= 12) {
                const uint32_t mode = LeU32(rec + 8);
                scaled_ = mode == U_MM_ISOTROPIC || mode == U_MM_ANISOTROPIC;
            }
            break;
        case U_EMR_SETWINDOWEXTEX:
            if (n >= 16)
                winExt_ = QSize(LeI32(rec + 8), LeI32(rec + 12));
            break;
        case U_EMR_SETWINDOWORGEX:
            if (n >= 16)
                winOrg_ = QPoint(LeI32(rec + 8), LeI32(rec + 12));
            break;
        case U_EMR_SETVIEWPORTEXTEX:
            if (n >= 16)
                vpExt_ = QSize(LeI32(rec + 8), LeI32(rec + 12));
            break;
        case U_EMR_SETVIEWPORTORGEX:
            if (n >= 16)
                vpOrg_ = QPoint(LeI32(rec + 8), LeI32(rec + 12));
            break;
        case U_EMR_SETTEXTCOLOR:
            if (n >= 12)
                textColour_ = Colour(rec + 8);
            break;
        case U_EMR_CREATEPEN:
            if (n >= 28) {
                const uint32_t index = LeU32(rec + 8);
                if (index < handles_.size()) {
                    Object o;
                    o.kind = Object::Pen;
                    const uint32_t style = LeU32(rec + 12) & 0xF;
                    o.pen = style == U_PS_NULL ? QPen(Qt::NoPen)
                                               : QPen(Colour(rec + 24), std::max(1.0, double(LeI32(rec + 16))));
                    handles_[index] = o;
                }
            }
            break;
        case U_EMR_CREATEBRUSHINDIRECT:
            if (n >= 24) {
                const uint32_t index = LeU32(rec + 8);
                if (index < handles_.size()) {
                    Object o;
                    o.kind = Object::Brush;
                    o.brush = LeU32(rec + 12) == U_BS_NULL ? QBrush(Qt::NoBrush) : QBrush(Colour(rec + 16));
                    handles_[index] = o;
                }
            }
            break;
        case U_EMR_EXTCREATEFONTINDIRECTW:
            if (n >= 12 + sizeof(U_LOGFONT)) {
                const uint32_t index = LeU32(rec + 8);
                if (index < handles_.size()) {
                    Object o;
                    o.kind = Object::Font;
                    const unsigned char *lf = rec + 12;
                    const int64_t height = LeI32(lf);
                    const unsigned char *face = lf + offsetof(U_LOGFONT, lfFaceName);
                    QString name;
                    for (int i = 0; i < U_LF_FACESIZE; ++i) {
                        const char16_t c = char16_t(face[2 * i] | (face[2 * i + 1] << 8));
                        if (c == 0)
                            break;
                        name += QChar(c);
                    }
                    if (!name.isEmpty())
                        o.font.setFamily(name);
                    o.font.setPixelSize(int(std::clamp(ScaleY(double(std::abs(height ? height : 12))), 1.0, 4096.0)));
                    o.font.setWeight(LeI32(lf + 16) >= 600 ? QFont::Bold : QFont::Normal);
                    o.font.setItalic(lf[20] != 0);
                    handles_[index] = o;
                }
            }
            break;
        case U_EMR_SELECTOBJECT:
            if (n >= 12) {
                const uint32_t index = LeU32(rec + 8);
                if (index & U_STOCK_OBJECT) {
                    switch (index) {
                    case U_WHITE_BRUSH: brush_ = QBrush(Qt::white); break;
                    case U_BLACK_BRUSH: brush_ = QBrush(Qt::black); break;
                    case U_NULL_BRUSH: brush_ = QBrush(Qt::NoBrush); break;
                    case U_WHITE_PEN: pen_ = QPen(Qt::white); break;
                    case U_BLACK_PEN: pen_ = QPen(Qt::black); break;
                    case U_NULL_PEN: pen_ = QPen(Qt::NoPen); break;
                    default: break;
                    }
                } else if (index < handles_.size()) {
                    const Object &o = handles_[index];
                    if (o.kind == Object::Pen)
                        pen_ = o.pen;
                    else if (o.kind == Object::Brush)
                        brush_ = o.brush;
                    else if (o.kind == Object::Font)
                        font_ = o.font;
                }
            }
            break;
        case U_EMR_DELETEOBJECT:
            if (n >= 12 && LeU32(rec + 8) < handles_.size())
                handles_[LeU32(rec + 8)] = Object{};
            break;
        case U_EMR_MOVETOEX:
            if (n >= 16)
                position_ = Map(LeI32(rec + 8), LeI32(rec + 12));
            break;
        case U_EMR_LINETO:
            if (n >= 16) {
                const QPointF to = Map(LeI32(rec + 8), LeI32(rec + 12));
                Apply();
                painter_->drawLine(position_, to);
                position_ = to;
            }
            break;
        case U_EMR_RECTANGLE:
        case U_EMR_ELLIPSE:
        case U_EMR_ROUNDRECT:
            if (n >= 24) {
                const QRectF box(Map(LeI32(rec + 8), LeI32(rec + 12)), Map(LeI32(rec + 16), LeI32(rec + 20)));
                Apply();
                if (type == U_EMR_ELLIPSE)
                    painter_->drawEllipse(box.normalized());
                else if (type == U_EMR_ROUNDRECT && n >= 32)
                    painter_->drawRoundedRect(box.normalized(), LeI32(rec + 24) / 2.0, LeI32(rec + 28) / 2.0);
                else
                    painter_->drawRect(box.normalized());
            }
            break;
        case U_EMR_POLYGON:
        case U_EMR_POLYLINE:
        case U_EMR_POLYLINETO:
        case U_EMR_POLYGON16:
        case U_EMR_POLYLINE16:
        case U_EMR_POLYLINETO16:
            if (n >= 28) {
                const bool small = type == U_EMR_POLYGON16 || type == U_EMR_POLYLINE16 || type == U_EMR_POLYLINETO16;
                QPolygonF points;
                if (!Points(rec, n, 28, LeU32(rec + 24), small, points) || points.isEmpty())
                    break;
                Apply();
                if (type == U_EMR_POLYGON || type == U_EMR_POLYGON16) {
                    painter_->drawPolygon(points);
                } else if (type == U_EMR_POLYLINETO || type == U_EMR_POLYLINETO16) {
                    points.prepend(position_);
                    painter_->drawPolyline(points);
                    position_ = points.back();
                } else {
                    painter_->drawPolyline(points);
                }
            }
            break;
        case U_EMR_POLYPOLYGON:
        case U_EMR_POLYPOLYLINE:
        case U_EMR_POLYPOLYGON16:
        case U_EMR_POLYPOLYLINE16:
            if (n >= 32) {
                const bool small = type == U_EMR_POLYPOLYGON16 || type == U_EMR_POLYPOLYLINE16;
                const uint64_t polys = LeU32(rec + 24), total = LeU32(rec + 28);
                if (polys > (n - 32) / 4)
                    break;
                QPolygonF all;
                if (!Points(rec, n, 32 + polys * 4, total, small, all))
                    break;
                Apply();
                uint64_t start = 0;
                QPainterPath path;
                for (uint64_t i = 0; i < polys; ++i) {
                    const uint64_t count = LeU32(rec + 32 + i * 4);
                    if (count > total - start)
                        break;
                    const QPolygonF part = all.mid(int(start), int(count));
                    start += count;
                    if (type == U_EMR_POLYPOLYGON || type == U_EMR_POLYPOLYGON16)
                        path.addPolygon(part), path.closeSubpath();
                    else
                        painter_->drawPolyline(part);
                }
                if (!path.isEmpty())
                    painter_->drawPath(path);
            }
            break;
        case U_EMR_EXTTEXTOUTW:
            // Bounds (16), graphics mode, x and y scale (12), then the text
            // block: reference point, character count, offset, options.
            if (n >= 8 + 16 + 12 + 20) {
                const unsigned char *t = rec + 36;
                const QPointF at = Map(LeI32(t), LeI32(t + 4));
                const uint64_t chars = LeU32(t + 8), off = LeU32(t + 12);
                if (off > n || chars > (n - off) / 2)
                    break;
                QString text;
                text.reserve(int(chars));
                for (uint64_t i = 0; i < chars; ++i)
                    text += QChar(char16_t(rec[off + 2 * i] | (rec[off + 2 * i + 1] << 8)));
                painter_->setPen(textColour_);
                painter_->setFont(font_);
                // Text is placed by its top-left corner.
                painter_->drawText(QRectF(at, QSizeF(1e6, 1e6)), Qt::AlignLeft | Qt::AlignTop, text);
            }
            break;
        case U_EMR_STRETCHDIBITS:
            if (n >= 80) {
                const QPointF dest = Map(LeI32(rec + 24), LeI32(rec + 28));
                const uint64_t offBmi = LeU32(rec + 48), cbBmi = LeU32(rec + 52);
                const uint64_t offBits = LeU32(rec + 56), cbBits = LeU32(rec + 60);
                const QPointF destEnd = Map(int64_t(LeI32(rec + 24)) + LeI32(rec + 72), int64_t(LeI32(rec + 28)) + LeI32(rec + 76));
                if (cbBmi < 40 || offBmi > n || cbBmi > n - offBmi || offBits > n || cbBits > n - offBits)
                    break;
                // A BMP file made of the record's bitmap info and bits.
                QByteArray bmp;
                const uint32_t fileSize = uint32_t(14 + cbBmi + cbBits);
                bmp.append("BM", 2);
                for (uint32_t v : {fileSize, 0u, uint32_t(14 + cbBmi)})
                    for (int k = 0; k < 4; ++k)
                        bmp.append(char((v >> (8 * k)) & 0xFF));
                bmp.append(reinterpret_cast<const char *>(rec + offBmi), qsizetype(cbBmi));
                bmp.append(reinterpret_cast<const char *>(rec + offBits), qsizetype(cbBits));
                QImage picture;
                if (picture.loadFromData(bmp, "BMP"))
                    painter_->drawImage(QRectF(dest, destEnd).normalized(), picture);
            }
            break;
        default:
            break; // records that draw nothing we show are skipped
        }
    }

    const unsigned char *data_;
    size_t size_;
    QPainter *painter_ = nullptr;
    std::vector<Object> handles_;
    QPen pen_;
    QBrush brush_;
    QFont font_;
    QColor textColour_ = Qt::black;
    QPointF position_;
    bool scaled_ = false;
    QPoint winOrg_, vpOrg_;
    QSize winExt_, vpExt_;
};

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

bool IsEmf(std::string_view b)
{
    const auto *d = reinterpret_cast<const unsigned char *>(b.data());
    return b.size() >= 44 && LeU32(d) == U_EMR_HEADER && LeU32(d + 40) == U_ENHMETA_SIGNATURE;
}

} // namespace

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

TPictureResult DecodeEmf(std::string_view bytes)
{
    TEmfPlayer player(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    return player.Play();
}

TPictureResult DecodeWmf(std::string_view bytes)
{
    TPictureResult r;
    if (bytes.size() < 18 || bytes.size() > 0x7FFFFFFF) {
        r.error = "not a Windows metafile";
        return r;
    }
    TWmfApi wmf;
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
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
    const double scale = std::min(1.0, double(kMaxMetafileSide) / double(std::max(w, h)));
    w = std::max(1u, unsigned(w * scale));
    h = std::max(1u, unsigned(h * scale));
    wmf_gd_t *gd = WMF_GD_GetData(wmf.api);
    gd->type = wmf_gd_image;
    gd->width = w;
    gd->height = h;
    gd->bbox = bbox;
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

TPictureResult DecodeMetafile(std::string_view bytes)
{
    return IsEmf(bytes) ? DecodeEmf(bytes) : DecodeWmf(bytes);
}

TPictureResult LoadPictureFile(TPictureKind kind, const std::string &fileName)
{
    TPictureResult r;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        r.error = "cannot be opened";
        return r;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) {
        r.error = "cannot be read";
        return r;
    }
    if (size > (std::streamoff(256) << 20)) {
        r.error = "file too large";
        return r;
    }
    std::string bytes(size_t(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) {
        r.error = "cannot be read";
        return r;
    }
    switch (kind) {
    case TPictureKind::Jpeg: return DecodeJpeg(bytes);
    case TPictureKind::Bitmap: return DecodeBitmap(bytes);
    case TPictureKind::Icon: return DecodeIcon(bytes);
    case TPictureKind::Metafile: return DecodeMetafile(bytes);
    case TPictureKind::None: break;
    }
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
