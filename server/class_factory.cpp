// Class objects and DllGetClassObject.
#include "server/class_factory.h"

#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "common/boundary.h"
#include "common/identifiers.h"

#include <new>

namespace {
// Hands out `riid` of a new object and drops the creator's own reference, so
// that a failed query destroys the object again.
template <typename Object, typename Interface>
HRESULT HandOut(Object* object, REFIID riid, void** out) {
    if (object == nullptr)
        return E_OUTOFMEMORY;
    Interface* primary = object;
    const HRESULT hr = primary->QueryInterface(riid, out);
    primary->Release();
    return hr;
}
}  // namespace

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    return static_cast<ULONG>(++refCount);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    const LONG count = --refCount;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return GuardBoundary(E_FAIL, [&] {
        if (IsEqualCLSID(classId, CLSID_WebCorvaneIEHelper)) {
            return HandOut<WebCorvaneIEHelper, IWebCorvaneIEHelper>(
                new (std::nothrow) WebCorvaneIEHelper(), iid, object);
        }
        if (IsEqualCLSID(classId, CLSID_VDownloadManager)) {
            return HandOut<VDownloadManager, IDownloadManager>(
                new (std::nothrow) VDownloadManager(), iid, object);
        }
        return E_FAIL;
    });
}

// Locking the server is not supported and does not keep the library loaded.
STDMETHODIMP ClassFactory::LockServer(BOOL) {
    return E_NOTIMPL;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_WebCorvaneIEHelper) &&
        !IsEqualCLSID(rclsid, CLSID_VDownloadManager)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return GuardBoundary(E_FAIL, [&] {
        return HandOut<ClassFactory, IClassFactory>(new (std::nothrow) ClassFactory(rclsid), riid,
                                                    ppv);
    });
}
