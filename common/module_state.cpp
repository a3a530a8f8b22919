#include "common/module_state.h"

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
