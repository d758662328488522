#include "app/discs/MainPictureFiles.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <csetjmp>
#include <fstream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/BaseFileUtils.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <uemf.h>
#include <uemf_safe.h>
}

namespace {

// Pictures larger than this are refused rather than decoded: a disc picture
// becomes 100 x 100 pixels, and a forged size must not exhaust memory.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;
// A JPEG's full size (a quarter gigapixel: any camera's) and the memory its
// decoder may take.
constexpr uint64_t kMaxJpegPixels = 256ull * 1024 * 1024;
constexpr long kMaxJpegMemory = 768l * 1024 * 1024;
// What drawing an enhanced metafile may cost: the points of all its shapes,
// the weight of its fills (edge crossings of a row times the edges crossing
// it: a few seconds at most) and the area its wide lines cover in pixels.
constexpr uint64_t kMaxMetafilePoints = 1u << 20;
constexpr double kMaxMetafileFillCost = 64e6;
constexpr double kMaxMetafileStrokeArea = 8e9;
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
        scale_ = scale;
        side_ = std::max(w, h);
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
            if (!refused_.empty()) {
                r.error = "metafile too complex (" + refused_ + ")";
                return r;
            }
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

    void Refuse(const char *why)
    {
        if (refused_.empty())
            refused_ = why;
    }

    // What a picture may ask of the painter. Its time grows with the points
    // drawn, the area wide pens cover, and for a fill with the edges that
    // cross each row at once: a few thousand crossing edges take minutes.
    bool Admit(qsizetype points)
    {
        points_ += uint64_t(points);
        if (points_ > kMaxMetafilePoints)
            Refuse("too many points");
        return refused_.empty();
    }
    bool AdmitFill(const QPolygonF &outline)
    {
        if (outline.size() < 3 || brush_.style() == Qt::NoBrush)
            return refused_.empty();
        // Rows crossed by all edges over the height: the edges crossing an
        // average row, each row costing about that many times as much.
        double crossed = 0;
        for (qsizetype i = 0; i < outline.size(); ++i)
            crossed += std::abs(outline[(i + 1) % outline.size()].y() - outline[i].y()) * scale_;
        const double height = std::max(1.0, outline.boundingRect().height() * scale_);
        fillCost_ += crossed * crossed / height;
        if (fillCost_ > kMaxMetafileFillCost)
            Refuse("fills too intricate");
        return refused_.empty();
    }

    // The outline in the current pen. A wide pen strokes segment by segment:
    // as one path, its crossings are filled like an intricate outline.
    void Stroke(QPolygonF points, bool closed)
    {
        if (pen_.style() == Qt::NoPen || points.size() < 2 || !refused_.empty())
            return;
        if (closed)
            points << points.front();
        painter_->setBrush(Qt::NoBrush);
        painter_->setPen(pen_);
        // Lines a pixel wide take the painter's quick way.
        const double width = pen_.widthF() * scale_;
        if (width <= 1) {
            painter_->drawPolyline(points);
            return;
        }
        // Square ends close the joins; round ones cost ten times as much.
        const double diagonal = std::hypot(double(side_), double(side_));
        for (qsizetype i = 1; i < points.size(); ++i) {
            const QPointF d = points[i] - points[i - 1];
            strokeArea_ += std::min(std::hypot(d.x(), d.y()) * scale_ + width, diagonal) * width;
            if (strokeArea_ > kMaxMetafileStrokeArea)
                return Refuse("wide lines cover too much");
            painter_->drawLine(points[i - 1], points[i]);
        }
    }

    // A filled outline, then its edges in the pen.
    void Shape(const QPolygonF &points)
    {
        if (!AdmitFill(points))
            return;
        if (brush_.style() != Qt::NoBrush) {
            painter_->setPen(Qt::NoPen);
            painter_->setBrush(brush_);
            painter_->drawPolygon(points);
        }
        Stroke(points, true);
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
                    const double width = std::max(1.0, double(LeI32(rec + 16)));
                    // A pen wider than the whole picture draws nothing a
                    // narrower one would not, at any cost.
                    if (style != U_PS_NULL && width * scale_ > side_)
                        return Refuse("a pen wider than the picture");
                    o.pen = style == U_PS_NULL ? QPen(Qt::NoPen) : QPen(Colour(rec + 24), width);
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
                if (Admit(2))
                    Stroke(QPolygonF{position_, to}, false);
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
                if (!Points(rec, n, 28, LeU32(rec + 24), small, points) || points.isEmpty() ||
                    !Admit(points.size()))
                    break;
                if (type == U_EMR_POLYGON || type == U_EMR_POLYGON16) {
                    Shape(points);
                } else if (type == U_EMR_POLYLINETO || type == U_EMR_POLYLINETO16) {
                    points.prepend(position_);
                    Stroke(points, false);
                    position_ = points.back();
                } else {
                    Stroke(points, false);
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
                if (!Points(rec, n, 32 + polys * 4, total, small, all) || !Admit(all.size()))
                    break;
                const bool filled = type == U_EMR_POLYPOLYGON || type == U_EMR_POLYPOLYGON16;
                std::vector<QPolygonF> parts;
                uint64_t start = 0;
                for (uint64_t i = 0; i < polys; ++i) {
                    const uint64_t count = LeU32(rec + 32 + i * 4);
                    if (count > total - start)
                        break;
                    parts.push_back(all.mid(int(start), int(count)));
                    start += count;
                }
                // The parts are filled as one (their overlaps cancel out), so
                // they are weighed as one outline.
                QPainterPath path;
                QPolygonF outline;
                for (const QPolygonF &part : parts) {
                    path.addPolygon(part), path.closeSubpath();
                    outline += part;
                }
                if (filled && brush_.style() != Qt::NoBrush && AdmitFill(outline)) {
                    painter_->setPen(Qt::NoPen);
                    painter_->setBrush(brush_);
                    painter_->drawPath(path);
                }
                for (const QPolygonF &part : parts)
                    Stroke(part, filled);
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
    double scale_ = 1;  // picture pixels per unit
    int side_ = 1;      // the picture's larger side in pixels
    std::string refused_; // why the picture is too costly to draw, once it is
    uint64_t points_ = 0;
    double fillCost_ = 0, strokeArea_ = 0;
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

TPictureResult DecodeMetafile(std::string_view bytes)
{
    return IsEnhancedMetafile(bytes) ? DecodeEmf(bytes) : DecodeWmf(bytes);
}

std::string ReadPictureFile(const std::string &fileName, std::string &bytes)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return "cannot be opened";
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return "cannot be read";
    if (size > (std::streamoff(256) << 20))
        return "file too large";
    bytes.assign(size_t(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size))
        return "cannot be read";
    return {};
}

TPictureResult DecodePicture(TPictureKind kind, std::string_view bytes)
{
    switch (kind) {
    case TPictureKind::Jpeg: return DecodeJpeg(bytes);
    case TPictureKind::Bitmap: return DecodeBitmap(bytes);
    case TPictureKind::Icon: return DecodeIcon(bytes);
    case TPictureKind::Metafile: return DecodeMetafile(bytes);
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

// ---------------------------------------------------------------------------
// The decoder process. It reads and decodes one file, and writes to its reply
// descriptor: "OPIC", a 32-bit status, its largest resident size in KiB, then
// for status 0 the width, height and width x height 32-bit pixels of the
// thumbnail, for 1 the length and bytes of the reason. All values
// little-endian.

namespace {

constexpr char kReplyMark[4] = {'O', 'P', 'I', 'C'};
constexpr uint32_t kMaxReplyError = 4096;
constexpr int kMaxThumbnailSide = 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

void PutU32(std::string &s, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        s += char((v >> (8 * k)) & 0xFF);
}

bool WriteAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The largest resident size of this process, or of the decoder `pid`, since
// its program started, in KiB; 0 when it cannot be read (the process has
// ended, or is still the program's copy that has yet to start the decoder).
long PeakResidentKiB(pid_t pid = 0)
{
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    // The kernel keeps 15 characters of a program's name.
    const std::string name = "Name:\t" + std::string(PictureDecoderName).substr(0, 15);
    bool decoder = pid == 0;
    while (std::getline(status, line)) {
        if (line.rfind("Name:", 0) == 0)
            decoder = decoder || line == name;
        else if (line.rfind("VmHWM:", 0) == 0 && decoder)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

std::string ReplyHead(uint32_t status)
{
    std::string reply(kReplyMark, 4);
    PutU32(reply, status);
    PutU32(reply, uint32_t(PeakResidentKiB()));
    return reply;
}

std::string ErrorReply(const std::string &why)
{
    std::string reply = ReplyHead(1);
    const std::string text = why.substr(0, kMaxReplyError);
    PutU32(reply, uint32_t(text.size()));
    return reply + text;
}

// What the decoder said, every length checked against what was asked for.
TPictureResult ParseReply(const std::string &reply, int width, int height, long &peakKiB)
{
    TPictureResult r;
    r.error = "the picture decoder gave no answer";
    const auto *d = reinterpret_cast<const unsigned char *>(reply.data());
    if (reply.size() < 16 || std::memcmp(d, kReplyMark, 4) != 0)
        return r;
    const uint32_t status = LeU32(d + 4);
    peakKiB = std::max(peakKiB, long(LeU32(d + 8)));
    if (status == 1) {
        const uint32_t length = LeU32(d + 12);
        if (length <= kMaxReplyError && reply.size() == 16 + size_t(length))
            r.error = length ? reply.substr(16) : "damaged picture";
        return r;
    }
    if (status != 0 || reply.size() < 20 || LeU32(d + 12) != uint32_t(width) || LeU32(d + 16) != uint32_t(height) ||
        reply.size() != 20 + size_t(width) * size_t(height) * 4)
        return r;
    QImage image(width, height, QImage::Format_RGB32);
    const unsigned char *p = d + 20;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, p += 4)
            line[x] = 0xFF000000u | (LeU32(p) & 0xFFFFFF);
    }
    r.image = image;
    r.error.clear();
    return r;
}

std::string DecoderPath()
{
    const std::string exe = GetModulePath(0);
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1) + PictureDecoderName;
}

// The decoder's environment: the program's own, in a sanitizer build with
// the sanitizer's own watch on resident memory in place of the address-space
// limit (its shadow memory reserves terabytes of addresses), and without its
// leak report at exit.
std::vector<std::string> DecoderEnvironment(const TPictureDecoderLimits &limits)
{
    std::vector<std::string> env;
    std::string asan;
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0)
            asan = *e + 13;
        else
            env.emplace_back(*e);
    }
    if (kAddressSanitizer) {
        const uint64_t mb = std::max<uint64_t>(64, limits.addressSpace >> 20);
        asan += (asan.empty() ? "" : ":") + std::string("detect_leaks=0:allocator_may_return_null=1") +
                ":hard_rss_limit_mb=" + std::to_string(mb);
    }
    if (!asan.empty())
        env.push_back("ASAN_OPTIONS=" + asan);
    return env;
}

struct TFd {
    int fd = -1;
    ~TFd() { Close(); }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

TPictureDecoderLimits &PictureDecoderLimits()
{
    static TPictureDecoderLimits limits;
    return limits;
}

TThumbnailResult LoadPictureThumbnail(TPictureKind kind, const std::string &fileName, int width, int height)
{
    TThumbnailResult result;
    if (width <= 0 || height <= 0 || width > kMaxThumbnailSide || height > kMaxThumbnailSide) {
        result.error = "no thumbnail of that size";
        return result;
    }
    const TPictureDecoderLimits limits = PictureDecoderLimits();
    const std::string decoder = DecoderPath();
    if (decoder.empty() || ::access(decoder.c_str(), X_OK) != 0) {
        result.error = std::string("the picture decoder ") + PictureDecoderName + " is missing";
        return result;
    }
    // Everything the child needs is made before the fork: between fork and
    // exec it makes system calls only.
    std::vector<std::string> args = {decoder, std::to_string(int(kind)), std::to_string(width),
                                     std::to_string(height), fileName};
    std::vector<std::string> env = DecoderEnvironment(limits);
    std::vector<char *> argv, envp;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    TFd readEnd{fds[0]}, writeEnd{fds[1]};
    TFd devNull{::open("/dev/null", O_RDWR | O_CLOEXEC)};
    if (devNull.fd < 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    const rlimit cpu{rlim_t(limits.cpuSeconds), rlim_t(limits.cpuSeconds) + 1};
    const rlimit space{rlim_t(limits.addressSpace), rlim_t(limits.addressSpace)};
    const rlimit noCore{0, 0};
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    if (pid == 0) {
        // Above the three standard descriptors first, so that no dup2 below
        // overwrites the other end.
        const int reply = ::fcntl(writeEnd.fd, F_DUPFD, 10);
        if (reply < 0 || ::dup2(devNull.fd, 0) < 0 || ::dup2(devNull.fd, 1) < 0 ||
            ::dup2(reply, PictureDecoderReplyFd) < 0)
            ::_exit(127);
        // Nothing else of the program's goes with it.
        ::close_range(PictureDecoderReplyFd + 1, ~0u, 0);
        ::setrlimit(RLIMIT_CPU, &cpu);
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (!kAddressSanitizer)
            ::setrlimit(RLIMIT_AS, &space);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    writeEnd.Close();
    devNull.Close();

    // Read the reply until the decoder closes it, within the wall time; a
    // reply longer than the largest possible one ends the decoder too.
    const size_t maxReply = 20 + size_t(width) * size_t(height) * 4;
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.wallMilliseconds);
    auto left = [&] {
        return int(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count()));
    };
    bool timedOut = false, overlong = false;
    for (;;) {
        // Its memory is looked at now and then: after its end it cannot be.
        result.decoderPeakKiB = std::max(result.decoderPeakKiB, PeakResidentKiB(pid));
        pollfd p{readEnd.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, std::min(left(), 50));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && left() > 0)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buf[65536];
        const ssize_t n = ::read(readEnd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (reply.size() + size_t(n) > maxReply) {
            overlong = true;
            break;
        }
        reply.append(buf, size_t(n));
    }
    readEnd.Close();
    // Then wait for its end, still within the wall time.
    int status = 0;
    pid_t waited = 0;
    while (!timedOut && !overlong) {
        waited = ::waitpid(pid, &status, WNOHANG);
        if (waited != 0 || left() == 0)
            break;
        ::usleep(2000);
    }
    if (waited == 0) {
        ::kill(pid, SIGKILL);
        while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        timedOut = timedOut || !overlong;
    }
    const bool exitedWell = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (timedOut || (waited == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)) {
        result.error = "the picture takes too long to decode";
        return result;
    }
    if (overlong) {
        result.error = "the picture decoder gave no answer";
        return result;
    }
    if (waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 127 && reply.empty()) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    if (!exitedWell && !(waited < 0 && errno == ECHILD)) {
        // Died (out of memory, say), whatever it wrote before.
        result.error = "damaged, or too large to decode";
        return result;
    }
    static_cast<TPictureResult &>(result) = ParseReply(reply, width, height, result.decoderPeakKiB);
    return result;
}

int RunPictureDecoder(TPictureKind kind, const std::string &fileName, int width, int height, int out)
{
    if (width <= 0 || height <= 0 || width > kMaxThumbnailSide || height > kMaxThumbnailSide)
        return 2;
    std::string bytes;
    const std::string unread = ReadPictureFile(fileName, bytes);
    if (!unread.empty())
        return WriteAll(out, ErrorReply(unread)) ? 0 : 1;
    // Only an enhanced metafile draws text, with Qt's fonts; the other readers
    // need no application object and start faster without one.
    std::unique_ptr<QGuiApplication> app;
    if (kind == TPictureKind::Metafile && IsEnhancedMetafile(bytes)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "orbalist-picture";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    const TPictureResult picture = DecodePicture(kind, bytes);
    bytes = std::string();
    if (picture.image.isNull())
        return WriteAll(out, ErrorReply(picture.error.empty() ? "damaged picture" : picture.error)) ? 0 : 1;
    const QImage thumbnail = StretchPicture(picture.image, width, height).convertToFormat(QImage::Format_RGB32);
    std::string reply = ReplyHead(0);
    reply.reserve(20 + size_t(width) * size_t(height) * 4);
    for (uint32_t v : {uint32_t(width), uint32_t(height)})
        PutU32(reply, v);
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(thumbnail.constScanLine(y));
        for (int x = 0; x < width; ++x)
            PutU32(reply, line[x] & 0xFFFFFF);
    }
    return WriteAll(out, reply) ? 0 : 1;
}
