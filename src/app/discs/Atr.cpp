#include "app/discs/Atr.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "app/LangUnit.h"
#include "app/search/SearchListView.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "platform/Prompt.h"
#include "platform/Help.h"
#include "platform/QtText.h"
#include "platform/ShellInfo.h"
#include "ui_AtrForm.h"
#include "ui_MainForm.h"

namespace {

bool Within(const QWidget *container, const QWidget *w)
{
    return w && (w == container || container->isAncestorOf(w));
}

} // namespace

std::string AtrSizeText(int64_t bytes, char decimalPoint, const std::string &bytesWord)
{
    // Below a kilobyte the short form already reads "12 bytes ".
    if (bytes < 1024)
        return FormatSize(bytes, decimalPoint, bytesWord);
    return FormatSize(bytes, decimalPoint, bytesWord) + " ( " + std::to_string(bytes) + " " + bytesWord + " )";
}

TAtrForm::TAtrForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TAtrForm), main_(main)
{
    ui->setupUi(this);
    std::vector<QWidget *> background{ui->Shape1, ui->Panel1, ui->ReadOnlyBox, ui->ArchiveBox, ui->HiddenBox,
                                      ui->SystemBox};
    for (int i = 1; i <= 18; ++i)
        if (auto *label = findChild<QLabel *>(QStringLiteral("Label%1").arg(i)))
            background.push_back(label);
    // The attribute boxes show, they do not edit.
    for (QCheckBox *box : {ui->ReadOnlyBox, ui->ArchiveBox, ui->HiddenBox, ui->SystemBox}) {
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        box->setBackgroundRole(QPalette::Window);
    }
    main_->PaintDialog(this, background);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    // F1: the dialog's help page.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 12, langunit::CurrentLanguage());
    });
    move(main_->x() + 350, main_->y() + 80);
    SetCaptions();
}

TAtrForm::~TAtrForm()
{
    delete ui;
}

void TAtrForm::SetCaptions()
{
    ui->Label2->setText(L(2));
    ui->Label4->setText(L(3));
    ui->Label6->setText(L(4));
    ui->Label15->setText(L(5));
    ui->Label8->setText(L(6));
    ui->Label10->setText(L(7));
    ui->Label11->setText(L(8));
    ui->Label14->setText(L(9));
    ui->ReadOnlyBox->setText(L(10));
    ui->ArchiveBox->setText(L(11));
    ui->HiddenBox->setText(L(12));
    ui->SystemBox->setText(L(13));
    ui->Label17->setText(L(104));
}

bool TAtrForm::Fill(QWidget *activeControl)
{
    // Nothing selected: said, and no empty dialog.
    if (Within(main_->ui->LinksListView, activeControl)) {
        const TFileRow *row = main_->FileRecordCount() > 0 ? main_->ui->LinksListView->SelectedRow() : nullptr;
        if (row)
            ShowFileRow(*row);
        else
            main_->ShowNothingSelected(false);
        return row != nullptr;
    }
    if (Within(main_->ui->SearchView, activeControl)) {
        const TSearchRow *row = main_->ui->SearchView->SelectedRow();
        if (row)
            ShowSearchRow(*row);
        else
            main_->ShowNothingSelected(false);
        return row != nullptr;
    }
    Prompt::Current().Show(L(78));
    return false;
}

void TAtrForm::ShowValues(const QString &name, const QString &typeName, const QString &fullPath,
                          const QString &number, const QString &created, const QString &changed,
                          const QString &disc, const QString &catalog, int attributes)
{
    ui->Label1->setText(name);
    ui->Label3->setText(typeName);
    ui->Label5->setText(fullPath);
    ui->Label9->setText(number);
    ui->Label12->setText(created);
    ui->Label13->setText(changed);
    ui->Label16->setText(disc);
    ui->Label18->setText(catalog);
    // The icon of the extension, whatever the file on the disc.
    const QIcon icon = ShellInfo::FileIcon(QStringLiteral("*") + ShellInfo::ExtensionOf(name), kFileAttributeNormal,
                                           ShellIconSize::Large);
    ui->Image1->setPixmap(icon.pixmap(32, 32));
    ui->ReadOnlyBox->setChecked(attributes & 1);
    ui->HiddenBox->setChecked(attributes & 2);
    ui->SystemBox->setChecked(attributes & 4);
    ui->ArchiveBox->setChecked(attributes & 32);
    setWindowTitle(name + QStringLiteral(" - ") + L(1));
}

void TAtrForm::ShowFileRow(const TFileRow &row)
{
    ShowValues(ToQString(row.Name), row.TypeName, ToQString(row.FullName), ToQString(row.Number),
               ToQString(row.CreateDate), ToQString(row.LastChange), ToQString(row.Namecd),
               ToQString(main_->CatalogName), row.Attrib);
    ui->Label7->setText(ToQString(
        AtrSizeText(SizeValue(row.SizeTech), LocaleDecimalPoint(), langunit::LangString(83))));
}

void TAtrForm::ShowSearchRow(const TSearchRow &row)
{
    ShowValues(ToQString(row.Name), row.TypeName, ToQString(row.FullPath), ToQString(row.Number),
               ToQString(row.CreateDate), ToQString(row.LastChange), ToQString(row.Namecd), ToQString(row.Archive),
               row.Attrib);
    // The search list's size line keeps its fixed word in every language.
    ui->Label7->setText(ToQString(AtrSizeText(SizeValue(row.SizeTech), LocaleDecimalPoint(), "bajtov")));
}
