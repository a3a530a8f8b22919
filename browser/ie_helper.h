#pragma once

#include <windows.h>
#include <exdisp.h>
#include <objsafe.h>
#include <ocidl.h>

#include "common/com_ptr.h"
#include "common/module_state.h"

#include <string>

// The helper object's own interface: IDispatch, with no methods of its own.
struct IWebCorvaneIEHelper : public IDispatch {};

// The Browser Helper Object. One identity and one reference count behind its
// three interfaces; the browser's DWebBrowserEvents2 arrive in Invoke.
class WebCorvaneIEHelper : public IWebCorvaneIEHelper,
                           public IObjectWithSite,
                           public IObjectSafety {
  public:
    WebCorvaneIEHelper() noexcept = default;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** site) override;

    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

    // Connects to (true) or disconnects from (false) the browser's events.
    HRESULT ConnectBrowserEvents(bool connect);
    HRESULT DisconnectBrowserEvents();

    // The navigation handlers. Each takes the event's arguments as Invoke got
    // them, may write the event's Cancel flag, and may throw: Invoke catches.
    void OnBeforeNavigate2(DISPPARAMS* params);
    void OnNewWindow2(DISPPARAMS* params);
    void OnNewWindow3(DISPPARAMS* params);

  protected:
    virtual ~WebCorvaneIEHelper() = default;

  private:
    // In a Maxthon host only the first of a run of navigation events passes.
    bool PassNavigationEvent() noexcept;

    LONG refCount = 1;
    DWORD eventCookie = 0;
    BOOL eventArmed = TRUE;
    ComPtr<IWebBrowser2> browser;
    // Declared last so that it is destroyed first: the count drops, then
    // `browser` is released.
    LiveObjectToken liveToken;
};
