// The program's main block. The program takes no command-line arguments.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Splash.h"
#include "app/catalog/Settings.h"
#include "app/catalog/StartGuard.h"
#include "platform/CdDevice.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/VolumeSystem.h"
#include "util/BaseShell.h"
#include "widgets/EXConst.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbalist"));
    InitExComponents();
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
    const std::string dataFolder = GetPersonalFolder() + "/DiVovData";
    // One running copy per data folder: two would save over each other's
    // catalogue. A second copy says who holds the folder and ends.
    TDataFolderLock lock(dataFolder);
    if (!lock.Acquire()) {
        // Said in the user's language when the settings tell it (only read).
        TSettings settings;
        if (ReadSettingsFile(dataFolder + "/" + SettingsFileName, settings).fileRead)
            langunit::SetCurrentLanguage(settings[1]);
        Prompt::Current().Show(ToQString(lock.Message()), QString(), PromptButtons::Ok, PromptIcon::Error);
        lock.Release(true); // folders made for a lock that could not be taken go again
        return 1;
    }
    // Drive letters (and folders bound to letters) are kept in the data
    // folder's letter map, so a disc keeps its letter from one run to the
    // next. Until the start has a catalogue the map is only read (a first
    // start keeps the letters in memory): a start that is left, at its first
    // run or at a damaged catalogue, writes nothing.
    const bool firstRun = TMainForm::IsFirstRun(dataFolder);
    const std::string mapPath = DefaultLetterMapPath(dataFolder);
    SystemVolumeOptions volumes;
    if (!firstRun)
        volumes.letterMapPath = mapPath;
    volumes.letterMapWritable = false;
    auto service = std::make_unique<SystemVolumeService>(volumes);
    SystemVolumeService *system = service.get();
    VolumeService::SetCurrent(std::move(service));
    // The splash is painted at once: the event loop has not started yet.
    auto *splash = new TSplashForm;
    splash->show();
    splash->repaint();
    QApplication::processEvents();
    int result = 0;
    bool cancelled = false;
    {
        TMainForm form(splash, dataFolder);
        cancelled = form.StartCancelled;
        if (!cancelled) {
            TakeUpLetterMap(*system, mapPath, form.ReadOnlyCatalog);
            // Mistakes in the letter map are told once, when the window is up,
            // and again whenever they change.
            TLetterMapNotice notice(mapPath, [system] { return system->LetterMapProblem(); });
            QObject::connect(system, &VolumeService::DeviceChange, &notice, &TLetterMapNotice::Check,
                             Qt::QueuedConnection);
            form.show();
            QTimer::singleShot(0, &notice, &TLetterMapNotice::Check);
            result = QApplication::exec();
        }
    }
    VolumeService::SetCurrent(nullptr);
    lock.Release(cancelled);
    return result;
}
