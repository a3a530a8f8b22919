#pragma once

// The policies of a browser's maker below HKLM and HKCU (the machine's win),
// under `key` (native_host/browser_keys.h), each by its name or an older one.

#include "tools/url_explainer/browser_policies.h"

#include <string>

ChromiumPolicies ReadChromiumPolicies(const char* key);
// Firefox's, and then those of the policies.json beside `firefoxProgram`
// (empty when Firefox was not found), for what the registry does not set.
FirefoxPolicies ReadFirefoxPolicies(const char* key, const std::string& firefoxProgram);
