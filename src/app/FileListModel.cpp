// The file list's rows and model.
#include "app/FileListModel.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>

#include "app/BrowseText.h"
#include "platform/QtText.h"

bool FileRowLess(const TFileRow &a, const TFileRow &b, bool tracks)
{
    if (a.IsFolder() != b.IsFolder())
        return a.IsFolder();
    if (tracks && !a.IsFolder())
        return CompareNamesFoldAZ(a.LoadName, b.LoadName) < 0;
    return CompareNamesFoldAZ(a.Name, b.Name) < 0;
}

void SortFileRows(std::vector<TFileRow> &rows, bool tracks)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [tracks](const TFileRow &a, const TFileRow &b) { return FileRowLess(a, b, tracks); });
}

TFileListModel::TFileListModel(QObject *parent)
    : QAbstractTableModel(parent),
      captions_{QStringLiteral("Name"),     QStringLiteral("Size"),       QStringLiteral("TypeName"),
                QStringLiteral("CreateDate"), QStringLiteral("LastChange"), QStringLiteral("Fullpath"),
                QStringLiteral("Type"),     QStringLiteral("Namecd"),     QStringLiteral("Attrib"),
                QStringLiteral("Number"),   QStringLiteral("Size_Tech"),  QStringLiteral("FType"),
                QStringLiteral("LoadName"), QStringLiteral("MusicOrder"), QStringLiteral("CdIdCode")}
{
}

int TFileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TFileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TFileListModel::ColumnText(const TFileRow &row, int column)
{
    switch (column) {
    case 0: return ToQString(row.Name);
    case 1: return ToQString(row.SizeText);
    case 2: return row.TypeName;
    case 3: return ToQString(row.CreateDate);
    case 4: return ToQString(row.LastChange);
    case 5: return ToQString(row.FullName);
    case 6: return QString::number(row.Type);
    case 7: return ToQString(row.Namecd);
    case 8: return QString::number(row.Attrib);
    case 9: return ToQString(row.Number);
    case 10: return ToQString(row.SizeTech);
    case 11: return QString::number(row.FType);
    case 12: return ToQString(row.LoadName);
    case 13: return QString::number(row.MusicOrder);
    case 14: return ToQString(row.CdIdCode);
    default: return {};
    }
}

QVariant TFileListModel::data(const QModelIndex &index, int role) const
{
    const TFileRow *row = index.isValid() ? Row(index.row()) : nullptr;
    if (!row)
        return {};
    if (role == Qt::DisplayRole)
        return ColumnText(*row, index.column());
    if (role == Qt::DecorationRole && index.column() == 0)
        return row->Icon;
    if (role == Qt::TextAlignmentRole && index.column() == 1)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return captions_[static_cast<size_t>(section)];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Read-only; items can be dragged (to the print preparation).
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList TFileListModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

QMimeData *TFileListModel::mimeData(const QModelIndexList &indexes) const
{
    // The full names of the dragged rows, one a line.
    QStringList names;
    std::vector<int> seen;
    for (const QModelIndex &i : indexes) {
        if (std::find(seen.begin(), seen.end(), i.row()) != seen.end())
            continue;
        seen.push_back(i.row());
        if (const TFileRow *row = Row(i.row()))
            names << ToQString(row->FullName);
    }
    auto *mime = new QMimeData;
    mime->setText(names.join(QLatin1Char('\n')));
    return mime;
}

void TFileListModel::SetRows(std::vector<TFileRow> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void TFileListModel::Clear()
{
    SetRows({});
}

const TFileRow *TFileListModel::Row(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return &rows_[static_cast<size_t>(index)];
}

void TFileListModel::SetColumnCaption(int column, const QString &caption)
{
    if (column < 0 || column >= ColumnCount)
        return;
    captions_[static_cast<size_t>(column)] = caption;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

QString TFileListModel::ColumnCaption(int column) const
{
    return column >= 0 && column < ColumnCount ? captions_[static_cast<size_t>(column)] : QString();
}
