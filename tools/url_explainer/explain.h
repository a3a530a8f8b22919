#pragma once

#include <string>

// Every step of the hand-off decision for one URL, with its reason, as the
// library takes it: the same policy code, the same "UserConfig.ini" rule (the
// file beside this program, as the DLL reads the one beside itself).
struct Explanation {
    std::string text;  // the readable steps, one per line
    bool handedOver;   // the verdict: offered to the download agent
};

Explanation ExplainUrl(const std::string& url);
