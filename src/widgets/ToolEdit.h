#pragma once
// A masked edit with a button at its right edge that opens a drop-down, and
// the date edit built on it: a drop-down calendar or a modal date dialog,
// a display format and edit mask that follow the locale's date order.
#include <QKeySequence>
#include <QLineEdit>
#include <QPointer>

#include <functional>

#include "util/DateUtil.h"
#include "widgets/EXCtrls.h"
#include "widgets/PickDate.h"

class TCustomComboEdit;

enum TGlyphKind { gkCustom, gkDefault, gkDropDown, gkEllipsis };
enum TPopupAlign { epaRight, epaLeft };
enum TCalendarStyle { csPopup, csDialog };
enum TYearDigits { dyDefault, dyFour, dyTwo };

// The button inside the edit.
class TEditButton : public TExSpeedButton {
    Q_OBJECT
public:
    explicit TEditButton(TCustomComboEdit *edit, QWidget *parent);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    TCustomComboEdit *FEdit;
    bool FNoAction = false;
};

class TCustomComboEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TCustomComboEdit(QWidget *parent = nullptr);
    ~TCustomComboEdit() override;

    QKeySequence ClickKey = QKeySequence(Qt::ALT | Qt::Key_Down);
    TPopupAlign PopupAlign = epaRight;
    bool AlwaysEnable = false;
    std::function<void(TCustomComboEdit *)> OnButtonClick;

    bool DirectInput() const { return FDirectInput; }
    void SetDirectInput(bool value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    TGlyphKind GlyphKind() const { return FGlyphKind; }
    void SetGlyphKind(TGlyphKind value);
    void SetGlyph(const QImage &glyph);
    int NumGlyphs() const { return FButton->NumGlyphs(); }
    void SetNumGlyphs(int value);
    int ButtonWidth() const;
    void SetButtonWidth(int value);
    void SetButtonHint(const QString &hint);
    bool AutoSelect = true;

    TEditButton *Button() const { return FButton; }
    QWidget *ButtonHolder() const { return FBtnControl; }
    TPopupWindow *Popup() const { return FPopup; }
    bool PopupVisible() const { return FPopupVisible; }

    // What the button does: OnButtonClick, then the drop-down opens (or
    // closes, accepting, when it is open).
    virtual void ButtonClick();
    void DoClick();
    void PopupDropDown(bool disableEdit);
    virtual void PopupCloseUp(bool accept);

protected:
    void SetPopup(TPopupWindow *popup);
    virtual void AcceptValue(TDateTime value) = 0;
    virtual void SetPopupValue() = 0;
    virtual void UpdateButtonLook();

    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

    QPointer<TPopupWindow> FPopup;
    int FDefNumGlyphs = 1;

private:
    void SetEditRect();
    void UpdateMinHeight();

    TEditButton *FButton;
    QWidget *FBtnControl;
    bool FPopupVisible = false;
    bool FDirectInput = true;
    bool FReadOnly = false;
    bool FSavedReadOnly = false;
    TGlyphKind FGlyphKind = gkCustom;
};

using TExecDateDialog = std::function<void(QObject *Sender, TDateTime &ADate, bool &Action)>;

class TCustomDateEdit : public TCustomComboEdit {
    Q_OBJECT
    // For forms: 0 follows the locale, 1 four digits, 2 two digits.
    Q_PROPERTY(int yearDigits READ yearDigits WRITE setYearDigits)
public:
    explicit TCustomDateEdit(QWidget *parent = nullptr);

    TDateTime Date() const;
    void SetDate(TDateTime value);
    // The text with blanks for empty positions, as the user sees it.
    QString Text() const;
    void SetText(const QString &text);
    bool IsEmpty() const;

    char BlanksChar() const { return FBlanksChar; }
    void SetBlanksChar(char value);
    QStringList CalendarHints() const { return FCalendarHints; }
    void SetCalendarHints(const QStringList &hints);
    bool CheckOnExit = false;
    bool DefaultToday = false;
    QString DialogTitle = QStringLiteral("Select a Date");
    QColor PopupColor() const { return FPopupColor; }
    void SetPopupColor(QColor colour);
    TCalendarStyle CalendarStyle() const { return FCalendarStyle; }
    void SetCalendarStyle(TCalendarStyle value);
    TDayOfWeekName StartOfWeek() const { return FStartOfWeek; }
    void SetStartOfWeek(TDayOfWeekName value);
    TDaysOfWeek Weekends() const { return FWeekends; }
    void SetWeekends(TDaysOfWeek value);
    QColor WeekendColor() const { return FWeekendColor; }
    void SetWeekendColor(QColor value);
    TYearDigits YearDigits() const { return FYearDigits; }
    void SetYearDigits(TYearDigits value);
    int yearDigits() const { return FYearDigits; }
    void setYearDigits(int value);
    TExecDateDialog OnAcceptDate;
    std::function<void(TCustomDateEdit *)> OnChange;

    // The display format ("DD/MM/YYYY", ...) and the edit mask in use.
    const std::string &DisplayFormat() const { return FDateFormat; }
    std::string EditMask() const;
    const DateLocale &Locale() const { return FLocale; }
    // Checks the text as leaving the edit does; throws EConvertError.
    void CheckValidDate();
    void ButtonClick() override;
    void UpdateMask();

protected:
    void AcceptValue(TDateTime value) override;
    void SetPopupValue() override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void UpdateFormat();
    void UpdatePopup();
    void ApplyDate(TDateTime value);
    TDateTime DefaultDate() const;
    bool FourDigits() const;

    char FBlanksChar = ' ';
    QStringList FCalendarHints;
    QColor FPopupColor;
    TCalendarStyle FCalendarStyle = csPopup;
    TDayOfWeekName FStartOfWeek = Mon;
    TDaysOfWeek FWeekends = DaySet(Sun);
    QColor FWeekendColor = Qt::red;
    TYearDigits FYearDigits = dyDefault;
    std::string FDateFormat;
    std::string FMask;
    DateLocale FLocale;
    bool FFormatting = false;
};

class TDateEdit : public TCustomDateEdit {
    Q_OBJECT
public:
    explicit TDateEdit(QWidget *parent = nullptr);
};

// A Qt input mask from an edit mask such as "!99/99/9999;1; " with the
// slash meaning `separator`.
QString QtInputMask(const std::string &editMask, char separator);
