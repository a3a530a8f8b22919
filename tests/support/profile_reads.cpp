#include "tests/support/profile_reads.h"

#include "tests/support/import_slot.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

using GetInt = UINT(WINAPI*)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
using GetString = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
GetInt realGetInt = nullptr;
GetString realGetString = nullptr;
int reads = 0;

UINT WINAPI CountingGetInt(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR path) {
    ++reads;
    return realGetInt(section, key, fallback, path);
}

DWORD WINAPI CountingGetString(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer,
                               DWORD size, LPCWSTR path) {
    ++reads;
    return realGetString(section, key, fallback, buffer, size, path);
}

}  // namespace

ProfileReads::ProfileReads() {
    reads = 0;
    realGetInt = reinterpret_cast<GetInt>(SwapImport("kernel32.dll", "GetPrivateProfileIntW",
                                                     reinterpret_cast<void*>(&CountingGetInt)));
    realGetString = reinterpret_cast<GetString>(SwapImport(
        "kernel32.dll", "GetPrivateProfileStringW", reinterpret_cast<void*>(&CountingGetString)));
    // A seam that is not in place would count nothing and prove nothing.
    EXPECT_NE(nullptr, realGetInt);
    EXPECT_NE(nullptr, realGetString);
}

ProfileReads::~ProfileReads() {
    if (realGetInt != nullptr)
        SwapImport("kernel32.dll", "GetPrivateProfileIntW", reinterpret_cast<void*>(realGetInt));
    if (realGetString != nullptr) {
        SwapImport("kernel32.dll", "GetPrivateProfileStringW",
                   reinterpret_cast<void*>(realGetString));
    }
}

int ProfileReads::Count() const {
    return reads;
}
