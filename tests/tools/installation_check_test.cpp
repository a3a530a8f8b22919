// The installation check against an installation of the built DLL in the
// prefix's real registry (COM resolves the agent there, whatever a redirected
// registry holds), each row making one fault for real and undoing it: the
// line it must print and the exit status.
#include "tools/url_explainer/check.h"

#include "common/guid_text.h"
#include "common/identifiers.h"
#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/scratch_dir.h"
#include "tools/support/process.h"
#include "tools/support/wine_paths.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kHelper[] = "{00000AAA-A363-466E-BEF5-9BB68697AA7F}";
const char kIeMain[] = "Software\\Microsoft\\Internet Explorer\\Main";
const char kIePolicy[] = "Software\\Policies\\Microsoft\\Internet Explorer\\Main";
const char kExtensions[] = "Enable Browser Extensions";
const char kForeignClass[] = "{11111111-2222-3333-4444-555555555555}";
const std::string kAddOnSettings =
    std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\") + kHelper;
const std::string kInprocServer = std::string("CLSID\\") + kHelper + "\\InprocServer32";
const std::string kCompatible = std::string("CLSID\\") + kHelper +
                                "\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}";
const char kEdgePolicy[] = "SOFTWARE\\Policies\\Microsoft\\Edge";
const std::string kActiveSetup =
    std::string("SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\") +
    (sizeof(void*) == 8 ? "{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C64}"
                        : "{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C32}");

HRESULT CallExport(const std::string& dll, const char* name) {
    HMODULE module = LoadLibraryA(dll.c_str());
    if (module == nullptr)
        return E_FAIL;
    auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, name)));
    const HRESULT hr = entry != nullptr ? entry() : E_POINTER;
    FreeLibrary(module);
    return hr;
}

bool DeleteValue(HKEY root, const char* key, const char* name) {
    return SHDeleteValueA(root, key, name) == ERROR_SUCCESS;
}

class InstallationCheck : public testing::Test {
  protected:
    // The DLL beside this program, as the release lays it out, registered.
    static void SetUpTestSuite() {
        dll_ = SelfDirectory() + "WebCorvaneBHO.dll";
        installed_ = CopyFileA(FromUnixPath(WEBCORVANE_DLL_PATH).c_str(), dll_.c_str(), FALSE) &&
                     CallExport(dll_, "DllRegisterServer") == S_OK;
    }
    static void TearDownTestSuite() {
        CallExport(dll_, "DllUnregisterServer");
        DeleteFileA(dll_.c_str());
    }
    static void Register() { CallExport(dll_, "DllRegisterServer"); }
    static int Agent(const std::string& exe, const char* arguments) {
        return RunProcess(exe, arguments);
    }

    static std::string dll_;
    static bool installed_;
};

std::string InstallationCheck::dll_;
bool InstallationCheck::installed_ = false;

TEST_F(InstallationCheck, EachFaultGivesItsLineAndStatus) {
    ASSERT_TRUE(installed_) << "could not copy and register " << dll_;
    ScopedConfigFile config(SelfDirectory());
    const std::string otherDll = SelfDirectory() + "other\\WebCorvaneBHO.dll";
    const std::string agentCopy = SelfDirectory() + "agent copy\\CorvaneAgent.exe";
    // The agent registered from a copy that is then deleted, and back again.
    const auto removeAgentProgram = [&] {
        CreateDirectoryA((SelfDirectory() + "agent copy").c_str(), nullptr);
        CopyFileA(AgentExePath().c_str(), agentCopy.c_str(), FALSE);
        Agent(agentCopy, "/RegServer");
        DeleteFileA(agentCopy.c_str());
    };
    const auto restoreAgentProgram = [&] {
        Agent(AgentExePath(), "/RegServer");
        RemoveDirectoryA((SelfDirectory() + "agent copy").c_str());
    };
    // The agent's command line as another installer may write it.
    const auto agentCommandLine = [](const std::string& commandLine) {
        return [commandLine] {
            CLSID agent;
            std::string clsid;
            if (SUCCEEDED(CLSIDFromProgID(L"CorvaneServer.WebCorvane.1", &agent)) &&
                GuidToText(agent, clsid)) {
                PutString(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid + "\\LocalServer32").c_str(),
                          nullptr, commandLine);
            }
        };
    };
    const auto registerAgentCopy = [&] {
        CreateDirectoryA((SelfDirectory() + "agent copy").c_str(), nullptr);
        CopyFileA(AgentExePath().c_str(), agentCopy.c_str(), FALSE);
        agentCommandLine(agentCopy + " -Embedding")();
    };
    const auto removeAgentCopy = [&] {
        DeleteFileA(agentCopy.c_str());
        restoreAgentProgram();
    };
    const std::string maxthon = SelfDirectory() + "maxthon";
    std::string longList;
    for (int i = 100; i < 280; ++i)
        longList += ".x" + std::to_string(i) + ";";  // 180 entries of 6 characters

    // The native messaging host as the release lays it out, registered for
    // Chrome and Edge by the user or the machine.
    const std::string hostFolder = SelfDirectory() + "host";
    const std::string manifest = hostFolder + "\\com.webcorvane.handoff.json";
    // Our IDs as the build has them: ours, and each store's when given.
    std::string ours, origins, blockedSettings, idList, forced;
    for (const std::string& id : ChromiumExtensionIds()) {
        const char* separator = ours.empty() ? "" : ", ";
        ours += separator + id;
        origins += separator + ("\"chrome-extension://" + id + "/\"");
        blockedSettings += separator + ("\"" + id + "\": {\"installation_mode\": \"blocked\"}");
        idList += separator + ("\"" + id + "\"");
        forced += separator + ("\"" + id + ";https://clients2.google.com/service/update2/crx\"");
    }
    const auto hostManifest = [](const std::string& allowed) {
        return std::string("{\"name\": \"") + kNativeHostName +
               "\", \"path\": \"WebCorvaneHost.exe\", \"type\": \"stdio\", \"allowed_origins\": [" +
               allowed + "]}";
    };
    const std::string goodManifest = hostManifest(origins);
    const std::string otherOrigin =
        hostManifest("\"chrome-extension://" + std::string(32, 'a') + "/\"");
    const char* const hostKeys[] = {
        "Software\\Google\\Chrome\\NativeMessagingHosts\\com.webcorvane.handoff",
        "Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.webcorvane.handoff"};
    const auto installHost = [&](const std::string& manifestText, bool program,
                                 std::vector<HKEY> roots) {
        return [=] {
            CreateDirectoryA(hostFolder.c_str(), nullptr);
            WriteFileBytes(manifest, manifestText);
            if (program)
                CopyFileA(SelfPath().c_str(), (hostFolder + "\\WebCorvaneHost.exe").c_str(), FALSE);
            for (HKEY root : roots) {
                for (const char* key : hostKeys)
                    PutString(root, key, nullptr, manifest);
            }
        };
    };
    // Firefox's key names a manifest of its own, which allows our Firefox ID.
    const char firefoxKey[] = "Software\\Mozilla\\NativeMessagingHosts\\com.webcorvane.handoff";
    const std::string firefoxManifest = hostFolder + "\\com.webcorvane.handoff.firefox.json";
    const std::string goodFirefoxManifest =
        std::string("{\"name\": \"") + kNativeHostName +
        "\", \"path\": \"WebCorvaneHost.exe\", \"type\": \"stdio\", \"allowed_extensions\": [\"" +
        kFirefoxExtensionId + "\"]}";
    const auto installFirefoxHost = [&](const std::string& file, const std::string& text) {
        return [=] {
            CreateDirectoryA(hostFolder.c_str(), nullptr);
            WriteFileBytes(file, text);
            CopyFileA(SelfPath().c_str(), (hostFolder + "\\WebCorvaneHost.exe").c_str(), FALSE);
            PutString(HKEY_CURRENT_USER, firefoxKey, nullptr, file);
        };
    };
    const auto removeHost = [&] {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (const char* key : hostKeys)
                SHDeleteKeyA(root, key);
            SHDeleteKeyA(root, firefoxKey);
        }
        RemoveTree(hostFolder);
    };
    const auto appPath = [](const std::string& program, const std::string& path) {
        return [=] {
            PutString(
                HKEY_LOCAL_MACHINE,
                ("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + program).c_str(),
                nullptr, path);
        };
    };
    const std::string firefoxFolder = SelfDirectory() + "firefox";
    const std::string firefoxPolicies = firefoxFolder + "\\distribution\\policies.json";
    const std::string machine = sizeof(void*) == 8 ? "HKLM (64-bit view)" : "HKLM";
    // The browsers' policies, set for the machine or the user and all taken
    // away again, with any host, App Paths entry and Firefox of a row.
    const auto policy = [](HKEY root, const std::string& key, const char* name,
                           const std::string& text) {
        return [=] { PutString(root, ("Software\\Policies\\" + key).c_str(), name, text); };
    };
    const auto both = [](std::function<void()> first, std::function<void()> second) {
        return [=] {
            first();
            second();
        };
    };
    const auto removePolicies = [&] {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (const char* key : {"Google", "Microsoft\\Edge", "Mozilla", "BraveSoftware"})
                SHDeleteKeyA(root, (std::string("Software\\Policies\\") + key).c_str());
        }
        for (const char* program : {"chrome.exe", "brave.exe", "firefox.exe"}) {
            SHDeleteKeyA(
                HKEY_LOCAL_MACHINE,
                (std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + program)
                    .c_str());
        }
        RemoveTree(firefoxFolder);
        removeHost();
    };
    const std::string ourId = ChromiumExtensionIds().front();
    const std::string edgeManaged =
        "Software\\Policies\\Microsoft\\Edge\\3rdparty\\extensions\\" + ourId + "\\policy";
    const auto managedSettings = [&] {
        const std::string key = edgeManaged;
        PutValue(HKEY_LOCAL_MACHINE, key.c_str(), "paused", REG_DWORD,
                 std::string("\x01\0\0\0", 4));
        PutValue(HKEY_CURRENT_USER, key.c_str(), "paused", REG_DWORD, std::string(4, '\0'));
        PutString(HKEY_CURRENT_USER, key.c_str(), "bypassKey", "meta");
        PutString(HKEY_CURRENT_USER, (key + "\\skippedSites").c_str(), "1", "intranet.example");
        PutString(HKEY_CURRENT_USER, (key + "\\skippedSites").c_str(), "2", "corp.example");
    };
    const auto userHost = installHost(goodManifest, true, {HKEY_CURRENT_USER});
    const std::string hostKey = "\\NativeMessagingHosts\\com.webcorvane.handoff";

    // The DLL moved away after registration, with a trace of who installed it.
    const auto moveDll = [&](std::function<void()> installedBy) {
        return [=] {
            MoveFileA(dll_.c_str(), (dll_ + ".moved").c_str());
            installedBy();
        };
    };
    const auto unmoveDll = [&](std::function<void()> undoInstalledBy) {
        return [=] {
            undoInstalledBy();
            MoveFileA((dll_ + ".moved").c_str(), dll_.c_str());
        };
    };
    const std::string productEntry =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        "{2B1C4E8A-0D3F-4A5B-8C7D-9E0F1A2B3C4D}";
    const std::string repairPackage =
        "repair WebCorvaneBHO in the installed programs (Programs and Features), or install its "
        "package again.";
    struct Row {
        const char* name;
        std::function<void()> fault;
        std::function<void()> undo;
        bool createAgent;
        const char* starts;  // the level and the subject of the expected line
        std::string says;    // what the line must say
        int status;
    };
    auto none = [] {};
    const Row rows[] = {
        {"clean", none, none, false, "ok: helper class: ", "the one beside this program", 0},
        {"clean, agent created", none, none, true, "ok: agent start: ", "created in", 0},
        {"clean, cookies", none, none, false,
         "ok: cookies: ", "the agent is handed each URL's cookies", 0},
        {"moved DLL", [&] { MoveFileA(dll_.c_str(), (dll_ + ".moved").c_str()); },
         [&] { MoveFileA((dll_ + ".moved").c_str(), dll_.c_str()); }, false,
         "problem: helper class: ", "does not exist (moved or deleted", 2},
        // The fix names what put the DLL in place: the archive's install.cmd, or
        // the package, known by its installed-programs or Active Setup entry.
        {"moved DLL, installed by install.cmd", moveDll(none), unmoveDll(none), false,
         "problem: helper class: ",
         "after registration). Fix: run install.cmd of the release folder as an administrator.", 2},
        {"moved DLL, the package's installed-programs entry", moveDll([&] {
             PutString(HKEY_LOCAL_MACHINE, productEntry.c_str(), "DisplayName", "WebCorvaneBHO");
         }),
         unmoveDll([&] { SHDeleteKeyA(HKEY_LOCAL_MACHINE, productEntry.c_str()); }), false,
         "problem: helper class: ", "after registration). Fix: " + repairPackage, 2},
        {"moved DLL, the package's Active Setup entry", moveDll([&] {
             PutString(HKEY_LOCAL_MACHINE, kActiveSetup.c_str(), "Version", "6,0,0,5");
         }),
         unmoveDll([&] { SHDeleteKeyA(HKEY_LOCAL_MACHINE, kActiveSetup.c_str()); }), false,
         "problem: helper class: ", "after registration). Fix: " + repairPackage, 2},
        {"DLL of the other bitness",
         [&] {
             PutString(HKEY_CLASSES_ROOT, kInprocServer.c_str(), nullptr,
                       FromUnixPath(OTHER_BITNESS_DLL));
         },
         Register, false, "problem: helper class: ",
         sizeof(void*) == 8 ? "is a 32-bit DLL, which 64-bit" : "is a 64-bit DLL, which 32-bit", 2},
        {"add-on disabled",
         [&] {
             PutValue(HKEY_CURRENT_USER, kAddOnSettings.c_str(), "Flags", REG_DWORD,
                      std::string("\1\0\0\0", 4));
         },
         [&] { SHDeleteKeyA(HKEY_CURRENT_USER, kAddOnSettings.c_str()); }, false,
         "problem: add-on state: ", "disabled in the add-on manager (HKCU\\" + kAddOnSettings, 2},
        {"extensions off", [&] { PutString(HKEY_CURRENT_USER, kIeMain, kExtensions, "no"); },
         [&] { DeleteValue(HKEY_CURRENT_USER, kIeMain, kExtensions); }, false,
         "problem: browser extensions: ", std::string("turned off (HKCU\\") + kIeMain, 2},
        {"extensions off by policy, on for the user",
         [&] {
             PutString(HKEY_CURRENT_USER, kIeMain, kExtensions, "yes");
             PutString(HKEY_LOCAL_MACHINE, kIePolicy, kExtensions, "no");
         },
         [&] {
             DeleteValue(HKEY_CURRENT_USER, kIeMain, kExtensions);
             DeleteValue(HKEY_LOCAL_MACHINE, kIePolicy, kExtensions);
         },
         false, "problem: browser extensions: ", std::string("turned off (HKLM\\") + kIePolicy, 2},
        {"foreign DownloadUI",
         [&] {
             PutString(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kForeignClass).c_str(), nullptr,
                       "Other Download Manager");
             PutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer", "DownloadUI",
                       kForeignClass);
         },
         [&] {
             SHDeleteKeyA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kForeignClass).c_str());
             Register();
         },
         false, "warning: DownloadUI: ",
         std::string("is ") + kForeignClass +
             " (Other Download Manager), HKLM's is ours; the browser uses HKCU's",
         1},
        {"agent not registered", [&] { Agent(AgentExePath(), "/UnregServer"); },
         [&] { Agent(AgentExePath(), "/RegServer"); }, false,
         "problem: download agent: ", "\"CorvaneServer.WebCorvane.1\" is not registered", 2},
        {"agent's program missing", removeAgentProgram, restoreAgentProgram, false,
         "problem: download agent: ", "whose program " + agentCopy + " does not exist", 2},
        {"agent's program missing, agent created", removeAgentProgram, restoreAgentProgram, true,
         "problem: agent start: ", "not created (0x", 2},
        {"agent's command line past 2 KB",
         agentCommandLine("\"" + AgentExePath() + "\" -log=" + std::string(3000, 'l')),
         [&] { Agent(AgentExePath(), "/RegServer"); }, false,
         "ok: download agent: ", ", " + AgentExePath(), 0},
        {"agent's program unquoted, in a folder with a space", registerAgentCopy, removeAgentCopy,
         false, "ok: download agent: ", ", " + agentCopy, 0},
        {"list in capitals", [&] { config.WriteMonitor("ExtendNames=.ZIP;.rar"); },
         [&] { config.Remove(); }, false, "warning: list: ", "\".ZIP\" has capitals", 1},
        {"list without its closing semicolon",
         [&] { config.WriteMonitor("ExtendNames=.ZIP;.rar"); }, [&] { config.Remove(); }, false,
         "warning: list: ",
         "\".rar\" lacks its closing semicolon and never matches. Fix: write it \".rar;\".", 1},
        {"list past the characters read", [&] { config.WriteMonitor("ExtendNames=" + longList); },
         [&] { config.Remove(); }, false,
         "warning: list: ", "has 1080 characters and only the first 1023 are read: \".x270\"", 1},
        {"switch off", [&] { config.WriteMonitor("MonitorIE=2"); }, [&] { config.Remove(); }, false,
         "warning: settings: ", "MonitorIE=2, off (only 1 is on)", 1},
        {"settings beside another DLL than the registered one",
         [&] {
             CreateDirectoryA((SelfDirectory() + "other").c_str(), nullptr);
             CopyFileA(dll_.c_str(), otherDll.c_str(), FALSE);
             CallExport(otherDll, "DllRegisterServer");
             config.WriteMonitor("MonitorIE=1");
         },
         [&] {
             config.Remove();
             Register();
             RemoveTree(SelfDirectory() + "other");
         },
         false, "warning: settings: ",
         config.Path() + " is not read: the DLL the browser loads (" + otherDll + ")", 1},
        {"Maxthon without our plug-in",
         [&] {
             CreateDirectoryA(maxthon.c_str(), nullptr);
             CreateDirectoryA((maxthon + "\\Plugin").c_str(), nullptr);
             PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", maxthon);
         },
         [&] {
             SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Maxthon");
             RemoveTree(maxthon);
         },
         false, "warning: Maxthon: ",
         "no " + maxthon + "\\Plugin\\WebCorvane\\Plugin.ini: Maxthon does not load the helper", 1},
        {"protected tabs on", [&] { PutString(HKEY_CURRENT_USER, kIeMain, "Isolation", "PMEM"); },
         [&] { DeleteValue(HKEY_CURRENT_USER, kIeMain, "Isolation"); }, false,
         "ok: protected tabs: ",
         std::string("on (HKCU\\") + kIeMain +
             " \"Isolation\" is PMEM), with 32-bit tabs on 64-bit Windows; the helper is marked "
             "compatible",
         0},
        {"protected 64-bit tabs by policy",
         [&] {
             PutString(HKEY_LOCAL_MACHINE, kIePolicy, "Isolation", "PMEM");
             PutValue(HKEY_CURRENT_USER, kIePolicy, "Isolation64Bit", REG_DWORD,
                      std::string("\1\0\0\0", 4));
         },
         [&] {
             SHDeleteKeyA(HKEY_LOCAL_MACHINE, kIePolicy);
             SHDeleteKeyA(HKEY_CURRENT_USER, kIePolicy);
         },
         false, "ok: protected tabs: ",
         std::string("with 64-bit tabs (HKCU\\") + kIePolicy + " \"Isolation64Bit\")", 0},
        {"protected tabs on, helper not marked compatible",
         [&] {
             PutString(HKEY_CURRENT_USER, kIeMain, "Isolation", "PMEM");
             SHDeleteKeyA(HKEY_CLASSES_ROOT, kCompatible.c_str());
         },
         [&] {
             DeleteValue(HKEY_CURRENT_USER, kIeMain, "Isolation");
             Register();
         },
         false, "problem: protected tabs: ", "protected tabs skip the helper", 2},
        {"protected tabs off, helper not marked compatible",
         [&] { SHDeleteKeyA(HKEY_CLASSES_ROOT, kCompatible.c_str()); }, Register, false,
         "warning: protected tabs: ", "once it is turned on, tabs skip the helper", 1},
        {"IE mode configured",
         [&] {
             PutValue(HKEY_LOCAL_MACHINE, kEdgePolicy, "InternetExplorerIntegrationLevel",
                      REG_DWORD, std::string("\1\0\0\0", 4));
         },
         [&] { SHDeleteKeyA(HKEY_LOCAL_MACHINE, kEdgePolicy); }, false,
         "ok: IE mode: ", "the helper sees only the sites that open in IE mode", 0},
        {"machine-wide install, Active Setup not run for this user, parts missing",
         [&] {
             PutString(HKEY_LOCAL_MACHINE, kActiveSetup.c_str(), "StubPath", "regsvr32 /i:user x");
             PutString(HKEY_LOCAL_MACHINE, kActiveSetup.c_str(), "Version", "6,0,0,5");
             DeleteValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer", "DownloadUI");
         },
         [&] {
             SHDeleteKeyA(HKEY_LOCAL_MACHINE, kActiveSetup.c_str());
             Register();
         },
         false, "warning: per-user parts: ",
         "are missing; Active Setup has not run for this user yet (HKCU\\" + kActiveSetup +
             " \"Version\" is missing, the machine's \"6,0,0,5\"). Fix: sign out and in again, or "
             "run now: regsvr32 /i:user x",
         1},
        {"machine-wide install, Active Setup ran",
         [&] {
             PutString(HKEY_LOCAL_MACHINE, kActiveSetup.c_str(), "StubPath", "regsvr32 /i:user x");
             PutString(HKEY_LOCAL_MACHINE, kActiveSetup.c_str(), "Version", "6,0,0,5");
             PutString(HKEY_CURRENT_USER, kActiveSetup.c_str(), "Version", "6,0,0,5");
         },
         [&] {
             SHDeleteKeyA(HKEY_LOCAL_MACHINE, kActiveSetup.c_str());
             SHDeleteKeyA(HKEY_CURRENT_USER, kActiveSetup.c_str());
         },
         false, "ok: per-user parts: ",
         "are in place; Active Setup ran for this user (version 6,0,0,5)", 0},
        {"Chrome installed, host not registered",
         appPath("chrome.exe", "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe"),
         removePolicies, false, "problem: Chrome host: ",
         "not registered (no HKCU or HKLM\\Software\\Google\\Chrome\\NativeMessagingHosts\\"
         "com.webcorvane.handoff): Chrome cannot start the host",
         2},
        // Edge reads its own key, then Chrome's, the user's first.
        {"host registered for the user and the machine",
         installHost(goodManifest, true, {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}), removeHost,
         false, "ok: Edge host: ",
         "uses HKCU\\Software\\Microsoft\\Edge" + hostKey +
             " (4 found; the user's first, then the machine's), naming " + manifest,
         0},
        {"host registered for the machine", installHost(goodManifest, true, {HKEY_LOCAL_MACHINE}),
         removeHost, false, "ok: Chrome host: ",
         "uses " + machine + "\\Software\\Google\\Chrome" + hostKey + " (1 found", 0},
        {"host's manifest missing",
         [&] {
             installHost(goodManifest, true, {HKEY_CURRENT_USER})();
             DeleteFileA(manifest.c_str());
         },
         removeHost, false, "problem: Chrome host manifest: ",
         manifest + " cannot be read: Chrome cannot start the host", 2},
        {"host's manifest not JSON", installHost(goodManifest.substr(1), true, {HKEY_CURRENT_USER}),
         removeHost, false,
         "problem: Edge host manifest: ", manifest + " is not a JSON object: Edge refuses it", 2},
        {"host's program missing", installHost(goodManifest, false, {HKEY_CURRENT_USER}),
         removeHost, false, "problem: Chrome host program: ",
         hostFolder + "\\WebCorvaneHost.exe (named by the manifest) does not exist", 2},
        {"our extension not allowed", installHost(otherOrigin, true, {HKEY_CURRENT_USER}),
         removeHost, false, "problem: Chrome extension: ",
         std::string("\"allowed_origins\" lacks chrome-extension://") + kChromiumExtensionId + "/",
         2},
        {"host registered for Firefox", installFirefoxHost(firefoxManifest, goodFirefoxManifest),
         removeHost, false, "ok: Firefox extension: ",
         std::string("the manifest allows our extension (") + kFirefoxExtensionId + ")", 0},
        {"Firefox's key naming Chromium's manifest", installFirefoxHost(manifest, goodManifest),
         removeHost, false, "problem: Firefox host manifest: ",
         manifest + " is Chromium's (\"allowed_origins\"): Firefox refuses it", 2},
        {"browsers' switch off beside the host",
         [&] {
             installHost(goodManifest, true, {HKEY_CURRENT_USER})();
             WriteFileBytes(hostFolder + "\\UserConfig.ini", "[Monitor]\r\nMonitorBrowsers=0\r\n");
         },
         removeHost, false, "warning: Edge host program: ",
         "UserConfig.ini sets MonitorBrowsers=0, off (only 1 is on): downloads stay with the "
         "browser. Fix: set MonitorBrowsers=1.",
         1},
        // Other Chromium browsers read Chrome's key, and are checked where
        // installed; the manifest is checked once.
        {"Brave installed, host registered for the user",
         both(userHost, appPath("brave.exe",
                                "C:\\Program Files\\BraveSoftware\\Brave-Browser"
                                "\\Application\\brave.exe")),
         removePolicies, false, "ok: Brave host: ",
         "uses HKCU\\Software\\Google\\Chrome" + hostKey +
             " (1 found; the user's first, then "
             "the machine's), naming " +
             manifest + ", checked above",
         0},
        {"clean, policies", none, none, false, "ok: Chrome policy: ",
         "none stops the host or our extension (HKLM and HKCU\\Software\\Policies\\Google\\Chrome)",
         0},
        // Each policy that stops a browser, set in turn: its problem and fix.
        {"native messaging blocked for every host",
         both(userHost,
              policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\NativeMessagingBlocklist", "1", "*")),
         removePolicies, false, "problem: Chrome policy: ",
         "NativeMessagingBlocklist "
         "(HKLM\\Software\\Policies\\Google\\Chrome\\NativeMessagingBlocklist) "
         "names \"*\": Chrome refuses to start our host. Fix: ask your administrator to add "
         "com.webcorvane.handoff to NativeMessagingAllowlist.",
         2},
        {"native messaging blocked for every host but ours",
         both(policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\NativeMessagingBlocklist", "1", "*"),
              policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\NativeMessagingAllowlist", "1",
                     kNativeHostName)),
         removePolicies, false, "ok: Chrome policy: ", "none stops", 0},
        // The machine's policy wins over the user's, as in the browsers.
        {"native messaging blocked for every host by the user, for another by the machine",
         both(policy(HKEY_CURRENT_USER, "Google\\Chrome\\NativeMessagingBlocklist", "1", "*"),
              policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\NativeMessagingBlocklist", "1",
                     "com.example.other")),
         removePolicies, false, "ok: Chrome policy: ", "none stops", 0},
        {"our host blocked by the policy's older name, for the user",
         policy(HKEY_CURRENT_USER, "Microsoft\\Edge\\NativeMessagingBlacklist", "1",
                kNativeHostName),
         removePolicies, false, "problem: Edge policy: ",
         "NativeMessagingBlacklist (HKCU\\Software\\Policies\\Microsoft\\Edge\\"
         "NativeMessagingBlacklist) names \"com.webcorvane.handoff\": Edge refuses to start our "
         "host. Fix: ask your administrator to take com.webcorvane.handoff out of "
         "NativeMessagingBlacklist.",
         2},
        {"user-level hosts off, host registered for the user alone",
         both(userHost,
              [&] {
                  PutValue(HKEY_LOCAL_MACHINE, "Software\\Policies\\Google\\Chrome",
                           "NativeMessagingUserLevelHosts", REG_DWORD, std::string(4, '\0'));
              }),
         removePolicies, false, "problem: Chrome host: ",
         "registered for the user alone, and NativeMessagingUserLevelHosts (HKLM\\Software\\"
         "Policies\\Google\\Chrome \"NativeMessagingUserLevelHosts\") turns hosts registered for "
         "the "
         "user off: Chrome cannot start the host, and every download stays with it. Fix: install "
         "the package, which registers the host for the machine.",
         2},
        {"user-level hosts off, host registered for the user and the machine",
         both(installHost(goodManifest, true, {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}),
              [&] {
                  PutValue(HKEY_LOCAL_MACHINE, "Software\\Policies\\Google\\Chrome",
                           "NativeMessagingUserLevelHosts", REG_DWORD, std::string(4, '\0'));
              }),
         removePolicies, false, "ok: Chrome host: ",
         "uses " + machine + "\\Software\\Google\\Chrome" + hostKey +
             " (2 found; NativeMessagingUserLevelHosts turns the user's off)",
         0},
        {"every extension blocked from install",
         policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\ExtensionInstallBlocklist", "1", "*"),
         removePolicies, false, "problem: Chrome policy: ",
         "ExtensionInstallBlocklist (HKLM\\Software\\Policies\\Google\\Chrome\\"
         "ExtensionInstallBlocklist) names \"*\": Chrome refuses our extension (" +
             ours + "). Fix: ask your administrator to add " + ours +
             " to ExtensionInstallAllowlist, or to install it by ExtensionInstallForcelist.",
         2},
        {"every extension blocked but ours, force-installed",
         both(policy(HKEY_LOCAL_MACHINE, "Google\\Chrome\\ExtensionInstallBlocklist", "1", "*"),
              policy(HKEY_LOCAL_MACHINE, "Google\\Chrome", "ExtensionInstallForcelist",
                     "[" + forced + "]")),
         removePolicies, false, "ok: Chrome policy: ", "none stops", 0},
        {"our extension blocked by ExtensionSettings",
         policy(HKEY_LOCAL_MACHINE, "Microsoft\\Edge", "ExtensionSettings",
                "{" + blockedSettings + "}"),
         removePolicies, false, "problem: Edge policy: ",
         "ExtensionSettings (HKLM\\Software\\Policies\\Microsoft\\Edge \"ExtensionSettings\") sets "
         "\"installation_mode\": \"blocked\" for it: Edge refuses our extension (" +
             ours +
             "). Fix: ask your administrator to set \"installation_mode\": \"allowed\" for " +
             ours + " in ExtensionSettings.",
         2},
        // A list policy may also be one string value holding a JSON array.
        {"Brave installed, our extension blocked by a list in one value",
         both(appPath("brave.exe",
                      "C:\\Users\\u\\AppData\\Local\\BraveSoftware\\Brave-Browser"
                      "\\Application\\brave.exe"),
              policy(HKEY_CURRENT_USER, "BraveSoftware\\Brave", "ExtensionInstallBlocklist",
                     "[" + idList + "]")),
         removePolicies, false, "problem: Brave policy: ",
         "ExtensionInstallBlocklist (HKCU\\Software\\Policies\\BraveSoftware\\Brave\\"
         "ExtensionInstallBlocklist) names it: Brave refuses our extension",
         2},
        // Firefox's own: ExtensionSettings as JSON or a key per add-on, below
        // HKLM or HKCU, or in policies.json beside Firefox; Extensions\Uninstall.
        {"Firefox refuses every add-on",
         policy(HKEY_LOCAL_MACHINE, "Mozilla\\Firefox", "ExtensionSettings",
                "{\"*\": {\"installation_mode\": \"blocked\"}}"),
         removePolicies, false, "problem: Firefox policy: ",
         "ExtensionSettings (HKLM\\Software\\Policies\\Mozilla\\Firefox \"ExtensionSettings\") "
         "sets "
         "\"installation_mode\": \"blocked\" for \"*\": Firefox refuses our add-on (" +
             std::string(kFirefoxExtensionId) +
             "). Fix: ask your administrator to set \"installation_mode\": \"allowed\" for " +
             kFirefoxExtensionId + " in ExtensionSettings.",
         2},
        {"Firefox refuses our add-on, by a key of its own",
         policy(HKEY_CURRENT_USER,
                std::string("Mozilla\\Firefox\\ExtensionSettings\\") + kFirefoxExtensionId,
                "installation_mode", "blocked"),
         removePolicies, false, "problem: Firefox policy: ",
         "ExtensionSettings (HKCU\\Software\\Policies\\Mozilla\\Firefox\\ExtensionSettings) sets "
         "\"installation_mode\": \"blocked\" for " +
             std::string(kFirefoxExtensionId),
         2},
        {"Firefox removes our add-on",
         policy(HKEY_LOCAL_MACHINE, "Mozilla\\Firefox\\Extensions\\Uninstall", "1",
                kFirefoxExtensionId),
         removePolicies, false, "problem: Firefox policy: ",
         "Extensions\\Uninstall "
         "(HKLM\\Software\\Policies\\Mozilla\\Firefox\\Extensions\\Uninstall) "
         "names " +
             std::string(kFirefoxExtensionId) + ": Firefox removes our add-on at every start",
         2},
        {"Firefox refuses our add-on in policies.json",
         both(appPath("firefox.exe", firefoxFolder + "\\firefox.exe"),
              [&] {
                  CreateDirectoryA(firefoxFolder.c_str(), nullptr);
                  CreateDirectoryA((firefoxFolder + "\\distribution").c_str(), nullptr);
                  WriteFileBytes(firefoxPolicies,
                                 std::string("{\"policies\": {\"ExtensionSettings\": {\"") +
                                     kFirefoxExtensionId +
                                     "\": {\"installation_mode\": \"blocked\"}}}}");
              }),
         removePolicies, false, "problem: Firefox policy: ",
         "ExtensionSettings (" + firefoxPolicies + ") sets \"installation_mode\": \"blocked\"", 2},
        // BlockExternalExtensions stops the packages' offer only: a warning.
        {"external extensions blocked",
         [&] {
             PutValue(HKEY_LOCAL_MACHINE, "Software\\Policies\\Google\\Chrome",
                      "BlockExternalExtensions", REG_DWORD, std::string("\x01\0\0\0", 4));
         },
         removePolicies, false, "warning: Chrome policy: ",
         "BlockExternalExtensions (HKLM\\Software\\Policies\\Google\\Chrome "
         "\"BlockExternalExtensions\") is 1: Chrome ignores the packages' offer of our extension. "
         "Fix: install the extension from its store, or ask your administrator to install it by "
         "ExtensionInstallForcelist.",
         1},
        // The extension's managed settings: the machine's value of a name
        // wins, a list is a subkey, and a value the schema refuses is named.
        {"managed settings for the machine and the user", managedSettings, removePolicies, false,
         "ok: Edge managed settings: ",
         "for " + ourId + ", set by your organization in " + edgeManaged +
             ": paused 1 (HKLM), skippedSites [intranet.example, corp.example] (HKCU)",
         1},
        {"a managed value the schema refuses", managedSettings, removePolicies, false,
         "warning: Edge managed settings: ",
         edgeManaged + ": bypassKey \"meta\" (HKCU) is not \"alt\", \"shift\", \"ctrl\" or "
                       "\"none\": the browser drops it, and the user's own setting applies",
         1},
        // Firefox found, its host not registered: a problem beside the line.
        {"managed settings in policies.json",
         both(appPath("firefox.exe", firefoxFolder + "\\firefox.exe"),
              [&] {
                  CreateDirectoryA(firefoxFolder.c_str(), nullptr);
                  CreateDirectoryA((firefoxFolder + "\\distribution").c_str(), nullptr);
                  WriteFileBytes(firefoxPolicies,
                                 std::string("{\"policies\": {\"3rdparty\": {\"Extensions\": {\"") +
                                     kFirefoxExtensionId +
                                     "\": {\"minimumSizeBytes\": 1048576, \"paused\": false}}}}}");
              }),
         removePolicies, false, "ok: Firefox managed settings: ",
         std::string("for ") + kFirefoxExtensionId + ", set by your organization in " +
             firefoxPolicies + " \"3rdparty\": minimumSizeBytes 1048576 (policies.json), paused "
                               "false (policies.json)",
         2},
        {"clean again", none, none, false,
         "ok: system: Windows 6.1: ", "the download manager's road is off", 0},
    };
    for (const Row& row : rows) {
        row.fault();
        CheckOptions options;
        options.createAgent = row.createAgent;
        const CheckReport report = CheckInstallation(options);
        row.undo();
        bool seen = false;
        std::istringstream lines(report.text);
        for (std::string line; std::getline(lines, line);)
            seen = seen || (line.rfind(row.starts, 0) == 0 && line.find(row.says) != line.npos);
        EXPECT_TRUE(seen) << row.name << ": no line \"" << row.starts << "..." << row.says
                          << "...\" in\n"
                          << report.text;
        EXPECT_EQ(row.status, report.exitStatus) << row.name << ":\n" << report.text;
    }

    // The whole check, every browser's keys and policies included, stays
    // quick: a user runs it while waiting for an answer.
    const DWORD start = GetTickCount();
    CheckInstallation(CheckOptions());
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 1000u) << "the check took " << elapsed << " ms";
    std::printf("installation check: %lu ms\n", static_cast<unsigned long>(elapsed));
}

}  // namespace
