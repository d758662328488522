// A data set's field values as read from and written to stored records, and the stored date forms.
#include "storage/FlatTbl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "storage/FlatFmt.h"
#include "storage/FlatTblInternal.h"
#include "util/BaseDateTime.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

namespace {

void LocalNow(std::tm &tm, int &ms)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    localtime_r(&t, &tm);
    ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Dates

TDateTime FlatDateToDateTime(int32_t dayNumber) { return double(int64_t(dayNumber) - DateDelta); }

int32_t FlatDateTimeToDate(TDateTime value)
{
    if (!std::isfinite(value))
        return 0;
    const double d = std::trunc(value) + DateDelta;
    return d < INT32_MIN || d > INT32_MAX ? 0 : int32_t(d);
}

TDateTime FlatMsecsToDateTime(double msecs)
{
    if (!std::isfinite(msecs) || msecs == 0.0)
        return 0.0;
    const double days = std::trunc(msecs / MSecsPerDay);
    const double rest = std::fabs(msecs - days * MSecsPerDay) / MSecsPerDay;
    const double dt = days - DateDelta;
    return dt >= 0 ? dt + rest : dt - rest;
}

double FlatDateTimeToMsecs(TDateTime value)
{
    if (!std::isfinite(value))
        return 0.0;
    const double days = std::trunc(value) + DateDelta;
    const double time = std::round(std::fabs(value - std::trunc(value)) * MSecsPerDay);
    return days * MSecsPerDay + time;
}

std::string FlatUniqueCode()
{
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static int counter = -1;
    std::tm tm{};
    int ms = 0;
    LocalNow(tm, ms);
    if (counter < 0)
        counter = tm.tm_hour * 60 + tm.tm_min;
    else if (++counter >= 3844)
        counter = 0;
    // Hours since 1 November 2000, 0:00.
    std::tm epoch{};
    epoch.tm_year = 100;
    epoch.tm_mon = 10;
    epoch.tm_mday = 1;
    epoch.tm_isdst = -1;
    std::tm day = tm;
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    day.tm_isdst = -1;
    const long days = std::lround(std::difftime(std::mktime(&day), std::mktime(&epoch)) / 86400.0);
    long hours = days * 24 + tm.tm_hour;
    if (hours >= 238328)
        hours -= 238328;
    if (hours < 0)
        hours = 0;
    const auto put = [&](std::string &s, long value, int width) {
        std::string part(size_t(width), '0');
        for (int i = width - 1; i >= 0; --i) {
            part[size_t(i)] = digits[value % 62];
            value /= 62;
        }
        s += part;
    };
    std::string code;
    put(code, hours, 3);
    put(code, tm.tm_min * 60 + tm.tm_sec, 2);
    put(code, long(ms / 10) * 1922 + counter, 3);
    return code;
}

TDateTime FlatTblInternal::EncodeNow(bool withTime)
{
    std::tm tm{};
    int ms = 0;
    LocalNow(tm, ms);
    double dt = double(DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + UnixDateDelta);
    if (withTime)
        dt += (tm.tm_hour * 3600000.0 + tm.tm_min * 60000.0 + tm.tm_sec * 1000.0 + ms) / double(MSecsPerDay);
    return dt;
}

// ---------------------------------------------------------------------------------------
// Field values

int TFlatDataset::StoreIndexOf(const TFlatCursor &store, const TField &field)
{
    // The field definitions follow the store's fields one to one, so a bound field's
    // number is its place in the store; by name only when that place holds another.
    const int no = field.FieldNo();
    if (no > 0 && size_t(no) <= store.Fields.size() &&
        FlatCompareText(store.Fields[size_t(no - 1)].Name, field.FieldName(), true) == 0)
        return no - 1;
    return store.FindFieldIndex(field.FieldName());
}

const TFlatField *TFlatDataset::StoreField(const TField *field) const
{
    if (!shared_ || field->Calculated() || field->Offset < 0 ||
        size_t(field->Offset) >= shared_->Cursor.Fields.size())
        return nullptr;
    return &shared_->Cursor.Fields[size_t(field->Offset)];
}

const TFlatRecEntry *TFlatDataset::BrowseEntry()
{
    if (State() != dsBrowse)
        return nullptr;
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    return b && b->Rec ? b->Entry : nullptr;
}

const TFlatRecord *TFlatDataset::BrowseRecord()
{
    if (State() != dsBrowse)
        return nullptr;
    auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
    return b && b->Rec ? &b->Rec : nullptr;
}

const TFlatRecord *TFlatDataset::RecordForState(TFlatBuffer *&calcOwner)
{
    calcOwner = nullptr;
    switch (State()) {
    case dsBrowse:
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsCurValue:
    case dsInternalCalc: {
        auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
        calcOwner = b;
        return b ? &b->Rec : nullptr;
    }
    case dsCalcFields: {
        auto *b = static_cast<TFlatBuffer *>(CalcBuffer());
        calcOwner = b;
        return b ? &b->Rec : nullptr;
    }
    case dsSetKey:
        return setKey_ ? &setKey_->Rec : nullptr;
    case dsFilter:
        calcOwner = filterBuffer_;
        return filterEntry_ && filterEntry_->Data ? &filterEntry_->Data : nullptr;
    case dsOldValue: {
        auto *b = static_cast<TFlatBuffer *>(ActiveBuffer());
        calcOwner = b;
        if (!b || !b->Entry)
            return nullptr;
        if (const TFlatRecord *prior = shared_->Cursor.PriorData(b->Entry))
            return prior;
        return b->Entry->Data ? &b->Entry->Data : nullptr;
    }
    default:
        return nullptr;
    }
}

TVariant TFlatDataset::ReadValue(const TFlatRecord &rec, const TFlatField &f, TFieldType, bool &notNull) const
{
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftInteger:
    case fftAutoInc:
        notNull = true;
        return FlatGetInt(rec, f);
    case fftInt64: {
        const int64_t v = FlatGetInt(rec, f);
        notNull = v != 0;
        return v;
    }
    case fftBoolean:
        notNull = true;
        return FlatGetInt(rec, f) != 0;
    case fftDouble:
    case fftCurrency:
        notNull = true;
        return FlatGetFloat(rec, f);
    case fftDate: {
        const int64_t v = FlatGetInt(rec, f);
        notNull = v != 0;
        return FlatDateToDateTime(int32_t(v));
    }
    case fftTime:
        notNull = true;
        return double(FlatGetInt(rec, f)) / MSecsPerDay;
    case fftDateTime: {
        const double ms = FlatGetFloat(rec, f);
        uint64_t bits;
        std::memcpy(&bits, &ms, 8);
        notNull = bits != 0;
        return FlatMsecsToDateTime(ms);
    }
    case fftSmallStr:
    case fftString:
    case fftBlob:
    case fftMemo:
    case fftFmtMemo:
    case fftGraphic: {
        const std::string_view s = FlatGetBytes(rec, f);
        notNull = !s.empty();
        return std::string(s);
    }
    default:
        notNull = false;
        return {};
    }
}

const TFlatField *TFlatDataset::ReadableField(const TFlatRecord *rec, const TField *field)
{
    if (!rec || !*rec)
        return nullptr;
    if (view_.empty() && State() != dsInsert && State() != dsFilter && State() != dsSetKey)
        return nullptr;
    return StoreField(field);
}

bool TFlatDataset::GetFieldData(TField *field, TVariant &value)
{
    value = TVariant{};
    TFlatBuffer *calcOwner = nullptr;
    const TFlatRecord *rec = RecordForState(calcOwner);
    if (field->Calculated()) {
        TFlatBuffer *b = calcOwner;
        if (!b && State() == dsFilter)
            b = static_cast<TFlatBuffer *>(ActiveBuffer());
        if (!b || size_t(field->Index()) >= b->Calc.size())
            return false;
        value = b->Calc[size_t(field->Index())];
        return !VarIsNull(value);
    }
    const TFlatField *f = ReadableField(rec, field);
    if (!f)
        return false;
    bool notNull = false;
    TVariant v = ReadValue(*rec, *f, field->DataType(), notNull);
    if (!notNull)
        return false;
    value = std::move(v);
    return true;
}

bool TFlatDataset::GetFieldBytes(TField *field, std::string_view &bytes)
{
    // The same record and the same bytes as GetFieldData, lent from the record.
    bytes = {};
    if (field->Calculated())
        return false;
    TFlatBuffer *calcOwner = nullptr;
    const TFlatRecord *rec = RecordForState(calcOwner);
    const TFlatField *f = ReadableField(rec, field);
    if (!f)
        return true;
    if (!IsFlatVarHeldType(f->TypeCode))
        return false;
    bytes = FlatGetBytes(*rec, *f);
    return true;
}

namespace {

// Writes `value` into the fixed part of a record for a field kept there; the text and
// BLOB-type fields (kept behind it) are left alone.
void WriteFixedValue(uint8_t *fixed, const TFlatField &f, const TVariant &value)
{
    uint8_t *p = fixed + f.Offset;
    const bool null = VarIsNull(value);
    switch (f.TypeCode) {
    case fftSmallInt:
    case fftBoolean: {
        const int16_t v = null ? 0 : int16_t(ToInt(value));
        std::memcpy(p, &v, 2);
        break;
    }
    case fftInteger:
    case fftAutoInc: {
        const int32_t v = null ? 0 : int32_t(ToInt(value));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftInt64: {
        const int64_t v = null ? 0 : ToInt(value);
        std::memcpy(p, &v, 8);
        break;
    }
    case fftDouble:
    case fftCurrency: {
        const double v = null ? 0.0 : ToDouble(value);
        std::memcpy(p, &v, 8);
        break;
    }
    case fftDate: {
        const int32_t v = null ? 0 : FlatDateTimeToDate(ToDouble(value));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftTime: {
        double d = null ? 0.0 : ToDouble(value);
        d = std::isfinite(d) ? std::fabs(d - std::trunc(d)) : 0.0;
        const int32_t v = int32_t(std::min(std::round(d * MSecsPerDay), double(MSecsPerDay - 1)));
        std::memcpy(p, &v, 4);
        break;
    }
    case fftDateTime: {
        const double v = null ? 0.0 : FlatDateTimeToMsecs(ToDouble(value));
        std::memcpy(p, &v, 8);
        break;
    }
    default:
        break;
    }
}

// The bytes a text or BLOB-type field keeps of `value`; `scratch` holds them when the
// value is not a text already. What is kept is always the start of `bytes`.
std::string_view VarBytesOf(const TFlatField &f, std::string_view bytes)
{
    if (f.TypeCode == fftSmallStr) {
        // A short text ends at its first NUL and keeps at most MaxLength bytes: a text of
        // wide characters is cut between characters to fit them.
        bytes = bytes.substr(0, bytes.find('\0'));
        if (bytes.size() > f.MaxLength)
            bytes = bytes.substr(0, CutToByteWidth(bytes, f.MaxLength).size());
        return bytes;
    }
    if (f.TypeCode != fftString)
        return bytes;
    // A String ends at its first NUL (the file holds it as a zero-terminated text),
    // and keeps at most its width in characters.
    return CutToCharWidth(bytes.substr(0, bytes.find('\0')), f.MaxLength);
}

std::string_view VarBytesOf(const TFlatField &f, const TVariant &value, std::string &scratch)
{
    if (VarIsNull(value))
        return {};
    if (const std::string *s = std::get_if<std::string>(&value))
        return VarBytesOf(f, *s);
    scratch = VarToStr(value);
    return VarBytesOf(f, scratch);
}

} // namespace

void TFlatDataset::WriteValue(TFlatRecord &rec, const TFlatField &f, const TVariant &value, TFieldType)
{
    if (!IsFlatVarHeldType(f.TypeCode)) {
        WriteFixedValue(rec.Fixed(), f, value);
        return;
    }
    const TFlatCursor &store = shared_->Cursor;
    std::string scratch;
    rec.SetVar(store.Fields, store.RecordSize, f, VarBytesOf(f, value, scratch));
}

void TFlatDataset::SetFieldData(TField *field, const TVariant &value)
{
    const TDataSetState state = State();
    switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
        break;
    default:
        DatabaseError(SNotEditing);
    }
    if (field->Calculated()) {
        TFlatBuffer *owner = nullptr;
        RecordForState(owner);
        if (!owner)
            owner = static_cast<TFlatBuffer *>(ActiveBuffer());
        if (owner) {
            if (owner->Calc.size() <= size_t(field->Index()))
                owner->Calc.resize(size_t(field->Index()) + 1);
            owner->Calc[size_t(field->Index())] = value;
        }
        if (state != dsCalcFields && state != dsInternalCalc)
            DataEvent(deFieldChange, field);
        return;
    }
    if (state == dsCalcFields)
        DatabaseError(SCannotEditCalcFields);
    const bool keyOrFilter = state == dsSetKey || state == dsFilter;
    if (field->ReadOnly && !keyOrFilter)
        DatabaseError(Fmt(SFieldReadOnly, field->DisplayName().c_str()));
    const TFlatField *f = StoreField(field);
    if (!f)
        return;
    if (f->TypeCode == fftAutoInc && !keyOrFilter)
        return; // the counter fills it on insert
    field->Validate(value);
    TFlatBuffer *owner = nullptr;
    TFlatRecord *rec = const_cast<TFlatRecord *>(RecordForState(owner));
    if (!rec)
        DatabaseError(SNotEditing);
    WriteValue(*rec, *f, value, field->DataType());
    if (!keyOrFilter)
        DataEvent(deFieldChange, field);
}

bool TFlatDataset::CanSetFieldValues(const std::vector<TField *> &fields) const
{
    return shared_ && FieldsSettableTogether(fields);
}

void TFlatDataset::SetFieldValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values)
{
    if (fields.size() != values.size())
        DatabaseError("Field and value counts differ");
    CheckActive();
    if (State() != dsEdit && State() != dsInsert)
        DatabaseError(SNotEditing);
    TFlatBuffer *owner = nullptr;
    auto *rec = const_cast<TFlatRecord *>(RecordForState(owner));
    if (!rec || !*rec)
        DatabaseError(SNotEditing);
    TField *changed = nullptr;
    try {
        WriteFieldValues(*rec, fields, values, changed);
    } catch (...) {
        if (changed)
            DataEvent(deFieldChange, changed);
        throw;
    }
    if (changed)
        DataEvent(deFieldChange, changed);
}

void TFlatDataset::WriteFieldValues(TFlatRecord &record, const std::vector<TField *> &fields,
                                    const std::vector<TVariant> &values, TField *&changed)
{
    TFlatRecord *rec = &record;
    const TFlatCursor &store = shared_->Cursor;
    // The fixed values go straight into the record; the variable ones are gathered (the
    // record's own until set) and packed behind them once at the end. The buffers are
    // kept between calls: a copy calls this once per record.
    struct TScratch {
        std::vector<std::string_view> vars;
        std::vector<TVariant> converted;
        std::vector<std::string> text;
    };
    thread_local TScratch scratch;
    std::vector<std::string_view> &vars = scratch.vars;
    vars.clear();
    for (const TFlatField &f : store.Fields)
        if (f.VarIndex >= 0) {
            if (size_t(f.VarIndex) >= vars.size())
                vars.resize(size_t(f.VarIndex) + 1);
            vars[size_t(f.VarIndex)] = rec->Var(f);
        }
    if (scratch.converted.size() < fields.size())
        scratch.converted.resize(fields.size());
    if (scratch.text.size() < vars.size())
        scratch.text.resize(vars.size());
    bool anyVar = false;
    auto finish = [&] {
        if (anyVar)
            *rec = TFlatRecord::Pack(store.Fields, store.RecordSize, rec->Fixed(), vars);
        vars.clear();
    };
    try {
        for (size_t i = 0; i < fields.size(); ++i) {
            TField *field = fields[i];
            const TVariant &value = values[i];
            const std::string *text = std::get_if<std::string>(&value);
            const TFlatField *f = StoreField(field);
            if (text && f && f->VarIndex >= 0 && (field->DataType() == ftString || IsBlobType(field->DataType()))) {
                // A text into a text or BLOB field: what TField::SetValue keeps of it,
                // taken without copying it first.
                if (size_t(f->VarIndex) < vars.size()) {
                    vars[size_t(f->VarIndex)] = VarBytesOf(*f, field->KeptText(*text));
                    anyVar = true;
                }
                changed = field;
                continue;
            }
            TVariant &converted = scratch.converted[i];
            converted = field->Canonical(value);
            if (!f || f->TypeCode == fftAutoInc)
                continue; // not in the store; the counter fills an AutoInc on insert
            if (f->VarIndex >= 0 && size_t(f->VarIndex) < vars.size()) {
                vars[size_t(f->VarIndex)] = VarBytesOf(*f, converted, scratch.text[size_t(f->VarIndex)]);
                anyVar = true;
            } else if (!IsFlatVarHeldType(f->TypeCode))
                WriteFixedValue(rec->Fixed(), *f, converted);
            changed = field;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
