#include "storage/DBUtils.h"

#include <algorithm>
#include <cwctype>
#include <locale>

#include "util/TextCodec.h"

namespace {

// Case mapping of the Unicode-aware C.UTF-8 locale, independent of the
// process locale (which may be plain "C" under tests).
const std::ctype<wchar_t> *unicodeCtype() {
    static const std::ctype<wchar_t> *facet = []() -> const std::ctype<wchar_t> * {
        try {
            static const std::locale loc("C.UTF-8");
            return &std::use_facet<std::ctype<wchar_t>>(loc);
        } catch (...) {
            return nullptr;
        }
    }();
    return facet;
}

char32_t upperChar(char32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    if (const auto *ct = unicodeCtype()) {
        // Mappings that change the UTF-8 length (rare, e.g. U+0131) are kept
        // so that a prefix keeps its byte meaning.
        const auto up = static_cast<char32_t>(ct->toupper(static_cast<wchar_t>(cp)));
        return up;
    }
    return cp;
}

} // namespace

std::string UpperCaseText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        const size_t n = DecodeUtf8Char(text, i, cp);
        if (n == 0) {
            out += text[i];
            ++i;
            continue;
        }
        AppendUtf8(out, upperChar(cp));
        i += n;
    }
    return out;
}

bool LocateCompareField(const TField &field, const TVariant &value, TLocateOptions options) {
    if (field.DataType() != ftString) return VarEquals(field.Value(), value);
    if (VarIsNull(value)) return false;
    std::string fieldText = field.AsString();
    std::string keyText = DecodeStoredText(VarToStr(value));
    if (options.Contains(loCaseInsensitive)) {
        fieldText = UpperCaseText(fieldText);
        keyText = UpperCaseText(keyText);
    }
    if (options.Contains(loPartialKey))
        return fieldText.size() >= keyText.size() && fieldText.compare(0, keyText.size(), keyText) == 0;
    return fieldText == keyText;
}

bool LocateCompareRecord(const std::vector<TField *> &fields, const std::vector<TVariant> &keyValues,
                         TLocateOptions options) {
    if (fields.size() != keyValues.size()) return false;
    for (size_t i = 0; i < fields.size(); ++i)
        if (!LocateCompareField(*fields[i], keyValues[i], options)) return false;
    return true;
}

bool DataSetLocateThrough(TDataSet &dataSet, const std::string &keyFields,
                          const std::vector<TVariant> &keyValues, TLocateOptions options) {
    dataSet.CheckBrowseMode();
    if (dataSet.Bof() && dataSet.Eof()) return false;
    const std::vector<TField *> fields = dataSet.GetFieldList(keyFields);
    if (fields.empty()) return false;
    if (fields.size() != keyValues.size())
        DatabaseError("Locate: " + std::to_string(fields.size()) + " key fields but " +
                      std::to_string(keyValues.size()) + " key values");
    if (!dataSet.IsEmpty() && LocateCompareRecord(fields, keyValues, options)) return true;

    bool found = false;
    dataSet.DisableControls();
    try {
        const TBookmark here = dataSet.GetBookmark();
        dataSet.First();
        while (!dataSet.Eof()) {
            if (LocateCompareRecord(fields, keyValues, options)) {
                found = true;
                break;
            }
            dataSet.Next();
        }
        if (!found && !here.empty() && dataSet.BookmarkValid(here)) dataSet.GotoBookmark(here);
    } catch (...) {
        dataSet.EnableControls();
        throw;
    }
    dataSet.EnableControls();
    return found;
}

TFieldPairs MatchFieldsByName(TDataSet &source, TDataSet &dest) {
    TFieldPairs pairs;
    for (int i = 0; i < source.FieldCount(); ++i) {
        TField &from = source.Fields(i);
        if (TField *to = dest.FindField(from.FieldName())) pairs.emplace_back(&from, to);
    }
    return pairs;
}

void AssignRecord(const TFieldPairs &pairs, TDataSet &dest) {
    const TDataSetState s = dest.State();
    if (s != dsEdit && s != dsInsert && s != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
    for (const auto &[from, to] : pairs) to->SetValue(from->Value());
}

void AssignRecord(TDataSet &source, TDataSet &dest, bool byName) {
    const TDataSetState s = dest.State();
    if (s != dsEdit && s != dsInsert && s != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
    if (byName) {
        AssignRecord(MatchFieldsByName(source, dest), dest);
        return;
    }
    const int n = std::min(source.FieldDefs().Count(), dest.FieldDefs().Count());
    for (int i = 0; i < n; ++i) {
        TField *to = dest.FindField(dest.FieldDefs()[i].Name);
        TField *from = source.FindField(source.FieldDefs()[i].Name);
        if (to && from) to->SetValue(from->Value());
    }
}
