// The download manager against Wine's real GetVersionExA: this executable
// runs the XP cases in a copy of itself that Wine is told to report as
// Windows XP, and the Windows 7 cases as it is.
#include "tests/support/com_apartment.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:1/file.zip";
const char kUrlNarrow[] = "http://127.0.0.1:1/file.zip";

class DownloadManagerOnXp : public testing::Test {
  protected:
    void SetUp() override {
        if (!RunsAsCopy())
            GTEST_SKIP() << "runs in the copy that reports Windows XP";
        SetInterceptState({});
    }
    ComApartment com;
};

TEST_F(DownloadManagerOnXp, MatchingNavigateUrlIsDeclinedOnceAndEmptied) {
    SetInterceptState({"http://page/", kUrlNarrow, kUrlNarrow, ""});
    FakeMoniker moniker(FakeMoniker::kName, kUrl);
    EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
    const InterceptState after = CurrentInterceptState();
    EXPECT_EQ("", after.navigateUrl);
    EXPECT_EQ(kUrlNarrow, after.newWindowUrl);  // only navigateUrl is emptied
    EXPECT_EQ(1, moniker.displayNameCalls);
}

TEST_F(DownloadManagerOnXp, NewWindowEntriesKeepDeclining) {
    for (int field = 0; field < 2; ++field) {
        InterceptState s;
        (field == 0 ? s.newWindowUrl : s.newWindow3Url) = kUrlNarrow;
        SetInterceptState(s);
        FakeMoniker moniker(FakeMoniker::kName, kUrl);
        EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
        EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
        const InterceptState after = CurrentInterceptState();
        EXPECT_EQ(kUrlNarrow, field == 0 ? after.newWindowUrl : after.newWindow3Url);
    }
}

TEST_F(DownloadManagerOnXp, EmptyDisplayNameMatchesTheEmptyNavigateUrl) {
    FakeMoniker moniker(FakeMoniker::kName, L"");
    EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
}

TEST_F(DownloadManagerOnXp, MonikersThatGiveNoNameAreDeclined) {
    for (FakeMoniker::Mode mode :
         {FakeMoniker::kFail, FakeMoniker::kFalseWithName, FakeMoniker::kOkWithoutName}) {
        SetInterceptState({"p", "n", "w2", "w3"});
        FakeMoniker moniker(mode, kUrl);
        EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
        EXPECT_EQ(1, moniker.displayNameCalls);
        EXPECT_EQ("n", CurrentInterceptState().navigateUrl);
        EXPECT_EQ(1, moniker.refs);
    }
    EXPECT_EQ(E_NOTIMPL, Download(nullptr, nullptr, L"h"));
}

TEST_F(DownloadManagerOnXp, RealUrlMonikerReachesTheComparisons) {
    SetInterceptState({"p", kUrlNarrow, "", ""});
    EXPECT_EQ(E_NOTIMPL, Download(kUrl));
    EXPECT_EQ("", CurrentInterceptState().navigateUrl);
}

TEST_F(DownloadManagerOnXp, WithoutHeadersAndBindContextItDeclines) {
    // A URL the policy would take, but nothing to bind with.
    FakeMoniker moniker(FakeMoniker::kName, kUrl);
    SetInterceptState({"p", "n", "", ""});
    EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, nullptr));
}

TEST(DownloadManagerOnWindows7, EveryRequestIsDeclinedWithoutTouchingTheMoniker) {
    ASSERT_GE(ReportedMajorVersion(), 6u) << "Wine reports Windows 7 to the tests";
    SetInterceptState({"p", kUrlNarrow, "", ""});
    FakeMoniker moniker(FakeMoniker::kName, kUrl);
    EXPECT_EQ(E_NOTIMPL, Download(&moniker, nullptr, L"h"));
    EXPECT_EQ(0, moniker.displayNameCalls);
    EXPECT_EQ(1, moniker.refs);
    EXPECT_EQ(kUrlNarrow, CurrentInterceptState().navigateUrl);
}

// Every case that needs Windows XP, where the download manager's road is
// open, runs in one copy of this executable told that version: the
// comparisons here, the click road and exact text, allocation faults and
// resource use on the download road, the random requests, and a hung agent.
TEST(BrowserOnXp, OneCopyRunsEveryXpCase) {
    EXPECT_TRUE(CopyRanItsCases(
        RunCasesAsWindows(kWindowsXp, "browser_xp.exe",
                          "DownloadManagerOnXp.*:ClickRoadOnXp.*:ExactTextOnXp.*"
                          ":AllocationFaults.Download*:ResourceUse.CreateSiteFireRelease*"
                          ":HostileDownloads.RandomMonikersAndArgumentsOnXp"
                          ":AgentFaults.*OnXp"),
        &kWindowsXp));
}

}  // namespace
