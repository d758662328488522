#pragma once
// TExMemoryData: a data set whose records live only in memory - the scan
// buffer, the result table of the search over all catalogues and the report
// source. Records keep insertion order; filtering goes only through
// OnFilterRecord; bookmarks are record IDs.
#include "storage/DataSet.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TExMemoryData : public TDataSet {
public:
    TExMemoryData();
    ~TExMemoryData() override;

    // Room reserved in advance for this many records.
    int Capacity() const { return capacity_; }
    void SetCapacity(int value);

    // Frees every record of an open table (IDs start again); nothing on a
    // closed one.
    void EmptyTable();
    // Takes the field definitions of `source` (types this table cannot hold
    // are dropped) and makes persistent fields of them; the table must be
    // closed. With no source, the table is left without fields.
    void CopyStructure(TDataSet *source);
    // Copies the records of `source` in (all from its first when recordCount
    // is below 1, else up to recordCount from its current record), by field
    // name; unless appendData, the table takes the source's structure first.
    // Answers the number of records copied; ends on the first record.
    int LoadFromDataSet(TDataSet &source, int recordCount, bool appendData);
    // Appends this table's records to `dest` by field name (all from the first
    // when recordCount is below 1, else up to recordCount from the current
    // one). Answers the number copied; dest ends on its first record.
    int SaveToDataSet(TDataSet &dest, int recordCount);
    // Appends every record of this table (those a filter hides stay) to `dest`
    // as SaveToDataSet does, each record leaving this table once `dest` holds
    // it, so the two never hold all the records at once. Answers the number
    // moved; dest ends on its first record. When a record cannot be copied, the
    // copy stops there with that record and those after it still here, and
    // the error goes on; TakeBack then gives the table its moved records again.
    int MoveToDataSet(TDataSet &dest);
    // Records the last MoveToDataSet moved out (until EmptyTable, Close or the
    // next move or take-back).
    int MovedCount() const { return moved_; }
    // Puts the moved records back in front of those still here, each with its
    // own ID, read from `source` from its current record on: the next
    // MovedCount() records for which `belongs` (when given) says yes, their
    // values converted into this table's fields by name. `source` is not
    // changed. Answers the number put back; nothing changes on an error.
    int TakeBack(TDataSet &source, const std::function<bool()> &belongs);

    // Whether SetFieldValues may stand in for setting `fields` one at a time:
    // nothing watches single fields (controls disabled, no calculated fields,
    // no OnValidate or OnChange handler, no read-only field).
    bool CanSetFieldValues(const std::vector<TField *> &fields) const;
    // Sets each of `fields` of the record being inserted or edited to its value
    // in `values` (taken; they are left unspecified), with the conversions and
    // errors of setting them one at a time. The fields before a failing one stay
    // set, as they would one at a time.
    void SetFieldValues(const std::vector<TField *> &fields, std::vector<TVariant> &values);
    // Appends a record whose `fields` hold `values` and whose other fields are
    // empty, storing what Append, SetFieldValues and Post would store, without
    // their steps: for a table nothing watches (no handler of an insert, a post or
    // a scroll, no listener, no filter, no auto-increment field, and what
    // CanSetFieldValues asks). Answers false, having changed nothing, where any of
    // that fails or a value would not convert; the caller then takes the steps.
    // The current record is not read again: Resync() after a run of appends shows
    // the last one, as Post would have.
    bool AppendValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values);

    void SetFiltered(bool value) override;
    void SetOnFilterRecord(TFilterRecordEvent handler) override;
    bool BookmarkValid(const TBookmark &bookmark) override;
    int CompareBookmarks(const TBookmark &a, const TBookmark &b) override;

    // The ID the next record will get is one above this; the counter starts
    // at the lowest signed 32-bit value.
    std::int32_t LastID() const { return lastID_; }
    // ID of the current record (0 when none).
    std::int32_t CurrentID();
    std::int32_t AutoIncValue() const { return autoInc_; }

protected:
    // A record's bytes lie in one of the table's chunks: a presence bit per
    // field, then the value of each present field (texts with their length in
    // 7-bit groups).
    struct Record {
        std::int32_t ID;
        std::uint32_t size;
        std::uint32_t chunk;
        std::uint32_t offset;
    };
    struct Chunk {
        std::unique_ptr<char[]> bytes;
        std::uint32_t used = 0, capacity = 0;
        std::uint32_t live = 0;  // records whose bytes lie here
    };
    struct Buffer;

    std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override;
    TGetResult GetRecord(TRecordBuffer &buffer, TGetMode mode, bool doCheck) override;
    void InternalInitRecord(TRecordBuffer &buffer) override;
    void ClearCalcFields(TRecordBuffer &buffer) override;
    void InternalFirst() override;
    void InternalLast() override;
    TBookmark GetBookmarkData(const TRecordBuffer &buffer) override;
    void SetBookmarkData(TRecordBuffer &buffer, const TBookmark &bookmark) override;
    TBookmarkFlag GetBookmarkFlag(const TRecordBuffer &buffer) override;
    void SetBookmarkFlag(TRecordBuffer &buffer, TBookmarkFlag flag) override;
    void InternalGotoBookmark(const TBookmark &bookmark) override;
    void InternalSetToRecord(TRecordBuffer &buffer) override;
    void OpenCursor(bool infoQuery) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() const override { return open_; }
    void InternalPost() override;
    void InternalDelete() override;
    int GetRecordCount() override;
    int GetRecNo() override;
    void DoSetRecNo(int value) override;
    bool GetFieldData(TField *field, TVariant &value) override;
    void SetFieldData(TField *field, const TVariant &value) override;
    bool IsSequenced() override { return !Filtered(); }

private:
    Buffer *ActiveRecordBuffer();
    void RecordToBuffer(const Record &record, int position, Buffer &buffer);
    void EncodeRecord(const Buffer &buffer, std::string &out) const;
    // The same from values per field definition; with `set`, only the fields it
    // marks may be present.
    void EncodeValues(const std::vector<TVariant> &values, const std::vector<char> *set, std::string &out) const;
    // Stores `bytes` as the data of a record of `id`.
    Record Store(std::int32_t id, const std::string &bytes);
    // Gives up the bytes of a record that leaves the table; a chunk with no
    // record left is freed (the newest one is kept for the next records).
    void Release(const Record &record);
    void ClearRecords();
    bool AcceptedAt(int position);
    int IndexOfID(std::int32_t id) const;
    void SetAutoIncFields(Buffer &buffer);
    void CheckFieldTypes();

    std::deque<Record> records_;
    std::vector<Chunk> chunks_;
    std::string encoded_;              // reused by every post
    std::vector<TVariant> appendValues_; // AppendValues' converted values, kept for their room
    std::vector<char> appendSet_;
    // IDs of the moved records in their order, as runs of consecutive IDs
    // (first ID, count): a walk's records take one run.
    std::vector<std::pair<std::int32_t, std::int32_t>> movedIDs_;
    int moved_ = 0;
    void ForgetMoved();
    Buffer *moveBuffer_ = nullptr;     // the record being moved, read by its fields
    std::vector<TFieldType> types_;   // per field definition
    int position_ = -1;
    std::int32_t lastID_;
    std::int32_t autoInc_ = 1;
    int capacity_ = 0;
    bool open_ = false;
    Buffer *filterBuffer_ = nullptr;
    std::unique_ptr<Buffer> filterScratch_;
};
