#include "common/module_state.h"

#include "tests/support/child_process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {
// Runs the library's process attach in this process and answers what it
// concluded about the host.
int ProbeHost(const std::vector<std::string>&) {
    DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
    if (moduleInstance != GetModuleHandleA(nullptr))
        return 3;
    return hostIsMaxthon ? 1 : 0;
}
REGISTER_CHILD_MODE(probe_host, ProbeHost);

// In a host that is Maxthon: every notification but process attach leaves
// the module's values as they were, and process attach then records them.
int ProbeNotifications(const std::vector<std::string>&) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        if (!DllMain(self, reason, nullptr))
            return 2;
        if (hostIsMaxthon || moduleInstance != nullptr)
            return 3;
    }
    DllMain(self, DLL_PROCESS_ATTACH, nullptr);
    return hostIsMaxthon && moduleInstance == self ? 0 : 4;
}
REGISTER_CHILD_MODE(probe_notifications, ProbeNotifications);

// Runs a probe in a copy of this executable at `dir\name`.
int ProbeAs(const std::string& dir, const std::string& name,
            const char* probe = "--child=probe_host") {
    ScratchDir scratch("webcorvane-host");
    const std::string folder = scratch.Sub(dir);
    CreateDirectoryA(folder.c_str(), nullptr);
    return RunSelfAs(folder + "\\" + name, probe);
}
}  // namespace

TEST(PathNamesMaxthon, FindsTheNameAnywhereInAnyCase) {
    struct Case {
        const char* path;
        bool maxthon;
    } cases[] = {
        {"C:\\Program Files\\Maxthon\\MAXTHON.EXE", true},
        {"C:\\Program Files\\Maxthon\\maxthon.exe", true},
        {"C:\\maxthon.exe.d\\host.exe", true},
        {"C:\\Program Files\\Internet Explorer\\iexplore.exe", false},
        {"C:\\Maxthon\\maxthon.ex", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::string copy = c.path;
        EXPECT_EQ(c.maxthon, PathNamesMaxthon(&copy[0])) << c.path;
    }
}

TEST(DllMain, RecordsAMaxthonHostFromItsExecutablePath) {
    EXPECT_EQ(1, ProbeAs("Maxthon", "MAXTHON.EXE"));
    EXPECT_EQ(1, ProbeAs("maxthon.exe folder", "host.exe"));
    EXPECT_EQ(0, ProbeAs("Internet Explorer", "iexplore.exe"));
}

TEST(DllMain, IgnoresEveryNotificationButProcessAttach) {
    EXPECT_EQ(0, ProbeAs("Maxthon", "Maxthon.exe", "--child=probe_notifications"));
}
