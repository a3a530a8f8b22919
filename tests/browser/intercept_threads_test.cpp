// Many browser threads share one intercept state: every transition must run
// whole. Natively this runs under ThreadSanitizer as well.
#include "browser/shared_intercept_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

TEST(InterceptThreads, TransitionsRunWholeUnderTheSharedLock) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &torn] {
            const std::string page = "http://page/" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                const std::string url =
                    "http://host/" + std::to_string(t) + "/" + std::to_string(i % 7) + ".zip";
                // Each check runs inside the same locked call as its
                // transition: another thread's writes can never show up
                // between the two.
                interceptState.Apply([&](InterceptState& s) {
                    const NavigationDecision d = NewWindow2Transition(s, page, url);
                    if (s.newWindowUrl != url || s.pageUrl != page)
                        ++torn;
                    if (d.action == NavigationDecision::kAskAgent && d.referrer != page)
                        ++torn;
                    return 0;
                });
                interceptState.Apply([&](InterceptState& s) {
                    const NavigationDecision d = BeforeNavigate2Transition(s, page, url);
                    if (s.navigateUrl != url)
                        ++torn;
                    if (d.action == NavigationDecision::kWriteZero && s.newWindowUrl == url &&
                        s.newWindow3Url != url) {
                        ++torn;  // a match must have cleared newWindowUrl
                    }
                    return 0;
                });
                interceptState.Apply([&](InterceptState& s) {
                    const bool matchedNavigate = s.navigateUrl == url;
                    const DownloadDecision d = DownloadRequestTransition(s, url);
                    if (matchedNavigate && (!d.decline || !s.navigateUrl.empty()))
                        ++torn;
                    return 0;
                });
                interceptState.Apply([&](InterceptState& s) {
                    NewWindow3Transition(s, page, url, (i & 1) != 0);
                    if (s.newWindow3Url != url || s.pageUrl != page)
                        ++torn;
                    return 0;
                });
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, torn.load());
}
