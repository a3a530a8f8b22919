#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

// Self-registration: the COM keys of both classes, the Browser Helper Objects
// key and the "DownloadUI" values. The exported DllRegisterServer and
// DllUnregisterServer drive these steps and always answer S_OK.

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

constexpr std::size_t kRegistrationRowCount = 25;
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

// The 25 rows of one class, in the order they are written.
RegistrationTable FillRegistrationTable(const ClassRegistrationTexts& texts);

// Walks `rows` up to `count` or up to a row with a null root. Answers 1 when
// every row was processed, 0 when a key could not be created (the rows before
// it stay written, the later ones are not written).
int WriteRegistryRows(const RegistryRow* rows, std::size_t count);

// Whether the interface key of `iid` belongs to this library (and may be
// written and deleted by its registration).
bool IsLibraryInterface(REFIID iid) noexcept;

// Registers one class from its table. 1 when every row was processed; 0 when
// a key could not be created, or when a GUID text or the module path could
// not be had (then nothing is written).
int RegisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* description,
                     const char* progId, const char* version, const char* typeLibName,
                     const char* interfaceName) noexcept;

// Deletes the ProgID keys, the class key, the type-library key and, for the
// library's own interface, the interface key. Always 1.
int UnregisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* progId) noexcept;

// The Browser Helper Objects key of `clsid` under HKEY_LOCAL_MACHINE. 0 when
// the CLSID has no text (nothing changed), else 1.
int SetBrowserHelperKey(REFCLSID clsid, int install) noexcept;

// Internet Explorer's "DownloadUI" value under HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER. 0 when the CLSID has no text (nothing changed), else 1.
int SetDownloadUI(REFCLSID clsid, int install) noexcept;
