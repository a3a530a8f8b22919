#include "native_host/system_clock.h"

#include <windows.h>

namespace {

// Milliseconds between 1601, FILETIME's origin, and the Unix epoch.
constexpr std::int64_t kFileTimeEpochMs = 11644473600000;

}  // namespace

std::int64_t SystemClock::NowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return ticks / 10000 - kFileTimeEpochMs;
}
