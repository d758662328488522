#pragma once
// The month grid, the drop-down calendar of the date edit, the modal date
// dialog and the auto-repeat buttons that page through months and years.
#include <QDialog>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "util/DateUtil.h"
#include "widgets/EXCtrls.h"

enum TDayOfWeekName { Sun, Mon, Tue, Wed, Thu, Fri, Sat };
using TDaysOfWeek = uint8_t; // bit (1 << TDayOfWeekName)
inline constexpr TDaysOfWeek DaySet(TDayOfWeekName d)
{
    return static_cast<TDaysOfWeek>(1u << d);
}

// The navigation buttons: the older flat-bevel frame and auto-repeat.
class TExTimerSpeedButton : public TExSpeedButton {
    Q_OBJECT
public:
    explicit TExTimerSpeedButton(QWidget *parent = nullptr);
};

// A month as a 7 x 7 grid: the day names in the first row, the days below.
class TExCalendar : public QWidget {
    Q_OBJECT
public:
    explicit TExCalendar(QWidget *parent = nullptr);

    TDateTime CalendarDate() const { return FDate; }
    void SetCalendarDate(TDateTime value);
    int Year() const;
    int Month() const;
    int Day() const;
    // 0 year, 1 month, 2 day; a value that gives no valid date changes nothing.
    void SetDateElement(int index, int value);
    TDayOfWeekName StartOfWeek() const { return FStartOfWeek; }
    void SetStartOfWeek(TDayOfWeekName value);
    TDaysOfWeek Weekends() const { return FWeekends; }
    void SetWeekends(TDaysOfWeek value);
    QColor WeekendColor() const { return FWeekendColor; }
    void SetWeekendColor(QColor value);
    bool UseCurrentDate() const { return FUseCurrentDate; }
    void SetUseCurrentDate(bool value);
    bool ReadOnly = false;
    // The locale whose day names the fixed row shows.
    void SetDateLocale(const DateLocale &locale);

    void PrevMonth();
    void NextMonth();
    void PrevYear();
    void NextYear();

    // The day in the cell, 0 for an empty cell or one outside the grid.
    int DayNum(int col, int row) const;
    QString CellText(int col, int row) const;
    int MonthOffset() const { return FMonthOffset; }
    int SelectedCol() const { return FCol; }
    int SelectedRow() const { return FRow; }
    // The cell (column, row 1..6) of a day of the shown month; false outside.
    bool CellOfDay(int day, int &col, int &row) const;
    QRect CellRect(int col, int row) const;
    // The cell at a point of the widget; false outside the grid.
    bool CellAt(QPoint p, int &col, int &row) const;

    std::function<void(TExCalendar *)> OnChange;
    // A click released on a day cell with the left button and no modifiers.
    std::function<void(TExCalendar *)> OnDayClick;
    std::function<void(TExCalendar *)> OnDayDblClick;

    QSize sizeHint() const override { return QSize(180, 120); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

    bool FVertLines = true;
    bool FHorzLines = true;
    bool FFixedLineOnly = false; // only the line under the day names
    bool FTodayFrame = false;
    bool FBorder = true;

private:
    void ChangeMonth(int delta);
    void ChangeYear(int delta);
    void SetDate(int year, int month, int day);
    void UpdateCalendar();
    void Change();

    TDateTime FDate = 0;
    TDayOfWeekName FStartOfWeek = Mon;
    TDaysOfWeek FWeekends = DaySet(Sun);
    QColor FWeekendColor = Qt::red;
    bool FUseCurrentDate = true;
    int FMonthOffset = 0;
    int FCol = 0, FRow = 1;
    DateLocale FLocale;
};

// The grid as the drop-down shows it: no border, one line under the day
// names, today framed; it never takes the focus.
class TLocCalendar : public TExCalendar {
    Q_OBJECT
public:
    explicit TLocCalendar(QWidget *parent = nullptr);
};

// A tool window that is shown without taking the activation or the focus.
class TPopupWindow : public QWidget {
    Q_OBJECT
public:
    explicit TPopupWindow(QWidget *owner);

    virtual TDateTime GetValue() const = 0;
    virtual void SetValue(const QString &text, TDateTime value) = 0;
    // Shows the window at the screen point without activating it.
    void Show(QPoint origin);
    void Hide();
    // Keys the owner passes on while the window is open.
    virtual void HandleKey(QKeyEvent *event) = 0;

    std::function<void(TPopupWindow *, bool accept)> OnCloseUp;

protected:
    void CloseUp(bool accept);
};

class TPopupCalendar : public TPopupWindow {
    Q_OBJECT
public:
    explicit TPopupCalendar(QWidget *owner);

    TDateTime GetValue() const override;
    // An empty, null or separators-only text, or one that is no date, shows today.
    void SetValue(const QString &text, TDateTime value) override;
    void HandleKey(QKeyEvent *event) override;
    void SetHints(const QStringList &hints);
    void SetDateLocale(const DateLocale &locale);

    TLocCalendar *Calendar() const { return FCalendar; }
    QLabel *Title() const { return FTitle; }
    TExTimerSpeedButton *Button(int index) const; // 0 prev year .. 3 next year

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void CalendarChange();
    void PlaceTop(QWidget *top);

    TLocCalendar *FCalendar;
    QLabel *FTitle;
    TExTimerSpeedButton *FButtons[4];
    DateLocale FLocale;
};

class TSelectDateDlg : public QDialog {
    Q_OBJECT
public:
    explicit TSelectDateDlg(QWidget *parent = nullptr);

    TDateTime Date() const { return FCalendar->CalendarDate(); }
    void SetDate(TDateTime value);
    TExCalendar *Calendar() const { return FCalendar; }
    QLabel *Title() const { return FTitle; }
    TExTimerSpeedButton *Button(int index) const;
    void SetHints(const QStringList &hints);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void CalendarChange();

    TExCalendar *FCalendar;
    QLabel *FTitle;
    TExTimerSpeedButton *FButtons[4];
};

// The default hints of the four navigation buttons.
QStringList DefaultCalendarHints();
// The text before "|" of a hint.
QString ShortHint(const QString &hint);
// Shows the date dialog; True (and the chosen date) when the user accepted.
bool SelectDate(QWidget *parent, TDateTime &date, const QString &title, TDayOfWeekName startOfWeek,
                TDaysOfWeek weekends, QColor weekendColor, const QStringList &hints);
// The test hook: runs the dialog instead of exec() when set.
extern std::function<int(TSelectDateDlg &)> SelectDateRunner;
