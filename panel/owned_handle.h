// Ownership of the Win32 handles the control panel creates: one owner per
// handle, released when the owner goes away.
#pragma once

#include <utility>

#include <windows.h>

template <typename Handle, auto Release>
class OwnedHandle {
  public:
    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    Handle get() const { return handle_; }
    Handle* out() {
        reset();
        return &handle_;
    }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(Handle handle = nullptr) {
        if (handle_) Release(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = nullptr;
};

using OwnedKey = OwnedHandle<HKEY, RegCloseKey>;
using OwnedMenu = OwnedHandle<HMENU, DestroyMenu>;
using OwnedIcon = OwnedHandle<HICON, DestroyIcon>;
