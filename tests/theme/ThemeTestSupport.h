#pragma once
// Helpers of the theme tests: images compared with a tolerance, and a clean
// theme state (the desktop's style, Fusion here) for each test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include "theme/ThemeMgr.h"
#include "theme/ThemeSrv.h"
#include "theme/UxTheme.h"

namespace themetest {

// Share of pixels whose channels differ by more than `tolerance`.
inline double DiffShare(const QImage &a0, const QImage &b0, int tolerance = 40)
{
    if (a0.size() != b0.size() || a0.isNull())
        return 1.0;
    const QImage a = a0.convertToFormat(QImage::Format_ARGB32), b = b0.convertToFormat(QImage::Format_ARGB32);
    long differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int most = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                       std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            differing += most > tolerance;
        }
    return double(differing) / double(a.width() * a.height());
}

// The picture of a control as it shows in its form.
inline QImage Shot(QWidget *form, QWidget *control)
{
    const QImage all = form->grab().toImage();
    const QRect r(control->mapTo(form, QPoint(0, 0)), control->size());
    return all.copy(QRect(r.topLeft() * all.devicePixelRatio(), r.size() * all.devicePixelRatio()));
}

// Fusion as the desktop's style and a fresh binding.
inline void ResetTheme()
{
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCoreApplication::processEvents();
    FreeThemeServices();
    SetThemeLibraryNames({});
    while (ThemeLibraryRefCount() > 0)
        FreeThemeLibrary();
    if (ThemeServices() && GetThemeAppProperties)
        SetThemeAppProperties(STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS | STAP_ALLOW_WEBCONTENT);
    if (ThemeServices())
        ThemeServices()->ReloadThemeState();
}

// A test that starts and ends with the clean theme state and no main theme manager.
class CleanThemeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetTheme();
        QCoreApplication::processEvents();
        ASSERT_EQ(TThemeManager::MainManager(), nullptr);
    }
    void TearDown() override
    {
        QCoreApplication::processEvents();
        ResetTheme();
    }
};

} // namespace themetest
