#include "common/bstr.h"

#include "common/hresult_error.h"
#include "common/string_conversion.h"

Bstr Bstr::FromNarrow(const char* narrow) {
    Bstr result;
    if (narrow == nullptr)
        return result;
    const std::wstring wide = NarrowToWide(narrow);
    result.str_ = SysAllocString(wide.c_str());
    if (result.str_ == nullptr)
        throw HResultError(E_OUTOFMEMORY);
    return result;
}

Bstr Bstr::Empty() {
    Bstr result;
    result.str_ = SysAllocString(L"");
    if (result.str_ == nullptr)
        throw HResultError(E_OUTOFMEMORY);
    return result;
}
