#include "common/string_conversion.h"

#include "common/hresult_error.h"

#include <climits>
#include <cstring>
#include <new>

std::string WideToNarrow(const wchar_t* wide) {
    if (wide == nullptr || wide[0] == L'\0')
        return std::string();
    try {
        const size_t length = wcslen(wide);
        if (length > static_cast<size_t>(INT_MAX / 2 - 1))
            throw HResultError(E_OUTOFMEMORY);
        // Converted straight into the result, zeroed first, then cut at its
        // first zero byte: one allocation, no second copy of a long URL.
        std::string narrow(2 * (length + 1), '\0');
        const int written = WideCharToMultiByte(CP_ACP, 0, wide, -1, &narrow[0],
                                                static_cast<int>(narrow.size()), nullptr, nullptr);
        if (written == 0)
            throw HResultError::FromLastError();
        narrow.resize(std::strlen(narrow.c_str()));
        return narrow;
    } catch (const std::bad_alloc&) {
        throw HResultError(E_OUTOFMEMORY);
    }
}

std::wstring NarrowToWide(const char* narrow) {
    if (narrow == nullptr || narrow[0] == '\0')
        return std::wstring();
    try {
        const int needed = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
        if (needed == 0)
            throw HResultError::FromLastError();
        // Converted straight into the result, terminator included, which is
        // then dropped: one allocation, as on the way out.
        std::wstring wide(static_cast<size_t>(needed), L'\0');
        if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, &wide[0], needed) == 0)
            throw HResultError::FromLastError();
        wide.resize(wcslen(wide.c_str()));
        return wide;
    } catch (const std::bad_alloc&) {
        throw HResultError(E_OUTOFMEMORY);
    }
}
