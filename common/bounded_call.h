#pragma once

#include <windows.h>

#include <memory>
#include <utility>

// A call into another process that the caller's thread waits for at most a
// bound: the body runs on a thread of its own, in that thread's own
// multithreaded apartment, while the caller waits in COM's modal loop, so a
// browser's apartment keeps dispatching. Past the bound the caller goes on
// without the answer; the body runs to its end unseen, and its thread ends
// with it. Until then the module counts one live object, so that
// DllCanUnloadNow keeps the code the thread runs.

enum class BoundedAnswer { kYes, kNo, kTimedOut };

// What the thread runs. It owns everything it uses: the caller's frame may be
// gone before it ends.
class BoundedBody {
  public:
    virtual ~BoundedBody() = default;
    virtual bool Run() = 0;
};

// Runs `body`; answers its answer, or kTimedOut once `boundMs` passed first.
// A body that throws answers kNo; so does one whose thread cannot be had.
BoundedAnswer RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept;

template <typename Body>
BoundedAnswer RunBounded(Body&& body, DWORD boundMs) noexcept {
    class Holder final : public BoundedBody {
      public:
        explicit Holder(Body&& b) : body_(std::forward<Body>(b)) {}
        bool Run() override { return body_(); }

      private:
        std::decay_t<Body> body_;
    };
    try {
        return RunBounded(std::unique_ptr<BoundedBody>(new Holder(std::forward<Body>(body))),
                          boundMs);
    } catch (...) {
        return BoundedAnswer::kNo;  // no memory for the body's copy
    }
}
