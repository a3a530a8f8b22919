// The hand-off policy where the decision of policy_decision.cpp meets
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

// The profile reads behind a decision, beside this module.
class ProfileSettings final : public PolicySettings {
  public:
    bool Locate() override { return ConfigurationPath(path_); }
    int SwitchValue(PolicyRoad road) override { return ReadSwitchValue(path_, SwitchKeyOf(road)); }
    std::string ExtensionList() override { return ReadExtensionList(path_); }

  private:
    std::wstring path_;
};

bool KeyIsSet(const std::wstring& path, const char* key) {
    // No value holds a lone U+0001: a default that comes back was not read
    // from the file.
    const wchar_t kMissing[] = L"\x01";
    wchar_t probe[8];
    GetPrivateProfileStringW(Wide(kSettingsSection).c_str(), Wide(key).c_str(), kMissing, probe, 8,
                             path.c_str());
    return !(probe[0] == kMissing[0] && probe[1] == L'\0');
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

int ReadSwitchValue(const std::wstring& path, const char* key) {
    return static_cast<int>(
        GetPrivateProfileIntW(Wide(kSettingsSection).c_str(), Wide(key).c_str(), 1, path.c_str()));
}

std::string ReadExtensionList(const std::wstring& path) {
    wchar_t list[kExtensionListBufferSize] = {};
    const DWORD length = GetPrivateProfileStringW(
        Wide(kSettingsSection).c_str(), Wide(kListKey).c_str(), Wide(kDefaultExtensionList).c_str(),
        list, static_cast<DWORD>(kExtensionListBufferSize), path.c_str());
    return WideToUtf8(std::wstring(list, length));
}

PolicyDecision DecideHandOff(PolicyRoad road, const std::string& url, const std::string& fileName) {
    ProfileSettings settings;
    return DecidePolicy(road, url, fileName, settings);
}

bool PolicyAllows(const std::string& url) {
    return DecideHandOff(PolicyRoad::kLibrary, url).allows;
}

SettingSources ReadSettingSources(const std::wstring& path, PolicyRoad road) {
    SettingSources sources;
    sources.fileExists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    sources.switchFromFile = KeyIsSet(path, SwitchKeyOf(road));
    sources.listFromFile = KeyIsSet(path, kListKey);
    return sources;
}
