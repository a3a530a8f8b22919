// The registration table, its walk and the registry steps, against a
// redirected registry.
#include "server/registration.h"

#include "common/identifiers.h"
#include "tests/support/registry_sandbox.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Show(const char* text) {
    return text == nullptr ? "-" : text;
}

std::string Show(const RegistryRow& row) {
    return Show(row.keyFormat) + " | " + Show(row.keyArgument) + " | " + Show(row.valueName) +
           " | " + Show(row.valueData) + " | " + (row.deleteFirst ? "delete" : "keep");
}

// Distinct markers show which input lands in which field.
const ClassRegistrationTexts kMarkers = {
    "<clsid>",   "<libid>",   "<iid>",       "<description>", "<progId>", "<progId.1>",
    "<version>", "<typeLib>", "<interface>", "<path>",        "<dir\\>",  true,
};

}  // namespace

TEST(FillRegistrationTable, FillsTheTwentySixRowsInOrder) {
    // keyFormat | keyArgument | valueName | valueData | deleteFirst
    const char* const expected[kRegistrationRowCount] = {
        "%s.1 | <progId> | - | <description> | keep",
        "%s.1\\CLSID | <progId> | - | <clsid> | keep",
        "<progId> | - | - | <description> | keep",
        "%s\\CLSID | <progId> | - | <clsid> | keep",
        "%s\\CurVer | <progId> | - | <progId.1> | keep",
        "CLSID\\%s | <clsid> | - | <description> | delete",
        "CLSID\\%s\\ProgID | <clsid> | - | <progId.1> | keep",
        "CLSID\\%s\\VersionIndependentProgID | <clsid> | - | <progId> | keep",
        "CLSID\\%s\\Programmable | <clsid> | - | - | delete",
        "CLSID\\%s\\InprocServer32 | <clsid> | - | <path> | keep",
        "CLSID\\%s\\InprocServer32 | <clsid> | ThreadingModel | Apartment | keep",
        "CLSID\\%s\\Control | <clsid> | - | - | delete",
        "CLSID\\%s\\TypeLib | <clsid> | - | <libid> | keep",
        "CLSID\\%s\\Version | <clsid> | - | <version> | keep",
        "CLSID\\%s\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640} | <clsid> | - | "
        "- | keep",
        "TypeLib\\%s | <libid> | - | - | keep",
        "TypeLib\\%s\\1.0 | <libid> | - | <typeLib> | keep",
        "TypeLib\\%s\\1.0\\0 | <libid> | - | - | keep",
        "TypeLib\\%s\\1.0\\0\\win32 | <libid> | - | <path> | keep",
        "TypeLib\\%s\\1.0\\FLAGS | <libid> | - | 0 | keep",
        "TypeLib\\%s\\1.0\\HELPDIR | <libid> | - | <dir\\> | keep",
        "Interface\\%s | <iid> | - | <interface> | keep",
        "Interface\\%s\\ProxyStubClsid | <iid> | - | {00020424-0000-0000-C000-000000000046} | keep",
        "Interface\\%s\\ProxyStubClsid32 | <iid> | - | {00020424-0000-0000-C000-000000000046} | "
        "keep",
        "Interface\\%s\\TypeLib | <iid> | - | <libid> | keep",
        "Interface\\%s\\TypeLib | <iid> | Version | <version> | keep",
    };
    const RegistrationTable rows = FillRegistrationTable(kMarkers);
    for (size_t i = 0; i < kRegistrationRowCount; ++i) {
        EXPECT_EQ(expected[i], Show(rows[i])) << "row " << i + 1;
        EXPECT_EQ(HKEY_CLASSES_ROOT, rows[i].root) << "row " << i + 1;
    }
}

TEST(FillRegistrationTable, AnInterfaceThePlatformOwnsEndsTheTableBeforeItsRows) {
    ClassRegistrationTexts texts = kMarkers;
    texts.writesInterfaceKey = false;
    const RegistrationTable rows = FillRegistrationTable(texts);
    const RegistrationTable all = FillRegistrationTable(kMarkers);
    for (size_t i = 0; i < kInterfaceRowIndex; ++i) {
        EXPECT_EQ(HKEY_CLASSES_ROOT, rows[i].root) << "row " << i + 1;
        EXPECT_EQ(Show(all[i]), Show(rows[i])) << "row " << i + 1;
    }
    EXPECT_EQ(nullptr, rows[kInterfaceRowIndex].root);
}

TEST(WriteRegistryRows, WritesKeysAndValuesAsTheRowsSay) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    // Left by an earlier registration: the deleting row takes it away.
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "Node\\a%b\\Stale", nullptr, "old"));
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, "Kept", "Foreign", "stays"));

    const RegistryRow rows[] = {
        {HKEY_CLASSES_ROOT, "Node\\%s", "a%b", nullptr, "100% text", true},
        {HKEY_CLASSES_ROOT, "Node\\%s\\Sub", "a%b", "Named", "x", false},
        {HKEY_CLASSES_ROOT, "Plain%d", nullptr, nullptr, nullptr, false},
        {HKEY_CLASSES_ROOT, "Kept", nullptr, nullptr, "", false},
        {nullptr, "Never", nullptr, nullptr, "written", false},
        {HKEY_CLASSES_ROOT, "AfterTheEnd", nullptr, nullptr, nullptr, false},
    };
    EXPECT_EQ(1, WriteRegistryRows(rows, sizeof(rows) / sizeof(rows[0])));

    const RegistryListing expected = {
        {"HKCR\\Node", "key"},
        {"HKCR\\Node\\a%b", "key"},
        {"HKCR\\Node\\a%b |@", "REG_SZ 10 100% text\\0"},
        {"HKCR\\Node\\a%b\\Sub", "key"},
        {"HKCR\\Node\\a%b\\Sub |Named", "REG_SZ 2 x\\0"},
        {"HKCR\\Plain%d", "key"},
        {"HKCR\\Kept", "key"},
        {"HKCR\\Kept |@", "REG_SZ 1 \\0"},
        {"HKCR\\Kept |Foreign", "REG_SZ 6 stays\\0"},
    };
    EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
}

TEST(WriteRegistryRows, StopsAfterTheCountEvenWithoutAnEndRow) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    const RegistryRow rows[] = {
        {HKEY_CLASSES_ROOT, "First", nullptr, nullptr, nullptr, false},
        {HKEY_CLASSES_ROOT, "Second", nullptr, nullptr, nullptr, false},
    };
    EXPECT_EQ(1, WriteRegistryRows(rows, 1));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "First"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Second"));
}

TEST(WriteRegistryRows, ARowThatCannotBeWrittenFailsTheWalkWhichStillWritesTheOthers) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    HKEY deleted = OpenDeletedKey(sandbox.CurrentUser());
    ASSERT_NE(nullptr, deleted);
    const std::string tooLong(300, 'x');
    struct Case {
        const char* name;
        RegistryRow failing;
    } const cases[] = {
        {"unwritable root", {deleted, "Failing", nullptr, nullptr, "v", false}},
        {"name beyond the buffer",
         {HKEY_CLASSES_ROOT, "Long\\%s", tooLong.c_str(), nullptr, "v", false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SHDeleteKeyA(HKEY_CLASSES_ROOT, "Before");
        SHDeleteKeyA(HKEY_CLASSES_ROOT, "After");
        const RegistryRow rows[] = {
            {HKEY_CLASSES_ROOT, "Before", nullptr, nullptr, "written", false},
            c.failing,
            {HKEY_CLASSES_ROOT, "After", nullptr, nullptr, "written", false},
        };
        EXPECT_EQ(0, WriteRegistryRows(rows, 3));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Before"));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "After"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Long"));
    }
    RegCloseKey(deleted);
}

TEST(RegisterComClass, WritesNoInterfaceKeyForThePlatformsInterface) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    const char iidKey[] = "Interface\\{988934A4-064B-11D3-BB80-00104B35E7F9}";
    ASSERT_TRUE(PutString(HKEY_CLASSES_ROOT, iidKey, nullptr, "IDownloadManager"));
    const RegistryListing before = ListSandbox(sandbox);

    EXPECT_EQ(1, RegisterComClass(CLSID_VDownloadManager, LIBID_WebCorvaneBHO,
                                  IID_DownloadManagerInterface, "d", "P.D", "1.0", "t", "i"));
    RegistryListing after = ListSandbox(sandbox);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}"));
    EXPECT_EQ(before.at("HKCR\\Interface\\{988934A4-064B-11D3-BB80-00104B35E7F9} |@"),
              after.at("HKCR\\Interface\\{988934A4-064B-11D3-BB80-00104B35E7F9} |@"));
    size_t interfaceEntries = 0;
    for (const auto& entry : after)
        interfaceEntries += entry.first.compare(0, 15, "HKCR\\Interface\\") == 0 ? 1 : 0;
    EXPECT_EQ(2u, interfaceEntries);  // the key and its one value, as before

    EXPECT_EQ(1, UnregisterComClass(CLSID_VDownloadManager, LIBID_WebCorvaneBHO,
                                    IID_DownloadManagerInterface, "P.D"));
    EXPECT_EQ(
        before.at("HKCR\\Interface\\{988934A4-064B-11D3-BB80-00104B35E7F9} |@"),
        ListSandbox(sandbox).at("HKCR\\Interface\\{988934A4-064B-11D3-BB80-00104B35E7F9} |@"));
}

TEST(RegisterComClass, AnUnwritableClassesRootGivesZeroAndWritesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    HKEY deleted = OpenDeletedKey(sandbox.CurrentUser());
    ASSERT_NE(nullptr, deleted);
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, deleted));
    EXPECT_EQ(0, RegisterComClass(CLSID_WebCorvaneIEHelper, LIBID_WebCorvaneBHO,
                                  IID_IWebCorvaneIEHelper, "d", "P.H", "1.0", "t", "i"));
    // Every deletion fails: it cannot answer that nothing of ours remains.
    EXPECT_EQ(0, UnregisterComClass(CLSID_WebCorvaneIEHelper, LIBID_WebCorvaneBHO,
                                    IID_IWebCorvaneIEHelper, "P.H"));
    RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox.ClassesRoot());
    RegCloseKey(deleted);
    EXPECT_EQ("", DescribeDifference({}, ListSandbox(sandbox)));
}

TEST(SetBrowserHelperKey, WritesTheHelpersNameAndDeletesOnlyTheKey) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    const std::string key =
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper "
        "Objects\\{00000AAA-A363-466E-BEF5-9BB68697AA7F}";
    EXPECT_EQ(1, SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 1));
    RegistryListing listing = ListSandbox(sandbox);
    // 13 bytes are passed; RegSetValueExA stores the terminator that follows
    // a string written without it, so the value reads back as 14.
    EXPECT_EQ("REG_SZ 14 WebCorvaneBHO\\0", listing[key + " |@"]);

    EXPECT_EQ(1, SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 0));
    listing = ListSandbox(sandbox);
    EXPECT_EQ(0u, listing.count(key));
    EXPECT_EQ(1u, listing.count(key.substr(0, key.rfind('\\'))));
    EXPECT_EQ(1, SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 0));  // nothing there: no error

    // Not a recursive delete: a key someone put below keeps it in place.
    ASSERT_EQ(1, SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 1));
    const std::string below = key.substr(5) + "\\Settings";
    ASSERT_TRUE(PutString(HKEY_LOCAL_MACHINE, below.c_str(), "x", "y"));
    EXPECT_EQ(1, SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 0));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, below.c_str()));
}

TEST(SetDownloadUI, NamesTheDownloadManagerInBothHivesAndDeletesWhateverIsNamed) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    EXPECT_EQ(1, SetDownloadUI(CLSID_VDownloadManager, 1));
    RegistryListing listing = ListSandbox(sandbox);
    // 38 bytes are passed; the platform adds the terminator that follows.
    const std::string value = "REG_SZ 39 {15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}\\0";
    EXPECT_EQ(value, listing["HKLM\\Software\\Microsoft\\Internet Explorer |DownloadUI"]);
    EXPECT_EQ(value, listing["HKCU\\Software\\Microsoft\\Internet Explorer |DownloadUI"]);

    // Another download manager took over in one hive: removal still clears it.
    ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer", "DownloadUI",
                          "{11111111-2222-3333-4444-555555555555}"));
    ASSERT_TRUE(
        PutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer", "Other", "kept"));
    EXPECT_EQ(1, SetDownloadUI(CLSID_VDownloadManager, 0));
    const RegistryListing expected = {
        {"HKLM\\Software", "key"},
        {"HKLM\\Software\\Microsoft", "key"},
        {"HKLM\\Software\\Microsoft\\Internet Explorer", "key"},
        {"HKCU\\Software", "key"},
        {"HKCU\\Software\\Microsoft", "key"},
        {"HKCU\\Software\\Microsoft\\Internet Explorer", "key"},
        {"HKCU\\Software\\Microsoft\\Internet Explorer |Other", "REG_SZ 5 kept\\0"},
    };
    EXPECT_EQ("", DescribeDifference(expected, ListSandbox(sandbox)));
}
