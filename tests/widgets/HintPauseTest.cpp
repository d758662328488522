// Tool tips shown for a fixed time: the tip appears on the help request and
// goes by itself once its time is up; widgets without a tip pass it on.
#include "widgets/HintPause.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

TEST(HintPause, TipHidesAfterItsPauseAndAChildWithoutATipShowsItsParents)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *button = new QPushButton(QStringLiteral("Scan"), &window);
    auto *plain = new QPushButton(QStringLiteral("Plain"), &window);
    layout->addWidget(button);
    layout->addWidget(plain);
    button->setToolTip(QStringLiteral("Read a disc"));
    window.setToolTip(QStringLiteral("The window"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    THintPause pause(400);
    qApp->installEventFilter(&pause);

    for (const auto &[widget, tip] : {std::pair<QWidget *, QString>{button, QStringLiteral("Read a disc")},
                                      std::pair<QWidget *, QString>{plain, QStringLiteral("The window")}}) {
        SCOPED_TRACE(tip.toStdString());
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
        QElapsedTimer shown;
        shown.start();
        QApplication::sendEvent(widget, &help);
        ASSERT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), tip);
        // Gone once the pause is over (Qt's own time for so short a tip is ten seconds).
        QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 3000);
        EXPECT_GE(shown.elapsed(), 350);
    }
    qApp->removeEventFilter(&pause);
}
