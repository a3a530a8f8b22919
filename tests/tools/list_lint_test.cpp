// The list lint's rules, table-driven. Built natively and for Windows.
#include "tools/url_explainer/list_lint.h"

#include "handoff/url_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
