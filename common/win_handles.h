#pragma once

#include <windows.h>
#include <objbase.h>
#include <wininet.h>

// Owning holders for the plain platform resources the library opens.

class RegKey {
  public:
    RegKey() noexcept = default;
    ~RegKey() { Reset(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY Get() const noexcept { return key_; }
    void Reset() noexcept {
        if (key_ != nullptr)
            RegCloseKey(key_);
        key_ = nullptr;
    }
    PHKEY Receive() noexcept {
        Reset();
        return &key_;
    }

  private:
    HKEY key_ = nullptr;
};

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    ~FileHandle() { Reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void Reset() noexcept {
        if (Valid())
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_;
};

// A WinINet session, connection or request.
class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) noexcept : handle_(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const noexcept { return handle_; }
    void Reset(HINTERNET handle = nullptr) noexcept {
        if (handle_ != nullptr)
            InternetCloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HINTERNET handle_;
};

// Memory from the COM task allocator (StringFromIID and friends).
template <typename T>
class CoTaskMem {
  public:
    CoTaskMem() noexcept = default;
    ~CoTaskMem() { Reset(); }
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;

    T* Get() const noexcept { return ptr_; }
    void Reset() noexcept {
        if (ptr_ != nullptr)
            CoTaskMemFree(ptr_);
        ptr_ = nullptr;
    }
    T** Receive() noexcept {
        Reset();
        return &ptr_;
    }

  private:
    T* ptr_ = nullptr;
};
