#include "tests/support/child_process.h"

#include <cstdio>
#include <map>

namespace {
std::map<std::string, ChildMode>& Modes() {
    static std::map<std::string, ChildMode> modes;
    return modes;
}
}  // namespace

ChildModeRegistration::ChildModeRegistration(const char* name, ChildMode mode) {
    Modes()[name] = std::move(mode);
}

int RunChildMode(const char* name, int argc, char** argv) {
    auto it = Modes().find(name);
    if (it == Modes().end()) {
        std::fprintf(stderr, "unknown child mode %s\n", name);
        return 99;
    }
    return it->second(std::vector<std::string>(argv, argv + argc));
}

std::string SelfPath() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
    return path;
}

int RunProcess(const std::string& exe, const std::string& arguments, DWORD timeoutMs) {
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 98);
        code = static_cast<DWORD>(-2);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int RunSelfAs(const std::string& exe, const std::string& arguments) {
    if (!CopyFileA(SelfPath().c_str(), exe.c_str(), FALSE))
        return -10;
    const int result = RunProcess(exe, arguments);
    DeleteFileA(exe.c_str());
    return result;
}
