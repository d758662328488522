// A damaged or missing catalogue at start, the read-only mode, and a first
// start that is left: real files in a temporary data folder.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>

#include "app/CatalogProblem.h"
#include "app/CatalogRescue.h"
#include "app/CatalogTables.h"
#include "app/Lang.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/NewD.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_CatalogProblemForm.h"
#include "ui_LangForm.h"
#include "ui_NewDataForm.h"

namespace fs = std::filesystem;

namespace {

class CatalogSafetyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
    }
    void TearDown() override
    {
        TMainForm::RunModal = nullptr;
        langunit::SetCurrentLanguage(langunit::LangSlovak);
    }
    std::string FilePath(const std::string &name) const { return data + "/" + name + ".d"; }
    std::string DiscPath(const std::string &name) const { return data + "/CdNames/" + name + "_cdname.d"; }
    // A catalogue of `discs` discs with 20 file records each; with `backup`
    // its ".~d" copies are made too.
    void MakeCatalog(const std::string &name, int discs, bool backup = false)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        TFlatTable f;
        AddFieldDefs(f, FileTableLayout());
        f.Open();
        TFlatTable d;
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        for (int i = 0; i < discs; ++i) {
            const std::string disc = "e: [DISK" + std::to_string(i + 1) + "]";
            for (int k = 0; k < 20; ++k) {
                f.Append();
                f.FieldByName("Path").SetAsString("e:\\");
                f.FieldByName("Name").SetAsString("file" + std::to_string(k) + ".txt");
                f.FieldByName("Namecd").SetAsString(disc);
                f.FieldByName("Size").SetAsString("100");
                f.Post();
            }
            d.Append();
            d.FieldByName("CdName").SetAsString(disc);
            d.FieldByName("Number").SetAsString(std::to_string(i + 1));
            d.Post();
        }
        f.SaveToFile(FilePath(name));
        d.SaveToFile(DiscPath(name));
        if (backup) {
            fs::copy_file(FilePath(name), BackupPathOf(FilePath(name)));
            fs::copy_file(DiscPath(name), BackupPathOf(DiscPath(name)));
        }
    }
    void WriteSettings(const std::string &catalog)
    {
        dir.write("DiVovData/cat.ini",
                  "[CatalogSettings]\r\nSetup1=0\r\nSetup20=1\r\nSetup_Text3=" + catalog + "\r\nSetup_Text4=" + catalog +
                      "\r\n");
    }
    void Truncate(const std::string &file, size_t keep)
    {
        const std::string bytes = orbtest::readFile(file);
        ASSERT_GT(bytes.size(), keep);
        dir.write(fs::relative(file, dir.path()).string(), bytes.substr(0, keep));
    }
    // Every file of the data folder with its bytes.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> out;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(data, ec); it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file())
                out[fs::relative(it->path(), data).string()] = orbtest::readFile(it->path().string());
        return out;
    }
    // Runs the problem dialog with `answer`, noting what it showed.
    void AnswerProblem(TCatalogProblemForm::Choice answer)
    {
        TMainForm::RunModal = [this, answer](QDialog &d) {
            if (auto *p = qobject_cast<TCatalogProblemForm *>(&d)) {
                ++problems;
                problemText = p->ui->Label1->text().toStdString();
                restoreEnabled = p->ui->RestoreButton->isEnabled();
                restoreText = p->ui->Label1->text().toStdString();
                readOnlyEnabled = p->ui->ReadOnlyButton->isEnabled();
                // A second showing of the dialog is left.
                if (problems > 1)
                    p->ui->ExitButton->click();
                else if (answer == TCatalogProblemForm::Restore)
                    p->ui->RestoreButton->click();
                else if (answer == TCatalogProblemForm::ReadOnly)
                    p->ui->ReadOnlyButton->click();
                else if (answer == TCatalogProblemForm::Other)
                    p->ui->OtherButton->click();
                else if (answer == TCatalogProblemForm::New)
                    p->ui->NewButton->click();
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

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
    int problems = 0;
    std::string problemText, restoreText, otherChoice;
    bool restoreEnabled = false, readOnlyEnabled = false;
};

} // namespace

TEST_F(CatalogSafetyTest, TruncatedFileTableLeftAloneWhenTheUserExits)
{
    MakeCatalog("Music", 3, true);
    WriteSettings("Music");
    Truncate(FilePath("Music"), 300);
    const auto before = Snapshot();
    AnswerProblem(TCatalogProblemForm::Exit);
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        EXPECT_FALSE(form.HasCatalog());
    }
    EXPECT_EQ(problems, 1);
    // The file and the reason are named; the backup is offered.
    EXPECT_NE(problemText.find(FilePath("Music")), std::string::npos) << problemText;
    EXPECT_NE(problemText.find("Error opening table"), std::string::npos) << problemText;
    EXPECT_TRUE(restoreEnabled);
    EXPECT_NE(restoreText.find("Music.d.damaged"), std::string::npos) << restoreText;
    EXPECT_TRUE(readOnlyEnabled);
    // Nothing written: not the tables, not the settings, no new catalogue.
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(CatalogSafetyTest, RestoreKeepsTheDamagedFileAndOpensTheBackup)
{
    MakeCatalog("Music", 3, true);
    WriteSettings("Music");
    Truncate(FilePath("Music"), 700);
    const std::string damaged = orbtest::readFile(FilePath("Music"));
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
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[3], "Music");
    EXPECT_EQ(s.SetupText[4], "Music");
}

TEST_F(CatalogSafetyTest, ZeroByteDiscTableOpensReadOnlyAndNothingCanBeWritten)
{
    MakeCatalog("Music", 2);
    MakeCatalog("Other", 1);
    WriteSettings("Music");
    Truncate(DiscPath("Music"), 0);
    const auto before = Snapshot();
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
        // Every way of writing is refused.
        const size_t asked = prompt.Asked().size();
        form.ScanButtonClick();
        EXPECT_EQ(prompt.Asked().size(), asked + 1);
        EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("read-only")));
        std::string error;
        EXPECT_FALSE(form.SaveTree(&error));
        EXPECT_THROW(form.SaveToDatabase("1 mb", 0), std::exception);
        EXPECT_THROW(form.FlatTable1->Append(), std::exception);
        // Notes and disc pictures are refused too, with the reason.
        form.NoteMode = 0;
        form.NoteTarget = "e: [DISK1]";
        EXPECT_FALSE(form.StoreNote("changed"));
        const size_t before = prompt.Asked().size();
        EXPECT_FALSE(form.LoadCdPicture(".BMP", data + "/none.bmp"));
        form.DeleteImageToolButtonClick();
        EXPECT_EQ(prompt.Asked().size(), before + 2);
        // The user picks another catalogue as the default in the setup: not kept.
        form.Settings.SetupText[3] = "Other";
        form.close();
    }
    auto after = Snapshot();
    // Only the settings file may differ (window size), and it still names Music.
    EXPECT_EQ(after.erase("cat.ini"), 1u);
    auto expected = before;
    expected.erase("cat.ini");
    EXPECT_EQ(after, expected);
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[3], "Music");
    EXPECT_EQ(s.SetupText[4], "Music");
}

TEST_F(CatalogSafetyTest, TruncatedFileTableReadOnlyKeepsTheRecordsBeforeTheDamage)
{
    MakeCatalog("Music", 3);
    WriteSettings("Music");
    const size_t size = fs::file_size(FilePath("Music"));
    Truncate(FilePath("Music"), size * 2 / 3);
    AnswerProblem(TCatalogProblemForm::ReadOnly);
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.ReadOnlyCatalog);
    EXPECT_GT(form.FileRecordCount(), 0);
    EXPECT_LT(form.FileRecordCount(), 60);
    EXPECT_EQ(form.DiscNames().size(), 3u);
    // The message says what could be read and that the rest was lost.
    ASSERT_FALSE(prompt.Asked().empty());
    EXPECT_TRUE(prompt.Asked().back().text.contains(QStringLiteral("read-only")));
    EXPECT_TRUE(prompt.Asked().back().text.contains(QString::fromStdString(FilePath("Music"))));
}

TEST_F(CatalogSafetyTest, AnotherCatalogueChosenBecomesTheLastOneButNotTheDefault)
{
    MakeCatalog("Music", 1);
    MakeCatalog("Films", 2);
    WriteSettings("Music");
    Truncate(FilePath("Music"), 10);
    const std::string damaged = orbtest::readFile(FilePath("Music"));
    otherChoice = FilePath("Films");
    AnswerProblem(TCatalogProblemForm::Other);
    {
        TMainForm form(nullptr, data);
        ASSERT_TRUE(form.HasCatalog());
        EXPECT_EQ(form.CatalogName, "Films");
        EXPECT_FALSE(form.ReadOnlyCatalog);
        form.close();
    }
    EXPECT_EQ(orbtest::readFile(FilePath("Music")), damaged);
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[3], "Music");
    EXPECT_EQ(s.SetupText[4], "Films");
}

TEST_F(CatalogSafetyTest, NewCatalogueInsteadOfTheDamagedOne)
{
    MakeCatalog("Music", 1);
    WriteSettings("Music");
    Truncate(DiscPath("Music"), 50);
    const std::string damaged = orbtest::readFile(DiscPath("Music"));
    AnswerProblem(TCatalogProblemForm::New);
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.HasCatalog());
    EXPECT_EQ(form.CatalogName, "Fresh");
    EXPECT_EQ(orbtest::readFile(DiscPath("Music")), damaged);
}

TEST_F(CatalogSafetyTest, MissingCatalogueNamedBySettingsIsAskedAbout)
{
    fs::create_directories(fs::path(data) / "CdNames");
    WriteSettings("Gone");
    MakeCatalog("Films", 1);
    const auto before = Snapshot();
    {
        prompt.Answer(PromptResult::Cancel);
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        ASSERT_EQ(prompt.Asked().size(), 1u);
        EXPECT_TRUE(prompt.Asked()[0].text.contains(QString::fromStdString(FilePath("Gone"))));
        EXPECT_TRUE(prompt.Asked()[0].text.contains(QString::fromStdString(DiscPath("Gone"))));
    }
    EXPECT_EQ(Snapshot(), before);
    {
        // No: the choices of a damaged catalogue, with nothing to restore or read.
        prompt.Answer(PromptResult::No);
        AnswerProblem(TCatalogProblemForm::Exit);
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
        EXPECT_EQ(problems, 1);
        EXPECT_FALSE(restoreEnabled);
        EXPECT_FALSE(readOnlyEnabled);
    }
    EXPECT_EQ(Snapshot(), before);
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

TEST_F(CatalogSafetyTest, RestoreNeverWritesOverAnEarlierKeptFile)
{
    MakeCatalog("Music", 1, true);
    Truncate(FilePath("Music"), 100);
    dir.write("DiVovData/Music.d.damaged", "kept earlier");
    std::string kept, error;
    ASSERT_TRUE(RestoreTableFromBackup(FilePath("Music"), &kept, &error)) << error;
    EXPECT_EQ(kept, FilePath("Music") + ".damaged2");
    EXPECT_EQ(orbtest::readFile(FilePath("Music") + ".damaged"), "kept earlier");
    EXPECT_EQ(orbtest::readFile(kept).size(), 100u);
    // A damaged backup is never put in place.
    Truncate(BackupPathOf(DiscPath("Music")), 20);
    const std::string disc = orbtest::readFile(DiscPath("Music"));
    EXPECT_FALSE(RestoreTableFromBackup(DiscPath("Music"), &kept, &error));
    EXPECT_NE(error.find(BackupPathOf(DiscPath("Music"))), std::string::npos) << error;
    EXPECT_EQ(orbtest::readFile(DiscPath("Music")), disc);
}

TEST_F(CatalogSafetyTest, FirstStartLeftWritesNothingAndAsksAgain)
{
    for (const char *way : {"cancel", "escape", "close"}) {
        SCOPED_TRACE(way);
        std::vector<std::string> shown;
        TMainForm::RunModal = [&](QDialog &d) {
            if (auto *lang = qobject_cast<TLangForm *>(&d)) {
                shown.push_back("lang");
                lang->ui->BitBtn1->click();
            } else if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
                shown.push_back("new");
                if (std::string(way) == "cancel")
                    newData->ui->CancelButton->click();
                else if (std::string(way) == "escape")
                    newData->reject();
                else
                    newData->close();
            }
            return d.result();
        };
        {
            TMainForm form(nullptr, data);
            EXPECT_TRUE(form.StartCancelled);
            EXPECT_FALSE(form.HasCatalog());
        }
        EXPECT_EQ(shown, (std::vector<std::string>{"lang", "new"}));
        EXPECT_FALSE(fs::exists(data));
    }
    // A first start killed after making the folders asks again as well.
    fs::create_directories(fs::path(data) / "CdNames");
    EXPECT_TRUE(TMainForm::IsFirstRun(data));
    std::vector<std::string> shown;
    TMainForm::RunModal = [&](QDialog &d) {
        if (qobject_cast<TLangForm *>(&d))
            shown.push_back("lang");
        else if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
            shown.push_back("new");
            newData->ui->OkButton->click();
        }
        return d.result();
    };
    {
        TMainForm form(nullptr, data);
        EXPECT_FALSE(form.StartCancelled);
        EXPECT_EQ(form.CatalogName, "DuzuvozER");
        form.close();
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"lang", "new"}));
    EXPECT_FALSE(TMainForm::IsFirstRun(data));
}

TEST_F(CatalogSafetyTest, NameThatCannotBeAFileNameIsAskedAboutNotReplaced)
{
    MakeCatalog("Films", 1);
    WriteSettings("../escape");
    const auto before = Snapshot();
    AnswerProblem(TCatalogProblemForm::Exit);
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.StartCancelled);
    }
    EXPECT_EQ(problems, 1);
    EXPECT_NE(problemText.find("../escape"), std::string::npos) << problemText;
    EXPECT_FALSE(restoreEnabled);
    EXPECT_FALSE(readOnlyEnabled);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(fs::exists(dir.file("escape.d")));
    // Another one chosen instead is opened; the default stays as the user wrote it.
    problems = 0;
    otherChoice = FilePath("Films");
    AnswerProblem(TCatalogProblemForm::Other);
    {
        TMainForm form(nullptr, data);
        EXPECT_EQ(form.CatalogName, "Films");
        form.close();
    }
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[3], "../escape");
    EXPECT_EQ(s.SetupText[4], "Films");
}
