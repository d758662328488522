#pragma once
// Run-time binding of the theme library. The library is the style that draws
// the desktop's controls, created by name through the style factory on first
// use, counted, and let go with its last user. When no style can be created
// the library is "not available" and everything draws plainly.
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;
class QStyle;
class QWidget;

struct TThemeData;              // an open theme: its style and element class
using HTHEME = TThemeData *;

// Application properties (GetThemeAppProperties / SetThemeAppProperties).
inline constexpr unsigned STAP_ALLOW_NONCLIENT = 1;
inline constexpr unsigned STAP_ALLOW_CONTROLS = 2;
inline constexpr unsigned STAP_ALLOW_WEBCONTENT = 4;

// Edges and sides of DrawThemeEdge.
inline constexpr unsigned BDR_RAISEDOUTER = 1, BDR_SUNKENOUTER = 2, BDR_RAISEDINNER = 4, BDR_SUNKENINNER = 8;
inline constexpr unsigned EDGE_RAISED = 5, EDGE_SUNKEN = 10, EDGE_ETCHED = 6, EDGE_BUMP = 9;
inline constexpr unsigned BF_LEFT = 1, BF_TOP = 2, BF_RIGHT = 4, BF_BOTTOM = 8, BF_RECT = 15;
inline constexpr unsigned BF_MIDDLE = 0x800, BF_ADJUST = 0x2000;
// Second flags of DrawThemeText.
inline constexpr unsigned DTT_GRAYED = 1;
// EnableThemeDialogTexture.
inline constexpr unsigned ETDT_DISABLE = 1, ETDT_ENABLE = 2, ETDT_USETABTEXTURE = 4, ETDT_ENABLETAB = 6;

// Entry points: null until the library is bound, null again once it is let go.
// Results of the drawing calls: 0 done, else a failure code.
extern HTHEME (*OpenThemeData)(QWidget *window, const QString &classList);
extern int (*CloseThemeData)(HTHEME theme);
extern int (*DrawThemeBackground)(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state,
                                  const QRect &rect, const QRect *clip);
extern int (*DrawThemeText)(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state,
                            const QString &text, int flags, unsigned flags2, const QRect &rect);
extern int (*GetThemeBackgroundContentRect)(HTHEME theme, const QWidget *widget, int part, int state,
                                            const QRect &bounding, QRect *content);
extern int (*DrawThemeEdge)(HTHEME theme, QPainter *dc, const QWidget *widget, int part, int state,
                            const QRect &dest, unsigned edge, unsigned flags, QRect *content);
extern bool (*IsThemeBackgroundPartiallyTransparent)(HTHEME theme, int part, int state);
extern int (*DrawThemeParentBackground)(QWidget *window, QPainter *dc, const QRect *rect);
extern bool (*IsThemeActive)();
extern bool (*IsAppThemed)();
extern int (*EnableThemeDialogTexture)(QWidget *window, unsigned flags);
extern unsigned (*GetThemeAppProperties)();
extern void (*SetThemeAppProperties)(unsigned flags);

// Counts a user and binds the library when none is bound. True when bound.
bool InitThemeLibrary();
// Lets a user go; the last one unbinds the library (a count of 0 changes nothing).
void FreeThemeLibrary();
// The library is bound, the application is themed and a theme is active.
bool UseThemes();

// The style names the binding tries, in order. Empty (the default): the
// desktop's style, then Fusion. Takes effect at the next binding.
void SetThemeLibraryNames(const QStringList &names);
int ThemeLibraryRefCount();
bool ThemeLibraryLoaded();
// The style an open theme draws with; null for a null handle.
QStyle *ThemeStyle(HTHEME theme);
// Themes opened and not yet closed.
int OpenThemeCount();
