#pragma once
// What the file list's and the search result list's models share: typed rows
// held in display order, read-only cells with the row's icon in the first
// column, renamable header captions, and dragging rows as their full names,
// one a line. A list names its columns, says what each cell shows and which
// name a dragged row carries.
#include <QAbstractTableModel>
#include <QMimeData>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/QtText.h"

template <class RowT>
class TRowListModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : Count(); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : Columns();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const RowT *row = index.isValid() ? Row(index.row()) : nullptr;
        if (!row)
            return {};
        if (role == Qt::DisplayRole)
            return CellText(*row, index.column());
        if (role == Qt::DecorationRole && index.column() == 0)
            return row->Icon;
        if (role == Qt::TextAlignmentRole && index.column() == sizeColumn_)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns())
            return captions_[static_cast<size_t>(section)];
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        // Read-only; rows can be dragged (to the print preparation).
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }

    QStringList mimeTypes() const override { return {QStringLiteral("text/plain")}; }

    QMimeData *mimeData(const QModelIndexList &indexes) const override
    {
        // The full names of the dragged rows, one a line.
        QStringList names;
        std::vector<int> seen;
        for (const QModelIndex &i : indexes) {
            if (std::find(seen.begin(), seen.end(), i.row()) != seen.end())
                continue;
            seen.push_back(i.row());
            if (const RowT *row = Row(i.row()))
                names << ToQString(DragName(*row));
        }
        auto *mime = new QMimeData;
        mime->setText(names.join(QLatin1Char('\n')));
        return mime;
    }

    void SetRows(std::vector<RowT> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    void Clear() { SetRows({}); }
    int Count() const { return static_cast<int>(rows_.size()); }
    // Null outside 0 .. Count()-1.
    const RowT *Row(int index) const
    {
        if (index < 0 || index >= Count())
            return nullptr;
        return &rows_[static_cast<size_t>(index)];
    }
    const std::vector<RowT> &Rows() const { return rows_; }

    void SetColumnCaption(int column, const QString &caption)
    {
        if (column < 0 || column >= Columns())
            return;
        captions_[static_cast<size_t>(column)] = caption;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
    QString ColumnCaption(int column) const
    {
        return column >= 0 && column < Columns() ? captions_[static_cast<size_t>(column)] : QString();
    }

protected:
    // One column a caption; `sizeColumn` is the one aligned to the right.
    TRowListModel(std::vector<QString> captions, int sizeColumn, QObject *parent)
        : QAbstractTableModel(parent), captions_(std::move(captions)), sizeColumn_(sizeColumn)
    {
    }

    // The text a cell shows.
    virtual QString CellText(const RowT &row, int column) const = 0;
    // The name a dragged row carries.
    virtual const std::string &DragName(const RowT &row) const = 0;

private:
    int Columns() const { return static_cast<int>(captions_.size()); }

    std::vector<RowT> rows_;
    std::vector<QString> captions_;
    int sizeColumn_;
};
