// What the benchmarks make of their rounds.
#pragma once

#include <algorithm>
#include <vector>

// The median of the rounds' figures (the mean of the middle two for an even
// count).
inline double BenchMedian(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
