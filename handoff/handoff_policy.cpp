// The hand-off policy where the string rules of url_policy.cpp meet
// "UserConfig.ini".
#include "handoff/handoff_policy.h"

#include "common/module_path.h"
#include "common/module_state.h"
#include "common/string_conversion.h"
#include "handoff/url_policy.h"

namespace {

std::wstring Wide(const char* ascii) {
    return Utf8ToWide(ascii);
}

}  // namespace

bool ConfigurationPathIn(const std::wstring& directory, std::wstring& path) {
    const std::wstring full = directory + Wide(kConfigurationFile);
    if (full.size() >= MAX_PATH)
        return false;
    path = full;
    return true;
}

bool ConfigurationPath(std::wstring& path) {
    std::wstring directory;
    return GetModuleDirectory(moduleInstance, directory) && ConfigurationPathIn(directory, path);
}

int ReadMonitorValue(const std::wstring& path) {
    return static_cast<int>(GetPrivateProfileIntW(Wide(kSettingsSection).c_str(),
                                                  Wide(kSwitchKey).c_str(), 1, path.c_str()));
}

std::string ReadExtensionList(const std::wstring& path) {
    wchar_t list[kExtensionListBufferSize] = {};
    const DWORD length = GetPrivateProfileStringW(
        Wide(kSettingsSection).c_str(), Wide(kListKey).c_str(), Wide(kDefaultExtensionList).c_str(),
        list, static_cast<DWORD>(kExtensionListBufferSize), path.c_str());
    return WideToUtf8(std::wstring(list, length));
}

bool PolicyAllows(const std::string& url) {
    if (!IsSupportedUrl(url.c_str()))
        return false;
    std::wstring path;
    if (!ConfigurationPath(path) || !IsSwitchOn(ReadMonitorValue(path)))
        return false;
    return MatchesExtension(url.c_str(), ReadExtensionList(path).c_str());
}
