#pragma once

#include "tools/support/process.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A child mode is a function of this test executable that a test runs in a
// fresh process: `exe --child=NAME args...`. Its result is the exit code.
using ChildMode = std::function<int(const std::vector<std::string>& args)>;

struct ChildModeRegistration {
    ChildModeRegistration(const char* name, ChildMode mode);
};

#define REGISTER_CHILD_MODE(name, fn) static ChildModeRegistration childMode_##name(#name, fn)

int RunChildMode(const char* name, int argc, char** argv);

// Copies this test executable to `exe` (its folder must exist), runs the copy
// with `arguments`, deletes it and answers its exit code; -10 when the copy
// could not be made. For what depends on the host's name or path.
int RunSelfAs(const std::string& exe, const std::string& arguments);
