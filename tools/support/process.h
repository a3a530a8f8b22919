#pragma once

#include <windows.h>

#include <string>

// This executable's own path.
std::string SelfPath();

// Runs `exe` with the command-line tail `arguments` and waits; answers its
// exit code, or -1 when it could not be started (-2 after `timeoutMs`, the
// process then ended). Standard output and error are inherited.
int RunProcess(const std::string& exe, const std::string& arguments, DWORD timeoutMs = 120000);
