// The browser doubles are shared by several test suites: their connection
// bookkeeping and reference counting are checked here once.
#include "common/identifiers.h"
#include "tests/support/fake_browser.h"

#include <gtest/gtest.h>

#include <olectl.h>

namespace {
// A sink that answers only IDispatch and counts the events it receives.
class CountingSink : public StackDispatch {
  public:
    STDMETHODIMP Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        lastEvent = event;
        ++events;
        return S_OK;
    }
    int events = 0;
    DISPID lastEvent = 0;
};
}  // namespace

TEST(FakeBrowser, ConnectionPointHoldsTheSinkFromAdviseToUnadvise) {
    const long live = FakeObject::LiveCount();
    CountingSink sink;
    {
        ComPtr<FakeBrowser> browser = MakeFake<FakeBrowser>();
        browser->hasConnectionPoints = true;
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, container.QueryFrom(browser->AsBrowser(), IID_ConnectionPointContainer));
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(CONNECT_E_NOCONNECTION,
                  container->FindConnectionPoint(IID_IDispatch, point.Receive()));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_WebBrowserEvents2, point.Receive()));

        browser->Events().nextCookie = 7;
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(&sink), &cookie));
        EXPECT_EQ(7u, cookie);
        EXPECT_EQ(2u, sink.refs);
        EXPECT_EQ(S_OK, browser->Events().Fire(250, nullptr));
        EXPECT_EQ(250, sink.lastEvent);

        browser->Events().adviseResult = E_FAIL;
        DWORD untouched = 99;
        EXPECT_EQ(E_FAIL, point->Advise(static_cast<IDispatch*>(&sink), &untouched));
        EXPECT_EQ(99u, untouched);
        EXPECT_EQ(2u, sink.refs);

        EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(8));
        EXPECT_EQ(S_OK, point->Unadvise(7));
        EXPECT_EQ(1u, sink.refs);
        EXPECT_EQ(S_FALSE, browser->Events().Fire(250, nullptr));
        EXPECT_EQ(1, sink.events);

        ASSERT_EQ(2u, browser->Events().advises.size());
        EXPECT_EQ(static_cast<IUnknown*>(static_cast<IDispatch*>(&sink)),
                  browser->Events().advises[0].sink);
        ASSERT_EQ(2u, browser->Events().unadvises.size());
        EXPECT_EQ(7u, browser->Events().unadvises[1].cookie);

        browser->findConnectionPointResult = E_UNEXPECTED;
        EXPECT_EQ(E_UNEXPECTED,
                  container->FindConnectionPoint(DIID_WebBrowserEvents2, point.Receive()));
        EXPECT_FALSE(point);
        EXPECT_EQ(3, browser->findConnectionPointCalls);
        container.Reset();
        EXPECT_EQ(1u, browser->RefCount());
    }
    EXPECT_EQ(live, FakeObject::LiveCount());
}

TEST(FakeBrowser, ContainerOnlyWhenAskedAndSiteHandsOutTheBrowser) {
    const long live = FakeObject::LiveCount();
    {
        ComPtr<FakeBrowser> browser = MakeFake<FakeBrowser>();
        ComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(E_NOINTERFACE,
                  container.QueryFrom(browser->AsBrowser(), IID_ConnectionPointContainer));

        ComPtr<FakeSite> site = MakeFake<FakeSite>(browser->AsBrowser());
        ComPtr<FakeSite> bare = MakeFake<FakeSite>();
        ComPtr<IWebBrowser2> fromSite;
        ASSERT_EQ(S_OK, fromSite.QueryFrom(site.Get(), IID_WebBrowser2));
        EXPECT_EQ(browser->AsBrowser(), fromSite.Get());
        EXPECT_EQ(3u, browser->RefCount());  // the test, the site, the answer
        EXPECT_EQ(E_NOINTERFACE, fromSite.QueryFrom(bare.Get(), IID_WebBrowser2));
        EXPECT_EQ(1, bare->browserQueries);
        EXPECT_EQ(2u, browser->RefCount());
    }
    EXPECT_EQ(live, FakeObject::LiveCount());
}
