#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

// Owns one BSTR; frees it with SysFreeString.
class Bstr {
  public:
    Bstr() noexcept = default;
    ~Bstr() { Reset(); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : str_(other.Detach()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            Reset();
            str_ = other.Detach();
        }
        return *this;
    }

    // A copy of `text`, every character of it. Raises E_OUTOFMEMORY.
    static Bstr FromWide(const std::wstring& text);
    // A real zero-length BSTR, distinct from null. Raises E_OUTOFMEMORY.
    static Bstr Empty();

    BSTR Get() const noexcept { return str_; }
    BSTR Detach() noexcept {
        BSTR str = str_;
        str_ = nullptr;
        return str;
    }
    void Reset() noexcept {
        if (str_ != nullptr)
            SysFreeString(str_);
        str_ = nullptr;
    }
    BSTR* Receive() noexcept {
        Reset();
        return &str_;
    }

  private:
    BSTR str_ = nullptr;
};
