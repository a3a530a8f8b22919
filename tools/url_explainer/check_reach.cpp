// Where the browser may run the helper at all: Enhanced Protected Mode tabs,
// Edge's Internet Explorer mode, and the per-user parts that Active Setup
// writes for each user of a machine-wide install.
#include "tools/url_explainer/check_steps.h"
#include "tools/url_explainer/installation_kind.h"

#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/string_conversion.h"
#include "server/maxthon_plugin.h"
#include "server/registration.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kIeMain[] = "Software\\Microsoft\\Internet Explorer\\Main";
const char kIePolicy[] = "Software\\Policies\\Microsoft\\Internet Explorer\\Main";
const char kEdgePolicy[] = "SOFTWARE\\Policies\\Microsoft\\Edge";

// A setting as the browser resolves it: the machine's policy, the user's
// policy, then the user's own choice. `where` names the one that was found.
bool ReadSetting(const char* policyKey, const char* userKey, const char* name, std::string& text,
                 DWORD& number, std::string& where) {
    const struct {
        HKEY root;
        const char* key;
    } places[] = {{HKEY_LOCAL_MACHINE, policyKey},
                  {HKEY_CURRENT_USER, policyKey},
                  {HKEY_CURRENT_USER, userKey}};
    for (const auto& place : places) {
        if (place.key == nullptr)
            continue;
        if (ReadRegistryString(place.root, place.key, name, text) ||
            ReadRegistryDword(place.root, place.key, name, number)) {
            where = RootName(place.root) + "\\" + place.key + " \"" + name + "\"";
            return true;
        }
    }
    return false;
}

// "6,0,0,5" against "6,0,0,4": Active Setup runs a stub whose machine version
// is above the user's.
bool VersionBelow(const std::string& user, const std::string& machine) {
    const char* u = user.c_str();
    const char* m = machine.c_str();
    for (int field = 0; field < 4; ++field) {
        char* uEnd = nullptr;
        char* mEnd = nullptr;
        const unsigned long a = std::strtoul(u, &uEnd, 10);
        const unsigned long b = std::strtoul(m, &mEnd, 10);
        if (a != b)
            return a < b;
        u = *uEnd == ',' || *uEnd == '.' ? uEnd + 1 : uEnd;
        m = *mEnd == ',' || *mEnd == '.' ? mEnd + 1 : mEnd;
    }
    return false;
}

}  // namespace

void CheckProtectedTabs(std::vector<Finding>& findings) {
    std::string helper;
    GuidToText(CLSID_WebCorvaneIEHelper, helper);
    char category[MAX_PATH];
    std::snprintf(category, sizeof(category), kImplementedCategoryKeyFormat, helper.c_str());
    const bool compatible = RegistryKeyExists(HKEY_CLASSES_ROOT, category);

    std::string isolation;
    std::string where;
    DWORD ignored = 0;
    const bool set = ReadSetting(kIePolicy, kIeMain, "Isolation", isolation, ignored, where);
    const bool on = set && isolation == "PMEM";
    const std::string state = on    ? "on (" + where + " is PMEM)"
                              : set ? "off (" + where + " is " + isolation + ")"
                                    : "off (the default: set nowhere)";
    std::string bits;
    DWORD tabs64 = 0;
    std::string tabsWhere;
    if (ReadSetting(kIePolicy, kIeMain, "Isolation64Bit", bits, tabs64, tabsWhere) && tabs64 == 1)
        bits = ", with 64-bit tabs (" + tabsWhere + "), which load the 64-bit DLL";
    else
        bits = ", with 32-bit tabs on 64-bit Windows";

    if (!compatible) {
        const std::string found = "the helper is not marked compatible with them (no HKCR\\" +
                                  std::string(category) + ")";
        if (on) {
            findings.push_back({Finding::kProblem, "protected tabs",
                                "Enhanced Protected Mode is " + state + bits +
                                    ", and protected tabs skip the helper: " + found,
                                RegisterFixHere()});
        } else {
            findings.push_back({Finding::kWarning, "protected tabs",
                                "Enhanced Protected Mode is " + state + ", but " + found +
                                    ": once it is turned on, tabs skip the helper",
                                RegisterFixHere()});
        }
        return;
    }
    findings.push_back(
        {Finding::kOk, "protected tabs",
         "Enhanced Protected Mode is " + state + (on ? bits : "") +
             "; the helper is marked compatible and loads in protected tabs, from which the "
             "download agent is reached only if it lets ALL APPLICATION PACKAGES launch and use it",
         ""});
}

void CheckIeMode(std::vector<Finding>& findings) {
    std::string text;
    DWORD level = 0;
    std::string where;
    const char* const name = "InternetExplorerIntegrationLevel";
    if (!ReadSetting(kEdgePolicy, nullptr, name, text, level, where)) {
        findings.push_back({Finding::kOk, "IE mode",
                            std::string("Edge's Internet Explorer mode is not configured (no ") +
                                name +
                                " policy): Edge runs no helper; Internet Explorer itself loads it "
                                "where it still runs",
                            ""});
        return;
    }
    std::string list;
    ReadRegistryString(HKEY_LOCAL_MACHINE, kEdgePolicy, "InternetExplorerIntegrationSiteList",
                       list);
    const std::string sites = list.empty() ? "" : " (site list: " + list + ")";
    const std::string set = where + " is " + std::to_string(level);
    if (level == 1) {
        findings.push_back({Finding::kOk, "IE mode",
                            "Edge's Internet Explorer mode is configured (" + set +
                                "): the helper sees only the sites that open in IE mode" + sites,
                            ""});
    } else if (level == 2) {
        findings.push_back({Finding::kOk, "IE mode",
                            "Edge opens the sites that need it in Internet Explorer 11 (" + set +
                                "): the helper sees only those" + sites,
                            ""});
    } else {
        findings.push_back(
            {Finding::kOk, "IE mode",
             "Edge's Internet Explorer mode is off (" + set + "): Edge runs no helper", ""});
    }
}

void CheckUserParts(const Installation& installation, std::vector<Finding>& findings) {
    std::string ours;
    GuidToText(CLSID_VDownloadManager, ours);
    std::string named;
    ReadRegistryString(HKEY_CURRENT_USER, kInternetExplorerKey, kDownloadUIValue, named);
    std::wstring plugin;
    const bool maxthon = FindPluginFolder(plugin);
    const bool present = lstrcmpiA(named.c_str(), ours.c_str()) == 0 &&
                         (!maxthon || FileExists(WideToUtf8(plugin) + kPluginFile));
    const std::string parts =
        std::string("parts (\"DownloadUI\"") + (maxthon ? ", the Maxthon plug-in)" : ")");

    const std::string key =
        std::string(kActiveSetupKey) + (sizeof(void*) == 8 ? kActiveSetupId64 : kActiveSetupId32);
    // The packages write every entry in the 64-bit view, which Active Setup
    // reads on 64-bit Windows.
    const REGSAM machineView = sizeof(void*) == 8 ? 0 : OtherRegistryView();
    std::string stub;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, key, "StubPath", stub, machineView)) {
        if (present) {
            findings.push_back({Finding::kOk, "per-user parts",
                                "this user's " + parts +
                                    " are in place (no machine-wide install "
                                    "of this bitness: no HKLM\\" +
                                    key + ")",
                                ""});
        } else {
            findings.push_back(
                {Finding::kWarning, "per-user parts",
                 "this user's " + parts +
                     " are missing; registration writes them only for the "
                     "user who runs it",
                 "run as this user: regsvr32 /s /n /i:user \"" + installation.helperDll + "\""});
        }
        return;
    }
    std::string machine;
    std::string user;
    ReadRegistryString(HKEY_LOCAL_MACHINE, key, "Version", machine, machineView);
    const bool ran =
        ReadRegistryString(HKEY_CURRENT_USER, key, "Version", user) && !VersionBelow(user, machine);
    const std::string activeSetup =
        ran ? "Active Setup ran for this user (version " + user + ")"
            : "Active Setup has not run for this user yet (HKCU\\" + key + " \"Version\" is " +
                  (user.empty() ? std::string("missing") : "\"" + user + "\"") +
                  ", the machine's \"" + machine + "\")";
    if (present) {
        findings.push_back({Finding::kOk, "per-user parts",
                            "this user's " + parts + " are in place; " + activeSetup, ""});
    } else {
        findings.push_back(
            {Finding::kWarning, "per-user parts",
             "this user's " + parts + " are missing; " + activeSetup,
             (ran ? std::string("run now: ") : std::string("sign out and in again, or run now: ")) +
                 stub});
    }
}
