#pragma once

// Helpers of the C++ benchmarks that run their cases in turn: medians of per-round ratios and
// the machine's load (ratios are only comparable under like load), as bench/rounds.sh does for
// the shell benchmarks.

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace BenchRounds {

// How many rounds to run: BENCH_ROUNDS when it is a positive number, else 5.
inline int count()
{
    const char* text = std::getenv("BENCH_ROUNDS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 5;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

// Per round a / b, then their median.
inline double medianRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        ratios.push_back(b[i] > 0 ? a[i] / b[i] : 0);
    return median(ratios);
}

// The 1, 5 and 15 minute load averages.
inline std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

inline void printLoad(const char* when)
{
    std::printf("load average %s: %s\n", when, loadAverage().c_str());
}

}  // namespace BenchRounds
