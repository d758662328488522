// The search in the open catalogue: the search panel's controls, the
// criteria read from them, the search button, the result list with its rows,
// clicks and keys, and the links of the result notice.
#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>

#include <functional>
#include <optional>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "app/search/SearchListView.h"
#include "platform/ExeIcon.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/ShellInfo.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "util/DateUtil.h"
#include "widgets/StatusBarCont.h"
#include "widgets/ToolEdit.h"

namespace {

// The fields a result row reads; a catalogue of another layout may lack some.
struct TResultFields {
    TField *Path, *Name, *Namecd, *Number, *Size, *Attrib, *Icon, *CreateDate, *LastChange, *Type, *Note, *FType,
        *LoadName, *CdIdCode;
    explicit TResultFields(TDataSet &t)
        : Path(t.FindField("Path")), Name(t.FindField("Name")), Namecd(t.FindField("Namecd")),
          Number(t.FindField("Number")), Size(t.FindField("Size")), Attrib(t.FindField("Attrib")),
          Icon(t.FindField("Icon")), CreateDate(t.FindField("CreateDate")), LastChange(t.FindField("LastChange")),
          Type(t.FindField("Type")), Note(t.FindField("Note")), FType(t.FindField("FType")),
          LoadName(t.FindField("LoadName")), CdIdCode(t.FindField("CdIdCode"))
    {
    }
};

std::string TextOf(const TField *f)
{
    return f ? f->AsString() : std::string();
}

// An integer field read without raising: a text or a value outside 32 bits
// gives `fallback`.
int IntOf(const TField *f, int fallback)
{
    if (!f)
        return fallback;
    const TVariant v = f->Value();
    if (const auto *i = std::get_if<std::int64_t>(&v))
        return *i < INT32_MIN || *i > INT32_MAX ? fallback : static_cast<int>(*i);
    if (const auto *s = std::get_if<std::string>(&v)) {
        try {
            return StrToIntText(*s);
        } catch (const ESearchConvertError &) {
            return fallback;
        }
    }
    return fallback;
}

// What the shell is asked about for a row: the extension of its full path,
// with "*" before it for a file, and its attributes.
std::string ShellKeyOf(const TSearchRow &row)
{
    const std::string ext = PathExtractExtension(row.FullPath);
    return row.Type > 0 ? "*" + ext : ext;
}

uint32_t ShellAttributesOf(const TSearchRow &row)
{
    auto attributes = static_cast<uint32_t>(row.Attrib);
    if (row.IsFolder())
        attributes |= kFileAttributeDirectory;
    return attributes;
}

bool IsProgramKey(const std::string &key)
{
    return key == "*.exe" || key == "*.EXE";
}

TSearchRow SearchRowOf(const TResultFields &f, const std::string &archive, ShellIconSize iconSize)
{
    TSearchRow row;
    row.Name = TextOf(f.Name);
    row.Number = TextOf(f.Number);
    row.Namecd = TextOf(f.Namecd);
    row.SizeTech = TextOf(f.Size);
    // 64 bits: files of 2 GiB and more keep their size.
    row.SizeText = FormatSize(SizeValue(row.SizeTech));
    row.LastChange = TextOf(f.LastChange);
    row.CreateDate = TextOf(f.CreateDate);
    row.Type = IntOf(f.Type, 1);
    row.FType = IntOf(f.FType, 0);
    row.Attrib = IntOf(f.Attrib, 0);
    const std::string loadName = TextOf(f.LoadName);
    row.FullPath = TextOf(f.Path) + (row.FType == 2 ? loadName : row.Name);
    row.Note = TextOf(f.Note);
    row.Archive = archive;
    row.LoadName = loadName.empty() ? "0" : loadName;
    const std::string id = TextOf(f.CdIdCode);
    row.CdIdCode = id.empty() ? "0" : id;

    // Icons and type names by name and attributes only.
    const std::string key = ShellKeyOf(row);
    ShellFileInfo info = ShellInfo::FileInfo(ToQString(key), ShellAttributesOf(row), iconSize);
    row.TypeName = std::move(info.typeName);
    row.Icon = std::move(info.icon);
    if (IsProgramKey(key) && f.Icon && !f.Icon->IsNull()) {
        const QByteArray stream = QByteArray::fromStdString(f.Icon->AsBytes());
        if (!stream.isEmpty() && IsIconStream(stream)) {
            const QIcon stored = IconFromIconStream(stream);
            if (!stored.isNull())
                row.Icon = stored;
        }
    }
    return row;
}

// Clicks on a label (the notice's links), turned into an action.
class TLabelClick : public QObject {
public:
    TLabelClick(QObject *parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease)
            action_();
        return false;
    }

private:
    std::function<void()> action_;
};

// Keys of the search panel: Enter in a search text starts the search;
// Escape ends the search; Backspace starts a new one from the notice (and
// from the name box while the notice is shown, where it would otherwise only
// delete a character of a search already made).
class TSearchKeys : public QObject {
public:
    TSearchKeys(TMainForm *form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        Ui::TMainForm *ui = form_->ui;
        const bool nameBox = watched == ui->Edit1;
        const bool noteBox = watched == ui->Edit3;
        if ((nameBox || noteBox) && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            ui->FilterButton->click();
            return true;
        }
        if (noteBox)
            return false;
        if (key == Qt::Key_Escape) {
            ui->SpeedButton4->click();
            return true;
        }
        if (key == Qt::Key_Backspace && (!nameBox || ui->Panel5->isVisible())) {
            ui->SpeedButton3->click();
            return true;
        }
        return false;
    }

private:
    TMainForm *form_;
};

void PrepareDateBoxes(Ui::TMainForm *ui);

} // namespace

void TMainForm::ConnectSearchHandlers()
{
    connect(ui->FindButton, &QToolButton::clicked, this, Guarded(&TMainForm::FindButtonClick));
    connect(ui->FindMenu, &QAction::triggered, this, Guarded(&TMainForm::FindMenuClick));
    connect(ui->FindAllButton, &QToolButton::clicked, this, Guarded(&TMainForm::FindAllButtonClick));
    connect(ui->FindAllMenu, &QAction::triggered, this, Guarded(&TMainForm::FindAllMenuClick));
    connect(ui->FilterButton, &QPushButton::clicked, this, Guarded(&TMainForm::FilterButtonClick));
    for (QRadioButton *b : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3, ui->RadioButton4, ui->RadioButton5})
        connect(b, &QRadioButton::toggled, this, Guarded(&TMainForm::RadioButton5Click));
    for (QRadioButton *b : {ui->RadioButton6, ui->RadioButton7, ui->RadioButton8, ui->RadioButton9, ui->RadioButton10})
        connect(b, &QRadioButton::toggled, this, Guarded(&TMainForm::RadioButton10Click));
    ui->SpeedButton1->setCheckable(true);
    ui->SpeedButton2->setCheckable(true);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, Guarded(&TMainForm::SpeedButton1Click));
    connect(ui->SpeedButton2, &QToolButton::clicked, this, Guarded(&TMainForm::SpeedButton2Click));
    connect(ui->SpeedButton3, &QToolButton::clicked, this, Guarded(&TMainForm::SpeedButton3Click));
    connect(ui->SpeedButton4, &QToolButton::clicked, this, Guarded(&TMainForm::SpeedButton4Click));
    ui->Label4->installEventFilter(new TLabelClick(ui->Label4, [this] { ui->SpeedButton3->click(); }));
    ui->Label5->installEventFilter(new TLabelClick(ui->Label5, [this] { ui->SpeedButton4->click(); }));
    connect(ui->ComboBox2, qOverload<int>(&QComboBox::activated), this, Guarded(&TMainForm::ComboBox2Change));

    auto *keys = new TSearchKeys(this);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->Edit1, ui->Edit3, ui->Panel5, ui->SpeedButton3,
                                                       ui->SpeedButton4, ui->BackSpeedButton})
        w->installEventFilter(keys);

    TSearchListView *list = ui->SearchView;
    connect(list, &TSearchListView::Clicked, this, Guarded(&TMainForm::SearchViewClick));
    connect(list, &TSearchListView::DoubleClicked, this, Guarded(&TMainForm::SearchViewDblClick));
    connect(list, &TSearchListView::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            RunGuarded([this] { SearchViewDblClick(); });
    });
    connect(list, &TSearchListView::KeyReleased, this, [this](int key) {
        if (key == Qt::Key_Up || key == Qt::Key_Down)
            RunGuarded([this] { ShowSearchNote(); });
    });

    // The entered size: the spin buttons step the number in the box.
    ui->UpDown2->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    connect(ui->UpDown2, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int value) { ui->Edit4->setText(QString::number(value)); });
    connect(ui->Edit4, &QLineEdit::textEdited, this, [this](const QString &text) {
        bool ok = false;
        const int value = text.trimmed().toInt(&ok);
        if (ok) {
            const QSignalBlocker block(ui->UpDown2);
            ui->UpDown2->setValue(value);
        }
    });

    PrepareDateBoxes(ui);

    // The result list shows the file list's view style; the rows are kept and
    // only their icons follow the size of the style.
    FollowViewStyleMenu(ui->SearchView);
    for (QAction *action : {ui->ListViewMenu, ui->IconViewMenu, ui->SmallIconViewMenu, ui->ReportViewMenu}) {
        connect(action, &QAction::triggered, this, [this, action] {
            if (!action->isChecked() || ui->SearchView->Count() == 0)
                return;
            RunGuarded([this] {
                if (ui->FindAllButton->isChecked() && FindAllResultTable && FindAllResultTable->Active()) {
                    LoadFindAllTable(*FindAllResultTable);
                } else if (ui->FindButton->isChecked()) {
                    // The file table may show another disc by now (a tree
                    // click refilters it): the rows themselves are refilled.
                    const ShellIconSize size =
                        ui->IconViewMenu->isChecked() ? ShellIconSize::Large : ShellIconSize::Small;
                    std::vector<TSearchRow> rows = ui->SearchView->Model()->Rows();
                    for (TSearchRow &r : rows) {
                        // A program keeps the icon it carries.
                        const std::string key = ShellKeyOf(r);
                        if (!IsProgramKey(key))
                            r.Icon = ShellInfo::FileIcon(ToQString(key), ShellAttributesOf(r), size);
                    }
                    ui->SearchView->Model()->SetRows(std::move(rows));
                }
            });
        });
    }
}

std::string TMainForm::TrimMask(const std::string &text) const
{
    return TrimMaskText(text);
}

namespace {

// Both date boxes start on today.
void PrepareDateBoxes(Ui::TMainForm *ui)
{
    for (TDateEdit *e : {ui->DateEdit1, ui->DateEdit2})
        e->SetDate(DateToday());
}

} // namespace

// The one place where the search reads its date boxes. A box shows dates in
// the desktop's order; the search converts the program's short date form, so
// a date the box holds is handed over in that form (four-digit year). A text
// that is no date goes as it stands, for the conversion to name it.
std::string TMainForm::SearchDateText(int which) const
{
    const TDateEdit *edit = which == 1 ? ui->DateEdit1 : ui->DateEdit2;
    const std::string text = FromQString(edit->Text());
    int day = 0, month = 0, year = 0;
    if (edit->IsEmpty() || !ScanDateStr(edit->DisplayFormat(), text, day, month, year, edit->Locale()))
        return text;
    const FormatSettings &fs = DefaultFormatSettings();
    return FormatDateTime(WithFourDigitYear(fs.ShortDateFormat), EncodeDate(year, month, day), fs);
}

void TMainForm::SetSearchCriteria(TDataSet *table)
{
    auto checked = [](std::initializer_list<QRadioButton *> buttons) {
        int i = 0;
        for (QRadioButton *b : buttons) {
            if (b->isChecked())
                return i;
            ++i;
        }
        return 0;
    };
    const int dateChoice =
        checked({ui->RadioButton1, ui->RadioButton2, ui->RadioButton3, ui->RadioButton4, ui->RadioButton5});
    const int sizeChoice =
        checked({ui->RadioButton6, ui->RadioButton7, ui->RadioButton8, ui->RadioButton9, ui->RadioButton10});
    Search.Criteria.SetDate(dateChoice, NowDateTime(), dateChoice == 4 ? SearchDateText(1) : std::string(),
                            dateChoice == 4 ? SearchDateText(2) : std::string(), ui->ComboBox3->currentIndex());
    Search.Criteria.SetSize(sizeChoice, sizeChoice == 4 ? FromQString(ui->Edit4->text()) : std::string(),
                            ui->ComboBox4->currentIndex());
    // Without a date or size criterion the caller's text-only method stays.
    if (table && (dateChoice > 0 || sizeChoice > 0))
        table->SetOnFilterRecord(SearchFilterMethod(ui->CheckBox1->isChecked(), dateChoice > 0, sizeChoice > 0));
}

void TMainForm::PrepareSearchPass(TDataSet &table)
{
    TSearchState &s = Search;
    s.NameGiven = !ui->Edit1->text().isEmpty();
    s.NoteGiven = !ui->Edit3->text().isEmpty();
    s.DiscIndex = ui->ComboBox2->currentIndex();
    s.DiscText = FromQString(ui->ComboBox2->currentText());
    s.CurrentYear = YearOf(NowDateTime());
    const TLocaleUpper upper;
    s.NameMatch = TTextMatch(s.NameText, upper);
    s.NoteMatch = TTextMatch(s.NoteText, upper);
    s.NameField = table.FindField("Name");
    s.NoteField = table.FindField("Note");
    s.DiscField = table.FindField("Namecd");
    s.SizeField = table.FindField("Size");
    s.DateField = table.FindField(s.Criteria.DateField());
}

void TMainForm::RadioButton5Click()
{
    const bool on = ui->RadioButton5->isChecked();
    ui->ComboBox3->setEnabled(on);
    ui->DateEdit1->setEnabled(on);
    ui->DateEdit2->setEnabled(on);
}

void TMainForm::RadioButton10Click()
{
    const bool on = ui->RadioButton10->isChecked();
    ui->ComboBox4->setEnabled(on);
    ui->UpDown2->setEnabled(on);
    ui->Edit4->setEnabled(on);
}

namespace {

// Moves the controls under an opened or closed criteria panel; the criteria
// grow with them so that the scroll box can reach the search button.
void ShiftBelow(Ui::TMainForm *ui, std::initializer_list<QWidget *> widgets, int dy)
{
    for (QWidget *w : widgets)
        w->move(w->x(), w->y() + dy);
    const int height = ui->Panel6->height() + dy;
    ui->Panel6->setMinimumHeight(height);
    ui->Panel6->resize(ui->Panel6->width(), height);
    ui->ScrollBox1Contents->resize(ui->ScrollBox1Contents->width(), height);
}

} // namespace

void TMainForm::SpeedButton1Click()
{
    if (ui->SpeedButton1->isChecked()) {
        ui->Panel_S1->resize(ui->Panel_S1->width(), 180);
        ShiftBelow(ui, {ui->Panel_S2, ui->ComboBox2, ui->Label2, ui->FilterButton}, 150);
        ui->SpeedButton1->setIcon(QIcon(HoreGlyph));
    } else {
        ui->ScrollBox1->verticalScrollBar()->setValue(0);
        ui->Panel_S1->resize(ui->Panel_S1->width(), 23);
        ShiftBelow(ui, {ui->Panel_S2, ui->ComboBox2, ui->Label2, ui->FilterButton}, -150);
        ui->SpeedButton1->setIcon(QIcon(DoleGlyph));
    }
    LayoutSearchPanel();
}

void TMainForm::SpeedButton2Click()
{
    if (ui->SpeedButton2->isChecked()) {
        // Tall enough for the row of the entered size (its box ends at 132).
        ui->Panel_S2->resize(ui->Panel_S2->width(), 138);
        ShiftBelow(ui, {ui->ComboBox2, ui->Label2, ui->FilterButton}, 115);
        ui->SpeedButton2->setIcon(QIcon(HoreGlyph));
    } else {
        ui->ScrollBox1->verticalScrollBar()->setValue(0);
        ui->Panel_S2->resize(ui->Panel_S2->width(), 23);
        ShiftBelow(ui, {ui->ComboBox2, ui->Label2, ui->FilterButton}, -115);
        ui->SpeedButton2->setIcon(QIcon(DoleGlyph));
    }
    LayoutSearchPanel();
}

void TMainForm::RestoreBrowseStatus(bool numberOnlyWhenSet)
{
    TStatusBarCont *bar = ui->StatusBar1;
    bar->SetPanelText(0, ToQString(" " + Browse.WorkDiscName));
    std::string number;
    if (WorkTable && WorkTable->Active() && !WorkTable->IsEmpty())
        if (TField *f = WorkTable->FindField("Number"))
            number = f->AsString();
    const bool hasRecords = FlatTable1 && FlatTable1->Active() && FlatTable1->RecordCount() > 0;
    if (numberOnlyWhenSet ? !number.empty() : hasRecords)
        bar->SetPanelText(1, ToQString(" [" + number + "]"));
    // No disc shown (an empty catalogue): no count either.
    bar->SetPanelText(2, Browse.FileCountText.empty()
                             ? QString()
                             : ToQString(" " + Browse.FileCountText + " " + langunit::LangString(54) + " - " +
                                         Browse.DiscSizeText));
    bar->SetPanelText(3, QString());
    bar->update();
}

namespace {

// Back to the file list after the search panel closed: focused, its first
// row selected, and the information panel again when it was showing.
void ReturnToFileList(TMainForm &form)
{
    TFileListView *list = form.ui->LinksListView;
    list->ActiveView()->setFocus();
    if (list->Count() > 0)
        list->SelectRow(0);
    // The notes name the entry now selected, not the last one found.
    form.ui->ListNoteLabel->clear();
    form.ui->NotePanel1->hide();
    form.ShowNote(list->SelectedRow());
    if (form.InfoPanelFlag == 1) {
        const QSignalBlocker block(form.ui->ShowInfoButton);
        form.ui->ShowInfoButton->setChecked(true);
        form.ShowInfoButtonClick();
    }
}

} // namespace

void TMainForm::FindButtonClick()
{
    if (ui->FindButton->isChecked()) {
        ui->FindAllButton->setChecked(false);
        ui->FindMenu->setChecked(true);
        ui->FindAllMenu->setChecked(false);
        ui->InfoPanel->hide();
        ui->Panel2->show();
        ui->ComboBox2->setEnabled(true);
        ui->Edit1->clear();
        ui->Edit1->setFocus();
    } else {
        ui->Panel2->hide();
        ui->Panel5->hide();
        ui->FindMenu->setChecked(false);
        ui->SearchView->clear();
        RestoreBrowseStatus(false);
        ReturnToFileList(*this);
    }
}

void TMainForm::FindMenuClick()
{
    ui->FindButton->setChecked(ui->FindMenu->isChecked());
    FindButtonClick();
}

namespace {

// Puts back what a search changes when it stops early: the search flag and
// table, the progress bar, and the file table with its browse filter as it
// was before the search. A search that ends normally calls Done() and keeps
// its result.
class TSearchRestore {
public:
    explicit TSearchRestore(TMainForm &form)
        : form_(form), fileTableFiltered_(form.FlatTable1 && form.FlatTable1->Active() && form.FlatTable1->Filtered())
    {
    }
    ~TSearchRestore()
    {
        if (done_)
            return;
        TSearchState &s = form_.Search;
        s.Flag = false;
        s.NameText.clear();
        s.Table = nullptr;
        if (form_.ProgressBar1)
            form_.ProgressBar1->hide();
        try {
            if (TFlatTable *t = form_.FlatTable1.get(); t && t->Active()) {
                t->SetOnFilterRecord(
                    [f = &form_](TDataSet *d, bool &accept) { f->FlatTable1FilterRecord(d, accept); });
                t->SetFiltered(false);
                if (fileTableFiltered_)
                    t->SetFiltered(true);
            }
        } catch (...) {
            // The failure that stopped the search is the one the user sees.
        }
    }
    void Done() { done_ = true; }

private:
    TMainForm &form_;
    bool fileTableFiltered_;
    bool done_ = false;
};

} // namespace

void TMainForm::FilterButtonClick()
{
    // A date or size that does not convert is reported before anything changes.
    SetSearchCriteria(nullptr);
    TSearchRestore restore(*this);
    TFlatTable *files = FlatTable1 && FlatTable1->Active() ? FlatTable1.get() : nullptr;
    if (files) {
        files->SetFiltered(false);
        files->SetFilter(std::string());
        files->SetOnFilterRecord(SearchFilterMethod(ui->CheckBox1->isChecked(), false, false));
    }
    ui->StatusBar1->SetPanelText(3, QString());

    if (ui->FindButton->isChecked()) {
        if (!files) {
            restore.Done();
            return;
        }
        Search.Table = files;
        files->SetFiltered(false);
        SetSearchCriteria(files);
        Search.ProgressStep = files->RecordCount() / 100;
        ProgressBar1->setValue(0);
        ProgressBar1->show();
        Search.ProgressCounter = 0;
        ui->SearchView->clear();
        ui->SearchView->repaint();
        HourglassCursor hourglass;
        Search.Flag = true;
        Search.NameText = TrimMask(FromQString(ui->Edit1->text()));
        Search.NoteText = TrimMask(FromQString(ui->Edit3->text()));
        PrepareSearchPass(*files);
        files->SetFiltered(true);

        const int n = files->RecordCount();
        if (n > 0 && n <= SearchLimit) {
            // A count at the limit is listed, like any count below it.
            LoadFilterTable(*files);
            ShowSearchNotice(L(58) + QStringLiteral("  ") + QString::number(n) + QStringLiteral(". ") + L(59));
            ui->SearchView->SelectRow(0);
            SearchViewClick();
            ui->SearchView->ActiveView()->setFocus();
        } else if (n == 0) {
            ShowSearchNotice(L(60));
        } else {
            Prompt::Current().Show(L(61));
        }
        ui->StatusBar1->SetPanelText(2, L(62) + QStringLiteral(" : ") + QString::number(n));
        ui->StatusBar1->update();
        Search.Flag = false;
        Search.NameText.clear();
        Search.Table = nullptr;
        ProgressBar1->hide();
        restore.Done();
    } else if (ui->FindAllButton->isChecked()) {
        if (FindAllResultTable && FindAllResultTable->Active() && FindAllResultTable->RecordCount() > 0)
            FindAllResultTable->EmptyTable();
        FindAllResultCatalogs.clear();
        FindAll();
        restore.Done();
    } else {
        restore.Done();
    }
}

void TMainForm::LoadFilterTable(TDataSet &table)
{
    TSearchListModel *model = ui->SearchView->Model();
    const bool findAll = ui->FindAllButton->isChecked();
    std::vector<TSearchRow> rows;
    if (!(ui->FindButton->isChecked() && !findAll))
        rows = model->Rows(); // a search of all catalogues adds to the list
    const ShellIconSize size = ui->IconViewMenu->isChecked() ? ShellIconSize::Large : ShellIconSize::Small;
    const std::string archive = findAll ? Search.SearchedCatalog : CatalogName;
    const TResultFields fields(table);
    rows.reserve(rows.size() + static_cast<size_t>(table.RecordCount()));
    for (table.First(); !table.Eof(); table.Next())
        rows.push_back(SearchRowOf(fields, archive, size));
    SortSearchRows(rows);
    model->SetRows(std::move(rows));
}

void TMainForm::ShowSearchNotice(const QString &text)
{
    // The text takes the notice's width, so that the count is never cut off.
    ui->Label3->setText(text);
    ui->Label3->resize(std::max(ui->Label3->width(), ui->Panel5->width() - 2 * ui->Label3->x()), ui->Label3->height());
    ui->Panel5->show();
}

void TMainForm::LoadFindAllTable(TExMemoryData &table)
{
    const ShellIconSize size = ui->IconViewMenu->isChecked() ? ShellIconSize::Large : ShellIconSize::Small;
    std::vector<TSearchRow> rows;
    const TResultFields fields(table);
    size_t i = 0;
    for (table.First(); !table.Eof(); table.Next(), ++i) {
        // Each record remembers its catalogue, so the refilled rows name it.
        const std::string &archive =
            i < FindAllResultCatalogs.size() ? FindAllResultCatalogs[i] : Search.SearchedCatalog;
        rows.push_back(SearchRowOf(fields, archive, size));
    }
    SortSearchRows(rows);
    ui->SearchView->Model()->SetRows(std::move(rows));
}

TRunTarget RunTargetOf(const TSearchRow &row)
{
    TRunTarget target;
    target.Path = ArchivePathOf(row.FullPath);
    target.DiscName = row.Namecd;
    target.Number = row.Number;
    target.FType = row.FType;
    return target;
}

void TMainForm::SearchViewClick()
{
    const TSearchRow *row = ui->SearchView->SelectedRow();
    if (!row)
        return;
    ui->StatusBar1->SetPanelText(3, ToQString(" " + (row->IsTrack() ? row->Name : row->FullPath)));
    RunTarget = RunTargetOf(*row);
    Browse.SelectedSerial = row->CdIdCode;
    ui->SearchView->setToolTip(ToQString(langunit::LangString(102) + "  -" + row->Number + "-\n" +
                                         langunit::LangString(103) + " " + row->Namecd + "\n" +
                                         langunit::LangString(104) + " " + row->Archive));
    ShowSearchNote();
}

void TMainForm::SearchViewDblClick()
{
    const TSearchRow *row = ui->SearchView->SelectedRow();
    if (!row)
        return;
    // The row may have been reached by the arrow keys, which choose nothing: its disc is
    // the one to run from.
    RunTarget = RunTargetOf(*row);
    Browse.SelectedSerial = row->CdIdCode;
    RunFile(RunTarget.Path);
}

void TMainForm::ShowSearchNote()
{
    const TSearchRow *row = ui->SearchView->SelectedRow();
    if (!row)
        return;
    if (!row->Note.empty()) {
        ui->SearchNoteLabel->setText(ToQString("  " + row->Note));
        ui->NotePanel2->show();
    } else {
        ui->SearchNoteLabel->clear();
        ui->NotePanel2->hide();
    }
    if (ui->FindAllButton->isChecked())
        ui->StatusBar1->SetPanelText(0, ToQString(" " + row->Archive));
}

void TMainForm::ComboBox2Change()
{
    const std::string text = FromQString(ui->ComboBox2->currentText());
    TStatusBarCont *bar = ui->StatusBar1;
    bar->SetPanelText(0, ToQString(" " + text));
    if (CdNameTable && CdNameTable->Active()) {
        CdNameTable->Locate("CdName", TVariant(text), TLocateOptions{loCaseInsensitive, loPartialKey});
        if (!CdNameTable->IsEmpty()) {
            const std::string number = CdNameTable->FieldByName("Number").AsString();
            if (!number.empty())
                bar->SetPanelText(1, ToQString(" [" + number + "]"));
        }
    }
    bar->update();
}

void TMainForm::SpeedButton3Click()
{
    ui->Panel5->hide();
    ui->Edit1->clear();
    ui->Edit3->clear();
    ui->Edit1->setFocus();
    ui->NotePanel2->hide();
}

void TMainForm::SpeedButton4Click()
{
    ui->Panel5->hide();
    ui->Panel2->hide();
    ui->FindButton->setChecked(false);
    ui->FindAllButton->setChecked(false);
    ui->FindMenu->setChecked(false);
    // Both buttons are up, so neither menu item stays checked.
    ui->FindAllMenu->setChecked(false);
    ui->SearchView->clear();
    RestoreBrowseStatus(true);
    ReturnToFileList(*this);
}
