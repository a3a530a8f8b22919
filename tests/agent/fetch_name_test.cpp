// The name a fetched file gets, from the server's header or the URL.
#include "agent/fetch_name.h"

#include <gtest/gtest.h>

namespace {

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
    // The header's name before the URL's; filename* before filename.
    {"attachment; filename=a.zip", "http://h/get.php", "a.zip"},
    {"attachment; filename=\"q \\\"x\\\".zip\"", "http://h/get.php", "q _x_.zip"},
    {"attachment; filename=\"a;b.zip\"; size=3", "http://h/get.php", "a;b.zip"},
    {"attachment; filename*=UTF-8''%E2%82%AC.zip; filename=e.zip", "http://h/get.php",
     "\xE2\x82\xAC.zip"},
    {"attachment; FILENAME*=utf-8'en'a%20b.zip", "http://h/get.php", "a b.zip"},
    {"attachment; filename*=iso-8859-1''%E9.zip", "http://h/get.php", "\xC3\xA9.zip"},
    {"attachment; filename*=UTF-8''%FF.zip; filename=ok.zip", "http://h/x", "ok.zip"},
    {"attachment; filename*=koi8-r''%C1.zip", "http://h/x.zip", "x.zip"},
    {"inline", "http://h/x.zip", "x.zip"},
    // Made safe for Windows: no folder, reserved characters, device names,
    // trailing dots or spaces, invalid bytes.
    {"attachment; filename=\"..\\\\..\\\\evil.exe\"", "http://h/x", "evil.exe"},
    {"attachment; filename=\"../../evil.exe\"", "http://h/x", "evil.exe"},
    {"attachment; filename=\"a<b>c:d|e?f*.zip\"", "http://h/x", "a_b_c_d_e_f_.zip"},
    {"attachment; filename=\"CON.zip\"", "http://h/x", "_CON.zip"},
    {"attachment; filename=lpt1", "http://h/x", "_lpt1"},
    {"attachment; filename=\"com10.zip\"", "http://h/x", "com10.zip"},
    {"attachment; filename=\"a.zip. . \"", "http://h/x", "a.zip"},
    {"attachment; filename=\"...\"", "http://h/x", "download"},
    {"attachment; filename=\"a\x01\x7F\xC0\xAF.zip\"", "http://h/x", "a____.zip"},
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
