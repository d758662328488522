#pragma once
// The theme schema: element classes, their parts and states, and what each
// (class, part, state) is in the style that draws it. The part and state
// numbers are those the theme services hand to the drawing calls.
#include <QRect>
#include <QStyle>

class QPainter;
class QWidget;

// Element classes, in the order of the theme services' handle cache.
enum TThemedElement {
    teButton, teClock, teComboBox, teEdit, teExplorerBar, teHeader, teListView, teMenu, tePage, teProgress,
    teRebar, teScrollBar, teSpin, teStartPanel, teStatus, teTab, teTaskBand, teTaskBar, teToolBar, teToolTip,
    teTrackBar, teTrayNotify, teTreeView, teWindow
};
inline constexpr int ThemedElementCount = 24;

// Class name of an element, as the theme library knows it ("button", ...).
const char *ThemeClassName(int element);

// Parts of the classes the manager draws.
enum { BP_PUSHBUTTON = 1, BP_RADIOBUTTON = 2, BP_CHECKBOX = 3, BP_GROUPBOX = 4, BP_USERBUTTON = 5 };
enum { EP_EDITTEXT = 1, EP_CARET = 2 };
enum { RP_GRIPPER = 1, RP_GRIPPERVERT = 2, RP_BAND = 3, RP_CHEVRON = 4, RP_CHEVRONVERT = 5 };
enum { SP_PANE = 1, SP_GRIPPERPANE = 2, SP_GRIPPER = 3 };
enum { TABP_TABITEM = 1, TABP_TABITEMLEFTEDGE, TABP_TABITEMRIGHTEDGE, TABP_TABITEMBOTHEDGES, TABP_TOPTABITEM,
       TABP_TOPTABITEMLEFTEDGE, TABP_TOPTABITEMRIGHTEDGE, TABP_TOPTABITEMBOTHEDGES, TABP_PANE, TABP_BODY };
enum { TP_BUTTON = 1, TP_DROPDOWNBUTTON, TP_SPLITBUTTON, TP_SPLITBUTTONDROPDOWN, TP_SEPARATOR, TP_SEPARATORVERT };
enum { TKP_TRACK = 1, TKP_TRACKVERT, TKP_THUMB, TKP_THUMBBOTTOM, TKP_THUMBTOP, TKP_THUMBVERT, TKP_THUMBLEFT,
       TKP_THUMBRIGHT, TKP_TICS, TKP_TICSVERT };

// What the style draws for one (class, part, state).
enum class TStyleKind { None, Primitive, Control, Complex };

struct TStyleElement {
    TStyleKind kind = TStyleKind::None;
    int element = 0;                      // a QStyle primitive, control or complex element
    int subControls = 0;                  // complex elements: the sub-controls drawn
    QStyle::State state = QStyle::State_None;
    int variant = 0;                      // tab items: the tab position; the tab body: 1; push buttons: 1 default

    bool operator==(const TStyleElement &o) const
    {
        return kind == o.kind && element == o.element && subControls == o.subControls && state == o.state &&
               variant == o.variant;
    }
};

// The style element of a part and state of an element class (kind None when
// the class draws nothing for them).
TStyleElement StyleElementFor(int element, int part, int state);

// Draws a style element over `rect` (clipped to `clip` when given); `widget`
// lends palette, font and direction and may be null.
void DrawStyleElement(QStyle *style, QPainter *painter, const QWidget *widget, const TStyleElement &e,
                      const QRect &rect, const QRect *clip = nullptr);

// The part of `rect` left for content inside the element's border.
QRect StyleElementContentRect(QStyle *style, const QWidget *widget, const TStyleElement &e, const QRect &rect);

// The palette a widget lends, in the colour group of the element's state.
QPalette StyleElementPalette(const QWidget *widget, const TStyleElement &e, QStyle *style);
