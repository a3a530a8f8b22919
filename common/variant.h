#pragma once

#include <windows.h>
#include <oleauto.h>

// Owns one VARIANT; clears it with VariantClear on every path.
class Variant {
  public:
    Variant() noexcept { VariantInit(&var_); }
    ~Variant() { VariantClear(&var_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Get() noexcept { return &var_; }
    const VARIANT* Get() const noexcept { return &var_; }
    VARTYPE Type() const noexcept { return var_.vt; }
    void Reset() noexcept {
        VariantClear(&var_);
        VariantInit(&var_);
    }
    // For an out-parameter: clears what was held first.
    VARIANT* Receive() noexcept {
        Reset();
        return &var_;
    }

  private:
    VARIANT var_;
};
