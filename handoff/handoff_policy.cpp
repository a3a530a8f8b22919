// The hand-off policy: scheme, switch, extension list and extension. The
// string rules live in url_policy.cpp; here they meet "UserConfig.ini".
#include "handoff/download_handoff.h"

#include "common/module_path.h"
#include "handoff/url_policy.h"
#include "common/module_state.h"

#include <cstring>

namespace {
volatile LONG configurationReads = 0;
}  // namespace

bool DownloadHandoff::GetModuleDirectory(char (&buffer)[MAX_PATH]) noexcept {
    if (!GetModulePath(moduleInstance, buffer))
        return false;
    CutAfterLastBackslash(buffer);
    return true;
}

bool DownloadHandoff::GetConfigurationPath(char (&buffer)[MAX_PATH]) noexcept {
    char directory[MAX_PATH];
    return GetModuleDirectory(directory) && GetConfigurationPathIn(directory, buffer);
}

bool DownloadHandoff::GetConfigurationPathIn(const char* directory,
                                             char (&buffer)[MAX_PATH]) noexcept {
    const size_t used = std::strlen(directory);
    if (used + sizeof(kConfigurationFile) > MAX_PATH)
        return false;
    std::memcpy(buffer, directory, used);
    std::memcpy(buffer + used, kConfigurationFile, sizeof(kConfigurationFile));
    return true;
}

int DownloadHandoff::ReadMonitorValue(const char* path) noexcept {
    return static_cast<int>(GetPrivateProfileIntA(kSettingsSection, kSwitchKey, 1, path));
}

void DownloadHandoff::ReadExtensionList(const char* path, char* buffer, DWORD size) noexcept {
    GetPrivateProfileStringA(kSettingsSection, kListKey, kDefaultExtensionList, buffer, size, path);
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
    return IsSwitchOn(ReadMonitorValue(path));
}

bool DownloadHandoff::GetExtensionList(char* buffer, DWORD size) noexcept {
    char path[MAX_PATH];
    if (!GetConfigurationPath(path))
        return false;
    InterlockedIncrement(&configurationReads);
    ReadExtensionList(path, buffer, size);
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
    char extensions[kExtensionListBufferSize];
    if (!GetExtensionList(extensions, sizeof(extensions)))
        return false;
    return MatchesExtension(url, extensions);
}
