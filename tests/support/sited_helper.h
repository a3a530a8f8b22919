#pragma once

// The helper object as a browser tab holds it, for tests that drive it on
// their own thread: a fresh intercept state, the reference agent's settings
// for the test, and a fake browser to site the helper on when the test shows
// a page; and the browser's download requests.

#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "common/com_ptr.h"
#include "common/module_state.h"
#include "tests/support/agent_control.h"
#include "tests/support/com_apartment.h"
#include "tests/support/fake_browser.h"
#include "tests/support/fire_event.h"
#include "tests/support/intercept_state_access.h"

#include <urlmon.h>

#include <gtest/gtest.h>

#include <string>

// A download request as the browser makes it, to a download manager of its own.
inline HRESULT Download(IMoniker* moniker, IBindCtx* bindContext, LPCOLESTR headers,
                        DWORD bindVerb = BINDVERB_GET) {
    VDownloadManager* manager = new VDownloadManager();
    const HRESULT hr =
        manager->Download(moniker, bindContext, bindVerb, 0, nullptr, headers, nullptr, 0);
    manager->Release();
    return hr;
}

// The request for `url`, with a URL moniker and a bind context as the browser
// makes them, and no headers.
inline HRESULT Download(const wchar_t* url, DWORD bindVerb = BINDVERB_GET) {
    ComPtr<IMoniker> moniker;
    EXPECT_EQ(S_OK, CreateURLMonikerEx(nullptr, url, moniker.Receive(), URL_MK_UNIFORM));
    ComPtr<IBindCtx> bindContext;
    EXPECT_EQ(S_OK, CreateBindCtx(0, bindContext.Receive()));
    return Download(moniker.Get(), bindContext.Get(), nullptr, bindVerb);
}

// Polls `holds` for up to `timeoutMs`; answers whether it came to hold.
template <typename Condition>
bool WaitUntil(Condition&& holds, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!holds()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

class SitedHelper : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com.hr()));
        SetInterceptState();
        helper = new WebCorvaneIEHelper();
        liveAtStart = liveObjectCount;
    }
    void TearDown() override {
        if (helper != nullptr)
            static_cast<IWebCorvaneIEHelper*>(helper)->Release();
        helper = nullptr;
    }

    // Sites the helper on a browser showing `page`, with `document` when
    // given. The browser has no connection points: the helper keeps exactly
    // one reference on it and connects nothing.
    void ShowPage(const std::wstring& page, IDispatch* document = nullptr) {
        browser = MakeFake<FakeBrowser>(page, document);
        site = MakeFake<FakeSite>(browser->AsBrowser());
        const ULONG browserRefs = browser->RefCount();
        helper->SetSite(site.Get());
        EXPECT_EQ(browserRefs + 1, browser->RefCount());
    }

    // The same page with a focused link to `url` that reads `text`, as a click
    // on the link leaves it.
    void ShowLink(const std::wstring& page, const std::wstring& url, const std::wstring& text) {
        link = MakeFake<FakeElement>(L"A", text, true);
        link->href = StringAnswer::Text(url);
        document = MakeFake<FakeDocument>(link->AsElement());
        ShowPage(page, document.Get());
    }

    VARIANT_BOOL Fire(DISPID id, BrowserEventArgs* args) { return FireAt(helper, id, args); }

    // Whether the library's objects are back to those of the start, within
    // 4 bounds: an offer given up at the bound runs on to the agent's answer.
    bool OffersEnded() const {
        return WaitUntil([this] { return liveObjectCount == liveAtStart; }, 4 * kOfferBoundMs);
    }

    // Declared first, so that COM outlives everything below and in fixtures
    // derived from this one.
    ComApartment com;
    AgentSession agent;
    ComPtr<FakeElement> link;
    ComPtr<FakeDocument> document;
    ComPtr<FakeBrowser> browser;
    ComPtr<FakeSite> site;
    WebCorvaneIEHelper* helper = nullptr;
    LONG liveAtStart = 0;
};
