#pragma once
// The median of a benchmark's repeated measurements (the upper middle one of
// an even count): one disturbed run on a shared machine does not move it.
#include <algorithm>
#include <vector>

inline double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
