// The Browser Helper Object: identity, siting, the event connection and the
// dispatch of the browser's events.
#include "browser/ie_helper.h"

#include "common/boundary.h"
#include "common/identifiers.h"

#include <exdispid.h>

STDMETHODIMP WebCorvaneIEHelper::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<IWebCorvaneIEHelper*>(this);
    } else if (IsEqualIID(iid, IID_ObjectWithSite)) {
        *object = static_cast<IObjectWithSite*>(this);
    } else if (IsEqualIID(iid, IID_ObjectSafety)) {
        *object = static_cast<IObjectSafety*>(this);
    } else if (IsEqualIID(iid, IID_IWebCorvaneIEHelper)) {
        *object = static_cast<IWebCorvaneIEHelper*>(this);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) WebCorvaneIEHelper::AddRef() {
    return static_cast<ULONG>(++refCount);
}

STDMETHODIMP_(ULONG) WebCorvaneIEHelper::Release() {
    const LONG count = --refCount;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

// The helper describes no type: a caller that asks is told so.
STDMETHODIMP WebCorvaneIEHelper::GetTypeInfoCount(UINT* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP WebCorvaneIEHelper::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_FAIL;
}

// The helper only listens to its browser's events, which arrive by DISPID: no
// name reaches any member. Every identifier asked for is written, so that a
// script host never goes on to Invoke with whatever its variable held.
STDMETHODIMP WebCorvaneIEHelper::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
    if (ids == nullptr)
        return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

bool WebCorvaneIEHelper::PassNavigationEvent() noexcept {
    if (!hostIsMaxthon)
        return true;
    if (!eventArmed)
        return false;
    eventArmed = FALSE;
    return true;
}

STDMETHODIMP WebCorvaneIEHelper::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* params,
                                        VARIANT*, EXCEPINFO*, UINT*) {
    // While the agent answers, COM keeps this thread pumping messages, and the
    // browser may release this object from within the call (a tab closing):
    // the call holds a reference of its own, so the object and the DLL stay
    // until it has returned.
    const ComPtr<IWebCorvaneIEHelper> alive =
        ComPtr<IWebCorvaneIEHelper>::Share(static_cast<IWebCorvaneIEHelper*>(this));
    // Whatever a handler or the disconnection meets, the browser hears S_OK.
    GuardBoundary([&] {
        switch (dispIdMember) {
            case DISPID_QUIT:
            case DISPID_ONQUIT:
                DisconnectBrowserEvents();
                break;
            case DISPID_BEFORENAVIGATE2:
                if (PassNavigationEvent())
                    OnBeforeNavigate2(params);
                break;
            case DISPID_NEWWINDOW2:
                if (PassNavigationEvent())
                    OnNewWindow2(params);
                break;
            case DISPID_NEWWINDOW3:
                if (PassNavigationEvent())
                    OnNewWindow3(params);
                break;
            default:
                eventArmed = TRUE;
                break;
        }
    });
    return S_OK;
}

STDMETHODIMP WebCorvaneIEHelper::SetSite(IUnknown* site) {
    return GuardBoundary(E_FAIL, [&] {
        if (site == nullptr)
            return E_FAIL;
        browser.QueryFrom(site, IID_WebBrowser2);
        return ConnectBrowserEvents(true);
    });
}

STDMETHODIMP WebCorvaneIEHelper::GetSite(REFIID, void**) {
    return E_FAIL;
}

// No safety is claimed for any interface: a page that creates the helper is
// told that scripting it is not safe.
STDMETHODIMP WebCorvaneIEHelper::GetInterfaceSafetyOptions(REFIID, DWORD* supported,
                                                           DWORD* enabled) {
    if (supported == nullptr || enabled == nullptr)
        return E_POINTER;
    *supported = 0;
    *enabled = 0;
    return S_OK;
}

STDMETHODIMP WebCorvaneIEHelper::SetInterfaceSafetyOptions(REFIID, DWORD, DWORD) {
    return S_OK;
}

HRESULT WebCorvaneIEHelper::ConnectBrowserEvents(bool connect) {
    // Without a browser, or a browser without connection points, there is
    // nothing to connect to.
    if (!browser)
        return E_NOINTERFACE;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = container.QueryFrom(browser.Get(), IID_ConnectionPointContainer);
    if (FAILED(hr) || !container)
        return FAILED(hr) ? hr : E_NOINTERFACE;

    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(DIID_WebBrowserEvents2, point.Receive());
    if (FAILED(hr))
        return hr;
    if (!point)
        return E_FAIL;

    if (connect) {
        // The sink is the primary, dispatch interface: the browser's
        // connection point accepts a plain IDispatch.
        hr = point->Advise(static_cast<IWebCorvaneIEHelper*>(this), &eventCookie);
    } else {
        hr = point->Unadvise(eventCookie);
    }
    return hr;
}

HRESULT WebCorvaneIEHelper::DisconnectBrowserEvents() {
    return ConnectBrowserEvents(false);
}
