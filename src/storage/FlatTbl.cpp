#include "storage/FlatTbl.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "storage/FlatFmt.h"
#include "util/BaseDateTime.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

namespace {

// A table file that could not be read (as opposed to one whose bytes are refused).
class EFlatReadFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TFieldType FrameworkType(const TFlatField &f)
{
    switch (f.TypeCode) {
    case fftSmallInt: return ftSmallint;
    case fftInteger: return ftInteger;
    case fftInt64: return ftLargeint;
    case fftBoolean: return ftBoolean;
    case fftDouble: return ftFloat;
    case fftCurrency: return ftCurrency;
    case fftDate: return ftDate;
    case fftTime: return ftTime;
    case fftDateTime: return ftDateTime;
    case fftAutoInc: return ftAutoInc;
    case fftSmallStr:
    case fftString: return ftString;
    case fftBlob: return ftBlob;
    case fftMemo: return ftMemo;
    case fftFmtMemo: return ftFmtMemo;
    case fftGraphic: return ftGraphic;
    default: return ftUnknown;
    }
}

int64_t ToInt(const TVariant &v)
{
    if (auto i = std::get_if<int64_t>(&v)) return *i;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto d = std::get_if<double>(&v)) return std::isfinite(*d) ? int64_t(std::llround(*d)) : 0;
    if (auto s = std::get_if<std::string>(&v)) {
        char *end = nullptr;
        const long long x = std::strtoll(s->c_str(), &end, 10);
        return (end && *end == '\0' && !s->empty()) ? x : 0;
    }
    return 0;
}

double ToDouble(const TVariant &v)
{
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto i = std::get_if<int64_t>(&v)) return double(*i);
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto s = std::get_if<std::string>(&v)) {
        char *end = nullptr;
        const double x = std::strtod(s->c_str(), &end);
        return (end && *end == '\0' && !s->empty()) ? x : 0;
    }
    return 0;
}

std::string Blank2Underscore(std::string s)
{
    std::replace(s.begin(), s.end(), ' ', '_');
    return s;
}

std::vector<std::string> SplitTabs(const std::string &text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        const size_t tab = text.find('\t', pos);
        out.push_back(text.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos)
            break;
        pos = tab + 1;
    }
    return out;
}

void LocalNow(std::tm &tm, int &ms)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    localtime_r(&t, &tm);
    ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
}

TDateTime EncodeNow(bool withTime)
{
    std::tm tm{};
    int ms = 0;
    LocalNow(tm, ms);
    double dt = double(DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + UnixDateDelta);
    if (withTime)
        dt += (tm.tm_hour * 3600000.0 + tm.tm_min * 60000.0 + tm.tm_sec * 1000.0 + ms) / double(MSecsPerDay);
    return dt;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Dates

TDateTime FlatDateToDateTime(int32_t dayNumber) { return double(int64_t(dayNumber) - DateDelta); }

int32_t FlatDateTimeToDate(TDateTime value)
{
    if (!std::isfinite(value))
        return 0;
    const double d = std::trunc(value) + DateDelta;
    return d < INT32_MIN || d > INT32_MAX ? 0 : int32_t(d);
}

TDateTime FlatMsecsToDateTime(double msecs)
{
    if (!std::isfinite(msecs) || msecs == 0.0)
        return 0.0;
    const double days = std::trunc(msecs / MSecsPerDay);
    const double rest = std::fabs(msecs - days * MSecsPerDay) / MSecsPerDay;
    const double dt = days - DateDelta;
    return dt >= 0 ? dt + rest : dt - rest;
}

double FlatDateTimeToMsecs(TDateTime value)
{
    if (!std::isfinite(value))
        return 0.0;
    const double days = std::trunc(value) + DateDelta;
    const double time = std::round(std::fabs(value - std::trunc(value)) * MSecsPerDay);
    return days * MSecsPerDay + time;
}

std::string FlatUniqueCode()
{
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static int counter = -1;
    std::tm tm{};
    int ms = 0;
    LocalNow(tm, ms);
    if (counter < 0)
        counter = tm.tm_hour * 60 + tm.tm_min;
    else if (++counter >= 3844)
        counter = 0;
    // Hours since 1 November 2000, 0:00.
    std::tm epoch{};
    epoch.tm_year = 100;
    epoch.tm_mon = 10;
    epoch.tm_mday = 1;
    epoch.tm_isdst = -1;
    std::tm day = tm;
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    day.tm_isdst = -1;
    const long days = std::lround(std::difftime(std::mktime(&day), std::mktime(&epoch)) / 86400.0);
    long hours = days * 24 + tm.tm_hour;
    if (hours >= 238328)
        hours -= 238328;
    if (hours < 0)
        hours = 0;
    const auto put = [&](std::string &s, long value, int width) {
        std::string part(size_t(width), '0');
        for (int i = width - 1; i >= 0; --i) {
            part[size_t(i)] = digits[value % 62];
            value /= 62;
        }
        s += part;
    };
    std::string code;
    put(code, hours, 3);
    put(code, tm.tm_min * 60 + tm.tm_sec, 2);
    put(code, long(ms / 10) * 1922 + counter, 3);
    return code;
}

// ---------------------------------------------------------------------------------------
// Master link

class TFlatMasterLink : public TDataLink {
public:
    explicit TFlatMasterLink(TFlatDataset *detail) : detail_(detail) {}
    void ActiveChanged() override { detail_->MasterChanged(); }
    void DataSetChanged() override { detail_->MasterChanged(); }
    void DataSetScrolled(int) override { detail_->MasterChanged(); }
    void RecordChanged(TField *field) override
    {
        if (!field)
            detail_->MasterChanged();
    }

private:
    TFlatDataset *detail_;
};

// ---------------------------------------------------------------------------------------
// Filter conditions read the entry under test straight from the store.

class TFlatViewFilterHost : public TFlatFilterHost {
public:
    explicit TFlatViewFilterHost(TFlatDataset *ds) : ds_(ds) {}
    TFlatRecEntry *Entry = nullptr;

    const TFlatCursor &Store() const { return *ds_->Cursor(); }
    int FieldIndex(const std::string &name) const override { return Store().FindFieldIndex(name); }
    int FieldTypeCode(int index) const override { return Store().Fields[size_t(index)].TypeCode; }
    TVariant FieldValue(int index) override
    {
        if (!Entry || !Entry->Data)
            return {};
        bool notNull = false;
        TVariant v = ds_->ReadValue(Entry->Data, Store().Fields[size_t(index)], ftUnknown, notNull);
        return notNull ? v : TVariant{};
    }
    int CompareFields(int a, int b, bool caseInsensitive) override
    {
        const TVariant x = FieldValue(a), y = FieldValue(b);
        if (VarIsNull(x) || VarIsNull(y))
            return VarIsNull(x) == VarIsNull(y) ? 0 : (VarIsNull(x) ? -1 : 1);
        const auto *sx = std::get_if<std::string>(&x), *sy = std::get_if<std::string>(&y);
        if (sx && sy)
            return FlatCompareText(*sx, *sy, caseInsensitive);
        const double dx = ToDouble(x), dy = ToDouble(y);
        return dx < dy ? -1 : (dx > dy ? 1 : 0);
    }
    int CompareWithText(int index, const std::string &constant, bool caseInsensitive) override
    {
        if (!Entry || !Entry->Data)
            return -1;
        const TFlatField &f = Store().Fields[size_t(index)];
        // The constant is converted once into a record of its own and compared by the
        // engine's rules for the field's type.
        auto key = std::make_pair(index, constant);
        auto it = constants_.find(key);
        if (it == constants_.end()) {
            TFlatRecord rec = TFlatRecord::Make(Store().RecordSize);
            ds_->WriteText(rec, f, constant, ftUnknown);
            it = constants_.emplace(key, std::move(rec)).first;
        }
        return TFlatCursor::CompareValues(Entry->Data, it->second, f, caseInsensitive);
    }
    void Reset() { constants_.clear(); }

private:
    TFlatDataset *ds_;
    std::map<std::pair<int, std::string>, TFlatRecord> constants_;
};

// ---------------------------------------------------------------------------------------
// TFlatDataset: properties

TFlatDataset::TFlatDataset() { SetBookmarkSize(int(sizeof(TFlatRecEntry *))); }

TFlatDataset::~TFlatDataset()
{
    // The most derived table has closed us already (its overrides are gone by now).
    CloseClonesNoThrow();
    DetachNoThrow();
    masterLink_.reset();
    if (database_) {
        auto &m = database_->members_;
        m.erase(std::remove(m.begin(), m.end(), this), m.end());
        database_->Leave(database_->open_, this);
        database_->Leave(database_->changed_, this);
    }
}

void TFlatDataset::CloseClonesNoThrow() noexcept
{
    const auto clones = clones_;
    for (TFlatDataset *c : clones) {
        try {
            c->Close();
        } catch (...) {
        }
        c->DetachNoThrow();
    }
    clones_.clear();
}

// Lets go of the shared store and the clone bookkeeping without raising.
void TFlatDataset::DetachNoThrow() noexcept
{
    if (cloneSource_) {
        auto &list = cloneSource_->clones_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        cloneSource_ = nullptr;
    }
    if (shared_) {
        auto &v = shared_->Views;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        shared_.reset();
    }
    view_.clear();
    pos_ = -1;
}

void TFlatDataset::SetDatabase(TFlatDatabase *database)
{
    if (database == database_)
        return;
    Close();
    if (database_) {
        auto &m = database_->members_;
        m.erase(std::remove(m.begin(), m.end(), this), m.end());
    }
    database_ = database;
    if (database_)
        database_->members_.push_back(this);
}

void TFlatDataset::SetIndexFieldNames(const std::string &names)
{
    if (Active())
        CheckBrowseMode();
    indexFieldNames_ = names;
    if (Active()) {
        indexKey_ = SetupKey(names);
        RefreshView();
    }
}

void TFlatDataset::SetSortOptions(TFlatSortOptions options)
{
    sortOptions_ = options;
    if (Active())
        RefreshView();
}

TDataSource *TFlatDataset::MasterSource() const { return masterLink_ ? masterLink_->DataSource() : nullptr; }

void TFlatDataset::SetMasterFields(const std::string &names)
{
    masterFields_ = names;
    if (Active())
        MasterChanged();
}

void TFlatDataset::SetMasterSource(TDataSource *source)
{
    if (source) {
        if (source->DataSet() && !dynamic_cast<TFlatDataset *>(source->DataSet()))
            DatabaseError(SMasterNotFlat);
        // Walk the chain of masters: it must not come back to us.
        for (TDataSet *ds = source->DataSet(); ds;) {
            if (ds == this)
                DatabaseError(SCircularDataLink);
            auto *flat = dynamic_cast<TFlatDataset *>(ds);
            TDataSource *next = flat ? flat->MasterSource() : nullptr;
            ds = next ? next->DataSet() : nullptr;
        }
    }
    if (!masterLink_)
        masterLink_ = std::make_unique<TFlatMasterLink>(this);
    masterLink_->SetDataSource(source);
    if (Active())
        MasterChanged();
}

void TFlatDataset::MasterChanged()
{
    if (!Active() || State() != dsBrowse)
        return;
    if (masterLink_ && masterLink_->DataSource() && masterLink_->Active() && !masterFields_.empty()) {
        UpdateMasterRange();
        rangeActive_ = true;
        RefreshView(true);
        First();
    } else if (rangeActive_ && masterLink_ && masterLink_->DataSource()) {
        CancelRange();
    }
}

void TFlatDataset::UpdateMasterRange()
{
    TDataSet *master = masterLink_->DataSet();
    std::string values;
    const auto fields = master->GetFieldList(masterFields_);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            values += '\t';
        values += master->IsEmpty() ? std::string() : fields[i]->AsString();
    }
    rangeStart_ = SetupKey(RangeFieldNames);
    rangeEnd_ = SetupKey(RangeFieldNames);
    FillKey(rangeStart_, values);
    FillKey(rangeEnd_, values);
}

// ---------------------------------------------------------------------------------------
// Changes

void TFlatDataset::CountChange()
{
    if (++changes_ == 1) {
        if (database_)
            database_->Join(database_->changed_, this);
        if (OnNeedToSaveChange)
            OnNeedToSaveChange(this);
    }
}

void TFlatDataset::UncountChange()
{
    if (changes_ == 0)
        return;
    if (--changes_ == 0) {
        if (database_)
            database_->Leave(database_->changed_, this);
        if (OnNeedToSaveChange)
            OnNeedToSaveChange(this);
    }
}

void TFlatDataset::ResetChanges()
{
    changes_ = 0;
    if (database_)
        database_->Leave(database_->changed_, this);
    if (OnNeedToSaveChange)
        OnNeedToSaveChange(this);
}

void TFlatDataset::Flush()
{
    if (State() == dsEdit || State() == dsInsert)
        Post();
    Save();
}

void TFlatDataset::SettleChanges(bool commit)
{
    if (!shared_)
        DatabaseError(SClosedDataset);
    if (State() == dsEdit || State() == dsInsert)
        commit ? Post() : Cancel();
    if (commit)
        shared_->Cursor.CommitAll();
    else
        shared_->Cursor.RevertAll();
    for (TFlatDataset *v : std::vector<TFlatDataset *>(shared_->Views))
        v->RefreshView(v != this);
    ResetChanges();
}

void TFlatDataset::CancelChanges() { SettleChanges(false); }

void TFlatDataset::CommitChanges() { SettleChanges(true); }

void TFlatDataset::ApplyDateFormat()
{
    for (int i = 0; i < FieldCount(); ++i)
        Fields(i).Origin = dateFormat_;
}

void TFlatDataset::SaveToFile(const std::string &fileName)
{
    if (!shared_)
        DatabaseError(SClosedDataset);
    std::string error;
    if (!shared_->Cursor.SaveToFile(fileName, SaveOptions, sortOptions_.Contains(vsoCaseInsensitive),
                                    indexFieldNames_, error))
        DatabaseError(error);
    if (SaveOptions & savSortOnIndex)
        for (TFlatDataset *v : std::vector<TFlatDataset *>(shared_->Views))
            if (!v->sorted_)
                v->RefreshView();
}

void TFlatDataset::EmptyTable()
{
    if (!shared_ || !Active())
        DatabaseError(SClosedDataset);
    if (State() == dsEdit || State() == dsInsert)
        Cancel();
    shared_->Cursor.Clear(false);
    // Every view over the store (ours and the clones') points into the released entries.
    for (TFlatDataset *v : std::vector<TFlatDataset *>(shared_->Views)) {
        v->view_.clear();
        v->pos_ = -1;
        if (v->Active()) {
            if (v->State() == dsEdit || v->State() == dsInsert)
                v->Cancel();
            v->Resync();
        }
    }
    CountChange();
}

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
    const bool filtering = Filtered() && onFilterRecord_;
    const std::vector<TFlatRecEntry *> *visited = &store.Records;
    if (Filtered() && !hintField_.empty()) {
        if (const auto *hinted = shared_->Cursor.RecordsWithText(shared_->Cursor.FindFieldIndex(hintField_), hintValue_))
            visited = hinted;
    }
    // Showing every record in store order needs no list of its own.
    bool everyRecord = visited == &store.Records && !useConditions && !filtering && !rangeActive_ &&
                       indexKey_.Fields.empty();
    if (everyRecord)
        for (const TFlatRecEntry *e : store.Records)
            if (e->Status == rsDead || e->Status == rsDeleted || !e->Data) {
                everyRecord = false;
                break;
            }
    if (everyRecord)
        view_.ShareAll(store.Records);
    else
        view_.reserve(visited->size());
    const TDataSetState previous = SetTempState(dsFilter);
    try {
        static const std::vector<TFlatRecEntry *> none;
        for (TFlatRecEntry *e : everyRecord ? none : *visited) {
            if (e->Status == rsDead || e->Status == rsDeleted || !e->Data)
                continue;
            if (rangeActive_ && !InRange(e))
                continue;
            if (useConditions) {
                filterHost_->Entry = e;
                if (!MeetsConditions(conditions_, *filterHost_, caseInsensitive))
                    continue;
            }
            if (filtering && !Accepts(e))
                continue;
            view_.push_back(e);
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

void TFlatDataset::SetFilterTextHint(const std::string &field, const std::string &value)
{
    hintField_ = field;
    hintValue_ = field.empty() ? std::string() : value;
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

// ---------------------------------------------------------------------------------------
// Keys and searching

TFlatDataset::TKeyBuffer TFlatDataset::SetupKey(const std::string &names) const
{
    TKeyBuffer key;
    if (!shared_)
        return key;
    TFlatCursor &store = shared_->Cursor;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t semi = names.find(';', pos);
        if (semi == std::string::npos)
            semi = names.size();
        std::string name = names.substr(pos, semi - pos);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        pos = semi + 1;
        if (name.empty())
            continue;
        TField *field = FindField(name);
        if (field && field->Calculated())
            DatabaseError(SCalcOrBlobKeyFields);
        const int index = store.FindFieldIndex(name);
        if (index < 0)
            continue;
        TFlatField &f = store.Fields[size_t(index)];
        if (IsFlatBlobType(f.TypeCode))
            DatabaseError(SCalcOrBlobKeyFields);
        if (field && f.TypeCode == fftSmallStr)
            f.Numeric = field->Alignment == taRightJustify;
        key.Fields.push_back(&f);
    }
    key.UsedFields = int(key.Fields.size());
    key.Rec = TFlatRecord::Make(store.RecordSize);
    return key;
}

void TFlatDataset::WriteText(TFlatRecord &rec, const TFlatField &f, const std::string &text, TFieldType)
{
    const TFlatCursor &store = shared_->Cursor;
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftAutoInc:
        WriteValue(rec, f, int64_t(ToInt(text)), ftLargeint);
        break;
    case fftBoolean: {
        const std::string up = FlatUpperCase(text);
        const bool b = up == "TRUE" || up == "YES" || up == "T" || up == "1" || up == "\xC4\xC0";
        WriteValue(rec, f, b, ftBoolean);
        break;
    }
    case fftDouble:
    case fftCurrency:
        WriteValue(rec, f, ToDouble(text), ftFloat);
        break;
    case fftDate:
    case fftTime:
    case fftDateTime: {
        TDateTime dt = 0;
        if (!TextToDateTime(text, FrameworkType(f), dt))
            dt = 0;
        WriteValue(rec, f, dt, FrameworkType(f));
        break;
    }
    case fftSmallStr:
    case fftString:
        WriteValue(rec, f, std::string(CutToCharWidth(text, f.MaxLength)), ftString);
        break;
    case fftMemo:
    case fftFmtMemo:
        rec.SetVar(store.Fields, store.RecordSize, f, text);
        break;
    default:
        break;
    }
}

void TFlatDataset::FillKey(TKeyBuffer &key, const std::string &tabValues)
{
    if (!key.Rec)
        return;
    key.Rec = TFlatRecord::Make(shared_->Cursor.RecordSize);
    const auto values = SplitTabs(tabValues);
    key.UsedFields = int(std::min(values.size(), key.Fields.size()));
    for (int i = 0; i < key.UsedFields; ++i)
        WriteText(key.Rec, *key.Fields[size_t(i)], values[size_t(i)], ftUnknown);
}

int TFlatDataset::SearchKey(const TKeyBuffer &key) const
{
    if (view_.empty() || key.UsedFields == 0)
        return -1;
    const std::vector<const TFlatField *> fields(key.Fields.begin(), key.Fields.begin() + key.UsedFields);
    bool binary = sorted_ && !sortOptions_.Contains(vsoCaseInsensitive) && fields.size() <= indexKey_.Fields.size();
    for (size_t i = 0; binary && i < fields.size(); ++i)
        binary = fields[i] == indexKey_.Fields[i];
    if (binary) {
        const bool desc = sortOptions_.Contains(vsoDescendSort);
        // The first entry that is not before the key, so equal keys are found at their first.
        auto it = std::lower_bound(view_.begin(), view_.end(), &key, [&](TFlatRecEntry *e, const TKeyBuffer *k) {
            const int c = TFlatCursor::CompareRecords(e->Data, k->Rec, fields);
            return desc ? c > 0 : c < 0;
        });
        if (it != view_.end() && TFlatCursor::CompareRecords((*it)->Data, key.Rec, fields) == 0)
            return int(it - view_.begin());
        return -1;
    }
    for (size_t i = 0; i < view_.size(); ++i)
        if (view_[i]->Data && TFlatCursor::CompareRecords(view_[i]->Data, key.Rec, fields) == 0)
            return int(i);
    return -1;
}

void TFlatDataset::GoToIndex(int index)
{
    DoBeforeScroll();
    pos_ = index;
    Resync();
    DoAfterScroll();
}

bool TFlatDataset::FindKey(const std::string &fieldNames, const std::string &values)
{
    CheckBrowseMode();
    TKeyBuffer key = SetupKey(fieldNames);
    FillKey(key, values);
    const int index = SearchKey(key);
    if (index < 0)
        return false;
    GoToIndex(index);
    return true;
}

bool TFlatDataset::Locate(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                          TLocateOptions options)
{
    CheckBrowseMode();
    if (view_.empty() || keyFields.empty() || keyValues.empty())
        return false;
    if (keyValues.size() == 1 && VarIsNull(keyValues[0]))
        return false;
    const std::vector<TField *> fields = GetFieldList(keyFields);
    if (fields.empty())
        return false;
    int found = -1;
    if (options.Empty()) {
        TKeyBuffer key = SetupKey(keyFields);
        key.Rec = TFlatRecord::Make(shared_->Cursor.RecordSize);
        key.UsedFields = int(std::min(key.Fields.size(), keyValues.size()));
        for (int i = 0; i < key.UsedFields; ++i) {
            const TVariant &v = keyValues[size_t(i)];
            const TFlatField &f = *key.Fields[size_t(i)];
            if (auto s = std::get_if<std::string>(&v))
                WriteText(key.Rec, f, *s, ftUnknown);
            else
                WriteValue(key.Rec, f, v, FrameworkType(f));
        }
        found = SearchKey(key);
    } else {
        const bool ci = options.Contains(loCaseInsensitive), partial = options.Contains(loPartialKey);
        struct Key {
            TField *field;
            const TFlatField *store;
            TVariant value;
            std::string text;
        };
        std::vector<Key> keys;
        for (size_t i = 0; i < fields.size(); ++i) {
            const TVariant v = i < keyValues.size() ? keyValues[i] : TVariant{};
            const TFlatField *sf = StoreField(fields[i]);
            const bool isText = sf && (sf->TypeCode == fftSmallStr || sf->TypeCode == fftString);
            keys.push_back({fields[i], sf, v, isText && !VarIsNull(v) ? DecodeStoredText(VarToStr(v)) : std::string()});
        }
        const TDataSetState previous = SetTempState(dsFilter);
        std::string scratch;
        try {
            for (size_t i = 0; i < view_.size() && found < 0; ++i) {
                TFlatRecEntry *e = view_[i];
                if (!e->Data)
                    continue;
                filterEntry_ = e;
                bool match = true;
                for (const Key &k : keys) {
                    if (VarIsNull(k.value)) {
                        match = false;
                        break;
                    }
                    if (k.store && (k.store->TypeCode == fftSmallStr || k.store->TypeCode == fftString)) {
                        // The key is the program's text; so is the value it meets.
                        const std::string_view stored = k.store->TypeCode == fftSmallStr
                                                            ? FlatGetSmallStr(e->Data, *k.store)
                                                            : e->Data.Var(*k.store);
                        if (stored.empty()) { // NULL never matches
                            match = false;
                            break;
                        }
                        if (partial) {
                            // The key's length counts in the decoded text.
                            const std::string_view text = StoredTextView(stored, scratch);
                            match = text.size() >= k.text.size() &&
                                    FlatCompareText(text.substr(0, k.text.size()), k.text, ci) == 0;
                        } else {
                            match = FlatCompareText(stored, k.text, ci) == 0; // decodes as it compares
                        }
                    } else {
                        const TVariant v = k.field->Value();
                        match = !VarIsNull(v) && VarEquals(v, k.field->Canonical(k.value));
                    }
                    if (!match)
                        break;
                }
                if (match)
                    found = int(i);
            }
        } catch (...) {
            filterEntry_ = nullptr;
            RestoreState(previous);
            throw;
        }
        filterEntry_ = nullptr;
        RestoreState(previous);
    }
    if (found < 0)
        return false;
    GoToIndex(found);
    return true;
}

std::vector<TVariant> TFlatDataset::Lookup(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                                           const std::string &resultFields)
{
    CheckBrowseMode();
    const std::vector<TField *> results = GetFieldList(resultFields);
    std::vector<TVariant> answer(results.empty() ? 1 : results.size());
    if (view_.empty() || keyFields.empty() || keyValues.empty() ||
        (keyValues.size() == 1 && VarIsNull(keyValues[0])))
        return answer;
    TKeyBuffer key = SetupKey(keyFields);
    key.UsedFields = int(std::min(key.Fields.size(), keyValues.size()));
    for (int i = 0; i < key.UsedFields; ++i) {
        const TVariant &v = keyValues[size_t(i)];
        if (auto s = std::get_if<std::string>(&v))
            WriteText(key.Rec, *key.Fields[size_t(i)], *s, ftUnknown);
        else
            WriteValue(key.Rec, *key.Fields[size_t(i)], v, FrameworkType(*key.Fields[size_t(i)]));
    }
    const int index = SearchKey(key);
    if (index < 0)
        return answer;
    TFlatBuffer buffer;
    buffer.Rec = view_[size_t(index)]->Data;
    buffer.Entry = view_[size_t(index)];
    buffer.Calc.resize(size_t(FieldCount()));
    GetCalcFields(buffer);
    const TDataSetState previous = SetTempState(dsFilter);
    filterEntry_ = buffer.Entry;
    filterBuffer_ = &buffer;
    try {
        for (size_t i = 0; i < results.size(); ++i)
            answer[i] = results[i]->Value();
    } catch (...) {
        filterEntry_ = nullptr;
        filterBuffer_ = nullptr;
        RestoreState(previous);
        throw;
    }
    filterEntry_ = nullptr;
    filterBuffer_ = nullptr;
    RestoreState(previous);
    return answer;
}

bool TFlatDataset::FindRecord(bool restart, bool goForward)
{
    CheckBrowseMode();
    if (Filtered() || (!onFilterRecord_ && conditions_.empty()))
        return TDataSet::FindRecord(restart, goForward);
    if (!conditions_.empty()) {
        if (!filterHost_)
            filterHost_ = std::make_unique<TFlatViewFilterHost>(this);
        filterHost_->Reset();
        ResolveConditions(conditions_, *filterHost_);
    }
    const bool caseInsensitive = FilterOptions().Contains(foCaseInsensitive);
    int i = restart ? (goForward ? 0 : int(view_.size()) - 1) : pos_ + (goForward ? 1 : -1);
    if (!restart && !IsEmpty()) {
        InternalSetToRecord(*ActiveBuffer());
        i = pos_ + (goForward ? 1 : -1);
    }
    const TDataSetState previous = SetTempState(dsFilter);
    int found = -1;
    try {
        for (; i >= 0 && size_t(i) < view_.size(); i += goForward ? 1 : -1) {
            if (!conditions_.empty()) {
                filterHost_->Entry = view_[size_t(i)];
                if (!MeetsConditions(conditions_, *filterHost_, caseInsensitive))
                    continue;
            }
            if (Accepts(view_[size_t(i)])) {
                found = i;
                break;
            }
        }
    } catch (...) {
        filterEntry_ = nullptr;
        RestoreState(previous);
        throw;
    }
    filterEntry_ = nullptr;
    RestoreState(previous);
    if (found < 0)
        return false;
    GoToIndex(found);
    return true;
}

// ---------------------------------------------------------------------------------------
// Record buffers

std::unique_ptr<TRecordBuffer> TFlatDataset::AllocRecordBuffer()
{
    auto b = std::make_unique<TFlatBuffer>();
    if (shared_)
        b->Rec = TFlatRecord::Make(shared_->Cursor.RecordSize);
    b->Calc.resize(size_t(FieldCount()));
    return b;
}

TGetResult TFlatDataset::GetRecord(TRecordBuffer &buffer, TGetMode mode, bool doCheck)
{
    auto &b = static_cast<TFlatBuffer &>(buffer);
    const int count = int(view_.size());
    if (count == 0)
        return grEOF;
    switch (mode) {
    case gmNext:
        if (pos_ >= count - 1) {
            pos_ = count;
            return grEOF;
        }
        ++pos_;
        break;
    case gmPrior:
        if (pos_ <= 0) {
            pos_ = -1;
            return grBOF;
        }
        --pos_;
        break;
    case gmCurrent:
        if (pos_ < 0 || pos_ >= count) {
            if (doCheck)
                DatabaseError(SNoRecords);
            return grError;
        }
        break;
    }
    TFlatRecEntry *e = view_[size_t(pos_)];
    b.Rec = e->Data ? e->Data : TFlatRecord::Make(shared_->Cursor.RecordSize);
    b.Entry = e;
    b.Flag = bfCurrent;
    b.RecNo = pos_ + 1;
    // A calculated value past the end reads as null, so clearing costs nothing per
    // record where a table has no calculated fields.
    b.Calc.clear();
    GetCalcFields(b);
    return grOK;
}

void TFlatDataset::InternalInitRecord(TRecordBuffer &buffer)
{
    auto &b = static_cast<TFlatBuffer &>(buffer);
    b.Rec = shared_ ? TFlatRecord::Make(shared_->Cursor.RecordSize) : TFlatRecord();
    b.Calc.clear();
    b.Entry = nullptr;
    b.RecNo = 0;
}

void TFlatDataset::ClearCalcFields(TRecordBuffer &buffer)
{
    auto &b = static_cast<TFlatBuffer &>(buffer);
    b.Calc.clear();
}

TBookmark TFlatDataset::GetBookmarkData(const TRecordBuffer &buffer)
{
    const auto &b = static_cast<const TFlatBuffer &>(buffer);
    if (!b.Entry)
        return {};
    TBookmark bm(sizeof(TFlatRecEntry *));
    std::memcpy(bm.data(), &b.Entry, sizeof(TFlatRecEntry *));
    return bm;
}

void TFlatDataset::SetBookmarkData(TRecordBuffer &buffer, const TBookmark &bookmark)
{
    auto &b = static_cast<TFlatBuffer &>(buffer);
    b.Entry = nullptr;
    if (bookmark.size() == sizeof(TFlatRecEntry *))
        std::memcpy(&b.Entry, bookmark.data(), sizeof(TFlatRecEntry *));
}

TBookmarkFlag TFlatDataset::GetBookmarkFlag(const TRecordBuffer &buffer)
{
    return static_cast<const TFlatBuffer &>(buffer).Flag;
}

void TFlatDataset::SetBookmarkFlag(TRecordBuffer &buffer, TBookmarkFlag flag)
{
    static_cast<TFlatBuffer &>(buffer).Flag = flag;
}

void TFlatDataset::InternalGotoBookmark(const TBookmark &bookmark)
{
    TFlatRecEntry *e = nullptr;
    if (bookmark.size() == sizeof(e))
        std::memcpy(&e, bookmark.data(), sizeof(e));
    auto it = std::find(view_.begin(), view_.end(), e);
    pos_ = (e && it != view_.end()) ? int(it - view_.begin()) : -1;
}

void TFlatDataset::InternalSetToRecord(TRecordBuffer &buffer)
{
    const auto &b = static_cast<const TFlatBuffer &>(buffer);
    if (!b.Entry)
        return;
    // The record number remembers where the buffer was filled; check it before searching.
    if (b.RecNo >= 1 && size_t(b.RecNo) <= view_.size() && view_[size_t(b.RecNo - 1)] == b.Entry) {
        pos_ = b.RecNo - 1;
        return;
    }
    auto it = std::find(view_.begin(), view_.end(), b.Entry);
    if (it != view_.end())
        pos_ = int(it - view_.begin());
}

bool TFlatDataset::BookmarkValid(const TBookmark &bookmark)
{
    if (!Active() || bookmark.size() != sizeof(TFlatRecEntry *))
        return false;
    TFlatRecEntry *e;
    std::memcpy(&e, bookmark.data(), sizeof(e));
    return std::find(view_.begin(), view_.end(), e) != view_.end();
}

int TFlatDataset::CompareBookmarks(const TBookmark &a, const TBookmark &b)
{
    if (a.empty() || b.empty())
        return (a.empty() ? 0 : 1) - (b.empty() ? 0 : 1);
    TFlatRecEntry *x = nullptr, *y = nullptr;
    std::memcpy(&x, a.data(), std::min(a.size(), sizeof(x)));
    std::memcpy(&y, b.data(), std::min(b.size(), sizeof(y)));
    return x == y ? 0 : (std::less<TFlatRecEntry *>()(x, y) ? -1 : 1);
}

int TFlatDataset::GetRecNo()
{
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    if (!b || State() == dsInsert || IsEmpty())
        return 0;
    return b->RecNo;
}

void TFlatDataset::DoSetRecNo(int value)
{
    CheckBrowseMode();
    if (view_.empty())
        return;
    value = std::clamp(value, 1, int(view_.size()));
    GoToIndex(value - 1);
}

TUpdateStatus TFlatDataset::UpdateStatus()
{
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    if (!b || !b->Entry)
        return usUnmodified;
    switch (b->Entry->Status) {
    case rsModified: return usModified;
    case rsInserted: return usInserted;
    case rsDeleted: return usDeleted;
    default: return usUnmodified;
    }
}

// ---------------------------------------------------------------------------------------
// Field values

int TFlatDataset::StoreIndexOf(const TFlatCursor &store, const TField &field)
{
    // The field definitions follow the store's fields one to one, so a bound field's
    // number is its place in the store; by name only when that place holds another.
    const int no = field.FieldNo();
    if (no > 0 && size_t(no) <= store.Fields.size() &&
        FlatCompareText(store.Fields[size_t(no - 1)].Name, field.FieldName(), true) == 0)
        return no - 1;
    return store.FindFieldIndex(field.FieldName());
}

const TFlatField *TFlatDataset::StoreField(const TField *field) const
{
    if (!shared_ || field->Calculated() || field->Offset < 0 ||
        size_t(field->Offset) >= shared_->Cursor.Fields.size())
        return nullptr;
    return &shared_->Cursor.Fields[size_t(field->Offset)];
}

const TFlatRecord *TFlatDataset::BrowseRecord()
{
    if (State() != dsBrowse)
        return nullptr;
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    return b && b->Rec ? &b->Rec : nullptr;
}

const TFlatRecord *TFlatDataset::RecordForState(TFlatBuffer *&calcOwner)
{
    calcOwner = nullptr;
    switch (State()) {
    case dsBrowse:
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsCurValue:
    case dsInternalCalc: {
        auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
        calcOwner = b;
        return b ? &b->Rec : nullptr;
    }
    case dsCalcFields: {
        auto *b = static_cast<TFlatBuffer *>(CalcBuffer());
        calcOwner = b;
        return b ? &b->Rec : nullptr;
    }
    case dsSetKey:
        return setKey_ ? &setKey_->Rec : nullptr;
    case dsFilter:
        calcOwner = filterBuffer_;
        return filterEntry_ && filterEntry_->Data ? &filterEntry_->Data : nullptr;
    case dsOldValue: {
        auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
        calcOwner = b;
        if (!b || !b->Entry)
            return nullptr;
        if (const TFlatRecord *prior = shared_->Cursor.PriorData(b->Entry))
            return prior;
        return b->Entry->Data ? &b->Entry->Data : nullptr;
    }
    default:
        return nullptr;
    }
}

TVariant TFlatDataset::ReadValue(const TFlatRecord &rec, const TFlatField &f, TFieldType, bool &notNull) const
{
    const uint8_t *fx = rec.Fixed();
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftAutoInc:
        notNull = true;
        return FlatGetInt(fx, f);
    case fftInt64: {
        const int64_t v = FlatGetInt(fx, f);
        notNull = v != 0;
        return v;
    }
    case fftBoolean:
        notNull = true;
        return FlatGetInt(fx, f) != 0;
    case fftDouble:
    case fftCurrency:
        notNull = true;
        return FlatGetFloat(fx, f);
    case fftDate: {
        const int64_t v = FlatGetInt(fx, f);
        notNull = v != 0;
        return FlatDateToDateTime(int32_t(v));
    }
    case fftTime:
        notNull = true;
        return double(FlatGetInt(fx, f)) / MSecsPerDay;
    case fftDateTime: {
        const double ms = FlatGetFloat(fx, f);
        uint64_t bits;
        std::memcpy(&bits, &ms, 8);
        notNull = bits != 0;
        return FlatMsecsToDateTime(ms);
    }
    case fftSmallStr: {
        const std::string_view s = FlatGetSmallStr(rec, f);
        notNull = !s.empty();
        return std::string(s);
    }
    case fftString: {
        // A file may hold a longer text than the field's width; callers never get more.
        const std::string_view s = CutToCharWidth(rec.Var(f), f.MaxLength);
        notNull = !s.empty();
        return std::string(s);
    }
    case fftBlob:
    case fftMemo:
    case fftFmtMemo:
    case fftGraphic: {
        const std::string_view s = rec.Var(f);
        notNull = !s.empty();
        return std::string(s);
    }
    default:
        notNull = false;
        return {};
    }
}

const TFlatField *TFlatDataset::ReadableField(const TFlatRecord *rec, const TField *field)
{
    if (!rec || !*rec)
        return nullptr;
    if (view_.empty() && State() != dsInsert && State() != dsFilter && State() != dsSetKey)
        return nullptr;
    return StoreField(field);
}

bool TFlatDataset::GetFieldData(TField *field, TVariant &value)
{
    value = TVariant{};
    TFlatBuffer *calcOwner = nullptr;
    const TFlatRecord *rec = RecordForState(calcOwner);
    if (field->Calculated()) {
        TFlatBuffer *b = calcOwner;
        if (!b && State() == dsFilter)
            b = static_cast<TFlatBuffer *>(ActiveBuffer());
        if (!b || size_t(field->Index()) >= b->Calc.size())
            return false;
        value = b->Calc[size_t(field->Index())];
        return !VarIsNull(value);
    }
    const TFlatField *f = ReadableField(rec, field);
    if (!f)
        return false;
    bool notNull = false;
    TVariant v = ReadValue(*rec, *f, field->DataType(), notNull);
    if (!notNull)
        return false;
    value = std::move(v);
    return true;
}

bool TFlatDataset::GetFieldBytes(TField *field, std::string_view &bytes)
{
    // The same record and the same bytes as GetFieldData, lent from the record.
    bytes = {};
    if (field->Calculated())
        return false;
    TFlatBuffer *calcOwner = nullptr;
    const TFlatRecord *rec = RecordForState(calcOwner);
    const TFlatField *f = ReadableField(rec, field);
    if (!f)
        return true;
    switch (f->TypeCode) {
    case fftSmallStr:
        bytes = FlatGetSmallStr(*rec, *f);
        return true;
    case fftString:
        bytes = CutToCharWidth(rec->Var(*f), f->MaxLength);
        return true;
    case fftBlob:
    case fftMemo:
    case fftFmtMemo:
    case fftGraphic:
        bytes = rec->Var(*f);
        return true;
    default:
        return false;
    }
}

namespace {

// Writes `value` into the fixed part of a record for a field kept there; the text and
// BLOB-type fields (kept behind it) are left alone.
void WriteFixedValue(uint8_t *fixed, const TFlatField &f, const TVariant &value)
{
    uint8_t *p = fixed + f.Offset;
    const bool null = VarIsNull(value);
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftBoolean: {
        const int16_t v = null ? 0 : int16_t(ToInt(value));
        std::memcpy(p, &v, 2);
        break;
    }
    case fftInteger:
    case fftAutoInc: {
        const int32_t v = null ? 0 : int32_t(ToInt(value));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftInt64: {
        const int64_t v = null ? 0 : ToInt(value);
        std::memcpy(p, &v, 8);
        break;
    }
    case fftDouble:
    case fftCurrency: {
        const double v = null ? 0.0 : ToDouble(value);
        std::memcpy(p, &v, 8);
        break;
    }
    case fftDate: {
        const int32_t v = null ? 0 : FlatDateTimeToDate(ToDouble(value));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftTime: {
        double d = null ? 0.0 : ToDouble(value);
        d = std::isfinite(d) ? std::fabs(d - std::trunc(d)) : 0.0;
        const int32_t v = int32_t(std::min(std::round(d * MSecsPerDay), double(MSecsPerDay - 1)));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftDateTime: {
        const double v = null ? 0.0 : FlatDateTimeToMsecs(ToDouble(value));
        std::memcpy(p, &v, 8);
        break;
    }
    default:
        break;
    }
}

// The bytes a text or BLOB-type field keeps of `value`; `scratch` holds them when the
// value is not a text already. What is kept is always the start of `bytes`.
std::string_view VarBytesOf(const TFlatField &f, std::string_view bytes)
{
    if (f.TypeCode == fftSmallStr) {
        // A short text ends at its first NUL and keeps at most MaxLength bytes: a text of
        // wide characters is cut between characters to fit them.
        bytes = bytes.substr(0, bytes.find('\0'));
        if (bytes.size() > f.MaxLength)
            bytes = bytes.substr(0, CutToByteWidth(bytes, f.MaxLength).size());
        return bytes;
    }
    if (f.TypeCode != fftString)
        return bytes;
    // A String ends at its first NUL (the file holds it as a zero-terminated text),
    // and keeps at most its width in characters.
    return CutToCharWidth(bytes.substr(0, bytes.find('\0')), f.MaxLength);
}

std::string_view VarBytesOf(const TFlatField &f, const TVariant &value, std::string &scratch)
{
    if (VarIsNull(value))
        return {};
    if (const std::string *s = std::get_if<std::string>(&value))
        return VarBytesOf(f, *s);
    scratch = VarToStr(value);
    return VarBytesOf(f, scratch);
}

} // namespace

void TFlatDataset::WriteValue(TFlatRecord &rec, const TFlatField &f, const TVariant &value, TFieldType)
{
    if (!IsFlatVarHeldType(f.TypeCode)) {
        WriteFixedValue(rec.Fixed(), f, value);
        return;
    }
    const TFlatCursor &store = shared_->Cursor;
    std::string scratch;
    rec.SetVar(store.Fields, store.RecordSize, f, VarBytesOf(f, value, scratch));
}

void TFlatDataset::SetFieldData(TField *field, const TVariant &value)
{
    const TDataSetState state = State();
    switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
        break;
    default:
        DatabaseError(SNotEditing);
    }
    if (field->Calculated()) {
        TFlatBuffer *owner = nullptr;
        RecordForState(owner);
        if (!owner)
            owner = static_cast<TFlatBuffer *>(ActiveBuffer());
        if (owner) {
            if (owner->Calc.size() <= size_t(field->Index()))
                owner->Calc.resize(size_t(field->Index()) + 1);
            owner->Calc[size_t(field->Index())] = value;
        }
        if (state != dsCalcFields && state != dsInternalCalc)
            DataEvent(deFieldChange, field);
        return;
    }
    if (state == dsCalcFields)
        DatabaseError(SCannotEditCalcFields);
    const bool keyOrFilter = state == dsSetKey || state == dsFilter;
    if (field->ReadOnly && !keyOrFilter)
        DatabaseError(Fmt(SFieldReadOnly, field->DisplayName().c_str()));
    const TFlatField *f = StoreField(field);
    if (!f)
        return;
    if (f->TypeCode == fftAutoInc && !keyOrFilter)
        return; // the counter fills it on insert
    field->Validate(value);
    TFlatBuffer *owner = nullptr;
    TFlatRecord *rec = const_cast<TFlatRecord *>(RecordForState(owner));
    if (!rec)
        DatabaseError(SNotEditing);
    WriteValue(*rec, *f, value, field->DataType());
    if (!keyOrFilter)
        DataEvent(deFieldChange, field);
}

bool TFlatDataset::CanSetFieldValues(const std::vector<TField *> &fields) const
{
    return shared_ && FieldsSettableTogether(fields);
}

void TFlatDataset::SetFieldValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values)
{
    if (fields.size() != values.size())
        DatabaseError("Field and value counts differ");
    CheckActive();
    if (State() != dsEdit && State() != dsInsert)
        DatabaseError(SNotEditing);
    TFlatBuffer *owner = nullptr;
    auto *rec = const_cast<TFlatRecord *>(RecordForState(owner));
    if (!rec || !*rec)
        DatabaseError(SNotEditing);
    const TFlatCursor &store = shared_->Cursor;
    // The fixed values go straight into the record; the variable ones are gathered (the
    // record's own until set) and packed behind them once at the end. The buffers are
    // kept between calls: a copy calls this once per record.
    struct TScratch {
        std::vector<std::string_view> vars;
        std::vector<TVariant> converted;
        std::vector<std::string> text;
    };
    thread_local TScratch scratch;
    std::vector<std::string_view> &vars = scratch.vars;
    vars.clear();
    for (const TFlatField &f : store.Fields)
        if (f.VarIndex >= 0) {
            if (size_t(f.VarIndex) >= vars.size())
                vars.resize(size_t(f.VarIndex) + 1);
            vars[size_t(f.VarIndex)] = rec->Var(f);
        }
    if (scratch.converted.size() < fields.size())
        scratch.converted.resize(fields.size());
    if (scratch.text.size() < vars.size())
        scratch.text.resize(vars.size());
    TField *changed = nullptr;
    bool anyVar = false;
    auto finish = [&] {
        if (anyVar)
            *rec = TFlatRecord::Pack(store.Fields, store.RecordSize, rec->Fixed(), vars);
        vars.clear();
        if (changed)
            DataEvent(deFieldChange, changed);
    };
    try {
        for (size_t i = 0; i < fields.size(); ++i) {
            TField *field = fields[i];
            const TVariant &value = values[i];
            const std::string *text = std::get_if<std::string>(&value);
            const TFlatField *f = StoreField(field);
            if (text && f && f->VarIndex >= 0 && (field->DataType() == ftString || IsBlobType(field->DataType()))) {
                // A text into a text or BLOB field: what TField::SetValue keeps of it,
                // taken without copying it first.
                if (size_t(f->VarIndex) < vars.size()) {
                    vars[size_t(f->VarIndex)] = VarBytesOf(*f, field->KeptText(*text));
                    anyVar = true;
                }
                changed = field;
                continue;
            }
            TVariant &converted = scratch.converted[i];
            converted = field->Canonical(value);
            if (!f || f->TypeCode == fftAutoInc)
                continue; // not in the store; the counter fills an AutoInc on insert
            if (f->VarIndex >= 0 && size_t(f->VarIndex) < vars.size()) {
                vars[size_t(f->VarIndex)] = VarBytesOf(*f, converted, scratch.text[size_t(f->VarIndex)]);
                anyVar = true;
            } else if (!IsFlatVarHeldType(f->TypeCode))
                WriteFixedValue(rec->Fixed(), *f, converted);
            changed = field;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void TFlatDataset::InternalInitFieldDefs()
{
    if (!shared_)
        return;
    FieldDefs().Clear();
    FieldDefs().Reserve(int(shared_->Cursor.Fields.size()));
    for (const TFlatField &f : shared_->Cursor.Fields) {
        const TFieldType type = FrameworkType(f);
        const int size = type == ftString ? f.MaxLength : 0;
        // Every field of the file gets its definition, also one whose name differs from
        // another's only in letter case: none is dropped.
        FieldDefs().AddKeepingTwins(f.Name, type, size, false);
    }
}

std::shared_ptr<TFlatShared> TFlatDataset::NewStore()
{
    auto shared = std::make_shared<TFlatShared>();
    TFlatCursor &c = shared->Cursor;
    c.PartialOpen = PartialOpen;
    c.OnProgress = [this](int percent) {
        if (OnCallback)
            OnCallback(this, percent);
    };
    c.OnReleaseRecord = [this](void **userData) {
        if (OnDestroyRecordData)
            OnDestroyRecordData(this, userData);
    };
    return shared;
}

std::shared_ptr<TFlatShared> TFlatDataset::ReadStore(std::string_view image)
{
    TFlatMemorySource source(image);
    return ReadStore(source);
}

std::shared_ptr<TFlatShared> TFlatDataset::ReadStore(TFlatImageSource &source)
{
    auto shared = NewStore();
    if (auto *table = dynamic_cast<TFlatTable *>(this))
        shared->Cursor.Password = table->password_;
    std::string error;
    if (!shared->Cursor.ReadImage(source, error)) {
        if (!shared->Cursor.ReadFailure.empty())
            throw EFlatReadFailure(shared->Cursor.ReadFailure);
        DatabaseError(std::string(SErrorOpeningTable) + error);
    }
    if (!shared->Cursor.PartialError.empty() && PartialNotice)
        FlatSession().Notice(shared->Cursor.PartialError);
    return shared;
}

void TFlatDataset::AttachStore(std::shared_ptr<TFlatShared> shared)
{
    sortedOrder_ = {};
    shared_ = std::move(shared);
    shared_->Views.push_back(this);
}

void TFlatDataset::InternalOpen()
{
    const auto started = std::chrono::steady_clock::now();
    pos_ = -1;
    view_.clear();
    try {
        OpenData();
        FieldDefs().Update();
        if (DefaultFields()) {
            CreateFields();
            ApplyDateFormat();
        }
        BindFields(true);
        const TFlatCursor &store = shared_->Cursor;
        for (int i = 0; i < FieldCount(); ++i) {
            TField &f = Fields(i);
            f.Offset = f.Calculated() ? -1 : StoreIndexOf(store, f);
            if (IsFloatType(f.DataType()) && !f.Currency && f.DisplayFormat.empty())
                f.DisplayFormat = "0.######";
        }
        indexKey_ = SetupKey(indexFieldNames_);
        searchKey_ = SetupKey(indexFieldNames_);
        rangeStart_ = SetupKey(RangeFieldNames);
        rangeEnd_ = SetupKey(RangeFieldNames);
        rangeStart_.UsedFields = rangeEnd_.UsedFields = 0;
        if (masterLink_ && masterLink_->Active() && !masterFields_.empty()) {
            UpdateMasterRange();
            rangeActive_ = true;
        }
        RefreshView(true);
    } catch (...) {
        CloseData();
        DetachNoThrow();
        throw;
    }
    openMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                  .count();
    if (database_)
        database_->Join(database_->open_, this);
}

void TFlatDataset::InternalClose()
{
    if (!clones_.empty())
        DatabaseError(SClonesOpen);
    indexKey_ = searchKey_ = rangeStart_ = rangeEnd_ = TKeyBuffer{};
    CloseData();
    DetachNoThrow();
    fileSize_ = 0;
    openMs_ = 0;
    if (database_) {
        database_->Leave(database_->open_, this);
        database_->Leave(database_->changed_, this);
    }
    changes_ = 0;
}

void TFlatDataset::InternalRefresh()
{
    Flush();
    TFlatRecord current;
    if (auto *b = static_cast<TFlatBuffer *>(ActiveBuffer()); b && b->Entry && b->Entry->Data)
        current = b->Entry->Data;
    std::vector<std::string> keyTexts;
    const std::vector<TField *> uniques = UniqueFieldNames.empty() ? std::vector<TField *>{}
                                                                   : GetFieldList(UniqueFieldNames);
    if (current) {
        for (TField *f : uniques)
            if (const TFlatField *sf = StoreField(f)) {
                bool nn = false;
                keyTexts.push_back(VarToStr(ReadValue(current, *sf, f->DataType(), nn)));
            }
    }
    if (!clones_.empty())
        DatabaseError(SClonesOpen);
    CloseData();
    DetachNoThrow();
    OpenData();
    for (int i = 0; i < FieldCount(); ++i) {
        TField &f = Fields(i);
        f.Offset = f.Calculated() ? -1 : StoreIndexOf(shared_->Cursor, f);
    }
    indexKey_ = SetupKey(indexFieldNames_);
    RefreshView(true);
    pos_ = -1;
    if (!keyTexts.empty()) {
        std::string names, values;
        for (size_t i = 0; i < uniques.size() && i < keyTexts.size(); ++i) {
            if (i) {
                names += ';';
                values += '\t';
            }
            names += uniques[i]->FieldName();
            values += keyTexts[i];
        }
        TKeyBuffer key = SetupKey(names);
        FillKey(key, values);
        pos_ = SearchKey(key);
    }
}

// ---------------------------------------------------------------------------------------
// Editing

void TFlatDataset::DoBeforeDelete()
{
    if (ReadOnly)
        DatabaseError(SReadOnlyDelete);
    TDataSet::DoBeforeDelete();
}

void TFlatDataset::DoBeforeEdit()
{
    if (ReadOnly)
        DatabaseError(SReadOnlyEdit);
    TDataSet::DoBeforeEdit();
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    TFlatRecEntry *e = b ? b->Entry : nullptr;
    if (!e || e->Status == rsDeleted || e->Status == rsDead)
        Abort();
    shared_->Cursor.BeginEdit(e);
    CountChange();
}

void TFlatDataset::DoBeforeInsert()
{
    if (ReadOnly)
        DatabaseError(SReadOnlyInsert);
    TDataSet::DoBeforeInsert();
    CountChange();
}

void TFlatDataset::DoOnNewRecord()
{
    for (int i = 0; i < FieldCount(); ++i) {
        TField &f = Fields(i);
        if (f.Calculated() || f.DefaultExpression.empty())
            continue;
        const std::string expr = FlatUpperCase(f.DefaultExpression);
        const TFieldType t = f.DataType();
        if (expr == "TODAY" && t == ftDate)
            f.SetValue(EncodeNow(false));
        else if (expr == "NOW" && IsDateTimeType(t))
            f.SetValue(t == ftDate ? EncodeNow(false) : EncodeNow(true));
        else if (expr == "UNICOD" && t == ftString)
            f.SetAsString(FlatUniqueCode());
        else
            f.SetAsString(f.DefaultExpression);
    }
    if (masterLink_ && masterLink_->Active() && !masterFields_.empty()) {
        TDataSet *master = masterLink_->DataSet();
        const auto from = master->GetFieldList(masterFields_);
        const auto to = GetFieldList(RangeFieldNames);
        for (size_t i = 0; i < from.size() && i < to.size(); ++i)
            if (!master->IsEmpty())
                to[i]->SetAsString(from[i]->AsString());
    }
    TDataSet::DoOnNewRecord();
}

void TFlatDataset::InternalCancel()
{
    if (State() == dsEdit) {
        auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
        if (b && b->Entry && shared_)
            shared_->Cursor.RevertRecord(b->Entry);
    }
    UncountChange();
}

void TFlatDataset::InternalPost()
{
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    TFlatCursor &store = shared_->Cursor;
    std::string error;
    if (State() == dsEdit) {
        TFlatRecEntry *e = b->Entry;
        const TFlatRecord *prior = e ? store.PriorData(e) : nullptr;
        const bool indexChanged = !indexKey_.Fields.empty() && prior &&
                                  TFlatCursor::CompareRecords(b->Rec, *prior, indexKey_.Fields) != 0;
        if (CheckKeyViolation && !UniqueFieldNames.empty() && store.KeyViolation(b->Rec, e, UniqueFieldNames))
            DatabaseError(std::string(SErrorSaving) + SKeyViolation);
        if (!store.PutRecord(b->Rec, e, error))
            DatabaseError(std::string(SErrorSaving) + error);
        if (indexChanged)
            sorted_ = false;
    } else {
        if (CheckKeyViolation && !UniqueFieldNames.empty() && store.KeyViolation(b->Rec, nullptr, UniqueFieldNames))
            DatabaseError(std::string(SErrorSavingNew) + SKeyViolation);
        TFlatRecEntry *added = nullptr;
        if (!store.PutRecord(b->Rec, nullptr, error, &added))
            DatabaseError(std::string(SErrorSavingNew) + error);
        view_.push_back(added);
        pos_ = int(view_.size()) - 1;
        sorted_ = false;
    }
}

void TFlatDataset::InternalDelete()
{
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    std::string error;
    if (!b || !shared_->Cursor.DeleteRecord(b->Entry, error))
        DatabaseError(std::string(SErrorDeleting) + error);
    InternalSetToRecord(*b);
    if (pos_ >= 0 && size_t(pos_) < view_.size() && view_[size_t(pos_)] == b->Entry)
        view_.erase(view_.begin() + pos_);
    CountChange();
}

// ---------------------------------------------------------------------------------------
// TFlatTable

TFlatTable::TFlatTable() = default;

TFlatTable::~TFlatTable()
{
    // Tables that clone us are closed first and forget us; the store stays alive for as
    // long as anyone holds it, so nothing is freed under a clone.
    for (TFlatTable *ref : std::vector<TFlatTable *>(cloneRefs_)) {
        try {
            ref->Close();
        } catch (...) {
        }
        ref->DetachNoThrow();
        ref->cloneDS_ = nullptr;
        ref->loadMode_ = lmClear;
    }
    cloneRefs_.clear();
    CloseClonesNoThrow();
    DestroyClose();
    DetachNoThrow();
    if (cloneDS_) {
        auto &r = cloneDS_->cloneRefs_;
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
}

void TFlatTable::SetTableName(const std::string &name)
{
    if (name == tableName_)
        return;
    Close();
    tableName_ = name;
    loadMode_ = name.empty() ? lmClear : lmFile;
}

void TFlatTable::SetLoadMode(TFlatLoadMode mode)
{
    if (mode == loadMode_)
        return;
    Close();
    loadMode_ = mode;
}

void TFlatTable::SetCloneDS(TFlatTable *source)
{
    if (source == cloneDS_)
        return;
    Close();
    if (cloneDS_) {
        auto &r = cloneDS_->cloneRefs_;
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
    cloneDS_ = source == this ? nullptr : source;
    if (cloneDS_)
        cloneDS_->cloneRefs_.push_back(this);
    loadMode_ = cloneDS_ ? lmClone : lmClear;
}

std::string TFlatTable::Password()
{
    if (shared_)
        password_ = shared_->Cursor.Password;
    return password_;
}

void TFlatTable::SetPassword(const std::string &password)
{
    if (!password.empty())
        FlatSession().AddPassword(password);
    else if (!password_.empty())
        FlatSession().RemovePassword(password_);
    password_ = password;
    if (shared_) {
        shared_->Cursor.Password = password;
        CountChange();
    }
}

void TFlatTable::SetDatabase(TFlatDatabase *database)
{
    TFlatDataset::SetDatabase(database);
    if (database && !database->DatabasePath().empty() && !tableName_.empty())
        tableName_ = std::filesystem::path(tableName_).filename().string();
}

std::string TFlatTable::FullFileName() const
{
    if (Database() && tableName_.find('/') == std::string::npos)
        return Database()->DatabasePath() + tableName_;
    return tableName_;
}

void TFlatTable::OpenTable(const std::string &name)
{
    Close();
    SetTableName(name);
    Open();
}

void TFlatTable::OpenData()
{
    switch (loadMode_) {
    case lmClear: {
        if (FieldDefs().Count() == 0)
            DatabaseError(SNoFieldDescriptions);
        std::string description;
        for (const TFieldDef &def : FieldDefs()) {
            uint8_t code = fftUnknown;
            uint32_t size = 0;
            switch (def.DataType) {
            case ftSmallint: code = fftSmallInt; break;
            case ftInteger: code = fftInteger; break;
            case ftLargeint: code = fftInt64; break;
            case ftBoolean: code = fftBoolean; break;
            case ftFloat: code = fftDouble; break;
            case ftCurrency: code = fftCurrency; break;
            case ftDate: code = fftDate; break;
            case ftTime: code = fftTime; break;
            case ftDateTime: code = fftDateTime; break;
            case ftAutoInc: code = fftAutoInc; break;
            case ftString:
                code = def.Size <= 35 ? fftSmallStr : fftString;
                size = uint32_t(std::min(def.Size, 65535));
                break;
            case ftBlob: code = fftBlob; break;
            case ftMemo: code = fftMemo; break;
            case ftFmtMemo: code = fftFmtMemo; break;
            case ftGraphic: code = fftGraphic; break;
            default: break;
            }
            description += FlatDescribeField(def.Name, code, size);
        }
        description += '\x14';
        AttachStore(ReadStore(TFlatCursor::BuildEmptyImage(description, uint32_t(FieldDefs().Count()))));
        break;
    }
    case lmFile: {
        const std::string name = FullFileName();
        const auto fileError = [&](const std::string &reason) {
            throw EFlatFileError(Fmt(SErrorOpeningFile, name.c_str()), name, reason);
        };
        std::error_code ec;
        if (!std::filesystem::is_regular_file(name, ec))
            fileError(std::filesystem::exists(name, ec) ? "it is not a file" : "it does not exist");
        // The file is parsed as it is read, through one reused buffer.
        TFlatFileSource source;
        std::string reason;
        if (!source.Open(name, reason))
            fileError(reason);
        fileSize_ = size_t(source.Size());
        try {
            AttachStore(ReadStore(source));
        } catch (const EFlatFileError &) {
            throw;
        } catch (const EFlatReadFailure &e) {
            fileError(e.what());
        } catch (const EDatabaseError &e) {
            // The engine's message stays; the file and the bare reason go with it.
            std::string reason = e.what();
            if (reason.rfind(SErrorOpeningTable, 0) == 0)
                reason.erase(0, std::strlen(SErrorOpeningTable));
            throw EFlatFileError(e.what(), name, reason);
        }
        // Temporary files of a save that was cut off (the program killed, the machine
        // stopped) are of no use once the table reads: drop them. A table opened
        // read-only changes nothing beside it either.
        if (!ReadOnly && TidyOnOpen) {
            RemoveStaleTempFiles(name);
            RemoveStaleTempFiles(FlatBackupName(name));
        }
        break;
    }
    case lmClone: {
        if (!cloneDS_ || !cloneDS_->Active() || !cloneDS_->shared_)
            DatabaseError(SCloneNotActive);
        AttachStore(cloneDS_->shared_);
        cloneSource_ = cloneDS_;
        cloneDS_->clones_.push_back(this);
        break;
    }
    case lmStream: {
        if (!LoadingStream)
            DatabaseError(SNoLoadingStream);
        std::string image((std::istreambuf_iterator<char>(*LoadingStream)), std::istreambuf_iterator<char>());
        AttachStore(ReadStore(image));
        break;
    }
    }
}

void TFlatTable::Save()
{
    if (ChangeCount() == 0 || !shared_)
        return;
    switch (loadMode_) {
    case lmFile:
        SaveToFile(FullFileName());
        break;
    case lmClone:
        if (cloneDS_) {
            cloneDS_->SaveToFile(cloneDS_->FullFileName());
            if (cloneDS_->Active())
                cloneDS_->RefreshView();
        }
        break;
    default:
        break;
    }
}

void TFlatTable::CloseData() {}

void TFlatTable::InternalClose()
{
    if (cloneSource_) {
        auto &list = cloneSource_->clones_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        cloneSource_ = nullptr;
    }
    TFlatDataset::InternalClose();
}

void TFlatTable::CancelChanges()
{
    TFlatDataset::CancelChanges();
    if (cloneDS_ && cloneDS_->Database())
        cloneDS_->Database()->Leave(cloneDS_->Database()->changed_, cloneDS_);
}

void TFlatTable::CommitChanges()
{
    TFlatDataset::CommitChanges();
    if (cloneDS_ && cloneDS_->Database())
        cloneDS_->Database()->Leave(cloneDS_->Database()->changed_, cloneDS_);
}

// Copies a source record into a new record of this table in one step, where that gives
// exactly what copying field by field gives: both tables lay their records out alike,
// each field is copied to its own twin, and nothing watches single fields (no handlers,
// defaults, calculated or read-only fields, and the controls disabled, so no change
// event reaches anyone). A record whose values the field setters would change (a text
// longer than its width or holding a NUL, a short text that is not plain ASCII) is left
// to the field-by-field copy.
struct TFlatTable::TRecordCopier {
    bool Ready = false;
    TFlatDataset *From = nullptr;
    TField *AnyTarget = nullptr;
    struct Slot {
        const TFlatField *Field;
        size_t Width; // String and SmallStr: the narrower of the two widths
    };
    std::vector<Slot> Slots;

    template <typename Pair> void Prepare(TFlatTable &to, TDataSet *source, const std::vector<Pair> &pairs)
    {
        From = dynamic_cast<TFlatDataset *>(source);
        if (!From || !From->Cursor() || !to.Cursor() || !to.ControlsDisabled() || to.OnNewRecord ||
            to.AfterInsert || to.OnCalcFields || !to.masterFields_.empty())
            return;
        const TFlatCursor &a = *From->Cursor(), &b = *to.Cursor();
        if (a.RecordSize != b.RecordSize || a.Fields.size() != b.Fields.size() || pairs.size() != b.Fields.size() ||
            size_t(to.FieldCount()) != b.Fields.size())
            return;
        for (size_t i = 0; i < b.Fields.size(); ++i) {
            const TFlatField &x = a.Fields[i], &y = b.Fields[i];
            if (x.TypeCode != y.TypeCode || x.Size != y.Size || x.Offset != y.Offset || x.MaxLength != y.MaxLength ||
                x.VarIndex != y.VarIndex)
                return;
        }
        std::vector<bool> seen(b.Fields.size(), false);
        for (const Pair &p : pairs) {
            TField &f = *p.from, &t = *p.to;
            if (f.Offset < 0 || t.Offset != f.Offset || size_t(t.Offset) >= b.Fields.size() || seen[size_t(t.Offset)] ||
                f.DataType() != t.DataType() || t.ReadOnly || t.OnValidate || t.OnChange ||
                !t.DefaultExpression.empty() || t.Calculated())
                return;
            seen[size_t(t.Offset)] = true;
            const TFlatField &sf = b.Fields[size_t(t.Offset)];
            switch (sf.TypeCode) {
            case fftSmallInt:
            case fftInteger:
            case fftInt64:
            case fftSmallStr:
            case fftString:
            case fftBlob:
            case fftMemo:
            case fftFmtMemo:
            case fftGraphic:
                break;
            default: // conversions through a value may change these bytes
                return;
            }
            if (IsBlobType(t.DataType()) != IsFlatBlobType(sf.TypeCode))
                return;
            const size_t width = t.DataType() == ftString ? size_t(t.Size()) : SIZE_MAX;
            Slots.push_back({&sf, std::min<size_t>(width, sf.MaxLength)});
        }
        AnyTarget = pairs.empty() ? nullptr : pairs.front().to;
        Ready = AnyTarget != nullptr;
    }

    // Whether `src` can go over as its bytes stand; `anyValue`: whether it holds a value.
    bool Copyable(const TFlatRecord *src, bool &anyValue) const
    {
        anyValue = false;
        for (const Slot &s : Slots) {
            const TFlatField &f = *s.Field;
            switch (f.TypeCode) {
            case fftSmallStr: {
                // The bytes held are the text as a setter keeps it (the reader and the
                // setters cut at the first NUL); anything else goes field by field.
                const std::string_view v = FlatGetSmallStr(*src, f);
                if (v.size() > s.Width || v.size() != src->Var(f).size())
                    return false;
                for (const char c : v)
                    if (static_cast<unsigned char>(c) >= 0x80)
                        return false;
                anyValue = anyValue || !v.empty();
                break;
            }
            case fftString: {
                const std::string_view v = src->Var(f);
                if (v.size() > s.Width || v.find('\0') != std::string_view::npos)
                    return false;
                anyValue = anyValue || !v.empty();
                break;
            }
            case fftInt64:
                anyValue = anyValue || FlatGetInt(src->Fixed(), f) != 0;
                break;
            case fftSmallInt:
            case fftInteger:
                anyValue = true;
                break;
            default: // the BLOB types
                anyValue = anyValue || !src->Var(f).empty();
                break;
            }
        }
        return true;
    }

    // False (and nothing done) when the current record needs the field-by-field copy.
    bool CopyCurrent(TFlatTable &to)
    {
        const TFlatRecord *src = From->BrowseRecord();
        bool anyValue = false;
        if (!src || !Copyable(src, anyValue))
            return false;
        to.Append();
        TFlatBuffer *owner = nullptr;
        auto *rec = const_cast<TFlatRecord *>(to.RecordForState(owner));
        if (!rec) {
            to.Cancel();
            return false;
        }
        // Every field is copied or, being empty in the source, is empty in a new record
        // too: the record is the source's, packed once.
        *rec = *src;
        if (anyValue)
            to.DataEvent(deFieldChange, AnyTarget);
        to.Post();
        return true;
    }

    // The same straight into the store (AppendsInBulk); false when the record needs the
    // field-by-field copy.
    bool AppendCurrent(TFlatTable &to)
    {
        const TFlatRecord *src = From->BrowseRecord();
        bool anyValue = false;
        if (!src || !Copyable(src, anyValue))
            return false;
        to.AppendStored(*src);
        return true;
    }
};

bool FlatCopyInBulk = true;

bool TFlatTable::AppendsInBulk() const
{
    return FlatCopyInBulk && State() == dsBrowse && ControlsDisabled() && !ReadOnly && !BeforeInsert &&
           !AfterInsert && !BeforePost && !AfterPost && !BeforeScroll && !AfterScroll && !OnNewRecord &&
           !(CheckKeyViolation && !UniqueFieldNames.empty()) && !PostReachesListeners();
}

void TFlatTable::AppendStored(const TFlatRecord &record)
{
    CountChange(); // as the insert does, before the record goes in
    TFlatRecEntry *added = shared_->Cursor.AppendCopy(record);
    view_.push_back(added);
    pos_ = int(view_.size()) - 1;
    sorted_ = false;
}

int TFlatTable::CopyFromDataSet(TDataSet *source, int mode)
{
    if (!source || source == this)
        DatabaseError(SCopySourceInvalid);
    const bool openedHere = !source->Active();
    if (openedHere) {
        try {
            source->Open();
        } catch (...) {
            DatabaseError(SCopySourceOpenError);
        }
    }
    int copied = 0;
    source->DisableControls();
    try {
        source->First();
        if (mode == 2 || mode == 3) {
            Close();
            FieldDefs().Clear();
            for (const TFieldDef &def : source->FieldDefs())
                FieldDefs().Add(Blank2Underscore(def.Name), def.DataType, def.Size, def.Required);
            if (auto *flat = dynamic_cast<TFlatDataset *>(source)) {
                SetDatabase(flat->Database());
                UniqueFieldNames = flat->UniqueFieldNames;
                RangeFieldNames = flat->RangeFieldNames;
                SetIndexFieldNames(flat->IndexFieldNames());
                SetMasterFields(flat->MasterFields());
            }
        }
        Open();
        if (mode != 3) {
            struct Pair {
                TField *from, *to;
            };
            std::vector<Pair> copy, keys;
            std::vector<TField *> keyTargets;
            std::string keyNames;
            const std::vector<TField *> uniques =
                mode == 1 && !UniqueFieldNames.empty() ? GetFieldList(UniqueFieldNames) : std::vector<TField *>{};
            for (int i = 0; i < source->FieldCount(); ++i) {
                TField &from = source->Fields(i);
                if (from.Calculated())
                    continue;
                TField *to = FindField(Blank2Underscore(from.FieldName()));
                if (!to || to->Calculated())
                    continue;
                if (std::find(uniques.begin(), uniques.end(), to) != uniques.end()) {
                    keys.push_back({&from, to});
                    if (!keyNames.empty())
                        keyNames += ';';
                    keyNames += to->FieldName();
                } else
                    copy.push_back({&from, to});
            }
            const bool byKey = !keys.empty();
            TRecordCopier copier;
            if (!byKey)
                copier.Prepare(*this, source, copy);
            // Records taken straight into the store leave what their inserts and posts
            // would: the held-back state and change events, the cursor on the last one.
            bool bulk = copier.Ready && AppendsInBulk();
            bool appended = false;
            const auto endBulk = [&] {
                if (appended) {
                    DataEvent(deUpdateState);
                    DataEvent(deDataSetChange);
                    Resync();
                }
                bulk = appended = false;
            };
            while (!source->Eof()) {
                if (bulk) {
                    if (copier.AppendCurrent(*this)) {
                        appended = true;
                        ++copied;
                        source->Next();
                        continue;
                    }
                    endBulk();
                }
                if (copier.Ready && copier.CopyCurrent(*this)) {
                    ++copied;
                    source->Next();
                    continue;
                }
                if (byKey) {
                    std::string values;
                    for (size_t i = 0; i < keys.size(); ++i)
                    {
                        if (i)
                            values += '\t';
                        values += keys[i].from->AsString();
                    }
                    if (FindKey(keyNames, values))
                        Edit();
                    else {
                        Append();
                        for (const Pair &k : keys)
                            k.to->SetAsString(k.from->AsString());
                    }
                } else
                    Append();
                for (const Pair &p : copy) {
                    if (p.from->IsNull())
                        continue;
                    if (IsBlobType(p.to->DataType()))
                        p.to->SetAsBytes(p.from->AsBytes());
                    else if (p.from->DataType() == p.to->DataType())
                        p.to->SetValue(p.from->Value());
                    else
                        p.to->SetAsString(p.from->AsString());
                }
                Post();
                ++copied;
                source->Next();
            }
            endBulk();
            First();
        }
    } catch (...) {
        source->EnableControls();
        if (openedHere) {
            try {
                source->Close();
            } catch (...) {
            }
        }
        throw;
    }
    source->EnableControls();
    if (openedHere)
        source->Close();
    return copied;
}

// ---------------------------------------------------------------------------------------
// TFlatDatabase

TFlatDatabase::TFlatDatabase() { FlatSession().Databases.push_back(this); }

TFlatDatabase::~TFlatDatabase()
{
    for (TFlatDataset *ds : std::vector<TFlatDataset *>(members_)) {
        if (auto *table = dynamic_cast<TFlatTable *>(ds))
            table->CloseClonesNoThrow();
        try {
            ds->Close();
        } catch (...) {
        }
        ds->database_ = nullptr;
    }
    auto &list = FlatSession().Databases;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TFlatDatabase::SetDatabasePath(const std::string &path)
{
    path_ = path;
    if (!path_.empty() && path_.back() != '/')
        path_ += '/';
}

void TFlatDatabase::Join(std::vector<TFlatDataset *> &list, TFlatDataset *ds)
{
    if (std::find(list.begin(), list.end(), ds) == list.end())
        list.push_back(ds);
}

void TFlatDatabase::Leave(std::vector<TFlatDataset *> &list, TFlatDataset *ds)
{
    list.erase(std::remove(list.begin(), list.end(), ds), list.end());
}
