#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

uint32_t last_error() { return static_cast<uint32_t>(errno); }

std::string system_message(uint32_t code) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    return strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}

}  // namespace platform
