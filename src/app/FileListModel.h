#pragma once
// The rows of the file list: one typed row per File record of the current
// folder, kept in display order, and the one model the list's four view styles
// share.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <string>
#include <vector>

// A File record as the list shows it.
struct TFileRow {
    std::string Name;
    std::string Path;
    std::string SizeText;   // FormatSize of Size
    QString TypeName;       // the shell's type name
    std::string CreateDate;
    std::string LastChange;
    std::string FullName;   // Path + Name, or Path + LoadName for an audio track
    int Type = 1;           // 0 folder, 1 file
    std::string Namecd;
    int Attrib = 0;
    std::string Number;
    std::string SizeTech;   // Size as stored
    int FType = 0;          // 2 audio track
    std::string LoadName;   // "0" when empty
    int MusicOrder = 0;
    std::string CdIdCode;   // "0" when empty
    std::string Note;
    QIcon Icon;

    bool IsFolder() const { return Type == 0; }
    bool IsTrack() const { return FType == 2; }
};

// Display order of the list: folders before files, each group by name
// ignoring the case of a to z; with `tracks`, files by their load name. A
// strict weak ordering, used with a stable sort.
bool FileRowLess(const TFileRow &a, const TFileRow &b, bool tracks);
void SortFileRows(std::vector<TFileRow> &rows, bool tracks);

class TFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The fifteen columns: the five shown captions, then the record's fields.
    static constexpr int ColumnCount = 15;
    // The columns the report view shows: name, size, type and the two dates.
    static constexpr int ShownColumnCount = 5;

    explicit TFileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    void SetRows(std::vector<TFileRow> rows);
    void Clear();
    int Count() const { return static_cast<int>(rows_.size()); }
    // Null outside 0 .. Count()-1.
    const TFileRow *Row(int index) const;
    const std::vector<TFileRow> &Rows() const { return rows_; }

    // The text of a column of a row, as the report view shows it.
    static QString ColumnText(const TFileRow &row, int column);
    void SetColumnCaption(int column, const QString &caption);
    QString ColumnCaption(int column) const;

private:
    std::vector<TFileRow> rows_;
    std::vector<QString> captions_;
};
