#include "storage/FlatExp.h"

#include "storage/DBUtils.h"
#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "util/TextCodec.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr char32_t AnyChar = 0xFFFFFFFFu;

// Code points of UTF-8 text; an invalid byte stands for itself.
std::u32string codePoints(const std::string &s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        size_t len = 1;
        char32_t cp = b0;
        if (b0 >= 0xC0 && b0 < 0xF8) {
            len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
            cp = b0 & (0x3F >> (len - 1));
            bool ok = i + len <= s.size();
            for (size_t k = 1; ok && k < len; ++k) {
                const auto b = static_cast<unsigned char>(s[i + k]);
                ok = (b & 0xC0) == 0x80;
                cp = (cp << 6) | (b & 0x3F);
            }
            if (!ok) {
                len = 1;
                cp = b0;
            }
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

bool fitsAt(const std::u32string &text, size_t at, const std::u32string &part) {
    if (at + part.size() > text.size()) return false;
    for (size_t k = 0; k < part.size(); ++k)
        if (part[k] != AnyChar && part[k] != text[at + k]) return false;
    return true;
}

std::string withArg(const char *pattern, const std::string &arg) {
    std::string s = pattern;
    const auto at = s.find("%s");
    if (at != std::string::npos) s.replace(at, 2, arg);
    return s;
}

} // namespace

// ---------------------------------------------------------------- TFlatMask

TFlatMask::TFlatMask(const std::string &mask) : mask_(mask) {
    const std::u32string cps = codePoints(UpperCaseText(mask));
    parts_.emplace_back();
    int runs = 0;
    for (size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == U'%' || c == U'*') {
            if (i > 0 && (cps[i - 1] == U'%' || cps[i - 1] == U'*')) continue;  // one run
            if (++runs > MaxRuns) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%d", static_cast<int>(i) + 1);
                std::string text = SInvalidMask;
                text.replace(text.find("%s"), 2, mask);
                text.replace(text.find("%d"), 2, buf);
                throw EFlatMaskError(text);
            }
            parts_.emplace_back();
            continue;
        }
        parts_.back().push_back((c == U'?' || c == U'_') ? AnyChar : c);
    }
}

bool TFlatMask::Matches(const std::string &text) const {
    const std::u32string t = codePoints(UpperCaseText(text));
    if (parts_.size() == 1) return t.size() == parts_[0].size() && fitsAt(t, 0, parts_[0]);
    const std::u32string &head = parts_.front();
    const std::u32string &tail = parts_.back();
    if (t.size() < head.size() + tail.size()) return false;
    if (!fitsAt(t, 0, head) || !fitsAt(t, t.size() - tail.size(), tail)) return false;
    // Between the anchored ends each stretch goes to its leftmost fit: any
    // later fit leaves less room for the rest, so this finds a match exactly
    // when one exists.
    size_t at = head.size();
    const size_t limit = t.size() - tail.size();
    for (size_t p = 1; p + 1 < parts_.size(); ++p) {
        const std::u32string &part = parts_[p];
        bool found = false;
        while (at + part.size() <= limit) {
            if (fitsAt(t, at, part)) {
                found = true;
                break;
            }
            ++at;
        }
        if (!found) return false;
        at += part.size();
    }
    return true;
}

// ---------------------------------------------------------------- parsing

namespace {

[[noreturn]] void comparisonError(const std::vector<TFlatToken> &tokens, size_t i) {
    int pos = 1;
    if (i < tokens.size())
        pos = tokens[i].Pos;
    else if (!tokens.empty())
        pos = tokens.back().Pos + static_cast<int>(tokens.back().Text.size());
    throw EFlatParseError(SComparisonError, pos);
}

bool isDotAt(const std::vector<TFlatToken> &tokens, size_t i) {
    return i < tokens.size() && tokens[i].Kind == tkDot;
}

} // namespace

size_t ParseWhere(const std::vector<TFlatToken> &tokens, size_t first, std::vector<TFlatCondition> &out) {
    size_t i = first;
    std::vector<TFlatCondition> parsed;
    while (i < tokens.size()) {
        TFlatCondition c;
        // [table.]field
        if (tokens[i].Kind == tkIdentifier && isDotAt(tokens, i + 1)) {
            c.FieldTable = tokens[i].Text;
            i += 2;
        }
        if (i >= tokens.size() || (tokens[i].Kind != tkIdentifier && tokens[i].Kind != tkQuoted))
            comparisonError(tokens, i);
        c.FieldName = tokens[i].Text;
        c.FieldKind = tokens[i].Kind;
        c.FieldPos = tokens[i].Pos;
        ++i;
        // operator
        if (i >= tokens.size()) comparisonError(tokens, i);
        const TFlatToken &op = tokens[i];
        if (op.Kind == tkReserved && op.Text == "LIKE") c.Operator = TFlatOperator::opLike;
        else if (op.Kind != tkComparison) comparisonError(tokens, i);
        else if (op.Text == "=") c.Operator = TFlatOperator::opEqual;
        else if (op.Text == ">") c.Operator = TFlatOperator::opGreater;
        else if (op.Text == "<") c.Operator = TFlatOperator::opLess;
        else if (op.Text == ">=") c.Operator = TFlatOperator::opGreaterEqual;
        else if (op.Text == "<=") c.Operator = TFlatOperator::opLessEqual;
        else if (op.Text == "<>") c.Operator = TFlatOperator::opNotEqual;
        else c.Operator = TFlatOperator::opStarEqual;
        ++i;
        // [table.] or a minus sign before a number
        bool negative = false;
        if (i < tokens.size() && tokens[i].Kind == tkIdentifier && isDotAt(tokens, i + 1)) {
            c.ValueTable = tokens[i].Text;
            i += 2;
        } else if (i < tokens.size() && tokens[i].Kind == tkArithmetic && tokens[i].Text == "-" &&
                   i + 1 < tokens.size() && tokens[i + 1].Kind == tkNumber) {
            negative = true;
            ++i;
        }
        // value
        if (i >= tokens.size()) comparisonError(tokens, i);
        const TFlatToken &v = tokens[i];
        switch (v.Kind) {
        case tkIdentifier:
        case tkQuoted:
        case tkNumber:
        case tkNull:
        case tkTrue:
        case tkFalse: break;
        default: comparisonError(tokens, i);
        }
        if (!c.ValueTable.empty() && v.Kind != tkIdentifier && v.Kind != tkQuoted) comparisonError(tokens, i);
        c.Value = negative ? "-" + v.Text : v.Text;
        c.ValueKind = v.Kind;
        c.ValuePos = negative ? tokens[i - 1].Pos : v.Pos;
        ++i;
        parsed.push_back(std::move(c));
        // AND, GROUP BY or the end
        if (i >= tokens.size()) break;
        if (tokens[i].Kind == tkLogical && tokens[i].Text == "AND") {
            ++i;
            if (i >= tokens.size()) comparisonError(tokens, i);
            continue;
        }
        if (tokens[i].Kind == tkReserved && tokens[i].Text == "GROUP" && i + 1 < tokens.size() &&
            tokens[i + 1].Kind == tkReserved && tokens[i + 1].Text == "BY")
            break;
        comparisonError(tokens, i);
    }
    for (auto &c : parsed) out.push_back(std::move(c));
    return i;
}

std::vector<TFlatCondition> ParseFilterText(const std::string &text) {
    const std::vector<TFlatToken> tokens = TFlatParser::Tokenize(text);
    std::vector<TFlatCondition> conditions;
    if (!tokens.empty()) ParseWhere(tokens, 0, conditions);
    return conditions;
}

// ---------------------------------------------------------------- resolving

void ResolveConditions(std::vector<TFlatCondition> &conditions, const TFlatFilterHost &host) {
    std::vector<TFlatCondition> resolved = conditions;  // nothing changes on failure
    for (TFlatCondition &c : resolved) {
        c.FieldIndex = host.FieldIndex(c.FieldName);
        if (c.FieldIndex < 0) throw EFlatParseError(withArg("Field %s is not found", c.FieldName), c.FieldPos);
        c.ValueFieldIndex = -1;
        c.Constant.clear();
        c.Mask.reset();
        switch (c.ValueKind) {
        case tkIdentifier:
            c.ValueFieldIndex = host.FieldIndex(c.Value);
            if (c.ValueFieldIndex < 0) throw EFlatParseError(withArg("Field %s is not found", c.Value), c.ValuePos);
            break;
        case tkQuoted:
            c.ValueFieldIndex = host.FieldIndex(c.Value);
            if (c.ValueFieldIndex < 0) c.Constant = c.Value;
            break;
        case tkNull: c.Constant.clear(); break;  // the empty value of the field's type
        default: c.Constant = c.Value;            // numbers, TRUE, FALSE
        }
        if (c.ValueFieldIndex >= 0 && c.Operator != TFlatOperator::opLike &&
            host.FieldTypeCode(c.FieldIndex) != host.FieldTypeCode(c.ValueFieldIndex))
            throw EDatabaseError(SCompareTypesDiffer);
        if (c.Operator == TFlatOperator::opLike && c.ValueFieldIndex < 0)
            c.Mask = std::make_shared<TFlatMask>(c.Constant);
    }
    conditions = std::move(resolved);
}

// ---------------------------------------------------------------- evaluating

std::string FlatValueText(const TVariant &value, int typeCode) {
    switch (typeCode) {
    case fftBlob:
    case fftGraphic: return SNotFound;
    case fftBoolean: {
        const bool b = std::holds_alternative<bool>(value) ? std::get<bool>(value) : false;
        return b ? SYes : SNo;
    }
    case fftSmallInt:
    case fftInteger:
    case fftInt64:
    case fftAutoInc:
        if (auto i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
        return "0";
    case fftDouble:
    case fftCurrency: {
        double d = 0;
        if (auto p = std::get_if<double>(&value)) d = *p;
        if (!std::isfinite(d)) return VarToStr(d);
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.6f", d);
        std::string s = buf;
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
        if (s == "-0") s = "0";
        return s;
    }
    case fftDate:
    case fftTime:
    case fftDateTime: {
        auto d = std::get_if<double>(&value);
        if (!d) return {};
        return DateTimeToText(*d, typeCode == fftDate ? ftDate : typeCode == fftTime ? ftTime : ftDateTime);
    }
    default:
        if (auto text = std::get_if<std::string>(&value)) return DecodeStoredText(*text);
        return VarToStr(value);
    }
}

bool MeetsConditions(const std::vector<TFlatCondition> &conditions, TFlatFilterHost &host, bool caseInsensitive) {
    for (const TFlatCondition &c : conditions) {
        if (c.FieldIndex < 0) return false;
        const int type = host.FieldTypeCode(c.FieldIndex);
        if (c.Operator == TFlatOperator::opStarEqual) continue;
        if (c.Operator == TFlatOperator::opLike) {
            const std::string text = FlatValueText(host.FieldValue(c.FieldIndex), type);
            if (c.Mask) {
                if (!c.Mask->Matches(text)) return false;
            } else {
                // The mask is another field's value in the same record.
                const int otherType = host.FieldTypeCode(c.ValueFieldIndex);
                const TFlatMask mask(FlatValueText(host.FieldValue(c.ValueFieldIndex), otherType));
                if (!mask.Matches(text)) return false;
            }
            continue;
        }
        const int r = c.ValueFieldIndex >= 0 ? host.CompareFields(c.FieldIndex, c.ValueFieldIndex, caseInsensitive)
                                             : host.CompareWithText(c.FieldIndex, c.Constant, caseInsensitive);
        bool ok = false;
        switch (c.Operator) {
        case TFlatOperator::opEqual: ok = r == 0; break;
        case TFlatOperator::opGreater: ok = r > 0; break;
        case TFlatOperator::opLess: ok = r < 0; break;
        case TFlatOperator::opGreaterEqual: ok = r >= 0; break;
        case TFlatOperator::opLessEqual: ok = r <= 0; break;
        case TFlatOperator::opNotEqual: ok = r != 0; break;
        default: ok = true;
        }
        if (!ok) return false;
    }
    return true;
}
