// The Maxthon plug-in: a folder under Maxthon's "Plugin" folder with a
// "Plugin.ini" that names the browser helper object as a COM module.
#include "server/maxthon_plugin.h"

#include "common/boundary.h"
#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/win_handles.h"
#include "server/registration.h"

#include <cstring>

namespace {

// Everything ever appended to the folder path: root, separator, plug-in
// folder and file name.
constexpr std::size_t kAppendedLength =
    (sizeof(kPluginRoot) - 1) + 1 + (sizeof(kPluginFolderName) - 1) + (sizeof(kPluginFile) - 1);

// Appends within the MAX_PATH buffer; the folder's length was checked
// against everything appended, so this never cuts.
void Append(char (&path)[MAX_PATH], const char* tail) noexcept {
    const std::size_t used = std::strlen(path);
    lstrcpynA(path + used, tail, static_cast<int>(MAX_PATH - used));
}

int InstallPlugin(char (&path)[MAX_PATH]) {
    if (!PathExists(path, 1) && !CreateDirectoryA(path, nullptr))
        return 0;
    Append(path, kPluginFile);
    if (PathExists(path, 0) && !DeleteFileA(path))
        return 0;
    FileHandle file(
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr));
    if (!file.Valid())
        return 0;
    std::string clsidText;
    if (!GuidToText(CLSID_WebCorvaneIEHelper, clsidText))
        return 0;
    return WriteWholeFile(file.Get(), BuildPluginIni(clsidText.c_str())) ? 1 : 0;
}

int RemovePlugin(const char (&folder)[MAX_PATH]) noexcept {
    if (!PathExists(folder, 1))
        return 1;
    char file[MAX_PATH];
    lstrcpynA(file, folder, MAX_PATH);
    Append(file, kPluginFile);
    if (PathExists(file, 0) && !DeleteFileA(file))
        return 0;
    // Fails, keeping the folder, while it holds anything else.
    return RemoveDirectoryA(folder) ? 1 : 0;
}

}  // namespace

bool ReadMaxthonFolder(char (&path)[MAX_PATH]) noexcept {
    RegKey key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kMaxthonKey, key.Receive()) != ERROR_SUCCESS)
        return false;
    DWORD byteCount = MAX_PATH;
    if (RegQueryValueExA(key.Get(), kMaxthonFolderValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(path), &byteCount) != ERROR_SUCCESS) {
        return false;
    }
    return MaxthonFolderUsable(path, byteCount);
}

bool FindPluginFolder(char (&path)[MAX_PATH]) noexcept {
    if (!ReadMaxthonFolder(path))
        return false;
    Append(path, kPluginRoot);
    if (!PathExists(path, 1))
        return false;
    Append(path, "\\");
    Append(path, kPluginFolderName);
    return true;
}

std::size_t MaxthonFolderMaxLength() noexcept {
    return MAX_PATH - 1 - kAppendedLength;
}

bool MaxthonFolderUsable(const char* data, DWORD byteCount) noexcept {
    if (byteCount > MAX_PATH)
        return false;
    const void* zero = std::memchr(data, '\0', byteCount);
    if (zero == nullptr)
        return false;
    const std::size_t length = static_cast<const char*>(zero) - data;
    return length <= MaxthonFolderMaxLength();
}

bool PathExists(const char* path, int wantDirectory) noexcept {
    const DWORD attributes = GetFileAttributesA(path);
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
        char path[MAX_PATH];
        if (!FindPluginFolder(path))
            return 0;
        return install != 0 ? InstallPlugin(path) : RemovePlugin(path);
    });
}
