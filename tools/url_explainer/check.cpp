// The installation check's driver and its shared reading helpers; the two
// small parts that need nothing else (Maxthon, the system) live here too.
#include "tools/url_explainer/check_steps.h"
#include "tools/url_explainer/installation_kind.h"

#include "browser/download_manager.h"
#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/win_handles.h"
#include "common/module_path.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "native_host/browser_keys.h"
#include "server/maxthon_plugin.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>

bool ReadRegistryString(HKEY root, const std::string& key, const char* value, std::string& text,
                        REGSAM view) {
    // Read wide, so that a path outside the ANSI code page is read as written.
    std::wstring data;
    if (!ReadRegistryString(root, Utf8ToWide(key),
                            value != nullptr ? Utf8ToWide(value).c_str() : nullptr, data, view))
        return false;
    text = WideToUtf8(data);
    return true;
}

bool ReadRegistryDword(HKEY root, const std::string& key, const char* value, DWORD& data) {
    return ReadRegistryDword(root, Utf8ToWide(key),
                             value != nullptr ? Utf8ToWide(value).c_str() : nullptr, data);
}

bool RegistryKeyExists(HKEY root, const std::string& key) {
    return RegistryKeyExists(root, Utf8ToWide(key));
}

std::string RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    return "HKCR";
}

REGSAM OtherRegistryView() {
    // A 32-bit system has one view only, and ignores the flag.
    if (!TwoRegistryViews())
        return 0;
    return sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

const char* ThisBitness() {
    return sizeof(void*) == 8 ? "64-bit" : "32-bit";
}

const char* OtherBitness() {
    return sizeof(void*) == 8 ? "32-bit" : "64-bit";
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ReadSmallFile(const std::string& path, DWORD limit, std::string& text) {
    FileHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    DWORD high = 0;
    const DWORD size = file.Valid() ? GetFileSize(file.Get(), &high) : INVALID_FILE_SIZE;
    if (size == INVALID_FILE_SIZE || high != 0 || size > limit)
        return false;
    text.assign(size, '\0');
    DWORD read = 0;
    return size == 0 || (ReadFile(file.Get(), &text[0], size, &read, nullptr) && read == size);
}

std::string HresultText(long hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

void CheckMaxthon(std::vector<Finding>& findings) {
    const std::string where = std::string("HKCU\\") + kMaxthonKey + " \"" + kMaxthonFolderValue;
    std::wstring wideFolder;
    if (!ReadMaxthonFolder(wideFolder)) {
        findings.push_back({Finding::kOk, "Maxthon", "not installed (no " + where + "\")", ""});
        return;
    }
    const std::string fix =
        RegisterAgainFix(FindInstallationKind()) + " now that Maxthon is installed.";
    const std::string folder = WideToUtf8(wideFolder);
    std::wstring pluginFolder;
    if (!FindPluginFolder(pluginFolder)) {
        findings.push_back(
            {Finding::kWarning, "Maxthon",
             folder + " has no " + (kPluginRoot + 1) + " folder, so it has no plug-in of ours",
             "start Maxthon once so that it makes that folder, then " + fix});
        return;
    }
    const std::string file = WideToUtf8(pluginFolder) + kPluginFile;
    std::string clsidText;
    GuidToText(CLSID_WebCorvaneIEHelper, clsidText);
    wchar_t wideNamed[64] = L"";
    if (FileExists(file)) {
        GetPrivateProfileStringW(L"General", L"CLSID", L"", wideNamed, 64,
                                 Utf8ToWide(file).c_str());
    }
    const std::string named = WideToUtf8(wideNamed);
    if (!FileExists(file)) {
        findings.push_back({Finding::kWarning, "Maxthon",
                            "no " + file + ": Maxthon does not load the helper", fix});
    } else if (lstrcmpiA(named.c_str(), clsidText.c_str()) != 0) {
        findings.push_back({Finding::kWarning, "Maxthon",
                            file + " names CLSID \"" + named + "\", not the helper " + clsidText,
                            fix});
    } else {
        findings.push_back({Finding::kOk, "Maxthon", file + " names the helper " + clsidText, ""});
    }
}

void CheckSystem(std::vector<Finding>& findings) {
    OSVERSIONINFOA version;
    const bool declines = SystemDeclinesDownloads(&version);
    const std::string windows = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                                std::to_string(version.dwMinorVersion);
    findings.push_back(
        {Finding::kOk, "system",
         windows + (declines ? ": the download manager's road is off (it declines every download "
                               "request, and clicks are still handed over)"
                             : ": the download manager's road is active"),
         ""});
}

std::string FormatFinding(const Finding& f) {
    static const char* const kLevels[] = {"ok", "warning", "problem"};
    std::string line = std::string(kLevels[f.level]) + ": " + f.subject + ": " + f.found;
    if (!f.fix.empty())
        line += ". Fix: " + f.fix;
    return line;
}

CheckReport CheckInstallation(const CheckOptions& options) {
    const HRESULT com = CoInitialize(nullptr);
    CheckReport report;
    Installation installation;
    std::wstring directory;
    if (GetModuleDirectory(nullptr, directory))
        installation.toolDirectory = WideToUtf8(directory);

    CheckClasses(installation, report.findings);
    CheckBrowser(report.findings);
    CheckProtectedTabs(report.findings);
    CheckIeMode(report.findings);
    CheckUserParts(installation, report.findings);
    CheckExtensionBrowsers(report.findings);
    CheckAgent(options.createAgent, report.findings);
    CheckSettings(installation, report.findings);
    CheckMaxthon(report.findings);
    CheckSystem(report.findings);
    if (SUCCEEDED(com))
        CoUninitialize();

    int counts[3] = {};
    for (const Finding& f : report.findings) {
        report.text += FormatFinding(f) + "\n";
        ++counts[f.level];
    }
    report.text += std::to_string(counts[0]) + " ok, " + std::to_string(counts[1]) +
                   " warning(s), " + std::to_string(counts[2]) + " problem(s)\n";
    report.exitStatus = counts[Finding::kProblem] > 0 ? 2 : counts[Finding::kWarning] > 0 ? 1 : 0;
    return report;
}
