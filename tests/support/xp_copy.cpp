#include "tests/support/xp_copy.h"

#include "common/win_handles.h"
#include "tests/support/child_process.h"

DWORD ReportedMajorVersion() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    return version.dwMajorVersion;
}

int RunSelfAsWindowsXp(const std::string& exeName, const std::string& arguments) {
    const std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    RegKey appKey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        appKey.Receive(), nullptr) != ERROR_SUCCESS)
        return -11;
    static const char kXp[] = "winxp";
    if (RegSetValueExA(appKey.Get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(kXp),
                       sizeof(kXp)) != ERROR_SUCCESS)
        return -11;
    const std::string self = SelfPath();
    const std::string dir = self.substr(0, self.find_last_of('\\') + 1);
    return RunSelfAs(dir + exeName, arguments);
}
