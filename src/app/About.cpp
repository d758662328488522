#include "app/About.h"

#include <QPushButton>
#include <QShortcut>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "platform/Help.h"
#include "platform/QtText.h"
#include "ui_AboutBox.h"

TAboutBox::TAboutBox(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TAboutBox), main_(main)
{
    ui->setupUi(this);
    ui->UrlLabel1->UrlType = vtWeb;
    ui->UrlLabel2->UrlType = vtMail;
    // The program's picture: the data CD, scaled to the icon's place.
    if (!main_->CdBmp.isNull())
        ui->ProgramIcon->setPixmap(main_->CdBmp.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    connect(ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
    // F1: the dialog's help page.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 13, langunit::CurrentLanguage());
    });
    FormShow();
}

TAboutBox::~TAboutBox()
{
    delete ui;
}

void TAboutBox::FormShow()
{
    ui->ProductName->setText(QStringLiteral("Orbalist"));
    ui->Version->setText(QStringLiteral("Version : 1.2"));
    setWindowTitle(ByLanguage("About Orbalist", "O programe Orbalist", "O programu Orbalist"));
    ui->PageControl1->setTabText(0, ByLanguage("About Orbalist", "O programe Orbalist", "O programu Orbalist"));
    ui->PageControl1->setTabText(1, ByLanguage("Thanks", "Poďakovanie", "Poděkování"));
    ui->Label8->setText(ByLanguage("Thanks :", " Poďakovanie : ", "Poděkování :"));
    ui->Label10->setText(ByLanguage(
        "I would like to thanks to this people for the remindes, testing and advices of Orbalist. ",
        "Chcel by som sa poďakovať týmto ľuďom za ich záujem, nápady, a podporu pri tvorbe a odladení programu "
        "Orbalist.",
        "Ctěl bych teď poděkovat těmto lidem za jejich zájem, nápady, a podporu při tvorbě a odladění programu "
        "Orbalist."));
}
