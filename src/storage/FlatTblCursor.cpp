// The record store's list of records: adding, editing, deleting and reverting them, and the text lookup.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "storage/FlatConst.h"
#include "storage/FlatTblInternal.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// TFlatCursor: records

TFlatCursor::TFlatCursor() = default;

TFlatCursor::~TFlatCursor()
{
    try {
        Clear(true);
    } catch (...) {
        // a release hook that throws must not take the process down
    }
}

const TFlatField *TFlatCursor::FindField(std::string_view name) const
{
    const int i = FindFieldIndex(name);
    return i < 0 ? nullptr : &Fields[size_t(i)];
}

int TFlatCursor::FindFieldIndex(std::string_view name) const
{
    if (fieldIndex_.size() != 0 || Fields.empty()) {
        const auto it = fieldIndex_.find(FlatUpperCase(name));
        if (it != fieldIndex_.end() && size_t(it->second) < Fields.size() &&
            FlatCompareText(Fields[size_t(it->second)].Name, name, true) == 0)
            return it->second;
        if (it == fieldIndex_.end())
            return -1;
    }
    // The fields were set up without the index (or changed since): look one by one.
    for (size_t i = 0; i < Fields.size(); ++i)
        if (FlatCompareText(Fields[i].Name, name, true) == 0)
            return int(i);
    return -1;
}

TFlatRecEntry *TFlatCursor::NewEntry()
{
    const size_t block = entryCount_ / EntryBlockSize;
    if (block == entryBlocks_.size()) {
        entryBlocks_.push_back(std::make_unique<TFlatRecEntry[]>(EntryBlockSize));
        const std::pair<uintptr_t, size_t> key{reinterpret_cast<uintptr_t>(entryBlocks_.back().get()), block};
        blockOrder_.insert(std::upper_bound(blockOrder_.begin(), blockOrder_.end(), key), key);
    }
    return &entryBlocks_[block][entryCount_++ % EntryBlockSize];
}

void TFlatCursor::Release(TFlatRecEntry *entry)
{
    entry->Data.Reset();
    if (!priors_.empty())
        priors_.erase(entry);
    // The hook may change or clear the data it is handed; whatever it leaves goes with
    // the record.
    const auto user = userData_.empty() ? userData_.end() : userData_.find(entry);
    if (user == userData_.end()) {
        void *none = nullptr;
        if (OnReleaseRecord)
            OnReleaseRecord(&none);
        return;
    }
    if (OnReleaseRecord)
        OnReleaseRecord(&user->second);
    userData_.erase(entry);
}

const TFlatRecord *TFlatCursor::PriorData(const TFlatRecEntry *entry) const
{
    if (priors_.empty())
        return nullptr;
    const auto it = priors_.find(entry);
    return it == priors_.end() ? nullptr : &it->second;
}

void *TFlatCursor::UserData(const TFlatRecEntry *entry) const
{
    if (userData_.empty())
        return nullptr;
    const auto it = userData_.find(entry);
    return it == userData_.end() ? nullptr : it->second;
}

void TFlatCursor::SetUserData(TFlatRecEntry *entry, void *data)
{
    if (data)
        userData_[entry] = data;
    else
        userData_.erase(entry);
}

void TFlatCursor::Clear(bool withFields)
{
    ++Generation;
    const bool sideData = !priors_.empty() || !userData_.empty();
    for (TFlatRecEntry *e : Records)
        if (e->Data || (sideData && (priors_.count(e) || userData_.count(e))))
            Release(e);
    priors_.clear();
    userData_.clear();
    Records.clear();
    Records.shrink_to_fit();
    entryBlocks_.clear();
    entryBlocks_.shrink_to_fit();
    arena_.Clear();
    images_.clear();
    images_.shrink_to_fit();
    blockOrder_.clear();
    blockOrder_.shrink_to_fit();
    entryCount_ = 0;
    Counter = 0;
    textLookup_ = TTextLookup();
    std::vector<TFlatRecEntry *>().swap(textFound_);
    if (withFields) {
        Fields.clear();
        fieldIndex_.clear();
        RecordSize = 0;
        Description.clear();
        std::memset(KeyBlock, 0, sizeof KeyBlock);
        CounterField = -1;
        CounterFieldName.clear();
    }
}

bool TFlatCursor::ContainsEntry(const TFlatRecEntry *entry) const
{
    // Every entry handed out is in Records (only Clear drops them, with the blocks), so
    // membership is a matter of the entry's address lying on a used slot of a block.
    const uintptr_t at = reinterpret_cast<uintptr_t>(entry);
    auto it = std::upper_bound(blockOrder_.begin(), blockOrder_.end(), std::pair<uintptr_t, size_t>{at, SIZE_MAX});
    if (it == blockOrder_.begin())
        return false;
    --it;
    const uintptr_t offset = at - it->first;
    if (offset >= EntryBlockSize * sizeof(TFlatRecEntry) || offset % sizeof(TFlatRecEntry) != 0)
        return false;
    return it->second * EntryBlockSize + offset / sizeof(TFlatRecEntry) < entryCount_;
}

uint32_t TFlatCursor::StoredSizeOf(const TFlatRecord &record) const
{
    if (!record)
        return 0;
    uint64_t size = Fields.size();
    for (const TFlatField &f : Fields) {
        switch (f.TypeCode) {
        case fftSmallInt:
        case fftBoolean:
        case fftInteger:
        case fftDate:
        case fftTime:
        case fftAutoInc:
        case fftInt64:
            if (FlatGetInt(record, f) != 0)
                size += f.Size;
            break;
        case fftDouble:
        case fftCurrency:
        case fftDateTime: {
            const double v = FlatGetFloat(record, f);
            if (v != 0.0 && !std::isnan(v))
                size += 8;
            break;
        }
        case fftSmallStr:
            size += FlatGetSmallStr(record, f).size();
            break;
        case fftString:
        case fftBlob:
        case fftMemo:
        case fftFmtMemo:
        case fftGraphic: {
            const size_t n = record.Var(f).size();
            if (n)
                size += 4 + n;
            break;
        }
        default:
            break;
        }
    }
    return size > UINT32_MAX ? UINT32_MAX : uint32_t(size);
}

bool TFlatCursor::PutRecord(const TFlatRecord &buffer, TFlatRecEntry *entry, std::string &error,
                            TFlatRecEntry **added)
{
    const bool lookupCurrent = TextLookupCurrent();
    ++Generation;
    if (entry) {
        if (!ContainsEntry(entry)) {
            error = SRecordNotFound;
            return false;
        }
        if (entry->Status == rsDeleted || entry->Status == rsDead) {
            error = SRecordDeleted;
            return false;
        }
        if (entry->Status == rsClean)
            entry->Status = rsModified;
        // The lookup holds while the record keeps its text in the looked-up field.
        const bool sameText = lookupCurrent && entry->Data && buffer &&
                              SameStoredText(LookupTextOf(entry->Data), LookupTextOf(buffer));
        entry->Data = buffer;
        if (sameText)
            KeepTextLookup();
    } else {
        entry = Insert(buffer ? TFlatRecord(buffer) : TFlatRecord::Make(RecordSize), lookupCurrent);
        if (added)
            *added = entry;
        return true;
    }
    entry->StoredSize = StoredSizeOf(entry->Data);
    return true;
}

TFlatRecEntry *TFlatCursor::AppendCopy(const TFlatRecord &record)
{
    const bool lookupCurrent = TextLookupCurrent();
    ++Generation;
    return Insert(record ? TFlatRecord::CopyInto(record, arena_) : TFlatRecord::Make(RecordSize), lookupCurrent);
}

TFlatRecEntry *TFlatCursor::AppendShared(const TFlatRecEntry &entry, const TFlatCursor &from)
{
    const TFlatRecord &record = entry.Data;
    // A counter is written into the new record, which a stored one cannot take.
    if (!record.IsStored() || CounterField >= 0)
        return AppendCopy(record);
    std::shared_ptr<TFlatStoredImage> image = from.ImageHolding(record);
    if (!image)
        return AppendCopy(record);
    if (std::find(images_.begin(), images_.end(), image) == images_.end())
        images_.push_back(std::move(image));
    const bool lookupCurrent = TextLookupCurrent();
    ++Generation;
    TFlatRecEntry *added = NewEntry();
    added->Status = rsInserted;
    added->Data = TFlatRecord::Stored(record.StoredBytes(), *record.StoredLayout());
    added->StoredSize = entry.StoredSize;
    Records.push_back(added);
    if (lookupCurrent) {
        LookUpLast(added->Data);
        KeepTextLookup();
    }
    return added;
}

TFlatRecEntry *TFlatCursor::Insert(TFlatRecord &&data, bool lookupCurrent)
{
    TFlatRecEntry *entry = NewEntry();
    entry->Status = rsInserted;
    entry->Data = std::move(data);
    Records.push_back(entry);
    if (CounterField >= 0) {
        ++Counter;
        const int32_t v = Counter;
        std::memcpy(entry->Data.Fixed() + Fields[size_t(CounterField)].Offset, &v, 4);
    }
    // A new record comes last in store order, so it goes last under its text.
    if (lookupCurrent) {
        LookUpLast(entry->Data);
        KeepTextLookup();
    }
    entry->StoredSize = StoredSizeOf(entry->Data);
    return entry;
}

bool TFlatCursor::TextLookupCurrent() const
{
    return textLookup_.Field >= 0 && textLookup_.Generation == Generation &&
           textLookup_.RecordCount == Records.size();
}

void TFlatCursor::KeepTextLookup()
{
    textLookup_.Generation = Generation;
    textLookup_.RecordCount = Records.size();
}

std::string_view TFlatCursor::LookupTextOf(const TFlatRecord &record) const
{
    // The text exactly as a reader of the field gets it.
    return FlatGetBytes(record, Fields[size_t(textLookup_.Field)]);
}

namespace {

// Adds position `at` to a text's runs (positions only ever come in rising order).
template <class Runs>
void AddPosition(Runs &runs, uint32_t at)
{
    if (!runs.empty() && runs.back().From + runs.back().Count == at)
        ++runs.back().Count;
    else
        runs.push_back({at, 1});
}

} // namespace

void TFlatCursor::LookUpLast(const TFlatRecord &record)
{
    AddPosition(textLookup_.Map[DecodeStoredText(LookupTextOf(record))], uint32_t(Records.size() - 1));
}

const std::vector<TFlatCursor::TRecordRun> *TFlatCursor::RunsWithText(int field, std::string_view value)
{
    if (field < 0 || field >= FieldCount())
        return nullptr;
    const TFlatField &f = Fields[size_t(field)];
    if (f.TypeCode != fftString && f.TypeCode != fftSmallStr)
        return nullptr;
    TTextLookup &l = textLookup_;
    if (l.Field != field || !TextLookupCurrent()) {
        l.Map.clear();
        l.Field = field;
        KeepTextLookup();
        std::string scratch;
        // A record whose stored bytes are those of the one before joins its runs without
        // its text being decoded and looked up again.
        std::string_view previous;
        std::vector<TRecordRun> *runs = nullptr;
        for (size_t i = 0; i < Records.size(); ++i) {
            const TFlatRecEntry *e = Records[i];
            if (!e->Data)
                continue;
            const std::string_view stored = e->Data.Var(f);
            if (!runs || stored != previous) {
                // The text as LookupTextOf reads it, from the bytes already found.
                runs = &l.Map[std::string(StoredTextView(FlatBytesOf(stored, f), scratch))];
                previous = stored;
            }
            AddPosition(*runs, uint32_t(i));
        }
        LetGoOfImagePages();
    }
    static const std::vector<TRecordRun> none;
    const auto it = l.Map.find(DecodeStoredText(value));
    return it == l.Map.end() ? &none : &it->second;
}

bool TFlatCursor::RecordsWithText(int field, std::string_view value, std::vector<TFlatRecEntry *> &out)
{
    out.clear();
    const std::vector<TRecordRun> *runs = RunsWithText(field, value);
    if (!runs)
        return false;
    size_t count = 0;
    for (const TRecordRun &run : *runs)
        count += run.Count;
    out.reserve(count);
    for (const TRecordRun &run : *runs)
        out.insert(out.end(), Records.begin() + run.From, Records.begin() + run.From + run.Count);
    return true;
}

const std::vector<TFlatRecEntry *> *TFlatCursor::RecordsWithText(int field, std::string_view value)
{
    if (!RecordsWithText(field, value, textFound_))
        return nullptr;
    return &textFound_;
}

void TFlatCursor::BeginEdit(TFlatRecEntry *entry)
{
    if (!entry || entry->Status == rsDeleted || entry->Status == rsDead || !entry->Data)
        return;
    if (!priors_.count(entry))
        priors_.emplace(entry, entry->Data);
}

bool TFlatCursor::DeleteRecord(TFlatRecEntry *entry, std::string &error)
{
    // A deleted record stays in the list (and in the text lookup, whose users
    // skip it as they skip it in Records).
    const bool lookupCurrent = TextLookupCurrent();
    ++Generation;
    if (lookupCurrent)
        KeepTextLookup();
    if (!entry || !ContainsEntry(entry)) {
        error = SRecordNotFound;
        return false;
    }
    if (entry->Status == rsDeleted || entry->Status == rsDead) {
        error = SRecordDeleted;
        return false;
    }
    if (entry->Status == rsInserted) {
        Release(entry);
        entry->Status = rsDead;
    } else
        entry->Status = rsDeleted;
    return true;
}

void TFlatCursor::CommitAll()
{
    // Values stay; deleted records lose their data but keep their place.
    const bool lookupCurrent = TextLookupCurrent();
    ++Generation;
    if (lookupCurrent)
        KeepTextLookup();
    for (TFlatRecEntry *e : Records) {
        if (e->Status == rsDead)
            continue;
        if (e->Status == rsDeleted) {
            Release(e);
            e->Status = rsDead;
        } else
            e->Status = rsClean;
    }
    priors_.clear();
}

void TFlatCursor::RevertRecord(TFlatRecEntry *entry)
{
    ++Generation;
    if (!entry || entry->Status == rsDead)
        return;
    if (const auto prior = priors_.empty() ? priors_.end() : priors_.find(entry); prior != priors_.end()) {
        entry->Data = std::move(prior->second);
        priors_.erase(prior);
        entry->StoredSize = StoredSizeOf(entry->Data);
    }
    // A record added since the last commit stays added: only a commit keeps it, and a
    // revert of all changes drops it.
    if (entry->Status != rsInserted)
        entry->Status = rsClean;
}

void TFlatCursor::RevertAll()
{
    ++Generation;
    for (TFlatRecEntry *e : Records) {
        switch (e->Status) {
        case rsModified:
        case rsDeleted:
            RevertRecord(e);
            break;
        case rsInserted:
            Release(e);
            e->Status = rsDead;
            break;
        default:
            break;
        }
    }
}
