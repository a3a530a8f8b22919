// Whatever becomes of the download agent, the browser's navigation goes on
// (Cancel 0) within the offer's bound, and the next hand-off works once the
// agent is back. A hung agent costs one wait of the bound and one thread, not
// one per click; an event that arrives while an offer waits starts no wait.
#include "common/win_handles.h"
#include "tests/support/posted_action.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"
#include "tools/support/process.h"

#include <exdispid.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

// Fires a click at a helper of this thread and answers its Cancel value and
// how long the browser's thread was held.
VARIANT_BOOL TimedClick(IDispatch* helper, const wchar_t* url, DWORD& elapsedMs) {
    const DWORD start = GetTickCount();
    const VARIANT_BOOL cancel =
        FireAt(helper, DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url));
    elapsedMs = GetTickCount() - start;
    return cancel;
}

// How many threads this process runs now.
int CountThreads() {
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

// What a browser's thread waits for an answer that comes "at once".
constexpr DWORD kAtOnceMs = kOfferBoundMs / 10;

class AgentFaults : public SitedHelper {
  protected:
    void TearDown() override {
        SitedHelper::TearDown();
        // Leave the agent registered from its own place, whatever happened.
        RunProcess(AgentExePath(), "/RegServer");
    }
    // Twenty clicks through `handOver` (true: handed over) while the agent
    // hangs past the bound: the first waits the bound, the others are
    // declined at once, and no more than one thread is added; once the agent
    // has answered, the next click is handed over.
    void ExpectAHungAgentCostsOneWait(const std::function<bool(int)>& handOver) {
        // A first hand-off brings the process to its steady threads.
        EXPECT_TRUE(handOver(0)) << "the warm-up click";
        const int threadsBefore = CountThreads();
        agent.SetAnswer(L"slow:" + std::to_wstring(kOfferBoundMs + 2000) + L":1");
        DWORD start = GetTickCount();
        EXPECT_FALSE(handOver(1));
        EXPECT_LT(GetTickCount() - start, kOfferBoundMs + kReturnMarginMs);
        int click = 2;
        for (; click <= 20; ++click) {
            start = GetTickCount();
            EXPECT_FALSE(handOver(click)) << click;
            const DWORD elapsed = GetTickCount() - start;
            EXPECT_LT(elapsed, kAtOnceMs) << click;
            EXPECT_LE(CountThreads() - threadsBefore, 1) << click;
            if (elapsed > kOfferBoundMs / 2)
                break;  // each would wait: twenty of them take minutes
        }
        EXPECT_EQ(21, click) << "clicks declined at once";
        EXPECT_TRUE(OffersEnded());
        agent.SetAnswer(L"1");
        EXPECT_TRUE(handOver(21));
        EXPECT_EQ(3u, agent.Records().size()) << "the warm-up, the hung click and the last one";
    }
    // A click on a new link: BeforeNavigate2 of a URL no event recorded.
    VARIANT_BOOL Click() {
        const std::wstring url = L"http://host/fault-" + std::to_wstring(++clicks) + L".zip";
        return Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url));
    }
    int clicks = 0;
};

TEST_F(AgentFaults, NotRegistered) {
    ASSERT_EQ(0, RunProcess(AgentExePath(), "/UnregServer"));
    EXPECT_EQ(0, Click());
    ASSERT_EQ(0, RunProcess(AgentExePath(), "/RegServer"));
    EXPECT_EQ(1, Click());
}

TEST_F(AgentFaults, RegisteredButItsProgramIsMissing) {
    {
        ScratchDir gone("agent-gone");
        const std::string copy = gone.Sub("CorvaneAgent.exe");
        ASSERT_TRUE(CopyFileA(AgentExePath().c_str(), copy.c_str(), FALSE));
        ASSERT_EQ(0, RunProcess(copy, "/RegServer"));
    }  // the copy and its folder are gone; the registration still names them
    EXPECT_EQ(0, Click());
    ASSERT_EQ(0, RunProcess(AgentExePath(), "/RegServer"));
    EXPECT_EQ(1, Click());
}

// COM starts the agent's program, which never offers its class object: the
// browser waits for it no longer than for any offer, in Maxthon as in
// Internet Explorer. Wine's activation looks for the class object for 30 s,
// whenever the program ends after its first second: the case runs in the copy
// of this executable named Maxthon.exe (see ie_helper_events_test.cpp), whose
// end also ends the offer it gave up.
TEST_F(AgentFaults, ProgramThatNeverRegistersItsClassIsWaitedForAtMostTheBound) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in a copy of this executable named Maxthon.exe";
    DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
    ASSERT_TRUE(hostIsMaxthon);
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    SetAgentStart(L"silent:" + std::to_wstring(kOfferBoundMs));
    DWORD elapsed = 0;
    EXPECT_EQ(0, TimedClick(helper, L"http://host/silent.zip", elapsed));
    EXPECT_LT(elapsed, kOfferBoundMs + kReturnMarginMs);
    EXPECT_TRUE(agent.Records().empty());
}

// Two tabs, each its own thread and helper: while one tab's offer waits for
// the agent, the other's is taken at once.
TEST_F(AgentFaults, OneTabsStalledOfferHoldsUpNoOtherTab) {
    agent.SetAnswer(L"slow:" + std::to_wstring(kAfterTheBoundMs) + L":1");
    VARIANT_BOOL stalledCancel = -5;
    DWORD stalledMs = 0;
    std::thread stalledTab([&] {
        CoInitialize(nullptr);
        WebCorvaneIEHelper* other = new WebCorvaneIEHelper();
        stalledCancel = TimedClick(other, L"http://host/stalled-tab.zip", stalledMs);
        static_cast<IWebCorvaneIEHelper*>(other)->Release();
        CoUninitialize();
    });
    // The stalled call has reached the agent; every later call is answered at once.
    EXPECT_TRUE(WaitUntil([&] { return agent.Records().size() == 1; }, kOfferBoundMs));
    agent.SetAnswer(L"1");
    DWORD elapsed = 0;
    EXPECT_EQ(1, TimedClick(helper, L"http://host/other-tab.zip", elapsed));
    EXPECT_LT(elapsed, kOfferBoundMs / 2);
    stalledTab.join();
    EXPECT_EQ(0, stalledCancel);
    EXPECT_LT(stalledMs, kOfferBoundMs + kReturnMarginMs);
    EXPECT_TRUE(OffersEnded());
    EXPECT_EQ(2u, agent.Records().size());
}

TEST_F(AgentFaults, HungAgentCostsOneWaitAndOneThreadForTwentyClicks) {
    ExpectAHungAgentCostsOneWait([&](int click) {
        const std::wstring url = L"http://host/hung-" + std::to_wstring(click) + L".zip";
        return Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url)) == 1;
    });
}

// The same on the download manager's road, open where Windows reports XP.
TEST_F(AgentFaults, HungAgentCostsOneWaitAndOneThreadForTwentyDownloadsOnXp) {
    if (ReportedMajorVersion() >= 6)
        GTEST_SKIP() << "runs in the copy that reports Windows XP";
    ExpectAHungAgentCostsOneWait([&](int click) {
        const std::wstring url = L"http://host/hung-download-" + std::to_wstring(click) + L".zip";
        return Download(url.c_str()) == S_OK;
    });
}

// An event that COM's wait dispatches while an offer of the same thread waits
// for the agent: it is declined at once and starts no wait inside the first,
// whose answer still comes when the agent gives it. Its transition counts in
// the order the events came. The browser's SetSite and OnQuit in the same
// wait leave the helper sound: the next click is taken.
TEST_F(AgentFaults, AnEventDuringAnOffersWaitIsDeclinedAtOnceAndStartsNoWait) {
    constexpr DWORD kAgentMs = 1500;
    const RunningAgent running;
    ShowPage(L"http://host/first.html");
    agent.SetAnswer(L"slow:" + std::to_wstring(kAgentMs) + L":1");
    ComPtr<FakeBrowser> firstBrowser = ComPtr<FakeBrowser>::Share(browser.Get());
    VARIANT_BOOL nestedCancel = BrowserEventArgs::kUntouched;
    DWORD nestedMs = 0;
    ULONG nextBrowserRefs = 0;
    HRESULT quit = E_FAIL;
    DWORD outerMs = 0;
    VARIANT_BOOL outerCancel = BrowserEventArgs::kUntouched;
    {
        PostedAction during(kAgentMs / 3, [&] {
            // Were the event offered, its wait would hold the first one long past its answer.
            agent.SetAnswer(L"slow:" + std::to_wstring(kOfferBoundMs - 1000) + L":1");
            nestedCancel = TimedClick(helper, L"http://host/nested.zip", nestedMs);
            ComPtr<FakeBrowser> next = MakeFake<FakeBrowser>(L"http://host/second.html");
            ComPtr<FakeSite> nextSite = MakeFake<FakeSite>(next->AsBrowser());
            const ULONG refs = next->RefCount();
            helper->SetSite(nextSite.Get());
            nextBrowserRefs = next->RefCount() - refs;
            browser = std::move(next);
            site = std::move(nextSite);
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            quit = helper->Invoke(DISPID_ONQUIT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                  nullptr, nullptr);
        });
        outerCancel = TimedClick(helper, L"http://host/outer.zip", outerMs);
        ASSERT_TRUE(during.Ran()) << "the message was not dispatched during the offer's wait";
    }
    EXPECT_EQ(0, nestedCancel);
    EXPECT_LT(nestedMs, kAtOnceMs);
    EXPECT_EQ(1, outerCancel);
    EXPECT_LT(outerMs, kAgentMs + kReturnMarginMs) << "a second wait inside the first";
    EXPECT_EQ(1u, nextBrowserRefs) << "the helper keeps one reference on its new browser";
    EXPECT_EQ(S_OK, quit);
    EXPECT_EQ("http://host/nested.zip", CurrentInterceptState().navigateUrl);
    // The browser the helper let go of is held by this test alone.
    EXPECT_EQ(1u, firstBrowser->RefCount());

    agent.SetAnswer(L"1");
    DWORD afterMs = 0;
    EXPECT_EQ(1, TimedClick(helper, L"http://host/after.zip", afterMs));
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://host/outer.zip"), records[0].url);
    EXPECT_EQ(AgentText::Of(L"http://host/second.html"), records[1].referrer);
    EXPECT_TRUE(OffersEnded());
}

}  // namespace
