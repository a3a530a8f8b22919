// DllMain and DllCanUnloadNow: the library's life in its host process.
#include "server/module_state.h"

#include <cstring>

HINSTANCE moduleInstance = nullptr;
volatile LONG liveObjectCount = 0;
BOOL hostIsMaxthon = FALSE;

bool PathNamesMaxthon(char* path) noexcept {
    for (char* c = path; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z')
            *c = static_cast<char>(*c - 'A' + 'a');
    }
    return std::strstr(path, "maxthon.exe") != nullptr;
}

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
