#include "agent/registration.h"

#include "agent/agent_settings.h"
#include "common/com_ptr.h"
#include "common/guid_text.h"
#include "common/hresult_error.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "download_agent.h"

#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <shlwapi.h>

#include <string>

namespace {
constexpr wchar_t kFriendlyName[] = L"Corvane download agent";

// Who may start the agent and call it: the interactive user, the system and
// administrators as COM's defaults allow, and ALL APPLICATION PACKAGES
// (S-1-15-2-1), so that a browser tab in an AppContainer (Enhanced Protected
// Mode) reaches it. Launch: execute, execute and activate locally (0xB);
// access: execute locally (0x3).
constexpr wchar_t kLaunchPermission[] =
    L"O:BAG:BAD:(A;;0xb;;;IU)(A;;0xb;;;SY)(A;;0xb;;;BA)(A;;0xb;;;S-1-15-2-1)";
constexpr wchar_t kAccessPermission[] =
    L"O:BAG:BAD:(A;;0x3;;;PS)(A;;0x3;;;IU)(A;;0x3;;;SY)(A;;0x3;;;BA)(A;;0x3;;;S-1-15-2-1)";

std::wstring GuidText(REFGUID guid) {
    std::string text;
    if (!GuidToText(guid, text))
        throw HResultError(E_OUTOFMEMORY);
    return Utf8ToWide(text);
}

void Check(LONG status) {
    if (status != ERROR_SUCCESS)
        throw HResultError(HRESULT_FROM_WIN32(status));
}

void CheckHr(HRESULT hr) {
    if (FAILED(hr))
        throw HResultError(hr);
}

void SetNamedValue(const std::wstring& subkey, const wchar_t* name, const std::wstring& value) {
    RegKey key;
    Check(RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          key.Receive(), nullptr));
    Check(RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

void SetDefaultValue(const std::wstring& subkey, const std::wstring& value) {
    SetNamedValue(subkey, nullptr, value);
}

// A security descriptor, given in SDDL, as the self-relative binary COM reads.
void SetSecurityValue(const std::wstring& subkey, const wchar_t* name, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              &size))
        throw HResultError(HRESULT_FROM_WIN32(GetLastError()));
    RegKey key;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, key.Receive(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.Get(), name, 0, REG_BINARY,
                                static_cast<const BYTE*>(descriptor), size);
    }
    LocalFree(descriptor);
    Check(status);
}

void DeleteTree(const std::wstring& subkey) {
    const LONG status = SHDeleteKeyW(HKEY_CLASSES_ROOT, subkey.c_str());
    if (status != ERROR_FILE_NOT_FOUND)
        Check(status);
}

bool KeyExists(const std::wstring& subkey) {
    return RegistryKeyExists(HKEY_CLASSES_ROOT, subkey);
}

void UnregisterTypeLibrary(const std::wstring& path) {
    ComPtr<ITypeLib> typeLib;
    CheckHr(LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib.Receive()));
    TLIBATTR* attributes = nullptr;
    CheckHr(typeLib->GetLibAttr(&attributes));
    const TLIBATTR library = *attributes;
    typeLib->ReleaseTLibAttr(attributes);
    // UnRegisterTypeLib fails for a library that is not registered; absent
    // is what we want, so only a registered one is asked to go.
    const std::wstring versionKey = L"TypeLib\\" + GuidText(library.guid) + L"\\" +
                                    std::to_wstring(library.wMajorVerNum) + L"." +
                                    std::to_wstring(library.wMinorVerNum);
    if (KeyExists(versionKey)) {
        CheckHr(UnRegisterTypeLib(library.guid, library.wMajorVerNum, library.wMinorVerNum,
                                  library.lcid, library.syskind));
    }
}
}  // namespace

void RegisterAgent() {
    const std::wstring path = ExecutablePath();
    const std::wstring clsid = GuidText(CLSID_CorvaneAgent);
    const std::wstring classKey = L"CLSID\\" + clsid;
    try {
        SetDefaultValue(kAgentProgId, kFriendlyName);
        SetDefaultValue(std::wstring(kAgentProgId) + L"\\CLSID", clsid);
        SetDefaultValue(classKey, kFriendlyName);
        // Quoted: COM runs this as a command line, and the path may hold spaces.
        SetDefaultValue(classKey + L"\\LocalServer32", L"\"" + path + L"\"");
        SetDefaultValue(classKey + L"\\ProgID", kAgentProgId);
        const std::wstring appIdKey = L"AppID\\" + clsid;
        SetNamedValue(classKey, L"AppID", clsid);
        SetDefaultValue(appIdKey, kFriendlyName);
        SetSecurityValue(appIdKey, L"LaunchPermission", kLaunchPermission);
        SetSecurityValue(appIdKey, L"AccessPermission", kAccessPermission);
        // Also writes Interface\{IID} with the automation marshaler as its
        // proxy/stub, which is what lets clients in other processes call us.
        ComPtr<ITypeLib> typeLib;
        CheckHr(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, typeLib.Receive()));
    } catch (...) {
        try {
            UnregisterAgent();
        } catch (...) {
        }
        throw;
    }
}

void UnregisterAgent() {
    // Every step is tried, so that one failure leaves as little as possible
    // behind; the first failure is the one reported.
    HRESULT firstFailure = S_OK;
    auto attempt = [&firstFailure](auto&& step) {
        try {
            step();
        } catch (const HResultError& error) {
            if (SUCCEEDED(firstFailure))
                firstFailure = error.hr();
        }
    };
    attempt([] { UnregisterTypeLibrary(ExecutablePath()); });
    attempt([] { DeleteTree(L"CLSID\\" + GuidText(CLSID_CorvaneAgent)); });
    attempt([] { DeleteTree(L"AppID\\" + GuidText(CLSID_CorvaneAgent)); });
    attempt([] { DeleteTree(kAgentProgId); });
    if (FAILED(firstFailure))
        throw HResultError(firstFailure);
}
