// Faults met while using the whole program the way a user does: each test
// repeats the steps that went wrong and checks what the user saw or kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>

#include "app/BandReport.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/SearchListView.h"
#include "platform/Prompt.h"
#include "platform/VolumeService.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

#include "DiscTestSupport.h"
#include "MainFormTestSupport.h"

using namespace disctest;

namespace
{

class UsageFaultsTest : public DataFolderTest<ActingPrompt>
{
protected:
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

// A right click on another disc of the tree used to move the highlight to it
// while the window still showed (and renamed) the disc opened before.
TEST_F(UsageFaultsTest, RightClickOnAnotherDiscKeepsTheOpenDiscSelected)
{
    TwoDiscs();
    auto form = Open();
    form->show();
    QCoreApplication::processEvents();
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_GE(form->SelectTreeNodeByText("e: [FIRST]"), 0);
    form->TreeView1Click();
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    QTreeWidgetItem *first = tree->currentItem();
    ASSERT_NE(first, nullptr);

    QTreeWidgetItem *second = nullptr;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == QStringLiteral("f: [SECOND]"))
            second = tree->topLevelItem(i);
    ASSERT_NE(second, nullptr);
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

// Running a found file from a disc that is not in the drive: the insert-disc
// message named the catalogue the first time, and after OK (the message had
// taken the focus from the result list) asked again without it.
TEST_F(UsageFaultsTest, InsertDiscMessageNamesTheCatalogueOnEveryRetry)
{
    TwoDiscs();
    VolumeInfo cd;
    cd.letter = 'e';
    cd.type = DRIVE_CDROM;
    cd.ready = false;
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
    const std::string ending = " from the archive - Cat";
    for (const PromptRequest &asked : prompt.Asked) {
        const std::string text = asked.text.toStdString();
        EXPECT_TRUE(text.size() > ending.size() &&
                    text.compare(text.size() - ending.size(), ending.size(), ending) == 0)
            << text;
    }
}

// Writing a report as PDF for a user without a documents folder: the file
// dialog offered "Documents" as the file's name (in the home folder).
TEST(UsageFaults, PdfFileQuestionStartsInAFolderThatExists)
{
    orbtest::TempDir home;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file(".config")));
    const QString withoutDocuments = TBandReport::PdfStartFolder();
    fs::create_directories(home.path() / "Documents");
    const QString withDocuments = TBandReport::PdfStartFolder();
    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);

    EXPECT_TRUE(QFileInfo(withoutDocuments).isDir()) << withoutDocuments.toStdString();
    EXPECT_EQ(QDir(withoutDocuments).canonicalPath(),
              QDir(QString::fromStdString(home.path().string())).canonicalPath());
    EXPECT_EQ(QDir(withDocuments).canonicalPath(),
              QDir(QString::fromStdString(home.file("Documents"))).canonicalPath());
}

// A new, empty catalogue made while another was shown: the status bar, the
// information panel and the path box went on showing the other catalogue's
// disc, and that disc stayed the current one.
TEST_F(UsageFaultsTest, NewEmptyCatalogueShowsNothingOfTheCatalogueBefore)
{
    TwoDiscs();
    auto form = Open();
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    ASSERT_FALSE(form->ui->StatusBar1->Panel(0).Text.isEmpty());

    // What the new-catalogue dialog does once the name is accepted.
    std::string error;
    ASSERT_TRUE(form->OpenCatalog(data, "Empty", &error)) << error;
    form->ui->LinksListView->clear();
    form->ui->TreeView1->clear();
    form->FormShow();

    EXPECT_EQ(form->CatalogName, "Empty");
    EXPECT_EQ(form->Browse.CurrentDisc, "");
    EXPECT_EQ(form->ui->TreeView1->topLevelItemCount(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(form->ui->StatusBar1->Panel(i).Text.trimmed().isEmpty())
            << i << ": " << form->ui->StatusBar1->Panel(i).Text.toStdString();
    EXPECT_TRUE(form->ui->StaticText1->text().isEmpty());
    EXPECT_TRUE(form->ui->StaticText2->text().isEmpty());
    EXPECT_TRUE(form->ui->ComboBox1->currentText().isEmpty());
}

} // namespace
