// Themed painting: each handler's control rendered under the offscreen
// platform, compared with the same control drawn by the style directly, with
// the manager on and off.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOption>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>
#include <map>
#include <set>

#include "theme/ThemeMgr.h"
#include "theme/ThemeTestSupport.h"

using namespace themetest;

namespace {

QIcon SolidIcon(const QColor &c)
{
    QPixmap p(16, 16);
    p.fill(c);
    return QIcon(p);
}

template <class W> W *Put(W *w, const QRect &geometry)
{
    w->setGeometry(geometry);
    return w;
}

struct Gallery {
    QWidget form;
    QPushButton *bitBtn = Put(new QPushButton(QStringLiteral("Go"), &form), {10, 10, 90, 30});
    QPushButton *plain = Put(new QPushButton(QStringLiteral("Plain"), &form), {110, 10, 90, 30});
    QCheckBox *check = Put(new QCheckBox(QStringLiteral("Check"), &form), {210, 10, 90, 24});
    QToolButton *flat = Put(new QToolButton(&form), {10, 50, 30, 30});
    QToolButton *raised = Put(new QToolButton(&form), {50, 50, 60, 30});
    QGroupBox *group = Put(new QGroupBox(QStringLiteral("Group"), &form), {10, 90, 150, 80});
    QFrame *panel = Put(new QFrame(&form), {170, 90, 100, 80});
    QFrame *winPanel = Put(new QFrame(&form), {280, 90, 100, 80});
    QStatusBar *status = Put(new QStatusBar(&form), {10, 180, 370, 22});
    QSlider *slider = Put(new QSlider(Qt::Horizontal, &form), {10, 210, 200, 30});
    QListWidget *checkList = Put(new QListWidget(&form), {10, 250, 180, 80});
    QTreeWidget *tree = Put(new QTreeWidget(&form), {200, 250, 180, 80});
    QTabWidget *tabs = Put(new QTabWidget(&form), {10, 340, 370, 100});
    QWidget *page = new QWidget;

    Gallery()
    {
        form.resize(460, 460);
        bitBtn->setIcon(SolidIcon(Qt::darkBlue));
        flat->setAutoRaise(true);
        flat->setIcon(SolidIcon(Qt::darkGreen));
        flat->setIconSize(QSize(16, 16));
        raised->setText(QStringLiteral("Tool"));
        panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        winPanel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        status->setSizeGripEnabled(false);
        slider->setTickPosition(QSlider::TicksBelow);
        for (const char *text : {"One", "Two"}) {
            auto *item = new QListWidgetItem(QString::fromLatin1(text), checkList);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(text[0] == 'O' ? Qt::Checked : Qt::Unchecked);
        }
        tree->setHeaderHidden(true);
        new QTreeWidgetItem(tree, QStringList{QStringLiteral("Node")});
        tabs->addTab(page, QStringLiteral("Page"));
        form.show();
        // The focus away from the buttons: a focused glyph button is drawn as the default one.
        tree->setFocus();
        QCoreApplication::processEvents();
    }
    std::vector<QWidget *> Controls() const
    {
        return {bitBtn, plain, check, flat, raised, group, panel, winPanel, status, slider, checkList, tree, tabs};
    }
    std::map<QWidget *, QImage> Shots()
    {
        std::map<QWidget *, QImage> shots;
        for (QWidget *w : Controls())
            shots[w] = Shot(&form, w);
        return shots;
    }
    // The form's own background where `control` sits (the control hidden),
    // with `draw` painting over it as the style would, given the options of
    // an enabled control.
    template <class Option> QImage Expected(QWidget *control, const std::function<void(QPainter &, Option &)> &draw)
    {
        control->hide();
        QImage img = Shot(&form, control);
        control->show();
        QPainter p(&img);
        Option opt;
        opt.initFrom(control);
        opt.state = QStyle::State_Enabled | (opt.state & QStyle::State_Active);
        draw(p, opt);
        return img;
    }
};

class ThemedPaint : public CleanThemeTest {};

} // namespace

TEST_F(ThemedPaint, WithoutThemesEveryControlPaintsAsBefore)
{
    Gallery g;
    std::map<QWidget *, QImage> before = g.Shots();
    TThemeManager manager;
    manager.CollectForms(nullptr);
    manager.SetOptions(DefaultThemeOptions & ~Bit(toAllowControls));
    ASSERT_FALSE(manager.ThemingActive());
    for (QWidget *w : g.Controls())
        EXPECT_EQ(DiffShare(Shot(&g.form, w), before[w], 0), 0.0) << w->metaObject()->className();
    manager.SetOptions(DefaultThemeOptions);
    EXPECT_TRUE(manager.ThemingActive());
}

TEST_F(ThemedPaint, ThemedControlsLookAsTheStyleDrawsThem)
{
    Gallery g;
    std::map<QWidget *, QImage> before = g.Shots();
    TThemeManager manager;
    manager.CollectForms(nullptr);
    std::set<QWidget *> painted;
    manager.OnControlMessage = [&](TThemeManager *, QWidget *control, QEvent *e, bool &) {
        if (e->type() == QEvent::Paint)
            painted.insert(control);
    };
    for (QWidget *w : g.Controls())
        EXPECT_LT(DiffShare(Shot(&g.form, w), before[w]), 0.12) << w->metaObject()->className();
    for (QWidget *w : std::initializer_list<QWidget *>{g.bitBtn, g.flat, g.raised, g.group, g.panel, g.winPanel,
                                                        g.status, g.tree, g.page})
        EXPECT_TRUE(painted.count(w)) << w->metaObject()->className();
    // Controls destroyed while collected leave the painting of the rest intact.
    painted.clear();
    for (QWidget *w : g.Controls())
        delete w;
    EXPECT_EQ(DiffShare(g.form.grab().toImage(), g.form.grab().toImage(), 0), 0.0);
    EXPECT_EQ(painted, (std::set<QWidget *>{&g.form}));
}

TEST_F(ThemedPaint, GroupBoxStatusBarFlatSpeedButtonAndBitButtonAsTheStyleDrawsThem)
{
    Gallery g;
    QStyle *style = QApplication::style();
    const QImage group = g.Expected<QStyleOptionFrame>(g.group, [&](QPainter &p, QStyleOptionFrame &frame) {
        const QSize text = g.group->fontMetrics().size(Qt::TextShowMnemonic, g.group->title());
        const QRect caption(8, 0, text.width(), text.height());
        frame.rect = QRect(0, text.height() / 2, g.group->width(), g.group->height() - text.height() / 2);
        frame.lineWidth = 1;
        p.setClipRegion(QRegion(g.group->rect()).subtracted(QRegion(caption)));
        style->drawPrimitive(QStyle::PE_FrameGroupBox, &frame, &p, g.group);
        p.setClipping(false);
        p.setFont(g.group->font());
        style->drawItemText(&p, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                            g.group->palette(), true, g.group->title(), QPalette::WindowText);
    });
    const QImage status = g.Expected<QStyleOption>(g.status, [&](QPainter &p, QStyleOption &opt) {
        style->drawPrimitive(QStyle::PE_PanelStatusBar, &opt, &p, g.status);
    });
    // The flat button under the mouse: hot.
    g.flat->setAttribute(Qt::WA_UnderMouse, true);
    const QImage flat = g.Expected<QStyleOptionToolButton>(g.flat, [&](QPainter &p, QStyleOptionToolButton &opt) {
        opt.state |= QStyle::State_AutoRaise | QStyle::State_MouseOver | QStyle::State_Raised;
        opt.subControls = QStyle::SC_ToolButton;
        opt.icon = g.flat->icon();
        opt.iconSize = g.flat->iconSize();
        opt.toolButtonStyle = Qt::ToolButtonIconOnly;
        style->drawComplexControl(QStyle::CC_ToolButton, &opt, &p, g.flat);
    });
    const QImage bit = g.Expected<QStyleOptionButton>(g.bitBtn, [&](QPainter &p, QStyleOptionButton &opt) {
        opt.state |= QStyle::State_Raised;
        opt.text = g.bitBtn->text();
        opt.icon = g.bitBtn->icon();
        opt.iconSize = g.bitBtn->iconSize();
        style->drawControl(QStyle::CE_PushButton, &opt, &p, g.bitBtn);
    });
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_LT(DiffShare(Shot(&g.form, g.group), group, 24), 0.01);
    EXPECT_LT(DiffShare(Shot(&g.form, g.status), status, 24), 0.01);
    EXPECT_LT(DiffShare(Shot(&g.form, g.flat), flat), 0.08);
    EXPECT_LT(DiffShare(Shot(&g.form, g.bitBtn), bit), 0.10);
}

TEST_F(ThemedPaint, BitButtonShowsTheGlyphOfItsState)
{
    QWidget form;
    form.resize(100, 60);
    auto *b = Put(new QPushButton(&form), {10, 10, 60, 40});
    QPixmap strip(24, 8);
    {
        QPainter p(&strip);
        // The bottom-left pixel's colour is the glyph's transparent colour.
        p.fillRect(0, 0, 24, 8, Qt::magenta);
        p.fillRect(1, 1, 6, 6, Qt::red);
        p.fillRect(9, 1, 6, 6, Qt::green);
        p.fillRect(17, 1, 6, 6, Qt::blue);
    }
    b->setProperty("Glyph", strip);
    b->setProperty("NumGlyphs", 3);
    form.show();
    TThemeManager manager;
    manager.CollectForms(nullptr);
    auto centre = [&] { return Shot(&form, b).pixelColor(30, 20); };
    EXPECT_EQ(centre(), QColor(Qt::red));
    b->setDown(true);
    EXPECT_EQ(centre(), QColor(Qt::blue));
    b->setDown(false);
    b->setEnabled(false);
    EXPECT_EQ(centre(), QColor(Qt::green));
}

TEST_F(ThemedPaint, PanelOfItsOwnColourPaintsItself)
{
    Gallery g;
    QPalette yellow = g.panel->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    g.panel->setPalette(yellow);
    g.panel->setAutoFillBackground(true);
    const QImage before = Shot(&g.form, g.panel);
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_EQ(DiffShare(Shot(&g.form, g.panel), before, 0), 0.0);
    EXPECT_EQ(Shot(&g.form, g.panel).pixelColor(50, 40), QColor(Qt::yellow));
    // Of its parent's colour, the panel is themed: its face is the parent's background.
    yellow.setColor(QPalette::Window, g.form.palette().color(QPalette::Window));
    g.panel->setPalette(yellow);
    bool painted = false;
    manager.OnControlMessage = [&](TThemeManager *, QWidget *c, QEvent *e, bool &) {
        painted |= c == g.panel && e->type() == QEvent::Paint;
    };
    (void)Shot(&g.form, g.panel);
    EXPECT_TRUE(painted);
}

TEST_F(ThemedPaint, StyleChangeAndResizeRepaintCollectedControls)
{
    Gallery g;
    g.status->setAttribute(Qt::WA_StaticContents, true);
    TThemeManager manager;
    manager.CollectForms(nullptr);
    int changes = 0, paints = 0;
    QRegion region;
    manager.OnThemeChange = [&](TThemeManager *) { ++changes; };
    manager.OnControlMessage = [&](TThemeManager *, QWidget *c, QEvent *e, bool &) {
        paints += c == g.group && e->type() == QEvent::Paint;
        if (c == g.status && e->type() == QEvent::Paint)
            region += static_cast<QPaintEvent *>(e)->region();
    };
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    settle();
    // A resized status bar repaints whole.
    region = QRegion();
    g.status->resize(400, 24);
    settle();
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 400, 24));
    EXPECT_TRUE(region.contains(QRect(0, 0, 400, 24)));
    // The classic look: no theme.
    paints = 0;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    settle();
    EXPECT_GE(changes, 1);
    EXPECT_GT(paints, 0);
    EXPECT_FALSE(manager.ThemingActive());
    paints = 0;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    settle();
    EXPECT_GT(paints, 0);
    EXPECT_TRUE(manager.ThemingActive());
}
