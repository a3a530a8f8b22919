// The black-box tests load the built DLL while the registry is redirected
// into a sandbox. WinINet, which the DLL imports, writes to the registry when
// it is first loaded (its URL cache sets up the user's shell folders): loaded
// here, before any test redirects a hive, those writes land in the real hives
// and never in a sandbox's listing.
#include <windows.h>

#include <gtest/gtest.h>

namespace {
class WinInetPreloaded : public testing::Environment {
  public:
    void SetUp() override { ASSERT_NE(nullptr, LoadLibraryA("wininet.dll")) << GetLastError(); }
};

testing::Environment* const preloaded = testing::AddGlobalTestEnvironment(new WinInetPreloaded);
}  // namespace
