// The file list's rows and model.
#include "app/FileListModel.h"

#include <algorithm>

#include "app/BrowseText.h"
#include "platform/QtText.h"

bool FileRowLess(const TFileRow &a, const TFileRow &b, bool tracks)
{
    if (a.IsFolder() != b.IsFolder())
        return a.IsFolder();
    if (tracks && !a.IsFolder())
        return CompareNamesFoldAZ(a.LoadName, b.LoadName) < 0;
    return CompareNamesFoldAZ(a.Name, b.Name) < 0;
}

void SortFileRows(std::vector<TFileRow> &rows, bool tracks)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [tracks](const TFileRow &a, const TFileRow &b) { return FileRowLess(a, b, tracks); });
}

TFileListModel::TFileListModel(QObject *parent)
    : TRowListModel({QStringLiteral("Name"),     QStringLiteral("Size"),       QStringLiteral("TypeName"),
                     QStringLiteral("CreateDate"), QStringLiteral("LastChange"), QStringLiteral("Fullpath"),
                     QStringLiteral("Type"),     QStringLiteral("Namecd"),     QStringLiteral("Attrib"),
                     QStringLiteral("Number"),   QStringLiteral("Size_Tech"),  QStringLiteral("FType"),
                     QStringLiteral("LoadName"), QStringLiteral("MusicOrder"), QStringLiteral("CdIdCode")},
                    1, parent)
{
}

QString TFileListModel::ColumnText(const TFileRow &row, int column)
{
    switch (column) {
    case 0: return ToQString(row.Name);
    case 1: return ToQString(row.SizeText);
    case 2: return row.TypeName;
    case 3: return ToQString(row.CreateDate);
    case 4: return ToQString(row.LastChange);
    case 5: return ToQString(row.FullName);
    case 6: return QString::number(row.Type);
    case 7: return ToQString(row.Namecd);
    case 8: return QString::number(row.Attrib);
    case 9: return ToQString(row.Number);
    case 10: return ToQString(row.SizeTech);
    case 11: return QString::number(row.FType);
    case 12: return ToQString(row.LoadName);
    case 13: return QString::number(row.MusicOrder);
    case 14: return ToQString(row.CdIdCode);
    default: return {};
    }
}
