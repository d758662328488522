// The search in every catalogue of the data folder: the find-all button and
// menu, the catalogues read one after the other with the same criteria, and
// the result table that keeps what was listed.
#include "app/Main.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>

#include <algorithm>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "app/catalog/CatalogTables.h"
#include "app/search/SearchListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "widgets/StatusBarCont.h"

namespace {

// The status text before the catalogues a search of all could not read.
std::string SkippedText()
{
    switch (langunit::CurrentLanguage()) {
    case langunit::LangEnglish: return "Could not be read:";
    case langunit::LangCzech: return "Nelze přečíst:";
    default: return "Nepodarilo sa prečítať:";
    }
}

// The result table: the scan table's fields, with room for any text a
// catalogue of any layout holds.
std::unique_ptr<TExMemoryData> MakeFindAllResultTable()
{
    auto t = std::make_unique<TExMemoryData>();
    t->Name = "FindAllResult";
    for (const TFieldLayout &f : ScanTableLayout())
        t->CreateField(f.name, f.type, f.type == ftString ? std::max(f.size, 4096) : f.size);
    t->Open();
    return t;
}

// The closing steps of a search of all catalogues, run however it ends.
class TFindAllClosing {
public:
    explicit TFindAllClosing(TMainForm &form) : form_(form), caption_(form.windowTitle()) {}
    ~TFindAllClosing()
    {
        form_.FindAllSource.reset();
        try {
            form_.FindAllTable.reset();
        } catch (...) {
        }
        if (form_.ProgressBar1)
            form_.ProgressBar1->hide();
        form_.setWindowTitle(caption_);
        form_.Search.Table = nullptr;
        form_.Search.Flag = false;
    }

private:
    TMainForm &form_;
    QString caption_;
    HourglassCursor hourglass_;
};

} // namespace

std::vector<std::string> TMainForm::CatalogFilesOf(const std::string &folder)
{
    std::vector<std::string> files;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string &name : CatalogNamesIn(folder))
        files.push_back(base + name + ".d");
    // Name order, so that which catalogues are listed before the limit is
    // reached does not depend on how the file system keeps the folder.
    std::sort(files.begin(), files.end(),
              [](const std::string &a, const std::string &b) { return CompareNamesFoldAZ(a, b) < 0; });
    return files;
}

void TMainForm::FindAllButtonClick()
{
    if (ui->FindAllButton->isChecked()) {
        ui->ComboBox2->setCurrentIndex(0);
        ui->ComboBox2->setEnabled(false);
        ui->FindButton->setChecked(false);
        ui->Panel2->show();
        ui->FindMenu->setChecked(false);
        ui->FindAllMenu->setChecked(true);
        ui->Edit1->clear();
        ui->Edit1->setFocus();
        TStatusBarCont *bar = ui->StatusBar1;
        bar->SetPanelText(0, QStringLiteral(" ") + ui->ComboBox2->currentText());
        bar->SetPanelText(1, QStringLiteral(" "));
        bar->SetPanelText(2, QStringLiteral(" ") + L(62) + QStringLiteral(" : "));
        bar->update();
        ui->InfoPanel->hide();
        FindAllResultTable = MakeFindAllResultTable();
        FindAllResultCatalogs.clear();
    } else {
        ui->ComboBox2->setEnabled(true);
        ui->Panel2->hide();
        ui->Panel5->hide();
        ui->FindAllMenu->setChecked(false);
        ui->SearchView->clear();
        TStatusBarCont *bar = ui->StatusBar1;
        bar->SetPanelText(0, ToQString(" " + Browse.WorkDiscName));
        bar->SetPanelText(1, QStringLiteral(" "));
        bar->SetPanelText(2, ToQString(" " + Browse.FileCountText + " " + langunit::LangString(54) + " - " +
                                       Browse.DiscSizeText));
        bar->SetPanelText(3, QString());
        bar->update();
        FindAllResultTable.reset();
        FindAllResultCatalogs.clear();
        TFileListView *list = ui->LinksListView;
        list->ActiveView()->setFocus();
        if (list->Count() > 0)
            list->SelectRow(0);
        if (InfoPanelFlag == 1) {
            const QSignalBlocker block(ui->ShowInfoButton);
            ui->ShowInfoButton->setChecked(true);
            ShowInfoButtonClick();
        }
    }
}

void TMainForm::FindAllMenuClick()
{
    ui->FindAllButton->setChecked(ui->FindAllMenu->isChecked());
    FindAllButtonClick();
}

void TMainForm::FindAll()
{
    bool goOn = true;
    Search.ProgressCounter = 0;
    TFindAllClosing closing(*this);
    ui->SearchView->clear();
    FindAllSkipped.clear();
    if (!FindAllResultTable)
        FindAllResultTable = MakeFindAllResultTable();

    const std::vector<std::string> catalogs = CatalogFilesOf(DataFolder);
    FindAllTable = std::make_unique<TFlatTable>();
    FindAllTable->Name = "FindAllTable";
    FindAllSource = std::make_unique<TDataSource>(FindAllTable.get());
    Search.Flag = true;
    Search.Table = FindAllTable.get();
    FindAllTable->SetOnFilterRecord(SearchFilterMethod(ui->CheckBox1->isChecked(), false, false));
    SetSearchCriteria(FindAllTable.get());

    std::int64_t total = 0;
    for (const std::string &file : catalogs) {
        if (!goOn)
            break;
        const std::string name = PathExtractFileNameWithoutExtension(file);
        Search.ProgressCounter = 0;
        // A catalogue that cannot be read (damaged, a folder so named) is
        // skipped and named afterwards; the others are still searched.
        try {
            FindAllTable->Close();
            FindAllTable->SetTableName(file);
            FindAllTable->Open();
            FindAllTable->SetFiltered(false);
        } catch (const std::exception &) {
            FindAllSkipped.push_back(name);
            continue;
        }
        Search.ProgressStep = FindAllTable->RecordCount() / 100;
        ProgressBar1->setValue(0);
        ProgressBar1->show();
        Search.NameText = TrimMask(FromQString(ui->Edit1->text()));
        Search.NoteText = TrimMask(FromQString(ui->Edit3->text()));
        setWindowTitle(QStringLiteral("Orbalist  - ") + L(63) + QStringLiteral("  : ") + ToQString(name));
        Search.SearchedCatalog = name;
        PrepareSearchPass(*FindAllTable);
        try {
            FindAllTable->SetFiltered(true);
        } catch (const std::exception &) {
            FindAllSkipped.push_back(name);
            FindAllTable->Close();
            continue;
        }
        total += FindAllTable->RecordCount();
        if (total > SearchLimit) {
            Prompt::Current().Show(L(61));
            goOn = false;
        } else if (total >= 1) {
            // A running total at the limit is listed, like one below it.
            LoadFilterTable(*FindAllTable);
            const int added = FindAllResultTable->LoadFromDataSet(*FindAllTable, 0, true);
            FindAllResultCatalogs.insert(FindAllResultCatalogs.end(), static_cast<size_t>(added), name);
            ProgressBar1->setValue(0);
            ui->SearchView->repaint();
        }
        FindAllTable->SetFiltered(false);
        FindAllTable->Close(); // nothing is written back
    }

    ShowSearchNotice(total > 0 ? L(58) + QStringLiteral(" :  ") + QString::number(total) + QStringLiteral(". ") + L(59)
                               : L(60));
    TStatusBarCont *bar = ui->StatusBar1;
    bar->SetPanelText(2, QStringLiteral(" ") + L(62) + QStringLiteral(" : ") + QString::number(total));
    if (!FindAllSkipped.empty()) {
        std::string names;
        for (const std::string &n : FindAllSkipped)
            names += (names.empty() ? " " : ", ") + n;
        bar->SetPanelText(3, ToQString(" " + SkippedText() + names));
    }
    bar->update();
}
