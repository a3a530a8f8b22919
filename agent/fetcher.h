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

// Fetches `request.url`, following redirects, into `folder` (which ends in a
// backslash). The file is named by the server's Content-Disposition or the
// final URL (fetch_name.h), never overwriting one already there. Only a
// complete 2xx body counts as done; a failed fetch leaves no file.
FetchResult FetchIntoFolder(const FetchRequest& request, const std::wstring& folder) noexcept;
