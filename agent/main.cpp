// CorvaneAgent.exe: the reference download agent, an out-of-process COM
// server for IDownloadAgent that records every AddTask call and answers as
// its settings say (see agent_settings.h and answer.h).
//
//   CorvaneAgent.exe /RegServer     register the agent for the current prefix
//   CorvaneAgent.exe /UnregServer   remove that registration
//   CorvaneAgent.exe -Embedding     how COM starts it; serves until unused
#include "agent/local_server.h"
#include "agent/registration.h"
#include "common/hresult_error.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintUsage() {
    std::printf(
        "Corvane download agent\n"
        "usage: CorvaneAgent.exe /RegServer | /UnregServer\n"
        "  /RegServer    register the agent's class, ProgID and type library\n"
        "  /UnregServer  remove them again\n"
        "COM starts the agent itself (with -Embedding) when a client asks for it.\n");
}

// "/name" or "-name", letters in any case.
bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
    return (argument[0] == L'/' || argument[0] == L'-') && lstrcmpiW(argument + 1, name) == 0;
}

template <typename Step>
int RunStep(const char* what, Step step) {
    try {
        step();
        std::printf("CorvaneAgent: %s done\n", what);
        return 0;
    } catch (const HResultError& error) {
        std::fprintf(stderr, "CorvaneAgent: %s failed (0x%08lX)\n", what,
                     static_cast<unsigned long>(error.hr()));
    } catch (...) {
        std::fprintf(stderr, "CorvaneAgent: %s failed\n", what);
    }
    return kExitFailure;
}
}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return kExitFailure;
    int code = kExitUsage;
    if (count < 2) {
        PrintUsage();
        code = 0;
    } else if (IsSwitch(arguments[1], L"RegServer")) {
        code = RunStep("registration", RegisterAgent);
    } else if (IsSwitch(arguments[1], L"UnregServer")) {
        code = RunStep("unregistration", UnregisterAgent);
    } else if (IsSwitch(arguments[1], L"Embedding")) {
        code = RunLocalServer();
    } else {
        PrintUsage();
    }
    LocalFree(arguments);
    return code;
}
