#pragma once

#include <string>

// The one conversion between the browser's UTF-16 and the UTF-8 the library
// works in. It is exact both ways: every UTF-16 string, unpaired surrogates
// included, comes back unchanged, since an unpaired surrogate takes the
// three-byte form of its own value (the platform's converter would put
// U+FFFD in its place). Each result is sized by a first pass over the input.
// Both raise HResultError(E_OUTOFMEMORY) when memory is short.

// Converts up to the first zero character; null is the empty string.
std::string WideToUtf8(const wchar_t* wide);
std::string WideToUtf8(const std::wstring& wide);

// A byte that begins no well-formed sequence becomes U+FFFD: only text that
// did not come from WideToUtf8 (a command line) can hold one.
std::wstring Utf8ToWide(const std::string& utf8);

// The length of the longest prefix of `utf8` that has at most `maxBytes`
// bytes and ends at a whole character: never inside a sequence, so never
// inside a surrogate pair, which is one four-byte sequence.
std::size_t WholeCharacterPrefix(const std::string& utf8, std::size_t maxBytes) noexcept;
