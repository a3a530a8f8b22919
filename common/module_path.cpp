#include "common/module_path.h"

bool GetModulePath(HMODULE module, std::wstring& path) {
    // One character more than the platform may fill: XP leaves a cut path
    // without its terminator.
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    path.assign(buffer, length);
    return true;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const std::size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? path : path.substr(0, backslash + 1);
}

bool GetModuleDirectory(HMODULE module, std::wstring& directory) {
    std::wstring path;
    if (!GetModulePath(module, path))
        return false;
    directory = DirectoryOf(path);
    return true;
}
