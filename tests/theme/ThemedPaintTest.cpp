// Themed painting: each handler's control rendered under the offscreen
// platform, compared with the same control drawn by the style directly, with
// the manager on and off.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QListWidget>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOption>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

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

struct Gallery {
    QWidget form;
    QPushButton *bitBtn, *plain;
    QCheckBox *check;
    QToolButton *flat, *raised;
    QGroupBox *group;
    QFrame *panel, *winPanel;
    QStatusBar *status;
    QSlider *slider;
    QListWidget *checkList;
    QTreeWidget *tree;
    QTabWidget *tabs;
    QWidget *page;

    Gallery()
    {
        form.resize(460, 460);
        bitBtn = new QPushButton(QStringLiteral("Go"), &form);
        bitBtn->setIcon(SolidIcon(Qt::darkBlue));
        bitBtn->setGeometry(10, 10, 90, 30);
        plain = new QPushButton(QStringLiteral("Plain"), &form);
        plain->setGeometry(110, 10, 90, 30);
        check = new QCheckBox(QStringLiteral("Check"), &form);
        check->setGeometry(210, 10, 90, 24);
        flat = new QToolButton(&form);
        flat->setAutoRaise(true);
        flat->setIcon(SolidIcon(Qt::darkGreen));
        flat->setIconSize(QSize(16, 16));
        flat->setGeometry(10, 50, 30, 30);
        raised = new QToolButton(&form);
        raised->setText(QStringLiteral("Tool"));
        raised->setGeometry(50, 50, 60, 30);
        group = new QGroupBox(QStringLiteral("Group"), &form);
        group->setGeometry(10, 90, 150, 80);
        panel = new QFrame(&form);
        panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        panel->setGeometry(170, 90, 100, 80);
        winPanel = new QFrame(&form);
        winPanel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        winPanel->setGeometry(280, 90, 100, 80);
        status = new QStatusBar(&form);
        status->setSizeGripEnabled(false);
        status->setGeometry(10, 180, 370, 22);
        slider = new QSlider(Qt::Horizontal, &form);
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setGeometry(10, 210, 200, 30);
        checkList = new QListWidget(&form);
        for (const char *text : {"One", "Two"}) {
            auto *item = new QListWidgetItem(QString::fromLatin1(text), checkList);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(text[0] == 'O' ? Qt::Checked : Qt::Unchecked);
        }
        checkList->setGeometry(10, 250, 180, 80);
        tree = new QTreeWidget(&form);
        tree->setHeaderHidden(true);
        new QTreeWidgetItem(tree, QStringList{QStringLiteral("Node")});
        tree->setGeometry(200, 250, 180, 80);
        tabs = new QTabWidget(&form);
        page = new QWidget;
        tabs->addTab(page, QStringLiteral("Page"));
        tabs->setGeometry(10, 340, 370, 100);
        form.show();
        // The focus away from the buttons: a focused glyph button is drawn as the default one.
        tree->setFocus();
        QCoreApplication::processEvents();
    }

    // The picture of each control as it shows now.
    std::map<QWidget *, QImage> Shots()
    {
        std::map<QWidget *, QImage> shots;
        for (QWidget *w : Controls())
            shots[w] = Shot(&form, w);
        return shots;
    }
    std::vector<QWidget *> Controls() const
    {
        return {bitBtn, plain, check, flat, raised, group, panel, winPanel, status, slider, checkList, tree, tabs};
    }
};

class ThemedPaint : public CleanThemeTest {};

// The form's own background where a control sits (the control hidden).
QImage Behind(Gallery &g, QWidget *control)
{
    control->hide();
    const QImage img = Shot(&g.form, control);
    control->show();
    return img;
}

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

TEST_F(ThemedPaint, GroupBoxFrameAndCaption)
{
    Gallery g;
    QImage expected = Behind(g, g.group);
    {
        QPainter p(&expected);
        QStyle *style = QApplication::style();
        const QFontMetrics fm = g.group->fontMetrics();
        const QSize text = fm.size(Qt::TextShowMnemonic, g.group->title());
        const QRect caption(8, 0, text.width(), text.height());
        QStyleOptionFrame frame;
        frame.initFrom(g.group);
        frame.state = QStyle::State_Enabled | (frame.state & QStyle::State_Active);
        frame.rect = QRect(0, text.height() / 2, g.group->width(), g.group->height() - text.height() / 2);
        frame.lineWidth = 1;
        p.setClipRegion(QRegion(g.group->rect()).subtracted(QRegion(caption)));
        style->drawPrimitive(QStyle::PE_FrameGroupBox, &frame, &p, g.group);
        p.setClipping(false);
        p.setFont(g.group->font());
        style->drawItemText(&p, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                            g.group->palette(), true, g.group->title(), QPalette::WindowText);
    }
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_LT(DiffShare(Shot(&g.form, g.group), expected, 24), 0.01);
}

TEST_F(ThemedPaint, StatusBarBackground)
{
    Gallery g;
    QImage expected = Behind(g, g.status);
    {
        QPainter p(&expected);
        QStyleOption opt;
        opt.initFrom(g.status);
        opt.state = QStyle::State_Enabled | (opt.state & QStyle::State_Active);
        QApplication::style()->drawPrimitive(QStyle::PE_PanelStatusBar, &opt, &p, g.status);
    }
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_LT(DiffShare(Shot(&g.form, g.status), expected, 24), 0.01);
}

TEST_F(ThemedPaint, HotFlatSpeedButtonAndBitButton)
{
    Gallery g;
    g.flat->setAttribute(Qt::WA_UnderMouse, true);
    QStyle *style = QApplication::style();
    QImage flatExpected = Behind(g, g.flat);
    {
        QPainter p(&flatExpected);
        QStyleOptionToolButton opt;
        opt.initFrom(g.flat);
        opt.state = QStyle::State_Enabled | QStyle::State_AutoRaise | QStyle::State_MouseOver | QStyle::State_Raised |
                    (opt.state & QStyle::State_Active);
        opt.subControls = QStyle::SC_ToolButton;
        opt.icon = g.flat->icon();
        opt.iconSize = g.flat->iconSize();
        opt.toolButtonStyle = Qt::ToolButtonIconOnly;
        opt.rect = g.flat->rect();
        style->drawComplexControl(QStyle::CC_ToolButton, &opt, &p, g.flat);
    }
    QImage bitExpected = Behind(g, g.bitBtn);
    {
        QPainter p(&bitExpected);
        QStyleOptionButton opt;
        opt.initFrom(g.bitBtn);
        opt.state = QStyle::State_Enabled | QStyle::State_Raised | (opt.state & QStyle::State_Active);
        opt.text = g.bitBtn->text();
        opt.icon = g.bitBtn->icon();
        opt.iconSize = g.bitBtn->iconSize();
        opt.rect = g.bitBtn->rect();
        style->drawControl(QStyle::CE_PushButton, &opt, &p, g.bitBtn);
    }
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_LT(DiffShare(Shot(&g.form, g.flat), flatExpected), 0.08);
    EXPECT_LT(DiffShare(Shot(&g.form, g.bitBtn), bitExpected), 0.10);
}

TEST_F(ThemedPaint, BitButtonShowsTheGlyphOfItsState)
{
    QWidget form;
    form.resize(100, 60);
    auto *b = new QPushButton(&form);
    b->setGeometry(10, 10, 60, 40);
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

TEST_F(ThemedPaint, StyleChangeRepaintsCollectedControls)
{
    Gallery g;
    TThemeManager manager;
    manager.CollectForms(nullptr);
    int changes = 0;
    manager.OnThemeChange = [&](TThemeManager *) { ++changes; };
    int paints = 0;
    manager.OnControlMessage = [&](TThemeManager *, QWidget *c, QEvent *e, bool &) {
        paints += c == g.group && e->type() == QEvent::Paint;
    };
    QCoreApplication::processEvents();
    paints = 0;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_GE(changes, 1);
    EXPECT_GT(paints, 0);
    EXPECT_FALSE(manager.ThemingActive()); // the classic look: no theme

    paints = 0;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_GT(paints, 0);
    EXPECT_TRUE(manager.ThemingActive());
}

TEST_F(ThemedPaint, ResizedStatusBarRepaintsWhole)
{
    Gallery g;
    g.status->setAttribute(Qt::WA_StaticContents, true);
    TThemeManager manager;
    manager.CollectForms(nullptr);
    QCoreApplication::processEvents();
    QRegion region;
    manager.OnControlMessage = [&](TThemeManager *, QWidget *c, QEvent *e, bool &) {
        if (c == g.status && e->type() == QEvent::Paint)
            region += static_cast<QPaintEvent *>(e)->region();
    };
    g.status->resize(400, 24);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(region.contains(QRect(0, 0, 400, 24))) << region.boundingRect().x();
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 400, 24));
}
