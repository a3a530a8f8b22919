#pragma once

#include <utility>

// The one guard at every boundary towards the platform: whatever the body
// throws, the caller sees `onError` and nothing else.
template <typename Result, typename Body>
Result GuardBoundary(Result onError, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onError;
    }
}

// For operations that answer nothing (the event handlers).
template <typename Body>
void GuardBoundary(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}
