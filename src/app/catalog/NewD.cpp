#include "app/catalog/NewD.h"

#include <QPushButton>
#include <QTreeWidget>

#include <filesystem>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "ui_NewDataForm.h"

TNewDataForm::TNewDataForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TNewDataForm), main_(main)
{
    ui->setupUi(this);
    main_->PaintDialog(this, {ui->Label1, ui->Label2, ui->Shape1});
    // Enter in the name box confirms: OK is the default button.
    connect(ui->OkButton, &QPushButton::clicked, this, &TNewDataForm::OkButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TNewDataForm::reject);
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 4, langunit::CurrentLanguage());
    });
    // Without the settings file this is the first start.
    std::error_code ec;
    firstStart_ = !std::filesystem::exists(main_->DataFolder + "/cat.ini", ec);
    FormShow();
}

TNewDataForm::~TNewDataForm()
{
    delete ui;
}

void TNewDataForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    ui->Edit1->setFocus();
}

void TNewDataForm::FormShow()
{
    if (firstStart_) {
        // A catalogue must be made: there is nothing to go back to.
        ui->Edit1->setText(QString::fromUtf8(FirstCatalogName));
        ui->CancelButton->setEnabled(false);
    }
    setWindowTitle(ToQString(langunit::LangString(14)));
    ui->Label1->setText(ToQString(langunit::LangString(15) + " :"));
    ui->HelpButton->setText(ToQString(langunit::LangString(16)));
    ui->CancelButton->setText(ToQString(langunit::LangString(17)));
    ui->Label2->setText(ToQString(langunit::LangString(18)));
}

void TNewDataForm::reject()
{
    // Cancel, Escape and the close button (on the first start only the last
    // two): on the first start this ends the program (the caller sees no
    // catalogue), writing nothing.
    QDialog::reject();
}

void TNewDataForm::OkButtonClick()
{
    const std::string name = FromQString(ui->Edit1->text());
    const std::string problem = TMainForm::CheckCatalogName(name);
    if (!problem.empty()) {
        Prompt::Current().Show(ToQString(problem), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Warning);
        ui->Edit1->setFocus();
        return;
    }
    std::string error;
    if (!main_->OpenCatalog(main_->DataFolder, name, &error)) {
        Prompt::Current().Show(ToQString(error), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
        return;
    }
    // As when a catalogue is opened: nothing of the one shown before stays,
    // and the window is back in browsing (the search panel is hidden).
    main_->ForgetCatalogViews();
    if (main_->FirstRun) {
        main_->FirstRun = false;
    } else {
        main_->FormShow();
        main_->ui->FindButton->setChecked(false);
        main_->ui->FindAllButton->setChecked(false);
        // The search had hidden the information panel: it follows its button again.
        main_->ShowInfoButtonClick();
    }
    accept();
}
