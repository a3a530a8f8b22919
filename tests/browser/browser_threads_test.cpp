// Several browser threads, each its own single-threaded apartment with its
// own helper object, fire events and download requests at once against the
// one intercept state, while one thread is held in a slow hand-off. Nothing
// may deadlock, and each thread's events for URLs no other thread uses must
// give the Cancel values the rules require.
#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "browser/intercept_state.h"
#include "tests/support/agent_control.h"
#include "tools/support/event_args.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/intercept_state_access.h"
#include "tests/support/reference_count.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int kThreads = 4;
constexpr int kFastRounds = 1500;
constexpr int kSlowRounds = 6;  // each hand-off takes the agent 200 ms
const wchar_t kSlowPrefix[] = L"http://host/slow/";

struct ThreadResult {
    int index = 0;
    int events = 0;
    int violations = 0;
    std::string firstViolation;
    DWORD elapsedMs = 0;
};

// Fires one event at the helper; answers the Cancel value the browser sees.
VARIANT_BOOL Fire(WebCorvaneIEHelper* helper, DISPID id, BrowserEventArgs* raw,
                  ThreadResult& result) {
    std::unique_ptr<BrowserEventArgs> args(raw);
    ++result.events;
    if (helper->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, args->Params(), nullptr, nullptr,
                       nullptr) != S_OK) {
        return -100;
    }
    return args->cancel;
}

void Expect(ThreadResult& result, bool holds, const std::string& what) {
    if (holds)
        return;
    if (result.violations++ == 0)
        result.firstViolation = what;
}

// Events for URLs only this thread uses, refused by the policy: every
// outcome is fixed whatever the other threads do to the shared state.
void FastThread(WebCorvaneIEHelper* helper, ThreadResult& r) {
    const std::wstring t = std::to_wstring(r.index);
    VDownloadManager* manager = new VDownloadManager();
    for (int i = 0; i < kFastRounds; ++i) {
        const std::wstring n = t + L"/" + std::to_wstring(i);
        const std::string at = " thread " + std::to_string(r.index) + " round " + std::to_string(i);
        Expect(r,
               Fire(helper, DISPID_BEFORENAVIGATE2,
                    BrowserEventArgs::BeforeNavigate2(L"about:" + n), r) == 0,
               "refused BeforeNavigate2" + at);
        Expect(r,
               Fire(helper, DISPID_BEFORENAVIGATE2,
                    BrowserEventArgs::BeforeNavigate2(L"gopher://host/" + n + L"?q"),
                    r) == BrowserEventArgs::kUntouched,
               "query BeforeNavigate2" + at);
        Expect(r,
               Fire(helper, DISPID_NEWWINDOW3,
                    BrowserEventArgs::NewWindow3(L"gopher://host/" + n, L"about:page" + t), r) == 0,
               "refused NewWindow3" + at);
        {
            BrowserEventArgs* args = BrowserEventArgs::NewWindow3(L"gopher://x/" + n, L"about:p");
            args->Params()->rgvarg[3].vt = VT_I4;  // a Cancel of the wrong type
            Expect(r, Fire(helper, DISPID_NEWWINDOW3, args, r) == BrowserEventArgs::kUntouched,
                   "NewWindow3 without a usable Cancel" + at);
        }
        // Unsited, the focused link is empty: the empty URL, refused.
        Expect(r, Fire(helper, DISPID_NEWWINDOW2, BrowserEventArgs::NewWindow2(), r) == 0,
               "NewWindow2" + at);
        // A URL nobody ever navigated to is never taken for an earlier one's.
        const std::string fresh =
            "http://fresh/" + std::to_string(r.index) + "/" + std::to_string(i) + ".zip";
        const DownloadDecision d = interceptState.Apply(
            [&](InterceptState& s) { return DownloadRequestTransition(s, fresh); });
        Expect(r, !d.decline, "fresh download declined" + at);
        // The download manager itself, where Windows reports 6 or later.
        FakeMoniker moniker(FakeMoniker::kName, L"http://fresh/x.zip");
        const HRESULT hr = manager->Download(&moniker, nullptr, 0, 0, nullptr, L"h", nullptr, 0);
        Expect(r, (hr == S_OK || hr == E_NOTIMPL) && moniker.refs == 1, "Download" + at);
        ++r.events;
    }
    manager->Release();
}

// Fresh URLs the policy takes: each reaches the agent, which holds the
// thread 200 ms and refuses.
void SlowThread(WebCorvaneIEHelper* helper, ThreadResult& r) {
    for (int i = 0; i < kSlowRounds; ++i) {
        const std::wstring n = std::to_wstring(i);
        const std::string at = " round " + std::to_string(i);
        Expect(r,
               Fire(helper, DISPID_BEFORENAVIGATE2,
                    BrowserEventArgs::BeforeNavigate2(kSlowPrefix + n + L".zip"), r) == 0,
               "slow BeforeNavigate2" + at);
        Expect(
            r,
            Fire(helper, DISPID_NEWWINDOW3,
                 BrowserEventArgs::NewWindow3(kSlowPrefix + n + L"-w.zip", L"about:page"), r) == 0,
            "slow NewWindow3" + at);
    }
}

DWORD WINAPI ThreadMain(void* parameter) {
    ThreadResult& r = *static_cast<ThreadResult*>(parameter);
    const DWORD started = GetTickCount();
    if (FAILED(CoInitialize(nullptr))) {
        Expect(r, false, "CoInitialize");
        return 1;
    }
    WebCorvaneIEHelper* helper = new WebCorvaneIEHelper();
    if (r.index == 0)
        SlowThread(helper, r);
    else
        FastThread(helper, r);
    Expect(r, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helper)) == 1, "helper references");
    static_cast<IWebCorvaneIEHelper*>(helper)->Release();
    CoUninitialize();
    r.elapsedMs = GetTickCount() - started;
    return 0;
}

TEST(BrowserThreads, ConcurrentEventsWithABlockedHandoffNeitherDeadlockNorMix) {
    AgentSession agent;
    agent.SetAnswer(L"slow:200:0");
    SetInterceptState();
    const LONG liveBefore = liveObjectCount;

    ThreadResult results[kThreads];
    HANDLE threads[kThreads] = {};
    for (int t = 0; t < kThreads; ++t) {
        results[t].index = t;
        threads[t] = CreateThread(nullptr, 0, ThreadMain, &results[t], 0, nullptr);
        ASSERT_NE(nullptr, threads[t]);
    }
    const DWORD waited = WaitForMultipleObjects(kThreads, threads, TRUE, 120000);
    if (waited == WAIT_TIMEOUT) {
        ADD_FAILURE() << "the threads did not end within two minutes";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);  // a deadlock cannot be undone
    }
    for (HANDLE thread : threads)
        CloseHandle(thread);

    int events = 0;
    for (const ThreadResult& r : results) {
        EXPECT_EQ(0, r.violations) << r.violations << " violations, first: " << r.firstViolation;
        events += r.events;
    }
    EXPECT_EQ(liveBefore, liveObjectCount);

    // Every slow URL reached the agent exactly once: no event was lost or
    // doubled while the thread waited.
    int slowCalls = 0;
    for (const AgentRecord& record : agent.Records())
        slowCalls += record.url.text.compare(0, wcslen(kSlowPrefix), kSlowPrefix) == 0;
    EXPECT_EQ(2 * kSlowRounds, slowCalls);
    // The slow thread really was held while the others ran.
    EXPECT_GE(results[0].elapsedMs, static_cast<DWORD>(2 * kSlowRounds * 200));
    std::printf(
        "[ threads  ] %d events and requests on %d threads; slow thread %lu ms "
        "(%d agent calls), fast threads %lu/%lu/%lu ms\n",
        events, kThreads, static_cast<unsigned long>(results[0].elapsedMs), slowCalls,
        static_cast<unsigned long>(results[1].elapsedMs),
        static_cast<unsigned long>(results[2].elapsedMs),
        static_cast<unsigned long>(results[3].elapsedMs));
}

}  // namespace
