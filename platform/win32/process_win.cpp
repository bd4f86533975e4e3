#include "platform/process.h"

#include <windows.h>

namespace platform {

// The system cuts a path that does not fit and says so only by filling the
// buffer: a larger buffer is tried until the path fits.
std::string program_file() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return path.substr(0, n);
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

char path_separator() { return '\\'; }

}  // namespace platform
