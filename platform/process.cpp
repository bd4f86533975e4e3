// The program's directory and path, cut to the caller's buffers the same way
// on every system.
#include "platform/process.h"

#include <cstring>

namespace platform {

std::size_t program_directory(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    std::string path =
        program_file().substr(0, size - 1);  // a full buffer loses its last character
    std::string::size_type separator = path.rfind(path_separator());
    if (separator == std::string::npos) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, path.data(), separator + 1);
    buffer[separator + 1] = '\0';
    return separator + 1;
}

std::size_t program_path(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    std::string path = program_file();
    if (path.empty() || path.size() >= size) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return path.size();
}

}  // namespace platform
