// WebCorvaneHost.exe, the native messaging host of the browser extension for
// Chrome, Edge, Firefox and their families. The browser starts it with the
// extension's origin or ID (and on Windows "--parent-window=<n>") and talks to
// it in frames on stdin and stdout until it closes the port. Run by a person
// or a script, "--register-user" and "--unregister-user" write or remove this
// user's registration of the host with every browser.
#include "common/boundary.h"
#include "common/bounded_call.h"
#include "native_host/download_handoff.h"
#include "native_host/host_loop.h"
#include "native_host/registry_offer_log.h"
#include "native_host/stdio_stream.h"
#include "native_host/system_clock.h"
#include "native_host/user_registration.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

enum class Command { kServe, kRegister, kUnregister };

// A late answer comes within seconds of the bound or not at all; the browser,
// having closed the port, waits for none of it. Under Wine an agent whose
// client ended inside a call is never let go, and the next activation hangs.
constexpr DWORD kLateOfferWaitMs = 5000;

Command CommandOf(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(commandLine, &count);
    if (args == nullptr)
        return Command::kServe;
    Command command = Command::kServe;
    // The browser's arguments (the origin, the parent window) all mean serve.
    if (count == 2 && std::wstring(args[1]) == L"--register-user")
        command = Command::kRegister;
    else if (count == 2 && std::wstring(args[1]) == L"--unregister-user")
        command = Command::kUnregister;
    LocalFree(args);
    return command;
}

int Register(bool add) {
    std::string error;
    if (add ? RegisterForUser(error) : UnregisterForUser(error))
        return 0;
    std::fprintf(stderr, "WebCorvaneHost: %s: %s\n", add ? "--register-user" : "--unregister-user",
                 error.c_str());
    return 1;
}

int Serve() {
    if (!UseBinaryStdio())
        return kHostFailed;
    // The offer waits for the agent in COM's modal loop on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com))
        return kHostFailed;
    StdinSource in;
    StdoutSink out;
    const auto replies = std::make_shared<ReplyChannel>(out);
    SystemClock clock;
    DownloadHandOff handOff;
    const auto log = std::make_shared<RegistryOfferLog>();
    const HostExit exit = ServeFrames(in, replies, handOff, clock, log);
    WaitForBoundedBodies(kLateOfferWaitMs);
    // An offer still waiting on the agent writes nothing past this.
    replies->Close();
    CoUninitialize();
    return exit;
}

}  // namespace

int main() {
    return GuardBoundary(static_cast<int>(kHostFailed), [] {
        switch (CommandOf(GetCommandLineW())) {
            case Command::kRegister:
                return Register(true);
            case Command::kUnregister:
                return Register(false);
            case Command::kServe:
                break;
        }
        return Serve();
    });
}
