#pragma once

#include <windows.h>

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

    // The path of "UserConfig.ini" beside this library; false when the
    // library's directory cannot be had or the path would not fit.
    static bool GetConfigurationPath(char (&buffer)[MAX_PATH]) noexcept;

    // How many times the configuration file was consulted in this process;
    // lets tests prove that a refused scheme costs no file read.
    static unsigned long ConfigurationReads() noexcept;
};
