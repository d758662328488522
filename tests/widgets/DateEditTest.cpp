#include "widgets/ToolEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include "platform/Prompt.h"
#include "widgets/LocaleDates.h"

namespace {

const QLocale kSlovak(QLocale::Slovak, QLocale::Slovakia);
const QLocale kUs(QLocale::English, QLocale::UnitedStates);

// A shown date edit in the Slovak locale (d. M. yyyy) with four-digit years.
struct SlovakEdit {
    QWidget window;
    TDateEdit *edit;
    SlovakEdit()
    {
        edit = new TDateEdit(&window);
        edit->setLocale(kSlovak);
        edit->SetYearDigits(dyFour);
        edit->setGeometry(10, 10, 120, 21);
        window.resize(300, 200);
        window.show();
        edit->setFocus();
        QApplication::processEvents();
    }
};

// The display format, the edit mask and Qt's input mask.
std::string Masks(TDateEdit *e)
{
    return e->DisplayFormat() + " " + e->EditMask() + " " + e->inputMask().toStdString();
}

std::tuple<QString, TDateTime> Shown(TDateEdit *e)
{
    return {e->Text(), e->Date()};
}

// Typed from the start of the edit.
void Type(TDateEdit *e, const char *keys)
{
    e->setCursorPosition(0);
    QTest::keyClicks(e, keys);
}

void Keypad(QWidget *w, Qt::Key key)
{
    QKeyEvent e(QEvent::KeyPress, key, Qt::KeypadModifier, key == Qt::Key_Plus ? "+" : "-");
    QApplication::sendEvent(w, &e);
}

} // namespace

// The Slovak texts and masks are asserted by the cases below; here the minimum height (font plus five),
// which must leave an edit the 21 pixels it is given.
TEST(DateEdit, KeepsTheHeightItIsGiven)
{
    SlovakEdit s;
    EXPECT_EQ(s.edit->height(), 21);
}

TEST(DateEdit, EmptyTextIsNoDate)
{
    SlovakEdit s;
    EXPECT_TRUE(s.edit->IsEmpty());
    EXPECT_EQ(s.edit->Date(), NullDate);
    s.edit->DefaultToday = true;
    EXPECT_EQ(s.edit->Date(), DateToday());
    s.edit->DefaultToday = false;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    s.edit->SetDate(NullDate);
    EXPECT_TRUE(s.edit->IsEmpty());
    // A value that is no date empties the edit too.
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    s.edit->SetDate(1e12);
    EXPECT_TRUE(s.edit->IsEmpty());
    s.edit->DefaultToday = true;
    s.edit->SetDate(NullDate);
    EXPECT_EQ(s.edit->Date(), DateToday());
}

TEST(DateEdit, TypedImpossibleDateNeverBecomesAnotherDay)
{
    SlovakEdit s;
    Type(s.edit, "31022004");
    EXPECT_EQ(Shown(s.edit), std::tuple("31.02.2004", NullDate)); // not 2 March
    s.edit->selectAll();
    Type(s.edit, "29022000");
    EXPECT_EQ(s.edit->Date(), EncodeDate(2000, 2, 29));
    // Letters are refused by the mask.
    s.edit->SetDate(NullDate);
    Type(s.edit, "ab");
    EXPECT_TRUE(s.edit->IsEmpty());
}

TEST(DateEdit, CheckOnExitRefusesAndKeepsTheText)
{
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    SlovakEdit s;
    auto *other = new QLineEdit(&s.window);
    other->move(10, 100);
    other->show();
    s.edit->CheckOnExit = true;
    Type(s.edit, "31022004");
    other->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, "'31.02.2004' is not a valid date");
    EXPECT_EQ(s.edit->Text(), "31.02.2004");
    EXPECT_THROW(s.edit->CheckValidDate(), EConvertError);
    // A good date is written back in the display format.
    s.edit->setText(" 5. 3.2004");
    EXPECT_NO_THROW(s.edit->CheckValidDate());
    EXPECT_EQ(s.edit->Text(), "05.03.2004");
}

TEST(DateEdit, KeysMoveTheDate)
{
    SlovakEdit s;
    Keypad(s.edit, Qt::Key_Plus);
    EXPECT_EQ(s.edit->Date(), DateToday() + 1); // from today when empty
    s.edit->SetDate(EncodeDate(2004, 3, 1));
    Keypad(s.edit, Qt::Key_Minus);
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 2, 29));
    QTest::keyClick(s.edit, Qt::Key_T);
    EXPECT_EQ(s.edit->Date(), DateToday());
    // "+" and "-" are never typed.
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    QTest::keyClick(s.edit, '+');
    QTest::keyClick(s.edit, '-');
    EXPECT_EQ(s.edit->Text(), "05.03.2004");
}

TEST(DateEdit, LocaleChangeRebuildsMaskAndKeepsTheDate)
{
    SlovakEdit s;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    s.edit->setLocale(kUs);
    EXPECT_EQ(Masks(s.edit), "MM/DD/YYYY !99/99/9999;1;  00/00/0000");
    EXPECT_EQ(Shown(s.edit), std::tuple("03/05/2004", EncodeDate(2004, 3, 5)));
    s.edit->setLocale(QLocale(QLocale::Swedish, QLocale::Sweden));
    EXPECT_EQ(s.edit->DisplayFormat(), "YYYY/MM/DD");
    EXPECT_EQ(s.edit->Text(), "2004-03-05");
    s.edit->SetYearDigits(dyTwo);
    EXPECT_EQ(Shown(s.edit), std::tuple("04-03-05", EncodeDate(2004, 3, 5)));
    // The year width of the default setting is fixed once.
    InitFourDigitYear("d.M.yyyy");
    const bool fixed = FourDigitYear();
    InitFourDigitYear(fixed ? "M/d/yy" : "d.M.yyyy");
    EXPECT_EQ(FourDigitYear(), fixed);
}

TEST(DateEdit, BlanksCharAndHints)
{
    SlovakEdit s;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    s.edit->SetBlanksChar('_');
    EXPECT_EQ(s.edit->EditMask(), "!99/99/9999;1;_");
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 5));
    s.edit->SetDate(NullDate);
    EXPECT_EQ(s.edit->displayText(), "__.__.____");
    EXPECT_TRUE(s.edit->IsEmpty());
    // The text reads blanks wherever "_" shows an empty position.
    EXPECT_EQ(s.edit->Text(), "  .  .    ");
    Type(s.edit, "0503");
    EXPECT_EQ(s.edit->displayText(), "05.03.____");
    EXPECT_EQ(s.edit->Text(), "05.03.    ");
    s.edit->SetBlanksChar('\t');
    EXPECT_EQ(s.edit->BlanksChar(), ' ');
    s.edit->SetCalendarHints({"a|", "b|", "c|", "d|", "e|", "f|"});
    EXPECT_EQ(s.edit->CalendarHints().size(), 4);
    auto *cal = qobject_cast<TPopupCalendar *>(s.edit->Popup());
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(cal->Button(3)->toolTip(), "d");
}

TEST(DateEdit, ButtonDropsTheCalendarDownAndAccepts)
{
    SlovakEdit s;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    TDateTime offered = 0;
    s.edit->OnAcceptDate = [&](QObject *, TDateTime &d, bool &action) {
        offered = d;
        action = true;
    };
    TEditButton *button = s.edit->Button();
    EXPECT_EQ(button->width(), 21);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(s.edit->PopupVisible());
    auto *cal = static_cast<TPopupCalendar *>(s.edit->Popup());
    EXPECT_TRUE(cal->isVisible());
    EXPECT_EQ(cal->GetValue(), EncodeDate(2004, 3, 5));
    EXPECT_EQ(cal->Title()->text().toStdString(), FormatDateTime("MMMM, YYYY", EncodeDate(2004, 3, 5), s.edit->Locale().Fmt));
    EXPECT_TRUE(s.edit->isReadOnly());
    EXPECT_TRUE(s.edit->hasFocus());
    // The edit's keys go to the calendar while it is open.
    QTest::keyClick(s.edit, Qt::Key_Right);
    QTest::keyClick(s.edit, Qt::Key_PageDown);
    EXPECT_EQ(cal->GetValue(), EncodeDate(2004, 4, 6));
    QTest::keyClick(s.edit, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(cal->GetValue(), EncodeDate(2003, 4, 6));
    QTest::keyClick(s.edit, Qt::Key_Return);
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_FALSE(cal->isVisible());
    EXPECT_FALSE(s.edit->isReadOnly());
    EXPECT_EQ(offered, EncodeDate(2003, 4, 6));
    EXPECT_EQ(s.edit->Date(), EncodeDate(2003, 4, 6));
}

TEST(DateEdit, EscapeAndRefusalKeepTheDate)
{
    SlovakEdit s;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier); // the click key
    ASSERT_TRUE(s.edit->PopupVisible());
    QTest::keyClick(s.edit, Qt::Key_Right);
    QTest::keyClick(s.edit, Qt::Key_Escape);
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 5));
    s.edit->OnAcceptDate = [](QObject *, TDateTime &, bool &action) { action = false; };
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(s.edit, Qt::Key_Right);
    QTest::keyClick(s.edit, Qt::Key_Enter);
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 5));
    // A click on a day cell accepts that day.
    s.edit->OnAcceptDate = nullptr;
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    auto *cal = static_cast<TPopupCalendar *>(s.edit->Popup());
    int col = 0, row = 0;
    ASSERT_TRUE(cal->Calendar()->CellOfDay(20, col, row));
    const QPoint at = cal->Calendar()->CellRect(col, row).center();
    QTest::mousePress(cal->Calendar(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(cal->Calendar(), Qt::LeftButton, {}, at);
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 20));
    // An empty edit opens on today; a read-only one does not open.
    s.edit->SetDate(NullDate);
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(cal->GetValue(), DateToday());
    QTest::keyClick(s.edit, Qt::Key_Escape);
    s.edit->SetReadOnly(true);
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_FALSE(s.edit->PopupVisible());
}

TEST(DateEdit, DialogStyleShowsTheDateDialog)
{
    SlovakEdit s;
    s.edit->SetCalendarStyle(csDialog);
    EXPECT_EQ(s.edit->Popup(), nullptr);
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    QString title;
    SelectDateRunner = [&](TSelectDateDlg &dlg) {
        title = dlg.windowTitle();
        EXPECT_EQ(dlg.Date(), EncodeDate(2004, 3, 5));
        QTest::keyClick(&dlg, Qt::Key_Tab); // next month
        QTest::keyClick(&dlg, Qt::Key_PageDown, Qt::ControlModifier);
        return static_cast<int>(QDialog::Accepted);
    };
    s.edit->ButtonClick();
    SelectDateRunner = nullptr;
    EXPECT_EQ(title, "Select a Date");
    EXPECT_EQ(s.edit->Date(), EncodeDate(2005, 4, 5));
}

TEST(DateEdit, DropDownStaysOnTheScreen)
{
    QScreen *scr = QApplication::primaryScreen();
    ASSERT_NE(scr, nullptr);
    const QRect area = scr->geometry();
    TDateEdit edit;
    edit.setLocale(kSlovak);
    edit.resize(100, 21);
    // At the bottom left: above the edit, from x 0.
    edit.move(area.left(), area.bottom() - 30);
    edit.show();
    QApplication::processEvents();
    edit.PopupDropDown(true);
    ASSERT_TRUE(edit.PopupVisible());
    const QRect popup = edit.Popup()->geometry();
    EXPECT_EQ(popup.bottom() + 1, edit.mapToGlobal(QPoint(0, 0)).y());
    // Right edges aligned would pass the screen's left edge: left edges align.
    EXPECT_EQ(popup.left(), edit.mapToGlobal(QPoint(0, 0)).x());
    edit.PopupCloseUp(false);
    // Partly off the screen: the drop-down starts at the screen's edge.
    edit.move(area.left() - 40, area.top() + 100);
    QApplication::processEvents();
    if (edit.mapToGlobal(QPoint(0, 0)).x() < area.left()) {
        edit.PopupDropDown(true);
        EXPECT_EQ(edit.Popup()->geometry().left(), area.left());
        edit.PopupCloseUp(false);
    }
    // Elsewhere: below, right edges aligned.
    edit.move(area.left() + 300, area.top() + 100);
    QApplication::processEvents();
    edit.PopupDropDown(true);
    const QRect below = edit.Popup()->geometry();
    const QPoint origin = edit.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(below.top(), origin.y() + edit.height());
    EXPECT_EQ(below.right(), origin.x() + edit.width() - 1);
    edit.PopupCloseUp(false);
    edit.PopupAlign = epaLeft;
    edit.PopupDropDown(true);
    EXPECT_EQ(edit.Popup()->geometry().left(), origin.x());
    edit.PopupCloseUp(false);
}

TEST(DateEdit, QtMaskEscapesSpecialSeparatorsAndButtonGlyphKinds)
{
    EXPECT_EQ(QtInputMask("!99/99/9999;1; ", '.'), "00.00.0000; ");
    EXPECT_EQ(QtInputMask("!9999/99/99;1;_", '-'), "0000-00-00;_");
    EXPECT_EQ(QtInputMask("!99/99/99;1; ", 'A'), "00\\A00\\A00; ");
    TDateEdit edit;
    EXPECT_EQ(edit.NumGlyphs(), 2);
    EXPECT_EQ(edit.Button()->Glyph().size(), QSize(28, 12));
    EXPECT_EQ(edit.ButtonWidth(), 21);
    edit.SetGlyphKind(gkEllipsis);
    const QImage dots = edit.Button()->Glyph().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(dots.size(), QSize(15, 4));
    const QRgb black = qRgb(0, 0, 0);
    for (int x = 0; x < 15; ++x) {
        const bool dot = (x >= 1 && x <= 2) || (x >= 6 && x <= 7) || (x >= 11 && x <= 12);
        EXPECT_EQ(dots.pixel(x, 1) == black, dot) << x;
        EXPECT_EQ(dots.pixel(x, 2) == black, dot) << x;
        EXPECT_NE(dots.pixel(x, 0), black);
        EXPECT_NE(dots.pixel(x, 3), black);
    }
    edit.SetGlyphKind(gkDropDown);
    EXPECT_EQ(edit.NumGlyphs(), 1);
    EXPECT_EQ(edit.ButtonWidth(), edit.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &edit));
    // A zero-width button never clicks by the key.
    int clicks = 0;
    edit.OnButtonClick = [&](TCustomComboEdit *) { ++clicks; };
    edit.SetButtonWidth(0);
    edit.DoClick();
    EXPECT_EQ(clicks, 0);
    edit.SetButtonWidth(21);
    edit.DoClick();
    EXPECT_EQ(clicks, 1);
}

TEST(DateEdit, ButtonPressWhileOpenAcceptsOnce)
{
    SlovakEdit s;
    s.edit->SetDate(EncodeDate(2004, 3, 5));
    int clicks = 0;
    s.edit->OnButtonClick = [&](TCustomComboEdit *) { ++clicks; };
    TEditButton *button = s.edit->Button();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    ASSERT_TRUE(s.edit->PopupVisible());
    QTest::keyClick(s.edit, Qt::Key_Right);
    // The press closes and accepts; the click that follows does nothing more.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 6));
    // The next click opens again.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(s.edit->PopupVisible());
    // A press in the edit closes without accepting.
    QTest::keyClick(s.edit, Qt::Key_Right);
    QTest::mouseClick(s.edit, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_EQ(s.edit->Date(), EncodeDate(2004, 3, 6));
    // The button's separator: button face at x 0, highlight at x 1.
    QImage img(button->size(), QImage::Format_RGB32);
    button->render(&img);
    EXPECT_EQ(img.pixel(0, 5), button->palette().color(QPalette::Button).rgb());
    EXPECT_EQ(img.pixel(1, 5), button->palette().color(QPalette::Light).rgb());
}

TEST(DateEdit, StyleChangeWhileOpenClosesTheDropDown)
{
    SlovakEdit s;
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(s.edit->PopupVisible());
    s.edit->SetCalendarStyle(csDialog);
    EXPECT_FALSE(s.edit->PopupVisible());
    EXPECT_EQ(s.edit->Popup(), nullptr);
    QTest::mouseClick(&s.window, Qt::LeftButton, {}, QPoint(200, 150));
    s.edit->SetCalendarStyle(csPopup);
    ASSERT_NE(s.edit->Popup(), nullptr);
    QTest::keyClick(s.edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(s.edit->PopupVisible());
    // A press anywhere else closes it without accepting.
    QTest::mousePress(&s.window, Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_FALSE(s.edit->PopupVisible());
}
