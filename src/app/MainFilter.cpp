// Record filters of the file table and the work table outside a search: the
// file table admits the records of the current disc, the work table those of
// the current folder. Both compare exactly.
#include "app/Main.h"

void TMainForm::FlatTable1FilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *disc = DataSet ? DataSet->FindField("Namecd") : nullptr;
    Accept = disc && disc->AsString() == Browse.CurrentDisc;
}

void TMainForm::FinalExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *path = DataSet ? DataSet->FindField("Path") : nullptr;
    Accept = path && path->AsString() == Browse.CurrentPath;
}
