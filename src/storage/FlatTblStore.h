#pragma once
// The record store of one opened table file: field descriptors, every record with its
// pending-change state, the notes text and the protection state. It reads and writes the
// table file image. One store is shared by a table and its clones; each keeps its own view.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TFileCommit;

#include "storage/Sapphire.h"

enum TFlatFieldType : uint8_t {
    fftUnknown = 0,
    fftSmallInt = 1,
    fftInteger = 2,
    fftInt64 = 3,
    fftBoolean = 4,
    fftDouble = 5,
    fftCurrency = 6,
    fftDate = 7,
    fftTime = 8,
    fftDateTime = 9,
    fftAutoInc = 10,
    fftSmallStr = 11,
    fftString = 12,
    fftBlob = 13,
    fftMemo = 14,
    fftFmtMemo = 15,
    fftGraphic = 16,
};

inline bool IsFlatBlobType(uint8_t code)
{
    return code == fftBlob || code == fftMemo || code == fftFmtMemo || code == fftGraphic;
}
// Types whose value a record holds among its variable bytes, behind the fixed part (the
// texts and the BLOB types): a short text costs its length, not its declared width.
inline bool IsFlatVarHeldType(uint8_t code)
{
    return code == fftSmallStr || code == fftString || IsFlatBlobType(code);
}
// Types a file stores with a 4-byte length (String and the BLOB types); a SmallStr is
// stored by its one length byte like the fixed types.
inline bool IsFlatVarStoredType(uint8_t code) { return code == fftString || IsFlatBlobType(code); }

// Limits the reader enforces; the writer refuses anything beyond them.
inline constexpr uint32_t FlatMaxStringLength = 8191;
inline constexpr uint32_t FlatMaxBlobLength = (1u << 30) - 1;
inline constexpr uint32_t FlatMaxNotesLength = 65535;
inline constexpr uint32_t FlatMaxFieldCount = 65535;

struct TFlatField {
    std::string Name;   // as read; blanks appear as "_"
    std::string Prefix; // the description prefix ("XXX" when written by us)
    uint16_t Size = 0;      // width in the fixed part of a record (4 for the variable fields)
    uint16_t MaxLength = 0; // String: declared maximum (100 when not given); SmallStr: characters
    uint32_t Offset = 0;    // position in the fixed part of a record
    uint8_t TypeCode = fftUnknown;
    uint8_t Numeric = 0;
    int VarIndex = -1; // index among the variable fields (IsFlatVarHeldType), -1 for fixed ones
    // Variable fields: where variable bytes start in a record's block, and the slot of
    // the next variable field (0 for the last).
    uint32_t VarStart = 0;
    uint32_t NextVarSlot = 0;
    uint32_t Index = 0; // position in the field list (and among a stored record's length bytes)
};

// What a record read in place needs to find its values among its stored bytes: the
// fields of the table it was read with (kept by the store while such records exist).
struct TFlatStoredLayout {
    std::vector<TFlatField> Fields;
    uint32_t RecordSize = 0;
    // Per field: 1 when a value is stored as a u32 byte count and the bytes (the String
    // and BLOB types), 0 when by its length byte alone.
    std::vector<uint8_t> Counted;
    // Whether no counted field comes before the field: its value then lies at the sum of
    // the length bytes before it.
    std::vector<uint8_t> PlainBefore;
};

// Buffer widths of the engine's types. SmallStr, String and the BLOB types hold the u32
// offset of their bytes in the record's block; the bytes of the variable fields follow
// the fixed part in field order, so a value ends where the next one starts.
uint16_t FlatTypeSize(uint8_t code);

// Memory for the records a store reads in bulk: large chunks handed out in order and
// given back all at once (when the store is cleared), so a loaded record costs its bytes
// and nothing else: no heap header, no rounding, no call into the allocator.
class TFlatRecordArena {
public:
    TFlatRecordArena();
    ~TFlatRecordArena();
    TFlatRecordArena(const TFlatRecordArena &) = delete;
    TFlatRecordArena &operator=(const TFlatRecordArena &) = delete;
    // `size` bytes, 4-aligned, valid until Clear.
    uint8_t *Allocate(size_t size);
    void Clear() noexcept;
    // Readies about `size` bytes for the allocations to come (a large bulk copy): one
    // region, so that they ask for memory once. Settle gives back what the allocations
    // did not take.
    void Reserve(size_t size);
    void Settle() noexcept;
    // Bytes of memory held (tests).
    size_t Capacity() const { return capacity_; }

private:
    struct TChunk {
        uint8_t *Memory = nullptr;
        size_t Size = 0;
        bool Mapped = false; // mapped directly, else from the heap
        void Release() noexcept;
    };
    TChunk MapChunk(size_t size, bool populate);
    std::vector<TChunk> chunks_;
    uint8_t *next_ = nullptr;
    size_t left_ = 0, capacity_ = 0;
    uint8_t *reserved_ = nullptr; // the start of the region of Reserve until Settle
};

// One record, in one of two forms. Packed: a single block holding a u32 block size, the
// fixed part (record size bytes) and, behind it, the bytes of the variable (text and
// BLOB-type) fields; the block is either the record's own heap block or lies in the
// arena of the store that made it. Stored: the record's bytes as a table image holds them
// (length bytes, then the values), read in place from the image its store keeps; such a
// record is only ever read, and a copy of it is packed. A record of the store's memory
// (arena or image) stays in its entry until the store is cleared and must not be moved
// out of it; a copy taken out owns its block. Copying a record copies the bytes (into a
// heap block of its own); moving hands the block over. An empty handle is "no record".
class TFlatRecord {
public:
    TFlatRecord() = default;
    ~TFlatRecord();
    TFlatRecord(TFlatRecord &&other) noexcept : block_(other.block_), layout_(other.layout_)
    {
        other.block_ = nullptr;
        other.layout_ = nullptr;
    }
    TFlatRecord &operator=(TFlatRecord &&other) noexcept;
    TFlatRecord(const TFlatRecord &other);
    TFlatRecord &operator=(const TFlatRecord &other);

    // A zero-filled record of `recordSize` fixed bytes and no variable bytes.
    static TFlatRecord Make(uint32_t recordSize);
    // The record whose stored bytes start at `bytes` (checked by the reader) in an image
    // that, like `layout`, outlives the record.
    static TFlatRecord Stored(const uint8_t *bytes, const TFlatStoredLayout &layout);

    explicit operator bool() const { return block_ != nullptr; }
    void Reset();
    // The fixed part of a packed record (a stored one has none: see FixedValue).
    uint8_t *Fixed()
    {
        assert(!layout_);
        return Block() + 4;
    }
    const uint8_t *Fixed() const
    {
        assert(!layout_);
        return Block() + 4;
    }
    // The size of the packed block (of a stored record: of its packed copy).
    uint32_t BlockSize() const;
    bool IsStored() const { return layout_ != nullptr; }

    // The `field.Size` bytes of a fixed field's value: in a packed record where they lie,
    // in a stored one copied into `scratch` (the stored bytes, zero-extended).
    const uint8_t *FixedValue(const TFlatField &field, uint8_t scratch[8]) const;
    // The bytes of a variable field (a text or BLOB type; empty when absent). A stored
    // text ends at its first NUL, as the packed one was cut when set.
    std::string_view Var(const TFlatField &field) const;
    // Replaces the bytes of a variable field; `fields` are all fields of the
    // record (the block is packed again). `recordSize` is the fixed size.
    void SetVar(const std::vector<TFlatField> &fields, uint32_t recordSize, const TFlatField &field,
                std::string_view bytes);

    // Builds a record from its fixed part and the variable values, one per var field in
    // field order.
    static TFlatRecord Pack(const std::vector<TFlatField> &fields, uint32_t recordSize, const uint8_t *fixed,
                            const std::vector<std::string_view> &vars);
    // The same, the block taken from `arena`.
    static TFlatRecord Pack(const std::vector<TFlatField> &fields, uint32_t recordSize, const uint8_t *fixed,
                            const std::vector<std::string_view> &vars, TFlatRecordArena &arena);
    // A packed copy of `record` (not empty) whose block is taken from `arena`.
    static TFlatRecord CopyInto(const TFlatRecord &record, TFlatRecordArena &arena);
    // Whether the record lies in its store's memory (an arena or a table image) rather
    // than in a block of its own.
    bool InArena() const { return layout_ || (reinterpret_cast<uintptr_t>(block_) & 1) != 0; }
    // The stored bytes of a stored record (null for a packed one) and where the value of
    // field `k` starts among them, with its length byte.
    const uint8_t *StoredBytes() const { return layout_ ? block_ : nullptr; }
    const TFlatStoredLayout *StoredLayout() const { return layout_; }
    // Of a stored record, in one pass: per field (by Index) the bytes Var gives of a
    // variable field, the stored bytes (at most its width) of a fixed one.
    void StoredFields(std::string_view *out) const;
    const uint8_t *StoredValue(size_t k, uint8_t &len) const;

private:
    static void Fill(uint8_t *block, uint32_t total, const std::vector<TFlatField> &fields, uint32_t recordSize,
                     const uint8_t *fixed, const std::vector<std::string_view> &vars);
    // Packs a stored record into `block` of `total` (its BlockSize) bytes.
    void Unpack(uint8_t *block, uint32_t total) const;
    uint8_t *Block() const
    {
        return reinterpret_cast<uint8_t *>(reinterpret_cast<uintptr_t>(block_) & ~uintptr_t(1));
    }
    void Drop() noexcept;
    // The block; an arena block is marked by the lowest address bit (arena blocks are
    // 4-aligned, so the bit is free). For a stored record, its first stored byte.
    uint8_t *block_ = nullptr;
    const TFlatStoredLayout *layout_ = nullptr; // set for a stored record
};

enum TFlatRecStatus : uint8_t { rsClean = 0, rsModified = 1, rsInserted = 2, rsDeleted = 3, rsDead = 4 };

// A record of the store. It stays this small (a loaded table holds one per record): what
// only a few records have at a time, the copy kept while one is edited and a caller's own
// data, the store keeps beside it (TFlatCursor::PriorData, UserData).
struct TFlatRecEntry {
    TFlatRecord Data;
    uint32_t StoredSize = 0;
    uint8_t Status = rsClean;
};

enum TFlatSaveOption : unsigned { savAutoBackup = 1, savSlowMode = 2, savSortOnIndex = 4 };
using TFlatSaveOptions = unsigned;

// Read access to field values of a packed record's fixed part.
int64_t FlatGetInt(const uint8_t *fixed, const TFlatField &field); // integer-like types
double FlatGetFloat(const uint8_t *fixed, const TFlatField &field); // Double, Currency, DateTime
// The same of a record in either form.
int64_t FlatGetInt(const TFlatRecord &record, const TFlatField &field);
double FlatGetFloat(const TFlatRecord &record, const TFlatField &field);
// A SmallStr's text: its bytes up to the first NUL, at most MaxLength of them.
std::string_view FlatGetSmallStr(const TFlatRecord &record, const TFlatField &field);
// The bytes a reader gets of a field held among the variable bytes (IsFlatVarHeldType):
// a SmallStr's as FlatGetSmallStr gives them, a String's cut to its width in characters
// (a file may hold a longer text than the width), a BLOB's whole.
std::string_view FlatGetBytes(const TFlatRecord &record, const TFlatField &field);
// Every field's bytes of a record in either form, in one pass for a stored one: per
// field (by Index) what Var gives of a variable field, the bytes of a fixed one (as
// stored: they may be fewer than its width).
void FlatRecordValues(const TFlatRecord &record, const std::vector<TFlatField> &fields, std::string_view *out);
// What FlatGetBytes and FlatGetInt give of a field from its bytes of FlatRecordValues.
std::string_view FlatBytesOf(std::string_view var, const TFlatField &field);
int64_t FlatIntOf(std::string_view bytes, const TFlatField &field);

// Text comparison of stored texts, each taken in its decoded form (see DecodeStoredText):
// a text that is a prefix of another comes first; case-insensitive folds letters in the
// ANSI sense (ASCII and the Latin letters of the catalogue's languages).
int FlatCompareText(std::string_view a, std::string_view b, bool caseInsensitive);
// Upper-cases ASCII letters and the Latin letters that FlatCompareText folds.
std::string FlatUpperCase(std::string_view text);

// The bytes of a table image, read in pieces.
class TFlatImageSource {
public:
    virtual ~TFlatImageSource() = default;
    virtual uint64_t Size() const = 0;
    // Up to `n` bytes into `dst`; `got` 0 at the end. False with a reason on a read error.
    virtual bool Read(uint8_t *dst, size_t n, size_t &got, std::string &reason) = 0;
    // The descriptor of a file that may be mapped instead of read (-1 when none).
    virtual int MappableFd() const { return -1; }
};

// Table bytes held in memory.
class TFlatMemorySource : public TFlatImageSource {
public:
    explicit TFlatMemorySource(std::string_view bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint8_t *dst, size_t n, size_t &got, std::string &) override
    {
        got = std::min(n, bytes_.size() - pos_);
        if (got)
            std::memcpy(dst, bytes_.data() + pos_, got);
        pos_ += got;
        return true;
    }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

// A table file, read from its start.
class TFlatFileSource : public TFlatImageSource {
public:
    TFlatFileSource() = default;
    ~TFlatFileSource() override;
    TFlatFileSource(const TFlatFileSource &) = delete;
    TFlatFileSource &operator=(const TFlatFileSource &) = delete;
    bool Open(const std::string &fileName, std::string &reason);
    uint64_t Size() const override { return size_; }
    bool Read(uint8_t *dst, size_t n, size_t &got, std::string &reason) override;
    int MappableFd() const override { return fd_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Memory holding a whole table image, mapped directly (so it goes back to the system as
// soon as the table is closed) and never moved while records are read from it.
class TFlatImageBytes {
public:
    TFlatImageBytes() = default;
    ~TFlatImageBytes() { Release(); }
    TFlatImageBytes(const TFlatImageBytes &) = delete;
    TFlatImageBytes &operator=(const TFlatImageBytes &) = delete;
    // Maps the whole regular file open at `fd`, read only, its pages shared with the page
    // cache; false (nothing held) where the mapping cannot be kept safe from another
    // program cutting the file short, and the file is to be read instead.
    bool MapFile(int fd);
    bool Mapped() const { return slot_ >= 0; }
    // Makes the bytes this process's own and writable (a mapped file is copied).
    uint8_t *MakePrivate();
    // Of a mapped file, lets go of the pages this process holds of bytes [from, to) (whole
    // pages inside it; all of them without a range); they stay in the page cache and are
    // mapped again when read. Nothing for bytes of the process's own.
    void LetGoOfPages() noexcept { LetGoOfPages(0, mapped_); }
    void LetGoOfPages(size_t from, size_t to) noexcept;
    // Of a mapped file, maps the pages of bytes [from, to) in one go ahead of their reading
    // (a hint: nothing happens where the system cannot).
    void MapAhead(size_t from, size_t to) noexcept;
    // Room for `size` bytes (what was held goes); throws std::bad_alloc.
    uint8_t *Allocate(size_t size);
    // Room for `size` bytes keeping the first `keep` (the memory may move).
    uint8_t *Grow(size_t size, size_t keep);
    // Gives back the pages behind the first `size` bytes.
    void Trim(size_t size) noexcept;
    void Release() noexcept;
    uint8_t *Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    void ReleaseMapping() noexcept;
    uint8_t *data_ = nullptr;
    size_t size_ = 0, mapped_ = 0;
    int slot_ = -1; // of a mapped file
};

// Takes a table image as it is produced.
class TFlatImageSink {
public:
    virtual ~TFlatImageSink() = default;
    virtual bool Append(const uint8_t *data, size_t size) = 0;
    // Rewrites bytes already appended.
    virtual bool Patch(uint64_t offset, const uint8_t *data, size_t size) = 0;
    // True when Append only starts the taking of `data` (in the background) and may read
    // it until the next Append, Patch or Settle returns; the producer then fills another
    // buffer meanwhile. A failure shows in one of those later calls.
    virtual bool TakesInBackground() const { return false; }
    // Waits until every piece handed over is taken; false (with the reason) when taking
    // any of them failed.
    virtual bool Settle() { return true; }
    std::string Reason; // why the last call failed
};

// A table image kept in memory with the layout its stored records are read by. Stores
// share it: a table that takes another's records as they are keeps the image alive.
struct TFlatStoredImage {
    TFlatImageBytes Bytes;
    TFlatStoredLayout Layout;
};

class TFlatCursor {
public:
    TFlatCursor();
    ~TFlatCursor();
    TFlatCursor(const TFlatCursor &) = delete;
    TFlatCursor &operator=(const TFlatCursor &) = delete;

    // Record list, in store order. Entries keep their address until Clear.
    std::vector<TFlatRecEntry *> Records;
    std::vector<TFlatField> Fields;
    uint32_t RecordSize = 0;
    std::string Description; // field description text as read or built
    bool PartialOpen = false;
    std::string Password;
    uint8_t KeyBlock[40] = {};
    bool Protected = false;
    std::string CounterFieldName;
    int CounterField = -1; // index into Fields, -1 when none
    int32_t Counter = 0;
    std::string NotesText;

    std::function<void(void **userData)> OnReleaseRecord;
    std::function<void(int percent)> OnProgress;

    // Moves on with every change of the record list, of a record's values or of the
    // fields; what was derived from the records at one generation holds until the next.
    uint64_t Generation = 0;

    // The records whose text field `field` (an index into Fields) holds the text `value`
    // (compared as texts, whatever the encoding of the stored bytes), in store order, whatever their status (callers skip deleted ones as they would in
    // Records). A lookup of that one field backs it: built on first use, kept through
    // inserts, deletes, commits and updates that leave the field's text alone, built
    // again after any other change; asking again costs only the records found. Null
    // when the field is no text field. The list is the store's, valid until the next call.
    const std::vector<TFlatRecEntry *> *RecordsWithText(int field, std::string_view value);
    // The same into the caller's `out`; false (and `out` empty) when the field is no text field.
    bool RecordsWithText(int field, std::string_view value, std::vector<TFlatRecEntry *> &out);
    // Consecutive positions in Records: a text's records mostly come together (a disc's
    // files), so a few runs stand for a list of every record, at a fraction of its memory.
    struct TRecordRun {
        uint32_t From = 0, Count = 0;
    };
    // The same as runs of positions in Records, rising (none when no record reads it);
    // null when the field is no text field. The list is the store's, valid until the
    // next call or change.
    const std::vector<TRecordRun> *RunsWithText(int field, std::string_view value);

    int FieldCount() const { return int(Fields.size()); }
    int RecordCount() const { return int(Records.size()); }
    TFlatRecEntry *Entry(int index) const { return Records[size_t(index)]; }
    const TFlatField *FindField(std::string_view name) const;
    int FindFieldIndex(std::string_view name) const;

    void Clear(bool withFields);

    // Sets up the fields from a description text of `fieldCount` entries; false and an
    // error text when the description is malformed.
    bool ParseDescription(std::string_view text, uint32_t fieldCount, std::string &error);

    bool PutRecord(const TFlatRecord &buffer, TFlatRecEntry *entry, std::string &error,
                   TFlatRecEntry **added = nullptr);
    // Appends a copy of `record` (not empty), as PutRecord(record, nullptr, ...) does; the
    // copy lives in the store's record memory, like the records read (a bulk copy).
    TFlatRecEntry *AppendCopy(const TFlatRecord &record);
    // The same for a record of `from` whose fields are laid out as this store's: one
    // read in place stays so, sharing the image `from` read it from (no copy is made).
    TFlatRecEntry *AppendShared(const TFlatRecEntry &entry, const TFlatCursor &from);
    // Keeps the record as it is, so that Cancel, RevertRecord and RevertAll can bring it
    // back; a record already being edited keeps its first copy.
    void BeginEdit(TFlatRecEntry *entry);
    // The record as it was before its pending change (null when it has none).
    const TFlatRecord *PriorData(const TFlatRecEntry *entry) const;
    // A caller's data for a record: handed to OnReleaseRecord when the record goes.
    void *UserData(const TFlatRecEntry *entry) const;
    void SetUserData(TFlatRecEntry *entry, void *data);
    bool DeleteRecord(TFlatRecEntry *entry, std::string &error);
    void CommitAll();
    void RevertAll();
    // Brings back the record as it was before its edit; it is clean after, except one
    // inserted since the last commit, which stays inserted.
    void RevertRecord(TFlatRecEntry *entry);

    std::vector<const TFlatField *> ParseFieldList(std::string_view names) const;
    static int CompareValues(const TFlatRecord &a, const TFlatRecord &b, const TFlatField &field,
                             bool caseInsensitive);
    static int CompareRecords(const TFlatRecord &a, const TFlatRecord &b,
                              const std::vector<const TFlatField *> &fields, bool caseInsensitive = false);
    bool KeyViolation(const TFlatRecord &buffer, const TFlatRecEntry *posted, std::string_view keyFieldNames) const;
    // Stable sort by the fields: equal keys keep their order, so loads are repeatable.
    static void SortEntries(std::vector<TFlatRecEntry *> &entries, const std::vector<const TFlatField *> &fields,
                            bool caseInsensitive, bool descending);
    // The positions of `entries` in the order SortEntries gives them.
    static void SortPositions(const std::vector<TFlatRecEntry *> &entries, std::vector<uint32_t> &order,
                              const std::vector<const TFlatField *> &fields, bool caseInsensitive, bool descending);
    void SortRecords(std::string_view fieldNames, bool caseInsensitive);

    // The image a record of this store read in place lies in (null for any other
    // record): whoever holds it may go on reading the record after the store lets it go.
    std::shared_ptr<const TFlatStoredImage> ImageOf(const TFlatRecord &record) const { return ImageHolding(record); }

    // Bytes a record takes in the file.
    uint32_t StoredSizeOf(const TFlatRecord &record) const;
    bool ContainsEntry(const TFlatRecEntry *entry) const;

    // Writes the whole image into `image` (replacing its content). False with an error
    // text when the store holds a value that the reader would refuse; then `image` is empty.
    bool WriteImage(std::string &image, std::string &error);
    // The same, handed to `sink` in pieces produced through one reused buffer.
    bool WriteImage(TFlatImageSink &sink, std::string &error);
    // Reads an image; on failure, unless PartialOpen, the records read so far are dropped.
    // `failed` tells a rescued partial read from a clean one.
    bool ReadImage(std::string_view image, std::string &error);
    // The same, from a source read in pieces through one buffer. When the source fails,
    // ReadFailure holds its reason (and the read fails even with PartialOpen).
    bool ReadImage(TFlatImageSource &source, std::string &error);
    std::string ReadFailure;
    // The error text of the last ReadImage that was rescued by PartialOpen (empty when none).
    std::string PartialError;

    // Save to file: optional sort, then a temporary file beside the target that is flushed
    // and renamed over it. With savAutoBackup the file being replaced becomes the ".~d"
    // backup, renamed into place only after the new table is. False with an error text
    // (naming the backup when that was what failed); the table and its backup are then
    // as they were. With a commit, nothing is renamed: the flushed temporary files (the
    // table's, and the backup's) are handed to the commit, which puts them in place
    // together with the other files of the change.
    bool SaveToFile(const std::string &fileName, TFlatSaveOptions options, bool caseInsensitive,
                    std::string_view indexFieldNames, std::string &error, TFileCommit *commit = nullptr);

    // The plain image of an empty table with the given description.
    static std::string BuildEmptyImage(const std::string &description, uint32_t fieldCount);

private:
    struct TTextLookup {
        int Field = -1;
        uint64_t Generation = 0;
        size_t RecordCount = 0;
        std::unordered_map<std::string, std::vector<TRecordRun>> Map;
    };
    TTextLookup textLookup_;
    std::vector<TFlatRecEntry *> textFound_; // what the list-returning RecordsWithText gave
    // The entry of images_ a record read in place lies in (null for any other record).
    std::shared_ptr<TFlatStoredImage> ImageHolding(const TFlatRecord &record) const
    {
        if (record.IsStored())
            for (const auto &image : images_)
                if (&image->Layout == record.StoredLayout())
                    return image;
        return nullptr;
    }
    // Puts the record last in Records (just added) under its text.
    void LookUpLast(const TFlatRecord &record);
    bool TextLookupCurrent() const;
    void KeepTextLookup(); // the lookup stays valid through the change just made
    std::string_view LookupTextOf(const TFlatRecord &record) const;

    // The prior copies of the records being edited and the callers' data, by entry; both
    // are empty for a table just read, so they cost a loaded record nothing.
    std::unordered_map<const TFlatRecEntry *, TFlatRecord> priors_;
    std::unordered_map<const TFlatRecEntry *, void *> userData_;

    TFlatRecEntry *NewEntry();
    // A new entry for `data` at the end of the store, as an inserted record.
    TFlatRecEntry *Insert(TFlatRecord &&data, bool lookupCurrent);
    void Release(TFlatRecEntry *entry);
    // Reads the notes and the records in place from `body` (`size` bytes of the image).
    // `inCounterOrder` tells whether the records came in the order of the counter field
    // (true when there is none).
    bool ReadBody(const uint8_t *body, size_t size, uint32_t declared, std::string &error, bool &inCounterOrder);
    // After a pass over every record: the pages of the mapped images go back to the page
    // cache, so that the process keeps in memory only what it reads from then on.
    void LetGoOfImagePages() noexcept;
    void Progress(int &last, uint64_t done, uint64_t total);
    // Progress(last, done, total) for every `done` in (from, to], `last` being that of `from`.
    void ProgressOver(int &last, uint64_t from, uint64_t to, uint64_t total);

    // Entries live in fixed blocks that never move, so a pointer stays valid until Clear
    // and whether an entry belongs to this store is answered from the block addresses
    // alone (a record is edited or deleted by its entry, on every post).
    static constexpr size_t EntryBlockSize = 512;
    std::vector<std::unique_ptr<TFlatRecEntry[]>> entryBlocks_;
    // The blocks of the records copied in bulk.
    TFlatRecordArena arena_;
    // The images the stored records lie in: the one read (first), then those shared
    // with other stores.
    std::vector<std::shared_ptr<TFlatStoredImage>> images_;
    // (start address, block number), sorted by address.
    std::vector<std::pair<uintptr_t, size_t>> blockOrder_;
    size_t entryCount_ = 0;
    // Field positions by upper-cased name, built once with the fields; the first of
    // names equal but for letter case wins.
    std::unordered_map<std::string, int> fieldIndex_;
};

// Description entry of one field for a framework-side definition: the letter and size.
// `code` is the engine type; for SmallStr `size` is its character count, for String its
// declared maximum. Unknown types are described as "s" without a size.
std::string FlatDescribeField(std::string_view name, uint8_t code, uint32_t size);

// The encoded size of the records from which a save encodes them on helper threads;
// below it the calling thread does it all, as starting threads would cost more than they
// save. Tests lower or raise it to compare both ways.
extern uint64_t FlatSaveThreadsFrom;

// The number of records from which a view with an index, refreshed over all the records
// of its store, keeps the store sorted once (until the records change) instead of sorting
// what it shows each time. Tests lower or raise it to compare both ways.
extern size_t FlatSortOnceFrom;

// Whether a table copied from another of the same layout (CopyFromDataSet) takes the
// records straight into its store when no insert and no post of them would reach anyone.
// Tests turn it off to compare with the record-by-record copy.
extern bool FlatCopyInBulk;

// The name of a table file's backup: the extension replaced by ".~d".
std::string FlatBackupName(const std::string &fileName);

// The process-wide session: known passwords, the password prompt and the retry count.
class TFlatDatabase;
class TFlatSession {
public:
    TFlatSession();
    TFlatSession(const TFlatSession &) = delete;
    TFlatSession &operator=(const TFlatSession &) = delete;

    std::vector<TFlatDatabase *> Databases;
    // Asked for a password; answers false when the user cancels. Without a handler nobody
    // is asked and the open fails.
    std::function<bool(std::string &password)> OnPassword;
    // Shows a notice to the user (the wrong-password retry and partial-open messages).
    std::function<void(const std::string &text)> OnNotice;
    int RetryCount = 3;

    void AddPassword(const std::string &password);
    void RemovePassword(const std::string &password);
    bool HasPassword(const std::string &password) const;
    const std::vector<std::string> &Passwords() const { return passwords_; }

    // The key check of a protected file: on success the key block holds the deciphered
    // bytes (whose first 38 are the body key) and `storePassword` the password that worked.
    // A password typed here (UTF-8) also tries its Windows-1250 form.
    bool TryKeyBlock(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword);
    bool CheckTablePassword(uint8_t keyBlock[40], std::string &storePassword);
    bool AskPassword(std::string &password);
    void Notice(const std::string &text);

    TSapphire Cipher;

private:
    bool TryKeyBytes(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword);
    std::vector<std::string> passwords_; // sorted ignoring case, no duplicates
};

TFlatSession &FlatSession();
