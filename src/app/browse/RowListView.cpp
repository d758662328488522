// The four view styles of a row list on one model.
#include "app/browse/RowListView.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QPainter>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <algorithm>
#include <utility>

#include "util/BaseDateTime.h"

namespace {

// Draws each cell as usual, then its bottom and right edges as grid lines
// while the list asks for them.
class TGridLineDelegate : public QStyledItemDelegate {
public:
    TGridLineDelegate(const bool &enabled, QObject *parent) : QStyledItemDelegate(parent), enabled_(enabled) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!enabled_)
            return;
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight).darker(110));
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }

private:
    const bool &enabled_;
};

} // namespace

TRowListView::TRowListView(QAbstractItemModel *model, TSetup setup, QWidget *parent)
    : QWidget(parent), model_(model), setup_(std::move(setup))
{
    model_->setParent(this);
    selection_ = new QItemSelectionModel(model_, this);
    report_ = new QTreeView(this);
    icons_ = new QListView(this);
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    report_->setObjectName(setup_.ReportName);
    icons_->setObjectName(setup_.IconName);
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
    // The grid is bounded by the view's room, known once the viewport itself
    // has its new size (the view's own resize event comes before it).
    icons_->viewport()->installEventFilter(this);
    SetViewStyle(vsReport);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        widestName_ = -1;
        if (style_ == vsSmallIcon)
            FitSmallIconGrid();
    });
}

void TRowListView::FitDateColumns(std::initializer_list<int> columns)
{
    // The widest date a scan writes: the locale's short date and the time.
    const QString widest = QString::fromStdString(
        DateTimeToStrFit(EncodeDate(2088, 12, 28) + EncodeTime(20, 58, 58, 0), 20));
    const int width = report_->fontMetrics().horizontalAdvance(widest) + 16;
    for (int c : columns)
        report_->setColumnWidth(c, std::max(report_->columnWidth(c), width));
}

void TRowListView::FitSmallIconGrid()
{
    constexpr int MinWidth = 160, IconAndGaps = 16 + 14;
    // The names are measured once per filling of the list; a resize only
    // places the bound anew.
    if (widestName_ < 0) {
        widestName_ = 0;
        const QFontMetrics metrics = icons_->fontMetrics();
        for (int r = 0; r < model_->rowCount(); ++r)
            widestName_ = std::max(widestName_, metrics.horizontalAdvance(model_->index(r, 0).data().toString()));
    }
    // A name longer than half the view is cut rather than leave one column.
    const int room = std::max(MinWidth, icons_->viewport()->width() / 2);
    icons_->setGridSize(QSize(std::clamp(widestName_ + IconAndGaps, MinWidth, room), 20));
}

void TRowListView::SetViewStyle(int style)
{
    if (style < vsList || style > vsReport)
        return;
    style_ = style;
    if (setup_.FocusShownView)
        setFocusProxy(style == vsReport ? static_cast<QWidget *>(report_) : static_cast<QWidget *>(icons_));
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
        // Each name as wide as it is: one shared item size is the first
        // name's, and cuts every longer one.
        icons_->setUniformItemSizes(false);
        FitSmallIconGrid();
        break;
    }
    stack_->setCurrentWidget(icons_);
}

QAbstractItemView *TRowListView::ActiveView() const
{
    return style_ == vsReport ? static_cast<QAbstractItemView *>(report_) : static_cast<QAbstractItemView *>(icons_);
}

int TRowListView::CurrentRow() const
{
    const QModelIndexList rows = selection_->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TRowListView::SelectRow(int row)
{
    if (row < 0 || row >= model_->rowCount())
        return;
    const QModelIndex index = model_->index(row, 0);
    selection_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ActiveView()->scrollTo(index);
    ActiveView()->setFocus();
}

void TRowListView::SetGridLines(bool enable)
{
    gridLines_ = enable;
    if (!dynamic_cast<TGridLineDelegate *>(report_->itemDelegate()))
        report_->setItemDelegate(new TGridLineDelegate(gridLines_, report_));
    report_->viewport()->update();
}

bool TRowListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == icons_ && event->type() == QEvent::FontChange)
        widestName_ = -1;
    if (watched == icons_->viewport() && event->type() == QEvent::Resize && style_ == vsSmallIcon)
        FitSmallIconGrid();
    if (watched == report_ || watched == icons_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            emit KeyPressed(key);
            // Enter opens the row as a double-click does; the views must not
            // also act on it.
            if (key == Qt::Key_Return || key == Qt::Key_Enter || (setup_.OwnBackspace && key == Qt::Key_Backspace))
                return true;
        } else if (event->type() == QEvent::KeyRelease) {
            if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                emit KeyReleased(static_cast<QKeyEvent *>(event)->key());
        }
    }
    return QWidget::eventFilter(watched, event);
}
