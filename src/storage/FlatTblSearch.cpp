// Finding records in a data set: key buffers, keyed search, Locate, Lookup and the filtered record search.
#include "storage/FlatTbl.h"

#include <algorithm>

#include "storage/FlatTblInternal.h"
#include "util/BaseDateTime.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

namespace {

std::vector<std::string> SplitTabs(const std::string &text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        const size_t tab = text.find('\t', pos);
        out.push_back(text.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos)
            break;
        pos = tab + 1;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Keys and searching

TFlatDataset::TKeyBuffer TFlatDataset::SetupKey(const std::string &names) const
{
    TKeyBuffer key;
    if (!shared_)
        return key;
    TFlatCursor &store = shared_->Cursor;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t semi = names.find(';', pos);
        if (semi == std::string::npos)
            semi = names.size();
        std::string name = names.substr(pos, semi - pos);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        pos = semi + 1;
        if (name.empty())
            continue;
        TField *field = FindField(name);
        if (field && field->Calculated())
            DatabaseError(SCalcOrBlobKeyFields);
        const int index = store.FindFieldIndex(name);
        if (index < 0)
            continue;
        TFlatField &f = store.Fields[size_t(index)];
        if (IsFlatBlobType(f.TypeCode))
            DatabaseError(SCalcOrBlobKeyFields);
        if (field && f.TypeCode == fftSmallStr)
            f.Numeric = field->Alignment == taRightJustify;
        key.Fields.push_back(&f);
    }
    key.UsedFields = int(key.Fields.size());
    key.Rec = TFlatRecord::Make(store.RecordSize);
    return key;
}

void TFlatDataset::WriteText(TFlatRecord &rec, const TFlatField &f, const std::string &text, TFieldType)
{
    const TFlatCursor &store = shared_->Cursor;
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftAutoInc:
        WriteValue(rec, f, int64_t(ToInt(text)), ftLargeint);
        break;
    case fftBoolean: {
        const std::string up = FlatUpperCase(text);
        const bool b = up == "TRUE" || up == "YES" || up == "T" || up == "1" || up == "\xC4\xC0";
        WriteValue(rec, f, b, ftBoolean);
        break;
    }
    case fftDouble:
    case fftCurrency:
        WriteValue(rec, f, ToDouble(text), ftFloat);
        break;
    case fftDate:
    case fftTime:
    case fftDateTime: {
        TDateTime dt = 0;
        if (!TextToDateTime(text, FrameworkType(f), dt))
            dt = 0;
        WriteValue(rec, f, dt, FrameworkType(f));
        break;
    }
    case fftSmallStr:
    case fftString:
        WriteValue(rec, f, std::string(CutToCharWidth(text, f.MaxLength)), ftString);
        break;
    case fftMemo:
    case fftFmtMemo:
        rec.SetVar(store.Fields, store.RecordSize, f, text);
        break;
    default:
        break;
    }
}

void TFlatDataset::FillKey(TKeyBuffer &key, const std::string &tabValues)
{
    if (!key.Rec)
        return;
    key.Rec = TFlatRecord::Make(shared_->Cursor.RecordSize);
    const auto values = SplitTabs(tabValues);
    key.UsedFields = int(std::min(values.size(), key.Fields.size()));
    for (int i = 0; i < key.UsedFields; ++i)
        WriteText(key.Rec, *key.Fields[size_t(i)], values[size_t(i)], ftUnknown);
}

int TFlatDataset::SearchKey(const TKeyBuffer &key) const
{
    if (view_.empty() || key.UsedFields == 0)
        return -1;
    const std::vector<const TFlatField *> fields(key.Fields.begin(), key.Fields.begin() + key.UsedFields);
    bool binary = sorted_ && !sortOptions_.Contains(vsoCaseInsensitive) && fields.size() <= indexKey_.Fields.size();
    for (size_t i = 0; binary && i < fields.size(); ++i)
        binary = fields[i] == indexKey_.Fields[i];
    if (binary) {
        const bool desc = sortOptions_.Contains(vsoDescendSort);
        // The first entry that is not before the key, so equal keys are found at their first.
        auto it = std::lower_bound(view_.begin(), view_.end(), &key, [&](TFlatRecEntry *e, const TKeyBuffer *k) {
            const int c = TFlatCursor::CompareRecords(e->Data, k->Rec, fields);
            return desc ? c > 0 : c < 0;
        });
        if (it != view_.end() && TFlatCursor::CompareRecords((*it)->Data, key.Rec, fields) == 0)
            return int(it - view_.begin());
        return -1;
    }
    for (size_t i = 0; i < view_.size(); ++i)
        if (view_[i]->Data && TFlatCursor::CompareRecords(view_[i]->Data, key.Rec, fields) == 0)
            return int(i);
    return -1;
}

void TFlatDataset::GoToIndex(int index)
{
    DoBeforeScroll();
    pos_ = index;
    Resync();
    DoAfterScroll();
}

bool TFlatDataset::FindKey(const std::string &fieldNames, const std::string &values)
{
    CheckBrowseMode();
    TKeyBuffer key = SetupKey(fieldNames);
    FillKey(key, values);
    const int index = SearchKey(key);
    if (index < 0)
        return false;
    GoToIndex(index);
    return true;
}

bool TFlatDataset::Locate(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                          TLocateOptions options)
{
    CheckBrowseMode();
    if (view_.empty() || keyFields.empty() || keyValues.empty())
        return false;
    if (keyValues.size() == 1 && VarIsNull(keyValues[0]))
        return false;
    const std::vector<TField *> fields = GetFieldList(keyFields);
    if (fields.empty())
        return false;
    int found = -1;
    if (options.Empty()) {
        TKeyBuffer key = SetupKey(keyFields);
        key.Rec = TFlatRecord::Make(shared_->Cursor.RecordSize);
        key.UsedFields = int(std::min(key.Fields.size(), keyValues.size()));
        for (int i = 0; i < key.UsedFields; ++i) {
            const TVariant &v = keyValues[size_t(i)];
            const TFlatField &f = *key.Fields[size_t(i)];
            if (auto s = std::get_if<std::string>(&v))
                WriteText(key.Rec, f, *s, ftUnknown);
            else
                WriteValue(key.Rec, f, v, FrameworkType(f));
        }
        found = SearchKey(key);
    } else {
        const bool ci = options.Contains(loCaseInsensitive), partial = options.Contains(loPartialKey);
        struct Key {
            TField *field;
            const TFlatField *store;
            TVariant value;
            std::string text;
        };
        std::vector<Key> keys;
        for (size_t i = 0; i < fields.size(); ++i) {
            const TVariant v = i < keyValues.size() ? keyValues[i] : TVariant{};
            const TFlatField *sf = StoreField(fields[i]);
            const bool isText = sf && (sf->TypeCode == fftSmallStr || sf->TypeCode == fftString);
            keys.push_back({fields[i], sf, v, isText && !VarIsNull(v) ? DecodeStoredText(VarToStr(v)) : std::string()});
        }
        const TDataSetState previous = SetTempState(dsFilter);
        std::string scratch;
        try {
            for (size_t i = 0; i < view_.size() && found < 0; ++i) {
                TFlatRecEntry *e = view_[i];
                if (!e->Data)
                    continue;
                filterEntry_ = e;
                bool match = true;
                for (const Key &k : keys) {
                    if (VarIsNull(k.value)) {
                        match = false;
                        break;
                    }
                    if (k.store && (k.store->TypeCode == fftSmallStr || k.store->TypeCode == fftString)) {
                        // The key is the program's text; so is the value it meets.
                        const std::string_view stored = k.store->TypeCode == fftSmallStr
                                                            ? FlatGetSmallStr(e->Data, *k.store)
                                                            : e->Data.Var(*k.store);
                        if (stored.empty()) { // NULL never matches
                            match = false;
                            break;
                        }
                        if (partial) {
                            // The key's length counts in the decoded text.
                            const std::string_view text = StoredTextView(stored, scratch);
                            match = text.size() >= k.text.size() &&
                                    FlatCompareText(text.substr(0, k.text.size()), k.text, ci) == 0;
                        } else {
                            match = FlatCompareText(stored, k.text, ci) == 0; // decodes as it compares
                        }
                    } else {
                        const TVariant v = k.field->Value();
                        match = !VarIsNull(v) && VarEquals(v, k.field->Canonical(k.value));
                    }
                    if (!match)
                        break;
                }
                if (match)
                    found = int(i);
            }
        } catch (...) {
            filterEntry_ = nullptr;
            RestoreState(previous);
            throw;
        }
        filterEntry_ = nullptr;
        RestoreState(previous);
    }
    if (found < 0)
        return false;
    GoToIndex(found);
    return true;
}

std::vector<TVariant> TFlatDataset::Lookup(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                                           const std::string &resultFields)
{
    CheckBrowseMode();
    const std::vector<TField *> results = GetFieldList(resultFields);
    std::vector<TVariant> answer(results.empty() ? 1 : results.size());
    if (view_.empty() || keyFields.empty() || keyValues.empty() ||
        (keyValues.size() == 1 && VarIsNull(keyValues[0])))
        return answer;
    TKeyBuffer key = SetupKey(keyFields);
    key.UsedFields = int(std::min(key.Fields.size(), keyValues.size()));
    for (int i = 0; i < key.UsedFields; ++i) {
        const TVariant &v = keyValues[size_t(i)];
        if (auto s = std::get_if<std::string>(&v))
            WriteText(key.Rec, *key.Fields[size_t(i)], *s, ftUnknown);
        else
            WriteValue(key.Rec, *key.Fields[size_t(i)], v, FrameworkType(*key.Fields[size_t(i)]));
    }
    const int index = SearchKey(key);
    if (index < 0)
        return answer;
    TFlatBuffer buffer;
    buffer.Rec = view_[size_t(index)]->Data;
    buffer.Entry = view_[size_t(index)];
    buffer.Calc.resize(size_t(FieldCount()));
    GetCalcFields(buffer);
    const TDataSetState previous = SetTempState(dsFilter);
    filterEntry_ = buffer.Entry;
    filterBuffer_ = &buffer;
    try {
        for (size_t i = 0; i < results.size(); ++i)
            answer[i] = results[i]->Value();
    } catch (...) {
        filterEntry_ = nullptr;
        filterBuffer_ = nullptr;
        RestoreState(previous);
        throw;
    }
    filterEntry_ = nullptr;
    filterBuffer_ = nullptr;
    RestoreState(previous);
    return answer;
}

bool TFlatDataset::FindRecord(bool restart, bool goForward)
{
    CheckBrowseMode();
    if (Filtered() || (!onFilterRecord_ && conditions_.empty()))
        return TDataSet::FindRecord(restart, goForward);
    if (!conditions_.empty()) {
        if (!filterHost_)
            filterHost_ = std::make_unique<TFlatViewFilterHost>(this);
        filterHost_->Reset();
        ResolveConditions(conditions_, *filterHost_);
    }
    const bool caseInsensitive = FilterOptions().Contains(foCaseInsensitive);
    int i = restart ? (goForward ? 0 : int(view_.size()) - 1) : pos_ + (goForward ? 1 : -1);
    if (!restart && !IsEmpty()) {
        InternalSetToRecord(*ActiveBuffer());
        i = pos_ + (goForward ? 1 : -1);
    }
    const TDataSetState previous = SetTempState(dsFilter);
    int found = -1;
    try {
        for (; i >= 0 && size_t(i) < view_.size(); i += goForward ? 1 : -1) {
            if (!conditions_.empty()) {
                filterHost_->Entry = view_[size_t(i)];
                if (!MeetsConditions(conditions_, *filterHost_, caseInsensitive))
                    continue;
            }
            if (Accepts(view_[size_t(i)])) {
                found = i;
                break;
            }
        }
    } catch (...) {
        filterEntry_ = nullptr;
        RestoreState(previous);
        throw;
    }
    filterEntry_ = nullptr;
    RestoreState(previous);
    if (found < 0)
        return false;
    GoToIndex(found);
    return true;
}
