#pragma once

// Drives the reference download agent (CorvaneAgent.exe) from tests: its
// settings, its record of AddTask calls, and the repair Wine needs after an
// agent died in the middle of a call.
//
// The settings are one per prefix (HKCU\Software\Corvane\ReferenceAgent), so
// tests that use the agent share them and run under ctest's RESOURCE_LOCK
// "agent"; the "agent" fixture registers the agent before them.

#include "common/com_ptr.h"
#include "handoff/offer_bound.h"

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

// The agent's executable as Wine sees it.
std::string AgentExePath();

// The "Answer" setting (see agent/answer.h): "1", "0", "-1", "hresult:0x80004005",
// "nowrite", "exit", "slow:<ms>:<answer>". Clearing it restores the default, "1".
void SetAgentAnswer(const std::wstring& answer);
void ClearAgentAnswer();

// One answer the agent gives AddTask, and what each caller makes of it: the
// agent's own client sees the HRESULT and the value written back; a hand-off
// (the client's answer, the helper's Cancel) takes the URL only for 1 within
// the offer's bound. One table, driven through each of them.
struct AgentAnswerCase {
    const wchar_t* answer;  // the "Answer" setting; nullptr leaves it absent
    bool succeeds;          // AddTask answers S_OK, else a failing HRESULT
    LONG written;           // what the caller reads in *accepted
    DWORD delayMs;          // how long the agent takes over its answer
    bool dies;              // the agent's process ends in the call
    bool taken;             // a hand-off counts it as acceptance

    // The setting the call meets, as the agent records it.
    std::wstring Recorded() const { return answer != nullptr ? answer : L"1"; }
    // For a trace.
    std::wstring Name() const { return answer != nullptr ? answer : L"(absent)"; }
};

// How much longer than the bound a declined offer may hold the browser's
// thread: thread start-up and clean-up on a loaded machine.
constexpr DWORD kReturnMarginMs = 1500;

// The delay of the last case, spelled in its answer too.
constexpr DWORD kAfterTheBoundMs = 5500;
static_assert(kAfterTheBoundMs > kOfferBoundMs, "the last case answers after the bound");
const AgentAnswerCase kAgentAnswers[] = {
    {nullptr, true, 1, 0, false, true},
    {L"1", true, 1, 0, false, true},
    {L"0", true, 0, 0, false, false},
    {L"2", true, 2, 0, false, false},
    {L"-1", true, -1, 0, false, false},
    {L"2147483647", true, 2147483647, 0, false, false},
    {L"nowrite", true, 0, 0, false, false},  // the marshaler hands back 0
    {L"hresult:0x80004005", false, 0, 0, false, false},
    {L"hresult:0x8007000E", false, 0, 0, false, false},
    {L"hresult:0x80070005", false, 0, 0, false, false},
    {L"hresult:0x800706BE", false, 0, 0, false, false},
    {L"not an answer", false, 0, 0, false, false},
    {L"exit", false, 0, 0, true, false},
    // A cold start follows (about a second): activation works again.
    {L"1", true, 1, 0, false, true},
    {L"slow:500:1", true, 1, 500, false, true},
    {L"slow:1500:2", true, 2, 1500, false, false},
    // Taken by the agent after the browser stopped waiting: declined.
    {L"slow:5500:1", true, 1, kAfterTheBoundMs, false, false},
};

// The "Start" setting, read as COM starts the agent: "silent:<ms>" makes a
// program that never registers its class object and ends after <ms>.
void SetAgentStart(const std::wstring& start);
void ClearAgentStart();

// The "RecordFile" setting. Cleared, the agent writes CorvaneAgent.log beside
// its executable.
void SetAgentRecordFile(const std::wstring& path);
void ClearAgentRecordFile();

// The "FetchFolder" setting: the agent fetches each task it takes into that
// folder (which ends in a backslash) and records the fetch there. The
// session's end clears it.
void SetAgentFetchFolder(const std::wstring& folder);

// One string argument as the agent received it: a null BSTR apart from a
// zero-length one.
struct AgentText {
    bool isNull = true;
    std::wstring text;

    static AgentText Null() { return AgentText(); }
    static AgentText Of(const std::wstring& text) { return AgentText{false, text}; }
    bool operator==(const AgentText& other) const {
        return isNull == other.isNull && text == other.text;
    }
    bool operator!=(const AgentText& other) const { return !(*this == other); }
};
void PrintTo(const AgentText& text, std::ostream* out);

// One AddTask call, as one line of the record file.
struct AgentRecord {
    AgentText url;
    AgentText comment;
    AgentText referrer;
    long flags = 0;
    AgentText cookie;            // position 5: the URL's cookie string
    AgentText reserved;          // position 6
    bool acceptedGiven = false;  // the out-pointer was not null
    long acceptedOnEntry = 0;    // what it pointed to when the call arrived
    std::wstring answer;         // the "Answer" setting the call met
};

// Every record of the file, in order; a missing file has none. A line that is
// not a well-formed record fails the current test and is left out.
std::vector<AgentRecord> ReadAgentRecords(const std::wstring& path);

// Ends every rpcss.exe of the prefix (Wine starts it again on demand) and
// answers how many were ended. Needed after an agent process died while it
// was registered: until then Wine's rpcss hands out the dead process's class
// object and activations fail. Waits first (up to 10 s) until no agent
// process is left.
int RestartRpcss();

// How many CorvaneAgent.exe processes the prefix runs now.
int CountAgentProcesses();

// Waits up to `timeoutMs` for the prefix to run no agent process; answers
// whether it came to that. An agent ends on its own once no client holds it.
bool WaitForNoAgentProcess(DWORD timeoutMs);

// Holds one agent object for its lifetime, so that the agent's process stays
// up and hand-offs meet an agent that is already running, as beside a download
// manager the user keeps open. Each fresh start costs about a second under
// Wine, which polls for the new server's class object.
class RunningAgent {
  public:
    RunningAgent();
    RunningAgent(const RunningAgent&) = delete;
    RunningAgent& operator=(const RunningAgent&) = delete;
    bool Running() const { return static_cast<bool>(object_); }

  private:
    ComPtr<IUnknown> object_;
};

// One test's use of the agent: a fresh, empty record file in the temporary
// folder, the default answer and start; at the end the settings are cleared
// and the file is deleted.
class AgentSession {
  public:
    AgentSession();
    ~AgentSession();
    AgentSession(const AgentSession&) = delete;
    AgentSession& operator=(const AgentSession&) = delete;

    void SetAnswer(const std::wstring& answer) { SetAgentAnswer(answer); }
    // The case's answer, or none (the default) for a case without one.
    void SetAnswer(const AgentAnswerCase& answer);
    const std::wstring& RecordPath() const { return recordPath_; }
    std::vector<AgentRecord> Records() const { return ReadAgentRecords(recordPath_); }

  private:
    std::wstring recordPath_;
};
