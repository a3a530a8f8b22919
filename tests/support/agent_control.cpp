#include "tests/support/agent_control.h"

#include "common/win_handles.h"
#include "tools/support/wine_paths.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

namespace {
// Spelled out here rather than taken from the agent's sources: this is the
// agent's outside interface, and a test should notice when it moves.
constexpr wchar_t kSettingsKey[] = L"Software\\Corvane\\ReferenceAgent";
constexpr wchar_t kNullField[] = L"\\N";
constexpr size_t kRecordFields = 8;

void SetSetting(const wchar_t* name, const std::wstring& value) {
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.Receive(), nullptr));
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

void ClearSetting(const wchar_t* name) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, key.Receive()) ==
        ERROR_SUCCESS)
        RegDeleteValueW(key.Get(), name);
}

std::wstring FromUtf8(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        &wide[0], size);
    return wide;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool Unescape(const std::wstring& field, AgentText& out) {
    if (field == kNullField) {
        out = AgentText::Null();
        return true;
    }
    out = AgentText::Of(L"");
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != L'\\') {
            out.text += field[i];
            continue;
        }
        if (++i == field.size())
            return false;
        const wchar_t c = field[i];
        if (c == L'\\' || c == L't' || c == L'n' || c == L'r') {
            out.text += c == L't' ? L'\t' : c == L'n' ? L'\n' : c == L'r' ? L'\r' : L'\\';
            continue;
        }
        if (c != L'u' || i + 4 >= field.size())
            return false;
        int code = 0;
        for (int k = 1; k <= 4; ++k) {
            const int digit = HexDigit(field[i + k]);
            if (digit < 0)
                return false;
            code = code * 16 + digit;
        }
        out.text += static_cast<wchar_t>(code);
        i += 4;
    }
    return true;
}

bool ParseLong(const std::wstring& field, long& value) {
    if (field.empty())
        return false;
    wchar_t* end = nullptr;
    value = std::wcstol(field.c_str(), &end, 10);
    return end == field.c_str() + field.size();
}

// The processes of this prefix (Wine lists only its own wineserver's) whose
// executable has this file name.
std::vector<DWORD> ProcessesNamed(const wchar_t* name) {
    std::vector<DWORD> ids;
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid())
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, name) == 0)
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

bool ParseRecord(const std::wstring& line, AgentRecord& record) {
    std::vector<std::wstring> fields(1);
    for (wchar_t c : line) {
        if (c == L'\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    if (fields.size() != kRecordFields)
        return false;
    AgentText answer;
    if (!Unescape(fields[0], record.url) || !Unescape(fields[1], record.comment) ||
        !Unescape(fields[2], record.referrer) || !ParseLong(fields[3], record.flags) ||
        !Unescape(fields[4], record.cookie) || !Unescape(fields[5], record.reserved) ||
        !Unescape(fields[7], answer) || answer.isNull)
        return false;
    record.answer = answer.text;
    record.acceptedGiven = fields[6] != kNullField;
    record.acceptedOnEntry = 0;
    return !record.acceptedGiven || ParseLong(fields[6], record.acceptedOnEntry);
}
}  // namespace

std::string AgentExePath() {
    return FromUnixPath(CORVANE_AGENT_PATH);
}

void SetAgentAnswer(const std::wstring& answer) {
    SetSetting(L"Answer", answer);
}
void ClearAgentAnswer() {
    ClearSetting(L"Answer");
}
void SetAgentStart(const std::wstring& start) {
    SetSetting(L"Start", start);
}
void ClearAgentStart() {
    ClearSetting(L"Start");
}
void SetAgentRecordFile(const std::wstring& path) {
    SetSetting(L"RecordFile", path);
}
void ClearAgentRecordFile() {
    ClearSetting(L"RecordFile");
}

void SetAgentFetchFolder(const std::wstring& folder) {
    SetSetting(L"FetchFolder", folder);
}

void PrintTo(const AgentText& text, std::ostream* out) {
    if (text.isNull) {
        *out << "(null BSTR)";
        return;
    }
    *out << "L\"";
    for (wchar_t c : text.text) {
        if (c >= 0x20 && c < 0x7F) {
            *out << static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(c));
            *out << escaped;
        }
    }
    *out << "\"";
}

std::vector<AgentRecord> ReadAgentRecords(const std::wstring& path) {
    std::vector<AgentRecord> records;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return records;
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        content.append(buffer, got);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "record file ends inside a record";
            break;
        }
        const std::string line = content.substr(start, end - start);
        AgentRecord record;
        if (ParseRecord(FromUtf8(line), record))
            records.push_back(record);
        else
            ADD_FAILURE() << "malformed record: " << line;
        start = end + 1;
    }
    return records;
}

int RestartRpcss() {
    // A dead agent can take a moment to be gone on a loaded machine; an rpcss
    // started while it still exists may learn its class object again.
    WaitForNoAgentProcess(10000);
    int ended = 0;
    for (DWORD id : ProcessesNamed(L"rpcss.exe")) {
        FileHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process.Valid())
            continue;
        if (TerminateProcess(process.Get(), 0) &&
            WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0)
            ++ended;
    }
    return ended;
}

int CountAgentProcesses() {
    return static_cast<int>(ProcessesNamed(L"CorvaneAgent.exe").size());
}

bool WaitForNoAgentProcess(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (CountAgentProcesses() > 0) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

RunningAgent::RunningAgent() {
    CLSID agentClass;
    if (FAILED(CLSIDFromProgID(L"CorvaneServer.WebCorvane.1", &agentClass)) ||
        FAILED(CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                object_.ReceiveVoid())))
        object_.Reset();
}

AgentSession::AgentSession() {
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    // GetTempFileName creates the file, empty, under a name no other test has.
    if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"cva", 0, path) == 0)
        ADD_FAILURE() << "no temporary record file: " << GetLastError();
    recordPath_ = path;
    SetAgentRecordFile(recordPath_);
    ClearAgentAnswer();
    ClearAgentStart();
}

void AgentSession::SetAnswer(const AgentAnswerCase& answer) {
    if (answer.answer != nullptr)
        SetAgentAnswer(answer.answer);
    else
        ClearAgentAnswer();
}

AgentSession::~AgentSession() {
    ClearAgentAnswer();
    ClearAgentStart();
    ClearAgentRecordFile();
    // Nothing else lives there: leave the prefix as the test found it.
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Corvane");
    if (!recordPath_.empty())
        DeleteFileW(recordPath_.c_str());
}
