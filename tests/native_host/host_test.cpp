// The shipped host as the browser runs it: a process with pipes for stdin
// and stdout, frames in, replies out, offers to the reference agent. A copy
// of it beside this executable reads the "UserConfig.ini" the cases write.
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "native_host/browser_keys.h"
#include "tests/support/agent_control.h"
#include "tests/support/config_file.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/scratch_dir.h"
#include "tools/support/process.h"
#include "tools/support/wine_paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace {

using nlohmann::json;

const std::string kHostExe = "WebCorvaneHost.exe";
const std::string kManifest = "com.webcorvane.handoff.json";
const std::string kFirefoxManifest = "com.webcorvane.handoff.firefox.json";

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.rfind('\\') + 1);
}

// The shipped host and its manifest copied into `directory`.
std::string CopyHost(const std::string& directory, bool withManifest = true) {
    const std::string built = FromUnixPath(WEBCORVANE_HOST_PATH);
    const std::string from = DirectoryOf(built);
    EXPECT_TRUE(CopyFileA(built.c_str(), (directory + kHostExe).c_str(), FALSE));
    if (withManifest) {
        for (const std::string& manifest : {kManifest, kFirefoxManifest})
            EXPECT_TRUE(
                CopyFileA((from + manifest).c_str(), (directory + manifest).c_str(), FALSE));
    }
    return directory + kHostExe;
}

// The ends of the host's three pipes.
struct Pipes {
    HANDLE in = nullptr, childIn = nullptr, out = nullptr, childOut = nullptr, err = nullptr,
           childErr = nullptr;
};

Pipes MakePipes() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Pipes p;
    EXPECT_TRUE(CreatePipe(&p.childIn, &p.in, &inherit, 1 << 20) &&
                CreatePipe(&p.out, &p.childOut, &inherit, 1 << 20) &&
                CreatePipe(&p.err, &p.childErr, &inherit, 1 << 16));
    for (HANDLE ours : {p.in, p.out, p.err})
        SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    return p;
}

// Starts `commandLine` on the child's ends, which it then closes.
HANDLE Start(const Pipes& p, std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = p.childIn;
    startup.hStdOutput = p.childOut;
    startup.hStdError = p.childErr;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &info));
    for (HANDLE theirs : {p.childIn, p.childOut, p.childErr})
        CloseHandle(theirs);
    CloseHandle(info.hThread);
    return info.hProcess;
}

// One run of the host, as Chrome starts it, or with `arguments`.
class HostProcess {
  public:
    explicit HostProcess(const std::string& exe,
                         const std::string& arguments =
                             "chrome-extension://kcoknpeidlbnejabegefbjfpabheffnk/ "
                             "--parent-window=0")
        : HostProcess(MakePipes(), "\"" + exe + "\" " + arguments) {}
    ~HostProcess() {
        if (process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.Get(), 99);
    }

    bool Send(const std::string& body) {
        const UINT32 length = static_cast<UINT32>(body.size());
        return Write(reinterpret_cast<const char*>(&length), sizeof length) &&
               Write(body.data(), body.size());
    }
    // One reply frame; empty when the stream ended, or when no frame began
    // within `timeoutMs`.
    std::string Receive(DWORD timeoutMs = INFINITE) {
        for (const DWORD start = GetTickCount(); timeoutMs != INFINITE;) {
            DWORD available = 0;
            if (!PeekNamedPipe(out_.Get(), nullptr, 0, nullptr, &available, nullptr) ||
                available > 0)
                break;
            if (GetTickCount() - start >= timeoutMs)
                return std::string();
            Sleep(10);
        }
        UINT32 length = 0;
        std::string body;
        if (!Read(reinterpret_cast<char*>(&length), sizeof length))
            return body;
        body.resize(length);
        return Read(&body[0], length) ? body : std::string();
    }
    void CloseInput() { in_.Reset(); }
    // As the browser closing the port leaves the host's replies unread.
    void CloseOutput() { out_.Reset(); }
    // The exit code, or -2 when it had not ended within `timeoutMs`.
    int Wait(DWORD timeoutMs) {
        DWORD code = 0;
        if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_.Get(), &code))
            return -2;
        return static_cast<int>(code);
    }
    // What the host wrote to stderr, once it ended.
    std::string Errors() {
        std::string text(4096, '\0');
        DWORD got = 0;
        ReadFile(err_.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
        return text.substr(0, got);
    }

  private:
    bool Write(const char* data, size_t size) {
        DWORD done = 0;
        return WriteFile(in_.Get(), data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    }
    bool Read(char* data, size_t size) {
        for (DWORD got = 0; size > 0; data += got, size -= got) {
            if (!ReadFile(out_.Get(), data, static_cast<DWORD>(size), &got, nullptr) || got == 0)
                return false;
        }
        return true;
    }
    HostProcess(const Pipes& p, const std::string& commandLine)
        : in_(p.in), out_(p.out), err_(p.err), process_(Start(p, commandLine)) {}

    FileHandle in_, out_, err_, process_;
};

std::string Padded(std::string json, size_t length) {
    json.resize(length, ' ');
    return json;
}

class NativeHost : public testing::Test {
  protected:
    ScopedConfigFile config{SelfDirectory()};
    AgentSession agent;
    std::string exe = CopyHost(SelfDirectory());
};

// One port for every case: the policy's refusals, the agent's answers, bad
// input and a length whose bytes are 0x0A, 0x1A and 0x0D, each with its
// reply; then stdin closes and the host ends with 0.
TEST_F(NativeHost, AnswersEveryMessageOnOnePort) {
    RunningAgent running;
    // Past 1023 bytes of UTF-8 the link's text is cut before the "é".
    const std::string text = "\xd0\xa4 \xf0\x9f\x98\x80" + std::string(1015, 't') + "\xc3\xa9";
    const std::string exact = R"({"id":1,"url":"https://h\u00f6st/\u4e0b\u8f7d.zip","filename":)"
                              R"("x.zip","referrer":"http://h/\u0101","cookie":"a=1; sid=\u00e9",)"
                              R"("linkText":")" +
                              text + R"("})";
    struct Case {
        const char* lines;   // [Monitor] of UserConfig.ini
        const char* answer;  // the agent's
        std::string message;
        const char* reason;
        size_t records;  // the agent's, after the case
        bool bounded;    // answered within the bound plus the margin, not sooner
    } cases[] = {
        {"", "1", exact, "taken", 1, false},
        {"MonitorIE=0", "1", R"({"url":"http://h/d.php","filename":"a.zip"})", "taken", 2, false},
        {"MonitorBrowsers=0", "1", R"({"url":"http://h/a.zip"})", "switch-off", 2, false},
        {"", "1", R"({"url":"blob:http://h/1","filename":"a.zip"})", "scheme", 2, false},
        {"", "1", R"({"url":"http://h/a.zip","filename":"a.pdf"})", "not-in-list", 2, false},
        {"", "0", R"({"url":"http://h/a.zip"})", "declined", 3, false},
        // A link the user sent passes the switch and the list, not the scheme.
        {"MonitorBrowsers=0\r\nExtendNames=.zip;", "1",
         R"({"url":"http://h/u.pdf","filename":"u.pdf","userAsked":true})", "taken", 4, false},
        {"", "1", R"({"url":"blob:http://h/2","userAsked":true})", "scheme", 4, false},
        {"", "slow:5500:0", R"({"url":"http://h/s.zip"})", "timed-out", 5, true},
        {"", "1", "{\"url\":\"http://h/\xff.zip\"}", "bad-message", 5, false},
        {"", "1", Padded(R"({"url":"data:,x"})", 0x0D1A0A), "scheme", 5, false},
    };
    HostProcess host(exe);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 60));
        config.WriteMonitor(c.lines);
        agent.SetAnswer(Utf8ToWide(c.answer));
        const DWORD start = GetTickCount();
        ASSERT_TRUE(host.Send(c.message));
        const std::string reply = host.Receive();
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_NE(std::string::npos, reply.find(std::string("\"reason\":\"") + c.reason + "\""))
            << reply;
        const std::vector<AgentRecord> seen = agent.Records();
        EXPECT_EQ(c.records, seen.size()) << (seen.empty() ? "" : WideToUtf8(seen.back().url.text));
        EXPECT_LT(elapsed, c.bounded ? kOfferBoundMs + kReturnMarginMs : kOfferBoundMs);
        if (c.bounded) {
            EXPECT_GE(elapsed + 20, kOfferBoundMs);  // ticks step ~16 ms
        }
    }
    host.CloseInput();
    EXPECT_EQ(0, host.Wait(10000));

    const std::vector<AgentRecord> records = agent.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(AgentText::Of(L"https://h\u00f6st/\u4e0b\u8f7d.zip"), records[0].url);
    EXPECT_EQ(AgentText::Of(Utf8ToWide(text.substr(0, 1022))), records[0].comment);
    EXPECT_EQ(AgentText::Of(L"http://h/\u0101"), records[0].referrer);
    EXPECT_EQ(AgentText::Of(L"a=1; sid=\u00e9"), records[0].cookie);
    EXPECT_EQ(AgentText::Of(L"http://h/d.php"), records[1].url);
    EXPECT_EQ(AgentText::Of(L"http://h/u.pdf"), records[3].url);
}

// What the options page shows: the settings file the hand-off reads and each
// value as read there, or its default.
TEST_F(NativeHost, TellsTheSettingsTheHandOffReads) {
    struct Case {
        const char* lines;     // [Monitor] of UserConfig.ini; null: no file
        const char* settings;  // the reply's, but for the file's path
    } cases[] = {
        {"MonitorBrowsers=0\r\nExtendNames=.RAR;;.7z",
         R"({"monitorBrowsers":0,"switchOn":false,"extendNames":[".RAR",".7z"],"configFound":true})"},
        {"MonitorIE=0\r\nExtendNames=.a;",
         R"({"monitorBrowsers":null,"switchOn":true,"extendNames":[".a"],"configFound":true})"},
        {nullptr,
         R"({"monitorBrowsers":null,"switchOn":true,"configFound":false,"extendNames":[".asf",)"
         R"(".avi",".exe",".iso",".mp3",".mpeg",".mpg",".mpga",".ra",".rar",".rm",".rmvb",)"
         R"(".tar",".wma",".wmp",".wmv",".zip"]})"},
    };
    HostProcess host(exe);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        if (c.lines != nullptr)
            config.WriteMonitor(c.lines);
        else
            config.Remove();
        ASSERT_TRUE(host.Send(R"({"id":2,"type":"settings"})"));
        json expected = {{"id", 2}, {"settings", json::parse(c.settings)}};
        expected["settings"]["configFile"] = config.Path();
        EXPECT_EQ(expected, json::parse(host.Receive(), nullptr, false));
    }
    host.CloseInput();
    EXPECT_EQ(0, host.Wait(10000));
}

// The extension's clock: milliseconds since the Unix epoch.
long long NowUnixMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<long long>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                                  now.dwLowDateTime) /
               10000 -
           11644473600000LL;
}

std::string Offer(int id, long long deadline) {
    return R"({"id":)" + std::to_string(id) + R"(,"url":"http://h/)" + std::to_string(id) +
           R"(.zip","deadline":)" + std::to_string(deadline) + "}";
}

// The record of offers, as this user's hosts share it, emptied before and
// after a test.
class OfferRecords {
  public:
    OfferRecords() { Clear(); }
    ~OfferRecords() { Clear(); }
    static void Clear() {
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\WebCorvane\\BrowserHost\\Offers");
    }
};

// A stalled agent is answered "timed-out" before the extension stops
// waiting, and its late "taken" follows as a frame of its own; a deadline
// that leaves too little time is answered at once, the agent never asked;
// and once the browser has closed the port, a message still in the pipe
// starts no offer. An offer whose reply the browser no longer reads (its
// worker stopped) goes on to its end, and the next host tells how each
// ended.
TEST_F(NativeHost, TheDeadlineBoundsTheOfferAndTheNextHostTellsHowItEnded) {
    OfferRecords records;
    RunningAgent running;
    HostProcess host(exe);
    // First, so that the host has started before the offer after it.
    const DWORD shortStart = GetTickCount();
    ASSERT_TRUE(host.Send(Offer(2, NowUnixMs() + 3400)));
    EXPECT_NE(std::string::npos, host.Receive().find(R"("reason":"no-time")"));
    EXPECT_LT(GetTickCount() - shortStart, 3400u);
    EXPECT_EQ(0u, agent.Records().size());

    agent.SetAnswer(L"slow:5000:1");
    const DWORD start = GetTickCount();
    const long long deadline1 = NowUnixMs() + 4000;
    ASSERT_TRUE(host.Send(Offer(1, deadline1)));
    const std::string reply = host.Receive();
    const DWORD replied = GetTickCount() - start;
    EXPECT_NE(std::string::npos, reply.find(R"("reason":"timed-out")")) << reply;
    EXPECT_LT(replied, 4000u);  // before the deadline, by the reply's margin
    EXPECT_GE(replied + 20, 3500u);
    const std::string late = host.Receive(10000);
    EXPECT_GE(GetTickCount() - start + 20, 5000u);
    EXPECT_NE(std::string::npos, late.find(R"("id":1,"late":true,"reason":"taken","taken":true)"))
        << late;

    agent.SetAnswer(L"1");
    host.CloseOutput();
    ASSERT_TRUE(host.Send(Offer(3, NowUnixMs() + 10000)));
    host.CloseInput();
    EXPECT_EQ(1, host.Wait(10000));  // nobody read its replies
    EXPECT_EQ(1u, agent.Records().size());

    agent.SetAnswer(L"slow:1500:1");
    HostProcess cut(exe);
    const long long deadline4 = NowUnixMs() + 10000;
    ASSERT_TRUE(cut.Send(Offer(4, deadline4)));
    for (const DWORD asked = GetTickCount(); agent.Records().size() < 2;) {
        ASSERT_LT(GetTickCount() - asked, 10000u);
        Sleep(20);
    }
    cut.CloseOutput();
    cut.CloseInput();
    EXPECT_EQ(1, cut.Wait(10000));

    HostProcess next(exe);
    const std::string offers = R"([{"id":1,"deadline":)" + std::to_string(deadline1) +
                               R"(},{"id":3,"deadline":1},{"id":4,"deadline":)" +
                               std::to_string(deadline4) + "}]";
    ASSERT_TRUE(next.Send(R"({"id":20,"type":"outcomes","offers":)" + offers + "}"));
    json told = json::parse(next.Receive(), nullptr, false);
    ASSERT_TRUE(told.is_object());
    std::map<long long, bool> taken;
    for (const json& outcome : told["outcomes"]) {
        EXPECT_GE(outcome.at("at").get<long long>() + 20000, NowUnixMs());
        taken[outcome.at("deadline").get<long long>()] = outcome.at("taken").get<bool>();
    }
    EXPECT_EQ((std::map<long long, bool>{{deadline1, true}, {deadline4, true}}), taken) << told;
    ASSERT_TRUE(next.Send(R"({"id":21,"type":"forget-outcomes","offers":)" + offers + "}"));
    EXPECT_EQ(json::parse(R"({"id":21,"forgotten":2})"),
              json::parse(next.Receive(), nullptr, false));
    next.CloseInput();
    EXPECT_EQ(0, next.Wait(10000));
}

// The agent's registration names a program that is gone.
TEST_F(NativeHost, AnAgentThatCannotBeStartedIsUnreachable) {
    {
        ScratchDir gone("gone-agent");
        const std::string copy = gone.Sub("CorvaneAgent.exe");
        ASSERT_TRUE(CopyFileA(AgentExePath().c_str(), copy.c_str(), FALSE));
        ASSERT_EQ(0, RunProcess(copy, "/RegServer"));
    }
    HostProcess host(exe);
    ASSERT_TRUE(host.Send(R"({"id":9,"url":"http://h/a.zip"})"));
    const std::string reply = host.Receive();
    ASSERT_EQ(0, RunProcess(AgentExePath(), "/RegServer"));
    EXPECT_NE(std::string::npos, reply.find(R"("reason":"unreachable")")) << reply;
    EXPECT_NE(std::string::npos, reply.find(R"("id":9)")) << reply;
    host.CloseInput();
    EXPECT_EQ(0, host.Wait(10000));
}

// Per-user registration in the prefix's own registry: Chrome's, Edge's and
// Mozilla's keys, through which every browser finds the host as it searches.
// Another program's host beside ours stays, and so do the browsers' keys;
// once ours was the last, the keys it needed go too, being empty. A host
// without its manifest registers nothing.
TEST(NativeHostRegistration, RegistersAndRemovesForTheUser) {
    const std::string hosts[] = {"Software\\Google\\Chrome\\NativeMessagingHosts\\",
                                 "Software\\Microsoft\\Edge\\NativeMessagingHosts\\",
                                 "Software\\Mozilla\\NativeMessagingHosts\\"};
    auto listing = [] {
        RegistryListing all;
        for (const char* maker :
             {"Software\\Google", "Software\\Microsoft\\Edge", "Software\\Mozilla"}) {
            RegKey key;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, maker, 0, KEY_READ, key.Receive()) == 0)
                AddListing(key.Get(), maker, all);
        }
        return all;
    };
    for (const std::string& key : hosts) {
        RegKey other;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, (key + "com.example.other").c_str(), 0,
                                  nullptr, 0, KEY_READ, nullptr, other.Receive(), nullptr));
    }
    const RegistryListing before = listing();
    ScratchDir folder("host-registration");
    const std::string exe = CopyHost(folder.Path() + "\\");
    ASSERT_EQ(0, RunProcess(exe, "--register-user"));
    for (const std::string& key : hosts) {
        char value[MAX_PATH] = {};
        DWORD size = sizeof value;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegGetValueA(HKEY_CURRENT_USER, (key + "com.webcorvane.handoff").c_str(), nullptr,
                               RRF_RT_REG_SZ, nullptr, value, &size))
            << key;
        const bool firefox = key.find("Mozilla") != std::string::npos;
        EXPECT_EQ(folder.Path() + "\\" + (firefox ? kFirefoxManifest : kManifest), value);
    }
    for (const Browser& browser : kBrowsers) {
        const std::vector<HostKeyFound> found = FindHostKeys(browser);
        // Not fatal: the removal below must still run.
        if (found.empty()) {
            ADD_FAILURE() << browser.name << " finds no host";
            continue;
        }
        EXPECT_TRUE(found[0].user) << browser.name;
        EXPECT_EQ(Utf8ToWide(folder.Path() + "\\") + ManifestFileName(browser), found[0].manifest)
            << browser.name;
    }
    ASSERT_EQ(0, RunProcess(exe, "--unregister-user"));
    EXPECT_EQ(before, listing());
    ASSERT_EQ(0, RunProcess(exe, "--unregister-user"));  // nothing left to remove

    ScratchDir bare("host-without-manifest");
    HostProcess lone(CopyHost(bare.Path() + "\\", false), "--register-user");
    EXPECT_EQ(1, lone.Wait(30000));
    EXPECT_NE(std::string::npos, lone.Errors().find("is missing")) << lone.Errors();
    EXPECT_EQ(before, listing());

    for (const std::string& key : hosts)
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyA(HKEY_CURRENT_USER, (key + "com.example.other").c_str()));
    ASSERT_EQ(0, RunProcess(exe, "--register-user"));
    // The outcomes of past offers go with the host, and the keys that held them.
    {
        RegKey records;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\WebCorvane\\BrowserHost\\Offers", 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, records.Receive(), nullptr));
        const char text[] = "taken 1765270001234";
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(records.Get(), "41 1765270012000", 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>(text), sizeof text));
    }
    ASSERT_EQ(0, RunProcess(exe, "--unregister-user"));
    RegKey parent;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\WebCorvane\\BrowserHost", 0, KEY_READ,
                            parent.Receive()));
    for (const std::string& key : hosts) {
        RegKey gone;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, gone.Receive()))
            << key;
    }
}

}  // namespace
