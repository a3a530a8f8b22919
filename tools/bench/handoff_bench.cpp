// What one hand-off costs beside the least any client of the agent pays:
// The policy and the agent client (policy, CLSIDFromProgID, CoCreateInstance,
// AddTask, Release) against a bare client that only creates the agent, calls
// AddTask and releases it, alternating round by round so that both meet the
// same machine. Then both again against an agent that is not running, so
// that each call starts it; then the policy alone, its two profile reads,
// with "UserConfig.ini" present and absent.
//   handoff_bench [rounds]      (the reference agent must be registered)
#include "common/com_ptr.h"
#include "common/string_conversion.h"
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"
#include "handoff/url_policy.h"
#include "tools/bench/bench_figures.h"

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download_agent.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUrl[] = "http://host.example.com/downloads/file.zip";
constexpr wchar_t kWideUrl[] = L"http://host.example.com/downloads/file.zip";

struct Samples {
    std::vector<double> micros;
    int accepted = 0;

    void Add(Clock::time_point start, Clock::time_point end) {
        micros.push_back(Microseconds(start, end));
    }
};

// What the browser's events and download requests do: the policy, then the
// agent client.
bool SendToAgent() {
    return PolicyAllows(kUrl) &&
           OfferToAgent({kWideUrl, L"file.zip", L"http://host.example.com/", L""});
}

// The least a client does: no policy, the class already known.
bool BareHandoff(REFCLSID agentClass) {
    ComPtr<IDownloadAgent> agent;
    if (FAILED(CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDownloadAgent,
                                agent.ReceiveVoid())))
        return false;
    BSTR url = SysAllocString(kWideUrl);
    BSTR comment = SysAllocString(L"file.zip");
    BSTR referrer = SysAllocString(L"http://host.example.com/");
    BSTR cookie = SysAllocString(L"");
    BSTR reserved = SysAllocString(L"");
    LONG answer = 0;
    const HRESULT hr = agent->AddTask(url, comment, referrer, 0, cookie, reserved, &answer);
    agent.Reset();
    for (BSTR text : {url, comment, referrer, cookie, reserved})
        SysFreeString(text);
    return SUCCEEDED(hr) && answer == 1;
}

void PrintRow(const char* name, const Samples& s, double base) {
    const Figures f = Summarise(s.micros);
    std::printf("%-40s %7zu %11.1f %11.1f %8.2f %9d\n", name, s.micros.size(), f.median, f.p90,
                base > 0 ? f.median / base : 1.0, s.accepted);
}

Samples TimePolicy(int rounds) {
    Samples s;
    std::wstring path;
    ConfigurationPath(path);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const bool on = IsSwitchOn(ReadMonitorValue(path)) && !ReadExtensionList(path).empty();
        const auto end = Clock::now();
        s.Add(start, end);
        s.accepted += on ? 1 : 0;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    // A configuration as an installation has it, beside this program, where
    // the hand-off looks for it; removed at the end.
    std::wstring configuration;
    if (!ConfigurationPath(configuration)) {
        std::fprintf(stderr, "handoff_bench: no configuration path\n");
        return 1;
    }
    CoInitialize(nullptr);

    CLSID agentClass;
    ComPtr<IUnknown> keepAlive;
    if (FAILED(CLSIDFromProgID(kAgentProgId, &agentClass)) ||
        FAILED(CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDownloadAgent,
                                keepAlive.ReceiveVoid()))) {
        std::fprintf(stderr, "handoff_bench: the download agent is not registered\n");
        CoUninitialize();
        return 1;
    }

    const std::string settings =
        std::string("MonitorIE=1\r\nExtendNames=") + kDefaultExtensionList + "\r\n";
    WritePrivateProfileSectionW(L"Monitor", Utf8ToWide(settings).c_str(), configuration.c_str());

    // The agent is held, so every hand-off meets it running; a few rounds
    // first bring both roads to their steady state.
    for (int i = 0; i < 5; ++i) {
        SendToAgent();
        BareHandoff(agentClass);
    }
    Samples ours;
    Samples bare;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        ours.accepted += SendToAgent();
        auto end = Clock::now();
        ours.Add(start, end);

        start = Clock::now();
        bare.accepted += BareHandoff(agentClass);
        end = Clock::now();
        bare.Add(start, end);
    }

    // Then the agent is let go: each hand-off now starts it afresh, and it
    // ends once the hand-off releases it.
    keepAlive.Reset();
    constexpr int kColdRounds = 5;
    constexpr DWORD kAgentExitMs = 1000;
    Samples coldOurs;
    Samples coldBare;
    for (int i = 0; i < kColdRounds; ++i) {
        Sleep(kAgentExitMs);
        auto start = Clock::now();
        coldOurs.accepted += SendToAgent();
        auto end = Clock::now();
        coldOurs.Add(start, end);

        Sleep(kAgentExitMs);
        start = Clock::now();
        coldBare.accepted += BareHandoff(agentClass);
        end = Clock::now();
        coldBare.Add(start, end);
    }

    const int policyRounds = rounds * 10;
    Samples policyWithFile = TimePolicy(policyRounds);
    DeleteFileW(configuration.c_str());
    // Profile functions may keep the file cached: make them look again.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, configuration.c_str());
    Samples policyWithoutFile = TimePolicy(policyRounds);

    std::printf("Hand-off to a running agent (%s)\n", kUrl);
    std::printf("%-40s %7s %11s %11s %8s %9s\n", "", "rounds", "median us", "p90 us", "ratio",
                "yes");
    const double base = Summarise(bare.micros).median;
    PrintRow("bare client: create + AddTask + Release", bare, base);
    PrintRow("policy and agent client", ours, base);
    PrintRow("policy alone, UserConfig.ini present", policyWithFile, base);
    PrintRow("policy alone, no UserConfig.ini", policyWithoutFile, base);
    std::printf("\nHand-off to an agent that is not running (each starts it)\n");
    const double coldBase = Summarise(coldBare.micros).median;
    PrintRow("bare client: create + AddTask + Release", coldBare, coldBase);
    PrintRow("policy and agent client", coldOurs, coldBase);
    std::printf(
        "ratio: median over the bare client's median; yes: hand-offs the agent took, "
        "policy rounds with the switch on\n");
    std::printf("policy alone: IsMonitorEnabled + GetExtensionList, two profile reads\n");

    CoUninitialize();
    const bool allTaken = ours.accepted == rounds && bare.accepted == rounds &&
                          coldOurs.accepted == kColdRounds && coldBare.accepted == kColdRounds;
    return allTaken ? 0 : 2;
}
