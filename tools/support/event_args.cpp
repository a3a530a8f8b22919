#include "tools/support/event_args.h"

BrowserEventArgs::BrowserEventArgs(UINT count) {
    for (VARIANT& v : args_)
        VariantInit(&v);
    for (VARIANT& v : byRefTargets_)
        VariantInit(&v);
    params_.rgvarg = args_;
    params_.cArgs = count;
}

BrowserEventArgs::~BrowserEventArgs() {
    for (VARIANT& v : byRefTargets_)
        VariantClear(&v);
    for (UINT i = 0; i < params_.cArgs; ++i) {
        if ((args_[i].vt & VT_BYREF) == 0)
            VariantClear(&args_[i]);
    }
}

BrowserEventArgs* BrowserEventArgs::BeforeNavigate2(const std::wstring& url) {
    auto* e = new BrowserEventArgs(7);
    e->args_[0].vt = VT_BYREF | VT_BOOL;
    e->args_[0].pboolVal = &e->cancel;
    // Headers, PostData, TargetFrameName, Flags, URL: each a VARIANT by reference.
    e->byRefTargets_[0].vt = VT_BSTR;
    e->byRefTargets_[0].bstrVal = SysAllocString(L"");
    e->byRefTargets_[1].vt = VT_EMPTY;
    e->byRefTargets_[2].vt = VT_BSTR;
    e->byRefTargets_[2].bstrVal = SysAllocString(L"");
    e->byRefTargets_[3].vt = VT_I4;
    e->byRefTargets_[3].lVal = 0;
    e->byRefTargets_[4].vt = VT_BSTR;
    e->byRefTargets_[4].bstrVal = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    for (int i = 0; i < 5; ++i) {
        e->args_[i + 1].vt = VT_BYREF | VT_VARIANT;
        e->args_[i + 1].pvarVal = &e->byRefTargets_[i];
    }
    e->args_[6].vt = VT_DISPATCH;
    e->args_[6].pdispVal = nullptr;
    return e;
}

BrowserEventArgs* BrowserEventArgs::NewWindow2() {
    auto* e = new BrowserEventArgs(2);
    e->args_[0].vt = VT_BYREF | VT_BOOL;
    e->args_[0].pboolVal = &e->cancel;
    e->args_[1].vt = VT_BYREF | VT_DISPATCH;
    e->args_[1].ppdispVal = &e->newWindow_;
    return e;
}

BrowserEventArgs* BrowserEventArgs::NewWindow3(const std::wstring& url,
                                               const std::wstring& context) {
    auto* e = new BrowserEventArgs(5);
    e->args_[0].vt = VT_BSTR;
    e->args_[0].bstrVal = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    e->args_[1].vt = VT_BSTR;
    e->args_[1].bstrVal = SysAllocStringLen(context.data(), static_cast<UINT>(context.size()));
    e->args_[2].vt = VT_UI4;
    e->args_[2].ulVal = 0;
    e->args_[3].vt = VT_BYREF | VT_BOOL;
    e->args_[3].pboolVal = &e->cancel;
    e->args_[4].vt = VT_BYREF | VT_DISPATCH;
    e->args_[4].ppdispVal = &e->newWindow_;
    return e;
}
