// The file list's columns and keys.
#include "app/browse/FileListView.h"

#include <QTreeView>

namespace {

// Column widths of the report style; the last column is kept out of sight.
constexpr int ColumnWidths[TFileListModel::ColumnCount] = {180, 80, 100, 85, 85, 112, 112, 112,
                                                           112, 112, 112, 112, 112, 112, 0};

} // namespace

TFileListView::TFileListView(QWidget *parent)
    : TRowListView(new TFileListModel,
                   {QStringLiteral("LinksReportView"), QStringLiteral("LinksIconView"), false, true}, parent),
      model_(static_cast<TFileListModel *>(ReportView()->model()))
{
    for (int c = 0; c < TFileListModel::ColumnCount; ++c)
        ReportView()->setColumnWidth(c, ColumnWidths[c]);
    FitDateColumns({3, 4});
    // The report shows the five columns a user reads; the others carry the
    // record's fields for the handlers and stay out of sight.
    for (int c = TFileListModel::ShownColumnCount; c < TFileListModel::ColumnCount; ++c)
        ReportView()->setColumnHidden(c, true);
}
