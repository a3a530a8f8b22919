#pragma once

// The download agent client: one URL offered to the agent, out of process,
// created afresh for the one call and released after it.

#include <windows.h>

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

// Resolves the agent, creates it, calls AddTask once and releases it, on a
// thread of its own for which the caller waits at most kOfferBoundMs. True
// exactly when the agent answered 1 within the bound; a failure anywhere, an
// exception included, and an agent too slow are a declined offer. The caller
// has applied the policy.
bool OfferToAgent(AgentTask task) noexcept;

// The download agent as every offer reaches it: its ProgID resolved afresh,
// then created in a process of its own for IDownloadAgent. Each answers the
// platform's HRESULT.
extern const wchar_t kAgentProgId[];
HRESULT ResolveAgent(CLSID& agentClass) noexcept;
HRESULT CreateAgent(REFCLSID agentClass, IDownloadAgent** agent) noexcept;
