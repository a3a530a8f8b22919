// DllMain and DllCanUnloadNow: the library's life in its host process.
#include "common/bounded_call.h"
#include "common/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID /*lpvReserved*/) {
    if (fdwReason != DLL_PROCESS_ATTACH)
        return TRUE;

    // One byte more than the platform may fill, so the path stays terminated
    // even when GetModuleFileNameA cuts it (XP then writes no terminator).
    char hostPath[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, hostPath, MAX_PATH);
    if (length != 0 && PathNamesMaxthon(hostPath))
        hostIsMaxthon = TRUE;

    moduleInstance = hinstDLL;
    DisableThreadLibraryCalls(hinstDLL);
    return TRUE;
}

// Once no object lives, the idle offer worker ends here, before COM may free
// the module: no thread of the module's outlives an answer of S_OK.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (liveObjectCount != 0)
        return S_FALSE;
    return EndIdleBoundedWorkers() ? S_OK : S_FALSE;
}
