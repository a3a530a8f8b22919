// Whatever becomes of the download agent, the browser's navigation goes on
// (Cancel 0) within the offer's bound, and the next hand-off works once the
// agent is back.
#include "tests/support/scratch_dir.h"
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"
#include "tools/support/process.h"

#include <exdispid.h>

#include <gtest/gtest.h>

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

class AgentFaults : public SitedHelper {
  protected:
    void TearDown() override {
        SitedHelper::TearDown();
        // Leave the agent registered from its own place, whatever happened.
        RunProcess(AgentExePath(), "/RegServer");
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

}  // namespace
