#pragma once
// The headless data-set base every table of the program stands on: states,
// navigation over record buffers, edit/insert/post/cancel/delete with their
// before/after events, bookmarks, filtering through OnFilterRecord, Locate,
// field objects and field definitions, and data sources that tell listeners
// (list models, the picture control) what changed.
//
// A descendant supplies the records: it overrides the record-buffer operations
// (AllocRecordBuffer, GetRecord, InternalFirst/Last, bookmarks, InternalPost,
// InternalDelete, GetFieldData/SetFieldData, ...). The base keeps one active
// record buffer; before every move it puts the descendant's cursor back on the
// active record (InternalSetToRecord), so a descendant keeps a single position.
//
// Field values travel as TVariant in one canonical form per field type:
//   ftSmallint, ftInteger, ftLargeint, ftAutoInc   -> std::int64_t
//   ftBoolean                                      -> bool
//   ftFloat, ftCurrency                            -> double
//   ftDate, ftTime, ftDateTime                     -> double (TDateTime: days since 1899-12-30)
//   ftString                                       -> std::string (the stored bytes, UTF-8 written)
//   ftBlob, ftMemo, ftFmtMemo, ftGraphic           -> std::string (the bytes)
//   no value (NULL)                                -> std::monostate
// Failures raise EDatabaseError with an English text.
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

// ---------------------------------------------------------------- errors

class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string &message) : std::runtime_error(message) {}
};

// A table file that cannot be opened or read: what() is the engine's message; the
// file and the bare reason come with it, for a message that names both.
class EFlatFileError : public EDatabaseError {
public:
    EFlatFileError(const std::string &message, std::string fileName, std::string reason)
        : EDatabaseError(message), FileName(std::move(fileName)), Reason(std::move(reason))
    {
    }
    std::string FileName;
    std::string Reason;
    // "The file "<name>" cannot be read: <reason>".
    std::string Detail() const;
};

// A silent abort: an operation stops without a message (an event handler or
// the engine gives up an edit). Handler boundaries ignore it.
class EAbort : public std::exception {
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};

[[noreturn]] void DatabaseError(const std::string &message);
[[noreturn]] void Abort();

// Names looked up ignoring ASCII letter case, each in constant time: the first
// position given for a name wins, so lookups find the first of equal names.
class TNameIndex {
public:
    void Clear()
    {
        map_.clear();
        lastName_.clear();
        lastPos_ = -2;
    }
    void Add(const std::string &name, int position)
    {
        map_.emplace(Key(name), position);
        lastPos_ = -2;
    }
    void Reserve(size_t count) { map_.reserve(count); }
    int Find(const std::string &name) const
    {
        // Filters look the same name up for every record: the last answer is kept.
        if (lastPos_ != -2 && name == lastName_)
            return lastPos_;
        const auto it = map_.find(Key(name));
        lastName_ = name;
        lastPos_ = it == map_.end() ? -1 : it->second;
        return lastPos_;
    }

private:
    static std::string Key(const std::string &name);
    std::unordered_map<std::string, int> map_;
    mutable std::string lastName_;
    mutable int lastPos_ = -2; // -2: nothing kept
};

// ---------------------------------------------------------------- small sets

template <class E>
class TSet {
public:
    TSet() = default;
    TSet(std::initializer_list<E> items) { for (E e : items) Include(e); }
    bool Contains(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1u; }
    void Include(E e) { bits_ |= (std::uint64_t{1} << static_cast<unsigned>(e)); }
    void Exclude(E e) { bits_ &= ~(std::uint64_t{1} << static_cast<unsigned>(e)); }
    bool Empty() const { return bits_ == 0; }
    bool operator==(const TSet &) const = default;

private:
    std::uint64_t bits_ = 0;
};

// ---------------------------------------------------------------- values

using TDateTime = double;  // days since 1899-12-30, the fraction is the time of day
using TVariant = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

inline bool VarIsNull(const TVariant &v) { return std::holds_alternative<std::monostate>(v); }
// Makes `value` the text `text`, reusing the text it holds (no allocation when it fits).
inline void AssignText(TVariant &value, std::string_view text)
{
    if (auto *held = std::get_if<std::string>(&value))
        held->assign(text);
    else
        value = std::string(text);
}
// Text form of a value: integers in decimal, doubles in their shortest exact
// form, booleans "True"/"False", NULL as empty text.
std::string VarToStr(const TVariant &v);
// Equality as the framework's variants compare: numbers (and booleans) by
// value across kinds, a text against a number by converting the text; NULL
// equals nothing, not even NULL.
bool VarEquals(const TVariant &a, const TVariant &b);

// ---------------------------------------------------------------- enums

// The engine's field types (the SmallStr/String split is a matter of Size:
// a string field of size 35 or less is stored short).
enum class TFieldType {
    ftUnknown,
    ftSmallint,
    ftInteger,
    ftLargeint,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftDate,
    ftTime,
    ftDateTime,
    ftAutoInc,
    ftString,
    ftBlob,
    ftMemo,
    ftFmtMemo,
    ftGraphic,
};
using enum TFieldType;

bool IsBlobType(TFieldType t);     // ftBlob, ftMemo, ftFmtMemo, ftGraphic
bool IsTextType(TFieldType t);     // ftString, ftMemo, ftFmtMemo: texts, decoded when read
bool IsIntegerType(TFieldType t);  // ftSmallint, ftInteger, ftLargeint, ftAutoInc
bool IsFloatType(TFieldType t);    // ftFloat, ftCurrency
bool IsDateTimeType(TFieldType t); // ftDate, ftTime, ftDateTime
const char *FieldTypeName(TFieldType t);

enum class TDataSetState {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsInternalCalc,
    dsOpening,
};
using enum TDataSetState;

enum class TGetMode { gmCurrent, gmNext, gmPrior };
using enum TGetMode;
enum class TGetResult { grOK, grBOF, grEOF, grError };
using enum TGetResult;
enum class TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
using enum TBookmarkFlag;
enum class TUpdateStatus { usUnmodified, usModified, usInserted, usDeleted };
using enum TUpdateStatus;
enum class TFieldKind { fkData, fkCalculated };
using enum TFieldKind;
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
using enum TAlignment;

enum class TLocateOption { loCaseInsensitive, loPartialKey };
using enum TLocateOption;
using TLocateOptions = TSet<TLocateOption>;
enum class TFilterOption { foCaseInsensitive, foNoPartialCompare };
using enum TFilterOption;
using TFilterOptions = TSet<TFilterOption>;

enum class TDataEvent {
    deFieldChange,      // a field's value changed (field given)
    deRecordChange,     // the active record's values changed as a whole
    deDataSetChange,    // records appeared, vanished or were reordered
    deDataSetScroll,    // the current record moved
    deLayoutChange,     // fields or their properties changed
    deUpdateRecord,     // listeners write their pending input into the fields
    deUpdateState,      // the data set's state changed
};
using enum TDataEvent;

// Opaque bookmark bytes chosen by the descendant; empty means "no bookmark".
using TBookmark = std::vector<std::uint8_t>;

class TDataSet;
class TDataSource;

// ---------------------------------------------------------------- fields

class TField {
public:
    TField(TDataSet *dataSet, std::string fieldName, TFieldType dataType, int size,
           TFieldKind kind = fkData);
    TField(const TField &) = delete;
    TField &operator=(const TField &) = delete;
    virtual ~TField() = default;

    TDataSet *DataSet() const { return dataSet_; }
    const std::string &FieldName() const { return fieldName_; }
    TFieldType DataType() const { return dataType_; }
    int Size() const { return size_; }           // characters for ftString, else 0
    TFieldKind FieldKind() const { return kind_; }
    bool Calculated() const { return kind_ == fkCalculated; }
    int FieldNo() const { return fieldNo_; }      // 1-based field-definition number, 0 unbound/calculated
    int Index() const { return index_; }          // position among the data set's fields

    std::string DisplayLabel;                    // empty: the field name is shown
    std::string DisplayName() const { return DisplayLabel.empty() ? fieldName_ : DisplayLabel; }
    bool ReadOnly = false;
    bool Required = false;
    bool Visible = true;
    TAlignment Alignment;                         // right for numbers, left otherwise
    std::string DisplayFormat;                    // floating-point fields
    bool Currency = false;                        // floating-point fields
    std::string DefaultExpression;
    std::string Origin;
    // Free for the owning data set: e.g. the offset of the value in its buffer.
    int Offset = 0;

    // Raised with the value about to be written; throwing refuses it.
    std::function<void(TField *Sender)> OnValidate;
    // After the value changed in the record buffer.
    std::function<void(TField *Sender)> OnChange;

    // Reading. A NULL value reads as "", 0, 0.0, false and an empty byte string.
    // A stored text is UTF-8 when this program wrote it, Windows-1250 when a catalogue
    // came from Windows, and a table may hold both. AsString is where it becomes the
    // program's text (UTF-8, see DecodeStoredText): read texts through it to show,
    // compare or look them up. Value and AsBytes give the stored bytes, for copying a
    // value unchanged; the engine's own comparisons (Locate, filters, keys, sorting)
    // compare texts, never bytes.
    bool IsNull() const;
    TVariant Value() const;          // canonical form (a text as stored), monostate for NULL
    std::string AsString() const;
    std::int32_t AsInteger() const;  // checked: out-of-range values raise
    std::int64_t AsLargeInt() const;
    double AsFloat() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    std::string AsBytes() const;     // blob bytes (any field: its text form)
    // The stored bytes of a text field as AsBytes gives them, without a copy where
    // the data set can lend them (valid until its record changes), else kept in
    // `scratch`; any other field gives its AsString in `scratch`. For readers
    // that decode as they compare (TTextMatch, StoredTextView).
    std::string_view StoredText(std::string &scratch) const;

    // Writing (the data set must be in an edit state; it checks). A text value
    // for a string field is cut to Size bytes on a UTF-8 boundary. Conversions
    // that cannot be made raise EDatabaseError and change nothing.
    void SetValue(const TVariant &v);
    void SetAsString(const std::string &s);
    void SetAsInteger(std::int32_t v);
    void SetAsLargeInt(std::int64_t v);
    void SetAsFloat(double v);
    void SetAsDateTime(TDateTime v);
    void SetAsBoolean(bool v);
    void SetAsBytes(const std::string &bytes);
    void Clear();                    // sets NULL

    // Converts a value to this field's canonical form (raising on a bad text).
    TVariant Canonical(const TVariant &v) const;
    // What the field keeps of a text: a String its width in characters (cut between
    // characters), any other field the whole text.
    std::string_view KeptText(std::string_view text) const;
    // Runs OnValidate with `newValue` readable through the field's getters;
    // a data set calls it in SetFieldData before it writes.
    void Validate(const TVariant &newValue);

private:
    friend class TDataSet;
    TDataSet *dataSet_;
    std::string fieldName_;
    TFieldType dataType_;
    int size_;
    TFieldKind kind_;
    int fieldNo_ = 0;
    int defNo_ = 0; // the field definition a default field was made from (1-based), 0 none
    int index_ = -1;
    const TVariant *validating_ = nullptr;
};

// Date and time texts of the fields (AsString of date fields, SetAsString on
// them). The application installs the locale's short forms; the default is
// "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn:ss".
struct TDateTimeTextHooks {
    std::function<std::string(TDateTime value, TFieldType type)> Format;
    // Answers false when the text is not a date/time of the type.
    std::function<bool(const std::string &text, TFieldType type, TDateTime &value)> Parse;
};
void SetDateTimeTextHooks(TDateTimeTextHooks hooks);
std::string DateTimeToText(TDateTime value, TFieldType type);
bool TextToDateTime(const std::string &text, TFieldType type, TDateTime &value);

// ---------------------------------------------------------------- field definitions

struct TFieldDef {
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    bool Required = false;
    int FieldNo = 0; // 1-based
};

class TFieldDefs {
public:
    explicit TFieldDefs(TDataSet *owner) : owner_(owner) {}
    TFieldDef &Add(const std::string &name, TFieldType type, int size = 0, bool required = false);
    // Adds a definition even when one of the same name (ignoring case) is there; a
    // file may hold such fields, and none of them is dropped. Lookups by name find
    // the first.
    TFieldDef &AddKeepingTwins(const std::string &name, TFieldType type, int size = 0, bool required = false);
    void Clear();
    // Room for `count` definitions (a table of many fields is set up in one go).
    void Reserve(int count);
    int Count() const { return static_cast<int>(items_.size()); }
    const TFieldDef &operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
    TFieldDef &operator[](int i) { return items_.at(static_cast<size_t>(i)); }
    int IndexOf(const std::string &name) const;  // case-insensitive, -1 when absent
    const TFieldDef *Find(const std::string &name) const;
    void Assign(const TFieldDefs &other);
    // Asks the data set for its definitions (InternalInitFieldDefs).
    void Update();
    std::vector<TFieldDef>::const_iterator begin() const { return items_.begin(); }
    std::vector<TFieldDef>::const_iterator end() const { return items_.end(); }

private:
    TDataSet *owner_;
    std::vector<TFieldDef> items_;
    TNameIndex index_;
};

// ---------------------------------------------------------------- data links and sources

// A listener on a data source. Override what you need.
class TDataLink {
public:
    TDataLink() = default;
    TDataLink(const TDataLink &) = delete;
    TDataLink &operator=(const TDataLink &) = delete;
    virtual ~TDataLink();

    TDataSource *DataSource() const { return source_; }
    void SetDataSource(TDataSource *source);
    TDataSet *DataSet() const;
    bool Active() const;  // the source is enabled and its data set open

    virtual void ActiveChanged() {}
    virtual void DataSetChanged() {}
    virtual void DataSetScrolled(int /*distance*/) {}
    virtual void RecordChanged(TField * /*field*/) {}
    virtual void EditingChanged() {}
    virtual void LayoutChanged() {}
    virtual void UpdateData() {}

private:
    friend class TDataSource;
    TDataSource *source_ = nullptr;
};

class TDataSource {
public:
    TDataSource() = default;
    explicit TDataSource(TDataSet *dataSet) { SetDataSet(dataSet); }
    TDataSource(const TDataSource &) = delete;
    TDataSource &operator=(const TDataSource &) = delete;
    ~TDataSource();

    TDataSet *DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet *dataSet);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    TDataSetState State() const;

    std::function<void(TDataSource *Sender, TField *Field)> OnDataChange;
    std::function<void(TDataSource *Sender)> OnStateChange;
    std::function<void(TDataSource *Sender)> OnUpdateData;

    // Called by the data set.
    void DataEvent(TDataEvent event, TField *field, int info);

private:
    friend class TDataLink;
    friend class TDataSet;
    void AddLink(TDataLink *link);
    void RemoveLink(TDataLink *link);
    void NotifyActive();
    TDataSet *dataSet_ = nullptr;
    bool enabled_ = true;
    bool lastActive_ = false;
    std::vector<TDataLink *> links_;
};

// ---------------------------------------------------------------- record buffers

// A record buffer of a descendant. The descendant derives its own buffer type
// (field values, calculated area, bookmark information) and casts.
struct TRecordBuffer {
    virtual ~TRecordBuffer() = default;
};

// ---------------------------------------------------------------- the data set

class TDataSet {
public:
    using TDataSetNotifyEvent = std::function<void(TDataSet *DataSet)>;
    using TFilterRecordEvent = std::function<void(TDataSet *DataSet, bool &Accept)>;

    TDataSet();
    TDataSet(const TDataSet &) = delete;
    TDataSet &operator=(const TDataSet &) = delete;
    virtual ~TDataSet();

    std::string Name;  // for messages and debugging

    // --- state
    TDataSetState State() const { return state_; }
    bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    void CheckActive() const;    // "Cannot perform this operation on a closed dataset"
    void CheckInactive() const;  // "Cannot perform this operation on an open dataset"
    bool Modified() const { return modified_; }
    bool CanModify() { return GetCanModify(); }

    // --- navigation
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);  // answers the distance moved
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool IsEmpty() const;      // open and no current record
    int RecordCount() { CheckActive(); return GetRecordCount(); }
    int RecNo() { CheckActive(); return GetRecNo(); }
    void SetRecNo(int value) { CheckActive(); DoSetRecNo(value); }
    bool FindFirst() { return FindRecord(true, true); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }
    bool FindLast() { return FindRecord(true, false); }
    void Refresh();
    void Resync();  // re-reads the current record (or a neighbour when it is gone)

    // --- editing
    void Edit();
    void Insert();
    void Append();
    void Post();
    void Cancel();
    void Delete();
    void CheckBrowseMode();  // posts a modified edit, cancels an unmodified one
    void UpdateRecord();     // listeners write their pending input
    TUpdateStatus GetUpdateStatus() { return UpdateStatus(); }

    // --- bookmarks
    TBookmark GetBookmark();   // empty when there is no current record
    void GotoBookmark(const TBookmark &bookmark);
    virtual bool BookmarkValid(const TBookmark &bookmark);
    // <0, 0, >0; an empty bookmark comes first, two empty ones are equal.
    virtual int CompareBookmarks(const TBookmark &a, const TBookmark &b);
    int BookmarkSize() const { return bookmarkSize_; }

    // --- filtering
    bool Filtered() const { return filtered_; }
    virtual void SetFiltered(bool value);
    const std::string &Filter() const { return filterText_; }
    void SetFilter(const std::string &text) { SetFilterText(text); }
    TFilterOptions FilterOptions() const { return filterOptions_; }
    void SetFilterOptions(TFilterOptions options) { filterOptions_ = options; }
    const TFilterRecordEvent &OnFilterRecord() const { return onFilterRecord_; }
    virtual void SetOnFilterRecord(TFilterRecordEvent handler);

    // --- searching
    // Key fields are ";"-separated; one key value per key field.
    virtual bool Locate(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                        TLocateOptions options);
    bool Locate(const std::string &keyFields, const TVariant &keyValue, TLocateOptions options) {
        return Locate(keyFields, std::vector<TVariant>{keyValue}, options);
    }
    // The result fields' values of the first record that matches exactly (one
    // value for one result field, else the values in order); NULL when none
    // matches. The current record does not change.
    virtual std::vector<TVariant> Lookup(const std::string &keyFields,
                                         const std::vector<TVariant> &keyValues,
                                         const std::string &resultFields);

    // --- fields
    TFieldDefs &FieldDefs() { return fieldDefs_; }
    const TFieldDefs &FieldDefs() const { return fieldDefs_; }
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    TField &Fields(int index) const;
    TField *FindField(const std::string &name) const;       // case-insensitive
    TField &FieldByName(const std::string &name) const;     // "Field 'X' not found"
    // Resolves a ";"-separated list of field names.
    std::vector<TField *> GetFieldList(const std::string &names) const;
    // A persistent field (kept across opens); the data set must be closed.
    TField &CreateField(const std::string &name, TFieldType type, int size = 0,
                        TFieldKind kind = fkData);
    void DestroyFields();        // all fields; the data set must be closed (or closing)
    bool DefaultFields() const { return defaultFields_; }
    int CalcFieldCount() const;
    // Whether `fields` may be set together instead of one at a time: nothing watches
    // single fields (controls disabled, no calculated fields, each field of this data
    // set and none read-only or with an OnValidate or OnChange handler).
    bool FieldsSettableTogether(const std::vector<TField *> &fields) const;

    // --- display updates
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }

    // --- events
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent OnNewRecord, OnCalcFields;

    // Sends an event to the data sources (held back while controls are disabled).
    virtual void DataEvent(TDataEvent event, TField *field = nullptr, int info = 0);

protected:
    // Whether anyone is handed a record when it is posted (a data link or an update
    // handler of a data source).
    bool PostReachesListeners() const;
    // ===== record-buffer operations a descendant provides
    virtual std::unique_ptr<TRecordBuffer> AllocRecordBuffer() = 0;
    virtual TGetResult GetRecord(TRecordBuffer &buffer, TGetMode mode, bool doCheck) = 0;
    virtual void InternalInitRecord(TRecordBuffer &buffer) = 0;
    virtual void InternalFirst() = 0;  // before the first record
    virtual void InternalLast() = 0;   // after the last record
    virtual TBookmark GetBookmarkData(const TRecordBuffer &buffer) = 0;
    virtual void SetBookmarkData(TRecordBuffer &buffer, const TBookmark &bookmark) = 0;
    virtual TBookmarkFlag GetBookmarkFlag(const TRecordBuffer &buffer) = 0;
    virtual void SetBookmarkFlag(TRecordBuffer &buffer, TBookmarkFlag flag) = 0;
    virtual void InternalGotoBookmark(const TBookmark &bookmark) = 0;
    virtual void InternalSetToRecord(TRecordBuffer &buffer) = 0;
    // Typically: get the records, FieldDefs().Update(), CreateFields() when
    // DefaultFields(), BindFields(true). The base then reads the first record.
    virtual void InternalOpen() = 0;
    // Releases the records. The base unbinds the fields afterwards and
    // destroys default fields. Throwing keeps the data set open.
    virtual void InternalClose() = 0;
    virtual bool IsCursorOpen() const = 0;
    // Edit: write the active buffer back into the current record. Insert: add
    // the active buffer as a new record (its bookmark flag is bfEOF after
    // Append, bfInserted after Insert) and make it current. The base then
    // re-reads the current record with GetRecord(gmCurrent).
    virtual void InternalPost() = 0;
    // Delete the current record and leave the cursor where GetRecord(gmCurrent)
    // should find the record to show next (gmNext, then gmPrior are tried).
    virtual void InternalDelete() = 0;
    virtual int GetRecordCount() = 0;
    virtual int GetRecNo() = 0;
    virtual void DoSetRecNo(int value) = 0;
    // Reads a field of the record the current state points at; false for NULL.
    virtual bool GetFieldData(TField *field, TVariant &value) = 0;
    // Writes a canonical value (monostate for NULL) into that record.
    virtual void SetFieldData(TField *field, const TVariant &value) = 0;
    // The bytes GetFieldData would give for a text field, lent without a copy
    // (empty for NULL); false when this data set cannot lend them.
    virtual bool GetFieldBytes(TField * /*field*/, std::string_view & /*bytes*/) { return false; }

    // ===== optional overrides (the defaults do what the comment says)
    virtual void InternalInitFieldDefs() {}           // nothing
    virtual void OpenCursor(bool infoQuery);          // info: InternalInitFieldDefs, else InternalOpen
    virtual void CloseCursor();                       // InternalClose
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalCancel() {}                  // called in dsEdit and in dsInsert
    virtual void InternalRefresh() {}
    virtual void ClearCalcFields(TRecordBuffer & /*buffer*/) {}
    virtual void InitRecord(TRecordBuffer &buffer);   // InternalInitRecord, bfInserted, no bookmark
    virtual bool GetCanModify() { return true; }
    virtual bool IsSequenced() { return true; }
    virtual TUpdateStatus UpdateStatus() { return usUnmodified; }
    // Filter-aware search (FindFirst and friends); the default finds nothing.
    virtual bool FindRecord(bool restart, bool goForward);
    virtual void SetFilterText(const std::string &text) { filterText_ = text; }
    virtual void DoBeforeOpen() { Fire(BeforeOpen); }
    virtual void DoAfterOpen() { Fire(AfterOpen); }
    virtual void DoBeforeClose() { Fire(BeforeClose); }
    virtual void DoAfterClose() { Fire(AfterClose); }
    virtual void DoBeforeInsert() { Fire(BeforeInsert); }
    virtual void DoAfterInsert() { Fire(AfterInsert); }
    virtual void DoBeforeEdit() { Fire(BeforeEdit); }
    virtual void DoAfterEdit() { Fire(AfterEdit); }
    virtual void DoBeforePost() { Fire(BeforePost); }
    virtual void DoAfterPost() { Fire(AfterPost); }
    virtual void DoBeforeCancel() { Fire(BeforeCancel); }
    virtual void DoAfterCancel() { Fire(AfterCancel); }
    virtual void DoBeforeDelete() { Fire(BeforeDelete); }
    virtual void DoAfterDelete() { Fire(AfterDelete); }
    virtual void DoBeforeScroll() { Fire(BeforeScroll); }
    virtual void DoAfterScroll() { Fire(AfterScroll); }
    virtual void DoOnNewRecord() { Fire(OnNewRecord); }

    // ===== helpers for descendants
    TRecordBuffer *ActiveBuffer() const { return active_.get(); }  // null while closed
    TRecordBuffer *CalcBuffer() const { return calcBuffer_; }      // during dsCalcFields
    // Enters a temporary state (filter, calc fields, set key, old value) and
    // answers the state to give back to RestoreState. Listeners hear nothing
    // of what happens in a temporary state.
    TDataSetState SetTempState(TDataSetState state);
    void RestoreState(TDataSetState previous);
    void SetState(TDataSetState state);
    // Asks OnFilterRecord about the record the filter state points at.
    bool FilterAccepts();
    void GetCalcFields(TRecordBuffer &buffer);  // runs OnCalcFields when calculated fields exist
    void CreateFields();                        // default fields from the field definitions
    void BindFields(bool binding);              // field numbers from the field definitions
    void SetBookmarkSize(int size) { bookmarkSize_ = size; }
    // Closes while the descendant's overrides still exist; call from the
    // destructor of the most derived class. Never throws.
    void DestroyClose() noexcept;
    void Fire(const TDataSetNotifyEvent &event) { if (event) event(this); }

    TFilterRecordEvent onFilterRecord_;
    bool filtered_ = false;

private:
    friend class TField;
    friend class TFieldDefs;
    friend class TDataSource;
    void OpenCursorComplete();
    void ClearBuffers();
    void FetchFirst();
    void BeginInsertAppend(bool append);
    void AddDataSource(TDataSource *source);
    void RemoveDataSource(TDataSource *source);
    void SendEvent(TDataEvent event, TField *field, int info);

    TDataSetState state_ = dsInactive;
    bool bof_ = true;
    bool eof_ = true;
    bool modified_ = false;
    bool defaultFields_ = false;
    int bookmarkSize_ = 0;
    int disableCount_ = 0;
    bool pendingChange_ = false;   // an event held back while controls were disabled
    bool pendingState_ = false;
    bool hasRecord_ = false;       // the active buffer holds a record
    bool closing_ = false;
    int tempDepth_ = 0;
    std::unique_ptr<TRecordBuffer> active_;
    std::unique_ptr<TRecordBuffer> scratch_;
    TRecordBuffer *calcBuffer_ = nullptr;
    std::string filterText_;
    TFilterOptions filterOptions_;
    TFieldDefs fieldDefs_{this};
    std::vector<std::unique_ptr<TField>> fields_;
    TNameIndex fieldIndex_; // kept in step with fields_
    // Number of calculated fields, asked for every record; -1 until counted after
    // the field list last changed.
    mutable int calcFieldCount_ = -1;
    std::vector<TDataSource *> sources_;
};

// Keeps a data set's record filter (its handler, filter text and on/off state) and puts
// it back when it goes. Errors there are swallowed: a destructor must not throw, and the
// records are as the work under the guard left them.
class TSavedFilter {
public:
    explicit TSavedFilter(TDataSet &dataSet)
        : dataSet_(dataSet), handler_(dataSet.OnFilterRecord()), text_(dataSet.Filter()), filtered_(dataSet.Filtered())
    {
    }
    ~TSavedFilter()
    {
        try {
            dataSet_.SetFiltered(false);
            dataSet_.SetOnFilterRecord(handler_);
            if (dataSet_.Filter() != text_)
                dataSet_.SetFilter(text_);
            if (filtered_)
                dataSet_.SetFiltered(true);
        } catch (...) {
        }
    }
    TSavedFilter(const TSavedFilter &) = delete;
    TSavedFilter &operator=(const TSavedFilter &) = delete;

private:
    TDataSet &dataSet_;
    TDataSet::TFilterRecordEvent handler_;
    std::string text_;
    bool filtered_;
};
