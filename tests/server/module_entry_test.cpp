#include "common/bounded_call.h"
#include "common/module_state.h"

#include "tests/support/scratch_dir.h"
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

namespace {
// The library's DllMain as the loader calls it in a host: run in copies of
// this executable named as the host, where nothing has called it before.
class DllMainInHost : public testing::Test {
  protected:
    void SetUp() override {
        if (!RunsAsCopy())
            GTEST_SKIP() << "runs in a copy named as a host";
    }
    HINSTANCE self = GetModuleHandleA(nullptr);
};

// Every notification but process attach leaves the module's values as they
// were; process attach then records the module and the Maxthon host.
TEST_F(DllMainInHost, InMaxthonOnlyProcessAttachRecordsTheHost) {
    for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        SCOPED_TRACE(reason);
        EXPECT_TRUE(DllMain(self, reason, nullptr));
        EXPECT_FALSE(hostIsMaxthon);
        EXPECT_EQ(nullptr, moduleInstance);
    }
    EXPECT_TRUE(DllMain(self, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_TRUE(hostIsMaxthon);
    EXPECT_EQ(self, moduleInstance);
}

TEST_F(DllMainInHost, ElsewhereProcessAttachRecordsNoMaxthon) {
    EXPECT_TRUE(DllMain(self, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_FALSE(hostIsMaxthon);
    EXPECT_EQ(self, moduleInstance);
}

// Runs the cases `filter` selects in a copy of this executable at `dir\name`.
CopyReport RunAs(const std::string& dir, const std::string& name, const std::string& filter) {
    ScratchDir scratch("webcorvane-host");
    const std::string folder = scratch.Sub(dir);
    CreateDirectoryA(folder.c_str(), nullptr);
    return RunCasesInCopy(folder + "\\" + name, filter);
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

// The host's whole path counts: here Maxthon's name is only in its folder. (A
// host file named Maxthon.exe is the browser tests' Maxthon copy.)
TEST(DllMain, RecordsAMaxthonHostFromItsExecutablePath) {
    EXPECT_TRUE(
        CopyRanItsCases(RunAs("maxthon.exe folder", "host.exe", "DllMainInHost.InMaxthonOnly*")));
    EXPECT_TRUE(CopyRanItsCases(
        RunAs("Internet Explorer", "iexplore.exe", "DllMainInHost.ElsewhereProcessAttach*")));
}

namespace {
// A worker whose thread takes long to end, as when another DLL's
// thread-detach notification dawdles: this executable's TLS callback holds it.
volatile DWORD slowThread = 0;
constexpr DWORD kSlowEndMs = 1500;
void NTAPI HoldTheSlowThreadsEnd(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_DETACH && GetCurrentThreadId() == slowThread)
        Sleep(kSlowEndMs);
}
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK slowEnd = HoldTheSlowThreadsEnd;
}  // namespace

// DllCanUnloadNow tells the idle worker to end and answers at once: the
// worker's own reference on the module keeps its code until its thread ends.
TEST(DllCanUnloadNow, AnswersWithoutWaitingForAWorkerToEnd) {
    HANDLE worker = nullptr;
    const auto markTheWorker = [&worker] {
        slowThread = GetCurrentThreadId();
        return (worker = OpenThread(SYNCHRONIZE, FALSE, slowThread)) != nullptr;
    };
    ASSERT_EQ(BoundedResult::kReturnedTrue, RunBounded(markTheWorker, 5000));
    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    EXPECT_LT(GetTickCount() - start, kSlowEndMs / 4);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 4 * kSlowEndMs));
    CloseHandle(worker);
}
