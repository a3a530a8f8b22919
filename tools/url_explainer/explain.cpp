// The explainer prints the policy's own decision: every value it shows is one
// the decision read, every verdict one it gave.
#include "tools/url_explainer/explain.h"

#include "common/string_conversion.h"
#include "handoff/handoff_policy.h"
#include "handoff/url_policy.h"
#include "tools/url_explainer/list_lint.h"

#include <windows.h>

#include <sstream>

namespace {

std::string Describe(const PolicyDecision& decision) {
    const char* const subject = decision.extensionFromFileName ? "the file name" : "the URL";
    switch (decision.extension.reason) {
        case ExtensionVerdict::kCorvaneLink:
            return "a corvane:// link: taken whatever the list says";
        case ExtensionVerdict::kNoDot:
            return std::string(subject) + " has no \".\": no extension";
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

const char* Source(bool fromFile) {
    return fromFile ? "from the file" : "default";
}

void ExplainNearMiss(const PolicyDecision& decision, std::ostream& out) {
    const NearMiss miss = FindNearMiss(decision.extension.candidate, decision.list);
    if (!miss.found)
        return;
    std::string fixed = miss.entry + ";";
    for (char& c : fixed)
        c = LowerAscii(c);
    out << "  note: the entry \"" << miss.entry << "\" would take it but for its "
        << (miss.capitals && miss.missingSemicolon ? "capitals and its missing closing semicolon"
            : miss.capitals                        ? "capitals"
                                                   : "missing closing semicolon")
        << ": write it \"" << fixed << "\"\n";
}

Explanation Explain(PolicyRoad road, const std::string& url, const std::string& fileName) {
    std::ostringstream out;
    if (road == PolicyRoad::kBrowsers) {
        out << "download: " << url << "\n  file name: "
            << (fileName.empty() ? "none proposed: the URL's extension counts"
                                 : "\"" + fileName + "\"")
            << "\n";
    } else {
        out << "URL: " << url << "\n";
    }

    const PolicyDecision decision = DecideHandOff(road, url, fileName);
    if (decision.reason == PolicyDecision::kUnsupportedScheme) {
        out << "  scheme: not one of ftp, http, https, corvane, mms, mmst, rtsp, rtspu"
            << (road == PolicyRoad::kBrowsers ? " (a blob: or data: download no agent can fetch)"
                                              : "")
            << "\n  verdict: let through (no file read)\n";
        return {out.str(), false};
    }
    out << "  scheme: \"" << decision.scheme << "\" is supported\n";
    if (road == PolicyRoad::kLibrary && url.find('?') != std::string::npos) {
        out << "  note: the URL contains \"?\": the browser's navigation events never offer it; "
               "only the download manager's road can\n";
    }
    if (decision.reason == PolicyDecision::kNoSettings) {
        out << "  configuration: the program's folder cannot be had\n  verdict: let through\n";
        return {out.str(), false};
    }

    // Where the values came from is read after the decision, apart from it.
    std::wstring path;
    const bool located = ConfigurationPath(path);
    const SettingSources sources = located ? ReadSettingSources(path, road) : SettingSources();
    out << "  configuration: " << (located ? WideToUtf8(path) : std::string("?"))
        << (sources.fileExists ? "" : " (absent: defaults apply)") << "\n";

    const bool on = IsSwitchOn(decision.switchValue);
    out << "  switch: " << SwitchKeyOf(road) << " " << (on ? "on" : "off") << " ("
        << Source(sources.switchFromFile) << ")\n";
    if (decision.reason == PolicyDecision::kSwitchOff) {
        out << "  verdict: let through (the switch is off)\n";
        return {out.str(), false};
    }

    out << "  list: \"" << decision.list << "\" (" << Source(sources.listFromFile) << ")\n";
    if (!decision.extension.candidate.empty()) {
        out << "  candidate: \"" << decision.extension.candidate << "\""
            << (decision.extensionFromFileName ? " (from the file name)" : "") << "\n";
    }
    out << "  extension: " << Describe(decision) << "\n";
    if (decision.reason == PolicyDecision::kNotInList)
        ExplainNearMiss(decision, out);

    out << "  verdict: " << (decision.allows ? "handed to the download agent" : "let through")
        << "\n";
    return {out.str(), decision.allows};
}

}  // namespace

Explanation ExplainUrl(const std::string& url) {
    return Explain(PolicyRoad::kLibrary, url, std::string());
}

Explanation ExplainDownload(const std::string& fileName, const std::string& url) {
    return Explain(PolicyRoad::kBrowsers, url, fileName);
}
