#include "browser/page_inspection.h"

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/string_conversion.h"

#include <mshtml.h>
#include <wininet.h>

#include <string>

namespace {

// The focused element of the browser's document, or empty when there is no
// browser, no HTML document or no focused element.
ComPtr<IHTMLElement> GetActiveElement(IWebBrowser2* browser) {
    ComPtr<IHTMLElement> element;
    if (browser == nullptr)
        return element;
    ComPtr<IDispatch> document;
    if (FAILED(browser->get_Document(document.Receive())) || !document)
        return element;
    ComPtr<IHTMLDocument2> htmlDocument;
    htmlDocument.QueryFrom(document.Get(), IID_IHTMLDocument2);
    if (!htmlDocument)
        return element;
    // A failing call may still have handed out an element: the holder
    // releases it.
    if (FAILED(htmlDocument->get_activeElement(element.Receive())))
        element.Reset();
    return element;
}

// InternetGetCookieExW, which alone gives HttpOnly cookies, came with
// Internet Explorer 8: XP's WinINet may lack it, so it is looked up rather
// than imported.
using GetCookieEx = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD, DWORD, LPVOID);

GetCookieEx FindGetCookieEx() noexcept {
    const HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    if (wininet == nullptr)
        return nullptr;
    return reinterpret_cast<GetCookieEx>(
        reinterpret_cast<void*>(GetProcAddress(wininet, "InternetGetCookieExW")));
}

// One lookup: asks for the size first, then reads. WinINet's size is in
// characters for some versions and in bytes for others: a buffer of that
// many characters holds either.
template <typename Lookup>
std::wstring ReadCookie(Lookup&& lookup) {
    DWORD size = 0;
    lookup(nullptr, &size);  // only the size counts
    if (size == 0)
        return std::wstring();
    std::wstring buffer(size, L'\0');
    DWORD capacity = size;
    if (!lookup(&buffer[0], &capacity))
        return std::wstring();
    // The text ends at its first zero; never read past the buffer, even
    // should WinINet have left it unterminated.
    const std::size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos)
        buffer.resize(end);
    return buffer;
}

}  // namespace

std::string GetPageUrl(IWebBrowser2* browser) {
    if (browser == nullptr)
        return std::string();
    Bstr url;
    // Only the string counts: a browser may answer a failure and still give
    // its URL, or succeed with none.
    browser->get_LocationURL(url.Receive());
    return WideToUtf8(url.Get());
}

std::string GetFocusedLinkUrl(IWebBrowser2* browser) {
    ComPtr<IHTMLElement> element = GetActiveElement(browser);
    // Being a link is decided by the anchor interface alone, not by the tag.
    ComPtr<IHTMLAnchorElement> anchor;
    anchor.QueryFrom(element.Get(), IID_IHTMLAnchorElement);
    if (!anchor)
        return std::string();
    Bstr href;
    anchor->get_href(href.Receive());
    return WideToUtf8(href.Get());
}

std::string GetFocusedLinkText(IWebBrowser2* browser) {
    ComPtr<IHTMLElement> element = GetActiveElement(browser);
    if (!element)
        return std::string();
    // Being a link is decided by the tag alone, not by the anchor interface.
    // A call that fails without writing its output leaves the holder null.
    Bstr tagName;
    element->get_tagName(tagName.Receive());
    const std::string tag = WideToUtf8(tagName.Get());
    if (tag != "A" && tag != "a")
        return std::string();
    Bstr innerText;
    element->get_innerText(innerText.Receive());
    std::string text = WideToUtf8(innerText.Get());
    text.resize(WholeCharacterPrefix(text, kMaxLinkTextBytes));
    return text;
}

std::wstring GetCookiesForUrl(const std::wstring& url) {
    // Where the fuller lookup exists but fails (an older WinINet that knows
    // no HttpOnly flag), the plain one still gives the other cookies. A URL
    // without cookies, the common case, answers at the first question.
    if (const GetCookieEx getCookieEx = FindGetCookieEx()) {
        const std::wstring cookie = ReadCookie([&](LPWSTR buffer, DWORD* size) {
            return getCookieEx(url.c_str(), nullptr, buffer, size, INTERNET_COOKIE_HTTPONLY,
                               nullptr) != FALSE;
        });
        if (!cookie.empty())
            return cookie;
    }
    return ReadCookie([&](LPWSTR buffer, DWORD* size) {
        return InternetGetCookieW(url.c_str(), nullptr, buffer, size) != FALSE;
    });
}
