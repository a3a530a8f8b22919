// The agent driven out of process, as the library drives it: its answers, its
// record of the arguments, its death in the middle of a call.
#include "tests/agent/agent_client.h"
#include "tests/support/agent_control.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

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

TEST_F(AgentServerTest, AnswersAsConfigured) {
    struct Case {
        const wchar_t* answer;  // nullptr: the setting absent
        LONG expected;
    };
    const Case cases[] = {
        {nullptr, 1},    {L"1", 1}, {L"0", 0}, {L"2", 2}, {L"-1", -1}, {L"2147483647", 2147483647},
        {L"nowrite", 0},
    };
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == nullptr ? L"(absent)" : c.answer);
        if (c.answer == nullptr)
            ClearAgentAnswer();
        else
            session.SetAnswer(c.answer);
        LONG accepted = 0;
        EXPECT_EQ(S_OK,
                  CallAddTask(agent.Get(), Navigation(L"http://example.com/a.zip"), accepted));
        EXPECT_EQ(c.expected, accepted);
    }
    // Each call met the setting as it was then: read afresh every time.
    const std::vector<AgentRecord> records = session.Records();
    ASSERT_EQ(std::size(cases), records.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(cases[i].answer == nullptr ? L"1" : cases[i].answer, records[i].answer);
}

TEST_F(AgentServerTest, FailingAnswersReachTheClient) {
    const wchar_t* const answers[] = {L"hresult:0x80004005", L"hresult:0x80070005",
                                      L"not an answer"};
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    for (const wchar_t* answer : answers) {
        SCOPED_TRACE(answer);
        session.SetAnswer(answer);
        LONG accepted = 0;
        EXPECT_TRUE(FAILED(CallAddTask(agent.Get(), Navigation(L"http://h/f.zip"), accepted)));
        EXPECT_EQ(0, accepted);
    }
    EXPECT_EQ(std::size(answers), session.Records().size());
}

TEST_F(AgentServerTest, SlowAnswerArrivesAfterItsDelay) {
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    session.SetAnswer(L"slow:800:2");
    LONG accepted = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, CallAddTask(agent.Get(), Navigation(L"http://h/slow.zip"), accepted));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 780u);  // the tick counter's own step is up to ~16 ms
    EXPECT_LT(elapsed, 30000u);
    EXPECT_EQ(2, accepted);
}

TEST_F(AgentServerTest, DeathMidCallFailsTheCallAndRpcssRestartRestoresActivation) {
    // However this test ends, later tests (of every executable sharing the
    // prefix's wineserver) must find activation working.
    struct RestoreRpcssAtEnd {
        ~RestoreRpcssAtEnd() { RestartRpcss(); }
    } restore;
    {
        ComPtr<IDownloadAgent> agent = Agent();
        ASSERT_TRUE(agent);
        session.SetAnswer(L"exit");
        LONG accepted = 0;
        EXPECT_TRUE(FAILED(CallAddTask(agent.Get(), Navigation(L"http://h/dies.zip"), accepted)));
        EXPECT_EQ(0, accepted);
    }
    // Recorded before it died.
    const std::vector<AgentRecord> records = session.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://h/dies.zip"), records[0].url);
    EXPECT_EQ(L"exit", records[0].answer);

    EXPECT_GE(RestartRpcss(), 1);
    ClearAgentAnswer();
    ComPtr<IDownloadAgent> agent = Agent();
    ASSERT_TRUE(agent);
    LONG accepted = 0;
    EXPECT_EQ(S_OK, CallAddTask(agent.Get(), Navigation(L"http://h/again.zip"), accepted));
    EXPECT_EQ(1, accepted);
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
