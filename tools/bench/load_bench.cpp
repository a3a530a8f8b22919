// What the browser waits for each time a tab opens: from LoadLibrary of the
// DLL to a sited helper (DllGetClassObject, CreateInstance, SetSite on the
// platform's WebBrowser control), beside a minimal in-process class that does
// the same (load_floor.dll). Cold is the first time in a process, each sample
// a process of its own; warm is with the DLL already loaded.
//   load_bench OURS.dll FLOOR.dll [cold samples] [warm rounds]   (Unix paths)
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "tools/support/process.h"
#include "tools/support/client_site.h"
#include "tools/support/wine_paths.h"
#include "tools/bench/bench_figures.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The platform's WebBrowser control, ready to site helpers.
ComPtr<IWebBrowser2> MakeControl() {
    ComPtr<IWebBrowser2> control;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IWebBrowser2,
                                control.ReceiveVoid())) ||
        FAILED(GiveClientSite(control.Get())))
        control.Reset();
    return control;
}

// Microseconds from LoadLibrary to a helper of `dll` sited in `control`, or a
// negative figure when a step failed. Hands back the module and the helper.
double LoadAndSite(const std::string& dll, IWebBrowser2* control, HMODULE& module,
                   ComPtr<IObjectWithSite>& helper) {
    HRESULT hr = E_FAIL;
    const double micros = TimeOnce([&] {
        module = LoadLibraryA(dll.c_str());
        if (module == nullptr)
            return;
        auto getClassObject = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        ComPtr<IClassFactory> factory;
        if (getClassObject == nullptr ||
            FAILED(getClassObject(CLSID_WebCorvaneIEHelper, IID_IClassFactory,
                                  factory.ReceiveVoid())) ||
            FAILED(factory->CreateInstance(nullptr, IID_ObjectWithSite, helper.ReceiveVoid())))
            return;
        hr = helper->SetSite(control);
    });
    return SUCCEEDED(hr) ? micros : -1;
}

// As the browser ends a tab: OnQuit, the last reference, the DLL's release.
void TakeDown(HMODULE module, ComPtr<IObjectWithSite>& helper) {
    ComPtr<IDispatch> sink;
    if (SUCCEEDED(sink.QueryFrom(helper.Get(), IID_IDispatch))) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        sink->Invoke(DISPID_ONQUIT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    }
    sink.Reset();
    helper.Reset();
    if (module != nullptr)
        FreeLibrary(module);
}

// One cold sample in this process, written to `resultFile`.
int ColdSample(const std::string& dll, const std::string& resultFile) {
    OleInitialize(nullptr);
    int status = 1;
    {
        ComPtr<IWebBrowser2> control = MakeControl();
        HMODULE module = nullptr;
        ComPtr<IObjectWithSite> helper;
        const double micros = control ? LoadAndSite(dll, control.Get(), module, helper) : -1;
        if (FILE* file = std::fopen(resultFile.c_str(), "a")) {
            std::fprintf(file, "%.1f\n", micros);
            std::fclose(file);
            status = micros < 0 ? 1 : 0;
        }
        TakeDown(module, helper);
    }
    OleUninitialize();
    return status;
}

std::vector<double> ColdSamples(const std::string& dll, int samples) {
    const std::string results = SelfPath() + ".cold";
    DeleteFileA(results.c_str());
    for (int i = 0; i < samples; ++i)
        RunProcess(SelfPath(), "--cold \"" + dll + "\" \"" + results + "\"");
    std::vector<double> micros;
    if (FILE* file = std::fopen(results.c_str(), "r")) {
        double value = 0;
        while (std::fscanf(file, "%lf", &value) == 1) {
            if (value >= 0)
                micros.push_back(value);
        }
        std::fclose(file);
    }
    DeleteFileA(results.c_str());
    return micros;
}

std::vector<double> WarmSamples(const std::string& dll, IWebBrowser2* control, int rounds) {
    // Held for the whole loop, so that every round finds the DLL loaded.
    HMODULE hold = LoadLibraryA(dll.c_str());
    std::vector<double> micros;
    for (int i = 0; i < rounds && hold != nullptr; ++i) {
        HMODULE module = nullptr;
        ComPtr<IObjectWithSite> helper;
        const double sample = LoadAndSite(dll, control, module, helper);
        TakeDown(module, helper);
        if (sample >= 0)
            micros.push_back(sample);
    }
    if (hold != nullptr)
        FreeLibrary(hold);
    return micros;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--cold")
        return ColdSample(argv[2], argv[3]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: load_bench OURS.dll FLOOR.dll [cold samples] [warm rounds]\n");
        return 2;
    }
    const std::string dlls[] = {FromUnixPath(argv[2]), FromUnixPath(argv[1])};
    const char* const names[] = {"floor (load_floor.dll)", "WebCorvaneBHO.dll"};
    const int coldSamples = argc > 3 ? std::max(3, std::atoi(argv[3])) : 20;
    const int warmRounds = argc > 4 ? std::max(10, std::atoi(argv[4])) : 200;

    std::printf("%-32s %8s %10s %10s %8s\n", "LoadLibrary to a sited helper", "samples",
                "median us", "p90 us", "ratio");
    int status = 0;
    Figures floor[2];
    for (int warm = 0; warm < 2; ++warm) {
        OleInitialize(nullptr);
        {
            ComPtr<IWebBrowser2> control = MakeControl();
            for (int which = 0; which < 2; ++which) {
                const std::vector<double> samples =
                    warm ? WarmSamples(dlls[which], control.Get(), warmRounds)
                         : ColdSamples(dlls[which], coldSamples);
                const Figures f = Summarise(samples);
                if (which == 0)
                    floor[warm] = f;
                if (samples.empty())
                    status = 1;
                std::printf("%-32s %8zu %10.1f %10.1f %8.2f\n",
                            (std::string(warm ? "warm: " : "cold: ") + names[which]).c_str(),
                            samples.size(), f.median, f.p90,
                            floor[warm].median > 0 ? f.median / floor[warm].median : 0.0);
            }
        }
        OleUninitialize();
    }
    return status;
}
