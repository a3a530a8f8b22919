#include "tests/support/fake_moniker.h"

#include <cstring>

STDMETHODIMP FakeMoniker::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMoniker)) {
        *out = static_cast<IMoniker*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP FakeMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) {
    ++displayNameCalls;
    *name = nullptr;
    if (mode_ == kFail)
        return E_FAIL;
    if (mode_ == kOkWithoutName)
        return S_OK;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*name, name_.c_str(), bytes);
    return mode_ == kFalseWithName ? S_FALSE : S_OK;
}
