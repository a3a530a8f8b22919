// The transitions of the intercept state, row by row, and the click
// sequences they exist for. Built natively and for Windows.
#include "browser/intercept_state.h"

#include <gtest/gtest.h>

namespace {

using Action = NavigationDecision::Action;
constexpr Action kLeave = NavigationDecision::kLeaveCancel;
constexpr Action kZero = NavigationDecision::kWriteZero;
constexpr Action kAsk = NavigationDecision::kAskAgent;

const std::string kUrl = "http://host/file.zip";
const std::string kOther = "http://host/other.zip";
const std::string kPage = "http://host/page.html";

InterceptState Prior() {
    return {"http://old/page", "http://old/nav", "http://old/nw2", "http://old/nw3"};
}

void ExpectState(const InterceptState& expected, const InterceptState& actual, const char* row) {
    EXPECT_EQ(expected.pageUrl, actual.pageUrl) << row;
    EXPECT_EQ(expected.navigateUrl, actual.navigateUrl) << row;
    EXPECT_EQ(expected.newWindowUrl, actual.newWindowUrl) << row;
    EXPECT_EQ(expected.newWindow3Url, actual.newWindow3Url) << row;
}

// One event's row: the state before, the event's URL, the state after and
// what the handler does with Cancel.
struct EventRow {
    const char* name;
    InterceptState before;
    std::string url;
    InterceptState after;
    Action action;
};

TEST(InterceptTransitions, BeforeNavigate2Rows) {
    EventRow rows[] = {
        {"query mark",
         Prior(),
         "http://host/get?f=a.zip",
         {kPage, "http://old/nav", "http://old/nw2", "http://old/nw3"},
         kLeave},
        {"equals newWindowUrl", {"p", "n", kUrl, "w3"}, kUrl, {kPage, kUrl, "", "w3"}, kZero},
        {"equals newWindow3Url only",
         {"p", "n", "w2", kUrl},
         kUrl,
         {kPage, kUrl, "w2", kUrl},
         kZero},
        {"equals both: newWindowUrl wins",
         {"p", "n", kUrl, kUrl},
         kUrl,
         {kPage, kUrl, "", kUrl},
         kZero},
        {"otherwise", Prior(), kUrl, {kPage, kUrl, "http://old/nw2", "http://old/nw3"}, kAsk},
        {"equals navigateUrl only: asked again",
         {"p", kUrl, "w2", "w3"},
         kUrl,
         {kPage, kUrl, "w2", "w3"},
         kAsk},
    };
    for (EventRow& row : rows) {
        const NavigationDecision d = BeforeNavigate2Transition(row.before, kPage, row.url);
        EXPECT_EQ(row.action, d.action) << row.name;
        ExpectState(row.after, row.before, row.name);
        if (d.action == kAsk) {
            EXPECT_EQ(kPage, d.referrer) << row.name;
        }
    }
}

TEST(InterceptTransitions, NewWindow2Rows) {
    EventRow rows[] = {
        {"query mark",
         Prior(),
         "http://host/a.zip#x?y",
         {kPage, "http://old/nav", "http://old/nw2", "http://old/nw3"},
         kLeave},
        {"equals newWindow3Url", {"p", "n", "w2", kUrl}, kUrl, {kPage, "n", kUrl, ""}, kZero},
        {"otherwise", Prior(), kUrl, {kPage, "http://old/nav", kUrl, "http://old/nw3"}, kAsk},
        {"equals navigateUrl and newWindowUrl: not compared",
         {"p", kUrl, kUrl, "w3"},
         kUrl,
         {kPage, kUrl, kUrl, "w3"},
         kAsk},
    };
    for (EventRow& row : rows) {
        const NavigationDecision d = NewWindow2Transition(row.before, kPage, row.url);
        EXPECT_EQ(row.action, d.action) << row.name;
        ExpectState(row.after, row.before, row.name);
    }
}

TEST(InterceptTransitions, NewWindow3Rows) {
    const std::string context = "http://host/context.html";
    struct Row {
        const char* name;
        InterceptState before;
        std::string url;
        bool cancelUsable;
        InterceptState after;
        Action action;
    } rows[] = {
        {"query mark",
         Prior(),
         "http://host/a?b",
         true,
         {context, "http://old/nav", "http://old/nw2", "http://old/nw3"},
         kLeave},
        {"cancel argument unusable",
         Prior(),
         kUrl,
         false,
         {context, "http://old/nav", "http://old/nw2", kUrl},
         kLeave},
        {"otherwise",
         Prior(),
         kUrl,
         true,
         {context, "http://old/nav", "http://old/nw2", kUrl},
         kAsk},
        {"compares with nothing",
         {"p", kUrl, kUrl, kUrl},
         kUrl,
         true,
         {context, kUrl, kUrl, kUrl},
         kAsk},
    };
    for (Row& row : rows) {
        const NavigationDecision d =
            NewWindow3Transition(row.before, context, row.url, row.cancelUsable);
        EXPECT_EQ(row.action, d.action) << row.name;
        ExpectState(row.after, row.before, row.name);
        if (d.action == kAsk) {
            EXPECT_EQ(context, d.referrer) << row.name;
        }
    }
}

TEST(InterceptTransitions, DownloadRequestRows) {
    struct Row {
        const char* name;
        InterceptState before;
        InterceptState after;
        bool decline;
    } rows[] = {
        {"equals navigateUrl", {"p", kUrl, "w2", "w3"}, {"p", "", "w2", "w3"}, true},
        {"equals navigateUrl and newWindowUrl: only navigateUrl emptied",
         {"p", kUrl, kUrl, "w3"},
         {"p", "", kUrl, "w3"},
         true},
        {"equals newWindowUrl", {"p", "n", kUrl, "w3"}, {"p", "n", kUrl, "w3"}, true},
        {"equals newWindow3Url", {"p", "n", "w2", kUrl}, {"p", "n", "w2", kUrl}, true},
        {"otherwise", {"p", "n", "w2", "w3"}, {"p", "n", "w2", "w3"}, false},
    };
    for (Row& row : rows) {
        const DownloadDecision d = DownloadRequestTransition(row.before, kUrl);
        EXPECT_EQ(row.decline, d.decline) << row.name;
        ExpectState(row.after, row.before, row.name);
        if (!d.decline) {
            EXPECT_EQ("p", d.referrer) << row.name;
        }
    }
}

TEST(InterceptClicks, NewWindow2ThenBeforeNavigate2AsksOnceAndTheDownloadIsTheBrowsers) {
    InterceptState s;
    EXPECT_EQ(kAsk, NewWindow2Transition(s, kPage, kUrl).action);  // agent refuses
    EXPECT_EQ(kZero, BeforeNavigate2Transition(s, kPage, kUrl).action);
    EXPECT_EQ("", s.newWindowUrl);
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);
    EXPECT_EQ("", s.navigateUrl);
    // Nothing is left to suppress a later request of the same URL.
    EXPECT_FALSE(DownloadRequestTransition(s, kUrl).decline);
}

TEST(InterceptClicks, NewWindow3ThenNewWindow2AsksOnce) {
    InterceptState s;
    EXPECT_EQ(kAsk, NewWindow3Transition(s, kPage, kUrl, true).action);
    EXPECT_EQ(kZero, NewWindow2Transition(s, kPage, kUrl).action);
    EXPECT_EQ("", s.newWindow3Url);
}

TEST(InterceptClicks, NewWindow2ThenNewWindow3AsksTwice) {
    InterceptState s;
    EXPECT_EQ(kAsk, NewWindow2Transition(s, kPage, kUrl).action);
    EXPECT_EQ(kAsk, NewWindow3Transition(s, kPage, kUrl, true).action);
}

TEST(InterceptClicks, RefusedNewWindow3KeepsSuppressingItsUrl) {
    InterceptState s;
    EXPECT_EQ(kAsk, NewWindow3Transition(s, kPage, kUrl, true).action);  // agent refuses
    EXPECT_EQ(kZero, BeforeNavigate2Transition(s, kPage, kUrl).action);
    EXPECT_EQ(kUrl, s.newWindow3Url);
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);  // navigateUrl matched, emptied
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);  // newWindow3Url still matches
    EXPECT_EQ(kZero, BeforeNavigate2Transition(s, kPage, kUrl).action);
    // A NewWindow3 with "?" overwrites nothing.
    EXPECT_EQ(kLeave, NewWindow3Transition(s, kPage, "http://host/x?y", true).action);
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);
    // A later NewWindow3 of another URL overwrites it.
    NewWindow3Transition(s, kPage, kOther, true);
    BeforeNavigate2Transition(s, kPage, kOther);  // navigateUrl moves on too
    EXPECT_FALSE(DownloadRequestTransition(s, kUrl).decline);
}

TEST(InterceptClicks, NewWindow2SuppressesDownloadsUntilBeforeNavigate2ClearsIt) {
    InterceptState s;
    NewWindow2Transition(s, kPage, kUrl);
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);
    BeforeNavigate2Transition(s, kPage, kUrl);  // clears newWindowUrl, sets navigateUrl
    EXPECT_TRUE(DownloadRequestTransition(s, kUrl).decline);
    EXPECT_FALSE(DownloadRequestTransition(s, kUrl).decline);
}

TEST(InterceptClicks, SecondClickAfterAcceptanceIsAskedAgain) {
    InterceptState s;
    EXPECT_EQ(kAsk, BeforeNavigate2Transition(s, kPage, kUrl).action);
    EXPECT_EQ(kAsk, BeforeNavigate2Transition(s, kPage, kUrl).action);
}

TEST(InterceptClicks, EmptyUrlsAtStart) {
    InterceptState s;
    // NewWindow2 without a focused link: the empty URL equals the empty newWindow3Url.
    EXPECT_EQ(kZero, NewWindow2Transition(s, kPage, "").action);
    EXPECT_EQ("", s.newWindow3Url);
    // BeforeNavigate2 of the empty URL equals the empty newWindowUrl.
    EXPECT_EQ(kZero, BeforeNavigate2Transition(s, kPage, "").action);
    // An empty display name equals the empty navigateUrl... which the
    // BeforeNavigate2 above set to "" anyway.
    EXPECT_TRUE(DownloadRequestTransition(s, "").decline);
    // With newWindow3Url set, the empty URL is offered (and refused by the scheme test).
    NewWindow3Transition(s, kPage, kUrl, true);
    EXPECT_EQ(kAsk, NewWindow2Transition(s, kPage, "").action);
}

TEST(InterceptClicks, PageUrlFollowsEveryEventThatGetsPastItsArguments) {
    InterceptState s;
    BeforeNavigate2Transition(s, "http://a/", "http://x/?q");
    EXPECT_EQ("http://a/", s.pageUrl);
    NewWindow2Transition(s, "", kUrl);
    EXPECT_EQ("", s.pageUrl);
    NewWindow3Transition(s, "http://ctx/", "http://x/?q", true);
    EXPECT_EQ("http://ctx/", s.pageUrl);
    DownloadRequestTransition(s, kUrl);
    EXPECT_EQ("http://ctx/", s.pageUrl);
}

}  // namespace
