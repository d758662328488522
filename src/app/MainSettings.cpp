// Settings, colour scheme and the language texts of the main window.
#include "app/Main.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/ShellInfo.h"
#include "ui_MainForm.h"

namespace {

void SetBackground(QWidget *w, const QColor &c)
{
    if (!w)
        return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, c);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace

void TMainForm::LoadSettings()
{
    const std::string file = DataFolder + "/" + SettingsFileName;
    const TSettingsReadResult r = ReadSettingsFile(file, Settings);
    DefaultCatalogText = Settings.SetupText[3];
    LastCatalogText = Settings.SetupText[4];
    // Not a Windows XP desktop: flat tool bar and the colour pair of setting 11.
    ui->SpeedButton1->setFixedHeight(18);
    ui->SpeedButton2->setFixedHeight(18);
    ui->CoolBar1->setFixedHeight(74);
    TColourPair pair{};
    if (ColourPairOf(Settings[11], &pair))
        Colours = pair;
    CatalogName = Settings[20] == 0 ? Settings.SetupText[3] : Settings.SetupText[4];
    langunit::SetCurrentLanguage(Settings[1]);
    ApplyCddbSettings(Settings[19], Settings.SetupText[1], Settings.SetupText[2]);
    if (Settings[1] == langunit::LangEnglish)
        HelpFile = "ORBALISTEN.HLP";
    else if (Settings[1] == langunit::LangSlovak || Settings[1] == langunit::LangCzech)
        HelpFile = "ORBALIST.HLP";
    if (!r.badValues.empty()) {
        // One message at start names each value that could not be used and what was used instead.
        std::string text = Text3("The settings file " + file + " holds values that cannot be used:",
                                 "Súbor nastavení " + file + " obsahuje hodnoty, ktoré sa nedajú použiť:",
                                 "Soubor nastavení " + file + " obsahuje hodnoty, které nelze použít:");
        QString shown = ToQString(text);
        for (const TBadSetting &bad : r.badValues) {
            // A long stored text is shown by its start.
            QString stored = ToQString(bad.stored);
            if (stored.size() > 40)
                stored = stored.left(40) + QStringLiteral("...");
            shown += QStringLiteral("\n") + ToQString(bad.key) + QStringLiteral(" = \"") + stored +
                     QStringLiteral("\": ") + ByLanguage("used ", "použije sa ", "použije se ") +
                     QString::number(bad.used);
        }
        Prompt::Current().Show(shown, L(34), PromptButtons::Ok, PromptIcon::Warning);
    }
    if (!r.fileRead)
        ShowError(Text3("Cannot read the settings file " + file + "; the default settings are used.",
                        "Súbor nastavení " + file + " sa nedá prečítať; použijú sa predvolené nastavenia.",
                        "Soubor nastavení " + file + " nelze přečíst; použijí se výchozí nastavení."));
}

bool TMainForm::SaveSettings()
{
    Settings[1] = langunit::CurrentLanguage();
    std::string error;
    return WriteSettingsFile(DataFolder + "/" + SettingsFileName, Settings, &error);
}

void TMainForm::ZakladneNastavenie()
{
    ApplyDefaultSettings(Settings);
    DefaultCatalogText.clear();
}

void TMainForm::RecoverSetupMenuClick()
{
    const PromptResult answer = Prompt::Current().Show(L(64), L(34), PromptButtons::YesNo, PromptIcon::Question,
                                                      PromptResult::No);
    if (answer != PromptResult::Yes)
        return;
    ZakladneNastavenie();
    // The restored size is shown at once, so that closing keeps it.
    windowSized_ = false;
    FormShow();
}

QColor TMainForm::WinColor(uint32_t value, bool background)
{
    if (value & 0x80000000u) {
        // System colours follow the desktop's palette.
        const QPalette pal;
        return background ? pal.color(QPalette::Window) : pal.color(QPalette::Mid);
    }
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

void TMainForm::ChangeColor()
{
    const QColor bg = BackgroundColor();
    for (int i = 1; i <= 10; ++i)
        SetBackground(findChild<QLabel *>(QStringLiteral("Label%1").arg(i)), bg);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->Panel5, ui->Panel6, ui->Panel_S1, ui->Panel_S2,
                                                       ui->InfoPanel, ui->ScrollBox1, ui->ScrollBox1->viewport(),
                                                       ui->ScrollBox1Contents, ui->Shape1})
        SetBackground(w, bg);
    SetBackground(ui->Panel3, FrameColor());
}

void TMainForm::PaintDialog(QWidget *form, const std::vector<QWidget *> &background) const
{
    SetBackground(form, FrameColor());
    const QColor bg = BackgroundColor();
    for (QWidget *w : background)
        SetBackground(w, bg);
}

void TMainForm::ChangeMenu(int language)
{
    if (language != langunit::LangEnglish && language != langunit::LangCzech)
        return;
    int count = 0;
    const langunit::MenuText *menus = langunit::MenuCaptions(&count);
    for (int i = 0; i < count; ++i) {
        const char *text = language == langunit::LangEnglish ? menus[i].english : menus[i].czech;
        const QString name = QString::fromLatin1(menus[i].objectName);
        if (!text)
            continue;
        if (auto *menu = findChild<QMenu *>(name))
            menu->setTitle(QString::fromUtf8(text));
        else if (auto *action = findChild<QAction *>(name))
            action->setText(QString::fromUtf8(text));
    }
    const langunit::MenuText *hints = langunit::ToolButtonHints(&count);
    for (int i = 0; i < count; ++i) {
        const char *text = language == langunit::LangEnglish ? hints[i].english : hints[i].czech;
        if (!text)
            continue;
        if (auto *button = findChild<QAbstractButton *>(QString::fromLatin1(hints[i].objectName)))
            button->setToolTip(QString::fromUtf8(text));
    }
}

void TMainForm::SetLanguageTexts()
{
    // File type names in the chosen language, not the desktop's.
    const int language = langunit::CurrentLanguage();
    ShellInfo::SetTypeNameLanguage(QString::fromLatin1(language == langunit::LangEnglish ? "en"
                                                       : language == langunit::LangCzech ? "cs"
                                                                                         : "sk"),
                                   ByLanguage("File folder", "Priečinok súborov", "Složka souborů"),
                                   ByLanguage("File", "Súbor", "Soubor"),
                                   ByLanguage("%1 File", "Súbor %1", "Soubor %1"));
    setWindowTitle(L(39));
    ui->Label1->setText(L(40) + QStringLiteral(" :"));
    ui->Label2->setText(L(41) + QStringLiteral(" :"));
    ui->Label4->setText(L(42));
    ui->Label5->setText(L(43));
    ui->FilterButton->setText(L(74));
    ui->BackSpeedButton->setText(L(75));
    ui->Label6->setText(L(106));
    ui->Label7->setText(L(108));
    ui->RadioButton1->setText(L(109));
    ui->RadioButton6->setText(L(109));
    ui->RadioButton2->setText(L(110));
    ui->RadioButton3->setText(L(111));
    ui->RadioButton4->setText(L(112));
    ui->RadioButton5->setText(L(113));
    ui->RadioButton7->setText(L(119));
    ui->RadioButton8->setText(L(120));
    ui->RadioButton9->setText(L(121));
    ui->RadioButton10->setText(L(122));
    ui->Label8->setText(L(114));
    ui->Label9->setText(L(115));
    ui->ComboBox3->clear();
    ui->ComboBox3->addItems({L(116), L(117)});
    ui->ComboBox3->setCurrentIndex(0);
    ui->ComboBox4->clear();
    ui->ComboBox4->addItems({L(123), L(124)});
    ui->ComboBox4->setCurrentIndex(0);
    // The tree-editing radio group: its items are made here.
    ui->RadioGroup1->setTitle(L(125));
    for (QRadioButton *old : ui->RadioGroup1->findChildren<QRadioButton *>())
        delete old;
    for (int n : {126, 127}) {
        auto *item = new QRadioButton(L(n), ui->RadioGroup1);
        item->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(n - 126));
        ui->RadioGroup1->layout()->addWidget(item);
        if (n == 126)
            item->setChecked(true);
    }
    ui->Button3->setText(L(128));
    ui->Label10->setText(L(118));
    ui->Label11->setText(L(129));
    ui->Label12->setText(L(130));
    ui->Label13->setText(L(131));
    ui->Label14->setText(L(132));
    ui->Label15->setText(L(152));
    ui->Label16->setText(L(153));
    ui->Label17->setText(L(152));
    ui->CheckBox1->setText(L(107));
    // The disc choice's first item ("All drives") is the language's too; the
    // discs after it keep their names.
    if (ui->ComboBox2->count() > 0)
        ui->ComboBox2->setItemText(0, L(53));
    ui->CoolBand2Label->setText(L(76));
    ui->CoolBand2Label->setMinimumWidth(50);
    ui->CoolBand4Label->setText(L(77));
    // Only the shown captions change; the record columns keep their names.
    const int listCaptions[] = {46, 47, 48, 49, 50};
    for (int i = 0; i < 5; ++i)
        ui->LinksListView->Model()->SetColumnCaption(i, L(listCaptions[i]));
    const int searchCaptions[] = {46, 51, 52, 47, 48, 50, 49};
    for (int i = 0; i < 7; ++i)
        ui->SearchView->Model()->SetColumnCaption(i, L(searchCaptions[i]));
}
