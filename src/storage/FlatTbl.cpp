// A data set's view over a shared store: master link, pending changes, buffers, opening and editing.
#include "storage/FlatTbl.h"

#include <algorithm>
#include <cstring>

#include "storage/FlatTblInternal.h"

using namespace FlatTblInternal;

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
                                    indexFieldNames_, error, Commit))
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
