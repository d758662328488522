// The enhanced metafile player: reads a metafile's records, every length checked, and draws the shapes, text
// and bitmaps a disc picture needs onto a QPainter, refusing a picture whose drawing would cost too much.
#include "app/discs/MainPictureFiles.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/discs/PictureFileBytes.h"

extern "C" {
#include <uemf.h>
#include <uemf_safe.h>
}

using picturefiles::LeI16;
using picturefiles::LeI32;
using picturefiles::LeU32;
using picturefiles::kMaxMetafileSide;

namespace {


// What drawing an enhanced metafile may cost: the points of all its shapes,
// the weight of its fills (edge crossings of a row times the edges crossing
// it: a few seconds at most) and the area its wide lines cover in pixels.
constexpr uint64_t kMaxMetafilePoints = 1u << 20;
constexpr double kMaxMetafileFillCost = 64e6;
constexpr double kMaxMetafileStrokeArea = 8e9;

// ---------------------------------------------------------------------------
// Enhanced metafile player

class TEmfPlayer {
public:
    TEmfPlayer(const unsigned char *data, size_t size, QSize fill) : data_(data), size_(size), fill_(fill) {}

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
        // Its own size, at most kMaxMetafileSide a side, or the size asked for,
        // each side stretched apart.
        double sx = std::min(1.0, double(kMaxMetafileSide) / double(std::max(bw, bh))), sy = sx;
        int w = std::max(1, int(double(bw) * sx)), h = std::max(1, int(double(bh) * sy));
        if (!fill_.isEmpty()) {
            w = std::min(fill_.width(), kMaxMetafileSide);
            h = std::min(fill_.height(), kMaxMetafileSide);
            sx = double(w) / double(bw);
            sy = double(h) / double(bh);
        }
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(sx, sy);
        p.translate(-double(bounds.left), -double(bounds.top));
        painter_ = &p;
        // What a unit costs is weighed on the axis that makes it larger.
        scale_ = std::max(sx, sy);
        side_ = std::max(w, h);
        pen_ = QPen(Qt::black, 0); // the stock pens are a pixel wide
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
                    const int32_t given = LeI32(rec + 16);
                    const double width = std::max(1.0, double(given));
                    // A pen wider than the whole picture draws nothing a
                    // narrower one would not, at any cost.
                    if (style != U_PS_NULL && width * scale_ > side_)
                        return Refuse("a pen wider than the picture");
                    // A pen of no width is a pixel wide at any size the picture is drawn at.
                    o.pen = style == U_PS_NULL ? QPen(Qt::NoPen)
                                               : QPen(Colour(rec + 24), given > 0 ? width : 0.0);
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
                    case U_WHITE_PEN: pen_ = QPen(Qt::white, 0); break;
                    case U_BLACK_PEN: pen_ = QPen(Qt::black, 0); break;
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
                // they are weighed as one outline: the points they take, in order.
                if (filled && brush_.style() != Qt::NoBrush && AdmitFill(all.first(qsizetype(start)))) {
                    QPainterPath path;
                    for (const QPolygonF &part : parts)
                        path.addPolygon(part), path.closeSubpath();
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
    QSize fill_;
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

} // namespace

TPictureResult DecodeEmf(std::string_view bytes, QSize fill)
{
    TEmfPlayer player(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), fill);
    return player.Play();
}
