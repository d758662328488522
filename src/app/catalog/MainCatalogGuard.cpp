// The catalogue at start when it cannot be opened, the read-only mode of a
// damaged catalogue, and what tells a first start.
#include "app/Main.h"

#include <QFileDialog>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPushButton>

#include <filesystem>

#include "app/Texts3.h"
#include "app/catalog/CatalogProblem.h"
#include "app/catalog/CatalogRescue.h"
#include "app/catalog/NewD.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "util/FileCommit.h"

namespace fs = std::filesystem;

bool TMainForm::IsFirstRun(const std::string &dataFolder)
{
    std::error_code ec;
    if (!fs::is_directory(dataFolder, ec))
        return true;
    if (fs::exists(fs::path(dataFolder) / SettingsFileName, ec))
        return false;
    // A start that ended before its first catalogue was made left no settings;
    // a folder with a catalogue in it has been used, settings or not.
    return CatalogNamesIn(dataFolder).empty();
}

bool TMainForm::CatalogWritable()
{
    if (!ReadOnlyCatalog)
        return true;
    Prompt::Current().Show(
        ToQString(Text3("The archive \"" + CatalogName + "\" is open read-only because it is damaged: nothing can be "
                        "changed or scanned into it. Restore it from its backup at the next start, or open another "
                        "archive.",
                        "Archív \"" + CatalogName + "\" je otvorený len na čítanie, lebo je poškodený: nič sa v ňom "
                        "nedá zmeniť ani doň načítať. Pri ďalšom štarte ho obnovte zo zálohy alebo otvorte iný archív.",
                        "Archiv \"" + CatalogName + "\" je otevřen jen pro čtení, protože je poškozený: nic v něm "
                        "nelze změnit ani do něj načíst. Při příštím spuštění jej obnovte ze zálohy nebo otevřete "
                        "jiný archiv.")),
        QString(), PromptButtons::Ok, PromptIcon::Warning);
    return false;
}

bool TMainForm::OpenCatalogReadOnly(const std::string &folder, const std::string &name, std::string *error)
{
    std::string lostFiles, lostDiscs;
    const TOpenTableOptions fileKind = FileTableOpenOptions(false), discKind = DiscTableOpenOptions(false);
    auto files = OpenTableReadOnly(FileTablePath(folder, name), FileTableLayout(), &lostFiles, error, &fileKind);
    if (!files)
        return false;
    auto discs = OpenTableReadOnly(DiscTablePath(folder, name), DiscTableLayout(), &lostDiscs, error, &discKind);
    if (!discs)
        return false;
    InstallTables(std::move(files), std::move(discs), folder, name, true);
    std::string lost;
    if (!lostFiles.empty())
        lost += "\n" + FileTablePath(folder, name) + ": " + lostFiles;
    if (!lostDiscs.empty())
        lost += "\n" + DiscTablePath(folder, name) + ": " + lostDiscs;
    const std::string counts = std::to_string(FlatTable1->RecordCount()) + " / " +
                               std::to_string(CdNameTable->RecordCount());
    Prompt::Current().Show(
        ToQString(Text3("The archive \"" + name + "\" is open read-only: " + counts +
                            " records (files / discs) could be read. Nothing in it can be changed, and its files stay "
                            "as they are." + (lost.empty() ? "" : "\nWhat follows the damage could not be read:" + lost),
                        "Archív \"" + name + "\" je otvorený len na čítanie: prečítalo sa " + counts +
                            " záznamov (súbory / disky). Nič sa v ňom nedá zmeniť a jeho súbory zostávajú, ako sú." +
                            (lost.empty() ? "" : "\nČo nasleduje za poškodením, sa nedalo prečítať:" + lost),
                        "Archiv \"" + name + "\" je otevřen jen pro čtení: přečetlo se " + counts +
                            " záznamů (soubory / disky). Nic v něm nelze změnit a jeho soubory zůstávají, jak jsou." +
                            (lost.empty() ? "" : "\nCo následuje za poškozením, nešlo přečíst:" + lost))),
        QString(), PromptButtons::Ok, PromptIcon::Warning);
    return true;
}

namespace {

std::string FileName(const std::string &path)
{
    return fs::path(path).filename().string();
}

// The text a message box's standard button shows, without its shortcut mark,
// taken where the box takes it (Qt's own texts, in the program's language),
// so that a question names its buttons as they read.
std::string ShownButtonText(QDialogButtonBox::StandardButton button)
{
    const QDialogButtonBox box(button);
    const QString text = box.button(button)->text();
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i; // "&&" is a "&" shown
        shown += text[i];
    }
    return FromQString(shown);
}

} // namespace

bool TMainForm::OpenStartCatalog()
{
    std::string folder = DataFolder;
    std::string name = CatalogName;
    // What each table must be: the file table's kind, then the disc table's.
    const TOpenTableOptions kinds[] = {FileTableOpenOptions(false), DiscTableOpenOptions(false)};
    for (;;) {
        std::string text;
        std::vector<std::string> damaged; // the files a restore would replace
        std::vector<const TOpenTableOptions *> damagedKinds;
        bool canRestore = false, canReadOnly = false;
        const std::string badName = CheckCatalogName(name);
        if (!badName.empty()) {
            // A name no file can have (a settings file edited by hand): only
            // another catalogue or leaving is possible.
            text = Text3("The archive name \"" + name + "\" taken from the settings cannot be used. ",
                         "Názov archívu \"" + name + "\" z nastavení sa nedá použiť. ",
                         "Název archivu \"" + name + "\" z nastavení nelze použít. ") +
                   badName +
                   Text3("\n\nWhat do you want to do?", "\n\nČo chcete urobiť?", "\n\nCo chcete udělat?");
        } else {
            const std::string filePath = FileTablePath(folder, name);
            const std::string discPath = DiscTablePath(folder, name);
            std::string openError;
            // A change cut off between its files is finished before the files are
            // looked at: it may be the one that makes a missing table (both tables'
            // changes lie in the journal of the catalogue's folder). One that
            // cannot be finished is told by the open below.
            std::string unfinished;
            FinishFileCommitsAndReport(filePath, unfinished);
            std::error_code ec;
            // The usual way first; the files are read once more only when it fails.
            if (fs::exists(filePath, ec) && fs::exists(discPath, ec) && OpenCatalog(folder, name, &openError))
                return true;
            const TTableCheck checks[] = {CheckTableFile(filePath, &kinds[0]), CheckTableFile(discPath, &kinds[1])};
            if (checks[0].readable && checks[1].readable && openError.empty() && OpenCatalog(folder, name, &openError))
                return true;
            // Both files missing and nothing to restore: a catalogue that is gone
            // rather than damaged. Made again empty only when the user says so.
            const bool gone = !checks[0].exists && !checks[1].exists;
            if (gone && !BackupReadable(filePath, nullptr, &kinds[0]) && !BackupReadable(discPath, nullptr, &kinds[1]) &&
                openError.empty()) {
                const std::string yes = "\n\n" + ShownButtonText(QDialogButtonBox::Yes) + ": ";
                const std::string no = "\n" + ShownButtonText(QDialogButtonBox::No) + ": ";
                const std::string cancel = "\n" + ShownButtonText(QDialogButtonBox::Cancel) + ": ";
                const PromptResult answer = Prompt::Current().Show(
                    ToQString(Text3("The archive \"" + name + "\" named in the settings does not exist: neither " +
                                        filePath + " nor " + discPath + " is there." + yes +
                                        "create it now, empty, under this name." + no + "choose what to do instead." +
                                        cancel + "exit without changing anything.",
                                    "Archív \"" + name + "\" uvedený v nastaveniach neexistuje: nie je tam ani " +
                                        filePath + ", ani " + discPath + "." + yes +
                                        "vytvoriť ho teraz prázdny pod týmto názvom." + no +
                                        "vybrať, čo urobiť namiesto toho." + cancel + "skončiť bez akejkoľvek zmeny.",
                                    "Archiv \"" + name + "\" uvedený v nastavení neexistuje: není tam ani " + filePath +
                                        ", ani " + discPath + "." + yes + "vytvořit jej nyní prázdný pod tímto názvem." +
                                        no + "vybrat, co udělat místo toho." + cancel +
                                        "ukončit bez jakékoli změny.")),
                    QString(), PromptButtons::YesNoCancel, PromptIcon::Warning, PromptResult::Yes);
                if (answer == PromptResult::Cancel)
                    return false;
                if (answer == PromptResult::Yes) {
                    if (OpenCatalog(folder, name, &openError))
                        return true;
                }
            }

            text = Text3("The archive \"" + name + "\" cannot be opened. Its files are left as they are:\n",
                                     "Archív \"" + name + "\" sa nedá otvoriť. Jeho súbory zostávajú, ako sú:\n",
                                     "Archiv \"" + name + "\" nelze otevřít. Jeho soubory zůstávají, jak jsou:\n");
            for (size_t i = 0; i < 2; ++i) {
                const TTableCheck &c = checks[i];
                if (c.readable)
                    continue;
                damaged.push_back(c.file);
                damagedKinds.push_back(&kinds[i]);
                text += "\n" + c.file + ": " + c.reason;
            }
            if (damaged.empty() && !openError.empty())
                text += "\n" + openError;
            canRestore = !damaged.empty();
            std::string restoreNote = Text3("The backup would be put in place: ", "Záloha by sa dala na miesto: ",
                                            "Záloha by se dala na místo: ");
            for (size_t i = 0; i < damaged.size(); ++i) {
                const std::string &f = damaged[i];
                // Read once: whether it can be used, what it holds and when it
                // was made, so an old one is not taken blindly.
                const TTableCheck backup = CheckTableFile(BackupPathOf(f), damagedKinds[i]);
                if (!backup.readable) {
                    canRestore = false;
                    text += "\n" + Text3("Its backup ", "Jeho záloha ", "Jeho záloha ") + backup.file + ": " +
                            backup.reason;
                    continue;
                }
                const bool present = fs::exists(fs::symlink_status(f));
                const QDateTime saved = QFileInfo(ToQString(backup.file)).lastModified();
                restoreNote += (i ? "; " : "") + FileName(backup.file) + " [" + std::to_string(backup.records) + " " +
                               Text3("records", "záznamov", "záznamů") + ", " +
                               FromQString(saved.toString(QStringLiteral("yyyy-MM-dd hh:mm"))) + "] -> " + FileName(f) +
                               (present ? Text3(" (the damaged file is kept as ", " (poškodený súbor sa ponechá ako ",
                                                " (poškozený soubor se ponechá jako ") +
                                              FileName(DamagedKeepName(f)) + ")"
                                        : std::string());
            }
            if (canRestore)
                text += "\n\n" + restoreNote;
            text += Text3("\n\nWhat do you want to do?", "\n\nČo chcete urobiť?", "\n\nCo chcete udělat?");
            canReadOnly = checks[0].exists || checks[1].exists;
        }
        int choice = TCatalogProblemForm::Exit;
        {
            TCatalogProblemForm form(this, text, canRestore, canReadOnly);
            choice = ExecModal(form);
        }
        std::string error;
        switch (choice) {
        case TCatalogProblemForm::Restore: {
            std::string kept, done;
            bool ok = true;
            for (size_t i = 0; i < damaged.size(); ++i) {
                const std::string &f = damaged[i];
                if (!RestoreTableFromBackup(f, &kept, &error, damagedKinds[i])) {
                    ShowError(error);
                    ok = false;
                    break;
                }
                if (!kept.empty())
                    done += "\n" + f + " -> " + kept;
            }
            if (ok && !done.empty())
                Prompt::Current().Show(ToQString(Text3("Restored from the backup. The damaged files are kept:",
                                                       "Obnovené zo zálohy. Poškodené súbory sú ponechané:",
                                                       "Obnoveno ze zálohy. Poškozené soubory jsou ponechány:") +
                                                 done),
                                       QString(), PromptButtons::Ok, PromptIcon::Information);
            break; // checked and opened again
        }
        case TCatalogProblemForm::ReadOnly:
            if (OpenCatalogReadOnly(folder, name, &error))
                return true;
            ShowError(error);
            break;
        case TCatalogProblemForm::Other: {
            QFileDialog dialog(this, ToQString(Text3("Open archive", "Otvoriť archív", "Otevřít archiv")),
                               ToQString(DataFolder), QStringLiteral("*.d"));
            dialog.setFileMode(QFileDialog::ExistingFile);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setOption(QFileDialog::DontUseNativeDialog, true);
            if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                break;
            const QFileInfo chosen(dialog.selectedFiles().first());
            const std::string file = FromQString(chosen.fileName());
            if (file.size() < 3 || file.compare(file.size() - 2, 2, ".d") != 0) {
                ShowError(FromQString(chosen.filePath()) + ": " +
                          Text3("not an archive file (.d)", "nie je súbor archívu (.d)", "není soubor archivu (.d)"));
                break;
            }
            folder = FromQString(chosen.absolutePath());
            name = file.substr(0, file.size() - 2);
            break; // the chosen one is checked like the first
        }
        case TCatalogProblemForm::New: {
            // The dialog opens the new catalogue itself; the start goes on
            // with it (no views to rebuild yet).
            const bool firstRun = FirstRun;
            FirstRun = true;
            TNewDataForm newData(this);
            const int result = ExecModal(newData);
            FirstRun = firstRun;
            if (result == QDialog::Accepted && HasCatalog())
                return true;
            break;
        }
        default:
            return false;
        }
    }
}
