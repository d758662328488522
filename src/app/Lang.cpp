#include "app/Lang.h"

#include "app/LangUnit.h"
#include "app/Main.h"
#include "ui_LangForm.h"

TLangForm::TLangForm(TMainForm *main, bool firstRun, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TLangForm), main_(main), firstRun_(firstRun)
{
    ui->setupUi(this);
    main_->PaintDialog(this, {ui->Shape1, ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Panel1});
    connect(ui->SkButton, &QToolButton::clicked, this, [this] { LanguageButtonClick(langunit::LangSlovak); });
    connect(ui->CzButton, &QToolButton::clicked, this, [this] { LanguageButtonClick(langunit::LangCzech); });
    connect(ui->EngButton, &QToolButton::clicked, this, [this] { LanguageButtonClick(langunit::LangEnglish); });
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TLangForm::BitBtn1Click);
}

TLangForm::~TLangForm()
{
    delete ui;
}

void TLangForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    switch (langunit::CurrentLanguage()) {
    case langunit::LangEnglish: ui->EngButton->setChecked(true); break;
    case langunit::LangCzech: ui->CzButton->setChecked(true); break;
    default: ui->SkButton->setChecked(true); break;
    }
}

void TLangForm::LanguageButtonClick(int language)
{
    langunit::SetCurrentLanguage(language);
    main_->HelpFile = language == langunit::LangEnglish ? "orbalist_e.hlp" : "orbalist.hlp";
}

void TLangForm::BitBtn1Click()
{
    accept();
    // The window keeps its size and the place it shows; only its texts change.
    if (!firstRun_)
        main_->RelabelInLanguage();
}
