#include "common/registry_reader.h"

#include "tests/support/registry_sandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kKey[] = L"Software\\WebCorvane Reader Test";

bool PutWide(const wchar_t* name, DWORD type, const std::wstring& text) {
    RegKey key;
    return RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

TEST(RegistryReader, ReadsWhatWasWrittenAndNothingElse) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    const std::wstring longText(5000, L'x');
    const std::wstring nonAscii = L"C:\\Dossier \u00e9t\u00e9\\\u4e0b\u8f7d\\\U0001F600.exe";
    const DWORD seven = 7;
    ASSERT_TRUE(PutWide(nullptr, REG_SZ, L"the default"));
    ASSERT_TRUE(PutWide(L"long", REG_SZ, longText));
    ASSERT_TRUE(PutWide(L"wide", REG_SZ, nonAscii));
    ASSERT_TRUE(PutWide(L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\x"));
    ASSERT_TRUE(PutValue(HKEY_CURRENT_USER, "Software\\WebCorvane Reader Test", "seven", REG_DWORD,
                         std::string(reinterpret_cast<const char*>(&seven), sizeof(seven))));
    ASSERT_TRUE(PutValue(HKEY_CURRENT_USER, "Software\\WebCorvane Reader Test", "short", REG_DWORD,
                         std::string("\1\0", 2)));

    struct Case {
        const wchar_t* key;
        const wchar_t* name;
        bool found;
        std::wstring text;  // as a string, when found
    } const strings[] = {
        {kKey, nullptr, true, L"the default"},
        {kKey, L"", true, L"the default"},
        {kKey, L"long", true, longText},
        {kKey, L"wide", true, nonAscii},
        {kKey, L"expand", true, L"%SystemRoot%\\x"},
        {kKey, L"seven", false, L"unchanged"},
        {kKey, L"missing", false, L"unchanged"},
        {L"Software\\WebCorvane Missing", nullptr, false, L"unchanged"},
    };
    for (const Case& c : strings) {
        std::wstring text = L"unchanged";
        EXPECT_EQ(c.found, ReadRegistryString(HKEY_CURRENT_USER, c.key, c.name, text)) << c.name;
        EXPECT_TRUE(text == c.text) << c.name;
    }

    struct DwordCase {
        const wchar_t* name;
        bool found;
        DWORD data;
    } const dwords[] = {
        {L"seven", true, 7},
        {L"short", false, 99},  // two bytes stored as a DWORD
        {L"long", false, 99},
        {L"missing", false, 99},
    };
    for (const DwordCase& c : dwords) {
        DWORD data = 99;
        EXPECT_EQ(c.found, ReadRegistryDword(HKEY_CURRENT_USER, kKey, c.name, data)) << c.name;
        EXPECT_EQ(c.data, data) << c.name;
    }

    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\WebCorvane Missing"));
    EXPECT_TRUE(RegistryKeyHasSubkeys(HKEY_CURRENT_USER, L"Software"));
    EXPECT_FALSE(RegistryKeyHasSubkeys(HKEY_CURRENT_USER, kKey));
}
