#pragma once
// What the file list's and the search result list's models share: rows held in
// display order, read-only cells with the row's icon in the first column,
// renamable header captions, and dragging rows as their full names, one a
// line. A list names its columns, says what each cell shows and which name a
// dragged row carries.
#include <QAbstractTableModel>
#include <QIcon>
#include <QMimeData>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/QtText.h"

class TRowListModelBase : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : Count(); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : Columns();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() < 0 || index.row() >= Count())
            return {};
        if (role == Qt::DisplayRole)
            return RowCellText(index.row(), index.column());
        if (role == Qt::DecorationRole && index.column() == 0)
            return RowIcon(index.row());
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
            if (i.row() >= 0 && i.row() < Count())
                names << RowDragText(i.row());
        }
        auto *mime = new QMimeData;
        mime->setText(names.join(QLatin1Char('\n')));
        return mime;
    }

    virtual int Count() const = 0;

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
    TRowListModelBase(std::vector<QString> captions, int sizeColumn, QObject *parent)
        : QAbstractTableModel(parent), captions_(std::move(captions)), sizeColumn_(sizeColumn)
    {
    }

    // What a row (0 .. Count()-1) shows in a column, its icon and the name it
    // carries when dragged.
    virtual QString RowCellText(int row, int column) const = 0;
    virtual QIcon RowIcon(int row) const = 0;
    virtual QString RowDragText(int row) const = 0;

private:
    int Columns() const { return static_cast<int>(captions_.size()); }

    std::vector<QString> captions_;
    int sizeColumn_;
};

// A list whose typed rows are all built before they are shown.
template <class RowT>
class TRowListModel : public TRowListModelBase {
public:
    void SetRows(std::vector<RowT> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    void Clear() { SetRows({}); }
    int Count() const override { return static_cast<int>(rows_.size()); }
    // Null outside 0 .. Count()-1.
    const RowT *Row(int index) const
    {
        if (index < 0 || index >= Count())
            return nullptr;
        return &rows_[static_cast<size_t>(index)];
    }
    const std::vector<RowT> &Rows() const { return rows_; }

protected:
    using TRowListModelBase::TRowListModelBase;

    // The text a cell shows.
    virtual QString CellText(const RowT &row, int column) const = 0;
    // The name a dragged row carries.
    virtual const std::string &DragName(const RowT &row) const = 0;

private:
    QString RowCellText(int row, int column) const final { return CellText(rows_[size_t(row)], column); }
    QIcon RowIcon(int row) const final { return rows_[size_t(row)].Icon; }
    QString RowDragText(int row) const final { return ToQString(DragName(rows_[size_t(row)])); }

    std::vector<RowT> rows_;
};
