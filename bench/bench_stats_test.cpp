/*
 * bench_stats_test.cpp -- Percentile by nearest rank: the rank for small
 * and large samples, fractional ranks rounding up, order not mattering.
 */
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "bench_stats.h"

namespace {

/* 1, 2, ..., n in descending order, so that sorting is needed. */
std::vector<double> Descending(int n)
{
    std::vector<double> v(static_cast<size_t>(n));
    std::iota(v.rbegin(), v.rend(), 1.0);
    return v;
}

TEST(Percentile, NearestRankOfOneToN)
{
    struct Case {
        int n;
        double p;
        double expected;
    } cases[] = {
        {1000, 99, 990},  {1000, 50, 500}, {1000, 100, 1000}, {1000, 99.9, 999},
        {100, 99, 99},    {100, 50, 50},   {100, 1, 1},       {3, 50, 2},
        {4, 50, 2},       {2, 99, 2},      {1, 50, 1},        {1, 99, 1},
        {10, 0.01, 1},    {7, 100, 7},     {1001, 99, 991},   {999, 99, 990},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << " p " << c.p);
        EXPECT_EQ(Percentile(Descending(c.n), c.p), c.expected);
    }
}

TEST(Percentile, ValuesNotRanks)
{
    struct Case {
        std::vector<double> values;
        double p;
        double expected;
    } cases[] = {
        {{5.5, 0.25, 3.0}, 50, 3.0},
        {{5.5, 0.25, 3.0}, 100, 5.5},
        {{7, 7, 7, 1}, 50, 7},
        {{-2, 4, -8, 0}, 25, -8},
        {{250.5, 4000.0, 80.25, 91.0, 79.0}, 99, 4000.0},
        {{250.5, 4000.0, 80.25, 91.0, 79.0}, 80, 250.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "p " << c.p << " of " << testing::PrintToString(c.values));
        EXPECT_EQ(Percentile(c.values, c.p), c.expected);
    }
}

}  // namespace
