#include "browser/page_inspection.h"

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/string_conversion.h"

#include <mshtml.h>
#include <wininet.h>

#include <cstring>
#include <memory>
#include <new>

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

// Cuts `text` to at most `maxBytes`, at the end of the last whole character
// that fits: a lead byte of the ANSI code page and its trail byte stay
// together. In a single-byte code page this is exactly the first `maxBytes`.
void CutAtCharacterBoundary(std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return;
    size_t end = 0;
    while (end < text.size()) {
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[end])) != FALSE;
        const size_t next = end + (lead && end + 1 < text.size() ? 2 : 1);
        if (next > maxBytes)
            break;
        end = next;
    }
    text.resize(end);
}

}  // namespace

std::string GetPageUrl(IWebBrowser2* browser) {
    if (browser == nullptr)
        return std::string();
    Bstr url;
    // Only the string counts: a browser may answer a failure and still give
    // its URL, or succeed with none.
    browser->get_LocationURL(url.Receive());
    return WideToNarrow(url.Get());
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
    return WideToNarrow(href.Get());
}

std::string GetFocusedLinkText(IWebBrowser2* browser) {
    ComPtr<IHTMLElement> element = GetActiveElement(browser);
    if (!element)
        return std::string();
    // Being a link is decided by the tag alone, not by the anchor interface.
    // A call that fails without writing its output leaves the holder null.
    Bstr tagName;
    element->get_tagName(tagName.Receive());
    const std::string tag = WideToNarrow(tagName.Get());
    if (tag != "A" && tag != "a")
        return std::string();
    Bstr innerText;
    element->get_innerText(innerText.Receive());
    std::string text = WideToNarrow(innerText.Get());
    CutAtCharacterBoundary(text, kMaxLinkTextBytes);
    return text;
}

std::string GetCookiesForUrl(const std::string& url) {
    DWORD size = 0;
    // Asks for the size only. A URL without cookies, the common case, reports
    // none: a second call could only fail on a buffer of no bytes, so it is
    // not made. WinINet's lookup is most of what an ordinary navigation costs.
    InternetGetCookieA(url.c_str(), nullptr, nullptr, &size);
    if (size == 0)
        return std::string();
    const DWORD capacity = size;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
    if (!buffer)
        return std::string();
    if (!InternetGetCookieA(url.c_str(), nullptr, buffer.get(), &size))
        return std::string();
    // The text ends at its first zero byte; never read past the buffer, even
    // should WinINet have left it unterminated.
    return std::string(buffer.get(), strnlen(buffer.get(), capacity));
}
