#pragma once
// Routines that work on any data set: the linear locate that the in-memory
// table uses as its Locate, and copying one record's values into another data
// set's record (loading into and saving from the in-memory table).
#include "storage/DataSet.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Upper-cases UTF-8 text letter by letter (all scripts, not just a to z);
// bytes that are not valid UTF-8 are kept as they are.
std::string UpperCaseText(std::string_view text);

// Whether one field of the current record matches one key value: a string
// field by its text (a prefix of it with loPartialKey, ignoring letter case
// with loCaseInsensitive), any other field by value.
bool LocateCompareField(const TField &field, const TVariant &value, TLocateOptions options);

// Whether every key field of the current record matches its key value
// (field i against value i).
bool LocateCompareRecord(const std::vector<TField *> &fields, const std::vector<TVariant> &keyValues,
                         TLocateOptions options);

// Finds the first record whose key fields (";"-separated) match the key values
// and makes it current. The current record is kept when it already matches;
// when nothing matches the data set stays where it was. Display updates are
// suspended during the walk.
bool DataSetLocateThrough(TDataSet &dataSet, const std::string &keyFields,
                          const std::vector<TVariant> &keyValues, TLocateOptions options);

// Copies the current record of `source` into the record being edited or
// inserted in `dest`: by field name, or by the position of the field
// definitions. Raises "Dataset not in edit or insert mode" when dest is not
// editing.
void AssignRecord(TDataSet &source, TDataSet &dest, bool byName);

// The pairs of fields (source, destination) that AssignRecord copies by name,
// looked up once so that a copy of many records does not search names per record.
using TFieldPairs = std::vector<std::pair<TField *, TField *>>;
TFieldPairs MatchFieldsByName(TDataSet &source, TDataSet &dest);
// AssignRecord by name over pairs from MatchFieldsByName.
void AssignRecord(const TFieldPairs &pairs, TDataSet &dest);
