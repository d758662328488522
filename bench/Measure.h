#pragma once
// What the benchmarks measure with: seconds on the steady clock, and the median of repeated measurements
// (the upper middle one of an even count), so that one disturbed run on a shared machine does not move it.
#include <algorithm>
#include <chrono>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

inline double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
