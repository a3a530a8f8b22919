#pragma once

#include <windows.h>

// Creates one agent object and hands out its interface `iid` in `*out` (NULL
// on failure).
HRESULT CreateAgentObject(REFIID iid, void** out) noexcept;
