// Run-time binding of the theme library over the style factory.
#include "theme/UxTheme.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QVariant>
#include <QWidget>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "theme/TmSchema.h"

struct TThemeData {
    std::shared_ptr<QStyle> style;
    int element = 0;
};

HTHEME (*OpenThemeData)(QWidget *, const QString &) = nullptr;
int (*CloseThemeData)(HTHEME) = nullptr;
int (*DrawThemeBackground)(HTHEME, QPainter *, const QWidget *, int, int, const QRect &, const QRect *) = nullptr;
int (*DrawThemeText)(HTHEME, QPainter *, const QWidget *, int, int, const QString &, int, unsigned,
                     const QRect &) = nullptr;
int (*GetThemeBackgroundContentRect)(HTHEME, const QWidget *, int, int, const QRect &, QRect *) = nullptr;
int (*DrawThemeEdge)(HTHEME, QPainter *, const QWidget *, int, int, const QRect &, unsigned, unsigned,
                     QRect *) = nullptr;
bool (*IsThemeBackgroundPartiallyTransparent)(HTHEME, int, int) = nullptr;
int (*DrawThemeParentBackground)(QWidget *, QPainter *, const QRect *) = nullptr;
bool (*IsThemeActive)() = nullptr;
bool (*IsAppThemed)() = nullptr;
int (*EnableThemeDialogTexture)(QWidget *, unsigned) = nullptr;
unsigned (*GetThemeAppProperties)() = nullptr;
void (*SetThemeAppProperties)(unsigned) = nullptr;

namespace {

constexpr int E_INVALIDARG = 1;

struct Library {
    bool loaded = false;
    int count = 0;
    QStringList names;                    // configured candidates; empty: desktop, Fusion
    QString boundName;
    std::shared_ptr<QStyle> bound;        // the style the binding created
    QString themeName;
    std::shared_ptr<QStyle> theme;        // the desktop's style when it is another one
    unsigned appProperties = STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS | STAP_ALLOW_WEBCONTENT;
    int openThemes = 0;
    std::map<std::tuple<const QStyle *, int, int, int>, bool> transparency;
};

std::recursive_mutex &Lock()
{
    static std::recursive_mutex m;
    return m;
}

Library &Lib()
{
    static Library lib;
    return lib;
}

QString DesktopStyleName()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return QString();
    QStyle *s = QApplication::style();
    return s ? s->name() : QString();
}

std::shared_ptr<QStyle> CreateStyle(const QString &name)
{
    if (name.isEmpty() || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    if (!QStyleFactory::keys().contains(name, Qt::CaseInsensitive))
        return nullptr;
    QStyle *s = QStyleFactory::create(name);
    if (!s)
        return nullptr;
    return std::shared_ptr<QStyle>(s, [](QStyle *p) { delete p; });
}

// The style that draws now: the desktop's, created through the binding, or the
// bound one when the names were configured or the desktop's cannot be made.
std::shared_ptr<QStyle> ActiveStyle()
{
    Library &lib = Lib();
    if (!lib.loaded)
        return nullptr;
    if (!lib.names.isEmpty())
        return lib.bound;
    const QString desktop = DesktopStyleName();
    if (desktop.isEmpty() || desktop.compare(lib.boundName, Qt::CaseInsensitive) == 0)
        return lib.bound;
    if (!lib.theme || lib.themeName.compare(desktop, Qt::CaseInsensitive) != 0) {
        lib.theme = CreateStyle(desktop);
        lib.themeName = desktop;
    }
    return lib.theme ? lib.theme : lib.bound;
}

// ---- the entry points

HTHEME DoOpenThemeData(QWidget *, const QString &classList)
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    std::shared_ptr<QStyle> style = ActiveStyle();
    if (!style)
        return nullptr;
    for (const QString &name : classList.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        for (int i = 0; i < ThemedElementCount; ++i) {
            if (name.trimmed().compare(QLatin1String(ThemeClassName(i)), Qt::CaseInsensitive) == 0) {
                ++Lib().openThemes;
                return new TThemeData{std::move(style), i};
            }
        }
    }
    return nullptr;
}

int DoCloseThemeData(HTHEME theme)
{
    if (!theme)
        return E_INVALIDARG;
    {
        std::lock_guard<std::recursive_mutex> guard(Lock());
        --Lib().openThemes;
    }
    delete theme;
    return 0;
}

int DoDrawThemeBackground(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state,
                          const QRect &rect, const QRect *clip)
{
    if (!theme || !dc)
        return E_INVALIDARG;
    DrawStyleElement(theme->style.get(), dc, widget, StyleElementFor(theme->element, part, state), rect, clip);
    return 0;
}

int DoDrawThemeText(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state, const QString &text,
                    int flags, unsigned flags2, const QRect &rect)
{
    if (!theme || !dc)
        return E_INVALIDARG;
    const TStyleElement e = StyleElementFor(theme->element, part, state);
    QStyle *style = theme->style.get();
    QPalette pal = StyleElementPalette(widget, e, style);
    const bool enabled = (e.kind == TStyleKind::None || (e.state & QStyle::State_Enabled)) && !(flags2 & DTT_GRAYED);
    // Captions of buttons take the button text colour, the rest the window text colour.
    const bool buttonText = theme->element == teButton && part != BP_GROUPBOX;
    dc->save();
    if (widget)
        dc->setFont(widget->font());
    style->drawItemText(dc, rect, flags, pal, enabled, text, buttonText ? QPalette::ButtonText : QPalette::WindowText);
    dc->restore();
    return 0;
}

int DoGetThemeBackgroundContentRect(HTHEME theme, const QWidget *widget, int part, int state, const QRect &bounding,
                                    QRect *content)
{
    if (!theme || !content)
        return E_INVALIDARG;
    *content = StyleElementContentRect(theme->style.get(), widget, StyleElementFor(theme->element, part, state),
                                       bounding);
    return 0;
}

// The plain 3-D edge, in the colours of the palette the element lends.
int DoDrawThemeEdge(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state, const QRect &dest,
                    unsigned edge, unsigned flags, QRect *content)
{
    if (!theme || !dc)
        return E_INVALIDARG;
    const QPalette pal = StyleElementPalette(widget, StyleElementFor(theme->element, part, state), theme->style.get());
    QRect r = dest;
    auto line = [&](const QColor &topLeft, const QColor &bottomRight) {
        if (r.width() <= 0 || r.height() <= 0)
            return;
        if (flags & BF_TOP)
            dc->fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
        if (flags & BF_LEFT)
            dc->fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
        if (flags & BF_BOTTOM)
            dc->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
        if (flags & BF_RIGHT)
            dc->fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
        r.adjust((flags & BF_LEFT) ? 1 : 0, (flags & BF_TOP) ? 1 : 0, (flags & BF_RIGHT) ? -1 : 0,
                 (flags & BF_BOTTOM) ? -1 : 0);
    };
    // Outer line first, then inner, as a sunken or raised panel is built.
    if (edge & BDR_RAISEDOUTER)
        line(pal.color(QPalette::Midlight), pal.color(QPalette::Shadow));
    else if (edge & BDR_SUNKENOUTER)
        line(pal.color(QPalette::Dark), pal.color(QPalette::Light));
    if (edge & BDR_RAISEDINNER)
        line(pal.color(QPalette::Light), pal.color(QPalette::Dark));
    else if (edge & BDR_SUNKENINNER)
        line(pal.color(QPalette::Shadow), pal.color(QPalette::Midlight));
    if ((flags & BF_MIDDLE) && r.isValid())
        dc->fillRect(r, pal.brush(QPalette::Button));
    if (content)
        *content = (flags & BF_ADJUST) ? r : dest;
    return 0;
}

bool DoIsThemeBackgroundPartiallyTransparent(HTHEME theme, int part, int state)
{
    if (!theme)
        return false;
    const auto key = std::make_tuple(static_cast<const QStyle *>(theme->style.get()), theme->element, part, state);
    {
        std::lock_guard<std::recursive_mutex> guard(Lock());
        auto it = Lib().transparency.find(key);
        if (it != Lib().transparency.end())
            return it->second;
    }
    // Drawn on a clear sample: any pixel that is not fully covered shows through.
    const TStyleElement e = StyleElementFor(theme->element, part, state);
    bool transparent = true;
    if (e.kind != TStyleKind::None) {
        QImage sample(32, 24, QImage::Format_ARGB32_Premultiplied);
        sample.fill(Qt::transparent);
        {
            QPainter p(&sample);
            DrawStyleElement(theme->style.get(), &p, nullptr, e, sample.rect());
        }
        transparent = false;
        for (int y = 0; y < sample.height() && !transparent; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(sample.constScanLine(y));
            for (int x = 0; x < sample.width(); ++x) {
                if (qAlpha(line[x]) != 255) {
                    transparent = true;
                    break;
                }
            }
        }
    }
    std::lock_guard<std::recursive_mutex> guard(Lock());
    Lib().transparency[key] = transparent;
    return transparent;
}

bool Opaque(const QWidget *w)
{
    return w->isWindow() || w->autoFillBackground() || w->testAttribute(Qt::WA_OpaquePaintEvent) ||
           w->testAttribute(Qt::WA_StyledBackground);
}

// What lies behind the widget: its ancestors, from the nearest opaque one
// down to the parent, each drawn without its children.
int DoDrawThemeParentBackground(QWidget *window, QPainter *dc, const QRect *rect)
{
    if (!window || !dc)
        return E_INVALIDARG;
    const QRect r = rect ? *rect : window->rect();
    if (r.isEmpty())
        return 0;
    QWidget *parent = window->isWindow() ? nullptr : window->parentWidget();
    if (!parent) {
        dc->fillRect(r, window->palette().brush(QPalette::Window));
        return 0;
    }
    std::vector<QWidget *> chain;
    for (QWidget *a = parent; a; a = a->isWindow() ? nullptr : a->parentWidget()) {
        chain.push_back(a);
        if (Opaque(a))
            break;
    }
    const qreal dpr = dc->device() ? dc->device()->devicePixelRatioF() : 1.0;
    QImage img((QSizeF(r.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::transparent);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        QWidget *a = *it;
        const QPoint origin = window->mapTo(a, r.topLeft());
        const QWidget::RenderFlags flags = it == chain.rbegin() ? QWidget::DrawWindowBackground : QWidget::RenderFlags();
        a->render(&img, QPoint(), QRegion(QRect(origin, r.size())), flags);
    }
    dc->drawImage(r.topLeft(), img);
    return 0;
}

bool DoIsThemeActive()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    std::shared_ptr<QStyle> s = ActiveStyle();
    // The classic look is the desktop without a theme.
    return s && s->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) != 0;
}

bool DoIsAppThemed()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

int DoEnableThemeDialogTexture(QWidget *window, unsigned flags)
{
    if (!window)
        return E_INVALIDARG;
    window->setProperty("ThemeDialogTexture", flags);
    return 0;
}

unsigned DoGetThemeAppProperties()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return Lib().appProperties;
}

void DoSetThemeAppProperties(unsigned flags)
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    Lib().appProperties = flags & (STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS | STAP_ALLOW_WEBCONTENT);
}

void BindEntryPoints()
{
    OpenThemeData = DoOpenThemeData;
    CloseThemeData = DoCloseThemeData;
    DrawThemeBackground = DoDrawThemeBackground;
    DrawThemeText = DoDrawThemeText;
    GetThemeBackgroundContentRect = DoGetThemeBackgroundContentRect;
    DrawThemeEdge = DoDrawThemeEdge;
    IsThemeBackgroundPartiallyTransparent = DoIsThemeBackgroundPartiallyTransparent;
    DrawThemeParentBackground = DoDrawThemeParentBackground;
    IsThemeActive = DoIsThemeActive;
    IsAppThemed = DoIsAppThemed;
    EnableThemeDialogTexture = DoEnableThemeDialogTexture;
    GetThemeAppProperties = DoGetThemeAppProperties;
    SetThemeAppProperties = DoSetThemeAppProperties;
}

void ClearEntryPoints()
{
    OpenThemeData = nullptr;
    CloseThemeData = nullptr;
    DrawThemeBackground = nullptr;
    DrawThemeText = nullptr;
    GetThemeBackgroundContentRect = nullptr;
    DrawThemeEdge = nullptr;
    IsThemeBackgroundPartiallyTransparent = nullptr;
    DrawThemeParentBackground = nullptr;
    IsThemeActive = nullptr;
    IsAppThemed = nullptr;
    EnableThemeDialogTexture = nullptr;
    GetThemeAppProperties = nullptr;
    SetThemeAppProperties = nullptr;
}

// At exit every user is let go.
struct Finaliser {
    Finaliser()
    {
        // The state is made first so that it outlives this object.
        Lock();
        Lib();
    }
    ~Finaliser()
    {
        while (ThemeLibraryRefCount() > 0)
            FreeThemeLibrary();
    }
} finaliser;

} // namespace

bool InitThemeLibrary()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    Library &lib = Lib();
    ++lib.count;
    if (!lib.loaded) {
        const QStringList names =
            lib.names.isEmpty() ? QStringList{DesktopStyleName(), QStringLiteral("Fusion")} : lib.names;
        for (const QString &name : names) {
            lib.bound = CreateStyle(name);
            if (lib.bound) {
                lib.boundName = lib.bound->name();
                lib.loaded = true;
                BindEntryPoints();
                break;
            }
        }
    }
    return lib.loaded;
}

void FreeThemeLibrary()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    Library &lib = Lib();
    if (lib.count > 0)
        --lib.count;
    if (lib.loaded && lib.count == 0) {
        ClearEntryPoints();
        lib.loaded = false;
        lib.bound.reset();
        lib.boundName.clear();
        lib.theme.reset();
        lib.themeName.clear();
        lib.transparency.clear();
    }
}

bool UseThemes()
{
    return Lib().loaded && IsAppThemed && IsThemeActive && IsAppThemed() && IsThemeActive();
}

void SetThemeLibraryNames(const QStringList &names)
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    Lib().names = names;
}

int ThemeLibraryRefCount()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return Lib().count;
}

bool ThemeLibraryLoaded()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return Lib().loaded;
}

QStyle *ThemeStyle(HTHEME theme)
{
    return theme ? theme->style.get() : nullptr;
}

int OpenThemeCount()
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return Lib().openThemes;
}
