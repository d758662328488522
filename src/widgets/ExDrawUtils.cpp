#include "widgets/ExDrawUtils.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include "widgets/EXCtrls.h"

namespace {

const char *const kPaintingCopy = "orbPaintingCopy";

void SetPaintingCopy(QWidget *w, bool on)
{
    w->setProperty(kPaintingCopy, on);
}

// Where the mask is set, the colour; elsewhere the destination stays.
void PaintMask(QPainter &painter, const QImage &mask, int x, int y, QColor colour)
{
    QImage layer(mask.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    const QRgb rgb = colour.rgba();
    for (int row = 0; row < mask.height(); ++row)
        for (int col = 0; col < mask.width(); ++col)
            if (mask.pixelIndex(col, row) == 1)
                layer.setPixel(col, row, rgb);
    painter.drawImage(x, y, layer);
}

} // namespace

bool IsPaintingCopy(const QWidget *w)
{
    return w && w->property(kPaintingCopy).toBool();
}

void CopyParentImage(QWidget *control, QPainter &painter)
{
    if (!control || !control->parentWidget())
        return;
    QWidget *parent = control->parentWidget();
    if (IsPaintingCopy(parent))
        return; // already being copied: no recursion
    const QRect bounds = control->geometry();
    SetPaintingCopy(parent, true);
    // The top-left corner of a rendered region lands at the target offset.
    parent->render(&painter, QPoint(0, 0), QRegion(bounds), QWidget::DrawWindowBackground);
    for (QObject *o : parent->children()) {
        auto *sibling = qobject_cast<QWidget *>(o);
        if (!sibling)
            continue;
        if (sibling == control)
            break;
        if (!sibling->isVisible() || sibling->isWindow() || !sibling->geometry().intersects(bounds))
            continue;
        SetPaintingCopy(sibling, true);
        const QRect part = sibling->geometry().intersected(bounds).translated(-sibling->pos());
        sibling->render(&painter, sibling->pos() + part.topLeft() - bounds.topLeft(), QRegion(part),
                        QWidget::DrawWindowBackground | QWidget::DrawChildren);
        SetPaintingCopy(sibling, false);
    }
    SetPaintingCopy(parent, false);
}

QImage MonoMask(const QImage &image, QColor outline, QColor transparent)
{
    QImage mask(image.size(), QImage::Format_Mono);
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    mask.fill(0);
    const QImage src = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb o = outline.rgb();
    const bool lightOutline = qGray(o) >= 128;
    const QRgb opposite = lightOutline ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    auto dist = [](QRgb a, QRgb b) {
        const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
        return dr * dr + dg * dg + db * db;
    };
    for (int y = 0; y < src.height(); ++y) {
        for (int x = 0; x < src.width(); ++x) {
            const QRgb p = src.pixel(x, y);
            if (qAlpha(p) < 128)
                continue;
            if (transparent.isValid() && (p & 0xFFFFFF) == (transparent.rgb() & 0xFFFFFF))
                continue;
            if (dist(p, o) < dist(p, opposite))
                mask.setPixel(x, y, 1);
        }
    }
    return mask;
}

QImage CreateDisabledBitmapEx(const QImage &image, QColor outline, QColor back, QColor highlight, QColor shadow,
                              bool withHighlight, QColor transparent)
{
    const QImage mask = MonoMask(image, outline, transparent);
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(back);
    if (out.isNull())
        return out;
    QPainter p(&out);
    if (withHighlight)
        PaintMask(p, mask, 1, 1, highlight);
    PaintMask(p, mask, 0, 0, shadow);
    return out;
}

QImage CreateDisabledBitmap(const QImage &image, QColor outline, QColor transparent)
{
    const QPalette pal = QApplication::palette();
    return CreateDisabledBitmapEx(image, outline, ButtonFaceColour(pal), ButtonHighlightColour(pal),
                                  ButtonShadowColour(pal), true, transparent);
}

QColor ButtonFaceColour(const QPalette &palette)
{
    return palette.color(QPalette::Button);
}

QColor ButtonHighlightColour(const QPalette &palette)
{
    return palette.color(QPalette::Light);
}

QColor ButtonShadowColour(const QPalette &palette)
{
    return palette.color(QPalette::Dark);
}

void ImageListDrawDisabled(const TGlyphList &list, QPainter &painter, int x, int y, int index, QColor highlight,
                           QColor shadow, bool withHighlight)
{
    if (index < 0 || index >= list.Capacity())
        return;
    const QImage img = list.Image(index);
    if (img.isNull())
        return;
    // The image's opaque pixels form the mask.
    QImage mask(img.size(), QImage::Format_Mono);
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    mask.fill(0);
    const QImage src = img.convertToFormat(QImage::Format_ARGB32);
    for (int r = 0; r < src.height(); ++r)
        for (int c = 0; c < src.width(); ++c)
            if (qAlpha(src.pixel(c, r)) >= 128)
                mask.setPixel(c, r, 1);
    const QBrush saved = painter.brush();
    if (withHighlight)
        PaintMask(painter, mask, x + 1, y + 1, highlight);
    PaintMask(painter, mask, x, y, shadow);
    painter.setBrush(saved);
}

QString ShortenText(const QString &text, const QFontMetrics &metrics, int maxWidth)
{
    if (metrics.horizontalAdvance(text) <= maxWidth)
        return text;
    const QString dots = QStringLiteral("...");
    for (qsizetype cut = 2; cut <= text.size(); ++cut) {
        // Never split a surrogate pair.
        qsizetype keep = text.size() - cut;
        if (keep > 0 && text[keep].isLowSurrogate())
            continue;
        const QString candidate = text.left(keep) + dots;
        if (metrics.horizontalAdvance(candidate) <= maxWidth)
            return candidate;
    }
    return dots;
}

bool IsForegroundTask()
{
    return QApplication::activeWindow() != nullptr;
}
