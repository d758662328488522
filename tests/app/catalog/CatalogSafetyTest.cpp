// A damaged or missing catalogue at start, the read-only mode, and a first
// start that is left: real files in a temporary data folder.
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include "app/Lang.h"
#include "app/catalog/CatalogProblem.h"
#include "app/catalog/CatalogRescue.h"
#include "app/catalog/NewD.h"
#include "ui_CatalogProblemForm.h"
#include "ui_LangForm.h"
#include "ui_NewDataForm.h"

#include "app/CatalogTestSupport.h"

#include <functional>

using namespace disctest;

namespace {

class CatalogSafetyTest : public cattest::CatalogTest {
protected:
    std::string FilePath(const std::string &name) const { return data + "/" + name + ".d"; }
    std::string DiscPath(const std::string &name) const { return data + "/CdNames/" + name + "_cdname.d"; }
    // A catalogue of `discs` discs with 20 file records each; with `backup` its ".~d" copies too.
    void MakeCatalog(const std::string &name, int discs, bool backup = false)
    {
        TFlatTable f, d;
        AddFieldDefs(f, FileTableLayout());
        AddFieldDefs(d, DiscTableLayout());
        f.Open();
        d.Open();
        for (int i = 0; i < discs; ++i) {
            const std::string disc = "e: [DISK" + std::to_string(i + 1) + "]";
            for (int k = 0; k < 20; ++k)
                AddRecord(f, {{"Path", "e:\\"}, {"Name", "file" + std::to_string(k) + ".txt"}, {"Namecd", disc},
                              {"Size", "100"}});
            AddRecord(d, {{"CdName", disc}, {"Number", std::to_string(i + 1)}});
        }
        f.SaveToFile(FilePath(name));
        d.SaveToFile(DiscPath(name));
        for (const std::string &t : {FilePath(name), DiscPath(name)})
            if (backup)
                fs::copy_file(t, BackupPathOf(t));
    }
    void WriteSettings(const std::string &catalog)
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\r\nSetup1=0\r\nSetup20=1\r\nSetup_Text3=" + catalog +
                                           "\r\nSetup_Text4=" + catalog + "\r\n");
    }
    void Truncate(const std::string &file, size_t keep)
    {
        const std::string bytes = orbtest::readFile(file);
        ASSERT_GT(bytes.size(), keep);
        dir.write(fs::relative(file, dir.path()).string(), bytes.substr(0, keep));
    }
    // The default catalogue and the last one, as the settings file holds them.
    std::pair<std::string, std::string> Remembered() const
    {
        TSettings s;
        ReadSettingsFile(data + "/cat.ini", s);
        return {s.SetupText[3], s.SetupText[4]};
    }
    // Runs the problem dialog with `answer` (a second showing is left), noting what it showed.
    void AnswerProblem(TCatalogProblemForm::Choice answer)
    {
        problems = 0;
        TMainForm::RunModal = [this, answer](QDialog &d) {
            if (auto *p = qobject_cast<TCatalogProblemForm *>(&d)) {
                problemText = p->ui->Label1->text().toStdString();
                restoreEnabled = p->ui->RestoreButton->isEnabled();
                readOnlyEnabled = p->ui->ReadOnlyButton->isEnabled();
                const std::map<int, QPushButton *> buttons = {{TCatalogProblemForm::Restore, p->ui->RestoreButton},
                                                              {TCatalogProblemForm::ReadOnly, p->ui->ReadOnlyButton},
                                                              {TCatalogProblemForm::Other, p->ui->OtherButton},
                                                              {TCatalogProblemForm::New, p->ui->NewButton}};
                if (++problems > 1)
                    p->ui->ExitButton->click();
                else if (buttons.count(answer))
                    buttons.at(answer)->click();
                else
                    p->reject(); // Escape
                return d.result();
            }
            if (auto *files = qobject_cast<QFileDialog *>(&d)) {
                files->selectFile(QString::fromStdString(otherChoice));
                return int(QDialog::Accepted);
            }
            if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
                newData->ui->Edit1->setText(QStringLiteral("Fresh"));
                newData->ui->OkButton->click();
                return d.result();
            }
            return 0;
        };
    }

    int problems = 0;
    std::string problemText, otherChoice;
    bool restoreEnabled = false, readOnlyEnabled = false;
};

} // namespace

TEST_F(CatalogSafetyTest, TruncatedFileTableLeftAloneOnExitAndRestoredKeepingTheDamagedFile)
{
    MakeCatalog("Music", 3, true);
    WriteSettings("Music");
    Truncate(FilePath("Music"), 700);
    const std::string damaged = orbtest::readFile(FilePath("Music"));
    const auto before = Snapshot(data);
    AnswerProblem(TCatalogProblemForm::Exit);
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        EXPECT_FALSE(form.HasCatalog());
    }
    EXPECT_EQ(problems, 1);
    // The file and the reason are named; the backup is offered.
    for (const std::string &part : {FilePath("Music"), std::string("Error opening table"),
                                    std::string("Music.d.damaged")})
        EXPECT_NE(problemText.find(part), std::string::npos) << problemText;
    EXPECT_TRUE(restoreEnabled);
    EXPECT_TRUE(readOnlyEnabled);
    EXPECT_EQ(Snapshot(data), before); // not the tables, not the settings, no new catalogue
    AnswerProblem(TCatalogProblemForm::Restore);
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        EXPECT_FALSE(form.ReadOnlyCatalog);
        EXPECT_EQ(form.CatalogName, "Music");
        EXPECT_EQ(form.FileRecordCount(), 60);
        form.close();
    }
    EXPECT_EQ(problems, 1);
    EXPECT_EQ(orbtest::readFile(FilePath("Music") + ".damaged"), damaged);
    EXPECT_EQ(orbtest::readFile(FilePath("Music")), orbtest::readFile(data + "/Music.~d"));
    ASSERT_FALSE(prompt.Asked().empty());
    EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("Music.d.damaged")));
    EXPECT_EQ(Remembered(), std::make_pair(std::string("Music"), std::string("Music")));
}

TEST_F(CatalogSafetyTest, ZeroByteDiscTableOpensReadOnlyAndNothingCanBeWritten)
{
    MakeCatalog("Music", 2);
    MakeCatalog("Other", 1);
    WriteSettings("Music");
    Truncate(DiscPath("Music"), 0);
    auto before = Snapshot(data);
    AnswerProblem(TCatalogProblemForm::ReadOnly);
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        EXPECT_TRUE(form.ReadOnlyCatalog);
        EXPECT_FALSE(restoreEnabled) << "no backup to restore";
        EXPECT_NE(problemText.find(DiscPath("Music")), std::string::npos) << problemText;
        EXPECT_NE(problemText.find("0 bytes"), std::string::npos) << problemText;
        EXPECT_TRUE(form.Caption().contains(QStringLiteral("read-only")));
        form.show();
        // Every way of writing is refused, notes and disc pictures with the reason.
        const size_t asked = prompt.Asked().size();
        form.ScanButtonClick();
        ASSERT_EQ(prompt.Asked().size(), asked + 1);
        EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("read-only")));
        std::string error;
        EXPECT_FALSE(form.SaveTree(&error));
        EXPECT_NE(error.find("read-only"), std::string::npos) << error;
        EXPECT_THROW(form.SaveToDatabase("1 mb", 0), std::exception);
        EXPECT_THROW(form.FlatTable1->Append(), std::exception);
        form.NoteMode = 0;
        form.NoteTarget = "e: [DISK1]";
        EXPECT_FALSE(form.StoreNote("changed"));
        EXPECT_FALSE(form.LoadCdPicture(".BMP", data + "/none.bmp"));
        form.DeleteImageToolButtonClick();
        EXPECT_EQ(prompt.Asked().size(), asked + 3);
        // The user picks another catalogue as the default in the setup: not kept.
        form.Settings.SetupText[3] = "Other";
        form.close();
    }
    // Only the settings file may differ (window size), and it still names Music.
    auto after = Snapshot(data);
    EXPECT_EQ(after.erase("cat.ini") + before.erase("cat.ini"), 2u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(Remembered(), std::make_pair(std::string("Music"), std::string("Music")));
}

TEST_F(CatalogSafetyTest, TruncatedFileTableReadOnlyKeepsTheRecordsBeforeTheDamage)
{
    MakeCatalog("Music", 3);
    WriteSettings("Music");
    Truncate(FilePath("Music"), fs::file_size(FilePath("Music")) * 2 / 3);
    AnswerProblem(TCatalogProblemForm::ReadOnly);
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.ReadOnlyCatalog);
    EXPECT_GT(form.FileRecordCount(), 0);
    EXPECT_LT(form.FileRecordCount(), 60);
    EXPECT_EQ(form.DiscNames().size(), 3u);
    // One message says what could be read and that the rest was lost (no bare engine text before it).
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("read-only")));
    EXPECT_TRUE(prompt.Asked().back().text.contains(QString::fromStdString(FilePath("Music"))));
}

TEST_F(CatalogSafetyTest, AnotherOrANewCatalogueChosenInsteadOfTheDamagedOne)
{
    MakeCatalog("Music", 1);
    MakeCatalog("Films", 2);
    WriteSettings("Music");
    Truncate(FilePath("Music"), 10);
    Truncate(DiscPath("Music"), 50);
    const auto damaged = Snapshot(data);
    otherChoice = FilePath("Films");
    AnswerProblem(TCatalogProblemForm::Other);
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        EXPECT_EQ(form.CatalogName, "Films");
        EXPECT_FALSE(form.ReadOnlyCatalog);
        form.close();
    }
    // The other becomes the last one, not the default.
    EXPECT_EQ(Remembered(), std::make_pair(std::string("Music"), std::string("Films")));
    WriteSettings("Music");
    AnswerProblem(TCatalogProblemForm::New);
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        EXPECT_EQ(form.CatalogName, "Fresh");
    }
    for (const std::string &t : {std::string("Music.d"), std::string("CdNames/Music_cdname.d")})
        EXPECT_EQ(orbtest::readFile(data + "/" + t), damaged.at(t)) << t;
}

TEST_F(CatalogSafetyTest, MissingCatalogueNamedBySettingsIsAskedAbout)
{
    WriteSettings("Gone");
    MakeCatalog("Films", 1);
    const auto before = Snapshot(data);
    {
        prompt.Answer(PromptResult::Cancel);
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        ASSERT_EQ(prompt.Asked().size(), 1u);
        EXPECT_TRUE(prompt.Asked()[0].text.contains(QString::fromStdString(FilePath("Gone"))));
        EXPECT_TRUE(prompt.Asked()[0].text.contains(QString::fromStdString(DiscPath("Gone"))));
    }
    EXPECT_EQ(Snapshot(data), before);
    {
        // No: the choices of a damaged catalogue, with nothing to restore or read.
        prompt.Answer(PromptResult::No);
        AnswerProblem(TCatalogProblemForm::Exit);
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        EXPECT_EQ(problems, 1);
        EXPECT_FALSE(restoreEnabled || readOnlyEnabled);
    }
    EXPECT_EQ(Snapshot(data), before);
    {
        prompt.Answer(PromptResult::Yes);
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.HasCatalog());
        EXPECT_EQ(form.CatalogName, "Gone");
    }
    EXPECT_TRUE(fs::exists(FilePath("Gone")));
}

TEST_F(CatalogSafetyTest, MissingCatalogueWithBackupsCanBeRestored)
{
    MakeCatalog("Music", 2, true);
    WriteSettings("Music");
    fs::remove(FilePath("Music"));
    fs::remove(DiscPath("Music"));
    AnswerProblem(TCatalogProblemForm::Restore);
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.HasCatalog());
    EXPECT_EQ(form.FileRecordCount(), 40);
    EXPECT_EQ(problems, 1);
    EXPECT_FALSE(fs::exists(FilePath("Music") + ".damaged"));
}

TEST_F(CatalogSafetyTest, RestoreNeverWritesOverAnEarlierKeptFileNorPutsADamagedBackupInPlace)
{
    MakeCatalog("Music", 1, true);
    Truncate(FilePath("Music"), 100);
    dir.write("DiVovData/Music.d.damaged", "kept earlier");
    std::string kept, error;
    ASSERT_TRUE(RestoreTableFromBackup(FilePath("Music"), &kept, &error)) << error;
    EXPECT_EQ(kept, FilePath("Music") + ".damaged2");
    EXPECT_EQ(orbtest::readFile(FilePath("Music") + ".damaged"), "kept earlier");
    EXPECT_EQ(orbtest::readFile(kept).size(), 100u);
    Truncate(BackupPathOf(DiscPath("Music")), 20);
    const std::string disc = orbtest::readFile(DiscPath("Music"));
    EXPECT_FALSE(RestoreTableFromBackup(DiscPath("Music"), &kept, &error));
    EXPECT_NE(error.find(BackupPathOf(DiscPath("Music"))), std::string::npos) << error;
    EXPECT_EQ(orbtest::readFile(DiscPath("Music")), disc);
}

TEST_F(CatalogSafetyTest, FirstStartLeftWritesNothingAndAsksAgain)
{
    // Cancelled, escaped, closed; then, after a start killed once it made the folders, OK.
    fs::remove_all(data);
    for (const std::string way : {"cancel", "escape", "close", "ok"}) {
        SCOPED_TRACE(way);
        if (way == "ok") {
            fs::create_directories(fs::path(data) / "CdNames");
            EXPECT_TRUE(TMainForm::IsFirstRun(data));
        }
        Names shown;
        TMainForm::RunModal = [&](QDialog &d) {
            if (auto *lang = qobject_cast<TLangForm *>(&d)) {
                shown.push_back("lang");
                lang->ui->BitBtn1->click();
            } else if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
                shown.push_back("new");
                if (way == "cancel") {
                    // Cancel cannot be pressed on the first start.
                    EXPECT_FALSE(newData->ui->CancelButton->isEnabled());
                    newData->ui->CancelButton->click();
                    if (newData->result() == 0)
                        newData->reject(); // the user then closes the window instead
                }
                else if (way == "escape")
                    newData->reject();
                else if (way == "close")
                    newData->close();
                else
                    newData->ui->OkButton->click();
            }
            return d.result();
        };
        {
            TMainForm form(nullptr, data);
            EXPECT_EQ(form.StartCancelled, way != "ok");
            EXPECT_EQ(form.HasCatalog(), way == "ok");
            EXPECT_EQ(form.CatalogName, way == "ok" ? "DuzuvozER" : "");
            form.close();
        }
        EXPECT_EQ(shown, (Names{"lang", "new"}));
        EXPECT_EQ(fs::exists(data), way == "ok");
    }
    EXPECT_FALSE(TMainForm::IsFirstRun(data));
}

TEST_F(CatalogSafetyTest, NameThatCannotBeAFileNameIsAskedAboutNotReplaced)
{
    MakeCatalog("Films", 1);
    WriteSettings("../escape");
    const auto before = Snapshot(data);
    AnswerProblem(TCatalogProblemForm::Exit);
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
    }
    EXPECT_EQ(problems, 1);
    EXPECT_NE(problemText.find("../escape"), std::string::npos) << problemText;
    EXPECT_FALSE(restoreEnabled || readOnlyEnabled);
    EXPECT_EQ(Snapshot(data), before);
    EXPECT_FALSE(fs::exists(dir.file("escape.d")));
    // Another one chosen instead is opened; the default stays as the user wrote it.
    otherChoice = FilePath("Films");
    AnswerProblem(TCatalogProblemForm::Other);
    {
        TMainForm form(nullptr, data);
        EXPECT_EQ(form.CatalogName, "Films");
        form.close();
    }
    EXPECT_EQ(Remembered(), std::make_pair(std::string("../escape"), std::string("Films")));
}

TEST_F(CatalogSafetyTest, ZeroedAndGarbledHeadersOfBothTablesReachTheDialogAndStayByteForByte)
{
    // A damaged header may read as a table of no fields or of other ones: that is
    // never taken for an older layout to convert, and nothing is written.
    const std::pair<const char *, std::function<void(std::string &)>> damages[] = {
        {"first 16 bytes zero", [](std::string &b) { std::fill(b.begin(), b.begin() + 16, '\0'); }},
        {"all bytes zero", [](std::string &b) { std::fill(b.begin(), b.end(), '\0'); }},
        {"field count 2", [](std::string &b) { b[9] = 2, b[10] = b[11] = b[12] = 0; }},
        {"names garbled", [](std::string &b) {
             for (size_t i = 17; i < 60; ++i)
                 if (std::isalpha(static_cast<unsigned char>(b[i])))
                     b[i] = 'Q';
         }}};
    for (const bool discTable : {false, true})
        for (const auto &[what, damage] : damages) {
            SCOPED_TRACE(std::string(discTable ? "disc table, " : "file table, ") + what);
            fs::remove_all(data);
            fs::create_directories(data + "/CdNames");
            MakeCatalog("Music", 3, true);
            WriteSettings("Music");
            const std::string file = discTable ? DiscPath("Music") : FilePath("Music");
            std::string bytes = orbtest::readFile(file);
            damage(bytes);
            dir.write(fs::relative(file, dir.path()).string(), bytes);
            const auto before = Snapshot(data);
            const size_t asked = prompt.Asked().size();
            AnswerProblem(TCatalogProblemForm::Exit);
            {
                TMainForm form(nullptr, data);
                EXPECT_TRUE(form.StartCancelled);
            }
            EXPECT_EQ(problems, 1);
            EXPECT_NE(problemText.find(file + ":"), std::string::npos) << problemText;
            EXPECT_TRUE(restoreEnabled) << problemText;
            EXPECT_EQ(prompt.Asked().size(), asked) << "no conversion message, nothing else";
            EXPECT_EQ(Snapshot(data), before);
        }
}

TEST_F(CatalogSafetyTest, UserFilesBesideEveryTableSurviveOpenSaveAndRestore)
{
    MakeCatalog("MyDiscs", 2, true);
    WriteSettings("MyDiscs");
    // Names users give their copies, also ones like the temporary names of older versions.
    const std::vector<std::string> tables = {"MyDiscs.d", "MyDiscs.~d", "CdNames/MyDiscs_cdname.d",
                                             "CdNames/MyDiscs_cdname.~d", "CdNames/MyDiscs_cdname.dat", "cat.ini",
                                             "driveletters.map"};
    std::map<std::string, std::string> mine;
    for (const std::string &t : tables)
        for (const char *suffix : {".backup", ".2026v1", ".before", ".Ab3xYz", ".orbalist-tmp-"}) {
            mine[t + suffix] = "user's copy of " + t + suffix;
            dir.write("DiVovData/" + t + suffix, mine[t + suffix]);
        }
    // As a later start sees them: older than the process.
    const TLaterStart laterStart;
    auto unchanged = [&](const char *step) {
        for (const auto &[name, bytes] : mine)
            EXPECT_EQ(orbtest::readFile(data + "/" + name), bytes) << name << " after " << step;
    };
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        form.show();
        unchanged("the open");
        // A save of both tables and of the tree, with backups.
        for (TFlatTable *t : {form.FlatTable1.get(), form.CdNameTable.get()}) {
            t->First();
            t->Edit();
            t->FieldByName(t == form.FlatTable1.get() ? "Note" : "CdNote").SetAsString("changed");
            t->Post();
            t->Save();
        }
        std::string error;
        EXPECT_TRUE(form.SaveTree(&error)) << error;
        unchanged("a save");
        std::vector<std::string> kept;
        EXPECT_TRUE(form.RestoreCatalog("MyDiscs", &error, &kept)) << error;
        unchanged("a restore");
        form.close();
    }
    {
        TMainForm again(nullptr, data);
        ASSERT_TRUE(again.HasCatalog());
        again.show();
        again.close();
    }
    unchanged("a second start");
}

TEST_F(CatalogSafetyTest, OlderFileTableBesideADamagedDiscTableIsNeitherConvertedNorTidied)
{
    // The file table opens (it is of the older layout, with a leftover of an
    // interrupted save beside it), the disc table does not: nothing of either
    // may change before the user has answered.
    {
        TFlatTable t;
        t.SetLoadMode(lmClear);
        AddFieldDefs(t, std::vector<TFieldLayout>(FileTableLayout().begin(), FileTableLayout().end() - 2));
        t.Open();
        AddRecord(t, {{"Path", "e:\\"}, {"Name", "a.txt"}, {"Namecd", "e: [DISK1]"}});
        t.SaveToFile(FilePath("Music"));
    }
    dir.write("DiVovData/Music.d.orbalist-tmp-Ab3xYz", "cut short");
    dir.write("DiVovData/CdNames/Music_cdname.d", std::string(80, '\0'));
    WriteSettings("Music");
    const TLaterStart laterStart;
    const auto before = Snapshot(data);
    AnswerProblem(TCatalogProblemForm::Exit);
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
    }
    EXPECT_EQ(problems, 1);
    EXPECT_NE(problemText.find(DiscPath("Music") + ":"), std::string::npos) << problemText;
    EXPECT_TRUE(prompt.Asked().empty()) << "no conversion message";
    EXPECT_EQ(Snapshot(data), before);
}

TEST_F(CatalogSafetyTest, OlderFileTableBesideAGoodDiscTableIsConvertedOnceBothOpen)
{
    // Both tables open: the older file table is then converted with every record,
    // its original kept, and the leftover of an interrupted save beside it goes.
    {
        TFlatTable t;
        t.SetLoadMode(lmClear);
        AddFieldDefs(t, std::vector<TFieldLayout>(FileTableLayout().begin(), FileTableLayout().end() - 2));
        t.Open();
        for (const char *name : {"a.txt", "b.txt"})
            AddRecord(t, {{"Path", "e:\\"}, {"Name", name}, {"Namecd", "e: [DISK1]"}});
        t.SaveToFile(FilePath("Music"));
        TFlatTable d;
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        AddRecord(d, {{"CdName", "e: [DISK1]"}, {"Number", "1"}});
        d.SaveToFile(DiscPath("Music"));
    }
    const std::string original = orbtest::readFile(FilePath("Music"));
    dir.write("DiVovData/Music.d.orbalist-tmp-Ab3xYz", "cut short");
    WriteSettings("Music");
    const TLaterStart laterStart;
    AnswerProblem(TCatalogProblemForm::Exit);
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.HasCatalog());
    EXPECT_EQ(problems, 0);
    EXPECT_EQ(prompt.Asked().size(), 2u) << "the conversion is announced and its end told";
    EXPECT_TRUE(form.FlatTable1->FindField("MusicOrder") && form.FlatTable1->FindField("CdIdCode"));
    EXPECT_EQ(form.FileRecordCount(), 2);
    EXPECT_EQ(orbtest::readFile(FilePath("Music") + ".old-layout"), original);
    EXPECT_FALSE(fs::exists(data + "/Music.d.orbalist-tmp-Ab3xYz"));
}
