// Siting and the event connection, against browser doubles that count their
// references: what the helper takes from a site it must give back.
#include "browser/ie_helper.h"

#include "common/module_state.h"
#include "tests/support/reference_count.h"
#include "tests/support/fake_browser.h"

#include <exdispid.h>
#include <olectl.h>

#include <gtest/gtest.h>

namespace {

// A browser with its event connection point, sited through a fake site.
struct SitedBrowser {
    SitedBrowser() : browser(MakeFake<FakeBrowser>()) {
        browser->hasConnectionPoints = true;
        site = MakeFake<FakeSite>(browser->AsBrowser());
    }
    FakeConnectionPoint& Events() { return browser->Events(); }
    ComPtr<FakeBrowser> browser;
    ComPtr<FakeSite> site;
};

class IeHelperSite : public testing::Test {
  protected:
    void SetUp() override { helper = new WebCorvaneIEHelper(); }
    void TearDown() override {
        if (helper != nullptr)
            Primary()->Release();
    }
    IUnknown* Primary() { return static_cast<IWebCorvaneIEHelper*>(helper); }
    IObjectWithSite* WithSite() { return static_cast<IObjectWithSite*>(helper); }
    HRESULT Fire(DISPID id) {
        return helper->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr);
    }
    WebCorvaneIEHelper* helper = nullptr;
};

TEST_F(IeHelperSite, SiteWithBrowserConnectsThePrimaryInterfaceOnce) {
    SitedBrowser a;
    a.Events().nextCookie = 41;
    const ULONG browserRefs = a.browser->RefCount();
    EXPECT_EQ(S_OK, WithSite()->SetSite(a.site.Get()));
    EXPECT_EQ(browserRefs + 1, a.browser->RefCount());  // the helper keeps the browser
    ASSERT_EQ(1u, a.Events().advises.size());
    EXPECT_EQ(Primary(), a.Events().advises[0].sink);
    EXPECT_EQ(1u, a.Events().connections.count(41));
    EXPECT_EQ(2, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(
                     helper)));  // the connection point holds the sink
    // The stored cookie is the one Unadvise gets.
    EXPECT_EQ(S_OK, Fire(DISPID_ONQUIT));
    ASSERT_EQ(1u, a.Events().unadvises.size());
    EXPECT_EQ(41u, a.Events().unadvises[0].cookie);
    EXPECT_EQ(S_OK, a.Events().unadvises[0].result);
    EXPECT_EQ(1, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helper)));
}

TEST_F(IeHelperSite, SecondSiteReplacesTheBrowserAndConnectsAgain) {
    SitedBrowser a, b;
    a.Events().nextCookie = 5;
    b.Events().nextCookie = 9;
    const ULONG aRefs = a.browser->RefCount();
    const ULONG bRefs = b.browser->RefCount();
    ASSERT_EQ(S_OK, WithSite()->SetSite(a.site.Get()));
    ASSERT_EQ(S_OK, WithSite()->SetSite(b.site.Get()));
    EXPECT_EQ(bRefs + 1, b.browser->RefCount());
    EXPECT_EQ(aRefs, a.browser->RefCount());  // the old browser was released
    EXPECT_EQ(1u, b.Events().advises.size());
    // The first connection is not undone; the cookie is the second one's.
    EXPECT_EQ(1u, a.Events().connections.size());
    EXPECT_TRUE(a.Events().unadvises.empty());
    Fire(DISPID_QUIT);
    ASSERT_EQ(1u, b.Events().unadvises.size());
    EXPECT_EQ(9u, b.Events().unadvises[0].cookie);
    a.Events().Unadvise(5);  // the test's own clean-up of the first browser
}

TEST_F(IeHelperSite, NullSiteFailsAndChangesNothing) {
    SitedBrowser a;
    ASSERT_EQ(S_OK, WithSite()->SetSite(a.site.Get()));
    const ULONG browserRefs = a.browser->RefCount();
    EXPECT_EQ(E_FAIL, WithSite()->SetSite(nullptr));
    EXPECT_EQ(browserRefs, a.browser->RefCount());
    EXPECT_EQ(1u, a.Events().advises.size());
    EXPECT_TRUE(a.Events().unadvises.empty());
    EXPECT_EQ(S_OK, a.Events().Fire(252, nullptr));  // still connected
    Fire(DISPID_ONQUIT);
}

TEST_F(IeHelperSite, ConnectionFailuresAreReturnedAndTheBrowserKept) {
    struct Case {
        const char* what;
        HRESULT findResult;
        HRESULT adviseResult;
        size_t advises;
    } cases[] = {
        {"FindConnectionPoint fails", CONNECT_E_NOCONNECTION, S_OK, 0},
        {"Advise fails", S_OK, CONNECT_E_CANNOTCONNECT, 1},
    };
    for (const Case& c : cases) {
        WebCorvaneIEHelper* object = new WebCorvaneIEHelper();
        IObjectWithSite* withSite = object;
        {
            SitedBrowser a;
            const ULONG browserRefs = a.browser->RefCount();
            a.browser->findConnectionPointResult = c.findResult;
            a.Events().adviseResult = c.adviseResult;
            EXPECT_EQ(FAILED(c.findResult) ? c.findResult : c.adviseResult,
                      withSite->SetSite(a.site.Get()))
                << c.what;
            EXPECT_EQ(browserRefs + 1, a.browser->RefCount()) << c.what;
            EXPECT_EQ(c.advises, a.Events().advises.size()) << c.what;
            EXPECT_TRUE(a.Events().connections.empty()) << c.what;
            EXPECT_EQ(1, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(object))) << c.what;
            EXPECT_EQ(S_FALSE, a.Events().Fire(252, nullptr)) << c.what;
            withSite->Release();
            EXPECT_EQ(browserRefs, a.browser->RefCount()) << c.what;
        }
    }
}

TEST_F(IeHelperSite, WithoutConnectionPointsOrBrowserNothingIsConnected) {
    SitedBrowser a;
    a.browser->hasConnectionPoints = false;
    EXPECT_TRUE(FAILED(WithSite()->SetSite(a.site.Get())));
    EXPECT_EQ(0, a.browser->findConnectionPointCalls);
    EXPECT_TRUE(a.Events().advises.empty());
    EXPECT_EQ(1, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helper)));
    // A site that hands out no browser at all: no browser is kept.
    ComPtr<FakeSite> bare = MakeFake<FakeSite>();
    EXPECT_TRUE(FAILED(WithSite()->SetSite(bare.Get())));
    EXPECT_EQ(1, bare->browserQueries);
    EXPECT_EQ(1u, bare->RefCount());
    EXPECT_EQ(S_OK, Fire(DISPID_QUIT));  // nothing to disconnect from
}

TEST_F(IeHelperSite, OnQuitThenQuitUnadvisesTwiceWithTheSameCookie) {
    SitedBrowser a;
    a.Events().nextCookie = 3;
    ASSERT_EQ(S_OK, WithSite()->SetSite(a.site.Get()));
    const ULONG held = a.browser->RefCount();
    EXPECT_EQ(S_OK, a.Events().Fire(DISPID_ONQUIT, nullptr));
    EXPECT_EQ(S_OK, Fire(DISPID_QUIT));  // no longer connected: called directly
    ASSERT_EQ(2u, a.Events().unadvises.size());
    EXPECT_EQ(3u, a.Events().unadvises[0].cookie);
    EXPECT_EQ(3u, a.Events().unadvises[1].cookie);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, a.Events().unadvises[1].result);
    EXPECT_EQ(held, a.browser->RefCount());  // the browser is still held
}

TEST_F(IeHelperSite, LastReleaseLowersTheCountAndReleasesTheBrowser) {
    const long fakes = FakeObject::LiveCount();
    {
        SitedBrowser a;
        const ULONG browserRefs = a.browser->RefCount();
        const ULONG siteRefs = a.site->RefCount();
        const ULONG pointRefs = a.Events().RefCount();
        ASSERT_EQ(S_OK, WithSite()->SetSite(a.site.Get()));
        Fire(DISPID_ONQUIT);
        const LONG live = liveObjectCount;
        EXPECT_EQ(0u, Primary()->Release());
        helper = nullptr;
        EXPECT_EQ(live - 1, liveObjectCount);
        EXPECT_EQ(browserRefs, a.browser->RefCount());
        EXPECT_EQ(siteRefs, a.site->RefCount());
        EXPECT_EQ(pointRefs, a.Events().RefCount());
    }
    EXPECT_EQ(fakes, FakeObject::LiveCount());
}

}  // namespace
