#include "agent/agent_settings.h"

#include "agent/answer.h"
#include "common/hresult_error.h"
#include "common/win_handles.h"

#include <windows.h>

#include <vector>

namespace {
// Answers false when the key or value is absent.
bool ReadStringValue(const wchar_t* name, std::wstring& text) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    text.clear();
    if (type != REG_SZ)
        return true;
    // The stored data need not end in a terminator: keep room for one.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &got) != ERROR_SUCCESS ||
        type != REG_SZ)
        return true;
    text.assign(buffer.data(), got / sizeof(wchar_t));
    // Up to the first terminator, like every reader of REG_SZ.
    text.resize(wcsnlen(text.c_str(), text.size()));
    return true;
}
}  // namespace

std::wstring ReadAnswerSetting() {
    std::wstring answer;
    if (!ReadStringValue(kAnswerValue, answer))
        answer.assign(kDefaultAnswer, kDefaultAnswer + sizeof(kDefaultAnswer) - 1);
    return answer;
}

std::wstring ReadRecordFileSetting() {
    std::wstring path;
    if (ReadStringValue(kRecordFileValue, path) && !path.empty())
        return path;
    path = ExecutablePath();
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + kDefaultRecordFileName;
}

long ReadSilentStartSetting() {
    constexpr wchar_t kSilentPrefix[] = L"silent:";
    constexpr size_t kPrefixLength = sizeof(kSilentPrefix) / sizeof(wchar_t) - 1;
    std::wstring start;
    if (!ReadStringValue(kStartValue, start) || start.size() == kPrefixLength ||
        start.compare(0, kPrefixLength, kSilentPrefix) != 0)
        return -1;
    unsigned long ms = 0;
    for (size_t i = kPrefixLength; i < start.size(); ++i) {
        if (start[i] < L'0' || start[i] > L'9')
            return -1;
        ms = ms * 10 + static_cast<unsigned long>(start[i] - L'0');
        if (ms > kMaxAnswerDelayMs)
            return -1;
    }
    return static_cast<long>(ms);
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            throw HResultError::FromLastError();
        // A full buffer may be a cut path.
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}
