#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

// Self-registration: the COM keys of both classes, the Browser Helper Objects
// key and the "DownloadUI" values. The exported DllRegisterServer and
// DllUnregisterServer drive these steps, each step whatever the earlier ones
// answered, and answer SELFREG_E_CLASS when one of them failed. DllInstall
// with "user" does the per-user parts alone, for the user who runs it.

// What registration writes where the browsers look, named once for the
// registration and for the installation check that reads it back.
constexpr char kLibraryFileName[] = "WebCorvaneBHO.dll";
constexpr char kHelperProgId[] = "WebCorvaneBHO.WebCorvaneIEHelper";
constexpr char kDownloadManagerProgId[] = "WebCorvaneBHO.VDownloadManager";
// Below HKEY_CLASSES_ROOT, with a CLSID text: the module path is its default.
constexpr char kInprocServerKeyFormat[] = "CLSID\\%s\\InprocServer32";
// Below HKEY_LOCAL_MACHINE, with the helper's CLSID text.
constexpr char kBrowserHelperKeyFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\%s";
// Internet Explorer reads exactly these characters; the stored value carries
// no terminating zero.
constexpr char kBrowserHelperName[] = "WebCorvaneBHO";
// Below HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, value kDownloadUIValue:
// the download manager's CLSID text.
constexpr char kInternetExplorerKey[] = "Software\\Microsoft\\Internet Explorer\\";
constexpr char kDownloadUIValue[] = "DownloadUI";
// Internet Explorer 10 and later load an add-on in an Enhanced Protected Mode
// tab only when its class implements this category.
constexpr char kAppContainerCompatibleText[] = "{59FB2056-D625-48D0-A944-1A85B5AB2640}";
constexpr char kImplementedCategoryKeyFormat[] =
    "CLSID\\%s\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}";
// The argument of DllInstall (regsvr32 /n /i:user) that writes or removes
// the per-user parts.
constexpr wchar_t kPerUserInstallArgument[] = L"user";
// Active Setup runs a machine-wide install's per-user step once for each user
// at logon; below HKEY_LOCAL_MACHINE (the machine's entry) and
// HKEY_CURRENT_USER (what ran for the user), one entry per DLL bitness.
constexpr char kActiveSetupKey[] = "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\";
constexpr char kActiveSetupId32[] = "{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C32}";
constexpr char kActiveSetupId64[] = "{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C64}";

// The Browser Helper Objects key name of the class whose text is `clsidText`;
// false when it does not fit.
bool FormatBrowserHelperKey(const char* clsidText, char (&keyName)[MAX_PATH]) noexcept;

// One row of a class's registration table. Its texts are UTF-8; they are
// written with the registry's wide functions, so a module path outside the
// ANSI code page is stored as it is.
struct RegistryRow {
    HKEY root;                // predefined root; null marks the end of a table
    const char* keyFormat;    // a format with one "%s", or the complete key name
    const char* keyArgument;  // replaces the "%s"; null: keyFormat is the key name
    const char* valueName;    // null: the key's default value
    const char* valueData;    // null: the key is only created
    bool deleteFirst;         // delete the key with all its subkeys before creating it
};

constexpr std::size_t kRegistrationRowCount = 26;
// The first of the interface rows.
constexpr std::size_t kInterfaceRowIndex = 21;
using RegistrationTable = std::array<RegistryRow, kRegistrationRowCount>;

// The texts one class's table is filled from. The caller keeps them alive
// for as long as the table is used.
struct ClassRegistrationTexts {
    const char* clsidText;
    const char* libidText;
    const char* iidText;
    const char* description;
    const char* progId;
    const char* versionedProgId;
    const char* version;
    const char* typeLibName;
    const char* interfaceName;
    const char* modulePath;
    const char* moduleDirectory;
    // False for an interface the platform itself registers: its key is not
    // ours to overwrite, so the table ends before the interface rows.
    bool writesInterfaceKey;
};

// The 26 rows of one class, in the order they are written.
RegistrationTable FillRegistrationTable(const ClassRegistrationTexts& texts);

// Walks `rows` up to `count` or up to a row with a null root, writing every
// row it can. Answers 1 when every row was written, 0 when a key or a value
// could not be (the other rows are written all the same).
int WriteRegistryRows(const RegistryRow* rows, std::size_t count);

// Whether the interface key of `iid` belongs to this library (and may be
// written and deleted by its registration).
bool IsLibraryInterface(REFIID iid) noexcept;

// Registers one class from its table. 1 when every row was written; 0 when
// a row could not be, or when a GUID text or the module path could not be
// had (then nothing is written).
int RegisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* description,
                     const char* progId, const char* version, const char* typeLibName,
                     const char* interfaceName) noexcept;

// Deletes the ProgID keys, the class key, the type-library key and, for the
// library's own interface, the interface key. 1 when none of them remains
// (one that was never there counts as removed), else 0.
int UnregisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* progId) noexcept;

// The Browser Helper Objects key of `clsid` under HKEY_LOCAL_MACHINE. 1 when
// it was written, or removed (or kept only for a key someone else put below
// it); 0 when that failed or the CLSID has no text.
int SetBrowserHelperKey(REFCLSID clsid, int install) noexcept;

// Internet Explorer's "DownloadUI" value under HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, or under `root` alone. 1 when every value was written or
// removed (an absent one counts as removed); 0 when one failed or the CLSID
// has no text.
int SetDownloadUI(REFCLSID clsid, int install) noexcept;
int SetDownloadUIIn(HKEY root, REFCLSID clsid, int install) noexcept;
