// The search result list's rows, model and four view styles.
#include "app/SearchListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QStackedLayout>
#include <QTreeView>

#include <algorithm>

#include "app/BrowseText.h"
#include "app/FileListView.h"
#include "platform/QtText.h"

QString TSearchRow::SubItem(int index) const
{
    switch (index) {
    case 0: return ToQString(Number);
    case 1: return ToQString(Namecd);
    case 2: return ToQString(SizeText);
    case 3: return TypeName;
    case 4: return ToQString(LastChange);
    case 5: return ToQString(CreateDate);
    case 6: return QString::number(Type);
    case 7: return ToQString(FullPath);
    case 8: return QString::number(Attrib);
    case 9: return ToQString(Note);
    case 10: return ToQString(Archive);
    case 11: return ToQString(SizeTech);
    case 12: return QString::number(FType);
    case 13: return ToQString(LoadName);
    case 14: return ToQString(CdIdCode);
    default: return {};
    }
}

void SortSearchRows(std::vector<TSearchRow> &rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const TSearchRow &a, const TSearchRow &b) {
        return CompareNamesFoldAZ(a.Name, b.Name) < 0;
    });
}

TSearchListModel::TSearchListModel(QObject *parent)
    : QAbstractTableModel(parent),
      captions_{QStringLiteral("Name"),      QStringLiteral("Nr"),       QStringLiteral("Drive"),
                QStringLiteral("Size"),      QStringLiteral("TypeName"), QStringLiteral("LastChange"),
                QStringLiteral("CreateDate"), QStringLiteral("Type"),    QStringLiteral("FullPath"),
                QStringLiteral("Attrib"),    QStringLiteral("Note"),     QStringLiteral("Archive"),
                QStringLiteral("Size_tech"), QStringLiteral("FType"),    QStringLiteral("LoadName"),
                QStringLiteral("CdIdCode")}
{
}

int TSearchListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TSearchListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TSearchListModel::data(const QModelIndex &index, int role) const
{
    const TSearchRow *row = index.isValid() ? Row(index.row()) : nullptr;
    if (!row)
        return {};
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? ToQString(row->Name) : row->SubItem(index.column() - 1);
    if (role == Qt::DecorationRole && index.column() == 0)
        return row->Icon;
    if (role == Qt::TextAlignmentRole && index.column() == 3)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TSearchListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return captions_[static_cast<size_t>(section)];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TSearchListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Read-only; rows can be dragged (to the print preparation).
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList TSearchListModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

QMimeData *TSearchListModel::mimeData(const QModelIndexList &indexes) const
{
    // The full paths of the dragged rows, one a line.
    QStringList names;
    std::vector<int> seen;
    for (const QModelIndex &i : indexes) {
        if (std::find(seen.begin(), seen.end(), i.row()) != seen.end())
            continue;
        seen.push_back(i.row());
        if (const TSearchRow *row = Row(i.row()))
            names << ToQString(row->FullPath);
    }
    auto *mime = new QMimeData;
    mime->setText(names.join(QLatin1Char('\n')));
    return mime;
}

void TSearchListModel::SetRows(std::vector<TSearchRow> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

const TSearchRow *TSearchListModel::Row(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return &rows_[static_cast<size_t>(index)];
}

void TSearchListModel::SetColumnCaption(int column, const QString &caption)
{
    if (column < 0 || column >= ColumnCount)
        return;
    captions_[static_cast<size_t>(column)] = caption;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

QString TSearchListModel::ColumnCaption(int column) const
{
    return column >= 0 && column < ColumnCount ? captions_[static_cast<size_t>(column)] : QString();
}

namespace {

// Report widths: the seven shown columns, then the data columns. Note and
// Size_tech keep a default width; the others carry data only and stay hidden.
constexpr int ColumnWidths[TSearchListModel::ColumnCount] = {180, 40, 130, 80, 110, 120, 120, 0,
                                                             0,   0,  100, 0,  100, 0,   0,   0};

} // namespace

TSearchListView::TSearchListView(QWidget *parent)
    : QWidget(parent), model_(new TSearchListModel(this)), selection_(new QItemSelectionModel(model_, this)),
      report_(new QTreeView(this)), icons_(new QListView(this)), stack_(new QStackedLayout(this))
{
    stack_->setContentsMargins(0, 0, 0, 0);
    report_->setObjectName(QStringLiteral("SearchReportView"));
    icons_->setObjectName(QStringLiteral("SearchIconView"));
    report_->setModel(model_);
    report_->setSelectionModel(selection_);
    icons_->setModel(model_);
    icons_->setSelectionModel(selection_);
    report_->setRootIsDecorated(false);
    report_->setUniformRowHeights(true);
    report_->setItemsExpandable(false);
    report_->setAllColumnsShowFocus(true);
    report_->header()->setStretchLastSection(false);
    report_->header()->setSectionsClickable(false);
    for (int c = 0; c < TSearchListModel::ColumnCount; ++c) {
        report_->setColumnWidth(c, ColumnWidths[c]);
        report_->setColumnHidden(c, ColumnWidths[c] == 0);
    }
    for (QAbstractItemView *v : {static_cast<QAbstractItemView *>(report_), static_cast<QAbstractItemView *>(icons_)}) {
        v->setSelectionMode(QAbstractItemView::SingleSelection);
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setDragEnabled(true);
        v->setDragDropMode(QAbstractItemView::DragOnly);
        v->installEventFilter(this);
        connect(v, &QAbstractItemView::clicked, this, [this] { emit Clicked(); });
        connect(v, &QAbstractItemView::doubleClicked, this, [this] { emit DoubleClicked(); });
        stack_->addWidget(v);
    }
    SetViewStyle(vsReport);
}

void TSearchListView::SetViewStyle(int style)
{
    if (style < vsList || style > vsReport)
        return;
    style_ = style;
    // Focus given to the list (and asked of it) is the shown view's.
    setFocusProxy(style == vsReport ? static_cast<QWidget *>(report_) : static_cast<QWidget *>(icons_));
    if (style == vsReport) {
        stack_->setCurrentWidget(report_);
        return;
    }
    icons_->setWrapping(true);
    icons_->setResizeMode(QListView::Adjust);
    switch (style) {
    case vsList:
        icons_->setViewMode(QListView::ListMode);
        icons_->setFlow(QListView::TopToBottom);
        icons_->setIconSize(QSize(16, 16));
        icons_->setGridSize(QSize());
        icons_->setUniformItemSizes(false);
        break;
    case vsIcon:
        icons_->setViewMode(QListView::IconMode);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setIconSize(QSize(32, 32));
        icons_->setGridSize(QSize(96, 64));
        icons_->setMovement(QListView::Static);
        icons_->setWordWrap(true);
        icons_->setUniformItemSizes(false);
        break;
    default:
        icons_->setViewMode(QListView::ListMode);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setIconSize(QSize(16, 16));
        icons_->setGridSize(QSize(160, 20));
        icons_->setUniformItemSizes(true);
        break;
    }
    stack_->setCurrentWidget(icons_);
}

QAbstractItemView *TSearchListView::ActiveView() const
{
    return style_ == vsReport ? static_cast<QAbstractItemView *>(report_) : static_cast<QAbstractItemView *>(icons_);
}

int TSearchListView::CurrentRow() const
{
    const QModelIndexList rows = selection_->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TSearchListView::SelectRow(int row)
{
    if (row < 0 || row >= model_->Count())
        return;
    const QModelIndex index = model_->index(row, 0);
    selection_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ActiveView()->scrollTo(index);
    ActiveView()->setFocus();
}

void TSearchListView::setAlternatingRowColors(bool enable)
{
    report_->setAlternatingRowColors(enable);
}

bool TSearchListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == report_ || watched == icons_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            emit KeyPressed(key);
            // Enter opens the row as a double-click does; the views must not
            // also act on it.
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                return true;
        } else if (event->type() == QEvent::KeyRelease) {
            if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                emit KeyReleased(static_cast<QKeyEvent *>(event)->key());
        }
    }
    return QWidget::eventFilter(watched, event);
}
