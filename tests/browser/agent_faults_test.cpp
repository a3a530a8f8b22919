// Whatever becomes of the download agent, the browser's navigation goes on
// (Cancel 0), and the next hand-off works once the agent is back.
#include "browser/ie_helper.h"

#include "browser/intercept_state.h"
#include "tests/support/agent_control.h"
#include "tests/support/child_process.h"
#include "tests/support/fire_event.h"
#include "tests/support/scratch_dir.h"

#include <exdispid.h>

#include <gtest/gtest.h>

namespace {

class AgentFaults : public testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        helper = new WebCorvaneIEHelper();
    }
    void TearDown() override {
        static_cast<IWebCorvaneIEHelper*>(helper)->Release();
        // Leave the agent registered from its own place, whatever happened.
        RunProcess(AgentExePath(), "/RegServer");
        CoUninitialize();
    }
    // A click on a new link: BeforeNavigate2 of a URL no event recorded.
    VARIANT_BOOL Click() {
        const std::wstring url = L"http://host/fault-" + std::to_wstring(++clicks) + L".zip";
        return FireAt(helper, DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url));
    }
    AgentSession agent;
    WebCorvaneIEHelper* helper = nullptr;
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

TEST_F(AgentFaults, AnswersSlowlyFailsOrDiesInTheCall) {
    struct Fault {
        const wchar_t* answer;
        VARIANT_BOOL cancel;
    } faults[] = {
        {L"slow:1500:0", 0},        {L"slow:500:1", 1}, {L"hresult:0x80004005", 0},
        {L"hresult:0x800706BE", 0}, {L"nowrite", 0},    {L"exit", 0},
    };
    for (const Fault& f : faults) {
        agent.SetAnswer(f.answer);
        EXPECT_EQ(f.cancel, Click()) << f.answer;
        if (std::wstring(f.answer) == L"exit")
            RestartRpcss();
        agent.SetAnswer(L"1");
        EXPECT_EQ(1, Click()) << "after " << f.answer;
    }
}

}  // namespace
