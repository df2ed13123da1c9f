// Plain timing for the benchmark programs that interleave their contenders
// round by round (natively and in the 32-bit build): the seconds one piece
// of work takes, and the median of the rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

inline double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The middle value (the upper one of an even count); 0 when there is none.
inline double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
