#pragma once

// This executable's import table, for seams that stand in for a platform
// function the code under test calls (it is linked into the executable).

// The slot of `function` imported from `dll`, or null.
void** ImportSlot(const char* dll, const char* function);

// Puts `replacement` in the slot of `function` from `dll` and answers what
// was there (null when it is not imported).
void* SwapImport(const char* dll, const char* function, void* replacement);
