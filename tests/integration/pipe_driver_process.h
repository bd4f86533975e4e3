// The pipe driver (pipe_driver.cpp) of one target as a child process: the
// control panel's client library, driven line by line. The Windows driver
// runs under Wine in the same prefix as the Windows server, so both meet on
// the same named pipe.
#pragma once

#include <string>

#include "tests/integration/server_process.h"

class PipeDriver {
  public:
    // Starts the driver of `target` on the control pipe `pipeName`; natively
    // and when `asNobody` is set, as the user "nobody" (the test must run as
    // root for that) with the supplementary groups `groups` (a list of group
    // numbers separated by commas; none when empty).
    PipeDriver(Target target,
               const std::string& pipeName,
               bool asNobody = false,
               const std::string& groups = "");
    ~PipeDriver();
    PipeDriver(const PipeDriver&) = delete;
    PipeDriver& operator=(const PipeDriver&) = delete;

    bool started() const { return pid_ > 0; }

    // Sends one command and returns its answer line; "timed out" when none
    // came within the time.
    std::string call(const std::string& command, int timeoutMs = 20000);

  private:
    bool read_line(std::string* line, int timeoutMs);

    int pid_ = -1;
    int toDriver_ = -1;
    int fromDriver_ = -1;
    std::string pending_;
};
