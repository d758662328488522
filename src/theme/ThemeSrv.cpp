// Theme services over the bound theme library.
#include "theme/ThemeSrv.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFrame>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

namespace {

struct Range {
    int first, last, part;
};

// part := the part of the range holding v; state := v - first + 1. Outside
// every range: part 0, state v + 1.
ThemeElementDetails FromRanges(int element, int value, std::initializer_list<Range> ranges)
{
    for (const Range &r : ranges)
        if (value >= r.first && value <= r.last)
            return ThemeElementDetails{element, r.part, value - r.first + 1};
    return ThemeElementDetails{element, 0, value + 1};
}

TThemeServices *&Instance()
{
    static TThemeServices *instance = nullptr;
    return instance;
}

} // namespace

ThemeElementDetails ButtonDetails(int v)
{
    return FromRanges(teButton, v, {{2, 6, 1}, {7, 14, 2}, {15, 26, 3}, {27, 28, 4}, {29, 29, 5}});
}

ThemeElementDetails EditDetails(int v)
{
    return FromRanges(teEdit, v, {{2, 8, 1}, {9, 9, 2}});
}

ThemeElementDetails RebarDetails(int v)
{
    return FromRanges(teRebar, v, {{2, 2, 1}, {3, 3, 2}, {4, 9, 3}, {10, 13, 4}, {14, 17, 5}});
}

ThemeElementDetails StatusDetails(int v)
{
    return FromRanges(teStatus, v, {{2, 2, 1}, {3, 3, 2}, {4, 4, 3}});
}

ThemeElementDetails TabDetails(int v)
{
    return FromRanges(teTab, v,
                      {{2, 6, 1}, {7, 11, 2}, {12, 16, 3}, {17, 21, 4}, {22, 26, 5}, {27, 31, 6}, {32, 36, 7},
                       {37, 41, 8}, {42, 42, 9}, {43, 43, 10}});
}

ThemeElementDetails ToolBarDetails(int v)
{
    return FromRanges(teToolBar, v, {{2, 7, 1}, {8, 13, 2}, {14, 19, 3}, {20, 25, 4}, {26, 31, 5}, {32, 37, 6}});
}

ThemeElementDetails TrackBarDetails(int v)
{
    return FromRanges(teTrackBar, v,
                      {{2, 2, 1}, {3, 3, 2}, {4, 8, 3}, {9, 13, 4}, {14, 18, 5}, {19, 23, 6}, {24, 28, 7},
                       {29, 33, 8}, {34, 34, 9}, {35, 35, 10}});
}

QEvent::Type TThemeServices::ThemeChangedEvent()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TThemeServices::TThemeServices(QObject *window) : window_(window), watching_(window != nullptr)
{
    if (window)
        window->installEventFilter(this);
    LibraryLoaded = InitThemeLibrary();
    ReloadThemeState();
}

TThemeServices::~TThemeServices()
{
    if (window_)
        window_->removeEventFilter(this);
    if (Instance() == this)
        Instance() = nullptr;
    window_.clear();
    // The watched object is gone or let go: every open theme is closed.
    for (HTHEME &h : handles_) {
        if (h && CloseThemeData)
            CloseThemeData(h);
        h = nullptr;
    }
    FreeThemeLibrary();
}

HTHEME TThemeServices::ThemeHandle(int element)
{
    if (element < 0 || element >= ThemedElementCount)
        return nullptr;
    if (UsingThemes && !handles_[element] && OpenThemeData)
        handles_[element] = OpenThemeData(nullptr, QString::fromLatin1(ThemeClassName(element)));
    return handles_[element];
}

void TThemeServices::CloseThemeHandles()
{
    // A watched object that no longer exists leaves the handles alone.
    if (watching_ && window_.isNull())
        return;
    for (HTHEME &h : handles_) {
        if (h && CloseThemeData)
            CloseThemeData(h);
        h = nullptr;
    }
}

void TThemeServices::ReloadThemeState()
{
    if (UsingThemes)
        CloseThemeHandles();
    // The widget toolkit stands for the themed common controls.
    UsingThemes = UseThemes() && qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
    if (!UsingThemes)
        ControlsThemed = false;
    else
        ControlsThemed = (GetThemeAppProperties() & STAP_ALLOW_CONTROLS) != 0;
}

QStyle *TThemeServices::Style(int element)
{
    return ThemeStyle(ThemeHandle(element));
}

void TThemeServices::PaintBackground(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details,
                                     const QRect &rect, const QRect *clip)
{
    if (HTHEME h = ThemeHandle(details.Element))
        DrawThemeBackground(h, &dc, widget, details.Part, details.State, rect, clip);
}

void TThemeServices::PaintEdge(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details,
                               const QRect &rect, unsigned edge, unsigned flags, QRect *contentRect)
{
    if (HTHEME h = ThemeHandle(details.Element))
        DrawThemeEdge(h, &dc, widget, details.Part, details.State, rect, edge, flags, contentRect);
}

QRect TThemeServices::BackgroundContentRect(const QWidget *widget, const ThemeElementDetails &details,
                                            const QRect &bounds)
{
    QRect content = bounds;
    if (HTHEME h = ThemeHandle(details.Element))
        GetThemeBackgroundContentRect(h, widget, details.Part, details.State, bounds, &content);
    return content;
}

void TThemeServices::PaintText(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details,
                               const QString &text, const QRect &rect, int flags, unsigned flags2)
{
    if (HTHEME h = ThemeHandle(details.Element))
        DrawThemeText(h, &dc, widget, details.Part, details.State, text, flags, flags2, rect);
}

void TThemeServices::PaintParentBackground(QWidget *window, QPainter &dc, const ThemeElementDetails *details,
                                           bool onlyIfTransparent, const QRect *rect)
{
    if (!DrawThemeParentBackground)
        return;
    if (onlyIfTransparent && details) {
        HTHEME h = ThemeHandle(details->Element);
        if (!h || !IsThemeBackgroundPartiallyTransparent(h, details->Part, details->State))
            return;
    }
    DrawThemeParentBackground(window, &dc, rect);
}

void TThemeServices::PaintClientEdge(QWidget *control, bool eraseSizeBox, QPainter *dc)
{
    auto *frame = qobject_cast<QFrame *>(control);
    if (!frame || frame->frameShadow() != QFrame::Sunken)
        return;
    const QFrame::Shape shape = frame->frameShape();
    if (shape != QFrame::Panel && shape != QFrame::WinPanel && shape != QFrame::StyledPanel)
        return;
    const int border = frame->frameWidth();
    if (border <= 0)
        return;
    std::unique_ptr<QPainter> own;
    if (!dc) {
        own = std::make_unique<QPainter>(control);
        dc = own.get();
    }
    const QRect r = control->rect();
    dc->save();
    auto *area = qobject_cast<QAbstractScrollArea *>(control);
    if (eraseSizeBox && area && area->horizontalScrollBar()->isVisible() && area->verticalScrollBar()->isVisible()) {
        const QRect inner = r.adjusted(border, border, -border, -border);
        const int w = control->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, control);
        dc->fillRect(QRect(inner.right() - w + 1, inner.bottom() - w + 1, w, w),
                     control->palette().brush(QPalette::Button));
    }
    // Only the frame takes the theme's border.
    dc->setClipRegion(QRegion(r).subtracted(QRegion(r.adjusted(border, border, -border, -border))),
                      Qt::IntersectClip);
    PaintBackground(*dc, control, EditDetails(teEditTextNormal), r);
    dc->restore();
}

void TThemeServices::NoteThemeChange()
{
    if (changePosted_ || !window_)
        return;
    changePosted_ = true;
    QCoreApplication::postEvent(window_, new QEvent(ThemeChangedEvent()));
}

bool TThemeServices::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::ThemeChange:
        if (watched == window_ || (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()))
            NoteThemeChange();
        break;
    case QEvent::ApplicationPaletteChange:
        if (watched == window_)
            NoteThemeChange();
        break;
    default:
        if (event->type() == ThemeChangedEvent() && watched == window_) {
            changePosted_ = false;
            ReloadThemeState();
            if (OnThemeChange)
                OnThemeChange();
        }
        break;
    }
    return false;
}

TThemeServices *ThemeServices()
{
    TThemeServices *&instance = Instance();
    if (!instance) {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return nullptr;
        instance = new TThemeServices(app);
        // When the application object goes, so do the services.
        QObject::connect(app, &QObject::destroyed, [] { FreeThemeServices(); });
    }
    return instance;
}

void FreeThemeServices()
{
    TThemeServices *instance = Instance();
    Instance() = nullptr;
    delete instance;
}
