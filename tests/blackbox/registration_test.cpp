// DllRegisterServer and DllUnregisterServer of the built DLL, loaded as a
// registration tool loads it, against a redirected registry.
#include "tests/support/registry_sandbox.h"
#include "tests/support/scratch_dir.h"
#include "tools/support/wine_paths.h"

#include <windows.h>
#include <olectl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entry = HRESULT(STDAPICALLTYPE*)();

struct Dll {
    explicit Dll(const std::string& path) : module(LoadLibraryA(path.c_str())) {}
    ~Dll() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }
    HRESULT Call(const char* name) const {
        auto fn = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn != nullptr ? fn() : E_POINTER;
    }
    HMODULE module;
};

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const std::string kBuiltDll = FromUnixPath(WEBCORVANE_DLL_PATH);

#define BHO "{00000AAA-A363-466E-BEF5-9BB68697AA7F}"
#define DM "{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}"
#define LIB "{EB9F911B-5E47-497C-8DA3-ECBFC9FB1F68}"
#define HELPER_IID "{D01732E3-7841-438C-9232-0A876B19107A}"
#define MARSHALER "{00020424-0000-0000-C000-000000000046}"
#define BHO_KEY \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects"
#define DOWNLOAD_MANAGER_IID "{988934A4-064B-11D3-BB80-00104B35E7F9}"
#define APP_CONTAINER_COMPATIBLE "\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}"

constexpr int kPathBytes = -1;  // the module path (or directory) and its terminator
constexpr int kKeyOnly = -2;

// What a registration leaves: one line per value (or per key that holds no
// value); every parent key is implied. "@" is the default value; "$PATH" and
// "$DIR" stand for the module path and its directory with the backslash.
struct Expected {
    const char* key;
    const char* value;
    const char* text;
    int bytes;
};
const Expected kRegistration[] = {
    // Browser helper object
    {"HKCR\\WebCorvaneBHO.WebCorvaneIEHelper.1", "@", "WebCorvane Browser Helper", 26},
    {"HKCR\\WebCorvaneBHO.WebCorvaneIEHelper.1\\CLSID", "@", BHO, 39},
    {"HKCR\\WebCorvaneBHO.WebCorvaneIEHelper", "@", "WebCorvane Browser Helper", 26},
    {"HKCR\\WebCorvaneBHO.WebCorvaneIEHelper\\CLSID", "@", BHO, 39},
    {"HKCR\\WebCorvaneBHO.WebCorvaneIEHelper\\CurVer", "@", "WebCorvaneBHO.WebCorvaneIEHelper.1",
     35},
    {"HKCR\\CLSID\\" BHO, "@", "WebCorvane Browser Helper", 26},
    {"HKCR\\CLSID\\" BHO "\\ProgID", "@", "WebCorvaneBHO.WebCorvaneIEHelper.1", 35},
    {"HKCR\\CLSID\\" BHO "\\VersionIndependentProgID", "@", "WebCorvaneBHO.WebCorvaneIEHelper", 33},
    {"HKCR\\CLSID\\" BHO "\\Programmable", nullptr, nullptr, kKeyOnly},
    {"HKCR\\CLSID\\" BHO "\\InprocServer32", "@", "$PATH", kPathBytes},
    {"HKCR\\CLSID\\" BHO "\\InprocServer32", "ThreadingModel", "Apartment", 10},
    {"HKCR\\CLSID\\" BHO "\\Control", nullptr, nullptr, kKeyOnly},
    {"HKCR\\CLSID\\" BHO "\\TypeLib", "@", LIB, 39},
    {"HKCR\\CLSID\\" BHO "\\Version", "@", "1.0", 4},
    {"HKCR\\CLSID\\" BHO APP_CONTAINER_COMPATIBLE, nullptr, nullptr, kKeyOnly},
    {"HKCR\\Interface\\" HELPER_IID, "@", "IWebCorvaneIEHelper", 20},
    {"HKCR\\Interface\\" HELPER_IID "\\ProxyStubClsid", "@", MARSHALER, 39},
    {"HKCR\\Interface\\" HELPER_IID "\\ProxyStubClsid32", "@", MARSHALER, 39},
    {"HKCR\\Interface\\" HELPER_IID "\\TypeLib", "@", LIB, 39},
    {"HKCR\\Interface\\" HELPER_IID "\\TypeLib", "Version", "1.0", 4},
    // The shared type library, written by both classes alike
    {"HKCR\\TypeLib\\" LIB "\\1.0", "@", "VantorBHO 1.0 Type Library", 27},
    {"HKCR\\TypeLib\\" LIB "\\1.0\\0\\win32", "@", "$PATH", kPathBytes},
    {"HKCR\\TypeLib\\" LIB "\\1.0\\FLAGS", "@", "0", 2},
    {"HKCR\\TypeLib\\" LIB "\\1.0\\HELPDIR", "@", "$DIR", kPathBytes},
    // Download manager object: no interface key, IDownloadManager is the platform's
    {"HKCR\\WebCorvaneBHO.VDownloadManager.1", "@", "VDownloaddManager Class", 24},
    {"HKCR\\WebCorvaneBHO.VDownloadManager.1\\CLSID", "@", DM, 39},
    {"HKCR\\WebCorvaneBHO.VDownloadManager", "@", "VDownloaddManager Class", 24},
    {"HKCR\\WebCorvaneBHO.VDownloadManager\\CLSID", "@", DM, 39},
    {"HKCR\\WebCorvaneBHO.VDownloadManager\\CurVer", "@", "WebCorvaneBHO.VDownloadManager.1", 33},
    {"HKCR\\CLSID\\" DM, "@", "VDownloaddManager Class", 24},
    {"HKCR\\CLSID\\" DM "\\ProgID", "@", "WebCorvaneBHO.VDownloadManager.1", 33},
    {"HKCR\\CLSID\\" DM "\\VersionIndependentProgID", "@", "WebCorvaneBHO.VDownloadManager", 31},
    {"HKCR\\CLSID\\" DM "\\Programmable", nullptr, nullptr, kKeyOnly},
    {"HKCR\\CLSID\\" DM "\\InprocServer32", "@", "$PATH", kPathBytes},
    {"HKCR\\CLSID\\" DM "\\InprocServer32", "ThreadingModel", "Apartment", 10},
    {"HKCR\\CLSID\\" DM "\\Control", nullptr, nullptr, kKeyOnly},
    {"HKCR\\CLSID\\" DM "\\TypeLib", "@", LIB, 39},
    {"HKCR\\CLSID\\" DM "\\Version", "@", "1.0", 4},
    {"HKCR\\CLSID\\" DM APP_CONTAINER_COMPATIBLE, nullptr, nullptr, kKeyOnly},
    // Passed as 13 and 38 bytes without the terminator; RegSetValueExA
    // stores the terminator that follows such a string, so they read back
    // one byte longer.
    {BHO_KEY "\\" BHO, "@", "WebCorvaneBHO", 14},
    {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer", "DownloadUI", DM, 39},
    {"HKCU\\Software\\Microsoft\\Internet Explorer", "DownloadUI", DM, 39},
};

void AddKeyAndParents(const std::string& key, RegistryListing& listing) {
    for (size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1)) {
        listing[key.substr(0, slash)] = "key";
    }
    listing[key] = "key";
    listing.erase(key.substr(0, 4));  // the root itself is no entry
}

RegistryListing ExpectedListing(const std::string& modulePath) {
    const std::string directory = modulePath.substr(0, modulePath.rfind('\\') + 1);
    RegistryListing listing;
    for (const Expected& e : kRegistration) {
        AddKeyAndParents(e.key, listing);
        if (e.value == nullptr)
            continue;
        std::string text = e.text;
        int bytes = e.bytes;
        if (text == "$PATH" || text == "$DIR") {
            text = text == "$PATH" ? modulePath : directory;
            bytes = static_cast<int>(text.size()) + 1;
        }
        const std::string data = std::string(text.c_str(), static_cast<size_t>(bytes));
        listing[std::string(e.key) + " |" + e.value] = ValueEntry(REG_SZ, data);
    }
    return listing;
}

// Keys `after` has and `before` had not, each holding no value and no key
// but other such keys: what a registration had to create as parents.
RegistryListing WithoutNewEmptyKeys(const RegistryListing& before, RegistryListing after) {
    for (auto it = after.begin(); it != after.end();) {
        const bool isNewKey = it->second == "key" && before.find(it->first) == before.end();
        bool holdsOnlyNewKeys = true;
        for (auto below = std::next(it);
             below != after.end() &&
             below->first.compare(0, it->first.size() + 1, it->first + "\\") == 0;
             ++below) {
            if (below->second != "key" || before.count(below->first) != 0)
                holdsOnlyNewKeys = false;
        }
        // Values of the key itself are listed as "<key> |name", right after it.
        auto value = after.lower_bound(it->first + " |");
        if (value != after.end() &&
            value->first.compare(0, it->first.size() + 2, it->first + " |") == 0) {
            holdsOnlyNewKeys = false;
        }
        it = isNewKey && holdsOnlyNewKeys ? after.erase(it) : std::next(it);
    }
    return after;
}

// The entries of `key` and everything below it.
RegistryListing Below(const RegistryListing& listing, const std::string& key) {
    RegistryListing part;
    for (const auto& entry : listing) {
        if (entry.first == key || entry.first.compare(0, key.size() + 1, key + "\\") == 0 ||
            entry.first.compare(0, key.size() + 2, key + " |") == 0) {
            part.insert(entry);
        }
    }
    return part;
}

// What another program keeps in the redirected hives: registration and
// unregistration must leave all of it as it was.
void PutForeignEntries() {
    PutString(HKEY_CLASSES_ROOT, "Interface\\" DOWNLOAD_MANAGER_IID, nullptr, "IDownloadManager");
    PutString(HKEY_CLASSES_ROOT, "Interface\\" DOWNLOAD_MANAGER_IID "\\ProxyStubClsid32", nullptr,
              "{11111111-1111-1111-1111-111111111111}");
    PutString(HKEY_CLASSES_ROOT, "CLSID\\{22222222-2222-2222-2222-222222222222}\\InprocServer32",
              nullptr, "C:\\other.dll");
    PutString(HKEY_CLASSES_ROOT, ".zip", nullptr, "CompressedFolder");
    PutString(HKEY_LOCAL_MACHINE,
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper "
              "Objects\\{33333333-3333-3333-3333-333333333333}",
              nullptr, "Another helper");
    PutString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer", "Version", "6.0");
    PutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page",
              "about:blank");
}

}  // namespace

TEST(Registration, WritesExactlyBothTablesTheHelperKeyAndDownloadUI) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    Dll dll(kBuiltDll);
    ASSERT_NE(nullptr, dll.module) << GetLastError();
    EXPECT_EQ(S_OK, dll.Register());
    EXPECT_EQ("", DescribeDifference(ExpectedListing(kBuiltDll), ListSandbox(sandbox)));
}

TEST(Registration, WritesAModulePathWithAPercentSignUnchanged) {
    ScratchDir dir("webcorvane 100% reg");
    const std::string copy = dir.Sub("50%s WebCorvaneBHO.dll");
    ASSERT_TRUE(CopyFileA(kBuiltDll.c_str(), copy.c_str(), FALSE));
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    {
        Dll dll(copy);
        ASSERT_NE(nullptr, dll.module) << GetLastError();
        EXPECT_EQ(S_OK, dll.Register());
    }
    EXPECT_EQ("", DescribeDifference(ExpectedListing(copy), ListSandbox(sandbox)));
}

TEST(Registration, AgainDropsForeignClassSubkeysAndKeepsOtherForeignValues) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    Dll dll(kBuiltDll);
    ASSERT_NE(nullptr, dll.module);
    ASSERT_EQ(S_OK, dll.Register());

    // Under the class keys: gone after the next registration.
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "CLSID\\" BHO "\\Implemented Categories", "x", "1"));
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "CLSID\\" DM "\\LocalServer32", nullptr, "x.exe"));
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "CLSID\\" BHO, "Foreign", "gone"));
    // Elsewhere: rewritten in place, the foreign values stay.
    const char* const kept[] = {
        "WebCorvaneBHO.WebCorvaneIEHelper",
        "WebCorvaneBHO.VDownloadManager.1",
        "TypeLib\\" LIB "\\1.0",
        "Interface\\" HELPER_IID,
    };
    RegistryListing expected = ExpectedListing(kBuiltDll);
    for (const char* key : kept) {
        ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, key, "Foreign", "stays"));
        expected[std::string("HKCR\\") + key + " |Foreign"] = "REG_SZ 6 stays\\0";
    }
    // A value the table writes, changed by someone: written anew.
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "TypeLib\\" LIB "\\1.0\\FLAGS", nullptr, "4"));

    EXPECT_EQ(S_OK, dll.Register());
    EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
}

TEST(Unregistration, RemovesWhatRegistrationWroteAndNothingElse) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    PutForeignEntries();
    const RegistryListing before = ListSandbox(sandbox);
    Dll dll(kBuiltDll);
    ASSERT_NE(nullptr, dll.module);

    ASSERT_EQ(S_OK, dll.Register());
    // The platform's IDownloadManager key is not touched by registration.
    EXPECT_EQ("", DescribeDifference(
                      Below(before, "HKCR\\Interface\\" DOWNLOAD_MANAGER_IID),
                      Below(ListSandbox(sandbox), "HKCR\\Interface\\" DOWNLOAD_MANAGER_IID)));

    EXPECT_EQ(S_OK, dll.Unregister());
    EXPECT_EQ("", DescribeDifference(before, WithoutNewEmptyKeys(before, ListSandbox(sandbox))));
}

TEST(Unregistration, WithNothingRegisteredChangesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    PutForeignEntries();
    const RegistryListing before = ListSandbox(sandbox);
    Dll dll(kBuiltDll);
    ASSERT_NE(nullptr, dll.module);
    EXPECT_EQ(S_OK, dll.Unregister());
    EXPECT_EQ("", DescribeDifference(before, ListSandbox(sandbox)));
}

TEST(Unregistration, DeletesDownloadUIWhicheverManagerItNames) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        ASSERT_TRUE(PutString(root, "Software\\Microsoft\\Internet Explorer", "DownloadUI",
                              "{44444444-4444-4444-4444-444444444444}"));
    }
    Dll dll(kBuiltDll);
    ASSERT_NE(nullptr, dll.module);
    EXPECT_EQ(S_OK, dll.Unregister());
    const RegistryListing after = ListSandbox(sandbox);
    EXPECT_EQ(0u, after.count("HKLM\\Software\\Microsoft\\Internet Explorer |DownloadUI"));
    EXPECT_EQ(0u, after.count("HKCU\\Software\\Microsoft\\Internet Explorer |DownloadUI"));
}

TEST(Registration, AnUnwritableClassesRootFailsAndStillRunsTheOtherSteps) {
    HKEY deletedKey = nullptr;
    HANDLE notAKey = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, notAKey);
    struct Case {
        const char* name;
        bool deleted;
    } const cases[] = {{"a key deleted while open", true}, {"a handle that is no key", false}};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistrySandbox sandbox;
        ASSERT_TRUE(sandbox.Ready());
        ScratchDir maxthon("webcorvane-maxthon");
        ASSERT_TRUE(CreateDirectoryA(maxthon.Sub("Plugin").c_str(), nullptr));
        ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", maxthon.Path()));
        if (c.deleted) {
            deletedKey = OpenDeletedKey(sandbox.CurrentUser());
            ASSERT_NE(nullptr, deletedKey);
        }
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOverridePredefKey(HKEY_CLASSES_ROOT,
                                       c.deleted ? deletedKey : reinterpret_cast<HKEY>(notAKey)));
        Dll dll(kBuiltDll);
        ASSERT_NE(nullptr, dll.module);
        EXPECT_EQ(SELFREG_E_CLASS, dll.Register());
        // The class keys went nowhere: neither into the scratch hive nor the
        // real one.
        RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox.ClassesRoot());
        RegistryListing expected = ExpectedListing(kBuiltDll);
        for (auto it = expected.begin(); it != expected.end();)
            it = it->first.compare(0, 5, "HKCR\\") == 0 ? expected.erase(it) : std::next(it);
        AddKeyAndParents("HKCU\\Software\\Maxthon", expected);
        expected["HKCU\\Software\\Maxthon |Folder"] =
            ValueEntry(REG_SZ, std::string(maxthon.Path().c_str(), maxthon.Path().size() + 1));
        EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" BHO));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" DM));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "WebCorvaneBHO.WebCorvaneIEHelper.1"));
        // The Maxthon step ran last.
        EXPECT_TRUE(Exists(maxthon.Sub("Plugin\\WebCorvane\\Plugin.ini")));

        ASSERT_EQ(ERROR_SUCCESS,
                  RegOverridePredefKey(HKEY_CLASSES_ROOT,
                                       c.deleted ? deletedKey : reinterpret_cast<HKEY>(notAKey)));
        // It cannot tell that no class key of ours remains there.
        EXPECT_EQ(SELFREG_E_CLASS, dll.Unregister());
        RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox.ClassesRoot());
        const RegistryListing after = ListSandbox(sandbox);
        EXPECT_EQ(0u, after.count(BHO_KEY "\\" BHO));
        EXPECT_EQ(0u, after.count("HKCU\\Software\\Microsoft\\Internet Explorer |DownloadUI"));
        EXPECT_FALSE(Exists(maxthon.Sub("Plugin\\WebCorvane")));
        if (deletedKey != nullptr)
            RegCloseKey(deletedKey);
        deletedKey = nullptr;
    }
    CloseHandle(notAKey);
}

// regsvr32 /n /i:user, as Active Setup runs it for each user of a
// machine-wide install: the user's "DownloadUI" and plug-in, nothing else.
TEST(Registration, DllInstallForTheUserWritesAndRemovesOnlyThePerUserParts) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    ScratchDir maxthon("webcorvane-maxthon");
    ASSERT_TRUE(CreateDirectoryA(maxthon.Sub("Plugin").c_str(), nullptr));
    ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", maxthon.Path()));
    const RegistryListing before = ListSandbox(sandbox);
    Dll dll(kBuiltDll);
    using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto install = reinterpret_cast<Install>(
        reinterpret_cast<void*>(GetProcAddress(dll.module, "DllInstall")));
    ASSERT_NE(nullptr, install);

    EXPECT_EQ(E_INVALIDARG, install(TRUE, L"machine"));
    EXPECT_EQ(E_INVALIDARG, install(TRUE, nullptr));
    EXPECT_EQ("", DescribeDifference(before, ListSandbox(sandbox)));

    EXPECT_EQ(S_OK, install(TRUE, L"user"));
    RegistryListing expected = before;
    expected["HKCU\\Software\\Microsoft"] = "key";
    expected["HKCU\\Software\\Microsoft\\Internet Explorer"] = "key";
    expected["HKCU\\Software\\Microsoft\\Internet Explorer |DownloadUI"] =
        ValueEntry(REG_SZ, std::string(DM, 39));
    EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(maxthon.Sub("Plugin\\WebCorvane\\Plugin.ini"), bytes));
    EXPECT_EQ(221u, bytes.size());
    EXPECT_EQ("CLSID=" BHO, bytes.substr(bytes.size() - 44));

    EXPECT_EQ(S_OK, install(FALSE, L"USER"));
    EXPECT_EQ(
        0u, ListSandbox(sandbox).count("HKCU\\Software\\Microsoft\\Internet Explorer |DownloadUI"));
    EXPECT_FALSE(Exists(maxthon.Sub("Plugin\\WebCorvane")));
    EXPECT_TRUE(Exists(maxthon.Sub("Plugin")));
}

TEST(Registration, AModulePathCutAtTheBufferWritesNoClassKey) {
    // A copy of the DLL whose full path is longer than MAX_PATH, loaded
    // through the wide long-path form.
    ScratchDir dir("webcorvane-long");
    std::wstring folder = L"\\\\?\\" + std::wstring(dir.Path().begin(), dir.Path().end());
    std::vector<std::wstring> made;
    while (folder.size() < 300) {
        folder += L"\\" + std::wstring(60, L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
        made.push_back(folder);
    }
    const std::wstring wide = folder + L"\\WebCorvaneBHO.dll";
    const std::wstring source(kBuiltDll.begin(), kBuiltDll.end());
    ASSERT_TRUE(CopyFileW(source.c_str(), wide.c_str(), FALSE)) << GetLastError();

    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    HMODULE module = LoadLibraryW(wide.c_str());
    ASSERT_NE(nullptr, module) << GetLastError();
    auto reg = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(nullptr, reg);
    // No module path, no class registration: a failure, and said so.
    EXPECT_EQ(SELFREG_E_CLASS, reg());
    char seen[MAX_PATH + 1] = {};
    EXPECT_EQ(static_cast<DWORD>(MAX_PATH), GetModuleFileNameA(module, seen, MAX_PATH));
    FreeLibrary(module);
    // The A functions of the scratch folder's clean-up cannot reach this deep.
    DeleteFileW(wide.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        RemoveDirectoryW(it->c_str());

    RegistryListing expected = ExpectedListing(kBuiltDll);
    for (auto it = expected.begin(); it != expected.end();)
        it = it->first.compare(0, 5, "HKCR\\") == 0 ? expected.erase(it) : std::next(it);
    EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
}

// In code page 932, "\x95\x5C" is one character whose trail byte is the
// backslash's code: the module directory must not end inside it. Wine takes
// the code page from LC_ALL at process start: a run of its own gives it 932
// (see tests/CMakeLists.txt), and fails when the case skips there.
TEST(RegistrationInCodePage932, ModuleDirectoryKeepsItsDoubleByteCharacter) {
    if (GetACP() != 932)
        GTEST_SKIP() << "runs where the ANSI code page is 932";
    ScratchDir dir("webcorvane-dbcs");
    const std::string copy = dir.Sub("\x95\x5C.dll");
    // Wine names files in the Unix locale's character set; without a UTF-8
    // locale no file can carry this name.
    ASSERT_TRUE(CopyFileA(kBuiltDll.c_str(), copy.c_str(), FALSE)) << GetLastError();
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    {
        Dll dll(copy);
        ASSERT_NE(nullptr, dll.module) << GetLastError();
        ASSERT_EQ(S_OK, dll.Register());
    }
    const RegistryListing listing = ListSandbox(sandbox);
    const auto helpDir = listing.find("HKCR\\TypeLib\\" LIB "\\1.0\\HELPDIR |@");
    const auto win32 = listing.find("HKCR\\TypeLib\\" LIB "\\1.0\\0\\win32 |@");
    ASSERT_TRUE(helpDir != listing.end() && win32 != listing.end());
    const std::string directory = dir.Path() + "\\";
    EXPECT_EQ(ValueEntry(REG_SZ, std::string(copy.c_str(), copy.size() + 1)), win32->second);
    EXPECT_EQ(ValueEntry(REG_SZ, std::string(directory.c_str(), directory.size() + 1)),
              helpDir->second);
}
