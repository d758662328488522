// Parts of the main window a user sees at once: tool tips that go after three
// seconds, grid lines in the lists, the status bar's progress bar, the view
// menu's check marks, the information panel kept shown or hidden, and the
// message that names settings it could not use.
#include <QProgressBar>
#include <QTreeView>

#include "archive/ZipLstr.h"
#include "widgets/HintPause.h"

#include "app/MainFormTestSupport.h"

namespace {

class WindowPartsTest : public MainFormTablesTest {
protected:
    std::unique_ptr<TMainForm> OpenWith(const std::string &ini)
    {
        AppendRecord(discs, {{"CdName", "e: [DATA]"}, {"Number", "1"}});
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            AppendRecord(files, {{"Path", "e:\\"}, {"Name", name}, {"Namecd", "e: [DATA]"}, {"Number", "1"},
                                 {"Size", "10"}, {"Type", 1}});
        SaveCat("Setup16=0\n" + ini);
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->resize(900, 600);
        form->show();
        QApplication::processEvents();
        return form;
    }
    // Pixels of the report's first row, just above the second, that are darker than the list's base.
    static int LinePixels(TMainForm &form)
    {
        QTreeView *report = form.ui->LinksListView->ReportView();
        const QRect first = report->visualRect(report->model()->index(0, 0));
        const QImage image = report->viewport()->grab().toImage();
        const QRgb base = report->palette().color(QPalette::Base).rgb();
        int count = 0;
        for (int x = first.left() + 2; x < report->viewport()->width() - 2; ++x)
            count += qGray(image.pixel(x, first.bottom())) < qGray(base) - 10;
        return count;
    }
};

} // namespace

TEST_F(WindowPartsTest, GridLinesFollowTheSettingInBothLists)
{
    auto form = OpenWith("Setup15=1\n");
    ASSERT_GE(form->ui->LinksListView->Count(), 3);
    EXPECT_TRUE(form->ui->LinksListView->GridLines());
    EXPECT_TRUE(form->ui->SearchView->GridLines());
    // A line under the first row, across the columns; no shaded rows.
    EXPECT_GT(LinePixels(*form), 300);
    EXPECT_FALSE(form->ui->LinksListView->ReportView()->alternatingRowColors());
    form->Settings[15] = 0;
    form->FormShow();
    QApplication::processEvents();
    EXPECT_FALSE(form->ui->SearchView->GridLines());
    EXPECT_EQ(LinePixels(*form), 0);
}

TEST_F(WindowPartsTest, TipsHideAfterThreeSecondsAndTheProgressBarLeaves342Pixels)
{
    auto form = OpenWith("");
    const auto pauses = form->findChildren<THintPause *>();
    ASSERT_EQ(pauses.size(), 1);
    EXPECT_EQ(pauses.front()->HidePause(), 3000);
    for (int width : {900, 742, 1200}) {
        form->resize(width, 600);
        QApplication::processEvents();
        // The window less 342 pixels, short of the few the borders between the panels take.
        EXPECT_LE(form->ProgressBar1->width(), form->width() - 342) << width;
        EXPECT_GE(form->ProgressBar1->width(), form->width() - 350) << width;
        EXPECT_GE(form->ProgressBar1->x(), form->ui->StatusBar1->PanelRect(3).left()) << width;
    }
}

TEST_F(WindowPartsTest, UncheckingTheCheckedViewStyleLeavesStyleAndSettingAsTheyAre)
{
    auto form = OpenWith("Setup18=1\n");
    ASSERT_TRUE(form->ui->ListViewMenu->isChecked());
    form->ui->ListViewMenu->trigger();
    for (QAction *a : {form->ui->ListViewMenu, form->ui->IconViewMenu, form->ui->SmallIconViewMenu,
                       form->ui->ReportViewMenu})
        EXPECT_FALSE(a->isChecked()) << a->objectName().toStdString();
    EXPECT_EQ(form->ui->LinksListView->ViewStyle(), vsList);
    EXPECT_EQ(form->ui->SearchView->ViewStyle(), vsList);
    EXPECT_EQ(form->Settings[18], 1);
    // Another item checks alone again.
    form->ui->ReportViewMenu->trigger();
    EXPECT_TRUE(form->ui->ReportViewMenu->isChecked());
    EXPECT_FALSE(form->ui->ListViewMenu->isChecked());
    EXPECT_EQ(form->ui->LinksListView->ViewStyle(), vsReport);
    EXPECT_EQ(form->Settings[18], 4);
}

TEST_F(WindowPartsTest, OneMessageAtStartNamesEachUnusableSettingInTheChosenLanguage)
{
    for (const auto &[language, expected] : std::vector<std::pair<int, const char *>>{
             {0, "holds values that cannot be used:\nSetup11 = \"7\": used 3\nSetup13 = \"yes\": used 1"},
             {2, "obsahuje hodnoty, které nelze použít:\nSetup11 = \"7\": použije se 3\nSetup13 = \"yes\": použije se 1"}}) {
        SCOPED_TRACE(language);
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=" + std::to_string(language) +
                                           "\nSetup11=7\nSetup13=yes\nSetup20=0\n");
        const size_t before = prompt.Asked().size();
        TMainForm form(nullptr, data);
        ASSERT_EQ(prompt.Asked().size(), before + 1);
        const std::string text = prompt.Asked().back().text.toStdString();
        EXPECT_NE(text.find(expected), std::string::npos) << text;
        EXPECT_EQ(std::pair(form.Settings[11], form.Settings[13]), std::pair(3, 1));
    }
}

TEST_F(WindowPartsTest, TheZipListersWaitShowsTheProgramsHourglass)
{
    auto form = OpenWith("");
    ASSERT_TRUE(TZipLister::BusyCursor);
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    TZipLister::BusyCursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    TZipLister::BusyCursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The information panel's button and menu item show and hide it as one; hidden
// stays hidden at the next start, shown stays shown.
TEST_F(WindowPartsTest, InformationPanelShownOrHiddenIsKeptForTheNextStart)
{
    const auto stored16 = [this] {
        TSettings s;
        ReadSettingsFile(data + "/cat.ini", s);
        return s[16];
    };
    auto form = OpenWith("");
    ASSERT_FALSE(form->ui->InfoPanel->isVisible());
    form->ui->ShowInfoButton->click();
    ASSERT_TRUE(form->ui->InfoPanel->isVisible());
    ASSERT_EQ(form->Settings[16], 1);
    form->ui->ShowInfoButton->click();
    EXPECT_FALSE(form->ui->InfoPanel->isVisible());
    EXPECT_FALSE(form->ui->ShowInfoPanelMenu->isChecked());
    EXPECT_EQ(std::tuple(form->Settings[16], form->InfoPanelFlag), std::tuple(0, 0));
    form->ui->ShowInfoPanelMenu->trigger();
    EXPECT_TRUE(form->ui->InfoPanel->isVisible());
    EXPECT_TRUE(form->ui->ShowInfoButton->isChecked());
    EXPECT_EQ(std::tuple(form->Settings[16], form->InfoPanelFlag), std::tuple(1, 1));
    form->ui->ShowInfoPanelMenu->trigger();
    EXPECT_FALSE(form->ui->InfoPanel->isVisible());
    EXPECT_FALSE(form->ui->ShowInfoButton->isChecked());
    EXPECT_EQ(form->Settings[16], 0);
    form->close();
    form.reset();
    EXPECT_EQ(stored16(), 0);
    form = std::make_unique<TMainForm>(nullptr, data);
    form->show();
    QApplication::processEvents();
    EXPECT_FALSE(form->ui->InfoPanel->isVisible());
    EXPECT_FALSE(form->ui->ShowInfoButton->isChecked());
    form->ui->ShowInfoButton->click();
    form->close();
    EXPECT_EQ(stored16(), 1);
}
