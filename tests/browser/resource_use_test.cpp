// A browser creates, sites and releases helper objects and download managers
// for every window and every download of a long session: none of that may
// leave handles or memory behind.
#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "tools/support/event_args.h"
#include "tests/support/fake_browser.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/test_copy.h"

#include <exdispid.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID*);
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

namespace {

struct Usage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// Wine's GetProcessHandleCount answers 0. Every handle value is a multiple of
// 4 that GetHandleInformation accepts, so the open handles can be counted by
// asking about each value in turn, up to a long run of values not in use.
DWORD CountHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    constexpr ULONG_PTR kStep = 4;
    constexpr ULONG_PTR kGapEnd = 16384 * kStep;  // far beyond any hole Wine leaves
    ULONG_PTR lastOpen = 0;
    for (ULONG_PTR value = kStep; value - lastOpen < kGapEnd; value += kStep) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            lastOpen = value;
        }
    }
    return count;
}

Usage Measure() {
    Usage usage;
    usage.handles = CountHandles();
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    // Wine leaves PrivateUsage at zero; its PagefileUsage counts the same
    // committed private memory.
    usage.privateBytes =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return usage;
}

template <typename T>
HRESULT Create(REFCLSID classId, REFIID iid, T** object) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = DllGetClassObject(classId, IID_IClassFactory, factory.ReceiveVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object));
}

// One window's life: created, sited, a few events, gone. Answers whether
// every step answered as it should.
bool OneHelperLife() {
    ComPtr<FakeBrowser> browser = MakeFake<FakeBrowser>(L"about:page");
    browser->hasConnectionPoints = true;
    ComPtr<FakeSite> site = MakeFake<FakeSite>(browser->AsBrowser());
    ComPtr<IObjectWithSite> helper;
    if (FAILED(Create(CLSID_WebCorvaneIEHelper, IID_ObjectWithSite, helper.Receive())))
        return false;
    if (helper->SetSite(site.Get()) != S_OK)
        return false;
    std::unique_ptr<BrowserEventArgs> events[] = {
        std::unique_ptr<BrowserEventArgs>(BrowserEventArgs::BeforeNavigate2(L"about:blank")),
        std::unique_ptr<BrowserEventArgs>(BrowserEventArgs::NewWindow2()),
        std::unique_ptr<BrowserEventArgs>(
            BrowserEventArgs::NewWindow3(L"gopher://host/a.zip", L"about:page")),
    };
    const DISPID ids[] = {DISPID_BEFORENAVIGATE2, DISPID_NEWWINDOW2, DISPID_NEWWINDOW3};
    for (int i = 0; i < 3; ++i) {
        if (browser->Events().Fire(ids[i], events[i]->Params()) != S_OK)
            return false;
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    browser->Events().Fire(DISPID_DOCUMENTCOMPLETE, &none);
    browser->Events().Fire(DISPID_QUIT, &none);
    helper.Reset();
    site.Reset();
    return browser->Events().connections.empty() && browser->RefCount() == 1;
}

// One download request, declined: at once where Windows reports 6 or later;
// on XP after the moniker's name, the cookie lookup and the policy, which
// refuses the scheme or the extension.
bool OneDownloadManagerLife(int round) {
    ComPtr<IDownloadManager> manager;
    if (FAILED(Create(CLSID_VDownloadManager, IID_DownloadManagerInterface, manager.Receive())))
        return false;
    FakeMoniker moniker(FakeMoniker::kName,
                        round % 2 ? L"gopher://host/file.zip" : L"http://host/page.html");
    const HRESULT hr =
        manager->Download(&moniker, nullptr, 0, 0, nullptr, L"Accept: */*\r\n", nullptr, 0);
    manager.Reset();
    const int expectedNameCalls = ReportedMajorVersion() < 6 ? 1 : 0;
    return hr == E_NOTIMPL && moniker.refs == 1 && moniker.displayNameCalls == expectedNameCalls;
}

TEST(ResourceUse, CreateSiteFireReleaseLeavesNoHandlesOrMemory) {
    constexpr int kWarmUp = 200;
    constexpr int kRounds = 2000;
    CoInitialize(nullptr);
    const LONG liveBefore = liveObjectCount;

    for (int i = 0; i < kWarmUp; ++i) {
        ASSERT_TRUE(OneHelperLife());
        ASSERT_TRUE(OneDownloadManagerLife(i));
    }
    const Usage start = Measure();
    int failed = 0;
    for (int i = 0; i < kRounds; ++i) {
        failed += !OneHelperLife();
        failed += !OneDownloadManagerLife(i);
    }
    const Usage end = Measure();

    EXPECT_EQ(0, failed);
    EXPECT_EQ(liveBefore, liveObjectCount);
    if (liveBefore == 0) {
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }
    const long long handleGrowth = static_cast<long long>(end.handles) - start.handles;
    const long long byteGrowth =
        static_cast<long long>(end.privateBytes) - static_cast<long long>(start.privateBytes);
    std::printf(
        "[ resource ] %d rounds of helper + download manager (Windows %lu): handles %lu -> %lu "
        "(%+lld), "
        "private bytes %lu -> %lu (%+lld)\n",
        kRounds, static_cast<unsigned long>(ReportedMajorVersion()),
        static_cast<unsigned long>(start.handles), static_cast<unsigned long>(end.handles),
        handleGrowth, static_cast<unsigned long>(start.privateBytes),
        static_cast<unsigned long>(end.privateBytes), byteGrowth);
    ASSERT_NE(0u, start.privateBytes) << "the memory counters are not available";
    ASSERT_NE(0u, start.handles) << "the handles could not be counted";
    EXPECT_LT(handleGrowth, 20);
    EXPECT_LT(byteGrowth, 256 * 1024);
    CoUninitialize();
}

}  // namespace
