#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>
#include <set>

#include "app/CatalogTables.h"
#include "app/IniFile.h"
#include "app/Lang.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/NewD.h"
#include "app/Splash.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_LangForm.h"
#include "ui_MainForm.h"
#include "ui_NewDataForm.h"

namespace fs = std::filesystem;

namespace {

// Runs every test with a scripted prompt, a scripted dialog runner and the
// language as the program starts.
class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangSlovak);
        data = dir.file("DiVovData");
    }
    void TearDown() override
    {
        TMainForm::RunModal = nullptr;
        langunit::SetCurrentLanguage(langunit::LangSlovak);
    }
    // An existing data folder with a settings file.
    void MakeDataFolder(const std::string &ini)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        dir.write("DiVovData/cat.ini", ini);
        // The catalogue the settings name exists (empty).
        if (ini.find("=Music\n") != std::string::npos) {
            OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
            OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
        }
    }
    void MakeCatalog(const std::string &name, int discs)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        TFlatTable f;
        AddFieldDefs(f, FileTableLayout());
        f.Open();
        TFlatTable d;
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        for (int i = 0; i < discs; ++i) {
            const std::string disc = "e: [DISK" + std::to_string(discs - i) + "]";
            f.Append();
            f.FieldByName("Path").SetAsString("e:\\");
            f.FieldByName("Name").SetAsString("file.txt");
            f.FieldByName("Namecd").SetAsString(disc);
            f.Post();
            d.Append();
            d.FieldByName("CdName").SetAsString(disc);
            d.FieldByName("CdSize").SetAsString(std::to_string(i + 1) + " mb");
            d.Post();
        }
        f.SaveToFile(data + "/" + name + ".d");
        d.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
    }

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace

TEST_F(MainFormTest, CaptionNamesTheCatalogue)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup20=0\nSetup_Text3=Music\n");
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.CatalogName, "Music");
    EXPECT_EQ(form.Caption(), QStringLiteral("Orbalist  - active archive  : Music"));
    form.FormShow();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Orbalist  - active archive  : Music"));
}

TEST_F(MainFormTest, FirstRunAsksLanguageThenCatalogue)
{
    std::vector<std::string> shown;
    TMainForm::RunModal = [&](QDialog &d) {
        if (auto *lang = qobject_cast<TLangForm *>(&d)) {
            shown.push_back("lang");
            lang->show();
            EXPECT_TRUE(lang->ui->SkButton->isChecked());
            lang->ui->EngButton->click();
            lang->ui->BitBtn1->click();
        } else if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
            shown.push_back("new");
            EXPECT_TRUE(newData->FirstStart());
            EXPECT_EQ(newData->ui->Edit1->text(), QStringLiteral("DuzuvozER"));
            EXPECT_TRUE(newData->ui->CancelButton->isEnabled());
            // Already in the chosen language.
            EXPECT_EQ(newData->windowTitle(), QStringLiteral("New archive"));
            newData->ui->OkButton->click();
        }
        return d.result();
    };
    auto *splash = new TSplashForm;
    std::vector<int> steps;
    QObject::connect(splash, &TSplashForm::ProgressChanged, [&](int p) { steps.push_back(p); });
    TMainForm form(splash, data);
    EXPECT_EQ(shown, (std::vector<std::string>{"lang", "new"}));
    EXPECT_EQ(steps, (std::vector<int>{10, 20, 30, 75, 90, 100}));
    EXPECT_TRUE(fs::is_directory(fs::path(data) / "CdNames"));
    EXPECT_TRUE(fs::exists(data + "/DuzuvozER.d"));
    EXPECT_TRUE(fs::exists(data + "/CdNames/DuzuvozER_cdname.d"));
    EXPECT_TRUE(form.HasCatalog());
    EXPECT_EQ(form.CatalogName, "DuzuvozER");
    EXPECT_FALSE(form.FirstRun);
    EXPECT_EQ(form.HelpFile, "orbalist_e.hlp");
    EXPECT_EQ(langunit::CurrentLanguage(), langunit::LangEnglish);
    // English menus at once, since the language was chosen before they were set.
    EXPECT_EQ(form.ui->FileMenu->title(), QStringLiteral("File"));
    EXPECT_EQ(prompt.Asked().size(), 0u);

    // The language and the catalogue are kept at once: a session that ends
    // without closing the window must not make the next start forget them.
    {
        TSettings early;
        ReadSettingsFile(data + "/cat.ini", early);
        EXPECT_EQ(early[1], langunit::LangEnglish);
    }

    // Closing writes the settings, the catalogue as the last one.
    form.close();
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s.SetupText[4], "DuzuvozER");
    EXPECT_EQ(s[1], langunit::LangEnglish);
}

TEST_F(MainFormTest, FirstRunRefusesBadNames)
{
    int attempts = 0;
    TMainForm::RunModal = [&](QDialog &d) {
        auto *newData = qobject_cast<TNewDataForm *>(&d);
        if (!newData)
            return 0;
        for (const char *name : {"", "../x", "a/b", "bad\x01name", " lead"}) {
            newData->ui->Edit1->setText(QString::fromUtf8(name));
            newData->ui->OkButton->click();
            ++attempts;
            EXPECT_EQ(d.result(), 0) << name;
        }
        newData->ui->Edit1->setText(QStringLiteral("Disky č. 1"));
        newData->ui->OkButton->click();
        return d.result();
    };
    TMainForm form(nullptr, data);
    EXPECT_EQ(attempts, 5);
    EXPECT_EQ(prompt.Asked().size(), 5u);
    EXPECT_EQ(form.CatalogName, "Disky č. 1");
    EXPECT_TRUE(form.HasCatalog());
    EXPECT_FALSE(fs::exists(dir.file("x.d")));
    // Nothing but the chosen catalogue (and the settings naming it) was created.
    std::set<std::string> made;
    for (const auto &e : fs::directory_iterator(data))
        made.insert(e.path().filename().string());
    EXPECT_EQ(made, (std::set<std::string>{"CdNames", "Disky č. 1.d", "cat.ini"}));
}


TEST_F(MainFormTest, DataFolderWithoutAnyCatalogueGetsOne)
{
    MakeDataFolder("");
    TMainForm form(nullptr, data);
    EXPECT_TRUE(form.HasCatalog());
    EXPECT_EQ(form.CatalogName, "DuzuvozER");
    EXPECT_EQ(form.TreeFilePath, data + "/CdNames/DuzuvozER_cdname.dat");
}

TEST_F(MainFormTest, LastCatalogueEmptyTakesFirstTableFileOfTheFolder)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=1\nSetup20=1\nSetup_Text4=\n");
    dir.write("DiVovData/Upper.D", "not a catalogue");
    MakeCatalog("Filmy", 1);
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.CatalogName, "Filmy");
    EXPECT_TRUE(form.HasCatalog());
}

TEST_F(MainFormTest, NonNumericSettingDoesNotStopStartUp)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup7=lots\nSetup20=0\nSetup_Text3=Music\n");
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.SearchLimit, 1000);
    EXPECT_TRUE(form.HasCatalog());
}

TEST_F(MainFormTest, ClosingKeepsOtherSectionsOfTheSettingsFile)
{
    MakeDataFolder("[Mine]\nKeep=yes\n[CatalogSettings]\nSetup1=2\nSetup20=1\nSetup_Text4=Music\n");
    {
        TMainForm form(nullptr, data);
        form.close();
    }
    TIniFile ini(data + "/cat.ini");
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("Mine", "Keep", ""), "yes");
    EXPECT_EQ(ini.ReadString("CatalogSettings", "Setup_Text4", ""), "Music");
    EXPECT_EQ(ini.ReadString("CatalogSettings", "Setup1", ""), "2");
}

TEST_F(MainFormTest, FailedOpenKeepsTheOldCatalogue)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    ASSERT_TRUE(form.HasCatalog());
    TFlatTable *before = form.FlatTable1.get();
    std::string error;
    EXPECT_FALSE(form.OpenCatalog(data, "../escape", &error));
    EXPECT_FALSE(error.empty());
    dir.write("DiVovData/Broken.d", "garbage");
    EXPECT_FALSE(form.OpenCatalog(data, "Broken", &error));
    EXPECT_EQ(form.FlatTable1.get(), before);
    EXPECT_EQ(form.CatalogName, "Music");
    EXPECT_TRUE(form.HasCatalog());
    EXPECT_FALSE(fs::exists(data + "/CdNames/Broken_cdname.d"));
    EXPECT_FALSE(fs::exists(dir.file("escape.d")));
    // A good one replaces it.
    EXPECT_TRUE(form.OpenCatalog(data, "Other", &error)) << error;
    EXPECT_EQ(form.CatalogName, "Other");
}

TEST_F(MainFormTest, TreeComesFromDiscTableOrTreeFile)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup20=1\nSetup_Text4=Music\n");
    MakeCatalog("Music", 3);
    TMainForm form(nullptr, data);
    form.FormShow();
    QTreeWidget *tree = form.ui->TreeView1;
    // Sorted by name without a tree file.
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("e: [DISK1]"));
    EXPECT_EQ(tree->topLevelItem(2)->text(0), QStringLiteral("e: [DISK3]"));
    EXPECT_EQ(form.ui->ComboBox2->count(), 4);
    EXPECT_EQ(form.ui->ComboBox2->itemText(0), QStringLiteral("All drives"));
    EXPECT_EQ(form.Browse.CurrentDisc, "e: [DISK1]");
    EXPECT_EQ(form.Browse.CurrentPath, "e:\\");

    // A group holding two discs and a folder node, saved and read back in file order.
    tree->clear();
    QTreeWidgetItem *group = form.AddTreeNode(nullptr, QStringLiteral("Zzz group"), 2, 2, NodeKindGroup);
    QTreeWidgetItem *disc = form.AddTreeNode(group, QStringLiteral("e: [DISK3]"), 0, 1, NodeKindDisc);
    form.AddTreeNode(disc, QStringLiteral("Photos"), 0, 1, NodeKindNone);
    form.AddTreeNode(group, QStringLiteral("e: [DISK2]"), 0, 1, NodeKindDisc);
    form.AddTreeNode(nullptr, QStringLiteral("e: [DISK1]"), 0, 1, NodeKindDisc);
    ASSERT_TRUE(form.SaveTree());
    form.LoadTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Zzz group"));
    EXPECT_EQ(tree->topLevelItem(0)->data(0, TreeKindRole).toInt(), NodeKindGroup);
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 2);
    QTreeWidgetItem *folder = tree->topLevelItem(0)->child(0)->child(0);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->data(0, TreeKindRole).toInt(), NodeKindNone);
    EXPECT_EQ(form.ui->ComboBox2->count(), 6);
    EXPECT_EQ(prompt.Asked().size(), 0u);
}

TEST_F(MainFormTest, DamagedTreeFileIsPutAsideOnce)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
    MakeCatalog("Music", 2);
    dir.write("DiVovData/CdNames/Music_cdname.dat", std::string("\x01\x02\x00\x06\xF0short", 10));
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(105));
    EXPECT_FALSE(fs::exists(form.TreeFilePath));
    EXPECT_TRUE(fs::exists(form.TreeFilePath + ".bad"));
    EXPECT_EQ(form.ui->TreeView1->topLevelItemCount(), 2);
    // The next showing reads the disc table without another message.
    form.FormShow();
    EXPECT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(form.ui->TreeView1->topLevelItemCount(), 2);
}

TEST_F(MainFormTest, LanguageDialogOutsideFirstRunRelabelsViewsButNotMenus)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=1\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    form.FormShow();
    const QString slovakMenu = form.ui->FileMenu->title();
    TMainForm::RunModal = [](QDialog &d) {
        auto *lang = qobject_cast<TLangForm *>(&d);
        lang->show();
        lang->ui->EngButton->click();
        lang->ui->BitBtn1->click();
        return d.result();
    };
    form.LangMenuClick();
    EXPECT_EQ(form.ui->Label1->text(), QStringLiteral("Searched file :"));
    EXPECT_EQ(form.ui->FileMenu->title(), slovakMenu);
    EXPECT_EQ(form.HelpFile, "orbalist_e.hlp");
}

TEST_F(MainFormTest, MenusFollowTheStartLanguage)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=2\nSetup20=1\nSetup_Text4=Music\n");
    {
        // Every entry of the caption tables names a widget of the form, so no
        // caption is left in the form's own language.
        TMainForm form(nullptr, data);
        int count = 0;
        const langunit::MenuText *menus = langunit::MenuCaptions(&count);
        ASSERT_GT(count, 0);
        for (int i = 0; i < count; ++i) {
            const QString name = QString::fromLatin1(menus[i].objectName);
            auto *menu = form.findChild<QMenu *>(name);
            auto *action = form.findChild<QAction *>(name);
            ASSERT_TRUE(menu || action) << menus[i].objectName;
            EXPECT_EQ(menu ? menu->title() : action->text(), QString::fromUtf8(menus[i].czech)) << menus[i].objectName;
        }
        const langunit::MenuText *hints = langunit::ToolButtonHints(&count);
        ASSERT_GT(count, 0);
        for (int i = 0; i < count; ++i) {
            auto *button = form.findChild<QAbstractButton *>(QString::fromLatin1(hints[i].objectName));
            ASSERT_TRUE(button) << hints[i].objectName;
            EXPECT_EQ(button->toolTip(), QString::fromUtf8(hints[i].czech)) << hints[i].objectName;
        }
        EXPECT_EQ(form.HelpFile, "ORBALIST.HLP");
    }
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.ui->FindAllMenu->text(), QStringLiteral("Find in all archives"));
    EXPECT_EQ(form.ui->FindButton->toolTip(), QStringLiteral("Find file in currenr archive"));
    // No Slovak hint is left in English: the four take their menu captions.
    EXPECT_EQ(form.ui->AddImageToolButton->toolTip(), QStringLiteral("Load picture"));
    EXPECT_EQ(form.ui->DeleteImageToolButton->toolTip(), QStringLiteral("Delete picture"));
    EXPECT_EQ(form.ui->UpdateToolButton->toolTip(), QStringLiteral("Update CD"));
    EXPECT_EQ(form.ui->ShowInfoButton->toolTip(), QStringLiteral("Info-panel"));
    EXPECT_EQ(form.HelpFile, "ORBALISTEN.HLP");
}

TEST_F(MainFormTest, RestoreSettingsAsksAndKeepsTheLanguage)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup7=300\nSetup20=0\nSetup_Text3=Music\n");
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.Settings[7], 300);
    prompt.Answer(PromptResult::No);
    form.RecoverSetupMenuClick();
    EXPECT_EQ(form.Settings[7], 300);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompt.Asked()[0].defaultButton, PromptResult::No);
    EXPECT_EQ(prompt.Asked()[0].caption, QStringLiteral("Warning"));
    prompt.Answer(PromptResult::Yes);
    form.RecoverSetupMenuClick();
    EXPECT_EQ(form.Settings[7], 1000);
    EXPECT_EQ(form.Settings[1], 1);
    EXPECT_TRUE(form.DefaultCatalogText.empty());
    EXPECT_EQ(langunit::CurrentLanguage(), langunit::LangEnglish);
    // The language is written back as it is, not as the default.
    form.close();
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    EXPECT_EQ(s[1], langunit::LangEnglish);
}
