#include "tests/support/config_file.h"

#include "tools/support/process.h"

#include <windows.h>

#include <cstdio>

ScopedConfigFile::ScopedConfigFile(std::string directory)
    : path_(std::move(directory) + "UserConfig.ini") {
    Remove();
}

ScopedConfigFile::~ScopedConfigFile() {
    Remove();
}

void ScopedConfigFile::WriteRaw(const std::string& contents) const {
    FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr)
        return;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
    // Profile functions may keep a file cached: make them read it again.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
}

void ScopedConfigFile::WriteMonitor(const std::string& lines) const {
    WriteRaw("[Monitor]\r\n" + lines + "\r\n");
}

void ScopedConfigFile::Remove() const {
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path_.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
}

std::string SelfDirectory() {
    std::string path = SelfPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}
