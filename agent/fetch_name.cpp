#include "agent/fetch_name.h"

#include <cstring>

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

// "%XX" sequences as bytes; a "%" that begins no such sequence stays.
std::string PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The length of the well-formed UTF-8 sequence at `i`, or 0: no overlong
// forms, no surrogates, nothing past U+10FFFF.
std::size_t SequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = byte(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

bool IsUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = SequenceLength(s, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// An ext-value (RFC 8187): charset'language'percent-encoded bytes, the
// charset UTF-8 or ISO-8859-1 (the two every browser reads), every other
// character printable ASCII. Anything else, and a name that decodes to
// nothing, leaves the plain filename to speak.
bool DecodeExtendedValue(const std::string& value, std::string& name) {
    const std::size_t first = value.find('\'');
    const std::size_t second = first == std::string::npos ? first : value.find('\'', first + 1);
    if (second == std::string::npos)
        return false;
    const std::string charset = value.substr(0, first);
    const std::string encoded = value.substr(second + 1);
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto byte = static_cast<unsigned char>(encoded[i]);
        if (byte < 0x21 || byte > 0x7E)
            return false;
        if (byte == '%' && (i + 2 >= encoded.size() || HexValue(encoded[i + 1]) < 0 ||
                            HexValue(encoded[i + 2]) < 0))
            return false;
    }
    const std::string bytes = PercentDecode(encoded);
    if (EqualsIgnoringCase(charset, "utf-8")) {
        if (!IsUtf8(bytes))
            return false;
        name = bytes;
    } else if (EqualsIgnoringCase(charset, "iso-8859-1")) {
        name = Latin1ToUtf8(bytes);
    } else {
        return false;
    }
    return !name.empty();
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool IsReservedDeviceName(const std::string& name) {
    // The part before the first dot is what Windows compares.
    const std::string stem = Trimmed(name.substr(0, name.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* device : kDevices) {
        if (EqualsIgnoringCase(stem, device))
            return true;
    }
    return stem.size() == 4 &&
           (EqualsIgnoringCase(stem.substr(0, 3), "com") ||
            EqualsIgnoringCase(stem.substr(0, 3), "lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string FileNameFromContentDisposition(const std::string& header) {
    std::string plain, extended;
    bool havePlain = false, haveExtended = false;
    std::size_t i = header.find(';');
    while (i != std::string::npos && i < header.size()) {
        ++i;  // past the ";"
        const std::size_t equals = header.find_first_of("=;", i);
        if (equals == std::string::npos || header[equals] == ';') {
            i = equals;
            continue;
        }
        const std::string name = Trimmed(header.substr(i, equals - i));
        i = equals + 1;
        while (i < header.size() && IsSpace(header[i]))
            ++i;
        std::string value;
        if (i < header.size() && header[i] == '"') {
            // A quoted string, to its closing quote or the header's end: a
            // backslash takes the next character as it is.
            for (++i; i < header.size() && header[i] != '"'; ++i) {
                if (header[i] == '\\' && i + 1 < header.size())
                    ++i;
                value += header[i];
            }
            i = header.find(';', i);
        } else {
            const std::size_t end = header.find(';', i);
            value = Trimmed(header.substr(i, end == std::string::npos ? end : end - i));
            i = end;
        }
        // A parameter given twice counts the first time, as in Chromium.
        if (EqualsIgnoringCase(name, "filename*") && !haveExtended) {
            haveExtended = DecodeExtendedValue(value, extended);
        } else if (EqualsIgnoringCase(name, "filename") && !havePlain) {
            havePlain = true;
            // The header's own bytes: UTF-8 as servers mostly send them, or
            // else ISO-8859-1, as HTTP reads them.
            plain = IsUtf8(value) ? value : Latin1ToUtf8(value);
        }
    }
    const std::string named = haveExtended ? extended : plain;
    return Trimmed(named.substr(named.find_last_of("/\\") + 1));
}

std::string LastPathSegment(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const std::size_t authority = path.find("://");
    const std::size_t pathStart =
        path.find('/', authority == std::string::npos ? 0 : authority + 3);
    if (pathStart == std::string::npos)
        return "";
    const std::string segment = path.substr(path.find_last_of('/') + 1);
    const std::string decoded = PercentDecode(segment);
    return IsUtf8(decoded) ? decoded : segment;
}

std::string SafeFileName(const std::string& name) {
    // Only the last component of a path the server sent.
    const std::size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);

    std::string safe;
    for (std::size_t i = 0; i < base.size();) {
        const std::size_t length = SequenceLength(base, i);
        const auto byte = static_cast<unsigned char>(base[i]);
        if (length == 0 || byte < 0x20 || byte == 0x7F || std::strchr("<>:\"|?*", base[i])) {
            safe += '_';
            i += length == 0 ? 1 : length;
            continue;
        }
        safe.append(base, i, length);
        i += length;
    }
    // Windows drops trailing dots and spaces, and leading spaces mislead.
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    while (!safe.empty() && safe.front() == ' ')
        safe.erase(0, 1);
    if (safe.empty())
        return "download";
    if (IsReservedDeviceName(safe))
        safe.insert(0, "_");
    if (safe.size() > kMaxFileNameBytes) {
        // Keeps the extension, cutting the stem at a whole character.
        const std::size_t dot = safe.find_last_of('.');
        const std::string extension =
            dot != std::string::npos && safe.size() - dot <= 20 ? safe.substr(dot) : "";
        std::size_t keep = kMaxFileNameBytes - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(safe[keep]) & 0xC0) == 0x80)
            --keep;
        safe = safe.substr(0, keep) + extension;
    }
    return safe;
}

std::string ChooseFetchedFileName(const std::string& contentDisposition,
                                  const std::string& finalUrl) {
    const std::string named = FileNameFromContentDisposition(contentDisposition);
    return SafeFileName(named.empty() ? LastPathSegment(finalUrl) : named);
}
