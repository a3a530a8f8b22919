#include "agent/task_record.h"

#include "agent/fetcher.h"
#include "common/string_conversion.h"

#include "common/hresult_error.h"
#include "common/win_handles.h"

namespace {
constexpr wchar_t kNullField[] = L"\\N";

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendEscapedUnit(std::wstring& out, wchar_t c) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    out += L"\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(c >> shift) & 0xF];
}

std::wstring BstrField(BSTR text) {
    return EscapeRecordField(text, text == nullptr ? 0 : SysStringLen(text));
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        throw HResultError::FromLastError();
    std::string narrow(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                            size, nullptr, nullptr) != size)
        throw HResultError::FromLastError();
    return narrow;
}
}  // namespace

std::wstring EscapeRecordField(const wchar_t* text, size_t length) {
    if (text == nullptr)
        return kNullField;
    std::wstring field;
    field.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c == L'\\') {
            field += L"\\\\";
        } else if (c == L'\t') {
            field += L"\\t";
        } else if (c == L'\n') {
            field += L"\\n";
        } else if (c == L'\r') {
            field += L"\\r";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            AppendEscapedUnit(field, c);
        } else if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            field += c;
            field += text[++i];
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            // UTF-8 has no form for half a pair: the converter would replace it.
            AppendEscapedUnit(field, c);
        } else {
            field += c;
        }
    }
    return field;
}

std::string FormatTaskRecord(const TaskCall& call) {
    std::wstring line = BstrField(call.url);
    line += L'\t';
    line += BstrField(call.comment);
    line += L'\t';
    line += BstrField(call.referrer);
    line += L'\t';
    line += std::to_wstring(call.flags);
    line += L'\t';
    line += BstrField(call.cookie);
    line += L'\t';
    line += BstrField(call.reserved);
    line += L'\t';
    line += call.accepted == nullptr ? std::wstring(kNullField) : std::to_wstring(*call.accepted);
    line += L'\t';
    line += EscapeRecordField(call.answer.c_str(), call.answer.size());
    line += L'\n';
    return ToUtf8(line);
}

std::string FormatFetchRecord(const std::wstring& url, const FetchResult& result) {
    const auto field = [](const std::wstring& text) {
        return EscapeRecordField(text.c_str(), text.size());
    };
    std::wstring line = field(url);
    line += result.done ? L"\tdone\t" : L"\tfailed\t";
    line += std::to_wstring(result.httpStatus) + L'\t';
    line += std::to_wstring(result.bytes) + L'\t';
    line += Utf8ToWide(result.sha256) + L'\t';
    line += field(result.fileName) + L'\t';
    line += field(Utf8ToWide(result.detail));
    line += L'\n';
    return ToUtf8(line);
}

bool AppendTaskRecord(const std::wstring& path, const std::string& line) noexcept {
    // Shared for reading and writing: a test may read the file while an agent
    // still has it open, and a second agent process may append at once.
    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    DWORD written = 0;
    return WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}
