// The program's main block. The program takes no command-line arguments.
#include <QApplication>

#include <memory>

#include "app/Main.h"
#include "app/Splash.h"
#include "platform/VolumeSystem.h"
#include "util/BaseShell.h"
#include "widgets/EXConst.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbalist"));
    InitExComponents();
    // Drive letters (and folders bound to letters) are kept in the data
    // folder's letter map, so a disc keeps its letter from one run to the next.
    SystemVolumeOptions volumes;
    volumes.letterMapPath = DefaultLetterMapPath(GetPersonalFolder() + "/DiVovData");
    VolumeService::SetCurrent(std::make_unique<SystemVolumeService>(volumes));
    // The splash is painted at once: the event loop has not started yet.
    auto *splash = new TSplashForm;
    splash->show();
    splash->repaint();
    QApplication::processEvents();
    int result = 0;
    {
        TMainForm form(splash);
        form.show();
        result = QApplication::exec();
    }
    VolumeService::SetCurrent(nullptr);
    return result;
}
