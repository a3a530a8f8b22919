// One click as the browser reports it, event after event, into the helper
// object and then the download manager, with the reference agent answering.
// The download manager declines everything on Windows 7 and later, so the
// cases run in a copy of this executable that Wine reports as Windows XP.
#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "browser/intercept_state.h"
#include "common/com_ptr.h"
#include "tests/support/agent_control.h"
#include "tests/support/fire_event.h"
#include "tests/support/fake_browser.h"
#include "tests/support/intercept_state_access.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>
#include <urlmon.h>

#include <gtest/gtest.h>

namespace {

const wchar_t kPage[] = L"http://127.0.0.1:1/page.html";

class ClickRoadOnXp : public testing::Test {
  protected:
    void SetUp() override {
        if (!RunsAsCopy())
            GTEST_SKIP() << "runs in the copy that reports Windows XP";
        CoInitialize(nullptr);
        SetInterceptState();
        browser = MakeFake<FakeBrowser>(kPage);
        site = MakeFake<FakeSite>(browser->AsBrowser());
        helper = new WebCorvaneIEHelper();
        const ULONG browserRefs = browser->RefCount();
        helper->SetSite(site.Get());  // no connection points: only the browser is kept
        ASSERT_EQ(browserRefs + 1, browser->RefCount());
    }
    void TearDown() override {
        if (helper != nullptr)
            static_cast<IWebCorvaneIEHelper*>(helper)->Release();
        site.Reset();
        browser.Reset();
        CoUninitialize();
    }

    VARIANT_BOOL Fire(DISPID id, BrowserEventArgs* args) { return FireAt(helper, id, args); }

    // The browser's download request for `url`, with a URL moniker and a
    // bind context as the browser makes them.
    HRESULT Download(const wchar_t* url) {
        ComPtr<IMoniker> moniker;
        EXPECT_EQ(S_OK, CreateURLMonikerEx(nullptr, url, moniker.Receive(), URL_MK_UNIFORM));
        ComPtr<IBindCtx> bindContext;
        EXPECT_EQ(S_OK, CreateBindCtx(0, bindContext.Receive()));
        VDownloadManager* manager = new VDownloadManager();
        const HRESULT hr =
            manager->Download(moniker.Get(), bindContext.Get(), 0, 0, nullptr, nullptr, nullptr, 0);
        manager->Release();
        return hr;
    }

    AgentSession agent;
    ComPtr<FakeBrowser> browser;
    ComPtr<FakeSite> site;
    WebCorvaneIEHelper* helper = nullptr;
};

TEST_F(ClickRoadOnXp, RefusedNavigationIsLeftToTheBrowsersOwnDownload) {
    const wchar_t url[] = L"http://127.0.0.1:1/road.zip";
    agent.SetAnswer(L"0");
    EXPECT_EQ(0, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url)));
    EXPECT_EQ("http://127.0.0.1:1/road.zip", CurrentInterceptState().navigateUrl);
    ASSERT_EQ(1u, agent.Records().size());

    // The download that follows is the browser's: the agent is not asked again.
    agent.SetAnswer(L"1");
    EXPECT_EQ(E_NOTIMPL, Download(url));
    EXPECT_EQ("", CurrentInterceptState().navigateUrl);
    EXPECT_EQ(1u, agent.Records().size());
}

TEST_F(ClickRoadOnXp, RefusedNewWindowSuppressesTheRestOfTheClick) {
    const wchar_t url[] = L"http://127.0.0.1:1/popup.zip";
    agent.SetAnswer(L"0");
    EXPECT_EQ(0, Fire(DISPID_NEWWINDOW3, BrowserEventArgs::NewWindow3(url, kPage)));
    EXPECT_EQ(0, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url)));
    agent.SetAnswer(L"1");
    EXPECT_EQ(E_NOTIMPL, Download(url));
    EXPECT_EQ(E_NOTIMPL, Download(url));  // the new window's entry stays
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(url), records[0].url);
}

TEST_F(ClickRoadOnXp, UnrecordedDownloadGoesToTheAgentWithThePageAsReferrer) {
    // A page shown, then a download that no navigation event announced.
    agent.SetAnswer(L"1");
    EXPECT_EQ(0, Fire(DISPID_BEFORENAVIGATE2,
                      BrowserEventArgs::BeforeNavigate2(L"http://127.0.0.1:1/next.html")));
    ASSERT_EQ("http://127.0.0.1:1/page.html", CurrentInterceptState().pageUrl);
    ASSERT_TRUE(agent.Records().empty());

    const wchar_t url[] = L"http://127.0.0.1:1/direct.zip";
    EXPECT_EQ(S_OK, Download(url));
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(url), records[0].url);
    EXPECT_EQ(AgentText::Of(L""), records[0].comment);
    EXPECT_EQ(AgentText::Of(kPage), records[0].referrer);
}

TEST(ClickRoadVersions, XpCopyRunsTheClicks) {
    EXPECT_TRUE(CopyRanItsCases(
        RunCasesAsWindows(kWindowsXp, "click_road_xp.exe", "ClickRoadOnXp.*"), &kWindowsXp));
}

}  // namespace
