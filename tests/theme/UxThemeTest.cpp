// The theme library binding and the theme services: counting, the missing
// style, handles, edges and the parent's background.
#include <gtest/gtest.h>

#include <QPainter>
#include <QVBoxLayout>

#include "theme/ThemeSrv.h"
#include "theme/UxTheme.h"
#include "theme/ThemeTestSupport.h"

using namespace themetest;

namespace {

bool AnyEntryPointBound()
{
    return OpenThemeData || CloseThemeData || DrawThemeBackground || DrawThemeText ||
           GetThemeBackgroundContentRect || DrawThemeEdge || IsThemeBackgroundPartiallyTransparent ||
           DrawThemeParentBackground || IsThemeActive || IsAppThemed || EnableThemeDialogTexture ||
           GetThemeAppProperties || SetThemeAppProperties;
}

class ThemeBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetTheme();
        FreeThemeServices(); // the services hold a reference of their own
        ASSERT_EQ(ThemeLibraryRefCount(), 0);
    }
    void TearDown() override { ResetTheme(); }
};

} // namespace

TEST_F(ThemeBinding, CountsUsersAndUnbindsWithTheLast)
{
    EXPECT_EQ(std::tuple(ThemeLibraryLoaded(), AnyEntryPointBound()), std::tuple(false, false));
    EXPECT_EQ(std::tuple(InitThemeLibrary(), InitThemeLibrary()), std::tuple(true, true));
    EXPECT_EQ(std::tuple(ThemeLibraryRefCount(), UseThemes()), std::tuple(2, true));
    FreeThemeLibrary();
    EXPECT_TRUE(ThemeLibraryLoaded() && OpenThemeData != nullptr && DrawThemeParentBackground != nullptr);
    FreeThemeLibrary();
    EXPECT_EQ(std::tuple(ThemeLibraryRefCount(), ThemeLibraryLoaded(), AnyEntryPointBound(), UseThemes()),
              std::tuple(0, false, false, false));
    // A count of 0 stays 0.
    FreeThemeLibrary();
    EXPECT_EQ(ThemeLibraryRefCount(), 0);
}

TEST_F(ThemeBinding, NoStyleMeansNotAvailableButCounted)
{
    SetThemeLibraryNames({QStringLiteral("NoSuchStyleAnywhere")});
    EXPECT_FALSE(InitThemeLibrary());
    EXPECT_EQ(std::tuple(ThemeLibraryRefCount(), UseThemes(), AnyEntryPointBound()), std::tuple(1, false, false));
    FreeThemeLibrary();
    EXPECT_EQ(ThemeLibraryRefCount(), 0);

    // The services then draw nothing and open nothing.
    TThemeServices services(nullptr);
    EXPECT_EQ(std::tuple(services.LibraryLoaded, services.ThemingActive()), std::tuple(false, false));
    QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    for (int e = 0; e < ThemedElementCount; ++e) {
        EXPECT_EQ(services.ThemeHandle(e), nullptr);
        services.PaintBackground(p, nullptr, ButtonDetails(tbPushButtonNormal), img.rect());
    }
    p.end();
    EXPECT_EQ(img.pixel(10, 10), qRgb(255, 255, 255));
}

TEST_F(ThemeBinding, ControlsNotAllowedTurnThemingOff)
{
    TThemeServices services(nullptr);
    ASSERT_TRUE(services.ThemingActive());
    SetThemeAppProperties(STAP_ALLOW_NONCLIENT);
    services.ReloadThemeState();
    EXPECT_EQ(std::tuple(services.UsingThemes, services.ControlsThemed, services.ThemingActive()),
              std::tuple(true, false, false));
    SetThemeAppProperties(STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS | STAP_ALLOW_WEBCONTENT);
    services.ReloadThemeState();
    EXPECT_TRUE(services.ThemingActive());
}

TEST_F(ThemeBinding, ThemeChangeClosesHandlesAndTheNextDrawingReopens)
{
    TThemeServices services(QCoreApplication::instance());
    QWidget window; // the desktop tells its windows of a new style
    const int before = OpenThemeCount();
    HTHEME button = services.ThemeHandle(teButton);
    HTHEME tab = services.ThemeHandle(teTab);
    ASSERT_NE(button, nullptr);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(std::tuple(services.ThemeHandle(teButton), OpenThemeCount()), std::tuple(button, before + 2)) << "cached";
    int notified = 0;
    services.OnThemeChange = [&] { ++notified; };

    // The desktop's style changes: one notice, every handle closed.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_GE(notified, 1);
    // The classic look is no theme at all.
    EXPECT_EQ(std::tuple(services.OpenHandle(teButton), services.OpenHandle(teTab), services.ThemingActive()),
              std::tuple(nullptr, nullptr, false));

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(services.ThemingActive());
    QImage img(40, 30, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    services.PaintBackground(p, nullptr, ButtonDetails(tbPushButtonNormal), img.rect());
    EXPECT_NE(services.OpenHandle(teButton), nullptr);
    EXPECT_EQ(QString(ThemeStyle(services.OpenHandle(teButton))->name()).toLower(), QStringLiteral("fusion"));
}

TEST_F(ThemeBinding, SunkenEdgeInThePaletteColours)
{
    TThemeServices services(nullptr);
    QWidget w;
    QPalette pal;
    pal.setColor(QPalette::Dark, Qt::red);
    pal.setColor(QPalette::Shadow, Qt::green);
    pal.setColor(QPalette::Light, Qt::blue);
    pal.setColor(QPalette::Midlight, Qt::yellow);
    w.setPalette(pal);
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    QRect content;
    {
        QPainter p(&img);
        services.PaintEdge(p, &w, RebarDetails(trBandNormal), img.rect(), EDGE_SUNKEN, BF_RECT | BF_ADJUST, &content);
    }
    EXPECT_EQ(content, QRect(2, 2, 6, 6));
    // Outer top-left and bottom-right, inner top-left and bottom-right; the middle is left alone.
    const std::vector<QRgb> row = {img.pixel(0, 5), img.pixel(9, 5), img.pixel(1, 5), img.pixel(8, 5), img.pixel(5, 5)};
    EXPECT_EQ(row, (std::vector<QRgb>{QColor(Qt::red).rgb(), QColor(Qt::blue).rgb(), QColor(Qt::green).rgb(),
                                      QColor(Qt::yellow).rgb(), qRgb(255, 255, 255)}));
}

TEST_F(ThemeBinding, ParentBackgroundComesFromTheFirstOpaqueAncestor)
{
    TThemeServices services(nullptr);
    QWidget outer;
    QPalette red;
    red.setColor(QPalette::Window, Qt::red);
    outer.setPalette(red);
    outer.setAutoFillBackground(true);
    outer.resize(100, 100);
    auto *middle = new QWidget(&outer); // transparent: the outer one shows through
    middle->setGeometry(10, 10, 80, 80);
    auto *inner = new QWidget(middle);
    inner->setGeometry(5, 5, 30, 30);
    QImage img(30, 30, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        services.PaintParentBackground(inner, p, nullptr, false);
    }
    EXPECT_EQ(img.pixel(15, 15), QColor(Qt::red).rgb());

    // Only where the element shows through, when asked so: a check box does.
    img.fill(Qt::white);
    {
        QPainter p(&img);
        const ThemeElementDetails check = ButtonDetails(tbCheckBoxCheckedNormal);
        services.PaintParentBackground(inner, p, &check, true);
    }
    EXPECT_EQ(img.pixel(15, 15), QColor(Qt::red).rgb());
    EXPECT_TRUE(IsThemeBackgroundPartiallyTransparent(services.ThemeHandle(teButton), BP_CHECKBOX, 5));
}
