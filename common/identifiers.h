#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The library's own identifiers.
extern const CLSID CLSID_WebCorvaneIEHelper;  // {00000AAA-A363-466E-BEF5-9BB68697AA7F}
extern const CLSID CLSID_VDownloadManager;    // {15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}
extern const IID IID_IWebCorvaneIEHelper;     // {D01732E3-7841-438C-9232-0A876B19107A}
extern const GUID LIBID_WebCorvaneBHO;        // {EB9F911B-5E47-497C-8DA3-ECBFC9FB1F68}

// The platform's, spelled out here so that nothing depends on which of them
// a given SDK's uuid library happens to carry.
extern const IID
    IID_DownloadManagerInterface;     // IDownloadManager {988934A4-064B-11D3-BB80-00104B35E7F9}
extern const IID IID_ObjectWithSite;  // {FC4801A3-2BA9-11CF-A229-00AA003D7352}
extern const IID IID_ObjectSafety;    // {CB5BDC81-93C1-11CF-8F20-00805F2CD064}
extern const IID IID_WebBrowser2;     // {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
extern const IID IID_ConnectionPointContainer;  // {B196B284-BAB4-101A-B69C-00AA00341D07}
extern const IID DIID_WebBrowserEvents2;        // {34A715A0-6587-11D0-924A-0020AFC7AC4D}

// The automation marshaler, named as the proxy/stub of type-library interfaces.
constexpr const char kAutomationMarshalerText[] = "{00020424-0000-0000-C000-000000000046}";

// The browser extension for Chromium's family (Chrome, Edge and the rest) and
// the native messaging host it talks to. The ID follows from the "key" of
// extension/manifest.json (the extension loaded unpacked).
constexpr const char kNativeHostName[] = "com.webcorvane.handoff";
constexpr const char kChromiumExtensionId[] = "kcoknpeidlbnejabegefbjfpabheffnk";
// The same extension as each store publishes it: a store gives the item an ID
// of its own. Empty until a release names them (cmake/extension_ids.cmake).
extern const char kChromeWebStoreExtensionId[];
extern const char kEdgeAddOnsExtensionId[];
// Every ID the host's manifest for Chromium's family allows: ours, then each
// store's that was given, each once.
std::vector<std::string> ChromiumExtensionIds();
// The same extension in Firefox (browser_specific_settings.gecko.id), which a
// host manifest for Firefox allows by "allowed_extensions".
constexpr const char kFirefoxExtensionId[] = "webcorvane@corvane.com";
