#include "widgets/PickDate.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

TEST(Calendar, MonthGridPlacesTheFirst)
{
    TExCalendar cal;
    cal.resize(210, 140);
    // March 2004 begins on a Monday.
    cal.SetCalendarDate(EncodeDate(2004, 3, 5));
    EXPECT_FALSE(cal.UseCurrentDate());
    EXPECT_EQ(cal.StartOfWeek(), Mon);
    EXPECT_EQ(cal.DayNum(0, 1), 1);
    EXPECT_EQ(cal.CellText(0, 1), "1");
    // February 2004 begins on a Sunday, the day before the week's start.
    cal.SetCalendarDate(EncodeDate(2004, 2, 1));
    EXPECT_EQ(cal.MonthOffset(), -5);
    EXPECT_EQ(cal.DayNum(6, 1), 1);
    EXPECT_EQ(cal.DayNum(5, 1), 0);
    EXPECT_EQ(cal.SelectedCol(), 6);
    EXPECT_EQ(cal.SelectedRow(), 1);
    // The last day of a 31-day month beginning on Sunday lies in the last row.
    cal.SetCalendarDate(EncodeDate(2004, 8, 31));
    EXPECT_EQ(cal.SelectedRow(), 6);
    EXPECT_EQ(cal.SelectedCol(), 1);
    // Every index outside the grid is empty, never read.
    EXPECT_EQ(cal.DayNum(-1, 1), 0);
    EXPECT_EQ(cal.DayNum(7, 1), 0);
    EXPECT_EQ(cal.DayNum(0, 7), 0);
    EXPECT_EQ(cal.DayNum(0, 0), 0);
    EXPECT_EQ(cal.CellText(9, 9), "");
    int c, r;
    EXPECT_FALSE(cal.CellOfDay(32, c, r));
    EXPECT_FALSE(cal.CellOfDay(0, c, r));
    // Sunday first: the 1st of February 2004 is in column 0.
    cal.SetStartOfWeek(Sun);
    cal.SetCalendarDate(EncodeDate(2004, 2, 10));
    EXPECT_EQ(cal.DayNum(0, 1), 1);
    EXPECT_EQ(cal.CellText(0, 0).toStdString(), CurrentDateLocale().Fmt.ShortDayNames[0]);
}

TEST(Calendar, LastDayOfEveryMonthHasItsCell)
{
    TExCalendar cal;
    cal.resize(210, 140);
    const QRgb highlight = cal.palette().color(QPalette::Highlight).rgb();
    // 2004 (a leap year) and 2005 from every first day of the week place the
    // last day in every column and in rows 5 and 6.
    for (TDayOfWeekName start : {Sun, Mon, Tue, Wed, Thu, Fri, Sat})
        for (int year : {2004, 2005})
            for (int month = 1; month <= 12; ++month) {
                SCOPED_TRACE(testing::Message() << start << " " << year << "-" << month);
                cal.SetStartOfWeek(start);
                cal.SetCalendarDate(EncodeDate(year, month, 1));
                const int last = DaysPerMonth(year, month);
                // The cell that shows the last day, and no cell that shows a day after it.
                int col = -1, row = -1, shown = 0;
                for (int r = 1; r <= 6; ++r)
                    for (int c = 0; c < 7; ++c) {
                        const int day = cal.CellText(c, r).toInt();
                        EXPECT_LE(day, last);
                        if (day == last) {
                            col = c;
                            row = r;
                            ++shown;
                        }
                    }
                ASSERT_EQ(shown, 1);
                EXPECT_EQ(cal.DayNum(col, row), last);
                int c = -1, r = -1;
                EXPECT_TRUE(cal.CellOfDay(last, c, r));
                EXPECT_EQ(std::make_pair(c, r), std::make_pair(col, row));
                // A click on it selects the last day, drawn highlighted in that cell.
                QTest::mouseClick(&cal, Qt::LeftButton, {}, cal.CellRect(col, row).center());
                EXPECT_EQ(cal.CalendarDate(), EncodeDate(year, month, last));
                EXPECT_EQ(cal.SelectedCol(), col);
                EXPECT_EQ(cal.SelectedRow(), row);
                QImage img(cal.size(), QImage::Format_RGB32);
                cal.render(&img);
                EXPECT_EQ(img.pixel(cal.CellRect(col, row).topLeft() + QPoint(1, 1)), highlight);
            }
    // 31 August 2004, weeks from Monday: the last row, second column.
    cal.SetStartOfWeek(Mon);
    cal.SetCalendarDate(EncodeDate(2004, 8, 31));
    EXPECT_EQ(cal.CellText(1, 6), "31");
    EXPECT_EQ(cal.SelectedCol(), 1);
    EXPECT_EQ(cal.SelectedRow(), 6);
}

TEST(Calendar, NavigationClampsTheDayAndTheYears)
{
    TExCalendar cal;
    int changes = 0;
    cal.OnChange = [&](TExCalendar *) { ++changes; };
    using Step = void (TExCalendar::*)();
    // Never past the years 1 .. 9999.
    const struct {
        TDateTime from;
        std::vector<Step> steps;
        TDateTime to;
    } cases[] = {{EncodeDate(2004, 2, 29), {&TExCalendar::NextYear}, EncodeDate(2005, 2, 28)},
                 {EncodeDate(2004, 2, 29), {&TExCalendar::PrevYear}, EncodeDate(2003, 2, 28)},
                 {EncodeDate(2004, 1, 31), {&TExCalendar::NextMonth}, EncodeDate(2004, 2, 29)},
                 {EncodeDate(2005, 1, 31), {&TExCalendar::NextMonth}, EncodeDate(2005, 2, 28)},
                 {EncodeDate(2004, 12, 31), {&TExCalendar::NextMonth}, EncodeDate(2005, 1, 31)},
                 {EncodeDate(2005, 1, 31), {&TExCalendar::PrevMonth, &TExCalendar::PrevMonth}, EncodeDate(2004, 11, 30)},
                 {EncodeDate(9999, 12, 31), {&TExCalendar::NextMonth, &TExCalendar::NextYear}, EncodeDate(9999, 12, 31)},
                 {EncodeDate(1, 1, 1), {&TExCalendar::PrevMonth, &TExCalendar::PrevYear}, EncodeDate(1, 1, 1)}};
    for (const auto &c : cases) {
        cal.SetCalendarDate(c.from);
        for (Step s : c.steps)
            (cal.*s)();
        EXPECT_EQ(cal.CalendarDate(), c.to) << c.from;
    }
    // A day that the month does not have changes nothing.
    cal.SetCalendarDate(EncodeDate(2004, 2, 10));
    cal.SetDateElement(2, 30);
    cal.SetDateElement(1, 13);
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 2, 10));
    EXPECT_GT(changes, 8);
}

TEST(Calendar, KeysAndClicksInTheGrid)
{
    TExCalendar cal;
    cal.resize(210, 140);
    cal.SetCalendarDate(EncodeDate(2004, 3, 1));
    QTest::keyClick(&cal, Qt::Key_Left);
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 2, 29));
    QTest::keyClick(&cal, Qt::Key_Right);
    QTest::keyClick(&cal, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 3, 2));
    QTest::keyClick(&cal, Qt::Key_Down);
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 3, 9));
    QTest::keyClick(&cal, Qt::Key_Up);
    QTest::keyClick(&cal, Qt::Key_Up); // would leave the month: stays
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 3, 2));
    QTest::keyClick(&cal, Qt::Key_T);
    EXPECT_EQ(cal.CalendarDate(), DateToday());
    cal.SetCalendarDate(EncodeDate(2004, 2, 10));
    int col, row;
    ASSERT_TRUE(cal.CellOfDay(20, col, row));
    QTest::mouseClick(&cal, Qt::LeftButton, {}, cal.CellRect(col, row).center());
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 2, 20));
    // An empty cell cannot be chosen.
    QTest::mouseClick(&cal, Qt::LeftButton, {}, cal.CellRect(0, 1).center());
    EXPECT_EQ(cal.CalendarDate(), EncodeDate(2004, 2, 20));
}

TEST(Calendar, DropDownButtonsRepeatWhileHeld)
{
    TPopupCalendar popup(nullptr);
    popup.SetValue("05.03.2004", EncodeDate(2004, 3, 5));
    EXPECT_EQ(popup.GetValue(), EncodeDate(2004, 3, 5));
    popup.SetValue(QString(), EncodeDate(2004, 3, 5)); // an empty text shows today
    EXPECT_EQ(popup.GetValue(), DateToday());
    popup.SetValue(" .  .    ", NullDate);
    EXPECT_EQ(popup.GetValue(), DateToday());
    popup.SetValue("05.03.2004", EncodeDate(2004, 3, 5));
    QTest::mouseClick(popup.Button(2), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(popup.GetValue(), EncodeDate(2004, 4, 5));
    QTest::mouseClick(popup.Button(0), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(popup.GetValue(), EncodeDate(2003, 4, 5));
    EXPECT_EQ(popup.Button(0)->toolTip(), "Previous Year");
    EXPECT_EQ(popup.Button(1)->InitPause, 500);
    EXPECT_EQ(popup.size(), QSize(187, 124));
    // Double-clicking the title shows today.
    QTest::mouseDClick(popup.Title(), Qt::LeftButton);
    EXPECT_EQ(popup.GetValue(), DateToday());
}

TEST(Calendar, DateDialogKeys)
{
    TDateTime date = EncodeDate(2004, 3, 5);
    SelectDateRunner = [](TSelectDateDlg &dlg) {
        EXPECT_EQ(dlg.size(), QSize(222, 154));
        QTest::keyClick(&dlg, Qt::Key_PageUp);
        QTest::keyClick(&dlg, Qt::Key_Backtab);
        QTest::keyClick(&dlg, Qt::Key_PageUp, Qt::ControlModifier);
        return static_cast<int>(QDialog::Accepted);
    };
    EXPECT_TRUE(SelectDate(nullptr, date, "Pick", Mon, DaySet(Sun), Qt::red, {}));
    EXPECT_EQ(date, EncodeDate(2003, 1, 5));
    SelectDateRunner = [](TSelectDateDlg &) { return static_cast<int>(QDialog::Rejected); };
    EXPECT_FALSE(SelectDate(nullptr, date, "Pick", Mon, DaySet(Sun), Qt::red, {}));
    EXPECT_EQ(date, EncodeDate(2003, 1, 5));
    SelectDateRunner = nullptr;
}
