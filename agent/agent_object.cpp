// The agent object. Its one real duty is AddTask: record the call exactly,
// then answer as its settings say. The other methods keep a little state of
// the process (a task count and named options) so that a client can see them
// work.
#include "agent/agent_object.h"

#include "agent/agent_settings.h"
#include "agent/answer.h"
#include "agent/fetcher.h"
#include "agent/local_server.h"
#include "agent/task_record.h"
#include "common/boundary.h"
#include "common/process_lock.h"
#include "common/string_conversion.h"
#include "download_agent.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace {
constexpr LONG kAgentVersion = 0x00010000;  // 1.0
// The process's exit code when an "exit" answer ends it.
constexpr UINT kExitCodeMidCall = 3;
// An "Answer" setting that means nothing.
constexpr HRESULT kBadAnswerSetting = HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
constexpr wchar_t kPausedOption[] = L"Paused";

// State of the process, shared by every object. Calls arrive on threads of
// the server's multithreaded apartment, several at once: each touches the
// state, and appends its record, under the lock, and answers outside it.
ProcessLock stateLock;
LONG taskCount = 0;
std::map<std::wstring, std::wstring> options;

std::wstring FromBstr(BSTR text) {
    return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

HRESULT Respond(const Answer& answer, LONG* accepted) {
    if (answer.delayMs > 0)
        Sleep(answer.delayMs);
    switch (answer.kind) {
        case Answer::Kind::Write:
            if (accepted == nullptr)
                return E_POINTER;
            *accepted = answer.value;
            return S_OK;
        case Answer::Kind::Fail:
            return static_cast<HRESULT>(answer.value);
        case Answer::Kind::NoWrite:
            return S_OK;
        case Answer::Kind::Exit:
            // Dies as a crash does: no clean-up and no DLL notifications, so
            // nothing of COM's is revoked on the way out (ExitProcess would let
            // the runtime tidy up, which a crashed agent never does).
            TerminateProcess(GetCurrentProcess(), kExitCodeMidCall);
            return E_UNEXPECTED;  // not reached
        case Answer::Kind::Invalid:
            break;
    }
    return kBadAnswerSetting;
}

struct FetchJob {
    FetchRequest request;
    std::wstring folder;
};

DWORD WINAPI FetchThread(void* parameter) {
    std::unique_ptr<FetchJob> job(static_cast<FetchJob*>(parameter));
    GuardBoundary([&] {
        const FetchResult result = FetchIntoFolder(job->request, job->folder);
        AppendTaskRecord(job->folder + kFetchRecordFileName,
                         FormatFetchRecord(job->request.url, result));
    });
    job.reset();
    ReleaseServer();
    return 0;
}

// A task it took is fetched as a download manager fetches it: after the
// answer, on a thread of its own, with the agent kept up until it ends.
void StartFetch(BSTR url, BSTR cookie, BSTR referrer) {
    const std::wstring folder = ReadFetchFolderSetting();
    if (folder.empty())
        return;
    auto job = std::make_unique<FetchJob>(
        FetchJob{{FromBstr(url), FromBstr(cookie), FromBstr(referrer)}, folder});
    HoldServer();
    const HANDLE thread = CreateThread(nullptr, 0, FetchThread, job.get(), 0, nullptr);
    if (thread == nullptr) {
        ReleaseServer();
        return;
    }
    job.release();
    CloseHandle(thread);
}

class AgentObject final : public IDownloadAgent {
  public:
    AgentObject() noexcept { HoldServer(); }
    ~AgentObject() { ReleaseServer(); }
    AgentObject(const AgentObject&) = delete;
    AgentObject& operator=(const AgentObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDownloadAgent))
            return E_NOINTERFACE;
        *out = static_cast<IDownloadAgent*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refCount));
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refCount);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP GetAgentVersion(LONG* version) override {
        if (version == nullptr)
            return E_POINTER;
        *version = kAgentVersion;
        return S_OK;
    }
    STDMETHODIMP GetTaskCount(LONG* count) override {
        if (count == nullptr)
            return E_POINTER;
        const std::lock_guard<ProcessLock> hold(stateLock);
        *count = taskCount;
        return S_OK;
    }
    // The reference agent has no window to show.
    STDMETHODIMP ShowMainWindow() override { return E_NOTIMPL; }
    // Pausing is only remembered, as the option "Paused": the reference agent
    // downloads nothing.
    STDMETHODIMP PauseAll() override { return SetOptionText(kPausedOption, L"1"); }
    STDMETHODIMP ResumeAll() override { return SetOptionText(kPausedOption, L"0"); }
    STDMETHODIMP SetOption(BSTR name, BSTR value) override {
        if (name == nullptr || SysStringLen(name) == 0)
            return E_INVALIDARG;
        // The copies are made inside the guard: running out of memory for
        // them is an answer, not an exception in COM's stub.
        return GuardBoundary<HRESULT>(E_OUTOFMEMORY, [&] {
            std::wstring key = FromBstr(name);
            std::wstring text = FromBstr(value);
            const std::lock_guard<ProcessLock> hold(stateLock);
            options[key] = std::move(text);
            return S_OK;
        });
    }
    STDMETHODIMP GetOption(BSTR name, BSTR* value) override {
        if (value == nullptr)
            return E_POINTER;
        *value = nullptr;
        return GuardBoundary<HRESULT>(E_OUTOFMEMORY, [&] {
            const std::wstring key = FromBstr(name);
            const std::lock_guard<ProcessLock> hold(stateLock);
            const auto it = options.find(key);
            if (it == options.end())
                return E_INVALIDARG;
            *value = SysAllocStringLen(it->second.data(), static_cast<UINT>(it->second.size()));
            return *value != nullptr ? S_OK : E_OUTOFMEMORY;
        });
    }

    STDMETHODIMP AddTask(BSTR url, BSTR comment, BSTR referrer, LONG flags, BSTR cookie,
                         BSTR reserved, LONG* accepted) override {
        return GuardBoundary<HRESULT>(E_UNEXPECTED, [&] {
            TaskCall call;
            call.url = url;
            call.comment = comment;
            call.referrer = referrer;
            call.flags = flags;
            call.cookie = cookie;
            call.reserved = reserved;
            call.accepted = accepted;
            call.answer = ReadAnswerSetting();
            {
                const std::lock_guard<ProcessLock> hold(stateLock);
                ++taskCount;
                // A record that cannot be written leaves the answer as it is.
                GuardBoundary(
                    [&] { AppendTaskRecord(ReadRecordFileSetting(), FormatTaskRecord(call)); });
            }
            const Answer answer = ParseAnswer(WideToUtf8(call.answer));
            if (answer.kind == Answer::Kind::Write && answer.value == 1)
                GuardBoundary([&] { StartFetch(url, cookie, referrer); });
            return Respond(answer, accepted);
        });
    }

  private:
    static HRESULT SetOptionText(const wchar_t* name, const wchar_t* value) noexcept {
        return GuardBoundary<HRESULT>(E_OUTOFMEMORY, [&] {
            const std::lock_guard<ProcessLock> hold(stateLock);
            options[name] = value;
            return S_OK;
        });
    }

    volatile LONG refCount = 1;
};
}  // namespace

HRESULT CreateAgentObject(REFIID iid, void** out) noexcept {
    AgentObject* object = new (std::nothrow) AgentObject();
    if (object == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}
