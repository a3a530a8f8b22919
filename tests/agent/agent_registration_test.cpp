// What /RegServer writes and /UnregServer removes, seen the way COM sees it.
#include "common/guid_text.h"
#include "common/win_handles.h"
#include "tests/agent/agent_client.h"
#include "tests/support/agent_control.h"
#include "tools/support/process.h"

#include <sddl.h>

#include <gtest/gtest.h>

namespace {
std::string Text(REFGUID guid) {
    std::string text;
    EXPECT_TRUE(GuidToText(guid, text));
    return text;
}

// The default value of HKCR\<subkey>; false when the key is absent.
bool ReadDefault(const std::string& subkey, std::string& value) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}

bool KeyExists(const std::string& subkey) {
    std::string ignored;
    RegKey key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, key.Receive()) ==
           ERROR_SUCCESS;
}

struct RegistryRow {
    std::string key;
    std::string value;
};

std::vector<RegistryRow> ExpectedRows() {
    const std::string clsid = Text(CLSID_CorvaneAgent);
    const std::string iid = Text(IID_IDownloadAgent);
    return {
        {"CorvaneServer.WebCorvane.1\\CLSID", clsid},
        {"CLSID\\" + clsid + "\\LocalServer32", "\"" + AgentExePath() + "\""},
        {"CLSID\\" + clsid + "\\ProgID", "CorvaneServer.WebCorvane.1"},
        {"Interface\\" + iid + "\\ProxyStubClsid32", "{00020424-0000-0000-C000-000000000046}"},
        {"Interface\\" + iid + "\\TypeLib", Text(LIBID_CorvaneAgentLib)},
    };
}

// Puts the registration back however the test ends: the tests after this
// one and the fixture's cleanup expect a registered agent.
struct ReRegisterAtEnd {
    ~ReRegisterAtEnd() { RunProcess(AgentExePath(), "/RegServer"); }
};
}  // namespace

TEST(AgentRegistration, WritesClassProgIdAndItsMarshaler) {
    for (const RegistryRow& row : ExpectedRows()) {
        SCOPED_TRACE(row.key);
        std::string value;
        ASSERT_TRUE(ReadDefault(row.key, value));
        EXPECT_EQ(row.value, value);
    }
    EXPECT_TRUE(KeyExists("TypeLib\\" + Text(LIBID_CorvaneAgentLib) + "\\1.0"));
}

// A browser tab in an AppContainer may start the agent and call it.
TEST(AgentRegistration, LetsAllApplicationPackagesLaunchAndUseIt) {
    const std::string appId = "AppID\\" + Text(CLSID_CorvaneAgent);
    RegKey classKey;
    char named[64] = {};
    DWORD size = sizeof(named) - 1;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + Text(CLSID_CorvaneAgent)).c_str(), 0,
                            KEY_READ, classKey.Receive()));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(classKey.Get(), "AppID", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(named), &size));
    EXPECT_EQ(Text(CLSID_CorvaneAgent), named);
    for (const char* value : {"LaunchPermission", "AccessPermission"}) {
        SCOPED_TRACE(value);
        RegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_CLASSES_ROOT, appId.c_str(), 0, KEY_READ, key.Receive()));
        BYTE data[1024];
        DWORD length = sizeof(data);
        DWORD type = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.Get(), value, nullptr, &type, data, &length));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
        LPSTR sddl = nullptr;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
            data, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
        const std::string text = sddl;
        LocalFree(sddl);
        // Spelled out, or by the alias a newer system knows for it.
        EXPECT_TRUE(text.find(";;;S-1-15-2-1)") != std::string::npos ||
                    text.find(";;;AC)") != std::string::npos)
            << text;
    }
}

TEST(AgentRegistration, UnregServerRemovesItAllAndRegServerRestoresIt) {
    ReRegisterAtEnd restore;
    ASSERT_EQ(0, RunProcess(AgentExePath(), "/UnregServer"));
    CLSID clsid;
    EXPECT_TRUE(FAILED(CLSIDFromProgID(kAgentProgIdText, &clsid)));
    EXPECT_FALSE(KeyExists("CorvaneServer.WebCorvane.1"));
    EXPECT_FALSE(KeyExists("CLSID\\" + Text(CLSID_CorvaneAgent)));
    EXPECT_FALSE(KeyExists("AppID\\" + Text(CLSID_CorvaneAgent)));
    EXPECT_FALSE(KeyExists("Interface\\" + Text(IID_IDownloadAgent)));
    EXPECT_FALSE(KeyExists("TypeLib\\" + Text(LIBID_CorvaneAgentLib) + "\\1.0"));
    // Removing what is not there is no failure.
    EXPECT_EQ(0, RunProcess(AgentExePath(), "/unregserver"));

    ASSERT_EQ(0, RunProcess(AgentExePath(), "-RegServer"));
    ASSERT_EQ(S_OK, CLSIDFromProgID(kAgentProgIdText, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CorvaneAgent, clsid));
    for (const RegistryRow& row : ExpectedRows()) {
        std::string value;
        EXPECT_TRUE(ReadDefault(row.key, value)) << row.key;
    }

    // And a client reaches it again.
    ComApartment apartment;
    AgentSession session;
    ComPtr<IDownloadAgent> agent;
    ASSERT_EQ(S_OK, CreateAgent(agent));
    LONG accepted = 0;
    Bstr url = MakeBstr(L"http://h/r.zip"), empty = MakeBstr(L"");
    EXPECT_EQ(S_OK, agent->AddTask(url.Get(), empty.Get(), empty.Get(), 0, empty.Get(), empty.Get(),
                                   &accepted));
    EXPECT_EQ(1, accepted);
}

TEST(AgentCommandLine, NoArgumentShowsUsageUnknownOneFails) {
    EXPECT_EQ(0, RunProcess(AgentExePath(), ""));
    EXPECT_EQ(2, RunProcess(AgentExePath(), "/Install"));
}
