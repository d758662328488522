#pragma once
// Helpers the table engine's source files share among themselves and with no one else.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

#include "storage/FlatTbl.h"

namespace FlatTblInternal {

// A table file that could not be read (as opposed to one whose bytes are refused).
class EFlatReadFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline TFieldType FrameworkType(const TFlatField &f)
{
    switch (f.TypeCode) {
    case fftSmallInt: return ftSmallint;
    case fftInteger: return ftInteger;
    case fftInt64: return ftLargeint;
    case fftBoolean: return ftBoolean;
    case fftDouble: return ftFloat;
    case fftCurrency: return ftCurrency;
    case fftDate: return ftDate;
    case fftTime: return ftTime;
    case fftDateTime: return ftDateTime;
    case fftAutoInc: return ftAutoInc;
    case fftSmallStr:
    case fftString: return ftString;
    case fftBlob: return ftBlob;
    case fftMemo: return ftMemo;
    case fftFmtMemo: return ftFmtMemo;
    case fftGraphic: return ftGraphic;
    default: return ftUnknown;
    }
}

inline int64_t ToInt(const TVariant &v)
{
    if (auto i = std::get_if<int64_t>(&v)) return *i;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto d = std::get_if<double>(&v)) return std::isfinite(*d) ? int64_t(std::llround(*d)) : 0;
    if (auto s = std::get_if<std::string>(&v)) {
        char *end = nullptr;
        const long long x = std::strtoll(s->c_str(), &end, 10);
        return (end && *end == '\0' && !s->empty()) ? x : 0;
    }
    return 0;
}

inline double ToDouble(const TVariant &v)
{
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto i = std::get_if<int64_t>(&v)) return double(*i);
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto s = std::get_if<std::string>(&v)) {
        char *end = nullptr;
        const double x = std::strtod(s->c_str(), &end);
        return (end && *end == '\0' && !s->empty()) ? x : 0;
    }
    return 0;
}

// Today's date (with the time of day when `withTime`) as the framework keeps dates.
TDateTime EncodeNow(bool withTime);

inline uint32_t GetU32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void PutU32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

} // namespace FlatTblInternal

// ---------------------------------------------------------------------------------------
// Filter conditions read the entry under test straight from the store.

class TFlatViewFilterHost : public TFlatFilterHost {
public:
    explicit TFlatViewFilterHost(TFlatDataset *ds) : ds_(ds) {}
    TFlatRecEntry *Entry = nullptr;

    const TFlatCursor &Store() const { return *ds_->Cursor(); }
    int FieldIndex(const std::string &name) const override { return Store().FindFieldIndex(name); }
    int FieldTypeCode(int index) const override { return Store().Fields[size_t(index)].TypeCode; }
    TVariant FieldValue(int index) override
    {
        if (!Entry || !Entry->Data)
            return {};
        bool notNull = false;
        TVariant v = ds_->ReadValue(Entry->Data, Store().Fields[size_t(index)], ftUnknown, notNull);
        return notNull ? v : TVariant{};
    }
    int CompareFields(int a, int b, bool caseInsensitive) override
    {
        const TVariant x = FieldValue(a), y = FieldValue(b);
        if (VarIsNull(x) || VarIsNull(y))
            return VarIsNull(x) == VarIsNull(y) ? 0 : (VarIsNull(x) ? -1 : 1);
        const auto *sx = std::get_if<std::string>(&x), *sy = std::get_if<std::string>(&y);
        if (sx && sy)
            return FlatCompareText(*sx, *sy, caseInsensitive);
        const double dx = FlatTblInternal::ToDouble(x), dy = FlatTblInternal::ToDouble(y);
        return dx < dy ? -1 : (dx > dy ? 1 : 0);
    }
    int CompareWithText(int index, const std::string &constant, bool caseInsensitive) override
    {
        if (!Entry || !Entry->Data)
            return -1;
        const TFlatField &f = Store().Fields[size_t(index)];
        // The constant is converted once into a record of its own and compared by the
        // engine's rules for the field's type.
        auto key = std::make_pair(index, constant);
        auto it = constants_.find(key);
        if (it == constants_.end()) {
            TFlatRecord rec = TFlatRecord::Make(Store().RecordSize);
            ds_->WriteText(rec, f, constant, ftUnknown);
            it = constants_.emplace(key, std::move(rec)).first;
        }
        return TFlatCursor::CompareValues(Entry->Data, it->second, f, caseInsensitive);
    }
    void Reset() { constants_.clear(); }

private:
    TFlatDataset *ds_;
    std::map<std::pair<int, std::string>, TFlatRecord> constants_;
};
