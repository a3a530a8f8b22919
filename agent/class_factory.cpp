#include "agent/class_factory.h"

#include "agent/agent_object.h"
#include "agent/local_server.h"

#include <windows.h>

namespace {
class AgentFactory final : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // A static object: its references are not counted.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (!HoldServerUnlessStopping())
            return CO_E_SERVER_STOPPING;
        const HRESULT hr = CreateAgentObject(iid, out);
        ReleaseServer();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            HoldServer();
        else
            ReleaseServer();
        return S_OK;
    }
};

AgentFactory factory;
}  // namespace

IUnknown* AgentClassFactory() noexcept {
    return &factory;
}
