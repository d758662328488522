#include "widgets/PickDate.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "widgets/EXConst.h"
#include "widgets/LocaleDates.h"

std::function<int(TSelectDateDlg &)> SelectDateRunner;

namespace {

QImage GlyphResource(const char *name)
{
    InitExGlyphResources();
    return QImage(QStringLiteral(":/exglyphs/") + QLatin1String(name));
}

const char *const kGlyphNames[4] = {"PREV2", "PREV1", "NEXT1", "NEXT2"};

QString TitleText(TDateTime date, const DateLocale &locale)
{
    return QString::fromStdString(FormatDateTime("MMMM, YYYY", date, locale.Fmt));
}

// Hints of the calendar buttons: "Previous Year|" and the like.
void ApplyHints(TExTimerSpeedButton *const buttons[4], const QStringList &hints)
{
    const QStringList defaults = DefaultCalendarHints();
    for (int i = 0; i < 4; ++i)
        buttons[i]->setToolTip(ShortHint(i < hints.size() ? hints[i] : defaults[i]));
}

// The four buttons page the calendar: back a year, back a month, on a month, on a year.
void ConnectPaging(TExTimerSpeedButton *const buttons[4], TExCalendar *calendar)
{
    buttons[0]->OnClick = [calendar](TExSpeedButton *) { calendar->PrevYear(); };
    buttons[1]->OnClick = [calendar](TExSpeedButton *) { calendar->PrevMonth(); };
    buttons[2]->OnClick = [calendar](TExSpeedButton *) { calendar->NextMonth(); };
    buttons[3]->OnClick = [calendar](TExSpeedButton *) { calendar->NextYear(); };
}

// Page Up and Page Down page the months, with Ctrl the years; false for any other key.
bool PageByKey(TExCalendar *calendar, const QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_PageUp:
        ctrl ? calendar->PrevYear() : calendar->PrevMonth();
        return true;
    case Qt::Key_PageDown:
        ctrl ? calendar->NextYear() : calendar->NextMonth();
        return true;
    default:
        return false;
    }
}

} // namespace

QStringList DefaultCalendarHints()
{
    return {QStringLiteral("Previous Year|"), QStringLiteral("Previous Month|"), QStringLiteral("Next Month|"),
            QStringLiteral("Next Year|")};
}

QString ShortHint(const QString &hint)
{
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.left(bar);
}

// ---- timer button

TExTimerSpeedButton::TExTimerSpeedButton(QWidget *parent) : TExSpeedButton(parent)
{
    Style = bsWin31;
    AllowTimer = true;
}

// ---- month grid

TExCalendar::TExCalendar(QWidget *parent) : QWidget(parent), FLocale(CurrentDateLocale())
{
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    FDate = DateToday();
    UpdateCalendar();
}

int TExCalendar::Year() const
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    return y;
}

int TExCalendar::Month() const
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    return m;
}

int TExCalendar::Day() const
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    return d;
}

void TExCalendar::Change()
{
    if (OnChange)
        OnChange(this);
}

void TExCalendar::SetCalendarDate(TDateTime value)
{
    if (!ValidDate(value))
        return;
    value = std::trunc(value);
    if (value != FDate) {
        FDate = value;
        FUseCurrentDate = false;
        UpdateCalendar();
        Change();
    }
}

void TExCalendar::SetDate(int year, int month, int day)
{
    if (!ValidDate(year, month, day))
        return; // never rolled over into another day
    FUseCurrentDate = false;
    const TDateTime value = EncodeDate(year, month, day);
    FDate = value;
    UpdateCalendar();
    Change();
}

void TExCalendar::SetDateElement(int index, int value)
{
    if (value <= 0)
        return;
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    switch (index) {
    case 0: y = value; break;
    case 1: m = value; break;
    case 2: d = value; break;
    default: return;
    }
    SetDate(y, m, d);
}

void TExCalendar::SetStartOfWeek(TDayOfWeekName value)
{
    if (value < Sun || value > Sat)
        return;
    FStartOfWeek = value;
    UpdateCalendar();
}

void TExCalendar::SetWeekends(TDaysOfWeek value)
{
    FWeekends = value;
    update();
}

void TExCalendar::SetWeekendColor(QColor value)
{
    FWeekendColor = value;
    update();
}

void TExCalendar::SetUseCurrentDate(bool value)
{
    FUseCurrentDate = value;
    if (value) {
        const TDateTime today = DateToday();
        if (today != FDate) {
            FDate = today;
            UpdateCalendar();
            Change();
        }
    }
}

void TExCalendar::SetDateLocale(const DateLocale &locale)
{
    FLocale = locale;
    update();
}

void TExCalendar::ChangeMonth(int delta)
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    int months = y * 12 + (m - 1) + delta;
    const int ny = months / 12, nm = months % 12 + 1;
    if (ny < 1 || ny > 9999)
        return;
    SetDate(ny, nm, std::min(d, DaysPerMonth(ny, nm)));
}

void TExCalendar::ChangeYear(int delta)
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    const int ny = y + delta;
    if (ny < 1 || ny > 9999)
        return;
    if (m == 2 && d == 29)
        d = 28;
    SetDate(ny, m, d);
}

void TExCalendar::PrevMonth()
{
    ChangeMonth(-1);
}
void TExCalendar::NextMonth()
{
    ChangeMonth(1);
}
void TExCalendar::PrevYear()
{
    ChangeYear(-1);
}
void TExCalendar::NextYear()
{
    ChangeYear(1);
}

void TExCalendar::UpdateCalendar()
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    const int firstWeekday = DayOfWeek(EncodeDate(y, m, 1)); // Sunday = 1
    FMonthOffset = 2 - ((firstWeekday - static_cast<int>(FStartOfWeek) + 7) % 7);
    if (FMonthOffset == 2)
        FMonthOffset = -5;
    CellOfDay(d, FCol, FRow);
    update();
}

int TExCalendar::DayNum(int col, int row) const
{
    if (col < 0 || col > 6 || row < 1 || row > 6)
        return 0;
    const int day = col + FMonthOffset + (row - 1) * 7;
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    return day >= 1 && day <= DaysPerMonth(y, m) ? day : 0;
}

QString TExCalendar::CellText(int col, int row) const
{
    if (col < 0 || col > 6 || row < 0 || row > 6)
        return QString();
    if (row == 0) {
        const size_t dow = static_cast<size_t>((static_cast<int>(FStartOfWeek) + col) % 7);
        return QString::fromStdString(FLocale.Fmt.ShortDayNames[dow]);
    }
    const int day = DayNum(col, row);
    return day ? QString::number(day) : QString();
}

bool TExCalendar::CellOfDay(int day, int &col, int &row) const
{
    int y, m, d;
    DecodeDate(FDate, y, m, d);
    if (day < 1 || day > DaysPerMonth(y, m))
        return false;
    const int k = day - FMonthOffset;
    col = k % 7;
    row = k / 7 + 1;
    return col >= 0 && row >= 1 && row <= 6;
}

QRect TExCalendar::CellRect(int col, int row) const
{
    const int line = 1;
    const QRect area = contentsRect().adjusted(FBorder ? 1 : 0, FBorder ? 1 : 0, FBorder ? -1 : 0, FBorder ? -1 : 0);
    const int w = (area.width() - (FVertLines ? 6 * line : 0)) / 7;
    const int h = (area.height() - 6 * line) / 7;
    const int x = area.left() + col * (w + (FVertLines ? line : 0));
    const int y = area.top() + row * (h + line);
    return QRect(x, y, w, h);
}

bool TExCalendar::CellAt(QPoint p, int &col, int &row) const
{
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c)
            if (CellRect(c, r).adjusted(0, 0, 1, 1).contains(p)) {
                col = c;
                row = r;
                return true;
            }
    return false;
}

void TExCalendar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette pal = palette();
    if (FBorder) {
        p.setPen(pal.color(QPalette::Shadow));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    const TDateTime today = DateToday();
    int ty, tm, td;
    DecodeDate(today, ty, tm, td);
    const bool todayShown = ty == Year() && tm == Month();
    for (int r = 0; r < 7; ++r) {
        for (int c = 0; c < 7; ++c) {
            const QRect cell = CellRect(c, r);
            const QString text = CellText(c, r);
            const bool selected = r > 0 && c == FCol && r == FRow;
            QColor ink = pal.color(QPalette::WindowText);
            if (selected) {
                p.fillRect(cell, pal.color(QPalette::Highlight));
                ink = pal.color(QPalette::HighlightedText);
            } else {
                const int dow = (static_cast<int>(FStartOfWeek) + c) % 7;
                if (FWeekends & (1u << dow))
                    ink = FWeekendColor;
            }
            if (FTodayFrame && r > 0 && todayShown && DayNum(c, r) == td) {
                p.setPen(pal.color(QPalette::Dark));
                p.drawLine(cell.topLeft(), cell.topRight());
                p.drawLine(cell.topLeft(), cell.bottomLeft());
                p.setPen(pal.color(QPalette::Light));
                p.drawLine(cell.bottomLeft(), cell.bottomRight());
                p.drawLine(cell.topRight(), cell.bottomRight());
            }
            p.setPen(ink);
            p.drawText(cell, Qt::AlignCenter, text);
        }
    }
    p.setPen(pal.color(QPalette::Mid));
    if (FFixedLineOnly) {
        const QRect first = CellRect(0, 0);
        p.drawLine(first.left(), first.bottom() + 1, CellRect(6, 0).right(), first.bottom() + 1);
        return;
    }
    if (FHorzLines)
        for (int r = 0; r < 6; ++r) {
            const QRect cell = CellRect(0, r);
            p.drawLine(cell.left(), cell.bottom() + 1, CellRect(6, r).right(), cell.bottom() + 1);
        }
    if (FVertLines)
        for (int c = 0; c < 6; ++c) {
            const QRect cell = CellRect(c, 0);
            p.drawLine(cell.right() + 1, cell.top(), cell.right() + 1, CellRect(c, 6).bottom());
        }
}

void TExCalendar::keyPressEvent(QKeyEvent *event)
{
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (ReadOnly) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        SetCalendarDate(FDate - 1);
        return;
    case Qt::Key_Right:
        SetCalendarDate(FDate + 1);
        return;
    case Qt::Key_Minus:
        if (keypad) {
            SetCalendarDate(FDate - 1);
            return;
        }
        break;
    case Qt::Key_Plus:
        if (keypad) {
            SetCalendarDate(FDate + 1);
            return;
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        // The cell cursor moves a row, within the month only.
        const int day = Day() + (event->key() == Qt::Key_Up ? -7 : 7);
        if (day >= 1 && day <= DaysPerMonth(Year(), Month()))
            SetDateElement(2, day);
        return;
    }
    case Qt::Key_T:
        if (!(event->modifiers() & ~Qt::KeypadModifier & ~Qt::ShiftModifier)) {
            SetCalendarDate(DateToday());
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void TExCalendar::mousePressEvent(QMouseEvent *event)
{
    int c, r;
    if (!ReadOnly && event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), c, r)) {
        if (const int day = DayNum(c, r))
            SetDateElement(2, day);
    }
    QWidget::mousePressEvent(event);
}

void TExCalendar::mouseReleaseEvent(QMouseEvent *event)
{
    int c, r;
    if (event->button() == Qt::LeftButton && !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        && CellAt(event->position().toPoint(), c, r) && DayNum(c, r) && OnDayClick) {
        OnDayClick(this);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TExCalendar::mouseDoubleClickEvent(QMouseEvent *event)
{
    int c, r;
    if (event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), c, r) && DayNum(c, r)
        && OnDayDblClick) {
        OnDayDblClick(this);
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

TLocCalendar::TLocCalendar(QWidget *parent) : TExCalendar(parent)
{
    FBorder = false;
    FVertLines = false;
    FFixedLineOnly = true;
    FTodayFrame = true;
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    SetCalendarDate(DateToday());
    SetUseCurrentDate(false);
}

// ---- drop-down window

TPopupWindow::TPopupWindow(QWidget *owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                         | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void TPopupWindow::Show(QPoint origin)
{
    move(origin);
    show();
    raise();
}

void TPopupWindow::Hide()
{
    hide();
}

void TPopupWindow::CloseUp(bool accept)
{
    if (OnCloseUp)
        OnCloseUp(this, accept);
}

TPopupCalendar::TPopupCalendar(QWidget *owner) : TPopupWindow(owner), FLocale(CurrentDateLocale())
{
    resize(187, 124);
    setMinimumSize(180, 120);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setFont(QApplication::font("QMessageBox"));
    auto *frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
    auto *inner = new QVBoxLayout(frame);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->setSpacing(0);
    auto *top = new QWidget(frame);
    top->setFixedHeight(18);
    inner->addWidget(top);
    FCalendar = new TLocCalendar(frame);
    inner->addWidget(FCalendar, 1);
    for (int i = 0; i < 4; ++i) {
        FButtons[i] = new TExTimerSpeedButton(top);
        FButtons[i]->resize(14, 14);
        FButtons[i]->SetGlyph(GlyphResource(kGlyphNames[i]));
    }
    FTitle = new QLabel(top);
    FTitle->setAlignment(Qt::AlignCenter);
    FTitle->installEventFilter(this);
    top->installEventFilter(this);
    top->setProperty("orbPlaceTop", true);
    ConnectPaging(FButtons, FCalendar);
    FCalendar->OnChange = [this](TExCalendar *) { CalendarChange(); };
    FCalendar->OnDayClick = [this](TExCalendar *) { CloseUp(true); };
    SetHints({});
    PlaceTop(top);
    CalendarChange();
}

TExTimerSpeedButton *TPopupCalendar::Button(int index) const
{
    return index >= 0 && index < 4 ? FButtons[index] : nullptr;
}

void TPopupCalendar::SetHints(const QStringList &hints)
{
    ApplyHints(FButtons, hints);
}

void TPopupCalendar::SetDateLocale(const DateLocale &locale)
{
    FLocale = locale;
    FCalendar->SetDateLocale(locale);
    CalendarChange();
}

void TPopupCalendar::CalendarChange()
{
    FTitle->setText(TitleText(FCalendar->CalendarDate(), FLocale));
}

TDateTime TPopupCalendar::GetValue() const
{
    return FCalendar->CalendarDate();
}

void TPopupCalendar::SetValue(const QString &text, TDateTime value)
{
    QString bare = text;
    bare.remove(QChar(QLatin1Char(FLocale.Fmt.DateSeparator)));
    if (bare.trimmed().isEmpty() || value == NullDate || !ValidDate(value))
        FCalendar->SetCalendarDate(DateToday());
    else
        FCalendar->SetCalendarDate(value);
}

void TPopupCalendar::HandleKey(QKeyEvent *event)
{
    if (!PageByKey(FCalendar, event))
        QApplication::sendEvent(FCalendar, event);
}

bool TPopupCalendar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FTitle && event->type() == QEvent::MouseButtonDblClick) {
        FCalendar->SetCalendarDate(DateToday());
        return true;
    }
    // Clicks on the title and the button bar neither accept nor cancel.
    if ((watched == FTitle || watched->property("orbPlaceTop").toBool())
        && (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonPress))
        return true;
    if (watched->property("orbPlaceTop").toBool() && event->type() == QEvent::Resize)
        PlaceTop(static_cast<QWidget *>(watched));
    return TPopupWindow::eventFilter(watched, event);
}

// The paging buttons at the bar's ends and the month title between them.
void TPopupCalendar::PlaceTop(QWidget *top)
{
    const int w = top->width();
    FButtons[0]->move(0, 2);
    FButtons[1]->move(12, 2);
    FButtons[2]->move(w - 26, 2);
    FButtons[3]->move(w - 14, 2);
    FTitle->setGeometry(29, 2, std::max(0, w - 58), 14);
}

void TPopupCalendar::mouseReleaseEvent(QMouseEvent *event)
{
    // A left click released elsewhere in the drop-down accepts inside it.
    if (event->button() == Qt::LeftButton) {
        CloseUp(rect().contains(event->position().toPoint()));
        return;
    }
    TPopupWindow::mouseReleaseEvent(event);
}

// ---- date dialog

TSelectDateDlg::TSelectDateDlg(QWidget *parent) : QDialog(parent, Qt::Tool | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Select a Date"));
    setFixedSize(222, 154);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setFont(QApplication::font("QMessageBox"));
    auto *top = new QFrame(this);
    top->setGeometry(0, 0, 222, 22);
    top->setFrameShape(QFrame::Panel);
    top->setFrameShadow(QFrame::Sunken);
    FTitle = new QLabel(top);
    FTitle->setGeometry(35, 4, 152, 14);
    FTitle->setAlignment(Qt::AlignCenter);
    QFont bold = FTitle->font();
    bold.setBold(true);
    FTitle->setFont(bold);
    QPalette tp = FTitle->palette();
    tp.setColor(QPalette::WindowText, Qt::blue);
    FTitle->setPalette(tp);
    const int xs[4] = {3, 18, 188, 203};
    for (int i = 0; i < 4; ++i) {
        FButtons[i] = new TExTimerSpeedButton(top);
        FButtons[i]->setGeometry(xs[i], 3, 16, 16);
        FButtons[i]->SetGlyph(GlyphResource(kGlyphNames[i]));
    }
    FCalendar = new TExCalendar(this);
    FCalendar->setGeometry(0, 22, 222, 154 - 22 - 21);
    QPalette cp = FCalendar->palette();
    cp.setColor(QPalette::Window, Qt::white);
    cp.setColor(QPalette::Base, Qt::white);
    FCalendar->setPalette(cp);
    FCalendar->SetCalendarDate(DateToday());
    FCalendar->SetUseCurrentDate(false);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OkBtn"));
    ok->setGeometry(0, 154 - 21, 111, 21);
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setGeometry(111, 154 - 21, 111, 21);
    ok->setFocusPolicy(Qt::NoFocus);
    cancel->setFocusPolicy(Qt::NoFocus);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    ConnectPaging(FButtons, FCalendar);
    FCalendar->OnChange = [this](TExCalendar *) { CalendarChange(); };
    FCalendar->OnDayDblClick = [this](TExCalendar *) { accept(); };
    SetHints({});
    CalendarChange();
    FCalendar->setFocus();
    if (QScreen *screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TExTimerSpeedButton *TSelectDateDlg::Button(int index) const
{
    return index >= 0 && index < 4 ? FButtons[index] : nullptr;
}

void TSelectDateDlg::SetHints(const QStringList &hints)
{
    ApplyHints(FButtons, hints);
}

void TSelectDateDlg::SetDate(TDateTime value)
{
    FCalendar->SetCalendarDate(value == NullDate || !ValidDate(value) ? DateToday() : value);
}

void TSelectDateDlg::CalendarChange()
{
    FTitle->setText(TitleText(FCalendar->CalendarDate(), CurrentDateLocale()));
}

bool TSelectDateDlg::focusNextPrevChild(bool next)
{
    // Tab pages the months instead of moving the focus.
    next ? FCalendar->NextMonth() : FCalendar->PrevMonth();
    return true;
}

void TSelectDateDlg::keyPressEvent(QKeyEvent *event)
{
    if (PageByKey(FCalendar, event))
        return;
    switch (event->key()) {
    case Qt::Key_Escape:
        reject();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();
        return;
    case Qt::Key_Tab:
        FCalendar->NextMonth();
        return;
    case Qt::Key_Backtab:
        FCalendar->PrevMonth();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool SelectDate(QWidget *parent, TDateTime &date, const QString &title, TDayOfWeekName startOfWeek,
                TDaysOfWeek weekends, QColor weekendColor, const QStringList &hints)
{
    TSelectDateDlg dlg(parent);
    if (!title.isEmpty())
        dlg.setWindowTitle(title);
    dlg.Calendar()->SetStartOfWeek(startOfWeek);
    dlg.Calendar()->SetWeekends(weekends);
    dlg.Calendar()->SetWeekendColor(weekendColor);
    dlg.SetHints(hints);
    dlg.SetDate(date);
    const int result = SelectDateRunner ? SelectDateRunner(dlg) : dlg.exec();
    if (result == QDialog::Accepted) {
        date = dlg.Date();
        return true;
    }
    return false;
}
