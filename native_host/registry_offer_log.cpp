#include "native_host/registry_offer_log.h"

#include "common/boundary.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <windows.h>

const wchar_t kOfferLogKey[] = L"Software\\WebCorvane\\BrowserHost\\Offers";

namespace {

bool OpenLog(REGSAM access, RegKey& key) {
    return RegCreateKeyExW(HKEY_CURRENT_USER, kOfferLogKey, 0, nullptr, 0, access, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS;
}

// Every value of the key: the well-formed as records, the rest by name, to
// be let go of too.
std::vector<OfferRecord> ReadRecords(HKEY key, std::vector<std::wstring>& malformed) {
    std::vector<std::wstring> names;
    std::vector<OfferRecord> records;
    if (!ReadRegistryValueNames(HKEY_CURRENT_USER, kOfferLogKey, names))
        return records;
    for (const std::wstring& name : names) {
        OfferRecord record;
        std::wstring text;
        if (ReadRegistryString(key, name.c_str(), text) &&
            KeyFromRecordName(WideToUtf8(name), record.key) &&
            RecordFromText(WideToUtf8(text), record.state, record.at))
            records.push_back(std::move(record));
        else
            malformed.push_back(name);
    }
    return records;
}

}  // namespace

void RegistryOfferLog::Write(const OfferKey& key, OfferState state) noexcept {
    GuardBoundary([&] {
        const std::int64_t now = clock_.NowMs();
        RegKey log;
        if (!OpenLog(KEY_SET_VALUE | KEY_QUERY_VALUE, log))
            return;
        const std::wstring name = Utf8ToWide(RecordName(key));
        const std::wstring text = Utf8ToWide(RecordText(state, now));
        RegSetValueExW(log.Get(), name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        // Reading every record costs a call each: only once there are more
        // than the bound, and when a worker asks (Read).
        DWORD values = 0;
        if (RegQueryInfoKeyW(log.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            values > kKeptOfferRecords)
            LetGoOfStale(now);
    });
}

std::vector<OfferRecord> RegistryOfferLog::Read() noexcept {
    return GuardBoundary(std::vector<OfferRecord>(), [&] {
        LetGoOfStale(clock_.NowMs());
        RegKey log;
        std::vector<std::wstring> malformed;
        if (!OpenLog(KEY_QUERY_VALUE, log))
            return std::vector<OfferRecord>();
        return ReadRecords(log.Get(), malformed);
    });
}

bool RegistryOfferLog::Forget(const OfferKey& key) noexcept {
    return GuardBoundary(false, [&] {
        RegKey log;
        return OpenLog(KEY_SET_VALUE, log) &&
               RegDeleteValueW(log.Get(), Utf8ToWide(RecordName(key)).c_str()) == ERROR_SUCCESS;
    });
}

void RegistryOfferLog::LetGoOfStale(std::int64_t nowMs) noexcept {
    GuardBoundary([&] {
        RegKey log;
        if (!OpenLog(KEY_SET_VALUE | KEY_QUERY_VALUE, log))
            return;
        std::vector<std::wstring> malformed;
        for (const OfferKey& key : StaleRecords(ReadRecords(log.Get(), malformed), nowMs))
            RegDeleteValueW(log.Get(), Utf8ToWide(RecordName(key)).c_str());
        for (const std::wstring& name : malformed)
            RegDeleteValueW(log.Get(), name.c_str());
    });
}
