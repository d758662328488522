// Test entry point shared by every suite: a QApplication exists for the widget
// and event-loop tests (offscreen platform), then GoogleTest runs.
#include <QApplication>
#include <gtest/gtest.h>
#include <gmock/gmock.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
