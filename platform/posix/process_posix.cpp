#include "platform/process.h"

#include <unistd.h>

namespace platform {

std::string program_file() {
    std::string path(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n <= 0) return {};
        if (static_cast<std::size_t>(n) < path.size())
            return path.substr(0, static_cast<std::size_t>(n));
        path.resize(path.size() * 2);
    }
}

char path_separator() { return '/'; }

}  // namespace platform
