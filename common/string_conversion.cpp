#include "common/string_conversion.h"

#include "common/hresult_error.h"

#include <cwchar>
#include <new>

namespace {

bool IsHighSurrogate(unsigned unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(unsigned unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point at `wide[i]`, a surrogate pair read as one; `units` gets
// how many UTF-16 units it took.
unsigned CodePointAt(const wchar_t* wide, std::size_t length, std::size_t i,
                     std::size_t& units) noexcept {
    const unsigned unit = static_cast<unsigned>(wide[i]) & 0xFFFF;
    if (IsHighSurrogate(unit) && i + 1 < length) {
        const unsigned next = static_cast<unsigned>(wide[i + 1]) & 0xFFFF;
        if (IsLowSurrogate(next)) {
            units = 2;
            return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        }
    }
    units = 1;
    return unit;
}

std::size_t EncodedLength(unsigned codePoint) noexcept {
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

std::string Encode(const wchar_t* wide, std::size_t length) {
    try {
        std::size_t size = 0;
        for (std::size_t i = 0, units = 0; i < length; i += units)
            size += EncodedLength(CodePointAt(wide, length, i, units));
        std::string utf8;
        utf8.reserve(size);
        for (std::size_t i = 0, units = 0; i < length; i += units) {
            const unsigned c = CodePointAt(wide, length, i, units);
            if (c < 0x80) {
                utf8 += static_cast<char>(c);
            } else if (c < 0x800) {
                utf8 += static_cast<char>(0xC0 | (c >> 6));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                utf8 += static_cast<char>(0xE0 | (c >> 12));
                utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                utf8 += static_cast<char>(0xF0 | (c >> 18));
                utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return utf8;
    } catch (const std::bad_alloc&) {
        throw HResultError(E_OUTOFMEMORY);
    }
}

// The code point of the sequence at `utf8[i]`, with its length in `bytes`;
// U+FFFD for a byte that begins no well-formed sequence (then `bytes` is 1).
unsigned DecodeAt(const std::string& utf8, std::size_t i, std::size_t& bytes) noexcept {
    const unsigned lead = static_cast<unsigned char>(utf8[i]);
    bytes = 1;
    if (lead < 0x80)
        return lead;
    std::size_t length = 0;
    unsigned c = 0;
    unsigned lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, lowest = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (i + length > utf8.size())
        return 0xFFFD;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned next = static_cast<unsigned char>(utf8[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF)
        return 0xFFFD;
    bytes = length;
    return c;
}

}  // namespace

std::string WideToUtf8(const wchar_t* wide) {
    return wide == nullptr ? std::string() : Encode(wide, std::wcslen(wide));
}

std::string WideToUtf8(const std::wstring& wide) {
    return Encode(wide.data(), wide.size());
}

std::wstring Utf8ToWide(const std::string& utf8) {
    try {
        std::size_t size = 0;
        for (std::size_t i = 0, bytes = 0; i < utf8.size(); i += bytes)
            size += DecodeAt(utf8, i, bytes) >= 0x10000 ? 2 : 1;
        std::wstring wide;
        wide.reserve(size);
        for (std::size_t i = 0, bytes = 0; i < utf8.size(); i += bytes) {
            const unsigned c = DecodeAt(utf8, i, bytes);
            if (c >= 0x10000) {
                wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                wide += static_cast<wchar_t>(c);
            }
        }
        return wide;
    } catch (const std::bad_alloc&) {
        throw HResultError(E_OUTOFMEMORY);
    }
}

std::size_t WholeCharacterPrefix(const std::string& utf8, std::size_t maxBytes) noexcept {
    if (utf8.size() <= maxBytes)
        return utf8.size();
    // Back from the cut over continuation bytes to the start of the
    // character the cut would split.
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return end;
}
