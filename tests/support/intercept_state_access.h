#pragma once

// The process's intercept state, as a test sets it before an event and reads
// it after.

#include "browser/shared_intercept_state.h"

inline void SetInterceptState(const InterceptState& value = InterceptState()) {
    interceptState.Apply([&](InterceptState& s) { s = value; });
}

inline InterceptState CurrentInterceptState() {
    return interceptState.Apply([](InterceptState& s) { return s; });
}
