#pragma once

#include <string>

// The hand-off policy's decision for one URL with its reasons, step by step,
// on the settings beside this program (the "UserConfig.ini" rule of the DLL
// and of the native messaging host, which read the one beside themselves).
struct Explanation {
    std::string text;  // the readable steps, one per line
    bool handedOver;   // the verdict: offered to the download agent
};

// A link in Internet Explorer or Maxthon: the library's road ("MonitorIE").
Explanation ExplainUrl(const std::string& url);

// A download Chrome or Edge holds, with the file name the browser proposes
// (it already reflects Content-Disposition; empty when it gave none): the
// native messaging host's road ("MonitorBrowsers").
Explanation ExplainDownload(const std::string& fileName, const std::string& url);
