// What the helper object adds to a navigation event, side by side in one run:
// the floor (Invoke of a sink that does nothing), then BeforeNavigate2 with a
// refused scheme, with "?", with an ordinary page (the policy reads the
// configuration twice and refuses) and a hand-off to a running agent. Then
// the ordinary page beside the two profile reads that the policy must make
// for it, without "UserConfig.ini" beside this program and with one.
//   event_bench [rounds]      (the reference agent must be registered)
#include "browser/ie_helper.h"
#include "common/com_ptr.h"
#include "common/string_conversion.h"
#include "handoff/handoff_policy.h"
#include "handoff/url_policy.h"

#include "tools/support/event_args.h"
#include "tools/bench/bench_figures.h"

#include <exdispid.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download_agent.h"

namespace {

// A sink that answers every event at once: what any event costs at least.
class NullSink : public IDispatch {
  public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_FAIL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return S_OK; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return S_OK;
    }
};

// Microseconds per event over `rounds` events, each on fresh arguments.
Figures Measure(IDispatch* sink, const std::wstring& url, int rounds) {
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        std::unique_ptr<BrowserEventArgs> args(BrowserEventArgs::BeforeNavigate2(url));
        samples.push_back(TimeOnce([&] {
            sink->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, args->Params(),
                         nullptr, nullptr, nullptr);
        }));
    }
    return Summarise(std::move(samples));
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    CoInitialize(nullptr);

    // Keep one agent object so that its process stays up: the figure is the
    // hand-off to an agent that is already running.
    CLSID agentClass;
    ComPtr<IUnknown> keepAlive;
    if (SUCCEEDED(CLSIDFromProgID(L"CorvaneServer.WebCorvane.1", &agentClass))) {
        CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDownloadAgent,
                         keepAlive.ReceiveVoid());
    }

    std::wstring hugeQueryUrl = L"http://host/get?f=";
    hugeQueryUrl.append(1024 * 1024, L'a');
    NullSink floorSink;
    WebCorvaneIEHelper* helper = new WebCorvaneIEHelper();
    IDispatch* ours = static_cast<IWebCorvaneIEHelper*>(helper);

    struct Row {
        const char* name;
        IDispatch* sink;
        std::wstring url;
        int rounds;
    } rows[] = {
        {"floor: a sink that does nothing", &floorSink, L"http://host/a.zip", rounds},
        {"refused scheme (about:)", ours, L"about:blank", rounds},
        {"URL with \"?\"", ours, L"http://host/get?f=a.zip", rounds},
        {"URL with \"?\", 1 MB", ours, hugeQueryUrl, std::max(10, rounds / 20)},
        {"ordinary page (profile x2)", ours, L"http://host/page.html", rounds},
        {"hand-off to a running agent", ours, L"http://host/file.zip", std::max(10, rounds / 20)},
    };
    if (!keepAlive)
        std::printf("(no agent registered: the last row measures a refusal)\n");
    std::printf("%-36s %10s %10s %10s %8s\n", "BeforeNavigate2", "events", "median us", "p90 us",
                "ratio");
    double floor = 0;
    for (const Row& row : rows) {
        // Each row's URL is new to the intercept state at every event, so no
        // earlier event suppresses it.
        const Figures f = Measure(row.sink, row.url, row.rounds);
        if (row.sink == &floorSink)
            floor = f.median > 0 ? f.median : 1e-3;
        std::printf("%-36s %10d %10.2f %10.2f %8.1f\n", row.name, row.rounds, f.median, f.p90,
                    f.median / floor);
    }

    // The ordinary page's event beside the two profile reads the policy must
    // make for it, round by round so that both meet the same machine: what
    // the event costs beyond them is this library's own work. A present file
    // costs the reads about three times what a missing one does.
    std::wstring configuration;
    if (!ConfigurationPath(configuration)) {
        std::fprintf(stderr, "event_bench: no configuration path\n");
        return 1;
    }
    const std::string settings =
        std::string("MonitorIE=1\r\nExtendNames=") + kDefaultExtensionList + "\r\n";
    const std::wstring pageUrl = L"http://host/page.html";
    volatile size_t sink = 0;
    const auto readProfile = [&] {
        sink += IsSwitchOn(ReadMonitorValue(configuration));
        sink += ReadExtensionList(configuration).size();
    };
    std::printf("\nordinary page beside its two profile reads, interleaved:\n");
    std::printf("%-36s %10s %10s %10s %8s\n", "UserConfig.ini", "events", "event us", "reads us",
                "ratio");
    for (const bool present : {false, true}) {
        DeleteFileW(configuration.c_str());
        if (present)
            WritePrivateProfileSectionW(L"Monitor", Utf8ToWide(settings).c_str(),
                                        configuration.c_str());
        std::vector<double> event, reads;
        for (int i = 0; i < rounds; ++i) {
            std::unique_ptr<BrowserEventArgs> args(BrowserEventArgs::BeforeNavigate2(pageUrl));
            event.push_back(TimeOnce([&] {
                ours->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, args->Params(),
                             nullptr, nullptr, nullptr);
            }));
            reads.push_back(TimeOnce(readProfile));
        }
        const double e = Summarise(event).median;
        const double r = Summarise(reads).median;
        std::printf("%-36s %10d %10.2f %10.2f %8.2f\n", present ? "present" : "absent", rounds, e,
                    r, r > 0 ? e / r : 0.0);
    }
    DeleteFileW(configuration.c_str());

    ours->Release();
    keepAlive.Reset();
    CoUninitialize();
    return 0;
}
