#include "app/print/selunit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/catalog/CatalogTables.h"
#include "app/browse/FileListModel.h"
#include "app/browse/FileListView.h"
#include "app/LangUnit.h"
#include "app/search/SearchCriteria.h"
#include "app/Main.h"
#include "app/print/report.h"
#include "app/print/report_cd.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "storage/ExMemDS.h"
#include "ui_MainForm.h"
#include "ui_PrintPrepareForm.h"

namespace {

// A text in the three languages (English, Slovak, Czech).
struct TText3 {
    const char *text[3];
    QString Get() const
    {
        const int l = langunit::CurrentLanguage();
        return QString::fromUtf8(text[l >= 0 && l <= 2 ? l : 1]);
    }
};

const TText3 kSources[7] = {
    {{"Current CD", "Aktuálne CD", "Aktuální CD"}},
    {{"Current directory", "Aktuálny adresár", "Aktuální adresář"}},
    {{"Current directory+subdir.", "Aktuálny adresár+podadres.", "Aktuálny adresář+podadres."}},
    {{"Only directories", "Len adresáre", "Jenom adresáře"}},
    {{"Search result", "Výsledky hľadania", "Výsledky hledání"}},
    {{"Manual selection", "Manuálny výber", "Manuální výběr"}},
    {{"All music CD", "Všetky hudobné CD", "Všechna hudební CD"}},
};

const TText3 kFileTypes[7] = {
    {{"All files", "Všetko", "Všechno"}},
    {{"Programs - exe, com, bat)", "Programy - exe, com, bat)", "Programy - exe, com, bat)"}},
    {{"Pictures - bmp, jpg, gif, pcx ...", "Obrázky - bmp, jpg, gif, pcx ...", "Obrázky - bmp, jpg, gif, pcx ..."}},
    {{"Music, sounds - mid, wav, cda)", "Hudba, zvuky - mid, wav, cda)", "Hudba, zvuky - mid, wav, cda)"}},
    {{"Dokuments - doc, rtf, pdf)", "Dokumenty - doc, rtf, pdf)", "Dokumenty - doc, rtf, pdf)"}},
    {{"Web-pages -  htm, html)", "Web-stránky -  htm, html)", "Web-stránky -  htm, html)"}},
    {{"User define filter", "Užívateľom definovaný filter", "Uživatelem definovaný filtr"}},
};

const TText3 kLabel1 = {{
    "Choose data source from which the report. If you want select needs data manually, choose \"Manual "
    "Selection\"",
    "Vyberte údaje pre tlač zostavy. V prípade, že chcete údaje vybrať ručne, zvoľte \"Manuálny výber\"",
    "Vyberte údaje pro tisk sestavy. V případě, že chcete údaje vybrat ručně, zvolte \"Manuální výběr\"",
}};
const TText3 kLabel2 = {{
    "Select file type which you want print. In the event that you want select different file type, choose \" "
    "User define filter\", and write into window your filter.",
    "Vyberte typ súborov, ktoré chcete tlačiť. V prípade, že chcete vybrať iný typ súborov, zvoľte "
    "\"Užívateľom definovaný filter\", a do okienka vpíšte váš filter",
    "Vyberte typ souborů, které chcete tisknout. V případě, že chcete vybrat jiný typ souborů, zvolte "
    "\"Uživatelem definovaný filtr\", a do editačního pole vpište váš filtr",
}};
const TText3 kRadioGroup3 = {{"Report type", "Typ zostavy", "Typ zostavy"}};
const TText3 kReportTypes[2] = {
    {{"Data CD", "Dátové CD", "Datové CD"}},
    {{"Music CD", "Hudobné CD", "Hudební CD"}},
};
const TText3 kLabel4 = {{"Filter", "Filter", "Filtr"}};
const TText3 kLabel3 = {{"File count for printing :", "Počet súborov pre tlač :", "Počet souború pro tisk :"}};
const TText3 kCaption = {{"Print report wizard", "Sprievodca tlačou ", "Průvodce tiskem"}};

int IntField(TDataSet *dataSet, const char *name)
{
    TField *f = dataSet ? dataSet->FindField(name) : nullptr;
    if (!f || f->IsNull())
        return -1;
    const std::int64_t v = f->AsLargeInt();
    return v < INT32_MIN || v > INT32_MAX ? -1 : static_cast<int>(v);
}

// Switches a data set to the record filter `filter`, re-filtering it at once.
void ApplyFilter(TDataSet &dataSet, TDataSet::TFilterRecordEvent filter)
{
    dataSet.SetFiltered(false);
    dataSet.SetOnFilterRecord(std::move(filter));
    dataSet.SetFiltered(true);
}

// Filters a data set with `filter` for the life of the object; its own record
// filter and on/off state come back when it goes.
class TScopedFilter {
public:
    TScopedFilter(TDataSet &dataSet, TDataSet::TFilterRecordEvent filter) : saved_(dataSet)
    {
        ApplyFilter(dataSet, std::move(filter));
    }

private:
    TSavedFilter saved_;
};

} // namespace

// ---- free helpers

std::string PrintFolderOf(const std::string &fullName)
{
    const size_t slash = fullName.rfind('\\');
    return slash == std::string::npos ? std::string() : fullName.substr(0, slash + 1);
}

TPrintRow PrintRowOfFileRow(const TFileRow &row)
{
    return PrintRowOfListRow(row, row.FullName);
}

std::unique_ptr<TExMemoryData> MakeReportTable()
{
    auto t = std::make_unique<TExMemoryData>();
    t->Name = "ReportTable";
    t->SetCapacity(250);
    static const TFieldLayout layout[] = {
        {"Path", ftString, 1024},     {"Namecd", ftString, 50},     {"Number", ftString, 20},
        {"Size", ftString, 20},       {"Attrib", ftInteger, 0},     {"Icon", ftBlob, 0},
        {"CreateDate", ftString, 20}, {"LastChange", ftString, 20}, {"Type", ftInteger, 0},
        {"Name", ftString, 255},      {"Note", ftString, 50},
    };
    for (const TFieldLayout &f : layout)
        t->CreateField(f.name, f.type, f.size);
    return t;
}

void AppendPrintRow(TDataSet &table, const TPrintRow &row)
{
    table.Append();
    try {
        table.FieldByName("Path").SetAsString(row.Path);
        table.FieldByName("Namecd").SetAsString(row.Namecd);
        table.FieldByName("Number").SetAsString(row.Number);
        table.FieldByName("Size").SetAsString(row.Size);
        table.FieldByName("Attrib").SetAsInteger(row.Attrib);
        table.FieldByName("CreateDate").SetAsString(row.CreateDate);
        table.FieldByName("LastChange").SetAsString(row.LastChange);
        table.FieldByName("Type").SetAsInteger(row.Type);
        table.FieldByName("Name").SetAsString(row.Name);
        table.Post();
    } catch (...) {
        table.Cancel();
        throw;
    }
}

int CountReportRows(TDataSet &table)
{
    if (!table.Active())
        return 0;
    int count = 0;
    table.DisableControls();
    try {
        for (table.First(); !table.Eof(); table.Next())
            ++count;
    } catch (...) {
        table.EnableControls();
        throw;
    }
    table.EnableControls();
    return count;
}

// ---- the grid's model

TReportGridModel::TReportGridModel(TDataSet *table, QObject *parent) : QAbstractTableModel(parent), table_(table)
{
}

int TReportGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TReportGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

bool TReportGridModel::GoToRow(int row) const
{
    if (!table_ || !table_->Active() || row < 0 || row >= static_cast<int>(rows_.size()))
        return false;
    const TBookmark &b = rows_[static_cast<size_t>(row)];
    if (!table_->BookmarkValid(b))
        return false;
    table_->GotoBookmark(b);
    return true;
}

QVariant TReportGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole) || index.column() < 0 ||
        index.column() > 2)
        return {};
    try {
        if (table_->State() != dsBrowse || !GoToRow(index.row()))
            return {};
        TField *f = table_->FindField(FieldNames[index.column()]);
        return f ? QVariant(ToQString(f->AsString())) : QVariant();
    } catch (const std::exception &) {
        return {};
    }
}

bool TReportGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.column() < 0 || index.column() > 2)
        return false;
    try {
        if (!GoToRow(index.row()))
            return false;
        table_->Edit();
        try {
            table_->FieldByName(FieldNames[index.column()]).SetAsString(FromQString(value.toString()));
            table_->Post();
        } catch (...) {
            table_->Cancel();
            throw;
        }
    } catch (const std::exception &e) {
        Prompt::Current().Show(ToQString(e.what()), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

QVariant TReportGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < titles_.size())
        return titles_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TReportGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void TReportGridModel::SetTitles(const QStringList &titles)
{
    titles_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, 2);
}

void TReportGridModel::Refresh()
{
    beginResetModel();
    rows_.clear();
    if (table_ && table_->Active()) {
        table_->DisableControls();
        try {
            for (table_->First(); !table_->Eof(); table_->Next())
                rows_.push_back(table_->GetBookmark());
            table_->First();
        } catch (...) {
            rows_.clear();
        }
        table_->EnableControls();
    }
    endResetModel();
}

void TReportGridModel::DeleteRow(int row)
{
    if (!GoToRow(row))
        return;
    table_->Delete();
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

// ---- the grid

bool TDBGrid::DeleteCurrentRow()
{
    auto *grid = qobject_cast<TReportGridModel *>(model());
    const int row = currentIndex().row();
    if (!grid || row < 0 || row >= grid->rowCount())
        return false;
    // The grid's own question, as the data grid always asks it.
    if (Prompt::Current().Show(QStringLiteral("Delete record?"), ToQString(langunit::LangString(34)),
                               PromptButtons::YesNo, PromptIcon::Question, PromptResult::No) != PromptResult::Yes)
        return false;
    try {
        grid->DeleteRow(row);
    } catch (const std::exception &e) {
        Prompt::Current().Show(ToQString(e.what()), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
        return false;
    }
    return true;
}

void TDBGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && state() != QAbstractItemView::EditingState) {
        DeleteCurrentRow();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool TDBGrid::Accepts(QObject *source) const
{
    return source && source != this && qobject_cast<QAbstractItemView *>(source) != nullptr;
}

void TDBGrid::dragEnterEvent(QDragEnterEvent *event)
{
    if (Accepts(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TDBGrid::dragMoveEvent(QDragMoveEvent *event)
{
    if (Accepts(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TDBGrid::dropEvent(QDropEvent *event)
{
    if (!Accepts(event->source())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (OnDragDrop)
        OnDragDrop(event->source());
}

// ---- the wizard

TPrintPrepareForm::TPrintPrepareForm(TMainForm *main)
    : QDialog(main), ui(new Ui::TPrintPrepareForm), ReportTable(MakeReportTable()), main_(main)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setModal(false);
    if (main)
        main->PaintDialog(this, {ui->RadioGroup1, ui->RadioGroup2, ui->RadioGroup3, ui->Label1, ui->Label2});

    // The filters' parts, upper-cased as the names will be.
    const std::vector<std::vector<const char *>> parts = {
        {".exe", ".com", ".bat"},
        {".bmp", ".jpg", ".gif", ".wmf", ".dib", ".pcx", ".tif", ".ico", ".jpeg"},
        {".mid", ".wav", ".cda"},
        {".doc", ".rtf", ".pdf"},
        {".htm", ".html"},
    };
    for (size_t i = 0; i < parts.size(); ++i)
        for (const char *part : parts[i])
            filterParts_[i].push_back(upper_(part));

    ReportSource.SetDataSet(ReportTable.get());
    ReportTable->Open();
    nameField_ = ReportTable->FindField("Name");

    RadioGroup1Items = new QButtonGroup(this);
    QRadioButton *sources[] = {ui->RadioGroup1Item0, ui->RadioGroup1Item1, ui->RadioGroup1Item2,
                               ui->RadioGroup1Item3, ui->RadioGroup1Item4, ui->RadioGroup1Item5,
                               ui->RadioGroup1Item6};
    for (int i = 0; i < 7; ++i)
        RadioGroup1Items->addButton(sources[i], i);
    RadioGroup2Items = new QButtonGroup(this);
    QRadioButton *types[] = {ui->RadioGroup2Item0, ui->RadioGroup2Item1, ui->RadioGroup2Item2,
                             ui->RadioGroup2Item3, ui->RadioGroup2Item4, ui->RadioGroup2Item5,
                             ui->RadioGroup2Item6};
    for (int i = 0; i < 7; ++i)
        RadioGroup2Items->addButton(types[i], i);
    RadioGroup3Items = new QButtonGroup(this);
    RadioGroup3Items->addButton(ui->RadioGroup3Item0, 0);
    RadioGroup3Items->addButton(ui->RadioGroup3Item1, 1);

    GridModel = new TReportGridModel(ReportTable.get(), this);
    ui->DBGrid1->setModel(GridModel);
    ui->DBGrid1->setAcceptDrops(true);
    ui->DBGrid1->viewport()->setAcceptDrops(true);
    ui->DBGrid1->setDropIndicatorShown(false);
    ui->DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
    ui->DBGrid1->verticalHeader()->setDefaultSectionSize(20);
    ui->DBGrid1->verticalHeader()->setVisible(false);
    ui->DBGrid1->setColumnWidth(0, 145);
    ui->DBGrid1->setColumnWidth(1, 147);
    ui->DBGrid1->setColumnWidth(2, 35);
    ui->DBGrid1->OnDragDrop = [this](QObject *source) {
        try {
            DBGrid1DragDrop(source);
        } catch (const std::exception &e) {
            Prompt::Current().Show(ToQString(e.what()), QString(), PromptButtons::Ok, PromptIcon::Error);
        }
    };
    connect(GridModel, &QAbstractItemModel::rowsRemoved, this, [this] {
        ui->Label5->setText(QString::number(GridModel->rowCount()));
    });

    auto guarded = [this](void (TPrintPrepareForm::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception &e) {
                Prompt::Current().Show(ToQString(e.what()), QString(), PromptButtons::Ok, PromptIcon::Error);
            }
        };
    };
    connect(ui->Button1, &QPushButton::clicked, this, guarded(&TPrintPrepareForm::Button1Click));
    connect(ui->Button2, &QPushButton::clicked, this, guarded(&TPrintPrepareForm::Button2Click));
    connect(ui->BitBtn1, &QPushButton::clicked, this, guarded(&TPrintPrepareForm::BitBtn1Click));
    connect(ui->BitBtn2, &QPushButton::clicked, this, guarded(&TPrintPrepareForm::BitBtn2Click));
    connect(RadioGroup1Items, &QButtonGroup::idClicked, this, guarded(&TPrintPrepareForm::RadioGroup1Click));
    connect(RadioGroup2Items, &QButtonGroup::idClicked, this, guarded(&TPrintPrepareForm::RadioGroup2Click));
    if (main)
        connect(main, &TMainForm::CatalogChanged, this, &TPrintPrepareForm::CatalogChanged);

    ui->PageControl1->setCurrentIndex(0);
    ui->Button2->setEnabled(false);
    FormShow();
}

TPrintPrepareForm::~TPrintPrepareForm()
{
    ui->DBGrid1->setModel(nullptr);
    delete GridModel;
    GridModel = nullptr;
    ReportSource.SetDataSet(nullptr);
    delete ui;
}

void TPrintPrepareForm::FormShow()
{
    using langunit::LangString;
    ui->BitBtn2->setText(ToQString(LangString(16)));
    ui->BitBtn1->setText(ToQString(LangString(86)));
    ui->Button2->setText(QStringLiteral("< ") + ToQString(LangString(87)));
    ui->Button1->setText(ToQString(LangString(88) + " >"));
    ui->RadioGroup1->setTitle(QLatin1Char(' ') + ToQString(LangString(89)) + QStringLiteral(" : "));
    ui->RadioGroup2->setTitle(QLatin1Char(' ') + ToQString(LangString(89)) + QStringLiteral(" : "));
    GridModel->SetTitles({ToQString(LangString(46)), ToQString(LangString(52)), ToQString(LangString(51))});
    for (int i = 0; i < 7; ++i) {
        RadioGroup1Items->button(i)->setText(kSources[i].Get());
        RadioGroup2Items->button(i)->setText(kFileTypes[i].Get());
    }
    ui->Label1->setText(kLabel1.Get());
    ui->Label2->setText(kLabel2.Get());
    ui->RadioGroup3->setTitle(kRadioGroup3.Get());
    RadioGroup3Items->button(0)->setText(kReportTypes[0].Get());
    RadioGroup3Items->button(1)->setText(kReportTypes[1].Get());
    ui->Label4->setText(kLabel4.Get());
    ui->Label3->setText(kLabel3.Get());
    setWindowTitle(kCaption.Get());
    RadioGroup3Items->button(0)->setChecked(true);
    RadioGroup2Items->button(0)->setChecked(true);
}

int TPrintPrepareForm::SourceIndex() const
{
    return RadioGroup1Items->checkedId();
}

int TPrintPrepareForm::FileTypeIndex() const
{
    return RadioGroup2Items->checkedId();
}

int TPrintPrepareForm::ReportTypeIndex() const
{
    return RadioGroup3Items->checkedId();
}

int TPrintPrepareForm::PageIndex() const
{
    return ui->PageControl1->currentIndex();
}

void TPrintPrepareForm::LoadFrom(TDataSet *source)
{
    if (!source || !source->Active())
        return; // nothing to print: the report is empty
    // The main window's table keeps its current record.
    const TBookmark mark = source->GetBookmark();
    ReportTable->LoadFromDataSet(*source, 0, true);
    if (!mark.empty() && source->BookmarkValid(mark))
        source->GotoBookmark(mark);
}

void TPrintPrepareForm::SetCountLabel()
{
    GridModel->Refresh();
    ui->Label5->setText(QString::number(CountReportRows(*ReportTable)));
}

void TPrintPrepareForm::UseFilter(TDataSet::TFilterRecordEvent filter)
{
    ApplyFilter(*ReportTable, std::move(filter));
}

void TPrintPrepareForm::Button1Click()
{
    TMainForm *m = main_;
    switch (PageIndex()) {
    case 0: {
        const int source = SourceIndex();
        if (source < 0)
            return;
        TFlatTable *files = m && m->FlatTable1 && m->FlatTable1->Active() ? m->FlatTable1.get() : nullptr;
        TFlatTable *work = m && m->WorkTable && m->WorkTable->Active() ? m->WorkTable.get() : nullptr;
        // "Current CD" and "Only directories" print the disc shown, not
        // what the last search left in the file table.
        if (source == 0 || source == 3)
            files = m ? m->CurrentDiscFileTable() : nullptr;
        switch (source) {
        case 0:
            LoadFrom(files);
            break;
        case 1:
            LoadFrom(work);
            break;
        case 2:
            if (work) {
                TScopedFilter scope(*work, [m](TDataSet *d, bool &accept) {
                    m->PrintExmemoryDataFilterRecord(d, accept);
                });
                LoadFrom(work);
            }
            break;
        case 3:
            LoadFrom(files);
            UseFilter([this](TDataSet *d, bool &accept) { PrintDirExmemoryDataFilterRecord(d, accept); });
            break;
        case 4:
            LoadSearch();
            break;
        case 5:
            break;
        case 6:
            if (files) {
                TScopedFilter scope(*files, [this](TDataSet *d, bool &accept) {
                    PrintMusicExmemoryDataFilterRecord(d, accept);
                });
                LoadFrom(files);
            }
            break;
        }
        if (source == 4 || source == 5) {
            // These rows skip the file-type step: a filter left from an
            // earlier pass would hide them.
            ReportTable->SetFiltered(false);
            ui->Button1->setText(ToQString(langunit::LangString(89)));
            ui->Button2->setEnabled(true);
            ui->PageControl1->setCurrentIndex(2);
            SetCountLabel();
        } else {
            GridModel->Refresh();
            ui->PageControl1->setCurrentIndex(1);
            ui->Button2->setEnabled(true);
        }
        return;
    }
    case 1: {
        ui->Button1->setText(ToQString(langunit::LangString(89)));
        if (!ReportTable->Active())
            ReportTable->Open();
        switch (FileTypeIndex()) {
        case 1:
            UseFilter([this](TDataSet *d, bool &a) { ExeFilterRecord(d, a); });
            break;
        case 2:
            UseFilter([this](TDataSet *d, bool &a) { PictureFilterRecord(d, a); });
            break;
        case 3:
            UseFilter([this](TDataSet *d, bool &a) { WaveFilterRecord(d, a); });
            break;
        case 4:
            UseFilter([this](TDataSet *d, bool &a) { DocFilterRecord(d, a); });
            break;
        case 5:
            UseFilter([this](TDataSet *d, bool &a) { WebFilterRecord(d, a); });
            break;
        case 6:
        {
            const std::string text = FromQString(ui->Edit1->text());
            userFilter_[0] = upper_(main_ ? main_->TrimMask(text) : TrimMaskText(text));
        }
            UseFilter([this](TDataSet *d, bool &a) { UserFilterRecord(d, a); });
            break;
        default:
            if (SourceIndex() != 3)
                ReportTable->SetFiltered(false);
            ui->Edit1->setEnabled(false);
            ui->Label4->setEnabled(false);
            break;
        }
        SetCountLabel();
        ui->PageControl1->setCurrentIndex(2);
        return;
    }
    default:
        ui->Button2->setEnabled(true);
        PrintReport();
        return;
    }
}

void TPrintPrepareForm::PrintReport()
{
    // The application steps aside while the preview runs.
    QWidget *window = main_ ? static_cast<QWidget *>(main_.data()) : nullptr;
    const Qt::WindowStates before = window ? window->windowState() : Qt::WindowNoState;
    auto restore = [&] {
        if (window && main_)
            window->setWindowState(before);
    };
    if (window)
        window->setWindowState(before | Qt::WindowMinimized);
    try {
        if (ReportTypeIndex() == 1) {
            TReportCdForm report;
            report.SetDataSet(ReportTable.get());
            report.Preview(this);
        } else {
            TReportForm report;
            report.SetDataSet(ReportTable.get());
            report.Preview(this);
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
    GridModel->Refresh();
}

void TPrintPrepareForm::Button2Click()
{
    const int page = PageIndex();
    if (page <= 0)
        return;
    if (page == 2)
        ui->Button1->setText(ToQString(langunit::LangString(88) + " >"));
    ui->PageControl1->setCurrentIndex(page - 1);
    if (page - 1 == 0)
        ui->Button2->setEnabled(false);
}

void TPrintPrepareForm::RadioGroup1Click()
{
    ui->Button1->setEnabled(true);
    if (ReportTable->Active() && ReportTable->RecordCount() > 0) {
        ReportTable->EmptyTable();
        GridModel->Refresh();
    }
}

void TPrintPrepareForm::RadioGroup2Click()
{
    const bool user = FileTypeIndex() == 6;
    ui->Edit1->setEnabled(user);
    ui->Label4->setEnabled(user);
}

void TPrintPrepareForm::BitBtn1Click()
{
    close();
}

void TPrintPrepareForm::BitBtn2Click()
{
    HelpService::ShowContext(ToQString(main_ ? main_->HelpFile : std::string("orbalist.hlp")), 19,
                             langunit::CurrentLanguage());
}

void TPrintPrepareForm::LoadSearch()
{
    ui->Button1->setText(ToQString(langunit::LangString(89)));
    if (!main_)
        return;
    for (const TPrintRow &row : main_->PrintSearchRows())
        AppendPrintRow(*ReportTable, row);
}

bool TPrintPrepareForm::DBGrid1DragOver(QObject *source) const
{
    return source && source != ui->DBGrid1 && qobject_cast<QAbstractItemView *>(source) != nullptr;
}

void TPrintPrepareForm::DBGrid1DragDrop(QObject *source)
{
    if (!DBGrid1DragOver(source) || !main_)
        return;
    std::optional<TPrintRow> row;
    auto *view = qobject_cast<QWidget *>(source);
    TFileListView *files = main_->ui ? main_->ui->LinksListView : nullptr;
    if (files && view && (view == files || files->isAncestorOf(view))) {
        if (const TFileRow *selected = files->SelectedRow())
            row = PrintRowOfFileRow(*selected);
    } else if (main_->IsSearchListView(source)) {
        row = main_->PrintSearchSelectedRow();
    }
    if (!row)
        return;
    AppendPrintRow(*ReportTable, *row);
    SetCountLabel();
}

bool TPrintPrepareForm::NameHasAny(TDataSet *DataSet, const std::vector<std::string> &upperParts) const
{
    TField *name = DataSet == ReportTable.get() ? nameField_ : (DataSet ? DataSet->FindField("Name") : nullptr);
    if (!name)
        return false;
    upper_.Into(name->AsString(), upperName_);
    for (const std::string &part : upperParts)
        if (!part.empty() && upperName_.find(part) != std::string::npos)
            return true;
    return false;
}

void TPrintPrepareForm::ExeFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = NameHasAny(DataSet, filterParts_[0]);
}

void TPrintPrepareForm::PictureFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = NameHasAny(DataSet, filterParts_[1]);
}

void TPrintPrepareForm::WaveFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = NameHasAny(DataSet, filterParts_[2]);
}

void TPrintPrepareForm::DocFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = NameHasAny(DataSet, filterParts_[3]);
}

void TPrintPrepareForm::WebFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = NameHasAny(DataSet, filterParts_[4]);
}

void TPrintPrepareForm::UserFilterRecord(TDataSet *DataSet, bool &Accept)
{
    // An empty filter text matches nothing.
    Accept = NameHasAny(DataSet, userFilter_);
}

void TPrintPrepareForm::PrintDirExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = IntField(DataSet, "Type") == 0;
}

void TPrintPrepareForm::PrintMusicExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    Accept = IntField(DataSet, "FType") == 2;
}

void TPrintPrepareForm::CatalogChanged()
{
    if (catalogCheckQueued_)
        return;
    catalogCheckQueued_ = true;
    // Decided once the main window has finished opening or closing.
    QTimer::singleShot(0, this, [this] {
        catalogCheckQueued_ = false;
        if (!main_ || !main_->HasCatalog()) {
            close();
            return;
        }
        // Rows of the catalogue that was open must not be printed as this
        // one's: start over on the first page.
        ReportTable->SetFiltered(false);
        ReportTable->EmptyTable();
        ui->Button1->setText(ToQString(langunit::LangString(88) + " >"));
        ui->Button2->setEnabled(false);
        ui->PageControl1->setCurrentIndex(0);
        SetCountLabel();
    });
}
