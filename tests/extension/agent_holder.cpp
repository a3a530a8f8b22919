// Holds the reference download agent running for as long as its standard
// input stays open, as the download manager a user runs stays up: offers
// made meanwhile reach a warm agent instead of starting one each. Prints
// "held" once it holds one; ends with 1 when none could be had.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    CLSID agentClass;
    IUnknown* agent = nullptr;
    if (FAILED(CLSIDFromProgID(L"CorvaneServer.WebCorvane.1", &agentClass)) ||
        FAILED(CoCreateInstance(agentClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&agent)))) {
        CoUninitialize();
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
           got > 0) {
    }
    agent->Release();
    CoUninitialize();
    return 0;
}
