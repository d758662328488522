// The main window's theme manager: made at start as "ThemeManager1", the main
// manager, with the window and the dialogs opened later collected.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <filesystem>

#include "app/Lang.h"
#include "app/Main.h"
#include "app/catalog/CatalogTables.h"
#include "platform/Prompt.h"
#include "support/TempDir.h"
#include "theme/ThemeMgr.h"
#include "theme/ThemeTestSupport.h"
#include "ui_MainForm.h"

TEST(MainTheme, WindowCreatesThemeManager1AndEveryFormIsCollected)
{
    themetest::ResetTheme();
    QCoreApplication::processEvents();
    orbtest::TempDir dir;
    const std::string data = dir.file("DiVovData");
    std::filesystem::create_directories(std::filesystem::path(data) / "CdNames");
    dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup20=0\nSetup_Text3=Music\n");
    OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
    OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
    ScriptedPrompt prompt; // no message box may wait for a click here
    PromptScope scope(prompt);
    {
        TMainForm form(nullptr, data);
        auto *manager = form.findChild<TThemeManager *>(QStringLiteral("ThemeManager1"));
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(manager, form.ThemeManager1);
        EXPECT_EQ(TThemeManager::MainManager(), manager);
        EXPECT_EQ(manager->ListOf(&form), manager->List(ccForm));
        EXPECT_EQ(manager->ListOf(form.ui->TreeView1), manager->List(ccWinControl));
        EXPECT_EQ(manager->ListOf(form.ui->FilterButton), manager->List(ccButtonControl));
        EXPECT_EQ(manager->ListOf(form.ui->OpenButton), manager->List(ccSpeedButton));
        EXPECT_EQ(manager->ListOf(form.ui->RadioGroup1), manager->List(ccGroupBox));

        // A dialog opened later is collected once it is dressed for showing.
        TLangForm lang(&form, false);
        lang.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(manager->ListOf(&lang), manager->List(ccForm));
        form.close();
    }
    EXPECT_EQ(TThemeManager::MainManager(), nullptr);
    QCoreApplication::processEvents();
    themetest::ResetTheme();
}
