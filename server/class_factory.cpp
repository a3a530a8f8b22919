// Class objects. Placeholder until the class objects are built: no class is
// available yet.
#include <windows.h>
#include <objbase.h>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/,
                                                    LPVOID* ppv) {
    if (ppv != nullptr)
        *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;  // PLACEHOLDER: replaced by the class objects.
}
