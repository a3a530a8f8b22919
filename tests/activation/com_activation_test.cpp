// Both classes through the platform's own activation: a copy of the built DLL
// is registered in the prefix's real registry (COM's look-ups ignore a
// redirected one), created with CoCreateInstance and CoGetClassObject, and
// asked through the module COM loaded whether it can be unloaded; and the
// helper as a web page's script host reaches it.
#include "common/com_ptr.h"
#include "handoff/offer_bound.h"
#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"
#include "tests/support/posted_action.h"
#include "tools/support/event_args.h"
#include "tests/support/test_copy.h"
#include "tools/support/wine_paths.h"

#include <windows.h>
#include <downloadmgr.h>
#include <exdispid.h>
#include <objbase.h>
#include <objsafe.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

namespace {

using Entry = HRESULT(STDAPICALLTYPE*)();

struct ClassCase {
    const char* name;
    const char* clsidText;
};
const ClassCase kClasses[] = {
    {"WebCorvaneIEHelper", "{00000AAA-A363-466E-BEF5-9BB68697AA7F}"},
    {"VDownloadManager", "{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}"},
};

CLSID ClassId(const ClassCase& c) {
    CLSID clsid = {};
    const std::wstring text(c.clsidText, c.clsidText + std::string(c.clsidText).size());
    CLSIDFromString(const_cast<LPOLESTR>(text.c_str()), &clsid);
    return clsid;
}

HRESULT CallExport(HMODULE module, const char* name) {
    auto fn = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr ? fn() : E_POINTER;
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
}

// The default value of "HKCR\CLSID\{...}\InprocServer32" as COM reads it.
std::string RegisteredServer(const ClassCase& c) {
    const std::string key = std::string("CLSID\\") + c.clsidText + "\\InprocServer32";
    char data[MAX_PATH] = {};
    DWORD size = sizeof(data);
    if (SHGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return "<not registered>";
    return data;
}

class ComActivation : public testing::Test {
  protected:
    // One registered copy for the whole suite, in a folder of its own, so the
    // module COM loads can be told apart from the build's DLL.
    // A copy of this executable (another Windows) uses its parent's.
    static void SetUpTestSuite() {
        const std::string folder = SelfDirectory() + "registered";
        copy_ = folder + "\\WebCorvaneBHO.dll";
        if (RunsAsCopy()) {
            registered_ = GetFileAttributesA(copy_.c_str()) != INVALID_FILE_ATTRIBUTES;
            return;
        }
        CreateDirectoryA(folder.c_str(), nullptr);
        registered_ = CopyFileA(FromUnixPath(WEBCORVANE_DLL_PATH).c_str(), copy_.c_str(), FALSE) &&
                      CallOnCopy("DllRegisterServer") == S_OK;
    }
    static void TearDownTestSuite() {
        if (RunsAsCopy())
            return;
        CallOnCopy("DllUnregisterServer");
        DeleteFileA(copy_.c_str());
        RemoveDirectoryA((SelfDirectory() + "registered").c_str());
    }
    static HRESULT CallOnCopy(const char* name) {
        HMODULE module = LoadLibraryA(copy_.c_str());
        if (module == nullptr)
            return E_FAIL;
        const HRESULT hr = CallExport(module, name);
        FreeLibrary(module);
        return hr;
    }

    void SetUp() override {
        ASSERT_TRUE(registered_) << "could not copy and register " << copy_;
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        // Each case starts with the library not loaded, so COM must load it.
        ASSERT_EQ(nullptr, GetModuleHandleA(copy_.c_str()));
    }
    void TearDown() override { CoUninitialize(); }

    // The loaded module of the registered copy: the one COM loaded from the
    // InprocServer32 path, and no other file.
    HMODULE LoadedCopy(const ClassCase& c) {
        HMODULE module = GetModuleHandleA(copy_.c_str());
        EXPECT_NE(nullptr, module) << "COM did not load " << copy_;
        if (module != nullptr) {
            EXPECT_EQ(0, lstrcmpiA(RegisteredServer(c).c_str(), ModulePath(module).c_str()));
            EXPECT_EQ(0, lstrcmpiA(copy_.c_str(), ModulePath(module).c_str()));
        }
        return module;
    }

    // After the last release the library says it may go, and COM frees it;
    // the idle offer worker told to end lets go of it as its thread ends.
    void ExpectUnloadable(HMODULE module) {
        EXPECT_EQ(S_OK, CallExport(module, "DllCanUnloadNow"));
        CoFreeUnusedLibrariesEx(0, 0);
        for (const DWORD start = GetTickCount();
             GetModuleHandleA(copy_.c_str()) != nullptr && GetTickCount() - start < 5000;)
            Sleep(10);
        EXPECT_EQ(nullptr, GetModuleHandleA(copy_.c_str()));
    }

    static std::string copy_;
    static bool registered_;
};

std::string ComActivation::copy_;
bool ComActivation::registered_ = false;

TEST_F(ComActivation, CreateInstanceLoadsTheRegisteredCopyAndItStaysWhileTheObjectLives) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        IUnknown* object = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(ClassId(c), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&object)));
        HMODULE module = LoadedCopy(c);
        ASSERT_NE(nullptr, module);
        // Asserted: were it S_OK, COM would unload the code the object runs.
        ASSERT_EQ(S_FALSE, CallExport(module, "DllCanUnloadNow"));
        // Not unloaded while the object lives, however COM is asked.
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(module, GetModuleHandleA(copy_.c_str()));

        object->Release();
        ExpectUnloadable(module);
    }
}

TEST_F(ComActivation, ClassObjectAloneKeepsTheLibraryThenItsObjectDoes) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(S_OK, CoGetClassObject(ClassId(c), CLSCTX_INPROC_SERVER, nullptr,
                                         IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        HMODULE module = LoadedCopy(c);
        ASSERT_NE(nullptr, module);
        EXPECT_EQ(S_FALSE, CallExport(module, "DllCanUnloadNow"));

        IUnknown* object = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown,
                                                reinterpret_cast<void**>(&object)));
        factory->Release();
        EXPECT_EQ(S_FALSE, CallExport(module, "DllCanUnloadNow"));

        object->Release();
        ExpectUnloadable(module);
    }
}

// The class is registered with a "Control" key, so a page may create it by
// its ProgID and script it: ask for members by name, then Invoke what came
// back. No name reaches a member, and nothing the page passes, however it is
// shaped, reaches the agent.
TEST_F(ComActivation, ScriptHostReachesNoMemberByName) {
    AgentSession agent;
    agent.SetAnswer(L"1");
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"WebCorvaneBHO.WebCorvaneIEHelper", &clsid));
    ComPtr<IDispatch> script;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     script.ReceiveVoid()));
    HMODULE module = LoadedCopy(kClasses[0]);

    ComPtr<IObjectSafety> safety;
    ASSERT_EQ(S_OK, safety.QueryFrom(script.Get(), IID_IObjectSafety));
    DWORD supported = 7, enabled = 7;
    EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    UINT typeInfoCount = 7;
    EXPECT_EQ(S_OK, script->GetTypeInfoCount(&typeInfoCount));
    EXPECT_EQ(0u, typeInfoCount);

    // What the host's identifier variables held before the call: the events'
    // own DISPIDs, the worst a stray value could be.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"AddTask"), const_cast<LPOLESTR>(L"Navigate"),
                        const_cast<LPOLESTR>(L"OnQuit"), const_cast<LPOLESTR>(L"")};
    DISPID ids[] = {DISPID_BEFORENAVIGATE2, DISPID_NEWWINDOW2, DISPID_NEWWINDOW3,
                    DISPID_BEFORENAVIGATE2};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(DISP_E_UNKNOWNNAME,
                  script->GetIDsOfNames(IID_NULL, &names[i], 1, LOCALE_USER_DEFAULT, &ids[i]))
            << i;
        EXPECT_EQ(DISPID_UNKNOWN, ids[i]) << i;
    }
    for (DISPID id : {DISPID(DISPID_VALUE), ids[0], ids[1], ids[2], ids[3]}) {
        std::unique_ptr<BrowserEventArgs> args(
            BrowserEventArgs::BeforeNavigate2(L"http://host/scripted.zip"));
        EXPECT_EQ(S_OK, script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                       args->Params(), nullptr, nullptr, nullptr));
        EXPECT_EQ(BrowserEventArgs::kUntouched, args->cancel) << id;
    }
    EXPECT_TRUE(agent.Records().empty());

    safety.Reset();
    script.Reset();
    if (module != nullptr)
        ExpectUnloadable(module);
}

// What the library said while the browser let go of its object in a call.
// A download request as the browser makes one: a URL moniker and a bind
// context.
struct DownloadRequest {
    explicit DownloadRequest(const wchar_t* url) {
        made = SUCCEEDED(CreateURLMonikerEx(nullptr, url, moniker.Receive(), URL_MK_UNIFORM)) &&
               SUCCEEDED(CreateBindCtx(0, bindContext.Receive()));
    }
    ComPtr<IMoniker> moniker;
    ComPtr<IBindCtx> bindContext;
    bool made = false;
};

struct TabClosed {
    bool ran = false;
    HRESULT canUnloadDuringCall = E_FAIL;
    bool loadedAfterFree = false;
};

// Makes `call` on `object`; a quarter of a second into it (the agent answers
// after a second) the tab closes: the last reference goes and COM is asked to
// free unused libraries, among them the one of `module`.
template <typename Interface, typename Call>
TabClosed CloseTabDuring(ComPtr<Interface>& object, HMODULE module, const std::string& path,
                         Call&& call) {
    TabClosed closed;
    Interface* raw = object.Get();
    PostedAction closeTab(250, [&] {
        object.Reset();
        closed.canUnloadDuringCall = CallExport(module, "DllCanUnloadNow");
        CoFreeUnusedLibrariesEx(0, 0);
        closed.loadedAfterFree = GetModuleHandleA(path.c_str()) != nullptr;
    });
    call(raw);
    closed.ran = closeTab.Ran();
    return closed;
}

// The browser releases the helper, its last reference, and asks COM to free
// unused libraries while the helper's call still waits for the agent: the
// call returns into code that is still there, writes the agent's answer, and
// only then may the DLL go.
TEST_F(ComActivation, ReleasedUnderARunningCallTheHelperAndItsDllStayUntilItReturns) {
    AgentSession agent;
    agent.SetAnswer(L"slow:1000:1");
    ComPtr<IDispatch> helper;
    ASSERT_EQ(S_OK, CoCreateInstance(ClassId(kClasses[0]), nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDispatch, helper.ReceiveVoid()));
    HMODULE module = LoadedCopy(kClasses[0]);
    ASSERT_NE(nullptr, module);

    std::unique_ptr<BrowserEventArgs> args(
        BrowserEventArgs::BeforeNavigate2(L"http://host/closing-tab.zip"));
    const TabClosed closed = CloseTabDuring(helper, module, copy_, [&](IDispatch* raw) {
        EXPECT_EQ(S_OK, raw->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD,
                                    args->Params(), nullptr, nullptr, nullptr));
    });
    ASSERT_TRUE(closed.ran) << "the message was not dispatched during the call";
    EXPECT_EQ(S_FALSE, closed.canUnloadDuringCall);
    EXPECT_TRUE(closed.loadedAfterFree);
    EXPECT_EQ(1, args->cancel);
    EXPECT_EQ(1u, agent.Records().size());
    ExpectUnloadable(module);
}

// The same for a download request, which reaches the agent only where
// Windows reports a major version below 6: in a copy told Windows XP.
TEST_F(ComActivation, ReleasedUnderARunningDownloadTheManagerAndItsDllStayUntilItReturns) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in the copy that reports Windows XP";
    AgentSession agent;
    agent.SetAnswer(L"slow:1000:1");
    ComPtr<IDownloadManager> manager;
    ASSERT_EQ(S_OK, CoCreateInstance(ClassId(kClasses[1]), nullptr, CLSCTX_INPROC_SERVER,
                                     __uuidof(IDownloadManager), manager.ReceiveVoid()));
    HMODULE module = LoadedCopy(kClasses[1]);
    ASSERT_NE(nullptr, module);
    const DownloadRequest request(L"http://host/closing-tab-download.zip");
    ASSERT_TRUE(request.made);

    const TabClosed closed = CloseTabDuring(manager, module, copy_, [&](IDownloadManager* raw) {
        EXPECT_EQ(S_OK, raw->Download(request.moniker.Get(), request.bindContext.Get(), 0, 0,
                                      nullptr, nullptr, nullptr, 0));
    });
    ASSERT_TRUE(closed.ran) << "the message was not delivered during the call";
    EXPECT_EQ(S_FALSE, closed.canUnloadDuringCall);
    EXPECT_TRUE(closed.loadedAfterFree);
    EXPECT_EQ(1u, agent.Records().size());
    ExpectUnloadable(module);
}

// An agent that answers only after twice the bound: the browser's call
// returns at the bound, the offer declined; the DLL stays while the offer
// runs on, and goes once the late answer has come.
const std::wstring kStalledAnswer = L"slow:" + std::to_wstring(2 * kOfferBoundMs) + L":1";

struct Stalled {
    DWORD returnedMs = 0;
    HRESULT canUnloadOnReturn = E_FAIL;
    DWORD offerEndedMs = 0;
    bool unloaded = false;
};

template <typename Call>
Stalled StallThrough(HMODULE module, const std::string& path, Call&& call) {
    Stalled stalled;
    const DWORD start = GetTickCount();
    call();
    stalled.returnedMs = GetTickCount() - start;
    stalled.canUnloadOnReturn = CallExport(module, "DllCanUnloadNow");
    const auto waited = [start] { return GetTickCount() - start < 4 * kOfferBoundMs; };
    while (CallExport(module, "DllCanUnloadNow") != S_OK && waited())
        Sleep(20);
    stalled.offerEndedMs = GetTickCount() - start;
    CoFreeUnusedLibrariesEx(0, 0);
    // The offer's thread lets go of the module on its very way out.
    while (GetModuleHandleA(path.c_str()) != nullptr && waited())
        Sleep(20);
    stalled.unloaded = GetModuleHandleA(path.c_str()) == nullptr;
    return stalled;
}

void ExpectBoundedStall(const Stalled& stalled) {
    EXPECT_LT(stalled.returnedMs, kOfferBoundMs + kReturnMarginMs);
    EXPECT_EQ(S_FALSE, stalled.canUnloadOnReturn);
    // The tick counter's step is up to ~16 ms.
    EXPECT_GE(stalled.offerEndedMs + 50, 2 * kOfferBoundMs);
    EXPECT_TRUE(stalled.unloaded);
}

TEST_F(ComActivation, StalledAgentTheHelperDeclinesAtTheBound) {
    AgentSession agent;
    agent.SetAnswer(kStalledAnswer);
    ComPtr<IDispatch> helper;
    ASSERT_EQ(S_OK, CoCreateInstance(ClassId(kClasses[0]), nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDispatch, helper.ReceiveVoid()));
    HMODULE module = LoadedCopy(kClasses[0]);
    ASSERT_NE(nullptr, module);
    std::unique_ptr<BrowserEventArgs> args(
        BrowserEventArgs::BeforeNavigate2(L"http://host/stalled.zip"));
    ExpectBoundedStall(StallThrough(module, copy_, [&] {
        EXPECT_EQ(S_OK, helper->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD,
                                       args->Params(), nullptr, nullptr, nullptr));
        EXPECT_EQ(0, args->cancel);
        helper.Reset();
    }));
    EXPECT_EQ(1u, agent.Records().size());
}

TEST_F(ComActivation, StalledAgentTheDownloadManagerDeclinesAtTheBound) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in the copy that reports Windows XP";
    AgentSession agent;
    agent.SetAnswer(kStalledAnswer);
    ComPtr<IDownloadManager> manager;
    ASSERT_EQ(S_OK, CoCreateInstance(ClassId(kClasses[1]), nullptr, CLSCTX_INPROC_SERVER,
                                     __uuidof(IDownloadManager), manager.ReceiveVoid()));
    HMODULE module = LoadedCopy(kClasses[1]);
    ASSERT_NE(nullptr, module);
    const DownloadRequest request(L"http://host/stalled-download.zip");
    ASSERT_TRUE(request.made);
    ExpectBoundedStall(StallThrough(module, copy_, [&] {
        EXPECT_EQ(E_NOTIMPL, manager->Download(request.moniker.Get(), request.bindContext.Get(), 0,
                                               0, nullptr, nullptr, nullptr, 0));
        manager.Reset();
    }));
    EXPECT_EQ(1u, agent.Records().size());
}

// A copy in a folder the ANSI code page cannot spell (Cyrillic under 1252):
// registration names its true path, COM loads it from there, and it reads
// the settings beside it.
// Wine names files in the Unix locale's character set: the case runs in an
// entry of its own (tests/CMakeLists.txt) under a UTF-8 locale built for it.
TEST_F(ComActivation, ACopyInAFolderOutsideTheCodePageIsLoadedAndReadsItsSettings) {
    if (std::getenv("WEBCORVANE_UTF8_FILE_NAMES") == nullptr)
        GTEST_SKIP() << "runs where the Unix locale can name the folder";
    ASSERT_EQ(1252u, GetACP());
    const std::string self = SelfDirectory();
    const std::wstring folder = std::wstring(self.begin(), self.end()) +
                                L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438";
    const std::wstring dll = folder + L"\\WebCorvaneBHO.dll";
    const std::wstring settings = folder + L"\\UserConfig.ini";
    const std::string shipped = FromUnixPath(WEBCORVANE_DLL_PATH);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileW(std::wstring(shipped.begin(), shipped.end()).c_str(), dll.c_str(), FALSE));
    // Only this extension is handed over, so a hand-off proves the file was read.
    ASSERT_TRUE(
        WritePrivateProfileStringW(L"Monitor", L"ExtendNames", L".infolder;", settings.c_str()));
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(S_OK, CallExport(module, "DllRegisterServer"));
    FreeLibrary(module);

    AgentSession agent;
    agent.SetAnswer(L"1");
    ComPtr<IDispatch> helper;
    EXPECT_EQ(S_OK, CoCreateInstance(ClassId(kClasses[0]), nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDispatch, helper.ReceiveVoid()));
    EXPECT_NE(nullptr, GetModuleHandleW(dll.c_str()));
    for (const wchar_t* url : {L"http://host/a.infolder", L"http://host/a.zip"}) {
        std::unique_ptr<BrowserEventArgs> args(BrowserEventArgs::BeforeNavigate2(url));
        if (helper) {
            EXPECT_EQ(S_OK, helper->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD,
                                           args->Params(), nullptr, nullptr, nullptr));
        }
        EXPECT_EQ(wcscmp(url, L"http://host/a.infolder") == 0 ? 1 : 0, args->cancel) << url;
    }
    EXPECT_EQ(1u, agent.Records().size());

    helper.Reset();
    CoFreeUnusedLibrariesEx(0, 0);
    // The suite's own copy is the registered one again.
    EXPECT_EQ(S_OK, CallOnCopy("DllRegisterServer"));
    DeleteFileW(settings.c_str());
    DeleteFileW(dll.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(ComActivation, DownloadUnderARunningCallRunsInTheXpCopy) {
    EXPECT_TRUE(CopyRanItsCases(RunCasesAsWindows(kWindowsXp, "com_activation_xp.exe",
                                                  "ComActivation.ReleasedUnderARunningDownload*"
                                                  ":ComActivation.StalledAgentTheDownload*"),
                                &kWindowsXp));
}

}  // namespace
