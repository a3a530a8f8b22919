#pragma once

#include <windows.h>

#include <memory>
#include <utility>

// A call into another process that the caller's thread waits for at most a
// bound: the body runs on a worker thread of the module's, in the process's
// multithreaded apartment, while the caller waits in COM's modal loop, so a
// browser's apartment keeps dispatching. Past the bound the caller goes on
// without the answer; the body runs to its end unseen. Until then the module
// counts one live object, so that DllCanUnloadNow keeps the code it runs.
//
// The workers outlive the calls: a thread of its own for every call cost
// more under Wine than the whole call to a running agent. Each holds a
// reference on the module and ends with it, after a minute idle or once
// EndIdleBoundedWorkers asks; so at most one idle worker waits for the next
// call at any time.

enum class BoundedAnswer {
    kYes,
    kNo,
    kTimedOut,
    // Not run: an earlier body still runs, either one given up at its bound
    // or one for which this very thread waits further down its stack (a call
    // that the modal loop dispatched into that wait).
    kBusy,
};

// What a worker runs. It owns everything it uses: the caller's frame may be
// gone before it ends.
class BoundedBody {
  public:
    virtual ~BoundedBody() = default;
    virtual bool Run() = 0;
};

// Runs `body`; answers its answer, or kTimedOut once `boundMs` passed first,
// or kBusy at once without running it (see above). A body that throws
// answers kNo; so does one for which no worker can be had.
BoundedAnswer RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept;

// Ends every idle worker and waits (briefly) until each has ended. True when
// no worker is left, so that nothing of the module runs on any thread; false
// while a body still runs. DllCanUnloadNow asks it once no object lives.
bool EndIdleBoundedWorkers() noexcept;

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
