// Themed painting of the subclassed controls: the thirteen per-class handlers,
// the themed button painter, the panel and group-box faces, keyboard cues and
// the transparency fixes.
#include "theme/ThemeMgr.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include "theme/ThemeSrv.h"

namespace {

// An owner-drawn push button with a glyph.
bool IsBitButton(const QWidget *control)
{
    auto *b = qobject_cast<const QPushButton *>(control);
    return b && !b->menu() && (!b->icon().isNull() || b->property("Glyph").isValid());
}

// A speed button the painter can draw: no menu, no arrow.
bool IsPlainSpeedButton(const QToolButton *b)
{
    return b && !b->menu() && b->arrowType() == Qt::NoArrow && b->popupMode() != QToolButton::MenuButtonPopup;
}

bool ShowsParentColor(const QWidget *w)
{
    if (!w->autoFillBackground())
        return true;
    const QWidget *parent = w->parentWidget();
    return parent && parent->palette().color(QPalette::Window) == w->palette().color(QPalette::Window);
}

// Items of a check-list box, drawn by the manager while theming is active.
class TCheckListDelegate : public QStyledItemDelegate {
public:
    TCheckListDelegate(TThemeManager *manager, QObject *parent) : QStyledItemDelegate(parent), manager_(manager) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        TThemeServices *services = ThemeServices();
        const QVariant check = index.data(Qt::CheckStateRole);
        if (!manager_ || !manager_->ThemingActive() || !services || !check.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        // The check box on the reading side, the text past it.
        const QRect checkRect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        if (selected)
            painter->fillRect(opt.rect, opt.palette.brush(QPalette::Highlight));
        const bool enabled = index.flags() & Qt::ItemIsEnabled;
        const auto state = static_cast<Qt::CheckState>(check.toInt());
        int value = state == Qt::Checked ? tbCheckBoxCheckedNormal
                    : state == Qt::PartiallyChecked ? tbCheckBoxMixedNormal : tbCheckBoxUncheckedNormal;
        if (!enabled)
            value += 3;
        services->PaintBackground(*painter, widget, ButtonDetails(value), checkRect);
        style->drawItemText(painter, textRect, int(opt.displayAlignment) | Qt::TextSingleLine, opt.palette, enabled,
                            opt.text, selected ? QPalette::HighlightedText : QPalette::Text);
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = opt.rect;
            focus.backgroundColor = opt.palette.color(selected ? QPalette::Highlight : QPalette::Base);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
        painter->restore();
    }

private:
    QPointer<TThemeManager> manager_;
};

} // namespace

QAbstractItemDelegate *TThemeManager::MakeCheckListDelegate(QWidget *list)
{
    return new TCheckListDelegate(this, list);
}

void TThemeManager::PaintParentBackground(QWidget *control, QPainter &dc, const QRect *rect)
{
    if (TThemeServices *s = Services())
        s->PaintParentBackground(control, dc, nullptr, false, rect);
}

// ---- button layout and painter

TThemeManager::TButtonLayout TThemeManager::CalcButtonLayout(const QRect &client, QSize glyph, QSize caption,
                                                             int layout, int margin, int spacing, bool rightToLeft,
                                                             QPoint offset)
{
    if (rightToLeft) {
        if (layout == 0)
            layout = 1;
        else if (layout == 1)
            layout = 0;
    }
    const bool horizontal = layout == 0 || layout == 1;
    QPoint glyphPos, textPos;
    // Centred across the layout axis.
    if (horizontal) {
        glyphPos.setY((client.height() - glyph.height() + 1) / 2);
        textPos.setY((client.height() - caption.height() + 1) / 2);
    } else {
        glyphPos.setX((client.width() - glyph.width() + 1) / 2);
        textPos.setX((client.width() - caption.width() + 1) / 2);
    }
    if (glyph.isEmpty())
        glyph = QSize(0, 0);
    if (caption.isEmpty())
        caption = QSize(0, 0);
    if (glyph.isEmpty() || caption.isEmpty())
        spacing = 0;
    const int space = horizontal ? client.width() : client.height();
    const int g = horizontal ? glyph.width() : glyph.height();
    const int c = horizontal ? caption.width() : caption.height();
    if (margin == -1) {
        if (spacing == -1) {
            margin = spacing = (space - g - c) / 3;
        } else {
            margin = (space - g - spacing - c + 1) / 2;
        }
    } else if (spacing == -1) {
        spacing = (space - margin - g - c) / 2;
    }
    switch (layout) {
    case 0:
        glyphPos.setX(margin);
        textPos.setX(glyphPos.x() + g + spacing);
        break;
    case 1:
        glyphPos.setX(space - margin - g);
        textPos.setX(glyphPos.x() - spacing - c);
        break;
    case 2:
        glyphPos.setY(margin);
        textPos.setY(glyphPos.y() + g + spacing);
        break;
    default:
        glyphPos.setY(space - margin - g);
        textPos.setY(glyphPos.y() - spacing - c);
        break;
    }
    const QPoint origin = client.topLeft() + offset;
    return TButtonLayout{QRect(origin + glyphPos, glyph), QRect(origin + textPos, caption)};
}

int TThemeManager::GlyphIndex(int numGlyphs, bool enabled, bool pressedOrDown, bool exclusive)
{
    if (!enabled)
        return numGlyphs >= 2 ? 1 : 0;
    if (exclusive && numGlyphs >= 4)
        return 3;
    if (pressedOrDown && numGlyphs >= 3)
        return 2;
    return 0;
}

void TThemeManager::PaintThemedButton(QWidget *control, int state, bool focused, const QRect &rect, QPainter &dc)
{
    TThemeServices *services = Services();
    if (!services)
        return;
    auto *button = qobject_cast<QAbstractButton *>(control);
    auto *tool = qobject_cast<QToolButton *>(control);
    const bool flat = tool && tool->autoRaise();
    const qreal dpr = dc.device() ? dc.device()->devicePixelRatioF() : 1.0;
    // 1. The glyph.
    QPixmap glyph;
    const QVariant strip = control->property("Glyph");
    const bool down = button && (button->isDown() || button->isChecked());
    if (strip.isValid()) {
        const QPixmap all = strip.value<QPixmap>();
        const int count = std::max(1, control->property("NumGlyphs").toInt());
        const int width = all.width() / count;
        const bool exclusive = button && button->isChecked() && button->autoExclusive();
        const int index = GlyphIndex(count, state != 5, state == 4 || (tool && down), exclusive);
        glyph = all.copy(index * width, 0, width, all.height());
        if (!glyph.hasAlphaChannel() && !glyph.isNull()) {
            // The glyph's transparent colour: its bottom-left pixel.
            const QImage img = glyph.toImage();
            glyph.setMask(QBitmap::fromImage(img.createMaskFromColor(img.pixel(0, img.height() - 1), Qt::MaskInColor)));
        }
    } else if (button && !button->icon().isNull() && !(tool && tool->toolButtonStyle() == Qt::ToolButtonTextOnly)) {
        QIcon::Mode mode = QIcon::Normal;
        if (state == 5)
            mode = QIcon::Disabled;
        else if (flat && state == 3)
            mode = QIcon::Active;
        glyph = button->icon().pixmap(button->iconSize(), dpr, mode, button->isChecked() ? QIcon::On : QIcon::Off);
    }
    QString caption = button ? button->text() : QString();
    if (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !glyph.isNull())
        caption.clear();
    // 2. The background.
    const ThemeElementDetails details =
        flat ? ToolBarDetails(ttbButtonNormal + std::clamp(state, 2, 5) - 2) : ButtonDetails(std::clamp(state, 2, 6));
    services->PaintBackground(dc, control, details, rect);
    const QRect content = services->BackgroundContentRect(control, details, rect);
    // 3. The layout.
    QStyle *style = services->Style(details.Element);
    if (!style)
        style = control->style();
    const QFontMetrics fm = control->fontMetrics();
    const QSize captionSize = caption.isEmpty() ? QSize() : fm.size(Qt::TextShowMnemonic, caption);
    const QSize glyphSize = glyph.isNull() ? QSize() : (QSizeF(glyph.size()) / glyph.devicePixelRatio()).toSize();
    const int layout = tool && tool->toolButtonStyle() == Qt::ToolButtonTextUnderIcon ? 2 : 0;
    QPoint offset;
    if (state == 4)
        offset = QPoint(style->pixelMetric(QStyle::PM_ButtonShiftHorizontal, nullptr, control),
                        style->pixelMetric(QStyle::PM_ButtonShiftVertical, nullptr, control));
    const TButtonLayout place = CalcButtonLayout(content, glyphSize, captionSize, layout, -1, 4,
                                                 control->layoutDirection() == Qt::RightToLeft, offset);
    // 4. The caption.
    if (!caption.isEmpty()) {
        QPalette pal = control->palette();
        pal.setCurrentColorGroup(state == 5 ? QPalette::Disabled : pal.currentColorGroup());
        dc.save();
        dc.setFont(control->font());
        const int mnemonic = HidesAccelerators(control) ? Qt::TextHideMnemonic : Qt::TextShowMnemonic;
        style->drawItemText(&dc, place.Caption, Qt::AlignCenter | mnemonic, pal, state != 5, caption,
                            QPalette::ButtonText);
        dc.restore();
    }
    // 5. The glyph.
    if (!glyph.isNull())
        dc.drawPixmap(place.Glyph.topLeft(), glyph);
    // 6. The focus.
    if (focused && !HidesFocus(control)) {
        QStyleOptionFocusRect focus;
        focus.initFrom(control);
        focus.rect = content;
        focus.backgroundColor = control->palette().color(QPalette::Button);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &dc, control);
    }
}

// ---- keyboard cues

void TThemeManager::KeyboardCues(QWidget *control, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return;
    const int key = static_cast<QKeyEvent *>(event)->key();
    int flags = 0;
    if (key == Qt::Key_Alt)
        flags = UISF_HIDEACCEL;
    else if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Left || key == Qt::Key_Right ||
             key == Qt::Key_Up || key == Qt::Key_Down)
        flags = UISF_HIDEFOCUS;
    if (!flags)
        return;
    if (QWidget *form = control->window()) {
        TUIStateEvent change(UIS_CLEAR, flags);
        QCoreApplication::sendEvent(form, &change);
    }
}

void TThemeManager::ApplyUIState(QWidget *form, int action, int flags)
{
    const bool show = action == UIS_CLEAR;
    bool changed = false;
    if (flags & UISF_HIDEFOCUS) {
        changed |= form->testAttribute(Qt::WA_KeyboardFocusChange) != show;
        form->setAttribute(Qt::WA_KeyboardFocusChange, show);
    }
    if (flags & UISF_HIDEACCEL) {
        changed |= HidesAccelerators(form) == show;
        form->setProperty("UIStateShowAccel", show);
    }
    if (changed) {
        form->update();
        for (QWidget *w : form->findChildren<QWidget *>())
            w->update();
    }
}

// ---- transparency fixes

void TThemeManager::ApplyTransparencyFixes(QWidget *form)
{
    const bool active = ThemingActive();
    for (QWidget *w : form->findChildren<QWidget *>()) {
        if (active && EnableThemeDialogTexture)
            EnableThemeDialogTexture(w, ETDT_ENABLETAB);
        if ((options_ & Bit(toSetTransparency)) && (qobject_cast<QToolBar *>(w) || qobject_cast<QLabel *>(w)))
            w->setAutoFillBackground(false);
        // Tool bar buttons take the mouse on press by the toolkit's own rules:
        // there is no capture flag to reset.
    }
}

void TThemeManager::TransparencyFixes(QWidget *formOrNull)
{
    if (formOrNull) {
        ApplyTransparencyFixes(formOrNull);
        return;
    }
    for (QWidget *form : ScreenForms())
        ApplyTransparencyFixes(form);
}

// ---- the handlers

bool TThemeManager::AnimateWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    // Nothing is erased; a transparent animation is shown on its own colour.
    if (event->type() == QEvent::Paint && !control->autoFillBackground()) {
        QPainter p(control);
        p.fillRect(control->rect(), control->palette().brush(control->backgroundRole()));
    }
    return false;
}

bool TThemeManager::ButtonControlWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    TThemeServices *services = Services();
    switch (event->type()) {
    case QEvent::Paint: {
        if (IsBitButton(control)) {
            auto *b = static_cast<QPushButton *>(control);
            int state;
            if (!b->isEnabled())
                state = 5;
            else if (b->isDown())
                state = 4;
            else if (QApplication::widgetAt(QCursor::pos()) == b)
                state = 3;
            else if (!b->isDefault() && !b->hasFocus())
                state = 2;
            else
                state = 6;
            QPainter p(control);
            const ThemeElementDetails push = ButtonDetails(tbPushButtonNormal);
            services->PaintParentBackground(control, p, &push, true);
            PaintThemedButton(control, state, b->hasFocus(), control->rect(), p);
            return true;
        }
        // The button shows its parent's background, not a brush of its own.
        if (control->autoFillBackground()) {
            QPainter p(control);
            PaintParentBackground(control, p);
        }
        return false;
    }
    case QEvent::KeyPress:
        KeyboardCues(control, event);
        return false;
    case QEvent::Enter:
    case QEvent::Leave:
        if (IsBitButton(control))
            control->update();
        return false;
    default:
        return false;
    }
}

bool TThemeManager::CheckListBoxWindowProc(QWidget *, QEvent *)
{
    // The items are drawn by the manager's delegate; everything else is the control's.
    return false;
}

bool TThemeManager::FormWindowProc(QWidget *control, QEvent *event)
{
    if (event->type() == TUIStateEvent::Type()) {
        auto *e = static_cast<TUIStateEvent *>(event);
        ApplyUIState(control, e->Action, e->Flags);
        return true;
    }
    return false;
}

bool TThemeManager::FrameWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    if (event->type() == QEvent::Paint) {
        // A container shows its parent's background; its controls paint themselves.
        if (control->autoFillBackground()) {
            QPainter p(control);
            PaintParentBackground(control, p);
        }
        return false;
    }
    return false;
}

void TThemeManager::PaintGroupBox(QWidget *control, QPainter &dc)
{
    TThemeServices *services = Services();
    auto *box = static_cast<QGroupBox *>(control);
    const ThemeElementDetails details = ButtonDetails(box->isEnabled() ? tbGroupBoxNormal : tbGroupBoxDisabled);
    const QString caption = box->title();
    QRect frame = box->rect();
    QRect captionRect;
    if (!caption.isEmpty()) {
        const QSize size = box->fontMetrics().size(Qt::TextShowMnemonic, caption);
        captionRect = box->layoutDirection() == Qt::RightToLeft
                          ? QRect(frame.right() - 8 - size.width() + 1, frame.top(), size.width(), size.height())
                          : QRect(frame.left() + 8, frame.top(), size.width(), size.height());
        frame.setTop(frame.top() + size.height() / 2);
        dc.setClipRegion(QRegion(box->rect()).subtracted(QRegion(captionRect)));
    }
    services->PaintBackground(dc, control, details, frame);
    dc.setClipping(false);
    if (!caption.isEmpty()) {
        const int mnemonic = HidesAccelerators(control) ? Qt::TextHideMnemonic : Qt::TextShowMnemonic;
        services->PaintText(dc, control, details, caption, captionRect, Qt::AlignLeft | Qt::AlignVCenter | mnemonic);
    }
}

bool TThemeManager::GroupBoxWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    auto *box = static_cast<QGroupBox *>(control);
    switch (event->type()) {
    case QEvent::Paint: {
        if (box->isCheckable())
            return false; // a title with a check box is the control's own
        QPainter p(control);
        if (control->autoFillBackground()) {
            const ThemeElementDetails frame = ButtonDetails(tbGroupBoxNormal);
            Services()->PaintParentBackground(control, p, &frame, true);
        }
        PaintGroupBox(control, p);
        return true;
    }
    case QEvent::KeyPress:
        KeyboardCues(control, event);
        return false;
    default:
        return false;
    }
}

bool TThemeManager::ListViewWindowProc(QWidget *, QEvent *)
{
    // Columns without an image take no room for one here: nothing to mend.
    return false;
}

void TThemeManager::PaintPanelFace(QWidget *control, QPainter &dc)
{
    TThemeServices *services = Services();
    auto *panel = static_cast<QFrame *>(control);
    // The face: the parent's background, or the panel's colour (the same one).
    if (!panel->autoFillBackground())
        PaintParentBackground(control, dc);
    else
        dc.fillRect(panel->rect(), panel->palette().brush(QPalette::Window));
    // The bevels, as the style draws a frame of this shape.
    const QFrame::Shape shape = panel->frameShape();
    const QFrame::Shadow shadow = panel->frameShadow();
    if (shape == QFrame::NoFrame)
        return;
    if (shape == QFrame::WinPanel && shadow == QFrame::Sunken) {
        // The panel's border: the theme's sunken edge.
        services->PaintEdge(dc, control, RebarDetails(trBandNormal), panel->rect(), EDGE_SUNKEN, BF_RECT);
        return;
    }
    QStyle *style = services->Style(teButton);
    if (!style)
        style = control->style();
    QStyleOptionFrame opt;
    opt.initFrom(panel);
    opt.rect = panel->frameRect();
    opt.frameShape = shape;
    if (shape == QFrame::Box || shape == QFrame::StyledPanel || shape == QFrame::Panel) {
        opt.lineWidth = panel->lineWidth();
        opt.midLineWidth = panel->midLineWidth();
    } else {
        opt.lineWidth = panel->frameWidth();
    }
    if (shadow == QFrame::Sunken)
        opt.state |= QStyle::State_Sunken;
    else if (shadow == QFrame::Raised)
        opt.state |= QStyle::State_Raised;
    style->drawControl(QStyle::CE_ShapedFrame, &opt, &dc, control);
}

bool TThemeManager::PanelWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive() || !ShowsParentColor(control))
        return false;
    if (event->type() == QEvent::Paint) {
        QPainter p(control);
        PaintPanelFace(control, p);
        return true;
    }
    return false;
}

bool TThemeManager::SpeedButtonWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    auto *b = static_cast<QToolButton *>(control);
    if (!IsPlainSpeedButton(b))
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        int state;
        if (!b->isEnabled())
            state = 5;
        else if (b->isDown() || b->isChecked())
            state = 4;
        else if (b->autoRaise() ? b->underMouse() : QApplication::widgetAt(QCursor::pos()) == b)
            state = 3;
        else
            state = 2;
        QPainter p(control);
        PaintParentBackground(control, p);
        PaintThemedButton(control, state, false, control->rect(), p);
        return true;
    }
    case QEvent::Enter:
    case QEvent::Leave:
        if (b->isEnabled() && !b->autoRaise())
            control->update();
        return false;
    default:
        return false;
    }
}

bool TThemeManager::StatusBarWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        {
            QPainter p(control);
            Services()->PaintBackground(p, control, StatusDetails(tsStatusRoot), control->rect());
        }
        return false;
    }
    case QEvent::Resize:
        // A resized bar repaints whole.
        control->update();
        return false;
    default:
        return false;
    }
}

bool TThemeManager::TabSheetWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    if (event->type() == QEvent::Paint) {
        QPainter p(control);
        if (options_ & Bit(toAlternateTabSheetDraw))
            Services()->PaintBackground(p, control, TabDetails(ttBody), control->rect());
        else
            PaintParentBackground(control, p);
        return false;
    }
    return false;
}

bool TThemeManager::TrackBarWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    if (event->type() == QEvent::Paint && control->autoFillBackground()) {
        // Behind the ticks and the channel lies the parent's background (less
        // the focus border while the focus is shown).
        QRect r = control->rect();
        if (control->hasFocus() && !HidesFocus(control)) {
            QStyle *style = control->style();
            const int fx = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, control);
            const int fy = style->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, control);
            r.adjust(fx, fy, -fx, -fy);
        }
        QPainter p(control);
        PaintParentBackground(control, p, &r);
    }
    return false;
}

bool TThemeManager::WinControlWindowProc(QWidget *control, QEvent *event)
{
    if (!ThemingActive())
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        // A scrolling container, or a static text, shows its parent's background.
        if (control->autoFillBackground() &&
            (qobject_cast<QScrollArea *>(control) || qobject_cast<QLabel *>(control))) {
            QPainter p(control);
            PaintParentBackground(control, p);
        }
        auto *frame = qobject_cast<QFrame *>(control);
        if (frame && frame->frameShadow() == QFrame::Sunken &&
            (frame->frameShape() == QFrame::Panel || frame->frameShape() == QFrame::WinPanel ||
             frame->frameShape() == QFrame::StyledPanel) &&
            frame->frameWidth() > 0) {
            List(ccWinControl)->DispatchNow(control, event);
            Services()->PaintClientEdge(control, qobject_cast<QTableView *>(control) != nullptr);
            return true;
        }
        return false;
    }
    case QEvent::KeyPress:
        KeyboardCues(control, event);
        return false;
    default:
        return false;
    }
}
