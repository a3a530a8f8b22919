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

// Every road through the settings file: the verdict, the reason, the step
// that decided, and how many reads of the file it took.
TEST_F(HandoffPolicy, EachRoadDecidesWithItsReasons) {
    using R = PolicyDecision;
    const PolicyRoad ie = PolicyRoad::kLibrary, chromium = PolicyRoad::kBrowsers,
                     asked = PolicyRoad::kUserAsked;
    struct Case {
        const char* lines;  // the [Monitor] section; null: no file
        PolicyRoad road;
        const char* url;
        const char* fileName;
        R::Reason reason;
        const char* subject;  // what the extension was looked for in
        int reads;
    } cases[] = {
        {nullptr, ie, "http://host/a.zip", "", R::kAllowed, "http://host/a.zip", 2},
        {nullptr, ie, "blob:http://host/1", "", R::kUnsupportedScheme, "", 0},
        {"MonitorIE=0", ie, "http://host/a.zip", "", R::kSwitchOff, "", 1},
        // Each road reads its own switch.
        {"MonitorIE=0", chromium, "http://host/x", "a.zip", R::kAllowed, "a.zip", 2},
        {"MonitorBrowsers=0", ie, "http://host/a.zip", "", R::kAllowed, "http://host/a.zip", 2},
        {"MonitorBrowsers=0", chromium, "http://host/a.zip", "a.zip", R::kSwitchOff, "", 1},
        {"MonitorBrowsers=2", chromium, "http://host/a.zip", "a.zip", R::kSwitchOff, "", 1},
        {nullptr, chromium, "data:application/zip;base64,AA==", "a.zip", R::kUnsupportedScheme, "",
         0},
        {nullptr, chromium, "file:///c:/a.zip", "a.zip", R::kUnsupportedScheme, "", 0},
        // The proposed name reflects Content-Disposition; the URL's own
        // extension does not count.
        {nullptr, chromium, "http://host/download.php?id=7", "a.zip", R::kAllowed, "a.zip", 2},
        {nullptr, chromium, "http://host/a.zip", "a.pdf", R::kNotInList, "a.pdf", 2},
        {nullptr, chromium, "https://host/A.ZIP", "", R::kAllowed, "https://host/A.ZIP", 2},
        {nullptr, chromium, "http://host/page", "", R::kNotInList, "http://host/page", 2},
        {"ExtendNames=.pdf;", chromium, "http://host/a.zip", "a.pdf", R::kAllowed, "a.pdf", 2},
        {"ExtendNames=", chromium, "corvane://host/a", "a.pdf", R::kAllowed, "corvane://host/a", 2},
        // A link the user sent: past the switch and the list, never the scheme.
        {"MonitorBrowsers=0\r\nExtendNames=.zip;", asked, "http://host/a.pdf", "a.pdf", R::kAllowed,
         "", 0},
        {nullptr, asked, "javascript:alert(1)", "", R::kUnsupportedScheme, "", 0},
    };
    for (const Case& c : cases) {
        const std::string trace =
            std::string(c.lines ? c.lines : "(no file)") + " " + c.url + " " + c.fileName;
        if (c.lines != nullptr)
            config.WriteMonitor(c.lines);
        else
            config.Remove();
        ProfileReads reads;
        const PolicyDecision d = DecideHandOff(c.road, c.url, c.fileName);
        EXPECT_EQ(c.reads, reads.Count()) << trace;
        EXPECT_EQ(c.reason, d.reason) << trace;
        EXPECT_EQ(c.reason == R::kAllowed, d.allows) << trace;
        EXPECT_EQ(c.reason != R::kUnsupportedScheme, d.scheme != nullptr) << trace;
        EXPECT_EQ(c.reads >= 1, d.switchRead) << trace;
        EXPECT_EQ(c.reads == 2, d.listRead) << trace;
        EXPECT_EQ(c.subject, d.extensionSubject) << trace;
        if (c.road == ie) {
            EXPECT_EQ(d.allows, PolicyAllows(c.url)) << trace;
        }
    }
}

// Where each value came from, for the explainer: read apart from decisions.
TEST_F(HandoffPolicy, SourcesTellTheFileFromTheDefault) {
    const std::wstring path = Path();
    SettingSources s = ReadSettingSources(path, PolicyRoad::kBrowsers);
    EXPECT_FALSE(s.fileExists || s.switchFromFile || s.listFromFile);
    config.WriteMonitor("MonitorIE=0\r\nExtendNames=");
    s = ReadSettingSources(path, PolicyRoad::kBrowsers);
    EXPECT_TRUE(s.fileExists && s.listFromFile);
    EXPECT_FALSE(s.switchFromFile);
    EXPECT_TRUE(ReadSettingSources(path, PolicyRoad::kLibrary).switchFromFile);
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
