// "UserConfig.ini" as the DLL the browser loads reads it: found or not, its
// switch, and the mistakes of its list.
#include "tools/url_explainer/check_steps.h"

#include "common/module_path.h"
#include "common/string_conversion.h"
#include "handoff/handoff_policy.h"
#include "tools/url_explainer/list_lint.h"
#include "handoff/url_policy.h"
#include "server/registration.h"

#include <vector>

namespace {

// The folder of `path`, with its backslash, cut as the library cuts its own.
std::string FolderOf(const std::string& path) {
    return WideToUtf8(DirectoryOf(Utf8ToWide(path)));
}

std::string ConfigurationPathIn(const std::string& directory) {
    std::wstring path;
    return ::ConfigurationPathIn(Utf8ToWide(directory), path) ? WideToUtf8(path) : "";
}

// The whole text of `key`, however long (the library reads only the first
// 1023 characters); false when the file does not set it.
bool ReadWholeValue(const std::string& path, const char* key, std::string& value) {
    const wchar_t kUnset[] = L"\x01";
    std::vector<wchar_t> buffer;
    for (DWORD size = 4096;; size *= 4) {
        buffer.assign(size, L'\0');
        const DWORD length =
            GetPrivateProfileStringW(Utf8ToWide(kSettingsSection).c_str(), Utf8ToWide(key).c_str(),
                                     kUnset, buffer.data(), size, Utf8ToWide(path).c_str());
        if (std::wstring(buffer.data(), length) == kUnset)
            return false;
        if (length < size - 1 || size >= (1u << 20)) {
            value = WideToUtf8(std::wstring(buffer.data(), length));
            return true;
        }
    }
}

Finding Describe(const ListMistake& m, std::size_t valueLength) {
    const std::string entry = "\"" + m.entry + "\"";
    const std::string rewrite = "write it \"" + m.suggestion + "\".";
    switch (m.kind) {
        case ListMistake::kEmpty:
            return {Finding::kWarning, "list",
                    std::string(kListKey) + " is empty: only corvane:// links are handed over",
                    "list the extensions to hand over, each a dot, the extension and a semicolon "
                    "(.zip;)."};
        case ListMistake::kUpperCase:
            return {Finding::kWarning, "list",
                    entry +
                        " has capitals and never matches (extensions are looked up in lower "
                        "case)",
                    rewrite};
        case ListMistake::kNoLeadingDot:
            return {Finding::kWarning, "list", entry + " lacks its leading dot and never matches",
                    rewrite};
        case ListMistake::kNoClosingSemicolon:
            return {Finding::kWarning, "list",
                    entry + " lacks its closing semicolon and never matches", rewrite};
        case ListMistake::kSpace:
            return {Finding::kWarning, "list", entry + " holds a space and never matches", rewrite};
        case ListMistake::kRepeated:
            return {Finding::kWarning, "list", entry + " is listed more than once (harmless)",
                    "remove the repeat."};
        case ListMistake::kTooLong:
            return {Finding::kWarning, "list",
                    entry + " is longer than the " + std::to_string(kMaxExtensionLength) +
                        " characters an extension may have and never matches",
                    "remove it."};
        case ListMistake::kPastReadLimit:
            break;
    }
    return {Finding::kWarning, "list",
            std::string(kListKey) + " has " + std::to_string(valueLength) +
                " characters and only the first " + std::to_string(kExtensionListBufferSize - 1) +
                " are read: " + entry + " and every entry after it never match",
            "shorten the list to " + std::to_string(kExtensionListBufferSize - 1) + " characters."};
}

void CheckList(const std::string& path, std::vector<Finding>& findings) {
    std::string value;
    if (!FileExists(path) || !ReadWholeValue(path, kListKey, value)) {
        findings.push_back({Finding::kOk, "list", "the default list", ""});
        return;
    }
    const std::vector<ListMistake> mistakes = LintExtensionList(value);
    for (const ListMistake& m : mistakes)
        findings.push_back(Describe(m, value.size()));
    if (mistakes.empty()) {
        findings.push_back({Finding::kOk, "list",
                            "from the file, " + std::to_string(value.size()) +
                                " characters, every entry can match",
                            ""});
    }
}

}  // namespace

void CheckSettings(const Installation& installation, std::vector<Finding>& findings) {
    // The DLL the browser loads reads the file beside itself; with none
    // registered, the DLL beside this program would.
    const std::string reader = installation.helperDll.empty()
                                   ? installation.toolDirectory + kLibraryFileName
                                   : installation.helperDll;
    const std::string directory = FolderOf(reader);
    const std::string path = ConfigurationPathIn(directory);
    if (path.empty()) {
        findings.push_back({Finding::kProblem, "settings",
                            "the settings path beside " + reader + " is too long",
                            "install the DLL in a folder with a shorter path."});
        return;
    }

    if (!FileExists(path)) {
        findings.push_back({Finding::kOk, "settings",
                            "no " + path + ": the defaults apply (the switch on, the default list)",
                            ""});
        // A file the user edited in a folder the browser's DLL does not read.
        std::vector<std::string> elsewhere = {installation.toolDirectory};
        if (!installation.otherViewDll.empty())
            elsewhere.push_back(FolderOf(installation.otherViewDll));
        for (const std::string& other : elsewhere) {
            const std::string stray = ConfigurationPathIn(other);
            if (lstrcmpiA(other.c_str(), directory.c_str()) != 0 && FileExists(stray)) {
                findings.push_back({Finding::kWarning, "settings",
                                    stray + " is not read: the DLL the browser loads (" + reader +
                                        ") reads " + path,
                                    "move or copy the file beside " + reader + "."});
            }
        }
        CheckList(path, findings);
        return;
    }

    std::string text;
    const bool set = ReadWholeValue(path, kSwitchKey, text);
    const int value = ReadMonitorValue(Utf8ToWide(path));
    const bool on = IsSwitchOn(value);
    const std::string found =
        path + ", read by " + reader + ": " + kSwitchKey + "=" + std::to_string(value) +
        (set ? "" : " (the default)") +
        (on ? ", on: links are handed over" : ", off (only 1 is on): no link is handed over");
    if (on) {
        findings.push_back({Finding::kOk, "settings", found, ""});
    } else {
        findings.push_back(
            {Finding::kWarning, "settings", found,
             std::string("set ") + kSwitchKey + "=1 in its [" + kSettingsSection + "] section."});
    }
    CheckList(path, findings);
}
