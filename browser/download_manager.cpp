#include "browser/download_manager.h"

#include "browser/shared_intercept_state.h"
#include "browser/page_inspection.h"
#include "common/boundary.h"
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "common/string_conversion.h"
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"

#include <objbase.h>

namespace {

// The moniker's display name, freed with the task allocator whatever happens.
class DisplayName {
  public:
    ~DisplayName() {
        if (name_ == nullptr)
            return;
        ComPtr<IMalloc> allocator;
        if (SUCCEEDED(CoGetMalloc(MEMCTX_TASK, allocator.Receive())) && allocator) {
            allocator->Free(name_);
        } else {
            CoTaskMemFree(name_);  // the same allocator, reached directly
        }
    }
    LPOLESTR* Receive() noexcept { return &name_; }
    LPOLESTR Get() const noexcept { return name_; }

  private:
    LPOLESTR name_ = nullptr;
};

}  // namespace

bool SystemDeclinesDownloads(OSVERSIONINFOA* reported) noexcept {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);  // a failed query reads as version 0
    if (reported != nullptr)
        *reported = version;
    return version.dwMajorVersion >= 6;
}

STDMETHODIMP VDownloadManager::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_DownloadManagerInterface)) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IDownloadManager*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) VDownloadManager::AddRef() {
    return static_cast<ULONG>(++refCount);
}

STDMETHODIMP_(ULONG) VDownloadManager::Release() {
    const LONG count = --refCount;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP VDownloadManager::Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb,
                                        LONG /*grfBINDF*/, BINDINFO* /*pBindInfo*/,
                                        LPCOLESTR pszHeaders, LPCOLESTR /*pszRedir*/,
                                        UINT /*uiCP*/) {
    // The browser may release this object while the agent answers (see the
    // helper's Invoke): the call keeps it, and the DLL, until it returns.
    const ComPtr<IDownloadManager> alive = ComPtr<IDownloadManager>::Share(this);
    return GuardBoundary(E_NOTIMPL, [&]() -> HRESULT {
        if (SystemDeclinesDownloads())
            return E_NOTIMPL;
        if (pmk == nullptr)
            return E_NOTIMPL;

        std::wstring wideUrl;
        {
            DisplayName name;
            if (pmk->GetDisplayName(pbc, nullptr, name.Receive()) != S_OK)
                return E_NOTIMPL;
            if (name.Get() == nullptr)
                return E_NOTIMPL;
            wideUrl = name.Get();
        }
        const std::string url = WideToUtf8(wideUrl);

        const DownloadDecision decision = interceptState.Apply(
            [&](InterceptState& s) { return DownloadRequestTransition(s, url); });
        if (decision.decline)
            return E_NOTIMPL;
        if (pszHeaders == nullptr && pbc == nullptr)
            return E_NOTIMPL;

        // A POST, PUT or other verb is a request the agent could only repeat
        // as a GET: the browser keeps it.
        if (dwBindVerb != BINDVERB_GET)
            return E_NOTIMPL;
        // The cookie is looked up only for a URL that the policy takes.
        if (!PolicyAllows(url))
            return E_NOTIMPL;
        AgentTask task;
        task.url = std::move(wideUrl);
        task.referrer = Utf8ToWide(decision.referrer);
        task.cookie = GetCookiesForUrl(task.url);
        // Busy (an offer given up at the bound still runs, or this thread
        // already waits for one further down its stack) is declined as well.
        return OfferTaskToAgent(std::move(task)) == OfferOutcome::kTaken ? S_OK : E_NOTIMPL;
    });
}
