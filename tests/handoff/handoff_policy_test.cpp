// The policy as SendToAgent applies it, with "UserConfig.ini" written beside
// this executable (the module whose directory the policy reads here).
#include "handoff/download_handoff.h"
#include "handoff/url_policy.h"

#include "tests/support/config_file.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

class HandoffPolicy : public testing::Test {
  protected:
    ScopedConfigFile config{SelfDirectory()};
    DownloadHandoff handoff;

    std::string ExtensionList() {
        char buffer[1024];
        std::memset(buffer, 'X', sizeof(buffer));
        EXPECT_TRUE(handoff.GetExtensionList(buffer, sizeof(buffer)));
        return buffer;
    }
};

TEST_F(HandoffPolicy, ModuleDirectoryEndsInABackslash) {
    char directory[MAX_PATH];
    ASSERT_TRUE(DownloadHandoff::GetModuleDirectory(directory));
    EXPECT_EQ(SelfDirectory(), directory);
    char path[MAX_PATH];
    ASSERT_TRUE(DownloadHandoff::GetConfigurationPath(path));
    EXPECT_EQ(config.Path(), path);
}

TEST_F(HandoffPolicy, WithoutTheFileTheDefaultsApply) {
    EXPECT_TRUE(handoff.IsMonitorEnabled());
    EXPECT_EQ(kDefaultExtensionList, ExtensionList());
    config.WriteRaw("[Other]\r\nMonitorIE=0\r\n");  // section missing
    EXPECT_TRUE(handoff.IsMonitorEnabled());
    EXPECT_EQ(kDefaultExtensionList, ExtensionList());
    config.WriteMonitor("Unrelated=1");  // keys missing
    EXPECT_TRUE(handoff.IsMonitorEnabled());
    EXPECT_EQ(kDefaultExtensionList, ExtensionList());
}

TEST_F(HandoffPolicy, OnlyExactlyOneSwitchesItOn) {
    struct Case {
        const char* value;
        bool on;
    } cases[] = {{"1", true},   {"0", false},   {"2", false}, {"-1", false},
                 {"on", false}, {"yes", false}, {" 1", true}};
    for (const Case& c : cases) {
        config.WriteMonitor(std::string("MonitorIE=") + c.value);
        EXPECT_EQ(c.on, handoff.IsMonitorEnabled()) << "MonitorIE=" << c.value;
    }
}

TEST_F(HandoffPolicy, ExtensionListIsReadAsStoredAndCutAt1023) {
    config.WriteMonitor("ExtendNames=");
    EXPECT_EQ("", ExtensionList());
    EXPECT_FALSE(handoff.MatchesExtension("http://host/a.zip", ExtensionList().c_str()));
    EXPECT_TRUE(handoff.MatchesExtension("corvane://host/a", ExtensionList().c_str()));

    config.WriteMonitor("ExtendNames=.ZIP;.Mp3;");
    EXPECT_EQ(".ZIP;.Mp3;", ExtensionList());
    EXPECT_FALSE(handoff.MatchesExtension("http://host/a.zip", ExtensionList().c_str()));

    const std::string longList = std::string(1020, 'x') + ".zip;";  // 1025 characters
    config.WriteMonitor("ExtendNames=" + longList);
    EXPECT_EQ(longList.substr(0, 1023), ExtensionList());
}

TEST_F(HandoffPolicy, AnUnsupportedSchemeReadsNoFile) {
    config.WriteMonitor("MonitorIE=1");
    for (const char* url : {"file:///c:/a.zip", "javascript:void(0).zip", "", "mailto:a@b.zip"}) {
        const unsigned long before = DownloadHandoff::ConfigurationReads();
        EXPECT_FALSE(handoff.SendToAgent(url, "text", "http://host/", ""));
        EXPECT_EQ(before, DownloadHandoff::ConfigurationReads()) << url;
    }
    const unsigned long before = DownloadHandoff::ConfigurationReads();
    EXPECT_FALSE(handoff.SendToAgent(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(before, DownloadHandoff::ConfigurationReads());
}

TEST_F(HandoffPolicy, TheSwitchIsReadBeforeTheListAndEachOnce) {
    config.WriteMonitor("MonitorIE=0");
    unsigned long before = DownloadHandoff::ConfigurationReads();
    EXPECT_FALSE(handoff.SendToAgent("corvane://host/a", "", "", ""));
    EXPECT_EQ(before + 1, DownloadHandoff::ConfigurationReads());  // the switch alone

    config.WriteMonitor("MonitorIE=1\r\nExtendNames=.none;");
    before = DownloadHandoff::ConfigurationReads();
    EXPECT_FALSE(handoff.SendToAgent("http://host/a.zip", "", "", ""));
    EXPECT_EQ(before + 2, DownloadHandoff::ConfigurationReads());
}

// A library whose own path fits MAX_PATH but whose "UserConfig.ini" beside it
// would not: the policy reads nothing and offers nothing. The cases run in a
// copy of this executable, with a short name, in such a folder.
TEST(HandoffPolicyDeepFolder, AConfigurationPathPastMaxPathRefusesEverything) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in a copy in a folder near MAX_PATH";
    char path[MAX_PATH];
    ASSERT_FALSE(DownloadHandoff::GetConfigurationPath(path));
    DownloadHandoff handoff;
    const unsigned long before = DownloadHandoff::ConfigurationReads();
    EXPECT_FALSE(handoff.IsMonitorEnabled());
    EXPECT_FALSE(handoff.PolicyAllows("http://host/a.zip"));
    EXPECT_FALSE(handoff.PolicyAllows("corvane://host/a"));
    EXPECT_EQ(before, DownloadHandoff::ConfigurationReads());
}

TEST(HandoffPolicyDeepFolder, RunsInACopyNearMaxPath) {
    ScratchDir scratch("deep");
    // The folder's length L leaves room for the copy's path (L + 6 < 260),
    // not for "UserConfig.ini" beside it (L + 15 >= 260).
    std::string folder = scratch.Path();
    while (folder.size() < 250) {
        folder += '\\' + std::string(std::min<size_t>(100, 249 - folder.size()), 'd');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    ASSERT_EQ(250u, folder.size());
    EXPECT_TRUE(CopyRanItsCases(
        RunCasesInCopy(folder + "\\h.exe", "HandoffPolicyDeepFolder.AConfigurationPath*")));
}

}  // namespace
