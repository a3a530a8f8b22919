// The agent's fetch against a server of the test's own on 127.0.0.1: what it
// sends, where it ends up, what it saves and what counts as failed.
#include "agent/fetcher.h"

#include "common/string_conversion.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiny_http_server.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

namespace {

using Response = TinyHttpServer::Response;

// SHA-256 of "abc" (FIPS 180-2's first example).
constexpr char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::set<std::wstring> FilesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.insert(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

class AgentFetch : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running());
        server.Answer("/files/a.zip", {"200 OK", "Content-Type: application/zip\r\n", "abc"});
        server.Answer("/old/a.zip", {"302 Found", "Location: /files/a.zip\r\n", ""});
        server.Answer("/get.php?id=7",
                      {"200 OK",
                       "Content-Disposition: attachment; filename=\"fallback.zip\"; "
                       "filename*=UTF-8''%D1%84%D0%B0%D0%B9%D0%BB%20%E2%82%AC.zip\r\n",
                       "abc"});
        server.Answer("/secret.zip", {"403 Forbidden", "", "no"});
        server.Answer("/cut.zip", {"200 OK", "", std::string(1000, 'x'), 10});
        // Three bytes of a length past what 32 bits hold.
        server.Answer("/huge.zip", {"200 OK", "", "abc", std::string::npos, "4294967299"});
    }
    FetchResult Fetch(const std::wstring& url) {
        return FetchIntoFolder({url, L"plain=1; sid=2", page}, folder);
    }

    TinyHttpServer server;
    const std::wstring page = server.Url(L"/page.html");
    ScratchDir scratch{"fetch"};
    const std::wstring folder = Utf8ToWide(scratch.Path()) + L"\\";
};

// The cookie and the referrer as handed over, also after a redirect on the
// same site; a redirect to another host gets no cookie and, as from the
// browser, only the page's origin.
TEST_F(AgentFetch, SendsTheCookieAndTheReferrerAsTheBrowserWould) {
    // Another name for the same server: another host to the agent.
    std::wstring elsewhere = server.Url(L"/other/a.zip");
    elsewhere.replace(elsewhere.find(L"127.0.0.1"), 9, L"localhost");
    server.Answer("/away/a.zip", {"302 Found", "Location: " + WideToUtf8(elsewhere) + "\r\n", ""});
    server.Answer("/other/a.zip", {"200 OK", "", "abc"});
    const std::string origin = WideToUtf8(server.Url(L"/"));
    struct Case {
        const char* path;
        const char* servedBy;
        bool cookie;
        std::string referrer;
    } cases[] = {
        {"/files/a.zip", "/files/a.zip", true, WideToUtf8(page)},
        {"/old/a.zip", "/files/a.zip", true, WideToUtf8(page)},
        {"/away/a.zip", "/other/a.zip", false, origin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FetchResult result = Fetch(server.Url(Utf8ToWide(c.path)));
        EXPECT_TRUE(result.done) << result.detail;
        EXPECT_EQ(200u, result.httpStatus);
        EXPECT_EQ(3u, result.bytes);
        EXPECT_EQ(kAbcSha256, result.sha256);
        const std::string sent = server.LastHeaders(c.servedBy);
        EXPECT_EQ(c.cookie, sent.find("\r\nCookie: plain=1; sid=2\r\n") != std::string::npos)
            << sent;
        EXPECT_NE(std::string::npos, sent.find("\r\nReferer: " + c.referrer + "\r\n")) << sent;
    }
    EXPECT_EQ(1, server.Requests("/old/a.zip"));
    // Each is named beside the one before, never over it.
    EXPECT_EQ((std::set<std::wstring>{L"a.zip", L"a (2).zip", L"a (3).zip"}), FilesIn(folder));
}

// Two fetches of one name at once, each body arriving slowly: both land.
TEST_F(AgentFetch, TwoFetchesOfOneNameBothLand) {
    server.Answer("/slow/a.zip", {"200 OK", "", "abc", std::string::npos, "", 500});
    FetchResult results[2];
    std::thread other([&] { results[1] = Fetch(server.Url(L"/slow/a.zip")); });
    results[0] = Fetch(server.Url(L"/slow/a.zip"));
    other.join();
    for (const FetchResult& result : results)
        EXPECT_TRUE(result.done) << result.detail;
    EXPECT_EQ((std::set<std::wstring>{L"a.zip", L"a (2).zip"}), FilesIn(folder));
}

TEST_F(AgentFetch, NamesTheFileAsTheServerDoes) {
    const FetchResult result = Fetch(server.Url(L"/get.php?id=7"));
    ASSERT_TRUE(result.done) << result.detail;
    EXPECT_EQ(L"\x0444\x0430\x0439\x043B \x20AC.zip", result.fileName);
    EXPECT_EQ(std::set<std::wstring>{result.fileName}, FilesIn(folder));
}

TEST_F(AgentFetch, RecordsAFailureAndLeavesNoFile) {
    struct Case {
        std::wstring url;
        DWORD status;
        const char* detail;  // what it says, in part
    };
    const Case cases[] = {
        {server.Url(L"/secret.zip"), 403, "403"},
        {L"http://127.0.0.1:1/refused.zip", 0, "connecting"},  // nothing listens there
        {server.Url(L"/cut.zip"), 200, "10 of 1000 bytes"},
        {server.Url(L"/huge.zip"), 200, "3 of 4294967299 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url));
        const FetchResult result = Fetch(c.url);
        EXPECT_FALSE(result.done);
        EXPECT_EQ(c.status, result.httpStatus);
        EXPECT_NE(std::string::npos, result.detail.find(c.detail)) << result.detail;
        EXPECT_TRUE(result.sha256.empty());
        EXPECT_TRUE(result.fileName.empty());
    }
    EXPECT_TRUE(FilesIn(folder).empty());
    // A line break would let the sender write headers of its own.
    EXPECT_FALSE(
        FetchIntoFolder({server.Url(L"/files/a.zip"), L"a=1\r\nX-Evil: 1", L""}, folder).done);
    EXPECT_EQ(0, server.Requests("/files/a.zip"));
}

}  // namespace
