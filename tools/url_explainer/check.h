#pragma once

#include <string>
#include <vector>

// The installation check: everything around the policy that decides whether a
// click can reach the download agent, inspected as the browser of this
// program's bitness sees it, with the library's own names and rules.

struct Finding {
    enum Level { kOk, kWarning, kProblem };
    Level level;
    std::string subject;  // what was checked: "helper class", "DownloadUI", ...
    std::string found;    // what the check found
    std::string fix;      // one sentence; empty when all is well
};

struct CheckOptions {
    // Also create the agent and time it (a check never hands it a URL).
    bool createAgent = false;
};

struct CheckReport {
    std::vector<Finding> findings;
    std::string text;  // one line per finding, then a summary
    int exitStatus;    // 0 all well, 1 warnings, 2 a problem
};

CheckReport CheckInstallation(const CheckOptions& options);

// "ok: subject: found", or "warning: ..." / "problem: ..." with ". Fix: ...".
std::string FormatFinding(const Finding& finding);
