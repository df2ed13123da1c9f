// Timing for the 32-bit benchmark programs: QueryPerformanceCounter, the
// median of repeated runs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

#include "../bench_timing.h"

inline double NowSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs `work` once to warm up, then at least `minRuns` times and for at
// least `minSeconds`; returns the median seconds of one run.
template <class Work>
double MedianSeconds(Work&& work, int minRuns = 5, double minSeconds = 1.0) {
    work();
    std::vector<double> runs;
    double start = NowSeconds();
    while (static_cast<int>(runs.size()) < minRuns || NowSeconds() - start < minSeconds) {
        double t0 = NowSeconds();
        work();
        runs.push_back(NowSeconds() - t0);
        if (runs.size() >= 1000) break;
    }
    return Median(runs);
}
