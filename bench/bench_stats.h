/*
 * bench_stats.h -- order statistics for the benchmarks: Percentile by
 * nearest rank, the definition under which "p99 of 1,000 answers" is the
 * 990th fastest of them, an answer that was really seen.
 */
#ifndef QUENTA_BENCH_STATS_H
#define QUENTA_BENCH_STATS_H

#include <stddef.h>

#include <algorithm>
#include <vector>

/*
 * Returns the p-th percentile of values, 0 < p <= 100, by nearest rank: the
 * value at rank ceil(p * n / 100) (at least 1) of the n values in ascending
 * order. values must not be empty; its order does not matter.
 */
inline double Percentile(std::vector<double> values, double p)
{
    const double n = static_cast<double>(values.size());
    size_t rank = static_cast<size_t>(p * n / 100.0);
    if (static_cast<double>(rank) < p * n / 100.0)
        rank++;
    rank = std::max<size_t>(1, std::min(rank, values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(rank - 1), values.end());
    return values[rank - 1];
}

#endif
