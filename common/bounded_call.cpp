#include "common/bounded_call.h"

#include "common/boundary.h"
#include "common/module_state.h"
#include "common/process_lock.h"

#include <objbase.h>

#include <mutex>
#include <new>
#include <optional>

namespace {

// An idle worker ends after this long without a body, so that a module its
// host let go of without asking DllCanUnloadNow does not stay loaded for good.
constexpr DWORD kIdleMs = 60000;
// How often WaitForBoundedBodies looks again: it serves a program's end.
constexpr DWORD kBodyPollMs = 20;

enum class WorkerState {
    kIdle,      // waits for a body
    kRunning,   // runs a body its caller waits for
    kAnswered,  // the body's answer waits for its caller
    kGivenUp,   // runs a body whose caller stopped waiting at the bound
    kEnding,    // on its way out, on no list: its own thread deletes it
};

struct Worker {
    Worker() noexcept = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() {
        for (HANDLE handle : {wake, answered}) {
            if (handle != nullptr)
                CloseHandle(handle);
        }
    }

    HANDLE wake = nullptr;      // auto-reset: a body, or the end, is there
    HANDLE answered = nullptr;  // manual-reset: `answer` holds the body's answer
    HMODULE module = nullptr;   // the thread's own reference on the module
    WorkerState state = WorkerState::kIdle;
    DWORD caller = 0;  // the thread that waits for the body
    std::unique_ptr<BoundedBody> body;
    bool answer = false;
    // While a body is the worker's, the module counts a live object.
    std::optional<LiveObjectToken> busy;
    Worker* next = nullptr;
};

// The module's workers, under one lock that is never held across a body or a
// wait. Never destroyed: linked into a program rather than a DLL, a worker
// may still wake while the runtime destroys the statics on the way out.
struct Pool {
    ProcessLock lock;
    Worker* workers = nullptr;  // every worker that is not ending
    LONG givenUp = 0;           // workers in kGivenUp
};

Pool& ThePool() noexcept {
    alignas(Pool) static unsigned char storage[sizeof(Pool)];
    static Pool* const pool = new (storage) Pool();
    return *pool;
}

// The functions below that take the pool run under its lock.

void Unlink(Worker*& list, Worker* worker) noexcept {
    for (Worker** link = &list; *link != nullptr; link = &(*link)->next) {
        if (*link == worker) {
            *link = worker->next;
            worker->next = nullptr;
            return;
        }
    }
}

// From here on only the worker's own thread refers to it.
void BeginEnd(Pool& pool, Worker* worker) noexcept {
    Unlink(pool.workers, worker);
    worker->state = WorkerState::kEnding;
    SetEvent(worker->wake);
}

Worker* IdleWorker(const Pool& pool) noexcept {
    for (Worker* worker = pool.workers; worker != nullptr; worker = worker->next) {
        if (worker->state == WorkerState::kIdle)
            return worker;
    }
    return nullptr;
}

bool AllIdle(const Pool& pool) noexcept {
    for (Worker* worker = pool.workers; worker != nullptr; worker = worker->next) {
        if (worker->state != WorkerState::kIdle)
            return false;
    }
    return true;
}

// One idle worker is enough: a second one, left from calls of several
// threads at once, ends.
void GoIdle(Pool& pool, Worker* worker) noexcept {
    worker->busy.reset();
    worker->caller = 0;
    if (IdleWorker(pool) != nullptr) {
        BeginEnd(pool, worker);
    } else {
        worker->state = WorkerState::kIdle;
    }
}

// Whether `thread` waits for a body, or has yet to collect its answer.
bool WaitsForABody(const Pool& pool, DWORD thread) noexcept {
    for (Worker* worker = pool.workers; worker != nullptr; worker = worker->next) {
        if ((worker->state == WorkerState::kRunning || worker->state == WorkerState::kAnswered) &&
            worker->caller == thread)
            return true;
    }
    return false;
}

DWORD WINAPI WorkerThread(void* parameter) {
    Worker* const worker = static_cast<Worker*>(parameter);
    const HMODULE module = worker->module;
    Pool& pool = ThePool();
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (;;) {
        const DWORD woke = WaitForSingleObject(worker->wake, kIdleMs);
        std::unique_ptr<BoundedBody> body;
        {
            std::lock_guard<ProcessLock> hold(pool.lock);
            if (worker->state == WorkerState::kEnding)
                break;
            if (woke != WAIT_OBJECT_0 && worker->state == WorkerState::kIdle) {
                BeginEnd(pool, worker);
                break;
            }
            if (worker->state != WorkerState::kRunning || !worker->body)
                continue;  // a wake left over from a body already run
            body = std::move(worker->body);
        }
        bool answer = false;
        if (SUCCEEDED(init))
            answer = GuardBoundary(false, [&] { return body->Run(); });

        bool late = false;
        {
            std::lock_guard<ProcessLock> hold(pool.lock);
            // A caller that has not given up yet takes the answer, even one
            // whose bound passed just now.
            late = worker->state == WorkerState::kGivenUp;
            if (!late) {
                worker->answer = answer;
                worker->state = WorkerState::kAnswered;
                SetEvent(worker->answered);
            }
        }
        // Still counted as given up: a program waiting for its bodies to
        // end (WaitForBoundedBodies) sees the late answer delivered first.
        if (late)
            GuardBoundary([&] { body->EndedLate(answer); });
        // The body's copies go here, on this thread, whoever waits for it.
        body.reset();
        if (late) {
            std::lock_guard<ProcessLock> hold(pool.lock);
            --pool.givenUp;
            GoIdle(pool, worker);
        }
    }
    delete worker;
    if (SUCCEEDED(init))
        CoUninitialize();
    // The module's code runs until the thread's very end: the thread holds a
    // reference of its own on the module and lets go of it on its way out.
    FreeLibraryAndExitThread(module, 0);
    return 0;  // not reached
}

Worker* StartWorker(Pool& pool) noexcept {
    std::unique_ptr<Worker> worker(new (std::nothrow) Worker());
    if (!worker)
        return nullptr;
    worker->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    worker->answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (worker->wake == nullptr || worker->answered == nullptr)
        return nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&WorkerThread), &worker->module))
        return nullptr;
    const HANDLE thread = CreateThread(nullptr, 0, WorkerThread, worker.get(), 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(worker->module);
        return nullptr;
    }
    // Nobody waits for a worker's end: its reference on the module is what
    // keeps its code.
    CloseHandle(thread);
    worker->next = pool.workers;
    pool.workers = worker.get();
    return worker.release();
}

// Waits for `answered`, at most `boundMs`: in COM's modal loop where the
// thread has an apartment, plainly where it has none.
void WaitForAnswer(HANDLE answered, DWORD boundMs) noexcept {
    const DWORD started = GetTickCount();
    DWORD index = 0;
    const HRESULT hr = CoWaitForMultipleHandles(0, boundMs, 1, &answered, &index);
    if (hr == S_OK || hr == RPC_S_CALLPENDING)
        return;
    const DWORD spent = GetTickCount() - started;
    WaitForSingleObject(answered, spent < boundMs ? boundMs - spent : 0);
}

}  // namespace

BoundedResult RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept {
    if (!body)
        return BoundedResult::kReturnedFalse;
    Pool& pool = ThePool();
    const DWORD self = GetCurrentThreadId();
    Worker* worker = nullptr;
    {
        std::lock_guard<ProcessLock> hold(pool.lock);
        // A body given up at its bound may wait on an agent that hangs: one
        // such wait is enough for the user. A call dispatched into this
        // thread's own wait would hold the waiting caller past its bound.
        if (pool.givenUp != 0 || WaitsForABody(pool, self))
            return BoundedResult::kBusy;
        worker = IdleWorker(pool);
        if (worker == nullptr)
            worker = StartWorker(pool);
        if (worker == nullptr)
            return BoundedResult::kReturnedFalse;
        worker->state = WorkerState::kRunning;
        worker->caller = self;
        worker->body = std::move(body);
        worker->busy.emplace();
        ResetEvent(worker->answered);
        SetEvent(worker->wake);
    }
    // The worker stays the pool's until its answer is collected here, or,
    // given up, until its body has ended.
    WaitForAnswer(worker->answered, boundMs);
    std::lock_guard<ProcessLock> hold(pool.lock);
    if (worker->state == WorkerState::kAnswered) {
        const bool answer = worker->answer;
        GoIdle(pool, worker);
        return answer ? BoundedResult::kReturnedTrue : BoundedResult::kReturnedFalse;
    }
    worker->state = WorkerState::kGivenUp;
    worker->caller = 0;
    ++pool.givenUp;
    return BoundedResult::kTimedOut;
}

bool EndIdleBoundedWorkers() noexcept {
    Pool& pool = ThePool();
    std::lock_guard<ProcessLock> hold(pool.lock);
    if (!AllIdle(pool))
        return false;
    while (pool.workers != nullptr)
        BeginEnd(pool, pool.workers);
    return true;
}

bool WaitForBoundedBodies(DWORD maxMs) noexcept {
    Pool& pool = ThePool();
    const DWORD started = GetTickCount();
    for (;;) {
        {
            std::lock_guard<ProcessLock> hold(pool.lock);
            if (AllIdle(pool))
                return true;
        }
        if (GetTickCount() - started >= maxMs)
            return false;
        Sleep(kBodyPollMs);
    }
}
