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
// How long EndIdleBoundedWorkers waits for idle workers to end: they only
// leave their apartment and exit.
constexpr DWORD kEndWaitMs = 2000;

enum class WorkerState {
    kIdle,      // waits for a body
    kRunning,   // runs a body its caller waits for
    kAnswered,  // the body's answer waits for its caller
    kGivenUp,   // runs a body whose caller stopped waiting at the bound
    kEnding,    // on its way out: on the ended list until its thread is gone
};

struct Worker {
    Worker() noexcept = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() {
        for (HANDLE handle : {thread, wake, answered}) {
            if (handle != nullptr)
                CloseHandle(handle);
        }
    }

    HANDLE thread = nullptr;
    HANDLE wake = nullptr;      // auto-reset: a body, or the end, is there
    HANDLE answered = nullptr;  // manual-reset: `yes` holds the body's answer
    HMODULE module = nullptr;   // the thread's own reference on the module
    WorkerState state = WorkerState::kIdle;
    DWORD caller = 0;  // the thread that waits for the body
    std::unique_ptr<BoundedBody> body;
    bool yes = false;
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
    Worker* ended = nullptr;    // those ending, until their threads are gone
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

void BeginEnd(Pool& pool, Worker* worker) noexcept {
    Unlink(pool.workers, worker);
    worker->state = WorkerState::kEnding;
    worker->next = pool.ended;
    pool.ended = worker;
    SetEvent(worker->wake);
}

Worker* IdleWorker(const Pool& pool) noexcept {
    for (Worker* worker = pool.workers; worker != nullptr; worker = worker->next) {
        if (worker->state == WorkerState::kIdle)
            return worker;
    }
    return nullptr;
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

void ReapEnded(Pool& pool) noexcept {
    Worker** link = &pool.ended;
    while (*link != nullptr) {
        Worker* worker = *link;
        if (WaitForSingleObject(worker->thread, 0) == WAIT_OBJECT_0) {
            *link = worker->next;
            delete worker;
        } else {
            link = &worker->next;
        }
    }
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
        bool yes = false;
        if (SUCCEEDED(init))
            yes = GuardBoundary(false, [&] { return body->Run(); });
        // The body's copies go here, on this thread, whoever waits for it.
        body.reset();

        std::lock_guard<ProcessLock> hold(pool.lock);
        if (worker->state == WorkerState::kGivenUp) {
            --pool.givenUp;
            GoIdle(pool, worker);
        } else {
            worker->yes = yes;
            worker->state = WorkerState::kAnswered;
            SetEvent(worker->answered);
        }
    }
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
    worker->thread = CreateThread(nullptr, 0, WorkerThread, worker.get(), 0, nullptr);
    if (worker->thread == nullptr) {
        FreeLibrary(worker->module);
        return nullptr;
    }
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

BoundedAnswer RunBounded(std::unique_ptr<BoundedBody> body, DWORD boundMs) noexcept {
    if (!body)
        return BoundedAnswer::kNo;
    Pool& pool = ThePool();
    const DWORD self = GetCurrentThreadId();
    Worker* worker = nullptr;
    {
        std::lock_guard<ProcessLock> hold(pool.lock);
        ReapEnded(pool);
        // A body given up at its bound may wait on an agent that hangs: one
        // such wait is enough for the user. A call dispatched into this
        // thread's own wait would hold the waiting caller past its bound.
        if (pool.givenUp != 0 || WaitsForABody(pool, self))
            return BoundedAnswer::kBusy;
        worker = IdleWorker(pool);
        if (worker == nullptr)
            worker = StartWorker(pool);
        if (worker == nullptr)
            return BoundedAnswer::kNo;
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
        const bool yes = worker->yes;
        GoIdle(pool, worker);
        return yes ? BoundedAnswer::kYes : BoundedAnswer::kNo;
    }
    worker->state = WorkerState::kGivenUp;
    worker->caller = 0;
    ++pool.givenUp;
    return BoundedAnswer::kTimedOut;
}

bool EndIdleBoundedWorkers() noexcept {
    Pool& pool = ThePool();
    Worker* ending = nullptr;
    {
        std::lock_guard<ProcessLock> hold(pool.lock);
        for (Worker* worker = pool.workers; worker != nullptr; worker = worker->next) {
            if (worker->state != WorkerState::kIdle)
                return false;
        }
        while (pool.workers != nullptr)
            BeginEnd(pool, pool.workers);
        ending = pool.ended;
        pool.ended = nullptr;
    }
    const DWORD started = GetTickCount();
    bool allEnded = true;
    for (Worker* worker = ending; worker != nullptr; worker = worker->next) {
        const DWORD spent = GetTickCount() - started;
        if (WaitForSingleObject(worker->thread, spent < kEndWaitMs ? kEndWaitMs - spent : 0) !=
            WAIT_OBJECT_0)
            allEnded = false;
    }
    std::lock_guard<ProcessLock> hold(pool.lock);
    while (ending != nullptr) {
        Worker* worker = ending;
        ending = worker->next;
        worker->next = pool.ended;
        pool.ended = worker;
    }
    ReapEnded(pool);
    return allEnded && pool.ended == nullptr && pool.workers == nullptr;
}
