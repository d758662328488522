#include "app/catalog/CatalogProblem.h"

#include <QPushButton>

#include "app/Main.h"
#include "app/Texts3.h"
#include "platform/QtText.h"
#include "ui_CatalogProblemForm.h"

TCatalogProblemForm::TCatalogProblemForm(TMainForm *main, const std::string &text, bool canRestore, bool canReadOnly,
                                         QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TCatalogProblemForm), main_(main)
{
    ui->setupUi(this);
    main_->PaintDialog(this, {ui->Shape1, ui->Label1});
    setWindowTitle(ToQString(Text3("The archive cannot be opened", "Archív sa nedá otvoriť",
                                   "Archiv nelze otevřít")));
    ui->Label1->setText(ToQString(text));
    if (!canRestore) {
        ui->RestoreButton->setText(ToQString(Text3("Restore from the backup (there is no readable backup)",
                                                   "Obnoviť zo zálohy (žiadna čitateľná záloha nie je)",
                                                   "Obnovit ze zálohy (žádná čitelná záloha není)")));
        ui->RestoreButton->setEnabled(false);
    } else {
        ui->RestoreButton->setText(
            ToQString(Text3("Restore from the backup", "Obnoviť zo zálohy", "Obnovit ze zálohy")));
    }
    ui->ReadOnlyButton->setText(ToQString(Text3("Open what can be read, read-only (nothing is changed)",
                                                "Otvoriť, čo sa dá prečítať, len na čítanie (nič sa nezmení)",
                                                "Otevřít, co lze přečíst, jen pro čtení (nic se nezmění)")));
    ui->ReadOnlyButton->setEnabled(canReadOnly);
    ui->OtherButton->setText(ToQString(Text3("Open another archive...", "Otvoriť iný archív...",
                                             "Otevřít jiný archiv...")));
    ui->NewButton->setText(ToQString(Text3("Create a new archive...", "Vytvoriť nový archív...",
                                           "Vytvořit nový archiv...")));
    ui->ExitButton->setText(ToQString(Text3("Exit without changing anything", "Skončiť bez akejkoľvek zmeny",
                                            "Ukončit bez jakékoli změny")));
    connect(ui->RestoreButton, &QPushButton::clicked, this, [this] { done(Restore); });
    connect(ui->ReadOnlyButton, &QPushButton::clicked, this, [this] { done(ReadOnly); });
    connect(ui->OtherButton, &QPushButton::clicked, this, [this] { done(Other); });
    connect(ui->NewButton, &QPushButton::clicked, this, [this] { done(New); });
    connect(ui->ExitButton, &QPushButton::clicked, this, [this] { done(Exit); });
    // No default button: Enter must not pick an answer by chance.
    for (QPushButton *b : findChildren<QPushButton *>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
}

TCatalogProblemForm::~TCatalogProblemForm()
{
    delete ui;
}

void TCatalogProblemForm::reject()
{
    done(Exit);
}
