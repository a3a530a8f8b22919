// Loads the built DLL as a host would and calls its exports.
#include "tools/support/wine_paths.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

namespace {
struct Library {
    Library() : module(LoadLibraryA(FromUnixPath(WEBCORVANE_DLL_PATH).c_str())) {}
    ~Library() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    HMODULE module;
};
using NoArgs = HRESULT(STDAPICALLTYPE*)();
}  // namespace

TEST(DllExports, AllFiveAreExportedByTheirPlainNames) {
    Library dll;
    ASSERT_NE(nullptr, dll.module) << GetLastError();
    for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllInstall",
                             "DllRegisterServer", "DllUnregisterServer"}) {
        EXPECT_NE(nullptr, GetProcAddress(dll.module, name)) << name;
    }
}

TEST(DllExports, CanUnloadWithNoLiveObject) {
    Library dll;
    ASSERT_NE(nullptr, dll.module);
    EXPECT_EQ(S_OK, dll.Get<NoArgs>("DllCanUnloadNow")());
}

TEST(DllExports, VersionResourceIdentifiesTheModule) {
    const std::string path = FromUnixPath(WEBCORVANE_DLL_PATH);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 6), static_cast<LONG>(fixed->dwFileVersionMS));
    EXPECT_EQ(MAKELONG(5, 0), static_cast<LONG>(fixed->dwFileVersionLS));
    EXPECT_EQ(MAKELONG(0, 6), static_cast<LONG>(fixed->dwProductVersionMS));
    EXPECT_EQ(MAKELONG(5, 0), static_cast<LONG>(fixed->dwProductVersionLS));

    struct Entry {
        const char* name;
        const char* value;
    } entries[] = {
        {"FileVersion", "6, 0, 0, 5"},
        {"ProductVersion", "6, 0, 0, 5"},
        {"FileDescription", "WebCorvaneBHO"},
        {"InternalName", "VantorBHO"},
        {"OriginalFilename", "WebCorvaneBHO.dll"},
        {"ProductName", "WebCorvaneBHO Module"},
        {"OLESelfRegister", ""},
        {"Comments", ""},
        {"LegalTrademarks", ""},
        {"PrivateBuild", ""},
        {"SpecialBuild", ""},
    };
    for (const Entry& e : entries) {
        char* value = nullptr;
        UINT valueLength = 0;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + e.name;
        ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value),
                                   &valueLength))
            << e.name << " is missing";
        EXPECT_STREQ(e.value, value) << e.name;
    }
}
