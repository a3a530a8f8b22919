#include "common/bstr.h"

#include "common/hresult_error.h"

Bstr Bstr::FromWide(const std::wstring& text) {
    Bstr result;
    result.str_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
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
