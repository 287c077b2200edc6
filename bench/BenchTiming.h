#pragma once
// What the decoder benches share: a stopwatch of wall-clock and processor
// time, and the median of a series.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

// Wall-clock and processor seconds of one decode; negative when the output
// differs from the original. Processor time is shown beside the wall clock:
// on a shared machine the wall clock also counts the others' load.
struct Timing {
    double wall = -1;
    double cpu = -1;
};

struct Stopwatch {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    Timing Stop(bool right) const {
        if (!right) return {};
        return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
                double(std::clock() - cpu) / CLOCKS_PER_SEC};
    }
};

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
