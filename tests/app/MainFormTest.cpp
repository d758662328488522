// Starting the main window: first run, the catalogue it opens, the settings
// file it reads and writes, the disc tree and the start language.
#include <QAbstractButton>
#include <QMenu>
#include <QScreen>

#include <set>

#include "app/Lang.h"
#include "app/Splash.h"
#include "app/catalog/IniFile.h"
#include "app/catalog/NewD.h"
#include "ui_LangForm.h"
#include "ui_NewDataForm.h"

#include "app/MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

// Every test starts in the language the program starts in.
class MainFormTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangSlovak);
        data = dir.file("DiVovData");
    }
    // An existing data folder with a settings file; the catalogue "Music" it
    // names exists (empty).
    void MakeDataFolder(const std::string &ini)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        dir.write("DiVovData/cat.ini", ini);
        if (ini.find("=Music\n") != std::string::npos) {
            OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
            OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
        }
    }
    // Catalogue `name` with discs "e: [DISK<discs>]" .. "e: [DISK1]" in that order.
    void MakeCatalog(const std::string &name, int discs)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        TFlatTable f, d;
        AddFieldDefs(f, FileTableLayout());
        f.Open();
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        for (int i = 0; i < discs; ++i) {
            const std::string disc = "e: [DISK" + std::to_string(discs - i) + "]";
            AppendRecord(f, {{"Path", "e:\\"}, {"Name", "file.txt"}, {"Namecd", disc}});
            AppendRecord(d, {{"CdName", disc}, {"CdSize", std::to_string(i + 1) + " mb"}});
        }
        f.SaveToFile(data + "/" + name + ".d");
        d.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
    }
    TSettings Stored()
    {
        TSettings s;
        ReadSettingsFile(data + "/cat.ini", s);
        return s;
    }
    static void ChooseEnglish(TLangForm &lang)
    {
        lang.show();
        lang.ui->EngButton->click();
        lang.ui->BitBtn1->click();
    }
};

} // namespace

TEST_F(MainFormTest, FirstRunAsksLanguageThenCatalogue)
{
    std::vector<std::string> shown;
    TMainForm::RunModal = [&](QDialog &d) {
        if (auto *lang = qobject_cast<TLangForm *>(&d)) {
            shown.push_back("lang");
            lang->show();
            EXPECT_TRUE(lang->ui->SkButton->isChecked());
            ChooseEnglish(*lang);
        } else if (auto *newData = qobject_cast<TNewDataForm *>(&d)) {
            shown.push_back("new");
            EXPECT_TRUE(newData->FirstStart());
            EXPECT_EQ(newData->ui->Edit1->text(), QStringLiteral("DuzuvozER"));
            EXPECT_FALSE(newData->ui->CancelButton->isEnabled()); // a catalogue must be made
            // Already in the chosen language.
            EXPECT_EQ(newData->windowTitle(), QStringLiteral("New archive"));
            newData->ui->OkButton->click();
        }
        return d.result();
    };
    TMainForm form(new TSplashForm, data);
    EXPECT_EQ(shown, (std::vector<std::string>{"lang", "new"}));
    for (const char *made : {"CdNames", "DuzuvozER.d", "CdNames/DuzuvozER_cdname.d"})
        EXPECT_TRUE(fs::exists(fs::path(data) / made)) << made;
    EXPECT_TRUE(form.HasCatalog());
    EXPECT_EQ(form.CatalogName, "DuzuvozER");
    EXPECT_FALSE(form.FirstRun);
    EXPECT_EQ(form.HelpFile, "orbalist_e.hlp");
    EXPECT_EQ(langunit::CurrentLanguage(), langunit::LangEnglish);
    // English menus at once, since the language was chosen before they were set.
    EXPECT_EQ(form.ui->FileMenu->title(), QStringLiteral("File"));
    EXPECT_EQ(prompt.Asked().size(), 0u);
    // The language is kept at once: a session that ends without closing the
    // window must not make the next start forget it.
    EXPECT_EQ(Stored()[1], langunit::LangEnglish);
    // Closing writes the settings, the catalogue as the last one.
    form.close();
    EXPECT_EQ(Stored().SetupText[4], "DuzuvozER");
    EXPECT_EQ(Stored()[1], langunit::LangEnglish);
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

TEST_F(MainFormTest, StartUpFindsACatalogueWhateverTheSettingsSay)
{
    // No settings at all: a new catalogue.
    MakeDataFolder("");
    {
        TMainForm form(nullptr, data);
        EXPECT_TRUE(form.HasCatalog());
        EXPECT_EQ(form.CatalogName, "DuzuvozER");
        EXPECT_EQ(form.TreeFilePath, data + "/CdNames/DuzuvozER_cdname.dat");
    }
    // No last catalogue: the first table file of the folder, in small letters.
    MakeDataFolder("[CatalogSettings]\nSetup1=1\nSetup20=1\nSetup_Text4=\n");
    dir.write("DiVovData/Upper.D", "not a catalogue");
    fs::remove(fs::path(data) / "DuzuvozER.d");
    MakeCatalog("Filmy", 1);
    {
        TMainForm form(nullptr, data);
        EXPECT_EQ(form.CatalogName, "Filmy");
        EXPECT_TRUE(form.HasCatalog());
    }
    // A setting that is no number does not stop the start.
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup7=lots\nSetup20=0\nSetup_Text3=Music\n");
    TMainForm form(nullptr, data);
    EXPECT_EQ(form.SearchLimit, 1000);
    EXPECT_EQ(form.CatalogName, "Music");
    EXPECT_EQ(form.Caption(), QStringLiteral("Orbalist  - active archive  : Music"));
    form.FormShow();
    EXPECT_EQ(form.windowTitle(), form.Caption());
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
    EXPECT_EQ(tree->topLevelItem(0)->text(0) + "|" + tree->topLevelItem(2)->text(0),
              QStringLiteral("e: [DISK1]|e: [DISK3]"));
    EXPECT_EQ(form.ui->ComboBox2->count(), 4);
    EXPECT_EQ(form.ui->ComboBox2->itemText(0), QStringLiteral("All drives"));
    EXPECT_EQ(form.Browse.CurrentDisc + "|" + form.Browse.CurrentPath, "e: [DISK1]|e:\\");
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
    // The next showing reads the disc table without another message.
    for (int showing = 0; showing < 2; ++showing) {
        form.FormShow();
        ASSERT_EQ(prompt.Asked().size(), 1u);
        EXPECT_EQ(prompt.Asked()[0].text.toStdString(), langunit::LangString(105));
        EXPECT_FALSE(fs::exists(form.TreeFilePath));
        EXPECT_TRUE(fs::exists(form.TreeFilePath + ".bad"));
        EXPECT_EQ(form.ui->TreeView1->topLevelItemCount(), 2);
    }
}

TEST_F(MainFormTest, LanguageDialogOutsideFirstRunRelabelsViewsButNotMenus)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=1\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    form.FormShow();
    const QString slovakMenu = form.ui->FileMenu->title();
    TMainForm::RunModal = [](QDialog &d) {
        ChooseEnglish(*qobject_cast<TLangForm *>(&d));
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
    // No Slovak hint is left in English: the four take their menu captions.
    EXPECT_EQ(QStringList({form.ui->AddImageToolButton->toolTip(), form.ui->DeleteImageToolButton->toolTip(),
                           form.ui->UpdateToolButton->toolTip(), form.ui->ShowInfoButton->toolTip()}),
              QStringList({"Load picture", "Delete picture", "Update CD", "Info-panel"}));
    EXPECT_EQ(form.HelpFile, "ORBALISTEN.HLP");
}

// Restore settings gives the window the default size, also from maximised; closing keeps it.
TEST_F(MainFormTest, RestoreSettingsGivesTheWindowTheDefaultSize)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup8=700\nSetup9=500\nSetup14=0\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    form.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(form.size(), QSize(700, 500));
    const QSize defaults = TMainForm::ClampWindowSize(742, 525, form.screen()->availableGeometry().size());
    form.resize(1001, 677);
    prompt.Answer(PromptResult::No);
    form.ui->RecoverSetupMenu->trigger();
    EXPECT_EQ(form.size(), QSize(1001, 677));
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverSetupMenu->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.size(), defaults);
    form.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(form.isMaximized());
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverSetupMenu->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.isMaximized());
    EXPECT_EQ(form.size(), defaults);
    form.close();
    EXPECT_EQ(std::tuple(Stored()[8], Stored()[9], Stored()[14]), std::tuple(defaults.width(), defaults.height(), 0));
}

TEST_F(MainFormTest, RestoreSettingsAsksAndKeepsTheLanguage)
{
    MakeDataFolder("[Mine]\nKeep=yes\n[CatalogSettings]\nSetup1=0\nSetup7=300\nSetup20=0\nSetup_Text3=Music\n");
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
    // The language is written back as it is, not as the default; other
    // sections of the file stay.
    form.close();
    EXPECT_EQ(Stored()[1], langunit::LangEnglish);
    TIniFile ini(data + "/cat.ini");
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("Mine", "Keep", "") + "|" + ini.ReadString("CatalogSettings", "Setup_Text4", ""), "yes|Music");
}

namespace {

// Records the window states a widget is told of, as they come.
class TStateChanges : public QObject {
public:
    explicit TStateChanges(QWidget &w) : widget_(w) { w.installEventFilter(this); }
    std::vector<Qt::WindowStates> Seen;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &widget_ && event->type() == QEvent::WindowStateChange)
            Seen.push_back(widget_.windowState());
        return false;
    }

private:
    QWidget &widget_;
};

} // namespace

// Restore settings takes a maximised window out of that state by itself: a resize alone
// leaves it to the window manager, which may keep the window maximised. The window is no
// longer maximised as soon as the command returns, before any event from outside.
TEST_F(MainFormTest, RestoreSettingsEndsTheMaximisedStateItself)
{
    MakeDataFolder("[CatalogSettings]\nSetup1=0\nSetup8=700\nSetup9=500\nSetup14=0\nSetup20=1\nSetup_Text4=Music\n");
    TMainForm form(nullptr, data);
    form.show();
    form.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(form.isMaximized());
    TStateChanges changes(form);
    prompt.Answer(PromptResult::Yes);
    form.ui->RecoverSetupMenu->trigger();
    EXPECT_FALSE(form.windowState() & Qt::WindowMaximized);
    ASSERT_FALSE(changes.Seen.empty()) << "the window was not told to leave the maximised state";
    EXPECT_FALSE(changes.Seen.front() & Qt::WindowMaximized);
}
