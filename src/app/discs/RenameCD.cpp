#include "app/discs/RenameCD.h"

#include <QPushButton>

#include <algorithm>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "app/discs/DiscCommands.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_RenameCDForm.h"
#include "util/TextCodec.h"

std::string &TRenameCDForm::DiscNamePrefix()
{
    static std::string prefix;
    return prefix;
}

TRenameCDForm::TRenameCDForm(TMainForm *main)
    : QDialog(main), ui(new Ui::TRenameCDForm), main_(main), oldName_(main->Browse.CurrentDisc)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->OkButton, &QPushButton::clicked, this, &TRenameCDForm::OkButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TRenameCDForm::close);
    // The disc belongs to the catalogue open now: once another one replaces it
    // (or it is closed), the dialog closes, renaming nothing, so that OK never
    // renames a disc of the same name in the other catalogue.
    connect(main_, &TMainForm::CatalogChanged, this, &TRenameCDForm::close);
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 21, langunit::CurrentLanguage());
    });
    FormShow();
}

TRenameCDForm::~TRenameCDForm()
{
    delete ui;
}

void TRenameCDForm::FormShow()
{
    main_->PaintDialog(this, {ui->Shape1, ui->Label1, ui->Label2});
    setWindowTitle(L(95));
    ui->Label1->setText(L(96));
    ui->Label2->setText(L(97));
    ui->CancelButton->setText(L(17));
    ui->HelpButton->setText(L(16));
    // A name without brackets (an audio CD's title) is edited whole.
    bracketed_ = oldName_.find('[') != std::string::npos;
    const QString shown = ToQString(SplitDiscName(oldName_, DiscNamePrefix()));
    prefix_ = DiscNamePrefix();
    ui->Edit1->setText(shown);
    ui->Edit2->setText(shown);
    ui->Edit2->setFocus();
}

void TRenameCDForm::OkButtonClick()
{
    const std::string text = FromQString(ui->Edit2->text());
    const QString caption = L(34);
    // Blanks alone are no name.
    if (ui->Edit2->text().trimmed().isEmpty()) {
        Prompt::Current().Show(L(98), caption, PromptButtons::Ok, PromptIcon::Warning);
        ui->Edit2->setFocus();
        return;
    }
    const std::string wanted = bracketed_ ? JoinDiscName(prefix_, text) : text;
    if (wanted == oldName_ || oldName_.empty()) {
        close();
        return;
    }
    if (StoredTextLength(wanted) > DiscNameWidth) {
        Prompt::Current().Show(ToQString(DiscNameTooLongText()), caption, PromptButtons::Ok, PromptIcon::Warning);
        ui->Edit2->setFocus();
        return;
    }
    // Another disc's name (compared as the scan compares names) gets a counter
    // after it, shown in the edit before it is stored. The disc itself is left
    // out, so it may change the letter case of its own name.
    std::vector<std::string> others = main_->DiscNames();
    if (const auto self = std::find(others.begin(), others.end(), oldName_); self != others.end())
        others.erase(self);
    const std::string newName = MakeUniqueCdName(wanted, others);
    if (newName == oldName_) { // the counter gave back the name it has
        close();
        return;
    }
    if (newName != wanted) {
        ui->Edit2->setText(ToQString(newName));
        ui->Edit2->repaint();
    }
    bool renamed = false;
    try {
        HourglassCursor busy;
        renamed = RenameDiscEverywhere(main_->OpenDiscCatalog(), oldName_, newName);
    } catch (const ECommitUnfinished &e) {
        // Renamed (the tables hold it) and completed at the next open: the
        // window shows the new name, and the message why a file waits.
        renamed = true;
        Prompt::Current().Show(ToQString(e.what()), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
    } catch (const std::exception &e) {
        // Nothing was renamed; the dialog stays for another try or Cancel.
        ui->Edit2->setText(ToQString(text));
        Prompt::Current().Show(ToQString(e.what()), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
        return;
    }
    if (!renamed) {
        Prompt::Current().Show(ToQString(NotFoundText(oldName_)), caption, PromptButtons::Ok, PromptIcon::Warning);
        close();
        return;
    }
    main_->Browse.CurrentDisc = newName;
    main_->RebuildCatalogView();
    close();
}
