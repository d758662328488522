// The theme manager: collecting, the main and subordinate managers, refusals,
// keyboard cues, controls that come and go, and the button layout rules.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "theme/ThemeMgr.h"
#include "theme/ThemeTestSupport.h"

using namespace themetest;

namespace {

struct SmallForm {
    QWidget form;
    QPushButton *button;
    QCheckBox *check;
    QListView *list;
    QLabel *label;
    SmallForm()
    {
        auto *layout = new QVBoxLayout(&form);
        button = new QPushButton(QStringLiteral("&Push"), &form);
        check = new QCheckBox(QStringLiteral("Check"), &form);
        list = new QListView(&form);
        label = new QLabel(QStringLiteral("Label"), &form);
        for (QWidget *w : std::initializer_list<QWidget *>{button, check, list, label})
            layout->addWidget(w);
        form.resize(200, 220);
    }
};

// Refuses to be subclassed when asked.
class Refuser : public QObject {
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == SubclassQueryEvent)
            static_cast<TSubclassQueryEvent *>(event)->Result = 1;
        return false;
    }
};

class ThemeManagerTest : public CleanThemeTest {};

} // namespace

TEST_F(ThemeManagerTest, CollectsEveryControlIntoTheListOfItsClass)
{
    SmallForm f;
    TThemeManager manager;
    manager.CollectForms(nullptr);
    // The list view's inside belongs to the list view.
    for (const auto &[w, cls] : {std::pair<QWidget *, TControlClass>{&f.form, ccForm}, {f.button, ccButtonControl},
                                 {f.check, ccButtonControl}, {f.list, ccListView}, {f.label, ccWinControl},
                                 {f.list->viewport(), ccWinControl}})
        EXPECT_EQ(manager.ListOf(w), manager.List(cls)) << w->metaObject()->className();
    EXPECT_EQ(manager.List(ccButtonControl)->Count(), 2);
    // Options off: a button goes to the general list.
    manager.SetOptions(DefaultThemeOptions & ~Bit(toSubclassButtons));
    manager.UpdateSubclassing(f.button, true);
    EXPECT_EQ(std::tuple(manager.ListOf(f.button), manager.List(ccButtonControl)->Count()),
              std::tuple(manager.List(ccWinControl), 1));
    // A container that changes lists keeps its controls collected.
    manager.SetOptions(DefaultThemeOptions);
    auto *box = new QWidget(&f.form);
    auto *inner = new QCheckBox(QStringLiteral("Inner"), box);
    manager.UpdateSubclassing(box, true);
    ASSERT_EQ(manager.ListOf(box), manager.List(ccFrame));
    ASSERT_EQ(manager.ListOf(inner), manager.List(ccButtonControl));
    manager.SetOptions(DefaultThemeOptions & ~Bit(toSubclassFrame));
    manager.UpdateSubclassing(box, true);
    EXPECT_EQ(std::tuple(manager.ListOf(box), manager.ListOf(inner)),
              std::tuple(manager.List(ccWinControl), manager.List(ccButtonControl)));
}

TEST_F(ThemeManagerTest, WithoutTheLibraryOnlyListViewsAreSubclassed)
{
    FreeThemeServices();
    SetThemeLibraryNames({QStringLiteral("NoSuchStyleAnywhere")});
    SmallForm f;
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_EQ(manager.ListOf(f.list), manager.List(ccListView));
    for (QWidget *w : {&f.form, static_cast<QWidget *>(f.button), static_cast<QWidget *>(f.check)})
        EXPECT_EQ(manager.ListOf(w), nullptr);
    EXPECT_FALSE(manager.ThemingActive());
}

TEST_F(ThemeManagerTest, SecondManagerDefersAndTakesOverWhenTheFirstGoes)
{
    SmallForm f;
    auto *first = new TThemeManager;
    first->SetOptions(DefaultThemeOptions | Bit(toAlternateTabSheetDraw));
    first->CollectForms(nullptr);
    TThemeManager second;
    EXPECT_EQ(std::tuple(second.Subordinate(), second.Options(), TThemeManager::MainManager()),
              std::tuple(true, first->Options(), first));
    second.CollectForms(nullptr);
    EXPECT_EQ(second.ListOf(f.button), nullptr);
    // Options set on a subordinate go to the main manager.
    second.SetOptions(DefaultThemeOptions);
    EXPECT_EQ(first->Options(), DefaultThemeOptions);
    delete first;
    EXPECT_EQ(TThemeManager::MainManager(), nullptr);
    QCoreApplication::processEvents(); // the hand-over
    EXPECT_EQ(std::tuple(TThemeManager::MainManager(), second.Subordinate()), std::tuple(&second, false));
    EXPECT_EQ(second.ListOf(f.button), second.List(ccButtonControl));
    EXPECT_EQ(second.ListOf(&f.form), second.List(ccForm));
    // A third that becomes the main manager takes the controls over.
    TThemeManager third;
    third.BecomeMainManager();
    EXPECT_TRUE(second.Subordinate());
    EXPECT_EQ(second.ListOf(f.button), nullptr);
    EXPECT_EQ(third.ListOf(f.button), third.List(ccButtonControl));
}

TEST_F(ThemeManagerTest, RefusedControlsAreNeverSubclassedOrAreReleased)
{
    SmallForm f;
    Refuser refuser;
    f.check->installEventFilter(&refuser);
    TThemeManager manager;
    manager.CollectForms(nullptr);
    EXPECT_EQ(manager.ListOf(f.check), nullptr);
    EXPECT_NE(manager.ListOf(f.button), nullptr);
    manager.OnAllowSubclassing = [&](TThemeManager *, QWidget *control, bool &allow) {
        allow = control != f.button;
    };
    manager.UpdateSubclassing(f.button, true);
    EXPECT_EQ(manager.ListOf(f.button), nullptr);
}

TEST_F(ThemeManagerTest, ControlsThatComeAndGoAreCollectedAndForgotten)
{
    auto manager = std::make_unique<TThemeManager>();
    manager->CollectForms(nullptr);
    SmallForm f;
    f.form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(manager->PendingFormCount(), 0);
    EXPECT_EQ(manager->ListOf(&f.form), manager->List(ccForm));
    EXPECT_EQ(manager->ListOf(f.button), manager->List(ccButtonControl));
    // A late control, and a container with its controls.
    auto *late = new QPushButton(QStringLiteral("Late"), &f.form);
    auto *box = new QWidget(&f.form);
    auto *inner = new QCheckBox(QStringLiteral("Inner"), box);
    late->show();
    box->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(manager->ListOf(late), manager->List(ccButtonControl));
    ASSERT_NE(manager->ListOf(inner), nullptr);
    const int before = manager->List(ccButtonControl)->Count();
    QObject *gone = f.button;
    delete f.button;
    EXPECT_EQ(manager->List(ccButtonControl)->Count(), before - 1);
    EXPECT_EQ(manager->ListOf(gone), nullptr);
    delete box;
    EXPECT_EQ(manager->ListOf(inner), nullptr);
    f.form.update();
    QCoreApplication::processEvents();
    (void)f.form.grab();
    manager.reset();
    (void)f.form.grab();
}

TEST_F(ThemeManagerTest, DestroyingTheManagerRestoresEveryControl)
{
    SmallForm f;
    f.form.show();
    QCoreApplication::processEvents();
    const QImage before = f.form.grab().toImage();
    int messages = 0;
    {
        TThemeManager manager;
        manager.CollectForms(nullptr);
        manager.OnControlMessage = [&](TThemeManager *, QWidget *, QEvent *, bool &) { ++messages; };
        (void)f.form.grab();
        EXPECT_GT(messages, 0);
    }
    messages = 0;
    EXPECT_EQ(f.form.grab().toImage(), before);
    EXPECT_EQ(messages, 0);
}

TEST_F(ThemeManagerTest, HandledMessagesGoNoFurther)
{
    SmallForm f;
    TThemeManager manager;
    manager.CollectForms(nullptr);
    int listened = 0;
    const int id = manager.AddListener([&](QWidget *control, QEvent *e) {
        ++listened;
        return control == f.button && e->type() == QEvent::MouseButtonPress;
    });
    bool clicked = false;
    QObject::connect(f.button, &QPushButton::pressed, [&] { clicked = true; });
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(f.button, &press);
    EXPECT_EQ(std::tuple(clicked, listened > 0), std::tuple(false, true));
    manager.RemoveListener(id);
    QCoreApplication::sendEvent(f.button, &press);
    EXPECT_TRUE(clicked);
}

TEST_F(ThemeManagerTest, KeyboardUseShowsTheCues)
{
    SmallForm f;
    TThemeManager manager;
    manager.CollectForms(nullptr);
    f.form.setAttribute(Qt::WA_KeyboardFocusChange, false);
    f.form.setProperty("UIStateShowAccel", false);
    const auto hidden = [&] { return std::tuple(HidesFocus(f.button), HidesAccelerators(f.button)); };
    EXPECT_EQ(hidden(), std::tuple(true, true));
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QCoreApplication::sendEvent(f.button, &alt);
    EXPECT_EQ(hidden(), std::tuple(true, false));
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QCoreApplication::sendEvent(f.label, &letter);
    EXPECT_TRUE(HidesFocus(f.button));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(f.label, &down);
    EXPECT_FALSE(HidesFocus(f.button));
}

TEST(ButtonLayout, MarginAndSpacingRules)
{
    const QRect client(0, 0, 100, 40);
    const QSize glyph(16, 16), caption(40, 14);
    // Margin and spacing both computed: a third each of the free room.
    auto l = TThemeManager::CalcButtonLayout(client, glyph, caption, 0, -1, -1, false);
    EXPECT_EQ(l.Glyph, QRect(14, 12, 16, 16));
    EXPECT_EQ(l.Caption, QRect(14 + 16 + 14, 13, 40, 14));
    // Margin computed: the pair is centred, the odd pixel on the left.
    l = TThemeManager::CalcButtonLayout(client, glyph, caption, 0, -1, 3, false);
    EXPECT_EQ(std::tuple(l.Glyph.left(), l.Caption.left()), std::tuple(21, 21 + 16 + 3));
    // Spacing computed from a fixed margin.
    l = TThemeManager::CalcButtonLayout(client, glyph, caption, 0, 5, -1, false);
    EXPECT_EQ(std::tuple(l.Glyph.left(), l.Caption.left()), std::tuple(5, 5 + 16 + (100 - 5 - 16 - 40) / 2));
    // Glyph right, and left and right swapped for right-to-left reading.
    l = TThemeManager::CalcButtonLayout(client, glyph, caption, 1, 5, 3, false);
    EXPECT_EQ(std::tuple(l.Glyph.left(), l.Caption.left()), std::tuple(100 - 5 - 16, 100 - 5 - 16 - 3 - 40));
    EXPECT_EQ(TThemeManager::CalcButtonLayout(client, glyph, caption, 0, 5, 3, true).Glyph, l.Glyph);
    EXPECT_EQ(TThemeManager::CalcButtonLayout(client, glyph, caption, 1, 5, 3, true).Glyph.left(), 5);
    // Glyph on top; no caption means no spacing; the pressed offset moves both.
    l = TThemeManager::CalcButtonLayout(QRect(10, 10, 40, 60), glyph, QSize(), 2, 6, 9, false, QPoint(1, 1));
    EXPECT_EQ(l.Glyph, QRect(10 + 12 + 1, 10 + 6 + 1, 16, 16));
    EXPECT_EQ(l.Caption.top(), 10 + 6 + 16 + 0 + 1);
    l = TThemeManager::CalcButtonLayout(QRect(0, 0, 40, 60), glyph, caption, 3, 6, 2, false);
    EXPECT_EQ(l.Glyph.top(), 60 - 6 - 16);
    EXPECT_EQ(l.Caption.top(), 60 - 6 - 16 - 2 - 14);
}

TEST(ButtonLayout, GlyphImageByState)
{
    // Images: up, disabled, down (clicked), down (exclusive).
    const struct {
        int count;
        bool enabled, down, exclusive;
        int index;
    } cases[] = {{1, false, false, false, 0}, {2, false, true, false, 1}, {2, true, true, false, 0},
                 {3, true, true, false, 2},   {3, true, true, true, 2},   {4, true, true, true, 3},
                 {4, true, false, false, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(TThemeManager::GlyphIndex(c.count, c.enabled, c.down, c.exclusive), c.index) << c.count;
}
