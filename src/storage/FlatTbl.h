#pragma once
// The table engine's data sets: TFlatDataset shows one view over a shared record store,
// TFlatTable decides where the store comes from (a fresh structure, a file, another open
// table, a stream) and where it is saved, TFlatDatabase gives a group of tables a folder.
#include <chrono>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "storage/DataSet.h"
#include "storage/FlatConst.h"
#include "storage/FlatExp.h"
#include "storage/FlatTblStore.h"

class TFlatDataset;
class TFlatTable;
class TFlatDatabase;

enum class TFlatSortOption { vsoCaseInsensitive, vsoDescendSort };
using enum TFlatSortOption;
using TFlatSortOptions = TSet<TFlatSortOption>;

enum class TFlatLoadMode { lmClear, lmFile, lmClone, lmStream };
using enum TFlatLoadMode;

using TCallbackEvent = std::function<void(TFlatDataset *Sender, int Percent)>;
using TDestroyRecDataEvent = std::function<void(TFlatDataset *Sender, void **RecordData)>;

// A store with the data sets that currently show it (a table and its clones).
struct TFlatShared {
    TFlatCursor Cursor;
    std::vector<TFlatDataset *> Views;
};

// The records a data set shows, in its order. While that is every record of the store in
// store order (no filter, range or index, nothing deleted) it reads the store's own list
// instead of holding a copy of it: a loaded table then costs no second list. It takes a
// copy of its own when it has to differ (a delete, a sort, a record appended by another
// view of the store); records appended to the store later are not shown until the view
// is built again, as with a copy.
class TFlatView {
public:
    using const_iterator = TFlatRecEntry *const *;
    size_t size() const { return records_ ? count_ : own_.size(); }
    bool empty() const { return size() == 0; }
    TFlatRecEntry *operator[](size_t index) const { return data()[index]; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size(); }
    void clear()
    {
        own_.clear();
        records_ = nullptr;
        count_ = 0;
    }
    void reserve(size_t n) { own_.reserve(n); }
    void push_back(TFlatRecEntry *entry)
    {
        if (records_ && count_ < records_->size() && (*records_)[count_] == entry) {
            ++count_; // the next record of the store: still its list
            return;
        }
        Own();
        own_.push_back(entry);
    }
    void erase(const_iterator at)
    {
        const size_t index = size_t(at - begin());
        Own();
        own_.erase(own_.begin() + std::ptrdiff_t(index));
    }
    // The list to reorder (a copy of its own from then on).
    std::vector<TFlatRecEntry *> &Owned()
    {
        Own();
        return own_;
    }
    // Shows every record of `records` as it is now; the list must outlive the view or
    // the view be cleared first.
    void ShareAll(const std::vector<TFlatRecEntry *> &records)
    {
        std::vector<TFlatRecEntry *>().swap(own_);
        records_ = &records;
        count_ = records.size();
    }

private:
    TFlatRecEntry *const *data() const { return records_ ? records_->data() : own_.data(); }
    void Own()
    {
        if (!records_)
            return;
        own_.assign(records_->begin(), records_->begin() + std::ptrdiff_t(count_));
        records_ = nullptr;
        count_ = 0;
    }
    const std::vector<TFlatRecEntry *> *records_ = nullptr;
    size_t count_ = 0;
    std::vector<TFlatRecEntry *> own_;
};

class TFlatDataset : public TDataSet {
public:
    TFlatDataset();
    ~TFlatDataset() override;

    // --- published properties
    TFlatDatabase *Database() const { return database_; }
    virtual void SetDatabase(TFlatDatabase *database);
    const std::string &IndexFieldNames() const { return indexFieldNames_; }
    void SetIndexFieldNames(const std::string &names);
    const std::string &MasterFields() const { return masterFields_; }
    void SetMasterFields(const std::string &names);
    TDataSource *MasterSource() const;
    void SetMasterSource(TDataSource *source);
    std::string Notes; // not stored in the table file
    bool PartialOpen = false;
    // False: a read rescued by PartialOpen is not told through the session's notice;
    // the caller reads the reason from the cursor's PartialError and tells it itself.
    bool PartialNotice = true;
    // False: opening the file does not remove the stale temporary files beside it;
    // the caller does (RemoveStaleTempFiles) once it goes on with the table.
    bool TidyOnOpen = true;
    std::string RangeFieldNames;
    bool ReadOnly = false;
    TFlatSaveOptions SaveOptions = 0;
    // When set, a save writes the table's file (and its backup) for this commit to put
    // in place with the other files of one change, instead of renaming it at once.
    TFileCommit *Commit = nullptr;
    TFlatSortOptions SortOptions() const { return sortOptions_; }
    void SetSortOptions(TFlatSortOptions options);
    std::string UniqueFieldNames;
    bool CheckKeyViolation = false;
    std::string Version() const { return SFlatVersion; }
    std::function<void(TFlatDataset *Sender)> OnNeedToSaveChange;
    TCallbackEvent OnCallback;
    TDestroyRecDataEvent OnDestroyRecordData;

    // --- engine operations
    virtual void SetDateFormat(const std::string &format) { dateFormat_ = format; }
    virtual void OpenData() = 0;  // fill the store
    virtual void Save() = 0;      // write the store back
    virtual void CloseData() = 0; // let go of the store
    virtual void Flush();
    virtual void CancelChanges();
    virtual void CommitChanges();
    virtual void ApplyDateFormat();

    void SaveToFile(const std::string &fileName);
    void EmptyTable();
    // Rebuilds the view (filter, range, order); keeps the current record unless asked not to.
    void RefreshView(bool dropPosition = false);
    // For a filter that admits only records whose text field `field` reads exactly
    // `value`: while set, a filtered view visits those records alone (found through a
    // lookup the store keeps of the field) and the filter still decides on each, unless
    // `decides`: the filter is known to admit exactly those records and is not asked. An
    // empty field name visits every record again.
    void SetFilterTextHint(const std::string &field, const std::string &value, bool decides = false);
    // The records shown, in their order.
    const TFlatView &ShownRecords() const { return view_; }
    // Range over RangeFieldNames from tab-separated texts; ApplyRange makes it effective.
    void SetRange(const std::string &startValues, const std::string &endValues, bool startExclusive = false,
                  bool endExclusive = false);
    void ApplyRange();
    void CancelRange();
    bool RangeActive() const { return rangeActive_; }
    // Key search over the view: tab-separated texts for the ";"-separated fields.
    bool FindKey(const std::string &fieldNames, const std::string &values);

    bool Locate(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                TLocateOptions options) override;
    using TDataSet::Locate;
    std::vector<TVariant> Lookup(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                                 const std::string &resultFields) override;
    void SetFiltered(bool value) override;
    bool BookmarkValid(const TBookmark &bookmark) override;
    int CompareBookmarks(const TBookmark &a, const TBookmark &b) override;

    // --- state
    int ChangeCount() const { return changes_; }
    uint64_t LoadedFileSize() const { return fileSize_; }
    int64_t OpenMilliseconds() const { return openMs_; }
    // The store this data set views (none while closed).
    TFlatCursor *Cursor() const { return shared_ ? &shared_->Cursor : nullptr; }
    const std::vector<TFlatDataset *> &Clones() const { return clones_; }
    // The store record under the cursor while browsing (none otherwise).
    const TFlatRecord *BrowseRecord();
    // The store's entry of that record (null when none).
    const TFlatRecEntry *BrowseEntry();

    // Whether SetFieldValues may stand in for setting `fields` one at a time: nothing
    // watches single fields (controls disabled, no calculated fields, no OnValidate or
    // OnChange handler, no read-only field), so only the record's bytes can tell.
    bool CanSetFieldValues(const std::vector<TField *> &fields) const;
    // Sets each of `fields` of the record being inserted or edited to its value in
    // `values`, with the conversions, cutting and errors of TField::SetValue, packing the
    // record once. On an error the fields before the failing one stay set, as they would
    // one at a time.
    void SetFieldValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values);

protected:
    // Writes `values` into `record` as SetFieldValues does, without telling anyone;
    // `changed` gets the last field set. On an error the fields before the failing
    // one stay written.
    void WriteFieldValues(TFlatRecord &record, const std::vector<TField *> &fields,
                          const std::vector<TVariant> &values, TField *&changed);

    struct TFlatBuffer : TRecordBuffer {
        TFlatRecord Rec;
        std::vector<TVariant> Calc;
        TFlatRecEntry *Entry = nullptr;
        TBookmarkFlag Flag = bfCurrent;
        int RecNo = 0;
    };
    struct TKeyBuffer {
        TFlatRecord Rec;
        std::vector<const TFlatField *> Fields;
        int UsedFields = 0;
        bool Exclusive = false;
    };

    std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override;
    TGetResult GetRecord(TRecordBuffer &buffer, TGetMode mode, bool doCheck) override;
    void InternalInitRecord(TRecordBuffer &buffer) override;
    void InternalFirst() override { pos_ = -1; }
    void InternalLast() override { pos_ = int(view_.size()); }
    TBookmark GetBookmarkData(const TRecordBuffer &buffer) override;
    void SetBookmarkData(TRecordBuffer &buffer, const TBookmark &bookmark) override;
    TBookmarkFlag GetBookmarkFlag(const TRecordBuffer &buffer) override;
    void SetBookmarkFlag(TRecordBuffer &buffer, TBookmarkFlag flag) override;
    void InternalGotoBookmark(const TBookmark &bookmark) override;
    void InternalSetToRecord(TRecordBuffer &buffer) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() const override { return shared_ != nullptr; }
    void InternalPost() override;
    void InternalDelete() override;
    int GetRecordCount() override { return int(view_.size()); }
    int GetRecNo() override;
    void DoSetRecNo(int value) override;
    bool GetFieldData(TField *field, TVariant &value) override;
    bool GetFieldBytes(TField *field, std::string_view &bytes) override;
    void SetFieldData(TField *field, const TVariant &value) override;
    void InternalInitFieldDefs() override;
    void InternalCancel() override;
    void InternalRefresh() override;
    void ClearCalcFields(TRecordBuffer &buffer) override;
    bool GetCanModify() override { return !ReadOnly; }
    TUpdateStatus UpdateStatus() override;
    bool FindRecord(bool restart, bool goForward) override;
    void SetFilterText(const std::string &text) override;
    void DoBeforeDelete() override;
    void DoBeforeEdit() override;
    void DoBeforeInsert() override;
    void DoOnNewRecord() override;

    // Change counter: one per edit or insert begun, delete, password change, emptying.
    void CountChange();
    void UncountChange();
    void ResetChanges();
    // Ends the pending edit, keeps (commit) or reverts every change in the store,
    // and rebuilds every view over it.
    void SettleChanges(bool commit);
    // Takes a freshly read store (or a shared one) as this data set's store.
    void AttachStore(std::shared_ptr<TFlatShared> shared);
    std::shared_ptr<TFlatShared> NewStore();
    // Reads an image into a new store; raises "Error opening table: ..." on failure.
    std::shared_ptr<TFlatShared> ReadStore(std::string_view image);
    // The same from a source read in pieces; a failed read raises EFlatReadFailure.
    std::shared_ptr<TFlatShared> ReadStore(TFlatImageSource &source);
    void CloseClonesNoThrow() noexcept;
    void DetachNoThrow() noexcept;

    std::shared_ptr<TFlatShared> shared_;
    std::vector<TFlatDataset *> clones_;   // open data sets sharing our store
    TFlatDataset *cloneSource_ = nullptr;  // the data set whose store we share while open
    uint64_t fileSize_ = 0;
    int64_t openMs_ = 0;

private:
    friend class TFlatDatabase;
    friend class TFlatMasterLink;
    friend class TFlatTable;
    friend class TFlatViewFilterHost;
    const TFlatRecord *RecordForState(TFlatBuffer *&calcOwner);
    TKeyBuffer SetupKey(const std::string &names) const;
    void FillKey(TKeyBuffer &key, const std::string &tabValues);
    void WriteValue(TFlatRecord &rec, const TFlatField &f, const TVariant &value, TFieldType type);
    void WriteText(TFlatRecord &rec, const TFlatField &f, const std::string &text, TFieldType type);
    TVariant ReadValue(const TFlatRecord &rec, const TFlatField &f, TFieldType type, bool &notNull) const;
    const TFlatField *StoreField(const TField *field) const;
    // The store field a data field reads in `rec` (RecordForState's), or null
    // when the state has no record to read.
    const TFlatField *ReadableField(const TFlatRecord *rec, const TField *field);
    static int StoreIndexOf(const TFlatCursor &store, const TField &field);
    bool InRange(const TFlatRecEntry *e) const;
    bool Accepts(TFlatRecEntry *e);
    int SearchKey(const TKeyBuffer &key) const;
    void GoToIndex(int index);
    void MasterChanged();
    void UpdateMasterRange();
    TFlatRecEntry *EntryAt(int index) const;

    TFlatDatabase *database_ = nullptr;
    std::string indexFieldNames_;
    std::string masterFields_;
    std::unique_ptr<class TFlatMasterLink> masterLink_;
    TFlatSortOptions sortOptions_;
    TFlatView view_;
    int pos_ = -1;
    bool sorted_ = false;
    bool rangeActive_ = false;
    TKeyBuffer indexKey_, searchKey_, rangeStart_, rangeEnd_;
    TKeyBuffer *setKey_ = nullptr; // the key buffer that dsSetKey writes into
    TFlatRecEntry *filterEntry_ = nullptr;
    std::vector<TFlatCondition> conditions_; // parsed filter text
    std::unique_ptr<class TFlatViewFilterHost> filterHost_;
    std::string hintField_, hintValue_;
    bool hintDecides_ = false;
    // Every record of the store sorted once by the index (positions in the store's list),
    // kept while the store's records and values stay as they are: a view refreshed over
    // all of them (another folder of a large table) keeps the order instead of sorting.
    struct TSortedOrder {
        const void *Store = nullptr;
        uint64_t Generation = 0;
        size_t Count = 0;
        std::vector<const TFlatField *> Fields;
        bool CaseInsensitive = false, Descending = false;
        std::vector<uint32_t> Order;
    };
    TSortedOrder sortedOrder_;
    const std::vector<uint32_t> &SortedOrder(bool caseInsensitive, bool descending);
    TFlatBuffer *filterBuffer_ = nullptr; // a buffer read in dsFilter (lookups)
    int changes_ = 0;
    std::string dateFormat_;
};

class TFlatTable : public TFlatDataset {
public:
    TFlatTable();
    ~TFlatTable() override;

    const std::string &TableName() const { return tableName_; }
    void SetTableName(const std::string &name);
    TFlatLoadMode LoadMode() const { return loadMode_; }
    void SetLoadMode(TFlatLoadMode mode);
    TFlatTable *CloneDS() const { return cloneDS_; }
    void SetCloneDS(TFlatTable *source);
    bool StoreDefs() const { return loadMode_ == lmClear; }
    std::string Password();
    void SetPassword(const std::string &password);
    // Read from its current position by lmStream; not rewound, not owned.
    std::istream *LoadingStream = nullptr;

    void OpenTable(const std::string &name);
    // Mode 0 appends, 1 updates by UniqueFieldNames, 2 takes the structure and appends,
    // 3 takes the structure only. Answers the number of records appended or updated.
    int CopyFromDataSet(TDataSet *source, int mode);
    // Appends a record whose `fields` hold `values` straight into the store, as
    // Append, SetFieldValues and Post would store it, where nothing would see their
    // steps (AppendsInBulk, CanSetFieldValues, no default expression, no master).
    // Answers false, having changed nothing, where that fails or a value would not
    // convert: the caller then takes the steps. After a run of appends,
    // EndAppends() leaves what the last post would have.
    bool AppendValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values);
    void EndAppends();
    // The file this table reads and saves in lmFile.
    std::string FullFileName() const;

    void SetDatabase(TFlatDatabase *database) override;
    void OpenData() override;
    void Save() override;
    void CloseData() override;
    void CancelChanges() override;
    void CommitChanges() override;

protected:
    void InternalClose() override;

private:
    friend class TFlatDataset;
    struct TRecordCopier;
    // Whether records can be appended straight into the store, without the steps of
    // an insert and a post: none of them would reach anyone (no handlers, no data
    // links, controls disabled, no key check) and nothing would refuse them.
    bool AppendsInBulk() const;
    // Appends a copy of `record` as posting an insert of it would.
    void AppendStored(const TFlatRecord &record);
    void AppendShared(const TFlatRecEntry &entry, const TFlatCursor &from);
    bool AppendSharedRun(TRecordCopier &copier, int &copied);
    std::string tableName_;
    TFlatLoadMode loadMode_ = lmClear;
    TFlatTable *cloneDS_ = nullptr;
    std::vector<TFlatTable *> cloneRefs_; // tables whose CloneDS is this one
    std::string password_;
};

class TFlatDatabase {
public:
    TFlatDatabase();
    ~TFlatDatabase();
    TFlatDatabase(const TFlatDatabase &) = delete;
    TFlatDatabase &operator=(const TFlatDatabase &) = delete;

    const std::string &DatabasePath() const { return path_; }
    void SetDatabasePath(const std::string &path);
    std::string DateFormat = "mm/dd/yyyy";

    const std::vector<TFlatDataset *> &OpenDataSets() const { return open_; }
    const std::vector<TFlatDataset *> &ChangedDataSets() const { return changed_; }

private:
    friend class TFlatDataset;
    friend class TFlatTable;
    void Join(std::vector<TFlatDataset *> &list, TFlatDataset *ds);
    void Leave(std::vector<TFlatDataset *> &list, TFlatDataset *ds);
    std::string path_;
    std::vector<TFlatDataset *> members_; // data sets whose Database is this
    std::vector<TFlatDataset *> open_;
    std::vector<TFlatDataset *> changed_;
};

// Date conversions between the engine's stored forms and TDateTime.
TDateTime FlatDateToDateTime(int32_t dayNumber);
int32_t FlatDateTimeToDate(TDateTime value);
TDateTime FlatMsecsToDateTime(double msecs);
double FlatDateTimeToMsecs(TDateTime value);
// A fresh unique 8-character code (the "UNICOD" default expression).
std::string FlatUniqueCode();

// Sets a data set's filter text hint for the scope's lifetime.
class TFilterTextHintScope {
public:
    TFilterTextHintScope(TFlatDataset &dataSet, const std::string &field, const std::string &value,
                         bool decides = false)
        : ds_(dataSet)
    {
        ds_.SetFilterTextHint(field, value, decides);
    }
    ~TFilterTextHintScope() { ds_.SetFilterTextHint(std::string(), std::string()); }
    TFilterTextHintScope(const TFilterTextHintScope &) = delete;
    TFilterTextHintScope &operator=(const TFilterTextHintScope &) = delete;

private:
    TFlatDataset &ds_;
};
