// The one owner type of a Win32 kernel handle in the Windows backends:
// closed when it goes out of scope. Both null and INVALID_HANDLE_VALUE mean
// none, since the API returns one or the other by function.
#pragma once

#include <windows.h>

namespace platform {

class Handle {
  public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.release()) {}

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // Closes now, reporting the error a deferred write may surface here.
    bool close() { return CloseHandle(release()) != 0; }

  private:
    HANDLE handle_;
};

}  // namespace platform
