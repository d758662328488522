// Faults met while using the whole program the way a user does (second pass):
// each test repeats the steps that went wrong and checks what the user saw.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <filesystem>

#include "app/LangUnit.h"
#include "app/NewD.h"
#include "ui_NewDataForm.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/VolumeSystem.h"
#include "support/RootOnlyVolumes.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

#include "DiscTestSupport.h"
#include "MainFormTestSupport.h"

namespace fs = std::filesystem;
using namespace disctest;

namespace
{

// Every question is answered with Cancel and kept.
class CancelPrompt : public Prompt
{
public:
    std::vector<PromptRequest> Asked;
    PromptResult Ask(const PromptRequest &request) override
    {
        Asked.push_back(request);
        return PromptResult::Cancel;
    }
};

class UsageFaults2Test : public DataFolderTest<CancelPrompt>
{
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        langunit::SetCurrentLanguage(langunit::LangCzech);
    }

    // "Cat" with two discs and no tree file.
    void TwoDiscs()
    {
        TCatalogBuilder b;
        b.Disc({"e: [FIRST]", "1", "", "", 0, "", 3});
        b.Disc({"f: [SECOND]", "2", "", "", 0, "", 3});
        b.Write(data, "Cat");
        Ini("Cat");
    }
};

} // namespace

// On the very first start the letter map is taken up only after the main
// window has filled its "Load from" list; a folder the user had already bound
// must reach that list, which refreshes on DeviceChange.
TEST(UsageFaults2, FirstStartBoundFolderReachesTheDriveLists)
{
    orbtest::TempDir dir;
    fs::create_directories(dir.path() / "data");
    dir.write("photos/a.jpg", "x");
    dir.write("data/driveletters.map", "t=folder:" + dir.file("photos") + "\n");
    const SystemVolumeOptions o = orbtest::RootOnlyVolumeOptions(dir);
    SystemVolumeService svc(o); // first start: no map yet
    ASSERT_FALSE(svc.Drive('t').has_value());
    bool told = false;
    bool listedThen = false;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] {
        told = true;
        listedThen = svc.Drive('t').has_value();
    });
    svc.SetLetterMapPath(dir.file("data/driveletters.map"));
    EXPECT_TRUE(told);
    EXPECT_TRUE(listedThen);
}

// A new, empty catalogue made while a disc of another was shown; the search
// panel opened and closed again put the other catalogue's disc name and file
// count back into the status bar.
TEST_F(UsageFaults2Test, ClosingTheSearchInAnEmptyCatalogueShowsNoDiscOfTheOneBefore)
{
    TwoDiscs();
    auto form = Open();
    ASSERT_GE(form->SelectTreeNodeByText("e: [FIRST]"), 0);
    form->TreeView1Click();
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    ASSERT_FALSE(form->ui->StatusBar1->Panel(0).Text.trimmed().isEmpty());

    // The search panel is open when the new catalogue is made.
    form->ui->FindButton->setChecked(true);
    form->FindButtonClick();
    {
        TNewDataForm dialog(form.get());
        dialog.ui->Edit1->setText(QStringLiteral("Empty"));
        dialog.OkButtonClick();
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
    }
    ASSERT_EQ(form->CatalogName, "Empty");
    // Back in browsing: the search button is up with its panel hidden.
    EXPECT_FALSE(form->ui->FindButton->isChecked());
    EXPECT_TRUE(form->ui->Panel2->isHidden());

    for (bool closeWithFindButton : {true, false}) {
        form->ui->FindButton->setChecked(true);
        form->FindButtonClick();
        if (closeWithFindButton) {
            form->ui->FindButton->setChecked(false);
            form->FindButtonClick();
        } else {
            form->SpeedButton4Click(); // the panel's own close button
        }
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(form->ui->StatusBar1->Panel(i).Text.trimmed().isEmpty())
                << closeWithFindButton << " " << i << ": " << form->ui->StatusBar1->Panel(i).Text.toStdString();
    }
}

// A catalogue made or opened while the search panel was open: the search had
// hidden the information panel, and it stayed hidden though its button (and
// the setting) said it was shown, so the first press of the button did nothing.
TEST_F(UsageFaults2Test, InformationPanelFollowsItsButtonAfterACatalogueChangeDuringASearch)
{
    TwoDiscs();
    dir.write("DiVovData/cat.ini",
              "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=1\nSetup20=1\nSetup_Text4=Cat\n");
    auto form = Open();
    ASSERT_TRUE(form->ui->ShowInfoButton->isChecked());
    ASSERT_FALSE(form->ui->InfoPanel->isHidden());

    // A new catalogue.
    form->ui->FindButton->setChecked(true);
    form->FindButtonClick();
    ASSERT_TRUE(form->ui->InfoPanel->isHidden());
    {
        TNewDataForm dialog(form.get());
        dialog.ui->Edit1->setText(QStringLiteral("Empty"));
        dialog.OkButtonClick();
    }
    ASSERT_EQ(form->CatalogName, "Empty");
    EXPECT_TRUE(form->ui->ShowInfoButton->isChecked());
    EXPECT_FALSE(form->ui->InfoPanel->isHidden());

    // Another catalogue opened.
    form->ui->FindButton->setChecked(true);
    form->FindButtonClick();
    ASSERT_TRUE(form->ui->InfoPanel->isHidden());
    ASSERT_TRUE(form->OpenCatalogFile(data + "/Cat.d"));
    ASSERT_EQ(form->CatalogName, "Cat");
    EXPECT_TRUE(form->ui->ShowInfoButton->isChecked());
    EXPECT_FALSE(form->ui->InfoPanel->isHidden());
}

// The new-catalogue dialog of the very first start can be left with Cancel
// (the program then ends and writes nothing), but its help page told the user
// in every language that Cancel was not available then.
TEST_F(UsageFaults2Test, FirstStartHelpPageTellsWhatCancelDoes)
{
    TwoDiscs();
    auto form = Open();
    ASSERT_TRUE(fs::remove(fs::path(data) / "cat.ini"));
    TNewDataForm first(form.get());
    ASSERT_TRUE(first.FirstStart());
    ASSERT_TRUE(first.ui->CancelButton->isEnabled());

    struct Case {
        int program;
        const char *cancel;
        const char *wrong;
    };
    const Case cases[] = {{langunit::LangEnglish, "Cancel then ends the program", "not available"},
                          {langunit::LangSlovak, "Zrušiť vtedy program ukončí", "nie je dostupné"},
                          {langunit::LangCzech, "Zrušit tehdy program ukončí", "není dostupné"}};
    for (const Case &c : cases) {
        const std::string helpFile = c.program == langunit::LangEnglish ? "orbalist_e.hlp" : "orbalist.hlp";
        const QUrl url = HelpService::PageFor(QString::fromStdString(helpFile), 4, c.program);
        ASSERT_TRUE(url.path().endsWith(QStringLiteral("/context-4.html"))) << url.toString().toStdString();
        QFile page(QLatin1Char(':') + url.path());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << url.toString().toStdString();
        const QString text = QString::fromUtf8(page.readAll()).simplified();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.cancel))) << c.program;
        EXPECT_FALSE(text.contains(QString::fromUtf8(c.wrong))) << c.program;
    }
}
