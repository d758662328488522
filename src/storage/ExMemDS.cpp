#include "storage/ExMemDS.h"

#include "storage/DBUtils.h"
#include "storage/FlatTbl.h"
#include "util/TextCodec.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kLowestID = std::numeric_limits<std::int32_t>::min();
// Records are packed into chunks of this size (a larger record gets a chunk of
// its own); a chunk whose records have all left is given back.
constexpr std::uint32_t kChunkBytes = 64 * 1024;

template <class T>
void put(std::string &out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
}

void putLength(std::string &out, std::uint32_t n) {
    while (n >= 0x80) {
        out += static_cast<char>(0x80 | (n & 0x7f));
        n >>= 7;
    }
    out += static_cast<char>(n);
}

[[noreturn]] void Corrupt() { DatabaseError("Buffer structure corruption!"); }

struct Reader {
    const char *p;
    const char *end;
    template <class T>
    T get() {
        if (static_cast<size_t>(end - p) < sizeof(T)) Corrupt();
        T v;
        std::memcpy(&v, p, sizeof(T));
        p += sizeof(T);
        return v;
    }
    std::uint32_t length() {
        std::uint32_t n = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            if (p == end) Corrupt();
            const auto c = static_cast<unsigned char>(*p++);
            n |= static_cast<std::uint32_t>(c & 0x7f) << shift;
            if (!(c & 0x80)) return n;
        }
        Corrupt();
    }
};

// Appends records of `source` to `dest`, one per Post. A table file's record is
// packed once from all the values when nothing watches its single fields (asked
// again for each record: a handler of the insert may have started watching);
// else the fields are set one at a time.
class TRecordPoster {
public:
    TRecordPoster(TDataSet &source, TDataSet &dest, size_t sourceFields)
        : pairs_(MatchFieldsByName(source, dest)), flat_(dynamic_cast<TFlatDataset *>(&dest)),
          table_(dynamic_cast<TFlatTable *>(&dest)), values_(pairs_.size()) {
        for (const auto &pair : pairs_) targets_.push_back(pair.second);
        // When every field of the source goes over, in order, its record's values
        // can be handed over as they are, uncopied.
        whole_ = pairs_.size() == sourceFields;
        for (size_t i = 0; whole_ && i < pairs_.size(); ++i)
            whole_ = !pairs_[i].first->Calculated() && pairs_[i].first->FieldNo() == static_cast<int>(i) + 1;
    }

    // `current`: the source record's values in field order, when at hand.
    void Post(TDataSet &dest, const std::vector<TVariant> *current) {
        // The source record's values, handed over as they are or read from its fields.
        const auto values = [&]() -> const std::vector<TVariant> & {
            if (whole_ && current && current->size() == pairs_.size()) return *current;
            for (size_t i = 0; i < pairs_.size(); ++i) values_[i] = pairs_[i].first->Value();
            return values_;
        };
        // Straight into the table's store where nothing would see the steps.
        if (table_ && table_->AppendValues(targets_, values())) {
            appended_ = true;
            return;
        }
        appended_ = false; // the post below leaves the table as the last one would
        dest.Append();
        if (flat_ && flat_->CanSetFieldValues(targets_)) {
            flat_->SetFieldValues(targets_, values());
        } else {
            AssignRecord(pairs_, dest);
        }
        dest.Post();
    }

    // After the last post (or a failure with the table browsing): the table as the
    // last post would have left it.
    void Settle() {
        if (appended_ && table_->State() == dsBrowse) table_->EndAppends();
        appended_ = false;
    }

private:
    const TFieldPairs pairs_;
    TFlatDataset *const flat_;
    TFlatTable *const table_;
    bool appended_ = false;
    std::vector<TField *> targets_;
    std::vector<TVariant> values_;
    bool whole_ = false;
};

// Runs `work`, then `finish` whichever way `work` ends. What `work` throws goes on
// (a failure of `finish` after it is dropped); else what `finish` throws does.
template <class Work, class Finish>
void ThenFinish(Work &&work, Finish &&finish) {
    try {
        work();
    } catch (...) {
        try {
            finish();
        } catch (...) {
        }
        throw;
    }
    finish();
}

} // namespace

struct TExMemoryData::Buffer : TRecordBuffer {
    std::vector<TVariant> values;  // per field definition
    std::vector<TVariant> calc;    // per calculated field
    std::int32_t id = 0;
    TBookmarkFlag flag = bfCurrent;
    int hint = -1;                 // list position the record was read from
};

TExMemoryData::TExMemoryData() : lastID_(kLowestID) {}

TExMemoryData::~TExMemoryData() { DestroyClose(); }

void TExMemoryData::SetCapacity(int value) {
    if (value < 0) value = 0;
    capacity_ = value;  // the records need no room kept in advance
}

// ---------------------------------------------------------------- buffers

std::unique_ptr<TRecordBuffer> TExMemoryData::AllocRecordBuffer() {
    auto b = std::make_unique<Buffer>();
    b->values.resize(types_.size());
    b->calc.resize(static_cast<size_t>(CalcFieldCount()));
    return b;
}

void TExMemoryData::InternalInitRecord(TRecordBuffer &buffer) {
    auto &b = static_cast<Buffer &>(buffer);
    for (auto &v : b.values) v = TVariant{};
    b.id = 0;
    b.hint = -1;
}

void TExMemoryData::ClearCalcFields(TRecordBuffer &buffer) {
    for (auto &v : static_cast<Buffer &>(buffer).calc) v = TVariant{};
}

TBookmark TExMemoryData::GetBookmarkData(const TRecordBuffer &buffer) {
    const std::int32_t id = static_cast<const Buffer &>(buffer).id;
    TBookmark bm(4);
    std::memcpy(bm.data(), &id, 4);
    return bm;
}

void TExMemoryData::SetBookmarkData(TRecordBuffer &buffer, const TBookmark &bookmark) {
    auto &b = static_cast<Buffer &>(buffer);
    b.id = 0;
    if (bookmark.size() == 4) std::memcpy(&b.id, bookmark.data(), 4);
}

TBookmarkFlag TExMemoryData::GetBookmarkFlag(const TRecordBuffer &buffer) {
    return static_cast<const Buffer &>(buffer).flag;
}

void TExMemoryData::SetBookmarkFlag(TRecordBuffer &buffer, TBookmarkFlag flag) {
    static_cast<Buffer &>(buffer).flag = flag;
}

void TExMemoryData::EncodeRecord(const Buffer &b, std::string &out) const { EncodeValues(b.values, nullptr, out); }

void TExMemoryData::EncodeValues(const std::vector<TVariant> &values, const std::vector<char> *set,
                                 std::string &out) const {
    out.clear();
    const size_t mapBytes = (types_.size() + 7) / 8;
    out.assign(mapBytes, '\0');
    for (size_t i = 0; i < types_.size(); ++i) {
        const TVariant &v = values[i];
        if ((set && !(*set)[i]) || VarIsNull(v)) continue;
        out[i / 8] = static_cast<char>(out[i / 8] | (1 << (i % 8)));
        switch (types_[i]) {
        case ftSmallint: put<std::int16_t>(out, static_cast<std::int16_t>(std::get<std::int64_t>(v))); break;
        case ftInteger:
        case ftAutoInc: put<std::int32_t>(out, static_cast<std::int32_t>(std::get<std::int64_t>(v))); break;
        case ftLargeint: put<std::int64_t>(out, std::get<std::int64_t>(v)); break;
        case ftBoolean: out += std::get<bool>(v) ? '\1' : '\0'; break;
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime: put<double>(out, std::get<double>(v)); break;
        default: {
            const std::string &s = std::get<std::string>(v);
            if (s.size() > std::numeric_limits<std::uint32_t>::max() - 16) DatabaseError("Value too long");
            putLength(out, static_cast<std::uint32_t>(s.size()));
            out += s;
        }
        }
    }
    if (out.size() > std::numeric_limits<std::uint32_t>::max() - 16) DatabaseError("Value too long");
}

TExMemoryData::Record TExMemoryData::Store(std::int32_t id, const std::string &bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (!chunks_.empty() && chunks_.back().live == 0) chunks_.back().used = 0;  // all its records left
    if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < size) {
        if (chunks_.size() >= std::numeric_limits<std::uint32_t>::max())
            DatabaseError("Too many records added to the table");
        Chunk c;
        c.capacity = std::max(kChunkBytes, size);
        c.bytes.reset(new char[c.capacity]);
        chunks_.push_back(std::move(c));
    }
    Chunk &c = chunks_.back();
    if (size) std::memcpy(c.bytes.get() + c.used, bytes.data(), size);
    const Record r{id, size, static_cast<std::uint32_t>(chunks_.size() - 1), c.used};
    c.used += size;
    ++c.live;
    return r;
}

void TExMemoryData::Release(const Record &r) {
    Chunk &c = chunks_[r.chunk];
    if (--c.live == 0 && r.chunk + 1 != chunks_.size()) {
        c.bytes.reset();
        c.used = c.capacity = 0;
    }
}

void TExMemoryData::ForgetMoved() {
    movedIDs_.clear();
    movedIDs_.shrink_to_fit();
    moved_ = 0;
}

void TExMemoryData::ClearRecords() {
    records_.clear();
    records_.shrink_to_fit();
    chunks_.clear();
    chunks_.shrink_to_fit();
    ForgetMoved();
}

void TExMemoryData::RecordToBuffer(const Record &record, int position, Buffer &b) {
    if (record.chunk >= chunks_.size()) Corrupt();
    const Chunk &c = chunks_[record.chunk];
    if (!c.bytes || record.offset + static_cast<std::uint64_t>(record.size) > c.used) Corrupt();
    const char *data = c.bytes.get() + record.offset;
    const size_t mapBytes = (types_.size() + 7) / 8;
    if (record.size < mapBytes) Corrupt();
    Reader in{data + mapBytes, data + record.size};
    b.values.resize(types_.size());
    for (size_t i = 0; i < types_.size(); ++i) {
        if (!(static_cast<unsigned char>(data[i / 8]) & (1 << (i % 8)))) {
            b.values[i] = TVariant{};
            continue;
        }
        switch (types_[i]) {
        case ftSmallint: b.values[i] = static_cast<std::int64_t>(in.get<std::int16_t>()); break;
        case ftInteger:
        case ftAutoInc: b.values[i] = static_cast<std::int64_t>(in.get<std::int32_t>()); break;
        case ftLargeint: b.values[i] = in.get<std::int64_t>(); break;
        case ftBoolean: b.values[i] = in.get<char>() != 0; break;
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime: b.values[i] = in.get<double>(); break;
        default: {
            const std::uint32_t len = in.length();
            if (len > static_cast<size_t>(in.end - in.p)) Corrupt();
            AssignText(b.values[i], std::string_view(in.p, len));
            in.p += len;
        }
        }
    }
    b.id = record.ID;
    b.flag = bfCurrent;
    b.hint = position;
}

TExMemoryData::Buffer *TExMemoryData::ActiveRecordBuffer() {
    switch (State()) {
    case dsBrowse:
        if (moveBuffer_) return moveBuffer_;
        return IsEmpty() ? nullptr : static_cast<Buffer *>(ActiveBuffer());
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsNewValue:
        return static_cast<Buffer *>(ActiveBuffer());
    case dsCalcFields:
    case dsInternalCalc:
        return static_cast<Buffer *>(CalcBuffer());
    case dsFilter:
        return filterBuffer_;
    default:
        return nullptr;
    }
}

// ---------------------------------------------------------------- navigation

bool TExMemoryData::AcceptedAt(int position) {
    if (!Filtered() || !OnFilterRecord()) return true;
    if (!filterScratch_) filterScratch_ = std::make_unique<Buffer>();
    RecordToBuffer(records_[static_cast<size_t>(position)], position, *filterScratch_);
    Buffer *saved = filterBuffer_;
    filterBuffer_ = filterScratch_.get();
    const TDataSetState previous = SetTempState(dsFilter);
    bool accept;
    try {
        accept = FilterAccepts();
    } catch (...) {
        RestoreState(previous);
        filterBuffer_ = saved;
        throw;
    }
    RestoreState(previous);
    filterBuffer_ = saved;
    return accept;
}

TGetResult TExMemoryData::GetRecord(TRecordBuffer &buffer, TGetMode mode, bool doCheck) {
    auto &b = static_cast<Buffer &>(buffer);
    const int count = static_cast<int>(records_.size());
    if (count == 0) return grEOF;
    TGetResult result;
    bool accept = true;
    do {
        result = grOK;
        switch (mode) {
        case gmNext:
            if (position_ >= count - 1) result = grEOF; else ++position_;
            break;
        case gmPrior:
            if (position_ <= 0) result = grBOF; else --position_;
            break;
        case gmCurrent:
            if (position_ < 0 || position_ >= count) result = grError;
            break;
        }
        if (result != grOK) break;
        accept = AcceptedAt(position_);
        if (!accept && mode == gmCurrent) result = grError;
    } while (result == grOK && !accept);
    if (result == grOK) {
        RecordToBuffer(records_[static_cast<size_t>(position_)], position_, b);
        GetCalcFields(b);
    } else if (result == grError && doCheck) {
        DatabaseError("No data found");
    }
    return result;
}

void TExMemoryData::InternalFirst() { position_ = -1; }
void TExMemoryData::InternalLast() { position_ = static_cast<int>(records_.size()); }

int TExMemoryData::IndexOfID(std::int32_t id) const {
    for (size_t i = 0; i < records_.size(); ++i)
        if (records_[i].ID == id) return static_cast<int>(i);
    return -1;
}

void TExMemoryData::InternalGotoBookmark(const TBookmark &bookmark) {
    if (bookmark.size() != 4) return;
    std::int32_t id;
    std::memcpy(&id, bookmark.data(), 4);
    const int i = IndexOfID(id);
    if (i < 0 || !AcceptedAt(i)) return;
    position_ = i;
}

void TExMemoryData::InternalSetToRecord(TRecordBuffer &buffer) {
    auto &b = static_cast<Buffer &>(buffer);
    // The buffer remembers where it was read from; a record found there is
    // the one (IDs are unique), which keeps every step of a walk O(1).
    if (b.hint >= 0 && b.hint < static_cast<int>(records_.size()) &&
        records_[static_cast<size_t>(b.hint)].ID == b.id) {
        position_ = b.hint;
        return;
    }
    if (b.flag == bfInserted || b.flag == bfEOF) return;
    const int i = IndexOfID(b.id);
    if (i >= 0) position_ = i;
}

int TExMemoryData::GetRecordCount() { return static_cast<int>(records_.size()); }

int TExMemoryData::GetRecNo() {
    if (State() != dsInsert && !IsEmpty()) InternalSetToRecord(*ActiveBuffer());
    if (position_ < 0 && !records_.empty()) return 1;
    return position_ + 1;
}

void TExMemoryData::DoSetRecNo(int value) {
    if (value < 1 || value > static_cast<int>(records_.size())) return;
    CheckBrowseMode();
    DoBeforeScroll();
    position_ = value - 1;
    Resync();
    DoAfterScroll();
}

std::int32_t TExMemoryData::CurrentID() {
    if (!Active() || IsEmpty() || State() == dsInsert) return 0;
    return static_cast<Buffer *>(ActiveBuffer())->id;
}

bool TExMemoryData::BookmarkValid(const TBookmark &bookmark) {
    if (!open_ || bookmark.size() != 4) return false;
    std::int32_t id;
    std::memcpy(&id, bookmark.data(), 4);
    return id != kLowestID && id <= lastID_;
}

int TExMemoryData::CompareBookmarks(const TBookmark &a, const TBookmark &b) {
    if (a.size() != 4 || b.size() != 4) return (a.size() == 4 ? 1 : 0) - (b.size() == 4 ? 1 : 0);
    std::int32_t x, y;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// ---------------------------------------------------------------- open and close

void TExMemoryData::CheckFieldTypes() {
    for (int i = 0; i < FieldCount(); ++i) {
        TField &f = Fields(i);
        if (!f.Calculated() && f.DataType() == ftUnknown)
            DatabaseError("Field '" + f.DisplayName() + "' is of an unknown type");
    }
}

void TExMemoryData::OpenCursor(bool infoQuery) {
    if (!infoQuery && !DefaultFields()) {
        // Persistent fields decide the structure.
        CheckFieldTypes();
        FieldDefs().Clear();
        for (int i = 0; i < FieldCount(); ++i) {
            TField &f = Fields(i);
            if (!f.Calculated()) FieldDefs().Add(f.FieldName(), f.DataType(), f.Size(), f.Required);
        }
    }
    TDataSet::OpenCursor(infoQuery);
}

void TExMemoryData::InternalOpen() {
    SetBookmarkSize(4);
    if (DefaultFields()) CreateFields();
    CheckFieldTypes();
    BindFields(true);
    types_.clear();
    for (const TFieldDef &def : FieldDefs()) types_.push_back(def.DataType);
    int slot = 0;
    for (int i = 0; i < FieldCount(); ++i)
        if (Fields(i).Calculated()) Fields(i).Offset = slot++;
    filterScratch_.reset();
    open_ = true;
    position_ = -1;
}

void TExMemoryData::InternalClose() {
    ClearRecords();
    types_.clear();
    filterScratch_.reset();
    position_ = -1;
    lastID_ = kLowestID;
    autoInc_ = 1;
    open_ = false;
}

// ---------------------------------------------------------------- editing

void TExMemoryData::SetAutoIncFields(Buffer &b) {
    bool any = false;
    for (size_t i = 0; i < types_.size(); ++i)
        if (types_[i] == ftAutoInc) {
            b.values[i] = static_cast<std::int64_t>(autoInc_);
            any = true;
        }
    if (any) ++autoInc_;
}

void TExMemoryData::InternalPost() {
    auto &b = *static_cast<Buffer *>(ActiveBuffer());
    if (State() == dsEdit) {
        if (position_ < 0 || position_ >= static_cast<int>(records_.size())) DatabaseError("No data found");
        Record &r = records_[static_cast<size_t>(position_)];
        EncodeRecord(b, encoded_);
        const Record stored = Store(r.ID, encoded_);
        Release(r);
        r = stored;
        return;
    }
    if (lastID_ == std::numeric_limits<std::int32_t>::max())
        DatabaseError("Too many records added to the table");
    // The buffer gets its auto-increment values only once the record is stored.
    const bool autoInc = std::find(types_.begin(), types_.end(), ftAutoInc) != types_.end();
    Buffer copy;
    if (autoInc) {
        copy = b;
        SetAutoIncFields(copy);
    }
    EncodeRecord(autoInc ? copy : b, encoded_);
    const Record r = Store(lastID_ + 1, encoded_);
    if (position_ >= static_cast<int>(records_.size()) || b.flag == bfEOF) {
        records_.push_back(r);
        position_ = static_cast<int>(records_.size()) - 1;
    } else {
        const int at = position_ < 0 ? 0 : position_;
        records_.insert(records_.begin() + at, r);
        position_ = at;
    }
    ++lastID_;
    if (autoInc) b = std::move(copy);
}

void TExMemoryData::InternalDelete() {
    if (position_ < 0 || position_ >= static_cast<int>(records_.size())) DatabaseError("No data found");
    Release(records_[static_cast<size_t>(position_)]);
    records_.erase(records_.begin() + position_);
    if (position_ >= static_cast<int>(records_.size())) --position_;
    // Show the nearest record at or before the deleted one that the filter
    // accepts.
    while (position_ >= 0 && !AcceptedAt(position_)) --position_;
}

bool TExMemoryData::GetFieldData(TField *field, TVariant &value) {
    Buffer *b = ActiveRecordBuffer();
    if (!b) return false;
    if (field->Calculated()) {
        const auto slot = static_cast<size_t>(field->Offset);
        if (slot >= b->calc.size()) return false;
        value = b->calc[slot];
    } else {
        const auto i = static_cast<size_t>(field->FieldNo() - 1);
        if (field->FieldNo() < 1 || i >= b->values.size()) return false;
        value = b->values[i];
    }
    return !VarIsNull(value);
}

void TExMemoryData::SetFieldData(TField *field, const TVariant &value) {
    const TDataSetState s = State();
    const bool editing = s == dsEdit || s == dsInsert || s == dsSetKey || s == dsCalcFields || s == dsFilter ||
                         s == dsNewValue || s == dsInternalCalc;
    if (!editing || (!field->Calculated() && (s == dsCalcFields || s == dsFilter)))
        DatabaseError("Dataset not in edit or insert mode");
    if (field->ReadOnly && s != dsSetKey && s != dsFilter)
        DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
    Buffer *b = ActiveRecordBuffer();
    if (!b) DatabaseError("Dataset not in edit or insert mode");
    field->Validate(value);
    if (field->Calculated()) {
        const auto slot = static_cast<size_t>(field->Offset);
        if (slot >= b->calc.size()) DatabaseError("Field '" + field->DisplayName() + "' not found");
        b->calc[slot] = value;
    } else {
        const auto i = static_cast<size_t>(field->FieldNo() - 1);
        if (field->FieldNo() < 1 || i >= b->values.size())
            DatabaseError("Field '" + field->DisplayName() + "' not found");
        b->values[i] = value;
    }
    if (s != dsCalcFields && s != dsFilter && s != dsNewValue) DataEvent(deFieldChange, field);
}

bool TExMemoryData::CanSetFieldValues(const std::vector<TField *> &fields) const {
    if (!open_ || !FieldsSettableTogether(fields)) return false;
    for (const TField *field : fields)
        if (field->FieldNo() < 1 || static_cast<size_t>(field->FieldNo()) > types_.size()) return false;
    return true;
}

void TExMemoryData::SetFieldValues(const std::vector<TField *> &fields, std::vector<TVariant> &values) {
    if (fields.size() != values.size()) DatabaseError("Field and value counts differ");
    CheckActive();
    const TDataSetState s = State();
    if (s != dsEdit && s != dsInsert) DatabaseError("Dataset not in edit or insert mode");
    Buffer &b = *static_cast<Buffer *>(ActiveBuffer());
    TField *changed = nullptr;
    auto finish = [&] {
        if (changed) DataEvent(deFieldChange, changed);
    };
    try {
        for (size_t i = 0; i < fields.size(); ++i) {
            TField *field = fields[i];
            if (!field || field->DataSet() != this || field->Calculated() || field->FieldNo() < 1 ||
                static_cast<size_t>(field->FieldNo()) > b.values.size())
                DatabaseError("Field not found");
            // Whatever watches single fields must be served by setting them one at a time.
            if (field->ReadOnly || field->OnValidate || field->OnChange)
                DatabaseError("Field '" + field->DisplayName() + "' cannot be set with the others");
            TVariant &target = b.values[static_cast<size_t>(field->FieldNo() - 1)];
            const std::string *text = std::get_if<std::string>(&values[i]);
            if (text && field->DataType() == ftString) {
                // What TField::SetValue keeps of a text, put in place of the old one.
                AssignText(target, field->KeptText(*text));
            } else if (text && IsBlobType(field->DataType())) {
                target = std::move(values[i]);
            } else {
                target = field->Canonical(values[i]);
            }
            changed = field;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool TExMemoryData::AppendValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values) {
    if (fields.size() != values.size() || !Active() || State() != dsBrowse || !CanSetFieldValues(fields) ||
        Filtered() || BeforeInsert || AfterInsert || OnNewRecord || BeforePost || AfterPost || BeforeScroll ||
        AfterScroll || PostReachesListeners() || !GetCanModify() ||
        lastID_ == std::numeric_limits<std::int32_t>::max() ||
        std::find(types_.begin(), types_.end(), ftAutoInc) != types_.end())
        return false;
    appendValues_.resize(types_.size());
    appendSet_.assign(types_.size(), 0);
    try {
        for (size_t i = 0; i < fields.size(); ++i) {
            TField *field = fields[i];
            const auto at = static_cast<size_t>(field->FieldNo() - 1);
            TVariant &target = appendValues_[at];
            // The conversions of SetFieldValues; the texts go into the room the
            // last record's left, so a run of appends allocates next to nothing.
            const std::string *text = std::get_if<std::string>(&values[i]);
            if (text && field->DataType() == ftString)
                AssignText(target, field->KeptText(*text));
            else if (text && IsBlobType(field->DataType()))
                AssignText(target, *text);
            else
                target = field->Canonical(values[i]);
            appendSet_[at] = 1;
        }
    } catch (...) {
        return false; // the steps one at a time give the error in its place
    }
    EncodeValues(appendValues_, &appendSet_, encoded_);
    records_.push_back(Store(lastID_ + 1, encoded_));
    position_ = static_cast<int>(records_.size()) - 1;
    ++lastID_;
    // What the insert and the post would have held back for the controls.
    DataEvent(deUpdateState);
    DataEvent(deDataSetChange);
    return true;
}

// ---------------------------------------------------------------- filtering

void TExMemoryData::SetFiltered(bool value) {
    if (value == Filtered()) return;
    TDataSet::SetFiltered(value);
    if (Active()) First();
}

void TExMemoryData::SetOnFilterRecord(TFilterRecordEvent handler) {
    TDataSet::SetOnFilterRecord(std::move(handler));
    if (Filtered() && Active()) First();
}

// ---------------------------------------------------------------- whole-table operations

void TExMemoryData::EmptyTable() {
    if (!Active()) return;
    CheckBrowseMode();
    ClearRecords();
    position_ = -1;
    lastID_ = kLowestID;
    Resync();
}

void TExMemoryData::CopyStructure(TDataSet *source) {
    CheckInactive();
    DestroyFields();
    FieldDefs().Clear();
    if (!source) return;
    if (source->Active()) source->FieldDefs().Update();
    for (const TFieldDef &def : source->FieldDefs()) {
        if (def.DataType == ftUnknown) continue;
        FieldDefs().Add(def.Name, def.DataType, def.Size, def.Required);
    }
    for (const TFieldDef &def : FieldDefs()) {
        TField &f = CreateField(def.Name, def.DataType, def.Size);
        f.Required = def.Required;
    }
}

int TExMemoryData::LoadFromDataSet(TDataSet &source, int recordCount, bool appendData) {
    if (&source == this) return 0;
    int copied = 0;
    const bool sourceWasActive = source.Active();
    DisableControls();
    source.DisableControls();
    auto finish = [&] {
        if (State() == dsInsert) Cancel();
        EnableControls();
        source.EnableControls();
        if (!sourceWasActive && source.Active()) source.Close();
    };
    ThenFinish([&] {
        if (Active()) SetFiltered(false); else filtered_ = false;
        if (!sourceWasActive) source.Open();
        if (!appendData) {
            Close();
            CopyStructure(&source);
        }
        Open();
        if (recordCount < 1) source.First();
        const TFieldPairs pairs = MatchFieldsByName(source, *this);
        while (!source.Eof() && !source.IsEmpty() && (recordCount < 1 || copied < recordCount)) {
            Append();
            AssignRecord(pairs, *this);
            Post();
            ++copied;
            source.Next();
        }
        First();
    }, finish);
    return copied;
}

int TExMemoryData::SaveToDataSet(TDataSet &dest, int recordCount) {
    if (&dest == this) return 0;
    CheckBrowseMode();
    int copied = 0;
    dest.DisableControls();
    DisableControls();
    auto finish = [&] {
        if (dest.State() == dsInsert) dest.Cancel();
        EnableControls();
        dest.EnableControls();
    };
    ThenFinish([&] {
        if (!dest.Active()) dest.Open();
        if (recordCount < 1) First();
        TRecordPoster poster(*this, dest, types_.size());
        ThenFinish([&] {
            while (!Eof() && !IsEmpty() && (recordCount < 1 || copied < recordCount)) {
                const Buffer *current = ActiveRecordBuffer();
                poster.Post(dest, current ? &current->values : nullptr);
                ++copied;
                Next();
            }
        }, [&] { poster.Settle(); });
        dest.First();
    }, finish);
    return copied;
}

int TExMemoryData::MoveToDataSet(TDataSet &dest) {
    if (&dest == this) return 0;
    CheckBrowseMode();
    ForgetMoved();
    int moved = 0;
    std::deque<Record> hidden;  // records the filter keeps here, in order
    Buffer current;
    dest.DisableControls();
    DisableControls();
    // The records not moved go back in their order: those the filter hid, then
    // the rest.
    auto finish = [&] {
        moveBuffer_ = nullptr;
        records_.insert(records_.begin(), hidden.begin(), hidden.end());
        position_ = -1;
        if (dest.State() == dsInsert) dest.Cancel();
        First();
        EnableControls();
        dest.EnableControls();
    };
    ThenFinish([&] {
        if (!dest.Active()) dest.Open();
        TRecordPoster poster(*this, dest, types_.size());
        current.values.resize(types_.size());
        current.calc.resize(static_cast<size_t>(CalcFieldCount()));
        // The fields of this table read the record being moved.
        moveBuffer_ = &current;
        ThenFinish([&] {
            while (!records_.empty()) {
                const Record r = records_.front();
                if (!AcceptedAt(0)) {
                    hidden.push_back(r);
                    records_.pop_front();
                    continue;
                }
                RecordToBuffer(r, 0, current);
                GetCalcFields(current);
                poster.Post(dest, &current.values);
                // dest holds it now: its bytes go.
                if (!movedIDs_.empty() && movedIDs_.back().second < std::numeric_limits<std::int32_t>::max() &&
                    static_cast<std::int64_t>(movedIDs_.back().first) + movedIDs_.back().second == r.ID)
                    ++movedIDs_.back().second;
                else
                    movedIDs_.emplace_back(r.ID, 1);
                ++moved_;
                records_.pop_front();
                Release(r);
                ++moved;
            }
        }, [&] { poster.Settle(); });
        dest.First();
    }, finish);
    return moved;
}

int TExMemoryData::TakeBack(TDataSet &source, const std::function<bool()> &belongs) {
    if (&source == this || moved_ == 0) return 0;
    CheckBrowseMode();
    std::deque<Record> back;
    size_t next = 0;
    DisableControls();
    source.DisableControls();
    auto finish = [&] {
        if (State() == dsInsert) Cancel();
        EnableControls();
        source.EnableControls();
    };
    ThenFinish([&] {
        try {
            const TFieldPairs pairs = MatchFieldsByName(source, *this);
            // Each record goes through an insert so that its values are converted as
            // setting the fields converts them; it is stored under its old ID instead
            // of being posted.
            size_t run = 0;
            std::int32_t inRun = 0;
            for (; next < static_cast<size_t>(moved_) && !source.Eof() && !source.IsEmpty(); source.Next()) {
                if (belongs && !belongs()) continue;
                Append();
                AssignRecord(pairs, *this);
                EncodeRecord(*static_cast<Buffer *>(ActiveBuffer()), encoded_);
                back.push_back(Store(movedIDs_[run].first + inRun, encoded_));
                if (++inRun == movedIDs_[run].second) {
                    ++run;
                    inRun = 0;
                }
                ++next;
                Cancel();
            }
        } catch (...) {
            // The records taken back so far are given up.
            for (const Record &r : back) Release(r);
            throw;
        }
    }, finish);
    records_.insert(records_.begin(), back.begin(), back.end());
    ForgetMoved();
    First();
    return static_cast<int>(next);
}
