// The search result list's rows, model and four view styles.
#include "app/search/SearchListView.h"

#include <QTreeView>

#include <algorithm>

#include "app/browse/BrowseText.h"
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
    : TRowListModel({QStringLiteral("Name"),      QStringLiteral("Nr"),       QStringLiteral("Drive"),
                     QStringLiteral("Size"),      QStringLiteral("TypeName"), QStringLiteral("LastChange"),
                     QStringLiteral("CreateDate"), QStringLiteral("Type"),    QStringLiteral("FullPath"),
                     QStringLiteral("Attrib"),    QStringLiteral("Note"),     QStringLiteral("Archive"),
                     QStringLiteral("Size_tech"), QStringLiteral("FType"),    QStringLiteral("LoadName"),
                     QStringLiteral("CdIdCode")},
                    3, parent)
{
}

QString TSearchListModel::CellText(const TSearchRow &row, int column) const
{
    return column == 0 ? ToQString(row.Name) : row.SubItem(column - 1);
}

namespace {

// Report widths: the seven shown columns, then the data columns. Note and
// Size_tech keep a default width; the others carry data only and stay hidden.
constexpr int ColumnWidths[TSearchListModel::ColumnCount] = {180, 40, 130, 80, 110, 120, 120, 0,
                                                             0,   0,  100, 0,  100, 0,   0,   0};

} // namespace

TSearchListView::TSearchListView(QWidget *parent)
    : TRowListView(new TSearchListModel,
                   {QStringLiteral("SearchReportView"), QStringLiteral("SearchIconView"), true, false}, parent),
      model_(static_cast<TSearchListModel *>(ReportView()->model()))
{
    for (int c = 0; c < TSearchListModel::ColumnCount; ++c) {
        ReportView()->setColumnWidth(c, ColumnWidths[c]);
        ReportView()->setColumnHidden(c, ColumnWidths[c] == 0);
    }
    FitDateColumns({5, 6});
}
