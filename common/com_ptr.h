#pragma once

#include <windows.h>
#include <unknwn.h>

// Owns one reference on a COM interface. No implicit conversions: callers
// say Get() to borrow, Receive() to let a platform call fill it.
template <typename T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    // A reference of the holder's own on `ptr`, which the caller keeps too.
    static ComPtr Share(T* ptr) noexcept {
        ComPtr shared;
        if (ptr != nullptr)
            ptr->AddRef();
        shared.ptr_ = ptr;
        return shared;
    }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Takes over a reference the caller already owns.
    void Attach(T* ptr) noexcept {
        T* old = ptr_;
        ptr_ = ptr;
        if (old != nullptr)
            old->Release();
    }
    T* Detach() noexcept {
        T* ptr = ptr_;
        ptr_ = nullptr;
        return ptr;
    }
    void Reset() noexcept { Attach(nullptr); }

    // For an out-parameter: releases what was held, hands out the empty slot.
    T** Receive() noexcept {
        Reset();
        return &ptr_;
    }
    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

    // Replaces the held pointer by `source`'s interface `iid`: the old one is
    // set aside, the new one asked for, and only then is the old one released,
    // so the object cannot vanish between the two when both are the same.
    HRESULT QueryFrom(IUnknown* source, REFIID iid) noexcept {
        T* old = ptr_;
        ptr_ = nullptr;
        HRESULT hr = E_NOINTERFACE;
        if (source != nullptr) {
            hr = source->QueryInterface(iid, reinterpret_cast<void**>(&ptr_));
            if (FAILED(hr))
                ptr_ = nullptr;
        }
        if (old != nullptr)
            old->Release();
        return hr;
    }

  private:
    T* ptr_ = nullptr;
};
