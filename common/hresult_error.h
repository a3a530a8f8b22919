#pragma once

#include <windows.h>

#include <exception>

// Inside the library failures travel as this exception; every COM method and
// exported function turns it (and anything else) into its fixed answer.
class HResultError : public std::exception {
  public:
    explicit HResultError(HRESULT hr) noexcept : hr_(hr) {}
    HRESULT hr() const noexcept { return hr_; }
    const char* what() const noexcept override { return "HResultError"; }

    // The thread's last error as an HRESULT; E_FAIL when the platform left none.
    static HResultError FromLastError() noexcept;

  private:
    HRESULT hr_;
};

inline HResultError HResultError::FromLastError() noexcept {
    const DWORD code = GetLastError();
    return HResultError(code == 0 ? E_FAIL : HRESULT_FROM_WIN32(code));
}
