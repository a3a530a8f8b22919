#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

// DWebBrowserEvents2 arguments built as the browser builds them: rgvarg in
// reverse order of declaration, the Cancel flag last declared (index 0).
class BrowserEventArgs {
  public:
    ~BrowserEventArgs();
    BrowserEventArgs(const BrowserEventArgs&) = delete;
    BrowserEventArgs& operator=(const BrowserEventArgs&) = delete;

    // BeforeNavigate2(pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
    static BrowserEventArgs* BeforeNavigate2(const std::wstring& url);
    // NewWindow2(ppDisp, Cancel)
    static BrowserEventArgs* NewWindow2();
    // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
    static BrowserEventArgs* NewWindow3(const std::wstring& url, const std::wstring& context);

    DISPPARAMS* Params() { return &params_; }
    // BeforeNavigate2's PostData: the VARIANT its argument refers to, empty
    // as for a navigation without a body; cleared with the arguments.
    VARIANT& PostData() { return byRefTargets_[1]; }
    // The browser's Cancel value; starts at a value neither handler writes.
    VARIANT_BOOL cancel = 7;
    static constexpr VARIANT_BOOL kUntouched = 7;

  private:
    explicit BrowserEventArgs(UINT count);

    VARIANT args_[7];
    VARIANT byRefTargets_[5];
    IDispatch* newWindow_ = nullptr;
    DISPPARAMS params_ = {};
};
