// The download agent client: one URL, one agent, one AddTask, one answer.
#include "handoff/download_handoff.h"

#include "common/boundary.h"
#include "common/bounded_call.h"
#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/hresult_error.h"
#include "handoff/offer_bound.h"

#include <objbase.h>

#include <string>

#include "download_agent.h"

const wchar_t DownloadHandoff::kAgentProgId[] = L"CorvaneServer.WebCorvane.1";

HRESULT DownloadHandoff::ResolveAgent(CLSID& agentClass) noexcept {
    return CLSIDFromProgID(kAgentProgId, &agentClass);
}

HRESULT DownloadHandoff::CreateAgent(REFCLSID agentClass, IDownloadAgent** agent) noexcept {
    const HRESULT hr = CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_IDownloadAgent, reinterpret_cast<void**>(agent));
    // Success without an interface is no agent either.
    return SUCCEEDED(hr) && *agent == nullptr ? E_NOINTERFACE : hr;
}

namespace {

constexpr LONG kAccepted = 1;

// Creates the agent, hands it the URL and answers whether it took it. Every
// string and the agent itself are held so that an error releases them.
bool AddTaskToAgent(const char* url, const char* comment, const char* referrer) {
    CLSID agentClass;
    if (FAILED(DownloadHandoff::ResolveAgent(agentClass)))
        return false;

    ComPtr<IDownloadAgent> agent;
    if (FAILED(DownloadHandoff::CreateAgent(agentClass, agent.Receive())))
        return false;

    Bstr urlText = Bstr::FromNarrow(url);
    Bstr commentText = Bstr::FromNarrow(comment);
    Bstr referrerText = Bstr::FromNarrow(referrer);
    // The two trailing strings are real zero-length strings, never null.
    Bstr reserved1 = Bstr::Empty();
    Bstr reserved2 = Bstr::Empty();

    LONG answer = 0;
    const HRESULT hr = agent->AddTask(urlText.Get(), commentText.Get(), referrerText.Get(), 0,
                                      reserved1.Get(), reserved2.Get(), &answer);
    if (FAILED(hr))
        throw HResultError(hr);
    return answer == kAccepted;
}

}  // namespace

bool DownloadHandoff::OfferToAgent(const char* url, const char* comment, const char* referrer,
                                   const char* /*cookie*/) noexcept {
    // The cookie is read by the callers, but the agent's AddTask has no place
    // for it: the two trailing strings stay empty.
    if (url == nullptr)
        return false;
    // The offer runs on a thread of its own that may outlive this call: it
    // gets copies of the strings, absent ones staying absent. A failing
    // AddTask, an agent that died during the call, a string that could not be
    // built, or an agent that did not answer within the bound: nothing was
    // taken, and the agent is released on the offer's own thread.
    struct Text {
        bool given;
        std::string text;
        const char* Get() const noexcept { return given ? text.c_str() : nullptr; }
    };
    return GuardBoundary(false, [&] {
        return RunBounded(
                   [url = std::string(url),
                    comment = Text{comment != nullptr, comment ? comment : ""},
                    referrer = Text{referrer != nullptr, referrer ? referrer : ""}] {
                       return AddTaskToAgent(url.c_str(), comment.Get(), referrer.Get());
                   },
                   kOfferBoundMs) == BoundedAnswer::kYes;
    });
}

bool DownloadHandoff::SendToAgent(const char* url, const char* comment, const char* referrer,
                                  const char* cookie) noexcept {
    return PolicyAllows(url) && OfferToAgent(url, comment, referrer, cookie);
}
