// SendToAgent against the reference agent, out of process.
#include "handoff/download_handoff.h"

#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"

#include <objbase.h>

#include <gtest/gtest.h>

namespace {

class AgentClient : public testing::Test {
  protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    bool Send(const char* url, const char* comment = "link", const char* referrer = "http://p/") {
        DownloadHandoff handoff;
        return handoff.SendToAgent(url, comment, referrer, "cookie=1");
    }
    ScopedConfigFile config{SelfDirectory()};
    AgentSession agent;
};

TEST_F(AgentClient, OnlyAnAnswerOfExactlyOneIsAcceptance) {
    struct Case {
        const wchar_t* answer;
        bool accepted;
    } cases[] = {{L"1", true},
                 {L"0", false},
                 {L"2", false},
                 {L"-1", false},
                 {L"nowrite", false},
                 {L"hresult:0x80004005", false},
                 {L"hresult:0x8007000E", false},
                 {L"slow:300:1", true}};
    for (const Case& c : cases) {
        agent.SetAnswer(c.answer);
        EXPECT_EQ(c.accepted, Send("http://host/a.zip")) << c.answer;
    }
    EXPECT_EQ(sizeof(cases) / sizeof(cases[0]), agent.Records().size());
}

TEST_F(AgentClient, TheAgentReceivesTheArgumentsExactly) {
    // e acute and the euro sign: characters of code page 1252 outside ASCII.
    ASSERT_TRUE(Send("http://host/caf\xe9\x80.zip",
                     "T\xe9l\xe9"
                     "charger",
                     "http://host/p\xe9"));
    ASSERT_TRUE(Send("http://host/b.zip", "", "http://host/"));  // the download road
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(AgentText::Of(L"http://host/caf\u00e9\u20ac.zip"), records[0].url);
    EXPECT_EQ(AgentText::Of(L"T\u00e9l\u00e9charger"), records[0].comment);
    EXPECT_EQ(AgentText::Of(L"http://host/p\u00e9"), records[0].referrer);
    EXPECT_EQ(0, records[0].flags);
    EXPECT_EQ(AgentText::Of(L""), records[0].reserved1);  // real zero-length strings
    EXPECT_EQ(AgentText::Of(L""), records[0].reserved2);
    EXPECT_TRUE(records[0].acceptedGiven);
    EXPECT_EQ(0, records[0].acceptedOnEntry);           // the answer starts at 0
    EXPECT_EQ(AgentText::Of(L""), records[1].comment);  // zero-length, not null

    // Absent, not empty: a null BSTR, which COM reads as the empty string.
    ASSERT_TRUE(Send("http://host/c.zip", nullptr, nullptr));
    const AgentRecord absent = agent.Records().back();
    EXPECT_EQ(AgentText::Null(), absent.comment);
    EXPECT_EQ(AgentText::Null(), absent.referrer);
}

TEST_F(AgentClient, PolicyRefusalsNeverReachTheAgent) {
    EXPECT_FALSE(Send("http://host/page.html"));
    EXPECT_FALSE(Send("file:///c:/a.zip"));
    config.WriteMonitor("MonitorIE=0");
    EXPECT_FALSE(Send("http://host/a.zip"));
    EXPECT_FALSE(Send("corvane://host/a"));
    config.WriteMonitor("ExtendNames=.html;");
    EXPECT_TRUE(Send("http://host/page.html"));
    EXPECT_EQ(1u, agent.Records().size());
}

// The agent's process ends once no client holds it: a hand-off that the
// agent failed has let it go all the same.
TEST_F(AgentClient, AFailingAddTaskLeavesNoAgentBehind) {
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    agent.SetAnswer(L"hresult:0x80004005");
    EXPECT_FALSE(Send("http://host/a.zip"));
    EXPECT_EQ(1u, agent.Records().size());
    EXPECT_TRUE(WaitForNoAgentProcess(10000));
}

TEST_F(AgentClient, AnAgentThatDiesDuringTheCallIsADeclinedHandoff) {
    agent.SetAnswer(L"exit");
    EXPECT_FALSE(Send("http://host/a.zip"));
    RestartRpcss();
    agent.SetAnswer(L"1");
    EXPECT_TRUE(Send("http://host/b.zip"));
}

}  // namespace
