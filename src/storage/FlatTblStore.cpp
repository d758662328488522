// A table's records in memory: the arena that holds them, their layout, and comparing and sorting them.
#include "storage/FlatTblStore.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cassert>
#include <stdexcept>

#include <sys/mman.h>

#include "storage/FlatConst.h"
#include "storage/FlatTblInternal.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

namespace {

// One unit of case-insensitive comparison: a folded code point for ASCII and the
// two-byte Latin letters, the raw byte (moved above Unicode) for anything else.
uint32_t FoldUnit(const uint8_t *&p, const uint8_t *end)
{
    const uint8_t c = *p++;
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? uint32_t(c - 32) : c;
    if (c >= 0xC3 && c <= 0xC5 && p < end && (*p & 0xC0) == 0x80) {
        uint32_t cp = (uint32_t(c & 0x1F) << 6) | (*p++ & 0x3F);
        if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)
            cp -= 0x20;
        else if (cp == 0xFF)
            cp = 0x178;
        else if (((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) && (cp & 1))
            cp -= 1;
        else if (((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) && !(cp & 1))
            cp -= 1;
        return cp;
    }
    return 0x110000u + c;
}

} // namespace

// ---------------------------------------------------------------------------------------
// TFlatRecord

void TFlatRecordArena::TChunk::Release() noexcept
{
    if (Memory && Mapped)
        ::munmap(Memory, Size);
    else
        std::free(Memory);
    Memory = nullptr;
}

TFlatRecordArena::TFlatRecordArena() = default;

TFlatRecordArena::~TFlatRecordArena() { Clear(); }

TFlatRecordArena::TChunk TFlatRecordArena::MapChunk(size_t chunk, bool populate)
{
    // Plain pages: asking for huge ones makes every fault compact memory once the page
    // cache has filled it, which costs far more than the faults it saves. A chunk about
    // to be filled has its pages made in one call rather than one fault each.
    void *mem = ::mmap(nullptr, chunk, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
    if (mem == MAP_FAILED)
        throw std::bad_alloc();
    return {static_cast<uint8_t *>(mem), chunk, true};
}

uint8_t *TFlatRecordArena::Allocate(size_t size)
{
    size = (size + 3) & ~size_t(3);
    if (size > left_) {
        // Chunks grow with the store, so a small table takes little and a large one asks
        // for memory rarely. Small chunks come from the heap, which hands a table opened
        // again the memory of the last one. Large chunks are mapped directly (closing the
        // table gives them back to the system at once).
        size_t chunk = std::max(std::clamp<size_t>(capacity_ / 2, size_t(64) << 10, size_t(16) << 20), size);
        const bool huge = chunk >= (size_t(8) << 20);

        chunks_.reserve(chunks_.size() + 1); // so that a chunk is always recorded
        if (huge) {
            chunk = (chunk + 4095) & ~size_t(4095);
            chunks_.push_back(MapChunk(chunk, true));
        } else {
            uint8_t *start = static_cast<uint8_t *>(std::malloc(chunk));
            if (!start)
                throw std::bad_alloc();
            chunks_.push_back({start, chunk, false});
        }
        next_ = chunks_.back().Memory;
        left_ = chunk;
        capacity_ += chunk;
    }
    uint8_t *p = next_;
    next_ += size;
    left_ -= size;
    return p;
}

void TFlatRecordArena::Reserve(size_t size)
{
    Settle();
    if (size < (size_t(8) << 20) || size <= left_)
        return;
    const size_t chunk = (size + 4095) & ~size_t(4095);
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back(MapChunk(chunk, false));
    next_ = chunks_.back().Memory;
    left_ = chunk;
    capacity_ += chunk;
    reserved_ = next_;
}

void TFlatRecordArena::Settle() noexcept
{
    if (!reserved_)
        return;
    // The pages behind the last allocation go back; the region ends there.
    TChunk *region = chunks_.empty() || chunks_.back().Memory != reserved_ ? nullptr : &chunks_.back();
    reserved_ = nullptr;
    if (!region)
        return;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(next_) + 4095) & ~uintptr_t(4095);
    const size_t keep = size_t(end - reinterpret_cast<uintptr_t>(region->Memory));
    if (keep == 0) {
        capacity_ -= region->Size;
        region->Release();
        chunks_.pop_back();
        next_ = nullptr;
        left_ = 0;
    } else if (keep < region->Size) {
        ::munmap(region->Memory + keep, region->Size - keep);
        capacity_ -= region->Size - keep;
        region->Size = keep;
        left_ = size_t(region->Memory + keep - next_);
    }
}

void TFlatRecordArena::Clear() noexcept
{
    Settle();
    for (TChunk &c : chunks_)
        c.Release();
    chunks_.clear();
    chunks_.shrink_to_fit();
    next_ = nullptr;
    left_ = capacity_ = 0;
}

namespace {

// The value of `field` whose stored bytes start at `p`, `len` its length byte: a counted
// value's bytes behind their u32 count, a text's up to its first NUL.
std::string_view StoredValueBytes(const TFlatStoredLayout &layout, const TFlatField &field, const uint8_t *p,
                                  uint8_t len)
{
    std::string_view v;
    if (layout.Counted[field.Index]) {
        if (len)
            v = {reinterpret_cast<const char *>(p + 4), GetU32(p)};
    } else
        v = {reinterpret_cast<const char *>(p), len};
    if (field.TypeCode == fftSmallStr || field.TypeCode == fftString)
        v = v.substr(0, v.find('\0')); // a text ends at its first NUL
    return v;
}

// Calls `fn(field, bytes, isVar)` for each field of a stored record, in field order: a
// variable field's bytes as Var gives them, a fixed field's stored bytes (at most its width).
template <class Fn>
void WalkStored(const uint8_t *bytes, const TFlatStoredLayout &layout, Fn &&fn)
{
    const size_t F = layout.Fields.size();
    const uint8_t *p = bytes + F;
    for (size_t k = 0; k < F; ++k) {
        const TFlatField &f = layout.Fields[k];
        const uint8_t len = bytes[k];
        fn(f, StoredValueBytes(layout, f, p, len), f.VarIndex >= 0);
        p += (layout.Counted[k] && len) ? 4 + size_t(GetU32(p)) : len;
    }
}

} // namespace

TFlatRecord::~TFlatRecord() { Drop(); }

void TFlatRecord::Drop() noexcept
{
    if (!InArena())
        std::free(block_);
}

TFlatRecord &TFlatRecord::operator=(TFlatRecord &&other) noexcept
{
    if (this != &other) {
        Drop();
        block_ = other.block_;
        layout_ = other.layout_;
        other.block_ = nullptr;
        other.layout_ = nullptr;
    }
    return *this;
}

TFlatRecord::TFlatRecord(const TFlatRecord &other)
{
    if (other.block_) {
        const uint32_t size = other.BlockSize();
        block_ = static_cast<uint8_t *>(std::malloc(size));
        if (!block_)
            throw std::bad_alloc();
        if (other.layout_)
            other.Unpack(block_, size);
        else
            std::memcpy(block_, other.Block(), size);
    }
}

TFlatRecord &TFlatRecord::operator=(const TFlatRecord &other)
{
    if (this == &other)
        return *this;
    // A buffer that browses a table takes one record after another: its own block is
    // used again whenever the next record fits and the block is not much larger (a
    // record that once held a large BLOB does not keep its memory), instead of a fresh
    // block per record.
    if (block_ && other.block_ && !InArena()) {
        const size_t have = ::malloc_usable_size(block_), need = other.BlockSize();
        if (have >= need && have <= 2 * need + 256) {
            if (other.layout_)
                other.Unpack(block_, uint32_t(need));
            else
                std::memcpy(block_, other.Block(), need);
            return *this;
        }
    }
    TFlatRecord copy(other);
    *this = std::move(copy);
    return *this;
}

TFlatRecord TFlatRecord::Stored(const uint8_t *bytes, const TFlatStoredLayout &layout)
{
    TFlatRecord r;
    r.block_ = const_cast<uint8_t *>(bytes);
    r.layout_ = &layout;
    return r;
}

void TFlatRecord::StoredFields(std::string_view *out) const
{
    WalkStored(block_, *layout_, [&](const TFlatField &f, std::string_view v, bool) { out[f.Index] = v; });
}

const uint8_t *TFlatRecord::StoredValue(size_t k, uint8_t &len) const
{
    const TFlatStoredLayout &layout = *layout_;
    const uint8_t *lens = block_;
    const uint8_t *p = block_ + layout.Fields.size();
    if (layout.PlainBefore[k]) {
        for (size_t j = 0; j < k; ++j)
            p += lens[j];
    } else {
        for (size_t j = 0; j < k; ++j)
            p += (layout.Counted[j] && lens[j]) ? 4 + size_t(GetU32(p)) : lens[j];
    }
    len = lens[k];
    return p;
}

void TFlatRecord::Unpack(uint8_t *block, uint32_t total) const
{
    const uint32_t recordSize = layout_->RecordSize;
    PutU32(block, total);
    std::memset(block + 4, 0, recordSize);
    uint32_t pos = recordSize + 4;
    WalkStored(block_, *layout_, [&](const TFlatField &f, std::string_view v, bool isVar) {
        if (!isVar) {
            if (!v.empty())
                std::memcpy(block + 4 + f.Offset, v.data(), std::min<size_t>(v.size(), f.Size));
            return;
        }
        PutU32(block + 4 + f.Offset, pos);
        if (!v.empty())
            std::memcpy(block + pos, v.data(), v.size());
        pos += uint32_t(v.size());
    });
}

TFlatRecord TFlatRecord::Make(uint32_t recordSize)
{
    TFlatRecord r;
    r.block_ = static_cast<uint8_t *>(std::calloc(1, size_t(recordSize) + 4));
    if (!r.block_)
        throw std::bad_alloc();
    PutU32(r.block_, recordSize + 4);
    return r;
}

void TFlatRecord::Reset()
{
    Drop();
    block_ = nullptr;
    layout_ = nullptr;
}

uint32_t TFlatRecord::BlockSize() const
{
    if (!layout_)
        return block_ ? GetU32(Block()) : 0;
    uint64_t total = uint64_t(layout_->RecordSize) + 4;
    WalkStored(block_, *layout_, [&](const TFlatField &, std::string_view v, bool isVar) {
        if (isVar)
            total += v.size();
    });
    if (total > UINT32_MAX)
        throw std::length_error("record too large");
    return uint32_t(total);
}

const uint8_t *TFlatRecord::FixedValue(const TFlatField &field, uint8_t scratch[8]) const
{
    if (!layout_)
        return Fixed() + field.Offset;
    uint8_t len = 0;
    const uint8_t *p = StoredValue(field.Index, len);
    std::memset(scratch, 0, 8);
    std::memcpy(scratch, p, std::min<size_t>(len, 8));
    return scratch;
}

std::string_view TFlatRecord::Var(const TFlatField &field) const
{
    if (!block_ || field.VarIndex < 0)
        return {};
    if (layout_) {
        uint8_t len = 0;
        const uint8_t *p = StoredValue(field.Index, len);
        return StoredValueBytes(*layout_, field, p, len);
    }
    // The bytes run from the field's offset to the next variable field's (or the block's end).
    const uint32_t size = BlockSize();
    const uint32_t off = GetU32(Fixed() + field.Offset);
    if (off < field.VarStart || off >= size)
        return {}; // a fresh record's zeroed slots hold nothing
    const uint32_t end = field.NextVarSlot ? GetU32(Fixed() + field.NextVarSlot) : size;
    if (end <= off || end > size)
        return {};
    return {reinterpret_cast<const char *>(Block() + off), end - off};
}

namespace {

uint64_t PackedSize(uint32_t recordSize, const std::vector<std::string_view> &vars)
{
    uint64_t total = uint64_t(recordSize) + 4;
    for (const auto &v : vars)
        total += v.size();
    if (total > UINT32_MAX)
        throw std::length_error("record too large");
    return total;
}

} // namespace

void TFlatRecord::Fill(uint8_t *block, uint32_t total, const std::vector<TFlatField> &fields, uint32_t recordSize,
                       const uint8_t *fixed, const std::vector<std::string_view> &vars)
{
    PutU32(block, total);
    std::memcpy(block + 4, fixed, recordSize);
    uint32_t pos = recordSize + 4;
    for (const auto &f : fields) {
        if (f.VarIndex < 0)
            continue;
        const std::string_view v = size_t(f.VarIndex) < vars.size() ? vars[size_t(f.VarIndex)] : std::string_view();
        PutU32(block + 4 + f.Offset, pos);
        if (!v.empty())
            std::memcpy(block + pos, v.data(), v.size());
        pos += uint32_t(v.size());
    }
}

TFlatRecord TFlatRecord::Pack(const std::vector<TFlatField> &fields, uint32_t recordSize, const uint8_t *fixed,
                              const std::vector<std::string_view> &vars)
{
    const uint64_t total = PackedSize(recordSize, vars);
    TFlatRecord r;
    r.block_ = static_cast<uint8_t *>(std::malloc(size_t(total)));
    if (!r.block_)
        throw std::bad_alloc();
    Fill(r.block_, uint32_t(total), fields, recordSize, fixed, vars);
    return r;
}

TFlatRecord TFlatRecord::Pack(const std::vector<TFlatField> &fields, uint32_t recordSize, const uint8_t *fixed,
                              const std::vector<std::string_view> &vars, TFlatRecordArena &arena)
{
    const uint64_t total = PackedSize(recordSize, vars);
    uint8_t *block = arena.Allocate(size_t(total));
    Fill(block, uint32_t(total), fields, recordSize, fixed, vars);
    TFlatRecord r;
    r.block_ = block + 1;
    return r;
}

TFlatRecord TFlatRecord::CopyInto(const TFlatRecord &record, TFlatRecordArena &arena)
{
    const uint32_t total = record.BlockSize();
    uint8_t *block = arena.Allocate(total);
    if (record.layout_)
        record.Unpack(block, total);
    else
        std::memcpy(block, record.Block(), total);
    TFlatRecord r;
    r.block_ = block + 1;
    return r;
}

void TFlatRecord::SetVar(const std::vector<TFlatField> &fields, uint32_t recordSize, const TFlatField &field,
                         std::string_view bytes)
{
    // One new block, the values laid out in field order as Pack does; `bytes` may point
    // into this record, so the old block goes only once the new one is complete.
    if (layout_) {
        *this = TFlatRecord(*this);
        return SetVar(fields, recordSize, field, bytes);
    }
    uint64_t total = uint64_t(recordSize) + 4;
    for (const auto &f : fields)
        if (f.VarIndex >= 0)
            total += f.VarIndex == field.VarIndex ? bytes.size() : Var(f).size();
    if (total > UINT32_MAX)
        throw std::length_error("record too large");
    auto *fresh = static_cast<uint8_t *>(std::malloc(size_t(total)));
    if (!fresh)
        throw std::bad_alloc();
    PutU32(fresh, uint32_t(total));
    if (block_)
        std::memcpy(fresh + 4, Fixed(), recordSize);
    else
        std::memset(fresh + 4, 0, recordSize);
    uint32_t pos = recordSize + 4;
    for (const auto &f : fields) {
        if (f.VarIndex < 0)
            continue;
        const std::string_view v = f.VarIndex == field.VarIndex ? bytes : Var(f);
        PutU32(fresh + 4 + f.Offset, pos);
        if (!v.empty())
            std::memcpy(fresh + pos, v.data(), v.size());
        pos += uint32_t(v.size());
    }
    Drop();
    block_ = fresh;
}

// ---------------------------------------------------------------------------------------
// Field values and comparison

namespace {

int64_t IntAt(const uint8_t *p, uint8_t typeCode)
{
    switch (typeCode) {
    case fftSmallInt:
    case fftBoolean: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case fftInteger:
    case fftDate:
    case fftTime:
    case fftAutoInc: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case fftInt64: {
        int64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    default:
        return 0;
    }
}

} // namespace

int64_t FlatGetInt(const uint8_t *fixed, const TFlatField &field) { return IntAt(fixed + field.Offset, field.TypeCode); }

double FlatGetFloat(const uint8_t *fixed, const TFlatField &field)
{
    double v;
    std::memcpy(&v, fixed + field.Offset, 8);
    return v;
}

int64_t FlatGetInt(const TFlatRecord &record, const TFlatField &field)
{
    uint8_t scratch[8];
    return IntAt(record.FixedValue(field, scratch), field.TypeCode);
}

double FlatGetFloat(const TFlatRecord &record, const TFlatField &field)
{
    uint8_t scratch[8];
    double v;
    std::memcpy(&v, record.FixedValue(field, scratch), 8);
    return v;
}

std::string_view FlatGetSmallStr(const TFlatRecord &record, const TFlatField &field)
{
    // The reader and the setters keep no more than this; a record built by other means
    // reads the same.
    const std::string_view v = record.Var(field);
    return v.substr(0, std::min<size_t>(v.find('\0'), field.MaxLength));
}

std::string_view FlatBytesOf(std::string_view v, const TFlatField &field)
{
    if (field.TypeCode == fftSmallStr)
        return v.substr(0, std::min<size_t>(v.find('\0'), field.MaxLength));
    return field.TypeCode == fftString ? CutToCharWidth(v, field.MaxLength) : v;
}

std::string_view FlatGetBytes(const TFlatRecord &record, const TFlatField &field)
{
    return FlatBytesOf(record.Var(field), field);
}

void FlatRecordValues(const TFlatRecord &record, const std::vector<TFlatField> &fields, std::string_view *out)
{
    if (record.IsStored()) {
        record.StoredFields(out);
        return;
    }
    for (const TFlatField &f : fields)
        out[f.Index] = f.VarIndex >= 0 ? record.Var(f)
                                       : std::string_view(reinterpret_cast<const char *>(record.Fixed() + f.Offset), f.Size);
}

int64_t FlatIntOf(std::string_view bytes, const TFlatField &field)
{
    uint8_t value[8] = {};
    std::memcpy(value, bytes.data(), std::min<size_t>(bytes.size(), 8));
    return IntAt(value, field.TypeCode);
}

int FlatCompareText(std::string_view storedA, std::string_view storedB, bool caseInsensitive)
{
    // Texts are compared as texts: a value stored in Windows-1250 is compared in its
    // decoded form, so it sorts, filters and matches keys as the same text in UTF-8.
    // ASCII reads the same in both encodings, so the leading run where both sides are
    // ASCII is compared as stored; only what follows it is checked and decoded. Most
    // comparisons in a sort end inside that run and never look further.
    const size_t common = std::min(storedA.size(), storedB.size());
    size_t i = 0;
    for (; i < common; ++i) {
        uint8_t x = uint8_t(storedA[i]), y = uint8_t(storedB[i]);
        if ((x | y) >= 0x80)
            break;
        if (caseInsensitive) {
            x = (x >= 'a' && x <= 'z') ? uint8_t(x - 32) : x;
            y = (y >= 'a' && y <= 'z') ? uint8_t(y - 32) : y;
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    // The rest starts after an ASCII byte, so it is valid UTF-8 exactly when the whole
    // text is, and decodes to the rest of the whole text's decoded form.
    std::string scratchA, scratchB;
    const std::string_view a = StoredTextView(storedA.substr(i), scratchA);
    const std::string_view b = StoredTextView(storedB.substr(i), scratchB);
    if (a.empty() || b.empty())
        return int(a.size()) - int(b.size()) < 0 ? -1 : (a.size() == b.size() ? 0 : 1);
    if (!caseInsensitive) {
        const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
        if (c != 0)
            return c < 0 ? -1 : 1;
    } else {
        auto pa = reinterpret_cast<const uint8_t *>(a.data()), ea = pa + a.size();
        auto pb = reinterpret_cast<const uint8_t *>(b.data()), eb = pb + b.size();
        while (pa < ea && pb < eb) {
            const uint32_t ua = FoldUnit(pa, ea), ub = FoldUnit(pb, eb);
            if (ua != ub)
                return ua < ub ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string FlatUpperCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    auto p = reinterpret_cast<const uint8_t *>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        const uint8_t *start = p;
        const uint32_t u = FoldUnit(p, end);
        if (u < 0x80)
            out.push_back(char(u));
        else if (u < 0x800 && p - start == 2) {
            out.push_back(char(0xC0 | (u >> 6)));
            out.push_back(char(0x80 | (u & 0x3F)));
        } else
            out.append(reinterpret_cast<const char *>(start), size_t(p - start));
    }
    return out;
}

int TFlatCursor::CompareValues(const TFlatRecord &a, const TFlatRecord &b, const TFlatField &field,
                               bool caseInsensitive)
{
    switch (field.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftDate:
    case fftTime:
    case fftAutoInc: {
        const int64_t x = FlatGetInt(a, field), y = FlatGetInt(b, field);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case fftBoolean: {
        const bool x = FlatGetInt(a, field) != 0, y = FlatGetInt(b, field) != 0;
        return x == y ? 0 : (x ? -1 : 1);
    }
    case fftDouble:
    case fftCurrency:
    case fftDateTime: {
        const double x = FlatGetFloat(a, field), y = FlatGetFloat(b, field);
        // NaN sorts before every number and equal to itself, so orders are repeatable.
        const bool nx = std::isnan(x), ny = std::isnan(y);
        if (nx || ny)
            return nx == ny ? 0 : (nx ? -1 : 1);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case fftSmallStr: {
        const std::string_view x = FlatGetSmallStr(a, field), y = FlatGetSmallStr(b, field);
        if (field.Numeric && x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        return FlatCompareText(x, y, caseInsensitive);
    }
    case fftString: {
        const std::string_view x = a.Var(field), y = b.Var(field);
        if (x.empty() || y.empty())
            return x.empty() == y.empty() ? 0 : (x.empty() ? -1 : 1);
        return FlatCompareText(x, y, caseInsensitive);
    }
    case fftMemo:
    case fftFmtMemo: {
        const std::string_view x = a.Var(field), y = b.Var(field);
        if (x.empty() || y.empty())
            return x.empty() == y.empty() ? 0 : (x.empty() ? -1 : 1);
        return FlatCompareText(x, y, caseInsensitive);
    }
    default:
        return 0;
    }
}

int TFlatCursor::CompareRecords(const TFlatRecord &a, const TFlatRecord &b,
                                const std::vector<const TFlatField *> &fields, bool caseInsensitive)
{
    for (const TFlatField *f : fields) {
        const int c = CompareValues(a, b, *f, caseInsensitive);
        if (c != 0)
            return c;
    }
    return 0;
}

namespace {
struct TEntryOrder {
    const std::vector<const TFlatField *> &Fields;
    bool CaseInsensitive, Descending;
    bool operator()(const TFlatRecEntry *x, const TFlatRecEntry *y) const
    {
        if (!x->Data || !y->Data) // released entries go last
            return bool(x->Data) && !y->Data;
        int c = TFlatCursor::CompareRecords(x->Data, y->Data, Fields, CaseInsensitive);
        if (Descending)
            c = -c;
        return c < 0;
    }
};
} // namespace

namespace {

// Sorting on one integer field: each record's key is read once, not at every comparison.
bool SortsOnOneInteger(const std::vector<const TFlatField *> &fields)
{
    if (fields.size() != 1)
        return false;
    switch (fields[0]->TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftDate:
    case fftTime:
    case fftAutoInc:
        return true;
    default:
        return false;
    }
}

// The positions of `entries` in the order TEntryOrder gives them, for SortsOnOneInteger.
void IntegerOrder(const std::vector<TFlatRecEntry *> &entries, const TFlatField &field, bool descending,
                  std::vector<uint32_t> &order)
{
    struct TKey {
        bool Released; // released entries go last
        int64_t Value;
        uint32_t At;
    };
    std::vector<TKey> keys(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const TFlatRecEntry *e = entries[i];
        keys[i] = {!e->Data, e->Data ? FlatGetInt(e->Data, field) : 0, uint32_t(i)};
    }
    // Values of a narrow range (a kind, a flag, a small count) are counted into place in
    // one stable pass.
    int64_t low = INT64_MAX, high = INT64_MIN;
    size_t live = 0;
    for (const TKey &k : keys) {
        if (k.Released)
            continue;
        low = std::min(low, k.Value);
        high = std::max(high, k.Value);
        ++live;
    }
    const uint64_t span = live ? uint64_t(high) - uint64_t(low) : 0;
    if (live > 0 && span < std::max<uint64_t>(keys.size(), 256)) {
        const auto bucket = [&](const TKey &k) {
            return size_t(descending ? uint64_t(high) - uint64_t(k.Value) : uint64_t(k.Value) - uint64_t(low));
        };
        std::vector<size_t> next(size_t(span) + 2, 0);
        for (const TKey &k : keys)
            if (!k.Released)
                ++next[bucket(k) + 1];
        for (size_t b = 1; b < next.size(); ++b)
            next[b] += next[b - 1];
        size_t released = live;
        order.resize(keys.size());
        for (const TKey &k : keys)
            order[k.Released ? released++ : next[bucket(k)]++] = k.At;
        return;
    }
    std::stable_sort(keys.begin(), keys.end(), [descending](const TKey &x, const TKey &y) {
        if (x.Released || y.Released)
            return !x.Released && y.Released;
        return descending ? x.Value > y.Value : x.Value < y.Value;
    });
    order.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].At;
}

} // namespace

void TFlatCursor::SortEntries(std::vector<TFlatRecEntry *> &entries, const std::vector<const TFlatField *> &fields,
                              bool caseInsensitive, bool descending)
{
    if (SortsOnOneInteger(fields) && entries.size() < UINT32_MAX) {
        std::vector<uint32_t> order;
        IntegerOrder(entries, *fields[0], descending, order);
        std::vector<TFlatRecEntry *> sorted(entries.size());
        for (size_t i = 0; i < order.size(); ++i)
            sorted[i] = entries[order[i]];
        entries.swap(sorted);
        return;
    }
    std::stable_sort(entries.begin(), entries.end(), TEntryOrder{fields, caseInsensitive, descending});
}

void TFlatCursor::SortPositions(const std::vector<TFlatRecEntry *> &entries, std::vector<uint32_t> &order,
                                const std::vector<const TFlatField *> &fields, bool caseInsensitive, bool descending)
{
    if (SortsOnOneInteger(fields) && entries.size() < UINT32_MAX) {
        IntegerOrder(entries, *fields[0], descending, order);
        return;
    }
    order.resize(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = uint32_t(i);
    const TEntryOrder less{fields, caseInsensitive, descending};
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return less(entries[a], entries[b]); });
}

void TFlatCursor::SortRecords(std::string_view fieldNames, bool caseInsensitive)
{
    ++Generation;
    SortEntries(Records, ParseFieldList(fieldNames), caseInsensitive, false);
}

std::vector<const TFlatField *> TFlatCursor::ParseFieldList(std::string_view names) const
{
    std::vector<const TFlatField *> out;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t semi = names.find(';', pos);
        if (semi == std::string_view::npos)
            semi = names.size();
        std::string_view name = names.substr(pos, semi - pos);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (!name.empty()) {
            const TFlatField *f = FindField(name);
            if (f && !IsFlatBlobType(f->TypeCode))
                out.push_back(f);
        }
        pos = semi + 1;
    }
    return out;
}

bool TFlatCursor::KeyViolation(const TFlatRecord &buffer, const TFlatRecEntry *posted,
                               std::string_view keyFieldNames) const
{
    const auto keys = ParseFieldList(keyFieldNames);
    for (const TFlatRecEntry *e : Records) {
        if (e == posted || e->Status == rsDeleted || e->Status == rsDead || !e->Data)
            continue;
        if (CompareRecords(buffer, e->Data, keys) == 0)
            return true;
    }
    return false;
}
