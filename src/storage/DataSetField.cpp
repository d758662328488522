// A data set's fields: values and their conversions, field objects, definitions and the field list.
#include "storage/DataSet.h"

#include "util/BaseDateTime.h"
#include "util/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool sameNameAscii(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

std::string trimmed(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

std::string doubleText(double d) {
    if (std::isnan(d)) return "NAN";
    if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

// Whole-text conversions; false when the text is not entirely a number.
bool parseInt64(const std::string &text, std::int64_t &out) {
    std::string t = trimmed(text);
    const char *b = t.data();
    const char *e = t.data() + t.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

bool parseDouble(const std::string &text, double &out) {
    std::string t = trimmed(text);
    const char *b = t.data();
    const char *e = t.data() + t.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

bool parseBool(const std::string &text, bool &out) {
    std::string t;
    for (char c : trimmed(text)) t += upperAscii(c);
    if (t == "TRUE" || t == "T" || t == "YES" || t == "Y" || t == "1") { out = true; return true; }
    if (t == "FALSE" || t == "F" || t == "NO" || t == "N" || t == "0") { out = false; return true; }
    return false;
}

bool isNumberish(const TVariant &v) {
    return std::holds_alternative<bool>(v) || std::holds_alternative<std::int64_t>(v) ||
           std::holds_alternative<double>(v);
}

long double numberOf(const TVariant &v) {
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto i = std::get_if<std::int64_t>(&v)) return static_cast<long double>(*i);
    return std::get<double>(v);
}

// ---- default date and time texts (civil calendar, proleptic Gregorian)

std::string defaultFormat(TDateTime value, TFieldType type) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return doubleText(value);
    double whole = std::trunc(value);
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * double(MSecsPerDay)));
    auto days = static_cast<std::int64_t>(whole);
    if (ms >= MSecsPerDay) { ms -= MSecsPerDay; days += value < 0 ? -1 : 1; }
    char buf[64];
    std::string date, time;
    if (type != ftTime) {
        std::int64_t y; int m, d;
        CivilFromDays(days - UnixDateDelta, y, m, d);
        std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(y), m, d);
        date = buf;
    }
    if (type != ftDate) {
        const auto s = ms / 1000;
        std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
        time = buf;
    }
    if (type == ftDate) return date;
    if (type == ftTime) return time;
    return date + " " + time;
}

bool parseDatePart(const std::string &t, double &days) {
    int y, m, d;
    char tail;
    if (std::sscanf(t.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3) return false;
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    const std::int64_t z = DaysFromCivil(y, m, d);
    std::int64_t yy; int mm, dd;
    CivilFromDays(z, yy, mm, dd);
    if (dd != d) return false;  // 31 April and the like
    days = static_cast<double>(z + UnixDateDelta);
    return true;
}

bool parseTimePart(const std::string &t, double &fraction) {
    int h, n, s = 0;
    char tail;
    int got = std::sscanf(t.c_str(), "%d:%d:%d%c", &h, &n, &s, &tail);
    if (got != 2 && got != 3) return false;
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59) return false;
    fraction = (h * 3600.0 + n * 60.0 + s) / 86400.0;
    return true;
}

bool defaultParse(const std::string &text, TFieldType type, TDateTime &value) {
    std::string t = trimmed(text);
    const auto blank = t.find(' ');
    double days = 0, fraction = 0;
    if (type == ftTime) {
        if (!parseTimePart(t, fraction)) return false;
        value = fraction;
        return true;
    }
    if (blank == std::string::npos) {
        if (!parseDatePart(t, days)) return false;
        value = days;
        return true;
    }
    if (type == ftDate) return false;
    if (!parseDatePart(t.substr(0, blank), days) || !parseTimePart(trimmed(t.substr(blank + 1)), fraction))
        return false;
    value = days + (days < 0 ? -fraction : fraction);
    return true;
}

TDateTimeTextHooks &hooks() {
    static TDateTimeTextHooks h{defaultFormat, defaultParse};
    return h;
}

} // namespace

// ---------------------------------------------------------------- values

std::string VarToStr(const TVariant &v) {
    if (VarIsNull(v)) return {};
    if (auto b = std::get_if<bool>(&v)) return *b ? "True" : "False";
    if (auto i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto d = std::get_if<double>(&v)) return doubleText(*d);
    return std::get<std::string>(v);
}

bool VarEquals(const TVariant &a, const TVariant &b) {
    if (VarIsNull(a) || VarIsNull(b)) return false;
    if (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b))
        return SameStoredText(std::get<std::string>(a), std::get<std::string>(b));
    if (std::holds_alternative<std::int64_t>(a) && std::holds_alternative<std::int64_t>(b))
        return std::get<std::int64_t>(a) == std::get<std::int64_t>(b);
    if (isNumberish(a) && isNumberish(b)) return numberOf(a) == numberOf(b);
    // A text against a number or a boolean: the text is converted.
    const TVariant &text = std::holds_alternative<std::string>(a) ? a : b;
    const TVariant &other = std::holds_alternative<std::string>(a) ? b : a;
    const std::string &s = std::get<std::string>(text);
    if (auto ob = std::get_if<bool>(&other)) {
        bool parsed;
        return parseBool(s, parsed) && parsed == *ob;
    }
    double d;
    if (!parseDouble(s, d)) return false;
    return static_cast<long double>(d) == numberOf(other);
}

bool IsBlobType(TFieldType t) { return t == ftBlob || t == ftMemo || t == ftFmtMemo || t == ftGraphic; }
bool IsTextType(TFieldType t) { return t == ftString || t == ftMemo || t == ftFmtMemo; }
bool IsIntegerType(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftLargeint || t == ftAutoInc;
}
bool IsFloatType(TFieldType t) { return t == ftFloat || t == ftCurrency; }
bool IsDateTimeType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }

const char *FieldTypeName(TFieldType t) {
    switch (t) {
    case ftUnknown: return "Unknown";
    case ftSmallint: return "SmallInt";
    case ftInteger: return "Integer";
    case ftLargeint: return "LargeInt";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftAutoInc: return "AutoInc";
    case ftString: return "String";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftFmtMemo: return "FmtMemo";
    case ftGraphic: return "Graphic";
    }
    return "Unknown";
}

void SetDateTimeTextHooks(TDateTimeTextHooks h) {
    hooks().Format = h.Format ? std::move(h.Format) : defaultFormat;
    hooks().Parse = h.Parse ? std::move(h.Parse) : defaultParse;
}
std::string DateTimeToText(TDateTime value, TFieldType type) { return hooks().Format(value, type); }
bool TextToDateTime(const std::string &text, TFieldType type, TDateTime &value) {
    return hooks().Parse(text, type, value);
}

// ---------------------------------------------------------------- TField

TField::TField(TDataSet *dataSet, std::string fieldName, TFieldType dataType, int size, TFieldKind kind)
    : Alignment((IsIntegerType(dataType) || IsFloatType(dataType)) ? taRightJustify : taLeftJustify),
      dataSet_(dataSet), fieldName_(std::move(fieldName)), dataType_(dataType),
      size_(dataType == ftString ? std::max(size, 0) : 0), kind_(kind) {}

TVariant TField::Value() const {
    if (validating_) return *validating_;
    if (!dataSet_) return {};
    dataSet_->CheckActive();
    TVariant v;
    if (!dataSet_->GetFieldData(const_cast<TField *>(this), v)) return {};
    return v;
}

bool TField::IsNull() const { return VarIsNull(Value()); }

std::string TField::AsString() const {
    TVariant v = Value();
    if (auto d = std::get_if<double>(&v); d && IsDateTimeType(dataType_)) return DateTimeToText(*d, dataType_);
    // A text field gives the program's text, whatever encoding its bytes were stored in.
    if (auto s = std::get_if<std::string>(&v); s && IsTextType(dataType_)) return DecodeStoredText(*s);
    return VarToStr(v);
}

std::int64_t TField::AsLargeInt() const {
    TVariant v = Value();
    if (VarIsNull(v)) return 0;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto i = std::get_if<std::int64_t>(&v)) return *i;
    if (auto d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18)
            DatabaseError(doubleText(*d) + " is not a valid value for field '" + DisplayName() + "'");
        return std::llround(*d);
    }
    std::int64_t i;
    if (!parseInt64(std::get<std::string>(v), i))
        DatabaseError("'" + std::get<std::string>(v) + "' is not a valid integer value");
    return i;
}

std::int32_t TField::AsInteger() const {
    const std::int64_t v = AsLargeInt();
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        DatabaseError(std::to_string(v) + " is not a valid value for field '" + DisplayName() +
                      "'. The allowed range is -2147483648 to 2147483647");
    return static_cast<std::int32_t>(v);
}

double TField::AsFloat() const {
    TVariant v = Value();
    if (VarIsNull(v)) return 0.0;
    if (auto s = std::get_if<std::string>(&v)) {
        double d;
        if (parseDouble(*s, d)) return d;
        if (TDateTime dt; IsDateTimeType(dataType_) && TextToDateTime(*s, dataType_, dt)) return dt;
        DatabaseError("'" + *s + "' is not a valid floating point value");
    }
    return static_cast<double>(numberOf(v));
}

TDateTime TField::AsDateTime() const {
    TVariant v = Value();
    if (VarIsNull(v)) return 0.0;
    if (auto s = std::get_if<std::string>(&v)) {
        TDateTime dt;
        if (!TextToDateTime(*s, ftDateTime, dt)) DatabaseError("'" + *s + "' is not a valid date and time");
        return dt;
    }
    return static_cast<double>(numberOf(v));
}

bool TField::AsBoolean() const {
    TVariant v = Value();
    if (VarIsNull(v)) return false;
    if (auto s = std::get_if<std::string>(&v)) {
        bool b;
        if (!parseBool(*s, b)) DatabaseError("'" + *s + "' is not a valid boolean value");
        return b;
    }
    return numberOf(v) != 0;
}

std::string TField::AsBytes() const {
    TVariant v = Value();
    if (auto s = std::get_if<std::string>(&v)) return *s;
    return AsString();
}

std::string_view TField::StoredText(std::string &scratch) const {
    if (!IsTextType(dataType_)) {
        scratch = AsString();
        return scratch;
    }
    if (!validating_ && dataSet_ && !Calculated()) {
        dataSet_->CheckActive();
        std::string_view bytes;
        if (dataSet_->GetFieldBytes(const_cast<TField *>(this), bytes)) return bytes;
    }
    // The value read once: its bytes as stored (AsString would decode them).
    TVariant v = Value();
    if (auto s = std::get_if<std::string>(&v))
        scratch = std::move(*s);
    else
        scratch = VarToStr(v);
    return scratch;
}

TVariant TField::Canonical(const TVariant &v) const {
    if (VarIsNull(v)) return {};
    const std::string *text = std::get_if<std::string>(&v);
    switch (dataType_) {
    case ftUnknown:
        DatabaseError("Field '" + DisplayName() + "' is of an unknown type");
    case ftSmallint:
    case ftInteger:
    case ftLargeint:
    case ftAutoInc: {
        std::int64_t i = 0;
        if (text) {
            if (trimmed(*text).empty()) return {};
            if (!parseInt64(*text, i)) DatabaseError("'" + *text + "' is not a valid integer value");
        } else if (auto d = std::get_if<double>(&v)) {
            if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18)
                DatabaseError(doubleText(*d) + " is not a valid value for field '" + DisplayName() + "'");
            i = std::llround(*d);
        } else {
            i = static_cast<std::int64_t>(numberOf(v));
        }
        std::int64_t lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max();
        if (dataType_ == ftSmallint) { lo = -32768; hi = 32767; }
        if (dataType_ == ftInteger || dataType_ == ftAutoInc) {
            lo = std::numeric_limits<std::int32_t>::min();
            hi = std::numeric_limits<std::int32_t>::max();
        }
        if (i < lo || i > hi)
            DatabaseError(std::to_string(i) + " is not a valid value for field '" + DisplayName() +
                          "'. The allowed range is " + std::to_string(lo) + " to " + std::to_string(hi));
        return i;
    }
    case ftBoolean: {
        if (text) {
            if (trimmed(*text).empty()) return {};
            bool b;
            if (!parseBool(*text, b)) DatabaseError("'" + *text + "' is not a valid boolean value");
            return b;
        }
        return numberOf(v) != 0;
    }
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime: {
        double d = 0;
        if (text) {
            if (trimmed(*text).empty()) return {};
            if (IsDateTimeType(dataType_)) {
                if (!TextToDateTime(*text, dataType_, d) && !parseDouble(*text, d))
                    DatabaseError("'" + *text + "' is not a valid " +
                                  (dataType_ == ftDate ? "date" : dataType_ == ftTime ? "time" : "date and time"));
            } else if (!parseDouble(*text, d)) {
                DatabaseError("'" + *text + "' is not a valid floating point value");
            }
        } else {
            d = static_cast<double>(numberOf(v));
        }
        if (!std::isfinite(d))
            DatabaseError(doubleText(d) + " is not a valid value for field '" + DisplayName() + "'");
        // A date field keeps the day, a time field the time of day.
        if (dataType_ == ftDate) d = std::trunc(d);
        if (dataType_ == ftTime) d = std::fabs(d - std::trunc(d));
        return d;
    }
    case ftString:
        return std::string(text ? KeptText(*text) : KeptText(VarToStr(v)));
    case ftBlob:
    case ftMemo:
    case ftFmtMemo:
    case ftGraphic:
        return text ? *text : VarToStr(v);
    }
    return {};
}

void TField::Validate(const TVariant &newValue) {
    if (!OnValidate) return;
    validating_ = &newValue;
    try {
        OnValidate(this);
    } catch (...) {
        validating_ = nullptr;
        throw;
    }
    validating_ = nullptr;
}

std::string_view TField::KeptText(std::string_view text) const {
    // Widths count characters; the bytes of a cut text end between characters.
    return dataType_ == ftString ? CutToCharWidth(text, static_cast<size_t>(size_)) : text;
}

void TField::SetValue(const TVariant &v) {
    if (!dataSet_) DatabaseError("Field '" + DisplayName() + "' has no dataset");
    dataSet_->CheckActive();
    dataSet_->SetFieldData(this, Canonical(v));
}
void TField::SetAsString(const std::string &s) { SetValue(s); }
void TField::SetAsInteger(std::int32_t v) { SetValue(static_cast<std::int64_t>(v)); }
void TField::SetAsLargeInt(std::int64_t v) { SetValue(v); }
void TField::SetAsFloat(double v) { SetValue(v); }
void TField::SetAsDateTime(TDateTime v) { SetValue(v); }
void TField::SetAsBoolean(bool v) { SetValue(v); }
void TField::SetAsBytes(const std::string &bytes) { SetValue(bytes); }
void TField::Clear() { SetValue(TVariant{}); }

// ---------------------------------------------------------------- TFieldDefs

std::string TNameIndex::Key(const std::string &name) {
    std::string k(name);
    for (char &c : k) c = upperAscii(c);
    return k;
}

TFieldDef &TFieldDefs::Add(const std::string &name, TFieldType type, int size, bool required) {
    if (IndexOf(name) >= 0) DatabaseError("Duplicate field name '" + name + "'");
    return AddKeepingTwins(name, type, size, required);
}

TFieldDef &TFieldDefs::AddKeepingTwins(const std::string &name, TFieldType type, int size, bool required) {
    if (name.empty()) DatabaseError("Field name missing");
    if (size < 0) DatabaseError("Invalid field size");
    TFieldDef def;
    def.Name = name;
    def.DataType = type;
    def.Size = size;
    def.Required = required;
    def.FieldNo = Count() + 1;
    items_.push_back(def);
    index_.Add(name, Count() - 1);
    return items_.back();
}

void TFieldDefs::Reserve(int count) {
    if (count <= 0) return;
    items_.reserve(static_cast<size_t>(count));
    index_.Reserve(static_cast<size_t>(count));
}

void TFieldDefs::Clear() {
    items_.clear();
    index_.Clear();
}

int TFieldDefs::IndexOf(const std::string &name) const {
    const int i = index_.Find(name);
    if (i >= 0 && static_cast<size_t>(i) < items_.size() && sameNameAscii(items_[static_cast<size_t>(i)].Name, name))
        return i;
    if (i < 0) return -1;
    // A definition was renamed through operator[]: look the slow way.
    for (size_t k = 0; k < items_.size(); ++k)
        if (sameNameAscii(items_[k].Name, name)) return static_cast<int>(k);
    return -1;
}

const TFieldDef *TFieldDefs::Find(const std::string &name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &items_[static_cast<size_t>(i)];
}

void TFieldDefs::Assign(const TFieldDefs &other) {
    if (&other == this) return;
    items_ = other.items_;
    index_.Clear();
    for (size_t i = 0; i < items_.size(); ++i) {
        items_[i].FieldNo = static_cast<int>(i) + 1;
        index_.Add(items_[i].Name, static_cast<int>(i));
    }
}

void TFieldDefs::Update() {
    if (owner_) owner_->InternalInitFieldDefs();
}

// ---------------------------------------------------------------- fields

TField &TDataSet::Fields(int index) const {
    if (index < 0 || index >= FieldCount()) DatabaseError("List index out of bounds (" + std::to_string(index) + ")");
    return *fields_[static_cast<size_t>(index)];
}

TField *TDataSet::FindField(const std::string &name) const {
    const int i = fieldIndex_.Find(name);
    return i < 0 || static_cast<size_t>(i) >= fields_.size() ? nullptr : fields_[static_cast<size_t>(i)].get();
}

TField &TDataSet::FieldByName(const std::string &name) const {
    TField *f = FindField(name);
    if (!f) DatabaseError("Field '" + name + "' not found");
    return *f;
}

std::vector<TField *> TDataSet::GetFieldList(const std::string &names) const {
    std::vector<TField *> out;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t semi = names.find(';', pos);
        if (semi == std::string::npos) semi = names.size();
        const std::string name = trimmed(names.substr(pos, semi - pos));
        if (!name.empty()) out.push_back(&FieldByName(name));
        pos = semi + 1;
    }
    return out;
}

TField &TDataSet::CreateField(const std::string &name, TFieldType type, int size, TFieldKind kind) {
    CheckInactive();
    if (name.empty()) DatabaseError("Field name missing");
    if (FindField(name)) DatabaseError("Duplicate field name '" + name + "'");
    fields_.push_back(std::make_unique<TField>(this, name, type, size, kind));
    fields_.back()->index_ = static_cast<int>(fields_.size()) - 1;
    fieldIndex_.Add(name, fields_.back()->index_);
    calcFieldCount_ = -1;
    return *fields_.back();
}

void TDataSet::DestroyFields() {
    if (state_ != dsInactive && !closing_) CheckInactive();
    fields_.clear();
    fieldIndex_.Clear();
    calcFieldCount_ = -1;
}

int TDataSet::CalcFieldCount() const {
    if (calcFieldCount_ < 0)
        calcFieldCount_ = static_cast<int>(std::count_if(fields_.begin(), fields_.end(),
                                                         [](const auto &f) { return f->Calculated(); }));
    return calcFieldCount_;
}

bool TDataSet::FieldsSettableTogether(const std::vector<TField *> &fields) const {
    if (!ControlsDisabled() || CalcFieldCount() > 0) return false;
    for (const TField *field : fields)
        if (!field || field->DataSet() != this || field->Calculated() || field->ReadOnly || field->OnValidate ||
            field->OnChange)
            return false;
    return true;
}

void TDataSet::CreateFields() {
    const size_t existing = fields_.size();
    fields_.reserve(existing + static_cast<size_t>(fieldDefs_.Count()));
    fieldIndex_.Reserve(existing + static_cast<size_t>(fieldDefs_.Count()));
    for (const TFieldDef &def : fieldDefs_) {
        // A field the caller made stands for its definition; twins of a name (a file
        // with fields differing only in case) each get a field of their own.
        const TField *have = FindField(def.Name);
        if (have && static_cast<size_t>(have->index_) < existing) continue;
        fields_.push_back(std::make_unique<TField>(this, def.Name, def.DataType, def.Size, fkData));
        calcFieldCount_ = -1;
        TField &f = *fields_.back();
        f.index_ = static_cast<int>(fields_.size()) - 1;
        f.defNo_ = def.FieldNo;
        f.Required = def.Required;
        fieldIndex_.Add(def.Name, f.index_);
    }
}

void TDataSet::BindFields(bool binding) {
    for (const auto &f : fields_) {
        if (!binding || f->Calculated()) {
            f->fieldNo_ = 0;
            continue;
        }
        const TFieldDef *def = nullptr;
        if (f->defNo_ > 0 && f->defNo_ <= fieldDefs_.Count() &&
            sameNameAscii(fieldDefs_[f->defNo_ - 1].Name, f->FieldName()))
            def = &fieldDefs_[f->defNo_ - 1];
        else
            def = fieldDefs_.Find(f->FieldName());
        if (!def) DatabaseError("Field '" + f->DisplayName() + "' not found");
        if (def->DataType != f->DataType())
            DatabaseError(std::string("Type mismatch for field '") + f->DisplayName() + "', expecting: " +
                          FieldTypeName(f->DataType()) + " actual: " + FieldTypeName(def->DataType));
        f->fieldNo_ = def->FieldNo;
    }
}

void TDataSet::GetCalcFields(TRecordBuffer &buffer) {
    if (CalcFieldCount() == 0) return;
    const TDataSetState previous = SetTempState(dsCalcFields);
    calcBuffer_ = &buffer;
    try {
        ClearCalcFields(buffer);
        Fire(OnCalcFields);
    } catch (...) {
        calcBuffer_ = nullptr;
        RestoreState(previous);
        throw;
    }
    calcBuffer_ = nullptr;
    RestoreState(previous);
}
