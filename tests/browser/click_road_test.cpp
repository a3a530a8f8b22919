// One click as the browser reports it, event after event, into the helper
// object and then the download manager, with the reference agent answering.
// The download manager declines everything on Windows 7 and later, so the
// cases run in a copy of this executable that Wine reports as Windows XP.
#include "common/string_conversion.h"
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>
#include <urlmon.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const wchar_t kPage[] = L"http://127.0.0.1:1/page.html";

class ClickRoadOnXp : public SitedHelper {
  protected:
    void SetUp() override {
        if (!RunsAsCopy())
            GTEST_SKIP() << "runs in the copy that reports Windows XP";
        SitedHelper::SetUp();
        ShowPage(kPage);
    }
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

// A form posted with POST, or a download by any verb but GET, is a request
// the agent could only repeat as a GET: it stays with the browser, and the
// intercept state is as after a declined offer. Only a GET without a body
// is offered.
TEST_F(ClickRoadOnXp, OnlyAGetWithoutABodyIsOffered) {
    agent.SetAnswer(L"1");
    SAFEARRAY* const noBytes = SafeArrayCreateVector(VT_UI1, 0, 0);
    SAFEARRAY* const oneByte = SafeArrayCreateVector(VT_UI1, 0, 1);
    VARIANT posted;  // what a VARIANT by reference may point at in turn
    posted.vt = VT_ARRAY | VT_UI1;
    posted.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    const struct {
        const char* name;
        VARTYPE type;  // of the PostData the argument refers to
        SAFEARRAY* bytes;
        VARIANT* refersTo;
        bool malformedArgument;  // the argument itself is no VARIANT by reference
        LONG cancel;
    } kPosts[] = {
        {"no post data", VT_EMPTY, nullptr, nullptr, false, 1},
        {"an empty array", VT_ARRAY | VT_UI1, noBytes, nullptr, false, 1},
        {"a one-byte body", VT_ARRAY | VT_UI1, oneByte, nullptr, false, 0},
        {"a body one more reference away", VT_BYREF | VT_VARIANT, nullptr, &posted, false, 0},
        {"a string", VT_BSTR, nullptr, nullptr, false, 0},
        {"a malformed argument", VT_EMPTY, nullptr, nullptr, true, 0},
    };
    size_t offered = 0;
    for (const auto& c : kPosts) {
        SCOPED_TRACE(c.name);
        const std::wstring url =
            L"http://127.0.0.1:1/form-" + std::to_wstring(&c - kPosts) + L".zip";
        BrowserEventArgs* args = BrowserEventArgs::BeforeNavigate2(url);
        VARIANT& postData = args->PostData();
        postData.vt = c.type;
        if (c.type == (VT_ARRAY | VT_UI1))
            SafeArrayCopy(c.bytes, &postData.parray);
        if (c.type == (VT_BYREF | VT_VARIANT))
            postData.pvarVal = c.refersTo;
        if (c.type == VT_BSTR)
            postData.bstrVal = SysAllocString(L"a=1");
        if (c.malformedArgument) {
            args->Params()->rgvarg[2].vt = VT_I4;
            args->Params()->rgvarg[2].lVal = 1;
        }
        EXPECT_EQ(c.cancel, Fire(DISPID_BEFORENAVIGATE2, args));
        EXPECT_EQ(WideToUtf8(url), CurrentInterceptState().navigateUrl);
        offered += c.cancel;
        EXPECT_EQ(offered, agent.Records().size());
    }
    for (DWORD verb : {BINDVERB_GET, BINDVERB_POST, BINDVERB_PUT, BINDVERB_CUSTOM}) {
        SCOPED_TRACE(verb);
        const std::wstring url = L"http://127.0.0.1:1/verb-" + std::to_wstring(verb) + L".zip";
        const bool get = verb == BINDVERB_GET;
        EXPECT_EQ(get ? S_OK : E_NOTIMPL, Download(url.c_str(), verb));
        offered += get ? 1 : 0;
        EXPECT_EQ(offered, agent.Records().size());
    }
    VariantClear(&posted);
    SafeArrayDestroy(noBytes);
    SafeArrayDestroy(oneByte);
}

// The four roads by which a clicked URL reaches the agent.
enum class Road { kBeforeNavigate2, kNewWindow2, kNewWindow3, kDownload };
const struct {
    Road road;
    const char* name;
} kRoads[] = {{Road::kBeforeNavigate2, "BeforeNavigate2"},
              {Road::kNewWindow2, "NewWindow2"},
              {Road::kNewWindow3, "NewWindow3"},
              {Road::kDownload, "Download"}};

// A run of these cases may be told the ANSI code page it must have (see
// tests/CMakeLists.txt): a locale that did not take fails, never passes.
void ExpectTheRunsCodePage() {
    if (const char* expected = std::getenv("EXPECTED_CODE_PAGE")) {
        ASSERT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP());
    }
}

class ExactTextOnXp : public ClickRoadOnXp {
  protected:
    void SetUp() override {
        ClickRoadOnXp::SetUp();
        if (IsSkipped())
            return;
        ExpectTheRunsCodePage();
        agent.SetAnswer(L"1");
    }

    // The URL that `road` hands over, as the browser gives it: the download
    // road's is the display name of the moniker the browser makes.
    static std::wstring GivenUrl(Road road, const std::wstring& url) {
        if (road != Road::kDownload)
            return url;
        ComPtr<IMoniker> moniker;
        EXPECT_EQ(S_OK,
                  CreateURLMonikerEx(nullptr, url.c_str(), moniker.Receive(), URL_MK_UNIFORM));
        LPOLESTR name = nullptr;
        EXPECT_EQ(S_OK, moniker->GetDisplayName(nullptr, nullptr, &name));
        const std::wstring given = name != nullptr ? name : L"";
        CoTaskMemFree(name);
        return given;
    }

    // Clicks `url` on `road` from a fresh intercept state; answers whether the
    // browser was told the agent took it.
    bool Click(Road road, const std::wstring& url, const std::wstring& page) {
        SetInterceptState();
        switch (road) {
            case Road::kBeforeNavigate2:
                return Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url)) == 1;
            case Road::kNewWindow2:
                return Fire(DISPID_NEWWINDOW2, BrowserEventArgs::NewWindow2()) == 1;
            case Road::kNewWindow3:
                return Fire(DISPID_NEWWINDOW3, BrowserEventArgs::NewWindow3(url, page)) == 1;
            case Road::kDownload:
                // A navigation away from the page records it as the referrer.
                Fire(DISPID_BEFORENAVIGATE2,
                     BrowserEventArgs::BeforeNavigate2(L"http://127.0.0.1:1/next.html"));
                return Download(url.c_str()) == S_OK;
        }
        return false;
    }

    RunningAgent running;
};

TEST_F(ExactTextOnXp, TheAgentReceivesTheUrlTheLinkTextAndThePageExactly) {
    const std::wstring page = L"http://127.0.0.1:1/\u9875\u9762/\u0444.html";
    // Past the 1023 bytes a link text keeps: cut before the character that
    // would cross them.
    std::wstring longText = L"x";
    for (int i = 0; i < 600; ++i)
        longText += L"\u4e0b";
    const std::wstring keptText = longText.substr(0, 1 + 340);
    const struct {
        const char* name;
        std::wstring url;
    } urls[] = {
        {"fullwidth solidus", L"http://127.0.0.1:1/a\uff0f..\uff0fb.zip"},
        {"soft hyphen", L"http://127.0.0.1:1/soft\u00adhyphen.zip"},
        {"a with macron", L"http://127.0.0.1:1/\u0101.zip"},
        {"Cyrillic path", L"http://127.0.0.1:1/\u0444\u0430\u0439\u043b.zip"},
        {"internationalised host", L"http://\u4f8b\u3048.\u30c6\u30b9\u30c8/a.zip"},
        {"percent-encoded", L"http://127.0.0.1:1/%D1%84%20a.zip"},
    };
    for (const auto& r : kRoads) {
        for (const auto& u : urls) {
            SCOPED_TRACE(std::string(r.name) + ", " + u.name);
            ShowLink(page, u.url, longText);
            const size_t before = agent.Records().size();
            EXPECT_TRUE(Click(r.road, u.url, page));
            const std::vector<AgentRecord> records = agent.Records();
            if (records.size() != before + 1) {
                ADD_FAILURE() << "the agent was not asked";
                continue;
            }
            EXPECT_EQ(AgentText::Of(GivenUrl(r.road, u.url)), records.back().url);
            EXPECT_EQ(AgentText::Of(r.road == Road::kDownload ? L"" : keptText),
                      records.back().comment);
            EXPECT_EQ(AgentText::Of(page), records.back().referrer);
        }
    }
}

// Position 5 carries the URL's cookies, HttpOnly ones included; a URL without
// any gets a zero-length string. Position 6 stays zero-length.
TEST_F(ExactTextOnXp, TheAgentReceivesTheUrlsCookies) {
    const std::wstring withCookies = L"http://cookies.example/a.zip";
    ASSERT_TRUE(InternetSetCookieW(withCookies.c_str(), L"plain", L"1"));
    ASSERT_TRUE(InternetSetCookieExW(withCookies.c_str(), nullptr, L"sid=2; HttpOnly",
                                     INTERNET_COOKIE_HTTPONLY, 0));
    const struct {
        std::wstring url;
        std::wstring cookie;
    } cases[] = {{withCookies, L"plain=1; sid=2"}, {L"http://no-cookies.example/a.zip", L""}};
    for (const auto& r : kRoads) {
        for (const auto& c : cases) {
            SCOPED_TRACE(r.name);
            ShowLink(kPage, c.url, L"link");
            const size_t before = agent.Records().size();
            EXPECT_TRUE(Click(r.road, c.url, kPage));
            const std::vector<AgentRecord> records = agent.Records();
            if (records.size() != before + 1) {
                ADD_FAILURE() << "the agent was not asked";
                continue;
            }
            EXPECT_EQ(AgentText::Of(c.cookie), records.back().cookie);
            EXPECT_EQ(AgentText::Of(L""), records.back().reserved);
        }
    }
}

}  // namespace
