// Event dispatch: the handlers' argument tests and the Maxthon gate, with
// arguments built as the browser builds them. URLs of an unsupported scheme
// keep the agent out of it: the handler runs, records, and writes 0.
#include "browser/ie_helper.h"

#include "browser/intercept_state.h"
#include "tests/support/agent_control.h"
#include "tools/support/event_args.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/intercept_state_access.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

using Args = std::unique_ptr<BrowserEventArgs>;

struct Helper {
    Helper() : object(new WebCorvaneIEHelper()) {}
    ~Helper() { static_cast<IWebCorvaneIEHelper*>(object)->Release(); }
    HRESULT Fire(DISPID id, DISPPARAMS* params) {
        return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
    }
    WebCorvaneIEHelper* object;
};

// Fires BeforeNavigate2 for a fresh URL and answers whether the handler ran.
bool BeforeNavigate2Ran(Helper& helper, int n) {
    const std::wstring url = L"about:gate-" + std::to_wstring(n);
    Args args(BrowserEventArgs::BeforeNavigate2(url));
    EXPECT_EQ(S_OK, helper.Fire(DISPID_BEFORENAVIGATE2, args->Params()));
    const bool ran = CurrentInterceptState().navigateUrl == "about:gate-" + std::to_string(n);
    EXPECT_EQ(ran ? 0 : BrowserEventArgs::kUntouched, args->cancel);
    return ran;
}

TEST(IeHelperEvents, BeforeNavigate2RecordsAndRefusedSchemeWritesZero) {
    SetInterceptState();
    Helper helper;
    Args args(BrowserEventArgs::BeforeNavigate2(L"about:blank"));
    EXPECT_EQ(S_OK, helper.Fire(DISPID_BEFORENAVIGATE2, args->Params()));
    EXPECT_EQ(0, args->cancel);
    EXPECT_EQ("about:blank", CurrentInterceptState().navigateUrl);
}

// The URL argument is read as text whatever form it takes, and stays as the
// browser made it.
TEST(IeHelperEvents, UrlArgumentIsReadAsTextInEveryForm) {
    Helper helper;
    BSTR embeddedZero = SysAllocStringLen(L"about:a\0b", 9);
    BSTR byReference = SysAllocString(L"about:by-reference");
    struct Case {
        VARIANT value;
        const char* expected;
    } cases[4] = {};
    cases[0].value.vt = VT_I4;
    cases[0].value.lVal = 12345;
    cases[0].expected = "12345";
    cases[1].value.vt = VT_BSTR;
    cases[1].value.bstrVal = embeddedZero;
    cases[1].expected = "about:a";
    cases[2].value.vt = VT_BSTR;
    cases[2].value.bstrVal = nullptr;
    cases[2].expected = "";
    cases[3].value.vt = VT_BYREF | VT_BSTR;
    cases[3].value.pbstrVal = &byReference;
    cases[3].expected = "about:by-reference";
    for (Case& c : cases) {
        SetInterceptState();
        interceptState.Apply([](InterceptState& s) { s.navigateUrl = "before"; });
        Args args(BrowserEventArgs::BeforeNavigate2(L"unused"));
        VARIANT* const own = args->Params()->rgvarg[5].pvarVal;
        args->Params()->rgvarg[5].pvarVal = &c.value;
        const VARIANT before = c.value;
        EXPECT_EQ(S_OK, helper.Fire(DISPID_BEFORENAVIGATE2, args->Params()));
        args->Params()->rgvarg[5].pvarVal = own;
        EXPECT_EQ(c.expected, CurrentInterceptState().navigateUrl) << c.value.vt;
        EXPECT_EQ(0, args->cancel) << c.value.vt;  // none is a URL the policy takes
        EXPECT_EQ(0, std::memcmp(&before, &c.value, sizeof(VARIANT))) << c.value.vt;
    }
    EXPECT_EQ(9u, SysStringLen(embeddedZero));
    EXPECT_STREQ(L"about:by-reference", byReference);
    SysFreeString(embeddedZero);
    SysFreeString(byReference);
}

TEST(IeHelperEvents, QueryUrlsChangeOnlyThePage) {
    SetInterceptState();
    interceptState.Apply([](InterceptState& s) { s.pageUrl = "http://old/"; });
    Helper helper;
    Args args(BrowserEventArgs::BeforeNavigate2(L"http://host/a.zip#frag?x"));
    helper.Fire(DISPID_BEFORENAVIGATE2, args->Params());
    EXPECT_EQ(BrowserEventArgs::kUntouched, args->cancel);
    EXPECT_EQ("", CurrentInterceptState().pageUrl);  // no browser: the page shown is empty
    EXPECT_EQ("", CurrentInterceptState().navigateUrl);
}

TEST(IeHelperEvents, MalformedEventsChangeNothing) {
    Helper helper;
    const InterceptState marker = {"p", "n", "w2", "w3"};
    auto check = [&](DISPID id, DISPPARAMS* params, const char* what) {
        SetInterceptState(marker);
        EXPECT_EQ(S_OK, helper.Fire(id, params)) << what;
        const InterceptState after = CurrentInterceptState();
        EXPECT_EQ(marker.pageUrl, after.pageUrl) << what;
        EXPECT_EQ(marker.navigateUrl, after.navigateUrl) << what;
        EXPECT_EQ(marker.newWindowUrl, after.newWindowUrl) << what;
        EXPECT_EQ(marker.newWindow3Url, after.newWindow3Url) << what;
    };
    for (DISPID id : {DISPID_BEFORENAVIGATE2, DISPID_NEWWINDOW2, DISPID_NEWWINDOW3}) {
        check(id, nullptr, "null arguments");
        DISPPARAMS empty = {nullptr, nullptr, 3, 0};
        check(id, &empty, "null rgvarg");
    }
    {
        Args a(BrowserEventArgs::BeforeNavigate2(L"about:x"));
        a->Params()->cArgs = 5;
        check(DISPID_BEFORENAVIGATE2, a->Params(), "five arguments");
        EXPECT_EQ(BrowserEventArgs::kUntouched, a->cancel);
    }
    {
        // Six arguments are enough: the URL is the sixth from the end.
        Args a(BrowserEventArgs::BeforeNavigate2(L"about:six"));
        a->Params()->cArgs = 6;
        SetInterceptState(marker);
        EXPECT_EQ(S_OK, helper.Fire(DISPID_BEFORENAVIGATE2, a->Params()));
        EXPECT_EQ("about:six", CurrentInterceptState().navigateUrl);
        EXPECT_EQ(0, a->cancel);  // the scheme is refused
    }
    {
        Args a(BrowserEventArgs::BeforeNavigate2(L"about:x"));
        a->Params()->rgvarg[0].vt = VT_BOOL;  // Cancel not by reference
        check(DISPID_BEFORENAVIGATE2, a->Params(), "cancel by value");
        a->Params()->rgvarg[0].vt = VT_BYREF | VT_BOOL;
        a->Params()->rgvarg[0].pboolVal = nullptr;
        check(DISPID_BEFORENAVIGATE2, a->Params(), "null cancel pointer");
    }
    {
        Args a(BrowserEventArgs::BeforeNavigate2(L"about:x"));
        a->Params()->rgvarg[5].pvarVal = nullptr;
        check(DISPID_BEFORENAVIGATE2, a->Params(), "null URL pointer");
        EXPECT_EQ(BrowserEventArgs::kUntouched, a->cancel);
    }
    {
        Args a(BrowserEventArgs::NewWindow2());
        a->Params()->rgvarg[0].vt = VT_I4;
        check(DISPID_NEWWINDOW2, a->Params(), "new window cancel of wrong type");
        EXPECT_EQ(BrowserEventArgs::kUntouched, a->cancel);
    }
    {
        Args a(BrowserEventArgs::NewWindow3(L"about:x", L"about:ctx"));
        a->Params()->cArgs = 4;
        check(DISPID_NEWWINDOW3, a->Params(), "four arguments");
        a->Params()->cArgs = 5;
        a->Params()->rgvarg[1].vt = VT_I4;
        check(DISPID_NEWWINDOW3, a->Params(), "context not a string");
        a->Params()->rgvarg[1].vt = VT_BSTR;
    }
}

TEST(IeHelperEvents, NewWindow3WithUnusableCancelRecordsWithoutWriting) {
    SetInterceptState();
    Helper helper;
    Args args(BrowserEventArgs::NewWindow3(L"about:new", L"about:context"));
    args->Params()->rgvarg[3].vt = VT_BOOL;
    helper.Fire(DISPID_NEWWINDOW3, args->Params());
    EXPECT_EQ(BrowserEventArgs::kUntouched, args->cancel);
    EXPECT_EQ("about:new", CurrentInterceptState().newWindow3Url);
    EXPECT_EQ("about:context", CurrentInterceptState().pageUrl);
    // The same URL through NewWindow2 later is recognised: without a browser
    // the focused link is "", so use BeforeNavigate2.
    Args nav(BrowserEventArgs::BeforeNavigate2(L"about:new"));
    helper.Fire(DISPID_BEFORENAVIGATE2, nav->Params());
    EXPECT_EQ(0, nav->cancel);
}

TEST(IeHelperEvents, OutsideMaxthonEveryEventPasses) {
    ASSERT_FALSE(hostIsMaxthon);
    Helper helper;
    for (int n = 0; n < 3; ++n)
        EXPECT_TRUE(BeforeNavigate2Ran(helper, n));
}

class MaxthonGate : public testing::Test {
  protected:
    void SetUp() override {
        if (!RunsAsCopy())
            GTEST_SKIP() << "runs in the copy named Maxthon.exe";
        DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
        ASSERT_TRUE(hostIsMaxthon);
    }
};

TEST_F(MaxthonGate, OnlyTheFirstOfARunPassesAndOtherEventsRearm) {
    Helper helper;
    EXPECT_TRUE(BeforeNavigate2Ran(helper, 100));
    EXPECT_FALSE(BeforeNavigate2Ran(helper, 101));
    Args nw2(BrowserEventArgs::NewWindow2());
    helper.Fire(DISPID_NEWWINDOW2, nw2->Params());
    EXPECT_EQ(BrowserEventArgs::kUntouched, nw2->cancel);  // still disarmed
    for (DISPID other : {252, 102}) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        EXPECT_EQ(S_OK, helper.Fire(other, &none));
        EXPECT_TRUE(BeforeNavigate2Ran(helper, 200 + other));
        EXPECT_FALSE(BeforeNavigate2Ran(helper, 300 + other));
    }
    // OnQuit and Quit disconnect but do not re-arm.
    EXPECT_EQ(S_OK, helper.Fire(DISPID_ONQUIT, nullptr));
    EXPECT_EQ(S_OK, helper.Fire(DISPID_QUIT, nullptr));
    EXPECT_FALSE(BeforeNavigate2Ran(helper, 400));
    // A new object starts armed.
    Helper fresh;
    EXPECT_TRUE(BeforeNavigate2Ran(fresh, 500));
}

// Every case that needs a host named Maxthon runs in one copy of this
// executable named so: the gate, and the bound on an agent program that never
// registers its class. The copy's end also ends the offer that case gave up.
TEST(BrowserInMaxthon, OneCopyRunsEveryMaxthonCase) {
    ScratchDir maxthon("Maxthon");
    EXPECT_TRUE(CopyRanItsCases(RunCasesInCopy(
        maxthon.Sub("Maxthon.exe"), "MaxthonGate.*:AgentFaults.ProgramThatNeverRegisters*")));
    EXPECT_TRUE(WaitForNoAgentProcess(10000));
}

}  // namespace
