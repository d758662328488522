#pragma once
// What the file list and the search result list share: one model shown in four
// view styles (list, icons, small icons, report). A report view and a list view
// share the model and one selection model; the style decides which of them is
// shown.
#include <QString>
#include <QWidget>

#include <initializer_list>

class QAbstractItemModel;
class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTreeView;

// Setting 18's numbers.
enum TListViewStyle { vsList = 1, vsIcon = 2, vsSmallIcon = 3, vsReport = 4 };

class TRowListView : public QWidget {
    Q_OBJECT
public:
    // 1 list, 2 icons, 3 small icons, 4 report; other numbers are ignored.
    void SetViewStyle(int style);
    int ViewStyle() const { return style_; }
    QAbstractItemView *ActiveView() const;
    QTreeView *ReportView() const { return report_; }
    QListView *IconView() const { return icons_; }

    // Selected row, -1 when none.
    int CurrentRow() const;
    // Focuses and selects a row (nothing for a row that is not there).
    void SelectRow(int row);

    // Lines between the cells of the report view.
    void SetGridLines(bool enable);
    bool GridLines() const { return gridLines_; }

signals:
    void Clicked();
    void DoubleClicked();
    void KeyPressed(int key);
    void KeyReleased(int key);

protected:
    struct TSetup {
        QString ReportName; // object names of the two views
        QString IconName;
        // Focus given to the list (and asked of it) is the shown view's.
        bool FocusShownView = false;
        // Backspace, like Enter, is the list's own key, not the views'.
        bool OwnBackspace = false;
    };
    // Takes `model` (created without a parent) as a child.
    TRowListView(QAbstractItemModel *model, TSetup setup, QWidget *parent);
    // Widens the report's date columns `columns` so that a whole date and time fits.
    void FitDateColumns(std::initializer_list<int> columns);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemModel *model_;
    QItemSelectionModel *selection_;
    QTreeView *report_;
    QListView *icons_;
    QStackedLayout *stack_;
    TSetup setup_;
    int style_ = vsReport;
    bool gridLines_ = false;
    int widestName_ = -1; // pixels of the longest name shown; -1 until measured
    // The small-icons grid as wide as the longest name needs, within the view.
    void FitSmallIconGrid();
};
