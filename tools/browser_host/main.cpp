// browser_host: the platform's own WebBrowser control with the Browser Helper
// Objects that Internet Explorer would load, driven through a list of links.
//
//   browser_host [--download-dir DIR] [--timeout-ms N] [--page URL]
//                [--new-window2 URL] [--new-window3 URL] [[--post DATA] URL...]
//
// For each URL it prints one line:
//   URL | helper: ... | download manager: ... | host downloaded: ...
// With --page it shows that page before each URL, as a click on one of its
// links leaves it: the page is then the URL's referrer. --post DATA sends the
// next URL as a form does, with DATA as the POST's body.
// Nothing of the library is linked in but its holders, its string conversion
// and its identifiers: the helpers are found in the registry and created
// through COM, as the browser does, so what runs is what is registered.
#include <windows.h>
#include <downloadmgr.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <oleidl.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/com_ptr.h"
#include "common/hresult_error.h"
#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/variant.h"
#include "common/win_handles.h"
#include "tools/support/client_site.h"
#include "tools/support/event_args.h"

namespace {

constexpr wchar_t kHelpersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kBrowserSettingsKey[] = L"Software\\Microsoft\\Internet Explorer";

std::string HrText(HRESULT hr) {
    if (hr == S_OK)
        return "S_OK";
    if (hr == E_NOTIMPL)
        return "E_NOTIMPL";
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// A string value, or the empty string.
std::wstring ReadString(HKEY root, const wchar_t* path, const wchar_t* name) {
    std::wstring text;
    ReadRegistryString(root, path, name, text);
    return text;
}

// What the host itself sees of one navigation. Connected after the helpers,
// so its BeforeNavigate2 runs after theirs and reads the Cancel they wrote.
struct Navigation {
    bool beforeNavigateSeen = false;
    bool cancelled = false;
    bool ended = false;
    std::string endedBy;
};

class HostEvents final : public IDispatch {
  public:
    explicit HostEvents(Navigation* navigation) : navigation_(navigation) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count != nullptr)
            *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr)
            *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        switch (id) {
            case DISPID_BEFORENAVIGATE2:
                navigation_->beforeNavigateSeen = true;
                if (params != nullptr && params->cArgs >= 7 &&
                    params->rgvarg[0].vt == (VT_BYREF | VT_BOOL) &&
                    params->rgvarg[0].pboolVal != nullptr && *params->rgvarg[0].pboolVal != 0) {
                    navigation_->cancelled = true;
                    navigation_->ended = true;
                    navigation_->endedBy = "cancelled";
                }
                break;
            case DISPID_NAVIGATECOMPLETE2:
            case DISPID_DOCUMENTCOMPLETE:
            case DISPID_NAVIGATEERROR:
                // The end of the navigation before, come late, is not this
                // one's: it ends only after its own BeforeNavigate2.
                if (!navigation_->beforeNavigateSeen)
                    break;
                navigation_->ended = true;
                navigation_->endedBy = id == DISPID_NAVIGATEERROR ? "NavigateError" : "complete";
                break;
            default:
                break;
        }
        return S_OK;
    }

  private:
    ~HostEvents() = default;
    LONG refs_ = 1;
    Navigation* navigation_;
};

struct Helper {
    std::wstring clsidText;
    std::wstring dllPath;
    ComPtr<IUnknown> object;
};

// Runs the thread's messages until `done` says so or the time is up.
template <typename Done>
void PumpUntil(Done done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Every class named under the Browser Helper Objects key, created and sited
// the way the browser does; a class that cannot be created is skipped.
std::vector<Helper> LoadHelpers(IWebBrowser2* browser) {
    std::vector<Helper> helpers;
    RegKey key;
    if (!OpenRegistryKey(HKEY_LOCAL_MACHINE, kHelpersKey, KEY_READ, key))
        return helpers;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        const std::string nameText = WideToUtf8(name);
        CLSID clsid;
        if (FAILED(CLSIDFromString(name, &clsid))) {
            std::printf("helper %s: not a class identifier, skipped\n", nameText.c_str());
            continue;
        }
        Helper helper;
        helper.clsidText = name;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      helper.object.ReceiveVoid());
        if (FAILED(hr)) {
            std::printf("helper %s: not created (%s)\n", nameText.c_str(), HrText(hr).c_str());
            continue;
        }
        ComPtr<IObjectWithSite> withSite;
        hr = withSite.QueryFrom(helper.object.Get(), IID_IObjectWithSite);
        if (SUCCEEDED(hr))
            hr = withSite->SetSite(browser);
        if (FAILED(hr)) {
            std::printf("helper %s: not sited (%s)\n", nameText.c_str(), HrText(hr).c_str());
            continue;
        }
        helper.dllPath =
            ReadString(HKEY_CLASSES_ROOT,
                       (std::wstring(L"CLSID\\") + name + L"\\InprocServer32").c_str(), nullptr);
        std::printf("helper %s: loaded from %s\n", nameText.c_str(),
                    WideToUtf8(helper.dllPath.c_str()).c_str());
        helpers.push_back(std::move(helper));
    }
    return helpers;
}

// The response's content type, as the browser learns it before deciding
// whether a navigation shows a page or downloads a file. Empty when the URL
// cannot be fetched over WinINet.
std::string ContentTypeOf(const std::string& url) {
    std::string type;
    HINTERNET session =
        InternetOpenA("browser_host", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr)
        return type;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request != nullptr) {
        char buffer[256] = {};
        DWORD size = sizeof buffer - 1;
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, buffer, &size, nullptr))
            type.assign(buffer, size);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return type;
}

bool IsPage(const std::string& contentType) {
    std::string lower;
    for (char c : contentType)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.compare(0, 9, "text/html") == 0;
}

// The name the file gets in the download folder: the last segment of the
// path, without query, never empty and never a path of its own.
std::string FileNameFor(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    std::string name = path.substr(path.find_last_of('/') + 1);
    for (char& c : name) {
        if (std::strchr("\\/:*?\"<>|", c) != nullptr)
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "download";
    return name;
}

// The custom download manager the browser is configured with: the user's
// choice first, then the machine's. Asks it to take the download, with the
// POST verb and its body when `postData` is not empty, as the browser does.
// Answers "not asked" when no class is configured or it cannot be created.
std::string AskDownloadManager(const std::string& url, const std::string& postData,
                               HRESULT* answer) {
    std::wstring clsidText = ReadString(HKEY_CURRENT_USER, kBrowserSettingsKey, L"DownloadUI");
    if (clsidText.empty())
        clsidText = ReadString(HKEY_LOCAL_MACHINE, kBrowserSettingsKey, L"DownloadUI");
    CLSID clsid;
    if (clsidText.empty() || FAILED(CLSIDFromString(&clsidText[0], &clsid)))
        return "not asked";
    ComPtr<IDownloadManager> manager;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_DownloadManagerInterface, manager.ReceiveVoid());
    if (FAILED(hr))
        return "not asked (" + HrText(hr) + ")";
    ComPtr<IMoniker> moniker;
    hr = CreateURLMonikerEx(nullptr, Utf8ToWide(url).c_str(), moniker.Receive(), URL_MK_UNIFORM);
    if (FAILED(hr))
        return "not asked (moniker " + HrText(hr) + ")";
    ComPtr<IBindCtx> bindContext;
    hr = CreateBindCtx(0, bindContext.Receive());
    if (FAILED(hr))
        return "not asked (bind context " + HrText(hr) + ")";
    BINDINFO bindInfo = {};
    bindInfo.cbSize = sizeof bindInfo;
    bindInfo.dwBindVerb = postData.empty() ? BINDVERB_GET : BINDVERB_POST;
    if (!postData.empty()) {
        HGLOBAL body = GlobalAlloc(GMEM_FIXED, postData.size());
        if (body == nullptr)
            return "not asked (out of memory)";
        std::memcpy(body, postData.data(), postData.size());
        bindInfo.stgmedData.tymed = TYMED_HGLOBAL;
        bindInfo.stgmedData.hGlobal = body;
        bindInfo.cbstgmedData = static_cast<DWORD>(postData.size());
    }
    *answer = manager->Download(moniker.Get(), bindContext.Get(), bindInfo.dwBindVerb,
                                BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE, &bindInfo, nullptr,
                                nullptr, CP_ACP);
    ReleaseBindInfo(&bindInfo);
    return HrText(*answer);
}

struct Link {
    std::string url;
    std::string postData;  // empty: a GET
};

struct Options {
    std::string downloadDir = ".";
    DWORD timeoutMs = 8000;
    std::string page;
    std::vector<Link> links;
    std::vector<std::string> newWindow2;
    std::vector<std::string> newWindow3;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    std::string postData;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--download-dir" && hasValue)
            options->downloadDir = argv[++i];
        else if (arg == "--timeout-ms" && hasValue)
            options->timeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--page" && hasValue)
            options->page = argv[++i];
        else if (arg == "--post" && hasValue && argv[i + 1][0] != '\0')
            postData = argv[++i];
        else if (arg == "--new-window2" && hasValue)
            options->newWindow2.push_back(argv[++i]);
        else if (arg == "--new-window3" && hasValue)
            options->newWindow3.push_back(argv[++i]);
        else if (arg.compare(0, 2, "--") == 0)
            return false;
        else {
            options->links.push_back({arg, postData});
            postData.clear();
        }
    }
    // A --post with no URL after it.
    return postData.empty();
}

// A form's body as the control takes it: a SAFEARRAY of bytes.
void SetPostData(Variant& variant, const std::string& data) {
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
    void* target = nullptr;
    if (bytes == nullptr || FAILED(SafeArrayAccessData(bytes, &target)))
        throw HResultError(E_OUTOFMEMORY);
    std::memcpy(target, data.data(), data.size());
    SafeArrayUnaccessData(bytes);
    variant.Get()->vt = VT_ARRAY | VT_UI1;
    variant.Get()->parray = bytes;
}

// Navigates and waits until the navigation ends or the time is up.
void Navigate(IWebBrowser2* browser, Navigation* navigation, const Link& link,
              const Options& options) {
    *navigation = Navigation{};
    Variant target;
    target.Get()->vt = VT_BSTR;
    target.Get()->bstrVal = SysAllocString(Utf8ToWide(link.url).c_str());
    Variant empty;
    Variant postData;
    Variant headers;
    if (!link.postData.empty()) {
        SetPostData(postData, link.postData);
        headers.Get()->vt = VT_BSTR;
        headers.Get()->bstrVal =
            SysAllocString(L"Content-Type: application/x-www-form-urlencoded\r\n");
    }
    const HRESULT hr =
        browser->Navigate2(target.Get(), empty.Get(), empty.Get(), postData.Get(), headers.Get());
    if (SUCCEEDED(hr))
        PumpUntil([&] { return navigation->ended; }, options.timeoutMs);
}

// A form's POST sent once more by the host, as the browser's own download of
// it: the content type decides whether it is a page; a file is offered to the
// download manager, and saved by the host when the manager declines. It
// sends and keeps no cookie: the session is the one the control's navigation
// made.
void DownloadPosted(const Link& link, const Options& options, std::string* managerText,
                    std::string* downloadedText) {
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    char host[256] = {};
    char path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    if (!InternetCrackUrlA(link.url.c_str(), 0, 0, &parts)) {
        *downloadedText = "failed (not a URL)";
        return;
    }
    InternetHandle session(
        InternetOpenA("browser_host", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetHandle connection(session.Get() == nullptr
                                  ? nullptr
                                  : InternetConnectA(session.Get(), host, parts.nPort, nullptr,
                                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    InternetHandle request(
        connection.Get() == nullptr
            ? nullptr
            : HttpOpenRequestA(
                  connection.Get(), "POST", path, nullptr,
                  options.page.empty() ? nullptr : options.page.c_str(), nullptr,
                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES,
                  0));
    static const char kFormType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    if (request.Get() == nullptr ||
        !HttpSendRequestA(request.Get(), kFormType, static_cast<DWORD>(sizeof kFormType - 1),
                          const_cast<char*>(link.postData.data()),
                          static_cast<DWORD>(link.postData.size()))) {
        *downloadedText = "failed (no answer)";
        return;
    }
    char type[256] = {};
    DWORD size = sizeof type - 1;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_TYPE, type, &size, nullptr) ||
        IsPage(type))
        return;
    HRESULT answer = E_NOTIMPL;
    *managerText = AskDownloadManager(link.url, link.postData, &answer);
    if (answer == S_OK)
        return;
    const std::string file = options.downloadDir + "\\" + FileNameFor(link.url);
    FileHandle out(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid()) {
        *downloadedText = "failed (cannot create the file)";
        return;
    }
    char chunk[16384];
    DWORD got = 0;
    DWORD written = 0;
    while (InternetReadFile(request.Get(), chunk, sizeof chunk, &got) && got != 0) {
        if (!WriteFile(out.Get(), chunk, got, &written, nullptr) || written != got) {
            *downloadedText = "failed (cannot write the file)";
            return;
        }
    }
    *downloadedText = got == 0 ? "yes" : "failed (reading)";
}

void NavigateOne(IWebBrowser2* browser, Navigation* navigation, const Link& link,
                 const Options& options) {
    if (!options.page.empty())
        Navigate(browser, navigation, {options.page, ""}, options);
    Navigate(browser, navigation, link, options);
    const std::string& url = link.url;

    std::string helperText = navigation->cancelled ? "cancelled (handed over)" : "let through";
    if (!navigation->beforeNavigateSeen)
        helperText += " (no BeforeNavigate2)";
    std::string managerText = "not asked";
    std::string downloadedText = "no";
    if (!navigation->cancelled && !link.postData.empty()) {
        DownloadPosted(link, options, &managerText, &downloadedText);
    } else if (!navigation->cancelled) {
        const std::string contentType = ContentTypeOf(url);
        if (!contentType.empty() && !IsPage(contentType)) {
            HRESULT answer = E_NOTIMPL;
            managerText = AskDownloadManager(url, "", &answer);
            if (answer != S_OK) {
                const std::string file = options.downloadDir + "\\" + FileNameFor(url);
                const HRESULT got =
                    URLDownloadToFileA(nullptr, url.c_str(), file.c_str(), 0, nullptr);
                downloadedText = got == S_OK ? "yes" : "failed (" + HrText(got) + ")";
            }
        }
    }
    std::printf("%s | helper: %s | download manager: %s | host downloaded: %s\n", url.c_str(),
                helperText.c_str(), managerText.c_str(), downloadedText.c_str());
    std::fflush(stdout);
}

// A new-window event as the browser fires it, into each helper's Invoke.
void FireNewWindow(const std::vector<Helper>& helpers, DISPID id, const std::string& url,
                   const std::string& context) {
    const char* name = id == DISPID_NEWWINDOW2 ? "NewWindow2" : "NewWindow3";
    VARIANT_BOOL cancel = BrowserEventArgs::kUntouched;
    for (const Helper& helper : helpers) {
        ComPtr<IDispatch> dispatch;
        if (FAILED(dispatch.QueryFrom(helper.object.Get(), IID_IDispatch)))
            continue;
        BrowserEventArgs* args =
            id == DISPID_NEWWINDOW2
                ? BrowserEventArgs::NewWindow2()
                : BrowserEventArgs::NewWindow3(Utf8ToWide(url), Utf8ToWide(context));
        args->cancel = cancel == BrowserEventArgs::kUntouched ? VARIANT_FALSE : cancel;
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, args->Params(),
                         nullptr, nullptr, nullptr);
        cancel = args->cancel;
        delete args;
    }
    std::printf("%s | %s: %s\n", url.c_str(), name,
                cancel != VARIANT_FALSE && cancel != BrowserEventArgs::kUntouched
                    ? "cancelled (handed over)"
                    : "let through");
    std::fflush(stdout);
}

// After every object of a DLL is gone, the DLL must agree to be unloaded.
void ReportUnload(const std::wstring& dllPath) {
    const std::string pathText = WideToUtf8(dllPath.c_str());
    HMODULE module = GetModuleHandleW(dllPath.c_str());
    if (module == nullptr) {
        std::printf("DllCanUnloadNow %s: not loaded\n", pathText.c_str());
        return;
    }
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    if (canUnload == nullptr) {
        std::printf("DllCanUnloadNow %s: not exported\n", pathText.c_str());
        return;
    }
    const HRESULT hr = canUnload();
    std::printf("DllCanUnloadNow %s: %s\n", pathText.c_str(),
                hr == S_FALSE ? "S_FALSE" : HrText(hr).c_str());
}

int Run(const Options& options) {
    ComPtr<IWebBrowser2> browser;
    HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IWebBrowser2,
                                  browser.ReceiveVoid());
    if (FAILED(hr)) {
        std::printf("no WebBrowser control (%s)\n", HrText(hr).c_str());
        return 2;
    }
    hr = GiveClientSite(browser.Get());
    if (FAILED(hr)) {
        std::printf("no client site (%s)\n", HrText(hr).c_str());
        return 2;
    }

    std::vector<Helper> helpers = LoadHelpers(browser.Get());
    std::printf("%u helpers\n", static_cast<unsigned>(helpers.size()));

    Navigation navigation;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    {
        ComPtr<IConnectionPointContainer> container;
        hr = container.QueryFrom(browser.Get(), IID_IConnectionPointContainer);
        if (SUCCEEDED(hr))
            hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive());
        HostEvents* sink = new HostEvents(&navigation);
        if (SUCCEEDED(hr))
            hr = point->Advise(sink, &cookie);
        sink->Release();
        if (FAILED(hr)) {
            std::printf("no browser events (%s)\n", HrText(hr).c_str());
            return 2;
        }
    }

    std::string lastPage;
    for (const Link& link : options.links) {
        NavigateOne(browser.Get(), &navigation, link, options);
        lastPage = link.url;
    }
    for (const std::string& url : options.newWindow2)
        FireNewWindow(helpers, DISPID_NEWWINDOW2, url, lastPage);
    for (const std::string& url : options.newWindow3)
        FireNewWindow(helpers, DISPID_NEWWINDOW3, url, lastPage);

    point->Unadvise(cookie);
    point.Reset();
    std::vector<std::wstring> dlls;
    // The window closes: the browser tells its helpers with OnQuit (Wine's
    // control never fires it), and they let go of its events; only then
    // does it take their sites away.
    for (Helper& helper : helpers) {
        ComPtr<IDispatch> dispatch;
        if (SUCCEEDED(dispatch.QueryFrom(helper.object.Get(), IID_IDispatch))) {
            DISPPARAMS none = {};
            dispatch->Invoke(DISPID_ONQUIT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                             nullptr, nullptr, nullptr);
        }
    }
    for (Helper& helper : helpers) {
        ComPtr<IObjectWithSite> withSite;
        if (SUCCEEDED(withSite.QueryFrom(helper.object.Get(), IID_IObjectWithSite)))
            withSite->SetSite(nullptr);
        withSite.Reset();
        helper.object.Reset();
        if (!helper.dllPath.empty())
            dlls.push_back(helper.dllPath);
    }
    helpers.clear();
    ComPtr<IOleObject> oleObject;
    if (SUCCEEDED(oleObject.QueryFrom(browser.Get(), IID_IOleObject)))
        oleObject->SetClientSite(nullptr);
    oleObject.Reset();
    browser.Reset();
    for (const std::wstring& dll : dlls)
        ReportUnload(dll);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fputs(
            "usage: browser_host [--download-dir DIR] [--timeout-ms N] [--page URL]\n"
            "                    [--new-window2 URL] [--new-window3 URL] [[--post DATA] URL...]\n",
            stderr);
        return 2;
    }
    if (FAILED(OleInitialize(nullptr))) {
        std::puts("OLE could not be initialised");
        return 2;
    }
    int result = 2;
    try {
        result = Run(options);
    } catch (const HResultError& error) {
        std::printf("a string could not be converted (0x%08lX)\n",
                    static_cast<unsigned long>(error.hr()));
    }
    OleUninitialize();
    return result;
}
