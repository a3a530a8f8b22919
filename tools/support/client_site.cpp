#include "tools/support/client_site.h"

#include "common/com_ptr.h"

#include <oleidl.h>

namespace {

class ClientSite final : public IOleClientSite {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOleClientSite))
            return E_NOINTERFACE;
        *object = static_cast<IOleClientSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker != nullptr)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container != nullptr)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  private:
    ~ClientSite() = default;
    LONG refs_ = 1;
};

}  // namespace

HRESULT GiveClientSite(IUnknown* control) {
    ComPtr<IOleObject> oleObject;
    HRESULT hr = oleObject.QueryFrom(control, IID_IOleObject);
    if (FAILED(hr))
        return hr;
    ClientSite* site = new ClientSite;
    hr = oleObject->SetClientSite(site);
    site->Release();
    return hr;
}
