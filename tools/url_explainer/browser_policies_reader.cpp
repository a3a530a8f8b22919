// The browsers' policies as each browser takes them, from the registry and
// Firefox's policies.json.
#include "tools/url_explainer/browser_policies_reader.h"

#include "tools/url_explainer/check_steps.h"

#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "native_host/browser_keys.h"

#include <nlohmann/json.hpp>

namespace {

constexpr DWORD kMaxPoliciesBytes = 1024 * 1024;

// Policies are written below HKLM in the 64-bit view of 64-bit Windows, and
// the machine's win over the user's.
struct PolicyPlace {
    HKEY root;
    REGSAM view;
    const char* label;
};
std::vector<PolicyPlace> PolicyPlaces() {
    return {{HKEY_LOCAL_MACHINE, TwoRegistryViews() ? REGSAM{KEY_WOW64_64KEY} : REGSAM{0}, "HKLM"},
            {HKEY_CURRENT_USER, 0, "HKCU"}};
}

// A list policy, by its name or an older one: the string values of a key of
// its name, or one string value of its name holding a JSON array.
PolicyValue ReadListPolicy(const char* key, std::initializer_list<const char*> names) {
    PolicyValue policy;
    for (const PolicyPlace& place : PolicyPlaces()) {
        for (const char* name : names) {
            const std::wstring listKey = Utf8ToWide(std::string(key) + "\\" + name);
            std::vector<std::wstring> values;
            ReadRegistryValueNames(place.root, listKey, values, place.view);
            for (const std::wstring& value : values) {
                std::wstring entry;
                if (ReadRegistryString(place.root, listKey, value.c_str(), entry, place.view))
                    policy.entries.push_back(WideToUtf8(entry));
            }
            std::wstring json;
            if (policy.entries.empty() &&
                ReadRegistryString(place.root, Utf8ToWide(key), Utf8ToWide(name).c_str(), json,
                                   place.view)) {
                const nlohmann::json list = nlohmann::json::parse(WideToUtf8(json), nullptr, false);
                for (const nlohmann::json& entry : list.is_array() ? list : nlohmann::json::array())
                    if (entry.is_string())
                        policy.entries.push_back(entry.get<std::string>());
            }
            if (!policy.entries.empty()) {
                policy.name = name;
                policy.where = std::string(place.label) + "\\" + key + "\\" + name;
                return policy;
            }
        }
    }
    policy.name = *names.begin();
    return policy;
}

PolicyValue ReadStringPolicy(const char* key, const char* name) {
    PolicyValue policy;
    policy.name = name;
    for (const PolicyPlace& place : PolicyPlaces()) {
        std::wstring text;
        if (ReadRegistryString(place.root, Utf8ToWide(key), Utf8ToWide(name).c_str(), text,
                               place.view)) {
            policy.text = WideToUtf8(text);
            policy.where = std::string(place.label) + "\\" + key + " \"" + name + "\"";
            return policy;
        }
    }
    return policy;
}

PolicyValue ReadDwordPolicy(const char* key, const char* name) {
    PolicyValue policy;
    policy.name = name;
    for (const PolicyPlace& place : PolicyPlaces()) {
        DWORD value = 0;
        if (ReadRegistryDword(place.root, Utf8ToWide(key), Utf8ToWide(name).c_str(), value,
                              place.view)) {
            policy.text = std::to_string(value);
            policy.where = std::string(place.label) + "\\" + key + " \"" + name + "\"";
            return policy;
        }
    }
    return policy;
}

// An object's member, or null.
nlohmann::json Member(const nlohmann::json& object, const char* name) {
    const auto member = object.is_object() ? object.find(name) : object.end();
    return member != object.end() ? *member : nlohmann::json();
}

}  // namespace

ChromiumPolicies ReadChromiumPolicies(const char* key) {
    ChromiumPolicies policies;
    if (key == nullptr)
        return policies;
    policies.userLevelHosts = ReadDwordPolicy(key, "NativeMessagingUserLevelHosts");
    policies.hostBlocklist =
        ReadListPolicy(key, {"NativeMessagingBlocklist", "NativeMessagingBlacklist"});
    policies.hostAllowlist =
        ReadListPolicy(key, {"NativeMessagingAllowlist", "NativeMessagingWhitelist"});
    policies.installBlocklist =
        ReadListPolicy(key, {"ExtensionInstallBlocklist", "ExtensionInstallBlacklist"});
    policies.installAllowlist =
        ReadListPolicy(key, {"ExtensionInstallAllowlist", "ExtensionInstallWhitelist"});
    policies.installForcelist = ReadListPolicy(key, {"ExtensionInstallForcelist"});
    policies.extensionSettings = ReadStringPolicy(key, "ExtensionSettings");
    return policies;
}

// Firefox's ExtensionSettings is a JSON value or a key per extension, below
// HKLM, then HKCU, then in policies.json beside Firefox; Extensions\Uninstall
// likewise.
FirefoxPolicies ReadFirefoxPolicies(const char* key, const std::string& firefoxProgram) {
    FirefoxPolicies policies;
    policies.extensionSettings = ReadStringPolicy(key, "ExtensionSettings");
    const std::string settingsKey = std::string(key) + "\\ExtensionSettings";
    for (const PolicyPlace& place : PolicyPlaces()) {
        if (policies.extensionSettings.Set())
            break;
        nlohmann::json settings = nlohmann::json::object();
        for (const std::string& entry : {std::string(kFirefoxExtensionId), std::string("*")}) {
            std::wstring mode;
            if (ReadRegistryString(place.root, Utf8ToWide(settingsKey + "\\" + entry),
                                   L"installation_mode", mode, place.view))
                settings[entry]["installation_mode"] = WideToUtf8(mode);
        }
        if (!settings.empty()) {
            policies.extensionSettings.text = settings.dump();
            policies.extensionSettings.where = std::string(place.label) + "\\" + settingsKey;
        }
    }
    policies.uninstall = ReadListPolicy((std::string(key) + "\\Extensions").c_str(), {"Uninstall"});
    policies.uninstall.name = "Extensions\\Uninstall";

    const std::string file =
        firefoxProgram.empty() ? ""
                               : firefoxProgram.substr(0, firefoxProgram.find_last_of("\\/") + 1) +
                                     "distribution\\policies.json";
    std::string text;
    if (file.empty() || !ReadSmallFile(file, kMaxPoliciesBytes, text))
        return policies;
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    const nlohmann::json all = Member(json, "policies");
    const nlohmann::json settings = Member(all, "ExtensionSettings");
    if (!policies.extensionSettings.Set() && settings.is_object()) {
        policies.extensionSettings.text = settings.dump();
        policies.extensionSettings.where = file;
    }
    const nlohmann::json uninstall = Member(Member(all, "Extensions"), "Uninstall");
    if (!policies.uninstall.Set() && uninstall.is_array()) {
        for (const nlohmann::json& id : uninstall)
            if (id.is_string())
                policies.uninstall.entries.push_back(id.get<std::string>());
        policies.uninstall.where = file;
    }
    return policies;
}
