#include "tests/support/failing_allocations.h"

#include "tests/support/import_slot.h"

#include <oleauto.h>

#include <cstdlib>
#include <new>

namespace {

// Counted on every thread while armed: a hand-off makes its offer on a
// thread of its own while the arming thread waits for it, so the two never
// allocate at once and the n-th allocation is the same in every run.
volatile LONG armed = 0;
int remaining = 0;
bool fired = false;
long bstrBalance = 0;

bool Armed() noexcept {
    return armed != 0;
}

// True for the one allocation that is to fail.
bool FailThisOne() noexcept {
    if (!Armed() || fired)
        return false;
    if (--remaining > 0)
        return false;
    fired = true;
    return true;
}

void* Allocate(std::size_t size) noexcept {
    if (FailThisOne())
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

using AllocString = BSTR(WINAPI*)(const OLECHAR*);
using AllocStringLen = BSTR(WINAPI*)(const OLECHAR*, UINT);
using FreeString = void(WINAPI*)(BSTR);
AllocString realAllocString = nullptr;
AllocStringLen realAllocStringLen = nullptr;
FreeString realFreeString = nullptr;

BSTR WINAPI FailingAllocString(const OLECHAR* text) {
    if (FailThisOne())
        return nullptr;
    BSTR result = realAllocString(text);
    if (Armed() && result != nullptr)
        ++bstrBalance;
    return result;
}

BSTR WINAPI FailingAllocStringLen(const OLECHAR* text, UINT length) {
    if (FailThisOne())
        return nullptr;
    BSTR result = realAllocStringLen(text, length);
    if (Armed() && result != nullptr)
        ++bstrBalance;
    return result;
}

void WINAPI CountingFreeString(BSTR text) {
    if (Armed() && text != nullptr)
        --bstrBalance;
    realFreeString(text);
}

// Puts `replacement` in the slot and answers what was there.
template <typename Function>
Function Swap(const char* function, Function replacement) {
    return reinterpret_cast<Function>(
        SwapImport("oleaut32.dll", function, reinterpret_cast<void*>(replacement)));
}

}  // namespace

FailingAllocation::FailingAllocation(int n) {
    remaining = n;
    fired = false;
    bstrBalance = 0;
    realAllocString = Swap("SysAllocString", &FailingAllocString);
    realAllocStringLen = Swap("SysAllocStringLen", &FailingAllocStringLen);
    realFreeString = Swap("SysFreeString", &CountingFreeString);
    InterlockedExchange(&armed, 1);
}

FailingAllocation::~FailingAllocation() {
    InterlockedExchange(&armed, 0);
    Swap("SysAllocString", realAllocString);
    Swap("SysAllocStringLen", realAllocStringLen);
    Swap("SysFreeString", realFreeString);
}

bool FailingAllocation::Fired() const {
    return fired;
}

long FailingAllocation::BstrBalance() const {
    return bstrBalance;
}

// The executable's allocation functions, failing on demand. Linked into an
// executable only with this seam.
void* operator new(std::size_t size) {
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
