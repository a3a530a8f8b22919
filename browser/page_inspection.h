#pragma once

#include <windows.h>
#include <exdisp.h>

#include <string>

// Read-only questions about the page a browser window shows. Every answer is
// the browser's text in UTF-8 (common/string_conversion.h); whatever cannot
// be read is the empty string. Each accepts a null browser (a helper object
// not yet sited).
//
// Running short of memory raises HResultError; the references held on the
// way are released as it passes.

// The URL the browser currently shows.
std::string GetPageUrl(IWebBrowser2* browser);

// The address of the document's focused element when that element is a link
// (answers IHTMLAnchorElement).
std::string GetFocusedLinkUrl(IWebBrowser2* browser);

// The text of the document's focused element when its tag is "A" or "a",
// limited to kMaxLinkTextBytes.
std::string GetFocusedLinkText(IWebBrowser2* browser);

// The cookie string the browser's WinINet holds for `url`, as WinINet gives
// it, HttpOnly cookies included where WinINet offers them; empty when none.
std::wstring GetCookiesForUrl(const std::wstring& url);

// The longest link text handed on, in bytes of UTF-8. A longer text is cut
// at a whole character, never inside one or inside a surrogate pair.
constexpr size_t kMaxLinkTextBytes = 1023;
