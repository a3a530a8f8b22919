// The built DLL's helper object sited in the platform's own WebBrowser
// control, as a browser sites it, navigating to a small HTTP server of the
// test's own on 127.0.0.1. The server's count of requests tells whether a
// navigation was stopped; the reference agent records what it was offered.
#include <winsock2.h>
#include <windows.h>

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "common/variant.h"
#include "tests/support/agent_control.h"
#include "tools/support/client_site.h"
#include "tools/support/event_args.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/test_copy.h"
#include "tests/support/tiny_http_server.h"
#include "tests/support/unimplemented_interfaces.h"
#include "tools/support/wine_paths.h"

#include <downloadmgr.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

// A second sink, connected after the helper: it sees every BeforeNavigate2
// with the Cancel value the helper left, and how navigations end.
class EventObserver : public StackDispatch {
  public:
    STDMETHODIMP Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (event == DISPID_BEFORENAVIGATE2 && params != nullptr && params->cArgs == 7 &&
            params->rgvarg[0].vt == (VT_BYREF | VT_BOOL) &&
            params->rgvarg[5].vt == (VT_BYREF | VT_VARIANT) &&
            params->rgvarg[5].pvarVal->vt == VT_BSTR) {
            lastUrl = params->rgvarg[5].pvarVal->bstrVal;
            lastCancel = *params->rgvarg[0].pboolVal;
            ++beforeNavigate;
        } else if (event == DISPID_NAVIGATEERROR || event == DISPID_NAVIGATECOMPLETE2 ||
                   event == DISPID_DOCUMENTCOMPLETE) {
            ++ended;
        }
        return S_OK;
    }
    int beforeNavigate = 0;
    int ended = 0;
    std::wstring lastUrl;
    VARIANT_BOOL lastCancel = 0;
};

// The built DLL, loaded once for the process and never unloaded: the
// browser does not unload a helper's DLL while one of its objects lives.
HMODULE Library() {
    static HMODULE module = LoadLibraryA(FromUnixPath(WEBCORVANE_DLL_PATH).c_str());
    return module;
}

template <typename T>
T Export(const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Library(), name)));
}

// A new object of the built DLL's class `clsid`, asked for `iid`.
template <typename Interface>
ComPtr<Interface> CreateFromDll(REFCLSID clsid, REFIID iid) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    ComPtr<Interface> object;
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    if (getClassObject == nullptr)
        return object;
    ComPtr<IClassFactory> factory;
    if (FAILED(getClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid())))
        return object;
    factory->CreateInstance(nullptr, iid, object.ReceiveVoid());
    return object;
}

ComPtr<IObjectWithSite> CreateHelper() {
    return CreateFromDll<IObjectWithSite>(CLSID_WebCorvaneIEHelper, IID_ObjectWithSite);
}

// Dispatches messages until `done` answers true or `timeoutMs` passed;
// answers `done`'s last word.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

class WebBrowserControl : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_NE(nullptr, Library());
        ASSERT_TRUE(server.Running());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWebBrowser2, control.ReceiveVoid()));
        ASSERT_EQ(S_OK, GiveClientSite(control.Get()));

        helper = CreateHelper();
        ASSERT_TRUE(helper);
        ASSERT_EQ(S_OK, helper->SetSite(control.Get()));

        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, container.QueryFrom(control.Get(), IID_IConnectionPointContainer));
        ASSERT_EQ(S_OK,
                  container->FindConnectionPoint(DIID_DWebBrowserEvents2, observerPoint.Receive()));
        ASSERT_EQ(S_OK, observerPoint->Advise(&observer, &observerCookie));
    }
    void TearDown() override {
        if (observerPoint)
            observerPoint->Unadvise(observerCookie);
        observerPoint.Reset();
        if (control) {
            control->Stop();
            ComPtr<IOleObject> oleObject;
            if (SUCCEEDED(oleObject.QueryFrom(control.Get(), IID_IOleObject))) {
                oleObject->Close(OLECLOSE_NOSAVE);
                oleObject->SetClientSite(nullptr);
            }
        }
        // The browser says OnQuit before it lets a helper go: the helper's
        // Unadvise is what frees it from the control's connection point.
        ComPtr<IDispatch> sink;
        if (SUCCEEDED(sink.QueryFrom(helper.Get(), IID_IDispatch))) {
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            sink->Invoke(DISPID_ONQUIT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                         nullptr);
        }
        sink.Reset();
        helper.Reset();
        control.Reset();
        PumpUntil([] { return false; }, 50);
        OleUninitialize();
    }

    // Navigates to `path` of the server and waits until the navigation was
    // stopped by a sink, or the server saw it and the control ended it.
    // Answers the Cancel value the observer saw after the helper.
    VARIANT_BOOL Navigate(const std::string& path) {
        const std::wstring url = server.Url(std::wstring(path.begin(), path.end()));
        const int seen = observer.beforeNavigate;
        const int ended = observer.ended;
        const int requests = server.Requests(path);
        Variant target;
        target.Get()->vt = VT_BSTR;
        target.Get()->bstrVal = SysAllocString(url.c_str());
        Variant empty;
        EXPECT_EQ(S_OK, control->Navigate2(target.Get(), empty.Get(), empty.Get(), empty.Get(),
                                           empty.Get()))
            << path;
        EXPECT_TRUE(PumpUntil([&] { return observer.beforeNavigate > seen; }, 10000)) << path;
        EXPECT_EQ(url, observer.lastUrl);
        if (observer.lastCancel != 0) {
            // Give a request that should not come the time to come.
            PumpUntil([&] { return server.Requests(path) > requests; }, 1000);
        } else {
            EXPECT_TRUE(PumpUntil(
                [&] { return server.Requests(path) > requests && observer.ended > ended; }, 10000))
                << path;
        }
        return observer.lastCancel;
    }

    std::wstring LocationUrl() {
        Bstr location;
        control->get_LocationURL(location.Receive());
        return location.Get() == nullptr ? std::wstring() : std::wstring(location.Get());
    }

    AgentSession agent;
    TinyHttpServer server;
    EventObserver observer;
    ComPtr<IWebBrowser2> control;
    ComPtr<IObjectWithSite> helper;
    ComPtr<IConnectionPoint> observerPoint;
    DWORD observerCookie = 0;
};

TEST_F(WebBrowserControl, AgentDecidesWhichNavigationsReachTheServer) {
    agent.SetAnswer(L"1");
    // Pages and query URLs go through; the agent hears nothing of them.
    EXPECT_EQ(0, Navigate("/page.html"));
    EXPECT_EQ(1, server.Requests("/page.html"));
    EXPECT_EQ(0, Navigate("/get.zip?id=1"));
    EXPECT_EQ(1, server.Requests("/get.zip?id=1"));
    EXPECT_TRUE(agent.Records().empty());

    // A file the agent accepts is taken from the browser.
    const std::wstring page = LocationUrl();
    EXPECT_NE(0, Navigate("/file.zip"));
    EXPECT_EQ(0, server.Requests("/file.zip"));
    std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(server.Url(L"/file.zip")), records[0].url);
    EXPECT_EQ(AgentText::Of(page), records[0].referrer);

    // One it refuses is left to the browser.
    agent.SetAnswer(L"0");
    EXPECT_EQ(0, Navigate("/other.zip"));
    EXPECT_EQ(1, server.Requests("/other.zip"));
    records = agent.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(AgentText::Of(server.Url(L"/other.zip")), records[1].url);
}

TEST_F(WebBrowserControl, EventsTheControlNeverFiresAndTheQuitThatDisconnects) {
    agent.SetAnswer(L"1");
    ComPtr<IDispatch> sink;
    ASSERT_EQ(S_OK, sink.QueryFrom(helper.Get(), IID_IDispatch));
    auto fire = [&](DISPID id, BrowserEventArgs* args) {
        std::unique_ptr<BrowserEventArgs> owned(args);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        EXPECT_EQ(S_OK, sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD,
                                     args ? args->Params() : &none, nullptr, nullptr, nullptr));
        return args ? args->cancel : BrowserEventArgs::kUntouched;
    };
    // No HTML document here: the focused link is empty, which no agent gets.
    EXPECT_EQ(0, fire(DISPID_NEWWINDOW2, BrowserEventArgs::NewWindow2()));
    const std::wstring context = server.Url(L"/context.html");
    EXPECT_EQ(1, fire(DISPID_NEWWINDOW3,
                      BrowserEventArgs::NewWindow3(server.Url(L"/popup.zip"), context)));
    std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(server.Url(L"/popup.zip")), records[0].url);
    EXPECT_EQ(AgentText::Of(context), records[0].referrer);

    fire(DISPID_QUIT, nullptr);
    fire(DISPID_ONQUIT, nullptr);
    // Disconnected: the control's next navigation is no longer stopped.
    EXPECT_EQ(0, Navigate("/after-quit.zip"));
    EXPECT_EQ(1, server.Requests("/after-quit.zip"));
    EXPECT_EQ(1u, agent.Records().size());
}

TEST_F(WebBrowserControl, ReleasedHelperLeavesNoObjectOfTheLibrary) {
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto canUnloadNow = Export<CanUnloadNow>("DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_EQ(S_FALSE, canUnloadNow());
    ComPtr<IDispatch> sink;
    ASSERT_EQ(S_OK, sink.QueryFrom(helper.Get(), IID_IDispatch));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(S_OK, sink->Invoke(DISPID_ONQUIT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                 nullptr, nullptr));
    sink.Reset();
    helper.Reset();  // the control no longer holds it: this was the last reference
    EXPECT_EQ(S_OK, canUnloadNow());
}

// The built DLL's download manager, asked as Internet Explorer asks it: it
// hands over where Windows reports a major version below 6, and elsewhere
// declines at once, without reading the request.
TEST(DllDownloadManager, HandsOverOnlyBeforeWindowsVista) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    {
        AgentSession agent;
        agent.SetAnswer(L"1");
        ComPtr<IDownloadManager> manager =
            CreateFromDll<IDownloadManager>(CLSID_VDownloadManager, IID_DownloadManagerInterface);
        ASSERT_TRUE(manager);
        FakeMoniker moniker(FakeMoniker::kName, L"http://127.0.0.1:1/each-windows.zip");
        ComPtr<IBindCtx> bindContext;
        ASSERT_EQ(S_OK, CreateBindCtx(0, bindContext.Receive()));
        const HRESULT hr =
            manager->Download(&moniker, bindContext.Get(), 0, 0, nullptr, nullptr, nullptr, 0);
        const bool handsOver = ReportedMajorVersion() < 6;
        EXPECT_EQ(handsOver ? S_OK : E_NOTIMPL, hr);
        EXPECT_EQ(handsOver ? 1 : 0, moniker.displayNameCalls);
        EXPECT_EQ(handsOver ? 1u : 0u, agent.Records().size());
        std::printf("[ windows  ] %lu.%lu: Download answers %s, the moniker was read %d times\n",
                    static_cast<unsigned long>(ReportedMajorVersion()),
                    static_cast<unsigned long>(ReportedMinorVersion()),
                    hr == S_OK        ? "S_OK"
                    : hr == E_NOTIMPL ? "E_NOTIMPL"
                                      : "another result",
                    moniker.displayNameCalls);
    }
    OleUninitialize();
}

// The helper in the real control and the download manager's requests, in a
// copy of this executable to which Wine reports each Windows in turn.
TEST(EachWindows, HelperAndDownloadManagerRunInTheRealControl) {
    for (const WindowsVersion* version :
         {&kWindowsXp, &kWindowsServer2003, &kWindowsVista, &kWindows7, &kWindows10}) {
        const CopyReport report =
            RunCasesAsWindows(*version, std::string("control_") + version->wineName + ".exe",
                              "WebBrowserControl.*:DllDownloadManager.*");
        EXPECT_TRUE(CopyRanItsCases(report, version));
    }
}

}  // namespace
