#include "widgets/ToolEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>

#include "platform/Prompt.h"
#include "util/StrUtils.h"
#include "widgets/EXConst.h"
#include "widgets/LocaleDates.h"

namespace {

// The date glyph, loaded once and shared by every date edit.
const QImage &DateGlyph()
{
    static const QImage glyph = [] {
        InitExGlyphResources();
        return QImage(QStringLiteral(":/exglyphs/DEDITBMP"));
    }();
    return glyph;
}

// A small down arrow on the transparent colour, in place of the system's
// combo-box arrow bitmap.
QImage DropDownGlyph()
{
    QImage img(7, 4, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    for (int row = 0; row < 4; ++row)
        for (int x = row; x < 7 - row; ++x)
            img.setPixel(x, row, qRgb(0, 0, 0));
    return img;
}

// Three black 2 x 2 dots centred on a bitmap of button width - 6 by 4.
QImage EllipsisGlyph(int buttonWidth)
{
    const int w = std::max(1, buttonWidth - 6);
    QImage img(w, 4, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    const int gap = std::clamp((buttonWidth - 6) / 2, 1, 3);
    const int total = 3 * 2 + 2 * gap;
    const int left = (w - total) / 2;
    for (int dot = 0; dot < 3; ++dot)
        for (int dx = 0; dx < 2; ++dx)
            for (int dy = 1; dy < 3; ++dy) {
                const int x = left + dot * (2 + gap) + dx;
                if (x >= 0 && x < w)
                    img.setPixel(x, dy, qRgb(0, 0, 0));
            }
    return img;
}

bool IsQtMaskSpecial(char c)
{
    return std::string_view("AaNnXx90Dd#HhBb><![]{}\\").find(c) != std::string_view::npos;
}

} // namespace

QString QtInputMask(const std::string &editMask, char separator)
{
    const size_t semi = editMask.find(';');
    const std::string body = editMask.substr(0, semi);
    char blank = ' ';
    const size_t last = editMask.rfind(';');
    if (semi != std::string::npos && last != semi && last + 1 < editMask.size())
        blank = editMask[last + 1];
    QString out;
    for (char c : body) {
        if (c == '!')
            continue; // blanks are never trimmed in a fixed-width mask
        if (c == '9') {
            out += u'0';
            continue;
        }
        const char literal = c == '/' ? separator : c;
        if (IsQtMaskSpecial(literal))
            out += u'\\';
        out += QLatin1Char(literal);
    }
    return out + u';' + QLatin1Char(blank);
}

// ---- button

TEditButton::TEditButton(TCustomComboEdit *edit, QWidget *parent) : TExSpeedButton(parent), FEdit(edit)
{
    setCursor(Qt::ArrowCursor);
    OnClick = [this](TExSpeedButton *) {
        if (FNoAction) {
            FNoAction = false;
            return;
        }
        FEdit->ButtonClick();
    };
}

void TEditButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (FEdit->PopupVisible()) {
            FEdit->PopupCloseUp(true);
            FNoAction = true; // the click that follows is swallowed
        } else if (FEdit->focusPolicy() & Qt::TabFocus && !FEdit->hasFocus()) {
            FEdit->setFocus(Qt::MouseFocusReason);
        }
    }
    TExSpeedButton::mousePressEvent(event);
}

void TEditButton::mouseReleaseEvent(QMouseEvent *event)
{
    TExSpeedButton::mouseReleaseEvent(event);
    FNoAction = false;
}

void TEditButton::paintEvent(QPaintEvent *event)
{
    TExSpeedButton::paintEvent(event);
    if (State() == ebsDown || State() == ebsExclusive)
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::Button));
    p.drawLine(0, 0, 0, height() - 1);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(1, 0, 1, height() - 1);
}

// ---- combo edit

TCustomComboEdit::TCustomComboEdit(QWidget *parent) : QLineEdit(parent)
{
    FBtnControl = new QWidget(this);
    FBtnControl->resize(21, 17);
    FBtnControl->setCursor(Qt::ArrowCursor);
    FButton = new TEditButton(this, FBtnControl);
    FButton->setGeometry(0, 0, 21, 17);
    resize(width(), 21);
    UpdateMinHeight();
    SetEditRect();
}

TCustomComboEdit::~TCustomComboEdit()
{
    qApp->removeEventFilter(this);
}

void TCustomComboEdit::SetDirectInput(bool value)
{
    FDirectInput = value;
    QLineEdit::setReadOnly(FReadOnly || !FDirectInput);
}

void TCustomComboEdit::SetReadOnly(bool value)
{
    FReadOnly = value;
    QLineEdit::setReadOnly(FReadOnly || !FDirectInput);
}

int TCustomComboEdit::ButtonWidth() const
{
    return FButton->width();
}

void TCustomComboEdit::SetButtonWidth(int value)
{
    value = std::max(0, value);
    FButton->resize(value, FButton->height());
    FBtnControl->resize(value, FBtnControl->height());
    if (FGlyphKind == gkEllipsis)
        FButton->SetGlyph(EllipsisGlyph(value));
    resizeEvent(nullptr);
}

void TCustomComboEdit::SetButtonHint(const QString &hint)
{
    FButton->setToolTip(ShortHint(hint));
}

void TCustomComboEdit::SetGlyph(const QImage &glyph)
{
    FGlyphKind = gkCustom;
    FButton->SetGlyph(glyph);
}

void TCustomComboEdit::SetNumGlyphs(int value)
{
    FButton->SetNumGlyphs(value);
    if (FGlyphKind == gkDefault)
        UpdateButtonLook();
}

void TCustomComboEdit::SetGlyphKind(TGlyphKind value)
{
    if (value == FGlyphKind)
        return;
    FGlyphKind = value;
    UpdateButtonLook();
}

void TCustomComboEdit::UpdateButtonLook()
{
    switch (FGlyphKind) {
    case gkDefault: {
        const int n = FButton->NumGlyphs();
        FButton->SetGlyph(DateGlyph());
        FButton->SetNumGlyphs(n > 0 ? n : FDefNumGlyphs);
        const int glyphWidth = DateGlyph().width() / std::max(1, FButton->NumGlyphs());
        SetButtonWidth(std::max(glyphWidth + 6, ButtonWidth()));
        break;
    }
    case gkDropDown:
        FButton->SetGlyph(DropDownGlyph());
        FButton->SetNumGlyphs(1);
        SetButtonWidth(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
        break;
    case gkEllipsis:
        FButton->SetGlyph(EllipsisGlyph(ButtonWidth()));
        FButton->SetNumGlyphs(1);
        break;
    case gkCustom:
        break;
    }
}

void TCustomComboEdit::SetPopup(TPopupWindow *popup)
{
    PopupCloseUp(false);
    if (FPopup && FPopup != popup)
        delete FPopup.data();
    FPopup = popup;
    if (popup)
        popup->OnCloseUp = [this](TPopupWindow *, bool accept) { PopupCloseUp(accept); };
}

void TCustomComboEdit::UpdateMinHeight()
{
    const int own = fontMetrics().height();
    const int sys = QFontMetrics(QApplication::font()).height();
    const int minimum = std::min(own, sys) + 4 * 1 + 1;
    setMinimumHeight(minimum);
}

void TCustomComboEdit::SetEditRect()
{
    setTextMargins(0, 0, FBtnControl->width() + 2, 0);
}

void TCustomComboEdit::resizeEvent(QResizeEvent *event)
{
    if (event)
        QLineEdit::resizeEvent(event);
    const int bw = FButton->width();
    if (hasFrame())
        FBtnControl->setGeometry(width() - bw - 2, 2, bw, std::max(0, height() - 4));
    else
        FBtnControl->setGeometry(width() - bw, 0, bw, height());
    FButton->setGeometry(0, 0, bw, FBtnControl->height());
    SetEditRect();
}

void TCustomComboEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateMinHeight();
    else if (event->type() == QEvent::EnabledChange) {
        FButton->setEnabled(isEnabled());
        if (!isEnabled())
            PopupCloseUp(false);
    }
}

void TCustomComboEdit::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
}

void TCustomComboEdit::ButtonClick()
{
    if (FReadOnly && !AlwaysEnable)
        return;
    if (OnButtonClick)
        OnButtonClick(this);
    if (FPopup) {
        if (FPopupVisible)
            PopupCloseUp(true);
        else
            PopupDropDown(true);
    }
}

void TCustomComboEdit::DoClick()
{
    if (FButton->width() > 0)
        FButton->Click();
}

void TCustomComboEdit::PopupDropDown(bool disableEdit)
{
    if (!FPopup || FPopupVisible || FReadOnly)
        return;
    SetPopupValue();
    const QSize size = FPopup->size();
    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    QScreen *scr = screen() ? screen() : QApplication::primaryScreen();
    const QRect area = scr ? scr->geometry() : QRect(0, 0, 1 << 16, 1 << 16);
    int y = topLeft.y() + height();
    if (y + size.height() > area.bottom() + 1)
        y = topLeft.y() - size.height();
    int x;
    if (PopupAlign == epaRight) {
        x = topLeft.x() + width() - size.width();
        if (x < area.left())
            x = topLeft.x();
    } else {
        x = topLeft.x();
        if (x + size.width() > area.right() + 1)
            x = topLeft.x() + width() - size.width();
    }
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    setFocus(Qt::PopupFocusReason);
    FPopup->Show(QPoint(x, y));
    FPopupVisible = true;
    qApp->installEventFilter(this);
    if (disableEdit)
        QLineEdit::setReadOnly(true);
}

void TCustomComboEdit::PopupCloseUp(bool accept)
{
    if (!FPopup || !FPopupVisible)
        return;
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    const TDateTime value = FPopup->GetValue();
    FPopup->Hide();
    FPopupVisible = false;
    qApp->removeEventFilter(this);
    if (isVisible() && isEnabled())
        setFocus(Qt::PopupFocusReason);
    QLineEdit::setReadOnly(FReadOnly || !FDirectInput);
    if (accept && !FReadOnly) {
        AcceptValue(value);
        if (hasFocus())
            selectAll();
    }
}

bool TCustomComboEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (FPopupVisible && FPopup
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        auto *w = qobject_cast<QWidget *>(watched);
        const bool ours = w
            && (w == FPopup || FPopup->isAncestorOf(w) || w == FBtnControl || FBtnControl->isAncestorOf(w)
                || w == this);
        if (w && !ours)
            PopupCloseUp(false);
    } else if (FPopupVisible && event->type() == QEvent::ApplicationDeactivate) {
        PopupCloseUp(false);
    }
    return QLineEdit::eventFilter(watched, event);
}

void TCustomComboEdit::keyPressEvent(QKeyEvent *event)
{
    if (!ClickKey.isEmpty() && QKeySequence(event->keyCombination()) == ClickKey) {
        DoClick();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        if (FPopupVisible) {
            PopupCloseUp(event->key() != Qt::Key_Escape);
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TCustomComboEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (AutoSelect && !FPopupVisible && event->reason() != Qt::PopupFocusReason)
        QTimer::singleShot(0, this, [this] {
            if (hasFocus())
                selectAll();
        });
}

void TCustomComboEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason)
        PopupCloseUp(false);
}

void TCustomComboEdit::mousePressEvent(QMouseEvent *event)
{
    if (FPopupVisible)
        PopupCloseUp(false);
    QLineEdit::mousePressEvent(event);
}

// ---- date edit

TCustomDateEdit::TCustomDateEdit(QWidget *parent) : TCustomComboEdit(parent)
{
    FLocale = DateLocaleFromQLocale(locale());
    FPopupColor = palette().color(QPalette::Button);
    FDefNumGlyphs = 2;
    SetNumGlyphs(2);
    SetGlyphKind(gkDefault);
    SetPopup(new TPopupCalendar(this));
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!FFormatting && OnChange)
            OnChange(this);
    });
    UpdateMask();
}

bool TCustomDateEdit::FourDigits() const
{
    switch (FYearDigits) {
    case dyFour: return true;
    case dyTwo: return false;
    case dyDefault: break;
    }
    return FourDigitYear();
}

TDateTime TCustomDateEdit::DefaultDate() const
{
    return DefaultToday ? DateToday() : NullDate;
}

QString TCustomDateEdit::Text() const
{
    QString text = displayText();
    // Empty positions are read as blanks whatever character shows them.
    if (FBlanksChar != ' ')
        text.replace(QLatin1Char(FBlanksChar), u' ');
    return text;
}

void TCustomDateEdit::SetText(const QString &text)
{
    setText(text);
}

bool TCustomDateEdit::IsEmpty() const
{
    const std::string chars{' ', FBlanksChar, FLocale.Fmt.DateSeparator};
    return IsEmptyStr(displayText().toStdString(), chars);
}

std::string TCustomDateEdit::EditMask() const
{
    return FMask;
}

TDateTime TCustomDateEdit::Date() const
{
    if (IsEmpty())
        return DefaultDate();
    return StrToDateFmtDef(FDateFormat, Text().toStdString(), DefaultDate(), FLocale);
}

void TCustomDateEdit::SetDate(TDateTime value)
{
    const TDateTime before = Date();
    if (!ValidDate(value) || value == NullDate)
        value = DefaultDate();
    if (value == NullDate)
        setText(QString());
    else
        setText(QString::fromStdString(FormatDateTime(FDateFormat, value, FLocale.Fmt)));
    if (Date() != before)
        setModified(true);
}

void TCustomDateEdit::ApplyDate(TDateTime value)
{
    SetDate(value);
    selectAll();
}

void TCustomDateEdit::SetBlanksChar(char value)
{
    if (static_cast<unsigned char>(value) < ' ')
        value = ' ';
    if (value != FBlanksChar) {
        const TDateTime d = Date();
        FBlanksChar = value;
        FMask.clear();
        UpdateFormat();
        const std::string mask = DefDateMask(FBlanksChar, FourDigits(), FLocale);
        FFormatting = true;
        setInputMask(QString());
        FMask = mask;
        setInputMask(QtInputMask(FMask, FLocale.Fmt.DateSeparator));
        FFormatting = false;
        SetDate(d);
    }
}

void TCustomDateEdit::SetCalendarHints(const QStringList &hints)
{
    FCalendarHints = hints.mid(0, 4);
    UpdatePopup();
}

void TCustomDateEdit::SetPopupColor(QColor colour)
{
    FPopupColor = colour;
    UpdatePopup();
}

void TCustomDateEdit::SetCalendarStyle(TCalendarStyle value)
{
    if (value == FCalendarStyle)
        return;
    FCalendarStyle = value;
    if (value == csDialog)
        SetPopup(nullptr);
    else
        SetPopup(new TPopupCalendar(this));
    UpdatePopup();
}

void TCustomDateEdit::SetStartOfWeek(TDayOfWeekName value)
{
    FStartOfWeek = value;
    UpdatePopup();
}

void TCustomDateEdit::SetWeekends(TDaysOfWeek value)
{
    FWeekends = value;
    UpdatePopup();
}

void TCustomDateEdit::SetWeekendColor(QColor value)
{
    FWeekendColor = value;
    UpdatePopup();
}

void TCustomDateEdit::SetYearDigits(TYearDigits value)
{
    if (value != FYearDigits) {
        FYearDigits = value;
        UpdateMask();
    }
}

void TCustomDateEdit::setYearDigits(int value)
{
    if (value >= dyDefault && value <= dyTwo)
        SetYearDigits(static_cast<TYearDigits>(value));
}

void TCustomDateEdit::UpdateFormat()
{
    FDateFormat = DefDateFormat(FourDigits(), FLocale);
}

void TCustomDateEdit::UpdateMask()
{
    const TDateTime remembered = Date();
    const std::string oldFormat = FDateFormat;
    UpdateFormat();
    const std::string mask = DefDateMask(FBlanksChar, FourDigits(), FLocale);
    const QString qtMask = QtInputMask(mask, FLocale.Fmt.DateSeparator);
    if (mask != FMask || oldFormat != FDateFormat || inputMask().isEmpty()) {
        FFormatting = true;
        setInputMask(QString());
        FMask = mask;
        setInputMask(qtMask);
        FFormatting = false;
    }
    UpdatePopup();
    SetDate(remembered);
}

void TCustomDateEdit::UpdatePopup()
{
    auto *cal = qobject_cast<TPopupCalendar *>(FPopup.data());
    if (!cal)
        return;
    cal->Calendar()->SetStartOfWeek(FStartOfWeek);
    cal->Calendar()->SetWeekends(FWeekends);
    cal->Calendar()->SetWeekendColor(FWeekendColor);
    cal->SetHints(FCalendarHints);
    cal->SetDateLocale(FLocale);
    QPalette pal = cal->palette();
    pal.setColor(QPalette::Window, FPopupColor);
    cal->setPalette(pal);
}

void TCustomDateEdit::SetPopupValue()
{
    if (FPopup)
        FPopup->SetValue(Text(), IsEmpty() ? NullDate
                                           : StrToDateFmtDef(FDateFormat, Text().toStdString(), DateToday(), FLocale));
}

void TCustomDateEdit::AcceptValue(TDateTime value)
{
    bool action = true;
    if (OnAcceptDate)
        OnAcceptDate(this, value, action);
    if (!action)
        return;
    SetDate(value);
    if (hasFocus())
        selectAll();
}

void TCustomDateEdit::ButtonClick()
{
    if (FCalendarStyle != csDialog) {
        TCustomComboEdit::ButtonClick();
        return;
    }
    if (ReadOnly() && !AlwaysEnable)
        return;
    if (OnButtonClick)
        OnButtonClick(this);
    TDateTime d = Date();
    if (d == NullDate)
        d = DateToday();
    if (SelectDate(this, d, DialogTitle, FStartOfWeek, FWeekends, FWeekendColor, FCalendarHints)) {
        bool action = true;
        if (OnAcceptDate)
            OnAcceptDate(this, d, action);
        if (action) {
            SetDate(d);
            setModified(true);
            selectAll();
        }
    }
}

void TCustomDateEdit::CheckValidDate()
{
    if (IsEmpty())
        return;
    const TDateTime d = StrToDateFmt(FDateFormat, Text().toStdString(), FLocale);
    FFormatting = true;
    SetDate(d);
    FFormatting = false;
}

void TCustomDateEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    const bool plain = !(event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
    if (PopupVisible()) {
        switch (key) {
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (event->modifiers() & Qt::AltModifier)
                break; // Alt+Down is the click key
            FPopup->HandleKey(event);
            return;
        case Qt::Key_Plus:
        case Qt::Key_Minus:
            if (keypad) {
                FPopup->HandleKey(event);
                return;
            }
            break;
        default:
            break;
        }
    } else if (DirectInput() && !ReadOnly() && plain) {
        if ((key == Qt::Key_Plus || key == Qt::Key_Minus) && keypad) {
            TDateTime base = IsEmpty() ? DateToday() : Date();
            if (base == NullDate)
                base = DateToday();
            const TDateTime next = base + (key == Qt::Key_Plus ? 1 : -1);
            if (ValidDate(next))
                ApplyDate(next);
            return;
        }
        if (key == Qt::Key_Plus || key == Qt::Key_Minus)
            return; // never typed into a date
        if (key == Qt::Key_T) {
            ApplyDate(DateToday());
            return;
        }
    }
    TCustomComboEdit::keyPressEvent(event);
}

void TCustomDateEdit::focusOutEvent(QFocusEvent *event)
{
    TCustomComboEdit::focusOutEvent(event);
    if (!CheckOnExit || event->reason() == Qt::PopupFocusReason)
        return;
    try {
        CheckValidDate();
    } catch (const EConvertError &e) {
        // The text stays and the edit keeps the focus, so the user can mend it.
        Prompt::Current().Show(QString::fromStdString(e.what()), QString(), PromptButtons::Ok, PromptIcon::Error);
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    }
}

void TCustomDateEdit::changeEvent(QEvent *event)
{
    TCustomComboEdit::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        // The text is read with the old settings before the new ones apply.
        const TDateTime remembered = Date();
        FLocale = DateLocaleFromQLocale(locale());
        FMask.clear();
        UpdateFormat();
        FFormatting = true;
        setInputMask(QString());
        FMask = DefDateMask(FBlanksChar, FourDigits(), FLocale);
        setInputMask(QtInputMask(FMask, FLocale.Fmt.DateSeparator));
        FFormatting = false;
        UpdatePopup();
        SetDate(remembered);
    }
}

TDateEdit::TDateEdit(QWidget *parent) : TCustomDateEdit(parent) {}
