#pragma once

#include <windows.h>

#include <string>

// The one conversion between the ANSI code page and UTF-16. Both directions
// raise HResultError: E_OUTOFMEMORY when memory is short, the thread's last
// error when the code page conversion fails. A null input is the empty string.

// Converts up to the first zero character. The narrow buffer holds two bytes
// per wide character plus a terminator, enough for every double-byte code page.
std::string WideToNarrow(const wchar_t* wide);

std::wstring NarrowToWide(const char* narrow);
