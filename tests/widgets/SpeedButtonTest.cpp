#include "widgets/EXCtrls.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include "widgets/ExDrawUtils.h"

namespace {

// A strip of `count` images of `size` x `size`, image k filled with colour k
// around a one-pixel magenta (transparent) border.
QImage Strip(int count, int size = 14)
{
    static const QRgb colours[] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200), qRgb(200, 200, 0),
                                   qRgb(0, 200, 200), qRgb(90, 90, 90)};
    QImage img(count * size, size, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    for (int k = 0; k < count; ++k)
        for (int y = 1; y < size - 1; ++y)
            for (int x = 1; x < size - 1; ++x)
                img.setPixel(k * size + x, y, colours[k % 6]);
    return img;
}

QImage Render(QWidget &w)
{
    QImage img(w.size(), QImage::Format_RGB32);
    w.render(&img);
    return img;
}

void Press(QWidget *w, QPoint p)
{
    QTest::mousePress(w, Qt::LeftButton, {}, p);
}

void Release(QWidget *w, QPoint p)
{
    QTest::mouseRelease(w, Qt::LeftButton, {}, p);
}

void Click(QWidget *w, QPoint p = QPoint(3, 3))
{
    Press(w, p);
    Release(w, p);
}

// A move with the left button held, as Qt delivers it off the widget.
void DragTo(QWidget *w, QPointF p)
{
    QMouseEvent move(QEvent::MouseMove, p, p, Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(w, &move);
}

} // namespace

TEST(SpeedButton, StatesOfAPlainButton)
{
    QWidget parent;
    TExSpeedButton b(&parent);
    EXPECT_EQ(b.size(), QSize(25, 25));
    int clicks = 0;
    b.OnClick = [&](TExSpeedButton *) { ++clicks; };
    Press(&b, QPoint(5, 5));
    EXPECT_EQ(b.State(), ebsDown);
    QTest::mouseMove(&b, QPoint(40, 5));
    DragTo(&b, QPointF(40, 5));
    EXPECT_EQ(b.State(), ebsUp);
    // A release outside does not click.
    Release(&b, QPoint(40, 5));
    EXPECT_EQ(clicks, 0);
    Press(&b, QPoint(5, 5));
    Release(&b, QPoint(5, 25)); // the bottom edge counts as inside
    EXPECT_EQ(clicks, 1);
    Press(&b, QPoint(5, 5));
    Release(&b, QPoint(25, 5)); // the right edge does not
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(b.State(), ebsUp);
    // Without a group Down stays False.
    b.SetDown(true);
    EXPECT_FALSE(b.Down());
    b.setEnabled(false);
    Click(&b);
    EXPECT_EQ(clicks, 1);
}

TEST(SpeedButton, GroupedButtonsExcludeEachOther)
{
    QWidget parent;
    TExSpeedButton a(&parent), b(&parent), other(&parent);
    for (TExSpeedButton *x : {&a, &b})
        x->SetGroupIndex(1);
    other.SetGroupIndex(2);
    other.SetDown(true);
    a.SetDown(true);
    EXPECT_TRUE(a.Down());
    EXPECT_EQ(a.State(), ebsExclusive);
    Click(&b);
    EXPECT_TRUE(b.Down());
    EXPECT_FALSE(a.Down());
    EXPECT_TRUE(other.Down()); // another group is untouched
    // Without AllowAllUp a click on the down button leaves it down.
    Click(&b);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(b.State(), ebsExclusive);
    b.SetDown(false);
    EXPECT_TRUE(b.Down());
    // AllowAllUp is shared by the group.
    a.SetAllowAllUp(true);
    EXPECT_TRUE(b.AllowAllUp());
    Click(&b);
    EXPECT_FALSE(b.Down());
    // A double click on a down grouped button fires OnDblClick.
    int dbl = 0;
    a.OnDblClick = [&](TExSpeedButton *) { ++dbl; };
    a.SetDown(true);
    QTest::mouseDClick(&a, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(dbl, 1);
}

TEST(SpeedButton, ClickSetsTheDialogsResult)
{
    QDialog dialog;
    TExSpeedButton b(&dialog);
    b.ModalResult = QDialog::Accepted;
    dialog.show();
    b.Click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(SpeedButton, AutoRepeatWhileHeld)
{
    QWidget parent;
    TExSpeedButton b(&parent);
    b.AllowTimer = true;
    b.InitPause = 30;
    b.RepeatInterval = 10;
    int clicks = 0;
    b.OnClick = [&](TExSpeedButton *) { ++clicks; };
    Press(&b, QPoint(5, 5));
    EXPECT_TRUE(b.TimerActive());
    // Clicks come while the button is held; no count is assumed of the clock.
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicks >= 3; }, 5000));
    // Off the button the clicks pause but the timer runs.
    DragTo(&b, QPointF(60, 5));
    const int paused = clicks;
    QTest::qWait(50);
    EXPECT_EQ(clicks, paused);
    EXPECT_TRUE(b.TimerActive());
    Release(&b, QPoint(60, 5));
    EXPECT_FALSE(b.TimerActive());
    EXPECT_EQ(clicks, paused);
}

TEST(SpeedButton, DropDownMenuOpensOnPress)
{
    QWidget parent;
    parent.resize(100, 100);
    TExSpeedButton b(&parent);
    QMenu menu;
    menu.addAction("One");
    b.SetDropDownMenu(&menu);
    parent.show();
    int clicks = 0;
    b.OnClick = [&](TExSpeedButton *) { ++clicks; };
    bool shown = false;
    QTimer::singleShot(0, &menu, [&] {
        shown = menu.isVisible();
        menu.close();
    });
    Press(&b, QPoint(5, 5));
    EXPECT_TRUE(shown);
    EXPECT_EQ(b.State(), ebsUp); // finished as a release
    EXPECT_EQ(clicks, 0);
}

TEST(SpeedButton, DropDownMenuOpensAtTheCornerOfItsAlignment)
{
    QWidget parent;
    parent.setGeometry(300, 200, 120, 100);
    TExSpeedButton b(&parent);
    b.setGeometry(30, 20, 40, 25);
    TExPopupMenu aligned;
    QMenu plain; // no alignment of its own: left
    for (QMenu *m : {static_cast<QMenu *>(&aligned), &plain})
        m->addActions({new QAction("First item", m), new QAction("Second, longer item", m)});
    parent.show();
    const int w = b.width(), h = b.height();
    // The corner (in the button) where the menu's left edge, right edge or middle lies.
    const struct {
        QMenu *menu;
        TDropDownMenuPos position;
        TPopupAlignment alignment;
        QPoint corner;
    } cases[] = {{&aligned, dmpBottom, paLeft, {-1, h}},     {&aligned, dmpBottom, paRight, {w + 1, h}},
                 {&aligned, dmpBottom, paCenter, {w / 2, h}}, {&aligned, dmpRight, paLeft, {w, -1}},
                 {&aligned, dmpRight, paRight, {-1, -1}},     {&aligned, dmpRight, paCenter, {w / 2, h}},
                 {&plain, dmpBottom, paLeft, {-1, h}}};
    for (const auto &c : cases) {
        b.MenuPosition = c.position;
        aligned.Alignment = c.alignment;
        b.SetDropDownMenu(c.menu);
        QRect shown;
        QTimer::singleShot(0, c.menu, [&] {
            shown = c.menu->geometry();
            c.menu->close();
        });
        Press(&b, QPoint(5, 5));
        ASSERT_FALSE(shown.isNull());
        const int anchor = c.alignment == paLeft    ? shown.left()
                           : c.alignment == paRight ? shown.left() + shown.width()
                                                    : shown.left() + shown.width() / 2;
        EXPECT_EQ(QPoint(anchor, shown.top()), b.mapToGlobal(c.corner)) << c.position << "," << c.alignment;
    }
}

TEST(SpeedButton, ActionLink)
{
    QWidget parent;
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    {
        QPainter p(&picture);
        p.fillRect(4, 4, 8, 8, QColor(0, 0, 200));
    }
    QAction action(QIcon(picture), "&Go");
    action.setCheckable(true);
    TExSpeedButton b(&parent);
    b.SetGroupIndex(1);
    b.SetAllowAllUp(true);
    b.ButtonGlyph().SetTransparentColor(Qt::white);
    b.SetAction(&action);
    EXPECT_EQ(b.Caption(), "&Go");
    // The icon on magenta, magenta drawn as the face.
    ASSERT_EQ(b.Glyph().size(), QSize(16, 16));
    EXPECT_EQ(b.Glyph().pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(b.ButtonGlyph().TransparentColor(), QColor(255, 0, 255));
    b.SetCaption(QString());
    const QImage img = Render(b);
    EXPECT_EQ(img.pixel(12, 12), qRgb(0, 0, 200));
    EXPECT_EQ(img.pixel(6, 6), b.palette().color(QPalette::Button).rgb());
    // Down follows Checked, both ways.
    action.setChecked(true);
    EXPECT_TRUE(b.Down());
    action.setChecked(false);
    EXPECT_FALSE(b.Down());
    // A click triggers the action; Down and Checked stay together.
    int triggered = 0;
    QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
    Click(&b);
    EXPECT_EQ(triggered, 1);
    EXPECT_TRUE(b.Down());
    EXPECT_TRUE(action.isChecked());
    action.setEnabled(false);
    EXPECT_FALSE(b.isEnabled());
    // A button that is down when linked stays down; its own glyph stays.
    TExSpeedButton own(&parent);
    own.SetGroupIndex(2);
    own.SetAllowAllUp(true);
    own.SetDown(true);
    own.SetGlyph(Strip(1));
    QAction unchecked("x");
    unchecked.setIcon(QIcon(picture));
    own.SetAction(&unchecked);
    EXPECT_TRUE(own.Down());
    EXPECT_EQ(own.Glyph(), Strip(1));
    // An OnClick of its own stands in for the action.
    int own_clicks = 0, own_triggered = 0;
    own.OnClick = [&](TExSpeedButton *) { ++own_clicks; };
    QObject::connect(&unchecked, &QAction::triggered, [&] { ++own_triggered; });
    own.Click();
    EXPECT_EQ(own_clicks, 1);
    EXPECT_EQ(own_triggered, 0);
}

TEST(GlyphList, SlotsAreReusedAndBounded)
{
    TGlyphList list(4, 4);
    QImage img(4, 4, QImage::Format_ARGB32);
    img.fill(Qt::red);
    for (int slot : {0, 1, 2})
        EXPECT_EQ(list.Add(img), slot);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Add(img), 1);
    list.Delete(-1);
    list.Delete(99);
    list.Delete(1);
    list.Delete(1); // twice changes nothing
    EXPECT_EQ(list.Count(), 2);
    for (int gone : {1, -5, 3})
        EXPECT_TRUE(list.Image(gone).isNull()) << gone;
    EXPECT_FALSE(list.Image(2).isNull());
}

TEST(GlyphList, CacheIsSharedAndEmptiesItself)
{
    {
        TExButtonGlyph a, b;
        a.SetGlyph(Strip(1));
        b.SetGlyph(Strip(2));
        ASSERT_NE(GlyphCache(), nullptr);
        const int up = a.StateIndex(ebsUp);
        b.StateIndex(ebsUp);
        EXPECT_GE(up, 0);
        EXPECT_EQ(a.List(), b.List()); // same 14 x 14 size: one list
        EXPECT_EQ(a.List()->Count(), 2);
        TExButtonGlyph c;
        c.SetGlyph(Strip(1, 10));
        c.StateIndex(ebsUp);
        EXPECT_NE(c.List(), a.List());
        EXPECT_EQ(GlyphCache()->ListCount(), 2);
        c.SetGlyph(QImage()); // its list empties and leaves
        EXPECT_EQ(GlyphCache()->ListCount(), 1);
        // The down and exclusive images of a one-image strip share the up slot.
        EXPECT_EQ(a.StateIndex(ebsDown), up);
        EXPECT_EQ(a.StateIndex(ebsExclusive), up);
    }
    EXPECT_EQ(GlyphCache(), nullptr);
}

TEST(Glyph, NumberOfImagesFromTheShape)
{
    TExButtonGlyph g;
    g.SetGlyph(Strip(2));
    EXPECT_EQ(g.NumGlyphs(), 2);
    g.SetGlyph(Strip(6)); // more than five: one image
    EXPECT_EQ(g.NumGlyphs(), 1);
    g.SetNumGlyphs(0);
    EXPECT_EQ(g.NumGlyphs(), 1);
    // A width that is no multiple of the count draws whole images only.
    QImage odd(30, 12, QImage::Format_RGB32);
    odd.fill(Qt::blue);
    g.SetGlyph(odd);
    g.SetNumGlyphs(4);
    EXPECT_EQ(g.ImageSize(), QSize(7, 12));
    EXPECT_GE(g.StateIndex(ebsUp), 0);
    EXPECT_GE(g.StateIndex(ebsExclusive), 0);
    // A strip narrower than its count draws nothing and divides by nothing.
    QImage thin(3, 12, QImage::Format_RGB32);
    thin.fill(Qt::blue);
    g.SetGlyph(thin);
    g.SetNumGlyphs(5);
    EXPECT_EQ(g.ImageSize(), QSize(0, 0));
    EXPECT_EQ(g.StateIndex(ebsUp), -1);
    EXPECT_EQ(g.StateIndex(static_cast<TExButtonState>(9)), -1);
    QImage canvas(30, 30, QImage::Format_RGB32);
    QPainter p(&canvas);
    g.Draw(p, QRect(0, 0, 30, 30), QPoint(), "x", blGlyphLeft, -1, 1, ebsUp, true, false, Qt::AlignCenter, true);
}

TEST(Glyph, StateImagesPixelByPixel)
{
    TExButtonGlyph g;
    g.SetGlyph(Strip(5));
    ASSERT_EQ(g.NumGlyphs(), 5);
    const QRgb expect[5] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200), qRgb(200, 200, 0),
                            qRgb(0, 200, 200)};
    for (int s = 0; s < 5; ++s) {
        const int index = g.StateIndex(static_cast<TExButtonState>(s));
        const QImage got = g.List()->Image(index).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(got.pixel(5, 5), 0xFF000000 | expect[s]) << s;
        EXPECT_EQ(qAlpha(got.pixel(0, 0)), 0) << s; // magenta is transparent
    }
    // One image: the inactive image is grey by the weights 77, 150, 29.
    TExButtonGlyph one;
    one.SetGlyph(Strip(1));
    const int idx = one.StateIndex(ebsInactive);
    const QImage grey = one.List()->Image(idx).convertToFormat(QImage::Format_ARGB32);
    const int level = (77 * 200) / 256;
    EXPECT_EQ(grey.pixel(5, 5), qRgb(level, level, level));
    EXPECT_EQ(qAlpha(grey.pixel(0, 0)), 0);
    // The disabled image is the embossed one: shadow inside, highlight off by one.
    const QImage disabled = one.List()->Image(one.StateIndex(ebsDisabled)).convertToFormat(QImage::Format_ARGB32);
    const QPalette pal = QApplication::palette();
    const QImage expected = CreateDisabledBitmapEx(Strip(1), Qt::black, pal.color(QPalette::Button),
                                                   pal.color(QPalette::Light), pal.color(QPalette::Dark), true,
                                                   QColor(255, 0, 255))
                                .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 14; ++x) {
            const QRgb want = expected.pixel(x, y);
            if ((want & 0xFFFFFF) == (pal.color(QPalette::Button).rgb() & 0xFFFFFF))
                EXPECT_EQ(qAlpha(disabled.pixel(x, y)), 0) << x << "," << y;
            else
                EXPECT_EQ(disabled.pixel(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(expected.pixel(5, 5), pal.color(QPalette::Dark).rgb());
}

TEST(SpeedButton, PaintsFrameGlyphAndDisabledLook)
{
    QWidget parent;
    TExSpeedButton b(&parent);
    b.SetGlyph(Strip(1));
    const QPalette pal = b.palette();
    QImage up = Render(b);
    // The raised frame of the newer look: highlight at the top left, the
    // window frame at the bottom right, and the glyph in the middle.
    EXPECT_EQ(up.pixel(0, 0), pal.color(QPalette::Light).rgb());
    EXPECT_EQ(up.pixel(24, 24), pal.color(QPalette::Shadow).rgb());
    EXPECT_EQ(up.pixel(12, 12), qRgb(200, 0, 0));
    // Pressed: the content moves one pixel right and down.
    Press(&b, QPoint(5, 5));
    QImage down = Render(b);
    EXPECT_EQ(down.pixel(0, 0), pal.color(QPalette::Shadow).rgb());
    Release(&b, QPoint(50, 50));
    // A one-image glyph shows the embossed image when disabled.
    b.setEnabled(false);
    QImage off = Render(b);
    EXPECT_EQ(off.pixel(12, 12), pal.color(QPalette::Dark).rgb());
    // A flat button without the mouse shows no frame and a grey glyph.
    b.setEnabled(true);
    b.SetFlat(true);
    QImage flat = Render(b);
    EXPECT_EQ(flat.pixel(0, 0), pal.color(QPalette::Button).rgb());
    const int level = (77 * 200) / 256;
    EXPECT_EQ(flat.pixel(12, 12), qRgb(level, level, level));
}

TEST(DrawUtils, ShortenTextAndEmptyChecks)
{
    const QFontMetrics fm(QApplication::font());
    EXPECT_EQ(ShortenText("abc", fm, 1000), "abc");
    const QString longText = "A rather long caption for a button";
    const int limit = fm.horizontalAdvance("A rather...") ;
    const QString cut = ShortenText(longText, fm, limit);
    EXPECT_TRUE(cut.endsWith("..."));
    EXPECT_LE(fm.horizontalAdvance(cut), limit);
    EXPECT_EQ(ShortenText(longText, fm, 0), "...");
    EXPECT_EQ(RectWidth(QRect(QPoint(2, 3), QPoint(11, 8))), 10);
    EXPECT_EQ(RectHeight(QRect(QPoint(2, 3), QPoint(11, 8))), 6);
}

TEST(DrawUtils, TransparentButtonShowsWhatLiesBehind)
{
    QWidget parent;
    parent.resize(60, 60);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(10, 120, 30));
    parent.setPalette(pal);
    parent.setAutoFillBackground(true);
    // A sibling below the button covers its right half.
    QWidget below(&parent);
    below.setGeometry(22, 0, 40, 60);
    QPalette bp = below.palette();
    bp.setColor(QPalette::Window, QColor(200, 10, 10));
    below.setPalette(bp);
    below.setAutoFillBackground(true);
    TExSpeedButton b(&parent);
    b.move(10, 10);
    b.SetTransparent(true);
    b.SetFlat(true);
    parent.show();
    QImage img(b.size(), QImage::Format_RGB32);
    img.fill(Qt::black);
    {
        QPainter p(&img);
        CopyParentImage(&b, p);
    }
    EXPECT_EQ(img.pixel(5, 5), qRgb(10, 120, 30));
    EXPECT_EQ(img.pixel(15, 5), qRgb(200, 10, 10));
    EXPECT_EQ(img.pixel(11, 20), qRgb(10, 120, 30));
    // Nothing happens without a parent.
    TExSpeedButton lone;
    QImage none(4, 4, QImage::Format_RGB32);
    none.fill(Qt::black);
    QPainter p(&none);
    CopyParentImage(&lone, p);
    CopyParentImage(nullptr, p);
    EXPECT_EQ(none.pixel(1, 1), qRgb(0, 0, 0));
}

TEST(SpeedButton, DropDownMarkAndShortenedCaption)
{
    QWidget parent;
    TExSpeedButton b(&parent);
    QMenu menu;
    b.SetDropDownMenu(&menu);
    const QRgb ink = b.palette().color(QPalette::ButtonText).rgb();
    QImage img = Render(b);
    // Rows 7, 5, 3 and 1 pixels wide, centred in the client area.
    for (int y = 11; y <= 14; ++y) {
        const int half = 14 - y; // 3, 2, 1, 0 on each side of x 12
        for (int x = 8; x <= 16; ++x)
            EXPECT_EQ(img.pixel(x, y) == ink, std::abs(x - 12) <= half) << x << "," << y;
    }
    b.SetMarkDropDown(false);
    img = Render(b);
    EXPECT_NE(img.pixel(12, 14), ink);
    // A caption too wide for the button is shortened with "...", never spilling
    // over the frame.
    b.SetDropDownMenu(nullptr);
    b.resize(40, 25);
    b.SetCaption("A very long caption indeed");
    img = Render(b);
    for (int y = 2; y < 23; ++y)
        EXPECT_NE(img.pixel(38, y), ink) << y;
}
