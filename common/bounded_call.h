#pragma once

#include <windows.h>

#include <memory>
#include <utility>

// A call into another process that the caller's thread waits for at most a
// bound: the body runs on a worker thread of the module's, in the process's
// multithreaded apartment, while the caller waits in COM's modal loop, so a
// browser's apartment keeps dispatching. Past the bound the caller goes on
// without the answer; the body runs to its end, and its answer goes to the
// body itself (BoundedBody::EndedLate). Until then the module counts one live
// object, so that DllCanUnloadNow keeps the code it runs.
//
// The workers outlive the calls: a thread of its own for every call cost
// more under Wine than the whole call to a running agent. Each holds a
// reference on the module and lets go of it as its thread's very last act,
// after a minute idle or once EndIdleBoundedWorkers asks; so at most one idle
// worker waits for the next call at any time.

enum class BoundedResult {
    kReturnedTrue,
    // The body returned false or threw, or no worker could be had for it.
    kReturnedFalse,
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
    // The answer of a Run whose caller stopped waiting at the bound (false
    // for one that threw), on the worker's thread. A Run that ends as the
    // caller gives up may still answer its caller: then this is not called.
    virtual void EndedLate(bool /*answer*/) {}
};

// Runs `body`; answers its answer, or kTimedOut once `boundMs` passed first,
// or kBusy at once without running it (see above).
BoundedResult RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept;

// Ends every idle worker, without waiting for their threads: each lets go
// of the module only as its thread ends, so nothing unloads code it still
// runs. True when every worker was idle; false while a body runs. Asked by
// DllCanUnloadNow once no object lives.
bool EndIdleBoundedWorkers() noexcept;

// Waits up to `maxMs` until no body runs, given up or not; true when none
// does. A program that ends lets a given-up body deliver its late answer.
bool WaitForBoundedBodies(DWORD maxMs) noexcept;

namespace bounded_call_detail {
struct NoLateAnswer {
    void operator()(bool) const noexcept {}
};
}  // namespace bounded_call_detail

// `body` returns bool; `late` takes the answer of a body given up at its
// bound (see BoundedBody::EndedLate).
template <typename Body, typename Late = bounded_call_detail::NoLateAnswer>
BoundedResult RunBounded(Body&& body, DWORD boundMs, Late&& late = Late()) noexcept {
    class Holder final : public BoundedBody {
      public:
        Holder(Body&& b, Late&& l) : body_(std::forward<Body>(b)), late_(std::forward<Late>(l)) {}
        bool Run() override { return body_(); }
        void EndedLate(bool answer) override { late_(answer); }

      private:
        std::decay_t<Body> body_;
        std::decay_t<Late> late_;
    };
    try {
        return RunBounded(std::unique_ptr<BoundedBody>(
                              new Holder(std::forward<Body>(body), std::forward<Late>(late))),
                          boundMs);
    } catch (...) {
        return BoundedResult::kReturnedFalse;  // no memory for the body's copy
    }
}
