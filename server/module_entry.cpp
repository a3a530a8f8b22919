// DllMain and DllCanUnloadNow: the library's life in its host process.
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

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return liveObjectCount != 0 ? S_FALSE : S_OK;
}
