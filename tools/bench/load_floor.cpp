// The floor of the load benchmark: the least an in-process helper object can
// be. A class object, and an object that on SetSite takes its site's browser
// and connects to the browser's events, as the library's helper does; it
// disconnects on OnQuit. No runtime beyond what the compiler needs.
#include "common/identifiers.h"

#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

namespace {

volatile LONG liveObjects = 0;

class FloorHelper final : public IDispatch, public IObjectWithSite {
  public:
    FloorHelper() { InterlockedIncrement(&liveObjects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
            *out = static_cast<IDispatch*>(this);
        else if (IsEqualIID(iid, IID_ObjectWithSite))
            *out = static_cast<IObjectWithSite*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --refs_;
        if (refs == 0)
            delete this;
        return refs;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_FAIL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (id == DISPID_ONQUIT || id == DISPID_QUIT)
            Connect(false);
        return S_OK;
    }

    STDMETHODIMP SetSite(IUnknown* site) override {
        if (site == nullptr)
            return E_FAIL;
        IWebBrowser2* browser = nullptr;
        site->QueryInterface(IID_WebBrowser2, reinterpret_cast<void**>(&browser));
        if (browser_ != nullptr)
            browser_->Release();
        browser_ = browser;
        return Connect(true);
    }
    STDMETHODIMP GetSite(REFIID, void**) override { return E_FAIL; }

  private:
    ~FloorHelper() {
        if (browser_ != nullptr)
            browser_->Release();
        InterlockedDecrement(&liveObjects);
    }

    HRESULT Connect(bool connect) {
        if (browser_ == nullptr)
            return E_NOINTERFACE;
        IConnectionPointContainer* container = nullptr;
        HRESULT hr = browser_->QueryInterface(IID_ConnectionPointContainer,
                                              reinterpret_cast<void**>(&container));
        if (FAILED(hr))
            return hr;
        IConnectionPoint* point = nullptr;
        hr = container->FindConnectionPoint(DIID_WebBrowserEvents2, &point);
        if (SUCCEEDED(hr)) {
            hr = connect ? point->Advise(static_cast<IDispatch*>(this), &cookie_)
                         : point->Unadvise(cookie_);
            point->Release();
        }
        container->Release();
        return hr;
    }

    ULONG refs_ = 1;
    DWORD cookie_ = 0;
    IWebBrowser2* browser_ = nullptr;
};

class FloorFactory final : public IClassFactory {
  public:
    FloorFactory() { InterlockedIncrement(&liveObjects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --refs_;
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        FloorHelper* helper = new FloorHelper();
        const HRESULT hr = helper->QueryInterface(iid, out);
        helper->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return E_NOTIMPL; }

  private:
    ~FloorFactory() { InterlockedDecrement(&liveObjects); }
    ULONG refs_ = 1;
};

}  // namespace

// Any class identifier: the benchmark asks for the class it was given.
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, LPVOID* out) {
    FloorFactory* factory = new FloorFactory();
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return liveObjects == 0 ? S_OK : S_FALSE;
}
