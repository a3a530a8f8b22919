// Fuzzes sequences of navigation events and download requests against the
// intercept state, checking after each step what its transition promises.
#include "browser/intercept_state.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
const std::string kUrls[] = {"", "http://h/a.zip", "http://h/b.exe", "http://h/a.zip?x", "about:x"};
void Check(bool ok) {
    if (!ok)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InterceptState s;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        const std::string& url = kUrls[(b >> 3) % 5];
        const std::string page = "p" + std::to_string(b & 1);
        const InterceptState before = s;
        switch (b & 7) {
            case 0:
            case 1: {
                const NavigationDecision d = BeforeNavigate2Transition(s, page, url);
                Check(s.pageUrl == page);
                if (HasQueryMark(url)) {
                    Check(d.action == NavigationDecision::kLeaveCancel &&
                          s.navigateUrl == before.navigateUrl);
                } else {
                    Check(s.navigateUrl == url);
                    Check((d.action == NavigationDecision::kAskAgent) ==
                          (before.newWindowUrl != url && before.newWindow3Url != url));
                    if (before.newWindowUrl == url)
                        Check(s.newWindowUrl.empty());
                }
                break;
            }
            case 2:
            case 3: {
                const NavigationDecision d = NewWindow2Transition(s, page, url);
                Check(s.navigateUrl == before.navigateUrl);
                if (!HasQueryMark(url)) {
                    Check(s.newWindowUrl == url);
                    Check((d.action == NavigationDecision::kWriteZero) ==
                          (before.newWindow3Url == url));
                }
                break;
            }
            case 4:
            case 5: {
                const NavigationDecision d = NewWindow3Transition(s, page, url, (b & 1) != 0);
                Check(s.navigateUrl == before.navigateUrl && s.newWindowUrl == before.newWindowUrl);
                Check(d.action != NavigationDecision::kWriteZero);
                if (!HasQueryMark(url))
                    Check(s.newWindow3Url == url);
                break;
            }
            default: {
                const DownloadDecision d = DownloadRequestTransition(s, url);
                Check(d.decline == (before.navigateUrl == url || before.newWindowUrl == url ||
                                    before.newWindow3Url == url));
                Check(s.pageUrl == before.pageUrl && s.newWindowUrl == before.newWindowUrl &&
                      s.newWindow3Url == before.newWindow3Url);
                if (before.navigateUrl == url)
                    Check(s.navigateUrl.empty());
                break;
            }
        }
    }
    return 0;
}
