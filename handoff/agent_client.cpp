// The download agent client: one task, one agent, one AddTask, one answer.
#include "handoff/agent_client.h"

#include "common/boundary.h"
#include "common/bounded_call.h"
#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/hresult_error.h"
#include "handoff/offer_bound.h"

#include <objbase.h>

#include <functional>
#include <memory>
#include <string>

#include "download_agent.h"

const wchar_t kAgentProgId[] = L"CorvaneServer.WebCorvane.1";

HRESULT ResolveAgent(CLSID& agentClass) noexcept {
    return CLSIDFromProgID(kAgentProgId, &agentClass);
}

namespace {

// Asked again this many times at most, after a pause that lets the ending
// agent withdraw its class: a fresh agent answers then. All within the bound.
constexpr int kActivationAttempts = 3;
constexpr DWORD kActivationRetryMs = 200;
constexpr DWORD kQuickFailureMs = 1000;

// An agent that was ending as it was asked refuses at once
// (CO_E_SERVER_STOPPING), or is gone before it answers. Windows' COM asks
// again itself on the first; Wine's does not. So a failure that came quickly
// is asked again, unless it says there is no agent to ask. One that took long
// (an agent that never answers) is not: asking again would only keep a
// given-up offer running longer.
bool WorthAskingAgain(HRESULT hr, DWORD tookMs) noexcept {
    return FAILED(hr) && tookMs < kQuickFailureMs && hr != REGDB_E_CLASSNOTREG &&
           hr != E_NOINTERFACE && hr != CO_E_CLASSSTRING && hr != E_OUTOFMEMORY &&
           hr != E_INVALIDARG;
}

}  // namespace

HRESULT CreateAgent(REFCLSID agentClass, IDownloadAgent** agent) noexcept {
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        if (attempt > 0)
            Sleep(kActivationRetryMs);
        *agent = nullptr;
        const DWORD started = GetTickCount();
        hr = CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDownloadAgent,
                              reinterpret_cast<void**>(agent));
        if (!WorthAskingAgain(hr, GetTickCount() - started))
            break;
    }
    // Success without an interface is no agent either.
    return SUCCEEDED(hr) && *agent == nullptr ? E_NOINTERFACE : hr;
}

namespace {

constexpr LONG kAccepted = 1;

// Every string and the agent itself are held, so that an error releases them.
// `reached` is set once the agent exists: the offer may outlive the caller,
// so the caller reads it through a share of its own, and only after the offer
// has answered.
bool AddTask(const AgentTask& task, volatile LONG& reached) {
    CLSID agentClass;
    if (FAILED(ResolveAgent(agentClass)))
        return false;
    ComPtr<IDownloadAgent> agent;
    if (FAILED(CreateAgent(agentClass, agent.Receive())))
        return false;
    InterlockedExchange(&reached, 1);

    const Bstr url = Bstr::FromWide(task.url);
    const Bstr comment = Bstr::FromWide(task.comment);
    const Bstr referrer = Bstr::FromWide(task.referrer);
    // Zero-length strings, never null, where there is no cookie.
    const Bstr cookie = Bstr::FromWide(task.cookie);
    const Bstr reserved = Bstr::Empty();

    LONG answer = 0;
    const HRESULT hr = agent->AddTask(url.Get(), comment.Get(), referrer.Get(), 0, cookie.Get(),
                                      reserved.Get(), &answer);
    if (FAILED(hr))
        throw HResultError(hr);
    return answer == kAccepted;
}

}  // namespace

OfferOutcome OfferTaskToAgent(AgentTask task, DWORD boundMs,
                              std::function<void(bool taken)> endedLate) noexcept {
    // The offer runs on a worker thread that may outlive this call, with
    // the task it owns. A failing AddTask, an agent that died during the call,
    // a string that could not be built, or an agent that did not answer within
    // the bound: nothing was taken, and the agent is released on the offer's
    // own thread.
    return GuardBoundary(OfferOutcome::kDeclined, [&] {
        auto reached = std::make_shared<volatile LONG>(0);
        const BoundedResult result = RunBounded(
            [task = std::move(task), reached] { return AddTask(task, *reached); }, boundMs,
            [endedLate = std::move(endedLate)](bool taken) {
                if (endedLate)
                    endedLate(taken);
            });
        switch (result) {
            case BoundedResult::kReturnedTrue:
                return OfferOutcome::kTaken;
            case BoundedResult::kTimedOut:
                return OfferOutcome::kTimedOut;
            case BoundedResult::kBusy:
                return OfferOutcome::kBusy;
            case BoundedResult::kReturnedFalse:
                break;
        }
        return *reached != 0 ? OfferOutcome::kDeclined : OfferOutcome::kUnreachable;
    });
}
