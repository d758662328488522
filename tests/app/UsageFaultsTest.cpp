// Faults met while using the whole program the way a user does: each test repeats the steps that
// went wrong and checks what the user saw or kept.
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include "app/catalog/NewD.h"
#include "app/print/BandReport.h"
#include "platform/Help.h"
#include "platform/VolumeService.h"
#include "platform/VolumeSystem.h"
#include "support/RootOnlyVolumes.h"
#include "ui_NewDataForm.h"

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

template <class PromptT>
class UsageFaultsBase : public DataFolderTest<PromptT> {
protected:
    // "Cat" with two discs and no tree file.
    void TwoDiscs()
    {
        TCatalogBuilder b;
        b.Disc({"e: [FIRST]", "1", "", "", 0, "", 3});
        b.Disc({"f: [SECOND]", "2", "", "", 0, "", 3});
        b.Write(this->data, "Cat");
        this->Ini("Cat");
    }
    static void ExpectNoDiscInTheStatusBar(TMainForm &form)
    {
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(StatusText(form, i).trimmed().isEmpty()) << i << ": " << StatusText(form, i).toStdString();
    }
};

class UsageFaultsTest : public UsageFaultsBase<ActingPrompt> {};

} // namespace

// A right click on another disc moved the highlight while the window still showed (and renamed) the old one.
TEST_F(UsageFaultsTest, RightClickOnAnotherDiscKeepsTheOpenDiscSelected)
{
    TwoDiscs();
    auto form = Open();
    form->show();
    QCoreApplication::processEvents();
    QTreeWidget *tree = form->ui->TreeView1;
    OpenDisc(*form, "e: [FIRST]");
    QTreeWidgetItem *first = tree->currentItem();
    const auto found = tree->findItems(QStringLiteral("f: [SECOND]"), Qt::MatchExactly);
    ASSERT_TRUE(first && found.size() == 1);
    QTreeWidgetItem *second = found.front();
    const QPoint at = tree->visualItemRect(second).center();
    QTest::mousePress(tree->viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, at);
    EXPECT_EQ(tree->currentItem(), first);
    EXPECT_TRUE(first->isSelected());
    EXPECT_FALSE(second->isSelected());
    EXPECT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    // A left click still opens the other disc.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(tree->currentItem(), second);
    EXPECT_EQ(form->Browse.CurrentDisc, "f: [SECOND]");
}

// Running a found file from a disc not in the drive: the insert-disc message named the catalogue the
// first time, and after OK (it had taken the focus from the result list) asked again without it.
TEST_F(UsageFaultsTest, InsertDiscMessageNamesTheCatalogueOnEveryRetry)
{
    TwoDiscs();
    VolumeInfo cd;
    cd.letter = 'e', cd.type = DRIVE_CDROM, cd.ready = false;
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{cd}));
    auto form = Open();
    form->show();
    QApplication::setActiveWindow(form.get());
    QCoreApplication::processEvents();
    form->ui->FindButton->setChecked(true);
    form->FindButtonClick();
    form->ui->Edit1->setText(QStringLiteral("file1"));
    form->FilterButtonClick();
    TSearchListView *results = form->ui->SearchView;
    ASSERT_GE(results->Count(), 1);
    results->SelectRow(0);
    results->ActiveView()->setFocus();
    QCoreApplication::processEvents();
    ASSERT_TRUE(results->hasFocus());
    form->SearchViewClick();
    prompt.Actions = {[&] {
                          results->ActiveView()->clearFocus();
                          return PromptResult::Ok;
                      },
                      [] { return PromptResult::Cancel; }};
    form->SearchViewDblClick();
    VolumeService::SetCurrent(nullptr);
    ASSERT_EQ(prompt.Asked.size(), 2u);
    for (const PromptRequest &asked : prompt.Asked)
        EXPECT_TRUE(asked.text.endsWith(QStringLiteral(" from the archive - Cat")) &&
                    asked.text.size() > 23) << asked.text.toStdString();
}

// A PDF report for a user without a documents folder: the dialog offered "Documents" as the file name.
TEST(UsageFaults, PdfFileQuestionStartsInAFolderThatExists)
{
    orbtest::TempDir home;
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file(".config")));
    const QString withoutDocuments = TBandReport::PdfStartFolder();
    std::filesystem::create_directories(home.path() / "Documents");
    const QString withDocuments = TBandReport::PdfStartFolder();
    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_TRUE(QFileInfo(withoutDocuments).isDir()) << withoutDocuments.toStdString();
    EXPECT_EQ(QDir(withoutDocuments).canonicalPath(), QDir(QString::fromStdString(home.path().string())).canonicalPath());
    EXPECT_EQ(QDir(withDocuments).canonicalPath(), QDir(QString::fromStdString(home.file("Documents"))).canonicalPath());
}

// A new, empty catalogue made while another was shown: status bar, information panel and path box went
// on showing the other catalogue's disc, and that disc stayed the current one.
TEST_F(UsageFaultsTest, NewEmptyCatalogueShowsNothingOfTheCatalogueBefore)
{
    TwoDiscs();
    auto form = Open();
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    ASSERT_FALSE(StatusText(*form, 0).isEmpty());
    // What the new-catalogue dialog does once the name is accepted.
    std::string error;
    ASSERT_TRUE(form->OpenCatalog(data, "Empty", &error)) << error;
    form->ui->LinksListView->clear();
    form->ui->TreeView1->clear();
    form->FormShow();
    EXPECT_EQ(form->CatalogName, "Empty");
    EXPECT_EQ(form->Browse.CurrentDisc, "");
    EXPECT_EQ(form->ui->TreeView1->topLevelItemCount(), 0);
    ExpectNoDiscInTheStatusBar(*form);
    EXPECT_TRUE(form->ui->StaticText1->text().isEmpty());
    EXPECT_TRUE(form->ui->StaticText2->text().isEmpty());
    EXPECT_TRUE(form->ui->ComboBox1->currentText().isEmpty());
}

namespace {

// Every question is answered with Cancel and kept.
class CancelPrompt : public Prompt {
public:
    std::vector<PromptRequest> Asked;
    PromptResult Ask(const PromptRequest &request) override
    {
        Asked.push_back(request);
        return PromptResult::Cancel;
    }
};

class UsageFaults2Test : public UsageFaultsBase<CancelPrompt> {
protected:
    void SetUp() override
    {
        UsageFaultsBase::SetUp();
        langunit::SetCurrentLanguage(langunit::LangCzech);
    }
    // The new-catalogue dialog with "Empty" accepted, as the user does it.
    void NewEmptyCatalogue(TMainForm &form)
    {
        TNewDataForm dialog(&form);
        dialog.ui->Edit1->setText(QStringLiteral("Empty"));
        dialog.OkButtonClick();
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(form.CatalogName, "Empty");
    }
    static void OpenSearch(TMainForm &form)
    {
        form.ui->FindButton->setChecked(true);
        form.FindButtonClick();
    }
};

} // namespace

// On the first start the letter map is taken up only after the window filled its "Load from" list; a
// folder bound already must reach that list, which refreshes on DeviceChange.
TEST(UsageFaults2, FirstStartBoundFolderReachesTheDriveLists)
{
    orbtest::TempDir dir;
    std::filesystem::create_directories(dir.path() / "data");
    dir.write("photos/a.jpg", "x");
    dir.write("data/driveletters.map", "t=folder:" + dir.file("photos") + "\n");
    SystemVolumeService svc(orbtest::RootOnlyVolumeOptions(dir)); // first start: no map yet
    ASSERT_FALSE(svc.Drive('t').has_value());
    bool told = false, listedThen = false;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] {
        told = true;
        listedThen = svc.Drive('t').has_value();
    });
    svc.SetLetterMapPath(dir.file("data/driveletters.map"));
    EXPECT_TRUE(told);
    EXPECT_TRUE(listedThen);
}

// A new, empty catalogue made while a disc of another was shown: the search panel opened and closed
// again put the other catalogue's disc name and file count back into the status bar.
TEST_F(UsageFaults2Test, ClosingTheSearchInAnEmptyCatalogueShowsNoDiscOfTheOneBefore)
{
    TwoDiscs();
    auto form = Open();
    OpenDisc(*form, "e: [FIRST]");
    ASSERT_FALSE(StatusText(*form, 0).trimmed().isEmpty());
    OpenSearch(*form); // the search panel is open when the new catalogue is made
    NewEmptyCatalogue(*form);
    // Back in browsing: the search button is up with its panel hidden.
    EXPECT_FALSE(form->ui->FindButton->isChecked());
    EXPECT_TRUE(form->ui->Panel2->isHidden());
    for (bool closeWithFindButton : {true, false}) {
        SCOPED_TRACE(closeWithFindButton);
        OpenSearch(*form);
        if (closeWithFindButton) {
            form->ui->FindButton->setChecked(false);
            form->FindButtonClick();
        } else {
            form->SpeedButton4Click(); // the panel's own close button
        }
        ExpectNoDiscInTheStatusBar(*form);
    }
}

// A catalogue made or opened during a search: the information panel the search had hidden stayed hidden
// though its button (and the setting) said shown, so the first press of the button did nothing.
TEST_F(UsageFaults2Test, InformationPanelFollowsItsButtonAfterACatalogueChangeDuringASearch)
{
    TwoDiscs();
    dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=1\nSetup20=1\nSetup_Text4=Cat\n");
    auto form = Open();
    ASSERT_TRUE(form->ui->ShowInfoButton->isChecked());
    ASSERT_FALSE(form->ui->InfoPanel->isHidden());
    for (bool made : {true, false}) {
        SCOPED_TRACE(made ? "made" : "opened");
        OpenSearch(*form);
        ASSERT_TRUE(form->ui->InfoPanel->isHidden());
        if (made)
            NewEmptyCatalogue(*form);
        else
            ASSERT_TRUE(form->OpenCatalogFile(data + "/Cat.d"));
        EXPECT_EQ(form->CatalogName, made ? "Empty" : "Cat");
        EXPECT_TRUE(form->ui->ShowInfoButton->isChecked());
        EXPECT_FALSE(form->ui->InfoPanel->isHidden());
    }
}

// The first start's new-catalogue dialog cannot be cancelled; closing it ends the program, writing
// nothing. Its help page says both in every language.
TEST_F(UsageFaults2Test, FirstStartHelpPageTellsWhatCancelDoes)
{
    TwoDiscs();
    auto form = Open();
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::path(data) / "cat.ini"));
    TNewDataForm first(form.get());
    ASSERT_TRUE(first.FirstStart());
    ASSERT_FALSE(first.ui->CancelButton->isEnabled());
    const std::vector<std::tuple<int, const char *, const char *>> cases = {
        {langunit::LangEnglish, "Cancel is not available then; closing the window (or Escape) ends the program",
         "Cancel then ends"},
        {langunit::LangSlovak, "Zrušiť vtedy nie je dostupné; zatvorenie okna (alebo Escape) program ukončí",
         "Zrušiť vtedy program ukončí"},
        {langunit::LangCzech, "Zrušit tehdy není dostupné; zavření okna (nebo Escape) program ukončí",
         "Zrušit tehdy program ukončí"}};
    for (const auto &[program, cancel, wrong] : cases) {
        const QString helpFile = program == langunit::LangEnglish ? "orbalist_e.hlp" : "orbalist.hlp";
        const QUrl url = HelpService::PageFor(helpFile, 4, program);
        ASSERT_TRUE(url.path().endsWith(QStringLiteral("/context-4.html"))) << url.toString().toStdString();
        QFile page(QLatin1Char(':') + url.path());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << url.toString().toStdString();
        const QString text = QString::fromUtf8(page.readAll()).simplified();
        EXPECT_TRUE(text.contains(QString::fromUtf8(cancel))) << program;
        EXPECT_FALSE(text.contains(QString::fromUtf8(wrong))) << program;
    }
}
