#include "browser/page_inspection.h"

#include "common/string_conversion.h"
#include "tests/support/fake_browser.h"

#include <gtest/gtest.h>

#include <wininet.h>

#include <cwchar>
#include <functional>
#include <string>

namespace {

// Every fake a test creates must be gone when the test's own holders are.
class PageInspection : public testing::Test {
  protected:
    void SetUp() override { liveAtStart_ = FakeObject::LiveCount(); }
    void TearDown() override { EXPECT_EQ(liveAtStart_, FakeObject::LiveCount()); }

  private:
    long liveAtStart_ = 0;
};

// A browser showing a document whose focused element is `element`. The test
// holds one reference on each; the browser holds the document, the document
// the element.
struct Page {
    ComPtr<FakeElement> element;
    ComPtr<FakeDocument> document;
    ComPtr<FakeBrowser> browser;

    explicit Page(ComPtr<FakeElement> focused) : element(std::move(focused)) {
        document = MakeFake<FakeDocument>(element ? element->AsElement() : nullptr);
        browser = MakeFake<FakeBrowser>(L"http://host/page.html", document.Get());
    }

    // Nothing taken by the code under test is still held, nothing released twice.
    void ExpectOnlyOwnReferences() const {
        EXPECT_EQ(1u, browser->RefCount());
        EXPECT_EQ(browser->document.object ? 2u : 1u, document->RefCount());
        if (element) {
            EXPECT_EQ(document->activeElement.object ? 2u : 1u, element->RefCount());
        }
    }
};

ComPtr<FakeElement> Link(const wchar_t* text = L"Get it", const wchar_t* href = L"http://h/f.zip") {
    ComPtr<FakeElement> element = MakeFake<FakeElement>(L"A", text, true);
    element->href = StringAnswer::Text(href);
    return element;
}

std::wstring Repeat(const std::wstring& piece, size_t times) {
    std::wstring result;
    for (size_t i = 0; i < times; ++i)
        result += piece;
    return result;
}

}  // namespace

TEST_F(PageInspection, NullBrowserGivesEmptyAnswers) {
    EXPECT_EQ("", GetPageUrl(nullptr));
    EXPECT_EQ("", GetFocusedLinkUrl(nullptr));
    EXPECT_EQ("", GetFocusedLinkText(nullptr));
}

TEST_F(PageInspection, PageUrlIsWhateverLocationUrlGives) {
    struct Case {
        const char* name;
        StringAnswer answer;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", StringAnswer::Text(L"http://host/a.html"), "http://host/a.html"},
        {"outside ASCII", StringAnswer::Text(L"http://host/caf\u00e9"), "http://host/caf\xc3\xa9"},
        {"empty", StringAnswer::Text(L""), ""},
        {"null", StringAnswer::Null(), ""},
        {"failed, nothing written", StringAnswer::Failure(), ""},
        // The HRESULT is not looked at: a string handed out with a failure counts.
        {"failed with a string",
         {E_FAIL, StringAnswer::Output::Text, L"http://host/b"},
         "http://host/b"},
        {"embedded zero", StringAnswer::Text(std::wstring(L"http://a\0b", 10)), "http://a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<FakeBrowser> browser = MakeFake<FakeBrowser>();
        browser->locationUrl = c.answer;
        EXPECT_EQ(c.expected, GetPageUrl(browser.Get()));
        EXPECT_EQ(1, browser->locationUrlCalls);
        EXPECT_EQ(0, browser->documentCalls);
        EXPECT_EQ(1u, browser->RefCount());
    }
}

// Every way of not reaching a focused element: both link answers are empty,
// the page URL is still read, and whatever was handed out on the way (even
// alongside a failure) is released.
TEST_F(PageInspection, NoFocusedElementGivesNoLink) {
    struct Case {
        const char* name;
        std::function<void(Page&)> breakIt;
    };
    const Case cases[] = {
        {"get_Document fails",
         [](Page& p) {
             p.browser->document.written = false;
             p.browser->document.result = E_FAIL;
         }},
        {"get_Document fails but hands out the document",
         [](Page& p) { p.browser->document.result = E_FAIL; }},
        {"get_Document gives null", [](Page& p) { p.browser->document.Hold(nullptr); }},
        {"document without IHTMLDocument2", [](Page& p) { p.document->isHtmlDocument = false; }},
        {"get_activeElement fails",
         [](Page& p) {
             p.document->activeElement.written = false;
             p.document->activeElement.result = E_FAIL;
         }},
        {"get_activeElement fails but hands out the element",
         [](Page& p) { p.document->activeElement.result = E_FAIL; }},
        {"no active element", [](Page& p) { p.document->activeElement.Hold(nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page(Link());
        c.breakIt(page);
        EXPECT_EQ("", GetFocusedLinkUrl(page.browser.Get()));
        EXPECT_EQ("", GetFocusedLinkText(page.browser.Get()));
        EXPECT_EQ("http://host/page.html", GetPageUrl(page.browser.Get()));
        EXPECT_EQ(2, page.browser->documentCalls);
        EXPECT_EQ(0, page.element->innerTextCalls);
        EXPECT_EQ(0, page.element->hrefCalls);
        page.ExpectOnlyOwnReferences();
    }
}

// The text is decided by the tag name alone, the address by the anchor
// interface alone.
TEST_F(PageInspection, LinkTextByTagAndAddressByAnchorInterface) {
    struct Case {
        const char* name;
        StringAnswer tag;
        bool anchor;
        StringAnswer text;
        StringAnswer href;
        std::string expectedText;
        std::string expectedUrl;
    };
    const StringAnswer failed = StringAnswer::Failure();
    const StringAnswer null = StringAnswer::Null();
    auto text = [](const wchar_t* t) { return StringAnswer::Text(t); };
    const Case cases[] = {
        {"A with anchor", text(L"A"), true, text(L"Get it"), text(L"http://h/f.zip"), "Get it",
         "http://h/f.zip"},
        {"lower-case a", text(L"a"), true, text(L"Get it"), text(L"http://h/f.zip"), "Get it",
         "http://h/f.zip"},
        {"A without anchor", text(L"A"), false, text(L"Get it"), text(L"http://h/f.zip"), "Get it",
         ""},
        {"anchor under SPAN", text(L"SPAN"), true, text(L"Get it"), text(L"http://h/f.zip"), "",
         "http://h/f.zip"},
        {"other tag", text(L"DIV"), false, text(L"Get it"), null, "", ""},
        {"tag starting with A", text(L"ABBR"), false, text(L"Get it"), null, "", ""},
        {"tag with a space", text(L"A "), false, text(L"Get it"), null, "", ""},
        {"empty tag", text(L""), false, text(L"Get it"), null, "", ""},
        {"null tag", null, true, text(L"Get it"), text(L"http://h/f.zip"), "", "http://h/f.zip"},
        {"tag fails", failed, false, text(L"Get it"), null, "", ""},
        {"tag cut at a zero", StringAnswer::Text(std::wstring(L"A\0BBR", 5)), false,
         text(L"Get it"), null, "Get it", ""},
        {"empty text", text(L"A"), true, text(L""), text(L"http://h/f.zip"), "", "http://h/f.zip"},
        {"null text", text(L"A"), true, null, text(L"http://h/f.zip"), "", "http://h/f.zip"},
        {"text fails", text(L"A"), true, failed, text(L"http://h/f.zip"), "", "http://h/f.zip"},
        {"text with a failure still counts",
         text(L"A"),
         false,
         {E_FAIL, StringAnswer::Output::Text, L"Get it"},
         null,
         "Get it",
         ""},
        {"text cut at a zero", text(L"A"), false, StringAnswer::Text(std::wstring(L"Get\0it", 6)),
         null, "Get", ""},
        {"text outside ASCII", text(L"A"), false, text(L"T\u00e9l\u00e9charger \u20ac"), null,
         "T\xc3\xa9l\xc3\xa9"
         "charger \xe2\x82\xac",
         ""},
        {"null href", text(L"A"), true, text(L"Get it"), null, "Get it", ""},
        {"href fails", text(L"A"), true, text(L"Get it"), failed, "Get it", ""},
        {"href with a failure still counts",
         text(L"SPAN"),
         true,
         null,
         {E_FAIL, StringAnswer::Output::Text, L"http://h/g.zip"},
         "",
         "http://h/g.zip"},
        {"href cut at a zero", text(L"A"), true, text(L"Get it"),
         StringAnswer::Text(std::wstring(L"http://h/\0x.zip", 15)), "Get it", "http://h/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page(MakeFake<FakeElement>(L"", L"", c.anchor));
        page.element->tagName = c.tag;
        page.element->innerText = c.text;
        page.element->href = c.href;
        EXPECT_EQ(c.expectedText, GetFocusedLinkText(page.browser.Get()));
        EXPECT_EQ(c.expectedUrl, GetFocusedLinkUrl(page.browser.Get()));
        // The text of an element whose tag is not a link's is never asked for.
        const std::wstring tag = c.tag.output == StringAnswer::Output::Text ? c.tag.text : L"";
        const bool linkTag = wcscmp(tag.c_str(), L"A") == 0 || wcscmp(tag.c_str(), L"a") == 0;
        EXPECT_EQ(linkTag ? 1 : 0, page.element->innerTextCalls);
        EXPECT_EQ(c.anchor ? 1 : 0, page.element->hrefCalls);
        page.ExpectOnlyOwnReferences();
    }
}

// The text is kept in UTF-8 and cut at 1023 bytes, back to the start of the
// character the cut would split: never inside one, never inside a pair.
TEST_F(PageInspection, LinkTextIsCutAt1023BytesAtAWholeCharacter) {
    auto repeat = [](const std::string& piece, size_t times) {
        std::string result;
        for (size_t i = 0; i < times; ++i)
            result += piece;
        return result;
    };
    const std::string eAcute = "\xc3\xa9", xia = "\xe4\xb8\x8b", smile = "\xf0\x9f\x98\x80";
    struct Case {
        const char* name;
        std::wstring text;
        std::string expected;
    };
    const Case cases[] = {
        {"1023 bytes pass whole", Repeat(L"x", 1023), std::string(1023, 'x')},
        {"1024 bytes lose the last", Repeat(L"x", 1024), std::string(1023, 'x')},
        {"two-byte characters", Repeat(L"\u00e9", 1024), repeat(eAcute, 511)},
        {"three-byte characters end at 1023", Repeat(L"\u4e0b", 341), repeat(xia, 341)},
        {"three-byte character across the cut", L"x" + Repeat(L"\u4e0b", 600),
         "x" + repeat(xia, 340)},
        {"surrogate pair ends at 1023", Repeat(L"x", 1019) + L"\U0001F600",
         std::string(1019, 'x') + smile},
        {"surrogate pair across the cut", Repeat(L"x", 1020) + L"\U0001F600y",
         std::string(1020, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page(Link(c.text.c_str()));
        EXPECT_EQ(c.expected, GetFocusedLinkText(page.browser.Get()));
        page.ExpectOnlyOwnReferences();
    }
}

TEST_F(PageInspection, CookiesAreWhatWinInetHolds) {
    ASSERT_TRUE(InternetSetCookieA("http://cookie.test/path", nullptr, "alpha=1"));
    ASSERT_TRUE(InternetSetCookieA("http://cookie.test/path", "beta", "two"));
    EXPECT_EQ(L"alpha=1; beta=two", GetCookiesForUrl(L"http://cookie.test/path"));
    EXPECT_EQ(L"alpha=1; beta=two", GetCookiesForUrl(L"http://cookie.test/path/deeper"));
    EXPECT_EQ(L"", GetCookiesForUrl(L"http://nocookie.test/path"));
    EXPECT_EQ(L"", GetCookiesForUrl(L""));
}

TEST_F(PageInspection, LongCookiesComeBackWhole) {
    const std::string value(3000, 'v');
    ASSERT_TRUE(InternetSetCookieA("http://longcookie.test/", "big", value.c_str()));
    EXPECT_EQ(L"big=" + std::wstring(3000, L'v'), GetCookiesForUrl(L"http://longcookie.test/"));
}
