#pragma once

#include <windows.h>
#include <downloadmgr.h>

#include "common/module_state.h"

// Whether the download manager declines every request on this system: on
// Windows of major version 6 (Vista) and later it does. `reported` receives
// the version the system gave (zero when the query failed).
bool SystemDeclinesDownloads(OSVERSIONINFOA* reported = nullptr) noexcept;

// Internet Explorer's custom download manager: takes a download away from
// the browser when the agent accepts it, declines (E_NOTIMPL) otherwise.
class VDownloadManager final : public IDownloadManager {
  public:
    VDownloadManager() noexcept = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb, LONG grfBINDF,
                          BINDINFO* pBindInfo, LPCOLESTR pszHeaders, LPCOLESTR pszRedir,
                          UINT uiCP) override;

  private:
    ~VDownloadManager() = default;

    LONG refCount = 1;
    LiveObjectToken liveToken;
};
