#pragma once

// A seam that makes one allocation fail on demand: the n-th, counted from
// the arming on every thread (the arming thread waits while a hand-off's own
// thread makes the offer), of C++'s operator new (every form) and of
// the BSTR allocator this executable imports (SysAllocString and
// SysAllocStringLen, reached through its import table). While armed it also
// counts the BSTRs allocated and freed through those imports, so that a test
// sees whether every holder let go of what it held.

#include <windows.h>

class FailingAllocation {
  public:
    // Fails the `n`-th allocation from now on (1 is the next one).
    explicit FailingAllocation(int n);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the failure came: false when fewer than `n` allocations were made.
    bool Fired() const;
    // BSTRs allocated minus BSTRs freed while armed.
    long BstrBalance() const;
};
