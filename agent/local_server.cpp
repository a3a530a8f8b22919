#include "agent/local_server.h"

#include "agent/class_factory.h"
#include "download_agent.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace {
// COM starts the agent for a client that asks for an object at once. Should
// none come (its activation failed, or it only took the class object), the
// agent would never see a last hold go: it gives up after this long.
constexpr UINT kFirstClientWaitMs = 10000;

volatile LONG serverHolds = 0;
bool everHeld = false;
DWORD classCookie = 0;
bool classRegistered = false;

void StopTakingActivations() noexcept {
    if (classRegistered) {
        CoRevokeClassObject(classCookie);
        classRegistered = false;
    }
}
}  // namespace

void HoldServer() noexcept {
    InterlockedIncrement(&serverHolds);
    everHeld = true;
}

void ReleaseServer() noexcept {
    if (InterlockedDecrement(&serverHolds) != 0)
        return;
    // Revoked at once, not after the loop: an activation from now on starts a
    // fresh agent instead of reaching this one on its way out.
    StopTakingActivations();
    PostQuitMessage(0);
}

int RunLocalServer() noexcept {
    // Apartment-threaded: every call arrives through this thread's message
    // loop, one at a time, so the agent's state needs no lock.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    // One process serves every client: the agent's task list is one list.
    HRESULT hr = CoRegisterClassObject(CLSID_CorvaneAgent, AgentClassFactory(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &classCookie);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CorvaneAgent: CoRegisterClassObject failed (0x%08lX)\n",
                     static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    classRegistered = true;
    const UINT_PTR firstClientTimer = SetTimer(nullptr, 0, kFirstClientWaitMs, nullptr);
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            // The last hold went. A creation already under way then may have
            // given out an object since: serve it to its end.
            if (serverHolds == 0)
                break;
            continue;
        }
        if (message.message == WM_TIMER && message.hwnd == nullptr &&
            message.wParam == firstClientTimer) {
            KillTimer(nullptr, firstClientTimer);
            if (!everHeld)
                break;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    StopTakingActivations();
    CoUninitialize();
    return 0;
}
