#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Maxthon's plug-in folder for this library: "<Folder>\Plugin\WebCorvane"
// with a "Plugin.ini" naming the browser helper object, where <Folder> is the
// "Folder" value of HKEY_CURRENT_USER\Software\Maxthon.

constexpr char kMaxthonKey[] = "Software\\Maxthon";
constexpr char kMaxthonFolderValue[] = "Folder";
constexpr char kPluginRoot[] = "\\Plugin";
constexpr char kPluginFolderName[] = "WebCorvane";
constexpr char kPluginFile[] = "\\Plugin.ini";

// Paths are read and used with the wide functions, so a Maxthon folder
// outside the ANSI code page is found and written as it is.

// Maxthon's folder from the registry, when the value is there and short
// enough for the plug-in's paths.
bool ReadMaxthonFolder(std::wstring& path);

// The plug-in folder's path ("<Folder>\Plugin\WebCorvane"); false when
// Maxthon has no usable folder or that has no "Plugin" folder. Touches
// nothing on disk.
bool FindPluginFolder(std::wstring& path);

// Installs (nonzero `install`) or removes the plug-in. 1 on success, 0 when a
// step failed; what was done before the failure stays.
int RegisterMaxthonPlugin(int install) noexcept;

// Whether `path` exists and is a directory (`wantDirectory` nonzero) or a
// file (zero).
bool PathExists(const std::wstring& path, int wantDirectory) noexcept;

// The longest "Folder" value, in characters, that still leaves room for every
// part appended to it in a MAX_PATH buffer.
std::size_t MaxthonFolderMaxLength() noexcept;

// Whether the `byteCount` bytes read from the "Folder" value hold a
// zero-terminated path short enough for the plug-in's paths.
bool MaxthonFolderUsable(const wchar_t* data, DWORD byteCount) noexcept;

// The exact content of "Plugin.ini" for the class whose registry text is
// `clsidText`.
std::string BuildPluginIni(const char* clsidText);

// Writes all of `text` to `file` in one call; false unless every byte went.
bool WriteWholeFile(HANDLE file, const std::string& text) noexcept;
