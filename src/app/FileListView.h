#pragma once
// The file list of the main window: one model shown in four view styles
// (list, icons, small icons, report). A report view and a list view share the
// model and one selection model; the style decides which of them is shown.
#include <QWidget>

#include "app/FileListModel.h"

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTreeView;

// Setting 18's numbers.
enum TListViewStyle { vsList = 1, vsIcon = 2, vsSmallIcon = 3, vsReport = 4 };

class TFileListView : public QWidget {
    Q_OBJECT
public:
    explicit TFileListView(QWidget *parent = nullptr);

    TFileListModel *Model() const { return model_; }
    // 1 list, 2 icons, 3 small icons, 4 report; other numbers are ignored.
    void SetViewStyle(int style);
    int ViewStyle() const { return style_; }
    QAbstractItemView *ActiveView() const;
    QTreeView *ReportView() const { return report_; }
    QListView *IconView() const { return icons_; }

    // Selected row, -1 when none.
    int CurrentRow() const;
    const TFileRow *SelectedRow() const { return model_->Row(CurrentRow()); }
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
    TFileListModel *model_;
    QItemSelectionModel *selection_;
    QTreeView *report_;
    QListView *icons_;
    QStackedLayout *stack_;
    int style_ = vsReport;
};
