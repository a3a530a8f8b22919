#pragma once

// The hand-off policy: whether one URL may be offered to the download agent,
// by its scheme, the switch and the extension list of "UserConfig.ini" beside
// the library, and its extension. The file is read afresh at every decision
// and never written. URLs are UTF-8 (common/string_conversion.h); the string
// rules themselves live in url_policy.h.

#include <windows.h>

#include <string>

// The settings file beside the library, its section and its two keys.
constexpr char kConfigurationFile[] = "UserConfig.ini";
constexpr char kSettingsSection[] = "Monitor";
constexpr char kSwitchKey[] = "MonitorIE";
constexpr char kListKey[] = "ExtendNames";

// The path of "UserConfig.ini" in `directory` (which ends in a backslash);
// false when it would not fit MAX_PATH characters.
bool ConfigurationPathIn(const std::wstring& directory, std::wstring& path);
// The same beside this library; false also when its folder cannot be had.
bool ConfigurationPath(std::wstring& path);

// "MonitorIE" of the file at `path`, 1 when it is not set; exactly 1 is on.
int ReadMonitorValue(const std::wstring& path);
inline bool IsSwitchOn(int monitorValue) noexcept {
    return monitorValue == 1;
}
// "ExtendNames" of the file at `path`, or the default list, in UTF-8. The
// profile functions read the file in its own code page, so an entry typed in
// it matches the same characters in a URL. Only the first
// kExtensionListBufferSize - 1 characters are read.
std::string ReadExtensionList(const std::wstring& path);

// The decision: the scheme, then the switch, the list and the extension,
// stopping at the first that refuses. Past the scheme it reads the file
// twice, before it never.
bool PolicyAllows(const std::string& url);
