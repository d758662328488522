#pragma once
// The search result list: one row per File record found, its caption the
// record's name and fifteen sub-items in a fixed order that the row handlers,
// the note display, the print preparation and copy and run read by index. One
// model shown in the same four view styles as the file list.
#include <QIcon>
#include <QString>

#include <string>
#include <vector>

#include "app/browse/RowListModel.h"
#include "app/browse/RowListView.h"

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

class TSearchListModel : public TRowListModel<TSearchRow> {
    Q_OBJECT
public:
    // The caption column and the fifteen sub-items.
    static constexpr int ColumnCount = 1 + TSearchRow::SubItemCount;

    explicit TSearchListModel(QObject *parent = nullptr);

protected:
    QString CellText(const TSearchRow &row, int column) const override;
    const std::string &DragName(const TSearchRow &row) const override { return row.FullPath; }
};

// The search results in the four view styles of a row list.
class TSearchListView : public TRowListView {
    Q_OBJECT
public:
    explicit TSearchListView(QWidget *parent = nullptr);

    TSearchListModel *Model() const { return model_; }
    const TSearchRow *SelectedRow() const { return model_->Row(CurrentRow()); }
    int Count() const { return model_->Count(); }
    void clear() { model_->Clear(); }

private:
    TSearchListModel *model_;
};
