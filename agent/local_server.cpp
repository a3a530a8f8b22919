#include "agent/local_server.h"

#include "agent/class_factory.h"
#include "download_agent.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace {
volatile LONG serverHolds = 0;
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
    MSG message;
    for (;;) {
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // A creation already under way when the last hold went may have
        // given out an object since: serve it to its end.
        if (serverHolds == 0)
            break;
    }
    StopTakingActivations();
    CoUninitialize();
    return 0;
}
