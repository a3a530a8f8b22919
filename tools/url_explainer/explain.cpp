#include "tools/url_explainer/explain.h"

#include "common/string_conversion.h"
#include "handoff/handoff_policy.h"
#include "tools/url_explainer/list_lint.h"
#include "handoff/url_policy.h"

#include <windows.h>

#include <sstream>

namespace {

std::string Describe(ExtensionVerdict::Reason reason) {
    switch (reason) {
        case ExtensionVerdict::kCorvaneLink:
            return "a corvane:// link: taken whatever the list says";
        case ExtensionVerdict::kNoDot:
            return "the URL has no \".\": no extension";
        case ExtensionVerdict::kDotBeforeSlash:
            return "the last \".\" lies before the last \"/\": no extension";
        case ExtensionVerdict::kTooLong:
            return "the extension is longer than " + std::to_string(kMaxExtensionLength) +
                   " characters";
        case ExtensionVerdict::kInList:
            return "in the list";
        case ExtensionVerdict::kNotInList:
            return "not in the list";
    }
    return "";
}

// Where a value came from: the file, or the default because the file, the
// section or the key is missing.
std::string Source(const std::wstring& path, const char* key) {
    wchar_t probe[8];
    const wchar_t kMissing[] = L"\x01";
    GetPrivateProfileStringW(Utf8ToWide(kSettingsSection).c_str(), Utf8ToWide(key).c_str(),
                             kMissing, probe, 8, path.c_str());
    return probe[0] == kMissing[0] && probe[1] == L'\0' ? "default" : "from the file";
}

}  // namespace

Explanation ExplainUrl(const std::string& url) {
    std::ostringstream out;
    out << "URL: " << url << "\n";

    const char* scheme = FindSupportedScheme(url.c_str());
    if (scheme == nullptr) {
        out << "  scheme: not one of ftp, http, https, corvane, mms, mmst, rtsp, rtspu\n"
            << "  verdict: let through (no file read)\n";
        return {out.str(), false};
    }
    out << "  scheme: \"" << scheme << "\" is supported\n";
    if (url.find('?') != std::string::npos) {
        out << "  note: the URL contains \"?\": the browser's navigation events never offer it; "
               "only the download manager's road can\n";
    }

    std::wstring path;
    if (!ConfigurationPath(path)) {
        out << "  configuration: the program's folder cannot be had\n  verdict: let through\n";
        return {out.str(), false};
    }
    const bool fileExists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    out << "  configuration: " << WideToUtf8(path)
        << (fileExists ? "" : " (absent: defaults apply)") << "\n";

    const bool on = IsSwitchOn(ReadMonitorValue(path));
    out << "  switch: MonitorIE " << (on ? "on" : "off") << " (" << Source(path, kSwitchKey)
        << ")\n";
    if (!on) {
        out << "  verdict: let through (the switch is off)\n";
        return {out.str(), false};
    }

    const std::string list = ReadExtensionList(path);
    out << "  list: \"" << list << "\" (" << Source(path, kListKey) << ")\n";

    const ExtensionVerdict verdict = ExplainExtension(url.c_str(), list.c_str());
    if (!verdict.candidate.empty())
        out << "  candidate: \"" << verdict.candidate << "\"\n";
    out << "  extension: " << Describe(verdict.reason) << "\n";
    if (verdict.reason == ExtensionVerdict::kNotInList) {
        const NearMiss miss = FindNearMiss(verdict.candidate, list);
        if (miss.found) {
            std::string fixed = miss.entry + ";";
            for (char& c : fixed)
                c = LowerAscii(c);
            out << "  note: the entry \"" << miss.entry << "\" would take it but for its "
                << (miss.capitals && miss.missingSemicolon ? "capitals and its missing closing "
                                                             "semicolon"
                    : miss.capitals                        ? "capitals"
                                                           : "missing closing semicolon")
                << ": write it \"" << fixed << "\"\n";
        }
    }

    const bool handedOver = verdict.matches;
    out << "  verdict: " << (handedOver ? "handed to the download agent" : "let through") << "\n";
    return {out.str(), handedOver};
}
