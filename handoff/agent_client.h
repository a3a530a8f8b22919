#pragma once

// The download agent client: one URL offered to the agent, out of process,
// created afresh for the one call and released after it.

#include "handoff/offer_bound.h"

#include <windows.h>

#include <functional>
#include <string>

struct IDownloadAgent;

// What one AddTask carries, owned by the task so that the offer may run
// anywhere: nothing in it points into the browser's memory. Every string is
// the browser's UTF-16, unchanged.
struct AgentTask {
    std::wstring url;
    std::wstring comment;   // the link's text; empty on the download road
    std::wstring referrer;  // the page the link was on
    std::wstring cookie;    // the URL's cookie string, empty when it has none
};

// How one offer ended, for a caller that tells its user why (the native
// messaging host); the library only asks whether it was taken.
enum class OfferOutcome {
    kTaken,        // the agent answered 1 within the bound
    kDeclined,     // it answered anything else, failed the call or died in it
    kUnreachable,  // no agent: the ProgID resolves to nothing or it cannot be created
    kTimedOut,     // no answer within the bound
    kBusy,         // an earlier offer still waits on the agent: this one never reached it
};

// Resolves the agent, creates it, calls AddTask once and releases it, on a
// worker thread of the module's for which the caller waits at most
// `boundMs`. The caller has applied the policy.
//
// kBusy, at once and without a thread or a wait, while an offer given up at
// the bound still waits on the agent (a hung agent costs one wait of the
// bound, not one per click), and for an offer that COM's modal loop
// dispatched on a thread that is itself waiting for an offer (a second wait
// inside the first would hold that thread past the bound).
//
// `endedLate`, when given, is called once, on the offer's own thread, when
// an offer answered kTimedOut ends after all, with whether the agent took
// the task; it owns what it uses. It must not throw.
OfferOutcome OfferTaskToAgent(AgentTask task, DWORD boundMs = kOfferBoundMs,
                              std::function<void(bool taken)> endedLate = nullptr) noexcept;

// The download agent as every offer reaches it: its ProgID resolved afresh,
// then created in a process of its own for IDownloadAgent. Each answers the
// platform's HRESULT.
extern const wchar_t kAgentProgId[];
HRESULT ResolveAgent(CLSID& agentClass) noexcept;
HRESULT CreateAgent(REFCLSID agentClass, IDownloadAgent** agent) noexcept;
