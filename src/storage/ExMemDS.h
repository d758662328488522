#pragma once
// TExMemoryData: a data set whose records live only in memory - the scan
// buffer, the result table of the search over all catalogues and the report
// source. Records keep insertion order; filtering goes only through
// OnFilterRecord; bookmarks are record IDs.
#include "storage/DataSet.h"

#include <cstdint>
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
    struct Record {
        std::int32_t ID;
        std::string data;  // per field: presence byte, then the value
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
    std::string EncodeRecord(const Buffer &buffer) const;
    bool AcceptedAt(int position);
    int IndexOfID(std::int32_t id) const;
    void SetAutoIncFields(Buffer &buffer);
    void CheckFieldTypes();

    std::vector<Record> records_;
    std::vector<TFieldType> types_;   // per field definition
    int position_ = -1;
    std::int32_t lastID_;
    std::int32_t autoInc_ = 1;
    int capacity_ = 0;
    bool open_ = false;
    Buffer *filterBuffer_ = nullptr;
    std::unique_ptr<Buffer> filterScratch_;
};
