// The setup dialog and the about box: values round-tripped through cat.ini,
// refused number boxes, the colour scheme, texts in the three languages.
#include <QCheckBox>
#include <QRadioButton>
#include <QTabWidget>

#include "app/About.h"
#include "app/CatalogTestSupport.h"
#include "app/Setup.h"
#include "app/catalog/IniFile.h"
#include "ui_AboutBox.h"
#include "ui_SetupForm.h"

#include "app/MainFormTestSupport.h"

using namespace cattest;

namespace {

class SetupFormTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup6=1000\nSetup7=1000\nSetup11=1\nSetup19=0\nSetup20=1\n"
                 "Setup_Text1=80\nSetup_Text2=cddb.example\nSetup_Text3=\nSetup_Text4=Music\n");
        MakeCatalog("Music", {"e: [ONE]"});
        MakeCatalog("Filmy", {"e: [F]"});
    }
    // Opens the setup dialog through its tool button and lets `act` work on it.
    int RunSetup(TMainForm &form, const std::function<void(TSetupForm &)> &act)
    {
        int shown = 0;
        TMainForm::RunModal = [&](QDialog &d) {
            auto *setup = qobject_cast<TSetupForm *>(&d);
            EXPECT_NE(setup, nullptr);
            ++shown;
            if (setup)
                act(*setup);
            return d.result();
        };
        form.ui->SetupButton->click();
        return shown;
    }
};

} // namespace

TEST_F(SetupFormTest, ValuesRoundTripThroughTheSettingsFile)
{
    {
        TMainForm form(nullptr, data);
        form.FormShow();
        EXPECT_EQ(RunSetup(form,
                           [](TSetupForm &d) {
                               // The dialog shows the stored values.
                               EXPECT_EQ(d.ui->Edit1->text() + "|" + d.ui->Edit3->text() + "|" + d.ui->Edit6->text(),
                                         QStringLiteral("1000|cddb.example|80"));
                               EXPECT_EQ(d.ui->ComboBox3->currentIndex(), 1);
                               EXPECT_EQ(d.ui->ComboBox2->currentIndex(), 0);
                               EXPECT_TRUE(d.ui->RadioGroup1Item0->isChecked());
                               EXPECT_TRUE(d.ui->CheckBox8->isChecked());
                               EXPECT_EQ(d.ui->ComboBox1->count(), 2);
                               EXPECT_TRUE(d.ui->ComboBox1->currentText().isEmpty());
                               for (QCheckBox *box : {d.ui->CheckBox1, d.ui->CheckBox2, d.ui->CheckBox3,
                                                      d.ui->CheckBox4, d.ui->CheckBox5})
                                   box->setChecked(true);
                               for (QCheckBox *box : {d.ui->CheckBox6, d.ui->CheckBox7, d.ui->CheckBox8})
                                   box->setChecked(false);
                               d.ui->Edit1->setText(QStringLiteral("2500"));
                               d.ui->Edit2->setText(QStringLiteral(" 300 "));
                               d.ui->RadioButton2->click();
                               d.ui->RadioButton3->click();
                               d.ui->RadioGroup1Item2->setChecked(true);
                               d.ui->Edit6->setText(QStringLiteral("8880"));
                               d.ui->Edit3->setText(QStringLiteral("freedb.example.org"));
                               d.ui->ComboBox1->setCurrentIndex(d.ui->ComboBox1->findText(QStringLiteral("Filmy")));
                               d.ui->ComboBox2->setCurrentIndex(2);
                               d.ui->ComboBox3->setCurrentIndex(3);
                               d.ui->BitBtn1->click();
                           }),
                  1);
        EXPECT_EQ(form.SearchLimit, 300);
        EXPECT_EQ(langunit::CurrentLanguage(), langunit::LangCzech);
        EXPECT_EQ(form.DefaultCatalogText, "Filmy");
        EXPECT_FALSE(form.ui->InfoPanel->isVisible());
        EXPECT_FALSE(form.ui->ShowInfoButton->isChecked());
        form.close();
    }
    TSettings s;
    ReadSettingsFile(data + "/cat.ini", s);
    std::vector<int> stored;
    for (int i : {1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 15, 16, 17, 19, 20})
        stored.push_back(s[i]);
    EXPECT_EQ(stored, (std::vector<int>{langunit::LangCzech, 1, 1, 1, 1, 2500, 300, 0, 3, 1, 1, 0, 0, 2, 0}));
    EXPECT_EQ(s.SetupText[1] + "|" + s.SetupText[2] + "|" + s.SetupText[3], "8880|freedb.example.org|Filmy");
    // The CDDB keys keep their names in the file.
    TIniFile ini(data + "/cat.ini");
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("CatalogSettings", "Setup_Text2", ""), "freedb.example.org");
    EXPECT_EQ(ini.ReadString("CatalogSettings", "Setup19", ""), "2");
}

TEST_F(SetupFormTest, BadNumberBoxOrCatalogueNameChangesNoSettingAtAll)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    const TSettings before = form.Settings;
    const int limitBefore = form.SearchLimit;
    const auto colours = form.BackgroundColor();
    const std::vector<std::tuple<const char *, const char *, const char *>> cases = {
        {"12x", "300", ""}, {"", "300", ""}, {"99999999999", "300", ""}, {"1000", "1e3", ""},
        {"1000", "300", "../outside"}};
    for (const auto &[edit1, edit2, catalog] : cases) {
        SCOPED_TRACE(std::string(edit1) + " " + edit2 + " " + catalog);
        RunSetup(form, [&](TSetupForm &d) {
            d.ui->CheckBox1->setChecked(true);
            d.ui->CheckBox5->setChecked(true);
            d.ui->Edit3->setText(QStringLiteral("changed.example"));
            d.ui->ComboBox2->setCurrentIndex(2);
            d.ui->RadioButton2->click();
            d.ui->Edit1->setText(QString::fromLatin1(edit1));
            d.ui->Edit2->setText(QString::fromLatin1(edit2));
            d.ui->ComboBox1->setEditText(QString::fromLatin1(catalog));
            d.ui->BitBtn1->click();
            EXPECT_EQ(d.result(), 0);
        });
        EXPECT_EQ(form.Settings.Setup, before.Setup);
        EXPECT_EQ(form.Settings.SetupText, before.SetupText);
        EXPECT_EQ(form.SearchLimit, limitBefore);
        EXPECT_EQ(form.DefaultCatalogText, "");
        EXPECT_EQ(langunit::CurrentLanguage(), langunit::LangEnglish);
        EXPECT_EQ(form.BackgroundColor(), colours);
    }
    // Each refusal said what is wanted.
    ASSERT_EQ(prompt.Asked().size(), cases.size());
    EXPECT_EQ(prompt.Asked()[0].text,
              QStringLiteral("Enter a whole number from 100 to 10000 in \"On saving wait:\"."));
    EXPECT_EQ(prompt.Asked()[3].text,
              QStringLiteral("Enter a whole number from 100 to 5000 in \"At filtration display max.:\"."));
}

TEST_F(SetupFormTest, NumbersBeyondTheArrowsAreTakenAsTheyStandAndReadBackWithoutComplaint)
{
    {
        TMainForm form(nullptr, data);
        form.FormShow();
        RunSetup(form, [&](TSetupForm &d) {
            d.ui->Edit1->setText(QStringLiteral("50"));
            d.ui->Edit2->setText(QStringLiteral("6000"));
            d.ui->BitBtn1->click();
            EXPECT_EQ(d.result(), 1);
        });
        EXPECT_EQ(std::tuple(form.Settings[6], form.Settings[7], form.SearchLimit), std::tuple(50, 6000, 6000));
        form.close();
    }
    TMainForm again(nullptr, data);
    EXPECT_EQ(std::tuple(again.Settings[6], again.Settings[7], again.SearchLimit), std::tuple(50, 6000, 6000));
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(SetupFormTest, ColourSchemeTakesEffectAtOnceTheSettingOnOkAndArrowsStepWithinTheirRange)
{
    TMainForm form(nullptr, data);
    RunSetup(form, [](TSetupForm &d) {
        d.ui->ComboBox3->setCurrentIndex(2);
        // The dialog repaints at once in the new pair.
        EXPECT_EQ(d.ui->Shape1->palette().color(QPalette::Window), QColor(0xF0, 0xF1, 0xF5));
        d.reject();
    });
    EXPECT_EQ(form.Colours.frame, 0xD2C6C2u);
    EXPECT_EQ(form.Colours.background, 0xF5F1F0u);
    EXPECT_EQ(form.Settings[11], 1);
    RunSetup(form, [](TSetupForm &d) {
        // The next dialog paints with it.
        EXPECT_EQ(d.palette().color(QPalette::Window), QColor(0xC2, 0xC6, 0xD2));
        // The arrows step within their range: from a text, the arrow, the text it leaves.
        const std::vector<std::tuple<QLineEdit *, TUpDown *, const char *, bool, const char *>> steps = {
            {d.ui->Edit1, d.ui->UpDown1, "9950", true, "10000"}, {d.ui->Edit1, d.ui->UpDown1, nullptr, true, "10000"},
            {d.ui->Edit2, d.ui->UpDown2, "100", false, "100"},   {d.ui->Edit2, d.ui->UpDown2, nullptr, true, "200"},
            {d.ui->Edit2, d.ui->UpDown2, "junk", true, "200"},   {d.ui->Edit2, d.ui->UpDown2, "7000", false, "5000"}};
        for (const auto &[edit, arrows, text, up, after] : steps) {
            if (text)
                edit->setText(QString::fromLatin1(text));
            arrows->Click(up);
            EXPECT_EQ(edit->text(), QString::fromLatin1(after)) << (text ? text : "") << up;
        }
    });
}

TEST_F(SetupFormTest, TreeIsReloadedWhenATreeOptionWasChosen)
{
    MakeCatalog("Music", {"e: [B]", "e: [A]"});
    TMainForm form(nullptr, data);
    form.FormShow();
    ASSERT_EQ(form.ui->TreeView1->topLevelItem(0)->text(0), QStringLiteral("e: [B]"));
    RunSetup(form, [](TSetupForm &d) {
        d.ui->RadioButton3->click();
        d.ui->BitBtn1->click();
    });
    EXPECT_EQ(form.Settings[12], 1);
    EXPECT_EQ(form.ui->TreeView1->topLevelItem(0)->text(0), QStringLiteral("e: [A]"));
}

TEST_F(SetupFormTest, SetupAndAboutSpeakTheCurrentLanguage)
{
    const std::vector<std::tuple<int, const char *, const char *, const char *, const char *>> cases = {
        {langunit::LangEnglish, "Seek music names to internet", "Yes", "Thanks", "Thanks :"},
        {langunit::LangSlovak, "Hľadať názvy skladieb na internete", "Áno", "Poďakovanie", " Poďakovanie : "},
        {langunit::LangCzech, "Hledat názvy skladeb na internetu", "Ano", "Poděkování", "Poděkování :"}};
    TMainForm form(nullptr, data);
    for (const auto &[language, checkBox7, yes, page2, heading] : cases) {
        langunit::SetCurrentLanguage(language);
        TSetupForm setup(&form);
        EXPECT_EQ(setup.ui->CheckBox7->text(), QString::fromUtf8(checkBox7));
        EXPECT_EQ(setup.ui->RadioButton3->text(), QString::fromUtf8(yes));
        int shown = 0;
        TMainForm::RunModal = [&](QDialog &d) {
            auto *about = qobject_cast<TAboutBox *>(&d);
            EXPECT_NE(about, nullptr);
            if (!about)
                return 0;
            ++shown;
            EXPECT_EQ(about->ui->PageControl1->tabText(1), QString::fromUtf8(page2));
            EXPECT_EQ(about->ui->Label8->text(), QString::fromUtf8(heading));
            about->ui->OKButton->click();
            return about->result();
        };
        form.ui->AboutMenu->trigger();
        EXPECT_EQ(shown, 1);
    }
}
