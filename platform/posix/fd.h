// The one owner type of a file descriptor in the POSIX backends: closed when
// it goes out of scope, like the Windows backends' Handle.
#pragma once

#include <unistd.h>

namespace platform {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (valid()) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, reporting the error a deferred write may surface here.
    bool close() { return ::close(release()) == 0; }

  private:
    int fd_;
};

}  // namespace platform
