// The field description a table file carries: the size of each field type and the description's text.
#include "storage/FlatTblStore.h"

#include <algorithm>

#include "storage/FlatConst.h"
#include "storage/FlatTblInternal.h"

using namespace FlatTblInternal;

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
        f.Index = i;
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
