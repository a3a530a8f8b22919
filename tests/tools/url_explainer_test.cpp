// The URL explainer: its reasons for the policy's own edge cases, and its
// verdicts against what the DLL itself does with the same links and the same
// "UserConfig.ini".
#include "tools/url_explainer/explain.h"

#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"
#include "tests/support/scratch_dir.h"
#include "tools/support/event_args.h"
#include "tools/support/process.h"
#include "tools/support/wine_paths.h"
#include "tools/url_explainer/list_lint.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

const char* const kUrls[] = {
    "http://host/a.zip",        "HTTP://HOST/FILE.ZIP", "http://host/download",
    "http://10.0.0.1/download", "http://10.0.0.1",      "http://host/file.zip#top",
    "http://host/a.tar.gz",     "rtspu://host/a.rm",    "corvane://host/page",
    "CORVANE://HOST/X.HTML",    "file:///c:/a.zip",     "mailto:a@b.zip",
    "http://host/page.html",    "ftp://host/a.ISO",     "https://host/a.mp3",
};

TEST(UrlExplainer, GivesTheReasonOfEachStep) {
    ScopedConfigFile config(SelfDirectory());
    struct Case {
        const char* url;
        bool handedOver;
        const char* says;
    } cases[] = {
        {"HTTP://host/FILE.ZIP", true, "candidate: \".zip;\""},
        {"http://host/download", false, "no \".\""},
        {"http://10.0.0.1/download", false, "before the last \"/\""},
        {"http://host/file.zip#top", false, "candidate: \".zip#top;\""},
        {"file:///c:/a.zip", false, "no file read"},
        {"corvane://x", true, "whatever the list says"},
        {"http://host/a.123456789012345678901", false, "longer than 20"},
        {"http://host/get?f=a.zip", true, "never offer it"},
    };
    for (const Case& c : cases) {
        const Explanation e = ExplainUrl(c.url);
        EXPECT_EQ(c.handedOver, e.handedOver) << e.text;
        EXPECT_NE(std::string::npos, e.text.find(c.says)) << e.text;
        const bool readNothing = e.text.find("no file read") != std::string::npos;
        EXPECT_EQ(!readNothing, e.text.find("(absent: defaults apply)") != std::string::npos)
            << e.text;
    }
    // The browsers' road: the proposed file name's extension, no rule about "?".
    struct Download {
        const char* fileName;
        const char* url;
        bool handedOver;
        const char* says;
    } const downloads[] = {
        {"a.zip", "http://host/download.php?file=a.zip", true,
         "candidate: \".zip;\" (from the file name)"},
        {"report.pdf", "http://host/a.zip", false, "candidate: \".pdf;\" (from the file name)"},
        {"", "http://host/get?f=a.zip", true, "none proposed: the URL's extension counts"},
        {"setup", "http://host/setup.exe", false, "the file name has no \".\""},
        {"a.zip", "blob:http://host/7c1e", false, "no file read"},
        {"a.zip", "data:application/zip;base64,UEsF", false, "no file read"},
        {"a.zip", "corvane://host/page", true, "whatever the list says"},
    };
    for (const Download& d : downloads) {
        const Explanation e = ExplainDownload(d.fileName, d.url);
        EXPECT_EQ(d.handedOver, e.handedOver) << e.text;
        EXPECT_NE(std::string::npos, e.text.find(d.says)) << e.text;
        EXPECT_EQ(std::string::npos, e.text.find("never offer it")) << e.text;
    }

    // Each road reads its own switch.
    config.WriteMonitor("MonitorIE=0\nMonitorBrowsers=1");
    const Explanation off = ExplainUrl("corvane://x");
    EXPECT_FALSE(off.handedOver);
    EXPECT_NE(std::string::npos, off.text.find("switch: MonitorIE off (from the file)"));
    const Explanation browsersOn = ExplainDownload("a.zip", "http://host/a");
    EXPECT_TRUE(browsersOn.handedOver) << browsersOn.text;
    EXPECT_NE(std::string::npos, browsersOn.text.find("switch: MonitorBrowsers on (from the file)"))
        << browsersOn.text;
    config.WriteMonitor("MonitorBrowsers=2");
    const Explanation browsersOff = ExplainDownload("a.zip", "http://host/a.zip");
    EXPECT_FALSE(browsersOff.handedOver) << browsersOff.text;
    EXPECT_NE(std::string::npos,
              browsersOff.text.find("switch: MonitorBrowsers off (from the file)"))
        << browsersOff.text;
    EXPECT_TRUE(ExplainUrl("http://host/a.zip").handedOver);

    // A refusal names the entry that almost took the URL.
    config.WriteMonitor("ExtendNames=.ZIP;.rar");
    for (const auto& c : {std::make_pair("http://host/a.zip",
                                         "\".ZIP\" would take it but for its "
                                         "capitals: write it \".zip;\""),
                          std::make_pair("http://host/a.rar",
                                         "\".rar\" would take it but for its "
                                         "missing closing semicolon")}) {
        const Explanation e = ExplainUrl(c.first);
        EXPECT_FALSE(e.handedOver) << e.text;
        EXPECT_NE(std::string::npos, e.text.find(c.second)) << e.text;
    }

    // The entry the list rules call the first one cut off is where the
    // platform's read of the list ends.
    std::string list;
    for (int i = 0; i < 203; ++i)
        list += ".aaa;";
    list += ".b;.cut;.gone;";  // ".cut;" ends at the 1023rd character
    config.WriteMonitor("ExtendNames=" + list);
    std::string cut;
    for (const ListMistake& m : LintExtensionList(list))
        cut += m.kind == ListMistake::kPastReadLimit ? m.entry : "";
    EXPECT_EQ(".gone", cut);
    EXPECT_TRUE(ExplainUrl("http://host/a.cut").handedOver);
    EXPECT_FALSE(ExplainUrl("http://host/a.gone").handedOver);
}

// The DLL, loaded from `dll`, decides through its helper object: with the
// agent accepting, Cancel 1 exactly when it handed the URL over.
bool DllHandsOver(HMODULE dll, const char* url) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    if (get == nullptr ||
        FAILED(get(CLSID_WebCorvaneIEHelper, IID_IClassFactory, factory.ReceiveVoid()))) {
        ADD_FAILURE() << "no class object";
        return false;
    }
    ComPtr<IDispatch> helper;
    factory->CreateInstance(nullptr, IID_IDispatch, helper.ReceiveVoid());
    const std::wstring wide(url, url + std::strlen(url));
    std::unique_ptr<BrowserEventArgs> args(BrowserEventArgs::BeforeNavigate2(wide));
    helper->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, args->Params(), nullptr,
                   nullptr, nullptr);
    return args->cancel == 1;
}

TEST(UrlExplainer, AgreesWithTheDll) {
    CoInitialize(nullptr);
    {
        AgentSession agent;
        agent.SetAnswer(L"1");
        // Every hand-off meets an agent already running: a fresh start for
        // each would take a second, and longer than the offer's bound on a
        // loaded machine, which declines it.
        RunningAgent running;
        ASSERT_TRUE(running.Running());
        ScratchDir dir("explainer");
        ASSERT_TRUE(CopyFileA(FromUnixPath(WEBCORVANE_DLL_PATH).c_str(),
                              dir.Sub("WebCorvaneBHO.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(FromUnixPath(URL_EXPLAINER_PATH).c_str(),
                              dir.Sub("url_explainer.exe").c_str(), FALSE));
        HMODULE dll = LoadLibraryA(dir.Sub("WebCorvaneBHO.dll").c_str());
        ASSERT_NE(nullptr, dll);
        ScopedConfigFile config(dir.Path() + "\\");
        for (const char* settings : {"", "ExtendNames=.html;.gz;", "MonitorIE=2"}) {
            config.WriteMonitor(settings);
            for (const char* url : kUrls) {
                const int exitCode =
                    RunProcess(dir.Sub("url_explainer.exe"), std::string("\"") + url + "\"");
                EXPECT_EQ(DllHandsOver(dll, url), exitCode == 0) << url << " with " << settings;
            }
        }
        FreeLibrary(dll);
    }
    CoUninitialize();
}

}  // namespace
