// The program's main block. The program takes no command-line arguments.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Main.h"
#include "app/Splash.h"
#include "platform/CdDevice.h"
#include "platform/VolumeSystem.h"
#include "util/BaseShell.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbalist"));
    // ORBALIST_SIMULATED_AUDIO_CD puts one made-up optical drive holding an
    // audio CD in place of the machine's drives (for trying the audio-CD
    // lookup without a drive): the track starts and, last, the lead-out as
    // minute:second:frame, e.g. "0:02:00 3:10:00 6:00:00". It is read here
    // only, before the volume service asks for the drives.
    if (const char *simulated = std::getenv("ORBALIST_SIMULATED_AUDIO_CD")) {
        std::string error;
        if (auto drive = SimulatedAudioCd(simulated, error))
            CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(std::vector<SimulatedCdDrive>{*drive}));
        else
            std::fprintf(stderr, "ORBALIST_SIMULATED_AUDIO_CD ignored: %s\n", error.c_str());
    }
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
