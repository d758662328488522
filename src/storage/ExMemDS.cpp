#include "storage/ExMemDS.h"

#include "storage/DBUtils.h"
#include "storage/FlatTbl.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kLowestID = std::numeric_limits<std::int32_t>::min();

template <class T>
void put(std::string &out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
}

template <class T>
T get(const std::string &in, size_t &pos) {
    T v;
    if (pos + sizeof(T) > in.size()) DatabaseError("Buffer structure corruption!");
    std::memcpy(&v, in.data() + pos, sizeof(T));
    pos += sizeof(T);
    return v;
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
    capacity_ = value;
    if (static_cast<size_t>(value) > records_.size()) records_.reserve(static_cast<size_t>(value));
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

std::string TExMemoryData::EncodeRecord(const Buffer &b) const {
    std::string out;
    for (size_t i = 0; i < types_.size(); ++i) {
        const TVariant &v = b.values[i];
        if (VarIsNull(v)) {
            out += '\0';
            continue;
        }
        out += '\1';
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
            if (s.size() > std::numeric_limits<std::uint32_t>::max()) DatabaseError("Value too long");
            put<std::uint32_t>(out, static_cast<std::uint32_t>(s.size()));
            out += s;
        }
        }
    }
    return out;
}

void TExMemoryData::RecordToBuffer(const Record &record, int position, Buffer &b) {
    size_t pos = 0;
    const std::string &in = record.data;
    b.values.resize(types_.size());
    for (size_t i = 0; i < types_.size(); ++i) {
        const char present = get<char>(in, pos);
        if (!present) {
            b.values[i] = TVariant{};
            continue;
        }
        switch (types_[i]) {
        case ftSmallint: b.values[i] = static_cast<std::int64_t>(get<std::int16_t>(in, pos)); break;
        case ftInteger:
        case ftAutoInc: b.values[i] = static_cast<std::int64_t>(get<std::int32_t>(in, pos)); break;
        case ftLargeint: b.values[i] = get<std::int64_t>(in, pos); break;
        case ftBoolean: b.values[i] = get<char>(in, pos) != 0; break;
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime: b.values[i] = get<double>(in, pos); break;
        default: {
            const auto len = get<std::uint32_t>(in, pos);
            if (len > in.size() - pos) DatabaseError("Buffer structure corruption!");
            b.values[i] = in.substr(pos, len);
            pos += len;
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
    if (capacity_ > 0) records_.reserve(static_cast<size_t>(capacity_));
    open_ = true;
    position_ = -1;
}

void TExMemoryData::InternalClose() {
    records_.clear();
    records_.shrink_to_fit();
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
        records_[static_cast<size_t>(position_)].data = EncodeRecord(b);
        return;
    }
    if (lastID_ == std::numeric_limits<std::int32_t>::max())
        DatabaseError("Too many records added to the table");
    Buffer copy = b;
    SetAutoIncFields(copy);
    Record r{lastID_ + 1, EncodeRecord(copy)};
    if (position_ >= static_cast<int>(records_.size()) || b.flag == bfEOF) {
        records_.push_back(std::move(r));
        position_ = static_cast<int>(records_.size()) - 1;
    } else {
        const int at = position_ < 0 ? 0 : position_;
        records_.insert(records_.begin() + at, std::move(r));
        position_ = at;
    }
    ++lastID_;
    b = std::move(copy);
}

void TExMemoryData::InternalDelete() {
    if (position_ < 0 || position_ >= static_cast<int>(records_.size())) DatabaseError("No data found");
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
    records_.clear();
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
    try {
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
    } catch (...) {
        try {
            finish();
        } catch (...) {
        }
        throw;
    }
    finish();
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
    try {
        if (!dest.Active()) dest.Open();
        if (recordCount < 1) First();
        const TFieldPairs pairs = MatchFieldsByName(*this, dest);
        // A table file's record is packed once from all the values when nothing
        // watches its single fields (asked again for each record: a handler of the
        // insert may have started watching); else the fields are set one at a time.
        auto *flat = dynamic_cast<TFlatDataset *>(&dest);
        std::vector<TField *> targets;
        for (const auto &pair : pairs) targets.push_back(pair.second);
        // When every field of this table goes over, in order, the values are handed
        // over straight from the record buffer, uncopied.
        bool whole = pairs.size() == types_.size();
        for (size_t i = 0; whole && i < pairs.size(); ++i)
            whole = !pairs[i].first->Calculated() && pairs[i].first->FieldNo() == static_cast<int>(i) + 1;
        std::vector<TVariant> values(pairs.size());
        while (!Eof() && !IsEmpty() && (recordCount < 1 || copied < recordCount)) {
            dest.Append();
            if (flat && flat->CanSetFieldValues(targets)) {
                const Buffer *current = whole ? ActiveRecordBuffer() : nullptr;
                if (current && current->values.size() == pairs.size()) {
                    flat->SetFieldValues(targets, current->values);
                } else {
                    for (size_t i = 0; i < pairs.size(); ++i) values[i] = pairs[i].first->Value();
                    flat->SetFieldValues(targets, values);
                }
            } else {
                AssignRecord(pairs, dest);
            }
            dest.Post();
            ++copied;
            Next();
        }
        dest.First();
    } catch (...) {
        try {
            finish();
        } catch (...) {
        }
        throw;
    }
    finish();
    return copied;
}
