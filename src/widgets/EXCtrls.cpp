#include "widgets/EXCtrls.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <QTimer>

#include <algorithm>

#include "platform/Prompt.h"
#include "widgets/ExDrawUtils.h"

// ---- glyph lists and the cache

TGlyphList::TGlyphList(int width, int height) : FWidth(std::max(0, width)), FHeight(std::max(0, height)) {}

int TGlyphList::Add(const QImage &image)
{
    QImage slot(FWidth, FHeight, QImage::Format_ARGB32_Premultiplied);
    slot.fill(Qt::transparent);
    {
        QPainter p(&slot);
        p.drawImage(0, 0, image);
    }
    auto free = std::find(FUsed.begin(), FUsed.end(), false);
    int index;
    if (free == FUsed.end()) {
        index = static_cast<int>(FImages.size());
        FImages.push_back(slot);
        FUsed.push_back(true);
    } else {
        index = static_cast<int>(free - FUsed.begin());
        FImages[static_cast<size_t>(index)] = slot;
        *free = true;
    }
    ++FCount;
    return index;
}

int TGlyphList::AddMasked(const QImage &image, QColor maskColor)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = maskColor.rgb() & 0xFFFFFF;
    for (int y = 0; y < copy.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x)
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
    }
    return Add(copy);
}

void TGlyphList::Delete(int index)
{
    if (index < 0 || index >= Capacity() || !FUsed[static_cast<size_t>(index)])
        return;
    FUsed[static_cast<size_t>(index)] = false;
    FImages[static_cast<size_t>(index)] = QImage();
    --FCount;
}

QImage TGlyphList::Image(int index) const
{
    if (index < 0 || index >= Capacity() || !FUsed[static_cast<size_t>(index)])
        return QImage();
    return FImages[static_cast<size_t>(index)];
}

void TGlyphList::Draw(QPainter &painter, int x, int y, int index) const
{
    const QImage img = Image(index);
    if (!img.isNull())
        painter.drawImage(x, y, img);
}

TGlyphList *TGlyphCache::GetList(int width, int height)
{
    for (auto it = FLists.rbegin(); it != FLists.rend(); ++it)
        if ((*it)->Width() == width && (*it)->Height() == height)
            return it->get();
    FLists.push_back(std::make_unique<TGlyphList>(width, height));
    return FLists.back().get();
}

void TGlyphCache::ReturnList(TGlyphList *list)
{
    if (!list || list->Count() != 0)
        return;
    auto it = std::find_if(FLists.begin(), FLists.end(), [&](const auto &l) { return l.get() == list; });
    if (it != FLists.end())
        FLists.erase(it);
}

namespace {

TGlyphCache *gGlyphCache = nullptr;
int gGlyphObjects = 0;

QColor FrameColour(const QPalette &pal)
{
    return pal.color(QPalette::Shadow);
}

// One-pixel frame: top and left in one colour, bottom and right in the
// other; the area shrinks by one.
void Frame3D(QPainter &p, QRect &r, QColor topLeft, QColor bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    p.setPen(topLeft);
    p.drawLine(r.left(), r.bottom(), r.left(), r.top());
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.setPen(bottomRight);
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    p.drawLine(r.right(), r.bottom(), r.left(), r.bottom());
    r.adjust(1, 1, -1, -1);
}

} // namespace

TGlyphCache *GlyphCache()
{
    return gGlyphCache;
}

// ---- glyph

TExButtonGlyph::TExButtonGlyph()
{
    if (!gGlyphCache)
        gGlyphCache = new TGlyphCache;
    ++gGlyphObjects;
}

TExButtonGlyph::~TExButtonGlyph()
{
    Invalidate();
    if (--gGlyphObjects == 0 && gGlyphCache && gGlyphCache->Empty()) {
        delete gGlyphCache;
        gGlyphCache = nullptr;
    }
}

void TExButtonGlyph::Invalidate()
{
    if (FGlyphList) {
        for (int &index : FIndexs) {
            if (index >= 0)
                FGlyphList->Delete(index);
        }
        if (gGlyphCache)
            gGlyphCache->ReturnList(FGlyphList);
        FGlyphList = nullptr;
    }
    FIndexs.fill(-1);
}

void TExButtonGlyph::SetGlyph(const QImage &glyph)
{
    Invalidate();
    FOriginal = glyph;
    if (!glyph.isNull() && glyph.height() > 0 && glyph.width() % glyph.height() == 0) {
        int n = glyph.width() / glyph.height();
        if (n > 5)
            n = 1;
        if (n > 0)
            FNumGlyphs = n;
    }
    if (OnChange)
        OnChange();
}

void TExButtonGlyph::SetNumGlyphs(int value)
{
    if (value > 0 && value != FNumGlyphs) {
        Invalidate();
        FNumGlyphs = value;
        if (OnChange)
            OnChange();
    }
}

void TExButtonGlyph::SetTransparentColor(QColor colour)
{
    if (colour != FTransparentColor) {
        Invalidate();
        FTransparentColor = colour;
    }
}

QSize TExButtonGlyph::ImageSize() const
{
    if (FOriginal.isNull())
        return QSize(0, 0);
    // A strip narrower than its count has no whole image.
    const int w = FOriginal.width() / std::max(1, FNumGlyphs);
    return w > 0 ? QSize(w, FOriginal.height()) : QSize(0, 0);
}

QImage TExButtonGlyph::SourceImage(int n) const
{
    const QSize size = ImageSize();
    if (size.isEmpty() || n < 0 || n >= FNumGlyphs)
        return QImage();
    return FOriginal.copy(n * size.width(), 0, size.width(), size.height());
}

int TExButtonGlyph::StateIndex(TExButtonState state)
{
    const int s = static_cast<int>(state);
    if (s < 0 || s >= static_cast<int>(FIndexs.size()))
        return -1;
    if (FIndexs[static_cast<size_t>(s)] >= 0)
        return FIndexs[static_cast<size_t>(s)];
    const QSize size = ImageSize();
    if (size.isEmpty() || !gGlyphCache)
        return -1;
    if (!FGlyphList)
        FGlyphList = gGlyphCache->GetList(size.width(), size.height());
    const QPalette pal = QApplication::palette();
    const QColor face = ButtonFaceColour(pal);
    int index = -1;
    switch (state) {
    case ebsUp:
        index = FGlyphList->AddMasked(SourceImage(0), FTransparentColor);
        break;
    case ebsDisabled:
        if (FNumGlyphs >= 2) {
            index = FGlyphList->AddMasked(SourceImage(1), FTransparentColor);
        } else {
            const QImage embossed = CreateDisabledBitmap(SourceImage(0), Qt::black, FTransparentColor);
            index = FGlyphList->AddMasked(embossed, face);
        }
        break;
    case ebsDown:
    case ebsExclusive: {
        const int n = state == ebsDown ? 2 : 3;
        if (FNumGlyphs > n) {
            index = FGlyphList->AddMasked(SourceImage(n), FTransparentColor);
        } else {
            // The up image serves; its slot is shared, not copied.
            FIndexs[static_cast<size_t>(s)] = StateIndex(ebsUp);
            return FIndexs[static_cast<size_t>(s)];
        }
        break;
    }
    case ebsInactive:
        if (FNumGlyphs >= 5) {
            index = FGlyphList->AddMasked(SourceImage(4), FTransparentColor);
        } else {
            QImage grey = SourceImage(0).convertToFormat(QImage::Format_ARGB32);
            const QRgb key = FTransparentColor.rgb() & 0xFFFFFF;
            const QRgb faceKey = face.rgb() & 0xFFFFFF;
            for (int y = 0; y < grey.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
                for (int x = 0; x < grey.width(); ++x) {
                    const QRgb p = line[x] & 0xFFFFFF;
                    if (p == key || p == faceKey)
                        continue;
                    const int level = (77 * qRed(p) + 150 * qGreen(p) + 29 * qBlue(p)) / 256;
                    line[x] = qRgba(level, level, level, qAlpha(line[x]));
                }
            }
            index = FGlyphList->AddMasked(grey, FTransparentColor);
        }
        break;
    }
    FIndexs[static_cast<size_t>(s)] = index;
    return index;
}

void TExButtonGlyph::CalcLayout(const QFontMetrics &fm, const QRect &client, QPoint offset,
                                const QString &caption, TButtonLayout layout, int margin, int spacing,
                                bool dropDownMark, bool wordWrap, QPoint &glyphPos, QRect &textRect,
                                QString &shownCaption)
{
    QSize glyphSize = ImageSize();
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    QSize textSize(0, 0);
    shownCaption = caption;
    if (!caption.isEmpty()) {
        int avail = client.width();
        if (horizontal) {
            avail -= glyphSize.width() + std::max(0, margin) + std::max(0, spacing);
            if (dropDownMark)
                avail -= 9;
        }
        avail = std::max(0, avail);
        if (wordWrap) {
            const QRect b = fm.boundingRect(QRect(0, 0, avail, 10000), Qt::TextWordWrap, caption);
            textSize = b.size();
        } else {
            QStringList lines = caption.split(u'\n');
            for (QString &line : lines) {
                line = ShortenText(line, fm, avail);
                while (line.endsWith(u' '))
                    line.chop(1);
            }
            shownCaption = lines.join(u'\n');
            const QRect b = fm.boundingRect(QRect(0, 0, avail, 10000), 0, shownCaption);
            textSize = QSize(std::min(b.width(), avail), b.height());
        }
    }
    if (dropDownMark) {
        if (glyphSize.isEmpty() || layout == blGlyphLeft)
            textSize.rwidth() += 9;
        else
            glyphSize.rwidth() += 6;
    }
    const QSize clientSize = client.size();
    QPoint textPos;
    if (horizontal) {
        glyphPos.setY((clientSize.height() - glyphSize.height() + 1) / 2);
        textPos.setY((clientSize.height() - textSize.height() + 1) / 2);
    } else {
        glyphPos.setX((clientSize.width() - glyphSize.width() + 1) / 2);
        textPos.setX((clientSize.width() - textSize.width() + 1) / 2);
    }
    if (textSize.width() == 0 || glyphSize.width() == 0)
        spacing = 0;
    auto along = [&](const QSize &s) { return horizontal ? s.width() : s.height(); };
    if (margin == -1) {
        if (spacing == -1) {
            const int total = along(glyphSize) + along(textSize);
            margin = (along(clientSize) - total) / 3;
            spacing = margin;
        } else {
            const int total = along(glyphSize) + spacing + along(textSize);
            margin = (along(clientSize) - total + 1) / 2;
        }
    } else if (spacing == -1) {
        const int total = along(clientSize) - (margin + along(glyphSize));
        spacing = (total - along(textSize)) / 2;
    }
    switch (layout) {
    case blGlyphLeft:
        glyphPos.setX(margin);
        textPos.setX(glyphPos.x() + glyphSize.width() + spacing);
        break;
    case blGlyphRight:
        glyphPos.setX(clientSize.width() - margin - glyphSize.width());
        textPos.setX(glyphPos.x() - spacing - textSize.width());
        break;
    case blGlyphTop:
        glyphPos.setY(margin);
        textPos.setY(glyphPos.y() + glyphSize.height() + spacing);
        break;
    case blGlyphBottom:
        glyphPos.setY(clientSize.height() - margin - glyphSize.height());
        textPos.setY(glyphPos.y() - spacing - textSize.height());
        break;
    }
    glyphPos += offset + client.topLeft();
    textRect = QRect(textPos + offset + client.topLeft(), textSize);
}

QRect TExButtonGlyph::Draw(QPainter &painter, const QRect &client, QPoint offset, const QString &caption,
                           TButtonLayout layout, int margin, int spacing, TExButtonState state,
                           bool dropDownMark, bool wordWrap, Qt::Alignment alignment, bool enabled,
                           QPoint *glyphPosOut)
{
    const QFontMetrics fm = painter.fontMetrics();
    QPoint glyphPos;
    QRect textRect;
    QString shown;
    CalcLayout(fm, client, offset, caption, layout, margin, spacing, dropDownMark, wordWrap, glyphPos,
               textRect, shown);
    if (glyphPosOut)
        *glyphPosOut = glyphPos;
    const int index = StateIndex(state);
    if (index >= 0 && FGlyphList)
        FGlyphList->Draw(painter, glyphPos.x(), glyphPos.y(), index);
    if (!shown.isEmpty()) {
        QRect r = textRect;
        const bool markAfterText = dropDownMark && (ImageSize().isEmpty() || layout == blGlyphLeft);
        if (markAfterText)
            r.setWidth(std::max(0, r.width() - 9));
        const int flags = static_cast<int>(alignment | Qt::AlignVCenter) | (wordWrap ? Qt::TextWordWrap : 0);
        const QPalette pal = QApplication::palette();
        if (!enabled) {
            painter.setPen(ButtonHighlightColour(pal));
            painter.drawText(r.translated(1, 1), flags, shown);
            painter.setPen(ButtonShadowColour(pal));
        } else {
            painter.setPen(pal.color(QPalette::ButtonText));
        }
        painter.drawText(r, flags, shown);
        if (markAfterText)
            textRect = r;
    }
    return textRect;
}

// ---- speed button

TExSpeedButton::TExSpeedButton(QWidget *parent) : QWidget(parent)
{
    resize(25, 25);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
    FGlyph.OnChange = [this] { update(); };
}

TExSpeedButton::~TExSpeedButton() = default;

bool TExSpeedButton::TimerActive() const
{
    return FRepeatTimer && FRepeatTimer->isActive();
}

void TExSpeedButton::SetAllowAllUp(bool value)
{
    if (value != FAllowAllUp) {
        FAllowAllUp = value;
        UpdateExclusive();
    }
}

void TExSpeedButton::SetGroupIndex(int value)
{
    if (value != FGroupIndex) {
        FGroupIndex = value;
        UpdateExclusive();
    }
}

void TExSpeedButton::SetDown(bool value)
{
    if (FGroupIndex == 0)
        value = false;
    if (value == FDown)
        return;
    if (FDown && !FAllowAllUp)
        return;
    FDown = value;
    FState = value ? ebsExclusive : ebsUp;
    update();
    if (value)
        UpdateExclusive();
}

// The other buttons of the group go up and take over AllowAllUp.
void TExSpeedButton::UpdateExclusive()
{
    if (FGroupIndex == 0 || !parentWidget())
        return;
    const auto siblings = parentWidget()->findChildren<TExSpeedButton *>(Qt::FindDirectChildrenOnly);
    for (TExSpeedButton *b : siblings) {
        if (b == this || b->FGroupIndex != FGroupIndex)
            continue;
        if (FDown && b->FDown) {
            b->FDown = false;
            b->FState = ebsUp;
            b->update();
        }
        b->FAllowAllUp = FAllowAllUp;
    }
}

void TExSpeedButton::SetDropDownMenu(QMenu *menu)
{
    FDropDownMenu = menu;
    update();
}

QPoint TExSpeedButton::DropDownMenuPoint(TDropDownMenuPos position, TPopupAlignment alignment, QSize buttonSize,
                                         QSize menuSize)
{
    const int w = buttonSize.width(), h = buttonSize.height();
    QPoint corner;
    switch (alignment) {
    case paLeft:
        corner = position == dmpBottom ? QPoint(-1, h) : QPoint(w, -1);
        break;
    case paRight:
        corner = position == dmpBottom ? QPoint(w + 1, h) : QPoint(-1, -1);
        break;
    case paCenter:
        corner = QPoint(w / 2, h);
        break;
    }
    // The corner is where the aligned edge (or the middle) of the menu lies.
    if (alignment == paRight)
        corner.rx() -= menuSize.width();
    else if (alignment == paCenter)
        corner.rx() -= menuSize.width() / 2;
    return corner;
}

void TExSpeedButton::SetAction(QAction *action)
{
    if (action == FAction)
        return;
    disconnect(FActionChanged);
    FAction = action;
    if (!action)
        return;
    FActionChanged = connect(action, &QAction::changed, this, [this] { ActionChange(false); });
    ActionChange(true);
}

void TExSpeedButton::ActionChange(bool checkDefaults)
{
    QAction *action = FAction;
    if (!action)
        return;
    if (!checkDefaults || FCaption.isEmpty())
        SetCaption(action->text());
    if (!checkDefaults || !testAttribute(Qt::WA_ForceDisabled))
        setEnabled(action->isEnabled());
    if (!checkDefaults || toolTip().isEmpty())
        setToolTip(action->toolTip());
    // A button that is down when the link is made stays down.
    if (FGroupIndex != 0 && (!checkDefaults || !FDown))
        SetDown(action->isChecked());
    const QIcon icon = action->icon();
    if (Glyph().isNull() && !icon.isNull()) {
        const QList<QSize> sizes = icon.availableSizes();
        const QSize size = sizes.isEmpty() ? QSize(16, 16) : sizes.first();
        const QColor magenta(255, 0, 255);
        QImage glyph(size, QImage::Format_RGB32);
        glyph.fill(magenta);
        {
            QPainter p(&glyph);
            p.drawPixmap(0, 0, icon.pixmap(size, 1.0));
        }
        FGlyph.SetTransparentColor(magenta);
        SetGlyph(glyph);
    }
}

void TExSpeedButton::SetMarkDropDown(bool value)
{
    FMarkDropDown = value;
    update();
}

void TExSpeedButton::SetFlat(bool value)
{
    FFlat = value;
    update();
}

void TExSpeedButton::SetGrayedInactive(bool value)
{
    FGrayedInactive = value;
    update();
}

void TExSpeedButton::SetTransparent(bool value)
{
    FTransparent = value;
    setAttribute(Qt::WA_OpaquePaintEvent, !value);
    update();
}

void TExSpeedButton::SetWordWrap(bool value)
{
    FWordWrap = value;
    update();
}

void TExSpeedButton::SetCaption(const QString &caption)
{
    FCaption = caption;
    UpdateShortcut();
    update();
}

void TExSpeedButton::UpdateShortcut()
{
    if (FShortcutId != 0) {
        releaseShortcut(FShortcutId);
        FShortcutId = 0;
    }
    const QKeySequence key = QKeySequence::mnemonic(FCaption);
    if (!key.isEmpty())
        FShortcutId = grabShortcut(key, Qt::WindowShortcut);
}

void TExSpeedButton::SetGlyph(const QImage &glyph)
{
    FGlyph.SetGlyph(glyph);
}

void TExSpeedButton::SetNumGlyphs(int value)
{
    FGlyph.SetNumGlyphs(std::clamp(value, 1, 5));
}

void TExSpeedButton::Click()
{
    if (auto *dialog = qobject_cast<QDialog *>(window()); dialog && ModalResult != 0)
        dialog->done(ModalResult);
    if (OnClick)
        OnClick(this);
    else if (FAction)
        FAction->trigger();
}

bool TExSpeedButton::Inside(QPoint p) const
{
    return p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
}

void TExSpeedButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled() || FMenuTracking) {
        QWidget::mousePressEvent(event);
        return;
    }
    FMouseInControl = true;
    if (!FDown) {
        FState = ebsDown;
        repaint();
    }
    FDragging = true;
    if (FDropDownMenu) {
        ShowDropDownMenu();
        return;
    }
    if (AllowTimer) {
        if (!FRepeatTimer) {
            FRepeatTimer = new QTimer(this);
            connect(FRepeatTimer, &QTimer::timeout, this, &TExSpeedButton::TimerExpired);
        }
        FRepeatTimer->start(InitPause);
    }
}

void TExSpeedButton::ShowDropDownMenu()
{
    QMenu *menu = FDropDownMenu;
    auto *aligned = qobject_cast<TExPopupMenu *>(menu);
    const QPoint corner =
        DropDownMenuPoint(MenuPosition, aligned ? aligned->Alignment : paLeft, size(), menu->sizeHint());
    FMenuTracking = true;
    // A press on this button that closes the menu must not open it again.
    menu->setAttribute(Qt::WA_NoMouseReplay, false);
    auto hideHook = connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        if (rect().contains(mapFromGlobal(QCursor::pos())) && (QApplication::mouseButtons() & Qt::LeftButton))
            menu->setAttribute(Qt::WA_NoMouseReplay, true);
    });
    QPointer<TExSpeedButton> self(this);
    menu->exec(mapToGlobal(corner));
    if (!self)
        return;
    disconnect(hideHook);
    FMenuTracking = false;
    FinishPress(QPoint(-1, -1));
}

void TExSpeedButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton && FGroupIndex != 0 && FDown && OnDblClick)
        OnDblClick(this);
}

void TExSpeedButton::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    if (!FDragging)
        return;
    TExButtonState next = FDown ? ebsExclusive : ebsUp;
    if (Inside(event->position().toPoint()))
        next = FDown ? ebsExclusive : ebsDown;
    if (next != FState) {
        FState = next;
        update();
    }
}

void TExSpeedButton::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && FDragging)
        FinishPress(event->position().toPoint());
}

void TExSpeedButton::FinishPress(QPoint pos)
{
    if (FRepeatTimer)
        FRepeatTimer->stop();
    if (!FDragging)
        return;
    FDragging = false;
    const bool doClick = Inside(pos);
    if (FGroupIndex == 0) {
        FState = ebsUp;
        FMouseInControl = false;
        update();
    } else if (doClick) {
        SetDown(!FDown);
        if (FDown)
            FState = ebsExclusive;
        update();
    } else {
        if (FDown)
            FState = ebsExclusive;
        update();
    }
    QPointer<TExSpeedButton> self(this);
    if (doClick && !FMenuTracking)
        Click();
    if (self)
        UpdateTracking();
}

void TExSpeedButton::TimerExpired()
{
    FRepeatTimer->setInterval(RepeatInterval);
    if (FState == ebsDown && FDragging) {
        try {
            Click();
        } catch (const std::exception &e) {
            FRepeatTimer->stop();
            Prompt::Current().Show(QString::fromStdString(e.what()), QString(), PromptButtons::Ok,
                                   PromptIcon::Error);
        }
    }
}

void TExSpeedButton::UpdateTracking()
{
    const bool was = FMouseInControl;
    bool now = false;
    if (isEnabled() && isVisible() && IsForegroundTask())
        now = QApplication::widgetAt(QCursor::pos()) == this || (underMouse() && rect().contains(mapFromGlobal(QCursor::pos())));
    if (now == was)
        return;
    FMouseInControl = now;
    if (now) {
        if (FFlat)
            update();
        if (OnMouseEnter)
            OnMouseEnter(this);
    } else {
        if (FFlat)
            update();
        if (OnMouseLeave)
            OnMouseLeave(this);
    }
}

void TExSpeedButton::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    if (!FMouseInControl && isEnabled()) {
        FMouseInControl = true;
        if (FFlat)
            update();
        if (OnMouseEnter)
            OnMouseEnter(this);
    }
}

void TExSpeedButton::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (FMouseInControl && !FDragging) {
        FMouseInControl = false;
        if (FFlat)
            update();
        if (OnMouseLeave)
            OnMouseLeave(this);
    }
}

void TExSpeedButton::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            FDragging = false;
            if (FRepeatTimer)
                FRepeatTimer->stop();
        }
        UpdateTracking();
        update();
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        FGlyph.Invalidate();
        update();
    }
}

void TExSpeedButton::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    UpdateTracking();
}

bool TExSpeedButton::event(QEvent *event)
{
    if (event->type() == QEvent::Shortcut) {
        auto *se = static_cast<QShortcutEvent *>(event);
        if (se->shortcutId() == FShortcutId) {
            if (isEnabled() && isVisible())
                Click();
            return true;
        }
    }
    return QWidget::event(event);
}

void TExSpeedButton::PaintFrame(QPainter &p, QRect &r, bool pushed)
{
    const QPalette pal = palette();
    const QColor face = ButtonFaceColour(pal), hi = ButtonHighlightColour(pal), shadow = ButtonShadowColour(pal),
                 frame = FrameColour(pal);
    if (Style != bsWin31) {
        if (!pushed) {
            if (!FFlat) {
                Frame3D(p, r, hi, frame);
                Frame3D(p, r, face, shadow);
            } else {
                Frame3D(p, r, hi, shadow);
            }
        } else {
            Frame3D(p, r, frame, hi);
            if (!FFlat)
                Frame3D(p, r, shadow, face);
        }
    } else {
        if (!pushed) {
            if (!FFlat) {
                Frame3D(p, r, frame, frame);
                Frame3D(p, r, hi, shadow);
            } else {
                Frame3D(p, r, hi, frame);
            }
        } else if (!FFlat) {
            Frame3D(p, r, frame, frame);
            p.setPen(shadow);
            p.drawLine(r.left(), r.bottom(), r.left(), r.top());
            p.drawLine(r.left(), r.top(), r.right(), r.top());
        } else {
            Frame3D(p, r, frame, hi);
        }
    }
    r.adjust(1, 1, -1, -1);
}

void TExSpeedButton::DrawDropDownMark(QPainter &p, int x, int y, bool enabled)
{
    auto draw = [&](int dx, int dy, QColor c) {
        p.setPen(c);
        for (int row = 0; row < 4; ++row) {
            const int w = 7 - 2 * row;
            p.drawLine(x + dx + row, y + dy - 1 + row, x + dx + row + w - 1, y + dy - 1 + row);
        }
    };
    const QPalette pal = palette();
    if (!enabled) {
        draw(1, 1, ButtonHighlightColour(pal));
        draw(0, 0, ButtonShadowColour(pal));
    } else {
        draw(0, 0, pal.color(QPalette::ButtonText));
    }
}

void TExSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette pal = palette();
    if (!isEnabled()) {
        FState = ebsDisabled;
        FDragging = false;
    } else if (FState == ebsDisabled) {
        FState = (FDown && FGroupIndex != 0) ? ebsExclusive : ebsUp;
    }
    const bool inactive = FFlat && !FMouseInControl;
    const TExButtonState paintState = inactive ? ebsInactive : FState;
    QRect r = rect();
    if (FTransparent)
        CopyParentImage(this, p);
    else
        p.fillRect(r, ButtonFaceColour(pal));
    const bool pushed = FState == ebsDown || FState == ebsExclusive;
    if (paintState != ebsInactive || FState == ebsExclusive)
        PaintFrame(p, r, pushed);
    else
        r.adjust(2, 2, -2, -2);
    if (FState == ebsExclusive && !FTransparent && (!FFlat || inactive)) {
        QBrush dither(ButtonHighlightColour(pal), Qt::Dense4Pattern);
        p.fillRect(r, ButtonFaceColour(pal));
        p.fillRect(r, dither);
    }
    const QPoint offset = pushed ? QPoint(1, 1) : QPoint(0, 0);
    TExButtonState glyphState = FState;
    if (FGrayedInactive && inactive && FState != ebsDisabled)
        glyphState = ebsInactive;
    const bool mark = FMarkDropDown && FDropDownMenu;
    const QRect client = rect().adjusted(1, 1, -1, -1);
    p.setFont(font());
    QPoint glyphPos;
    const QRect textRect = FGlyph.Draw(p, client, offset, FCaption, Layout, Margin, Spacing, glyphState, mark,
                                       FWordWrap, Alignment, isEnabled(), &glyphPos);
    if (mark) {
        const QSize glyphSize = FGlyph.ImageSize();
        int x, y;
        if (Layout != blGlyphLeft && !glyphSize.isEmpty()) {
            x = glyphPos.x() + glyphSize.width() + 1;
            y = glyphPos.y() + glyphSize.height() / 2;
        } else if (FCaption.isEmpty()) {
            x = (client.left() + client.right() + 1 - 7) / 2 + offset.x();
            y = client.top() + client.height() / 2 + offset.y();
        } else {
            x = textRect.right() + 1 + 3;
            y = textRect.top() + textRect.height() / 2;
        }
        DrawDropDownMark(p, x, y, isEnabled());
    }
}
