// What the string half of the hand-off decision costs: IsSupportedUrl and
// MatchesExtension over the default list, for URLs of typical length and for
// a URL of 2 MB, the longest Internet Explorer accepts. Every row is the
// median of repeated runs, each run a batch of decisions long enough for the
// clock to resolve it.
//   url_policy_bench [runs]
#include "handoff/url_policy.h"
#include "tools/bench/bench_figures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Written after every batch, so no decision can be dropped as unused.
volatile unsigned long decisionsTaken = 0;

bool Decide(const char* url) {
    return IsSupportedUrl(url) && MatchesExtension(url, kDefaultExtensionList);
}

struct Case {
    std::string name;
    std::string url;
};

std::string Long(const std::string& prefix, const std::string& suffix) {
    constexpr std::size_t kLongest = 2 * 1024 * 1024;
    std::string url = prefix;
    // Path segments of ordinary length, so both searches for "/" and "."
    // meet characters of both kinds all the way.
    while (url.size() + suffix.size() < kLongest)
        url += "segment.v1/";
    url.resize(kLongest - suffix.size());
    return url + suffix;
}

std::vector<Case> Cases() {
    return {
        {"http, .exe, in list", "http://www.example.com/downloads/setup-2.4.1.exe"},
        {"https, .zip upper case, in list",
         "https://files.example.org/releases/2024/archive-of-all-sources-v3.ZIP"},
        {"ftp, .iso, in list",
         "ftp://mirror.example.net/pub/linux/distributions/images/install-dvd-x86_64.iso"},
        {"corvane://, list not read", "corvane://task/8f2c41/http%3A%2F%2Fhost%2Fa.bin"},
        {"http, .html, not in list",
         "http://www.example.com/news/articles/2024/06/a-rather-long-article-title-here.html"},
        {"https, query, not in list",
         "https://cdn.example.org/media/videos/2024/holiday/clip_final.mp4?token=abc123&s=9"},
        {"http, no extension", "http://www.example.com/"},
        {"http, dot before the last slash",
         "http://www.example.com/v1.2/download/latest/for/windows/and/other/systems/"},
        {"http, 120 characters, .rar",
         "http://downloads.example.com/projects/sample-project/releases/version-12.4.7/"
         "packages/sample-project-12.4.7-full-x64.rar"},
        {"javascript:, unsupported scheme", "javascript:void(window.open('a.zip'))"},
        {"about:, unsupported scheme", "about:blank"},
        {"mailto:, unsupported scheme", "mailto:someone@example.com?subject=report.pdf"},
        {"2 MB, http, .zip, in list", Long("http://host.example.com/", "file.zip")},
        {"2 MB, http, .html, not in list", Long("http://host.example.com/", "page.html")},
        {"2 MB, http, query, no extension", Long("http://host.example.com/get?f=", "x")},
        {"2 MB, javascript:, unsupported", Long("javascript:", "a.zip")},
    };
}

// Nanoseconds of one decision in a batch of `count`.
double TimeBatch(const char* url, long count) {
    unsigned long taken = 0;
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i)
        taken += Decide(url) ? 1 : 0;
    const auto end = Clock::now();
    decisionsTaken = decisionsTaken + taken;
    return std::chrono::duration<double, std::nano>(end - start).count() /
           static_cast<double>(count);
}

// A batch size whose run lasts at least 2 ms.
long CalibrateBatch(const char* url) {
    long count = 1;
    while (count < (1L << 30)) {
        if (TimeBatch(url, count) * static_cast<double>(count) >= 2e6)
            break;
        count *= 2;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    std::printf(
        "URL policy: IsSupportedUrl + MatchesExtension (default list), "
        "median of %d runs\n",
        runs);
    std::printf("%-36s %9s %8s %10s %14s\n", "URL", "chars", "verdict", "batch", "ns/decision");
    const std::vector<Case> cases = Cases();
    // Sizing every batch first also warms the caches and the clock rate
    // before the first row is measured.
    std::vector<long> batches;
    for (const Case& c : cases)
        batches.push_back(CalibrateBatch(c.url.c_str()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const char* url = c.url.c_str();
        const long batch = batches[i];
        std::vector<double> samples;
        for (int run = 0; run < runs; ++run)
            samples.push_back(TimeBatch(url, batch));
        std::printf("%-36s %9zu %8s %10ld %14.1f\n", c.name.c_str(), c.url.size(),
                    Decide(url) ? "hand" : "refuse", batch, Summarise(std::move(samples)).median);
    }
    return 0;
}
