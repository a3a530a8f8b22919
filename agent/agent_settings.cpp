#include "agent/agent_settings.h"

#include "agent/answer.h"
#include "common/hresult_error.h"
#include "common/registry_reader.h"

#include <windows.h>

#include <vector>

namespace {
// Answers false when the key or value is absent or not a string.
bool ReadStringValue(const wchar_t* name, std::wstring& text) {
    return ReadRegistryString(HKEY_CURRENT_USER, kSettingsKey, name, text);
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

std::wstring ReadFetchFolderSetting() {
    std::wstring folder;
    if (!ReadStringValue(kFetchFolderValue, folder) || folder.empty())
        return L"";
    if (folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder;
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
