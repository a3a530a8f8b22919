#pragma once

#include <string>

// A fresh directory under the temporary folder, removed with everything in it
// (read-only files included) when the object goes.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& stem);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "\" + relative.
    std::string Sub(const std::string& relative) const { return path_ + "\\" + relative; }

  private:
    std::string path_;
};

void RemoveTree(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The whole file; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);
