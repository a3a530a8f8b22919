#include "common/bstr.h"
#include "common/string_conversion.h"

#include <gtest/gtest.h>

TEST(StringConversion, NullAndEmptyAreTheEmptyString) {
    EXPECT_EQ("", WideToUtf8(nullptr));
    EXPECT_EQ("", WideToUtf8(L""));
    EXPECT_EQ(L"", Utf8ToWide(""));
}

// Every length of UTF-8 sequence, a surrogate pair, and unpaired surrogates,
// which the platform's converter would replace: each comes back unchanged.
TEST(StringConversion, RoundTripsEveryUtf16StringExactly) {
    struct Case {
        const char* name;
        std::wstring wide;
        std::string utf8;
    } const cases[] = {
        {"ASCII", L"http://host/a.zip", "http://host/a.zip"},
        {"two bytes", L"caf\u00e9", "caf\xc3\xa9"},
        {"three bytes", L"\u4e0b\uff0f", "\xe4\xb8\x8b\xef\xbc\x8f"},
        {"surrogate pair", L"\U0001F600", "\xf0\x9f\x98\x80"},
        {"lone high surrogate", std::wstring(1, wchar_t(0xD800)) + L"x", "\xed\xa0\x80x"},
        {"lone low surrogate", std::wstring(1, wchar_t(0xDC00)), "\xed\xb0\x80"},
        {"pair reversed", std::wstring{wchar_t(0xDC00), wchar_t(0xD800)},
         "\xed\xb0\x80\xed\xa0\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.utf8, WideToUtf8(c.wide));
        EXPECT_EQ(c.wide, Utf8ToWide(c.utf8));
    }
}

TEST(StringConversion, StopsAtAnEmbeddedZero) {
    const wchar_t wide[] = {L'a', L'b', 0, L'c', 0};
    EXPECT_EQ("ab", WideToUtf8(wide));
}

TEST(StringConversion, MalformedUtf8BecomesTheReplacementCharacter) {
    EXPECT_EQ(L"a\ufffdb", Utf8ToWide("a\xff"
                                      "b"));
    EXPECT_EQ(L"\ufffd\ufffd", Utf8ToWide("\xe4\xb8"));  // cut short: each byte
    EXPECT_EQ(L"\ufffd\ufffd", Utf8ToWide("\xc0\xaf"));  // overlong "/"
}

TEST(Bstr, FromWideCopiesEveryCharacter) {
    const std::wstring text(L"caf\u00e9\0x", 6);
    Bstr copy = Bstr::FromWide(text);
    ASSERT_NE(nullptr, copy.Get());
    EXPECT_EQ(text, std::wstring(copy.Get(), SysStringLen(copy.Get())));
}

TEST(Bstr, EmptyIsARealZeroLengthString) {
    Bstr empty = Bstr::Empty();
    ASSERT_NE(nullptr, empty.Get());
    EXPECT_EQ(0u, SysStringLen(empty.Get()));
}

TEST(Bstr, ReceiveFreesTheOldString) {
    Bstr text = Bstr::FromWide(L"old");
    BSTR* slot = text.Receive();
    EXPECT_EQ(nullptr, *slot);
    *slot = SysAllocString(L"new");
    EXPECT_STREQ(L"new", text.Get());
}
