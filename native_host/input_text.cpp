#include "native_host/input_text.h"

namespace {

bool IsControl(unsigned char byte) noexcept {
    return byte < 0x20 || byte == 0x7F;
}

// U+202A..U+202E are E2 80 AA..AE, U+2066..U+2069 are E2 81 A6..A9.
bool IsBidiControlAt(const std::string& utf8, std::size_t i) noexcept {
    if (i + 2 >= utf8.size() || static_cast<unsigned char>(utf8[i]) != 0xE2)
        return false;
    const unsigned char second = static_cast<unsigned char>(utf8[i + 1]);
    const unsigned char third = static_cast<unsigned char>(utf8[i + 2]);
    return (second == 0x80 && third >= 0xAA && third <= 0xAE) ||
           (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit of the escape "\uXXXX" at `at`, or -1 when there is none.
long EscapedUnitAt(const std::string& text, std::size_t at) noexcept {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    long unit = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
        const int digit = HexValue(text[k]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool IsHigh(long unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLow(long unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

bool HasControlCharacter(const std::string& utf8) noexcept {
    // No byte of a multi-byte sequence is below 0x80.
    for (const char c : utf8) {
        if (IsControl(static_cast<unsigned char>(c)))
            return true;
    }
    return false;
}

std::string ShownText(const std::string& utf8) {
    std::string shown;
    shown.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (IsBidiControlAt(utf8, i))
            i += 2;
        else if (!IsControl(static_cast<unsigned char>(utf8[i])))
            shown += utf8[i];
    }
    return shown;
}

std::string WithLoneSurrogatesAs(const std::string& body, const char (&replacement)[7],
                                 std::size_t& replaced) {
    replaced = 0;
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size();) {
        if (body[i] != '\\' || i + 1 >= body.size()) {
            out += body[i++];
            continue;
        }
        // Every escape is read whole, so that the "u" of an escaped
        // backslash ("\\u") is never taken for one of its own.
        const long unit = EscapedUnitAt(body, i);
        if (unit < 0) {
            out.append(body, i, 2);
            i += 2;
        } else if (IsHigh(unit) && IsLow(EscapedUnitAt(body, i + 6))) {
            out.append(body, i, 12);
            i += 12;
        } else if (IsHigh(unit) || IsLow(unit)) {
            out += replacement;
            ++replaced;
            i += 6;
        } else {
            out.append(body, i, 6);
            i += 6;
        }
    }
    return out;
}
