#include "app/catalog/DelArch.h"

#include <QPushButton>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/Help.h"
#include "platform/QtText.h"
#include "ui_DelArchForm.h"

TDelArchForm::TDelArchForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TDelArchForm), main_(main)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    main_->PaintDialog(this, {ui->Shape1, ui->Label1});
    connect(ui->ComboBox1, &QComboBox::currentIndexChanged, this, &TDelArchForm::ComboBox1Change);
    connect(ui->OkButton, &QPushButton::clicked, this, &TDelArchForm::OkButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TDelArchForm::close);
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 20, langunit::CurrentLanguage());
    });
    FormShow();
}

TDelArchForm::~TDelArchForm()
{
    delete ui;
}

void TDelArchForm::FormShow()
{
    main_->LoadArchivesToCombo(ui->ComboBox1);
    ui->ComboBox1->setCurrentIndex(ui->ComboBox1->count() > 0 ? 0 : -1);
    setWindowTitle(ToQString(langunit::LangString(94)));
    ComboBox1Change();
    ui->CancelButton->setText(ToQString(langunit::LangString(17)));
    ui->HelpButton->setText(ToQString(langunit::LangString(16)));
}

void TDelArchForm::ComboBox1Change()
{
    ui->Label1->setText(ToQString(langunit::LangString(94) + " : ") + ui->ComboBox1->currentText());
}

void TDelArchForm::OkButtonClick()
{
    if (ui->ComboBox1->currentIndex() < 0)
        return;
    const std::string name = FromQString(ui->ComboBox1->currentText());
    if (!main_->DeleteCatalog(name))
        return;
    // The dialog stays open for further deletions.
    main_->LoadArchivesToCombo(ui->ComboBox1);
    ui->ComboBox1->setCurrentIndex(ui->ComboBox1->count() > 0 ? 0 : -1);
    ComboBox1Change();
}
