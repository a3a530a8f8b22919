#include "common/bstr.h"
#include "common/hresult_error.h"
#include "common/string_conversion.h"

#include <gtest/gtest.h>

TEST(StringConversion, NullAndEmptyAreTheEmptyString) {
    EXPECT_EQ("", WideToNarrow(nullptr));
    EXPECT_EQ("", WideToNarrow(L""));
    EXPECT_EQ(L"", NarrowToWide(nullptr));
    EXPECT_EQ(L"", NarrowToWide(""));
}

TEST(StringConversion, RoundTripsTheAnsiCodePage) {
    // Characters of code page 1252 outside ASCII: e acute, u umlaut, the euro sign.
    const wchar_t wide[] = L"http://host/caf\u00e9/\u00fcber\u20ac.zip";
    const std::string narrow = WideToNarrow(wide);
    ASSERT_EQ(1252u, GetACP());
    EXPECT_EQ(
        "http://host/caf\xe9/\xfc"
        "ber\x80.zip",
        narrow);
    EXPECT_EQ(std::wstring(wide), NarrowToWide(narrow.c_str()));
}

TEST(StringConversion, StopsAtAnEmbeddedZero) {
    const wchar_t wide[] = {L'a', L'b', 0, L'c', 0};
    EXPECT_EQ("ab", WideToNarrow(wide));
}

TEST(StringConversion, UnrepresentableCharactersBecomeTheDefaultCharacter) {
    // A CJK character has no place in code page 1252: it becomes "?".
    EXPECT_EQ("a?b", WideToNarrow(L"a\u4e2db"));
}

TEST(Bstr, FromNarrowWidensAndNullStaysNull) {
    Bstr text = Bstr::FromNarrow("caf\xe9");
    ASSERT_NE(nullptr, text.Get());
    EXPECT_STREQ(L"caf\u00e9", text.Get());
    EXPECT_EQ(4u, SysStringLen(text.Get()));
    EXPECT_EQ(nullptr, Bstr::FromNarrow(nullptr).Get());
}

TEST(Bstr, EmptyIsARealZeroLengthString) {
    Bstr empty = Bstr::Empty();
    ASSERT_NE(nullptr, empty.Get());
    EXPECT_EQ(0u, SysStringLen(empty.Get()));
}

TEST(Bstr, ReceiveFreesTheOldString) {
    Bstr text = Bstr::FromNarrow("old");
    BSTR* slot = text.Receive();
    EXPECT_EQ(nullptr, *slot);
    *slot = SysAllocString(L"new");
    EXPECT_STREQ(L"new", text.Get());
}
