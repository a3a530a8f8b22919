// The policy and the agent client against the reference agent, out of process.
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"

#include "common/module_state.h"
#include "common/string_conversion.h"
#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

class AgentClient : public testing::Test {
  protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    bool Send(const std::wstring& url, const std::wstring& comment = L"link",
              const std::wstring& referrer = L"http://p/") {
        return PolicyAllows(WideToUtf8(url)) &&
               OfferTaskToAgent({url, comment, referrer, L"cookie=1"}) == OfferOutcome::kTaken;
    }
    ScopedConfigFile config{SelfDirectory()};
    AgentSession agent;
};

// Every answer of the shared table: an offer is taken only for 1 within the
// bound, waits for an answer inside it and for none past it, and reaches the
// agent once; after an agent died in the call, the next offer is taken.
TEST_F(AgentClient, OnlyAnAnswerOfExactlyOneWithinTheBoundIsAcceptance) {
    auto running = std::make_unique<RunningAgent>();
    for (size_t i = 0; i < std::size(kAgentAnswers); ++i) {
        const AgentAnswerCase& c = kAgentAnswers[i];
        SCOPED_TRACE(c.Name());
        agent.SetAnswer(c);
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.taken, Send(L"http://host/" + std::to_wstring(i) + L".zip"));
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed + 20, std::min(c.delayMs, kOfferBoundMs));  // ticks step ~16 ms
        EXPECT_LT(elapsed, kOfferBoundMs + kReturnMarginMs);
        const std::vector<AgentRecord> records = agent.Records();
        ASSERT_EQ(i + 1, records.size());
        EXPECT_EQ(c.Recorded(), records.back().answer);
        if (c.dies) {
            running.reset();
            RestartRpcss();
            running = std::make_unique<RunningAgent>();
        }
        if (c.delayMs > kOfferBoundMs) {
            // Given up at the bound, the offer still waits on the agent: until
            // it ends, a new offer is declined at once and reaches no agent.
            const DWORD busyStart = GetTickCount();
            EXPECT_EQ(OfferOutcome::kBusy,
                      OfferTaskToAgent({L"http://host/busy.zip", L"", L"", L""}));
            EXPECT_LT(GetTickCount() - busyStart, kOfferBoundMs / 10);
            const DWORD waitStart = GetTickCount();
            while (liveObjectCount != 0 && GetTickCount() - waitStart < 4 * kOfferBoundMs)
                Sleep(20);
            EXPECT_EQ(0, liveObjectCount);
            EXPECT_EQ(i + 1, agent.Records().size());
        }
    }
}

TEST_F(AgentClient, TheAgentReceivesTheArgumentsExactly) {
    // A pair of surrogates, a lone one, and characters of no one code page.
    const std::wstring url = L"http://host/\u0444\u4e0b\U0001F600.zip";
    const std::wstring comment = L"T\u00e9l\u00e9charger \xD800";
    ASSERT_TRUE(Send(url, comment, L"http://host/\u0101"));
    ASSERT_TRUE(Send(L"http://host/b.zip", L"", L"http://host/"));  // the download road
    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(AgentText::Of(url), records[0].url);
    EXPECT_EQ(AgentText::Of(comment), records[0].comment);
    EXPECT_EQ(AgentText::Of(L"http://host/\u0101"), records[0].referrer);
    EXPECT_EQ(0, records[0].flags);
    EXPECT_EQ(AgentText::Of(L"cookie=1"), records[0].cookie);
    EXPECT_EQ(AgentText::Of(L""), records[0].reserved);  // a real zero-length string
    EXPECT_TRUE(records[0].acceptedGiven);
    EXPECT_EQ(0, records[0].acceptedOnEntry);           // the answer starts at 0
    EXPECT_EQ(AgentText::Of(L""), records[1].comment);  // zero-length, not null
}

TEST_F(AgentClient, PolicyRefusalsNeverReachTheAgent) {
    EXPECT_FALSE(Send(L"http://host/page.html"));
    EXPECT_FALSE(Send(L"file:///c:/a.zip"));
    config.WriteMonitor("MonitorIE=0");
    EXPECT_FALSE(Send(L"http://host/a.zip"));
    EXPECT_FALSE(Send(L"corvane://host/a"));
    config.WriteMonitor("ExtendNames=.html;");
    EXPECT_TRUE(Send(L"http://host/page.html"));
    EXPECT_EQ(1u, agent.Records().size());
}

// The agent's process ends once no client holds it: a hand-off that the
// agent failed has let it go all the same.
TEST_F(AgentClient, AFailingAddTaskLeavesNoAgentBehind) {
    ASSERT_TRUE(WaitForNoAgentProcess(10000));
    agent.SetAnswer(L"hresult:0x80004005");
    EXPECT_FALSE(Send(L"http://host/a.zip"));
    EXPECT_EQ(1u, agent.Records().size());
    EXPECT_TRUE(WaitForNoAgentProcess(10000));
}

}  // namespace
