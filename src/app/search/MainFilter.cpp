// The record filters of the main window. Outside a search the file table's
// filter admits the records of the current disc and the work table's those of
// the current folder, both compared exactly. During a search one of eight
// methods (case option, date criterion, size criterion) decides by the search
// texts, the disc choice and the date and size bounds.
#include "app/Main.h"

#include <QProgressBar>

#include "util/TextCodec.h"

namespace {

// The search branch of the filter family. `Exact` compares texts as stored,
// otherwise upper-cased by the locale; `Date` and `Size` add those tests.
template <bool Exact, bool Date, bool Size>
void SearchFilter(TMainForm &form, TDataSet *dataSet, bool &accept)
{
    TSearchState &s = form.Search;
    // The texts are read as the record keeps them, without a copy: the text
    // tests and the comparisons below read Windows-1250 as its decoded text.
    static std::string scratch, decoded;
    if (!s.Flag) {
        TField *disc = dataSet ? dataSet->FindField("Namecd") : nullptr;
        accept = disc && StoredTextView(disc->StoredText(scratch), decoded) == form.Browse.CurrentDisc;
        return;
    }
    {
        // Each criterion given applies on its own: a date range or a disc
        // without a name or note text finds what it says. The tests have no
        // effects, so the cheap disc comparison goes before the text searches.
        auto text = [](const TTextMatch &m, TField *f) {
            if (!f)
                return false;
            const std::string_view value = f->StoredText(scratch);
            return Exact ? m.Exact(value) : m.Folded(value);
        };
        bool ok = true;
        if (s.DiscIndex > 0)
            ok = s.DiscField && StoredTextView(s.DiscField->StoredText(scratch), decoded) == s.DiscText;
        if (ok && s.NameGiven)
            ok = text(s.NameMatch, s.NameField);
        if (ok && s.NoteGiven)
            ok = text(s.NoteMatch, s.NoteField);
        if constexpr (Date) {
            if (ok)
                ok = s.DateField && s.Criteria.DateWithin(StoredTextView(s.DateField->StoredText(scratch), decoded),
                                                          DefaultFormatSettings(), s.CurrentYear);
        }
        if constexpr (Size) {
            if (ok)
                ok = s.SizeField && s.Criteria.SizeWithin(StoredTextView(s.SizeField->StoredText(scratch), decoded));
        }
        accept = ok;
    }
    if (++s.ProgressCounter == s.ProgressStep) {
        s.ProgressCounter = 0;
        if (QProgressBar *bar = form.ProgressBar1) {
            bar->setValue(std::min(bar->maximum(), bar->value() + 1));
            // Painted at once (the search holds the event loop), though not
            // more often than the eye can follow.
            if (!s.ProgressPainted.isValid() || s.ProgressPainted.elapsed() >= 40) {
                bar->repaint();
                s.ProgressPainted.start();
            }
        }
    }
}

} // namespace

void TMainForm::FlatTable1FilterRecord(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<false, false, false>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Case(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<true, false, false>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Size(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<false, false, true>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Size_Case(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<true, false, true>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Time(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<false, true, false>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Time_Case(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<true, true, false>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Time_Size(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<false, true, true>(*this, DataSet, Accept);
}

void TMainForm::FlatTable1FilterRecord_Time_Size_Case(TDataSet *DataSet, bool &Accept)
{
    SearchFilter<true, true, true>(*this, DataSet, Accept);
}

TDataSet::TFilterRecordEvent TMainForm::SearchFilterMethod(bool exact, bool date, bool size)
{
    using Method = void (TMainForm::*)(TDataSet *, bool &);
    static constexpr Method methods[2][2][2] = {
        {{&TMainForm::FlatTable1FilterRecord, &TMainForm::FlatTable1FilterRecord_Size},
         {&TMainForm::FlatTable1FilterRecord_Time, &TMainForm::FlatTable1FilterRecord_Time_Size}},
        {{&TMainForm::FlatTable1FilterRecord_Case, &TMainForm::FlatTable1FilterRecord_Size_Case},
         {&TMainForm::FlatTable1FilterRecord_Time_Case, &TMainForm::FlatTable1FilterRecord_Time_Size_Case}}};
    const Method m = methods[exact][date][size];
    return [this, m](TDataSet *d, bool &accept) { (this->*m)(d, accept); };
}

void TMainForm::FinalExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept)
{
    TField *path = DataSet ? DataSet->FindField("Path") : nullptr;
    Accept = path && path->AsString() == Browse.CurrentPath;
}
