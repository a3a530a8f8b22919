#pragma once

// The host registered for the current user: the keys of our own that the
// browsers read (native_host/browser_keys.h), Chrome's (which every other
// Chromium browser reads too), Edge's and Mozilla's below HKCU, each naming the
// full path of the host's manifest beside the program: <name>.json for
// Chromium's family, <name>.firefox.json (which allows the extension by its
// Firefox ID) for Firefox.

#include <string>

// Each answers true when every key is as it should be; otherwise `error`
// says which was not and why.
bool RegisterForUser(std::string& error);
// Removes our keys and the parents we may have made, once they are empty,
// and the record of offers' outcomes; keys that are not there are no failure.
bool UnregisterForUser(std::string& error);
