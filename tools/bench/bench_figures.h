#pragma once

// What every benchmark here reports of its samples, and how it takes one:
// plain C++, so that the native benchmark shares it with those under Wine.
#include <algorithm>
#include <chrono>
#include <vector>

struct Figures {
    double median = 0;
    double p90 = 0;
};

// The median and the 90th percentile; no samples give zeros.
inline Figures Summarise(std::vector<double> samples) {
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 9 / 10]};
}

// Microseconds from `start` to `end`.
inline double Microseconds(std::chrono::steady_clock::time_point start,
                           std::chrono::steady_clock::time_point end) {
    return std::chrono::duration<double, std::micro>(end - start).count();
}

// Microseconds that one call of `step` takes.
template <typename Step>
double TimeOnce(Step&& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return Microseconds(start, std::chrono::steady_clock::now());
}
