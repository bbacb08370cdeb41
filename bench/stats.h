// Order statistics for the benchmarks' samples.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * double(values.size())));
    return values[at];
}

inline void printSummary(const char *what, const char *unit, const std::vector<double> &values)
{
    std::printf("%s: n=%zu median=%.3f %s p99=%.3f %s max=%.3f %s\n", what, values.size(),
                percentile(values, 0.5), unit, percentile(values, 0.99), unit,
                percentile(values, 1.0), unit);
}
