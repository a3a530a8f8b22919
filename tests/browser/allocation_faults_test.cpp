// Memory runs out at every allocation of an event or a download request in
// turn: the string conversions, the BSTRs for the agent, the intercept
// state's copies. The browser still hears only what it may hear (S_OK, or
// E_NOTIMPL for a download), Cancel says 1 exactly when the agent took the
// URL, and every reference and BSTR taken on the way has been let go.
#include "tests/support/failing_allocations.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/sited_helper.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const wchar_t kPage[] = L"http://host/page.html";

struct Outcome {
    HRESULT result;
    VARIANT_BOOL cancel;   // kUntouched for a download request
    bool released = true;  // the moniker got back every reference it gave
};

// A request as the browser makes it: `prepare` builds its arguments, as the
// browser does, before the seam is armed, and answers the call to make.
using Request = std::function<Outcome()>;

// Makes the request once for every allocation it makes, the n-th failing in
// the n-th run, and checks each run; answers how many runs there were.
// `references` sums the references held on the browser's objects.
int EveryAllocationFails(const std::function<Request()>& prepare, AgentSession& agent,
                         bool download, const std::function<ULONG()>& references) {
    int runs = 0;
    int untouched = 0;
    for (int n = 1; n < 1000; ++n) {
        SetInterceptState();
        const size_t offered = agent.Records().size();
        const LONG live = liveObjectCount;
        const long fakes = FakeObject::LiveCount();
        const ULONG held = references();
        Outcome outcome{};
        bool fired = false;
        long bstrs = 0;
        {
            Request request = prepare();
            FailingAllocation failure(n);
            outcome = request();
            fired = failure.Fired();
            bstrs = failure.BstrBalance();
        }
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        const bool taken = agent.Records().size() > offered;
        if (download) {
            EXPECT_EQ(taken ? S_OK : E_NOTIMPL, outcome.result);
        } else {
            EXPECT_EQ(S_OK, outcome.result);
            EXPECT_EQ(taken, outcome.cancel == 1) << outcome.cancel;
            EXPECT_TRUE(outcome.cancel == 0 || outcome.cancel == 1 ||
                        outcome.cancel == BrowserEventArgs::kUntouched)
                << outcome.cancel;
            untouched += outcome.cancel == BrowserEventArgs::kUntouched ? 1 : 0;
        }
        EXPECT_TRUE(outcome.released);
        EXPECT_EQ(0, bstrs);
        EXPECT_EQ(live, liveObjectCount);
        EXPECT_EQ(fakes, FakeObject::LiveCount());
        EXPECT_EQ(held, references());
        if (!fired) {
            // Nothing failed: the request went all the way.
            EXPECT_TRUE(taken);
            runs = n;
            break;
        }
    }
    // Some failures end at the boundary, before the Cancel write.
    if (!download) {
        EXPECT_GT(untouched, 0);
    }
    return runs;
}

class AllocationFaults : public SitedHelper {
  protected:
    void SetUp() override {
        SitedHelper::SetUp();
        agent.SetAnswer(L"1");
        ShowLink(kPage, L"http://host/new-window.zip", L"Get the file");
    }
    ULONG References() const {
        return browser->RefCount() + document->RefCount() + link->RefCount() + site->RefCount();
    }

    // The event `id` with `args`, to be fired.
    Request Event(DISPID id, BrowserEventArgs* args) {
        std::shared_ptr<BrowserEventArgs> owned(args);
        IDispatch* sink = static_cast<IWebCorvaneIEHelper*>(helper);
        return [sink, id, owned] {
            const HRESULT hr = sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, owned->Params(),
                                            nullptr, nullptr, nullptr);
            return Outcome{hr, owned->cancel};
        };
    }

    RunningAgent running;
};

TEST_F(AllocationFaults, NavigationEventsAnswerTheBrowserWhateverFails) {
    const int beforeNavigate2 = EveryAllocationFails(
        [&] {
            return Event(DISPID_BEFORENAVIGATE2,
                         BrowserEventArgs::BeforeNavigate2(L"http://host/navigate.zip"));
        },
        agent, false, [&] { return References(); });
    const int newWindow2 = EveryAllocationFails(
        [&] { return Event(DISPID_NEWWINDOW2, BrowserEventArgs::NewWindow2()); }, agent, false,
        [&] { return References(); });
    const int newWindow3 = EveryAllocationFails(
        [&] {
            return Event(DISPID_NEWWINDOW3,
                         BrowserEventArgs::NewWindow3(L"http://host/new-window3.zip", kPage));
        },
        agent, false, [&] { return References(); });
    std::printf(
        "[ faults   ] allocations failed one by one: BeforeNavigate2 %d, NewWindow2 %d, "
        "NewWindow3 %d\n",
        beforeNavigate2, newWindow2, newWindow3);
    EXPECT_GT(beforeNavigate2, 5);
    EXPECT_GT(newWindow2, 5);
    EXPECT_GT(newWindow3, 5);
}

// The download manager reads its request only where Windows reports a major
// version below 6: in a copy of this executable told Windows XP.
TEST_F(AllocationFaults, DownloadRequestsAnswerTheBrowserWhateverFails) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in the copy that reports Windows XP";
    const int download = EveryAllocationFails(
        [] {
            auto moniker =
                std::make_shared<FakeMoniker>(FakeMoniker::kName, L"http://host/download.zip");
            std::shared_ptr<VDownloadManager> manager(new VDownloadManager(),
                                                      [](VDownloadManager* m) { m->Release(); });
            return Request([moniker, manager] {
                const HRESULT hr =
                    manager->Download(moniker.get(), nullptr, 0, 0, nullptr, L"h", nullptr, 0);
                return Outcome{hr, BrowserEventArgs::kUntouched, moniker->refs == 1};
            });
        },
        agent, true, [] { return ULONG(0); });
    std::printf("[ faults   ] allocations failed one by one: Download %d\n", download);
    EXPECT_GT(download, 3);
}

}  // namespace
