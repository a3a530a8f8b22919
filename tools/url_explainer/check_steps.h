#pragma once

// The installation check's parts and what they share. Every part adds its
// findings in the order it checks.

#include "tools/url_explainer/check.h"

#include <windows.h>

#include <string>
#include <vector>

// What the later parts learn from the class registration.
struct Installation {
    std::string toolDirectory;  // this program's folder, with its backslash
    std::string helperDll;      // the helper's InprocServer32 in this view, or empty
    std::string otherViewDll;   // the same in the other bitness's view, or empty
};

// The helper and the download manager classes: registered, their file there,
// of this bitness, the one beside this program or another.
void CheckClasses(Installation& installation, std::vector<Finding>& findings);
// The Browser Helper Objects key, the add-on state, third-party extensions
// and "DownloadUI".
void CheckBrowser(std::vector<Finding>& findings);
void CheckAgent(bool createAgent, std::vector<Finding>& findings);
// "UserConfig.ini" beside the DLL the browser loads, its switch and its list.
void CheckSettings(const Installation& installation, std::vector<Finding>& findings);
void CheckMaxthon(std::vector<Finding>& findings);
// Enhanced Protected Mode and whether the helper is marked compatible with it;
// Edge's Internet Explorer mode; Active Setup's per-user step of a
// machine-wide install.
void CheckProtectedTabs(std::vector<Finding>& findings);
void CheckIeMode(std::vector<Finding>& findings);
void CheckUserParts(const Installation& installation, std::vector<Finding>& findings);
void CheckSystem(std::vector<Finding>& findings);
// The browsers our extension serves: which are installed; for each, the
// native messaging host it finds (user or machine), its manifest readable,
// the program it names there with its switch, our extension allowed, and the
// policies that stop the host or the extension.
void CheckExtensionBrowsers(std::vector<Finding>& findings);

// Registry reading for the parts. A view flag (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY) reads the other bitness's keys; 0 reads this program's.
// A string value need not carry its terminating zero.
bool ReadRegistryString(HKEY root, const std::string& key, const char* value, std::string& text,
                        REGSAM view = 0);
bool ReadRegistryDword(HKEY root, const std::string& key, const char* value, DWORD& data);
bool RegistryKeyExists(HKEY root, const std::string& key);
// "HKCU", "HKLM" or "HKCR".
std::string RootName(HKEY root);

// The view flag of the other bitness, or 0 when this system has none.
REGSAM OtherRegistryView();
// "32-bit" or "64-bit": this program's, and the other one.
const char* ThisBitness();
const char* OtherBitness();

bool FileExists(const std::string& path);
// A whole file of at most `limit` bytes; false when it is larger or unreadable.
bool ReadSmallFile(const std::string& path, DWORD limit, std::string& text);
// "0x80040154".
std::string HresultText(long hr);
