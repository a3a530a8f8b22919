#pragma once

// The process-wide memory of the URL each kind of event took last, and the
// rules by which the navigation events and the download requests of one click
// recognise a URL that an earlier event already dealt with. Platform-free: the
// event handlers and the download manager are thin shells around these rules.

#include <string>

struct InterceptState {
    std::string pageUrl;        // the referring page for hand-offs
    std::string navigateUrl;    // last URL taken by BeforeNavigate2
    std::string newWindowUrl;   // last URL taken by NewWindow2
    std::string newWindow3Url;  // last URL taken by NewWindow3
};

// What a navigation event's handler does after its transition.
struct NavigationDecision {
    enum Action {
        kLeaveCancel,  // the browser's Cancel value stays as it was
        kWriteZero,    // already dealt with: let the browser go on
        kAskAgent,     // offer the URL; write 1 if accepted, else 0
    };
    Action action;
    // With kAskAgent: the referring page for the hand-off, copied under the lock.
    std::string referrer;
};

// What a download request does after its comparisons.
struct DownloadDecision {
    bool decline;          // true: the browser downloads the file itself
    std::string referrer;  // otherwise: the referring page for the hand-off
};

// A URL with "?" anywhere is never offered by the navigation events.
bool HasQueryMark(const std::string& url) noexcept;

// The transitions. `pageShown` is the page the browser shows (empty when it
// cannot be had); `contextUrl` is NewWindow3's own referring page.
NavigationDecision BeforeNavigate2Transition(InterceptState& state, const std::string& pageShown,
                                             const std::string& url);
NavigationDecision NewWindow2Transition(InterceptState& state, const std::string& pageShown,
                                        const std::string& url);
// `cancelUsable`: the event's Cancel argument has the type Cancel must have.
NavigationDecision NewWindow3Transition(InterceptState& state, const std::string& contextUrl,
                                        const std::string& url, bool cancelUsable);
DownloadDecision DownloadRequestTransition(InterceptState& state, const std::string& url);
