// The chosen language reaches the texts the program does not write itself: Qt's own buttons and
// dialogs (its file dialogs, not the desktop's), and the disc choice's first item after a change of language.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/print/BandReport.h"

#include "app/MainFormTestSupport.h"

namespace {

QString YesText()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("t"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return box.button(QMessageBox::Yes)->text() + QLatin1Char('|') + box.button(QMessageBox::No)->text() +
           QLatin1Char('|') + box.button(QMessageBox::Cancel)->text();
}

QString OpenDialogAcceptText()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    auto *buttons = dialog.findChild<QDialogButtonBox *>();
    return buttons ? buttons->button(QDialogButtonBox::Open)->text() : QString();
}

class LanguageTextsTest : public MainFormTablesTest {};

} // namespace

TEST_F(LanguageTextsTest, QtsOwnButtonsAndDialogsFollowTheChosenLanguage)
{
    for (int round = 0; round < 2; ++round) { // back and forth: each language comes back whole
        langunit::SetCurrentLanguage(langunit::LangSlovak);
        EXPECT_EQ(YesText(), QString::fromUtf8("Án&o|&Nie|Zrušiť")) << "Qt's Slovak translations (qt6-translations-l10n)";
        EXPECT_EQ(OpenDialogAcceptText(), QString::fromUtf8("&Otvoriť"));
        langunit::SetCurrentLanguage(langunit::LangCzech);
        EXPECT_EQ(YesText(), QString::fromUtf8("&Ano|&Ne|Zrušit"));
        EXPECT_EQ(OpenDialogAcceptText(), QString::fromUtf8("&Otevřít"));
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        EXPECT_EQ(YesText(), QStringLiteral("&Yes|&No|Cancel"));
        EXPECT_EQ(OpenDialogAcceptText(), QStringLiteral("&Open"));
    }
    // A language the table does not have leaves Qt's texts English.
    langunit::SetCurrentLanguage(langunit::LangCzech);
    langunit::SetCurrentLanguage(7);
    EXPECT_EQ(YesText(), QStringLiteral("&Yes|&No|Cancel"));
    langunit::SetCurrentLanguage(langunit::LangEnglish);
}

TEST_F(LanguageTextsTest, DiscChoiceFirstItemFollowsAChangeOfLanguage)
{
    for (const char *disc : {"e: [DATA]", "f: [MORE]"})
        AppendRecord(discs, {{"CdName", disc}, {"Number", "1"}, {"CdSize", "1 kb"}, {"CType", 1}});
    SaveCat("Setup12=0\n");
    auto form = std::make_unique<TMainForm>(nullptr, data);
    form->FormShow();
    QComboBox *choice = form->ui->ComboBox2;
    ASSERT_EQ(choice->count(), 3);
    EXPECT_EQ(choice->itemText(0), QStringLiteral("All drives"));
    choice->setCurrentIndex(2);
    for (const auto &[language, all] : {std::pair{langunit::LangCzech, "Všechny media"},
                                        std::pair{langunit::LangSlovak, "Všetky médiá"},
                                        std::pair{langunit::LangEnglish, "All drives"}}) {
        langunit::SetCurrentLanguage(language);
        form->RelabelInLanguage();
        ASSERT_EQ(choice->count(), 3);
        EXPECT_EQ(choice->itemText(0), QString::fromUtf8(all));
        EXPECT_EQ(choice->itemText(1), QStringLiteral("e: [DATA]"));
        EXPECT_EQ(choice->itemText(2), QStringLiteral("f: [MORE]"));
        EXPECT_EQ(choice->currentIndex(), 2) << "the disc chosen stays chosen";
    }
}

// The native dialog of the desktop writes its texts in the desktop's language, not the program's:
// opening a catalogue, loading a picture and printing to a file take Qt's own file dialog, as the
// other file dialogs do.
TEST_F(LanguageTextsTest, FileDialogsAreQtsOwnSoTheyFollowTheChosenLanguage)
{
    SaveCat("Setup12=0\n");
    auto form = std::make_unique<TMainForm>(nullptr, data);
    form->FormShow();
    std::vector<std::string> seen; // the dialog's title, and "native" where it may take the desktop's
    const auto note = [&](QFileDialog &d) {
        seen.push_back(d.windowTitle().toStdString() +
                       (d.testOption(QFileDialog::DontUseNativeDialog) ? "" : " native"));
    };
    TMainForm::RunModal = [&](QDialog &d) {
        if (auto *files = qobject_cast<QFileDialog *>(&d))
            note(*files);
        return int(QDialog::Rejected);
    };
    EXPECT_EQ(form->ChooseCatalogFile(), "");
    // The static dialogs run their own loop: each is noted and cancelled from a timer.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *files = qobject_cast<QFileDialog *>(w); files && files->isVisible()) {
                note(*files);
                files->reject();
            }
    });
    closer.start(10);
    EXPECT_EQ(TMainForm::OpenPictureDialog1(form.get(), QStringLiteral("Picture"), QStringLiteral("All (*)")), "");
    EXPECT_EQ(TBandReport::AskPdfFileName(form.get()), "");
    closer.stop();
    EXPECT_EQ(seen, (std::vector<std::string>{"Open", "Picture", "PDF"}));
}
