// The handlers' one effect on the browser, the Cancel flag, with the
// reference agent answering out of process.
#include "browser/ie_helper.h"

#include "browser/intercept_state.h"
#include "tests/support/agent_control.h"
#include "tests/support/fire_event.h"
#include "tests/support/intercept_state_access.h"

#include <exdispid.h>

#include <gtest/gtest.h>

namespace {

class NavigationHandoff : public testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        SetInterceptState();
        helper = new WebCorvaneIEHelper();
    }
    void TearDown() override {
        static_cast<IWebCorvaneIEHelper*>(helper)->Release();
        CoUninitialize();
    }
    VARIANT_BOOL Fire(DISPID id, BrowserEventArgs* args) { return FireAt(helper, id, args); }
    AgentSession agent;
    WebCorvaneIEHelper* helper = nullptr;
};

TEST_F(NavigationHandoff, AcceptanceWritesOneAndRefusalZero) {
    agent.SetAnswer(L"1");
    EXPECT_EQ(
        1, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/a.zip")));
    EXPECT_EQ(1, Fire(DISPID_NEWWINDOW3,
                      BrowserEventArgs::NewWindow3(L"http://host/b.zip", L"http://host/page")));
    agent.SetAnswer(L"0");
    EXPECT_EQ(
        0, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/c.zip")));
    agent.SetAnswer(L"hresult:0x80004005");
    EXPECT_EQ(
        0, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/d.zip")));

    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://host/a.zip"), records[0].url);
    EXPECT_EQ(AgentText::Of(L""), records[0].referrer);  // no browser: no page shown
    EXPECT_EQ(AgentText::Of(L"http://host/b.zip"), records[1].url);
    EXPECT_EQ(AgentText::Of(L"http://host/page"), records[1].referrer);
}

TEST_F(NavigationHandoff, OneClickReachesTheAgentOnce) {
    agent.SetAnswer(L"0");
    EXPECT_EQ(0, Fire(DISPID_NEWWINDOW3,
                      BrowserEventArgs::NewWindow3(L"http://host/e.zip", L"http://host/page")));
    EXPECT_EQ(
        0, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/e.zip")));
    EXPECT_EQ(
        BrowserEventArgs::kUntouched,
        Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/e.zip?x")));
    EXPECT_EQ(1u, agent.Records().size());
}

}  // namespace
