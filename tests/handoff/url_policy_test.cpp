// The scheme and extension rules, table-driven. Built natively and for Windows.
#include "handoff/url_policy.h"

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
