#pragma once

// The hand-off decision with its reasons, for both roads to the download
// agent: the library's (a link the browser's navigation events show) and the
// native messaging host's (a download Chrome or Edge already holds). The
// settings are asked for only when the decision gets that far, so a URL of
// another scheme reads nothing. The URL explainer prints the steps; the
// library and the host act on the verdict. No Windows header: the string
// rules live in url_policy.h, the settings file's reading in handoff_policy.h.

#include "handoff/url_policy.h"

#include <string>

// The settings file beside the program, its section and its keys.
constexpr char kConfigurationFile[] = "UserConfig.ini";
constexpr char kSettingsSection[] = "Monitor";
constexpr char kSwitchKey[] = "MonitorIE";                // the library's road
constexpr char kBrowsersSwitchKey[] = "MonitorBrowsers";  // the host's road
constexpr char kListKey[] = "ExtendNames";

// Exactly 1 is on, for either switch.
inline bool IsSwitchOn(int monitorValue) noexcept {
    return monitorValue == 1;
}

enum class PolicyRoad {
    // A link in Internet Explorer or Maxthon: its URL decides, "MonitorIE".
    kLibrary,
    // A download held by a Chromium browser: the final URL's scheme, the
    // proposed file name's extension (the final URL's when there is no
    // name), "MonitorBrowsers". The library's rule about "?" does not apply:
    // the browser already holds a file.
    kBrowsers,
    // A link the user sent from a browser ("Download with", or a download
    // the browser kept): the scheme alone decides. The user asked, so
    // neither "MonitorBrowsers" nor the list is read.
    kUserAsked,
};

// The switch that road reads.
const char* SwitchKeyOf(PolicyRoad road) noexcept;

// The settings a decision reads, each asked for at most once and only when
// the decision needs it.
class PolicySettings {
  public:
    // False when the settings file's path cannot be had: nothing is offered.
    virtual bool Locate() = 0;
    // The road's switch, 1 when not set.
    virtual int SwitchValue(PolicyRoad road) = 0;
    // "ExtendNames", or the default list, in UTF-8.
    virtual std::string ExtensionList() = 0;

  protected:
    ~PolicySettings() = default;
};

struct PolicyDecision {
    enum Reason {
        kAllowed,
        kUnsupportedScheme,  // not a scheme the agent fetches (blob:, data:, file:, ...)
        kNoSettings,         // the settings file's path cannot be had
        kSwitchOff,
        kNotInList,  // `extension` says why
    };
    Reason reason = kUnsupportedScheme;
    bool allows = false;
    PolicyRoad road = PolicyRoad::kLibrary;
    // The supported scheme the URL begins with; null when none.
    const char* scheme = nullptr;
    // Read once the scheme passed and the settings were found.
    bool switchRead = false;
    int switchValue = 1;
    // Read once the switch is on.
    bool listRead = false;
    std::string list;
    // What the extension was looked for in: the URL, or on the browsers'
    // road the proposed file name when there is one.
    bool extensionFromFileName = false;
    std::string extensionSubject;
    ExtensionVerdict extension{ExtensionVerdict::kNoDot, false, {}};
};

// The steps in order (scheme, settings, switch, list, extension), stopping at
// the first that refuses; on the user's road, the scheme alone. `fileName`
// counts on the browsers' road only.
PolicyDecision DecidePolicy(PolicyRoad road, const std::string& url, const std::string& fileName,
                            PolicySettings& settings);
