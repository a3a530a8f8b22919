#pragma once

// The hand-off policy where the decision of policy_decision.h meets
// "UserConfig.ini" beside the program (the library, the native messaging
// host or the URL explainer: the module common's moduleInstance names, the
// program itself while it is unset). The
// file is read afresh at every decision and never written. URLs are UTF-8
// (common/string_conversion.h).

#include "handoff/policy_decision.h"

#include <windows.h>

#include <string>

// The path of "UserConfig.ini" in `directory` (which ends in a backslash);
// false when it would not fit MAX_PATH characters.
bool ConfigurationPathIn(const std::wstring& directory, std::wstring& path);
// The same beside this module; false also when its folder cannot be had.
bool ConfigurationPath(std::wstring& path);

// The switch `key` of the file at `path`, 1 when it is not set.
int ReadSwitchValue(const std::wstring& path, const char* key);
// "MonitorIE", the library's switch.
inline int ReadMonitorValue(const std::wstring& path) {
    return ReadSwitchValue(path, kSwitchKey);
}
// "ExtendNames" of the file at `path`, or the default list, in UTF-8. The
// profile functions read the file in its own code page, so an entry typed in
// it matches the same characters in a URL. Only the first
// kExtensionListBufferSize - 1 characters are read.
std::string ReadExtensionList(const std::wstring& path);

// The decision with its reasons, on the settings beside this module. Past
// the scheme it reads the file at most twice (the switch, then the list),
// before it never.
PolicyDecision DecideHandOff(PolicyRoad road, const std::string& url,
                             const std::string& fileName = std::string());

// The library's decision for a link: DecideHandOff's verdict on its road.
bool PolicyAllows(const std::string& url);

// Where the values a decision read came from: the file, or the default
// because the file, the section or the key is missing. Three more reads of
// the file: for the explainer, never on a decision's way.
struct SettingSources {
    bool fileExists = false;
    bool switchFromFile = false;
    bool listFromFile = false;
};
SettingSources ReadSettingSources(const std::wstring& path, PolicyRoad road);
