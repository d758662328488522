// Catalogue commands of the main window: new, open and delete a catalogue,
// the list of the data folder's catalogues, the properties command, the setup
// dialog and the about box, and the table engine's password prompt.
#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include "app/About.h"
#include "app/LangUnit.h"
#include "app/Setup.h"
#include "app/Texts3.h"
#include "app/browse/FileListView.h"
#include "app/catalog/CatalogTables.h"
#include "app/catalog/DelArch.h"
#include "app/catalog/NewD.h"
#include "app/discs/Atr.h"
#include "app/discs/AtrCd.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "util/FileCommit.h"
#include "ui_MainForm.h"

namespace fs = std::filesystem;

std::function<std::string(TMainForm &)> TMainForm::RunOpenDialog;

namespace {

// The table engine asks for the password of a protected table and shows its
// "try again" notice through the program's prompt, so that tests can answer.
void BindTablePasswordPrompt()
{
    TFlatSession &session = FlatSession();
    session.OnPassword = [](std::string &password) {
        QString text;
        if (!Prompt::Current().AskPassword(QString::fromLatin1(SLoginPassword), QString::fromLatin1(SEnterPassword),
                                           text))
            return false;
        password = FromQString(text);
        return true;
    };
    session.OnNotice = [](const std::string &text) {
        Prompt::Current().Show(ToQString(text), QString(), PromptButtons::Ok, PromptIcon::Warning);
    };
}

} // namespace

void TMainForm::ConnectCatalogHandlers()
{
    BindTablePasswordPrompt();
    connect(ui->NewMenu, &QAction::triggered, this, Guarded(&TMainForm::NewMenuClick));
    connect(ui->OpenButton, &QToolButton::clicked, this, Guarded(&TMainForm::OpenButtonClick));
    connect(ui->OpenMenu, &QAction::triggered, this, Guarded(&TMainForm::OpenButtonClick));
    connect(ui->DelArchMenu, &QAction::triggered, this, Guarded(&TMainForm::DelArchMenuClick));
    connect(ui->BackupCreateMenu, &QAction::triggered, this, Guarded(&TMainForm::BackupCreateMenuClick));
    connect(ui->RecoverDatabaseMenu, &QAction::triggered, this, Guarded(&TMainForm::RecoverDatabaseMenuClick));
    connect(ui->RecoverTreeSetupMenu, &QAction::triggered, this, Guarded(&TMainForm::RecoverTreeSetupMenuClick));
    connect(ui->PropertiesButton, &QToolButton::clicked, this, Guarded(&TMainForm::PropertiesMenuClick));
    connect(ui->PropertiesMenu, &QAction::triggered, this, Guarded(&TMainForm::PropertiesMenuClick));
    connect(ui->PropertiesPopup, &QAction::triggered, this, Guarded(&TMainForm::PropertiesMenuClick));
    connect(ui->SetupButton, &QToolButton::clicked, this, Guarded(&TMainForm::SetupButtonClick));
    connect(ui->AboutButton, &QToolButton::clicked, this, Guarded(&TMainForm::AboutButtonClick));
    // The active control: the last widget of this window that had the focus.
    // Focus moving into a menu, a dialog or nowhere leaves it as it was.
    FocusWatch = std::make_unique<QObject>();
    connect(qApp, &QApplication::focusChanged, FocusWatch.get(), [this](QWidget *, QWidget *now) {
        if (now && now->window() == this)
            ActiveControl = now;
    });
}

std::string TMainForm::ChooseCatalogFile()
{
    if (RunOpenDialog)
        return RunOpenDialog(*this);
    QFileDialog dialog(this, QString(), ToQString(DataFolder), QStringLiteral("Orbalist data file (*.d)"));
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return FromQString(dialog.selectedFiles().front());
}

void TMainForm::NewMenuClick()
{
    TNewDataForm dialog(this);
    ExecModal(dialog);
}

void TMainForm::OpenButtonClick()
{
    const std::string file = ChooseCatalogFile();
    if (file.empty())
        return;
    OpenCatalogFile(file);
}

bool TMainForm::OpenCatalogFile(const std::string &fileName)
{
    const fs::path path(fileName);
    std::string folder = path.parent_path().string();
    if (folder.empty())
        folder = ".";
    const std::string name = path.stem().string();
    std::string error;
    std::error_code ec;
    if (path.extension() != ".d" || name.empty()) {
        error = fileName + ": " +
                FromQString(ByLanguage("not an archive file (*.d)", "nie je súbor archívu (*.d)",
                                       "není soubor archivu (*.d)"));
    } else if (!fs::is_directory(fs::path(folder) / "CdNames", ec)) {
        // The disc table and the tree file live in the folder's "CdNames"; a
        // folder without one holds no catalogue, and nothing is made there.
        error = DiscTablePath(folder, name) + ": " +
                FromQString(ByLanguage("the folder \"CdNames\" is missing beside the archive file",
                                       "vedľa súboru archívu chýba priečinok \"CdNames\"",
                                       "vedle souboru archivu chybí složka \"CdNames\""));
    } else if (OpenCatalog(folder, name, &error)) {
        ui->StaticText1->clear();
        ui->StaticText1->hide();
        ForgetCatalogViews();
        FormShow();
        ui->FindButton->setChecked(false);
        ui->FindAllButton->setChecked(false);
        // The search had hidden the information panel: it follows its button again.
        ShowInfoButtonClick();
        return true;
    }
    // The catalogue that was open stays open.
    Prompt::Current().Show(ByLanguage("The archive could not be opened:", "Archív sa nepodarilo otvoriť:",
                                      "Archiv se nepodařilo otevřít:") +
                               QStringLiteral("\n") + ToQString(error),
                           QStringLiteral("chyba"), PromptButtons::Ok, PromptIcon::Error);
    return false;
}

void TMainForm::ForgetCatalogViews()
{
    ui->LinksListView->clear();
    ui->TreeView1->clear();
    ui->ComboBox2->clear();
    WorkSource.reset();
    WorkTable.reset();
    Browse.LoadedDisc.clear();
    // Nothing of the catalogue left stays selected for copy, run or properties.
    RunTarget = {};
}

std::vector<std::string> TMainForm::CatalogNamesIn(const std::string &folder)
{
    std::vector<std::string> names;
    QDir dir(ToQString(folder));
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &e : entries) {
        const std::string file = FromQString(e.fileName());
        // The extension from the last dot, exactly ".d": backups (".~d") and
        // names in capitals (".D") are not catalogues.
        const size_t dot = file.rfind('.');
        if (dot != std::string::npos && dot > 0 && file.compare(dot, std::string::npos, ".d") == 0)
            names.push_back(file.substr(0, dot));
    }
    return names;
}

void TMainForm::LoadArchivesToCombo(QComboBox *ComboBox) const
{
    ComboBox->clear();
    for (const std::string &name : CatalogNamesIn(DataFolder))
        ComboBox->addItem(ToQString(name));
}

bool TMainForm::DeleteCatalog(const std::string &name)
{
    // Only a plain name of the data folder: a path or "." / ".." would reach
    // files outside it.
    const bool plain = !name.empty() && name != "." && name != ".." &&
                       name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
    if (!plain) {
        Prompt::Current().Show(ToQString(CheckCatalogName(name)), L(67), PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    if (name == CatalogName) {
        Prompt::Current().Show(L(92) + QStringLiteral(" ") + ToQString(name) + QStringLiteral(" ") + L(93));
        return false;
    }
    const PromptResult answer = Prompt::Current().Show(L(91) + QStringLiteral("  : ") + ToQString(name), L(34),
                                                      PromptButtons::YesNo, PromptIcon::Question, PromptResult::No);
    if (answer != PromptResult::Yes)
        return false;
    // Both tables go in one commit: a stop at any point leaves both of them
    // or neither, never a disc table that a later catalogue of this name would
    // take over. A table already missing is no failure; the backups and the
    // tree file stay.
    TFileCommit commit;
    commit.Remove(FileTablePath(DataFolder, name));
    commit.Remove(DiscTablePath(DataFolder, name));
    std::string failed;
    if (!CommitAndReport(commit, failed)) {
        ShowError(FromQString(ByLanguage("Could not delete:", "Nepodarilo sa zmazať:", "Nepodařilo se smazat:")) +
                  "\n" + failed);
        return false;
    }
    return true;
}

void TMainForm::DelArchMenuClick()
{
    auto *dialog = new TDelArchForm(this);
    dialog->show();
}

void TMainForm::PropertiesMenuClick()
{
    QWidget *active = ActiveControl;
    if (active && (active == ui->TreeView1 || ui->TreeView1->isAncestorOf(active))) {
        if (Browse.CurrentDisc.empty() || !LocateDiscRecord(Browse.CurrentDisc)) {
            ShowNothingSelected(true);
            return;
        }
        TAtrCdForm dialog(this);
        ExecModal(dialog);
        active->setFocus();
        return;
    }
    TAtrForm dialog(this);
    if (!dialog.Fill(active))
        return;
    ExecModal(dialog);
    // The list the dialog described has the focus again, so that the commands
    // on its entry (Notes among them) are there after Escape.
    if (active)
        active->setFocus();
}

void TMainForm::SetupButtonClick()
{
    TSetupForm dialog(this);
    ExecModal(dialog);
}

void TMainForm::AboutButtonClick()
{
    TAboutBox dialog(this);
    ExecModal(dialog);
}
