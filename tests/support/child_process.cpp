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

int RunSelfAs(const std::string& exe, const std::string& arguments) {
    if (!CopyFileA(SelfPath().c_str(), exe.c_str(), FALSE))
        return -10;
    const int result = RunProcess(exe, arguments);
    DeleteFileA(exe.c_str());
    return result;
}
