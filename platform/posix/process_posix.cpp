#include "platform/process.h"

#include <cstring>
#include <unistd.h>

namespace platform {

std::size_t program_directory(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, size);
    if (n <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t length = static_cast<std::size_t>(n);
    if (length >= size) length = size - 1;  // a full buffer loses its last character
    buffer[length] = '\0';
    char* slash = std::strrchr(buffer, '/');
    if (!slash) {
        buffer[0] = '\0';
        return 0;
    }
    slash[1] = '\0';
    return static_cast<std::size_t>(slash + 1 - buffer);
}

std::size_t program_path(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, size);
    if (n <= 0 || static_cast<std::size_t>(n) >= size) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<std::size_t>(n);
}

char path_separator() { return '/'; }

}  // namespace platform
