// Self-registration. Placeholder until registration is built.
#include <windows.h>
#include <objbase.h>

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return S_OK;  // PLACEHOLDER: writes nothing yet.
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;  // PLACEHOLDER: removes nothing yet.
}
