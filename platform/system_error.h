// The system's own error codes and texts: errno and strerror on POSIX,
// GetLastError and FormatMessage on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The calling thread's last error code (GetLastError, errno).
uint32_t last_error();

// The system's text for an error code as the system gives it (on Windows with
// its line end), empty when it has none. On Windows this covers the socket
// layer's codes too.
std::string system_message(uint32_t code);

}  // namespace platform
