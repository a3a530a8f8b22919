#include "browser/intercept_state.h"

bool HasQueryMark(const std::string& url) noexcept {
    return url.find('?') != std::string::npos;
}

NavigationDecision BeforeNavigate2Transition(InterceptState& state, const std::string& pageShown,
                                             const std::string& url) {
    state.pageUrl = pageShown;
    if (HasQueryMark(url))
        return {NavigationDecision::kLeaveCancel, {}};
    state.navigateUrl = url;
    if (state.newWindowUrl == url) {
        // The same click's NewWindow2 offered it already.
        state.newWindowUrl.clear();
        return {NavigationDecision::kWriteZero, {}};
    }
    // NewWindow3 offered it already; its entry keeps suppressing the URL.
    if (state.newWindow3Url == url)
        return {NavigationDecision::kWriteZero, {}};
    return {NavigationDecision::kAskAgent, state.pageUrl};
}

NavigationDecision NewWindow2Transition(InterceptState& state, const std::string& pageShown,
                                        const std::string& url) {
    state.pageUrl = pageShown;
    if (HasQueryMark(url))
        return {NavigationDecision::kLeaveCancel, {}};
    state.newWindowUrl = url;
    if (state.newWindow3Url == url) {
        state.newWindow3Url.clear();
        return {NavigationDecision::kWriteZero, {}};
    }
    return {NavigationDecision::kAskAgent, state.pageUrl};
}

NavigationDecision NewWindow3Transition(InterceptState& state, const std::string& contextUrl,
                                        const std::string& url, bool cancelUsable) {
    state.pageUrl = contextUrl;
    if (HasQueryMark(url))
        return {NavigationDecision::kLeaveCancel, {}};
    state.newWindow3Url = url;
    if (!cancelUsable)
        return {NavigationDecision::kLeaveCancel, {}};
    return {NavigationDecision::kAskAgent, state.pageUrl};
}

DownloadDecision DownloadRequestTransition(InterceptState& state, const std::string& url) {
    if (state.navigateUrl == url) {
        // The browser's download of a navigation the agent refused.
        state.navigateUrl.clear();
        return {true, {}};
    }
    if (state.newWindowUrl == url || state.newWindow3Url == url)
        return {true, {}};
    return {false, state.pageUrl};
}
