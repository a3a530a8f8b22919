// What one hand-off costs beside the least any client of the agent pays:
// The policy and the agent client (policy, CLSIDFromProgID, CoCreateInstance,
// AddTask, Release) against a bare client that only creates the agent, calls
// AddTask and releases it, alternating round by round so that both meet the
// same machine, and the bare client again on a thread of its own, as the
// hand-off made its offer before it had a worker; then the first two again,
// each in runs of a tenth of the rounds, taking turns. Then the first two
// against an agent that is not running, so that each call starts it; then the
// policy alone, its two profile reads, with "UserConfig.ini" present and
// absent. Last, an agent that answers only after twice the offer's bound: the
// time from a BeforeNavigate2 to its return, against the bound, for the first
// click and for the clicks after it while the offer given up still waits.
//   handoff_bench [rounds]      (the reference agent must be registered)
#include "browser/ie_helper.h"
#include "common/com_ptr.h"
#include "common/module_state.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"
#include "handoff/offer_bound.h"
#include "handoff/url_policy.h"
#include "tools/support/event_args.h"
#include "tools/bench/bench_figures.h"

#include <exdispid.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
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
           OfferTaskToAgent({kWideUrl, L"file.zip", L"http://host.example.com/", L""}) ==
               OfferOutcome::kTaken;
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

struct ThreadRound {
    const CLSID* agentClass;
    bool accepted;
};

DWORD WINAPI BareRound(void* parameter) {
    ThreadRound& round = *static_cast<ThreadRound*>(parameter);
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        round.accepted = BareHandoff(*round.agentClass);
        CoUninitialize();
    }
    return 0;
}

// The bare client on a thread of its own, in that thread's own apartment, as
// the hand-off makes its offer: what the thread alone adds.
bool BareHandoffOnItsOwnThread(REFCLSID agentClass) {
    ThreadRound round{&agentClass, false};
    FileHandle thread(CreateThread(nullptr, 0, BareRound, &round, 0, nullptr));
    if (!thread.Valid())
        return false;
    HANDLE handle = thread.Get();
    DWORD index = 0;
    CoWaitForMultipleHandles(0, INFINITE, 1, &handle, &index);
    return round.accepted;
}

void PrintRow(const char* name, const Samples& s, double base) {
    const Figures f = Summarise(s.micros);
    std::printf("%-40s %7zu %11.1f %11.1f %8.2f %9d\n", name, s.micros.size(), f.median, f.p90,
                base > 0 ? f.median / base : 1.0, s.accepted);
}

// The reference agent's "Answer" setting; empty removes it (its default, 1).
void SetAgentAnswer(const std::wstring& answer) {
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\ReferenceAgent", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return;
    if (answer.empty()) {
        RegDeleteValueW(key.Get(), L"Answer");
        return;
    }
    RegSetValueExW(key.Get(), L"Answer", 0, REG_SZ, reinterpret_cast<const BYTE*>(answer.c_str()),
                   static_cast<DWORD>((answer.size() + 1) * sizeof(wchar_t)));
}

// BeforeNavigate2 of a file link at a helper while the agent holds every
// call for twice the bound: each event's time to its return, and how many
// the browser saw cancelled; the first click apart from those after it.
struct StalledEvents {
    Samples first;
    Samples later;
};

StalledEvents TimeStalledEvents(int rounds) {
    StalledEvents s;
    SetAgentAnswer(L"slow:" + std::to_wstring(2 * kOfferBoundMs) + L":1");
    WebCorvaneIEHelper* helper = new WebCorvaneIEHelper();
    for (int i = 0; i < rounds; ++i) {
        std::unique_ptr<BrowserEventArgs> args(BrowserEventArgs::BeforeNavigate2(
            L"http://host.example.com/stalled-" + std::to_wstring(i) + L".zip"));
        Samples& samples = i == 0 ? s.first : s.later;
        const auto start = Clock::now();
        helper->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, args->Params(),
                       nullptr, nullptr, nullptr);
        samples.Add(start, Clock::now());
        samples.accepted += args->cancel == 1 ? 1 : 0;
    }
    static_cast<IWebCorvaneIEHelper*>(helper)->Release();
    // The offers given up run on to the agent's late answers.
    const DWORD waitStart = GetTickCount();
    while (liveObjectCount != 0 && GetTickCount() - waitStart < 4 * kOfferBoundMs)
        Sleep(50);
    SetAgentAnswer(L"");
    return s;
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
    Samples bareThread;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        ours.accepted += SendToAgent();
        auto end = Clock::now();
        ours.Add(start, end);

        start = Clock::now();
        bare.accepted += BareHandoff(agentClass);
        end = Clock::now();
        bare.Add(start, end);

        start = Clock::now();
        bareThread.accepted += BareHandoffOnItsOwnThread(agentClass);
        end = Clock::now();
        bareThread.Add(start, end);
    }
    // Under Wine one road's calls change what the next road's cost: each
    // road again in runs of its own, ten runs each, taking turns so that both
    // meet the same machine.
    Samples bareAlone;
    Samples oursAlone;
    const int run = std::max(1, rounds / 10);
    for (int i = 0; i < rounds; i += run) {
        for (int j = 0; j < run; ++j) {
            const auto start = Clock::now();
            bareAlone.accepted += BareHandoff(agentClass);
            bareAlone.Add(start, Clock::now());
        }
        for (int j = 0; j < run; ++j) {
            const auto start = Clock::now();
            oursAlone.accepted += SendToAgent();
            oursAlone.Add(start, Clock::now());
        }
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

    WritePrivateProfileSectionW(L"Monitor", Utf8ToWide(settings).c_str(), configuration.c_str());
    constexpr int kStalledRounds = 20;
    const StalledEvents stalled = TimeStalledEvents(kStalledRounds);
    DeleteFileW(configuration.c_str());

    std::printf("Hand-off to a running agent (%s)\n", kUrl);
    std::printf("%-40s %7s %11s %11s %8s %9s\n", "", "rounds", "median us", "p90 us", "ratio",
                "yes");
    const double base = Summarise(bare.micros).median;
    PrintRow("bare client: create + AddTask + Release", bare, base);
    PrintRow("bare client on a thread of its own", bareThread, base);
    PrintRow("policy and agent client", ours, base);
    const double aloneBase = Summarise(bareAlone.micros).median;
    PrintRow("bare client, in runs of its own", bareAlone, aloneBase);
    PrintRow("policy and agent client, in runs", oursAlone, aloneBase);
    PrintRow("policy alone, UserConfig.ini present", policyWithFile, base);
    PrintRow("policy alone, no UserConfig.ini", policyWithoutFile, base);
    std::printf("\nHand-off to an agent that is not running (each starts it)\n");
    const double coldBase = Summarise(coldBare.micros).median;
    PrintRow("bare client: create + AddTask + Release", coldBare, coldBase);
    PrintRow("policy and agent client", coldOurs, coldBase);
    std::printf(
        "\nAgent that answers after %lu ms, the bound %lu ms: BeforeNavigate2 to its return\n",
        static_cast<unsigned long>(2 * kOfferBoundMs), static_cast<unsigned long>(kOfferBoundMs));
    PrintRow("BeforeNavigate2, stalled agent: first", stalled.first, kOfferBoundMs * 1000.0);
    PrintRow("the clicks after it, while it waits", stalled.later, kOfferBoundMs * 1000.0);
    std::printf(
        "ratio: median over the bare client's median (stalled: over the bound); yes: hand-offs "
        "the agent took (stalled: events cancelled), policy rounds with the switch on\n");
    std::printf("policy alone: IsMonitorEnabled + GetExtensionList, two profile reads\n");
    std::printf(
        "our hand-off over the bare client on the calling thread: %.2f x round by round, %.2f x "
        "each in runs of its own\n",
        Summarise(ours.micros).median / base, Summarise(oursAlone.micros).median / aloneBase);

    CoUninitialize();
    const int inRuns = static_cast<int>(bareAlone.micros.size());
    const bool allTaken = ours.accepted == rounds && bare.accepted == rounds &&
                          oursAlone.accepted == inRuns && bareAlone.accepted == inRuns &&
                          bareThread.accepted == rounds && coldOurs.accepted == kColdRounds &&
                          coldBare.accepted == kColdRounds && stalled.first.accepted == 0 &&
                          stalled.later.accepted == 0;
    return allTaken ? 0 : 2;
}
