// The policy with "UserConfig.ini" written beside this executable (the
// module whose directory the policy reads here).
#include "handoff/handoff_policy.h"
#include "handoff/url_policy.h"

#include "common/module_path.h"
#include "common/string_conversion.h"
#include "tests/support/config_file.h"
#include "tests/support/profile_reads.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class HandoffPolicy : public testing::Test {
  protected:
    ScopedConfigFile config{SelfDirectory()};

    static std::wstring Path() {
        std::wstring path;
        EXPECT_TRUE(ConfigurationPath(path));
        return path;
    }
    static bool MonitorEnabled() { return IsSwitchOn(ReadMonitorValue(Path())); }
    static std::string ExtensionList() { return ReadExtensionList(Path()); }
};

TEST_F(HandoffPolicy, ModuleDirectoryEndsInABackslash) {
    std::wstring directory;
    ASSERT_TRUE(GetModuleDirectory(nullptr, directory));
    EXPECT_EQ(SelfDirectory(), WideToUtf8(directory));
    EXPECT_EQ(config.Path(), WideToUtf8(Path()));
}

TEST_F(HandoffPolicy, WithoutTheFileTheDefaultsApply) {
    EXPECT_TRUE(MonitorEnabled());
    EXPECT_EQ(kDefaultExtensionList, ExtensionList());
    config.WriteRaw("[Other]\r\nMonitorIE=0\r\n");  // section missing
    EXPECT_TRUE(MonitorEnabled());
    EXPECT_EQ(kDefaultExtensionList, ExtensionList());
    config.WriteMonitor("Unrelated=1");  // keys missing
    EXPECT_TRUE(MonitorEnabled());
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
        EXPECT_EQ(c.on, MonitorEnabled()) << "MonitorIE=" << c.value;
    }
}

TEST_F(HandoffPolicy, ExtensionListIsReadAsStoredAndCutAt1023) {
    config.WriteMonitor("ExtendNames=");
    EXPECT_EQ("", ExtensionList());
    EXPECT_FALSE(MatchesExtension("http://host/a.zip", ExtensionList().c_str()));
    EXPECT_TRUE(MatchesExtension("corvane://host/a", ExtensionList().c_str()));

    config.WriteMonitor("ExtendNames=.ZIP;.Mp3;");
    EXPECT_EQ(".ZIP;.Mp3;", ExtensionList());

    const std::string longList = std::string(1020, 'x') + ".zip;";  // 1025 characters
    config.WriteMonitor("ExtendNames=" + longList);
    EXPECT_EQ(longList.substr(0, 1023), ExtensionList());
}

// The file is written in the ANSI code page; the URL comes from the browser.
TEST_F(HandoffPolicy, AListEntryTypedInTheFilesCodePageMatches) {
    ASSERT_EQ(1252u, GetACP());
    config.WriteMonitor("ExtendNames=.caf\xe9;");  // e acute in code page 1252
    EXPECT_TRUE(PolicyAllows(WideToUtf8(L"http://host/a.caf\u00e9")));
    EXPECT_FALSE(PolicyAllows("http://host/a.cafe"));
}

TEST_F(HandoffPolicy, AnUnsupportedSchemeReadsNoFile) {
    config.WriteMonitor("MonitorIE=1");
    ProfileReads reads;
    for (const char* url : {"file:///c:/a.zip", "javascript:void(0).zip", "", "mailto:a@b.zip"})
        EXPECT_FALSE(PolicyAllows(url)) << url;
    EXPECT_EQ(0, reads.Count());
}

TEST_F(HandoffPolicy, TheSwitchIsReadBeforeTheListAndEachOnce) {
    config.WriteMonitor("MonitorIE=0");
    {
        ProfileReads reads;
        EXPECT_FALSE(PolicyAllows("corvane://host/a"));
        EXPECT_EQ(1, reads.Count());  // the switch alone
    }
    config.WriteMonitor("MonitorIE=1\r\nExtendNames=.none;");
    ProfileReads reads;
    EXPECT_FALSE(PolicyAllows("http://host/a.zip"));
    EXPECT_EQ(2, reads.Count());
}

// A library whose own path fits MAX_PATH but whose "UserConfig.ini" beside it
// would not: the policy reads nothing and offers nothing. The cases run in a
// copy of this executable, with a short name, in such a folder.
TEST(HandoffPolicyDeepFolder, AConfigurationPathPastMaxPathRefusesEverything) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in a copy in a folder near MAX_PATH";
    std::wstring path;
    ASSERT_FALSE(ConfigurationPath(path));
    ProfileReads reads;
    EXPECT_FALSE(PolicyAllows("http://host/a.zip"));
    EXPECT_FALSE(PolicyAllows("corvane://host/a"));
    EXPECT_EQ(0, reads.Count());
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
