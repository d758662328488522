// The file list's four view styles on one model.
#include "app/FileListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStackedLayout>
#include <QTreeView>

namespace {

// Column widths of the report style; the last column is kept out of sight.
constexpr int ColumnWidths[TFileListModel::ColumnCount] = {180, 80, 100, 85, 85, 112, 112, 112,
                                                           112, 112, 112, 112, 112, 112, 0};

} // namespace

TFileListView::TFileListView(QWidget *parent)
    : QWidget(parent), model_(new TFileListModel(this)), selection_(new QItemSelectionModel(model_, this)),
      report_(new QTreeView(this)), icons_(new QListView(this)), stack_(new QStackedLayout(this))
{
    stack_->setContentsMargins(0, 0, 0, 0);
    report_->setObjectName(QStringLiteral("LinksReportView"));
    icons_->setObjectName(QStringLiteral("LinksIconView"));
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
    for (int c = 0; c < TFileListModel::ColumnCount; ++c)
        report_->setColumnWidth(c, ColumnWidths[c]);
    // The report shows the five columns a user reads; the others carry the
    // record's fields for the handlers and stay out of sight.
    for (int c = TFileListModel::ShownColumnCount; c < TFileListModel::ColumnCount; ++c)
        report_->setColumnHidden(c, true);
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

void TFileListView::SetViewStyle(int style)
{
    if (style < vsList || style > vsReport)
        return;
    style_ = style;
    if (style == vsReport) {
        stack_->setCurrentWidget(report_);
        return;
    }
    icons_->setWrapping(true);
    icons_->setResizeMode(QListView::Adjust);
    switch (style) {
    case vsList:
        // Columns of small icons and names, filled top to bottom.
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
        // Small icons, filled row by row.
        icons_->setViewMode(QListView::ListMode);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setIconSize(QSize(16, 16));
        icons_->setGridSize(QSize(160, 20));
        icons_->setUniformItemSizes(true);
        break;
    }
    stack_->setCurrentWidget(icons_);
}

QAbstractItemView *TFileListView::ActiveView() const
{
    return style_ == vsReport ? static_cast<QAbstractItemView *>(report_) : static_cast<QAbstractItemView *>(icons_);
}

int TFileListView::CurrentRow() const
{
    const QModelIndexList rows = selection_->selectedIndexes();
    if (rows.isEmpty())
        return -1;
    return rows.front().row();
}

void TFileListView::SelectRow(int row)
{
    if (row < 0 || row >= model_->Count())
        return;
    const QModelIndex index = model_->index(row, 0);
    selection_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ActiveView()->scrollTo(index);
    ActiveView()->setFocus();
}

void TFileListView::setAlternatingRowColors(bool enable)
{
    report_->setAlternatingRowColors(enable);
}

bool TFileListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == report_ || watched == icons_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            emit KeyPressed(key);
            // Enter opens the row as a double-click would; the views must not
            // also act on it.
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Backspace)
                return true;
        } else if (event->type() == QEvent::KeyRelease) {
            if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                emit KeyReleased(static_cast<QKeyEvent *>(event)->key());
        }
    }
    return QWidget::eventFilter(watched, event);
}
