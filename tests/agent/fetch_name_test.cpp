// The name a fetched file gets, from the server's header or the URL.
#include "agent/fetch_name.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

// One table for the extension's reader and this one: the policy judges the
// name the agent saves under.
const char kSharedCases[] =
#include "content_disposition_cases.inc"
    ;

// A header's bytes from the table's characters, U+0000 to U+00FF each.
std::string HeaderBytes(const std::string& utf8) {
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        EXPECT_LT(lead, 0xC4) << "a character past U+00FF";
        bytes += lead < 0x80 ? utf8[i]
                             : static_cast<char>(((lead & 0x1F) << 6) |
                                                 (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    }
    return bytes;
}

TEST(FetchName, ContentDispositionAsTheExtensionReadsIt) {
    const nlohmann::json table = nlohmann::json::parse(kSharedCases);
    ASSERT_GE(table.at("cases").size(), 20u);
    for (const nlohmann::json& c : table.at("cases")) {
        const std::string header = HeaderBytes(c.at("header").get<std::string>());
        SCOPED_TRACE(header);
        EXPECT_EQ(c.at("filename").get<std::string>(), FileNameFromContentDisposition(header));
    }
}

struct NameCase {
    std::string contentDisposition;
    std::string url;
    std::string name;
};

const NameCase kNames[] = {
    // The URL's last segment, decoded, without query or fragment.
    {"", "http://h/dir/a.zip", "a.zip"},
    {"", "http://h/dir/a%20b.zip?x=1#top", "a b.zip"},
    {"", "http://h/%D1%84.zip", "\xD1\x84.zip"},
    {"", "http://h/%FF.zip", "%FF.zip"},  // not UTF-8 once decoded: kept as sent
    {"", "http://h/dir/", "download"},
    {"", "http://h", "download"},
    // The header's name before the URL's (the header's reading: the shared
    // table above).
    {"attachment; filename=\"q \\\"x\\\".zip\"", "http://h/get.php", "q _x_.zip"},
    {"attachment; filename*=UTF-8''%E2%82%AC.zip; filename=e.zip", "http://h/get.php",
     "\xE2\x82\xAC.zip"},
    {"attachment; filename*=koi8-r''%C1.zip", "http://h/x.zip", "x.zip"},
    {"inline", "http://h/x.zip", "x.zip"},
    // Made safe for Windows: no folder, reserved characters, device names,
    // trailing dots or spaces, invalid bytes.
    {"attachment; filename=\"..\\\\..\\\\evil.exe\"", "http://h/x", "evil.exe"},
    {"attachment; filename=\"a<b>c:d|e?f*.zip\"", "http://h/x", "a_b_c_d_e_f_.zip"},
    {"attachment; filename=\"CON.zip\"", "http://h/x", "_CON.zip"},
    {"attachment; filename=lpt1", "http://h/x", "_lpt1"},
    {"attachment; filename=\"com10.zip\"", "http://h/x", "com10.zip"},
    {"attachment; filename=\"a.zip. . \"", "http://h/x", "a.zip"},
    {"attachment; filename=\"...\"", "http://h/x", "download"},
    {"", "http://h/a\x01\x7F\xC0\xAF.zip", "a____.zip"},
    {"", "http://h/a%0Ab.zip", "a_b.zip"},
    // Cut to kMaxFileNameBytes at a whole character, the extension kept.
    {"", "http://h/" + std::string(300, 'a') + ".zip", std::string(196, 'a') + ".zip"},
};

TEST(FetchName, FromTheHeaderOrTheUrlMadeSafe) {
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(c.contentDisposition + " | " + c.url);
        EXPECT_EQ(c.name, ChooseFetchedFileName(c.contentDisposition, c.url));
    }
    // Three-byte characters cut whole: 65 of them fill 195 of the 196 bytes
    // left beside the extension.
    std::string stem;
    for (int i = 0; i < 100; ++i)
        stem += "\xE2\x82\xAC";
    EXPECT_EQ(stem.substr(0, 195) + ".zip", SafeFileName(stem + ".zip"));
}

}  // namespace
