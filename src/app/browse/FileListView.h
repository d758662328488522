#pragma once
// The file list of the main window: the file rows in the four view styles of a
// row list.
#include "app/browse/FileListModel.h"
#include "app/browse/RowListView.h"

class TFileListView : public TRowListView {
    Q_OBJECT
public:
    explicit TFileListView(QWidget *parent = nullptr);

    TFileListModel *Model() const { return model_; }
    const TFileRow *SelectedRow() const { return model_->Row(CurrentRow()); }
    int Count() const { return model_->Count(); }
    void clear() { model_->Clear(); }

private:
    TFileListModel *model_;
};
