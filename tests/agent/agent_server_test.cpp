// The agent driven out of process, as the library drives it: its answers, its
// record of the arguments, its death in the middle of a call.
#include "common/string_conversion.h"
#include "tests/agent/agent_client.h"
#include "tests/support/agent_control.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiny_http_server.h"
#include "tools/support/process.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

namespace {
struct TaskArguments {
    AgentText url;
    AgentText comment;
    AgentText referrer;
    LONG flags;
    AgentText cookie;
    AgentText reserved;
};

Bstr ToBstr(const AgentText& text) {
    return text.isNull ? Bstr() : MakeBstr(text.text);
}

HRESULT CallAddTask(IDownloadAgent* agent, const TaskArguments& args, LONG& accepted) {
    Bstr url = ToBstr(args.url), comment = ToBstr(args.comment), referrer = ToBstr(args.referrer);
    Bstr cookie = ToBstr(args.cookie), reserved = ToBstr(args.reserved);
    return agent->AddTask(url.Get(), comment.Get(), referrer.Get(), args.flags, cookie.Get(),
                          reserved.Get(), &accepted);
}

// The arguments of the navigation road: URL, link text, page, 0, "", "".
TaskArguments Navigation(const std::wstring& url) {
    return {
        AgentText::Of(url), AgentText::Of(L"link text"), AgentText::Of(L"http://example.com/"), 0,
        AgentText::Of(L""), AgentText::Of(L"")};
}

class AgentServerTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(S_OK, apartment.hr()); }

    // Creates the agent or fails the test.
    ComPtr<IDownloadAgent> Agent() {
        ComPtr<IDownloadAgent> agent;
        const HRESULT hr = CreateAgent(agent);
        EXPECT_EQ(S_OK, hr);
        EXPECT_TRUE(agent);
        return agent;
    }

    AgentSession session;
    ComApartment apartment;
};
}  // namespace

// Every answer of the shared table, as the agent's own client sees it: the
// HRESULT, the value written back, the delay. An agent that dies in the call
// has recorded it first, and a restart of rpcss makes activation work again.
TEST_F(AgentServerTest, AnswersEveryCaseAsConfigured) {
    // However this test ends, later tests (of every executable sharing the
    // prefix's wineserver) must find activation working.
    struct RestoreRpcssAtEnd {
        ~RestoreRpcssAtEnd() { RestartRpcss(); }
    } restore;
    ComPtr<IDownloadAgent> agent;
    for (size_t i = 0; i < std::size(kAgentAnswers); ++i) {
        const AgentAnswerCase& c = kAgentAnswers[i];
        SCOPED_TRACE(c.Name());
        if (!agent)
            agent = Agent();
        ASSERT_TRUE(agent);
        session.SetAnswer(c);
        LONG accepted = -7;  // an [out] value: never what the agent sees
        const DWORD start = GetTickCount();
        const HRESULT hr =
            CallAddTask(agent.Get(), Navigation(L"http://h/" + std::to_wstring(i)), accepted);
        const DWORD elapsed = GetTickCount() - start;
        if (c.succeeds)
            EXPECT_EQ(S_OK, hr);
        else
            EXPECT_TRUE(FAILED(hr)) << hr;
        EXPECT_EQ(c.written, accepted);
        EXPECT_GE(elapsed + 20, c.delayMs);  // the tick counter's own step is up to ~16 ms
        EXPECT_LT(elapsed, 30000u);
        if (c.dies) {
            agent.Reset();
            EXPECT_GE(RestartRpcss(), 1);
        }
    }
    // Each call met the setting as it was then: read afresh every time.
    const std::vector<AgentRecord> records = session.Records();
    ASSERT_EQ(std::size(kAgentAnswers), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(AgentText::Of(L"http://h/" + std::to_wstring(i)), records[i].url);
        EXPECT_EQ(kAgentAnswers[i].Recorded(), records[i].answer);
    }
}

TEST_F(AgentServerTest, RecordsTheExactArguments) {
    const AgentText none = AgentText::Null();
    const AgentText empty = AgentText::Of(L"");
    const TaskArguments calls[] = {
        // The two roads: a link's text, or a zero-length comment; "" in 5 and 6.
        Navigation(L"http://example.com/a.zip"),
        {AgentText::Of(L"http://example.com/b.zip"), empty, AgentText::Of(L"http://example.com/"),
         0, empty, empty},
        // Absent comment and referrer arrive as null, apart from zero-length.
        {AgentText::Of(L"ftp://h/c.zip"), none, none, 0, empty, empty},
        {AgentText::Of(L""), empty, empty, 7, none, none},
        {none, none, none, -1, none, AgentText::Of(L"r2")},
        // Characters beyond ASCII, as UTF-16 carries them.
        {AgentText::Of(L"http://h/caf\x00E9/\x20AC\x4E2D.zip"),
         AgentText::Of(L"T\x00E9l\x00E9"
                       L"charger \xD83D\xDE00"),
         AgentText::Of(L"http://h/\x00FC\x00DF/"), 0, empty, empty},
        // Whatever a line or a field separator would break, and the marker's text.
        {AgentText::Of(L"http://h/a\tb\nc\rd\\e"), AgentText::Of(L"\\N"),
         AgentText::Of(std::wstring(L"x\0y\x01\x7F\x85", 6)), 0x7FFFFFFF,
         AgentText::Of(L"lone \xD800 half"), AgentText::Of(L"\\")},
    };
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    session.SetAnswer(L"0");
    for (const TaskArguments& call : calls) {
        LONG accepted = 0;
        EXPECT_EQ(S_OK, CallAddTask(agent.Get(), call, accepted));
    }
    const std::vector<AgentRecord> records = session.Records();
    ASSERT_EQ(std::size(calls), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].url, records[i].url);
        EXPECT_EQ(calls[i].comment, records[i].comment);
        EXPECT_EQ(calls[i].referrer, records[i].referrer);
        EXPECT_EQ(calls[i].flags, records[i].flags);
        EXPECT_EQ(calls[i].cookie, records[i].cookie);
        EXPECT_EQ(calls[i].reserved, records[i].reserved);
        EXPECT_TRUE(records[i].acceptedGiven);
        EXPECT_EQ(0, records[i].acceptedOnEntry);
        EXPECT_EQ(L"0", records[i].answer);
    }
}

TEST_F(AgentServerTest, RecordFileDefaultsToTheExecutablesFolder) {
    const std::string exe = AgentExePath();
    const std::string logPath = exe.substr(0, exe.find_last_of('\\') + 1) + "CorvaneAgent.log";
    const std::wstring log(logPath.begin(), logPath.end());  // the build tree's path is ASCII
    DeleteFileW(log.c_str());
    ClearAgentRecordFile();
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    LONG accepted = 0;
    EXPECT_EQ(S_OK, CallAddTask(agent.Get(), Navigation(L"http://h/default.zip"), accepted));
    const std::vector<AgentRecord> records = ReadAgentRecords(log);
    DeleteFileW(log.c_str());
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://h/default.zip"), records[0].url);
    EXPECT_TRUE(session.Records().empty());
}

TEST_F(AgentServerTest, ClientsShareOneAgentWithItsCountAndOptions) {
    ComPtr<IDownloadAgent> first = Agent();
    ComPtr<IDownloadAgent> second = Agent();
    ASSERT_TRUE(first && second);
    LONG before = -1, after = -1, version = 0;
    ASSERT_EQ(S_OK, first->GetTaskCount(&before));
    LONG accepted = 0;
    EXPECT_EQ(S_OK, CallAddTask(first.Get(), Navigation(L"http://h/1.zip"), accepted));
    EXPECT_EQ(S_OK, CallAddTask(second.Get(), Navigation(L"http://h/2.zip"), accepted));
    ASSERT_EQ(S_OK, second->GetTaskCount(&after));
    EXPECT_EQ(before + 2, after);
    EXPECT_EQ(S_OK, first->GetAgentVersion(&version));
    EXPECT_EQ(0x00010000, version);
    EXPECT_EQ(E_NOTIMPL, first->ShowMainWindow());

    Bstr name = MakeBstr(L"Folder"), value = MakeBstr(
                                         L"C:\\T\x00E9l\x00E9"
                                         L"chargements");
    EXPECT_EQ(S_OK, first->SetOption(name.Get(), value.Get()));
    Bstr read;
    ASSERT_EQ(S_OK, second->GetOption(name.Get(), read.Receive()));
    EXPECT_EQ(std::wstring(value.Get()), std::wstring(read.Get(), SysStringLen(read.Get())));

    Bstr paused = MakeBstr(L"Paused");
    EXPECT_EQ(S_OK, first->PauseAll());
    ASSERT_EQ(S_OK, second->GetOption(paused.Get(), read.Receive()));
    EXPECT_EQ(std::wstring(L"1"), read.Get());
    EXPECT_EQ(S_OK, second->ResumeAll());
    ASSERT_EQ(S_OK, first->GetOption(paused.Get(), read.Receive()));
    EXPECT_EQ(std::wstring(L"0"), read.Get());

    Bstr unknown = MakeBstr(L"no such option");
    EXPECT_TRUE(FAILED(first->GetOption(unknown.Get(), read.Receive())));
    EXPECT_EQ(nullptr, read.Get());
    EXPECT_TRUE(FAILED(first->SetOption(nullptr, value.Get())));
}

TEST_F(AgentServerTest, RunsWhileHeldAndEndsWhenReleased) {
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    {
        ComPtr<IDownloadAgent> first = Agent();
        ComPtr<IDownloadAgent> second = Agent();
        ASSERT_TRUE(first && second);
        first.Reset();
        Sleep(300);
        EXPECT_EQ(1, CountAgentProcesses());  // the second still holds it
        LONG count = -1;
        EXPECT_EQ(S_OK, second->GetTaskCount(&count));
    }
    EXPECT_TRUE(WaitForNoAgentProcess(10000));
}

TEST_F(AgentServerTest, StartedWithoutAClientItEndsByItself) {
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    const DWORD start = GetTickCount();
    EXPECT_EQ(0, RunProcess(AgentExePath(), "-Embedding", 60000));
    EXPECT_GE(GetTickCount() - start, 9000u);
}

// With a fetch folder, what the agent takes it fetches, as the hand-off gave
// it; what it declines it leaves alone. The record of the fetch is complete
// once the agent has ended.
TEST_F(AgentServerTest, FetchesWhatItTakes) {
    TinyHttpServer server;
    ASSERT_TRUE(server.Running());
    server.Answer("/taken.zip", {"200 OK", "", "abc"});
    ScratchDir scratch("agent-fetch");
    const std::wstring folder = Utf8ToWide(scratch.Path()) + L"\\";
    SetAgentFetchFolder(folder);
    {
        ComPtr<IDownloadAgent> agent = Agent();
        ASSERT_TRUE(agent);
        for (const wchar_t* answer : {L"1", L"0"}) {
            session.SetAnswer(answer);
            TaskArguments task =
                Navigation(server.Url(answer[0] == L'1' ? L"/taken.zip" : L"/declined.zip"));
            task.cookie = AgentText::Of(L"sid=2");
            LONG accepted = -1;
            EXPECT_EQ(S_OK, CallAddTask(agent.Get(), task, accepted));
        }
    }
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    std::string record;
    ASSERT_TRUE(ReadFileBytes(scratch.Sub("CorvaneFetches.log"), record));
    EXPECT_EQ(WideToUtf8(server.Url(L"/taken.zip")) +
                  "\tdone\t200\t3\t"
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\ttaken.zip\t\n",
              record);
    EXPECT_NE(std::string::npos, server.LastHeaders("/taken.zip").find("\r\nCookie: sid=2\r\n"));
    EXPECT_EQ(0, server.Requests("/declined.zip"));
}
