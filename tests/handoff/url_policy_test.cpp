// The scheme and extension rules, table-driven. Built natively and for Windows.
#include "handoff/url_policy.h"

#include "handoff/list_lint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(UrlPolicy, DefaultListHasItsSeventeenEntries) {
    EXPECT_EQ(86u, std::strlen(kDefaultExtensionList));
    int entries = 0;
    for (const char* c = kDefaultExtensionList; *c != '\0'; ++c)
        entries += (*c == ';');
    EXPECT_EQ(17, entries);
}

TEST(UrlPolicy, SchemesInTableOrderAnyCase) {
    struct Case {
        const char* url;
        const char* scheme;
    } cases[] = {
        {"ftp://host/a.zip", "ftp://"},       {"http://host/a.zip", "http://"},
        {"HTTP://host/FILE.ZIP", "http://"},  {"https://host/a", "https://"},
        {"corvane://anything", "corvane://"}, {"CorVane://x", "corvane://"},
        {"mms://host/a.asf", "mms://"},       {"mmst://host/a.asf", "mmst://"},
        {"rtsp://host/a.rm", "rtsp://"},      {"rtspu://host/a.rm", "rtspu://"},
        {"file:///c:/a.zip", nullptr},        {"mailto:a@b", nullptr},
        {"javascript:alert(1)", nullptr},     {"", nullptr},
        {"http:/host/a.zip", nullptr},        {"http", nullptr},
        {" http://host/a.zip", nullptr},
    };
    for (const Case& c : cases) {
        const char* found = FindSupportedScheme(c.url);
        if (c.scheme == nullptr) {
            EXPECT_EQ(nullptr, found) << c.url;
            EXPECT_FALSE(IsSupportedUrl(c.url)) << c.url;
        } else {
            ASSERT_NE(nullptr, found) << c.url;
            EXPECT_STREQ(c.scheme, found) << c.url;
            EXPECT_TRUE(IsSupportedUrl(c.url)) << c.url;
        }
    }
}

TEST(UrlPolicy, NullUrlIsRefusedLikeAnEmptyOne) {
    EXPECT_FALSE(IsSupportedUrl(nullptr));
    EXPECT_FALSE(MatchesExtension(nullptr, kDefaultExtensionList));
}

TEST(UrlPolicy, ExtensionRulesWithTheDefaultList) {
    struct Case {
        const char* url;
        bool matches;
        ExtensionVerdict::Reason reason;
        const char* candidate;
    } cases[] = {
        {"HTTP://host/FILE.ZIP", true, ExtensionVerdict::kInList, ".zip;"},
        {"http://host/download", false, ExtensionVerdict::kNoDot, ""},
        {"http://10.0.0.1/download", false, ExtensionVerdict::kDotBeforeSlash, ""},
        {"http://10.0.0.1", false, ExtensionVerdict::kNotInList, ".1;"},
        {"http://host/file.zip?x=1", true, ExtensionVerdict::kInList, ".zip;"},
        {"http://host/get.php?name=a.zip", true, ExtensionVerdict::kInList, ".zip;"},
        {"http://host/file.zip?dir=/a", false, ExtensionVerdict::kDotBeforeSlash, ""},
        {"http://host/file.zip#top", false, ExtensionVerdict::kNotInList, ".zip#top;"},
        {"http://host/a.tar.gz", false, ExtensionVerdict::kNotInList, ".gz;"},
        {"http://host/a.html", false, ExtensionVerdict::kNotInList, ".html;"},
        {"http://host/a.Mp3", true, ExtensionVerdict::kInList, ".mp3;"},
        {"http://host/a.", false, ExtensionVerdict::kNotInList, ".;"},
        {"corvane://host/page", true, ExtensionVerdict::kCorvaneLink, ""},
        {"CORVANE://HOST/PAGE.HTML", true, ExtensionVerdict::kCorvaneLink, ""},
        {"http://host/a.m", false, ExtensionVerdict::kNotInList, ".m;"},
        {"http://host/a.rm", true, ExtensionVerdict::kInList, ".rm;"},
    };
    for (const Case& c : cases) {
        const ExtensionVerdict v = ExplainExtension(c.url, kDefaultExtensionList);
        EXPECT_EQ(c.matches, v.matches) << c.url;
        EXPECT_EQ(c.reason, v.reason) << c.url;
        EXPECT_EQ(c.candidate, v.candidate) << c.url;
        EXPECT_EQ(c.matches, MatchesExtension(c.url, kDefaultExtensionList)) << c.url;
    }
}

TEST(UrlPolicy, CandidateOfTwentyIsLookedUpAndTwentyOneIsNot) {
    const std::string twenty = "." + std::string(19, 'x');  // 20 with the dot
    const std::string list = twenty + ";";
    EXPECT_TRUE(MatchesExtension(("http://host/a" + twenty).c_str(), list.c_str()));
    const ExtensionVerdict longer =
        ExplainExtension(("http://host/a" + twenty + "x").c_str(), (twenty + "x;").c_str());
    EXPECT_FALSE(longer.matches);
    EXPECT_EQ(ExtensionVerdict::kTooLong, longer.reason);
    // The query does not count towards the length.
    EXPECT_TRUE(MatchesExtension(("http://host/a" + twenty + "?" + std::string(50, 'q')).c_str(),
                                 list.c_str()));
}

TEST(UrlPolicy, ListIsSearchedExactlyAsStored) {
    struct Case {
        const char* url;
        const char* list;
        bool matches;
    } cases[] = {
        {"http://host/a.zip", ".ZIP;", false},      // capitals never match
        {"http://host/a.zip", ".exe;.zip", false},  // last entry lacks its ";"
        {"http://host/a.gz", ".tar.gz;", true},     // ".gz;" occurs inside
        {"http://10.0.0.1", ".1;", true},           // the address's last part
        {"http://host/a.zip", "", false},           // empty list
        {"corvane://host/a.zip", "", true},         // corvane needs no list
        {"http://host/a.zip", ".exe;.zip;.mp3;", true},
        {"http://host/a.ar", ".tar;.rar;", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.matches, MatchesExtension(c.url, c.list)) << c.url << " in " << c.list;
    }
}

TEST(UrlPolicy, LongUrlsAreDecidedWithoutTrouble) {
    std::string url = "http://host/" + std::string(2 * 1024 * 1024, 'a') + ".zip";
    EXPECT_TRUE(IsSupportedUrl(url.c_str()));
    EXPECT_TRUE(MatchesExtension(url.c_str(), kDefaultExtensionList));
    url = "http://host/a" + std::string(2 * 1024 * 1024, '.');
    EXPECT_FALSE(MatchesExtension(url.c_str(), kDefaultExtensionList));
}

TEST(ListLint, EachMistakeNamesItsEntryAndTheEntryThatWouldMatch) {
    using M = ListMistake;
    struct Case {
        std::string value;
        std::vector<ListMistake> mistakes;
    } cases[] = {
        {kDefaultExtensionList, {}},
        {".zip;;.rar;", {}},  // an empty entry is harmless
        {"", {{M::kEmpty, "", ""}}},
        {" ; ;", {{M::kEmpty, "", ""}}},
        {".ZIP;.rar",
         {{M::kUpperCase, ".ZIP", ".zip;"}, {M::kNoClosingSemicolon, ".rar", ".rar;"}}},
        {"zip;.Mp3",
         {{M::kNoLeadingDot, "zip", ".zip;"},
          {M::kUpperCase, ".Mp3", ".mp3;"},
          {M::kNoClosingSemicolon, ".Mp3", ".mp3;"}}},
        {".zip; .rar;", {{M::kSpace, " .rar", ".rar;"}}},
        {".zip;.rar;.zip;", {{M::kRepeated, ".zip", ".zip;"}}},
        {"." + std::string(20, 'x') + ";." + std::string(19, 'y') + ";",
         {{M::kTooLong, "." + std::string(20, 'x'), "." + std::string(20, 'x') + ";"}}},
    };
    for (const Case& c : cases) {
        const std::vector<ListMistake> found = LintExtensionList(c.value);
        ASSERT_EQ(c.mistakes.size(), found.size()) << c.value;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(c.mistakes[i].kind, found[i].kind) << c.value << " #" << i;
            EXPECT_EQ(c.mistakes[i].entry, found[i].entry) << c.value << " #" << i;
            EXPECT_EQ(c.mistakes[i].suggestion, found[i].suggestion) << c.value << " #" << i;
        }
    }
}

TEST(ListLint, TheFirstEntryEndingPastTheReadLimitIsNamed) {
    // 1023 characters are read: an entry whose ";" is the 1023rd is read
    // whole, one whose ";" is the 1024th is not.
    std::string padding;
    for (int i = 0; i < 203; ++i)
        padding += ".aaa;";  // 1015 characters
    struct Case {
        std::string value;
        const char* cut;
    } cases[] = {
        {padding + ".b;" + ".cut;.gone;", ".gone"},  // ".cut;" ends at 1023
        {padding + ".bb;" + ".cut;.gone;", ".cut"},  // ".cut;" ends at 1024
        {padding + ".b;", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> cut;
        for (const ListMistake& m : LintExtensionList(c.value)) {
            if (m.kind == ListMistake::kPastReadLimit)
                cut.push_back(m.entry);
        }
        ASSERT_EQ(c.cut == nullptr ? 0u : 1u, cut.size()) << c.value.size();
        if (c.cut != nullptr) {
            EXPECT_EQ(c.cut, cut[0]);
        }
    }
}

TEST(ListLint, ARefusedCandidateNamesTheEntryThatAlmostTookIt) {
    struct Case {
        const char* candidate;
        const char* list;
        bool found, capitals, missingSemicolon;
        const char* entry;
    } cases[] = {
        {".zip;", ".ZIP;.rar", true, true, false, ".ZIP"},
        {".rar;", ".ZIP;.rar", true, false, true, ".rar"},
        {".rar;", ".exe;.RAR", true, true, true, ".RAR"},
        {".gz;", ".tar.GZ;", true, true, false, ".tar.GZ"},
        {".zip;", ".rar;.exe;", false, false, false, ""},
        {".ar;", ".rar", false, false, false, ""},  // ".ar" is not an entry of its own
    };
    for (const Case& c : cases) {
        const NearMiss miss = FindNearMiss(c.candidate, c.list);
        EXPECT_EQ(c.found, miss.found) << c.candidate << " in " << c.list;
        EXPECT_EQ(c.capitals, miss.capitals) << c.candidate << " in " << c.list;
        EXPECT_EQ(c.missingSemicolon, miss.missingSemicolon) << c.candidate << " in " << c.list;
        EXPECT_EQ(c.entry, miss.entry) << c.candidate << " in " << c.list;
    }
}
