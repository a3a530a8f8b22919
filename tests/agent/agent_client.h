#pragma once

// A minimal client of the reference agent, made the way the library's
// hand-off makes one: ProgID to class, a local server, IDownloadAgent.

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "download_agent.h"
#include "tests/support/com_apartment.h"

#include <objbase.h>

#include <string>

constexpr wchar_t kAgentProgIdText[] = L"CorvaneServer.WebCorvane.1";

inline HRESULT CreateAgent(ComPtr<IDownloadAgent>& agent) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kAgentProgIdText, &clsid);
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDownloadAgent,
                            agent.ReceiveVoid());
}

// A BSTR of exactly these characters, embedded zeros included.
inline Bstr MakeBstr(const std::wstring& text) {
    Bstr bstr;
    *bstr.Receive() = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return bstr;
}
