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

// The string values of a policy list's key ({"1": "a", "2": "b"}), in the
// order the registry gives them.
void AppendListStrings(const PolicyPlace& place, const std::wstring& listKey,
                       std::vector<std::string>& entries) {
    std::vector<std::wstring> names;
    ReadRegistryValueNames(place.root, listKey, names, place.view);
    for (const std::wstring& name : names) {
        std::wstring text;
        if (ReadRegistryString(place.root, listKey, name.c_str(), text, place.view))
            entries.push_back(WideToUtf8(text));
    }
}

// A list policy, by its name or an older one: the string values of a key of
// its name, or one string value of its name holding a JSON array.
PolicyValue ReadListPolicy(const char* key, std::initializer_list<const char*> names) {
    PolicyValue policy;
    for (const PolicyPlace& place : PolicyPlaces()) {
        for (const char* name : names) {
            AppendListStrings(place, Utf8ToWide(std::string(key) + "\\" + name), policy.entries);
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

// The values under `key` in one place, each not yet in `settings`: a DWORD,
// a string (a list's JSON array when it parses as one), a list's subkey of
// string values. The browser takes the machine's value of a name first.
void ReadManagedValues(const PolicyPlace& place, const std::string& key,
                       ManagedSettings& settings) {
    const auto known = [&](const std::string& name) {
        for (const ManagedValue& value : settings.values)
            if (value.name == name)
                return true;
        return false;
    };
    const std::wstring wideKey = Utf8ToWide(key);
    std::vector<std::wstring> names;
    ReadRegistryValueNames(place.root, wideKey, names, place.view);
    for (const std::wstring& name : names) {
        ManagedValue value;
        value.name = WideToUtf8(name);
        value.where = place.label;
        if (value.name.empty() || known(value.name))
            continue;
        DWORD number = 0;
        std::wstring text;
        if (ReadRegistryDword(place.root, wideKey, name.c_str(), number, place.view)) {
            value.kind = ManagedValue::kNumber;
            value.text = std::to_string(number);
        } else if (ReadRegistryString(place.root, wideKey, name.c_str(), text, place.view)) {
            value.kind = ManagedValue::kString;
            value.text = WideToUtf8(text);
            const nlohmann::json list = nlohmann::json::parse(value.text, nullptr, false);
            if (list.is_array()) {
                value.kind = ManagedValue::kList;
                for (const nlohmann::json& entry : list)
                    value.entries.push_back(entry.is_string() ? entry.get<std::string>()
                                                              : entry.dump());
            }
        }
        settings.values.push_back(value);
    }
    std::vector<std::wstring> lists;
    ReadRegistrySubkeyNames(place.root, wideKey, lists, place.view);
    for (const std::wstring& name : lists) {
        ManagedValue value;
        value.name = WideToUtf8(name);
        value.kind = ManagedValue::kList;
        value.where = place.label;
        if (known(value.name))
            continue;
        AppendListStrings(place, wideKey + L"\\" + name, value.entries);
        settings.values.push_back(value);
    }
}

ManagedSettings ReadManagedSettings(const std::string& key, const std::string& id) {
    ManagedSettings settings;
    settings.id = id;
    settings.key = key;
    for (const PolicyPlace& place : PolicyPlaces())
        ReadManagedValues(place, key, settings);
    return settings;
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
    policies.blockExternal = ReadDwordPolicy(key, "BlockExternalExtensions");
    for (const std::string& id : ChromiumExtensionIds()) {
        policies.managed.push_back(ReadManagedSettings(
            std::string(key) + "\\3rdparty\\extensions\\" + id + "\\policy", id));
    }
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
    policies.managed = ReadManagedSettings(
        std::string(key) + "\\3rdparty\\Extensions\\" + kFirefoxExtensionId, kFirefoxExtensionId);

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
    // Firefox reads policies.json only where the registry sets no policy;
    // ours, when the registry sets none of them.
    const nlohmann::json managed =
        Member(Member(Member(all, "3rdparty"), "Extensions"), kFirefoxExtensionId);
    if (policies.managed.values.empty() && managed.is_object()) {
        policies.managed.key = file + " \"3rdparty\"";
        for (const auto& [name, member] : managed.items()) {
            ManagedValue value;
            value.name = name;
            value.where = "policies.json";
            if (member.is_boolean()) {
                value.kind = ManagedValue::kBoolean;
                value.text = member.get<bool>() ? "1" : "0";
            } else if (member.is_number_integer()) {
                value.kind = ManagedValue::kNumber;
                value.text = member.dump();
            } else if (member.is_string()) {
                value.kind = ManagedValue::kString;
                value.text = member.get<std::string>();
            } else if (member.is_array()) {
                value.kind = ManagedValue::kList;
                for (const nlohmann::json& entry : member)
                    value.entries.push_back(entry.is_string() ? entry.get<std::string>()
                                                              : entry.dump());
            }
            policies.managed.values.push_back(value);
        }
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
