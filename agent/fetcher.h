#pragma once

// The agent's download: what it was handed, fetched as the browser would
// have fetched it, into a folder of its settings.

#include <windows.h>

#include <string>

struct FetchRequest {
    std::wstring url;
    std::wstring cookie;    // sent as the Cookie header when not empty
    std::wstring referrer;  // sent as the Referer header when not empty
};

struct FetchResult {
    bool done = false;
    DWORD httpStatus = 0;          // of the last response; 0 when none came
    unsigned long long bytes = 0;  // of the body received
    std::string sha256;            // lower-case hex of the saved file; empty unless done
    std::wstring fileName;         // the saved file's name in the folder; empty unless done
    std::string detail;            // why it failed; empty when done
};

// Fetches `request.url` into `folder` (which ends in a backslash), following
// redirects as a browser does: the cookie only to the host it was handed for,
// the referrer as the browser's default policy allows it to each new URL. The
// body goes to a file of the fetch's own, then takes the name the server's
// Content-Disposition or the final URL gives (fetch_name.h), never replacing
// a file already there. Only a complete 2xx body counts as done; a failed
// fetch leaves no file.
FetchResult FetchIntoFolder(const FetchRequest& request, const std::wstring& folder) noexcept;
