#pragma once

// The download manager reads its requests only where Windows reports a major
// version below 6. Wine reports Windows 7 to the test executables; a test that
// needs XP runs in a copy of its executable that Wine is told, through its
// per-program AppDefaults, to give Windows XP.

#include <windows.h>

#include <string>

// The major version the system reports to this process.
DWORD ReportedMajorVersion();

// Whether this process is such a copy.
inline bool RunsAsWindowsXp() {
    return ReportedMajorVersion() < 6;
}

// Copies this executable to `exeName` beside it, has Wine report Windows XP
// to the copy, runs it with `arguments` and answers its exit code (see
// RunSelfAs).
int RunSelfAsWindowsXp(const std::string& exeName, const std::string& arguments);
