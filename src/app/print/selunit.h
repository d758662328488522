#pragma once
// The print wizard: the user picks the records to print (a source), narrows
// them by a file type, sees and edits the rows, and gets the preview of the
// data-disc or the music-disc report.
#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QTableView>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/search/SearchCriteria.h"
#include "storage/DataSet.h"

class QButtonGroup;
class TExMemoryData;
class TMainForm;
struct TFileRow;
namespace Ui {
class TPrintPrepareForm;
}

// One row as a list hands it to the report table.
struct TPrintRow {
    std::string Path;       // folder, with a trailing backslash
    std::string Namecd;
    std::string Number;
    std::string Size;       // the size text the list shows
    int Attrib = 0;
    std::string CreateDate;
    std::string LastChange;
    int Type = 1;
    std::string Name;
};

// The folder part of a drive-based full name, with its trailing backslash
// ("e:\docs\a.txt" gives "e:\docs\"); empty when there is none.
std::string PrintFolderOf(const std::string &fullName);
// A row of either list (file list or search results) as the report table
// takes it; `fullName` is the row's drive-based full name.
template <class ListRow>
TPrintRow PrintRowOfListRow(const ListRow &row, const std::string &fullName)
{
    TPrintRow r;
    r.Path = PrintFolderOf(fullName);
    r.Namecd = row.Namecd;
    r.Number = row.Number;
    r.Size = row.SizeText;
    r.Attrib = row.Attrib;
    r.CreateDate = row.CreateDate;
    r.LastChange = row.LastChange;
    r.Type = row.Type;
    r.Name = row.Name;
    return r;
}
// A row of the file list as the report table takes it.
TPrintRow PrintRowOfFileRow(const TFileRow &row);

// The report table: the first eleven File record fields in the scan order,
// in memory, closed. Names and paths are as wide as the file table's, so that
// nothing is cut when records are copied in.
std::unique_ptr<TExMemoryData> MakeReportTable();
// Appends one row (and posts it).
void AppendPrintRow(TDataSet &table, const TPrintRow &row);
// The number of visible rows of `table`, counted with its controls disabled.
int CountReportRows(TDataSet &table);

// The grid's rows: the Name, Namecd and Number of the table's visible
// records, editable; rows can be deleted.
class TReportGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TReportGridModel(TDataSet *table, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void SetTitles(const QStringList &titles);
    // Re-reads the table's visible records.
    void Refresh();
    // Deletes the record of a row (no question asked here).
    void DeleteRow(int row);

    static constexpr const char *FieldNames[3] = {"Name", "Namecd", "Number"};

private:
    bool GoToRow(int row) const;
    TDataSet *table_;
    std::vector<TBookmark> rows_;
    QStringList titles_;
};

// The wizard's grid: deletes a row after a confirmation, and takes rows
// dragged from a list view.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
    // The drop of a drag whose source is `source` (a list view).
    std::function<void(QObject *source)> OnDragDrop;
    // Asks and deletes the current row; false when nothing was deleted.
    bool DeleteCurrentRow();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool Accepts(QObject *source) const;
};

class TPrintPrepareForm : public QDialog {
    Q_OBJECT
public:
    explicit TPrintPrepareForm(TMainForm *main);
    ~TPrintPrepareForm() override;

    Ui::TPrintPrepareForm *ui;
    std::unique_ptr<TExMemoryData> ReportTable;
    TDataSource ReportSource;
    TReportGridModel *GridModel = nullptr;
    // The items of the three radio groups (ids are the item indexes).
    QButtonGroup *RadioGroup1Items = nullptr;
    QButtonGroup *RadioGroup2Items = nullptr;
    QButtonGroup *RadioGroup3Items = nullptr;

    void FormShow();
    void Button1Click();
    void Button2Click();
    void RadioGroup1Click();
    void RadioGroup2Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void LoadSearch();
    bool DBGrid1DragOver(QObject *source) const;
    void DBGrid1DragDrop(QObject *source);

    void ExeFilterRecord(TDataSet *DataSet, bool &Accept);
    void PictureFilterRecord(TDataSet *DataSet, bool &Accept);
    void WaveFilterRecord(TDataSet *DataSet, bool &Accept);
    void DocFilterRecord(TDataSet *DataSet, bool &Accept);
    void WebFilterRecord(TDataSet *DataSet, bool &Accept);
    void UserFilterRecord(TDataSet *DataSet, bool &Accept);
    void PrintDirExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept);
    void PrintMusicExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept);

    // Chosen items, -1 for none.
    int SourceIndex() const;
    int FileTypeIndex() const;
    int ReportTypeIndex() const;
    int PageIndex() const;
    // The main window's catalogue was closed or replaced: the wizard starts
    // over on the new one, or closes when there is none.
    void CatalogChanged();

private:
    void LoadFrom(TDataSet *source);
    void SetCountLabel();
    void UseFilter(TDataSet::TFilterRecordEvent filter);
    void PrintReport();
    bool NameHasAny(TDataSet *DataSet, const std::vector<std::string> &upperParts) const;

    QPointer<TMainForm> main_;
    TLocaleUpper upper_;                    // the locale's upper-casing, as the search uses it
    std::vector<std::string> filterParts_[5]; // file types 1 to 5, upper-cased
    std::vector<std::string> userFilter_{""}; // file type 6: the user's text, upper-cased, stars removed
    mutable std::string upperName_;           // scratch of the filters
    TField *nameField_ = nullptr;
    bool catalogCheckQueued_ = false;
};
