#include "common/bounded_call.h"

#include "common/boundary.h"
#include "common/module_state.h"
#include "common/win_handles.h"

#include <objbase.h>

#include <new>

namespace {

// Shared by the waiting thread and the body's thread; the last to let go
// frees it. The token keeps DllCanUnloadNow at S_FALSE while either holds it.
class BoundedRun {
  public:
    explicit BoundedRun(std::unique_ptr<BoundedBody> body) noexcept : body_(std::move(body)) {}
    BoundedRun(const BoundedRun&) = delete;
    BoundedRun& operator=(const BoundedRun&) = delete;

    void Release() noexcept {
        if (InterlockedDecrement(&holders_) == 0)
            delete this;
    }

    // On the body's thread.
    void Run() noexcept {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        bool yes = false;
        if (SUCCEEDED(init))
            yes = GuardBoundary(false, [&] { return body_->Run(); });
        // The body's copies go here, on its own thread, whoever frees the rest.
        body_.reset();
        if (SUCCEEDED(init))
            CoUninitialize();
        yes_ = yes ? 1 : 0;
    }

    bool Yes() const noexcept { return yes_ != 0; }

  private:
    ~BoundedRun() = default;

    LiveObjectToken token_;
    std::unique_ptr<BoundedBody> body_;
    volatile LONG holders_ = 2;
    volatile LONG yes_ = 0;
};

struct ThreadStart {
    BoundedRun* run;
    HMODULE module;
};

DWORD WINAPI BodyThread(void* parameter) {
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.run->Run();
    start.run->Release();
    // The module's code runs until the thread's very end: the thread holds a
    // reference of its own on the module and lets go of it on its way out.
    FreeLibraryAndExitThread(start.module, 0);
    return 0;  // not reached
}

// Waits for `thread` to end, at most `boundMs`: in COM's modal loop where the
// thread has an apartment, plainly where it has none.
bool WaitForEnd(HANDLE thread, DWORD boundMs) noexcept {
    const DWORD started = GetTickCount();
    DWORD index = 0;
    const HRESULT hr = CoWaitForMultipleHandles(0, boundMs, 1, &thread, &index);
    if (hr == S_OK)
        return true;
    if (hr == RPC_S_CALLPENDING)
        return false;
    const DWORD spent = GetTickCount() - started;
    return WaitForSingleObject(thread, spent < boundMs ? boundMs - spent : 0) == WAIT_OBJECT_0;
}

}  // namespace

BoundedAnswer RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept {
    if (!body)
        return BoundedAnswer::kNo;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&BodyThread), &module))
        return BoundedAnswer::kNo;
    BoundedRun* run = new (std::nothrow) BoundedRun(std::move(body));
    ThreadStart* start = run != nullptr ? new (std::nothrow) ThreadStart{run, module} : nullptr;
    FileHandle thread(start != nullptr ? CreateThread(nullptr, 0, BodyThread, start, 0, nullptr)
                                       : nullptr);
    if (!thread.Valid()) {
        delete start;
        if (run != nullptr) {
            run->Release();
            run->Release();
        }
        FreeLibrary(module);
        return BoundedAnswer::kNo;
    }
    // The thread's end, not a signal from inside it: once it has ended, its
    // apartment is gone and nothing of the module runs on it any more.
    const bool ended = WaitForEnd(thread.Get(), boundMs);
    const bool yes = ended && run->Yes();
    run->Release();
    if (!ended)
        return BoundedAnswer::kTimedOut;
    return yes ? BoundedAnswer::kYes : BoundedAnswer::kNo;
}
