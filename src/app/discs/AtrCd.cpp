#include "app/discs/AtrCd.h"

#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "platform/Help.h"
#include "platform/QtText.h"
#include "storage/FlatTbl.h"
#include "ui_AtrCdForm.h"
#include "ui_MainForm.h"

namespace {

// The current record's value of `field`, empty for a closed or empty table.
std::string CurrentValue(TFlatTable *table, const char *field)
{
    if (!table || !table->Active() || table->RecordCount() == 0 || !table->FindField(field))
        return {};
    return table->FieldByName(field).AsString();
}

} // namespace

TAtrCdForm::TAtrCdForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TAtrCdForm), main_(main)
{
    ui->setupUi(this);
    std::vector<QWidget *> background{ui->Shape1};
    for (int i = 1; i <= 11; ++i)
        if (auto *label = findChild<QLabel *>(QStringLiteral("Label%1").arg(i)))
            background.push_back(label);
    main_->PaintDialog(this, background);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    // F1: the dialog's help page.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 12, langunit::CurrentLanguage());
    });
    move(main_->x() + 150, main_->y() + 80);
    FormShow();
}

TAtrCdForm::~TAtrCdForm()
{
    delete ui;
}

void TAtrCdForm::FormShow()
{
    const QString disc = ToQString(main_->Browse.CurrentDisc);
    setWindowTitle(disc + QStringLiteral(" - ") + L(1));
    ui->Label1->setText(L(46) + QStringLiteral(" : ") + disc);
    ui->Label2->setText(L(99));
    ui->Label3->setText(main_->ui->StaticText1->text());
    ui->Label4->setText(L(15) + QStringLiteral(" :"));
    ui->Label5->setText(ToQString(main_->CatalogName));
    ui->Label8->setText(L(6));
    ui->Label9->setText(QStringLiteral(" [") + ToQString(CurrentValue(main_->WorkTable.get(), "Number")) +
                        QStringLiteral("]"));
    ui->Label6->setText(L(4));
    // The size is the current disc's record's, never that of the record the table stands on.
    const bool located = main_->LocateDiscRecord(main_->Browse.CurrentDisc);
    ui->Label7->setText(located ? ToQString(CurrentValue(main_->CdNameTable.get(), "CdSize")) : QString());
    ui->Label10->setText(L(100));
    ui->Label11->setText(ToQString(main_->Browse.FileCountText));
}
