#include "tests/support/fake_browser.h"

#include "common/identifiers.h"

#include <olectl.h>

namespace {
long liveFakes = 0;

// Hands out `object` as the interface asked for; the reference is the caller's.
template <typename I>
HRESULT HandOut(I* object, void** out) {
    object->AddRef();
    *out = object;
    return S_OK;
}
}  // namespace

FakeObject::FakeObject() {
    ++liveFakes;
}
FakeObject::~FakeObject() {
    --liveFakes;
}
long FakeObject::LiveCount() {
    return liveFakes;
}

ULONG FakeObject::ReleaseObject() {
    const ULONG count = --refCount_;
    if (count == 0)
        delete this;
    return count;
}

HRESULT StringAnswer::Answer(BSTR* out) const {
    switch (output) {
        case Output::Text:
            // The whole text, zero characters inside included.
            *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (*out == nullptr)
                return E_OUTOFMEMORY;
            break;
        case Output::Null:
            *out = nullptr;
            break;
        case Output::Unwritten:
            break;
    }
    return result;
}

// --- FakeElement ---

FakeElement::FakeElement(std::wstring tag, std::wstring text, bool anchor)
    : tagName(StringAnswer::Text(std::move(tag))),
      innerText(StringAnswer::Text(std::move(text))),
      isAnchor(anchor) {}

HRESULT FakeElement::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IHTMLElement)) {
        return HandOut(static_cast<IHTMLElement*>(this), out);
    }
    if (isAnchor && IsEqualIID(iid, IID_IHTMLAnchorElement))
        return HandOut(static_cast<IHTMLAnchorElement*>(this), out);
    return E_NOINTERFACE;
}

HRESULT FakeElement::get_innerText(BSTR* out) {
    ++innerTextCalls;
    return innerText.Answer(out);
}

HRESULT FakeElement::get_href(BSTR* out) {
    ++hrefCalls;
    return href.Answer(out);
}

// --- FakeDocument ---

FakeDocument::FakeDocument(IHTMLElement* active) {
    activeElement.Hold(active);
}

HRESULT FakeDocument::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
        return HandOut(static_cast<IDispatch*>(this), out);
    if (isHtmlDocument && IsEqualIID(iid, IID_IHTMLDocument2))
        return HandOut(static_cast<IHTMLDocument2*>(this), out);
    return E_NOINTERFACE;
}

HRESULT FakeDocument::get_activeElement(IHTMLElement** out) {
    ++activeElementCalls;
    return activeElement.Answer(out);
}

// --- FakeConnectionPoint ---

FakeConnectionPoint::FakeConnectionPoint(FakeBrowser* container) : container_(container) {}

HRESULT FakeConnectionPoint::Fire(DISPID event, DISPPARAMS* params) {
    // A sink may disconnect itself from inside Invoke: call a snapshot, each
    // sink held for the duration of its call.
    std::vector<ComPtr<IDispatch>> sinks;
    for (const auto& connection : connections) {
        ComPtr<IDispatch> sink;
        sink.QueryFrom(connection.second.Get(), IID_IDispatch);
        if (sink)
            sinks.push_back(std::move(sink));
    }
    HRESULT hr = S_FALSE;
    for (const auto& sink : sinks) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        hr = sink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                          params != nullptr ? params : &none, nullptr, nullptr, nullptr);
    }
    return hr;
}

HRESULT FakeConnectionPoint::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint))
        return HandOut(static_cast<IConnectionPoint*>(this), out);
    return E_NOINTERFACE;
}

HRESULT FakeConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr)
        return E_POINTER;
    *iid = DIID_WebBrowserEvents2;
    return S_OK;
}

HRESULT FakeConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (container_ == nullptr)
        return E_UNEXPECTED;
    return HandOut(static_cast<IConnectionPointContainer*>(container_),
                   reinterpret_cast<void**>(out));
}

HRESULT FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) {
        advises.push_back({sink, 0, E_POINTER});
        return E_POINTER;
    }
    if (FAILED(adviseResult)) {
        advises.push_back({sink, 0, adviseResult});
        return adviseResult;
    }
    const DWORD given = nextCookie++;
    sink->AddRef();
    connections[given].Attach(sink);
    *cookie = given;
    advises.push_back({sink, given, S_OK});
    return S_OK;
}

HRESULT FakeConnectionPoint::Unadvise(DWORD cookie) {
    HRESULT hr = unadviseResult;
    if (SUCCEEDED(hr)) {
        auto it = connections.find(cookie);
        if (it == connections.end()) {
            hr = CONNECT_E_NOCONNECTION;
        } else {
            // Out of the table first: the sink's last Release may call back.
            ComPtr<IUnknown> sink(std::move(it->second));
            connections.erase(it);
        }
    }
    unadvises.push_back({cookie, hr});
    return hr;
}

// --- FakeBrowser ---

FakeBrowser::FakeBrowser(std::wstring url, IDispatch* document)
    : locationUrl(StringAnswer::Text(std::move(url))) {
    this->document.Hold(document);
    events_.Attach(new FakeConnectionPoint(this));
}

FakeBrowser::~FakeBrowser() {
    events_->container_ = nullptr;
}

HRESULT FakeBrowser::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IWebBrowser) || IsEqualIID(iid, IID_IWebBrowserApp) ||
        IsEqualIID(iid, IID_WebBrowser2)) {
        return HandOut(static_cast<IWebBrowser2*>(this), out);
    }
    if (hasConnectionPoints && IsEqualIID(iid, IID_ConnectionPointContainer))
        return HandOut(static_cast<IConnectionPointContainer*>(this), out);
    return E_NOINTERFACE;
}

HRESULT FakeBrowser::get_LocationURL(BSTR* out) {
    ++locationUrlCalls;
    return locationUrl.Answer(out);
}

HRESULT FakeBrowser::get_Document(IDispatch** out) {
    ++documentCalls;
    return document.Answer(out);
}

HRESULT FakeBrowser::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    ++findConnectionPointCalls;
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (FAILED(findConnectionPointResult))
        return findConnectionPointResult;
    if (!IsEqualIID(iid, DIID_WebBrowserEvents2))
        return CONNECT_E_NOCONNECTION;
    return HandOut(static_cast<IConnectionPoint*>(events_.Get()), reinterpret_cast<void**>(out));
}

// --- FakeSite ---

FakeSite::FakeSite(IWebBrowser2* browser) {
    if (browser != nullptr)
        browser->AddRef();
    this->browser.Attach(browser);
}

HRESULT FakeSite::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown))
        return HandOut(static_cast<IUnknown*>(this), out);
    if (IsEqualIID(iid, IID_WebBrowser2)) {
        ++browserQueries;
        if (!browser)
            return E_NOINTERFACE;
        return browser->QueryInterface(iid, out);
    }
    return E_NOINTERFACE;
}
