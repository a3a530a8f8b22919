// The handlers' one effect on the browser, the Cancel flag, with the
// reference agent answering out of process.
#include "tests/support/sited_helper.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// The helper on no browser at all.
using NavigationHandoff = SitedHelper;

// Both events hand the agent their URL, and NewWindow3 its page.
TEST_F(NavigationHandoff, AcceptanceWritesOneForEitherEvent) {
    agent.SetAnswer(L"1");
    EXPECT_EQ(
        1, Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(L"http://host/a.zip")));
    EXPECT_EQ(1, Fire(DISPID_NEWWINDOW3,
                      BrowserEventArgs::NewWindow3(L"http://host/b.zip", L"http://host/page")));
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://host/a.zip"), records[0].url);
    EXPECT_EQ(AgentText::Of(L""), records[0].referrer);  // no browser: no page shown
    EXPECT_EQ(AgentText::Of(L"http://host/b.zip"), records[1].url);
    EXPECT_EQ(AgentText::Of(L"http://host/page"), records[1].referrer);
}

// Every answer of the shared table: Cancel is 1 only for 1 within the bound;
// the browser's thread waits for an answer inside the bound and for none past
// it; whatever became of the agent, the next click is taken. An offer given
// up at the bound runs on to the agent's answer, then ends.
TEST_F(NavigationHandoff, CancelIsOneOnlyForAnAnswerOfOneWithinTheBound) {
    auto running = std::make_unique<RunningAgent>();
    int clicks = 0;
    auto click = [&] {
        const std::wstring url = L"http://host/answer-" + std::to_wstring(++clicks) + L".zip";
        return Fire(DISPID_BEFORENAVIGATE2, BrowserEventArgs::BeforeNavigate2(url));
    };
    for (const AgentAnswerCase& c : kAgentAnswers) {
        SCOPED_TRACE(c.Name());
        agent.SetAnswer(c);
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.taken ? 1 : 0, click());
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed + 20, std::min(c.delayMs, kOfferBoundMs));  // ticks step ~16 ms
        EXPECT_LT(elapsed, kOfferBoundMs + kReturnMarginMs);
        if (c.dies) {
            running.reset();
            RestartRpcss();
            running = std::make_unique<RunningAgent>();
        }
        if (c.delayMs > kOfferBoundMs) {
            // Until the offer given up at the bound ends, a click is declined
            // at once; it reaches no agent.
            EXPECT_EQ(0, Fire(DISPID_BEFORENAVIGATE2,
                              BrowserEventArgs::BeforeNavigate2(L"http://host/while-busy.zip")));
            EXPECT_TRUE(OffersEnded());
        }
        agent.SetAnswer(L"1");
        EXPECT_EQ(1, click()) << "the click after it";
        const std::vector<AgentRecord> records = agent.Records();
        ASSERT_EQ(static_cast<size_t>(clicks), records.size());
        EXPECT_EQ(c.Recorded(), records[clicks - 2].answer);
    }
    EXPECT_TRUE(OffersEnded());
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

const wchar_t kPage[] = L"http://host/page.html";
const wchar_t kLinkText[] = L"Get the file";

// The helper sited in a browser whose page has a focused link, as a click on
// the link leaves it.
class SitedHandoff : public SitedHelper {
  protected:
    void SetUp() override {
        SitedHelper::SetUp();
        ShowLink(kPage, L"", kLinkText);
    }
    BrowserEventArgs* Click(DISPID event, const wchar_t* url) {
        link->href = StringAnswer::Text(url);
        if (event == DISPID_NEWWINDOW2)
            return BrowserEventArgs::NewWindow2();
        if (event == DISPID_NEWWINDOW3)
            return BrowserEventArgs::NewWindow3(url, kPage);
        return BrowserEventArgs::BeforeNavigate2(url);
    }
};

// The policy decides first: the page's link is read (and the cookie looked
// up) only for a URL it takes, and then its text is the hand-off's comment.
TEST_F(SitedHandoff, OnlyATakenUrlIsInspectedAndItsLinkTextIsTheComment) {
    struct Case {
        DISPID event;
        const wchar_t* url;
        bool offered;
    } cases[] = {
        {DISPID_BEFORENAVIGATE2, L"http://host/next.html", false},  // the list refuses it
        {DISPID_BEFORENAVIGATE2, L"about:blank", false},            // the scheme refuses it
        {DISPID_BEFORENAVIGATE2, L"http://host/a.zip", true},
        {DISPID_NEWWINDOW3, L"http://host/b.html", false},
        {DISPID_NEWWINDOW3, L"http://host/b.zip", true},
        {DISPID_NEWWINDOW2, L"http://host/c.html", false},
        {DISPID_NEWWINDOW2, L"http://host/c.zip", true},
    };
    agent.SetAnswer(L"1");
    size_t offered = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.event << " " << std::string(c.url, c.url + wcslen(c.url)));
        const int textReads = link->innerTextCalls;
        EXPECT_EQ(c.offered ? 1 : 0, Fire(c.event, Click(c.event, c.url)));
        EXPECT_EQ(c.offered ? 1 : 0, link->innerTextCalls - textReads);
        offered += c.offered ? 1 : 0;
        const std::vector<AgentRecord> records = agent.Records();
        ASSERT_EQ(offered, records.size());
        if (c.offered) {
            EXPECT_EQ(AgentText::Of(c.url), records.back().url);
            EXPECT_EQ(AgentText::Of(kLinkText), records.back().comment);
            EXPECT_EQ(AgentText::Of(kPage), records.back().referrer);
        }
    }
}

// NewWindow2 takes its URL from the focused link. The same click's
// BeforeNavigate2 is then left alone; a later click is offered again.
TEST_F(SitedHandoff, NewWindow2OffersTheLinkAndItsNavigationIsTheSameClick) {
    const wchar_t url[] = L"http://host/d.zip";
    agent.SetAnswer(L"1");
    EXPECT_EQ(1, Fire(DISPID_NEWWINDOW2, Click(DISPID_NEWWINDOW2, url)));
    EXPECT_EQ("http://host/d.zip", CurrentInterceptState().newWindowUrl);
    EXPECT_EQ(0, Fire(DISPID_BEFORENAVIGATE2, Click(DISPID_BEFORENAVIGATE2, url)));
    EXPECT_EQ("", CurrentInterceptState().newWindowUrl);
    EXPECT_EQ(1u, agent.Records().size());
    EXPECT_EQ(1, Fire(DISPID_BEFORENAVIGATE2, Click(DISPID_BEFORENAVIGATE2, url)));
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(2u, records.size());
    for (const AgentRecord& record : records)
        EXPECT_EQ(AgentText::Of(url), record.url);
}

}  // namespace
