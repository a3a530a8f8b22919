#pragma once

#include <windows.h>

#include <string>

// The full path of `module`. False when the platform gives no name or cut it
// to fit MAX_PATH characters: a cut path names another file.
bool GetModulePath(HMODULE module, std::wstring& path);

// The folder of `path` with its trailing backslash; a path without a
// backslash stays whole.
std::wstring DirectoryOf(const std::wstring& path);

// The folder of `module` with its trailing backslash: where the library
// keeps its settings and what registration names as its help folder.
bool GetModuleDirectory(HMODULE module, std::wstring& directory);
