#pragma once
// The filter language of the table engine: a filter text is parsed into a list
// of conditions (field, operator, value or other field) joined by AND; the
// conditions are resolved against a table's fields and then evaluated for each
// record through a host that gives access to the record under test.
//
//   auto conds = ParseFilterText("Size > 100 AND Name LIKE 'ab%'");  // EFlatParseError
//   ResolveConditions(conds, host);                                  // "Field %s is not found"
//   bool keep = MeetsConditions(conds, host, caseInsensitive);
#include "storage/DataSet.h"
#include "storage/FlatLex.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// ---------------------------------------------------------------- LIKE masks

// A bad mask. Deliberately not a database error: callers show it as is.
class EFlatMaskError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "%" and "*" stand for any run of characters (none included), "?" and "_"
// for exactly one character; every other character stands for itself, letter
// case ignored. The whole text must match. Matching places each literal
// stretch at its leftmost fit, which takes time proportional to text length
// times mask length, never more.
class TFlatMask {
public:
    static constexpr int MaxRuns = 30;
    // Raises EFlatMaskError "'<mask>' is an invalid mask at (<n>)" for more than
    // MaxRuns runs, n being the 1-based character position of the first
    // character of the run that is one too many.
    explicit TFlatMask(const std::string &mask);
    bool Matches(const std::string &text) const;
    const std::string &Mask() const { return mask_; }

private:
    std::string mask_;
    // Literal stretches between runs; a stretch holds code points, with
    // AnyChar standing for "?"/"_". parts_.size() == runs + 1.
    std::vector<std::u32string> parts_;
};

// ---------------------------------------------------------------- conditions

enum class TFlatOperator {
    opEqual = 1,
    opGreater = 2,
    opLess = 3,
    opGreaterEqual = 4,
    opLessEqual = 5,
    opNotEqual = 6,
    opLike = 7,
    opStarEqual = 8,  // accepted by the parser; every record meets it
};

struct TFlatCondition {
    std::string FieldTable;  // optional qualifier of the field
    std::string FieldName;
    std::string ValueTable;  // optional qualifier of the value
    std::string Value;       // value text ("-" included for a negative number)
    int FieldKind = 0;       // token kinds (TFlatTokenKind)
    int ValueKind = 0;
    TFlatOperator Operator = TFlatOperator::opEqual;
    int FieldPos = 0;        // 1-based positions in the filter text
    int ValuePos = 0;

    // Filled by ResolveConditions.
    int FieldIndex = -1;
    int ValueFieldIndex = -1;  // the value names another field
    std::string Constant;      // otherwise the constant text
    std::shared_ptr<const TFlatMask> Mask;
};

// What the conditions need of a table: its fields by name and the values of
// the record under test. The table's own comparison rules (and its text to
// value conversion) stay with the table.
class TFlatFilterHost {
public:
    virtual ~TFlatFilterHost() = default;
    virtual int FieldIndex(const std::string &name) const = 0;  // -1 when there is none
    virtual int FieldTypeCode(int index) const = 0;             // the engine's type code
    virtual TVariant FieldValue(int index) = 0;                 // canonical, NULL when empty
    // <0, 0, >0 for two fields of the same type in the record under test.
    virtual int CompareFields(int a, int b, bool caseInsensitive) = 0;
    // The field against a constant text converted to the field's type.
    virtual int CompareWithText(int index, const std::string &constant, bool caseInsensitive) = 0;
};

// Reads comparisons from `first`: [table.]field operator [table.|-]value,
// joined by AND, up to the end or to GROUP BY. Answers the index of the first
// token not used. Raises "Error in comparison expression" (EFlatParseError).
size_t ParseWhere(const std::vector<TFlatToken> &tokens, size_t first, std::vector<TFlatCondition> &out);

// Tokenize + ParseWhere; an empty (or blank) text gives no conditions.
std::vector<TFlatCondition> ParseFilterText(const std::string &text);

// Checks names against the host's fields, prepares constants and compiles
// LIKE masks. Raises "Field %s is not found" (EFlatParseError with the
// name's position), "Types of compared fields are not equal" (EDatabaseError)
// or a mask error.
void ResolveConditions(std::vector<TFlatCondition> &conditions, const TFlatFilterHost &host);

// Whether the record under test meets every condition (stopping at the first
// that fails). Conditions must have been resolved.
bool MeetsConditions(const std::vector<TFlatCondition> &conditions, TFlatFilterHost &host,
                     bool caseInsensitive);

// The text a value shows to LIKE: integers in decimal, booleans "Yes"/"No",
// floating point as "0.######", dates and times in their short text (empty
// when NULL), texts and memos as they are, BLOB and Graphic as "Not Found".
std::string FlatValueText(const TVariant &value, int typeCode);
