#pragma once

// The process's one intercept state. Internet Explorer delivers the events of
// different tabs on different threads, so every transition runs whole under
// one lock, which is never held across a call into the browser or the agent.

#include "browser/intercept_state.h"
#include "common/process_lock.h"

#include <mutex>
#include <utility>

class SharedInterceptState {
  public:
    template <typename Transition>
    auto Apply(Transition&& transition) {
        std::lock_guard<ProcessLock> hold(lock_);
        return std::forward<Transition>(transition)(state_);
    }

  private:
    ProcessLock lock_;
    InterceptState state_;
};

extern SharedInterceptState interceptState;
