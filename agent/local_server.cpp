#include "agent/local_server.h"

#include "agent/agent_settings.h"
#include "agent/class_factory.h"
#include "download_agent.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <mutex>

#include "common/process_lock.h"

namespace {
// COM starts the agent for a client that asks for an object at once. Should
// none come (its activation failed, or it only took the class object), the
// agent would never see a last hold go: it gives up after this long.
constexpr DWORD kFirstClientWaitMs = 10000;

// Holds and the decision to stop change together: an activation that comes
// as the last hold goes is either served or refused, never given an object
// of a process on its way out.
ProcessLock holdLock;
LONG serverHolds = 0;
bool stopping = false;
volatile LONG everHeld = 0;
volatile LONG classRegistered = 0;
DWORD classCookie = 0;
// Set, once per time, when the last hold goes.
HANDLE lastHoldGone = nullptr;

void StopTakingActivations() noexcept {
    if (InterlockedExchange(&classRegistered, 0) != 0)
        CoRevokeClassObject(classCookie);
}
}  // namespace

void HoldServer() noexcept {
    const std::lock_guard<ProcessLock> hold(holdLock);
    ++serverHolds;
    InterlockedExchange(&everHeld, 1);
}

bool HoldServerUnlessStopping() noexcept {
    const std::lock_guard<ProcessLock> hold(holdLock);
    if (stopping)
        return false;
    ++serverHolds;
    InterlockedExchange(&everHeld, 1);
    return true;
}

void ReleaseServer() noexcept {
    {
        const std::lock_guard<ProcessLock> hold(holdLock);
        if (--serverHolds != 0)
            return;
        stopping = true;
    }
    // Revoked at once, not after the wait: an activation from now on starts a
    // fresh agent instead of reaching this one on its way out.
    StopTakingActivations();
    SetEvent(lastHoldGone);
}

int RunLocalServer() noexcept {
    const long silentMs = ReadSilentStartSetting();
    if (silentMs >= 0) {
        // Started, never serving: the client's activation waits for a class
        // object that never comes.
        Sleep(static_cast<DWORD>(silentMs));
        return 0;
    }
    // Multithreaded: each client's call runs on a thread of its own, so one
    // slow AddTask holds up no other client. The shared state has its lock.
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    lastHoldGone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (lastHoldGone == nullptr) {
        CoUninitialize();
        return 1;
    }
    // One process serves every client: the agent's task list is one list.
    const HRESULT hr = CoRegisterClassObject(CLSID_CorvaneAgent, AgentClassFactory(),
                                             CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &classCookie);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CorvaneAgent: CoRegisterClassObject failed (0x%08lX)\n",
                     static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    InterlockedExchange(&classRegistered, 1);
    const bool firstCame =
        WaitForSingleObject(lastHoldGone, kFirstClientWaitMs) == WAIT_OBJECT_0 || everHeld != 0;
    if (firstCame) {
        // The last hold went. A creation already under way then may have given
        // out an object since: serve it to its end.
        for (;;) {
            {
                const std::lock_guard<ProcessLock> hold(holdLock);
                if (serverHolds == 0)
                    break;
            }
            WaitForSingleObject(lastHoldGone, INFINITE);
        }
    }
    StopTakingActivations();
    // No CoUninitialize: the call that let go of the last hold may still be
    // on its way back to its client, and Wine's CoUninitialize then waits for
    // it while holding what its reply needs. The process's end tears down the
    // apartment; the class object is revoked already, so rpcss forgets it.
    return 0;
}
