// The theme schema: which style element stands for each part and state.
#include "theme/TmSchema.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>
#include <QWidget>

namespace {

const char *const ClassNames[ThemedElementCount] = {
    "button", "clock",   "combobox",  "edit",   "explorerbar", "header",  "listview",   "menu",
    "page",   "progress", "rebar",    "scrollbar", "spin",     "startpanel", "status",  "tab",
    "taskband", "taskbar", "toolbar", "tooltip", "trackbar",   "traynotify", "treeview", "window"};

using S = QStyle;

// Enabled normal, hot, pressed, disabled: the four states most parts share.
S::State CommonState(int index)
{
    switch (index) {
    case 0: return S::State_Enabled;
    case 1: return S::State_Enabled | S::State_MouseOver;
    case 2: return S::State_Enabled | S::State_Sunken;
    default: return S::State_None; // disabled
    }
}

TStyleElement Prim(S::PrimitiveElement pe, S::State st, int variant = 0)
{
    return TStyleElement{TStyleKind::Primitive, static_cast<int>(pe), 0, st, variant};
}

TStyleElement Ctrl(S::ControlElement ce, S::State st, int variant = 0)
{
    return TStyleElement{TStyleKind::Control, static_cast<int>(ce), 0, st, variant};
}

TStyleElement Cplx(S::ComplexControl cc, int sub, S::State st)
{
    return TStyleElement{TStyleKind::Complex, static_cast<int>(cc), sub, st, 0};
}

TStyleElement ButtonElement(int part, int state)
{
    switch (part) {
    case BP_PUSHBUTTON:
        switch (state) {
        case 1: return Ctrl(S::CE_PushButtonBevel, S::State_Enabled | S::State_Raised);
        case 2: return Ctrl(S::CE_PushButtonBevel, S::State_Enabled | S::State_Raised | S::State_MouseOver);
        case 3: return Ctrl(S::CE_PushButtonBevel, S::State_Enabled | S::State_Sunken);
        case 4: return Ctrl(S::CE_PushButtonBevel, S::State_Raised);
        case 5: return Ctrl(S::CE_PushButtonBevel, S::State_Enabled | S::State_Raised, 1);
        }
        break;
    case BP_RADIOBUTTON:
        if (state >= 1 && state <= 8)
            return Prim(S::PE_IndicatorRadioButton,
                        CommonState((state - 1) % 4) | (state <= 4 ? S::State_Off : S::State_On));
        break;
    case BP_CHECKBOX:
        if (state >= 1 && state <= 12) {
            const S::State check = state <= 4 ? S::State_Off : state <= 8 ? S::State_On : S::State_NoChange;
            return Prim(S::PE_IndicatorCheckBox, CommonState((state - 1) % 4) | check);
        }
        break;
    case BP_GROUPBOX:
        if (state == 1 || state == 2)
            return Prim(S::PE_FrameGroupBox, state == 1 ? S::State_Enabled : S::State_None);
        break;
    case BP_USERBUTTON:
        if (state == 1)
            return Prim(S::PE_PanelButtonBevel, S::State_Enabled | S::State_Raised);
        break;
    }
    return {};
}

TStyleElement EditElement(int part, int state)
{
    if (part != EP_EDITTEXT)
        return {}; // the caret is drawn by the control itself
    switch (state) {
    case 1: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken);
    case 2: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken | S::State_MouseOver);
    case 3: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken | S::State_Selected);
    case 4: return Prim(S::PE_FrameLineEdit, S::State_Sunken);
    case 5: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken | S::State_HasFocus);
    case 6: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken | S::State_ReadOnly);
    case 7: return Prim(S::PE_FrameLineEdit, S::State_Enabled | S::State_Sunken);
    }
    return {};
}

// Tool bar buttons and rebar bands: normal, hot, pressed, disabled, checked, hot checked.
S::State ToolState(int state)
{
    const S::State raise = S::State_AutoRaise;
    switch (state) {
    case 1: return S::State_Enabled | raise;
    case 2: return S::State_Enabled | raise | S::State_MouseOver | S::State_Raised;
    case 3: return S::State_Enabled | raise | S::State_Sunken;
    case 4: return raise;
    case 5: return S::State_Enabled | raise | S::State_On;
    case 6: return S::State_Enabled | raise | S::State_On | S::State_MouseOver;
    }
    return S::State_None;
}

TStyleElement RebarElement(int part, int state)
{
    switch (part) {
    case 0: return Prim(S::PE_PanelToolBar, S::State_Enabled | S::State_Horizontal);
    case RP_GRIPPER: return Prim(S::PE_IndicatorToolBarHandle, S::State_Enabled | S::State_Horizontal);
    case RP_GRIPPERVERT: return Prim(S::PE_IndicatorToolBarHandle, S::State_Enabled);
    case RP_BAND:
        if (state >= 1 && state <= 6)
            return Prim(S::PE_PanelToolBar, (ToolState(state) & ~S::State_AutoRaise) | S::State_Horizontal);
        break;
    case RP_CHEVRON:
        if (state >= 1 && state <= 4)
            return Prim(S::PE_IndicatorArrowDown, CommonState(state - 1));
        break;
    case RP_CHEVRONVERT:
        if (state >= 1 && state <= 4)
            return Prim(S::PE_IndicatorArrowRight, CommonState(state - 1));
        break;
    }
    return {};
}

TStyleElement StatusElement(int part, int state)
{
    switch (part) {
    case 0: return Prim(S::PE_PanelStatusBar, S::State_Enabled);
    case SP_PANE:
    case SP_GRIPPERPANE: return state == 1 ? Prim(S::PE_FrameStatusBarItem, S::State_Enabled) : TStyleElement{};
    case SP_GRIPPER: return state == 1 ? Ctrl(S::CE_SizeGrip, S::State_Enabled) : TStyleElement{};
    }
    return {};
}

TStyleElement TabElement(int part, int state)
{
    if (part == 0 || part == TABP_PANE)
        return Prim(S::PE_FrameTabWidget, S::State_Enabled);
    if (part == TABP_BODY)
        return Prim(S::PE_FrameTabWidget, S::State_Enabled, 1);
    if (part < TABP_TABITEM || part > TABP_TOPTABITEMBOTHEDGES || state < 1 || state > 5)
        return {};
    static const int positions[4] = {QStyleOptionTab::Middle, QStyleOptionTab::Beginning, QStyleOptionTab::End,
                                     QStyleOptionTab::OnlyOneTab};
    const int position = positions[(part - 1) % 4];
    S::State st = S::State_None;
    switch (state) {
    case 1: st = S::State_Enabled; break;
    case 2: st = S::State_Enabled | S::State_MouseOver; break;
    case 3: st = S::State_Enabled | S::State_Selected; break;
    case 4: st = S::State_None; break;
    case 5: st = S::State_Enabled | S::State_HasFocus; break;
    }
    return Ctrl(S::CE_TabBarTabShape, st, position);
}

TStyleElement ToolBarElement(int part, int state)
{
    switch (part) {
    case 0: return Prim(S::PE_PanelToolBar, S::State_Enabled | S::State_Horizontal);
    case TP_BUTTON:
    case TP_DROPDOWNBUTTON:
    case TP_SPLITBUTTON:
        if (state >= 1 && state <= 6)
            return Prim(S::PE_PanelButtonTool, ToolState(state));
        break;
    case TP_SPLITBUTTONDROPDOWN:
        if (state >= 1 && state <= 6)
            return Prim(S::PE_IndicatorButtonDropDown, ToolState(state));
        break;
    case TP_SEPARATOR: return Prim(S::PE_IndicatorToolBarSeparator, S::State_Enabled | S::State_Horizontal);
    case TP_SEPARATORVERT: return Prim(S::PE_IndicatorToolBarSeparator, S::State_Enabled);
    }
    return {};
}

TStyleElement TrackBarElement(int part, int state)
{
    switch (part) {
    case TKP_TRACK: return Cplx(S::CC_Slider, S::SC_SliderGroove, S::State_Enabled | S::State_Horizontal);
    case TKP_TRACKVERT: return Cplx(S::CC_Slider, S::SC_SliderGroove, S::State_Enabled);
    case TKP_TICS: return Cplx(S::CC_Slider, S::SC_SliderTickmarks, S::State_Enabled | S::State_Horizontal);
    case TKP_TICSVERT: return Cplx(S::CC_Slider, S::SC_SliderTickmarks, S::State_Enabled);
    }
    if (part >= TKP_THUMB && part <= TKP_THUMBRIGHT && state >= 1 && state <= 5) {
        const bool horizontal = part <= TKP_THUMBTOP;
        S::State st = S::State_None;
        switch (state) {
        case 1: st = S::State_Enabled; break;
        case 2: st = S::State_Enabled | S::State_MouseOver; break;
        case 3: st = S::State_Enabled | S::State_Sunken; break;
        case 4: st = S::State_Enabled | S::State_HasFocus; break;
        case 5: st = S::State_None; break;
        }
        return Cplx(S::CC_Slider, S::SC_SliderHandle, st | (horizontal ? S::State_Horizontal : S::State_None));
    }
    return {};
}

void InitOption(QStyleOption &opt, const QWidget *widget, const TStyleElement &e, const QRect &rect,
                QStyle *style)
{
    if (widget) {
        opt.initFrom(widget);
        // Only what belongs to the window, not the widget's own state, is kept.
        opt.state &= (S::State_Active | S::State_Window | S::State_KeyboardFocusChange);
    } else {
        opt.palette = style->standardPalette();
        opt.state = S::State_Active;
    }
    opt.state |= e.state;
    opt.palette = StyleElementPalette(widget, e, style);
    opt.rect = rect;
}

} // namespace

const char *ThemeClassName(int element)
{
    return element >= 0 && element < ThemedElementCount ? ClassNames[element] : "";
}

TStyleElement StyleElementFor(int element, int part, int state)
{
    switch (element) {
    case teButton: return ButtonElement(part, state);
    case teEdit: return EditElement(part, state);
    case teRebar: return RebarElement(part, state);
    case teStatus: return StatusElement(part, state);
    case teTab: return TabElement(part, state);
    case teToolBar: return ToolBarElement(part, state);
    case teTrackBar: return TrackBarElement(part, state);
    default: return {};
    }
}

QPalette StyleElementPalette(const QWidget *widget, const TStyleElement &e, QStyle *style)
{
    QPalette pal = widget ? widget->palette() : style->standardPalette();
    if (!(e.state & S::State_Enabled))
        pal.setCurrentColorGroup(QPalette::Disabled);
    else if (widget && !widget->isActiveWindow() && widget->isVisible())
        pal.setCurrentColorGroup(QPalette::Inactive);
    else
        pal.setCurrentColorGroup(QPalette::Active);
    return pal;
}

void DrawStyleElement(QStyle *style, QPainter *painter, const QWidget *widget, const TStyleElement &e,
                      const QRect &rect, const QRect *clip)
{
    if (!style || !painter || e.kind == TStyleKind::None || rect.isEmpty())
        return;
    painter->save();
    if (clip)
        painter->setClipRect(*clip, Qt::IntersectClip);
    switch (e.kind) {
    case TStyleKind::Primitive: {
        const auto pe = static_cast<S::PrimitiveElement>(e.element);
        if (pe == S::PE_IndicatorCheckBox || pe == S::PE_IndicatorRadioButton) {
            QStyleOptionButton opt;
            InitOption(opt, widget, e, rect, style);
            style->drawPrimitive(pe, &opt, painter, widget);
        } else if (pe == S::PE_FrameTabWidget) {
            QStyleOptionTabWidgetFrame opt;
            InitOption(opt, widget, e, rect, style);
            opt.lineWidth = style->pixelMetric(S::PM_DefaultFrameWidth, nullptr, widget);
            if (e.variant == 1) {
                // The body: the pane's inside, without its border.
                const int fw = opt.lineWidth;
                opt.rect = rect.adjusted(-fw, -fw, fw, fw);
                painter->setClipRect(rect, Qt::IntersectClip);
            }
            style->drawPrimitive(pe, &opt, painter, widget);
        } else if (pe == S::PE_FrameGroupBox || pe == S::PE_FrameLineEdit || pe == S::PE_FrameStatusBarItem) {
            QStyleOptionFrame opt;
            InitOption(opt, widget, e, rect, style);
            opt.lineWidth = pe == S::PE_FrameGroupBox ? 1 : style->pixelMetric(S::PM_DefaultFrameWidth, nullptr, widget);
            opt.midLineWidth = 0;
            style->drawPrimitive(pe, &opt, painter, widget);
        } else if (pe == S::PE_PanelButtonTool || pe == S::PE_IndicatorButtonDropDown) {
            QStyleOptionToolButton opt;
            InitOption(opt, widget, e, rect, style);
            // An auto-raised button shows a panel only when hot, pressed or checked.
            if (!(e.state & S::State_AutoRaise) || (opt.state & (S::State_Sunken | S::State_On | S::State_Raised)))
                style->drawPrimitive(pe, &opt, painter, widget);
        } else {
            QStyleOption opt;
            InitOption(opt, widget, e, rect, style);
            style->drawPrimitive(pe, &opt, painter, widget);
        }
        break;
    }
    case TStyleKind::Control: {
        const auto ce = static_cast<S::ControlElement>(e.element);
        if (ce == S::CE_PushButtonBevel) {
            QStyleOptionButton opt;
            InitOption(opt, widget, e, rect, style);
            if (e.variant == 1)
                opt.features |= QStyleOptionButton::DefaultButton;
            style->drawControl(ce, &opt, painter, widget);
        } else if (ce == S::CE_TabBarTabShape) {
            QStyleOptionTab opt;
            InitOption(opt, widget, e, rect, style);
            opt.shape = QTabBar::RoundedNorth;
            opt.position = static_cast<QStyleOptionTab::TabPosition>(e.variant);
            style->drawControl(ce, &opt, painter, widget);
        } else if (ce == S::CE_SizeGrip) {
            QStyleOptionSizeGrip opt;
            InitOption(opt, widget, e, rect, style);
            opt.corner = Qt::BottomRightCorner;
            style->drawControl(ce, &opt, painter, widget);
        } else {
            QStyleOption opt;
            InitOption(opt, widget, e, rect, style);
            style->drawControl(ce, &opt, painter, widget);
        }
        break;
    }
    case TStyleKind::Complex: {
        QStyleOptionSlider opt;
        InitOption(opt, widget, e, rect, style);
        opt.orientation = (e.state & S::State_Horizontal) ? Qt::Horizontal : Qt::Vertical;
        opt.minimum = 0;
        opt.maximum = 10;
        opt.sliderPosition = opt.sliderValue = 0;
        opt.tickPosition = QSlider::TicksBelow;
        opt.tickInterval = 1;
        opt.subControls = static_cast<S::SubControls>(e.subControls);
        if (e.state & S::State_MouseOver)
            opt.activeSubControls = static_cast<S::SubControls>(e.subControls);
        style->drawComplexControl(static_cast<S::ComplexControl>(e.element), &opt, painter, widget);
        break;
    }
    case TStyleKind::None:
        break;
    }
    painter->restore();
}

QRect StyleElementContentRect(QStyle *style, const QWidget *widget, const TStyleElement &e, const QRect &rect)
{
    if (!style || e.kind == TStyleKind::None)
        return rect;
    if (e.kind == TStyleKind::Control && e.element == S::CE_PushButtonBevel) {
        QStyleOptionButton opt;
        InitOption(opt, widget, e, rect, style);
        return style->subElementRect(S::SE_PushButtonContents, &opt, widget);
    }
    if (e.kind == TStyleKind::Primitive &&
        (e.element == S::PE_PanelButtonTool || e.element == S::PE_FrameGroupBox || e.element == S::PE_FrameLineEdit ||
         e.element == S::PE_FrameTabWidget)) {
        if (e.element == S::PE_FrameTabWidget && e.variant == 1)
            return rect;
        const int fw = style->pixelMetric(S::PM_DefaultFrameWidth, nullptr, widget);
        return rect.adjusted(fw, fw, -fw, -fw);
    }
    return rect;
}
