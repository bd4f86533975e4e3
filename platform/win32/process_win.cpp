#include "platform/process.h"

#include <cstring>
#include <windows.h>

namespace platform {

std::size_t program_directory(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (n == 0) {
        buffer[0] = '\0';
        return 0;
    }
    if (n >= size) n = static_cast<DWORD>(size - 1);  // a full buffer loses its last character
    buffer[n] = '\0';
    char* slash = std::strrchr(buffer, '\\');
    if (!slash) {
        buffer[0] = '\0';
        return 0;
    }
    slash[1] = '\0';
    return static_cast<std::size_t>(slash + 1 - buffer);
}

std::size_t program_path(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (n == 0 || n >= size) {
        if (n >= size) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        buffer[0] = '\0';
        return 0;
    }
    return n;
}

char path_separator() { return '\\'; }

}  // namespace platform
