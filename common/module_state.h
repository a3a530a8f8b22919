#pragma once

#include <windows.h>

// Module-wide values, one set per process: what every part of the library
// may read of the module it lives in, set by the entry point at process attach
// and by every object as it comes and goes.

// The library's own instance handle, stored at process attach.
extern HINSTANCE moduleInstance;
// Live objects of the library, class objects included; changed atomically.
extern volatile LONG liveObjectCount;
// Whether the host executable's path names "maxthon.exe"; set at attach.
extern BOOL hostIsMaxthon;

// Lower-cases the ASCII letters of `path` in place and answers whether
// "maxthon.exe" occurs anywhere in it.
bool PathNamesMaxthon(char* path) noexcept;

// Every object of the library holds one of these: construction adds to
// liveObjectCount, destruction subtracts.
class LiveObjectToken {
  public:
    LiveObjectToken() noexcept { InterlockedIncrement(&liveObjectCount); }
    ~LiveObjectToken() { InterlockedDecrement(&liveObjectCount); }
    LiveObjectToken(const LiveObjectToken&) = delete;
    LiveObjectToken& operator=(const LiveObjectToken&) = delete;
};
