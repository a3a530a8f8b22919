// The download agent as every hand-off reaches it: its ProgID, its program
// and, when asked, its creation, timed. It is never handed a URL.
#include "tools/url_explainer/check_steps.h"

#include "common/com_ptr.h"
#include "common/guid_text.h"
#include "common/string_conversion.h"
#include "handoff/agent_client.h"

#include <objbase.h>
#include <shlwapi.h>

#include "download_agent.h"

namespace {

const char kRepairFix[] = "install the WebCorvane download manager again (or repair it).";

// The program of a LocalServer32 command line. A quoted one is what the
// shell's path helpers take from it. An unquoted one may hold spaces
// ("C:\Program Files\..."), where PathRemoveArgs would cut it: it runs up to
// its ".exe", as CreateProcess finds it when COM starts the server.
std::string ServerProgram(const std::string& commandLine) {
    std::wstring line = Utf8ToWide(commandLine);
    if (!line.empty() && line[0] == L'"') {
        PathRemoveArgsW(&line[0]);
        PathUnquoteSpacesW(&line[0]);
        return WideToUtf8(line.c_str());
    }
    const wchar_t* exe = StrStrIW(line.c_str(), L".exe");
    return exe == nullptr ? commandLine : WideToUtf8(line.substr(0, exe - line.c_str() + 4));
}

void CreateAndTime(REFCLSID agentClass, std::vector<Finding>& findings) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ComPtr<IDownloadAgent> agent;
    const HRESULT hr = CreateAgent(agentClass, agent.Receive());
    QueryPerformanceCounter(&stop);
    const long long ms = (stop.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    if (FAILED(hr)) {
        findings.push_back({Finding::kProblem, "agent start",
                            "not created (" + HresultText(hr) + ") after " + std::to_string(ms) +
                                " ms: every hand-off fails the same way",
                            kRepairFix});
        return;
    }
    findings.push_back({Finding::kOk, "agent start",
                        "created in " + std::to_string(ms) +
                            " ms; it answers IDownloadAgent, so AddTask can be called (not "
                            "called: a check hands over no URL)",
                        ""});
}

}  // namespace

void CheckAgent(bool createAgent, std::vector<Finding>& findings) {
    const std::string progId = "\"" + WideToUtf8(kAgentProgId) + "\"";
    CLSID agentClass;
    const HRESULT resolved = ResolveAgent(agentClass);
    if (FAILED(resolved)) {
        findings.push_back({Finding::kProblem, "download agent",
                            progId + " is not registered (" + HresultText(resolved) +
                                "): no link can be handed over",
                            kRepairFix});
        return;
    }
    std::string clsidText;
    GuidToText(agentClass, clsidText);
    const std::string key = "CLSID\\" + clsidText + "\\LocalServer32";
    std::string commandLine;
    // COM starts a local server of either bitness.
    const REGSAM other = OtherRegistryView();
    const bool registered =
        ReadRegistryString(HKEY_CLASSES_ROOT, key, nullptr, commandLine) ||
        (other != 0 && ReadRegistryString(HKEY_CLASSES_ROOT, key, nullptr, commandLine, other));
    const std::string program = ServerProgram(commandLine);
    if (!registered) {
        findings.push_back(
            {Finding::kProblem, "download agent",
             progId + " is " + clsidText + ", which has no HKCR\\" + key + ": COM cannot start it",
             kRepairFix});
    } else if (!FileExists(program)) {
        findings.push_back(
            {Finding::kProblem, "download agent",
             progId + " is " + clsidText + ", whose program " + program + " does not exist",
             kRepairFix});
    } else {
        findings.push_back(
            {Finding::kOk, "download agent", progId + " is " + clsidText + ", " + program, ""});
        findings.push_back({Finding::kOk, "cookies",
                            "the agent is handed each URL's cookies with it (AddTask's fifth "
                            "argument, HttpOnly ones included where WinINet gives them); the "
                            "library stores none",
                            ""});
    }
    // Tried whatever the registry says: it fails as a hand-off would.
    if (createAgent)
        CreateAndTime(agentClass, findings);
}
