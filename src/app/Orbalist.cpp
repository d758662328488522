// The program's main block. The program takes no command-line arguments.
#include <QApplication>

#include "app/Main.h"
#include "app/Splash.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbalist"));
    // The splash is painted at once: the event loop has not started yet.
    auto *splash = new TSplashForm;
    splash->show();
    splash->repaint();
    QApplication::processEvents();
    TMainForm form(splash);
    form.show();
    return QApplication::exec();
}
