// Test entry point shared by every suite: a QApplication exists for the widget
// and event-loop tests (offscreen platform), then GoogleTest runs.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <gmock/gmock.h>

namespace {

// Tests answer every window they open themselves. A modal window or a popup
// menu still waiting after this long waits for a user who is not there: the
// test would hang until the run's time limit. It fails at once instead, and
// the window is closed so the run goes on. Far above the moment any test
// keeps one open, sanitizers and a loaded machine included.
constexpr qint64 UnansweredWindowMs = 30000;
constexpr int CheckEveryMs = 500;

class TUnansweredWindowWatch : public QObject {
public:
    TUnansweredWindowWatch()
    {
        timer_.setInterval(CheckEveryMs);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
        timer_.start();
    }

private:
    void Check()
    {
        QWidget *waiting = QApplication::activeModalWidget();
        if (!waiting)
            waiting = QApplication::activePopupWidget();
        if (waiting != seen_.data()) {
            seen_ = waiting;
            since_.start();
            return;
        }
        if (!waiting || since_.elapsed() < UnansweredWindowMs)
            return;
        ADD_FAILURE() << "a " << waiting->metaObject()->className() << " (\""
                      << waiting->windowTitle().toStdString() << "\") waited " << since_.elapsed() / 1000
                      << " s for an answer no test gives; it is closed";
        seen_ = nullptr;
        if (auto *dialog = qobject_cast<QDialog *>(waiting))
            dialog->reject();
        else
            waiting->close();
    }

    QTimer timer_;
    QPointer<QWidget> seen_;
    QElapsedTimer since_;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    TUnansweredWindowWatch watch;
    return RUN_ALL_TESTS();
}
