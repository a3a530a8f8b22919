#pragma once

#include <objbase.h>

// One single-threaded COM apartment for the test's thread.
class ComApartment {
  public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT hr() const { return hr_; }

  private:
    HRESULT hr_;
};
