#pragma once

#include <windows.h>
#include <exdisp.h>

#include <string>

// Read-only questions about the page a browser window shows. Every answer is
// a narrow string of the ANSI code page; whatever cannot be read is the empty
// string. Each accepts a null browser (a helper object not yet sited).
//
// A browser string that cannot be converted raises HResultError; the
// references held on the way are released as it passes.

// The URL the browser currently shows.
std::string GetPageUrl(IWebBrowser2* browser);

// The address of the document's focused element when that element is a link
// (answers IHTMLAnchorElement).
std::string GetFocusedLinkUrl(IWebBrowser2* browser);

// The text of the document's focused element when its tag is "A" or "a",
// limited to kMaxLinkTextBytes.
std::string GetFocusedLinkText(IWebBrowser2* browser);

// The cookie string the browser's WinINet holds for `url`, as WinINet gives it.
std::string GetCookiesForUrl(const std::string& url);

// The longest link text handed on, in bytes of the ANSI code page. A longer
// text is cut at a character boundary, never inside a double-byte character.
constexpr size_t kMaxLinkTextBytes = 1023;
