#pragma once

#include <windows.h>

struct IDownloadAgent;

// One hand-off of one URL to the download agent. Callers make one as a local
// object for a single hand-off; nothing survives from one to the next.
class DownloadHandoff {
  public:
    DownloadHandoff() = default;
    virtual ~DownloadHandoff() = default;

    // This library's directory with its trailing backslash, in `buffer`.
    static bool GetModuleDirectory(char (&buffer)[MAX_PATH]) noexcept;
    static bool IsSupportedUrl(const char* url) noexcept;

    // "MonitorIE" of "UserConfig.ini", read afresh: exactly 1 is on.
    bool IsMonitorEnabled() noexcept;
    // "ExtendNames", or the default list, into `buffer` of `size` bytes.
    bool GetExtensionList(char* buffer, DWORD size) noexcept;
    bool MatchesExtension(const char* url, const char* list) noexcept;

    // The policy of one decision: the scheme, then the switch, the extension
    // list and the extension, stopping at the first that refuses. Past the
    // scheme it reads "UserConfig.ini" twice, before it never.
    bool PolicyAllows(const char* url) noexcept;

    // Offers a URL that PolicyAllows took to the agent. True exactly when the
    // agent answered 1. Never throws.
    bool OfferToAgent(const char* url, const char* comment, const char* referrer,
                      const char* cookie) noexcept;

    // The policy, then, when it allows, the offer.
    bool SendToAgent(const char* url, const char* comment, const char* referrer,
                     const char* cookie) noexcept;

    // The settings file beside the library, its section and its two keys.
    static constexpr char kConfigurationFile[] = "UserConfig.ini";
    static constexpr char kSettingsSection[] = "Monitor";
    static constexpr char kSwitchKey[] = "MonitorIE";
    static constexpr char kListKey[] = "ExtendNames";

    // The path of "UserConfig.ini" beside this library; false when the
    // library's directory cannot be had or the path would not fit.
    static bool GetConfigurationPath(char (&buffer)[MAX_PATH]) noexcept;
    // The same for a library in `directory` (which ends in a backslash).
    static bool GetConfigurationPathIn(const char* directory, char (&buffer)[MAX_PATH]) noexcept;

    // The settings of the file at `path` as the policy reads them: "MonitorIE"
    // with its default 1, of which exactly 1 is on; "ExtendNames", or the
    // default list, into `buffer` of `size` bytes.
    static int ReadMonitorValue(const char* path) noexcept;
    static bool IsSwitchOn(int monitorValue) noexcept { return monitorValue == 1; }
    static void ReadExtensionList(const char* path, char* buffer, DWORD size) noexcept;

    // The download agent as every hand-off reaches it: its ProgID resolved
    // afresh, then created in a process of its own for IDownloadAgent. Each
    // answers the platform's HRESULT.
    static const wchar_t kAgentProgId[];
    static HRESULT ResolveAgent(CLSID& agentClass) noexcept;
    static HRESULT CreateAgent(REFCLSID agentClass, IDownloadAgent** agent) noexcept;

    // How many times the configuration file was consulted in this process;
    // lets tests prove that a refused scheme costs no file read.
    static unsigned long ConfigurationReads() noexcept;
};
