// What the browser reads from the registry before our code runs: the two
// classes, the Browser Helper Objects key, its add-on settings and
// "DownloadUI". Names come from the registration that writes them.
#include "tools/url_explainer/check_steps.h"
#include "tools/url_explainer/installation_kind.h"

#include "common/string_conversion.h"
#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/win_handles.h"
#include "server/registration.h"

#include <cstdio>
#include <vector>

namespace {

std::string ClsidText(REFCLSID clsid) {
    std::string text;
    GuidToText(clsid, text);
    return text;
}

std::string InprocServerKey(const std::string& clsidText) {
    char key[MAX_PATH];
    std::snprintf(key, sizeof(key), kInprocServerKeyFormat, clsidText.c_str());
    return key;
}

// The bitness of the DLL at `path`, read from its PE header: "32-bit",
// "64-bit", or what else the file is.
std::string DllKind(const std::string& path) {
    FileHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (!file.Valid() || !ReadFile(file.Get(), &dos, sizeof(dos), &read, nullptr) ||
        read != sizeof(dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return "not a program file";
    }
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } pe = {};
    if (SetFilePointer(file.Get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file.Get(), &pe, sizeof(pe), &read, nullptr) || read != sizeof(pe) ||
        pe.signature != IMAGE_NT_SIGNATURE) {
        return "not a program file";
    }
    if ((pe.header.Characteristics & IMAGE_FILE_DLL) == 0)
        return "a program, not a DLL";
    if (pe.header.Machine == IMAGE_FILE_MACHINE_I386)
        return "32-bit";
    if (pe.header.Machine == IMAGE_FILE_MACHINE_AMD64)
        return "64-bit";
    return "a DLL for another processor";
}

std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    const std::wstring widePath = Utf8ToWide(path);
    const DWORD size = GetFileVersionInfoSizeW(widePath.c_str(), &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(widePath.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr) {
        return "no version";
    }
    char text[64];
    std::snprintf(text, sizeof(text), "version %lu.%lu.%lu.%lu",
                  static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
                  static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
                  static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)),
                  static_cast<unsigned long>(LOWORD(info->dwFileVersionLS)));
    return text;
}

Finding CheckClass(const char* subject, REFCLSID clsid, const Installation& installation,
                   std::string& registered, std::string& otherView) {
    const std::string key = InprocServerKey(ClsidText(clsid));
    const REGSAM other = OtherRegistryView();
    if (other != 0)
        ReadRegistryString(HKEY_CLASSES_ROOT, key, nullptr, otherView, other);
    const std::string thisDll = std::string("the ") + ThisBitness() + " DLL (" +
                                (sizeof(void*) == 8 ? "x64" : "x86") + "\\" + kLibraryFileName +
                                ")";
    if (!ReadRegistryString(HKEY_CLASSES_ROOT, key, nullptr, registered) || registered.empty()) {
        registered.clear();
        if (!otherView.empty()) {
            return {Finding::kProblem, subject,
                    std::string("registered for ") + OtherBitness() + " browsers only (" +
                        otherView + "), not for " + ThisBitness() + " ones",
                    "register " + thisDll + " too: " + RegisterFixHere()};
        }
        return {Finding::kProblem, subject, "not registered (no HKCR\\" + key + ")",
                RegisterFixHere()};
    }
    if (!FileExists(registered)) {
        return {Finding::kProblem, subject,
                "HKCR\\" + key + " names " + registered +
                    ", which does not exist (moved or deleted after registration)",
                RegisterFixHere()};
    }
    const std::string kind = DllKind(registered);
    if (kind != ThisBitness()) {
        return {Finding::kProblem, subject,
                registered + " is " +
                    (kind.find("-bit") != std::string::npos ? "a " + kind + " DLL" : kind) +
                    ", which " + ThisBitness() + " browsers cannot load",
                "register " + thisDll + ": " + RegisterFixHere()};
    }
    const std::string found = registered + ", " + kind + ", " + FileVersion(registered);
    const std::string beside = installation.toolDirectory + kLibraryFileName;
    if (lstrcmpiA(beside.c_str(), registered.c_str()) == 0)
        return {Finding::kOk, subject, found + ", the one beside this program", ""};
    if (!FileExists(beside))
        return {Finding::kOk, subject, found + " (there is none beside this program)", ""};
    return {Finding::kWarning, subject,
            found + ", not the one beside this program (" + beside + ")",
            RegisterAgainFix(FindInstallationKind()) +
                ", or run this check from the registered DLL's folder."};
}

Finding CheckHelperKey() {
    char key[MAX_PATH];
    if (!FormatBrowserHelperKey(ClsidText(CLSID_WebCorvaneIEHelper).c_str(), key))
        return {Finding::kProblem, "Browser Helper Objects", "no key name", RegisterFixHere()};
    if (!RegistryKeyExists(HKEY_LOCAL_MACHINE, key)) {
        return {Finding::kProblem, "Browser Helper Objects",
                std::string("no HKLM\\") + key + ": Internet Explorer does not load the helper",
                RegisterFixHere()};
    }
    return {Finding::kOk, "Browser Helper Objects", std::string("HKLM\\") + key, ""};
}

// Internet Explorer's add-on management: an administrator's add-on list
// (the user's before the machine's), then the user's own add-on manager.
Finding CheckAddOnState() {
    const std::string clsid = ClsidText(CLSID_WebCorvaneIEHelper);
    const std::string policies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Ext";
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::string listed;
        if (!ReadRegistryString(root, policies + "\\CLSID", clsid.c_str(), listed))
            continue;
        const std::string where = RootName(root) + "\\" + policies + "\\CLSID " + clsid;
        if (listed == "0") {
            return {Finding::kProblem, "add-on state",
                    "denied by the add-on list policy (" + where + " = \"0\")",
                    "ask your administrator to allow the helper in the Add-on List policy."};
        }
        if (listed == "1")
            return {Finding::kOk, "add-on state", "allowed by policy (" + where + ")", ""};
        break;  // "2": allowed, and the user's own setting counts
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD restrict = 0;
        if (ReadRegistryDword(root, policies, "RestrictToList", restrict)&& restrict == 1) {
            return {Finding::kProblem, "add-on state",
                    "denied: the policy " + RootName(root) + "\\" + policies +
                        " RestrictToList = 1 allows listed add-ons only",
                    "ask your administrator to allow the helper in the Add-on List policy."};
        }
    }
    const std::string settings =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\" + clsid;
    DWORD flags = 0;
    if (ReadRegistryDword(HKEY_CURRENT_USER, settings, "Flags", flags) && (flags & 1) != 0) {
        return {Finding::kProblem, "add-on state",
                "disabled in the add-on manager (HKCU\\" + settings +
                    " Flags = " + std::to_string(flags) + ")",
                "enable \"WebCorvane Browser Helper\" in Internet Explorer's Tools > Manage "
                "Add-ons, then restart the browser."};
    }
    return {Finding::kOk, "add-on state",
            "enabled (no policy or add-on manager setting disables it)", ""};
}

// "Enable Browser Extensions": a policy before the user's setting, the
// machine's policy first, the machine's setting last.
Finding CheckBrowserExtensions() {
    const char kValue[] = "Enable Browser Extensions";
    const struct {
        HKEY root;
        const char* key;
        const char* fix;
    } places[] = {
        {HKEY_LOCAL_MACHINE, "Software\\Policies\\Microsoft\\Internet Explorer\\Main",
         "ask your administrator to allow third-party browser extensions (a policy turns them "
         "off)."},
        {HKEY_CURRENT_USER, "Software\\Policies\\Microsoft\\Internet Explorer\\Main",
         "ask your administrator to allow third-party browser extensions (a policy turns them "
         "off)."},
        {HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Main",
         "tick \"Enable third-party browser extensions\" in Internet Options > Advanced, then "
         "restart the browser."},
        {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\Main",
         "tick \"Enable third-party browser extensions\" in Internet Options > Advanced, then "
         "restart the browser."},
    };
    for (const auto& place : places) {
        std::string setting;
        if (!ReadRegistryString(place.root, place.key, kValue, setting))
            continue;
        const std::string where =
            RootName(place.root) + "\\" + place.key + " \"" + kValue + "\" = \"" + setting + "\"";
        if (lstrcmpiA(setting.c_str(), "no") == 0)
            return {Finding::kProblem, "browser extensions", "turned off (" + where + ")",
                    place.fix};
        return {Finding::kOk, "browser extensions", "on (" + where + ")", ""};
    }
    return {Finding::kOk, "browser extensions", "on (the default: set nowhere)", ""};
}

// One "DownloadUI" value: "ours", "absent", or the class it names.
std::string DescribeDownloadUI(const std::string& value, const std::string& ours) {
    if (value.empty())
        return "absent";
    if (lstrcmpiA(value.c_str(), ours.c_str()) == 0)
        return "ours";
    std::string name;
    if (!ReadRegistryString(HKEY_CLASSES_ROOT, "CLSID\\" + value, nullptr, name) || name.empty())
        name = "a class that is not registered";
    return value + " (" + name + ")";
}

Finding CheckDownloadUI() {
    const std::string ours = ClsidText(CLSID_VDownloadManager);
    std::string user;
    std::string machine;
    ReadRegistryString(HKEY_CURRENT_USER, kInternetExplorerKey, kDownloadUIValue, user);
    ReadRegistryString(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, machine);
    // The user's value comes before the machine's, as for every setting of
    // Internet Explorer that both may hold.
    const bool userDecides = !user.empty();
    const std::string& used = userDecides ? user : machine;
    const std::string where = std::string(kInternetExplorerKey) + kDownloadUIValue;
    const std::string found = user.empty() && machine.empty()
                                  ? "set neither under HKCU nor under HKLM (" + where + ")"
                                  : "HKCU\\" + where + " is " + DescribeDownloadUI(user, ours) +
                                        ", HKLM's is " + DescribeDownloadUI(machine, ours) +
                                        "; the browser uses " + (userDecides ? "HKCU's" : "HKLM's");
    if (lstrcmpiA(used.c_str(), ours.c_str()) == 0)
        return {Finding::kOk, "DownloadUI", found, ""};
    return {
        Finding::kWarning, "DownloadUI",
        found + ", so the browser's own downloads " +
            (used.empty() ? "reach no download manager of ours" : "go to another download manager"),
        "to name ours, " + RegisterAgainFix(FindInstallationKind()) +
            "; clicks are handed over either way."};
}

}  // namespace

void CheckClasses(Installation& installation, std::vector<Finding>& findings) {
    findings.push_back(CheckClass("helper class", CLSID_WebCorvaneIEHelper, installation,
                                  installation.helperDll, installation.otherViewDll));
    std::string registered;
    std::string otherView;
    findings.push_back(CheckClass("download manager class", CLSID_VDownloadManager, installation,
                                  registered, otherView));
}

void CheckBrowser(std::vector<Finding>& findings) {
    findings.push_back(CheckHelperKey());
    findings.push_back(CheckAddOnState());
    findings.push_back(CheckBrowserExtensions());
    findings.push_back(CheckDownloadUI());
}
