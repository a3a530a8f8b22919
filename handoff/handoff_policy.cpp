// The hand-off policy: scheme, switch, extension list and extension. The
// string rules live in url_policy.cpp; here they meet "UserConfig.ini".
#include "handoff/download_handoff.h"

#include "common/module_path.h"
#include "handoff/url_policy.h"
#include "common/module_state.h"

#include <cstring>

namespace {
constexpr char kConfigurationFile[] = "UserConfig.ini";
constexpr char kSection[] = "Monitor";
// "ExtendNames" is read into this many bytes with the terminator.
constexpr DWORD kExtensionListSize = 1024;
volatile LONG configurationReads = 0;
}  // namespace

bool DownloadHandoff::GetModuleDirectory(char (&buffer)[MAX_PATH]) noexcept {
    if (!GetModulePath(moduleInstance, buffer))
        return false;
    CutAfterLastBackslash(buffer);
    return true;
}

bool DownloadHandoff::GetConfigurationPath(char (&buffer)[MAX_PATH]) noexcept {
    if (!GetModuleDirectory(buffer))
        return false;
    const size_t used = std::strlen(buffer);
    if (used + sizeof(kConfigurationFile) > MAX_PATH)
        return false;
    std::memcpy(buffer + used, kConfigurationFile, sizeof(kConfigurationFile));
    return true;
}

unsigned long DownloadHandoff::ConfigurationReads() noexcept {
    return static_cast<unsigned long>(configurationReads);
}

bool DownloadHandoff::IsSupportedUrl(const char* url) noexcept {
    return ::IsSupportedUrl(url);
}

bool DownloadHandoff::IsMonitorEnabled() noexcept {
    char path[MAX_PATH];
    if (!GetConfigurationPath(path))
        return false;
    InterlockedIncrement(&configurationReads);
    return GetPrivateProfileIntA(kSection, "MonitorIE", 1, path) == 1;
}

bool DownloadHandoff::GetExtensionList(char* buffer, DWORD size) noexcept {
    char path[MAX_PATH];
    if (!GetConfigurationPath(path))
        return false;
    InterlockedIncrement(&configurationReads);
    GetPrivateProfileStringA(kSection, "ExtendNames", kDefaultExtensionList, buffer, size, path);
    return true;
}

bool DownloadHandoff::MatchesExtension(const char* url, const char* list) noexcept {
    return ::MatchesExtension(url, list);
}

bool DownloadHandoff::PolicyAllows(const char* url) noexcept {
    if (url == nullptr || !IsSupportedUrl(url))
        return false;
    if (!IsMonitorEnabled())
        return false;
    char extensions[kExtensionListSize];
    if (!GetExtensionList(extensions, sizeof(extensions)))
        return false;
    return MatchesExtension(url, extensions);
}
