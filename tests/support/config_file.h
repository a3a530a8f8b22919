#pragma once

#include <string>

// "UserConfig.ini" beside a module, written and removed by tests. The file
// is removed again when the object goes.
class ScopedConfigFile {
  public:
    // `directory` ends in a backslash.
    explicit ScopedConfigFile(std::string directory);
    ~ScopedConfigFile();
    ScopedConfigFile(const ScopedConfigFile&) = delete;
    ScopedConfigFile& operator=(const ScopedConfigFile&) = delete;

    // Writes the whole file as given (no "[Monitor]" added).
    void WriteRaw(const std::string& contents) const;
    // Writes a "[Monitor]" section with the given lines ("MonitorIE=0", ...).
    void WriteMonitor(const std::string& lines) const;
    void Remove() const;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// The directory of this test executable, with its trailing backslash.
std::string SelfDirectory();
