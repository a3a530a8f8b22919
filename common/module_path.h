#pragma once

#include <windows.h>

// The full path of `module` in `buffer` (MAX_PATH bytes). False when the
// platform gives no name or cut it to fit: a cut path names another file.
bool GetModulePath(HMODULE module, char (&buffer)[MAX_PATH]) noexcept;

// Ends `path` right after its last backslash, walking by characters of the
// ANSI code page so that the trail byte of a double-byte character is never
// taken for one. A path without a backslash stays whole.
void CutAfterLastBackslash(char* path) noexcept;
