// One click as the browser reports it, event after event, into the helper
// object and then the download manager, with the reference agent answering.
// The download manager declines everything on Windows 7 and later, so the
// cases run in a copy of this executable that Wine reports as Windows XP.
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>
#include <urlmon.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>

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
