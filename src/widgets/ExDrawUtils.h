#pragma once
// Drawing helpers of the interface components: transparent windowless
// controls, embossed (disabled) images, shortened captions, and whether the
// application is in the foreground.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QFontMetrics;
class QPainter;
class QPalette;
class QWidget;
class TGlyphList;

inline int RectWidth(const QRect &r)
{
    return r.right() + 1 - r.left();
}
inline int RectHeight(const QRect &r)
{
    return r.bottom() + 1 - r.top();
}

// Paints into `painter` (whose origin is the control's top-left corner) what
// lies behind the control: its parent's background and the siblings below it
// that overlap it. Nothing without a control or a parent.
void CopyParentImage(QWidget *control, QPainter &painter);
// True while `w` is painted as the background of a transparent control.
bool IsPaintingCopy(const QWidget *w);

// A one-bit mask of the image: true where a pixel is nearer the outline colour
// than its opposite (white, or black for a light outline), never at pixels
// of `transparent` when one is given.
QImage MonoMask(const QImage &image, QColor outline, QColor transparent = QColor());
// A new image of the same size showing `image` embossed: the back colour,
// the mask in the highlight colour one pixel right and down (withHighlight),
// then the mask in the shadow colour in place.
QImage CreateDisabledBitmapEx(const QImage &image, QColor outline, QColor back, QColor highlight, QColor shadow,
                              bool withHighlight, QColor transparent = QColor());
// The same on the button face in the button highlight and shadow colours of
// the application's palette, highlight on.
QImage CreateDisabledBitmap(const QImage &image, QColor outline, QColor transparent = QColor());
// The system colours the embossed images and the buttons are drawn in.
QColor ButtonFaceColour(const QPalette &palette);
QColor ButtonHighlightColour(const QPalette &palette);
QColor ButtonShadowColour(const QPalette &palette);
// Draws image `index` of the list embossed at (x, y); nothing for an index
// that is not in the list.
void ImageListDrawDisabled(const TGlyphList &list, QPainter &painter, int x, int y, int index, QColor highlight,
                           QColor shadow, bool withHighlight);
// The text, or its longest prefix followed by "..." that is not wider than
// `maxWidth` ("..." alone when none is).
QString ShortenText(const QString &text, const QFontMetrics &metrics, int maxWidth);
// True when one of the application's windows is the active window.
bool IsForegroundTask();
