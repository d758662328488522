#pragma once
// The search result list: one row per File record found, its caption the
// record's name and fifteen sub-items in a fixed order that the row handlers,
// the note display, the print preparation and copy and run read by index. One
// model shown in the same four view styles as the file list.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTreeView;

// A found File record as the result list shows it.
struct TSearchRow {
    std::string Name;       // caption
    std::string Number;     // sub-item 0
    std::string Namecd;     // 1
    std::string SizeText;   // 2: FormatSize of Size
    QString TypeName;       // 3: the shell's type name
    std::string LastChange; // 4
    std::string CreateDate; // 5
    int Type = 1;           // 6: 0 folder, 1 file
    std::string FullPath;   // 7: Path + Name, or Path + LoadName for an audio track
    int Attrib = 0;         // 8
    std::string Note;       // 9
    std::string Archive;    // 10: the catalogue the record came from
    std::string SizeTech;   // 11: Size as stored
    int FType = 0;          // 12: 2 audio track
    std::string LoadName;   // 13: "0" when empty
    std::string CdIdCode;   // 14: "0" when empty
    QIcon Icon;

    static constexpr int SubItemCount = 15;
    // Sub-item `index` (0 .. 14) as text; empty outside.
    QString SubItem(int index) const;
    bool IsFolder() const { return Type == 0; }
    bool IsTrack() const { return FType == 2; }
};

// Result order: by caption, ignoring the case of a to z; stable.
void SortSearchRows(std::vector<TSearchRow> &rows);

class TSearchListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The caption column and the fifteen sub-items.
    static constexpr int ColumnCount = 1 + TSearchRow::SubItemCount;

    explicit TSearchListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    void SetRows(std::vector<TSearchRow> rows);
    void Clear() { SetRows({}); }
    int Count() const { return static_cast<int>(rows_.size()); }
    // Null outside 0 .. Count()-1.
    const TSearchRow *Row(int index) const;
    const std::vector<TSearchRow> &Rows() const { return rows_; }

    void SetColumnCaption(int column, const QString &caption);
    QString ColumnCaption(int column) const;

private:
    std::vector<TSearchRow> rows_;
    std::vector<QString> captions_;
};

class TSearchListView : public QWidget {
    Q_OBJECT
public:
    explicit TSearchListView(QWidget *parent = nullptr);

    TSearchListModel *Model() const { return model_; }
    // 1 list, 2 icons, 3 small icons, 4 report; other numbers are ignored.
    void SetViewStyle(int style);
    int ViewStyle() const { return style_; }
    QAbstractItemView *ActiveView() const;
    QTreeView *ReportView() const { return report_; }
    QListView *IconView() const { return icons_; }

    // Selected row, -1 when none.
    int CurrentRow() const;
    const TSearchRow *SelectedRow() const { return model_->Row(CurrentRow()); }
    // Focuses and selects a row (nothing for a row that is not there).
    void SelectRow(int row);
    int Count() const { return model_->Count(); }

    void setAlternatingRowColors(bool enable);
    void clear() { model_->Clear(); }

signals:
    void Clicked();
    void DoubleClicked();
    void KeyPressed(int key);
    void KeyReleased(int key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TSearchListModel *model_;
    QItemSelectionModel *selection_;
    QTreeView *report_;
    QListView *icons_;
    QStackedLayout *stack_;
    int style_ = 4;
};
