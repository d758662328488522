#include "widgets/EXConst.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>

#include "widgets/EXCtrls.h"
#include "widgets/ExDrawUtils.h"
#include "widgets/LocaleDates.h"

TEST(ExComponents, CursorsAreRegisteredAtStart)
{
    InitExComponents();
    ASSERT_TRUE(HasScreenCursor(crExHand));
    ASSERT_TRUE(HasScreenCursor(crExDragHand));
    EXPECT_EQ(ScreenCursor(crExHand).pixmap().size(), QSize(16, 16));
    EXPECT_FALSE(ScreenCursor(crExDragHand).pixmap().isNull());
    EXPECT_EQ(ScreenCursor(crExHand).hotSpot(), QPoint(5, 0));
    EXPECT_EQ(ScreenCursor(12345).shape(), Qt::ArrowCursor);
    // A second start changes nothing.
    InitExComponents();
    EXPECT_TRUE(HasScreenCursor(crExHand));
}

TEST(ExComponents, EmbossedImages)
{
    // Black pixels (the outline colour) form the mask; white ones vanish.
    QImage img(4, 3, QImage::Format_RGB32);
    img.fill(Qt::white);
    img.setPixel(1, 1, qRgb(0, 0, 0));
    img.setPixel(2, 1, qRgb(60, 60, 60));
    const QImage mask = MonoMask(img, Qt::black);
    EXPECT_EQ(mask.pixelIndex(1, 1), 1);
    EXPECT_EQ(mask.pixelIndex(2, 1), 1);
    EXPECT_EQ(mask.pixelIndex(0, 0), 0);
    const QColor back(1, 2, 3), hi(250, 250, 250), shadow(100, 100, 100);
    const QImage out = CreateDisabledBitmapEx(img, Qt::black, back, hi, shadow, true)
                           .convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(out.size(), img.size());
    EXPECT_EQ(out.pixel(0, 0), back.rgb());
    EXPECT_EQ(out.pixel(1, 1), shadow.rgb());
    EXPECT_EQ(out.pixel(2, 1), shadow.rgb());
    EXPECT_EQ(out.pixel(3, 2), hi.rgb()); // highlight one pixel right and down
    EXPECT_EQ(out.pixel(2, 2), hi.rgb());
    const QImage plain = CreateDisabledBitmapEx(img, Qt::black, back, hi, shadow, false)
                             .convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(plain.pixel(3, 2), back.rgb());
    // The short form: the button face, highlight and shadow of the palette.
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Button, back);
    pal.setColor(QPalette::Light, hi);
    pal.setColor(QPalette::Dark, shadow);
    QApplication::setPalette(pal);
    const QImage standard = CreateDisabledBitmap(img, Qt::black).convertToFormat(QImage::Format_RGB32);
    QApplication::setPalette(saved);
    EXPECT_EQ(standard, out);
    // From a list: the image's opaque pixels, embossed at (x, y).
    TGlyphList list(2, 2);
    QImage dot(2, 2, QImage::Format_ARGB32);
    dot.fill(Qt::transparent);
    dot.setPixel(0, 0, qRgb(9, 9, 9));
    const int index = list.Add(dot);
    QImage canvas(5, 5, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        ImageListDrawDisabled(list, p, 1, 1, index, hi, shadow, true);
        ImageListDrawDisabled(list, p, 1, 1, 7, hi, shadow, true); // no such image
    }
    EXPECT_EQ(canvas.pixel(1, 1), shadow.rgb());
    EXPECT_EQ(canvas.pixel(2, 2), hi.rgb());
    EXPECT_EQ(canvas.pixel(3, 3), qRgb(255, 255, 255));
}

TEST(ExComponents, QtDatePatternsInTheRulesLetters)
{
    char sep = 0;
    EXPECT_EQ(ConvertQtDateFormat("d. M. yyyy", sep), "d/ m/ yyyy");
    EXPECT_EQ(sep, '.');
    EXPECT_EQ(ConvertQtDateFormat("M/d/yy", sep), "m/d/yy");
    EXPECT_EQ(sep, '/');
    EXPECT_EQ(ConvertQtDateFormat("yyyy-MM-dd", sep), "yyyy/mm/dd");
    EXPECT_EQ(sep, '-');
    EXPECT_EQ(ConvertQtDateFormat("d MMM yyyy", sep), "d mmm yyyy");
    EXPECT_EQ(sep, '/'); // no separator: the slash
    const DateLocale us = DateLocaleFromQLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(us.Fmt.ShortTimeFormat, "h:nn ampm");
    EXPECT_EQ(us.Fmt.ShortMonthNames[2], "Mar");
    EXPECT_EQ(us.Fmt.ShortDayNames[0], "Sun");
    EXPECT_FALSE(us.FarEast);
    EXPECT_TRUE(DateLocaleFromQLocale(QLocale(QLocale::Japanese, QLocale::Japan)).FarEast);
}
