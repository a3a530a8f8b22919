#pragma once

// A plain lock for state that every thread of the process shares. Windows
// builds use a critical section: the shipped binaries have no std::mutex
// (their runtime has no POSIX threads layer, whose imports Windows XP lacks).
// The native build keeps std::mutex, so that ThreadSanitizer sees the lock.

#ifdef _WIN32

#include <windows.h>

class ProcessLock {
  public:
    ProcessLock() noexcept { InitializeCriticalSection(&section_); }
    ~ProcessLock() { DeleteCriticalSection(&section_); }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    void lock() noexcept { EnterCriticalSection(&section_); }
    void unlock() noexcept { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

#else

#include <mutex>

using ProcessLock = std::mutex;

#endif
