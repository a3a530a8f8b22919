#pragma once

#include <windows.h>
#include <unknwn.h>

#include "common/module_state.h"

// The class object of one of the library's two classes. A new one for every
// DllGetClassObject call; none is cached or shared.
class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(REFCLSID classId) noexcept : classId(classId) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

  private:
    ~ClassFactory() = default;

    LONG refCount = 1;
    CLSID classId;
    LiveObjectToken liveToken;
};
