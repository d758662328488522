// One running copy per data folder, with real processes; the letter map's
// mistakes told once; the question about a catalogue gone at start.
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QThread>

#include "app/catalog/StartGuard.h"
#include "platform/VolumeSystem.h"
#include "support/ObeyPermissions.h"

#include <cerrno>
#include <cstring>

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

// Waits (bounded) until `done` holds; the work it waits for is another
// process's, so it is polled.
template <typename Fn>
bool WaitFor(Fn done, int seconds = 60)
{
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The real program, started on a home folder of its own: on a first start it
// takes the lock and then waits in its language dialog.
class ProgramProcess {
public:
    explicit ProgramProcess(const std::string &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(home));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home + "/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProgram(QStringLiteral(ORB_BINARY_DIR "/orbalist"));
        process.start();
    }
    ~ProgramProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(30000);
        }
    }
    QProcess process;
};

} // namespace

TEST(DataFolderLockTest, SecondCopyIsToldWhoHoldsTheFolderAndWritesNothing)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    orbtest::TempDir home;
    const std::string data = home.file("DiVovData");
    const std::string lockFile = data + "/" + TDataFolderLock::LockFileName;
    ProgramProcess first(home.str());
    ASSERT_TRUE(first.process.waitForStarted(30000));
    // The lock file is made first and its holder written into it after: wait
    // until it names the program, or a reader may find it still empty.
    const std::string pid = std::to_string(first.process.processId());
    ASSERT_TRUE(WaitFor([&] { return orbtest::readFile(lockFile).rfind(pid + "\n", 0) == 0; }))
        << "the program did not take the lock";
    const auto before = Snapshot(data);

    TDataFolderLock second(data);
    EXPECT_FALSE(second.Acquire());
    EXPECT_EQ(second.HolderPid, first.process.processId());
    EXPECT_TRUE(second.Error.empty()) << second.Error;
    for (const std::string &part : {pid, data})
        EXPECT_NE(second.Message().find(part), std::string::npos) << second.Message();
    second.Release(true);
    EXPECT_EQ(Snapshot(data), before) << "the second copy changed the data folder";
    EXPECT_EQ(first.process.state(), QProcess::Running);

    // The first copy dies without letting go: its lock is stale and is taken over.
    first.process.kill();
    ASSERT_TRUE(first.process.waitForFinished(30000));
    ASSERT_TRUE(fs::exists(lockFile));
    TDataFolderLock third(data);
    EXPECT_TRUE(third.Acquire()) << third.Message();
    // While it is held, the same process's second attempt is refused too.
    TDataFolderLock fourth(data);
    EXPECT_FALSE(fourth.Acquire());
    third.Release(false);
    EXPECT_FALSE(fs::exists(lockFile));
    EXPECT_TRUE(fourth.Acquire());
    langunit::SetCurrentLanguage(langunit::LangSlovak);
}

TEST(DataFolderLockTest, LockMadeForAStartThatWroteNothingIsTidiedAway)
{
    orbtest::TempDir home;
    const std::string data = home.file("Documents/DiVovData");
    {
        TDataFolderLock lock(data);
        ASSERT_TRUE(lock.Acquire());
        EXPECT_TRUE(fs::is_directory(data));
        lock.Release(true);
    }
    EXPECT_FALSE(fs::exists(home.file("Documents")));
    // Once something was written there, the folder stays.
    {
        TDataFolderLock lock(data);
        ASSERT_TRUE(lock.Acquire());
        home.write("Documents/DiVovData/cat.ini", "[CatalogSettings]\n");
        lock.Release(true);
    }
    EXPECT_TRUE(fs::exists(data + "/cat.ini"));
    EXPECT_FALSE(fs::exists(data + "/" + TDataFolderLock::LockFileName));
}

TEST(DataFolderLockTest, ProgramLeftAtItsFirstStartLeavesNothingBehind)
{
    // A first start ended by the user or killed: the next one asks again
    // (no settings were written), and nothing but the empty folder may stay.
    orbtest::TempDir home;
    ProgramProcess first(home.str());
    ASSERT_TRUE(first.process.waitForStarted(30000));
    const std::string lockFile = home.file("DiVovData") + "/" + TDataFolderLock::LockFileName;
    ASSERT_TRUE(WaitFor([&] { return fs::exists(lockFile); }));
    first.process.terminate();
    first.process.kill();
    ASSERT_TRUE(first.process.waitForFinished(30000));
    EXPECT_FALSE(fs::exists(home.file("DiVovData/cat.ini")));
    EXPECT_FALSE(fs::exists(home.file("DiVovData/driveletters.map")));
}

TEST(DataFolderLockTest, LockThatCannotBeMadeIsToldInTheChosenLanguageNamingTheFile)
{
    orbtest::TempDir home;
    const std::string data = home.file("DiVovData");
    fs::create_directories(data);
    const std::string lockFile = data + "/" + TDataFolderLock::LockFileName;
    {
        const TReadOnlyFolder readOnly(data);
        orbtest::TObeyPermissions obey;
        if (!obey.Active())
            GTEST_SKIP() << "permissions do not apply here";
        TDataFolderLock lock(data);
        ASSERT_FALSE(lock.Acquire());
        EXPECT_EQ(lock.HolderPid, 0);
        const std::pair<int, const char *> languages[] = {
            {langunit::LangEnglish, "Cannot make the lock file"},
            {langunit::LangSlovak, "Súbor zámku"},
            {langunit::LangCzech, "Soubor zámku"}};
        for (const auto &[language, words] : languages) {
            langunit::SetCurrentLanguage(language);
            const std::string text = lock.Message();
            EXPECT_NE(text.find(words), std::string::npos) << text;
            EXPECT_NE(text.find(lockFile), std::string::npos) << text;
            EXPECT_NE(text.find(std::strerror(EACCES)), std::string::npos) << text;
        }
        lock.Release(true);
    }
    EXPECT_TRUE(fs::is_directory(data)) << "a folder the lock did not make stays";
    langunit::SetCurrentLanguage(langunit::LangSlovak);
}

TEST(LetterMapNoticeTest, ShownOnceAndAgainOnlyWhenTheMistakesChange)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    std::string problems = "line 2 (c=folder:/x): c: is the root file system";
    TLetterMapNotice notice("/d/driveletters.map", [&] { return problems; });
    notice.Check();
    notice.Check();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(prompt.Asked()[0].text.contains(QStringLiteral("/d/driveletters.map")));
    EXPECT_TRUE(prompt.Asked()[0].text.contains(QStringLiteral("line 2 (c=folder:/x)")));
    for (const std::string &now : {problems + "\nline 3 (garbage): no drive letter", std::string()}) {
        problems = now;
        notice.Check();
        EXPECT_EQ(prompt.Asked().size(), 2u) << now;
    }
    langunit::SetCurrentLanguage(langunit::LangSlovak);
}

// A damaged catalogue opened read-only changes nothing on the disk, the letter
// map included; a catalogue opened for work keeps the letters in the map.
TEST(LetterMapAtStart, ReadOnlyCatalogueWritesNoLetterMap)
{
    orbtest::TempDir dir;
    fs::create_directories(dir.path() / "data");
    fs::create_directories(dir.path() / "sys");
    fs::create_directories(dir.path() / "dev");
    SystemVolumeOptions o;
    const std::string mapPath = dir.file("data/driveletters.map");
    o.letterMapPath = mapPath;
    o.mountInfoPath = dir.write("mountinfo", "1 0 254:0 / / rw - ext4 /dev/vda rw\n");
    o.sysRoot = dir.file("sys");
    o.devRoot = dir.file("dev");
    o.pollIntervalMs = 0;
    o.letterMapWritable = false; // as the program starts
    SystemVolumeService volumes(o);
    TakeUpLetterMap(volumes, mapPath, true);
    volumes.Refresh();
    EXPECT_FALSE(volumes.Drives().empty());
    EXPECT_FALSE(fs::exists(mapPath));
    TakeUpLetterMap(volumes, mapPath, false);
    EXPECT_TRUE(fs::exists(mapPath));
}

namespace {

class MissingCatalogueAtStart : public DataFolderTest<> {};

// The text a message box shows on its standard button, without the shortcut mark.
QString ButtonShown(QMessageBox::StandardButton which)
{
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QString text = box.button(which)->text();
    return text.remove(QLatin1Char('&'));
}

} // namespace

// The question about a catalogue named in the settings that is gone says what each button does:
// by the names the buttons show in the language chosen (Qt's Czech Cancel reads "Zrušit", which
// the question called "Storno").
TEST_F(MissingCatalogueAtStart, QuestionNamesEachButtonAsItIsShown)
{
    for (const int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech}) {
        SCOPED_TRACE(language);
        dir.write("DiVovData/cat.ini",
                  "[CatalogSettings]\nSetup1=" + std::to_string(language) + "\nSetup20=1\nSetup_Text4=Gone\n");
        const size_t asked = prompt.Asked().size();
        prompt.Answer(PromptResult::Cancel);
        {
            TMainForm form(nullptr, data);
            EXPECT_TRUE(form.StartCancelled);
        }
        ASSERT_EQ(prompt.Asked().size(), asked + 1);
        const QString text = prompt.Asked().back().text;
        EXPECT_EQ(prompt.Asked().back().buttons, PromptButtons::YesNoCancel);
        for (const QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
            EXPECT_EQ(text.count(QStringLiteral("\n") + ButtonShown(b) + QStringLiteral(": ")), 1)
                << text.toStdString() << "\nbutton: " << ButtonShown(b).toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Storno"))) << text.toStdString();
        EXPECT_FALSE(fs::exists(data + "/Gone.d"));
    }
}
