// Which records a data set shows and in what order: filter, range and index order.
#include "storage/FlatTbl.h"

#include <algorithm>

#include "storage/FlatTblInternal.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// View

TFlatRecEntry *TFlatDataset::EntryAt(int index) const
{
    return index >= 0 && size_t(index) < view_.size() ? view_[size_t(index)] : nullptr;
}

bool TFlatDataset::InRange(const TFlatRecEntry *e) const
{
    if (!e->Data)
        return false;
    const auto check = [&](const TKeyBuffer &key, bool start) {
        if (key.UsedFields == 0 || !key.Rec)
            return true;
        std::vector<const TFlatField *> fields(key.Fields.begin(), key.Fields.begin() + key.UsedFields);
        const int c = TFlatCursor::CompareRecords(e->Data, key.Rec, fields);
        if (start)
            return c > 0 || (c == 0 && !key.Exclusive);
        return c < 0 || (c == 0 && !key.Exclusive);
    };
    return check(rangeStart_, true) && check(rangeEnd_, false);
}

bool TFlatDataset::Accepts(TFlatRecEntry *e)
{
    filterEntry_ = e;
    bool accept = true;
    if (onFilterRecord_)
        onFilterRecord_(this, accept);
    return accept;
}

size_t FlatSortOnceFrom = 20000;

const std::vector<uint32_t> &TFlatDataset::SortedOrder(bool caseInsensitive, bool descending)
{
    const TFlatCursor &store = shared_->Cursor;
    TSortedOrder &o = sortedOrder_;
    if (o.Store == &store && o.Generation == store.Generation && o.Count == store.Records.size() &&
        o.Fields == indexKey_.Fields && o.CaseInsensitive == caseInsensitive && o.Descending == descending)
        return o.Order;
    o.Store = nullptr; // no order kept should the sort fail
    TFlatCursor::SortPositions(store.Records, o.Order, indexKey_.Fields, caseInsensitive, descending);
    o.Store = &store;
    o.Generation = store.Generation;
    o.Count = store.Records.size();
    o.Fields = indexKey_.Fields;
    o.CaseInsensitive = caseInsensitive;
    o.Descending = descending;
    return o.Order;
}

void TFlatDataset::RefreshView(bool dropPosition)
{
    if (!shared_)
        return;
    const bool active = Active();
    TFlatRecEntry *remembered = nullptr;
    if (active) {
        CheckBrowseMode();
        if (!IsEmpty())
            remembered = static_cast<TFlatBuffer *>(ActiveBuffer())->Entry;
        DoBeforeScroll();
    }
    const TFlatCursor &store = shared_->Cursor;
    view_.clear();
    const bool useConditions = Filtered() && !conditions_.empty();
    if (useConditions) {
        if (!filterHost_)
            filterHost_ = std::make_unique<TFlatViewFilterHost>(this);
        filterHost_->Reset();
        ResolveConditions(conditions_, *filterHost_);
    }
    const bool caseInsensitive = FilterOptions().Contains(foCaseInsensitive);
    bool filtering = Filtered() && onFilterRecord_;
    // With a hint, only the records of its text's runs are visited. The runs are the
    // store's lookup: a copy of them (a few, as a text's records mostly come together)
    // stays valid whatever a filter looks up meanwhile.
    std::vector<TFlatCursor::TRecordRun> hinted;
    const std::vector<TFlatCursor::TRecordRun> *runs = nullptr;
    if (Filtered() && !hintField_.empty())
        runs = shared_->Cursor.RunsWithText(shared_->Cursor.FindFieldIndex(hintField_), hintValue_);
    const bool hinting = runs != nullptr;
    if (hinting) {
        hinted = *runs;
        filtering = filtering && !hintDecides_;
    }
    // Showing every record in store order needs no list of its own.
    bool everyRecord = !hinting && !useConditions && !filtering && !rangeActive_ && indexKey_.Fields.empty();
    if (everyRecord)
        for (const TFlatRecEntry *e : store.Records)
            if (e->Status == rsDead || e->Status == rsDeleted || !e->Data) {
                everyRecord = false;
                break;
            }
    size_t visited = store.Records.size();
    if (hinting) {
        visited = 0;
        for (const TFlatCursor::TRecordRun &run : hinted)
            visited += run.Count;
    }
    if (everyRecord)
        view_.ShareAll(store.Records);
    else
        view_.reserve(visited);
    const TDataSetState previous = SetTempState(dsFilter);
    try {
        const auto visit = [&](TFlatRecEntry *e) {
            if (e->Status == rsDead || e->Status == rsDeleted || !e->Data)
                return;
            if (rangeActive_ && !InRange(e))
                return;
            if (useConditions) {
                filterHost_->Entry = e;
                if (!MeetsConditions(conditions_, *filterHost_, caseInsensitive))
                    return;
            }
            if (filtering && !Accepts(e))
                return;
            view_.push_back(e);
        };
        if (hinting) {
            for (const TFlatCursor::TRecordRun &run : hinted)
                for (uint32_t i = run.From; i < run.From + run.Count; ++i)
                    visit(store.Records[i]);
        } else if (!everyRecord) {
            for (TFlatRecEntry *e : store.Records)
                visit(e);
        }
    } catch (...) {
        filterEntry_ = nullptr;
        RestoreState(previous);
        view_.clear();
        pos_ = -1;
        if (active)
            Resync();
        throw;
    }
    filterEntry_ = nullptr;
    RestoreState(previous);
    sorted_ = false;
    if (!indexKey_.Fields.empty()) {
        const bool caseInsensitive = sortOptions_.Contains(vsoCaseInsensitive);
        const bool descending = sortOptions_.Contains(vsoDescendSort);
        const size_t all = store.Records.size();
        std::vector<TFlatRecEntry *> &shown = view_.Owned();
        // A view of a good part of a large store takes its records in the order of all
        // of them sorted once: a stable sort of the whole list keeps equal keys in store
        // order, as sorting the shown ones (taken in store order) does.
        std::vector<uint8_t> taken;
        size_t matched = 0;
        if (all >= FlatSortOnceFrom && all < UINT32_MAX && shown.size() >= all / 8) {
            taken.assign(all, 0);
            for (size_t i = 0; i < all && matched < shown.size(); ++i)
                if (store.Records[i] == shown[matched]) {
                    taken[i] = 1;
                    ++matched;
                }
        }
        if (!taken.empty() && matched == shown.size()) {
            const std::vector<uint32_t> &order = SortedOrder(caseInsensitive, descending);
            shown.clear();
            for (const uint32_t i : order)
                if (taken[i])
                    shown.push_back(store.Records[i]);
        } else {
            TFlatCursor::SortEntries(shown, indexKey_.Fields, caseInsensitive, descending);
        }
        sorted_ = true;
    }
    pos_ = -1;
    if (active) {
        if (!view_.empty() && remembered && !dropPosition) {
            auto it = std::find(view_.begin(), view_.end(), remembered);
            pos_ = it == view_.end() ? -1 : int(it - view_.begin());
        }
        Resync();
        DoAfterScroll();
    }
}

void TFlatDataset::SetFilterTextHint(const std::string &field, const std::string &value, bool decides)
{
    hintField_ = field;
    hintValue_ = field.empty() ? std::string() : value;
    hintDecides_ = !field.empty() && decides;
}

void TFlatDataset::SetFiltered(bool value)
{
    TDataSet::SetFiltered(value);
    if (Active()) {
        RefreshView(true);
        First();
    }
}

void TFlatDataset::SetFilterText(const std::string &text)
{
    if (Active())
        CheckBrowseMode();
    std::vector<TFlatCondition> parsed = ParseFilterText(text); // raises on a bad text, changing nothing
    TDataSet::SetFilterText(text);
    conditions_ = std::move(parsed);
    if (filterHost_)
        filterHost_->Reset();
    if (Active())
        RefreshView();
}

void TFlatDataset::SetRange(const std::string &startValues, const std::string &endValues, bool startExclusive,
                            bool endExclusive)
{
    if (Active())
        CheckBrowseMode();
    rangeStart_ = SetupKey(RangeFieldNames);
    rangeEnd_ = SetupKey(RangeFieldNames);
    FillKey(rangeStart_, startValues);
    FillKey(rangeEnd_, endValues);
    rangeStart_.Exclusive = startExclusive;
    rangeEnd_.Exclusive = endExclusive;
}

void TFlatDataset::ApplyRange()
{
    rangeActive_ = true;
    if (Active())
        RefreshView();
}

void TFlatDataset::CancelRange()
{
    rangeActive_ = false;
    if (Active())
        RefreshView();
}
