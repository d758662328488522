#include "storage/FlatTblStore.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <random>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

namespace {

uint32_t GetU32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void PutU32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// Offset of the byte count inside a variable field's slot.

// Rounds num/den to the nearest whole number, ties to even.
int RoundPercent(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    const uint64_t scaled = done * 100;
    uint64_t q = scaled / total;
    const uint64_t r = scaled % total;
    if (2 * r > total || (2 * r == total && (q & 1)))
        ++q;
    return int(q);
}

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

uint16_t FlatTypeSize(uint8_t code)
{
    switch (code) {
    case fftSmallInt:
    case fftBoolean:
        return 2;
    case fftInteger:
    case fftDate:
    case fftTime:
    case fftAutoInc:
        return 4;
    case fftInt64:
    case fftDouble:
    case fftCurrency:
    case fftDateTime:
        return 8;
    case fftSmallStr:
    case fftString:
    case fftBlob:
    case fftMemo:
    case fftFmtMemo:
    case fftGraphic:
        return 4;
    default: // Unknown
        return 8;
    }
}

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

namespace {
constexpr size_t HugePage = size_t(2) << 20;
}

// The helper of Reserve: it faults the region's pages in, in steps of a huge page,
// keeping at most `Ahead` bytes in front of the allocations.
struct TFlatRecordArena::TFaulter {
    size_t Ahead = 0; // the faulted pages not yet used count in the memory a load takes
    uint8_t *Start = nullptr;
    size_t Size = 0;
    std::atomic<size_t> Used{0}; // bytes the allocations took so far
    std::atomic<bool> Stop{false};
    std::mutex Lock;
    std::condition_variable Wake;
    std::thread Thread;

    void Run()
    {
        for (size_t done = 0; done < Size && !Stop.load(std::memory_order_relaxed);) {
            if (done >= Used.load(std::memory_order_relaxed) + Ahead) {
                std::unique_lock<std::mutex> hold(Lock);
                Wake.wait_for(hold, std::chrono::microseconds(200));
                continue;
            }
            const size_t step = std::min(HugePage, Size - done);
            // Faulting in writable pages leaves their bytes alone, so the parser may
            // write into them meanwhile. A kernel without it just leaves the faults to
            // the parser.
            if (::madvise(Start + done, step, MADV_POPULATE_WRITE) != 0)
                return;
            done += step;
        }
    }
};

TFlatRecordArena::TFlatRecordArena() = default;

TFlatRecordArena::~TFlatRecordArena() { Clear(); }

TFlatRecordArena::TChunk TFlatRecordArena::MapChunk(size_t chunk)
{
    // Laid on huge-page boundaries and asked for as huge pages: touching a freshly
    // loaded table's memory page by page costs about as much as reading the file.
    const size_t span = chunk + HugePage;
    void *mem = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED)
        throw std::bad_alloc();
    uint8_t *start = static_cast<uint8_t *>(mem);
    // Keep the aligned part of the span only.
    const uintptr_t at = reinterpret_cast<uintptr_t>(start);
    const size_t head = size_t(((at + HugePage - 1) & ~uintptr_t(HugePage - 1)) - at);
    if (head)
        ::munmap(start, head);
    if (span - head - chunk)
        ::munmap(start + head + chunk, span - head - chunk);
    start += head;
    ::madvise(start, chunk, MADV_HUGEPAGE);
    return {start, chunk, true};
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
        const bool huge = chunk >= 4 * HugePage; // a huge page is zeroed whole on first touch

        chunks_.reserve(chunks_.size() + 1); // so that a chunk is always recorded
        if (huge) {
            chunk = (chunk + HugePage - 1) / HugePage * HugePage;
            chunks_.push_back(MapChunk(chunk));
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
    if (faulter_ && p >= faulter_->Start && p < faulter_->Start + faulter_->Size)
        faulter_->Used.store(size_t(next_ - faulter_->Start), std::memory_order_relaxed);
    return p;
}

void TFlatRecordArena::Reserve(size_t size)
{
    Settle();
    // Below this a helper thread costs about what it saves.
    if (size < 32 * HugePage || size <= left_)
        return;
    const size_t chunk = (size + HugePage - 1) / HugePage * HugePage;
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back(MapChunk(chunk));
    next_ = chunks_.back().Memory;
    left_ = chunk;
    capacity_ += chunk;
    auto f = std::make_unique<TFaulter>();
    f->Start = next_;
    f->Size = chunk;
    f->Ahead = std::clamp(chunk / 32, HugePage, 4 * HugePage);
    try {
        f->Thread = std::thread([p = f.get()] { p->Run(); });
    } catch (const std::system_error &) {
        return; // no helper: the parser faults the pages in itself
    }
    faulter_ = std::move(f);
}

void TFlatRecordArena::Settle() noexcept
{
    if (!faulter_)
        return;
    faulter_->Stop = true;
    faulter_->Wake.notify_one();
    faulter_->Thread.join();
    // The pages behind the last allocation go back; the region ends there.
    TChunk *region = nullptr;
    for (TChunk &c : chunks_)
        if (c.Memory == faulter_->Start)
            region = &c;
    if (region && region == &chunks_.back()) {
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
    faulter_.reset();
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
        other.block_ = nullptr;
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
            std::memcpy(block_, other.Block(), need);
            return *this;
        }
    }
    TFlatRecord copy(other);
    *this = std::move(copy);
    return *this;
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
}

uint32_t TFlatRecord::BlockSize() const { return block_ ? GetU32(Block()) : 0; }

std::string_view TFlatRecord::Var(const TFlatField &field) const
{
    // The bytes run from the field's offset to the next variable field's (or the block's end).
    if (!block_ || field.VarIndex < 0)
        return {};
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

int64_t FlatGetInt(const uint8_t *fixed, const TFlatField &field)
{
    const uint8_t *p = fixed + field.Offset;
    switch (field.TypeCode) {
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

double FlatGetFloat(const uint8_t *fixed, const TFlatField &field)
{
    double v;
    std::memcpy(&v, fixed + field.Offset, 8);
    return v;
}

std::string_view FlatGetSmallStr(const TFlatRecord &record, const TFlatField &field)
{
    // The reader and the setters keep no more than this; a record built by other means
    // reads the same.
    const std::string_view v = record.Var(field);
    return v.substr(0, std::min<size_t>(v.find('\0'), field.MaxLength));
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
    const uint8_t *fa = a.Fixed(), *fb = b.Fixed();
    switch (field.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftDate:
    case fftTime:
    case fftAutoInc: {
        const int64_t x = FlatGetInt(fa, field), y = FlatGetInt(fb, field);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case fftBoolean: {
        const bool x = FlatGetInt(fa, field) != 0, y = FlatGetInt(fb, field) != 0;
        return x == y ? 0 : (x ? -1 : 1);
    }
    case fftDouble:
    case fftCurrency:
    case fftDateTime: {
        const double x = FlatGetFloat(fa, field), y = FlatGetFloat(fb, field);
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

void TFlatCursor::SortEntries(std::vector<TFlatRecEntry *> &entries, const std::vector<const TFlatField *> &fields,
                              bool caseInsensitive, bool descending)
{
    std::stable_sort(entries.begin(), entries.end(), TEntryOrder{fields, caseInsensitive, descending});
}

void TFlatCursor::SortPositions(const std::vector<TFlatRecEntry *> &entries, std::vector<uint32_t> &order,
                                const std::vector<const TFlatField *> &fields, bool caseInsensitive, bool descending)
{
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
    blockOrder_.clear();
    blockOrder_.shrink_to_fit();
    entryCount_ = 0;
    Counter = 0;
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
    const uint8_t *fx = record.Fixed();
    for (const TFlatField &f : Fields) {
        switch (f.TypeCode) {
        case fftSmallInt:
        case fftBoolean:
        case fftInteger:
        case fftDate:
        case fftTime:
        case fftAutoInc:
        case fftInt64:
            if (FlatGetInt(fx, f) != 0)
                size += f.Size;
            break;
        case fftDouble:
        case fftCurrency:
        case fftDateTime: {
            const double v = FlatGetFloat(fx, f);
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
        textLookup_.Map[DecodeStoredText(LookupTextOf(entry->Data))].push_back(entry);
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
    const TFlatField &f = Fields[size_t(textLookup_.Field)];
    return f.TypeCode == fftSmallStr ? FlatGetSmallStr(record, f) : CutToCharWidth(record.Var(f), f.MaxLength);
}

const std::vector<TFlatRecEntry *> *TFlatCursor::RecordsWithText(int field, std::string_view value)
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
        for (TFlatRecEntry *e : Records) {
            if (!e->Data)
                continue;
            l.Map[std::string(StoredTextView(LookupTextOf(e->Data), scratch))].push_back(e);
        }
    }
    static const std::vector<TFlatRecEntry *> none;
    const auto it = l.Map.find(DecodeStoredText(value));
    return it == l.Map.end() ? &none : &it->second;
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

// ---------------------------------------------------------------------------------------
// Description

std::string FlatDescribeField(std::string_view name, uint8_t code, uint32_t size)
{
    std::string e = "XXX.";
    for (char c : name)
        e.push_back(c == ' ' ? '_' : c);
    e.push_back(' ');
    switch (code) {
    case fftSmallInt: e += 'l'; break;
    case fftInteger: e += 'i'; break;
    case fftInt64: e += 'e'; break;
    case fftBoolean: e += 'b'; break;
    case fftDouble: e += 'f'; break;
    case fftCurrency: e += 'c'; break;
    case fftDate: e += 'd'; break;
    case fftTime: e += 'v'; break;
    case fftDateTime: e += 't'; break;
    case fftAutoInc: e += 'a'; break;
    case fftSmallStr: e += char(size < 10 ? '0' + size : 'A' + (size - 10)); break;
    case fftString: e += 's' + std::to_string(size); break;
    case fftBlob: e += 'o'; break;
    case fftMemo: e += 'm'; break;
    case fftFmtMemo: e += 'r'; break;
    case fftGraphic: e += 'g'; break;
    default: e += 's'; break;
    }
    e.push_back('\x12');
    return e;
}

bool TFlatCursor::ParseDescription(std::string_view text, uint32_t fieldCount, std::string &error)
{
    ++Generation;
    Fields.clear();
    fieldIndex_.clear();
    RecordSize = 0;
    CounterField = -1;
    CounterFieldName.clear();
    Fields.reserve(std::min<size_t>(fieldCount, text.size() / 4 + 1));
    size_t pos = 0;
    int varIndex = 0;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < fieldCount; ++i) {
        const size_t sep = text.find('\x12', pos);
        if (sep == std::string_view::npos) {
            error = SDescriptionError;
            return false;
        }
        const std::string_view entry = text.substr(pos, sep - pos);
        pos = sep + 1;
        const size_t blank = entry.find(' ');
        if (blank == std::string_view::npos || blank + 1 >= entry.size()) {
            error = SBufferCorruption;
            return false;
        }
        TFlatField f;
        const size_t dot = entry.substr(0, blank).find('.');
        if (dot != std::string_view::npos) {
            f.Prefix = std::string(entry.substr(0, dot));
            f.Name = std::string(entry.substr(dot + 1, blank - dot - 1));
        } else {
            f.Prefix = "XXX";
            f.Name = std::string(entry.substr(0, blank));
        }
        const unsigned char letter = static_cast<unsigned char>(entry[blank + 1]);
        const std::string_view rest = entry.substr(blank + 2);
        switch (letter) {
        case 'l': f.TypeCode = fftSmallInt; break;
        case 'i': f.TypeCode = fftInteger; break;
        case 'e': f.TypeCode = fftInt64; break;
        case 'b': f.TypeCode = fftBoolean; break;
        case 'f': f.TypeCode = fftDouble; break;
        case 'c': f.TypeCode = fftCurrency; break;
        case 'd': f.TypeCode = fftDate; break;
        case 'v': f.TypeCode = fftTime; break;
        case 't': f.TypeCode = fftDateTime; break;
        case 'a': f.TypeCode = fftAutoInc; break;
        case 'o': f.TypeCode = fftBlob; break;
        case 'm': f.TypeCode = fftMemo; break;
        case 'r': f.TypeCode = fftFmtMemo; break;
        case 'g': f.TypeCode = fftGraphic; break;
        case 's': {
            f.TypeCode = fftString;
            if (rest.empty())
                f.MaxLength = 100;
            else {
                uint32_t n = 0;
                for (char c : rest) {
                    if (c < '0' || c > '9' || n > 6553) {
                        error = SBufferCorruption;
                        return false;
                    }
                    n = n * 10 + uint32_t(c - '0');
                }
                if (n > 65535) {
                    error = SBufferCorruption;
                    return false;
                }
                f.MaxLength = uint16_t(n);
            }
            break;
        }
        default: {
            const int n = letter < ':' ? int(letter) - 48 : int(letter) - 55;
            if (n < 0) {
                error = SBufferCorruption;
                return false;
            }
            f.TypeCode = fftSmallStr;
            f.MaxLength = uint16_t(n);
            break;
        }
        }
        f.Numeric = (f.TypeCode == fftSmallInt || f.TypeCode == fftInteger || f.TypeCode == fftInt64 ||
                     f.TypeCode == fftDouble || f.TypeCode == fftCurrency || f.TypeCode == fftAutoInc);
        f.Size = FlatTypeSize(f.TypeCode);
        f.Offset = uint32_t(offset);
        offset += f.Size;
        if (offset > UINT32_MAX - 8) {
            error = SBufferCorruption;
            return false;
        }
        if (IsFlatVarHeldType(f.TypeCode))
            f.VarIndex = varIndex++;
        if (f.TypeCode == fftAutoInc && CounterField < 0) {
            CounterField = int(Fields.size());
            CounterFieldName = f.Name;
        }
        Fields.push_back(std::move(f));
    }
    RecordSize = uint32_t(offset);
    // Each variable field knows where variable bytes start and the slot of the next one,
    // which is where its own bytes end.
    TFlatField *previous = nullptr;
    for (TFlatField &f : Fields) {
        if (f.VarIndex < 0)
            continue;
        f.VarStart = RecordSize + 4;
        if (previous)
            previous->NextVarSlot = f.Offset;
        previous = &f;
    }
    Description = std::string(text);
    fieldIndex_.reserve(Fields.size());
    for (size_t i = 0; i < Fields.size(); ++i)
        fieldIndex_.emplace(FlatUpperCase(Fields[i].Name), int(i));
    return true;
}

std::string TFlatCursor::BuildEmptyImage(const std::string &description, uint32_t fieldCount)
{
    std::string img(17, '\0');
    auto *p = reinterpret_cast<uint8_t *>(img.data());
    PutU32(p, uint32_t(17 + description.size()));
    p[4] = 'S';
    PutU32(p + 5, 0);
    PutU32(p + 9, fieldCount);
    PutU32(p + 13, uint32_t(description.size()));
    img += description;
    return img;
}

// ---------------------------------------------------------------------------------------
// Writing

void TFlatCursor::Progress(int &last, uint64_t done, uint64_t total)
{
    const int percent = RoundPercent(done, total);
    if (percent != last) {
        last = percent;
        if (OnProgress)
            OnProgress(percent);
    }
}

void TFlatCursor::ProgressOver(int &last, uint64_t from, uint64_t to, uint64_t total)
{
    // The percentage never falls as `done` grows, and `last` is that of `from`: so each
    // change is found by halving instead of a division per record.
    while (from < to && RoundPercent(to, total) != last) {
        uint64_t lo = from + 1, hi = to;
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            if (RoundPercent(mid, total) != last)
                hi = mid;
            else
                lo = mid + 1;
        }
        Progress(last, lo, total);
        from = lo;
    }
}

uint64_t FlatSaveThreadsFrom = uint64_t(384) << 10;

namespace {

std::string NewGuidText()
{
    std::random_device rd;
    uint8_t b[16];
    for (int i = 0; i < 16; i += 4) {
        const uint32_t v = rd();
        std::memcpy(b + i, &v, 4);
    }
    b[6] = uint8_t((b[6] & 0x0F) | 0x40);
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    static const char hex[] = "0123456789ABCDEF";
    std::string s = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s += '-';
        s += hex[b[i] >> 4];
        s += hex[b[i] & 15];
    }
    s += '}';
    return s;
}

} // namespace

namespace {

// Collects the image in a string.
class TStringSink : public TFlatImageSink {
public:
    explicit TStringSink(std::string &image) : image_(image) {}
    bool Append(const uint8_t *data, size_t size) override
    {
        image_.append(reinterpret_cast<const char *>(data), size);
        return true;
    }
    bool Patch(uint64_t offset, const uint8_t *data, size_t size) override
    {
        std::memcpy(image_.data() + offset, data, size);
        return true;
    }

private:
    std::string &image_;
};

} // namespace

bool TFlatCursor::WriteImage(std::string &image, std::string &error)
{
    image.clear();
    TStringSink sink(image);
    if (!WriteImage(sink, error)) {
        image.clear();
        return false;
    }
    return true;
}

namespace {

// The records of one stretch of the store, encoded as they appear in the image.
struct TEncodedBatch {
    size_t From = 0, To = 0;   // the stretch of Records
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Capacity = 0, Size = 0;
    uint32_t Written = 0;      // records encoded
    const TFlatField *Refused = nullptr; // the field whose value the reader would refuse
    size_t RefusedLength = 0;
    std::exception_ptr Failure; // what a helper thread ran into (no memory), for the caller
    bool Done = false;         // encoded and not yet handed over (under the pipeline's lock)
};

// How each field is encoded, worked out once a save instead of once a value: a number
// is kept by its width alone, so encoding it needs no branch on its value (it is always
// copied, and the length byte and the write position tell whether it counts).
enum TEncodeKind : uint8_t { encInt2, encInt4, encInt8, encFloat, encSmallStr, encVar, encNothing };
struct TEncodeStep {
    TEncodeKind Kind = encNothing;
    uint32_t Offset = 0;
    uint32_t Limit = 0;     // Var: the longest value the reader takes
    const TFlatField *Field = nullptr;
};

std::vector<TEncodeStep> EncodeSteps(const std::vector<TFlatField> &fields)
{
    std::vector<TEncodeStep> steps(fields.size());
    for (size_t k = 0; k < fields.size(); ++k) {
        const TFlatField &f = fields[k];
        TEncodeStep &s = steps[k];
        s.Offset = f.Offset;
        s.Field = &f;
        switch (f.TypeCode) {
        case fftSmallInt:
        case fftBoolean:
            s.Kind = encInt2;
            break;
        case fftInteger:
        case fftDate:
        case fftTime:
        case fftAutoInc:
            s.Kind = encInt4;
            break;
        case fftInt64:
            s.Kind = encInt8;
            break;
        case fftDouble:
        case fftCurrency:
        case fftDateTime:
            s.Kind = encFloat;
            break;
        case fftSmallStr:
            s.Kind = encSmallStr;
            break;
        case fftString:
        case fftBlob:
        case fftMemo:
        case fftFmtMemo:
        case fftGraphic:
            s.Kind = encVar;
            s.Limit = f.TypeCode == fftString ? FlatMaxStringLength : FlatMaxBlobLength;
            break;
        default:
            break;
        }
    }
    return steps;
}

template <typename T>
uint32_t CopyNumber(const uint8_t *from, uint8_t *to)
{
    T v;
    std::memcpy(&v, from, sizeof v);
    std::memcpy(to, &v, sizeof v);
    return v != 0 ? uint32_t(sizeof v) : 0;
}

// Encodes one record at `p` (room for its bound); answers the end, or null when a value
// is one the reader would refuse (`refused` and `refusedLength` then tell which).
uint8_t *EncodeRecord(const std::vector<TEncodeStep> &steps, const TFlatRecord &data, uint8_t *p,
                      const TFlatField *&refused, size_t &refusedLength)
{
    const size_t F = steps.size();
    uint8_t *lens = p;
    p += F;
    const uint8_t *fx = data.Fixed();
    for (size_t k = 0; k < F; ++k) {
        const TEncodeStep &s = steps[k];
        const uint8_t *at = fx + s.Offset;
        uint32_t len = 0;
        switch (s.Kind) {
        case encInt2:
            len = CopyNumber<uint16_t>(at, p);
            break;
        case encInt4:
            len = CopyNumber<uint32_t>(at, p);
            break;
        case encInt8:
            len = CopyNumber<uint64_t>(at, p);
            break;
        case encFloat: {
            double v;
            std::memcpy(&v, at, 8);
            std::memcpy(p, &v, 8);
            len = (v != 0.0) & (v == v) ? 8 : 0; // neither zero nor NaN
            break;
        }
        case encSmallStr: {
            const std::string_view v = FlatGetSmallStr(data, *s.Field);
            len = uint32_t(v.size());
            if (len)
                std::memcpy(p, v.data(), len);
            break;
        }
        case encVar: {
            const std::string_view v = data.Var(*s.Field);
            if (v.size() > s.Limit) {
                refused = s.Field;
                refusedLength = v.size();
                return nullptr;
            }
            if (!v.empty()) {
                PutU32(p, uint32_t(v.size()));
                std::memcpy(p + 4, v.data(), v.size());
                lens[k] = 4;
                p += 4 + v.size();
            } else
                lens[k] = 0;
            continue;
        }
        case encNothing:
            break;
        }
        lens[k] = uint8_t(len);
        p += len;
    }
    return p;
}

} // namespace

bool TFlatCursor::WriteImage(TFlatImageSink &sink, std::string &error)
{
    // Refuse what the reader would refuse, before anything is produced.
    if (NotesText.size() > FlatMaxNotesLength) {
        error = Fmt(SNotesTooLong, int(std::min<size_t>(NotesText.size(), INT32_MAX)));
        return false;
    }
    const bool isProtected = !Password.empty();
    const uint64_t headerSize = 17 + (isProtected ? 40 : 0) + Description.size();
    const auto live = [](const TFlatRecEntry *e) { return e->Status != rsDeleted && e->Status != rsDead && e->Data; };
    // The stored sizes kept with the entries give the estimate and cut the records into
    // stretches, in one pass that reads the entries only: the records themselves are first
    // touched by whoever encodes them, and every stretch is still checked against the
    // room left before it is handed over.
    const size_t total = Records.size();
    uint64_t estimate = headerSize + (NotesText.empty() ? 0 : 3 + NotesText.size());
    for (const TFlatRecEntry *e : Records)
        if (live(e))
            estimate += e->StoredSize;
    if (estimate > UINT32_MAX) {
        error = SImageTooLarge;
        return false;
    }
    uint32_t fixedMax = 0, varCount = 0;
    for (const TFlatField &f : Fields) {
        if (IsFlatVarHeldType(f.TypeCode))
            ++varCount; // a SmallStr takes at most its bytes, which the bound counts
        else
            fixedMax += f.Size;
    }
    const size_t F = Fields.size();
    // Room a record can take at most.
    const auto bound = [&](const TFlatRecEntry *e) {
        return uint64_t(F) + fixedMax + (e->Data.BlockSize() - 4 - RecordSize) + uint64_t(4) * varCount;
    };

    // The header (and notes) first.
    std::vector<uint8_t> head(size_t(headerSize) + 3 + NotesText.size());
    uint8_t *p = head.data();
    PutU32(p, 0);
    p[4] = isProtected ? 'P' : 'S';
    p += 5;
    std::string guid;
    if (isProtected) {
        guid = NewGuidText();
        std::memcpy(KeyBlock, guid.data(), 38);
        const uint16_t crc = Crc16(KeyBlock, 38);
        KeyBlock[38] = uint8_t(crc & 0xFF);
        KeyBlock[39] = uint8_t(crc >> 8);
        std::memcpy(p, KeyBlock, 40);
        TSapphire &cipher = FlatSession().Cipher;
        cipher.Initialize(Password);
        cipher.EncryptBuffer(p, 38);
        p += 40;
        Protected = true;
    }
    const uint64_t countAt = uint64_t(p - head.data());
    PutU32(p, 0);
    PutU32(p + 4, uint32_t(Fields.size()));
    PutU32(p + 8, uint32_t(Description.size()));
    p += 12;
    std::memcpy(p, Description.data(), Description.size());
    p += Description.size();
    TSapphire bodyCipher;
    if (isProtected)
        bodyCipher.Initialize(guid);
    uint8_t *body = p;
    if (!NotesText.empty()) {
        *p++ = '*';
        const uint16_t len = uint16_t(NotesText.size());
        std::memcpy(p, &len, 2);
        p += 2;
        std::memcpy(p, NotesText.data(), NotesText.size());
        p += NotesText.size();
    }
    if (isProtected)
        bodyCipher.EncryptBuffer(body, size_t(p - body));
    uint64_t flushed = uint64_t(p - head.data());

    // The records go in stretches, encoded side by side by a few helper threads while the
    // calling thread enciphers (a protected body is one stream) and hands over the earlier
    // ones in store order. A small table is encoded on the calling thread: starting threads
    // would cost it more than they save. What is reported (progress, the first refused
    // value, the bytes) is as for one pass in order.
    const uint64_t records = estimate - headerSize;
    const bool helped = records >= FlatSaveThreadsFrom;
    // Stretches of at most a megabyte keep the buffers in flight small beside a large
    // table; a smaller table is cut finer (its buffers in flight stay a small part of it,
    // writing starts early and every helper has work).
    const uint64_t stretchBytes = std::clamp<uint64_t>(records / 64, uint64_t(64) << 10, uint64_t(1) << 20);
    std::vector<std::pair<size_t, size_t>> stretches;
    for (size_t i = 0; i < total;) {
        const size_t from = i;
        uint64_t room = 0;
        while (i < total && (room < stretchBytes || i == from)) {
            if (live(Records[i]))
                room += Records[i]->StoredSize;
            ++i;
        }
        stretches.emplace_back(from, i);
    }
    // Asked once: the library answers by opening and reading a system file every time.
    static const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = helped && stretches.size() > 1 ? std::min<size_t>({4, hw, stretches.size()}) : 0;
    const std::vector<TEncodeStep> steps = EncodeSteps(Fields);
    // Two buffers a helper: one being encoded while the other waits to be handed over.
    std::vector<TEncodedBatch> batches(std::max<size_t>(1, 2 * helpers));
    const auto encode = [&](TEncodedBatch &b) {
        size_t used = 0;
        b.Written = 0;
        b.Refused = nullptr;
        for (size_t i = b.From; i < b.To; ++i) {
            const TFlatRecEntry *e = Records[i];
            if (!live(e))
                continue;
            const uint64_t need = bound(e);
            if (b.Capacity - used < need) {
                // Grown by half again at least, so a stretch of big records is not copied per record.
                const size_t capacity = size_t(std::max<uint64_t>(used + need, b.Capacity + b.Capacity / 2));
                std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
                if (used)
                    std::memcpy(bigger.get(), b.Bytes.get(), used);
                b.Bytes = std::move(bigger);
                b.Capacity = capacity;
            }
            uint8_t *q = EncodeRecord(steps, e->Data, b.Bytes.get() + used, b.Refused, b.RefusedLength);
            if (!q)
                break;
            used = size_t(q - b.Bytes.get());
            ++b.Written;
        }
        b.Size = b.Refused ? 0 : used;
    };
    const auto encodeStretch = [&](size_t s, TEncodedBatch &b) {
        b.From = stretches[s].first;
        b.To = stretches[s].second;
        encode(b);
    };

    // The helpers take the stretches in order, each into the buffer of the stretch handed
    // over that many stretches before; the calling thread hands them over in turn.
    struct TPipeline {
        std::mutex Lock;
        std::condition_variable Encoded, Freed;
        size_t Next = 0, HandedOver = 0;
        bool Stop = false;
        std::vector<std::thread> Threads;
        // Whichever way the save ends, the helpers are done with the buffers before they go.
        ~TPipeline()
        {
            {
                std::lock_guard<std::mutex> hold(Lock);
                Stop = true;
            }
            Freed.notify_all();
            for (std::thread &t : Threads)
                t.join();
        }
    };
    // Whichever way this ends, the sink is done with the buffers before they go.
    struct TSettle {
        TFlatImageSink &Sink;
        ~TSettle() { Sink.Settle(); }
    };
    const size_t slots = batches.size();
    TSettle settle{sink};
    TPipeline pipe;
    const auto help = [&] {
        for (;;) {
            size_t s;
            {
                std::unique_lock<std::mutex> hold(pipe.Lock);
                pipe.Freed.wait(hold, [&] {
                    return pipe.Stop || pipe.Next >= stretches.size() || pipe.Next < pipe.HandedOver + slots;
                });
                if (pipe.Stop || pipe.Next >= stretches.size())
                    return;
                s = pipe.Next++;
            }
            TEncodedBatch &b = batches[s % slots];
            try {
                encodeStretch(s, b);
            } catch (...) {
                b.Failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> hold(pipe.Lock);
                b.Done = true;
            }
            pipe.Encoded.notify_one();
        }
    };
    // The buffers come from this thread, sized for a stretch and some: a helper then
    // seldom allocates at all, and never needs a heap of its own.
    if (helpers)
        for (TEncodedBatch &b : batches) {
            b.Capacity = size_t(stretchBytes + stretchBytes / 4);
            b.Bytes.reset(new uint8_t[b.Capacity]);
        }
    // The first stretch is this thread's, encoded while the helpers start.
    pipe.Next = helpers ? 1 : 0;
    pipe.Threads.reserve(helpers);
    for (size_t k = 0; k < helpers; ++k) {
        try {
            pipe.Threads.emplace_back(help);
        } catch (const std::system_error &) {
            break; // no more threads to be had: fewer helpers, or none
        }
    }

    if (!sink.Append(head.data(), size_t(flushed))) {
        error = sink.Reason;
        return false;
    }
    uint32_t written = 0;
    int last = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        TEncodedBatch &b = batches[s % slots];
        if (pipe.Threads.empty() || s == 0) {
            encodeStretch(s, b);
        } else {
            std::unique_lock<std::mutex> hold(pipe.Lock);
            if (!b.Done && pipe.Next == s) {
                // No helper has taken it yet (they are still starting, or all busy): this
                // thread would only wait, so it encodes the stretch itself.
                ++pipe.Next;
                hold.unlock();
                encodeStretch(s, b);
            } else {
                pipe.Encoded.wait(hold, [&] { return b.Done; });
            }
        }
        if (b.Failure)
            std::rethrow_exception(b.Failure);
        if (b.Refused) {
            const TFlatField &f = *b.Refused;
            error = Fmt(f.TypeCode == fftString ? SStringWrongLength : SBlobWrongLength, f.Name.c_str(),
                        int(std::min<size_t>(b.RefusedLength, INT32_MAX)), int(written + b.Written + 1));
            return false;
        }
        if (flushed + b.Size > UINT32_MAX) {
            error = SImageTooLarge;
            return false;
        }
        if (isProtected)
            bodyCipher.EncryptBuffer(b.Bytes.get(), b.Size);
        if (b.Size && !sink.Append(b.Bytes.get(), b.Size)) {
            error = sink.Reason;
            return false;
        }
        flushed += b.Size;
        written += b.Written;
        ProgressOver(last, b.From, b.To, total);
        if (!pipe.Threads.empty()) {
            {
                std::lock_guard<std::mutex> hold(pipe.Lock);
                b.Done = false;
                ++pipe.HandedOver;
            }
            pipe.Freed.notify_one(); // one buffer is free: one helper can go on
        }
    }
    if (!sink.Settle()) {
        error = sink.Reason;
        return false;
    }
    uint8_t word[4];
    PutU32(word, written);
    if (!sink.Patch(countAt, word, 4)) {
        error = sink.Reason;
        return false;
    }
    PutU32(word, uint32_t(flushed));
    if (!sink.Patch(0, word, 4)) {
        error = sink.Reason;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Reading

// A window over the image that is read in pieces into one reused buffer: the parser asks
// for as many bytes as it needs next, and only those stay in memory. Body bytes of a
// protected table are deciphered as they arrive.
class TFlatReadWindow {
public:
    // The buffer starts at a sixty-fourth of the image, between 64 KiB and 256 KiB: reads
    // large enough that their count does not matter, and a buffer small against any table.
    explicit TFlatReadWindow(TFlatImageSource &source)
        : source_(source), remaining_(source.Size()),
          chunk_(size_t(std::clamp<uint64_t>(source.Size() / 64, MinChunk, MaxChunk)))
    {
    }

    const uint8_t *Data() const { return buf_.get() + pos_; }
    size_t Available() const { return len_ - pos_; }
    void Skip(size_t n) { pos_ += n; }
    uint64_t Consumed() const { return consumed_ + pos_; }
    bool Failed() const { return failed_; }
    const std::string &Reason() const { return reason_; }

    // Reads until `n` bytes are available or the image ends; answers what is available.
    size_t Ensure(uint64_t n)
    {
        if (Available() >= n || ended_)
            return Available();
        const size_t avail = Available();
        // Never more than the image can still give, so a damaged length costs no memory.
        const uint64_t want = std::min<uint64_t>(n, avail + remaining_);
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, avail);
            consumed_ += pos_;
            pos_ = 0;
            len_ = avail;
        }
        if (want > cap_ || !buf_) {
            const size_t cap = size_t(std::max<uint64_t>(want, std::max<size_t>(cap_ * 2, chunk_)));
            std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
            if (len_)
                std::memcpy(bigger.get(), buf_.get(), len_);
            buf_ = std::move(bigger);
            cap_ = cap;
        }
        while (len_ < want) {
            size_t got = 0;
            if (!source_.Read(buf_.get() + len_, cap_ - len_, got, reason_)) {
                failed_ = ended_ = true;
                break;
            }
            if (got == 0) {
                ended_ = true;
                break;
            }
            if (cipher_)
                cipher_->DecryptBuffer(buf_.get() + len_, got);
            len_ += got;
            remaining_ -= std::min<uint64_t>(remaining_, got);
        }
        return Available();
    }

    // Deciphers every byte from the current position on.
    void StartCipher(TSapphire &cipher)
    {
        cipher_ = &cipher;
        cipher.DecryptBuffer(buf_.get() + pos_, Available());
    }

private:
    static constexpr uint64_t MinChunk = uint64_t(64) << 10, MaxChunk = uint64_t(256) << 10;
    TFlatImageSource &source_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t cap_ = 0, pos_ = 0, len_ = 0;
    uint64_t remaining_ = 0, consumed_ = 0;
    size_t chunk_;
    TSapphire *cipher_ = nullptr;
    bool ended_ = false, failed_ = false;
    std::string reason_;
};

bool TFlatFileSource::Open(const std::string &fileName, std::string &reason)
{
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }
    size_ = uint64_t(st.st_size);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

TFlatFileSource::~TFlatFileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TFlatFileSource::Read(uint8_t *dst, size_t n, size_t &got, std::string &reason)
{
    got = 0;
    for (;;) {
        const ssize_t r = ::read(fd_, dst, n);
        if (r >= 0) {
            got = size_t(r);
            return true;
        }
        if (errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
    }
}

bool TFlatCursor::ReadImage(std::string_view image, std::string &error)
{
    TFlatMemorySource source(image);
    return ReadImage(source, error);
}

bool TFlatCursor::ReadImage(TFlatImageSource &source, std::string &error)
{
    PartialError.clear();
    ReadFailure.clear();
    Clear(true);
    Protected = false;
    NotesText.clear();
    TFlatReadWindow w(source);
    const auto fail = [&](const std::string &text) {
        // A read that failed is reported as such, not as whatever the parser made of it.
        if (w.Failed())
            ReadFailure = w.Reason();
        error = text;
        return false;
    };
    if (w.Ensure(5) < 5)
        return fail(SBufferCorruption);
    const uint8_t kind = w.Data()[4];
    w.Skip(5);
    if (kind == 'E') {
        const size_t n = w.Ensure(source.Size());
        const std::string_view text(reinterpret_cast<const char *>(w.Data()), n);
        return fail(std::string(text.substr(0, text.find('\0'))));
    }
    if (kind == 'P') {
        if (w.Ensure(40) < 40)
            return fail(SBufferCorruption);
        Protected = true;
        std::memcpy(KeyBlock, w.Data(), 40);
        w.Skip(40);
        if (!FlatSession().CheckTablePassword(KeyBlock, Password))
            return fail(SInvalidPassword);
    }
    if (w.Ensure(12) < 12)
        return fail(SBufferCorruption);
    const uint32_t declared = GetU32(w.Data());
    const uint32_t fieldCount = GetU32(w.Data() + 4);
    const uint32_t descLen = GetU32(w.Data() + 8);
    w.Skip(12);
    // No table has anywhere near this many fields; a larger count is damage, and the
    // descriptors of a hostile count could take many times the file's size in memory.
    if (source.Size() - std::min<uint64_t>(source.Size(), w.Consumed()) < descLen || w.Ensure(descLen) < descLen ||
        (fieldCount == 0 && declared > 0) || fieldCount > FlatMaxFieldCount)
        return fail(SBufferCorruption);
    if (!ParseDescription({reinterpret_cast<const char *>(w.Data()), descLen}, fieldCount, error)) {
        Fields.clear();
        fieldIndex_.clear();
        return fail(error);
    }
    w.Skip(descLen);

    TSapphire cipher;
    if (kind == 'P') {
        cipher.Initialize(std::string_view(reinterpret_cast<const char *>(KeyBlock), 38));
        w.StartCipher(cipher);
    }
    const bool ok = ReadBody(w, declared, uint32_t(std::min<uint64_t>(source.Size(), UINT32_MAX)), error);
    if (!ok) {
        if (!PartialOpen || w.Failed()) {
            Clear(false);
            return fail(error);
        }
        PartialError = error;
    }
    if (CounterField >= 0) {
        std::vector<const TFlatField *> key{&Fields[size_t(CounterField)]};
        SortEntries(Records, key, false, false);
        Counter = Records.empty() ? 0
                                  : int32_t(FlatGetInt(Records.back()->Data.Fixed(), Fields[size_t(CounterField)]));
    }
    return true;
}

bool TFlatCursor::ReadBody(TFlatReadWindow &w, uint32_t declared, uint32_t imageSize, std::string &error)
{
    const size_t F = Fields.size();
    // Notes block.
    const size_t need = declared == 0 ? 3 : F;
    if (w.Ensure(need) >= need && w.Available() > 0 && *w.Data() == '*') {
        if (w.Ensure(3) < 3) {
            error = SUnexpectedEnd;
            return false;
        }
        uint16_t len;
        std::memcpy(&len, w.Data() + 1, 2);
        if (w.Ensure(3 + size_t(len)) - 3 < len) {
            error = SUnexpectedEnd;
            return false;
        }
        NotesText.assign(reinterpret_cast<const char *>(w.Data() + 3), len);
        w.Skip(3 + size_t(len));
    }
    // Every record takes at least F bytes, so the list never outgrows the file.
    const uint64_t left = uint64_t(imageSize) - std::min<uint64_t>(imageSize, w.Consumed());
    const size_t bound = F ? size_t(left / F) : 0;
    Records.reserve(std::min<size_t>(declared, bound));
    // A description of many wide fields can turn few file bytes into a lot of memory;
    // stop before a damaged or hostile file exhausts it.
    const uint64_t budget = uint64_t(imageSize) * 64 + (uint64_t(256) << 20);
    uint64_t allocated = 0;
    // A record takes its fixed part and its variable bytes, which the bytes still to read
    // bound: a large table's memory is readied ahead of the parsing.
    arena_.Reserve(size_t(std::min<uint64_t>(
        budget, uint64_t(std::min<size_t>(declared, bound)) * (uint64_t(RecordSize) + 4 + 3) + left)));
    struct TSettle {
        TFlatRecordArena &Arena;
        ~TSettle() { Arena.Settle(); }
    } settle{arena_};
    std::vector<std::string_view> vars;
    size_t varCount = 0;
    for (const auto &f : Fields)
        varCount += f.VarIndex >= 0;
    vars.resize(varCount);
    std::vector<uint8_t> fixed(RecordSize);
    uint32_t read = 0;
    int last = 0;
    // Parses the record at the window's start: 1 done, 0 more bytes needed (`want` of
    // them from the record's start), -1 an error.
    uint32_t stored = 0;
    uint64_t want = 0;
    const auto parse = [&](uint32_t recNo) -> int {
        const uint8_t *p = w.Data();
        const uint8_t *end = p + w.Available();
        const uint8_t *lens = p;
        const uint8_t *q = p + F;
        std::fill(fixed.begin(), fixed.end(), 0);
        stored = uint32_t(F);
        for (size_t k = 0; k < F; ++k) {
            const TFlatField &f = Fields[k];
            const uint8_t len = lens[k];
            if (f.TypeCode == fftSmallStr) {
                if (len > f.MaxLength) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < len) {
                    want = uint64_t(q - p) + len;
                    return 0;
                }
                // A short text ends at its first NUL: what follows it was never part of
                // the value (nobody reads it, the next save leaves it out).
                const std::string_view v(reinterpret_cast<const char *>(q), len);
                vars[size_t(f.VarIndex)] = v.substr(0, v.find('\0'));
                q += len;
                stored += len;
            } else if (IsFlatVarStoredType(f.TypeCode)) {
                vars[size_t(f.VarIndex)] = {};
                if (len != 0 && len != 4) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (len == 0)
                    continue;
                if (end - q < 4) {
                    want = uint64_t(q - p) + 4;
                    return 0;
                }
                const uint32_t n = GetU32(q);
                q += 4;
                if (f.TypeCode == fftString && n > FlatMaxStringLength) {
                    error = Fmt(SStringWrongLength, f.Name.c_str(), int(n), int(recNo));
                    return -1;
                }
                if (f.TypeCode != fftString && n > FlatMaxBlobLength) {
                    error = Fmt(SBlobWrongLength, f.Name.c_str(), int(n), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < n) {
                    want = uint64_t(q - p) + n;
                    return 0;
                }
                std::string_view v(reinterpret_cast<const char *>(q), n);
                // A String is a zero-terminated text: its value ends at the first NUL, so
                // what is read is what the next save writes.
                if (f.TypeCode == fftString)
                    v = v.substr(0, v.find('\0'));
                vars[size_t(f.VarIndex)] = v;
                q += n;
                stored += 4 + n;
            } else {
                if (len > f.Size) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < len) {
                    want = uint64_t(q - p) + len;
                    return 0;
                }
                std::memcpy(fixed.data() + f.Offset, q, len);
                q += len;
                stored += len;
            }
        }
        want = uint64_t(q - p);
        return 1;
    };
    while (read < declared && F > 0 && w.Ensure(F) >= F) {
        const uint32_t recNo = read + 1;
        int r;
        while ((r = parse(recNo)) == 0) {
            // Ask for plenty at once, so a record cut by the buffer's end is parsed again
            // only rarely.
            const size_t before = w.Available();
            if (w.Ensure(std::max<uint64_t>(want, uint64_t(before) * 2)) < want) {
                error = SUnexpectedEnd;
                return false;
            }
        }
        if (r < 0)
            return false;
        allocated += uint64_t(RecordSize) + 4 + (stored - F) + sizeof(TFlatRecEntry) + 16;
        if (allocated > budget) {
            error = SBufferCorruption;
            return false;
        }
        TFlatRecord data = TFlatRecord::Pack(Fields, RecordSize, fixed.data(), vars, arena_);
        TFlatRecEntry *e = NewEntry();
        e->Data = std::move(data);
        e->Status = rsClean;
        e->StoredSize = stored;
        Records.push_back(e);
        ++Generation;
        w.Skip(size_t(want));
        ++read;
        Progress(last, read, declared);
    }
    if (read != declared) {
        error = Fmt(SRecordCountMismatch, int(read), int(declared));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Saving

namespace {

// Writes the image to a temporary file as it is produced. The writing is done on the
// calling thread: the encoding runs ahead on the helpers meanwhile, and a thread of its
// own would cost a small table more than it saves. The first few megabytes are gathered
// and written at once (a small table takes one write and one flush), the rest as it comes.
class TFileSink : public TFlatImageSink {
public:
    static constexpr size_t Gather = size_t(4) << 20;
    TTempFileWriter File;
    bool Failed = false;
    bool Append(const uint8_t *data, size_t size) override
    {
        if (!direct_) {
            if (pending_.size() + size <= Gather) {
                pending_.append(reinterpret_cast<const char *>(data), size);
                return true;
            }
            if (!Flush())
                return false;
            direct_ = true;
        }
        Failed = !File.Append(data, size, Reason);
        return !Failed;
    }
    bool Patch(uint64_t offset, const uint8_t *data, size_t size) override
    {
        if (!direct_ && offset + size <= pending_.size()) {
            std::memcpy(pending_.data() + offset, data, size);
            return true;
        }
        Failed = !File.Patch(offset, data, size, Reason);
        return !Failed;
    }
    bool Settle() override { return !Failed; }
    // Writes what is gathered; false (with the reason) when that or an earlier write failed.
    bool Flush()
    {
        if (!Failed && !pending_.empty())
            Failed = !File.Append(pending_.data(), pending_.size(), Reason);
        pending_.clear();
        pending_.shrink_to_fit();
        return !Failed;
    }

private:
    std::string pending_;
    bool direct_ = false;
};

// The file a rename replaces is freed by that rename when nothing else holds it, which
// for a large table is a good part of a save: it is held open across the rename and let
// go on a helper thread. Small files are left alone (freeing them is quick).
class TReplacedFile {
public:
    explicit TReplacedFile(const std::string &path)
    {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= (off_t(1) << 20))
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }
    ~TReplacedFile()
    {
        if (fd_ < 0)
            return;
        try {
            std::thread([fd = fd_] { ::close(fd); }).detach();
        } catch (const std::system_error &) {
            ::close(fd_);
        }
    }
    TReplacedFile(const TReplacedFile &) = delete;
    TReplacedFile &operator=(const TReplacedFile &) = delete;

private:
    int fd_ = -1;
};

} // namespace

std::string FlatBackupName(const std::string &fileName)
{
    std::filesystem::path backup(fileName);
    backup.replace_extension(".~d");
    return backup.string();
}

bool TFlatCursor::SaveToFile(const std::string &fileName, TFlatSaveOptions options, bool caseInsensitive,
                             std::string_view indexFieldNames, std::string &error)
{
    if (options & savSortOnIndex)
        SortRecords(indexFieldNames, caseInsensitive);
    // The new table goes to a flushed temporary file first, written as it is produced. With the backup option the
    // file being replaced is kept under a second temporary name (a link, or a flushed
    // copy) before anything is renamed, so that neither the table nor its backup is
    // ever seen half written: the table is renamed into place, and only then the
    // backup. When a step fails, what was renamed is put back.
    std::string reason, tmpNew;
    {
        TFileSink sink;
        if (!sink.File.Begin(fileName, reason)) {
            error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str());
            return false;
        }
        const bool written = WriteImage(sink, error);
        if (!sink.Settle() || !written || !sink.Flush()) {
            // A refused value keeps its own message; a failed write names the file.
            if (sink.Failed)
                error = Fmt(SCannotCreateFile, fileName.c_str(), sink.Reason.c_str());
            return false;
        }
        if (!sink.File.Finish(tmpNew, reason)) {
            error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str());
            return false;
        }
    }
    std::string tmpOld;
    const std::string backup = FlatBackupName(fileName);
    struct stat st;
    const bool keepBackup = (options & savAutoBackup) && backup != fileName && ::stat(fileName.c_str(), &st) == 0;
    if (keepBackup && !LinkOrCopyToTempBeside(fileName, tmpOld, reason)) {
        error = Fmt(SCannotCreateBackup, fileName.c_str(), backup.c_str(), reason.c_str()) +
                DiscardTempFile(tmpNew);
        return false;
    }
    const TReplacedFile replacedTable(fileName);
    if (const int err = RenameFile(tmpNew, fileName)) {
        reason = std::strerror(err);
        // The table and its backup are untouched; what could not be removed is said.
        error = Fmt(SCannotCreateFile, fileName.c_str(), reason.c_str()) + DiscardTempFile(tmpNew) +
                DiscardTempFile(tmpOld);
        return false;
    }
    const TReplacedFile replacedBackup(tmpOld.empty() ? std::string() : backup);
    if (int err = tmpOld.empty() ? 0 : RenameFile(tmpOld, backup)) {
        reason = std::strerror(err);
        // Put the old table back, so the failed save changed nothing.
        if ((err = RenameFile(tmpOld, fileName)) != 0) {
            // The new table is in place and the old one is only under its temporary
            // name: it is kept there (never removed here), and the message says so.
            const std::string putBack = std::strerror(err);
            SyncFolderOf(fileName);
            error = Fmt(SBackupAndPutBackFailed, fileName.c_str(), backup.c_str(), reason.c_str(), putBack.c_str(),
                        tmpOld.c_str());
            return false;
        }
        SyncFolderOf(fileName);
        error = Fmt(SCannotCreateBackup, fileName.c_str(), backup.c_str(), reason.c_str());
        return false;
    }
    SyncFolderOf(fileName);
    return true;
}

// ---------------------------------------------------------------------------------------
// Session

TFlatSession::TFlatSession() = default;

TFlatSession &FlatSession()
{
    static TFlatSession session;
    return session;
}

void TFlatSession::AddPassword(const std::string &password)
{
    if (password.empty())
        return;
    auto it = std::lower_bound(passwords_.begin(), passwords_.end(), password,
                               [](const std::string &a, const std::string &b) { return FlatCompareText(a, b, true) < 0; });
    if (it != passwords_.end() && FlatCompareText(*it, password, true) == 0)
        return;
    passwords_.insert(it, password);
}

void TFlatSession::RemovePassword(const std::string &password)
{
    auto it = std::find_if(passwords_.begin(), passwords_.end(),
                           [&](const std::string &p) { return FlatCompareText(p, password, true) == 0; });
    if (it != passwords_.end())
        passwords_.erase(it);
}

bool TFlatSession::HasPassword(const std::string &password) const
{
    return std::any_of(passwords_.begin(), passwords_.end(),
                       [&](const std::string &p) { return FlatCompareText(p, password, true) == 0; });
}

bool TFlatSession::TryKeyBlock(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword)
{
    if (TryKeyBytes(candidate, keyBlock, storePassword))
        return true;
    // A table protected on Windows was keyed with the Windows-1250 bytes of the password;
    // the same text typed here arrives as UTF-8. The form that worked stays the table's
    // password, so its next save can still be opened there.
    if (IsValidUtf8(candidate)) {
        const std::string cp1250 = Utf8ToCp1250(candidate, '\0');
        if (cp1250 != candidate && cp1250.find('\0') == std::string::npos)
            return TryKeyBytes(cp1250, keyBlock, storePassword);
    }
    return false;
}

bool TFlatSession::TryKeyBytes(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword)
{
    uint8_t copy[40];
    std::memcpy(copy, keyBlock, 40);
    Cipher.Initialize(candidate);
    Cipher.DecryptBuffer(copy, 38);
    if (Crc16(copy, 40) != 0 || copy[0] != '{' || copy[37] != '}')
        return false;
    std::memcpy(keyBlock, copy, 40);
    storePassword = candidate;
    return true;
}

bool TFlatSession::AskPassword(std::string &password)
{
    return OnPassword ? OnPassword(password) : false;
}

void TFlatSession::Notice(const std::string &text)
{
    if (OnNotice)
        OnNotice(text);
}

bool TFlatSession::CheckTablePassword(uint8_t keyBlock[40], std::string &storePassword)
{
    if (!storePassword.empty() && TryKeyBlock(storePassword, keyBlock, storePassword))
        return true;
    const std::vector<std::string> known = passwords_;
    for (const std::string &p : known)
        if (TryKeyBlock(p, keyBlock, storePassword))
            return true;
    const int tries = RetryCount < 1 ? 3 : RetryCount;
    bool ok = false;
    for (int i = 0; i < tries; ++i) {
        std::string answer;
        if (!AskPassword(answer))
            break;
        ok = TryKeyBlock(answer, keyBlock, storePassword);
        if (ok) {
            AddPassword(answer);
            break;
        }
        if (i + 1 < tries)
            Notice(SPasswordTryAgain);
    }
    return ok;
}
