// The Maxthon plug-in: a folder under Maxthon's "Plugin" folder with a
// "Plugin.ini" that names the browser helper object as a COM module.
#include "server/maxthon_plugin.h"

#include "common/boundary.h"
#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "server/registration.h"

#include <cwchar>

namespace {

// Everything ever appended to the folder path: root, separator, plug-in
// folder and file name.
constexpr std::size_t kAppendedLength =
    (sizeof(kPluginRoot) - 1) + 1 + (sizeof(kPluginFolderName) - 1) + (sizeof(kPluginFile) - 1);

std::wstring Wide(const char* ascii) {
    return Utf8ToWide(ascii);
}

int InstallPlugin(const std::wstring& folder) {
    if (!PathExists(folder, 1) && !CreateDirectoryW(folder.c_str(), nullptr))
        return 0;
    const std::wstring path = folder + Wide(kPluginFile);
    if (PathExists(path, 0) && !DeleteFileW(path.c_str()))
        return 0;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                0, nullptr));
    if (!file.Valid())
        return 0;
    std::string clsidText;
    if (!GuidToText(CLSID_WebCorvaneIEHelper, clsidText))
        return 0;
    return WriteWholeFile(file.Get(), BuildPluginIni(clsidText.c_str())) ? 1 : 0;
}

int RemovePlugin(const std::wstring& folder) {
    if (!PathExists(folder, 1))
        return 1;
    const std::wstring file = folder + Wide(kPluginFile);
    if (PathExists(file, 0) && !DeleteFileW(file.c_str()))
        return 0;
    // Fails, keeping the folder, while it holds anything else.
    return RemoveDirectoryW(folder.c_str()) ? 1 : 0;
}

}  // namespace

bool ReadMaxthonFolder(std::wstring& path) {
    std::wstring data;
    if (!ReadRegistryString(HKEY_CURRENT_USER, Wide(kMaxthonKey), Wide(kMaxthonFolderValue).c_str(),
                            data) ||
        !MaxthonFolderUsable(data.c_str(),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)))) {
        return false;
    }
    path.swap(data);
    return true;
}

bool FindPluginFolder(std::wstring& path) {
    if (!ReadMaxthonFolder(path))
        return false;
    path += Wide(kPluginRoot);
    if (!PathExists(path, 1))
        return false;
    path += L'\\';
    path += Wide(kPluginFolderName);
    return true;
}

std::size_t MaxthonFolderMaxLength() noexcept {
    return MAX_PATH - 1 - kAppendedLength;
}

bool MaxthonFolderUsable(const wchar_t* data, DWORD byteCount) noexcept {
    if (byteCount > MAX_PATH * sizeof(wchar_t))
        return false;
    const std::size_t units = byteCount / sizeof(wchar_t);
    const wchar_t* zero = std::wmemchr(data, L'\0', units);
    if (zero == nullptr)
        return false;
    return static_cast<std::size_t>(zero - data) <= MaxthonFolderMaxLength();
}

bool PathExists(const std::wstring& path, int wantDirectory) noexcept {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isDirectory == (wantDirectory != 0);
}

std::string BuildPluginIni(const char* clsidText) {
    // wsprintfA fills at most 1024 characters; every line here is far shorter.
    char line[1024];
    std::string text = "[General]\r\n";
    wsprintfA(line, "Name=%s Maxthon Extension\r\n", kPluginFolderName);
    text += line;
    wsprintfA(line, "Author=%s\r\n", "Vantor");
    text += line;
    text += "Version=1.0\r\n";
    text += "ModuleType=COM\r\n";
    wsprintfA(line, "FileName=%s\r\n", kLibraryFileName);
    text += line;
    wsprintfA(line, "Comments=%s Download Manager\r\n", kPluginFolderName);
    text += line;
    text += "Type=M2Plugin_Other\r\n";
    text += "CLSID=";
    text += clsidText;
    return text;
}

bool WriteWholeFile(HANDLE file, const std::string& text) noexcept {
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(text.size());
    return WriteFile(file, text.data(), length, &written, nullptr) && written == length;
}

int RegisterMaxthonPlugin(int install) noexcept {
    return GuardBoundary(0, [install] {
        std::wstring path;
        if (!FindPluginFolder(path))
            return 0;
        return install != 0 ? InstallPlugin(path) : RemovePlugin(path);
    });
}
