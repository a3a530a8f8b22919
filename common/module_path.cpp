#include "common/module_path.h"

bool GetModulePath(HMODULE module, char (&buffer)[MAX_PATH]) noexcept {
    buffer[0] = '\0';
    const DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}

void CutAfterLastBackslash(char* path) noexcept {
    char* cut = nullptr;
    for (char* c = path; *c != '\0'; c = CharNextA(c)) {
        if (*c == '\\')
            cut = c + 1;
    }
    if (cut != nullptr)
        *cut = '\0';
}
