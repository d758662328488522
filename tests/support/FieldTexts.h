#pragma once
// The texts of one field over every record a data set shows, in its order (the
// data set ends past its last record).
#include <string>
#include <vector>

#include "storage/DataSet.h"

namespace orbtest {

inline std::vector<std::string> FieldTexts(TDataSet &t, const std::string &field = "Name")
{
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.FieldByName(field).AsString());
    return out;
}

} // namespace orbtest
