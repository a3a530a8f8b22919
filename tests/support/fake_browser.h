#pragma once

// Test doubles for the browser's side of COM: a web browser with its event
// connection point, its HTML document and elements, and a site that hands out
// the browser. Each counts its references for real (one at creation, owned by
// the creator; deleted at zero), so a test can assert that the code under
// test released every reference it took.

#include "common/com_ptr.h"
#include "tests/support/unimplemented_interfaces.h"

#include <ocidl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// Reference count and liveness shared by every fake.
class FakeObject {
  public:
    FakeObject(const FakeObject&) = delete;
    FakeObject& operator=(const FakeObject&) = delete;

    ULONG RefCount() const { return refCount_; }
    // Fakes of this process not yet destroyed.
    static long LiveCount();

  protected:
    FakeObject();
    virtual ~FakeObject();
    ULONG AddRefObject() { return ++refCount_; }
    ULONG ReleaseObject();

  private:
    ULONG refCount_ = 1;
};

// Creates a fake and takes over its creation reference.
template <typename T, typename... Args>
ComPtr<T> MakeFake(Args&&... args) {
    ComPtr<T> fake;
    fake.Attach(new T(std::forward<Args>(args)...));
    return fake;
}

// What a fake's BSTR property answers: its HRESULT, and either a string
// (which may hold zero characters), a null BSTR, or nothing written at all.
struct StringAnswer {
    HRESULT result = S_OK;
    enum class Output { Text, Null, Unwritten } output = Output::Text;
    std::wstring text;

    static StringAnswer Text(std::wstring text) { return {S_OK, Output::Text, std::move(text)}; }
    static StringAnswer Null() { return {S_OK, Output::Null, {}}; }
    // A failure that leaves the out-parameter as the caller passed it.
    static StringAnswer Failure(HRESULT hr = E_FAIL) { return {hr, Output::Unwritten, {}}; }

    // Writes the answer into `out` (a fresh BSTR, owned by the caller).
    HRESULT Answer(BSTR* out) const;
};

// What a fake's interface-valued property answers.
template <typename T>
struct InterfaceAnswer {
    HRESULT result = S_OK;
    ComPtr<T> object;     // null: answers a null pointer
    bool written = true;  // false: leaves the out-parameter as the caller passed it

    // Takes a reference of its own on `answer` (which may be null).
    void Hold(T* answer) {
        if (answer != nullptr)
            answer->AddRef();
        object.Attach(answer);
    }

    HRESULT Answer(T** out) const {
        if (!written)
            return result;
        *out = object.Get();
        if (*out != nullptr)
            (*out)->AddRef();
        return result;
    }
};

// An HTML element (IHTMLElement), optionally also a link (IHTMLAnchorElement).
class FakeElement : public UnimplementedHTMLElement,
                    public UnimplementedHTMLAnchorElement,
                    public FakeObject {
  public:
    FakeElement(std::wstring tag, std::wstring text, bool anchor = false);

    StringAnswer tagName;
    StringAnswer innerText;
    bool isAnchor;  // whether QueryInterface hands out IHTMLAnchorElement
    StringAnswer href;
    int innerTextCalls = 0;
    int hrefCalls = 0;

    IHTMLElement* AsElement() { return static_cast<IHTMLElement*>(this); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP get_tagName(BSTR* out) override { return tagName.Answer(out); }
    STDMETHODIMP get_innerText(BSTR* out) override;
    STDMETHODIMP get_href(BSTR* out) override;
};

// An HTML document: IDispatch, and IHTMLDocument2 unless told otherwise.
class FakeDocument : public UnimplementedHTMLDocument2, public FakeObject {
  public:
    explicit FakeDocument(IHTMLElement* active = nullptr);

    bool isHtmlDocument = true;  // whether QueryInterface hands out IHTMLDocument2
    InterfaceAnswer<IHTMLElement> activeElement;
    int activeElementCalls = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP get_activeElement(IHTMLElement** out) override;
};

class FakeBrowser;

// The browser's DWebBrowserEvents2 connection point. Advise holds a reference
// on the sink until the matching Unadvise (or the point's destruction).
class FakeConnectionPoint : public IConnectionPoint, public FakeObject {
  public:
    struct AdviseCall {
        IUnknown* sink;  // for identity only: the reference lives in `connections`
        DWORD cookie;    // the cookie handed out; 0 when Advise failed
        HRESULT result;
    };
    struct UnadviseCall {
        DWORD cookie;
        HRESULT result;
    };

    explicit FakeConnectionPoint(FakeBrowser* container);

    HRESULT adviseResult = S_OK;    // a failure connects nothing, writes no cookie
    HRESULT unadviseResult = S_OK;  // a failure disconnects nothing
    DWORD nextCookie = 1;           // handed out by the next successful Advise, then + 1
    std::vector<AdviseCall> advises;
    std::vector<UnadviseCall> unadvises;
    std::map<DWORD, ComPtr<IUnknown>> connections;  // by cookie

    // Calls Invoke on every connected sink, as the browser fires an event.
    // Answers the last sink's result, or S_FALSE when none is connected.
    HRESULT Fire(DISPID event, DISPPARAMS* params);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  private:
    friend class FakeBrowser;
    // Not a reference: the container owns the point, as in the real browser.
    // Cleared when the container goes away first.
    FakeBrowser* container_;
};

// A web browser window: IWebBrowser2 (IWebBrowserApp, IWebBrowser, IDispatch)
// and, when asked to, IConnectionPointContainer with one connection point for
// DWebBrowserEvents2.
class FakeBrowser : public UnimplementedWebBrowser2,
                    public IConnectionPointContainer,
                    public FakeObject {
  public:
    explicit FakeBrowser(std::wstring url = L"", IDispatch* document = nullptr);
    ~FakeBrowser() override;

    StringAnswer locationUrl;
    int locationUrlCalls = 0;
    InterfaceAnswer<IDispatch> document;
    int documentCalls = 0;

    bool hasConnectionPoints = false;          // whether QueryInterface hands out the container
    HRESULT findConnectionPointResult = S_OK;  // a failure hands out no point
    int findConnectionPointCalls = 0;
    FakeConnectionPoint& Events() { return *events_.Get(); }

    IWebBrowser2* AsBrowser() { return static_cast<IWebBrowser2*>(this); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP get_LocationURL(BSTR* out) override;
    STDMETHODIMP get_Document(IDispatch** out) override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  private:
    ComPtr<FakeConnectionPoint> events_;
};

// A site as the browser hands it to a helper object: IUnknown, and
// IWebBrowser2 (asked of the browser) when it has one.
class FakeSite : public IUnknown, public FakeObject {
  public:
    explicit FakeSite(IWebBrowser2* browser = nullptr);

    ComPtr<IWebBrowser2> browser;
    int browserQueries = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }
};
